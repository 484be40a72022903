// TlsMode: whether a service offers TLS on its clear-text port (AUTH TLS,
// STARTTLS, STLS) and whether it requires it before a login. Each service
// stores it in its settings file by these numbers; the task commands and
// the windows name it by these words.
#pragma once

#include <cstdint>
#include <string_view>

namespace vantrel {

enum class TlsMode : int {
    Off = 0,
    On = 1,
    Require = 2
};

// "off", "on", "require".
std::string_view tlsModeWord(TlsMode mode);
// False for any other word.
[[nodiscard]] bool parseTlsModeWord(std::string_view word, TlsMode& mode);
// The mode a stored number names; anything unknown is Off.
TlsMode tlsModeOf(std::int32_t stored);

} // namespace vantrel
