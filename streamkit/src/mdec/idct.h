// The scaled (AAN) inverse transform in 32-bit integers. Dequantisation has already applied the
// scale factors; constants are 8-bit fixed point and every product is shifted right by 8. Columns
// first, then rows; row outputs are shifted right by 5.
//
// Only the first k rows and columns of a block can hold coefficients when its last coefficient
// lies on zig-zag anti-diagonal k - 1; the transform is specialised for each k so that the terms
// of coefficients known to be zero vanish. Every variant gives exactly the full transform's result.
#pragma once

#include <cstdint>

namespace streamkit::mdec {

// Coefficients reach the transform limited to this magnitude: larger ones come only from damaged
// data, and the bound keeps every intermediate product within 32 bits.
constexpr int32_t kMaxCoefficient = 30000;

// Number of leading rows and columns that may be non-zero, for a block whose last coefficient
// stands at zig-zag position `last` (0 to 63).
int activeSize(int last);

// The full transform one value at a time, as the reference the faster forms are checked against.
void inverseTransformReference(const int32_t* block, int16_t* samples);

// Transforms `block` (64 coefficients, raster order) into 64 samples clamped to -512..511.
void inverseTransform(const int32_t* block, int active, int16_t* samples);

} // namespace streamkit::mdec
