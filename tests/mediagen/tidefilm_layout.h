// The Tidefilm movie layout: every sector a Form 1 data sector (submode 0x08, 0x88 on the movie's
// last sector) with a header at 0x18: 0x0160, type, index within the unit, sectors in the unit,
// frame or unit number (from 1), frame bytes, width, height. Before the frames it accompanies
// comes a sound unit of two sectors (1680 bytes of SPU ADPCM from 0xE8 each: the left channel's
// 105 blocks, then the right's); then the frame, 2016 bytes of its bitstream from 0x38 a sector.
// A sound unit lasts 1/15 s, so it comes before every frame of a 15 fps movie (300 pixels wide or
// more) and before every second frame of a 30 fps one.
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
    bool endBit = true;       // the last sector ends the movie
};

constexpr uint16_t kTidefilmUnitLimit = 10; // a unit has fewer sectors
constexpr size_t kTidefilmVideoBytes = 2016;
constexpr size_t kTidefilmSoundBlocks = 105;

inline discbuild::Sector tidefilmSector(uint16_t type, uint16_t index, uint16_t count, uint16_t number)
{
    discbuild::Sector s{};
    discbuild::putSubHeader(s.data(), 1, 0, 0x08, 0);
    put16(&s[0x18], 0x0160);
    put16(&s[0x1A], type);
    put16(&s[0x1C], index);
    put16(&s[0x1E], count);
    put16(&s[0x20], number);
    return s;
}

// The movie's sectors; empty when a frame needs more sectors than a unit may have.
inline std::vector<discbuild::Sector> tidefilmMovie(const std::vector<MdecFrame>& frames, const SpuSound* sound,
                                                    const TidefilmOptions& options = {})
{
    std::vector<discbuild::Sector> out;
    size_t units = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
        const MdecFrame& f = frames[i];
        const size_t perUnit = f.width < 300 ? 2 : 1; // frames a sound unit lasts
        if (sound && i % perUnit == 0) {
            const auto number = uint16_t(options.firstNumber + units);
            const size_t block = options.firstBlock + units * kTidefilmSoundBlocks;
            for (uint16_t k = 0; k < 2; ++k) {
                discbuild::Sector s = tidefilmSector(options.soundType, k, 2, number);
                copyBlocks(k == 0 ? sound->left : sound->right, block, kTidefilmSoundBlocks, &s[0xE8]);
                out.push_back(s);
            }
            ++units;
        }
        const size_t size = f.bitstream.size();
        const size_t count = std::max<size_t>(1, (size + kTidefilmVideoBytes - 1) / kTidefilmVideoBytes);
        if (count >= kTidefilmUnitLimit)
            return {};
        for (size_t k = 0; k < count; ++k) {
            discbuild::Sector s =
                tidefilmSector(options.videoType, uint16_t(k), uint16_t(count), uint16_t(options.firstNumber + i));
            put32(&s[0x24], uint32_t(size));
            put16(&s[0x28], f.width);
            put16(&s[0x2A], f.height);
            const size_t at = k * kTidefilmVideoBytes;
            std::memcpy(&s[0x38], f.bitstream.data() + at, std::min(kTidefilmVideoBytes, size - at));
            out.push_back(s);
        }
    }
    if (options.endBit && !out.empty()) {
        out.back()[0x12] |= 0x80;
        out.back()[0x16] |= 0x80;
    }
    return out;
}

} // namespace mediagen
