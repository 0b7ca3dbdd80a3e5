// The Tidefilm plugin on disc images laid out by mediagen::tidefilmMovie: real MDEC frames of the
// test movies and real SPU ADPCM blocks of the test sound, probed as the analysis probes them and
// played through libstreamkit; pictures against the independent decoder's planes, sound sample
// for sample against its reference.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "../mediagen/tidefilm_layout.h"
#include "../support/scratch_folder.h"
#include "disc_builder.h"
#include "disc_probe.h"
#include "discport/discport.h"
#include "streamkit/lbr.h"
#include "unit_reader.h"

namespace {

using namespace discbuild;
using mediagen::MdecFrame;
using mediagen::SpuSound;
using mediagen::TidefilmOptions;

constexpr const char* kPlugin = "Tidefilm.psr";
constexpr const char* kMv1 = "mv1_v2_320x240_15fps_xa37800s.str";
constexpr const char* kMv4 = "mv4_v3_160x112_15fps_x1_xa37800s.str";
constexpr int32_t kPcmBytes = 11760;

// A built image mounted as a drive, with a plugin bound.
class Disc
{
  public:
    explicit Disc(const DiscBuilder& builder, const char* plugin = kPlugin) : m_image(builder.write())
    {
        if (m_image)
            m_drive = CdMountImage(m_image->cue.c_str());
        m_binding = LbrOpenPSR(plugin);
    }
    ~Disc()
    {
        if (m_binding)
            LbrClosePSR(m_binding);
        if (m_drive >= 0)
            CdUnmountImage(m_drive);
    }
    Disc(const Disc&) = delete;
    Disc& operator=(const Disc&) = delete;

    bool ready() const { return m_drive >= 0 && m_binding; }
    int32_t drive() const { return m_drive; }
    PluginBinding* binding() const { return m_binding; }
    std::vector<StrInfo> probe(bool closingCall = true) const
    {
        return discprobe::probeDisc(m_binding, m_drive, closingCall);
    }
    template <typename F> F exported(const char* name) const
    {
        return reinterpret_cast<F>(dlsym(LbrGetPluginInst(m_binding), name));
    }

  private:
    std::unique_ptr<Image> m_image;
    int32_t m_drive = -1;
    PluginBinding* m_binding = nullptr;
};

struct StreamCloser
{
    void operator()(StreamState* s) const { LbrCloseStream(s); }
};
using StreamPtr = std::unique_ptr<StreamState, StreamCloser>;

double psnr(const uint8_t* a, const uint8_t* b, size_t n)
{
    double sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += double(int(a[i]) - int(b[i])) * double(int(a[i]) - int(b[i]));
    return sum == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * double(n) / sum);
}

uint32_t frameBytes(const std::vector<MdecFrame>& frames)
{
    return std::accumulate(frames.begin(), frames.end(), 0u,
                           [](uint32_t sum, const MdecFrame& f) { return sum + uint32_t(f.bitstream.size()); });
}

size_t soundSectors(const std::vector<Sector>& movie)
{
    return size_t(std::count_if(movie.begin(), movie.end(), [](const Sector& s) { return !(s[0x1B] & 0x80); }));
}

// The description of a whole laid-out movie, as a stream opened by hand.
StrInfo wholeMovie(uint32_t first, const std::vector<Sector>& movie, const std::vector<MdecFrame>& frames)
{
    StrInfo info{};
    info.kind = StrVideo | StrAudio;
    info.startSector = first;
    info.sectorCount = uint32_t(movie.size());
    info.frameCount = uint32_t(frames.size());
    info.width = frames[0].width;
    info.height = frames[0].height;
    info.frameRate = frames[0].width < 300 ? 300 : 150;
    info.audioFormat = 1;
    info.channels = 2;
    info.bitsPerSample = 16;
    info.sampleRate = 44100;
    return info;
}

class Tidefilm : public testing::Test
{
  protected:
    void SetUp() override
    {
        m_mv1 = mediagen::mdecFrames(kMv1);
        m_mv4 = mediagen::mdecFrames(kMv4);
        m_stereo = mediagen::spuStereo();
        m_mono = mediagen::spuMono();
        ASSERT_EQ(m_mv1.size(), 45u);
        ASSERT_EQ(m_mv4.size(), 45u);
        ASSERT_FALSE(m_stereo.left.empty() || m_stereo.referenceLeft.empty() || m_stereo.referenceRight.empty());
        ASSERT_FALSE(m_mono.left.empty() || m_mono.referenceLeft.empty());
    }

    std::vector<Sector> movie(bool wide, TidefilmOptions options = {}) const
    {
        std::vector<Sector> sectors = mediagen::tidefilmMovie(wide ? m_mv1 : m_mv4, wide ? &m_stereo : &m_mono, options);
        EXPECT_FALSE(sectors.empty());
        return sectors;
    }

    std::vector<MdecFrame> m_mv1, m_mv4;
    SpuSound m_stereo, m_mono;
};

// ---- analysis ---------------------------------------------------------------------------------

TEST_F(Tidefilm, FindsEachMovieAtItsFirstSectorWithItsLengthSizeRateAndSound)
{
    struct Movie
    {
        bool wide;
        bool endBit;
    };
    const struct
    {
        const char* name;
        std::vector<Movie> movies;
        uint32_t foreignAfter;
        bool closingCall;
    } cases[] = {
        {"320 wide: 15 frames a second", {{true, true}}, 20, true},
        {"160 wide: 30 frames a second", {{false, true}}, 20, true},
        // Without the end bit the second movie's first sound unit ends the first movie.
        {"back to back", {{true, false}, {false, true}}, 20, true},
        // A movie that runs to the end of the track without the end bit ends on a whole unit:
        // kept by the track's closing call, and reported as it stands when no call comes.
        {"last on the track", {{false, false}}, 0, true},
        {"last on the track, no closing call", {{false, false}}, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DiscBuilder b;
        b.addForeign(16);
        std::vector<uint32_t> starts;
        std::vector<std::vector<Sector>> laid;
        for (const Movie& m : c.movies) {
            TidefilmOptions options;
            options.endBit = m.endBit;
            laid.push_back(movie(m.wide, options));
            starts.push_back(b.add(laid.back()));
        }
        b.addForeign(c.foreignAfter);
        const Disc disc(b);
        ASSERT_TRUE(disc.ready());
        const std::vector<StrInfo> found = disc.probe(c.closingCall);
        ASSERT_EQ(found.size(), c.movies.size());
        for (size_t i = 0; i < found.size(); ++i) {
            const std::vector<MdecFrame>& frames = c.movies[i].wide ? m_mv1 : m_mv4;
            const uint16_t rate = c.movies[i].wide ? 150 : 300;
            const StrInfo& info = found[i];
            EXPECT_EQ(info.kind, StrVideo | StrAudio);
            EXPECT_EQ(info.startSector, starts[i]);
            EXPECT_EQ(info.sectorCount, laid[i].size());
            EXPECT_EQ(info.frameCount, 45u);
            EXPECT_EQ(info.width, frames[0].width);
            EXPECT_EQ(info.height, frames[0].height);
            EXPECT_EQ(info.frameRate, rate);
            EXPECT_EQ(info.durationMs, 45u * 10000 / rate);
            EXPECT_EQ(info.audioFormat, 1);
            EXPECT_EQ(info.channels, 2);
            EXPECT_EQ(info.bitsPerSample, 16);
            EXPECT_EQ(info.sampleRate, 44100u);
            // Every sound sector counts, the movie's first one too.
            EXPECT_EQ(info.dataBytes, frameBytes(frames) + 1680u * soundSectors(laid[i]));
        }
    }
}

TEST_F(Tidefilm, LeavesDiscsAndSectorsThatAreNotItsOwn)
{
    DiscBuilder b;
    b.addForeign(8);
    const uint32_t first = b.add(movie(false));
    b.addForeign(8);
    // A stopped scan (a null sector while the movie is followed) drops the unfinished movie.
    {
        const std::vector<Sector> sectors = movie(false);
        DiscBuilder cut;
        cut.add(std::vector<Sector>(sectors.begin(), sectors.begin() + 60));
        const Disc disc(cut);
        ASSERT_TRUE(disc.ready());
        EXPECT_TRUE(disc.probe().empty());
    }
    // The game's discs have a single data track: a disc with an audio track is not probed.
    DiscBuilder withAudio = b;
    withAudio.addAudioTrack(200);
    const Disc twoTracks(withAudio);
    ASSERT_TRUE(twoTracks.ready());
    CdTocEntry toc[4] = {};
    ASSERT_EQ(CdReadToc(twoTracks.drive(), 4, toc), 2);
    EXPECT_EQ(LbrIsSupportCDBegin(twoTracks.binding(), 2, toc), nullptr);

    // The general disc movie plugin also takes the video sectors (0x0160, type bit 15), from the
    // first frame on, as a movie without sound. The default plugin order ranks Tidefilm first, so
    // the analysis plays these sectors through Tidefilm, which starts at the first sound unit.
    const Disc general(b, "Discmovie.psr");
    ASSERT_TRUE(general.ready());
    const std::vector<StrInfo> taken = general.probe();
    ASSERT_EQ(taken.size(), 1u);
    const Disc own(b);
    const std::vector<StrInfo> ours = own.probe();
    ASSERT_EQ(ours.size(), 1u);
    EXPECT_EQ(ours[0].startSector, first);
    EXPECT_EQ(taken[0].startSector, first + 2);
    EXPECT_EQ(taken[0].kind, StrVideo) << "the SPU sound is Tidefilm's alone";
}

TEST_F(Tidefilm, AreaDescriptionTakesTheUnitSizesOfItsFirstSectors)
{
    DiscBuilder b;
    b.addForeign(4);
    const std::vector<Sector> narrow = movie(false);
    const uint32_t first = b.add(narrow);
    const Disc disc(b);
    ASSERT_TRUE(disc.ready());
    StrInfo info{};
    ASSERT_EQ(LbrGetStrDataInfo(disc.binding(), disc.drive(), first, uint32_t(narrow.size()), &info), 1);
    EXPECT_EQ(info.kind, StrVideo | StrAudio);
    EXPECT_EQ(info.width, 160u);
    EXPECT_EQ(info.height, 112u);
    EXPECT_EQ(info.frameRate, 300) << "the rate follows the width, as the analysis reports it";
    // Sound unit of 2 sectors, then frame 1 of 3 sectors.
    EXPECT_EQ(info.frameCount, uint32_t(narrow.size()) / 5);
    EXPECT_EQ(info.durationMs, info.frameCount * 10000 / 300);
    EXPECT_EQ(info.sampleRate, 44100u);
    EXPECT_EQ(LbrGetStrDataInfo(disc.binding(), disc.drive(), 0, 4, &info), 0) << "foreign sectors";
    EXPECT_EQ(LbrGetStrDataInfo(disc.binding(), disc.drive(), first, 0, &info), 0);
}

// ---- playback ---------------------------------------------------------------------------------

TEST_F(Tidefilm, EveryFrameMatchesTheReferenceAndTheSoundIsBitIdentical)
{
    for (const bool wide : {true, false}) {
        const char* name = wide ? kMv1 : kMv4;
        SCOPED_TRACE(name);
        const std::vector<MdecFrame>& frames = wide ? m_mv1 : m_mv4;
        const SpuSound& sound = wide ? m_stereo : m_mono;
        DiscBuilder b;
        b.addForeign(3);
        const std::vector<Sector> sectors = movie(wide);
        const uint32_t first = b.add(sectors);
        const Disc disc(b);
        ASSERT_TRUE(disc.ready());
        StrInfo info = wholeMovie(first, sectors, frames);
        StreamPtr stream(LbrOpenStream(kPlugin, nullptr, disc.drive(), &info, LBR_WANT_VIDEO | LBR_WANT_AUDIO));
        ASSERT_TRUE(stream);
        const std::vector<movietest::Unit> units = movietest::readUnits(stream.get());

        const uint16_t w = frames[0].width, h = frames[0].height;
        std::vector<uint8_t> y(size_t(w) * h), cb(size_t(w / 2) * (h / 2)), cr(cb.size());
        std::vector<int16_t> left, right;
        uint32_t frame = 0, soundUnits = 0;
        movietest::RecordBuffer record;
        for (const movietest::Unit& u : units) {
            std::memset(record.get(), 0, PSR_READ_HEADER_BYTES);
            record.get()->frameNumber = u.frame;
            record.get()->width = u.width;
            record.get()->height = u.height;
            record.get()->unitKind = u.kind;
            record.get()->payloadBytes = uint32_t(u.payload.size());
            std::memcpy(record.get()->payload, u.payload.data(), u.payload.size());
            if (!u.isVideo()) {
                ++soundUnits;
                uint8_t pcm[kPcmBytes];
                ASSERT_EQ(LbrDecodeAudio(stream.get(), record.get(), pcm, kPcmBytes), kPcmBytes);
                for (int32_t i = 0; i < kPcmBytes; i += 4) {
                    left.push_back(int16_t(pcm[i] | pcm[i + 1] << 8));
                    right.push_back(int16_t(pcm[i + 2] | pcm[i + 3] << 8));
                }
                continue;
            }
            ASSERT_EQ(u.frame, ++frame) << "frames in order, none joined or dropped";
            ASSERT_EQ(u.payload, frames[frame - 1].bitstream);
            ASSERT_EQ(LbrDecodeFrameYuv(stream.get(), record.get(), y.data(), cb.data(), cr.data()), 1);
            const std::vector<uint8_t> ref = mediagen::referenceYuv(name, frame - 1, w, h);
            ASSERT_EQ(ref.size(), y.size() + 2 * cb.size());
            EXPECT_GE(psnr(y.data(), ref.data(), y.size()), 40.0) << "Y of frame " << frame;
            EXPECT_GE(psnr(cb.data(), ref.data() + y.size(), cb.size()), 40.0) << "Cb of frame " << frame;
            EXPECT_GE(psnr(cr.data(), ref.data() + y.size() + cb.size(), cr.size()), 40.0) << "Cr of frame " << frame;
        }
        EXPECT_EQ(frame, 45u);
        EXPECT_EQ(soundUnits, wide ? 45u : 23u);
        // The source's samples, then the silence the layout pads with.
        for (size_t i = 0; i < left.size(); ++i) {
            const int16_t l = i < sound.referenceLeft.size() ? sound.referenceLeft[i] : 0;
            const int16_t r = i < sound.referenceRight.size() ? sound.referenceRight[i] : 0;
            ASSERT_EQ(left[i], l) << "left sample " << i;
            ASSERT_EQ(right[i], r) << "right sample " << i;
        }
    }
}

// PsrSeek positions at (sectors / frames) x (ms x rate / 10000): the next frame is the first one
// that starts at or after that sector.
TEST_F(Tidefilm, SeekLandsOnTheFrameOfTheFormula)
{
    DiscBuilder b;
    b.addForeign(2);
    const std::vector<Sector> sectors = movie(false);
    const uint32_t first = b.add(sectors);
    const Disc disc(b);
    ASSERT_TRUE(disc.ready());
    const auto open = disc.exported<PsrOpenCDFn>("PsrOpenCD");
    const auto read = disc.exported<PsrReadFn>("PsrRead");
    const auto seek = disc.exported<PsrSeekFn>("PsrSeek");
    const auto close = disc.exported<PsrCloseFn>("PsrClose");
    ASSERT_TRUE(open && read && seek && close);

    const struct
    {
        uint32_t ms;
        uint32_t frameCount; // of the stored description
    } cases[] = {{0, 45}, {100, 45}, {733, 45}, {1400, 45}, {1500, 45}, {0xFFFFFFFFu, 45},
                 // A description without frames (hand-made or damaged): the seek restarts the stream.
                 {900, 0}};
    movietest::RecordBuffer record;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.ms << " ms, " << c.frameCount << " frames");
        StrInfo info = wholeMovie(first, sectors, m_mv4);
        info.frameCount = c.frameCount;
        void* handle = open(disc.drive(), &info);
        ASSERT_NE(handle, nullptr);
        uint64_t sector = 0;
        if (c.frameCount)
            sector = uint64_t(info.sectorCount / c.frameCount) * (uint64_t(c.ms) * info.frameRate / 10000);
        uint32_t expected = 0;
        for (uint64_t s = sector; s < sectors.size() && expected == 0; ++s)
            if ((sectors[s][0x1B] & 0x80) && sectors[s][0x1C] == 0)
                expected = mediagen::le16(&sectors[s][0x20]);
        ASSERT_EQ(seek(handle, c.ms), 1);
        uint32_t landed = 0;
        while (landed == 0 && read(handle, record.get()) == 1)
            landed = record.get()->frameNumber;
        EXPECT_EQ(landed, expected);
        EXPECT_EQ(close(handle), 1);
    }
}

// ---- damage -----------------------------------------------------------------------------------

TEST_F(Tidefilm, DamagedSectorsLoseOnlyTheirOwnUnit)
{
    // Sectors of frame `frame` (from 1) of a movie laid out from the first six narrow frames.
    const std::vector<MdecFrame> six(m_mv4.begin(), m_mv4.begin() + 6);
    const std::vector<Sector> intact = mediagen::tidefilmMovie(six, &m_mono);
    ASSERT_FALSE(intact.empty());
    const auto sectorOf = [&](uint32_t frame, uint16_t index) {
        for (size_t i = 0; i < intact.size(); ++i)
            if ((intact[i][0x1B] & 0x80) && mediagen::le16(&intact[i][0x20]) == frame && intact[i][0x1C] == index)
                return i;
        ADD_FAILURE() << "no sector " << index << " of frame " << frame;
        return size_t(0);
    };
    using Damage = std::function<void(std::vector<Sector>&)>;
    const struct
    {
        const char* name;
        Damage damage;
        std::vector<uint32_t> frames; // delivered, in order
        std::optional<uint32_t> frame2Bytes; // the payload of frame 2 when it is not the source's
        uint32_t soundUnits;
    } cases[] = {
        {"intact", [](std::vector<Sector>&) {}, {1, 2, 3, 4, 5, 6}, {}, 3},
        {"frame size beyond its sectors",
         [&](std::vector<Sector>& s) { mediagen::put32(&s[sectorOf(2, 0)][0x24], 0xFFFFFFFFu); },
         {1, 2, 3, 4, 5, 6}, 4 * 2016, 3},
        {"frame size 0", [&](std::vector<Sector>& s) { mediagen::put32(&s[sectorOf(2, 0)][0x24], 0); },
         {1, 3, 4, 5, 6}, {}, 3},
        {"middle sector lost",
         [&](std::vector<Sector>& s) { s[sectorOf(3, 1)] = foreignSector(5, 5); }, {1, 2, 4, 5, 6}, {}, 3},
        {"sector repeated",
         [&](std::vector<Sector>& s) { s[sectorOf(4, 2)] = s[sectorOf(4, 1)]; }, {1, 2, 3, 5, 6}, {}, 3},
        {"unit of 0xFFFF sectors",
         [&](std::vector<Sector>& s) { mediagen::put16(&s[sectorOf(5, 0)][0x1E], 0xFFFF); }, {1, 2, 3, 4, 6}, {}, 3},
        {"index past the unit",
         [&](std::vector<Sector>& s) { mediagen::put16(&s[sectorOf(6, 1)][0x1C], 0xFFFF); }, {1, 2, 3, 4, 5}, {}, 3},
        {"sound unit of one sector",
         [&](std::vector<Sector>& s) {
             s.erase(s.begin() + 1);
             mediagen::put16(&s[0][0x1E], 1);
         },
         {1, 2, 3, 4, 5, 6}, {}, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Sector> sectors = intact;
        c.damage(sectors);
        DiscBuilder b;
        b.addForeign(2);
        const uint32_t first = b.add(sectors);
        b.addForeign(2);
        const Disc disc(b);
        ASSERT_TRUE(disc.ready());
        disc.probe(); // takes every sector, whatever they hold
        StrInfo info = wholeMovie(first, sectors, six);
        StreamPtr stream(LbrOpenStream(kPlugin, nullptr, disc.drive(), &info, LBR_WANT_VIDEO | LBR_WANT_AUDIO));
        ASSERT_TRUE(stream);
        std::vector<uint32_t> frames;
        uint32_t soundUnits = 0;
        movietest::RecordBuffer record;
        while (LbrReadStream(stream.get(), 0, record.get()) == 1) {
            const PsrReadRecord* r = record.get();
            const std::vector<uint8_t> payload(r->payload, r->payload + r->payloadBytes);
            if (!(r->unitKind & UnitVideo)) {
                ++soundUnits;
                uint8_t pcm[kPcmBytes];
                const int32_t decoded = LbrDecodeAudio(stream.get(), record.get(), pcm, kPcmBytes);
                EXPECT_EQ(decoded, r->payloadBytes == 3360 ? kPcmBytes : 0) << "a unit of " << r->payloadBytes;
                continue;
            }
            frames.push_back(r->frameNumber);
            ASSERT_GE(r->frameNumber, 1u);
            ASSERT_LE(r->frameNumber, 6u);
            if (r->frameNumber == 2 && c.frame2Bytes) {
                EXPECT_EQ(r->payloadBytes, *c.frame2Bytes);
                EXPECT_TRUE(std::equal(six[1].bitstream.begin(), six[1].bitstream.end(), payload.begin()));
            } else {
                EXPECT_EQ(payload, six[r->frameNumber - 1].bitstream) << "frame " << r->frameNumber;
            }
        }
        EXPECT_EQ(frames, c.frames);
        EXPECT_EQ(soundUnits, c.soundUnits);
    }
}

TEST_F(Tidefilm, DecodeAudioAsksForRoomAndRefusesUnitsOfOtherSizes)
{
    PluginBinding* binding = LbrOpenPSR(kPlugin);
    ASSERT_NE(binding, nullptr);
    const auto decode = reinterpret_cast<PsrDecodeAudioFn>(dlsym(LbrGetPluginInst(binding), "PsrDecodeAudio"));
    ASSERT_NE(decode, nullptr);
    movietest::RecordBuffer record;
    std::memset(record.get(), 0, PSR_READ_HEADER_BYTES);
    record.get()->unitKind = UnitAudio;
    std::vector<uint8_t> pcm(kPcmBytes + 16, 0xA5);
    mediagen::copyBlocks(m_mono.left, 0, 105, record.get()->payload);
    mediagen::copyBlocks(m_mono.left, 0, 105, record.get()->payload + 1680);
    record.get()->payloadBytes = 3360;
    EXPECT_EQ(decode(nullptr, pcm.data(), kPcmBytes), 0);
    EXPECT_EQ(decode(record.get(), pcm.data(), kPcmBytes - 1), kPcmBytes);
    EXPECT_EQ(pcm[0], 0xA5) << "nothing decoded into too little room";
    EXPECT_EQ(decode(record.get(), pcm.data(), kPcmBytes), kPcmBytes);
    EXPECT_EQ(int16_t(pcm[0] | pcm[1] << 8), m_mono.referenceLeft[0]);
    EXPECT_EQ(pcm[kPcmBytes], 0xA5) << "nothing written past one unit";
    for (uint32_t bytes : {0u, 1680u, 3359u, 3361u, 5040u}) {
        record.get()->payloadBytes = bytes;
        EXPECT_EQ(decode(record.get(), pcm.data(), kPcmBytes), -1) << bytes;
    }
    record.get()->payloadBytes = 3360;
    EXPECT_EQ(decode(record.get(), nullptr, kPcmBytes), -1);
    LbrClosePSR(binding);
}

// The whole chain through the command-line tool on a fresh installation: the analysis lists the
// two movies through Tidefilm and hides what the general disc movie plugin found inside them.
TEST_F(Tidefilm, AnalysisThroughTheCommandLineListsTheMoviesOnce)
{
    const std::filesystem::path cli = std::filesystem::path(TAMRIN_OUT_DIR) / "tamrin-cli";
    ASSERT_TRUE(std::filesystem::exists(cli));
    DiscBuilder b;
    b.addForeign(12);
    TidefilmOptions open;
    open.endBit = false;
    const uint32_t first = b.add(movie(true, open));
    const uint32_t second = b.add(movie(false));
    b.addForeign(12);
    const std::unique_ptr<Image> image = b.write();
    ASSERT_TRUE(image);
    testsupport::ScratchFolder home{"tidefilm-home"};
    ASSERT_TRUE(home.made());
    const std::string command = "TAMRIN_HOME='" + home.path().string() + "' '" + cli.string() +
                                "' analyze --json --no-progress --upload no '" + image->cue + "'";
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char chunk[4096];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
            out.append(chunk, n);
        EXPECT_EQ(::pclose(pipe), 0) << out;
    }
    const nlohmann::json analysis = nlohmann::json::parse(out, nullptr, false);
    ASSERT_FALSE(analysis.is_discarded()) << out;
    std::vector<nlohmann::json> listed;
    for (const nlohmann::json& stream : analysis["streams"]) {
        if (stream["listed"] == true)
            listed.push_back(stream);
        else
            EXPECT_EQ(stream["plugin"], "DISCMOVIE.PSR");
    }
    ASSERT_EQ(listed.size(), 2u) << out;
    const uint32_t starts[] = {first, second};
    const uint16_t rates[] = {150, 300};
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(listed[i]["plugin"], "TIDEFILM.PSR");
        EXPECT_EQ(listed[i]["startSector"], starts[i]);
        EXPECT_EQ(listed[i]["frameCount"], 45);
        EXPECT_EQ(listed[i]["frameRate"], rates[i]);
        EXPECT_EQ(listed[i]["sampleRate"], 44100);
        EXPECT_EQ(listed[i]["channels"], 2);
    }
}

} // namespace
