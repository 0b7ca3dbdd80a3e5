// The installed-plugin list: the plugins found in the plugin folders, merged with the order the
// settings file keeps (first = highest priority; the CDAZ overlap rule gives the streams of a
// higher plugin the precedence).
//
// A plugin is known by its file name in upper case (as the settings and CDAZ files hold it); the
// file itself keeps the name it has on disk, which binding needs on a case-sensitive file system.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "env/settings.h"
#include "installed_plugins.h"
#include "streamkit/psr.h"

namespace tamlib {

constexpr uint32_t kNoUse = 0x10000;
constexpr uint16_t kStoredMediaFlags = 7;

struct PluginEntry
{
    std::string fileName; // upper case, at most 16 characters
    std::string diskName; // the file's own name; empty for an entry no search found
    std::string name;
    uint16_t version = 0;
    uint16_t subVersion = 0;
    uint32_t caps = 0; // PluginCaps | kNoUse
    uint16_t mediaFlags = kStoredMediaFlags;
    std::string author;
    std::string address;
};

struct FoundPlugin
{
    std::string diskName;
    PsrPluginInfo info{};
    uint32_t caps = 0;
};

// Binds and describes a plugin by file name: the caps, 0 when it cannot be bound.
using PluginQuery = std::function<uint32_t(const std::string& file, PsrPluginInfo& info)>;

// ASCII upper case.
std::string upperCase(std::string_view text);

// Where a plugin goes in a fresh installation's order (lower first). Known plugin files have
// fixed places: the game-specific movie plugins, the movie file plugins and the general disc
// movie plugin; then every plugin this table does not know; then the sound, music and picture
// plugins, and the CD audio track plugin last. An unknown plugin is most likely a newer
// game-specific format: it outranks the general sound, music and track plugins, whose areas it
// may share, but not the known movie plugins, whose results are trusted.
int32_t defaultRank(std::string_view fileName);

// The usable plugins of `folders` (in this order; names within a folder sorted): files ending in
// ".psr" (any case) with at most 16 characters whose query gives caps and an interface version
// of at most 322.
std::vector<FoundPlugin> findPlugins(const std::vector<std::filesystem::path>& folders,
                                     const PluginQuery& query);

// The stored entries (their order, NOUSE kept) refreshed by the found plugins; a found plugin
// whose upper-case name no entry has exactly is appended, the found ones in default order among
// themselves. Entries without any caps bit (stored, not found, not NOUSE) are dropped.
std::vector<PluginEntry> mergePlugins(const std::vector<StoredPlugin>& stored,
                                      std::vector<FoundPlugin> found);

// The list as the settings file stores it.
std::vector<StoredPlugin> storedPlugins(const std::vector<PluginEntry>& list);

// The list as the rest of the library sees it.
std::vector<InstalledPlugin> installedView(const std::vector<PluginEntry>& list);

} // namespace tamlib
