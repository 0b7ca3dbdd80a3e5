// From a compressed MDEC frame to its run-level buffer.
//
// Frame payload (little-endian u16 words):
//   0x00 codeWords  run-level buffer size in 32-bit words (2 x codeWords codes)
//   0x02 magic      0x3800 in movie streams, copied, not checked
//   0x04 qscale     quantiser scale; in the DC-table form the frame width
//   0x06 version    3: differential DC; below 16 otherwise: plain DC; 16 and up: DC-table form,
//                   and the field is the frame height
//   0x08 ...        bitstream (versions below 16)
// DC-table form:
//   0x08 tableBytes, 0x0A LZ-packed DC table of 2 x blocks bytes,
//   0x0A + (tableBytes & ~1) bitstream
// The bitstream is read from the top bit of each word, word after word; bits beyond the
// payload read as zero.
//
// Run-level buffer: codeWords, magic, 2 x codeWords MDEC codes, then six 0xFE00 guard codes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace streamkit::mdec {

constexpr size_t kGuardCodes = 6;
constexpr size_t kRunLevelHeaderWords = 2;

// Reads bits from the top of little-endian 16-bit words; past the end it supplies zeros.
class BitReader
{
public:
    BitReader() = default;
    BitReader(const uint8_t* data, size_t bytes) : m_data(data), m_words(bytes / 2) { refill(); }

    // The next n bits (1 to 24) without consuming them.
    uint32_t peek(int n) const { return uint32_t(m_bits >> (64 - n)); }
    void skip(int n)
    {
        m_bits <<= n;
        m_count -= n;
        if (m_count <= 32)
            refill();
    }
    uint32_t take(int n)
    {
        const uint32_t v = peek(n);
        skip(n);
        return v;
    }

private:
    void refill()
    {
        // Two words at once while the data lasts; the space is there, as at most 32 bits are left.
        if (m_count <= 32 && m_next + 2 <= m_words) {
            const uint8_t* p = m_data + 2 * m_next;
            const uint64_t pair = uint64_t(p[0]) << 16 | uint64_t(p[1]) << 24 | uint64_t(p[2]) | uint64_t(p[3]) << 8;
            m_bits |= pair << (32 - m_count);
            m_count += 32;
            m_next += 2;
        }
        while (m_count <= 48) {
            uint64_t word = 0;
            if (m_next < m_words)
                word = uint64_t(m_data[2 * m_next]) | uint64_t(m_data[2 * m_next + 1]) << 8;
            ++m_next;
            m_bits |= word << (48 - m_count);
            m_count += 16;
        }
    }

    const uint8_t* m_data = nullptr;
    size_t m_words = 0;
    size_t m_next = 0;
    uint64_t m_bits = 0;  // left-aligned
    int m_count = 0;      // valid bits in m_bits
};

// Where each block's DC value comes from.
struct DcState
{
    enum class Form
    {
        Plain,
        Differential,
        Table,
    } form = Form::Plain;
    int32_t predictor[3] = {};  // first chroma block, second chroma block, luma
    const uint8_t* table = nullptr;
    size_t tableBlocks = 0;
    size_t nextBlock = 0;
};

// The same reading from a byte-swapped copy of the stream with eight zero bytes after it: a
// refill is one 8-byte load without a branch, good for at least 56 bits.
class LookaheadReader
{
public:
    // False when the copy cannot be had.
    bool start(const uint8_t* data, size_t bytes, std::vector<uint8_t>& storage);

    void refill()
    {
        uint64_t v;
        std::memcpy(&v, m_at, sizeof v);
        m_cache |= __builtin_bswap64(v) >> m_count;
        m_at += (63 - m_count) >> 3;
        // Past the end only zeros are left: reading them again from the padding changes nothing.
        m_at = m_at < m_end ? m_at : m_end;
        m_count |= 56;
    }
    // As BitReader's, between refills at most 56 bits in all.
    uint32_t peek(int n) const { return uint32_t(m_cache >> (64 - n)); }
    void skip(int n)
    {
        m_cache <<= n;
        m_count -= n;
    }
    uint32_t take(int n)
    {
        const uint32_t v = peek(n);
        skip(n);
        return v;
    }

private:
    const uint8_t* m_at = nullptr;
    const uint8_t* m_end = nullptr;
    uint64_t m_cache = 0;  // left-aligned
    int m_count = 0;       // valid bits in m_cache
};

// A frame's header read and its DC table expanded: what both decoders below start from.
struct FrameStart
{
    size_t codeCount = 0;  // codes decoded, as the run-level buffer's code area
    uint16_t magic = 0;
    uint16_t qscaleTerm = 0;
    DcState dc;
    BitReader bits;
    const uint8_t* streamStart = nullptr;  // the bitstream, after the header and any DC table
    size_t streamBytes = 0;
    std::vector<uint8_t> dcTable;  // the kept part of each half: high bytes, then low bytes
};

// Decodes the payload into `buffer` (grown when too small, reused otherwise). False when the
// frame yields nothing: a payload shorter than its header, or a DC table describing no block.
// `maxBlocks` is the number of blocks of the picture the codes are for: codes no picture block
// can reach are not decoded, so memory and time follow the picture's size, not the frame's
// own size fields.
bool decodeBitstream(const uint8_t* payload, size_t payloadBytes, std::vector<uint16_t>& buffer,
                     size_t maxBlocks = SIZE_MAX);

// The dequantisation factor of a zig-zag position with its raster position.
struct ScanStep
{
    int32_t factor;
    int32_t at;
};

// The zig-zag order with the dequantisation factor of each position, looked up together.
const std::array<ScanStep, 64>& scanSteps();

// A 10-bit two's-complement field of a code as a signed value.
inline int32_t signExtend10(uint16_t code)
{
    return int32_t(code & 0x3FF) - ((code & 0x200) << 1);
}

struct AcTables;
struct AcPair;

// Reads the header and prepares the bitstream; false as decodeBitstream is false.
bool startFrame(const uint8_t* payload, size_t payloadBytes, size_t maxBlocks, FrameStart& frame);

// The blocks of a frame straight into coefficients, without the run-level buffer: each block's
// codes are dequantised as they are read. Block for block the result equals decodeBitstream
// followed by dequantiseBlock, as long as every block ends within its own 64 positions and no
// code reads as an end of block where the buffer would have held a coefficient (only damaged
// streams do either); then failed() is set, and the frame must be decoded through the buffer.
class BlockDecoder
{
public:
    // False as decodeBitstream is false. A decoder opened again keeps its buffers.
    bool open(const uint8_t* payload, size_t payloadBytes, size_t maxBlocks);

    // As dequantiseBlock: the block's coefficients added to the all-zero `block`, and the last
    // zig-zag position, or -1 for an empty block.
    int next(int32_t* block);

    // No codes are left, guards included.
    bool exhausted() const { return m_consumed >= m_frame.codeCount + kGuardCodes; }
    bool failed() const { return m_failed; }

private:
    FrameStart m_frame;
    size_t m_written = 0;   // codes the run-level buffer would hold so far
    size_t m_consumed = 0;  // codes the blocks so far would have taken from it
    int m_blockInMacroblock = 0;
    bool m_failed = false;
    const AcTables* m_ac = nullptr;
    const AcPair* m_pairs = nullptr;
    int32_t m_dcFactor = 0;
    int32_t m_scale = -1;                // the block quantiser m_steps is for
    std::array<ScanStep, 64> m_steps{};  // factors times that quantiser
    LookaheadReader m_bits;
    std::vector<uint8_t> m_stream;  // the reader's copy of the bitstream
};

// Expands an LZ-packed DC table into `out` (its whole size); bytes the input lacks read as 0.
void expandDcTable(const uint8_t* in, size_t inBytes, uint8_t* out, size_t outBytes);

// The same for a table of 2 x `blocks` bytes of which only the first `kept` bytes of each half
// are wanted (`kept` at most `blocks`): they go to `high` and `low`. Working memory stays small
// whatever `blocks` is.
void expandDcHalves(const uint8_t* in, size_t inBytes, size_t blocks, size_t kept, uint8_t* high,
                    uint8_t* low);

} // namespace streamkit::mdec
