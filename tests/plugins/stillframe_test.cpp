// The Stillframe plugin through libstreamkit as the application drives it: TIMs of every depth
// decoded by LbrDecodeFrame and compared with the colours worked out here from what the generator
// chose, the recognition rule's edge cases, TIMs found on a disc at their sectors and offsets, the
// unit's address honoured only while its stream is open, and tamrin-cli's BMP of a TIM file.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "../cli/picture_compare.h"
#include "../mediagen/tim_layout.h"
#include "../support/scratch_folder.h"
#include "disc_builder.h"
#include "disc_probe.h"
#include "unit_reader.h"

namespace {

namespace fs = std::filesystem;
using mediagen::Bytes;
using mediagen::TimPicture;

constexpr const char* kPlugin = "Stillframe.psr";

// Colours as 0xRRGGBB.
uint32_t fromFiveBits(uint32_t c)
{
    return (c & 31) << 19 | (c >> 5 & 31) << 11 | (c >> 10 & 31) << 3;
}

// What each pixel should look like, top row first; a 16-bit picture keeps five bits a channel.
std::vector<uint32_t> expectedColours(const TimPicture& t, int32_t bits = 24)
{
    std::vector<uint32_t> out;
    for (uint32_t p : t.pixels)
        out.push_back((t.mode <= 1   ? fromFiveBits(t.table.at(p))
                       : t.mode == 2 ? fromFiveBits(p)
                                     : p) &
                      (bits == 16 ? 0xF8F8F8 : 0xFFFFFF));
    return out;
}

// The pixels of a bottom-up 24- or 16-bit (0RRRRRGGGGGBBBBB) picture, top row first.
std::vector<uint32_t> pictureColours(const FrameDib* picture)
{
    std::vector<uint32_t> out;
    const auto* rows = reinterpret_cast<const uint8_t*>(picture) + sizeof(FrameDib);
    const size_t stride = (size_t(picture->width) * picture->bitCount + 31) / 32 * 4;
    for (int32_t y = picture->height - 1; y >= 0; --y) {
        const uint8_t* p = rows + size_t(y) * stride;
        for (int32_t x = 0; x < picture->width; ++x) {
            const uint32_t v = uint32_t(p[2 * x] | p[2 * x + 1] << 8);
            out.push_back(picture->bitCount == 24
                              ? uint32_t(p[3 * x + 2] << 16 | p[3 * x + 1] << 8 | p[3 * x])
                              : fromFiveBits((v >> 10 & 31) | (v & 0x3E0) | (v & 31) << 10));
        }
    }
    return out;
}

using StreamPtr = std::unique_ptr<StreamState, decltype(&LbrCloseStream)>;

StreamPtr openStream(const char* file, int32_t drive, StrInfo info)
{
    return StreamPtr(LbrOpenStream(kPlugin, file, drive, &info, LBR_WANT_VIDEO), &LbrCloseStream);
}

// The stream's one picture, read again from its start and decoded at `bits`.
std::vector<uint32_t> decodeOnly(StreamState* stream, const TimPicture& tim, int32_t bits)
{
    movietest::RecordBuffer record, after;
    EXPECT_EQ(LbrSeekStream(stream, 0), 1);
    if (LbrReadStream(stream, LBR_WANT_VIDEO, record.get()) != 1)
        return {};
    EXPECT_EQ(record.get()->frameNumber, 1u);
    EXPECT_EQ(record.get()->width, tim.width());
    EXPECT_EQ(record.get()->height, tim.height);
    EXPECT_EQ(LbrReadStream(stream, 0, after.get()), 0) << "one picture only";
    clitest::PicturePtr picture(LbrDecodeFrame(stream, record.get(), bits, 0, nullptr));
    return picture ? pictureColours(picture.get()) : std::vector<uint32_t>{};
}

class StillframeFiles : public testing::Test
{
  protected:
    void SetUp() override { ASSERT_TRUE(m_binding && m_folder.made()); }
    void TearDown() override { LbrClosePSR(m_binding); }

    fs::path file(const Bytes& bytes, const char* name = "picture.tim")
    {
        const fs::path path = m_folder.path() / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return path;
    }

    PluginBinding* m_binding = LbrOpenPSR(kPlugin);
    testsupport::ScratchFolder m_folder{"stillframe"};
};

TEST_F(StillframeFiles, EveryDepthDecodesPixelForPixel)
{
    // W not a multiple of 4; a full table and one of two rows; odd widths (padded picture rows);
    // 24-bit rows with no, two and one spare bytes.
    const uint16_t cases[][4] = {{0, 5, 7, 16}, {0, 3, 4, 16}, {1, 5, 6, 256}, {1, 7, 5, 32}, {2, 7, 5, 0},
                                 {2, 4, 9, 0},  {3, 6, 5, 0},  {3, 7, 4, 0},   {3, 8, 6, 0},  {3, 33, 4, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c[0] << ", W " << c[1] << ", H " << c[2]);
        const TimPicture tim = mediagen::makeTim(c[0], c[1], c[2], c[1] * 31u + c[0], c[3]);
        const fs::path path = file(tim.bytes);
        StrInfo info{};
        ASSERT_EQ(LbrIsSupportFile(m_binding, path.c_str()), 1);
        ASSERT_EQ(LbrGetStrFileInfo(m_binding, path.c_str(), &info), 1);
        EXPECT_EQ(
            (std::vector<uint32_t>{info.kind, info.width, info.height, info.dataBytes, info.frameCount}),
            (std::vector<uint32_t>{StrStill, tim.width(), tim.height, uint32_t(tim.bytes.size()), 1}));
        const StreamPtr stream = openStream(path.c_str(), 0, info);
        ASSERT_TRUE(stream);
        EXPECT_TRUE(decodeOnly(stream.get(), tim, 24) == expectedColours(tim, 24));
        EXPECT_TRUE(decodeOnly(stream.get(), tim, 16) == expectedColours(tim, 16));
    }
}

// The recognition rule on TIMs changed by 32-bit words put at byte offsets, or cut or extended.
TEST_F(StillframeFiles, RecognitionEdgeCases)
{
    const struct
    {
        const char* what;
        uint16_t mode, words, height, entries;
        std::vector<std::pair<size_t, uint32_t>> patches;
        int32_t extraBytes;
        uint32_t width; // 0: refused
    } cases[] = {
        {"4-bit, 16 entries, W 16, H 32", 0, 16, 32, 16, {}, 0, 64},
        {"bytes after the TIM", 2, 4, 4, 0, {}, 100, 4},
        {"16-bit with the table bit", 2, 4, 4, 0, {{4, 0x0A}}, 0, 0},
        {"8-bit without a table", 2, 4, 4, 0, {{4, 0x01}}, 0, 0},
        {"pixel mode 4", 2, 4, 4, 0, {{4, 0x04}}, 0, 0},
        {"flags above 15", 2, 4, 4, 0, {{4, 0x12}}, 0, 0},
        {"identifier 0x11", 2, 4, 4, 0, {{0, 0x11}}, 0, 0},
        {"3 pixels wide, 16-bit", 2, 3, 8, 0, {}, 0, 0},
        {"3 pixels wide, 24-bit W 5", 3, 5, 8, 0, {}, 0, 0},
        {"3 rows", 2, 8, 3, 0, {}, 0, 0},
        {"a table of 257 entries", 1, 4, 4, 257, {}, 0, 0},
        {"table length odd", 0, 4, 4, 16, {{8, 45}}, 0, 0},
        {"image length not 2WH + 12", 2, 4, 4, 0, {{8, 46}}, 0, 0},
        {"0xFFFF x 0xFFFF, 2WH + 12 cut to 32 bits", 2, 4, 4, 0, {{8, 0xFFFC000E}, {16, 0xFFFFFFFF}}, 0, 0},
        {"a file shorter than its TIM", 2, 4, 4, 0, {}, -2, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes bytes = mediagen::makeTim(c.mode, c.words, c.height, 5, c.entries).bytes;
        for (const auto& [at, value] : c.patches)
            mediagen::put32(&bytes[at], value);
        bytes.resize(size_t(int64_t(bytes.size()) + c.extraBytes), 0x10);
        const fs::path path = file(bytes);
        StrInfo info{};
        EXPECT_EQ(LbrIsSupportFile(m_binding, path.c_str()), c.width ? 1 : 0);
        EXPECT_EQ(LbrGetStrFileInfo(m_binding, path.c_str(), &info), c.width ? 1 : 0);
        EXPECT_EQ(info.width, c.width);
    }
}

// The unit carries the address of its stream's bytes: decoded into a picture of the unit's size
// while the stream is open (an index past the colour table shows black); refused for another size, an address
// no stream holds, a payload of another length and a closed stream.
TEST_F(StillframeFiles, UnitAddressIsHonouredOnlyWhileItsStreamIsOpen)
{
    const auto decode =
        reinterpret_cast<PsrDecodeFrameFn>(dlsym(LbrGetPluginInst(m_binding), "PsrDecodeFrame"));
    ASSERT_TRUE(decode);
    TimPicture tim = mediagen::makeTim(1, 6, 5, 9, 32);
    std::vector<uint32_t> expected = expectedColours(tim);
    tim.bytes[8 + 12 + 64 + 12] = 200; // an index past the 32 colours shows black
    expected[0] = 0;
    StreamPtr stream = openStream(file(tim.bytes).c_str(), 0, StrInfo{});
    ASSERT_TRUE(stream);
    movietest::RecordBuffer record, forged;
    ASSERT_EQ(LbrReadStream(stream.get(), 0, record.get()), 1);
    EXPECT_EQ(record.get()->payloadBytes, sizeof(void*));
    EXPECT_EQ(record.get()->param, 10);

    clitest::PicturePtr picture(LbrAllocBitmap(12, 5, 1, 24, nullptr));
    clitest::PicturePtr narrower(LbrAllocBitmap(11, 5, 1, 24, nullptr));
    EXPECT_EQ(decode(record.get(), narrower.get()), -1);
    ASSERT_EQ(decode(record.get(), picture.get()), reinterpret_cast<intptr_t>(picture.get()));
    EXPECT_TRUE(pictureColours(picture.get()) == expected);

    std::memcpy(forged.get(), record.get(), PSR_READ_HEADER_BYTES + sizeof(void*));
    const uint8_t* elsewhere = tim.bytes.data();
    std::memcpy(forged.get()->payload, &elsewhere, sizeof elsewhere);
    EXPECT_EQ(decode(forged.get(), picture.get()), -1);
    record.get()->payloadBytes = 4;
    EXPECT_EQ(decode(record.get(), picture.get()), -1);
    record.get()->payloadBytes = sizeof(void*);
    stream.reset();
    EXPECT_EQ(decode(record.get(), picture.get()), -1);
}

TEST_F(StillframeFiles, CliWritesTheBitmapOfATimFile)
{
    const fs::path cli = fs::path(TAMRIN_OUT_DIR) / "tamrin-cli";
    if (!fs::exists(cli))
        GTEST_SKIP() << "tamrin-cli is not built";
    const TimPicture tim = mediagen::makeTim(3, 13, 7, 4); // 8 pixels, two spare bytes a row
    const fs::path bmp = m_folder.path() / "still.bmp";
    const std::string command = "TAMRIN_HOME='" + m_folder.path().string() + "' '" + cli.string() +
                                "' convert '" + file(tim.bytes, "still.tim").string() + "' --to bmp --out '" +
                                bmp.string() + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::ifstream in(bmp, std::ios::binary);
    std::string error;
    const auto image = clitest::parseBmp(std::string(std::istreambuf_iterator<char>(in), {}), error);
    ASSERT_TRUE(image) << error;
    ASSERT_EQ(image->width * image->height, int32_t(tim.pixels.size()));
    EXPECT_EQ(image->width, int32_t(tim.width()));
    std::vector<uint32_t> colours;
    for (size_t i = 0; i + 2 < image->rgb.size(); i += 3)
        colours.push_back(uint32_t(image->rgb[i] << 16 | image->rgb[i + 1] << 8 | image->rgb[i + 2]));
    EXPECT_TRUE(colours == expectedColours(tim));
}

TEST(StillframeDisc, TimsAreFoundAtTheirSectorsAndOffsetsAndDecode)
{
    struct Placed
    {
        uint32_t sector, offset;
        TimPicture tim;
    };
    std::vector<Placed> placed = {
        {4, 0, mediagen::makeTim(1, 9, 6, 1, 256)},
        {10, 1800, mediagen::makeTim(3, 300, 20, 2)}, // over six more sectors
        {20, 2040, mediagen::makeTim(2, 8, 8, 3)},    // its header cut by the sector's end
        {22, 100, mediagen::makeTim(0, 5, 4, 4)},
        {22, 204, mediagen::makeTim(2, 6, 4, 7)}, // right after the one before
    };
    // Inside the pixels of the long TIM a whole small one, which is no finding: the pixels that
    // now hold it are read back from the bytes.
    TimPicture& longTim = placed[1].tim;
    const Bytes inner = mediagen::makeTim(2, 4, 4, 6).bytes;
    std::copy(inner.begin(), inner.end(), longTim.bytes.begin() + 2000);
    for (uint32_t n = 0; n < longTim.pixels.size(); ++n) {
        const uint8_t* p = &longTim.bytes[20 + n / 200 * 600 + n % 200 * 3];
        longTim.pixels[n] = uint32_t(p[0]) << 16 | p[1] << 8 | p[2];
    }
    discbuild::DiscBuilder b;
    b.addForeign(3);
    // A header whose 2WH + 12 equals its length only when cut to 32 bits hides nothing after it.
    Bytes huge(20, 0);
    for (const auto& [at, value] : {std::pair<size_t, uint32_t>{0, 0x10}, {4, 2}, {8, 0xFFFC000E}, {16, ~0u}})
        mediagen::put32(&huge[at], value);
    mediagen::placeData(b, 3, 0, huge);
    for (const Placed& p : placed)
        mediagen::placeData(b, p.sector, p.offset, p.tim.bytes);
    // A TIM cut by the end of the track is no finding either.
    const Bytes cut = mediagen::makeTim(2, 60, 30, 8).bytes;
    mediagen::placeData(b, 26, 1000, Bytes(cut.begin(), cut.begin() + 1048));

    const std::unique_ptr<discbuild::Image> image = b.write();
    ASSERT_TRUE(image);
    const int32_t drive = CdMountImage(image->cue.c_str());
    ASSERT_GE(drive, 0) << CdImageError();
    PluginBinding* binding = LbrOpenPSR(kPlugin);
    ASSERT_NE(binding, nullptr);
    const std::vector<StrInfo> found = discprobe::probeDisc(binding, drive);
    ASSERT_EQ(found.size(), placed.size());
    for (size_t i = 0; i < placed.size(); ++i) {
        const Placed& p = placed[i];
        SCOPED_TRACE(testing::Message() << "TIM at " << p.sector << "/" << p.offset);
        StrInfo info = found[i];
        EXPECT_EQ(info.startSector, p.sector);
        EXPECT_EQ(info.reserved, p.offset);
        EXPECT_EQ(info.sectorCount, (p.tim.bytes.size() + p.offset + 2047) / 2048);
        EXPECT_EQ(info.dataBytes, p.tim.bytes.size());
        const StreamPtr stream = openStream(nullptr, drive, info);
        ASSERT_TRUE(stream);
        EXPECT_TRUE(decodeOnly(stream.get(), p.tim, 24) == expectedColours(p.tim));
        // An area too short for the bytes opens nothing.
        --info.sectorCount;
        EXPECT_FALSE(openStream(nullptr, drive, info));
    }
    LbrClosePSR(binding);
    CdUnmountImage(drive);
}

} // namespace
