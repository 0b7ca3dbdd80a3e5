// Accuracy of the decoded pictures against an independent decoder: ffmpeg's planar output of
// each test movie (before any colour conversion) and its RGB frames. The figures are printed
// and recorded as test properties, so that they can be quoted.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "cli_runner.h"
#include "movie_facts.h"
#include "picture_compare.h"

namespace clitest {
namespace {

// Planar samples must agree closely: both decoders run the same transform on the same
// coefficients; they may differ in rounding only.
constexpr double kPlanarMeanDb = 40.0;
constexpr double kPlanarFrameDb = 36.0;
// RGB frames also differ in the chroma upsampling and the conversion's rounding.
constexpr double kRgbMeanDb = 32.0;
constexpr uint32_t kRgbFrames[] = {1, 10, 20, 30, 40};
constexpr const char* kPlaneNames[] = {"Y", "Cb", "Cr"};

std::string decibels(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

std::string shortName(const MovieFacts& facts)
{
    return std::string(facts.file).substr(0, 3);
}

class FramesAccuracy : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        if (!filmfileBuilt())
            GTEST_SKIP() << "Filmfile.psr is not built";
    }
};

TEST_F(FramesAccuracy, PlanarOutputMatchesTheIndependentDecoder)
{
    for (const MovieFacts& facts : kMovies) {
        SCOPED_TRACE(facts.file);
        const fs::path movie = dataDir() / "movies" / facts.file;
        const std::string name = fs::path(facts.file).stem().string();
        TempFolder folder;
        const fs::path out = folder.path() / (name + ".yuv");
        const RunResult result = runCli({"frames", movie.string(), "--yuv", "--out", out.string()});
        ASSERT_EQ(result.status, kExitOk) << result.err;

        const std::string ours = readFile(out);
        const std::string theirs = readFile(dataDir() / "references" / (name + ".yuv"));
        const PlanarFrames decoded{int32_t(facts.width), int32_t(facts.height), &ours};
        const PlanarFrames reference{int32_t(facts.width), int32_t(facts.height), &theirs};
        ASSERT_EQ(reference.frameCount(), facts.frames) << "reference";
        ASSERT_EQ(ours.size(), theirs.size()) << "same frame count and size as the reference";

        for (int plane = 0; plane < 3; ++plane) {
            double sum = 0;
            double lowest = kIdenticalPsnr;
            size_t lowestFrame = 0;
            for (size_t frame = 0; frame < reference.frameCount(); ++frame) {
                const double value = psnr(decoded.plane(frame, plane), reference.plane(frame, plane));
                sum += value;
                if (value < lowest) {
                    lowest = value;
                    lowestFrame = frame + 1;
                }
                EXPECT_GE(value, kPlanarFrameDb) << kPlaneNames[plane] << " of frame " << frame + 1;
            }
            const double mean = sum / double(reference.frameCount());
            EXPECT_GE(mean, kPlanarMeanDb) << kPlaneNames[plane];
            const std::string key = shortName(facts) + "_" + kPlaneNames[plane];
            RecordProperty(key + "_mean_db", decibels(mean));
            RecordProperty(key + "_min_db", decibels(lowest));
            std::printf("planar %s %-2s mean %6.2f dB, lowest %6.2f dB (frame %zu)\n", name.c_str(),
                        kPlaneNames[plane], mean, lowest, lowestFrame);
        }
    }
}

TEST_F(FramesAccuracy, BmpOutputMatchesTheIndependentRgbFrames)
{
    for (const MovieFacts& facts : kMovies) {
        SCOPED_TRACE(facts.file);
        const fs::path movie = dataDir() / "movies" / facts.file;
        const std::string name = fs::path(facts.file).stem().string();
        TempFolder folder;
        const RunResult result = runCli({"frames", movie.string(), "--out", folder.path().string()});
        ASSERT_EQ(result.status, kExitOk) << result.err;

        double sum = 0;
        double lowest = kIdenticalPsnr;
        for (const uint32_t frame : kRgbFrames) {
            char suffix[16];
            std::snprintf(suffix, sizeof suffix, "-%04u", frame);
            std::string error;
            const auto image = parseBmp(readFile(folder.path() / (name + suffix + ".bmp")), error);
            ASSERT_TRUE(image) << "frame " << frame << ": " << error;
            ASSERT_EQ(image->width, int32_t(facts.width));
            ASSERT_EQ(image->height, int32_t(facts.height));
            const std::string reference =
                readFile(dataDir() / "references" / name / (name + suffix + ".rgb"));
            ASSERT_EQ(reference.size(), image->rgb.size()) << "frame " << frame;
            const double value =
                psnr(image->rgb, {reinterpret_cast<const uint8_t*>(reference.data()), reference.size()});
            sum += value;
            lowest = std::min(lowest, value);
            std::printf("rgb %s frame %2u %6.2f dB\n", name.c_str(), frame, value);
        }
        const double mean = sum / double(std::size(kRgbFrames));
        EXPECT_GE(mean, kRgbMeanDb);
        RecordProperty(shortName(facts) + "_rgb_mean_db", decibels(mean));
        RecordProperty(shortName(facts) + "_rgb_min_db", decibels(lowest));
        std::printf("rgb %s mean %6.2f dB, lowest %6.2f dB\n", name.c_str(), mean, lowest);
    }
}

} // namespace
} // namespace clitest
