// Ripped XA files as tools write them: the raw 2352-byte sectors of a test file, the same sectors
// with their 16 bytes of sync and header dropped (2336 bytes each), either of them behind the
// 44-byte RIFF/CDXA header:
//   0x00 "RIFF" u32 36 + n   0x08 "CDXA"   0x0C "fmt " u32 16, 16 bytes of directory-record field
//   0x24 "data" u32 n        0x2C the n bytes of sectors
#pragma once

#include <algorithm>

#include "media_sources.h"

namespace mediagen {

constexpr size_t kXaRawSector = 2352;
constexpr size_t kXaShortSector = 2336;
constexpr size_t kCdxaHeaderBytes = 44;

inline Bytes xaAs2336(const Bytes& raw)
{
    Bytes out;
    for (size_t at = 0; at + kXaRawSector <= raw.size(); at += kXaRawSector)
        out.insert(out.end(), raw.begin() + std::ptrdiff_t(at + 16), raw.begin() + std::ptrdiff_t(at + kXaRawSector));
    return out;
}

inline Bytes withCdxaHeader(const Bytes& sectors)
{
    Bytes out(kCdxaHeaderBytes + sectors.size(), 0);
    std::memcpy(out.data(), "RIFF", 4);
    put32(out.data() + 4, uint32_t(36 + sectors.size()));
    std::memcpy(out.data() + 8, "CDXAfmt ", 8);
    put32(out.data() + 16, 16);
    const uint8_t field[] = {0x00, 0x00, 0x00, 0x00, 0x3D, 0x55, 0x58, 0x41, 0x01};
    std::memcpy(out.data() + 20, field, sizeof field);
    std::memcpy(out.data() + 36, "data", 4);
    put32(out.data() + 40, uint32_t(sectors.size()));
    std::copy(sectors.begin(), sectors.end(), out.begin() + kCdxaHeaderBytes);
    return out;
}

// Makes raw sector `index` silent without making it empty: every sound group with the parameter
// words an encoder writes for quiet and no samples.
inline void silenceXaSector(Bytes& raw, size_t index)
{
    uint8_t* sound = raw.data() + index * kXaRawSector + 0x18;
    for (size_t g = 0; g < 18; ++g) {
        std::memset(sound + g * 128, 0x0C, 16);
        std::memset(sound + g * 128 + 16, 0, 112);
    }
}

} // namespace mediagen
