// The FTP replies that more than one command file sends, and the longest
// text that a reply, a listing line or a log line is formatted into. Replies
// that one file alone sends stay at the top of that file.
#pragma once

#include <cstddef>

namespace vantrel {

// formatText cuts longer texts; a control line holds no more than this.
constexpr std::size_t FtpTextLimit = 2048;

constexpr char NoParameter[] = "501 a parameter is required.";
constexpr char NoFilename[] = "550 No filename given.";
constexpr char NoSuchFile[] = "550 File does not exist.";
constexpr char Goodbye[] = "221 Thanks for visiting.";
// Instead of the greeting, to a client address that holds its cap of
// connections already; the connection then closes.
constexpr char TooManyFromAddress[] = "421 Too many connections from your address, please try later.";

// The data connection of a listing or a transfer.
constexpr char DataFailed[] = "425 Data connection failed.";
constexpr char DataStarted[] = "150 Data connetion established, beginning transfer.";
constexpr char TransferComplete[] = "226 Transfer complete.";
constexpr char TransferLost[] = "426 Transfer incomplete, data connection was lost.";
// A protected data connection that did not resume the control connection's
// TLS session may come from someone else than the client.
constexpr char DataNotResumed[] =
    "425 Data connection refused: it must resume the TLS session of the control connection.";

// USER on a clear control connection while TLS is required.
constexpr char TlsRequired[] = "530 TLS required, use AUTH TLS first.";

} // namespace vantrel
