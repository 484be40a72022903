// The words that name the TLS modes on the command line and in the window.
#include "ftp/ftp_tls_settings.h"

#include <array>

namespace vantrel {

namespace {

struct ModeWord {
    FtpTlsMode mode;
    std::string_view word;
};

constexpr std::array<ModeWord, 3> ModeWords{{
    {FtpTlsMode::Off, "off"},
    {FtpTlsMode::On, "on"},
    {FtpTlsMode::Require, "require"},
}};

} // namespace

std::string_view tlsModeWord(FtpTlsMode mode)
{
    for (const ModeWord& entry : ModeWords) {
        if (entry.mode == mode)
            return entry.word;
    }
    return ModeWords[0].word;
}

bool parseTlsModeWord(std::string_view word, FtpTlsMode& mode)
{
    for (const ModeWord& entry : ModeWords) {
        if (entry.word == word) {
            mode = entry.mode;
            return true;
        }
    }
    return false;
}

} // namespace vantrel
