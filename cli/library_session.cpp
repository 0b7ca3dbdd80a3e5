#include "library_session.h"

#include <cstdlib>

#include "commands.h"
#include "tamlib/environment.h"
#include "tamrin_common/user_folders.h"

namespace tamrin::cli {

namespace fs = std::filesystem;

namespace {

const LibrarySession* g_session = nullptr;

// Where the library looks too: without any home, the current folder.
fs::path orCurrent(fs::path folder)
{
    return folder.empty() ? fs::path(".") : folder;
}

ConsolePort::Options consoleOptions()
{
    ConsolePort::Options options;
    options.interactive = 0;
    return options;
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
    return orCurrent(tamrin_common::configFolder()) / "Tamlib.ini";
}

fs::path analyzeFolderPath()
{
    return orCurrent(tamrin_common::dataFolder()) / "Analyze";
}

} // namespace tamrin::cli
