// The certificate's records of general.dat; see tls_settings.h.
#include "foundation/tls_settings.h"

#include "foundation/settings_store.h"
#include "foundation/tls_certificate.h"

namespace vantrel {

namespace {

// Sets the text record, or removes it for an empty text; true on a change.
bool storeText(SettingsStore& general, const char* key, const std::string& text)
{
    if (text.empty())
        return general.removeKey(key);
    if (general.hasKey(key) && general.getText(key, TlsSettings::MaxPath) == text)
        return false;
    general.setText(key, text);
    return true;
}

} // namespace

void TlsSettings::nameFrom(const SettingsStore& general, TlsCertificate& certificate)
{
    certificate.name(general.getText(KeyCertificate, MaxPath), general.getText(KeyKey, MaxPath));
}

bool TlsSettings::storeInto(const TlsCertificate& certificate, SettingsStore& general)
{
    const bool certificateChanged = storeText(general, KeyCertificate, certificate.certificateFile());
    const bool keyChanged = storeText(general, KeyKey, certificate.keyFile());
    return certificateChanged || keyChanged;
}

bool TlsSettings::loadSettings()
{
    SettingsStore general;
    const bool loaded = general.load(generalPath_);
    nameFrom(general, certificate_);
    return loaded;
}

bool TlsSettings::saveSettings()
{
    SettingsStore general;
    if (general.loadFile(generalPath_) == SettingsLoad::Damaged)
        return false;
    if (!storeInto(certificate_, general))
        return true;
    return general.save(generalPath_);
}

} // namespace vantrel
