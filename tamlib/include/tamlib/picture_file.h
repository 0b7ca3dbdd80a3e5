// Pictures of the library (a 40-byte bitmap header followed by bottom-up rows padded to four
// bytes) as BMP files, and a checksum of their pixels. The frames command of the command-line
// tool and the picture converters write through these.
#ifndef TAMLIB_PICTURE_FILE_H
#define TAMLIB_PICTURE_FILE_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "streamkit/psr.h"

#ifndef PLB_CXX_API
#define PLB_CXX_API __attribute__((visibility("default")))
#endif

namespace tamlib {

constexpr size_t kBmpFileHeaderBytes = 14;

// Why a picture's header is not the documented one (header size 40, sides 1 to
// LBR_MAX_PICTURE_SIDE, one plane, 16 or 24 bits, uncompressed, image size = height x stride);
// nothing when it is. Only pictures that pass are measured or written below.
PLB_CXX_API std::optional<std::string> pictureHeaderProblem(const FrameDib& picture);

// Pixel bytes of one row, without the padding.
PLB_CXX_API size_t pictureRowBytes(const FrameDib& picture);
// Bytes of one row, with the padding.
PLB_CXX_API size_t pictureStride(const FrameDib& picture);

// The BMP file header: "BM", the file size, two reserved words, the offset of the pixels (54).
PLB_CXX_API std::array<uint8_t, kBmpFileHeaderBytes> bmpFileHeader(const FrameDib& picture);

// CRC-32 (zlib) of the pixel rows in memory order (bottom row first), without the padding:
// 24-bit pixels as blue, green, red bytes, 16-bit pixels as little-endian words.
PLB_CXX_API uint32_t picturePixelCrc(const FrameDib& picture);

// Writes the picture as a BMP file: the file header, then the picture block as it is (its
// header is a BITMAPINFOHEADER, its 16-bit pixels the 5-5-5 layout of an uncompressed 16-bit
// BMP). Through a temporary file, so that a failure leaves no damaged file at `path`.
// `beforeName`, when given, is asked once every byte is written and before the file takes its
// name: false discards the file (false is returned, with `error` empty).
PLB_CXX_API bool writeBmpFile(const std::filesystem::path& path, const FrameDib& picture, std::string& error,
                              const std::function<bool()>& beforeName = {});

} // namespace tamlib

#endif
