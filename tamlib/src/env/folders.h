// The folders the library works in: the configuration folder (settings, options files), the
// data folder (CDAZ files under "Analyze"), and the library's own folder (PsrPlugins beside it).
// TAMRIN_HOME, when set and not empty, replaces the configuration and data folders.
#pragma once

#include <filesystem>

namespace tamlib {

// $TAMRIN_HOME, else $XDG_CONFIG_HOME/tamrin, else ~/.config/tamrin. Not created here.
std::filesystem::path configFolder();

// $TAMRIN_HOME, else $XDG_DATA_HOME/tamrin, else ~/.local/share/tamrin. Not created here.
std::filesystem::path dataFolder();

// $TAMRIN_HOME, else $XDG_STATE_HOME/tamrin, else ~/.local/state/tamrin (debug logs). Not created here.
std::filesystem::path stateFolder();

// The folder that holds libtamlib itself (or the program it is linked into); empty when unknown.
std::filesystem::path libraryFolder();
// The folder of the program or shared library that holds `address` (code or data); empty when unknown.
std::filesystem::path objectFolder(const void* address);

// The PsrPlugins folder beside the library; empty when the library's folder is unknown.
std::filesystem::path pluginFolder();

} // namespace tamlib
