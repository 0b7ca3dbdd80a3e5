// CRI ADX sound stored as a file on a disc: the file's bytes spread over the user data of Form 1
// sectors from any sector and offset on; adxHeader() makes a bare header (big-endian) for the
// cases no encoder writes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "../plugins/disc_builder.h"
#include "media_sources.h"
#include "user_data.h"

namespace mediagen {

constexpr size_t kUserData = 2048;
constexpr size_t kUserDataOffset = 24;

// 0x80000000 | signature offset, encoding 3, 18-byte blocks, 4 bits, channels, rate, samples;
// the signature ends at signature offset + 4.
inline Bytes adxHeader(uint8_t channels, uint32_t rate, uint32_t samples, uint32_t signatureOffset = 32,
                       const char* signature = "(c)CRI")
{
    Bytes h(signatureOffset + 4, 0);
    const uint32_t words[] = {0x80000000u | signatureOffset, 0x03120400u | channels, rate, samples};
    for (size_t i = 0; i < 16; ++i)
        h[i] = uint8_t(words[i / 4] >> (24 - 8 * (i % 4)));
    std::memcpy(h.data() + signatureOffset - 2, signature, 6);
    return h;
}

} // namespace mediagen
