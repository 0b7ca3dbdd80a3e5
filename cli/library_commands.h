// The commands over the application library, settings and cdaz: their command-line options and
// the call of the one chosen.
#ifndef TAMRIN_CLI_LIBRARY_COMMANDS_H
#define TAMRIN_CLI_LIBRARY_COMMANDS_H

#include <optional>

#include "commands.h"

namespace CLI {
class App;
}

namespace tamrin::cli {

class LibraryCommands
{
  public:
    // Adds settings, cdaz (with list, show, edit, copy, delete), analyze and identify to `app`.
    explicit LibraryCommands(CLI::App& app);

    // The exit status of the chosen command, or nothing when none of these was chosen.
    std::optional<int> run() const;

  private:
    SettingsOptions m_settingsOptions;
    CdazOptions m_cdazOptions;
    AnalyzeOptions m_analyzeOptions;
    IdentifyOptions m_identifyOptions;
    CLI::App* m_analyze = nullptr;
    CLI::App* m_identify = nullptr;
    CLI::App* m_settings = nullptr;
    CLI::App* m_list = nullptr;
    CLI::App* m_show = nullptr;
    CLI::App* m_edit = nullptr;
    CLI::App* m_copy = nullptr;
    CLI::App* m_delete = nullptr;
};

} // namespace tamrin::cli

#endif
