// settings: the library's settings shown, changed by --set, stored in Tamlib.ini and read again
// by a fresh process; bad assignments change nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "cli_runner.h"

namespace clitest {
namespace {

using nlohmann::json;

const std::vector<std::string> kPluginFiles{"Filmfile.psr", "Discmovie.psr", "Discvoice.psr"};

// An installation with three plugins and a settings folder of its own.
class SettingsCommandTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        for (const std::string& file : kPluginFiles)
            if (!fs::exists(outDir() / "PsrPlugins" / file))
                GTEST_SKIP() << file << " is not built";
        m_program = makeInstallation(m_install.path());
        for (const std::string& file : kPluginFiles)
            fs::copy_file(outDir() / "PsrPlugins" / file, m_install.path() / "PsrPlugins" / file);
    }

    RunResult settings(std::vector<std::string> args) const
    {
        args.insert(args.begin(), "settings");
        return run(m_program, args, {"TAMRIN_HOME=" + m_home.path().string()});
    }

    json settingsJson(std::vector<std::string> args = {}) const
    {
        args.push_back("--json");
        const RunResult result = settings(args);
        EXPECT_EQ(result.status, kExitOk) << result.err;
        return parseJson(result);
    }

    fs::path iniPath() const { return m_home.path() / "Tamlib.ini"; }

    static std::vector<std::string> pluginFiles(const json& document)
    {
        std::vector<std::string> files;
        for (const json& plugin : document.at("plugins"))
            files.push_back(plugin.at("file").get<std::string>());
        return files;
    }

    static std::vector<bool> pluginUse(const json& document)
    {
        std::vector<bool> use;
        for (const json& plugin : document.at("plugins"))
            use.push_back(plugin.at("use").get<bool>());
        return use;
    }

    TempFolder m_install;
    TempFolder m_home;
    fs::path m_program;
};

TEST_F(SettingsCommandTest, ShowsTheDefaultsAndWritesNothing)
{
    const json document = settingsJson();
    EXPECT_EQ(document.at("settingsFile"), iniPath().string());
    EXPECT_EQ(document.at("color"), json({{"luminosity", 0}, {"blue", 0}, {"red", 0}, {"gamma", 100}}));
    std::set<std::string> meanings;
    for (const char* mode : {"local", "search", "upload"}) {
        const json& entry = document.at("analysis").at(mode);
        EXPECT_EQ(entry.at("mode"), 0) << mode;
        meanings.insert(entry.at("meaning").get<std::string>());
    }
    EXPECT_EQ(meanings.size(), 3u) << "each mode has its own meaning";
    EXPECT_TRUE(document.at("drive").contains("index"));
    for (const char* key : {"vendor", "product", "revision"})
        EXPECT_TRUE(document.at("drive").at(key).is_string()) << key;

    std::vector<std::string> files = pluginFiles(document);
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"DISCMOVIE.PSR", "DISCVOICE.PSR", "FILMFILE.PSR"}));
    for (const json& plugin : document.at("plugins")) {
        EXPECT_EQ(plugin.at("use"), true);
        EXPECT_FALSE(plugin.at("name").get<std::string>().empty());
        EXPECT_GT(plugin.at("version").get<int>(), 0);
        EXPECT_NE(plugin.at("caps").get<int>(), 0);
        EXPECT_NE(plugin.at("capsWords"), "none");
    }
    for (size_t i = 0; i < document.at("plugins").size(); ++i)
        EXPECT_EQ(document.at("plugins")[i].at("priority"), i + 1);
    EXPECT_FALSE(fs::exists(iniPath())) << "showing the settings stores nothing";

    const RunResult text = settings({});
    ASSERT_EQ(text.status, kExitOk) << text.err;
    EXPECT_NE(text.out.find("gamma 100"), std::string::npos) << text.out;
    for (const std::string& meaning : meanings)
        EXPECT_NE(text.out.find(meaning), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("FILMFILE.PSR"), std::string::npos) << text.out;
}

TEST_F(SettingsCommandTest, SetValuesAreShownStoredAndReadByTheNextRun)
{
    const json changed = settingsJson(
        {"--set", "color=-10,20,-128,150", "--set", "LOCAL=1", "--set", "search=2", "--set", "upload=1"});
    const json color = {{"luminosity", -10}, {"blue", 20}, {"red", -128}, {"gamma", 150}};
    EXPECT_EQ(changed.at("color"), color);
    EXPECT_EQ(changed.at("analysis").at("local").at("mode"), 1);
    EXPECT_EQ(changed.at("analysis").at("search").at("mode"), 2);
    EXPECT_EQ(changed.at("analysis").at("upload").at("mode"), 1);

    const std::string ini = readFile(iniPath());
    EXPECT_NE(ini.find("COLOR -10 20 -128 150\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("CDAZANALYZE 1 2 1\n"), std::string::npos) << ini;

    const json again = settingsJson();
    EXPECT_EQ(again.at("color"), color);
    EXPECT_EQ(again.at("analysis"), changed.at("analysis"));
    EXPECT_EQ(again.at("plugins"), changed.at("plugins"));

    // The edge values of every range are accepted; one key changed keeps the others.
    const json edges = settingsJson({"--set", "color=127,-128,0,800", "--set", "upload=0"});
    EXPECT_EQ(edges.at("color"), json({{"luminosity", 127}, {"blue", -128}, {"red", 0}, {"gamma", 800}}));
    EXPECT_EQ(edges.at("analysis").at("local").at("mode"), 1);
    EXPECT_EQ(edges.at("analysis").at("upload").at("mode"), 0);
    EXPECT_EQ(settingsJson().at("color"), edges.at("color"));

    // A later assignment of the same key wins.
    EXPECT_EQ(settingsJson({"--set", "local=2", "--set", "local=0"}).at("analysis").at("local").at("mode"),
              0);

    // The exchange server: set, stored, read again, and switched off by the empty address.
    EXPECT_EQ(changed.at("server"), "");
    EXPECT_EQ(settingsJson({"--set", "server=cdaz.example.org:8080"}).at("server"), "cdaz.example.org:8080");
    EXPECT_NE(readFile(iniPath()).find("SERVER \"cdaz.example.org:8080\"\n"), std::string::npos);
    EXPECT_EQ(settingsJson().at("server"), "cdaz.example.org:8080");
    EXPECT_EQ(settingsJson({"--set", "server="}).at("server"), "");
    EXPECT_EQ(settingsJson().at("server"), "");

    // Drive -1 (none) is always a valid index.
    const json none = settingsJson({"--set", "drive=-1"});
    EXPECT_EQ(none.at("drive").at("index"), -1);
    EXPECT_NE(readFile(iniPath()).find("DRIVE \"\" \"\" \"\" -1\n"), std::string::npos);
}

TEST_F(SettingsCommandTest, PluginsTakeTheGivenOrderAndSwitchOffByCaseInsensitiveNames)
{
    const json first = settingsJson({"--set", "plugins=-discvoice.psr,FilmFile.PSR"});
    ASSERT_GE(first.at("plugins").size(), 3u);
    EXPECT_EQ(pluginFiles(first),
              (std::vector<std::string>{"DISCVOICE.PSR", "FILMFILE.PSR", "DISCMOVIE.PSR"}));
    EXPECT_EQ(pluginUse(first), (std::vector<bool>{false, true, true}));

    const std::string ini = readFile(iniPath());
    const size_t voice = ini.find("PLUGIN \"DISCVOICE.PSR\" NOUSE\n");
    const size_t film = ini.find("PLUGIN \"FILMFILE.PSR\" USE\n");
    const size_t movie = ini.find("PLUGIN \"DISCMOVIE.PSR\" USE\n");
    ASSERT_NE(voice, std::string::npos) << ini;
    ASSERT_NE(film, std::string::npos) << ini;
    ASSERT_NE(movie, std::string::npos) << ini;
    EXPECT_LT(voice, film);
    EXPECT_LT(film, movie);

    const json reread = settingsJson();
    EXPECT_EQ(pluginFiles(reread), pluginFiles(first));
    EXPECT_EQ(pluginUse(reread), pluginUse(first));

    // Switched on again and moved; the unnamed ones follow in their order.
    const json second = settingsJson({"--set", "plugins=discmovie.psr,discvoice.psr"});
    EXPECT_EQ(pluginFiles(second),
              (std::vector<std::string>{"DISCMOVIE.PSR", "DISCVOICE.PSR", "FILMFILE.PSR"}));
    EXPECT_EQ(pluginUse(second), (std::vector<bool>{true, true, true}));
    EXPECT_EQ(pluginFiles(settingsJson()), pluginFiles(second));

    const RunResult text = settings({});
    ASSERT_EQ(text.status, kExitOk);
    EXPECT_LT(text.out.find("DISCMOVIE.PSR"), text.out.find("DISCVOICE.PSR")) << text.out;
}

TEST_F(SettingsCommandTest, BadAssignmentsAreUsageErrorsThatStoreNothing)
{
    settingsJson({"--set", "color=1,2,3,4", "--set", "plugins=-filmfile.psr"});
    const std::string stored = readFile(iniPath());
    ASSERT_FALSE(stored.empty());

    const std::vector<std::vector<std::string>> bad{
        {"colour=1,2,3,4"},
        {"color"},
        {"=1"},
        {"color=1,2,3"},
        {"color=1,2,3,4,5"},
        {"color=128,0,0,100"},
        {"color=0,-129,0,100"},
        {"color=0,0,0,801"},
        {"color=0,0,0,-1"},
        {"color=a,b,c,d"},
        {"color=1,,3,4"},
        {"local=3"},
        {"search=-1"},
        {"upload=yes"},
        {"upload="},
        {"drive=abc"},
        {"drive=-2"},
        {"drive=9999"},
        {"server=bad host"},
        {"server=host:0"},
        {"server=host:65536"},
        {"server=" + std::string(256, 'h')},
        {"plugins=nosuch.psr"},
        {"plugins=filmfile.psr,FILMFILE.PSR"},
        {"plugins="},
        {"plugins=filmfile.psr,"},
        // A good assignment before a bad one is not made either.
        {"color=5,5,5,5", "local=1", "plugins=discmovie.psr,-nosuch.psr"},
        {"color=5,5,5,5", "local=1", "server=a b"},
    };
    for (const auto& assignments : bad) {
        std::vector<std::string> args;
        for (const std::string& assignment : assignments) {
            args.push_back("--set");
            args.push_back(assignment);
        }
        const RunResult result = settings(args);
        EXPECT_EQ(result.status, kExitUsage) << assignments.back() << "\n" << result.out << result.err;
        EXPECT_NE(result.err.find("tamrin-cli: settings: "), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("nothing was changed"), std::string::npos) << result.err;
        EXPECT_TRUE(result.out.empty()) << result.out;
        EXPECT_EQ(readFile(iniPath()), stored) << assignments.back();
    }
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--set"}, {"extra"}, {"--bogus"}, {"--set", "local=1", "--unknown"}}) {
        const RunResult result = settings(args);
        EXPECT_EQ(result.status, kExitUsage) << testing::PrintToString(args) << "\n" << result.err;
        EXPECT_EQ(readFile(iniPath()), stored);
    }
    const json unchanged = settingsJson();
    EXPECT_EQ(unchanged.at("color"), json({{"luminosity", 1}, {"blue", 2}, {"red", 3}, {"gamma", 4}}));
    EXPECT_EQ(unchanged.at("analysis").at("local").at("mode"), 0);
}

// The other commands run in the same environment: the stored colour correction reaches the
// pictures that frames decodes, as it reaches the player's.
TEST_F(SettingsCommandTest, FramesFollowTheStoredColourCorrection)
{
    const std::vector<fs::path> movies = movieFiles();
    if (movies.empty())
        GTEST_SKIP() << "no test movies";
    const auto crcs = [&] {
        const RunResult result = run(
            m_program,
            {"frames", movies.front().string(), "--null", "--crc", "--count", "2", "--json", "--no-progress"},
            {"TAMRIN_HOME=" + m_home.path().string()});
        EXPECT_EQ(result.status, kExitOk) << result.err;
        return result.status == kExitOk ? parseJson(result).at("frames") : json();
    };
    const json neutral = crcs();
    ASSERT_EQ(neutral.size(), 2u) << neutral;
    settingsJson({"--set", "color=40,0,0,100"});
    const json brighter = crcs();
    ASSERT_EQ(brighter.size(), 2u);
    for (size_t i = 0; i < neutral.size(); ++i)
        EXPECT_NE(brighter[i].at("crc32"), neutral[i].at("crc32")) << i;
    settingsJson({"--set", "color=0,0,0,100"});
    EXPECT_EQ(crcs(), neutral);
}

TEST_F(SettingsCommandTest, ASettingsFolderThatCannotBeWrittenIsAFailure)
{
    // The home is a file, so no settings file can be made below it.
    const fs::path file = m_home.path() / "not-a-folder";
    writeFile(file, "x");
    const RunResult result =
        run(m_program, {"settings", "--set", "upload=2"}, {"TAMRIN_HOME=" + file.string()});
    EXPECT_EQ(result.status, kExitFailure) << result.out << result.err;
    EXPECT_NE(result.err.find("cannot be written"), std::string::npos) << result.err;
    EXPECT_EQ(readFile(file), "x");
}

} // namespace
} // namespace clitest
