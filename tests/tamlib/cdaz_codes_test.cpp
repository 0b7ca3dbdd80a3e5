// The bit streams and codes of the CDAZ file: bit widths, the fixed gap code, and the Huffman
// code tables (construction, the 27-bit limit, their written form and decoding).
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "cdaz/cdaz_codes.h"
#include "cdaz_test_records.h"

using namespace tamlib;
using cdaztest::packBits;

TEST(CdazBits, BitlenCountsTheBitsOfAValue)
{
    EXPECT_EQ(0u, bitlen(0));
    EXPECT_EQ(1u, bitlen(1));
    EXPECT_EQ(2u, bitlen(2));
    EXPECT_EQ(2u, bitlen(3));
    EXPECT_EQ(3u, bitlen(4));
    EXPECT_EQ(5u, bitlen(31));
    EXPECT_EQ(6u, bitlen(32));
    EXPECT_EQ(8u, bitlen(255));
    EXPECT_EQ(9u, bitlen(256));
    EXPECT_EQ(32u, bitlen(0xFFFFFFFFu));
}

TEST(CdazBits, WriterPacksMostSignificantBitFirstAndReaderGivesItBack)
{
    std::vector<uint8_t> out;
    BitWriter writer(out);
    writer.put(0b101, 3);
    writer.put(0, 0);
    writer.put(0xABCDEF12, 32);
    writer.put(1, 1);
    writer.flush();
    EXPECT_EQ(packBits("101 10101011110011011110111100010010 1"), out);

    BitReader reader(out.data(), out.size());
    EXPECT_EQ(0b101u, reader.get(3));
    EXPECT_EQ(0xABCDEF12u, reader.get(32));
    EXPECT_EQ(1, reader.bit());
    EXPECT_EQ(0u, reader.get(4)); // padding
    EXPECT_FALSE(reader.failed());
    EXPECT_EQ(0u, reader.bitsLeft());
    EXPECT_EQ(0u, reader.get(1));
    EXPECT_TRUE(reader.failed());
}

TEST(CdazCodes, GapCodeIsTheFixedTable)
{
    const std::map<int, std::string> expected = {{0, "00001"},
                                                 {1, "0001"},
                                                 {2, "000000010"},
                                                 {3, "00000011"},
                                                 {4, "00000000"},
                                                 {5, "0111"},
                                                 {6, "010"},
                                                 {7, "001"},
                                                 {8, "0110"},
                                                 {9, "0000000110"},
                                                 {10, "0000001011"},
                                                 {11, "0000001010"},
                                                 {12, "0000001001"},
                                                 {13, "0000001000"},
                                                 {14, "00000001111"},
                                                 {15, "00000001110"},
                                                 {kGapSkip16, "000001"},
                                                 {kGapEnd, "1"}};
    for (const auto& [symbol, bits] : expected) {
        SCOPED_TRACE(symbol);
        const CdazCode& code = gapCode(symbol);
        ASSERT_EQ(bits.size(), code.length);
        std::string written;
        for (int i = code.length - 1; i >= 0; --i)
            written += ((code.bits >> i) & 1) ? '1' : '0';
        EXPECT_EQ(bits, written);
    }
}

TEST(CdazCodes, OneSymbolGetsTheOneBitCodeZero)
{
    std::vector<uint64_t> counts(32, 0);
    counts[31] = 5;
    const std::vector<CdazCode> table = buildCodeTable(counts);
    EXPECT_EQ(1, table[31].length);
    EXPECT_EQ(0u, table[31].bits);
    for (int s = 0; s < 31; ++s)
        EXPECT_EQ(0, table[s].length);
    // With a second symbol, the lighter one takes the leading 0.
    counts[3] = 9;
    const std::vector<CdazCode> two = buildCodeTable(counts);
    EXPECT_TRUE(two[31].length == 1 && two[31].bits == 0 && two[3].length == 1 && two[3].bits == 1);

    // K = 1 in 6 bits, W = bitlen(1) in 5, V = bitlen(31) in 5, then symbol, length and code.
    std::vector<uint8_t> out;
    BitWriter writer(out);
    writeCodeTable(writer, table);
    writer.flush();
    EXPECT_EQ(packBits("000001 00001 00101 11111 1 0"), out);
}

TEST(CdazCodes, EmptyTableIsThreeZeroFields)
{
    std::vector<uint8_t> out;
    BitWriter writer(out);
    writeCodeTable(writer, buildCodeTable(std::vector<uint64_t>(256, 0)));
    writer.flush();
    EXPECT_EQ(packBits("000000000 00000 00000000"), out);
    BitReader reader(out.data(), out.size());
    CodeDecoder decoder;
    ASSERT_TRUE(decoder.read(reader, 256));
    EXPECT_EQ(-1, decoder.decode(reader)); // nothing can be decoded from an empty table
}

namespace {

// Kraft sum of a table (times 2^27) and whether no code is a prefix of another.
void expectCompletePrefixCode(const std::vector<CdazCode>& table)
{
    uint64_t kraft = 0;
    for (const CdazCode& a : table) {
        if (!a.length)
            continue;
        ASSERT_LE(a.length, kMaxCodeLength);
        kraft += uint64_t(1) << (kMaxCodeLength - a.length);
        for (const CdazCode& b : table) {
            if (&a == &b || !b.length || b.length < a.length)
                continue;
            EXPECT_NE(a.bits, b.bits >> (b.length - a.length)) << "a code is a prefix of another";
        }
    }
    EXPECT_EQ(uint64_t(1) << kMaxCodeLength, kraft);
}

} // namespace

TEST(CdazCodes, HuffmanCodesAreCompletePrefixCodesWithShortCodesForFrequentSymbols)
{
    std::vector<uint64_t> counts(256, 0);
    for (int s = 0; s < 256; s += 3)
        counts[size_t(s)] = uint64_t(s * s % 97 + 1);
    counts[42] = 100000;
    const std::vector<CdazCode> table = buildCodeTable(counts);
    expectCompletePrefixCode(table);
    for (size_t s = 0; s < 256; ++s) {
        EXPECT_EQ(counts[s] != 0, table[s].length != 0);
        if (counts[s] && counts[s] < counts[42]) {
            EXPECT_LE(table[42].length, table[s].length);
        }
    }
    EXPECT_EQ(1, table[42].length);
}

TEST(CdazCodes, FibonacciWeightsAreFlattenedToTwentySevenBits)
{
    // Unlimited, these weights would give a code of 39 bits.
    std::vector<uint64_t> counts(256, 0);
    uint64_t a = 1, b = 1;
    for (int s = 0; s < 40; ++s) {
        counts[size_t(s)] = a;
        const uint64_t next = a + b;
        a = b;
        b = next;
    }
    const std::vector<CdazCode> table = buildCodeTable(counts);
    int longest = 0;
    for (const CdazCode& code : table)
        longest = std::max<int>(longest, code.length);
    EXPECT_LE(longest, 27);
    EXPECT_GE(longest, 20);
    expectCompletePrefixCode(table);
}

TEST(CdazCodes, WrittenTableReadsBackAndDecodesAnyMessage)
{
    for (uint32_t symbols : {32u, 256u}) {
        SCOPED_TRACE(symbols);
        std::vector<uint64_t> counts(symbols, 0);
        std::vector<int> message;
        for (uint32_t s = 1; s < symbols; s += 2) {
            counts[s] = s + 1;
            for (uint32_t k = 0; k < (s % 5) + 1; ++k)
                message.push_back(int(s));
        }
        const std::vector<CdazCode> table = buildCodeTable(counts);
        std::vector<uint8_t> out;
        BitWriter writer(out);
        writeCodeTable(writer, table);
        for (int s : message)
            writer.put(table[size_t(s)].bits, table[size_t(s)].length);
        writer.flush();

        BitReader reader(out.data(), out.size());
        CodeDecoder decoder;
        ASSERT_TRUE(decoder.read(reader, symbols));
        for (int s : message)
            ASSERT_EQ(s, decoder.decode(reader));
    }
}

TEST(CdazCodes, DamagedTablesAreRefused)
{
    // More coded symbols than the table has.
    {
        const std::vector<uint8_t> bits = packBits("100001 00001 00101");
        BitReader reader(bits.data(), bits.size());
        CodeDecoder decoder;
        EXPECT_FALSE(decoder.read(reader, 32));
    }
    // A code length of 0, and one of 28 bits.
    for (const char* entry : {"00000 00000", "00000 11100"}) {
        const std::vector<uint8_t> bits = packBits(std::string("000001 00101 00101 ") + entry + " 0000000");
        BitReader reader(bits.data(), bits.size());
        CodeDecoder decoder;
        EXPECT_FALSE(decoder.read(reader, 32)) << entry;
    }
    // A table cut short.
    {
        const std::vector<uint8_t> bits = packBits("000010 00010 00101 00001 01");
        BitReader reader(bits.data(), 2);
        CodeDecoder decoder;
        EXPECT_FALSE(decoder.read(reader, 32));
    }
}

TEST(CdazCodes, ClashingCodesOfADamagedTableDecodeTheShortestFirst)
{
    // Symbol 1 has code "0", symbol 2 code "01" (a prefix clash), symbol 3 code "1".
    const CdazCode codes[4] = {{0, 0}, {0b0, 1}, {0b01, 2}, {0b1, 1}};
    CodeDecoder decoder;
    decoder.assign(codes);
    const std::vector<uint8_t> bits = packBits("0 1 0");
    BitReader reader(bits.data(), bits.size());
    EXPECT_EQ(1, decoder.decode(reader));
    EXPECT_EQ(3, decoder.decode(reader));
    EXPECT_EQ(1, decoder.decode(reader));
}
