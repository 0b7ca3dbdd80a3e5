// The Discmovie plugin on disc images built sector by sector (disc_builder.h), mounted and read
// through the sector reader and driven through libstreamkit as the analysis and the player
// drive it: every sector of the data track offered to the probe, then the results; streams
// opened by the host on the reported areas.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "../mediagen/briarfilm_layout.h"
#include "../mediagen/emberfilm_layout.h"
#include "../mediagen/ovalcast_layout.h"
#include "../mediagen/tidefilm_layout.h"
#include "disc_builder.h"
#include "movie_builder.h"
#include "disc_probe.h"
#include "discport/discport.h"
#include "sectorkit/rate_guess.h"
#include "streamkit/lbr.h"

namespace {

using namespace discbuild;

constexpr const char* kPlugin = "Discmovie.psr";
constexpr const char* kMv1 = "mv1_v2_320x240_15fps_xa37800s.str";
constexpr const char* kMv2 = "mv2_v3_320x240_15fps_xa37800s_ch1.str";
constexpr const char* kMv4 = "mv4_v3_160x112_15fps_x1_xa37800s.str";
// The largest unit of the plugin: a frame of 32 sectors of 2016 bytes. Records are allocated at
// exactly this size so that a write past it is caught by the sanitizer.
constexpr size_t kRecordBytes = PSR_READ_HEADER_BYTES + 32 * 2016;

using movietest::put16;
using movietest::put32;

struct MovieSectorSpec
{
    uint32_t frame = 1;
    uint16_t index = 0;
    uint16_t count = 4;
    uint32_t bytes = 4 * 2016;
    uint16_t width = 320;
    uint16_t height = 240;
    uint16_t type = 0x8001;
};

// A movie sector made from its fields; its data is a pattern with an MDEC header (length,
// 0x3800, scale 1, version 2) at the start of the data of a frame's first sector.
Sector movieSector(const MovieSectorSpec& m)
{
    Sector s{};
    putSubHeader(s.data(), 1, 0, 0x48, 0);
    put16(&s[24], 0x0160);
    put16(&s[26], m.type);
    put16(&s[28], m.index);
    put16(&s[30], m.count);
    put32(&s[32], m.frame);
    put32(&s[36], m.bytes);
    put16(&s[40], m.width);
    put16(&s[42], m.height);
    for (uint32_t i = 56; i < kRaw; ++i)
        s[i] = uint8_t(i * 7 + m.frame * 13 + m.index);
    if (m.index == 0) {
        put16(&s[56], 0x0800);
        put16(&s[58], 0x3800);
        put16(&s[60], 1);
        put16(&s[62], 2);
    }
    return s;
}

// Frame `frame` of `count` synthetic sectors; their data size field says `bytes`, by default a
// little less than the sectors hold.
std::vector<Sector> syntheticFrame(uint32_t frame, uint16_t count, MovieSectorSpec base = {},
                                   std::optional<uint32_t> bytes = std::nullopt)
{
    std::vector<Sector> out;
    base.frame = frame;
    base.count = count;
    base.bytes = bytes.value_or(count * 2016u - 40);
    for (uint16_t i = 0; i < count; ++i) {
        base.index = i;
        out.push_back(movieSector(base));
    }
    return out;
}

// A sound sector of file 1 channel `channel`, 37800 Hz stereo, with non-silent samples.
Sector soundSector(uint8_t channel = 0, uint32_t seed = 0)
{
    Sector s{};
    putSubHeader(s.data(), 1, channel, 0x64, 0x01);
    for (uint32_t i = 24; i < 24 + 2304; ++i)
        s[i] = uint8_t(i * 3 + seed);
    return s;
}

class RecordBuffer
{
  public:
    RecordBuffer() : m_bytes(std::make_unique<uint8_t[]>(kRecordBytes)) {}
    PsrReadRecord* get() { return reinterpret_cast<PsrReadRecord*>(m_bytes.get()); }

  private:
    std::unique_ptr<uint8_t[]> m_bytes;
};

struct Unit
{
    bool video = false;
    uint32_t frame = 0;
    uint16_t param = 0;
    std::vector<uint8_t> payload;
};

// A built image mounted as a drive, with the plugin bound.
class MountedImage
{
  public:
    explicit MountedImage(const DiscBuilder& builder) : m_image(builder.write())
    {
        if (!m_image)
            return;
        m_drive = CdMountImage(m_image->cue.c_str());
        m_binding = LbrOpenPSR(kPlugin);
    }
    explicit MountedImage(const std::string& cue)
    {
        m_drive = CdMountImage(cue.c_str());
        m_binding = LbrOpenPSR(kPlugin);
    }
    ~MountedImage()
    {
        if (m_binding)
            LbrClosePSR(m_binding);
        if (m_drive >= 0)
            CdUnmountImage(m_drive);
    }
    MountedImage(const MountedImage&) = delete;
    MountedImage& operator=(const MountedImage&) = delete;

    bool ready() const { return m_drive >= 0 && m_binding; }
    int32_t drive() const { return m_drive; }
    PluginBinding* binding() const { return m_binding; }
    const Image& image() const { return *m_image; }

    // The streams the plugin finds on the image, fed as the analysis feeds them.
    std::vector<StrInfo> probe() const { return discprobe::probeDisc(m_binding, m_drive); }

    StreamState* open(StrInfo info, uint32_t mode = LBR_WANT_VIDEO | LBR_WANT_AUDIO) const
    {
        return LbrOpenStream(kPlugin, nullptr, m_drive, &info, mode);
    }

  private:
    std::unique_ptr<Image> m_image;
    int32_t m_drive = -1;
    PluginBinding* m_binding = nullptr;
};

std::vector<Unit> readAll(StreamState* stream, size_t limit = 100000)
{
    std::vector<Unit> units;
    RecordBuffer record;
    while (units.size() < limit && LbrReadStream(stream, 0, record.get()) == 1) {
        const PsrReadRecord* r = record.get();
        units.push_back(Unit{(r->unitKind & 0xF0) == UnitVideo, r->frameNumber, r->param,
                             std::vector<uint8_t>(r->payload, r->payload + r->payloadBytes)});
    }
    return units;
}

struct StreamCloser
{
    void operator()(StreamState* s) const { LbrCloseStream(s); }
};
using StreamPtr = std::unique_ptr<StreamState, StreamCloser>;

// Frame data of a frame as the plugin delivers it: from the MDEC header word before 0x3800 in
// the first sector, then the 2016 data bytes of each further sector, cut to the stated size.
std::vector<uint8_t> expectedFrame(const std::vector<Sector>& sectors)
{
    std::vector<uint8_t> out;
    uint32_t size = get32(sectors[0].data() + 36);
    uint32_t p = 0;
    while (p < 24 && get16(sectors[0].data() + 58 + 2 * p) != 0x3800)
        ++p;
    for (size_t i = 0; i < sectors.size() && size; ++i) {
        const uint32_t skip = i == 0 ? p : 0;
        const uint32_t take = std::min<uint32_t>((1008 - skip) * 2, size);
        const uint8_t* from = sectors[i].data() + 56 + 2 * skip;
        out.insert(out.end(), from, from + take);
        size -= take;
    }
    return out;
}

uint32_t frameBytesOf(const std::vector<Sector>& movie)
{
    uint32_t total = 0;
    for (const Sector& s : movie)
        if (isVideo(s) && videoIndex(s) == 0)
            total += get32(s.data() + 36);
    return total;
}

class Discmovie : public testing::Test
{
  protected:
    void SetUp() override
    {
        m_mv1 = loadMovie(kMv1);
        m_mv2 = loadMovie(kMv2);
        m_mv4 = loadMovie(kMv4);
        ASSERT_EQ(m_mv1.size(), 450u);
        ASSERT_EQ(m_mv2.size(), 450u);
        ASSERT_EQ(m_mv4.size(), 224u);
    }

    std::vector<Sector> m_mv1, m_mv2, m_mv4;
};

// ---- description and probe contract -----------------------------------------------------------

TEST_F(Discmovie, RefusesWhatIsNotADataTrack)
{
    PluginBinding* binding = LbrOpenPSR(kPlugin);
    ASSERT_NE(binding, nullptr);
    CdTocEntry audioOnly[2] = {{1, 0x00, {}, 0, 1000}, {2, 0x00, {}, 1000, 1000}};
    EXPECT_EQ(LbrIsSupportCDBegin(binding, 2, audioOnly), nullptr);
    EXPECT_EQ(LbrIsSupportCDBegin(binding, 0, audioOnly), nullptr);

    CdTocEntry mixed[2] = {{1, 0x04, {}, 0, 1000}, {2, 0x00, {}, 1150, 1000}};
    void* context = LbrIsSupportCDBegin(binding, 2, mixed);
    ASSERT_NE(context, nullptr);
    const Sector s = movieSector({});
    EXPECT_EQ(LbrIsSupportCDSector(binding, context, mixed[0], 5, s.data()), 1);
    EXPECT_EQ(LbrIsSupportCDSector(binding, context, mixed[1], 1200, s.data()), 0);
    EXPECT_EQ(LbrIsSupportCDSector(binding, nullptr, mixed[0], 5, s.data()), 0);
    EXPECT_EQ(LbrIsSupportCDSector(binding, context, mixed[0], 0, nullptr), 0);
    // A lone frame 1 is no stream.
    EXPECT_EQ(LbrIsSupportCDResult(binding, context, 0, nullptr), 0);
    StrInfo info2{};
    EXPECT_EQ(LbrIsSupportCDResult(binding, context, 0, &info2), -1);
    LbrIsSupportCDEnd(binding, context);
    LbrClosePSR(binding);
}

// ---- probe on the test movies -----------------------------------------------------------------

TEST_F(Discmovie, FindsAMovieWithItsSoundAndItsRate)
{
    DiscBuilder b;
    b.addForeign(20);
    const uint32_t first = b.add(m_mv1); // a sound sector, then the first movie sector
    b.addForeign(40);
    MountedImage disc(b);
    ASSERT_TRUE(disc.ready());
    const std::vector<StrInfo> found = disc.probe();
    ASSERT_EQ(found.size(), 1u);
    const StrInfo& info = found[0];
    EXPECT_EQ(info.kind, StrVideo | StrAudio);
    // The sound sector before the first frame is the stream's: it starts where the file does.
    EXPECT_EQ(info.startSector, first);
    // The stream's last sound sector carries the end-of-file bit; the movie sector after it (the
    // rest of the last frame) takes the stream up again.
    EXPECT_EQ(info.sectorCount, 450u);
    EXPECT_EQ(info.frameCount, 45u);
    EXPECT_EQ(info.width, 320u);
    EXPECT_EQ(info.height, 240u);
    EXPECT_EQ(info.frameRate, 150); // 57 sound sectors for 45 frames: 14.8 frames per second
    EXPECT_EQ(info.audioFormat, 1);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.bitsPerSample, 16);
    EXPECT_EQ(info.sampleRate, 37800u);
    EXPECT_EQ(info.durationMs, 3040u); // the sound's time, longer than 45 frames at 15
    EXPECT_EQ(info.dataBytes, frameBytesOf(m_mv1) + 57u * 2304u);
}

TEST_F(Discmovie, TwoMoviesBackToBackAreTwoStreams)
{
    DiscBuilder b;
    const uint32_t first = b.add(m_mv1);
    const uint32_t second = b.add(m_mv2);
    const std::vector<StrInfo> found = MountedImage(b).probe();
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].startSector, first);
    EXPECT_EQ(found[0].sectorCount, 450u);
    EXPECT_EQ(found[0].frameCount, 45u);
    EXPECT_EQ(found[1].startSector, second);
    EXPECT_EQ(found[1].sectorCount, 450u);
    EXPECT_EQ(found[1].frameCount, 45u);
    // The second movie's sound is on channel 1; the first stream passes it by as a foreign
    // sector within its stride.
    EXPECT_EQ(found[0].dataBytes, frameBytesOf(m_mv1) + 57u * 2304u);
    EXPECT_EQ(found[1].dataBytes, frameBytesOf(m_mv2) + 57u * 2304u);
}

TEST_F(Discmovie, AnEndOfFileSectorEndsAMovieBeforeSoundOfTheSameChannel)
{
    // A movie whose last sound sector has no end-of-file bit, a directory sector with one, and
    // then an XA file on the same channel with the same coding: the sound is not the movie's.
    DiscBuilder b;
    const uint32_t first = b.add(m_mv4);
    Sector directory = foreignSector(3, 0);
    putSubHeader(directory.data(), 0, 0, 0x89, 0);
    b.add(directory);
    const std::vector<Sector> xa = loadXa("xa1_37800_stereo.xa");
    ASSERT_FALSE(xa.empty());
    b.add(xa);
    const std::vector<StrInfo> found = MountedImage(b).probe();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].startSector, first);
    EXPECT_EQ(found[0].sectorCount, 224u);
    EXPECT_EQ(found[0].dataBytes, frameBytesOf(m_mv4) + 56u * 2304u);
}

TEST_F(Discmovie, SoundAfterTheMoviesLastSoundSectorIsNotTheMovies)
{
    // A movie whose sound ends with the end-of-file bit (and a last movie sector after it), then
    // at once an XA file on the same channel with the same coding: the file is not the movie's.
    DiscBuilder b;
    const uint32_t first = b.add(m_mv1);
    const std::vector<Sector> xa = loadXa("xa1_37800_stereo.xa");
    ASSERT_FALSE(xa.empty());
    b.add(xa);
    const std::vector<StrInfo> found = MountedImage(b).probe();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].startSector, first);
    EXPECT_EQ(found[0].sectorCount, 450u);
    EXPECT_EQ(found[0].dataBytes, frameBytesOf(m_mv1) + 57u * 2304u);
    EXPECT_EQ(found[0].durationMs, 3040u);
}

TEST_F(Discmovie, SoundOfAnotherChannelInsideAMovieIsNotCounted)
{
    DiscBuilder plain;
    plain.add(m_mv1);
    DiscBuilder mixed;
    uint32_t n = 0;
    for (const Sector& s : m_mv1) {
        mixed.add(s);
        // Another channel's sound after every fifth movie sector once the stream's own sound has
        // begun (the first sound met is the stream's), its last with end of file.
        if (isVideo(s) && ++n % 5 == 0 && n > 10)
            mixed.addSound(m_mv2[0], 1, 5, n == 390);
    }
    const std::vector<StrInfo> expected = MountedImage(plain).probe();
    MountedImage disc(mixed);
    const std::vector<StrInfo> found = disc.probe();
    ASSERT_EQ(expected.size(), 1u);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].frameCount, 45u);
    EXPECT_EQ(found[0].dataBytes, expected[0].dataBytes);
    EXPECT_EQ(found[0].sampleRate, expected[0].sampleRate);
    EXPECT_EQ(found[0].startSector, expected[0].startSector);

    // Reading delivers only the stream's own sound.
    StreamPtr stream(disc.open(found[0], LBR_WANT_AUDIO));
    ASSERT_TRUE(stream);
    std::vector<uint8_t> sound;
    for (const Unit& u : readAll(stream.get()))
        sound.insert(sound.end(), u.payload.begin(), u.payload.end());
    std::vector<uint8_t> own;
    for (size_t i = 0; i < m_mv1.size(); ++i)
        if (isSound(m_mv1[i]))
            own.insert(own.end(), m_mv1[i].begin() + 24, m_mv1[i].begin() + 24 + 2304);
    EXPECT_EQ(sound.size(), own.size());
    EXPECT_TRUE(sound == own);
}

// ---- probe rules on synthetic movies ----------------------------------------------------------

// What lies right before a movie's first frame, and whether the stream takes it in: only a sound
// sector of the movie's own file and channel, right before, free, not ending a file.
TEST_F(Discmovie, SoundRightBeforeTheFirstFrameIsTheStreams)
{
    Sector ownEnd = soundSector(0, 5);
    ownEnd[18] = ownEnd[22] = 0xE4;
    const struct
    {
        const char* why;
        std::vector<Sector> before;
        uint32_t taken; // how many of them the stream starts with
    } cases[] = {
        {"own sound", {soundSector(0, 1)}, 1},
        {"another channel's sound", {soundSector(3, 1)}, 0},
        {"own sound ending a file", {ownEnd}, 0},
        {"own sound, then a foreign sector", {soundSector(0, 1), foreignSector(2, 0)}, 0},
        {"two own sound sectors", {soundSector(0, 1), soundSector(0, 2)}, 1},
        {"a foreign sector", {foreignSector(2, 0)}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        DiscBuilder b;
        b.addForeign(10);
        b.add(c.before);
        const uint32_t movie = b.next();
        // Six frames of four sectors, the stream's sound after each.
        for (uint32_t f = 1; f <= 6; ++f) {
            b.add(syntheticFrame(f, 4));
            b.add(soundSector(0, 10 + f));
        }
        b.addForeign(40);
        MountedImage disc(b);
        ASSERT_TRUE(disc.ready());
        const std::vector<StrInfo> found = disc.probe();
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0].startSector, movie - c.taken);
        EXPECT_EQ(found[0].sectorCount, 30u + c.taken);
        EXPECT_EQ(found[0].dataBytes, 6u * (4u * 2016u - 40u) + (6u + c.taken) * 2304u);

        // Reading from the start delivers that sound first.
        StreamPtr stream(disc.open(found[0]));
        ASSERT_TRUE(stream);
        const std::vector<Unit> units = readAll(stream.get());
        ASSERT_EQ(units.size(), 12u + c.taken);
        EXPECT_EQ(units[0].video, c.taken == 0);
        if (c.taken) {
            const Sector& lead = c.before.back();
            EXPECT_TRUE(std::equal(units[0].payload.begin(), units[0].payload.end(), lead.begin() + 24));
        }
    }
}

// Sound that the previous movie took is not the next one's, even on the same channel.
TEST_F(Discmovie, SoundOfThePreviousMovieStaysWithIt)
{
    DiscBuilder b;
    const uint32_t first = b.next();
    for (uint32_t f = 1; f <= 3; ++f) {
        b.add(syntheticFrame(f, 4));
        b.add(soundSector(0, f));
    }
    const uint32_t second = b.next();
    for (uint32_t f = 1; f <= 3; ++f) {
        b.add(syntheticFrame(f, 4));
        b.add(soundSector(0, 10 + f));
    }
    b.addForeign(40);
    const std::vector<StrInfo> found = MountedImage(b).probe();
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].startSector, first);
    EXPECT_EQ(found[0].sectorCount, second - first);
    EXPECT_EQ(found[1].startSector, second);
}

// A movie of another format right after a movie, its sectors on the same file and channel (with
// XA sound of the same coding for Ovalcast): the movie's stream is what it is alone.
TEST_F(Discmovie, AMovieOfAnotherFormatAfterAMovieLeavesItAsItIs)
{
    const std::vector<mediagen::MdecFrame> frames = mediagen::mdecFrames(kMv4);
    const mediagen::SpuSound spu = mediagen::spuStereo();
    ASSERT_EQ(frames.size(), 45u);
    mediagen::OvalcastOptions oval;
    oval.xa = soundSectors(m_mv4);
    const struct
    {
        const char* format;
        std::vector<Sector> movie;
    } cases[] = {
        {"Ovalcast", mediagen::ovalcastMovie(frames, nullptr, oval)},
        {"Tidefilm", mediagen::tidefilmMovie(frames, &spu)},
        {"Briarfilm", mediagen::briarfilmMovie(frames, &spu)},
        {"Emberfilm", mediagen::emberfilmMovie(frames, &spu)},
    };

    DiscBuilder alone;
    const uint32_t first = alone.add(m_mv4);
    alone.addForeign(40);
    const std::vector<StrInfo> expected = MountedImage(alone).probe();
    ASSERT_EQ(expected.size(), 1u);
    ASSERT_EQ(expected[0].sectorCount, 224u);

    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        ASSERT_FALSE(c.movie.empty());
        // The following movie's sectors are on the movie's own file and channel.
        EXPECT_EQ(c.movie[0][16], m_mv4[0][16]);
        EXPECT_EQ(c.movie[0][17], m_mv4[0][17]);
        DiscBuilder b;
        ASSERT_EQ(b.add(m_mv4), first);
        b.add(c.movie);
        b.addForeign(40);
        const std::vector<StrInfo> found = MountedImage(b).probe();
        ASSERT_FALSE(found.empty());
        EXPECT_EQ(found[0].startSector, first);
        EXPECT_EQ(found[0].sectorCount, 224u);
        EXPECT_EQ(found[0].dataBytes, expected[0].dataBytes);
        EXPECT_EQ(found[0].durationMs, expected[0].durationMs);
        EXPECT_EQ(found[0].frameRate, expected[0].frameRate);
        EXPECT_EQ(std::memcmp(&found[0], &expected[0], sizeof(StrInfo)), 0);
    }
}

// Sound after a movie's last movie sector stays the movie's while only sound comes between its
// sectors, or while the movie's video goes on after it; sound that goes on across other sectors
// (a following movie's, on the same channel) is not the movie's.
TEST_F(Discmovie, SoundAfterTheVideoIsTheMoviesOnlyWhileNothingElseInterrupts)
{
    const Sector own = soundSector(0, 50), other = soundSector(3, 51), foreign = foreignSector(7, 0);
    std::vector<Sector> seventh = syntheticFrame(7, 4);
    const auto join = [](std::initializer_list<std::vector<Sector>> parts) {
        std::vector<Sector> out;
        for (const auto& p : parts)
            out.insert(out.end(), p.begin(), p.end());
        return out;
    };
    const std::vector<Sector> gap(4, foreign);
    const struct
    {
        const char* why;
        std::vector<Sector> after;
        uint32_t sectors, frames, sounds;
    } cases[] = {
        {"nothing", {}, 29, 6, 5},
        {"own sound right after the video", {own}, 30, 6, 6},
        {"a foreign sector, then own sound", {foreign, own}, 31, 6, 6},
        {"own sound and another channel's in turn", {own, other, own, other, own}, 34, 6, 8},
        {"own sound going on across foreign sectors", join({{own}, gap, {own}, gap, {own}}), 29, 6, 5},
        {"the same, then the movie's next frame", join({{own}, gap, {own}, seventh, {own}}), 40, 7, 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        DiscBuilder b;
        b.addForeign(10);
        const uint32_t movie = b.next();
        // Six frames of four sectors, the movie's sound after each of the first five (stride 5).
        for (uint32_t f = 1; f <= 6; ++f) {
            b.add(syntheticFrame(f, 4));
            if (f < 6)
                b.add(soundSector(0, f));
        }
        b.add(c.after);
        b.addForeign(40);
        const std::vector<StrInfo> found = MountedImage(b).probe();
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0].startSector, movie);
        EXPECT_EQ(found[0].sectorCount, c.sectors);
        EXPECT_EQ(found[0].frameCount, c.frames);
        EXPECT_EQ(found[0].dataBytes, c.frames * (4u * 2016u - 40u) + c.sounds * 2304u);
    }
}

class DiscmovieGaps : public Discmovie, public testing::WithParamInterface<uint32_t>
{
};

// Frames 1 to 10, a gap of foreign sectors, then frames 20 to 29 (which cannot take an ended
// stream up again): the gap is bridged up to 32 sectors.
TEST_P(DiscmovieGaps, ForeignGapWithoutSound)
{
    const uint32_t gap = GetParam();
    DiscBuilder b;
    const uint32_t first = b.next();
    for (uint32_t f = 1; f <= 10; ++f)
        b.add(syntheticFrame(f, 4));
    b.addForeign(gap);
    for (uint32_t f = 20; f <= 29; ++f)
        b.add(syntheticFrame(f, 4));
    const std::vector<StrInfo> found = MountedImage(b).probe();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].startSector, first);
    if (gap <= 32) {
        EXPECT_EQ(found[0].frameCount, 29u);
        EXPECT_EQ(found[0].sectorCount, 80u + gap);
    } else {
        EXPECT_EQ(found[0].frameCount, 10u);
        EXPECT_EQ(found[0].sectorCount, 40u);
    }
    EXPECT_EQ(found[0].kind, StrVideo);
}

INSTANTIATE_TEST_SUITE_P(Gaps, DiscmovieGaps, testing::Values(0u, 31u, 32u, 33u, 60u));

TEST_F(Discmovie, TheSoundStrideBoundsTheGap)
{
    // A sound sector after every fifth movie sector (stride 6): a gap of 6 sectors after the
    // last one is bridged, 7 are not.
    for (const uint32_t gap : {6u, 7u}) {
        SCOPED_TRACE(gap);
        DiscBuilder b;
        uint32_t placed = 0;
        for (uint32_t f = 1; f <= 10; ++f) {
            for (const Sector& s : syntheticFrame(f, 5)) {
                b.add(s);
                if (++placed % 5 == 0)
                    b.add(soundSector(0, placed));
            }
        }
        // The last sector is a sound sector; the gap is measured from it.
        b.addForeign(gap);
        for (uint32_t f = 20; f <= 22; ++f)
            b.add(syntheticFrame(f, 5));
        const std::vector<StrInfo> found = MountedImage(b).probe();
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0].frameCount, gap <= 6 ? 22u : 10u);
    }
}

TEST_F(Discmovie, AFrameNumberThatFollowsOnTakesAnEndedStreamUp)
{
    DiscBuilder b;
    for (uint32_t f = 1; f <= 10; ++f)
        b.add(syntheticFrame(f, 4));
    b.addForeign(50);
    for (uint32_t f = 11; f <= 15; ++f)
        b.add(syntheticFrame(f, 4));
    const std::vector<StrInfo> found = MountedImage(b).probe();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].frameCount, 15u);
    EXPECT_EQ(found[0].sectorCount, 40u + 50u + 20u);
}

TEST_F(Discmovie, DiscardsOneFrameStreamsAndStreamsWhoseTypeChanges)
{
    DiscBuilder b;
    b.add(syntheticFrame(1, 4)); // one frame, then a long gap
    b.addForeign(40);
    for (uint32_t f = 1; f <= 5; ++f)
        b.add(syntheticFrame(f, 4));
    MovieSectorSpec other;
    other.type = 0x8002;
    b.add(syntheticFrame(6, 4, other)); // another type word inside the stream
    b.addForeign(40);
    for (uint32_t f = 1; f <= 3; ++f) // a good one after them
        b.add(syntheticFrame(f, 4));
    const std::vector<StrInfo> found = MountedImage(b).probe();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].startSector, 4u + 40u + 24u + 40u);
    EXPECT_EQ(found[0].frameCount, 3u);
}

TEST_F(Discmovie, AStartWithoutAnMdecHeaderIsNoStream)
{
    DiscBuilder b;
    std::vector<Sector> frame = syntheticFrame(1, 4);
    put16(&frame[0][58], 0x1234); // no 0x3800 or 0x3000 in the first words
    b.add(frame);
    for (uint32_t f = 2; f <= 6; ++f)
        b.add(syntheticFrame(f, 4));
    EXPECT_TRUE(MountedImage(b).probe().empty());

    // The header further on (after extra words) and a 0x3000 header both count.
    DiscBuilder c;
    std::vector<Sector> shifted = syntheticFrame(1, 4);
    put16(&shifted[0][58], 0);
    put16(&shifted[0][58 + 2 * 5], 0x3000);
    put16(&shifted[0][62 + 2 * 5], 3);
    c.add(shifted);
    for (uint32_t f = 2; f <= 6; ++f)
        c.add(syntheticFrame(f, 4));
    const std::vector<StrInfo> found = MountedImage(c).probe();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].frameCount, 6u);
}

TEST_F(Discmovie, CorruptHeadersAreForeignSectors)
{
    DiscBuilder b;
    for (uint32_t f = 1; f <= 8; ++f) {
        std::vector<Sector> frame = syntheticFrame(f, 4);
        switch (f % 4) {
        case 0:
            put16(&frame[1][30], 33); // more than 32 sectors
            break;
        case 1:
            put16(&frame[2][40], 0); // width 0
            break;
        case 2:
            put16(&frame[3][28], 7); // index beyond the count
            break;
        default:
            put16(&frame[1][42], 0); // height 0
        }
        b.add(frame);
    }
    const std::vector<StrInfo> found = MountedImage(b).probe();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].frameCount, 8u);
    // Frame sectors are counted by position: four to each frame.
    EXPECT_EQ(found[0].frameRate, sectorkit::rateFromSizeAndSectors(320, 240, 4, 4));
}

// ---- frame rates --------------------------------------------------------------------------

struct RateLayout
{
    std::vector<uint16_t> frameSectors; // movie sectors of each frame, cycled
    uint32_t soundEvery;                // a sound sector before every soundEvery-th movie sector
    uint32_t frames;
};

std::vector<Sector> rateMovie(const RateLayout& layout)
{
    std::vector<Sector> out;
    uint32_t placed = 0;
    for (uint32_t f = 1; f <= layout.frames; ++f) {
        for (const Sector& s : syntheticFrame(f, layout.frameSectors[(f - 1) % layout.frameSectors.size()])) {
            if (placed++ % layout.soundEvery == layout.soundEvery - 1)
                out.push_back(soundSector(0, placed));
            out.push_back(s);
        }
    }
    return out;
}

TEST_F(Discmovie, FrameRateFromPictureSizeSectorsAndSound)
{
    struct Case
    {
        const char* what;
        RateLayout layout;
        uint16_t kind;
        uint16_t rate;
    };
    // 320x240: the picture size gives 300. Frames of 8 and 9 sectors give 150.
    const Case cases[] = {
        // One sound sector per 7 movie sectors: 40 frames (340 sectors) over 48 sound sectors,
        // 2560 ms: 15.6 frames per second, close enough to 150.
        {"estimate kept", {{8, 9}, 7, 40}, StrVideo | StrAudio, 150},
        // One per 5: 68 sound sectors, 3626 ms: 11.0 per second; sizes vary by 1: 110.
        {"sound rate adopted", {{8, 9}, 5, 40}, StrVideo | StrAudio, 110},
        // Frames of 4 to 9 sectors give 150 too, but vary by more than 3: timed by the frames,
        // with the smallest frames' estimate: rate(320, 240, 4, 4) = 300.
        {"timed", {{4, 9, 6, 8}, 3, 40}, StrVideo | StrAudio | StrTimed, 300},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DiscBuilder b;
        const uint32_t first = b.add(rateMovie(c.layout));
        b.addForeign(40);
        const std::vector<StrInfo> found = MountedImage(b).probe();
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0].startSector, first);
        EXPECT_EQ(found[0].kind, c.kind);
        EXPECT_EQ(found[0].frameRate, c.rate);
        EXPECT_EQ(found[0].frameCount, c.layout.frames);
    }
}

TEST_F(Discmovie, SoundRateOfOneTwoFiveIsAdopted)
{
    // 40 frames of 8 and 9 sectors with 60 sound sectors (3200 ms) on them: 12.5 frames per
    // second.
    DiscBuilder b;
    uint32_t sound = 0;
    std::vector<Sector> layout;
    for (uint32_t pair = 0; pair < 20; ++pair) {
        std::vector<Sector> video = syntheticFrame(2 * pair + 1, 8);
        const std::vector<Sector> second = syntheticFrame(2 * pair + 2, 9);
        video.insert(video.end(), second.begin(), second.end());
        // Three sound sectors per 20 sectors, at 0, 7 and 14.
        for (uint32_t i = 0, v = 0; i < 20; ++i) {
            if (i == 0 || i == 7 || i == 14) {
                layout.push_back(soundSector(0, i));
                ++sound;
            } else {
                layout.push_back(video[v++]);
            }
        }
    }
    b.addForeign(3);
    b.add(layout);
    b.addForeign(40);
    const std::vector<StrInfo> found = MountedImage(b).probe();
    ASSERT_EQ(found.size(), 1u);
    // The sound sector before the first movie sector is the stream's.
    EXPECT_EQ(found[0].startSector, 3u);
    EXPECT_EQ(found[0].dataBytes, 40u / 2 * (8u + 9u) * 2016u - 40u * 40u + sound * 2304u);
    EXPECT_EQ(found[0].frameRate, 125);
    EXPECT_EQ(found[0].kind, StrVideo | StrAudio);
    EXPECT_EQ(found[0].durationMs, 40u * 10000u / 125u);
}

// ---- area description ---------------------------------------------------------------------

TEST_F(Discmovie, DescribesAnAreaFromItsFirstSectors)
{
    DiscBuilder b;
    b.addForeign(10);
    const uint32_t first = b.add(m_mv1);
    b.addForeign(5);
    MountedImage disc(b);
    ASSERT_TRUE(disc.ready());

    // In the first 300 sectors: sound at 0, 8, ... 296 (38), 262 movie sectors, and the last
    // frame start seen is that of frame F.
    uint32_t sound = 0, movie = 0, lastFrame = 0;
    for (uint32_t i = 0; i < 300; ++i) {
        if (isSound(m_mv1[i]))
            ++sound;
        else if (isVideo(m_mv1[i])) {
            ++movie;
            if (videoIndex(m_mv1[i]) == 0)
                lastFrame = videoFrame(m_mv1[i]);
        }
    }
    ASSERT_EQ(sound, 38u);
    StrInfo info{};
    ASSERT_EQ(LbrGetStrDataInfo(disc.binding(), disc.drive(), first, 450, &info), 1);
    EXPECT_EQ(info.kind, StrVideo | StrAudio);
    EXPECT_EQ(info.startSector, first);
    EXPECT_EQ(info.sectorCount, 450u);
    EXPECT_EQ(info.frameCount, 450u * lastFrame / 300u);
    EXPECT_EQ(info.width, 320u);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.sampleRate, 37800u);
    EXPECT_EQ(info.frameRate, 150);
    EXPECT_EQ(info.durationMs, info.frameCount * 10000u / 150u);

    // No movie sector: no description.
    StrInfo none{};
    EXPECT_EQ(LbrGetStrDataInfo(disc.binding(), disc.drive(), 0, 10, &none), 0);
    EXPECT_EQ(LbrGetStrDataInfo(disc.binding(), disc.drive(), first, 0, &none), 0);
}

// ---- reading ------------------------------------------------------------------------------

TEST_F(Discmovie, ReadsFramesAndSoundInDiscOrder)
{
    DiscBuilder b;
    const uint32_t first = b.add(m_mv1);
    MountedImage disc(b);
    ASSERT_TRUE(disc.ready());
    const std::vector<StrInfo> found = disc.probe();
    ASSERT_EQ(found.size(), 1u);
    StreamPtr stream(disc.open(found[0]));
    ASSERT_TRUE(stream);
    const std::vector<Unit> units = readAll(stream.get());

    // Expected: for each frame its data, and after it the sound met inside it as one unit; sound
    // between frames on its own.
    std::vector<Unit> expected;
    std::vector<Sector> frame;
    std::vector<uint8_t> parked;
    for (uint32_t i = found[0].startSector - first; i < m_mv1.size(); ++i) {
        const Sector& s = m_mv1[i];
        if (isSound(s)) {
            if (frame.empty())
                expected.push_back(
                    Unit{false, 0, 0, std::vector<uint8_t>(s.begin() + 24, s.begin() + 24 + 2304)});
            else
                parked.insert(parked.end(), s.begin() + 24, s.begin() + 24 + 2304);
            continue;
        }
        frame.push_back(s);
        if (videoIndex(s) + 1u == videoCount(s)) {
            expected.push_back(Unit{true, videoFrame(s), 0, expectedFrame(frame)});
            frame.clear();
            if (!parked.empty())
                expected.push_back(Unit{false, 0, 0, parked});
            parked.clear();
        }
    }
    ASSERT_EQ(units.size(), expected.size());
    size_t frames = 0, soundAfterFrame = 0;
    for (size_t i = 0; i < units.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(units[i].video, expected[i].video);
        EXPECT_EQ(units[i].frame, expected[i].frame);
        EXPECT_TRUE(units[i].payload == expected[i].payload);
        frames += units[i].video ? 1 : 0;
        soundAfterFrame += i > 0 && !units[i].video && units[i - 1].video ? 1 : 0;
    }
    EXPECT_EQ(frames, 45u);
    EXPECT_GT(soundAfterFrame, 30u);
}

TEST_F(Discmovie, SoundInsideAFrameComesAfterItAsOneUnit)
{
    // A four-sector frame with three sound sectors between its sectors, then nine inside the
    // next: eight are kept for after the frame, the ninth is lost.
    DiscBuilder b;
    const std::vector<Sector> f1 = syntheticFrame(1, 4), f2 = syntheticFrame(2, 4), f3 = syntheticFrame(3, 4);
    const uint32_t first = b.add(f1[0]);
    b.add(soundSector(0, 1));
    b.add(f1[1]);
    b.add(soundSector(0, 2));
    b.add(soundSector(0, 3));
    b.add(f1[2]);
    b.add(f1[3]);
    b.add(f2[0]);
    for (uint32_t k = 0; k < 9; ++k)
        b.add(soundSector(0, 10 + k));
    b.add({f2[1], f2[2], f2[3]});
    b.add(f3);
    MountedImage disc(b);
    ASSERT_TRUE(disc.ready());
    StrInfo info{};
    info.kind = StrVideo | StrAudio;
    info.startSector = first;
    info.sectorCount = b.next() - first;
    info.frameCount = 3;
    info.frameRate = 150;
    info.channels = 2;
    info.sampleRate = 37800;
    info.audioFormat = 1;
    info.bitsPerSample = 16;
    StreamPtr stream(disc.open(info));
    ASSERT_TRUE(stream);
    const std::vector<Unit> units = readAll(stream.get());
    ASSERT_EQ(units.size(), 5u);
    EXPECT_TRUE(units[0].video);
    EXPECT_EQ(units[0].payload, expectedFrame(f1));
    EXPECT_FALSE(units[1].video);
    std::vector<uint8_t> three;
    for (uint32_t k = 1; k <= 3; ++k) {
        const Sector s = soundSector(0, k);
        three.insert(three.end(), s.begin() + 24, s.begin() + 24 + 2304);
    }
    EXPECT_EQ(units[1].payload, three);
    EXPECT_EQ(units[2].frame, 2u);
    EXPECT_EQ(units[3].payload.size(), 8u * 2304u);
    EXPECT_EQ(units[4].frame, 3u);
}

TEST_F(Discmovie, AFrameWithoutASizeDeliversHalfItsSectors)
{
    // A data size of 0 stands for count x 1008 bytes.
    DiscBuilder b;
    std::vector<Sector> frames;
    for (uint32_t f = 1; f <= 4; ++f)
        for (const Sector& s : syntheticFrame(f, 5, {}, 0))
            frames.push_back(s);
    b.add(frames);
    MountedImage disc(b);
    const std::vector<StrInfo> found = disc.probe();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].dataBytes, 4u * 5u * 1008u);
    StreamPtr stream(disc.open(found[0]));
    ASSERT_TRUE(stream);
    const std::vector<Unit> units = readAll(stream.get());
    ASSERT_EQ(units.size(), 4u);
    for (const Unit& u : units)
        EXPECT_EQ(u.payload.size(), 5u * 1008u);
}

TEST_F(Discmovie, OversizedFramesStayWithinTheLargestUnit)
{
    // Frames that claim 0xFFFFFFFF bytes over 32 sectors, and index-0 sectors over and over
    // without a last sector: the payload never passes 32 x 2016 bytes (the record buffer is
    // exactly that large, so an overrun is caught by the sanitizer build).
    DiscBuilder b;
    std::vector<Sector> sectors;
    for (uint32_t f = 1; f <= 3; ++f)
        for (const Sector& s : syntheticFrame(f, 32, {}, 0xFFFFFFFF))
            sectors.push_back(s);
    for (uint32_t k = 0; k < 40; ++k)
        sectors.push_back(syntheticFrame(4, 32)[0]);
    // A frame whose second sector comes again and again before its last.
    std::vector<Sector> repeated = syntheticFrame(6, 32);
    put32(&repeated[0][36], 0xFFFFFFFF);
    sectors.push_back(repeated[0]);
    for (uint32_t k = 0; k < 40; ++k)
        sectors.push_back(repeated[1]);
    sectors.push_back(repeated[31]);
    sectors.push_back(syntheticFrame(5, 2)[0]);
    sectors.push_back(syntheticFrame(5, 2)[1]);
    b.add(sectors);
    MountedImage disc(b);
    StrInfo info{};
    info.kind = StrVideo;
    info.startSector = 0;
    info.sectorCount = b.next();
    info.frameCount = 6;
    info.frameRate = 150;
    StreamPtr stream(disc.open(info, LBR_WANT_VIDEO));
    ASSERT_TRUE(stream);
    const std::vector<Unit> units = readAll(stream.get());
    ASSERT_EQ(units.size(), 5u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(units[i].payload.size(), 32u * 2016u);
    EXPECT_EQ(units[3].frame, 6u);
    EXPECT_EQ(units[3].payload.size(), 32u * 2016u);
    EXPECT_EQ(units[4].frame, 5u);
    EXPECT_EQ(units[4].payload, expectedFrame(syntheticFrame(5, 2)));
}

TEST_F(Discmovie, SeeksBySoundStrideOrByFrames)
{
    DiscBuilder b;
    b.add(m_mv1);
    b.add(m_mv1);
    MountedImage disc(b);
    ASSERT_TRUE(disc.ready());
    const std::vector<StrInfo> found = disc.probe();
    ASSERT_EQ(found.size(), 2u);
    const StrInfo info = found[0];
    const uint32_t start = info.startSector;

    // With sound: (37800 / 100) x (stride 8 x 1000 ms) / (40320 / 2) = 150 sectors on.
    StreamPtr stream(disc.open(info, LBR_WANT_VIDEO));
    ASSERT_TRUE(stream);
    ASSERT_EQ(LbrSeekStream(stream.get(), 1000), 1);
    uint32_t expected = 0;
    for (uint32_t i = 150; i < info.sectorCount && !expected; ++i) {
        const Sector& s = m_mv1[start + i];
        if (isVideo(s) && videoIndex(s) == 0)
            expected = videoFrame(s);
    }
    std::vector<Unit> after = readAll(stream.get(), 1);
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0].frame, expected);

    // Past the end: nothing more.
    ASSERT_EQ(LbrSeekStream(stream.get(), 3600000), 1);
    EXPECT_TRUE(readAll(stream.get()).empty());

    // Without sound: (ms x rate / 10000) x sectors / frames.
    StrInfo silent = info;
    silent.kind = StrVideo;
    StreamPtr video(disc.open(silent, LBR_WANT_VIDEO));
    ASSERT_TRUE(video);
    ASSERT_EQ(LbrSeekStream(video.get(), 2000), 1);
    const uint32_t target = 2000u * 150u / 10000u * info.sectorCount / info.frameCount;
    expected = 0;
    for (uint32_t i = target; i < info.sectorCount && !expected; ++i) {
        const Sector& s = m_mv1[start + i];
        if (isVideo(s) && videoIndex(s) == 0)
            expected = videoFrame(s);
    }
    after = readAll(video.get(), 1);
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0].frame, expected);
}

TEST_F(Discmovie, TimedStreamsCarryTheRateOfEachFrame)
{
    DiscBuilder b;
    b.add(rateMovie({{4, 9, 6, 8}, 3, 12}));
    b.addForeign(40);
    MountedImage disc(b);
    const std::vector<StrInfo> found = disc.probe();
    ASSERT_EQ(found.size(), 1u);
    ASSERT_EQ(found[0].kind, StrVideo | StrAudio | StrTimed);
    StreamPtr stream(disc.open(found[0], LBR_WANT_VIDEO));
    ASSERT_TRUE(stream);
    const std::vector<Unit> units = readAll(stream.get());
    ASSERT_EQ(units.size(), 12u);
    const uint16_t sizes[] = {4, 9, 6, 8};
    for (size_t i = 0; i < units.size(); ++i)
        EXPECT_EQ(units[i].param,
                  sectorkit::rateFromSizeAndSectors(320, 240, sizes[i % 4] - 1u, sizes[i % 4]));
}

TEST_F(Discmovie, OpenRefusesBadAreas)
{
    DiscBuilder b;
    b.add(m_mv4);
    MountedImage disc(b);
    ASSERT_TRUE(disc.ready());
    StrInfo info{};
    info.kind = StrVideo | StrAudio;
    info.startSector = 0;
    info.sectorCount = 0;
    EXPECT_EQ(disc.open(info), nullptr);
    info.sectorCount = 0x80000000u;
    EXPECT_EQ(disc.open(info), nullptr);
    // An area beyond the disc: the stream opens only if the reader does, and ends at once.
    info.startSector = 100000;
    info.sectorCount = 10;
    StreamPtr beyond(disc.open(info));
    if (beyond) {
        EXPECT_TRUE(readAll(beyond.get()).empty());
    }
}

// ---- the movie area of the corpus disc ------------------------------------------------------

// The decoded sound of a stream, all its sound units in order, through the host's decoder.
std::vector<uint8_t> decodedSound(StreamState* stream)
{
    std::vector<uint8_t> pcm;
    std::vector<uint8_t> out(1 << 16);
    RecordBuffer record;
    while (LbrReadStream(stream, LBR_WANT_AUDIO, record.get()) == 1) {
        if ((record.get()->unitKind & 0xF0) != UnitAudio)
            continue;
        const int32_t bytes = LbrDecodeAudio(stream, record.get(), out.data(), int32_t(out.size()));
        EXPECT_GT(bytes, 0);
        if (bytes > 0)
            pcm.insert(pcm.end(), out.begin(), out.begin() + bytes);
    }
    return pcm;
}

// The four movie files where the authoring tool of the corpus disc put them (each file begins
// with a sound sector), after 25 sectors of volume data, and an XA file after them: each stream
// starts at its file's first
// sector, and gives the frames and exactly the sound of the file.
TEST_F(Discmovie, CorpusMovieAreaStreamsAreTheMovieFiles)
{
    const struct
    {
        uint32_t start, count, frames, width, height, rate;
        const char* file;
    } movies[] = {
        {25, 450, 45, 320, 240, 37800, kMv1},
        {475, 450, 45, 320, 240, 37800, kMv2},
        {925, 420, 42, 256, 224, 18900, "mv3_v2_256x224_15fps_xa18900m.str"},
        {1345, 224, 45, 160, 112, 37800, kMv4},
    };
    DiscBuilder b;
    ASSERT_TRUE(buildCorpusDataTrack(b));
    MountedImage disc(b);
    ASSERT_TRUE(disc.ready());
    const std::vector<StrInfo> found = disc.probe();
    ASSERT_EQ(found.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(movies[i].file);
        EXPECT_EQ(found[i].kind, StrVideo | StrAudio);
        EXPECT_EQ(found[i].startSector, movies[i].start);
        EXPECT_EQ(found[i].sectorCount, movies[i].count);
        EXPECT_EQ(found[i].frameCount, movies[i].frames);
        EXPECT_EQ(found[i].width, movies[i].width);
        EXPECT_EQ(found[i].height, movies[i].height);
        EXPECT_EQ(found[i].sampleRate, movies[i].rate);
        EXPECT_GE(found[i].frameRate, 145);
        EXPECT_LE(found[i].frameRate, 155);

        // The frames read from the disc are those of the movie file.
        const std::vector<Sector> file = loadMovie(movies[i].file);
        std::vector<std::vector<uint8_t>> fileFrames;
        std::vector<Sector> frame;
        for (const Sector& s : file) {
            if (!isVideo(s))
                continue;
            frame.push_back(s);
            if (videoIndex(s) + 1u == videoCount(s)) {
                fileFrames.push_back(expectedFrame(frame));
                frame.clear();
            }
        }
        StreamPtr stream(disc.open(found[i], LBR_WANT_VIDEO));
        ASSERT_TRUE(stream);
        const std::vector<Unit> units = readAll(stream.get());
        ASSERT_EQ(units.size(), fileFrames.size());
        for (size_t k = 0; k < units.size(); ++k)
            EXPECT_TRUE(units[k].payload == fileFrames[k]) << "frame " << k + 1;

        // The sound decoded from the disc is that of the file, sample for sample, from the first.
        StreamPtr discSound(disc.open(found[i], LBR_WANT_AUDIO));
        const std::string path = (fs::path(TAMRIN_TEST_DATA) / "movies" / movies[i].file).string();
        StrInfo fileInfo{};
        PluginBinding* filmfile = LbrOpenPSR("Filmfile.psr");
        ASSERT_NE(filmfile, nullptr);
        ASSERT_NE(LbrGetStrFileInfo(filmfile, path.c_str(), &fileInfo), 0);
        LbrClosePSR(filmfile);
        StreamPtr fileSound(LbrOpenStream("Filmfile.psr", path.c_str(), 0, &fileInfo, LBR_WANT_AUDIO));
        ASSERT_TRUE(discSound && fileSound);
        const std::vector<uint8_t> fromDisc = decodedSound(discSound.get());
        const std::vector<uint8_t> fromFile = decodedSound(fileSound.get());
        EXPECT_EQ(fromDisc.size(), size_t(4032u * 2u) * soundSectors(file).size());
        EXPECT_TRUE(fromDisc == fromFile)
            << fromDisc.size() << " bytes from the disc, " << fromFile.size() << " from the file";
    }
}

} // namespace
