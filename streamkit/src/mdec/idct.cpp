#include "idct.h"

#include <algorithm>

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

} // namespace

int activeSize(int last)
{
    // Anti-diagonal d of the zig-zag order holds positions d(d+1)/2 .. d(d+3)/2.
    int d = 0;
    while (d < 7 && (d + 1) * (d + 2) / 2 <= last)
        ++d;
    return d + 1;
}

void inverseTransform(const int32_t* block, int active, int16_t* samples)
{
    switch (active) {
    case 1: {
        const int16_t dc = toSample(block[0]);
        std::fill(samples, samples + 64, dc);
        return;
    }
    case 2: transformBlock<2>(block, samples); return;
    case 3: transformBlock<3>(block, samples); return;
    case 4: transformBlock<4>(block, samples); return;
    case 5: transformBlock<5>(block, samples); return;
    case 6: transformBlock<6>(block, samples); return;
    case 7: transformBlock<7>(block, samples); return;
    default: transformBlock<8>(block, samples); return;
    }
}

} // namespace streamkit::mdec
