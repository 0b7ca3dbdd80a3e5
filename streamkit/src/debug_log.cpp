// The host's optional debug log.
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "streamkit/lbr.h"
#include "tamrin_common/c_guard.h"
#include "tamrin_common/user_folders.h"

namespace {

std::atomic<int32_t> g_debug{0};

// The state folder, created when missing; the current folder when there is no home at all.
std::filesystem::path logFolder()
{
    std::filesystem::path folder = tamrin_common::stateFolder();
    if (folder.empty())
        return ".";
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    return folder;
}

} // namespace

LBR_API int32_t LbrSETDEBUG(int32_t value)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        g_debug = value;
        return value;
    });
}

LBR_API int32_t LbrDEBUG(const char* format, ...)
{
    if (g_debug == 0 || !format)
        return 0;
    char message[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    return tamrin::guarded<int32_t>(0, [&] {
        FILE* file = std::fopen((logFolder() / "debug.TXT").c_str(), "a");
        if (!file)
            return 0;
        std::fputs(message, file);
        std::fclose(file);
        return 1;
    });
}
