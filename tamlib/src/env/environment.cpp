// The environment of the library's life: settings, drive, installed plugins.
#include "tamlib/environment.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "discport/discport.h"
#include "env/drive_choice.h"
#include "env/environment_state.h"
#include "env/folders.h"
#include "env/installed.h"
#include "env/settings.h"
#include "streamkit/lbr.h"
#include "tamlib/strings.h"
#include "tamlib/ui_port.h"
#include "tamrin_common/c_guard.h"

namespace tamlib {

namespace {

struct Environment
{
    int32_t starts = 0;
    Settings settings;                // plugins: see `plugins`
    std::vector<PluginEntry> plugins; // priority order
    bool changed = false;
};

std::recursive_mutex g_mutex;
Environment g_env;

void copyText(char* out, size_t size, const std::string& text)
{
    if (!out)
        return;
    const size_t length = std::min(text.size(), size - 1);
    std::memcpy(out, text.data(), length);
    out[length] = '\0';
}

void publishPlugins()
{
    setInstalledPlugins(installedView(g_env.plugins));
}

void reportCdStatus(int32_t status)
{
    if (status == 0)
        return;
    std::string text;
    if (status >= 1 && status <= 3) {
        char reason[PLB_STRING_MAX];
        text = PlbLoadString(nullptr, reason, uint32_t(PLB_IDS_CD_STATUS_1 + status - 1));
    }
    char last[PLB_STRING_MAX];
    text += PlbLoadString(nullptr, last, PLB_IDS_CD_UNUSABLE);
    PlbWarning(nullptr, PLB_MB_OK, "%s", text.c_str());
}

std::string driveLabel(int32_t index, const DriveFacts& facts)
{
    std::string label = std::to_string(index) + ": ";
    if (facts.identity)
        label += facts.identity->vendor + " " + facts.identity->product + " " + facts.identity->revision;
    return label;
}

// At the first start the user picks the drive when more than one could be meant.
void askForDrive(const std::vector<DriveFacts>& drives)
{
    ChoiceRequest request;
    char caption[PLB_STRING_MAX];
    request.caption = PlbLoadString(nullptr, caption, PLB_IDS_CHOOSE_DRIVE);
    for (size_t i = 0; i < drives.size(); ++i)
        request.items.push_back(driveLabel(int32_t(i), drives[i]));
    int32_t chosen = -1;
    try {
        chosen = uiPort().choose(request);
    } catch (...) {
        chosen = -1;
    }
    if (chosen < 0 || chosen >= int32_t(drives.size()) || !drives[size_t(chosen)].identity)
        return;
    const DriveIdentity& identity = *drives[size_t(chosen)].identity;
    g_env.settings.drive = chosen;
    g_env.settings.vendor = identity.vendor;
    g_env.settings.product = identity.product;
    g_env.settings.revision = identity.revision;
    g_env.changed = true;
}

bool build(const EnvironmentOptions& options)
{
    g_env = Environment{};
    const std::optional<Settings> stored = readSettingsFile(settingsPath());
    if (stored)
        g_env.settings = *stored;

    reportCdStatus(CdGetStatus());

    const std::vector<DriveFacts> drives = listDrives();
    const DriveChoice choice =
        chooseDrive(g_env.settings.drive,
                    {g_env.settings.vendor, g_env.settings.product, g_env.settings.revision}, drives);
    g_env.settings.drive = choice.drive;
    g_env.settings.vendor = choice.remembered.vendor;
    g_env.settings.product = choice.remembered.product;
    g_env.settings.revision = choice.remembered.revision;

    const PluginQuery query = options.query ? options.query : defaultEnvironmentOptions().query;
    g_env.plugins = mergePlugins(g_env.settings.plugins, findPlugins(options.pluginFolders, query));
    g_env.settings.plugins.clear();

    if (!stored && (drives.size() > 1 || g_env.settings.vendor.empty())) {
        g_env.settings.drive = -1;
        if (!drives.empty())
            askForDrive(drives);
    }

    LbrSetColorModify(g_env.settings.luminosity, g_env.settings.blue, g_env.settings.red,
                      g_env.settings.gamma);
    publishPlugins();
    return true;
}

bool save()
{
    Settings settings = g_env.settings;
    settings.plugins = storedPlugins(g_env.plugins);
    return writeFileAtomically(settingsPath(), formatSettings(settings));
}

const PluginEntry* pluginAt(int32_t index, const char* fileName)
{
    if (index >= 0)
        return index < int32_t(g_env.plugins.size()) ? &g_env.plugins[size_t(index)] : nullptr;
    if (index != -1 || !fileName)
        return nullptr;
    const auto it = std::find_if(g_env.plugins.begin(), g_env.plugins.end(),
                                 [&](const PluginEntry& e) { return e.fileName == fileName; });
    return it == g_env.plugins.end() ? nullptr : &*it;
}

} // namespace

EnvironmentOptions defaultEnvironmentOptions()
{
    EnvironmentOptions options;
    const std::filesystem::path plugins = pluginFolder();
    if (!plugins.empty())
        options.pluginFolders = {plugins, libraryFolder()};
    options.query = [](const std::string& file, PsrPluginInfo& info) {
        return LbrQueryPlugin(file.c_str(), &info);
    };
    return options;
}

bool startEnvironment(const EnvironmentOptions& options)
{
    std::lock_guard lock(g_mutex);
    if (g_env.starts > 0) {
        ++g_env.starts;
        return true;
    }
    try {
        if (!build(options)) {
            g_env = Environment{};
            return false;
        }
    } catch (...) {
        g_env = Environment{};
        setInstalledPlugins({});
        return false;
    }
    g_env.starts = 1;
    return true;
}

std::string pluginBindName(const std::string& fileName)
{
    std::lock_guard lock(g_mutex);
    for (const PluginEntry& entry : g_env.plugins)
        if (entry.fileName == fileName && !entry.diskName.empty())
            return entry.diskName;
    return fileName;
}

} // namespace tamlib

using namespace tamlib;

PLB_API int32_t PlbInitialize(void)
{
    return tamrin::guarded<int32_t>(
        0, [&]() -> int32_t { return startEnvironment(defaultEnvironmentOptions()) ? 1 : 0; });
}

PLB_API int32_t PlbTerminate(void)
{
    return tamrin::guarded<int32_t>(0, [] {
        std::lock_guard lock(g_mutex);
        if (g_env.starts == 0)
            return 0;
        if (--g_env.starts > 0)
            return 1;
        if (g_env.changed)
            tamrin::guarded<bool>(false,
                                  [] { return save(); }); // a file that cannot be written is left as it was
        g_env = Environment{};
        setInstalledPlugins({});
        return 1;
    });
}

PLB_API void* PlbGetModule(void)
{
    return tamrin::guarded<void*>(nullptr, [&]() -> void* {
        Dl_info info{};
        if (::dladdr(reinterpret_cast<void*>(&PlbGetModule), &info) == 0)
            return nullptr;
        return info.dli_fbase;
    });
}

PLB_API int32_t PlbGetCdDrive(char* vendor, char* product, char* revision)
{
    return tamrin::guarded<int32_t>(-1, [&]() -> int32_t {
        std::lock_guard lock(g_mutex);
        copyText(vendor, 64, g_env.settings.vendor);
        copyText(product, 64, g_env.settings.product);
        copyText(revision, 64, g_env.settings.revision);
        return g_env.settings.drive;
    });
}

PLB_API int32_t PlbSetCdDrive(int32_t index)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        std::lock_guard lock(g_mutex);
        if (g_env.starts == 0 || index < -1)
            return 0;
        DriveIdentity identity;
        if (index >= 0) {
            if (index >= CdGetDriveNum())
                return 0;
            const std::optional<DriveIdentity> read = driveIdentity(index);
            if (!read)
                return 0;
            identity = *read;
        }
        g_env.settings.drive = index;
        g_env.settings.vendor = identity.vendor;
        g_env.settings.product = identity.product;
        g_env.settings.revision = identity.revision;
        g_env.changed = true;
        return 1;
    });
}

PLB_API int32_t PlbGetPluginInfo(int32_t index, char* fileName, char* name, uint16_t* version,
                                 uint16_t* subVersion, char* copyright, uint32_t* caps, char* author,
                                 char* address)
{
    return tamrin::guarded<int32_t>(-1, [&]() -> int32_t {
        std::lock_guard lock(g_mutex);
        constexpr size_t kNameSize = sizeof(PsrPluginInfo::name);
        constexpr size_t kTextSize = sizeof(PsrPluginInfo::author);
        for (char* text : {name})
            if (text)
                text[0] = '\0';
        for (char* text : {copyright, author, address})
            if (text)
                text[0] = '\0';
        const PluginEntry* entry = pluginAt(index, fileName);
        if (!entry)
            return -1;
        if (index >= 0)
            copyText(fileName, kPluginFileMax + 1, entry->fileName);
        copyText(name, kNameSize, entry->name);
        if (version)
            *version = entry->version;
        if (subVersion)
            *subVersion = entry->subVersion;
        if (caps)
            *caps = entry->caps;
        if (copyright || author || address) {
            PsrPluginInfo info{};
            if (!entry->diskName.empty() && LbrQueryPlugin(entry->diskName.c_str(), &info) != 0) {
                info.copyright[sizeof info.copyright - 1] = '\0';
                info.author[sizeof info.author - 1] = '\0';
                info.address[sizeof info.address - 1] = '\0';
                copyText(copyright, kTextSize, info.copyright);
                copyText(author, kTextSize, info.author);
                copyText(address, kTextSize, info.address);
            }
        }
        return int32_t(g_env.plugins.size());
    });
}

PLB_API int32_t PlbMovePlugin(int32_t from, int32_t to)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        std::lock_guard lock(g_mutex);
        const int32_t count = int32_t(g_env.plugins.size());
        if (g_env.starts == 0 || from < 0 || from >= count || to < 0 || to >= count)
            return 0;
        PluginEntry moved = std::move(g_env.plugins[size_t(from)]);
        g_env.plugins.erase(g_env.plugins.begin() + from);
        g_env.plugins.insert(g_env.plugins.begin() + to, std::move(moved));
        g_env.changed = true;
        publishPlugins();
        return 1;
    });
}

PLB_API int32_t PlbSetPluginUse(const char* fileName, int32_t use)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        std::lock_guard lock(g_mutex);
        if (g_env.starts == 0 || !fileName)
            return 0;
        const auto it = std::find_if(g_env.plugins.begin(), g_env.plugins.end(),
                                     [&](const PluginEntry& e) { return e.fileName == fileName; });
        if (it == g_env.plugins.end())
            return 0;
        it->caps = use ? (it->caps & ~kNoUse) : (it->caps | kNoUse);
        g_env.changed = true;
        publishPlugins();
        return 1;
    });
}

PLB_API int32_t PlbSetColor(int32_t luminosity, int32_t blue, int32_t red, int32_t gamma)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        std::lock_guard lock(g_mutex);
        const auto colour = [](int32_t v) { return v >= kColorMin && v <= kColorMax; };
        if (g_env.starts == 0 || !colour(luminosity) || !colour(blue) || !colour(red) || gamma < kGammaMin ||
            gamma > kGammaMax)
            return 0;
        g_env.settings.luminosity = luminosity;
        g_env.settings.blue = blue;
        g_env.settings.red = red;
        g_env.settings.gamma = gamma;
        g_env.changed = true;
        LbrSetColorModify(luminosity, blue, red, gamma);
        return 1;
    });
}

PLB_API void PlbGetColor(int32_t* luminosity, int32_t* blue, int32_t* red, int32_t* gamma)
{
    tamrin::guardedVoid([&] {
        std::lock_guard lock(g_mutex);
        if (luminosity)
            *luminosity = g_env.settings.luminosity;
        if (blue)
            *blue = g_env.settings.blue;
        if (red)
            *red = g_env.settings.red;
        if (gamma)
            *gamma = g_env.settings.gamma;
    });
}

PLB_API int32_t PlbSetAnalyzeMode(int32_t localMode, int32_t serverMode, int32_t uploadMode)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        std::lock_guard lock(g_mutex);
        const auto mode = [](int32_t v) { return v >= 0 && v <= kModeMax; };
        if (g_env.starts == 0 || !mode(localMode) || !mode(serverMode) || !mode(uploadMode))
            return 0;
        g_env.settings.localMode = uint8_t(localMode);
        g_env.settings.serverMode = uint8_t(serverMode);
        g_env.settings.uploadMode = uint8_t(uploadMode);
        g_env.changed = true;
        return 1;
    });
}

PLB_API void PlbGetAnalyzeMode(int32_t* localMode, int32_t* serverMode, int32_t* uploadMode)
{
    tamrin::guardedVoid([&] {
        std::lock_guard lock(g_mutex);
        if (localMode)
            *localMode = g_env.settings.localMode;
        if (serverMode)
            *serverMode = g_env.settings.serverMode;
        if (uploadMode)
            *uploadMode = g_env.settings.uploadMode;
    });
}

PLB_API int32_t PlbSetServer(const char* address)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        std::lock_guard lock(g_mutex);
        const std::string_view text = address ? std::string_view(address) : std::string_view();
        if (g_env.starts == 0 || !validServerAddress(text))
            return 0;
        g_env.settings.server = text;
        g_env.changed = true;
        return 1;
    });
}

PLB_API int32_t PlbGetServer(char* address, int32_t capacity)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        std::lock_guard lock(g_mutex);
        if (address && capacity > 0)
            copyText(address, size_t(capacity), g_env.settings.server);
        return int32_t(g_env.settings.server.size());
    });
}

PLB_API int32_t PlbSaveEnviron(void)
{
    return tamrin::guarded<int32_t>(0, [] {
        std::lock_guard lock(g_mutex);
        if (g_env.starts == 0 || !save())
            return 0;
        g_env.changed = false;
        return 1;
    });
}
