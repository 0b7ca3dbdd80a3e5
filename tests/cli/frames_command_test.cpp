// frames: the pictures of each test movie as BMP files, as one planar file, or as checksums;
// frame selection, scaling, repeated passes, and failures that must leave no file behind.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <set>

#include "cli_runner.h"
#include "movie_facts.h"
#include "picture_compare.h"

namespace clitest {
namespace {

using nlohmann::json;

// The smallest movie: 45 frames of 160x112.
constexpr size_t kSmall = 3;

fs::path movie(size_t i)
{
    return dataDir() / "movies" / kMovies[i].file;
}

std::string stem(size_t i)
{
    return movie(i).stem().string();
}

std::string bmpName(size_t i, uint32_t frame)
{
    char digits[16];
    std::snprintf(digits, sizeof digits, "-%04u.bmp", frame);
    return stem(i) + digits;
}

std::vector<std::string> folderEntries(const fs::path& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

uint32_t crcOf(std::span<const uint8_t> bytes)
{
    return uint32_t(::crc32(::crc32(0, nullptr, 0), bytes.data(), uInt(bytes.size())));
}

std::string hex8(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

// The pixel rows of a BMP file as they are stored, without padding: what --crc sums.
uint32_t bmpRowsCrc(const std::string& bytes, int32_t width, int32_t height, int32_t bits)
{
    const size_t rowBytes = size_t(width) * size_t(bits / 8);
    const size_t stride = (size_t(width) * size_t(bits) + 31) / 32 * 4;
    uLong crc = ::crc32(0, nullptr, 0);
    for (int32_t y = 0; y < height; ++y)
        crc = ::crc32(crc, reinterpret_cast<const Bytef*>(bytes.data()) + 54 + size_t(y) * stride,
                      uInt(rowBytes));
    return uint32_t(crc);
}

void expectUsageError(const std::vector<std::string>& args)
{
    std::string shown;
    for (const std::string& arg : args)
        shown += " " + arg;
    SCOPED_TRACE("tamrin-cli" + shown);
    const RunResult result = runCli(args);
    EXPECT_EQ(result.status, kExitUsage) << result.err;
    EXPECT_FALSE(result.err.empty());
}

class FramesCommand : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        if (!filmfileBuilt())
            GTEST_SKIP() << "Filmfile.psr is not built";
    }

    static json framesJson(const std::vector<std::string>& args)
    {
        std::vector<std::string> all{"frames", "--json"};
        all.insert(all.end(), args.begin(), args.end());
        const RunResult result = runCli(all);
        EXPECT_EQ(result.status, kExitOk) << result.err;
        EXPECT_TRUE(result.err.empty()) << result.err;
        return parseJson(result);
    }

    // CRCs of every frame, in order, checking that the frames are numbered from `first` on.
    static std::vector<std::string> crcs(const json& document, uint32_t first = 1)
    {
        std::vector<std::string> list;
        uint32_t next = first;
        for (const json& frame : document["frames"]) {
            EXPECT_EQ(frame["frameNumber"], next++);
            list.push_back(frame["crc32"].get<std::string>());
        }
        return list;
    }
};

TEST(FramesArguments, WrongCommandLinesAreUsageErrors)
{
    const std::string file = movie(kSmall).string();
    expectUsageError({"frames"});
    expectUsageError({"frames", file});                         // no --out, --null or --crc
    expectUsageError({"frames", file, "--null", "--out", "x"}); // nothing to write
    expectUsageError({"frames", file, "--crc", "--out", "x", "--repeat", "2"});
    expectUsageError({"frames", file, "--null", "--bits", "8"});
    expectUsageError({"frames", file, "--null", "--bits", "32"});
    expectUsageError({"frames", file, "--null", "--first", "0"});
    expectUsageError({"frames", file, "--null", "--count", "0"});
    expectUsageError({"frames", file, "--null", "--repeat", "0"});
    expectUsageError({"frames", file, "--null", "--stretch", "6"});
    expectUsageError({"frames", file, "--null", "--stretch", "-1"});
    expectUsageError({"frames", file, "--null", "--size", "320"});
    expectUsageError({"frames", file, "--null", "--size", "0x240"});
    expectUsageError({"frames", file, "--null", "--size", "320x0"});
    expectUsageError({"frames", file, "--null", "--size", "4097x16"});
    expectUsageError({"frames", file, "--null", "--size", "320x240x3"});
    expectUsageError({"frames", file, "--null", "--size", "x240"});
    expectUsageError({"frames", file, "--null", "--size", "-320x240"});
    expectUsageError({"frames", file, "--yuv", "--out", "x.yuv", "--bits", "16"});
    expectUsageError({"frames", file, "--yuv", "--out", "x.yuv", "--size", "320x224"});
    expectUsageError({"frames", file, "--yuv", "--out", "x.yuv", "--stretch", "1"});
}

TEST(FramesArguments, HelpListsTheOptions)
{
    const RunResult result = runCli({"frames", "--help"});
    EXPECT_EQ(result.status, kExitOk) << result.err;
    for (const char* option : {"--out", "--bits", "--first", "--count", "--size", "--stretch", "--yuv",
                               "--null", "--repeat", "--crc", "--json"})
        EXPECT_NE(result.out.find(option), std::string::npos) << option;
}

TEST_F(FramesCommand, EveryFrameBecomesAWellFormedBmpNamedByItsNumber)
{
    TempFolder folder;
    const fs::path out = folder.path() / "made" / "here";
    const RunResult result = runCli({"frames", movie(kSmall).string(), "--out", out.string()});
    ASSERT_EQ(result.status, kExitOk) << result.err;
    EXPECT_TRUE(result.err.empty()) << result.err;
    EXPECT_NE(result.out.find("45 frames decoded"), std::string::npos) << result.out;

    std::vector<std::string> expected;
    for (uint32_t frame = 1; frame <= kMovies[kSmall].frames; ++frame)
        expected.push_back(bmpName(kSmall, frame));
    ASSERT_EQ(folderEntries(out), expected) << "one file per frame and nothing else";
    for (const std::string& name : expected) {
        SCOPED_TRACE(name);
        const std::string bytes = readFile(out / name);
        EXPECT_EQ(bytes.size(), 54u + 112u * 160u * 3u);
        std::string error;
        const auto image = parseBmp(bytes, error);
        ASSERT_TRUE(image) << error;
        EXPECT_EQ(image->width, 160);
        EXPECT_EQ(image->height, 112);
        EXPECT_EQ(image->bits, 24);
    }
}

TEST_F(FramesCommand, ChecksumsAreThoseOfTheWrittenPixelRows)
{
    TempFolder folder;
    for (const int bits : {24, 16}) {
        SCOPED_TRACE(std::to_string(bits) + " bits");
        const fs::path out = folder.path() / std::to_string(bits);
        const json document = framesJson(
            {movie(kSmall).string(), "--out", out.string(), "--crc", "--bits", std::to_string(bits)});
        EXPECT_EQ(document["output"], "bmp");
        EXPECT_EQ(document["bits"], bits);
        ASSERT_EQ(document["frames"].size(), kMovies[kSmall].frames);
        std::set<std::string> distinct;
        for (const json& frame : document["frames"]) {
            const fs::path path = frame["path"].get<std::string>();
            EXPECT_EQ(path, out / bmpName(kSmall, frame["frameNumber"]));
            const std::string bytes = readFile(path);
            EXPECT_EQ(frame["crc32"], hex8(bmpRowsCrc(bytes, 160, 112, bits))) << path;
            distinct.insert(frame["crc32"].get<std::string>());
        }
        // The test movie moves: a decoder that repeated one picture would show here.
        EXPECT_GT(distinct.size(), kMovies[kSmall].frames / 2);
        EXPECT_EQ(document["totals"]["decoded"], kMovies[kSmall].frames);
        EXPECT_EQ(document["totals"]["written"], kMovies[kSmall].frames);
    }
}

TEST_F(FramesCommand, SixteenBitPicturesAreTheTopFiveBitsOfTheTwentyFourBitOnes)
{
    TempFolder folder;
    for (const char* bits : {"24", "16"}) {
        const RunResult result = runCli({"frames", movie(kSmall).string(), "--first", "20", "--count", "3",
                                         "--bits", bits, "--out", (folder.path() / bits).string()});
        ASSERT_EQ(result.status, kExitOk) << result.err;
    }
    for (uint32_t frame = 20; frame < 23; ++frame) {
        std::string error;
        const auto full = parseBmp(readFile(folder.path() / "24" / bmpName(kSmall, frame)), error);
        ASSERT_TRUE(full) << error;
        const auto reduced = parseBmp(readFile(folder.path() / "16" / bmpName(kSmall, frame)), error);
        ASSERT_TRUE(reduced) << error;
        ASSERT_EQ(reduced->bits, 16);
        ASSERT_EQ(full->rgb.size(), reduced->rgb.size());
        size_t mismatches = 0;
        for (size_t i = 0; i < full->rgb.size(); ++i)
            mismatches += (full->rgb[i] & 0xF8) != reduced->rgb[i];
        EXPECT_EQ(mismatches, 0u) << "frame " << frame;
    }
}

TEST_F(FramesCommand, FirstAndCountSelectFramesByNumber)
{
    TempFolder folder;
    const json all = framesJson({movie(kSmall).string(), "--crc"});
    const std::vector<std::string> allCrcs = crcs(all);
    ASSERT_EQ(allCrcs.size(), kMovies[kSmall].frames);

    const json some = framesJson(
        {movie(kSmall).string(), "--crc", "--first", "10", "--count", "5", "--out", folder.path().string()});
    const std::vector<std::string> someCrcs = crcs(some, 10);
    ASSERT_EQ(someCrcs.size(), 5u);
    EXPECT_TRUE(std::equal(someCrcs.begin(), someCrcs.end(), allCrcs.begin() + 9));
    std::vector<std::string> expected;
    for (uint32_t frame = 10; frame < 15; ++frame)
        expected.push_back(bmpName(kSmall, frame));
    EXPECT_EQ(folderEntries(folder.path()), expected);

    // A count beyond the end stops at the last frame.
    const json tail = framesJson({movie(kSmall).string(), "--crc", "--first", "44", "--count", "10"});
    EXPECT_EQ(crcs(tail, 44), std::vector<std::string>(allCrcs.end() - 2, allCrcs.end()));
}

TEST_F(FramesCommand, FirstBeyondTheLastFrameIsAFailure)
{
    TempFolder folder;
    const RunResult result = runCli({"frames", movie(kSmall).string(), "--first", "46", "--yuv", "--out",
                                     (folder.path() / "x.yuv").string()});
    EXPECT_EQ(result.status, kExitFailure);
    EXPECT_NE(result.err.find("no frame"), std::string::npos) << result.err;
    EXPECT_TRUE(folderEntries(folder.path()).empty());

    // The picture folder (and its parent) made for the run go again; one that was there stays.
    const fs::path made = folder.path() / "new" / "pictures";
    RunResult bmp = runCli({"frames", movie(kSmall).string(), "--first", "46", "--out", made.string()});
    EXPECT_EQ(bmp.status, kExitFailure);
    EXPECT_TRUE(folderEntries(folder.path()).empty()) << "no empty folder left behind";
    fs::create_directory(folder.path() / "kept");
    bmp = runCli(
        {"frames", movie(kSmall).string(), "--first", "46", "--out", (folder.path() / "kept").string()});
    EXPECT_EQ(bmp.status, kExitFailure);
    EXPECT_EQ(folderEntries(folder.path()), std::vector<std::string>{"kept"});
}

TEST_F(FramesCommand, EveryPassOfARepeatedDecodeGivesTheSamePictures)
{
    for (const char* output : {"--bits=24", "--yuv"}) {
        SCOPED_TRACE(output);
        const json document = framesJson({movie(kSmall).string(), "--crc", "--repeat", "3", output});
        const json& frames = document["frames"];
        const size_t perPass = kMovies[kSmall].frames;
        ASSERT_EQ(frames.size(), 3 * perPass);
        EXPECT_EQ(document["totals"]["passes"], 3);
        for (size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(frames[i]["pass"], 1 + i / perPass);
            EXPECT_EQ(frames[i]["frameNumber"], 1 + i % perPass);
            EXPECT_EQ(frames[i]["crc32"], frames[i % perPass]["crc32"]) << "frame " << i;
        }
    }
}

TEST_F(FramesCommand, NullDecodesEverythingAndWritesNothing)
{
    const RunResult result = runCli({"frames", movie(kSmall).string(), "--null", "--repeat", "2"});
    ASSERT_EQ(result.status, kExitOk) << result.err;
    EXPECT_NE(result.out.find("90 frames decoded"), std::string::npos) << result.out;
    const json document = framesJson({movie(kSmall).string(), "--null"});
    EXPECT_EQ(document["output"], "none");
    EXPECT_EQ(document["totals"]["decoded"], kMovies[kSmall].frames);
    EXPECT_EQ(document["totals"]["written"], 0);
    EXPECT_FALSE(document["frames"][0].contains("path"));
    EXPECT_FALSE(document["frames"][0].contains("crc32"));
}

TEST_F(FramesCommand, PlanarFileHoldsEveryFrameAndMatchesItsChecksums)
{
    TempFolder folder;
    const fs::path out = folder.path() / "all.yuv";
    const json document = framesJson({movie(kSmall).string(), "--yuv", "--crc", "--out", out.string()});
    EXPECT_EQ(document["output"], "yuv");
    EXPECT_FALSE(document.contains("bits"));
    const std::string bytes = readFile(out);
    const PlanarFrames frames{160, 112, &bytes};
    ASSERT_EQ(bytes.size(), kMovies[kSmall].frames * frames.frameBytes());
    ASSERT_EQ(document["frames"].size(), kMovies[kSmall].frames);
    for (size_t i = 0; i < frames.frameCount(); ++i) {
        const auto* base = reinterpret_cast<const uint8_t*>(bytes.data()) + i * frames.frameBytes();
        EXPECT_EQ(document["frames"][i]["crc32"], hex8(crcOf({base, frames.frameBytes()}))) << "frame " << i;
        EXPECT_EQ(document["frames"][i]["width"], 160);
        EXPECT_EQ(document["frames"][i]["height"], 112);
    }
    EXPECT_EQ(folderEntries(folder.path()), std::vector<std::string>{"all.yuv"});
}

TEST_F(FramesCommand, SizeAndNearestNeighbourScaleEveryPicture)
{
    TempFolder folder;
    const RunResult plain = runCli(
        {"frames", movie(kSmall).string(), "--count", "2", "--out", (folder.path() / "plain").string()});
    ASSERT_EQ(plain.status, kExitOk) << plain.err;
    const RunResult scaled = runCli({"frames", movie(kSmall).string(), "--count", "2", "--size", "240x56",
                                     "--stretch", "1", "--out", (folder.path() / "scaled").string()});
    ASSERT_EQ(scaled.status, kExitOk) << scaled.err;
    for (uint32_t frame = 1; frame <= 2; ++frame) {
        std::string error;
        const auto source = parseBmp(readFile(folder.path() / "plain" / bmpName(kSmall, frame)), error);
        ASSERT_TRUE(source) << error;
        const auto result = parseBmp(readFile(folder.path() / "scaled" / bmpName(kSmall, frame)), error);
        ASSERT_TRUE(result) << error;
        ASSERT_EQ(result->width, 240);
        ASSERT_EQ(result->height, 56);
        // Nearest neighbour on the rows as stored (bottom-up): stored row r comes from stored
        // row r * 112 / 56, column x from x * 160 / 240.
        size_t mismatches = 0;
        for (int r = 0; r < 56; ++r) {
            const int y = 55 - r;
            const int sourceY = 111 - r * 112 / 56;
            for (int x = 0; x < 240; ++x) {
                const int sourceX = x * 160 / 240;
                mismatches += !std::equal(&result->rgb[size_t(y * 240 + x) * 3],
                                          &result->rgb[size_t(y * 240 + x) * 3 + 3],
                                          &source->rgb[size_t(sourceY * 160 + sourceX) * 3]);
            }
        }
        EXPECT_EQ(mismatches, 0u) << "frame " << frame;
    }
    // --size alone scales too (with the default scaler).
    const json document = framesJson({movie(kSmall).string(), "--count", "1", "--size", "320x224", "--crc"});
    EXPECT_EQ(document["frames"][0]["width"], 320);
    EXPECT_EQ(document["frames"][0]["height"], 224);
}

TEST_F(FramesCommand, OutputThatIsAFileIsReported)
{
    TempFolder folder;
    const fs::path blocker = folder.path() / "taken";
    writeFile(blocker, "x");
    const RunResult result = runCli({"frames", movie(kSmall).string(), "--out", blocker.string()});
    EXPECT_EQ(result.status, kExitFailure);
    EXPECT_NE(result.err.find(blocker.string()), std::string::npos) << result.err;
    EXPECT_EQ(readFile(blocker), "x");

    const RunResult below =
        runCli({"frames", movie(kSmall).string(), "--yuv", "--out", (blocker / "x.yuv").string()});
    EXPECT_EQ(below.status, kExitFailure);
    EXPECT_FALSE(below.err.empty());
    EXPECT_EQ(folderEntries(folder.path()), std::vector<std::string>{"taken"});
}

TEST_F(FramesCommand, InputsThatAreNoMovieAreReported)
{
    TempFolder folder;
    const fs::path missing = folder.path() / "gone.str";
    RunResult result = runCli({"frames", missing.string(), "--null"});
    EXPECT_EQ(result.status, kExitFailure);
    EXPECT_NE(result.err.find(missing.string()), std::string::npos) << result.err;

    const fs::path text = folder.path() / "notes.str";
    writeFile(text, std::string(5000, 'a'));
    result = runCli({"frames", text.string(), "--null"});
    EXPECT_EQ(result.status, kExitFailure);
    EXPECT_NE(result.err.find("no plugin accepts"), std::string::npos) << result.err;
}

// A write that fails halfway (here: a file size limit, as a full disc would) leaves neither a
// damaged output file nor a temporary one.
TEST_F(FramesCommand, FailedWritesLeaveNoFileBehind)
{
    TempFolder folder;
    auto limited = [&](std::vector<std::string> args) {
        // 100 blocks of at least 512 bytes: below one 320x240 picture (230 KB).
        std::vector<std::string> all{"-c", "ulimit -f 100 && trap '' XFSZ && exec \"$0\" \"$@\"",
                                     cliProgram().string()};
        all.insert(all.end(), args.begin(), args.end());
        return run("/bin/sh", all);
    };
    const fs::path bmpFolder = folder.path() / "bmp";
    RunResult result = limited({"frames", movie(0).string(), "--out", bmpFolder.string()});
    EXPECT_EQ(result.status, kExitFailure) << result.err;
    EXPECT_NE(result.err.find("cannot write"), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(bmpFolder))
        << "no partial or temporary BMP file, and not the folder made for them";

    const fs::path yuv = folder.path() / "all.yuv";
    result = limited({"frames", movie(0).string(), "--yuv", "--out", yuv.string()});
    EXPECT_EQ(result.status, kExitFailure) << result.err;
    EXPECT_NE(result.err.find("cannot write"), std::string::npos) << result.err;
    EXPECT_TRUE(folderEntries(folder.path()).empty()) << "no partial planar file";

    // An older file of the same name survives the failed run untouched.
    writeFile(yuv, "older");
    result = limited({"frames", movie(0).string(), "--yuv", "--out", yuv.string()});
    EXPECT_EQ(result.status, kExitFailure) << result.err;
    EXPECT_EQ(readFile(yuv), "older");
}

// Regression guard: the per-frame checksums of every test movie, 24-bit, 16-bit and planar.
// Made once the decoder matched the independent references (frames_accuracy_test.cpp). When a
// decoder change alters them on purpose, check the references first, then regenerate from the
// repository root with
//   cli=build/<x>/out/tamrin-cli
//   for f in tests/data/movies/*.str; do
//     for m in rgb24:--bits=24 rgb16:--bits=16 yuv:--yuv; do
//       "$cli" frames --crc --json "${m#*:}" "$f" | jq -c --arg k "${m%%:*}" '{($k): [.frames[].crc32]}'
//     done | jq -s --arg f "$(basename "$f")" '{($f): add}'
//   done | jq -s add > tests/cli/golden/frames_crc.json
// and say why in the commit message.
TEST_F(FramesCommand, TestMoviesMatchTheGoldenChecksums)
{
    const fs::path goldenPath = fs::path(TAMRIN_CLI_GOLDEN) / "frames_crc.json";
    const json golden = json::parse(readFile(goldenPath), nullptr, false);
    ASSERT_FALSE(golden.is_discarded()) << goldenPath;
    ASSERT_EQ(golden.size(), std::size(kMovies));
    for (size_t i = 0; i < std::size(kMovies); ++i) {
        SCOPED_TRACE(kMovies[i].file);
        ASSERT_TRUE(golden.contains(kMovies[i].file));
        const json& expected = golden[kMovies[i].file];
        for (const auto& [key, option] :
             {std::pair{"rgb24", "--bits=24"}, {"rgb16", "--bits=16"}, {"yuv", "--yuv"}}) {
            SCOPED_TRACE(key);
            ASSERT_EQ(expected[key].size(), kMovies[i].frames);
            const std::vector<std::string> got = crcs(framesJson({movie(i).string(), "--crc", option}));
            EXPECT_EQ(got, expected[key].get<std::vector<std::string>>());
        }
    }
}

} // namespace
} // namespace clitest
