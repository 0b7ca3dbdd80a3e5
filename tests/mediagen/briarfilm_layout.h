// The Briarfilm movie layout: each frame a group of sectors, two sound sectors then the video
// sectors. All sectors carry 0x0160 at 0x18, the type (8 sound, 4 video) at 0x1A, the index in
// the frame at 0x1C, the frame's sector count at 0x1E and the frame number at 0x20.
//   sound, index 0 / 1   the left / right channel: size in bytes at 0xB8 (115 blocks: 1840), the
//                        blocks from 0xE8
//   video, index 2 up    frame data size at 0x24, width and height at 0x28 / 0x2A (index 2);
//                        2292 bytes of frame data at 0x38, the frame's first part in its last
//                        sector, its second part in the sector before, and so on
// Frame f takes blocks [115 f, 115 f + 115) of each channel of the sound.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "../plugins/disc_builder.h"
#include "media_sources.h"

namespace mediagen {

struct BriarfilmOptions
{
    uint16_t sectorsPerFrame = 0; // 0: two sound sectors and as many video sectors as each frame needs
    uint32_t firstFrameNumber = 1;
    size_t frames = 0; // 0: every frame given
};

constexpr size_t kBriarVideoPart = 2292;
constexpr size_t kBriarSoundBlocks = 115;

inline std::vector<discbuild::Sector> briarfilmMovie(const std::vector<MdecFrame>& frames,
                                                     const SpuSound* sound,
                                                     const BriarfilmOptions& options = {})
{
    std::vector<discbuild::Sector> out;
    const size_t count = options.frames ? std::min(options.frames, frames.size()) : frames.size();
    for (size_t f = 0; f < count; ++f) {
        const MdecFrame& frame = frames[f];
        const size_t parts =
            std::max<size_t>(1, (frame.bitstream.size() + kBriarVideoPart - 1) / kBriarVideoPart);
        const uint16_t total = options.sectorsPerFrame ? options.sectorsPerFrame : uint16_t(parts + 2);
        for (uint16_t index = 0; index < total; ++index) {
            discbuild::Sector s{};
            uint8_t* p = s.data();
            discbuild::putSubHeader(p, 1, 0, 0x28, 0);
            put16(p + 0x18, 0x0160);
            put16(p + 0x1A, index < 2 ? 8 : 4);
            put16(p + 0x1C, index);
            put16(p + 0x1E, total);
            put32(p + 0x20, options.firstFrameNumber + uint32_t(f));
            if (index < 2) {
                if (sound) {
                    put32(p + 0xB8, uint32_t(kBriarSoundBlocks * 16));
                    copyBlocks(index == 0 ? sound->left : sound->right, f * kBriarSoundBlocks,
                               kBriarSoundBlocks, p + 0xE8);
                }
            } else {
                if (index == 2) {
                    put32(p + 0x24, uint32_t(frame.bitstream.size()));
                    put16(p + 0x28, frame.width);
                    put16(p + 0x2A, frame.height);
                }
                const size_t from = size_t(total - 1 - index) * kBriarVideoPart;
                if (from < frame.bitstream.size())
                    std::copy_n(frame.bitstream.begin() + std::ptrdiff_t(from),
                                std::min(kBriarVideoPart, frame.bitstream.size() - from), p + 0x38);
            }
            out.push_back(s);
        }
    }
    return out;
}

// Writes a sector file: a 44-byte RIFF header, then the sectors whole, each with its sync and a
// header addressed from sector 0. False when writing fails.
inline bool writeBriarfilmFile(const fs::path& path, const std::vector<discbuild::Sector>& sectors)
{
    uint8_t riff[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'C', 'D', 'X', 'A', 'f', 'm', 't', ' ', 16};
    put32(riff + 4, uint32_t(36 + sectors.size() * discbuild::kRaw));
    std::memcpy(riff + 36, "data", 4);
    put32(riff + 40, uint32_t(sectors.size() * discbuild::kRaw));
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(riff), sizeof riff);
    for (size_t i = 0; i < sectors.size(); ++i) {
        discbuild::Sector s = sectors[i];
        discbuild::putSyncAndHeader(s.data(), uint32_t(i));
        out.write(reinterpret_cast<const char*>(s.data()), std::streamsize(s.size()));
    }
    return bool(out);
}

} // namespace mediagen
