// ServiceKind: the three services of the main window, in the order in which
// the window loads, starts, refreshes and saves them.
#pragma once

namespace vantrel {

enum class ServiceKind {
    Http = 0,
    Email = 1,
    Ftp = 2
};

constexpr ServiceKind AllServiceKinds[] = {ServiceKind::Http, ServiceKind::Email, ServiceKind::Ftp};

} // namespace vantrel
