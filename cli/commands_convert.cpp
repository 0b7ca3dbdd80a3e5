// convert: streams (files, IMAGE#N, IMAGE --stream K, an area of a disc) written as WAVE, AVI or
// MP3 files by the library's converters, the ones the desktop program's batch conversion uses.
// Each source is handled on its own: one that fails leaves no file and the others go on. An
// existing output is refused before its conversion starts unless --force is given; with it the
// old file is replaced only once the new one is complete. Ctrl-C cancels the conversion under
// way (its output is removed) and the sources after it.
//
// convert --json: an array with one object per source:
//   {"source", "path" (null when no file was to be written), "result" (the converter's result
//    code), "message" (its text), "cancelled", "frames" (AVI: video frames in the file),
//    "samples" (WAVE, AVI: sound frames in the file), "seconds" (the wall time of the conversion)}
//   "frames" and "samples" are null when the file holds none or was not written.
// convert --list-codecs [--json]: the video codecs the AVI conversion can use:
//   [{"name", "handler", "description", "quality", "keyFrameEvery", "bytesPerSecond"}, ...]
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <set>

#include "command_set.h"
#include "commands.h"
#include "interrupt.h"
#include "json_output.h"
#include "output.h"
#include "progress.h"
#include "stream_input.h"
#include "tamlib/convert.h"
#include "tamlib/strings.h"

namespace tamrin::cli {

namespace {

namespace fs = std::filesystem;

constexpr uint16_t kDefaultStretch = 4;
constexpr uint16_t kDefaultKbps = 128;
// The description of a stream that could not be found or read (the conversion result code).
constexpr int32_t kNoDescription = 4;

enum class Target
{
    Wave,
    Avi,
    Mp3,
};

Target targetOf(const std::string& to)
{
    return to == "avi" ? Target::Avi : to == "mp3" ? Target::Mp3 : Target::Wave;
}

const char* extensionOf(Target target)
{
    return target == Target::Avi ? ".avi" : target == Target::Mp3 ? ".mp3" : ".wav";
}

std::string resultText(int32_t result)
{
    char text[PLB_STRING_MAX];
    return PlbConvertResultText(result, text);
}

// A StrInfo frame rate (tenths of a frame per second up to 800, hundredths above) from a number
// of frames per second: "15", "7.5", "29.97".
std::optional<uint16_t> parseFrameRate(const std::string& text)
{
    double fps = 0;
    const auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), fps);
    if (problem != std::errc() || end != text.data() + text.size() || !(fps > 0) || fps > 600)
        return std::nullopt;
    const double tenths = fps * 10, hundredths = fps * 100;
    if (std::fabs(tenths - std::round(tenths)) < 1e-6 && std::round(tenths) <= 800)
        return uint16_t(std::round(tenths));
    if (std::fabs(hundredths - std::round(hundredths)) < 1e-6 && std::round(hundredths) > 800)
        return uint16_t(std::round(hundredths));
    return std::nullopt;
}

std::optional<std::pair<uint32_t, uint32_t>> parseSize(const std::string& text)
{
    const size_t x = text.find_first_of("xX");
    if (x == std::string::npos)
        return std::nullopt;
    uint32_t width = 0, height = 0;
    const char* begin = text.data();
    const auto w = std::from_chars(begin, begin + x, width);
    const auto h = std::from_chars(begin + x + 1, begin + text.size(), height);
    if (w.ec != std::errc() || w.ptr != begin + x || h.ec != std::errc() || h.ptr != begin + text.size() ||
        width < 1 || width > LBR_MAX_PICTURE_SIDE || height < 1 || height > LBR_MAX_PICTURE_SIDE)
        return std::nullopt;
    return std::make_pair(width, height);
}

// A name for a file from a stream title: no folder separators, control characters or characters
// other systems refuse, no leading dot, at most 100 bytes.
std::string fileNameOf(const std::string& title)
{
    std::string name;
    for (const char c : title) {
        const auto byte = static_cast<unsigned char>(c);
        name += byte < 0x20 || byte == 0x7F || std::strchr("/\\:*?\"<>|", c) ? '_' : c;
    }
    while (!name.empty() && (name.front() == '.' || name.front() == ' '))
        name.erase(name.begin());
    while (!name.empty() && name.back() == ' ')
        name.pop_back();
    if (name.size() > 100)
        name.resize(100);
    return name;
}

std::string handlerText(uint32_t handler)
{
    std::string text;
    for (int i = 0; i < 4; ++i) {
        const char c = char((handler >> (8 * i)) & 0xFF);
        text += std::isprint(static_cast<unsigned char>(c)) ? c : '?';
    }
    return text;
}

uint32_t le32(const char* bytes)
{
    uint32_t value;
    std::memcpy(&value, bytes, 4);
    return value;
}

// What a finished file holds, read back from its headers.
struct Contents
{
    std::optional<uint64_t> frames;
    std::optional<uint64_t> samples;
};

Contents waveContents(const fs::path& path)
{
    char header[44];
    std::ifstream in(path, std::ios::binary);
    if (!in.read(header, sizeof header) || std::memcmp(header + 36, "data", 4) != 0)
        return {};
    const uint32_t frameBytes = uint32_t(uint8_t(header[32])) | uint32_t(uint8_t(header[33])) << 8;
    if (frameBytes == 0)
        return {};
    return {std::nullopt, le32(header + 40) / frameBytes};
}

// The AVI's main header (total frames, and the OpenDML count of a file past 1 GB) and the length
// of its sound stream, from the chunks of its header list.
Contents aviContents(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string head(64 << 10, '\0');
    in.read(head.data(), std::streamsize(head.size()));
    head.resize(size_t(in.gcount()));
    Contents contents;
    if (head.size() < 12 || head.compare(0, 4, "RIFF") != 0 || head.compare(8, 4, "AVI ") != 0)
        return contents;
    bool audio = false;
    for (size_t at = 12; at + 8 <= head.size();) {
        const std::string id = head.substr(at, 4);
        const uint32_t size = le32(head.data() + at + 4);
        if (id == "LIST") {
            at += 12; // into the list
            continue;
        }
        const size_t body = at + 8;
        if (id == "movi" || body + size > head.size())
            break;
        if (id == "avih" && size >= 20 && !contents.frames)
            contents.frames = le32(head.data() + body + 16);
        else if (id == "dmlh" && size >= 4)
            contents.frames = le32(head.data() + body);
        else if (id == "strh" && size >= 36) {
            audio = head.compare(body, 4, "auds") == 0;
            if (audio)
                contents.samples = le32(head.data() + body + 32);
        }
        at = body + size + (size & 1);
    }
    return contents;
}

// Why an output file could not be written, when the system said so in a way worth showing.
std::string reasonText(int32_t result, int error)
{
    if (result != PLB_CONV_AVI_FILE && result != PLB_CONV_WAVE_FILE)
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

struct SourceResult
{
    std::string source;
    std::string subject; // the source in messages: with the stream chosen on a disc
    std::optional<fs::path> path;
    int32_t result = 0;
    std::string message;
    bool cancelled = false;
    bool written = false;
    Contents contents;
    double seconds = 0;
};

// The progress callback's context: Ctrl-C answers 0.
struct Watch
{
    const InterruptStops& interrupts;
    ConversionProgressLine& line;
    bool cancelled = false;

    static int32_t report(uint32_t positionMs, uint32_t lengthMs, void* user)
    {
        auto* self = static_cast<Watch*>(user);
        if (self->interrupts.stopped()) {
            self->cancelled = true;
            return 0;
        }
        self->line.update(positionMs, lengthMs);
        return 1;
    }
};

void copyPath(char (&field)[PLB_PATH_BYTES], const fs::path& path)
{
    const std::string text = path.string();
    std::memset(field, 0, PLB_PATH_BYTES);
    std::memcpy(field, text.data(), std::min(text.size(), size_t(PLB_PATH_BYTES - 1)));
}

class ConvertRun
{
  public:
    // The options have been checked (convertUsageProblem).
    explicit ConvertRun(const ConvertOptions& options)
        : m_options(options), m_target(targetOf(options.to)),
          m_size(options.size.empty() ? std::nullopt : parseSize(options.size)),
          m_frameRate(options.fps.empty() ? std::nullopt : parseFrameRate(options.fps))
    {
    }

    int run()
    {
        if (!m_options.codec.empty() && !findCodec())
            return kExitUsage;
        m_toFolder =
            m_options.sources.size() > 1 || fs::is_directory(m_options.out) || m_options.out.ends_with('/');
        if (m_toFolder && !makeFolder())
            return kExitFailure;
        InterruptStops interrupts;
        for (const std::string& source : m_options.sources) {
            if (interrupts.stopped() || (!m_results.empty() && m_results.back().cancelled))
                break;
            m_results.push_back(convertOne(source, interrupts));
            if (!m_options.json)
                printText(m_results.back());
        }
        if (const size_t left = m_options.sources.size() - m_results.size())
            reportError("convert",
                        "interrupted; " + counted(left, "source was", "sources were") + " not converted");
        if (m_options.json)
            printJson();
        const bool allWritten =
            m_results.size() == m_options.sources.size() &&
            std::all_of(m_results.begin(), m_results.end(), [](const SourceResult& r) { return r.written; });
        return allWritten ? kExitOk : kExitFailure;
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
        if (PlbFindAVICodec(m_options.codec.c_str(), &m_compression) == 1)
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

    // The output of a stream: --out itself, or a name in the --out folder from the stream's title
    // or its source's name, never one that an earlier source of this run took.
    fs::path outputFor(const StreamInput& input)
    {
        if (!m_toFolder)
            return m_options.out;
        std::string base = fileNameOf(input.title());
        if (base.empty())
            base = fileNameOf(input.outputStem());
        if (base.empty())
            base = "stream";
        std::string name = base + extensionOf(m_target);
        for (int n = 2; m_taken.count(name); ++n)
            name = base + "-" + std::to_string(n) + extensionOf(m_target);
        m_taken.insert(name);
        return fs::path(m_options.out) / name;
    }

    SourceResult convertOne(const std::string& source, const InterruptStops& interrupts)
    {
        SourceResult result;
        result.source = source;
        result.subject = source;
        StreamInput input;
        if (!input.accept({source, m_options.plugin, m_options.disc, !m_options.noProgress})) {
            result.result = kNoDescription;
            result.message = resultText(kNoDescription);
            return result;
        }
        result.subject = input.subject();
        const fs::path out = outputFor(input);
        result.path = out;
        if (out.string().size() >= PLB_PATH_BYTES) {
            // The settings records hold 259 bytes: a longer path would be cut to another file's.
            result.result = fileFailure();
            result.message = resultText(result.result) + " (the path is longer than " +
                             std::to_string(PLB_PATH_BYTES - 1) + " bytes)";
            return result;
        }
        std::error_code error;
        if (!m_options.force && fs::exists(fs::symlink_status(out, error))) {
            result.result = PLB_CONV_OUTPUT_EXISTS;
            result.message = resultText(PLB_CONV_OUTPUT_EXISTS) + " (--force replaces it)";
            return result;
        }

        const Acceptance& accepted = input.accepted();
        const char* fileName = input.isDisc() ? nullptr : source.c_str();
        const int32_t previousDrive = PlbSetConvertDrive(input.isDisc() ? input.drive() : -1);
        ConversionProgressLine line(!m_options.noProgress, input.subject());
        Watch watch{interrupts, line};
        const auto start = std::chrono::steady_clock::now();
        errno = 0;
        result.result = convertStream(accepted, fileName, out, watch);
        const int reason = errno;
        result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        line.finish();
        PlbSetConvertDrive(previousDrive);

        result.cancelled = watch.cancelled;
        if (result.cancelled) {
            result.message = "interrupted; nothing was written";
        } else if (result.result != PLB_CONV_OK) {
            result.message = resultText(result.result) + reasonText(result.result, reason);
        } else if (!fs::is_regular_file(out, error)) {
            result.message = "the converter reported success but wrote no file";
        } else {
            result.written = true;
            result.message = resultText(PLB_CONV_OK);
            result.contents = m_target == Target::Wave  ? waveContents(out)
                              : m_target == Target::Avi ? aviContents(out)
                                                        : Contents{};
        }
        return result;
    }

    // The result code of an output file that cannot be made.
    int32_t fileFailure() const
    {
        constexpr int32_t kMp3OutputFile = 44; // the encoder's "output file cannot be created"
        return m_target == Target::Avi   ? PLB_CONV_AVI_FILE
               : m_target == Target::Mp3 ? kMp3OutputFile
                                         : PLB_CONV_WAVE_FILE;
    }

    int32_t convertStream(const Acceptance& accepted, const char* fileName, const fs::path& out, Watch& watch)
    {
        const StrInfo& info = accepted.info;
        const char* plugin = accepted.plugin.c_str();
        switch (m_target) {
        case Target::Wave: {
            PlbWaveSettings settings{};
            copyPath(settings.outputPath, out);
            settings.formatTag = 1;
            settings.sampleRate = m_options.rate ? m_options.rate : info.sampleRate;
            settings.channels = m_options.channels ? m_options.channels : info.channels;
            settings.bitsPerSample = m_options.bits ? m_options.bits : uint16_t(16);
            return PlbConvertWAVE(plugin, fileName, &info, &settings, Watch::report, &watch);
        }
        case Target::Avi: {
            PlbAviSettings settings{};
            copyPath(settings.outputPath, out);
            settings.width = m_size ? m_size->first : info.width;
            settings.height = m_size ? m_size->second : info.height;
            settings.frameRate = m_frameRate ? *m_frameRate : info.frameRate;
            settings.stretchMode = kDefaultStretch;
            settings.audio = !m_options.noAudio && (info.kind & StrAudio) && !(info.kind & StrMusic) &&
                             info.channels != 0 && info.sampleRate != 0;
            settings.sampleRate = m_options.rate ? m_options.rate : info.sampleRate;
            settings.channels = m_options.channels ? m_options.channels : info.channels;
            settings.bitsPerSample = m_options.bits ? m_options.bits : uint16_t(16);
            settings.compression = compression();
            return PlbConvertAVI(plugin, fileName, &info, &settings, Watch::report, &watch);
        }
        case Target::Mp3: {
            PlbMp3Settings settings{};
            copyPath(settings.outputPath, out);
            settings.bitRate = m_options.vbr >= 0 ? uint16_t(PLB_MP3_VBR | m_options.vbr)
                                                  : uint16_t(m_options.kbps ? m_options.kbps : kDefaultKbps);
            const std::string mode = !m_options.mode.empty() ? m_options.mode
                                     : info.channels == 1    ? "mono"
                                                             : "joint";
            settings.channelMode = mode == "mono" ? 0 : mode == "stereo" ? 1 : 2;
            // The encoder's usual quality and its own low-pass filter, as other LAME front ends
            // use it (the thorough analysis takes twice the time for little gain).
            settings.switches = PLB_MP3_LOWPASS_128;
            return PlbConvertGOGO(plugin, fileName, &info, &settings, Watch::report, &watch);
        }
        }
        return PLB_CONV_NO_STREAM;
    }

    PlbAviCompression compression() const
    {
        PlbAviCompression chosen = m_compression;
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

    void printText(const SourceResult& result) const
    {
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
    const Target m_target;
    const std::optional<std::pair<uint32_t, uint32_t>> m_size;
    const std::optional<uint16_t> m_frameRate;
    bool m_toFolder = false;
    PlbAviCompression m_compression{};
    std::set<std::string> m_taken;
    std::vector<SourceResult> m_results;
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
        if (!options.sources.empty() || !options.to.empty() || !options.out.empty())
            return "--list-codecs takes no sources, --to or --out";
        return std::nullopt;
    }
    if (options.sources.empty())
        return "name at least one source (or --list-codecs)";
    if (options.to.empty())
        return "--to wave, avi or mp3 is required";
    if (options.out.empty())
        return "--out is required: the file, or with several sources the folder";
    std::error_code error;
    if (options.sources.size() > 1 && fs::exists(options.out, error) && !fs::is_directory(options.out, error))
        return options.out + " is not a folder; several sources need --out FOLDER";
    for (const std::string& source : options.sources)
        if (const auto problem = streamChoiceProblem(source, options.plugin, options.disc))
            return problem;
    const Target target = targetOf(options.to);
    const bool aviOptions = !options.size.empty() || !options.fps.empty() || !options.codec.empty() ||
                            options.quality || options.keyframe || options.bitrate || options.noAudio;
    if (target != Target::Avi && aviOptions)
        return "--size, --fps, --codec, --quality, --keyframe, --bitrate and --no-audio go with --to avi";
    const bool mp3Options = options.kbps || options.vbr >= 0 || !options.mode.empty();
    if (target != Target::Mp3 && mp3Options)
        return "--kbps, --vbr and --mode go with --to mp3";
    if (target == Target::Mp3 && (options.rate || options.channels || options.bits))
        return "--rate, --channels and --bits do not go with --to mp3 (it is made at 44100 Hz; see --mode)";
    if (options.kbps && options.vbr >= 0)
        return "--kbps and --vbr exclude each other";
    if (target == Target::Avi && options.noAudio && (options.rate || options.channels || options.bits))
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
    CLI::App* convert = commands.add(
        nullptr, "convert",
        "Convert streams into WAVE, AVI or MP3 files: movie and sound files, IMAGE#N (a stream of the "
        "disc's stored analysis), IMAGE --stream K (of a scan) or an area of a disc.",
        [options] {
            return runUnlessProblem("convert", convertUsageProblem(*options),
                                    [&] { return runConvert(*options); });
        });
    convert->add_option("sources", options->sources, "The files, disc images or drives to convert.");
    addStreamOptions(convert, options->plugin, options->disc);
    convert->add_option("--to", options->to, "The kind of file: wave, avi or mp3.")
        ->check(CLI::IsMember({"wave", "avi", "mp3"}));
    convert->add_option("--out", options->out,
                        "The file to write; with several sources (or an existing folder) the folder, "
                        "made when missing, where each gets a name from its stream title or source.");
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
    convert->add_flag("--force", options->force,
                      "Replace outputs that exist (only once the new file is complete).");
    convert->add_flag("--list-codecs", options->listCodecs, "List the video codecs of the AVI conversion.");
    addJsonFlag(convert, options->json);
    addNoProgressFlag(convert, options->noProgress);
}

} // namespace tamrin::cli
