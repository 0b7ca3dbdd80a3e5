// The query commands of an image drive (INQUIRY, TEST UNIT READY, MODE SENSE page 0x2A, SET CD
// SPEED, READ SUB-CHANNEL, READ CAPACITY) and command blocks it must refuse.
#include <gtest/gtest.h>

#include "image/image_transport.h"
#include "image_builder.h"

using namespace discport;
using namespace discport::imagetest;

namespace {

class ImageDrive : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        writeBytes(dir.file("disc.bin"), twoTrackBin());
        writeText(dir.file("disc.cue"), kTwoTrackCue);
        std::string error;
        transport = openImageTransport(dir.file("disc.cue"), error);
        ASSERT_TRUE(transport) << error;
    }

    Reply modeSense(uint8_t byte1, uint8_t pageControl, uint8_t page = 0x2A, uint32_t dataLength = 256)
    {
        return run(*transport, {0x1A, byte1, uint8_t(pageControl * 64 + page), 0, 0xFF, 0}, dataLength);
    }

    TempDir dir;
    std::shared_ptr<ImageTransport> transport;
};

} // namespace

TEST_F(ImageDrive, InquiryNamesTheImageDrive)
{
    const Reply reply = run(*transport, {0x12, 0, 0, 0, 0x80, 0}, 128);
    ASSERT_TRUE(reply.result.good());
    EXPECT_EQ(reply.result.transferred, 128u);
    EXPECT_EQ(reply.data[0], 0x05); // CD/DVD device
    EXPECT_EQ(reply.data[1] & 0x80, 0x80);
    EXPECT_EQ(reply.data[4], 123); // additional length: 128 bytes in all
    EXPECT_EQ(std::string(reply.data.begin() + 8, reply.data.begin() + 16), "TAMRIN  ");
    EXPECT_EQ(std::string(reply.data.begin() + 16, reply.data.begin() + 32), "DISC IMAGE      ");
    EXPECT_EQ(std::string(reply.data.begin() + 32, reply.data.begin() + 36), "1.00");

    // Allocation 36 and a buffer of 20 bytes: each limits the reply.
    EXPECT_EQ(run(*transport, {0x12, 0, 0, 0, 36, 0}, 128).result.transferred, 36u);
    EXPECT_EQ(run(*transport, {0x12, 0, 0, 0, 0x80, 0}, 20).result.transferred, 20u);
    // Vital product data pages are not offered.
    expectCheckCondition(*transport, run(*transport, {0x12, 1, 0x80, 0, 0x80, 0}, 128), 0x05, 0x24);
}

TEST_F(ImageDrive, TestUnitReadyIsAlwaysReady)
{
    for (int i = 0; i < 2; ++i) {
        const Reply reply = run(*transport, {0, 0, 0, 0, 0, 0}, 0);
        EXPECT_TRUE(reply.result.good());
        EXPECT_EQ(reply.result.senseLength, 0);
    }
}

TEST_F(ImageDrive, CapabilitiesPageReadsMode2FormsAndSpeeds)
{
    const Reply reply = modeSense(0, 0);
    ASSERT_TRUE(reply.result.good());
    const uint8_t d = reply.data[3];
    ASSERT_LE(4u + d + 22u, reply.result.transferred);
    EXPECT_EQ(reply.data[0], reply.result.transferred - 1); // mode data length
    const uint8_t* pg = reply.data.data() + 4 + d;
    EXPECT_EQ(pg[0] & 0x3F, 0x2A);
    EXPECT_GE(pg[1], 20);          // reaches bytes 18-19
    EXPECT_EQ(pg[4] & 0x10, 0x10); // Mode 2 Form 1
    EXPECT_EQ(pg[4] & 0x20, 0x20); // Mode 2 Form 2
    const int maxRead = pg[8] << 8 | pg[9];
    EXPECT_GE(maxRead, 176);
    EXPECT_LE(maxRead, 0xFFFF - 1);
    EXPECT_EQ(pg[18] << 8 | pg[19], 0); // writes nothing
    // The capability word as the command layer forms it: bits 20 and 21 set.
    const uint32_t word =
        uint32_t(uint8_t(pg[2] * 16 | pg[3])) << 24 | uint32_t(pg[4]) << 16 | pg[5] << 8 | pg[6];
    EXPECT_EQ(word & (3u << 20), 3u << 20);

    // Without the block descriptor the page follows the header directly.
    const Reply noDescriptor = modeSense(0x08, 0);
    ASSERT_TRUE(noDescriptor.result.good());
    EXPECT_EQ(noDescriptor.data[3], 0);
    EXPECT_EQ(noDescriptor.data[4] & 0x3F, 0x2A);
    EXPECT_EQ(noDescriptor.data[4 + 4], pg[4]);
}

TEST_F(ImageDrive, ChangeableValuesAreNoneAndSavedValuesAreRefused)
{
    const Reply changeable = modeSense(0, 1); // byte 2 = 0x6A
    ASSERT_TRUE(changeable.result.good());
    const uint8_t* pg = changeable.data.data() + 4 + changeable.data[3];
    EXPECT_EQ(pg[0] & 0x3F, 0x2A);
    for (int i = 2; i < 22; ++i)
        EXPECT_EQ(pg[i], 0) << i;
    expectCheckCondition(*transport, modeSense(0, 3), 0x05, 0x39);
    expectCheckCondition(*transport, modeSense(0, 0, 0x01), 0x05, 0x24); // another page
    EXPECT_TRUE(modeSense(0, 0, 0x3F).result.good());                    // all pages
}

TEST_F(ImageDrive, SetCdSpeedShowsInTheCurrentSpeed)
{
    auto currentSpeed = [&] {
        const Reply reply = modeSense(0, 0);
        const uint8_t* pg = reply.data.data() + 4 + reply.data[3];
        return pg[14] << 8 | pg[15];
    };
    const Reply set = run(*transport, {0xBB, 0, 0x02, 0xC0, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}, 0); // 704 kB/s
    ASSERT_TRUE(set.result.good());
    EXPECT_EQ(currentSpeed(), 704);
    ASSERT_TRUE(run(*transport, {0xBB, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}, 0).result.good());
    const Reply reply = modeSense(0, 0);
    const uint8_t* pg = reply.data.data() + 4 + reply.data[3];
    EXPECT_EQ(currentSpeed(), pg[8] << 8 | pg[9]); // highest
}

TEST_F(ImageDrive, CatalogueNumberIsNotValidWithoutOne)
{
    const Reply reply = run(*transport, {0x42, 0, 0x40, 0x02, 0, 0, 0, 0, 48, 0}, 48);
    ASSERT_TRUE(reply.result.good());
    EXPECT_EQ(reply.result.transferred, 24u);
    EXPECT_EQ(reply.data[4], 0x02);
    EXPECT_EQ(reply.data[8] & 0x80, 0);

    const Reply position = run(*transport, {0x42, 0, 0x40, 0x01, 0, 0, 0, 0, 48, 0}, 48);
    ASSERT_TRUE(position.result.good());
    EXPECT_EQ(position.data[4], 0x01);
    EXPECT_EQ(position.data[6], 1); // track 1

    const Reply isrc = run(*transport, {0x42, 0, 0x40, 0x03, 0, 0, 2, 0, 48, 0}, 48);
    ASSERT_TRUE(isrc.result.good());
    EXPECT_EQ(isrc.data[8] & 0x80, 0);
    expectCheckCondition(*transport, run(*transport, {0x42, 0, 0x40, 0x03, 0, 0, 9, 0, 48, 0}, 48), 0x05,
                         0x24);

    // Without the sub-channel Q bit only the header comes back.
    EXPECT_EQ(run(*transport, {0x42, 0, 0, 0x02, 0, 0, 0, 0, 48, 0}, 48).result.transferred, 4u);
}

TEST_F(ImageDrive, ReadCapacityGivesTheLastSector)
{
    const Reply reply = run(*transport, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8);
    ASSERT_TRUE(reply.result.good());
    EXPECT_EQ(reply.data, (std::vector<uint8_t>{0, 0, 0, kTwoTrackSectors - 1, 0, 0, 0x08, 0x00}));
}

TEST_F(ImageDrive, BadCommandBlocksEndWithCheckCondition)
{
    expectCheckCondition(*transport, run(*transport, {0xA8, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}, 2048), 0x05,
                         0x20);
    expectCheckCondition(*transport, run(*transport, {0x4A, 0, 0, 0, 0, 0, 0, 0, 8, 0}, 8), 0x05, 0x20);
    // READ CD given as a 10-byte block, INQUIRY as a 10-byte block, an empty block.
    expectCheckCondition(*transport, run(*transport, {0xBE, 0, 0, 0, 0, 0, 0, 0, 1, 0xF8}, kRaw), 0x05, 0x20);
    expectCheckCondition(*transport, run(*transport, {0x12, 0, 0, 0, 0x80, 0, 0, 0, 0, 0}, 128), 0x05, 0x20);
    ScsiCommand empty;
    const ScsiResult result = transport->execute(empty);
    EXPECT_EQ(result.status, 2);
    ScsiCommand tooLong;
    tooLong.cdb[0] = 0x00;
    tooLong.cdbLength = 16;
    EXPECT_EQ(transport->execute(tooLong).status, 2);
    // The C2 selection 3 is reserved.
    expectCheckCondition(*transport, readCd(*transport, 0, 1, 0, 0xFE, kRaw + 296), 0x05, 0x24);

    // REQUEST SENSE reports the last failure once.
    EXPECT_EQ(readCd(*transport, kTwoTrackSectors, 1).result.status, 2);
    const SenseData first = requestSense(*transport);
    EXPECT_EQ(first.key, 0x05);
    EXPECT_EQ(first.asc, 0x21);
    const SenseData second = requestSense(*transport);
    EXPECT_EQ(second.key, 0);
    EXPECT_EQ(second.asc, 0);
}

TEST_F(ImageDrive, ADataLengthWithoutABufferTransfersNothing)
{
    ScsiCommand command;
    const uint8_t cdb[12] = {0xBE, 0, 0, 0, 0, 0, 0, 0, 1, 0xF8, 0, 0};
    std::copy(cdb, cdb + 12, command.cdb);
    command.cdbLength = 12;
    command.data = nullptr;
    command.dataLength = kRaw;
    const ScsiResult result = transport->execute(command);
    EXPECT_TRUE(result.good());
    EXPECT_EQ(result.transferred, 0u);
}

TEST(ImageOpen, FormatsAreToldByNameAndContent)
{
    TempDir dir;
    // Raw image without a sheet: one data track over the whole file.
    std::vector<uint8_t> raw;
    for (uint32_t lba = 0; lba < 20; ++lba)
        append(raw, mode2Sector(lba, false, 2));
    for (const char* name : {"raw.bin", "raw.img", "raw.iso"}) { // the sync pattern wins over the name
        writeBytes(dir.file(name), raw);
        std::string error;
        auto transport = openImageTransport(dir.file(name), error);
        ASSERT_TRUE(transport) << error;
        EXPECT_EQ(transport->sectorCount(), 20u);
        const Reply toc = readToc(*transport, 0, 816);
        ASSERT_TRUE(toc.result.good());
        EXPECT_EQ(
            slice(toc.data, 0, toc.result.transferred),
            (std::vector<uint8_t>{0, 0x12, 1, 1, 0, 0x14, 1, 0, 0, 0, 0, 0, 0, 0x14, 0xAA, 0, 0, 0, 0, 20}));
        const Reply sector = readCd(*transport, 7, 1);
        ASSERT_TRUE(sector.result.good());
        EXPECT_EQ(sector.data, slice(raw, 7 * kRaw, kRaw));
    }

    // A raw image of Mode 1 sectors: each sector's header tells its mode.
    std::vector<uint8_t> mode1;
    for (uint32_t lba = 0; lba < 3; ++lba)
        append(mode1, mode1Sector(lba, 5));
    writeBytes(dir.file("mode1.img"), mode1);
    std::string error;
    auto transport = openImageTransport(dir.file("mode1.img"), error);
    ASSERT_TRUE(transport) << error;
    EXPECT_TRUE(readCd(*transport, 1, 1, 0x08).result.good());
    const Reply user = read10(*transport, 1, 1);
    ASSERT_TRUE(user.result.good());
    EXPECT_EQ(user.data, slice(mode1, kRaw + 16, kUser));

    // 2048-byte sectors: ISO, whatever the name, when the size is not a whole number of 2352.
    writeBytes(dir.file("plain.dat"), std::vector<uint8_t>(3 * kUser, 0x11));
    transport = openImageTransport(dir.file("plain.dat"), error);
    ASSERT_TRUE(transport) << error;
    EXPECT_EQ(transport->sectorCount(), 3u);

    // Neither size, empty, missing, a folder.
    writeBytes(dir.file("odd.bin"), std::vector<uint8_t>(1000, 0));
    EXPECT_FALSE(openImageTransport(dir.file("odd.bin"), error));
    EXPECT_NE(error.find("neither"), std::string::npos) << error;
    writeBytes(dir.file("empty.iso"), {});
    EXPECT_FALSE(openImageTransport(dir.file("empty.iso"), error));
    EXPECT_NE(error.find("shorter than one"), std::string::npos) << error;
    EXPECT_FALSE(openImageTransport(dir.file("nothing.iso"), error));
    EXPECT_NE(error.find("nothing.iso"), std::string::npos) << error;
    EXPECT_FALSE(openImageTransport(dir.path().string(), error));
    EXPECT_FALSE(error.empty());
}
