// The Emberfilm plugin on disc images laid out by emberfilm_layout.h from the MDEC frames of a test
// movie and the SPU ADPCM blocks of the test sound files, mounted and driven through libstreamkit:
// what the probe finds, the units read, and the pictures and sound against the references.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cmath>
#include <functional>
#include <memory>

#include "../mediagen/emberfilm_layout.h"
#include "disc_builder.h"
#include "disc_probe.h"
#include "discport/discport.h"
#include "streamkit/lbr.h"

namespace {

using namespace discbuild;
using mediagen::emberfilmMovie;

constexpr const char* kPlugin = "Emberfilm.psr";
constexpr const char* kMv3 = "mv3_v2_256x224_15fps_xa18900m.str";
constexpr size_t kRecordBytes = PSR_READ_HEADER_BYTES + 256 * 2040; // the largest unit, exactly

struct StreamCloser
{
    void operator()(StreamState* s) const { LbrCloseStream(s); }
};
using StreamPtr = std::unique_ptr<StreamState, StreamCloser>;

class Disc
{
  public:
    explicit Disc(const DiscBuilder& b) : m_image(b.write()), m_drive(m_image ? CdMountImage(m_image->cue.c_str()) : -1) {}
    ~Disc()
    {
        if (m_drive >= 0)
            CdUnmountImage(m_drive);
    }
    int32_t drive() const { return m_drive; }
    std::vector<StrInfo> probe(const char* plugin = kPlugin) const
    {
        PluginBinding* binding = LbrOpenPSR(plugin);
        EXPECT_NE(binding, nullptr) << plugin;
        std::vector<StrInfo> found = binding ? discprobe::probeDisc(binding, m_drive) : std::vector<StrInfo>{};
        LbrClosePSR(binding);
        return found;
    }
    StreamPtr open(StrInfo info) const
    {
        return StreamPtr(LbrOpenStream(kPlugin, nullptr, m_drive, &info, LBR_WANT_VIDEO | LBR_WANT_AUDIO));
    }

  private:
    std::unique_ptr<Image> m_image;
    int32_t m_drive;
};

struct Unit
{
    uint32_t frame; // 0: sound
    uint32_t bytes;
    bool operator==(const Unit&) const = default;
};

// Units (up to `limit`) read into a buffer of exactly the largest unit; `each` sees every record.
std::vector<Unit> readUnits(StreamState* s, const std::function<void(PsrReadRecord*)>& each = {}, size_t limit = 5000)
{
    std::vector<Unit> units;
    auto bytes = std::make_unique<uint8_t[]>(kRecordBytes);
    auto* r = reinterpret_cast<PsrReadRecord*>(bytes.get());
    while (units.size() < limit && s && LbrReadStream(s, 0, r) == 1) {
        units.push_back({r->frameNumber, r->payloadBytes});
        if (each)
            each(r);
    }
    return units;
}

double psnr(const uint8_t* a, const uint8_t* b, size_t width, size_t height, size_t strideA, size_t strideB)
{
    double squares = 0;
    for (size_t y = 0; y < height; ++y)
        for (size_t x = 0; x < width; ++x)
            squares += std::pow(double(a[y * strideA + x]) - b[y * strideB + x], 2);
    return squares == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * double(width * height) / squares);
}

class Emberfilm : public testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        s_frames = mediagen::mdecFrames(kMv3);
        s_stereo = mediagen::spuStereo();
        s_mono = mediagen::spuMono();
    }
    void SetUp() override
    {
        ASSERT_EQ(s_frames.size(), 42u);
        ASSERT_EQ(s_stereo.referenceLeft.size(), 1664u * 28);
        ASSERT_EQ(s_mono.referenceLeft.size(), 3152u * 28);
        m_plugin = LbrOpenPSR(kPlugin);
        ASSERT_NE(m_plugin, nullptr);
    }
    void TearDown() override { LbrClosePSR(m_plugin); }
    static std::vector<mediagen::MdecFrame> first(size_t n) { return {s_frames.begin(), s_frames.begin() + long(n)}; }

    static inline std::vector<mediagen::MdecFrame> s_frames;
    static inline mediagen::SpuSound s_stereo, s_mono;
    PluginBinding* m_plugin = nullptr;
};

// Two movies back to back between foreign sectors: each found at its first sector, described as
// the area description describes it too; the general disc movie plugin finds no movie header in
// these sectors and takes none of them, and a disc of two tracks is not looked at.
TEST_F(Emberfilm, FindsMoviesBackToBackAndDescribesTheirAreas)
{
    const auto a = emberfilmMovie(s_frames, &s_stereo), b = emberfilmMovie(first(10), &s_mono);
    DiscBuilder builder;
    builder.addForeign(20);
    builder.add(a);
    builder.add(b);
    builder.addForeign(5);
    Disc disc(builder);
    const std::vector<StrInfo> found = disc.probe();
    ASSERT_EQ(found.size(), 2u);
    const uint32_t starts[] = {20, 20 + uint32_t(a.size())}, counts[] = {uint32_t(a.size()), uint32_t(b.size())};
    for (size_t i = 0; i < 2; ++i) {
        StrInfo area{};
        ASSERT_EQ(LbrGetStrDataInfo(m_plugin, disc.drive(), starts[i], counts[i], &area), 1);
        for (const StrInfo& info : {found[i], area}) {
            EXPECT_EQ(info.kind, StrVideo | StrAudio);
            EXPECT_EQ(info.startSector, starts[i]);
            EXPECT_EQ(info.sectorCount, counts[i]);
            EXPECT_EQ(info.frameCount, i == 0 ? 42u : 10u);
            EXPECT_EQ(info.durationMs, info.frameCount * 1000 / 15);
            EXPECT_EQ(info.dataBytes, counts[i] * 2040);
            EXPECT_EQ(std::make_tuple(info.width, info.height, info.frameRate), std::make_tuple(320u, 224u, 150));
            EXPECT_EQ(std::make_tuple(info.audioFormat, info.channels, info.bitsPerSample, info.sampleRate),
                      std::make_tuple(1, 2, 16, 44100u));
        }
    }
    StrInfo none{};
    EXPECT_EQ(LbrGetStrDataInfo(m_plugin, disc.drive(), 0, 20, &none), 0) << "foreign sectors";
    EXPECT_TRUE(disc.probe("Discmovie.psr").empty());

    builder.addAudioTrack(300);
    Disc twoTracks(builder);
    CdTocEntry toc[4] = {};
    ASSERT_EQ(CdReadToc(twoTracks.drive(), 4, toc), 2);
    EXPECT_EQ(LbrIsSupportCDBegin(m_plugin, 2, toc), nullptr);
}

// Three frames of a movie, damaged, between two foreign sectors (or running to the end of the
// track): the frame counts found, and every stream found read to its end within the largest unit.
TEST_F(Emberfilm, ProbeEdgesAndDamagedSectors)
{
    using Sectors = std::vector<Sector>;
    const Sectors movie = emberfilmMovie(first(3), &s_stereo);
    const size_t n = movie.size() / 3; // sectors per frame
    const struct
    {
        const char* name;
        std::function<void(Sectors&)> damage;
        bool atTrackEnd;
        std::vector<uint32_t> frames;
    } cases[] = {
        {"whole", [](Sectors&) {}, false, {3}},
        {"whole, to the end of the track", [](Sectors&) {}, true, {3}},
        {"last frame open at the end of the track", [](Sectors& s) { s.pop_back(); }, true, {}},
        {"first frame never completes", [&](Sectors& s) { s.resize(n - 1); }, false, {}},
        {"last frame cut by an untagged sector", [&](Sectors& s) { s[2 * n + 1][0x1B] = 2; }, false, {2}},
        {"no last index", [&](Sectors& s) { s[n][0x1D] = 0; }, false, {1}},
        {"another letter", [&](Sectors& s) { s[n + 1][0x1A] = 'X'; }, false, {3}},
        {"frame 0xFFFF closes the 65536th", [&](Sectors& s) { s[3 * n - 1][0x1E] = s[3 * n - 1][0x1F] = 0xFF; },
         false, {65536}},
        {"a second frame 0 starts a second movie", [&](Sectors& s) { s[n][0x1E] = 0; }, false, {1, 3}},
        {"frames of 256 sectors claimed", [&](Sectors& s) { s[0][0x1D] = 0xFF; }, false, {3}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Sectors damaged = movie;
        c.damage(damaged);
        DiscBuilder builder;
        builder.addForeign(1);
        builder.add(damaged);
        if (!c.atTrackEnd)
            builder.addForeign(1);
        Disc disc(builder);
        const std::vector<StrInfo> found = disc.probe();
        ASSERT_EQ(found.size(), c.frames.size());
        for (size_t i = 0; i < found.size(); ++i) {
            EXPECT_EQ(found[i].frameCount, c.frames[i]);
            EXPECT_EQ(found[i].startSector, i == 0 ? 1u : 1u + n);
            EXPECT_LE(readUnits(disc.open(found[i]).get()).size(), 2 * damaged.size());
        }
    }
}

// One frame's sectors J J J N R (a movie of five sectors a frame), read as sectors of one kind in
// a row: a sector of neither kind is taken as one of the unit's own, except at the start of a
// unit, where it is skipped.
TEST_F(Emberfilm, UnitsAreSectorsOfOneKindInARow)
{
    using Sectors = std::vector<Sector>;
    const Sectors movie = emberfilmMovie(first(2), &s_stereo, {.sectorsPerFrame = 5});
    const std::vector<Unit> plain = {{1, 3 * 2040}, {0, 3360}, {2, 3 * 2040}, {0, 3360}};
    const struct
    {
        const char* name;
        std::function<void(Sectors&)> damage;
        std::vector<Unit> units;
    } cases[] = {
        {"plain", [](Sectors&) {}, plain},
        {"a foreign sector first", [](Sectors& s) { s.insert(s.begin(), foreignSector(1, 0)); }, plain},
        {"another letter in a frame", [](Sectors& s) { s[1][0x1A] = 'X'; }, plain},
        {"untagged left sound", [](Sectors& s) { s[3] = foreignSector(1, 3); },
         {{1, 4 * 2040}, {0, 1680}, {2, 3 * 2040}, {0, 3360}}},
        {"video only: frames end at five sectors", [](Sectors& s) { for (Sector& x : s) x[0x1A] = 'J'; },
         {{1, 5 * 2040}, {2, 5 * 2040}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Sectors sectors = movie;
        c.damage(sectors);
        DiscBuilder builder;
        builder.add(sectors);
        Disc disc(builder);
        StrInfo info{};
        info.kind = StrVideo | StrAudio;
        info.sectorCount = uint32_t(sectors.size());
        info.frameCount = 2;
        std::vector<uint8_t> firstFrame;
        const auto units = readUnits(disc.open(info).get(), [&](PsrReadRecord* r) {
            if (r->frameNumber == 1)
                firstFrame.assign(r->payload, r->payload + 2040);
        });
        EXPECT_EQ(units, c.units);
        EXPECT_TRUE(std::equal(firstFrame.begin(), firstFrame.end(), s_frames[0].bitstream.begin()));
    }
}

// Every frame decodes, at 320 x 224, to the reference pictures of the 256-pixel-wide source in its
// left 256 columns (the macroblocks after the last code are left empty); the sound of each source
// decodes sample for sample to its reference, and silence after it.
TEST_F(Emberfilm, PicturesAndSoundMatchTheReferences)
{
    for (const mediagen::SpuSound* sound : {&s_stereo, &s_mono}) {
        DiscBuilder builder;
        builder.add(emberfilmMovie(s_frames, sound));
        Disc disc(builder);
        const std::vector<StrInfo> found = disc.probe();
        ASSERT_EQ(found.size(), 1u);
        StreamPtr stream = disc.open(found[0]);
        std::vector<uint8_t> y(320 * 224), cb(160 * 112), cr(160 * 112), pcm;
        uint32_t frames = 0;
        readUnits(stream.get(), [&](PsrReadRecord* r) {
            if (r->frameNumber == 0) {
                std::vector<uint8_t> out(11760);
                ASSERT_EQ(LbrDecodeAudio(stream.get(), r, out.data(), int32_t(out.size())), 11760);
                pcm.insert(pcm.end(), out.begin(), out.end());
                return;
            }
            ASSERT_EQ(r->frameNumber, ++frames);
            ASSERT_EQ(LbrDecodeFrameYuv(stream.get(), r, y.data(), cb.data(), cr.data()), 1);
            const mediagen::Bytes ref = mediagen::referenceYuv(kMv3, frames - 1, 256, 224);
            ASSERT_EQ(ref.size(), 256u * 224 * 3 / 2);
            EXPECT_GE(psnr(y.data(), ref.data(), 256, 224, 320, 256), 40) << "Y of frame " << frames;
            EXPECT_GE(psnr(cb.data(), ref.data() + 256 * 224, 128, 112, 160, 128), 40) << "Cb " << frames;
            EXPECT_GE(psnr(cr.data(), ref.data() + 256 * 224 * 5 / 4, 128, 112, 160, 128), 40) << "Cr " << frames;
        });
        EXPECT_EQ(frames, 42u);
        ASSERT_EQ(pcm.size(), 42u * 11760);
        size_t mismatches = 0;
        for (size_t i = 0; i < pcm.size() / 4; ++i) {
            const bool inside = i < sound->referenceLeft.size();
            mismatches += int16_t(mediagen::le16(&pcm[4 * i])) != (inside ? sound->referenceLeft[i] : 0);
            mismatches += int16_t(mediagen::le16(&pcm[4 * i + 2])) != (inside ? sound->referenceRight[i] : 0);
        }
        EXPECT_EQ(mismatches, 0u);
    }
}

// A seek lands on frame (ms x 15 / 1000) + 1 at sectors per frame times that frame, and clears the
// sound decoder. The plugin's decoder returns
// the room a unit needs when given less, and refuses units that are not whole sound units.
TEST_F(Emberfilm, SeeksToTheFrameOfTheTimeAndDecodesOnlyWholeSoundUnits)
{
    DiscBuilder builder;
    builder.add(emberfilmMovie(s_frames, &s_stereo));
    Disc disc(builder);
    const std::vector<StrInfo> found = disc.probe();
    ASSERT_EQ(found.size(), 1u);
    StreamPtr stream = disc.open(found[0]);
    std::vector<uint8_t> once(11760), again(11760);
    auto firstSound = [&](std::vector<uint8_t>& first) { // and the next ones, which move the history on
        std::vector<uint8_t> later(11760);
        size_t n = 0;
        readUnits(stream.get(), [&](PsrReadRecord* r) {
            if (r->frameNumber == 0)
                LbrDecodeAudio(stream.get(), r, (n++ == 0 ? first : later).data(), 11760);
        }, 8);
    };
    // Frame 2's sound begins with a predicting block: it decodes alike only from a cleared history.
    for (std::vector<uint8_t>* pcm : {&once, &again}) {
        ASSERT_EQ(LbrSeekStream(stream.get(), 67), 1);
        firstSound(*pcm);
    }
    EXPECT_TRUE(once == again);
    for (const auto& [ms, frame] : {std::pair{0u, 1u}, {1000u, 16u}, {2733u, 41u}, {2800u, 0u}, {0xFFFFFFFFu, 0u}}) {
        ASSERT_EQ(LbrSeekStream(stream.get(), ms), 1);
        const std::vector<Unit> next = readUnits(stream.get(), {}, 1);
        EXPECT_EQ(next.empty() ? 0u : next[0].frame, frame) << ms << " ms";
    }

    const auto decode = reinterpret_cast<PsrDecodeAudioFn>(dlsym(LbrGetPluginInst(m_plugin), "PsrDecodeAudio"));
    ASSERT_NE(decode, nullptr);
    std::vector<uint8_t> unit(PSR_READ_HEADER_BYTES + 3360), out(11760, 0xEE);
    auto* r = reinterpret_cast<PsrReadRecord*>(unit.data());
    for (const auto& [capacity, bytes, frame, result] : {std::tuple{11759, 3360u, 0u, 11760}, {11760, 3359u, 0u, -1},
                                                         {11760, 3360u, 1u, -1}, {11760, 3360u, 0u, 11760}}) {
        r->payloadBytes = bytes;
        r->frameNumber = frame;
        EXPECT_EQ(decode(r, out.data(), capacity), result) << capacity << " " << bytes << " " << frame;
        EXPECT_EQ(out[0] == 0xEE, result != 11760 || capacity < 11760) << "written only when decoded";
    }
    EXPECT_EQ(decode(nullptr, nullptr, 0), 0);
}

} // namespace
