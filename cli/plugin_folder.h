// The plugins this program can use: the *.psr files of the PsrPlugins folder beside it, which
// is also where libstreamkit (installed beside the program) binds them from.
#ifndef TAMRIN_CLI_PLUGIN_FOLDER_H
#define TAMRIN_CLI_PLUGIN_FOLDER_H

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "streamkit/psr.h"

namespace tamrin::cli {

// The folder holding the running program (from /proc/self/exe); empty when unknown.
std::filesystem::path programFolder();

// programFolder() / "PsrPlugins".
std::filesystem::path pluginFolder();

// File names (no folder) of the *.psr files in `folder` ("psr" in any case), sorted by byte
// order. Null with `error` set when the folder cannot be read.
std::optional<std::vector<std::string>> listPluginFiles(const std::filesystem::path& folder,
                                                        std::string& error);

// listPluginFiles(pluginFolder()); when the folder cannot be read, says so on stderr.
std::optional<std::vector<std::string>> installedPluginFiles();

enum class PluginState
{
    Usable,
    NotBound,       // not a loadable plugin, or a required export is missing
    NoCaps,         // bound, but it opens neither files nor discs
    NewerInterface, // built for a newer contract than this host's
};

struct PluginEntry
{
    std::string file;
    PluginState state = PluginState::NotBound;
    uint32_t caps = 0;
    PsrPluginInfo info{}; // as the plugin filled it; meaningless when NotBound
};

// Describes one plugin through LbrQueryPlugin.
PluginEntry queryPlugin(const std::string& file);

// Why a plugin cannot be used; empty for usable ones.
std::string_view unusableReason(const PluginEntry& entry);

// Asks one plugin whether it takes `file`: the file test, then the description into a cleared
// `info`. False when the plugin cannot be bound, refuses the file or fails to describe it.
bool pluginAcceptsFile(const std::string& plugin, const std::string& file, StrInfo& info);

// The one spelling of a plugin name on output: upper case, as the settings and CDAZ files keep it.
std::string shownPluginName(std::string_view file);

// The plugin file of the folder that `named` names, in any case ("DISCMOVIE.PSR" finds
// "Discmovie.psr"). An unknown name is reported on stderr (null then).
std::optional<std::string> resolvePluginName(const std::string& named);

struct Acceptance
{
    std::string plugin; // the file name to bind (as it is on disk)
    StrInfo info{};
};

// The plugin that takes an input file of a stream command, chosen by the library as the player
// chooses it (installed priority order): the file checked first. Every failure is reported on
// stderr (null then).
std::optional<Acceptance> acceptInputFile(const std::string& file);

} // namespace tamrin::cli

#endif
