// Reading a movie file unit by unit through the stream layer and the movie-file plugin,
// against ffmpeg demuxing the same file (stream copy into the null muxer) in the same run.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench_support.h"
#include "streamkit/lbr.h"

namespace {

constexpr size_t kHeader = 44, kSector = 2352;
constexpr int kCopies = 20;

// A longer movie: the sample's sectors repeated, with the frame numbers carried on.
std::string makeLongMovie()
{
    return bench::repeatMovie(TAMRIN_TEST_DATA "/movies/mv1_v2_320x240_15fps_xa37800s.str", kCopies,
                              "/tmp/tamrin_bench_movie.str");
}

const std::string& longMovie()
{
    static const std::string path = makeLongMovie();
    return path;
}

void BM_ReadMovieUnits(benchmark::State& state)
{
    const std::string& path = longMovie();
    if (path.empty()) {
        state.SkipWithError("sample movie missing");
        return;
    }
    PluginBinding* binding = LbrOpenPSR("Filmfile.psr");
    StrInfo info{};
    if (!binding || !LbrGetStrFileInfo(binding, path.c_str(), &info)) {
        state.SkipWithError("movie plugin did not take the file");
        return;
    }
    LbrClosePSR(binding);
    std::vector<uint8_t> buffer(PSR_READ_HEADER_BYTES + (1 << 20));
    auto* record = reinterpret_cast<PsrReadRecord*>(buffer.data());
    int64_t units = 0;
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        StreamState* stream = LbrOpenStream("Filmfile.psr", path.c_str(), 0, &info, 3);
        while (LbrReadStream(stream, 0, record)) {
            benchmark::DoNotOptimize(record->payload[0]);
            ++units;
        }
        LbrCloseStream(stream);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    const double fileBytes = double(kHeader + size_t(kCopies) * 450 * kSector);
    state.SetBytesProcessed(int64_t(fileBytes) * state.iterations());
    state.counters["units"] = double(units) / double(state.iterations());
    // Whole-process time of ffmpeg reading every packet of the same file.
    static const double ffmpeg = bench::medianSeconds(
        "ffmpeg -nostdin -v error -i " + bench::quoted(path) + " -map 0 -c copy -f null -");
    state.counters["ffmpeg_s"] = ffmpeg;
    if (ffmpeg > 0)
        state.counters["time_vs_ffmpeg"] = seconds / double(state.iterations()) / ffmpeg;
}
BENCHMARK(BM_ReadMovieUnits)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
