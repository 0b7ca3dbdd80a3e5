#include "reconstruct.h"

#include <algorithm>
#include <cstring>

#include "colour.h"
#include "idct.h"
#include "mdec_tables.h"
#include "streamkit/lbr.h"

namespace streamkit::mdec {

namespace {

inline int32_t signExtend10(uint16_t code)
{
    return int32_t(code & 0x3FF) - ((code & 0x200) << 1);
}

// The six blocks of a macroblock as samples: Cr, Cb, then luma top-left, top-right,
// bottom-left, bottom-right.
struct Macroblock
{
    int16_t samples[6][64];
};

void decodeMacroblock(const uint16_t*& code, const uint16_t* end, Macroblock& mb)
{
    for (int b = 0; b < kBlocksPerMacroblock; ++b) {
        alignas(32) int32_t block[64] = {};
        const int last = dequantiseBlock(code, end, block);
        if (last < 0)
            std::fill(mb.samples[b], mb.samples[b] + 64, int16_t(0));
        else
            inverseTransform(block, activeSize(last), mb.samples[b]);
    }
}

// Where the macroblocks go: column by column, the leftmost column narrowed to width mod 16 and
// the bottom row to height mod 16.
template <typename Place> void forEachMacroblock(CodeSpan codes, int32_t width, int32_t height, Place place)
{
    const int columns = (width + 15) / 16, rows = (height + 15) / 16;
    const int firstWidth = width % 16 ? width % 16 : 16;
    const int lastHeight = height % 16 ? height % 16 : 16;
    const uint16_t* code = codes.codes;
    const uint16_t* end = codes.codes + codes.count;
    Macroblock mb;
    for (int mx = 0; mx < columns; ++mx) {
        const int x0 = mx == 0 ? 0 : firstWidth + (mx - 1) * 16;
        const int w = mx == 0 ? firstWidth : 16;
        for (int my = 0; my < rows; ++my) {
            decodeMacroblock(code, end, mb);
            place(mb, x0, my * 16, w, my == rows - 1 ? lastHeight : 16);
        }
    }
}

inline int lumaIndex(int lx, int ly, int& block)
{
    block = 2 + (ly >= 8 ? 2 : 0) + (lx >= 8 ? 1 : 0);
    return (ly & 7) * 8 + (lx & 7);
}

} // namespace

int dequantiseBlock(const uint16_t*& code, const uint16_t* end, int32_t* block)
{
    if (code >= end)
        return -1;
    const uint16_t dc = *code++;
    if (dc == kEndOfBlock)
        return -1;
    const auto& q = quantTable();
    const int32_t scale = dc >> 10;
    block[0] = signExtend10(dc) * q[0];
    int pos = 0;
    while (code < end) {
        const uint16_t ac = *code;
        if (ac == kEndOfBlock) {
            ++code;
            break;
        }
        const int next = pos + (ac >> 10) + 1;
        if (next >= 64) {
            pos = 63;  // spills into the next block, which starts with this code
            break;
        }
        ++code;
        pos = next;
        const int at = kZigZag[size_t(pos)];
        const int32_t value = (signExtend10(ac) * scale * q[size_t(at)]) >> 3;
        block[at] = std::clamp(value, -kMaxCoefficient, kMaxCoefficient);
    }
    return pos;
}

void reconstructPicture(CodeSpan codes, int32_t width, int32_t height, FrameDib* picture)
{
    const ColourTables& t = colourTables();
    const int bits = picture->bitCount;
    const uint32_t stride = LbrPictureStride(width, bits);
    uint8_t* pixels = LbrPicturePixels(picture);
    const uint8_t* clamp = t.clamp + ColourTables::kClampOffset;
    constexpr int o = ColourTables::kOffset;

    forEachMacroblock(codes, width, height, [&](const Macroblock& mb, int x0, int y0, int w, int h) {
        for (int ly = 0; ly < h; ++ly) {
            uint8_t* row = pixels + size_t(height - 1 - (y0 + ly)) * stride;
            const int16_t* cr = mb.samples[0] + (ly >> 1) * 8;
            const int16_t* cb = mb.samples[1] + (ly >> 1) * 8;
            for (int lx = 0; lx < w; ++lx) {
                int block;
                const int li = lumaIndex(lx, ly, block);
                const int32_t y = t.y[mb.samples[block][li] + o];
                const int c0 = cr[lx >> 1] + o, c1 = cb[lx >> 1] + o;
                const uint8_t blue = clamp[y + t.rb[c1]];
                const uint8_t green = clamp[y + t.gr[c0] + t.gb[c1]];
                const uint8_t red = clamp[y + t.rr[c0]];
                if (bits == 16) {
                    const uint16_t word = uint16_t(((red & 0xF8) << 7) | ((green & 0xF8) << 2) | (blue >> 3));
                    uint8_t* p = row + size_t(x0 + lx) * 2;
                    p[0] = uint8_t(word);
                    p[1] = uint8_t(word >> 8);
                } else {
                    uint8_t* p = row + size_t(x0 + lx) * 3;
                    p[0] = blue;
                    p[1] = green;
                    p[2] = red;
                }
            }
        }
    });
}

void reconstructPlanes(CodeSpan codes, int32_t width, int32_t height, const PlanarFrame& out)
{
    const int chromaWidth = (width + 1) / 2, chromaHeight = (height + 1) / 2;
    auto level = [](int v) { return uint8_t(std::clamp(v + 128, 0, 255)); };
    forEachMacroblock(codes, width, height, [&](const Macroblock& mb, int x0, int y0, int w, int h) {
        for (int ly = 0; ly < h; ++ly) {
            uint8_t* yRow = out.y + size_t(y0 + ly) * size_t(width);
            for (int lx = 0; lx < w; ++lx) {
                int block;
                const int li = lumaIndex(lx, ly, block);
                yRow[x0 + lx] = level(mb.samples[block][li]);
            }
        }
        for (int ly = 0; ly < h; ly += 2) {
            const int cy = (y0 + ly) / 2;
            if (cy >= chromaHeight)
                break;
            for (int lx = 0; lx < w; lx += 2) {
                const int cx = (x0 + lx) / 2;
                if (cx >= chromaWidth)
                    break;
                const int i = (ly >> 1) * 8 + (lx >> 1);
                out.cr[size_t(cy) * size_t(chromaWidth) + size_t(cx)] = level(mb.samples[0][i]);
                out.cb[size_t(cy) * size_t(chromaWidth) + size_t(cx)] = level(mb.samples[1][i]);
            }
        }
    });
}

} // namespace streamkit::mdec
