// convert: streams (files, IMAGE#N, IMAGE --stream K, an area of a disc; with --all every visible
// stream of analysed discs and every stream file of folders) written as WAVE, AVI or MP3 files by
// the library's batch driver, the one the desktop program's batch conversion runs. One source is a
// batch of one. A source that fails leaves no file and the others go on. An existing output is
// refused (result 1000), overwritten only once the new file is complete, or asked about, as
// --existing says. Ctrl-C cancels the conversion under way (its output is removed) and the
// sources after it; the finished files stay.
//
// convert --json: an array with one object per source that was tried:
//   {"source", "path" (null when no file was to be written), "result" (the converter's result
//    code, or the batch's 1000/1001), "message" (its text), "cancelled", "frames" (AVI: video
//    frames in the file), "samples" (WAVE, AVI: sound frames in the file), "seconds" (the wall
//    time of the conversion; 0 when none ran)}
//   "frames" and "samples" are null when the file holds none or was not written.
// convert --list-codecs [--json]: the video codecs the AVI conversion can use:
//   [{"name", "handler", "description", "quality", "keyFrameEvery", "bytesPerSecond"}, ...]
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <set>

#include "command_set.h"
#include "commands.h"
#include "console_port.h"
#include "convert_targets.h"
#include "input_file.h"
#include "interrupt.h"
#include "json_output.h"
#include "library_session.h"
#include "output.h"
#include "progress.h"
#include "stored_analysis.h"
#include "stream_input.h"
#include "tamlib/analysis.h"
#include "tamlib/batch.h"
#include "tamlib/convert.h"
#include "tamlib/strings.h"
#include "tamlib/ui_port.h"

namespace tamrin::cli {

namespace {

namespace fs = std::filesystem;
namespace batch = tamlib::batch;

// The description of a stream that could not be found or read (the conversion result code).
constexpr int32_t kNoDescription = 4;

std::string resultText(int32_t result)
{
    char text[PLB_STRING_MAX];
    return PlbConvertResultText(result, text);
}

// A name for a file from a stream title: no folder separators, control characters or characters
// other systems refuse, no leading dot, at most 100 bytes.
std::string handlerText(uint32_t handler)
{
    std::string text;
    for (int i = 0; i < 4; ++i) {
        const char c = char((handler >> (8 * i)) & 0xFF);
        text += std::isprint(static_cast<unsigned char>(c)) ? c : '?';
    }
    return text;
}

// Why an output file could not be written, when the system said so in a way worth showing.
std::string reasonText(const ConvertTarget& target, int32_t result, int error)
{
    if (result != target.fileFailure)
        return {};
    switch (error) {
    case EFBIG:
        return " (the file-size limit was reached)";
    case ENOSPC:
    case EDQUOT:
        return " (no space left)";
    case EACCES:
    case EPERM:
    case EROFS:
        return " (" + std::string(std::strerror(error)) + ")";
    default:
        return {};
    }
}

batch::Existing existingOf(const ConvertOptions& options)
{
    if (options.force || options.existing == "overwrite")
        return batch::Existing::Overwrite;
    return options.existing == "ask" ? batch::Existing::Ask : batch::Existing::Fail;
}

struct SourceResult
{
    std::string source;
    std::string subject; // the source in messages: with the stream chosen on a disc
    std::optional<fs::path> path;
    int32_t result = 0;
    std::string message;
    bool queued = false;  // an item of the batch
    bool started = false; // its conversion began (or its output was checked)
    bool cancelled = false;
    bool written = false;
    Contents contents;
    double seconds = 0;
};

class ConvertRun
{
  public:
    // The options have been checked (convertUsageProblem).
    explicit ConvertRun(const ConvertOptions& options)
        : m_options(options), m_target(*findConvertTarget(options.to)),
          m_settings{options, options.size.empty() ? std::nullopt : parseSize(options.size),
                     options.fps.empty() ? std::nullopt : parseFrameRate(options.fps)}
    {
    }

    int run()
    {
        if (!m_options.codec.empty() && !findCodec())
            return kExitUsage;
        m_settings.compression = compression();
        InterruptStops interrupts;
        const std::vector<std::string> sources = m_options.all ? everyStream() : m_options.sources;
        if (sources.empty()) {
            if (m_options.json)
                writeJson(std::cout, Json::array());
            return kExitFailure;
        }
        m_toFolder = m_options.all || sources.size() > 1 || fs::is_directory(m_options.out) ||
                     m_options.out.ends_with('/');
        if (m_toFolder && !makeFolder())
            return kExitFailure;

        batch::Batch conversions;
        conversions.setExisting(existingOf(m_options));
        size_t unread = 0; // sources not looked at, Ctrl-C having come first
        for (const std::string& source : sources) {
            if (interrupts.stopped())
                ++unread;
            else
                queue(source, conversions);
        }
        if (!interrupts.stopped())
            runBatch(conversions, interrupts);

        const size_t left =
            unread + size_t(std::count_if(m_results.begin(), m_results.end(),
                                          [](const SourceResult& r) { return r.queued && !r.started; }));
        if (left != 0)
            reportError("convert",
                        "interrupted; " + counted(left, "source was", "sources were") + " not converted");
        if (m_options.json)
            printJson();
        const bool allWritten =
            std::all_of(m_results.begin(), m_results.end(), [](const SourceResult& r) { return r.written; });
        return allWritten && left == 0 ? kExitOk : kExitFailure;
    }

  private:
    bool makeFolder()
    {
        std::error_code error;
        fs::create_directories(m_options.out, error);
        if (error) {
            reportError(m_options.out, "cannot create the folder: " + error.message());
            return false;
        }
        return true;
    }

    bool findCodec()
    {
        if (PlbFindAVICodec(m_options.codec.c_str(), &m_codec) == 1)
            return true;
        std::string known;
        PlbAviCompression options{};
        PlbAviCodecInfo info{};
        for (int32_t i = 0; PlbGetAVICodec(i, &options, &info) == 1; ++i)
            known += (known.empty() ? "" : ", ") + std::string(info.name);
        reportError("convert", "no video codec is called " + m_options.codec + "; " +
                                   (known.empty() ? "none can be used here (frames are written uncompressed "
                                                    "without --codec)"
                                                  : "the codecs are " + known));
        return false;
    }

    PlbAviCompression compression() const
    {
        PlbAviCompression chosen = m_codec;
        if (chosen.type == 0 || chosen.handler == 0)
            return PlbAviCompression{};
        if (m_options.quality)
            chosen.quality = m_options.quality * 100;
        if (m_options.keyframe) {
            chosen.keyFrameEvery = m_options.keyframe;
            chosen.flags |= PLB_AVI_KEYFRAMES;
        }
        if (m_options.bitrate) {
            chosen.bytesPerSecond = m_options.bitrate * 125;
            chosen.flags |= PLB_AVI_DATARATE;
        }
        chosen.flags |= PLB_AVI_VALID;
        return chosen;
    }

    // --all: every visible stream of each disc's stored analysis (as IMAGE#N), every file of each
    // folder that a plugin identifies as a stream (in name order). Empty, reported, when none.
    std::vector<std::string> everyStream()
    {
        std::vector<std::string> sources;
        if (!libraryReady("convert"))
            return sources;
        for (const std::string& argument : m_options.sources) {
            const size_t before = sources.size();
            std::error_code error;
            if (fs::is_directory(argument, error))
                addStreamFiles(argument, sources);
            else
                addStoredStreams(argument, sources);
            if (sources.size() == before)
                reportError(argument, fs::is_directory(argument, error)
                                          ? "holds no stream file that a plugin identifies"
                                          : "its stored analysis lists no stream to convert");
        }
        return sources;
    }

    static void addStreamFiles(const std::string& folder, std::vector<std::string>& sources)
    {
        std::vector<std::string> files;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(folder, error))
            if (entry.is_regular_file(error))
                files.push_back(entry.path().string());
        std::sort(files.begin(), files.end());
        for (const std::string& file : files) {
            if (inputFileProblem(file))
                continue;
            // A file of several streams gives each, as FILE#K.
            const size_t streams = tamlib::identifyFileStreams(file.c_str()).size();
            if (streams == 1)
                sources.push_back(file);
            for (size_t k = 1; streams > 1 && k <= streams; ++k)
                sources.push_back(file + "#" + std::to_string(k));
        }
    }

    void addStoredStreams(const std::string& disc, std::vector<std::string>& sources)
    {
        std::string error;
        const std::shared_ptr<DiscSource> source = m_mounts.open(disc, error);
        RecordPtr record = source ? loadStoredAnalysis(source->drive(), error) : nullptr;
        if (!record) {
            reportError(disc, error);
            return;
        }
        for (const StoredStream& stream : storedStreams(record.get()))
            if (stream.number != 0)
                sources.push_back(disc + "#" + std::to_string(stream.number));
    }

    // The output of a stream: --out itself, or a name in the --out folder from the stream's title
    // or its source's name, never one that an earlier source of this run took.
    fs::path outputFor(const StreamInput& input)
    {
        if (!m_toFolder)
            return m_options.out;
        // The library names it as the desktop program does: the title (else the source's name)
        // in the folder, and "NAME (N).EXT" for a name an earlier source took.
        const std::string title = !input.title().empty() ? input.title() : input.outputStem();
        char named[PATH_MAX];
        if (!PlbDefaultOutputName(title.c_str(), nullptr, m_target.type, 0, m_options.out.c_str(), named,
                                  sizeof named) &&
            !PlbDefaultOutputName("stream", nullptr, m_target.type, 0, m_options.out.c_str(), named, sizeof named))
            return fs::path(m_options.out) / ("stream" + std::string(m_target.extension));
        std::string path = named;
        char numbered[PATH_MAX];
        for (uint32_t n = 2; m_taken.count(path) && PlbNumberedOutputName(named, n, numbered, sizeof numbered); ++n)
            path = numbered;
        m_taken.insert(path);
        return path;
    }

    // The source's result, and its item in the batch when its stream was found.
    void queue(const std::string& source, batch::Batch& conversions)
    {
        SourceResult& result = m_results.emplace_back();
        result.source = source;
        result.subject = source;
        auto input = std::make_unique<StreamInput>();
        if (!input->accept({source, m_options.plugin, m_options.disc, !m_options.noProgress, &m_mounts})) {
            result.result = kNoDescription;
            result.message = resultText(kNoDescription);
            printText(result);
            return;
        }
        result.subject = input->subject();
        const fs::path out = outputFor(*input);
        result.path = out;
        if (out.string().size() >= PLB_PATH_BYTES) {
            // The settings records hold 259 bytes: a longer path would be cut to another file's.
            result.result = m_target.fileFailure;
            result.message = resultText(result.result) + " (the path is longer than " +
                             std::to_string(PLB_PATH_BYTES - 1) + " bytes)";
            printText(result);
            return;
        }
        batch::Item item;
        item.source.plugin = input->accepted().plugin;
        if (input->isDisc()) {
            item.source.drive = input->drive();
            item.source.title = input->title().empty() ? input->subject() : input->title();
        } else {
            item.source.file = input->fileName();
        }
        item.source.info = input->accepted().info;
        item.type = m_target.type;
        item.output = out.string();
        item.settings = m_target.settings(m_settings, item.source.info);
        if (!conversions.add(std::move(item))) {
            result.result = m_target.fileFailure;
            result.message = resultText(result.result);
            printText(result);
            return;
        }
        result.queued = true;
        m_itemResults.push_back(m_results.size() - 1);
        m_inputs.push_back(std::move(input)); // its disc stays mounted for the run
    }

    void runBatch(batch::Batch& conversions, const InterruptStops& interrupts)
    {
        // Questions about existing outputs are asked on a terminal; without one they take No.
        ConsolePort port;
        tamlib::ScopedUiPort installed(port);
        BatchProgressLine line(!m_options.noProgress);
        std::chrono::steady_clock::time_point start;
        conversions.run([&](const PlbBatchStatus& status) {
            if (interrupts.stopped())
                conversions.cancel();
            SourceResult& result = m_results[m_itemResults.at(size_t(status.index))];
            switch (status.event) {
            case PLB_BATCH_ITEM_START:
                start = std::chrono::steady_clock::now();
                errno = 0;
                break;
            case PLB_BATCH_PROGRESS:
                line.update(result.subject, status.itemNumber, status.itemCount, status.percent,
                            status.elapsedMs, status.estimateSeconds);
                break;
            case PLB_BATCH_ITEM_END: {
                const int reason = errno;
                line.clear();
                const batch::Item& item = conversions.items()[size_t(status.index)];
                const bool begun = !(item.cancelled && status.result < 0);
                if (begun) {
                    result.started = true;
                    result.seconds =
                        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                    finish(result, status.result, item.cancelled, reason);
                    printText(result);
                }
                break;
            }
            default:
                break;
            }
        });
    }

    void finish(SourceResult& result, int32_t code, bool cancelled, int reason) const
    {
        result.result = code;
        result.cancelled = cancelled;
        std::error_code error;
        if (code == PLB_CONV_EXISTS || code == PLB_CONV_OVERWRITE_DECLINED)
            result.seconds = 0; // nothing was converted
        if (cancelled) {
            result.message = "interrupted; nothing was written";
        } else if (code == PLB_CONV_EXISTS) {
            result.message = resultText(code) + " (--existing overwrite replaces it)";
        } else if (code != PLB_CONV_OK) {
            result.message = resultText(code) + reasonText(m_target, code, reason);
        } else if (!fs::is_regular_file(*result.path, error)) {
            result.message = "the converter reported success but wrote no file";
        } else {
            result.written = true;
            result.message = resultText(PLB_CONV_OK);
            result.contents = m_target.contents(*result.path);
        }
    }

    void printText(const SourceResult& result) const
    {
        if (m_options.json)
            return; // the results are in the JSON; errors of finding streams are on stderr
        if (!result.written) {
            reportError(result.subject,
                        result.message +
                            (result.cancelled ? "" : " (result " + std::to_string(result.result) + ")"));
            return;
        }
        std::string line = result.subject + " -> " + result.path->string();
        if (result.contents.frames)
            line += ", " + counted(*result.contents.frames, "frame", "frames");
        if (result.contents.samples)
            line += ", " + counted(*result.contents.samples, "sample", "samples");
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, " in %.3f s", result.seconds);
        std::cout << line << seconds << '\n';
    }

    void printJson() const
    {
        Json results = Json::array();
        for (const SourceResult& result : m_results) {
            if (result.queued && !result.started)
                continue;
            Json object;
            object["source"] = result.source;
            object["path"] = result.path ? Json(result.path->string()) : Json(nullptr);
            object["result"] = result.result;
            object["message"] = result.message;
            object["cancelled"] = result.cancelled;
            object["frames"] = result.contents.frames ? Json(*result.contents.frames) : Json(nullptr);
            object["samples"] = result.contents.samples ? Json(*result.contents.samples) : Json(nullptr);
            object["seconds"] = result.seconds;
            results.push_back(std::move(object));
        }
        writeJson(std::cout, results);
    }

    const ConvertOptions& m_options;
    const ConvertTarget& m_target;
    SettingsInput m_settings;
    PlbAviCompression m_codec{};
    bool m_toFolder = false;
    DiscMounts m_mounts;
    std::vector<std::unique_ptr<StreamInput>> m_inputs;
    std::set<std::string> m_taken;
    std::vector<SourceResult> m_results;
    std::vector<size_t> m_itemResults; // the result of each item of the batch
};

int listCodecs(bool json)
{
    Json codecs = Json::array();
    PlbAviCompression options{};
    PlbAviCodecInfo info{};
    int32_t count = 0;
    for (; PlbGetAVICodec(count, &options, &info) == 1; ++count) {
        const std::string name(info.name, strnlen(info.name, sizeof info.name));
        const std::string description(info.description, strnlen(info.description, sizeof info.description));
        if (!json) {
            std::printf("%-12s %s  %s\n", name.c_str(), handlerText(options.handler).c_str(),
                        description.c_str());
            continue;
        }
        Json codec;
        codec["name"] = name;
        codec["handler"] = handlerText(options.handler);
        codec["description"] = description;
        codec["quality"] = info.quality;
        codec["keyFrameEvery"] = info.keyFrameEvery;
        codec["bytesPerSecond"] = info.bytesPerSecond;
        codecs.push_back(std::move(codec));
    }
    if (json)
        writeJson(std::cout, codecs);
    else if (count == 0)
        std::printf("no video codec can be used; AVI frames are written uncompressed\n");
    return kExitOk;
}

} // namespace

std::optional<std::string> convertUsageProblem(const ConvertOptions& options)
{
    if (options.listCodecs) {
        if (!options.sources.empty() || !options.to.empty() || !options.out.empty() || options.all)
            return "--list-codecs takes no sources, --to, --out or --all";
        return std::nullopt;
    }
    if (options.sources.empty())
        return options.all ? "--all needs the discs or folders to convert"
                           : "name at least one source (or --list-codecs)";
    const ConvertTarget* target = findConvertTarget(options.to);
    if (!target)
        return "--to " + targetsTaking(0) + " is required";
    if (options.out.empty())
        return "--out is required: the file, or with several sources the folder";
    std::error_code error;
    if ((options.sources.size() > 1 || options.all) && fs::exists(options.out, error) &&
        !fs::is_directory(options.out, error))
        return options.out + " is not a folder; several sources need --out FOLDER";
    if (options.force && !options.existing.empty() && options.existing != "overwrite")
        return "--force is --existing overwrite; it does not go with --existing " + options.existing;
    if (options.all) {
        if (!options.plugin.empty() || options.disc.hasStart || options.disc.sectors || options.disc.stream)
            return "--all takes every stream; leave out --plugin, --start, --sectors and --stream";
        for (const std::string& source : options.sources) {
            std::string disc;
            uint32_t number = 0;
            if (!fs::exists(source, error) && splitStreamSuffix(source, disc, number))
                return source + " names one stream; --all takes discs and folders";
            if (!fs::exists(source, error) && !looksLikeDriveIndex(source))
                return source + ": no such disc image, drive or folder";
        }
    } else {
        for (const std::string& source : options.sources)
            if (const auto problem = streamChoiceProblem(source, options.plugin, options.disc))
                return problem;
    }
    const auto refused = [&](uint32_t group, const char* names) -> std::optional<std::string> {
        if (target->optionGroups & group)
            return std::nullopt;
        return std::string(names) + " go with --to " + targetsTaking(group);
    };
    const bool sizeOption = !options.size.empty();
    const bool aviOptions = !options.fps.empty() || !options.codec.empty() || options.quality ||
                            options.keyframe || options.bitrate || options.noAudio;
    const bool mp3Options = options.kbps || options.vbr >= 0 || !options.mode.empty();
    const bool soundOptions = options.rate || options.channels || options.bits;
    if (sizeOption)
        if (auto problem = refused(kSizeOption, "--size"))
            return problem;
    if (aviOptions)
        if (auto problem =
                refused(kAviOptions, "--fps, --codec, --quality, --keyframe, --bitrate and --no-audio"))
            return problem;
    if (mp3Options)
        if (auto problem = refused(kMp3Options, "--kbps, --vbr and --mode"))
            return problem;
    if (soundOptions)
        if (auto problem = refused(kSoundOptions, "--rate, --channels and --bits"))
            return problem;
    if (options.kbps && options.vbr >= 0)
        return "--kbps and --vbr exclude each other";
    if (options.noAudio && soundOptions)
        return "--rate, --channels and --bits set the sound, which --no-audio leaves out";
    if (!options.size.empty() && !parseSize(options.size))
        return "--size must be WIDTHxHEIGHT, each side from 1 to " + std::to_string(LBR_MAX_PICTURE_SIDE);
    if (!options.fps.empty() && !parseFrameRate(options.fps))
        return "--fps must be frames per second above 0, in tenths up to 80 or hundredths above (15, 7.5, "
               "29.97)";
    if ((options.quality || options.keyframe || options.bitrate) && options.codec.empty())
        return "--quality, --keyframe and --bitrate set the codec of --codec";
    return std::nullopt;
}

int runConvert(const ConvertOptions& options)
{
    if (options.listCodecs)
        return listCodecs(options.json);
    ConvertRun run(options);
    return run.run();
}

void addConvertCommand(CommandSet& commands)
{
    auto options = std::make_shared<ConvertOptions>();
    std::vector<std::string> kinds;
    for (const ConvertTarget& target : convertTargets())
        kinds.emplace_back(target.name);
    CLI::App* convert = commands.add(
        nullptr, "convert",
        "Convert streams into " + targetsTaking(0) +
            " files, one after the other: movie and sound files, IMAGE#N (a stream of the disc's stored "
            "analysis), IMAGE --stream K (of a scan), an area of a disc, or with --all every visible "
            "stream of analysed discs and every stream file of folders.",
        [options] {
            return runUnlessProblem("convert", convertUsageProblem(*options),
                                    [&] { return runConvert(*options); });
        });
    convert->add_option("sources", options->sources,
                        "The files, disc images or drives to convert; with --all the discs and folders.");
    addStreamOptions(convert, options->plugin, options->disc);
    convert->add_option("--to", options->to, "The kind of file: " + targetsTaking(0) + ".")
        ->check(CLI::IsMember(kinds));
    convert->add_option("--out", options->out,
                        "The file to write; with several sources, --all (or an existing folder) the "
                        "folder, made when missing, where each gets a name from its stream title or "
                        "source.");
    convert->add_flag("--all", options->all,
                      "Every visible stream of each analysed disc (see analyze) and every file of each "
                      "folder that a plugin identifies as a stream.");
    convert
        ->add_option("--rate", options->rate, "WAVE, AVI sound: sample rate in Hz (default: the stream's).")
        ->check(wholeRange(1000, 384000));
    convert
        ->add_option("--channels", options->channels,
                     "WAVE, AVI sound: 1 or 2 channels (default: the stream's).")
        ->check(CLI::IsMember({1, 2}));
    convert->add_option("--bits", options->bits, "WAVE, AVI sound: 16 (default) or 8 bits per sample.")
        ->check(CLI::IsMember({8, 16}));
    convert->add_option("--size", options->size, "AVI: WIDTHxHEIGHT of the frames (default: the stream's).");
    convert->add_option("--fps", options->fps, "AVI: frames per second (default: the stream's rate).");
    convert->add_option("--codec", options->codec,
                        "AVI: the video codec by name or four-character code (see --list-codecs; default: "
                        "uncompressed frames).");
    convert->add_option("--quality", options->quality, "AVI codec: quality from 1 to 100.")
        ->check(wholeRange(1, 100));
    convert->add_option("--keyframe", options->keyframe, "AVI codec: a key frame every N frames.")
        ->check(wholeRange(1, 100000));
    convert->add_option("--bitrate", options->bitrate, "AVI codec: data rate in kbit/s.")
        ->check(wholeRange(1, 1000000));
    convert->add_flag("--no-audio", options->noAudio, "AVI: leave the sound out.");
    CLI::Option* kbps =
        convert->add_option("--kbps", options->kbps, "MP3: constant bit rate in kbit/s (default: 128).")
            ->check(CLI::IsMember({32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}));
    convert->add_option("--vbr", options->vbr, "MP3: variable bit rate of quality 0 (best) to 9.")
        ->check(wholeRange(0, 9))
        ->excludes(kbps);
    convert
        ->add_option("--mode", options->mode,
                     "MP3: stereo, joint or mono (default: joint for stereo streams, mono for mono).")
        ->check(CLI::IsMember({"stereo", "joint", "mono"}));
    convert
        ->add_option("--existing", options->existing,
                     "An output that exists: fail (the default: result 1000, the file is left alone), "
                     "overwrite (only once the new file is complete) or ask (on a terminal; No "
                     "without one).")
        ->check(CLI::IsMember({"overwrite", "fail", "ask"}));
    convert->add_flag("--force", options->force, "The same as --existing overwrite.");
    convert->add_flag("--list-codecs", options->listCodecs, "List the video codecs of the AVI conversion.");
    addJsonFlag(convert, options->json);
    addNoProgressFlag(convert, options->noProgress);
}

} // namespace tamrin::cli
