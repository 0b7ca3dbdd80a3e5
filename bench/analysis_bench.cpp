// The disc analysis of a CD-sized image (about 650 MB): tamrin-cli analyze against a plain
// sequential read of the same file (cat IMAGE.bin > /dev/null), both as whole processes on a
// warm cache, in the same run; then where the analysis spends its time, plugin by plugin.
//
// The image is written by the benchmark from the test data: a Mode 2 data track with a volume
// descriptor, then the four test movies (video with their XA sound), the three XA sound files
// and runs of foreign data sectors, repeated until the size is reached, and a CD audio track of
// 20 seconds at the end. Every CD plugin therefore follows streams through the whole disc.
//
// BM_AnalyzeAgainstCat (whole processes): cat_MBps and analyze_MBps (MB = 10^6 bytes of the BIN
// file, median wall times of five runs after a warm-up), analyze_vs_cat (the goal is at least
// 1/3), analyze_peak_rss_MB (the largest resident size of those runs).
//
// BM_AnalysisShares (in this process, the same sequence of library calls as the analysis: a
// reader over each data track, every sector to every CD plugin that still wants it, the null
// sector at the end of the track, the results): the share of the loop's time spent reading
// sectors (read_pct) and in each plugin (<plugin>_pct), and the streams each plugin found.
//
// The second argument of both chooses the disc: 0 the one above; 1 a disc of one data track and
// nothing else, whose pattern also holds a movie of each game format (Emberfilm, Tidefilm,
// Ovalcast, Briarfilm, laid out by the test-media generator from the same test frames and sound),
// since the plugins of those formats only look at single-track discs.
//
// `analysis_bench --write-image FOLDER [MB] [--games]` only writes FOLDER/image.bin and image.cue
// (for timing tamrin-cli by hand, or profiling it) and prints the CUE path.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../tests/mediagen/briarfilm_layout.h"
#include "../tests/mediagen/emberfilm_layout.h"
#include "../tests/mediagen/ovalcast_layout.h"
#include "../tests/mediagen/tidefilm_layout.h"
#include "../tests/plugins/disc_builder.h"
#include "../tests/support/scratch_folder.h"
#include "bench_support.h"
#include "discport/discport.h"
#include "streamkit/lbr.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kRuns = 5;
constexpr uint64_t kDefaultMegabytes = 650;
constexpr uint32_t kAudioTrackSectors = 1500; // 20 s of CD audio

void putVolumeDescriptor(discbuild::Sector& sector)
{
    uint8_t* data = sector.data() + 24;
    std::memset(data, 0, 2048);
    data[0] = 1;
    std::memcpy(data + 1, "CD001", 5);
    data[6] = 1;
    std::memset(data + 8, ' ', 64);
    std::memcpy(data + 8, "PLAYSTATION", 11);
    std::memcpy(data + 40, "TAMRIN_ANALYSIS_BENCH", 21);
}

// The sectors the data track repeats: each test movie and XA file, foreign data between them;
// with `games` a movie of each game format too.
std::vector<discbuild::Sector> pattern(bool games)
{
    std::vector<discbuild::Sector> sectors;
    uint32_t seed = 1;
    auto foreign = [&](uint32_t count) {
        for (uint32_t i = 0; i < count; ++i)
            sectors.push_back(discbuild::foreignSector(seed, i));
        ++seed;
    };
    for (const char* movie : {"mv1_v2_320x240_15fps_xa37800s.str", "mv2_v3_320x240_15fps_xa37800s_ch1.str",
                              "mv3_v2_256x224_15fps_xa18900m.str", "mv4_v3_160x112_15fps_x1_xa37800s.str"}) {
        const std::vector<discbuild::Sector> loaded = discbuild::loadMovie(movie);
        if (loaded.empty())
            return {};
        sectors.insert(sectors.end(), loaded.begin(), loaded.end());
        foreign(20);
    }
    for (const char* sound : {"xa1_37800_stereo.xa", "xa2_18900_mono.xa", "xa_multi_4ch_37800_stereo.xa"}) {
        const std::vector<discbuild::Sector> loaded = discbuild::loadXa(sound);
        if (loaded.empty())
            return {};
        sectors.insert(sectors.end(), loaded.begin(), loaded.end());
        foreign(20);
    }
    if (games) {
        const auto mv1 = mediagen::mdecFrames("mv1_v2_320x240_15fps_xa37800s.str");
        const auto mv3 = mediagen::mdecFrames("mv3_v2_256x224_15fps_xa18900m.str");
        const auto mv4 = mediagen::mdecFrames("mv4_v3_160x112_15fps_x1_xa37800s.str");
        const mediagen::SpuSound sound = mediagen::spuStereo();
        mediagen::OvalcastOptions oval;
        oval.xa = discbuild::soundSectors(discbuild::loadMovie("mv4_v3_160x112_15fps_x1_xa37800s.str"));
        for (const auto& movie :
             {mediagen::emberfilmMovie(mv3, &sound), mediagen::tidefilmMovie(mv1, &sound),
              mediagen::ovalcastMovie(mv4, nullptr, oval), mediagen::briarfilmMovie(mv1, &sound)}) {
            if (movie.empty())
                return {};
            sectors.insert(sectors.end(), movie.begin(), movie.end());
            foreign(20);
        }
    }
    return sectors;
}

// A BIN + CUE pair written into `folder`: the data track up to about `megabytes`, then (not
// with `games`) the audio track after its pregap. Empty on failure; else the CUE path.
std::string writeImage(const fs::path& folder, uint64_t megabytes, bool games, uint64_t* bytes = nullptr)
{
    const std::vector<discbuild::Sector> sectors = pattern(games);
    if (sectors.empty())
        return {};
    const std::string bin = (folder / "image.bin").string();
    const std::string cue = (folder / "image.cue").string();
    const uint64_t total = megabytes * 1000000 / discbuild::kRaw;
    const uint32_t audioSectors = games ? 0 : kAudioTrackSectors + discbuild::kPregap;
    const auto dataSectors = uint32_t(total > audioSectors + 100 ? total - audioSectors : 100);
    std::ofstream out(bin, std::ios::binary | std::ios::trunc);
    std::vector<uint8_t> chunk;
    const size_t chunkSectors = 1024;
    chunk.reserve(chunkSectors * discbuild::kRaw);
    auto put = [&](const uint8_t* sector) {
        chunk.insert(chunk.end(), sector, sector + discbuild::kRaw);
        if (chunk.size() >= chunkSectors * discbuild::kRaw) {
            out.write(reinterpret_cast<const char*>(chunk.data()), std::streamsize(chunk.size()));
            chunk.clear();
        }
    };
    discbuild::Sector s;
    for (uint32_t lba = 0; lba < dataSectors && out; ++lba) {
        if (lba < 24) {
            s = discbuild::foreignSector(0, lba);
            if (lba == 16)
                putVolumeDescriptor(s);
        } else {
            s = sectors[(lba - 24) % sectors.size()];
        }
        discbuild::putSyncAndHeader(s.data(), lba);
        put(s.data());
    }
    const uint32_t audioStart = dataSectors + discbuild::kPregap;
    const uint32_t audioLength = games ? 0 : kAudioTrackSectors;
    s.fill(0);
    for (uint32_t i = 0; i < discbuild::kPregap && audioLength; ++i)
        put(s.data());
    for (uint32_t k = 0; k < audioLength; ++k) {
        for (uint32_t j = 0; j < discbuild::kRaw / 4; ++j)
            discbuild::putAudioSamples(s.data() + 4 * j, 2, k * (discbuild::kRaw / 4) + j);
        put(s.data());
    }
    out.write(reinterpret_cast<const char*>(chunk.data()), std::streamsize(chunk.size()));
    out.close();
    std::ofstream sheet(cue, std::ios::trunc);
    sheet << "FILE \"image.bin\" BINARY\n  TRACK 01 MODE2/2352\n    INDEX 01 00:00:00\n";
    if (audioLength)
        sheet << "  TRACK 02 AUDIO\n    INDEX 00 " << discbuild::msfText(dataSectors) << "\n    INDEX 01 "
              << discbuild::msfText(audioStart) << "\n";
    sheet.close();
    if (!out.good() || !sheet.good())
        return {};
    if (bytes)
        *bytes = uint64_t(audioLength ? audioStart + audioLength : dataSectors) * discbuild::kRaw;
    return cue;
}

struct BenchImage
{
    testsupport::ScratchFolder folder{"analysis-bench"};
    std::string cue;
    std::string bin;
    uint64_t bytes = 0;

    bool write(uint64_t megabytes, bool games)
    {
        if (!folder.made())
            return false;
        cue = writeImage(folder.path(), megabytes, games, &bytes);
        bin = (folder.path() / "image.bin").string();
        return !cue.empty();
    }
};

void BM_AnalyzeAgainstCat(benchmark::State& state)
{
    BenchImage image;
    if (!image.write(uint64_t(state.range(0)), state.range(1) != 0)) {
        state.SkipWithError("cannot write the image");
        return;
    }
    // Its own settings folder: no server is asked, nothing is uploaded, and each run analyses
    // again instead of adopting the analysis the run before saved.
    const fs::path home = image.folder.path() / "home";
    fs::create_directories(home);
    ::setenv("TAMRIN_HOME", home.c_str(), 1);
    const std::string listing = (image.folder.path() / "analysis.txt").string();
    if (bench::runChild({TAMRIN_CLI, "settings", "--set", "search=1", "--set", "upload=1"}, listing).seconds <
        0) {
        state.SkipWithError("tamrin-cli settings failed");
        return;
    }
    const std::vector<std::string> analyze{TAMRIN_CLI, "analyze", "--no-progress", "--adopt", "analyze",
                                           "--upload", "no",      image.cue};
    for (auto _ : state) {
        const bench::VersusCat run = bench::runAgainstCat(analyze, listing, image.bin, kRuns);
        if (!bench::reportAgainstCat(state, run, double(image.bytes), "analyze"))
            return;
    }
}

struct TimedPlugin
{
    std::string file;
    PluginBinding* binding = nullptr;
    void* probe = nullptr;
    bool userData = false; // takes the 2048 bytes of user data instead of the whole sector
    bool done = false;     // needs no more sectors of this track
    double seconds = 0;
    int32_t streams = 0;
};

// The CD plugins of the output folder, bound and begun on the disc.
std::vector<TimedPlugin> openCdPlugins(int32_t tracks, const CdTocEntry* toc)
{
    std::vector<TimedPlugin> plugins;
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(fs::path(TAMRIN_OUT_DIR) / "PsrPlugins", error))
        if (entry.path().extension() == ".psr")
            files.push_back(entry.path().filename().string());
    std::sort(files.begin(), files.end());
    for (const std::string& file : files) {
        PsrPluginInfo info{};
        if (!(LbrQueryPlugin(file.c_str(), &info) & CapCd))
            continue;
        TimedPlugin plugin;
        plugin.file = file;
        plugin.userData = (info.mediaFlags & MediaUserData) != 0;
        plugin.binding = LbrOpenPSR(file.c_str());
        if (!plugin.binding)
            continue;
        plugin.probe = LbrIsSupportCDBegin(plugin.binding, tracks, toc);
        if (!plugin.probe) {
            LbrClosePSR(plugin.binding);
            continue;
        }
        plugins.push_back(plugin);
    }
    return plugins;
}

void BM_AnalysisShares(benchmark::State& state)
{
    BenchImage image;
    if (!image.write(uint64_t(state.range(0)), state.range(1) != 0)) {
        state.SkipWithError("cannot write the image");
        return;
    }
    const int32_t drive = CdMountImage(image.cue.c_str());
    if (drive < 0) {
        state.SkipWithError(CdImageError());
        return;
    }
    CdTocEntry toc[100] = {};
    const int32_t tracks = std::min(CdReadToc(drive, 100, toc), int32_t(100));
    for (auto _ : state) {
        std::vector<TimedPlugin> plugins = openCdPlugins(tracks, toc);
        double readSeconds = 0;
        const auto loopStart = Clock::now();
        for (int32_t t = 0; t < tracks; ++t) {
            if (!(toc[t].control & CD_TOC_DATA_TRACK))
                continue;
            CdReadHandle* reader = CdReadOpen(drive, &toc[t], toc[t].start, toc[t].length, -1);
            if (!reader)
                continue;
            const uint32_t offset = CdGetSectorSize(reader) == 2352 ? 24 : 0;
            for (TimedPlugin& plugin : plugins)
                plugin.done = false;
            size_t finished = 0;
            for (uint32_t i = 0; i < toc[t].length && finished < plugins.size(); ++i) {
                auto at = Clock::now();
                const uint8_t* sector = CdReadSector(reader, nullptr);
                auto now = Clock::now();
                readSeconds += std::chrono::duration<double>(now - at).count();
                if (!sector)
                    continue;
                for (TimedPlugin& plugin : plugins) {
                    if (plugin.done)
                        continue;
                    at = now;
                    plugin.done = LbrIsSupportCDSector(plugin.binding, plugin.probe, toc[t], toc[t].start + i,
                                                       plugin.userData ? sector + offset : sector) == 0;
                    finished += plugin.done;
                    now = Clock::now();
                    plugin.seconds += std::chrono::duration<double>(now - at).count();
                }
                CdUnlockReadBuffer(reader, sector);
            }
            for (TimedPlugin& plugin : plugins) {
                const auto at = Clock::now();
                LbrIsSupportCDSector(plugin.binding, plugin.probe, toc[t], 0, nullptr);
                plugin.seconds += std::chrono::duration<double>(Clock::now() - at).count();
            }
            CdReadClose(reader);
        }
        for (TimedPlugin& plugin : plugins) {
            const auto at = Clock::now();
            plugin.streams = LbrIsSupportCDResult(plugin.binding, plugin.probe, 0, nullptr);
            plugin.seconds += std::chrono::duration<double>(Clock::now() - at).count();
        }
        const double loop = std::chrono::duration<double>(Clock::now() - loopStart).count();
        state.SetIterationTime(loop);
        state.counters["image_MB"] = double(image.bytes) / 1e6;
        state.counters["loop_MBps"] = double(image.bytes) / 1e6 / loop;
        state.counters["read_pct"] = 100 * readSeconds / loop;
        for (TimedPlugin& plugin : plugins) {
            const std::string name = plugin.file.substr(0, plugin.file.size() - 4);
            state.counters[name + "_pct"] = 100 * plugin.seconds / loop;
            state.counters[name + "_streams"] = plugin.streams;
            LbrIsSupportCDEnd(plugin.binding, plugin.probe);
            LbrClosePSR(plugin.binding);
        }
    }
    CdUnmountImage(drive);
}

BENCHMARK(BM_AnalyzeAgainstCat)
    ->Args({kDefaultMegabytes, 0})
    ->Args({kDefaultMegabytes, 1})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AnalysisShares)
    ->Args({kDefaultMegabytes, 0})
    ->Args({kDefaultMegabytes, 1})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "--write-image") == 0) {
        const bool games = std::strcmp(argv[argc - 1], "--games") == 0;
        const int sizeArgs = argc - (games ? 1 : 0);
        const uint64_t megabytes = sizeArgs >= 4 ? std::strtoull(argv[3], nullptr, 10) : kDefaultMegabytes;
        std::error_code error;
        fs::create_directories(argv[2], error);
        const std::string cue =
            megabytes > 0 && !error ? writeImage(argv[2], megabytes, games) : std::string();
        if (cue.empty()) {
            std::fprintf(stderr, "%s: cannot write the image into %s\n", argv[0], argv[2]);
            return 1;
        }
        std::printf("%s\n", cue.c_str());
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
