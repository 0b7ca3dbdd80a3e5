// What the benchmarks share: timing an independent tool on the same input in the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace bench {

// Runs the shell command `runs` times (after one warm-up) and returns the median wall time in
// seconds, or a negative value when the command fails or is not installed.
double medianSeconds(const std::string& command, int runs = 5);

// Writes `copies` passes of a movie file (44-byte header + raw sectors) to `target`, with the
// frame numbers of the video sectors carried on, so that readers see one long movie; without
// the header when `withHeader` is false (ffmpeg reads a headed file only as far as its header
// says, one pass). The target path, or empty when the movie cannot be read or written.
std::string repeatMovie(const std::string& source, int copies, const std::string& target,
                        bool withHeader = true);

// Quotes a path for the shell.
std::string quoted(const std::string& path);

struct ChildRun
{
    double seconds = -1; // negative when the program could not be run or did not exit with 0
    long peakKiB = 0;    // the child's largest resident size
};

// Runs a program (args[0], a path) with its standard output into `outFile` and its errors
// dropped; the wall time and the child's peak resident size.
ChildRun runChild(const std::vector<std::string>& args, const std::string& outFile);

// A program against `cat FILE > /dev/null` over the same file, `runs` times each after a warm-up:
// the program's median wall time and largest peak resident size, and cat's median (negative
// when it failed). The program's seconds are negative when one of its runs failed.
struct VersusCat
{
    double seconds = -1;
    long peakKiB = 0;
    double catSeconds = -1;
};
VersusCat runAgainstCat(const std::vector<std::string>& args, const std::string& outFile,
                        const std::string& file, int runs);
// Reports one such run over an image of `bytes`: the iteration time and the counters image_MB,
// cat_MBps, NAME_MBps, NAME_vs_cat and NAME_peak_rss_MB. False, with the benchmark skipped as
// "tamrin-cli NAME failed", when the program failed.
bool reportAgainstCat(benchmark::State& state, const VersusCat& run, double bytes, const std::string& name);

} // namespace bench
