#include "bench_support.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

extern char** environ;

namespace bench {

double medianSeconds(const std::string& command, int runs)
{
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0)
        return -1.0;
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (std::system((command + " >/dev/null 2>&1").c_str()) != 0)
            return -1.0;
        times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

std::string repeatMovie(const std::string& source, int copies, const std::string& target, bool withHeader)
{
    constexpr size_t kHeader = 44, kSector = 2352;
    std::ifstream in(source, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < kHeader + kSector)
        return {};
    const size_t sectors = (bytes.size() - kHeader) / kSector;
    auto isSound = [](const char* sector) { return (sector[18] & 0x7F) == 0x64; };
    uint32_t lastFrame = 0;
    for (size_t s = 0; s < sectors; ++s) {
        const char* sector = &bytes[kHeader + s * kSector];
        uint32_t frame;
        std::memcpy(&frame, sector + 32, 4);
        if (!isSound(sector))
            lastFrame = std::max(lastFrame, frame);
    }
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    if (withHeader)
        out.write(bytes.data(), kHeader);
    for (int copy = 0; copy < copies; ++copy) {
        for (size_t s = 0; s < sectors; ++s) {
            char sector[kSector];
            std::memcpy(sector, &bytes[kHeader + s * kSector], kSector);
            if (!isSound(sector)) {
                uint32_t frame;
                std::memcpy(&frame, sector + 32, 4);
                frame += uint32_t(copy) * lastFrame;
                std::memcpy(sector + 32, &frame, 4);
            }
            out.write(sector, kSector);
        }
    }
    return out.good() ? target : std::string();
}

std::string quoted(const std::string& path)
{
    std::string out = "'";
    for (char c : path)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

ChildRun runChild(const std::vector<std::string>& args, const std::string& outFile)
{
    ChildRun run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return run;
    int status = 0;
    struct rusage usage = {};
    if (::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakKiB = usage.ru_maxrss;
    return run;
}

VersusCat runAgainstCat(const std::vector<std::string>& args, const std::string& outFile,
                        const std::string& file, int runs)
{
    VersusCat result;
    result.catSeconds = medianSeconds("cat " + quoted(file) + " > /dev/null", runs);
    runChild(args, outFile); // warm-up
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const ChildRun run = runChild(args, outFile);
        if (run.seconds < 0)
            return result;
        times.push_back(run.seconds);
        result.peakKiB = std::max(result.peakKiB, run.peakKiB);
    }
    std::sort(times.begin(), times.end());
    result.seconds = times[times.size() / 2];
    return result;
}

bool reportAgainstCat(benchmark::State& state, const VersusCat& run, double bytes, const std::string& name)
{
    if (run.seconds < 0) {
        state.SkipWithError(("tamrin-cli " + name + " failed").c_str());
        return false;
    }
    state.SetIterationTime(run.seconds);
    const double megabytes = bytes / 1e6;
    state.counters["image_MB"] = megabytes;
    state.counters["cat_MBps"] = run.catSeconds > 0 ? megabytes / run.catSeconds : 0;
    state.counters[name + "_MBps"] = megabytes / run.seconds;
    state.counters[name + "_vs_cat"] = run.catSeconds > 0 ? run.catSeconds / run.seconds : 0;
    state.counters[name + "_peak_rss_MB"] = double(run.peakKiB) / 1024;
    return true;
}

} // namespace bench
