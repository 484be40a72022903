// HelpLogic: the texts of the "Help" window and its "Open Site" action,
// which leaves an internet-shortcut file "vtsite.url" in the working
// directory and then asks the desktop to open the product's web page.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace vantrel {

class HelpLogic final {
public:
    static constexpr char ShortcutFile[] = "vtsite.url";
    using PageOpener = std::function<void(std::string_view address)>;

    // The opener is called with the web page's address.
    explicit HelpLogic(PageOpener opener, std::string shortcutPath = ShortcutFile);

    static std::string firstLine();
    static std::string reportLine();
    static std::string webPage();
    static std::string shortcutText();

    // Silent on failure; true when the page was handed to the opener.
    bool openSiteShortcut();

private:
    PageOpener opener_;
    std::string shortcutPath_;
};

} // namespace vantrel
