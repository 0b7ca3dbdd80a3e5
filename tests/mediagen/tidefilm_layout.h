// The Tidefilm movie layout: Form 1 data sectors (submode 0x08; 0x88 on the movie's last one when
// it ends with the end bit) with a header at 0x18: 0x0160, type, index within the unit, sectors in
// the unit, frame or unit number (from 1), frame bytes, width, height. A sound unit of two sectors
// (the left channel's 105 SPU blocks from 0xE8, then the right's) lasts 1/15 s: it comes before
// every frame of a movie 300 pixels wide or more (15 fps) and every second frame of a narrower one
// (30 fps). Each frame follows in sectors of 2016 bitstream bytes from 0x38.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "../plugins/disc_builder.h"
#include "media_sources.h"

namespace mediagen {

struct TidefilmOptions
{
    uint16_t videoType = 0x8001;
    uint16_t soundType = 0x0001;
    uint16_t firstNumber = 1; // of the first frame and the first sound unit
    size_t firstBlock = 0;    // the first SPU block of each channel taken
    bool endBit = true;
};

inline discbuild::Sector tidefilmSector(uint16_t type, size_t index, size_t count, size_t number)
{
    discbuild::Sector s{};
    discbuild::putSubHeader(s.data(), 1, 0, 0x08, 0);
    const uint16_t header[] = {0x0160, type, uint16_t(index), uint16_t(count), uint16_t(number)};
    for (size_t i = 0; i < 5; ++i)
        put16(&s[0x18 + 2 * i], header[i]);
    return s;
}

// The movie's sectors; empty when a frame needs ten sectors or more.
inline std::vector<discbuild::Sector> tidefilmMovie(const std::vector<MdecFrame>& frames,
                                                    const SpuSound* sound,
                                                    const TidefilmOptions& options = {})
{
    constexpr size_t kVideoBytes = 2016, kBlocks = 105;
    std::vector<discbuild::Sector> out;
    size_t units = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
        const MdecFrame& f = frames[i];
        for (size_t k = 0; sound && i % (f.width < 300 ? 2 : 1) == 0 && k < 2; ++k) {
            out.push_back(tidefilmSector(options.soundType, k, 2, options.firstNumber + units));
            copyBlocks(k ? sound->right : sound->left, options.firstBlock + units * kBlocks, kBlocks,
                       &out.back()[0xE8]);
            units += k;
        }
        const size_t size = f.bitstream.size(),
                     count = std::max<size_t>(1, (size + kVideoBytes - 1) / kVideoBytes);
        if (count >= 10)
            return {};
        for (size_t k = 0; k < count; ++k) {
            discbuild::Sector s = tidefilmSector(options.videoType, k, count, options.firstNumber + i);
            put32(&s[0x24], uint32_t(size));
            put16(&s[0x28], f.width);
            put16(&s[0x2A], f.height);
            std::memcpy(&s[0x38], f.bitstream.data() + k * kVideoBytes,
                        std::min(kVideoBytes, size - k * kVideoBytes));
            out.push_back(s);
        }
    }
    if (options.endBit && !out.empty())
        out.back()[0x12] = out.back()[0x16] = 0x88;
    return out;
}

} // namespace mediagen
