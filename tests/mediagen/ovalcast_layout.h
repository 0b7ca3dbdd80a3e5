// The sectors of a tagged-header game movie (Ovalcast.psr): MDEC frames in movie sectors with
// the movie's own 32-byte frame header, XA sound sectors interleaved at a steady stride with a
// sound sector first, as the disc movies of the test data have them.
//
// Movie sector (offsets from the raw sector start; sync and header come from the disc builder):
//   0x10 sub-header   file 1, channel 0, submode 0x48, coding 0 (both copies)
//   0x18 u16 0x0160   header word
//   0x1A u16 0x5349   type word
//   0x1C u16          index of the sector in its frame, from 0
//   0x1E u16          sectors in the frame
//   0x20 u32          frame number, from 1
//   0x24 u32          frame data bytes
//   0x28 u32          total frames of the movie (low 24 bits; the high byte is options.totalTag)
//   0x34 u32          0
//   0x38 2016 bytes   frame data. In a first sector the bitstream header sits at the start: its
//                     magic 0x3800 at 0x3A, and the picture width and height at 0x3C and 0x3E
//                     where a standard header keeps its quantiser scale and version.
// Sound sector: the source's sector unchanged, submode 0x64 in both sub-header copies.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "../plugins/disc_builder.h"
#include "media_sources.h"

namespace mediagen {

struct OvalcastOptions
{
    std::vector<discbuild::Sector> xa; // sound sectors to interleave; none: a silent movie
    uint32_t soundStride = 4;          // a sound sector at 0, stride, 2 x stride ... while any is left
    uint32_t firstFrame = 1;
    uint32_t totalFrames = 0;     // stated total; 0: the number of frames given
    uint8_t totalTag = 0;         // the byte above the 24-bit total
    uint16_t sectorsPerFrame = 0; // 0: as many as the frame's data needs
    uint16_t leadWords = 0;       // 16-bit words put before the frame data of a first sector
};

// A frame's data as this format stores it: the source bitstream with its words 2 and 3 replaced
// by the picture width and height.
inline Bytes ovalcastFrameData(const MdecFrame& frame)
{
    Bytes data = frame.bitstream;
    if (data.size() >= 8) {
        put16(data.data() + 4, frame.width);
        put16(data.data() + 6, frame.height);
    }
    return data;
}

inline std::vector<discbuild::Sector> ovalcastMovie(const std::vector<MdecFrame>& frames,
                                                    const SpuSound* sound,
                                                    const OvalcastOptions& options = {})
{
    (void)sound; // the sound of this format is XA, taken from options.xa
    constexpr size_t kData = 0x38, kDataBytes = 2016;
    const uint32_t total = options.totalFrames ? options.totalFrames : uint32_t(frames.size());
    std::vector<discbuild::Sector> video;
    for (size_t f = 0; f < frames.size(); ++f) {
        Bytes data(size_t(options.leadWords) * 2, 0);
        const Bytes body = ovalcastFrameData(frames[f]);
        data.insert(data.end(), body.begin(), body.end());
        const size_t needed = std::max<size_t>(1, (data.size() + kDataBytes - 1) / kDataBytes);
        const size_t count = options.sectorsPerFrame ? options.sectorsPerFrame : needed;
        for (size_t i = 0; i < count; ++i) {
            discbuild::Sector s{};
            discbuild::putSubHeader(s.data(), 1, 0, 0x48, 0);
            put16(&s[0x18], 0x0160);
            put16(&s[0x1A], 0x5349);
            put16(&s[0x1C], uint16_t(i));
            put16(&s[0x1E], uint16_t(count));
            put32(&s[0x20], options.firstFrame + uint32_t(f));
            put32(&s[0x24], uint32_t(body.size()));
            put32(&s[0x28], (total & 0xFFFFFF) | uint32_t(options.totalTag) << 24);
            const size_t at = i * kDataBytes;
            if (at < data.size())
                std::memcpy(&s[kData], data.data() + at, std::min(kDataBytes, data.size() - at));
            video.push_back(s);
        }
    }
    std::vector<discbuild::Sector> out;
    size_t nextSound = 0;
    for (size_t v = 0; v < video.size();) {
        const bool soundHere = options.soundStride && out.size() % options.soundStride == 0;
        if (soundHere && nextSound < options.xa.size()) {
            discbuild::Sector s = options.xa[nextSound++];
            s[0x12] = s[0x16] = 0x64;
            out.push_back(s);
        } else {
            out.push_back(video[v++]);
        }
    }
    return out;
}

} // namespace mediagen
