// Frame-rate guesses described in rate_guess.h. All arithmetic is integer, in 64 bits, so that
// values taken from damaged sectors cannot overflow or divide by zero.
#include "sectorkit/rate_guess.h"

namespace sectorkit {

uint16_t rateFromPictureSize(uint32_t width, uint32_t height)
{
    const uint64_t macroblocks = ((uint64_t(width) + 15) / 16) * ((uint64_t(height) + 15) / 16);
    if (macroblocks == 0)
        return 600;
    const uint64_t q = 90000 / macroblocks;
    if (q < 150)
        return 75;
    if (q < 300)
        return 150;
    if (q < 600)
        return 300;
    return 600;
}

uint16_t rateFromFrameBytes(uint64_t bytesPerFrame)
{
    if (bytesPerFrame > 20480)
        return 75;
    if (bytesPerFrame > 10240)
        return 150;
    if (bytesPerFrame > 5120)
        return 300;
    return 600;
}

uint16_t rateFromSizeAndSectors(uint32_t width, uint32_t height, uint32_t s1, uint32_t s2)
{
    const uint16_t bySize = rateFromPictureSize(width, height);
    const uint16_t byBytes = rateFromFrameBytes((uint64_t(s1) + s2) * 1008);
    return bySize < byBytes ? bySize : byBytes;
}

uint32_t xaAudioMs(uint32_t sectors, uint32_t sampleRate, uint16_t channels)
{
    // One sector holds 4032 samples; 40320 = 4032 x 1000 ms / 100, matching sampleRate / 100.
    const uint64_t samplesPerCentisecond = uint64_t(sampleRate / 100) * channels;
    if (samplesPerCentisecond == 0)
        return 0;
    const uint64_t ms = uint64_t(sectors) * 40320 / samplesPerCentisecond;
    return ms > UINT32_MAX ? UINT32_MAX : uint32_t(ms);
}

uint16_t reconcileRateWithSound(uint16_t rate, uint32_t frames, uint32_t audioMs)
{
    if (audioMs == 0)
        return rate;
    const int64_t soundRate = int64_t(frames) * 10000 / audioMs;
    const int64_t difference = int64_t(rate) - soundRate;
    if (difference >= -20 && difference <= 20)
        return rate;
    const int64_t rounded = (soundRate + 2) / 5 * 5;
    if (rounded == 0)
        return rate;
    return rounded > 65535 ? uint16_t(65535) : uint16_t(rounded);
}

} // namespace sectorkit
