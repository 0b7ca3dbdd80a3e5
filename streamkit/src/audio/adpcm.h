// Sound decoders: each takes a unit's payload and writes 16-bit little-endian PCM. They check
// the payload length and the output capacity before writing anything, and return the bytes
// written (0 when the unit does not fit or holds nothing to decode).
#pragma once

#include <cstddef>
#include <cstdint>

namespace streamkit::audio {

// Previous and second-previous sample of one channel.
struct ChannelHistory
{
    int32_t s1 = 0;
    int32_t s2 = 0;
};

// XA ADPCM: 128-byte sound groups, 224 samples each (112 frames when stereo).
size_t decodeXa(const uint8_t* in, size_t bytes, int channels, ChannelHistory history[2], uint8_t* out,
                size_t capacity);

// SPU ADPCM: 16-byte blocks of 28 samples; with two channels the payload alternates runs of
// `run` bytes, left then right.
size_t decodeSpu(const uint8_t* in, size_t bytes, int channels, size_t run, ChannelHistory history[2],
                 uint8_t* out, size_t capacity);

// How the filter's prediction is brought back from 8 fractional bits.
enum class Rounding
{
    Nearest,     // XA sound groups: +128 before the shift, as the console's XA decoder does
    TowardZero,  // SPU blocks: a plain division by 256
};

// The prediction of one ADPCM sample with the shared filter table (filters above 4 use 4).
template <Rounding R> inline int32_t adpcmSample(int32_t nibble, int range, int filter, ChannelHistory& h)
{
    static constexpr int32_t k0[5] = {0, 240, 460, 392, 488};
    static constexpr int32_t k1[5] = {0, 0, -208, -220, -240};
    const int f = filter > 4 ? 4 : filter;
    // (n << 12) >> range is n << (12 - range) for every valid range and stays defined above 12.
    // Without the right rounding the error feeds back through the filter and grows.
    const int32_t weighted = h.s1 * k0[f] + h.s2 * k1[f];
    const int32_t prediction = R == Rounding::Nearest ? (weighted + 128) >> 8 : weighted / 256;
    int32_t s = ((nibble * 4096) >> range) + prediction;
    s = s < -32768 ? -32768 : (s > 32767 ? 32767 : s);
    h.s2 = h.s1;
    h.s1 = s;
    return s;
}

inline int32_t signedNibble(uint8_t value)
{
    return int32_t(value & 0x0F) - ((value & 0x08) << 1);
}

inline void putSample(uint8_t* out, int32_t sample)
{
    out[0] = uint8_t(sample);
    out[1] = uint8_t(uint32_t(sample) >> 8);
}

// CRI ADX, with the prediction coefficients and history of one stream.
struct AdxState
{
    bool ready = false;
    int32_t coef1 = 0;
    int32_t coef2 = 0;
    ChannelHistory history[2];
};

// 36-byte frames (an 18-byte block per channel, 32 samples each). Stereo output interleaves
// the blocks; mono output mixes them. The first block whose first byte has bit 0x80 ends the
// sound: the rest of the output is silence.
size_t decodeAdx(const uint8_t* in, size_t bytes, int channels, uint32_t sampleRate, AdxState& state,
                 uint8_t* out, size_t capacity);

// 16-bit PCM; with two channels the payload alternates runs of `run` bytes, left then right.
size_t decodePcm(const uint8_t* in, size_t bytes, int channels, size_t run, uint8_t* out, size_t capacity);

} // namespace streamkit::audio
