// The vector search behind findPattern, written once over a vector type `V` (16 bytes with SSE2,
// 32 with AVX2): each file that includes it builds its own copy, in its own unnamed namespace, with
// the instruction set that file is compiled for.
//
// V provides: Reg, kBytes, load, andBits, orBits, mask (one bit per byte), and
// equal<Step>(a, b) / broadcast<Step>(value) over lanes of Step (1, 2 or 4) bytes.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "sectorkit/find_pattern.h"

namespace sectorkit {
namespace {

inline bool matchesAt(const uint8_t* p, const BytePattern& pattern)
{
    for (size_t k = 0; k < pattern.length; ++k)
        if ((p[k] ^ pattern.bytes[k]) & pattern.mask[k])
            return false;
    return true;
}

// A vector is compared as lanes of `Step` bytes: lane j stands for the offset at + Step * j, and
// `Chunks` lane-sized pieces of the pattern are compared at at, at + Step, ... A lane comes out
// all ones when every piece matched there. With a step of 1 only the first two bytes are compared
// this way; whatever passes is checked whole. Without `Masked` every byte the lanes cover is
// compared whole, and the data is compared as it is loaded.
template <typename V, size_t Step, size_t Chunks, bool Masked> class LaneFilter
{
  public:
    using Reg = typename V::Reg;

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
            m_value[c] = V::template broadcast<Step>(value);
            m_mask[c] = V::template broadcast<Step>(mask);
        }
    }

    // Bytes that the lanes of the vector at `at` read from `at` on.
    static constexpr size_t kReach = V::kBytes + Chunks * Step - 1;
    // Of the mask bits of a compare, those of each lane's first byte.
    static constexpr uint32_t kLaneStarts = Step == 1 ? 0xFFFFFFFFu : Step == 2 ? 0x55555555u : 0x11111111u;

    Reg lanes(const uint8_t* at) const
    {
        Reg all = compare(at, 0);
        for (size_t c = 1; c < Chunks; ++c)
            all = V::andBits(all, compare(at + c * Step, c));
        return all;
    }

  private:
    Reg compare(const uint8_t* at, size_t c) const
    {
        Reg bytes = V::load(at);
        if constexpr (Masked)
            bytes = V::andBits(bytes, m_mask[c]);
        return V::template equal<Step>(bytes, m_value[c]);
    }

    Reg m_value[Chunks];
    Reg m_mask[Chunks];
};

template <typename V, size_t Step, size_t Chunks, bool Masked>
size_t findWithLanes(const uint8_t* data, size_t size, const BytePattern& pattern, size_t from)
{
    using Filter = LaneFilter<V, Step, Chunks, Masked>;
    constexpr size_t kBytes = V::kBytes;
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
    // Four vectors a round, with one branch for all four compares.
    while (size - at >= Filter::kReach + 3 * kBytes) {
        const typename V::Reg a = filter.lanes(data + at), b = filter.lanes(data + at + kBytes);
        const typename V::Reg c = filter.lanes(data + at + 2 * kBytes),
                              d = filter.lanes(data + at + 3 * kBytes);
        if (V::mask(V::orBits(V::orBits(a, b), V::orBits(c, d))) & Filter::kLaneStarts) {
            const typename V::Reg parts[4] = {a, b, c, d};
            for (size_t q = 0; q < 4; ++q) {
                const size_t p = confirm(at + kBytes * q, V::mask(parts[q]));
                if (p != size)
                    return p;
            }
        }
        at += 4 * kBytes;
    }
    while (size - at >= Filter::kReach) {
        const size_t p = confirm(at, V::mask(filter.lanes(data + at)));
        if (p != size)
            return p;
        at += kBytes;
    }
    if (at < size && size - from >= Filter::kReach) {
        // One more vector, the last that fits, on the same grid of offsets: those before `at` it
        // covers again have all been searched, so whatever it confirms lies at `at` or later.
        size_t last = size - Filter::kReach;
        last -= (last - from) % Step;
        const size_t p = confirm(last, V::mask(filter.lanes(data + last)));
        if (p != size)
            return p;
        at = last + kBytes;
    }
    // The few last offsets, too near the end for a whole vector.
    return detail::findPatternPortable(data, size, pattern, Step, at);
}

// Masks are applied only when some byte the lanes cover (the first Step x Chunks) is not compared
// whole.
template <typename V, size_t Step, size_t Chunks>
size_t findWithLanes(const uint8_t* data, size_t size, const BytePattern& pattern, size_t from)
{
    for (size_t k = 0; k < Step * Chunks; ++k)
        if (k >= pattern.length || pattern.mask[k] != 0xFF)
            return findWithLanes<V, Step, Chunks, true>(data, size, pattern, from);
    return findWithLanes<V, Step, Chunks, false>(data, size, pattern, from);
}

// The vector search for steps of 1, 2 and 4; the plain walk for the others and for patterns that
// match nowhere.
template <typename V>
size_t findWithVectors(const uint8_t* data, size_t size, const BytePattern& pattern, size_t step, size_t from)
{
    if (pattern.length < 1 || pattern.length > 4 || from > size)
        return size;
    switch (step) {
    case 1:
        return pattern.length == 1 ? findWithLanes<V, 1, 1>(data, size, pattern, from)
                                   : findWithLanes<V, 1, 2>(data, size, pattern, from);
    case 2:
        // Two whole bytes at an even offset are rare enough in sector data that comparing only
        // them, and confirming the rest where they match, beats a second masked compare per vector.
        return pattern.length <= 2 || (pattern.mask[0] == 0xFF && pattern.mask[1] == 0xFF)
                   ? findWithLanes<V, 2, 1>(data, size, pattern, from)
                   : findWithLanes<V, 2, 2>(data, size, pattern, from);
    case 4:
        return findWithLanes<V, 4, 1>(data, size, pattern, from);
    default:
        return detail::findPatternPortable(data, size, pattern, step, from);
    }
}

} // namespace
} // namespace sectorkit
