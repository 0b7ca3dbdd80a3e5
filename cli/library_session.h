// The library's environment for one run of tamrin-cli: the console port installed, PlbInitialize
// at the start and PlbTerminate at the end, whatever way the command ends.
#ifndef TAMRIN_CLI_LIBRARY_SESSION_H
#define TAMRIN_CLI_LIBRARY_SESSION_H

#include <filesystem>

#include "console_port.h"

namespace tamrin::cli {

class LibrarySession
{
  public:
    LibrarySession();
    ~LibrarySession();
    LibrarySession(const LibrarySession&) = delete;
    LibrarySession& operator=(const LibrarySession&) = delete;

    // False when PlbInitialize failed; the commands that need the library then fail.
    bool started() const { return m_started; }

  private:
    // Messages on stderr; questions are never asked (scripts run this program), they take their
    // default answer.
    ConsolePort m_port;
    tamlib::UiPort* m_previous = nullptr;
    bool m_started = false;
};

// Whether the session of this run has started; reports on stderr for `subject` when not.
bool libraryReady(const char* subject);

// The folders the library keeps its files in: the settings file's and the CDAZ files'.
std::filesystem::path settingsFilePath();
std::filesystem::path analyzeFolderPath();

} // namespace tamrin::cli

#endif
