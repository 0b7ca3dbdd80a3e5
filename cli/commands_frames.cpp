// frames: decode every picture of a movie, as the player does, and write each as a BMP file, or
// all of them as one raw planar 4:2:0 file, or nothing (for timing); optionally with a CRC-32
// per frame, the regression guard of the decoder.
#include <unistd.h>
#include <zlib.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "atomic_file.h"
#include "command_set.h"
#include "commands.h"
#include "json_output.h"
#include "output.h"
#include "plugin_folder.h"
#include "progress.h"
#include "stream_input.h"
#include "streamkit/lbr.h"
#include "tamlib/frame_decoder.h"
#include "tamlib/picture_file.h"

namespace tamrin::cli {

namespace {

using tamlib::pictureHeaderProblem;
using tamlib::picturePixelCrc;
using tamlib::writeBmpFile;

// Scaler used when only a size is given: two-pass area averaging or linear interpolation.
constexpr int32_t kDefaultStretch = 4;

struct PictureSize
{
    int32_t width = 0;
    int32_t height = 0;
};

bool sideInRange(int64_t side)
{
    return side >= 1 && side <= LBR_MAX_PICTURE_SIDE;
}

// "WxH" with both sides from 1 to LBR_MAX_PICTURE_SIDE.
std::optional<PictureSize> parsePictureSize(const std::string& text)
{
    const size_t x = text.find_first_of("xX");
    if (x == std::string::npos)
        return std::nullopt;
    int64_t width = 0, height = 0;
    const char* begin = text.data();
    const char* end = begin + text.size();
    const auto w = std::from_chars(begin, begin + x, width);
    const auto h = std::from_chars(begin + x + 1, end, height);
    if (x == 0 || w.ec != std::errc() || w.ptr != begin + x || h.ec != std::errc() || h.ptr != end ||
        !sideInRange(width) || !sideInRange(height))
        return std::nullopt;
    return PictureSize{int32_t(width), int32_t(height)};
}

enum class Output
{
    Bmp,
    Yuv,
    None,
};

enum class Outcome
{
    Shown,   // decoded (and written)
    Skipped, // a unit only for the plugin's own decoder: no picture, and no fault
    Failed,
};

// What is shown of one frame.
struct FrameLine
{
    uint32_t pass = 1;
    uint32_t frameNumber = 0;
    int32_t width = 0;
    int32_t height = 0;
    uint32_t crc32 = 0;
    std::string path; // the file written; empty for --yuv and --null
};

std::string frameSubject(const std::string& file, uint32_t frameNumber)
{
    return file + ": frame " + std::to_string(frameNumber);
}

// 8 lower-case hex digits, as the units command shows its checksums.
std::string crcText(uint32_t crc)
{
    char digits[16];
    std::snprintf(digits, sizeof digits, "%08x", crc);
    return digits;
}

std::string numbered(uint32_t frameNumber)
{
    char digits[16];
    std::snprintf(digits, sizeof digits, "%04u", frameNumber);
    return digits;
}

class FramesRun
{
  public:
    FramesRun(const FramesOptions& options, const StreamInput& input)
        : m_options(options), m_subject(input.subject()), m_stem(input.outputStem()),
          m_accepted(input.accepted()), m_stream(input.stream()),
          m_output(options.null || options.out.empty() ? Output::None
                   : options.yuv                       ? Output::Yuv
                                                       : Output::Bmp)
    {
        std::optional<PictureSize> target;
        if (!options.size.empty())
            target = parsePictureSize(options.size);
        m_settings.bits = options.bits;
        m_settings.stretch = options.stretch >= 0 ? options.stretch : target ? kDefaultStretch : 0;
        m_settings.width = target ? target->width : 0;
        m_settings.height = target ? target->height : 0;
        m_settings.planar = options.yuv;
        m_settings.first = options.first;
    }

    int run()
    {
        if (!prepareOutput())
            return kExitFailure;
        const bool linesOnTerminal = !m_options.json && m_options.crc && ::isatty(STDOUT_FILENO) == 1;
        ProgressLine progress(!m_options.noProgress && !linesOnTerminal);
        const auto start = std::chrono::steady_clock::now();
        for (uint32_t pass = 1; pass <= m_options.repeat && !m_stopped; ++pass) {
            if (pass > 1 && LbrSeekStream(m_stream, 0) != 1) {
                fail(m_subject, "cannot seek back to the start for pass " + std::to_string(pass));
                break;
            }
            runPass(pass, progress);
        }
        m_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        progress.finish();
        if (m_decoded == 0 && !m_failed)
            fail(m_subject, "no frame from number " + std::to_string(m_options.first) + " on");
        finishOutput();
        printResult();
        return m_failed ? kExitFailure : kExitOk;
    }

  private:
    bool prepareOutput()
    {
        if (m_output == Output::Bmp) {
            std::error_code error;
            const std::filesystem::path folder(m_options.out);
            // The folders made here are removed again when no picture goes into them.
            for (std::filesystem::path missing = folder;
                 !missing.empty() && !std::filesystem::exists(missing, error);
                 missing = missing.parent_path()) {
                m_madeFolders.push_back(missing);
                if (missing == missing.parent_path())
                    break;
            }
            if (!std::filesystem::exists(folder, error))
                std::filesystem::create_directories(folder, error);
            if (error || !std::filesystem::is_directory(folder, error)) {
                reportError(m_options.out, error ? "cannot create the folder: " + error.message()
                                                 : std::string("not a folder"));
                return false;
            }
        } else if (m_output == Output::Yuv) {
            std::string error;
            if (!m_yuvFile.create(m_options.out, error)) {
                reportError(m_options.out, error);
                return false;
            }
        }
        return true;
    }

    void runPass(uint32_t pass, ProgressLine& progress)
    {
        tamlib::FrameDecoder decoder(m_stream, m_settings);
        tamlib::FrameDecoder::Frame frame;
        uint32_t taken = 0;
        while (!m_stopped && (m_options.count == 0 || taken < m_options.count)) {
            const tamlib::FrameDecoder::Step step = decoder.next(frame);
            if (step == tamlib::FrameDecoder::Step::End)
                break;
            if (step == tamlib::FrameDecoder::Step::Overrun) {
                fail(m_subject, frame.problem);
                m_stopped = true;
                break;
            }
            if (step != tamlib::FrameDecoder::Step::Passed) {
                // A frame that cannot be decoded still counts as one of --count.
                if (handleFrame(pass, step, frame) != Outcome::Skipped)
                    ++taken;
                progress.update(m_decoded, frame.frameNumber, m_accepted.info.frameCount);
            }
            if (!frame.returned)
                fail(m_subject, shownPluginName(m_accepted.plugin) + " did not take back the unit of frame " +
                                    std::to_string(frame.frameNumber));
        }
    }

    Outcome handleFrame(uint32_t pass, tamlib::FrameDecoder::Step step,
                        const tamlib::FrameDecoder::Frame& frame)
    {
        if (step == tamlib::FrameDecoder::Step::NoShow)
            return Outcome::Skipped;
        if (step == tamlib::FrameDecoder::Step::BadFrame) {
            fail(frameSubject(m_subject, frame.frameNumber), frame.problem);
            return Outcome::Failed;
        }
        FrameLine line;
        line.pass = pass;
        line.frameNumber = frame.frameNumber;
        line.width = frame.width;
        line.height = frame.height;
        const Outcome outcome =
            frame.picture ? writePicture(*frame.picture, line) : writePlanes(frame.planes, line);
        if (outcome != Outcome::Shown)
            return outcome;
        ++m_decoded;
        if (m_options.json)
            m_lines.push_back(std::move(line));
        else if (m_options.crc)
            printFrameText(line);
        return outcome;
    }

    Outcome writePicture(const FrameDib& picture, FrameLine& line)
    {
        if (const auto problem = pictureHeaderProblem(picture)) {
            fail(frameSubject(m_subject, line.frameNumber),
                 "the decoder gave a malformed picture (" + *problem + ")");
            return Outcome::Failed;
        }
        if (m_options.crc)
            line.crc32 = picturePixelCrc(picture);
        if (m_output == Output::Bmp) {
            const std::filesystem::path path =
                std::filesystem::path(m_options.out) / (m_stem + "-" + numbered(line.frameNumber) + ".bmp");
            std::string error;
            if (!writeBmpFile(path, picture, error)) {
                fail(path.string(), error);
                m_stopped = true; // a full disc or a lost folder fails every later frame too
                return Outcome::Failed;
            }
            line.path = path.string();
            ++m_written;
        }
        return Outcome::Shown;
    }

    Outcome writePlanes(std::span<const uint8_t> planes, FrameLine& line)
    {
        if (m_options.crc)
            line.crc32 = uint32_t(::crc32(::crc32(0, nullptr, 0), planes.data(), uInt(planes.size())));
        if (m_output == Output::Yuv) {
            if (m_planeSize.width == 0) {
                m_planeSize = PictureSize{line.width, line.height};
            } else if (m_planeSize.width != line.width || m_planeSize.height != line.height) {
                fail(frameSubject(m_subject, line.frameNumber),
                     "is " + std::to_string(line.width) + "x" + std::to_string(line.height) +
                         ", earlier frames " + std::to_string(m_planeSize.width) + "x" +
                         std::to_string(m_planeSize.height) + "; a raw planar file holds one size");
                m_stopped = true;
                return Outcome::Failed;
            }
            std::string error;
            if (!m_yuvFile.write(planes.data(), planes.size(), error)) {
                fail(m_options.out, error);
                m_stopped = true;
                return Outcome::Failed;
            }
            ++m_written;
        }
        return Outcome::Shown;
    }

    // The planar file is kept only when it holds every frame asked for: a frame left out would
    // shift every later one.
    void finishOutput()
    {
        if (m_output == Output::Bmp && m_written == 0) {
            // Innermost first; a folder that something else has filled meanwhile stays.
            std::error_code ignored;
            for (const std::filesystem::path& folder : m_madeFolders)
                std::filesystem::remove(folder, ignored);
        }
        if (m_output != Output::Yuv)
            return;
        std::string error;
        if (m_failed) {
            m_yuvFile.discard();
            m_written = 0;
            reportError(m_options.out, "not written, as not every frame could be decoded");
        } else if (!m_yuvFile.commit(error)) {
            m_written = 0;
            fail(m_options.out, error);
        }
    }

    void fail(const std::string& subject, const std::string& message)
    {
        reportError(subject, message);
        m_failed = true;
    }

    void printFrameText(const FrameLine& line) const
    {
        if (m_options.repeat > 1)
            std::cout << "pass " << line.pass << ' ';
        std::cout << "frame " << numbered(line.frameNumber) << ' ' << line.width << 'x' << line.height
                  << " crc32 " << crcText(line.crc32) << '\n';
    }

    void printResult()
    {
        const double rate = m_seconds > 0 ? double(m_decoded) / m_seconds : 0.0;
        if (m_options.json) {
            Json frames = Json::array();
            for (const FrameLine& line : m_lines) {
                Json object;
                object["pass"] = line.pass;
                object["frameNumber"] = line.frameNumber;
                object["width"] = line.width;
                object["height"] = line.height;
                if (m_options.crc)
                    object["crc32"] = crcText(line.crc32);
                if (!line.path.empty())
                    object["path"] = line.path;
                frames.push_back(std::move(object));
            }
            Json document;
            document["file"] = m_options.file;
            document["plugin"] = shownPluginName(m_accepted.plugin);
            document["output"] = m_output == Output::Bmp ? "bmp" : m_output == Output::Yuv ? "yuv" : "none";
            if (!m_options.yuv)
                document["bits"] = m_options.bits == 16 ? 16 : 24;
            document["frames"] = std::move(frames);
            Json totals;
            totals["passes"] = m_options.repeat;
            totals["decoded"] = m_decoded;
            totals["written"] = m_written;
            totals["failed"] = m_failed;
            totals["seconds"] = m_seconds;
            document["totals"] = std::move(totals);
            writeJson(std::cout, document);
            return;
        }
        char timing[96];
        std::snprintf(timing, sizeof timing, " in %.3f s (%.1f frames/s)", m_seconds, rate);
        std::cout << m_subject << ": " << counted(m_decoded, "frame", "frames") << " decoded" << timing
                  << '\n';
        if (m_output == Output::Bmp)
            std::cout << counted(m_written, "BMP file", "BMP files") << " written to " << m_options.out
                      << '\n';
        else if (m_output == Output::Yuv && m_written > 0)
            std::cout << counted(m_written, "frame", "frames") << " written to " << m_options.out << '\n';
    }

    const FramesOptions& m_options;
    const std::string& m_subject; // the file, or the disc stream, in messages
    const std::string& m_stem;    // the start of the picture file names
    const Acceptance& m_accepted;
    StreamState* m_stream;
    const Output m_output;
    tamlib::FrameDecoder::Settings m_settings;
    PictureSize m_planeSize;
    AtomicFile m_yuvFile;
    std::vector<std::filesystem::path> m_madeFolders; // innermost first

    std::vector<FrameLine> m_lines;
    uint64_t m_decoded = 0;
    uint64_t m_written = 0;
    double m_seconds = 0;
    bool m_failed = false;
    bool m_stopped = false;
};

} // namespace

std::optional<std::string> framesUsageProblem(const FramesOptions& options)
{
    if (const auto problem = streamChoiceProblem(options.file, options.plugin, options.disc))
        return problem;
    if (!options.size.empty() && !parsePictureSize(options.size))
        return "--size must be WIDTHxHEIGHT, each from 1 to " + std::to_string(LBR_MAX_PICTURE_SIDE);
    if (options.null && !options.out.empty())
        return "--null writes nothing; leave out --out";
    if (options.out.empty() && !options.null && !options.crc)
        return "--out is required (or --null to decode only, or --crc to print checksums only)";
    if (options.repeat > 1 && !options.out.empty())
        return "--repeat is for timing and checksums; it cannot be combined with --out";
    return std::nullopt;
}

int runFrames(const FramesOptions& options)
{
    StreamInput input;
    if (!input.accept({options.file, options.plugin, options.disc, !options.noProgress}))
        return kExitFailure;
    if (!(input.accepted().info.kind & StrVideo)) {
        reportError(input.subject(), shownPluginName(input.accepted().plugin) +
                                         " finds no pictures in this " +
                                         (input.isDisc() ? "stream" : "file"));
        return kExitFailure;
    }
    // Pictures only: the sound units are never read, so they need not be queued.
    if (!input.open(LBR_WANT_VIDEO))
        return kExitFailure;
    FramesRun run(options, input);
    return run.run();
}

void addFramesCommand(CommandSet& commands)
{
    auto options = std::make_shared<FramesOptions>();
    CLI::App* frames = commands.add(
        nullptr, "frames",
        "Decode a movie's pictures into BMP files (OUT/NAME-0001.bmp by frame number; NAME is the file's "
        "name, or the disc's with the stream: disc-scan3, disc-cdaz3, disc-lba1200), into one raw planar "
        "4:2:0 file (--yuv), or only for timing (--null).",
        [options] {
            return runUnlessProblem("frames", framesUsageProblem(*options),
                                    [&] { return runFrames(*options); });
        });
    frames->add_option("file", options->file, "The movie to decode, a disc image or drive index, or IMAGE#N.")
        ->required();
    addStreamOptions(frames, options->plugin, options->disc);
    frames->add_option("--out", options->out,
                       "Folder of the BMP files (made if missing); with --yuv, the file to write.");
    CLI::Option* bits = frames
                            ->add_option("--bits", options->bits,
                                         "Bits per pixel of the pictures: 24 (default) or 16 (5-5-5).")
                            ->check(CLI::IsMember({16, 24}));
    frames->add_option("--first", options->first, "First frame number to decode (frames count from 1).")
        ->check(wholeRange(1));
    frames->add_option("--count", options->count, "Decode at most this many frames.")->check(wholeRange(1));
    CLI::Option* size = frames->add_option(
        "--size", options->size, "Scale every picture to WIDTHxHEIGHT (with --stretch mode 4 unless given).");
    CLI::Option* stretch =
        frames
            ->add_option(
                "--stretch", options->stretch,
                "Scaler: 0 none, 1 nearest neighbour, 2 to 4 area averaging or linear interpolation, 5 as "
                "4 with the 2x2 pattern for an exact double size. Without --size: to the display size.")
            ->check(wholeRange(0, 5));
    frames
        ->add_flag("--yuv", options->yuv,
                   "Write every frame into the --out file as planar 4:2:0 samples before the colour "
                   "conversion: Y, then Cb, then Cr.")
        ->excludes(bits)
        ->excludes(size)
        ->excludes(stretch);
    frames->add_flag("--null", options->null, "Decode only; write nothing.");
    frames->add_option("--repeat", options->repeat, "Decode the stream this many times (for timing).")
        ->check(wholeRange(1, 1000000));
    frames->add_flag("--crc", options->crc,
                     "Show a CRC-32 per frame of its pixel rows (without padding) or of its planar samples.");
    addJsonFlag(frames, options->json);
    addNoProgressFlag(frames, options->noProgress);
}

} // namespace tamrin::cli
