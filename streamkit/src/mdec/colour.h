// Colour conversion tables, indexed by a transform output from -512 to 511.
//
// The first chroma block of a macroblock is the red difference (Cr), the second the blue
// difference (Cb):
//   red   = clamp(Y[y] + RR[cr])
//   green = clamp(Y[y] + GR[cr] + GB[cb])
//   blue  = clamp(Y[y] + RB[cb])
// with RR = 1.402, GR = -0.714, GB = -0.344, RB = 1.772 in 10-bit fixed point. The Y table carries
// brightness and gamma, the chroma tables the red and blue offsets.
#pragma once

#include <cstdint>

namespace streamkit::mdec {

struct ColourTables
{
    int32_t y[1024];
    int32_t rr[1024];  // first chroma block, red
    int32_t gr[1024];  // first chroma block, green part
    int32_t gb[1024];  // second chroma block, green part
    int32_t rb[1024];  // second chroma block, blue
    uint8_t clamp[768];  // -256 .. 511 to 0 .. 255

    // When the Y table is a plain shift (no gamma), every table is a clamp and a multiplication
    // the converter can do on many samples at once: Y[i] = clamp(i + lumaShift, 0, 255), and the
    // chroma tables use the offsets below (limited to where they still make a difference).
    bool linear = false;
    int16_t lumaShift = 0;
    int16_t redOffset = 0;
    int16_t blueOffset = 0;

    static constexpr int kOffset = 512;
    static constexpr int kClampOffset = 256;
};

// The tables in force. A change builds the other of two sets and then publishes it, so a
// conversion running meanwhile reads one whole set.
const ColourTables& colourTables();

// Builds and publishes a new set.
void setColourTables(int32_t brightness, int32_t blue, int32_t red, int32_t gamma);

void buildColourTables(ColourTables& t, int32_t brightness, int32_t blue, int32_t red, int32_t gamma);

} // namespace streamkit::mdec
