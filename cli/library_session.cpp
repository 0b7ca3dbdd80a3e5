#include "library_session.h"

#include <cstdlib>

#include "commands.h"
#include "tamlib/environment.h"

namespace tamrin::cli {

namespace fs = std::filesystem;

namespace {

const LibrarySession* g_session = nullptr;

tamlib::ConsolePort::Options consoleOptions()
{
    tamlib::ConsolePort::Options options;
    options.interactive = 0;
    return options;
}

// $TAMRIN_HOME, else the XDG folder of `variable` (absolute paths only), else the folder below
// the home folder: where the library looks too.
fs::path homeFolder(const char* variable, const char* fallbackUnderHome)
{
    if (const char* home = std::getenv("TAMRIN_HOME"); home && *home)
        return fs::path(home);
    if (const char* xdg = std::getenv(variable); xdg && xdg[0] == '/')
        return fs::path(xdg) / "tamrin";
    if (const char* user = std::getenv("HOME"); user && *user)
        return fs::path(user) / fallbackUnderHome / "tamrin";
    return fs::path(".");
}

} // namespace

LibrarySession::LibrarySession() : m_port(consoleOptions())
{
    m_previous = tamlib::setUiPort(&m_port);
    m_started = PlbInitialize() != 0;
    g_session = this;
}

LibrarySession::~LibrarySession()
{
    if (m_started)
        PlbTerminate();
    tamlib::setUiPort(m_previous);
    g_session = nullptr;
}

bool libraryReady(const char* subject)
{
    if (g_session && g_session->started())
        return true;
    reportError(subject, "the application library could not be started");
    return false;
}

fs::path settingsFilePath()
{
    return homeFolder("XDG_CONFIG_HOME", ".config") / "Tamlib.ini";
}

fs::path analyzeFolderPath()
{
    return homeFolder("XDG_DATA_HOME", ".local/share") / "Analyze";
}

} // namespace tamrin::cli
