#include "reconstruct.h"

#include <algorithm>
#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <tmmintrin.h>
#endif

#include "colour.h"
#include "idct.h"
#include "mdec_tables.h"
#include "streamkit/lbr.h"

namespace streamkit::mdec {

namespace {

// The six blocks of a macroblock as samples: Cr, Cb, then luma top-left, top-right,
// bottom-left, bottom-right.
struct Macroblock
{
    int16_t samples[6][64];
};

// Blocks from the run-level buffer.
class BufferBlocks
{
public:
    explicit BufferBlocks(CodeSpan codes) : m_code(codes.codes), m_end(codes.codes + codes.count) {}
    int next(int32_t* block) { return dequantiseBlock(m_code, m_end, block); }
    bool exhausted() const { return m_code >= m_end; }
    bool failed() const { return false; }

private:
    const uint16_t* m_code;
    const uint16_t* m_end;
};

// `block` is all zeros on entry and on return: only the coefficients a block set are cleared
// again after its transform.
template <typename Blocks> void decodeMacroblock(Blocks& blocks, int32_t* block, Macroblock& mb)
{
    for (int b = 0; b < kBlocksPerMacroblock; ++b) {
        const int last = blocks.next(block);
        if (last < 0) {
            std::fill(mb.samples[b], mb.samples[b] + 64, int16_t(0));
            continue;
        }
        const int active = activeSize(last);
        inverseTransform(block, active, mb.samples[b]);
        if (active == 8) {
            std::memset(block, 0, 64 * sizeof *block);
        } else {
            for (int p = 0; p <= last; ++p)
                block[kZigZag[size_t(p)]] = 0;
        }
    }
}

// Where the macroblocks go: column by column, the leftmost column narrowed to width mod 16 and
// the bottom row to height mod 16. Once the codes are used up, every further macroblock is empty:
// `fill(x0, empty)` then covers all columns from x0 on at once with the empty macroblock.
// A source whose blocks fail stops the walk: what it placed is then to be overwritten.
template <typename Blocks, typename Place, typename Fill>
void forEachMacroblock(Blocks& blocks, int32_t width, int32_t height, Place place, Fill fill)
{
    const int columns = (width + 15) / 16, rows = (height + 15) / 16;
    const int firstWidth = width % 16 ? width % 16 : 16;
    const int lastHeight = height % 16 ? height % 16 : 16;
    Macroblock mb;
    alignas(32) int32_t block[64] = {};
    for (int mx = 0; mx < columns; ++mx) {
        const int x0 = mx == 0 ? 0 : firstWidth + (mx - 1) * 16;
        const int w = mx == 0 ? firstWidth : 16;
        if (blocks.exhausted()) {
            std::memset(&mb, 0, sizeof mb);
            fill(x0, mb);
            return;
        }
        for (int my = 0; my < rows; ++my) {
            decodeMacroblock(blocks, block, mb);
            if (blocks.failed())
                return;
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

namespace {

const ScanStep* const kScan = scanSteps().data();

} // namespace

int dequantiseBlock(const uint16_t*& code, const uint16_t* end, int32_t* block)
{
    if (code >= end)
        return -1;
    const uint16_t dc = *code++;
    if (dc == kEndOfBlock)
        return -1;
    const ScanStep* scan = kScan;
    const int32_t scale = dc >> 10;
    block[0] = signExtend10(dc) * scan[0].factor;
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
        const ScanStep step = scan[pos];
        const int32_t value = (signExtend10(ac) * scale * step.factor) >> 3;
        block[step.at] = std::clamp(value, -kMaxCoefficient, kMaxCoefficient);
    }
    return pos;
}

#if defined(__SSE2__)
namespace {

// Byte shuffles that lay sixteen blue, green and red bytes out as 48 bytes of pixels: for each of
// the three 16-byte outputs and each colour, the source byte of every output byte (0x80: none).
struct PixelShuffles
{
    alignas(16) uint8_t mask[3][3][16];
    constexpr PixelShuffles() : mask{}
    {
        for (int out = 0; out < 3; ++out)
            for (int colour = 0; colour < 3; ++colour)
                for (int i = 0; i < 16; ++i) {
                    const int j = out * 16 + i;
                    mask[out][colour][i] = uint8_t(j % 3 == colour ? j / 3 : 0x80);
                }
    }
};
constexpr PixelShuffles kPixelShuffles;

__attribute__((target("ssse3"))) void storePixelsSsse3(__m128i r, __m128i g, __m128i b, uint8_t* out)
{
    const __m128i channels[3] = {b, g, r};
    for (int k = 0; k < 3; ++k) {
        __m128i v = _mm_setzero_si128();
        for (int colour = 0; colour < 3; ++colour)
            v = _mm_or_si128(v, _mm_shuffle_epi8(channels[colour], _mm_load_si128(reinterpret_cast<const __m128i*>(
                                                                       kPixelShuffles.mask[k][colour]))));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * k), v);
    }
}

const bool kHasSsse3 = __builtin_cpu_supports("ssse3");

} // namespace
#endif

namespace {

// Writes one converted pixel in 24 or 16 bits.
template <int Bits> inline void putPixel(uint8_t* p, uint8_t red, uint8_t green, uint8_t blue)
{
    if constexpr (Bits == 16) {
        const uint16_t word = uint16_t(((red & 0xF8) << 7) | ((green & 0xF8) << 2) | (blue >> 3));
        p[0] = uint8_t(word);
        p[1] = uint8_t(word >> 8);
    } else {
        p[0] = blue;
        p[1] = green;
        p[2] = red;
    }
}

// Colour conversion of one macroblock into the picture; `top` is the memory row of the
// macroblock's top line, rows going down in the picture are at lower addresses.
template <int Bits> class MacroblockWriter
{
public:
    MacroblockWriter(const ColourTables& t) :
        m_y(t.y + ColourTables::kOffset), m_rr(t.rr + ColourTables::kOffset), m_gr(t.gr + ColourTables::kOffset),
        m_gb(t.gb + ColourTables::kOffset), m_rb(t.rb + ColourTables::kOffset),
        m_clamp(t.clamp + ColourTables::kClampOffset), m_linear(t)
    {
    }

#if defined(__SSE2__)
    // One line of a whole macroblock in 24 bits, sixteen pixels at once: the table lookups stay
    // per sample, the additions and the clamping to 0..255 run on all sixteen together.
    void line24(const int16_t* lumaLeft, const int16_t* lumaRight, const int16_t* red, const int16_t* green,
                const int16_t* blue, uint8_t* out) const
    {
        const int32_t* ty = m_y;
        const __m128i yLo = _mm_setr_epi16(int16_t(ty[lumaLeft[0]]), int16_t(ty[lumaLeft[1]]), int16_t(ty[lumaLeft[2]]),
                                           int16_t(ty[lumaLeft[3]]), int16_t(ty[lumaLeft[4]]), int16_t(ty[lumaLeft[5]]),
                                           int16_t(ty[lumaLeft[6]]), int16_t(ty[lumaLeft[7]]));
        const __m128i yHi = _mm_setr_epi16(int16_t(ty[lumaRight[0]]), int16_t(ty[lumaRight[1]]),
                                           int16_t(ty[lumaRight[2]]), int16_t(ty[lumaRight[3]]),
                                           int16_t(ty[lumaRight[4]]), int16_t(ty[lumaRight[5]]),
                                           int16_t(ty[lumaRight[6]]), int16_t(ty[lumaRight[7]]));
        auto channel = [&](const int16_t* offsets) {
            // Each chroma offset serves two neighbouring pixels.
            const __m128i o = _mm_loadu_si128(reinterpret_cast<const __m128i*>(offsets));
            const __m128i lo = _mm_unpacklo_epi16(o, o), hi = _mm_unpackhi_epi16(o, o);
            return _mm_packus_epi16(_mm_add_epi16(yLo, lo), _mm_add_epi16(yHi, hi));
        };
        store24(channel(red), channel(green), channel(blue), out);
    }

    // Two lines of a whole macroblock in 24 bits without any table: the colour settings have no
    // gamma, so luma is a clamped shift and each chroma weight a multiplication, done on eight
    // samples at once (mulhi of (c << 6) by the 10-bit weight is (c x weight) >> 10 exactly).
    void linePair24(const int16_t* luma[2][2], const int16_t* cr, const int16_t* cb, uint8_t* out[2]) const
    {
        const __m128i chromaLow = _mm_set1_epi16(-128), chromaHigh = _mm_set1_epi16(127);
        const __m128i c0 = _mm_slli_epi16(
            _mm_min_epi16(_mm_max_epi16(_mm_adds_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cr)),
                                                       _mm_set1_epi16(m_linear.redOffset)),
                                        chromaLow),
                          chromaHigh),
            6);
        const __m128i c1 = _mm_slli_epi16(
            _mm_min_epi16(_mm_max_epi16(_mm_adds_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cb)),
                                                       _mm_set1_epi16(m_linear.blueOffset)),
                                        chromaLow),
                          chromaHigh),
            6);
        const __m128i red = _mm_mulhi_epi16(c0, _mm_set1_epi16(1435));
        const __m128i green =
            _mm_add_epi16(_mm_mulhi_epi16(c0, _mm_set1_epi16(-731)), _mm_mulhi_epi16(c1, _mm_set1_epi16(-352)));
        const __m128i blue = _mm_mulhi_epi16(c1, _mm_set1_epi16(1814));
        const __m128i offsets[3][2] = {
            {_mm_unpacklo_epi16(red, red), _mm_unpackhi_epi16(red, red)},
            {_mm_unpacklo_epi16(green, green), _mm_unpackhi_epi16(green, green)},
            {_mm_unpacklo_epi16(blue, blue), _mm_unpackhi_epi16(blue, blue)},
        };
        const __m128i shift = _mm_set1_epi16(m_linear.lumaShift);
        const __m128i zero = _mm_setzero_si128(), full = _mm_set1_epi16(255);
        for (int line = 0; line < 2; ++line) {
            __m128i y[2];
            for (int half = 0; half < 2; ++half) {
                const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(luma[line][half]));
                y[half] = _mm_min_epi16(_mm_max_epi16(_mm_adds_epi16(l, shift), zero), full);
            }
            auto channel = [&](int c) {
                return _mm_packus_epi16(_mm_add_epi16(y[0], offsets[c][0]), _mm_add_epi16(y[1], offsets[c][1]));
            };
            store24(channel(0), channel(1), channel(2), out[line]);
        }
    }

    // Sixteen pixels from their red, green and blue bytes, stored as blue, green, red.
    static void store24(__m128i r, __m128i g, __m128i b, uint8_t* out)
    {
        if (kHasSsse3) {
            storePixelsSsse3(r, g, b, out);
            return;
        }
        const __m128i zero = _mm_setzero_si128();
        const __m128i bgLo = _mm_unpacklo_epi8(b, g), bgHi = _mm_unpackhi_epi8(b, g);
        const __m128i r0Lo = _mm_unpacklo_epi8(r, zero), r0Hi = _mm_unpackhi_epi8(r, zero);
        alignas(16) uint32_t pixels[16];
        _mm_store_si128(reinterpret_cast<__m128i*>(pixels), _mm_unpacklo_epi16(bgLo, r0Lo));
        _mm_store_si128(reinterpret_cast<__m128i*>(pixels + 4), _mm_unpackhi_epi16(bgLo, r0Lo));
        _mm_store_si128(reinterpret_cast<__m128i*>(pixels + 8), _mm_unpacklo_epi16(bgHi, r0Hi));
        _mm_store_si128(reinterpret_cast<__m128i*>(pixels + 12), _mm_unpackhi_epi16(bgHi, r0Hi));
        // Four-byte stores that overlap by one byte; the last pixel is stored in three bytes so
        // that nothing beyond the line is touched.
        for (int i = 0; i < 15; ++i)
            std::memcpy(out + 3 * i, pixels + i, 4);
        std::memcpy(out + 45, pixels + 15, 3);
    }
#endif

    // A whole 16 x 16 macroblock, two by two pixels sharing one chroma sample. Everything is
    // loaded into locals before the bytes are stored (byte stores may alias any memory).
    void full(const Macroblock& mb, uint8_t* top, ptrdiff_t stride) const
    {
#if defined(__SSE2__)
        if constexpr (Bits == 24) {
            if (m_linear.linear) {
                for (int pair = 0; pair < 8; ++pair) {
                    const int block = pair < 4 ? 2 : 4;
                    const int row = (pair * 2) & 7;
                    const int16_t* luma[2][2] = {
                        {mb.samples[block] + row * 8, mb.samples[block + 1] + row * 8},
                        {mb.samples[block] + row * 8 + 8, mb.samples[block + 1] + row * 8 + 8},
                    };
                    uint8_t* lines[2] = {top - (2 * pair) * stride, top - (2 * pair + 1) * stride};
                    linePair24(luma, mb.samples[0] + pair * 8, mb.samples[1] + pair * 8, lines);
                }
                return;
            }
            for (int pair = 0; pair < 8; ++pair) {
                int16_t red[8], green[8], blue[8];
                const int16_t* cr = mb.samples[0] + pair * 8;
                const int16_t* cb = mb.samples[1] + pair * 8;
                for (int k = 0; k < 8; ++k) {
                    red[k] = int16_t(m_rr[cr[k]]);
                    green[k] = int16_t(m_gr[cr[k]] + m_gb[cb[k]]);
                    blue[k] = int16_t(m_rb[cb[k]]);
                }
                for (int half = 0; half < 2; ++half) {
                    const int ly = pair * 2 + half;
                    const int block = ly < 8 ? 2 : 4;
                    const int16_t* left = mb.samples[block] + (ly & 7) * 8;
                    const int16_t* right = mb.samples[block + 1] + (ly & 7) * 8;
                    line24(left, right, red, green, blue, top - ly * stride);
                }
            }
            return;
        }
#endif
        constexpr int bpp = Bits / 8;
        const int32_t *ty = m_y, *trr = m_rr, *tgr = m_gr, *tgb = m_gb, *trb = m_rb;
        const uint8_t* clamp = m_clamp;
        for (int quadrant = 0; quadrant < 4; ++quadrant) {
            const int qy = quadrant >> 1, qx = quadrant & 1;
            const int16_t* luma = mb.samples[2 + quadrant];
            for (int r = 0; r < 8; r += 2) {
                const int chromaRow = (qy * 8 + r) / 2 * 8 + qx * 4;
                const int16_t* cr = mb.samples[0] + chromaRow;
                const int16_t* cb = mb.samples[1] + chromaRow;
                uint8_t* upper = top - (qy * 8 + r) * stride + qx * 8 * bpp;
                uint8_t* lower = upper - stride;
                const int16_t* y0 = luma + r * 8;
                const int16_t* y1 = y0 + 8;
                for (int c = 0; c < 4; ++c) {
                    const int crv = cr[c], cbv = cb[c];
                    const int32_t blue = trb[cbv], green = tgr[crv] + tgb[cbv], red = trr[crv];
                    const int32_t a = ty[y0[2 * c]], b = ty[y0[2 * c + 1]];
                    const int32_t d = ty[y1[2 * c]], e = ty[y1[2 * c + 1]];
                    const uint8_t px[4][3] = {
                        {clamp[a + red], clamp[a + green], clamp[a + blue]},
                        {clamp[b + red], clamp[b + green], clamp[b + blue]},
                        {clamp[d + red], clamp[d + green], clamp[d + blue]},
                        {clamp[e + red], clamp[e + green], clamp[e + blue]},
                    };
                    putPixel<Bits>(upper + (2 * c) * bpp, px[0][0], px[0][1], px[0][2]);
                    putPixel<Bits>(upper + (2 * c + 1) * bpp, px[1][0], px[1][1], px[1][2]);
                    putPixel<Bits>(lower + (2 * c) * bpp, px[2][0], px[2][1], px[2][2]);
                    putPixel<Bits>(lower + (2 * c + 1) * bpp, px[3][0], px[3][1], px[3][2]);
                }
            }
        }
    }

    // The visible w x h part of a macroblock at the picture's edge.
    void part(const Macroblock& mb, uint8_t* top, ptrdiff_t stride, int w, int h) const
    {
        constexpr int bpp = Bits / 8;
        for (int ly = 0; ly < h; ++ly) {
            uint8_t* row = top - ly * stride;
            const int16_t* cr = mb.samples[0] + (ly >> 1) * 8;
            const int16_t* cb = mb.samples[1] + (ly >> 1) * 8;
            for (int lx = 0; lx < w; ++lx) {
                int block;
                const int li = lumaIndex(lx, ly, block);
                const int c = lx >> 1;
                put(row + lx * bpp, m_y[mb.samples[block][li]], m_rr[cr[c]], m_gr[cr[c]] + m_gb[cb[c]],
                    m_rb[cb[c]]);
            }
        }
    }

private:
    void put(uint8_t* p, int32_t y, int32_t red, int32_t green, int32_t blue) const
    {
        putPixel<Bits>(p, m_clamp[y + red], m_clamp[y + green], m_clamp[y + blue]);
    }

    const int32_t *m_y, *m_rr, *m_gr, *m_gb, *m_rb;
    const uint8_t* m_clamp;
    const ColourTables& m_linear;  // the shortcut's values
};

template <int Bits, typename Blocks>
void convertPicture(Blocks& blocks, int32_t width, int32_t height, FrameDib* picture)
{
    const MacroblockWriter<Bits> writer(colourTables());
    const ptrdiff_t stride = ptrdiff_t(LbrPictureStride(width, Bits));
    uint8_t* pixels = LbrPicturePixels(picture);
    auto place = [&](const Macroblock& mb, int x0, int y0, int w, int h) {
        uint8_t* top = pixels + size_t(height - 1 - y0) * size_t(stride) + size_t(x0) * (Bits / 8);
        if (w == 16 && h == 16)
            writer.full(mb, top, stride);
        else
            writer.part(mb, top, stride, w, h);
    };
    // The rest of the picture in the colour of an empty macroblock: one pixel converted, then
    // copied along the first row and that row copied to the others.
    auto fill = [&](int x0, const Macroblock& empty) {
        constexpr int bpp = Bits / 8;
        uint8_t* first = pixels + size_t(x0) * bpp;
        writer.part(empty, first, stride, 1, 1);
        const size_t rowBytes = size_t(width - x0) * bpp;
        for (size_t done = bpp; done < rowBytes;) {
            const size_t n = std::min(done, rowBytes - done);
            std::memcpy(first + done, first, n);
            done += n;
        }
        for (int32_t y = 1; y < height; ++y)
            std::memcpy(first + size_t(y) * size_t(stride), first, rowBytes);
    };
    forEachMacroblock(blocks, width, height, place, fill);
}

} // namespace

void reconstructPicture(CodeSpan codes, int32_t width, int32_t height, FrameDib* picture)
{
    BufferBlocks blocks(codes);
    if (picture->bitCount == 16)
        convertPicture<16>(blocks, width, height, picture);
    else
        convertPicture<24>(blocks, width, height, picture);
}

bool reconstructPicture(BlockDecoder& blocks, int32_t width, int32_t height, FrameDib* picture)
{
    if (picture->bitCount == 16)
        convertPicture<16>(blocks, width, height, picture);
    else
        convertPicture<24>(blocks, width, height, picture);
    return !blocks.failed();
}

void reconstructPlanes(CodeSpan codes, int32_t width, int32_t height, const PlanarFrame& out)
{
    const int chromaWidth = (width + 1) / 2, chromaHeight = (height + 1) / 2;
    auto level = [](int v) { return uint8_t(std::clamp(v + 128, 0, 255)); };
    auto fill = [&](int x0, const Macroblock&) {
        // An empty macroblock is mid level in all three planes.
        for (int32_t y = 0; y < height; ++y)
            std::memset(out.y + size_t(y) * size_t(width) + size_t(x0), level(0), size_t(width - x0));
        const int cx0 = x0 / 2;
        for (int y = 0; y < chromaHeight; ++y) {
            std::memset(out.cr + size_t(y) * size_t(chromaWidth) + size_t(cx0), level(0),
                        size_t(chromaWidth - cx0));
            std::memset(out.cb + size_t(y) * size_t(chromaWidth) + size_t(cx0), level(0),
                        size_t(chromaWidth - cx0));
        }
    };
    auto place = [&](const Macroblock& mb, int x0, int y0, int w, int h) {
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
    };
    BufferBlocks blocks(codes);
    forEachMacroblock(blocks, width, height, place, fill);
}

} // namespace streamkit::mdec
