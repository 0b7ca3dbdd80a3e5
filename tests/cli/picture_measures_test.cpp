// The all-or-nothing output file of the frames command, and the measures the picture tests rely
// on (PSNR, the BMP reader), on pictures built here.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "atomic_file.h"
#include "cli_runner.h"
#include "picture_compare.h"
#include "streamkit/lbr.h"
#include "tamlib/picture_file.h"

namespace clitest {
namespace {

using tamrin::cli::AtomicFile;


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
    ASSERT_TRUE(tamlib::writeBmpFile(folder.path() / "p.bmp", *picture, error)) << error;
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
