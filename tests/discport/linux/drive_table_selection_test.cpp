// The interface mask, the interface selection and the drive table over a fake /dev.
#include <gtest/gtest.h>

#include "discport/discport.h"
#include "drive_table_fixture.h"

namespace discport::testing {
namespace {

using DriveSelection = DriveLibraryTest;

TEST_F(DriveSelection, NoStoredMaskAndOnlyBlockDevicesGiveMaskTwo)
{
    layer().addSr(0);
    EXPECT_EQ(CdIsUseAspi(), 0);
    EXPECT_EQ(CdIsUseSpti(), 1);
    EXPECT_EQ(CdSetUseInterface(-1), CD_USE_SR);
    EXPECT_EQ(CdGetUseInterface(), CD_USE_SR);
    EXPECT_EQ(CdGetStatus(), CD_STATUS_OK);
    EXPECT_EQ(CdGetDriveNum(), 1);
    EXPECT_EQ(driveInterface(0), CD_USE_SR);
}

TEST_F(DriveSelection, NoStoredMaskAndBothInterfacesGiveMaskThree)
{
    layer().addSg(0, 0, 0, 0, 0, 5);
    layer().addSr(0);
    EXPECT_EQ(CdIsUseAspi(), 1);
    EXPECT_EQ(CdSetUseInterface(-1), CD_USE_SG | CD_USE_SR);
    EXPECT_EQ(CdGetUseInterface(), CD_USE_SG); // SCSI generic first, and it found a drive
    EXPECT_EQ(CdGetDriveNum(), 1);
}

TEST_F(DriveSelection, MaskThreeWithoutGenericDevicesFallsBackToBlockDevices)
{
    storeMaskFile("INTERFACE=3\n");
    layer().addSr(0);
    layer().addSr(1);
    EXPECT_EQ(CdGetUseInterface(), CD_USE_SR);
    EXPECT_EQ(CdGetStatus(), CD_STATUS_OK); // the block device enumeration resets the status
    EXPECT_EQ(CdGetDriveNum(), 2);
}

TEST_F(DriveSelection, MaskThreeWithSilentGenericDevicesFallsBackToBlockDevices)
{
    storeMaskFile("INTERFACE=3\n");
    layer().addSg(0, 0, 0, 0, 0, 5).openError = EACCES;
    layer().addSr(0);
    EXPECT_EQ(CdGetUseInterface(), CD_USE_SR);
    EXPECT_EQ(CdGetStatus(), CD_STATUS_OK);
    EXPECT_EQ(CdGetDriveNum(), 1);
}

TEST_F(DriveSelection, MaskOneWithNothingRecordsTheStatus)
{
    storeMaskFile("INTERFACE=1\n");
    layer().addSr(0); // allowed only by bit 1: never tried
    EXPECT_EQ(CdGetUseInterface(), CD_USE_SG);
    EXPECT_EQ(CdGetStatus(), CD_STATUS_NO_INTERFACE);
    EXPECT_EQ(CdGetDriveNum(), 0);
    for (const auto& open : layer().opens)
        EXPECT_NE(open.path, "/dev/sr0");
}

TEST_F(DriveSelection, GenericStatusCodes)
{
    storeMaskFile("INTERFACE=1\n");
    layer().addSg(0, 0, 0, 0, 0, 5).version = 20134; // no SG_IO
    EXPECT_EQ(CdIsUseAspi(), 0);
    EXPECT_EQ(CdGetStatus(), CD_STATUS_NO_ENTRY);
    EXPECT_EQ(CdGetDriveNum(), 0);

    resetDriveLibrary();
    layer().devices["/dev/sg0"].version = 30536;
    layer().devices["/dev/sg0"].openError = EACCES; // no permission
    EXPECT_EQ(CdGetStatus(), CD_STATUS_NO_ADAPTER);

    resetDriveLibrary();
    layer().devices["/dev/sg0"].openError = 0;
    layer().devices["/dev/sg0"].answersScsiId = false;
    EXPECT_EQ(CdGetStatus(), CD_STATUS_NO_ADAPTER);

    resetDriveLibrary();
    layer().devices["/dev/sg0"].answersScsiId = true;
    EXPECT_EQ(CdIsUseAspi(), 1);
    EXPECT_EQ(CdGetStatus(), CD_STATUS_OK);
    EXPECT_EQ(CdGetDriveNum(), 1);
}

TEST_F(DriveSelection, UsabilityTestsBuildNoTable)
{
    layer().addSg(0, 0, 0, 0, 0, 5);
    EXPECT_EQ(CdIsUseAspi(), 1);
    EXPECT_EQ(layer().requestsWithOpcode(0x12), 0u); // no INQUIRY: no enumeration
    EXPECT_EQ(library().interfaceInUse, CD_USE_NONE);
    EXPECT_TRUE(layer().openFds.empty());
}

TEST_F(DriveSelection, BlockDevicesPossibleWithoutDeviceNodes)
{
    EXPECT_EQ(CdIsUseSpti(), 0);
    layer().paths.insert("/sys/module/sr_mod");
    EXPECT_EQ(CdIsUseSpti(), 1);
    layer().paths.clear();
    layer().folders["/sys/class/block"] = {"sda", "sr3"};
    EXPECT_EQ(CdIsUseSpti(), 1);
    layer().folders["/sys/class/block"] = {"sda", "srx", "vda"};
    EXPECT_EQ(CdIsUseSpti(), 0);
}

TEST_F(DriveSelection, SetUseInterfaceMinusOneChangesNothing)
{
    storeMaskFile("INTERFACE=2\n");
    layer().addSr(0);
    EXPECT_EQ(CdSetUseInterface(-1), 2);
    EXPECT_EQ(CdSetUseInterface(-1), 2);
    EXPECT_EQ(maskFile(), "INTERFACE=2\n");
}

TEST_F(DriveSelection, SetUseInterfaceStoresAndHoldsTheCurrentChoice)
{
    storeMaskFile("# drives\nINTERFACE=3\n");
    layer().addSr(0);
    EXPECT_EQ(CdGetUseInterface(), CD_USE_SR);
    EXPECT_EQ(CdSetUseInterface(1), 3);
    EXPECT_EQ(maskFile(), "# drives\nINTERFACE=1\n");
    EXPECT_EQ(CdGetUseInterface(), CD_USE_SR); // the choice holds until the next start
    EXPECT_EQ(CdGetDriveNum(), 1);
    EXPECT_EQ(CdSetUseInterface(-1), 1);

    resetDriveLibrary(); // the next start
    EXPECT_EQ(CdGetUseInterface(), CD_USE_SG);
    EXPECT_EQ(CdGetDriveNum(), 0);
}

TEST_F(DriveSelection, SetUseInterfaceWritesTheFolderAndFileWhenMissing)
{
    const std::string nested = home() + "/deeper/tamrin";
    ::setenv("TAMRIN_HOME", nested.c_str(), 1);
    EXPECT_EQ(CdSetUseInterface(2), 0);
    std::ifstream in(nested + "/Discport.ini");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "INTERFACE=2\n");
    ::setenv("TAMRIN_HOME", home().c_str(), 1);
}

TEST_F(DriveSelection, OnlyTheLowSixteenBitsAreHeld)
{
    storeMaskFile("INTERFACE=65538\n");
    layer().addSr(0);
    EXPECT_EQ(CdSetUseInterface(-1), 2);
    EXPECT_EQ(CdSetUseInterface(0x10001), 2);
    EXPECT_EQ(CdSetUseInterface(-1), 1);
    EXPECT_EQ(maskFile(), "INTERFACE=65537\n");
}

TEST_F(DriveSelection, UnreadableMaskCountsAsMissing)
{
    storeMaskFile("INTERFACE=two\n");
    layer().addSr(0);
    EXPECT_EQ(CdSetUseInterface(-1), 2);
}

TEST_F(DriveSelection, MaskZeroSelectsNothingAndTriesAgainLater)
{
    storeMaskFile("INTERFACE=0\n");
    layer().addSr(0);
    EXPECT_EQ(CdGetUseInterface(), CD_USE_NONE);
    EXPECT_EQ(CdGetDriveNum(), 0);
    EXPECT_EQ(CdGetStatus(), CD_STATUS_OK);
    EXPECT_EQ(CdCheckDriveStat(0), 0);
    // While no interface is in use, the selection runs again with the mask held now.
    CdSetUseInterface(2);
    EXPECT_EQ(CdGetUseInterface(), CD_USE_SR);
}

TEST_F(DriveSelection, BlockDevicesInNumberOrderAndAtMost26)
{
    storeMaskFile("INTERFACE=2\n");
    for (int n = 30; n >= 0; --n)
        layer().addSr(n);
    layer().folders["/dev"].push_back("sr");
    layer().folders["/dev"].push_back("sr1a");
    layer().folders["/dev"].push_back("sg0");
    EXPECT_EQ(CdGetDriveNum(), 26);
    // Drive 10 is /dev/sr10: its INQUIRY names it.
    char vendor[9] = {};
    ASSERT_EQ(CdGetDriveInfo(10, nullptr, nullptr, nullptr, vendor, nullptr, nullptr), 1);
    EXPECT_STREQ(vendor, "SR10    ");
    EXPECT_EQ(CdGetDriveInfo(26, nullptr, nullptr, nullptr, vendor, nullptr, nullptr), 0);
}

TEST_F(DriveSelection, GenericDevicesKeepOnlyCdAndWriteOnceDevices)
{
    storeMaskFile("INTERFACE=1\n");
    layer().addSg(3, 2, 0, 4, 0, 5);
    layer().addSg(0, 0, 0, 0, 0, 0);    // disk
    layer().addSg(1, 0, 0, 1, 0, 4);    // write-once
    layer().addSg(2, 1, 0, 0, 0, 0x25); // CD-ROM type with qualifier 1: not kept
    EXPECT_EQ(CdGetUseInterface(), CD_USE_SG);
    ASSERT_EQ(CdGetDriveNum(), 2);
    int32_t host = -1, target = -1, lun = -1;
    ASSERT_EQ(CdGetDriveInfo(0, &host, &target, &lun, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(host, 0);
    EXPECT_EQ(target, 1);
    EXPECT_EQ(lun, 0);
    ASSERT_EQ(CdGetDriveInfo(1, &host, &target, &lun, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(host, 2);
    EXPECT_EQ(target, 4);
    EXPECT_TRUE(layer().openFds.empty()); // every probe closed its device
}

TEST_F(DriveSelection, The27thGenericDriveIsNotAdded)
{
    storeMaskFile("INTERFACE=1\n");
    for (int n = 0; n < 27; ++n)
        layer().addSg(n, 0, 0, n, 0, 5);
    EXPECT_EQ(CdGetDriveNum(), 26);
    EXPECT_EQ(layer().requestsWithOpcode(0x12), 26u); // no probe once the table is full
}

TEST_F(DriveSelection, SlowTargetGetsAtMostThreeLunProbes)
{
    storeMaskFile("INTERFACE=1\n");
    for (int lun = 0; lun < 8; ++lun)
        layer().addSg(lun, 0, 0, 3, lun, 5).commandTakesMs = 60000; // every probe times out
    EXPECT_EQ(CdGetDriveNum(), 0);
    ASSERT_EQ(layer().requestsWithOpcode(0x12), 3u);
    EXPECT_EQ(layer().requests[0].header.timeout, 3000u);
    EXPECT_EQ(layer().requests[1].header.timeout, 200u);
    EXPECT_EQ(layer().requests[2].header.timeout, 200u);
    EXPECT_EQ(layer().requests[2].path, "/dev/sg2");
}

TEST_F(DriveSelection, OneSlowLunDoesNotEndTheTarget)
{
    storeMaskFile("INTERFACE=1\n");
    layer().addSg(0, 0, 0, 0, 0, 5).commandTakesMs = 60000; // times out
    for (int lun = 1; lun < 8; ++lun)
        layer().addSg(lun, 0, 0, 0, lun, 5).commandTakesMs = 10;
    // After the shortening the time is measured afresh: the quick LUNs never reach 200 ms.
    EXPECT_EQ(CdGetDriveNum(), 7);
    EXPECT_EQ(layer().requestsWithOpcode(0x12), 8u);
}

TEST_F(DriveSelection, ShortTimeoutHoldsForLaterTargets)
{
    storeMaskFile("INTERFACE=1\n");
    layer().addSg(0, 0, 0, 0, 0, 5).commandTakesMs = 5000; // times out after 3000 ms
    layer().addSg(1, 0, 0, 0, 1, 5);
    layer().addSg(2, 0, 0, 1, 0, 5);
    layer().addSg(3, 0, 0, 1, 1, 5);
    EXPECT_EQ(CdGetDriveNum(), 3);
    ASSERT_EQ(layer().requests.size(), 4u);
    EXPECT_EQ(layer().requests[0].header.timeout, 3000u);
    for (size_t i = 1; i < 4; ++i)
        EXPECT_EQ(layer().requests[i].header.timeout, 200u) << i;
}

TEST_F(DriveSelection, FastTargetsKeepTheLongTimeoutAndAllLuns)
{
    storeMaskFile("INTERFACE=1\n");
    for (int lun = 0; lun < 9; ++lun)
        layer().addSg(lun, 0, 0, 0, lun, 5).commandTakesMs = 10;
    EXPECT_EQ(CdGetDriveNum(), 8); // LUN 8 lies beyond the eight probed
    for (const auto& request : layer().requests)
        EXPECT_EQ(request.header.timeout, 3000u);
}

TEST_F(DriveSelection, DriveInfoOverGenericWithoutTextsSendsNothing)
{
    storeMaskFile("INTERFACE=1\n");
    layer().addSg(0, 4, 0, 5, 6, 5);
    ASSERT_EQ(CdGetDriveNum(), 1);
    const size_t before = layer().requests.size();
    const size_t opensBefore = layer().opens.size();
    int32_t host = -1, target = -1, lun = -1;
    EXPECT_EQ(CdGetDriveInfo(0, &host, &target, &lun, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(layer().requests.size(), before);
    EXPECT_EQ(layer().opens.size(), opensBefore);
    EXPECT_EQ(host, 4);
    EXPECT_EQ(target, 5);
    EXPECT_EQ(lun, 6);

    // With a text buffer the drive is asked; a failing INQUIRY still gave the address.
    layer().devices["/dev/sg0"].inquiry.clear();
    host = target = lun = -1;
    char product[17];
    EXPECT_EQ(CdGetDriveInfo(0, &host, &target, &lun, nullptr, product, nullptr), 0);
    EXPECT_EQ(host, 4);
}

TEST_F(DriveSelection, DriveInfoOverBlockDevicesAlwaysAsks)
{
    storeMaskFile("INTERFACE=2\n");
    layer().addSr(0).inquiry = inquiryData(5, "ACME", "CD-ROM DRIVE", "1.20");
    ASSERT_EQ(CdGetDriveNum(), 1);
    int32_t host = -1, target = -1, lun = -1;
    EXPECT_EQ(CdGetDriveInfo(0, &host, &target, &lun, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(layer().requestsWithOpcode(0x12), 1u);
    EXPECT_EQ(host, 0);
    EXPECT_EQ(target, 0);
    EXPECT_EQ(lun, 0);

    char vendor[9], product[17], revision[5];
    ASSERT_EQ(CdGetDriveInfo(0, nullptr, nullptr, nullptr, vendor, product, revision), 1);
    EXPECT_STREQ(vendor, "ACME    ");
    EXPECT_STREQ(product, "CD-ROM DRIVE    ");
    EXPECT_STREQ(revision, "1.20");

    // A failing INQUIRY leaves the address alone.
    layer().devices["/dev/sr0"].inquiry.clear();
    host = -1;
    EXPECT_EQ(CdGetDriveInfo(0, &host, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(host, -1);
}

} // namespace
} // namespace discport::testing
