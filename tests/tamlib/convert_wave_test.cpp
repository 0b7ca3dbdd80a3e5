// The WAVE converter on the movies of tests/data: its files against ffmpeg's decode and ffprobe's
// reading, against the command-line tool's audio command, the format conversions, the progress
// calls, and the cancellations and failures that must leave no file (and an older file intact).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "convert_support.h"
#include "convert_tools.h"
#include "discport/discport.h"
#include "streamkit/lbr.h"
#include "tamlib/convert.h"
#include "tamlib/strings.h"
#include "wave_data.h"

namespace converttest {
namespace {

constexpr const char* kFilmfile = "Filmfile.psr";
const std::string kStereo = "mv1_v2_320x240_15fps_xa37800s";   // 37800 Hz stereo, 114912 frames
const std::string kMono = "mv3_v2_256x224_15fps_xa18900m";     // 18900 Hz mono, 56448 frames
const std::string kSmall = "mv4_v3_160x112_15fps_x1_xa37800s"; // 37800 Hz stereo, 112896 frames

PlbWaveSettings settingsFor(const fs::path& out, uint32_t rate, uint16_t channels, uint16_t bits)
{
    PlbWaveSettings settings{};
    std::snprintf(settings.outputPath, sizeof settings.outputPath, "%s", out.c_str());
    settings.formatTag = 1;
    settings.sampleRate = rate;
    settings.channels = channels;
    settings.bitsPerSample = bits;
    return settings;
}

// What the converter tells the progress callback, and the answer it gets.
struct Calls
{
    std::vector<std::pair<uint32_t, uint32_t>> seen;
    size_t cancelAt = 0; // the call (from 1) that answers 0; 0: none

    static int32_t answer(uint32_t position, uint32_t length, void* user)
    {
        auto* self = static_cast<Calls*>(user);
        self->seen.emplace_back(position, length);
        return self->seen.size() == self->cancelAt ? 0 : 1;
    }
};

using clitest::readPcmWave;
using clitest::snrDb;

// ffprobe's "key=value" lines about the file's first stream and its duration; empty when
// ffprobe is not there.
std::map<std::string, std::string> probe(const fs::path& file)
{
    std::map<std::string, std::string> fields;
    const std::string command = "ffprobe -v error -show_entries "
                                "stream=codec_name,sample_rate,channels,bits_per_sample:format=duration "
                                "-of default=noprint_wrappers=1 '" +
                                file.string() + "' 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return fields;
    char line[256];
    while (std::fgets(line, sizeof line, pipe)) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        const size_t equals = text.find('=');
        if (equals != std::string::npos)
            fields.emplace(text.substr(0, equals), text.substr(equals + 1));
    }
    ::pclose(pipe);
    return fields;
}

class ConvertWave : public ::testing::Test
{
  protected:
    int32_t convert(const std::string& name, const PlbWaveSettings& settings, Calls* calls = nullptr)
    {
        const fs::path file = moviePath(name + ".str");
        const StrInfo info = describe(kFilmfile, file);
        return PlbConvertWAVE("Filmfile.psr", file.c_str(), &info, &settings, calls ? Calls::answer : nullptr,
                              calls);
    }

    TempFolder m_folder;
};

// Each case: the header states the target format with the sizes patched, ffprobe reads it, the
// samples are those the command-line tool's audio command writes for the same stream and format
// (and, unconverted, within 60 dB of ffmpeg's decode), and the progress runs from 0 to the
// length with a call per unit.
TEST_F(ConvertWave, FilesMatchTheAudioCommandAndTheIndependentDecoder)
{
    struct Case
    {
        std::string name;
        uint32_t rate;
        uint16_t channels, bits;
        uint32_t frames; // in the target format
        bool native;
    } cases[] = {
        {kStereo, 37800, 2, 16, 114912, true},  {kMono, 18900, 1, 16, 56448, true},
        {kStereo, 44100, 2, 16, 134064, false}, // 114912 x 44100 / 37800
        {kStereo, 37800, 1, 16, 114912, false}, {kMono, 44100, 2, 8, 131712, false},
        {kMono, 18902, 1, 8, 56453, false}, // an odd byte count: padded
    };
    for (const Case& c : cases) {
        const std::string format =
            std::to_string(c.rate) + " " + std::to_string(c.channels) + " " + std::to_string(c.bits);
        SCOPED_TRACE(c.name + " to " + format);
        const fs::path out = m_folder.path() / "converted.wav", theirs = m_folder.path() / "cli.wav";
        Calls calls;
        ASSERT_EQ(convert(c.name, settingsFor(out, c.rate, c.channels, c.bits), &calls), PLB_CONV_OK);
        const clitest::PcmWave ours = readPcmWave(out);
        const uint16_t block = uint16_t(c.channels * c.bits / 8);
        EXPECT_EQ(ours.sampleRate, c.rate);
        EXPECT_EQ(ours.byteRate, c.rate * block);
        EXPECT_EQ(ours.blockAlign, block);
        EXPECT_EQ(ours.bits, c.bits);
        EXPECT_EQ(ours.data.size(), size_t(c.frames) * block);
        const auto fields = probe(out);
        ASSERT_FALSE(fields.empty()) << "ffprobe did not read " << out;
        EXPECT_EQ(fields.at("codec_name"), c.bits == 16 ? "pcm_s16le" : "pcm_u8");
        EXPECT_EQ(fields.at("sample_rate") + " " + fields.at("channels"),
                  std::to_string(c.rate) + " " + std::to_string(c.channels));
        EXPECT_NEAR(std::stod(fields.at("duration")), double(c.frames) / c.rate, 0.001);
        if (c.native) {
            const clitest::PcmWave reference = readPcmWave(fs::path(TAMRIN_TEST_DATA) / "references" / (c.name + ".wav"));
            EXPECT_EQ(ours.data.size(), reference.data.size());
            EXPECT_GE(snrDb(reference.data, ours.data), 60.0);
        }
        const std::string command =
            std::string(TAMRIN_OUT_DIR) + "/tamrin-cli audio '" + moviePath(c.name + ".str").string() +
            "' --no-progress --out '" + theirs.string() + "' --rate " + std::to_string(c.rate) +
            " --channels " + std::to_string(c.channels) + " --bits " + std::to_string(c.bits) + " >/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        EXPECT_TRUE(readFile(theirs) == readFile(out)) << "the same bytes as the audio command";

        const uint32_t length = describe(kFilmfile, moviePath(c.name + ".str")).durationMs;
        ASSERT_GE(calls.seen.size(), 3u);
        EXPECT_EQ(calls.seen.front(), std::make_pair(0u, length));
        EXPECT_EQ(calls.seen.back(), std::make_pair(length, length));
        // Positions grow with the sound written, which may run past the stream's stated length;
        // the final call states the length.
        for (size_t i = 1; i + 1 < calls.seen.size(); ++i) {
            EXPECT_GE(calls.seen[i].first, calls.seen[i - 1].first) << "call " << i;
            EXPECT_EQ(calls.seen[i].second, length);
        }
        // The last unit's position is the sound's length, truncated per unit.
        const uint32_t last = calls.seen[calls.seen.size() - 2].first;
        EXPECT_LE(last, uint64_t(c.frames) * 1000 / c.rate);
        EXPECT_GE(last + (calls.seen.size() - 2), uint64_t(c.frames) * 1000 / c.rate);
    }
}

// Cancelling (at the first call, in the middle, or by answering 0 to the final call) returns 0,
// leaves no file, and keeps the file that had the name before.
TEST_F(ConvertWave, CancelLeavesNoFileAndKeepsTheOldOne)
{
    Calls all;
    const fs::path scratch = m_folder.path() / "count.wav";
    ASSERT_EQ(convert(kSmall, settingsFor(scratch, 37800, 2, 16), &all), PLB_CONV_OK);
    fs::remove(scratch);
    const size_t total = all.seen.size();
    ASSERT_GT(total, 4u);

    for (const size_t at : {size_t(1), size_t(3), total}) {
        SCOPED_TRACE("cancel at call " + std::to_string(at) + " of " + std::to_string(total));
        const fs::path out = m_folder.path() / "kept.wav";
        writeFile(out, "older file");
        Calls calls;
        calls.cancelAt = at;
        EXPECT_EQ(convert(kSmall, settingsFor(out, 44100, 2, 16), &calls), PLB_CONV_OK);
        EXPECT_EQ(calls.seen.size(), at) << "no call after the cancel";
        EXPECT_EQ(readFile(out), "older file");
        EXPECT_EQ(clitest::folderEntries(m_folder.path()), std::vector<std::string>{"kept.wav"});
    }
}

TEST_F(ConvertWave, OutputsThatCannotBeWrittenGiveSevenAndNoFile)
{
    const fs::path out = m_folder.path() / "kept.wav";
    writeFile(out, "older file");

    // A write that fails halfway: the file-size limit (100 KiB) is below the 441 KiB of sound.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 100 << 10;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int32_t limited = convert(kSmall, settingsFor(out, 37800, 2, 16));
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(limited, PLB_CONV_WAVE_FILE);
    EXPECT_EQ(readFile(out), "older file");
    EXPECT_EQ(clitest::folderEntries(m_folder.path()), std::vector<std::string>{"kept.wav"});

    // A folder that cannot be written to (root writes anyway: not checked then).
    const fs::path locked = m_folder.path() / "locked";
    fs::create_directory(locked);
    fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
    if (::geteuid() != 0) {
        EXPECT_EQ(convert(kSmall, settingsFor(locked / "x.wav", 37800, 2, 16)), PLB_CONV_WAVE_FILE);
        EXPECT_TRUE(fs::is_empty(locked));
    }
    fs::permissions(locked, fs::perms::owner_all);
}

// Arguments that cannot make a file, and streams that give no sound to write.
TEST_F(ConvertWave, BadArgumentsAndStreamsAreRefused)
{
    const fs::path file = moviePath(kSmall + ".str");
    const StrInfo info = describe(kFilmfile, file);
    const fs::path out = m_folder.path() / "out.wav";
    const PlbWaveSettings good = settingsFor(out, 37800, 2, 16);
    PlbWaveSettings unterminated = good;
    std::memset(unterminated.outputPath, 'a', sizeof unterminated.outputPath);

    struct Case
    {
        const char* what;
        const char* plugin;
        const char* file;
        const StrInfo* info;
        PlbWaveSettings settings;
        int32_t expected;
    } cases[] = {
        {"no description", "Filmfile.psr", file.c_str(), nullptr, good, PLB_CONV_NO_STREAM},
        {"no such plugin", "Nothing.psr", file.c_str(), &info, good, PLB_CONV_NO_STREAM},
        {"no plugin", nullptr, file.c_str(), &info, good, PLB_CONV_NO_STREAM},
        {"no such file", "Filmfile.psr", "/nonexistent/x.str", &info, good, PLB_CONV_NO_STREAM},
        {"three channels", "Filmfile.psr", file.c_str(), &info, settingsFor(out, 37800, 3, 16),
         PLB_CONV_WAVE_FILE},
        {"twelve bits", "Filmfile.psr", file.c_str(), &info, settingsFor(out, 37800, 2, 12),
         PLB_CONV_WAVE_FILE},
        {"rate 0", "Filmfile.psr", file.c_str(), &info, settingsFor(out, 0, 2, 16), PLB_CONV_WAVE_FILE},
        {"empty path", "Filmfile.psr", file.c_str(), &info, settingsFor("", 37800, 2, 16),
         PLB_CONV_WAVE_FILE},
        {"path without end", "Filmfile.psr", file.c_str(), &info, unterminated, PLB_CONV_WAVE_FILE},
        {"missing folder", "Filmfile.psr", file.c_str(), &info,
         settingsFor(m_folder.path() / "none" / "x.wav", 37800, 2, 16), PLB_CONV_WAVE_FILE},
        {"a folder as target", "Filmfile.psr", file.c_str(), &info,
         settingsFor(m_folder.path(), 37800, 2, 16), PLB_CONV_WAVE_FILE},
    };
    for (const Case& c : cases) {
        Calls calls;
        EXPECT_EQ(PlbConvertWAVE(c.plugin, c.file, c.info, &c.settings, Calls::answer, &calls), c.expected)
            << c.what;
        EXPECT_TRUE(calls.seen.empty()) << c.what << ": no progress before the file exists";
    }
    EXPECT_EQ(PlbConvertWAVE("Filmfile.psr", file.c_str(), &info, nullptr, nullptr, nullptr),
              PLB_CONV_WAVE_FILE);

    // The movie without its sound sectors: the plugin describes pictures only.
    const std::string bytes = readFile(file);
    std::string silent = bytes.substr(0, 44);
    for (size_t at = 44; at + 2352 <= bytes.size(); at += 2352)
        if ((uint8_t(bytes[at + 18]) & 0x7F) != 0x64)
            silent += bytes.substr(at, 2352);
    const fs::path pictures = m_folder.path() / "pictures.str";
    writeFile(pictures, silent);
    const StrInfo pictureInfo = describe(kFilmfile, pictures);
    EXPECT_EQ(PlbConvertWAVE("Filmfile.psr", pictures.c_str(), &pictureInfo, &good, nullptr, nullptr),
              PLB_CONV_NO_STREAM);
    EXPECT_EQ(clitest::folderEntries(m_folder.path()), std::vector<std::string>{"pictures.str"});
}

// A stream whose sound units cannot be decoded (a description the decoders do not take): no
// file that would pass for the whole sound.
TEST_F(ConvertWave, UndecodableSoundGivesNoFile)
{
    const int32_t drive = CdMountImage((fs::path(TAMRIN_TEST_DATA) / "disc" / "psxdisc_a.cue").c_str());
    ASSERT_GE(drive, 0);
    PluginBinding* binding = LbrOpenPSR("Discmovie.psr");
    ASSERT_TRUE(binding);
    StrInfo info{};
    ASSERT_EQ(LbrGetStrDataInfo(binding, drive, 1345, 224, &info), 1); // MV4.STR
    LbrClosePSR(binding);

    const int32_t previous = PlbSetConvertDrive(drive);
    const fs::path out = m_folder.path() / "disc.wav";
    const PlbWaveSettings settings = settingsFor(out, 37800, 2, 16);
    EXPECT_EQ(PlbConvertWAVE("Discmovie.psr", nullptr, &info, &settings, nullptr, nullptr), PLB_CONV_OK);
    EXPECT_EQ(readPcmWave(out).data.size(), 112896u * 4) << "the disc stream gives the file's sound";
    fs::remove(out);

    StrInfo foreign = info;
    foreign.audioFormat = 2; // not PCM: no decoder takes its units
    EXPECT_EQ(PlbConvertWAVE("Discmovie.psr", nullptr, &foreign, &settings, nullptr, nullptr),
              PLB_CONV_NO_STREAM);
    EXPECT_TRUE(fs::is_empty(m_folder.path()));
    PlbSetConvertDrive(previous);
    CdUnmountImage(drive);
}

TEST(ConvertResultText, CodesWithAndWithoutMessagesOfTheirOwn)
{
    const char* all = std::getenv("LC_ALL");
    const std::string saved = all ? all : "";
    ::setenv("LC_ALL", "C", 1);
    char buffer[PLB_STRING_MAX];
    EXPECT_STREQ(PlbConvertResultText(7, buffer), "It failed in creation of a WAVE file.");
    EXPECT_STREQ(PlbConvertResultText(1000, buffer), "Output file already exists.");
    EXPECT_STREQ(PlbConvertResultText(54, buffer), "MP3 encoder : lock of capacity of disk");
    EXPECT_NE(std::string(PlbConvertResultText(20, buffer)).find("libmp3lame"), std::string::npos);
    EXPECT_NE(std::string(PlbConvertResultText(33, nullptr)).find("CERR=33"), std::string::npos);
    EXPECT_NE(std::string(PlbConvertResultText(-1, buffer)).find("CERR=-1"), std::string::npos);
    ::setenv("LC_ALL", "ja_JP.UTF-8", 1);
    EXPECT_STREQ(PlbConvertResultText(7, buffer), "WAVE ファイルの作成に失敗しました。");
    if (all)
        ::setenv("LC_ALL", saved.c_str(), 1);
    else
        ::unsetenv("LC_ALL");
}

} // namespace
} // namespace converttest
