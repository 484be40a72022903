// FtpSession: one FTP control connection. Its thread greets the client,
// runs the login dialogue against the account table and then the command
// phase, in which command lines and the blocks of a running transfer take
// turns. The command handlers work on the session through the small
// interface below.
#pragma once

#include "foundation/service_session.h"
#include "ftp/ftp_account_table.h"
#include "ftp/ftp_data_channel.h"
#include "ftp/ftp_tls.h"
#include "ftp/ftp_transfer.h"

#include <memory>
#include <string>
#include <string_view>

namespace vantrel {

class LoginThrottle;
class ServiceLog;

// The session's place in the account's folder tree and its pending rename.
struct FtpWorkingState {
    std::string currentDirectory = "/";
    std::string renameSource;   // full path, for the log; empty when none
    std::string renameRelative; // the same below the account folder
    bool renameSourceIsFile = true;
};

class FtpSession final : public ServiceSession {
public:
    static constexpr std::size_t LineBufferSize = 2048;
    static constexpr std::size_t WelcomeBufferSize = 1024;
    static constexpr int BadLoginDelayMs = 5000;

    FtpSession(std::unique_ptr<LineSocket> control, const FtpAccountTable& accounts, ServiceLog& log,
               LoginThrottle& throttle, const FtpTlsSetup& tls = {});
    ~FtpSession() override;

    // --- for the command handlers ---
    bool reply(std::string_view text);
    bool logLine(std::string_view text);
    const FtpLogin& login() const { return login_; }
    bool hasRight(AccessRights right) const { return hasRights(login_.rights, right); }
    const char* peerAddress() { return control().peerAddress(); }
    FtpWorkingState& work() { return work_; }
    FtpDataChannel& data() { return data_; }
    FtpTransfer& transfer() { return transfer_; }
    FtpTlsState& tls() { return tls_; }
    // Neither stopped nor disconnected.
    bool mayGoOn() { return !stopRequested() && control().isConnected(); }
    // Waits until the data socket is ready as asked or a command line may
    // have arrived (or a stop, or the time-out).
    void awaitDataOrControl(WaitFor what, int timeoutMs);
    // Waits for a client to connect to the passive data socket (or a stop,
    // or the time-out) while watching the control connection: what arrives
    // there is kept for the command loop, and a client that hangs up ends
    // the wait at once (mayGoOn() is then false).
    void awaitPassiveConnection(int timeoutMs);
    // Ends the conversation after QUIT.
    void closeConnections();
    // Closes the data connection after the client has closed its side
    // (bounded as lingeringClose is).
    void lingerOnData() { lingeringClose(data_.socket()); }

protected:
    void serve() override;

private:
    bool loginPhase();
    // Checks USER and PASS against the accounts unless the client's
    // address is throttled; a failure is logged and costs its pause.
    bool tryLogin();
    void commandPhase();
    // A pass of the command loop without a command line.
    void idlePass();

    const FtpAccountTable& accounts_;
    ServiceLog& log_;
    LoginThrottle& throttle_;
    FtpLogin login_;
    FtpWorkingState work_;
    FtpDataChannel data_;
    FtpTransfer transfer_;
    FtpTlsState tls_;
};

// Removes the Telnet interrupt and data-mark bytes (255, 244, 242) that
// clients send ahead of ABOR.
std::string_view stripTelnetBytes(std::string_view line);
// Compares the start of the line with a command word, ignoring case.
bool startsWithWord(std::string_view line, std::string_view word);

} // namespace vantrel
