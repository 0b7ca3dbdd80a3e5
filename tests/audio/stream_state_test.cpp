// What LbrDecodeAudio keeps in the stream: the predictor history (its own per stream, cleared
// at every seek), the copy of a music stream's units, and the plugin's own decoder first.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <ostream>

#include "sound_files.h"
#include "sound_plugin_hook.h"
#include "sound_stream.h"

namespace soundtest {
namespace {

const std::filesystem::path kData = TAMRIN_TEST_DATA;

struct AdxInput
{
    uint32_t sampleRate = 0;
    std::vector<Unit> units;
};

AdxInput adxInput(const char* file)
{
    AdxInput input;
    const std::vector<uint8_t> bytes = readBytes(kData / "audio" / file);
    if (const auto adx = parseAdx(bytes)) {
        input.sampleRate = adx->sampleRate;
        input.units = adxUnits(bytes, *adx, 16);
    }
    return input;
}

// Two ADX streams of different rates decoded unit by unit in turn give what each gives alone:
// the coefficients and the history belong to each stream.
TEST(StreamState, TwoAdxStreamsDecodedInTurnDoNotDisturbEachOther)
{
    AdxInput first = adxInput("adx1_44100_stereo.adx");
    AdxInput second = adxInput("adx2_48000_stereo.adx");
    ASSERT_GT(first.units.size(), 10u);
    ASSERT_GT(second.units.size(), 10u);
    ASSERT_NE(first.sampleRate, second.sampleRate);

    std::vector<int16_t> firstAlone, secondAlone;
    {
        SoundStream a(2, first.sampleRate);
        firstAlone = a.decodeAll(first.units);
        SoundStream b(2, second.sampleRate);
        secondAlone = b.decodeAll(second.units);
    }
    ASSERT_FALSE(firstAlone.empty());

    SoundStream a(2, first.sampleRate), b(2, second.sampleRate);
    std::vector<int16_t> firstTogether, secondTogether;
    const size_t rounds = std::max(first.units.size(), second.units.size());
    for (size_t i = 0; i < rounds; ++i) {
        if (i < first.units.size()) {
            const std::vector<uint8_t> pcm = a.decode(first.units[i]);
            const std::vector<int16_t> part = samplesOf(pcm.data(), pcm.size());
            firstTogether.insert(firstTogether.end(), part.begin(), part.end());
        }
        if (i < second.units.size()) {
            const std::vector<uint8_t> pcm = b.decode(second.units[i]);
            const std::vector<int16_t> part = samplesOf(pcm.data(), pcm.size());
            secondTogether.insert(secondTogether.end(), part.begin(), part.end());
        }
    }
    EXPECT_TRUE(firstTogether == firstAlone);
    EXPECT_TRUE(secondTogether == secondAlone);
}

struct HistoryCase
{
    const char* name;
    uint16_t channels;
    uint32_t sampleRate;
    std::function<Unit()> unit;
};

Unit xaUnit()
{
    std::vector<Unit> units = xaUnits(readBytes(kData / "audio" / "xa1_37800_stereo.xa"));
    return units.size() > 30 ? units[30] : Unit(kXaKind, nullptr, 0);
}

Unit spuUnit()
{
    const std::vector<uint8_t> bytes = readBytes(kData / "audio" / "spu2_22050_stereo_i2048.spu");
    return Unit(0x28, bytes.data() + 4 * 4096, 4096);
}

Unit adxUnit()
{
    AdxInput input = adxInput("adx1_44100_stereo.adx");
    return input.units.size() > 40 ? input.units[40] : Unit(kAdxKind, nullptr, 0);
}

void PrintTo(const HistoryCase& c, std::ostream* out)
{
    *out << c.name;
}

class HistoryTest : public ::testing::TestWithParam<HistoryCase>
{
};

// The same unit decoded again continues from the history the first decode left; after a seek
// (or a flush) it decodes as in a new stream.
TEST_P(HistoryTest, SeekClearsTheHistory)
{
    const HistoryCase& c = GetParam();
    Unit unit = c.unit();
    ASSERT_GT(unit.payloadBytes(), 0u);
    SoundStream stream(c.channels, c.sampleRate);
    ASSERT_TRUE(stream);
    const std::vector<uint8_t> fresh = stream.decode(unit);
    ASSERT_FALSE(fresh.empty());
    const std::vector<uint8_t> continued = stream.decode(unit);
    ASSERT_EQ(continued.size(), fresh.size());
    ASSERT_NE(continued, fresh) << "the history makes a difference on this unit";

    ASSERT_EQ(LbrSeekStream(stream.get(), LBR_SEEK_FLUSH_ONLY), 1);
    EXPECT_EQ(stream.decode(unit), fresh) << "after a flush";
    stream.decode(unit);
    ASSERT_EQ(LbrSeekStream(stream.get(), 0), 1);
    EXPECT_EQ(stream.decode(unit), fresh) << "after a seek";
}

INSTANTIATE_TEST_SUITE_P(Decoders, HistoryTest,
                         ::testing::Values(HistoryCase{"xa", 2, 37800, xaUnit},
                                           HistoryCase{"spu", 2, 22050, spuUnit},
                                           HistoryCase{"adx", 2, 44100, adxUnit}),
                         [](const ::testing::TestParamInfo<HistoryCase>& info) { return info.param.name; });

// A music stream's units are sequence data: copied as they are, whatever the unit kind and the
// stream's sound format; their length is reported even when they do not fit.
TEST(StreamState, MusicStreamsCopyTheirUnits)
{
    StrInfo info = soundInfo(2, 37800, StrAudio | StrMusic);
    info.audioFormat = 0;
    info.bitsPerSample = 0;
    SoundStream stream(info);
    ASSERT_TRUE(stream);
    std::vector<uint8_t> payload(100);
    for (size_t i = 0; i < payload.size(); ++i)
        payload[i] = uint8_t(i * 7 + 3);
    for (uint8_t kind : {0x20, 0x2F, 0x21, 0x60, 0x3A}) {
        Unit unit(kind, payload.data(), payload.size());
        std::vector<uint8_t> out(200, 0xCD);
        EXPECT_EQ(LbrDecodeAudio(stream.get(), unit.record(), out.data(), 100), 100);
        EXPECT_TRUE(std::equal(payload.begin(), payload.end(), out.begin()));
        EXPECT_EQ(out[100], 0xCD);

        std::vector<uint8_t> tight(99, 0xCD);
        EXPECT_EQ(LbrDecodeAudio(stream.get(), unit.record(), tight.data(), int32_t(tight.size())), 100);
        EXPECT_TRUE(std::all_of(tight.begin(), tight.end(), [](uint8_t b) { return b == 0xCD; }))
            << "nothing is copied when it does not fit";
    }
    // Still only sound units.
    Unit video(0x10, payload.data(), payload.size());
    std::vector<uint8_t> out(200);
    EXPECT_EQ(LbrDecodeAudio(stream.get(), video.record(), out.data(), int32_t(out.size())), 0);
}

// The plugin's decoder is asked first: -1 means nothing, another answer is the result, and 0
// leaves the unit to the host.
TEST(StreamState, ThePluginsDecoderComesFirst)
{
    Unit unit = xaUnit();
    ASSERT_EQ(unit.payloadBytes(), kXaDataBytes);
    SoundStream plain(2, 37800);
    const std::vector<uint8_t> hostDecode = plain.decode(unit);
    ASSERT_EQ(hostDecode.size(), 8064u);

    SoundStream hooked(soundInfo(2, 37800), kHookPlugin);
    ASSERT_TRUE(hooked);
    EXPECT_EQ(hooked.decode(unit), hostDecode) << "an answer of 0 leaves the unit to the host";

    unit.record()->frameNumber = kHookFails;
    std::vector<uint8_t> out(8064, 0);
    EXPECT_EQ(LbrDecodeAudio(hooked.get(), unit.record(), out.data(), int32_t(out.size())), 0);

    unit.record()->frameNumber = kHookDecodes;
    EXPECT_EQ(LbrDecodeAudio(hooked.get(), unit.record(), out.data(), int32_t(out.size())), kHookBytes);
    EXPECT_TRUE(std::all_of(out.begin(), out.begin() + kHookBytes, [](uint8_t b) { return b == kHookFill; }));

    // Before the copy of a music stream, too.
    SoundStream music(soundInfo(2, 37800, StrAudio | StrMusic), kHookPlugin);
    EXPECT_EQ(LbrDecodeAudio(music.get(), unit.record(), out.data(), int32_t(out.size())), kHookBytes);
}

} // namespace
} // namespace soundtest
