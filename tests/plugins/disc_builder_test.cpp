// The disc-image builder of the disc plugin tests: images it writes mount, their track table has
// the tracks where the builder reports them, and the sectors read back through the sector reader
// are the placed ones, with their own addresses and the chosen sub-headers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "disc_builder.h"
#include "discport/discport.h"

namespace {

using discbuild::DiscBuilder;
using discbuild::Image;
using discbuild::kRaw;
using discbuild::Sector;

const char* kMovie = "mv1_v2_320x240_15fps_xa37800s.str";

class MountedImage
{
  public:
    explicit MountedImage(const Image& image) : m_drive(CdMountImage(image.cue.c_str())) {}
    ~MountedImage()
    {
        if (m_drive >= 0)
            CdUnmountImage(m_drive);
    }
    MountedImage(const MountedImage&) = delete;
    MountedImage& operator=(const MountedImage&) = delete;
    int32_t drive() const { return m_drive; }

  private:
    int32_t m_drive;
};

// `count` raw sectors from `lba` on, read through the sector reader.
std::vector<Sector> readBack(int32_t drive, uint32_t lba, uint32_t count)
{
    std::vector<Sector> out;
    CdReadHandle* reader = CdReadOpen(drive, nullptr, lba, count, 0);
    if (!reader)
        return out;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* s = CdReadSector(reader, nullptr);
        if (!s)
            break;
        Sector copy;
        std::memcpy(copy.data(), s, kRaw);
        out.push_back(copy);
        CdUnlockReadBuffer(reader, s);
    }
    CdReadClose(reader);
    return out;
}

// Sync 00 FF x10 00 and the Mode 2 header with the BCD address of lba + 150.
void expectSyncAndHeader(const Sector& s, uint32_t lba)
{
    EXPECT_EQ(s[0], 0) << lba;
    for (int i = 1; i <= 10; ++i)
        EXPECT_EQ(s[size_t(i)], 0xFF) << lba;
    EXPECT_EQ(s[11], 0) << lba;
    const uint32_t a = lba + 150;
    const uint32_t m = a / 4500, sec = a / 75 % 60, f = a % 75;
    EXPECT_EQ(s[12], (m / 10) * 16 + m % 10) << lba;
    EXPECT_EQ(s[13], (sec / 10) * 16 + sec % 10) << lba;
    EXPECT_EQ(s[14], (f / 10) * 16 + f % 10) << lba;
    EXPECT_EQ(s[15], 2) << lba;
}

void expectSubHeader(const Sector& s, uint8_t file, uint8_t channel, uint8_t submode, uint8_t coding)
{
    const uint8_t expected[4] = {file, channel, submode, coding};
    EXPECT_EQ(std::memcmp(s.data() + 16, expected, 4), 0);
    EXPECT_EQ(std::memcmp(s.data() + 20, expected, 4), 0);
}

bool sameFrom(const Sector& a, const Sector& b, size_t offset)
{
    return std::memcmp(a.data() + offset, b.data() + offset, kRaw - offset) == 0;
}

TEST(DiscBuilder, TestMovieFramesAreItsVideoSectorsInIndexOrder)
{
    const std::vector<Sector> movie = discbuild::loadMovie(kMovie);
    ASSERT_EQ(movie.size(), 450u);
    EXPECT_EQ(discbuild::soundSectors(movie).size(), 57u);
    size_t video = 0;
    for (uint32_t frame = 1; frame <= 45; ++frame) {
        const std::vector<Sector> sectors = discbuild::frameSectors(movie, frame);
        ASSERT_FALSE(sectors.empty()) << frame;
        for (size_t i = 0; i < sectors.size(); ++i) {
            EXPECT_EQ(discbuild::videoIndex(sectors[i]), i) << frame;
            EXPECT_EQ(discbuild::videoCount(sectors[i]), sectors.size()) << frame;
        }
        video += sectors.size();
    }
    EXPECT_EQ(video, 393u);
    EXPECT_TRUE(discbuild::frameSectors(movie, 46).empty());
    // Sound and data sectors whose bytes 32-35 read as frame number 1 are no part of frame 1.
    std::vector<Sector> mixed = movie;
    Sector sound = discbuild::soundSectors(movie)[0];
    Sector data = discbuild::foreignSector(3, 0);
    for (Sector* s : {&sound, &data}) {
        std::memset(s->data() + 24, 0, 16);
        (*s)[32] = 1;
        mixed.insert(mixed.begin(), *s);
    }
    EXPECT_EQ(discbuild::frameSectors(mixed, 1), discbuild::frameSectors(movie, 1));
    // The first video sector's header words as the test data lists them.
    const Sector first = discbuild::frameSectors(movie, 1)[0];
    EXPECT_EQ(discbuild::get16(first.data() + 24), 0x0160);
    EXPECT_EQ(discbuild::get16(first.data() + 26), 0x8001);
    EXPECT_EQ(discbuild::get16(first.data() + 40), 320);
    EXPECT_EQ(discbuild::get16(first.data() + 42), 240);
}

TEST(DiscBuilder, PlacedSectorsReadBackThroughTheMountedImage)
{
    const std::vector<Sector> movie = discbuild::loadMovie(kMovie);
    const std::vector<Sector> sound = discbuild::soundSectors(movie);
    const std::vector<Sector> xa = discbuild::soundSectors(discbuild::loadXa("xa2_18900_mono.xa"));
    ASSERT_GE(sound.size(), 4u);
    ASSERT_GE(xa.size(), 2u);

    DiscBuilder b;
    const uint32_t foreign = b.addForeign(3, 7);
    const uint32_t frame1 = b.addFrame(movie, 1);
    const std::vector<Sector> frame1Sectors = discbuild::frameSectors(movie, 1);
    const uint32_t audio = b.addSound(sound[0], 2, 5);
    const uint32_t frame2 = b.addFrame(movie, 2);
    const std::vector<Sector> frame2Sectors = discbuild::frameSectors(movie, 2);
    const uint32_t gap = b.addGap(2);
    const uint32_t silent = b.addSilent(1, 3, 0x04);
    // Two sounds of channel 7 at stride 8, the last with the end-of-file bit; gaps fill the holes.
    const uint32_t firstXa = b.next() + 1;
    const std::vector<uint32_t> xaLbas = b.placeSound({xa[0], xa[1]}, 1, 7, firstXa, 8, true);
    ASSERT_EQ(xaLbas, (std::vector<uint32_t>{firstXa, firstXa + 8}));
    const uint32_t marked = b.addForeign(1, 9);
    b.setEndOfFile(marked);
    ASSERT_EQ(b.next(), marked + 1);

    const std::unique_ptr<Image> image = b.write();
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(image->dataSectors, marked + 1);
    MountedImage mounted(*image);
    ASSERT_GE(mounted.drive(), 0) << CdImageError();
    const std::vector<Sector> disc = readBack(mounted.drive(), 0, image->dataSectors);
    ASSERT_EQ(disc.size(), image->dataSectors);
    for (uint32_t lba = 0; lba < disc.size(); ++lba) {
        expectSyncAndHeader(disc[lba], lba);
        EXPECT_EQ(std::memcmp(disc[lba].data(), image->raw(lba), kRaw), 0) << lba;
    }

    // Foreign sectors: Form 1 data, patterns that differ from sector to sector.
    for (uint32_t i = 0; i < 3; ++i)
        expectSubHeader(disc[foreign + i], 0, 0, 0x08, 0);
    EXPECT_FALSE(sameFrom(disc[foreign], disc[foreign + 1], 24));

    // Frames: the movie's sectors unchanged from the sub-header on, only the address is new.
    ASSERT_EQ(frame2, frame1 + frame1Sectors.size() + 1);
    for (size_t i = 0; i < frame1Sectors.size(); ++i)
        EXPECT_TRUE(sameFrom(disc[frame1 + i], frame1Sectors[i], 16)) << i;
    for (size_t i = 0; i < frame2Sectors.size(); ++i)
        EXPECT_TRUE(sameFrom(disc[frame2 + i], frame2Sectors[i], 16)) << i;
    EXPECT_EQ(discbuild::videoFrame(disc[frame2]), 2u);

    // Sound from the movie on file 2 channel 5, its submode and coding kept, data unchanged.
    expectSubHeader(disc[audio], 2, 5, 0x64, 0x01);
    EXPECT_TRUE(sameFrom(disc[audio], sound[0], 24));

    for (uint32_t lba = gap; lba < gap + 2; ++lba)
        EXPECT_TRUE(std::all_of(disc[lba].begin() + 16, disc[lba].end(), [](uint8_t v) { return v == 0; }));

    expectSubHeader(disc[silent], 1, 3, 0x64, 0x04);
    EXPECT_TRUE(std::all_of(disc[silent].begin() + 24, disc[silent].end(), [](uint8_t v) { return v == 0; }));

    expectSubHeader(disc[xaLbas[0]], 1, 7, 0x64, 0x04);
    expectSubHeader(disc[xaLbas[1]], 1, 7, 0xE4, 0x04);
    EXPECT_TRUE(sameFrom(disc[xaLbas[0]], xa[0], 24));
    EXPECT_TRUE(sameFrom(disc[xaLbas[1]], xa[1], 24));
    for (uint32_t lba = xaLbas[0] + 1; lba < xaLbas[1]; ++lba)
        EXPECT_EQ(disc[lba][18], 0) << "a gap between the sounds at " << lba;

    expectSubHeader(disc[marked], 0, 0, 0x88, 0);
}

TEST(DiscBuilder, EndOfFileBitOnlyWhereAsked)
{
    // The XA file's last sector carries the bit; placed without asking, it is cleared.
    const std::vector<Sector> xa = discbuild::loadXa("xa2_18900_mono.xa");
    ASSERT_EQ(xa.size(), 15u);
    ASSERT_EQ(xa.back()[18], 0xE4);
    DiscBuilder b;
    const uint32_t plain = b.addSound(xa.back(), 1, 0);
    const uint32_t last = b.addSound(xa[0], 1, 0, true);
    b.setEndOfFile(last, false);
    b.setEndOfFile(plain);
    EXPECT_EQ(b.at(plain)[18], 0xE4);
    EXPECT_EQ(b.at(plain)[22], 0xE4);
    EXPECT_EQ(b.at(last)[18], 0x64);
    EXPECT_EQ(b.at(last)[22], 0x64);
}

TEST(DiscBuilder, AudioTracksAreInTheTocAtTheReportedSectors)
{
    DiscBuilder b;
    b.addForeign(40);
    b.addAudioTrack(100);
    b.addAudioTrack(4501);
    const std::unique_ptr<Image> image = b.write();
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(image->audioStart, (std::vector<uint32_t>{190, 190 + 100 + 150}));
    ASSERT_EQ(image->audioLength, (std::vector<uint32_t>{100, 4501}));
    EXPECT_EQ(image->bytes.size(), size_t(440 + 4501) * kRaw);

    MountedImage mounted(*image);
    ASSERT_GE(mounted.drive(), 0) << CdImageError();
    CdTocEntry toc[100] = {};
    ASSERT_EQ(CdReadToc(mounted.drive(), 100, toc), 3);
    EXPECT_EQ(toc[0].track, 1);
    EXPECT_EQ(toc[0].start, 0u);
    EXPECT_EQ(toc[0].length, 40u);
    EXPECT_NE(toc[0].control & CD_TOC_DATA_TRACK, 0);
    for (size_t t = 0; t < 2; ++t) {
        EXPECT_EQ(toc[t + 1].track, t + 2);
        EXPECT_EQ(toc[t + 1].start, image->audioStart[t]);
        EXPECT_EQ(toc[t + 1].length, image->audioLength[t]);
        EXPECT_EQ(toc[t + 1].control & CD_TOC_DATA_TRACK, 0);
    }

    // Audio sectors: 16-bit stereo pairs that go on from sector to sector, different per track.
    const std::vector<Sector> second = readBack(mounted.drive(), image->audioStart[1] + 4500, 1);
    ASSERT_EQ(second.size(), 1u);
    uint8_t expected[4];
    discbuild::putAudioSamples(expected, 2, 4500 * (kRaw / 4) + 3);
    EXPECT_EQ(std::memcmp(second[0].data() + 12, expected, 4), 0);
    const std::vector<Sector> first = readBack(mounted.drive(), image->audioStart[0], 1);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(std::memcmp(first[0].data(), image->raw(image->audioStart[0]), kRaw), 0);
    EXPECT_NE(std::memcmp(first[0].data(), image->raw(image->audioStart[1]), kRaw), 0);
}

TEST(DiscBuilder, AddressesPastTheFirstMinuteAreBcd)
{
    DiscBuilder b;
    const uint32_t lba = b.placeAt(4500 - 150 + 75 * 12 + 34, discbuild::foreignSector(2, 0));
    const std::unique_ptr<Image> image = b.write();
    ASSERT_NE(image, nullptr);
    const uint8_t* s = image->raw(lba);
    EXPECT_EQ(s[12], 0x01);
    EXPECT_EQ(s[13], 0x12);
    EXPECT_EQ(s[14], 0x34);
    EXPECT_EQ(s[15], 2);
    EXPECT_EQ(image->raw(lba - 1)[18], 0) << "the sectors before it are gaps";
}

} // namespace
