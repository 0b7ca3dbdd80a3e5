// The installed-plugin list: the plugins found in a folder, merged with the stored order, the
// upper-case names, NOUSE entries, and the default order of a fresh installation.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "env/plugin_list.h"
#include "streamkit/lbr.h"
#include "support_env_home.h"

namespace {

using namespace tamlib;
namespace fs = std::filesystem;

FoundPlugin found(const std::string& diskName, uint32_t caps, uint16_t version = 100)
{
    FoundPlugin plugin;
    plugin.diskName = diskName;
    plugin.caps = caps;
    std::snprintf(plugin.info.name, sizeof plugin.info.name, "%s plugin", diskName.c_str());
    std::snprintf(plugin.info.author, sizeof plugin.info.author, "author of %s", diskName.c_str());
    plugin.info.version = version;
    plugin.info.subVersion = uint16_t(version / 2);
    plugin.info.interfaceVersion = PSR_INTERFACE_VERSION;
    plugin.info.mediaFlags = MediaRawSectors;
    return plugin;
}

std::vector<std::string> fileNames(const std::vector<PluginEntry>& list)
{
    std::vector<std::string> names;
    for (const PluginEntry& entry : list)
        names.push_back(entry.fileName);
    return names;
}

using Names = std::vector<std::string>;

TEST(DefaultOrder, MoviePluginsFirstThenSoundMusicPicturesAndCdAudioLast)
{
    // Game-specific movie plugins before the general movie plugins.
    for (const char* game : {"Emberfilm.psr", "Tidefilm.psr", "Ovalcast.psr", "Briarfilm.psr"}) {
        EXPECT_LT(defaultRank(game), defaultRank("Filmfile.psr")) << game;
        EXPECT_LT(defaultRank(game), defaultRank("Discmovie.psr")) << game;
    }
    // Unknown plugins after the known movie plugins, before the general sound plugin.
    EXPECT_LT(defaultRank("DISCMOVIE.PSR"), defaultRank("Unknown.psr"));
    EXPECT_LT(defaultRank("Unknown.psr"), defaultRank("Discvoice.psr"));
    for (const char* sound : {"Discvoice.psr", "Cobaltsound.psr", "Marlsound.psr", "Duskaudio.psr"}) {
        EXPECT_LT(defaultRank(sound), defaultRank("Scorefile.psr")) << sound;
        EXPECT_LT(defaultRank(sound), defaultRank("Stillframe.psr")) << sound;
    }
    for (const char* other :
         {"Scorefile.psr", "Tunebank.psr", "Stillframe.psr", "Unknown.psr", "Packfilm.psr"})
        EXPECT_LT(defaultRank(other), defaultRank("Trackaudio.psr")) << other;
    // The name's case does not matter.
    EXPECT_EQ(defaultRank("trackaudio.psr"), defaultRank("TRACKAUDIO.PSR"));
}

TEST(Merge, FreshInstallationTakesTheDefaultOrder)
{
    const auto list = mergePlugins({}, {found("Discmovie.psr", CapCd), found("Discvoice.psr", CapCd),
                                        found("Filmfile.psr", CapFile), found("Newgame.psr", CapCd),
                                        found("Trackaudio.psr", CapCd), found("Tidefilm.psr", CapCd)});
    EXPECT_EQ(fileNames(list), (Names{"TIDEFILM.PSR", "FILMFILE.PSR", "DISCMOVIE.PSR", "NEWGAME.PSR",
                                      "DISCVOICE.PSR", "TRACKAUDIO.PSR"}));
    // The entries carry what the plugin said of itself, and the file name binding needs.
    const PluginEntry& movie = list[2];
    EXPECT_EQ(movie.diskName, "Discmovie.psr");
    EXPECT_EQ(movie.name, "Discmovie.psr plugin");
    EXPECT_EQ(movie.author, "author of Discmovie.psr");
    EXPECT_EQ(movie.version, 100);
    EXPECT_EQ(movie.subVersion, 50);
    EXPECT_EQ(movie.caps, uint32_t(CapCd));
    EXPECT_EQ(movie.mediaFlags, MediaRawSectors);
}

TEST(Merge, StoredOrderWinsAndNewPluginsAreAppended)
{
    const auto list = mergePlugins({{"TRACKAUDIO.PSR", false}, {"DISCMOVIE.PSR", true}},
                                   {found("Discmovie.psr", CapCd), found("Discvoice.psr", CapCd),
                                    found("Filmfile.psr", CapFile), found("Trackaudio.psr", CapCd)});
    EXPECT_EQ(fileNames(list), (Names{"TRACKAUDIO.PSR", "DISCMOVIE.PSR", "FILMFILE.PSR", "DISCVOICE.PSR"}));
    // A stored NOUSE survives the refresh, the found caps are added.
    EXPECT_EQ(list[1].caps, kNoUse | CapCd);
    EXPECT_EQ(list[0].caps, uint32_t(CapCd));
}

TEST(Merge, LowerCaseStoredNamesNeverMatchSoPluginsAreListedTwice)
{
    const auto list = mergePlugins({{"discmovie.psr", false}, {"discvoice.psr", true}},
                                   {found("Discmovie.psr", CapCd), found("Discvoice.psr", CapCd)});
    // The stored entry without NOUSE has no caps and goes; the one with NOUSE stays; both found
    // plugins are appended under their upper-case names.
    EXPECT_EQ(fileNames(list), (Names{"discvoice.psr", "DISCMOVIE.PSR", "DISCVOICE.PSR"}));
    EXPECT_EQ(list[0].caps, kNoUse);
    EXPECT_EQ(list[0].mediaFlags, kStoredMediaFlags);
    EXPECT_EQ(list[0].diskName, "");
    EXPECT_EQ(list[2].caps, uint32_t(CapCd));
}

TEST(Merge, NoUseEntryOfARemovedPluginIsKeptAndStoredAgain)
{
    const auto list = mergePlugins({{"GONE.PSR", true}, {"DISCMOVIE.PSR", false}, {"ALSOGONE.PSR", false}},
                                   {found("Discmovie.psr", CapCd)});
    EXPECT_EQ(fileNames(list), (Names{"GONE.PSR", "DISCMOVIE.PSR"}));
    EXPECT_EQ(list[0].caps, kNoUse);
    EXPECT_EQ(list[0].name, "");
    EXPECT_EQ(storedPlugins(list), (std::vector<StoredPlugin>{{"GONE.PSR", true}, {"DISCMOVIE.PSR", false}}));
    const auto view = installedView(list);
    ASSERT_EQ(view.size(), 2u);
    EXPECT_EQ(view[0].file, "GONE.PSR");
    EXPECT_TRUE(view[0].noUse);
    EXPECT_EQ(view[0].caps, 0u);
    EXPECT_EQ(view[1].file, "DISCMOVIE.PSR");
    EXPECT_FALSE(view[1].noUse);
    EXPECT_EQ(view[1].caps, uint32_t(CapCd));
    EXPECT_EQ(view[1].name, "Discmovie.psr plugin");
}

TEST(Merge, APluginFoundTwiceIsListedOnce)
{
    const auto list =
        mergePlugins({}, {found("Discmovie.psr", CapCd, 100), found("DISCMOVIE.PSR", CapFile, 200)});
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].caps, uint32_t(CapCd | CapFile));
    EXPECT_EQ(list[0].version, 200);
    EXPECT_EQ(list[0].diskName, "Discmovie.psr"); // the first file found is the one bound
}

TEST(FindPlugins, NamesCapsAndInterfaceVersionDecide)
{
    tamlib::test::TempHome home;
    const fs::path folder = home.path() / "plugins";
    fs::create_directories(folder / "Folder.psr");
    for (const char* name :
         {"Good.psr", "Newer.psr", "Nocaps.PSR", "notes.txt", "psr", "Abcdefghijkl.psr", "Abcdefghijklm.psr"})
        tamlib::test::writeText(folder / name, "x");
    std::vector<std::string> asked;
    const PluginQuery query = [&](const std::string& file, PsrPluginInfo& info) -> uint32_t {
        asked.push_back(file);
        info = PsrPluginInfo{};
        info.interfaceVersion = file == "Newer.psr" ? PSR_INTERFACE_VERSION + 1 : PSR_INTERFACE_VERSION;
        return file == "Nocaps.PSR" ? 0 : CapCd;
    };
    const auto plugins = findPlugins({folder, home.path() / "missing"}, query);
    // Only ".psr" files (any case) of at most 16 characters are asked, in name order.
    EXPECT_EQ(asked, (Names{"Abcdefghijkl.psr", "Good.psr", "Newer.psr", "Nocaps.PSR"}));
    ASSERT_EQ(plugins.size(), 2u);
    EXPECT_EQ(plugins[0].diskName, "Abcdefghijkl.psr");
    EXPECT_EQ(plugins[1].diskName, "Good.psr");
}

TEST(FindPlugins, TheBuiltPluginsDescribeThemselves)
{
    const fs::path folder = fs::path(TAMRIN_OUT_DIR) / "PsrPlugins";
    const PluginQuery query = [](const std::string& file, PsrPluginInfo& info) {
        return LbrQueryPlugin(file.c_str(), &info);
    };
    const auto plugins = findPlugins({folder}, query);
    ASSERT_FALSE(plugins.empty()) << "no plugins built in " << folder;
    for (const FoundPlugin& plugin : plugins) {
        EXPECT_NE(plugin.caps & (CapFile | CapCd), 0u) << plugin.diskName;
        EXPECT_GT(std::strlen(plugin.info.name), 0u) << plugin.diskName;
    }
    const auto list = mergePlugins({}, plugins);
    ASSERT_EQ(list.size(), plugins.size());
    for (size_t i = 1; i < list.size(); ++i)
        EXPECT_LE(defaultRank(list[i - 1].fileName), defaultRank(list[i].fileName));
}

} // namespace
