// The MP3 converter on the movies of tests/data, judged by independent tools: ffprobe and ffmpeg
// read and decode what it writes, the MPEG frame headers are read here, and the length is the
// one of ffmpeg's own decode of the movie's sound. Also the encoder library missing or
// incomplete, refused settings, cancel, a write failure and two conversions at once.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "convert_support.h"
#include "convert_tools.h"
#include "streamkit/lbr.h"
#include "tamlib/convert.h"
#include "tamlib/sound_decoder.h"

namespace converttest {
namespace {

struct Source
{
    std::string movie, reference; // ffmpeg's decode of the movie's sound
    int rate;
};
const std::string kData = TAMRIN_TEST_DATA;
// 37800 Hz stereo: pink noise left, a 1000 Hz tone right.
const Source kNoise{kData + "/movies/mv4_v3_160x112_15fps_x1_xa37800s.str",
                    kData + "/references/mv4_v3_160x112_15fps_x1_xa37800s.wav", 37800};
// 18900 Hz mono speech.
const Source kMono{kData + "/movies/mv3_v2_256x224_15fps_xa18900m.str",
                   kData + "/references/mv3_v2_256x224_15fps_xa18900m.wav", 18900};
constexpr const char* kFilmfile = "Filmfile.psr";
constexpr double kFrame = 1152; // samples of an MP3 frame

void setPath(PlbMp3Settings& settings, const fs::path& path)
{
    std::snprintf(settings.outputPath, sizeof settings.outputPath, "%s", path.c_str());
}

PlbMp3Settings settingsFor(const fs::path& out, uint16_t bitRate, uint16_t mode)
{
    PlbMp3Settings settings{};
    setPath(settings, out);
    settings.bitRate = bitRate;
    settings.channelMode = mode;
    settings.vbrLowest = 112;
    settings.vbrHighest = 128;
    settings.lowPassFirst = 55;
    settings.lowPassSecond = 70;
    return settings;
}

std::string run(const std::string& command)
{
    return commandOutput(command + " 2>/dev/null");
}

// ffprobe's values of the first audio stream, comma-separated ("mp3,44100,2").
std::string probe(const fs::path& file, const std::string& entries = "stream=codec_name,sample_rate,channels")
{
    std::string text =
        run("ffprobe -v error -select_streams a:0 -show_entries " + entries + " -of csv=p=0 " + quoted(file));
    while (!text.empty() && (text.back() == '\n' || text.back() == ','))
        text.pop_back();
    return text;
}

// ffmpeg's decode of a file: 16-bit samples, interleaved, at `rate`, through `filter` if any.
std::vector<int16_t> decode(const fs::path& file, int channels, int rate = 44100,
                            const std::string& filter = "")
{
    const std::string bytes =
        run("ffmpeg -nostdin -v error -i " + quoted(file) + (filter.empty() ? "" : " -af '" + filter + "'") +
            " -f s16le -ac " + std::to_string(channels) + " -ar " + std::to_string(rate) + " -");
    std::vector<int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

// The movie's sound as the library decodes it and converts it to 44100 Hz: what is encoded.
std::vector<int16_t> pcmAt44100(const std::string& movie)
{
    StrInfo info = describe(kFilmfile, movie);
    std::vector<int16_t> samples;
    StreamState* stream = LbrOpenStream("Filmfile.psr", movie.c_str(), 0, &info, LBR_WANT_AUDIO);
    if (!stream)
        return samples;
    {
        tamlib::SoundDecoder decoder(stream, AudioFormat{info.sampleRate, info.channels, 16, 100, 0},
                                     AudioFormat{44100, info.channels, 16, 100, 0});
        tamlib::SoundDecoder::Unit unit;
        while (decoder.next(unit) == tamlib::SoundDecoder::Step::Unit) {
            const size_t at = samples.size();
            samples.resize(at + unit.converted.size() / 2);
            std::memcpy(samples.data() + at, unit.converted.data(), unit.converted.size() / 2 * 2);
        }
    }
    LbrCloseStream(stream);
    return samples;
}

// The normalised correlation of one channel of `a` and `b`, b shifted by `lag` frames, over
// `count` frames from `from`.
double correlate(const std::vector<int16_t>& a, const std::vector<int16_t>& b, int channels, int channel,
                 long lag, long from, long count)
{
    double ab = 0, aa = 0, bb = 0;
    const long framesA = long(a.size()) / channels, framesB = long(b.size()) / channels;
    for (long i = std::max(from, -lag); i < std::min({from + count, framesA, framesB - lag}); ++i) {
        const double x = a[size_t(i * channels + channel)], y = b[size_t((i + lag) * channels + channel)];
        ab += x * y;
        aa += x * x;
        bb += y * y;
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

// The lag within 2000 frames that matches best (found on a window), and the correlation there
// over the whole sound.
std::pair<double, long> bestMatch(const std::vector<int16_t>& a, const std::vector<int16_t>& b, int channels,
                                  int channel)
{
    long best = 0;
    double most = -2;
    for (long lag = -2000; lag <= 2000; ++lag)
        if (const double c = correlate(a, b, channels, channel, lag, 20000, 8000); c > most)
            most = c, best = lag;
    return {correlate(a, b, channels, channel, best, 0, long(a.size())), best};
}

// The MPEG-1 layer III frames from `offset` on, read from their headers.
struct Frame
{
    int kbps, mode, modeExtension, emphasis; // mode: 0 stereo, 1 joint, 2 dual, 3 mono
    std::string tag;                         // "Xing" or "Info" in LAME's information frame
};

std::vector<Frame> mpegFrames(const std::string& bytes, size_t offset = 0)
{
    static const int kRates[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    std::vector<Frame> frames;
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    // 44100 Hz frames only: sampling-frequency bits 00.
    for (; offset + 40 <= bytes.size() && p[offset] == 0xFF && (p[offset + 1] & 0xFE) == 0xFA &&
           kRates[p[offset + 2] >> 4] && (p[offset + 2] & 0x0C) == 0;) {
        const int kbps = kRates[p[offset + 2] >> 4], mode = p[offset + 3] >> 6;
        const std::string tag = bytes.substr(offset + (mode == 3 ? 21 : 36), 4);
        frames.push_back({kbps, mode, (p[offset + 3] >> 4) & 3, p[offset + 3] & 3,
                          tag == "Xing" || tag == "Info" ? tag : ""});
        offset += size_t(144000 * kbps / 44100 + ((p[offset + 2] >> 1) & 1));
    }
    return frames;
}

class Mp3 : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ::unsetenv("TAMRIN_LAME_LIBRARY");
        ASSERT_TRUE(m_folder.made());
        m_info = describe(kFilmfile, kNoise.movie);
        ASSERT_GT(m_info.durationMs, 0u);
    }
    void TearDown() override { ::unsetenv("TAMRIN_LAME_LIBRARY"); }

    int32_t convert(const PlbMp3Settings& settings, PlbProgressFn progress = nullptr, void* user = nullptr,
                    const Source& source = kNoise)
    {
        const StrInfo info = &source == &kNoise ? m_info : describe(kFilmfile, source.movie);
        return PlbConvertGOGO("Filmfile.psr", source.movie.c_str(), &info, &settings, progress, user);
    }
    // The reference's length in samples per channel at 44100 Hz.
    static double lengthAt44100(const Source& source, int channels)
    {
        return double(decode(source.reference, channels, source.rate).size()) / channels * 44100 /
               source.rate;
    }

    TempFolder m_folder;
    StrInfo m_info{};
};

TEST_F(Mp3, EncoderIsReportedWithItsVersion)
{
    uint32_t code = 0;
    char text[PLB_MP3_VERSION_BYTES];
    std::memset(text, 'x', sizeof text);
    const int32_t answer = PlbIsGogo(&code, text);
    EXPECT_EQ(answer, 0x4001);
    EXPECT_GE(code, 3000u); // LAME 3.x: major * 1000 + minor
    EXPECT_EQ(std::string(text).rfind("LAME 3.", 0), 0u) << text;
    EXPECT_EQ(PlbIsGogo(nullptr, nullptr), answer);
}

// Rates, modes and emphasis as asked (ffprobe and the frame headers); the length within one MP3
// frame of ffmpeg's decode of the movie; the sound what the library decodes, without a lag.
TEST_F(Mp3, EncodesAsAskedAndDecodesToTheMoviesSound)
{
    struct Case
    {
        const char* name;
        const Source* source;
        uint16_t bitRate, mode, switches, emphasis;
        int channels, headerMode, kbps; // in the file; kbps 0: variable
    };
    const Case cases[] = {
        {"cbr128-joint", &kNoise, 128, 2, 0, 0, 2, 1, 128},
        {"cbr64-mono", &kNoise, 64, 0, 0, 0, 1, 3, 64},
        {"vbr4-stereo", &kNoise, 0x4000 | 4, 1, 0, 1, 2, 0, 0},
        {"cbr144-dual", &kNoise, 144, 4, PLB_MP3_PSYCHO, 0, 2, 0, 160}, // dual channel is written as stereo
        {"cbr16-midside", &kNoise, 16, 3, 0, 3, 2, 1, 32},              // at least 32 kbit/s
        {"mono-source-joint", &kMono, 96, 2, PLB_MP3_LOWPASS_128, 0, 1, 3, 96},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path out = m_folder.path() / (std::string(c.name) + ".mp3");
        PlbMp3Settings settings = settingsFor(out, c.bitRate, c.mode);
        settings.switches = c.switches;
        settings.emphasis = c.emphasis;
        ASSERT_EQ(convert(settings, nullptr, nullptr, *c.source), PLB_CONV_OK);
        EXPECT_EQ(probe(out), "mp3,44100," + std::to_string(c.channels));
        if (c.kbps) {
            EXPECT_EQ(probe(out, "stream=bit_rate"), std::to_string(c.kbps * 1000));
        }

        const std::vector<Frame> frames = mpegFrames(readFile(out));
        ASSERT_GT(frames.size(), 50u);
        // LAME's information frame does not fit in a frame below 64 kbit/s.
        const bool informed = c.kbps == 0 || c.kbps >= 64;
        EXPECT_EQ(frames[0].tag, informed ? (c.kbps ? "Info" : "Xing") : "");
        std::set<int> rates;
        for (size_t i = informed ? 1 : 0; i < frames.size(); ++i) {
            EXPECT_EQ(frames[i].mode, c.headerMode);
            EXPECT_EQ(frames[i].emphasis, c.emphasis);
            EXPECT_TRUE(c.mode != 3 || (frames[i].modeExtension & 2)); // mid/side in every frame
            rates.insert(frames[i].kbps);
        }
        EXPECT_TRUE(c.kbps ? rates == std::set<int>{c.kbps} : rates.size() > 1);

        // With the information frame decoders drop the encoder's delay and padding.
        const std::vector<int16_t> decoded = decode(out, c.channels);
        EXPECT_NEAR(double(decoded.size()) / c.channels, lengthAt44100(*c.source, c.channels),
                    (informed ? 1 : 2) * kFrame);
        // The noise (left, and most of a mix) tells the alignment; a tone could not.
        const std::vector<int16_t> encoded = pcmAt44100(c.source->movie);
        const int sourceChannels = c.source == &kMono ? 1 : 2;
        std::vector<int16_t> mixed;
        for (size_t i = 0; c.channels < sourceChannels && i + 1 < encoded.size(); i += 2)
            mixed.push_back(int16_t((encoded[i] + encoded[i + 1]) / 2));
        for (int channel = 0; channel < c.channels; ++channel) {
            const auto [correlation, lag] =
                bestMatch(decoded, mixed.empty() ? encoded : mixed, c.channels, channel);
            EXPECT_GT(correlation, c.kbps == 32 ? 0.8 : 0.95) << "channel " << channel;
            EXPECT_TRUE(channel > 0 || std::abs(lag) <= (informed ? 2 : 1200)) << lag;
        }
    }
}

// The variable rate's range, and the user's low-pass filter: the noise keeps almost nothing above
// the filter's stop edge.
TEST_F(Mp3, RangeAndLowPassShapeTheOutput)
{
    PlbMp3Settings ranged = settingsFor(m_folder.path() / "ranged.mp3", 0x4000 | 2, 1);
    ranged.switches = PLB_MP3_VBR_RANGE;
    ranged.vbrLowest = 160; // reversed: taken as 96..160
    ranged.vbrHighest = 96;
    ASSERT_EQ(convert(ranged), PLB_CONV_OK);
    const auto frames = mpegFrames(readFile(ranged.outputPath));
    ASSERT_GT(frames.size(), 100u);
    for (size_t i = 1; i < frames.size(); ++i)
        EXPECT_TRUE(frames[i].kbps >= 96 && frames[i].kbps <= 160) << frames[i].kbps;

    const auto highShare = [](const fs::path& file) {
        const auto energy = [](const std::vector<int16_t>& samples) {
            double sum = 0;
            for (int16_t v : samples)
                sum += double(v) * v;
            return sum;
        };
        const double all = energy(decode(file, 1, 44100, "pan=mono|c0=c0"));
        return all > 0
                   ? energy(decode(file, 1, 44100, "pan=mono|c0=c0,highpass=f=8000,highpass=f=8000")) / all
                   : 1.0;
    };
    PlbMp3Settings open = settingsFor(m_folder.path() / "open.mp3", 192, 1), filtered = open;
    setPath(filtered, m_folder.path() / "filtered.mp3");
    filtered.switches = PLB_MP3_USER_LOWPASS;
    filtered.lowPassFirst = 20; // 4410 to 6615 Hz
    filtered.lowPassSecond = 30;
    ASSERT_EQ(convert(open), PLB_CONV_OK);
    ASSERT_EQ(convert(filtered), PLB_CONV_OK);
    const double before = highShare(open.outputPath), after = highShare(filtered.outputPath);
    EXPECT_GT(before, 0.01);
    EXPECT_LT(after, before / 50);
}

// The RIFF containers: sizes and format in the headers, the same frames inside both.
TEST_F(Mp3, RiffContainersHoldTheFrames)
{
    PlbMp3Settings wave = settingsFor(m_folder.path() / "wrapped.wav", 128, 2), rmp = wave;
    wave.outputFormat = 1;
    setPath(rmp, m_folder.path() / "wrapped.rmp");
    rmp.outputFormat = 2;
    ASSERT_EQ(convert(wave), PLB_CONV_OK);
    ASSERT_EQ(convert(rmp), PLB_CONV_OK);
    const std::string w = readFile(wave.outputPath), r = readFile(rmp.outputPath);
    ASSERT_GT(w.size(), 0x46u);
    ASSERT_GT(r.size(), 0x14u);
    const auto le32 = [](const std::string& bytes, size_t at) {
        uint32_t value;
        std::memcpy(&value, bytes.data() + at, 4);
        return value;
    };
    const uint32_t data = le32(w, 0x42);
    EXPECT_EQ(w.substr(8, 4), "WAVE");
    EXPECT_EQ(le32(w, 0x14) & 0xFFFF, 0x55u); // MPEG layer 3
    EXPECT_EQ(le32(w, 0x18), 44100u);
    EXPECT_EQ(le32(w, 0x1C), 16000u); // bytes per second
    EXPECT_EQ(le32(w, 4) + 8, w.size());
    EXPECT_EQ(data + 0x46 + (data & 1), w.size());
    EXPECT_NEAR(double(le32(w, 0x3A)), lengthAt44100(kNoise, 2), kFrame); // "fact": samples
    EXPECT_EQ(probe(wave.outputPath, "stream=codec_name,sample_rate:format=format_name"), "mp3,44100\nwav");
    const auto frames = mpegFrames(w, 0x46);
    ASSERT_GT(frames.size(), 100u);
    EXPECT_EQ(frames[0].tag, ""); // the RIFF header carries the sizes

    EXPECT_EQ(r.substr(8, 8), "RMP3data");
    EXPECT_EQ(le32(r, 4) + 8, r.size());
    EXPECT_EQ(le32(r, 0x10), data);
    EXPECT_EQ(r.substr(0x14, data), w.substr(0x46, data));
}

// Settings the encoder refuses, sources it cannot read and paths it cannot write: the result, no
// file, and the file that had the name before kept as it was.
TEST_F(Mp3, RefusalsLeaveNoFile)
{
    const fs::path out = m_folder.path() / "kept.mp3", folder = m_folder.path() / "a-folder.mp3";
    writeFile(out, "before");
    fs::create_directory(folder);
    const std::pair<std::function<void(PlbMp3Settings&)>, int32_t> cases[] = {
        {[](PlbMp3Settings& s) { s.channelMode = 5; }, 50},
        {[](PlbMp3Settings& s) { s.emphasis = 2; }, 41},
        {[](PlbMp3Settings& s) { s.outputFormat = 3; }, 41},
        {[](PlbMp3Settings& s) { s.bitRate = 448; }, 46},
        {[](PlbMp3Settings& s) { s.bitRate = 0x4000 | 10; }, 49},
        {[](PlbMp3Settings& s) { s.outputPath[0] = 0; }, 44},
        {[](PlbMp3Settings& s) { std::memset(s.outputPath, 'a', sizeof s.outputPath); }, 44}, // unterminated
        {[&](PlbMp3Settings& s) { setPath(s, m_folder.path() / "no/x.mp3"); }, 44},
        {[&](PlbMp3Settings& s) { setPath(s, folder); }, 44},
        {[](PlbMp3Settings& s) { setPath(s, "/proc/tamrin-test.mp3"); }, 44}, // read-only even for root
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        PlbMp3Settings settings = settingsFor(out, 128, 2);
        cases[i].first(settings);
        EXPECT_EQ(convert(settings), cases[i].second) << "case " << i;
    }
    const PlbMp3Settings good = settingsFor(out, 128, 2);
    EXPECT_EQ(PlbConvertGOGO("Filmfile.psr", nullptr, nullptr, &good, nullptr, nullptr), PLB_CONV_NO_STREAM);
    EXPECT_EQ(PlbConvertGOGO("Filmfile.psr", "/no/such/movie.str", &m_info, &good, nullptr, nullptr),
              PLB_CONV_NO_STREAM);
    EXPECT_EQ(PlbConvertGOGO("Filmfile.psr", kNoise.movie.c_str(), &m_info, nullptr, nullptr, nullptr), 41);
    EXPECT_EQ(readFile(out), "before");
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(m_folder.files(), std::vector<std::string>{"kept.mp3"});
}

// Damaged sources: noise over the sectors' contents (headers kept, so units are still found) and
// a file cut in the middle of a sector. The sound that can be read is converted.
TEST_F(Mp3, DamagedSourcesGiveTheSoundThatIsThere)
{
    std::string bytes = readFile(kNoise.movie);
    ASSERT_GT(bytes.size(), 44u + 100 * 2352);
    std::string noisy = bytes;
    uint32_t noise = 12345;
    for (size_t i = 44; i < noisy.size(); ++i)
        if ((i - 44) % 2352 >= 24 && (i / 7) % 3 == 0) {
            noise = noise * 1103515245u + 12345u;
            noisy[i] = char(noise >> 16);
        }
    const std::pair<std::string, std::string> sources[] = {
        {"noisy.str", noisy}, {"cut.str", bytes.substr(0, 44 + 2352 * 100 + 1000)}};
    for (const auto& [name, content] : sources) {
        SCOPED_TRACE(name);
        const fs::path movie = m_folder.path() / name, out = m_folder.path() / (name + ".mp3");
        writeFile(movie, content);
        const StrInfo info = describe(kFilmfile, movie.string());
        const PlbMp3Settings settings = settingsFor(out, 128, 2);
        ASSERT_EQ(PlbConvertGOGO("Filmfile.psr", movie.c_str(), &info, &settings, nullptr, nullptr),
                  PLB_CONV_OK);
        EXPECT_EQ(probe(out), "mp3,44100,2");
        EXPECT_GT(decode(out, 2).size(), 2 * 44100u);
    }
}

TEST_F(Mp3, MissingOrIncompleteEncoder)
{
    const fs::path out = m_folder.path() / "kept.mp3";
    writeFile(out, "before");
    for (const auto& [library, expected] : {std::pair{"/nonexistent/libmp3lame.so.0", PLB_CONV_NO_ENCODER},
                                            {"libz.so.1", PLB_CONV_ENCODER_INCOMPLETE}}) {
        SCOPED_TRACE(library);
        ::setenv("TAMRIN_LAME_LIBRARY", library, 1);
        uint32_t code = 7;
        char text[PLB_MP3_VERSION_BYTES] = "old";
        EXPECT_EQ(PlbIsGogo(&code, text), 0);
        EXPECT_EQ(code, 0u);
        EXPECT_STREQ(text, "");
        EXPECT_EQ(convert(settingsFor(out, 128, 2)), expected);
        EXPECT_EQ(readFile(out), "before");
        EXPECT_EQ(m_folder.files(), std::vector<std::string>{"kept.mp3"});
    }
}

// Progress from 0 to the length; an answer of 0 anywhere, the final one included, cancels: the
// result is 0 and nothing is written.
TEST_F(Mp3, ProgressAndCancel)
{
    struct Log
    {
        std::vector<std::pair<uint32_t, uint32_t>> calls;
        size_t stopAt = 0; // the call answered with 0; 0: none
    };
    const auto callback = [](uint32_t position, uint32_t length, void* user) -> int32_t {
        auto* log = static_cast<Log*>(user);
        log->calls.emplace_back(position, length);
        return log->calls.size() == log->stopAt ? 0 : 1;
    };
    const fs::path out = m_folder.path() / "p.mp3";
    Log full;
    ASSERT_EQ(convert(settingsFor(out, 128, 2), callback, &full), PLB_CONV_OK);
    ASSERT_GT(full.calls.size(), 4u);
    EXPECT_EQ(full.calls.front(), std::make_pair(0u, m_info.durationMs));
    EXPECT_EQ(full.calls.back(), std::make_pair(m_info.durationMs, m_info.durationMs));
    for (size_t i = 1; i < full.calls.size(); ++i)
        EXPECT_TRUE(full.calls[i].first >= full.calls[i - 1].first &&
                    full.calls[i].first <= m_info.durationMs);

    writeFile(out, "before");
    for (size_t stopAt : {size_t(1), size_t(3), full.calls.size()}) {
        SCOPED_TRACE(stopAt);
        Log log;
        log.stopAt = stopAt;
        EXPECT_EQ(convert(settingsFor(out, 128, 2), callback, &log), PLB_CONV_OK);
        EXPECT_EQ(log.calls.size(), stopAt);
        EXPECT_EQ(readFile(out), "before");
        EXPECT_EQ(m_folder.files(), std::vector<std::string>{"p.mp3"});
    }
}

// A file-size limit met in the middle: error 24, nothing left, the old file kept.
TEST_F(Mp3, WriteFailureIsAnError)
{
    const fs::path out = m_folder.path() / "big.mp3";
    writeFile(out, "before");
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limited = saved;
    limited.rlim_cur = 20000; // the sound makes about 48 kB at 128 kbit/s
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    PlbMp3Settings plain = settingsFor(out, 128, 2), wave = plain;
    wave.outputFormat = 1;
    const int32_t results[] = {convert(plain), convert(wave)};
    ::setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(results[0], 54);
    EXPECT_EQ(results[1], 54);
    EXPECT_EQ(readFile(out), "before");
    EXPECT_EQ(m_folder.files(), std::vector<std::string>{"big.mp3"});
}

// Two threads converting at once: both succeed, one after the other (their progress calls do not
// interleave), with the same file as a conversion alone makes.
TEST_F(Mp3, ConversionsAtOnceTakeTurns)
{
    std::mutex mutex;
    std::vector<int> order;
    struct Caller
    {
        std::mutex* mutex;
        std::vector<int>* order;
        int id;
    } first{&mutex, &order, 1}, second{&mutex, &order, 2};
    const auto callback = [](uint32_t, uint32_t, void* user) -> int32_t {
        auto* caller = static_cast<Caller*>(user);
        std::lock_guard lock(*caller->mutex);
        caller->order->push_back(caller->id);
        return 1;
    };
    const PlbMp3Settings a = settingsFor(m_folder.path() / "a.mp3", 0x4000 | 4, 2);
    const PlbMp3Settings b = settingsFor(m_folder.path() / "b.mp3", 0x4000 | 4, 2);
    int32_t results[2] = {-1, -1};
    std::thread one([&] { results[0] = convert(a, callback, &first); });
    std::thread two([&] { results[1] = convert(b, callback, &second); });
    one.join();
    two.join();
    EXPECT_EQ(results[0], PLB_CONV_OK);
    EXPECT_EQ(results[1], PLB_CONV_OK);
    size_t changes = 0;
    for (size_t i = 1; i < order.size(); ++i)
        changes += order[i] != order[i - 1];
    EXPECT_EQ(changes, 1u);
    EXPECT_EQ(readFile(a.outputPath), readFile(b.outputPath));
}

} // namespace
} // namespace converttest
