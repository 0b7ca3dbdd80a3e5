// Picture scaling: LbrStretchFrame.
//
// All row numbers here are memory rows: row 0 is the first row of the pixel block, which is the
// bottom row on screen. A 24-bit pixel is the three bytes blue, green, red; a 16-bit pixel is
// one little-endian word. Rows are LbrPictureStride(width, bits) bytes apart.
//
// Modes: 1 nearest neighbour; 2, 3, 4 two passes (horizontal, then vertical) of area averaging
// when reducing and linear interpolation when enlarging, except that mode 3 takes the nearest
// column and mode 2 the nearest row when enlarging; 5 draws a 2x2 colour pattern for an exact
// doubling and otherwise works as mode 4. Pictures other than 24-bit always use the nearest
// neighbour.
#include <cstdint>
#include <cstring>
#include <vector>

#include "picture.h"
#include "str_info_rules.h"
#include "tamrin_common/c_guard.h"

namespace streamkit {
namespace {

constexpr int32_t kModeNone = 0;
constexpr int32_t kModeNearest = 1;
constexpr int32_t kModeNearestRows = 2;    // enlarging vertically takes the nearest row
constexpr int32_t kModeNearestColumns = 3; // the horizontal pass takes the nearest column
constexpr int32_t kModePattern = 5;

// Area averaging works in 1/256 pixel steps, linear interpolation in 1/1024.
constexpr int kAreaShift = 8;
constexpr uint32_t kAreaOne = 1u << kAreaShift;
constexpr int kLinearShift = 10;

struct PictureView
{
    uint8_t* pixels;
    int32_t width;
    int32_t height;
    uint32_t stride;
    int32_t bytesPerPixel;

    uint8_t* row(int32_t y) const { return pixels + size_t(y) * stride; }
    size_t rowBytes() const { return size_t(width) * size_t(bytesPerPixel); }
};

PictureView viewOf(FrameDib* picture)
{
    return PictureView{LbrPicturePixels(picture), picture->width, picture->height,
                       LbrPictureStride(picture->width, picture->bitCount), picture->bitCount / 8};
}

// A picture whose header matches its block: pixels right after a 40-byte header, one plane,
// 16 or 24 bits, sides within the allocator's range, and every row inside the block.
bool isWellFormed(const FrameDib* picture)
{
    if (picture->headerSize != sizeof(FrameDib) || picture->planes != 1)
        return false;
    if (picture->bitCount != 16 && picture->bitCount != 24)
        return false;
    if (picture->width < 1 || picture->width > LBR_MAX_PICTURE_SIDE || picture->height < 1 ||
        picture->height > LBR_MAX_PICTURE_SIDE)
        return false;
    const size_t needed =
        sizeof(FrameDib) + size_t(picture->height) * LbrPictureStride(picture->width, picture->bitCount);
    return pictureCapacity(picture) >= needed;
}

// Exact n / d without a division, for n below 2^28 (Granlund and Montgomery: with
// l = ceil(log2 d) and m = ceil(2^(28 + l) / d), n * m >> (28 + l) is the quotient; n * m stays
// below 2^57).
class ExactDivider
{
  public:
    static constexpr unsigned kBits = 28;
    static constexpr uint32_t kLimit = 1u << kBits;

    explicit ExactDivider(uint32_t divisor)
    {
        unsigned log2Ceil = 0;
        while ((uint64_t(1) << log2Ceil) < divisor)
            ++log2Ceil;
        m_shift = kBits + log2Ceil;
        m_multiplier = ((uint64_t(1) << m_shift) + divisor - 1) / divisor;
    }

    uint32_t operator()(uint32_t n) const { return uint32_t((uint64_t(n) * m_multiplier) >> m_shift); }

  private:
    uint64_t m_multiplier = 0;
    unsigned m_shift = 0;
};

// Area averaging of a reduction from srcLen to dstLen samples (srcLen >= dstLen). With
// P(x) = floor(x * srcLen * 256 / dstLen), i(x) = P(x) >> 8 and f(x) = P(x) & 255, target sample
// x is (s[i(x)] * (256 - f(x)) >> 8) + s[k] for i(x) < k < i(x+1) + (s[i(x+1)] * f(x+1) >> 8),
// the last term only when f(x+1) is not 0, all times 256 / step with
// step = floor(srcLen * 256 / dstLen). i(dstLen) is srcLen with f 0, so no span reads past the
// last sample.
struct AreaSpan
{
    int32_t first;        // i(x)
    uint32_t firstWeight; // 256 - f(x)
    int32_t end;          // i(x+1): samples first+1 .. end-1 count in full
    uint32_t endWeight;   // f(x+1); 0: sample end is not read
};

std::vector<AreaSpan> areaSpans(int32_t srcLen, int32_t dstLen)
{
    std::vector<AreaSpan> spans(static_cast<size_t>(dstLen));
    auto position = [&](int32_t x) { return int64_t(x) * srcLen * int64_t(kAreaOne) / dstLen; };
    int64_t p = position(0);
    for (int32_t x = 0; x < dstLen; ++x) {
        const int64_t next = position(x + 1);
        spans[size_t(x)] = AreaSpan{int32_t(p >> kAreaShift), kAreaOne - uint32_t(p & (kAreaOne - 1)),
                                    int32_t(next >> kAreaShift), uint32_t(next & (kAreaOne - 1))};
        p = next;
    }
    return spans;
}

uint32_t areaStep(int32_t srcLen, int32_t dstLen)
{
    return uint32_t(int64_t(srcLen) * kAreaOne / dstLen);
}

// A span covers P(x+1) - P(x) <= step + 1 units of 1/256, so its weighted sum times 256 is at
// most 255 * (step + 1), and step is at most LBR_MAX_PICTURE_SIDE * 256.
static_assert(uint64_t(255) * (LBR_MAX_PICTURE_SIDE * 256 + 1) < ExactDivider::kLimit);

inline uint8_t areaResult(uint32_t sum, const ExactDivider& divide)
{
    const uint32_t value = divide(sum << kAreaShift);
    return uint8_t(value > 255 ? 255 : value);
}

// Linear interpolation of an enlargement from srcLen to dstLen samples: sample x < dstLen - 1
// sits at floor(x * (srcLen - 1) * 1024 / (dstLen - 1)) in 1/1024 steps; the last copies the
// last source sample. A fraction of 0 copies sample index and never reads index + 1.
struct LinearTap
{
    int32_t index;
    int32_t fraction;
};

std::vector<LinearTap> linearTaps(int32_t srcLen, int32_t dstLen)
{
    std::vector<LinearTap> taps(static_cast<size_t>(dstLen));
    for (int32_t x = 0; x + 1 < dstLen; ++x) {
        const int64_t position = int64_t(x) * (srcLen - 1) * (int64_t(1) << kLinearShift) / (dstLen - 1);
        taps[size_t(x)] =
            LinearTap{int32_t(position >> kLinearShift), int32_t(position & ((1 << kLinearShift) - 1))};
    }
    taps[size_t(dstLen) - 1] = LinearTap{srcLen - 1, 0};
    return taps;
}

inline uint8_t interpolate(uint8_t a, uint8_t b, int32_t fraction)
{
    // >> of a negative product rounds toward minus infinity; the result stays between a and b.
    return uint8_t(int32_t(a) + ((fraction * (int32_t(b) - int32_t(a))) >> kLinearShift));
}

inline int32_t nearestIndex(int32_t x, int32_t srcLen, int32_t dstLen)
{
    return int32_t(int64_t(x) * srcLen / dstLen);
}

// ---- nearest neighbour (any depth) -------------------------------------------------------

void scaleNearest(const PictureView& src, const PictureView& dst)
{
    const size_t bpp = size_t(src.bytesPerPixel);
    std::vector<uint32_t> columnOffset(static_cast<size_t>(dst.width));
    for (int32_t x = 0; x < dst.width; ++x)
        columnOffset[size_t(x)] = uint32_t(nearestIndex(x, src.width, dst.width)) * uint32_t(bpp);

    int32_t previousSource = -1;
    for (int32_t y = 0; y < dst.height; ++y) {
        const int32_t sy = nearestIndex(y, src.height, dst.height);
        uint8_t* out = dst.row(y);
        if (sy == previousSource) {
            std::memcpy(out, dst.row(y - 1), dst.rowBytes());
            continue;
        }
        previousSource = sy;
        const uint8_t* in = src.row(sy);
        if (bpp == 3) {
            for (int32_t x = 0; x < dst.width; ++x, out += 3) {
                const uint8_t* p = in + columnOffset[size_t(x)];
                out[0] = p[0];
                out[1] = p[1];
                out[2] = p[2];
            }
        } else {
            for (int32_t x = 0; x < dst.width; ++x, out += 2) {
                const uint8_t* p = in + columnOffset[size_t(x)];
                out[0] = p[0];
                out[1] = p[1];
            }
        }
    }
}

// ---- horizontal pass (24-bit, same height) -----------------------------------------------

void horizontalNearest(const PictureView& src, const PictureView& dst)
{
    std::vector<uint32_t> columnOffset(static_cast<size_t>(dst.width));
    for (int32_t x = 0; x < dst.width; ++x)
        columnOffset[size_t(x)] = uint32_t(nearestIndex(x, src.width, dst.width)) * 3u;
    for (int32_t y = 0; y < dst.height; ++y) {
        const uint8_t* in = src.row(y);
        uint8_t* out = dst.row(y);
        for (int32_t x = 0; x < dst.width; ++x, out += 3) {
            const uint8_t* p = in + columnOffset[size_t(x)];
            out[0] = p[0];
            out[1] = p[1];
            out[2] = p[2];
        }
    }
}

void horizontalArea(const PictureView& src, const PictureView& dst)
{
    const std::vector<AreaSpan> spans = areaSpans(src.width, dst.width);
    const ExactDivider divide(areaStep(src.width, dst.width));
    for (int32_t y = 0; y < dst.height; ++y) {
        const uint8_t* in = src.row(y);
        uint8_t* out = dst.row(y);
        for (const AreaSpan& span : spans) {
            for (int c = 0; c < 3; ++c) {
                const uint8_t* s = in + c;
                uint32_t sum = (uint32_t(s[size_t(span.first) * 3]) * span.firstWeight) >> kAreaShift;
                for (int32_t k = span.first + 1; k < span.end; ++k)
                    sum += s[size_t(k) * 3];
                if (span.endWeight != 0)
                    sum += (uint32_t(s[size_t(span.end) * 3]) * span.endWeight) >> kAreaShift;
                out[c] = areaResult(sum, divide);
            }
            out += 3;
        }
    }
}

void horizontalLinear(const PictureView& src, const PictureView& dst)
{
    const std::vector<LinearTap> taps = linearTaps(src.width, dst.width);
    for (int32_t y = 0; y < dst.height; ++y) {
        const uint8_t* in = src.row(y);
        uint8_t* out = dst.row(y);
        for (const LinearTap& tap : taps) {
            const uint8_t* p = in + size_t(tap.index) * 3;
            if (tap.fraction == 0) {
                out[0] = p[0];
                out[1] = p[1];
                out[2] = p[2];
            } else {
                out[0] = interpolate(p[0], p[3], tap.fraction);
                out[1] = interpolate(p[1], p[4], tap.fraction);
                out[2] = interpolate(p[2], p[5], tap.fraction);
            }
            out += 3;
        }
    }
}

// ---- vertical pass (24-bit, same width): whole rows byte by byte --------------------------

void verticalNearest(const PictureView& src, const PictureView& dst)
{
    for (int32_t y = 0; y < dst.height; ++y)
        std::memcpy(dst.row(y), src.row(nearestIndex(y, src.height, dst.height)), dst.rowBytes());
}

void verticalArea(const PictureView& src, const PictureView& dst)
{
    const std::vector<AreaSpan> spans = areaSpans(src.height, dst.height);
    const ExactDivider divide(areaStep(src.height, dst.height));
    const size_t bytes = dst.rowBytes();
    std::vector<uint32_t> sum(bytes);
    for (int32_t y = 0; y < dst.height; ++y) {
        const AreaSpan& span = spans[size_t(y)];
        const uint8_t* first = src.row(span.first);
        for (size_t j = 0; j < bytes; ++j)
            sum[j] = (uint32_t(first[j]) * span.firstWeight) >> kAreaShift;
        for (int32_t k = span.first + 1; k < span.end; ++k) {
            const uint8_t* in = src.row(k);
            for (size_t j = 0; j < bytes; ++j)
                sum[j] += in[j];
        }
        if (span.endWeight != 0) {
            const uint8_t* last = src.row(span.end);
            for (size_t j = 0; j < bytes; ++j)
                sum[j] += (uint32_t(last[j]) * span.endWeight) >> kAreaShift;
        }
        uint8_t* out = dst.row(y);
        for (size_t j = 0; j < bytes; ++j)
            out[j] = areaResult(sum[j], divide);
    }
}

void verticalLinear(const PictureView& src, const PictureView& dst)
{
    const std::vector<LinearTap> taps = linearTaps(src.height, dst.height);
    const size_t bytes = dst.rowBytes();
    for (int32_t y = 0; y < dst.height; ++y) {
        const LinearTap& tap = taps[size_t(y)];
        uint8_t* out = dst.row(y);
        const uint8_t* a = src.row(tap.index);
        if (tap.fraction == 0) {
            std::memcpy(out, a, bytes);
            continue;
        }
        const uint8_t* b = src.row(tap.index + 1);
        for (size_t j = 0; j < bytes; ++j)
            out[j] = interpolate(a[j], b[j], tap.fraction);
    }
}

// ---- two passes ----------------------------------------------------------------------------

void scaleHorizontal(const PictureView& src, const PictureView& dst, int32_t mode)
{
    if (mode == kModeNearestColumns)
        horizontalNearest(src, dst);
    else if (src.width >= dst.width)
        horizontalArea(src, dst);
    else
        horizontalLinear(src, dst);
}

void scaleVertical(const PictureView& src, const PictureView& dst, int32_t mode)
{
    if (src.height >= dst.height)
        verticalArea(src, dst);
    else if (mode == kModeNearestRows)
        verticalNearest(src, dst);
    else
        verticalLinear(src, dst);
}

// False when the intermediate picture cannot be allocated; dst is then untouched.
bool scaleTwoPass(const PictureView& src, const PictureView& dst, int32_t mode)
{
    // The horizontal pass writes src.height rows of dst.width pixels. With equal widths it would
    // copy, so the vertical pass reads the source directly; with equal heights it writes the
    // result and the vertical pass has nothing to do.
    if (src.width == dst.width) {
        scaleVertical(src, dst, mode);
        return true;
    }
    if (src.height == dst.height) {
        scaleHorizontal(src, dst, mode);
        return true;
    }
    FrameDib* intermediate = LbrAllocBitmap(dst.width, src.height, 1, 24, nullptr);
    if (!intermediate)
        return false;
    const PictureView mid = viewOf(intermediate);
    scaleHorizontal(src, mid, mode);
    scaleVertical(mid, dst, mode);
    LbrFreeBitmap(intermediate);
    return true;
}

// ---- mode 5: exact doubling ----------------------------------------------------------------

// Source pixel (b, g, r) becomes, in the lower memory row, (b, g, r) then (b, 0, 0), and in the
// row above it, (0, 0, r) then (0, g, 0).
void drawDoublePattern(const PictureView& src, const PictureView& dst)
{
    for (int32_t y = 0; y < src.height; ++y) {
        uint8_t* lower = dst.row(2 * y);
        uint8_t* upper = dst.row(2 * y + 1);
        std::memset(lower, 0, size_t(dst.stride) * 2);
        const uint8_t* in = src.row(y);
        for (int32_t x = 0; x < src.width; ++x, in += 3, lower += 6, upper += 6) {
            const uint8_t b = in[0], g = in[1], r = in[2];
            lower[0] = b;
            lower[1] = g;
            lower[2] = r;
            lower[3] = b;
            upper[2] = r;
            upper[4] = g;
        }
    }
}

} // namespace
} // namespace streamkit

LBR_API FrameDib* LbrStretchFrame(FrameDib* source, FrameDib* reuse, int32_t mode, int32_t freeSource,
                                  const int32_t* target)
{
    return tamrin::guarded<FrameDib*>(source, [&]() -> FrameDib* {
        using namespace streamkit;

        // The picture being read is never cleared or freed as a reuse picture.
        if (reuse == source)
            reuse = nullptr;
        if (!source) {
            LbrFreeBitmap(reuse);
            return nullptr;
        }
        // Every way of answering with the source consumes the reuse picture all the same.
        auto keepSource = [&] {
            LbrFreeBitmap(reuse);
            return source;
        };
        if (!isWellFormed(source))
            return keepSource();

        int32_t width = source->width;
        int32_t height = source->height;
        if (target) {
            width = target[0];
            height = target[1];
        } else {
            applyDisplaySizeRule(width, height);
        }
        // Modes outside 1 .. 5 scale nothing, as mode 0.
        if (mode <= kModeNone || mode > kModePattern)
            return keepSource();
        if (width < 1 || width > LBR_MAX_PICTURE_SIDE || height < 1 || height > LBR_MAX_PICTURE_SIDE)
            return keepSource();
        if (width == source->width && height == source->height)
            return keepSource();

        FrameDib* result = LbrAllocBitmap(width, height, 1, source->bitCount, reuse);
        if (!result)
            return source; // the allocator has already released the reuse picture

        const PictureView src = viewOf(source);
        const PictureView dst = viewOf(result);
        if (source->bitCount != 24 || mode == kModeNearest)
            scaleNearest(src, dst);
        else if (mode == kModePattern && width == 2 * src.width && height == 2 * src.height)
            drawDoublePattern(src, dst);
        else if (!scaleTwoPass(src, dst, mode))
            scaleNearest(src, dst);

        if (freeSource)
            LbrFreeBitmap(source);
        return result;
    });
}
