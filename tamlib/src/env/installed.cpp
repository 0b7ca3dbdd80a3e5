// The environment's list of installed plugins, as the rest of the library sees it.
#include "env/installed.h"

namespace tamlib {

namespace {

std::vector<InstalledPlugin>& store()
{
    static std::vector<InstalledPlugin> plugins;
    return plugins;
}

} // namespace

const std::vector<InstalledPlugin>& installedPlugins()
{
    return store();
}

void setInstalledPlugins(std::vector<InstalledPlugin> plugins)
{
    store() = std::move(plugins);
}

} // namespace tamlib
