// convert: WAVE files of movie files and of disc streams against the audio command's, several
// sources into a folder with names of their own, existing outputs, the JSON results, bad sources
// among good ones, and the options that cannot go together.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstring>
#include <map>
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

// ffprobe's "key=value" lines about one stream of a file ("v:0", "a:0") and its duration.
std::map<std::string, std::string> probe(const fs::path& file, const std::string& stream)
{
    const RunResult result =
        run("/usr/bin/env",
            {"ffprobe", "-v", "error", "-select_streams", stream, "-count_frames", "-show_entries",
             "stream=codec_name,width,height,r_frame_rate,nb_read_frames,sample_rate,channels,"
             "bit_rate:format=duration",
             "-of", "default=noprint_wrappers=1", file.string()});
    std::map<std::string, std::string> fields;
    size_t at = 0;
    for (size_t end; (end = result.out.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string line = result.out.substr(at, end - at);
        const size_t equals = line.find('=');
        if (equals != std::string::npos)
            fields.emplace(line.substr(0, equals), line.substr(equals + 1));
    }
    return fields;
}

// The sound of a file decoded by ffmpeg as 16-bit samples.
std::string ffmpegSamples(const fs::path& file)
{
    return run("/usr/bin/env",
               {"ffmpeg", "-v", "error", "-i", file.string(), "-map", "0:a:0", "-f", "s16le", "-"})
        .out;
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

    // The CDAZ file of the last analysis, by its name in the analyze folder.
    std::string analysisName() const
    {
        for (const auto& entry : fs::directory_iterator(m_home.path() / "Analyze"))
            return entry.path().filename().string();
        return {};
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
        std::vector<std::string> args{"convert", movie(kSmall).string(), "--to", "wave",
                                      "--out",   ours.string()};
        args.insert(args.end(), format.begin(), format.end());
        const RunResult result = cli(args);
        ASSERT_EQ(result.status, kExitOk) << result.err;
        EXPECT_TRUE(result.err.empty()) << result.err;
        EXPECT_NE(result.out.find("-> " + ours.string()), std::string::npos) << result.out;
        const auto fields = probe(ours, "a:0");
        EXPECT_EQ(fields.at("codec_name"), format.empty() ? "pcm_s16le" : "pcm_u8");
        EXPECT_EQ(fields.at("sample_rate"), format.empty() ? "37800" : "44100");
        if (format.empty()) {
            EXPECT_TRUE(ffmpegSamples(ours) == samplesOf(ours)) << "ffmpeg reads the same samples";
        }
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
    ASSERT_EQ(cli({"convert", movie(kSmall).string(), "--to", "wave", "--out", file.string()}).status,
              kExitOk);
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

    // A title is a name inside the folder, whatever it holds; a stream given twice gets two names.
    const std::string cdaz = analysisName();
    result = cli({"cdaz", "edit", cdaz, "--stream", "1", "--name", "../escape"});
    ASSERT_EQ(result.status, kExitOk) << result.err;
    const fs::path inside = m_folder.path() / "inside";
    result = cli({"convert", discCue().string() + "#1", discCue().string() + "#1", "--to", "wave", "--out",
                  inside.string()});
    ASSERT_EQ(result.status, kExitOk) << result.err;
    EXPECT_EQ(entries(inside), (std::set<std::string>{"_escape.wav", "_escape (2).wav"}));
    EXPECT_EQ(entries(m_folder.path()),
              (std::set<std::string>{"file.wav", "scanned.wav", "titled", "inside"}));

    // --all: every listed stream by its title; a stream the user hides afterwards is left out.
    const fs::path all = m_folder.path() / "all", fewer = m_folder.path() / "fewer";
    result = cli({"convert", "--all", discCue().string(), "--to", "wave", "--out", all.string(), "--json"});
    ASSERT_EQ(result.status, kExitOk) << result.err;
    const size_t listed = parseJson(result).size();
    ASSERT_GE(listed, 2u);
    EXPECT_EQ(entries(all).size(), listed);
    EXPECT_TRUE(entries(all).count("_escape.wav"));
    EXPECT_TRUE(samplesOf(all / "STR0007.wav") == expected);
    ASSERT_EQ(cli({"cdaz", "edit", cdaz, "--hide", "1"}).status, kExitOk);
    result = cli({"convert", "--all", discCue().string(), "--to", "wave", "--out", fewer.string(), "--json"});
    ASSERT_EQ(result.status, kExitOk) << result.err;
    EXPECT_EQ(entries(fewer).size(), parseJson(result).size());
    EXPECT_FALSE(entries(fewer).count("_escape.wav"));
    EXPECT_TRUE(entries(fewer).count("STR0007.wav"));
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
        const std::string name = i < std::size(kMovies) ? stem + ".wav" : stem + " (2).wav";
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
    EXPECT_TRUE(samplesOf(folder / (fs::path(kMovies[0].file).stem().string() + " (2).wav")) ==
                samplesOf(folder / (fs::path(kMovies[0].file).stem().string() + ".wav")));
}

// An existing output: refused by default (1000) and when the answer to the question is No (1001,
// which it is without a terminal), replaced with --existing overwrite or its alias --force.
TEST_F(ConvertCommand, ExistingOutputsFollowThePolicy)
{
    const fs::path out = m_folder.path() / "kept.wav";
    struct Case
    {
        std::vector<std::string> policy;
        int result;
        const char* message;
    } refusals[] = {{{}, 1000, "already exists"},
                    {{"--existing", "fail"}, 1000, "already exists"},
                    {{"--existing", "ask"}, 1001, "canceled"}};
    writeFile(out, "earlier file");
    for (const Case& c : refusals) {
        SCOPED_TRACE(::testing::PrintToString(c.policy));
        std::vector<std::string> args{"convert", movie(kSmall).string(), "--to",  "wave",
                                      "--out",   out.string(),           "--json"};
        args.insert(args.end(), c.policy.begin(), c.policy.end());
        const RunResult result = cli(args);
        EXPECT_EQ(result.status, kExitFailure);
        const json refused = parseJson(result);
        ASSERT_EQ(refused.size(), 1u);
        EXPECT_EQ(refused[0]["result"], c.result);
        EXPECT_NE(refused[0]["message"].get<std::string>().find(c.message), std::string::npos) << refused;
        EXPECT_EQ(refused[0]["seconds"], 0);
        EXPECT_EQ(readFile(out), "earlier file");
    }
    for (const std::vector<std::string>& policy :
         std::vector<std::vector<std::string>>{{"--force"}, {"--existing", "overwrite"}}) {
        writeFile(out, "earlier file");
        std::vector<std::string> args{"convert",   movie(kSmall).string(), "--to", "wave", "--out",
                                      out.string()};
        args.insert(args.end(), policy.begin(), policy.end());
        const RunResult result = cli(args);
        ASSERT_EQ(result.status, kExitOk) << result.err;
        EXPECT_EQ(samplesOf(out).size(), size_t(kMovies[kSmall].soundSectors) * 18 * 448);
    }
    EXPECT_EQ(entries(m_folder.path()), std::set<std::string>{"kept.wav"});
}

// --all on a folder: every file a plugin identifies, in name order, named after it; other files
// are left out. A second run refuses every existing output and leaves it as it was.
TEST_F(ConvertCommand, AllStreamFilesOfAFolder)
{
    const fs::path movies = m_folder.path() / "movies", out = m_folder.path() / "sounds";
    fs::create_directories(movies);
    for (const size_t i : {kSmall, size_t(0)})
        fs::copy_file(movie(i), movies / kMovies[i].file);
    writeFile(movies / "notes.txt", "not a movie");
    RunResult result =
        cli({"convert", "--all", movies.string(), "--to", "wave", "--out", out.string(), "--json"});
    ASSERT_EQ(result.status, kExitOk) << result.err;
    json document = parseJson(result);
    ASSERT_EQ(document.size(), 2u);
    std::set<std::string> expected;
    for (size_t n = 0; n < 2; ++n) {
        const MovieFacts& facts = kMovies[n == 0 ? 0 : kSmall]; // mv1 sorts before mv4
        EXPECT_EQ(document[n]["source"], (movies / facts.file).string());
        EXPECT_EQ(document[n]["samples"], uint64_t(facts.soundSectors) * 18 * 448 / (2 * facts.channels));
        expected.insert(fs::path(facts.file).stem().string() + ".wav");
    }
    EXPECT_EQ(entries(out), expected);
    const std::string first = readFile(out / *expected.begin());

    result = cli({"convert", "--all", movies.string(), "--to", "wave", "--out", out.string(), "--json"});
    EXPECT_EQ(result.status, kExitFailure);
    document = parseJson(result);
    ASSERT_EQ(document.size(), 2u);
    EXPECT_EQ(document[0]["result"], 1000);
    EXPECT_EQ(document[1]["result"], 1000);
    EXPECT_TRUE(readFile(out / *expected.begin()) == first);

    // A folder without stream files is a failure that says so.
    const fs::path empty = m_folder.path() / "empty";
    fs::create_directories(empty);
    result = cli({"convert", "--all", empty.string(), "--to", "wave", "--out", out.string()});
    EXPECT_EQ(result.status, kExitFailure);
    EXPECT_NE(result.err.find("no stream file"), std::string::npos) << result.err;
}

// Bad sources fail on their own; the good ones are still converted, and the status says that
// not everything was done.
TEST_F(ConvertCommand, BadSourcesFailAlone)
{
    const fs::path text = m_folder.path() / "notes.txt";
    writeFile(text, "not a movie");
    const fs::path folder = m_folder.path() / "out";
    const RunResult result =
        cli({"convert", (m_folder.path() / "missing.str").string(), text.string(), movie(kSmall).string(),
             "--to", "wave", "--out", folder.string(), "--json"});
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
    EXPECT_EQ(entries(folder),
              std::set<std::string>{fs::path(kMovies[kSmall].file).stem().string() + ".wav"});

    // A path longer than the converters take is refused, not cut to another name.
    const fs::path deep = folder / std::string(250, 'd');
    fs::create_directories(deep);
    const RunResult tooLong =
        cli({"convert", movie(kSmall).string(), "--to", "wave", "--out", (deep / "x.wav").string()});
    EXPECT_EQ(tooLong.status, kExitFailure);
    EXPECT_NE(tooLong.err.find("longer than 259 bytes"), std::string::npos) << tooLong.err;
    EXPECT_TRUE(fs::is_empty(deep));
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
             {"convert", file, file, "--to", "wave", "--out", file}, // several sources into a file
             {"convert", discCue().string(), "--to", "wave", "--out", out},
             {"convert", file, "--to", "wave", "--out", out, "--existing", "maybe"},
             {"convert", file, "--to", "wave", "--out", out, "--force", "--existing", "fail"},
             {"convert", "--all", discCue().string() + "#1", "--to", "wave", "--out", out},
             {"convert", "--all", discCue().string(), "--stream", "1", "--to", "wave", "--out", out},
             {"convert", "--all", "--to", "wave", "--out", out},
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

// The AVI and MP3 converters of the library are checked through the command here; these run
// once the library has them (the build of the command alone refuses both conversions).
TEST_F(ConvertCommand, AviOfAMovieHasItsFramesAndItsSound)
{
    const fs::path avi = m_folder.path() / "movie.avi", wave = m_folder.path() / "movie.wav";
    const RunResult result =
        cli({"convert", movie(kSmall).string(), "--to", "avi", "--out", avi.string(), "--json"});
    ASSERT_EQ(result.status, kExitOk) << result.err;
    const json document = parseJson(result);
    EXPECT_EQ(document[0]["frames"], kMovies[kSmall].frames);
    EXPECT_EQ(document[0]["samples"], uint64_t(kMovies[kSmall].soundSectors) * 2016);
    const auto video = probe(avi, "v:0");
    EXPECT_EQ(video.at("codec_name"), "rawvideo");
    EXPECT_EQ(video.at("width"), std::to_string(kMovies[kSmall].width));
    EXPECT_EQ(video.at("height"), std::to_string(kMovies[kSmall].height));
    EXPECT_EQ(video.at("r_frame_rate"), "15/1");
    EXPECT_EQ(video.at("nb_read_frames"), std::to_string(kMovies[kSmall].frames));
    const auto sound = probe(avi, "a:0");
    EXPECT_EQ(sound.at("codec_name"), "pcm_s16le");
    EXPECT_EQ(sound.at("sample_rate"), "37800");
    // The same samples as the WAVE conversion of the stream.
    ASSERT_EQ(cli({"convert", movie(kSmall).string(), "--to", "wave", "--out", wave.string()}).status,
              kExitOk);
    EXPECT_TRUE(ffmpegSamples(avi) == samplesOf(wave));

    // A stream without pictures (the XA sound of the disc): refused before a file is made.
    const fs::path none = m_folder.path() / "none.avi";
    const RunResult sound5 = cli({"convert", discCue().string(), "--stream", "5", "--to", "avi", "--out",
                                  none.string(), "--no-progress"});
    EXPECT_EQ(sound5.status, kExitFailure);
    EXPECT_NE(sound5.err.find("(result 5)"), std::string::npos) << sound5.err;
    EXPECT_FALSE(fs::exists(none));
}

// A compact movie of a movie holds the same units (as the units command lists them) and converts
// on to the same AVI; a BMP takes the asked size.
TEST_F(ConvertCommand, CompactMovieAndPictureOfAMovie)
{
    const fs::path cstr = m_folder.path() / "movie.cstr", bmp = m_folder.path() / "movie.bmp";
    const fs::path fromSource = m_folder.path() / "source.avi", fromCstr = m_folder.path() / "cstr.avi";
    ASSERT_EQ(cli({"convert", movie(kSmall).string(), "--to", "cstr", "--out", cstr.string()}).status, kExitOk);
    // The listings past their first line, which names the file.
    const auto units = [&](const fs::path& file) {
        const std::string out = cli({"units", file.string()}).out;
        return out.substr(std::min(out.size(), out.find('\n')));
    };
    EXPECT_EQ(units(cstr), units(movie(kSmall)));
    ASSERT_EQ(cli({"convert", movie(kSmall).string(), "--to", "avi", "--out", fromSource.string()}).status,
              kExitOk);
    ASSERT_EQ(cli({"convert", cstr.string(), "--to", "avi", "--out", fromCstr.string()}).status, kExitOk);
    EXPECT_TRUE(readFile(fromSource) == readFile(fromCstr));
    ASSERT_EQ(cli({"convert", movie(kSmall).string(), "--to", "bmp", "--size", "160x120", "--out", bmp.string()})
                  .status,
              kExitOk);
    const auto picture = probe(bmp, "v:0");
    EXPECT_EQ(picture.at("width"), "160");
    EXPECT_EQ(picture.at("height"), "120");
}

TEST_F(ConvertCommand, Mp3OfAMovieAtTheAskedRateAndMode)
{
    void* lame = ::dlopen("libmp3lame.so.0", RTLD_NOW | RTLD_LOCAL);
    const bool encoder = lame != nullptr;
    if (lame)
        ::dlclose(lame);
    struct Case
    {
        std::vector<std::string> options;
        const char* channels;
        const char* bitRate; // empty: variable
    } cases[] = {{{"--kbps", "128"}, "2", "128000"},
                 {{"--kbps", "64", "--mode", "mono"}, "1", "64000"},
                 {{"--vbr", "4"}, "2", ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.options));
        const fs::path out = m_folder.path() / "movie.mp3";
        std::vector<std::string> args{"convert",   movie(kSmall).string(), "--to", "mp3", "--out",
                                      out.string()};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const RunResult result = cli(args);
        if (!encoder) {
            EXPECT_EQ(result.status, kExitFailure);
            EXPECT_NE(result.err.find("libmp3lame"), std::string::npos) << result.err;
            EXPECT_FALSE(fs::exists(out));
            continue;
        }
        ASSERT_EQ(result.status, kExitOk) << result.err;
        const auto sound = probe(out, "a:0");
        EXPECT_EQ(sound.at("codec_name"), "mp3");
        EXPECT_EQ(sound.at("sample_rate"), "44100");
        EXPECT_EQ(sound.at("channels"), c.channels);
        if (*c.bitRate) {
            EXPECT_EQ(sound.at("bit_rate"), c.bitRate);
        }
        // The stream's length within one MP3 frame (1152 samples) and the encoder's delay.
        EXPECT_NEAR(std::stod(sound.at("duration")), 112896.0 / 37800, 2 * 1152.0 / 44100);
        fs::remove(out);
    }
}

// The batch's one progress line: the item of the count, its percentage, the time since the start
// and the estimate once there is one.
TEST(ConversionProgress, ItemElapsedAndEstimatedTotal)
{
    struct Case
    {
        uint32_t number, count, percent, elapsedMs, estimate;
        const char* text;
    } cases[] = {
        {1, 1, 0, 0, 0, "[1/1] mv: 0%, 0:00"},
        {2, 5, 37, 12500, 90, "[2/5] mv: 37%, 0:12 of about 1:30"},
        {5, 5, 140, 61000, 3725, "[5/5] mv: 100%, 1:01 of about 1:02:05"}, // no more than done
    };
    for (const Case& c : cases)
        EXPECT_EQ(tamrin::cli::batchProgressText("mv", c.number, c.count, c.percent, c.elapsedMs, c.estimate),
                  c.text);
}

} // namespace
} // namespace clitest
