#include "session_fixture.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tamlib/environment.h"

namespace tabulortest {

void SessionOnDisc::SetUp()
{
    ASSERT_TRUE(m_home.made());
    if (const char* home = std::getenv("TAMRIN_HOME"))
        m_previousHome = home;
    ::setenv("TAMRIN_HOME", m_home.path().c_str(), 1);
    const clitest::RunResult analysis =
        clitest::runCli({"analyze", "--no-progress", "--upload", "no",
                         (fs::path(TAMRIN_TEST_DATA) / "disc/psxdisc_a.cue").string()},
                        environment());
    ASSERT_EQ(analysis.status, clitest::kExitOk) << analysis.err;
    ASSERT_TRUE(fs::exists(analyze() / kDiscCdaz));
    fs::create_directories(elsewhere());
    m_started = PlbInitialize() != 0;
    ASSERT_TRUE(m_started);
}

void SessionOnDisc::TearDown()
{
    if (m_started)
        PlbTerminate();
    if (m_previousHome)
        ::setenv("TAMRIN_HOME", m_previousHome->c_str(), 1);
    else
        ::unsetenv("TAMRIN_HOME");
}

std::vector<std::string> SessionOnDisc::environment() const
{
    return {"TAMRIN_HOME=" + m_home.path().string()};
}

fs::path SessionOnDisc::outsideCopy(const std::string& name) const
{
    const fs::path copy = elsewhere() / name;
    fs::copy_file(analyze() / kDiscCdaz, copy, fs::copy_options::overwrite_existing);
    return copy;
}

std::vector<std::string> SessionOnDisc::analyzeList() const
{
    const clitest::RunResult listed = clitest::runCli({"cdaz", "list", "--json"}, environment());
    EXPECT_EQ(listed.status, clitest::kExitOk) << listed.err;
    std::vector<std::string> files;
    for (const json& entry : clitest::parseJson(listed))
        files.push_back(entry["file"].get<std::string>());
    std::sort(files.begin(), files.end());
    return files;
}

json SessionOnDisc::show(const fs::path& file) const
{
    const clitest::RunResult shown =
        clitest::runCli({"cdaz", "show", "--json", file.string()}, environment());
    EXPECT_EQ(shown.status, clitest::kExitOk) << shown.err;
    return shown.status == clitest::kExitOk ? clitest::parseJson(shown) : json::object();
}

std::string fileBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

} // namespace tabulortest
