// analyze: the whole disc analysis of the application library (PlbAnalyzeCd) on a disc image or
// a drive: an earlier analysis found in the analyze folder or on the exchange server is adopted
// as the settings (or --adopt) say, else the sectors are offered to the chosen CD plugins (their
// order and choice: --plugins); the record is saved and may be uploaded (--upload). Questions
// are asked on a terminal; without one, or with the option that answers them, nothing waits.
// Ctrl-C stops the analysis after the current sector; the streams found until then are kept.
//
// analyze --json: {"source", "drive", "name", "title", "prefix", "anaSector", "complete",
//   "plugins": [{"file", "name", "version"}],
//   "streams": [{"index", "number", "name", "flags", "listed", "plugin", "kind", ...StrInfo}]}
//   every stream of the record; number is 0 and listed false for the streams that are hidden.
//
// identify: the library's file analysis (PlbAnalyzeFile) of each file: the plugin that takes it
// and its description. --json: [{"file", "plugin", ...StrInfo} or {"file", "error"}].
#include <algorithm>
#include <cctype>
#include <iomanip>
#include <iostream>
#include <map>
#include <sstream>

#include "command_set.h"
#include "commands.h"
#include "console_port.h"
#include "disc_source.h"
#include "interrupt.h"
#include "json_output.h"
#include "library_session.h"
#include "output.h"
#include "stored_analysis.h"
#include "tamlib/analysis.h"
#include "tamlib/strings.h"
#include "tamlib/ui_port.h"

namespace tamrin::cli {

namespace {

// The console port of the analysis: the answers the options give, Ctrl-C as STOP.
class AnalysisPort : public ConsolePort
{
  public:
    explicit AnalysisPort(const Options& options) : ConsolePort(options) {}

    bool stopRequested() override { return m_interrupts.stopped(); }
    bool stopped() const { return m_interrupts.stopped(); }

  private:
    InterruptStops m_interrupts;
};

std::string upperCase(std::string text)
{
    for (char& c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::vector<std::string> splitList(const std::string& list)
{
    std::vector<std::string> items;
    std::stringstream in(list);
    std::string item;
    while (std::getline(in, item, ','))
        if (!item.empty())
            items.push_back(upperCase(item));
    return items;
}

std::string sizeText(uint32_t bytes)
{
    char text[32] = {};
    PlbFormatSizeText(bytes, text, sizeof text);
    return text;
}

std::string durationText(uint32_t ms)
{
    char text[32];
    std::snprintf(text, sizeof text, "%u:%02u.%03u", ms / 60000u, ms / 1000u % 60u, ms % 1000u);
    return text;
}

Json storedStreamJson(const StoredStream& stream)
{
    Json object;
    object["index"] = stream.index;
    object["number"] = stream.number;
    object["listed"] = stream.number != 0;
    object["name"] = stream.name;
    object["flags"] = stream.flags;
    object["plugin"] = stream.pluginFile;
    if (!stream.hiddenBecause.empty())
        object["hiddenBecause"] = stream.hiddenBecause;
    addStrInfoFields(object, stream.info);
    return object;
}

void printRecordText(std::ostream& out, const std::string& source, CdazRecord* record,
                     const std::vector<StoredStream>& streams)
{
    char name[PLB_CDAZ_NAME_BYTES] = {};
    char title[PLB_CDAZ_TITLE_BYTES] = {};
    int32_t anaSector = 0;
    PlbGetCDAZInfo(record, name, title, nullptr, nullptr, &anaSector);
    const size_t listed = size_t(
        std::count_if(streams.begin(), streams.end(), [](const StoredStream& s) { return s.number != 0; }));
    out << source << ": " << title << " (" << name << "), "
        << (anaSector == -1 ? "analysis complete" : "analysis stopped at sector " + std::to_string(anaSector))
        << ", " << counted(listed, "stream", "streams") << " listed of " << streams.size() << '\n';
    // Why the others are left out, one line per reason with its count.
    std::map<std::string, size_t> reasons;
    for (const StoredStream& s : streams)
        if (s.number == 0)
            ++reasons[s.hiddenBecause];
    for (const auto& [reason, count] : reasons)
        out << "  not listed: " << count << ", " << reason << '\n';
    if (listed == 0)
        return;
    out << std::left << std::setw(5) << "#" << std::setw(24) << "title" << std::setw(20) << "kind"
        << std::setw(9) << "start" << std::setw(9) << "sectors" << std::setw(13) << "duration"
        << std::setw(10) << "size"
        << "plugin\n";
    for (const StoredStream& s : streams) {
        if (s.number == 0)
            continue;
        out << std::setw(5) << s.number << std::setw(24) << s.name << std::setw(20)
            << (hexText(s.info.kind, 2) + " " + kindWords(s.info.kind)) << std::setw(9) << s.info.startSector
            << std::setw(9) << s.info.sectorCount << std::setw(13) << durationText(s.info.durationMs)
            << std::setw(10) << sizeText(s.info.dataBytes) << s.pluginFile << '\n';
    }
    out << std::right;
}

const char* const kAdoptNames[] = {"local", "server", "analyze"};

// The plugins whose streams a complete stored analysis of the disc holds and that `chosen` (upper
// case) leaves out; empty when there is no such analysis.
std::vector<std::string> pluginsLeftOut(int32_t drive, const std::vector<std::string>& chosen)
{
    std::string ignored;
    const RecordPtr stored = loadStoredAnalysis(drive, ignored);
    std::vector<std::string> missing;
    if (!stored)
        return missing;
    int32_t anaSector = 0;
    PlbGetCDAZInfo(stored.get(), nullptr, nullptr, nullptr, nullptr, &anaSector);
    if (anaSector != -1)
        return missing;
    for (const StoredStream& stream : storedStreams(stored.get()))
        if (std::find(chosen.begin(), chosen.end(), stream.pluginFile) == chosen.end() &&
            std::find(missing.begin(), missing.end(), stream.pluginFile) == missing.end())
            missing.push_back(stream.pluginFile);
    return missing;
}

} // namespace

std::optional<std::string> analyzeUsageProblem(const AnalyzeOptions& options)
{
    if (!options.adopt.empty() &&
        std::find(std::begin(kAdoptNames), std::end(kAdoptNames), options.adopt) == std::end(kAdoptNames))
        return "--adopt takes local, server or analyze";
    if (!options.upload.empty() && options.upload != "yes" && options.upload != "no")
        return "--upload takes yes or no";
    if (options.plugins && splitList(*options.plugins).empty())
        return "--plugins needs at least one plugin file name";
    if (options.title && options.title->size() > PLB_CDAZ_TITLE_BYTES - 1)
        return "--title has at most 64 bytes";
    if (options.prefix && options.prefix->size() > PLB_CDAZ_PREFIX_BYTES - 1)
        return "--prefix has at most 16 bytes";
    return std::nullopt;
}

int runAnalyze(const AnalyzeOptions& options)
{
    if (!libraryReady("analyze"))
        return kExitFailure;
    DiscSource source;
    std::string error;
    if (!source.open(options.drive, error)) {
        reportError(options.drive, error);
        return kExitFailure;
    }

    // A complete analysis is not silently replaced by a narrower one.
    if (options.plugins && options.adopt != "local" && !options.replace) {
        const std::vector<std::string> missing = pluginsLeftOut(source.drive(), splitList(*options.plugins));
        if (!missing.empty()) {
            std::string names;
            for (const std::string& file : missing)
                names += (names.empty() ? "" : ", ") + file;
            reportError(options.drive, "the complete stored analysis has streams of " + names +
                                           ", which --plugins leaves out; it is kept (give --replace to "
                                           "analyse with these plugins and replace it)");
            return kExitFailure;
        }
    }

    ConsolePort::Options portOptions;
    portOptions.progressLine = !options.noProgress;
    tamlib::AnalysisOptions analysis;
    analysis.drive = source.drive();
    if (!options.adopt.empty()) {
        // The adoption is asked, and answered by the option.
        analysis.localMode = 0;
        if (options.adopt == "local")
            portOptions.presetAdopt = int32_t(tamlib::AdoptAnswer::Adopt);
        else if (options.adopt == "server")
            portOptions.presetAdopt = int32_t(tamlib::AdoptAnswer::Server);
        else
            portOptions.presetAdopt = int32_t(tamlib::AdoptAnswer::Analyze);
    }
    if (!options.upload.empty())
        analysis.uploadMode = options.upload == "yes" ? 2 : 1;
    if (options.plugins)
        portOptions.presetPlugins = splitList(*options.plugins);
    if (options.title)
        portOptions.presetTitle = *options.title;
    if (options.prefix)
        portOptions.presetPrefix = *options.prefix;

    RecordPtr record;
    bool stopped = false;
    {
        AnalysisPort port(portOptions);
        tamlib::ScopedUiPort installed(port);
        record.reset(tamlib::analyzeCd(nullptr, analysis));
        stopped = port.stopped();
    }
    if (!record) {
        reportError(options.drive, stopped ? "analysis stopped before any stream was found"
                                           : "no analysis (cancelled, or nothing found)");
        return kExitFailure;
    }
    // A title or prefix given for an adopted record is stored too.
    if (options.title || options.prefix) {
        PlbSetCDAZInfo(record.get(), options.title ? options.title->c_str() : nullptr,
                       options.prefix ? options.prefix->c_str() : nullptr, 0, 0);
        char name[PLB_CDAZ_NAME_BYTES] = {};
        PlbGetCDAZInfo(record.get(), name, nullptr, nullptr, nullptr, nullptr);
        if (PlbSaveCDAZ(nullptr, name, record.get()) != 1)
            reportError(name, "cannot save the CDAZ file");
    }

    const std::vector<StoredStream> streams = storedStreams(record.get());
    char name[PLB_CDAZ_NAME_BYTES] = {};
    char title[PLB_CDAZ_TITLE_BYTES] = {};
    char prefix[PLB_CDAZ_PREFIX_BYTES] = {};
    int32_t anaSector = 0;
    PlbGetCDAZInfo(record.get(), name, title, prefix, nullptr, &anaSector);
    if (options.json) {
        Json plugins = Json::array();
        for (int32_t i = 0;; ++i) {
            char file[PLB_CDAZ_PLUGIN_FILE_BYTES] = {};
            char pluginName[PLB_CDAZ_PLUGIN_NAME_BYTES] = {};
            int16_t version = 0;
            if (PlbGetCDAZPlugin(record.get(), i, file, pluginName, &version, nullptr, nullptr) != 1)
                break;
            plugins.push_back({{"file", file}, {"name", pluginName}, {"version", version}});
        }
        Json list = Json::array();
        for (const StoredStream& stream : streams)
            list.push_back(storedStreamJson(stream));
        Json document;
        document["source"] = options.drive;
        document["drive"] = source.drive();
        document["name"] = name;
        document["title"] = title;
        document["prefix"] = prefix;
        document["anaSector"] = anaSector;
        document["complete"] = anaSector == -1;
        document["plugins"] = std::move(plugins);
        document["streams"] = std::move(list);
        writeJson(std::cout, document);
    } else {
        printRecordText(std::cout, options.drive, record.get(), streams);
    }
    return anaSector == -1 ? kExitOk : kExitFailure;
}

int runIdentify(const IdentifyOptions& options)
{
    if (!libraryReady("identify"))
        return kExitFailure;
    int status = kExitOk;
    Json list = Json::array();
    for (const std::string& file : options.files) {
        StrInfo info{};
        char plugin[PLB_CDAZ_PLUGIN_FILE_BYTES] = {};
        const bool found = PlbAnalyzeFile(nullptr, file.c_str(), &info, plugin) == 1;
        if (!found)
            status = kExitFailure;
        if (options.json) {
            Json object;
            object["file"] = file;
            if (found) {
                object["plugin"] = plugin;
                addStrInfoFields(object, info);
            } else {
                object["error"] = "no plugin recognises the file";
            }
            list.push_back(std::move(object));
        } else if (found) {
            std::cout << file << ": " << plugin << '\n';
            printStrInfoText(std::cout, info);
        }
    }
    if (options.json)
        writeJson(std::cout, list);
    return status;
}

void addAnalyzeCommands(CommandSet& commands)
{
    auto options = std::make_shared<AnalyzeOptions>();
    AnalyzeOptions& a = *options;
    CLI::App* analyze = commands.add(
        nullptr, "analyze",
        "Analyse a disc as the player does: adopt its stored or shared CDAZ, or offer every sector to "
        "the CD plugins, save the CDAZ and list its streams.",
        [options] {
            return runUnlessProblem("analyze", analyzeUsageProblem(*options),
                                    [&] { return runAnalyze(*options); });
        });
    analyze->add_option("drive", a.drive, "A drive index or a disc image (CUE sheet, ISO or raw image).")
        ->required();
    analyze->add_option("--adopt", a.adopt,
                        "Answer the adoption question: local (the CDAZ found), server (look for a newer one "
                        "on the exchange server), analyze (analyse the disc again).");
    analyze->add_option("--plugins", a.plugins,
                        "Plugin file names in any case, comma-separated, in the order they take part; the "
                        "others do not.");
    analyze->add_flag("--replace", a.replace,
                      "Let an analysis with fewer plugins (--plugins) replace a complete stored one.");
    analyze->add_option("--upload", a.upload, "yes: send a complete new analysis to the server; no: never.");
    analyze->add_option("--title", a.title, "The disc title stored (at most 64 bytes).");
    analyze->add_option("--prefix", a.prefix, "The prefix of the default stream titles (at most 16 bytes).");
    analyze->add_flag("--json", a.json, "Write JSON instead of text (every stream of the CDAZ).");
    addNoProgressFlag(analyze, a.noProgress);

    auto identifyOptions = std::make_shared<IdentifyOptions>();
    CLI::App* identify = commands.add(
        nullptr, "identify",
        "Find the installed plugin that takes each stream file, as the player (and probe) chooses it, "
        "and show its description.",
        [identifyOptions] { return runIdentify(*identifyOptions); });
    identify->add_option("files", identifyOptions->files, "Stream files.")->required();
    addJsonFlag(identify, identifyOptions->json);
}

} // namespace tamrin::cli
