// PlbConvertCSTR on 40 passes of a test movie (about two minutes, 47 MB), against reading the same
// stream unit by unit with a CRC-32 of every payload, in the same process and in the same run
// (read_ms, write_over_read), and against tamrin-cli units on the file as a whole process
// (cli_units_ms, write_over_cli). Writing should cost little beyond the reading.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench_support.h"
#include "streamkit/lbr.h"
#include "tamlib/convert.h"
#include "tamlib/unit_buffer.h"

namespace {

constexpr const char* kMovie = TAMRIN_TEST_DATA "/movies/mv1_v2_320x240_15fps_xa37800s.str";
constexpr int kCopies = 40;

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Every unit read, its payload checksummed, as the units command does: seconds, or -1.
double readSeconds(const std::string& movie, StrInfo info)
{
    const auto start = Clock::now();
    StreamState* stream =
        LbrOpenStream("Filmfile.psr", movie.c_str(), 0, &info, LBR_WANT_VIDEO | LBR_WANT_AUDIO);
    if (!stream)
        return -1;
    tamlib::UnitBuffer buffer;
    uLong crc = 0;
    while (LbrReadStream(stream, 0, buffer.record()) == 1) {
        crc ^= ::crc32(0, buffer.record()->payload, uInt(buffer.record()->payloadBytes));
        LbrFreeReadBuffer(stream, buffer.record());
    }
    LbrCloseStream(stream);
    benchmark::DoNotOptimize(crc);
    return since(start);
}

void BM_CstrVersusReading(benchmark::State& state)
{
    static const std::string movie = bench::repeatMovie(kMovie, kCopies, "/tmp/tamrin_bench_cstr_movie.str");
    StrInfo info{};
    PluginBinding* binding = LbrOpenPSR("Filmfile.psr");
    const bool described = binding && LbrGetStrFileInfo(binding, movie.c_str(), &info) == 1;
    if (binding)
        LbrClosePSR(binding);
    if (movie.empty() || !described) {
        state.SkipWithError("no movie or no movie plugin");
        return;
    }
    const std::string out = "/tmp/tamrin_bench_cstr.cstr";
    PlbCstrSettings settings{};
    std::snprintf(settings.outputPath, sizeof settings.outputPath, "%s", out.c_str());
    double write = 0, read = 0;
    for (auto _ : state) {
        const double r = readSeconds(movie, info);
        const auto start = Clock::now();
        if (r < 0 || PlbConvertCSTR("Filmfile.psr", movie.c_str(), &info, &settings, nullptr, nullptr) !=
                         PLB_CONV_OK) {
            state.SkipWithError("the conversion failed");
            return;
        }
        const double w = since(start);
        state.SetIterationTime(w);
        write += w;
        read += r;
    }
    const double n = double(state.iterations());
    const double cli = bench::medianSeconds(std::string(TAMRIN_CLI) + " units --json --no-progress " +
                                            bench::quoted(movie) + " >/dev/null");
    state.counters["read_ms"] = read / n * 1000;
    state.counters["write_ms"] = write / n * 1000;
    state.counters["write_over_read"] = write / read;
    state.counters["cli_units_ms"] = cli * 1000;
    if (cli > 0)
        state.counters["write_over_cli"] = write / n / cli;
    state.counters["file_MB"] = double(std::filesystem::file_size(out)) / 1e6;
    std::error_code ignored;
    std::filesystem::remove(out, ignored);
}
BENCHMARK(BM_CstrVersusReading)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
