// PlbConvertAVI, checked from outside: ffprobe and ffmpeg read every file written (counts, rates,
// sizes, audio format, pictures), the pictures are compared with ffmpeg's own decode of the test
// movies, the sound with the library's sound decoder. Scripted streams (the Replay test plugin)
// give the frame numbers, rates and kinds of the edge cases around real picture payloads.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <sstream>
#include <vector>

#include "convert/avi_module.h"
#include "convert_support.h"
#include "convert_tools.h"
#include "picture_compare.h"
#include "streamkit/lbr.h"
#include "tamlib/convert.h"
#include "tamlib/sound_decoder.h"
#include "tamlib/unit_buffer.h"

namespace converttest {
namespace {

using nlohmann::json;

constexpr const char* kFilmfile = "Filmfile.psr";
constexpr const char* kReplay = "Replay.psr";
constexpr uint16_t kLevel = 100;

json ffprobe(const fs::path& file)
{
    const auto out =
        runCommand("ffprobe -v error -count_frames -show_streams -show_format -of json " + quoted(file));
    return out ? json::parse(*out) : json();
}

// The file's pictures as ffmpeg decodes them: red, green, blue, top row first.
std::string ffmpegFrames(const fs::path& file)
{
    return runCommand("ffmpeg -v error -nostdin -i " + quoted(file) +
               " -map 0:v:0 -fps_mode passthrough -f rawvideo -pix_fmt rgb24 -")
        .value_or("");
}

// The file's audio track, the bytes as stored.
std::string ffmpegAudio(const fs::path& file, int bits)
{
    return runCommand("ffmpeg -v error -nostdin -i " + quoted(file) + " -map 0:a:0 -c:a copy -f " +
               (bits == 8 ? "u8" : "s16le") + " -")
        .value_or("");
}

// The stream headers ("strh") of an AVI file, in order.
struct StreamHeader
{
    std::string type;
    std::string handler;
    uint32_t scale = 0;
    uint32_t rate = 0;
    uint32_t start = 0;
    uint32_t length = 0;
    uint32_t priority = 0;
    uint32_t bufferBytes = 0;
};

std::vector<StreamHeader> streamHeaders(const std::string& file)
{
    std::vector<StreamHeader> headers;
    for (size_t at = file.find("strh"); at != std::string::npos && at + 8 + 0x28 <= file.size();
         at = file.find("strh", at + 4)) {
        const size_t data = at + 8;
        headers.push_back({file.substr(data, 4), file.substr(data + 4, 4), le32(file, data + 0x14),
                           le32(file, data + 0x18), le32(file, data + 0x1C), le32(file, data + 0x20),
                           le32(file, data + 0x0C) & 0xFFFF, le32(file, data + 0x24)});
        if (headers.size() == 2)
            break;
    }
    return headers;
}

PlbAviSettings aviSettings(const fs::path& out, const StrInfo& info)
{
    PlbAviSettings settings{};
    std::snprintf(settings.outputPath, sizeof settings.outputPath, "%s", out.c_str());
    settings.width = info.width;
    settings.height = info.height;
    settings.frameRate = info.frameRate;
    settings.stretchMode = 4;
    settings.audio = (info.kind & StrAudio) ? 1 : 0;
    settings.channels = info.channels;
    settings.bitsPerSample = 16;
    settings.sampleRate = info.sampleRate;
    return settings;
}

// The stream's sound as the tools decode it, in the target format.
std::string decodedSound(const fs::path& movie, const StrInfo& described, const AudioFormat& target)
{
    StrInfo info = described;
    StreamState* stream = LbrOpenStream(kFilmfile, movie.c_str(), 0, &info, LBR_WANT_AUDIO);
    if (!stream)
        return {};
    tamlib::SoundDecoder decoder(stream, AudioFormat{info.sampleRate, info.channels, 16, kLevel, 0}, target);
    std::string pcm;
    tamlib::SoundDecoder::Unit unit;
    for (tamlib::SoundDecoder::Step step; (step = decoder.next(unit)) != tamlib::SoundDecoder::Step::End;) {
        if (step == tamlib::SoundDecoder::Step::Unit)
            pcm.append(reinterpret_cast<const char*>(unit.converted.data()), unit.converted.size());
    }
    LbrCloseStream(stream);
    return pcm;
}

// A picture as red, green, blue bytes, top row first.
std::string topDownRgb(FrameDib* picture)
{
    const uint32_t stride = LbrPictureStride(picture->width, 24);
    std::string rgb;
    for (int32_t y = picture->height - 1; y >= 0; --y) {
        const uint8_t* row = LbrPicturePixels(picture) + size_t(y) * stride;
        for (int32_t x = 0; x < picture->width; ++x) {
            const char pixel[3] = {char(row[3 * x + 2]), char(row[3 * x + 1]), char(row[3 * x])};
            rgb.append(pixel, 3);
        }
    }
    return rgb;
}

class ConvertAvi : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        if (!haveFfmpegTools())
            GTEST_SKIP() << "ffprobe and ffmpeg are the independent readers of these tests";
    }
    TempFolder m_folder;
};

// Every movie at its own size, rate and sound format: what ffprobe reads, the headers, the
// pictures against ffmpeg's decode of the movie, the sound against the sound decoder.
TEST_F(ConvertAvi, MoviesAsFfprobeAndTheReferencesSeeThem)
{
    struct Movie
    {
        const char* name;
        uint32_t frames;
    };
    const Movie movies[] = {{"mv1_v2_320x240_15fps_xa37800s", 45},
                            {"mv2_v3_320x240_15fps_xa37800s_ch1", 45},
                            {"mv3_v2_256x224_15fps_xa18900m", 42},
                            {"mv4_v3_160x112_15fps_x1_xa37800s", 45}};
    for (const Movie& movie : movies) {
        SCOPED_TRACE(movie.name);
        const fs::path source = moviePath(std::string(movie.name) + ".str");
        const StrInfo info = describe(kFilmfile, source);
        const fs::path out = m_folder.path() / (std::string(movie.name) + ".avi");
        const PlbAviSettings settings = aviSettings(out, info);
        ASSERT_EQ(PlbConvertAVI(kFilmfile, source.c_str(), &info, &settings, nullptr, nullptr), PLB_CONV_OK);

        const json probe = ffprobe(out);
        ASSERT_EQ(probe["streams"].size(), 2u) << probe.dump();
        const json& video = probe["streams"][0];
        const json& audio = probe["streams"][1];
        EXPECT_EQ(video["codec_name"], "rawvideo");
        EXPECT_EQ(video["width"], info.width);
        EXPECT_EQ(video["height"], info.height);
        EXPECT_EQ(video["r_frame_rate"], "15/1");
        EXPECT_EQ(video["nb_read_frames"], std::to_string(movie.frames));
        EXPECT_EQ(audio["codec_name"], "pcm_s16le");
        EXPECT_EQ(audio["sample_rate"], std::to_string(info.sampleRate));
        EXPECT_EQ(audio["channels"], info.channels);
        EXPECT_EQ(video["start_time"], "0.000000");
        EXPECT_EQ(audio["start_time"], "0.000000");
        // frames x scale / rate is the stream's length within one frame
        const double seconds = std::stod(video["duration"].get<std::string>());
        EXPECT_NEAR(seconds, movie.frames * 10.0 / 150.0, 1.0 / 15);

        const std::string file = readFile(out);
        const std::vector<StreamHeader> headers = streamHeaders(file);
        ASSERT_EQ(headers.size(), 2u);
        EXPECT_EQ(headers[0].type, "vids");
        EXPECT_EQ(headers[0].handler, "DIB ");
        EXPECT_EQ(headers[0].scale, 10u);
        EXPECT_EQ(headers[0].rate, 150u);
        EXPECT_EQ(headers[0].length, movie.frames);
        EXPECT_EQ(headers[0].start, 0u);
        EXPECT_EQ(headers[1].type, "auds");
        EXPECT_EQ(headers[1].start, 0u);
        EXPECT_EQ(headers[1].priority, 1u);
        EXPECT_EQ(headers[1].bufferBytes, info.sampleRate * info.channels * 2) << "one second";

        // Right side up and close to ffmpeg's own decode of the movie.
        const std::string frames = ffmpegFrames(out);
        const size_t frameBytes = size_t(info.width) * info.height * 3;
        ASSERT_EQ(frames.size(), frameBytes * movie.frames);
        double sum = 0;
        int compared = 0;
        for (const int number : {1, 10, 20, 30, 40}) {
            char reference[160];
            std::snprintf(reference, sizeof reference, "%s/%s-%04d.rgb", movie.name, movie.name, number);
            const std::string expected = readFile(fs::path(TAMRIN_TEST_DATA) / "references" / reference);
            ASSERT_EQ(expected.size(), frameBytes) << reference;
            const double value =
                bytesPsnr(frames.substr(frameBytes * size_t(number - 1), frameBytes), expected);
            EXPECT_GE(value, 30.0) << "frame " << number;
            sum += value;
            ++compared;
        }
        EXPECT_GE(sum / compared, 32.0);
        RecordProperty(std::string(movie.name).substr(0, 3) + "_rgb_db", std::to_string(sum / compared));

        // Sound in blocks of at most one second between the frames, not all of it at the end.
        const auto packets =
            runCommand("ffprobe -v error -show_entries packet=stream_index,size -of csv=p=0 " + quoted(out));
        ASSERT_TRUE(packets);
        const size_t second = size_t(info.sampleRate) * info.channels * 2;
        size_t videoRun = 0, longestVideoRun = 0, audioPackets = 0;
        std::istringstream lines(*packets);
        for (std::string line; std::getline(lines, line);) {
            const bool isAudio = line.rfind("1,", 0) == 0;
            if (isAudio) {
                ++audioPackets;
                EXPECT_LE(std::stoul(line.substr(2)), second);
            }
            videoRun = isAudio ? 0 : videoRun + 1;
            longestVideoRun = std::max(longestVideoRun, videoRun);
        }
        EXPECT_GE(audioPackets, 3u);
        EXPECT_LE(longestVideoRun, 16u) << "about a second of frames between sound blocks";

        const AudioFormat target{info.sampleRate, info.channels, 16, kLevel, 0};
        const std::string sound = decodedSound(source, info, target);
        ASSERT_FALSE(sound.empty());
        EXPECT_TRUE(ffmpegAudio(out, 16) == sound)
            << "the audio track is the decoded sound, sample for sample";
    }
}

// Sound converted to the settings' format, and pictures stretched to the settings' size.
TEST_F(ConvertAvi, SoundFormatAndPictureSizeOfTheSettings)
{
    struct Case
    {
        uint32_t sampleRate;
        uint16_t channels;
        uint16_t bits;
        uint32_t width;
        uint32_t height;
        uint16_t stretchMode;
        const char* codec;
    };
    const Case cases[] = {{44100, 2, 16, 320, 240, 4, "pcm_s16le"},
                          {22050, 1, 8, 160, 120, 0, "pcm_u8"},      // a mode that scales nothing
                          {37800, 1, 16, 642, 481, 1, "pcm_s16le"}}; // odd sizes: rows padded to 4 bytes
    const std::string firstReference =
        (fs::path(TAMRIN_TEST_DATA) / "references" / "mv1_v2_320x240_15fps_xa37800s" /
         "mv1_v2_320x240_15fps_xa37800s-0001.rgb")
            .string();
    const fs::path source = moviePath("mv1_v2_320x240_15fps_xa37800s.str");
    const StrInfo info = describe(kFilmfile, source);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.sampleRate) + " Hz " + std::to_string(c.width) + "x" +
                     std::to_string(c.height));
        const fs::path out = m_folder.path() / "sized.avi";
        PlbAviSettings settings = aviSettings(out, info);
        settings.sampleRate = c.sampleRate;
        settings.channels = c.channels;
        settings.bitsPerSample = c.bits;
        settings.width = c.width;
        settings.height = c.height;
        settings.stretchMode = c.stretchMode;
        ASSERT_EQ(PlbConvertAVI(kFilmfile, source.c_str(), &info, &settings, nullptr, nullptr), PLB_CONV_OK);
        const json probe = ffprobe(out);
        ASSERT_EQ(probe["streams"].size(), 2u);
        EXPECT_EQ(probe["streams"][0]["width"], c.width);
        EXPECT_EQ(probe["streams"][0]["height"], c.height);
        EXPECT_EQ(probe["streams"][0]["nb_read_frames"], "45");
        EXPECT_EQ(probe["streams"][1]["codec_name"], c.codec);
        EXPECT_EQ(probe["streams"][1]["sample_rate"], std::to_string(c.sampleRate));
        EXPECT_EQ(probe["streams"][1]["channels"], c.channels);
        const std::string sound =
            decodedSound(source, info, AudioFormat{c.sampleRate, c.channels, c.bits, kLevel, 0});
        EXPECT_TRUE(ffmpegAudio(out, c.bits) == sound);
        // The first picture, scaled, looks like ffmpeg's first picture scaled by ffmpeg.
        const std::string frames = ffmpegFrames(out);
        const size_t frameBytes = size_t(c.width) * c.height * 3;
        ASSERT_EQ(frames.size(), frameBytes * 45);
        const std::string scaled = runCommand("ffmpeg -v error -nostdin -f rawvideo -pix_fmt rgb24 -s 320x240 -i '" +
                                       firstReference + "' -vf scale=" + std::to_string(c.width) + ":" +
                                       std::to_string(c.height) + " -f rawvideo -pix_fmt rgb24 -")
                                       .value_or("");
        ASSERT_EQ(scaled.size(), frameBytes);
        EXPECT_GE(bytesPsnr(frames.substr(0, frameBytes), scaled), 24.0);
    }
}

// ---- scripted streams -------------------------------------------------------------------------

struct SourceFrame
{
    std::string unit; // header and payload as the movie plugin gave them
    std::string rgb;  // its picture, decoded
};

// The first pictures of the first movie, as units and as decoded pictures.
const std::vector<SourceFrame>& sourceFrames()
{
    static const std::vector<SourceFrame> frames = [] {
        std::vector<SourceFrame> result;
        const fs::path movie = moviePath("mv1_v2_320x240_15fps_xa37800s.str");
        StrInfo info = describe(kFilmfile, movie);
        StreamState* stream = LbrOpenStream(kFilmfile, movie.c_str(), 0, &info, LBR_WANT_VIDEO);
        if (!stream)
            return result;
        tamlib::UnitBuffer buffer;
        PsrReadRecord* record = buffer.record();
        while (result.size() < 4 && LbrReadStream(stream, LBR_WANT_VIDEO, record) == 1) {
            SourceFrame frame;
            frame.unit.assign(reinterpret_cast<const char*>(record),
                              PSR_READ_HEADER_BYTES + record->payloadBytes);
            FrameDib* picture = LbrDecodeFrame(stream, record, 24, 0, nullptr);
            if (picture)
                frame.rgb = topDownRgb(picture);
            LbrFreeBitmap(picture);
            LbrFreeReadBuffer(stream, record);
            result.push_back(frame);
        }
        LbrCloseStream(stream);
        return result;
    }();
    return frames;
}

constexpr int kGarbage = -1; // a payload too short to decode

struct ScriptedUnit
{
    int source; // index into sourceFrames(), or kGarbage
    uint32_t frameNumber;
    uint16_t param = 0;
    uint8_t kind = UnitVideo;
};

// Writes a Replay stream of these units at rate 150 (timed: its length comes from durationMs).
fs::path writeScript(const fs::path& folder, const std::vector<ScriptedUnit>& units, uint32_t frameCount,
                     bool timed, uint32_t durationMs)
{
    StrInfo info{};
    info.kind = StrVideo | (timed ? StrTimed : 0);
    info.frameCount = frameCount;
    info.durationMs = durationMs;
    info.width = 320;
    info.height = 240;
    info.frameRate = 150;
    std::string bytes = "RPLY";
    bytes.append(reinterpret_cast<const char*>(&info), sizeof info);
    for (const ScriptedUnit& unit : units) {
        std::string record = unit.source == kGarbage ? std::string(PSR_READ_HEADER_BYTES + 2, '\x5A')
                                                     : sourceFrames().at(size_t(unit.source)).unit;
        PsrReadRecord header;
        std::memcpy(&header, record.data(), PSR_READ_HEADER_BYTES);
        header.frameNumber = unit.frameNumber;
        header.param = unit.param;
        header.unitKind = unit.kind;
        header.unitFlags = 0;
        header.width = 320;
        header.height = 240;
        header.payloadBytes = uint32_t(record.size() - PSR_READ_HEADER_BYTES);
        std::memcpy(record.data(), &header, PSR_READ_HEADER_BYTES);
        bytes += record;
    }
    const fs::path script = folder / "script.rply";
    writeFile(script, bytes);
    return script;
}

TEST_F(ConvertAvi, ScriptedFrameNumbersRatesAndKinds)
{
    ASSERT_GE(sourceFrames().size(), 3u);
    for (size_t i = 0; i < 3; ++i)
        ASSERT_EQ(sourceFrames()[i].rgb.size(), 320u * 240 * 3);
    struct Case
    {
        const char* what;
        std::vector<ScriptedUnit> units;
        uint32_t frameCount;
        bool timed;
        uint32_t durationMs;
        std::vector<int> written; // source of each frame of the file
    };
    const Case cases[] = {
        {"frame numbers 1, 2, 5: frame 2 three times",
         {{0, 1}, {1, 2}, {2, 5}},
         5,
         false,
         0,
         {0, 1, 1, 1, 2}},
        {"a unit of rate 75 in a stream of 150 twice",
         {{0, 1}, {1, 2, 75}, {2, 3}},
         3,
         true,
         267,
         {0, 1, 1, 2}},
        {"missing last frames padded", {{0, 1}, {1, 2}, {2, 3}}, 6, false, 0, {0, 1, 2, 2, 2, 2}},
        {"a unit for the plugin's decoder is neither shown nor counted",
         {{0, 1}, {1, 2, 0, UnitVideoPluginOnly}, {2, 3}},
         3,
         false,
         0,
         {0, 0, 2}},
        {"an undecodable frame is filled by the next",
         {{0, 1}, {kGarbage, 2}, {2, 3}},
         3,
         false,
         0,
         {0, 2, 2}},
        {"a damaged frame number is no gap",
         {{0, 1}, {1, 0x7FFFFFF0}, {2, 0x7FFFFFF1}},
         3,
         false,
         0,
         {0, 1, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path script = writeScript(m_folder.path(), c.units, c.frameCount, c.timed, c.durationMs);
        const StrInfo info = describe(kReplay, script);
        const fs::path out = m_folder.path() / "scripted.avi";
        const PlbAviSettings settings = aviSettings(out, info);
        ASSERT_EQ(PlbConvertAVI(kReplay, script.c_str(), &info, &settings, nullptr, nullptr), PLB_CONV_OK);
        const std::vector<StreamHeader> headers = streamHeaders(readFile(out));
        ASSERT_EQ(headers.size(), 1u) << "no audio stream asked";
        EXPECT_EQ(headers[0].length, c.written.size());
        const std::string frames = ffmpegFrames(out);
        const size_t frameBytes = 320 * 240 * 3;
        ASSERT_EQ(frames.size(), frameBytes * c.written.size());
        for (size_t i = 0; i < c.written.size(); ++i)
            EXPECT_TRUE(
                frames.compare(i * frameBytes, frameBytes, sourceFrames()[size_t(c.written[i])].rgb) == 0)
                << "frame " << i << " is the picture of source unit " << c.written[i];
    }
}

// ---- failures, cancel and progress --------------------------------------------------------------

struct ProgressLog
{
    std::vector<std::pair<uint32_t, uint32_t>> calls;
    size_t answerZeroAt = SIZE_MAX; // the call (from 0) that cancels; SIZE_MAX: none
    bool answerZeroAtEnd = false;
};

int32_t logProgress(uint32_t position, uint32_t length, void* user)
{
    auto* log = static_cast<ProgressLog*>(user);
    log->calls.emplace_back(position, length);
    if (log->calls.size() - 1 == log->answerZeroAt)
        return 0;
    return log->answerZeroAtEnd && position == length && log->calls.size() > 1 ? 0 : 1;
}

TEST_F(ConvertAvi, ProgressRunsFromZeroToTheLength)
{
    const fs::path source = moviePath("mv4_v3_160x112_15fps_x1_xa37800s.str");
    const StrInfo info = describe(kFilmfile, source);
    const PlbAviSettings settings = aviSettings(m_folder.path() / "progress.avi", info);
    ProgressLog log;
    ASSERT_EQ(PlbConvertAVI(kFilmfile, source.c_str(), &info, &settings, logProgress, &log), PLB_CONV_OK);
    ASSERT_GE(log.calls.size(), 47u); // the start, one per frame, the end
    EXPECT_EQ(log.calls.front(), std::make_pair(0u, info.durationMs));
    EXPECT_EQ(log.calls.back(), std::make_pair(info.durationMs, info.durationMs));
    for (size_t i = 1; i < log.calls.size(); ++i) {
        EXPECT_LE(log.calls[i - 1].first, log.calls[i].first) << "call " << i;
        EXPECT_EQ(log.calls[i].second, info.durationMs);
    }
    EXPECT_EQ(log.calls[1].first, 66u) << "one frame of 15 per second";
}

// Whatever goes wrong, nothing is left but the file that was there before.
TEST_F(ConvertAvi, FailuresAndCancelLeaveOnlyTheOldFile)
{
    const fs::path source = moviePath("mv4_v3_160x112_15fps_x1_xa37800s.str");
    const StrInfo movie = describe(kFilmfile, source);
    const fs::path target = m_folder.path() / "kept.avi";
    struct Case
    {
        const char* what;
        int32_t result;
        bool noFrames = false;
        const char* sourceSuffix = "";
        const char* target = "kept.avi"; // in the folder
        size_t cancelAt = SIZE_MAX;
        bool cancelAtEnd = false;
        std::optional<uint32_t> width = std::nullopt;
        std::optional<uint16_t> frameRate = std::nullopt;
        std::optional<uint16_t> channels = std::nullopt;
        std::optional<uint16_t> bits = std::nullopt;
    };
    std::vector<Case> all = {
        {.what = "no frames", .result = PLB_CONV_NO_FRAMES, .noFrames = true},
        {.what = "no such source", .result = PLB_CONV_NO_STREAM, .sourceSuffix = ".none"},
        {.what = "cancel on the third call", .result = PLB_CONV_OK, .cancelAt = 2},
        {.what = "cancel at the start", .result = PLB_CONV_OK, .cancelAt = 0},
        {.what = "the final call answers 0", .result = PLB_CONV_OK, .cancelAtEnd = true},
        {.what = "no such folder", .result = PLB_CONV_AVI_FILE, .target = "none/x.avi"},
        {.what = "no frame size", .result = PLB_CONV_VIDEO_STREAM, .width = 0},
        {.what = "no frame rate", .result = PLB_CONV_VIDEO_STREAM, .frameRate = 0},
        {.what = "three channels", .result = PLB_CONV_AUDIO_STREAM, .channels = 3},
        {.what = "12-bit sound", .result = PLB_CONV_AUDIO_STREAM, .bits = 12},
    };
    const fs::path locked = m_folder.path() / "locked";
    if (::geteuid() != 0) { // the superuser writes into read-only folders
        fs::create_directory(locked);
        writeFile(locked / "kept.avi", "the old file");
        fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
        all.push_back({.what = "read-only folder", .result = PLB_CONV_AVI_FILE, .target = "locked/kept.avi"});
    }
    for (const Case& c : all) {
        SCOPED_TRACE(c.what);
        writeFile(target, "the old file");
        StrInfo info = movie;
        if (c.noFrames)
            info.frameCount = 0;
        PlbAviSettings settings = aviSettings(m_folder.path() / c.target, info);
        settings.width = c.width.value_or(settings.width);
        settings.frameRate = c.frameRate.value_or(settings.frameRate);
        settings.channels = c.channels.value_or(settings.channels);
        settings.bitsPerSample = c.bits.value_or(settings.bitsPerSample);
        ProgressLog log{{}, c.cancelAt, c.cancelAtEnd};
        const std::string file = source.string() + c.sourceSuffix;
        EXPECT_EQ(PlbConvertAVI(kFilmfile, file.c_str(), &info, &settings, logProgress, &log), c.result);
        EXPECT_EQ(readFile(target), "the old file");
        std::vector<std::string> expected{"kept.avi"};
        if (fs::exists(locked)) {
            expected.push_back("locked");
            EXPECT_EQ(readFile(locked / "kept.avi"), "the old file");
            EXPECT_EQ(clitest::folderEntries(locked), std::vector<std::string>{"kept.avi"});
        }
        EXPECT_EQ(clitest::folderEntries(m_folder.path()), expected);
        if (c.result == PLB_CONV_NO_FRAMES) {
            EXPECT_TRUE(log.calls.empty()) << "nothing opened, nothing reported";
        }
    }
    if (fs::exists(locked))
        fs::permissions(locked, fs::perms::owner_all);
}

// A codec that cannot be opened gives uncompressed frames; every codec the module offers writes a
// file that ffmpeg reads with the codec's handler, every frame, and pictures close to the
// uncompressed ones (right side up).
TEST_F(ConvertAvi, CodecsAndTheUncompressedFallback)
{
    const fs::path source = moviePath("mv4_v3_160x112_15fps_x1_xa37800s.str");
    const StrInfo info = describe(kFilmfile, source);
    const fs::path plain = m_folder.path() / "plain.avi";
    PlbAviSettings settings = aviSettings(plain, info);
    settings.compression.type = 'v' | 'i' << 8 | 'd' << 16 | 'c' << 24;
    settings.compression.handler = 'Z' | 'Z' << 8 | 'Z' << 16 | 'Z' << 24; // no such codec
    ASSERT_EQ(PlbConvertAVI(kFilmfile, source.c_str(), &info, &settings, nullptr, nullptr), PLB_CONV_OK);
    const std::vector<StreamHeader> plainHeaders = streamHeaders(readFile(plain));
    ASSERT_EQ(plainHeaders.size(), 2u);
    EXPECT_EQ(plainHeaders[0].handler, "DIB ");
    const std::string uncompressed = ffmpegFrames(plain);
    const size_t frameBytes = size_t(info.width) * info.height * 3;
    ASSERT_EQ(uncompressed.size(), frameBytes * 45);

    const TamlibAviModule* module = tamlib::convert::aviModule();
    ASSERT_NE(module, nullptr);
    std::vector<PlbAviCompression> codecs;
    PlbAviCompression options{};
    PlbAviCodecInfo description{};
    for (int32_t index = 0; module->codecAt(index, &options, &description) == 1; ++index)
        codecs.push_back(options);
    if (codecs.empty())
        GTEST_SKIP() << "this build offers no codec";
    for (const PlbAviCompression& codec : codecs) {
        const std::string handler(reinterpret_cast<const char*>(&codec.handler), 4);
        SCOPED_TRACE(handler);
        const fs::path out = m_folder.path() / "coded.avi";
        settings = aviSettings(out, info);
        settings.compression = codec;
        ASSERT_EQ(PlbConvertAVI(kFilmfile, source.c_str(), &info, &settings, nullptr, nullptr), PLB_CONV_OK);
        const std::vector<StreamHeader> headers = streamHeaders(readFile(out));
        ASSERT_EQ(headers.size(), 2u);
        EXPECT_EQ(headers[0].handler, handler);
        EXPECT_EQ(headers[0].length, 45u);
        const json probe = ffprobe(out);
        EXPECT_NE(probe["streams"][0]["codec_name"], "rawvideo");
        EXPECT_EQ(probe["streams"][0]["nb_read_frames"], "45");
        const std::string frames = ffmpegFrames(out);
        ASSERT_EQ(frames.size(), uncompressed.size());
        for (size_t frame = 0; frame < 45; frame += 11)
            EXPECT_GE(bytesPsnr(frames.substr(frame * frameBytes, frameBytes),
                                uncompressed.substr(frame * frameBytes, frameBytes)),
                      25.0)
                << "frame " << frame + 1;
    }
}

// Without the AVI module (it cannot be loaded: here no file can be opened while it is looked
// for) a conversion fails with 6 and leaves the old file.
TEST_F(ConvertAvi, MissingModuleIsAFailure)
{
    const fs::path source = moviePath("mv4_v3_160x112_15fps_x1_xa37800s.str");
    const StrInfo info = describe(kFilmfile, source);
    const fs::path target = m_folder.path() / "kept.avi";
    writeFile(target, "the old file");
    const PlbAviSettings settings = aviSettings(target, info);
    GTEST_FLAG_SET(death_test_style, "threadsafe"); // a fresh process, the module not yet loaded
    const auto convertWithoutModule = [&] {
        const int lowest = ::open("/dev/null", O_RDONLY);
        ::close(lowest);
        rlimit limit{};
        ::getrlimit(RLIMIT_NOFILE, &limit);
        const rlim_t usual = limit.rlim_cur;
        limit.rlim_cur = rlim_t(lowest);
        ::setrlimit(RLIMIT_NOFILE, &limit);
        const bool missing = tamlib::convert::aviModule() == nullptr;
        limit.rlim_cur = usual;
        ::setrlimit(RLIMIT_NOFILE, &limit);
        std::_Exit(missing ? PlbConvertAVI(kFilmfile, source.c_str(), &info, &settings, nullptr, nullptr)
                           : 99);
    };
    EXPECT_EXIT(convertWithoutModule(), ::testing::ExitedWithCode(PLB_CONV_AVI_FILE), "");
    EXPECT_EQ(readFile(target), "the old file");
    EXPECT_EQ(clitest::folderEntries(m_folder.path()), std::vector<std::string>{"kept.avi"});
}

// A file-size limit met in the middle is a failure (6) that leaves the old file.
TEST_F(ConvertAvi, FileSizeLimitIsAFailure)
{
    const fs::path source = moviePath("mv1_v2_320x240_15fps_xa37800s.str");
    const StrInfo info = describe(kFilmfile, source);
    const fs::path target = m_folder.path() / "limited.avi";
    writeFile(target, "the old file");
    const PlbAviSettings settings = aviSettings(target, info);
    expectRefused(Refusal::FileSizeLimit, 1 << 20, PLB_CONV_AVI_FILE, [&] { // a few frames of 230 KB
        return PlbConvertAVI(kFilmfile, source.c_str(), &info, &settings, nullptr, nullptr);
    });
    EXPECT_EQ(readFile(target), "the old file");
    EXPECT_EQ(clitest::folderEntries(m_folder.path()), std::vector<std::string>{"limited.avi"});
}

} // namespace
} // namespace converttest
