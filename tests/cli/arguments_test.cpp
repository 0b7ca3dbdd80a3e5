// A wrong command line is refused with status 2 and a message, and never reaches a plugin.
#include <gtest/gtest.h>

#include "cli_runner.h"

namespace clitest {
namespace {

void expectUsageError(const std::vector<std::string>& args)
{
    std::string shown;
    for (const std::string& arg : args)
        shown += " " + arg;
    SCOPED_TRACE("tamrin-cli" + shown);
    const RunResult result = runCli(args);
    EXPECT_EQ(result.status, kExitUsage) << result.err;
    EXPECT_FALSE(result.err.empty());
}

TEST(Arguments, WrongCommandLinesAreUsageErrors)
{
    expectUsageError({});
    expectUsageError({"frobnicate"});
    expectUsageError({"plugins", "--bogus"});
    expectUsageError({"plugins", "extra"});
    expectUsageError({"probe"});
    expectUsageError({"units"});
    expectUsageError({"units", "a.str", "b.str"});
    expectUsageError({"units", "a.str", "--limit", "0"});
    expectUsageError({"units", "a.str", "--limit", "-3"});
    expectUsageError({"units", "a.str", "--limit", "many"});
    expectUsageError({"units", "a.str", "--plugin"});
}

TEST(Arguments, HelpSucceedsAndNamesTheCommands)
{
    const RunResult result = runCli({"--help"});
    EXPECT_EQ(result.status, kExitOk) << result.err;
    for (const char* command : {"plugins", "probe", "units"})
        EXPECT_NE(result.out.find(command), std::string::npos) << result.out;
}

TEST(Arguments, CommandHelpListsItsOptions)
{
    const RunResult result = runCli({"units", "--help"});
    EXPECT_EQ(result.status, kExitOk) << result.err;
    for (const char* option : {"--json", "--plugin", "--limit"})
        EXPECT_NE(result.out.find(option), std::string::npos) << result.out;
}

} // namespace
} // namespace clitest
