// The codes of the CDAZ bit stream: the fixed gap code of the plugin blocks and the Huffman code
// tables (at most 27 bits per code) of the stream blocks.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "cdaz/cdaz_bits.h"

namespace tamlib {

constexpr uint32_t kMaxCodeLength = 27;

// A symbol's code: `length` bits of `bits`, the first written bit most significant; length 0
// means the symbol has no code.
struct CdazCode
{
    uint32_t bits = 0;
    uint8_t length = 0;
};

// Gap code symbols: gaps 0 to 15, then these two.
constexpr int kGapSkip16 = 16;
constexpr int kGapEnd = 17;
const CdazCode& gapCode(int symbol);

// A Huffman code over the symbols with non-zero counts (one code per count); a single symbol
// gets the 1-bit code 0. Weights are raised until no code is longer than 27 bits.
std::vector<CdazCode> buildCodeTable(std::span<const uint64_t> counts);

// Writes a table of counts.size() symbols (32 or 256): the number of coded symbols, the widths
// of the length and symbol fields, then symbol, length and code of each coded symbol.
void writeCodeTable(BitWriter& out, std::span<const CdazCode> table);

// Decodes symbols of one code table, bit by bit through a binary tree of the codes. Where codes
// of a damaged file clash, the shortest (then the first) wins.
class CodeDecoder
{
  public:
    // Reads a table of `symbols` symbols; false when the stream ends or the table is invalid.
    bool read(BitReader& in, uint32_t symbols);
    // Builds the decoder from codes directly (entries of length 0 are left out).
    void assign(std::span<const CdazCode> table);
    // The next symbol, or -1 when no code matches or the stream ends.
    int decode(BitReader& in) const
    {
        uint32_t node = 0;
        for (;;) {
            const int b = in.bit();
            if (in.failed())
                return -1;
            node = m_nodes[node].child[b];
            if (node == 0)
                return -1;
            if (m_nodes[node].symbol >= 0)
                return m_nodes[node].symbol;
        }
    }

  private:
    struct Node
    {
        uint32_t child[2] = {0, 0}; // 0 = none (the root is never a child)
        int32_t symbol = -1;
    };
    void clear();
    void insert(uint32_t bits, uint32_t length, int symbol);

    std::vector<Node> m_nodes = std::vector<Node>(1);
};

} // namespace tamlib
