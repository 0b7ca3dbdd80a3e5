// Sets the list that installedPlugins() answers; the environment calls it when it starts, when
// the user changes the order or switches a plugin off, and with an empty list when it ends.
#pragma once

#include "installed_plugins.h"

namespace tamlib {

void setInstalledPlugins(std::vector<InstalledPlugin> plugins);

// InstalledPlugin::file is the upper-case name the settings and CDAZ files compare exactly; the
// plugin file keeps its own name on disk, which LbrOpenPSR needs on a case-sensitive file system.
// This is the name under which the plugin known as `fileName` is bound (`fileName` itself when no
// search found it).
std::string pluginBindName(const std::string& fileName);

} // namespace tamlib
