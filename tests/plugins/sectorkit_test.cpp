// The shared sector parsers on inline sector fixtures, short buffers included, and the
// frame-rate guesses at their thresholds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "sectorkit/rate_guess.h"
#include "sectorkit/str_sector.h"

using namespace sectorkit;

namespace {

using Bytes = std::vector<uint8_t>;

// The first video sector of an encoder-made movie: sub-header 01/00/48/00, its STR header (whose
// last 12 bytes repeat the start of the frame data), and the frame data's MDEC header at 0x38.
Bytes movieSectorStart()
{
    Bytes s(kRawSectorBytes, 0x11);
    std::fill(s.begin(), s.begin() + 0x10, 0);
    const uint8_t sub[8] = {0x01, 0x00, 0x48, 0x00, 0x01, 0x00, 0x48, 0x00};
    std::copy(sub, sub + 8, s.begin() + 0x10);
    const uint8_t header[32] = {0x60, 0x01, 0x01, 0x80, 0x00, 0x00, 0x08, 0x00, 0x01, 0x00, 0x00,
                                0x00, 0x40, 0x3d, 0x00, 0x00, 0x40, 0x01, 0xf0, 0x00, 0xc0, 0x20,
                                0x00, 0x38, 0x02, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00};
    std::copy(header, header + 32, s.begin() + 0x18);
    std::copy(header + 20, header + 28, s.begin() + 0x38);
    return s;
}

void putWord(Bytes& s, size_t offset, uint16_t value)
{
    s[offset] = uint8_t(value);
    s[offset + 1] = uint8_t(value >> 8);
}

TEST(SectorkitSubHeader, ReadsTheFieldsAndComparesTheCopies)
{
    Bytes s = movieSectorStart();
    auto sub = parseSubHeader(s.data(), s.size());
    ASSERT_TRUE(sub);
    EXPECT_EQ(sub->file, 1);
    EXPECT_EQ(sub->channel, 0);
    EXPECT_EQ(sub->submode, 0x48);
    EXPECT_EQ(sub->coding, 0);
    EXPECT_TRUE(sub->copiesAgree);
    s[0x16] = 0x64;
    EXPECT_FALSE(parseSubHeader(s.data(), s.size())->copiesAgree);
}

TEST(SectorkitSubHeader, NeedsAllEightBytes)
{
    const Bytes s = movieSectorStart();
    EXPECT_TRUE(parseSubHeader(s.data(), 0x18));
    EXPECT_FALSE(parseSubHeader(s.data(), 0x17));
    EXPECT_FALSE(parseSubHeader(nullptr, 0x18));
}

TEST(SectorkitSubHeader, SoundSectorsWithOrWithoutEndOfFile)
{
    EXPECT_TRUE(isXaAudioSubmode(0x64));
    EXPECT_TRUE(isXaAudioSubmode(0xE4));
    EXPECT_FALSE(isXaAudioSubmode(0x48));
    EXPECT_FALSE(isXaAudioSubmode(0x24)); // form 2 sound without the real-time bit
    EXPECT_FALSE(isXaAudioSubmode(0x65));
    EXPECT_EQ(xaChannels(0x01), 2);
    EXPECT_EQ(xaChannels(0x04), 1);
    EXPECT_EQ(xaSampleRate(0x01), 37800u);
    EXPECT_EQ(xaSampleRate(0x05), 18900u);
}

TEST(SectorkitStrHeader, ReadsAnEncoderMadeHeader)
{
    const Bytes s = movieSectorStart();
    const auto h = parseStrSectorHeader(s.data(), s.size());
    ASSERT_TRUE(h);
    EXPECT_EQ(h->magic, 0x0160);
    EXPECT_EQ(h->type, 0x8001);
    EXPECT_EQ(h->sectorInFrame, 0);
    EXPECT_EQ(h->sectorsInFrame, 8);
    EXPECT_EQ(h->frameNumber, 1u);
    EXPECT_EQ(h->frameBytes, 0x3d40u);
    EXPECT_EQ(h->width, 320);
    EXPECT_EQ(h->height, 240);
}

TEST(SectorkitStrHeader, NeedsTheBufferToReachTheHeight)
{
    const Bytes s = movieSectorStart();
    EXPECT_TRUE(parseStrSectorHeader(s.data(), 0x2C));
    EXPECT_FALSE(parseStrSectorHeader(s.data(), 0x2B));
    EXPECT_FALSE(parseStrSectorHeader(s.data(), 0));
}

TEST(SectorkitReads, RejectOffsetsOutsideTheBuffer)
{
    const uint8_t b[4] = {1, 2, 3, 4};
    uint16_t w = 0;
    uint32_t d = 0;
    EXPECT_TRUE(readU16(b, 4, 2, w));
    EXPECT_EQ(w, 0x0403);
    EXPECT_FALSE(readU16(b, 4, 3, w));
    EXPECT_FALSE(readU16(b, 4, SIZE_MAX, w));
    EXPECT_TRUE(readU32(b, 4, 0, d));
    EXPECT_EQ(d, 0x04030201u);
    EXPECT_FALSE(readU32(b, 4, 1, d));
    EXPECT_FALSE(readU32(b, 4, SIZE_MAX - 1, d));
}

TEST(SectorkitMdecHeader, FindsTheEncoderMadeHeader)
{
    const Bytes s = movieSectorStart();
    EXPECT_EQ(findMdecHeaderWord(s.data(), s.size()), std::optional<uint32_t>(0));
    EXPECT_EQ(mdecHeaderWordOffset(0), 0x3Au);
}

TEST(SectorkitMdecHeader, Prefers3800Over3000AndSearches24Words)
{
    Bytes s(kRawSectorBytes, 0x11);
    EXPECT_FALSE(findMdecHeaderWord(s.data(), s.size()));
    putWord(s, mdecHeaderWordOffset(9), 0x3000);
    putWord(s, mdecHeaderWordOffset(4), 0x3000);
    EXPECT_EQ(findMdecHeaderWord(s.data(), s.size()), std::optional<uint32_t>(4));
    putWord(s, mdecHeaderWordOffset(23), 0x3800);
    EXPECT_EQ(findMdecHeaderWord(s.data(), s.size()), std::optional<uint32_t>(23));

    Bytes late(kRawSectorBytes, 0x11);
    putWord(late, mdecHeaderWordOffset(24), 0x3800);
    EXPECT_FALSE(findMdecHeaderWord(late.data(), late.size()));
    // An odd position is not a word of the search.
    Bytes odd(kRawSectorBytes, 0x11);
    putWord(odd, mdecHeaderWordOffset(3) + 1, 0x3800);
    EXPECT_FALSE(findMdecHeaderWord(odd.data(), odd.size()));
}

TEST(SectorkitMdecHeader, StopsAtTheEndOfAShortBuffer)
{
    Bytes s(kRawSectorBytes, 0x11);
    putWord(s, mdecHeaderWordOffset(2), 0x3000);
    putWord(s, mdecHeaderWordOffset(10), 0x3800);
    // Only words 0 to 9 lie inside the first 0x4F bytes; the 0x3800 word is past them.
    const Bytes shortCopy(s.begin(), s.begin() + mdecHeaderWordOffset(10) + 1);
    EXPECT_EQ(findMdecHeaderWord(shortCopy.data(), shortCopy.size()), std::optional<uint32_t>(2));
    EXPECT_EQ(findMdecHeaderWord(s.data(), s.size()), std::optional<uint32_t>(10));
}

TEST(SectorkitRate, FromPictureSize)
{
    EXPECT_EQ(rateFromPictureSize(640, 480), 75);  // 1200 macroblocks, q 75
    EXPECT_EQ(rateFromPictureSize(480, 320), 150); // 600, q 150
    EXPECT_EQ(rateFromPictureSize(320, 240), 300); // 300, q 300
    EXPECT_EQ(rateFromPictureSize(256, 224), 300); // 224, q 401
    EXPECT_EQ(rateFromPictureSize(240, 160), 600); // 150, q 600
    EXPECT_EQ(rateFromPictureSize(241, 161), 300); // partial macroblocks count: 176, q 511
    EXPECT_EQ(rateFromPictureSize(0, 240), 600);
    EXPECT_EQ(rateFromPictureSize(0xFFFFFFFF, 0xFFFFFFFF), 75);
}

TEST(SectorkitRate, FromFrameBytes)
{
    EXPECT_EQ(rateFromFrameBytes(20481), 75);
    EXPECT_EQ(rateFromFrameBytes(20480), 150);
    EXPECT_EQ(rateFromFrameBytes(10241), 150);
    EXPECT_EQ(rateFromFrameBytes(10240), 300);
    EXPECT_EQ(rateFromFrameBytes(5121), 300);
    EXPECT_EQ(rateFromFrameBytes(5120), 600);
    EXPECT_EQ(rateFromFrameBytes(0), 600);
}

TEST(SectorkitRate, FromSizeAndSectors)
{
    // 320x240 gives 300 by size; frames of 8 and 10 sectors (18144 bytes) give 150.
    EXPECT_EQ(rateFromSizeAndSectors(320, 240, 8, 10), 150);
    // Small pictures in small frames: the size guess (600) against 3 + 3 sectors (6048: 300).
    EXPECT_EQ(rateFromSizeAndSectors(160, 112, 3, 3), 300);
    EXPECT_EQ(rateFromSizeAndSectors(160, 112, 2, 3), 600);
    // Large pictures keep the size guess even in small frames.
    EXPECT_EQ(rateFromSizeAndSectors(640, 480, 1, 1), 75);
    // The 16-bit "no frame seen" marker cannot overflow the sum.
    EXPECT_EQ(rateFromSizeAndSectors(320, 240, 0xFFFF, 0xFFFF), 75);
}

TEST(SectorkitRate, SoundTime)
{
    EXPECT_EQ(xaAudioMs(57, 37800, 2), 3040u);
    EXPECT_EQ(xaAudioMs(14, 18900, 1), 2986u);
    EXPECT_EQ(xaAudioMs(1, 37800, 1), 106u);
    EXPECT_EQ(xaAudioMs(10, 0, 2), 0u);
    EXPECT_EQ(xaAudioMs(10, 37800, 0), 0u);
}

TEST(SectorkitRate, ReconciledWithSound)
{
    // 30 frames against 2026 ms of sound: about 14.8 frames per second.
    EXPECT_EQ(reconcileRateWithSound(150, 30, 2026), 150);
    EXPECT_EQ(reconcileRateWithSound(300, 30, 2026), 150);
    EXPECT_EQ(reconcileRateWithSound(170, 30, 2000), 170); // 2 frames per second apart: kept
    EXPECT_EQ(reconcileRateWithSound(171, 30, 2000), 150);
    EXPECT_EQ(reconcileRateWithSound(75, 30, 1000), 300);
    EXPECT_EQ(reconcileRateWithSound(75, 29, 1000), 290);
    EXPECT_EQ(reconcileRateWithSound(75, 30, 0), 75);
    EXPECT_EQ(reconcileRateWithSound(300, 1, 21333), 300); // the sound's rate rounds to 0
    EXPECT_EQ(reconcileRateWithSound(75, 0xFFFFFFFF, 1), 65535);
}

} // namespace
