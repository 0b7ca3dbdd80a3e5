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

// A value out of range names the real bounds, not a floating-point limit.
TEST(Arguments, OutOfRangeValuesNameTheirBounds)
{
    const struct
    {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"frames", "a.str", "--null", "--first", "0"},
         "--first: Value 0 is not a whole number from 1 to 4294967295"},
        {{"units", "a.str", "--limit", "0"},
         "--limit: Value 0 is not a whole number from 1 to 18446744073709551615"},
        {{"units", "a.cue", "--stream", "-1"}, "--stream: Value -1 is not a whole number from 1 to"},
        {{"frames", "a.str", "--null", "--stretch", "6"},
         "--stretch: Value 6 is not a whole number from 0 to 5"},
        {{"frames", "a.str", "--null", "--count", "99999999999"}, "from 1 to 4294967295"},
        {{"scan", "a.cue", "--retries", "101"}, "--retries: Value 101 is not a whole number from 1 to 100"},
        {{"audio", "a.str", "--rate", "999"}, "--rate: Value 999 is not a whole number from 1000 to 384000"},
        {{"cdaz", "edit", "x", "--hide", "0"}, "--hide: Value 0 is not a whole number from 1 to"},
    };
    for (const auto& c : cases) {
        const RunResult result = runCli(c.args);
        EXPECT_EQ(result.status, kExitUsage) << c.args[0];
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        EXPECT_EQ(result.err.find("0.000000"), std::string::npos) << result.err;
    }
}

TEST(Arguments, HelpAndVersionSucceed)
{
    const RunResult result = runCli({"--help"});
    EXPECT_EQ(result.status, kExitOk) << result.err;
    for (const char* command : {"plugins", "probe", "units", "frames", "audio", "drives", "toc", "volume",
                                "read", "scan", "settings", "cdaz", "analyze", "identify"})
        EXPECT_NE(result.out.find(command), std::string::npos) << result.out;
    // The exit statuses are documented.
    EXPECT_NE(result.out.find("Exit status: 0 when"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("2 when the command line is wrong"), std::string::npos) << result.out;

    const RunResult version = runCli({"--version"});
    EXPECT_EQ(version.status, kExitOk) << version.err;
    EXPECT_EQ(version.out.rfind("tamrin-cli ", 0), 0u) << version.out;

    // An enumerated option shows its words, not the values they stand for.
    const RunResult scan = runCli({"scan", "--help"});
    EXPECT_NE(scan.out.find("--on-error abort|retry|ignore"), std::string::npos) << scan.out;
    EXPECT_EQ(scan.out.find("->"), std::string::npos) << scan.out;
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
