#include "bitstream.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "idct.h"
#include "mdec_tables.h"

namespace streamkit::mdec {

namespace {

uint16_t readWord(const uint8_t* p)
{
    return uint16_t(p[0] | p[1] << 8);
}

// Leading one bits, at most `limit`.
template <typename Bits> int countOnes(Bits& bits, int limit)
{
    int n = 0;
    while (n < limit && bits.peek(1)) {
        bits.skip(1);
        ++n;
    }
    return n;
}

// The size of a differential DC value. Luma: 100 = 0, 00 = 1, 01 = 2, 101 = 3, 110 = 4, 1110 = 5
// and one more leading 1 for every further size; chroma: 00 = 0, 01 = 1, 10 = 2, 110 = 3, 1110 = 4
// and so on. Sizes are bounded where the value could no longer matter (the DC keeps 10 bits).
constexpr int kMaxDcSize = 16;

template <typename Bits> int readDcSize(Bits& bits, bool luma)
{
    if (bits.peek(1) == 0) {
        bits.skip(1);
        return luma ? 1 + int(bits.take(1)) : int(bits.take(1));
    }
    if (luma) {
        if (bits.peek(2) == 0b10) {
            bits.skip(2);
            return bits.take(1) ? 3 : 0;
        }
        const int ones = countOnes(bits, kMaxDcSize - 2);
        if (ones < kMaxDcSize - 2)
            bits.skip(1);  // the closing 0
        return ones + 2;
    }
    const int ones = countOnes(bits, kMaxDcSize - 1);
    if (ones < kMaxDcSize - 1)
        bits.skip(1);
    return ones + 1;
}

template <typename Bits> int32_t readDcDifference(Bits& bits, int size)
{
    if (size == 0)
        return 0;
    const uint32_t v = size > 12 ? (bits.take(size - 12) << 12) | bits.take(12) : bits.take(size);
    if (v >> (size - 1))
        return int32_t(v);
    return int32_t(v) - int32_t((1u << size) - 1);
}

template <typename Bits> uint16_t readDc(Bits& bits, DcState& dc, int blockInMacroblock, uint16_t qscaleTerm)
{
    switch (dc.form) {
    case DcState::Form::Plain:
        return uint16_t(qscaleTerm | bits.take(10));
    case DcState::Form::Differential: {
        const int kind = blockInMacroblock < 2 ? blockInMacroblock : 2;
        const int size = readDcSize(bits, kind == 2);
        dc.predictor[kind] += readDcDifference(bits, size) * 4;
        return uint16_t(qscaleTerm | (dc.predictor[kind] & 0x3FF));
    }
    case DcState::Form::Table:
    default: {
        const size_t k = dc.nextBlock++;
        if (k >= dc.tableBlocks)
            return 0;
        return uint16_t(dc.table[k] << 8 | dc.table[dc.tableBlocks + k]);
    }
    }
}

} // namespace

namespace {

// The LZ expansion of a DC table: `sink(position, bytes, count)` receives the produced bytes
// below `limit`, run by run. Copies reach at most 32768 bytes back, so only that much of the
// output is kept, whatever the table's size.
template <typename Sink> size_t expandDc(const uint8_t* in, size_t inBytes, size_t limit, Sink&& sink)
{
    // A power of two at least twice the farthest copy distance (0x7FFF + 1), so that a run of a
    // copy never overlaps its source in the ring; smaller for small tables, which never wrap.
    size_t windowSize = size_t(1) << 16;
    while (windowSize / 2 >= limit && windowSize > 64)
        windowSize /= 2;
    std::vector<uint8_t> window(windowSize);
    const size_t mask = windowSize - 1;
    size_t pos = 0, produced = 0;
    auto next = [&]() -> uint8_t { return pos < inBytes ? in[pos++] : (pos++, uint8_t(0)); };
    while (produced < limit) {
        const uint8_t flags = next();
        for (int bit = 0; bit < 8 && produced < limit; ++bit) {
            if (!((flags >> bit) & 1)) {
                uint8_t& at = window[produced & mask];
                at = next();
                sink(produced++, &at, size_t(1));
                continue;
            }
            size_t length = size_t(next()) + 3;
            size_t offset = next();
            if (offset & 0x80)
                offset = ((offset & 0x7F) << 8) | next();
            const size_t distance = offset + 1;
            length = std::min(length, limit - produced);
            // Bytes from before the start of the table read as zero.
            while (length > 0 && produced < distance) {
                const size_t n = std::min({length, distance - produced, windowSize - (produced & mask)});
                std::memset(&window[produced & mask], 0, n);
                sink(produced, &window[produced & mask], n);
                produced += n;
                length -= n;
            }
            // Then runs no longer than the distance repeat the bytes behind, as a byte-by-byte
            // copy would.
            while (length > 0) {
                const size_t from = (produced - distance) & mask, to = produced & mask;
                const size_t n = std::min({length, distance, windowSize - from, windowSize - to});
                std::memcpy(&window[to], &window[from], n);
                sink(produced, &window[to], n);
                produced += n;
                length -= n;
            }
        }
        if (pos >= inBytes + 8)
            break;  // the input is long spent: what is left reads as zero
    }
    return produced;
}

} // namespace

void expandDcTable(const uint8_t* in, size_t inBytes, uint8_t* out, size_t outBytes)
{
    const size_t produced = expandDc(in, inBytes, outBytes, [out](size_t at, const uint8_t* bytes, size_t n) {
        std::memcpy(out + at, bytes, n);
    });
    std::fill(out + produced, out + outBytes, uint8_t(0));
}

void expandDcHalves(const uint8_t* in, size_t inBytes, size_t blocks, size_t kept, uint8_t* high,
                    uint8_t* low)
{
    kept = std::min(kept, blocks);
    std::fill(high, high + kept, uint8_t(0));
    std::fill(low, low + kept, uint8_t(0));
    // Past blocks + kept nothing more is wanted.
    expandDc(in, inBytes, blocks + kept, [&](size_t at, const uint8_t* bytes, size_t n) {
        if (at < kept)
            std::memcpy(high + at, bytes, std::min(n, kept - at));
        const size_t end = at + n;
        if (end > blocks && at < blocks + kept) {
            const size_t first = std::max(at, blocks);
            std::memcpy(low + (first - blocks), bytes + (first - at), std::min(end, blocks + kept) - first);
        }
    });
}

bool startFrame(const uint8_t* payload, size_t payloadBytes, size_t maxBlocks, FrameStart& frame)
{
    if (!payload || payloadBytes < 8)
        return false;
    const uint16_t codeWords = readWord(payload);
    const uint16_t qscale = readWord(payload + 4);
    const uint16_t version = readWord(payload + 6);
    frame.magic = readWord(payload + 2);

    // A picture of maxBlocks blocks reads at most 65 codes of each (DC, 63 AC codes, end of
    // block), and no block past its own count: nothing beyond that is decoded.
    const size_t usedCodes = maxBlocks > SIZE_MAX / 130 ? SIZE_MAX : (maxBlocks * 65 + 1) & ~size_t(1);
    frame.codeCount = std::min(size_t(codeWords) * 2, usedCodes);

    frame.dc = DcState{};
    frame.qscaleTerm = 0;
    size_t streamStart = 8;
    if (version >= 16) {
        const size_t blocks = size_t(kBlocksPerMacroblock) * ((qscale + 15u) / 16) * ((version + 15u) / 16);
        if (blocks == 0)
            return false;
        const size_t tableBytes = payloadBytes >= 10 ? readWord(payload + 8) : 0;
        const size_t tableStart = std::min<size_t>(10, payloadBytes);
        // The width and height fields may describe a table far larger than the frame: only the
        // entries of blocks that can be decoded (each takes at least two codes) are kept.
        const size_t kept = std::min({blocks, frame.codeCount / 2, maxBlocks});
        try {
            frame.dcTable.resize(kept * 2);
            expandDcHalves(payload + tableStart, std::min(tableBytes, payloadBytes - tableStart), blocks, kept,
                           frame.dcTable.data(), frame.dcTable.data() + kept);
        } catch (const std::bad_alloc&) {
            return false;
        }
        frame.dc.form = DcState::Form::Table;
        frame.dc.table = frame.dcTable.data();
        frame.dc.tableBlocks = kept;
        streamStart = std::min(payloadBytes, 10 + (tableBytes & ~size_t(1)));
    } else {
        frame.dc.form = version == 3 ? DcState::Form::Differential : DcState::Form::Plain;
        frame.qscaleTerm = uint16_t(qscale << 10);
    }
    frame.bits = BitReader(payload + streamStart, payloadBytes - streamStart);
    frame.streamStart = payload + streamStart;
    frame.streamBytes = payloadBytes - streamStart;
    return true;
}

bool decodeBitstream(const uint8_t* payload, size_t payloadBytes, std::vector<uint16_t>& buffer,
                     size_t maxBlocks)
{
    FrameStart frame;
    if (!startFrame(payload, payloadBytes, maxBlocks, frame))
        return false;
    const size_t codeCount = frame.codeCount;
    const size_t total = kRunLevelHeaderWords + codeCount + kGuardCodes;
    if (buffer.size() < total) {
        // A buffer that cannot be had yields nothing, as a frame that cannot be decoded.
        try {
            buffer.assign(total, 0);
        } catch (const std::bad_alloc&) {
            buffer.clear();
            return false;
        }
    }
    uint16_t* out = buffer.data();
    out[0] = uint16_t(codeCount / 2);
    out[1] = frame.magic;
    uint16_t* codes = out + kRunLevelHeaderWords;
    std::fill(codes + codeCount, codes + codeCount + kGuardCodes, kEndOfBlock);

    DcState& dc = frame.dc;
    const uint16_t qscaleTerm = frame.qscaleTerm;
    BitReader bits = frame.bits;
    const AcTables& ac = acTables();
    const AcPair* pairs = acPairs().data();
    size_t written = 0;
    int blockInMacroblock = 0;
    while (written < codeCount) {
        codes[written++] = readDc(bits, dc, blockInMacroblock, qscaleTerm);
        // At most 63 codes follow the DC code, and none beyond the code area.
        const size_t limit = std::min(written + 63, codeCount);
        bool ended = false;
        while (written < limit) {
            // Most codes are short: two at a time where they fit in one lookup. One or two
            // coefficient codes are taken without a branch on which: the second is always
            // stored, and overwritten by what follows when it does not count.
            const AcPair& pair = pairs[bits.peek(kAcPairBits)];
            if (pair.kind <= AcPairTwo) [[likely]] {
                codes[written] = pair.first;
                codes[written + 1] = pair.second;
                const bool two = pair.kind == AcPairTwo && written + 1 < limit;
                written += two ? 2 : 1;
                bits.skip(two ? pair.bothBits : pair.firstBits);
                continue;
            }
            if (pair.kind == AcPairThenEnd) {
                // The end-of-block code is written and passed over whether or not the block was
                // full after the first code: a full block ends the same way.
                codes[written++] = pair.first;
                codes[written++] = kEndOfBlock;
                bits.skip(pair.bothBits);
                ended = true;
                break;
            }
            if (pair.kind == AcPairEnd) {
                codes[written++] = kEndOfBlock;
                bits.skip(pair.firstBits);
                ended = true;
                break;
            }
            const uint32_t top = bits.peek(17);
            const AcEntry& e = (top >> 11) != 0 ? ac.shortCodes[top >> 8] : ac.longCodes[top & 0x7FF];
            bits.skip(e.bits);
            if (e.kind == AcCode) [[likely]] {
                codes[written++] = e.code;
            } else if (e.kind == AcEscape) {
                codes[written++] = uint16_t(bits.take(16));
            } else {
                codes[written++] = kEndOfBlock;  // end of block, or a code that does not exist
                ended = true;
                break;
            }
        }
        if (!ended) {
            // No end-of-block code of its own: end the block here and pass over the two bits
            // where that code would stand.
            codes[written++] = kEndOfBlock;
            bits.skip(2);
        }
        blockInMacroblock = blockInMacroblock == kBlocksPerMacroblock - 1 ? 0 : blockInMacroblock + 1;
    }
    return true;
}

bool BlockDecoder::open(const uint8_t* payload, size_t payloadBytes, size_t maxBlocks)
{
    m_written = m_consumed = 0;
    m_blockInMacroblock = 0;
    m_failed = false;
    m_ac = &acTables();
    m_pairs = acPairs().data();
    m_dcFactor = scanSteps()[0].factor;
    if (!startFrame(payload, payloadBytes, maxBlocks, m_frame))
        return false;
    return m_bits.start(m_frame.streamStart, m_frame.streamBytes, m_stream);
}

bool LookaheadReader::start(const uint8_t* data, size_t bytes, std::vector<uint8_t>& storage)
{
    // The words with their bytes swapped, so that the stream reads as one big-endian sequence,
    // then zeros for reads past the end.
    const size_t words = bytes / 2;
    try {
        storage.resize(words * 2 + 8);
    } catch (const std::bad_alloc&) {
        return false;
    }
    uint8_t* out = storage.data();
    for (size_t i = 0; i < words; ++i) {
        out[2 * i] = data[2 * i + 1];
        out[2 * i + 1] = data[2 * i];
    }
    std::fill(out + words * 2, out + words * 2 + 8, uint8_t(0));
    m_at = out;
    m_end = out + words * 2;
    m_cache = 0;
    m_count = 0;
    return true;
}

int BlockDecoder::next(int32_t* block)
{
    const size_t codeCount = m_frame.codeCount;
    if (m_written >= codeCount || m_failed) {
        // The guard codes: one empty block each, then nothing.
        if (m_consumed < codeCount + kGuardCodes)
            ++m_consumed;
        return -1;
    }
    // The same reading as decodeBitstream's, code for code; where it would store a code, the
    // coefficient goes into the block as dequantiseBlock would place it.
    LookaheadReader bits = m_bits;
    bits.refill();
    size_t written = m_written;
    const uint16_t dc = m_frame.dc.form == DcState::Form::Plain
                            ? uint16_t(m_frame.qscaleTerm | bits.take(10))
                            : readDc(bits, m_frame.dc, m_blockInMacroblock, m_frame.qscaleTerm);
    ++written;
    m_blockInMacroblock = m_blockInMacroblock == kBlocksPerMacroblock - 1 ? 0 : m_blockInMacroblock + 1;
    bool failed = dc == kEndOfBlock;  // the buffer would hold an empty block and shift every later one
    const int32_t scale = dc >> 10;
    if (scale != m_scale) {
        // The block quantiser times each position's factor: the same products, one multiplication
        // fewer per coefficient (no product exceeds 31 bits).
        const ScanStep* scan = scanSteps().data();
        for (size_t p = 0; p < 64; ++p)
            m_steps[p] = {scan[p].factor * scale, scan[p].at};
        m_scale = scale;
    }
    const ScanStep* steps = m_steps.data();
    block[0] = signExtend10(dc) * m_dcFactor;
    int pos = 0;
    // One coefficient code; false when it runs past the block (into the next, in the buffer).
    auto put = [&](uint16_t code) {
        pos += (code >> 10) + 1;
        if (pos >= 64) [[unlikely]]
            return false;
        const ScanStep step = steps[pos];
        const int32_t value = (signExtend10(code) * step.factor) >> 3;
        block[step.at] = std::clamp(value, -kMaxCoefficient, kMaxCoefficient);
        return true;
    };

    const AcTables& ac = *m_ac;
    const AcPair* pairs = m_pairs;
    const size_t limit = std::min(written + 63, codeCount);
    bool ended = false;
    // A refill serves two codes (at most 22 bits each): every other one waits on no load.
    bool full = false;
    while (written < limit && !failed) {
        if (!full)
            bits.refill();
        full = !full;
        const AcPair& pair = pairs[bits.peek(kAcPairBits)];
        if (pair.kind <= AcPairTwo) [[likely]] {
            const bool two = pair.kind == AcPairTwo && written + 1 < limit;
            failed = !put(pair.first) || (two && !put(pair.second));
            written += two ? 2 : 1;
            bits.skip(two ? pair.bothBits : pair.firstBits);
            continue;
        }
        if (pair.kind == AcPairThenEnd) {
            failed = !put(pair.first);
            written += 2;
            bits.skip(pair.bothBits);
            ended = true;
            break;
        }
        if (pair.kind == AcPairEnd) {
            ++written;
            bits.skip(pair.firstBits);
            ended = true;
            break;
        }
        const uint32_t top = bits.peek(17);
        const AcEntry& e = (top >> 11) != 0 ? ac.shortCodes[top >> 8] : ac.longCodes[top & 0x7FF];
        bits.skip(e.bits);
        ++written;
        if (e.kind == AcCode) [[likely]] {
            failed = !put(e.code);
        } else if (e.kind == AcEscape) {
            const uint16_t code = uint16_t(bits.take(16));
            failed = code == kEndOfBlock || !put(code);
        } else {
            ended = true;
            break;
        }
    }
    if (!ended) {
        ++written;
        bits.skip(2);
    }
    m_bits = bits;
    m_written = written;
    m_consumed = written;
    if (failed) {
        m_failed = true;
        std::memset(block, 0, 64 * sizeof *block);
        return -1;
    }
    return pos;
}

const std::array<ScanStep, 64>& scanSteps()
{
    static const std::array<ScanStep, 64> steps = [] {
        std::array<ScanStep, 64> s{};
        for (size_t p = 0; p < 64; ++p)
            s[p] = {quantTable()[kZigZag[p]], kZigZag[p]};
        return s;
    }();
    return steps;
}

} // namespace streamkit::mdec
