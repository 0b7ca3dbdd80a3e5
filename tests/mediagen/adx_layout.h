// CRI ADX sound stored as a file on a disc: the file's bytes spread over the user data of Form 1
// sectors from any sector and offset on; adxHeader() makes a bare header (big-endian) for the
// cases no encoder writes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "../plugins/disc_builder.h"
#include "media_sources.h"

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

// Writes `bytes` into the user data of the data track from byte `offset` of sector `lba` on; the
// sectors it reaches become Form 1 data sectors (their other bytes stay). The sector after the
// last one written.
inline uint32_t placeUserData(discbuild::DiscBuilder& b, uint32_t lba, size_t offset, const Bytes& bytes)
{
    size_t done = 0;
    for (; done < bytes.size(); ++lba, offset = 0) {
        if (lba >= b.next())
            b.placeAt(lba, discbuild::Sector{});
        discbuild::Sector& s = b.at(lba);
        discbuild::putSubHeader(s.data(), 0, 0, 0x08, 0);
        const size_t take = std::min(bytes.size() - done, kUserData - offset);
        std::memcpy(s.data() + kUserDataOffset + offset, bytes.data() + done, take);
        done += take;
    }
    return lba;
}

} // namespace mediagen
