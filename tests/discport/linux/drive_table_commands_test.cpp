// The drive queries through the drive table, down to the SG_IO requests of a fake device.
#include <gtest/gtest.h>

#include <cstring>

#include "commands.h"
#include "discport/discport.h"
#include "drive_table_fixture.h"

namespace discport::testing {
namespace {

std::vector<uint8_t> bytesOf(std::initializer_list<int> values)
{
    return std::vector<uint8_t>(values.begin(), values.end());
}

class DriveCommands : public DriveLibraryTest
{
  protected:
    // One drive of the given interface.
    FakeScsiDevice& oneDrive(int32_t interface)
    {
        if (interface == CD_USE_SG) {
            storeMaskFile("INTERFACE=1\n");
            FakeScsiDevice& device = layer().addSg(0, 0, 0, 0, 0, 5);
            EXPECT_EQ(CdGetDriveNum(), 1);
            return device;
        }
        storeMaskFile("INTERFACE=2\n");
        FakeScsiDevice& device = layer().addSr(0);
        EXPECT_EQ(CdGetDriveNum(), 1);
        return device;
    }

    const std::vector<uint8_t>& lastCdb() { return layer().requests.back().cdb; }
};

TEST_F(DriveCommands, SpeedSixByInterface)
{
    oneDrive(CD_USE_SG);
    ASSERT_EQ(CdSetSpinSpeed(0, 6), 1);
    EXPECT_EQ(lastCdb(), bytesOf({0xBB, 0, 0x04, 0x20, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(layer().requests.back().header.dxfer_direction, SG_DXFER_NONE);
    ASSERT_EQ(CdSetSpinSpeed(0, 0), 1);
    EXPECT_EQ(lastCdb()[2], 0xFF);
    EXPECT_EQ(lastCdb()[3], 0xFF);
}

TEST_F(DriveCommands, SpeedSixOverBlockDevice)
{
    oneDrive(CD_USE_SR);
    ASSERT_EQ(CdSetSpinSpeed(0, 6), 1);
    EXPECT_EQ(lastCdb()[2], 0x02);
    EXPECT_EQ(lastCdb()[3], 0xC0);
    ASSERT_EQ(CdSetSpinSpeed(0, -1), 1);
    EXPECT_EQ(lastCdb()[2], 0xFF);
    EXPECT_EQ(lastCdb()[3], 0xFF);
}

TEST_F(DriveCommands, TrackTypeByteNineByInterface)
{
    CdTocEntry data{};
    data.control = 0x14;
    data.start = 0x123;
    oneDrive(CD_USE_SG);
    EXPECT_EQ(CdGetTrackType(0, &data), 2);
    EXPECT_EQ(lastCdb(), bytesOf({0xBE, 0x08, 0, 0, 0x01, 0x23, 0, 0, 1, 0x00, 0, 0}));

    resetDriveLibrary();
    oneDrive(CD_USE_SR);
    EXPECT_EQ(CdGetTrackType(0, &data), 2);
    EXPECT_EQ(lastCdb(), bytesOf({0xBE, 0x08, 0, 0, 0x01, 0x23, 0, 0, 1, 0xF8, 0, 0}));
    EXPECT_EQ(layer().requests.back().header.dxfer_len, 2352u);
}

TEST_F(DriveCommands, TrackTypes)
{
    FakeScsiDevice& device = oneDrive(CD_USE_SR);
    CdTocEntry audio{};
    audio.control = 0x10;
    const size_t before = layer().requests.size();
    EXPECT_EQ(CdGetTrackType(0, &audio), 1);
    EXPECT_EQ(layer().requests.size(), before); // no command for an audio track

    CdTocEntry data{};
    data.control = 0x14;
    device.respond = [](sg_io_hdr_t& r) { r.status = 0x02; };
    EXPECT_EQ(CdGetTrackType(0, &data), 3);
    EXPECT_EQ(CdGetTrackType(1, &audio), 0);
    EXPECT_EQ(CdGetTrackType(0, nullptr), 0);
}

TEST_F(DriveCommands, DriveReadyNeedsBothTestUnitReady)
{
    FakeScsiDevice& device = oneDrive(CD_USE_SR);
    EXPECT_EQ(CdCheckDriveStat(0), 1);
    EXPECT_EQ(layer().requestsWithOpcode(0x00), 2u);

    int calls = 0;
    device.respond = [&calls](sg_io_hdr_t& r) { r.status = ++calls == 2 ? 0x02 : 0x00; };
    EXPECT_EQ(CdCheckDriveStat(0), 0);
    EXPECT_EQ(calls, 2);
}

TEST_F(DriveCommands, DeviceOpenPerQueryAndClosedAfterwards)
{
    oneDrive(CD_USE_SR);
    const size_t opens = layer().opens.size();
    EXPECT_EQ(CdCheckDriveStat(0), 1);
    EXPECT_EQ(layer().opens.size(), opens + 1);
    EXPECT_TRUE(layer().openFds.empty());

    // A holder of the drive keeps the device open for the queries.
    auto holder = openDrive(0);
    ASSERT_TRUE(holder);
    EXPECT_EQ(CdCheckDriveStat(0), 1);
    EXPECT_EQ(CdSetSpinSpeed(0, 4), 1);
    EXPECT_EQ(layer().opens.size(), opens + 2);
    EXPECT_EQ(layer().openFds.size(), 1u);
    holder.reset();
    EXPECT_TRUE(layer().openFds.empty());
}

TEST_F(DriveCommands, NoPermissionFailsEveryQuery)
{
    FakeScsiDevice& device = oneDrive(CD_USE_SR);
    device.openError = EACCES;
    CdTocEntry entry{};
    entry.control = 0x14;
    uint32_t word = 0;
    CdUpcEan code{};
    char vendor[9];
    EXPECT_FALSE(openDrive(0));
    EXPECT_EQ(CdCheckDriveStat(0), 0);
    EXPECT_EQ(CdReadToc(0, 1, &entry), 0);
    EXPECT_EQ(CdGetTrackType(0, &entry), 3);
    EXPECT_EQ(CdSetSpinSpeed(0, 1), 0);
    EXPECT_EQ(CdGetCapabilities(0, 0, &word, nullptr, nullptr), 0);
    EXPECT_EQ(CdGetUpcEanCode(0, &code), 0);
    EXPECT_EQ(CdGetDriveInfo(0, nullptr, nullptr, nullptr, vendor, nullptr, nullptr), 0);
    EXPECT_TRUE(layer().requests.empty());
    EXPECT_TRUE(layer().openFds.empty());
}

TEST_F(DriveCommands, IndexesOutOfRangeSendNothing)
{
    oneDrive(CD_USE_SR);
    const size_t opens = layer().opens.size();
    const size_t requests = layer().requests.size();
    CdTocEntry entry{};
    entry.control = 0x14;
    uint32_t word = 0;
    CdUpcEan code{};
    int32_t host = 0;
    char vendor[9];
    for (const int32_t drive : {-1, 1, 26, 1000}) {
        EXPECT_EQ(CdGetDriveInfo(drive, &host, nullptr, nullptr, vendor, nullptr, nullptr), 0);
        EXPECT_EQ(CdCheckDriveStat(drive), 0);
        EXPECT_EQ(CdReadToc(drive, 1, &entry), 0);
        EXPECT_EQ(CdGetTrackType(drive, &entry), 0);
        EXPECT_EQ(CdSetSpinSpeed(drive, 4), 0);
        EXPECT_EQ(CdGetCapabilities(drive, 0, &word, nullptr, nullptr), 0);
        EXPECT_EQ(CdGetUpcEanCode(drive, &code), 0);
        EXPECT_EQ(driveInterface(drive), 0);
        EXPECT_EQ(volumeCache(drive), nullptr);
        EXPECT_FALSE(openDrive(drive));
    }
    EXPECT_EQ(layer().opens.size(), opens);
    EXPECT_EQ(layer().requests.size(), requests);
}

TEST_F(DriveCommands, ReadTocClearsTheVolumeCacheFirst)
{
    FakeScsiDevice& device = oneDrive(CD_USE_SR);
    VolumeCache* cache = volumeCache(0);
    ASSERT_NE(cache, nullptr);
    cache->valid = true;
    device.openError = EACCES; // no command can even be sent
    CdTocEntry entry{};
    EXPECT_EQ(CdReadToc(0, 1, &entry), 0);
    EXPECT_FALSE(cache->valid);
}

TEST_F(DriveCommands, ReadTocThroughTheDevice)
{
    FakeScsiDevice& device = oneDrive(CD_USE_SR);
    device.respond = [](sg_io_hdr_t& r) {
        auto* out = static_cast<uint8_t*>(r.dxferp);
        if (r.cmdp[6] == 0xAA) {
            const uint8_t reply[12] = {0, 10, 1, 2, 0, 0x10, 0xAA, 0, 0, 0, 0x4E, 0x20}; // 20000
            std::memcpy(out, reply, sizeof(reply));
            r.resid = int(r.dxfer_len) - 12;
        } else {
            const uint8_t reply[28] = {0, 26, 1, 2, 0,    0x14, 1, 0,    0,    0, 0, 0, 0, 0x10,
                                       2, 0,  0, 0, 0x27, 0x10, 0, 0x10, 0xAA, 0, 0, 0, 0, 0};
            std::memcpy(out, reply, sizeof(reply));
            r.resid = int(r.dxfer_len) - 28;
        }
    };
    CdTocEntry entries[2];
    ASSERT_EQ(CdReadToc(0, 2, entries), 2);
    EXPECT_EQ(entries[0].length, 10000u - 150);
    EXPECT_EQ(entries[1].start, 10000u);
    EXPECT_EQ(entries[1].length, 10000u);
    EXPECT_EQ(layer().requests[layer().requests.size() - 2].header.dxfer_len, 12u);
    EXPECT_EQ(layer().requests.back().header.dxfer_len, 816u);

    // Sense data on the lead-out reply fails the read.
    device.respond = [](sg_io_hdr_t& r) { r.sb_len_wr = 18; };
    EXPECT_EQ(CdReadToc(0, 2, entries), 0);
}

TEST_F(DriveCommands, CapabilitiesThroughTheDevice)
{
    FakeScsiDevice& device = oneDrive(CD_USE_SR);
    device.respond = [](sg_io_hdr_t& r) {
        uint8_t reply[4 + 28] = {31, 0, 0, 0, 0x2A, 0x1A, 0x3B, 0x00, 0x30, 0x00, 0x00, 0, 0x1B, 0x80};
        reply[4 + 18] = 0x0D;
        reply[4 + 19] = 0xC8;
        std::memcpy(r.dxferp, reply, sizeof(reply));
        r.resid = int(r.dxfer_len - sizeof(reply));
    };
    EXPECT_EQ(CdGetCapabilities(0, 0, nullptr, nullptr, nullptr), 0); // the word is required
    uint32_t word = 0;
    int32_t read = 0, write = 0;
    ASSERT_EQ(CdGetCapabilities(0, 1, &word, &read, &write), 1);
    EXPECT_EQ(lastCdb()[2], 0x6A);
    EXPECT_EQ(word, 0xB0300000u);
    EXPECT_EQ((word >> 20) & 3, 3u);
    EXPECT_EQ(read, 7040);
    EXPECT_EQ(write, 3528);
    ASSERT_EQ(CdGetCapabilities(0, 0, &word, nullptr, nullptr), 1);
}

TEST_F(DriveCommands, CatalogueNumberThroughTheDevice)
{
    FakeScsiDevice& device = oneDrive(CD_USE_SR);
    bool valid = true;
    device.respond = [&valid](sg_io_hdr_t& r) {
        uint8_t reply[24] = {0, 0, 0, 20, 2, 0, 0, 0, uint8_t(valid ? 0x80 : 0)};
        std::memcpy(reply + 9, "0123456789012", 13);
        std::memcpy(r.dxferp, reply, sizeof(reply));
        r.resid = int(r.dxfer_len - sizeof(reply));
    };
    CdUpcEan code{};
    ASSERT_EQ(CdGetUpcEanCode(0, &code), 1);
    EXPECT_EQ(std::memcmp(code.bytes, "0123456789012\0\0", 15), 0);
    valid = false;
    std::memset(code.bytes, 'x', sizeof(code.bytes));
    EXPECT_EQ(CdGetUpcEanCode(0, &code), 0);
    EXPECT_EQ(code.bytes[0], 'x');
    EXPECT_EQ(CdGetUpcEanCode(0, nullptr), 0);
}

} // namespace
} // namespace discport::testing
