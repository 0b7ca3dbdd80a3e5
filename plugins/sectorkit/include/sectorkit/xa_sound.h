// Contents of XA sound sectors shared by the plugins that look at XA ADPCM sound: the silence
// test. Header-only; the sector layout is the one of str_sector.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sectorkit/str_sector.h"

namespace sectorkit {

/* The 2304 sound bytes from kXaAudioDataOffset are 18 sound groups of 128 bytes:
 *   +0x00 16 bytes  sound parameters, read as four little-endian 32-bit words
 *   +0x10 112 bytes samples
 */
constexpr size_t kXaSoundGroups = 18;
constexpr size_t kXaSoundGroupBytes = 128;
constexpr size_t kXaSoundParameterBytes = 16;
// A parameter word an encoder writes for a group without sound (filter 0, shift 12).
constexpr uint32_t kXaQuietParameters = 0x0C0C0C0C;

// A silent sound sector: in every sound group each parameter word is 0 or 0x0C0C0C0C and all
// sample bytes are 0. False when the raw sector (`length` bytes) is too short to hold the groups.
inline bool isSilentXaSound(const uint8_t* sector, size_t length)
{
    if (!sector || length < kXaAudioDataOffset + kXaSoundGroups * kXaSoundGroupBytes)
        return false;
    for (size_t g = 0; g < kXaSoundGroups; ++g) {
        const uint8_t* group = sector + kXaAudioDataOffset + g * kXaSoundGroupBytes;
        for (size_t w = 0; w < kXaSoundParameterBytes; w += 4) {
            const uint32_t word = uint32_t(group[w]) | uint32_t(group[w + 1]) << 8 |
                                  uint32_t(group[w + 2]) << 16 | uint32_t(group[w + 3]) << 24;
            if (word != 0 && word != kXaQuietParameters)
                return false;
        }
        for (size_t i = kXaSoundParameterBytes; i < kXaSoundGroupBytes; ++i) {
            if (group[i] != 0)
                return false;
        }
    }
    return true;
}

} // namespace sectorkit
