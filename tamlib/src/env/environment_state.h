// The environment's start with chosen plugin folders and plugin query (tests list their own
// folders).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "env/plugin_list.h"

namespace tamlib {

struct EnvironmentOptions
{
    std::vector<std::filesystem::path> pluginFolders; // searched in this order
    PluginQuery query;                                // binds and describes a plugin by file name
};

// The PsrPlugins folder beside the library, then the library's folder; LbrQueryPlugin.
EnvironmentOptions defaultEnvironmentOptions();

// PlbInitialize with these options (the options count only for the first, building call).
bool startEnvironment(const EnvironmentOptions& options);

} // namespace tamlib
