#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "mdec/bitstream.h"
#include "mdec/idct.h"
#include "mdec/mdec_tables.h"
#include "mdec/reconstruct.h"
#include "mdec_frame_builder.h"

using namespace streamkit::mdec;

namespace {

std::vector<uint16_t> decode(const std::vector<uint8_t>& payload)
{
    std::vector<uint16_t> buffer;
    EXPECT_TRUE(decodeBitstream(payload.data(), payload.size(), buffer));
    return buffer;
}

// The codes of a decoded buffer, guards left out.
std::vector<uint16_t> codesOf(const std::vector<uint16_t>& buffer)
{
    return {buffer.begin() + 2, buffer.begin() + 2 + buffer[0] * 2};
}

TEST(AcCodeTable, IsPrefixFreeAndLeavesRoomForEndOfBlockAndEscape)
{
    struct Code
    {
        uint32_t bits;
        int length;
    };
    std::vector<Code> codes = {{0b10, 2}, {0b000001, 6}};
    for (const auto& c : kAcCodeTable)
        codes.push_back({c.pattern, c.length});
    std::set<std::pair<int, int>> runLevels;
    for (const auto& c : kAcCodeTable)
        EXPECT_TRUE(runLevels.insert({c.run, c.level}).second) << "run " << int(c.run) << " level " << int(c.level);
    for (size_t i = 0; i < codes.size(); ++i)
        for (size_t j = 0; j < codes.size(); ++j) {
            if (i == j || codes[i].length > codes[j].length)
                continue;
            const uint32_t head = codes[j].bits >> (codes[j].length - codes[i].length);
            EXPECT_NE(head, codes[i].bits) << "code " << i << " is a prefix of code " << j;
        }
}

TEST(Bitstream, TableSamplesDecodeToTheirRunAndLevel)
{
    // 11s (0,1) 011s (1,1) 0100s (0,2) 0101s (2,1) 00101s (0,3) 00110s (4,1) 00111s (3,1)
    // 0000110s (0,4) 00100001s (0,6), longest: 0000000000011111s (27,1)
    BitWriter w;
    w.put(5, 10).bits("110 0111 01000 01011 001010 001101 001110 00001100 001000011 00000000000111110").bits("10");
    const auto codes = codesOf(decode(framePayload(6, 1, 2, w.words())));
    const std::vector<uint16_t> expected = {
        uint16_t(1 << 10 | 5), 0x0001, uint16_t(1 << 10 | 0x3FF), 0x0002, uint16_t(2 << 10 | 0x3FF), 0x0003,
        uint16_t(4 << 10 | 0x3FF), uint16_t(3 << 10 | 1), 0x0004, uint16_t(0x3FA), uint16_t(27 << 10 | 1), 0xFE00,
    };
    EXPECT_EQ(codes, expected);
}

TEST(Bitstream, EscapeCarriesTheCodeItself)
{
    BitWriter w;
    w.put(0x1F0, 10).bits("000001").put(0x0401, 16).bits("10");
    const auto codes = codesOf(decode(framePayload(2, 3, 1, w.words())));
    // The fourth code is the next block's DC, read from the zero bits that follow.
    EXPECT_EQ(codes, (std::vector<uint16_t>{uint16_t(3 << 10 | 0x1F0), 0x0401, 0xFE00, 3 << 10}));
}

TEST(Bitstream, ZeroCodeWordsGivesOnlyGuards)
{
    const auto buffer = decode(framePayload(0, 1, 2, {}));
    ASSERT_EQ(buffer.size(), 2u + kGuardCodes);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(buffer[1], 0x3800);
    for (size_t i = 2; i < buffer.size(); ++i)
        EXPECT_EQ(buffer[i], 0xFE00);
}

TEST(Bitstream, SixtyThreeCodesWithoutEndOfBlockCloseTheBlockAndSkipTwoBits)
{
    BitWriter w;
    w.put(7, 10);
    for (int i = 0; i < 63; ++i)
        w.bits("110");  // (0, 1)
    w.bits("01");       // where the end-of-block code would stand: not checked
    w.put(9, 10).bits("10");
    const auto codes = codesOf(decode(framePayload(34, 1, 2, w.words())));
    ASSERT_EQ(codes.size(), 68u);
    EXPECT_EQ(codes[0], 1 << 10 | 7);
    for (int i = 1; i <= 63; ++i)
        EXPECT_EQ(codes[size_t(i)], 0x0001);
    EXPECT_EQ(codes[64], 0xFE00);
    EXPECT_EQ(codes[65], 1 << 10 | 9) << "the next block starts two bits on";
    EXPECT_EQ(codes[66], 0xFE00);
}

// The version 2 bitstream read the plain way: one bit at a time, each code matched against the
// code table, the block rules applied as they are described (at most 63 coefficient codes, an
// end-of-block code written and two bits passed over when a block has none, nothing past the
// code area).
std::vector<uint16_t> plainVersion2Codes(const std::vector<uint8_t>& payload)
{
    const size_t count = size_t(payload[0] | payload[1] << 8) * 2;
    const uint16_t qscale = uint16_t(payload[4] | payload[5] << 8);
    size_t bit = 0;
    auto take = [&](int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++bit) {
            const size_t word = bit / 16;
            const uint16_t w = 8 + 2 * word + 1 < payload.size()
                                   ? uint16_t(payload[8 + 2 * word] | payload[9 + 2 * word] << 8)
                                   : 0;
            v = v << 1 | ((w >> (15 - bit % 16)) & 1);
        }
        return v;
    };
    auto peekMatches = [&](uint32_t pattern, int length) {
        const size_t at = bit;
        const bool same = take(length) == pattern;
        bit = at;
        return same;
    };
    std::vector<uint16_t> codes;
    while (codes.size() < count) {
        codes.push_back(uint16_t(qscale << 10 | take(10)));
        const size_t limit = std::min(codes.size() + 63, count);
        bool ended = false;
        while (codes.size() < limit) {
            if (peekMatches(0b10, 2)) {
                take(2);
                codes.push_back(0xFE00);
                ended = true;
                break;
            }
            if (peekMatches(0b000001, 6)) {
                take(6);
                codes.push_back(uint16_t(take(16)));
                continue;
            }
            const AcCodeSpec* found = nullptr;
            for (const AcCodeSpec& c : kAcCodeTable)
                if (peekMatches(c.pattern, c.length))
                    found = &c;
            if (!found) {
                take(17);
                codes.push_back(0xFE00);
                ended = true;
                break;
            }
            take(found->length);
            const int level = take(1) ? -found->level : found->level;
            codes.push_back(uint16_t(found->run << 10 | (level & 0x3FF)));
        }
        if (!ended) {
            codes.push_back(0xFE00);
            take(2);
        }
    }
    codes.resize(count);
    return codes;
}

TEST(Bitstream, AgreesWithThePlainReadingOnRandomStreams)
{
    // Blocks of random lengths (some beyond 63 codes, some without an end), codes drawn mostly
    // from the short ones, with escapes, long codes and the odd code that does not exist, and
    // code counts that end the area anywhere.
    uint32_t seed = 99;
    auto next = [&seed](uint32_t n) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % n;
    };
    for (int round = 0; round < 300; ++round) {
        BitWriter w;
        const int blocks = 1 + int(next(12));
        for (int b = 0; b < blocks; ++b) {
            w.put(next(1024), 10);
            const int length = int(next(3) == 0 ? 55 + next(20) : next(12));
            for (int i = 0; i < length; ++i) {
                const uint32_t pick = next(100);
                if (pick < 2) {
                    w.bits("000001").put(next(65536), 16);
                } else if (pick < 3) {
                    w.bits("0000000000000000"); // no such code
                } else {
                    const AcCodeSpec& c =
                        kAcCodeTable[pick < 70 ? next(8) : next(uint32_t(kAcCodeTable.size()))];
                    w.put(c.pattern, c.length).put(next(2), 1);
                }
            }
            if (next(8) != 0)
                w.bits("10");
        }
        const uint16_t codeWords = uint16_t(1 + next(uint32_t(blocks) * 50));
        const auto payload = framePayload(codeWords, uint16_t(1 + next(63)), 2, w.words());
        ASSERT_EQ(codesOf(decode(payload)), plainVersion2Codes(payload)) << "round " << round;
    }
}

TEST(Bitstream, FullCodeAreaEndsTheLastBlock)
{
    BitWriter w;
    w.put(1, 10).bits("110 110 110 10");
    const auto buffer = decode(framePayload(1, 1, 2, w.words()));
    EXPECT_EQ(codesOf(buffer), (std::vector<uint16_t>{1 << 10 | 1, 0x0001}));
    for (size_t i = 4; i < buffer.size(); ++i)
        EXPECT_EQ(buffer[i], 0xFE00) << "guards intact";
}

TEST(Bitstream, DifferentialDcKeepsAPredictorPerBlockType)
{
    BitWriter w;
    w.bits("01 1").bits("10");     // Cr: size 1, value 1 -> +1
    w.bits("00").bits("10");       // Cb: size 0
    w.bits("100").bits("10");      // luma: size 0 adds nothing
    w.bits("00 0").bits("10");     // luma: size 1, value 0 -> -1
    w.bits("101 111").bits("10");  // luma: size 3, value 7 -> +7
    w.bits("100").bits("10");      // luma: size 0
    w.bits("10 01").bits("10");    // next macroblock, Cr: size 2, value 01 -> 1 - 3 = -2
    const auto codes = codesOf(decode(framePayload(7, 2, 3, w.words())));
    const uint16_t q = 2 << 10;
    const std::vector<uint16_t> expected = {
        uint16_t(q | 4),  0xFE00, q, 0xFE00, q, 0xFE00, uint16_t(q | 0x3FC), 0xFE00,
        uint16_t(q | 24), 0xFE00, uint16_t(q | 24), 0xFE00, uint16_t(q | 0x3FC), 0xFE00,
    };
    EXPECT_EQ(codes, expected);
}

TEST(Bitstream, LongDcSizeCodesAreBounded)
{
    // A luma size code of many ones (damaged data) must neither loop nor read without end.
    BitWriter w;
    w.bits("00").bits("10").bits("00").bits("10");
    for (int i = 0; i < 40; ++i)
        w.bits("1");
    const auto buffer = decode(framePayload(6, 1, 3, w.words()));
    EXPECT_EQ(buffer.size(), 2u + 12 + kGuardCodes);
}

TEST(DcTable, ExpandsLiteralsAndOverlappingCopies)
{
    // flags 0b0010: literal 'A', then a copy of 0 + 3 bytes from 1 behind; then two literals.
    const uint8_t packed[] = {0b00000010, 'A', 0, 0, 'B', 'C'};
    uint8_t out[6] = {};
    expandDcTable(packed, sizeof packed, out, sizeof out);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 6), "AAAABC");

    // A long offset (bit 0x80): copy 4 bytes from 3 + 1 behind.
    const uint8_t far[] = {0b00010000, 'w', 'x', 'y', 'z', 1, 0x80, 3};
    uint8_t out2[8] = {};
    expandDcTable(far, sizeof far, out2, sizeof out2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out2), 8), "wxyzwxyz");
}

TEST(DcTable, DamagedInputNeverReadsOutside)
{
    const uint8_t back[] = {0xFF, 200, 0xFF, 0xFF};  // copies from before the start, input cut
    std::vector<uint8_t> out(300, 0xEE);
    expandDcTable(back, sizeof back, out.data(), out.size());
    for (uint8_t b : out)
        EXPECT_EQ(b, 0);
}

// The table format read the plain way, one byte at a time into the whole output: flag bits from
// the lowest, 0 a literal, 1 a copy of length + 3 bytes from offset + 1 behind (a two-byte offset
// when its first byte has 0x80), bytes before the start and past the input reading as zero.
std::vector<uint8_t> plainDcExpansion(const std::vector<uint8_t>& in, size_t outBytes)
{
    std::vector<uint8_t> out;
    size_t pos = 0;
    auto next = [&] { return pos < in.size() ? in[pos++] : (pos++, uint8_t(0)); };
    while (out.size() < outBytes && pos < in.size() + 8) {
        const uint8_t flags = next();
        for (int bit = 0; bit < 8 && out.size() < outBytes; ++bit) {
            if (!(flags >> bit & 1)) {
                out.push_back(next());
                continue;
            }
            const size_t length = next() + 3u;
            size_t offset = next();
            if (offset & 0x80)
                offset = (offset & 0x7F) << 8 | next();
            for (size_t i = 0; i < length && out.size() < outBytes; ++i)
                out.push_back(out.size() > offset ? out[out.size() - offset - 1] : 0);
        }
    }
    out.resize(outBytes, 0);
    return out;
}

TEST(DcTable, KeptHalvesMatchTheWholeExpansion)
{
    // Random packed tables, copies reaching up to 32768 bytes back, expanded whole and in the
    // two kept slices (the start of each half), against the plain reading; tables larger than
    // the expansion's window too.
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return uint8_t(seed >> 16);
    };
    for (const size_t blocks : {size_t(7), size_t(600), size_t(40000), size_t(100000)}) {
        // Groups of eight items, half of them long copies with near and far offsets, so that
        // the larger tables are produced well past the expansion's 64 KiB window.
        std::vector<uint8_t> packed;
        while (packed.size() < 6000) {
            const uint8_t flags = next();
            packed.push_back(flags);
            for (int bit = 0; bit < 8; ++bit) {
                if (!(flags >> bit & 1)) {
                    packed.push_back(next());
                } else if (next() & 1) {
                    packed.insert(packed.end(), {uint8_t(0xC0 | next()), uint8_t(next() & 0x7F)});
                } else {
                    packed.insert(packed.end(), {uint8_t(0xC0 | next()), uint8_t(0x80 | next()), next()});
                }
            }
        }
        std::vector<uint8_t> whole(2 * blocks);
        expandDcTable(packed.data(), packed.size(), whole.data(), whole.size());
        ASSERT_EQ(whole, plainDcExpansion(packed, 2 * blocks)) << blocks;
        for (const size_t kept : {size_t(1), blocks / 3, blocks}) {
            std::vector<uint8_t> high(kept, 0xEE), low(kept, 0xEE);
            expandDcHalves(packed.data(), packed.size(), blocks, kept, high.data(), low.data());
            ASSERT_TRUE(std::equal(high.begin(), high.end(), whole.begin())) << blocks << " " << kept;
            ASSERT_TRUE(std::equal(low.begin(), low.end(), whole.begin() + long(blocks))) << blocks << " " << kept;
        }
    }
}

TEST(Bitstream, OnlyCodesThePictureCanReachAreDecoded)
{
    // 100 code words announced for a picture of one macroblock: at most 65 codes per block.
    const auto payload = dcOnlyFrame(100, {5});
    std::vector<uint16_t> whole, bounded;
    ASSERT_TRUE(decodeBitstream(payload.data(), payload.size(), whole));
    ASSERT_TRUE(decodeBitstream(payload.data(), payload.size(), bounded, 6));
    EXPECT_EQ(whole[0], 600);
    EXPECT_LE(size_t(bounded[0]) * 2, 6u * 65);
    EXPECT_TRUE(std::equal(bounded.begin() + 2, bounded.begin() + 2 + bounded[0] * 2, whole.begin() + 2));
}

TEST(Bitstream, DcTableFormTakesEveryBlocksCodeFromTheTable)
{
    // 16 x 16: six blocks, table of 12 bytes: the high bytes, then the low bytes.
    std::vector<uint8_t> table = {0x00, 0x04, 0x08, 0x0C, 0x10, 0x14, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
    std::vector<uint8_t> packed = {0x00};
    packed.insert(packed.end(), table.begin(), table.begin() + 8);
    packed.push_back(0x00);
    packed.insert(packed.end(), table.begin() + 8, table.end());
    ASSERT_EQ(packed.size() % 2, 0u);
    BitWriter w;
    for (int b = 0; b < 6; ++b)
        w.bits("10");
    std::vector<uint16_t> body = {uint16_t(packed.size())};
    for (size_t i = 0; i < packed.size(); i += 2)
        body.push_back(uint16_t(packed[i] | packed[i + 1] << 8));
    const auto stream = w.words();
    body.insert(body.end(), stream.begin(), stream.end());
    const auto codes = codesOf(decode(framePayload(6, 16, 16, body)));
    ASSERT_EQ(codes.size(), 12u);
    for (int b = 0; b < 6; ++b) {
        EXPECT_EQ(codes[size_t(2 * b)], table[size_t(b)] << 8 | table[size_t(6 + b)]) << b;
        EXPECT_EQ(codes[size_t(2 * b + 1)], 0xFE00);
    }
}

TEST(Bitstream, RefusesFramesThatCannotBeDecoded)
{
    std::vector<uint16_t> buffer;
    const uint8_t shortPayload[6] = {1, 0, 0, 0x38, 1, 0};
    EXPECT_FALSE(decodeBitstream(shortPayload, sizeof shortPayload, buffer));
    const auto noBlocks = framePayload(6, 0, 16, {0});  // DC-table form, width 0
    EXPECT_FALSE(decodeBitstream(noBlocks.data(), noBlocks.size(), buffer));
}

TEST(Bitstream, TruncatedStreamReadsZerosAndStopsAtTheCodeCount)
{
    // Header only, but 200 codes announced: the missing bits read as zero.
    const auto payload = framePayload(100, 1, 2, {});
    std::vector<uint16_t> buffer;
    ASSERT_TRUE(decodeBitstream(payload.data(), payload.size(), buffer));
    ASSERT_GE(buffer.size(), 2u + 200 + kGuardCodes);
    EXPECT_EQ(buffer[2], 1 << 10) << "DC 0 from zero bits";
}

TEST(Bitstream, WorkBufferGrowsAndIsReused)
{
    std::vector<uint16_t> buffer;
    const auto big = dcOnlyFrame(10, {0});
    ASSERT_TRUE(decodeBitstream(big.data(), big.size(), buffer));
    const uint16_t* first = buffer.data();
    const size_t capacity = buffer.size();
    const auto small = dcOnlyFrame(1, {0});
    ASSERT_TRUE(decodeBitstream(small.data(), small.size(), buffer));
    EXPECT_EQ(buffer.data(), first);
    EXPECT_EQ(buffer.size(), capacity);
    EXPECT_EQ(buffer[0], 6);
}

// ---- coefficients and transform ------------------------------------------------------------

TEST(Dequantise, RunsPastTheBlockSpillIntoTheNext)
{
    const uint16_t codes[] = {1 << 10 | 2, 40 << 10 | 1, 30 << 10 | 1, 0xFE00};
    const uint16_t* at = codes;
    int32_t block[64] = {};
    EXPECT_EQ(dequantiseBlock(at, codes + 4, block), 63) << "a spilling block counts as full";
    EXPECT_EQ(block[0], 2 * quantTable()[0]);
    EXPECT_EQ(at, codes + 2) << "the spilling code starts the next block";
    const uint16_t end[] = {0xFE00};
    const uint16_t* e = end;
    EXPECT_EQ(dequantiseBlock(e, end + 1, block), -1);
    EXPECT_EQ(e, end + 1);
}

TEST(Dequantise, ScalesByBlockQuantiserAndTable)
{
    const uint16_t codes[] = {4 << 10 | 0x3FF, 0 << 10 | 0x3FE, 0xFE00};  // DC -1, then (0, -2)
    const uint16_t* at = codes;
    int32_t block[64] = {};
    EXPECT_EQ(dequantiseBlock(at, codes + 3, block), 1);
    EXPECT_EQ(block[0], -quantTable()[0]);
    EXPECT_EQ(block[1], (-2 * 4 * quantTable()[1]) >> 3);
    EXPECT_EQ(quantTable()[0], 8);
}

TEST(Transform, ReducedVariantsMatchTheFullTransform)
{
    uint32_t seed = 12345;
    auto random = [&seed] {
        seed = seed * 1103515245 + 12345;
        return int32_t((seed >> 8) % 4001) - 2000;
    };
    for (int last = 0; last < 64; ++last) {
        for (int trial = 0; trial < 20; ++trial) {
            int32_t block[64] = {};
            for (int p = 0; p <= last; ++p)
                if (trial % 3 == 0 || random() % 3 == 0)
                    block[kZigZag[size_t(p)]] = random();
            int16_t reduced[64], full[64];
            inverseTransform(block, activeSize(last), reduced);
            inverseTransform(block, 8, full);
            for (int i = 0; i < 64; ++i)
                ASSERT_EQ(reduced[i], full[i]) << "last " << last << " sample " << i;
        }
    }
    EXPECT_EQ(activeSize(0), 1);
    EXPECT_EQ(activeSize(2), 2);
    EXPECT_EQ(activeSize(3), 3);
    EXPECT_EQ(activeSize(35), 8);
    EXPECT_EQ(activeSize(63), 8);
}

TEST(Transform, FastFullTransformEqualsTheReference)
{
    uint32_t seed = 777;
    auto random = [&seed](int32_t range) {
        seed = seed * 1664525 + 1013904223;
        return int32_t((seed >> 8) % uint32_t(2 * range + 1)) - range;
    };
    for (int trial = 0; trial < 2000; ++trial) {
        int32_t block[64];
        const int32_t range = trial % 4 == 0 ? kMaxCoefficient : (trial % 4 == 1 ? 4000 : 300);
        for (int32_t& c : block)
            c = trial % 3 == 0 && random(3) != 0 ? 0 : random(range);
        int16_t fast[64], reference[64];
        inverseTransform(block, 8, fast);
        inverseTransformReference(block, reference);
        for (int i = 0; i < 64; ++i)
            ASSERT_EQ(fast[i], reference[i]) << "trial " << trial << " sample " << i;
    }
}

TEST(Transform, DcOnlyBlockIsFlatAndExtremeInputStaysInRange)
{
    int32_t block[64] = {};
    block[0] = 8 * 100;
    int16_t samples[64];
    inverseTransform(block, 1, samples);
    for (int16_t s : samples)
        EXPECT_EQ(s, 25);
    for (int32_t& c : block)
        c = kMaxCoefficient;
    inverseTransform(block, 8, samples);
    for (int16_t s : samples) {
        EXPECT_GE(s, -512);
        EXPECT_LE(s, 511);
    }
}

} // namespace
