#include "stream_input.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <atomic>
#include <filesystem>

#include "command_set.h"
#include "input_file.h"
#include "library_session.h"
#include "scan_run.h"
#include "stored_analysis.h"
#include "tamlib/analysis.h"

namespace tamrin::cli {

namespace {

bool endsWithCue(const std::string& argument)
{
    constexpr std::string_view kCue = ".cue";
    if (argument.size() < kCue.size())
        return false;
    const std::string_view tail = std::string_view(argument).substr(argument.size() - kCue.size());
    return std::equal(tail.begin(), tail.end(), kCue.begin(),
                      [](char a, char b) { return (a >= 'A' && a <= 'Z' ? char(a - 'A' + 'a') : a) == b; });
}

// The file name without folder and extension; a drive index stays as it is ("0").
std::string stemOf(const std::string& argument)
{
    const std::string stem = std::filesystem::path(argument).stem().string();
    return stem.empty() ? argument : stem;
}

std::string areaText(uint32_t start, uint32_t sectors)
{
    return "sectors " + std::to_string(start) + " to " + std::to_string(uint64_t(start) + sectors - 1);
}

// The named plugin, checked: bound, usable and reading `what` (CapFile or CapCd).
bool checkPlugin(const std::string& plugin, uint32_t capability)
{
    const PluginEntry entry = queryPlugin(plugin);
    if (entry.state != PluginState::Usable) {
        reportError(shownPluginName(plugin), std::string(unusableReason(entry)));
        return false;
    }
    if (!(entry.caps & capability)) {
        reportError(shownPluginName(plugin), capability == CapCd ? "this plugin does not read discs"
                                                                 : "this plugin does not open files");
        return false;
    }
    return true;
}

// "IMAGE#N" or "DRIVE#N": the N-th listed stream of the disc's stored analysis. A file of that
// very name is taken as a file.
bool storedStreamArgument(const std::string& argument, std::string& disc, uint32_t& number)
{
    std::error_code ignored;
    if (std::filesystem::exists(argument, ignored) || !splitStreamSuffix(argument, disc, number))
        return false;
    return looksLikeDriveIndex(disc) || std::filesystem::exists(disc, ignored);
}

// "FILE#K" where FILE is a file (not a disc image's stored analysis) whose plugin lists several
// streams: `file` and `number` are set and the file's streams listed.
bool fileStreamArgument(const std::string& argument, std::string& file, uint32_t& number,
                        std::vector<tamlib::FileIdentity>& streams)
{
    std::error_code ignored;
    if (std::filesystem::exists(argument, ignored) || !splitStreamSuffix(argument, file, number) ||
        inputFileProblem(file) || !libraryReady(file.c_str()))
        return false;
    streams = tamlib::identifyFileStreams(file.c_str());
    return streams.size() > 1;
}

} // namespace

bool isDiscInput(const std::string& argument, const DiscStreamChoice& choice)
{
    std::string disc;
    uint32_t number = 0;
    if (storedStreamArgument(argument, disc, number))
        return true;
    if (choice.hasStart || choice.stream != 0 || endsWithCue(argument))
        return true;
    std::error_code ignored;
    return looksLikeDriveIndex(argument) && !std::filesystem::exists(argument, ignored);
}

std::optional<std::string> streamChoiceProblem(const std::string& argument, const std::string& plugin,
                                               const DiscStreamChoice& choice)
{
    std::string disc;
    uint32_t number = 0;
    if (storedStreamArgument(argument, disc, number)) {
        if (number == 0)
            return argument + ": there is no stream 0; the streams of the stored analysis are numbered "
                              "from 1 (see analyze)";
        if (choice.stream != 0 || choice.hasStart || choice.sectors != 0 || !plugin.empty())
            return argument +
                   " names a stream of the stored analysis; leave out --plugin, --start, --sectors "
                   "and --stream";
        return std::nullopt;
    }
    if (choice.stream != 0 && (choice.hasStart || choice.sectors != 0 || !plugin.empty()))
        return "--stream takes the plugin and the area from the scan; leave out --plugin, --start and "
               "--sectors";
    if (choice.sectors != 0 && !choice.hasStart)
        return "--sectors goes with --start";
    if (choice.hasStart && (plugin.empty() || choice.sectors == 0))
        return "--start needs --plugin NAME and --sectors N";
    if (choice.hasStart && uint64_t(choice.start) + choice.sectors > uint64_t(UINT32_MAX) + 1)
        return "--start and --sectors reach beyond the last sector address";
    if (choice.stream == 0 && !choice.hasStart && isDiscInput(argument, choice))
        return argument +
               " is a disc: choose a stream with --stream K (see scan) or an area with --plugin NAME "
               "--start LBA --sectors N";
    return std::nullopt;
}

void addStreamOptions(CLI::App* command, std::string& plugin, DiscStreamChoice& choice)
{
    command->add_option("--plugin", plugin,
                        "Plugin file name, in any case (e.g. DISCMOVIE.PSR): for a file, instead of the "
                        "library's choice; for a disc, the plugin that describes the area of --start.");
    command
        ->add_option("--start", choice.start,
                     "On a disc: the first sector of the stream's area (with --plugin and --sectors).")
        ->each([&choice](const std::string&) { choice.hasStart = true; });
    command
        ->add_option("--sectors", choice.sectors,
                     "On a disc: the number of sectors of the area from --start.")
        ->check(wholeRange(1));
    command
        ->add_option("--stream", choice.stream,
                     "On a disc: scan it and take the stream the scan command lists with this number.")
        ->check(wholeRange(1));
}

bool StreamInput::accept(const StreamRequest& request)
{
    m_subject = request.argument;
    m_file = request.argument;
    m_outputStem = stemOf(request.argument);
    m_disc = isDiscInput(request.argument, request.disc);
    if (!m_disc)
        return acceptFile(request);
    std::string disc;
    uint32_t number = 0;
    std::vector<tamlib::FileIdentity> streams;
    if (request.plugin.empty() && !request.disc.hasStart && request.disc.stream == 0 &&
        fileStreamArgument(request.argument, disc, number, streams)) {
        m_disc = false;
        return acceptFileStream(disc, number, streams);
    }
    if (storedStreamArgument(request.argument, disc, number))
        return openDisc(request, disc) && acceptStored(request.argument, number);
    if (!openDisc(request, request.argument))
        return false;
    return request.disc.stream != 0 ? acceptListed(request) : acceptArea(request);
}

bool StreamInput::openDisc(const StreamRequest& request, const std::string& disc)
{
    std::string error;
    if (request.mounts) {
        m_source = request.mounts->open(disc, error);
    } else {
        m_source = std::make_shared<DiscSource>();
        if (!m_source->open(disc, error))
            m_source.reset();
    }
    if (!m_source)
        reportError(disc, error);
    return m_source != nullptr;
}

bool StreamInput::acceptFile(const StreamRequest& request)
{
    const std::string& file = request.argument;
    if (request.plugin.empty()) {
        auto accepted = acceptInputFile(file);
        if (!accepted)
            return false;
        m_accepted = std::move(*accepted);
        return true;
    }
    if (const auto problem = inputFileProblem(file)) {
        reportError(file, *problem);
        return false;
    }
    const auto plugin = resolvePluginName(request.plugin);
    if (!plugin || !checkPlugin(*plugin, CapFile))
        return false;
    m_accepted.plugin = *plugin;
    if (!pluginAcceptsFile(*plugin, file, m_accepted.info)) {
        reportError(file, shownPluginName(*plugin) + " does not accept this file");
        return false;
    }
    return true;
}

bool StreamInput::acceptFileStream(const std::string& file, uint32_t number,
                                   const std::vector<tamlib::FileIdentity>& streams)
{
    if (number == 0 || number > streams.size()) {
        reportError(file, "the file holds " + std::to_string(streams.size()) +
                              " streams; there is no stream " + std::to_string(number));
        return false;
    }
    m_accepted = Acceptance{streams[number - 1].bindName, streams[number - 1].info};
    // The stream is opened by the file's name; its number travels in the description.
    m_file = file;
    m_subject = file + "#" + std::to_string(number);
    m_outputStem = stemOf(file) + "-stream" + std::to_string(number);
    return true;
}

bool StreamInput::acceptArea(const StreamRequest& request)
{
    const DiscStreamChoice& area = request.disc;
    const auto plugin = resolvePluginName(request.plugin);
    if (!plugin || !checkPlugin(*plugin, CapCd))
        return false;
    const std::string shown = shownPluginName(*plugin);
    PluginBinding* binding = LbrOpenPSR(plugin->c_str());
    if (!binding) {
        reportError(shown, "cannot be bound");
        return false;
    }
    m_accepted.plugin = *plugin;
    m_accepted.info = StrInfo{};
    const int32_t described = LbrGetStrDataInfo(binding, drive(), area.start, area.sectors, &m_accepted.info);
    LbrClosePSR(binding);
    if (described != 1) {
        reportError(m_subject, described < 0
                                   ? shown + " cannot describe an area of a disc"
                                   : shown + " finds no stream in " + areaText(area.start, area.sectors));
        return false;
    }
    m_subject = request.argument + " " + areaText(area.start, area.sectors);
    m_outputStem = stemOf(request.argument) + "-lba" + std::to_string(area.start);
    return true;
}

bool StreamInput::acceptListed(const StreamRequest& request)
{
    const auto plugins = chooseScanPlugins({});
    if (!plugins)
        return false;
    ScanSettings settings;
    settings.progress = request.progress;
    const std::atomic<bool> never{false};
    const scan::ScanResult result = runDiscScan(drive(), request.argument, *plugins, settings, never);
    if (!result.tocRead) {
        reportError(request.argument,
                    "cannot read the table of contents (no disc in the drive, or it does not answer)");
        return false;
    }
    const std::vector<ListedStream> streams = listStreams(result);
    const uint32_t number = request.disc.stream;
    if (number > streams.size()) {
        reportScanProblems(request.argument, result);
        reportError(request.argument, "the scan lists " + std::to_string(streams.size()) +
                                          (streams.size() == 1 ? " stream" : " streams") +
                                          "; there is no stream " + std::to_string(number));
        return false;
    }
    const ListedStream& chosen = streams[number - 1];
    const auto plugin = resolvePluginName(chosen.pluginFile);
    if (!plugin)
        return false;
    m_accepted.plugin = *plugin;
    m_accepted.info = chosen.info;
    m_subject = request.argument + " stream " + std::to_string(number);
    m_outputStem = stemOf(request.argument) + "-scan" + std::to_string(number);
    return true;
}

bool StreamInput::acceptStored(const std::string& argument, uint32_t number)
{
    if (!libraryReady(argument.c_str()))
        return false;
    std::string error;
    const RecordPtr record = loadStoredAnalysis(drive(), error);
    if (!record) {
        reportError(argument, error);
        return false;
    }
    const std::vector<StoredStream> streams = storedStreams(record.get());
    const auto chosen = std::find_if(streams.begin(), streams.end(),
                                     [&](const StoredStream& s) { return s.number == number; });
    if (chosen == streams.end()) {
        const auto listed =
            std::count_if(streams.begin(), streams.end(), [](const StoredStream& s) { return s.number; });
        reportError(argument, "the stored analysis lists " + std::to_string(listed) +
                                  (listed == 1 ? " stream" : " streams") + "; there is no stream " +
                                  std::to_string(number));
        return false;
    }
    // The CDAZ keeps the plugin's upper-case name; the file on disk may be spelt otherwise.
    const auto plugin = resolvePluginName(chosen->pluginFile);
    if (!plugin || !checkPlugin(*plugin, CapCd))
        return false;
    m_accepted.plugin = *plugin;
    m_accepted.info = chosen->info;
    m_subject = argument;
    m_outputStem = stemOf(argument.substr(0, argument.rfind('#'))) + "-cdaz" + std::to_string(number);
    m_title = chosen->name;
    return true;
}

bool StreamInput::open(uint32_t mode)
{
    StrInfo info = m_accepted.info;
    m_stream.reset(m_disc ? LbrOpenStream(m_accepted.plugin.c_str(), nullptr, drive(), &info, mode)
                          : LbrOpenStream(m_accepted.plugin.c_str(), m_file.c_str(), 0, &info, mode));
    if (!m_stream) {
        reportError(m_subject, shownPluginName(m_accepted.plugin) +
                                   (m_disc ? " described the stream but could not open it"
                                           : " accepted the file but could not open its stream"));
        return false;
    }
    return true;
}

} // namespace tamrin::cli
