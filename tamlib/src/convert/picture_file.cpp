#include "tamlib/picture_file.h"

#include <zlib.h>

#include <cstring>

#include "cdaz/cdaz_bytes.h"
#include "streamkit/lbr.h"
#include "tamrin_common/output_file.h"

namespace tamlib {

namespace {

size_t imageBytes(const FrameDib& picture)
{
    return size_t(picture.height) * pictureStride(picture);
}

} // namespace

std::optional<std::string> pictureHeaderProblem(const FrameDib& picture)
{
    if (picture.headerSize != sizeof(FrameDib))
        return "header size " + std::to_string(picture.headerSize) + " instead of 40";
    if (picture.width < 1 || picture.width > LBR_MAX_PICTURE_SIDE || picture.height < 1 ||
        picture.height > LBR_MAX_PICTURE_SIDE)
        return "size " + std::to_string(picture.width) + "x" + std::to_string(picture.height) +
               " out of range";
    if (picture.planes != 1)
        return std::to_string(picture.planes) + " planes instead of 1";
    if (picture.bitCount != 16 && picture.bitCount != 24)
        return std::to_string(picture.bitCount) + " bits per pixel";
    if (picture.compression != 0)
        return "compression " + std::to_string(picture.compression);
    if (picture.imageSize != imageBytes(picture))
        return "image size " + std::to_string(picture.imageSize) + " instead of " +
               std::to_string(imageBytes(picture));
    return std::nullopt;
}

size_t pictureRowBytes(const FrameDib& picture)
{
    return size_t(picture.width) * (picture.bitCount / 8u);
}

size_t pictureStride(const FrameDib& picture)
{
    return LbrPictureStride(picture.width, picture.bitCount);
}

std::array<uint8_t, kBmpFileHeaderBytes> bmpFileHeader(const FrameDib& picture)
{
    std::array<uint8_t, kBmpFileHeaderBytes> header{};
    header[0] = 'B';
    header[1] = 'M';
    const size_t pixelOffset = kBmpFileHeaderBytes + sizeof(FrameDib);
    putLe32(&header[2], uint32_t(pixelOffset + imageBytes(picture)));
    putLe16(&header[6], 0);
    putLe16(&header[8], 0);
    putLe32(&header[10], uint32_t(pixelOffset));
    return header;
}

uint32_t picturePixelCrc(const FrameDib& picture)
{
    // The block is not const in the library's accessor; nothing is written through it here.
    const uint8_t* row = LbrPicturePixels(const_cast<FrameDib*>(&picture));
    const size_t rowBytes = pictureRowBytes(picture);
    const size_t stride = pictureStride(picture);
    uLong crc = ::crc32(0, nullptr, 0);
    for (int32_t y = 0; y < picture.height; ++y, row += stride)
        crc = ::crc32(crc, row, uInt(rowBytes));
    return uint32_t(crc);
}

bool writeBmpFile(const std::filesystem::path& path, const FrameDib& picture, std::string& error,
                  const std::function<bool()>& beforeName)
{
    if (const auto problem = pictureHeaderProblem(picture)) {
        error = "the decoder returned a picture that cannot be written (" + *problem + ")";
        return false;
    }
    const auto header = bmpFileHeader(picture);
    tamrin_common::OutputFile file;
    if (!file.create(path, error) || !file.write(header.data(), header.size(), error) ||
        !file.write(&picture, sizeof(FrameDib) + imageBytes(picture), error))
        return false;
    if (beforeName && !beforeName()) {
        error.clear();
        return false; // the file goes with `file`
    }
    return file.commit(error);
}

} // namespace tamlib
