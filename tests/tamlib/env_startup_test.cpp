// The environment's start and end: plugins listed from a folder, the drive chosen among mounted
// disc images, settings changed by the setters written at the end and read at the next start.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "../support/scripted_port.h"
#include "discport/discport.h"
#include "env/drive_choice.h"
#include "env/environment_state.h"
#include "env/folders.h"
#include "env/installed.h"
#include "env/settings.h"
#include "installed_plugins.h"
#include "streamkit/lbr.h"
#include "support_env_home.h"
#include "tamlib/environment.h"
#include "tamlib/strings.h"
#include "tamlib/ui_port.h"

namespace {

using namespace tamlib;
using tamlib::test::MountedImage;
using tamlib::test::readText;
using tamlib::test::ScopedVariable;
using tamlib::test::TempHome;
using tamlib::test::writeText;
namespace fs = std::filesystem;

const fs::path kPluginFolder = fs::path(TAMRIN_OUT_DIR) / "PsrPlugins";

class Startup : public ::testing::Test
{
  protected:
    void TearDown() override
    {
        while (PlbTerminate() == 1) {
        }
    }

    bool start()
    {
        EnvironmentOptions options = defaultEnvironmentOptions();
        options.pluginFolders = {kPluginFolder};
        return startEnvironment(options);
    }

    std::vector<std::string> installedNames() const
    {
        std::vector<std::string> names;
        for (const InstalledPlugin& plugin : installedPlugins())
            names.push_back(plugin.file);
        return names;
    }

    bool pluginsBuilt() const { return fs::exists(kPluginFolder / "Discmovie.psr"); }

    ScopedVariable m_locale{"LC_ALL", "C"};
    TempHome m_home;
    ScriptedPort m_port;
    ScopedUiPort m_installed{m_port};
};

TEST_F(Startup, StartsAreCountedAndEachNeedsItsEnd)
{
    EXPECT_EQ(PlbTerminate(), 0);
    EXPECT_EQ(PlbSetColor(1, 1, 1, 100), 0); // not started
    ASSERT_EQ(PlbInitialize(), 1);
    ASSERT_EQ(PlbInitialize(), 1);
    EXPECT_EQ(PlbTerminate(), 1);
    EXPECT_EQ(PlbSetColor(1, 1, 1, 100), 1); // still started
    EXPECT_EQ(PlbTerminate(), 1);
    EXPECT_EQ(PlbTerminate(), 0);
    // The last end wrote the changed colour.
    const auto stored = readSettingsFile(m_home.settingsFile());
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->luminosity, 1);
}

TEST_F(Startup, FoldersFollowTamrinHomeOrXdg)
{
    EXPECT_EQ(analyzeFolder(), m_home.path() / "Analyze");
    EXPECT_EQ(configFolder(), m_home.path());
    ScopedVariable home("TAMRIN_HOME", nullptr);
    ScopedVariable data("XDG_DATA_HOME", "/data/x");
    ScopedVariable config("XDG_CONFIG_HOME", "/config/y");
    EXPECT_EQ(analyzeFolder(), fs::path("/data/x/tamrin/Analyze"));
    EXPECT_EQ(settingsPath(), fs::path("/config/y/tamrin/Tamlib.ini"));
    ScopedVariable relative("XDG_CONFIG_HOME", "relative");
    ScopedVariable user("HOME", "/home/u");
    EXPECT_EQ(configFolder(), fs::path("/home/u/.config/tamrin"));
}

TEST_F(Startup, FreshStartListsTheBuiltPluginsInDefaultOrderAndWritesNothing)
{
    ASSERT_TRUE(pluginsBuilt()) << "plugins not built in " << kPluginFolder;
    ASSERT_TRUE(start());
    const auto names = installedNames();
    ASSERT_GE(names.size(), 4u);
    // Movie files, the disc movie plugin, XA sound, CD audio last.
    const auto at = [&](const char* name) {
        return std::find(names.begin(), names.end(), name) - names.begin();
    };
    EXPECT_LT(at("FILMFILE.PSR"), at("DISCMOVIE.PSR"));
    EXPECT_LT(at("DISCMOVIE.PSR"), at("DISCVOICE.PSR"));
    EXPECT_EQ(at("TRACKAUDIO.PSR"), ptrdiff_t(names.size() - 1));
    EXPECT_EQ(pluginBindName("DISCMOVIE.PSR"), "Discmovie.psr");
    EXPECT_EQ(pluginBindName("NOT.PSR"), "NOT.PSR");

    // By position and by exact name; the descriptive texts come from the plugin itself.
    char file[17], name[49], copyright[81], author[81], address[81];
    uint16_t version = 0, subVersion = 0;
    uint32_t caps = 0;
    const int32_t count = PlbGetPluginInfo(int32_t(at("DISCMOVIE.PSR")), file, name, &version, &subVersion,
                                           copyright, &caps, author, address);
    EXPECT_EQ(count, int32_t(names.size()));
    EXPECT_STREQ(file, "DISCMOVIE.PSR");
    PsrPluginInfo info{};
    ASSERT_NE(LbrQueryPlugin("Discmovie.psr", &info), 0u);
    EXPECT_STREQ(name, info.name);
    EXPECT_STREQ(copyright, info.copyright);
    EXPECT_STREQ(author, info.author);
    EXPECT_EQ(version, info.version);
    EXPECT_EQ(subVersion, info.subVersion);
    EXPECT_NE(caps & CapCd, 0u);
    strcpy(file, "DISCVOICE.PSR");
    EXPECT_EQ(PlbGetPluginInfo(-1, file, name, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), count);
    EXPECT_STREQ(file, "DISCVOICE.PSR");
    EXPECT_GT(strlen(name), 0u);
    strcpy(file, "Discvoice.psr");
    EXPECT_EQ(PlbGetPluginInfo(-1, file, name, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), -1);
    EXPECT_STREQ(name, "");
    EXPECT_EQ(PlbGetPluginInfo(count, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
              -1);
    EXPECT_EQ(PlbGetPluginInfo(-2, file, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), -1);

    EXPECT_EQ(PlbTerminate(), 1);
    EXPECT_TRUE(installedPlugins().empty());
    if (m_port.choices().empty()) {
        EXPECT_FALSE(fs::exists(m_home.settingsFile()));
    }
}

TEST_F(Startup, SettersAreWrittenAtTheEndAndReadAtTheNextStart)
{
    ASSERT_TRUE(pluginsBuilt()) << "plugins not built in " << kPluginFolder;
    ASSERT_TRUE(start());
    const auto before = installedNames();
    ASSERT_GE(before.size(), 2u);
    // Out-of-range values change nothing.
    EXPECT_EQ(PlbSetColor(128, 0, 0, 100), 0);
    EXPECT_EQ(PlbSetColor(0, 0, 0, 801), 0);
    EXPECT_EQ(PlbSetAnalyzeMode(3, 0, 0), 0);
    EXPECT_EQ(PlbMovePlugin(0, int32_t(before.size())), 0);
    EXPECT_EQ(PlbSetPluginUse("Discvoice.psr", 0), 0);
    EXPECT_EQ(PlbSetCdDrive(CdGetDriveNum()), 0);

    EXPECT_EQ(PlbSetColor(-10, 20, -128, 150), 1);
    EXPECT_EQ(PlbSetAnalyzeMode(2, 1, 0), 1);
    EXPECT_EQ(PlbMovePlugin(int32_t(before.size() - 1), 0), 1);
    EXPECT_EQ(PlbSetPluginUse("DISCVOICE.PSR", 0), 1);
    auto expected = before;
    expected.insert(expected.begin(), expected.back());
    expected.pop_back();
    EXPECT_EQ(installedNames(), expected);
    EXPECT_EQ(PlbTerminate(), 1);

    ASSERT_TRUE(fs::exists(m_home.settingsFile()));
    const std::string written = readText(m_home.settingsFile());
    EXPECT_NE(written.find("COLOR -10 20 -128 150\n"), std::string::npos);
    EXPECT_NE(written.find("CDAZANALYZE 2 1 0\n"), std::string::npos);
    EXPECT_NE(written.find("PLUGIN \"DISCVOICE.PSR\" NOUSE\n"), std::string::npos);

    ASSERT_TRUE(start());
    EXPECT_EQ(installedNames(), expected);
    int32_t lum = 0, blue = 0, red = 0, gamma = 0, local = 0, server = 0, upload = 0;
    PlbGetColor(&lum, &blue, &red, &gamma);
    EXPECT_EQ((std::vector<int32_t>{lum, blue, red, gamma}), (std::vector<int32_t>{-10, 20, -128, 150}));
    PlbGetAnalyzeMode(&local, &server, &upload);
    EXPECT_EQ((std::vector<int32_t>{local, server, upload}), (std::vector<int32_t>{2, 1, 0}));
    for (const InstalledPlugin& plugin : installedPlugins()) {
        EXPECT_EQ(plugin.noUse, plugin.file == "DISCVOICE.PSR") << plugin.file;
        // The CDAZ store compares entries with both version numbers the plugin gives.
        PsrPluginInfo info{};
        ASSERT_NE(LbrQueryPlugin(pluginBindName(plugin.file).c_str(), &info), 0u) << plugin.file;
        EXPECT_EQ(plugin.version, info.version) << plugin.file;
        EXPECT_EQ(plugin.subVersion, info.subVersion) << plugin.file;
    }
    // Nothing changed this time: the file stays as it is.
    const auto time = fs::last_write_time(m_home.settingsFile());
    EXPECT_EQ(PlbTerminate(), 1);
    EXPECT_EQ(fs::last_write_time(m_home.settingsFile()), time);
    EXPECT_EQ(readText(m_home.settingsFile()), written);
}

TEST_F(Startup, StoredLowerCaseAndRemovedPluginEntries)
{
    ASSERT_TRUE(pluginsBuilt()) << "plugins not built in " << kPluginFolder;
    writeText(m_home.settingsFile(), "VERSION \"1\"\n"
                                     "PLUGIN \"discmovie.psr\" USE\n"
                                     "PLUGIN \"REMOVED.PSR\" NOUSE\n"
                                     "PLUGIN \"ALSOREMOVED.PSR\" USE\n"
                                     "PLUGIN \"TRACKAUDIO.PSR\" USE\n");
    ASSERT_TRUE(start());
    const auto names = installedNames();
    ASSERT_GE(names.size(), 3u);
    EXPECT_EQ(names[0], "REMOVED.PSR");
    EXPECT_EQ(names[1], "TRACKAUDIO.PSR");
    EXPECT_EQ(std::count(names.begin(), names.end(), "DISCMOVIE.PSR"), 1);
    EXPECT_EQ(std::count(names.begin(), names.end(), "discmovie.psr"), 0);
    EXPECT_EQ(std::count(names.begin(), names.end(), "ALSOREMOVED.PSR"), 0);
    uint32_t caps = 0;
    char name[49];
    EXPECT_EQ(PlbGetPluginInfo(0, nullptr, name, nullptr, nullptr, nullptr, &caps, nullptr, nullptr),
              int32_t(names.size()));
    EXPECT_EQ(caps, PLB_PLUGIN_NOUSE);
    EXPECT_STREQ(name, "");
    // Written back after a change, the removed plugin's entry is still there.
    ASSERT_EQ(PlbSetAnalyzeMode(1, 1, 1), 1);
    EXPECT_EQ(PlbTerminate(), 1);
    const Settings stored = parseSettings(readText(m_home.settingsFile()));
    ASSERT_EQ(stored.plugins.size(), names.size());
    EXPECT_EQ(stored.plugins[0], (StoredPlugin{"REMOVED.PSR", true}));
    EXPECT_EQ(stored.plugins[1], (StoredPlugin{"TRACKAUDIO.PSR", false}));
}

TEST_F(Startup, AnUnusableCdLayerIsReported)
{
    ASSERT_TRUE(start());
    const auto messages = m_port.messages();
    if (CdGetStatus() == 0) {
        EXPECT_TRUE(messages.empty());
        return;
    }
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "WARNING");
    EXPECT_EQ(messages[0].type & PLB_MB_ICONS, uint32_t(PLB_MB_ICONWARNING));
    const std::string& text = messages[0].text;
    EXPECT_EQ(text.substr(text.size() - 22), "CD-ROM cannot be used.");
}

TEST(DriveChoice, RememberedIdentityThenModeTwoDrive)
{
    const DriveIdentity a{"A", "ONE", "1"}, b{"B", "TWO", "2"};
    const std::vector<DriveFacts> drives = {{a, false}, {b, true}, {a, true}};
    // The stored index with the remembered identity is kept.
    EXPECT_EQ(chooseDrive(2, a, drives).drive, 2);
    // Another identity at the index: the first drive with the remembered one.
    EXPECT_EQ(chooseDrive(1, a, drives).drive, 0);
    // An index beyond the drives: by identity.
    EXPECT_EQ(chooseDrive(7, b, drives).drive, 1);
    // Nobody has it: the first drive reading Mode 2, whose identity is remembered.
    const DriveChoice fallback = chooseDrive(0, {"C", "", ""}, drives);
    EXPECT_EQ(fallback.drive, 1);
    EXPECT_EQ(fallback.remembered, b);
    // No drive reads Mode 2, or the one that does cannot tell who it is: none, nothing remembered.
    EXPECT_EQ(chooseDrive(0, {"C", "", ""}, {{a, false}}).drive, -1);
    EXPECT_EQ(chooseDrive(0, {"C", "", ""}, {{a, false}}).remembered, DriveIdentity{});
    EXPECT_EQ(chooseDrive(0, {"C", "", ""}, {{std::nullopt, true}, {a, true}}).drive, -1);
    EXPECT_EQ(chooseDrive(-1, a, {}).drive, -1);
}

class DriveStartup : public Startup
{
  protected:
    void SetUp() override
    {
        if (CdGetDriveNum() != 0)
            GTEST_SKIP() << "this machine has drives of its own";
    }

    DriveIdentity imageIdentity(int32_t drive)
    {
        const auto identity = driveIdentity(drive);
        EXPECT_TRUE(identity);
        return identity.value_or(DriveIdentity{});
    }
};

TEST_F(DriveStartup, OneDriveAtTheFirstStartIsChosenWithoutAsking)
{
    MountedImage image(m_home.path());
    ASSERT_EQ(image.drive(), 0) << CdImageError();
    ASSERT_TRUE(start());
    EXPECT_TRUE(m_port.choices().empty());
    char vendor[64], product[64], revision[64];
    EXPECT_EQ(PlbGetCdDrive(vendor, product, revision), 0);
    const DriveIdentity identity = imageIdentity(0);
    EXPECT_EQ(vendor, identity.vendor);
    EXPECT_EQ(product, identity.product);
    EXPECT_EQ(revision, identity.revision);
    EXPECT_FALSE(identity.vendor.empty());
}

TEST_F(DriveStartup, TwoDrivesAtTheFirstStartAskForOne)
{
    MountedImage first(m_home.path()), second(m_home.path());
    ASSERT_EQ(second.drive(), 1) << CdImageError();
    m_port.queueChoice(1);
    ASSERT_TRUE(start());
    const auto choices = m_port.choices();
    ASSERT_EQ(choices.size(), 1u);
    EXPECT_EQ(choices[0].caption, "Choose CD-Drive");
    EXPECT_EQ(choices[0].items.size(), 2u);
    EXPECT_EQ(choices[0].current, -1);
    EXPECT_EQ(PlbGetCdDrive(nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(PlbTerminate(), 1);
    // The choice is kept for the next start, which asks nothing.
    const Settings stored = parseSettings(readText(m_home.settingsFile()));
    EXPECT_EQ(stored.drive, 1);
    EXPECT_EQ(stored.vendor, imageIdentity(1).vendor);
    m_port.clear();
    ASSERT_TRUE(start());
    EXPECT_TRUE(m_port.choices().empty());
    EXPECT_EQ(PlbGetCdDrive(nullptr, nullptr, nullptr), 1);
}

TEST_F(DriveStartup, DecliningTheChoiceLeavesNoDrive)
{
    MountedImage first(m_home.path()), second(m_home.path());
    ASSERT_EQ(second.drive(), 1) << CdImageError();
    m_port.queueChoice(-1);
    ASSERT_TRUE(start());
    EXPECT_EQ(m_port.choices().size(), 1u);
    EXPECT_EQ(PlbGetCdDrive(nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(PlbTerminate(), 1);
    EXPECT_FALSE(fs::exists(m_home.settingsFile()));
}

TEST_F(DriveStartup, StoredIndexBeyondTheDrivesSelectsByIdentity)
{
    MountedImage image(m_home.path());
    ASSERT_EQ(image.drive(), 0) << CdImageError();
    const DriveIdentity identity = imageIdentity(0);
    writeText(m_home.settingsFile(), "VERSION 1\nDRIVE \"" + identity.vendor + "\" \"" + identity.product +
                                         "\" \"" + identity.revision + "\" 5\n");
    ASSERT_TRUE(start());
    EXPECT_EQ(PlbGetCdDrive(nullptr, nullptr, nullptr), 0);
    EXPECT_TRUE(m_port.choices().empty());
    ASSERT_EQ(PlbTerminate(), 1);

    // A remembered drive that is not there: the first drive reading Mode 2 takes its place.
    writeText(m_home.settingsFile(), "DRIVE \"OTHER\" \"DRIVE\" \"9\" 0\n");
    ASSERT_TRUE(start());
    char vendor[64];
    EXPECT_EQ(PlbGetCdDrive(vendor, nullptr, nullptr), 0);
    EXPECT_EQ(vendor, identity.vendor);
}

TEST_F(DriveStartup, SetCdDriveRemembersTheIdentity)
{
    MountedImage first(m_home.path()), second(m_home.path());
    ASSERT_EQ(second.drive(), 1) << CdImageError();
    writeText(m_home.settingsFile(), "VERSION 1\n");
    ASSERT_TRUE(start());
    EXPECT_EQ(PlbSetCdDrive(2), 0);
    EXPECT_EQ(PlbSetCdDrive(-2), 0);
    EXPECT_EQ(PlbSetCdDrive(1), 1);
    EXPECT_EQ(PlbGetCdDrive(nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(PlbSetCdDrive(-1), 1);
    char vendor[64] = "x";
    EXPECT_EQ(PlbGetCdDrive(vendor, nullptr, nullptr), -1);
    EXPECT_STREQ(vendor, "");
    EXPECT_EQ(PlbSetCdDrive(1), 1);
    EXPECT_EQ(PlbSaveEnviron(), 1);
    EXPECT_EQ(parseSettings(readText(m_home.settingsFile())).drive, 1);
}

TEST_F(Startup, DebugLogOnlyWhenSwitchedOn)
{
    const fs::path log = m_home.path() / "DEBUG.TXT";
    EXPECT_EQ(PlbSETDEBUG(0), 0);
    EXPECT_EQ(PlbDEBUG("off %d\n", 1), 0);
    EXPECT_FALSE(fs::exists(log));
    EXPECT_EQ(PlbSETDEBUG(1), 1);
    PlbDEBUG("first %d\n", 1);
    PlbDEBUG("%s\n", "second");
    PlbSETDEBUG(0);
    PlbDEBUG("not this\n");
    EXPECT_EQ(readText(log), "first 1\nsecond\n");
}

} // namespace
