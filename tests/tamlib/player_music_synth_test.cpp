// Music rendering: sequences made here are converted to stream event records and rendered on
// the General MIDI SoundFont; the sound must be there, last as long as the tempo says, follow
// the volume and tempo events, and survive damaged records.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "../mediagen/sequence_layout.h"
#include "../support/scratch_folder.h"
#include "audio/music_synth.h"
#include "player/sequencer_events.h"
#include "streamkit/lbr.h"
#include "tamlib/unit_buffer.h"

using namespace tamrin;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr uint32_t kRate = 44100;
constexpr uint32_t kDivision = 96;

// Raw sequencer events: `notes` quarter notes in a row on a piano, optionally a tempo change first.
Bytes sequence(int notes, uint32_t tempoUs = 0)
{
    Bytes raw;
    auto add = [&](std::initializer_list<uint8_t> bytes) {
        for (uint8_t b : bytes)
            raw.push_back(b);
    };
    if (tempoUs)
        add({0x00, 0xFF, 0x51, 0x03, uint8_t(tempoUs >> 16), uint8_t(tempoUs >> 8), uint8_t(tempoUs)});
    add({0x00, 0xC0, 0x00});
    for (int i = 0; i < notes; ++i)
    {
        const uint8_t key = uint8_t(60 + 2 * i);
        add({0x00, 0x90, key, 0x64});
        add({0x60, 0x80, key, 0x00}); // 96 ticks later
    }
    return raw;
}

Bytes records(const Bytes& raw)
{
    Bytes out(4096);
    out.resize(player::convertSequencerEvents(raw, out));
    return out;
}

double rms(const std::vector<int16_t>& pcm)
{
    double sum = 0;
    for (int16_t s : pcm)
        sum += double(s) * s;
    return pcm.empty() ? 0 : std::sqrt(sum / double(pcm.size()));
}

std::unique_ptr<audio::MusicSynth> synth()
{
    std::string error;
    auto s = audio::makeMusicSynth(kRate, "", &error);
    EXPECT_TRUE(s) << error;
    if (s)
    {
        EXPECT_TRUE(s->setTiming(kDivision, 500000));
    }
    return s;
}

TEST(MusicSynth, RendersTheSequenceForItsLength)
{
    struct Case
    {
        uint32_t tempoEvent;
        uint64_t frames; // stereo frames up to the last note off
    } const cases[] = {
        {0, 4 * kRate / 2},           // four quarters at 0.5 s
        {250000, 4 * kRate / 4},      // the tempo event halves it
        {1000000, 4 * kRate},         // and doubles it
    };
    for (const auto& c : cases)
    {
        auto s = synth();
        ASSERT_TRUE(s);
        const Bytes recs = records(sequence(4, c.tempoEvent));
        ASSERT_FALSE(recs.empty());
        std::vector<int16_t> pcm;
        ASSERT_TRUE(s->render(recs, pcm));
        EXPECT_EQ(pcm.size(), c.frames * 2) << c.tempoEvent;
        EXPECT_GT(rms(pcm), 100.0) << c.tempoEvent;
        s->renderFrames(kRate / 10, pcm);
        EXPECT_EQ(pcm.size(), (c.frames + kRate / 10) * 2);
    }
}

TEST(MusicSynth, VolumeAndResetTakeEffect)
{
    const Bytes recs = records(sequence(2));
    std::vector<int16_t> loud, quiet, silent;
    auto s = synth();
    ASSERT_TRUE(s);
    ASSERT_TRUE(s->render(recs, loud));
    s->reset();
    s->setVolume(25);
    ASSERT_TRUE(s->render(recs, quiet));
    s->reset();
    s->setVolume(0);
    ASSERT_TRUE(s->render(recs, silent));
    ASSERT_EQ(loud.size(), quiet.size());
    EXPECT_NEAR(rms(quiet) / rms(loud), 0.25, 0.05);
    EXPECT_LT(rms(silent), 10.0); // the synthesiser's dither only
}

TEST(MusicSynth, RefusesBadTimingAndDamagedRecords)
{
    auto s = synth();
    ASSERT_TRUE(s);
    EXPECT_FALSE(s->setTiming(0, 500000));
    EXPECT_FALSE(s->setTiming(0x8000 | 25, 500000)); // frame-based division
    EXPECT_FALSE(s->setTiming(kDivision, 0));

    Bytes recs = records(sequence(1));
    std::vector<int16_t> pcm;
    EXPECT_FALSE(s->render(Bytes(recs.begin(), recs.end() - 1), pcm)); // cut record
    Bytes unknown = recs;
    unknown[11] = 0x42; // record type
    EXPECT_FALSE(s->render(unknown, pcm));
    Bytes longCut = {0, 0, 0, 0, 0, 0, 0, 0, 0x10, 0, 0, 0x80, 0xF0, 0x7E};
    EXPECT_FALSE(s->render(longCut, pcm));

    // The reason carries FluidSynth's own message, which does not reach stderr.
    std::string error;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(audio::makeMusicSynth(kRate, "/nonexistent/font.sf2", &error));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_NE(error.find("/nonexistent/font.sf2"), std::string::npos) << error;
    EXPECT_NE(error.find("("), std::string::npos) << error;
    EXPECT_FALSE(audio::makeMusicSynth(0, "", &error));
}

TEST(MusicSynth, RendersInBoundedPieces)
{
    const Bytes recs = records(sequence(3));
    std::vector<int16_t> whole;
    auto s = synth();
    ASSERT_TRUE(s);
    ASSERT_TRUE(s->render(recs, whole));
    for (const uint64_t piece : {1u, 1000u, 44100u})
    {
        s->reset();
        std::vector<int16_t> pcm;
        size_t played = 0;
        for (int calls = 0; played < recs.size() && calls < 100000; ++calls)
        {
            const size_t before = pcm.size();
            const auto n = s->renderSome(std::span(recs).subspan(played), pcm, piece);
            ASSERT_TRUE(n);
            ASSERT_LE(pcm.size() - before, piece * 2);
            played += *n;
        }
        EXPECT_EQ(played, recs.size()) << piece;
        // The same length and loudness (reverb and dither carry over a reset, so not the same bits).
        EXPECT_EQ(pcm.size(), whole.size()) << piece;
        EXPECT_NEAR(rms(pcm) / rms(whole), 1.0, 0.1) << piece;
    }
    // A rest of millions of seconds renders no more than asked for.
    const Bytes rest = records({0x8F, 0xFF, 0xFF, 0x7F, 0x90, 0x3C, 0x40});
    ASSERT_EQ(rest.size(), player::kStreamEventBytes);
    s->reset();
    std::vector<int16_t> pcm;
    EXPECT_EQ(s->renderSome(rest, pcm, 4096), size_t(0));
    EXPECT_EQ(pcm.size(), 4096u * 2);
}

// A generated sequence file read through the sequence plugin and rendered as the player renders
// a music stream: sound in every half second up to the last note off, at 2500 ms.
TEST(MusicSynth, RendersTheUnitsOfTheSequencePlugin)
{
    const mediagen::Sequence song = mediagen::scoreSong();
    testsupport::ScratchFolder folder{"synth"};
    const std::string path = (folder.path() / "song.seq").string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(song.file.data()), std::streamsize(song.file.size()));
    PluginBinding* binding = LbrOpenPSR("Scorefile.psr");
    StrInfo info{};
    ASSERT_TRUE(binding && LbrGetStrFileInfo(binding, path.c_str(), &info) == 1);
    LbrClosePSR(binding);
    StreamState* stream = LbrOpenStream("Scorefile.psr", path.c_str(), 0, &info, LBR_WANT_AUDIO);
    ASSERT_NE(stream, nullptr);
    auto s = synth();
    ASSERT_TRUE(s && s->setTiming(info.bitsPerSample, info.sampleRate));
    tamlib::UnitBuffer unit;
    std::vector<uint8_t> events(0x10000);
    std::vector<int16_t> pcm;
    while (LbrReadStream(stream, LBR_WANT_AUDIO, unit.record()) == 1) {
        const int32_t made = LbrDecodeAudio(stream, unit.record(), events.data(), int32_t(events.size()));
        const Bytes converted = records(Bytes(events.begin(), events.begin() + std::max(made, 0)));
        EXPECT_FALSE(converted.empty()) << "a unit the player cannot read";
        EXPECT_TRUE(s->render(converted, pcm));
    }
    LbrCloseStream(stream);
    EXPECT_NEAR(double(pcm.size() / 2), 2.5 * kRate, 2.0);
    for (size_t at = 0; at + kRate <= pcm.size(); at += kRate) {
        const auto from = pcm.begin() + std::ptrdiff_t(at);
        const std::vector<int16_t> half(from, from + kRate);
        EXPECT_GT(rms(half), 100.0) << "silent at " << at / 2 * 1000 / kRate << " ms";
    }
}

} // namespace
