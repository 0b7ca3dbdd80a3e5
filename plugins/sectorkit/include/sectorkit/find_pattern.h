// The candidate search of the data-scanning probes: the next place in a buffer where a short run
// of bytes (a magic word, a fixed field, a single flag bit) lies, tested only at the offsets the
// format allows (every byte, every second or every fourth one). Nearly all sector data holds no
// candidate, so the search is what a probe costs on most sectors.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sectorkit {

// One to four bytes to look for, each compared under its mask: a byte of the data matches when it
// equals the pattern's byte in every bit the mask sets. A pattern with an empty mask matches
// anywhere; a length of 0 or above 4 matches nowhere.
struct BytePattern
{
    uint8_t bytes[4] = {};
    uint8_t mask[4] = {};
    size_t length = 0;
};

// `length` (at most 4) bytes compared whole.
constexpr BytePattern exactPattern(const char* bytes, size_t length)
{
    BytePattern pattern;
    pattern.length = length;
    for (size_t k = 0; k < length && k < 4; ++k) {
        pattern.bytes[k] = uint8_t(bytes[k]);
        pattern.mask[k] = 0xFF;
    }
    return pattern;
}

// The first offset p from `from` on, with p - from a multiple of `step`, where the pattern lies
// whole inside data[0 .. size) (p + length <= size); `size` when there is none, when `from` is
// past the end, or when `step` is 0. Steps of 1, 2 and 4 compare 16 or 32 bytes of data at a
// time where the processor allows it; every path gives the same answer as a plain walk.
size_t findPattern(const uint8_t* data, size_t size, const BytePattern& pattern, size_t step, size_t from);

namespace detail {

// The ways findPattern can search: the plain walk, offset by offset (processors without vector
// compares, and steps other than 1, 2 and 4), 16-byte compares (SSE2, every x86-64 processor) and
// 32-byte ones (AVX2, chosen at run time where the processor has it).
enum class SearchPath
{
    Portable,
    Vector16,
    Vector32,
};

// Whether this build, on this processor, has the path.
bool hasSearchPath(SearchPath path);
// The search by one path; a path the build or the processor lacks searches as the plain walk.
size_t findPatternBy(SearchPath path, const uint8_t* data, size_t size, const BytePattern& pattern,
                     size_t step, size_t from);
size_t findPatternPortable(const uint8_t* data, size_t size, const BytePattern& pattern, size_t step,
                           size_t from);

} // namespace detail

} // namespace sectorkit
