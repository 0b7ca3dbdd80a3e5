// The contract every format plugin keeps, run over each plugin of the table below: its
// description, the probe (nothing to look at, hostile sectors, the final null-sector call, result
// indexes out of range), open, read, seek and close on a sample of its own format, bad handles and
// areas, and units that fit the largest unit the plugin promises. The plugins are called through
// their own exports, so that a unit buffer of exactly the promised size is what the plugin writes
// into (the sanitizer build catches a write past it, and a leak of a handle or a context).
//
// A new plugin joins with one row of kPlugins; the format's own rules stay in its own test file.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../mediagen/adx_layout.h"
#include "../mediagen/briarfilm_layout.h"
#include "../mediagen/emberfilm_layout.h"
#include "../mediagen/ovalcast_layout.h"
#include "../mediagen/sound_layout.h"
#include "../mediagen/sequence_layout.h"
#include "../mediagen/tidefilm_layout.h"
#include "../mediagen/tim_layout.h"
#include "../mediagen/tunebank_layout.h"
#include "../support/scratch_folder.h"
#include "cstr_builder.h"
#include "disc_builder.h"
#include "disc_probe.h"
#include "discport/discport.h"
#include "streamkit/lbr.h"

namespace {

namespace fs = std::filesystem;
using discbuild::DiscBuilder;
using discbuild::Image;
using discbuild::Sector;

// What a plugin is tried on: a built disc image or a file of tests/data.
struct Sample
{
    std::unique_ptr<Image> image;
    std::string file;
};

struct PluginRow
{
    const char* file;
    const char* name;
    uint16_t version;
    uint16_t subVersion;
    uint16_t mediaFlags;
    uint32_t caps; // the capability bits the host finds (CapFile, CapCd, CapDecode...)
    // Payload bytes of the largest unit the plugin writes.
    uint32_t maxPayload;
    std::function<Sample()> sample;
    // Streams the plugin reports on its sample (a file plugin: 1).
    size_t streams;
};

Sample discWith(const std::function<void(DiscBuilder&)>& layout)
{
    DiscBuilder b;
    layout(b);
    return Sample{b.write(), {}};
}

// A compact movie of six frames with sound between them, its index timed and typed.
Sample compactMovie()
{
    using namespace cstrbuild;
    File f;
    f.info.kind = StrVideo | StrAudio | StrTimed;
    f.info.width = 64;
    f.info.height = 48;
    f.info.frameRate = 100;
    f.info.durationMs = 600;
    f.indexFlags = 1;
    for (uint16_t frame = 1; frame <= 6; ++frame) {
        f.index.push_back({uint8_t(frame % 3 == 1 ? 0x10 : 0x11), frame * 100u, f.units.size()});
        f.units.push_back(record(frame, std::string(200 + frame, char(frame)), {0x0008, 0x1000 | UnitKey}));
        f.units.push_back(record(0, std::string(64, 'a'), {0}));
    }
    const fs::path path = fs::path(testing::TempDir()) / "contract.cstr";
    std::ofstream(path, std::ios::binary) << build(f);
    return Sample{nullptr, path.string()};
}

const PluginRow kPlugins[] = {
    {"Discmovie.psr", "STR CD-ROM", 142, 102, MediaRawSectors, CapCd, 32 * 2016,
     [] {
         return discWith([](DiscBuilder& b) {
             b.addForeign(10);
             b.add(discbuild::loadMovie("mv4_v3_160x112_15fps_x1_xa37800s.str"));
             b.addForeign(40);
         });
     },
     1},
    {"Ovalcast.psr", "GT STR CD-ROM", 101, 0, MediaRawSectors, CapCd, 32 * 2016,
     [] {
         return discWith([](DiscBuilder& b) {
             const char* movie = "mv4_v3_160x112_15fps_x1_xa37800s.str";
             mediagen::OvalcastOptions options;
             options.xa = discbuild::soundSectors(discbuild::loadMovie(movie));
             b.addForeign(10);
             b.add(mediagen::ovalcastMovie(mediagen::mdecFrames(movie), nullptr, options));
             b.addForeign(40);
         });
     },
     1},
    {"Discvoice.psr", "XA CD-ROM", 113, 0, MediaRawSectors | MediaFiles, CapCd | CapFile, 2304,
     [] {
         return discWith([](DiscBuilder& b) {
             b.addForeign(5);
             b.add(discbuild::loadXa("xa2_18900_mono.xa"));
             b.addForeign(5);
         });
     },
     1},
    {"Cobaltsound.psr", "CRI ADX", 100, 0, MediaRawSectors | MediaUserData | MediaFiles, CapFile | CapCd,
     227 * 36,
     [] {
         return discWith([](DiscBuilder& b) {
             b.addForeign(5);
             mediagen::placeData(b, 5, 600,
                                     mediagen::readAll(mediagen::testData("audio/adx2_48000_stereo.adx")));
             b.addForeign(3);
         });
     },
     1},
    {"Emberfilm.psr", "FF8 Stream", 131, 0, MediaRawSectors, CapCd | CapDecodeAudio, 256 * 2040,
     [] {
         return discWith([](DiscBuilder& b) {
             const mediagen::SpuSound sound = mediagen::spuStereo();
             b.addForeign(10);
             b.add(mediagen::emberfilmMovie(mediagen::mdecFrames("mv4_v3_160x112_15fps_x1_xa37800s.str"),
                                            &sound));
             b.addForeign(10);
         });
     },
     1},
    {"Trackaudio.psr", "CD-DA", 131, 0, MediaRawSectors, CapCd | CapDecodeAudio, 4 * 2352,
     [] {
         return discWith([](DiscBuilder& b) {
             b.addForeign(30);
             b.addAudioTrack(301);
         });
     },
     1},
    {"Filmfile.psr", "STR file", 124, 0, MediaFiles, CapFile, 24 * 2016 + 2 * 2304,
     [] {
         return Sample{
             nullptr,
             (fs::path(TAMRIN_TEST_DATA) / "movies" / "mv4_v3_160x112_15fps_x1_xa37800s.str").string()};
     },
     1},
    {"Briarfilm.psr", "FF9 Stream", 132, 100, MediaRawSectors | MediaFiles, CapFile | CapCd | CapDecodeAudio,
     9 * 2292,
     [] {
         return discWith([](DiscBuilder& b) {
             b.addForeign(10);
             const mediagen::SpuSound sound = mediagen::spuStereo();
             b.add(mediagen::briarfilmMovie(mediagen::mdecFrames("mv4_v3_160x112_15fps_x1_xa37800s.str"),
                                            &sound));
             b.addForeign(10);
         });
     },
     1},
    {"Packfilm.psr", "Compact STR", 112, 0, MediaFiles,
     CapFile | CapDecodeFrame | CapDecodeAudio | CapDecodeBs, 0xFFFF - 4 + PSR_OWNED_REF_BYTES, compactMovie,
     1},
    {"Tidefilm.psr", "CHRONO CROSS", 132, 101, MediaRawSectors, CapCd | CapDecodeAudio, 9 * 2016,
     [] {
         return discWith([](DiscBuilder& b) {
             const mediagen::SpuSound sound = mediagen::spuMono();
             b.addForeign(10);
             b.add(mediagen::tidefilmMovie(mediagen::mdecFrames("mv4_v3_160x112_15fps_x1_xa37800s.str"),
                                           &sound));
             b.addForeign(10);
         });
     },
     1},
    {"Marlsound.psr", "ADPCM type-1", 100, 0, MediaRawSectors | MediaUserData | MediaFiles, CapFile | CapCd,
     4096,
     [] {
         return discWith([](DiscBuilder& b) {
             const mediagen::SpuSound sound = mediagen::spuStereo();
             b.addForeign(4);
             mediagen::placeData(
                 b, 5, 100, mediagen::marlsoundFile(22050, 2, 1664, 0, mediagen::spuRuns(sound, 2, 1, 1664)));
             b.addForeign(4);
         });
     },
     1},
    {"Duskaudio.psr", "SS2 Audio", 100, 0, MediaRawSectors | MediaUserData | MediaFiles, CapFile | CapCd,
     8192,
     [] {
         return discWith([](DiscBuilder& b) {
             const mediagen::Bytes spu =
                 mediagen::readAll(mediagen::testData("audio/spu2_22050_stereo_i2048.spu"));
             b.addForeign(4);
             mediagen::placeData(b, 5, 2000, mediagen::ss2File(16, 22050, 2, 2048, spu));
             b.addForeign(4);
         });
     },
     1},
    {"Tunebank.psr", "SCEI Midi", 101, 101, MediaRawSectors | MediaUserData | MediaFiles, CapFile | CapCd,
     1023 + 9 + 0x2000,
     [] {
         return discWith([](DiscBuilder& b) {
             b.addForeign(3);
             mediagen::placeData(b, 3, 1500,
                                   mediagen::tunebankChain({{96, mediagen::tuneSong(60, 500000, 250000)},
                                                            {48, mediagen::tuneSong(40, 600000, 300000)}}));
             b.addForeign(3);
         });
     },
     2},
    {"Stillframe.psr", "TIM", 110, 0, MediaRawSectors | MediaUserData | MediaFiles,
     CapFile | CapCd | CapDecodeFrame, sizeof(void*),
     [] {
         return discWith([](DiscBuilder& b) {
             b.addForeign(10);
             mediagen::placeData(b, 10, 1800, mediagen::makeTim(1, 40, 30, 1, 256).bytes);
             b.addForeign(10);
         });
     },
     1},
    {"Scorefile.psr", "SEQ", 111, 101, MediaRawSectors | MediaUserData | MediaFiles, CapFile | CapCd,
     1024 + 9 + (1u << 20),
     [] {
         return discWith([](DiscBuilder& b) {
             b.addForeign(10);
             mediagen::placeData(b, 10, 300, mediagen::scoreSong(60).file);
             b.addForeign(10);
         });
     },
     1},
};

std::string rowName(const testing::TestParamInfo<PluginRow>& row)
{
    return fs::path(row.param.file).stem().string();
}

// A unit buffer of exactly the header and the promised payload.
class UnitBuffer
{
  public:
    explicit UnitBuffer(uint32_t payload)
        : m_bytes(std::make_unique<uint8_t[]>(PSR_READ_HEADER_BYTES + payload)), m_payload(payload)
    {
    }
    PsrReadRecord* get() { return reinterpret_cast<PsrReadRecord*>(m_bytes.get()); }
    uint32_t payload() const { return m_payload; }

  private:
    std::unique_ptr<uint8_t[]> m_bytes;
    uint32_t m_payload;
};

class PluginContract : public testing::TestWithParam<PluginRow>
{
  protected:
    void SetUp() override
    {
        m_binding = LbrOpenPSR(row().file);
        ASSERT_NE(m_binding, nullptr) << row().file;
    }
    void TearDown() override
    {
        if (m_drive >= 0)
            CdUnmountImage(m_drive);
        if (m_binding)
            LbrClosePSR(m_binding);
    }

    const PluginRow& row() const { return GetParam(); }
    bool isCd() const { return (row().caps & CapCd) != 0; }

    template <typename F> F exported(const char* name) const
    {
        return reinterpret_cast<F>(dlsym(LbrGetPluginInst(m_binding), name));
    }

    // The plugin's sample, mounted when it is a disc.
    void prepare()
    {
        m_sample = row().sample();
        if (isCd()) {
            ASSERT_TRUE(m_sample.image);
            m_drive = CdMountImage(m_sample.image->cue.c_str());
            ASSERT_GE(m_drive, 0) << CdImageError();
        } else {
            ASSERT_TRUE(fs::is_regular_file(m_sample.file)) << m_sample.file;
        }
    }

    // The streams of the sample, as the analysis or the file test finds them.
    std::vector<StrInfo> streams()
    {
        if (isCd())
            return discprobe::probeDisc(m_binding, m_drive, true, discprobe::Feed::UntilDone);
        StrInfo info{};
        if (LbrIsSupportFile(m_binding, m_sample.file.c_str()) == 0 ||
            LbrGetStrFileInfo(m_binding, m_sample.file.c_str(), &info) == 0)
            return {};
        return {info};
    }

    void* open(StrInfo info)
    {
        if (isCd())
            return exported<PsrOpenCDFn>("PsrOpenCD")(m_drive, &info);
        return exported<PsrOpenFileFn>("PsrOpenFile")(m_sample.file.c_str(), &info);
    }

    PluginBinding* m_binding = nullptr;
    Sample m_sample;
    int32_t m_drive = -1;
};

TEST_P(PluginContract, DescribesItself)
{
    PsrPluginInfo info;
    std::memset(&info, 0, sizeof info);
    const uint32_t caps = LbrQueryPlugin(row().file, &info);
    EXPECT_EQ(caps & (CapFile | CapCd | CapDecodeFrame | CapDecodeAudio | CapSetEnvironment | CapDecodeBs),
              row().caps);
    EXPECT_STREQ(info.name, row().name);
    EXPECT_EQ(info.version, row().version);
    EXPECT_EQ(info.subVersion, row().subVersion);
    EXPECT_EQ(info.interfaceVersion, PSR_INTERFACE_VERSION);
    EXPECT_EQ(info.mediaFlags, row().mediaFlags);
    // Every text ends inside its field.
    EXPECT_NE(std::memchr(info.name, 0, sizeof info.name), nullptr);
    EXPECT_NE(std::memchr(info.copyright, 0, sizeof info.copyright), nullptr);
    EXPECT_NE(std::memchr(info.author, 0, sizeof info.author), nullptr);
    EXPECT_NE(std::memchr(info.address, 0, sizeof info.address), nullptr);
    EXPECT_EQ(exported<PsrQueryPluginFn>("PsrQueryPlugin")(nullptr), 0);
}

TEST_P(PluginContract, FindsNothingWhereThereIsNothingToLookAt)
{
    if (isCd()) {
        const CdTocEntry toc[2] = {{1, CD_TOC_DATA_TRACK, {}, 0, 100}, {2, 0x00, {}, 250, 100}};
        EXPECT_EQ(LbrIsSupportCDBegin(m_binding, 0, toc), nullptr);
        EXPECT_EQ(LbrIsSupportCDBegin(m_binding, -1, toc), nullptr);
        EXPECT_EQ(LbrIsSupportCDBegin(m_binding, 2, nullptr), nullptr);
        const Sector s = discbuild::foreignSector(1, 0);
        EXPECT_EQ(exported<PsrIsSupportCDSectorFn>("PsrIsSupportCDSector")(nullptr, toc[0], 0, s.data()), 0);
        EXPECT_EQ(exported<PsrIsSupportCDResultFn>("PsrIsSupportCDResult")(nullptr, 0, nullptr), 0);
        exported<PsrIsSupportCDEndFn>("PsrIsSupportCDEnd")(nullptr);
        return;
    }
    testsupport::ScratchFolder folder{"contract"};
    ASSERT_TRUE(folder.made());
    const fs::path garbage = folder.path() / "garbage.str";
    {
        std::ofstream out(garbage, std::ios::binary);
        std::string bytes = "RIFF";
        for (uint32_t i = 0; i < 5 * 2352; ++i)
            bytes.push_back(char(i * 2654435761u >> 24));
        out << bytes;
    }
    const fs::path empty = folder.path() / "empty.str";
    std::ofstream(empty).close();
    // A pipe with no writer: refused at once, not waited on.
    const fs::path pipe = folder.path() / "pipe.str";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    for (const std::string& name :
         {std::string(), empty.string(), garbage.string(), (folder.path() / "missing").string(),
          folder.path().string(), pipe.string()}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(exported<PsrIsSupportFileFn>("PsrIsSupportFile")(name.c_str()), 0);
        StrInfo info;
        std::memset(&info, 0xCD, sizeof info);
        EXPECT_EQ(exported<PsrGetStrFileInfoFn>("PsrGetStrFileInfo")(name.c_str(), &info), 0);
    }
    EXPECT_EQ(exported<PsrIsSupportFileFn>("PsrIsSupportFile")(nullptr), 0);
}

// Hostile sectors of every kind, then the final call and the results.
TEST_P(PluginContract, ProbeTakesHostileSectors)
{
    if (!isCd())
        return; // a file plugin has no probe; its hostile files are in FindsNothing...
    const auto sectorCall = exported<PsrIsSupportCDSectorFn>("PsrIsSupportCDSector");
    const auto resultCall = exported<PsrIsSupportCDResultFn>("PsrIsSupportCDResult");
    const CdTocEntry toc[2] = {{1, CD_TOC_DATA_TRACK, {}, 0, 400}, {2, 0x00, {}, 550, 100}};
    void* context = LbrIsSupportCDBegin(m_binding, 2, toc);
    if (!context) // a plugin for discs of a single data track
        context = LbrIsSupportCDBegin(m_binding, 1, toc);
    ASSERT_NE(context, nullptr);

    std::vector<Sector> hostile;
    Sector s{};
    hostile.push_back(s); // zeros
    s.fill(0xFF);
    hostile.push_back(s);
    for (uint32_t seed = 0; seed < 8; ++seed)
        hostile.push_back(discbuild::foreignSector(seed, seed));
    // Sound sub-headers of every coding, with and without the end-of-file bit, on noise.
    for (uint32_t coding = 0; coding < 8; ++coding) {
        s = discbuild::foreignSector(coding + 20, 0);
        discbuild::putSubHeader(s.data(), 1, uint8_t(coding), coding & 1 ? 0xE4 : 0x64, uint8_t(coding));
        hostile.push_back(s);
    }
    // Movie sector headers with extreme counts, sizes and frame numbers.
    const uint16_t words[][4] = {
        {0, 1, 1, 1}, {0, 32, 0xFFFF, 0xFFFF}, {31, 32, 1, 1}, {0xFFFF, 0, 0, 0}, {0, 33, 8, 8}};
    for (const auto& w : words) {
        for (uint32_t frame : {1u, 2u, 0xFFFFFFFFu}) {
            s = discbuild::foreignSector(frame, w[0]);
            discbuild::putSubHeader(s.data(), 1, 0, 0x48, 0);
            const uint8_t header[] = {0x60,
                                      0x01,
                                      0x01,
                                      0x80,
                                      uint8_t(w[0]),
                                      uint8_t(w[0] >> 8),
                                      uint8_t(w[1]),
                                      uint8_t(w[1] >> 8),
                                      uint8_t(frame),
                                      uint8_t(frame >> 8),
                                      uint8_t(frame >> 16),
                                      uint8_t(frame >> 24),
                                      0xFF,
                                      0xFF,
                                      0xFF,
                                      0xFF,
                                      uint8_t(w[2]),
                                      uint8_t(w[2] >> 8),
                                      uint8_t(w[3]),
                                      uint8_t(w[3] >> 8)};
            std::memcpy(s.data() + 24, header, sizeof header);
            s[58] = 0x00;
            s[59] = 0x38;
            hostile.push_back(s);
        }
    }
    uint32_t lba = 0;
    for (int round = 0; round < 3; ++round) {
        for (const Sector& h : hostile) {
            const int32_t answer = sectorCall(context, toc[0], lba++, h.data());
            EXPECT_TRUE(answer == 0 || answer == 1) << answer;
        }
    }
    EXPECT_EQ(sectorCall(context, toc[0], 0, nullptr), 0);
    EXPECT_EQ(sectorCall(context, toc[0], 0, nullptr), 0) << "the final call may come twice";

    const int32_t count = resultCall(context, 0, nullptr);
    EXPECT_GE(count, 0);
    StrInfo untouched;
    std::memset(&untouched, 0xCD, sizeof untouched);
    EXPECT_EQ(resultCall(context, count, &untouched), -1);
    EXPECT_EQ(resultCall(context, -1, &untouched), -1);
    EXPECT_EQ(untouched.kind, 0xCDCD) << "an index out of range leaves the description alone";
    for (int32_t i = 0; i < count; ++i) {
        StrInfo info;
        std::memset(&info, 0xCD, sizeof info);
        EXPECT_EQ(resultCall(context, i, &info), count);
        EXPECT_NE(info.kind, 0);
        EXPECT_NE(info.kind, 0xCDCD);
    }
    LbrIsSupportCDEnd(m_binding, context);
}

// Every stream of the sample read to its end into a unit buffer of the promised size, read
// again from a seek to 0, positioned past its end, and closed.
TEST_P(PluginContract, ReadsSeeksAndClosesItsOwnSample)
{
    prepare();
    const auto read = exported<PsrReadFn>("PsrRead");
    const auto seek = exported<PsrSeekFn>("PsrSeek");
    const auto close = exported<PsrCloseFn>("PsrClose");
    ASSERT_TRUE(read && seek && close);
    const std::vector<StrInfo> found = streams();
    ASSERT_EQ(found.size(), row().streams);
    for (const StrInfo& info : found) {
        void* handle = open(info);
        ASSERT_NE(handle, nullptr);
        UnitBuffer unit(row().maxPayload);
        std::vector<uint8_t> first;
        size_t units = 0;
        while (read(handle, unit.get()) == 1) {
            ASSERT_LE(unit.get()->payloadBytes, unit.payload());
            EXPECT_NE(unit.get()->payloadBytes, 0u);
            if (units++ == 0)
                first.assign(unit.get()->payload, unit.get()->payload + unit.get()->payloadBytes);
            ASSERT_LT(units, 100000u) << "a stream without end";
        }
        EXPECT_GT(units, 0u);
        EXPECT_EQ(read(handle, unit.get()), 0) << "the end stays the end";

        EXPECT_EQ(seek(handle, 0), 1);
        ASSERT_EQ(read(handle, unit.get()), 1);
        EXPECT_TRUE(std::vector<uint8_t>(unit.get()->payload,
                                         unit.get()->payload + unit.get()->payloadBytes) == first)
            << "a seek to 0 restarts the stream";
        // Half way, then far past the end: positioned, and the rest is bounded.
        seek(handle, info.durationMs / 2);
        size_t rest = 0;
        while (rest < units + 1 && read(handle, unit.get()) == 1)
            ++rest;
        EXPECT_LE(rest, units);
        seek(handle, 0xFFFFFFFFu);
        rest = 0;
        while (rest < units + 1 && read(handle, unit.get()) == 1)
            ++rest;
        EXPECT_LE(rest, units);
        EXPECT_EQ(read(handle, nullptr), 0);
        EXPECT_EQ(close(handle), 1);
    }
}

TEST_P(PluginContract, RefusesBadHandlesAndAreas)
{
    prepare();
    UnitBuffer unit(row().maxPayload);
    EXPECT_EQ(exported<PsrReadFn>("PsrRead")(nullptr, unit.get()), 0);
    EXPECT_EQ(exported<PsrSeekFn>("PsrSeek")(nullptr, 0), 0);
    EXPECT_EQ(exported<PsrCloseFn>("PsrClose")(nullptr), 0);
    const std::vector<StrInfo> found = streams();
    ASSERT_FALSE(found.empty());
    StrInfo info = found[0];
    if (isCd()) {
        const auto openCd = exported<PsrOpenCDFn>("PsrOpenCD");
        EXPECT_EQ(openCd(m_drive, nullptr), nullptr);
        EXPECT_EQ(openCd(m_drive + 7, &info), nullptr) << "no such drive";
        EXPECT_EQ(openCd(-1, &info), nullptr);
        for (uint32_t count : {0u, 0x80000000u, 0xFFFFFFFFu}) {
            StrInfo area = info;
            area.sectorCount = count;
            EXPECT_EQ(openCd(m_drive, &area), nullptr) << count;
        }
        StrInfo beyond = info;
        beyond.startSector = 1000000;
        void* handle = openCd(m_drive, &beyond);
        if (handle) {
            EXPECT_EQ(exported<PsrReadFn>("PsrRead")(handle, unit.get()), 0) << "nothing to read there";
            EXPECT_EQ(exported<PsrCloseFn>("PsrClose")(handle), 1);
        }
    } else {
        const auto openFile = exported<PsrOpenFileFn>("PsrOpenFile");
        EXPECT_EQ(openFile(nullptr, &info), nullptr);
        EXPECT_EQ(openFile("", &info), nullptr);
        EXPECT_EQ(openFile(fs::path(m_sample.file).parent_path().c_str(), &info), nullptr) << "a folder";
    }
}

INSTANTIATE_TEST_SUITE_P(Plugins, PluginContract, testing::ValuesIn(kPlugins), rowName);

} // namespace
