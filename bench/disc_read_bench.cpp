// Reading every sector of a large disc image through CdReadOpen / CdReadSector, against a plain
// sequential read of the same file (cat FILE > /dev/null, on a warm cache) in the same run.
//
// The image (about 300 MB of raw 2352-byte Mode 2 Form 1 sectors and its CUE sheet) is written
// once into the temporary folder and kept for later runs. Counters: reader_MBps and cat_MBps
// (MB = 10^6 bytes of the image file), and reader_vs_cat, the reader's throughput as a share of
// cat's (the goal is at least 0.5).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "discport/discport.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kSectorBytes = 2352;
constexpr uint32_t kSectors = 128000; // 301 MB
constexpr uint32_t kUserOffset = 24;

uint8_t bcd(uint32_t value)
{
    return uint8_t((value / 10) << 4 | (value % 10));
}

// The image's CUE sheet, or empty when it cannot be written.
std::string makeImage()
{
    const fs::path folder = fs::temp_directory_path();
    const fs::path bin = folder / "tamrin_bench_disc.bin";
    const fs::path cue = folder / "tamrin_bench_disc.cue";
    std::error_code error;
    if (fs::exists(cue, error) && fs::file_size(bin, error) == uint64_t(kSectors) * kSectorBytes)
        return cue.string();
    std::ofstream out(bin, std::ios::binary | std::ios::trunc);
    std::vector<uint8_t> chunk(size_t(1000) * kSectorBytes);
    uint64_t state = 0x2545F4914F6CDD1Dull;
    for (uint32_t first = 0; first < kSectors && out; first += 1000) {
        for (uint32_t i = 0; i < 1000; ++i) {
            uint8_t* s = chunk.data() + size_t(i) * kSectorBytes;
            for (uint32_t b = 0; b < kSectorBytes; b += 8) {
                state ^= state << 13;
                state ^= state >> 7;
                state ^= state << 17;
                std::memcpy(s + b, &state, 8);
            }
            std::memset(s, 0xFF, 12);
            s[0] = s[11] = 0;
            const uint32_t address = first + i + 150;
            s[12] = bcd(address / 4500);
            s[13] = bcd(address / 75 % 60);
            s[14] = bcd(address % 75);
            s[15] = 2;
            const uint8_t subHeader[4] = {0, 0, 0x08, 0};
            std::memcpy(s + 16, subHeader, 4);
            std::memcpy(s + 20, subHeader, 4);
        }
        out.write(reinterpret_cast<const char*>(chunk.data()), std::streamsize(chunk.size()));
    }
    if (!out)
        return {};
    std::ofstream(cue)
        << "FILE \"tamrin_bench_disc.bin\" BINARY\n  TRACK 01 MODE2/2352\n    INDEX 01 00:00:00\n";
    return cue.string();
}

const std::string& image()
{
    static const std::string cue = makeImage();
    return cue;
}

void readAll(benchmark::State& state, uint32_t mode)
{
    if (image().empty()) {
        state.SkipWithError("the image could not be written");
        return;
    }
    const int32_t drive = CdMountImage(image().c_str());
    if (drive < 0) {
        state.SkipWithError(CdImageError());
        return;
    }
    const fs::path bin = fs::path(image()).replace_extension(".bin");
    const double fileBytes = double(fs::file_size(bin));
    uint64_t sum = 0;
    uint64_t bad = 0;
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        CdReadHandle* reader = CdReadOpen(drive, nullptr, 0, kSectors | mode, 0);
        if (!reader) {
            state.SkipWithError("CdReadOpen failed");
            break;
        }
        for (uint32_t i = 0; i < kSectors; ++i) {
            const uint8_t* sector = CdReadSector(reader, nullptr);
            if (!sector) {
                ++bad;
                continue;
            }
            sum += sector[kUserOffset];
            CdUnlockReadBuffer(reader, sector);
        }
        CdReadClose(reader);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    CdUnmountImage(drive);
    benchmark::DoNotOptimize(sum);
    if (bad)
        state.SkipWithError("sectors failed to read");
    state.SetBytesProcessed(int64_t(fileBytes) * state.iterations());
    const double readerSeconds = seconds / double(state.iterations());
    state.counters["reader_MBps"] = fileBytes / readerSeconds / 1e6;
    // The whole file through cat, after a warm-up run that puts it in the page cache.
    static const double cat = bench::medianSeconds("cat " + bench::quoted(bin.string()) + " > /dev/null");
    if (cat > 0) {
        state.counters["cat_MBps"] = fileBytes / cat / 1e6;
        state.counters["reader_vs_cat"] = cat / readerSeconds;
    }
}

// Raw 2352-byte sectors (READ CD).
void BM_ReadEveryRawSector(benchmark::State& state)
{
    readAll(state, 0);
}
BENCHMARK(BM_ReadEveryRawSector)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// 2048-byte user data (READ(10)): the same sectors, the file read the same way.
void BM_ReadEveryUserDataSector(benchmark::State& state)
{
    readAll(state, CD_READ_USER_DATA);
}
BENCHMARK(BM_ReadEveryUserDataSector)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
