// Picture decoding speed: 320x240 frames of bitstream version 2 (mv1) and version 3 (mv2)
// decoded again and again into one reused 24-bit picture, in frames per second; and, measured
// in the same run, ffmpeg's single-threaded decoder on the same pictures as a whole process.
//
// ffmpeg cannot loop an STR file (-stream_loop fails on it with "Operation not permitted" and
// stops after one pass), so its input is the movie's sectors repeated 20 times into one file
// without the header, frame numbers carried on: the same 20 passes that
// `tamrin-cli frames --null --repeat 20` makes.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench_support.h"
#include "mdec/bitstream.h"
#include "mdec/idct.h"
#include "mdec/mdec_tables.h"
#include "mdec/reconstruct.h"
#include "streamkit/lbr.h"

namespace {

constexpr size_t kHeader = 44, kSector = 2352;
constexpr int kPasses = 20;
constexpr const char* kMovies[] = {
    "mv1_v2_320x240_15fps_xa37800s.str",
    "mv2_v3_320x240_15fps_xa37800s_ch1.str",
    "mv3_v2_256x224_15fps_xa18900m.str",
    "mv4_v3_160x112_15fps_x1_xa37800s.str",
};

std::string moviePath(int index)
{
    return std::string(TAMRIN_TEST_DATA "/movies/") + kMovies[index];
}

std::string makeLongMovie(int index)
{
    return bench::repeatMovie(moviePath(index), kPasses, "/tmp/tamrin_bench_long_" + std::string(kMovies[index]));
}

const std::string& longMovie(int index)
{
    static const std::string paths[] = {makeLongMovie(0), makeLongMovie(1), makeLongMovie(2),
                                        makeLongMovie(3)};
    return paths[index];
}

// The same passes as raw sectors without the header, as ffmpeg reads all of them.
const std::string& longSectors(int index)
{
    auto make = [](int i) {
        return bench::repeatMovie(moviePath(i), kPasses,
                                  "/tmp/tamrin_bench_sectors_" + std::string(kMovies[i]), false);
    };
    static const std::string paths[] = {make(0), make(1), make(2), make(3)};
    return paths[index];
}

// Whole-process seconds of ffmpeg's single-threaded decode of the long movie (kPasses passes).
double ffmpegSeconds(int index)
{
    static double seconds[4] = {0, 0, 0, 0};
    if (seconds[index] == 0)
        seconds[index] = bench::medianSeconds("ffmpeg -nostdin -v error -threads 1 -i " +
                                              bench::quoted(longSectors(index)) + " -an -f null -");
    return seconds[index];
}

// The video units of a movie, each a complete record, and the stream they came from (the
// decoder needs an open stream).
struct MovieUnits
{
    StreamState* stream = nullptr;
    std::vector<std::vector<uint8_t>> records;

    ~MovieUnits() { LbrCloseStream(stream); }
};

bool loadUnits(int index, MovieUnits& units)
{
    const std::string path = moviePath(index);
    PluginBinding* binding = LbrOpenPSR("Filmfile.psr");
    StrInfo info{};
    const bool described = binding && LbrGetStrFileInfo(binding, path.c_str(), &info);
    LbrClosePSR(binding);
    if (!described)
        return false;
    units.stream = LbrOpenStream("Filmfile.psr", path.c_str(), 0, &info, LBR_WANT_VIDEO);
    if (!units.stream)
        return false;
    std::vector<uint8_t> buffer(PSR_READ_HEADER_BYTES + (1 << 20));
    auto* record = reinterpret_cast<PsrReadRecord*>(buffer.data());
    while (LbrReadStream(units.stream, LBR_WANT_VIDEO, record) == 1) {
        units.records.emplace_back(buffer.begin(),
                                   buffer.begin() + PSR_READ_HEADER_BYTES + record->payloadBytes);
        LbrFreeReadBuffer(units.stream, record);
    }
    return !units.records.empty();
}

void BM_DecodeFrame(benchmark::State& state)
{
    const int index = int(state.range(0));
    MovieUnits units;
    if (!loadUnits(index, units)) {
        state.SkipWithError("test movie missing or not readable");
        return;
    }
    FrameDib* picture = nullptr;
    size_t next = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        auto* record = reinterpret_cast<PsrReadRecord*>(units.records[next].data());
        picture = LbrDecodeFrame(units.stream, record, 24, 0, picture);
        if (!picture) {
            state.SkipWithError("a frame could not be decoded");
            break;
        }
        benchmark::DoNotOptimize(LbrPicturePixels(picture)[0]);
        next = (next + 1) % units.records.size();
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    LbrFreeBitmap(picture);
    state.SetLabel(kMovies[index]);
    const double fps = seconds > 0 ? double(state.iterations()) / seconds : 0;
    state.counters["fps"] = fps;
    const double ffmpeg = ffmpegSeconds(index);
    if (ffmpeg > 0) {
        const double ffmpegFps = double(kPasses) * double(units.records.size()) / ffmpeg;
        state.counters["ffmpeg_fps"] = ffmpegFps;
        // Decoding alone here against ffmpeg's whole process (start-up, demuxing, decoding).
        state.counters["fps_vs_ffmpeg"] = fps / ffmpegFps;
    }
}
BENCHMARK(BM_DecodeFrame)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);

// The decoder's stages one by one over the frames of a movie, in microseconds per frame:
//   0 bitstream   compressed payload to run-level codes
//   1 transform   codes to coefficients and the inverse transform of every block
//   2 picture     codes to a 24-bit picture: stage 1 and the colour conversion
//   3 coefficients  one pass, compressed payload straight to the coefficients of every block
//   4 one-pass transform  stage 3 and the inverse transform of every block
//   5 one-pass picture    the whole one-pass decode into a 24-bit picture, as frames decode
// (colour conversion alone = picture - transform; the one-pass transform alone = stage 4 - 3).
void BM_Stage(benchmark::State& state)
{
    using namespace streamkit::mdec;
    const int index = int(state.range(0)), stage = int(state.range(1));
    MovieUnits units;
    if (!loadUnits(index, units)) {
        state.SkipWithError("test movie missing or not readable");
        return;
    }
    struct Frame
    {
        const PsrReadRecord* record;
        std::vector<uint16_t> codes;
    };
    std::vector<Frame> frames;
    for (const auto& bytes : units.records) {
        const auto* record = reinterpret_cast<const PsrReadRecord*>(bytes.data());
        Frame frame{record, {}};
        if (!decodeBitstream(record->payload, record->payloadBytes, frame.codes))
            continue;
        frames.push_back(std::move(frame));
    }
    if (frames.empty()) {
        state.SkipWithError("no frame decodes");
        return;
    }
    const int32_t width = int32_t(frames[0].record->width), height = int32_t(frames[0].record->height);
    FrameDib* picture = LbrAllocBitmap(width, height, 1, 24, nullptr);
    const int blocks = kBlocksPerMacroblock * ((width + 15) / 16) * ((height + 15) / 16);
    std::vector<uint16_t> scratch;
    size_t next = 0;
    for (auto _ : state) {
        const Frame& frame = frames[next];
        const CodeSpan codes{frame.codes.data() + kRunLevelHeaderWords,
                             size_t(frame.codes[0]) * 2 + kGuardCodes};
        if (stage == 0) {
            decodeBitstream(frame.record->payload, frame.record->payloadBytes, scratch);
            benchmark::DoNotOptimize(scratch.data());
        } else if (stage == 1) {
            alignas(32) int32_t block[64] = {};
            int16_t samples[64];
            const uint16_t* code = codes.codes;
            const uint16_t* end = codes.codes + codes.count;
            for (int b = 0; b < blocks; ++b) {
                const int last = dequantiseBlock(code, end, block);
                if (last < 0)
                    continue;
                inverseTransform(block, activeSize(last), samples);
                benchmark::DoNotOptimize(samples);
                std::fill(block, block + 64, 0);
            }
        } else if (stage == 2) {
            reconstructPicture(codes, width, height, picture);
            benchmark::DoNotOptimize(LbrPicturePixels(picture)[0]);
        } else if (stage == 5) {
            BlockDecoder decoder;
            decoder.open(frame.record->payload, frame.record->payloadBytes, size_t(blocks));
            if (!reconstructPicture(decoder, width, height, picture))
                state.SkipWithError("a frame needs the two passes");
            benchmark::DoNotOptimize(LbrPicturePixels(picture)[0]);
        } else {
            BlockDecoder decoder;
            decoder.open(frame.record->payload, frame.record->payloadBytes, size_t(blocks));
            alignas(32) int32_t block[64] = {};
            int16_t samples[64];
            for (int b = 0; b < blocks; ++b) {
                const int last = decoder.next(block);
                if (last < 0)
                    continue;
                if (stage == 4)
                    inverseTransform(block, activeSize(last), samples);
                benchmark::DoNotOptimize(samples);
                benchmark::DoNotOptimize(block);
                std::fill(block, block + 64, 0);
            }
        }
        next = (next + 1) % frames.size();
    }
    LbrFreeBitmap(picture);
    static constexpr const char* kStages[] = {"bitstream",    "transform",          "picture",
                                              "coefficients", "one-pass transform", "one-pass picture"};
    state.SetLabel(std::string(kMovies[index]) + " " + kStages[stage]);
}
BENCHMARK(BM_Stage)->ArgsProduct({{0, 1, 2, 3}, {0, 1, 2, 3, 4, 5}})->Unit(benchmark::kMicrosecond);

// Whole processes side by side: `tamrin-cli frames --null --repeat 20 MOVIE` (and one pass over
// the long movie, the very file ffmpeg reads) against ffmpeg's single-threaded decode of it.
void BM_WholeProcess(benchmark::State& state)
{
    const int index = int(state.range(0));
    const std::string cli = bench::quoted(TAMRIN_OUT_DIR "/tamrin-cli");
    const std::string repeated = cli + " frames --no-progress --null --repeat " + std::to_string(kPasses) +
                                 " " + bench::quoted(moviePath(index));
    const std::string single = cli + " frames --no-progress --null " + bench::quoted(longMovie(index));
    double tamrin = 0, tamrinLong = 0;
    for (auto _ : state) {
        tamrin = bench::medianSeconds(repeated);
        tamrinLong = bench::medianSeconds(single);
        state.SetIterationTime(tamrin > 0 ? tamrin : 0);
    }
    const double ffmpeg = ffmpegSeconds(index);
    if (tamrin <= 0 || tamrinLong <= 0 || ffmpeg <= 0) {
        state.SkipWithError("tamrin-cli or ffmpeg did not run");
        return;
    }
    state.SetLabel(kMovies[index]);
    state.counters["tamrin_repeat_s"] = tamrin;
    state.counters["tamrin_long_s"] = tamrinLong;
    state.counters["ffmpeg_s"] = ffmpeg;
    state.counters["speed_vs_ffmpeg"] = ffmpeg / tamrin;
    state.counters["speed_vs_ffmpeg_long"] = ffmpeg / tamrinLong;
}
BENCHMARK(BM_WholeProcess)->DenseRange(0, 3)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
