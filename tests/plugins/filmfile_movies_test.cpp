// The Filmfile plugin on encoder-made movie files, checked against what their sectors say and
// against the independent decoder's sound references.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "movie_builder.h"
#include "unit_reader.h"

using namespace movietest;

namespace {

struct MovieCase
{
    const char* name;
    uint32_t width;
    uint32_t height;
    uint32_t frames; // as counted by ffprobe
    uint16_t channels;
    uint32_t sampleRate;
    uint32_t sectors;
    uint32_t audioSectors;
};

const MovieCase kMovies[] = {
    {"mv1_v2_320x240_15fps_xa37800s", 320, 240, 45, 2, 37800, 450, 57},
    {"mv2_v3_320x240_15fps_xa37800s_ch1", 320, 240, 45, 2, 37800, 450, 57},
    {"mv3_v2_256x224_15fps_xa18900m", 256, 224, 42, 1, 18900, 420, 14},
    {"mv4_v3_160x112_15fps_x1_xa37800s", 160, 112, 45, 2, 37800, 224, 56},
};

Bytes readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// What the file's own sectors say, read without the plugin.
struct Layout
{
    struct Frame
    {
        uint32_t first = UINT32_MAX;
        uint32_t last = 0;
        uint16_t width = 0, height = 0;
        Bytes data; // the frame's sector data, truncated to the byte count of its header
    };
    uint32_t sectors = 0;
    std::vector<uint32_t> audio;      // sector numbers of the sound sectors
    Bytes audioData;                  // their data, in disc order
    std::map<uint32_t, Frame> frames; // by frame number
};

Layout layoutOf(const Bytes& file)
{
    Layout layout;
    layout.sectors = uint32_t((file.size() - kRiffBytes) / kSectorBytes);
    std::map<uint32_t, uint32_t> frameBytes;
    for (uint32_t i = 0; i < layout.sectors; ++i) {
        const uint8_t* s = file.data() + kRiffBytes + size_t(i) * kSectorBytes;
        if ((s[0x12] & 0x7F) == 0x64) {
            layout.audio.push_back(i);
            layout.audioData.insert(layout.audioData.end(), s + kAudioDataOffset,
                                    s + kAudioDataOffset + kAudioDataBytes);
            continue;
        }
        auto& f = layout.frames[get32(s + 0x20)];
        f.first = std::min(f.first, i);
        f.last = i;
        f.width = get16(s + 0x28);
        f.height = get16(s + 0x2A);
        f.data.insert(f.data.end(), s + kVideoDataOffset, s + kVideoDataOffset + kVideoDataBytes);
        frameBytes[get32(s + 0x20)] = get32(s + 0x24);
    }
    for (auto& [number, f] : layout.frames)
        f.data.resize(std::min<size_t>(f.data.size(), frameBytes[number]));
    return layout;
}

// Channels, rate and sample frames of a 16-bit PCM WAV file.
struct Wav
{
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint32_t dataBytes = 0;
};

Wav readWav(const Bytes& b)
{
    Wav w;
    for (size_t pos = 12; pos + 8 <= b.size();) {
        const uint32_t size = get32(&b[pos + 4]);
        if (std::memcmp(&b[pos], "fmt ", 4) == 0) {
            w.channels = get16(&b[pos + 10]);
            w.rate = get32(&b[pos + 12]);
        } else if (std::memcmp(&b[pos], "data", 4) == 0) {
            w.dataBytes = size;
        }
        pos += 8 + size + (size & 1);
    }
    return w;
}

class FilmfileMovie : public testing::TestWithParam<MovieCase>
{
  protected:
    void SetUp() override
    {
        m_path = std::string(TAMRIN_TEST_DATA) + "/movies/" + GetParam().name + ".str";
        m_binding = LbrOpenPSR("Filmfile.psr");
        ASSERT_NE(m_binding, nullptr);
        ASSERT_EQ(LbrGetStrFileInfo(m_binding, m_path.c_str(), &m_info), 1);
        m_file = readFile(m_path);
        m_layout = layoutOf(m_file);
        ASSERT_EQ(m_layout.sectors, GetParam().sectors);
        ASSERT_EQ(m_layout.audio.size(), GetParam().audioSectors);
    }
    void TearDown() override { LbrClosePSR(m_binding); }

    std::vector<Unit> readAll(uint32_t mode = LBR_WANT_VIDEO | LBR_WANT_AUDIO)
    {
        OpenStream stream(m_path.c_str(), m_info, mode);
        EXPECT_TRUE(stream);
        return stream ? readUnits(stream.get()) : std::vector<Unit>{};
    }

    std::string m_path;
    PluginBinding* m_binding = nullptr;
    StrInfo m_info{};
    Bytes m_file;
    Layout m_layout;
};

TEST_P(FilmfileMovie, IsRecognised)
{
    EXPECT_EQ(LbrIsSupportFile(m_binding, m_path.c_str()), 1);
}

TEST_P(FilmfileMovie, DescriptionMatchesTheMovie)
{
    const MovieCase& m = GetParam();
    EXPECT_EQ(m_info.kind, StrVideo | StrAudio);
    EXPECT_EQ(m_info.width, m.width);
    EXPECT_EQ(m_info.height, m.height);
    EXPECT_EQ(m_info.outWidth, m.width);
    EXPECT_EQ(m_info.outHeight, m.height);
    EXPECT_EQ(m_info.startSector, 0u);
    EXPECT_EQ(m_info.sectorCount, 0u);
    // 15 frames per second; for the 1x-speed movie the picture and byte guesses say 30 and
    // only the sound brings the rate back to 15.
    EXPECT_EQ(m_info.frameRate, 150);
    // The count is extrapolated from the first 30 frames.
    EXPECT_NEAR(double(m_info.frameCount), double(m.frames), 2.0);
    EXPECT_NEAR(double(m_info.durationMs), m.frames * 1000.0 / 15.0, 150.0);
    EXPECT_EQ(m_info.audioFormat, 1);
    EXPECT_EQ(m_info.bitsPerSample, 16);
    EXPECT_EQ(m_info.channels, m.channels);
    EXPECT_EQ(m_info.sampleRate, m.sampleRate);
}

TEST_P(FilmfileMovie, FramesComeWholeAndInOrder)
{
    const auto units = readAll();
    uint32_t expected = 1;
    for (const Unit& u : units) {
        if (!u.isVideo())
            continue;
        ASSERT_EQ(u.frame, expected);
        const auto& f = m_layout.frames.at(u.frame);
        EXPECT_EQ(u.width, GetParam().width);
        EXPECT_EQ(u.height, GetParam().height);
        ASSERT_GE(u.payload.size(), 8u);
        EXPECT_EQ(get16(&u.payload[2]), 0x3800) << "frame " << u.frame;
        EXPECT_TRUE(u.payload == f.data) << "frame " << u.frame << ": " << u.payload.size() << " bytes, "
                                         << f.data.size() << " in the sectors";
        ++expected;
    }
    EXPECT_EQ(expected - 1, GetParam().frames);
}

TEST_P(FilmfileMovie, SoundComesWholeAndAfterTheFrameItInterrupts)
{
    const auto units = readAll();
    // A sound sector met inside a frame follows that frame; one between frames comes at once.
    auto framesBefore = [&](uint32_t sector) {
        uint32_t n = 0;
        for (const auto& [number, f] : m_layout.frames)
            if (f.last < sector || (f.first < sector && sector < f.last))
                ++n;
        return n;
    };
    Bytes sound;
    uint32_t videoSeen = 0;
    size_t nextAudio = 0;
    for (const Unit& u : units) {
        if (u.isVideo()) {
            ++videoSeen;
            continue;
        }
        ASSERT_EQ(u.frame, 0u);
        ASSERT_TRUE(u.payload.size() == kAudioDataBytes || u.payload.size() == 2 * kAudioDataBytes)
            << u.payload.size();
        for (size_t k = 0; k < u.payload.size() / kAudioDataBytes; ++k, ++nextAudio) {
            ASSERT_LT(nextAudio, m_layout.audio.size());
            EXPECT_EQ(framesBefore(m_layout.audio[nextAudio]), videoSeen) << "sound sector " << nextAudio;
        }
        sound.insert(sound.end(), u.payload.begin(), u.payload.end());
    }
    EXPECT_EQ(sound.size(), size_t(GetParam().audioSectors) * kAudioDataBytes);
    EXPECT_TRUE(sound == m_layout.audioData);
}

TEST_P(FilmfileMovie, SoundLengthMatchesTheReferenceDecode)
{
    const Wav wav =
        readWav(readFile(std::string(TAMRIN_TEST_DATA) + "/references/" + GetParam().name + ".wav"));
    EXPECT_EQ(wav.channels, m_info.channels);
    EXPECT_EQ(wav.rate, m_info.sampleRate);
    size_t soundBytes = 0;
    for (const Unit& u : readAll())
        if (!u.isVideo())
            soundBytes += u.payload.size();
    // Every 2304-byte sector decodes to 4032 16-bit samples, shared by the channels.
    EXPECT_EQ(soundBytes / kAudioDataBytes * 4032 * 2, wav.dataBytes);
}

TEST_P(FilmfileMovie, ReadsOfOneKindGiveTheSameUnitsAsAMixedRead)
{
    const auto mixed = readAll();
    std::vector<Unit> video, audio;
    for (const Unit& u : mixed)
        (u.isVideo() ? video : audio).push_back(u);

    OpenStream stream(m_path.c_str(), m_info);
    ASSERT_TRUE(stream);
    // All pictures first (the sound waits in its queue), then all sound.
    EXPECT_TRUE(readUnits(stream.get(), LBR_WANT_VIDEO) == video);
    EXPECT_TRUE(readUnits(stream.get(), LBR_WANT_AUDIO) == audio);

    EXPECT_TRUE(readAll(LBR_WANT_VIDEO) == video);
    EXPECT_TRUE(readAll(LBR_WANT_AUDIO) == audio);
}

TEST_P(FilmfileMovie, SeekToZeroRestarts)
{
    const auto all = readAll();
    OpenStream stream(m_path.c_str(), m_info);
    ASSERT_TRUE(stream);
    ASSERT_EQ(readUnits(stream.get(), 0, 17).size(), 17u);
    ASSERT_EQ(LbrSeekStream(stream.get(), 0), 1);
    EXPECT_TRUE(readUnits(stream.get()) == all);
}

TEST_P(FilmfileMovie, SeekIntoTheMiddleGoesToAboutThatFrame)
{
    OpenStream stream(m_path.c_str(), m_info);
    ASSERT_TRUE(stream);
    ASSERT_EQ(LbrSeekStream(stream.get(), 1500), 1);
    const auto units = readUnits(stream.get(), LBR_WANT_VIDEO);
    ASSERT_FALSE(units.empty());
    // 1.5 s at 15 frames per second: frame 23 (counted from 1), give or take the estimate.
    EXPECT_NEAR(double(units.front().frame), 23.0, 2.0);
    for (size_t i = 1; i < units.size(); ++i)
        EXPECT_EQ(units[i].frame, units[i - 1].frame + 1);
    EXPECT_EQ(units.back().frame, GetParam().frames);
}

TEST_P(FilmfileMovie, SeekPastTheEndEndsTheStream)
{
    OpenStream stream(m_path.c_str(), m_info);
    ASSERT_TRUE(stream);
    ASSERT_EQ(LbrSeekStream(stream.get(), 3600000), 1);
    RecordBuffer record;
    EXPECT_EQ(LbrReadStream(stream.get(), 0, record.get()), 0);
    ASSERT_EQ(LbrSeekStream(stream.get(), 0), 1);
    EXPECT_EQ(LbrReadStream(stream.get(), 0, record.get()), 1);
}

INSTANTIATE_TEST_SUITE_P(Movies, FilmfileMovie, testing::ValuesIn(kMovies),
                         [](const testing::TestParamInfo<MovieCase>& info) {
                             return std::string(info.param.name).substr(0, 3);
                         });

} // namespace
