// Pictures of the library (a 40-byte bitmap header followed by bottom-up rows padded to four
// bytes) as BMP files, and the checksum the frames command prints of them.
#ifndef TAMRIN_CLI_PICTURE_FILE_H
#define TAMRIN_CLI_PICTURE_FILE_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "streamkit/psr.h"

namespace tamrin::cli {

constexpr size_t kBmpFileHeaderBytes = 14;

// Why a picture's header is not the documented one (header size 40, sides 1 to
// LBR_MAX_PICTURE_SIDE, one plane, 16 or 24 bits, uncompressed, image size = height x stride);
// nothing when it is. Only pictures that pass are measured or written below.
std::optional<std::string> pictureHeaderProblem(const FrameDib& picture);

// Pixel bytes of one row, without the padding.
size_t pictureRowBytes(const FrameDib& picture);
// Bytes of one row, with the padding.
size_t pictureStride(const FrameDib& picture);

// The BMP file header: "BM", the file size, two reserved words, the offset of the pixels (54).
std::array<uint8_t, kBmpFileHeaderBytes> bmpFileHeader(const FrameDib& picture);

// CRC-32 (zlib) of the pixel rows in memory order (bottom row first), without the padding:
// 24-bit pixels as blue, green, red bytes, 16-bit pixels as little-endian words.
uint32_t picturePixelCrc(const FrameDib& picture);

// Writes the picture as a BMP file: the file header, then the picture block as it is (its
// header is a BITMAPINFOHEADER, its 16-bit pixels the 5-5-5 layout of an uncompressed 16-bit
// BMP). Through a temporary file, so that a failure leaves no damaged file at `path`.
bool writeBmpFile(const std::filesystem::path& path, const FrameDib& picture, std::string& error);

} // namespace tamrin::cli

#endif
