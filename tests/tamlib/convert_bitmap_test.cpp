// PlbConvertBITMAP, PlbConvertBITMAPFrame and PlbSaveBitmap, checked from outside: ffmpeg reads
// every BMP written, and its pixels are compared with ffmpeg's own decode of the test movies. A
// still picture comes from the player's still test plugin (a movie frame's payload as the still).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <vector>

#include "convert_support.h"
#include "convert_tools.h"
#include "picture_compare.h"
#include "streamkit/lbr.h"
#include "tamlib/convert.h"
#include "tamlib/unit_buffer.h"

namespace converttest {
namespace {

constexpr const char* kFilmfile = "Filmfile.psr";
constexpr const char* kStill = "ConvStill.psr";
constexpr const char* kMovie = "mv1_v2_320x240_15fps_xa37800s";
constexpr uint32_t kNoFrame = UINT32_MAX; // PlbConvertBITMAP rather than a chosen frame

// The picture of a file as ffmpeg reads it: red, green, blue, top row first, and its size.
struct Decoded
{
    std::string rgb;
    std::string size;
};

Decoded ffmpegPicture(const fs::path& file)
{
    const std::string input = quoted(file);
    Decoded decoded;
    decoded.rgb =
        runCommand("ffmpeg -v error -nostdin -i " + input + " -f rawvideo -pix_fmt rgb24 -").value_or("");
    decoded.size = runCommand("ffprobe -v error -show_entries stream=width,height -of csv=p=0:s=x " + input)
                       .value_or("");
    while (!decoded.size.empty() && decoded.size.back() == '\n')
        decoded.size.pop_back();
    return decoded;
}

fs::path reference(int frame)
{
    char name[64];
    std::snprintf(name, sizeof name, "%s-%04d.rgb", kMovie, frame);
    return fs::path(TAMRIN_TEST_DATA) / "references" / kMovie / name;
}

// ffmpeg's decode of a frame of the movie, scaled by ffmpeg to `size` ("WxH").
std::string referenceRgb(int frame, std::string size)
{
    if (size == "320x240")
        return readFile(reference(frame));
    size[size.find('x')] = ':';
    return runCommand("ffmpeg -v error -nostdin -f rawvideo -pix_fmt rgb24 -s 320x240 -i '" +
                      reference(frame).string() + "' -vf scale=" + size + " -f rawvideo -pix_fmt rgb24 -")
        .value_or("");
}

fs::path movie()
{
    return moviePath(std::string(kMovie) + ".str");
}

StrInfo describeMovie()
{
    return describe(kFilmfile, movie());
}

// The first picture unit's payload of the movie, as the still plugin serves a still.
std::string firstPayload()
{
    StrInfo info = describeMovie();
    StreamState* stream = LbrOpenStream(kFilmfile, movie().c_str(), 0, &info, LBR_WANT_VIDEO);
    if (!stream)
        return {};
    tamlib::UnitBuffer buffer;
    std::string payload;
    if (LbrReadStream(stream, LBR_WANT_VIDEO, buffer.record()) == 1) {
        payload.assign(reinterpret_cast<const char*>(buffer.record()->payload),
                       buffer.record()->payloadBytes);
        LbrFreeReadBuffer(stream, buffer.record());
    }
    LbrCloseStream(stream);
    return payload;
}

// A still picture as a still plugin describes it: one frame of 320x240 lasting one second.
StrInfo stillInfo()
{
    StrInfo info{};
    info.kind = StrStill;
    info.width = 320;
    info.height = 240;
    info.frameCount = 1;
    info.durationMs = 1000;
    return info;
}

PlbBitmapSettings bitmapSettings(const fs::path& out, uint32_t width, uint32_t height)
{
    PlbBitmapSettings settings{};
    std::snprintf(settings.outputPath, sizeof settings.outputPath, "%s", out.c_str());
    settings.width = width;
    settings.height = height;
    return settings;
}

int32_t convert(const char* plugin, const fs::path& source, const StrInfo& info,
                const PlbBitmapSettings& settings, uint32_t frame, PlbProgressFn progress = nullptr,
                void* user = nullptr)
{
    return frame == kNoFrame
               ? PlbConvertBITMAP(plugin, source.c_str(), &info, &settings, progress, user)
               : PlbConvertBITMAPFrame(plugin, source.c_str(), &info, &settings, frame, progress, user);
}

class ConvertBitmap : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        if (!haveFfmpegTools())
            GTEST_SKIP() << "ffprobe and ffmpeg are the independent readers of these tests";
        const std::string payload = firstPayload();
        ASSERT_FALSE(payload.empty());
        m_still = m_folder.path() / "still.mdec";
        writeFile(m_still, payload);
    }
    TempFolder m_folder;
    fs::path m_still;
};

TEST_F(ConvertBitmap, StillsAndChosenFramesAsFfmpegSeesThem)
{
    struct Case
    {
        const char* what;
        bool still;
        uint32_t frame;
        uint32_t width, height;
        int reference; // frame of the movie
        const char* size;
    };
    const Case cases[] = {
        {"a still picture", true, kNoFrame, 320, 240, 1, "320x240"},
        {"a still at its display size (no size set)", true, kNoFrame, 0, 0, 1, "320x240"},
        {"a still scaled down", true, kNoFrame, 160, 120, 1, "160x120"},
        {"the first picture of a movie", false, kNoFrame, 320, 240, 1, "320x240"},
        {"frame 0 is the first picture", false, 0, 320, 240, 1, "320x240"},
        {"frame 10 of a movie", false, 10, 320, 240, 10, "320x240"},
        {"frame 40 of a movie, scaled up", false, 40, 480, 360, 40, "480x360"},
    };
    const StrInfo movieInfo = describeMovie();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path out = m_folder.path() / "picture.bmp";
        const PlbBitmapSettings settings = bitmapSettings(out, c.width, c.height);
        ASSERT_EQ(c.still ? convert(kStill, m_still, stillInfo(), settings, c.frame)
                          : convert(kFilmfile, movie(), movieInfo, settings, c.frame),
                  PLB_CONV_OK);
        const Decoded picture = ffmpegPicture(out);
        EXPECT_EQ(picture.size, c.size);
        const std::string expected = referenceRgb(c.reference, c.size);
        ASSERT_EQ(picture.rgb.size(), expected.size());
        EXPECT_GE(bytesPsnr(picture.rgb, expected), std::string(c.size) == "320x240" ? 30.0 : 24.0);
    }
}

// Whatever goes wrong, nothing is left but the file that was there before; a success reports the
// start and the end of the stream's length.
TEST_F(ConvertBitmap, FailuresAndCancelLeaveOnlyTheOldFile)
{
    writeFile(m_folder.path() / "garbage.mdec", std::string(2, '\x5A')); // too short to decode
    struct Case
    {
        const char* what;
        int32_t result;
        const char* target = "kept.bmp";
        size_t cancelAt = SIZE_MAX;
        bool still = true;
        const char* source = "still.mdec";
        uint32_t frame = kNoFrame;
        uint32_t width = 320;
    };
    std::vector<Case> all = {
        {.what = "cancel at the start", .result = PLB_CONV_OK, .cancelAt = 0},
        {.what = "the final call answers 0", .result = PLB_CONV_OK, .cancelAt = 1},
        {.what = "a still that is no picture", .result = PLB_CONV_NO_STREAM, .source = "garbage.mdec"},
        {.what = "no such source", .result = PLB_CONV_NO_STREAM, .source = "none.mdec"},
        {.what = "a frame past the end", .result = PLB_CONV_NO_STREAM, .still = false, .frame = 46},
        {.what = "no such folder", .result = PLB_CONV_BITMAP_FILE, .target = "none/x.bmp"},
        {.what = "no path", .result = PLB_CONV_BITMAP_FILE, .target = ""},
        {.what = "wider than a picture can be", .result = PLB_CONV_BITMAP_FILE, .width = 5000},
    };
    const StrInfo movieInfo = describeMovie();
    for (const Case& c : all) {
        SCOPED_TRACE(c.what);
        writeFile(m_folder.path() / "kept.bmp", "the old file");
        PlbBitmapSettings settings = bitmapSettings(m_folder.path() / c.target, c.width, 240);
        if (!*c.target)
            settings.outputPath[0] = '\0';
        ProgressRecord log{{}, c.cancelAt};
        const int32_t result =
            c.still ? convert(kStill, m_folder.path() / c.source, stillInfo(), settings, c.frame,
                              recordProgress, &log)
                    : convert(kFilmfile, movie(), movieInfo, settings, c.frame, recordProgress, &log);
        EXPECT_EQ(result, c.result);
        EXPECT_TRUE(readFile(m_folder.path() / "kept.bmp") == "the old file");
        EXPECT_EQ(clitest::folderEntries(m_folder.path()),
                  (std::vector<std::string>{"garbage.mdec", "kept.bmp", "still.mdec"}));
    }

    ProgressRecord log;
    const PlbBitmapSettings settings = bitmapSettings(m_folder.path() / "done.bmp", 320, 240);
    ASSERT_EQ(convert(kStill, m_still, stillInfo(), settings, kNoFrame, recordProgress, &log), PLB_CONV_OK);
    EXPECT_EQ(log.calls, (std::vector<std::pair<uint32_t, uint32_t>>{{0, 1000}, {1000, 1000}}));
    EXPECT_EQ(PlbConvertBITMAP(kStill, m_still.c_str(), nullptr, &settings, nullptr, nullptr),
              PLB_CONV_NO_STREAM);
    const StrInfo info = stillInfo();
    EXPECT_EQ(PlbConvertBITMAP(kStill, m_still.c_str(), &info, nullptr, nullptr, nullptr),
              PLB_CONV_BITMAP_FILE);
}

// A folder the user may not write in, and a file-size limit met while writing: 12, and the old
// file is kept.
TEST_F(ConvertBitmap, RefusedWritesLeaveTheOldFile)
{
    // A picture of 320x240 takes 225 KiB.
    expectRefusedWritesKeepTheOldFile(m_folder.path(), "kept.bmp", 64 << 10, PLB_CONV_BITMAP_FILE,
                                      [&](const fs::path& target) {
                                          const PlbBitmapSettings settings = bitmapSettings(target, 320, 240);
                                          return convert(kStill, m_still, stillInfo(), settings, kNoFrame);
                                      });
    EXPECT_EQ(clitest::folderEntries(m_folder.path()),
              (std::vector<std::string>{"kept.bmp", "locked", "still.mdec"}));
}

// A picture the caller holds, as ffmpeg reads it back; a header that does not describe its block,
// or no picture or path, writes nothing and keeps the old file.
TEST_F(ConvertBitmap, SaveBitmapWritesWhatTheHeaderDescribes)
{
    const clitest::PicturePtr picture = clitest::makePicture(5, 3, 24);
    ASSERT_TRUE(picture);
    const fs::path path = m_folder.path() / "saved.bmp";
    ASSERT_EQ(PlbSaveBitmap(picture.get(), path.c_str()), 1);
    const Decoded saved = ffmpegPicture(path);
    EXPECT_EQ(saved.size, "5x3");
    std::string expected;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            expected += {char(200 + 7 * y), char(100 + x), char(10 * x + y)};
    EXPECT_EQ(saved.rgb, expected);

    const std::string before = readFile(path);
    FrameDib lying = *picture;
    lying.imageSize = 1 << 20; // more than the block holds
    EXPECT_EQ(PlbSaveBitmap(&lying, path.c_str()), 0);
    lying = *picture;
    lying.headerSize = 124; // a larger header would move the pixels
    EXPECT_EQ(PlbSaveBitmap(&lying, path.c_str()), 0);
    EXPECT_EQ(PlbSaveBitmap(nullptr, path.c_str()), 0);
    EXPECT_EQ(PlbSaveBitmap(picture.get(), nullptr), 0);
    EXPECT_EQ(PlbSaveBitmap(picture.get(), ""), 0);
    EXPECT_TRUE(readFile(path) == before);
    EXPECT_EQ(clitest::folderEntries(m_folder.path()), (std::vector<std::string>{"saved.bmp", "still.mdec"}));
}

} // namespace
} // namespace converttest
