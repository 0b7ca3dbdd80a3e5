// Marlsound and Duskaudio on files and disc images laid out by mediagen (sound_layout.h) around
// the real SPU blocks and reference samples of tests/data: played through libstreamkit and decoded
// by the host, sample for sample against the independent references (PCM against its source);
// found by the probe at their sectors and offsets; the header limits and unit sizes; seeks.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "../mediagen/sound_layout.h"
#include "../support/scratch_folder.h"
#include "disc_builder.h"
#include "disc_probe.h"
#include "discport/discport.h"
#include "streamkit/lbr.h"

namespace {

using mediagen::Bytes;

constexpr const char* kMarl = "Marlsound.psr";
constexpr const char* kDusk = "Duskaudio.psr";
constexpr size_t kRecordBytes = PSR_READ_HEADER_BYTES + 8192;
constexpr int32_t kPcmBytes = 8192 / 16 * 56;

struct Sound
{
    const char* name;
    const char* plugin;
    Bytes file;
    std::vector<int16_t> expected; // the decode of every whole group
    uint16_t channels;
    uint32_t rate;
    uint32_t durationMs;
    uint8_t kind;
    size_t dataStart;
    uint32_t groupBytes;
    uint32_t groupSamples;
    size_t discOffset; // of the header in its first sector (2016 and 2008 are the last places a
                       // header is looked for); 1 = right after the sound before
};

const std::vector<Sound>& sounds()
{
    static const std::vector<Sound> all = [] {
        using namespace mediagen;
        const SpuSound mono = spuMono();     // 3152 blocks, 44100 Hz
        const SpuSound stereo = spuStereo(); // 1664 blocks a channel, 22050 Hz, runs of 2048 bytes
        const Bytes spu2 = readAll(testData("audio/spu2_22050_stereo_i2048.spu"));
        return std::vector<Sound>{
            {"MarlMono", kMarl, marlsoundFile(44100, 1, 3152, 0, spuRuns(mono, 1, 1, 3152)),
             spuExpected(mono, 1, 3152), 1, 44100, 2001, 0x21, 32, 16, 28, 1996},
            {"MarlStereo", kMarl, marlsoundFile(22050, 2, 1664, 100, spuRuns(stereo, 2, 1, 1664)),
             spuExpected(stereo, 2, 1664), 2, 22050, 2113, 0x21, 132, 32, 28, 2016},
            // The tag of the data chunk straddles the sector boundary on the disc.
            {"SsAdpcmStereo2048", kDusk, ss2File(16, 22050, 2, 2048, spu2, 32), spuExpected(stereo, 2, 1664),
             2, 22050, 2113, 0x28, 48, 4096, 3584, 2004},
            // The data chunk lies in the sector after the header's; 24 whole groups of 2048 bytes.
            {"SsAdpcmMono2048", kDusk, ss2File(16, 44100, 1, 2048, spuRuns(mono, 1, 128, 3152), 2100),
             spuExpected(mono, 1, 3072), 1, 44100, 2001, 0x28, 2116, 2048, 3584, 512},
            {"SsAdpcmStereo16", kDusk, ss2File(16, 22050, 2, 16, spuRuns(stereo, 2, 1, 1664)),
             spuExpected(stereo, 2, 1664), 2, 22050, 2113, 0x21, 40, 32, 28, 1},
            {"SsPcmStereo512", kDusk,
             ss2File(1, 22050, 2, 512, pcmRuns({stereo.referenceLeft, stereo.referenceRight}, 512)),
             spuExpected(stereo, 2, 1664), 2, 22050, 2113, 0x66, 40, 1024, 256, 1020},
            {"SsPcmMono16", kDusk, ss2File(1, 44100, 1, 16, pcmRuns({mono.referenceLeft}, 16)),
             spuExpected(mono, 1, 3152), 1, 44100, 2001, 0x61, 40, 16, 8, 2008},
        };
    }();
    return all;
}

struct StreamCloser
{
    void operator()(StreamState* s) const { LbrCloseStream(s); }
};
using StreamPtr = std::unique_ptr<StreamState, StreamCloser>;

struct Unit
{
    uint8_t kind = 0;
    Bytes payload;
};

std::vector<Unit> readUnits(StreamState* stream, std::vector<int16_t>* decoded, size_t limit = 100000)
{
    std::vector<Unit> units;
    auto buffer = std::make_unique<uint8_t[]>(kRecordBytes);
    auto* record = reinterpret_cast<PsrReadRecord*>(buffer.get());
    std::vector<uint8_t> pcm(kPcmBytes);
    while (units.size() < limit && LbrReadStream(stream, 0, record) == 1) {
        units.push_back({record->unitKind, Bytes(record->payload, record->payload + record->payloadBytes)});
        if (decoded) {
            const int32_t bytes = LbrDecodeAudio(stream, record, pcm.data(), kPcmBytes);
            EXPECT_GT(bytes, 0);
            for (int32_t i = 0; i + 1 < bytes; i += 2)
                decoded->push_back(int16_t(pcm[size_t(i)] | pcm[size_t(i) + 1] << 8));
        }
    }
    return units;
}

// Every unit whole and of the sound's kind, the decode equal to the expected samples; then a seek
// into the middle lands on its group, one past the end ends the stream, and one to 0 restarts it.
void checkPlayback(StreamState* stream, const Sound& s)
{
    ASSERT_NE(stream, nullptr);
    std::vector<int16_t> decoded;
    const std::vector<Unit> units = readUnits(stream, &decoded);
    ASSERT_FALSE(units.empty());
    for (const Unit& u : units) {
        EXPECT_EQ(u.kind, s.kind);
        EXPECT_EQ(u.payload.size() % s.groupBytes, 0u);
        EXPECT_LE(u.payload.size(), 8192u);
    }
    ASSERT_EQ(decoded.size(), s.expected.size());
    EXPECT_TRUE(decoded == s.expected) << "decoded samples differ from the reference";

    const uint32_t ms = s.durationMs * 2 / 3;
    const size_t group = size_t(uint64_t(s.rate) * ms / 1000 / s.groupSamples);
    ASSERT_EQ(LbrSeekStream(stream, ms), 1);
    std::vector<Unit> after = readUnits(stream, nullptr, 1);
    ASSERT_EQ(after.size(), 1u);
    const size_t at = s.dataStart + group * s.groupBytes;
    EXPECT_TRUE(std::equal(after[0].payload.begin(), after[0].payload.end(), s.file.begin() + ptrdiff_t(at)));
    EXPECT_EQ(LbrSeekStream(stream, s.durationMs + 5000), 1);
    EXPECT_TRUE(readUnits(stream, nullptr, 1).empty());
    ASSERT_EQ(LbrSeekStream(stream, 0), 1);
    after = readUnits(stream, nullptr, 1);
    ASSERT_EQ(after.size(), 1u);
    EXPECT_TRUE(after[0].payload == units[0].payload);
}

class StoredSound : public testing::Test
{
  protected:
    std::string write(const std::string& name, const Bytes& bytes)
    {
        const std::string path = (m_folder.path() / name).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return path;
    }
    testsupport::ScratchFolder m_folder{"marldusk"};
};

TEST_F(StoredSound, FilesPlayAsTheReferences)
{
    for (const Sound& s : sounds()) {
        SCOPED_TRACE(s.name);
        const std::string path = write(s.name, s.file);
        PluginBinding* binding = LbrOpenPSR(s.plugin);
        ASSERT_NE(binding, nullptr);
        StrInfo info{};
        EXPECT_EQ(LbrIsSupportFile(binding, path.c_str()), 1);
        ASSERT_EQ(LbrGetStrFileInfo(binding, path.c_str(), &info), 1);
        LbrClosePSR(binding);
        EXPECT_EQ(info.kind, StrAudio);
        EXPECT_EQ(info.channels, s.channels);
        EXPECT_EQ(info.sampleRate, s.rate);
        EXPECT_EQ(info.bitsPerSample, 16);
        EXPECT_EQ(info.durationMs, s.durationMs);
        EXPECT_EQ(info.dataBytes, s.file.size());
        EXPECT_EQ(info.startSector | info.sectorCount | info.reserved, 0u);
        checkPlayback(StreamPtr(LbrOpenStream(s.plugin, path.c_str(), 0, &info, LBR_WANT_AUDIO)).get(), s);
    }
}

// All sounds in one data track at odd offsets, some back to back, with a copy of the first whose
// data goes bad in a later sector (dropped by the block check).
TEST_F(StoredSound, DiscStreamsAreFoundWhereTheyLieAndPlayTheSame)
{
    discbuild::DiscBuilder b;
    b.addForeign(3);
    std::vector<std::pair<uint32_t, size_t>> places;
    uint64_t end = 0;
    for (const Sound& s : sounds()) {
        const uint64_t at =
            s.discOffset == 1 ? (end + 3) / 4 * 4 : uint64_t(b.next() + 1) * 2048 + s.discOffset;
        places.emplace_back(uint32_t(at / 2048), size_t(at % 2048));
        mediagen::placeData(b, uint32_t(at / 2048), size_t(at % 2048), s.file);
        end = at + s.file.size();
    }
    Bytes damaged = sounds()[0].file;
    damaged[32 + 16 * 400] = 0x5C; // filter 5
    mediagen::placeData(b, b.next() + 1, 40, damaged);
    b.addForeign(2);
    const auto image = b.write();
    ASSERT_TRUE(image);
    const int32_t drive = CdMountImage(image->cue.c_str());
    ASSERT_GE(drive, 0) << CdImageError();

    for (const char* plugin : {kMarl, kDusk}) {
        PluginBinding* binding = LbrOpenPSR(plugin);
        ASSERT_NE(binding, nullptr);
        const std::vector<StrInfo> found = discprobe::probeDisc(binding, drive);
        LbrClosePSR(binding);
        size_t next = 0;
        for (size_t i = 0; i < sounds().size(); ++i) {
            const Sound& s = sounds()[i];
            if (std::string(s.plugin) != plugin)
                continue;
            SCOPED_TRACE(s.name);
            ASSERT_LT(next, found.size());
            StrInfo info = found[next++];
            EXPECT_EQ(info.startSector, places[i].first);
            EXPECT_EQ(info.reserved, places[i].second);
            EXPECT_EQ(info.sectorCount, (places[i].second + s.file.size() + 2047) / 2048);
            EXPECT_EQ(info.durationMs, s.durationMs);
            EXPECT_EQ(info.dataBytes, s.file.size());
            checkPlayback(StreamPtr(LbrOpenStream(plugin, nullptr, drive, &info, LBR_WANT_AUDIO)).get(), s);
        }
        EXPECT_EQ(found.size(), next) << plugin;
    }
    CdUnmountImage(drive);
}

TEST_F(StoredSound, HeaderLimitsAndUnitSizes)
{
    using namespace mediagen;
    const auto without = [](Bytes b, size_t at) {
        b[at] = 'X';
        return b;
    };
    const auto cut = [](Bytes b, size_t bytes) {
        b.resize(b.size() - bytes);
        return b;
    };
    const Bytes silence(10240, 0);
    const struct
    {
        const char* name;
        const char* plugin;
        Bytes file;
        bool accepted;
        uint32_t durationMs = 0;
        uint8_t kind = 0;        // of the units; 0: no unit
        uint32_t unitBytes = 0;  // payload of the first
        uint32_t totalBytes = 0; // of all
    } rows[] = {
        {"Marl1000ms", kMarl, marlsoundFile(44100, 2, 1575, 0, Bytes(1575 * 32)), true, 1000, 0x21, 4096,
         50400},
        {"MarlMonoUnit", kMarl, marlsoundFile(22050, 1, 300, 8192, Bytes(300 * 16)), true, 380, 0x21, 4096,
         4800},
        {"MarlLastGroups", kMarl, marlsoundFile(48000, 2, 5, 0, Bytes(160)), true, 2, 0x21, 160, 160},
        {"Marl8Bits", kMarl, marlsoundFile(44100, 2, 10, 0, Bytes(320), 8), false},
        {"Marl11025Hz", kMarl, marlsoundFile(11025, 2, 10, 0, Bytes(320)), false},
        {"Marl48001Hz", kMarl, marlsoundFile(48001, 2, 10, 0, Bytes(320)), false},
        {"MarlThreeChannels", kMarl, marlsoundFile(44100, 3, 10, 0, Bytes(480)), false},
        {"MarlNoBlocks", kMarl, marlsoundFile(44100, 1, 0, 0, Bytes(16)), false},
        {"MarlTooManyBlocks", kMarl, marlsoundFile(44100, 1, 800001, 0, Bytes(16)), false},
        {"MarlOffset8193", kMarl, marlsoundFile(44100, 1, 1, 8193, Bytes(16)), false},
        {"MarlFileShort", kMarl, marlsoundFile(44100, 1, 10, 0, Bytes(159)), false},
        {"SsMono2048", kDusk, ss2File(16, 44100, 1, 2048, silence), true, 406, 0x28, 8192, 10240},
        {"SsStereoPcm8192", kDusk, ss2File(1, 44100, 2, 8192, Bytes(32768)), true, 185, 0, 0, 0},
        {"SsInterleave24", kDusk, ss2File(16, 44100, 1, 24, silence), false},
        {"SsInterleave8", kDusk, ss2File(1, 44100, 1, 8, silence), false},
        {"SsInterleave2^19", kDusk, ss2File(1, 44100, 1, 524288, silence), false},
        {"SsHeader23", kDusk, ss2File(16, 44100, 1, 16, silence, 23), false},
        {"SsHeader24001", kDusk, ss2File(16, 44100, 1, 16, silence, 24001), false},
        {"SsType2", kDusk, ss2File(2, 44100, 1, 16, silence), false},
        {"SsNoChannels", kDusk, ss2File(16, 44100, 0, 16, silence), false},
        {"SsNoHeaderTag", kDusk, without(ss2File(16, 44100, 1, 16, silence), 0), false},
        {"SsNoDataTag", kDusk, without(ss2File(16, 44100, 1, 16, silence), 32), false},
        // Any rate is allowed: a rate of 0 plays, with no play time.
        {"SsRate0", kDusk, ss2File(1, 0, 2, 16, silence), true, 0, 0x61, 8192, 10240},
        // A file cut short plays the whole groups it holds, the last unit shorter.
        {"SsCutShort", kDusk, cut(ss2File(1, 8000, 1, 2048, Bytes(16384)), 1024), true, 1024, 0x68, 8192,
         14336},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = write(row.name, row.file);
        PluginBinding* binding = LbrOpenPSR(row.plugin);
        ASSERT_NE(binding, nullptr);
        StrInfo info{};
        EXPECT_EQ(LbrIsSupportFile(binding, path.c_str()), row.accepted ? 1 : 0);
        EXPECT_EQ(LbrGetStrFileInfo(binding, path.c_str(), &info), row.accepted ? 1 : 0);
        LbrClosePSR(binding);
        if (!row.accepted)
            continue;
        EXPECT_EQ(info.durationMs, row.durationMs);
        StreamPtr stream(LbrOpenStream(row.plugin, path.c_str(), 0, &info, LBR_WANT_AUDIO));
        ASSERT_TRUE(stream);
        const std::vector<Unit> units = readUnits(stream.get(), nullptr);
        ASSERT_EQ(units.empty(), row.kind == 0);
        size_t total = 0;
        for (const Unit& u : units) {
            EXPECT_EQ(u.kind, row.kind);
            total += u.payload.size();
        }
        if (row.kind) {
            EXPECT_EQ(units[0].payload.size(), row.unitBytes);
        }
        EXPECT_EQ(total, row.totalBytes);
    }
}

} // namespace
