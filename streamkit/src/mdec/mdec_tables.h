// Fixed tables of the MDEC picture format, built once and never changed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace streamkit::mdec {

constexpr uint16_t kEndOfBlock = 0xFE00;
constexpr int kBlocksPerMacroblock = 6;

// Position in raster order of the n-th coefficient in zig-zag scan order.
extern const std::array<uint8_t, 64> kZigZag;

// Dequantisation table in raster order: the intra matrix scaled by the inverse transform's
// factors (14-bit fixed point), so the transform needs no multiplications for scaling.
const std::array<int32_t, 64>& quantTable();

// One entry of the AC coefficient code lookup: a ready MDEC code (run << 10 | level, both signs
// spelled out) and the number of bits it takes, sign included.
struct AcEntry
{
    uint16_t code;
    uint8_t bits;
    uint8_t kind;  // AcCode, AcEndOfBlock, AcEscape, AcInvalid
};
enum : uint8_t
{
    AcCode = 0,
    AcEndOfBlock = 1,
    AcEscape = 2,
    AcInvalid = 3,
};

// Two-level lookup: codes that do not start with six zeros are found by their first 9 bits;
// the others by the 11 bits after those six zeros.
struct AcTables
{
    std::array<AcEntry, 512> shortCodes;   // indexed by the top 9 bits
    std::array<AcEntry, 2048> longCodes;   // indexed by bits 6..16 (entries count all 17 bits)
};
const AcTables& acTables();

// Two codes at one lookup: indexed by the next 11 bits, the first code and, when it fits in the
// same 11 bits, the one after it. Codes that start with six zeros and the escape are left to
// AcTables.
struct AcPair
{
    uint16_t first;
    uint16_t second;
    uint8_t firstBits;
    uint8_t bothBits;
    uint8_t kind; // AcPairOne, AcPairTwo, AcPairThenEnd, AcPairEnd, AcPairOther
    uint8_t unused;
};
enum : uint8_t
{
    AcPairOne = 0,     // one coefficient code
    AcPairTwo = 1,     // two coefficient codes
    AcPairThenEnd = 2, // a coefficient code, then end of block
    AcPairEnd = 3,     // end of block
    AcPairOther = 4,   // escape, a long code or none: look up singly
};
constexpr int kAcPairBits = 12;
const std::array<AcPair, 1 << kAcPairBits>& acPairs();

// One (run, level) code of the coefficient table, without its sign bit.
struct AcCodeSpec
{
    uint16_t pattern;  // the code's bits, right-aligned
    uint8_t length;    // bits in pattern
    uint8_t run;
    uint8_t level;
};
// The whole table (end of block, escape and the first-coefficient form not included).
extern const std::array<AcCodeSpec, 111> kAcCodeTable;

} // namespace streamkit::mdec
