// The settings file: its keywords, bad and out-of-range values, writing and reading back, and
// the atomic replacement of the file.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "env/settings.h"
#include "support_env_home.h"

namespace {

using namespace tamlib;
using tamlib::test::readText;
using tamlib::test::TempHome;
using tamlib::test::writeText;

TEST(SettingsParse, EveryKeyword)
{
    const Settings s = parseSettings("VERSION \"1\"\n"
                                     "DRIVE \"TAMRIN\" \"DISC IMAGE\" \"1.00\" 3\n"
                                     "PLUGIN \"DISCMOVIE.PSR\" USE\n"
                                     "PLUGIN \"Old Plugin.psr\" NOUSE\n"
                                     "COLOR -5 10 -128 250\n"
                                     "CDAZANALYZE 1 2 0\n");
    EXPECT_EQ(s.drive, 3);
    EXPECT_EQ(s.vendor, "TAMRIN");
    EXPECT_EQ(s.product, "DISC IMAGE");
    EXPECT_EQ(s.revision, "1.00");
    ASSERT_EQ(s.plugins.size(), 2u);
    EXPECT_EQ(s.plugins[0], (StoredPlugin{"DISCMOVIE.PSR", false}));
    EXPECT_EQ(s.plugins[1], (StoredPlugin{"Old Plugin.psr", true}));
    EXPECT_EQ(s.luminosity, -5);
    EXPECT_EQ(s.blue, 10);
    EXPECT_EQ(s.red, -128);
    EXPECT_EQ(s.gamma, 250);
    EXPECT_EQ(s.localMode, 1);
    EXPECT_EQ(s.serverMode, 2);
    EXPECT_EQ(s.uploadMode, 0);
}

TEST(SettingsParse, EmptyOrForeignTextGivesDefaults)
{
    const Settings defaults;
    EXPECT_EQ(defaults.drive, -1);
    EXPECT_EQ(defaults.gamma, 100);
    EXPECT_EQ(parseSettings(""), defaults);
    EXPECT_EQ(parseSettings("\n\n// only a comment\n   \r\n"), defaults);
    EXPECT_EQ(parseSettings("color 1 2 3 4\nDrive \"a\" \"b\" \"c\" 1\nNOTHING 5\n"), defaults);
    EXPECT_EQ(parseSettings(std::string("\0\0\xFF\xFE garbage\x01\n", 14)), defaults);
}

TEST(SettingsParse, VersionOtherThanOneEndsTheReading)
{
    Settings s = parseSettings("COLOR 1 2 3 4\nVERSION 2\nCOLOR 9 9 9 9\n");
    EXPECT_EQ(s.luminosity, 1);
    EXPECT_EQ(s.gamma, 4);
    s = parseSettings("COLOR 1 2 3 4\nVERSION\nCDAZANALYZE 1 1 1\n");
    EXPECT_EQ(s.localMode, 0);
    s = parseSettings("VERSION one\nCOLOR 1\n");
    EXPECT_EQ(s.luminosity, 0);
    // No VERSION line at all: everything is read.
    s = parseSettings("CDAZANALYZE 2\n");
    EXPECT_EQ(s.localMode, 2);
}

TEST(SettingsParse, OutOfRangeAndMalformedValuesKeepTheDefaults)
{
    Settings s = parseSettings("COLOR 128 -129 x 801\nCDAZANALYZE 3 -1 2\n");
    EXPECT_EQ(s.luminosity, 0);
    EXPECT_EQ(s.blue, 0);
    EXPECT_EQ(s.red, 0);
    EXPECT_EQ(s.gamma, 100);
    EXPECT_EQ(s.localMode, 0);
    EXPECT_EQ(s.serverMode, 0);
    EXPECT_EQ(s.uploadMode, 2);
    s = parseSettings("COLOR 99999999999999999999 12abc 0 800\n");
    EXPECT_EQ(s.luminosity, 0);
    EXPECT_EQ(s.blue, 12); // digits up to the first other character
    EXPECT_EQ(s.gamma, 800);
    // Values present replace theirs in order; missing ones leave theirs.
    s = parseSettings("COLOR 7\nCDAZANALYZE 1\n");
    EXPECT_EQ(s.luminosity, 7);
    EXPECT_EQ(s.gamma, 100);
    EXPECT_EQ(s.localMode, 1);
    EXPECT_EQ(s.uploadMode, 0);
}

TEST(SettingsParse, DriveAndPluginLines)
{
    // Fewer than three strings: ignored. No index: the identity alone.
    Settings s = parseSettings("DRIVE \"A\" \"B\"\n");
    EXPECT_EQ(s.vendor, "");
    s = parseSettings("DRIVE \"A\" \"B\" \"C\"\n");
    EXPECT_EQ(s.vendor, "A");
    EXPECT_EQ(s.drive, -1);
    s = parseSettings("DRIVE \"A\" \"B\" \"C\" -7\n");
    EXPECT_EQ(s.drive, -1);
    s = parseSettings("DRIVE \"" + std::string(100, 'v') + "\" \"\" \"\" 2147483647\n");
    EXPECT_EQ(s.vendor, std::string(63, 'v'));
    EXPECT_EQ(s.drive, 2147483647);
    // Plugin names: at most 16 characters, none empty; only "NOUSE" switches off.
    s = parseSettings("PLUGIN \"TWELVE.PSR\"\nPLUGIN \"\" USE\nPLUGIN \"SEVENTEEN_CHR.PSR\" USE\n"
                      "PLUGIN A.PSR nouse\nPLUGIN\nPLUGIN \"SIXTEEN_CHRS.PSR\" NOUSE extra\n");
    ASSERT_EQ(s.plugins.size(), 3u);
    EXPECT_EQ(s.plugins[0], (StoredPlugin{"TWELVE.PSR", false}));
    EXPECT_EQ(s.plugins[1], (StoredPlugin{"A.PSR", false}));
    EXPECT_EQ(s.plugins[2], (StoredPlugin{"SIXTEEN_CHRS.PSR", true}));
}

TEST(SettingsParse, LongLinesAreCut)
{
    // The keyword line is cut at 511 characters: the gamma value beyond is lost, the next line read.
    std::string line = "COLOR 1 2 3" + std::string(500, ' ');
    line += "800\nCDAZANALYZE 2 2 2\n";
    const Settings s = parseSettings(line);
    EXPECT_EQ(s.red, 3);
    EXPECT_EQ(s.gamma, 100);
    EXPECT_EQ(s.uploadMode, 2);
}

Settings sample()
{
    Settings s;
    s.drive = 1;
    s.vendor = "VENDOR";
    s.product = "Product With Blanks";
    s.revision = "";
    s.luminosity = -128;
    s.blue = 127;
    s.red = 3;
    s.gamma = 800;
    s.localMode = 2;
    s.serverMode = 1;
    s.uploadMode = 2;
    s.plugins = {{"EMBERFILM.PSR", false}, {"lower.psr", true}, {"DISCMOVIE.PSR", false}};
    return s;
}

TEST(SettingsWrite, TheFormatOfEveryLine)
{
    EXPECT_EQ(formatSettings(sample()), "VERSION \"1\"\n"
                                        "DRIVE \"VENDOR\" \"Product With Blanks\" \"\" 1\n"
                                        "PLUGIN \"EMBERFILM.PSR\" USE\n"
                                        "PLUGIN \"lower.psr\" NOUSE\n"
                                        "PLUGIN \"DISCMOVIE.PSR\" USE\n"
                                        "COLOR -128 127 3 800\n"
                                        "CDAZANALYZE 2 1 2\n");
}

TEST(SettingsWrite, WrittenSettingsReadBackTheSame)
{
    EXPECT_EQ(parseSettings(formatSettings(sample())), sample());
    EXPECT_EQ(parseSettings(formatSettings(Settings{})), Settings{});
    // Texts that the file could not hold as they are come back as they were stored.
    Settings odd;
    odd.vendor = "say \"hi\"";
    odd.product = "http://x\ty";
    odd.revision = std::string(80, 'r');
    const Settings back = parseSettings(formatSettings(odd));
    EXPECT_EQ(back.vendor, "say 'hi'");
    EXPECT_EQ(back.product, "http:/x y");
    EXPECT_EQ(back.revision, std::string(63, 'r'));
    EXPECT_EQ(storableText("a//b///c", 63), "a/b/c");
}

TEST(SettingsServer, ExchangeAddressReadWrittenAndChecked)
{
    // Off by default, and then no line is written.
    EXPECT_EQ(Settings{}.server, "");
    EXPECT_EQ(formatSettings(Settings{}).find("SERVER"), std::string::npos);
    EXPECT_EQ(parseSettings("SERVER \"cdaz.example.org:8080\"\n").server, "cdaz.example.org:8080");
    EXPECT_EQ(parseSettings("SERVER 127.0.0.1\n").server, "127.0.0.1");
    // Addresses that are no host name with an optional port leave the exchange off.
    for (const char* bad : {"SERVER \"host:0\"", "SERVER \"host:65536\"", "SERVER \"host:\"",
                            "SERVER \":80\"", "SERVER \"ho st:80\"", "SERVER \"http:/x\"", "SERVER \"-x\"",
                            "SERVER \"a:8x\"", "SERVER \"a:123456\"", "SERVER"})
        EXPECT_EQ(parseSettings(bad).server, "") << bad;
    EXPECT_TRUE(validServerAddress(std::string(kServerMax, 'a')));
    EXPECT_FALSE(validServerAddress(std::string(kServerMax + 1, 'a')));
    EXPECT_TRUE(validServerAddress("h_1.example-x:65535"));
    // Written after the other lines and read back the same.
    Settings s = sample();
    s.server = "localhost:8123";
    const std::string text = formatSettings(s);
    EXPECT_NE(text.find("CDAZANALYZE 2 1 2\nSERVER \"localhost:8123\"\n"), std::string::npos);
    EXPECT_EQ(parseSettings(text), s);
}

TEST(SettingsFile, WrittenThroughATemporaryFileAndRead)
{
    TempHome home;
    EXPECT_EQ(settingsPath(), home.settingsFile());
    EXPECT_FALSE(readSettingsFile(settingsPath()));
    ASSERT_TRUE(writeFileAtomically(settingsPath(), formatSettings(sample())));
    const std::optional<Settings> read = readSettingsFile(settingsPath());
    ASSERT_TRUE(read);
    EXPECT_EQ(*read, sample());
    // Nothing but the settings file is left in the folder.
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(home.path())) {
        EXPECT_EQ(entry.path().filename(), "Tamlib.ini");
        ++files;
    }
    EXPECT_EQ(files, 1u);
    // A missing folder is created.
    ASSERT_TRUE(writeFileAtomically(home.path() / "a" / "b" / "Tamlib.ini", "x"));
    EXPECT_EQ(readText(home.path() / "a" / "b" / "Tamlib.ini"), "x");
}

TEST(SettingsFile, AFailedWriteLeavesTheOldFile)
{
    TempHome home;
    writeText(home.settingsFile(), "COLOR 1 2 3 4\n");
    // The folder cannot take a new file: the old one stays whole.
    ASSERT_EQ(::chmod(home.path().c_str(), 0500), 0);
    const bool written = writeFileAtomically(home.settingsFile(), "COLOR 9 9 9 9\n");
    ::chmod(home.path().c_str(), 0700);
    if (::geteuid() != 0) {
        EXPECT_FALSE(written);
    }
    if (!written) {
        EXPECT_EQ(readText(home.settingsFile()), "COLOR 1 2 3 4\n");
    }
    // A path below a plain file cannot be written at all.
    EXPECT_FALSE(writeFileAtomically(home.settingsFile() / "Tamlib.ini", "x"));
    // A folder in place of the settings file is no settings file.
    std::filesystem::create_directory(home.path() / "dir.ini");
    EXPECT_FALSE(readSettingsFile(home.path() / "dir.ini"));
}

} // namespace
