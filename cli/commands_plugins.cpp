// plugins: describe every plugin of the folder, usable or not.
#include <iostream>

#include "command_set.h"
#include "commands.h"
#include "json_output.h"
#include "output.h"
#include "plugin_folder.h"

namespace tamrin::cli {

int runPlugins(const PluginsOptions& options)
{
    const auto files = installedPluginFiles();
    if (!files)
        return kExitFailure;

    Json list = Json::array();
    for (const std::string& file : *files) {
        const PluginEntry entry = queryPlugin(file);
        if (options.json)
            list.push_back(pluginJson(entry));
        else
            printPluginText(std::cout, entry);
    }
    if (options.json)
        writeJson(std::cout, list);
    else if (files->empty())
        std::cout << "no plugins in " << pluginFolder().string() << '\n';
    return kExitOk;
}

void addPluginsCommand(CommandSet& commands)
{
    auto options = std::make_shared<PluginsOptions>();
    CLI::App* plugins =
        commands.add(nullptr, "plugins", "List every plugin of the PsrPlugins folder beside this program.",
                     [options] { return runPlugins(*options); });
    addJsonFlag(plugins, options->json);
}

} // namespace tamrin::cli
