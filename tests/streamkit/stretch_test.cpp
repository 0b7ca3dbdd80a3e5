// LbrStretchFrame: ownership of the pictures, target size, and the pixels of every mode.
// Rows are memory rows (row 0 first in the block, the bottom row on screen).
#include <array>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "streamkit/lbr.h"

namespace {

struct PictureDeleter
{
    void operator()(FrameDib* picture) const { LbrFreeBitmap(picture); }
};
using Picture = std::unique_ptr<FrameDib, PictureDeleter>;

Picture makePicture(int32_t width, int32_t height, int32_t bits = 24)
{
    Picture picture(LbrAllocBitmap(width, height, 1, bits, nullptr));
    EXPECT_NE(picture, nullptr);
    return picture;
}

uint8_t* pixelAt(FrameDib* picture, int32_t x, int32_t y)
{
    return LbrPicturePixels(picture) + size_t(y) * LbrPictureStride(picture->width, picture->bitCount) +
           size_t(x) * (picture->bitCount / 8);
}

using Bgr = std::array<uint8_t, 3>;

void setBgr(FrameDib* picture, int32_t x, int32_t y, Bgr value)
{
    std::memcpy(pixelAt(picture, x, y), value.data(), 3);
}

Bgr bgr(FrameDib* picture, int32_t x, int32_t y)
{
    Bgr value;
    std::memcpy(value.data(), pixelAt(picture, x, y), 3);
    return value;
}

void setWord(FrameDib* picture, int32_t x, int32_t y, uint16_t value)
{
    uint8_t* p = pixelAt(picture, x, y);
    p[0] = uint8_t(value);
    p[1] = uint8_t(value >> 8);
}

uint16_t word(FrameDib* picture, int32_t x, int32_t y)
{
    const uint8_t* p = pixelAt(picture, x, y);
    return uint16_t(p[0] | (p[1] << 8));
}

void fillBgr(FrameDib* picture, Bgr value)
{
    for (int32_t y = 0; y < picture->height; ++y)
        for (int32_t x = 0; x < picture->width; ++x)
            setBgr(picture, x, y, value);
}

// A picture whose pixels all differ: blue follows x, green y, red both.
void fillPattern(FrameDib* picture)
{
    for (int32_t y = 0; y < picture->height; ++y)
        for (int32_t x = 0; x < picture->width; ++x)
            setBgr(picture, x, y, Bgr{uint8_t(x * 3 + 1), uint8_t(y * 5 + 2), uint8_t(x * 7 + y * 11 + 3)});
}

// One row of blue values; green and red are fixed, so only blue is checked.
Picture blueRow(const std::vector<uint8_t>& blue, int32_t height = 1)
{
    Picture picture = makePicture(int32_t(blue.size()), height);
    for (int32_t y = 0; y < height; ++y)
        for (size_t x = 0; x < blue.size(); ++x)
            setBgr(picture.get(), int32_t(x), y, Bgr{blue[x], 40, 200});
    return picture;
}

// One column of blue values.
Picture blueColumn(const std::vector<uint8_t>& blue)
{
    Picture picture = makePicture(1, int32_t(blue.size()));
    for (size_t y = 0; y < blue.size(); ++y)
        setBgr(picture.get(), 0, int32_t(y), Bgr{blue[y], 40, 200});
    return picture;
}

std::vector<uint8_t> blueOfRow(FrameDib* picture, int32_t y = 0)
{
    std::vector<uint8_t> out;
    for (int32_t x = 0; x < picture->width; ++x)
        out.push_back(bgr(picture, x, y)[0]);
    return out;
}

std::vector<uint8_t> blueOfColumn(FrameDib* picture, int32_t x = 0)
{
    std::vector<uint8_t> out;
    for (int32_t y = 0; y < picture->height; ++y)
        out.push_back(bgr(picture, x, y)[0]);
    return out;
}

// Scales without freeing the source; the result is owned (null when it is the source).
Picture stretch(FrameDib* source, int32_t mode, int32_t width, int32_t height)
{
    const int32_t target[2] = {width, height};
    FrameDib* result = LbrStretchFrame(source, nullptr, mode, 0, target);
    EXPECT_NE(result, nullptr);
    EXPECT_NE(result, source) << "mode " << mode << " to " << width << "x" << height;
    if (result == source)
        return Picture();
    EXPECT_EQ(result->width, width);
    EXPECT_EQ(result->height, height);
    EXPECT_EQ(result->bitCount, source->bitCount);
    return Picture(result);
}

// ---- ownership and target size --------------------------------------------------------------

TEST(Stretch, ModeZeroReturnsTheSourceAndFreesTheReusePicture)
{
    Picture source = makePicture(32, 16);
    fillPattern(source.get());
    const Bgr corner = bgr(source.get(), 31, 15);
    const int32_t target[2] = {64, 32};
    // The reuse picture is consumed; the leak checker reports it if it is kept.
    FrameDib* result = LbrStretchFrame(source.get(), LbrAllocBitmap(64, 32, 1, 24, nullptr), 0, 1, target);
    EXPECT_EQ(result, source.get());
    // freeSource does not apply when the source itself is returned.
    EXPECT_EQ(result->width, 32);
    EXPECT_EQ(bgr(result, 31, 15), corner);
}

TEST(Stretch, EqualSizeReturnsTheSource)
{
    Picture source = makePicture(48, 20);
    const int32_t same[2] = {48, 20};
    for (int32_t mode = 1; mode <= 5; ++mode) {
        FrameDib* result = LbrStretchFrame(source.get(), LbrAllocBitmap(8, 8, 1, 24, nullptr), mode, 1, same);
        EXPECT_EQ(result, source.get()) << mode;
    }
    // 320 x 240 is below 2.5 : 1, so its display size is its own.
    Picture tv = makePicture(320, 240, 16);
    EXPECT_EQ(LbrStretchFrame(tv.get(), nullptr, 4, 1, nullptr), tv.get());
}

TEST(Stretch, WithoutATargetTheDisplaySizeRuleApplies)
{
    struct
    {
        int32_t w, h, outW, outH;
    } cases[] = {{640, 240, 320, 240}, {320, 112, 320, 224}, {600, 240, 600, 480}};
    for (const auto& c : cases) {
        Picture source = makePicture(c.w, c.h);
        FrameDib* result = LbrStretchFrame(source.get(), nullptr, 1, 0, nullptr);
        ASSERT_NE(result, source.get()) << c.w << "x" << c.h;
        EXPECT_EQ(result->width, c.outW);
        EXPECT_EQ(result->height, c.outH);
        LbrFreeBitmap(result);
    }
}

TEST(Stretch, FreeSourceFreesItOnlyWhenAnotherPictureIsReturned)
{
    FrameDib* source = LbrAllocBitmap(4, 2, 1, 24, nullptr);
    ASSERT_NE(source, nullptr);
    fillBgr(source, Bgr{9, 8, 7});
    const int32_t target[2] = {8, 4};
    // The source is freed by the call (the leak checker reports it otherwise).
    FrameDib* result = LbrStretchFrame(source, nullptr, 4, 1, target);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->width, 8);
    EXPECT_EQ(bgr(result, 7, 3), (Bgr{9, 8, 7}));

    // Returned as it is: still alive (a freed one would be reported when read and freed here).
    const int32_t bad[2] = {0, 4};
    EXPECT_EQ(LbrStretchFrame(result, nullptr, 4, 1, bad), result);
    EXPECT_EQ(LbrStretchFrame(result, nullptr, 0, 1, target), result);
    EXPECT_EQ(bgr(result, 0, 0), (Bgr{9, 8, 7}));
    LbrFreeBitmap(result);
}

TEST(Stretch, AReusePictureThatIsLargeEnoughIsReused)
{
    Picture source = makePicture(16, 16);
    fillBgr(source.get(), Bgr{1, 2, 3});
    FrameDib* reuse = LbrAllocBitmap(64, 64, 1, 24, nullptr);
    ASSERT_NE(reuse, nullptr);
    fillBgr(reuse, Bgr{0xEE, 0xEE, 0xEE});
    const int32_t target[2] = {32, 24};
    FrameDib* result = LbrStretchFrame(source.get(), reuse, 4, 0, target);
    ASSERT_EQ(result, reuse);
    EXPECT_EQ(result->width, 32);
    EXPECT_EQ(result->height, 24);
    EXPECT_EQ(result->bitCount, 24);
    for (int32_t y = 0; y < 24; ++y)
        for (int32_t x = 0; x < 32; ++x)
            ASSERT_EQ(bgr(result, x, y), (Bgr{1, 2, 3})) << x << "," << y;

    // Too small: freed and replaced (the leak checker watches the old block).
    FrameDib* small = LbrAllocBitmap(2, 2, 1, 24, nullptr);
    FrameDib* second = LbrStretchFrame(source.get(), small, 1, 0, target);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->width, 32);
    EXPECT_EQ(bgr(second, 31, 23), (Bgr{1, 2, 3}));
    LbrFreeBitmap(second);
    LbrFreeBitmap(result);
}

TEST(Stretch, TheSourceGivenAlsoAsReusePictureIsNotOverwritten)
{
    Picture source = makePicture(8, 8);
    fillPattern(source.get());
    const Bgr corner = bgr(source.get(), 7, 7);
    const int32_t target[2] = {4, 4};
    FrameDib* result = LbrStretchFrame(source.get(), source.get(), 1, 0, target);
    ASSERT_NE(result, source.get());
    EXPECT_EQ(source->width, 8);
    EXPECT_EQ(bgr(source.get(), 7, 7), corner);
    EXPECT_EQ(bgr(result, 3, 3), bgr(source.get(), 6, 6));
    LbrFreeBitmap(result);
}

// ---- hostile input ---------------------------------------------------------------------------

TEST(Stretch, NullSourceGivesNullAndFreesTheReusePicture)
{
    const int32_t target[2] = {8, 8};
    EXPECT_EQ(LbrStretchFrame(nullptr, LbrAllocBitmap(8, 8, 1, 24, nullptr), 4, 1, target), nullptr);
    EXPECT_EQ(LbrStretchFrame(nullptr, nullptr, 4, 1, nullptr), nullptr);
}

TEST(Stretch, InconsistentHeadersReturnTheSourceUntouched)
{
    struct
    {
        const char* what;
        void (*spoil)(FrameDib*);
    } cases[] = {
        {"width 0", [](FrameDib* p) { p->width = 0; }},
        {"negative width", [](FrameDib* p) { p->width = -16; }},
        {"width above the limit", [](FrameDib* p) { p->width = LBR_MAX_PICTURE_SIDE + 1; }},
        {"height 0", [](FrameDib* p) { p->height = 0; }},
        {"negative height (top-down)", [](FrameDib* p) { p->height = -16; }},
        {"height above the limit", [](FrameDib* p) { p->height = INT32_MAX; }},
        {"8 bits", [](FrameDib* p) { p->bitCount = 8; }},
        {"32 bits", [](FrameDib* p) { p->bitCount = 32; }},
        {"0 bits", [](FrameDib* p) { p->bitCount = 0; }},
        {"two planes", [](FrameDib* p) { p->planes = 2; }},
        {"other header size", [](FrameDib* p) { p->headerSize = 12; }},
        // Within the limits, but larger than the block holds.
        {"width beyond the block", [](FrameDib* p) { p->width = LBR_MAX_PICTURE_SIDE; }},
        {"height beyond the block", [](FrameDib* p) { p->height = 1000; }},
    };
    const int32_t target[2] = {8, 8};
    for (const auto& c : cases) {
        Picture source = makePicture(16, 16);
        fillPattern(source.get());
        c.spoil(source.get());
        const FrameDib header = *source;
        for (int32_t mode = 0; mode <= 5; ++mode) {
            FrameDib* reuse = LbrAllocBitmap(8, 8, 1, 24, nullptr);
            EXPECT_EQ(LbrStretchFrame(source.get(), reuse, mode, 1, target), source.get()) << c.what;
            EXPECT_EQ(LbrStretchFrame(source.get(), nullptr, mode, 1, nullptr), source.get()) << c.what;
        }
        EXPECT_EQ(std::memcmp(&header, source.get(), sizeof header), 0) << c.what;
    }
}

TEST(Stretch, TargetsOutOfRangeReturnTheSource)
{
    Picture source = makePicture(16, 16);
    fillPattern(source.get());
    const Bgr corner = bgr(source.get(), 15, 15);
    const int32_t targets[][2] = {{0, 8},
                                  {8, 0},
                                  {-1, 8},
                                  {8, -5},
                                  {LBR_MAX_PICTURE_SIDE + 1, 8},
                                  {8, LBR_MAX_PICTURE_SIDE + 1},
                                  {INT32_MIN, INT32_MAX}};
    for (const auto& t : targets) {
        for (int32_t mode = 1; mode <= 5; ++mode) {
            FrameDib* reuse = LbrAllocBitmap(8, 8, 1, 24, nullptr);
            EXPECT_EQ(LbrStretchFrame(source.get(), reuse, mode, 1, t), source.get()) << t[0] << "x" << t[1];
        }
    }
    EXPECT_EQ(bgr(source.get(), 15, 15), corner);

    // The limit itself is a valid side.
    Picture wide = stretch(source.get(), 4, LBR_MAX_PICTURE_SIDE, 1);
    ASSERT_NE(wide, nullptr);
    // Blue depends on x only, so the 16 rows average to the last column's blue.
    EXPECT_EQ(bgr(wide.get(), LBR_MAX_PICTURE_SIDE - 1, 0)[0], bgr(source.get(), 15, 0)[0]);
}

TEST(Stretch, ModesOutsideTheRangeScaleNothing)
{
    Picture source = makePicture(16, 16);
    const int32_t target[2] = {32, 32};
    for (int32_t mode : {-1, 6, INT32_MAX, INT32_MIN})
        EXPECT_EQ(LbrStretchFrame(source.get(), LbrAllocBitmap(8, 8, 1, 24, nullptr), mode, 1, target),
                  source.get())
            << mode;
}

// ---- mode 5 ----------------------------------------------------------------------------------

TEST(Stretch, ExactDoublingInModeFiveDrawsTheTwoByTwoPattern)
{
    Picture source = makePicture(320, 240);
    fillPattern(source.get());
    setBgr(source.get(), 0, 0, Bgr{1, 2, 3});
    setBgr(source.get(), 319, 239, Bgr{200, 100, 50});
    setBgr(source.get(), 100, 60, Bgr{255, 128, 7});
    // A dirty reuse picture: every byte the pattern leaves empty must come out 0.
    FrameDib* reuse = LbrAllocBitmap(640, 480, 1, 24, nullptr);
    ASSERT_NE(reuse, nullptr);
    std::memset(LbrPicturePixels(reuse), 0xAB, size_t(480) * LbrPictureStride(640, 24));
    const int32_t target[2] = {640, 480};
    Picture result(LbrStretchFrame(source.get(), reuse, 5, 0, target));
    ASSERT_NE(result, nullptr);
    ASSERT_NE(result.get(), source.get());
    FrameDib* r = result.get();

    // Lower memory row: (b, g, r) then (b, 0, 0); the row above: (0, 0, r) then (0, g, 0).
    EXPECT_EQ(bgr(r, 0, 0), (Bgr{1, 2, 3}));
    EXPECT_EQ(bgr(r, 1, 0), (Bgr{1, 0, 0}));
    EXPECT_EQ(bgr(r, 0, 1), (Bgr{0, 0, 3}));
    EXPECT_EQ(bgr(r, 1, 1), (Bgr{0, 2, 0}));
    EXPECT_EQ(bgr(r, 638, 478), (Bgr{200, 100, 50}));
    EXPECT_EQ(bgr(r, 639, 478), (Bgr{200, 0, 0}));
    EXPECT_EQ(bgr(r, 638, 479), (Bgr{0, 0, 50}));
    EXPECT_EQ(bgr(r, 639, 479), (Bgr{0, 100, 0}));
    EXPECT_EQ(bgr(r, 200, 120), (Bgr{255, 128, 7}));
    EXPECT_EQ(bgr(r, 201, 120), (Bgr{255, 0, 0}));
    EXPECT_EQ(bgr(r, 200, 121), (Bgr{0, 0, 7}));
    EXPECT_EQ(bgr(r, 201, 121), (Bgr{0, 128, 0}));

    for (int32_t y = 0; y < 240; ++y) {
        for (int32_t x = 0; x < 320; ++x) {
            const Bgr s = bgr(source.get(), x, y);
            ASSERT_EQ(bgr(r, 2 * x, 2 * y), s) << x << "," << y;
            ASSERT_EQ(bgr(r, 2 * x + 1, 2 * y), (Bgr{s[0], 0, 0})) << x << "," << y;
            ASSERT_EQ(bgr(r, 2 * x, 2 * y + 1), (Bgr{0, 0, s[2]})) << x << "," << y;
            ASSERT_EQ(bgr(r, 2 * x + 1, 2 * y + 1), (Bgr{0, s[1], 0})) << x << "," << y;
        }
    }
}

TEST(Stretch, ModeFiveClearsTheRowPadding)
{
    // 5 x 3 doubles to 10 x 6: rows of 30 pixel bytes in a stride of 32.
    Picture source = makePicture(5, 3);
    fillBgr(source.get(), Bgr{10, 20, 30});
    FrameDib* reuse = LbrAllocBitmap(10, 6, 1, 24, nullptr);
    ASSERT_NE(reuse, nullptr);
    std::memset(LbrPicturePixels(reuse), 0xFF, size_t(6) * 32);
    const int32_t target[2] = {10, 6};
    Picture result(LbrStretchFrame(source.get(), reuse, 5, 0, target));
    ASSERT_EQ(result.get(), reuse);
    for (int32_t y = 0; y < 6; ++y) {
        const uint8_t* row = LbrPicturePixels(result.get()) + y * 32;
        EXPECT_EQ(row[30], 0) << y;
        EXPECT_EQ(row[31], 0) << y;
        EXPECT_EQ(bgr(result.get(), 9, y), (y % 2 ? Bgr{0, 20, 0} : Bgr{10, 0, 0})) << y;
    }
}

TEST(Stretch, ModeFiveWithoutAnExactDoublingScalesAsModeFour)
{
    Picture source = makePicture(320, 240);
    fillPattern(source.get());
    Picture five = stretch(source.get(), 5, 640, 479);
    Picture four = stretch(source.get(), 4, 640, 479);
    ASSERT_TRUE(five && four);
    const size_t bytes = size_t(479) * LbrPictureStride(640, 24);
    EXPECT_EQ(std::memcmp(LbrPicturePixels(five.get()), LbrPicturePixels(four.get()), bytes), 0);
    // Interpolated, not the pattern: the right pixel of the first pair keeps its green.
    EXPECT_NE(bgr(five.get(), 1, 0)[1], 0);

    // Doubling in one direction only is not the pattern either.
    Picture wideFive = stretch(source.get(), 5, 640, 240);
    Picture wideFour = stretch(source.get(), 4, 640, 240);
    ASSERT_TRUE(wideFive && wideFour);
    EXPECT_EQ(std::memcmp(LbrPicturePixels(wideFive.get()), LbrPicturePixels(wideFour.get()),
                          size_t(240) * LbrPictureStride(640, 24)),
              0);
}

// ---- nearest neighbour -----------------------------------------------------------------------

uint16_t word555(int32_t x, int32_t y)
{
    return uint16_t((y << 10) | (x << 5) | 0x11);
}

TEST(Stretch, NearestNeighbourOnSixteenBitPictures)
{
    Picture source = makePicture(7, 5, 16);
    for (int32_t y = 0; y < 5; ++y)
        for (int32_t x = 0; x < 7; ++x)
            setWord(source.get(), x, y, word555(x, y));

    // 7 x 5 to 3 x 2: columns 0, 2, 4 (x * 7 / 3), rows 0, 2 (y * 5 / 2).
    Picture small = stretch(source.get(), 1, 3, 2);
    ASSERT_NE(small, nullptr);
    const int32_t columns[3] = {0, 2, 4};
    const int32_t rows[2] = {0, 2};
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 3; ++x)
            EXPECT_EQ(word(small.get(), x, y), word555(columns[x], rows[y])) << x << "," << y;

    // 7 x 5 to 16 x 11: every pixel comes from (x * 7 / 16, y * 5 / 11); the modes of the
    // 24-bit scalers do not apply to 16-bit pictures.
    const int32_t wideColumns[16] = {0, 0, 0, 1, 1, 2, 2, 3, 3, 3, 4, 4, 5, 5, 6, 6};
    const int32_t tallRows[11] = {0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4};
    for (int32_t mode = 1; mode <= 5; ++mode) {
        Picture large = stretch(source.get(), mode, 16, 11);
        ASSERT_NE(large, nullptr);
        for (int32_t y = 0; y < 11; ++y)
            for (int32_t x = 0; x < 16; ++x)
                ASSERT_EQ(word(large.get(), x, y), word555(wideColumns[x], tallRows[y]))
                    << "mode " << mode << " at " << x << "," << y;
    }
}

TEST(Stretch, SixteenBitDoublingInModeFiveRepeatsEachPixel)
{
    Picture source = makePicture(3, 2, 16);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 3; ++x)
            setWord(source.get(), x, y, word555(x + 1, y + 1));
    Picture result = stretch(source.get(), 5, 6, 4);
    ASSERT_NE(result, nullptr);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 6; ++x)
            EXPECT_EQ(word(result.get(), x, y), word555(x / 2 + 1, y / 2 + 1)) << x << "," << y;
}

TEST(Stretch, ModeOnePicksPixelsWithoutAveraging)
{
    Picture source = blueRow({10, 20, 30, 40, 50, 60}, 2);
    setBgr(source.get(), 1, 1, Bgr{99, 98, 97});
    Picture result = stretch(source.get(), 1, 3, 1);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(bgr(result.get(), 0, 0), (Bgr{10, 40, 200}));
    EXPECT_EQ(bgr(result.get(), 1, 0), (Bgr{30, 40, 200}));
    EXPECT_EQ(bgr(result.get(), 2, 0), (Bgr{50, 40, 200}));
}

// ---- area averaging --------------------------------------------------------------------------

// Halving: step = 512 and P(x) = 512 x, so f is always 0 and the value is
// (a * 256 >> 8) + b, times 256 / 512: floor((a + b) / 2).
TEST(Stretch, HalvingAveragesPairsOfColumnsAndRows)
{
    Picture row = blueRow({10, 13, 0, 255, 255, 255, 7, 8});
    for (int32_t mode : {2, 4, 5}) {
        Picture half = stretch(row.get(), mode, 4, 1);
        ASSERT_NE(half, nullptr);
        EXPECT_EQ(blueOfRow(half.get()), (std::vector<uint8_t>{11, 127, 255, 7})) << mode;
        EXPECT_EQ(bgr(half.get(), 0, 0), (Bgr{11, 40, 200}));
    }

    Picture column = blueColumn({10, 13, 0, 255, 255, 255, 7, 8});
    for (int32_t mode : {2, 3, 4}) {
        Picture half = stretch(column.get(), mode, 1, 4);
        ASSERT_NE(half, nullptr);
        EXPECT_EQ(blueOfColumn(half.get()), (std::vector<uint8_t>{11, 127, 255, 7})) << mode;
    }

    // Both directions: the mean of each row pair, then of the two means.
    Picture square = makePicture(4, 4);
    fillBgr(square.get(), Bgr{0, 0, 0});
    setBgr(square.get(), 0, 0, Bgr{10, 100, 1});
    setBgr(square.get(), 1, 0, Bgr{13, 100, 2});
    setBgr(square.get(), 0, 1, Bgr{20, 100, 3});
    setBgr(square.get(), 1, 1, Bgr{27, 101, 4});
    Picture quarter = stretch(square.get(), 4, 2, 2);
    ASSERT_NE(quarter, nullptr);
    // Blue (11 + 23) / 2, green (100 + 100) / 2, red (1 + 3) / 2.
    EXPECT_EQ(bgr(quarter.get(), 0, 0), (Bgr{17, 100, 2}));
    EXPECT_EQ(bgr(quarter.get(), 1, 1), (Bgr{0, 0, 0}));
}

// Three to two: step = 384; P = 0, 384, 768. Column 0 = (90 + (60 * 128 >> 8)) * 256 / 384 = 80;
// column 1 = ((60 * 128 >> 8) + 30) * 256 / 384 = 40.
TEST(Stretch, AreaAveragingSplitsPixelsAtFractionalBorders)
{
    Picture row = blueRow({90, 60, 30});
    Picture narrow = stretch(row.get(), 4, 2, 1);
    ASSERT_NE(narrow, nullptr);
    EXPECT_EQ(blueOfRow(narrow.get()), (std::vector<uint8_t>{80, 40}));

    Picture column = blueColumn({90, 60, 30});
    Picture shorter = stretch(column.get(), 3, 1, 2);
    ASSERT_NE(shorter, nullptr);
    EXPECT_EQ(blueOfColumn(shorter.get()), (std::vector<uint8_t>{80, 40}));

    // Five to three: step = 426; P = 0, 426, 853, 1280. Each partial term is truncated on its
    // own: (255 + 169) * 256 / 426 = 254, (85 + 255 + 84) * 256 / 426 = 254,
    // (170 + 255) * 256 / 426 = 255.
    Picture white = blueRow({255, 255, 255, 255, 255});
    Picture three = stretch(white.get(), 4, 3, 1);
    ASSERT_NE(three, nullptr);
    EXPECT_EQ(blueOfRow(three.get()), (std::vector<uint8_t>{254, 254, 255}));
    Picture whiteColumn = blueColumn({255, 255, 255, 255, 255});
    Picture threeRows = stretch(whiteColumn.get(), 2, 1, 3);
    ASSERT_NE(threeRows, nullptr);
    EXPECT_EQ(blueOfColumn(threeRows.get()), (std::vector<uint8_t>{254, 254, 255}));
}

// ---- linear interpolation --------------------------------------------------------------------

// Two to five: position = x * 1 * 1024 / 4 = 256 x. Falling values use a shift that rounds
// toward minus infinity: 100 + (256 * -99 >> 10) = 100 - 25.
TEST(Stretch, EnlargingInterpolatesLinearly)
{
    Picture rising = blueRow({0, 100});
    Picture falling = blueRow({100, 1});
    for (int32_t mode : {2, 4, 5}) {
        Picture up = stretch(rising.get(), mode, 5, 1);
        Picture down = stretch(falling.get(), mode, 5, 1);
        ASSERT_TRUE(up && down);
        EXPECT_EQ(blueOfRow(up.get()), (std::vector<uint8_t>{0, 25, 50, 75, 100})) << mode;
        EXPECT_EQ(blueOfRow(down.get()), (std::vector<uint8_t>{100, 75, 50, 25, 1})) << mode;
        EXPECT_EQ(bgr(up.get(), 2, 0), (Bgr{50, 40, 200})) << mode;
    }
    // Mode 3 takes the nearest column: x * 2 / 5.
    Picture nearest = stretch(rising.get(), 3, 5, 1);
    ASSERT_NE(nearest, nullptr);
    EXPECT_EQ(blueOfRow(nearest.get()), (std::vector<uint8_t>{0, 0, 0, 100, 100}));

    // Vertically modes 3 and 4 interpolate and mode 2 takes the nearest row.
    Picture column = blueColumn({100, 1});
    for (int32_t mode : {3, 4}) {
        Picture tall = stretch(column.get(), mode, 1, 5);
        ASSERT_NE(tall, nullptr);
        EXPECT_EQ(blueOfColumn(tall.get()), (std::vector<uint8_t>{100, 75, 50, 25, 1})) << mode;
    }
    Picture tall = stretch(column.get(), 2, 1, 5);
    ASSERT_NE(tall, nullptr);
    EXPECT_EQ(blueOfColumn(tall.get()), (std::vector<uint8_t>{100, 100, 100, 1, 1}));
}

TEST(Stretch, EnlargedGradientIsMonotoneAndEndsWithTheLastColumn)
{
    Picture source = makePicture(16, 3);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 16; ++x)
            setBgr(source.get(), x, y, Bgr{uint8_t(x * 17), uint8_t(50 + y), uint8_t(250 - x * 13)});
    Picture result = stretch(source.get(), 4, 101, 3);
    ASSERT_NE(result, nullptr);
    for (int32_t y = 0; y < 3; ++y) {
        EXPECT_EQ(bgr(result.get(), 0, y), bgr(source.get(), 0, y));
        EXPECT_EQ(bgr(result.get(), 100, y), bgr(source.get(), 15, y));
        for (int32_t x = 1; x < 101; ++x) {
            const Bgr left = bgr(result.get(), x - 1, y), here = bgr(result.get(), x, y);
            ASSERT_LE(left[0], here[0]) << x;
            ASSERT_EQ(here[1], 50 + y) << x;
            ASSERT_GE(left[2], here[2]) << x;
        }
    }
}

// Four by two to two by three: the horizontal pass halves each row into an intermediate
// picture, the vertical pass enlarges it (position of the middle row = 512).
TEST(Stretch, ReductionAndEnlargementCombine)
{
    Picture source = makePicture(4, 2);
    const uint8_t rows[2][4] = {{0, 100, 200, 50}, {100, 120, 30, 30}};
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 4; ++x)
            setBgr(source.get(), x, y, Bgr{rows[y][x], 40, 200});

    struct
    {
        int32_t mode;
        uint8_t expected[3][2];
    } cases[] = {
        // Halved rows: {50, 125} and {110, 30}; middle 50 + (512 * 60 >> 10) = 80 and
        // 125 + (512 * -95 >> 10) = 125 - 48 = 77.
        {4, {{50, 125}, {80, 77}, {110, 30}}},
        // Nearest rows (y * 2 / 3 = 0, 0, 1).
        {2, {{50, 125}, {50, 125}, {110, 30}}},
        // Nearest columns 0 and 2, then interpolated rows.
        {3, {{0, 200}, {50, 115}, {100, 30}}},
    };
    for (const auto& c : cases) {
        Picture result = stretch(source.get(), c.mode, 2, 3);
        ASSERT_NE(result, nullptr);
        for (int32_t y = 0; y < 3; ++y)
            EXPECT_EQ(blueOfRow(result.get(), y), (std::vector<uint8_t>{c.expected[y][0], c.expected[y][1]}))
                << "mode " << c.mode << " row " << y;
        EXPECT_EQ(bgr(result.get(), 1, 2), (Bgr{c.expected[2][1], 40, 200}));
    }
}

// ---- all modes -------------------------------------------------------------------------------

TEST(Stretch, UniformPicturesStayUniform)
{
    struct
    {
        int32_t w, h;
        bool exact; // no reduction by a ratio other than a whole number
    } targets[] = {
        {32, 24, true},  // halved
        {16, 12, true},  // quartered
        {100, 77, true}, // enlarged
        {128, 96, true}, // doubled (not in mode 5)
        {30, 96, false}, // narrower and taller
        {45, 31, false}, // reduced by fractions
        {1, 1, true},
    };
    for (const Bgr value : {Bgr{37, 150, 255}, Bgr{255, 255, 255}, Bgr{0, 0, 0}}) {
        Picture source = makePicture(64, 48);
        fillBgr(source.get(), value);
        for (int32_t mode = 1; mode <= 5; ++mode) {
            for (const auto& t : targets) {
                if (mode == 5 && t.w == 128 && t.h == 96)
                    continue;
                Picture result = stretch(source.get(), mode, t.w, t.h);
                ASSERT_NE(result, nullptr);
                // Area averaging truncates each partial pixel on its own, so a reduction by a
                // fraction may come out darker, by at most 2 per pass, and never brighter.
                const int tolerance = (t.exact || mode == 1) ? 0 : 4;
                for (int32_t y = 0; y < t.h; ++y)
                    for (int32_t x = 0; x < t.w; ++x)
                        for (int c = 0; c < 3; ++c) {
                            const int got = bgr(result.get(), x, y)[c];
                            ASSERT_LE(got, value[c]) << "mode " << mode << " " << t.w << "x" << t.h;
                            ASSERT_GE(got, value[c] - tolerance)
                                << "mode " << mode << " " << t.w << "x" << t.h << " at " << x << "," << y;
                        }
            }
        }
    }

    Picture words = makePicture(20, 10, 16);
    for (int32_t y = 0; y < 10; ++y)
        for (int32_t x = 0; x < 20; ++x)
            setWord(words.get(), x, y, 0x4210);
    for (int32_t mode = 1; mode <= 5; ++mode) {
        Picture result = stretch(words.get(), mode, 33, 7);
        ASSERT_NE(result, nullptr);
        for (int32_t y = 0; y < 7; ++y)
            for (int32_t x = 0; x < 33; ++x)
                ASSERT_EQ(word(result.get(), x, y), 0x4210) << mode;
    }
}

// Positions of the widest pictures exceed 32 bits (4095 * 4096 * 256).
TEST(Stretch, WidestPicturesScaleWithoutOverflow)
{
    Picture source = makePicture(LBR_MAX_PICTURE_SIDE, 2);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < LBR_MAX_PICTURE_SIDE; ++x)
            setBgr(source.get(), x, y, Bgr{uint8_t(x * 255 / (LBR_MAX_PICTURE_SIDE - 1)), 9, 9});

    for (int32_t width : {LBR_MAX_PICTURE_SIDE - 1, 3001}) {
        Picture narrower = stretch(source.get(), 4, width, 2);
        ASSERT_NE(narrower, nullptr);
        const std::vector<uint8_t> blue = blueOfRow(narrower.get(), 1);
        for (int32_t x = 0; x < width; ++x) {
            const int ideal =
                int(int64_t(x) * LBR_MAX_PICTURE_SIDE / width) * 255 / (LBR_MAX_PICTURE_SIDE - 1);
            ASSERT_NEAR(blue[size_t(x)], ideal, 2) << width << " at " << x;
        }
    }

    // Enlarging by one column: x * 4094 * 1024 also exceeds 32 bits.
    const int32_t side = LBR_MAX_PICTURE_SIDE - 1;
    Picture narrow = makePicture(side, 1);
    for (int32_t x = 0; x < side; ++x)
        setBgr(narrow.get(), x, 0, Bgr{uint8_t(x * 255 / (side - 1)), 9, 9});
    Picture wide = stretch(narrow.get(), 4, LBR_MAX_PICTURE_SIDE, 1);
    ASSERT_NE(wide, nullptr);
    const std::vector<uint8_t> blue = blueOfRow(wide.get());
    EXPECT_EQ(blue.front(), 0);
    EXPECT_EQ(blue.back(), 255);
    for (size_t x = 1; x < blue.size(); ++x) {
        ASSERT_LE(blue[x - 1], blue[x]) << x;
        ASSERT_LE(blue[x] - blue[x - 1], 1) << x;
    }
}

} // namespace
