// The sound decoders, one benchmark each, in bytes of PCM written per second, on units built
// from the sound test files; the conversion the player applies to movie sound; and the whole
// tamrin-cli audio process against ffmpeg decoding the same long movie's sound, in the same run.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench_support.h"
#include "sound_files.h"
#include "streamkit/lbr.h"

namespace {

using soundtest::Unit;

const std::filesystem::path kData = TAMRIN_TEST_DATA;
constexpr const char* kMovie = TAMRIN_TEST_DATA "/movies/mv1_v2_320x240_15fps_xa37800s.str";

// A stream of the movie plugin whose description is then set to the sound format a benchmark
// needs: the decoders take channels and rate from the stream, not from the units.
class BenchStream
{
  public:
    BenchStream(uint16_t channels, uint32_t sampleRate)
    {
        PluginBinding* binding = LbrOpenPSR("Filmfile.psr");
        StrInfo info{};
        if (!binding || !LbrGetStrFileInfo(binding, kMovie, &info)) {
            if (binding)
                LbrClosePSR(binding);
            return;
        }
        LbrClosePSR(binding);
        m_stream = LbrOpenStream("Filmfile.psr", kMovie, 0, &info, LBR_WANT_AUDIO);
        if (StrInfo* own = LbrGetStreamInfo(m_stream)) {
            own->channels = channels;
            own->sampleRate = sampleRate;
            own->audioFormat = 1;
            own->bitsPerSample = 16;
        }
    }
    ~BenchStream()
    {
        if (m_stream)
            LbrCloseStream(m_stream);
    }
    StreamState* get() const { return m_stream; }

  private:
    StreamState* m_stream = nullptr;
};

// Decodes every unit once per iteration, from a cleared history.
void decodeUnits(benchmark::State& state, std::vector<Unit>& units, uint16_t channels, uint32_t sampleRate)
{
    BenchStream stream(channels, sampleRate);
    if (!stream.get() || units.empty()) {
        state.SkipWithError("no stream or no units (test data or movie plugin missing)");
        return;
    }
    size_t largest = 0;
    for (const Unit& unit : units)
        largest = std::max(largest, unit.payloadBytes());
    std::vector<uint8_t> pcm(largest * 4 + 1024);
    int64_t bytes = 0;
    for (auto _ : state) {
        LbrSeekStream(stream.get(), LBR_SEEK_FLUSH_ONLY);
        for (Unit& unit : units) {
            const int32_t written =
                LbrDecodeAudio(stream.get(), unit.record(), pcm.data(), int32_t(pcm.size()));
            if (written <= 0) {
                state.SkipWithError("a unit did not decode");
                return;
            }
            bytes += written;
        }
        benchmark::DoNotOptimize(pcm.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(bytes);
    state.counters["units"] = double(units.size());
}

void BM_DecodeXa(benchmark::State& state)
{
    // 75 sectors of 37800 Hz stereo, one unit each.
    std::vector<Unit> units =
        soundtest::xaUnits(soundtest::readBytes(kData / "audio" / "xa1_37800_stereo.xa"));
    decodeUnits(state, units, 2, 37800);
}
BENCHMARK(BM_DecodeXa)->Unit(benchmark::kMicrosecond);

void BM_DecodeAdx(benchmark::State& state)
{
    const std::vector<uint8_t> file = soundtest::readBytes(kData / "audio" / "adx1_44100_stereo.adx");
    const auto adx = soundtest::parseAdx(file);
    std::vector<Unit> units;
    if (adx) {
        units = soundtest::adxUnits(file, *adx, 64);
        units.pop_back(); // the unit with the end block: every unit decodes in full
    }
    decodeUnits(state, units, 2, 44100);
}
BENCHMARK(BM_DecodeAdx)->Unit(benchmark::kMicrosecond);

void BM_DecodeSpu(benchmark::State& state)
{
    // Two channels in 2048-byte runs (kind 0x28), one left and one right run per unit.
    const std::vector<uint8_t> file = soundtest::readBytes(kData / "audio" / "spu2_22050_stereo_i2048.spu");
    std::vector<Unit> units = soundtest::splitUnits(0x28, file.data(), file.size(), 4096);
    decodeUnits(state, units, 2, 22050);
}
BENCHMARK(BM_DecodeSpu)->Unit(benchmark::kMicrosecond);

void BM_DecodePcm(benchmark::State& state)
{
    // The stereo XA reference as 16-bit PCM in 2048-byte runs per channel (kind 0x68).
    const auto pcm =
        soundtest::parseWave(soundtest::readBytes(kData / "references" / "xa1_37800_stereo.wav"));
    std::vector<Unit> units;
    constexpr size_t kRunFrames = 1024;
    for (size_t first = 0; pcm && first + kRunFrames <= pcm->frames(); first += kRunFrames) {
        std::vector<uint8_t> payload;
        for (int channel = 0; channel < 2; ++channel)
            for (size_t f = first; f < first + kRunFrames; ++f) {
                const auto sample = uint16_t(pcm->samples[2 * f + size_t(channel)]);
                payload.push_back(uint8_t(sample));
                payload.push_back(uint8_t(sample >> 8));
            }
        units.emplace_back(0x68, payload.data(), payload.size());
    }
    decodeUnits(state, units, 2, 37800);
}
BENCHMARK(BM_DecodePcm)->Unit(benchmark::kMicrosecond);

// The player's conversion of movie sound: 37800 Hz stereo to 44100 Hz stereo, a sector's PCM
// (8064 bytes) per call.
void BM_Convert37800To44100(benchmark::State& state)
{
    const auto pcm =
        soundtest::parseWave(soundtest::readBytes(kData / "references" / "xa1_37800_stereo.wav"));
    if (!pcm) {
        state.SkipWithError("reference missing");
        return;
    }
    const AudioFormat from{37800, 2, 16, 100, 0}, to{44100, 2, 16, 100, 0};
    const auto* input = reinterpret_cast<const uint8_t*>(pcm->samples.data());
    const size_t inputBytes = pcm->samples.size() * 2 / 8064 * 8064;
    std::vector<uint8_t> out(16384);
    AudioConvState conv{};
    int64_t bytes = 0;
    for (auto _ : state) {
        LbrConvAudioData(&conv, 0, &from, nullptr, &to, nullptr);
        for (size_t at = 0; at < inputBytes; at += 8064)
            bytes += LbrConvAudioData(&conv, 8064, &from, input + at, &to, out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_Convert37800To44100)->Unit(benchmark::kMicrosecond);

// A 21 MB movie (9000 sectors, 61 s of sound): the test movie's sectors repeated 20 times with
// the frame numbers carried on.
constexpr size_t kHeader = 44, kSector = 2352;
constexpr int kCopies = 20;

std::string makeLongMovie()
{
    return bench::repeatMovie(kMovie, kCopies, "/tmp/tamrin_bench_sound_movie.str");
}

double cpuSecondsOfChildren()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The median processor time (user and system, the shell's included) of `runs` runs of a
// command; unlike the wall time it hardly depends on what else the machine is doing.
double medianCpuSeconds(const std::string& command, int runs = 5)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const double before = cpuSecondsOfChildren();
        if (std::system((command + " >/dev/null 2>&1").c_str()) != 0)
            return -1.0;
        times.push_back(cpuSecondsOfChildren() - before);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// Whole processes, each started as the shell starts it: tamrin-cli writing the WAVE file, and
// ffmpeg decoding the same sound to raw PCM thrown away. Both give 9192960 bytes of PCM
// (same_pcm_bytes checks it).
void BM_WholeProcessMovieSound(benchmark::State& state)
{
    static const std::string movie = makeLongMovie();
    if (movie.empty()) {
        state.SkipWithError("sample movie missing");
        return;
    }
    const std::string wave = "/tmp/tamrin_bench_sound.wav";
    const std::string ours = bench::quoted(TAMRIN_CLI) + " audio " + bench::quoted(movie) + " --out " +
                             bench::quoted(wave) + " --no-progress";
    const std::string theirs =
        "ffmpeg -nostdin -v error -i " + bench::quoted(movie) + " -f s16le -y /dev/null";
    if (std::system((ours + " >/dev/null 2>&1").c_str()) != 0) {
        state.SkipWithError("tamrin-cli audio failed");
        return;
    }
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (std::system((ours + " >/dev/null 2>&1").c_str()) != 0) {
            state.SkipWithError("tamrin-cli audio failed");
            return;
        }
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    const double tamrin = bench::medianSeconds(ours);
    const double ffmpeg = bench::medianSeconds(theirs);
    const double tamrinCpu = medianCpuSeconds(ours);
    const double ffmpegCpu = medianCpuSeconds(theirs);
    state.counters["tamrin_cpu_s"] = tamrinCpu;
    state.counters["ffmpeg_cpu_s"] = ffmpegCpu;
    if (ffmpegCpu > 0 && tamrinCpu > 0)
        state.counters["cpu_vs_ffmpeg"] = tamrinCpu / ffmpegCpu;
    std::error_code error;
    const auto waveBytes = std::filesystem::file_size(wave, error);
    const uint64_t ourBytes = error ? 0 : waveBytes - 44;
    state.SetBytesProcessed(int64_t(ourBytes) * state.iterations());
    // Once, as a file: both decoders must give the same amount of sound for the times to compare.
    const std::string raw = "/tmp/tamrin_bench_sound.raw";
    if (std::system(("ffmpeg -nostdin -v error -i " + bench::quoted(movie) + " -f s16le -y " +
                     bench::quoted(raw) + " >/dev/null 2>&1")
                        .c_str()) == 0)
        state.counters["same_pcm_bytes"] = std::filesystem::file_size(raw, error) == ourBytes ? 1 : 0;
    std::filesystem::remove(raw, error);
    state.counters["tamrin_s"] = tamrin;
    state.counters["ffmpeg_s"] = ffmpeg;
    if (ffmpeg > 0 && tamrin > 0) {
        state.counters["time_vs_ffmpeg"] = tamrin / ffmpeg;
        state.counters["speed_x_ffmpeg"] = ffmpeg / tamrin;
    }
    std::filesystem::remove(wave, error);
}
BENCHMARK(BM_WholeProcessMovieSound)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
