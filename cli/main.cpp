// tamrin-cli: lists the format plugins, probes files and lists the units of a stream, in text
// or JSON, through the same library calls the player uses.
//
// Exit status: 0 when everything asked for was done; 1 when an input failed (the other inputs
// are still handled); 2 when the command line is wrong.
#include <CLI/CLI.hpp>

#include <iostream>

#include "commands.h"

namespace tamrin::cli {

void reportError(const std::string& subject, const std::string& message)
{
    std::cerr << "tamrin-cli: " << subject << ": " << message << '\n';
}

} // namespace tamrin::cli

int main(int argc, char** argv)
{
    using namespace tamrin::cli;

    CLI::App app{"Lists format plugins, probes movie and sound files, lists a stream's units."};
    app.name("tamrin-cli");
    app.require_subcommand(1);

    PluginsOptions pluginsOptions;
    CLI::App* plugins =
        app.add_subcommand("plugins", "List every plugin of the PsrPlugins folder beside this program.");
    plugins->add_flag("--json", pluginsOptions.json, "Write JSON instead of text.");

    ProbeOptions probeOptions;
    CLI::App* probe = app.add_subcommand(
        "probe", "Find the plugin that accepts each file and show its stream description.");
    probe->add_option("files", probeOptions.files, "Files to probe.")->required();
    probe->add_flag("--json", probeOptions.json, "Write JSON instead of text.");

    UnitsOptions unitsOptions;
    CLI::App* units = app.add_subcommand(
        "units", "Read a file's stream unit by unit; show each unit and a checksum of its payload.");
    units->add_option("file", unitsOptions.file, "The file to read.")->required();
    units->add_option("--plugin", unitsOptions.plugin,
                      "Plugin file name (e.g. Filmfile.psr); default: the first that accepts the file.");
    units->add_option("--limit", unitsOptions.limit, "Stop after this many units.")
        ->check(CLI::PositiveNumber);
    units->add_flag("--json", unitsOptions.json, "Write JSON instead of text.");
    units->add_flag("--no-progress", unitsOptions.noProgress,
                    "Never show the progress line on the terminal.");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // Help is a success (and goes to stdout); every other parse error is a usage error.
        const int status = app.exit(error);
        return status == 0 ? kExitOk : kExitUsage;
    }

    if (*plugins)
        return runPlugins(pluginsOptions);
    if (*probe)
        return runProbe(probeOptions);
    return runUnits(unitsOptions);
}
