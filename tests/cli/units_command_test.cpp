// units: every unit of each test movie, in stream order, with a payload checksum.
#include <gtest/gtest.h>
#include <zlib.h>

#include <regex>

#include "cli_runner.h"
#include "movie_facts.h"

namespace clitest {
namespace {

using nlohmann::json;

constexpr size_t kRiffHeaderBytes = 44;
constexpr size_t kRawSectorBytes = 2352;
constexpr size_t kXaDataOffset = 24;
constexpr size_t kXaDataBytes = 2304;

bool isVideo(const json& unit)
{
    return (unit["unitKind"].get<int>() & 0xF0) == 0x10;
}

class UnitsCommand : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        if (!filmfileBuilt())
            GTEST_SKIP() << "Filmfile.psr is not built";
    }

    static fs::path movie(size_t i) { return dataDir() / "movies" / kMovies[i].file; }

    static json units(const fs::path& file, std::vector<std::string> extra = {})
    {
        std::vector<std::string> args{"units", "--json", file.string()};
        args.insert(args.end(), extra.begin(), extra.end());
        const RunResult result = runCli(args);
        EXPECT_EQ(result.status, kExitOk) << result.err;
        EXPECT_TRUE(result.err.empty()) << result.err;
        return parseJson(result);
    }
};

TEST_F(UnitsCommand, FramesAreNumberedWithoutGapsAndSoundComesInSectors)
{
    for (size_t i = 0; i < std::size(kMovies); ++i) {
        const MovieFacts& facts = kMovies[i];
        SCOPED_TRACE(facts.file);
        const json document = units(movie(i));
        ASSERT_TRUE(document.contains("units"));
        EXPECT_EQ(document["plugin"], "FILMFILE.PSR");

        uint32_t nextFrame = 1;
        uint64_t video = 0;
        uint64_t audio = 0;
        uint64_t payload = 0;
        uint64_t soundBytes = 0;
        uint64_t index = 0;
        for (const json& unit : document["units"]) {
            EXPECT_EQ(unit["index"], index++);
            EXPECT_TRUE(std::regex_match(unit["crc32"].get<std::string>(), std::regex("[0-9a-f]{8}")))
                << unit;
            payload += unit["payloadBytes"].get<uint64_t>();
            if (isVideo(unit)) {
                ++video;
                EXPECT_EQ(unit["frameNumber"], nextFrame++) << unit;
                EXPECT_EQ(unit["width"], facts.width);
                EXPECT_EQ(unit["height"], facts.height);
                EXPECT_GT(unit["payloadBytes"], 0);
            } else {
                ++audio;
                EXPECT_EQ(unit["frameNumber"], 0) << unit;
                const uint32_t bytes = unit["payloadBytes"];
                EXPECT_TRUE(bytes == kXaDataBytes || bytes == 2 * kXaDataBytes) << unit;
                soundBytes += bytes;
            }
        }
        EXPECT_EQ(video, facts.frames);
        // Sound units carry one or two sectors each; all the file's sound arrives.
        EXPECT_EQ(soundBytes, uint64_t(facts.soundSectors) * kXaDataBytes);
        EXPECT_EQ(document["totals"]["videoUnits"], video);
        EXPECT_EQ(document["totals"]["audioUnits"], audio);
        EXPECT_EQ(document["totals"]["payloadBytes"], payload);
    }
}

TEST_F(UnitsCommand, ChecksumsAreStableFromRunToRun)
{
    for (size_t i = 0; i < std::size(kMovies); ++i) {
        SCOPED_TRACE(kMovies[i].file);
        const json first = units(movie(i));
        const json second = units(movie(i));
        ASSERT_FALSE(first["units"].empty());
        EXPECT_EQ(first["units"], second["units"]);
    }
}

TEST_F(UnitsCommand, SoundChecksumIsTheCrcOfTheSectorData)
{
    // mv4 opens with a sound sector: the first unit is its 2304 data bytes, read straight from
    // the file here and checksummed independently.
    const std::string file = readFile(movie(3));
    ASSERT_GE(file.size(), kRiffHeaderBytes + kRawSectorBytes);
    const auto* data = reinterpret_cast<const Bytef*>(file.data() + kRiffHeaderBytes + kXaDataOffset);
    char expected[16];
    std::snprintf(expected, sizeof expected, "%08lx", crc32(0, data, kXaDataBytes));

    const json document = units(movie(3), {"--limit", "1"});
    ASSERT_EQ(document["units"].size(), 1u);
    const json& unit = document["units"][0];
    EXPECT_FALSE(isVideo(unit));
    EXPECT_EQ(unit["payloadBytes"], kXaDataBytes);
    EXPECT_EQ(unit["crc32"], expected);
}

TEST_F(UnitsCommand, LimitStopsEarlyWithTheSameUnits)
{
    const json all = units(movie(3));
    const json some = units(movie(3), {"--limit", "5"});
    ASSERT_EQ(some["units"].size(), 5u);
    for (size_t i = 0; i < 5; ++i)
        EXPECT_EQ(some["units"][i], all["units"][i]);
    const uint64_t total =
        some["totals"]["videoUnits"].get<uint64_t>() + some["totals"]["audioUnits"].get<uint64_t>();
    EXPECT_EQ(total, 5u);
}

TEST_F(UnitsCommand, NamedPluginGivesTheSameUnits)
{
    const json chosen = units(movie(2));
    const json named = units(movie(2), {"--plugin", "FILMFILE.PSR"});
    EXPECT_EQ(named["plugin"], "FILMFILE.PSR");
    EXPECT_EQ(named["units"], chosen["units"]);
}

TEST_F(UnitsCommand, TextHasOneLinePerUnitAndTotals)
{
    const json document = units(movie(3));
    const RunResult result = runCli({"units", movie(3).string()});
    ASSERT_EQ(result.status, kExitOk) << result.err;
    std::vector<std::string> lines;
    std::istringstream text(result.out);
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    // File line, column header, the units, totals.
    ASSERT_EQ(lines.size(), document["units"].size() + 3) << result.out;
    EXPECT_EQ(lines[0], movie(3).string() + ": FILMFILE.PSR");
    const json& unit = document["units"][1];
    const std::string& line = lines[3];
    EXPECT_NE(line.find(unit["crc32"].get<std::string>()), std::string::npos) << line;
    std::string bytesColumn(1, ' ');
    bytesColumn += unit["payloadBytes"].dump();
    bytesColumn += ' ';
    EXPECT_NE(line.find(bytesColumn), std::string::npos) << line;
    const std::string totals = "total: " + document["totals"]["videoUnits"].dump() + " video units, " +
                               document["totals"]["audioUnits"].dump() + " audio units, " +
                               document["totals"]["payloadBytes"].dump() + " payload bytes";
    EXPECT_EQ(lines.back(), totals);
}

// Regression guard: the per-unit checksums of the smallest movie. When a plugin change alters
// them on purpose, regenerate from the repository root with
//   build/<x>/out/tamrin-cli units --json tests/data/movies/mv4_v3_160x112_15fps_x1_xa37800s.str
//     > tests/cli/golden/mv4_units.json
// and say why in the commit message. Only "units" and "totals" are compared.
TEST_F(UnitsCommand, SmallestMovieMatchesTheGoldenChecksums)
{
    const fs::path goldenPath = fs::path(TAMRIN_CLI_GOLDEN) / "mv4_units.json";
    const json golden = json::parse(readFile(goldenPath), nullptr, false);
    ASSERT_FALSE(golden.is_discarded()) << goldenPath;
    ASSERT_FALSE(golden["units"].empty());
    const json document = units(movie(3));
    ASSERT_EQ(document["units"].size(), golden["units"].size());
    for (size_t i = 0; i < golden["units"].size(); ++i)
        EXPECT_EQ(document["units"][i], golden["units"][i]) << "unit " << i;
    EXPECT_EQ(document["totals"], golden["totals"]);
}

TEST(UnitsFailures, MissingFileIsReported)
{
    TempFolder folder;
    const fs::path missing = folder.path() / "gone.str";
    const RunResult result = runCli({"units", "--json", missing.string()});
    EXPECT_EQ(result.status, kExitFailure);
    EXPECT_NE(result.err.find(missing.string()), std::string::npos) << result.err;
    EXPECT_TRUE(result.out.empty()) << result.out;
}

TEST(UnitsFailures, UnknownPluginIsReported)
{
    const fs::path movie = dataDir() / "movies" / kMovies[3].file;
    const RunResult result = runCli({"units", movie.string(), "--plugin", "Nothing.psr"});
    EXPECT_EQ(result.status, kExitFailure);
    EXPECT_NE(result.err.find("Nothing.psr: no such plugin"), std::string::npos) << result.err;
}

TEST(UnitsFailures, PluginThatRefusesTheFileIsReported)
{
    if (!filmfileBuilt())
        GTEST_SKIP() << "Filmfile.psr is not built";
    TempFolder folder;
    writeFile(folder.path() / "text.str", std::string(8192, 'x'));
    const RunResult result =
        runCli({"units", (folder.path() / "text.str").string(), "--plugin", "Filmfile.psr"});
    EXPECT_EQ(result.status, kExitFailure);
    EXPECT_NE(result.err.find("does not accept"), std::string::npos) << result.err;
}

TEST(UnitsFailures, FileNobodyTakesIsReported)
{
    TempFolder folder;
    writeFile(folder.path() / "empty.str", "");
    const RunResult result = runCli({"units", (folder.path() / "empty.str").string()});
    EXPECT_EQ(result.status, kExitFailure);
    EXPECT_NE(result.err.find("empty.str"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("no plugin accepts"), std::string::npos) << result.err;
}

} // namespace
} // namespace clitest
