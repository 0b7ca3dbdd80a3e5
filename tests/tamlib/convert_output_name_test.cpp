// The output names conversions get when the user chose none, and the numbered names that keep
// the outputs of one batch apart.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tamlib/convert.h"

namespace {

TEST(OutputName, DefaultNamesOfEveryType)
{
    struct Case
    {
        const char* title;
        const char* source;
        int32_t type;
        uint16_t mp3Format;
        const char* folder;
        const char* expected; // "" when no name is made
    };
    const Case cases[] = {
        {"Opening", "/cd/MOVIE/OPEN.STR", PLB_CONV_TYPE_AVI, 0, "/out/Movie", "/out/Movie/Opening.avi"},
        {"Opening", nullptr, PLB_CONV_TYPE_WAVE, 0, "/out/Audio/", "/out/Audio/Opening.wav"},
        {"", "/cd/MOVIE/OPEN.STR", PLB_CONV_TYPE_CSTR, 0, "/out/Movie", "/out/Movie/OPEN.cstr"},
        {nullptr, "/cd/STILL/TITLE.TIM", PLB_CONV_TYPE_BMP, 0, "/out/Bitmap", "/out/Bitmap/TITLE.bmp"},
        {nullptr, "song.seq", PLB_CONV_TYPE_MIDI, 0, "/out/Audio", "/out/Audio/song.mid"},
        {"Theme", nullptr, PLB_CONV_TYPE_MP3, 0, "/m", "/m/Theme.mp3"},
        {"Theme", nullptr, PLB_CONV_TYPE_MP3, 1, "/m", "/m/Theme.wav"},
        {"Theme", nullptr, PLB_CONV_TYPE_MP3, 2, "/m", "/m/Theme.rmp"},
        {"Theme", nullptr, PLB_CONV_TYPE_MIDI, 2, "/m", "/m/Theme.mid"},
        {"Theme", nullptr, PLB_CONV_TYPE_WAVE, 0, "", "Theme.wav"},
        {"Theme", nullptr, PLB_CONV_TYPE_WAVE, 0, nullptr, "Theme.wav"},
        // Only the last extension of the file's name goes; leading dots (a hidden file) go too.
        {nullptr, "/cd/a.b/movie.v2.str", PLB_CONV_TYPE_AVI, 0, "/o", "/o/movie.v2.avi"},
        {nullptr, "/cd/.hidden", PLB_CONV_TYPE_AVI, 0, "/o", "/o/hidden.avi"},
        // Every character of \ / : , ; * < > | ? " and every control character becomes an
        // underscore, others stay; leading dots and blanks go.
        {"a\\b/c:d,e;f*g<h>i|j?k\"l", nullptr, PLB_CONV_TYPE_AVI, 0, "/o", "/o/a_b_c_d_e_f_g_h_i_j_k_l.avi"},
        {"../up", nullptr, PLB_CONV_TYPE_BMP, 0, "/o", "/o/_up.bmp"},
        {"Line\nbreak\x7F", nullptr, PLB_CONV_TYPE_WAVE, 0, "/o", "/o/Line_break_.wav"},
        {" .. ", nullptr, PLB_CONV_TYPE_WAVE, 0, "/o", ""},
        {"Sc\xC3\xA8ne \xE5\x8B\x95\xE7\x94\xBB", nullptr, PLB_CONV_TYPE_AVI, 0, "/o",
         "/o/Sc\xC3\xA8ne \xE5\x8B\x95\xE7\x94\xBB.avi"},
        // No name without a title or a file name, nor for an unknown type.
        {nullptr, nullptr, PLB_CONV_TYPE_AVI, 0, "/o", ""},
        {"", "/cd/", PLB_CONV_TYPE_AVI, 0, "/o", ""},
        {"Theme", nullptr, 6, 0, "/o", ""},
        {"Theme", nullptr, -1, 0, "/o", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        char out[PLB_PATH_BYTES];
        std::memset(out, 'x', sizeof out);
        const int32_t length =
            PlbDefaultOutputName(c.title, c.source, c.type, c.mp3Format, c.folder, out, sizeof out);
        EXPECT_EQ(std::string(out), c.expected);
        EXPECT_EQ(length, int32_t(std::strlen(c.expected)));
    }
}

TEST(OutputName, NamesThatDoNotFitAreNotCut)
{
    const std::string expected = "/o/Theme.wav"; // 12 characters
    char out[32];
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(PlbDefaultOutputName("Theme", nullptr, PLB_CONV_TYPE_WAVE, 0, "/o", out, 13), 12);
    EXPECT_EQ(std::string(out), expected);
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(PlbDefaultOutputName("Theme", nullptr, PLB_CONV_TYPE_WAVE, 0, "/o", out, 12), 0);
    EXPECT_EQ(out[0], '\0') << "an empty name, not a cut one";
    EXPECT_EQ(out[1], 'x') << "nothing written past the room given";
    EXPECT_EQ(PlbDefaultOutputName("Theme", nullptr, PLB_CONV_TYPE_WAVE, 0, "/o", nullptr, 32), 0);
    EXPECT_EQ(PlbDefaultOutputName("Theme", nullptr, PLB_CONV_TYPE_WAVE, 0, "/o", out, 0), 0);
}

TEST(OutputName, NumberedNames)
{
    struct Case
    {
        const char* path;
        uint32_t number;
        const char* expected;
    };
    const Case cases[] = {
        {"/o/Theme.wav", 2, "/o/Theme (2).wav"},
        {"/o/Theme.wav", 10, "/o/Theme (10).wav"},
        {"/o/Theme.wav", 1, "/o/Theme.wav"},
        {"/o/Theme.wav", 0, "/o/Theme.wav"},
        {"/o/movie.v2.avi", 3, "/o/movie.v2 (3).avi"},
        {"/o.d/Theme", 2, "/o.d/Theme (2)"},
        {"/o/.hidden", 2, "/o/.hidden (2)"},
        {"Theme.mid", 4294967295u, "Theme (4294967295).mid"},
        {"", 2, ""},
        {nullptr, 2, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        char out[PLB_PATH_BYTES];
        const int32_t length = PlbNumberedOutputName(c.path, c.number, out, sizeof out);
        EXPECT_EQ(std::string(out), c.expected);
        EXPECT_EQ(length, int32_t(std::strlen(c.expected)));
    }
    char small[16];
    EXPECT_EQ(PlbNumberedOutputName("/o/Theme.wav", 2, small, sizeof small), 0) << "16 characters and the 0";
    EXPECT_EQ(small[0], '\0');
}

} // namespace
