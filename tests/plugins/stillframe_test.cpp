// The Stillframe plugin on TIM files and on disc images, through libstreamkit as the application
// drives it: every pixel depth decoded by the host's LbrDecodeFrame and compared with the colours
// worked out here from what the generator chose, the recognition rule's edge cases, TIMs found at
// their sectors and offsets, the unit's address honoured only while its stream is open, and
// tamrin-cli's BMP of a TIM file.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "../cli/picture_compare.h"
#include "../mediagen/tim_layout.h"
#include "../support/scratch_folder.h"
#include "disc_builder.h"
#include "disc_probe.h"
#include "discport/discport.h"
#include "streamkit/lbr.h"
#include "unit_reader.h"

namespace {

namespace fs = std::filesystem;
using mediagen::Bytes;
using mediagen::TimPicture;

constexpr const char* kPlugin = "Stillframe.psr";

struct Rgb
{
    uint8_t r, g, b;
    bool operator==(const Rgb&) const = default;
};

Rgb fromFiveBits(uint32_t c)
{
    return {uint8_t((c & 31) * 8), uint8_t((c >> 5 & 31) * 8), uint8_t((c >> 10 & 31) * 8)};
}

// What each pixel should look like, top row first.
std::vector<Rgb> expectedColours(const TimPicture& t)
{
    std::vector<Rgb> out;
    for (uint32_t p : t.pixels) {
        if (t.mode <= 1)
            out.push_back(fromFiveBits(t.table.at(p)));
        else if (t.mode == 2)
            out.push_back(fromFiveBits(p));
        else
            out.push_back({uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)});
    }
    return out;
}

// The pixels of a bottom-up 24- or 16-bit picture, top row first; 16-bit channels widened as
// the expectations are (five bits times 8).
std::vector<Rgb> pictureColours(const FrameDib* picture)
{
    std::vector<Rgb> out;
    const auto* rows = reinterpret_cast<const uint8_t*>(picture) + sizeof(FrameDib);
    const size_t stride = (size_t(picture->width) * picture->bitCount + 31) / 32 * 4;
    for (int32_t y = picture->height - 1; y >= 0; --y) {
        const uint8_t* row = rows + size_t(y) * stride;
        for (int32_t x = 0; x < picture->width; ++x) {
            if (picture->bitCount == 24) {
                out.push_back({row[3 * x + 2], row[3 * x + 1], row[3 * x]});
            } else {
                const uint32_t v = uint32_t(row[2 * x] | row[2 * x + 1] << 8);
                out.push_back(fromFiveBits((v >> 10 & 31) | (v & 0x3E0) | (v & 31) << 10));
            }
        }
    }
    return out;
}

void writeBytes(const fs::path& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                std::streamsize(bytes.size()));
}

struct StreamCloser
{
    void operator()(StreamState* s) const { LbrCloseStream(s); }
};
using StreamPtr = std::unique_ptr<StreamState, StreamCloser>;

// Reads the stream's one picture and decodes it at `bits`; checks the unit and the stream's end.
std::vector<Rgb> decodeOnly(StreamState* stream, uint32_t width, uint32_t height, int32_t bits)
{
    movietest::RecordBuffer record;
    EXPECT_EQ(LbrSeekStream(stream, 0), 1);
    if (LbrReadStream(stream, LBR_WANT_VIDEO, record.get()) != 1) {
        ADD_FAILURE() << "no picture";
        return {};
    }
    EXPECT_EQ(record.get()->frameNumber, 1u);
    EXPECT_EQ(record.get()->width, width);
    EXPECT_EQ(record.get()->height, height);
    clitest::PicturePtr picture(LbrDecodeFrame(stream, record.get(), bits, 0, nullptr));
    movietest::RecordBuffer after;
    EXPECT_EQ(LbrReadStream(stream, 0, after.get()), 0) << "one picture only";
    if (!picture) {
        ADD_FAILURE() << "not decoded";
        return {};
    }
    EXPECT_EQ(picture->bitCount, bits);
    return pictureColours(picture.get());
}

class StillframeFiles : public testing::Test
{
  protected:
    void SetUp() override
    {
        m_binding = LbrOpenPSR(kPlugin);
        ASSERT_NE(m_binding, nullptr);
        ASSERT_TRUE(m_folder.made());
    }
    void TearDown() override
    {
        if (m_binding)
            LbrClosePSR(m_binding);
    }

    fs::path file(const Bytes& bytes, const std::string& name = "picture.tim")
    {
        const fs::path path = m_folder.path() / name;
        writeBytes(path, bytes);
        return path;
    }

    PluginBinding* m_binding = nullptr;
    testsupport::ScratchFolder m_folder{"stillframe"};
};

TEST_F(StillframeFiles, EveryDepthDecodesPixelForPixel)
{
    const struct
    {
        uint32_t mode;
        uint16_t words, height, entries;
    } cases[] = {
        {0, 5, 7, 16},   // 20 pixels: W not a multiple of 4, odd height
        {0, 3, 4, 16},   // 12 pixels
        {1, 5, 6, 256},  // 10 pixels, a full table
        {1, 7, 5, 32},   // a table of two rows
        {2, 7, 5, 0},    // 7 pixels: rows padded in the picture
        {2, 4, 9, 0},    //
        {3, 6, 5, 0},    // 4 pixels in 12 bytes
        {3, 7, 4, 0},    // 4 pixels, two spare bytes a row
        {3, 8, 6, 0},    // 5 pixels, one spare byte a row
        {3, 33, 4, 0},   // 22 pixels
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << ", W " << c.words << ", H " << c.height);
        const TimPicture tim = mediagen::makeTim(c.mode, c.words, c.height, c.words * 31 + c.mode, c.entries);
        const fs::path path = file(tim.bytes);
        ASSERT_EQ(LbrIsSupportFile(m_binding, path.c_str()), 1);
        StrInfo info{};
        ASSERT_EQ(LbrGetStrFileInfo(m_binding, path.c_str(), &info), 1);
        EXPECT_EQ(info.kind, StrStill);
        EXPECT_EQ(info.width, tim.width());
        EXPECT_EQ(info.height, tim.height);
        EXPECT_EQ(info.outWidth, tim.width());
        EXPECT_EQ(info.outHeight, tim.height);
        EXPECT_EQ(info.dataBytes, tim.bytes.size());
        EXPECT_EQ(info.frameCount, 1u);
        EXPECT_EQ(info.durationMs, 1000u);

        StreamPtr stream(LbrOpenStream(kPlugin, path.c_str(), 0, &info, LBR_WANT_VIDEO));
        ASSERT_TRUE(stream);
        const std::vector<Rgb> expected = expectedColours(tim);
        EXPECT_TRUE(decodeOnly(stream.get(), tim.width(), tim.height, 24) == expected);
        // 16-bit pictures keep five bits a channel.
        std::vector<Rgb> fiveBits = expected;
        for (Rgb& c : fiveBits)
            c = {uint8_t(c.r & 0xF8), uint8_t(c.g & 0xF8), uint8_t(c.b & 0xF8)};
        EXPECT_TRUE(decodeOnly(stream.get(), tim.width(), tim.height, 16) == fiveBits);
    }
}

// The recognition rule on files made from a sound TIM by one change each.
TEST_F(StillframeFiles, RecognitionEdgeCases)
{
    const auto base = [](uint32_t mode, uint16_t words, uint16_t height) {
        return mediagen::makeTim(mode, words, height, 5).bytes;
    };
    // Offset of the image block of an unindexed TIM.
    constexpr size_t kImage = 8;
    const struct
    {
        const char* what;
        std::function<Bytes()> make;
        uint32_t width, height; // 0: refused
    } cases[] = {
        {"4-bit, 16 entries, W 16, H 32", [&] { return base(0, 16, 32); }, 64, 32},
        {"trailing bytes after the TIM",
         [&] {
             Bytes b = base(2, 4, 4);
             b.resize(b.size() + 100, 0x10);
             return b;
         },
         4, 4},
        {"16-bit with the table bit",
         [&] {
             Bytes b = base(2, 4, 4);
             b[4] = 0x0A;
             return b;
         },
         0, 0},
        {"8-bit without a table",
         [&] {
             Bytes b = base(2, 4, 4);
             b[4] = 0x01;
             return b;
         },
         0, 0},
        {"pixel mode 4", [&] {
             Bytes b = base(2, 4, 4);
             b[4] = 0x04;
             return b;
         }, 0, 0},
        {"flags above 15", [&] {
             Bytes b = base(2, 4, 4);
             b[4] = 0x12;
             return b;
         }, 0, 0},
        {"identifier 0x11", [&] {
             Bytes b = base(2, 4, 4);
             b[0] = 0x11;
             return b;
         }, 0, 0},
        {"3 pixels wide (16-bit)", [&] { return base(2, 3, 8); }, 0, 0},
        {"3 pixels wide (24-bit, W 5)", [&] { return base(3, 5, 8); }, 0, 0},
        {"3 rows", [&] { return base(2, 8, 3); }, 0, 0},
        {"a table of 257 entries", [&] { return mediagen::makeTim(1, 4, 4, 5, 257).bytes; }, 0, 0},
        {"table length odd",
         [&] {
             Bytes b = base(0, 4, 4);
             mediagen::put32(&b[8], mediagen::le32(&b[8]) + 1);
             return b;
         },
         0, 0},
        {"image length not 2WH + 12",
         [&] {
             Bytes b = base(2, 4, 4);
             mediagen::put32(&b[kImage], mediagen::le32(&b[kImage]) + 2);
             return b;
         },
         0, 0},
        {"0xFFFF x 0xFFFF, length 2WH + 12 cut to 32 bits",
         [&] {
             Bytes b = base(2, 4, 4);
             mediagen::put16(&b[kImage + 8], 0xFFFF);
             mediagen::put16(&b[kImage + 10], 0xFFFF);
             mediagen::put32(&b[kImage], uint32_t(2ull * 0xFFFF * 0xFFFF + 12));
             return b;
         },
         0, 0},
        {"a file shorter than its TIM",
         [&] {
             Bytes b = base(2, 4, 4);
             b.resize(b.size() - 2);
             return b;
         },
         0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path path = file(c.make());
        StrInfo info{};
        const bool accepted = c.width != 0;
        EXPECT_EQ(LbrIsSupportFile(m_binding, path.c_str()), accepted ? 1 : 0);
        EXPECT_EQ(LbrGetStrFileInfo(m_binding, path.c_str(), &info), accepted ? 1 : 0);
        if (accepted) {
            EXPECT_EQ(info.width, c.width);
            EXPECT_EQ(info.height, c.height);
        }
    }
}

// The unit carries the address of the stream's bytes: decoded while the stream is open, with a
// picture of the unit's size; refused for a closed stream, an address no stream holds and a
// picture of another size.
TEST_F(StillframeFiles, UnitAddressIsHonouredOnlyWhileItsStreamIsOpen)
{
    void* module = LbrGetPluginInst(m_binding);
    const auto open = reinterpret_cast<PsrOpenFileFn>(dlsym(module, "PsrOpenFile"));
    const auto read = reinterpret_cast<PsrReadFn>(dlsym(module, "PsrRead"));
    const auto close = reinterpret_cast<PsrCloseFn>(dlsym(module, "PsrClose"));
    const auto decode = reinterpret_cast<PsrDecodeFrameFn>(dlsym(module, "PsrDecodeFrame"));
    ASSERT_TRUE(open && read && close && decode);

    const TimPicture tim = mediagen::makeTim(1, 6, 5, 9, 256);
    const fs::path path = file(tim.bytes);
    StrInfo info{};
    ASSERT_EQ(LbrGetStrFileInfo(m_binding, path.c_str(), &info), 1);
    void* handle = open(path.c_str(), &info);
    ASSERT_NE(handle, nullptr);
    movietest::RecordBuffer record;
    ASSERT_EQ(read(handle, record.get()), 1);
    EXPECT_EQ(record.get()->payloadBytes, sizeof(void*));
    EXPECT_EQ(record.get()->param, 10);

    clitest::PicturePtr picture(LbrAllocBitmap(12, 5, 1, 24, nullptr));
    clitest::PicturePtr small(LbrAllocBitmap(11, 5, 1, 24, nullptr));
    ASSERT_TRUE(picture && small);
    EXPECT_EQ(decode(record.get(), small.get()), -1);
    ASSERT_EQ(decode(record.get(), picture.get()), reinterpret_cast<intptr_t>(picture.get()));
    EXPECT_TRUE(pictureColours(picture.get()) == expectedColours(tim));

    movietest::RecordBuffer forged;
    std::memcpy(forged.get(), record.get(), PSR_READ_HEADER_BYTES + sizeof(void*));
    const uint8_t* elsewhere = tim.bytes.data();
    std::memcpy(forged.get()->payload, &elsewhere, sizeof elsewhere);
    EXPECT_EQ(decode(forged.get(), picture.get()), -1) << "an address no stream holds";
    forged.get()->payloadBytes = 4;
    EXPECT_EQ(decode(forged.get(), picture.get()), -1);

    EXPECT_EQ(close(handle), 1);
    EXPECT_EQ(decode(record.get(), picture.get()), -1) << "the stream is closed";
}

TEST_F(StillframeFiles, CliWritesTheBitmapOfATimFile)
{
    const fs::path cli = fs::path(TAMRIN_OUT_DIR) / "tamrin-cli";
    if (!fs::exists(cli))
        GTEST_SKIP() << "tamrin-cli is not built";
    const TimPicture tim = mediagen::makeTim(3, 13, 7, 4); // 8 pixels, two spare bytes a row
    const fs::path path = file(tim.bytes, "still.tim");
    const fs::path bmp = m_folder.path() / "still.bmp";
    std::ostringstream command;
    command << "TAMRIN_HOME='" << m_folder.path().string() << "' '" << cli.string() << "' convert '"
            << path.string() << "' --to bmp --out '" << bmp.string() << "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.str().c_str()), 0);
    std::ifstream in(bmp, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string error;
    const auto image = clitest::parseBmp(bytes, error);
    ASSERT_TRUE(image) << error;
    ASSERT_EQ(image->width, int32_t(tim.width()));
    ASSERT_EQ(image->height, int32_t(tim.height));
    std::vector<Rgb> colours;
    for (size_t i = 0; i + 2 < image->rgb.size(); i += 3)
        colours.push_back({image->rgb[i], image->rgb[i + 1], image->rgb[i + 2]});
    EXPECT_TRUE(colours == expectedColours(tim));
}

// ---- disc images --------------------------------------------------------------------------------

// For 24-bit TIMs whose bytes were changed after they were made: the pixels read back from the
// bytes, red, green, blue, each row 2W bytes.
void pixelsFromBytes(TimPicture& t)
{
    const size_t start = 8 + 12;
    for (uint32_t y = 0; y < t.height; ++y)
        for (uint32_t x = 0; x < t.width(); ++x) {
            const uint8_t* p = &t.bytes[start + y * 2 * size_t(t.wordsPerRow) + 3 * x];
            t.pixels[y * t.width() + x] = uint32_t(p[0]) << 16 | p[1] << 8 | p[2];
        }
}

TEST(StillframeDisc, TimsAreFoundAtTheirSectorsAndOffsetsAndDecode)
{
    struct Placed
    {
        uint32_t sector;
        uint32_t offset;
        TimPicture tim;
    };
    std::vector<Placed> placed = {
        {4, 0, mediagen::makeTim(1, 9, 6, 1, 256)},
        // From offset 1800 over six more sectors; inside its pixels a whole small TIM that is no
        // finding of its own.
        {10, 1800, mediagen::makeTim(3, 300, 20, 2)},
        // The header cut by the sector's end.
        {20, 2040, mediagen::makeTim(2, 8, 8, 3)},
        {22, 100, mediagen::makeTim(0, 5, 4, 4)},
    };
    const Bytes inner = mediagen::makeTim(2, 4, 4, 6).bytes;
    std::copy(inner.begin(), inner.end(), placed[1].tim.bytes.begin() + 2000);
    pixelsFromBytes(placed[1].tim);
    // Back to back with the one before.
    placed.push_back({22, uint32_t(100 + placed[3].tim.bytes.size()), mediagen::makeTim(2, 6, 4, 7)});

    discbuild::DiscBuilder b;
    b.addForeign(3);
    for (const Placed& p : placed)
        mediagen::placeData(b, p.sector, p.offset, p.tim.bytes);
    // A TIM cut by the end of the track is no finding.
    const TimPicture cut = mediagen::makeTim(2, 60, 30, 8);
    mediagen::placeData(b, 26, 1000, Bytes(cut.bytes.begin(), cut.bytes.begin() + 1048));

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
        EXPECT_EQ(info.kind, StrStill);
        EXPECT_EQ(info.width, p.tim.width());
        EXPECT_EQ(info.height, p.tim.height);
        StreamPtr stream(LbrOpenStream(kPlugin, nullptr, drive, &info, LBR_WANT_VIDEO));
        ASSERT_TRUE(stream);
        EXPECT_TRUE(decodeOnly(stream.get(), p.tim.width(), p.tim.height, 24) == expectedColours(p.tim));
        // A description whose area is too short for its bytes opens nothing.
        StrInfo shortArea = info;
        shortArea.sectorCount = info.sectorCount - 1;
        EXPECT_EQ(LbrOpenStream(kPlugin, nullptr, drive, &shortArea, LBR_WANT_VIDEO), nullptr);
    }
    LbrClosePSR(binding);
    CdUnmountImage(drive);
}

} // namespace
