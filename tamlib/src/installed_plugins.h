// What the CDAZ store needs to know of the environment: the folder of the CDAZ files and the
// installed plugins in their priority order. The environment (settings) provides it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tamlib {

struct InstalledPlugin
{
    std::string file;        // upper-case file name, as settings and CDAZ files store it ("DISCMOVIE.PSR")
    std::string name;        // the plugin's own name ("STR CD-ROM")
    uint16_t version = 0;    // PsrPluginInfo.version
    uint16_t subVersion = 0; // PsrPluginInfo.subVersion: CDAZ entries older than it are analysed again
    uint32_t caps = 0;       // capability word of the host (CapFile, CapCd, ...)
    uint16_t mediaFlags = 0;
    std::string author;
    std::string address;
    bool noUse = false; // switched off by the user
};

// The installed plugins in priority order (the settings' order). Empty before the library is
// started.
const std::vector<InstalledPlugin>& installedPlugins();

// The folder of the CDAZ files ("Analyze" in the data folder; $TAMRIN_HOME/Analyze when set).
std::filesystem::path analyzeFolder();

} // namespace tamlib
