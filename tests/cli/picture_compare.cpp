#include "picture_compare.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace clitest {

namespace {

uint32_t u32At(const std::string& bytes, size_t at)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | uint8_t(bytes[at + size_t(i)]);
    return value;
}

uint16_t u16At(const std::string& bytes, size_t at)
{
    return uint16_t(uint8_t(bytes[at]) | (uint8_t(bytes[at + 1]) << 8));
}

} // namespace

double psnr(std::span<const uint8_t> a, std::span<const uint8_t> b)
{
    if (a.size() != b.size() || a.empty())
        return -1.0;
    uint64_t squares = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const int difference = int(a[i]) - int(b[i]);
        squares += uint64_t(difference * difference);
    }
    if (squares == 0)
        return kIdenticalPsnr;
    const double mse = double(squares) / double(a.size());
    return 10.0 * std::log10(255.0 * 255.0 / mse);
}

std::optional<RgbImage> parseBmp(const std::string& bytes, std::string& error)
{
    constexpr size_t kFileHeader = 14, kInfoHeader = 40;
    if (bytes.size() < kFileHeader + kInfoHeader) {
        error = "shorter than the two headers";
        return std::nullopt;
    }
    if (bytes[0] != 'B' || bytes[1] != 'M') {
        error = "no BM signature";
        return std::nullopt;
    }
    if (u32At(bytes, 2) != bytes.size()) {
        error =
            "file size field " + std::to_string(u32At(bytes, 2)) + ", file " + std::to_string(bytes.size());
        return std::nullopt;
    }
    if (u16At(bytes, 6) != 0 || u16At(bytes, 8) != 0) {
        error = "reserved words not 0";
        return std::nullopt;
    }
    if (u32At(bytes, 10) != kFileHeader + kInfoHeader || u32At(bytes, 14) != kInfoHeader) {
        error = "pixel offset or header size not 54 and 40";
        return std::nullopt;
    }
    RgbImage image;
    image.width = int32_t(u32At(bytes, 18));
    image.height = int32_t(u32At(bytes, 22));
    image.bits = u16At(bytes, 28);
    if (image.width <= 0 || image.height <= 0 || image.width > 65536 || image.height > 65536) {
        error = "size " + std::to_string(image.width) + "x" + std::to_string(image.height);
        return std::nullopt;
    }
    if (u16At(bytes, 26) != 1 || (image.bits != 16 && image.bits != 24) || u32At(bytes, 30) != 0) {
        error = "not one plane of uncompressed 16 or 24 bits";
        return std::nullopt;
    }
    const size_t stride = (size_t(image.width) * size_t(image.bits) + 31) / 32 * 4;
    const size_t imageBytes = stride * size_t(image.height);
    if (u32At(bytes, 34) != imageBytes || bytes.size() != kFileHeader + kInfoHeader + imageBytes) {
        error = "image size field or file length does not match " + std::to_string(imageBytes);
        return std::nullopt;
    }
    image.rgb.resize(size_t(image.width) * size_t(image.height) * 3);
    for (int32_t y = 0; y < image.height; ++y) {
        // Bottom-up: the last row in the file is the top row of the picture.
        const size_t row = kFileHeader + kInfoHeader + size_t(image.height - 1 - y) * stride;
        uint8_t* out = &image.rgb[size_t(y) * size_t(image.width) * 3];
        for (int32_t x = 0; x < image.width; ++x, out += 3) {
            if (image.bits == 24) {
                const size_t at = row + size_t(x) * 3;
                out[0] = uint8_t(bytes[at + 2]);
                out[1] = uint8_t(bytes[at + 1]);
                out[2] = uint8_t(bytes[at]);
            } else {
                const uint16_t word = u16At(bytes, row + size_t(x) * 2);
                if (word & 0x8000) {
                    error = "16-bit pixel with its top bit set";
                    return std::nullopt;
                }
                out[0] = uint8_t(((word >> 10) & 0x1F) << 3);
                out[1] = uint8_t(((word >> 5) & 0x1F) << 3);
                out[2] = uint8_t((word & 0x1F) << 3);
            }
        }
    }
    return image;
}

std::span<const uint8_t> PlanarFrames::plane(size_t frame, int plane) const
{
    const auto* base = reinterpret_cast<const uint8_t*>(bytes->data()) + frame * frameBytes();
    if (plane == 0)
        return {base, lumaBytes()};
    return {base + lumaBytes() + size_t(plane - 1) * chromaBytes(), chromaBytes()};
}

PicturePtr makePicture(int32_t width, int32_t height, int32_t bits)
{
    PicturePtr picture(LbrAllocBitmap(width, height, 1, bits, nullptr));
    if (!picture)
        return picture;
    const size_t stride = LbrPictureStride(width, bits);
    uint8_t* pixels = LbrPicturePixels(picture.get());
    std::memset(pixels, 0xEE, stride * size_t(height));
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = pixels + size_t(height - 1 - y) * stride;
        for (int32_t x = 0; x < width; ++x) {
            if (bits == 24) {
                row[x * 3 + 0] = uint8_t(10 * x + y);  // blue
                row[x * 3 + 1] = uint8_t(100 + x);     // green
                row[x * 3 + 2] = uint8_t(200 + 7 * y); // red
            } else {
                const uint16_t word = uint16_t(((x & 0x1F) << 10) | ((y & 0x1F) << 5) | ((x + y) & 0x1F));
                row[x * 2] = uint8_t(word);
                row[x * 2 + 1] = uint8_t(word >> 8);
            }
        }
    }
    return picture;
}

std::vector<std::string> folderEntries(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace clitest
