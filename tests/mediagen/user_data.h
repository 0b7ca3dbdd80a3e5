// Data stored as files on a generated disc: bytes spread over the 2048-byte user data of Mode 2
// Form 1 sectors (sub-header submode 0x08, data from raw offset 24), from any sector and offset.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "../plugins/disc_builder.h"
#include "media_sources.h"

namespace mediagen {

// Writes `bytes` from byte `offset` of the user data of sector `lba` on, into the following
// sectors as needed; sectors not placed yet are added, placed ones keep their other bytes and
// become Form 1 data sectors. The sector after the last one written.
inline uint32_t placeData(discbuild::DiscBuilder& b, uint32_t lba, size_t offset, const Bytes& bytes)
{
    for (size_t done = 0; done < bytes.size(); ++lba, offset = 0) {
        if (lba >= b.next())
            b.placeAt(lba, discbuild::Sector{});
        discbuild::Sector& s = b.at(lba);
        discbuild::putSubHeader(s.data(), 0, 0, 0x08, 0);
        const size_t take = std::min(bytes.size() - done, 2048 - offset);
        std::memcpy(s.data() + 24 + offset, bytes.data() + done, take);
        done += take;
    }
    return lba;
}

} // namespace mediagen
