// The sector reader on a disc image: every sector it hands out equals the image's bytes, raw and
// as user data, on the data and the audio track; sectors the image is told to fail come back
// null one by one; a drifting audio read is caught.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "image/image_transport.h"
#include "reader.h"
#include "reader_test_image.h"

namespace discport {
namespace {

using disctest::kRaw;
using disctest::kUser;

class ReaderOnImage : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        disctest::makeTestDisc(m_disc, 300, 400);
        std::string error;
        m_image = openImageTransport(m_disc.cue.string(), error);
        ASSERT_NE(m_image, nullptr) << error;
    }

    CdReadHandle* open(std::shared_ptr<ScsiTransport> transport, TrackKind kind, uint32_t first,
                       uint32_t count, uint32_t size)
    {
        ReaderSetup setup;
        setup.transport = std::move(transport);
        setup.range = {kind, first, count, size};
        return openReader(setup);
    }

    disctest::TestDisc m_disc;
    std::shared_ptr<ImageTransport> m_image;
};

TEST_F(ReaderOnImage, EveryRawSectorOfTheDataTrackEqualsTheImage)
{
    CdReadHandle* reader = open(m_image, TrackKind::Data, 0, m_disc.dataSectors, kRaw);
    ASSERT_NE(reader, nullptr);
    for (uint32_t lba = 0; lba < m_disc.dataSectors; ++lba) {
        const uint8_t* sector = CdReadSector(reader, nullptr);
        ASSERT_NE(sector, nullptr) << lba;
        ASSERT_EQ(std::memcmp(sector, m_disc.raw(lba), kRaw), 0) << lba;
        CdUnlockReadBuffer(reader, sector);
    }
    EXPECT_EQ(CdReadSector(reader, nullptr), nullptr);
    EXPECT_EQ(CdReadClose(reader), 1);
}

TEST_F(ReaderOnImage, EveryUserDataSectorEqualsTheImage)
{
    CdReadHandle* reader = open(m_image, TrackKind::Data, 0, m_disc.dataSectors, kUser);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(CdGetSectorSize(reader), 2048);
    uint8_t copy[kUser];
    for (uint32_t lba = 0; lba < m_disc.dataSectors; ++lba) {
        ASSERT_NE(CdReadSector(reader, copy), nullptr) << lba;
        ASSERT_EQ(std::memcmp(copy, m_disc.user(lba), kUser), 0) << lba;
    }
    EXPECT_EQ(CdReadClose(reader), 1);
}

TEST_F(ReaderOnImage, EverySectorOfTheAudioTrackEqualsTheImage)
{
    CdReadHandle* reader = open(m_image, TrackKind::Audio, m_disc.audioStart, m_disc.audioSectors, kRaw);
    ASSERT_NE(reader, nullptr);
    for (uint32_t i = 0; i < m_disc.audioSectors; ++i) {
        const uint8_t* sector = CdReadSector(reader, nullptr);
        ASSERT_NE(sector, nullptr) << i;
        ASSERT_EQ(std::memcmp(sector, m_disc.raw(m_disc.audioStart + i), kRaw), 0) << i;
        CdUnlockReadBuffer(reader, sector);
    }
    EXPECT_EQ(CdReadSector(reader, nullptr), nullptr);
    EXPECT_EQ(CdReadClose(reader), 1);
}

TEST_F(ReaderOnImage, FailedSectorsComeBackNullOneByOne)
{
    // More failures than the reader makes attempts: these sectors never read.
    m_image->failSector(42, 1000);
    m_image->failSector(43, 1000);
    m_image->failSector(127, 1000);
    CdReadHandle* reader = open(m_image, TrackKind::Data, 0, 200, kRaw);
    ASSERT_NE(reader, nullptr);
    std::vector<uint32_t> bad;
    for (uint32_t lba = 0; lba < 200; ++lba) {
        const uint8_t* sector = CdReadSector(reader, nullptr);
        if (!sector) {
            bad.push_back(lba);
            continue;
        }
        EXPECT_EQ(std::memcmp(sector, m_disc.raw(lba), kRaw), 0) << lba;
        CdUnlockReadBuffer(reader, sector);
    }
    EXPECT_EQ(bad, (std::vector<uint32_t>{42, 43, 127}));
    EXPECT_EQ(CdReadClose(reader), 1);
}

TEST_F(ReaderOnImage, SectorThatFailsAFewTimesIsReadInTheEnd)
{
    m_image->failSector(55, 3);
    CdReadHandle* reader = open(m_image, TrackKind::Data, 50, 20, kUser);
    ASSERT_NE(reader, nullptr);
    uint8_t copy[kUser];
    for (uint32_t lba = 50; lba < 70; ++lba) {
        ASSERT_NE(CdReadSector(reader, copy), nullptr) << lba;
        EXPECT_EQ(std::memcmp(copy, m_disc.user(lba), kUser), 0) << lba;
    }
    EXPECT_EQ(CdReadClose(reader), 1);
}

// Shifts the image's audio reads by one sector for the first `times` block reads at `lba`.
class DriftingDrive : public ScsiTransport
{
  public:
    DriftingDrive(std::shared_ptr<ImageTransport> image, uint32_t lba, int times)
        : m_image(std::move(image)), m_lba(lba), m_times(times)
    {
    }
    ScsiResult execute(const ScsiCommand& command) override
    {
        std::lock_guard lock(m_mutex);
        const uint32_t lba = uint32_t(command.cdb[2]) << 24 | uint32_t(command.cdb[3]) << 16 |
                             uint32_t(command.cdb[4]) << 8 | command.cdb[5];
        const bool drift = command.cdb[0] == 0xBE && lba == m_lba && command.cdb[8] > 1 && m_times > 0;
        if (drift) {
            --m_times;
            ++m_drifted;
        }
        m_image->shiftAudioReads(drift ? 1 : 0);
        const ScsiResult result = m_image->execute(command);
        m_image->shiftAudioReads(0);
        return result;
    }
    int drifted() const { return m_drifted; }

  private:
    std::mutex m_mutex;
    std::shared_ptr<ImageTransport> m_image;
    uint32_t m_lba;
    int m_times;
    int m_drifted = 0;
};

TEST_F(ReaderOnImage, DriftingAudioBlockIsReadAgainAndDeliveredRight)
{
    const uint32_t start = m_disc.audioStart;
    auto drive = std::make_shared<DriftingDrive>(m_image, start + 18, 3);
    CdReadHandle* reader = open(drive, TrackKind::Audio, start, 60, kRaw);
    ASSERT_NE(reader, nullptr);
    for (uint32_t i = 0; i < 60; ++i) {
        const uint8_t* sector = CdReadSector(reader, nullptr);
        ASSERT_NE(sector, nullptr) << i;
        ASSERT_EQ(std::memcmp(sector, m_disc.raw(start + i), kRaw), 0) << i;
        CdUnlockReadBuffer(reader, sector);
    }
    EXPECT_EQ(CdReadClose(reader), 1);
    EXPECT_EQ(drive->drifted(), 3) << "the block was read until it agreed with the one before";
}

} // namespace
} // namespace discport
