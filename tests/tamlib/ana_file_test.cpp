// PlbAnalyzeFile: the first installed file plugin that recognises a stream file describes it;
// switched-off plugins are passed over; a file no plugin takes gives a warning with its path.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "analysis_support.h"
#include "tamlib/analysis.h"
#include "tamlib/environment.h"

namespace {

using namespace anatest;
namespace fs = std::filesystem;

const fs::path kMovie = fs::path(TAMRIN_TEST_DATA) / "movies" / "mv1_v2_320x240_15fps_xa37800s.str";

class AnalyzeFile : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_env.started());
        ASSERT_TRUE(fs::exists(fs::path(TAMRIN_OUT_DIR) / "PsrPlugins" / "Filmfile.psr"));
    }
    Environment m_env;
};

TEST_F(AnalyzeFile, MovieFileIsDescribedByTheFilePlugin)
{
    StrInfo info{};
    char plugin[PLB_CDAZ_PLUGIN_FILE_BYTES] = "x";
    ASSERT_EQ(PlbAnalyzeFile(nullptr, kMovie.c_str(), &info, plugin), 1);
    EXPECT_STREQ(plugin, "FILMFILE.PSR");
    EXPECT_NE(info.kind & 0x0F, 0);
    EXPECT_EQ(info.width, 320u);
    EXPECT_EQ(info.height, 240u);
    EXPECT_GT(info.frameCount, 0u);
    EXPECT_TRUE(m_env.port().messages().empty());
    // Null outs are allowed.
    EXPECT_EQ(PlbAnalyzeFile(nullptr, kMovie.c_str(), nullptr, nullptr), 1);
}

TEST_F(AnalyzeFile, SwitchedOffPluginsAndUnknownFilesGiveTheWarning)
{
    ASSERT_EQ(PlbSetPluginUse("FILMFILE.PSR", 0), 1);
    char plugin[PLB_CDAZ_PLUGIN_FILE_BYTES] = {};
    EXPECT_EQ(PlbAnalyzeFile(nullptr, kMovie.c_str(), nullptr, plugin), 0);
    EXPECT_STREQ(plugin, "");
    ASSERT_EQ(PlbSetPluginUse("FILMFILE.PSR", 1), 1);

    const fs::path text = m_env.analyzeFolder().parent_path() / "notes.txt";
    std::ofstream(text) << "not a stream\n";
    StrInfo info{};
    EXPECT_EQ(PlbAnalyzeFile(nullptr, text.c_str(), &info, nullptr), 0);
    EXPECT_EQ(PlbAnalyzeFile(nullptr, "/no/such/file.str", &info, nullptr), 0);
    EXPECT_EQ(PlbAnalyzeFile(nullptr, nullptr, &info, nullptr), 0);
    const auto messages = m_env.port().messages();
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[0].text,
              "Plug-in which can process a file'" + kMovie.string() + "' was undetectable.");
    EXPECT_EQ(messages[1].text, "Plug-in which can process a file'" + text.string() + "' was undetectable.");
    EXPECT_EQ(messages[2].text, "Plug-in which can process a file'/no/such/file.str' was undetectable.");
}

TEST_F(AnalyzeFile, TheWarningFollowsTheLocale)
{
    tamlib::test::ScopedVariable japanese("LC_ALL", "ja_JP.UTF-8");
    EXPECT_EQ(PlbAnalyzeFile(nullptr, "/no/such/file.str", nullptr, nullptr), 0);
    const auto messages = m_env.port().messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "ファイル'/no/such/file.str'を処理できるプラグインが見つかりませんでした。");
}

} // namespace
