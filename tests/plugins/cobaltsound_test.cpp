// The Cobaltsound plugin through libstreamkit: the independent encoder's ADX files played as
// files and from inside generated disc images (spread over Form 1 sectors from a chosen sector
// and offset, found by the probe as the analysis feeds it), decoded by the host and compared with
// the independent decoder's references; the probe's rules on bare headers fed sector by sector.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "../mediagen/adx_layout.h"
#include "disc_builder.h"
#include "disc_probe.h"
#include "discport/discport.h"
#include "streamkit/lbr.h"

namespace {

using discbuild::DiscBuilder;
using mediagen::Bytes;

constexpr size_t kRecordBytes = PSR_READ_HEADER_BYTES + 8172;
constexpr CdTocEntry kDataTrack = {1, CD_TOC_DATA_TRACK, {0, 0}, 0, 400000};

uint32_t be32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

struct Played
{
    std::vector<int16_t> pcm;
    std::vector<uint32_t> unitBytes;
    std::vector<uint8_t> kinds;
};

// Every unit of `stream` (at most `limit`), decoded by the host.
Played play(StreamState* stream, size_t limit = 100000)
{
    Played out;
    std::vector<uint8_t> record(kRecordBytes), pcm(227 * 128);
    auto* r = reinterpret_cast<PsrReadRecord*>(record.data());
    while (out.unitBytes.size() < limit && LbrReadStream(stream, 0, r) == 1) {
        out.unitBytes.push_back(r->payloadBytes);
        out.kinds.push_back(r->unitKind);
        const int32_t written = LbrDecodeAudio(stream, r, pcm.data(), int32_t(pcm.size()));
        EXPECT_GT(written, 0);
        for (int32_t i = 0; i + 1 < written; i += 2)
            out.pcm.push_back(int16_t(mediagen::le16(pcm.data() + i)));
    }
    return out;
}

// Ours against the reference: equal where both have samples; ours may go on only with silence
// (the end block that the header's sample count takes in).
void expectSameSound(const std::vector<int16_t>& ours, const std::vector<int16_t>& reference, size_t samples)
{
    ASSERT_EQ(ours.size(), samples);
    const size_t common = std::min(ours.size(), reference.size());
    ASSERT_GT(common, samples * 99 / 100);
    size_t first = common;
    for (size_t i = 0; i < common && first == common; ++i)
        if (ours[i] != reference[i])
            first = i;
    EXPECT_EQ(first, common) << "first differing sample";
    for (size_t i = common; i < ours.size(); ++i)
        ASSERT_EQ(ours[i], 0) << i;
}

struct AdxCase
{
    const char* file;
    uint16_t channels;
    uint32_t rate;
};

const AdxCase kFiles[] = {
    {"adx1_44100_stereo", 2, 44100},
    {"adx2_48000_stereo", 2, 48000},
    {"adx3_22050_mono", 1, 22050},
};

class Cobaltsound : public testing::Test
{
  protected:
    void SetUp() override { ASSERT_NE(m_binding, nullptr); }
    void TearDown() override
    {
        if (m_drive >= 0)
            CdUnmountImage(m_drive);
        LbrClosePSR(m_binding);
    }

    StreamState* open(const char* file, const StrInfo& info)
    {
        m_info = info;
        return LbrOpenStream("Cobaltsound.psr", file, m_drive, &m_info, LBR_WANT_AUDIO);
    }

    // The streams of a disc fed directly, as user data of sectors first, first + 1, ...
    std::vector<StrInfo> scanUserData(const Bytes& data, uint32_t first, bool finalCall = true)
    {
        void* context = LbrIsSupportCDBegin(m_binding, 1, &kDataTrack);
        EXPECT_NE(context, nullptr);
        Bytes sector(mediagen::kUserData);
        for (size_t at = 0; at < data.size(); at += sector.size()) {
            std::fill(sector.begin(), sector.end(), 0);
            std::memcpy(sector.data(), data.data() + at, std::min(sector.size(), data.size() - at));
            EXPECT_EQ(LbrIsSupportCDSector(m_binding, context, kDataTrack, first++, sector.data()), 1);
        }
        if (finalCall) {
            EXPECT_EQ(LbrIsSupportCDSector(m_binding, context, kDataTrack, 0, nullptr), 0);
        }
        return discprobe::results(m_binding, context);
    }

    PluginBinding* m_binding = LbrOpenPSR("Cobaltsound.psr");
    int32_t m_drive = -1;
    StrInfo m_info{};
};

// Files, then the same files inside a disc image at a sector boundary and at an odd offset: the
// description, and the host's decode against the reference.
TEST_F(Cobaltsound, FilesAndTheirCopiesOnDiscDecodeAsTheReference)
{
    DiscBuilder b;
    b.addForeign(16);
    struct Placed
    {
        uint32_t lba;
        size_t offset;
        uint32_t length;
    };
    std::vector<Placed> placed;
    for (const AdxCase& c : kFiles) {
        SCOPED_TRACE(c.file);
        const std::string path = mediagen::testData(std::string("audio/") + c.file + ".adx").string();
        const Bytes bytes = mediagen::readAll(path);
        ASSERT_GT(bytes.size(), 36u);
        const uint32_t samples = be32(bytes.data() + 12);
        const std::vector<int16_t> reference =
            mediagen::waveChannel(mediagen::testData(std::string("references/") + c.file + ".wav"), 0);
        ASSERT_FALSE(reference.empty());

        StrInfo info{};
        ASSERT_EQ(LbrIsSupportFile(m_binding, path.c_str()), 1);
        ASSERT_EQ(LbrGetStrFileInfo(m_binding, path.c_str(), &info), 1);
        EXPECT_EQ(info.kind, StrAudio);
        EXPECT_EQ(info.channels, c.channels);
        EXPECT_EQ(info.sampleRate, c.rate);
        EXPECT_EQ(info.durationMs, uint64_t(samples) * 1000 / c.rate);
        EXPECT_EQ(info.startSector, 0u);
        StreamState* stream = open(path.c_str(), info);
        ASSERT_NE(stream, nullptr);
        const Played file = play(stream);
        LbrCloseStream(stream);
        const size_t blocks = (samples + 31) / 32;
        // Stereo blocks go to the host's ADX decoder, mono ones come decoded.
        EXPECT_EQ(file.kinds.front(), c.channels == 2 ? 0x2F : 0x60);
        for (size_t ch = 0; ch < c.channels; ++ch) {
            std::vector<int16_t> ours;
            for (size_t i = ch; i < file.pcm.size(); i += c.channels)
                ours.push_back(file.pcm[i]);
            expectSameSound(
                ours,
                mediagen::waveChannel(mediagen::testData(std::string("references/") + c.file + ".wav"),
                                      unsigned(ch)),
                blocks * 32);
        }
        if (c.channels == 2) {
            placed.push_back({b.next() + 3, 0, uint32_t(36 + blocks * 36)});
            b.addForeign(3);
            mediagen::placeUserData(b, placed.back().lba, 0, bytes);
            b.addForeign(1);
            placed.push_back({b.next(), 1002, uint32_t(36 + blocks * 36)});
            mediagen::placeUserData(b, b.next(), 1002, bytes);
            b.addForeign(2);
        }
        // A mono file inside disc data is not found.
        if (c.channels == 1)
            mediagen::placeUserData(b, b.next(), 0, bytes);
    }
    b.addForeign(4);
    auto image = b.write();
    ASSERT_TRUE(image);
    m_drive = CdMountImage(image->cue.c_str());
    ASSERT_GE(m_drive, 0) << CdImageError();
    const std::vector<StrInfo> found = discprobe::probeDisc(m_binding, m_drive);
    ASSERT_EQ(found.size(), placed.size());
    for (size_t i = 0; i < found.size(); ++i) {
        SCOPED_TRACE(i);
        const AdxCase& c = kFiles[i / 2];
        EXPECT_EQ(found[i].startSector, placed[i].lba);
        EXPECT_EQ(found[i].reserved, placed[i].offset);
        EXPECT_EQ(found[i].dataBytes, placed[i].length);
        EXPECT_EQ(found[i].sectorCount, (placed[i].length + placed[i].offset + 2047) / 2048);
        EXPECT_EQ(found[i].channels, 2);
        EXPECT_EQ(found[i].sampleRate, c.rate);
        const std::string path = mediagen::testData(std::string("audio/") + c.file + ".adx").string();
        StrInfo fileInfo{};
        ASSERT_EQ(LbrGetStrFileInfo(m_binding, path.c_str(), &fileInfo), 1);
        EXPECT_EQ(found[i].durationMs, fileInfo.durationMs);

        StreamState* fromFile = open(path.c_str(), fileInfo);
        const Played expected = play(fromFile);
        LbrCloseStream(fromFile);
        StreamState* fromDisc = open(nullptr, found[i]);
        ASSERT_NE(fromDisc, nullptr);
        const Played got = play(fromDisc);
        EXPECT_EQ(got.unitBytes, expected.unitBytes);
        EXPECT_TRUE(got.pcm == expected.pcm);

        // A seek lands on the block of its time: the rest is the file's sound from there.
        ASSERT_EQ(LbrSeekStream(fromDisc, 1000), 1);
        const Played after = play(fromDisc, 1);
        LbrCloseStream(fromDisc);
        ASSERT_EQ(after.unitBytes.size(), 1u);
        StreamState* again = open(path.c_str(), fileInfo);
        ASSERT_EQ(LbrSeekStream(again, 1000), 1);
        const Played fileAfter = play(again, 1);
        LbrCloseStream(again);
        EXPECT_TRUE(after.pcm == fileAfter.pcm);
        EXPECT_EQ(after.unitBytes, fileAfter.unitBytes);
    }
}

// The probe's rules on bare headers (zero data) in the user data of consecutive sectors.
TEST_F(Cobaltsound, ProbeFindsWholeStereoFilesOnly)
{
    using mediagen::adxHeader;
    struct Case
    {
        const char* what;
        std::vector<std::pair<size_t, Bytes>> headers; // at byte offsets of the data
        size_t sectors;
        uint32_t first;
        size_t found;
        StrInfo expected; // of the first stream found: reserved, start, count, duration, bytes
    };
    const Case cases[] = {
        {"stereo 44100 Hz, 441000 samples",
         {{0, adxHeader(2, 44100, 441000)}},
         300,
         10,
         1,
         {StrAudio, 0, 10, 243, 10000, 0, 0, 0, 0, 1, 2, 16, 44100, 36 + 13782 * 36, 0, 0}},
        {"mono is not looked for", {{0, adxHeader(1, 44100, 441000)}}, 300, 10, 0, {}},
        {"sector 5000, offset 100, 1000000 bytes",
         {{100, adxHeader(2, 32000, 27776 * 32, 60)}},
         492,
         5000,
         1,
         {StrAudio, 100, 5000, 489, 27776 * 1000 / 1000, 0, 0, 0, 0, 1, 2, 16, 32000, 1000000, 0, 0}},
        {"running past the end of the scan", {{0, adxHeader(2, 44100, 441000)}}, 200, 10, 0, {}},
        {"more samples than 32 bits of blocks hold", {{0, adxHeader(2, 44100, 0xFFFFFFFF)}}, 20, 0, 0, {}},
        {"a wrong signature: found 16 bytes on",
         {{40, adxHeader(2, 22050, 320, 32, "(c)CRX")}, {56, adxHeader(2, 22050, 320)}},
         3,
         7,
         1,
         {StrAudio, 56, 7, 1, 14, 0, 0, 0, 0, 1, 2, 16, 22050, 396, 0, 0}},
        {"rate and length out of range",
         {{0, adxHeader(2, 14999, 441)}, {4096, adxHeader(2, 48001, 441)}, {8192, adxHeader(2, 44100, 99)}},
         8,
         0,
         0,
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes data(c.sectors * mediagen::kUserData, 0);
        for (const auto& [at, header] : c.headers)
            std::memcpy(data.data() + at, header.data(), std::min(header.size(), data.size() - at));
        const std::vector<StrInfo> found = scanUserData(data, c.first);
        ASSERT_EQ(found.size(), c.found);
        if (c.found) {
            EXPECT_EQ(std::memcmp(&found[0], &c.expected, sizeof(StrInfo)), 0)
                << found[0].reserved << " " << found[0].startSector << " " << found[0].sectorCount << " "
                << found[0].durationMs << " " << found[0].dataBytes;
        }
    }
}

// 441000 samples at 44100 Hz on a disc: 13782 blocks in units of 227 (8172 bytes), the last one
// the rest; a seek to 5 s starts at block 6890.
TEST_F(Cobaltsound, UnitsOfALongFileAndItsSeek)
{
    DiscBuilder b;
    b.addForeign(2);
    Bytes file = mediagen::adxHeader(2, 44100, 441000);
    file.resize(36 + 13782 * 36, 0);
    for (size_t block = 0; block < 13782; ++block)
        file[36 + block * 36 + 1] = uint8_t(block); // scale low byte: tells the blocks apart
    mediagen::placeUserData(b, 5, 78, file);
    b.addForeign(1);
    auto image = b.write();
    ASSERT_TRUE(image);
    m_drive = CdMountImage(image->cue.c_str());
    ASSERT_GE(m_drive, 0) << CdImageError();
    const std::vector<StrInfo> found = discprobe::probeDisc(m_binding, m_drive);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].durationMs, 10000u);
    StreamState* stream = open(nullptr, found[0]);
    ASSERT_NE(stream, nullptr);
    const Played all = play(stream);
    ASSERT_EQ(all.unitBytes.size(), 61u);
    for (size_t i = 0; i + 1 < all.unitBytes.size(); ++i)
        EXPECT_EQ(all.unitBytes[i], 8172u) << i;
    EXPECT_EQ(all.unitBytes.back(), (13782u - 60 * 227) * 36);

    ASSERT_EQ(LbrSeekStream(stream, 5000), 1);
    std::vector<uint8_t> record(kRecordBytes);
    auto* r = reinterpret_cast<PsrReadRecord*>(record.data());
    ASSERT_EQ(LbrReadStream(stream, 0, r), 1);
    EXPECT_EQ(r->payload[1], uint8_t(6890));
    EXPECT_EQ(std::memcmp(r->payload, file.data() + 36 + 6890 * 36, 8172), 0);
    LbrCloseStream(stream);
}

} // namespace
