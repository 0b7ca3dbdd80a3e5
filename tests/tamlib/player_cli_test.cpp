// tamrin-cli play, run as a child process on the null sound device: the JSON lines it writes
// for each notification and its summary, the options that move the clock, and its failures.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "player_watch.h"

namespace {

using nlohmann::json;
using playertest::commandOutput;

struct CliRun
{
    int status = -1;
    std::vector<json> lines;
};

CliRun play(const std::string& arguments)
{
    const std::string command = std::string(TAMRIN_OUT_DIR) + "/tamrin-cli play " + arguments + " 2>/dev/null";
    CliRun run;
    int status = 0;
    const std::string text = commandOutput(command, status);
    if (status == -1)
        return run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        run.lines.push_back(json::parse(line, nullptr, false));
    return run;
}

#if defined(__SANITIZE_THREAD__)
constexpr bool kFullSpeed = false; // decoding is many times slower under ThreadSanitizer
#else
constexpr bool kFullSpeed = true;
#endif

const std::string kMovie = std::string(TAMRIN_TEST_DATA) + "/movies/mv1_v2_320x240_15fps_xa37800s.str";

TEST(PlayCommand, JsonLinesAndSummary)
{
    struct Case
    {
        const char* options;
        int64_t wallMs; // expected wall time of the summary
    } cases[] = {
        {"--driver null", 3040},
        {"--driver null --size 640x480 --volume 50", 3040},
        {"--driver null --from 2000 --tempo 200", 520},
        {"--untimed", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        const CliRun run = play("--json " + std::string(c.options) + " " + kMovie);
        ASSERT_EQ(run.status, 0);
        ASSERT_GE(run.lines.size(), 3u);
        int ends = 0;
        int64_t lastMs = -1;
        for (size_t i = 0; i + 1 < run.lines.size(); ++i) {
            const json& line = run.lines[i];
            ASSERT_TRUE(line.is_object()) << i;
            if (line["event"] == "end") {
                ends++;
            } else {
                ASSERT_EQ(line["event"], "position");
                EXPECT_GE(line["ms"].get<int64_t>(), lastMs) << "positions never go back while playing";
                lastMs = line["ms"].get<int64_t>();
            }
        }
        const json& summary = run.lines.back();
        ASSERT_EQ(summary["event"], "summary");
        EXPECT_EQ(ends, 1);
        EXPECT_EQ(summary["endMessages"], 1);
        EXPECT_EQ(summary["positionMs"], summary["lengthMs"]);
        EXPECT_GE(summary["lengthMs"].get<int64_t>(), 3000);
        const int64_t frames = summary["framesShown"].get<int64_t>() + summary["framesDropped"].get<int64_t>();
        EXPECT_GE(frames, c.wallMs == 520 ? 15 : 45);
        if (c.wallMs) {
            EXPECT_NEAR(double(summary["wallMs"].get<int64_t>()), double(c.wallMs), c.wallMs * 0.05 + 30);
        } else if (kFullSpeed) {
            EXPECT_LT(summary["wallMs"].get<int64_t>(), 1500);
        }
    }
}

TEST(PlayCommand, FailuresAreReported)
{
    EXPECT_EQ(play("--driver null /no/such/movie.str").status, 1);
    EXPECT_EQ(play("--driver null --size 0x10 " + kMovie).status, 2);
    EXPECT_EQ(play("--driver oss " + kMovie).status, 2);
    EXPECT_EQ(play("--driver null --tempo 5 " + kMovie).status, 2);
}

} // namespace
