// Where the libraries and programs keep their files: $TAMRIN_HOME for all of them (tests always
// set it); else the XDG base folder named by `variable` (an absolute path; the XDG rules say a
// relative one is ignored) with "tamrin" below it; else `underHome`/tamrin below $HOME. Empty
// when none of these is set. Nothing is created here.
#pragma once

#include <cstdlib>
#include <filesystem>

namespace tamrin_common {

inline std::filesystem::path userFolder(const char* variable, const char* underHome)
{
    if (const char* home = std::getenv("TAMRIN_HOME"); home && *home)
        return home;
    if (const char* xdg = std::getenv(variable); xdg && xdg[0] == '/')
        return std::filesystem::path(xdg) / "tamrin";
    if (const char* user = std::getenv("HOME"); user && *user)
        return std::filesystem::path(user) / underHome / "tamrin";
    return {};
}

// Settings files.
inline std::filesystem::path configFolder()
{
    return userFolder("XDG_CONFIG_HOME", ".config");
}

// CDAZ files (the "Analyze" folder below it).
inline std::filesystem::path dataFolder()
{
    return userFolder("XDG_DATA_HOME", ".local/share");
}

// Debug logs.
inline std::filesystem::path stateFolder()
{
    return userFolder("XDG_STATE_HOME", ".local/state");
}

} // namespace tamrin_common
