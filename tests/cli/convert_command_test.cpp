// convert: WAVE files of movie files and of disc streams against the audio command's, several
// sources into a folder with names of their own, existing outputs, the JSON results, bad sources
// among good ones, and the options that cannot go together.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "cli_runner.h"
#include "movie_facts.h"
#include "progress.h"

namespace clitest {
namespace {

using nlohmann::json;

constexpr size_t kSmall = 3; // mv4: 160x112, 37800 Hz stereo, 56 sound sectors

fs::path movie(size_t i)
{
    return dataDir() / "movies" / kMovies[i].file;
}

fs::path discCue()
{
    return dataDir() / "disc" / "psxdisc_a.cue";
}

// The samples of a WAVE file written by tamrin-cli (the header is checked by the audio tests).
std::string samplesOf(const fs::path& path)
{
    const std::string bytes = readFile(path);
    EXPECT_GE(bytes.size(), 44u) << path;
    return bytes.size() < 44 ? std::string() : bytes.substr(44);
}

std::set<std::string> entries(const fs::path& folder)
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

class ConvertCommand : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        if (!filmfileBuilt())
            GTEST_SKIP() << "Filmfile.psr is not built";
    }
    RunResult cli(const std::vector<std::string>& args) const
    {
        return runCli(args, {"TAMRIN_HOME=" + m_home.path().string()});
    }

    TempFolder m_folder;
    TempFolder m_home;
};

// The same file as the audio command writes, with and without a format conversion.
TEST_F(ConvertCommand, WaveOfAFileIsTheAudioCommandsFile)
{
    for (const std::vector<std::string>& format :
         {std::vector<std::string>{}, {"--rate", "44100", "--channels", "1", "--bits", "8"}}) {
        SCOPED_TRACE(::testing::PrintToString(format));
        const fs::path ours = m_folder.path() / "convert.wav", theirs = m_folder.path() / "audio.wav";
        std::vector<std::string> args{"convert", movie(kSmall).string(), "--to", "wave", "--out", ours.string()};
        args.insert(args.end(), format.begin(), format.end());
        const RunResult result = cli(args);
        ASSERT_EQ(result.status, kExitOk) << result.err;
        EXPECT_TRUE(result.err.empty()) << result.err;
        EXPECT_NE(result.out.find("-> " + ours.string()), std::string::npos) << result.out;
        args = {"audio", movie(kSmall).string(), "--out", theirs.string()};
        args.insert(args.end(), format.begin(), format.end());
        ASSERT_EQ(cli(args).status, kExitOk);
        EXPECT_TRUE(readFile(ours) == readFile(theirs));
        fs::remove(ours);
        fs::remove(theirs);
    }
}

// A stream of the disc image, chosen by the scan (--stream) and by the stored analysis (IMAGE#N),
// gives the sound of the same movie as a file; IMAGE#N names its file after the stream's title.
TEST_F(ConvertCommand, DiscStreamsGiveTheMoviesSound)
{
    const fs::path file = m_folder.path() / "file.wav";
    ASSERT_EQ(cli({"convert", movie(kSmall).string(), "--to", "wave", "--out", file.string()}).status, kExitOk);
    const std::string expected = samplesOf(file);
    ASSERT_EQ(expected.size(), size_t(kMovies[kSmall].soundSectors) * 18 * 448);

    // MV4.STR is the fourth stream the scan lists (movies in disc order).
    const fs::path scanned = m_folder.path() / "scanned.wav";
    RunResult result = cli({"convert", discCue().string(), "--stream", "4", "--to", "wave", "--out",
                            scanned.string(), "--no-progress"});
    ASSERT_EQ(result.status, kExitOk) << result.err;
    EXPECT_NE(result.out.find("stream 4 -> "), std::string::npos) << result.out;
    EXPECT_TRUE(samplesOf(scanned) == expected) << "the disc stream's sound";

    result = cli({"analyze", "--no-progress", "--upload", "no", "--adopt", "analyze", discCue().string()});
    ASSERT_EQ(result.status, kExitOk) << result.err;
    const fs::path folder = m_folder.path() / "titled";
    result = cli({"convert", discCue().string() + "#4", discCue().string() + "#1", "--to", "wave", "--out",
                  folder.string(), "--json"});
    ASSERT_EQ(result.status, kExitOk) << result.err;
    const json document = parseJson(result);
    ASSERT_EQ(document.size(), 2u);
    // The analysis' default titles: "STR" and the number of the stream among all it found.
    EXPECT_EQ(entries(folder), (std::set<std::string>{"STR0001.wav", "STR0007.wav"}));
    EXPECT_EQ(document[0]["path"], (folder / "STR0007.wav").string());
    EXPECT_TRUE(samplesOf(folder / "STR0007.wav") == expected);
}

// Several sources: the folder is made, each file is named after its source, a name taken twice
// gets a number, and the JSON has one result per source.
TEST_F(ConvertCommand, SeveralSourcesIntoAFolder)
{
    const fs::path folder = m_folder.path() / "new" / "sounds";
    std::vector<std::string> args{"convert", "--to", "wave", "--out", folder.string(), "--json"};
    for (size_t i = 0; i < std::size(kMovies); ++i)
        args.push_back(movie(i).string());
    // The same name in another folder.
    const fs::path copy = m_folder.path() / kMovies[0].file;
    fs::copy_file(movie(0), copy);
    args.push_back(copy.string());
    const RunResult result = cli(args);
    ASSERT_EQ(result.status, kExitOk) << result.err;
    const json document = parseJson(result);
    ASSERT_TRUE(document.is_array());
    ASSERT_EQ(document.size(), std::size(kMovies) + 1);

    std::set<std::string> expected;
    for (size_t i = 0; i < document.size(); ++i) {
        const json& entry = document[i];
        const MovieFacts& facts = kMovies[i % std::size(kMovies)];
        const std::string stem = fs::path(facts.file).stem().string();
        const std::string name = i < std::size(kMovies) ? stem + ".wav" : stem + "-2.wav";
        expected.insert(name);
        EXPECT_EQ(entry["source"], args[6 + i]);
        EXPECT_EQ(entry["path"], (folder / name).string());
        EXPECT_EQ(entry["result"], 0);
        EXPECT_EQ(entry["message"], "The conversion is completed.");
        EXPECT_EQ(entry["cancelled"], false);
        EXPECT_TRUE(entry["frames"].is_null());
        EXPECT_EQ(entry["samples"], uint64_t(facts.soundSectors) * 18 * 448 / (2 * facts.channels));
        EXPECT_TRUE(entry["seconds"].is_number());
    }
    EXPECT_EQ(entries(folder), expected);
    EXPECT_TRUE(samplesOf(folder / (fs::path(kMovies[0].file).stem().string() + "-2.wav")) ==
                samplesOf(folder / (fs::path(kMovies[0].file).stem().string() + ".wav")));
}

TEST_F(ConvertCommand, ExistingOutputsNeedForce)
{
    const fs::path out = m_folder.path() / "kept.wav";
    writeFile(out, "earlier file");
    RunResult result = cli({"convert", movie(kSmall).string(), "--to", "wave", "--out", out.string(), "--json"});
    EXPECT_EQ(result.status, kExitFailure);
    const json refused = parseJson(result);
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0]["result"], 1000);
    EXPECT_NE(refused[0]["message"].get<std::string>().find("already exists"), std::string::npos);
    EXPECT_EQ(refused[0]["seconds"], 0);
    EXPECT_EQ(readFile(out), "earlier file");

    result = cli({"convert", movie(kSmall).string(), "--to", "wave", "--out", out.string(), "--force"});
    ASSERT_EQ(result.status, kExitOk) << result.err;
    EXPECT_EQ(samplesOf(out).size(), size_t(kMovies[kSmall].soundSectors) * 18 * 448);
    EXPECT_EQ(entries(m_folder.path()), std::set<std::string>{"kept.wav"});
}

// Bad sources fail on their own; the good ones are still converted, and the status says that
// not everything was done.
TEST_F(ConvertCommand, BadSourcesFailAlone)
{
    const fs::path text = m_folder.path() / "notes.txt";
    writeFile(text, "not a movie");
    const fs::path folder = m_folder.path() / "out";
    const RunResult result = cli({"convert", (m_folder.path() / "missing.str").string(), text.string(),
                                  movie(kSmall).string(), "--to", "wave", "--out", folder.string(), "--json"});
    EXPECT_EQ(result.status, kExitFailure);
    EXPECT_NE(result.err.find("missing.str"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("no plugin accepts"), std::string::npos) << result.err;
    const json document = parseJson(result);
    ASSERT_EQ(document.size(), 3u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(document[i]["result"], 4) << i;
        EXPECT_TRUE(document[i]["path"].is_null()) << i;
        EXPECT_TRUE(document[i]["samples"].is_null()) << i;
    }
    EXPECT_EQ(document[2]["result"], 0);
    EXPECT_EQ(entries(folder), std::set<std::string>{fs::path(kMovies[kSmall].file).stem().string() + ".wav"});

    // A stream without sound, as WAVE: the converter's refusal, and no file.
    const std::string bytes = readFile(movie(kSmall));
    std::string silent = bytes.substr(0, 44);
    for (size_t at = 44; at + 2352 <= bytes.size(); at += 2352)
        if ((uint8_t(bytes[at + 18]) & 0x7F) != 0x64)
            silent += bytes.substr(at, 2352);
    const fs::path pictures = m_folder.path() / "pictures.str";
    writeFile(pictures, silent);
    const fs::path out = m_folder.path() / "pictures.wav";
    const RunResult none = cli({"convert", pictures.string(), "--to", "wave", "--out", out.string()});
    EXPECT_EQ(none.status, kExitFailure);
    EXPECT_NE(none.err.find("(result 2)"), std::string::npos) << none.err;
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(ConvertCommand, WrongOptionsAreUsageErrors)
{
    const std::string file = movie(kSmall).string();
    const std::string out = (m_folder.path() / "x.wav").string();
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"convert", file, "--out", out},
             {"convert", file, "--to", "wave"},
             {"convert", "--to", "wave", "--out", out},
             {"convert", file, "--to", "flac", "--out", out},
             {"convert", file, "--to", "wave", "--out", out, "--size", "320x240"},
             {"convert", file, "--to", "wave", "--out", out, "--kbps", "128"},
             {"convert", file, "--to", "mp3", "--out", out, "--kbps", "128", "--vbr", "2"},
             {"convert", file, "--to", "mp3", "--out", out, "--kbps", "100"},
             {"convert", file, "--to", "mp3", "--out", out, "--rate", "44100"},
             {"convert", file, "--to", "avi", "--out", out, "--size", "0x240"},
             {"convert", file, "--to", "avi", "--out", out, "--fps", "7.55"},
             {"convert", file, "--to", "avi", "--out", out, "--fps", "-15"},
             {"convert", file, "--to", "avi", "--out", out, "--quality", "50"},
             {"convert", file, "--to", "avi", "--out", out, "--no-audio", "--rate", "44100"},
             {"convert", file, "--to", "avi", "--out", out, "--codec", "no-such-codec"},
             {"convert", file, "--to", "wave", "--out", out, "--channels", "3"},
             {"convert", "--list-codecs", file},
             {"convert", discCue().string(), "--to", "wave", "--out", out},
         }) {
        const RunResult result = cli(args);
        EXPECT_EQ(result.status, kExitUsage) << ::testing::PrintToString(args) << result.err;
        EXPECT_FALSE(result.err.empty()) << ::testing::PrintToString(args);
    }
    EXPECT_TRUE(entries(m_folder.path()).empty());
    const RunResult codec = cli({"convert", file, "--to", "avi", "--out", out, "--codec", "no-such-codec"});
    EXPECT_NE(codec.err.find("no video codec is called no-such-codec"), std::string::npos) << codec.err;
}

// The codec list in text and JSON: the same codecs, each with a name and a four-character code.
TEST_F(ConvertCommand, CodecListInTextAndJson)
{
    const RunResult text = cli({"convert", "--list-codecs"});
    ASSERT_EQ(text.status, kExitOk) << text.err;
    const RunResult listed = cli({"convert", "--list-codecs", "--json"});
    ASSERT_EQ(listed.status, kExitOk) << listed.err;
    const json codecs = parseJson(listed);
    ASSERT_TRUE(codecs.is_array());
    for (const json& codec : codecs) {
        EXPECT_FALSE(codec["name"].get<std::string>().empty());
        EXPECT_EQ(codec["handler"].get<std::string>().size(), 4u);
        EXPECT_NE(text.out.find(codec["name"].get<std::string>()), std::string::npos) << codec;
    }
    if (codecs.empty()) {
        EXPECT_NE(text.out.find("uncompressed"), std::string::npos) << text.out;
    }
}

TEST(ConversionProgress, StreamTimeAndTimeLeft)
{
    struct Case
    {
        uint32_t position, length;
        uint64_t elapsed;
        const char* text;
    } cases[] = {
        {0, 90000, 0, "mv: 0:00 of 1:30 (0%)"},
        {30000, 90000, 10000, "mv: 0:30 of 1:30 (33%), 0:20 left"},
        {95000, 90000, 5000, "mv: 1:30 of 1:30 (100%), 0:00 left"}, // sound past the stated length
        {5000, 0, 1000, "mv: 0:05"},
        {3600000, 7200000, 90000, "mv: 1:00:00 of 2:00:00 (50%), 1:30 left"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(tamrin::cli::conversionProgressText("mv", c.position, c.length, c.elapsed), c.text);
}

} // namespace
} // namespace clitest
