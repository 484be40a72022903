// The "TLS Certificate" window's fields, checks and messages.
#include "foundation/tls_certificate_panel.h"

#include "foundation/text.h"
#include "foundation/tls_certificate.h"

#include <sys/stat.h>

namespace vantrel {

namespace {

// Room for the texts around a reason or a path of the longest kind.
constexpr std::size_t MessageLimit = 8191;

bool readableByOthers(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && (info.st_mode & S_IROTH) != 0;
}

} // namespace

void TlsCertificatePanel::show()
{
    fields_.certificateFile = certificate_.certificateFile();
    fields_.keyFile = certificate_.keyFile();
    fields_.selfSigned = fields_.certificateFile.empty() && fields_.keyFile.empty();
    fields_.fingerprint = certificate_.inspect(whyNot_);
}

bool TlsCertificatePanel::apply()
{
    const std::string certificateFile = fields_.selfSigned ? std::string() : fields_.certificateFile;
    const std::string keyFile = fields_.selfSigned ? std::string() : fields_.keyFile;
    std::string whyNot;
    if (!certificate_.use(certificateFile, keyFile, whyNot)) {
        showNotLoaded(prompt_, whyNot, TitleError);
        return false;
    }
    if (!keyFile.empty() && readableByOthers(keyFile))
        prompt_.show(formatText(MessageLimit, TextKeyReadable, keyFile.c_str()), TitleWarning, PromptButtons::Ok,
                     PromptIcon::Warning);
    show();
    return true;
}

void TlsCertificatePanel::showNotLoaded(MessagePrompt& prompt, const std::string& whyNot, const char* title)
{
    prompt.show(formatText(MessageLimit, TextNotLoaded, whyNot.c_str()), title, PromptButtons::Ok, PromptIcon::Error);
}

} // namespace vantrel
