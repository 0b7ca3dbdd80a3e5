// plugins: the folder beside the program, every *.psr in file name order, unusable files listed.
#include <gtest/gtest.h>

#include "cli_runner.h"

namespace clitest {
namespace {

using nlohmann::json;

const json* findPlugin(const json& list, const std::string& file)
{
    for (const json& plugin : list) {
        if (plugin.value("file", "") == file)
            return &plugin;
    }
    return nullptr;
}

TEST(PluginsCommand, JsonListsTheMoviePluginWithItsDescription)
{
    if (!filmfileBuilt())
        GTEST_SKIP() << "Filmfile.psr is not built";
    const RunResult result = runCli({"plugins", "--json"});
    ASSERT_EQ(result.status, kExitOk) << result.err;
    const json list = parseJson(result);
    ASSERT_TRUE(list.is_array());
    const json* film = findPlugin(list, "FILMFILE.PSR");
    ASSERT_NE(film, nullptr) << result.out;
    EXPECT_EQ(film->at("usable"), true);
    EXPECT_EQ(film->at("caps"), 0x0001);
    EXPECT_EQ(film->at("mediaFlags"), 4);
    EXPECT_EQ(film->at("version"), 124);
    EXPECT_EQ(film->at("interfaceVersion"), 322);
    EXPECT_FALSE(film->at("name").get<std::string>().empty());
    for (const char* key : {"copyright", "author", "address", "subVersion"})
        EXPECT_TRUE(film->contains(key)) << key;
}

TEST(PluginsCommand, TextShowsVersionsAndFlagWords)
{
    if (!filmfileBuilt())
        GTEST_SKIP() << "Filmfile.psr is not built";
    const RunResult result = runCli({"plugins"});
    ASSERT_EQ(result.status, kExitOk) << result.err;
    EXPECT_NE(result.out.find("FILMFILE.PSR"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("1.24"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("3.22"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("0x0001 (file)"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("0x0004 (files)"), std::string::npos) << result.out;
}

// An installation of our own: the movie plugin under two names (one with an upper-case
// extension), a file that is no plugin, a folder and a text file that must be ignored.
class PluginFolderTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        if (!filmfileBuilt())
            GTEST_SKIP() << "Filmfile.psr is not built";
        m_program = makeInstallation(m_folder.path());
        const fs::path plugins = m_folder.path() / "PsrPlugins";
        fs::copy_file(outDir() / "PsrPlugins" / "Filmfile.psr", plugins / "Filmfile.psr");
        fs::copy_file(outDir() / "PsrPlugins" / "Filmfile.psr", plugins / "Zcopy.PSR");
        writeFile(plugins / "Junk.psr", "not a shared object\n");
        writeFile(plugins / "notes.txt", "ignored\n");
        fs::create_directory(plugins / "Folder.psr");
    }

    TempFolder m_folder;
    fs::path m_program;
};

TEST_F(PluginFolderTest, ListsEveryPluginFileSortedAndMarksUnusableOnes)
{
    const RunResult result = run(m_program, {"plugins", "--json"});
    ASSERT_EQ(result.status, kExitOk) << result.err;
    const json list = parseJson(result);
    ASSERT_EQ(list.size(), 3u) << result.out;
    EXPECT_EQ(list[0]["file"], "FILMFILE.PSR");
    EXPECT_EQ(list[1]["file"], "JUNK.PSR");
    EXPECT_EQ(list[2]["file"], "ZCOPY.PSR");

    EXPECT_EQ(list[1]["usable"], false);
    EXPECT_FALSE(list[1].contains("caps")) << "an unbound file has no description";
    EXPECT_FALSE(list[1].value("reason", "").empty());

    EXPECT_EQ(list[2]["usable"], true);
    EXPECT_EQ(list[2]["caps"], list[0]["caps"]);
    EXPECT_EQ(list[2]["version"], list[0]["version"]);
}

TEST_F(PluginFolderTest, TextListsUnusableFileWithoutFailing)
{
    const RunResult result = run(m_program, {"plugins"});
    ASSERT_EQ(result.status, kExitOk) << result.err;
    const size_t junk = result.out.find("JUNK.PSR");
    ASSERT_NE(junk, std::string::npos) << result.out;
    EXPECT_NE(result.out.find("unusable", junk), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("notes.txt"), std::string::npos);
    EXPECT_EQ(result.out.find("FOLDER.PSR"), std::string::npos);
}

// probe asks the library, as identify does: the installed priority order decides, not the file
// names, and the order the settings keep is followed.
TEST_F(PluginFolderTest, ProbeAndIdentifyTakeTheFirstPluginOfThePriorityOrder)
{
    const fs::path plugins = m_folder.path() / "PsrPlugins";
    fs::copy_file(outDir() / "PsrPlugins" / "Filmfile.psr", plugins / "Afilm.psr");
    writeFile(plugins / "Aaa.psr", "not a shared object either\n");
    const auto movies = movieFiles();
    ASSERT_FALSE(movies.empty());
    // Settings of this installation's own.
    const std::vector<std::string> home{"TAMRIN_HOME=" + (m_folder.path() / "home").string()};
    const auto chosen = [&](const char* command) {
        const RunResult result = run(m_program, {command, "--json", movies.front().string()}, home);
        EXPECT_EQ(result.status, kExitOk) << result.err;
        const json list = parseJson(result);
        return list.size() == 1 ? list[0].value("plugin", "") : std::string();
    };
    // The known movie file plugin comes before an unknown one in a fresh installation.
    EXPECT_EQ(chosen("probe"), "FILMFILE.PSR");
    EXPECT_EQ(chosen("identify"), "FILMFILE.PSR");

    ASSERT_EQ(run(m_program, {"settings", "--set", "plugins=afilm.psr,ZCOPY.PSR"}, home).status, kExitOk);
    EXPECT_EQ(chosen("probe"), "AFILM.PSR");
    EXPECT_EQ(chosen("identify"), "AFILM.PSR");

    // A plugin switched off is passed over by both.
    ASSERT_EQ(run(m_program, {"settings", "--set", "plugins=-AFILM.PSR,ZCOPY.PSR"}, home).status, kExitOk);
    EXPECT_EQ(chosen("probe"), "ZCOPY.PSR");
    EXPECT_EQ(chosen("identify"), "ZCOPY.PSR");
}

TEST(PluginsCommand, MissingPluginFolderIsAnErrorNamingIt)
{
    TempFolder folder;
    const fs::path program = makeInstallation(folder.path(), false);
    const RunResult result = run(program, {"plugins", "--json"});
    EXPECT_EQ(result.status, kExitFailure);
    EXPECT_NE(result.err.find("PsrPlugins"), std::string::npos) << result.err;
    EXPECT_TRUE(result.out.empty()) << result.out;
}

TEST(PluginsCommand, EmptyPluginFolderGivesAnEmptyList)
{
    TempFolder folder;
    const fs::path program = makeInstallation(folder.path());
    const RunResult result = run(program, {"plugins", "--json"});
    ASSERT_EQ(result.status, kExitOk) << result.err;
    EXPECT_EQ(parseJson(result), json::array());
}

} // namespace
} // namespace clitest
