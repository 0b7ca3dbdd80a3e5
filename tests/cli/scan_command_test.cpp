// scan, and frames / audio / units on disc streams, on images built by the tests: a data track
// with a test movie's sectors and XA sound, and two CD audio tracks. What the scan lists, in
// which order and with which fields; that a listed stream plays back as the same pictures and
// samples; clear failures for wrong arguments.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "../plugins/disc_builder.h"
#include "cli_runner.h"
#include "long_disc.h"
#include "streamkit/psr.h"
#include "wave_data.h"

namespace clitest {
namespace {

using nlohmann::json;

constexpr char kMovie[] = "mv4_v3_160x112_15fps_x1_xa37800s.str";
constexpr char kXa[] = "xa2_18900_mono.xa";
constexpr uint32_t kGap = 40;
constexpr uint32_t kXaChannel = 3;
constexpr uint32_t kAudioTrack1 = 100;
constexpr uint32_t kAudioTrack2 = 37;

bool pluginInstalled(const std::string& file)
{
    return fs::exists(outDir() / "PsrPlugins" / file);
}

// The streams of a scan --json that a plugin reported, in list order.
std::vector<json> streamsOf(const json& scan, const std::string& plugin)
{
    std::vector<json> list;
    for (const json& stream : scan["streams"])
        if (stream["plugin"] == plugin)
            list.push_back(stream);
    return list;
}

class ScanCommand : public ::testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        discbuild::DiscBuilder builder;
        const std::vector<discbuild::Sector> movie = discbuild::loadMovie(kMovie);
        ASSERT_EQ(movie.size(), 224u);
        builder.add(movie);
        builder.addForeign(kGap, 3);
        const std::vector<discbuild::Sector> sound = discbuild::soundSectors(discbuild::loadXa(kXa));
        ASSERT_EQ(sound.size(), 15u);
        s_xaStart = builder.next();
        builder.placeSound(sound, 1, kXaChannel, s_xaStart, 1, true);
        builder.addForeign(10, 4);
        builder.addAudioTrack(kAudioTrack1);
        builder.addAudioTrack(kAudioTrack2);
        s_image = builder.write().release();
        ASSERT_NE(s_image, nullptr);
    }
    static void TearDownTestSuite()
    {
        delete s_image;
        s_image = nullptr;
    }

    static std::string cue() { return s_image->cue; }

    json scanJson(std::vector<std::string> extra = {})
    {
        std::vector<std::string> args{"scan", "--json", "--no-progress", cue()};
        args.insert(args.end(), extra.begin(), extra.end());
        const RunResult result = runCli(args);
        EXPECT_EQ(result.status, kExitOk) << result.err;
        return parseJson(result);
    }

    // The number scan gives the stream of `plugin` that starts at `start`; 0 when none does.
    uint32_t streamNumber(const json& scan, const std::string& plugin, uint32_t start)
    {
        for (const json& stream : streamsOf(scan, plugin))
            if (stream["startSector"] == start)
                return stream["number"];
        return 0;
    }

    static discbuild::Image* s_image;
    static uint32_t s_xaStart;
    TempFolder m_out;
};

discbuild::Image* ScanCommand::s_image = nullptr;
uint32_t ScanCommand::s_xaStart = 0;

TEST_F(ScanCommand, ListsEachAudioTrackAsACdAudioStream)
{
    const json scan = scanJson();
    EXPECT_EQ(scan["source"], cue());
    EXPECT_EQ(scan["complete"], true);
    EXPECT_EQ(scan["stopPoint"], -1);
    EXPECT_EQ(scan["sectorsRead"], s_image->dataSectors) << "every sector of the data track";
    EXPECT_EQ(scan["sectorsFailed"], 0);
    const std::vector<json> tracks = streamsOf(scan, "TRACKAUDIO.PSR");
    ASSERT_EQ(tracks.size(), 2u);
    EXPECT_EQ(tracks[0]["startSector"], s_image->audioStart[0]);
    EXPECT_EQ(tracks[0]["sectorCount"], kAudioTrack1);
    EXPECT_EQ(tracks[1]["startSector"], s_image->audioStart[1]);
    EXPECT_EQ(tracks[1]["sectorCount"], kAudioTrack2);
    for (const json& track : tracks) {
        EXPECT_EQ(track["kind"], StrAudio);
        EXPECT_EQ(track["sampleRate"], 44100);
        EXPECT_EQ(track["channels"], 2);
    }
    EXPECT_EQ(tracks[1]["durationMs"], kAudioTrack2 * 1000 / 75);

    // Numbered from 1 in list order, without gaps.
    for (size_t i = 0; i < scan["streams"].size(); ++i)
        EXPECT_EQ(scan["streams"][i]["number"], i + 1);
}

TEST_F(ScanCommand, FindsTheMovieAndTheXaSound)
{
    if (!pluginInstalled("Discmovie.psr") || !pluginInstalled("Discvoice.psr"))
        GTEST_SKIP() << "the movie and XA disc plugins are not built";
    const json scan = scanJson();
    const std::vector<json> movies = streamsOf(scan, "DISCMOVIE.PSR");
    ASSERT_EQ(movies.size(), 1u);
    EXPECT_EQ(movies[0]["startSector"], 0) << "the movie's first sector, a sound sector, is the movie's";
    EXPECT_EQ(movies[0]["sectorCount"], 224);
    EXPECT_EQ(movies[0]["frameCount"], 45);
    EXPECT_EQ(movies[0]["width"], 160);
    EXPECT_EQ(movies[0]["height"], 112);
    EXPECT_EQ(movies[0]["kind"].get<int>() & (StrVideo | StrAudio), StrVideo | StrAudio);

    const std::vector<json> voices = streamsOf(scan, "DISCVOICE.PSR");
    ASSERT_EQ(voices.size(), 2u);
    EXPECT_EQ(voices[0]["startSector"], 0) << "the movie's own sound channel";
    EXPECT_EQ(voices[0]["sectorCount"], 4 * 55 + 1);
    EXPECT_EQ(voices[0]["sampleRate"], 37800);
    EXPECT_EQ(voices[1]["startSector"], s_xaStart);
    EXPECT_EQ(voices[1]["sectorCount"], 15);
    EXPECT_EQ(voices[1]["sampleRate"], 18900);
    EXPECT_EQ(voices[1]["channels"], 1);
}

TEST_F(ScanCommand, JsonNamesEveryFieldOfEachStream)
{
    const RunResult result = runCli({"scan", "--json", "--no-progress", cue()});
    ASSERT_EQ(result.status, kExitOk) << result.err;
    const auto document = nlohmann::ordered_json::parse(result.out);
    std::vector<std::string> top;
    for (const auto& item : document.items())
        top.push_back(item.key());
    EXPECT_EQ(top, (std::vector<std::string>{"source", "drive", "complete", "stopPoint", "sectorsRead",
                                             "sectorsFailed", "plugins", "streams"}));
    ASSERT_FALSE(document["streams"].empty());
    std::vector<std::string> keys;
    for (const auto& item : document["streams"][0].items())
        keys.push_back(item.key());
    const std::vector<std::string> expected{
        "number",     "plugin",        "kind",       "reserved",  "startSector", "sectorCount",
        "durationMs", "frameCount",    "width",      "height",    "frameRate",   "audioFormat",
        "channels",   "bitsPerSample", "sampleRate", "dataBytes", "outWidth",    "outHeight"};
    EXPECT_EQ(keys, expected);
    for (const auto& plugin : document["plugins"]) {
        EXPECT_TRUE(plugin.contains("file") && plugin.contains("name") && plugin.contains("outcome"));
        if (plugin["file"] == "TRACKAUDIO.PSR") {
            EXPECT_EQ(plugin["name"], "CD-DA");
            EXPECT_EQ(plugin["outcome"], "scanned");
            EXPECT_EQ(plugin["streams"], 2);
        }
    }
}

TEST_F(ScanCommand, TextListsOneLinePerStream)
{
    const RunResult result = runCli({"scan", "--no-progress", cue()});
    ASSERT_EQ(result.status, kExitOk) << result.err;
    const json scan = scanJson();
    const size_t streams = scan["streams"].size();
    EXPECT_NE(result.out.find("scan complete, " + std::to_string(s_image->dataSectors) + " sectors read, " +
                              std::to_string(streams) + " streams"),
              std::string::npos)
        << result.out;
    EXPECT_EQ(size_t(std::count(result.out.begin(), result.out.end(), '\n')), streams + 2) << result.out;
    const std::string audioLine = std::to_string(s_image->audioStart[1]);
    EXPECT_NE(result.out.find("TRACKAUDIO.PSR  0x02 audio"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find(audioLine), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("44100 Hz 2 ch 16 bit"), std::string::npos) << result.out;
    EXPECT_TRUE(result.err.empty()) << result.err;
}

TEST_F(ScanCommand, PluginsAreAskedAndListedInTheOrderGiven)
{
    if (!pluginInstalled("Discvoice.psr"))
        GTEST_SKIP() << "the XA disc plugin is not built";
    // Names in any case: as printed, as on disk, or in lower case.
    const json scan = scanJson({"--plugins", "TRACKAUDIO.PSR,discvoice.psr"});
    ASSERT_EQ(scan["plugins"].size(), 2u);
    EXPECT_EQ(scan["plugins"][0]["file"], "TRACKAUDIO.PSR");
    EXPECT_EQ(scan["plugins"][1]["file"], "DISCVOICE.PSR");
    const json& streams = scan["streams"];
    ASSERT_GE(streams.size(), 3u);
    EXPECT_EQ(streams[0]["plugin"], "TRACKAUDIO.PSR");
    EXPECT_EQ(streams[1]["plugin"], "TRACKAUDIO.PSR");
    EXPECT_EQ(streams[2]["plugin"], "DISCVOICE.PSR");
    EXPECT_TRUE(streamsOf(scan, "DISCMOVIE.PSR").empty()) << "a plugin left out of --plugins";

    const json only = scanJson({"--plugins", "TRACKAUDIO.PSR"});
    EXPECT_EQ(only["streams"].size(), 2u);
    EXPECT_EQ(only["sectorsRead"], 1) << "the CD audio plugin leaves the data track at its first sector, "
                                         "and it is not read on";
}

TEST_F(ScanCommand, WrongPluginsAndDisksFailClearly)
{
    RunResult r = runCli({"scan", "--no-progress", cue(), "--plugins", "Nothere.psr"});
    EXPECT_EQ(r.status, kExitFailure);
    EXPECT_NE(r.err.find("Nothere.psr: no such plugin"), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());

    if (filmfileBuilt()) {
        r = runCli({"scan", "--no-progress", cue(), "--plugins", "FILMFILE.PSR"});
        EXPECT_EQ(r.status, kExitFailure);
        EXPECT_NE(r.err.find("FILMFILE.PSR: this plugin does not read discs"), std::string::npos) << r.err;
    }
    r = runCli({"scan", "--no-progress", cue(), "--plugins", "TRACKAUDIO.PSR,trackaudio.psr"});
    EXPECT_EQ(r.status, kExitFailure);
    EXPECT_NE(r.err.find("named more than once"), std::string::npos) << r.err;

    r = runCli({"scan", (m_out.path() / "missing.cue").string()});
    EXPECT_EQ(r.status, kExitFailure);
    EXPECT_NE(r.err.find("no such file, and not a drive number"), std::string::npos) << r.err;

    r = runCli({"scan", "17"});
    EXPECT_EQ(r.status, kExitFailure);
    EXPECT_NE(r.err.find("17: no such drive"), std::string::npos) << r.err;

    writeFile(m_out.path() / "junk.cue", "this is no cue sheet\n");
    r = runCli({"scan", (m_out.path() / "junk.cue").string()});
    EXPECT_EQ(r.status, kExitFailure);
    EXPECT_FALSE(r.err.empty());

    r = runCli({"scan", cue(), "--on-error", "sometimes"});
    EXPECT_EQ(r.status, kExitUsage);
    r = runCli({"scan", cue(), "--on-error", "retry", "--retries", "0"});
    EXPECT_EQ(r.status, kExitUsage);
}

TEST_F(ScanCommand, LongDiscsAreReadAsUserDataWhichTheRawPluginsDoNotTake)
{
    LongDisc disc;
    ASSERT_TRUE(disc.write(30));
    const RunResult r = runCli({"scan", "--json", "--no-progress", disc.cue});
    EXPECT_EQ(r.status, kExitOk) << r.err;
    const json scan = parseJson(r);
    // The game movie plugins take only discs of a single data track: they decline this one at once.
    // The plugins that look at user data scan it.
    const std::set<std::string> singleTrack = {"EMBERFILM.PSR", "TIDEFILM.PSR", "BRIARFILM.PSR"};
    std::set<std::string> userData;
    for (const json& plugin : parseJson(runCli({"plugins", "--json"})))
        if (plugin.value("mediaFlags", 0) & MediaUserData)
            userData.insert(plugin["file"].get<std::string>());
    for (const json& plugin : scan["plugins"])
        EXPECT_EQ(plugin["outcome"], singleTrack.count(plugin["file"]) ? "nothingToScan"
                                     : userData.count(plugin["file"])  ? "scanned"
                                                                       : "wrongSectorSize")
            << plugin.dump();
    EXPECT_EQ(scan["sectorsRead"], userData.empty() ? 0 : 30);
    EXPECT_NE(r.err.find("TRACKAUDIO.PSR: does not take 2048-byte sectors"), std::string::npos) << r.err;
}

TEST_F(ScanCommand, PlainIsoImagesAreScannedAsRawSectors)
{
    const fs::path iso = m_out.path() / "plain.iso";
    writeFile(iso, std::string(size_t(60) * 2048, '\x5A'));
    const RunResult r = runCli({"scan", "--json", "--no-progress", iso.string()});
    EXPECT_EQ(r.status, kExitOk) << r.err;
    const json scan = parseJson(r);
    EXPECT_EQ(scan["sectorsRead"], 60);
    for (const json& plugin : scan["plugins"]) {
        if (plugin["file"] == "TRACKAUDIO.PSR")
            EXPECT_EQ(plugin["outcome"], "nothingToScan") << "no audio track";
        else
            EXPECT_EQ(plugin["outcome"], "scanned") << plugin.dump();
    }
    EXPECT_TRUE(scan["streams"].empty());
}

TEST_F(ScanCommand, AudioOfACdAudioStreamIsTheImageBytes)
{
    const json scan = scanJson();
    const uint32_t number = streamNumber(scan, "TRACKAUDIO.PSR", s_image->audioStart[1]);
    ASSERT_NE(number, 0u);
    const fs::path out = m_out.path() / "track.wav";
    const RunResult r =
        runCli({"audio", cue(), "--stream", std::to_string(number), "--out", out.string(), "--no-progress"});
    ASSERT_EQ(r.status, kExitOk) << r.err;
    const auto wave = parseWave(readFile(out));
    ASSERT_TRUE(wave);
    EXPECT_EQ(wave->sampleRate, 44100u);
    EXPECT_EQ(wave->channels, 2);
    EXPECT_EQ(wave->bits, 16);
    const std::string expected(reinterpret_cast<const char*>(s_image->raw(s_image->audioStart[1])),
                               size_t(kAudioTrack2) * discbuild::kRaw);
    EXPECT_TRUE(wave->samples == expected) << "the samples are the track's bytes";
    EXPECT_NE(r.out.find(cue() + " stream " + std::to_string(number) + ":"), std::string::npos) << r.out;
}

TEST_F(ScanCommand, UnitsOfAnAreaDescribedByAPlugin)
{
    const uint32_t start = s_image->audioStart[0] + 3;
    const RunResult r = runCli({"units", "--json", cue(), "--plugin", "TRACKAUDIO.PSR", "--start",
                                std::to_string(start), "--sectors", "10"});
    ASSERT_EQ(r.status, kExitOk) << r.err;
    const json units = parseJson(r);
    EXPECT_EQ(units["plugin"], "TRACKAUDIO.PSR");
    EXPECT_EQ(units["info"]["startSector"], start);
    EXPECT_EQ(units["info"]["sectorCount"], 10);
    ASSERT_EQ(units["units"].size(), 3u) << "four sectors a unit: 4 + 4 + 2";
    const uint32_t sizes[] = {4, 4, 2};
    uint32_t lba = start;
    for (size_t i = 0; i < 3; ++i) {
        const json& unit = units["units"][i];
        EXPECT_EQ(unit["payloadBytes"], sizes[i] * discbuild::kRaw);
        const uint32_t crc =
            uint32_t(::crc32(::crc32(0, nullptr, 0), s_image->raw(lba), sizes[i] * discbuild::kRaw));
        char text[16];
        std::snprintf(text, sizeof text, "%08x", crc);
        EXPECT_EQ(unit["crc32"], text) << "unit " << i;
        lba += sizes[i];
    }
}

TEST_F(ScanCommand, FramesOfAListedMovieAreThoseOfTheMovieFile)
{
    if (!pluginInstalled("Discmovie.psr") || !filmfileBuilt())
        GTEST_SKIP() << "the disc movie plugin or the movie file plugin is not built";
    const json scan = scanJson();
    const uint32_t number = streamNumber(scan, "DISCMOVIE.PSR", 0);
    ASSERT_NE(number, 0u);
    const RunResult disc =
        runCli({"frames", cue(), "--stream", std::to_string(number), "--crc", "--no-progress"});
    ASSERT_EQ(disc.status, kExitOk) << disc.err;
    const RunResult file =
        runCli({"frames", (dataDir() / "movies" / kMovie).string(), "--crc", "--no-progress"});
    ASSERT_EQ(file.status, kExitOk) << file.err;
    EXPECT_EQ(std::count(disc.out.begin(), disc.out.end(), '\n'), 45 + 1);
    EXPECT_EQ(crcLines(disc.out), crcLines(file.out));
    EXPECT_FALSE(crcLines(disc.out).empty());

    // The same area named by hand.
    const json movie = streamsOf(scan, "DISCMOVIE.PSR")[0];
    const RunResult area =
        runCli({"frames", cue(), "--plugin", "DISCMOVIE.PSR", "--start", "0", "--sectors",
                std::to_string(movie["sectorCount"].get<uint32_t>()), "--crc", "--no-progress"});
    ASSERT_EQ(area.status, kExitOk) << area.err;
    EXPECT_EQ(crcLines(area.out), crcLines(file.out));

    // Pictures of two streams of one disc go into one folder side by side, none replaced.
    TempFolder out;
    for (const std::vector<std::string>& choice :
         {std::vector<std::string>{"--stream", std::to_string(number)},
          {"--plugin", "discmovie.psr", "--start", "1", "--sectors",
           std::to_string(movie["sectorCount"].get<uint32_t>())}}) {
        std::vector<std::string> args{"frames",        cue(),   "--count",          "2",
                                      "--no-progress", "--out", out.path().string()};
        args.insert(args.end(), choice.begin(), choice.end());
        const RunResult r = runCli(args);
        ASSERT_EQ(r.status, kExitOk) << r.err;
    }
    std::vector<std::string> pictures;
    for (const auto& entry : fs::directory_iterator(out.path()))
        pictures.push_back(entry.path().filename().string());
    EXPECT_EQ(pictures.size(), 4u) << ::testing::PrintToString(pictures);
}

TEST_F(ScanCommand, DiscStreamChoicesThatCannotWork)
{
    const std::string image = cue();
    // A disc needs a stream choice; --start needs a plugin and a length; --stream stands alone.
    RunResult r = runCli({"frames", image, "--null"});
    EXPECT_EQ(r.status, kExitUsage);
    EXPECT_NE(r.err.find("is a disc: choose a stream with --stream K"), std::string::npos) << r.err;
    r = runCli({"units", image, "--start", "5", "--sectors", "3"});
    EXPECT_EQ(r.status, kExitUsage);
    EXPECT_NE(r.err.find("--start needs --plugin NAME and --sectors N"), std::string::npos) << r.err;
    r = runCli({"audio", image, "--plugin", "TRACKAUDIO.PSR", "--start", "5", "--crc"});
    EXPECT_EQ(r.status, kExitUsage);
    r = runCli({"audio", image, "--stream", "1", "--plugin", "TRACKAUDIO.PSR", "--crc"});
    EXPECT_EQ(r.status, kExitUsage);
    EXPECT_NE(r.err.find("--stream takes the plugin and the area from the scan"), std::string::npos) << r.err;
    r = runCli({"units", image, "--sectors", "3"});
    EXPECT_EQ(r.status, kExitUsage);
    r = runCli({"units", image, "--stream", "0"});
    EXPECT_EQ(r.status, kExitUsage);
    r = runCli({"units", image, "--plugin", "TRACKAUDIO.PSR", "--start", "4294967295", "--sectors", "2"});
    EXPECT_EQ(r.status, kExitUsage);

    // Choices that are well formed but name nothing.
    r = runCli({"audio", image, "--stream", "99", "--crc", "--no-progress"});
    EXPECT_EQ(r.status, kExitFailure);
    EXPECT_NE(r.err.find("there is no stream 99"), std::string::npos) << r.err;
    if (pluginInstalled("Discmovie.psr")) {
        r = runCli({"frames", image, "--plugin", "DISCMOVIE.PSR", "--start",
                    std::to_string(s_image->audioStart[0]), "--sectors", "20", "--null"});
        EXPECT_EQ(r.status, kExitFailure);
        EXPECT_NE(r.err.find("DISCMOVIE.PSR finds no stream in sectors"), std::string::npos) << r.err;
    }
    r = runCli({"units", image, "--plugin", "NOTHERE.PSR", "--start", "0", "--sectors", "2"});
    EXPECT_EQ(r.status, kExitFailure);
    EXPECT_NE(r.err.find("NOTHERE.PSR: no such plugin"), std::string::npos) << r.err;
    r = runCli({"frames", image, "--plugin", "TRACKAUDIO.PSR", "--start",
                std::to_string(s_image->audioStart[0]), "--sectors", "20", "--null"});
    EXPECT_EQ(r.status, kExitFailure);
    EXPECT_NE(r.err.find("finds no pictures in this stream"), std::string::npos) << r.err;
    r = runCli({"units", "12", "--stream", "1"});
    EXPECT_EQ(r.status, kExitFailure);
    EXPECT_NE(r.err.find("no such drive"), std::string::npos) << r.err;
}

} // namespace
} // namespace clitest
