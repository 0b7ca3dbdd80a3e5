#include "picture.h"

#include <malloc.h>

#include <cstdlib>
#include <cstring>

#include "tamrin_common/c_guard.h"

namespace streamkit {

size_t pictureBlockBytes(int32_t width, int32_t height, int32_t planes, int32_t bits)
{
    if (width <= 0 || height <= 0 || width > LBR_MAX_PICTURE_SIDE || height > LBR_MAX_PICTURE_SIDE)
        return 0;
    if (planes < 1 || planes > 4)
        return 0;
    const size_t stride = LbrPictureStride(width * planes, bits);
    return sizeof(FrameDib) + size_t((height + 1) / 2) * 2 * stride;
}

size_t pictureCapacity(const FrameDib* picture)
{
    return picture ? malloc_usable_size(const_cast<FrameDib*>(picture)) : 0;
}

void writePictureHeader(FrameDib* picture, int32_t width, int32_t height, int32_t planes, int32_t bits)
{
    std::memset(picture, 0, sizeof *picture);
    picture->headerSize = sizeof(FrameDib);
    picture->width = width;
    picture->height = height;
    picture->planes = uint16_t(planes);
    picture->bitCount = uint16_t(bits);
    picture->imageSize = uint32_t(height) * LbrPictureStride(width * planes, bits);
}

FrameDib* pictureForOverwrite(int32_t width, int32_t height, int32_t bits, FrameDib* reuse)
{
    const size_t bytes = pictureBlockBytes(width, height, 1, bits);
    if (bytes != 0 && reuse && pictureCapacity(reuse) >= bytes) {
        writePictureHeader(reuse, width, height, 1, bits);
        return reuse;
    }
    return LbrAllocBitmap(width, height, 1, bits, reuse);
}

} // namespace streamkit

LBR_API FrameDib* LbrAllocBitmap(int32_t width, int32_t height, int32_t planes, int32_t bits, FrameDib* reuse)
{
    return tamrin::guarded<FrameDib*>(nullptr, [&]() -> FrameDib* {
        bits = streamkit::pictureBits(bits);
        const size_t bytes = streamkit::pictureBlockBytes(width, height, planes, bits);
        if (bytes == 0) {
            std::free(reuse);
            return nullptr;
        }
        FrameDib* picture = reuse;
        if (picture && streamkit::pictureCapacity(picture) < bytes) {
            std::free(picture);
            picture = nullptr;
        }
        if (picture)
            std::memset(picture, 0, bytes);
        else
            picture = static_cast<FrameDib*>(std::calloc(1, bytes));
        if (!picture)
            return nullptr;
        streamkit::writePictureHeader(picture, width, height, planes, bits);
        return picture;
    });
}

LBR_API void LbrFreeBitmap(FrameDib* picture)
{
    tamrin::guardedVoid([&] { std::free(picture); });
}
