// The Linux drive access as the drive table sees it (platform.h), over a fake /dev: which devices
// become drives, with which addresses, within the room given, and one open device per drive
// however many transports its users hold.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

#include "discport/discport.h"
#include "drive_table_fixture.h"
#include "platform.h"

namespace discport::testing {
namespace {

using LinuxPlatform = DriveLibraryTest;

TEST_F(LinuxPlatform, AddressedDrivesAreTheCdAndWriteOnceDevicesWithTheirAddresses)
{
    layer().addSg(0, 1, 0, 3, 0, 5); // CD-ROM
    layer().addSg(1, 1, 0, 4, 0, 0); // disk: not a drive
    layer().addSg(2, 2, 0, 5, 0, 4); // write-once
    EXPECT_EQ(platform::addressedInterfaceStatus(), CD_STATUS_OK);
    const platform::Enumeration found = platform::enumerateAddressedDrives(CD_MAX_DRIVES);
    EXPECT_EQ(found.status, CD_STATUS_OK);
    ASSERT_EQ(found.drives.size(), 2u);
    EXPECT_EQ((std::vector<int32_t>{found.drives[0].host, found.drives[0].target, found.drives[0].lun}),
              (std::vector<int32_t>{1, 3, 0}));
    EXPECT_EQ((std::vector<int32_t>{found.drives[1].host, found.drives[1].target, found.drives[1].lun}),
              (std::vector<int32_t>{2, 5, 0}));
    for (const platform::FoundDrive& drive : found.drives)
        EXPECT_NE(drive.device, nullptr);

    EXPECT_EQ(platform::enumerateAddressedDrives(1).drives.size(), 1u);
}

TEST_F(LinuxPlatform, UnusableAddressedInterfaceGivesItsStatusAndNoDrives)
{
    struct Case
    {
        const char* what;
        std::function<void(FakeDeviceLayer&)> setUp;
        int32_t status;
    };
    const Case cases[] = {
        {"no /dev/sg*", [](FakeDeviceLayer&) {}, CD_STATUS_NO_INTERFACE},
        {"a driver without SG_IO", [](FakeDeviceLayer& l) { l.addSg(0, 0, 0, 0, 0, 5).version = 20000; },
         CD_STATUS_NO_ENTRY},
        {"no device opens", [](FakeDeviceLayer& l) { l.addSg(0, 0, 0, 0, 0, 5).openError = EACCES; },
         CD_STATUS_NO_ADAPTER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        layer().folders.clear();
        layer().devices.clear();
        c.setUp(layer());
        EXPECT_EQ(platform::addressedInterfaceStatus(), c.status);
        const platform::Enumeration found = platform::enumerateAddressedDrives(CD_MAX_DRIVES);
        EXPECT_EQ(found.status, c.status);
        EXPECT_TRUE(found.drives.empty());
    }
}

TEST_F(LinuxPlatform, DeviceDrivesAreTheCdBlockDevicesInNumberOrder)
{
    EXPECT_FALSE(platform::deviceInterfacePossible());
    EXPECT_TRUE(platform::enumerateDeviceDrives(CD_MAX_DRIVES).empty());
    layer().addSr(1);
    layer().addSr(0);
    EXPECT_TRUE(platform::deviceInterfacePossible());
    const std::vector<platform::FoundDrive> drives = platform::enumerateDeviceDrives(CD_MAX_DRIVES);
    ASSERT_EQ(drives.size(), 2u);
    // The first drive is /dev/sr0: its transport opens that device.
    const std::shared_ptr<ScsiTransport> transport = drives[0].device->acquire();
    ASSERT_NE(transport, nullptr);
    ASSERT_EQ(layer().opens.size(), 1u);
    EXPECT_EQ(layer().opens[0].path, "/dev/sr0");
    EXPECT_EQ(platform::enumerateDeviceDrives(1).size(), 1u);
}

TEST_F(LinuxPlatform, ADriveDeviceIsOpenedOnceForAllItsUsers)
{
    layer().addSr(0);
    const std::vector<platform::FoundDrive> drives = platform::enumerateDeviceDrives(CD_MAX_DRIVES);
    ASSERT_EQ(drives.size(), 1u);
    std::shared_ptr<ScsiTransport> first = drives[0].device->acquire();
    std::shared_ptr<ScsiTransport> second = drives[0].device->acquire();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(layer().opens.size(), 1u);
    first.reset();
    EXPECT_TRUE(layer().closes.empty());
    second.reset();
    EXPECT_EQ(layer().closes.size(), 1u);

    layer().devices["/dev/sr0"].openError = EACCES;
    EXPECT_EQ(drives[0].device->acquire(), nullptr);
}

} // namespace
} // namespace discport::testing
