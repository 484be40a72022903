// The FTP control session: greeting, login dialogue and the command loop.
// The loop never pauses while something is to do: it sleeps in one wait on
// the control socket (and the data socket while a passive connection or a
// transfer block is pending) and the stop event.
#include "ftp/ftp_session.h"

#include "foundation/clock.h"
#include "foundation/login_throttle.h"
#include "foundation/product.h"
#include "foundation/service_log.h"
#include "foundation/text.h"
#include "ftp/ftp_command.h"
#include "ftp/ftp_command_table.h"
#include "ftp/ftp_replies.h"

#include <algorithm>

namespace vantrel {

namespace {

constexpr char GreetingFormat[] = "220 %s (%s by %s).";
constexpr char LoggedInFormat[] = "230- %s\r\n230 User '%s' logged in.";
constexpr char BadCommandLogin[] = "530 Bad command.";
constexpr char BadCommandShort[] = "550 Bad command.";
constexpr char SendUserFirst[] = "530 Please send the USER command first.";
constexpr char SendEmailAsPass[] = "331 Please send your email address as the PASS.";
constexpr char SendPassNow[] = "331 Please send PASS now.";
constexpr char RestartFromUser[] = "530 Bad command, please restart from USER.";
constexpr char BadPassword[] = "530 Bad password, please restart from USER.";
constexpr char TimedOut[] = "421 Control connection time out.";

constexpr char LogLoggedIn[] = "Logged In IP:[%s], User:[%s], Password:[%i characters]";
constexpr char LogAnonymousIn[] = "Logged In IP:[%s], User:[%s], Password:[%s]";
constexpr char LogBadLogin[] = "***BAD LOGIN*** IP:[%s], User:[%s], Password:[%i characters]";
constexpr char LogThrottled[] = "***LOGIN THROTTLED*** IP:[%s], Failed Logins:[%i], Refused For:[%i seconds]";

std::string welcomeOf(const FtpAccountTable& accounts)
{
    char welcome[FtpSession::WelcomeBufferSize];
    accounts.getWelcome(welcome, sizeof welcome);
    return welcome;
}

} // namespace

std::string_view stripTelnetBytes(std::string_view line)
{
    std::size_t skip = 0;
    while (skip < line.size()) {
        const auto byte = static_cast<unsigned char>(line[skip]);
        if (byte != 255 && byte != 244 && byte != 242)
            break;
        ++skip;
    }
    return line.substr(skip);
}

bool startsWithWord(std::string_view line, std::string_view word)
{
    return line.size() >= word.size() && equalsIgnoreCase(line.substr(0, word.size()), word);
}

FtpSession::FtpSession(std::unique_ptr<LineSocket> control, const FtpAccountTable& accounts, ServiceLog& log,
                       LoginThrottle& throttle, const FtpTlsSetup& tls)
    : ServiceSession(std::move(control)), accounts_(accounts), log_(log), throttle_(throttle), tls_(tls)
{
    // ABOR often arrives as urgent data; it must stay part of the line.
    ServiceSession::control().keepUrgentDataInline();
    // The closing reply of a transfer follows its 150 with nothing from
    // the client between them.
    ServiceSession::control().sendPromptly();
    setDataSocket(&data_.socket());
    startSession();
}

FtpSession::~FtpSession()
{
    stopSession();
    setDataSocket(nullptr);
}

bool FtpSession::reply(std::string_view text)
{
    return sendLine(control(), text);
}

bool FtpSession::logLine(std::string_view text)
{
    return log_.appendLine(text);
}

void FtpSession::awaitDataOrControl(WaitFor what, int timeoutMs)
{
    if (control().hasBufferedLine())
        return;
    waitFor({{&data_.socket(), what}, {&control(), WaitFor::Readable}}, timeoutMs);
}

void FtpSession::awaitPassiveConnection(int timeoutMs)
{
    // A control connection whose buffer is full is left unwatched, or its
    // unread input would end every wait at once.
    if (control().inputFull())
        waitFor({{&data_.socket(), WaitFor::Readable}}, timeoutMs);
    else
        waitFor({{&data_.socket(), WaitFor::Readable}, {&control(), WaitFor::Readable}}, timeoutMs);
    (void)control().bufferInput();
}

void FtpSession::closeConnections()
{
    control().shutdownAndClose();
    data_.close();
}

void FtpSession::serve()
{
    // The implicit port speaks TLS from the first byte: the greeting too.
    if (tls_.setup().start == FtpTlsStart::Implicit && !startImplicitTls(*this))
        return;
    const std::string welcome = welcomeOf(accounts_);
    if (reply(formatText(FtpTextLimit, GreetingFormat, welcome.c_str(), ProductName, MakerName))) {
        if (loginPhase())
            commandPhase();
        if (control().isConnected())
            sendShortLine(control(), TimedOut);
    }
    abandonTransfer(transfer_);
    data_.close();
    control().shutdownAndClose();
}

bool FtpSession::loginPhase()
{
    bool expectPass = false;
    char buffer[LineBufferSize];
    while (mayGoOn()) {
        if (nextLine(buffer, sizeof buffer) != NextLine::Line)
            return false;
        std::string_view line(buffer);
        if (line.empty())
            continue;
        // With TLS on, AUTH, PBSZ, PROT and FEAT come before the login;
        // like any line but PASS, they start the login over.
        if (const auto outcome = dispatchSecurityCommand(*this, stripTelnetBytes(line))) {
            if (*outcome == CommandOutcome::EndSession)
                return false;
            expectPass = false;
            continue;
        }
        if (line.size() <= 3) {
            reply(BadCommandLogin);
            continue;
        }
        line = stripTelnetBytes(line);
        if (startsWithWord(line, "quit")) {
            reply(Goodbye);
            control().shutdownAndClose();
            return false;
        }
        if (line.size() <= 5) {
            reply(BadCommandLogin);
            continue;
        }
        if (!expectPass) {
            if (!startsWithWord(line, "user ")) {
                reply(SendUserFirst);
                continue;
            }
            if (refuseClearLogin(*this))
                continue;
            login_.user = lowerAscii(cutText(line.substr(5), FtpLogin::MaxText));
            expectPass = true;
            reply(login_.user == FtpAccountTable::AnonymousUser ? SendEmailAsPass : SendPassNow);
            continue;
        }
        expectPass = false;
        if (!startsWithWord(line, "pass ")) {
            reply(RestartFromUser);
            continue;
        }
        login_.password = cutText(line.substr(5), FtpLogin::MaxText);
        if (tryLogin())
            return true;
    }
    return false;
}

bool FtpSession::tryLogin()
{
    const int passwordLength = static_cast<int>(login_.password.size());
    LoginAttempt attempt = throttle_.attempt(control().peerIp(), tickCount());
    if (attempt.admitted() && accounts_.findLogin(login_)) {
        attempt.succeeded();
        if (login_.user == FtpAccountTable::AnonymousUser)
            logLine(
                formatText(FtpTextLimit, LogAnonymousIn, peerAddress(), login_.user.c_str(), login_.password.c_str()));
        else
            logLine(formatText(FtpTextLimit, LogLoggedIn, peerAddress(), login_.user.c_str(), passwordLength));
        const std::string welcome = welcomeOf(accounts_);
        reply(formatText(FtpTextLimit, LoggedInFormat, welcome.c_str(), login_.user.c_str()));
        return true;
    }
    logLine(formatText(FtpTextLimit, LogBadLogin, peerAddress(), login_.user.c_str(), passwordLength));
    if (attempt.admitted() && attempt.failed(tickCount()))
        logLine(formatText(FtpTextLimit, LogThrottled, peerAddress(), throttle_.limit(),
                           static_cast<int>(LoginThrottle::RefusalMs / 1000)));
    // A refused password costs the client time, which slows guessing.
    pause(BadLoginDelayMs);
    reply(BadPassword);
    return false;
}

void FtpSession::commandPhase()
{
    char buffer[LineBufferSize];
    while (mayGoOn()) {
        if (transfer_.inProgress() && !transfer_.controlLookDue()) {
            transferStep(*this);
            continue;
        }
        if (!transfer_.inProgress() && data_.isListening())
            data_.acceptFrom(control().peerIp());
        if (!control().readLine(buffer, sizeof buffer)) {
            if (control().lastError() != SocketError::NoLineYet)
                return;
            idlePass();
            continue;
        }
        std::string_view line(buffer);
        if (line.empty()) {
            idlePass();
            continue;
        }
        if (line.size() <= 2) {
            reply(BadCommandShort);
            continue;
        }
        line = stripTelnetBytes(line);
        noteActivity();
        if (dispatchCommand(*this, line) == CommandOutcome::EndSession)
            return;
    }
}

void FtpSession::idlePass()
{
    if (transfer_.inProgress()) {
        transferStep(*this);
        return;
    }
    refreshCounters();
    if (data_.isListening())
        awaitDataOrControl(WaitFor::Readable, -1);
    else
        awaitControlInput();
}

} // namespace vantrel
