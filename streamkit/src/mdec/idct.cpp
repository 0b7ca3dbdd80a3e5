#include "idct.h"

#include <algorithm>
#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace streamkit::mdec {

namespace {

// One column or row of eight values; inputs from index K on are known to be zero.
template <int K> inline void transform8(const int32_t* in, int stride, int32_t* out, int outStride)
{
    const int32_t x0 = in[0];
    const int32_t x1 = K > 1 ? in[1 * stride] : 0;
    const int32_t x2 = K > 2 ? in[2 * stride] : 0;
    const int32_t x3 = K > 3 ? in[3 * stride] : 0;
    const int32_t x4 = K > 4 ? in[4 * stride] : 0;
    const int32_t x5 = K > 5 ? in[5 * stride] : 0;
    const int32_t x6 = K > 6 ? in[6 * stride] : 0;
    const int32_t x7 = K > 7 ? in[7 * stride] : 0;

    const int32_t l = x4 + x0, m = x2 + x6, o = x3 + x5, r = x1 + x7;
    const int32_t t = ((x1 + x5 - x7 - x3) * 473) >> 8;
    const int32_t e = t + (((x3 - x5) * 669) >> 8) - o - r;
    const int32_t d = x0 - x4;
    const int32_t c = (((x2 - x6) * 362) >> 8) - m;
    const int32_t r2 = (((r - o) * 362) >> 8) - e;
    const int32_t r3 = r2 + (((x1 - x7) * 277) >> 8) - t;
    out[0 * outStride] = l + m + o + r;
    out[1 * outStride] = e + d + c;
    out[2 * outStride] = d + r2 - c;
    out[3 * outStride] = l - m - r3;
    out[4 * outStride] = l + r3 - m;
    out[5 * outStride] = d - c - r2;
    out[6 * outStride] = d + c - e;
    out[7 * outStride] = l + m - o - r;
}

inline int16_t toSample(int32_t v)
{
    return int16_t(std::clamp(v >> 5, -512, 511));
}

template <int K> void transformBlock(const int32_t* block, int16_t* samples)
{
    int32_t columns[64];
    for (int c = 0; c < K; ++c)
        transform8<K>(block + c, 8, columns + c, 8);
    for (int row = 0; row < 8; ++row) {
        int32_t out[8];
        transform8<K>(columns + row * 8, 1, out, 1);
        for (int i = 0; i < 8; ++i)
            samples[row * 8 + i] = toSample(out[i]);
    }
}

#if defined(__SSE2__)
// The full transform on four columns (or rows) at once: each vector holds one input position of
// four neighbouring columns, and the butterfly is the scalar one, lane by lane.
typedef int32_t Lanes __attribute__((vector_size(16)));

__attribute__((always_inline)) inline void butterfly(Lanes* x)
{
    const Lanes l = x[4] + x[0], m = x[2] + x[6], o = x[3] + x[5], r = x[1] + x[7];
    const Lanes t = ((x[1] + x[5] - x[7] - x[3]) * 473) >> 8;
    const Lanes e = t + (((x[3] - x[5]) * 669) >> 8) - o - r;
    const Lanes d = x[0] - x[4];
    const Lanes c = (((x[2] - x[6]) * 362) >> 8) - m;
    const Lanes r2 = (((r - o) * 362) >> 8) - e;
    const Lanes r3 = r2 + (((x[1] - x[7]) * 277) >> 8) - t;
    x[0] = l + m + o + r;
    x[7] = l + m - o - r;
    x[1] = e + d + c;
    x[6] = d + c - e;
    x[2] = d + r2 - c;
    x[5] = d - c - r2;
    x[4] = l + r3 - m;
    x[3] = l - m - r3;
}

__attribute__((always_inline)) inline __m128i asM128(Lanes v)
{
    __m128i m;
    std::memcpy(&m, &v, sizeof m);
    return m;
}
__attribute__((always_inline)) inline Lanes asLanes(__m128i m)
{
    Lanes v;
    std::memcpy(&v, &m, sizeof v);
    return v;
}

// Transposes the 4 x 4 block held in a[0..3] into b[0..3].
__attribute__((always_inline)) inline void transpose4(const Lanes* a, Lanes* b)
{
    const __m128i t0 = _mm_unpacklo_epi32(asM128(a[0]), asM128(a[1]));
    const __m128i t1 = _mm_unpacklo_epi32(asM128(a[2]), asM128(a[3]));
    const __m128i t2 = _mm_unpackhi_epi32(asM128(a[0]), asM128(a[1]));
    const __m128i t3 = _mm_unpackhi_epi32(asM128(a[2]), asM128(a[3]));
    b[0] = asLanes(_mm_unpacklo_epi64(t0, t1));
    b[1] = asLanes(_mm_unpackhi_epi64(t0, t1));
    b[2] = asLanes(_mm_unpacklo_epi64(t2, t3));
    b[3] = asLanes(_mm_unpackhi_epi64(t2, t3));
}

// With `TopLeft`, only the top-left 4 x 4 coefficients may be non-zero: the terms of the others
// vanish, and columns 4 to 7 come out of the column pass as zeros.
template <bool TopLeft>
__attribute__((always_inline)) inline void transformFullBody(const int32_t* block, int16_t* samples)
{
    // Column pass: columns[h][r] is input row r of columns 4h .. 4h + 3.
    Lanes columns[2][8];
    for (int h = 0; h < 2; ++h) {
        for (int r = 0; r < 8; ++r) {
            if (TopLeft && (h == 1 || r >= 4))
                columns[h][r] = Lanes{0, 0, 0, 0};
            else
                std::memcpy(&columns[h][r], block + r * 8 + 4 * h, sizeof(Lanes));
        }
        if (!TopLeft || h == 0)
            butterfly(columns[h]);
    }
    // Row pass: rows[g][c] is column c of rows 4g .. 4g + 3.
    Lanes rows[2][8];
    for (int g = 0; g < 2; ++g) {
        for (int h = 0; h < 2; ++h)
            transpose4(&columns[h][4 * g], &rows[g][4 * h]);
        butterfly(rows[g]);
    }
    // Back to raster order, shifted by 5 and limited to -512 .. 511.
    const __m128i low = _mm_set1_epi16(-512), high = _mm_set1_epi16(511);
    for (int g = 0; g < 2; ++g) {
        Lanes out[8];
        for (int h = 0; h < 2; ++h)
            transpose4(&rows[g][4 * h], &out[4 * h]);
        for (int k = 0; k < 4; ++k) {
            const __m128i left = asM128(out[k] >> 5), right = asM128(out[4 + k] >> 5);
            const __m128i packed = _mm_min_epi16(_mm_max_epi16(_mm_packs_epi32(left, right), low), high);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(samples + (4 * g + k) * 8), packed);
        }
    }
}

// The same code twice: for any x86-64 processor, and for those with a 32-bit lane multiply
// (SSE4.1), chosen once at run time.
template <bool TopLeft> void transformFullSse2(const int32_t* block, int16_t* samples)
{
    transformFullBody<TopLeft>(block, samples);
}

template <bool TopLeft> __attribute__((target("sse4.1"))) void transformFullSse41(const int32_t* block, int16_t* samples)
{
    transformFullBody<TopLeft>(block, samples);
}

const bool kHasSse41 = __builtin_cpu_supports("sse4.1");

void transformFull(const int32_t* block, int16_t* samples)
{
    if (kHasSse41)
        transformFullSse41<false>(block, samples);
    else
        transformFullSse2<false>(block, samples);
}

// A block whose coefficients all lie in its first four rows and columns.
void transformTopLeft(const int32_t* block, int16_t* samples)
{
    if (kHasSse41)
        transformFullSse41<true>(block, samples);
    else
        transformFullSse2<true>(block, samples);
}
#else
void transformFull(const int32_t* block, int16_t* samples)
{
    transformBlock<8>(block, samples);
}
#endif

} // namespace

void inverseTransformReference(const int32_t* block, int16_t* samples)
{
    transformBlock<8>(block, samples);
}

namespace {

// Anti-diagonal d of the zig-zag order holds positions d(d+1)/2 .. d(d+3)/2.
constexpr std::array<uint8_t, 64> kActiveSizes = [] {
    std::array<uint8_t, 64> sizes{};
    for (int last = 0; last < 64; ++last) {
        int d = 0;
        while (d < 7 && (d + 1) * (d + 2) / 2 <= last)
            ++d;
        sizes[size_t(last)] = uint8_t(d + 1);
    }
    return sizes;
}();

} // namespace

int activeSize(int last)
{
    return kActiveSizes[size_t(std::clamp(last, 0, 63))];
}

void inverseTransform(const int32_t* block, int active, int16_t* samples)
{
    switch (active) {
    case 1: {
        const int16_t dc = toSample(block[0]);
        std::fill(samples, samples + 64, dc);
        return;
    }
#if !defined(__SSE2__)
    // Scalar code gains from leaving out the terms of zero coefficients; with vectors the
    // whole transform of four columns at once is several times faster than any of them, and
    // only a block within its top-left quarter is worth a form of its own.
    case 2: transformBlock<2>(block, samples); return;
    case 3: transformBlock<3>(block, samples); return;
    case 4: transformBlock<4>(block, samples); return;
    case 5: transformBlock<5>(block, samples); return;
    case 6: transformBlock<6>(block, samples); return;
    case 7: transformBlock<7>(block, samples); return;
#else
    case 2:
    case 3:
    case 4: transformTopLeft(block, samples); return;
#endif
    default: transformFull(block, samples); return;
    }
}

} // namespace streamkit::mdec
