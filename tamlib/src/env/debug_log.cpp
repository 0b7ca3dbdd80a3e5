// The library's debug log, "DEBUG.TXT" in the state folder.
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "env/folders.h"
#include "tamlib/environment.h"
#include "tamrin_common/c_guard.h"

namespace {

std::atomic<int32_t> g_debug{0};

} // namespace

PLB_API int32_t PlbSETDEBUG(int32_t flag)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        g_debug = flag;
        return flag;
    });
}

PLB_API int32_t PlbDEBUG(const char* format, ...)
{
    if (g_debug == 0 || !format)
        return 0;
    char message[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    tamrin::guardedVoid([&] {
        const std::filesystem::path folder = tamlib::stateFolder();
        std::error_code error;
        std::filesystem::create_directories(folder, error);
        if (FILE* file = std::fopen((folder / "DEBUG.TXT").c_str(), "a")) {
            std::fputs(message, file);
            std::fclose(file);
        }
    });
    return 0;
}
