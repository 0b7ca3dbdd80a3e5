#include "convert.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace streamkit::audio {

uint32_t frameBytes(const AudioFormat& f)
{
    if (f.sampleRate == 0 || (f.channels != 1 && f.channels != 2) || (f.bitsPerSample != 8 && f.bitsPerSample != 16))
        return 0;
    return uint32_t(f.channels) * f.bitsPerSample / 8;
}

int32_t convertedBytes(const AudioConvState& state, int32_t bytes, const AudioFormat& source,
                       const AudioFormat& target)
{
    const uint32_t in = frameBytes(source), out = frameBytes(target);
    if (bytes <= 0 || in == 0 || out == 0)
        return 0;
    const uint64_t frames = uint64_t(bytes) / in;
    const int32_t statePhase = state.phase;  // a copy: the packed state may lie at any address
    const uint64_t phase = statePhase > 0 ? uint64_t(statePhase) : 0;
    const uint64_t produced = (phase + frames * target.sampleRate) / source.sampleRate;
    // A conversion whose output would not fit a 32-bit count is refused (0) rather than cut.
    return produced * out > uint64_t(INT32_MAX) ? 0 : int32_t(produced * out);
}

int32_t convert(AudioConvState& state, int32_t bytes, const AudioFormat& source, const uint8_t* input,
                const AudioFormat& target, uint8_t* output)
{
    if (bytes == 0) {
        state = AudioConvState{};
        return 0;
    }
    const uint32_t inFrame = frameBytes(source), outFrame = frameBytes(target);
    if (bytes < 0 || inFrame == 0 || outFrame == 0 || !input || !output)
        return 0;
    // A phase from a damaged state would never run down; it restarts.
    if (state.phase < 0 || uint32_t(state.phase) >= source.sampleRate + target.sampleRate)
        state.phase = 0;
    const size_t frames = size_t(bytes) / inFrame;
    const int32_t outputBytes = convertedBytes(state, bytes, source, target);
    if (outputBytes == 0 && frames != 0 && uint64_t(frames) * target.sampleRate >= source.sampleRate)
        return 0;  // the output would not fit a 32-bit count
    // The input is set aside first, so that output may overwrite it.
    std::vector<uint8_t> copy;
    if (output < input + frames * inFrame && input < output + size_t(outputBytes)) {
        copy.assign(input, input + frames * inFrame);
        input = copy.data();
    }
    const bool scale = source.level != target.level && source.level != 0;
    const int64_t rateIn = source.sampleRate, rateOut = target.sampleRate;
    int64_t phase = state.phase;
    uint8_t* out = output;
    for (size_t i = 0; i < frames; ++i) {
        const uint8_t* frame = input + i * inFrame;
        state.previous[0] = state.current[0];
        state.previous[1] = state.current[1];
        int32_t left, right;
        if (source.bitsPerSample == 16) {
            left = int16_t(frame[0] | frame[1] << 8);
            right = source.channels == 2 ? int16_t(frame[2] | frame[3] << 8) : left;
        } else {
            left = frame[0] * 256 - 32768;
            right = source.channels == 2 ? frame[1] * 256 - 32768 : left;
        }
        if (scale) {
            left = int32_t(std::clamp<int64_t>(int64_t(left) * target.level / source.level, -32768, 32767));
            right = int32_t(std::clamp<int64_t>(int64_t(right) * target.level / source.level, -32768, 32767));
        }
        state.current[0] = left;
        state.current[1] = right;

        phase += rateOut;
        while (phase >= rateIn) {
            phase -= rateIn;
            int32_t l = state.current[0], r = state.current[1];
            if (phase != 0) {
                const int64_t w = (phase << 14) / rateOut;
                l = int32_t(l + (((int64_t(state.previous[0]) - l) * w) >> 14));
                r = int32_t(r + (((int64_t(state.previous[1]) - r) * w) >> 14));
            }
            if (target.channels == 1)
                l = r = (l + r) / 2;
            if (target.bitsPerSample == 16) {
                out[0] = uint8_t(l);
                out[1] = uint8_t(uint32_t(l) >> 8);
                if (target.channels == 2) {
                    out[2] = uint8_t(r);
                    out[3] = uint8_t(uint32_t(r) >> 8);
                }
            } else {
                out[0] = uint8_t((l + 32768) >> 8);
                if (target.channels == 2)
                    out[1] = uint8_t((r + 32768) >> 8);
            }
            out += outFrame;
        }
    }
    state.phase = int32_t(phase);
    return int32_t(out - output);
}

} // namespace streamkit::audio
