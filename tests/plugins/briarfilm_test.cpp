// Briarfilm on media laid out by briarfilm_layout.h from the test movies' MDEC frames and the SPU
// test sound: discs built and mounted, the same movies as sector files, driven through
// libstreamkit as the analysis and the player drive them.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <functional>

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
constexpr const char* kMv4 = "mv4_v3_160x112_15fps_x1_xa37800s.str";

struct StreamCloser
{
    void operator()(StreamState* s) const { LbrCloseStream(s); }
};
using StreamPtr = std::unique_ptr<StreamState, StreamCloser>;

// A disc of one data track: 20 foreign sectors, the movies back to back, 10 foreign sectors.
struct Disc
{
    std::unique_ptr<discbuild::Image> image;
    int32_t drive = -1;
    std::vector<uint32_t> starts;

    explicit Disc(const std::vector<std::vector<Sector>>& movies)
    {
        discbuild::DiscBuilder b;
        b.addForeign(20);
        for (const auto& m : movies)
            starts.push_back(b.add(m));
        b.addForeign(10);
        image = b.write();
        drive = image ? CdMountImage(image->cue.c_str()) : -1;
    }
    ~Disc()
    {
        if (drive >= 0)
            CdUnmountImage(drive);
    }
    std::vector<StrInfo> probe(const char* plugin = kPlugin) const
    {
        PluginBinding* binding = LbrOpenPSR(plugin);
        auto found = discprobe::probeDisc(binding, drive);
        LbrClosePSR(binding);
        return found;
    }
};

uint32_t crcOf(const std::vector<uint8_t>& bytes)
{
    return uint32_t(crc32(0, bytes.data(), uInt(bytes.size())));
}

double psnr(const uint8_t* a, const uint8_t* b, size_t n)
{
    double sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += double(a[i] - b[i]) * double(a[i] - b[i]);
    return sum == 0 ? 100.0 : 10 * std::log10(255.0 * 255.0 * double(n) / sum);
}

class Briarfilm : public testing::Test
{
  protected:
    void SetUp() override
    {
        m_mv1 = mdecFrames(kMv1);
        m_mv4 = mdecFrames(kMv4);
        m_sound = spuStereo();
        ASSERT_EQ(m_mv1.size(), 45u);
        ASSERT_EQ(m_mv4.size(), 45u);
        ASSERT_EQ(m_sound.left.size(), 1664u);
        ASSERT_TRUE(m_folder.made());
    }

    std::string writeFile(const std::string& name, const std::vector<Sector>& sectors)
    {
        const auto path = m_folder.path() / name;
        EXPECT_TRUE(writeBriarfilmFile(path, sectors));
        return path.string();
    }

    std::vector<MdecFrame> m_mv1, m_mv4;
    SpuSound m_sound;
    testsupport::ScratchFolder m_folder{"briarfilm"};
};

TEST_F(Briarfilm, FindsEachMovieAtItsFirstSectorAndDescribesIt)
{
    const auto first = briarfilmMovie(m_mv1, &m_sound, {.sectorsPerFrame = 10});
    const auto second = briarfilmMovie(m_mv4, nullptr, {.firstFrameNumber = 0xFFFF0001u, .frames = 30});
    Disc disc({first, second});
    ASSERT_GE(disc.drive, 0);
    const std::vector<StrInfo> found = disc.probe();
    ASSERT_EQ(found.size(), 2u);
    const struct
    {
        uint32_t start, sectors, frames, width, height;
        uint16_t kind;
    } expected[] = {{disc.starts[0], 450, 45, 320, 240, StrVideo | StrAudio},
                    {disc.starts[1], uint32_t(second.size()), 30, 160, 112, StrVideo}};
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const StrInfo& info = found[i];
        EXPECT_EQ(info.kind, expected[i].kind);
        EXPECT_EQ(info.startSector, expected[i].start);
        EXPECT_EQ(info.sectorCount, expected[i].sectors);
        EXPECT_EQ(info.frameCount, expected[i].frames);
        EXPECT_EQ(info.width, expected[i].width);
        EXPECT_EQ(info.height, expected[i].height);
        EXPECT_EQ(info.frameRate, 150);
        EXPECT_EQ(info.durationMs, expected[i].frames * 10000 / 150);
        const bool sound = info.kind & StrAudio;
        EXPECT_EQ(info.sampleRate, sound ? 48000u : 0u);
        EXPECT_EQ(info.channels, sound ? 2 : 0);
    }
    // Frames of 10 sectors: the area description counts 45 of them in 450 sectors.
    PluginBinding* binding = LbrOpenPSR(kPlugin);
    StrInfo area{};
    ASSERT_EQ(LbrGetStrDataInfo(binding, disc.drive, disc.starts[0], 450, &area), 1);
    EXPECT_EQ(area.frameCount, 45u);
    EXPECT_EQ(area.kind, StrVideo | StrAudio);
    EXPECT_EQ(area.width, 320u);
    EXPECT_EQ(LbrGetStrDataInfo(binding, disc.drive, 0, 20, &area), 0) << "no video sector there";
    LbrClosePSR(binding);
    // The general disc movie plugin could only take these sectors if their type words had bit 15;
    // it finds nothing, so Briarfilm (earlier in the default order anyway) takes them alone.
    EXPECT_TRUE(disc.probe("Discmovie.psr").empty());
}

// The same movie on a disc and as a sector file: the same units, every frame decoded like the
// reference of its source movie, the sound bit-identical to the reference of the SPU source.
TEST_F(Briarfilm, DiscAndSectorFileGiveTheReferencePicturesAndSound)
{
    const auto sectors = briarfilmMovie(m_mv1, &m_sound);
    Disc disc({sectors});
    const std::string file = writeFile("mv1.str", sectors);
    const auto found = disc.probe();
    ASSERT_EQ(found.size(), 1u);
    PluginBinding* binding = LbrOpenPSR(kPlugin);
    StrInfo fileInfo{};
    ASSERT_EQ(LbrGetStrFileInfo(binding, file.c_str(), &fileInfo), 1);
    LbrClosePSR(binding);
    EXPECT_EQ(fileInfo.sectorCount, found[0].sectorCount) << "frames of several sizes, every one read";

    StrInfo discInfo = found[0];
    StreamPtr fromDisc(LbrOpenStream(kPlugin, nullptr, disc.drive, &discInfo, LBR_WANT_VIDEO | LBR_WANT_AUDIO));
    StreamPtr fromFile(LbrOpenStream(kPlugin, file.c_str(), 0, &fileInfo, LBR_WANT_VIDEO | LBR_WANT_AUDIO));
    ASSERT_TRUE(fromDisc && fromFile);
    const std::vector<Unit> units = movietest::readUnits(fromDisc.get());
    const std::vector<Unit> fileUnits = movietest::readUnits(fromFile.get());
    ASSERT_EQ(units.size(), 90u);
    ASSERT_EQ(fileUnits.size(), units.size());

    std::vector<int16_t> pcm;
    movietest::RecordBuffer record;
    for (size_t i = 0; i < units.size(); ++i) {
        const Unit& u = units[i];
        EXPECT_EQ(crcOf(u.payload), crcOf(fileUnits[i].payload)) << "unit " << i;
        EXPECT_EQ(u.frame, fileUnits[i].frame);
        PsrReadRecord* r = record.get();
        std::memset(r, 0, PSR_READ_HEADER_BYTES);
        r->frameNumber = u.frame;
        r->width = u.width;
        r->height = u.height;
        r->unitKind = u.kind;
        r->payloadBytes = uint32_t(u.payload.size());
        std::memcpy(r->payload, u.payload.data(), u.payload.size());
        if (!u.isVideo()) {
            EXPECT_EQ(u.payload.size(), 3840u);
            int16_t out[115 * 56];
            ASSERT_EQ(LbrDecodeAudio(fromDisc.get(), r, reinterpret_cast<uint8_t*>(out), sizeof out), 12880);
            pcm.insert(pcm.end(), out, out + 115 * 56);
            continue;
        }
        const size_t frame = i / 2;
        ASSERT_EQ(u.frame, frame + 1);
        const Bytes ref = referenceYuv(kMv1, frame, 320, 240);
        ASSERT_FALSE(ref.empty());
        Bytes yuv(ref.size());
        const size_t luma = 320 * 240, chroma = luma / 4;
        ASSERT_EQ(LbrDecodeFrameYuv(fromDisc.get(), r, yuv.data(), yuv.data() + luma, yuv.data() + luma + chroma),
                  1);
        EXPECT_GE(psnr(yuv.data(), ref.data(), luma), 40.0) << "Y of frame " << frame;
        EXPECT_GE(psnr(yuv.data() + luma, ref.data() + luma, chroma), 40.0) << "Cb of frame " << frame;
        EXPECT_GE(psnr(yuv.data() + luma + chroma, ref.data() + luma + chroma, chroma), 40.0) << "Cr " << frame;
    }
    const size_t compared = m_sound.referenceLeft.size();
    ASSERT_GE(pcm.size() / 2, compared);
    size_t differing = 0;
    for (size_t n = 0; n < compared; ++n)
        differing += pcm[2 * n] != m_sound.referenceLeft[n] || pcm[2 * n + 1] != m_sound.referenceRight[n];
    EXPECT_EQ(differing, 0u) << "of " << compared << " sample pairs";
}

// Sector = (sectors / frames) x (ms x 150 / 10000): the next picture is that frame's.
TEST_F(Briarfilm, SeeksToTheFrameOfTheFormula)
{
    const auto sectors = briarfilmMovie(m_mv4, &m_sound, {.sectorsPerFrame = 7});
    Disc disc({sectors});
    const std::string file = writeFile("mv4.str", sectors);
    const auto found = disc.probe();
    ASSERT_EQ(found.size(), 1u);
    StrInfo discInfo = found[0];
    StrInfo fileInfo = found[0];
    fileInfo.startSector = 0;
    StreamPtr streams[] = {
        StreamPtr(LbrOpenStream(kPlugin, nullptr, disc.drive, &discInfo, LBR_WANT_VIDEO | LBR_WANT_AUDIO)),
        StreamPtr(LbrOpenStream(kPlugin, file.c_str(), 0, &fileInfo, LBR_WANT_VIDEO | LBR_WANT_AUDIO))};
    const struct
    {
        uint32_t ms, frame; // 0: nothing follows
    } cases[] = {{0, 1}, {66, 1}, {67, 2}, {1000, 16}, {2999, 45}, {3000, 0}, {0xFFFFFFFEu, 0}};
    movietest::RecordBuffer record;
    for (auto& stream : streams) {
        ASSERT_TRUE(stream);
        for (const auto& c : cases) {
            SCOPED_TRACE(c.ms);
            ASSERT_EQ(LbrSeekStream(stream.get(), c.ms), 1);
            const int32_t got = LbrReadStream(stream.get(), LBR_WANT_VIDEO, record.get());
            EXPECT_EQ(got == 1 ? record.get()->frameNumber : 0, c.frame);
        }
    }
}

// Sector files, whole and damaged, and damaged frames: what is described and what is read.
TEST_F(Briarfilm, DamagedFilesAndFrames)
{
    using Mutate = std::function<void(std::vector<Sector>&)>;
    auto setU16 = [](size_t sector, size_t offset, uint16_t v) {
        return [=](std::vector<Sector>& s) { put16(s[sector].data() + offset, v); };
    };
    // Six frames of nine sectors: two sound, seven video.
    const struct
    {
        const char* what;
        Mutate mutate;
        uint32_t frames;             // described; 0: refused
        std::vector<uint32_t> units; // video frame numbers, 0 for sound units, in order
    } cases[] = {
        {"whole", nullptr, 6, {0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6}},
        {"second sector fails the test", setU16(1, 0x18, 0), 0, {}},
        {"two sectors only", [](auto& s) { s.resize(2); }, 0, {}},
        {"trailing foreign sectors", [](auto& s) { s.push_back(discbuild::foreignSector(1, 1)); }, 6,
         {0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6}},
        {"frame 3 loses its last sector", setU16(26, 0x18, 0), 6, {0, 1, 0, 2, 0, 0, 4, 0, 5, 0, 6}},
        {"frame 2 loses its right channel", setU16(10, 0x1C, 5), 6, {0, 1, 2, 0, 3, 0, 4, 0, 5, 0, 6}},
        {"sound size above 1840", [](auto& s) { put32(s[9].data() + 0xB8, 1841); }, 6,
         {0, 1, 2, 0, 3, 0, 4, 0, 5, 0, 6}},
        {"sectors in frame 0xFFFF", setU16(40, 0x1E, 0xFFFF), 6, {0, 1, 0, 2, 0, 3, 0, 4, 0, 0, 6}},
        {"sectors in frame 0", setU16(38, 0x1E, 0), 6, {0, 1, 0, 2, 0, 3, 0, 4, 0, 0, 6}},
        {"index beyond the frame", setU16(50, 0x1C, 11), 6, {0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0}},
    };
    PluginBinding* binding = LbrOpenPSR(kPlugin);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto sectors = briarfilmMovie(m_mv4, &m_sound, {.sectorsPerFrame = 9, .frames = 6});
        if (c.mutate)
            c.mutate(sectors);
        const std::string path = writeFile("case.str", sectors);
        StrInfo info{};
        EXPECT_EQ(LbrGetStrFileInfo(binding, path.c_str(), &info), c.frames ? 1 : 0);
        if (!c.frames)
            continue;
        EXPECT_EQ(info.frameCount, c.frames);
        EXPECT_EQ(info.sectorCount, 54u);
        StreamPtr stream(LbrOpenStream(kPlugin, path.c_str(), 0, &info, LBR_WANT_VIDEO | LBR_WANT_AUDIO));
        ASSERT_TRUE(stream);
        std::vector<uint32_t> order;
        for (const Unit& u : movietest::readUnits(stream.get())) {
            order.push_back(u.frame);
            EXPECT_EQ(u.payload.size(), u.isVideo() ? 7u * 2292 : 3840u);
            if (!u.isVideo())
                continue;
            // Assembled from the seventh video sector down to the first: the source bitstream.
            const Bytes& source = m_mv4[u.frame - 1].bitstream;
            EXPECT_TRUE(std::equal(source.begin(), source.end(), u.payload.begin())) << "frame " << u.frame;
            EXPECT_TRUE(std::all_of(u.payload.begin() + std::ptrdiff_t(source.size()), u.payload.end(),
                                    [](uint8_t b) { return b == 0; }));
        }
        EXPECT_EQ(order, c.units);
    }
    // A cut last sector is not part of the movie.
    const std::string path = writeFile("cut.str", briarfilmMovie(m_mv4, &m_sound, {.sectorsPerFrame = 9, .frames = 6}));
    std::filesystem::resize_file(path, 44 + 54 * 2352 + 2320);
    StrInfo info{};
    EXPECT_EQ(LbrGetStrFileInfo(binding, path.c_str(), &info), 1);
    EXPECT_EQ(info.frameCount, 6u);
    LbrClosePSR(binding);
}

// The block count of a sound unit comes from the unit: bounded by 1840 bytes and by the unit.
TEST_F(Briarfilm, DecodeAudioStaysInsideTheUnit)
{
    PluginBinding* binding = LbrOpenPSR(kPlugin);
    auto decode = reinterpret_cast<PsrDecodeAudioFn>(dlsym(LbrGetPluginInst(binding), "PsrDecodeAudio"));
    ASSERT_NE(decode, nullptr);
    const struct
    {
        uint32_t size, payload;
        int32_t capacity, result;
    } cases[] = {
        {1840, 3840, 20000, 12880}, {0xFFFFFFFFu, 3840, 20000, 12880}, {1840, 3840, 12879, 12880},
        {1840, 2100, 20000, 6 * 112}, {1840, 36, 20000, -1},          {15, 3840, 20000, -1},
        {1840, 20, 20000, -1},
    };
    movietest::RecordBuffer record;
    std::vector<uint8_t> out(20000);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        PsrReadRecord* r = record.get();
        std::memset(r, 0, PSR_READ_HEADER_BYTES + 3840);
        r->payloadBytes = c.payload;
        put32(r->payload + 32, c.size);
        std::fill(out.begin(), out.end(), 0xAB);
        EXPECT_EQ(decode(r, out.data(), c.capacity), c.result);
        if (c.result > c.capacity) {
            EXPECT_EQ(out[0], 0xAB) << "too little room: nothing written";
        }
        EXPECT_EQ(out[std::max(c.result, 0)], 0xAB) << "nothing written past the result";
    }
    EXPECT_EQ(decode(nullptr, out.data(), 20000), 0);
    LbrClosePSR(binding);
}

} // namespace
