// Saving and loading a CDAZ of 10 000 streams (a large disc analysis): the version-5 writer and
// reader in memory, and the whole file operations (a save writes, syncs and renames a file; a
// load reads it, parses it and runs the post-load check).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "cdaz/cdaz_format.h"
#include "cdaz/cdaz_store.h"

namespace {

using namespace tamlib;
using RecordPtr = std::unique_ptr<CdazRecord, void (*)(CdazRecord*)>;

constexpr int kStreams = 10000;

// Streams of the four groups as a disc analysis finds them, some named, from eight plugins.
RecordPtr largeRecord()
{
    RecordPtr record(cdazCreate(8, kStreams), cdazFree);
    cdazCopyText(record->name, "SLUS_00012040150001212000.cdaz");
    cdazCopyText(record->title, "A large disc");
    cdazCopyText(record->prefix, "STR");
    cdazCopyText(record->systemId, "PLAYSTATION");
    record->anaSector = -1;
    record->analyzeVersion = kCdazAnalyzeVersion;
    std::mt19937 random(5);
    const char* plugins[8] = {"DISCMOVIE.PSR", "DISCVOICE.PSR", "TRACKAUDIO.PSR", "STILLFRAME.PSR",
                              "SCOREFILE.PSR", "EMBERFILM.PSR", "TIDEFILM.PSR",   "BRIARFILM.PSR"};
    uint32_t start = 150;
    for (int i = 0; i < kStreams; ++i) {
        const int plugin = int(random() % 8);
        StrInfo info{};
        info.kind = uint16_t(1u << (random() % 4));
        info.startSector = start;
        info.sectorCount = 16 + random() % 4000;
        start += info.sectorCount + random() % 16;
        info.durationMs = info.sectorCount * 1000 / 75;
        if (info.kind == StrVideo) {
            info.width = 320;
            info.height = 240;
            info.frameRate = 150;
            info.frameCount = info.durationMs * 15 / 1000;
            info.outWidth = 320;
            info.outHeight = 240;
        }
        info.sampleRate = 37800;
        info.channels = 2;
        info.bitsPerSample = 4;
        info.dataBytes = info.sectorCount * 2336;
        const std::string name = i % 50 == 0 ? "Scene " + std::to_string(i / 50) : std::string();
        cdazAddStream(*record, name.empty() ? nullptr : name.c_str(), info, plugins[plugin], 100, nullptr,
                      nullptr, {});
    }
    cdazNormalize(*record);
    return record;
}

const CdazRecord& sample()
{
    static const RecordPtr record = largeRecord();
    return *record;
}

std::filesystem::path folder()
{
    static const std::filesystem::path path = [] {
        char pattern[] = "/tmp/tamrin-cdaz-bench-XXXXXX";
        return std::filesystem::path(mkdtemp(pattern) ? pattern : "/tmp");
    }();
    return path;
}

void BM_CdazWriteMemory(benchmark::State& state)
{
    size_t bytes = 0;
    for (auto _ : state) {
        const std::vector<uint8_t> file = cdazWriteV5(sample());
        bytes = file.size();
        benchmark::DoNotOptimize(file.data());
    }
    state.counters["file_bytes"] = double(bytes);
}
BENCHMARK(BM_CdazWriteMemory)->Unit(benchmark::kMillisecond);

void BM_CdazReadMemory(benchmark::State& state)
{
    const std::vector<uint8_t> file = cdazWriteV5(sample());
    for (auto _ : state) {
        uint32_t status = 0;
        RecordPtr record(cdazLoadV5(file, {}, 0, &status), cdazFree);
        if (!record || record->streamCount != kStreams)
            state.SkipWithError("the file did not read back");
    }
}
BENCHMARK(BM_CdazReadMemory)->Unit(benchmark::kMillisecond);

void BM_CdazSaveFile(benchmark::State& state)
{
    RecordPtr record(cdazReadV5(cdazWriteV5(sample())), cdazFree);
    const std::filesystem::path path = folder() / "bench.cdaz";
    for (auto _ : state)
        if (!cdazSaveFile(path, *record))
            state.SkipWithError("the save failed");
}
BENCHMARK(BM_CdazSaveFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CdazLoadFile(benchmark::State& state)
{
    RecordPtr record(cdazReadV5(cdazWriteV5(sample())), cdazFree);
    const std::filesystem::path path = folder() / "bench.cdaz";
    if (!cdazSaveFile(path, *record)) {
        state.SkipWithError("the save failed");
        return;
    }
    for (auto _ : state) {
        uint32_t status = 0;
        RecordPtr loaded(cdazLoadFile(path, {}, 0, &status), cdazFree);
        if (!loaded)
            state.SkipWithError("the load failed");
    }
}
BENCHMARK(BM_CdazLoadFile)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
