// The Trackaudio plugin on a mounted disc image (one data track, two audio tracks with known
// samples), driven through libstreamkit as the application drives it: the probe relays with the
// image's track table, a disc stream opened by the host, units read and decoded by the host.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../support/scratch_folder.h"
#include "discport/discport.h"
#include "streamkit/lbr.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kRaw = 2352;
constexpr uint32_t kUnitBytes = 4 * kRaw;
constexpr size_t kRecordBytes = PSR_READ_HEADER_BYTES + kUnitBytes;
constexpr uint32_t kDataSectors = 30;
constexpr uint32_t kFirstAudioSectors = 4501; // last unit holds one sector
constexpr uint32_t kSecondAudioSectors = 4500; // one minute
// Stored silence (INDEX 00) before each audio track, as on a pressed disc; the track table ends
// every track but the last this many sectors before the next one starts.
constexpr uint32_t kGap = 150;

// The stereo sample pair n of audio track `track` (1 or 2), as it is stored: left then right,
// 16-bit little-endian.
void putSamples(uint8_t* at, uint32_t track, uint32_t n)
{
    const uint16_t left = uint16_t(n * 7u + track * 0x3001u);
    const uint16_t right = uint16_t((n * 13u) ^ (track << 14) ^ 0x5A5Au);
    at[0] = uint8_t(left);
    at[1] = uint8_t(left >> 8);
    at[2] = uint8_t(right);
    at[3] = uint8_t(right >> 8);
}

std::string msf(uint32_t lba)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", lba / 4500, lba / 75 % 60, lba % 75);
    return text;
}

uint8_t bcd(uint32_t value)
{
    return uint8_t((value / 10) << 4 | (value % 10));
}

struct Disc
{
    testsupport::ScratchFolder folder{"trackaudio"};
    fs::path cue;
    fs::path bin;
    std::vector<uint8_t> bytes;
    uint32_t audioStart[2] = {kDataSectors + kGap, kDataSectors + kGap + kFirstAudioSectors + kGap};
    uint32_t audioSectors[2] = {kFirstAudioSectors, kSecondAudioSectors};

    const uint8_t* raw(uint32_t lba) const { return bytes.data() + size_t(lba) * kRaw; }

    Disc()
    {
        cue = folder.path() / "disc.cue";
        bin = folder.path() / "disc.bin";
        const uint32_t total = audioStart[1] + kSecondAudioSectors;
        bytes.assign(size_t(total) * kRaw, 0);
        for (uint32_t lba = 0; lba < kDataSectors; ++lba) {
            uint8_t* s = bytes.data() + size_t(lba) * kRaw;
            std::memset(s + 1, 0xFF, 10);
            const uint32_t address = lba + 150;
            s[12] = bcd(address / 4500);
            s[13] = bcd(address / 75 % 60);
            s[14] = bcd(address % 75);
            s[15] = 2;
            s[18] = s[22] = 0x08;
            for (uint32_t i = 24; i < kRaw; ++i)
                s[i] = uint8_t(lba * 31 + i);
        }
        for (uint32_t t = 0; t < 2; ++t) {
            for (uint32_t k = 0; k < audioSectors[t]; ++k) {
                uint8_t* s = bytes.data() + size_t(audioStart[t] + k) * kRaw;
                for (uint32_t j = 0; j < kRaw / 4; ++j)
                    putSamples(s + 4 * j, t + 1, k * (kRaw / 4) + j);
            }
        }
        std::ofstream(bin, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        std::ofstream(cue) << "FILE \"disc.bin\" BINARY\n"
                           << "  TRACK 01 MODE2/2352\n    INDEX 01 00:00:00\n"
                           << "  TRACK 02 AUDIO\n    INDEX 00 " << msf(audioStart[0] - kGap) << "\n"
                           << "    INDEX 01 " << msf(audioStart[0]) << "\n"
                           << "  TRACK 03 AUDIO\n    INDEX 00 " << msf(audioStart[1] - kGap) << "\n"
                           << "    INDEX 01 " << msf(audioStart[1]) << "\n";
    }
};

class RecordBuffer
{
  public:
    RecordBuffer() : m_bytes(kRecordBytes) {}
    PsrReadRecord* get() { return reinterpret_cast<PsrReadRecord*>(m_bytes.data()); }

  private:
    std::vector<uint8_t> m_bytes;
};

class Trackaudio : public testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_disc.folder.made());
        m_drive = CdMountImage(m_disc.cue.c_str());
        ASSERT_GE(m_drive, 0) << CdImageError();
        m_binding = LbrOpenPSR("Trackaudio.psr");
        ASSERT_NE(m_binding, nullptr);
    }
    void TearDown() override
    {
        if (m_binding)
            LbrClosePSR(m_binding);
        if (m_drive >= 0)
            CdUnmountImage(m_drive);
    }

    // The streams the plugin reports for the image's track table.
    std::vector<StrInfo> results()
    {
        CdTocEntry toc[100] = {};
        const int32_t tracks = CdReadToc(m_drive, 100, toc);
        EXPECT_EQ(tracks, 3);
        void* context = LbrIsSupportCDBegin(m_binding, tracks, toc);
        std::vector<StrInfo> found;
        if (!context)
            return found;
        const int32_t count = LbrIsSupportCDResult(m_binding, context, 0, nullptr);
        for (int32_t i = 0; i < count; ++i) {
            StrInfo info = {};
            EXPECT_EQ(LbrIsSupportCDResult(m_binding, context, i, &info), count);
            found.push_back(info);
        }
        LbrIsSupportCDEnd(m_binding, context);
        return found;
    }

    StreamState* open(uint32_t track)
    {
        m_info = StrInfo{};
        EXPECT_EQ(LbrGetStrDataInfo(m_binding, m_drive, m_disc.audioStart[track], m_disc.audioSectors[track],
                                    &m_info),
                  1);
        return LbrOpenStream("Trackaudio.psr", nullptr, m_drive, &m_info, LBR_WANT_AUDIO);
    }

    Disc m_disc;
    int32_t m_drive = -1;
    PluginBinding* m_binding = nullptr;
    StrInfo m_info = {};
};

TEST_F(Trackaudio, ReportsEachAudioTrackOfTheImage)
{
    const std::vector<StrInfo> found = results();
    ASSERT_EQ(found.size(), 2u);
    for (uint32_t t = 0; t < 2; ++t) {
        SCOPED_TRACE(t);
        const StrInfo& info = found[t];
        EXPECT_EQ(info.kind, StrAudio);
        EXPECT_EQ(info.startSector, m_disc.audioStart[t]);
        EXPECT_EQ(info.sectorCount, m_disc.audioSectors[t]);
        EXPECT_EQ(info.durationMs, m_disc.audioSectors[t] * 1000 / 75);
        EXPECT_EQ(info.dataBytes, m_disc.audioSectors[t] * kRaw);
        EXPECT_EQ(info.audioFormat, 1);
        EXPECT_EQ(info.channels, 2);
        EXPECT_EQ(info.bitsPerSample, 16);
        EXPECT_EQ(info.sampleRate, 44100u);
        EXPECT_EQ(info.frameCount, 0u);
        EXPECT_EQ(info.width, 0u);
    }
    EXPECT_EQ(found[1].durationMs, 60000u);
    EXPECT_EQ(found[1].dataBytes, 10584000u);
}

TEST_F(Trackaudio, ProbeRulesOnTrackTables)
{
    // Twenty audio tracks behind a data track: twenty streams in table order.
    CdTocEntry toc[21] = {};
    toc[0] = {1, 0x04, {0, 0}, 0, 1000};
    for (uint32_t i = 1; i < 21; ++i)
        toc[i] = {uint8_t(i + 1), 0x00, {0, 0}, 1000 + i * 100, 90 + i};
    void* context = LbrIsSupportCDBegin(m_binding, 21, toc);
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(LbrIsSupportCDSector(m_binding, context, toc[0], 16, m_disc.raw(16)), 0);
    ASSERT_EQ(LbrIsSupportCDResult(m_binding, context, 0, nullptr), 20);
    for (int32_t i = 0; i < 20; ++i) {
        StrInfo info = {};
        ASSERT_EQ(LbrIsSupportCDResult(m_binding, context, i, &info), 20);
        EXPECT_EQ(info.startSector, 1000u + uint32_t(i + 1) * 100);
        EXPECT_EQ(info.sectorCount, 90u + uint32_t(i + 1));
    }
    StrInfo untouched;
    std::memset(&untouched, 0xCD, sizeof untouched);
    EXPECT_EQ(LbrIsSupportCDResult(m_binding, context, 20, &untouched), -1);
    EXPECT_EQ(untouched.kind, 0xCDCD);
    EXPECT_EQ(LbrIsSupportCDResult(m_binding, context, -1, &untouched), -1);
    LbrIsSupportCDEnd(m_binding, context);

    // Nothing for a data-only table, an empty one or a negative count.
    EXPECT_EQ(LbrIsSupportCDBegin(m_binding, 1, toc), nullptr);
    EXPECT_EQ(LbrIsSupportCDBegin(m_binding, 0, toc), nullptr);
    EXPECT_EQ(LbrIsSupportCDBegin(m_binding, -3, toc), nullptr);
    // A data track among audio tracks is left out, wherever it stands.
    CdTocEntry mixed[3] = {toc[1], toc[0], toc[2]};
    context = LbrIsSupportCDBegin(m_binding, 3, mixed);
    ASSERT_NE(context, nullptr);
    StrInfo info = {};
    EXPECT_EQ(LbrIsSupportCDResult(m_binding, context, 1, &info), 2);
    EXPECT_EQ(info.startSector, toc[2].start);
    LbrIsSupportCDEnd(m_binding, context);
}

TEST_F(Trackaudio, DataAreaDescription)
{
    StrInfo info;
    std::memset(&info, 0xEE, sizeof info);
    ASSERT_EQ(LbrGetStrDataInfo(m_binding, m_drive, 100, 4501, &info), 1);
    EXPECT_EQ(info.kind, StrAudio);
    EXPECT_EQ(info.startSector, 100u);
    EXPECT_EQ(info.sectorCount, 4501u);
    EXPECT_EQ(info.durationMs, 60013u);
    EXPECT_EQ(info.dataBytes, 4501u * kRaw);
    EXPECT_EQ(info.outWidth, 0u);
    EXPECT_EQ(info.reserved, 0);
}

// Every track read whole, in units of four sectors, equals the image; the host's decoder call
// hands the same bytes back.
TEST_F(Trackaudio, ReadsTheImageSamplesInUnitsOfFourSectors)
{
    for (uint32_t t = 0; t < 2; ++t) {
        SCOPED_TRACE(t);
        StreamState* stream = open(t);
        ASSERT_NE(stream, nullptr);
        RecordBuffer record;
        std::vector<uint8_t> pcm(kUnitBytes + 64);
        uint32_t units = 0;
        uint32_t sector = 0;
        while (LbrReadStream(stream, 0, record.get()) == 1) {
            const PsrReadRecord* r = record.get();
            const uint32_t expected = std::min<uint32_t>(4, m_disc.audioSectors[t] - sector);
            ASSERT_EQ(r->payloadBytes, expected * kRaw) << "unit " << units;
            ASSERT_EQ(r->frameNumber, 0u);
            ASSERT_EQ(0, std::memcmp(r->payload, m_disc.raw(m_disc.audioStart[t] + sector), r->payloadBytes))
                << "unit " << units;
            std::memset(pcm.data(), 0xA5, pcm.size());
            ASSERT_EQ(LbrDecodeAudio(stream, record.get(), pcm.data(), int32_t(pcm.size())),
                      int32_t(r->payloadBytes));
            ASSERT_EQ(0, std::memcmp(pcm.data(), r->payload, r->payloadBytes));
            ASSERT_EQ(pcm[r->payloadBytes], 0xA5);
            sector += expected;
            ++units;
        }
        EXPECT_EQ(sector, m_disc.audioSectors[t]);
        EXPECT_EQ(units, (m_disc.audioSectors[t] + 3) / 4);
        LbrCloseStream(stream);
    }
}

TEST_F(Trackaudio, SeekLandsOnTheSector)
{
    StreamState* stream = open(1);
    ASSERT_NE(stream, nullptr);
    RecordBuffer record;
    struct Case
    {
        uint32_t ms;
        uint32_t sector;
    };
    for (const Case c : {Case{30000, 2250}, Case{1000, 75}, Case{13, 0}, Case{40, 3}, Case{0, 0}}) {
        SCOPED_TRACE(c.ms);
        ASSERT_EQ(LbrSeekStream(stream, c.ms), 1);
        ASSERT_EQ(LbrReadStream(stream, 0, record.get()), 1);
        ASSERT_EQ(record.get()->payloadBytes, kUnitBytes);
        EXPECT_EQ(0, std::memcmp(record.get()->payload, m_disc.raw(m_disc.audioStart[1] + c.sector), kUnitBytes));
    }
    // After 30000 ms, 2250 sectors are left: 562 units of four and one of two.
    ASSERT_EQ(LbrSeekStream(stream, 30000), 1);
    uint32_t sectors = 0;
    while (LbrReadStream(stream, 0, record.get()) == 1)
        sectors += record.get()->payloadBytes / kRaw;
    EXPECT_EQ(sectors, 2250u);
    // A position past the end leaves nothing to read.
    ASSERT_EQ(LbrSeekStream(stream, 70000), 1);
    EXPECT_EQ(LbrReadStream(stream, 0, record.get()), 0);
    LbrCloseStream(stream);
}

// Sectors that cannot be read (the image file shrank after mounting) come as silence, counted.
TEST_F(Trackaudio, UnreadableSectorsAreSilence)
{
    // The last 3 sectors of the second track are cut off the file.
    const uint32_t total = m_disc.audioStart[1] + m_disc.audioSectors[1];
    fs::resize_file(m_disc.bin, uintmax_t(total - 3) * kRaw);
    StreamState* stream = open(1);
    ASSERT_NE(stream, nullptr);
    RecordBuffer record;
    // 4500 sectors: the last unit holds sectors 4496 to 4499; 4497 to 4499 fail. Units of sound
    // come first, so that the buffers the plugin writes into do not hold zeros already.
    ASSERT_EQ(LbrSeekStream(stream, 4400 * 1000 / 75 + 1), 1);
    for (uint32_t sector = 4400; sector < 4496; sector += 4) {
        ASSERT_EQ(LbrReadStream(stream, 0, record.get()), 1);
        ASSERT_EQ(0, std::memcmp(record.get()->payload, m_disc.raw(m_disc.audioStart[1] + sector), kUnitBytes));
    }
    ASSERT_EQ(LbrReadStream(stream, 0, record.get()), 1);
    const PsrReadRecord* r = record.get();
    ASSERT_EQ(r->payloadBytes, kUnitBytes);
    EXPECT_EQ(0, std::memcmp(r->payload, m_disc.raw(m_disc.audioStart[1] + 4496), kRaw));
    const std::vector<uint8_t> silence(3 * kRaw, 0);
    EXPECT_EQ(0, std::memcmp(r->payload + kRaw, silence.data(), silence.size()));
    EXPECT_EQ(LbrReadStream(stream, 0, record.get()), 0);
    LbrCloseStream(stream);
}

// The plugin's decoding hook itself: a payload that does not fit is not written and not counted.
TEST_F(Trackaudio, DecodeHookRefusesTooSmallOutput)
{
    using DecodeAudio = int32_t (*)(PsrReadRecord*, uint8_t*, int32_t);
    auto decode = reinterpret_cast<DecodeAudio>(dlsym(LbrGetPluginInst(m_binding), "PsrDecodeAudio"));
    ASSERT_NE(decode, nullptr);
    RecordBuffer record;
    PsrReadRecord* r = record.get();
    r->payloadBytes = 2 * kRaw;
    for (uint32_t i = 0; i < r->payloadBytes; ++i)
        r->payload[i] = uint8_t(i * 3 + 1);
    std::vector<uint8_t> out(2 * kRaw, 0x77);
    EXPECT_EQ(decode(r, out.data(), int32_t(2 * kRaw - 1)), 0);
    EXPECT_EQ(out, std::vector<uint8_t>(2 * kRaw, 0x77));
    EXPECT_EQ(decode(r, out.data(), -1), 0);
    EXPECT_EQ(decode(nullptr, out.data(), 100), 0);
    EXPECT_EQ(decode(r, nullptr, 100000), 0);
    ASSERT_EQ(decode(r, out.data(), int32_t(2 * kRaw)), int32_t(2 * kRaw));
    EXPECT_EQ(0, std::memcmp(out.data(), r->payload, 2 * kRaw));

    // Through the host, on a unit of the disc: too little room gives 0 and writes nothing.
    StreamState* stream = open(0);
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(LbrReadStream(stream, 0, r), 1);
    ASSERT_EQ(r->payloadBytes, kUnitBytes);
    std::vector<uint8_t> small(kUnitBytes - 4, 0x77);
    EXPECT_EQ(LbrDecodeAudio(stream, r, small.data(), int32_t(small.size())), 0);
    EXPECT_EQ(small, std::vector<uint8_t>(kUnitBytes - 4, 0x77));
    LbrCloseStream(stream);
}

// Null contexts, bad drives and handles are in the contract battery; an empty area is described
// (the description reads nothing) but cannot be opened.
TEST_F(Trackaudio, AnEmptyAreaIsDescribedButNotOpened)
{
    StrInfo empty = {};
    ASSERT_EQ(LbrGetStrDataInfo(m_binding, m_drive, m_disc.audioStart[0], 0, &empty), 1);
    EXPECT_EQ(empty.durationMs, 0u);
    EXPECT_EQ(LbrOpenStream("Trackaudio.psr", nullptr, m_drive, &empty, LBR_WANT_AUDIO), nullptr);
}

} // namespace
