// From run-level codes to pixels: dequantisation, inverse transform and placement of the
// macroblocks, written into a picture or into planar 4:2:0 samples.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bitstream.h"
#include "streamkit/psr.h"

namespace streamkit::mdec {

// The codes of a frame: the run-level buffer after its two header words, guards included.
struct CodeSpan
{
    const uint16_t* codes;
    size_t count;
};

// Fills the picture (its header already written for width x height at 16 or 24 bits).
void reconstructPicture(CodeSpan codes, int32_t width, int32_t height, FrameDib* picture);

// The same straight from the bitstream (`blocks` freshly opened). False when the decoder failed
// part way: the picture is then incomplete, and the frame is to be decoded through the buffer.
bool reconstructPicture(BlockDecoder& blocks, int32_t width, int32_t height, FrameDib* picture);

struct PlanarFrame
{
    uint8_t* y;   // width x height
    uint8_t* cb;  // ((width + 1) / 2) x ((height + 1) / 2)
    uint8_t* cr;
};
void reconstructPlanes(CodeSpan codes, int32_t width, int32_t height, const PlanarFrame& out);

// One block's coefficients from the codes (raster order, scaled for the transform); returns the
// last zig-zag position reached, or -1 for a block without coefficients.
int dequantiseBlock(const uint16_t*& code, const uint16_t* end, int32_t* block);

} // namespace streamkit::mdec
