#include "env/plugin_list.h"

#include <algorithm>
#include <array>
#include <system_error>

namespace tamlib {

namespace fs = std::filesystem;

namespace {

// A fresh installation's plugin order. Gaps between the groups leave room for unknown plugins.
constexpr int32_t kUnknownRank = 50;

struct KnownPlugin
{
    std::string_view fileName; // upper case
    int32_t rank;
};

constexpr std::array kKnownPlugins = {
    // Game-specific movie formats first: their areas would otherwise go to the general plugins.
    KnownPlugin{"EMBERFILM.PSR", 10},
    KnownPlugin{"TIDEFILM.PSR", 11},
    KnownPlugin{"OVALCAST.PSR", 12},
    KnownPlugin{"BRIARFILM.PSR", 13},
    // Movie files (files only), then the general disc movie plugin.
    KnownPlugin{"FILMFILE.PSR", 20},
    KnownPlugin{"PACKFILM.PSR", 21},
    KnownPlugin{"DISCMOVIE.PSR", 30},
    // Unknown plugins: kUnknownRank.
    // Sound: XA sound, then the game sound formats.
    KnownPlugin{"DISCVOICE.PSR", 60},
    KnownPlugin{"COBALTSOUND.PSR", 61},
    KnownPlugin{"MARLSOUND.PSR", 62},
    KnownPlugin{"DUSKAUDIO.PSR", 63},
    // Music, pictures.
    KnownPlugin{"SCOREFILE.PSR", 70},
    KnownPlugin{"TUNEBANK.PSR", 71},
    KnownPlugin{"STILLFRAME.PSR", 80},
    // CD audio tracks never overlap data tracks' streams; last.
    KnownPlugin{"TRACKAUDIO.PSR", 90},
};

bool endsWithPsr(const std::string& name)
{
    return name.size() > 4 && upperCase(std::string_view(name).substr(name.size() - 4)) == ".PSR";
}

std::string textOf(const char* field, size_t size)
{
    size_t length = 0;
    while (length < size && field[length])
        ++length;
    return std::string(field, length);
}

void refresh(PluginEntry& entry, const FoundPlugin& found)
{
    entry.name = textOf(found.info.name, sizeof found.info.name);
    entry.version = found.info.version;
    entry.subVersion = found.info.subVersion;
    entry.mediaFlags = found.info.mediaFlags;
    entry.author = textOf(found.info.author, sizeof found.info.author);
    entry.address = textOf(found.info.address, sizeof found.info.address);
    entry.caps |= found.caps & 0xFFFFu;
    if (entry.diskName.empty())
        entry.diskName = found.diskName;
}

} // namespace

std::string upperCase(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return out;
}

int32_t defaultRank(std::string_view fileName)
{
    const std::string upper = upperCase(fileName);
    for (const KnownPlugin& known : kKnownPlugins)
        if (known.fileName == upper)
            return known.rank;
    return kUnknownRank;
}

std::vector<FoundPlugin> findPlugins(const std::vector<fs::path>& folders, const PluginQuery& query)
{
    std::vector<FoundPlugin> found;
    for (const fs::path& folder : folders) {
        std::error_code error;
        fs::directory_iterator it(folder, error);
        if (error)
            continue;
        std::vector<std::string> names;
        for (; it != fs::directory_iterator(); it.increment(error)) {
            std::error_code typeError;
            if (!it->is_regular_file(typeError))
                continue;
            std::string name = it->path().filename().string();
            if (endsWithPsr(name) && name.size() <= kPluginFileMax)
                names.push_back(std::move(name));
        }
        std::sort(names.begin(), names.end());
        for (std::string& name : names) {
            FoundPlugin plugin;
            plugin.diskName = std::move(name);
            plugin.caps = query(plugin.diskName, plugin.info) & 0xFFFFu;
            if (plugin.caps == 0 || plugin.info.interfaceVersion > PSR_INTERFACE_VERSION)
                continue;
            found.push_back(std::move(plugin));
        }
    }
    return found;
}

std::vector<PluginEntry> mergePlugins(const std::vector<StoredPlugin>& stored, std::vector<FoundPlugin> found)
{
    std::vector<PluginEntry> list;
    list.reserve(stored.size() + found.size());
    for (const StoredPlugin& plugin : stored) {
        PluginEntry entry;
        entry.fileName = plugin.fileName;
        entry.caps = plugin.noUse ? kNoUse : 0;
        list.push_back(std::move(entry));
    }
    std::stable_sort(found.begin(), found.end(), [](const FoundPlugin& a, const FoundPlugin& b) {
        return defaultRank(a.diskName) < defaultRank(b.diskName);
    });
    for (const FoundPlugin& plugin : found) {
        const std::string fileName = upperCase(plugin.diskName);
        auto it = std::find_if(list.begin(), list.end(),
                               [&](const PluginEntry& e) { return e.fileName == fileName; });
        if (it == list.end()) {
            PluginEntry entry;
            entry.fileName = fileName;
            list.push_back(std::move(entry));
            it = list.end() - 1;
        }
        refresh(*it, plugin);
    }
    std::erase_if(list, [](const PluginEntry& e) { return e.caps == 0; });
    return list;
}

std::vector<StoredPlugin> storedPlugins(const std::vector<PluginEntry>& list)
{
    std::vector<StoredPlugin> stored;
    stored.reserve(list.size());
    for (const PluginEntry& entry : list)
        stored.push_back({entry.fileName, (entry.caps & kNoUse) != 0});
    return stored;
}

std::vector<InstalledPlugin> installedView(const std::vector<PluginEntry>& list)
{
    std::vector<InstalledPlugin> view;
    view.reserve(list.size());
    for (const PluginEntry& entry : list) {
        InstalledPlugin plugin;
        plugin.file = entry.fileName;
        plugin.name = entry.name;
        plugin.version = entry.version;
        plugin.subVersion = entry.subVersion;
        plugin.caps = entry.caps & 0xFFFFu;
        plugin.mediaFlags = entry.mediaFlags;
        plugin.author = entry.author;
        plugin.address = entry.address;
        plugin.noUse = (entry.caps & kNoUse) != 0;
        view.push_back(std::move(plugin));
    }
    return view;
}

} // namespace tamlib
