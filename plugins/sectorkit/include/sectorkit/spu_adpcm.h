// SPU ADPCM sound as the game movie formats carry it in their data sectors: 16-byte blocks of 28
// samples, the left channel's blocks and the right channel's blocks stored as two runs, decoded by
// the plugins themselves (PsrDecodeAudio) into interleaved 16-bit stereo.
//
// Block: byte 0 header (low nibble shift code, high nibble filter), byte 1 flags (not used),
// 14 bytes of samples, two 4-bit samples a byte, low nibble first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sectorkit {

constexpr size_t kSpuBlockBytes = 16;
constexpr size_t kSpuBlockSamples = 28;

// The two previous samples of each channel. A plugin keeps one for as long as it is loaded and
// clears it at every open and seek (PsrDecodeAudio with a null record).
struct SpuHistory
{
    int32_t s1[2] = {0, 0};
    int32_t s2[2] = {0, 0};

    void clear() { *this = SpuHistory{}; }
};

// Output bytes of `blocks` block pairs: 28 stereo pairs of 16-bit samples each.
constexpr size_t spuStereoBytes(size_t blocks)
{
    return blocks * kSpuBlockSamples * 4;
}

/* Decodes `blocks` left blocks from `left` and as many right blocks from `right` into
 * spuStereoBytes(blocks) bytes at `out`, left then right, little-endian. For each nibble n
 * (8..15 stand for -8..-1), with shift = 12 - (header & 0x0F) and filter f = header >> 4 when the
 * header is below 0x40, else 4:
 *     sample = (n << shift) + (s1 * K0[f] + s2 * K1[f]) / 256
 * clamped to 16 bits; K0 = {0, 240, 460, 392, 488}, K1 = {0, 0, -208, -220, -240}. The
 * prediction is divided (rounded toward zero), as the host's SPU decoder and the encoders do: an
 * arithmetic shift by 8 rounds down instead, and that half-sample bias, fed back through the
 * filter, drifts by up to 76 steps from the encoder's intent (50 dB against the reference).
 * A shift code above 12 gives a negative shift: the nibble is then shifted right instead, so
 * damaged headers give quiet sound rather than undefined arithmetic. The caller checks that the
 * blocks lie inside its payload and that the output fits. */
void decodeSpuStereo(const uint8_t* left, const uint8_t* right, size_t blocks, SpuHistory& history,
                     uint8_t* out);

} // namespace sectorkit
