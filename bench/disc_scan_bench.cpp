// tamrin-cli scan of a large disc image against a plain sequential read of the same file
// (cat IMAGE.bin > /dev/null), both as whole processes on a warm cache, in the same run.
//
// The image is one Mode 2 data track made of the test movie and XA sectors, repeated, with
// foreign sectors between them, so that every installed CD plugin follows streams all the way.
// It is written as BIN + CUE into the temporary folder for the run and removed after. Two sizes
// (the argument, in MB of the BIN file) show that the scan's memory does not grow with the disc.
//
// A second run with the movie plugin alone shows what the reader and the scan loop give when the
// plugins cost little.
//
// Counters: cat_MBps and scan_MBps (MB = 10^6 bytes of the BIN file, median wall times of five
// runs after a warm-up), scan_vs_cat (the goal is at least 0.5), scan_peak_rss_MB (the largest
// resident size the scan process reached in those runs) and streams (listed by the scan).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../tests/plugins/disc_builder.h"
#include "../tests/support/scratch_folder.h"
#include "bench_support.h"

namespace {

namespace fs = std::filesystem;

constexpr int kRuns = 5;

// The test data sectors the image repeats: a movie, foreign data, XA sound on one channel and
// on four interleaved channels, more foreign data.
std::vector<discbuild::Sector> pattern()
{
    std::vector<discbuild::Sector> sectors = discbuild::loadMovie("mv1_v2_320x240_15fps_xa37800s.str");
    for (uint32_t i = 0; i < 40; ++i)
        sectors.push_back(discbuild::foreignSector(5, i));
    for (const auto* name : {"xa1_37800_stereo.xa", "xa_multi_4ch_37800_stereo.xa"})
        for (const discbuild::Sector& s : discbuild::loadXa(name))
            sectors.push_back(s);
    for (uint32_t i = 0; i < 40; ++i)
        sectors.push_back(discbuild::foreignSector(6, i));
    return sectors;
}

// A BIN + CUE pair in a folder of its own, removed with this object.
struct BenchImage
{
    testsupport::ScratchFolder folder{"scan-bench"};
    std::string cue;
    std::string bin;
    uint64_t bytes = 0;

    bool write(uint64_t megabytes)
    {
        const std::vector<discbuild::Sector> sectors = pattern();
        if (sectors.size() < 500)
            return false;
        if (!folder.made())
            return false;
        bin = (folder.path() / "image.bin").string();
        cue = (folder.path() / "image.cue").string();
        const auto count = uint32_t(megabytes * 1000000 / discbuild::kRaw);
        std::ofstream out(bin, std::ios::binary | std::ios::trunc);
        std::vector<uint8_t> chunk;
        chunk.reserve(size_t(1024) * discbuild::kRaw);
        for (uint32_t lba = 0; lba < count && out; ++lba) {
            discbuild::Sector s = sectors[lba % sectors.size()];
            discbuild::putSyncAndHeader(s.data(), lba);
            chunk.insert(chunk.end(), s.begin(), s.end());
            if (chunk.size() >= size_t(1024) * discbuild::kRaw || lba + 1 == count) {
                out.write(reinterpret_cast<const char*>(chunk.data()), std::streamsize(chunk.size()));
                chunk.clear();
            }
        }
        out.close();
        std::ofstream sheet(cue, std::ios::trunc);
        sheet << "FILE \"image.bin\" BINARY\n  TRACK 01 MODE2/2352\n    INDEX 01 00:00:00\n";
        sheet.close();
        bytes = uint64_t(count) * discbuild::kRaw;
        return out.good() && sheet.good();
    }
};

void BM_ScanAgainstCat(benchmark::State& state)
{
    BenchImage image;
    if (!image.write(uint64_t(state.range(0)))) {
        state.SkipWithError("cannot write the image");
        return;
    }
    const std::string listing = (image.folder.path() / "scan.json").string();
    std::vector<std::string> scan{TAMRIN_CLI, "scan", "--no-progress", "--json", image.cue};
    if (state.range(1) == 1)
        scan.insert(scan.end(), {"--plugins", "Discmovie.psr"});
    for (auto _ : state) {
        const bench::VersusCat run = bench::runAgainstCat(scan, listing, image.bin, kRuns);
        if (!bench::reportAgainstCat(state, run, double(image.bytes), "scan"))
            return;
        std::ifstream in(listing);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        size_t streams = 0;
        for (size_t at = 0; (at = text.find("\"number\"", at)) != std::string::npos; ++at)
            ++streams;
        state.counters["streams"] = double(streams);
    }
}

// Arguments: the image size in MB; 0 for every installed CD plugin, 1 for the movie plugin alone
// (whose probe costs little, so that the scan is bound by the sector reader).
BENCHMARK(BM_ScanAgainstCat)
    ->Args({150, 0})
    ->Args({600, 0})
    ->Args({600, 1})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
