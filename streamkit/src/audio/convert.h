// PCM conversion between rates, channel counts, sample sizes and levels.
#pragma once

#include <cstdint>

#include "streamkit/lbr.h"

namespace streamkit::audio {

// Bytes per frame of a format, or 0 when the format is not one we convert (channels 1 or 2,
// 8 or 16 bits, a rate above 0).
uint32_t frameBytes(const AudioFormat& format);

int32_t convert(AudioConvState& state, int32_t bytes, const AudioFormat& source, const uint8_t* input,
                const AudioFormat& target, uint8_t* output);

int32_t convertedBytes(const AudioConvState& state, int32_t bytes, const AudioFormat& source,
                       const AudioFormat& target);

} // namespace streamkit::audio
