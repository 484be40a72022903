// The fixed texts of the SMTP server: every reply the receiving session
// sends and every line it and the later mail steps write to the SMTP log.
// Format strings take their values in the order noted beside them.
#pragma once

#include <cstddef>

namespace vantrel::smtp {

// Replies, each sent as one line with CR LF.
constexpr char Greeting[] = "220 Welcome, %s %s ready and waiting."; // maker, product
// Instead of the greeting, to a client address that holds its cap of
// connections already; the connection then closes.
constexpr char TooManyFromAddress[] = "421 Too many connections from your address, closing channel.";
constexpr char CommandUnknown[] = "500 Command Unknown";
constexpr char SayHello[] = "503 Please say hello, don't be awful.";
constexpr char SameHostName[] = "554 You have the same host name has me. Fatal error.";
constexpr char HelloAccepted[] = "250 %s";         // local domain, or the client IP
constexpr char AddressAccepted[] = "250 <%s> OK."; // sender or recipient
constexpr char IncorrectCommand[] = "501 Incorrect command";
constexpr char TooManyRecipients[] = "503 Too many RCPT commands.";
constexpr char NoSuchAccount[] = "550 Account does not exist.";
constexpr char NoRecipientYet[] = "503 Not yet received the RCPT.";
constexpr char DataAlreadyReceived[] = "503 DATA command already received.";
constexpr char SendData[] = "354 Please send the data and end with a <CRLF>.<CRLF>";
constexpr char ReceivedOk[] = "250 Received OK.";
constexpr char Ok[] = "250 OK.";
constexpr char Bye[] = "221 Bye Bye.";
constexpr char UnknownCommand[] = "500 Unknown Command.";
constexpr char FatalError[] = "554 Fatal server error.";
// The message could not be stored (or kept) for lack of room, or for an
// error while it was received: the client keeps it and tries again later.
constexpr char NoRoomForMessage[] = "452 Insufficient system storage, please try again later.";
constexpr char ReceiveError[] = "451 Local error while receiving the message, please try again later.";

// With mail TLS on. EHLO's reply: the first line with the local domain
// (or the client IP), then the extensions, each on a line of its own.
constexpr char ExtendedHelloFirst[] = "250-%s";                    // local domain, or the client IP
constexpr char ExtensionStartTls[] = "250-STARTTLS";               // offered only before TLS
constexpr char ExtensionSize[] = "250-SIZE %lld";                  // the largest message accepted
constexpr char ExtensionLast[] = "250-8BITMIME\r\n250 PIPELINING"; // stored as received; see smtp_session.cpp
constexpr char StartTlsReady[] = "220 Ready to start TLS.";
constexpr char TlsAlreadyActive[] = "503 TLS is already active.";
constexpr char TlsNotAvailable[] = "454 TLS not available due to temporary reason.";
// MAIL with a SIZE= beyond the largest message accepted.
constexpr char MessageTooBig[] = "552 Message size exceeds fixed maximum message size.";
// A relay recipient on a clear connection while relaying needs TLS.
constexpr char RelayNeedsTls[] = "530 Relaying needs TLS, use STARTTLS first.";

// The first line of every stored message:
// HELO host, client IP, local domain (or client IP), maker, product, date.
constexpr char ReceivedLine[] = "Received: from %s [%s] by %s with %s %s; %s\r\n";

// Log lines. The two long ones continue with the recipient lists.
constexpr char LogMailReceived[] = "Mail Received: IP:[%s], Host:[%s], Mail From:[%s], For:["; // IP, HELO, sender
constexpr char LogFailed[] = "***FAILED*** IP:[%s], Host:[%s], Mail From:[%s], For:[";         // IP, HELO, sender
constexpr char LogRefusedPart[] = "], 'Bad' For:[";
constexpr char LogListEnd[] = "]";
constexpr char LogListSeparator[] = ", ";
constexpr char LogMailLoop[] = "***INTERNAL MAIL LOOP DETECTED! CHECK SETTINGS*** IP:[%s], Host:[%s], Mail From:[%s]";
constexpr char LogRelayFailed[] = "***RELAY FAILED*** Host:[%s], Mail From:[%s]"; // relay host, sender
// A relay that ended after QUIT; continues with the recipients the host
// took, then, when it refused some, the refused part and those.
constexpr char LogRelayed[] = "Email Relayed: IP:[%s], Host:[%s], Mail From:[%s], Sent To:["; // IP, HELO, sender
constexpr char LogRelayRefusedPart[] = "], Failed To Send[";
// The relay client's STARTTLS with mail TLS on: relay host, protocol,
// cipher, and whether the system's authorities verified its certificate.
constexpr char LogRelayTls[] = "Relay TLS established: Host:[%s], %s, %s, Verified:[%s]";
constexpr char LogRelayTlsFailed[] = "***RELAY TLS HANDSHAKE FAILED*** Host:[%s]"; // relay host
// A message that could not be copied into a mailbox after it was accepted.
constexpr char LogCopyFailed[] =
    "***COPY FAILED*** IP:[%s], Host:[%s], Mail From:[%s], For:[%s]"; // IP, HELO, sender, user
// A message that has been passed on too often: it goes no further.
constexpr char LogHopLimit[] =
    "***HOP LIMIT REACHED*** IP:[%s], Host:[%s], Mail From:[%s], Received Lines:[%d]"; // IP, HELO, sender, count
// Found at start in a mailbox's folder without an index record.
constexpr char LogMailAdopted[] = "Mail Recovered: File:[%s], For:[%s]";     // file, user
constexpr char LogPartialRemoved[] = "***PARTIAL MAIL REMOVED*** File:[%s]"; // file

constexpr std::size_t ReplyLimit = 2045;
constexpr std::size_t LogLimit = 2047;
constexpr std::size_t RelayLogLimit = 3047;

} // namespace vantrel::smtp
