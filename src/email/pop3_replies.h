// The fixed texts of the POP3 server: every reply line (sent with CR LF
// added), the message endings written around retrieved mail, and the
// lines of the POP3 log. Formats take the message number exactly as the
// client gave it.
#pragma once

namespace vantrel::pop3 {

// Greeting: local domain, product, maker; without a local domain the
// shorter form.
constexpr char GreetingFormat[] = "+OK Welcome to %s, with %s by %s";
constexpr char GreetingNoHostFormat[] = "+OK Welcome, with %s by %s";
// Instead of the greeting, to a client address that holds its cap of
// connections already; the connection then closes.
constexpr char TooManyFromAddress[] = "-ERR Too many connections from your address, please try later.";

// Both phases.
constexpr char BadCommand[] = "-ERR Bad Command";
constexpr char Goodbye[] = "+OK Thanks for visiting";
// QUIT after DELE when the mailbox could not be written without the deleted
// messages: every message stays.
constexpr char DeletionsFailed[] = "-ERR The deleted messages could not be removed, please try later.";

// Authorization phase.
constexpr char SendPassNow[] = "+OK Please send PASS now";
constexpr char SendUserFirst[] = "-ERR Please send the USER command first";
constexpr char LoggedInFormat[] = "+OK Welcome %s";
constexpr char MailboxBusy[] = "-ERR Mail box is busy, please try later.";
constexpr char BadLogin[] = "-ERR Incorrect password or username, please restart from USER.";
constexpr char RestartFromUser[] = "-ERR Bad Command, please send the USER command";

// Transaction phase.
constexpr char NoProblem[] = "+OK No problem";
constexpr char NoSuchEmail[] = "-ERR No such email";
constexpr char IsDeletedFormat[] = "-ERR message %d is deleted";
constexpr char ListDeletedFormat[] = "-ERR %d message is deleted";
constexpr char AlreadyDeletedFormat[] = "-ERR message %d already deleted";
constexpr char DeletedFormat[] = "+OK message %d deleted";
constexpr char ServerError[] = "-ERR Server error";
constexpr char OctetsFormat[] = "+OK %lld octets";
constexpr char TopFormat[] = "+OK The header and %d lines being sent.";
constexpr char UidlAllFormat[] = "+OK %d messages";
constexpr char UidlLineFormat[] = "%d %s";
constexpr char UidlOneFormat[] = "+OK %d %s";
constexpr char Undeleted[] = "+OK All deleted messages are undeleted";
constexpr char StatFormat[] = "+OK %d %lld";
constexpr char ListAllFormat[] = "+OK %d messages (%lld octets)";
constexpr char ListLineFormat[] = "%d %lld";
constexpr char ListOneFormat[] = "+OK %d %lld";
constexpr char ListEnd[] = ".";
constexpr char Help[] = "+OK Commands accepted: USER, PASS, LIST, TOP, UIDL, STAT, RSET, DELE, HELP, NOOP and QUIT.";
constexpr char NotUnderstood[] = "-ERR Command not understood.";

// With mail TLS on. CAPA's list: the reply line, then one capability per
// line (STLS only before TLS and before login), then ".".
constexpr char CapabilitiesFollow[] = "+OK Capability list follows";
constexpr char Capabilities[] = "USER\r\nTOP\r\nUIDL";
constexpr char CapabilityStls[] = "STLS";
constexpr char StlsReady[] = "+OK Begin TLS negotiation";
constexpr char TlsAlreadyActive[] = "-ERR TLS is already active.";
constexpr char StlsAfterLogin[] = "-ERR STLS is only allowed before login.";
constexpr char TlsNotAvailable[] = "-ERR TLS is not available now, please try later.";
// USER or PASS in clear while TLS is required for logins.
constexpr char TlsRequired[] = "-ERR TLS is required for login, please send STLS first.";

// Endings of a retrieved message (raw bytes, no CR LF added).
constexpr char EndMark[] = "\r\n.\r\n";
constexpr char DotLineEnd[] = ".\r\n";
constexpr char EmptyHeadEnd[] = "\r\n\r\n.\r\n";
constexpr char LineEnd[] = "\r\n";

// Log lines: peer address, user, length of the password (never the
// password itself).
constexpr char LogLoggedIn[] = "Logged In IP:[%s], User:[%s], Password[%i characters]";
constexpr char LogBadLogin[] = "***BAD LOGIN*** IP:[%s], User:[%s], Password[%i characters]";
// Once, when an address's failed logins reach the limit: the address, the
// limit and how long its logins are then refused.
constexpr char LogThrottled[] = "***LOGIN THROTTLED*** IP:[%s], Failed Logins[%i], Refused For[%i seconds]";

} // namespace vantrel::pop3
