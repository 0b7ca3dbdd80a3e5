// The Emberfilm plugin on disc images laid out by emberfilm_layout.h from the MDEC frames of a test
// movie and the SPU ADPCM blocks of the test sound files, mounted and driven through libstreamkit:
// what the probe finds, the units read, and the pictures and sound against the references.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cmath>
#include <functional>
#include <memory>
#include <utility>

#include "../mediagen/emberfilm_layout.h"
#include "disc_builder.h"
#include "disc_probe.h"
#include "discport/discport.h"
#include "streamkit/lbr.h"

namespace {

using namespace discbuild;
using mediagen::emberfilmMovie;
using Sectors = std::vector<Sector>;

constexpr const char* kPlugin = "Emberfilm.psr";
constexpr const char* kMv3 = "mv3_v2_256x224_15fps_xa18900m.str";
constexpr size_t kRecordBytes = PSR_READ_HEADER_BYTES + 256 * 2040; // the largest unit, exactly

struct Disc
{
    explicit Disc(const DiscBuilder& b)
        : image(b.write()), drive(CdMountImage(image ? image->cue.c_str() : ""))
    {
    }
    ~Disc() { CdUnmountImage(drive); }
    std::vector<StrInfo> probe(const char* plugin = kPlugin) const
    {
        PluginBinding* binding = LbrOpenPSR(plugin);
        EXPECT_NE(binding, nullptr) << plugin;
        std::vector<StrInfo> found = binding ? discprobe::probeDisc(binding, drive) : std::vector<StrInfo>{};
        LbrClosePSR(binding);
        return found;
    }
    std::unique_ptr<Image> image;
    int32_t drive;
};

using StreamPtr = std::unique_ptr<StreamState, int32_t (*)(StreamState*)>;

StreamPtr open(const Disc& disc, StrInfo info)
{
    return {LbrOpenStream(kPlugin, nullptr, disc.drive, &info, LBR_WANT_VIDEO | LBR_WANT_AUDIO),
            LbrCloseStream};
}

// The payload sizes of the units (sound negative), up to `limit` units, read into a buffer of
// exactly the largest unit; `each` sees every record.
std::vector<int32_t> readUnits(StreamState* s, const std::function<void(PsrReadRecord*)>& each = {},
                               size_t limit = 5000)
{
    std::vector<int32_t> sizes;
    auto bytes = std::make_unique<uint8_t[]>(kRecordBytes);
    auto* r = reinterpret_cast<PsrReadRecord*>(bytes.get());
    while (sizes.size() < limit && s && LbrReadStream(s, 0, r) == 1) {
        sizes.push_back(r->frameNumber != 0 ? int32_t(r->payloadBytes) : -int32_t(r->payloadBytes));
        if (each)
            each(r);
    }
    return sizes;
}

// Of the `width` x `height` top-left samples of two planes.
double psnr(const uint8_t* a, size_t strideA, const uint8_t* b, size_t strideB, size_t width, size_t height)
{
    double squares = 0;
    for (size_t y = 0; y < height; ++y)
        for (size_t x = 0; x < width; ++x)
            squares += std::pow(double(a[y * strideA + x]) - b[y * strideB + x], 2);
    return squares == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * double(width * height) / squares);
}

const std::vector<mediagen::MdecFrame> kFrames = mediagen::mdecFrames(kMv3); // 42 frames
const mediagen::SpuSound kStereo = mediagen::spuStereo(), kMono = mediagen::spuMono();

// A disc holding the whole test movie with `sound`, and the stream its probe finds.
std::pair<std::unique_ptr<Disc>, StrInfo> oneMovie(const mediagen::SpuSound& sound)
{
    DiscBuilder builder;
    builder.add(emberfilmMovie(kFrames, &sound));
    auto disc = std::make_unique<Disc>(builder);
    const std::vector<StrInfo> found = disc->probe();
    EXPECT_EQ(found.size(), 1u);
    return {std::move(disc), found.empty() ? StrInfo{} : found[0]};
}

// Two movies back to back between foreign sectors: each found at its first sector, and its area
// described alike. The general disc movie plugin, after this one in the default order, finds no
// movie header in these sectors and takes none of them; a disc of two tracks is not looked at.
TEST(Emberfilm, FindsMoviesBackToBackAndDescribesTheirAreas)
{
    const Sectors a = emberfilmMovie(kFrames, &kStereo),
                  b = emberfilmMovie({kFrames.begin(), kFrames.begin() + 10}, &kMono);
    DiscBuilder builder;
    builder.addForeign(20);
    builder.add(a);
    builder.add(b);
    builder.addForeign(5);
    Disc disc(builder);
    const std::vector<StrInfo> found = disc.probe();
    ASSERT_EQ(found.size(), 2u);
    PluginBinding* plugin = LbrOpenPSR(kPlugin);
    const uint32_t starts[] = {20, 20 + uint32_t(a.size())},
                   counts[] = {uint32_t(a.size()), uint32_t(b.size())};
    for (size_t i = 0; i < 2; ++i) {
        StrInfo area{};
        ASSERT_EQ(LbrGetStrDataInfo(plugin, disc.drive, starts[i], counts[i], &area), 1);
        for (const StrInfo& info : {found[i], area}) {
            EXPECT_EQ(std::make_tuple(info.kind, info.startSector, info.sectorCount, info.frameCount),
                      std::make_tuple(StrVideo | StrAudio, starts[i], counts[i], i == 0 ? 42u : 10u));
            EXPECT_EQ(
                std::make_tuple(info.durationMs, info.dataBytes, info.width, info.height, info.frameRate),
                std::make_tuple(info.frameCount * 1000 / 15, counts[i] * 2040, 320u, 224u, 150));
            EXPECT_EQ(std::make_tuple(info.audioFormat, info.channels, info.bitsPerSample, info.sampleRate),
                      std::make_tuple(1, 2, 16, 44100u));
        }
    }
    StrInfo none{};
    EXPECT_EQ(LbrGetStrDataInfo(plugin, disc.drive, 0, 20, &none), 0) << "foreign sectors";
    EXPECT_TRUE(disc.probe("Discmovie.psr").empty());

    builder.addAudioTrack(300);
    Disc twoTracks(builder);
    CdTocEntry toc[4] = {};
    ASSERT_EQ(CdReadToc(twoTracks.drive, 4, toc), 2);
    EXPECT_EQ(LbrIsSupportCDBegin(plugin, 2, toc), nullptr);
    LbrClosePSR(plugin);
}

// Three frames of J J J N R, damaged, after a foreign sector and before another (or running to the
// end of the track). The probe: the frame counts found (each stream read to its end within the
// largest unit). The units of the area from the foreign sector on: sectors of one kind in a row,
// where a sector of neither kind counts as one of the unit's own, or is skipped at a unit's start.
TEST(Emberfilm, ProbeAndUnitsOfDamagedMovies)
{
    struct Edit
    {
        size_t sector, offset;
        int value; // -1: a foreign sector there
    };
    const std::vector<int32_t> plain = {6120, -3360, 6120, -3360, 6120, -3360};
    std::vector<Edit> allVideo;
    for (size_t sector : {3, 4, 8, 9, 13, 14})
        allVideo.push_back({sector, 0x1A, 'J'});
    const struct
    {
        const char* name;
        size_t kept; // sectors of the movie kept
        bool atTrackEnd;
        std::vector<Edit> edits;
        std::vector<uint32_t> frames;
        std::vector<int32_t> units; // empty: not read
    } cases[] = {
        {"whole", 15, false, {}, {3}, plain},
        {"whole, to the end of the track", 15, true, {}, {3}, plain},
        {"last frame open at the track's end", 14, true, {}, {}, {6120, -3360, 6120, -3360, 6120, -1680}},
        {"first frame never completes", 4, false, {}, {}, {}},
        {"last frame cut by an untagged sector", 15, false, {{11, 0x1B, 2}}, {2}, plain},
        {"no last index", 15, false, {{5, 0x1D, 0}}, {1}, {6120, -5040, 4080, -3360, 6120, -3360}},
        {"another letter", 15, false, {{6, 0x1A, 'X'}}, {3}, plain},
        {"untagged left sound", 15, false, {{3, 0, -1}}, {}, {8160, -1680, 6120, -3360, 6120, -3360}},
        {"video only", 15, false, allVideo, {3}, {10200, 10200, 10200}},
        {"frame 0xFFFF closes the 65536th", 15, false, {{14, 0x1E, 0xFF}, {14, 0x1F, 0xFF}}, {65536}, plain},
        {"a second frame 0 starts a second movie", 15, false, {{5, 0x1E, 0}}, {1, 3}, plain},
        {"frames of 256 sectors claimed", 15, false, {{0, 0x1D, 0xFF}}, {3}, plain},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Sectors movie =
            emberfilmMovie({kFrames.begin(), kFrames.begin() + 3}, &kStereo, {.sectorsPerFrame = 5});
        movie.resize(c.kept);
        for (const Edit& e : c.edits) {
            if (e.value < 0)
                movie[e.sector] = foreignSector(1, 0);
            else
                movie[e.sector][e.offset] = uint8_t(e.value);
        }
        DiscBuilder builder;
        builder.addForeign(1);
        builder.add(movie);
        if (!c.atTrackEnd)
            builder.addForeign(1);
        Disc disc(builder);
        const std::vector<StrInfo> found = disc.probe();
        ASSERT_EQ(found.size(), c.frames.size());
        for (size_t i = 0; i < found.size(); ++i) {
            EXPECT_EQ(found[i].frameCount, c.frames[i]);
            EXPECT_EQ(found[i].startSector, i == 0 ? 1u : 6u);
            EXPECT_LE(readUnits(open(disc, found[i]).get()).size(), 2 * movie.size());
        }
        if (c.units.empty())
            continue;
        StrInfo area{};
        area.sectorCount = uint32_t(movie.size() + 1);
        area.frameCount = 3;
        uint32_t frames = 0;
        const auto checkFrame = [&](PsrReadRecord* r) {
            if (r->frameNumber == 0)
                return;
            EXPECT_EQ(r->frameNumber, ++frames);
            if (r->frameNumber == 1) {
                EXPECT_EQ(std::memcmp(r->payload, kFrames[0].bitstream.data(), 2040), 0);
            }
        };
        EXPECT_EQ(readUnits(open(disc, area).get(), checkFrame), c.units);
    }
}

// Every frame decodes, at 320 x 224, to the reference pictures of the 256-pixel-wide source in its
// left 256 columns (the macroblocks after the last code are left empty); the sound of each source
// decodes sample for sample to its reference, and to silence after it.
TEST(Emberfilm, PicturesAndSoundMatchTheReferences)
{
    for (const mediagen::SpuSound* sound : {&kStereo, &kMono}) {
        const auto [disc, info] = oneMovie(*sound);
        StreamPtr stream = open(*disc, info);
        std::vector<uint8_t> y(320 * 224), cb(160 * 112), cr(160 * 112), pcm, out(11760);
        uint32_t frames = 0;
        readUnits(stream.get(), [&](PsrReadRecord* r) {
            if (r->frameNumber == 0) {
                ASSERT_EQ(LbrDecodeAudio(stream.get(), r, out.data(), int32_t(out.size())), 11760);
                pcm.insert(pcm.end(), out.begin(), out.end());
                return;
            }
            ASSERT_EQ(r->frameNumber, ++frames);
            ASSERT_EQ(LbrDecodeFrameYuv(stream.get(), r, y.data(), cb.data(), cr.data()), 1);
            const mediagen::Bytes ref = mediagen::referenceYuv(kMv3, frames - 1, 256, 224);
            ASSERT_EQ(ref.size(), 256u * 224 * 3 / 2);
            EXPECT_GE(psnr(y.data(), 320, ref.data(), 256, 256, 224), 40) << "Y of frame " << frames;
            EXPECT_GE(psnr(cb.data(), 160, ref.data() + 256 * 224, 128, 128, 112), 40) << "Cb of " << frames;
            EXPECT_GE(psnr(cr.data(), 160, ref.data() + 256 * 224 * 5 / 4, 128, 128, 112), 40)
                << "Cr of " << frames;
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

// A seek lands on frame (ms x 15 / 1000) + 1, at sectors per frame times that frame, and clears the
// sound decoder. The plugin's decoder answers the room a unit needs when given less, and refuses
// units that are not whole sound units.
TEST(Emberfilm, SeeksToTheFrameOfTheTimeAndDecodesOnlyWholeSoundUnits)
{
    const auto [disc, info] = oneMovie(kStereo);
    StreamPtr stream = open(*disc, info);
    // Frame 2's sound begins with a predicting block: it decodes alike only from a cleared history,
    // though the units after it, decoded too, leave the history elsewhere.
    std::vector<uint8_t> pcm[2] = {std::vector<uint8_t>(11760), std::vector<uint8_t>(11760)}, later(11760);
    for (std::vector<uint8_t>& first : pcm) {
        ASSERT_EQ(LbrSeekStream(stream.get(), 67), 1);
        std::vector<uint8_t>* into = &first;
        readUnits(
            stream.get(),
            [&](PsrReadRecord* r) {
                if (r->frameNumber == 0)
                    LbrDecodeAudio(stream.get(), r, std::exchange(into, &later)->data(), 11760);
            },
            8);
    }
    EXPECT_TRUE(pcm[0] == pcm[1]);
    for (const auto& [ms, frame] : {std::pair{0u, 1u}, {1000u, 16u}, {2733u, 41u}, {2800u, 0u}, {~0u, 0u}}) {
        ASSERT_EQ(LbrSeekStream(stream.get(), ms), 1);
        uint32_t next = 0;
        readUnits(
            stream.get(), [&](PsrReadRecord* r) { next = r->frameNumber; }, 1);
        EXPECT_EQ(next, frame) << ms << " ms";
    }

    PluginBinding* plugin = LbrOpenPSR(kPlugin);
    const auto decode = reinterpret_cast<PsrDecodeAudioFn>(dlsym(LbrGetPluginInst(plugin), "PsrDecodeAudio"));
    ASSERT_NE(decode, nullptr);
    std::vector<uint8_t> unit(PSR_READ_HEADER_BYTES + 3360), out(11760, 0xEE);
    auto* r = reinterpret_cast<PsrReadRecord*>(unit.data());
    for (const auto& [capacity, bytes, frame, result] : {std::tuple{11759, 3360u, 0u, 11760},
                                                         {11760, 3359u, 0u, -1},
                                                         {11760, 3360u, 1u, -1},
                                                         {11760, 3360u, 0u, 11760}}) {
        r->payloadBytes = bytes;
        r->frameNumber = frame;
        EXPECT_EQ(decode(r, out.data(), capacity), result) << capacity << " " << bytes << " " << frame;
        EXPECT_EQ(out[0] == 0xEE, result != 11760 || capacity < 11760) << "written only when decoded";
    }
    EXPECT_EQ(decode(nullptr, nullptr, 0), 0);
    LbrClosePSR(plugin);
}

} // namespace
