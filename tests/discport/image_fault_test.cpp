// Faults injected for the reader's tests: sectors that fail a number of times, audio reads that
// come back shifted; and several threads reading one image at once.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "image/image_transport.h"
#include "image_builder.h"

using namespace discport;
using namespace discport::imagetest;

namespace {

class FaultImage : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        bin = twoTrackBin(3);
        writeBytes(dir.file("disc.bin"), bin);
        writeText(dir.file("disc.cue"), kTwoTrackCue);
        std::string error;
        transport = openImageTransport(dir.file("disc.cue"), error);
        ASSERT_TRUE(transport) << error;
    }

    std::vector<uint8_t> sector(uint32_t lba) const { return slice(bin, lba * kRaw, kRaw); }

    TempDir dir;
    std::vector<uint8_t> bin;
    std::shared_ptr<ImageTransport> transport;
};

} // namespace

TEST_F(FaultImage, ASectorFailsTheGivenNumberOfTimesThenReads)
{
    transport->failSector(12, 2);
    // Reads that do not include sector 12 are not affected and use nothing up.
    EXPECT_TRUE(readCd(*transport, 0, 10).result.good());
    EXPECT_TRUE(readCd(*transport, 13, 5).result.good());
    EXPECT_TRUE(read10(*transport, 11, 1).result.good());

    expectCheckCondition(*transport, readCd(*transport, 10, 10), 0x03, 0x11); // block that holds it
    expectCheckCondition(*transport, read10(*transport, 12, 1), 0x03, 0x11);  // READ(10) counts too
    const Reply third = readCd(*transport, 12, 1);
    ASSERT_TRUE(third.result.good());
    EXPECT_EQ(third.data, sector(12));
    EXPECT_TRUE(readCd(*transport, 10, 10).result.good());
}

TEST_F(FaultImage, SeveralFailingSectorsAndClearing)
{
    transport->failSector(5, 1);
    transport->failSector(7, 3);
    EXPECT_FALSE(readCd(*transport, 0, 10).result.good()); // uses one of each
    EXPECT_FALSE(readCd(*transport, 7, 1).result.good());
    EXPECT_TRUE(readCd(*transport, 5, 1).result.good());
    transport->failSector(7, 0); // cleared
    EXPECT_TRUE(readCd(*transport, 0, 10).result.good());

    // Setting again replaces the count.
    transport->failSector(20, 5);
    transport->failSector(20, 1);
    EXPECT_FALSE(readCd(*transport, 20, 1).result.good());
    EXPECT_TRUE(readCd(*transport, 20, 1).result.good());

    // The track type test (a READ CD of one sector) is a read as well.
    transport->failSector(kTwoTrackAudioStart, 1);
    expectCheckCondition(*transport, readCd(*transport, kTwoTrackAudioStart, 1, 0x08), 0x03, 0x11);
}

TEST_F(FaultImage, AudioReadsShiftedLaterAndEarlier)
{
    const uint32_t a = kTwoTrackAudioStart + 5;
    transport->shiftAudioReads(3);
    Reply reply = readCd(*transport, a, 4);
    ASSERT_TRUE(reply.result.good());
    EXPECT_EQ(reply.data, slice(bin, (a + 3) * kRaw, 4 * kRaw));
    // The data track is not shifted.
    reply = readCd(*transport, 10, 2);
    ASSERT_TRUE(reply.result.good());
    EXPECT_EQ(reply.data, slice(bin, 10 * kRaw, 2 * kRaw));
    // Shifted beyond the end of the disc: silence.
    reply = readCd(*transport, kTwoTrackSectors - 2, 2);
    ASSERT_TRUE(reply.result.good());
    EXPECT_EQ(reply.data, std::vector<uint8_t>(2 * kRaw, 0));
    // Also when the fields are chosen one by one (not the whole raw sector path).
    reply = readCd(*transport, a, 1, 1 << 2, 0x10);
    ASSERT_TRUE(reply.result.good());
    EXPECT_EQ(reply.data, sector(a + 3));

    transport->shiftAudioReads(-1);
    reply = readCd(*transport, a, 1);
    ASSERT_TRUE(reply.result.good());
    EXPECT_EQ(reply.data, sector(a - 1));

    transport->shiftAudioReads(0);
    reply = readCd(*transport, a, 1);
    ASSERT_TRUE(reply.result.good());
    EXPECT_EQ(reply.data, sector(a));
}

TEST_F(FaultImage, SeveralThreadsReadOneImage)
{
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int pass = 0; pass < 3; ++pass) {
                for (uint32_t lba = uint32_t(t); lba + 10 <= kTwoTrackSectors; lba += 7) {
                    ScsiCommand command;
                    const uint8_t cdb[12] = {0xBE, 0,    0, 0, uint8_t(lba >> 8), uint8_t(lba), 0, 0,
                                             10,   0xF8, 0, 0};
                    std::copy(cdb, cdb + 12, command.cdb);
                    command.cdbLength = 12;
                    std::vector<uint8_t> data(10 * kRaw);
                    command.data = data.data();
                    command.dataLength = uint32_t(data.size());
                    const ScsiResult result = transport->execute(command);
                    if (!result.good() ||
                        !std::equal(data.begin(), data.end(), bin.begin() + long(lba * kRaw)))
                        ++mismatches;
                }
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(mismatches.load(), 0);
}
