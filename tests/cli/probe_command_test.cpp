// probe: the stream description of each test movie, and clear failures for files nobody takes.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "cli_runner.h"
#include "movie_facts.h"

namespace clitest {
namespace {

using nlohmann::json;

class ProbeCommand : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        if (!filmfileBuilt())
            GTEST_SKIP() << "Filmfile.psr is not built";
    }
};

TEST_F(ProbeCommand, EveryTestMovieHasTheRecordedSizeAndSound)
{
    const auto movies = movieFiles();
    ASSERT_EQ(movies.size(), std::size(kMovies)) << "a movie without recorded facts, or one missing";
    for (const fs::path& movie : movies) {
        SCOPED_TRACE(movie.filename().string());
        const MovieFacts* facts = factsFor(movie.filename().string());
        ASSERT_NE(facts, nullptr);
        const RunResult result = runCli({"probe", "--json", movie.string()});
        ASSERT_EQ(result.status, kExitOk) << result.err;
        const json list = parseJson(result);
        ASSERT_EQ(list.size(), 1u);
        EXPECT_EQ(list[0]["file"], movie.string());
        EXPECT_EQ(list[0]["plugin"], "FILMFILE.PSR");
        const json& info = list[0]["info"];
        EXPECT_EQ(info["kind"].get<int>() & 0x03, 0x03) << "video and sound";
        EXPECT_EQ(info["width"], facts->width);
        EXPECT_EQ(info["height"], facts->height);
        EXPECT_EQ(info["channels"], facts->channels);
        EXPECT_EQ(info["sampleRate"], facts->sampleRate);
        EXPECT_EQ(info["audioFormat"], 1);
        EXPECT_EQ(info["bitsPerSample"], 16);
        // A file is no disc area.
        EXPECT_EQ(info["startSector"], 0);
        EXPECT_EQ(info["sectorCount"], 0);
        // These sizes are below 2.5 : 1, so the display size is the coded size.
        EXPECT_EQ(info["outWidth"], facts->width);
        EXPECT_EQ(info["outHeight"], facts->height);
    }
}

// probe and identify ask the same library question: for every test file, the same plugin (or
// none) and the same description.
TEST_F(ProbeCommand, AgreesWithIdentifyOnEveryTestFile)
{
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dataDir()))
        if (entry.is_regular_file())
            files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    ASSERT_GT(files.size(), 10u);
    std::vector<std::string> probeArgs{"probe", "--json"}, identifyArgs{"identify", "--json"};
    probeArgs.insert(probeArgs.end(), files.begin(), files.end());
    identifyArgs.insert(identifyArgs.end(), files.begin(), files.end());
    const json probed = parseJson(runCli(probeArgs));
    const json identified = parseJson(runCli(identifyArgs));
    ASSERT_EQ(probed.size(), files.size());
    ASSERT_EQ(identified.size(), files.size());
    size_t taken = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(files[i]);
        EXPECT_EQ(probed[i]["file"], files[i]);
        EXPECT_EQ(identified[i]["file"], files[i]);
        EXPECT_EQ(probed[i].value("plugin", ""), identified[i].value("plugin", ""));
        if (!probed[i].contains("plugin"))
            continue;
        ++taken;
        for (const char* field : {"kind", "frameCount", "durationMs", "sampleRate", "width"})
            EXPECT_EQ(probed[i]["info"][field], identified[i][field]) << field;
    }
    EXPECT_GE(taken, std::size(kMovies)) << "every movie file is taken";
}

TEST_F(ProbeCommand, JsonNamesEveryStreamField)
{
    const auto movies = movieFiles();
    ASSERT_FALSE(movies.empty());
    // Parsed keeping the key order: the fields come in record order.
    const auto list = nlohmann::ordered_json::parse(runCli({"probe", "--json", movies.front().string()}).out);
    std::vector<std::string> keys;
    for (const auto& item : list[0]["info"].items())
        keys.push_back(item.key());
    const std::vector<std::string> expected{"kind",       "reserved",    "startSector", "sectorCount",
                                            "durationMs", "frameCount",  "width",       "height",
                                            "frameRate",  "audioFormat", "channels",    "bitsPerSample",
                                            "sampleRate", "dataBytes",   "outWidth",    "outHeight"};
    EXPECT_EQ(keys, expected);
}

TEST_F(ProbeCommand, TextShowsTheFieldsByName)
{
    const fs::path movie = dataDir() / "movies" / kMovies[3].file;
    const RunResult result = runCli({"probe", movie.string()});
    ASSERT_EQ(result.status, kExitOk) << result.err;
    EXPECT_NE(result.out.find(movie.string() + ": FILMFILE.PSR"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("  width            160\n"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("  sampleRate       37800\n"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("0x0003 (video, audio)"), std::string::npos) << result.out;
    EXPECT_TRUE(result.err.empty()) << result.err;
}

// Failures are reported on stderr with the file's name and a reason, and change the status.
void expectRefused(const fs::path& file, const std::string& reason)
{
    SCOPED_TRACE(file.string());
    const RunResult result = runCli({"probe", file.string()});
    EXPECT_EQ(result.status, kExitFailure) << result.err;
    EXPECT_NE(result.err.find(file.string()), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(reason), std::string::npos) << result.err;
    EXPECT_TRUE(result.out.empty()) << result.out;
}

TEST(ProbeFailures, MissingFile)
{
    TempFolder folder;
    expectRefused(folder.path() / "no-such-movie.str", "No such file or directory");
}

TEST(ProbeFailures, EmptyFile)
{
    TempFolder folder;
    writeFile(folder.path() / "empty.str", "");
    expectRefused(folder.path() / "empty.str", "empty");
}

TEST(ProbeFailures, Directory)
{
    TempFolder folder;
    expectRefused(folder.path(), "is a directory");
}

TEST(ProbeFailures, RandomBytes)
{
    TempFolder folder;
    std::mt19937 random(20260);
    std::string bytes(256 * 1024, '\0');
    for (char& byte : bytes)
        byte = char(random());
    writeFile(folder.path() / "noise.str", bytes);
    expectRefused(folder.path() / "noise.str", "no plugin accepts");
}

TEST(ProbeFailures, MovieHeaderOverNoise)
{
    // The first bytes of a real movie, then noise: the file test must look past the header.
    const fs::path movie = dataDir() / "movies" / kMovies[3].file;
    std::string bytes = readFile(movie).substr(0, 44);
    ASSERT_EQ(bytes.size(), 44u);
    std::mt19937 random(7);
    bytes.resize(44 + 64 * 2352);
    for (size_t i = 44; i < bytes.size(); ++i)
        bytes[i] = char(random());
    TempFolder folder;
    writeFile(folder.path() / "riff-noise.str", bytes);
    expectRefused(folder.path() / "riff-noise.str", "no plugin accepts");
}

TEST_F(ProbeCommand, OtherFilesAreProbedAfterAFailure)
{
    TempFolder folder;
    const fs::path missing = folder.path() / "missing.str";
    const fs::path first = dataDir() / "movies" / kMovies[0].file;
    const fs::path last = dataDir() / "movies" / kMovies[3].file;
    const RunResult result = runCli({"probe", "--json", first.string(), missing.string(), last.string()});
    EXPECT_EQ(result.status, kExitFailure);
    EXPECT_NE(result.err.find(missing.string()), std::string::npos) << result.err;
    const json list = parseJson(result);
    ASSERT_EQ(list.size(), 3u) << result.out;
    EXPECT_EQ(list[0]["file"], first.string());
    EXPECT_EQ(list[0]["info"]["width"], kMovies[0].width);
    EXPECT_EQ(list[1]["file"], missing.string());
    EXPECT_FALSE(list[1].contains("plugin"));
    EXPECT_FALSE(list[1].contains("info"));
    EXPECT_NE(list[1].value("error", "").find("No such file"), std::string::npos);
    EXPECT_EQ(list[2]["file"], last.string());
    EXPECT_EQ(list[2]["info"]["width"], kMovies[3].width);
}

} // namespace
} // namespace clitest
