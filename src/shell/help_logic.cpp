// The help window's texts and the site shortcut: the file is replaced whole
// on every use, and the page is opened only when every byte was written.
#include "shell/help_logic.h"

#include "foundation/file_handle.h"
#include "foundation/file_system.h"
#include "foundation/product.h"
#include "foundation/text.h"

#include <utility>

namespace vantrel {

namespace {

constexpr char FirstLineFormat[] = "%s - %s";
constexpr char ReportIntro[] = "Bug reports, comments or suggestions to...";
constexpr char ShortcutHead[] = "[InternetShortcut]\r\nURL=";
constexpr char ShortcutTail[] = "\r\n";

} // namespace

HelpLogic::HelpLogic(PageOpener opener, std::string shortcutPath)
    : opener_(std::move(opener)), shortcutPath_(std::move(shortcutPath))
{
}

std::string HelpLogic::firstLine()
{
    return formatText(255, FirstLineFormat, ProductName, MakerName);
}

std::string HelpLogic::reportLine()
{
    return std::string(ReportIntro) + "\n" + MakerEmail;
}

std::string HelpLogic::webPage()
{
    return MakerWebPage;
}

std::string HelpLogic::shortcutText()
{
    return std::string(ShortcutHead) + MakerWebPage + ShortcutTail;
}

bool HelpLogic::openSiteShortcut()
{
    // Writing opens an existing file at its end, so an old file that cannot
    // be removed would be appended to.
    if (pathExists(shortcutPath_) && !deleteFile(shortcutPath_))
        return false;
    const std::string text = shortcutText();
    {
        FileHandle file;
        if (!file.open(shortcutPath_, FileMode::Write, IfMissing::Create))
            return false;
        if (!file.writeAll(text.data(), text.size()))
            return false;
    }
    if (opener_)
        opener_(MakerWebPage);
    return true;
}

} // namespace vantrel
