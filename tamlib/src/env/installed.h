// Sets the list that installedPlugins() answers; the environment calls it when it starts, when
// the user changes the order or switches a plugin off, and with an empty list when it ends.
#pragma once

#include "installed_plugins.h"
#include "tamlib/analysis.h" // pluginBindName

namespace tamlib {

void setInstalledPlugins(std::vector<InstalledPlugin> plugins);

} // namespace tamlib
