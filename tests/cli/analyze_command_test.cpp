// analyze and identify: the library's disc analysis run by the command line on a built disc
// image, its CDAZ saved in the analyze folder and adopted on the next run, the options that
// answer the questions, the stream list against the scan's, the streams of the stored analysis
// opened as IMAGE#N by the stream commands, and the file analysis.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <tuple>

#include "../plugins/disc_builder.h"
#include "cli_runner.h"

namespace clitest {
namespace {

using nlohmann::json;

constexpr char kMovie[] = "mv4_v3_160x112_15fps_x1_xa37800s.str";
constexpr char kXa[] = "xa1_37800_stereo.xa";

using StreamKey = std::tuple<std::string, uint32_t, uint32_t, uint32_t>; // plugin, kind, start, sectors

std::string upper(std::string text)
{
    for (char& c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

class AnalyzeCommand : public ::testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        discbuild::DiscBuilder builder;
        builder.addForeign(24, 3);
        builder.add(discbuild::loadMovie(kMovie));
        builder.addForeign(6, 2);
        const std::vector<discbuild::Sector> sound = discbuild::soundSectors(discbuild::loadXa(kXa));
        builder.placeSound(sound, 1, 0, builder.next(), 1, true);
        builder.addForeign(10, 4);
        builder.addAudioTrack(300);
        s_image = builder.write().release();
    }
    static void TearDownTestSuite()
    {
        delete s_image;
        s_image = nullptr;
    }

    void SetUp() override
    {
        ASSERT_NE(s_image, nullptr);
        if (!fs::exists(outDir() / "PsrPlugins" / "Discmovie.psr"))
            GTEST_SKIP() << "plugins not built";
    }

    RunResult cli(const std::vector<std::string>& args, std::vector<std::string> environment = {}) const
    {
        environment.push_back("TAMRIN_HOME=" + m_home.path().string());
        return runCli(args, environment);
    }

    json analyzeJson(std::vector<std::string> extra = {}) const
    {
        std::vector<std::string> args{"analyze", "--json", "--no-progress", s_image->cue};
        args.insert(args.end(), extra.begin(), extra.end());
        const RunResult result = cli(args);
        EXPECT_EQ(result.status, kExitOk) << result.err;
        return parseJson(result);
    }

    std::vector<std::string> cdazFiles() const
    {
        std::vector<std::string> names;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(m_home.path() / "Analyze", error))
            names.push_back(entry.path().filename().string());
        return names;
    }

    static std::set<StreamKey> keys(const json& streams)
    {
        std::set<StreamKey> set;
        for (const json& s : streams)
            set.emplace(upper(s["plugin"]), s["kind"], s["startSector"], s["sectorCount"]);
        return set;
    }

    static discbuild::Image* s_image;
    TempFolder m_home;
};

discbuild::Image* AnalyzeCommand::s_image = nullptr;

TEST_F(AnalyzeCommand, FindsTheStreamsOfTheScanAndSavesTheCdaz)
{
    const json analysis = analyzeJson({"--upload", "no"});
    EXPECT_EQ(analysis["complete"], true);
    EXPECT_EQ(analysis["anaSector"], -1);
    ASSERT_TRUE(analysis["streams"].is_array());
    ASSERT_FALSE(analysis["streams"].empty());

    const RunResult scan = cli({"scan", "--json", "--no-progress", s_image->cue});
    ASSERT_EQ(scan.status, kExitOk) << scan.err;
    const json scanned = parseJson(scan);
    EXPECT_EQ(keys(analysis["streams"]), keys(scanned["streams"]));

    // Listed streams are numbered from 1 in record order; every stream carries its flags.
    uint32_t next = 1;
    for (const json& stream : analysis["streams"]) {
        EXPECT_TRUE(stream.contains("flags"));
        if (stream["listed"] == true)
            EXPECT_EQ(stream["number"], next++);
        else
            EXPECT_EQ(stream["number"], 0);
    }
    EXPECT_GT(next, 1u);
    EXPECT_EQ(cdazFiles(), std::vector<std::string>{analysis["name"].get<std::string>()});

    // The text list shows the listed streams with their default titles.
    const RunResult text = cli({"analyze", "--no-progress", "--adopt", "local", s_image->cue});
    ASSERT_EQ(text.status, kExitOk) << text.err;
    EXPECT_NE(text.out.find("analysis complete"), std::string::npos) << text.out;
    for (const json& stream : analysis["streams"]) {
        const std::string name = stream["name"];
        EXPECT_EQ(name.rfind(analysis["prefix"].get<std::string>(), 0), 0u) << name;
        EXPECT_EQ(text.out.find(name) != std::string::npos, stream["listed"] == true) << name << "\n"
                                                                                      << text.out;
    }
}

TEST_F(AnalyzeCommand, AdoptionAndPluginChoiceFromTheOptions)
{
    const json first = analyzeJson({"--upload", "no", "--title", "First title", "--prefix", "FT"});
    EXPECT_EQ(first["title"], "First title");
    EXPECT_EQ(first["prefix"], "FT");

    // Adopted: the same record, without reading the disc again.
    const json adopted = analyzeJson({"--adopt", "local"});
    EXPECT_EQ(adopted["title"], "First title");
    EXPECT_EQ(keys(adopted["streams"]), keys(first["streams"]));

    // A narrower analysis does not replace the complete one unless asked.
    const RunResult narrower =
        cli({"analyze", "--no-progress", "--adopt", "analyze", "--plugins", "Discmovie.psr", s_image->cue});
    EXPECT_EQ(narrower.status, kExitFailure);
    EXPECT_NE(
        narrower.err.find("streams of DISCVOICE.PSR, TRACKAUDIO.PSR, which --plugins leaves out; it is kept"),
        std::string::npos)
        << narrower.err;
    EXPECT_EQ(keys(analyzeJson({"--adopt", "local"})["streams"]), keys(first["streams"]));

    // Analysed again with the movie plugin alone.
    const json again =
        analyzeJson({"--adopt", "analyze", "--plugins", "Discmovie.psr", "--upload", "no", "--replace"});
    ASSERT_FALSE(again["streams"].empty());
    for (const json& stream : again["streams"])
        EXPECT_EQ(stream["plugin"], "DISCMOVIE.PSR");
    ASSERT_EQ(again["plugins"].size(), 1u);
    EXPECT_LT(again["streams"].size(), first["streams"].size());
    EXPECT_EQ(cdazFiles().size(), 1u);
}

TEST_F(AnalyzeCommand, StoredStreamsOpenAsImageHashNumber)
{
    // Without a stored analysis there is nothing to number.
    RunResult none = cli({"units", "--json", "--no-progress", s_image->cue + "#1"});
    EXPECT_EQ(none.status, kExitFailure);
    EXPECT_NE(none.err.find("no stored analysis"), std::string::npos) << none.err;

    const json analysis = analyzeJson({"--upload", "no"});
    uint32_t movie = 0;
    json movieStream;
    for (const json& stream : analysis["streams"])
        if (stream["listed"] == true && stream["plugin"] == "DISCMOVIE.PSR" && movie == 0) {
            movie = stream["number"];
            movieStream = stream;
        }
    ASSERT_NE(movie, 0u);
    const RunResult units =
        cli({"units", "--json", "--no-progress", s_image->cue + "#" + std::to_string(movie)});
    ASSERT_EQ(units.status, kExitOk) << units.err;
    const json listed = parseJson(units);
    EXPECT_EQ(listed["info"]["startSector"], movieStream["startSector"]);
    EXPECT_FALSE(listed["units"].empty());

    const RunResult frames =
        cli({"frames", "--null", "--no-progress", s_image->cue + "#" + std::to_string(movie)});
    EXPECT_EQ(frames.status, kExitOk) << frames.err;

    const RunResult beyond = cli({"units", "--json", "--no-progress", s_image->cue + "#999"});
    EXPECT_EQ(beyond.status, kExitFailure);
    EXPECT_NE(beyond.err.find("there is no stream 999"), std::string::npos) << beyond.err;

    const RunResult mixed = cli({"units", "--no-progress", s_image->cue + "#1", "--stream", "2"});
    EXPECT_EQ(mixed.status, kExitUsage);

    // Stream numbers start at 1; #0 says so instead of looking for a file of that name.
    const RunResult zero = cli({"frames", "--null", s_image->cue + "#0"});
    EXPECT_EQ(zero.status, kExitUsage);
    EXPECT_NE(zero.err.find("there is no stream 0"), std::string::npos) << zero.err;
}

TEST_F(AnalyzeCommand, StreamsLeftOutOfTheListSayWhy)
{
    const json analysis = analyzeJson({"--upload", "no"});
    size_t hidden = 0;
    for (const json& stream : analysis["streams"]) {
        EXPECT_EQ(stream.contains("hiddenBecause"), stream["listed"] == false) << stream.dump();
        if (stream["listed"] == false) {
            ++hidden;
            // On this disc only the movie's own sound, found by the sound plugin, is left out.
            EXPECT_EQ(stream["plugin"], "DISCVOICE.PSR");
            EXPECT_NE(stream["hiddenBecause"].get<std::string>().find("higher-priority plugin"),
                      std::string::npos);
        }
    }
    ASSERT_GT(hidden, 0u) << "the movie's sound is inside the movie's stream";
    const RunResult text = cli({"analyze", "--no-progress", "--adopt", "local", s_image->cue});
    ASSERT_EQ(text.status, kExitOk) << text.err;
    EXPECT_NE(
        text.out.find("not listed: " + std::to_string(hidden) + ", inside a stream of a higher-priority"),
        std::string::npos)
        << text.out;
}

// The adoption question of a disc analysed before, asked without a terminal: its caption, its
// stream count and the default answer it takes are in the language of the child's locale.
TEST_F(AnalyzeCommand, AdoptionQuestionSpeaksTheLocalesLanguage)
{
    ASSERT_EQ(analyzeJson({"--upload", "no"})["complete"], true);
    struct Case
    {
        const char* lang;
        std::vector<std::string> shown;
        std::string foreign;
    };
    const Case cases[] = {
        {"LANG=en_US.UTF-8", {"Adoption of CDAZ is checked: ", " valid\n", "(adopt this CDAZ)\n"}, "\xE3"},
        {"LANG=ja_JP.UTF-8", {"CDAZ 採用の確認: ", "ストリーム ", "(この CDAZ を採用する)\n"}, "adopt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lang);
        const RunResult result = cli({"analyze", "--no-progress", "--upload", "no", s_image->cue},
                                     {"LC_ALL=", "LC_CTYPE=", c.lang});
        ASSERT_EQ(result.status, kExitOk) << result.err;
        for (const std::string& shown : c.shown)
            EXPECT_NE(result.err.find(shown), std::string::npos) << shown << "\n" << result.err;
        EXPECT_EQ(result.err.find(c.foreign), std::string::npos) << result.err;
    }
    EXPECT_EQ(cdazFiles().size(), 1u) << "the adopted record is kept, not analysed again";
}

TEST_F(AnalyzeCommand, WrongOptionsAndInputsFailClearly)
{
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"analyze", "--adopt", "maybe", s_image->cue},
          {"analyze", "--upload", "perhaps", s_image->cue},
          {"analyze", "--plugins", ",", s_image->cue},
          {"analyze", "--title", std::string(65, 't'), s_image->cue}}) {
        const RunResult result = cli(args);
        EXPECT_EQ(result.status, kExitUsage) << args[1];
        EXPECT_TRUE(cdazFiles().empty());
    }
    const RunResult missing = cli({"analyze", "/no/such/disc.cue"});
    EXPECT_EQ(missing.status, kExitFailure);
    EXPECT_FALSE(missing.err.empty());
    // A plugin choice that leaves no disc plugin finds nothing.
    const RunResult nothing = cli({"analyze", "--no-progress", "--plugins", "Nosuch.psr", s_image->cue});
    EXPECT_EQ(nothing.status, kExitFailure);
    EXPECT_TRUE(cdazFiles().empty());
}

TEST_F(AnalyzeCommand, IdentifyNamesThePluginOfEachFile)
{
    const fs::path movie = dataDir() / "movies" / kMovie;
    const fs::path text = m_home.path() / "notes.txt";
    writeFile(text, "not a stream\n");
    const RunResult result = cli({"identify", "--json", movie.string(), text.string()});
    EXPECT_EQ(result.status, kExitFailure);
    const json list = parseJson(result);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]["plugin"], "FILMFILE.PSR");
    EXPECT_EQ(list[0]["width"], 160);
    EXPECT_TRUE(list[1].contains("error"));
    EXPECT_NE(result.err.find("was undetectable"), std::string::npos) << result.err;

    const RunResult one = cli({"identify", movie.string()});
    EXPECT_EQ(one.status, kExitOk) << one.err;
    EXPECT_NE(one.out.find("FILMFILE.PSR"), std::string::npos);
}

} // namespace
} // namespace clitest
