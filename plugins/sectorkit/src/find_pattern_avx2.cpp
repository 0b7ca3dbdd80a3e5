// The vector search with 32-byte AVX2 compares. This file alone is built for AVX2; findPattern
// calls into it only on processors that have it.
#include <immintrin.h>

#include "find_pattern_lanes.h"

namespace sectorkit {

namespace {

struct Avx2
{
    using Reg = __m256i;
    static constexpr size_t kBytes = 32;

    static Reg load(const uint8_t* at) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at)); }
    static Reg andBits(Reg a, Reg b) { return _mm256_and_si256(a, b); }
    static Reg orBits(Reg a, Reg b) { return _mm256_or_si256(a, b); }
    static uint32_t mask(Reg a) { return uint32_t(_mm256_movemask_epi8(a)); }

    template <size_t Step> static Reg broadcast(uint32_t v)
    {
        if constexpr (Step == 1)
            return _mm256_set1_epi8(char(v));
        else if constexpr (Step == 2)
            return _mm256_set1_epi16(short(v));
        else
            return _mm256_set1_epi32(int(v));
    }

    template <size_t Step> static Reg equal(Reg a, Reg b)
    {
        if constexpr (Step == 1)
            return _mm256_cmpeq_epi8(a, b);
        else if constexpr (Step == 2)
            return _mm256_cmpeq_epi16(a, b);
        else
            return _mm256_cmpeq_epi32(a, b);
    }
};

} // namespace

namespace detail {

size_t findPatternAvx2(const uint8_t* data, size_t size, const BytePattern& pattern, size_t step, size_t from)
{
    return findWithVectors<Avx2>(data, size, pattern, step, from);
}

} // namespace detail

} // namespace sectorkit
