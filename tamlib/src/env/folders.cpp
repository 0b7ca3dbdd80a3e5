#include "env/folders.h"
#include "installed_plugins.h"

#include <dlfcn.h>

#include <cstdlib>
#include <system_error>

#include "tamrin_common/user_folders.h"

namespace tamlib {

namespace fs = std::filesystem;

namespace {

// Without any home, the current folder.
fs::path orCurrent(fs::path folder)
{
    return folder.empty() ? fs::path(".") : folder;
}

} // namespace

fs::path configFolder()
{
    return orCurrent(tamrin_common::configFolder());
}

fs::path dataFolder()
{
    return orCurrent(tamrin_common::dataFolder());
}

fs::path stateFolder()
{
    return orCurrent(tamrin_common::stateFolder());
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
