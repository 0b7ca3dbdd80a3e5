// The decoded sound of every test file against ffmpeg's decode of the same file (the
// references in tests/data/references), sample-aligned, as a signal-to-noise ratio. The units
// are built from the files here (the XA sectors' sound groups, the ADX frames, the SPU blocks),
// as the plugins for those formats would deliver them; the movies go through their plugin.
//
// Alignment: ffmpeg neither drops nor adds leading samples for any of these files (every file
// decodes best at shift 0, checked below), and its decodes end where ours do, except for the
// ADX files, whose last unit carries the end block: we give that frame as 32 frames of
// silence, which ffmpeg leaves out.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <ostream>
#include <string>

#include "sound_files.h"
#include "sound_stream.h"

namespace soundtest {
namespace {

const std::filesystem::path kData = TAMRIN_TEST_DATA;

// The arithmetic differs from ffmpeg's only in rounding for XA and SPU ADPCM; ADX differs also
// in how the scale and prediction are carried, hence its lower floor.
constexpr double kAdpcmFloorDb = 60.0;
constexpr double kAdxFloorDb = 45.0;
// How far (in frames) to look for a better alignment than none.
constexpr long kSearchFrames = 64;

struct Decoded
{
    StrInfo info{};
    std::vector<int16_t> samples;
    size_t units = 0;
    size_t failedUnits = 0;
};

struct ReferenceCase
{
    const char* name;
    const char* reference; // file name in references/
    double floorDb;
    std::function<Decoded()> decode;
    size_t trailingSilence = 0; // frames of ours beyond the reference (the ADX end frame)
};

Decoded decodeWith(const StrInfo& info, std::vector<Unit> units)
{
    Decoded result;
    result.info = info;
    result.units = units.size();
    SoundStream stream(info);
    if (!stream)
        return result;
    result.samples = stream.decodeAll(units, &result.failedUnits);
    return result;
}

Decoded decodeXaFile(const char* file, int channel = -1)
{
    const std::vector<uint8_t> bytes = readBytes(kData / "audio" / file);
    const std::vector<XaSector> sectors = xaSectors(bytes);
    if (sectors.empty())
        return {};
    // The sound's format is in the sub-header's coding byte.
    const uint8_t coding = sectors.front().coding;
    return decodeWith(soundInfo(xaChannels(coding), xaSampleRate(coding)), xaUnits(bytes, channel));
}

Decoded decodeAdxFile(const char* file)
{
    const std::vector<uint8_t> bytes = readBytes(kData / "audio" / file);
    const auto adx = parseAdx(bytes);
    if (!adx)
        return {};
    // 64 frames (2304 bytes) per unit, as large as an XA sector's sound.
    return decodeWith(soundInfo(adx->channels, adx->sampleRate), adxUnits(bytes, *adx, 64));
}

Decoded decodeVagFile(const char* file)
{
    const std::vector<uint8_t> bytes = readBytes(kData / "audio" / file);
    const auto vag = parseVag(bytes);
    if (!vag)
        return {};
    // Mono: the interleave of the kind plays no part; 0x21 is the smallest SPU kind.
    return decodeWith(soundInfo(1, vag->sampleRate),
                      splitUnits(0x21, bytes.data() + kVagHeaderBytes, vag->dataBytes, 2304));
}

Decoded decodeInterleavedSpu(const char* file, uint32_t sampleRate)
{
    const std::vector<uint8_t> bytes = readBytes(kData / "audio" / file);
    // 2048-byte runs per channel: kind 0x28 (2^(8 + 3) bytes); one left and one right run per unit.
    return decodeWith(soundInfo(2, sampleRate), splitUnits(0x28, bytes.data(), bytes.size(), 2 * 2048));
}

Decoded decodeMovie(const char* file)
{
    Decoded result;
    const std::string path = (kData / "movies" / file).string();
    PluginBinding* binding = LbrOpenPSR("Filmfile.psr");
    if (!binding)
        return result;
    const int32_t described = LbrGetStrFileInfo(binding, path.c_str(), &result.info);
    LbrClosePSR(binding);
    if (!described)
        return result;
    StrInfo info = result.info;
    StreamState* stream = LbrOpenStream("Filmfile.psr", path.c_str(), 0, &info, LBR_WANT_AUDIO);
    if (!stream)
        return result;
    std::vector<uint8_t> record(PSR_READ_HEADER_BYTES + (1 << 20));
    auto* unit = reinterpret_cast<PsrReadRecord*>(record.data());
    std::vector<uint8_t> pcm;
    while (LbrReadStream(stream, LBR_WANT_AUDIO, unit) == 1) {
        ++result.units;
        pcm.resize(size_t(unit->payloadBytes) * 4 + 65536);
        const int32_t written = LbrDecodeAudio(stream, unit, pcm.data(), int32_t(pcm.size()));
        LbrFreeReadBuffer(stream, unit);
        if (written <= 0) {
            ++result.failedUnits;
            continue;
        }
        const std::vector<int16_t> part = samplesOf(pcm.data(), size_t(written));
        result.samples.insert(result.samples.end(), part.begin(), part.end());
    }
    LbrCloseStream(stream);
    return result;
}

const ReferenceCase kCases[] = {
    {"xa1", "xa1_37800_stereo.wav", kAdpcmFloorDb, [] { return decodeXaFile("xa1_37800_stereo.xa"); }},
    {"xa2", "xa2_18900_mono.wav", kAdpcmFloorDb, [] { return decodeXaFile("xa2_18900_mono.xa"); }},
    {"xa_multi_c0", "xa_multi_4ch_37800_stereo_f1_c0.wav", kAdpcmFloorDb,
     [] { return decodeXaFile("xa_multi_4ch_37800_stereo.xa", 0); }},
    {"xa_multi_c1", "xa_multi_4ch_37800_stereo_f1_c1.wav", kAdpcmFloorDb,
     [] { return decodeXaFile("xa_multi_4ch_37800_stereo.xa", 1); }},
    {"xa_multi_c2", "xa_multi_4ch_37800_stereo_f1_c2.wav", kAdpcmFloorDb,
     [] { return decodeXaFile("xa_multi_4ch_37800_stereo.xa", 2); }},
    {"xa_multi_c3", "xa_multi_4ch_37800_stereo_f1_c3.wav", kAdpcmFloorDb,
     [] { return decodeXaFile("xa_multi_4ch_37800_stereo.xa", 3); }},
    {"adx1", "adx1_44100_stereo.wav", kAdxFloorDb, [] { return decodeAdxFile("adx1_44100_stereo.adx"); }, 32},
    {"adx2", "adx2_48000_stereo.wav", kAdxFloorDb, [] { return decodeAdxFile("adx2_48000_stereo.adx"); }, 32},
    {"spu1", "spu1_44100_mono.wav", kAdpcmFloorDb, [] { return decodeVagFile("spu1_44100_mono.vag"); }},
    {"spu2", "spu2_22050_stereo_i2048.wav", kAdpcmFloorDb,
     [] { return decodeInterleavedSpu("spu2_22050_stereo_i2048.spu", 22050); }},
    {"mv1", "mv1_v2_320x240_15fps_xa37800s.wav", kAdpcmFloorDb,
     [] { return decodeMovie("mv1_v2_320x240_15fps_xa37800s.str"); }},
    {"mv2", "mv2_v3_320x240_15fps_xa37800s_ch1.wav", kAdpcmFloorDb,
     [] { return decodeMovie("mv2_v3_320x240_15fps_xa37800s_ch1.str"); }},
    {"mv3", "mv3_v2_256x224_15fps_xa18900m.wav", kAdpcmFloorDb,
     [] { return decodeMovie("mv3_v2_256x224_15fps_xa18900m.str"); }},
    {"mv4", "mv4_v3_160x112_15fps_x1_xa37800s.wav", kAdpcmFloorDb,
     [] { return decodeMovie("mv4_v3_160x112_15fps_x1_xa37800s.str"); }},
};

void PrintTo(const ReferenceCase& c, std::ostream* out)
{
    *out << c.name;
}

class SoundReference : public ::testing::TestWithParam<ReferenceCase>
{
};

TEST_P(SoundReference, MatchesTheIndependentDecoder)
{
    const ReferenceCase& c = GetParam();
    const auto reference = parseWave(readBytes(kData / "references" / c.reference));
    ASSERT_TRUE(reference) << c.reference;
    const Decoded ours = c.decode();
    ASSERT_GT(ours.units, 0u) << "no units built or read";
    EXPECT_EQ(ours.failedUnits, 0u) << "units that decoded to nothing";
    ASSERT_EQ(ours.info.channels, reference->channels);
    ASSERT_EQ(ours.info.sampleRate, reference->sampleRate);

    const uint16_t channels = reference->channels;
    ASSERT_EQ(ours.samples.size() % channels, 0u);
    EXPECT_EQ(ours.samples.size() / channels, reference->frames() + c.trailingSilence)
        << "frames decoded against the reference's";
    for (size_t i = reference->samples.size(); i < ours.samples.size(); ++i)
        ASSERT_EQ(ours.samples[i], 0) << "sample " << i << " after the end block";

    const Comparison comparison = compareAligned(reference->samples, ours.samples, channels, kSearchFrames);
    EXPECT_EQ(comparison.shift, 0) << "best alignment";
    EXPECT_EQ(comparison.frames, reference->frames());
    EXPECT_GE(comparison.snrDb, c.floorDb);

    char line[160];
    std::snprintf(line, sizeof line, "%-12s SNR %7.2f dB over %zu frames x %u ch (shift %ld)", c.name,
                  comparison.snrDb, comparison.frames, unsigned(channels), comparison.shift);
    std::printf("%s\n", line);
    RecordProperty(std::string(c.name) + "_snr_db",
                   std::isinf(comparison.snrDb) ? std::string("inf") : std::to_string(comparison.snrDb));
}

INSTANTIATE_TEST_SUITE_P(Files, SoundReference, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ReferenceCase>& info) { return info.param.name; });

} // namespace
} // namespace soundtest
