#include "sectorkit/find_pattern.h"

#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace sectorkit {

namespace {

bool usable(const BytePattern& pattern, size_t step)
{
    return pattern.length >= 1 && pattern.length <= 4 && step >= 1;
}

bool matchesAt(const uint8_t* p, const BytePattern& pattern)
{
    for (size_t k = 0; k < pattern.length; ++k)
        if ((p[k] ^ pattern.bytes[k]) & pattern.mask[k])
            return false;
    return true;
}

#if defined(__SSE2__)

// A vector of 16 bytes is compared as lanes of `Step` bytes: lane j stands for the offset
// at + Step * j, and `Chunks` lane-sized pieces of the pattern are compared at at, at + Step, ...
// A lane comes out all ones when every piece matched there. With a step of 1 only the first two
// bytes are compared this way; whatever passes is checked whole. Without `Masked` every byte the
// lanes cover is compared whole, and the data is compared as it is loaded.
template <size_t Step, size_t Chunks, bool Masked> class LaneFilter
{
  public:
    explicit LaneFilter(const BytePattern& pattern)
    {
        for (size_t c = 0; c < Chunks; ++c) {
            uint32_t value = 0, mask = 0;
            for (size_t k = 0; k < Step; ++k) {
                const size_t at = c * Step + k;
                const uint8_t m = at < pattern.length ? pattern.mask[at] : 0;
                value |= uint32_t(pattern.bytes[at] & m) << (8 * k);
                mask |= uint32_t(m) << (8 * k);
            }
            m_value[c] = broadcast(value);
            m_mask[c] = broadcast(mask);
        }
    }

    // Bytes that the lanes of the vector at `at` read from `at` on.
    static constexpr size_t kReach = 16 + Chunks * Step - 1;
    // Of the 16 mask bits of a compare, those of each lane's first byte.
    static constexpr uint32_t kLaneStarts = Step == 1 ? 0xFFFF : Step == 2 ? 0x5555 : 0x1111;

    __m128i lanes(const uint8_t* at) const
    {
        __m128i all = compare(at, 0);
        for (size_t c = 1; c < Chunks; ++c)
            all = _mm_and_si128(all, compare(at + c * Step, c));
        return all;
    }

  private:
    static __m128i broadcast(uint32_t v)
    {
        if constexpr (Step == 1)
            return _mm_set1_epi8(char(v));
        else if constexpr (Step == 2)
            return _mm_set1_epi16(short(v));
        else
            return _mm_set1_epi32(int(v));
    }

    __m128i compare(const uint8_t* at, size_t c) const
    {
        __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        if constexpr (Masked)
            bytes = _mm_and_si128(bytes, m_mask[c]);
        if constexpr (Step == 1)
            return _mm_cmpeq_epi8(bytes, m_value[c]);
        else if constexpr (Step == 2)
            return _mm_cmpeq_epi16(bytes, m_value[c]);
        else
            return _mm_cmpeq_epi32(bytes, m_value[c]);
    }

    __m128i m_value[Chunks];
    __m128i m_mask[Chunks];
};

template <size_t Step, size_t Chunks, bool Masked>
size_t findWithLanes(const uint8_t* data, size_t size, const BytePattern& pattern, size_t from)
{
    using Filter = LaneFilter<Step, Chunks, Masked>;
    const Filter filter(pattern);
    // The offsets a compare flagged, checked whole in order; `size` when none holds the pattern.
    const auto confirm = [&](size_t at, uint32_t bits) {
        for (bits &= Filter::kLaneStarts; bits != 0; bits &= bits - 1) {
            const size_t p = at + size_t(std::countr_zero(bits));
            if (pattern.length <= size - p && matchesAt(data + p, pattern))
                return p;
        }
        return size;
    };
    size_t at = from;
    // 64 offsets a round, with one branch for all four compares.
    while (size - at >= Filter::kReach + 48) {
        const __m128i a = filter.lanes(data + at), b = filter.lanes(data + at + 16);
        const __m128i c = filter.lanes(data + at + 32), d = filter.lanes(data + at + 48);
        const __m128i any = _mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d));
        if (uint32_t(_mm_movemask_epi8(any)) & Filter::kLaneStarts) {
            const __m128i parts[4] = {a, b, c, d};
            for (size_t q = 0; q < 4; ++q) {
                const size_t p = confirm(at + 16 * q, uint32_t(_mm_movemask_epi8(parts[q])));
                if (p != size)
                    return p;
            }
        }
        at += 64;
    }
    while (size - at >= Filter::kReach) {
        const size_t p = confirm(at, uint32_t(_mm_movemask_epi8(filter.lanes(data + at))));
        if (p != size)
            return p;
        at += 16;
    }
    // The last offsets, too near the end for a whole vector.
    return detail::findPatternPortable(data, size, pattern, Step, at);
}

// Masks are applied only when some byte the lanes cover (the first Step x Chunks) is not compared
// whole.
template <size_t Step, size_t Chunks>
size_t findWithLanes(const uint8_t* data, size_t size, const BytePattern& pattern, size_t from)
{
    for (size_t k = 0; k < Step * Chunks; ++k)
        if (k >= pattern.length || pattern.mask[k] != 0xFF)
            return findWithLanes<Step, Chunks, true>(data, size, pattern, from);
    return findWithLanes<Step, Chunks, false>(data, size, pattern, from);
}

#endif

} // namespace

namespace detail {

size_t findPatternPortable(const uint8_t* data, size_t size, const BytePattern& pattern, size_t step,
                           size_t from)
{
    if (!usable(pattern, step) || from > size || size - from < pattern.length)
        return size;
    const size_t last = size - pattern.length;
    for (size_t p = from;; p += step) {
        if (matchesAt(data + p, pattern))
            return p;
        if (last - p < step)
            return size;
    }
}

} // namespace detail

size_t findPattern(const uint8_t* data, size_t size, const BytePattern& pattern, size_t step, size_t from)
{
#if defined(__SSE2__)
    if (!usable(pattern, step) || from > size)
        return size;
    switch (step) {
    case 1:
        return pattern.length == 1 ? findWithLanes<1, 1>(data, size, pattern, from)
                                   : findWithLanes<1, 2>(data, size, pattern, from);
    case 2:
        return pattern.length <= 2 ? findWithLanes<2, 1>(data, size, pattern, from)
                                   : findWithLanes<2, 2>(data, size, pattern, from);
    case 4:
        return findWithLanes<4, 1>(data, size, pattern, from);
    default:
        break;
    }
#endif
    return detail::findPatternPortable(data, size, pattern, step, from);
}

} // namespace sectorkit
