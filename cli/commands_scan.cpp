// scan: every sector of every data track of a disc (an image or a drive) offered to the CD
// plugins, and the streams they found, numbered from 1 in plugin order. The numbers are the
// ones that frames, audio and units take with --stream.
//
// Ctrl-C stops the scan after the current sector; the streams found so far are listed, with the
// sector the scan stopped at.
//
// scan --json: {"source", "drive", "complete", "stopPoint", "sectorsRead", "sectorsFailed",
//   "plugins": [{"file", "name", "outcome", "streams"}, ...],
//   "streams": [{"number", "plugin", "kind", "reserved", "startSector", ..., "outHeight"}, ...]}
//   complete is false when the scan was stopped (Ctrl-C or --on-error abort); stopPoint is then
//   the sector after the last one read, else -1. outcome is "scanned", "notBound",
//   "noDiscSupport", "nothingToScan" or "wrongSectorSize". A stream holds every StrInfo field
//   after its number and its plugin's file name.
#include <algorithm>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <map>

#include "command_set.h"
#include "commands.h"
#include "disc_source.h"
#include "interrupt.h"
#include "json_output.h"
#include "output.h"
#include "scan_run.h"

namespace tamrin::cli {

namespace {

std::string outcomeName(scan::PluginOutcome outcome)
{
    switch (outcome) {
    case scan::PluginOutcome::Scanned:
        return "scanned";
    case scan::PluginOutcome::NotBound:
        return "notBound";
    case scan::PluginOutcome::NoDiscSupport:
        return "noDiscSupport";
    case scan::PluginOutcome::NoProbe:
        return "nothingToScan";
    case scan::PluginOutcome::WrongSectorSize:
        return "wrongSectorSize";
    }
    return "unknown";
}

Json streamJson(const ListedStream& stream)
{
    Json object;
    object["number"] = stream.number;
    object["plugin"] = stream.pluginFile;
    addStrInfoFields(object, stream.info);
    return object;
}

std::string sizeText(const StrInfo& info)
{
    if (info.width == 0 && info.height == 0)
        return "-";
    return std::to_string(info.width) + "x" + std::to_string(info.height);
}

std::string audioText(const StrInfo& info)
{
    if (!(info.kind & StrAudio) && info.sampleRate == 0)
        return "-";
    std::string text = std::to_string(info.sampleRate) + " Hz " + std::to_string(info.channels) + " ch " +
                       std::to_string(info.bitsPerSample) + " bit";
    if (info.audioFormat != 1)
        text += " fmt " + std::to_string(info.audioFormat);
    return text;
}

std::string durationText(uint32_t ms)
{
    char text[32];
    std::snprintf(text, sizeof text, "%u:%02u.%03u", ms / 60000u, ms / 1000u % 60u, ms % 1000u);
    return text;
}

void printStreamsText(std::ostream& out, const std::vector<ListedStream>& streams)
{
    if (streams.empty()) {
        out << "no streams found\n";
        return;
    }
    out << std::left << std::setw(5) << "#" << std::setw(16) << "plugin" << std::setw(20) << "kind"
        << std::setw(9) << "start" << std::setw(9) << "sectors" << std::setw(8) << "frames" << std::setw(10)
        << "size" << std::setw(10) << "rate" << std::setw(22) << "audio"
        << "duration\n";
    for (const ListedStream& s : streams) {
        const StrInfo& i = s.info;
        out << std::setw(5) << s.number << std::setw(16) << s.pluginFile << std::setw(20)
            << (hexText(i.kind, 2) + " " + kindWords(i.kind)) << std::setw(9) << i.startSector << std::setw(9)
            << i.sectorCount << std::setw(8) << i.frameCount << std::setw(10) << sizeText(i) << std::setw(10)
            << (i.frameRate ? frameRateText(i.frameRate) : std::string("-")) << std::setw(22) << audioText(i)
            << durationText(i.durationMs) << '\n';
    }
    out << std::right;
}

ScanSettings settingsOf(const ScanOptions& options)
{
    ScanSettings settings;
    settings.onError = options.onError;
    settings.retries = options.retries;
    settings.progress = !options.noProgress;
    return settings;
}

} // namespace

std::optional<std::string> scanUsageProblem(const ScanOptions& options)
{
    if (options.onError == ReadErrorPolicy::Retry && options.retries == 0)
        return "--retries must be at least 1 with --on-error retry";
    return std::nullopt;
}

int runScan(const ScanOptions& options)
{
    DiscSource source;
    std::string error;
    if (!source.open(options.drive, error)) {
        reportError(options.drive, error);
        return kExitFailure;
    }
    const auto plugins = chooseScanPlugins(options.plugins);
    if (!plugins)
        return kExitFailure;

    scan::ScanResult result;
    {
        InterruptStops interrupts;
        result = runDiscScan(source.drive(), options.drive, *plugins, settingsOf(options), interrupts.flag());
    }
    if (!result.tocRead) {
        reportError(options.drive,
                    "cannot read the table of contents (no disc in the drive, or it does not answer)");
        return kExitFailure;
    }
    reportScanProblems(options.drive, result);
    const bool complete = result.stopPoint < 0;
    if (!complete)
        reportError(options.drive, "scan stopped at sector " + std::to_string(result.stopPoint) +
                                       "; the streams found until then follow");
    const std::vector<ListedStream> streams = listStreams(result);

    if (options.json) {
        Json pluginList = Json::array();
        for (const scan::PluginScan& plugin : result.plugins) {
            Json object;
            object["file"] = shownPluginName(plugin.file);
            object["name"] = plugin.name;
            object["outcome"] = outcomeName(plugin.outcome);
            object["streams"] = plugin.streams.size();
            pluginList.push_back(std::move(object));
        }
        Json streamList = Json::array();
        for (const ListedStream& stream : streams)
            streamList.push_back(streamJson(stream));
        Json document;
        document["source"] = options.drive;
        document["drive"] = source.drive();
        document["complete"] = complete;
        document["stopPoint"] = result.stopPoint;
        document["sectorsRead"] = result.sectorsRead;
        document["sectorsFailed"] = result.sectorsFailed;
        document["plugins"] = std::move(pluginList);
        document["streams"] = std::move(streamList);
        writeJson(std::cout, document);
    } else {
        std::cout << options.drive << ": " << (complete ? "scan complete" : "scan stopped") << ", "
                  << result.sectorsRead << " sectors read";
        if (result.sectorsFailed)
            std::cout << ", " << result.sectorsFailed << " failed reads";
        if (!complete)
            std::cout << ", stopped at sector " << result.stopPoint;
        std::cout << ", " << streams.size() << (streams.size() == 1 ? " stream" : " streams") << '\n';
        printStreamsText(std::cout, streams);
    }
    const bool bound =
        std::all_of(result.plugins.begin(), result.plugins.end(),
                    [](const scan::PluginScan& p) { return p.outcome != scan::PluginOutcome::NotBound; });
    return complete && result.sectorsFailed == 0 && bound ? kExitOk : kExitFailure;
}

void addScanCommand(CommandSet& commands)
{
    static const std::map<std::string, ReadErrorPolicy> kPolicies{{"abort", ReadErrorPolicy::Abort},
                                                                  {"retry", ReadErrorPolicy::Retry},
                                                                  {"ignore", ReadErrorPolicy::Ignore}};
    auto options = std::make_shared<ScanOptions>();
    CLI::App* scan = commands.add(
        nullptr, "scan",
        "Offer every sector of the data tracks of a disc (image or drive) to the CD plugins and list the "
        "streams they find; frames, audio and units take a stream by its number (--stream).",
        [options] {
            return runUnlessProblem("scan", scanUsageProblem(*options), [&] { return runScan(*options); });
        });
    scan->add_option("drive", options->drive, "A drive index (see drives) or a disc image (CUE, ISO, raw).")
        ->required();
    scan->add_option("--plugins", options->plugins,
                     "Plugin file names in any case, comma-separated, in the order they are asked and "
                     "listed (default: every installed plugin that reads discs).")
        ->delimiter(',');
    scan->add_option("--on-error", options->onError,
                     "A sector that cannot be read: abort (stop the scan), retry (up to --retries times, "
                     "then skip it) or ignore (skip it; the default).")
        ->transform(CLI::CheckedTransformer(kPolicies, CLI::ignore_case).description(""))
        ->type_name("abort|retry|ignore");
    scan->add_option("--retries", options->retries, "Reads of an unreadable sector with --on-error retry.")
        ->check(wholeRange(1, 100));
    addJsonFlag(scan, options->json);
    addNoProgressFlag(scan, options->noProgress);
}

} // namespace tamrin::cli
