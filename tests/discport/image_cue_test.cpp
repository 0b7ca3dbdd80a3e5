// CUE/BIN images through the transport: the TOC replies a drive would give, sectors read back as
// stored, pregaps and several files, and sheets that cannot be used.
#include <gtest/gtest.h>

#include "image/image_transport.h"
#include "image_builder.h"

using namespace discport;
using namespace discport::imagetest;

namespace {

std::shared_ptr<ImageTransport> openOk(const std::string& path)
{
    std::string error;
    auto transport = openImageTransport(path, error);
    EXPECT_TRUE(transport) << error;
    return transport;
}

std::string openError(const std::string& path)
{
    std::string error;
    auto transport = openImageTransport(path, error);
    EXPECT_FALSE(transport);
    EXPECT_FALSE(error.empty());
    return error;
}

class TwoTrackImage : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        bin = twoTrackBin();
        writeBytes(dir.file("disc.bin"), bin);
        writeText(dir.file("disc.cue"), kTwoTrackCue);
        transport = openOk(dir.file("disc.cue"));
        ASSERT_TRUE(transport);
    }

    TempDir dir;
    std::vector<uint8_t> bin;
    std::shared_ptr<ImageTransport> transport;
};

} // namespace

TEST_F(TwoTrackImage, LeadOutReplyOfTheFirstTocCommand)
{
    const Reply reply = readToc(*transport, 0xAA, 12);
    ASSERT_TRUE(reply.result.good());
    EXPECT_EQ(reply.result.senseLength, 0);
    EXPECT_EQ(reply.result.transferred, 12u);
    const std::vector<uint8_t> expected = {0x00, 0x0A, 0x01, 0x02, //
                                           0x00, 0x10, 0xAA, 0x00, 0x00, 0x00, 0x00, 0xD7};
    EXPECT_EQ(reply.data, expected);
    EXPECT_EQ(transport->sectorCount(), kTwoTrackSectors);
}

TEST_F(TwoTrackImage, AllTracksReplyOfTheSecondTocCommand)
{
    const Reply reply = readToc(*transport, 0, 816);
    ASSERT_TRUE(reply.result.good());
    ASSERT_EQ(reply.result.transferred, 28u);
    const std::vector<uint8_t> expected = {
        0x00, 0x1A, 0x01, 0x02,                         // length 26, tracks 1 to 2
        0x00, 0x14, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, // track 1, data, LBA 0
        0x00, 0x10, 0x02, 0x00, 0x00, 0x00, 0x00, 0xBE, // track 2, audio, LBA 190 (INDEX 01)
        0x00, 0x10, 0xAA, 0x00, 0x00, 0x00, 0x00, 0xD7, // lead-out, LBA 215
    };
    EXPECT_EQ(slice(reply.data, 0, 28), expected);
}

TEST_F(TwoTrackImage, TocFromALaterTrackInMsfAndTheSessionFormat)
{
    Reply reply = readToc(*transport, 2, 816, true);
    ASSERT_TRUE(reply.result.good());
    const std::vector<uint8_t> fromTrack2 = {
        0x00, 0x12, 0x01, 0x02,                         //
        0x00, 0x10, 0x02, 0x00, 0x00, 0x00, 0x04, 0x28, // 190 + 150 = 340 = 00:04:40
        0x00, 0x10, 0xAA, 0x00, 0x00, 0x00, 0x04, 0x41, // 215 + 150 = 365 = 00:04:65
    };
    EXPECT_EQ(slice(reply.data, 0, reply.result.transferred), fromTrack2);

    reply = readToc(*transport, 0, 12, false, 1);
    ASSERT_TRUE(reply.result.good());
    const std::vector<uint8_t> sessions = {0x00, 0x0A, 0x01, 0x01, 0x00, 0x14, 0x01, 0x00, 0, 0, 0, 0};
    EXPECT_EQ(reply.data, sessions);

    expectCheckCondition(*transport, readToc(*transport, 3, 816), 0x05, 0x24);           // no track 3
    expectCheckCondition(*transport, readToc(*transport, 0, 816, false, 5), 0x05, 0x24); // format 5
}

TEST_F(TwoTrackImage, ShortAllocationAndShortBufferCutTheReply)
{
    Reply reply = readToc(*transport, 0, 8);
    ASSERT_TRUE(reply.result.good());
    EXPECT_EQ(reply.result.transferred, 8u);
    EXPECT_EQ(reply.data[1], 0x1A); // the length field still tells the whole size

    // Allocation 816 into a 10-byte buffer: ten bytes and no more (run() checks the guard area).
    reply = run(*transport, {0x43, 0, 0, 0, 0, 0, 0, 0x03, 0x30, 0}, 10);
    ASSERT_TRUE(reply.result.good());
    EXPECT_EQ(reply.result.transferred, 10u);
}

TEST_F(TwoTrackImage, EverySectorReadsBackAsStored)
{
    for (uint32_t lba = 0; lba < kTwoTrackSectors; lba += 10) {
        const uint32_t count = std::min<uint32_t>(10, kTwoTrackSectors - lba);
        const Reply reply = readCd(*transport, lba, count);
        ASSERT_TRUE(reply.result.good()) << lba;
        ASSERT_EQ(reply.result.transferred, count * kRaw);
        ASSERT_EQ(reply.data, slice(bin, lba * kRaw, count * kRaw)) << "sectors from " << lba;
    }
}

TEST_F(TwoTrackImage, Read10GivesTheUserDataOfForm1Sectors)
{
    const Reply reply = read10(*transport, 1, 3);
    ASSERT_TRUE(reply.result.good());
    ASSERT_EQ(reply.result.transferred, 3 * kUser);
    for (uint32_t i = 0; i < 3; ++i)
        EXPECT_EQ(slice(reply.data, i * kUser, kUser), slice(bin, (1 + i) * kRaw + 24, kUser)) << i;

    // Sector 4 is Form 2, sector 190 audio: no 2048-byte user data there.
    expectCheckCondition(*transport, read10(*transport, 3, 2), 0x05, 0x64);
    expectCheckCondition(*transport, read10(*transport, kTwoTrackAudioStart, 1), 0x05, 0x64);
}

TEST_F(TwoTrackImage, Mode1TestFailsOnMode2AndOnAudio)
{
    // The command of the track type test: expected sector type Mode 1, one sector, both field choices.
    for (uint8_t fields : {uint8_t(0xF8), uint8_t(0x00)}) {
        expectCheckCondition(*transport, readCd(*transport, 0, 1, 0x08, fields, kRaw), 0x05, 0x64);
        expectCheckCondition(*transport, readCd(*transport, kTwoTrackAudioStart, 1, 0x08, fields, kRaw), 0x05,
                             0x64);
    }
    // The other expected types on the same sectors.
    EXPECT_TRUE(readCd(*transport, 0, 1, 4 << 2).result.good());                   // Mode 2 Form 1
    EXPECT_FALSE(readCd(*transport, 0, 1, 5 << 2).result.good());                  // Mode 2 Form 2
    EXPECT_TRUE(readCd(*transport, 4, 1, 5 << 2).result.good());                   // sector 4 is Form 2
    EXPECT_TRUE(readCd(*transport, 4, 1, 3 << 2).result.good());                   // Mode 2 formless
    EXPECT_TRUE(readCd(*transport, kTwoTrackAudioStart, 1, 1 << 2).result.good()); // CD-DA
    EXPECT_FALSE(readCd(*transport, 0, 1, 1 << 2).result.good());
    expectCheckCondition(*transport, readCd(*transport, 0, 1, 6 << 2), 0x05, 0x24); // reserved type
}

TEST_F(TwoTrackImage, ReadCdFieldSelections)
{
    const auto sector = [&](uint32_t lba) { return slice(bin, lba * kRaw, kRaw); };

    // User data only: 2048 bytes from 24 (Form 1), 2324 from 24 (Form 2), 2352 of audio.
    Reply reply = readCd(*transport, 3, 2, 0, 0x10, 2048 + 2324);
    ASSERT_TRUE(reply.result.good());
    ASSERT_EQ(reply.result.transferred, 2048u + 2324u);
    EXPECT_EQ(slice(reply.data, 0, 2048), slice(sector(3), 24, 2048));
    EXPECT_EQ(slice(reply.data, 2048, 2324), slice(sector(4), 24, 2324));

    reply = readCd(*transport, 100, 1, 0, 0x10);
    ASSERT_TRUE(reply.result.good());
    EXPECT_EQ(reply.data, sector(100));

    // Header and sub-header and user data (0x70), and with the error field (C2 pointers, 294 bytes).
    reply = readCd(*transport, 0, 1, 0, 0x70, 4 + 8 + 2048);
    ASSERT_TRUE(reply.result.good());
    EXPECT_EQ(reply.data, slice(sector(0), 12, 4 + 8 + 2048));
    reply = readCd(*transport, 0, 1, 0, 0xFA, 2352 + 294);
    ASSERT_TRUE(reply.result.good());
    ASSERT_EQ(reply.result.transferred, 2352u + 294u);
    EXPECT_EQ(slice(reply.data, 0, kRaw), sector(0));
    EXPECT_EQ(slice(reply.data, kRaw, 294), std::vector<uint8_t>(294, 0));

    // Nothing selected: the command succeeds with no data.
    reply = readCd(*transport, 0, 5, 0, 0x00, kRaw);
    ASSERT_TRUE(reply.result.good());
    EXPECT_EQ(reply.result.transferred, 0u);

    // A sub-channel selection is not offered.
    Reply sub = run(*transport, {0xBE, 0, 0, 0, 0, 0, 0, 0, 1, 0xF8, 0x01, 0}, kRaw + 96);
    expectCheckCondition(*transport, sub, 0x05, 0x24);
}

TEST_F(TwoTrackImage, AShortBufferTakesOnlyWhatFits)
{
    // Three sectors asked into a buffer of one sector and 100 bytes: the buffer is filled, no more.
    const Reply reply = readCd(*transport, 0, 3, 0, 0xF8, kRaw + 100);
    ASSERT_TRUE(reply.result.good());
    EXPECT_EQ(reply.result.transferred, kRaw + 100);
    EXPECT_EQ(reply.data, slice(bin, 0, kRaw + 100));
    const Reply user = read10(*transport, 0, 3, kUser + 10);
    ASSERT_TRUE(user.result.good());
    EXPECT_EQ(user.result.transferred, kUser + 10);
    EXPECT_EQ(slice(user.data, kUser, 10), slice(bin, kRaw + 24, 10));
}

TEST_F(TwoTrackImage, ReadsBeyondTheDiscFailCleanly)
{
    expectCheckCondition(*transport, readCd(*transport, kTwoTrackSectors, 1), 0x05, 0x21);
    expectCheckCondition(*transport, readCd(*transport, kTwoTrackSectors - 2, 3), 0x05, 0x21);
    expectCheckCondition(*transport, readCd(*transport, 0xFFFFFFFF, 2), 0x05, 0x21); // wraps around
    expectCheckCondition(*transport, read10(*transport, kTwoTrackSectors, 1), 0x05, 0x21);
    expectCheckCondition(*transport, read10(*transport, 0xFFFFFFF0, 0x20), 0x05, 0x21);
    // The last sector still reads.
    const Reply last = readCd(*transport, kTwoTrackSectors - 1, 1);
    ASSERT_TRUE(last.result.good());
    EXPECT_EQ(last.data, slice(bin, (kTwoTrackSectors - 1) * kRaw, kRaw));
}

TEST(CueImage, SeveralFilesPregapsAndPostgaps)
{
    TempDir dir;
    // Track 1: MODE1/2048 in its own file (30 sectors), then POSTGAP 10.
    std::vector<uint8_t> iso(30 * kUser);
    fillPattern(iso.data(), iso.size(), 0, 7);
    writeBytes(dir.file("data track.iso"), iso);
    // Track 2: AUDIO with PREGAP 00:02:00 (not stored), 20 sectors; track 3: AUDIO in the same
    // file with INDEX 00 (5 sectors stored) then 12 sectors; big-endian samples (MOTOROLA).
    std::vector<uint8_t> audio;
    for (uint32_t i = 0; i < 37; ++i)
        append(audio, audioSector(i, 9));
    writeBytes(dir.file("Audio.BIN"), audio);
    writeText(dir.file("multi.cue"), "FILE \"data track.iso\" BINARY\n"
                                     "  TRACK 01 MODE1/2048\n"
                                     "    INDEX 01 00:00:00\n"
                                     "    POSTGAP 00:00:10\n"
                                     "FILE audio.bin MOTOROLA\n" // other letter case than on disk
                                     "  TRACK 02 AUDIO\n"
                                     "    PREGAP 00:02:00\n"
                                     "    INDEX 01 00:00:00\n"
                                     "  TRACK 03 AUDIO\n"
                                     "    INDEX 00 00:00:20\n"
                                     "    INDEX 01 00:00:25\n");
    auto transport = openOk(dir.file("multi.cue"));
    ASSERT_TRUE(transport);

    // Track 1 at 0 (30 + 10 sectors), track 2 at 40 + 150 = 190, its 20 sectors to 210, track 3's
    // INDEX 00 at 210 and INDEX 01 at 215, 12 sectors to the lead-out at 227.
    const Reply toc = readToc(*transport, 0, 816);
    ASSERT_TRUE(toc.result.good());
    const std::vector<uint8_t> expected = {
        0x00, 0x22, 0x01, 0x03,                         //
        0x00, 0x14, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, //
        0x00, 0x10, 0x02, 0x00, 0x00, 0x00, 0x00, 0xBE, //
        0x00, 0x10, 0x03, 0x00, 0x00, 0x00, 0x00, 0xD7, //
        0x00, 0x10, 0xAA, 0x00, 0x00, 0x00, 0x00, 0xE3, //
    };
    EXPECT_EQ(slice(toc.data, 0, toc.result.transferred), expected);
    EXPECT_EQ(transport->sectorCount(), 227u);

    // Track 1's user data as stored; its postgap as empty Mode 1 sectors.
    Reply reply = read10(*transport, 0, 30);
    ASSERT_TRUE(reply.result.good());
    EXPECT_EQ(reply.data, iso);
    reply = read10(*transport, 30, 10);
    ASSERT_TRUE(reply.result.good());
    EXPECT_EQ(reply.data, std::vector<uint8_t>(10 * kUser, 0));
    reply = readCd(*transport, 35, 1, 0x08); // still a Mode 1 sector
    ASSERT_TRUE(reply.result.good());
    EXPECT_EQ(reply.data[15], 1);

    // The pregap of track 2 reads as silence; track 2 and 3 sectors are the file's with each
    // 16-bit sample byte-swapped.
    reply = readCd(*transport, 40, 150);
    ASSERT_TRUE(reply.result.good());
    EXPECT_EQ(reply.data, std::vector<uint8_t>(150 * kRaw, 0));
    for (uint32_t fileSector : {0u, 19u, 20u, 25u, 36u}) {
        reply = readCd(*transport, 190 + fileSector, 1);
        ASSERT_TRUE(reply.result.good());
        std::vector<uint8_t> swapped = slice(audio, fileSector * kRaw, kRaw);
        for (size_t i = 0; i < swapped.size(); i += 2)
            std::swap(swapped[i], swapped[i + 1]);
        EXPECT_EQ(reply.data, swapped) << fileSector;
    }
}

TEST(CueImage, TrackOnePregapIsTheLeadInAndStoredPregapBelongsBeforeIndex1)
{
    TempDir dir;
    std::vector<uint8_t> bin;
    for (uint32_t lba = 0; lba < 200; ++lba)
        append(bin, mode1Sector(lba, 3));
    writeBytes(dir.file("a.bin"), bin);

    // PREGAP 00:02:00 on track 1 takes no address: the track starts at 0.
    writeText(dir.file("a.cue"),
              "FILE a.bin BINARY\nTRACK 01 MODE1/2352\nPREGAP 00:02:00\nINDEX 01 00:00:00\n");
    auto transport = openOk(dir.file("a.cue"));
    ASSERT_TRUE(transport);
    Reply toc = readToc(*transport, 0, 816);
    ASSERT_TRUE(toc.result.good());
    EXPECT_EQ(slice(toc.data, 8, 4), (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(transport->sectorCount(), 200u);
    // A Mode 1 track: the track type test succeeds.
    EXPECT_TRUE(readCd(*transport, 0, 1, 0x08).result.good());
    EXPECT_TRUE(readCd(*transport, 0, 1, 0x08, 0x00, kRaw).result.good());

    // INDEX 01 at 00:01:00 in the file: the 75 sectors before it are on the disc, before the track start.
    writeText(dir.file("b.cue"), "FILE a.bin BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:01:00\n");
    transport = openOk(dir.file("b.cue"));
    ASSERT_TRUE(transport);
    toc = readToc(*transport, 0, 816);
    ASSERT_TRUE(toc.result.good());
    EXPECT_EQ(slice(toc.data, 8, 4), (std::vector<uint8_t>{0, 0, 0, 75}));
    EXPECT_EQ(slice(toc.data, 16, 4), (std::vector<uint8_t>{0, 0, 0, 200}));
    const Reply first = readCd(*transport, 0, 1);
    ASSERT_TRUE(first.result.good());
    EXPECT_EQ(first.data, slice(bin, 0, kRaw));
}

TEST(CueImage, MixedSectorSizesInOneFile)
{
    TempDir dir;
    // 10 sectors of 2048 bytes, then 6 audio sectors of 2352, in one file.
    std::vector<uint8_t> bin(10 * kUser);
    fillPattern(bin.data(), bin.size(), 1, 1);
    for (uint32_t i = 0; i < 6; ++i)
        append(bin, audioSector(i, 4));
    writeBytes(dir.file("m.bin"), bin);
    writeText(dir.file("m.cue"), "FILE m.bin BINARY\nTRACK 01 MODE1/2048\nINDEX 01 00:00:00\n"
                                 "TRACK 02 AUDIO\nINDEX 01 00:00:10\n");
    auto transport = openOk(dir.file("m.cue"));
    ASSERT_TRUE(transport);
    EXPECT_EQ(transport->sectorCount(), 16u);
    const Reply reply = readCd(*transport, 10, 6);
    ASSERT_TRUE(reply.result.good());
    EXPECT_EQ(reply.data, slice(bin, 10 * kUser, 6 * kRaw));
    const Reply user = read10(*transport, 9, 1);
    ASSERT_TRUE(user.result.good());
    EXPECT_EQ(user.data, slice(bin, 9 * kUser, kUser));
}

TEST(CueImage, Mode2Of2336BytesGetsSyncAndHeader)
{
    TempDir dir;
    std::vector<uint8_t> bin;
    std::vector<std::vector<uint8_t>> sectors;
    for (uint32_t lba = 0; lba < 4; ++lba) {
        sectors.push_back(mode2Sector(lba, lba == 2, 6));
        bin.insert(bin.end(), sectors.back().begin() + 16, sectors.back().end());
    }
    writeBytes(dir.file("x.bin"), bin);
    writeText(dir.file("x.cue"), "FILE x.bin BINARY\nTRACK 01 MODE2/2336\nINDEX 01 00:00:00\n");
    auto transport = openOk(dir.file("x.cue"));
    ASSERT_TRUE(transport);
    for (uint32_t lba = 0; lba < 4; ++lba) {
        const Reply reply = readCd(*transport, lba, 1);
        ASSERT_TRUE(reply.result.good());
        EXPECT_EQ(reply.data, sectors[lba]) << lba;
    }
}

TEST(CueImage, UnusableSheetsFailWithAReason)
{
    TempDir dir;
    writeBytes(dir.file("disc.bin"), twoTrackBin());

    writeText(dir.file("missing.cue"),
              "FILE \"nothere.bin\" BINARY\nTRACK 01 MODE2/2352\nINDEX 01 00:00:00\n");
    std::string error = openError(dir.file("missing.cue"));
    EXPECT_NE(error.find("nothere.bin"), std::string::npos) << error;

    writeText(dir.file("badtime.cue"), "FILE disc.bin BINARY\nTRACK 01 MODE2/2352\nINDEX 01 00:00:80\n");
    error = openError(dir.file("badtime.cue"));
    EXPECT_NE(error.find("line 3: bad time"), std::string::npos) << error;
    EXPECT_NE(error.find("badtime.cue"), std::string::npos) << error;

    // The BIN holds 215 sectors: a track at 00:03:00 (225) is beyond it, and so is 00:02:65 (215).
    writeText(dir.file("short.cue"), "FILE disc.bin BINARY\nTRACK 01 MODE2/2352\nINDEX 01 00:00:00\n"
                                     "TRACK 02 AUDIO\nINDEX 01 00:03:00\n");
    error = openError(dir.file("short.cue"));
    EXPECT_NE(error.find("too short for track 2"), std::string::npos) << error;
    writeText(dir.file("edge.cue"), "FILE disc.bin BINARY\nTRACK 01 MODE2/2352\nINDEX 01 00:00:00\n"
                                    "TRACK 02 AUDIO\nINDEX 01 00:02:65\n");
    openError(dir.file("edge.cue"));
    writeText(dir.file("fits.cue"), "FILE disc.bin BINARY\nTRACK 01 MODE2/2352\nINDEX 01 00:00:00\n"
                                    "TRACK 02 AUDIO\nINDEX 01 00:02:64\n");
    EXPECT_TRUE(openOk(dir.file("fits.cue")));

    std::string tooMany = "FILE disc.bin BINARY\n";
    for (int t = 1; t <= 100; ++t)
        tooMany += "TRACK " + std::to_string(t) + " AUDIO\nINDEX 01 00:0" + std::to_string(t / 75) + ":" +
                   std::to_string(t % 75) + "\n";
    writeText(dir.file("many.cue"), tooMany);
    error = openError(dir.file("many.cue"));
    EXPECT_NE(error.find("too many tracks"), std::string::npos) << error;

    writeText(dir.file("garbage.cue"), std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16));
    openError(dir.file("garbage.cue"));

    error = openError(dir.file("absent.cue"));
    EXPECT_NE(error.find("absent.cue"), std::string::npos) << error;

    // A sheet naming a folder instead of a file.
    fs::create_directory(dir.file("folder.bin"));
    writeText(dir.file("folder.cue"), "FILE folder.bin BINARY\nTRACK 01 MODE2/2352\nINDEX 01 00:00:00\n");
    error = openError(dir.file("folder.cue"));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
}

TEST(CueImage, CatalogueNumberOfTheSheet)
{
    TempDir dir;
    writeBytes(dir.file("disc.bin"), twoTrackBin());
    writeText(dir.file("c.cue"), std::string("CATALOG 4006381333931\n") + kTwoTrackCue);
    auto transport = openOk(dir.file("c.cue"));
    ASSERT_TRUE(transport);
    const Reply reply = run(*transport, {0x42, 0, 0x40, 0x02, 0, 0, 0, 0, 48, 0}, 48);
    ASSERT_TRUE(reply.result.good());
    EXPECT_EQ(reply.result.transferred, 24u);
    EXPECT_EQ(reply.data[8] & 0x80, 0x80);
    EXPECT_EQ(std::string(reply.data.begin() + 9, reply.data.begin() + 22), "4006381333931");
}
