// The BMP writer, the pixel checksum and the all-or-nothing output file of the frames command,
// on pictures built here; and the measures the picture tests rely on.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "atomic_file.h"
#include "cli_runner.h"
#include "picture_compare.h"
#include "picture_file.h"
#include "streamkit/lbr.h"

namespace clitest {
namespace {

using tamrin::cli::AtomicFile;

struct PictureDeleter
{
    void operator()(FrameDib* picture) const { LbrFreeBitmap(picture); }
};
using PicturePtr = std::unique_ptr<FrameDib, PictureDeleter>;

// A picture whose pixel (x, y) (y from the top) has the bytes of pixelValue(x, y), with every
// padding byte set to 0xEE so that a reader or checksum that strays into it shows.
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

std::vector<std::string> folderEntries(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(PictureFile, TwentyFourBitPictureBecomesABmpWithTheSamePixels)
{
    // Width 3: 9 pixel bytes per row padded to 12.
    const PicturePtr picture = makePicture(3, 2, 24);
    ASSERT_TRUE(picture);
    EXPECT_FALSE(tamrin::cli::pictureHeaderProblem(*picture));
    TempFolder folder;
    const fs::path path = folder.path() / "p.bmp";
    std::string error;
    ASSERT_TRUE(tamrin::cli::writeBmpFile(path, *picture, error)) << error;
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
    ASSERT_TRUE(tamrin::cli::writeBmpFile(path, *picture, error)) << error;
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
    EXPECT_EQ(tamrin::cli::picturePixelCrc(*picture), expected);

    LbrPicturePixels(picture.get())[9] = 0x11; // padding of the bottom row
    EXPECT_EQ(tamrin::cli::picturePixelCrc(*picture), expected);
    LbrPicturePixels(picture.get())[12 + 8] ^= 1; // last pixel byte of the top row
    EXPECT_NE(tamrin::cli::picturePixelCrc(*picture), expected);
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
        EXPECT_TRUE(tamrin::cli::pictureHeaderProblem(*picture));
        EXPECT_FALSE(tamrin::cli::writeBmpFile(path, *picture, error));
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

TEST(AtomicFile, TargetAppearsOnlyOnCommit)
{
    TempFolder folder;
    const fs::path target = folder.path() / "out.yuv";
    std::string error;
    {
        AtomicFile file;
        ASSERT_TRUE(file.create(target, error)) << error;
        ASSERT_TRUE(file.write("abc", 3, error)) << error;
        EXPECT_FALSE(fs::exists(target));
        // Nameless until commit, or under a hidden name where the filesystem needs one.
        const std::vector<std::string> during = folderEntries(folder.path());
        ASSERT_EQ(during.size(), file.hasTemporaryName() ? 1u : 0u);
        if (!during.empty()) {
            EXPECT_EQ(during[0].rfind(".out.yuv.tmp-", 0), 0u) << "hidden temporary name";
        }
        ASSERT_TRUE(file.commit(error)) << error;
    }
    EXPECT_EQ(readFile(target), "abc");
    EXPECT_EQ(folderEntries(folder.path()), std::vector<std::string>{"out.yuv"});
}

TEST(AtomicFile, UncommittedFileLeavesTheOldTargetAlone)
{
    TempFolder folder;
    const fs::path target = folder.path() / "out.bmp";
    writeFile(target, "old");
    std::string error;
    {
        AtomicFile file;
        ASSERT_TRUE(file.create(target, error)) << error;
        ASSERT_TRUE(file.write("new bytes", 9, error)) << error;
        // Destroyed without commit, as when a later frame fails.
    }
    EXPECT_EQ(readFile(target), "old");
    EXPECT_EQ(folderEntries(folder.path()), std::vector<std::string>{"out.bmp"});

    AtomicFile replaced;
    ASSERT_TRUE(replaced.create(target, error)) << error;
    ASSERT_TRUE(replaced.write("new", 3, error)) << error;
    ASSERT_TRUE(replaced.commit(error)) << error;
    EXPECT_EQ(readFile(target), "new");
}

TEST(AtomicFile, MissingFolderIsReported)
{
    TempFolder folder;
    AtomicFile file;
    std::string error;
    EXPECT_FALSE(file.create(folder.path() / "no such folder" / "x.bmp", error));
    EXPECT_NE(error.find("no such folder"), std::string::npos) << error;
    EXPECT_FALSE(file.write("x", 1, error));
    EXPECT_FALSE(file.commit(error));
}

TEST(PictureMeasures, PsnrOfKnownDifferences)
{
    const std::vector<uint8_t> a(1000, 100);
    std::vector<uint8_t> b = a;
    EXPECT_EQ(psnr(a, b), kIdenticalPsnr);
    for (uint8_t& v : b)
        v = 101; // mean squared error 1
    EXPECT_NEAR(psnr(a, b), 20.0 * std::log10(255.0), 1e-9);
    b = a;
    b[0] = 110; // one difference of 10 in 1000: mse 0.1
    EXPECT_NEAR(psnr(a, b), 10.0 * std::log10(255.0 * 255.0 / 0.1), 1e-9);
    b[1] = 90; // the sign does not matter
    EXPECT_NEAR(psnr(a, b), 10.0 * std::log10(255.0 * 255.0 / 0.2), 1e-9);
    EXPECT_LT(psnr(a, std::vector<uint8_t>(999, 100)), 0.0);
    EXPECT_LT(psnr({}, {}), 0.0);
}

TEST(PictureMeasures, PlanarFramesAreCutIntoTheirPlanes)
{
    // Two frames of 4x2: Y 8 bytes, Cb 2, Cr 2.
    std::string bytes;
    for (int frame = 0; frame < 2; ++frame) {
        bytes += std::string(8, char('Y' + frame));
        bytes += std::string(2, char('b' + frame));
        bytes += std::string(2, char('r' + frame));
    }
    const PlanarFrames frames{4, 2, &bytes};
    ASSERT_EQ(frames.frameCount(), 2u);
    for (size_t frame = 0; frame < 2; ++frame) {
        const char marks[3] = {char('Y' + frame), char('b' + frame), char('r' + frame)};
        for (int plane = 0; plane < 3; ++plane) {
            const auto samples = frames.plane(frame, plane);
            EXPECT_EQ(samples.size(), plane == 0 ? 8u : 2u);
            for (uint8_t sample : samples)
                EXPECT_EQ(char(sample), marks[plane]) << frame << " " << plane;
        }
    }
}

TEST(PictureMeasures, BmpReaderRefusesDamagedFiles)
{
    const PicturePtr picture = makePicture(5, 3, 24);
    ASSERT_TRUE(picture);
    TempFolder folder;
    std::string error;
    ASSERT_TRUE(tamrin::cli::writeBmpFile(folder.path() / "p.bmp", *picture, error)) << error;
    const std::string good = readFile(folder.path() / "p.bmp");
    ASSERT_TRUE(parseBmp(good, error)) << error;
    EXPECT_FALSE(parseBmp(good.substr(0, good.size() - 1), error));
    EXPECT_FALSE(parseBmp(good.substr(0, 20), error));
    std::string changed = good;
    changed[0] = 'X';
    EXPECT_FALSE(parseBmp(changed, error));
    changed = good;
    changed[28] = 32; // bits per pixel
    EXPECT_FALSE(parseBmp(changed, error));
}

} // namespace
} // namespace clitest

namespace {

TEST(AtomicFileTarget, RefusesToReplaceSomethingThatIsNotAFile)
{
    tamrin::cli::AtomicFile file;
    std::string error;
    EXPECT_FALSE(file.create("/dev/null", error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    struct stat st = {};
    ASSERT_EQ(::stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode)) << "the device is still a device";
}

} // namespace
