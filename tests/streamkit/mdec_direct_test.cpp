// The one-pass decoder (bitstream straight to coefficients) against the two passes through the
// run-level buffer: the same pictures, or a refusal that sends the frame through the buffer.
#include <gtest/gtest.h>

#include <cstring>

#include "mdec/bitstream.h"
#include "mdec/mdec_tables.h"
#include "mdec/reconstruct.h"
#include "mdec_frame_builder.h"
#include "streamkit/lbr.h"

using namespace streamkit::mdec;

namespace {

class Random
{
public:
    explicit Random(uint32_t seed) : m_seed(seed) {}
    uint32_t operator()(uint32_t n)
    {
        m_seed = m_seed * 1664525u + 1013904223u;
        return (m_seed >> 8) % n;
    }

private:
    uint32_t m_seed;
};

TEST(LookaheadReader, ReadsAsTheWordReaderAndGivesZerosPastTheEnd)
{
    Random next(5);
    for (int round = 0; round < 200; ++round) {
        std::vector<uint8_t> data(next(40));  // odd sizes too: a last half word is not read
        for (uint8_t& b : data)
            b = uint8_t(next(256));
        BitReader words(data.data(), data.size());
        LookaheadReader lookahead;
        std::vector<uint8_t> storage;
        ASSERT_TRUE(lookahead.start(data.data(), data.size(), storage));
        // Well past the end: 8 bits of data per byte, and as much again.
        for (size_t bit = 0; bit < data.size() * 16 + 64;) {
            lookahead.refill();
            for (int used = 0; used < 56;) {
                const int n = 1 + int(next(std::min(24, 56 - used)));
                ASSERT_EQ(lookahead.take(n), words.take(n)) << "round " << round << " bit " << bit;
                used += n;
                bit += size_t(n);
            }
        }
    }
}

// A picture decoded both ways. `direct` is false when the one-pass decoder gave the frame up.
struct BothWays
{
    bool direct = false;
    std::vector<uint8_t> onePass, twoPass;
};

// The pixel rows, the padding at their ends left out.
std::vector<uint8_t> pixelRows(FrameDib* picture, int32_t width, int32_t height, int bits)
{
    const size_t stride = LbrPictureStride(width, bits), row = size_t(width) * size_t(bits / 8);
    std::vector<uint8_t> out;
    for (int32_t y = 0; y < height; ++y)
        out.insert(out.end(), LbrPicturePixels(picture) + size_t(y) * stride,
                   LbrPicturePixels(picture) + size_t(y) * stride + row);
    return out;
}

BothWays decodeBothWays(const std::vector<uint8_t>& payload, int32_t width, int32_t height, int bits)
{
    const size_t blocks = size_t(kBlocksPerMacroblock) * size_t((width + 15) / 16) * size_t((height + 15) / 16);
    const size_t bytes = size_t(LbrPictureStride(width, bits)) * size_t(height);
    BothWays out;
    std::vector<uint16_t> buffer;
    FrameDib* picture = LbrAllocBitmap(width, height, 1, bits, nullptr);
    EXPECT_NE(picture, nullptr);
    if (!picture)
        return out;
    if (decodeBitstream(payload.data(), payload.size(), buffer, blocks)) {
        const CodeSpan codes{buffer.data() + kRunLevelHeaderWords, size_t(buffer[0]) * 2 + kGuardCodes};
        std::memset(LbrPicturePixels(picture), 0x5A, bytes);
        reconstructPicture(codes, width, height, picture);
        out.twoPass = pixelRows(picture, width, height, bits);
    }
    BlockDecoder decoder;
    const bool opened = decoder.open(payload.data(), payload.size(), blocks);
    EXPECT_EQ(opened, !out.twoPass.empty()) << "both refuse the same frames";
    if (opened) {
        std::memset(LbrPicturePixels(picture), 0xA5, bytes);  // no pixel left over from the other pass
        out.direct = reconstructPicture(decoder, width, height, picture);
        out.onePass = pixelRows(picture, width, height, bits);
    }
    LbrFreeBitmap(picture);
    return out;
}

// Blocks of coefficient codes, well-formed; with `damage`, some blocks run past their 64
// positions or carry an escape that reads as an end of block, as damaged streams do.
// `form`: 0 plain DC values, 1 differential ones (of size 1), 2 none (they are in the table).
void writeBlocks(BitWriter& w, Random& next, int blocks, int form, bool damage)
{
    for (int b = 0; b < blocks; ++b) {
        if (form == 0)
            w.put(next(1024), 10);
        else if (form == 1)
            w.bits(b % kBlocksPerMacroblock < 2 ? "01" : "00").put(next(2), 1);
        const int length = int(next(4) == 0 ? 50 + next(20) : next(14));
        int pos = 0;  // where a well-formed block stands; it never runs past 63
        for (int i = 0; i < length && pos < 63; ++i) {
            const uint32_t pick = next(200);
            if (pick < 3) {
                const uint32_t run = damage && pick == 0 ? 62 : next(uint32_t(63 - pos));
                const uint16_t code = damage && pick == 1 ? 0xFE00 : uint16_t(run << 10 | next(1024));
                w.bits("000001").put(code, 16);
                pos += int(run) + 1;
            } else if (damage && pick < 5) {
                w.bits("0000000000000000");  // no such code, and the stream out of step
                break;
            } else {
                const AcCodeSpec* c = &kAcCodeTable[pick < 140 ? next(8) : next(uint32_t(kAcCodeTable.size()))];
                if (!damage && pos + c->run + 1 > 63)
                    c = &kAcCodeTable[0];  // (0, 1)
                w.put(c->pattern, c->length).put(next(2), 1);
                pos += c->run + 1;
            }
        }
        if (!damage || next(10) != 0)
            w.bits("10");  // after 63 codes, the two bits passed over
    }
}

TEST(DirectDecode, PicturesEqualTheTwoPassDecodeOrTheFrameIsGivenBack)
{
    Random next(2024);
    int direct = 0, givenBack = 0;
    for (int round = 0; round < 600; ++round) {
        const int32_t width = 1 + int32_t(next(72)), height = 1 + int32_t(next(56));
        const int pictureBlocks = kBlocksPerMacroblock * ((width + 15) / 16) * ((height + 15) / 16);
        const int form = int(next(3));  // plain DC, differential DC, DC table
        const bool damage = next(3) == 0;
        const int blocks = 1 + int(next(uint32_t(pictureBlocks + 6)));
        BitWriter w;
        writeBlocks(w, next, blocks, form, damage);
        // Code counts that end the code area anywhere, including past the stream.
        const uint16_t codeWords = uint16_t(1 + next(uint32_t(blocks) * 40));
        std::vector<uint8_t> payload;
        if (form == 2) {
            // Table form: width and height in the header, then an LZ-packed table of random bytes.
            std::vector<uint16_t> body;
            const uint16_t tableWords = uint16_t(next(30));
            body.push_back(uint16_t(tableWords * 2));
            for (int i = 0; i < tableWords; ++i)
                body.push_back(uint16_t(next(65536)));
            const auto stream = w.words();
            body.insert(body.end(), stream.begin(), stream.end());
            payload = framePayload(codeWords, uint16_t(width), uint16_t(std::max(16, height)), body);
        } else {
            const uint16_t qscale = uint16_t(damage && next(2) ? 63 : 1 + next(63));  // 63: DC 0x200 reads as an end
            payload = framePayload(codeWords, qscale, form == 1 ? 3 : 2, w.words());
        }
        if (next(8) == 0)
            payload.resize(8 + next(uint32_t(payload.size() - 7)));  // cut anywhere, odd sizes too
        const int bits = next(4) == 0 ? 16 : 24;
        const BothWays both = decodeBothWays(payload, width, height, bits);
        if (both.twoPass.empty())
            continue;
        if (both.direct) {
            ++direct;
            ASSERT_EQ(both.onePass, both.twoPass) << "round " << round << " " << width << "x" << height;
        } else {
            ++givenBack;
        }
    }
    // Both outcomes must have been seen for the comparison to mean anything.
    EXPECT_GT(direct, 300);
    EXPECT_GT(givenBack, 20);
}

TEST(DirectDecode, GivesBackExactlyTheFramesWhoseBlocksWouldMisalign)
{
    struct Case
    {
        const char* what;
        uint16_t qscale;
        uint32_t dc;
        uint32_t escape;  // one escape code after the DC, or none
        bool direct;
    };
    const Case cases[] = {
        {"plain block", 4, 5, 0, true},
        {"escape with a short run", 4, 5, 3 << 10 | 7, true},
        {"run past the block", 4, 5, 63 << 10 | 1, false},
        {"escape that reads as an end of block", 4, 5, 0xFE00, false},
        {"DC that reads as an end of block", 63, 0x200, 0, false},
        {"largest DC that does not", 63, 0x1FF, 0, true},
    };
    for (const Case& c : cases) {
        BitWriter w;
        for (int b = 0; b < kBlocksPerMacroblock; ++b) {
            w.put(c.dc, 10);
            if (c.escape)
                w.bits("000001").put(c.escape, 16);
            w.bits("110 10");  // (0, -1), end of block
        }
        const auto payload = framePayload(40, c.qscale, 2, w.words());
        const BothWays both = decodeBothWays(payload, 16, 16, 24);
        EXPECT_EQ(both.direct, c.direct) << c.what;
        if (both.direct) {
            EXPECT_EQ(both.onePass, both.twoPass) << c.what;
        }
    }
}

} // namespace
