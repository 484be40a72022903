// The words and stored numbers that name the mail TLS modes.
#include "email/mail_tls_settings.h"

#include <array>

namespace vantrel {

namespace {

struct ModeWord {
    MailTlsMode mode;
    std::string_view word;
};

constexpr std::array<ModeWord, 3> ModeWords{{
    {MailTlsMode::Off, "off"},
    {MailTlsMode::On, "on"},
    {MailTlsMode::Require, "require"},
}};

} // namespace

std::string_view mailTlsModeWord(MailTlsMode mode)
{
    for (const ModeWord& entry : ModeWords) {
        if (entry.mode == mode)
            return entry.word;
    }
    return ModeWords[0].word;
}

bool parseMailTlsModeWord(std::string_view word, MailTlsMode& mode)
{
    for (const ModeWord& entry : ModeWords) {
        if (entry.word == word) {
            mode = entry.mode;
            return true;
        }
    }
    return false;
}

RelayTls relayTlsOf(const MailTlsSettings& settings)
{
    if (!settings.enabled())
        return RelayTls::Off;
    return settings.relayHostRequiresTls ? RelayTls::Required : RelayTls::Offered;
}

MailTlsMode mailTlsModeOf(std::int32_t stored)
{
    for (const ModeWord& entry : ModeWords) {
        if (static_cast<std::int32_t>(entry.mode) == stored)
            return entry.mode;
    }
    return MailTlsMode::Off;
}

} // namespace vantrel
