// tamrin-cli: lists the format plugins, probes files, scans discs for streams, lists the units
// of a stream (of a file or on a disc) and decodes its pictures and its sound, shows and changes
// the settings and the CDAZ files (disc analyses), in text or JSON, through the same library calls
// the player uses. Each command file adds its own command (command_set.h).
#include <CLI/CLI.hpp>

#include <iostream>

#include "command_set.h"
#include "commands.h"
#include "commands_play.h"
#include "library_session.h"

#ifndef TAMRIN_VERSION
#define TAMRIN_VERSION "0"
#endif

namespace tamrin::cli {

void reportError(const std::string& subject, const std::string& message)
{
    std::cerr << "tamrin-cli: " << subject << ": " << message << '\n';
}

} // namespace tamrin::cli

int main(int argc, char** argv)
{
    using namespace tamrin::cli;

    CLI::App app{"Lists format plugins, probes movie and sound files, scans discs for streams, lists a "
                 "stream's units, decodes its pictures and its sound, converts streams into WAVE, AVI and MP3 files, "
                 "keeps disc analyses (CDAZ files)."};
    app.name("tamrin-cli");
    app.set_version_flag("--version", std::string("tamrin-cli ") + TAMRIN_VERSION);
    app.require_subcommand(1);
    app.footer("Exit status: 0 when everything asked for was done; 1 when an input failed (the other "
               "inputs are still handled); 2 when the command line is wrong.");

    CommandSet commands(app);
    addPluginsCommand(commands);
    addProbeCommand(commands);
    addUnitsCommand(commands);
    addFramesCommand(commands);
    addAudioCommand(commands);
    addConvertCommand(commands);
    addDiscCommands(commands);
    addScanCommand(commands);
    addSettingsCommand(commands);
    addCdazCommands(commands);
    addAnalyzeCommands(commands);
    addPlayCommand(commands);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // Help and the version are a success (and go to stdout); every other parse error is a
        // usage error.
        const int status = app.exit(error);
        return status == 0 ? kExitOk : kExitUsage;
    }

    // Every command runs in the library's environment, as the player does: its settings (the
    // colour correction among them) and its list of installed plugins.
    const LibrarySession session;
    return commands.runChosen().value_or(kExitUsage);
}
