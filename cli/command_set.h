// The commands of tamrin-cli: each command file adds its own subcommands and options to the
// program's command line, with what runs the command once the command line has been parsed.
#ifndef TAMRIN_CLI_COMMAND_SET_H
#define TAMRIN_CLI_COMMAND_SET_H

#include <CLI/CLI.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tamrin::cli {

class CommandSet
{
  public:
    explicit CommandSet(CLI::App& app) : m_app(app) {}

    // A subcommand of `parent` (the program itself when null); `run` gives its exit status.
    CLI::App* add(CLI::App* parent, const std::string& name, const std::string& description,
                  std::function<int()> run);
    CLI::App& app() { return m_app; }

    // The exit status of the chosen command; nothing when none was chosen.
    std::optional<int> runChosen() const;

  private:
    CLI::App& m_app;
    std::vector<std::pair<CLI::App*, std::function<int()>>> m_commands;
};

// `run`, unless `problem` says the options cannot go together: then that is reported for
// `subject` and the status is the usage error.
int runUnlessProblem(const char* subject, const std::optional<std::string>& problem,
                     const std::function<int()>& run);

// A whole number from `least` to `most`; the message of a value outside names both bounds.
CLI::Validator wholeRange(uint64_t least, uint64_t most = UINT32_MAX);

void addJsonFlag(CLI::App* command, bool& json);
void addNoProgressFlag(CLI::App* command, bool& noProgress);

void addPluginsCommand(CommandSet& commands);
void addProbeCommand(CommandSet& commands);
void addUnitsCommand(CommandSet& commands);
void addFramesCommand(CommandSet& commands);
void addAudioCommand(CommandSet& commands);
void addConvertCommand(CommandSet& commands);
void addDiscCommands(CommandSet& commands); // drives, toc, volume, read
void addScanCommand(CommandSet& commands);
void addSettingsCommand(CommandSet& commands);
void addCdazCommands(CommandSet& commands);    // cdaz list, show, edit, copy, delete
void addAnalyzeCommands(CommandSet& commands); // analyze, identify

} // namespace tamrin::cli

#endif
