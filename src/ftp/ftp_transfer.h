// The file transfers of an FTP session: REST, RETR, STOR, APPE and ABOR,
// and the engine that moves one 1024-byte block per pass of the command
// loop, so that ABOR and STAT are served between blocks.
#pragma once

#include "foundation/file_handle.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vantrel {

class FtpSession;
struct FtpCommand;
enum class CommandOutcome;

enum class TransferDirection { Download, Upload };

struct FtpTransfer {
    static constexpr std::size_t BlockSize = 1024;
    // The file is read ahead and written behind in this size, so that a
    // block costs one send or receive and not also a file access.
    static constexpr std::size_t BufferSize = 64 * 1024;
    // The command loop looks at the control connection once in this many
    // blocks, and at once after any wait: ABOR and STAT still come between
    // blocks, at most 16 KiB late, while a block costs little more than
    // its one send or receive.
    static constexpr unsigned BlocksPerControlLook = 16;

    FileHandle file;  // a transfer is in progress exactly while it is open
    std::string path;
    TransferDirection direction = TransferDirection::Download;
    std::uint64_t restartOffset = 0;
    bool abortRequested = false;
    // Held only while a transfer runs, so idle sessions stay small.
    std::unique_ptr<char[]> buffer;
    // Download: bytes read ahead and the next one to send.
    // Upload: bytes received and not yet written (position unused).
    std::size_t bufferLength = 0;
    std::size_t bufferPosition = 0;
    unsigned blocksSinceLook = 0;

    bool inProgress() const { return file.isOpen(); }
    // Counts one pass of the command loop; true when it must read the
    // control connection first.
    bool controlLookDue()
    {
        if (++blocksSinceLook < BlocksPerControlLook)
            return false;
        blocksSinceLook = 0;
        return true;
    }
    void lookAtControlNext() { blocksSinceLook = BlocksPerControlLook; }
};

// One step of the transfer in progress; called whenever no command waits.
void transferStep(FtpSession& session);
// Ends a transfer that the end of the session cuts short, without reply or
// log line; what an upload has received still reaches the file.
void abandonTransfer(FtpTransfer& transfer);

CommandOutcome handleRest(FtpSession& session, const FtpCommand& command);
CommandOutcome handleRetr(FtpSession& session, const FtpCommand& command);
CommandOutcome handleStor(FtpSession& session, const FtpCommand& command);
CommandOutcome handleAppe(FtpSession& session, const FtpCommand& command);
CommandOutcome handleAbor(FtpSession& session, const FtpCommand& command);

// Reads REST's "%u"-style number as a 64-bit offset; false when none is there.
[[nodiscard]] bool parseRestartOffset(std::string_view argument, std::uint64_t& offset);

// Connects the data socket for a transfer or listing: an existing
// connection is used, a PORT address is connected to, and a passive
// listener waits up to a minute for the client's own connection.
[[nodiscard]] bool openDataConnection(FtpSession& session);

} // namespace vantrel
