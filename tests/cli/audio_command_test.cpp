// audio: the sound of each test movie as a WAVE file, against ffmpeg's decode of it; the
// conversions, the per-unit checksums, and failures that must leave no file behind.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <zlib.h>

#include <cmath>
#include <cstring>
#include <fstream>

#include "cli_runner.h"
#include "movie_facts.h"
#include "wave_data.h"

namespace clitest {
namespace {

using nlohmann::json;

constexpr size_t kSmall = 3; // mv4: 160x112, 56 sound sectors
constexpr size_t kMono = 2;  // mv3: 18900 Hz mono
constexpr double kFloorDb = 60.0;

fs::path movie(size_t i)
{
    return dataDir() / "movies" / kMovies[i].file;
}

fs::path reference(size_t i)
{
    return dataDir() / "references" / (movie(i).stem().string() + ".wav");
}

using clitest::readPcmWave;
using Wave = clitest::PcmWave;

std::vector<int16_t> samples16(const std::string& data)
{
    std::vector<int16_t> samples(data.size() / 2);
    std::memcpy(samples.data(), data.data(), samples.size() * 2);
    return samples;
}

double snrDb(const std::vector<int16_t>& ref, const std::vector<int16_t>& ours)
{
    double signal = 0, noise = 0;
    for (size_t i = 0; i < std::min(ref.size(), ours.size()); ++i) {
        signal += double(ref[i]) * ref[i];
        noise += (double(ref[i]) - ours[i]) * (double(ref[i]) - ours[i]);
    }
    return noise == 0 ? INFINITY : 10 * std::log10(signal / noise);
}

std::vector<std::string> entries(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class AudioCommand : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        if (!filmfileBuilt())
            GTEST_SKIP() << "Filmfile.psr is not built";
    }
};

TEST_F(AudioCommand, MovieSoundMatchesTheIndependentDecoder)
{
    for (size_t i = 0; i < std::size(kMovies); ++i) {
        const MovieFacts& facts = kMovies[i];
        SCOPED_TRACE(facts.file);
        TempFolder folder;
        const fs::path out = folder.path() / "sound.wav";
        const RunResult result = runCli({"audio", movie(i).string(), "--out", out.string()});
        ASSERT_EQ(result.status, kExitOk) << result.err;
        EXPECT_TRUE(result.err.empty()) << result.err;
        EXPECT_NE(result.out.find("written to " + out.string()), std::string::npos) << result.out;

        const Wave ours = readPcmWave(out);
        const Wave theirs = readPcmWave(reference(i));
        EXPECT_EQ(ours.channels, facts.channels);
        EXPECT_EQ(ours.sampleRate, facts.sampleRate);
        EXPECT_EQ(ours.bits, 16);
        // Every sound sector gives 18 groups of 224 samples.
        EXPECT_EQ(ours.data.size(), size_t(facts.soundSectors) * 18 * 448);
        ASSERT_EQ(ours.data.size(), theirs.data.size());
        const double snr = snrDb(samples16(theirs.data), samples16(ours.data));
        EXPECT_GE(snr, kFloorDb);
        std::printf("%s: %.2f dB\n", facts.file, snr);
        EXPECT_EQ(entries(folder.path()), std::vector<std::string>{"sound.wav"});
    }
}

TEST_F(AudioCommand, MonoAtLowRateToStereoEightBitAt44100)
{
    TempFolder folder;
    const fs::path out = folder.path() / "converted.wav";
    const RunResult result = runCli({"audio", movie(kMono).string(), "--out", out.string(), "--rate", "44100",
                                     "--channels", "2", "--bits", "8"});
    ASSERT_EQ(result.status, kExitOk) << result.err;
    const Wave wave = readPcmWave(out);
    EXPECT_EQ(wave.sampleRate, 44100u);
    EXPECT_EQ(wave.channels, 2);
    EXPECT_EQ(wave.bits, 8);
    // 56448 frames at 18900 Hz are 131712 at 44100 Hz, two bytes each.
    ASSERT_EQ(wave.data.size(), 131712u * 2);
    size_t loud = 0;
    for (size_t f = 0; f < wave.data.size() / 2; ++f) {
        ASSERT_EQ(wave.data[2 * f], wave.data[2 * f + 1]) << "frame " << f;
        loud += std::abs(int(uint8_t(wave.data[2 * f])) - 128) > 32;
    }
    EXPECT_GT(loud, 10000u) << "the sound is there, not silence";
}

TEST_F(AudioCommand, EightBitSamplesAreTheHighBytesOfTheSixteenBitOnes)
{
    TempFolder folder;
    const fs::path wide = folder.path() / "wide.wav", narrow = folder.path() / "narrow.wav";
    ASSERT_EQ(runCli({"audio", movie(kSmall).string(), "--out", wide.string()}).status, kExitOk);
    const RunResult result =
        runCli({"audio", movie(kSmall).string(), "--out", narrow.string(), "--bits", "8"});
    ASSERT_EQ(result.status, kExitOk) << result.err;
    const std::vector<int16_t> samples = samples16(readPcmWave(wide).data);
    const Wave eight = readPcmWave(narrow);
    EXPECT_EQ(eight.bits, 8);
    ASSERT_EQ(eight.data.size(), samples.size());
    for (size_t i = 0; i < samples.size(); ++i)
        ASSERT_EQ(uint8_t(eight.data[i]), (samples[i] + 32768) >> 8) << "sample " << i;
}

TEST_F(AudioCommand, StereoToMonoAndAnOddLengthIsPadded)
{
    TempFolder folder;
    const fs::path out = folder.path() / "odd.wav";
    // 56448 frames from 18900 Hz to 18902 Hz are 56453 (56448 x 18902 / 18900, rounded down):
    // an odd number of 8-bit mono bytes, so the data chunk takes a pad byte.
    const RunResult result =
        runCli({"audio", movie(kMono).string(), "--out", out.string(), "--rate", "18902", "--bits", "8"});
    ASSERT_EQ(result.status, kExitOk) << result.err;
    const Wave wave = readPcmWave(out);
    EXPECT_EQ(wave.data.size(), 56453u);

    const fs::path mono = folder.path() / "mono.wav";
    ASSERT_EQ(runCli({"audio", movie(kSmall).string(), "--out", mono.string(), "--channels", "1"}).status,
              kExitOk);
    const Wave mixed = readPcmWave(mono);
    EXPECT_EQ(mixed.channels, 1);
    EXPECT_EQ(mixed.sampleRate, 37800u);
    EXPECT_EQ(mixed.data.size(), size_t(kMovies[kSmall].soundSectors) * 18 * 448 / 2);
}

// The checksums are those of each unit's PCM: the written file, cut at the units' lengths,
// gives them again.
TEST_F(AudioCommand, ChecksumsAreThoseOfEachUnitsSound)
{
    TempFolder folder;
    const fs::path out = folder.path() / "sound.wav";
    const RunResult result =
        runCli({"audio", movie(kSmall).string(), "--out", out.string(), "--crc", "--json"});
    ASSERT_EQ(result.status, kExitOk) << result.err;
    const json document = parseJson(result);
    const Wave wave = readPcmWave(out);
    ASSERT_TRUE(document.contains("units"));
    EXPECT_EQ(document["plugin"], "FILMFILE.PSR");
    EXPECT_EQ(document["source"]["sampleRate"], 37800);
    EXPECT_EQ(document["target"]["channels"], 2);
    EXPECT_EQ(document["out"], out.string());

    // As many units as the units command shows sound units.
    const json listed = parseJson(runCli({"units", "--json", movie(kSmall).string()}));
    EXPECT_EQ(document["units"].size(), listed["totals"]["audioUnits"]);

    size_t at = 0;
    uint64_t index = 0;
    for (const json& unit : document["units"]) {
        EXPECT_EQ(unit["index"], index++);
        EXPECT_EQ(unit["unitKind"], 0x20);
        const size_t bytes = unit["pcmBytes"];
        ASSERT_LE(at + bytes, wave.data.size());
        char crc[16];
        std::snprintf(crc, sizeof crc, "%08lx",
                      ::crc32(::crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(wave.data.data() + at),
                              uInt(bytes)));
        EXPECT_EQ(unit["crc32"], crc) << unit;
        at += bytes;
    }
    EXPECT_EQ(at, wave.data.size());
    EXPECT_EQ(document["totals"]["units"], index);
    EXPECT_EQ(document["totals"]["pcmBytes"], at);
    EXPECT_EQ(document["totals"]["dataBytes"], wave.data.size());
    EXPECT_EQ(document["totals"]["frames"], wave.data.size() / 4);
    EXPECT_EQ(document["totals"]["failedUnits"], 0);

    // Without --out, the same checksums as text, and no file.
    const RunResult text = runCli({"audio", movie(kSmall).string(), "--crc"});
    ASSERT_EQ(text.status, kExitOk) << text.err;
    for (const json& unit : document["units"])
        EXPECT_NE(text.out.find(unit["crc32"].get<std::string>()), std::string::npos) << unit;
}

TEST_F(AudioCommand, FilesWithoutSoundAreRefused)
{
    TempFolder folder;
    // mv4 without its sound sectors: the plugin describes pictures only.
    const std::string bytes = readFile(movie(kSmall));
    std::string silent = bytes.substr(0, 44);
    for (size_t at = 44; at + 2352 <= bytes.size(); at += 2352)
        if ((uint8_t(bytes[at + 18]) & 0x7F) != 0x64)
            silent += bytes.substr(at, 2352);
    const fs::path file = folder.path() / "silent.str";
    writeFile(file, silent);
    const fs::path out = folder.path() / "out.wav";
    const RunResult result = runCli({"audio", file.string(), "--out", out.string()});
    EXPECT_EQ(result.status, kExitFailure);
    EXPECT_NE(result.err.find("no sound"), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(out));

    const RunResult unknown =
        runCli({"audio", (dataDir() / "references" / "mv1_v2_320x240_15fps_xa37800s.wav").string(), "--out",
                out.string()});
    EXPECT_EQ(unknown.status, kExitFailure);
    EXPECT_NE(unknown.err.find("no plugin accepts"), std::string::npos) << unknown.err;

    const RunResult missing = runCli({"audio", (folder.path() / "none.str").string(), "--out", out.string()});
    EXPECT_EQ(missing.status, kExitFailure);
    EXPECT_NE(missing.err.find("No such file"), std::string::npos) << missing.err;
    EXPECT_EQ(entries(folder.path()), std::vector<std::string>{"silent.str"});
}

TEST_F(AudioCommand, OutputsThatCannotBeWrittenLeaveNothing)
{
    TempFolder folder;
    const RunResult noFolder =
        runCli({"audio", movie(kSmall).string(), "--out", (folder.path() / "none" / "x.wav").string()});
    EXPECT_EQ(noFolder.status, kExitFailure);
    EXPECT_NE(noFolder.err.find("cannot create"), std::string::npos) << noFolder.err;

    const RunResult aFolder = runCli({"audio", movie(kSmall).string(), "--out", folder.path().string()});
    EXPECT_EQ(aFolder.status, kExitFailure);
    EXPECT_NE(aFolder.err.find("not a regular file"), std::string::npos) << aFolder.err;
    EXPECT_TRUE(fs::is_directory(folder.path()));

    // A write that fails halfway (the file size limit of 50 KiB is below the 451 KiB of sound):
    // the old file stays as it was and no temporary file is left.
    const fs::path out = folder.path() / "kept.wav";
    writeFile(out, "old contents");
    const std::string command = "trap '' XFSZ; ulimit -f 100; exec '" + cliProgram().string() + "' audio '" +
                                movie(kSmall).string() + "' --out '" + out.string() + "'";
    const RunResult limited = run("/bin/sh", {"-c", command});
    EXPECT_EQ(limited.status, kExitFailure) << limited.err;
    EXPECT_NE(limited.err.find("cannot write"), std::string::npos) << limited.err;
    EXPECT_EQ(readFile(out), "old contents");
    EXPECT_EQ(entries(folder.path()), std::vector<std::string>{"kept.wav"});
}

TEST_F(AudioCommand, WrongOptionsAreUsageErrors)
{
    const std::string file = movie(kSmall).string();
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"audio", file},
             {"audio", file, "--out", "x.wav", "--channels", "3"},
             {"audio", file, "--out", "x.wav", "--bits", "12"},
             {"audio", file, "--out", "x.wav", "--rate", "0"},
             {"audio", file, "--out", "x.wav", "--rate", "fast"},
             {"audio", "--out", "x.wav"},
         }) {
        const RunResult result = runCli(args);
        EXPECT_EQ(result.status, kExitUsage) << ::testing::PrintToString(args) << result.err;
        EXPECT_FALSE(fs::exists("x.wav"));
    }
}

} // namespace
} // namespace clitest
