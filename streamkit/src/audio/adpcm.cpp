#include "adpcm.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace streamkit::audio {

namespace {

constexpr size_t kXaGroupBytes = 128;
constexpr size_t kXaSamplesPerUnit = 28;
constexpr size_t kSpuBlockBytes = 16;
constexpr size_t kSpuSamplesPerBlock = 28;
constexpr size_t kAdxBlockBytes = 18;
constexpr size_t kAdxSamplesPerBlock = 32;

// One XA sound unit's sample in `row`: its nibble in column unit / 2, low for even units.
inline int32_t xaNibble(const uint8_t* group, int unit, size_t row)
{
    const uint8_t byte = group[16 + row * 4 + size_t(unit / 2)];
    return signedNibble(unit & 1 ? uint8_t(byte >> 4) : byte);
}

// The 28 samples of one 16-byte SPU block, to every `step`-th sample of out.
void spuBlock(const uint8_t* block, ChannelHistory& h, uint8_t* out, size_t step)
{
    const int range = block[0] & 0x0F, filter = block[0] >> 4;
    for (size_t i = 0; i < kSpuSamplesPerBlock; ++i) {
        const uint8_t byte = block[2 + i / 2];
        const int32_t n = signedNibble(i & 1 ? uint8_t(byte >> 4) : byte);
        putSample(out + i * step * 2, adpcmSample<Rounding::TowardZero>(n, range, filter, h));
    }
}

int32_t saturateToInt(double value)
{
    if (!(value == value))
        return 0;
    return int32_t(std::clamp(value, -2147483648.0, 2147483647.0));
}

void prepareAdx(AdxState& state, uint32_t sampleRate)
{
    const double pi = 3.14159265358979323846;
    const double a = std::sqrt(2.0) - std::cos(2.0 * pi * 500.0 / sampleRate);
    const double b = std::sqrt(2.0) - 1.0;
    const double c = (a - std::sqrt((a + b) * (a - b))) / b;
    state.coef1 = saturateToInt(std::round(2.0 * c * 4096.0));
    state.coef2 = saturateToInt(std::round(-c * c * 4096.0));
    state.history[0] = state.history[1] = ChannelHistory{};
    state.ready = true;
}

// Decodes one ADX block into 32 samples; false for an end block (nothing decoded).
bool adxBlock(const uint8_t* block, const AdxState& state, ChannelHistory& h, int32_t* samples)
{
    if (block[0] & 0x80)
        return false;
    // The block's scale is the 13-bit value as stored (the encoder writes the step itself).
    const int64_t scale = int64_t((block[0] << 8 | block[1]) & 0x1FFF);
    for (size_t i = 0; i < kAdxSamplesPerBlock; ++i) {
        const uint8_t byte = block[2 + i / 2];
        const int32_t n = signedNibble(i & 1 ? byte : uint8_t(byte >> 4));
        const int64_t prediction = (int64_t(state.coef1) * h.s1 + int64_t(state.coef2) * h.s2) >> 12;
        const int64_t s = std::clamp<int64_t>(n * scale + prediction, -32768, 32767);
        h.s2 = h.s1;
        h.s1 = int32_t(s);
        samples[i] = int32_t(s);
    }
    return true;
}

} // namespace

size_t decodeXa(const uint8_t* in, size_t bytes, int channels, ChannelHistory history[2], uint8_t* out,
                size_t capacity)
{
    const size_t groups = bytes / kXaGroupBytes;
    const size_t result = groups * 448;
    if (groups == 0 || result > capacity)
        return 0;
    for (size_t g = 0; g < groups; ++g) {
        const uint8_t* group = in + g * kXaGroupBytes;
        uint8_t* o = out + g * 448;
        if (channels == 2) {
            for (int pair = 0; pair < 4; ++pair) {
                const int left = 2 * pair, right = left + 1;
                const uint8_t pl = group[4 + left], pr = group[4 + right];
                for (size_t row = 0; row < kXaSamplesPerUnit; ++row) {
                    putSample(o, adpcmSample<Rounding::Nearest>(xaNibble(group, left, row), pl & 0x0F, pl >> 4, history[0]));
                    putSample(o + 2, adpcmSample<Rounding::Nearest>(xaNibble(group, right, row), pr & 0x0F, pr >> 4, history[1]));
                    o += 4;
                }
            }
        } else {
            for (int unit = 0; unit < 8; ++unit) {
                const uint8_t p = group[4 + unit];
                for (size_t row = 0; row < kXaSamplesPerUnit; ++row) {
                    putSample(o, adpcmSample<Rounding::Nearest>(xaNibble(group, unit, row), p & 0x0F, p >> 4, history[0]));
                    o += 2;
                }
            }
        }
    }
    return result;
}

size_t decodeSpu(const uint8_t* in, size_t bytes, int channels, size_t run, ChannelHistory history[2],
                 uint8_t* out, size_t capacity)
{
    if (capacity < bytes / kSpuBlockBytes * kSpuSamplesPerBlock * 2)
        return 0;
    if (channels != 2) {
        const size_t blocks = bytes / kSpuBlockBytes;
        for (size_t b = 0; b < blocks; ++b)
            spuBlock(in + b * kSpuBlockBytes, history[0], out + b * kSpuSamplesPerBlock * 2, 1);
        return blocks * kSpuSamplesPerBlock * 2;
    }
    if (run < kSpuBlockBytes)
        return 0;
    // Whole left-and-right units only; a run that does not end on a block is cut to whole blocks.
    const size_t blocksPerRun = run / kSpuBlockBytes;
    const size_t units = bytes / (2 * run);
    size_t written = 0;
    for (size_t u = 0; u < units; ++u) {
        const uint8_t* left = in + u * 2 * run;
        const uint8_t* right = left + run;
        for (size_t b = 0; b < blocksPerRun; ++b) {
            spuBlock(left + b * kSpuBlockBytes, history[0], out + written, 2);
            spuBlock(right + b * kSpuBlockBytes, history[1], out + written + 2, 2);
            written += kSpuSamplesPerBlock * 4;
        }
    }
    return written;
}

size_t decodeAdx(const uint8_t* in, size_t bytes, int channels, uint32_t sampleRate, AdxState& state,
                 uint8_t* out, size_t capacity)
{
    if (sampleRate == 0)
        return 0;
    const size_t frames = bytes / (2 * kAdxBlockBytes);
    const size_t frameBytes = channels == 2 ? 128 : 64;
    const size_t result = frames * frameBytes;
    if (frames == 0 || result > capacity)
        return 0;
    if (!state.ready)
        prepareAdx(state, sampleRate);
    int32_t left[kAdxSamplesPerBlock], right[kAdxSamplesPerBlock];
    for (size_t f = 0; f < frames; ++f) {
        const uint8_t* frame = in + f * 2 * kAdxBlockBytes;
        uint8_t* o = out + f * frameBytes;
        if (!adxBlock(frame, state, state.history[0], left) ||
            !adxBlock(frame + kAdxBlockBytes, state, state.history[1], right)) {
            std::memset(o, 0, result - f * frameBytes);  // the sound has ended: silence
            break;
        }
        for (size_t i = 0; i < kAdxSamplesPerBlock; ++i) {
            if (channels == 2) {
                putSample(o + i * 4, left[i]);
                putSample(o + i * 4 + 2, right[i]);
            } else {
                const double mixed = 0.7 * (left[i] + right[i]);
                putSample(o + i * 2, int32_t(std::clamp(mixed, -32768.0, 32767.0)));
            }
        }
    }
    return result;
}

size_t decodePcm(const uint8_t* in, size_t bytes, int channels, size_t run, uint8_t* out, size_t capacity)
{
    if (bytes > capacity)
        return 0;
    if (channels != 2) {
        std::memcpy(out, in, bytes);
        return bytes;
    }
    // Whole left-and-right units; interleave one sample of each.
    const size_t units = bytes / (2 * run);
    size_t written = 0;
    for (size_t u = 0; u < units; ++u) {
        const uint8_t* left = in + u * 2 * run;
        const uint8_t* right = left + run;
        for (size_t i = 0; i + 1 < run; i += 2) {
            std::memcpy(out + written, left + i, 2);
            std::memcpy(out + written + 2, right + i, 2);
            written += 4;
        }
    }
    return written;
}

} // namespace streamkit::audio
