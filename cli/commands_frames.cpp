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
#include <vector>

#include "atomic_file.h"
#include "command_set.h"
#include "commands.h"
#include "json_output.h"
#include "output.h"
#include "picture_file.h"
#include "plugin_folder.h"
#include "progress.h"
#include "stream_input.h"
#include "streamkit/lbr.h"
#include "tamlib/unit_buffer.h"

namespace tamrin::cli {

namespace {

// Scaler used when only a size is given: two-pass area averaging or linear interpolation.
constexpr int32_t kDefaultStretch = 4;

// A picture kept from frame to frame. The library consumes a picture given for reuse and
// returns the one to keep (or null), so every call replaces the pointer held here.
struct PictureSlot
{
    FrameDib* picture = nullptr;
    PictureSlot() = default;
    PictureSlot(const PictureSlot&) = delete;
    PictureSlot& operator=(const PictureSlot&) = delete;
    ~PictureSlot() { LbrFreeBitmap(picture); }
};

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

// A picture unit meant only for the plugin's own decoder gives no picture, and that is no fault.
bool unitShowsNothing(const PsrReadRecord& record)
{
    return record.unitKind == UnitVideoPluginOnly || (record.unitFlags & UnitNoShow) != 0;
}

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
                                                       : Output::Bmp),
          m_record(m_buffer.record())
    {
        if (!options.size.empty())
            m_target = parsePictureSize(options.size);
        m_stretch = options.stretch >= 0 ? options.stretch : m_target ? kDefaultStretch : 0;
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
        uint32_t taken = 0;
        while (!m_stopped && (m_options.count == 0 || taken < m_options.count)) {
            if (LbrReadStream(m_stream, LBR_WANT_VIDEO, m_record) != 1)
                break;
            if (!m_buffer.holdsPayload()) {
                fail(m_subject, "a unit claims " + std::to_string(m_record->payloadBytes) +
                                    " payload bytes, more than the read buffer holds");
                m_stopped = true;
                break;
            }
            const uint32_t frameNumber = m_record->frameNumber;
            if (frameNumber >= m_options.first) {
                if (handleFrame(pass))
                    ++taken;
                progress.update(m_decoded, frameNumber, m_accepted.info.frameCount);
            }
            if (LbrFreeReadBuffer(m_stream, m_record) != 1)
                fail(m_subject, shownPluginName(m_accepted.plugin) + " did not take back the unit of frame " +
                                    std::to_string(frameNumber));
        }
    }

    // Decodes and hands on the unit in the record. True when it was a frame, decoded or not
    // (a frame that cannot be decoded still counts as one of --count).
    bool handleFrame(uint32_t pass)
    {
        FrameLine line;
        line.pass = pass;
        line.frameNumber = m_record->frameNumber;
        const Outcome outcome = m_options.yuv ? decodePlanes(line) : decodePicture(line);
        if (outcome != Outcome::Shown)
            return outcome == Outcome::Failed;
        ++m_decoded;
        if (m_options.json)
            m_lines.push_back(std::move(line));
        else if (m_options.crc)
            printFrameText(line);
        return true;
    }

    // The outcome of a unit that gave no picture.
    Outcome noPicture(const FrameLine& line)
    {
        if (unitShowsNothing(*m_record))
            return Outcome::Skipped;
        fail(frameSubject(m_subject, line.frameNumber), "cannot be decoded");
        return Outcome::Failed;
    }

    Outcome decodePicture(FrameLine& line)
    {
        m_decodedPicture.picture =
            LbrDecodeFrame(m_stream, m_record, m_options.bits, 0, m_decodedPicture.picture);
        if (!m_decodedPicture.picture)
            return noPicture(line);
        FrameDib* picture = m_decodedPicture.picture;
        if (m_stretch != 0) {
            const int32_t target[2] = {m_target ? m_target->width : 0, m_target ? m_target->height : 0};
            FrameDib* result =
                LbrStretchFrame(picture, m_scaledPicture.picture, m_stretch, 0, m_target ? target : nullptr);
            // The picture given for reuse is consumed either way.
            m_scaledPicture.picture = result == picture ? nullptr : result;
            if (m_target && result == picture &&
                (picture->width != m_target->width || picture->height != m_target->height)) {
                fail(frameSubject(m_subject, line.frameNumber),
                     "cannot be scaled to " + m_options.size + " (out of memory)");
                return Outcome::Failed;
            }
            picture = result;
        }
        if (const auto problem = pictureHeaderProblem(*picture)) {
            fail(frameSubject(m_subject, line.frameNumber),
                 "the decoder gave a malformed picture (" + *problem + ")");
            return Outcome::Failed;
        }
        line.width = picture->width;
        line.height = picture->height;
        if (m_options.crc)
            line.crc32 = picturePixelCrc(*picture);
        if (m_output == Output::Bmp) {
            const std::filesystem::path path =
                std::filesystem::path(m_options.out) / (m_stem + "-" + numbered(line.frameNumber) + ".bmp");
            std::string error;
            if (!writeBmpFile(path, *picture, error)) {
                fail(path.string(), error);
                m_stopped = true; // a full disc or a lost folder fails every later frame too
                return Outcome::Failed;
            }
            line.path = path.string();
            ++m_written;
        }
        return Outcome::Shown;
    }

    Outcome decodePlanes(FrameLine& line)
    {
        const uint32_t width = m_record->width;
        const uint32_t height = m_record->height;
        if (!sideInRange(width) || !sideInRange(height)) {
            fail(frameSubject(m_subject, line.frameNumber),
                 "size " + std::to_string(width) + "x" + std::to_string(height) + " out of range");
            return Outcome::Failed;
        }
        const size_t lumaBytes = size_t(width) * height;
        const size_t chromaBytes = size_t((width + 1) / 2) * ((height + 1) / 2);
        m_planes.resize(lumaBytes + 2 * chromaBytes);
        uint8_t* y = m_planes.data();
        uint8_t* cb = y + lumaBytes;
        uint8_t* cr = cb + chromaBytes;
        if (LbrDecodeFrameYuv(m_stream, m_record, y, cb, cr) != 1)
            return noPicture(line);
        line.width = int32_t(width);
        line.height = int32_t(height);
        if (m_options.crc)
            line.crc32 = uint32_t(::crc32(::crc32(0, nullptr, 0), m_planes.data(), uInt(m_planes.size())));
        if (m_output == Output::Yuv) {
            if (m_planeSize.width == 0) {
                m_planeSize = PictureSize{int32_t(width), int32_t(height)};
            } else if (m_planeSize.width != int32_t(width) || m_planeSize.height != int32_t(height)) {
                fail(frameSubject(m_subject, line.frameNumber),
                     "is " + std::to_string(width) + "x" + std::to_string(height) + ", earlier frames " +
                         std::to_string(m_planeSize.width) + "x" + std::to_string(m_planeSize.height) +
                         "; a raw planar file holds one size");
                m_stopped = true;
                return Outcome::Failed;
            }
            std::string error;
            if (!m_yuvFile.write(m_planes.data(), m_planes.size(), error)) {
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
    std::optional<PictureSize> m_target;
    int32_t m_stretch = 0;

    tamlib::UnitBuffer m_buffer;
    PsrReadRecord* m_record;
    PictureSlot m_decodedPicture;
    PictureSlot m_scaledPicture;
    std::vector<uint8_t> m_planes;
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
