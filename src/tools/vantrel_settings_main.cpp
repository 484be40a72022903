// vantrel-settings: prints and edits one settings file of Vantrel Server.
#include "foundation/file_system.h"
#include "tools/settings_tool.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    // The server's lock lives in $TMPDIR; a relative one means the folder
    // the tool was started in, also after it has entered --data-dir.
    (void)vantrel::anchorTempFolder();
    std::vector<std::string> args(argv + 1, argv + argc);
    vantrel::SettingsTool tool(std::cout, std::cerr);
    return tool.run(args);
}
