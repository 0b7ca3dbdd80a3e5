#include "convert/avi_module.h"

#include <dlfcn.h>

#include <filesystem>
#include <mutex>

#include "env/folders.h"
#include "streamkit/lbr.h"
#include "tamlib/environment.h"

namespace tamlib::convert {

namespace {

constexpr const char* kAviModule = "libtamlib-avi.so";

// The module beside libtamlib; where this code is linked into a program (the tests), beside
// libstreamkit; last, wherever the loader finds it by name.
void* loadModule(std::string& why)
{
    for (const void* anchor :
         {reinterpret_cast<const void*>(&libraryFolder), reinterpret_cast<const void*>(&LbrOpenPSR)}) {
        const std::filesystem::path folder = objectFolder(anchor);
        if (folder.empty())
            continue;
        const std::filesystem::path candidate = folder / kAviModule;
        if (void* module = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL))
            return module;
        // A module that is there but cannot be loaded (a missing FFmpeg library) says why.
        if (const char* error = ::dlerror(); error && std::filesystem::exists(candidate))
            why = error;
    }
    if (void* module = ::dlopen(kAviModule, RTLD_NOW | RTLD_LOCAL))
        return module;
    if (why.empty()) {
        const char* error = ::dlerror();
        why = error ? error : "not found";
    }
    return nullptr;
}

struct Loaded
{
    const TamlibAviModule* table = nullptr;
    std::string why;
};

const Loaded& loaded()
{
    static std::once_flag once;
    static Loaded result;
    std::call_once(once, [] {
        void* module = loadModule(result.why);
        if (!module) {
            result.why = std::string(kAviModule) + " cannot be loaded: " + result.why;
            PlbDEBUG("avi: %s\n", result.why.c_str());
            return;
        }
        const auto entry = reinterpret_cast<TamlibAviModuleFn>(::dlsym(module, TAMLIB_AVI_MODULE_NAME));
        const TamlibAviModule* table = entry ? entry() : nullptr;
        if (!table || table->version != TAMLIB_AVI_MODULE_VERSION || table->size < sizeof(TamlibAviModule)) {
            // The module stays loaded: a half-usable library is not unloaded under its own feet.
            result.why = std::string(kAviModule) + " is not a module of this version";
            PlbDEBUG("avi: %s\n", result.why.c_str());
            return;
        }
        result.table = table;
    });
    return result;
}

} // namespace

const TamlibAviModule* aviModule(std::string* why)
{
    const Loaded& module = loaded();
    if (!module.table && why)
        *why = module.why;
    return module.table;
}

} // namespace tamlib::convert
