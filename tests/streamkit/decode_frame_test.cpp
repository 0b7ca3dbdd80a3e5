#include <cmath>
#include <cstring>
#include <vector>

#include "allocation_probe.h"
#include "mdec_frame_builder.h"
#include "plugin_fixture.h"

namespace {

// A video unit around a payload, in a buffer that owns it.
struct Unit
{
    std::vector<uint8_t> bytes;
    PsrReadRecord* get() { return reinterpret_cast<PsrReadRecord*>(bytes.data()); }
};

Unit videoUnit(const std::vector<uint8_t>& payload, uint32_t width, uint32_t height, uint8_t kind = UnitVideo)
{
    Unit u;
    u.bytes.resize(PSR_READ_HEADER_BYTES + payload.size());
    PsrReadRecord* r = u.get();
    r->frameNumber = 1;
    r->width = width;
    r->height = height;
    r->unitKind = kind;
    r->payloadBytes = uint32_t(payload.size());
    std::memcpy(r->payload, payload.data(), payload.size());
    return u;
}

// Pixel (x, y) counted from the top-left corner, as blue, green, red.
struct Bgr
{
    int b, g, r;
    bool operator==(const Bgr&) const = default;
};
Bgr pixel(FrameDib* picture, int x, int y)
{
    const uint32_t stride = LbrPictureStride(picture->width, 24);
    const uint8_t* p = LbrPicturePixels(picture) + size_t(picture->height - 1 - y) * stride + size_t(x) * 3;
    return {p[0], p[1], p[2]};
}
std::ostream& operator<<(std::ostream& os, const Bgr& c)
{
    return os << "(b " << c.b << ", g " << c.g << ", r " << c.r << ")";
}

class DecodeFrame : public ::testing::Test
{
protected:
    void SetUp() override
    {
        control = &pluginControl("TestFull.psr");
        StrInfo info{};
        info.kind = StrVideo;
        info.frameCount = 1;
        stream = LbrOpenStream("TestFull.psr", "movie.str", 0, &info, LBR_WANT_VIDEO);
        ASSERT_NE(stream, nullptr);
    }
    void TearDown() override
    {
        LbrSetColorModify(0, 0, 0, 100);
        LbrCloseStream(stream);
    }

    TestPluginControl* control = nullptr;
    StreamState* stream = nullptr;
};

TEST_F(DecodeFrame, GreyFrameIsMidGreyInBothDepths)
{
    Unit unit = videoUnit(dcOnlyFrame(1, {0}), 16, 16);
    FrameDib* picture = LbrDecodeFrame(stream, unit.get(), 24, 0, nullptr);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->headerSize, 40u);
    EXPECT_EQ(picture->bitCount, 24);
    EXPECT_EQ(picture->imageSize, 16u * 48);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            ASSERT_EQ(pixel(picture, x, y), (Bgr{128, 128, 128})) << x << "," << y;

    picture = LbrDecodeFrame(stream, unit.get(), 16, 0, picture);  // reused
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->bitCount, 16);
    const uint8_t* p = LbrPicturePixels(picture);
    for (int i = 0; i < 16 * 16; ++i)
        ASSERT_EQ(p[2 * i] | p[2 * i + 1] << 8, 0x4210) << i;
    LbrFreeBitmap(picture);
}

TEST_F(DecodeFrame, RedDifferenceRaisesRedAndBlueDifferenceRaisesBlue)
{
    // DC 64 in the first chroma block (the red difference), 0 elsewhere: each sample is 64 x 8
    // >> 5 = 16 above grey in red, and green falls; blue stays.
    Unit unit = videoUnit(dcOnlyFrame(1, {64, 0, 0, 0, 0, 0}), 16, 16);
    FrameDib* picture = LbrDecodeFrame(stream, unit.get(), 24, 0, nullptr);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(pixel(picture, 3, 3), (Bgr{128, 128 + ((16 * -731) >> 10), 128 + ((16 * 1435) >> 10)}));
    unit = videoUnit(dcOnlyFrame(1, {0, 64, 0, 0, 0, 0}), 16, 16);
    picture = LbrDecodeFrame(stream, unit.get(), 24, 0, picture);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(pixel(picture, 3, 3), (Bgr{128 + ((16 * 1814) >> 10), 128 + ((16 * -352) >> 10), 128}));
    LbrFreeBitmap(picture);
}

TEST_F(DecodeFrame, NarrowFirstColumnUsesTheLeftOfItsMacroblocks)
{
    // Width 40: columns of 8, 16 and 16 pixels. Luma DC per block: TL and BL dark, TR and BR
    // light in the first column; other columns mid grey.
    std::vector<int> dcs;
    for (int mb = 0; mb < 3; ++mb) {
        if (mb == 0)
            dcs.insert(dcs.end(), {0, 0, -128, 128, -128, 128});
        else
            dcs.insert(dcs.end(), {0, 0, 64, 64, 64, 64});
    }
    Unit unit = videoUnit(dcOnlyFrame(3, dcs), 40, 16);
    FrameDib* picture = LbrDecodeFrame(stream, unit.get(), 24, 0, nullptr);
    ASSERT_NE(picture, nullptr);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 8; ++x)
            ASSERT_EQ(pixel(picture, x, y).g, 128 - 32) << x << "," << y;
        for (int x = 8; x < 40; ++x)
            ASSERT_EQ(pixel(picture, x, y).g, 128 + 16) << x << "," << y;
    }
    LbrFreeBitmap(picture);
}

TEST_F(DecodeFrame, ShortBottomRowWritesOnlyItsLines)
{
    // Height 232: 15 macroblock rows, the last writing 8 lines; each row its own grey.
    std::vector<int> dcs;
    for (int row = 0; row < 15; ++row)
        dcs.insert(dcs.end(), {0, 0, row * 8, row * 8, row * 8, row * 8});
    Unit unit = videoUnit(dcOnlyFrame(15, dcs), 16, 232);
    FrameDib* picture = LbrDecodeFrame(stream, unit.get(), 24, 0, nullptr);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(pixel(picture, 0, 0).g, 128);
    EXPECT_EQ(pixel(picture, 0, 16 * 13 + 15).g, 128 + 13 * 2);
    EXPECT_EQ(pixel(picture, 5, 224).g, 128 + 14 * 2);
    EXPECT_EQ(pixel(picture, 5, 231).g, 128 + 14 * 2) << "the bottom line is the last macroblock row's";
    LbrFreeBitmap(picture);
}

TEST_F(DecodeFrame, PlanarOutputIsTheTransformOutputAroundMidLevel)
{
    Unit unit = videoUnit(dcOnlyFrame(2, {64, -64, 32, 32, 32, 32, 0, 0, -32, -32, -32, -32}), 16, 32);
    std::vector<uint8_t> y(16 * 32), cb(8 * 16), cr(8 * 16);
    ASSERT_EQ(LbrDecodeFrameYuv(stream, unit.get(), y.data(), cb.data(), cr.data()), 1);
    EXPECT_EQ(y[0], 128 + 8);
    EXPECT_EQ(y[16 * 31], 128 - 8);
    EXPECT_EQ(cr[0], 128 + 16) << "Cr is the first chroma block";
    EXPECT_EQ(cb[0], 128 - 16) << "Cb is the second";
    EXPECT_EQ(cr[8 * 15], 128);
}

TEST_F(DecodeFrame, MacroblocksBeyondTheCodesAreEmptyEverywhere)
{
    // Codes for the first two macroblocks (the left column) of a 41 x 32 picture: the rest is
    // the colour of an empty macroblock, whatever the reused picture held, at both depths, with
    // the colour settings applied.
    LbrSetColorModify(10, 5, -5, 100);
    Unit unit = videoUnit(dcOnlyFrame(2, {64, -64, 32, 32, 32, 32}), 41, 32);
    Unit grey = videoUnit(dcOnlyFrame(6, {0}), 41, 32); // every macroblock coded, all empty
    for (int32_t bits : {24, 16}) {
        FrameDib* reused = LbrAllocBitmap(41, 32, 1, bits, nullptr);
        std::memset(LbrPicturePixels(reused), 0xA7, reused->imageSize);
        FrameDib* picture = LbrDecodeFrame(stream, unit.get(), bits, 0, reused);
        ASSERT_NE(picture, nullptr);
        FrameDib* reference = LbrDecodeFrame(stream, grey.get(), bits, 0, nullptr);
        ASSERT_NE(reference, nullptr);
        const uint32_t stride = LbrPictureStride(41, bits);
        const size_t bpp = size_t(bits / 8);
        for (int y = 0; y < 32; ++y) {
            const uint8_t* row = LbrPicturePixels(picture) + size_t(y) * stride;
            const uint8_t* expected = LbrPicturePixels(reference) + size_t(y) * stride;
            ASSERT_NE(std::memcmp(row, expected, 9 * bpp), 0) << "the coded column, row " << y;
            ASSERT_EQ(std::memcmp(row + 9 * bpp, expected + 9 * bpp, 32 * bpp), 0) << "row " << y;
        }
        LbrFreeBitmap(reference);
        LbrFreeBitmap(picture);
    }
    std::vector<uint8_t> y(41 * 32, 0xA7), cb(21 * 16, 0xA7), cr(21 * 16, 0xA7);
    ASSERT_EQ(LbrDecodeFrameYuv(stream, unit.get(), y.data(), cb.data(), cr.data()), 1);
    for (int row = 0; row < 32; ++row) {
        EXPECT_EQ(y[size_t(row) * 41], 128 + 8) << row;
        for (int x = 9; x < 41; ++x)
            ASSERT_EQ(y[size_t(row) * 41 + size_t(x)], 128) << x << "," << row;
    }
    for (int row = 0; row < 16; ++row) {
        EXPECT_EQ(cr[size_t(row) * 21], 128 + 16) << row;
        for (int x = 5; x < 21; ++x) {
            ASSERT_EQ(cr[size_t(row) * 21 + size_t(x)], 128) << x << "," << row;
            ASSERT_EQ(cb[size_t(row) * 21 + size_t(x)], 128) << x << "," << row;
        }
    }
}

TEST_F(DecodeFrame, ColourSettingsChangeTheTablesAndTheDefaultsRestoreThemExactly)
{
    Unit unit = videoUnit(dcOnlyFrame(1, {40, -30, 100, -100, 20, -20}), 16, 16);
    FrameDib* before = LbrDecodeFrame(stream, unit.get(), 24, 0, nullptr);
    ASSERT_NE(before, nullptr);
    EXPECT_EQ(LbrSetColorModify(30, 10, -10, 150), 0);
    FrameDib* changed = LbrDecodeFrame(stream, unit.get(), 24, 0, nullptr);
    EXPECT_EQ(LbrSetColorModify(0, 0, 0, 100), 0);
    FrameDib* after = LbrDecodeFrame(stream, unit.get(), 24, 0, nullptr);
    ASSERT_NE(changed, nullptr);
    ASSERT_NE(after, nullptr);
    EXPECT_NE(std::memcmp(LbrPicturePixels(before), LbrPicturePixels(changed), before->imageSize), 0);
    EXPECT_EQ(std::memcmp(LbrPicturePixels(before), LbrPicturePixels(after), before->imageSize), 0);
    // Brighter with a positive brightness, and a gamma of 0 is no correction rather than black.
    EXPECT_GT(pixel(changed, 1, 1).g, pixel(before, 1, 1).g);
    LbrSetColorModify(0, 0, 0, 0);
    FrameDib* noGamma = LbrDecodeFrame(stream, unit.get(), 24, 0, nullptr);
    EXPECT_EQ(std::memcmp(LbrPicturePixels(before), LbrPicturePixels(noGamma), before->imageSize), 0);
    for (FrameDib* p : {before, changed, after, noGamma})
        LbrFreeBitmap(p);
}

TEST_F(DecodeFrame, NoPictureForSoundUnitsBadSizesOrClosedStreams)
{
    Unit sound = videoUnit(dcOnlyFrame(1, {0}), 16, 16, UnitAudio);
    // The reuse picture is consumed even when no picture comes back (LeakSanitizer checks).
    EXPECT_EQ(LbrDecodeFrame(stream, sound.get(), 24, 0, LbrAllocBitmap(16, 16, 1, 24, nullptr)), nullptr);
    Unit spu = videoUnit(dcOnlyFrame(1, {0}), 16, 16, 0x35);
    EXPECT_EQ(LbrDecodeFrame(stream, spu.get(), 24, 0, nullptr), nullptr);
    for (auto [w, h] : {std::pair{0u, 16u}, {16u, 0u}, {5000u, 16u}, {16u, 4097u}, {0xFFFFFFFFu, 0xFFFFFFFFu}}) {
        Unit unit = videoUnit(dcOnlyFrame(1, {0}), w, h);
        EXPECT_EQ(LbrDecodeFrame(stream, unit.get(), 24, 0, nullptr), nullptr) << w << "x" << h;
    }
    Unit tooShort = videoUnit({1, 0, 0, 0x38}, 16, 16);
    EXPECT_EQ(LbrDecodeFrame(stream, tooShort.get(), 24, 0, nullptr), nullptr);
    EXPECT_EQ(LbrDecodeFrame(stream, nullptr, 24, 0, nullptr), nullptr);
    int dummy = 0;
    Unit unit = videoUnit(dcOnlyFrame(1, {0}), 16, 16);
    EXPECT_EQ(LbrDecodeFrame(reinterpret_cast<StreamState*>(&dummy), unit.get(), 24, 0, nullptr), nullptr);
}

TEST_F(DecodeFrame, SizeFieldsOfTheFrameDoNotSizeTheDecodersMemory)
{
    // DC-table frames whose width and height fields describe a 65535 x 65535 picture (a table of
    // 200 MB once expanded) and whose code count is the largest there is, in a 16 x 16 unit: the
    // decoder's memory follows the unit. The packed table is one flag byte and one zero literal,
    // the rest of it reads as zero.
    const std::vector<uint16_t> body = {2, 0x0000};
    const std::vector<uint8_t> hostile = framePayload(0xFFFF, 0xFFFF, 0xFFFF, body);
    for (int32_t bits : {24, 16}) {
        Unit unit = videoUnit(hostile, 16, 16);
        FrameDib* picture = nullptr;
        const size_t largest = testsupport::largestAllocationDuring(
            [&] { picture = LbrDecodeFrame(stream, unit.get(), bits, 0, nullptr); });
        ASSERT_NE(picture, nullptr) << bits;
        // Every table DC code is 0: mid grey.
        const uint8_t* last = LbrPicturePixels(picture) + (bits == 24 ? 45 : 30);
        if (bits == 24)
            EXPECT_EQ(pixel(picture, 15, 15), (Bgr{128, 128, 128}));
        else
            EXPECT_EQ(last[0] | last[1] << 8, 0x4210);
        // Bounded by what a 16 x 16 picture can use: six blocks of 65 codes and a small window.
        EXPECT_LE(largest, size_t(80 * 1024)) << bits;
        LbrFreeBitmap(picture);
    }
}

TEST_F(DecodeFrame, FrameDecoderHooksComeFirst)
{
    Unit unit = videoUnit(dcOnlyFrame(1, {0}), 16, 16);
    control->frameDecoderAnswer = 1;
    FrameDib* drawn = LbrDecodeFrame(stream, unit.get(), 24, 0, nullptr);
    ASSERT_NE(drawn, nullptr);
    EXPECT_EQ(pixel(drawn, 0, 0), (Bgr{0x55, 0x55, 0x55}));
    EXPECT_EQ(control->decodeFrameCalls, 0) << "the frame decoder context takes precedence";
    EXPECT_EQ(control->decodeBsCalls, 0);

    control->frameDecoderAnswer = -1;
    EXPECT_EQ(LbrDecodeFrame(stream, unit.get(), 24, 0, drawn), nullptr);

    control->frameDecoderAnswer = 0;
    unit.get()->unitFlags = UnitNoShow;
    EXPECT_EQ(LbrDecodeFrame(stream, unit.get(), 24, 0, nullptr), nullptr);
    unit.get()->unitFlags = 0;
    unit.get()->unitKind = UnitVideoPluginOnly;
    EXPECT_EQ(LbrDecodeFrame(stream, unit.get(), 24, 0, nullptr), nullptr);
    EXPECT_EQ(control->frameDecoderCalls, 4) << "units for the plugin's decoder still reach it";
    EXPECT_EQ(control->decodeBsCalls, 0);
}

TEST_F(DecodeFrame, PluginRunLevelCodesReplaceTheHostBitstreamDecoder)
{
    // Codes for one macroblock whose luma DC is 80 (10 above grey after the transform).
    const uint16_t codes[] = {6, 0x3800, 0x0400, 0xFE00, 0x0400, 0xFE00, 0x0400 | 80, 0xFE00,
                              0x0400 | 80, 0xFE00, 0x0400 | 80, 0xFE00, 0x0400 | 80, 0xFE00,
                              0xFE00, 0xFE00, 0xFE00, 0xFE00, 0xFE00, 0xFE00};
    control->decodeBsCodes = codes;
    Unit unit = videoUnit({0, 0, 0, 0, 0, 0, 0, 0}, 16, 16);  // the payload itself says nothing
    FrameDib* picture = LbrDecodeFrame(stream, unit.get(), 24, 0, nullptr);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(pixel(picture, 7, 7), (Bgr{148, 148, 148}));
    control->decodeBsCodes = nullptr;
    control->decodeBsAnswer = -1;
    EXPECT_EQ(LbrDecodeFrame(stream, unit.get(), 24, 0, picture), nullptr);
}

TEST_F(DecodeFrame, ShiftedColoursMatchTheTableFormulaExactly)
{
    // Brightness and colour offsets without gamma are converted without tables; with a gamma
    // through them. Both must give exactly what the formula gives.
    // 128 macroblocks (256 x 128): the chroma samples take every value from -128 to 127 (a DC
    // of 4 k gives the sample k), the luma ones a spread of values.
    constexpr int W = 256, H = 128;
    std::vector<int> dcs;
    for (int mb = 0; mb < 128; ++mb) {
        dcs.push_back(4 * (2 * mb - 128));
        dcs.push_back(4 * (2 * mb + 1 - 128));
        for (int b = 0; b < 4; ++b)
            dcs.push_back(((mb * 4 + b) * 37) % 1000 - 500);
    }
    Unit unit = videoUnit(dcOnlyFrame(128, dcs), W, H);
    std::vector<uint8_t> y(W * H), cb(W * H / 4), cr(W * H / 4);
    ASSERT_EQ(LbrDecodeFrameYuv(stream, unit.get(), y.data(), cb.data(), cr.data()), 1);
    struct Setting
    {
        int brightness, blue, red, gamma;
    };
    for (const Setting& set : {Setting{20, 5, -7, 100}, Setting{-40, -90, 60, 100}, Setting{0, 0, 0, 100},
                               Setting{10, 3, -3, 180}}) {
        LbrSetColorModify(set.brightness, set.blue, set.red, set.gamma);
        FrameDib* picture = LbrDecodeFrame(stream, unit.get(), 24, 0, nullptr);
        ASSERT_NE(picture, nullptr);
        auto clamp = [](double v, double lo, double hi) { return std::min(std::max(v, lo), hi); };
        for (int py = 0; py < H; ++py) {
            for (int px = 0; px < W; ++px) {
                const int s = y[size_t(py * W + px)] - 128;
                const double base = (set.brightness + s + 128) / 255.0;
                const double power = std::pow(base, 100.0 / set.gamma);
                const int luma = int(clamp(std::isfinite(power) && power >= 0 ? std::trunc(255 * power + 0.5) : 0, 0, 255));
                const int c0 = int(clamp(cr[size_t(py / 2 * (W / 2) + px / 2)] - 128 + set.red, -128, 127));
                const int c1 = int(clamp(cb[size_t(py / 2 * (W / 2) + px / 2)] - 128 + set.blue, -128, 127));
                const Bgr expected{int(clamp(luma + ((c1 * 1814) >> 10), 0, 255)),
                                   int(clamp(luma + ((c0 * -731) >> 10) + ((c1 * -352) >> 10), 0, 255)),
                                   int(clamp(luma + ((c0 * 1435) >> 10), 0, 255))};
                ASSERT_EQ(pixel(picture, px, py), expected)
                    << px << "," << py << " with brightness " << set.brightness << " gamma " << set.gamma;
            }
        }
        LbrFreeBitmap(picture);
    }
}

} // namespace
