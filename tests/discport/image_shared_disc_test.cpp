// The corpus disc (a CUE/BIN made by an independent disc image tool, kept in tests/data/disc): its
// TOC as its CUE sheet places the tracks, its volume descriptor, every sector as stored, and the
// library's sector synthesis against the sectors that tool wrote.
#include <gtest/gtest.h>

#include <filesystem>

#include "image/edc_ecc.h"
#include "image/image_transport.h"
#include "image_builder.h"

using namespace discport;
using namespace discport::imagetest;

namespace {

class SharedDisc : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        cue = std::string(TAMRIN_TEST_DATA) + "/disc/psxdisc_a.cue";
        ASSERT_TRUE(fs::is_regular_file(cue)) << cue << " is missing";
        std::string error;
        transport = openImageTransport(cue, error);
        ASSERT_TRUE(transport) << error;
        bin = readBytes((fs::path(cue).parent_path() / "psxdisc_a.bin").string());
        ASSERT_EQ(bin.size(), 2263 * kRaw);
    }

    std::string cue;
    std::vector<uint8_t> bin;
    std::shared_ptr<ImageTransport> transport;
};

} // namespace

TEST_F(SharedDisc, TocMatchesTheCueSheet)
{
    EXPECT_EQ(transport->sectorCount(), 2263u);
    const Reply leadOut = readToc(*transport, 0xAA, 12);
    ASSERT_TRUE(leadOut.result.good());
    EXPECT_EQ(leadOut.data,
              (std::vector<uint8_t>{0x00, 0x0A, 0x01, 0x02, 0x00, 0x10, 0xAA, 0x00, 0x00, 0x00, 0x08, 0xD7}));
    const Reply toc = readToc(*transport, 0, 816);
    ASSERT_TRUE(toc.result.good());
    const std::vector<uint8_t> expected = {
        0x00, 0x1A, 0x01, 0x02,                         //
        0x00, 0x14, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, // track 1 at 0
        0x00, 0x10, 0x02, 0x00, 0x00, 0x00, 0x07, 0xF6, // track 2 at 2038 (INDEX 01 00:27:13)
        0x00, 0x10, 0xAA, 0x00, 0x00, 0x00, 0x08, 0xD7, // lead-out 2263
    };
    EXPECT_EQ(slice(toc.data, 0, toc.result.transferred), expected);
}

TEST_F(SharedDisc, VolumeDescriptorAndTrackTypes)
{
    const Reply pvd = read10(*transport, 16, 1);
    ASSERT_TRUE(pvd.result.good());
    EXPECT_EQ(slice(pvd.data, 0, 6), (std::vector<uint8_t>{0x01, 'C', 'D', '0', '0', '1'}));
    EXPECT_EQ(std::string(pvd.data.begin() + 8, pvd.data.begin() + 19), "PLAYSTATION");
    const Reply raw = readCd(*transport, 16, 1);
    ASSERT_TRUE(raw.result.good());
    EXPECT_EQ(slice(raw.data, 24, kUser), pvd.data);

    // The track type test: track 1 is Mode 2, track 2 audio; neither passes as Mode 1.
    EXPECT_EQ(readCd(*transport, 0, 1, 0x08).result.status, 2);
    EXPECT_EQ(readCd(*transport, 2038, 1, 0x08).result.status, 2);
}

TEST_F(SharedDisc, EverySectorReadsAsStored)
{
    for (uint32_t lba = 0; lba < 2263; lba += 10) {
        const uint32_t count = std::min<uint32_t>(10, 2263 - lba);
        const Reply reply = readCd(*transport, lba, count);
        ASSERT_TRUE(reply.result.good()) << lba;
        ASSERT_TRUE(std::equal(reply.data.begin(), reply.data.end(), bin.begin() + long(lba * kRaw))) << lba;
    }
}

TEST_F(SharedDisc, SynthesisReproducesTheToolsSectors)
{
    // Every data sector of track 1 rebuilt from its sub-header and user data equals the stored one.
    int form1 = 0, form2 = 0;
    for (uint32_t lba = 0; lba < 1888; ++lba) {
        std::vector<uint8_t> stored = slice(bin, lba * kRaw, kRaw);
        std::vector<uint8_t> rebuilt = stored;
        std::fill(rebuilt.begin(), rebuilt.begin() + 16, 0);
        const bool isForm2 = stored[18] & 0x20;
        std::fill(rebuilt.begin() + (isForm2 ? 2348 : 2072), rebuilt.end(), 0);
        discport::image::completeMode2Sector(rebuilt.data(), lba);
        ASSERT_EQ(rebuilt, stored) << lba;
        (isForm2 ? form2 : form1)++;
    }
    EXPECT_GT(form1, 0);
    EXPECT_GT(form2, 0);
}
