// The `tls` task commands: the program's certificate, shown and set through
// the "TLS Certificate" window's logic, so that every check and message is
// the window's own. The private key's file is named, never read out.
#include "foundation/tls_certificate.h"
#include "foundation/tls_certificate_panel.h"
#include "foundation/tls_settings.h"
#include "tools/task_context.h"

#include <ostream>

namespace vantrel {
namespace {

constexpr char SelfSignedWord[] = "self-signed";

TaskResult showCertificate(TlsSettings& settings, TaskContext& context)
{
    TlsCertificatePanel panel(settings.certificate(), context.prompt);
    panel.show();
    const TlsPanelFields& fields = panel.fields();
    context.out << "certificate\t" << (fields.selfSigned ? SelfSignedWord : fields.certificateFile) << '\n'
                << "key\t" << (fields.selfSigned ? SelfSignedWord : fields.keyFile) << '\n';
    if (!fields.fingerprint.empty())
        context.out << "fingerprint\t" << fields.fingerprint << '\n';
    else if (!panel.whyNot().empty())
        context.err << "vantrel-settings: the certificate cannot be loaded: " << panel.whyNot() << '\n';
    return TaskResult::Unchanged;
}

TaskResult setCertificate(TlsSettings& settings, TaskContext& context)
{
    const std::string* certificate = context.args.option("cert");
    const std::string* key = context.args.option("key");
    const bool selfSigned = context.args.option(SelfSignedWord) != nullptr;
    if (selfSigned == (certificate != nullptr || key != nullptr)) {
        context.err << "vantrel-settings: tls set takes --cert FILE and --key FILE, or --self-signed\n";
        return TaskResult::Refused;
    }
    TlsCertificatePanel panel(settings.certificate(), context.prompt);
    panel.show();
    TlsPanelFields& fields = panel.fields();
    fields.selfSigned = selfSigned;
    // One of the two alone replaces that file of the certificate in use.
    if (certificate != nullptr)
        fields.certificateFile = context.absoluteFolder(*certificate);
    if (key != nullptr)
        fields.keyFile = context.absoluteFolder(*key);
    if (!panel.apply() || context.prompt.refused())
        return TaskResult::Refused;
    return TaskResult::Changed;
}

constexpr TaskCommand<TlsSettings> Commands[] = {
    {"tls", "show", 0, "", showCertificate},
    {"tls", "set", 0, "cert key --self-signed", setCertificate},
};

} // namespace

std::span<const TaskCommand<TlsSettings>> tlsTaskCommands()
{
    return Commands;
}

} // namespace vantrel
