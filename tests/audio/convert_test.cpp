// LbrConvAudioData: rate conversion by a phase accumulator with linear interpolation, channel
// and sample-size changes, level scaling with saturation, the reset, and output in the input's
// buffer.
#include <gtest/gtest.h>

#include <cstring>

#include "sound_files.h"
#include "streamkit/lbr.h"

namespace soundtest {
namespace {

const std::filesystem::path kData = TAMRIN_TEST_DATA;

AudioFormat format(uint32_t rate, uint16_t channels, uint16_t bits = 16, uint16_t level = 100)
{
    AudioFormat f{};
    f.sampleRate = rate;
    f.channels = channels;
    f.bitsPerSample = bits;
    f.level = level;
    return f;
}

std::vector<uint8_t> bytesOf(const std::vector<int16_t>& samples)
{
    std::vector<uint8_t> bytes(samples.size() * 2);
    for (size_t i = 0; i < samples.size(); ++i) {
        bytes[2 * i] = uint8_t(samples[i]);
        bytes[2 * i + 1] = uint8_t(uint16_t(samples[i]) >> 8);
    }
    return bytes;
}

// Converts in one call after a reset, with the output sized as the library says (plus the
// spare sample it asks for).
std::vector<uint8_t> convert(const std::vector<uint8_t>& input, const AudioFormat& from,
                             const AudioFormat& to, AudioConvState* carried = nullptr)
{
    AudioConvState own{};
    AudioConvState& state = carried ? *carried : own;
    if (!carried) {
        EXPECT_EQ(LbrConvAudioData(&state, 0, &from, nullptr, &to, nullptr), 0);
    }
    const int32_t room = LbrConvAudioOutputBytes(&state, int32_t(input.size()), &from, &to);
    EXPECT_GE(room, 0);
    std::vector<uint8_t> output(size_t(room) + 4, 0xCD);
    const int32_t written =
        LbrConvAudioData(&state, int32_t(input.size()), &from, input.data(), &to, output.data());
    EXPECT_GE(written, 0);
    EXPECT_LE(written, room) << "wrote more than LbrConvAudioOutputBytes promised";
    output.resize(size_t(std::max(written, 0)));
    return output;
}

// A stretch of real sound: the stereo XA reference from its second second on.
std::vector<int16_t> stereoSound(size_t frames)
{
    const auto pcm = parseWave(readBytes(kData / "references" / "xa1_37800_stereo.wav"));
    if (!pcm || pcm->frames() < 37800 + frames)
        return {};
    return std::vector<int16_t>(pcm->samples.begin() + 2 * 37800,
                                pcm->samples.begin() + long(2 * (37800 + frames)));
}

std::vector<int16_t> monoSound(size_t frames)
{
    const auto pcm = parseWave(readBytes(kData / "references" / "xa2_18900_mono.wav"));
    if (!pcm || pcm->frames() < 18900 + frames)
        return {};
    return std::vector<int16_t>(pcm->samples.begin() + 18900, pcm->samples.begin() + long(18900 + frames));
}

TEST(Convert, Rate37800To44100Gives4704FramesFrom4032)
{
    const std::vector<uint8_t> input = bytesOf(stereoSound(4032));
    ASSERT_EQ(input.size(), 4032u * 4);
    const std::vector<uint8_t> output = convert(input, format(37800, 2), format(44100, 2));
    EXPECT_EQ(output.size(), 4704u * 4);
}

TEST(Convert, MonoToStereoGivesEqualChannels)
{
    const std::vector<uint8_t> input = bytesOf(monoSound(4032));
    ASSERT_EQ(input.size(), 4032u * 2);
    const std::vector<uint8_t> output = convert(input, format(18900, 1), format(44100, 2));
    ASSERT_EQ(output.size(), 9408u * 4); // 4032 x 44100 / 18900
    const std::vector<int16_t> samples = samplesOf(output.data(), output.size());
    size_t loud = 0;
    for (size_t f = 0; f < samples.size() / 2; ++f) {
        ASSERT_EQ(samples[2 * f], samples[2 * f + 1]) << "frame " << f;
        loud += std::abs(samples[2 * f]) > 1000;
    }
    EXPECT_GT(loud, 100u) << "real sound, not silence";
}

TEST(Convert, SameFormatIsACopy)
{
    const std::vector<uint8_t> input = bytesOf(stereoSound(1000));
    EXPECT_EQ(convert(input, format(37800, 2), format(37800, 2)), input);
}

// Doubling the rate puts the midpoint of each pair of input samples between them; the
// interpolation starts from silence.
TEST(Convert, DoublingTheRateInterpolatesMidpoints)
{
    const std::vector<int16_t> ramp = {1000, -3000, 5000, 7001};
    const std::vector<uint8_t> output = convert(bytesOf(ramp), format(22050, 1), format(44100, 1));
    const std::vector<int16_t> expected = {500, 1000, -1000, -3000, 1000, 5000, 6000, 7001};
    EXPECT_EQ(samplesOf(output.data(), output.size()), expected);
}

// Three input frames to every two output frames: the output lies a third and two thirds of the
// way back from each current sample.
TEST(Convert, ThreeToTwoWeighsTheLastTwoSamples)
{
    const std::vector<int16_t> input = {0, 3000, 6000, 9000, 12000, 15000};
    const std::vector<uint8_t> output = convert(bytesOf(input), format(30000, 1), format(20000, 1));
    // Phase after each input frame: 20000 (no output), 40000 - 30000 = 10000 (weight 1/2:
    // 3000 + (0 - 3000) / 2), 30000 - 30000 = 0 (the current sample itself), and again.
    const std::vector<int16_t> samples = samplesOf(output.data(), output.size());
    ASSERT_EQ(samples.size(), 4u);
    EXPECT_EQ(samples[0], 1500);
    EXPECT_EQ(samples[1], 6000);
    EXPECT_EQ(samples[2], 10500);
    EXPECT_EQ(samples[3], 15000);
}

TEST(Convert, StereoToMonoAveragesTowardZero)
{
    const std::vector<int16_t> input = {1, -2, -1, -2, 32767, 32767, -32768, -32768, 101, 0};
    const std::vector<uint8_t> output = convert(bytesOf(input), format(44100, 2), format(44100, 1));
    const std::vector<int16_t> expected = {0, -1, 32767, -32768, 50};
    EXPECT_EQ(samplesOf(output.data(), output.size()), expected);
}

TEST(Convert, EightBitSamplesBothWays)
{
    const std::vector<uint8_t> eight = {0, 1, 127, 128, 129, 255};
    const std::vector<uint8_t> wide = convert(eight, format(11025, 1, 8), format(11025, 1, 16));
    const std::vector<int16_t> expected = {-32768, -32512, -256, 0, 256, 32512};
    EXPECT_EQ(samplesOf(wide.data(), wide.size()), expected);

    const std::vector<int16_t> samples = {-32768, -32767, -1, 0, 255, 256, 32767};
    const std::vector<uint8_t> narrow = convert(bytesOf(samples), format(11025, 1), format(11025, 1, 8));
    EXPECT_EQ(narrow, (std::vector<uint8_t>{0, 0, 127, 128, 128, 129, 255}));

    // Stereo 8-bit to mono 16-bit: the mean of the two.
    const std::vector<uint8_t> pairs = {0, 255, 128, 128, 255, 255};
    const std::vector<uint8_t> mono = convert(pairs, format(8000, 2, 8), format(8000, 1, 16));
    EXPECT_EQ(samplesOf(mono.data(), mono.size()), (std::vector<int16_t>{-128, 0, 32512}));
}

TEST(Convert, LevelsScaleAndSaturateAtBothEnds)
{
    const std::vector<int16_t> input = {1000, -1000, 20000, -20000, 32767, -32768, 8191, -8192};
    const std::vector<uint8_t> louder =
        convert(bytesOf(input), format(44100, 1, 16, 100), format(44100, 1, 16, 400));
    EXPECT_EQ(samplesOf(louder.data(), louder.size()),
              (std::vector<int16_t>{4000, -4000, 32767, -32768, 32767, -32768, 32764, -32768}));

    const std::vector<uint8_t> quieter =
        convert(bytesOf(input), format(44100, 1, 16, 100), format(44100, 1, 16, 50));
    EXPECT_EQ(samplesOf(quieter.data(), quieter.size()),
              (std::vector<int16_t>{500, -500, 10000, -10000, 16383, -16384, 4095, -4096}));

    // Saturated before the 8-bit output: the extremes, not a wrapped value.
    const std::vector<uint8_t> eight =
        convert(bytesOf({20000, -20000}), format(44100, 1, 16, 100), format(44100, 1, 8, 300));
    EXPECT_EQ(eight, (std::vector<uint8_t>{255, 0}));
}

// The phase and the last samples carry from call to call: the input cut into odd pieces gives
// what one call gives.
TEST(Convert, PiecesGiveWhatOneCallGives)
{
    const std::vector<int16_t> stereo = stereoSound(12000);
    ASSERT_FALSE(stereo.empty());
    const std::vector<uint8_t> input = bytesOf(stereo);
    const size_t pieces[] = {1, 7, 13, 2, 101, 999, 3, 4032, 17};
    struct Pair
    {
        AudioFormat from, to;
    };
    const Pair pairs[] = {
        {format(37800, 2), format(44100, 2)},
        {format(37800, 2), format(22050, 1)},
        {format(18900, 2), format(48000, 2, 8)},
        {format(44100, 2), format(37800, 1, 16, 70)},
        {format(37800, 2, 16, 100), format(11025, 2, 16, 250)},
    };
    for (const Pair& pair : pairs) {
        SCOPED_TRACE(::testing::Message() << pair.from.sampleRate << " -> " << pair.to.sampleRate << " Hz, "
                                          << pair.to.channels << " ch, " << pair.to.bitsPerSample << " bits");
        const std::vector<uint8_t> whole = convert(input, pair.from, pair.to);
        ASSERT_FALSE(whole.empty());

        AudioConvState state{};
        LbrConvAudioData(&state, 0, &pair.from, nullptr, &pair.to, nullptr);
        std::vector<uint8_t> joined;
        size_t frame = 0;
        for (size_t i = 0; frame < stereo.size() / 2; ++i) {
            const size_t count = std::min(pieces[i % std::size(pieces)], stereo.size() / 2 - frame);
            const std::vector<uint8_t> piece(input.begin() + long(frame * 4),
                                             input.begin() + long((frame + count) * 4));
            const std::vector<uint8_t> out = convert(piece, pair.from, pair.to, &state);
            joined.insert(joined.end(), out.begin(), out.end());
            frame += count;
        }
        EXPECT_TRUE(joined == whole) << joined.size() << " bytes in pieces, " << whole.size()
                                     << " in one call";
    }
}

// The output may be the input's own buffer: the result is the same as with two buffers, when the
// output is larger than the input and when it is smaller.
TEST(Convert, InPlaceEqualsSeparateBuffers)
{
    const std::vector<uint8_t> input = bytesOf(stereoSound(4032));
    struct Pair
    {
        AudioFormat from, to;
    };
    const Pair pairs[] = {
        {format(37800, 2), format(44100, 2)},
        {format(37800, 2), format(48000, 2)},
        {format(37800, 2), format(22050, 1, 8)},
        {format(37800, 2), format(37800, 1)},
    };
    for (const Pair& pair : pairs) {
        SCOPED_TRACE(::testing::Message() << pair.to.sampleRate << " Hz, " << pair.to.channels << " ch, "
                                          << pair.to.bitsPerSample << " bits");
        const std::vector<uint8_t> separate = convert(input, pair.from, pair.to);
        ASSERT_FALSE(separate.empty());

        AudioConvState state{};
        LbrConvAudioData(&state, 0, &pair.from, nullptr, &pair.to, nullptr);
        const int32_t room = LbrConvAudioOutputBytes(&state, int32_t(input.size()), &pair.from, &pair.to);
        std::vector<uint8_t> buffer(std::max(input.size(), size_t(room)) + 4, 0xCD);
        std::memcpy(buffer.data(), input.data(), input.size());
        const int32_t written = LbrConvAudioData(&state, int32_t(input.size()), &pair.from, buffer.data(),
                                                 &pair.to, buffer.data());
        ASSERT_EQ(size_t(written), separate.size());
        EXPECT_TRUE(std::equal(separate.begin(), separate.end(), buffer.begin()));
    }
}

// A call with 0 bytes starts a new conversion: what follows is as from a new state.
TEST(Convert, ResetForgetsThePhaseAndTheLastSamples)
{
    const std::vector<uint8_t> input = bytesOf(stereoSound(1001));
    const AudioFormat from = format(37800, 2), to = format(44100, 2);
    const std::vector<uint8_t> fresh = convert(input, from, to);

    AudioConvState state{};
    LbrConvAudioData(&state, 0, &from, nullptr, &to, nullptr);
    const std::vector<uint8_t> first = convert(input, from, to, &state);
    const std::vector<uint8_t> carried = convert(input, from, to, &state);
    ASSERT_NE(carried, fresh) << "without a reset the state carries on";

    EXPECT_EQ(LbrConvAudioData(&state, 0, &from, nullptr, &to, nullptr), 0);
    const AudioConvState cleared{};
    EXPECT_EQ(std::memcmp(&state, &cleared, sizeof state), 0);
    EXPECT_EQ(convert(input, from, to, &state), fresh);
}

// The state is a packed record that the caller keeps where it likes, as a member of a larger
// record for one: at an odd address the conversion gives the same result.
TEST(Convert, StateAtAnOddAddressWorksAsAnyOther)
{
    const std::vector<uint8_t> input = bytesOf(stereoSound(2000));
    const AudioFormat from = format(37800, 2), to = format(44100, 1, 8);
    const std::vector<uint8_t> aligned = convert(input, from, to);

    alignas(8) uint8_t storage[1 + sizeof(AudioConvState)] = {};
    auto* state = reinterpret_cast<AudioConvState*>(storage + 1);
    const std::vector<uint8_t> first(input.begin(), input.begin() + 4000);
    const std::vector<uint8_t> rest(input.begin() + 4000, input.end());
    std::vector<uint8_t> joined = convert(first, from, to, state);
    const std::vector<uint8_t> more = convert(rest, from, to, state);
    joined.insert(joined.end(), more.begin(), more.end());
    EXPECT_TRUE(joined == aligned);
}

} // namespace
} // namespace soundtest
