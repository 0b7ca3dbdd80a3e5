// Disc images as drives of the table: mounting, the drive indexes, unmounting and the reasons
// given for a failed mount.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <thread>

#include "discport/discport.h"
#include "drive_table_fixture.h"

namespace discport::testing {
namespace {

class DriveImages : public DriveLibraryTest
{
  protected:
    // An ISO image of `sectors` 2048-byte sectors.
    std::string isoImage(const std::string& name, size_t sectors = 32)
    {
        const std::string path = home() + "/" + name;
        std::ofstream out(path, std::ios::binary);
        const std::string sector(2048, '\0');
        for (size_t i = 0; i < sectors; ++i)
            out << sector;
        return path;
    }
};

TEST_F(DriveImages, MountsWithoutAnyHardwareDrive)
{
    const std::string path = isoImage("disc.iso");
    ASSERT_EQ(CdMountImage(path.c_str()), 0) << CdImageError();
    EXPECT_STREQ(CdImageError(), "");
    EXPECT_EQ(CdGetDriveNum(), 1);
    EXPECT_EQ(CdGetUseInterface(), CD_USE_NONE);
    EXPECT_EQ(driveInterface(0), kImageInterface);

    int32_t host = -1, target = -1, lun = -1;
    char vendor[9] = {};
    ASSERT_EQ(CdGetDriveInfo(0, &host, &target, &lun, vendor, nullptr, nullptr), 1);
    EXPECT_EQ(host, 0);
    EXPECT_EQ(target, 0);
    EXPECT_EQ(lun, 0);
    EXPECT_NE(vendor[0], '\0');

    CdTocEntry entry{};
    ASSERT_EQ(CdReadToc(0, 1, &entry), 1);
    EXPECT_EQ(entry.start, 0u);
    EXPECT_EQ(entry.length, 32u);
    EXPECT_EQ(CdCheckDriveStat(0), 1);
    EXPECT_TRUE(layer().opens.empty()); // no device was touched
}

TEST_F(DriveImages, ImagesFollowTheDevices)
{
    storeMaskFile("INTERFACE=2\n");
    layer().addSr(0);
    layer().addSr(1);
    EXPECT_EQ(CdMountImage(isoImage("a.iso").c_str()), 2);
    EXPECT_EQ(CdMountImage(isoImage("b.iso").c_str()), 3);
    EXPECT_EQ(CdGetDriveNum(), 4);
    EXPECT_EQ(driveInterface(1), CD_USE_SR);
    EXPECT_EQ(CdUnmountImage(1), 0); // a device is no image
    EXPECT_EQ(CdGetDriveNum(), 4);
}

TEST_F(DriveImages, FailedMountsTellWhy)
{
    EXPECT_EQ(CdMountImage(nullptr), -1);
    EXPECT_STRNE(CdImageError(), "");
    EXPECT_EQ(CdMountImage(""), -1);
    EXPECT_STRNE(CdImageError(), "");
    const std::string missing = home() + "/missing.cue";
    EXPECT_EQ(CdMountImage(missing.c_str()), -1);
    EXPECT_STRNE(CdImageError(), "");
    EXPECT_EQ(CdGetDriveNum(), 0);

    ASSERT_EQ(CdMountImage(isoImage("good.iso").c_str()), 0);
    EXPECT_STREQ(CdImageError(), ""); // a successful mount clears the reason
}

TEST_F(DriveImages, ReasonsBelongToTheirThread)
{
    EXPECT_EQ(CdMountImage(""), -1);
    std::string other = "unset";
    std::thread([&] { other = CdImageError(); }).join();
    EXPECT_EQ(other, "");
    EXPECT_STRNE(CdImageError(), "");
}

TEST_F(DriveImages, UnmountingTheLastGivesItsPlaceBack)
{
    ASSERT_EQ(CdMountImage(isoImage("a.iso").c_str()), 0);
    EXPECT_EQ(CdUnmountImage(0), 1);
    EXPECT_EQ(CdGetDriveNum(), 0);
    EXPECT_EQ(CdUnmountImage(0), 0);
    EXPECT_EQ(CdUnmountImage(-1), 0);
    EXPECT_EQ(CdUnmountImage(26), 0);
    EXPECT_EQ(CdMountImage(isoImage("b.iso").c_str()), 0);
}

TEST_F(DriveImages, UnmountingInTheMiddleLeavesAnEmptyPlace)
{
    ASSERT_EQ(CdMountImage(isoImage("a.iso").c_str()), 0);
    ASSERT_EQ(CdMountImage(isoImage("b.iso", 40).c_str()), 1);
    EXPECT_EQ(CdUnmountImage(0), 1);
    EXPECT_EQ(CdGetDriveNum(), 2);
    CdTocEntry entry{};
    EXPECT_EQ(CdCheckDriveStat(0), 0);
    EXPECT_EQ(CdReadToc(0, 1, &entry), 0);
    EXPECT_EQ(driveInterface(0), 0);
    EXPECT_EQ(CdGetDriveInfo(0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(CdUnmountImage(0), 0);
    // Drive 1 keeps its index.
    ASSERT_EQ(CdReadToc(1, 1, &entry), 1);
    EXPECT_EQ(entry.length, 40u);

    // Unmounting the last gives back both places.
    EXPECT_EQ(CdUnmountImage(1), 1);
    EXPECT_EQ(CdGetDriveNum(), 0);
}

TEST_F(DriveImages, AnOpenHolderKeepsReadingAfterUnmount)
{
    ASSERT_EQ(CdMountImage(isoImage("a.iso").c_str()), 0);
    std::shared_ptr<ScsiTransport> holder = openDrive(0);
    ASSERT_TRUE(holder);
    ASSERT_EQ(CdUnmountImage(0), 1);
    EXPECT_FALSE(openDrive(0));
    uint8_t sector[2048];
    ScsiCommand read;
    read.cdb[0] = 0x28; // READ(10) of sector 16
    read.cdb[5] = 16;
    read.cdb[8] = 1;
    read.cdbLength = 10;
    read.data = sector;
    read.dataLength = sizeof(sector);
    EXPECT_TRUE(holder->execute(read).good());
}

TEST_F(DriveImages, ANewImageStartsWithoutAVolumeIdentity)
{
    ASSERT_EQ(CdMountImage(isoImage("a.iso").c_str()), 0);
    volumeCache(0)->valid = true;
    ASSERT_EQ(CdUnmountImage(0), 1);
    ASSERT_EQ(CdMountImage(isoImage("b.iso").c_str()), 0);
    ASSERT_NE(volumeCache(0), nullptr);
    EXPECT_FALSE(volumeCache(0)->valid);
}

TEST_F(DriveImages, AtMost26DrivesInAll)
{
    storeMaskFile("INTERFACE=2\n");
    for (int n = 0; n < 25; ++n)
        layer().addSr(n);
    const std::string path = isoImage("a.iso");
    EXPECT_EQ(CdMountImage(path.c_str()), 25);
    EXPECT_EQ(CdMountImage(path.c_str()), -1);
    EXPECT_NE(std::string(CdImageError()).find("26"), std::string::npos);
    EXPECT_EQ(CdGetDriveNum(), 26);
}

} // namespace
} // namespace discport::testing
