// The Tidefilm plugin on disc images laid out by mediagen::tidefilmMovie (real MDEC frames of the
// test movies, real SPU blocks of the test sound), probed as the analysis probes them and played
// through libstreamkit: pictures against the independent decoder's planes, sound sample for
// sample against its reference.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>

#include "../mediagen/tidefilm_layout.h"
#include "../support/scratch_folder.h"
#include "disc_builder.h"
#include "disc_probe.h"
#include "discport/discport.h"
#include "streamkit/lbr.h"
#include "unit_reader.h"

namespace {

using namespace discbuild;
using mediagen::le16;
using mediagen::MdecFrame;

constexpr const char* kPlugin = "Tidefilm.psr";
constexpr const char* kMovies[] = {"mv1_v2_320x240_15fps_xa37800s.str",
                                   "mv4_v3_160x112_15fps_x1_xa37800s.str"};
constexpr int32_t kPcmBytes = 11760;

struct Disc
{
    explicit Disc(const DiscBuilder& b) : image(b.write())
    {
        drive = image ? CdMountImage(image->cue.c_str()) : -1;
    }
    ~Disc()
    {
        LbrClosePSR(binding);
        if (drive >= 0)
            CdUnmountImage(drive);
    }
    std::vector<StrInfo> probe(bool closingCall = true) const
    {
        return discprobe::probeDisc(binding, drive, closingCall);
    }

    std::unique_ptr<Image> image;
    int32_t drive = -1;
    PluginBinding* binding = LbrOpenPSR(kPlugin);
};

struct StreamCloser
{
    void operator()(StreamState* s) const { LbrCloseStream(s); }
};
using StreamPtr = std::unique_ptr<StreamState, StreamCloser>;

StreamPtr openStream(const Disc& disc, StrInfo info)
{
    return StreamPtr(LbrOpenStream(kPlugin, nullptr, disc.drive, &info, LBR_WANT_VIDEO | LBR_WANT_AUDIO));
}

double psnr(const uint8_t* a, const uint8_t* b, size_t n)
{
    double sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += double(a[i] - b[i]) * double(a[i] - b[i]);
    return sum == 0 ? 99.0 : 10.0 * std::log10(65025.0 * double(n) / sum);
}

bool isVideo(const Sector& s)
{
    return (s[0x1B] & 0x80) != 0;
}

class Tidefilm : public testing::Test
{
  protected:
    void SetUp() override
    {
        m_frames[0] = mediagen::mdecFrames(kMovies[0]);
        m_frames[1] = mediagen::mdecFrames(kMovies[1]);
        ASSERT_EQ(m_frames[0].size(), 45u);
        ASSERT_EQ(m_frames[1].size(), 45u);
        ASSERT_FALSE(m_sound[0].referenceRight.empty() || m_sound[1].referenceLeft.empty());
    }

    // Movie 0: 320 wide (15 fps) with the stereo sound; movie 1: 160 wide (30 fps), mono sound.
    std::vector<Sector> movie(int m, bool endBit = true) const
    {
        mediagen::TidefilmOptions options;
        options.endBit = endBit;
        return mediagen::tidefilmMovie(m_frames[m], &m_sound[m], options);
    }

    std::vector<MdecFrame> m_frames[2];
    mediagen::SpuSound m_sound[2] = {mediagen::spuStereo(), mediagen::spuMono()};
};

TEST_F(Tidefilm, FindsEachMovieAtItsFirstSectorWithItsLengthSizeRateAndSound)
{
    const struct
    {
        const char* name;
        std::vector<std::pair<int, bool>> movies; // movie, end bit
        uint32_t foreignAfter;
        bool closingCall;
    } cases[] = {
        {"320 wide: 15 frames a second", {{0, true}}, 20, true},
        {"160 wide: 30 frames a second", {{1, true}}, 20, true},
        {"back to back: sound unit 1 starts the next", {{0, false}, {1, true}}, 20, true},
        // Ending on a whole unit at the end of the track, the movie is kept by the closing call
        // and reported as it stands without one.
        {"last on the track", {{1, false}}, 0, true},
        {"last on the track, no closing call", {{1, false}}, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DiscBuilder b;
        b.addForeign(16);
        std::vector<std::vector<Sector>> laid;
        std::vector<uint32_t> starts;
        for (const auto& [m, endBit] : c.movies) {
            laid.push_back(movie(m, endBit));
            starts.push_back(b.add(laid.back()));
        }
        b.addForeign(c.foreignAfter);
        const Disc disc(b);
        const std::vector<StrInfo> found = disc.probe(c.closingCall);
        ASSERT_EQ(found.size(), c.movies.size());
        for (size_t i = 0; i < found.size(); ++i) {
            const std::vector<MdecFrame>& frames = m_frames[c.movies[i].first];
            const uint16_t rate = frames[0].width < 300 ? 300 : 150;
            uint32_t bytes = 0;
            for (const Sector& s : laid[i])
                bytes += isVideo(s) ? (s[0x1C] == 0 ? mediagen::le32(&s[0x24]) : 0) : 1680;
            const StrInfo& info = found[i];
            EXPECT_EQ(info.kind, StrVideo | StrAudio);
            EXPECT_EQ(info.startSector, starts[i]);
            EXPECT_EQ(info.sectorCount, laid[i].size());
            EXPECT_EQ(info.frameCount, 45u);
            EXPECT_EQ(info.width, frames[0].width);
            EXPECT_EQ(info.height, frames[0].height);
            EXPECT_EQ(info.frameRate, rate);
            EXPECT_EQ(info.durationMs, 45u * 10000 / rate);
            EXPECT_TRUE(info.audioFormat == 1 && info.channels == 2 && info.bitsPerSample == 16);
            EXPECT_EQ(info.sampleRate, 44100u);
            EXPECT_EQ(info.dataBytes, bytes) << "every sound sector counts, the first one too";
            // An area chosen by hand: the unit sizes of its first sectors (sound 2, frame 1).
            StrInfo area{};
            ASSERT_EQ(LbrGetStrDataInfo(disc.binding, disc.drive, info.startSector, info.sectorCount, &area),
                      1);
            EXPECT_EQ(area.kind, StrVideo | StrAudio);
            EXPECT_EQ(area.frameRate, rate) << "the rate follows the width, as in the analysis";
            EXPECT_EQ(area.frameCount, info.sectorCount / (2 + laid[i][2][0x1E]));
        }
        StrInfo area{};
        EXPECT_EQ(LbrGetStrDataInfo(disc.binding, disc.drive, 0, 4, &area), 0) << "foreign sectors";
    }
}

TEST_F(Tidefilm, LeavesWhatIsNotAWholeMovieOnASingleTrackDisc)
{
    const std::vector<Sector> sectors = movie(1);
    DiscBuilder cut; // a stopped scan: the closing call comes while the movie is followed
    cut.add(std::vector<Sector>(sectors.begin(), sectors.begin() + 60));
    EXPECT_TRUE(Disc(cut).probe().empty());
    DiscBuilder b;
    b.add(sectors);
    b.addAudioTrack(200);
    const Disc twoTracks(b);
    CdTocEntry toc[4] = {};
    ASSERT_EQ(CdReadToc(twoTracks.drive, 4, toc), 2);
    EXPECT_EQ(LbrIsSupportCDBegin(twoTracks.binding, 2, toc), nullptr);
}

// Pictures against the reference planes, sound sample for sample against the reference; then
// seeks: PsrSeek positions at (sectors / frames) x (ms x rate / 10000), and the next frame is the
// first one that starts at or after that sector.
TEST_F(Tidefilm, PlaysEveryFrameAndSampleAndSeeksToTheFrameOfTheFormula)
{
    for (int m : {0, 1}) {
        SCOPED_TRACE(kMovies[m]);
        DiscBuilder b;
        const std::vector<Sector> sectors = movie(m);
        b.add(sectors);
        const Disc disc(b);
        const std::vector<StrInfo> found = disc.probe();
        ASSERT_EQ(found.size(), 1u);
        const StreamPtr stream = openStream(disc, found[0]);
        ASSERT_TRUE(stream);
        const uint16_t w = m_frames[m][0].width, h = m_frames[m][0].height;
        std::vector<uint8_t> yuv(size_t(w) * h * 3 / 2);
        uint8_t* const planes[3] = {yuv.data(), yuv.data() + w * h, yuv.data() + w * h * 5 / 4};
        std::vector<int16_t> samples[2];
        uint32_t frame = 0;
        movietest::RecordBuffer record;
        while (LbrReadStream(stream.get(), 0, record.get()) == 1) {
            PsrReadRecord* r = record.get();
            if (!(r->unitKind & UnitVideo)) {
                uint8_t pcm[kPcmBytes + 1];
                pcm[kPcmBytes - 1] = pcm[kPcmBytes] = 0xA5;
                ASSERT_EQ(LbrDecodeAudio(stream.get(), r, pcm, kPcmBytes - 1), kPcmBytes)
                    << "the room a unit needs";
                EXPECT_EQ(pcm[kPcmBytes - 1], 0xA5) << "nothing decoded into too little";
                ASSERT_EQ(LbrDecodeAudio(stream.get(), r, pcm, kPcmBytes), kPcmBytes);
                EXPECT_EQ(pcm[kPcmBytes], 0xA5);
                for (int32_t i = 0; i < kPcmBytes; i += 2)
                    samples[i / 2 % 2].push_back(int16_t(le16(pcm + i)));
                continue;
            }
            ASSERT_EQ(r->frameNumber, ++frame) << "frames in order, none joined or dropped";
            const std::vector<uint8_t>& source = m_frames[m][frame - 1].bitstream;
            ASSERT_TRUE(r->payloadBytes == source.size() &&
                        std::equal(source.begin(), source.end(), r->payload));
            ASSERT_EQ(LbrDecodeFrameYuv(stream.get(), r, planes[0], planes[1], planes[2]), 1);
            const std::vector<uint8_t> ref = mediagen::referenceYuv(kMovies[m], frame - 1, w, h);
            ASSERT_EQ(ref.size(), yuv.size());
            for (int p = 0; p < 3; ++p) {
                const size_t at = size_t(planes[p] - yuv.data()), n = p ? w * h / 4 : w * h;
                EXPECT_GE(psnr(planes[p], ref.data() + at, n), 40.0)
                    << "plane " << p << " of frame " << frame;
            }
        }
        EXPECT_EQ(frame, 45u);
        EXPECT_EQ(samples[0].size(), (m == 0 ? 45u : 23u) * 2940);
        // The source's samples, then the silence the layout pads with.
        const std::vector<int16_t>* refs[2] = {&m_sound[m].referenceLeft, &m_sound[m].referenceRight};
        for (int c = 0; c < 2; ++c)
            for (size_t i = 0; i < samples[c].size(); ++i)
                ASSERT_EQ(samples[c][i], i < refs[c]->size() ? (*refs[c])[i] : 0)
                    << "channel " << c << ", " << i;

        // A description without frames (made by hand, or damaged) restarts the stream.
        for (const auto& [ms, frames] : std::vector<std::pair<uint32_t, uint32_t>>{
                 {0, 45}, {100, 45}, {733, 45}, {1400, 45}, {2900, 45}, {0xFFFFFFFE, 45}, {900, 0}}) {
            SCOPED_TRACE(testing::Message() << ms << " ms, " << frames << " frames");
            StrInfo info = found[0];
            info.frameCount = frames;
            const StreamPtr seeking = openStream(disc, info);
            ASSERT_TRUE(seeking);
            const uint64_t at =
                frames ? uint64_t(info.sectorCount / frames) * (uint64_t(ms) * info.frameRate / 10000) : 0;
            uint32_t expected = 0;
            for (uint64_t s = at; s < sectors.size() && expected == 0; ++s)
                expected = isVideo(sectors[s]) && sectors[s][0x1C] == 0 ? le16(&sectors[s][0x20]) : 0;
            ASSERT_EQ(LbrSeekStream(seeking.get(), ms), 1);
            const bool read = LbrReadStream(seeking.get(), LBR_WANT_VIDEO, record.get()) == 1;
            EXPECT_EQ(read ? record.get()->frameNumber : 0, expected);
        }
    }
}

TEST_F(Tidefilm, DamagedSectorsLoseOnlyTheirOwnUnit)
{
    const std::vector<MdecFrame> six(m_frames[1].begin(), m_frames[1].begin() + 6);
    const std::vector<Sector> intact = mediagen::tidefilmMovie(six, &m_sound[1]);
    // Sector `index` of frame `frame`.
    const auto at = [&](uint32_t frame, uint16_t index) {
        size_t i = 0;
        while (i + 1 < intact.size() &&
               !(isVideo(intact[i]) && le16(&intact[i][0x20]) == frame && intact[i][0x1C] == index))
            ++i;
        return i;
    };
    const struct
    {
        const char* name;
        std::function<void(std::vector<Sector>&)> damage;
        std::vector<uint32_t> frames;
        uint32_t frame2Bytes; // 0: the source's
        uint32_t soundUnits;
    } cases[] = {
        {"intact", [](std::vector<Sector>&) {}, {1, 2, 3, 4, 5, 6}, 0, 3},
        {"frame size beyond its sectors",
         [&](auto& s) { mediagen::put32(&s[at(2, 0)][0x24], 0xFFFFFFFF); },
         {1, 2, 3, 4, 5, 6},
         4 * 2016,
         3},
        {"frame size 0", [&](auto& s) { mediagen::put32(&s[at(2, 0)][0x24], 0); }, {1, 3, 4, 5, 6}, 0, 3},
        {"middle sector lost", [&](auto& s) { s[at(3, 1)] = foreignSector(5, 5); }, {1, 2, 4, 5, 6}, 0, 3},
        {"sector repeated", [&](auto& s) { s[at(4, 2)] = s[at(4, 1)]; }, {1, 2, 3, 5, 6}, 0, 3},
        {"unit of 0xFFFF sectors",
         [&](auto& s) { mediagen::put16(&s[at(5, 0)][0x1E], 0xFFFF); },
         {1, 2, 3, 4, 6},
         0,
         3},
        {"index past the unit",
         [&](auto& s) { mediagen::put16(&s[at(6, 1)][0x1C], 0xFFFF); },
         {1, 2, 3, 4, 5},
         0,
         3},
        {"sound units of one sector",
         [&](auto& s) { mediagen::put16(&s[0][0x1E], 1), s[1] = s[0]; },
         {1, 2, 3, 4, 5, 6},
         0,
         4},
    };
    StrInfo info{};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Sector> sectors = intact;
        c.damage(sectors);
        DiscBuilder b;
        b.add(sectors);
        b.addForeign(2);
        const Disc disc(b);
        const std::vector<StrInfo> found = disc.probe(); // takes every sector, whatever they hold
        if (info.sectorCount == 0)
            info = found.at(0); // the intact movie's description serves every case
        const StreamPtr stream = openStream(disc, info);
        ASSERT_TRUE(stream);
        std::vector<uint32_t> frames;
        uint32_t soundUnits = 0;
        movietest::RecordBuffer record;
        while (LbrReadStream(stream.get(), 0, record.get()) == 1) {
            PsrReadRecord* r = record.get();
            if (!(r->unitKind & UnitVideo)) {
                uint8_t pcm[kPcmBytes];
                ++soundUnits;
                EXPECT_EQ(LbrDecodeAudio(stream.get(), r, pcm, kPcmBytes),
                          r->payloadBytes == 3360 ? kPcmBytes : 0);
                continue;
            }
            frames.push_back(r->frameNumber);
            ASSERT_TRUE(r->frameNumber >= 1 && r->frameNumber <= 6);
            const std::vector<uint8_t>& source = six[r->frameNumber - 1].bitstream;
            EXPECT_EQ(r->payloadBytes, r->frameNumber == 2 && c.frame2Bytes ? c.frame2Bytes : source.size());
            EXPECT_TRUE(std::equal(source.begin(), source.end(), r->payload)) << r->frameNumber;
        }
        EXPECT_EQ(frames, c.frames);
        EXPECT_EQ(soundUnits, c.soundUnits);
    }
}

// The whole chain through the command-line tool on a fresh installation. The general disc movie
// plugin also takes the video sectors (0x0160, type bit 15) from the first frame on, as a movie
// without sound; Tidefilm comes first in the default order, so its movies are listed and those
// finds are hidden inside them.
TEST_F(Tidefilm, AnalysisThroughTheCommandLineListsEachMovieOnce)
{
    DiscBuilder b;
    b.addForeign(12);
    const uint32_t starts[] = {b.add(movie(0, false)), b.add(movie(1))};
    b.addForeign(12);
    const std::unique_ptr<Image> image = b.write();
    testsupport::ScratchFolder home{"tidefilm-home"};
    ASSERT_TRUE(image && home.made());
    const std::string command = "TAMRIN_HOME='" + home.path().string() + "' '" + TAMRIN_OUT_DIR +
                                "/tamrin-cli' analyze --json --no-progress --upload no '" + image->cue + "'";
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char chunk[4096];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
            out.append(chunk, n);
        EXPECT_EQ(::pclose(pipe), 0) << out;
    }
    const nlohmann::json analysis = nlohmann::json::parse(out, nullptr, false);
    ASSERT_FALSE(analysis.is_discarded()) << out;
    std::vector<nlohmann::json> listed, hidden;
    for (const nlohmann::json& stream : analysis["streams"])
        (stream["listed"] == true ? listed : hidden).push_back(stream);
    ASSERT_EQ(listed.size(), 2u) << out;
    ASSERT_FALSE(hidden.empty()) << out;
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(listed[i]["plugin"], "TIDEFILM.PSR");
        EXPECT_EQ(listed[i]["startSector"], starts[i]);
        EXPECT_EQ(listed[i]["frameCount"], 45);
        EXPECT_EQ(listed[i]["frameRate"], i == 0 ? 150 : 300);
        EXPECT_EQ(listed[i]["sampleRate"], 44100);
    }
    for (const nlohmann::json& stream : hidden)
        EXPECT_EQ(stream["plugin"], "DISCMOVIE.PSR");
}

} // namespace
