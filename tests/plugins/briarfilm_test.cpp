// Briarfilm on media laid out by briarfilm_layout.h from the test movies' MDEC frames and the SPU
// test sound, on a built disc and as sector files, driven through libstreamkit as the analysis
// and the player drive it. The disc holds back to back: mv1's frames with the sound, each frame
// as many sectors as it needs; 30 frames of mv4 without sound, 3 sectors a frame, numbered from
// 0xFFFF0001, one sound sector's frame number damaged; 8 frames of two sound sectors with
// neither sound nor pictures, which is no movie.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <functional>
#include <tuple>

#include "../mediagen/briarfilm_layout.h"
#include "../support/scratch_folder.h"
#include "disc_probe.h"
#include "unit_reader.h"

namespace {

using namespace mediagen;
using discbuild::Sector;
using movietest::Unit;

constexpr const char* kPlugin = "Briarfilm.psr";
constexpr const char* kMv1 = "mv1_v2_320x240_15fps_xa37800s.str";
constexpr uint32_t kBoth = LBR_WANT_VIDEO | LBR_WANT_AUDIO;

struct StreamCloser
{
    void operator()(StreamState* s) const { LbrCloseStream(s); }
};
using StreamPtr = std::unique_ptr<StreamState, StreamCloser>;

double psnr(const uint8_t* a, const uint8_t* b, size_t n)
{
    double sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += double(a[i] - b[i]) * double(a[i] - b[i]);
    return sum == 0 ? 100.0 : 10 * std::log10(255.0 * 255.0 * double(n) / sum);
}

using Fields = std::tuple<uint16_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint16_t, uint32_t,
                          uint32_t, uint16_t>;

Fields fieldsOf(const StrInfo& f)
{
    return {f.kind,   f.startSector, f.sectorCount, f.frameCount, f.width,
            f.height, f.frameRate,   f.durationMs,  f.sampleRate, f.channels};
}

class Briarfilm : public testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        s_mv1 = mdecFrames(kMv1);
        s_mv4 = mdecFrames("mv4_v3_160x112_15fps_x1_xa37800s.str");
        s_sound = spuStereo();
        s_movies = {briarfilmMovie(s_mv1, &s_sound),
                    briarfilmMovie(s_mv4, nullptr,
                                   {.sectorsPerFrame = 3, .firstFrameNumber = 0xFFFF0001u, .frames = 30})};
        put32(s_movies[1][9].data() + 0x20, 0x7FFFFFFF);
        discbuild::DiscBuilder b;
        b.addForeign(20);
        for (const auto& movie : s_movies)
            s_starts.push_back(b.add(movie));
        b.add(briarfilmMovie(s_mv4, nullptr, {.sectorsPerFrame = 2, .frames = 8}));
        b.addForeign(10);
        s_image = b.write();
        s_drive = s_image ? CdMountImage(s_image->cue.c_str()) : -1;
        s_binding = LbrOpenPSR(kPlugin);
        for (size_t i = 0; i < s_movies.size(); ++i)
            s_files.push_back(write("movie" + std::to_string(i), s_movies[i]));
    }
    static void TearDownTestSuite()
    {
        LbrClosePSR(s_binding);
        CdUnmountImage(s_drive);
        s_image.reset();
    }
    void SetUp() override
    {
        ASSERT_EQ(s_mv1.size(), 45u);
        ASSERT_EQ(s_sound.left.size(), 1664u);
        ASSERT_TRUE(s_drive >= 0 && s_binding);
    }
    static std::string write(const std::string& name, const std::vector<Sector>& sectors)
    {
        const auto path = s_folder->path() / name;
        EXPECT_TRUE(writeBriarfilmFile(path, sectors));
        return path.string();
    }
    // The disc movie's stream and the sector file's, each as its plugin describes it.
    static std::pair<StreamPtr, StreamPtr> open(size_t movie, const StrInfo& onDisc)
    {
        StrInfo disc = onDisc, own{};
        EXPECT_EQ(LbrGetStrFileInfo(s_binding, s_files[movie].c_str(), &own), 1);
        EXPECT_EQ(own.sectorCount, disc.sectorCount) << "frames of several sizes, every one read";
        return {StreamPtr(LbrOpenStream(kPlugin, nullptr, s_drive, &disc, kBoth)),
                StreamPtr(LbrOpenStream(kPlugin, s_files[movie].c_str(), 0, &own, kBoth))};
    }

    static inline std::vector<MdecFrame> s_mv1, s_mv4;
    static inline SpuSound s_sound;
    static inline std::vector<std::vector<Sector>> s_movies;
    static inline std::vector<uint32_t> s_starts;
    static inline std::vector<std::string> s_files;
    static inline std::unique_ptr<discbuild::Image> s_image;
    static inline int32_t s_drive = -1;
    static inline PluginBinding* s_binding = nullptr;
    static inline auto s_folder = std::make_unique<testsupport::ScratchFolder>("briarfilm");
};

TEST_F(Briarfilm, FindsEachMovieAtItsFirstSectorAndDescribesIt)
{
    const std::vector<StrInfo> found = discprobe::probeDisc(s_binding, s_drive);
    ASSERT_EQ(found.size(), 2u);
    const Fields expected[] = {
        {StrVideo | StrAudio, s_starts[0], uint32_t(s_movies[0].size()), 45, 320, 240, 150, 3000, 48000, 2},
        {StrVideo, s_starts[1], 90, 30, 160, 112, 150, 2000, 0, 0}};
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(fieldsOf(found[i]), expected[i]) << "movie " << i;
    }
    // Frames of 3 sectors: the area description counts 30 of them in 90 sectors.
    StrInfo area{};
    ASSERT_EQ(LbrGetStrDataInfo(s_binding, s_drive, s_starts[1], 90, &area), 1);
    EXPECT_EQ(fieldsOf(area), expected[1]);
    EXPECT_EQ(LbrGetStrDataInfo(s_binding, s_drive, 0, 20, &area), 0) << "no video sector there";
    // The general disc movie plugin would take only sectors whose type word has bit 15: it finds
    // nothing here, and Briarfilm (before it in the default order anyway) takes them alone.
    PluginBinding* general = LbrOpenPSR("Discmovie.psr");
    EXPECT_TRUE(discprobe::probeDisc(general, s_drive).empty());
    LbrClosePSR(general);
}

// The same movie on the disc and as a sector file: the same units, every frame decoded like the
// reference of its source movie, the sound bit-identical to the reference of the SPU source.
TEST_F(Briarfilm, DiscAndSectorFileGiveTheReferencePicturesAndSound)
{
    auto [disc, file] = open(0, discprobe::probeDisc(s_binding, s_drive).at(0));
    ASSERT_TRUE(disc && file);
    const std::vector<Unit> fileUnits = movietest::readUnits(file.get());
    ASSERT_EQ(fileUnits.size(), 90u);
    movietest::RecordBuffer record;
    PsrReadRecord* r = record.get();
    std::vector<int16_t> pcm;
    for (size_t i = 0; i < fileUnits.size(); ++i) {
        ASSERT_EQ(LbrReadStream(disc.get(), 0, r), 1);
        const std::vector<uint8_t>& other = fileUnits[i].payload;
        EXPECT_EQ(crc32(0, r->payload, r->payloadBytes), crc32(0, other.data(), uInt(other.size()))) << i;
        if (!(r->unitKind & UnitVideo)) {
            int16_t out[115 * 56];
            ASSERT_EQ(LbrDecodeAudio(disc.get(), r, reinterpret_cast<uint8_t*>(out), sizeof out), 12880);
            pcm.insert(pcm.end(), out, out + 115 * 56);
            continue;
        }
        ASSERT_EQ(r->frameNumber, i / 2 + 1);
        const Bytes ref = referenceYuv(kMv1, i / 2, 320, 240);
        ASSERT_FALSE(ref.empty());
        Bytes yuv(ref.size());
        const size_t luma = 320 * 240, chroma = luma / 4;
        ASSERT_EQ(LbrDecodeFrameYuv(disc.get(), r, yuv.data(), &yuv[luma], &yuv[luma + chroma]), 1);
        for (size_t from : {size_t(0), luma, luma + chroma})
            EXPECT_GE(psnr(&yuv[from], &ref[from], from ? chroma : luma), 40.0)
                << "frame " << i / 2 << " @" << from;
    }
    EXPECT_EQ(LbrReadStream(disc.get(), 0, r), 0);
    const size_t compared = s_sound.referenceLeft.size();
    ASSERT_GE(pcm.size() / 2, compared);
    size_t differing = 0;
    for (size_t n = 0; n < compared; ++n)
        differing += pcm[2 * n] != s_sound.referenceLeft[n] || pcm[2 * n + 1] != s_sound.referenceRight[n];
    EXPECT_EQ(differing, 0u) << "of " << compared << " sample pairs";
}

// Sector = (sectors / frames) x (ms x 150 / 10000): the next picture is that frame's.
TEST_F(Briarfilm, SeeksToTheFrameOfTheFormula)
{
    auto [disc, file] = open(1, discprobe::probeDisc(s_binding, s_drive).at(1));
    const std::pair<uint32_t, uint32_t> cases[] = {{0, 1},     {66, 1},   {67, 2},         {1000, 16},
                                                   {1999, 30}, {2000, 0}, {0xFFFFFFFEu, 0}}; // 0: none
    movietest::RecordBuffer record;
    for (StreamState* stream : {disc.get(), file.get()}) {
        ASSERT_NE(stream, nullptr);
        for (const auto& [ms, frame] : cases) {
            ASSERT_EQ(LbrSeekStream(stream, ms), 1);
            const int32_t got = LbrReadStream(stream, LBR_WANT_VIDEO, record.get());
            EXPECT_EQ(got == 1 ? record.get()->frameNumber : 0, frame) << ms << " ms";
        }
    }
}

// Sector files of six frames of nine sectors (two sound, seven video), whole and damaged: what
// is described and which units are read.
TEST_F(Briarfilm, DamagedFilesAndFrames)
{
    auto set16 = [](size_t sector, size_t offset, uint16_t v) {
        return [=](std::vector<Sector>& s) { put16(s[sector].data() + offset, v); };
    };
    auto set32 = [](size_t sector, size_t offset, uint32_t v) {
        return [=](std::vector<Sector>& s) { put32(s[sector].data() + offset, v); };
    };
    const std::vector<uint32_t> all = {0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6}; // frame numbers, 0 for sound
    const struct
    {
        const char* what;
        std::function<void(std::vector<Sector>&)> mutate;
        bool described;
        std::vector<uint32_t> units;
    } cases[] = {
        {"whole", [](auto&) {}, true, all},
        {"second sector fails the test", set16(1, 0x18, 0), false, {}},
        {"two sectors only", [](auto& s) { s.resize(2); }, false, {}},
        {"trailing foreign sector", [](auto& s) { s.push_back(discbuild::foreignSector(1, 1)); }, true, all},
        {"frame 3 loses its last sector", set16(26, 0x18, 0), true, {0, 1, 0, 2, 0, 0, 4, 0, 5, 0, 6}},
        {"frame 2 loses its right channel", set16(10, 0x1C, 5), true, {0, 1, 2, 0, 3, 0, 4, 0, 5, 0, 6}},
        {"sound size above 1840", set32(9, 0xB8, 1841), true, {0, 1, 2, 0, 3, 0, 4, 0, 5, 0, 6}},
        {"sectors in frame 0xFFFF", set16(40, 0x1E, 0xFFFF), true, {0, 1, 0, 2, 0, 3, 0, 4, 0, 0, 6}},
        {"sectors in frame 0", set16(38, 0x1E, 0), true, {0, 1, 0, 2, 0, 3, 0, 4, 0, 0, 6}},
        {"index beyond the frame", set16(50, 0x1C, 11), true, {0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto sectors = briarfilmMovie(s_mv4, &s_sound, {.sectorsPerFrame = 9, .frames = 6});
        c.mutate(sectors);
        const std::string path = write("case", sectors);
        StrInfo info{};
        ASSERT_EQ(LbrGetStrFileInfo(s_binding, path.c_str(), &info), c.described ? 1 : 0);
        if (!c.described)
            continue;
        EXPECT_EQ(std::pair(info.frameCount, info.sectorCount), std::pair(6u, 54u));
        StreamPtr stream(LbrOpenStream(kPlugin, path.c_str(), 0, &info, kBoth));
        std::vector<uint32_t> order;
        for (const Unit& u : movietest::readUnits(stream.get())) {
            order.push_back(u.frame);
            ASSERT_EQ(u.payload.size(), u.isVideo() ? 7u * 2292 : 3840u);
            if (!u.isVideo())
                continue;
            // A picture is assembled from the seventh video sector down to the first: the source
            // bitstream, then zeros.
            const Bytes& source = s_mv4[u.frame - 1].bitstream;
            EXPECT_TRUE(std::equal(source.begin(), source.end(), u.payload.begin())) << "frame " << u.frame;
            EXPECT_EQ(std::count(u.payload.begin() + std::ptrdiff_t(source.size()), u.payload.end(), 0),
                      std::ptrdiff_t(u.payload.size() - source.size()));
        }
        EXPECT_EQ(order, c.units);
    }
    StrInfo noFrames{};
    noFrames.sectorCount = 54;
    StreamPtr stream(LbrOpenStream(kPlugin, s_files[0].c_str(), 0, &noFrames, kBoth));
    EXPECT_EQ(LbrSeekStream(stream.get(), 1000), 0) << "no frame to seek to";
    // A cut last sector is not part of the movie.
    const std::string path =
        write("case", briarfilmMovie(s_mv4, &s_sound, {.sectorsPerFrame = 9, .frames = 6}));
    std::filesystem::resize_file(path, 44 + 54 * 2352 + 2320);
    StrInfo info{};
    EXPECT_EQ(LbrGetStrFileInfo(s_binding, path.c_str(), &info), 1);
    EXPECT_EQ(info.frameCount, 6u);
}

// The block count of a sound unit comes from its size field: bounded by 1840 bytes and the unit.
TEST_F(Briarfilm, DecodeAudioStaysInsideTheUnit)
{
    auto decode = reinterpret_cast<PsrDecodeAudioFn>(dlsym(LbrGetPluginInst(s_binding), "PsrDecodeAudio"));
    ASSERT_NE(decode, nullptr);
    const struct
    {
        uint32_t size, payload;
        int32_t capacity, result;
    } cases[] = {{1840, 3840, 20000, 12880}, {0xFFFFFFFFu, 3840, 20000, 12880},
                 {1840, 3840, 12879, 12880}, {1840, 2100, 20000, 6 * 112},
                 {1840, 36, 20000, -1},      {15, 3840, 20000, -1},
                 {1840, 20, 20000, -1}};
    movietest::RecordBuffer record;
    std::vector<uint8_t> out(20000);
    for (const auto& c : cases) {
        PsrReadRecord* r = record.get();
        std::memset(r, 0, PSR_READ_HEADER_BYTES + 3840);
        r->payloadBytes = c.payload;
        put32(r->payload + 32, c.size);
        std::fill(out.begin(), out.end(), 0xAB);
        EXPECT_EQ(decode(r, out.data(), c.capacity), c.result) << c.size << " " << c.payload;
        EXPECT_EQ(out[c.result > c.capacity ? 0 : std::max(c.result, 0)], 0xAB)
            << "nothing written past the result";
    }
    EXPECT_EQ(decode(nullptr, out.data(), 20000), 0);
}

} // namespace
