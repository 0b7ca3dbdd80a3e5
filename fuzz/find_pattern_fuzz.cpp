// Feeds arbitrary buffers, patterns, steps and starting offsets to the candidate search; every
// search path the processor has must give the plain walk's answer, and the buffer (copied to
// exactly its size) must not be read past its end.
//
// Input layout:
//   0x00 u8  step (0 to 9)
//   0x01 u8  pattern length (0 to 5)
//   0x02 u8[4] pattern bytes, 0x06 u8[4] their masks
//   0x0A u16 starting offset (little-endian)
//   0x0C ... the buffer
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "sectorkit/find_pattern.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace sectorkit;
    constexpr size_t kHeaderBytes = 0x0C;
    if (size < kHeaderBytes)
        return 0;
    const size_t step = data[0] % 10;
    BytePattern pattern;
    pattern.length = data[1] % 6;
    std::memcpy(pattern.bytes, data + 2, 4);
    std::memcpy(pattern.mask, data + 6, 4);
    const size_t from = size_t(data[10] | data[11] << 8);
    const size_t length = size - kHeaderBytes;
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[length ? length : 1]);
    std::memcpy(buffer.get(), data + kHeaderBytes, length);

    const size_t expected = detail::findPatternPortable(buffer.get(), length, pattern, step, from);
    if (findPattern(buffer.get(), length, pattern, step, from) != expected)
        std::abort();
    for (const auto path : {detail::SearchPath::Vector16, detail::SearchPath::Vector32})
        if (detail::findPatternBy(path, buffer.get(), length, pattern, step, from) != expected)
            std::abort();
    return 0;
}
