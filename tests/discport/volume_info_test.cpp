// CdGetVolumeInfo on mounted disc images: the fields of the primary volume descriptor, the text
// conversion, the "Audio-CD" record, a descriptor that cannot be read, and the per-drive cache
// with its invalidation by CdReadToc.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>

#include "discport/discport.h"
#include "drives.h"
#include "image/image_transport.h"
#include "reader_test_image.h"

namespace {

namespace fs = std::filesystem;

class MountedDisc
{
  public:
    explicit MountedDisc(const fs::path& cue) : m_drive(CdMountImage(cue.c_str())) {}
    ~MountedDisc()
    {
        if (m_drive >= 0)
            CdUnmountImage(m_drive);
    }
    int32_t drive() const { return m_drive; }
    // The image behind the drive, to make sectors fail.
    std::shared_ptr<discport::ImageTransport> image() const
    {
        return std::dynamic_pointer_cast<discport::ImageTransport>(discport::openDrive(m_drive));
    }

  private:
    int32_t m_drive;
};

CdVolumeInfo filledWith(uint8_t byte)
{
    CdVolumeInfo info;
    std::memset(&info, byte, sizeof info);
    return info;
}

bool sameBytes(const CdVolumeInfo& a, const CdVolumeInfo& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(VolumeInfo, FieldsOfThePrimaryVolumeDescriptor)
{
    disctest::VolumeFields fields;
    fields.volumeId = "CORPUS_A";
    fields.volumeSetSize = 3;
    fields.volumeSequenceNumber = 2;
    fields.pathTableSize = 0x1234;
    fields.pathTableL = 0x11223344;
    fields.optionalPathTableL = 0x55667788;
    disctest::TestDisc disc;
    disctest::makeTestDisc(disc, 300, 100, fields);
    MountedDisc mounted(disc.cue);
    ASSERT_GE(mounted.drive(), 0) << CdImageError();

    CdVolumeInfo info = filledWith(0xAB);
    ASSERT_EQ(CdGetVolumeInfo(mounted.drive(), &info), 1);
    EXPECT_STREQ(info.systemId, "PLAYSTATION");
    EXPECT_STREQ(info.volumeId, "CORPUS_A");
    EXPECT_EQ(info.zero1, 0);
    EXPECT_EQ(info.volumeSpaceSize, 300u);
    EXPECT_EQ(info.volumeSetSize, 3);
    EXPECT_EQ(info.volumeSequenceNumber, 2);
    EXPECT_EQ(info.pathTableSize, 0x1234u);
    EXPECT_EQ(info.pathTableL, 0x11223344u);
    EXPECT_EQ(info.optionalPathTableL, 0x55667788u);
    EXPECT_STREQ(info.volumeSetId, "TEST_SET");
    EXPECT_STREQ(info.publisherId, "PUBLISHER");
    EXPECT_STREQ(info.dataPreparerId, "PREPARER");
    EXPECT_STREQ(info.applicationId, "PLAYSTATION");
    EXPECT_STREQ(info.copyrightFileId, "COPY.TXT");
    EXPECT_STREQ(info.abstractFileId, "ABSTRACT.TXT");
    EXPECT_STREQ(info.bibliographicFileId, "BIBLIO.TXT");
    EXPECT_EQ(info.zero2, 0);
}

TEST(VolumeInfo, TrailingBlanksBecomeZerosAndFullFieldsKeepTheirEnd)
{
    disctest::VolumeFields fields;
    fields.systemId = "ABCD";                             // four letters and 28 blanks
    fields.volumeId = "VOLUME_NAME_OF_32_CHARACTERS_XYZ"; // exactly 32 characters
    fields.publisherId = "TWO  WORDS";                    // inner blanks stay
    fields.copyrightFileId = std::string(37, 'C');
    disctest::TestDisc disc;
    disctest::makeTestDisc(disc, 100, 0, fields);
    MountedDisc mounted(disc.cue);
    ASSERT_GE(mounted.drive(), 0) << CdImageError();

    CdVolumeInfo info = filledWith(0xAB);
    ASSERT_EQ(CdGetVolumeInfo(mounted.drive(), &info), 1);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&info);
    EXPECT_EQ(std::memcmp(bytes, "ABCD", 4), 0);
    for (int i = 4; i < 33; ++i)
        EXPECT_EQ(bytes[i], 0) << "byte " << i;
    EXPECT_EQ(std::memcmp(bytes + 33, fields.volumeId.data(), 32), 0);
    EXPECT_EQ(bytes[65], 0);
    EXPECT_STREQ(info.publisherId, "TWO  WORDS");
    EXPECT_EQ(std::string(info.copyrightFileId), fields.copyrightFileId);
    EXPECT_EQ(info.copyrightFileId[37], 0);
}

TEST(VolumeInfo, DiscWithoutDataTracksIsAnAudioCd)
{
    disctest::TestDisc disc;
    disctest::makeTestDisc(disc, 0, 500);
    MountedDisc mounted(disc.cue);
    ASSERT_GE(mounted.drive(), 0) << CdImageError();

    CdVolumeInfo info = filledWith(0xAB);
    ASSERT_EQ(CdGetVolumeInfo(mounted.drive(), &info), 1);
    CdVolumeInfo expected{};
    std::strcpy(expected.volumeId, "Audio-CD");
    EXPECT_TRUE(sameBytes(info, expected)) << "every other byte is zero";
}

TEST(VolumeInfo, FirstDataTrackAfterAnAudioTrackGivesTheDescriptor)
{
    // Track 1 audio (500 sectors), track 2 the data track behind a 150-sector pregap: its
    // descriptor is at its start + 16, not at sector 16 of the disc.
    disctest::VolumeFields fields;
    fields.volumeId = "SECOND_TRACK";
    disctest::TestDisc data;
    disctest::makeTestDisc(data, 200, 0, fields);
    disctest::TestDisc audio;
    disctest::makeTestDisc(audio, 0, 500);
    fs::copy_file(audio.bin, data.folder / "audio.bin");
    const fs::path cue = data.folder / "mixed.cue";
    std::ofstream(cue) << "FILE \"audio.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                          "FILE \"disc.bin\" BINARY\n  TRACK 02 MODE2/2352\n    PREGAP 00:02:00\n"
                          "    INDEX 01 00:00:00\n";
    MountedDisc mounted(cue);
    ASSERT_GE(mounted.drive(), 0) << CdImageError();

    CdVolumeInfo info{};
    ASSERT_EQ(CdGetVolumeInfo(mounted.drive(), &info), 1);
    EXPECT_STREQ(info.systemId, "PLAYSTATION");
    EXPECT_STREQ(info.volumeId, "SECOND_TRACK");
}

TEST(VolumeInfo, UnreadableDescriptorFailsAndLeavesTheRecordAlone)
{
    disctest::TestDisc disc;
    disctest::makeTestDisc(disc, 100, 0);
    MountedDisc mounted(disc.cue);
    ASSERT_GE(mounted.drive(), 0) << CdImageError();
    const auto image = mounted.image();
    ASSERT_NE(image, nullptr);
    image->failSector(16, 1000);

    CdVolumeInfo info = filledWith(0xAB);
    EXPECT_EQ(CdGetVolumeInfo(mounted.drive(), &info), 0);
    EXPECT_TRUE(sameBytes(info, filledWith(0xAB))) << "the record is untouched";
    EXPECT_FALSE(discport::volumeCache(mounted.drive())->valid);

    // Once the sector reads, the identity is there: nothing of the failure was cached.
    image->failSector(16, 0);
    ASSERT_EQ(CdGetVolumeInfo(mounted.drive(), &info), 1);
    EXPECT_STREQ(info.volumeId, "TEST_VOLUME");
}

TEST(VolumeInfo, SecondCallIsAnsweredFromTheCache)
{
    disctest::TestDisc disc;
    disctest::makeTestDisc(disc, 100, 50);
    MountedDisc mounted(disc.cue);
    ASSERT_GE(mounted.drive(), 0) << CdImageError();
    CdVolumeInfo first{};
    ASSERT_EQ(CdGetVolumeInfo(mounted.drive(), &first), 1);
    EXPECT_TRUE(discport::volumeCache(mounted.drive())->valid);

    // Were the descriptor read again, it would fail now.
    mounted.image()->failSector(16, 1000);
    CdVolumeInfo second = filledWith(0xAB);
    ASSERT_EQ(CdGetVolumeInfo(mounted.drive(), &second), 1);
    EXPECT_TRUE(sameBytes(first, second));
}

TEST(VolumeInfo, ReadingTheTocInvalidatesTheCache)
{
    disctest::TestDisc disc;
    disctest::makeTestDisc(disc, 100, 50);
    MountedDisc mounted(disc.cue);
    ASSERT_GE(mounted.drive(), 0) << CdImageError();
    CdVolumeInfo info{};
    ASSERT_EQ(CdGetVolumeInfo(mounted.drive(), &info), 1);

    CdTocEntry toc[4] = {};
    ASSERT_EQ(CdReadToc(mounted.drive(), 4, toc), 2);
    EXPECT_FALSE(discport::volumeCache(mounted.drive())->valid);
    // The next call reads the disc again: with the descriptor unreadable it fails.
    mounted.image()->failSector(16, 1000);
    EXPECT_EQ(CdGetVolumeInfo(mounted.drive(), &info), 0);
    mounted.image()->failSector(16, 0);
    EXPECT_EQ(CdGetVolumeInfo(mounted.drive(), &info), 1);
}

TEST(VolumeInfo, NoSuchDriveOrNoRecordGivesZero)
{
    CdVolumeInfo info = filledWith(0xAB);
    EXPECT_EQ(CdGetVolumeInfo(-1, &info), 0);
    EXPECT_EQ(CdGetVolumeInfo(CD_MAX_DRIVES, &info), 0);
    EXPECT_TRUE(sameBytes(info, filledWith(0xAB)));

    disctest::TestDisc disc;
    disctest::makeTestDisc(disc, 100, 0);
    MountedDisc mounted(disc.cue);
    ASSERT_GE(mounted.drive(), 0) << CdImageError();
    EXPECT_EQ(CdGetVolumeInfo(mounted.drive(), nullptr), 0);
}

TEST(VolumeInfo, CorpusDiscIsPlaystationCorpusA)
{
    const fs::path cue = fs::path(TAMRIN_TEST_DATA) / "disc" / "psxdisc_a.cue";
    ASSERT_TRUE(fs::is_regular_file(cue)) << cue << " is missing";
    MountedDisc mounted(cue);
    ASSERT_GE(mounted.drive(), 0) << CdImageError();
    CdVolumeInfo info{};
    ASSERT_EQ(CdGetVolumeInfo(mounted.drive(), &info), 1);
    EXPECT_STREQ(info.systemId, "PLAYSTATION");
    EXPECT_STREQ(info.volumeId, "CORPUS_A");
    EXPECT_STREQ(info.applicationId, "PLAYSTATION");
    EXPECT_STREQ(info.publisherId, "CORPUS");
    EXPECT_STREQ(info.dataPreparerId, "MKPSXISO");
    EXPECT_EQ(info.volumeSpaceSize, 2263u);
}

} // namespace
