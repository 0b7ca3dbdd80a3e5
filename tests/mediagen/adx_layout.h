// CRI ADX sound stored as a file on a disc: the file's bytes spread over the 2048 user-data bytes
// of Form 1 data sectors (submode 0x08, data from byte 24), from any sector and offset on. The
// sound is the independent encoder's files in tests/data/audio; adxHeader() makes a bare header
// (big-endian: 0x80000000 | signature offset, encoding 3, block bytes 18, bits 4, channels,
// rate, samples; "(c)CRI" ending at signature offset + 4) for the cases no encoder writes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "../plugins/disc_builder.h"
#include "media_sources.h"

namespace mediagen {

constexpr size_t kUserData = 2048;
constexpr size_t kUserDataOffset = 24;

inline void putBe32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (24 - 8 * i));
}

inline Bytes adxHeader(uint8_t channels, uint32_t rate, uint32_t samples, uint32_t signatureOffset = 32,
                       const char* signature = "(c)CRI")
{
    Bytes h(signatureOffset + 4, 0);
    putBe32(h.data(), 0x80000000u | signatureOffset);
    h[4] = 3;
    h[5] = 18;
    h[6] = 4;
    h[7] = channels;
    putBe32(h.data() + 8, rate);
    putBe32(h.data() + 12, samples);
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
