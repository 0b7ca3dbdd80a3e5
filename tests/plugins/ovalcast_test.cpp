// The Ovalcast plugin on disc images laid out by ovalcast_layout.h from the frames and sound of a
// test movie, mounted, probed as the analysis probes and played through libstreamkit.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <stdio.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "../mediagen/ovalcast_layout.h"
#include "disc_builder.h"
#include "disc_probe.h"
#include "discport/discport.h"
#include "streamkit/lbr.h"

namespace {

using namespace discbuild;
using mediagen::OvalcastOptions;

constexpr const char* kMv4 = "mv4_v3_160x112_15fps_x1_xa37800s.str";
// The largest unit of the plugin: a frame of 32 sectors of 2016 bytes; records are exactly this
// large so that the sanitizer build catches a write past it.
constexpr uint32_t kMaxPayload = 32 * 2016;
constexpr size_t kRecordBytes = PSR_READ_HEADER_BYTES + kMaxPayload;
// mv4 as laid out: 45 frames in 168 movie sectors, 56 sound sectors at every fourth sector.
constexpr uint32_t kMovieSectors = 224;

const std::vector<mediagen::MdecFrame>& sourceFrames()
{
    static const auto frames = mediagen::mdecFrames(kMv4);
    return frames;
}

OvalcastOptions withSound()
{
    OvalcastOptions o;
    o.xa = soundSectors(loadMovie(kMv4));
    return o;
}

std::vector<Sector> layMovie(const OvalcastOptions& options = withSound())
{
    return mediagen::ovalcastMovie(sourceFrames(), nullptr, options);
}

struct RecordBuffer
{
    std::unique_ptr<uint8_t[]> bytes = std::make_unique<uint8_t[]>(kRecordBytes);
    PsrReadRecord* get() { return reinterpret_cast<PsrReadRecord*>(bytes.get()); }
};

struct StreamCloser
{
    void operator()(StreamState* s) const { LbrCloseStream(s); }
};
using StreamPtr = std::unique_ptr<StreamState, StreamCloser>;

class Disc
{
  public:
    explicit Disc(const std::vector<Sector>& sectors) : Disc(builderOf(sectors)) {}
    explicit Disc(const DiscBuilder& b, const char* plugin = "Ovalcast.psr")
        : m_plugin(plugin), m_image(b.write())
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
    bool ready() const { return m_drive >= 0 && m_binding; }
    std::vector<StrInfo> probe() const { return discprobe::probeDisc(m_binding, m_drive); }
    StreamPtr open(StrInfo info, uint32_t mode) const
    {
        return StreamPtr(LbrOpenStream(m_plugin, nullptr, m_drive, &info, mode));
    }
    int32_t describe(uint32_t start, uint32_t count, StrInfo& info) const
    {
        return LbrGetStrDataInfo(m_binding, m_drive, start, count, &info);
    }

  private:
    static DiscBuilder builderOf(const std::vector<Sector>& sectors)
    {
        DiscBuilder b;
        b.add(sectors);
        return b;
    }

    const char* m_plugin;
    std::unique_ptr<Image> m_image;
    int32_t m_drive = -1;
    PluginBinding* m_binding = nullptr;
};

// The one stream a probe of `disc` finds, opened for `mode`; null (and a failure) unless it finds
// exactly one.
StreamPtr onlyStream(const Disc& disc, uint32_t mode)
{
    EXPECT_TRUE(disc.ready());
    const std::vector<StrInfo> found = disc.probe();
    EXPECT_EQ(found.size(), 1u);
    return found.size() == 1 ? disc.open(found[0], mode) : nullptr;
}

// The video units of a stream from where it stands: frame number and payload.
std::vector<std::pair<uint32_t, std::vector<uint8_t>>> videoUnits(StreamState* stream, size_t limit = 1000)
{
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> units;
    RecordBuffer record;
    while (units.size() < limit && LbrReadStream(stream, LBR_WANT_VIDEO, record.get()) == 1) {
        const PsrReadRecord* r = record.get();
        EXPECT_LE(r->payloadBytes, kMaxPayload);
        units.emplace_back(r->frameNumber, std::vector<uint8_t>(r->payload, r->payload + r->payloadBytes));
    }
    return units;
}

double psnr(const uint8_t* a, const uint8_t* b, size_t n)
{
    double sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += double(int(a[i]) - int(b[i])) * double(int(a[i]) - int(b[i]));
    return sum == 0 ? 100.0 : 10 * std::log10(255.0 * 255.0 * double(n) / sum);
}

// Two movies back to back after 20 foreign sectors, foreign sectors after them, through the
// plugin and through tamrin-cli scan. The type word 0x5349 lacks bit 15, so the general disc movie
// plugin never takes these sectors (it comes after Ovalcast in the default order anyway).
TEST(Ovalcast, FindsBackToBackMoviesAtTheirFirstSectors)
{
    DiscBuilder b;
    b.addForeign(20);
    const uint32_t first = b.add(layMovie());
    const uint32_t second = b.add(layMovie());
    b.addForeign(20);
    Disc disc(b);
    ASSERT_TRUE(disc.ready());
    const std::vector<StrInfo> found = disc.probe();
    ASSERT_EQ(found.size(), 2u);
    const uint32_t starts[] = {first, second};
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(found[i].kind, StrVideo | StrAudio);
        EXPECT_EQ(found[i].startSector, starts[i]) << "the sound sector before frame 1 is the movie's";
        EXPECT_EQ(found[i].sectorCount, kMovieSectors);
        EXPECT_EQ(found[i].frameCount, 45u);
        EXPECT_EQ(found[i].width, 160u);
        EXPECT_EQ(found[i].height, 112u);
        EXPECT_EQ(found[i].frameRate, 150);
        EXPECT_EQ(found[i].sampleRate, 37800u);
        EXPECT_EQ(found[i].channels, 2);
        EXPECT_EQ(found[i].bitsPerSample, 16);
    }

    StrInfo area{};
    ASSERT_EQ(disc.describe(first, kMovieSectors, area), 1);
    EXPECT_EQ(area.kind, StrVideo | StrAudio);
    EXPECT_EQ(area.frameCount, 45u) << "the stated total";
    EXPECT_EQ(area.width, 160u);
    EXPECT_EQ(area.height, 112u);
    EXPECT_EQ(area.sampleRate, 37800u);

    Disc general(b, "Discmovie.psr");
    ASSERT_TRUE(general.ready());
    EXPECT_TRUE(general.probe().empty());

    // The same through tamrin-cli scan, Discmovie asked after Ovalcast as the default order asks.
    const std::filesystem::path cli = std::filesystem::path(TAMRIN_OUT_DIR) / "tamrin-cli";
    if (!std::filesystem::exists(cli))
        GTEST_SKIP() << "tamrin-cli is not built";
    const std::unique_ptr<Image> image = b.write();
    ASSERT_TRUE(image);
    std::ostringstream command;
    command << "'" << cli.string() << "' scan --json --no-progress --plugins Ovalcast.psr,Discmovie.psr '"
            << image->cue << "' 2>/dev/null";
    FILE* pipe = popen(command.str().c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char chunk[4096];
    for (size_t n; (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        out.append(chunk, n);
    ASSERT_EQ(pclose(pipe), 0) << out;
    const nlohmann::json scan = nlohmann::json::parse(out, nullptr, false);
    ASSERT_FALSE(scan.is_discarded()) << out;
    ASSERT_EQ(scan["streams"].size(), 2u) << out;
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(scan["streams"][i]["plugin"], "OVALCAST.PSR");
        EXPECT_EQ(scan["streams"][i]["startSector"], starts[i]);
        EXPECT_EQ(scan["streams"][i]["frameCount"], 45);
    }
}

// The delivered frames are the laid-out frame data byte for byte. This format keeps the picture
// size where a standard bitstream header has its quantiser scale and version, so the host's
// decoder is given a copy with the source frame's words 2 and 3 put back; the pictures must then
// match the independent decoder's reference of the source movie.
TEST(Ovalcast, FramesAreTheLaidOutDataAndDecodeToTheReference)
{
    const Disc disc(layMovie());
    StreamPtr stream = onlyStream(disc, LBR_WANT_VIDEO);
    ASSERT_TRUE(stream);
    const auto units = videoUnits(stream.get());
    const auto& frames = sourceFrames();
    ASSERT_EQ(units.size(), frames.size());
    RecordBuffer record;
    for (size_t k = 0; k < units.size(); ++k) {
        SCOPED_TRACE("frame " + std::to_string(k + 1));
        EXPECT_EQ(units[k].first, k + 1);
        ASSERT_TRUE(units[k].second == mediagen::ovalcastFrameData(frames[k]));
        PsrReadRecord* r = record.get();
        *r = PsrReadRecord{uint32_t(k + 1),
                           frames[k].width,
                           frames[k].height,
                           0,
                           UnitVideo,
                           0,
                           uint32_t(units[k].second.size())};
        std::memcpy(r->payload, units[k].second.data(), units[k].second.size());
        std::memcpy(r->payload + 4, frames[k].bitstream.data() + 4, 4);
        const size_t w = frames[k].width, h = frames[k].height, c = (w + 1) / 2 * ((h + 1) / 2);
        std::vector<uint8_t> yuv(w * h + 2 * c);
        ASSERT_EQ(LbrDecodeFrameYuv(stream.get(), r, yuv.data(), yuv.data() + w * h, yuv.data() + w * h + c),
                  1);
        const mediagen::Bytes ref = mediagen::referenceYuv(kMv4, k, uint16_t(w), uint16_t(h));
        ASSERT_EQ(ref.size(), yuv.size());
        EXPECT_GE(psnr(yuv.data(), ref.data(), w * h), 40.0) << "Y";
        EXPECT_GE(psnr(yuv.data() + w * h, ref.data() + w * h, c), 40.0) << "Cb";
        EXPECT_GE(psnr(yuv.data() + w * h + c, ref.data() + w * h + c, c), 40.0) << "Cr";
    }
}

// Every sound sector of the source, from the one before frame 1, decodes to the independent
// decoder's reference sample for sample.
TEST(Ovalcast, SoundIsTheReferenceSampleForSample)
{
    const Disc disc(layMovie());
    StreamPtr stream = onlyStream(disc, LBR_WANT_AUDIO);
    ASSERT_TRUE(stream);
    std::vector<int16_t> pcm;
    std::vector<uint8_t> out(1 << 16);
    RecordBuffer record;
    while (LbrReadStream(stream.get(), LBR_WANT_AUDIO, record.get()) == 1) {
        const int32_t bytes = LbrDecodeAudio(stream.get(), record.get(), out.data(), int32_t(out.size()));
        ASSERT_GT(bytes, 0);
        for (int32_t i = 0; i + 1 < bytes; i += 2)
            pcm.push_back(int16_t(mediagen::le16(out.data() + i)));
    }
    const auto reference = mediagen::testData("references/mv4_v3_160x112_15fps_x1_xa37800s.wav");
    const std::vector<int16_t> left = mediagen::waveChannel(reference, 0);
    const std::vector<int16_t> right = mediagen::waveChannel(reference, 1);
    ASSERT_EQ(left.size(), 112896u);
    ASSERT_EQ(pcm.size(), 2 * left.size());
    size_t differing = 0;
    for (size_t i = 0; i < left.size(); ++i)
        differing += (pcm[2 * i] != left[i]) + (pcm[2 * i + 1] != right[i]);
    EXPECT_EQ(differing, 0u);
}

// A seek goes to sector (sampleRate / 100) x stride x ms / (40320 / channels) of the area, here
// 378 x 4 x ms / 20160; the first picture after it is the first frame that starts there or later.
TEST(Ovalcast, SeekLandsOnTheSectorOfTheSoundStride)
{
    const std::vector<Sector> laid = layMovie();
    const Disc disc(laid);
    StreamPtr stream = onlyStream(disc, LBR_WANT_VIDEO);
    ASSERT_TRUE(stream);
    for (const uint32_t ms : {1000u, 0u, 2500u, 2900u, 60000u}) {
        SCOPED_TRACE(ms);
        const uint32_t target = std::min(uint32_t(378.0 * (4.0 * ms) / 20160.0), kMovieSectors);
        uint32_t expected = 0;
        for (uint32_t s = target; s < laid.size() && expected == 0; ++s)
            if (!isSound(laid[s]) && videoIndex(laid[s]) == 0)
                expected = videoFrame(laid[s]);
        ASSERT_EQ(LbrSeekStream(stream.get(), ms), 1);
        const auto units = videoUnits(stream.get(), 1);
        if (expected == 0) {
            EXPECT_TRUE(units.empty()) << "past the last frame";
        } else {
            ASSERT_EQ(units.size(), 1u);
            EXPECT_EQ(units[0].first, expected) << "sector " << target;
        }
    }
}

// The format's own rules, each on one movie (5 foreign sectors before it, 40 after).
TEST(Ovalcast, FormatRules)
{
    const auto insertAt = [](size_t at, std::vector<Sector> extra) {
        return [at, extra](std::vector<Sector>& m) {
            m.insert(m.begin() + long(at), extra.begin(), extra.end());
        };
    };
    std::vector<Sector> foreign33;
    for (uint32_t i = 0; i < 33; ++i)
        foreign33.push_back(foreignSector(7, i));
    Sector ender = foreignSector(9, 0);
    putSubHeader(ender.data(), 0, 0, 0x89, 0);
    const struct
    {
        const char* what;
        std::function<void(OvalcastOptions&)> options;
        std::function<void(std::vector<Sector>&)> edit;
        size_t streams;
        uint32_t frames, sectors;
    } rows[] = {
        {"bitstream header not at 0x3A", [](OvalcastOptions& o) { o.leadWords = 1; }, nullptr, 0, 0, 0},
        {"a long run of zero header words inside", nullptr, insertAt(102, std::vector<Sector>(200, Sector{})),
         1, 45, kMovieSectors + 200},
        {"total 0x000258 under a tag byte",
         [](OvalcastOptions& o) { o.totalFrames = 600, o.totalTag = 0xAB; }, nullptr, 1, 600, kMovieSectors},
        {"an end-of-file sound sector (0xE4) inside", nullptr,
         [](std::vector<Sector>& m) { m[100][0x12] = m[100][0x16] = 0xE4; }, 1, 45, kMovieSectors},
        {"a 0x89 sector ends it, and it is not taken up again", nullptr, insertAt(102, {ender}), 1, 45, 102},
        {"32 foreign sectors are skipped", nullptr,
         insertAt(102, std::vector<Sector>(foreign33.begin(), foreign33.end() - 1)), 1, 45,
         kMovieSectors + 32},
        {"33 foreign sectors end it", nullptr, insertAt(102, foreign33), 1, 45, 102},
        {"the sound of a common disc movie on the same channel right after it is not its own", nullptr,
         [](std::vector<Sector>& m) {
             const std::vector<Sector> next = loadMovie(kMv4);
             m.insert(m.end(), next.begin(), next.end());
         },
         1, 45, kMovieSectors},
        {"a stated total of 0 is no movie", nullptr,
         [](std::vector<Sector>& m) {
             for (Sector& s : m)
                 if (!isSound(s))
                     std::memset(&s[0x28], 0, 3);
         },
         0, 0, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        OvalcastOptions options = withSound();
        if (row.options)
            row.options(options);
        std::vector<Sector> movie = layMovie(options);
        if (row.edit)
            row.edit(movie);
        DiscBuilder b;
        b.addForeign(5);
        b.add(movie);
        b.addForeign(40);
        Disc disc(b);
        ASSERT_TRUE(disc.ready());
        const std::vector<StrInfo> found = disc.probe();
        ASSERT_EQ(found.size(), row.streams);
        if (row.streams == 0)
            continue;
        EXPECT_EQ(found[0].startSector, 5u);
        EXPECT_EQ(found[0].frameCount, row.frames);
        EXPECT_EQ(found[0].sectorCount, row.sectors);
    }
}

// Damaged fields in the first sector of frame 10: the probe and the stream take them without a
// read outside a sector or a unit beyond its size, and every other frame comes out whole. The
// last row puts a stray sector after that sector instead, one that looks like a one-sector frame
// but for its type word: it is passed over, and frame 10 around it is whole as well.
TEST(Ovalcast, DamagedFrameHeadersSpoilOnlyTheirFrame)
{
    const struct
    {
        const char* what;
        size_t offset;
        uint32_t value;
        int bytes; // 0: the stray sector
    } rows[] = {
        {"sector count 0", 0x1E, 0, 2},
        {"sector count 0xFFFF", 0x1E, 0xFFFF, 2},
        {"index 0xFFFF", 0x1C, 0xFFFF, 2},
        {"frame bytes 0xFFFFFFFF", 0x24, 0xFFFFFFFF, 4},
        {"frame bytes 0", 0x24, 0, 4},
        {"header word 0", 0x18, 0, 2},
        {"frame number 0xFFFFFFFF", 0x20, 0xFFFFFFFF, 4},
        {"a stray sector inside the frame", 0, 0, 0},
    };
    Sector stray = foreignSector(5, 0);
    mediagen::put32(&stray[0x18], 0x12340160);
    mediagen::put32(&stray[0x1C], 0x00010000); // index 0 of 1
    const auto& frames = sourceFrames();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<Sector> movie = layMovie();
        for (size_t k = 0; k < movie.size(); ++k) {
            if (isSound(movie[k]) || videoFrame(movie[k]) != 10 || videoIndex(movie[k]) != 0)
                continue;
            for (int i = 0; i < row.bytes; ++i)
                movie[k][row.offset + size_t(i)] = uint8_t(row.value >> (8 * i));
            if (row.bytes == 0)
                movie.insert(movie.begin() + long(k) + 1, stray);
            break;
        }
        const Disc disc(movie);
        StreamPtr stream = onlyStream(disc, LBR_WANT_VIDEO);
        ASSERT_TRUE(stream);
        const auto units = videoUnits(stream.get());
        std::vector<bool> whole(frames.size() + 1, false);
        for (const auto& [number, payload] : units)
            if (number >= 1 && number <= frames.size())
                whole[number] = payload == mediagen::ovalcastFrameData(frames[number - 1]);
        for (size_t n = 1; n <= frames.size(); ++n)
            EXPECT_TRUE((n == 10 && row.bytes != 0) || whole[n]) << "frame " << n;
        if (row.bytes == 0) {
            EXPECT_EQ(units.size(), frames.size());
        }
    }
}

} // namespace
