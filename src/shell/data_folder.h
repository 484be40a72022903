// The data folder named by --data-dir: made with its missing parents, then
// made the working directory, where every settings file, account, mail
// and log of the program lives.
#pragma once

#include <string>

namespace vantrel {

// False, with errno set, when a folder cannot be made or entered.
[[nodiscard]] bool enterDataFolder(const std::string& path);

} // namespace vantrel
