// The line splitter, size and tooltip texts, and the string tables with their language rule.
#include <gtest/gtest.h>

#include <cctype>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "../support/scripted_port.h"
#include "strings/string_table.h"
#include "support_env_home.h"
#include "tamlib/environment.h"
#include "tamlib/strings.h"
#include "tamlib/ui_port.h"

namespace {

using tamlib::test::ScopedVariable;

std::vector<std::string> split(std::string line, int32_t capacity = 8)
{
    line.reserve(line.size() + 1);
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    std::vector<char*> args(size_t(std::max(capacity, 1)), nullptr);
    const int32_t count = PlbGetParam(buffer.data(), capacity, args.data());
    std::vector<std::string> tokens;
    for (int32_t i = 0; i < count; ++i) {
        // Every argument lies inside the buffer the line was given in.
        EXPECT_GE(args[size_t(i)], buffer.data());
        EXPECT_LT(args[size_t(i)], buffer.data() + buffer.size());
        tokens.emplace_back(args[size_t(i)]);
    }
    return tokens;
}

using Tokens = std::vector<std::string>;

TEST(GetParam, SplitsAtBlanksTabsLineEndsAndTheIdeographicSpace)
{
    EXPECT_EQ(split("COLOR 1\t-2  3\r\n"), (Tokens{"COLOR", "1", "-2", "3"}));
    EXPECT_EQ(split("a\xE3\x80\x80"
                    "b"),
              (Tokens{"a", "b"}));
    EXPECT_EQ(split("   \t \r\n"), Tokens{});
    EXPECT_EQ(split(""), Tokens{});
    // Bytes that only begin a UTF-8 ideographic space do not separate.
    EXPECT_EQ(split("a\xE3\x80z b"), (Tokens{"a\xE3\x80z", "b"}));
}

TEST(GetParam, QuotedPathWithBlanksIsOneArgumentWithoutQuotes)
{
    EXPECT_EQ(split("open \"/home/user/My Movies/intro one.str\" now"),
              (Tokens{"open", "/home/user/My Movies/intro one.str", "now"}));
    EXPECT_EQ(split("DRIVE \"\" \"\" \"\" -1"), (Tokens{"DRIVE", "", "", "", "-1"}));
    EXPECT_EQ(split("ab\"c d\"e f"), (Tokens{"abc de", "f"}));
    // An open quote runs to the end of the line.
    EXPECT_EQ(split("x \"a b"), (Tokens{"x", "a b"}));
    // A quoted ideographic space is kept.
    EXPECT_EQ(split("\"a\xE3\x80\x80"
                    "b\""),
              (Tokens{"a\xE3\x80\x80"
                      "b"}));
}

TEST(GetParam, CommentsAndCapacity)
{
    EXPECT_EQ(split("PLUGIN \"A.PSR\" USE // switched on"), (Tokens{"PLUGIN", "A.PSR", "USE"}));
    EXPECT_EQ(split("// whole line"), Tokens{});
    // The first "//" cuts, even inside quotes.
    EXPECT_EQ(split("get \"http://example.org/x\""), (Tokens{"get", "http:"}));
    EXPECT_EQ(split("a b c d e", 3), (Tokens{"a", "b", "c"}));
    EXPECT_EQ(split("a b", 0), Tokens{});
    char* args[2];
    EXPECT_EQ(PlbGetParam(nullptr, 2, args), 0);
}

std::string sizeText(uint32_t bytes)
{
    char text[32];
    EXPECT_GT(PlbFormatSizeText(bytes, text, sizeof text), 0);
    return text;
}

TEST(SizeText, MegabytesKilobytesAndBytesWithTruncatedTenths)
{
    EXPECT_EQ(sizeText(1572864), "1.5MB");
    EXPECT_EQ(sizeText(1536), "1.5KB");
    EXPECT_EQ(sizeText(1023), "1023Byte");
    EXPECT_EQ(sizeText(0), "0Byte");
    EXPECT_EQ(sizeText(0xFFFFF), "1023.9KB");
    EXPECT_EQ(sizeText(0x100000), "1.0MB");
    EXPECT_EQ(sizeText(1024 + 1023), "1.9KB");
    EXPECT_EQ(sizeText(0xFFFFFFFFu), "4095.9MB");
    char small[4];
    EXPECT_EQ(PlbFormatSizeText(1572864, small, sizeof small), -1);
    EXPECT_STREQ(small, "");
    EXPECT_EQ(PlbFormatSizeText(1, nullptr, 8), -1);
}

TEST(SizeText, ItemTextsGoThroughThePort)
{
    tamlib::ScriptedPort port;
    tamlib::ScopedUiPort installed(port);
    int dialog = 0;
    EXPECT_EQ(PlbSetItemSizeText(&dialog, 1001, 1536), 1);
    EXPECT_EQ(PlbSetItemText(&dialog, 1002, "%d of %s", 3, "four"), 1);
    const auto texts = port.itemTexts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].dialog, &dialog);
    EXPECT_EQ(texts[0].item, 1001);
    EXPECT_EQ(texts[0].text, "1.5KB");
    EXPECT_EQ(texts[1].item, 1002);
    EXPECT_EQ(texts[1].text, "3 of four");
}

std::string tooltip(const std::string& menu)
{
    std::vector<char> buffer(menu.begin(), menu.end());
    buffer.resize(menu.size() + 3, '\0');
    return PlbTooltipText(buffer.data());
}

TEST(TooltipText, MenuTextsBecomeTooltips)
{
    EXPECT_EQ(tooltip("Open and Analyze CD-&ROM\tCtrl+R"), "Open and Analyze CD-ROM (Ctrl+R)");
    EXPECT_EQ(tooltip("&Exit"), "Exit");
    EXPECT_EQ(tooltip("Save(&S)\tCtrl+S"), "Save (Ctrl+S)");
    // Only the first ampersand and the first parenthesised part go.
    EXPECT_EQ(tooltip("A&&B (x) (y)"), "A&B  (y)");
    EXPECT_EQ(tooltip("Plain"), "Plain");
    EXPECT_EQ(tooltip("Unclosed (part"), "Unclosed (part");
    EXPECT_EQ(tooltip(""), "");
    EXPECT_EQ(PlbTooltipText(nullptr), nullptr);
}

TEST(Language, LocaleVariablesInTheirOrder)
{
    using tamlib::Language;
    using tamlib::languageOfLocale;
    EXPECT_EQ(languageOfLocale(nullptr, nullptr, "ja_JP.UTF-8"), Language::Japanese);
    EXPECT_EQ(languageOfLocale(nullptr, nullptr, "en_US.UTF-8"), Language::English);
    EXPECT_EQ(languageOfLocale("C", nullptr, "ja_JP.UTF-8"), Language::English);
    EXPECT_EQ(languageOfLocale("", "ja_JP.eucJP", "en_US.UTF-8"), Language::Japanese);
    EXPECT_EQ(languageOfLocale(nullptr, "Japanese_Japan.932", nullptr), Language::Japanese);
    EXPECT_EQ(languageOfLocale(nullptr, nullptr, "jpn"), Language::Japanese);
    EXPECT_EQ(languageOfLocale(nullptr, nullptr, nullptr), Language::English);
    EXPECT_EQ(languageOfLocale(nullptr, nullptr, "j"), Language::English);

    ScopedVariable all("LC_ALL", nullptr);
    ScopedVariable ctype("LC_CTYPE", nullptr);
    {
        ScopedVariable lang("LANG", "ja_JP.UTF-8");
        EXPECT_EQ(PlbGetLanguage(), 1);
    }
    ScopedVariable lang("LANG", "de_DE.UTF-8");
    EXPECT_EQ(PlbGetLanguage(), 0);
}

TEST(StringTables, BothLanguagesHaveTheSameIdsEachOnce)
{
    std::set<uint32_t> english, japanese;
    for (const auto& entry : tamlib::englishStrings()) {
        EXPECT_TRUE(english.insert(entry.id).second) << entry.id;
        EXPECT_GT(std::strlen(entry.text), 0u) << entry.id;
        EXPECT_LT(std::strlen(entry.text), size_t(PLB_STRING_MAX)) << entry.id;
    }
    for (const auto& entry : tamlib::japaneseStrings()) {
        EXPECT_TRUE(japanese.insert(entry.id).second) << entry.id;
        EXPECT_GT(std::strlen(entry.text), 0u) << entry.id;
    }
    EXPECT_EQ(english, japanese);
    // Every id the library's own code asks for is in the table.
    for (uint32_t id :
         {31u, 32u, 33u, 34u, 22u, 23u, 10000u, 10012u, 10015u, 10017u, 20011u, 20019u, 20065u, 20067u,
          21002u, 21016u, uint32_t(PLB_IDS_CHOOSE_DRIVE), uint32_t(PLB_IDS_CD_UNUSABLE)})
        EXPECT_TRUE(english.count(id)) << id;
}

// The printf conversions of a text, in order ("%%" is none): a translation that changes them would
// read the wrong arguments.
std::string conversions(const char* text)
{
    std::string found;
    for (const char* c = text; *c; ++c) {
        if (*c != '%')
            continue;
        std::string one = "%";
        while (*++c && !std::isalpha(static_cast<unsigned char>(*c)) && *c != '%')
            one += *c;
        if (!*c)
            break;
        if (*c != '%')
            found += one + *c;
    }
    return found;
}

TEST(StringTables, TranslationsTakeTheSameArguments)
{
    for (const auto& english : tamlib::englishStrings()) {
        const std::string_view japanese = tamlib::lookupString(tamlib::Language::Japanese, english.id);
        EXPECT_EQ(conversions(english.text), conversions(std::string(japanese).c_str())) << english.id;
    }
    // The analysis' own texts: every id it shows is in the table.
    for (uint32_t id = PLB_IDS_ANA_ADOPT_CAPTION; id <= PLB_IDS_ANA_REMAINING_MINUTES; ++id)
        EXPECT_FALSE(tamlib::lookupString(tamlib::Language::English, id).empty()) << id;
    EXPECT_EQ(conversions("%d of %02u: 100%%"), "%d%02u");
}

TEST(StringTables, LoadStringFollowsTheLanguage)
{
    ScopedVariable all("LC_ALL", nullptr);
    ScopedVariable ctype("LC_CTYPE", nullptr);
    char buffer[PLB_STRING_MAX];
    {
        ScopedVariable lang("LANG", "en_GB.UTF-8");
        EXPECT_STREQ(PlbLoadString(nullptr, buffer, PLB_IDS_ERROR), "ERROR");
        EXPECT_STREQ(PlbLoadString(nullptr, nullptr, PLB_IDS_QUESTION), "QUESTION");
        EXPECT_STREQ(PlbLoadString(PlbGetModule(), buffer, PLB_IDS_AVI_VIDEO), "Video");
        EXPECT_STREQ(PlbLoadString(nullptr, buffer, PLB_IDS_CD_STATUS_1 + 1),
                     "The SCSI generic driver does not offer the SG_IO interface.\n");
    }
    {
        ScopedVariable lang("LANG", "ja_JP.UTF-8");
        EXPECT_STREQ(PlbLoadString(nullptr, buffer, PLB_IDS_ERROR), "エラー");
        EXPECT_STREQ(PlbLoadString(nullptr, buffer, PLB_IDS_BUTTON_YES), "はい");
    }
    // Missing ids and foreign modules give an empty text.
    strcpy(buffer, "old");
    EXPECT_STREQ(PlbLoadString(nullptr, buffer, 9999), "");
    int other = 0;
    strcpy(buffer, "old");
    EXPECT_STREQ(PlbLoadString(&other, buffer, PLB_IDS_ERROR), "");
}

} // namespace
