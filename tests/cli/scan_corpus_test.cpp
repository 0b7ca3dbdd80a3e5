// scan on the corpus disc of the shared test data (skipped when it is not at hand): the CD audio
// track, the four movies and the XA streams at the places the corpus lists; each movie's
// pictures as those of the same movie as a file, each XA channel's samples as ffmpeg's decode.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "cli_runner.h"
#include "wave_data.h"

namespace clitest {
namespace {

using nlohmann::json;

// The corpus disc: beside the test data, or in the shared test data beside the repository.
fs::path corpusCue()
{
    for (const fs::path& candidate :
         {dataDir() / "disc" / "psxdisc_a.cue",
          dataDir() / ".." / ".." / ".." / "shared" / "testdata" / "disc" / "psxdisc_a.cue"}) {
        std::error_code ignored;
        if (fs::exists(candidate, ignored))
            return candidate.lexically_normal();
    }
    return {};
}

const fs::path kCorpusCue = corpusCue();

struct MovieOnDisc
{
    const char* file;   // in the test data's movies folder
    uint32_t fileStart; // the file's first sector on the disc (a sound sector)
    uint32_t fileSectors;
    uint32_t frames;
    uint32_t width;
    uint32_t height;
    uint32_t sampleRate;
    uint16_t channels;
};

constexpr MovieOnDisc kMovies[] = {
    {"mv1_v2_320x240_15fps_xa37800s.str", 25, 450, 45, 320, 240, 37800, 2},
    {"mv2_v3_320x240_15fps_xa37800s_ch1.str", 475, 450, 45, 320, 240, 37800, 2},
    {"mv3_v2_256x224_15fps_xa18900m.str", 925, 420, 42, 256, 224, 18900, 1},
    {"mv4_v3_160x112_15fps_x1_xa37800s.str", 1345, 224, 45, 160, 112, 37800, 2},
};

struct XaOnDisc
{
    const char* reference; // ffmpeg's decode, in the test data's references folder
    uint32_t start;
    uint32_t sectorCount; // stride x (sectors - 1) + 1
    uint32_t sampleRate;
    uint16_t channels;
};

constexpr XaOnDisc kXa[] = {
    {"xa1_37800_stereo.wav", 1570, 75, 37800, 2},
    {"xa2_18900_mono.wav", 1645, 15, 18900, 1},
    {"xa_multi_4ch_37800_stereo_f1_c0.wav", 1660, 4 * 56 + 1, 37800, 2},
    {"xa_multi_4ch_37800_stereo_f1_c1.wav", 1661, 4 * 56 + 1, 37800, 2},
    {"xa_multi_4ch_37800_stereo_f1_c2.wav", 1662, 4 * 56 + 1, 37800, 2},
    {"xa_multi_4ch_37800_stereo_f1_c3.wav", 1663, 4 * 56 + 1, 37800, 2},
};

using clitest::snrDb;

class CorpusScan : public ::testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        if (kCorpusCue.empty())
            return;
        const RunResult result = runCli({"scan", "--json", "--no-progress", kCorpusCue.string()});
        ASSERT_EQ(result.status, kExitOk) << result.err;
        s_scan = new json(parseJson(result));
    }
    static void TearDownTestSuite()
    {
        delete s_scan;
        s_scan = nullptr;
    }

    void SetUp() override
    {
        if (kCorpusCue.empty())
            GTEST_SKIP() << "psxdisc_a.cue is not at hand";
        ASSERT_NE(s_scan, nullptr);
    }

    // The stream of `plugin` that starts at `start`; null when there is none.
    static const json* stream(const std::string& plugin, uint32_t start)
    {
        for (const json& s : (*s_scan)["streams"])
            if (s["plugin"] == plugin && s["startSector"] == start)
                return &s;
        return nullptr;
    }

    static size_t countOf(const std::string& plugin)
    {
        size_t count = 0;
        for (const json& s : (*s_scan)["streams"])
            count += s["plugin"] == plugin;
        return count;
    }

    TempFolder m_out;
    static json* s_scan;
};

json* CorpusScan::s_scan = nullptr;

TEST_F(CorpusScan, TheCdAudioTrack)
{
    EXPECT_EQ((*s_scan)["complete"], true);
    EXPECT_EQ((*s_scan)["sectorsRead"], 1888) << "the whole data track";
    EXPECT_EQ(countOf("TRACKAUDIO.PSR"), 1u);
    const json* track = stream("TRACKAUDIO.PSR", 2038);
    ASSERT_NE(track, nullptr) << s_scan->dump(1);
    EXPECT_EQ((*track)["sectorCount"], 225);
    EXPECT_EQ((*track)["durationMs"], 3000);
}

TEST_F(CorpusScan, TheFourMoviesFromTheirFilesFirstSector)
{
    EXPECT_EQ(countOf("DISCMOVIE.PSR"), 4u);
    for (const MovieOnDisc& movie : kMovies) {
        // Each file begins with a sound sector, which is the movie's.
        const json* s = stream("DISCMOVIE.PSR", movie.fileStart);
        ASSERT_NE(s, nullptr) << movie.file << "\n" << s_scan->dump(1);
        EXPECT_EQ((*s)["frameCount"], movie.frames) << movie.file;
        EXPECT_EQ((*s)["width"], movie.width) << movie.file;
        EXPECT_EQ((*s)["height"], movie.height) << movie.file;
        EXPECT_EQ((*s)["kind"].get<int>() & 3, 3) << movie.file << ": pictures and sound";
        EXPECT_EQ((*s)["sampleRate"], movie.sampleRate) << movie.file;
        EXPECT_EQ((*s)["channels"], movie.channels) << movie.file;
        EXPECT_EQ((*s)["sectorCount"], movie.fileSectors) << movie.file << ": the whole file";
    }
}

TEST_F(CorpusScan, TheXaStreamsAndTheMoviesSoundChannels)
{
    for (const XaOnDisc& xa : kXa) {
        const json* s = stream("DISCVOICE.PSR", xa.start);
        ASSERT_NE(s, nullptr) << xa.reference << "\n" << s_scan->dump(1);
        EXPECT_EQ((*s)["sectorCount"], xa.sectorCount) << xa.reference;
        EXPECT_EQ((*s)["sampleRate"], xa.sampleRate) << xa.reference;
        EXPECT_EQ((*s)["channels"], xa.channels) << xa.reference;
    }
    for (const MovieOnDisc& movie : kMovies) {
        const json* s = stream("DISCVOICE.PSR", movie.fileStart);
        ASSERT_NE(s, nullptr) << movie.file << ": its sound channel";
        EXPECT_EQ((*s)["sampleRate"], movie.sampleRate) << movie.file;
    }
    EXPECT_EQ(countOf("DISCVOICE.PSR"), std::size(kXa) + std::size(kMovies));
}

TEST_F(CorpusScan, EachMoviesPicturesAreThoseOfTheMovieFile)
{
    if (!filmfileBuilt())
        GTEST_SKIP() << "Filmfile.psr is not built";
    for (const MovieOnDisc& movie : kMovies) {
        const json* s = stream("DISCMOVIE.PSR", movie.fileStart);
        ASSERT_NE(s, nullptr) << movie.file;
        const RunResult disc = runCli({"frames", kCorpusCue.string(), "--stream",
                                       std::to_string((*s)["number"].get<int>()), "--crc", "--no-progress"});
        ASSERT_EQ(disc.status, kExitOk) << disc.err;
        const RunResult file =
            runCli({"frames", (dataDir() / "movies" / movie.file).string(), "--crc", "--no-progress"});
        ASSERT_EQ(file.status, kExitOk) << file.err;
        const std::string lines = crcLines(disc.out);
        EXPECT_EQ(size_t(std::count(lines.begin(), lines.end(), '\n')), movie.frames) << movie.file;
        EXPECT_EQ(lines, crcLines(file.out)) << movie.file;
    }
}

TEST_F(CorpusScan, EachXaChannelsSamplesAreFfmpegs)
{
    for (const XaOnDisc& xa : kXa) {
        const json* s = stream("DISCVOICE.PSR", xa.start);
        ASSERT_NE(s, nullptr) << xa.reference;
        const fs::path out = m_out.path() / xa.reference;
        const RunResult r =
            runCli({"audio", kCorpusCue.string(), "--stream", std::to_string((*s)["number"].get<int>()),
                    "--out", out.string(), "--no-progress"});
        ASSERT_EQ(r.status, kExitOk) << r.err;
        const auto ours = parseWave(readFile(out));
        const auto theirs = parseWave(readFile(dataDir() / "references" / xa.reference));
        ASSERT_TRUE(ours && theirs) << xa.reference;
        EXPECT_EQ(ours->sampleRate, theirs->sampleRate) << xa.reference;
        EXPECT_EQ(ours->channels, theirs->channels) << xa.reference;
        EXPECT_EQ(ours->samples.size(), theirs->samples.size()) << xa.reference;
        EXPECT_TRUE(ours->samples == theirs->samples)
            << xa.reference << ": not sample-exact, SNR " << snrDb(theirs->samples, ours->samples) << " dB";
    }
}

TEST_F(CorpusScan, EachMoviesSoundIsFfmpegsDecodeOfTheMovie)
{
    // Both the movie stream and its sound channel alone, from the first sample.
    for (const char* plugin : {"DISCMOVIE.PSR", "DISCVOICE.PSR"}) {
        for (const MovieOnDisc& movie : kMovies) {
            SCOPED_TRACE(plugin);
            const json* s = stream(plugin, movie.fileStart);
            ASSERT_NE(s, nullptr) << movie.file;
            const fs::path out = m_out.path() / "sound.wav";
            const RunResult r =
                runCli({"audio", kCorpusCue.string(), "--stream", std::to_string((*s)["number"].get<int>()),
                        "--out", out.string(), "--no-progress"});
            ASSERT_EQ(r.status, kExitOk) << r.err;
            const auto ours = parseWave(readFile(out));
            const std::string reference = fs::path(movie.file).stem().string() + ".wav";
            const auto theirs = parseWave(readFile(dataDir() / "references" / reference));
            ASSERT_TRUE(ours && theirs) << reference;
            EXPECT_EQ(ours->samples.size(), theirs->samples.size()) << reference;
            EXPECT_TRUE(ours->samples == theirs->samples)
                << reference << ": not sample-exact, SNR " << snrDb(theirs->samples, ours->samples) << " dB";
        }
    }
}

} // namespace
} // namespace clitest
