// TlsCertificatePanel: the logic of the "TLS Certificate" window, which
// names the program's one certificate: a PEM certificate chain file and
// its PEM private key file, or the self-signed pair the program makes in
// its "tls" folder. Applying loads the certificate at once, so that a file
// that cannot be used is refused with its reason and nothing changes; the
// next connection uses a certificate that was applied. The window, the
// `tls` task command and the tests all drive this class.
#pragma once

#include "foundation/service_control.h"

#include <string>

namespace vantrel {

class TlsCertificate;

struct TlsPanelFields {
    std::string certificateFile;
    std::string keyFile;
    bool selfSigned = true;
    // Shown only: the SHA-256 fingerprint of the certificate, or empty
    // when there is none to show.
    std::string fingerprint;
};

class TlsCertificatePanel final {
public:
    static constexpr char WindowTitle[] = "TLS Certificate";
    static constexpr char TitleError[] = "Certificate Error";
    static constexpr char TextNotLoaded[] = "The certificate could not be loaded: %s";
    // The title the services' settings windows give that message, when
    // switching TLS on finds no certificate that loads.
    static constexpr char ServiceTlsErrorTitle[] = "TLS Error";
    static constexpr char TitleWarning[] = "Warning";
    static constexpr char TextKeyReadable[] =
        "The key file %s can be read by every user of this computer; let only its owner read it (chmod 600).";

    TlsCertificatePanel(TlsCertificate& certificate, MessagePrompt& prompt) : certificate_(certificate), prompt_(prompt)
    {
    }

    // The fields from the certificate in use; the fingerprint is read from
    // the files when the certificate has not been loaded yet (nothing is
    // made by a look). `whyNot` tells why the named files cannot be loaded.
    void show();
    TlsPanelFields& fields() { return fields_; }
    const std::string& whyNot() const { return whyNot_; }

    // Loads the certificate the fields name (making the self-signed pair
    // when that is chosen and it is missing) and makes it the program's.
    // False, after the message "The certificate could not be loaded: ...",
    // with nothing changed when it cannot be loaded.
    bool apply();

    // "The certificate could not be loaded: ..." under `title`: this
    // window's own, or ServiceTlsErrorTitle from a service's settings window
    // that switches TLS on.
    static void showNotLoaded(MessagePrompt& prompt, const std::string& whyNot, const char* title);

private:
    TlsCertificate& certificate_;
    MessagePrompt& prompt_;
    TlsPanelFields fields_;
    std::string whyNot_;
};

} // namespace vantrel
