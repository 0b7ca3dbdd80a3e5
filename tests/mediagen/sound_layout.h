// Headered sound files around the real sound of tests/data, for the Marlsound and Duskaudio tests:
//
//   spuRuns(sound, channels, runBlocks, blocks)   the first `blocks` SPU blocks of each channel in
//                                                 runs of `runBlocks` blocks (left run, right run)
//   spuExpected(sound, channels, blocks)          their reference samples, interleaved
//   pcmRuns(samples, runBytes)                    16-bit samples (one vector per channel, equal
//                                                 lengths) in runs of `runBytes` per channel
//   marlsoundFile(...)                            32-byte header, cbOffset bytes, data
//   ss2File(...)                                  "SShd" chunk of cbHeader bytes, "SSbd" chunk
//   placeData(builder, lba, offset, bytes)        a byte string spread over the user data of
//                                                 Form 1 sectors (submode 0x08) from `offset` of
//                                                 sector `lba` on
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "../plugins/disc_builder.h"
#include "media_sources.h"
#include "user_data.h"

namespace mediagen {

inline Bytes spuRuns(const SpuSound& sound, unsigned channels, size_t runBlocks, size_t blocks)
{
    Bytes out(blocks * channels * 16);
    uint8_t* at = out.data();
    for (size_t first = 0; first < blocks; first += runBlocks) {
        const size_t count = std::min(runBlocks, blocks - first);
        for (unsigned c = 0; c < channels; ++c, at += count * 16)
            copyBlocks(c == 0 ? sound.left : sound.right, first, count, at);
    }
    return out;
}

inline std::vector<int16_t> spuExpected(const SpuSound& sound, unsigned channels, size_t blocks)
{
    std::vector<int16_t> out;
    for (size_t i = 0; i < blocks * 28; ++i) {
        out.push_back(sound.referenceLeft.at(i));
        if (channels == 2)
            out.push_back(sound.referenceRight.at(i));
    }
    return out;
}

inline Bytes pcmRuns(const std::vector<std::vector<int16_t>>& samples, size_t runBytes)
{
    Bytes out;
    const size_t perRun = runBytes / 2;
    for (size_t first = 0; first < samples[0].size(); first += perRun) {
        for (const auto& channel : samples) {
            for (size_t i = first; i < first + perRun; ++i) {
                const auto v = uint16_t(i < channel.size() ? channel[i] : 0);
                out.push_back(uint8_t(v));
                out.push_back(uint8_t(v >> 8));
            }
        }
    }
    return out;
}

inline Bytes marlsoundFile(uint32_t rate, uint32_t channels, uint32_t blocks, uint32_t offset,
                           const Bytes& data, uint32_t bits = 16)
{
    Bytes out(32 + offset + data.size(), 0xA5);
    const uint32_t fields[] = {offset, rate, channels, bits, blocks, 0x1234, 0, 0};
    for (size_t i = 0; i < 8; ++i)
        put32(&out[4 * i], fields[i]);
    std::copy(data.begin(), data.end(), out.begin() + 32 + offset);
    return out;
}

inline Bytes ss2File(uint32_t type, uint32_t rate, uint32_t channels, uint32_t interleave, const Bytes& data,
                     uint32_t headerBytes = 24)
{
    Bytes out(16 + headerBytes + data.size(), 0);
    std::memcpy(out.data(), "SShd", 4);
    const uint32_t fields[] = {headerBytes, type, rate, channels, interleave};
    for (size_t i = 0; i < 5; ++i)
        put32(&out[4 + 4 * i], fields[i]);
    std::memcpy(&out[8 + headerBytes], "SSbd", 4);
    put32(&out[12 + headerBytes], uint32_t(data.size()));
    std::copy(data.begin(), data.end(), out.begin() + 16 + headerBytes);
    return out;
}

} // namespace mediagen
