// The disc scan on images built by the tests, with probe plugins that report every call they
// got: which sectors each plugin sees and in what form, when it leaves a track or the scan, the
// closing call at the end of every data track, stopping, and unreadable sectors.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "../plugins/disc_builder.h"
#include "discport/discport.h"
#include "long_disc.h"
#include "tamlib/sector_loop.h"

namespace {

namespace fs = std::filesystem;
using namespace tamlib::scan;

constexpr char kRaw[] = "ScanProbeRaw.psr";
constexpr char kUser[] = "ScanProbeUser.psr";
constexpr char kBoth[] = "ScanProbeBoth.psr";
constexpr char kLeave[] = "ScanProbeLeave.psr"; // raw, leaves every track at its third sector
constexpr uint32_t kLeaveAfter = 3;

uint32_t firstWord(const uint8_t* bytes)
{
    uint32_t word = 0;
    std::memcpy(&word, bytes, 4);
    return word;
}

// The image mounted as a drive for the test.
class Mounted
{
  public:
    explicit Mounted(const std::string& path) : m_drive(CdMountImage(path.c_str())) {}
    ~Mounted()
    {
        if (m_drive >= 0)
            CdUnmountImage(m_drive);
    }
    int32_t drive() const { return m_drive; }

  private:
    int32_t m_drive;
};

const PluginScan& pluginNamed(const ScanResult& result, const std::string& file)
{
    for (const PluginScan& plugin : result.plugins)
        if (plugin.file == file)
            return plugin;
    static const PluginScan none;
    ADD_FAILURE() << file << " is not in the result";
    return none;
}

// The sector calls of a probe's report (the closing calls left out).
std::vector<StrInfo> sectorCalls(const PluginScan& plugin)
{
    std::vector<StrInfo> calls;
    for (const StrInfo& call : plugin.streams)
        if (call.reserved == 0)
            calls.push_back(call);
    return calls;
}

std::vector<StrInfo> closingCalls(const PluginScan& plugin)
{
    std::vector<StrInfo> calls;
    for (const StrInfo& call : plugin.streams)
        if (call.reserved == 1)
            calls.push_back(call);
    return calls;
}

class DiscScan : public ::testing::Test
{
  protected:
    // A data track of `dataSectors` foreign sectors, then `audioTracks` audio tracks of 80.
    void build(uint32_t dataSectors, uint32_t audioTracks)
    {
        discbuild::DiscBuilder builder;
        builder.addForeign(dataSectors, 7);
        for (uint32_t t = 0; t < audioTracks; ++t)
            builder.addAudioTrack(80);
        m_image = builder.write();
        ASSERT_NE(m_image, nullptr);
        m_mounted = std::make_unique<Mounted>(m_image->cue);
        ASSERT_GE(m_mounted->drive(), 0) << CdImageError();
    }

    ScanResult scan(const std::vector<std::string>& plugins, const ScanCallbacks& callbacks = {})
    {
        return scanDisc(m_mounted->drive(), plugins, callbacks, m_stop);
    }

    std::unique_ptr<discbuild::Image> m_image;
    std::unique_ptr<Mounted> m_mounted;
    std::atomic<bool> m_stop{false};
};

TEST_F(DiscScan, EverySectorOfTheDataTrackInOrderWithItsAddress)
{
    build(40, 2);
    std::vector<uint64_t> progress;
    ScanCallbacks callbacks;
    callbacks.progress = [&](uint64_t done, uint64_t total) {
        progress.push_back(done);
        EXPECT_EQ(total, 40u + 2 * 80) << "the sum of the track lengths";
    };
    const ScanResult result = scan({kRaw}, callbacks);
    ASSERT_TRUE(result.tocRead);
    EXPECT_EQ(result.tracks.size(), 3u);
    EXPECT_EQ(result.stopPoint, -1);
    EXPECT_EQ(result.sectorsRead, 40u);
    EXPECT_EQ(result.sectorsFailed, 0u);

    const PluginScan& raw = pluginNamed(result, kRaw);
    EXPECT_EQ(raw.outcome, PluginOutcome::Scanned);
    EXPECT_EQ(raw.name, "Scan probe");
    const std::vector<StrInfo> calls = sectorCalls(raw);
    ASSERT_EQ(calls.size(), 40u);
    for (uint32_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].startSector, i);
        EXPECT_EQ(calls[i].width, 1u) << "the data track's entry";
        EXPECT_EQ(calls[i].sectorCount, firstWord(m_image->raw(i))) << "the whole raw sector, from its sync";
    }
    EXPECT_EQ(calls[0].sectorCount, 0xFFFFFF00u);

    // The audio tracks are not read: progress jumps over them, to the disc's total at the end.
    ASSERT_EQ(progress.size(), 41u);
    for (uint32_t i = 0; i < 40; ++i)
        EXPECT_EQ(progress[i], i + 1);
    EXPECT_EQ(progress.back(), 40u + 2 * 80);
}

// On 2352-byte sectors a plugin must take raw sectors; one that takes user data too gets the
// bytes after the sub-header.
TEST_F(DiscScan, RawTracksEndUserDataOnlyPlugins)
{
    build(12, 0);
    const ScanResult result = scan({kUser, kBoth, kRaw});
    ASSERT_EQ(result.plugins.size(), 3u);
    EXPECT_EQ(result.plugins[0].file, kUser) << "results in the order the plugins were chosen";
    EXPECT_EQ(result.plugins[2].file, kRaw);
    const PluginScan& user = pluginNamed(result, kUser);
    EXPECT_EQ(user.outcome, PluginOutcome::WrongSectorSize);
    EXPECT_EQ(user.endedSectorSize, 2352u);
    EXPECT_TRUE(user.streams.empty()) << "ended before the first sector; it reports nothing";

    const std::vector<StrInfo> both = sectorCalls(pluginNamed(result, kBoth));
    ASSERT_EQ(both.size(), 12u);
    for (uint32_t i = 0; i < both.size(); ++i)
        EXPECT_EQ(both[i].sectorCount, firstWord(m_image->raw(i) + 24)) << "sector " << i;
    const std::vector<StrInfo> raw = sectorCalls(pluginNamed(result, kRaw));
    ASSERT_EQ(raw.size(), 12u);
    EXPECT_EQ(raw[5].sectorCount, firstWord(m_image->raw(5)));
}

TEST_F(DiscScan, EachDataTrackEndsWithOneClosingCall)
{
    build(20, 2);
    const ScanResult result = scan({kRaw, kLeave});
    for (const char* file : {kRaw, kLeave}) {
        const PluginScan& plugin = pluginNamed(result, file);
        const std::vector<StrInfo> closing = closingCalls(plugin);
        ASSERT_EQ(closing.size(), 1u) << file << ": the data track only, not the audio tracks";
        EXPECT_EQ(closing[0].width, 1u);
        EXPECT_EQ(closing[0].height, plugin.streams.size()) << file << ": the last call";
    }
}

TEST_F(DiscScan, PluginsThatLeaveATrackSeeNoMoreOfIt)
{
    build(30, 0);
    {
        const ScanResult result = scan({kLeave});
        EXPECT_EQ(sectorCalls(pluginNamed(result, kLeave)).size(), kLeaveAfter);
        EXPECT_EQ(result.sectorsRead, kLeaveAfter) << "once every plugin has left, the track is not read on";
        EXPECT_EQ(result.stopPoint, -1) << "leaving a track is no stop";
    }
    {
        const ScanResult result = scan({kLeave, kRaw});
        EXPECT_EQ(sectorCalls(pluginNamed(result, kLeave)).size(), kLeaveAfter);
        EXPECT_EQ(sectorCalls(pluginNamed(result, kRaw)).size(), 30u);
        EXPECT_EQ(result.sectorsRead, 30u);
    }
}

// A disc that reaches 80 minutes is read as 2048-byte user data: plugins that take only raw
// sectors leave the scan before its first sector; the others get the user data.
TEST_F(DiscScan, LongDiscsEndTheRawSectorPlugins)
{
    clitest::LongDisc disc;
    ASSERT_TRUE(disc.write(25));
    Mounted mounted(disc.cue);
    ASSERT_GE(mounted.drive(), 0) << CdImageError();
    const ScanResult result = scanDisc(mounted.drive(), {kRaw, kUser, kLeave, kBoth}, {}, m_stop);
    ASSERT_EQ(result.tracks.size(), 2u);
    EXPECT_EQ(result.tracks[1].start, disc.dataStart);
    const PluginScan& raw = pluginNamed(result, kRaw);
    EXPECT_EQ(raw.outcome, PluginOutcome::WrongSectorSize);
    EXPECT_EQ(raw.endedSectorSize, 2048u);
    EXPECT_TRUE(raw.streams.empty());
    EXPECT_EQ(pluginNamed(result, kLeave).outcome, PluginOutcome::WrongSectorSize);

    for (const char* file : {kUser, kBoth}) {
        const PluginScan& plugin = pluginNamed(result, file);
        EXPECT_EQ(plugin.outcome, PluginOutcome::Scanned) << file;
        const std::vector<StrInfo> calls = sectorCalls(plugin);
        ASSERT_EQ(calls.size(), 25u) << file;
        for (uint32_t i = 0; i < calls.size(); ++i) {
            EXPECT_EQ(calls[i].startSector, disc.dataStart + i) << "the sector's own address";
            EXPECT_EQ(calls[i].sectorCount, firstWord(disc.dataSector(i).data() + 24))
                << file << " sector " << i;
        }
        EXPECT_EQ(closingCalls(plugin).size(), 1u);
    }
    EXPECT_EQ(result.stopPoint, -1);
}

TEST_F(DiscScan, StopKeepsWhatWasFoundAndTellsWhereItStopped)
{
    build(50, 1);
    ScanCallbacks callbacks;
    callbacks.progress = [&](uint64_t done, uint64_t) {
        if (done == 17)
            m_stop = true;
    };
    const ScanResult result = scan({kRaw}, callbacks);
    EXPECT_EQ(result.stopPoint, 17);
    EXPECT_EQ(result.sectorsRead, 17u);
    const PluginScan& raw = pluginNamed(result, kRaw);
    EXPECT_EQ(sectorCalls(raw).size(), 17u);
    EXPECT_EQ(closingCalls(raw).size(), 1u) << "a stopped track is closed too";
}

TEST_F(DiscScan, StoppedBeforeTheFirstSector)
{
    build(10, 0);
    m_stop = true;
    const ScanResult result = scan({kRaw});
    EXPECT_EQ(result.stopPoint, 0);
    EXPECT_EQ(result.sectorsRead, 0u);
    EXPECT_TRUE(sectorCalls(pluginNamed(result, kRaw)).empty());
}

TEST_F(DiscScan, PluginsThatCannotTakePartAreReportedAndTheOthersGoOn)
{
    build(8, 0);
    const ScanResult result = scan({"NoSuchPlugin.psr", "Trackaudio.psr", kRaw});
    EXPECT_EQ(pluginNamed(result, "NoSuchPlugin.psr").outcome, PluginOutcome::NotBound);
    EXPECT_EQ(pluginNamed(result, "Trackaudio.psr").outcome, PluginOutcome::NoProbe)
        << "no audio track: nothing for it on this disc";
    EXPECT_EQ(sectorCalls(pluginNamed(result, kRaw)).size(), 8u);
}

TEST_F(DiscScan, NoTableOfContentsNoScan)
{
    const ScanResult result = scanDisc(CD_MAX_DRIVES + 5, {kRaw}, {}, m_stop);
    EXPECT_FALSE(result.tocRead);
    EXPECT_TRUE(result.plugins.empty() || result.plugins[0].streams.empty());
}

// The last sectors of the data track cut off the file after mounting: they fail to read.
class UnreadableSectors : public DiscScan
{
  protected:
    void SetUp() override
    {
        build(30, 0);
        fs::resize_file(m_image->bin, uintmax_t(27) * discbuild::kRaw);
    }
    std::vector<std::pair<uint32_t, uint32_t>> m_asked; // (lba, attempt)
};

TEST_F(UnreadableSectors, IgnoredOnceForARunOfFailures)
{
    ScanCallbacks callbacks;
    callbacks.readError = [&](uint32_t lba, uint32_t attempt) {
        m_asked.emplace_back(lba, attempt);
        return ReadErrorAnswer::Ignore;
    };
    const ScanResult result = scan({kRaw}, callbacks);
    ASSERT_EQ(m_asked.size(), 1u) << "not asked again until a sector is read";
    EXPECT_EQ(m_asked[0], std::make_pair(27u, 1u));
    EXPECT_EQ(result.sectorsRead, 27u);
    EXPECT_EQ(result.sectorsFailed, 3u);
    EXPECT_EQ(result.stopPoint, -1);
    EXPECT_EQ(sectorCalls(pluginNamed(result, kRaw)).size(), 27u);
}

TEST_F(UnreadableSectors, AbortStopsAfterTheLastSectorRead)
{
    ScanCallbacks callbacks;
    callbacks.readError = [&](uint32_t lba, uint32_t attempt) {
        m_asked.emplace_back(lba, attempt);
        return ReadErrorAnswer::Abort;
    };
    const ScanResult result = scan({kRaw}, callbacks);
    ASSERT_EQ(m_asked.size(), 1u);
    EXPECT_EQ(result.stopPoint, 27);
    EXPECT_EQ(result.sectorsFailed, 1u);
    EXPECT_EQ(closingCalls(pluginNamed(result, kRaw)).size(), 1u);
}

TEST_F(UnreadableSectors, RetryReadsTheSameSectorAgain)
{
    ScanCallbacks callbacks;
    callbacks.readError = [&](uint32_t lba, uint32_t attempt) {
        m_asked.emplace_back(lba, attempt);
        return attempt < 3 ? ReadErrorAnswer::Retry : ReadErrorAnswer::Ignore;
    };
    const ScanResult result = scan({kRaw}, callbacks);
    const std::vector<std::pair<uint32_t, uint32_t>> expected{{27, 1}, {27, 2}, {27, 3}};
    EXPECT_EQ(m_asked, expected);
    EXPECT_EQ(result.sectorsFailed, 5u) << "three reads of sector 27, then 28 and 29 once each";
    EXPECT_EQ(result.sectorsRead, 27u);
    const std::vector<StrInfo> calls = sectorCalls(pluginNamed(result, kRaw));
    ASSERT_EQ(calls.size(), 27u);
    EXPECT_EQ(calls.back().startSector, 26u);
}

} // namespace
