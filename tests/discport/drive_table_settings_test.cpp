// Discport.ini: where it lives, how its text is read and rewritten.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "settings_file.h"

namespace discport::testing {
namespace {

class Environment
{
  public:
    explicit Environment(const char* name) : m_name(name)
    {
        const char* value = std::getenv(name);
        if (value)
            m_saved = value;
    }
    ~Environment()
    {
        if (m_saved)
            ::setenv(m_name, m_saved->c_str(), 1);
        else
            ::unsetenv(m_name);
    }
    void set(const char* value)
    {
        if (value)
            ::setenv(m_name, value, 1);
        else
            ::unsetenv(m_name);
    }

  private:
    const char* m_name;
    std::optional<std::string> m_saved;
};

TEST(DriveTableSettings, ConfigurationFolderPrecedence)
{
    Environment tamrin("TAMRIN_HOME"), xdg("XDG_CONFIG_HOME"), home("HOME");
    tamrin.set("/t/home");
    xdg.set("/x/config");
    home.set("/h/user");
    EXPECT_EQ(configFolder(), "/t/home");
    EXPECT_EQ(settingsFilePath(), "/t/home/Discport.ini");
    tamrin.set(nullptr);
    EXPECT_EQ(configFolder(), "/x/config/tamrin");
    xdg.set("");
    EXPECT_EQ(configFolder(), "/h/user/.config/tamrin");
    xdg.set("relative/config"); // ignored, as the XDG rules say (and as the other libraries do)
    EXPECT_EQ(configFolder(), "/h/user/.config/tamrin");
    home.set(nullptr);
    EXPECT_EQ(configFolder(), "");
    EXPECT_EQ(settingsFilePath(), "");
    EXPECT_FALSE(readStoredInterfaceMask());
    EXPECT_FALSE(storeInterfaceMask(2));
}

TEST(DriveTableSettings, ParsingTheMask)
{
    EXPECT_EQ(parseInterfaceMask("INTERFACE=3\n"), 3u);
    EXPECT_EQ(parseInterfaceMask("  interface =  2 \r\n"), 2u);
    EXPECT_EQ(parseInterfaceMask("# comment\nOTHER=7\nINTERFACE=1"), 1u);
    EXPECT_EQ(parseInterfaceMask("INTERFACE=4294967295\n"), 0xFFFFFFFFu);
    EXPECT_EQ(parseInterfaceMask("INTERFACE=1\nINTERFACE=2\n"), 2u); // the last line counts
    EXPECT_FALSE(parseInterfaceMask(""));
    EXPECT_FALSE(parseInterfaceMask("OTHER=3\n"));
    EXPECT_FALSE(parseInterfaceMask("INTERFACE=\n"));
    EXPECT_FALSE(parseInterfaceMask("INTERFACE=-1\n"));
    EXPECT_FALSE(parseInterfaceMask("INTERFACE=0x3\n"));
    EXPECT_FALSE(parseInterfaceMask("INTERFACE=4294967296\n"));
    EXPECT_FALSE(parseInterfaceMask("INTERFACE=99999999999999999999999\n"));
    EXPECT_FALSE(parseInterfaceMask("INTERFACES=3\n"));
}

TEST(DriveTableSettings, RewritingKeepsOtherLines)
{
    EXPECT_EQ(withInterfaceMask("", 2), "INTERFACE=2\n");
    EXPECT_EQ(withInterfaceMask("# mine\nINTERFACE=3\nOTHER=x", 1), "# mine\nINTERFACE=1\nOTHER=x\n");
    EXPECT_EQ(withInterfaceMask("OTHER=x\n", 1), "OTHER=x\nINTERFACE=1\n");
    EXPECT_EQ(withInterfaceMask("INTERFACE=1\ninterface=2\n", 0), "INTERFACE=0\n");
    EXPECT_EQ(withInterfaceMask("INTERFACE=1\n", 4294967295u), "INTERFACE=4294967295\n");
}

TEST(DriveTableSettings, StoringReplacesTheFileWhole)
{
    char folder[] = "/tmp/discport-settings-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    Environment tamrin("TAMRIN_HOME");
    tamrin.set(folder);
    {
        std::ofstream(std::string(folder) + "/Discport.ini") << "KEEP=1\nINTERFACE=3\n";
    }
    ASSERT_TRUE(storeInterfaceMask(1));
    EXPECT_EQ(readStoredInterfaceMask(), 1u);
    std::ifstream in(std::string(folder) + "/Discport.ini");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "KEEP=1\nINTERFACE=1\n");
    size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
        ++files;
    EXPECT_EQ(files, 1u); // no temporary file left behind
    std::filesystem::remove_all(folder);
}

TEST(DriveTableSettings, UnwritableFolderIsNoCrash)
{
    Environment tamrin("TAMRIN_HOME");
    tamrin.set("/proc/no-such-folder/tamrin");
    EXPECT_FALSE(storeInterfaceMask(1));
    EXPECT_FALSE(readStoredInterfaceMask());
}

} // namespace
} // namespace discport::testing
