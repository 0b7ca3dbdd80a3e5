// The Cobaltsound plugin through libstreamkit: the independent encoder's ADX files played as
// files and from inside generated disc images (spread over Form 1 sectors from a chosen sector
// and offset, found by the probe as the analysis feeds it), decoded by the host and compared with
// the independent decoder's references; the probe's rules on bare headers fed sector by sector.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
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
    uint8_t kind = 0; // of the first unit
};

// Every unit of `stream`, decoded by the host.
Played play(StreamState* stream)
{
    Played out;
    std::vector<uint8_t> record(kRecordBytes), pcm(227 * 128);
    auto* r = reinterpret_cast<PsrReadRecord*>(record.data());
    while (LbrReadStream(stream, 0, r) == 1) {
        out.unitBytes.push_back(r->payloadBytes);
        out.kind = out.kind ? out.kind : r->unitKind;
        const int32_t written = LbrDecodeAudio(stream, r, pcm.data(), int32_t(pcm.size()));
        EXPECT_GT(written, 0);
        for (int32_t i = 0; i + 1 < written; i += 2)
            out.pcm.push_back(int16_t(mediagen::le16(pcm.data() + i)));
    }
    return out;
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

    PluginBinding* m_binding = LbrOpenPSR("Cobaltsound.psr");
    int32_t m_drive = -1;
    StrInfo m_info{};
};

// The test files played as files, then inside a disc image (at a sector's start and at an offset
// inside one) beside a mono file, which is not looked for on discs, and a long file of tagged
// blocks: the descriptions, the host's decode against the reference, the units and a seek.
TEST_F(Cobaltsound, FilesAndTheirCopiesOnDiscPlayAsTheReference)
{
    DiscBuilder b;
    b.addForeign(16);
    std::vector<std::pair<StrInfo, Played>> expected; // per stream on the disc: as a file
    for (const AdxCase& c : kFiles) {
        SCOPED_TRACE(c.file);
        const std::string path = mediagen::testData(std::string("audio/") + c.file + ".adx").string();
        const Bytes bytes = mediagen::readAll(path);
        const size_t blocks = (be32(bytes.data() + 12) + 31) / 32;
        StrInfo info{};
        ASSERT_EQ(LbrIsSupportFile(m_binding, path.c_str()), 1);
        ASSERT_EQ(LbrGetStrFileInfo(m_binding, path.c_str(), &info), 1);
        EXPECT_EQ(info.kind, StrAudio);
        EXPECT_EQ(info.channels, c.channels);
        EXPECT_EQ(info.sampleRate, c.rate);
        EXPECT_EQ(info.durationMs, blocks * 32000 / c.rate);
        StreamState* stream = open(path.c_str(), info);
        ASSERT_NE(stream, nullptr);
        const Played file = play(stream);
        LbrCloseStream(stream);
        // Stereo blocks go to the host's ADX decoder, mono ones come decoded.
        EXPECT_EQ(file.kind, c.channels == 2 ? 0x2F : 0x60);
        const auto reference = mediagen::testData(std::string("references/") + c.file + ".wav");
        // Equal where both have samples; ours go on only with the silence of an end block that the
        // header's sample count takes in.
        ASSERT_EQ(file.pcm.size(), blocks * 32 * c.channels);
        for (size_t ch = 0; ch < c.channels; ++ch) {
            const std::vector<int16_t> theirs = mediagen::waveChannel(reference, unsigned(ch));
            ASSERT_GT(theirs.size(), blocks * 31);
            for (size_t i = 0; i < blocks * 32; ++i)
                ASSERT_EQ(file.pcm[i * c.channels + ch], i < theirs.size() ? theirs[i] : 0) << ch << " " << i;
        }
        for (size_t offset : {0, 1002}) {
            if (c.channels == 2) {
                info.startSector = b.next() + 1;
                info.reserved = uint16_t(offset);
                info.dataBytes = uint32_t(36 + blocks * 36);
                info.sectorCount = uint32_t((info.dataBytes + offset + 2047) / 2048);
                expected.emplace_back(info, file);
            }
            b.addForeign(1);
            mediagen::placeData(b, b.next(), offset, bytes);
        }
    }
    Bytes tagged = mediagen::adxHeader(2, 44100, 441000);
    tagged.resize(36 + 13782 * 36, 0);
    for (size_t block = 0; block < 13782; ++block)
        tagged[36 + block * 36 + 1] = uint8_t(block); // the scale's low byte tells the blocks apart
    mediagen::placeData(b, b.next() + 1, 78, tagged);
    b.addForeign(4);
    auto image = b.write();
    ASSERT_TRUE(image);
    m_drive = CdMountImage(image->cue.c_str());
    ASSERT_GE(m_drive, 0) << CdImageError();
    const std::vector<StrInfo> found = discprobe::probeDisc(m_binding, m_drive);
    ASSERT_EQ(found.size(), expected.size() + 1);
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(std::memcmp(&found[i], &expected[i].first, sizeof(StrInfo)), 0);
        StreamState* stream = open(nullptr, found[i]);
        ASSERT_NE(stream, nullptr);
        const Played disc = play(stream);
        LbrCloseStream(stream);
        EXPECT_EQ(disc.unitBytes, expected[i].second.unitBytes);
        EXPECT_TRUE(disc.pcm == expected[i].second.pcm);
    }

    // 13782 blocks in units of 227 (8172 bytes), the last one the rest; 5 s is block 6890.
    EXPECT_EQ(found.back().durationMs, 10000u);
    StreamState* stream = open(nullptr, found.back());
    ASSERT_NE(stream, nullptr);
    const Played all = play(stream);
    ASSERT_EQ(all.unitBytes.size(), 61u);
    EXPECT_EQ(std::count(all.unitBytes.begin(), all.unitBytes.end(), 8172u), 60);
    EXPECT_EQ(all.unitBytes.back(), (13782u - 60 * 227) * 36);
    ASSERT_EQ(LbrSeekStream(stream, 5000), 1);
    std::vector<uint8_t> record(kRecordBytes);
    auto* r = reinterpret_cast<PsrReadRecord*>(record.data());
    ASSERT_EQ(LbrReadStream(stream, 0, r), 1);
    EXPECT_EQ(std::memcmp(r->payload, tagged.data() + 36 + 6890 * 36, 8172), 0);
    LbrCloseStream(stream);
}

// The probe's rules on bare headers (zero data) in the user data of consecutive sectors, fed
// directly; the first stream found in full (start, place, sectors, duration, rate and bytes).
TEST_F(Cobaltsound, ProbeFindsWholeStereoFilesOnly)
{
    using mediagen::adxHeader;
    struct Case
    {
        const char* what;
        std::vector<std::pair<size_t, Bytes>> headers; // at byte offsets of the data
        size_t sectors;
        uint32_t first;
        StrInfo expected; // kind 0: nothing found
    };
    // clang-format off
    const Case cases[] = {
        {"mono is not looked for", {{0, adxHeader(1, 44100, 441000)}}, 300, 10, {}},
        {"sector 5000, offset 100, 1000000 bytes", {{100, adxHeader(2, 32000, 27776 * 32, 60)}}, 492, 5000,
         {StrAudio, 100, 5000, 489, 27776, 0, 0, 0, 0, 1, 2, 16, 32000, 1000000, 0, 0}},
        {"running past the end of the scan", {{0, adxHeader(2, 44100, 441000)}}, 200, 10, {}},
        {"more samples than 32 bits of blocks hold", {{0, adxHeader(2, 44100, 0xFFFFFFFF)}}, 20, 0, {}},
        {"a wrong signature: found 16 bytes on",
         {{40, adxHeader(2, 22050, 320, 32, "(c)CRX")}, {56, adxHeader(2, 22050, 320)}}, 3, 7,
         {StrAudio, 56, 7, 1, 14, 0, 0, 0, 0, 1, 2, 16, 22050, 396, 0, 0}},
        {"at the last place of a sector", {{2032, adxHeader(2, 22050, 320)}}, 3, 7,
         {StrAudio, 2032, 7, 2, 14, 0, 0, 0, 0, 1, 2, 16, 22050, 396, 0, 0}},
        {"rate and length out of range",
         {{0, adxHeader(2, 14999, 441)}, {4096, adxHeader(2, 48001, 441)}, {8192, adxHeader(2, 44100, 99)}},
         8, 0, {}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes data(c.sectors * mediagen::kUserData, 0);
        for (const auto& [at, header] : c.headers)
            std::memcpy(data.data() + at, header.data(), std::min(header.size(), data.size() - at));
        void* context = LbrIsSupportCDBegin(m_binding, 1, &kDataTrack);
        ASSERT_NE(context, nullptr);
        for (size_t at = 0; at < data.size(); at += mediagen::kUserData)
            EXPECT_EQ(LbrIsSupportCDSector(m_binding, context, kDataTrack, uint32_t(c.first + at / 2048),
                                           &data[at]),
                      1);
        EXPECT_EQ(LbrIsSupportCDSector(m_binding, context, kDataTrack, 0, nullptr), 0);
        const std::vector<StrInfo> found = discprobe::results(m_binding, context);
        ASSERT_EQ(found.size(), c.expected.kind ? 1u : 0u);
        if (!found.empty()) {
            EXPECT_EQ(std::memcmp(&found[0], &c.expected, sizeof(StrInfo)), 0);
        }
    }
}

// tamrin-cli names the plugin for each test file, and its scan (the analysis's own feed of user
// data) finds a stereo file on a disc.
TEST(CobaltsoundCli, ProbeAndScanNameThePlugin)
{
    const std::filesystem::path cli = std::filesystem::path(TAMRIN_OUT_DIR) / "tamrin-cli";
    if (!std::filesystem::exists(cli))
        GTEST_SKIP() << "tamrin-cli is not built";
    DiscBuilder b;
    b.addForeign(3);
    mediagen::placeData(b, 3, 512, mediagen::readAll(mediagen::testData("audio/adx2_48000_stereo.adx")));
    b.addForeign(3);
    const auto image = b.write();
    ASSERT_TRUE(image);
    std::ostringstream command;
    command << "'" << cli.string() << "' probe";
    for (const AdxCase& c : kFiles)
        command << " '" << mediagen::testData(std::string("audio/") + c.file + ".adx").string() << "'";
    command << " && '" << cli.string() << "' scan --no-progress --plugins Cobaltsound.psr '" << image->cue
            << "'";
    FILE* pipe = popen(command.str().c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out(1 << 16, '\0');
    out.resize(fread(out.data(), 1, out.size(), pipe));
    ASSERT_EQ(pclose(pipe), 0) << out;
    // Three files probed, one stream scanned: the plugin named four times.
    size_t named = 0;
    for (size_t at = 0; (at = out.find("COBALTSOUND.PSR", at)) != std::string::npos; ++at)
        ++named;
    EXPECT_EQ(named, 4u) << out;
}

} // namespace
