// The BMP writer and the pixel checksum, on pictures built here: the pixels read back by a strict
// BMP reader, the padding kept out of the checksum, malformed headers refused with nothing written.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "convert_support.h"
#include "picture_compare.h"
#include "streamkit/lbr.h"
#include "tamlib/picture_file.h"

namespace converttest {
namespace {

using clitest::folderEntries;
using clitest::makePicture;
using clitest::parseBmp;
using clitest::PicturePtr;


TEST(PictureFile, TwentyFourBitPictureBecomesABmpWithTheSamePixels)
{
    // Width 3: 9 pixel bytes per row padded to 12.
    const PicturePtr picture = makePicture(3, 2, 24);
    ASSERT_TRUE(picture);
    EXPECT_FALSE(tamlib::pictureHeaderProblem(*picture));
    TempFolder folder;
    const fs::path path = folder.path() / "p.bmp";
    std::string error;
    ASSERT_TRUE(tamlib::writeBmpFile(path, *picture, error)) << error;
    const std::string bytes = readFile(path);
    ASSERT_EQ(bytes.size(), 14u + 40u + 2u * 12u);
    const auto image = parseBmp(bytes, error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(image->width, 3);
    EXPECT_EQ(image->height, 2);
    EXPECT_EQ(image->bits, 24);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            const uint8_t* rgb = &image->rgb[size_t(y * 3 + x) * 3];
            EXPECT_EQ(rgb[0], 200 + 7 * y) << x << "," << y;
            EXPECT_EQ(rgb[1], 100 + x) << x << "," << y;
            EXPECT_EQ(rgb[2], 10 * x + y) << x << "," << y;
        }
    }
    EXPECT_EQ(folderEntries(folder.path()), std::vector<std::string>{"p.bmp"}) << "no temporary file left";
}

TEST(PictureFile, SixteenBitPictureKeepsItsWords)
{
    // Width 3: 6 pixel bytes per row padded to 8.
    const PicturePtr picture = makePicture(3, 5, 16);
    ASSERT_TRUE(picture);
    TempFolder folder;
    const fs::path path = folder.path() / "p.bmp";
    std::string error;
    ASSERT_TRUE(tamlib::writeBmpFile(path, *picture, error)) << error;
    const std::string bytes = readFile(path);
    ASSERT_EQ(bytes.size(), 14u + 40u + 5u * 8u);
    const auto image = parseBmp(bytes, error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(image->bits, 16);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 3; ++x) {
            const uint8_t* rgb = &image->rgb[size_t(y * 3 + x) * 3];
            EXPECT_EQ(rgb[0], x << 3);
            EXPECT_EQ(rgb[1], y << 3);
            EXPECT_EQ(rgb[2], (x + y) << 3);
        }
    }
}

TEST(PictureFile, ChecksumCoversEveryPixelRowButNoPadding)
{
    const PicturePtr picture = makePicture(3, 2, 24);
    ASSERT_TRUE(picture);
    // The expected value, from the rows gathered by hand in memory order.
    std::string rows;
    const uint8_t* pixels = LbrPicturePixels(picture.get());
    for (int y = 0; y < 2; ++y)
        rows.append(reinterpret_cast<const char*>(pixels + y * 12), 9);
    const uint32_t expected = uint32_t(
        ::crc32(::crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(rows.data()), uInt(rows.size())));
    EXPECT_EQ(tamlib::picturePixelCrc(*picture), expected);

    LbrPicturePixels(picture.get())[9] = 0x11; // padding of the bottom row
    EXPECT_EQ(tamlib::picturePixelCrc(*picture), expected);
    LbrPicturePixels(picture.get())[12 + 8] ^= 1; // last pixel byte of the top row
    EXPECT_NE(tamlib::picturePixelCrc(*picture), expected);
}

TEST(PictureFile, MalformedHeadersAreRefusedAndNothingIsWritten)
{
    TempFolder folder;
    const fs::path path = folder.path() / "p.bmp";
    const PicturePtr picture = makePicture(4, 4, 24);
    ASSERT_TRUE(picture);
    const FrameDib good = *picture;
    auto refused = [&](auto change) {
        *picture = good;
        change(*picture);
        std::string error;
        EXPECT_TRUE(tamlib::pictureHeaderProblem(*picture));
        EXPECT_FALSE(tamlib::writeBmpFile(path, *picture, error));
        EXPECT_FALSE(error.empty());
    };
    refused([](FrameDib& p) { p.headerSize = 12; });
    refused([](FrameDib& p) { p.width = 0; });
    refused([](FrameDib& p) { p.height = -4; });
    refused([](FrameDib& p) { p.width = LBR_MAX_PICTURE_SIDE + 1; });
    refused([](FrameDib& p) { p.planes = 2; });
    refused([](FrameDib& p) { p.bitCount = 32; });
    refused([](FrameDib& p) { p.compression = 3; });
    refused([](FrameDib& p) { p.imageSize += 4; });
    EXPECT_TRUE(folderEntries(folder.path()).empty());
}

} // namespace
} // namespace converttest
