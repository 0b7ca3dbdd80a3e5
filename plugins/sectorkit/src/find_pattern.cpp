#include "sectorkit/find_pattern.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include "find_pattern_lanes.h"
#endif

namespace sectorkit {

namespace detail {

#if defined(TAMRIN_FIND_AVX2)
// In find_pattern_avx2.cpp, built for processors with AVX2; called only where the processor has it.
size_t findPatternAvx2(const uint8_t* data, size_t size, const BytePattern& pattern, size_t step,
                       size_t from);
#endif

} // namespace detail

namespace {

#if defined(__SSE2__)
struct Sse2
{
    using Reg = __m128i;
    static constexpr size_t kBytes = 16;

    static Reg load(const uint8_t* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); }
    static Reg andBits(Reg a, Reg b) { return _mm_and_si128(a, b); }
    static Reg orBits(Reg a, Reg b) { return _mm_or_si128(a, b); }
    static uint32_t mask(Reg a) { return uint32_t(_mm_movemask_epi8(a)); }

    template <size_t Step> static Reg broadcast(uint32_t v)
    {
        if constexpr (Step == 1)
            return _mm_set1_epi8(char(v));
        else if constexpr (Step == 2)
            return _mm_set1_epi16(short(v));
        else
            return _mm_set1_epi32(int(v));
    }

    template <size_t Step> static Reg equal(Reg a, Reg b)
    {
        if constexpr (Step == 1)
            return _mm_cmpeq_epi8(a, b);
        else if constexpr (Step == 2)
            return _mm_cmpeq_epi16(a, b);
        else
            return _mm_cmpeq_epi32(a, b);
    }
};
#endif

bool hasAvx2()
{
#if defined(TAMRIN_FIND_AVX2)
    static const bool has = [] {
        __builtin_cpu_init(); // the search may run before the processor model has been read
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
#else
    return false;
#endif
}

} // namespace

namespace detail {

size_t findPatternPortable(const uint8_t* data, size_t size, const BytePattern& pattern, size_t step,
                           size_t from)
{
    if (pattern.length < 1 || pattern.length > 4 || step < 1 || from > size || size - from < pattern.length)
        return size;
    const size_t last = size - pattern.length;
    for (size_t p = from;; p += step) {
        bool all = true;
        for (size_t k = 0; k < pattern.length && all; ++k)
            all = ((data[p + k] ^ pattern.bytes[k]) & pattern.mask[k]) == 0;
        if (all)
            return p;
        if (last - p < step)
            return size;
    }
}

bool hasSearchPath(SearchPath path)
{
    switch (path) {
    case SearchPath::Portable:
        return true;
    case SearchPath::Vector16:
#if defined(__SSE2__)
        return true;
#else
        return false;
#endif
    case SearchPath::Vector32:
        return hasAvx2();
    }
    return false;
}

size_t findPatternBy(SearchPath path, const uint8_t* data, size_t size, const BytePattern& pattern,
                     size_t step, size_t from)
{
    if (!hasSearchPath(path))
        path = SearchPath::Portable;
    switch (path) {
    case SearchPath::Vector32:
#if defined(TAMRIN_FIND_AVX2)
        return findPatternAvx2(data, size, pattern, step, from);
#else
        break;
#endif
    case SearchPath::Vector16:
#if defined(__SSE2__)
        return findWithVectors<Sse2>(data, size, pattern, step, from);
#else
        break;
#endif
    case SearchPath::Portable:
        break;
    }
    return findPatternPortable(data, size, pattern, step, from);
}

} // namespace detail

size_t findPattern(const uint8_t* data, size_t size, const BytePattern& pattern, size_t step, size_t from)
{
    static const detail::SearchPath best = hasAvx2() ? detail::SearchPath::Vector32
                                           : detail::hasSearchPath(detail::SearchPath::Vector16)
                                               ? detail::SearchPath::Vector16
                                               : detail::SearchPath::Portable;
    return detail::findPatternBy(best, data, size, pattern, step, from);
}

} // namespace sectorkit
