#include "library_commands.h"

#include <CLI/CLI.hpp>

namespace tamrin::cli {

LibraryCommands::LibraryCommands(CLI::App& app)
{
    m_settings = app.add_subcommand(
        "settings",
        "Show the library's settings (drive, colour, CDAZ analysis modes, plugin order), or change "
        "and store them with --set.");
    m_settings->add_option(
        "--set", m_settingsOptions.assignments,
        "KEY=VALUE, repeatable: drive=INDEX (-1 none), color=LUMINOSITY,BLUE,RED,GAMMA "
        "(-128 to 127, gamma x 100 0 to 800), local=0|1|2, search=0|1|2, upload=0|1|2, "
        "server=HOST[:PORT] (the CDAZ exchange; empty: off), plugins=FILE,-FILE,... (priority "
        "order; a leading '-' switches one off).");
    m_settings->add_flag("--json", m_settingsOptions.json, "Write JSON instead of text.");

    CLI::App* cdaz =
        app.add_subcommand("cdaz", "List, show, edit, copy and delete CDAZ files (disc analyses).");
    cdaz->require_subcommand(1);
    CdazOptions& o = m_cdazOptions;
    const char* fileHelp = "A CDAZ file (a path) or the name of one in the analyze folder.";

    m_list = cdaz->add_subcommand("list", "List the CDAZ files of the analyze folder with title and stream "
                                          "counts.");
    m_list->add_flag("--json", o.json, "Write JSON instead of text.");

    m_show = cdaz->add_subcommand("show", "Show a CDAZ: the disc texts, the plugins and the streams.");
    m_show->add_option("file", o.file, fileHelp)->required();
    m_show->add_flag("--json", o.json, "Write JSON instead of text.");

    m_edit = cdaz->add_subcommand("edit", "Change a CDAZ's texts, stream names, hidden streams and plugins, "
                                          "and save it.");
    m_edit->add_option("file", o.file, fileHelp)->required();
    m_edit->add_option("--title", o.title, "The disc title (at most 64 bytes).");
    m_edit->add_option("--prefix", o.prefix, "The prefix of the default stream titles (at most 16 bytes).");
    m_edit
        ->add_option("--stream", o.nameStreams, "A stream number (from 1) whose --name follows; repeatable.")
        ->check(CLI::PositiveNumber);
    m_edit->add_option("--name", o.names,
                       "The name of the stream of the --stream before it (empty: the default title).");
    m_edit->add_option("--hide", o.hide, "Hide this stream (number from 1); repeatable.")
        ->check(CLI::PositiveNumber);
    m_edit->add_option("--show", o.show, "Show this stream again (number from 1); repeatable.")
        ->check(CLI::PositiveNumber);
    m_edit->add_option("--plugin-off", o.pluginsOff,
                       "Switch a plugin off for this disc (file name or number from 1); repeatable.");
    m_edit->add_option("--plugin-on", o.pluginsOn,
                       "Switch a plugin on again (file name or number from 1); repeatable.");
    m_edit->add_option("--plugin-order", o.pluginOrder,
                       "Plugin file names or numbers, comma-separated, highest priority first; the "
                       "others follow in their order.");

    m_copy = cdaz->add_subcommand("copy", "Load a CDAZ and save it under another folder or file name.");
    m_copy->add_option("file", o.file, fileHelp)->required();
    m_copy->add_option("dest", o.dest, "The folder or the file to write.")->required();
    m_copy->add_flag("--force", o.force, "Replace an existing file.");

    m_delete = cdaz->add_subcommand("delete", "Delete a CDAZ file.");
    m_delete->add_option("file", o.file, fileHelp)->required();

    AnalyzeOptions& a = m_analyzeOptions;
    m_analyze = app.add_subcommand(
        "analyze",
        "Analyse a disc as the player does: adopt its stored or shared CDAZ, or offer every sector to "
        "the CD plugins, save the CDAZ and list its streams.");
    m_analyze->add_option("drive", a.drive, "A drive index or a disc image (CUE sheet, ISO or raw image).")
        ->required();
    m_analyze->add_option(
        "--adopt", a.adopt,
        "Answer the adoption question: local (the CDAZ found), server (look for a newer one "
        "on the exchange server), analyze (analyse the disc again).");
    m_analyze->add_option("--plugins", a.plugins,
                          "Plugin file names, comma-separated, in the order they take part; the others do "
                          "not.");
    m_analyze->add_option("--upload", a.upload,
                          "yes: send a complete new analysis to the server; no: never.");
    m_analyze->add_option("--title", a.title, "The disc title stored (at most 64 bytes).");
    m_analyze->add_option("--prefix", a.prefix,
                          "The prefix of the default stream titles (at most 16 bytes).");
    m_analyze->add_flag("--json", a.json, "Write JSON instead of text (every stream of the CDAZ).");
    m_analyze->add_flag("--no-progress", a.noProgress, "No progress line on a terminal.");

    m_identify = app.add_subcommand("identify", "Find the installed plugin that takes each stream file, as "
                                                "the player does, and show its description.");
    m_identify->add_option("files", m_identifyOptions.files, "Stream files.")->required();
    m_identify->add_flag("--json", m_identifyOptions.json, "Write JSON instead of text.");
}

std::optional<int> LibraryCommands::run() const
{
    if (*m_settings)
        return runSettings(m_settingsOptions);
    if (*m_list)
        return runCdazList(m_cdazOptions);
    if (*m_show)
        return runCdazShow(m_cdazOptions);
    if (*m_edit) {
        if (const auto problem = cdazEditUsageProblem(m_cdazOptions)) {
            reportError("cdaz edit", *problem);
            return kExitUsage;
        }
        return runCdazEdit(m_cdazOptions);
    }
    if (*m_copy)
        return runCdazCopy(m_cdazOptions);
    if (*m_delete)
        return runCdazDelete(m_cdazOptions);
    if (*m_analyze) {
        if (const auto problem = analyzeUsageProblem(m_analyzeOptions)) {
            reportError("analyze", *problem);
            return kExitUsage;
        }
        return runAnalyze(m_analyzeOptions);
    }
    if (*m_identify)
        return runIdentify(m_identifyOptions);
    return std::nullopt;
}

} // namespace tamrin::cli
