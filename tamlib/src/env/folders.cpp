#include "env/folders.h"
#include "installed_plugins.h"

#include <dlfcn.h>

#include <cstdlib>
#include <system_error>

namespace tamlib {

namespace fs = std::filesystem;

namespace {

fs::path xdgFolder(const char* variable, const char* fallbackUnderHome)
{
    if (const char* home = std::getenv("TAMRIN_HOME"); home && *home)
        return fs::path(home);
    if (const char* xdg = std::getenv(variable); xdg && *xdg && xdg[0] == '/')
        return fs::path(xdg) / "tamrin";
    if (const char* user = std::getenv("HOME"); user && *user)
        return fs::path(user) / fallbackUnderHome / "tamrin";
    return fs::path(".");
}

} // namespace

fs::path configFolder()
{
    return xdgFolder("XDG_CONFIG_HOME", ".config");
}

fs::path dataFolder()
{
    return xdgFolder("XDG_DATA_HOME", ".local/share");
}

fs::path libraryFolder()
{
    return objectFolder(reinterpret_cast<const void*>(&libraryFolder));
}

fs::path objectFolder(const void* address)
{
    Dl_info info{};
    if (::dladdr(address, &info) == 0 || !info.dli_fname || !*info.dli_fname)
        return {};
    std::error_code error;
    fs::path self = fs::canonical(fs::path(info.dli_fname), error);
    if (error) {
        // dladdr names the main program by the name it was started with; the kernel knows better.
        self = fs::read_symlink("/proc/self/exe", error);
        if (error)
            return {};
    }
    return self.parent_path();
}

fs::path pluginFolder()
{
    const fs::path folder = libraryFolder();
    return folder.empty() ? fs::path() : folder / "PsrPlugins";
}

fs::path analyzeFolder()
{
    return dataFolder() / "Analyze";
}

} // namespace tamlib
