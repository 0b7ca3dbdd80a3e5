// settings: what the library keeps in its settings file, shown, or changed by KEY=VALUE
// assignments that are all checked before any is made, then stored.
//
// settings --json (also after --set, with the stored values):
//   {"settingsFile",
//    "drive": {"index" (-1 none), "vendor", "product", "revision"},
//    "color": {"luminosity", "blue", "red", "gamma"},
//    "analysis": {"local", "search", "upload": {"mode" (0 to 2), "meaning"}},
//    "server" ("host" or "host:port"; "" when the exchange is off),
//    "plugins": [{"priority" (from 1), "file" (upper case), "use", "name", "version",
//                 "subVersion", "caps", "capsWords"}, ...]}        in priority order
#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <iostream>
#include <map>
#include <string_view>

#include "command_set.h"
#include "commands.h"
#include "discport/discport.h"
#include "json_output.h"
#include "library_session.h"
#include "output.h"
#include "tamlib/environment.h"

namespace tamrin::cli {

namespace {

constexpr const char* kSubject = "settings";
constexpr size_t kServerMax = 255;

// What each value of the three CDAZ analysis modes does.
constexpr std::array<const char*, 3> kLocalMeanings{
    "ask whether a CDAZ found on this computer is used",
    "use a CDAZ found on this computer when it is complete, else ask",
    "always look on the server for a newer CDAZ",
};
constexpr std::array<const char*, 3> kSearchMeanings{
    "ask before searching the server when there is no CDAZ on this computer",
    "never search the server; analyse the disc",
    "always search the server",
};
constexpr std::array<const char*, 3> kUploadMeanings{
    "ask whether a new analysis is uploaded",
    "never upload",
    "always upload",
};

struct InstalledPlugin
{
    std::string file; // upper case
    std::string name;
    uint16_t version = 0;
    uint16_t subVersion = 0;
    uint32_t caps = 0; // with PLB_PLUGIN_NOUSE
};

std::vector<InstalledPlugin> installedPlugins()
{
    std::vector<InstalledPlugin> plugins;
    for (int32_t index = 0;; ++index) {
        char file[PLB_PLUGIN_FILE_MAX + 1];
        char name[sizeof(PsrPluginInfo::name)];
        InstalledPlugin plugin;
        if (PlbGetPluginInfo(index, file, name, &plugin.version, &plugin.subVersion, nullptr, &plugin.caps,
                             nullptr, nullptr) < 0)
            break;
        plugin.file = file;
        plugin.name = recordText(name);
        plugins.push_back(std::move(plugin));
    }
    return plugins;
}

std::string upperCase(std::string_view text)
{
    std::string upper(text);
    for (char& c : upper)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

std::string lowerCase(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

std::optional<int32_t> parseNumber(std::string_view text)
{
    int32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

std::vector<std::string_view> splitCommas(std::string_view text)
{
    std::vector<std::string_view> parts;
    size_t begin = 0;
    while (true) {
        const size_t comma = text.find(',', begin);
        parts.push_back(text.substr(begin, comma == std::string_view::npos ? comma : comma - begin));
        if (comma == std::string_view::npos)
            return parts;
        begin = comma + 1;
    }
}

// The settings that the assignments change; each is set only when given.
struct Changes
{
    std::optional<int32_t> drive;
    std::optional<std::array<int32_t, 4>> color;
    std::array<std::optional<int32_t>, 3> modes; // local, search, upload
    std::optional<std::string> server;
    struct PluginUse
    {
        std::string file; // as installed
        bool use = true;
    };
    std::optional<std::vector<PluginUse>> plugins;
};

// Reads one assignment into `changes`; the reason when it cannot be used.
std::optional<std::string> readAssignment(const std::string& assignment,
                                          const std::vector<InstalledPlugin>& installed, Changes& changes)
{
    const size_t equals = assignment.find('=');
    if (equals == std::string::npos)
        return "'" + assignment + "' is not KEY=VALUE";
    const std::string key = lowerCase(assignment.substr(0, equals));
    const std::string_view value = std::string_view(assignment).substr(equals + 1);
    const std::string quoted = "'" + std::string(value) + "'";

    if (key == "drive") {
        const auto index = parseNumber(value);
        const int32_t drives = CdGetDriveNum();
        if (!index || *index < -1 || *index >= drives)
            return "drive: " + quoted + " is not a drive index (-1 for none" +
                   (drives > 0 ? ", 0 to " + std::to_string(drives - 1) : std::string()) + ")";
        changes.drive = *index;
        return std::nullopt;
    }
    if (key == "color") {
        const auto parts = splitCommas(value);
        std::array<int32_t, 4> color{};
        bool good = parts.size() == color.size();
        for (size_t i = 0; good && i < color.size(); ++i) {
            const auto number = parseNumber(parts[i]);
            const int32_t low = i == 3 ? 0 : -128;
            const int32_t high = i == 3 ? 800 : 127;
            good = number && *number >= low && *number <= high;
            if (good)
                color[i] = *number;
        }
        if (!good)
            return "color: " + quoted +
                   " is not LUMINOSITY,BLUE,RED,GAMMA (three numbers from -128 to 127, then gamma x 100 "
                   "from 0 to 800)";
        changes.color = color;
        return std::nullopt;
    }
    static const std::map<std::string, size_t> kModes{{"local", 0}, {"search", 1}, {"upload", 2}};
    if (const auto mode = kModes.find(key); mode != kModes.end()) {
        const auto number = parseNumber(value);
        if (!number || *number < 0 || *number > 2)
            return key + ": " + quoted + " is not a mode (0, 1 or 2)";
        changes.modes[mode->second] = *number;
        return std::nullopt;
    }
    if (key == "server") {
        if (value.size() > kServerMax)
            return "server: at most " + std::to_string(kServerMax) + " characters";
        changes.server = std::string(value);
        return std::nullopt;
    }
    if (key == "plugins") {
        std::vector<Changes::PluginUse> order;
        for (std::string_view part : splitCommas(value)) {
            Changes::PluginUse use;
            if (part.starts_with('-')) {
                use.use = false;
                part.remove_prefix(1);
            }
            const std::string wanted = upperCase(part);
            const auto found = std::find_if(installed.begin(), installed.end(),
                                            [&](const InstalledPlugin& p) { return p.file == wanted; });
            if (found == installed.end())
                return "plugins: '" + std::string(part) + "' is not an installed plugin" +
                       (part.empty() ? " (empty name)" : "");
            if (std::any_of(order.begin(), order.end(), [&](const auto& u) { return u.file == found->file; }))
                return "plugins: " + found->file + " is named twice";
            use.file = found->file;
            order.push_back(std::move(use));
        }
        changes.plugins = std::move(order);
        return std::nullopt;
    }
    return "unknown key '" + assignment.substr(0, equals) +
           "' (drive, color, local, search, upload, server, plugins)";
}

// Makes the changes in the library; the reason when one fails (the settings file is then not
// written).
std::optional<std::string> applyChanges(const Changes& changes, const std::vector<InstalledPlugin>& installed)
{
    if (changes.drive && PlbSetCdDrive(*changes.drive) == 0)
        return "drive " + std::to_string(*changes.drive) + ": its identity cannot be read";
    if (changes.color) {
        const auto& c = *changes.color;
        if (PlbSetColor(c[0], c[1], c[2], c[3]) == 0)
            return "the colour values were refused";
    }
    if (changes.modes[0] || changes.modes[1] || changes.modes[2]) {
        int32_t modes[3];
        PlbGetAnalyzeMode(&modes[0], &modes[1], &modes[2]);
        for (size_t i = 0; i < 3; ++i)
            modes[i] = changes.modes[i].value_or(modes[i]);
        if (PlbSetAnalyzeMode(modes[0], modes[1], modes[2]) == 0)
            return "the analysis modes were refused";
    }
    if (changes.plugins) {
        std::vector<std::string> order;
        for (const InstalledPlugin& plugin : installed)
            order.push_back(plugin.file);
        int32_t to = 0;
        for (const Changes::PluginUse& use : *changes.plugins) {
            const auto at = std::find(order.begin(), order.end(), use.file);
            const int32_t from = int32_t(at - order.begin());
            if (from != to) {
                if (PlbMovePlugin(from, to) == 0)
                    return "plugin " + use.file + " cannot be moved";
                std::string moved = std::move(*at);
                order.erase(at);
                order.insert(order.begin() + to, std::move(moved));
            }
            if (PlbSetPluginUse(use.file.c_str(), use.use ? 1 : 0) == 0)
                return "plugin " + use.file + " cannot be switched " + (use.use ? "on" : "off");
            ++to;
        }
    }
    return std::nullopt;
}

std::string serverAddress()
{
    char address[kServerMax + 1];
    PlbGetServer(address, int32_t(sizeof address));
    return recordText(address, sizeof address);
}

const char* meaningOf(const std::array<const char*, 3>& meanings, int32_t mode)
{
    return mode >= 0 && mode < 3 ? meanings[size_t(mode)] : "unknown";
}

void printText(std::ostream& out)
{
    char vendor[64], product[64], revision[64];
    const int32_t drive = PlbGetCdDrive(vendor, product, revision);
    int32_t luminosity = 0, blue = 0, red = 0, gamma = 0;
    PlbGetColor(&luminosity, &blue, &red, &gamma);
    int32_t modes[3];
    PlbGetAnalyzeMode(&modes[0], &modes[1], &modes[2]);

    out << "settings file    " << settingsFilePath().string() << '\n';
    out << "drive            " << drive;
    if (drive < 0)
        out << " (none)";
    if (*vendor || *product || *revision)
        out << "  " << recordText(vendor, sizeof vendor) << " / " << recordText(product, sizeof product)
            << " / " << recordText(revision, sizeof revision);
    out << '\n';
    out << "color            luminosity " << luminosity << ", blue " << blue << ", red " << red << ", gamma "
        << gamma << '\n';
    out << "local            " << modes[0] << " (" << meaningOf(kLocalMeanings, modes[0]) << ")\n";
    out << "search           " << modes[1] << " (" << meaningOf(kSearchMeanings, modes[1]) << ")\n";
    out << "upload           " << modes[2] << " (" << meaningOf(kUploadMeanings, modes[2]) << ")\n";
    const std::string server = serverAddress();
    out << "server           " << (server.empty() ? "none (the CDAZ exchange is off)" : server) << '\n';
    const auto plugins = installedPlugins();
    out << "plugins          " << plugins.size() << " in priority order\n";
    int priority = 1;
    for (const InstalledPlugin& plugin : plugins) {
        char line[160];
        std::snprintf(line, sizeof line, "  %2d  %-16s  %-3s  %s (sub %s)  caps %s (%s)  ", priority++,
                      plugin.file.c_str(), plugin.caps & PLB_PLUGIN_NOUSE ? "off" : "on",
                      versionText(plugin.version).c_str(), versionText(plugin.subVersion).c_str(),
                      hexText(plugin.caps & 0xFFFF, 4).c_str(), capsWords(plugin.caps & 0xFFFF).c_str());
        out << line << plugin.name << '\n';
    }
}

Json modeJson(int32_t mode, const std::array<const char*, 3>& meanings)
{
    Json object;
    object["mode"] = mode;
    object["meaning"] = meaningOf(meanings, mode);
    return object;
}

Json settingsJson()
{
    Json document;
    document["settingsFile"] = settingsFilePath().string();
    char vendor[64], product[64], revision[64];
    Json drive;
    drive["index"] = PlbGetCdDrive(vendor, product, revision);
    drive["vendor"] = recordText(vendor, sizeof vendor);
    drive["product"] = recordText(product, sizeof product);
    drive["revision"] = recordText(revision, sizeof revision);
    document["drive"] = drive;

    int32_t luminosity = 0, blue = 0, red = 0, gamma = 0;
    PlbGetColor(&luminosity, &blue, &red, &gamma);
    document["color"] = {{"luminosity", luminosity}, {"blue", blue}, {"red", red}, {"gamma", gamma}};

    int32_t modes[3];
    PlbGetAnalyzeMode(&modes[0], &modes[1], &modes[2]);
    Json analysis;
    analysis["local"] = modeJson(modes[0], kLocalMeanings);
    analysis["search"] = modeJson(modes[1], kSearchMeanings);
    analysis["upload"] = modeJson(modes[2], kUploadMeanings);
    document["analysis"] = analysis;
    document["server"] = serverAddress();

    Json plugins = Json::array();
    int priority = 1;
    for (const InstalledPlugin& plugin : installedPlugins()) {
        Json object;
        object["priority"] = priority++;
        object["file"] = plugin.file;
        object["use"] = (plugin.caps & PLB_PLUGIN_NOUSE) == 0;
        object["name"] = plugin.name;
        object["version"] = plugin.version;
        object["subVersion"] = plugin.subVersion;
        object["caps"] = plugin.caps & 0xFFFF;
        object["capsWords"] = capsWords(plugin.caps & 0xFFFF);
        plugins.push_back(object);
    }
    document["plugins"] = plugins;
    return document;
}

} // namespace

int runSettings(const SettingsOptions& options)
{
    if (!libraryReady(kSubject))
        return kExitFailure;
    if (!options.assignments.empty()) {
        const std::vector<InstalledPlugin> installed = installedPlugins();
        Changes changes;
        for (const std::string& assignment : options.assignments) {
            if (const auto problem = readAssignment(assignment, installed, changes)) {
                reportError(kSubject, *problem + "; nothing was changed");
                return kExitUsage;
            }
        }
        // The library checks the address; it is set first, so that a refused one changes nothing.
        if (changes.server && PlbSetServer(changes.server->c_str()) == 0) {
            reportError(kSubject, "server: '" + *changes.server +
                                      "' is not a host name or IPv4 address with an optional port (1 to "
                                      "65535); nothing was changed");
            return kExitUsage;
        }
        if (const auto problem = applyChanges(changes, installed)) {
            reportError(kSubject, *problem + "; the settings file was not written");
            return kExitFailure;
        }
        if (PlbSaveEnviron() == 0) {
            reportError(kSubject, settingsFilePath().string() + " cannot be written");
            return kExitFailure;
        }
    }
    if (options.json)
        writeJson(std::cout, settingsJson());
    else
        printText(std::cout);
    return kExitOk;
}

void addSettingsCommand(CommandSet& commands)
{
    auto options = std::make_shared<SettingsOptions>();
    CLI::App* settings = commands.add(
        nullptr, "settings",
        "Show the library's settings (drive, colour, CDAZ analysis modes, plugin order), or change "
        "and store them with --set.",
        [options] { return runSettings(*options); });
    settings->add_option(
        "--set", options->assignments,
        "KEY=VALUE, repeatable: drive=INDEX (-1 none), color=LUMINOSITY,BLUE,RED,GAMMA "
        "(-128 to 127, gamma x 100 0 to 800), local=0|1|2, search=0|1|2, upload=0|1|2, "
        "server=HOST[:PORT] (the CDAZ exchange; empty: off), plugins=FILE,-FILE,... (priority "
        "order, names in any case; a leading '-' switches one off).");
    addJsonFlag(settings, options->json);
}

} // namespace tamrin::cli
