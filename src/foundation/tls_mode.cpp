// The words and stored numbers that name the TLS modes.
#include "foundation/tls_mode.h"

#include <array>

namespace vantrel {

namespace {

struct ModeWord {
    TlsMode mode;
    std::string_view word;
};

constexpr std::array<ModeWord, 3> ModeWords{{
    {TlsMode::Off, "off"},
    {TlsMode::On, "on"},
    {TlsMode::Require, "require"},
}};

} // namespace

std::string_view tlsModeWord(TlsMode mode)
{
    for (const ModeWord& entry : ModeWords) {
        if (entry.mode == mode)
            return entry.word;
    }
    return ModeWords[0].word;
}

bool parseTlsModeWord(std::string_view word, TlsMode& mode)
{
    for (const ModeWord& entry : ModeWords) {
        if (entry.word == word) {
            mode = entry.mode;
            return true;
        }
    }
    return false;
}

TlsMode tlsModeOf(std::int32_t stored)
{
    for (const ModeWord& entry : ModeWords) {
        if (static_cast<std::int32_t>(entry.mode) == stored)
            return entry.mode;
    }
    return TlsMode::Off;
}

} // namespace vantrel
