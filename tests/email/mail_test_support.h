// Shared pieces of the mail store tests: a fresh working folder with its
// "email" and "logs" folders, the settings-file layout written out byte by
// byte, and small helpers to make, deliver and list messages.
#pragma once

#include "../foundation/scratch_folder.h"

#include "email/mail_directory.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vantrel::testing {

// The test process works in a scratch folder, as the server works in its
// data folder; the previous working folder comes back afterwards.
class MailFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(scratch_.path());
        std::filesystem::create_directory("email");
        std::filesystem::create_directory("logs");
    }
    void TearDown() override { std::filesystem::current_path(previous_); }

    const std::string& folder() const { return scratch_.path(); }

private:
    ScratchFolder scratch_;
    std::filesystem::path previous_;
};

// The settings-file layout, spelled out here and not taken from the code
// under test.
inline std::string le32(std::uint32_t value)
{
    std::string out;
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
    return out;
}

inline std::string record(const std::string& name, const std::string& value)
{
    std::string out = name;
    out.resize(300, '\0');
    return out + le32(static_cast<std::uint32_t>(value.size())) + value;
}

inline std::string settingsFile(int count, const std::string& records)
{
    return le32(3) + le32(count) + records;
}

inline std::string zeroEnded(const std::string& text)
{
    return text + std::string(1, '\0');
}

// A 101-byte value: the text, its zero and zero filler.
inline std::string fixed101(const std::string& text)
{
    return text + std::string(101 - text.size(), '\0');
}

// Writes a hand-made "emailaccounts.dat" naming the users, and an empty
// "emailmapper.dat", so that the directory's own files load.
inline void writeAccountTable(const std::vector<std::string>& users)
{
    std::string records;
    for (const std::string& user : users)
        records += record(user, std::string(1, '\0'));
    writeBytes("emailaccounts.dat", settingsFile(static_cast<int>(users.size()), records));
    writeBytes("emailmapper.dat", settingsFile(0, ""));
}

// A path as the system writes it ("email\\0@ann_e.dat"), on disk.
inline std::string diskPath(std::string path)
{
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

// Names in the folder, sorted.
inline std::vector<std::string> folderNames(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Writes a message to a file outside the mailbox and delivers it to the
// address as an SMTP session does; returns the id it was given.
inline std::string deliver(MailDirectory& directory, const std::string& address, const std::string& bytes,
                           CommitOutcome expected = CommitOutcome::Applied)
{
    static int made = 0;
    const std::string source = "message-" + std::to_string(made++) + ".eml";
    writeBytes(source, bytes);
    auto transaction = directory.openMailboxForAddress(address);
    EXPECT_NE(transaction, nullptr) << address;
    if (!transaction)
        return {};
    const std::string id = directory.newMessageId();
    transaction->addMessage(source, id, bytes.size());
    EXPECT_EQ(directory.commitDelivery(std::move(transaction)), expected);
    std::filesystem::remove(source);
    return id;
}

// The contents of every listed slot of a fresh login, in slot order.
inline std::vector<std::string> listedMessages(MailDirectory& directory, const std::string& user,
                                               const std::string& password)
{
    std::vector<std::string> messages;
    auto transaction = directory.openMailboxForLogin(user, password);
    EXPECT_NE(transaction, nullptr) << user;
    if (!transaction)
        return messages;
    for (int i = 0; i < transaction->messageSlotCount(); ++i)
        messages.push_back(readBytes(diskPath(transaction->messagePath(i))));
    directory.commitAndUnlock(std::move(transaction));
    return messages;
}

inline std::string messageText(int n)
{
    return "Received: test\r\nSubject: " + std::to_string(n) + "\r\n\r\nbody " + std::to_string(n) + "\r\n.\r\n";
}

} // namespace vantrel::testing
