// LbrDecodeAudio on units built for the edge cases: sizes and capacities, filter fields beyond
// the table, interleave runs, the ADX end block and mono mix, unit kinds that are not sound and
// stream formats that are not supported.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "sound_files.h"
#include "sound_stream.h"

namespace soundtest {
namespace {

const std::filesystem::path kData = TAMRIN_TEST_DATA;
constexpr uint8_t kUntouched = 0xCD;

// The sound data of sector `index` of the stereo XA test file (a sector from the middle, so
// that the filters and ranges vary).
std::vector<uint8_t> xaSectorData(size_t index = 20)
{
    const std::vector<uint8_t> file = readBytes(kData / "audio" / "xa1_37800_stereo.xa");
    const std::vector<XaSector> sectors = xaSectors(file);
    if (index >= sectors.size())
        return {};
    return std::vector<uint8_t>(sectors[index].data, sectors[index].data + kXaDataBytes);
}

std::vector<uint8_t> spuData()
{
    const std::vector<uint8_t> file = readBytes(kData / "audio" / "spu2_22050_stereo_i2048.spu");
    return file;
}

// Runs `length` bytes of PCM through LbrDecodeAudio with an output buffer of exactly
// `capacity` bytes filled with kUntouched; the result and the buffer.
struct Attempt
{
    int32_t result = 0;
    std::vector<uint8_t> output;
    bool untouched() const
    {
        return std::all_of(output.begin(), output.end(), [](uint8_t b) { return b == kUntouched; });
    }
};

Attempt attempt(SoundStream& stream, Unit& unit, size_t capacity)
{
    Attempt a;
    a.output.assign(std::max<size_t>(capacity, 1), kUntouched);
    a.result = LbrDecodeAudio(stream.get(), unit.record(), a.output.data(), int32_t(capacity));
    a.output.resize(capacity);
    return a;
}

// Sets the filter field of every sound parameter byte of every group of an XA unit.
void setXaFilter(std::vector<uint8_t>& data, uint8_t filter)
{
    for (size_t group = 0; group + 128 <= data.size(); group += 128)
        for (size_t i = 0; i < 16; ++i)
            data[group + i] = uint8_t((filter << 4) | (data[group + i] & 0x0F));
}

TEST(XaUnits, FullSectorGives8064BytesAndNothingWithOneByteLess)
{
    std::vector<uint8_t> data = xaSectorData();
    ASSERT_EQ(data.size(), kXaDataBytes);
    for (uint16_t channels : {uint16_t(2), uint16_t(1)}) {
        SCOPED_TRACE(channels);
        SoundStream stream(channels, channels == 2 ? 37800 : 18900);
        ASSERT_TRUE(stream);
        Unit unit(kXaKind, data.data(), data.size());
        const Attempt full = attempt(stream, unit, 8064);
        EXPECT_EQ(full.result, 8064); // 18 groups x 448 bytes
        EXPECT_FALSE(full.untouched());
        const Attempt tight = attempt(stream, unit, 8063);
        EXPECT_EQ(tight.result, 0);
        EXPECT_TRUE(tight.untouched()) << "nothing is written when the result does not fit";
    }
}

TEST(XaUnits, OnlyWholeGroupsAreDecoded)
{
    const std::vector<uint8_t> data = xaSectorData();
    SoundStream stream(2, 37800);
    ASSERT_TRUE(stream);
    Unit hundred(kXaKind, data.data(), 100);
    EXPECT_EQ(attempt(stream, hundred, 8064).result, 0);
    Unit empty(kXaKind, data.data(), 0);
    EXPECT_EQ(attempt(stream, empty, 8064).result, 0);
    // One group and a piece of the next: the group alone.
    Unit partial(kXaKind, data.data(), 200);
    const Attempt a = attempt(stream, partial, 8064);
    EXPECT_EQ(a.result, 448);
    EXPECT_TRUE(
        std::all_of(a.output.begin() + 448, a.output.end(), [](uint8_t b) { return b == kUntouched; }));
}

TEST(XaUnits, FilterFieldsAboveFourDecodeAsFour)
{
    std::vector<uint8_t> data = xaSectorData();
    for (uint16_t channels : {uint16_t(2), uint16_t(1)}) {
        SCOPED_TRACE(channels);
        auto decodeWithFilter = [&](uint8_t filter) {
            std::vector<uint8_t> copy = data;
            setXaFilter(copy, filter);
            SoundStream stream(channels, 37800);
            Unit unit(kXaKind, copy.data(), copy.size());
            return stream.decode(unit);
        };
        const std::vector<uint8_t> four = decodeWithFilter(4);
        ASSERT_EQ(four.size(), 8064u);
        // The filters do make a difference on this unit, so the comparison below means something.
        ASSERT_NE(four, decodeWithFilter(3));
        ASSERT_NE(four, decodeWithFilter(0));
        for (uint8_t filter = 5; filter <= 15; ++filter)
            EXPECT_EQ(decodeWithFilter(filter), four) << "filter " << int(filter);
    }
}

TEST(SpuUnits, FilterFieldsAboveFourDecodeAsFour)
{
    const std::vector<uint8_t> file = spuData();
    ASSERT_GE(file.size(), 2048u);
    auto decodeWithFilter = [&](uint8_t filter) {
        std::vector<uint8_t> copy(file.begin(), file.begin() + 2048);
        for (size_t block = 0; block < copy.size(); block += 16)
            copy[block] = uint8_t((filter << 4) | (copy[block] & 0x0F));
        SoundStream stream(1, 22050);
        Unit unit(0x21, copy.data(), copy.size());
        return stream.decode(unit);
    };
    const std::vector<uint8_t> four = decodeWithFilter(4);
    ASSERT_EQ(four.size(), 2048u / 16 * 56);
    ASSERT_NE(four, decodeWithFilter(1));
    for (uint8_t filter = 5; filter <= 15; ++filter)
        EXPECT_EQ(decodeWithFilter(filter), four) << "filter " << int(filter);
}

TEST(SpuUnits, SizesAndCapacity)
{
    const std::vector<uint8_t> file = spuData();
    SoundStream stream(1, 22050);
    ASSERT_TRUE(stream);
    Unit unit(0x21, file.data(), 160); // 10 blocks of 28 samples
    EXPECT_EQ(attempt(stream, unit, 560).result, 560);
    const Attempt tight = attempt(stream, unit, 559);
    EXPECT_EQ(tight.result, 0);
    EXPECT_TRUE(tight.untouched());
    Unit shortUnit(0x21, file.data(), 15);
    EXPECT_EQ(attempt(stream, shortUnit, 560).result, 0);
}

// Every interleave run gives the same samples: each channel is the mono decode of its own
// blocks. The units are built from the two channels of the interleaved test file.
TEST(SpuUnits, InterleavedRunsOfEveryKindGiveEachChannelItsBlocks)
{
    const std::vector<uint8_t> file = spuData();
    constexpr size_t kRun = 2048;
    ASSERT_EQ(file.size() % (2 * kRun), 0u);
    std::vector<uint8_t> left, right;
    for (size_t at = 0; at < file.size(); at += 2 * kRun) {
        left.insert(left.end(), file.begin() + long(at), file.begin() + long(at + kRun));
        right.insert(right.end(), file.begin() + long(at + kRun), file.begin() + long(at + 2 * kRun));
    }
    auto monoDecode = [](std::vector<uint8_t>& blocks) {
        SoundStream stream(1, 22050);
        Unit unit(0x21, blocks.data(), blocks.size());
        return samplesOf(stream.decode(unit).data(), blocks.size() / 16 * 56);
    };
    const std::vector<int16_t> expectLeft = monoDecode(left);
    const std::vector<int16_t> expectRight = monoDecode(right);
    ASSERT_EQ(expectLeft.size(), left.size() / 16 * 28);

    // Kinds 0x21 (16-byte runs) to 0x28 (2048), and 0x31 (0x30 family, 16-byte runs again).
    for (uint8_t kind : {0x21, 0x22, 0x24, 0x27, 0x28, 0x31}) {
        SCOPED_TRACE(::testing::Message() << "kind 0x" << std::hex << int(kind));
        const size_t run = size_t(1) << ((kind & 0x0F) + 3);
        std::vector<uint8_t> interleaved;
        for (size_t at = 0; at < left.size(); at += run) {
            interleaved.insert(interleaved.end(), left.begin() + long(at), left.begin() + long(at + run));
            interleaved.insert(interleaved.end(), right.begin() + long(at), right.begin() + long(at + run));
        }
        SoundStream stream(2, 22050);
        Unit unit(kind, interleaved.data(), interleaved.size());
        const std::vector<uint8_t> pcm = stream.decode(unit);
        ASSERT_EQ(pcm.size(), interleaved.size() / 16 * 56);
        const std::vector<int16_t> samples = samplesOf(pcm.data(), pcm.size());
        for (size_t f = 0; f < expectLeft.size(); ++f) {
            ASSERT_EQ(samples[2 * f], expectLeft[f]) << "left frame " << f;
            ASSERT_EQ(samples[2 * f + 1], expectRight[f]) << "right frame " << f;
        }
    }
}

// 16-bit PCM units built from a reference decode, in runs of every size of the kinds: the
// decoder gives the interleaved samples back unchanged.
TEST(PcmUnits, InterleavedRunsGiveTheSamplesBack)
{
    const auto pcm = parseWave(readBytes(kData / "references" / "xa1_37800_stereo.wav"));
    ASSERT_TRUE(pcm);
    const size_t frames = 16384; // a whole number of runs for every kind below
    ASSERT_GE(pcm->frames(), frames);
    std::vector<uint8_t> expected(frames * 4);
    std::memcpy(expected.data(), pcm->samples.data(), expected.size()); // little-endian host

    for (uint8_t kind : {0x60, 0x61, 0x63, 0x68, 0x6C, 0x70}) {
        SCOPED_TRACE(::testing::Message() << "kind 0x" << std::hex << int(kind));
        const size_t run = size_t(1) << ((kind & 0x0F) + 3);
        const size_t perRun = run / 2;
        ASSERT_EQ(frames % perRun, 0u);
        std::vector<uint8_t> interleaved;
        for (size_t first = 0; first < frames; first += perRun) {
            for (int channel = 0; channel < 2; ++channel)
                for (size_t f = first; f < first + perRun; ++f) {
                    const auto s = uint16_t(pcm->samples[2 * f + size_t(channel)]);
                    interleaved.push_back(uint8_t(s));
                    interleaved.push_back(uint8_t(s >> 8));
                }
        }
        SoundStream stream(2, 37800);
        Unit unit(kind, interleaved.data(), interleaved.size());
        EXPECT_EQ(stream.decode(unit), expected);
    }

    SoundStream mono(1, 37800);
    Unit unit(0x6F, expected.data(), expected.size());
    EXPECT_EQ(mono.decode(unit), expected) << "mono: a copy";
    EXPECT_EQ(attempt(mono, unit, expected.size() - 1).result, 0);
}

TEST(AdxUnits, EndBlockStopsTheSoundButEveryFrameIsCounted)
{
    const std::vector<uint8_t> file = readBytes(kData / "audio" / "adx1_44100_stereo.adx");
    const auto adx = parseAdx(file);
    ASSERT_TRUE(adx);
    const uint8_t* data = file.data() + adx->dataOffset;
    // Frames 100 and 101, then an end block (a right block that still follows it), then frame 102.
    std::vector<uint8_t> payload(data + 100 * kAdxFrameBytes, data + 102 * kAdxFrameBytes);
    std::vector<uint8_t> end(kAdxFrameBytes, 0);
    end[0] = 0x80;
    payload.insert(payload.end(), end.begin(), end.end());
    payload.insert(payload.end(), data + 102 * kAdxFrameBytes, data + 103 * kAdxFrameBytes);

    SoundStream stream(2, adx->sampleRate);
    Unit unit(kAdxKind, payload.data(), payload.size());
    const Attempt a = attempt(stream, unit, 4 * 128);
    EXPECT_EQ(a.result, 4 * 128) << "counted over all four frames";
    EXPECT_EQ(attempt(stream, unit, 4 * 128 - 1).result, 0);

    SoundStream alone(2, adx->sampleRate);
    Unit head(kAdxKind, payload.data(), 2 * kAdxFrameBytes);
    const std::vector<uint8_t> expectHead = alone.decode(head);
    ASSERT_EQ(expectHead.size(), 256u);
    EXPECT_TRUE(std::equal(expectHead.begin(), expectHead.end(), a.output.begin()));
    // The sound ended: what follows the end block is silence, not the next frame's samples.
    EXPECT_TRUE(std::all_of(a.output.begin() + 256, a.output.end(), [](uint8_t b) { return b == 0; }));
}

// A mono stream mixes the two blocks of each frame: 0.7 x (left + right).
TEST(AdxUnits, MonoStreamsMixBothBlocks)
{
    const std::vector<uint8_t> file = readBytes(kData / "audio" / "adx1_44100_stereo.adx");
    const auto adx = parseAdx(file);
    ASSERT_TRUE(adx);
    std::vector<Unit> stereoUnits = adxUnits(file, *adx, 64);
    std::vector<Unit> monoUnits = adxUnits(file, *adx, 64);
    ASSERT_GT(stereoUnits.size(), 20u);
    stereoUnits.erase(stereoUnits.begin() + 20, stereoUnits.end());
    monoUnits.erase(monoUnits.begin() + 20, monoUnits.end());
    SoundStream stereo(2, adx->sampleRate), mono(1, adx->sampleRate);
    const std::vector<int16_t> both = stereo.decodeAll(stereoUnits);
    const std::vector<int16_t> mixed = mono.decodeAll(monoUnits);
    ASSERT_EQ(mixed.size() * 2, both.size());
    ASSERT_EQ(mixed.size(), 20u * 64 * 32);
    size_t loud = 0;
    for (size_t f = 0; f < mixed.size(); ++f) {
        const double expect = std::clamp(0.7 * (both[2 * f] + both[2 * f + 1]), -32768.0, 32767.0);
        ASSERT_LE(std::abs(mixed[f] - expect), 1.0) << "frame " << f;
        loud += std::abs(expect) > 1000;
    }
    EXPECT_GT(loud, mixed.size() / 4) << "the mix is tested on real sound";
}

TEST(Decode, UnitsThatAreNotSoundGiveNothing)
{
    const std::vector<uint8_t> data = xaSectorData();
    SoundStream stream(2, 37800);
    ASSERT_TRUE(stream);
    for (int kind : {0x00, 0x10, 0x13, 0x1F, 0x40, 0x50, 0x80, 0xA0, 0xBF, 0xE0, 0xFF}) {
        Unit unit(uint8_t(kind), data.data(), data.size());
        const Attempt a = attempt(stream, unit, 8064);
        EXPECT_EQ(a.result, 0) << "kind 0x" << std::hex << kind;
        EXPECT_TRUE(a.untouched()) << "kind 0x" << std::hex << kind;
    }
}

TEST(Decode, FormatsOtherThan16BitPcmAndClosedStreamsGiveNothing)
{
    const std::vector<uint8_t> data = xaSectorData();
    Unit unit(kXaKind, data.data(), data.size());
    std::vector<uint8_t> out(8064);
    StrInfo info = soundInfo(2, 37800);
    info.bitsPerSample = 8;
    SoundStream eightBit(info);
    ASSERT_TRUE(eightBit);
    EXPECT_EQ(LbrDecodeAudio(eightBit.get(), unit.record(), out.data(), int32_t(out.size())), 0);
    info = soundInfo(2, 37800);
    info.audioFormat = 2;
    SoundStream compressed(info);
    ASSERT_TRUE(compressed);
    EXPECT_EQ(LbrDecodeAudio(compressed.get(), unit.record(), out.data(), int32_t(out.size())), 0);

    EXPECT_EQ(LbrDecodeAudio(nullptr, unit.record(), out.data(), int32_t(out.size())), 0);
    StrInfo given = soundInfo(2, 37800);
    StreamState* closed = LbrOpenStream(kSoundPlugin, "x", 0, &given, LBR_WANT_AUDIO);
    ASSERT_NE(closed, nullptr);
    ASSERT_EQ(LbrCloseStream(closed), 1);
    EXPECT_EQ(LbrDecodeAudio(closed, unit.record(), out.data(), int32_t(out.size())), 0);
}

} // namespace
} // namespace soundtest
