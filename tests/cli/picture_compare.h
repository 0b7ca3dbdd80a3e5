// What the picture tests measure: PSNR of 8-bit samples, and a strict reader of the BMP files
// tamrin-cli writes, so that its output can be compared with the raw references.
#ifndef TAMRIN_TESTS_PICTURE_COMPARE_H
#define TAMRIN_TESTS_PICTURE_COMPARE_H

#include <cstddef>
#include <filesystem>
#include <memory>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "streamkit/lbr.h"

namespace clitest {

// PSNR given to identical inputs, so that means and minimums stay finite.
constexpr double kIdenticalPsnr = 100.0;

// Peak signal-to-noise ratio of two equally long runs of 8-bit samples, in dB:
// 10 log10(255^2 / mean squared difference); kIdenticalPsnr when they are equal. Negative when
// the lengths differ or are 0.
double psnr(std::span<const uint8_t> a, std::span<const uint8_t> b);

// A picture as red, green, blue bytes, top row first, no padding.
struct RgbImage
{
    int32_t width = 0;
    int32_t height = 0;
    int32_t bits = 0; // of the file it came from: 16 or 24
    std::vector<uint8_t> rgb;
};

// Reads an uncompressed 16-bit (5-5-5) or 24-bit BMP with a 40-byte header and bottom-up rows.
// Every field is checked against the file's length; 16-bit channels are widened by shifting
// left by 3 (so 0x1F gives 0xF8). Nothing, with `error` set, for anything else.
std::optional<RgbImage> parseBmp(const std::string& bytes, std::string& error);

// The frames of a raw planar 4:2:0 file: frame i's Y plane, then Cb, then Cr.
struct PlanarFrames
{
    int32_t width = 0;
    int32_t height = 0;
    const std::string* bytes = nullptr;

    size_t lumaBytes() const { return size_t(width) * size_t(height); }
    size_t chromaBytes() const { return size_t((width + 1) / 2) * size_t((height + 1) / 2); }
    size_t frameBytes() const { return lumaBytes() + 2 * chromaBytes(); }
    size_t frameCount() const { return bytes->size() / frameBytes(); }
    // plane 0 Y, 1 Cb, 2 Cr
    std::span<const uint8_t> plane(size_t frame, int plane) const;
};

struct PictureDeleter
{
    void operator()(FrameDib* picture) const { LbrFreeBitmap(picture); }
};
using PicturePtr = std::unique_ptr<FrameDib, PictureDeleter>;

// A picture built for the writer tests: pixel (x, y) (y from the top) has bytes made from x and
// y, and every padding byte is 0xEE, so that a reader or checksum that strays into it shows.
PicturePtr makePicture(int32_t width, int32_t height, int32_t bits);

// The names in a folder, sorted.
std::vector<std::string> folderEntries(const std::filesystem::path& folder);

} // namespace clitest

#endif
