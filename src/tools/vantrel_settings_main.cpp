// vantrel-settings: prints and edits one settings file of Vantrel Server.
#include "tools/settings_tool.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    vantrel::SettingsTool tool(std::cout, std::cerr);
    return tool.run(args);
}
