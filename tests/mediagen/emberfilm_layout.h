// Emberfilm movies laid out sector by sector: every frame the same number of sectors, its video
// sectors ('J', 2040 bytes of frame data each from 0x20, the last one padded with zeros) and then
// two sound sectors ('N' with 105 left-channel blocks, 'R' with 105 right-channel blocks, each
// from 0x188), all tagged at 0x18: "SM", letter, 1, index in the frame, last index, u16 frame
// number. Sub-headers are those of Form 1 data sectors; sync and header come from the disc
// builder.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "../plugins/disc_builder.h"
#include "media_sources.h"

namespace mediagen {

struct EmberfilmOptions
{
    // 0: the largest frame's video sectors, plus the two sound sectors when there is sound.
    uint32_t sectorsPerFrame = 0;
    uint16_t firstFrame = 0; // the number of the first frame; a movie starts at frame 0
};

inline discbuild::Sector emberfilmSector(char letter, uint32_t index, uint32_t lastIndex, uint16_t frame)
{
    discbuild::Sector s{};
    discbuild::putSubHeader(s.data(), 1, 0, 0x08, 0);
    const uint8_t tag[6] = {'S', 'M', uint8_t(letter), 1, uint8_t(index), uint8_t(lastIndex)};
    std::copy(tag, tag + 6, s.begin() + 0x18);
    put16(s.data() + 0x1E, frame);
    return s;
}

inline std::vector<discbuild::Sector> emberfilmMovie(const std::vector<MdecFrame>& frames,
                                                     const SpuSound* sound,
                                                     const EmberfilmOptions& options = {})
{
    constexpr size_t kVideoBytes = 2040, kSoundAt = 0x188, kBlocks = 105;
    size_t largest = 0;
    for (const MdecFrame& f : frames)
        largest = std::max(largest, f.bitstream.size());
    const uint32_t soundSectors = sound ? 2 : 0;
    const uint32_t perFrame = options.sectorsPerFrame != 0
                                  ? options.sectorsPerFrame
                                  : uint32_t((largest + kVideoBytes - 1) / kVideoBytes) + soundSectors;
    std::vector<discbuild::Sector> out;
    for (size_t k = 0; k < frames.size(); ++k) {
        const Bytes& data = frames[k].bitstream;
        const uint16_t number = uint16_t(options.firstFrame + k);
        for (uint32_t i = 0; i < perFrame; ++i) {
            const uint32_t fromEnd = perFrame - i; // 2: the left sound sector, 1: the right one
            const bool isSound = fromEnd <= soundSectors;
            discbuild::Sector s = emberfilmSector(!isSound       ? 'J'
                                                  : fromEnd == 2 ? 'N'
                                                                 : 'R',
                                                  i, perFrame - 1, number);
            if (isSound) {
                copyBlocks(fromEnd == 2 ? sound->left : sound->right, k * kBlocks, kBlocks,
                           s.data() + kSoundAt);
            } else if (size_t at = size_t(i) * kVideoBytes; at < data.size()) {
                std::copy_n(data.begin() + long(at), std::min(kVideoBytes, data.size() - at),
                            s.begin() + 0x20);
            }
            out.push_back(s);
        }
    }
    return out;
}

} // namespace mediagen
