// The sector reader without a worker, as disc images' data tracks are read: the same sectors and
// failures as the worker gives, sectors the caller holds stay untouched while later ones are read,
// a step back over the end of a read, a caller that holds a sector of every slot.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "image/image_transport.h"
#include "reader.h"
#include "reader_test_image.h"

namespace discport {
namespace {

using disctest::kRaw;
using disctest::kUser;

constexpr uint32_t kDataSectors = 700;

class DirectReader : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        disctest::makeTestDisc(m_disc, kDataSectors, 20);
        std::string error;
        m_image = openImageTransport(m_disc.cue.string(), error);
        ASSERT_NE(m_image, nullptr) << error;
    }

    CdReadHandle* open(uint32_t first, uint32_t count, uint32_t size)
    {
        ReaderSetup setup;
        setup.transport = m_image;
        setup.range = {TrackKind::Data, first, count, size};
        setup.direct = true;
        return openReader(setup);
    }

    // Reads the next sector by address and checks it against the image.
    void expectNext(CdReadHandle* reader, uint32_t lba, bool release = true)
    {
        const uint8_t* sector = CdReadSector(reader, nullptr);
        ASSERT_NE(sector, nullptr) << lba;
        ASSERT_EQ(std::memcmp(sector, m_disc.raw(lba), kRaw), 0) << lba;
        if (release) {
            EXPECT_EQ(CdUnlockReadBuffer(reader, sector), 1) << lba;
        }
    }

    disctest::TestDisc m_disc;
    std::shared_ptr<ImageTransport> m_image;
};

TEST_F(DirectReader, EverySectorEqualsTheImageRawAndAsUserData)
{
    CdReadHandle* reader = open(0, kDataSectors, kRaw);
    ASSERT_NE(reader, nullptr);
    for (uint32_t lba = 0; lba < kDataSectors; ++lba)
        expectNext(reader, lba);
    EXPECT_EQ(CdReadSector(reader, nullptr), nullptr);
    EXPECT_EQ(CdReadClose(reader), 1);

    // An odd start and length: reads end at the range's end, not at a block's.
    reader = open(13, 457, kUser);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(CdGetSectorSize(reader), 2048);
    uint8_t copy[kUser];
    for (uint32_t lba = 13; lba < 470; ++lba) {
        ASSERT_NE(CdReadSector(reader, copy), nullptr) << lba;
        ASSERT_EQ(std::memcmp(copy, m_disc.user(lba), kUser), 0) << lba;
    }
    EXPECT_EQ(CdReadSector(reader, copy), nullptr);
    EXPECT_EQ(CdReadClose(reader), 1);
}

TEST_F(DirectReader, FailuresAreHandledAsTheWorkerHandlesThem)
{
    m_image->failSector(42, 1000); // never reads
    m_image->failSector(43, 1000);
    m_image->failSector(427, 1000);
    m_image->failSector(155, 3); // reads in the end: the run, then its block twice more, fail
    CdReadHandle* reader = open(0, 500, kRaw);
    ASSERT_NE(reader, nullptr);
    std::vector<uint32_t> bad;
    for (uint32_t lba = 0; lba < 500; ++lba) {
        const uint8_t* sector = CdReadSector(reader, nullptr);
        if (!sector) {
            bad.push_back(lba);
            continue;
        }
        ASSERT_EQ(std::memcmp(sector, m_disc.raw(lba), kRaw), 0) << lba;
        CdUnlockReadBuffer(reader, sector);
    }
    EXPECT_EQ(bad, (std::vector<uint32_t>{42, 43, 427}));

    // Repositioning onto a bad sector reads its block again (and it still fails).
    EXPECT_EQ(CdSetReadPointer(reader, 40, 0), 40);
    expectNext(reader, 40);
    expectNext(reader, 41);
    EXPECT_EQ(CdReadSector(reader, nullptr), nullptr);
    EXPECT_EQ(CdReadClose(reader), 1);
}

TEST_F(DirectReader, HeldSectorsStayIntactWhileLaterOnesAreRead)
{
    CdReadHandle* reader = open(0, kDataSectors, kRaw);
    ASSERT_NE(reader, nullptr);
    struct Held
    {
        uint32_t lba;
        const uint8_t* sector;
    };
    std::vector<Held> held;
    for (uint32_t lba = 0; lba < kDataSectors; ++lba) {
        const uint8_t* sector = CdReadSector(reader, nullptr);
        ASSERT_NE(sector, nullptr) << lba;
        if (lba % 97 == 5)
            held.push_back({lba, sector});
        else
            CdUnlockReadBuffer(reader, sector);
    }
    ASSERT_EQ(held.size(), 8u);
    for (const Held& h : held) {
        EXPECT_EQ(std::memcmp(h.sector, m_disc.raw(h.lba), kRaw), 0) << h.lba;
        EXPECT_EQ(CdUnlockReadBuffer(reader, h.sector), 1);
    }
    EXPECT_EQ(CdReadClose(reader), 1);
}

TEST_F(DirectReader, StepBackOverTheStartOfARead)
{
    CdReadHandle* reader = open(0, kDataSectors, kRaw);
    ASSERT_NE(reader, nullptr);
    // Well past the first read (of at most 255 sectors) and the second.
    for (uint32_t lba = 0; lba < 600; ++lba)
        expectNext(reader, lba);
    for (const uint32_t back : {599u, 250u, 0u, 1u, 255u, 120u}) {
        CdSetReadPointer(reader, int32_t(back), 0);
        expectNext(reader, back);
        expectNext(reader, back + 1);
        CdSetReadPointer(reader, -2, 1);
        expectNext(reader, back);
    }
    EXPECT_EQ(CdReadClose(reader), 1);
}

TEST_F(DirectReader, CallerHoldingEverySlotGetsNullUntilItLetsGo)
{
    CdReadHandle* reader = open(0, kDataSectors, kRaw);
    ASSERT_NE(reader, nullptr);
    // The first sector of each block held: every slot holds one after 30 blocks.
    std::vector<const uint8_t*> held;
    uint32_t lba = 0;
    for (; lba < kReaderSlots * kSlotSectors; ++lba) {
        const uint8_t* sector = CdReadSector(reader, nullptr);
        ASSERT_NE(sector, nullptr) << lba;
        ASSERT_EQ(std::memcmp(sector, m_disc.raw(lba), kRaw), 0) << lba;
        if (lba % kSlotSectors == 0)
            held.push_back(sector);
        else
            CdUnlockReadBuffer(reader, sector);
    }
    // Nowhere to read the next block into: the sector is given up, the held ones are untouched.
    EXPECT_EQ(CdReadSector(reader, nullptr), nullptr);
    for (size_t i = 0; i < held.size(); ++i)
        EXPECT_EQ(std::memcmp(held[i], m_disc.raw(uint32_t(i) * kSlotSectors), kRaw), 0) << i;
    EXPECT_EQ(CdUnlockReadBuffer(reader, nullptr), 1);
    expectNext(reader, lba + 1);
    EXPECT_EQ(CdReadClose(reader), 1);
}

} // namespace
} // namespace discport
