// The MP3 converter on the movies of tests/data, judged by independent tools: ffprobe and ffmpeg
// read and decode what it writes, the decoded sound is compared with ffmpeg's own decode of the
// movie's XA sound, and the MPEG frame headers are read here. Also the encoder library missing
// or incomplete, refused settings, cancel, write failures and two conversions at once.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "convert_support.h"
#include "streamkit/lbr.h"
#include "tamlib/convert.h"
#include "tamlib/sound_decoder.h"

namespace converttest {
namespace {

const std::string kData = TAMRIN_TEST_DATA;
// 37800 Hz stereo: pink noise left, a 1000 Hz tone right.
const std::string kNoiseMovie = kData + "/movies/mv4_v3_160x112_15fps_x1_xa37800s.str";
const std::string kNoiseReference = kData + "/references/mv4_v3_160x112_15fps_x1_xa37800s.wav";
// 18900 Hz mono.
const std::string kMonoMovie = kData + "/movies/mv3_v2_256x224_15fps_xa18900m.str";
const std::string kMonoReference = kData + "/references/mv3_v2_256x224_15fps_xa18900m.wav";

constexpr size_t kMp3FrameSamples = 1152;

StrInfo describe(const std::string& path)
{
    StrInfo info{};
    PluginBinding* binding = LbrOpenPSR("Filmfile.psr");
    EXPECT_TRUE(binding);
    if (binding) {
        EXPECT_EQ(LbrGetStrFileInfo(binding, path.c_str(), &info), 1);
        LbrClosePSR(binding);
    }
    return info;
}

PlbMp3Settings settingsFor(const fs::path& out, uint16_t bitRate, uint16_t mode)
{
    PlbMp3Settings settings{};
    std::snprintf(settings.outputPath, sizeof settings.outputPath, "%s", out.c_str());
    settings.bitRate = bitRate;
    settings.channelMode = mode;
    settings.vbrLowest = 112;
    settings.vbrHighest = 128;
    settings.lowPassFirst = 55;
    settings.lowPassSecond = 70;
    return settings;
}

// Standard output of a shell command.
std::string run(const std::string& command)
{
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[65536];
        for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            output.append(buffer, got);
        ::pclose(pipe);
    }
    return output;
}

std::string quoted(const fs::path& path)
{
    std::string text(1, '\'');
    text += path.string();
    text += '\'';
    return text;
}

// ffprobe's key=value lines for the first audio stream and the container.
std::map<std::string, std::string> probe(const fs::path& file)
{
    const std::string text =
        run("ffprobe -v error -select_streams a:0 -show_entries "
            "stream=codec_name,sample_rate,channels,bit_rate:format=format_name,duration "
            "-of default=nw=1 " +
            quoted(file) + " 2>/dev/null");
    std::map<std::string, std::string> values;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        const size_t equals = line.find('=');
        if (equals != std::string::npos)
            values[line.substr(0, equals)] = line.substr(equals + 1);
        start = end + 1;
    }
    return values;
}

// ffmpeg's decode of a file as 16-bit interleaved samples at `rate` with `channels`.
std::vector<int16_t> decode(const fs::path& file, int rate, int channels)
{
    const std::string bytes =
        run("ffmpeg -nostdin -v error -i " + quoted(file) + " -f s16le -acodec pcm_s16le -ac " +
            std::to_string(channels) + " -ar " + std::to_string(rate) + " - 2>/dev/null");
    std::vector<int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

// The best normalised correlation of channel `channel` of `a` and `b` over lags within
// `maxLag` frames: found on a window, then measured over the whole overlap.
struct Match
{
    double correlation = 0;
    long lag = 0;
};

double correlate(const std::vector<int16_t>& a, const std::vector<int16_t>& b, int channels, int channel,
                 long lag, size_t from, size_t count)
{
    double ab = 0, aa = 0, bb = 0;
    const long framesA = long(a.size()) / channels, framesB = long(b.size()) / channels;
    for (long i = long(from); i < long(from + count); ++i) {
        const long j = i + lag;
        if (i >= framesA || j < 0 || j >= framesB)
            continue;
        const double x = a[size_t(i * channels + channel)], y = b[size_t(j * channels + channel)];
        ab += x * y;
        aa += x * x;
        bb += y * y;
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

Match bestMatch(const std::vector<int16_t>& a, const std::vector<int16_t>& b, int channels, int channel,
                long maxLag = 2000)
{
    Match best{-2, 0};
    const size_t window = 8000, from = 20000;
    for (long lag = -maxLag; lag <= maxLag; ++lag) {
        const double c = correlate(a, b, channels, channel, lag, from, window);
        if (c > best.correlation)
            best = {c, lag};
    }
    best.correlation = correlate(a, b, channels, channel, best.lag, 0, a.size() / size_t(channels));
    return best;
}

// The MPEG audio frames of a file (after any RIFF header), read from their headers.
struct Frame
{
    int bitrateKbps;
    int sampleRate;
    int mode; // 0 stereo, 1 joint, 2 dual, 3 mono
    int modeExtension;
    bool infoFrame; // carries a "Xing" or "Info" tag
    bool xing;
};

std::vector<Frame> mpegFrames(const std::string& bytes, size_t offset = 0)
{
    static const int kRates[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    static const int kFrequencies[] = {44100, 48000, 32000, 0};
    std::vector<Frame> frames;
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    while (offset + 4 <= bytes.size()) {
        // MPEG-1 layer III only: 0xFFFB or 0xFFFA.
        if (p[offset] != 0xFF || (p[offset + 1] & 0xFE) != 0xFA)
            break;
        const int rate = kRates[p[offset + 2] >> 4], frequency = kFrequencies[(p[offset + 2] >> 2) & 3];
        if (rate == 0 || frequency == 0)
            break;
        const size_t length = size_t(144000 * rate / frequency + ((p[offset + 2] >> 1) & 1));
        const int mode = p[offset + 3] >> 6;
        const size_t side = mode == 3 ? 17 : 32;
        const std::string tag = bytes.substr(offset + 4 + side, 4);
        frames.push_back(
            {rate, frequency, mode, (p[offset + 3] >> 4) & 3, tag == "Xing" || tag == "Info", tag == "Xing"});
        offset += length;
    }
    return frames;
}

// Samples per channel of a reference WAVE at 44100 Hz, as the converter resamples the sound.
size_t samplesAt44100(const std::string& reference, int channels, int rate)
{
    const std::vector<int16_t> pcm = decode(reference, rate, channels);
    return size_t(double(pcm.size() / size_t(channels)) * 44100.0 / rate + 0.5);
}

// The movie's sound as the library decodes it and converts it to 44100 Hz.
std::vector<int16_t> pcmAt44100(const std::string& movie)
{
    StrInfo info = describe(movie);
    std::vector<int16_t> samples;
    StreamState* stream = LbrOpenStream("Filmfile.psr", movie.c_str(), 0, &info, LBR_WANT_AUDIO);
    EXPECT_TRUE(stream);
    if (!stream)
        return samples;
    {
        tamlib::SoundDecoder decoder(stream, AudioFormat{info.sampleRate, info.channels, 16, 100, 0},
                                     AudioFormat{44100, info.channels, 16, 100, 0});
        tamlib::SoundDecoder::Unit unit;
        for (tamlib::SoundDecoder::Step step;
             (step = decoder.next(unit)) != tamlib::SoundDecoder::Step::End;) {
            EXPECT_EQ(step, tamlib::SoundDecoder::Step::Unit);
            const size_t at = samples.size();
            samples.resize(at + unit.converted.size() / 2);
            std::memcpy(samples.data() + at, unit.converted.data(), unit.converted.size() / 2 * 2);
        }
    }
    LbrCloseStream(stream);
    return samples;
}

class Mp3 : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ::unsetenv("TAMRIN_LAME_LIBRARY");
        ASSERT_TRUE(m_folder.made());
        m_info = describe(kNoiseMovie);
        ASSERT_GT(m_info.durationMs, 0u);
    }
    void TearDown() override { ::unsetenv("TAMRIN_LAME_LIBRARY"); }

    int32_t convert(const PlbMp3Settings& settings, PlbProgressFn progress = nullptr, void* user = nullptr,
                    const std::string& movie = kNoiseMovie)
    {
        const StrInfo info = movie == kNoiseMovie ? m_info : describe(movie);
        return PlbConvertGOGO("Filmfile.psr", movie.c_str(), &info, &settings, progress, user);
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
    EXPECT_EQ(answer & 0x4000, 0x4000);
    EXPECT_NE(answer & 0x3FFF, 0);
    EXPECT_GE(code, 3000u); // LAME 3.x: major * 1000 + minor
    EXPECT_EQ(std::string(text).rfind("LAME 3.", 0), 0u) << text;
    EXPECT_EQ(PlbIsGogo(nullptr, nullptr), answer);
}

// Rates and modes as asked, read back by ffprobe and from the frame headers; the length within
// one MP3 frame of the stream's; the sound matches ffmpeg's own decode of the movie.
struct EncodingCase
{
    const char* name;
    uint16_t bitRate;
    uint16_t mode;
    uint16_t switches;
    int channels;     // in the file
    int headerMode;   // of every audio frame
    int constantKbps; // 0: variable
};

TEST_F(Mp3, EncodesAsAskedAndDecodesToTheMoviesSound)
{
    const EncodingCase cases[] = {
        {"cbr128-joint", 128, 2, 0, 2, 1, 128},
        {"cbr64-mono", 64, 0, 0, 1, 3, 64},
        {"vbr4-stereo", 0x4000 | 4, 1, 0, 2, 0, 0},
        {"cbr144-dual", 144, 4, PLB_MP3_PSYCHO, 2, 0, 160}, // dual channel is written as stereo
        {"cbr16-midside", 16, 3, 0, 2, 1, 32},              // at least 32 kbit/s
    };
    const size_t expectedSamples = samplesAt44100(kNoiseReference, 2, 37800);
    ASSERT_GT(expectedSamples, 100000u);
    for (const EncodingCase& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path out = m_folder.path() / (std::string(c.name) + ".mp3");
        ASSERT_EQ(convert(settingsFor(out, c.bitRate, c.mode)), PLB_CONV_OK);
        auto probed = probe(out);
        EXPECT_EQ(probed["codec_name"], "mp3");
        EXPECT_EQ(probed["sample_rate"], "44100");
        EXPECT_EQ(probed["channels"], std::to_string(c.channels));
        if (c.constantKbps) {
            EXPECT_EQ(probed["bit_rate"], std::to_string(c.constantKbps * 1000));
        }
        // ffprobe counts the encoder's delay and padding in.
        EXPECT_NEAR(std::atof(probed["duration"].c_str()) * 44100, double(expectedSamples),
                    2 * kMp3FrameSamples);

        const std::vector<Frame> frames = mpegFrames(readFile(out));
        ASSERT_GT(frames.size(), 100u);
        // LAME's information frame does not fit in a frame below 64 kbit/s.
        const bool informed = c.constantKbps == 0 || c.constantKbps >= 64;
        EXPECT_EQ(frames[0].infoFrame, informed);
        EXPECT_EQ(frames[0].xing, c.constantKbps == 0);
        std::set<int> rates;
        for (size_t i = informed ? 1 : 0; i < frames.size(); ++i) {
            EXPECT_EQ(frames[i].sampleRate, 44100);
            EXPECT_EQ(frames[i].mode, c.headerMode);
            if (c.mode == 3) {
                EXPECT_EQ(frames[i].modeExtension & 2, 2); // mid/side in every frame
            }
            rates.insert(frames[i].bitrateKbps);
        }
        if (c.constantKbps) {
            EXPECT_EQ(rates, std::set<int>{c.constantKbps});
        } else {
            EXPECT_GT(rates.size(), 1u);
        }

        // The information frame tells decoders the encoder's delay and padding, which they drop.
        const std::vector<int16_t> decoded = decode(out, 44100, c.channels);
        EXPECT_NEAR(double(decoded.size() / size_t(c.channels)), double(expectedSamples),
                    (informed ? 1 : 2) * kMp3FrameSamples);
        // Against ffmpeg's decode of the XA sound, both at the source's rate. The noise (the left
        // channel, and most of the mix) also tells the alignment; the tone cannot.
        const std::vector<int16_t> mine = decode(out, 37800, c.channels);
        const std::vector<int16_t> theirs = decode(kNoiseReference, 37800, c.channels);
        for (int channel = 0; channel < c.channels; ++channel) {
            const Match match = bestMatch(mine, theirs, c.channels, channel);
            const double floor = c.constantKbps == 32 ? 0.8 : 0.95;
            EXPECT_GT(match.correlation, floor) << "channel " << channel;
            if (channel == 0) {
                EXPECT_LE(std::abs(match.lag), informed ? 8 : 2000);
            }
        }
    }
}

TEST_F(Mp3, MonoSourceAtAnotherRate)
{
    const fs::path out = m_folder.path() / "mono.mp3";
    ASSERT_EQ(convert(settingsFor(out, 96, 2), nullptr, nullptr, kMonoMovie), PLB_CONV_OK);
    auto probed = probe(out);
    EXPECT_EQ(probed["sample_rate"], "44100");
    EXPECT_EQ(probed["channels"], "1"); // a mono source stays mono whatever the mode
    const size_t expected = samplesAt44100(kMonoReference, 1, 18900);
    const std::vector<int16_t> decoded = decode(out, 44100, 1);
    EXPECT_NEAR(double(decoded.size()), double(expected), kMp3FrameSamples);
    // Against the sound the converter encodes (the movie's sound resampled to 44100 Hz): the
    // resampling itself is not what is tested here.
    const Match match = bestMatch(decoded, pcmAt44100(kMonoMovie), 1, 0);
    EXPECT_GT(match.correlation, 0.95);
    EXPECT_LE(std::abs(match.lag), 8);
}

// The variable rate's range, and the user's low-pass filter (the noise channel keeps almost
// nothing above its stop edge).
TEST_F(Mp3, RangeAndLowPassShapeTheOutput)
{
    PlbMp3Settings ranged = settingsFor(m_folder.path() / "ranged.mp3", 0x4000 | 2, 1);
    ranged.switches = PLB_MP3_VBR_RANGE;
    ranged.vbrLowest = 160; // reversed: taken as 96..160
    ranged.vbrHighest = 96;
    ASSERT_EQ(convert(ranged), PLB_CONV_OK);
    const auto frames = mpegFrames(readFile(m_folder.path() / "ranged.mp3"));
    ASSERT_GT(frames.size(), 100u);
    for (size_t i = 1; i < frames.size(); ++i) {
        EXPECT_GE(frames[i].bitrateKbps, 96);
        EXPECT_LE(frames[i].bitrateKbps, 160);
    }

    // Energy above 8 kHz of the noise channel, relative to the whole.
    const auto highShare = [&](const fs::path& file) {
        const std::string command =
            "ffmpeg -nostdin -v error -i " + quoted(file) +
            " -af 'pan=mono|c0=c0,highpass=f=8000,highpass=f=8000' -f s16le -ar 44100 - 2>/dev/null";
        const std::string high = run(command);
        const std::vector<int16_t> all = decode(file, 44100, 2);
        double h = 0, a = 0;
        for (size_t i = 0; i + 1 < high.size(); i += 2) {
            int16_t v;
            std::memcpy(&v, high.data() + i, 2);
            h += double(v) * v;
        }
        for (size_t i = 0; i < all.size(); i += 2)
            a += double(all[i]) * all[i];
        return a > 0 ? h / a : 1.0;
    };
    PlbMp3Settings open = settingsFor(m_folder.path() / "open.mp3", 192, 1);
    PlbMp3Settings filtered = open;
    std::snprintf(filtered.outputPath, sizeof filtered.outputPath, "%s",
                  (m_folder.path() / "lp.mp3").c_str());
    filtered.switches = PLB_MP3_USER_LOWPASS;
    filtered.lowPassFirst = 20; // 4410 to 6615 Hz
    filtered.lowPassSecond = 30;
    ASSERT_EQ(convert(open), PLB_CONV_OK);
    ASSERT_EQ(convert(filtered), PLB_CONV_OK);
    const double before = highShare(m_folder.path() / "open.mp3");
    const double after = highShare(m_folder.path() / "lp.mp3");
    EXPECT_GT(before, 0.01) << after;
    EXPECT_LT(after, before / 50);
}

// The RIFF containers: the header's sizes and format, and the same frames inside.
TEST_F(Mp3, RiffContainersHoldTheFrames)
{
    PlbMp3Settings wave = settingsFor(m_folder.path() / "wrapped.wav", 128, 2);
    wave.outputFormat = 1;
    PlbMp3Settings rmp = settingsFor(m_folder.path() / "wrapped.rmp", 128, 2);
    rmp.outputFormat = 2;
    ASSERT_EQ(convert(wave), PLB_CONV_OK);
    ASSERT_EQ(convert(rmp), PLB_CONV_OK);

    const std::string w = readFile(wave.outputPath);
    ASSERT_GT(w.size(), 0x46u);
    uint32_t riff, format, rate, bytesPerSecond, fact, data;
    std::memcpy(&riff, w.data() + 4, 4);
    std::memcpy(&format, w.data() + 0x14, 2);
    format &= 0xFFFF;
    std::memcpy(&rate, w.data() + 0x18, 4);
    std::memcpy(&bytesPerSecond, w.data() + 0x1C, 4);
    std::memcpy(&fact, w.data() + 0x3A, 4);
    std::memcpy(&data, w.data() + 0x42, 4);
    EXPECT_EQ(w.substr(8, 4), "WAVE");
    EXPECT_EQ(format, 0x55u);
    EXPECT_EQ(rate, 44100u);
    EXPECT_EQ(bytesPerSecond, 16000u);
    EXPECT_EQ(data + 0x46 + (data & 1), w.size());
    EXPECT_EQ(riff + 8, w.size());
    EXPECT_NEAR(double(fact), double(samplesAt44100(kNoiseReference, 2, 37800)), kMp3FrameSamples);
    auto probed = probe(wave.outputPath);
    EXPECT_EQ(probed["format_name"], "wav");
    EXPECT_EQ(probed["codec_name"], "mp3");
    EXPECT_EQ(probed["sample_rate"], "44100");
    const auto waveFrames = mpegFrames(w, 0x46);
    EXPECT_GT(waveFrames.size(), 100u);
    EXPECT_FALSE(waveFrames[0].infoFrame); // the RIFF header carries the sizes

    const std::string r = readFile(rmp.outputPath);
    ASSERT_GT(r.size(), 0x14u);
    std::memcpy(&riff, r.data() + 4, 4);
    std::memcpy(&data, r.data() + 0x10, 4);
    EXPECT_EQ(r.substr(8, 8), "RMP3data");
    EXPECT_EQ(riff + 8, r.size());
    EXPECT_EQ(data + 0x14 + (data & 1), r.size());
    // The same encoder and settings: the same frames in both.
    EXPECT_EQ(r.substr(0x14, data), w.substr(0x46, data));
}

// Settings the encoder refuses, sources it cannot read, and paths it cannot write: the result,
// no file, and a file that had the name before kept as it was.
TEST_F(Mp3, RefusalsLeaveNoFile)
{
    const fs::path out = m_folder.path() / "kept.mp3";
    writeFile(out, "before");
    const fs::path folderTarget = m_folder.path() / "a-folder.mp3";
    fs::create_directory(folderTarget);
    struct Case
    {
        const char* name;
        std::function<void(PlbMp3Settings&)> change;
        int32_t expected;
    };
    const Case cases[] = {
        {"channel mode 5", [](PlbMp3Settings& s) { s.channelMode = 5; }, 50},
        {"emphasis 2", [](PlbMp3Settings& s) { s.emphasis = 2; }, 41},
        {"output format 3", [](PlbMp3Settings& s) { s.outputFormat = 3; }, 41},
        {"448 kbit/s", [](PlbMp3Settings& s) { s.bitRate = 448; }, 46},
        {"variable quality 10", [](PlbMp3Settings& s) { s.bitRate = 0x4000 | 10; }, 49},
        {"no path", [](PlbMp3Settings& s) { s.outputPath[0] = 0; }, 44},
        {"unterminated path", [](PlbMp3Settings& s) { std::memset(s.outputPath, 'a', sizeof s.outputPath); },
         44},
        {"missing folder",
         [&](PlbMp3Settings& s) {
             std::snprintf(s.outputPath, sizeof s.outputPath, "%s", (m_folder.path() / "no/x.mp3").c_str());
         },
         44},
        {"a folder's name",
         [&](PlbMp3Settings& s) {
             std::snprintf(s.outputPath, sizeof s.outputPath, "%s", folderTarget.c_str());
         },
         44},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PlbMp3Settings settings = settingsFor(out, 128, 2);
        c.change(settings);
        EXPECT_EQ(convert(settings), c.expected);
    }
    const PlbMp3Settings good = settingsFor(out, 128, 2);
    StrInfo info = m_info;
    EXPECT_EQ(PlbConvertGOGO("Filmfile.psr", nullptr, nullptr, &good, nullptr, nullptr), PLB_CONV_NO_STREAM);
    EXPECT_EQ(PlbConvertGOGO("Filmfile.psr", "/no/such/movie.str", &info, &good, nullptr, nullptr),
              PLB_CONV_NO_STREAM);
    EXPECT_EQ(PlbConvertGOGO("Filmfile.psr", kNoiseMovie.c_str(), &info, nullptr, nullptr, nullptr), 41);
    EXPECT_EQ(readFile(out), "before");
    EXPECT_TRUE(fs::is_directory(folderTarget));
    EXPECT_EQ(m_folder.files(), std::vector<std::string>{"kept.mp3"});
}

TEST_F(Mp3, MissingOrIncompleteEncoder)
{
    const fs::path out = m_folder.path() / "kept.mp3";
    writeFile(out, "before");
    struct Case
    {
        const char* library;
        int32_t expected;
    };
    for (const Case& c : {Case{"/nonexistent/libmp3lame.so.0", PLB_CONV_NO_ENCODER},
                          Case{"libz.so.1", PLB_CONV_ENCODER_INCOMPLETE}}) {
        SCOPED_TRACE(c.library);
        ::setenv("TAMRIN_LAME_LIBRARY", c.library, 1);
        uint32_t code = 7;
        char text[PLB_MP3_VERSION_BYTES] = "old";
        EXPECT_EQ(PlbIsGogo(&code, text), 0);
        EXPECT_EQ(code, 0u);
        EXPECT_STREQ(text, "");
        EXPECT_EQ(convert(settingsFor(out, 128, 2)), c.expected);
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
        size_t stopAt = 0; // call number answered with 0; 0: never
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
    for (size_t i = 1; i < full.calls.size(); ++i) {
        EXPECT_GE(full.calls[i].first, full.calls[i - 1].first);
        EXPECT_LE(full.calls[i].first, m_info.durationMs);
    }
    fs::remove(out);

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

// A file-size limit met in the middle of the frames: error 24, nothing left, the old file kept.
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
    const int32_t plainResult = convert(plain);
    const int32_t waveResult = convert(wave);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(plainResult, 54);
    EXPECT_EQ(waveResult, 54);
    EXPECT_EQ(readFile(out), "before");
    EXPECT_EQ(m_folder.files(), std::vector<std::string>{"big.mp3"});
}

// Two threads converting at once: both succeed, one after the other (their progress calls do
// not interleave), and each file is the same as a conversion alone makes.
TEST_F(Mp3, ConversionsAtOnceTakeTurns)
{
    struct Shared
    {
        std::mutex mutex;
        std::vector<int> order;
    } shared;
    struct Caller
    {
        Shared* shared;
        int id;
    };
    const auto callback = [](uint32_t, uint32_t, void* user) -> int32_t {
        auto* caller = static_cast<Caller*>(user);
        std::lock_guard lock(caller->shared->mutex);
        caller->shared->order.push_back(caller->id);
        return 1;
    };
    Caller first{&shared, 1}, second{&shared, 2};
    int32_t results[2] = {-1, -1};
    const PlbMp3Settings a = settingsFor(m_folder.path() / "a.mp3", 0x4000 | 4, 2);
    const PlbMp3Settings b = settingsFor(m_folder.path() / "b.mp3", 0x4000 | 4, 2);
    std::thread one([&] { results[0] = convert(a, callback, &first); });
    std::thread two([&] { results[1] = convert(b, callback, &second); });
    one.join();
    two.join();
    EXPECT_EQ(results[0], PLB_CONV_OK);
    EXPECT_EQ(results[1], PLB_CONV_OK);
    ASSERT_FALSE(shared.order.empty());
    size_t changes = 0;
    for (size_t i = 1; i < shared.order.size(); ++i)
        changes += shared.order[i] != shared.order[i - 1];
    EXPECT_EQ(changes, 1u);
    EXPECT_EQ(readFile(a.outputPath), readFile(b.outputPath));
}

} // namespace
} // namespace converttest
