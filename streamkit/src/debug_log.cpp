// The host's optional debug log.
#include <sys/stat.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "streamkit/lbr.h"

namespace {

std::atomic<int32_t> g_debug{0};

// $TAMRIN_HOME, else $XDG_STATE_HOME/tamrin, else ~/.local/state/tamrin; created when missing.
std::string stateFolder()
{
    std::string folder;
    if (const char* home = std::getenv("TAMRIN_HOME"); home && *home)
        folder = home;
    else if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state)
        folder = std::string(state) + "/tamrin";
    else if (const char* user = std::getenv("HOME"); user && *user)
        folder = std::string(user) + "/.local/state/tamrin";
    else
        return ".";
    for (size_t pos = folder.find('/', 1); pos != std::string::npos; pos = folder.find('/', pos + 1))
        ::mkdir(folder.substr(0, pos).c_str(), 0755);
    ::mkdir(folder.c_str(), 0755);
    return folder;
}

} // namespace

LBR_API int32_t LbrSETDEBUG(int32_t value)
{
    g_debug = value;
    return value;
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
    const std::string path = stateFolder() + "/debug.TXT";
    FILE* file = std::fopen(path.c_str(), "a");
    if (!file)
        return 0;
    std::fputs(message, file);
    std::fclose(file);
    return 1;
}
