// The Filmfile plugin on synthetic files: the recognition rules, interrupted and oversized
// frames, sound met inside frames, damaged and hostile files.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "movie_builder.h"
#include "unit_reader.h"

using namespace movietest;
namespace fs = std::filesystem;

namespace {

class FilmfileEdge : public testing::Test
{
  protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "filmfile-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
        m_binding = LbrOpenPSR("Filmfile.psr");
        ASSERT_NE(m_binding, nullptr);
    }
    void TearDown() override
    {
        LbrClosePSR(m_binding);
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }

    std::string write(const MovieBuilder& movie, const char* name = "movie.str")
    {
        const fs::path path = m_dir / name;
        movie.write(path);
        return path.string();
    }

    std::string writeBytes(const Bytes& bytes, const char* name = "movie.str")
    {
        const fs::path path = m_dir / name;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return path.string();
    }

    int32_t supported(const std::string& path) { return LbrIsSupportFile(m_binding, path.c_str()); }

    bool describe(const std::string& path, StrInfo& info)
    {
        info = StrInfo{};
        return LbrGetStrFileInfo(m_binding, path.c_str(), &info) == 1;
    }

    // All units of a file opened with a made-up description.
    std::vector<Unit> unitsOf(const std::string& path, uint32_t frameCount = 10, uint16_t frameRate = 150)
    {
        StrInfo info{};
        info.kind = StrVideo | StrAudio;
        info.frameCount = frameCount;
        info.frameRate = frameRate;
        info.channels = 2;
        OpenStream stream(path.c_str(), info);
        EXPECT_TRUE(stream);
        return stream ? readUnits(stream.get()) : std::vector<Unit>{};
    }

    fs::path m_dir;
    PluginBinding* m_binding = nullptr;
};

bool isEmptyFrameUnit(const Unit& u)
{
    return u.frame == 0 && u.payload.empty();
}

TEST_F(FilmfileEdge, RecognisesAMovieOnlyWithTheRiffTag)
{
    EXPECT_EQ(supported(write(MovieBuilder().frame(1, 4).frame(2, 4))), 1);
    EXPECT_EQ(supported(write(MovieBuilder("RIFX").frame(1, 4).frame(2, 4))), 0);
}

TEST_F(FilmfileEdge, RefusesFilesWithoutAWholeFirstSector)
{
    const Bytes header = MovieBuilder().bytes();
    const std::string headerOnly = writeBytes(header);
    StrInfo info;
    EXPECT_EQ(supported(headerOnly), 0);
    EXPECT_FALSE(describe(headerOnly, info));
    EXPECT_TRUE(unitsOf(headerOnly).empty());

    Bytes truncated = MovieBuilder().frame(1, 1).bytes();
    truncated.resize(truncated.size() - 1);
    EXPECT_EQ(supported(writeBytes(truncated)), 0);
    EXPECT_FALSE(describe(writeBytes(truncated), info));

    const std::string empty = writeBytes({});
    EXPECT_EQ(supported(empty), 0);
    EXPECT_FALSE(describe(empty, info));
}

TEST_F(FilmfileEdge, RefusesFoldersAndMissingFiles)
{
    StrInfo info;
    EXPECT_EQ(supported(m_dir.string()), 0);
    EXPECT_FALSE(describe(m_dir.string(), info));
    EXPECT_EQ(LbrOpenStream("Filmfile.psr", m_dir.c_str(), 0, &info, LBR_WANT_VIDEO), nullptr);
    const std::string missing = (m_dir / "missing.str").string();
    EXPECT_EQ(supported(missing), 0);
    EXPECT_FALSE(describe(missing, info));
    EXPECT_EQ(LbrOpenStream("Filmfile.psr", missing.c_str(), 0, &info, LBR_WANT_VIDEO), nullptr);
}

TEST_F(FilmfileEdge, LooksPastAtMost31LeadingSoundSectors)
{
    MovieBuilder after31, after32;
    for (int i = 0; i < 31; ++i) {
        after31.add(audioSector(uint8_t(i), 0x01, i == 30 ? 0xE4 : 0x64));
        after32.add(audioSector(uint8_t(i)));
    }
    after32.add(audioSector(31, 0x01, 0xE4));
    after31.frame(1, 4);
    after32.frame(1, 4);
    EXPECT_EQ(supported(write(after31)), 1);
    EXPECT_EQ(supported(write(after32)), 0);
}

TEST_F(FilmfileEdge, RefusesASoundOnlyFile)
{
    const std::string path =
        write(MovieBuilder().add(audioSector(0)).add(audioSector(1)).add(audioSector(2, 1, 0xE4)));
    StrInfo info;
    EXPECT_EQ(supported(path), 0);
    EXPECT_FALSE(describe(path, info));
}

TEST_F(FilmfileEdge, RefusesFirstSectorsThatAreNotMovieSectors)
{
    auto refused = [&](VideoSector v) { return supported(write(MovieBuilder().add(v))) == 0; };
    VideoSector v;
    v.count = 4;
    EXPECT_FALSE(refused(v));
    VideoSector noMagic = v;
    noMagic.magic = 0;
    EXPECT_TRUE(refused(noMagic));
    VideoSector oddMagic = v;
    oddMagic.magic = 0x0161;
    EXPECT_TRUE(refused(oddMagic));
    VideoSector notMovie = v;
    notMovie.type = 0x0001;
    EXPECT_TRUE(refused(notMovie));
    VideoSector noHeader = v;
    noHeader.writeHeader = false;
    EXPECT_TRUE(refused(noHeader));
    VideoSector headerTooLate = v;
    headerTooLate.headerWord = 24; // its 0x3800 word lies just past the words searched
    EXPECT_TRUE(refused(headerTooLate));
}

TEST_F(FilmfileEdge, AcceptsFramesOfUpTo24Sectors)
{
    EXPECT_EQ(supported(write(MovieBuilder().frame(1, 24))), 1);
    EXPECT_EQ(supported(write(MovieBuilder().frame(1, 25))), 0);
}

TEST_F(FilmfileEdge, ChecksTheMdecHeaderForm)
{
    auto supportedWith = [&](uint16_t marker, uint16_t scale, uint16_t version) {
        VideoSector v;
        v.marker = marker;
        v.scale = scale;
        v.version = version;
        v.headerWord = 5;
        return supported(write(MovieBuilder().add(v)));
    };
    EXPECT_EQ(supportedWith(0x3800, 1, 3), 1);
    EXPECT_EQ(supportedWith(0x3000, 1, 0), 1);
    EXPECT_EQ(supportedWith(0x3800, 1, 4), 0);
    // The form that carries the picture size in place of scale and version.
    EXPECT_EQ(supportedWith(0x3800, 320, 240), 1);
    EXPECT_EQ(supportedWith(0x3800, 320, 241), 0);
}

TEST_F(FilmfileEdge, FramePayloadStartsAtTheMdecHeader)
{
    MovieBuilder movie;
    VideoSector first;
    first.count = 2;
    first.headerWord = 3;
    first.frameBytes = 2 * kVideoDataBytes; // more than the sectors carry after the header
    movie.add(first);
    VideoSector second = first;
    second.index = 1;
    movie.add(second);
    // A frame without any header word: its data is taken from 24 words on.
    VideoSector bare;
    bare.frame = 2;
    bare.writeHeader = false;
    bare.frameBytes = 100;
    movie.add(bare);

    const auto units = unitsOf(write(movie));
    ASSERT_EQ(units.size(), 2u);
    const Bytes s0 = videoSector(first), s1 = videoSector(second), s2 = videoSector(bare);
    Bytes expected(s0.begin() + kVideoDataOffset + 6, s0.begin() + kVideoDataOffset + kVideoDataBytes);
    expected.insert(expected.end(), s1.begin() + kVideoDataOffset,
                    s1.begin() + kVideoDataOffset + kVideoDataBytes);
    EXPECT_EQ(units[0].frame, 1u);
    EXPECT_EQ(get16(&units[0].payload[2]), 0x3800);
    EXPECT_TRUE(units[0].payload == expected) << units[0].payload.size();
    EXPECT_EQ(units[1].frame, 2u);
    EXPECT_TRUE(units[1].payload == Bytes(s2.begin() + 104, s2.begin() + 204));
}

TEST_F(FilmfileEdge, InterruptedFrameIsDropped)
{
    MovieBuilder movie;
    VideoSector cut;
    cut.count = 4;
    movie.add(cut);
    cut.index = 1;
    movie.add(cut);
    movie.frame(2, 4).frame(3, 4, 3000);
    const auto units = unitsOf(write(movie));
    // Frame 1 is lost; frame 2's first sector ends it, so frame 2 yields only an empty unit.
    ASSERT_EQ(units.size(), 2u);
    EXPECT_TRUE(isEmptyFrameUnit(units[0]));
    EXPECT_EQ(units[1].frame, 3u);
    EXPECT_EQ(units[1].payload.size(), 3000u);
}

TEST_F(FilmfileEdge, SoundGatheredBeforeAnInterruptionIsKept)
{
    MovieBuilder movie;
    const Bytes sound = audioSector(7);
    VideoSector cut;
    cut.count = 4;
    movie.add(cut).add(sound);
    movie.frame(2, 3);
    const auto units = unitsOf(write(movie));
    ASSERT_EQ(units.size(), 2u);
    EXPECT_EQ(units[0].frame, 0u);
    EXPECT_TRUE(units[0].payload == audioData(sound));
    EXPECT_TRUE(isEmptyFrameUnit(units[1]));
}

TEST_F(FilmfileEdge, SoundInsideAFrameFollowsItAsOneUnitOfTwoSectors)
{
    const Bytes a0 = audioSector(0), a1 = audioSector(50), a2 = audioSector(100),
                a3 = audioSector(150, 1, 0xE4);
    MovieBuilder movie;
    movie.add(a0);
    VideoSector v;
    v.count = 4;
    v.frameBytes = 4 * kVideoDataBytes;
    movie.add(v).add(a1);
    v.index = 1;
    movie.add(v).add(a2);
    v.index = 2;
    movie.add(v).add(a3); // a third sound sector inside the frame is dropped
    v.index = 3;
    movie.add(v);
    movie.frame(2, 2);

    const auto units = unitsOf(write(movie));
    ASSERT_EQ(units.size(), 4u);
    EXPECT_TRUE(units[0].payload == audioData(a0));
    EXPECT_EQ(units[1].frame, 1u);
    EXPECT_EQ(units[1].payload.size(), 4 * kVideoDataBytes);
    EXPECT_EQ(units[2].frame, 0u);
    Bytes both = audioData(a1);
    const Bytes second = audioData(a2);
    both.insert(both.end(), second.begin(), second.end());
    EXPECT_TRUE(units[2].payload == both);
    EXPECT_EQ(units[3].frame, 2u);
}

TEST_F(FilmfileEdge, LargestFrameFillsTheRecordExactly)
{
    const std::string path = write(MovieBuilder().frame(1, 24, 24 * kVideoDataBytes));
    StrInfo info{};
    ASSERT_TRUE(describe(path, info));
    OpenStream stream(path.c_str(), info);
    ASSERT_TRUE(stream);
    RecordBuffer record(PSR_READ_HEADER_BYTES + 24 * kVideoDataBytes);
    ASSERT_EQ(LbrReadStream(stream.get(), 0, record.get()), 1);
    EXPECT_EQ(record.get()->frameNumber, 1u);
    EXPECT_EQ(record.get()->payloadBytes, 24 * kVideoDataBytes);
}

TEST_F(FilmfileEdge, HostileCountsCannotOverrunTheRecord)
{
    // A frame that announces 4 GB in 65535 sectors and repeats one sector 40 times.
    MovieBuilder movie;
    VideoSector v;
    v.count = 0xFFFF;
    v.frameBytes = 0xFFFFFFFF;
    movie.add(v);
    v.index = 1;
    for (int i = 0; i < 40; ++i)
        movie.add(v);
    v.index = 0xFFFE;
    movie.add(v);
    const std::string path = write(movie);
    EXPECT_EQ(supported(path), 0);

    StrInfo info{};
    info.frameCount = 1;
    info.frameRate = 150;
    OpenStream stream(path.c_str(), info);
    ASSERT_TRUE(stream);
    RecordBuffer record(PSR_READ_HEADER_BYTES + 24 * kVideoDataBytes);
    ASSERT_EQ(LbrReadStream(stream.get(), 0, record.get()), 1);
    EXPECT_EQ(record.get()->frameNumber, 1u);
    EXPECT_EQ(record.get()->payloadBytes, 24 * kVideoDataBytes);
    EXPECT_EQ(LbrReadStream(stream.get(), 0, record.get()), 0);
}

TEST_F(FilmfileEdge, PayloadNeverExceedsWhatTheSectorsCarry)
{
    // 100000 bytes announced, two sectors present: the frame ends with what they hold.
    const auto units = unitsOf(write(MovieBuilder().frame(1, 2, 100000).frame(2, 1, 10)));
    ASSERT_EQ(units.size(), 2u);
    EXPECT_EQ(units[0].payload.size(), 2 * kVideoDataBytes);
    EXPECT_EQ(units[1].payload.size(), 10u);
}

TEST_F(FilmfileEdge, FrameCutOffByTheEndOfTheFileIsLost)
{
    MovieBuilder movie;
    movie.frame(1, 2);
    VideoSector v;
    v.frame = 2;
    v.count = 3;
    movie.add(v);
    const auto units = unitsOf(write(movie));
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(units[0].frame, 1u);
}

TEST_F(FilmfileEdge, DescribesASilentMovieFromPictureSizeAndFrameBytes)
{
    // 320 x 240 suggests 30 frames per second, 10 sectors per frame suggest 15: the lower wins.
    MovieBuilder movie;
    for (uint32_t f = 1; f <= 12; ++f)
        movie.frame(f, 10, 10 * kVideoDataBytes);
    StrInfo info{};
    ASSERT_TRUE(describe(write(movie), info));
    EXPECT_EQ(info.kind, StrVideo);
    EXPECT_EQ(info.frameRate, 150);
    EXPECT_EQ(info.frameCount, 12u);
    EXPECT_EQ(info.durationMs, 800u);
    EXPECT_EQ(info.channels, 0);
    EXPECT_EQ(info.sampleRate, 0u);
    EXPECT_EQ(info.audioFormat, 0);
}

TEST_F(FilmfileEdge, SamplesOnlyTheFirst30Frames)
{
    // Five 8-sector frames of 160 x 112 follow 30 one-sector ones: only the first 30 frames are
    // sampled, and the count is extrapolated from their share of the sectors (30 of 70).
    MovieBuilder movie;
    for (uint32_t f = 1; f <= 30; ++f)
        movie.frame(f, 1, 1000, 160, 112);
    for (uint32_t f = 31; f <= 35; ++f)
        movie.frame(f, 8, 1000, 160, 112);
    StrInfo info{};
    ASSERT_TRUE(describe(write(movie), info));
    EXPECT_EQ(info.frameCount, 70u);
    EXPECT_EQ(info.frameRate, 600);
}

TEST_F(FilmfileEdge, SoundThatImpliesNoRateKeepsTheGuess)
{
    // One frame against several seconds of mono 18900 Hz sound: the rate the sound implies
    // rounds to 0, which would leave no duration; the picture-based guess stays.
    MovieBuilder movie;
    movie.frame(1, 1, 1000);
    for (int i = 0; i < 100; ++i)
        movie.add(audioSector(uint8_t(i), 0x04));
    StrInfo info{};
    ASSERT_TRUE(describe(write(movie), info));
    EXPECT_EQ(info.kind, StrVideo | StrAudio);
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.sampleRate, 18900u);
    EXPECT_EQ(info.frameRate, 300);
    EXPECT_EQ(info.frameCount, 1u);
    EXPECT_EQ(info.durationMs, 33u);
}

TEST_F(FilmfileEdge, NoNumberedFrameMeansNoDescription)
{
    MovieBuilder movie;
    VideoSector v;
    v.frame = 0;
    movie.add(v).add(audioSector(0));
    StrInfo info{};
    EXPECT_FALSE(describe(write(movie), info));
}

TEST_F(FilmfileEdge, SeekInsideAFrameSkipsToTheNextWholeOne)
{
    MovieBuilder movie;
    for (uint32_t f = 1; f <= 10; ++f)
        movie.frame(f, 4, 1000 + f);
    const std::string path = write(movie);
    StrInfo info{};
    info.frameCount = 20; // so that frame 3 of the seek maps to sector 6, inside frame 2
    info.frameRate = 150;
    OpenStream stream(path.c_str(), info);
    ASSERT_TRUE(stream);
    ASSERT_EQ(LbrSeekStream(stream.get(), 200), 1);
    const auto units = readUnits(stream.get());
    ASSERT_EQ(units.size(), 9u);
    EXPECT_TRUE(isEmptyFrameUnit(units[0]));
    EXPECT_EQ(units[1].frame, 3u);
    EXPECT_EQ(units[1].payload.size(), 1003u);
}

TEST_F(FilmfileEdge, SeekNeedsAFrameCountAndRate)
{
    const std::string path = write(MovieBuilder().frame(1, 2).frame(2, 2));
    StrInfo info{};
    info.frameRate = 150;
    OpenStream noCount(path.c_str(), info);
    ASSERT_TRUE(noCount);
    EXPECT_EQ(LbrSeekStream(noCount.get(), 0), 0);
    info.frameCount = 2;
    info.frameRate = 0;
    OpenStream noRate(path.c_str(), info);
    ASSERT_TRUE(noRate);
    EXPECT_EQ(LbrSeekStream(noRate.get(), 1000), 0);
    EXPECT_EQ(readUnits(noRate.get()).size(), 2u);
}

TEST_F(FilmfileEdge, SeekDropsSoundGatheredInsideAFrame)
{
    MovieBuilder movie;
    VideoSector v;
    v.count = 2;
    movie.add(v).add(audioSector(1));
    v.index = 1;
    movie.add(v);
    const std::string path = write(movie);
    StrInfo info{};
    info.frameCount = 1;
    info.frameRate = 150;
    OpenStream stream(path.c_str(), info);
    ASSERT_TRUE(stream);
    RecordBuffer record;
    ASSERT_EQ(LbrReadStream(stream.get(), 0, record.get()), 1);
    ASSERT_EQ(record.get()->frameNumber, 1u);
    ASSERT_EQ(LbrSeekStream(stream.get(), 0), 1);
    // Without the stale sound, the first unit again is the frame.
    ASSERT_EQ(LbrReadStream(stream.get(), 0, record.get()), 1);
    EXPECT_EQ(record.get()->frameNumber, 1u);
}

TEST_F(FilmfileEdge, RandomBytesAreRefusedAndReadSafely)
{
    std::mt19937 random(20240611);
    for (int round = 0; round < 20; ++round) {
        Bytes bytes(kRiffBytes + 12 * kSectorBytes + round * 97);
        for (auto& b : bytes)
            b = uint8_t(random());
        std::memcpy(bytes.data(), "RIFF", 4);
        if (round % 2)
            for (size_t s = 0; s < 12; ++s) // movie-like sectors with random fields
                bytes[kRiffBytes + s * kSectorBytes + 0x12] = 0x48;
        const std::string path = writeBytes(bytes);
        EXPECT_EQ(supported(path), 0) << "round " << round;
        StrInfo info{};
        describe(path, info);
        for (const Unit& u : unitsOf(path, info.frameCount, info.frameRate))
            EXPECT_LE(u.payload.size(), 24 * kVideoDataBytes);
    }
}

} // namespace
