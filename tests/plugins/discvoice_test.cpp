// The Discvoice plugin on disc images built by disc_builder.h, mounted and read through the sector
// reader, driven through libstreamkit as the application drives it: the probe fed as the disc
// analysis feeds it (every sector of each data track, then the final call with a null sector),
// areas described, streams opened, read, decoded by the host and seeked. The probe's distance
// rules are also checked on sectors fed directly with chosen sector numbers.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "disc_builder.h"
#include "disc_probe.h"
#include "discport/discport.h"
#include "sectorkit/xa_sound.h"
#include "streamkit/lbr.h"

namespace fs = std::filesystem;
using discbuild::DiscBuilder;
using discbuild::Image;
using discbuild::Sector;

namespace {

constexpr uint32_t kXaBytes = 2304;
constexpr size_t kRecordBytes = PSR_READ_HEADER_BYTES + kXaBytes;
constexpr uint8_t kStereo37800 = 0x01;
constexpr uint8_t kMono18900 = 0x04;
constexpr CdTocEntry kDataTrack = {1, 0x04, {0, 0}, 0, 400000};

// ---- expectations computed the plugin's way -------------------------------------------------

uint32_t perSecondUnits(uint8_t coding)
{
    const uint32_t rate = (coding & 0x04) ? 18900 : 37800;
    const uint32_t channels = (coding & 0x01) ? 2 : 1;
    return rate / 100 * channels;
}

uint32_t msOf(uint32_t sectors, uint8_t coding)
{
    return uint32_t(uint64_t(sectors) * 40320 / perSecondUnits(coding));
}

// One stream as the probe reports it.
struct Expected
{
    uint32_t start;
    uint32_t soundSectors;
    uint32_t stride;
    uint8_t coding;
};

void expectStream(const StrInfo& info, const Expected& e)
{
    EXPECT_EQ(info.kind, StrAudio);
    EXPECT_EQ(info.startSector, e.start);
    EXPECT_EQ(info.sectorCount, e.stride * (e.soundSectors - 1) + 1);
    EXPECT_EQ(info.durationMs, msOf(e.soundSectors, e.coding));
    EXPECT_EQ(info.dataBytes, e.soundSectors * kXaBytes);
    EXPECT_EQ(info.audioFormat, 1);
    EXPECT_EQ(info.bitsPerSample, 16);
    EXPECT_EQ(info.channels, (e.coding & 0x01) ? 2 : 1);
    EXPECT_EQ(info.sampleRate, (e.coding & 0x04) ? 18900u : 37800u);
    EXPECT_EQ(info.frameCount, 0u);
    EXPECT_EQ(info.width, 0u);
    EXPECT_EQ(info.reserved, 0);
}

// ---- sectors --------------------------------------------------------------------------------

// A sound sector that is silent by the plugin's rule without being empty: every sound group has
// the quiet parameter words 0x0C0C0C0C and zero samples.
Sector quietSound(uint8_t file, uint8_t channel, uint8_t coding)
{
    Sector s{};
    discbuild::putSubHeader(s.data(), file, channel, 0x64, coding);
    for (uint32_t g = 0; g < discbuild::kSoundGroups; ++g)
        std::memset(s.data() + 24 + g * discbuild::kSoundGroupBytes, 0x0C, 16);
    return s;
}

// Fills every gap (all-zero sector) of the data track between `from` and `to` with foreign data
// sectors, so that the stale-stream rule sees sectors that are not sound.
void fillForeign(DiscBuilder& b, uint32_t from, uint32_t to)
{
    static const Sector gap{};
    for (uint32_t lba = from; lba < to && lba < b.next(); ++lba)
        if (b.at(lba) == gap)
            b.at(lba) = discbuild::foreignSector(7, lba);
}

std::vector<Sector> slice(const std::vector<Sector>& v, size_t first, size_t count)
{
    return {v.begin() + std::ptrdiff_t(first), v.begin() + std::ptrdiff_t(first + count)};
}

// ---- reference sound --------------------------------------------------------------------------

struct Wave
{
    uint32_t sampleRate = 0;
    uint16_t channels = 0;
    std::vector<int16_t> samples;
};

// The samples of a RIFF/WAVE file of 16-bit PCM; nothing when it is not one.
std::optional<Wave> readWave(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0 || std::memcmp(b.data() + 8, "WAVE", 4) != 0)
        return std::nullopt;
    Wave wave;
    bool format = false;
    for (size_t at = 12; at + 8 <= b.size();) {
        const uint32_t size = discbuild::get32(b.data() + at + 4);
        const size_t body = at + 8;
        if (size > b.size() - body)
            return std::nullopt;
        if (std::memcmp(b.data() + at, "fmt ", 4) == 0 && size >= 16) {
            wave.channels = discbuild::get16(b.data() + body + 2);
            wave.sampleRate = discbuild::get32(b.data() + body + 4);
            format = discbuild::get16(b.data() + body) == 1 && discbuild::get16(b.data() + body + 14) == 16;
        } else if (std::memcmp(b.data() + at, "data", 4) == 0) {
            for (size_t i = 0; i + 1 < size; i += 2)
                wave.samples.push_back(int16_t(discbuild::get16(b.data() + body + i)));
        }
        at = body + size + (size & 1);
    }
    if (!format)
        return std::nullopt;
    return wave;
}

// ---- the plugin -------------------------------------------------------------------------------

class RecordBuffer
{
  public:
    RecordBuffer() : m_bytes(kRecordBytes) {}
    PsrReadRecord* get() { return reinterpret_cast<PsrReadRecord*>(m_bytes.data()); }

  private:
    std::vector<uint8_t> m_bytes;
};

// The payloads and the decoded PCM of every unit of a stream, from where it stands.
struct Played
{
    std::vector<std::vector<uint8_t>> units;
    std::vector<int16_t> pcm;
    uint32_t failedDecodes = 0;
};

Played play(StreamState* stream, uint32_t limit = 100000)
{
    Played out;
    RecordBuffer record;
    std::vector<uint8_t> pcm(4 * 4032 + 64);
    while (out.units.size() < limit && LbrReadStream(stream, 0, record.get()) == 1) {
        const PsrReadRecord* r = record.get();
        EXPECT_EQ(r->frameNumber, 0u);
        out.units.emplace_back(r->payload, r->payload + r->payloadBytes);
        const int32_t written = LbrDecodeAudio(stream, record.get(), pcm.data(), int32_t(pcm.size()));
        if (written <= 0) {
            ++out.failedDecodes;
            continue;
        }
        for (int32_t i = 0; i + 1 < written; i += 2)
            out.pcm.push_back(int16_t(discbuild::get16(pcm.data() + i)));
    }
    return out;
}

class Discvoice : public testing::Test
{
  protected:
    void SetUp() override
    {
        m_binding = LbrOpenPSR("Discvoice.psr");
        ASSERT_NE(m_binding, nullptr);
    }
    void TearDown() override
    {
        if (m_drive >= 0)
            CdUnmountImage(m_drive);
        if (m_binding)
            LbrClosePSR(m_binding);
    }

    template <typename F> F plugin(const char* name)
    {
        return reinterpret_cast<F>(dlsym(LbrGetPluginInst(m_binding), name));
    }

    void mount(const std::string& cue)
    {
        ASSERT_LT(m_drive, 0);
        m_drive = CdMountImage(cue.c_str());
        ASSERT_GE(m_drive, 0) << CdImageError();
    }

    std::unique_ptr<Image> mountBuilt(const DiscBuilder& b)
    {
        auto image = b.write();
        EXPECT_NE(image, nullptr);
        if (image)
            mount(image->cue);
        return image;
    }

    // The streams found on the mounted disc, fed as the analysis feeds them.
    std::vector<StrInfo> scanDisc(bool finalCall = true)
    {
        return discprobe::probeDisc(m_binding, m_drive, finalCall);
    }

    // Sectors fed directly with the sector numbers given, then the final call.
    std::vector<StrInfo> scanSectors(const std::vector<std::pair<uint32_t, Sector>>& sectors)
    {
        void* context = LbrIsSupportCDBegin(m_binding, 1, &kDataTrack);
        EXPECT_NE(context, nullptr);
        if (!context)
            return {};
        for (const auto& [lba, s] : sectors)
            EXPECT_EQ(LbrIsSupportCDSector(m_binding, context, kDataTrack, lba, s.data()), 1);
        EXPECT_EQ(LbrIsSupportCDSector(m_binding, context, kDataTrack, 0, nullptr), 0);
        return results(context);
    }

    std::vector<StrInfo> results(void* context) { return discprobe::results(m_binding, context); }

    StreamState* open(StrInfo info)
    {
        m_info = info;
        return LbrOpenStream("Discvoice.psr", nullptr, m_drive, &m_info, LBR_WANT_AUDIO);
    }

    PluginBinding* m_binding = nullptr;
    int32_t m_drive = -1;
    StrInfo m_info = {};
};

// ---- probe ------------------------------------------------------------------------------------

// Channels 0 and 1 interleaved with a stride of 8 among foreign sectors, both ending with the
// end-of-file bit: two streams of 8 x (n - 1) + 1 sectors each.
TEST_F(Discvoice, InterleavedChannelsBecomeOneStreamEach)
{
    const auto xa = discbuild::loadXa("xa1_37800_stereo.xa");
    ASSERT_EQ(xa.size(), 75u);
    DiscBuilder b;
    b.addForeign(20);
    b.placeSound(slice(xa, 0, 10), 1, 0, 20, 8, true);
    b.placeSound(slice(xa, 10, 10), 1, 1, 21, 8, true);
    b.addForeign(30);
    fillForeign(b, 20, b.next());
    auto image = mountBuilt(b);
    ASSERT_TRUE(image);

    const auto found = scanDisc();
    ASSERT_EQ(found.size(), 2u);
    expectStream(found[0], {20, 10, 8, kStereo37800});
    expectStream(found[1], {21, 10, 8, kStereo37800});
    EXPECT_EQ(found[0].sectorCount, 73u);
    EXPECT_EQ(found[0].durationMs, 533u);
    EXPECT_EQ(found[0].dataBytes, 23040u);
}

// File and channel numbers at both ends of their bytes, interleaved with a stride of 4: every
// file-and-channel word keeps its own stream, the highest as the lowest.
TEST_F(Discvoice, StreamsOfExtremeFileAndChannelNumbers)
{
    const auto xa = discbuild::loadXa("xa1_37800_stereo.xa");
    const uint8_t words[][2] = {{0, 0}, {0, 0xFF}, {0xFF, 0}, {0xFF, 0xFF}};
    DiscBuilder b;
    b.addForeign(20);
    for (uint32_t w = 0; w < 4; ++w)
        b.placeSound(slice(xa, 10 * w, 10), words[w][0], words[w][1], 20 + w, 4, true);
    b.addForeign(30);
    fillForeign(b, 20, b.next());
    auto image = mountBuilt(b);
    ASSERT_TRUE(image);

    const auto found = scanDisc();
    ASSERT_EQ(found.size(), 4u);
    for (uint32_t w = 0; w < 4; ++w) {
        SCOPED_TRACE(w);
        expectStream(found[w], {20 + w, 10, 4, kStereo37800});
    }
}

// A change of coding on a channel ends its stream and starts another; sectors with nothing in
// their first 32 sound bytes are passed over, even with the end-of-file bit.
TEST_F(Discvoice, CodingChangeSplitsTheStreamAndEmptySectorsAreIgnored)
{
    const auto stereo = discbuild::loadXa("xa1_37800_stereo.xa");
    const auto mono = discbuild::loadXa("xa2_18900_mono.xa");
    ASSERT_EQ(mono.size(), 15u);
    DiscBuilder b;
    b.addForeign(30);
    for (size_t i = 0; i < 6; ++i)
        b.addSound(stereo[i], 1, 0);
    Sector empty = discbuild::silentSound(1, 0, kStereo37800);
    empty[18] = empty[22] = 0xE4; // an end-of-file bit on an empty sector: ignored
    b.add(empty);
    for (size_t i = 0; i < 5; ++i)
        b.addSound(mono[i], 1, 0, i == 4);
    b.addForeign(4);
    auto image = mountBuilt(b);
    ASSERT_TRUE(image);

    const auto found = scanDisc();
    ASSERT_EQ(found.size(), 2u);
    expectStream(found[0], {30, 6, 1, kStereo37800});
    expectStream(found[1], {37, 5, 1, kMono18900});
    EXPECT_EQ(found[1].durationMs, 1066u);
}

// A stream whose sectors are all silent is removed when it closes, by its end-of-file bit or as a
// stale stream; the table's last record takes its place and is still found by its channel.
TEST_F(Discvoice, WhollySilentStreamsAreDropped)
{
    const auto xa = discbuild::loadXa("xa1_37800_stereo.xa");
    DiscBuilder b;
    b.addForeign(10);
    // Channel 2 silent and channel 3 sounding, alternating; channel 2 ends first.
    for (uint32_t i = 0; i < 6; ++i) {
        Sector quiet = quietSound(1, 2, kStereo37800);
        if (i == 5)
            quiet[18] = quiet[22] = 0xE4;
        b.add(quiet);
        b.addSound(xa[i], 1, 3);
    }
    for (uint32_t i = 6; i < 10; ++i)
        b.addSound(xa[i], 1, 3, i == 9);
    // Channel 4 silent, stride 2, ended by a foreign sector; channel 5 silent but for one sector.
    for (uint32_t i = 0; i < 4; ++i) {
        b.add(quietSound(1, 4, kStereo37800));
        if (i == 2)
            b.addSound(xa[20], 1, 5);
        else
            b.add(quietSound(1, 5, kStereo37800));
    }
    b.addForeign(3);
    auto image = mountBuilt(b);
    ASSERT_TRUE(image);

    const auto found = scanDisc();
    ASSERT_EQ(found.size(), 2u);
    expectStream(found[0], {11, 10, 2, kStereo37800});
    // 11, 13, ..., 21, then 22 to 25 one by one: the stride is taken from the second sector.
    EXPECT_EQ(found[0].sectorCount, 19u);
    expectStream(found[1], {27, 4, 2, kStereo37800});
}

// A channel of one sector is never closed by the stale rule (its stride is not known), so it is
// dropped at the end unless it carries the end-of-file bit; so is any stream still open.
TEST_F(Discvoice, SingleSectorsAndUnclosedStreams)
{
    const auto xa = discbuild::loadXa("xa1_37800_stereo.xa");
    DiscBuilder b;
    b.addForeign(10);
    b.addSound(xa[0], 1, 5); // 10: alone, no end-of-file bit
    b.addForeign(20);
    b.addSound(xa[1], 1, 6, true); // 31: alone, end-of-file bit
    b.addForeign(5);
    b.addSound(xa[2], 1, 7); // 37, 38: a stream at the end of the track, never closed
    b.addSound(xa[3], 1, 7);
    auto image = mountBuilt(b);
    ASSERT_TRUE(image);

    auto found = scanDisc();
    ASSERT_EQ(found.size(), 1u);
    expectStream(found[0], {31, 1, 1, kStereo37800});
    EXPECT_EQ(found[0].sectorCount, 1u);
    EXPECT_EQ(found[0].durationMs, 53u);
    EXPECT_EQ(found[0].dataBytes, 2304u);

    // Without the final call the open streams are still in the table.
    found = scanDisc(false);
    ASSERT_EQ(found.size(), 3u);
    expectStream(found[0], {10, 1, 1, kStereo37800});
    expectStream(found[1], {31, 1, 1, kStereo37800});
    expectStream(found[2], {37, 2, 1, kStereo37800});
}

// A sector that is not sound closes a stream only when it lies a whole stride or more after the
// stream's last sector.
TEST_F(Discvoice, StaleStreamsCloseOneStrideOn)
{
    const auto xa = discbuild::loadXa("xa1_37800_stereo.xa");
    DiscBuilder b;
    b.addForeign(10);
    // Sound every 4 sectors from 10 to 26, foreign sectors in between: the stream goes on.
    b.placeSound(slice(xa, 0, 5), 1, 0, 10, 4);
    b.addForeign(4);               // 27 to 29 leave it open, 30 closes it
    b.addSound(xa[5], 1, 0);       // 31: a new stream
    b.addGap(6);                   // empty sectors are no foreign sectors
    b.addSound(xa[6], 1, 0, true); // 38
    fillForeign(b, 10, 27);
    auto image = mountBuilt(b);
    ASSERT_TRUE(image);

    const auto found = scanDisc();
    ASSERT_EQ(found.size(), 2u);
    expectStream(found[0], {10, 5, 4, kStereo37800});
    EXPECT_EQ(found[0].sectorCount, 17u);
    expectStream(found[1], {31, 2, 7, kStereo37800});
}

// Distances are taken as 16 bits: a foreign sector 65536 sectors on is no distance at all, and
// the stride of a second sector 65539 sectors on is 3.
TEST_F(Discvoice, DistancesAreSixteenBits)
{
    const auto xa = discbuild::loadXa("xa1_37800_stereo.xa");
    auto sound = [&](size_t i, uint8_t channel, bool eof = false) {
        Sector s = xa[i];
        discbuild::putSubHeader(s.data(), 1, channel, eof ? 0xE4 : 0x64, kStereo37800);
        return s;
    };
    const Sector foreign = discbuild::foreignSector(3, 0);
    // Last sector 102, stride 2: 102 + 65536 is at distance 0, + 65537 at 1; neither closes.
    auto found = scanSectors({{100, sound(0, 0)}, {102, sound(1, 0)}, {65638, foreign}, {65639, foreign}});
    EXPECT_TRUE(found.empty());
    // 102 + 65538 is at distance 2: closed, kept.
    found = scanSectors({{100, sound(0, 0)}, {102, sound(1, 0)}, {65640, foreign}});
    ASSERT_EQ(found.size(), 1u);
    expectStream(found[0], {100, 2, 2, kStereo37800});
    // The second sector 65539 sectors after the first: stride 3.
    found = scanSectors({{100, sound(0, 1)}, {65639, sound(1, 1)}, {65640, sound(2, 1, true)}});
    ASSERT_EQ(found.size(), 1u);
    expectStream(found[0], {100, 3, 3, kStereo37800});
}

// The record table starts with room for 64 and grows by 16; every stream keeps its place.
TEST_F(Discvoice, ManyStreamsGrowTheTable)
{
    const auto xa = discbuild::loadXa("xa1_37800_stereo.xa");
    std::vector<std::pair<uint32_t, Sector>> sectors;
    for (uint32_t i = 0; i < 150; ++i) {
        Sector s = xa[i % 75];
        discbuild::putSubHeader(s.data(), uint8_t(i / 32), uint8_t(i % 32), 0xE4, kStereo37800);
        sectors.emplace_back(1000 + i, s);
    }
    const auto found = scanSectors(sectors);
    ASSERT_EQ(found.size(), 150u);
    for (uint32_t i = 0; i < 150; ++i) {
        SCOPED_TRACE(i);
        expectStream(found[i], {1000 + i, 1, 1, kStereo37800});
    }
}

TEST_F(Discvoice, ProbeGuards)
{
    using Sector_ = int32_t (*)(void*, CdTocEntry, uint32_t, const uint8_t*);
    using Result = int32_t (*)(void*, int32_t, StrInfo*);
    auto sectorCall = plugin<Sector_>("PsrIsSupportCDSector");
    auto resultCall = plugin<Result>("PsrIsSupportCDResult");
    ASSERT_NE(sectorCall, nullptr);
    ASSERT_NE(resultCall, nullptr);
    const auto xa = discbuild::loadXa("xa1_37800_stereo.xa");
    Sector s = xa[0];
    discbuild::putSubHeader(s.data(), 1, 0, 0xE4, kStereo37800);

    // No data track: nothing to look for (empty tables and null contexts: the contract battery).
    CdTocEntry audioOnly[2] = {{1, 0x00, {0, 0}, 0, 1000}, {2, 0x00, {0, 0}, 1000, 1000}};
    EXPECT_EQ(LbrIsSupportCDBegin(m_binding, 2, audioOnly), nullptr);

    CdTocEntry mixed[2] = {audioOnly[0], kDataTrack};
    void* context = LbrIsSupportCDBegin(m_binding, 2, mixed);
    ASSERT_NE(context, nullptr);
    // A sector of an audio track is refused and not looked at.
    EXPECT_EQ(sectorCall(context, audioOnly[0], 5, s.data()), 0);
    EXPECT_EQ(resultCall(context, 0, nullptr), 0);
    EXPECT_EQ(sectorCall(context, kDataTrack, 6, s.data()), 1);
    EXPECT_EQ(resultCall(context, 0, nullptr), 1);
    EXPECT_EQ(resultCall(context, 7, nullptr), 1); // the count alone, whatever the index
    StrInfo untouched;
    std::memset(&untouched, 0xCD, sizeof untouched);
    EXPECT_EQ(resultCall(context, 1, &untouched), -1);
    EXPECT_EQ(resultCall(context, -1, &untouched), -1);
    EXPECT_EQ(untouched.kind, 0xCDCD);
    StrInfo info;
    std::memset(&info, 0xCD, sizeof info);
    EXPECT_EQ(resultCall(context, 0, &info), 1);
    expectStream(info, {6, 1, 1, kStereo37800});
    EXPECT_EQ(info.outWidth, 0u); // cleared first
    // The final call may come more than once.
    EXPECT_EQ(sectorCall(context, kDataTrack, 0, nullptr), 0);
    EXPECT_EQ(sectorCall(context, kDataTrack, 0, nullptr), 0);
    EXPECT_EQ(resultCall(context, 0, nullptr), 1);
    LbrIsSupportCDEnd(m_binding, context);
}

// The silence rule of the probe: quiet or zero parameter words, zero samples, in all 18 groups.
TEST(XaSilence, EveryGroupMustBeQuiet)
{
    Sector s = quietSound(1, 0, kStereo37800);
    EXPECT_TRUE(sectorkit::isSilentXaSound(s.data(), s.size()));
    // Zero and quiet parameter words may be mixed.
    std::memset(s.data() + 24 + 5 * 128 + 4, 0, 8);
    EXPECT_TRUE(sectorkit::isSilentXaSound(s.data(), s.size()));
    // The 20 bytes after the groups are not looked at.
    s[24 + 2304 + 3] = 0x55;
    EXPECT_TRUE(sectorkit::isSilentXaSound(s.data(), s.size()));
    // Too short to hold the groups.
    EXPECT_FALSE(sectorkit::isSilentXaSound(s.data(), 24 + 2303));
    EXPECT_FALSE(sectorkit::isSilentXaSound(nullptr, s.size()));
    // One other parameter word, or one sample byte, in the last group.
    Sector word = s;
    word[24 + 17 * 128 + 12] = 0x0D;
    EXPECT_FALSE(sectorkit::isSilentXaSound(word.data(), word.size()));
    Sector sample = s;
    sample[24 + 17 * 128 + 127] = 1;
    EXPECT_FALSE(sectorkit::isSilentXaSound(sample.data(), sample.size()));
    // Real sound.
    const auto xa = discbuild::loadXa("xa1_37800_stereo.xa");
    ASSERT_FALSE(xa.empty());
    EXPECT_FALSE(sectorkit::isSilentXaSound(xa[10].data(), xa[10].size()));
}

// ---- area description -------------------------------------------------------------------------

TEST_F(Discvoice, DescribesAreas)
{
    const auto xa = discbuild::loadXa("xa1_37800_stereo.xa");
    const auto mono = discbuild::loadXa("xa2_18900_mono.xa");
    DiscBuilder b;
    b.addForeign(20);
    b.placeSound(slice(xa, 0, 10), 1, 0, 20, 8, true);
    b.placeSound(slice(xa, 10, 10), 1, 1, 21, 8, true);
    fillForeign(b, 20, b.next());
    b.addForeign(10);
    const uint32_t monoAt = b.add(slice(mono, 0, 3));
    b.addForeign(300);
    const uint32_t lonely = b.addSound(xa[30], 1, 9); // never repeated
    b.addForeign(300);
    const uint32_t far = b.addSound(xa[31], 1, 9); // 301 sectors after
    auto image = mountBuilt(b);
    ASSERT_TRUE(image);

    StrInfo info;
    std::memset(&info, 0xEE, sizeof info);
    ASSERT_EQ(LbrGetStrDataInfo(m_binding, m_drive, 20, 73, &info), 1);
    EXPECT_EQ(info.kind, StrAudio);
    EXPECT_EQ(info.startSector, 20u);
    EXPECT_EQ(info.sectorCount, 73u);
    EXPECT_EQ(info.durationMs, 10u * 40320 / 756); // (73 + 7) / 8 sectors
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.sampleRate, 37800u);
    EXPECT_EQ(info.audioFormat, 1);
    EXPECT_EQ(info.bitsPerSample, 16);
    EXPECT_EQ(info.dataBytes, 0u);
    EXPECT_EQ(info.reserved, 0);
    // Channel 1's area: the stride comes from its own next sector.
    ASSERT_EQ(LbrGetStrDataInfo(m_binding, m_drive, 21, 66, &info), 1);
    EXPECT_EQ(info.durationMs, 9u * 40320 / 756);
    // One sector: stride 1, the time of one sector.
    ASSERT_EQ(LbrGetStrDataInfo(m_binding, m_drive, monoAt, 1, &info), 1);
    EXPECT_EQ(info.durationMs, 213u);
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.sampleRate, 18900u);
    ASSERT_EQ(LbrGetStrDataInfo(m_binding, m_drive, monoAt, 3, &info), 1);
    EXPECT_EQ(info.durationMs, 3u * 213 + 1);
    // No second sector with the key within the area, or within its first 256 sectors.
    EXPECT_EQ(LbrGetStrDataInfo(m_binding, m_drive, lonely, 250, &info), 0);
    EXPECT_EQ(LbrGetStrDataInfo(m_binding, m_drive, lonely, far - lonely + 1, &info), 0);
    ASSERT_EQ(LbrGetStrDataInfo(m_binding, m_drive, far, 1, &info), 1);
    // Nothing to read.
    EXPECT_EQ(LbrGetStrDataInfo(m_binding, m_drive, 20, 0, &info), 0);
    EXPECT_EQ(LbrGetStrDataInfo(m_binding, m_drive, image->dataSectors + 5000, 10, &info), 0);
    EXPECT_EQ(LbrGetStrDataInfo(m_binding, m_drive + 9, 20, 73, &info), 0);
    using Describe = int32_t (*)(int32_t, uint32_t, uint32_t, StrInfo*);
    auto describe = plugin<Describe>("PsrGetStrDataInfo");
    ASSERT_NE(describe, nullptr);
    EXPECT_EQ(describe(m_drive, 20, 73, nullptr), 0);
}

// ---- playback ---------------------------------------------------------------------------------

// The XA1 file laid on the disc among foreign sectors plays as the independent decoder plays the
// file itself, sample for sample.
TEST_F(Discvoice, PlaysTheFileAsTheReferenceDecoder)
{
    const auto xa = discbuild::loadXa("xa1_37800_stereo.xa");
    ASSERT_EQ(xa.size(), 75u);
    DiscBuilder b;
    b.addForeign(25);
    const uint32_t first = b.add(xa);
    b.addForeign(25);
    auto image = mountBuilt(b);
    ASSERT_TRUE(image);

    const auto found = scanDisc();
    ASSERT_EQ(found.size(), 1u);
    expectStream(found[0], {first, 75, 1, kStereo37800});
    EXPECT_EQ(found[0].durationMs, 4000u);

    StreamState* stream = open(found[0]);
    ASSERT_NE(stream, nullptr);
    const Played played = play(stream);
    LbrCloseStream(stream);
    ASSERT_EQ(played.units.size(), 75u);
    EXPECT_EQ(played.failedDecodes, 0u);
    for (uint32_t i = 0; i < 75; ++i)
        ASSERT_EQ(0, std::memcmp(played.units[i].data(), image->raw(first + i) + 24, kXaBytes)) << i;

    const auto reference = readWave(fs::path(TAMRIN_TEST_DATA) / "references" / "xa1_37800_stereo.wav");
    ASSERT_TRUE(reference);
    ASSERT_EQ(reference->channels, 2);
    ASSERT_EQ(reference->samples.size(), 151200u * 2);
    ASSERT_EQ(played.pcm.size(), reference->samples.size());
    for (size_t i = 0; i < played.pcm.size(); ++i)
        ASSERT_EQ(played.pcm[i], reference->samples[i]) << "sample " << i;
}

// A channel of an interleaved area delivers its own sectors only, in order, and nothing past its
// end; the first and second sectors, held since the opening, come first.
TEST_F(Discvoice, ReadsOnlyItsOwnChannel)
{
    const auto xa = discbuild::loadXa("xa1_37800_stereo.xa");
    DiscBuilder b;
    b.addForeign(20);
    const auto zero = b.placeSound(slice(xa, 0, 12), 1, 0, 20, 8, true);
    const auto one = b.placeSound(slice(xa, 12, 12), 1, 1, 24, 8, true);
    b.placeSound(slice(xa, 24, 12), 2, 1, 22, 8, true); // file 2, same channel number
    fillForeign(b, 20, b.next());
    b.addForeign(20);
    auto image = mountBuilt(b);
    ASSERT_TRUE(image);

    const auto found = scanDisc();
    ASSERT_EQ(found.size(), 3u);
    expectStream(found[1], {22, 12, 8, kStereo37800});
    expectStream(found[2], {24, 12, 8, kStereo37800});

    for (const auto& [info, lbas] : {std::pair{found[0], zero}, std::pair{found[2], one}}) {
        StreamState* stream = open(info);
        ASSERT_NE(stream, nullptr);
        const Played played = play(stream);
        LbrCloseStream(stream);
        ASSERT_EQ(played.units.size(), lbas.size());
        for (size_t i = 0; i < lbas.size(); ++i)
            EXPECT_EQ(0, std::memcmp(played.units[i].data(), image->raw(lbas[i]) + 24, kXaBytes)) << i;
        EXPECT_EQ(played.pcm.size(), lbas.size() * 4032);
    }

    // A stream that is described as longer than the disc holds ends with the disc's last sector.
    StrInfo longer = found[2];
    longer.sectorCount = image->dataSectors - longer.startSector + 400;
    StreamState* stream = open(longer);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(play(stream).units.size(), 12u);
    LbrCloseStream(stream);
}

// Seeking: sector = (rate / 100) x (ms / 10) / (4032 / channels) x stride from the start, at most
// the stream's sector count.
TEST_F(Discvoice, SeeksByTheSectorFormula)
{
    const auto xa = discbuild::loadXa("xa1_37800_stereo.xa");
    const auto mono = discbuild::loadXa("xa2_18900_mono.xa");
    DiscBuilder b;
    b.addForeign(20);
    const auto lbas = b.placeSound(slice(xa, 0, 30), 1, 0, 20, 8, true);
    fillForeign(b, 20, b.next());
    b.addForeign(5);
    const uint32_t monoAt = b.add(mono);
    auto image = mountBuilt(b);
    ASSERT_TRUE(image);
    const auto found = scanDisc();
    ASSERT_EQ(found.size(), 2u);
    expectStream(found[0], {20, 30, 8, kStereo37800});

    StreamState* stream = open(found[0]);
    ASSERT_NE(stream, nullptr);
    RecordBuffer record;
    auto nextIs = [&](uint32_t lba) {
        ASSERT_EQ(LbrReadStream(stream, 0, record.get()), 1);
        EXPECT_EQ(0, std::memcmp(record.get()->payload, image->raw(lba) + 24, kXaBytes)) << lba;
    };
    struct Case
    {
        uint32_t ms;
        uint32_t soundIndex;
    };
    // 1000 ms: 378 x 100 / 2016 = 18, x 8 = 144 sectors on, the 19th sound sector.
    for (const Case c :
         {Case{1000, 18}, Case{0, 0}, Case{53, 0}, Case{60, 1}, Case{500, 9}, Case{1546, 28}}) {
        SCOPED_TRACE(c.ms);
        ASSERT_EQ(LbrSeekStream(stream, c.ms), 1);
        nextIs(lbas[c.soundIndex]);
        nextIs(lbas[c.soundIndex + 1]);
    }
    // Past the end: clamped to the sector count, nothing left to read; then back to the start.
    ASSERT_EQ(LbrSeekStream(stream, 100000), 1);
    EXPECT_EQ(LbrReadStream(stream, 0, record.get()), 0);
    ASSERT_EQ(LbrSeekStream(stream, 0xFFFFFFF0u), 1);
    EXPECT_EQ(LbrReadStream(stream, 0, record.get()), 0);
    ASSERT_EQ(LbrSeekStream(stream, 0), 1);
    nextIs(lbas[0]);
    LbrCloseStream(stream);

    // Mono 18900 Hz, stride 1: 1000 ms is 189 x 100 / 4032 = 4 sectors on.
    stream = open(found[1]);
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(LbrSeekStream(stream, 1000), 1);
    nextIs(monoAt + 4);
    LbrCloseStream(stream);
}

TEST_F(Discvoice, OpeningGuards)
{
    const auto xa = discbuild::loadXa("xa1_37800_stereo.xa");
    DiscBuilder b;
    b.addForeign(10);
    b.addSound(xa[0], 1, 0);
    b.addForeign(10);
    b.addSound(xa[1], 1, 3);
    b.addSound(xa[2], 1, 3);
    auto image = mountBuilt(b);
    ASSERT_TRUE(image);

    StrInfo info = {};
    info.kind = StrAudio;
    info.audioFormat = 1;
    info.bitsPerSample = 16;
    info.channels = 2;
    info.sampleRate = 37800;
    // No second sector of the key in the area.
    info.startSector = 10;
    info.sectorCount = 11;
    EXPECT_EQ(open(info), nullptr);
    // One sector asked: fine.
    info.sectorCount = 1;
    StreamState* stream = open(info);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(play(stream).units.size(), 1u);
    LbrCloseStream(stream);
    // An area past the end of the disc (empty areas and bad drives: the contract battery).
    info.startSector = image->dataSectors + 100;
    info.sectorCount = 2;
    EXPECT_EQ(open(info), nullptr);
    info.startSector = 21;
    // A description without a channel count still seeks (the coding byte tells).
    using OpenCd = void* (*)(int32_t, StrInfo*);
    using Seek = int32_t (*)(void*, uint32_t);
    using Read = int32_t (*)(void*, PsrReadRecord*);
    using Close = int32_t (*)(void*);
    auto openCd = plugin<OpenCd>("PsrOpenCD");
    auto seek = plugin<Seek>("PsrSeek");
    auto read = plugin<Read>("PsrRead");
    auto close = plugin<Close>("PsrClose");
    ASSERT_TRUE(openCd && seek && read && close);
    EXPECT_EQ(openCd(m_drive, nullptr), nullptr);
    info.channels = 0;
    void* handle = openCd(m_drive, &info);
    ASSERT_NE(handle, nullptr);
    RecordBuffer record;
    EXPECT_EQ(seek(handle, 60), 1);
    ASSERT_EQ(read(handle, record.get()), 1);
    EXPECT_EQ(0, std::memcmp(record.get()->payload, image->raw(22) + 24, kXaBytes));
    EXPECT_EQ(record.get()->unitKind, 0);
    EXPECT_EQ(record.get()->payloadBytes, kXaBytes);
    EXPECT_EQ(read(handle, record.get()), 0);
    EXPECT_EQ(close(handle), 1);
}

// ---- the corpus disc --------------------------------------------------------------------------

// The data track of the corpus disc, rebuilt from tests/data.
TEST_F(Discvoice, CorpusDisc)
{
    DiscBuilder b;
    ASSERT_TRUE(discbuild::buildCorpusDataTrack(b));
    auto image = mountBuilt(b);
    ASSERT_TRUE(image);
    const auto found = scanDisc();
    // MV1 and MV2: sound every 8 sectors, ended by the end-of-file bit. MV3's last sound sector has
    // no end-of-file bit: MV4's first sound sector (same file and channel, other coding) ends it.
    // MV4 has none either: the /XA folder's sector, 4 sectors after its last, ends it. Then XA1,
    // XA2 and the four channels of MULTI, each ended by its end-of-file bit.
    const Expected expected[] = {
        {25, 57, 8, kStereo37800},   {475, 57, 8, kStereo37800},  {925, 14, 32, kMono18900},
        {1345, 56, 4, kStereo37800}, {1570, 75, 1, kStereo37800}, {1645, 15, 1, kMono18900},
        {1660, 57, 4, kStereo37800}, {1661, 57, 4, kStereo37800}, {1662, 57, 4, kStereo37800},
        {1663, 57, 4, kStereo37800},
    };
    ASSERT_EQ(found.size(), std::size(expected));
    for (size_t i = 0; i < found.size(); ++i) {
        SCOPED_TRACE(i);
        expectStream(found[i], expected[i]);
    }

    // Each stream's sound against the independent decoder's decode of the same sectors.
    const char* references[] = {
        "mv1_v2_320x240_15fps_xa37800s.wav",
        "mv2_v3_320x240_15fps_xa37800s_ch1.wav",
        "mv3_v2_256x224_15fps_xa18900m.wav",
        "mv4_v3_160x112_15fps_x1_xa37800s.wav",
        "xa1_37800_stereo.wav",
        "xa2_18900_mono.wav",
        "xa_multi_4ch_37800_stereo_f1_c0.wav",
        "xa_multi_4ch_37800_stereo_f1_c1.wav",
        "xa_multi_4ch_37800_stereo_f1_c2.wav",
        "xa_multi_4ch_37800_stereo_f1_c3.wav",
    };
    for (size_t i = 0; i < found.size(); ++i) {
        SCOPED_TRACE(references[i]);
        const auto reference = readWave(fs::path(TAMRIN_TEST_DATA) / "references" / references[i]);
        ASSERT_TRUE(reference);
        EXPECT_EQ(reference->channels, found[i].channels);
        EXPECT_EQ(reference->sampleRate, found[i].sampleRate);
        StreamState* stream = open(found[i]);
        ASSERT_NE(stream, nullptr);
        const Played played = play(stream);
        LbrCloseStream(stream);
        EXPECT_EQ(played.units.size(), expected[i].soundSectors);
        EXPECT_EQ(played.failedDecodes, 0u);
        ASSERT_EQ(played.pcm.size(), reference->samples.size());
        size_t differing = 0;
        for (size_t k = 0; k < played.pcm.size(); ++k)
            differing += played.pcm[k] != reference->samples[k] ? 1 : 0;
        EXPECT_EQ(differing, 0u);
    }
}

} // namespace
