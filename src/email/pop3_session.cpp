// The POP3 session's life: greeting, the authorization dialogue that ends
// with the mailbox's login lock held, the transaction phase, and the
// hand-back. Deletions marked during the transaction phase are kept only
// when QUIT ended it; any other end puts them back before the hand-back,
// which always releases the lock. QUIT is answered only once the hand-back
// has removed the messages and freed the mailbox, so that "+OK" promises
// what is on disk and the client may log in again at once.
#include "email/pop3_session.h"

#include "email/mail_directory.h"
#include "email/mail_tls.h"
#include "email/mailbox_transaction.h"
#include "email/pop3_command.h"
#include "email/pop3_commands.h"
#include "email/pop3_replies.h"
#include "email/pop3_tls.h"
#include "foundation/clock.h"
#include "foundation/login_throttle.h"
#include "foundation/product.h"
#include "foundation/service_log.h"
#include "foundation/text.h"

#include <algorithm>
#include <string>

namespace vantrel {

namespace {

constexpr std::size_t ReplyLimit = ServiceSession::LongestLineSize;
constexpr std::size_t LogLimit = 1024;

} // namespace

Pop3Session::Pop3Session(std::unique_ptr<LineSocket> control, MailDirectory& directory, ServiceLog& log,
                         LoginThrottle& throttle, const MailTlsSetup& tls)
    : ServiceSession(std::move(control)), directory_(directory), log_(log), throttle_(throttle), tls_(tls)
{
    startSession();
}

Pop3Session::~Pop3Session()
{
    stopSession();
}

bool Pop3Session::reply(std::string_view text)
{
    return sendLine(control(), text);
}

bool Pop3Session::sendBytes(std::string_view bytes)
{
    return sendBuffer(control(), bytes.data(), bytes.size());
}

void Pop3Session::closeConnection()
{
    control().shutdownAndClose();
}

void Pop3Session::serve()
{
    // The implicit port speaks TLS from the first byte: the greeting too.
    if (tls_.implicit && !startImplicitMailTls(*this, log_, tls_))
        return;
    if (greet()) {
        std::unique_ptr<MailboxTransaction> transaction = authorize();
        if (transaction != nullptr) {
            const bool quit = transactionPhase(*transaction);
            if (!quit)
                transaction->undoDeletions();
            const CommitOutcome outcome = directory_.commitAndUnlock(std::move(transaction));
            if (quit)
                reply(outcome == CommitOutcome::DeletionFailed ? pop3::DeletionsFailed : pop3::Goodbye);
        }
    }
    control().shutdownAndClose();
}

bool Pop3Session::greet()
{
    std::string host = directory_.localHostName();
    host.resize(std::min(host.size(), HostNameSize - 1));
    if (host.empty())
        return reply(formatText(ReplyLimit, pop3::GreetingNoHostFormat, ProductName, MakerName));
    return reply(formatText(ReplyLimit, pop3::GreetingFormat, host.c_str(), ProductName, MakerName));
}

std::unique_ptr<MailboxTransaction> Pop3Session::authorize()
{
    bool expectPass = false;
    std::string user;
    char buffer[pop3::LoginLineSize];
    while (nextLine(buffer, sizeof buffer) == NextLine::Line) {
        // A zero byte ends the line, as it ends any text.
        const std::string_view line(buffer);
        if (line.empty())
            continue;
        if (tls_.settings.enabled()) {
            switch (pop3::dispatchTlsLine(*this, line, pop3::Phase::Authorization)) {
            case pop3::TlsLine::NotTls:
                break;
            case pop3::TlsLine::Answered:
                continue;
            case pop3::TlsLine::Secured:
                // Nothing said in clear counts once TLS is on.
                expectPass = false;
                user.clear();
                continue;
            case pop3::TlsLine::Lost:
                return nullptr;
            }
        }
        const pop3::LoginStep step = pop3::classifyLoginLine(line);
        if ((step == pop3::LoginStep::User || step == pop3::LoginStep::Pass) && pop3::refuseClearLogin(*this)) {
            expectPass = false;
            continue;
        }
        switch (step) {
        case pop3::LoginStep::BadCommand:
            reply(pop3::BadCommand);
            continue;
        case pop3::LoginStep::Quit:
            reply(pop3::Goodbye);
            closeConnection();
            return nullptr;
        case pop3::LoginStep::User:
            if (expectPass)
                break;
            user = lowerAscii(pop3::loginArgument(line));
            expectPass = true;
            reply(pop3::SendPassNow);
            continue;
        case pop3::LoginStep::Pass:
            if (!expectPass)
                break;
            expectPass = false;
            if (auto transaction = tryLogin(user, pop3::loginArgument(line)))
                return transaction;
            continue;
        case pop3::LoginStep::Other:
            break;
        }
        if (expectPass) {
            expectPass = false;
            reply(pop3::RestartFromUser);
        } else {
            reply(pop3::SendUserFirst);
        }
    }
    return nullptr;
}

std::unique_ptr<MailboxTransaction> Pop3Session::tryLogin(std::string_view user, std::string_view password)
{
    const std::string userText(user);
    const int passwordLength = static_cast<int>(password.size());
    const char* peer = control().peerAddress();
    // A throttled address has no password checked: every login fails.
    LoginAttempt attempt = throttle_.attempt(control().peerIp(), tickCount());
    std::unique_ptr<MailboxTransaction> transaction =
        attempt.admitted() ? directory_.openMailboxForLogin(user, password) : nullptr;
    if (transaction != nullptr) {
        attempt.succeeded();
        log_.appendLine(formatText(LogLimit, pop3::LogLoggedIn, peer, userText.c_str(), passwordLength));
        reply(formatText(ReplyLimit, pop3::LoggedInFormat, userText.c_str()));
        return transaction;
    }
    log_.appendLine(formatText(LogLimit, pop3::LogBadLogin, peer, userText.c_str(), passwordLength));
    // The right password for a mailbox held by another session.
    if (attempt.admitted() && directory_.checkLogin(user, password)) {
        attempt.succeeded();
        reply(pop3::MailboxBusy);
        return nullptr;
    }
    if (attempt.admitted() && attempt.failed(tickCount()))
        log_.appendLine(formatText(LogLimit, pop3::LogThrottled, peer, throttle_.limit(),
                                   static_cast<int>(LoginThrottle::RefusalMs / 1000)));
    if (!pause(BadLoginPauseMs))
        reply(pop3::BadLogin);
    return nullptr;
}

bool Pop3Session::transactionPhase(MailboxTransaction& transaction)
{
    char buffer[pop3::CommandLineSize];
    while (nextLine(buffer, sizeof buffer) == NextLine::Line) {
        const std::string_view line(buffer);
        if (line.empty())
            continue;
        if (line.size() <= 3) {
            reply(pop3::BadCommand);
            continue;
        }
        noteActivity();
        if (tls_.settings.enabled()) {
            const pop3::TlsLine answer = pop3::dispatchTlsLine(*this, line, pop3::Phase::Transaction);
            if (answer == pop3::TlsLine::Lost)
                return false;
            if (answer != pop3::TlsLine::NotTls)
                continue;
        }
        switch (pop3::runCommand(*this, transaction, pop3::classifyCommand(line), line)) {
        case pop3::Outcome::Continue:
            continue;
        case pop3::Outcome::Quit:
            return true;
        case pop3::Outcome::Lost:
            return false;
        }
    }
    return false;
}

} // namespace vantrel
