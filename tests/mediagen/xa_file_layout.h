// Ripped XA files as tools write them: the raw 2352-byte sectors of a test file, the same with
// the 16 bytes of sync and header dropped (2336 bytes a sector), either behind the RIFF/CDXA
// header: "RIFF" u32 36+n "CDXA" "fmt " u32 16 (16 bytes of directory-record field) "data" u32 n.
#pragma once

#include <algorithm>

#include "media_sources.h"

namespace mediagen {

inline Bytes xaAs2336(const Bytes& raw)
{
    Bytes out;
    for (size_t at = 0; at + 2352 <= raw.size(); at += 2352)
        out.insert(out.end(), raw.begin() + std::ptrdiff_t(at + 16), raw.begin() + std::ptrdiff_t(at + 2352));
    return out;
}

inline Bytes withCdxaHeader(const Bytes& sectors)
{
    Bytes out(44 + sectors.size(), 0);
    std::memcpy(out.data(), "RIFF\0\0\0\0CDXAfmt \x10\0\0\0\0\0\0\0\x3D\x55\x58\x41\x01", 29);
    put32(out.data() + 4, uint32_t(36 + sectors.size()));
    std::memcpy(out.data() + 36, "data", 4);
    put32(out.data() + 40, uint32_t(sectors.size()));
    std::copy(sectors.begin(), sectors.end(), out.begin() + 44);
    return out;
}

// Raw sector `index` made silent but not empty: each sound group holds the parameter words of
// quiet (0x0C0C0C0C) and no samples.
inline void silenceXaSector(Bytes& raw, size_t index)
{
    for (size_t g = 0; g < 18; ++g) {
        uint8_t* group = raw.data() + index * 2352 + 0x18 + g * 128;
        std::memset(group, 0x0C, 16);
        std::memset(group + 16, 0, 112);
    }
}

} // namespace mediagen
