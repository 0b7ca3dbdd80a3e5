#include "plugin_folder.h"

#include "commands.h"
#include "input_file.h"
#include "library_session.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "streamkit/lbr.h"
#include "tamlib/analysis.h"

namespace tamrin::cli {

namespace fs = std::filesystem;

namespace {

char upper(char c)
{
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

bool hasPluginExtension(const std::string& name)
{
    constexpr std::string_view kExtension = ".psr";
    if (name.size() <= kExtension.size())
        return false;
    const std::string_view tail = std::string_view(name).substr(name.size() - kExtension.size());
    return std::equal(tail.begin(), tail.end(), kExtension.begin(),
                      [](char a, char b) { return (a >= 'A' && a <= 'Z' ? char(a - 'A' + 'a') : a) == b; });
}

// LbrQueryPlugin returns 0 both for a plugin it cannot bind (the record is then left alone) and
// for a bound plugin without caps (the record is then cleared and filled). A pattern written
// before the call tells the two apart: a bound plugin never leaves it intact.
constexpr unsigned char kUntouched = 0xA5;

bool untouched(const PsrPluginInfo& info)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(&info);
    return std::all_of(bytes, bytes + sizeof info, [](unsigned char b) { return b == kUntouched; });
}

} // namespace

fs::path programFolder()
{
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (error)
        return {};
    return self.parent_path();
}

fs::path pluginFolder()
{
    const fs::path folder = programFolder();
    return folder.empty() ? fs::path() : folder / "PsrPlugins";
}

std::optional<std::vector<std::string>> listPluginFiles(const fs::path& folder, std::string& error)
{
    if (folder.empty()) {
        error = "cannot find the folder of this program";
        return std::nullopt;
    }
    std::error_code code;
    fs::directory_iterator it(folder, code);
    if (code) {
        error = code.message();
        return std::nullopt;
    }
    std::vector<std::string> names;
    for (; it != fs::directory_iterator(); it.increment(code)) {
        std::error_code typeError;
        // Folders named *.psr are no plugins; anything else is given to the host to judge.
        if (it->is_directory(typeError))
            continue;
        std::string name = it->path().filename().string();
        if (hasPluginExtension(name))
            names.push_back(std::move(name));
    }
    if (code) {
        error = code.message();
        return std::nullopt;
    }
    std::sort(names.begin(), names.end());
    return names;
}

PluginEntry queryPlugin(const std::string& file)
{
    PluginEntry entry;
    entry.file = file;
    std::memset(&entry.info, kUntouched, sizeof entry.info);
    entry.caps = LbrQueryPlugin(file.c_str(), &entry.info) & 0xFFFFu;
    if (entry.caps == 0 && untouched(entry.info)) {
        entry.info = PsrPluginInfo{};
        entry.state = PluginState::NotBound;
    } else if ((entry.caps & (CapFile | CapCd)) == 0) {
        entry.state = PluginState::NoCaps;
    } else if (entry.info.interfaceVersion > PSR_INTERFACE_VERSION) {
        entry.state = PluginState::NewerInterface;
    } else {
        entry.state = PluginState::Usable;
    }
    return entry;
}

std::string_view unusableReason(const PluginEntry& entry)
{
    switch (entry.state) {
    case PluginState::Usable:
        return {};
    case PluginState::NotBound:
        return "cannot be bound (not a loadable plugin, or a required export is missing)";
    case PluginState::NoCaps:
        return "opens neither files nor discs";
    case PluginState::NewerInterface:
        return "built for a newer plugin interface than 3.22";
    }
    return {};
}

bool pluginAcceptsFile(const std::string& plugin, const std::string& file, StrInfo& info)
{
    PluginBinding* binding = LbrOpenPSR(plugin.c_str());
    if (!binding)
        return false;
    bool accepted = false;
    if (LbrIsSupportFile(binding, file.c_str()) != 0) {
        info = StrInfo{};
        accepted = LbrGetStrFileInfo(binding, file.c_str(), &info) == 1;
    }
    LbrClosePSR(binding);
    return accepted;
}

std::string shownPluginName(std::string_view file)
{
    std::string shown(file);
    for (char& c : shown)
        c = upper(c);
    return shown;
}

std::optional<std::vector<std::string>> installedPluginFiles()
{
    const auto folder = pluginFolder();
    std::string error;
    auto files = listPluginFiles(folder, error);
    if (!files)
        reportError(folder.string(), "cannot read the plugin folder: " + error);
    return files;
}

std::optional<std::string> resolvePluginName(const std::string& named)
{
    const auto files = installedPluginFiles();
    if (!files)
        return std::nullopt;
    const std::string wanted = shownPluginName(named);
    for (const std::string& file : *files)
        if (shownPluginName(file) == wanted)
            return file;
    reportError(named, "no such plugin in " + pluginFolder().string() + " (see the plugins command)");
    return std::nullopt;
}

std::optional<Acceptance> acceptInputFile(const std::string& file)
{
    if (const auto problem = inputFileProblem(file)) {
        reportError(file, *problem);
        return std::nullopt;
    }
    if (!libraryReady(file.c_str()))
        return std::nullopt;
    const auto identity = tamlib::identifyFile(file.c_str());
    if (!identity) {
        reportError(file, rejectionMessage(file));
        return std::nullopt;
    }
    return Acceptance{identity->bindName, identity->info};
}

} // namespace tamrin::cli
