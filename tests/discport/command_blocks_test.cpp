// Every command block byte for byte, and the parsing of canned replies.
#include <gtest/gtest.h>

#include <cstring>

#include "command_recording_transport.h"
#include "commands.h"
#include "drives.h"

namespace discport::testing {
namespace {

std::vector<uint8_t> cdb(std::initializer_list<int> values)
{
    return bytes(values);
}

void putBig32(std::vector<uint8_t>& out, uint32_t value)
{
    out.push_back(uint8_t(value >> 24));
    out.push_back(uint8_t(value >> 16));
    out.push_back(uint8_t(value >> 8));
    out.push_back(uint8_t(value));
}

struct Track
{
    uint8_t number;
    uint8_t control;
    uint32_t start;
};

// The reply of READ TOC from the lead-out (12 bytes).
std::vector<uint8_t> leadOutReply(uint8_t first, uint8_t last, uint32_t leadOut)
{
    std::vector<uint8_t> reply = {0x00, 0x0A, first, last, 0x00, 0x14, 0xAA, 0x00};
    putBig32(reply, leadOut);
    return reply;
}

// The reply of READ TOC from the first track; `bogusLeadOut` fills the lead-out's place.
std::vector<uint8_t> tracksReply(uint8_t first, uint8_t last, const std::vector<Track>& tracks,
                                 uint32_t bogusLeadOut)
{
    const size_t length = 2 + 8 * (tracks.size() + 1);
    std::vector<uint8_t> reply = {uint8_t(length >> 8), uint8_t(length), first, last};
    for (const Track& t : tracks) {
        reply.insert(reply.end(), {0x00, t.control, t.number, 0x00});
        putBig32(reply, t.start);
    }
    reply.insert(reply.end(), {0x00, 0x10, 0xAA, 0x00});
    putBig32(reply, bogusLeadOut);
    return reply;
}

CdTocEntry untouched()
{
    CdTocEntry entry;
    std::memset(&entry, 0xEE, sizeof(entry));
    return entry;
}

bool isUntouched(const CdTocEntry& entry)
{
    const CdTocEntry sentinel = untouched();
    return std::memcmp(&entry, &sentinel, sizeof(entry)) == 0;
}

TEST(CommandBlocks, InquiryAsksFor128BytesOfStandardData)
{
    RecordingTransport transport;
    transport.answer(std::vector<uint8_t>(96, 0x05));
    InquiryReply reply;
    ASSERT_TRUE(inquiry(transport, reply));
    ASSERT_EQ(transport.commands.size(), 1u);
    EXPECT_EQ(transport.commands[0].cdb, cdb({0x12, 0, 0, 0, 0x80, 0}));
    EXPECT_EQ(transport.commands[0].dataLength, 128u);
    EXPECT_TRUE(transport.commands[0].hasData);
    EXPECT_EQ(transport.commands[0].timeoutMs, kQueryTimeoutMs);
    EXPECT_EQ(reply.length, 96u);
}

TEST(CommandBlocks, InquiryCarriesTheGivenTimeout)
{
    RecordingTransport transport;
    transport.answer(bytes({0x05}));
    InquiryReply reply;
    ASSERT_TRUE(inquiry(transport, reply, 200));
    EXPECT_EQ(transport.commands[0].timeoutMs, 200u);
}

TEST(CommandBlocks, InquiryFailsOnBadStatusOrNoData)
{
    RecordingTransport transport;
    transport.answer(std::vector<uint8_t>(96, 0x05), 0x02);
    transport.answer({});
    InquiryReply reply;
    EXPECT_FALSE(inquiry(transport, reply));
    EXPECT_FALSE(inquiry(transport, reply));
    EXPECT_FALSE(inquiry(transport, reply)); // no reply left: not completed
}

TEST(CommandReplies, IdentityIsCopiedRawWithTrailingBlanks)
{
    std::vector<uint8_t> data(36, 0);
    std::memcpy(data.data() + 8, "ACME    CDROM-X         1.0 ", 28);
    DriveIdentity identity;
    ASSERT_TRUE(parseIdentity(data.data(), data.size(), identity));
    EXPECT_STREQ(identity.vendor, "ACME    ");
    EXPECT_STREQ(identity.product, "CDROM-X         ");
    EXPECT_STREQ(identity.revision, "1.0 ");
    EXPECT_FALSE(parseIdentity(data.data(), 35, identity)); // revision cut short
}

TEST(CommandBlocks, TestUnitReadyIsSentTwice)
{
    RecordingTransport transport;
    transport.answer().answer();
    EXPECT_TRUE(driveReady(transport));
    ASSERT_EQ(transport.commands.size(), 2u);
    for (const RecordedCommand& command : transport.commands) {
        EXPECT_EQ(command.cdb, cdb({0, 0, 0, 0, 0, 0}));
        EXPECT_EQ(command.dataLength, 0u);
        EXPECT_FALSE(command.hasData);
    }
}

TEST(CommandBlocks, TestUnitReadyFailingOnceMeansNotReady)
{
    RecordingTransport first;
    first.answer({}, 0x02).answer();
    EXPECT_FALSE(driveReady(first));
    EXPECT_EQ(first.commands.size(), 1u); // the first failure ends the test

    RecordingTransport second;
    second.answer().answer({}, 0x02);
    EXPECT_FALSE(driveReady(second));
    EXPECT_EQ(second.commands.size(), 2u);

    RecordingTransport timedOut;
    CannedReply lost;
    lost.completed = false;
    lost.status = 0;
    timedOut.answer().answerWith(lost);
    EXPECT_FALSE(driveReady(timedOut));
}

TEST(CommandBlocks, ReadTocSendsLeadOutThenAllTracks)
{
    RecordingTransport transport;
    transport.answer(leadOutReply(1, 1, 5000));
    transport.answer(tracksReply(1, 1, {{1, 0x14, 0}}, 5000));
    CdTocEntry entries[1];
    ASSERT_EQ(readToc(transport, 1, entries), 1);
    ASSERT_EQ(transport.commands.size(), 2u);
    EXPECT_EQ(transport.commands[0].cdb, cdb({0x43, 0, 0, 0, 0, 0, 0xAA, 0x00, 0x0C, 0}));
    EXPECT_EQ(transport.commands[0].dataLength, 12u);
    EXPECT_EQ(transport.commands[1].cdb, cdb({0x43, 0, 0, 0, 0, 0, 0x00, 0x03, 0x30, 0}));
    EXPECT_EQ(transport.commands[1].dataLength, 816u);
    EXPECT_EQ(transport.commands[1].timeoutMs, kQueryTimeoutMs);
}

TEST(CommandReplies, TocWithOneEntryOfThreeTracksKeepsTheFullLength)
{
    RecordingTransport transport;
    transport.answer(leadOutReply(1, 3, 30000));
    transport.answer(tracksReply(1, 3, {{1, 0x14, 0}, {2, 0x10, 10000}, {3, 0x10, 20000}}, 0));
    CdTocEntry entries[2] = {untouched(), untouched()};
    EXPECT_EQ(readToc(transport, 1, entries), 3);
    EXPECT_EQ(entries[0].track, 1);
    EXPECT_EQ(entries[0].control, 0x14);
    EXPECT_EQ(entries[0].start, 0u);
    EXPECT_EQ(entries[0].length, 10000u); // the last entry filled: no gap taken off
    EXPECT_EQ(entries[0].unused[0], 0xEE);
    EXPECT_EQ(entries[0].unused[1], 0xEE);
    EXPECT_TRUE(isUntouched(entries[1]));
}

TEST(CommandReplies, TocDataTrackAndFourAudioTracks)
{
    RecordingTransport transport;
    transport.answer(leadOutReply(1, 5, 40000));
    // The lead-out's place in the second reply holds a wrong address: the first reply's counts.
    transport.answer(tracksReply(
        1, 5, {{1, 0x14, 0}, {2, 0x10, 20000}, {3, 0x10, 25000}, {4, 0x10, 30000}, {5, 0x10, 35000}}, 99999));
    CdTocEntry entries[6];
    for (CdTocEntry& e : entries)
        e = untouched();
    ASSERT_EQ(readToc(transport, 6, entries), 5);
    const uint32_t starts[] = {0, 20000, 25000, 30000, 35000};
    const uint32_t lengths[] = {20000 - 150, 5000 - 150, 5000 - 150, 5000 - 150, 5000};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(entries[i].track, i + 1);
        EXPECT_EQ(entries[i].control, i == 0 ? 0x14 : 0x10);
        EXPECT_EQ(entries[i].start, starts[i]);
        EXPECT_EQ(entries[i].length, lengths[i]) << "track " << i + 1;
    }
    EXPECT_TRUE(isUntouched(entries[5]));
}

TEST(CommandReplies, TocStoppingEarlyKeepsTheLastFilledEntryWhole)
{
    RecordingTransport transport;
    transport.answer(leadOutReply(1, 5, 40000));
    transport.answer(tracksReply(
        1, 5, {{1, 0x14, 0}, {2, 0x10, 20000}, {3, 0x10, 25000}, {4, 0x10, 30000}, {5, 0x10, 35000}}, 0));
    CdTocEntry entries[3];
    ASSERT_EQ(readToc(transport, 3, entries), 5);
    EXPECT_EQ(entries[1].length, 5000u - 150);
    EXPECT_EQ(entries[2].length, 5000u);
}

TEST(CommandReplies, TocFailuresFillNothing)
{
    const auto lead = leadOutReply(1, 3, 30000);
    const auto tracks = tracksReply(1, 3, {{1, 0x14, 0}, {2, 0x10, 10000}, {3, 0x10, 20000}}, 0);
    CdTocEntry entry = untouched();

    RecordingTransport firstFails;
    firstFails.answer(lead, 0x02);
    EXPECT_EQ(readToc(firstFails, 1, &entry), 0);
    EXPECT_EQ(firstFails.commands.size(), 1u);

    RecordingTransport firstWithSense;
    CannedReply sensed;
    sensed.bytes = lead;
    sensed.senseLength = 18;
    firstWithSense.answerWith(sensed).answer(tracks);
    EXPECT_EQ(readToc(firstWithSense, 1, &entry), 0);
    EXPECT_EQ(firstWithSense.commands.size(), 1u);

    RecordingTransport secondFails;
    secondFails.answer(lead).answer(tracks, 0x02);
    EXPECT_EQ(readToc(secondFails, 1, &entry), 0);

    RecordingTransport shortLeadOut;
    shortLeadOut.answer(std::vector<uint8_t>(lead.begin(), lead.begin() + 8)).answer(tracks);
    EXPECT_EQ(readToc(shortLeadOut, 1, &entry), 0);

    EXPECT_TRUE(isUntouched(entry));
}

TEST(CommandReplies, TocTrackCountBeyondWhatArrivedIsAFailure)
{
    const auto lead = leadOutReply(1, 99, 30000);
    // The header claims 99 tracks, two descriptors came.
    auto tracks = tracksReply(1, 99, {{1, 0x14, 0}, {2, 0x10, 10000}}, 0);
    CdTocEntry entries[99];
    EXPECT_EQ(parseToc(lead.data(), lead.size(), tracks.data(), tracks.size(), 99, entries), 0);

    // Last before first, and a header alone.
    auto backwards = tracksReply(5, 4, {{5, 0x14, 0}}, 0);
    EXPECT_EQ(parseToc(lead.data(), lead.size(), backwards.data(), backwards.size(), 99, entries), 0);
    EXPECT_EQ(parseToc(lead.data(), lead.size(), tracks.data(), 3, 99, entries), 0);
}

TEST(CommandReplies, TocCountIsBoundedByTheReplyBuffer)
{
    // 101 descriptors fill 812 of the 816 bytes; a count of 102 would need 820.
    const auto lead = leadOutReply(1, 101, 500000);
    std::vector<uint8_t> full(kTocTracksLength, 0);
    full[2] = 1;
    full[3] = 101;
    for (size_t i = 0; i < 101; ++i) {
        const uint32_t start = uint32_t(i) * 1000;
        full[4 + i * 8 + 2] = uint8_t(i + 1);
        full[4 + i * 8 + 4] = uint8_t(start >> 24);
        full[4 + i * 8 + 5] = uint8_t(start >> 16);
        full[4 + i * 8 + 6] = uint8_t(start >> 8);
        full[4 + i * 8 + 7] = uint8_t(start);
    }
    std::vector<CdTocEntry> entries(101);
    ASSERT_EQ(parseToc(lead.data(), lead.size(), full.data(), full.size(), 101, entries.data()), 101);
    EXPECT_EQ(entries[100].start, 100000u);
    EXPECT_EQ(entries[100].length, 400000u); // up to the lead-out of the first reply

    full[3] = 102;
    EXPECT_EQ(parseToc(lead.data(), lead.size(), full.data(), full.size(), 102, entries.data()), 0);
    full[2] = 0;
    full[3] = 255;
    EXPECT_EQ(parseToc(lead.data(), lead.size(), full.data(), full.size(), 101, entries.data()), 0);
}

TEST(CommandReplies, TocWithNoRoomStillCountsTracks)
{
    const auto lead = leadOutReply(1, 2, 9000);
    const auto tracks = tracksReply(1, 2, {{1, 0x14, 0}, {2, 0x10, 5000}}, 0);
    EXPECT_EQ(parseToc(lead.data(), lead.size(), tracks.data(), tracks.size(), 0, nullptr), 2);
    CdTocEntry entry = untouched();
    EXPECT_EQ(parseToc(lead.data(), lead.size(), tracks.data(), tracks.size(), -1, &entry), 2);
    EXPECT_TRUE(isUntouched(entry));
}

TEST(CommandBlocks, Mode1TestAsksByteNineByInterface)
{
    RecordingTransport block;
    block.answer(std::vector<uint8_t>(2352, 0));
    EXPECT_TRUE(readsAsMode1(block, CD_USE_SR, 123456));
    EXPECT_EQ(block.commands[0].cdb, cdb({0xBE, 0x08, 0x00, 0x01, 0xE2, 0x40, 0, 0, 0x01, 0xF8, 0, 0}));
    EXPECT_EQ(block.commands[0].dataLength, 2352u);

    RecordingTransport generic;
    generic.answer();
    EXPECT_TRUE(readsAsMode1(generic, CD_USE_SG, 123456));
    EXPECT_EQ(generic.commands[0].cdb, cdb({0xBE, 0x08, 0x00, 0x01, 0xE2, 0x40, 0, 0, 0x01, 0x00, 0, 0}));

    RecordingTransport image;
    image.answer({}, 0x02);
    EXPECT_FALSE(readsAsMode1(image, kImageInterface, 16));
    EXPECT_EQ(image.commands[0].cdb[9], 0xF8);
}

TEST(CommandBlocks, SpeedTablesOfBothInterfaces)
{
    struct Row
    {
        int32_t n;
        uint16_t generic;
        uint16_t block;
    };
    const Row rows[] = {{-1, 0xFFFF, 0xFFFF},
                        {0, 0xFFFF, 0xFFFF},
                        {1, 176, 176},
                        {2, 352, 352},
                        {3, 528, 528},
                        {4, 704, 704},
                        {6, 1056, 704},
                        {7, 1232, 704},
                        {8, 1408, 1408},
                        {15, 2640, 1408},
                        {16, 2816, 2816},
                        {52, 9152, 2816},
                        {400, uint16_t(400 * 176), 2816}};
    for (const Row& row : rows) {
        EXPECT_EQ(spinSpeedValue(CD_USE_SG, row.n), row.generic) << row.n;
        EXPECT_EQ(spinSpeedValue(CD_USE_SR, row.n), row.block) << row.n;
        EXPECT_EQ(spinSpeedValue(kImageInterface, row.n), row.block) << row.n;
    }
}

TEST(CommandBlocks, SetCdSpeedBlock)
{
    RecordingTransport transport;
    transport.answer().answer().answer({}, 0x02);
    EXPECT_TRUE(setSpinSpeed(transport, CD_USE_SG, 6));
    EXPECT_TRUE(setSpinSpeed(transport, CD_USE_SR, 6));
    EXPECT_FALSE(setSpinSpeed(transport, CD_USE_SR, 0));
    EXPECT_EQ(transport.commands[0].cdb, cdb({0xBB, 0, 0x04, 0x20, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(transport.commands[1].cdb, cdb({0xBB, 0, 0x02, 0xC0, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(transport.commands[2].cdb, cdb({0xBB, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}));
    EXPECT_FALSE(transport.commands[0].hasData);
    EXPECT_EQ(transport.commands[0].dataLength, 0u);
}

std::vector<uint8_t> modeSenseReply(uint8_t descriptorLength)
{
    std::vector<uint8_t> reply(4 + size_t(descriptorLength), 0x99);
    reply[1] = reply[2] = 0;
    reply[3] = descriptorLength;
    std::vector<uint8_t> page(0x1C, 0);
    page[0] = 0x2A;
    page[1] = 0x1A;
    page[2] = 0x3B;
    page[3] = 0x37;
    page[4] = 0x71; // bit 4 Mode 2 Form 1, bit 5 Mode 2 Form 2
    page[5] = 0x5F;
    page[6] = 0x29;
    page[8] = 0x1B; // 7040 kB/s
    page[9] = 0x80;
    page[18] = 0x0D; // 3528 kB/s
    page[19] = 0xC8;
    reply.insert(reply.end(), page.begin(), page.end());
    reply[0] = uint8_t(reply.size() - 1);
    return reply;
}

TEST(CommandBlocks, ModeSenseBlockByPageControl)
{
    const uint8_t expected[] = {0x2A, 0x6A, 0xAA, 0xEA};
    for (int32_t pc = 0; pc < 4; ++pc) {
        RecordingTransport transport;
        transport.answer(modeSenseReply(0));
        Capabilities capabilities;
        ASSERT_TRUE(readCapabilities(transport, pc, capabilities));
        EXPECT_EQ(transport.commands[0].cdb, cdb({0x1A, 0, expected[pc], 0, 0xFF, 0})) << pc;
        EXPECT_EQ(transport.commands[0].dataLength, 256u);
    }
}

TEST(CommandReplies, CapabilityWordAndSpeeds)
{
    for (const uint8_t d : {uint8_t(0), uint8_t(8)}) {
        const auto reply = modeSenseReply(d);
        Capabilities capabilities;
        ASSERT_TRUE(parseCapabilities(reply.data(), reply.size(), capabilities));
        EXPECT_EQ(capabilities.word, 0xB7715F29u) << int(d);
        EXPECT_EQ((capabilities.word >> 20) & 1, 1u); // Mode 2 Form 1
        EXPECT_EQ((capabilities.word >> 21) & 1, 1u); // Mode 2 Form 2
        EXPECT_EQ(capabilities.maxReadSpeed, 7040);
        EXPECT_EQ(capabilities.maxWriteSpeed, 3528);
    }
}

TEST(CommandReplies, CapabilityWordWithoutForm2)
{
    auto reply = modeSenseReply(0);
    reply[4 + 4] = 0x10;
    Capabilities capabilities;
    ASSERT_TRUE(parseCapabilities(reply.data(), reply.size(), capabilities));
    EXPECT_EQ((capabilities.word >> 20) & 3, 1u);
}

TEST(CommandReplies, CapabilityReplyCutShortOrPointingBeyondFails)
{
    const auto reply = modeSenseReply(8);
    Capabilities capabilities;
    capabilities.word = 0x1234;
    EXPECT_FALSE(parseCapabilities(reply.data(), 4 + 8 + 19, capabilities));
    EXPECT_FALSE(parseCapabilities(reply.data(), 3, capabilities));
    auto beyond = reply;
    beyond[3] = 250;
    EXPECT_FALSE(parseCapabilities(beyond.data(), beyond.size(), capabilities));
    EXPECT_EQ(capabilities.word, 0x1234u);

    RecordingTransport failing;
    failing.answer(reply, 0x02);
    EXPECT_FALSE(readCapabilities(failing, 0, capabilities));
}

std::vector<uint8_t> subChannelReply(bool valid)
{
    std::vector<uint8_t> reply(24, 0);
    reply[3] = 20;
    reply[4] = 0x02;
    reply[8] = valid ? 0x80 : 0x00;
    std::memcpy(reply.data() + 9, "4988001234567", 13);
    reply[22] = 0x00;
    reply[23] = 0x5A;
    return reply;
}

TEST(CommandBlocks, ReadSubChannelBlock)
{
    RecordingTransport transport;
    transport.answer(subChannelReply(true));
    CdUpcEan code{};
    ASSERT_TRUE(readCatalogueNumber(transport, code));
    EXPECT_EQ(transport.commands[0].cdb, cdb({0x42, 0, 0x40, 0x02, 0, 0, 0, 0x00, 0x30, 0}));
    EXPECT_EQ(transport.commands[0].dataLength, 48u);
    EXPECT_EQ(std::memcmp(code.bytes, "4988001234567\0\x5A", 15), 0);
}

TEST(CommandReplies, CatalogueNumberNotValidLeavesTheCodeAlone)
{
    CdUpcEan code;
    std::memset(code.bytes, 'x', sizeof(code.bytes));
    const auto invalid = subChannelReply(false);
    EXPECT_FALSE(parseCatalogueNumber(invalid.data(), invalid.size(), code));
    const auto valid = subChannelReply(true);
    EXPECT_FALSE(parseCatalogueNumber(valid.data(), 23, code)); // last byte missing
    for (const uint8_t b : code.bytes)
        EXPECT_EQ(b, 'x');

    RecordingTransport failing;
    failing.answer(valid, 0x02);
    EXPECT_FALSE(readCatalogueNumber(failing, code));
    EXPECT_EQ(code.bytes[0], 'x');
}

TEST(CommandBlocks, BlockReadsOfBothSectorSizes)
{
    std::vector<uint8_t> buffer(10 * 2352);
    RecordingTransport transport;
    transport.answer(std::vector<uint8_t>(10 * 2352, 1)).answer(std::vector<uint8_t>(3 * 2048, 2));
    EXPECT_TRUE(readBlocks(transport, 0x01020304, 10, 2352, buffer.data()));
    EXPECT_TRUE(readBlocks(transport, 100, 3, 2048, buffer.data()));
    EXPECT_EQ(transport.commands[0].cdb, cdb({0xBE, 0, 0x01, 0x02, 0x03, 0x04, 0, 0, 10, 0xF8, 0, 0}));
    EXPECT_EQ(transport.commands[0].dataLength, 23520u);
    EXPECT_EQ(transport.commands[0].timeoutMs, kReadTimeoutMs);
    EXPECT_EQ(transport.commands[1].cdb, cdb({0x28, 0, 0, 0, 0, 100, 0, 0, 3, 0}));
    EXPECT_EQ(transport.commands[1].dataLength, 6144u);

    // Out of range counts send nothing; a short transfer is a failure.
    EXPECT_FALSE(readBlocks(transport, 0, 0, 2352, buffer.data()));
    EXPECT_FALSE(readBlocks(transport, 0, kMaxReadSectors + 1, 2352, buffer.data()));
    EXPECT_EQ(transport.commands.size(), 2u);
    transport.answer(std::vector<uint8_t>(2352 + 100, 0));
    EXPECT_FALSE(readBlocks(transport, 0, 2, 2352, buffer.data()));
}

} // namespace
} // namespace discport::testing
