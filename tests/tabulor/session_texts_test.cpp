// The texts of the list columns and the detail panel in both languages, and the window settings
// file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>

#include "cdaz_session.h"
#include "cli/cli_runner.h"
#include "scratch_folder.h"
#include "session_fixture.h"
#include "session_texts.h"

namespace {

namespace fs = std::filesystem;
using namespace tabulor;
using tabulortest::Locale;

TEST(SessionTexts, ListAndStatusColumns)
{
    Locale english("en_US.UTF-8");
    const struct
    {
        int32_t flags;
        const char* list;
        const char* status;
    } cases[] = {
        {0x00, "Show", "Normal"},        {0x01, "Hidden", "Normal"},      {0x07, "Hidden", "Normal"},
        {0x06, "Show", "Normal"},        {0x10, "Show", "No plug-in"},    {0xF0, "Show", "No plug-in"},
        {0x20, "Show", "Old plug-in"},   {0xE0, "Show", "Old plug-in"},   {0x40, "Show", "Duplication"},
        {0xC1, "Hidden", "Duplication"}, {0x80, "Show", "Un-supporting"}, {0x08, "Show", "Unknown"},
        {0x109, "Hidden", "Unknown"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(listText(c.flags), c.list) << std::hex << c.flags;
        EXPECT_EQ(statusText(c.flags), c.status) << std::hex << c.flags;
    }
    EXPECT_EQ(displayText(0x41), "OFF");
    EXPECT_EQ(displayText(0x40), "ON");
}

TEST(SessionTexts, TimesRatesVersionsAndCounts)
{
    Locale english("C");
    const struct
    {
        uint32_t ms;
        const char* column;
        const char* detail;
    } times[] = {
        {0, "0:00", "00.000秒"},
        {3040, "0:03", "03.040秒"},
        {59999, "0:59", "59.999秒"},
        {60000, "1:00", "1分00.000秒"},
        {61005, "1:01", "1分01.005秒"},
        {3600000, "60:00", "60分00.000秒"},
        {0xFFFFFFFFu, "71582:47", "71582分47.295秒"},
    };
    for (const auto& t : times) {
        EXPECT_EQ(timeText(t.ms), t.column) << t.ms;
        EXPECT_EQ(detailTimeText(t.ms), t.detail) << t.ms;
    }
    const struct
    {
        uint32_t rate;
        const char* text;
    } rates[] = {{0, "0 fps"},    {150, "15 fps"},   {149, "14.9 fps"},   {799, "79.9 fps"},
                 {800, "80 fps"}, {801, "8.01 fps"}, {2997, "29.97 fps"}, {6000, "60.00 fps"}};
    for (const auto& r : rates)
        EXPECT_EQ(frameRateText(r.rate), r.text) << r.rate;
    EXPECT_EQ(versionText(142), "1.42");
    EXPECT_EQ(versionText(100), "1.00");
    EXPECT_EQ(versionText(5), "0.05");
    EXPECT_EQ(versionText(-1), "");
    EXPECT_EQ(detectionText(6, 4), "6(4)");
    EXPECT_EQ(frameSizeText(320, 240), "320 × 240");
    EXPECT_EQ(bitsText(16), "16 bit");
    EXPECT_EQ(hertzText(37800), "37800 Hz");
}

TEST(SessionTexts, StreamTypes)
{
    Locale english("C");
    const struct
    {
        uint16_t kind;
        const char* english;
        const char* japanese;
    } kinds[] = {
        {StrVideo, "MOVIE", "ムービー"},
        {StrVideo | StrAudio, "MOVIE+AUDIO", "ムービー+オーディオ"},
        {StrVideo | StrTimed, "MOVIE[Variable]", "ムービー[可変]"},
        {StrVideo | StrAudio | StrTimed, "MOVIE+AUDIO[Variable]", "ムービー+オーディオ[可変]"},
        {StrAudio, "AUDIO", "オーディオ"},
        {StrStill, "BITMAP", "ビットマップ"},
        {StrMusic, "SEQUENCE", "シーケンス"},
        {0, "", ""},
    };
    for (const auto& k : kinds) {
        StrInfo info{};
        info.kind = k.kind;
        EXPECT_EQ(typeText(info), k.english) << k.kind;
        Locale japanese("ja_JP.UTF-8");
        EXPECT_EQ(typeText(info), k.japanese) << k.kind;
    }
}

TEST(SessionTexts, JapaneseFollowsTheLocaleWithTheSamePlaceholders)
{
    {
        Locale japanese("ja_JP.UTF-8");
        EXPECT_EQ(statusText(0x40), "重複");
        EXPECT_EQ(listText(1), "非表示");
        EXPECT_EQ(&sessionTexts(), &japaneseTexts());
    }
    {
        Locale english("en_GB.UTF-8");
        EXPECT_EQ(&sessionTexts(), &englishTexts());
    }
    // Every text fills the same values in the same order in both languages.
    const auto placeholders = [](const char* text) {
        std::string found;
        for (const char* p = text; *p; ++p)
            if (*p == '%' && p[1]) {
                ++p;
                if (*p != '%')
                    found += *p == 's' ? 's' : 'd';
                while (*p && !std::strchr("sd%", *p))
                    ++p;
            }
        return found;
    };
    const char* const* english = reinterpret_cast<const char* const*>(&englishTexts());
    const char* const* japanese = reinterpret_cast<const char* const*>(&japaneseTexts());
    static_assert(sizeof(SessionTexts) % sizeof(const char*) == 0);
    for (size_t i = 0; i < sizeof(SessionTexts) / sizeof(const char*); ++i) {
        ASSERT_TRUE(english[i] && japanese[i]) << i;
        EXPECT_NE(std::strlen(japanese[i]), 0u) << i;
        EXPECT_EQ(placeholders(english[i]), placeholders(japanese[i])) << english[i] << " / " << japanese[i];
    }
}

TEST(SessionTexts, FormatTextNeverReadsValuesAsPatterns)
{
    EXPECT_EQ(formatText("May I delete a CDAZ file : %s(%s)?", {"a%s.cdaz", "100%"}),
              "May I delete a CDAZ file : a%s.cdaz(100%)?");
    EXPECT_EQ(formatText("%s and %s", {"one"}), "one and ");
    EXPECT_EQ(formatText("50%% of '%s'", {"x"}), "50% of 'x'");
    EXPECT_EQ(formatText("trailing %", {}), "trailing %");
}

class WindowSettingsFile : public testing::Test
{
  protected:
    testsupport::ScratchFolder m_folder{"tabulor-settings"};
    std::string path() const { return (m_folder.path() / "Tabulor.ini").string(); }
};

void expectDefaults(const WindowSettings& settings)
{
    const WindowSettings defaults;
    EXPECT_FALSE(settings.placed);
    EXPECT_EQ(settings.detailWidth, 0);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(settings.columns[i], defaults.columns[i]) << i;
    EXPECT_EQ(defaults.columns[0], 140);
    EXPECT_EQ(defaults.columns[4], 120);
}

TEST_F(WindowSettingsFile, RoundTripOf344Bytes)
{
    WindowSettings settings;
    settings.placed = true;
    settings.left = -20;
    settings.top = 35;
    settings.width = 1024;
    settings.height = 700;
    settings.detailWidth = 260;
    for (int i = 0; i < 7; ++i)
        settings.columns[i] = 30 + 11 * i;
    ASSERT_TRUE(writeWindowSettings(path(), settings));
    EXPECT_EQ(fs::file_size(path()), kWindowSettingsSize);
    const WindowSettings read = readWindowSettings(path());
    EXPECT_TRUE(read.placed);
    EXPECT_EQ(read.left, -20);
    EXPECT_EQ(read.top, 35);
    EXPECT_EQ(read.width, 1024);
    EXPECT_EQ(read.height, 700);
    EXPECT_EQ(read.detailWidth, 260);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(read.columns[i], 30 + 11 * i) << i;

    // Not placed: the rectangle is not kept, the widths are.
    settings.placed = false;
    ASSERT_TRUE(writeWindowSettings(path(), settings));
    const WindowSettings unplaced = readWindowSettings(path());
    EXPECT_FALSE(unplaced.placed);
    EXPECT_EQ(unplaced.detailWidth, 260);
}

TEST_F(WindowSettingsFile, AnyOtherSizeOrMissingFileGivesTheDefaults)
{
    WindowSettings settings;
    settings.placed = true;
    settings.width = settings.height = 500;
    settings.detailWidth = 99;
    settings.columns[0] = 77;
    ASSERT_TRUE(writeWindowSettings(path(), settings));
    const std::string whole = clitest::readFile(path());
    ASSERT_EQ(whole.size(), kWindowSettingsSize);
    for (const std::string& bytes : {whole.substr(0, 343), whole + '\0', std::string()}) {
        clitest::writeFile(path(), bytes);
        SCOPED_TRACE(bytes.size());
        expectDefaults(readWindowSettings(path()));
    }
    fs::remove(path());
    expectDefaults(readWindowSettings(path()));
    expectDefaults(readWindowSettings(m_folder.path().string()));
    expectDefaults(readWindowSettings(""));
}

TEST_F(WindowSettingsFile, ValuesOutOfRangeFallBackFieldByField)
{
    std::string bytes(kWindowSettingsSize, '\0');
    const auto put = [&](size_t offset, int32_t value) {
        for (size_t i = 0; i < 4; ++i)
            bytes[offset + i] = char(uint32_t(value) >> (8 * i));
    };
    put(0x00, 1);
    put(0x04, 10);
    put(0x08, 10);
    put(0x0C, -5); // no width: the system places the window
    put(0x10, 300);
    put(0x14, -1);
    put(0x18, 90);
    put(0x1C, 0);
    put(0x20, 2000000000);
    clitest::writeFile(path(), bytes);
    const WindowSettings read = readWindowSettings(path());
    const WindowSettings defaults;
    EXPECT_FALSE(read.placed);
    EXPECT_EQ(read.detailWidth, 0);
    EXPECT_EQ(read.columns[0], 90);
    EXPECT_EQ(read.columns[1], defaults.columns[1]);
    EXPECT_EQ(read.columns[2], defaults.columns[2]);
    EXPECT_EQ(read.columns[3], defaults.columns[3]);
}

TEST_F(WindowSettingsFile, PathIsInTheConfigurationFolder)
{
    const char* old = std::getenv("TAMRIN_HOME");
    const std::optional<std::string> previous = old ? std::optional<std::string>(old) : std::nullopt;
    ::setenv("TAMRIN_HOME", m_folder.path().c_str(), 1);
    EXPECT_EQ(windowSettingsPath(), path());
    WindowSettings settings;
    settings.detailWidth = 5;
    EXPECT_TRUE(writeWindowSettings(windowSettingsPath(), settings));
    EXPECT_EQ(readWindowSettings(path()).detailWidth, 5);
    if (previous)
        ::setenv("TAMRIN_HOME", previous->c_str(), 1);
    else
        ::unsetenv("TAMRIN_HOME");
}

} // namespace
