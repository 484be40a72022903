// TLS in an FTP session: the security commands AUTH, PBSZ, PROT, CCC and
// FEAT, the handshake of the implicit port, and the protection of data
// connections. With TLS off none of this answers anything: the commands
// get the replies that unknown commands have always had.
#pragma once

#include "foundation/tls_context.h"
#include "ftp/ftp_command.h"
#include "ftp/ftp_tls_settings.h"

#include <memory>
#include <optional>
#include <string_view>

namespace vantrel {

class FtpSession;

// What one session knows of TLS: its settings, the scope that ties its data
// connections' sessions to its control connection's, and what the client
// asked for with PBSZ and PROT.
class FtpTlsState final {
public:
    explicit FtpTlsState(const FtpTlsSetup& setup);

    const FtpTlsSetup& setup() const { return setup_; }
    bool enabled() const { return setup_.settings.enabled(); }
    const TlsScope& scope() const { return scope_; }
    // The context of the control connection's handshake; the data
    // connections use the same one, whose session cache they resume from.
    const std::shared_ptr<const TlsContext>& context() const { return context_; }
    bool protectData() const { return protectData_; }
    bool bufferSizeSet() const { return bufferSizeSet_; }

    // The control connection has finished its handshake with `context`.
    // An explicit start begins without data protection (the client sends
    // PBSZ and PROT); the implicit port protects data from the start.
    void secured(std::shared_ptr<const TlsContext> context);
    void setBufferSize() { bufferSizeSet_ = true; }
    void setProtectData(bool on) { protectData_ = on; }

private:
    FtpTlsSetup setup_;
    TlsScope scope_;
    std::shared_ptr<const TlsContext> context_;
    bool bufferSizeSet_ = false;
    bool protectData_ = false;
};

// The implicit port: the handshake before the greeting. False when the
// client did not complete it (the connection is then closed).
[[nodiscard]] bool startImplicitTls(FtpSession& session);

// Handles the line when it is a security command and TLS is on, in the
// login phase and the command phase alike; nothing otherwise.
std::optional<CommandOutcome> dispatchSecurityCommand(FtpSession& session, std::string_view line);

// With TLS required, USER on a clear control connection is refused: true
// once the refusal has been sent.
bool refuseClearLogin(FtpSession& session);

// How the data connection of a transfer or listing came out.
enum class DataOpen {
    Open,
    Failed,     // no connection, or its TLS handshake failed
    NotResumed, // a TLS connection that did not resume the control connection's session
};

// Under PROT P, the server side handshake on the just connected data
// socket, and the check that it resumed the control connection's session
// (unless any data connection is accepted). A refusal is logged here; the
// data socket is then closed.
[[nodiscard]] DataOpen secureDataConnection(FtpSession& session);

// The 425 reply for a data connection that did not open.
std::string_view dataRefusal(DataOpen outcome);

} // namespace vantrel
