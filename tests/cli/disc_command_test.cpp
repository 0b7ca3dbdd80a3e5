// drives, toc, volume and read on disc images built by the tests (and on the corpus disc of the
// shared test data when it is at hand): what they print, the files they write, clear failures.
#include <gtest/gtest.h>

#include <cstring>

#include "../discport/reader_test_image.h"
#include "cli_runner.h"

namespace clitest {
namespace {

using nlohmann::json;

class DiscCommands : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        disctest::VolumeFields fields;
        fields.volumeId = "CLI_DISC";
        fields.publisherId = "TAMRIN TESTS";
        disctest::makeTestDisc(m_disc, 300, 400, fields);
    }
    std::string cue() const { return m_disc.cue.string(); }

    disctest::TestDisc m_disc;
    TempFolder m_out;
};

TEST_F(DiscCommands, TocListsBothTracks)
{
    const RunResult result = runCli({"toc", "--json", cue()});
    ASSERT_EQ(result.status, kExitOk) << result.err;
    const json toc = parseJson(result);
    EXPECT_EQ(toc["source"], cue());
    EXPECT_EQ(toc["tracks"], 2);
    ASSERT_EQ(toc["entries"].size(), 2u);
    const json& data = toc["entries"][0];
    EXPECT_EQ(data["track"], 1);
    EXPECT_NE(data["control"].get<int>() & 0x04, 0) << "a data track";
    EXPECT_EQ(data["start"], 0);
    EXPECT_EQ(data["length"], 300) << "150 sectors short of track 2";
    const json& audio = toc["entries"][1];
    EXPECT_EQ(audio["track"], 2);
    EXPECT_EQ(audio["control"].get<int>() & 0x04, 0) << "an audio track";
    EXPECT_EQ(audio["start"], 450);
    EXPECT_EQ(audio["length"], 400);
}

TEST_F(DiscCommands, TocTextShowsOneLinePerTrack)
{
    const RunResult result = runCli({"toc", cue()});
    ASSERT_EQ(result.status, kExitOk) << result.err;
    EXPECT_NE(result.out.find("tracks 2\n"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("    1  0x"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("450       400       audio"), std::string::npos) << result.out;
}

TEST_F(DiscCommands, VolumeNamesEveryFieldOfTheRecord)
{
    const RunResult result = runCli({"volume", "--json", cue()});
    ASSERT_EQ(result.status, kExitOk) << result.err;
    const auto document = nlohmann::ordered_json::parse(result.out);
    const auto& volume = document["volume"];
    std::vector<std::string> keys;
    for (const auto& item : volume.items())
        keys.push_back(item.key());
    const std::vector<std::string> expected{
        "systemId",       "volumeId",      "volumeSpaceSize",    "volumeSetSize",  "volumeSequenceNumber",
        "pathTableSize",  "pathTableL",    "optionalPathTableL", "volumeSetId",    "publisherId",
        "dataPreparerId", "applicationId", "copyrightFileId",    "abstractFileId", "bibliographicFileId"};
    EXPECT_EQ(keys, expected);
    EXPECT_EQ(volume["systemId"], "PLAYSTATION");
    EXPECT_EQ(volume["volumeId"], "CLI_DISC");
    EXPECT_EQ(volume["publisherId"], "TAMRIN TESTS") << "trailing blanks gone, inner ones kept";
    EXPECT_EQ(volume["volumeSpaceSize"], 300);
    EXPECT_EQ(volume["pathTableL"], 18);
}

TEST_F(DiscCommands, VolumeTextShowsTheFieldsByName)
{
    const RunResult result = runCli({"volume", cue()});
    ASSERT_EQ(result.status, kExitOk) << result.err;
    EXPECT_NE(result.out.find("systemId              PLAYSTATION\n"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("volumeId              CLI_DISC\n"), std::string::npos) << result.out;
}

TEST_F(DiscCommands, AudioDiscIsAnAudioCd)
{
    disctest::TestDisc audio;
    disctest::makeTestDisc(audio, 0, 300);
    const RunResult result = runCli({"volume", "--json", audio.cue.string()});
    ASSERT_EQ(result.status, kExitOk) << result.err;
    const json volume = parseJson(result)["volume"];
    EXPECT_EQ(volume["volumeId"], "Audio-CD");
    EXPECT_EQ(volume["systemId"], "");
    EXPECT_EQ(volume["volumeSpaceSize"], 0);
}

TEST_F(DiscCommands, ReadWritesTheRawSectorsOfTheImage)
{
    const fs::path out = m_out.path() / "sectors.bin";
    const RunResult result = runCli({"read", cue(), "--lba", "10", "--count", "250", "--out", out.string()});
    ASSERT_EQ(result.status, kExitOk) << result.err;
    const std::string bytes = readFile(out);
    ASSERT_EQ(bytes.size(), 250u * disctest::kRaw);
    EXPECT_EQ(std::memcmp(bytes.data(), m_disc.raw(10), bytes.size()), 0);
    EXPECT_NE(result.out.find("wrote 250 sectors of 2352 bytes"), std::string::npos) << result.out;
}

TEST_F(DiscCommands, ReadUserDataOfTheDescriptor)
{
    const fs::path out = m_out.path() / "pvd.bin";
    const RunResult result =
        runCli({"read", cue(), "--lba", "16", "--count", "3", "--user", "--json", "--out", out.string()});
    ASSERT_EQ(result.status, kExitOk) << result.err;
    const json report = parseJson(result);
    EXPECT_EQ(report["sectorSize"], 2048);
    EXPECT_EQ(report["lba"], 16);
    EXPECT_EQ(report["count"], 3);
    EXPECT_TRUE(report["badSectors"].empty());
    const std::string bytes = readFile(out);
    ASSERT_EQ(bytes.size(), 3u * 2048);
    EXPECT_EQ(bytes.substr(0, 6), std::string("\x01"
                                              "CD001"));
    for (uint32_t i = 0; i < 3; ++i)
        EXPECT_EQ(std::memcmp(bytes.data() + i * 2048, m_disc.user(16 + i), 2048), 0) << 16 + i;
}

TEST_F(DiscCommands, ReadOfTheAudioTrack)
{
    const fs::path out = m_out.path() / "audio.bin";
    const RunResult result = runCli({"read", cue(), "--lba", "450", "--count", "400", "--out", out.string()});
    ASSERT_EQ(result.status, kExitOk) << result.err;
    const std::string bytes = readFile(out);
    ASSERT_EQ(bytes.size(), 400u * disctest::kRaw);
    EXPECT_EQ(std::memcmp(bytes.data(), m_disc.raw(450), bytes.size()), 0);
}

TEST_F(DiscCommands, ReadPastTheDiscReportsTheBadSectorsAndFillsZeros)
{
    // The disc ends with sector 849: sectors 850 and 851 lie beyond it, no drive reads them.
    const fs::path out = m_out.path() / "end.bin";
    const RunResult result =
        runCli({"read", cue(), "--lba", "846", "--count", "6", "--json", "--out", out.string()});
    EXPECT_EQ(result.status, kExitFailure);
    EXPECT_EQ(parseJson(result)["badSectors"], json::array({850, 851}));
    EXPECT_NE(result.err.find("sector 850 could not be read"), std::string::npos) << result.err;
    const std::string bytes = readFile(out);
    ASSERT_EQ(bytes.size(), 6u * disctest::kRaw);
    EXPECT_EQ(std::memcmp(bytes.data(), m_disc.raw(846), 4 * disctest::kRaw), 0);
    EXPECT_EQ(bytes.substr(4 * disctest::kRaw), std::string(2 * disctest::kRaw, '\0'));
}

TEST_F(DiscCommands, ReadBetweenTracksIsRefusedWithoutAFile)
{
    const fs::path out = m_out.path() / "gap.bin";
    const RunResult result = runCli({"read", cue(), "--lba", "320", "--count", "1", "--out", out.string()});
    EXPECT_EQ(result.status, kExitFailure);
    EXPECT_NE(result.err.find("sector 320 lies in no track"), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(out));
    EXPECT_TRUE(fs::is_empty(m_out.path())) << "no temporary file left behind";
}

TEST_F(DiscCommands, ReadIntoAMissingFolderFailsClearly)
{
    const fs::path out = m_out.path() / "missing" / "x.bin";
    const RunResult result = runCli({"read", cue(), "--lba", "0", "--count", "1", "--out", out.string()});
    EXPECT_EQ(result.status, kExitFailure);
    EXPECT_NE(result.err.find("cannot create a file"), std::string::npos) << result.err;
}

TEST_F(DiscCommands, ReadNeedsACountAndAnOutputFile)
{
    EXPECT_EQ(runCli({"read", cue(), "--lba", "0", "--count", "0", "--out", "x"}).status, kExitUsage);
    EXPECT_EQ(runCli({"read", cue(), "--lba", "0", "--count", "1"}).status, kExitUsage);
    EXPECT_EQ(runCli({"read", cue(), "--count", "1", "--out", "x"}).status, kExitUsage);
}

TEST_F(DiscCommands, DrivesListsAMountedImage)
{
    const RunResult result = runCli({"drives", "--json", cue()});
    ASSERT_EQ(result.status, kExitOk) << result.err;
    const json list = parseJson(result);
    ASSERT_FALSE(list.empty());
    const json& image = list.back();
    EXPECT_EQ(image["index"], list.size() - 1) << "images come after the devices";
    EXPECT_EQ(image["interface"], "image");
    EXPECT_EQ(image["address"], "0:0:0");
    EXPECT_EQ(image["vendor"].get<std::string>().size(), 8u) << "INQUIRY text as sent, blanks kept";
    EXPECT_EQ(image["product"].get<std::string>().size(), 16u);
    EXPECT_EQ(image["revision"].get<std::string>().size(), 4u);
    const uint32_t word = image["capabilities"].get<uint32_t>();
    EXPECT_EQ(word & 0x00300000u, 0x00300000u) << "reads Mode 2 Form 1 and Form 2";
}

TEST_F(DiscCommands, DrivesWithoutImagesListsOnlyDevices)
{
    const RunResult result = runCli({"drives", "--json"});
    ASSERT_EQ(result.status, kExitOk) << result.err;
    for (const json& drive : parseJson(result))
        EXPECT_NE(drive["interface"], "image");
}

TEST_F(DiscCommands, UnknownDrivesAndUnusableFilesAreClearFailures)
{
    RunResult result = runCli({"toc", "25"});
    EXPECT_EQ(result.status, kExitFailure);
    EXPECT_NE(result.err.find("25: no such drive"), std::string::npos) << result.err;
    result = runCli({"volume", "no-such-disc.cue"});
    EXPECT_EQ(result.status, kExitFailure);
    EXPECT_NE(result.err.find("no such file, and not a drive number"), std::string::npos) << result.err;
    const fs::path junk = m_out.path() / "junk.cue";
    writeFile(junk, "TRACK 01 NONSENSE\n");
    result = runCli({"toc", junk.string()});
    EXPECT_EQ(result.status, kExitFailure);
    EXPECT_NE(result.err.find(junk.string() + ": "), std::string::npos) << result.err;
    result = runCli({"drives", junk.string()});
    EXPECT_EQ(result.status, kExitFailure);
}

// The corpus disc of the shared test data, when it is at hand.
fs::path corpusCue()
{
    for (const fs::path& candidate :
         {dataDir() / "disc" / "psxdisc_a.cue",
          dataDir() / ".." / ".." / ".." / "shared" / "testdata" / "disc" / "psxdisc_a.cue"}) {
        std::error_code error;
        if (fs::exists(candidate, error))
            return candidate;
    }
    return {};
}

TEST(DiscCommandsOnCorpus, TocVolumeAndDescriptorSector)
{
    const fs::path cue = corpusCue();
    if (cue.empty())
        GTEST_SKIP() << "psxdisc_a.cue is not at hand";
    RunResult result = runCli({"toc", "--json", cue.string()});
    ASSERT_EQ(result.status, kExitOk) << result.err;
    const json toc = parseJson(result);
    EXPECT_EQ(toc["tracks"], 2);
    EXPECT_EQ(toc["entries"][0]["start"], 0);
    EXPECT_EQ(toc["entries"][0]["length"], 1888);
    EXPECT_EQ(toc["entries"][1]["start"], 2038);
    EXPECT_EQ(toc["entries"][1]["length"], 225);

    result = runCli({"volume", "--json", cue.string()});
    ASSERT_EQ(result.status, kExitOk) << result.err;
    const json volume = parseJson(result)["volume"];
    EXPECT_EQ(volume["systemId"], "PLAYSTATION");
    EXPECT_EQ(volume["volumeId"], "CORPUS_A");
    EXPECT_EQ(volume["volumeSpaceSize"], 2263);

    TempFolder folder;
    const fs::path out = folder.path() / "pvd.bin";
    result = runCli({"read", cue.string(), "--lba", "16", "--count", "1", "--user", "--out", out.string()});
    ASSERT_EQ(result.status, kExitOk) << result.err;
    const std::string bytes = readFile(out);
    ASSERT_EQ(bytes.size(), 2048u);
    EXPECT_EQ(bytes.substr(0, 6), std::string("\x01"
                                              "CD001"));
}

} // namespace
} // namespace clitest
