// The file transfers of an FTP session: REST, RETR, STOR, APPE and ABOR,
// and the engine that moves one bounded piece per pass of the command
// loop, so that ABOR and STAT are served between pieces.
#pragma once

#include "foundation/file_handle.h"
#include "foundation/kernel_pipe.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel {

class FtpSession;
struct FtpCommand;
enum class CommandOutcome;

enum class TransferDirection {
    Download,
    Upload
};

struct FtpTransfer {
    // A download moves at most this much per pass straight from the file
    // to the socket; an upload receives at most this much per pass and
    // moves it on to the file, so a session's memory stays bounded whatever
    // the file's size.
    static constexpr std::size_t PieceSize = 128 * 1024;
    // The command loop looks at the control connection once in this many
    // pieces, and at once after any wait: ABOR and STAT come at most
    // 256 KiB of transfer late (well under a millisecond on a fast link),
    // while a piece costs one system call (two for an upload: in and out
    // of the pipe).
    static constexpr unsigned BlocksPerControlLook = 2;

    FileHandle file; // a transfer is in progress exactly while it is open
    std::string path;
    TransferDirection direction = TransferDirection::Download;
    std::uint64_t restartOffset = 0;
    bool abortRequested = false;
    // Download: the offset in the file of the next byte to send.
    std::uint64_t position = 0;
    // Upload: the pipe from the data socket to the file, open only while
    // an upload runs, so idle sessions hold nothing.
    KernelPipe pipe;
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
