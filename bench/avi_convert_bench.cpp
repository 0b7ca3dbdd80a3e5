// Uncompressed AVI conversion of a 320x240 movie with its sound, as a whole process (this program
// started again with --convert, which loads libtamlib and its AVI module as any program would)
// against ffmpeg writing the same kind of file single-threaded, measured in the same run; and the
// conversion alone, in this process, in milliseconds per frame.
//
// Both read the movie's sectors repeated 20 times (frame numbers carried on): this program the
// file with its header, ffmpeg the same sectors without it (it reads a headed file only as far as
// the header says).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "bench_support.h"
#include "streamkit/lbr.h"
#include "tamlib/convert.h"

namespace {

constexpr int kPasses = 20;
constexpr const char* kPlugin = "Filmfile.psr";
const std::string kSource = TAMRIN_TEST_DATA "/movies/mv1_v2_320x240_15fps_xa37800s.str";

const std::string& longMovie()
{
    static const std::string path = bench::repeatMovie(kSource, kPasses, "/tmp/tamrin_bench_avi_long.str");
    return path;
}

const std::string& longSectors()
{
    static const std::string path =
        bench::repeatMovie(kSource, kPasses, "/tmp/tamrin_bench_avi_sectors.str", false);
    return path;
}

// The movie's description and the settings that keep its size, rate and sound.
bool prepare(const std::string& movie, const std::string& out, StrInfo& info, PlbAviSettings& settings)
{
    PluginBinding* binding = LbrOpenPSR(kPlugin);
    if (!binding)
        return false;
    info = StrInfo{};
    const bool described = LbrGetStrFileInfo(binding, movie.c_str(), &info) == 1;
    LbrClosePSR(binding);
    if (!described)
        return false;
    settings = PlbAviSettings{};
    std::snprintf(settings.outputPath, sizeof settings.outputPath, "%s", out.c_str());
    settings.width = info.width;
    settings.height = info.height;
    settings.frameRate = info.frameRate;
    settings.stretchMode = 4;
    settings.audio = 1;
    settings.channels = info.channels;
    settings.bitsPerSample = 16;
    settings.sampleRate = info.sampleRate;
    return true;
}

// One conversion, optionally to another picture size ("WxH": files past 1 GB for a check of the
// OpenDML index by hand).
int convertOnce(const std::string& movie, const std::string& out, const char* size)
{
    StrInfo info;
    PlbAviSettings settings;
    if (!prepare(movie, out, info, settings))
        return 2;
    if (size && std::sscanf(size, "%ux%u", &settings.width, &settings.height) != 2)
        return 2;
    return PlbConvertAVI(kPlugin, movie.c_str(), &info, &settings, nullptr, nullptr);
}

// Median user + system seconds of a shell command's processes: steadier than the wall time on a
// shared machine, where writing back 200 MB of file makes the wall time swing.
double medianCpuSeconds(const std::string& command, int runs = 5)
{
    const auto children = [] {
        rusage usage{};
        ::getrusage(RUSAGE_CHILDREN, &usage);
        return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    };
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const double before = children();
        if (std::system((command + " >/dev/null 2>&1").c_str()) != 0)
            return -1.0;
        times.push_back(children() - before);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

std::string selfPath()
{
    char path[4096] = {};
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, size_t(length)) : std::string();
}

void BM_ConvertInProcess(benchmark::State& state)
{
    const std::string out = "/tmp/tamrin_bench_avi_inprocess.avi";
    StrInfo info;
    PlbAviSettings settings;
    if (longMovie().empty() || !prepare(longMovie(), out, info, settings)) {
        state.SkipWithError("sample movie missing");
        return;
    }
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (PlbConvertAVI(kPlugin, longMovie().c_str(), &info, &settings, nullptr, nullptr) != PLB_CONV_OK) {
            state.SkipWithError("conversion failed");
            return;
        }
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(elapsed);
        seconds += elapsed;
    }
    state.counters["frames"] = info.frameCount;
    state.counters["ms_per_frame"] = seconds * 1000 / (double(info.frameCount) * double(state.iterations()));
    std::error_code ignored;
    std::filesystem::remove(out, ignored);
}
BENCHMARK(BM_ConvertInProcess)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_WholeProcessVersusFfmpeg(benchmark::State& state)
{
    const std::string ours = "/tmp/tamrin_bench_avi_ours.avi";
    const std::string theirs = "/tmp/tamrin_bench_avi_ffmpeg.avi";
    StrInfo info;
    PlbAviSettings settings;
    if (longMovie().empty() || longSectors().empty() || !prepare(longMovie(), ours, info, settings)) {
        state.SkipWithError("sample movie missing");
        return;
    }
    const std::string command =
        bench::quoted(selfPath()) + " --convert " + bench::quoted(longMovie()) + " " + bench::quoted(ours);
    const std::string ffmpeg = "ffmpeg -nostdin -v error -y -threads 1 -i " + bench::quoted(longSectors()) +
                               " -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le " + bench::quoted(theirs);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) {
            state.SkipWithError("conversion failed");
            return;
        }
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    const double tamrin = bench::medianSeconds(command);
    const double other = bench::medianSeconds(ffmpeg);
    state.counters["frames"] = info.frameCount;
    state.counters["tamrin_s"] = tamrin;
    state.counters["ffmpeg_s"] = other;
    state.counters["tamrin_ms_per_frame"] = tamrin * 1000 / info.frameCount;
    state.counters["ffmpeg_ms_per_frame"] = other * 1000 / info.frameCount;
    if (tamrin > 0 && other > 0)
        state.counters["speed_x_ffmpeg"] = other / tamrin;
    const double tamrinCpu = medianCpuSeconds(command);
    const double otherCpu = medianCpuSeconds(ffmpeg);
    state.counters["tamrin_cpu_ms_per_frame"] = tamrinCpu * 1000 / info.frameCount;
    state.counters["ffmpeg_cpu_ms_per_frame"] = otherCpu * 1000 / info.frameCount;
    if (tamrinCpu > 0 && otherCpu > 0)
        state.counters["cpu_x_ffmpeg"] = otherCpu / tamrinCpu;
    // Both files hold the same amount of picture data, or the times do not compare.
    std::error_code error;
    const auto ourBytes = std::filesystem::file_size(ours, error);
    const auto theirBytes = std::filesystem::file_size(theirs, error);
    state.counters["size_ratio"] = theirBytes ? double(ourBytes) / double(theirBytes) : 0;
    std::filesystem::remove(ours, error);
    std::filesystem::remove(theirs, error);
}
BENCHMARK(BM_WholeProcessVersusFfmpeg)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "--convert") == 0)
        return convertOnce(argv[2], argv[3], argc == 5 ? argv[4] : nullptr);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
