// The CDAZ record: the comb sort, the normalisation (hidden plugins, sorting, kind, overlaps by
// priority, counts), the check after a load against the installed plugins, and adoption.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "cdaz_test_records.h"

using namespace tamlib;
using cdaztest::addStream;
using cdaztest::makeRecord;
using cdaztest::streamInfo;

namespace {

constexpr uint8_t kHidden = PLB_CDAZ_STREAM_HIDDEN;

InstalledPlugin installedPlugin(const char* file, uint16_t version)
{
    InstalledPlugin plugin;
    plugin.file = file;
    plugin.name = std::string("name of ") + file;
    plugin.version = version;
    plugin.author = "installed author";
    plugin.address = "http://installed.invalid/";
    return plugin;
}

} // namespace

TEST(CdazCombSort, SortsAnyOrderOfAnyLength)
{
    std::mt19937 random(7);
    for (size_t count : {0u, 1u, 2u, 3u, 15u, 16u, 17u, 100u, 1000u}) {
        std::vector<int> values(count);
        for (int& v : values)
            v = int(random() % 50) - 25;
        std::vector<int> sorted = values;
        std::sort(sorted.begin(), sorted.end());
        combSort(values.data(), values.size(), [](int a, int b) { return a < b; });
        EXPECT_EQ(sorted, values) << count;
    }
}

TEST(CdazNormalize, SortsBySignedStartAndMarksStreamsWithoutKind)
{
    auto record = makeRecord({"A.PSR"});
    addStream(*record, streamInfo(StrAudio, 500, 10), 0);
    addStream(*record, streamInfo(0x10, 100, 10), 0);             // timed only: no content kind
    addStream(*record, streamInfo(StrVideo, 0xFFFFFF00u, 10), 0); // negative as a signed start
    cdazNormalize(*record);
    ASSERT_EQ(3, record->streamCount);
    EXPECT_EQ(0xFFFFFF00u, record->streams[0].info.startSector);
    EXPECT_EQ(100u, record->streams[1].info.startSector);
    EXPECT_EQ(500u, record->streams[2].info.startSector);
    EXPECT_EQ(PLB_CDAZ_STREAM_NO_KIND, record->streams[1].streamFlags);
    EXPECT_EQ(0, record->streams[0].streamFlags);
    EXPECT_EQ(0, record->dirty);
    EXPECT_EQ(2, record->validStreams);     // the stream without kind is not valid ...
    EXPECT_EQ(3, record->effectiveStreams); // ... but still effective
}

TEST(CdazNormalize, OverlapHidesTheStreamOfTheLowerPriorityPlugin)
{
    auto record = makeRecord({"HIGH.PSR", "LOW.PSR"});
    addStream(*record, streamInfo(StrVideo, 100, 50), 1); // low priority first on the disc
    addStream(*record, streamInfo(StrVideo, 120, 50), 0);
    addStream(*record, streamInfo(StrAudio, 300, 10), 1); // alone
    cdazNormalize(*record);
    EXPECT_EQ(kHidden, record->streams[0].streamFlags);
    EXPECT_EQ(0, record->streams[1].streamFlags);
    EXPECT_EQ(0, record->streams[2].streamFlags);
    EXPECT_EQ(2, record->validStreams);
    EXPECT_EQ(2, record->effectiveStreams);

    // The other way round: the later stream belongs to the lower priority.
    auto second = makeRecord({"HIGH.PSR", "LOW.PSR"});
    addStream(*second, streamInfo(StrVideo, 100, 50), 0);
    addStream(*second, streamInfo(StrVideo, 149, 5), 1);
    addStream(*second, streamInfo(StrVideo, 150, 5), 1); // touches the end: no overlap
    cdazNormalize(*second);
    EXPECT_EQ(0, second->streams[0].streamFlags);
    EXPECT_EQ(kHidden, second->streams[1].streamFlags);
    EXPECT_EQ(0, second->streams[2].streamFlags);
}

TEST(CdazNormalize, HiddenCurrentStreamHandsTheWalkToTheWinner)
{
    // A (low) overlaps B (high): A hidden, B becomes the current stream and hides C (low), which
    // overlaps B but not A.
    auto record = makeRecord({"HIGH.PSR", "LOW.PSR"});
    addStream(*record, streamInfo(StrVideo, 100, 20), 1);
    addStream(*record, streamInfo(StrVideo, 110, 100), 0);
    addStream(*record, streamInfo(StrVideo, 150, 10), 1);
    cdazNormalize(*record);
    EXPECT_EQ(kHidden, record->streams[0].streamFlags);
    EXPECT_EQ(0, record->streams[1].streamFlags);
    EXPECT_EQ(kHidden, record->streams[2].streamFlags);
    EXPECT_EQ(1, record->validStreams);
}

TEST(CdazNormalize, StreamsOfOnePluginMayOverlap)
{
    auto record = makeRecord({"A.PSR"});
    addStream(*record, streamInfo(StrVideo, 100, 50), 0);
    addStream(*record, streamInfo(StrAudio, 100, 50), 0);
    cdazNormalize(*record);
    EXPECT_EQ(0, record->streams[0].streamFlags);
    EXPECT_EQ(0, record->streams[1].streamFlags);
    EXPECT_EQ(2, record->validStreams);
}

TEST(CdazNormalize, UserHiddenAndMarkedStreamsTakeNoPart)
{
    auto record = makeRecord({"HIGH.PSR", "LOW.PSR"});
    addStream(*record, streamInfo(StrVideo, 100, 50), 0, nullptr, PLB_CDAZ_STREAM_USER_HIDDEN);
    addStream(*record, streamInfo(StrVideo, 110, 50), 1, nullptr,
              PLB_CDAZ_STREAM_USER1 | PLB_CDAZ_STREAM_USER2);
    addStream(*record, streamInfo(StrVideo, 120, 50), 0, nullptr, PLB_CDAZ_STREAM_NO_PLUGIN);
    addStream(*record, streamInfo(StrVideo, 130, 50), 0, nullptr, StrMusic); // flag 0x08 keeps it out
    cdazNormalize(*record);
    EXPECT_EQ(PLB_CDAZ_STREAM_USER_HIDDEN, record->streams[0].streamFlags);
    EXPECT_EQ(PLB_CDAZ_STREAM_USER1 | PLB_CDAZ_STREAM_USER2, record->streams[1].streamFlags);
    EXPECT_EQ(PLB_CDAZ_STREAM_NO_PLUGIN, record->streams[2].streamFlags);
    EXPECT_EQ(0x08, record->streams[3].streamFlags);
    EXPECT_EQ(3, record->effectiveStreams); // 0x10 and 0x08 still count as effective
    EXPECT_EQ(2, record->validStreams);
}

TEST(CdazNormalize, KeepOverlapsSkipsTheWalkAndTheCounts)
{
    auto record = makeRecord({"HIGH.PSR", "LOW.PSR"});
    addStream(*record, streamInfo(StrVideo, 120, 50), 0);
    addStream(*record, streamInfo(StrVideo, 100, 50), 1);
    record->cdazFlags = PLB_CDAZ_KEEP_OVERLAPS;
    record->effectiveStreams = 77;
    record->validStreams = 66;
    cdazNormalize(*record);
    EXPECT_EQ(100u, record->streams[0].info.startSector); // still sorted
    EXPECT_EQ(0, record->streams[0].streamFlags);
    EXPECT_EQ(0, record->streams[1].streamFlags);
    EXPECT_EQ(77, record->effectiveStreams);
    EXPECT_EQ(66, record->validStreams);
}

TEST(CdazNormalize, PluginOffHidesItsStreamsAndLetsTheirRivalsShow)
{
    auto record = makeRecord({"HIGH.PSR", "LOW.PSR"});
    addStream(*record, streamInfo(StrVideo, 100, 50), 0);
    addStream(*record, streamInfo(StrVideo, 110, 50), 1);
    cdazNormalize(*record);
    EXPECT_EQ(kHidden, record->streams[1].streamFlags);
    record->plugins[0].pluginFlags = PLB_CDAZ_PLUGIN_OFF;
    cdazNormalize(*record);
    EXPECT_EQ(kHidden, record->streams[0].streamFlags);
    EXPECT_EQ(0, record->streams[1].streamFlags);
    record->plugins[0].pluginFlags = 0;
    cdazNormalize(*record);
    EXPECT_EQ(0, record->streams[0].streamFlags);
    EXPECT_EQ(kHidden, record->streams[1].streamFlags);
}

TEST(CdazPostLoadCheck, MarksMissingPluginsOnlyWhenTheyHaveContent)
{
    auto record = makeRecord({"GONE.PSR", "EMPTY.PSR", "HERE.PSR"});
    addStream(*record, streamInfo(StrVideo, 100, 10), 0);
    addStream(*record, streamInfo(0x10, 200, 10), 1); // no content kind
    addStream(*record, streamInfo(StrAudio, 300, 10), 2, nullptr, 0xFF);
    const std::vector<InstalledPlugin> installed = {installedPlugin("HERE.PSR", 102)};
    const uint32_t status = cdazPostLoadCheck(*record, installed);
    EXPECT_EQ(PLB_CDAZ_LOAD_NO_PLUGIN, status);
    EXPECT_EQ(PLB_CDAZ_STREAM_NO_PLUGIN, record->streams[0].streamFlags);
    EXPECT_EQ(PLB_CDAZ_STREAM_NO_KIND, record->streams[1].streamFlags);
    EXPECT_EQ(0x07, record->streams[2].streamFlags); // only the user bits survive
    EXPECT_EQ(100u + 101u + 102u, record->pluginVersionSum);
    EXPECT_EQ(0, record->validStreams);
    EXPECT_EQ(2, record->effectiveStreams); // missing plugin and missing kind still count here
}

TEST(CdazPostLoadCheck, DurationZeroForcesReanalysisAndBlocksAdoption)
{
    auto record = makeRecord({"A.PSR"});
    addStream(*record, streamInfo(StrVideo, 100, 10, 0), 0);
    addStream(*record, streamInfo(StrVideo, 200, 10, 5000), 0);
    const std::vector<InstalledPlugin> installed = {installedPlugin("A.PSR", 100)};
    const uint32_t status = cdazPostLoadCheck(*record, installed);
    EXPECT_EQ(PLB_CDAZ_LOAD_REANALYZE, status);
    EXPECT_EQ(PLB_CDAZ_STREAM_REANALYZE, record->streams[0].streamFlags);
    EXPECT_EQ(0, record->streams[1].streamFlags);
    EXPECT_EQ(1, record->validStreams);
    record->loadStatus = status;
    EXPECT_FALSE(cdazAdoptable(record.get()));
    record->loadStatus = 0;
    EXPECT_TRUE(cdazAdoptable(record.get()));
}

TEST(CdazPostLoadCheck, PluginsAreLookedUpByExactFileName)
{
    auto record = makeRecord({"a.psr"});
    addStream(*record, streamInfo(StrVideo, 100, 10), 0);
    const std::vector<InstalledPlugin> installed = {installedPlugin("A.PSR", 100)};
    EXPECT_EQ(PLB_CDAZ_LOAD_NO_PLUGIN, cdazPostLoadCheck(*record, installed));
    EXPECT_EQ(PLB_CDAZ_STREAM_NO_PLUGIN, record->streams[0].streamFlags);
}

TEST(CdazAdoptable, NeedsACompleteAnalysisAndAValidStream)
{
    EXPECT_FALSE(cdazAdoptable(nullptr));
    auto record = makeRecord({"A.PSR"});
    addStream(*record, streamInfo(StrVideo, 100, 10), 0);
    cdazNormalize(*record);
    record->anaSector = -1;
    EXPECT_TRUE(cdazAdoptable(record.get()));
    record->anaSector = 4000; // stopped there
    EXPECT_FALSE(cdazAdoptable(record.get()));
    record->anaSector = -1;
    record->loadStatus = PLB_CDAZ_LOAD_NO_PLUGIN | PLB_CDAZ_LOAD_OTHER_FOLDER; // these do not matter
    EXPECT_TRUE(cdazAdoptable(record.get()));
    record->streams[0].streamFlags = PLB_CDAZ_STREAM_USER_HIDDEN;
    cdazNormalize(*record);
    EXPECT_FALSE(cdazAdoptable(record.get()));
}

TEST(CdazPostLoadCheck, EntriesOlderThanTheInstalledSecondVersionAreAnalysedAgain)
{
    auto record = makeRecord({"OLD.PSR", "NEW.PSR"}); // versions 100 and 101
    addStream(*record, streamInfo(StrVideo, 100, 10), 0);
    addStream(*record, streamInfo(StrVideo, 200, 10), 1);
    std::vector<InstalledPlugin> installed = {installedPlugin("OLD.PSR", 150),
                                              installedPlugin("NEW.PSR", 150)};
    installed[0].subVersion = 101;
    installed[1].subVersion = 101;
    EXPECT_EQ(PLB_CDAZ_LOAD_REANALYZE, cdazPostLoadCheck(*record, installed));
    EXPECT_EQ(PLB_CDAZ_STREAM_REANALYZE, record->streams[0].streamFlags);
    EXPECT_EQ(0, record->streams[1].streamFlags);
    EXPECT_EQ(1, record->validStreams);
}
