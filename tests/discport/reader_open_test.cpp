// CdReadOpen on a mounted disc image: the track is found in the TOC when none is given, sectors
// between tracks and past the disc cannot be opened, bit 31 of the count gives user data, and
// every sector handed out equals the image, on built images and on the corpus disc of tests/data.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "discport/discport.h"
#include "reader_test_image.h"

namespace {

using disctest::kRaw;
using disctest::kUser;
namespace fs = std::filesystem;

// A disc image mounted as a drive for the life of the object.
class MountedImage
{
  public:
    explicit MountedImage(const fs::path& path) : m_drive(CdMountImage(path.c_str())) {}
    ~MountedImage()
    {
        if (m_drive >= 0)
            CdUnmountImage(m_drive);
    }
    int32_t drive() const { return m_drive; }

  private:
    int32_t m_drive;
};

class ReaderOpen : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        disctest::makeTestDisc(m_disc, 300, 400);
        m_image = std::make_unique<MountedImage>(m_disc.cue);
        ASSERT_GE(m_image->drive(), 0) << CdImageError();
    }
    int32_t drive() const { return m_image->drive(); }

    disctest::TestDisc m_disc;
    std::unique_ptr<MountedImage> m_image;
};

// Reads `count` sectors from `reader` and compares them with the image from `lba` on.
void expectImageSectors(CdReadHandle* reader, const disctest::TestDisc& disc, uint32_t lba, uint32_t count,
                        uint32_t size)
{
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* sector = CdReadSector(reader, nullptr);
        ASSERT_NE(sector, nullptr) << lba + i;
        const uint8_t* expected = size == kRaw ? disc.raw(lba + i) : disc.user(lba + i);
        ASSERT_EQ(std::memcmp(sector, expected, size), 0) << lba + i;
        EXPECT_EQ(CdUnlockReadBuffer(reader, sector), 1);
    }
}

TEST_F(ReaderOpen, WithoutATrackTheTocTellsWhichTrackHoldsTheStart)
{
    CdReadHandle* reader = CdReadOpen(drive(), nullptr, 0, m_disc.dataSectors, 0);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(CdGetSectorSize(reader), 2352);
    expectImageSectors(reader, m_disc, 0, m_disc.dataSectors, kRaw);
    EXPECT_EQ(CdReadSector(reader, nullptr), nullptr);
    EXPECT_EQ(CdReadClose(reader), 1);

    reader = CdReadOpen(drive(), nullptr, m_disc.audioStart + 5, 100, -1);
    ASSERT_NE(reader, nullptr);
    expectImageSectors(reader, m_disc, m_disc.audioStart + 5, 100, kRaw);
    EXPECT_EQ(CdReadClose(reader), 1);
}

TEST_F(ReaderOpen, SectorsInNoTrackCannotBeOpened)
{
    // Track 1 as the TOC gives it ends 150 sectors before track 2 starts.
    EXPECT_EQ(CdReadOpen(drive(), nullptr, m_disc.dataSectors, 1, 0), nullptr);
    EXPECT_EQ(CdReadOpen(drive(), nullptr, m_disc.audioStart - 1, 1, 0), nullptr);
    EXPECT_EQ(CdReadOpen(drive(), nullptr, m_disc.audioStart + m_disc.audioSectors, 1, 0), nullptr);
    CdReadHandle* reader = CdReadOpen(drive(), nullptr, m_disc.dataSectors - 1, 1, 0);
    EXPECT_NE(reader, nullptr) << "the last sector of track 1";
    EXPECT_EQ(CdReadClose(reader), 1);
}

TEST_F(ReaderOpen, NoSuchDriveGivesNull)
{
    EXPECT_EQ(CdReadOpen(-1, nullptr, 0, 1, 0), nullptr);
    EXPECT_EQ(CdReadOpen(CdGetDriveNum(), nullptr, 0, 1, 0), nullptr);
    EXPECT_EQ(CdReadOpen(CD_MAX_DRIVES, nullptr, 0, 1, 0), nullptr);
}

TEST_F(ReaderOpen, Bit31OfTheCountGivesUserData)
{
    CdTocEntry toc[100] = {};
    ASSERT_EQ(CdReadToc(drive(), 100, toc), 2);
    CdReadHandle* reader = CdReadOpen(drive(), &toc[0], 10, CD_READ_USER_DATA | 50u, 0);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(CdGetSectorSize(reader), 2048);
    expectImageSectors(reader, m_disc, 10, 50, kUser);
    EXPECT_EQ(CdReadSector(reader, nullptr), nullptr) << "50 sectors, not 0x80000032";
    EXPECT_EQ(CdReadClose(reader), 1);
}

TEST_F(ReaderOpen, WithATrackRecordTheRangeMayRunPastTheTrack)
{
    CdTocEntry toc[100] = {};
    ASSERT_EQ(CdReadToc(drive(), 100, toc), 2);
    ASSERT_EQ(toc[1].start, m_disc.audioStart);
    // The audio track's record; the range is the whole audio track.
    CdReadHandle* reader = CdReadOpen(drive(), &toc[1], toc[1].start, toc[1].length, 0);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(CdGetSectorSize(reader), 2352);
    expectImageSectors(reader, m_disc, toc[1].start, toc[1].length, kRaw);
    EXPECT_EQ(CdReadClose(reader), 1);
}

TEST_F(ReaderOpen, ReaderOutlivesTheUnmountOfItsImage)
{
    CdReadHandle* reader = CdReadOpen(drive(), nullptr, 0, 100, 0);
    ASSERT_NE(reader, nullptr);
    expectImageSectors(reader, m_disc, 0, 5, kRaw);
    m_image.reset();
    expectImageSectors(reader, m_disc, 5, 95, kRaw);
    EXPECT_EQ(CdReadClose(reader), 1);
}

TEST(ReaderOnCorpusDisc, EverySectorEqualsTheBinFile)
{
    const fs::path cue = fs::path(TAMRIN_TEST_DATA) / "disc" / "psxdisc_a.cue";
    ASSERT_TRUE(fs::is_regular_file(cue)) << cue << " is missing";
    const fs::path binPath = cue.parent_path() / "psxdisc_a.bin";
    std::vector<char> bin(fs::file_size(binPath));
    std::ifstream(binPath, std::ios::binary).read(bin.data(), std::streamsize(bin.size()));
    ASSERT_EQ(bin.size() % kRaw, 0u);
    const uint32_t sectors = uint32_t(bin.size() / kRaw);
    MountedImage image(cue);
    ASSERT_GE(image.drive(), 0) << CdImageError();
    CdTocEntry toc[100] = {};
    ASSERT_EQ(CdReadToc(image.drive(), 100, toc), 2);
    // Track 1 from sector 0, track 2 from 2038 to the end; between them the gap of 150 sectors.
    for (int t = 0; t < 2; ++t) {
        SCOPED_TRACE(t + 1);
        CdReadHandle* reader = CdReadOpen(image.drive(), &toc[t], toc[t].start, toc[t].length, 0);
        ASSERT_NE(reader, nullptr);
        for (uint32_t lba = toc[t].start; lba < toc[t].start + toc[t].length; ++lba) {
            ASSERT_LT(lba, sectors);
            const uint8_t* sector = CdReadSector(reader, nullptr);
            ASSERT_NE(sector, nullptr) << lba;
            ASSERT_EQ(std::memcmp(sector, bin.data() + size_t(lba) * kRaw, kRaw), 0) << lba;
            CdUnlockReadBuffer(reader, sector);
        }
        EXPECT_EQ(CdReadClose(reader), 1);
    }
    EXPECT_EQ(toc[1].start + toc[1].length, sectors);
}

} // namespace
