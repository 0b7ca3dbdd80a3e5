// PlbConvertGOGO at 128 kbit/s joint stereo on 40 passes of a test movie (about two minutes of
// 37800 Hz stereo XA sound), timed in the process, against ffmpeg encoding the same movie's sound
// with libmp3lame at 128 kbit/s as a whole process: as the plain command (ffmpeg chooses the
// output rate) and at 44100 Hz as ours is. Both decode to the same length (same_length).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench_support.h"
#include "streamkit/lbr.h"
#include "tamlib/convert.h"

namespace {

constexpr const char* kMovie = TAMRIN_TEST_DATA "/movies/mv1_v2_320x240_15fps_xa37800s.str";
constexpr int kCopies = 40;

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double childCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Processor seconds of one run of a shell command (the shell's included), or -1.
double commandCpuSeconds(const std::string& command)
{
    const double before = childCpuSeconds();
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0)
        return -1;
    return childCpuSeconds() - before;
}

// ffprobe's duration of a file, or -1.
double duration(const std::string& file)
{
    const std::string command =
        "ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 " + bench::quoted(file);
    double seconds = -1;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        if (std::fscanf(pipe, "%lf", &seconds) != 1)
            seconds = -1;
        ::pclose(pipe);
    }
    return seconds;
}

void BM_Mp3VersusFfmpeg(benchmark::State& state)
{
    static const std::string movie = bench::repeatMovie(kMovie, kCopies, "/tmp/tamrin_bench_mp3_movie.str");
    StrInfo info{};
    PluginBinding* binding = LbrOpenPSR("Filmfile.psr");
    const bool described = binding && LbrGetStrFileInfo(binding, movie.c_str(), &info) == 1;
    if (binding)
        LbrClosePSR(binding);
    if (movie.empty() || !described || !PlbIsGogo(nullptr, nullptr)) {
        state.SkipWithError("no movie, no movie plugin or no LAME");
        return;
    }
    const std::string ours = "/tmp/tamrin_bench_mp3_ours.mp3";
    const std::string theirs = "/tmp/tamrin_bench_mp3_ffmpeg.mp3";
    PlbMp3Settings settings{};
    std::snprintf(settings.outputPath, sizeof settings.outputPath, "%s", ours.c_str());
    settings.bitRate = 128;
    settings.channelMode = 2;
    double cpu = 0;
    for (auto _ : state) {
        const double cpuBefore = cpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        if (PlbConvertGOGO("Filmfile.psr", movie.c_str(), &info, &settings, nullptr, nullptr) !=
            PLB_CONV_OK) {
            state.SkipWithError("the conversion failed");
            return;
        }
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        cpu += cpuSeconds() - cpuBefore;
    }
    const std::string ffmpeg =
        "ffmpeg -nostdin -v error -y -i " + bench::quoted(movie) + " -vn -c:a libmp3lame -b:a 128k ";
    const double plain = bench::medianSeconds(ffmpeg + bench::quoted(theirs));
    const double at44100 = bench::medianSeconds(ffmpeg + "-ar 44100 " + bench::quoted(theirs));
    // Processor time, which depends little on what else the machine runs: ours once more with
    // LAME's own low-pass filter (switch 0x02), as ffmpeg runs LAME, and ffmpeg at 44100 Hz.
    settings.switches = PLB_MP3_LOWPASS_128;
    const double cpuBefore = cpuSeconds();
    PlbConvertGOGO("Filmfile.psr", movie.c_str(), &info, &settings, nullptr, nullptr);
    state.counters["cpu_lowpass_s"] = cpuSeconds() - cpuBefore;
    const double ffmpegCpu = commandCpuSeconds(ffmpeg + "-ar 44100 " + bench::quoted(theirs));
    state.counters["ffmpeg44100_cpu_s"] = ffmpegCpu;
    if (ffmpegCpu > 0)
        state.counters["cpu_vs_ffmpeg"] = cpu / double(state.iterations()) / ffmpegCpu;
    const double sound = duration(ours);
    state.counters["sound_s"] = sound;
    state.counters["cpu_s"] = cpu / double(state.iterations());
    state.counters["ffmpeg_s"] = plain;
    state.counters["ffmpeg44100_s"] = at44100;
    state.counters["same_length"] = std::abs(duration(theirs) - sound) < 0.1 ? 1 : 0;
    state.counters["realtime_x"] =
        benchmark::Counter(sound * double(state.iterations()), benchmark::Counter::kIsRate);
    std::error_code ignored;
    std::filesystem::remove(ours, ignored);
    std::filesystem::remove(theirs, ignored);
}
BENCHMARK(BM_Mp3VersusFfmpeg)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
