// Picture memory: one malloc'ed block, a 40-byte bitmap header and bottom-up pixel rows.
#pragma once

#include <cstddef>
#include <cstdint>

#include "streamkit/lbr.h"

namespace streamkit {

// Bytes a picture of this size needs, rows counted up to an even number; 0 when the size is
// out of range (sides 1 to LBR_MAX_PICTURE_SIDE).
size_t pictureBlockBytes(int32_t width, int32_t height, int32_t planes, int32_t bits);

// Capacity of a block made here.
size_t pictureCapacity(const FrameDib* picture);

void writePictureHeader(FrameDib* picture, int32_t width, int32_t height, int32_t planes, int32_t bits);

// A picture for `width` x `height`: the reuse block when it is large enough (its pixels are left
// as they are, for a caller that overwrites them all), else a new zero-filled one. Null on
// failure, with the reuse block freed.
FrameDib* pictureForOverwrite(int32_t width, int32_t height, int32_t bits, FrameDib* reuse);

inline int32_t pictureBits(int32_t asked)
{
    return asked == 16 ? 16 : 24;
}

} // namespace streamkit
