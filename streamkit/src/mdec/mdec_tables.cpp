#include "mdec_tables.h"

namespace streamkit::mdec {

const std::array<uint8_t, 64> kZigZag = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  //
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28, //
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51, //
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

namespace {

// The console's intra matrix: the usual default intra matrix with 2 in place of its first 8.
constexpr uint8_t kIntraMatrix[64] = {
    2,  16, 19, 22, 26, 27, 29, 34, //
    16, 16, 22, 24, 27, 29, 34, 37, //
    19, 22, 26, 27, 29, 34, 34, 38, //
    22, 22, 26, 27, 29, 34, 37, 40, //
    22, 26, 27, 29, 32, 35, 40, 48, //
    26, 27, 29, 32, 35, 40, 48, 58, //
    26, 27, 29, 34, 38, 46, 56, 69, //
    27, 29, 35, 38, 46, 56, 69, 83,
};

// a(k) x 16384 of the scaled inverse transform: a(0) = 1, a(k) = cos(k pi / 16) x sqrt 2.
constexpr int32_t kAanScale[8] = {16384, 22725, 21407, 19266, 16384, 12873, 8867, 4520};

} // namespace

const std::array<int32_t, 64>& quantTable()
{
    static const std::array<int32_t, 64> table = [] {
        std::array<int32_t, 64> q{};
        for (int i = 0; i < 64; ++i) {
            const int64_t s = int64_t(kAanScale[i / 8]) * kAanScale[i % 8] / 16384;
            q[size_t(i)] = int32_t((kIntraMatrix[i] * s) >> 12);
        }
        return q;
    }();
    return table;
}

// (pattern, length, run, level); the sign bit follows every code (1 = negative).
const std::array<AcCodeSpec, 111> kAcCodeTable = {{
    {0b11, 2, 0, 1},
    {0b011, 3, 1, 1},
    {0b0100, 4, 0, 2},
    {0b0101, 4, 2, 1},
    {0b00101, 5, 0, 3},
    {0b00111, 5, 3, 1},
    {0b00110, 5, 4, 1},
    {0b000110, 6, 1, 2},
    {0b000111, 6, 5, 1},
    {0b000101, 6, 6, 1},
    {0b000100, 6, 7, 1},
    {0b0000110, 7, 0, 4},
    {0b0000100, 7, 2, 2},
    {0b0000111, 7, 8, 1},
    {0b0000101, 7, 9, 1},
    {0b00100110, 8, 0, 5},
    {0b00100001, 8, 0, 6},
    {0b00100101, 8, 1, 3},
    {0b00100100, 8, 3, 2},
    {0b00100111, 8, 10, 1},
    {0b00100011, 8, 11, 1},
    {0b00100010, 8, 12, 1},
    {0b00100000, 8, 13, 1},
    {0b0000001010, 10, 0, 7},
    {0b0000001100, 10, 1, 4},
    {0b0000001011, 10, 2, 3},
    {0b0000001111, 10, 4, 2},
    {0b0000001001, 10, 5, 2},
    {0b0000001110, 10, 14, 1},
    {0b0000001101, 10, 15, 1},
    {0b0000001000, 10, 16, 1},
    {0b000000011101, 12, 0, 8},
    {0b000000011000, 12, 0, 9},
    {0b000000010011, 12, 0, 10},
    {0b000000010000, 12, 0, 11},
    {0b000000011011, 12, 1, 5},
    {0b000000010100, 12, 2, 4},
    {0b000000011100, 12, 3, 3},
    {0b000000010010, 12, 4, 3},
    {0b000000011110, 12, 6, 2},
    {0b000000010101, 12, 7, 2},
    {0b000000010001, 12, 8, 2},
    {0b000000011111, 12, 17, 1},
    {0b000000011010, 12, 18, 1},
    {0b000000011001, 12, 19, 1},
    {0b000000010111, 12, 20, 1},
    {0b000000010110, 12, 21, 1},
    {0b0000000011010, 13, 0, 12},
    {0b0000000011001, 13, 0, 13},
    {0b0000000011000, 13, 0, 14},
    {0b0000000010111, 13, 0, 15},
    {0b0000000010110, 13, 1, 6},
    {0b0000000010101, 13, 1, 7},
    {0b0000000010100, 13, 2, 5},
    {0b0000000010011, 13, 3, 4},
    {0b0000000010010, 13, 5, 3},
    {0b0000000010001, 13, 9, 2},
    {0b0000000010000, 13, 10, 2},
    {0b0000000011111, 13, 22, 1},
    {0b0000000011110, 13, 23, 1},
    {0b0000000011101, 13, 24, 1},
    {0b0000000011100, 13, 25, 1},
    {0b0000000011011, 13, 26, 1},
    {0b00000000011111, 14, 0, 16},
    {0b00000000011110, 14, 0, 17},
    {0b00000000011101, 14, 0, 18},
    {0b00000000011100, 14, 0, 19},
    {0b00000000011011, 14, 0, 20},
    {0b00000000011010, 14, 0, 21},
    {0b00000000011001, 14, 0, 22},
    {0b00000000011000, 14, 0, 23},
    {0b00000000010111, 14, 0, 24},
    {0b00000000010110, 14, 0, 25},
    {0b00000000010101, 14, 0, 26},
    {0b00000000010100, 14, 0, 27},
    {0b00000000010011, 14, 0, 28},
    {0b00000000010010, 14, 0, 29},
    {0b00000000010001, 14, 0, 30},
    {0b00000000010000, 14, 0, 31},
    {0b000000000011000, 15, 0, 32},
    {0b000000000010111, 15, 0, 33},
    {0b000000000010110, 15, 0, 34},
    {0b000000000010101, 15, 0, 35},
    {0b000000000010100, 15, 0, 36},
    {0b000000000010011, 15, 0, 37},
    {0b000000000010010, 15, 0, 38},
    {0b000000000010001, 15, 0, 39},
    {0b000000000010000, 15, 0, 40},
    {0b000000000011111, 15, 1, 8},
    {0b000000000011110, 15, 1, 9},
    {0b000000000011101, 15, 1, 10},
    {0b000000000011100, 15, 1, 11},
    {0b000000000011011, 15, 1, 12},
    {0b000000000011010, 15, 1, 13},
    {0b000000000011001, 15, 1, 14},
    {0b0000000000010011, 16, 1, 15},
    {0b0000000000010010, 16, 1, 16},
    {0b0000000000010001, 16, 1, 17},
    {0b0000000000010000, 16, 1, 18},
    {0b0000000000010100, 16, 6, 3},
    {0b0000000000011010, 16, 11, 2},
    {0b0000000000011001, 16, 12, 2},
    {0b0000000000011000, 16, 13, 2},
    {0b0000000000010111, 16, 14, 2},
    {0b0000000000010110, 16, 15, 2},
    {0b0000000000010101, 16, 16, 2},
    {0b0000000000011111, 16, 27, 1},
    {0b0000000000011110, 16, 28, 1},
    {0b0000000000011101, 16, 29, 1},
    {0b0000000000011100, 16, 30, 1},
    {0b0000000000011011, 16, 31, 1},
}};

namespace {

uint16_t mdecAcCode(int run, int level)
{
    return uint16_t((run << 10) | (level & 0x3FF));
}

// Fills every table slot whose index starts with the given bits.
template <size_t N>
void fill(std::array<AcEntry, N>& table, int indexBits, uint32_t prefix, int prefixBits, AcEntry entry)
{
    const int free = indexBits - prefixBits;
    const uint32_t first = prefix << free;
    for (uint32_t i = 0; i < (1u << free); ++i)
        table[first + i] = entry;
}

} // namespace

const AcTables& acTables()
{
    static const AcTables tables = [] {
        AcTables t;
        t.shortCodes.fill({kEndOfBlock, 6, AcInvalid});  // only 000000 prefixes stay so; unused
        t.longCodes.fill({kEndOfBlock, 17, AcInvalid});
        fill(t.shortCodes, 9, 0b10, 2, {kEndOfBlock, 2, AcEndOfBlock});
        fill(t.shortCodes, 9, 0b000001, 6, {0, 6, AcEscape});
        for (const AcCodeSpec& c : kAcCodeTable) {
            for (int sign = 0; sign < 2; ++sign) {
                const uint32_t bits = (uint32_t(c.pattern) << 1) | uint32_t(sign);
                const int length = c.length + 1;
                const AcEntry entry{mdecAcCode(c.run, sign ? -c.level : c.level), uint8_t(length), AcCode};
                if (length <= 9) {
                    fill(t.shortCodes, 9, bits, length, entry);
                } else {
                    // Drop the six leading zeros; index by the next 11 bits.
                    fill(t.longCodes, 11, bits, length - 6, entry);
                }
            }
        }
        return t;
    }();
    return tables;
}

const std::array<AcPair, 1 << kAcPairBits>& acPairs()
{
    static const std::array<AcPair, 1 << kAcPairBits> table = [] {
        constexpr uint32_t kMask = (1u << kAcPairBits) - 1;
        const AcTables& single = acTables();
        // The code at the top of an 11-bit window whose low `known` bits are real; none when
        // it starts with six zeros or is longer than what is known.
        auto codeAt = [&](uint32_t window, int known) -> const AcEntry* {
            if ((window >> (kAcPairBits - 6)) == 0)
                return nullptr;
            const AcEntry& e = single.shortCodes[window >> (kAcPairBits - 9)];
            return e.bits <= known ? &e : nullptr;
        };
        std::array<AcPair, 1 << kAcPairBits> t{};
        for (uint32_t index = 0; index <= kMask; ++index) {
            AcPair& p = t[index];
            p.kind = AcPairOther;
            const AcEntry* first = codeAt(index, kAcPairBits);
            if (!first || (first->kind != AcCode && first->kind != AcEndOfBlock))
                continue;
            p.first = first->code;
            p.firstBits = first->bits;
            p.bothBits = first->bits;
            if (first->kind == AcEndOfBlock) {
                p.kind = AcPairEnd;
                continue;
            }
            p.kind = AcPairOne;
            const int rest = kAcPairBits - first->bits;
            const AcEntry* second = codeAt((index << first->bits) & kMask, rest);
            if (!second || (second->kind != AcCode && second->kind != AcEndOfBlock))
                continue;
            p.second = second->code;
            p.bothBits = uint8_t(first->bits + second->bits);
            p.kind = second->kind == AcCode ? AcPairTwo : AcPairThenEnd;
        }
        return t;
    }();
    return table;
}

} // namespace streamkit::mdec
