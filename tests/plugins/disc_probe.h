// Feeds a disc plugin's probe as the analysis does, for the plugin tests: every sector of each
// data track of a mounted disc, whole (2352 bytes; its 2048 user-data bytes from byte 24 to a
// plugin that asks for user data), numbered by its address, one call with a null
// sector at the end of each data track, then every result read back.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "discport/discport.h"
#include "streamkit/lbr.h"

namespace discprobe {

// The results of a probe, then its end. Each info is filled with 0xEE first, so that a field the
// plugin leaves alone shows.
inline std::vector<StrInfo> results(PluginBinding* binding, void* context)
{
    std::vector<StrInfo> found;
    const int32_t count = LbrIsSupportCDResult(binding, context, 0, nullptr);
    EXPECT_GE(count, 0);
    for (int32_t i = 0; i < count; ++i) {
        StrInfo info;
        std::memset(&info, 0xEE, sizeof info);
        EXPECT_EQ(LbrIsSupportCDResult(binding, context, i, &info), count);
        found.push_back(info);
    }
    LbrIsSupportCDEnd(binding, context);
    return found;
}

// How a probe is fed: every sector, each of which the plugin must take (its own format's tests),
// or as the analysis does, until the plugin answers 0 (any plugin, whatever the disc).
enum class Feed
{
    EverySector,
    UntilDone,
};

// The streams `binding` finds on `drive`. Without `closingCall` the null-sector calls are left
// out, so streams still open at the end are reported as they stand; a track the plugin gave up
// on gets no closing call either.
inline std::vector<StrInfo> probeDisc(PluginBinding* binding, int32_t drive, bool closingCall = true,
                                      Feed feed = Feed::EverySector)
{
    CdTocEntry toc[100] = {};
    const int32_t tracks = CdReadToc(drive, 100, toc);
    EXPECT_GT(tracks, 0);
    PsrPluginInfo plugin{};
    LbrGetPlugin(binding, &plugin, nullptr);
    const size_t dataOffset = (plugin.mediaFlags & MediaUserData) ? 24 : 0;
    void* context = LbrIsSupportCDBegin(binding, tracks, toc);
    EXPECT_NE(context, nullptr);
    if (!context)
        return {};
    for (int32_t t = 0; t < tracks; ++t) {
        const CdTocEntry& track = toc[t];
        if (!(track.control & CD_TOC_DATA_TRACK))
            continue;
        CdReadHandle* reader = CdReadOpen(drive, &track, track.start, track.length, -1);
        EXPECT_NE(reader, nullptr);
        if (!reader)
            continue;
        EXPECT_EQ(CdGetSectorSize(reader), 2352);
        bool interested = true;
        for (uint32_t i = 0; interested && i < track.length; ++i) {
            const uint8_t* sector = CdReadSector(reader, nullptr);
            EXPECT_NE(sector, nullptr) << "sector " << track.start + i;
            if (!sector)
                continue;
            const int32_t answer =
                LbrIsSupportCDSector(binding, context, track, track.start + i, sector + dataOffset);
            if (feed == Feed::EverySector) {
                EXPECT_EQ(answer, 1);
            } else {
                interested = answer != 0;
            }
            CdUnlockReadBuffer(reader, sector);
        }
        CdReadClose(reader);
        if (closingCall && interested) {
            const int32_t answer = LbrIsSupportCDSector(binding, context, track, 0, nullptr);
            if (feed == Feed::EverySector) {
                EXPECT_EQ(answer, 0);
            }
        }
    }
    return results(binding, context);
}

} // namespace discprobe
