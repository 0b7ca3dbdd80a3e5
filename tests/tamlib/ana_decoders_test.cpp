// The library's unit loops over a stream file: frames below the first wanted are passed over,
// every later one is decoded once (as a picture, scaled, or as planar samples), and the sound
// comes converted in the length the target format gives.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "analysis_support.h"
#include "streamkit/lbr.h"
#include "tamlib/analysis.h"
#include "tamlib/frame_decoder.h"
#include "tamlib/sound_decoder.h"

namespace {

namespace fs = std::filesystem;
using tamlib::FrameDecoder;
using tamlib::SoundDecoder;

const fs::path kMovie = fs::path(TAMRIN_TEST_DATA) / "movies" / "mv1_v2_320x240_15fps_xa37800s.str";

struct StreamCloser
{
    void operator()(StreamState* stream) const { LbrCloseStream(stream); }
};
using StreamPtr = std::unique_ptr<StreamState, StreamCloser>;

class Decoders : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_env.started());
        if (!fs::exists(fs::path(TAMRIN_OUT_DIR) / "PsrPlugins" / "Filmfile.psr"))
            GTEST_SKIP() << "plugins not built";
        const auto identity = tamlib::identifyFile(kMovie.c_str());
        ASSERT_TRUE(identity);
        m_info = identity->info;
        m_plugin = identity->bindName;
    }
    StreamPtr open(uint32_t mode)
    {
        StrInfo info = m_info;
        return StreamPtr(LbrOpenStream(m_plugin.c_str(), kMovie.c_str(), 0, &info, mode));
    }
    anatest::Environment m_env;
    StrInfo m_info{};
    std::string m_plugin;
};

TEST_F(Decoders, FramesFromTheFirstWantedOnAsPicturesScaledOrPlanar)
{
    const uint32_t first = m_info.frameCount - 2;
    for (const bool planar : {false, true}) {
        SCOPED_TRACE(planar ? "planar" : "pictures");
        StreamPtr stream = open(LBR_WANT_VIDEO);
        ASSERT_TRUE(stream);
        FrameDecoder::Settings settings;
        settings.planar = planar;
        settings.first = first;
        settings.stretch = planar ? 0 : 1;
        settings.width = planar ? 0 : 64;
        settings.height = planar ? 0 : 48;
        FrameDecoder decoder(stream.get(), settings);
        FrameDecoder::Frame frame;
        uint32_t passed = 0, decoded = 0;
        for (FrameDecoder::Step step; (step = decoder.next(frame)) != FrameDecoder::Step::End;) {
            EXPECT_TRUE(frame.returned);
            if (step == FrameDecoder::Step::Passed) {
                EXPECT_LT(frame.frameNumber, first);
                ++passed;
                continue;
            }
            ASSERT_EQ(step, FrameDecoder::Step::Frame) << frame.problem;
            EXPECT_GE(frame.frameNumber, first);
            ++decoded;
            if (planar) {
                EXPECT_EQ(frame.picture, nullptr);
                EXPECT_EQ(frame.width, int32_t(m_info.width));
                EXPECT_EQ(frame.planes.size(), size_t(m_info.width) * m_info.height * 3 / 2);
            } else {
                ASSERT_NE(frame.picture, nullptr);
                EXPECT_EQ(frame.picture->width, 64);
                EXPECT_EQ(frame.picture->height, 48);
                EXPECT_TRUE(frame.planes.empty());
            }
        }
        EXPECT_EQ(passed, first - 1);
        EXPECT_EQ(decoded, m_info.frameCount - first + 1);
    }
}

TEST_F(Decoders, SoundComesConvertedInTheTargetsLength)
{
    StreamPtr stream = open(LBR_WANT_AUDIO);
    ASSERT_TRUE(stream);
    const AudioFormat source{m_info.sampleRate, m_info.channels, 16, 100, 0};
    ASSERT_EQ(source.channels, 2);
    // Mono 8-bit at the same rate: a quarter of the bytes.
    const AudioFormat target{m_info.sampleRate, 1, 8, 100, 0};
    SoundDecoder decoder(stream.get(), source, target);
    SoundDecoder::Unit unit;
    size_t units = 0, pcm = 0, converted = 0;
    for (SoundDecoder::Step step; (step = decoder.next(unit)) != SoundDecoder::Step::End;) {
        ASSERT_EQ(step, SoundDecoder::Step::Unit) << unit.problem;
        EXPECT_TRUE(unit.returned);
        EXPECT_EQ(unit.pcm.size() % 4, 0u);
        ++units;
        pcm += unit.pcm.size();
        converted += unit.converted.size();
    }
    EXPECT_GT(units, 0u);
    EXPECT_EQ(converted * 4, pcm);

    // Without conversion the samples are the decoded ones.
    StreamPtr again = open(LBR_WANT_AUDIO);
    ASSERT_TRUE(again);
    SoundDecoder same(again.get(), source, source);
    ASSERT_EQ(same.next(unit), SoundDecoder::Step::Unit);
    EXPECT_EQ(unit.converted.data(), unit.pcm.data());
}

} // namespace
