// The sector kit's movie sector fields, sound key and sound tests, frame assembly and reader
// stream, on inline sectors and on a small built image.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "disc_builder.h"
#include "movie_builder.h"
#include "discport/discport.h"
#include "sectorkit/frame_assembly.h"
#include "sectorkit/sector_stream.h"
#include "sectorkit/str_sector.h"

using namespace sectorkit;

namespace {

using discbuild::Sector;

using movietest::put16;
using movietest::put32;

struct MovieFields
{
    uint16_t magic = 0x0160;
    uint16_t type = 0x8001;
    uint16_t index = 0;
    uint16_t count = 3;
    uint32_t frame = 1;
    uint32_t bytes = 5000;
    uint16_t width = 320;
    uint16_t height = 240;
    uint32_t headerAt = 2; // the MDEC header's 0x3800 word, among the 24 words from 0x3A
};

// A movie sector whose data bytes are their own offsets (mod 251), so a copied range shows where
// it came from.
Sector movieSector(const MovieFields& f)
{
    Sector s{};
    for (size_t i = 0x38; i < s.size(); ++i)
        s[i] = uint8_t(i % 251);
    discbuild::putSubHeader(s.data(), 1, 0, 0x48, 0);
    put16(&s[0x18], f.magic);
    put16(&s[0x1A], f.type);
    put16(&s[0x1C], f.index);
    put16(&s[0x1E], f.count);
    put32(&s[0x20], f.frame);
    put32(&s[0x24], f.bytes);
    put16(&s[0x28], f.width);
    put16(&s[0x2A], f.height);
    if (f.index == 0)
        put16(&s[0x3A + 2 * f.headerAt], 0x3800);
    return s;
}

TEST(SectorkitMovieSector, AcceptsOnlyWholeMovieHeaders)
{
    const struct
    {
        const char* why;
        MovieFields fields;
        bool movie;
    } cases[] = {
        {"an encoder's first sector", {}, true},
        {"a last sector", {.index = 2}, true},
        {"32 sectors a frame", {.count = 32}, true},
        {"header word 0x0150", {.magic = 0x0150}, false},
        {"header word 0", {.magic = 0}, false},
        {"no type bit", {.type = 0x0001}, false},
        {"index at the count", {.index = 3}, false},
        {"33 sectors a frame", {.count = 33}, false},
        {"frame 0", {.frame = 0}, false},
        {"no width", {.width = 0}, false},
        {"no height", {.height = 0}, false},
    };
    for (const auto& c : cases) {
        const Sector s = movieSector(c.fields);
        EXPECT_EQ(parseMovieSector(s.data(), s.size()).has_value(), c.movie) << c.why;
    }
    const Sector s = movieSector({});
    EXPECT_FALSE(parseMovieSector(s.data(), 0x2B)) << "too short to hold the height";
    EXPECT_FALSE(parseMovieSector(nullptr, kRawSectorBytes));
    const auto sized = parseMovieSector(movieSector({.count = 5, .bytes = 0}).data(), kRawSectorBytes);
    ASSERT_TRUE(sized);
    EXPECT_EQ(sized->frameBytes, 5u * 1008u) << "a stored size of 0";
}

TEST(SectorkitSound, KeyAndTests)
{
    Sector s{};
    discbuild::putSubHeader(s.data(), 1, 3, 0xE4, 0x05);
    EXPECT_EQ(soundKey(s.data()), 0x05640301u) << "end-of-file bit cleared";
    EXPECT_EQ(keyFileChannel(soundKey(s.data())), 0x0301);
    EXPECT_EQ(keyCoding(soundKey(s.data())), 0x05);
    EXPECT_TRUE(hasEndOfFile(s.data()));
    const struct
    {
        uint8_t submode;
        bool soundBits, xaAudio;
    } submodes[] = {
        {0x64, true, true},   {0xE4, true, true},   {0x65, true, false},  {0x7F, true, false},
        {0x44, false, false}, {0x60, false, false}, {0x48, false, false}, {0x24, false, false},
    };
    for (const auto& m : submodes) {
        EXPECT_EQ(hasSoundBits(m.submode), m.soundBits) << int(m.submode);
        EXPECT_EQ(isXaAudioSubmode(m.submode), m.xaAudio) << int(m.submode);
    }
}

class SectorkitFrame : public testing::Test
{
  protected:
    static constexpr uint32_t kCapacity = 32 * 2016;
    SectorkitFrame() : m_bytes(std::make_unique<uint8_t[]>(PSR_READ_HEADER_BYTES + kCapacity))
    {
        std::memset(record(), 0, PSR_READ_HEADER_BYTES);
    }
    PsrReadRecord* record() { return reinterpret_cast<PsrReadRecord*>(m_bytes.get()); }

    bool add(const MovieFields& f, uint32_t capacity = kCapacity)
    {
        const Sector s = movieSector(f);
        return m_frame.add(record(), s.data(), *parseMovieSector(s.data(), s.size()), capacity);
    }

    std::unique_ptr<uint8_t[]> m_bytes;
    FrameAssembly m_frame;
};

TEST_F(SectorkitFrame, GathersFromTheHeaderToTheStatedSize)
{
    EXPECT_FALSE(add({.index = 0}));
    EXPECT_TRUE(m_frame.started());
    EXPECT_EQ(record()->frameNumber, 1u);
    EXPECT_EQ(record()->width, 320u);
    EXPECT_EQ(record()->payloadBytes, 2012u) << "(1008 - 2) x 2 from the header position";
    EXPECT_EQ(record()->payload[0], uint8_t((0x38 + 4) % 251));
    EXPECT_FALSE(add({.index = 1}));
    EXPECT_EQ(record()->payloadBytes, 2012u + 2016u);
    EXPECT_TRUE(add({.index = 2}));
    EXPECT_EQ(record()->payloadBytes, 5000u) << "cut to the frame's size";
    EXPECT_EQ(record()->payload[2012], uint8_t(0x38 % 251)) << "later sectors from their data start";
}

TEST_F(SectorkitFrame, HeaderNotFoundStartsPastTheSearchedWords)
{
    Sector s = movieSector({.bytes = 3000});
    put16(&s[0x3A + 4], 0); // no 0x3800 and no 0x3000 among the 24 words: position 24
    EXPECT_FALSE(m_frame.add(record(), s.data(), *parseMovieSector(s.data(), s.size()), kCapacity));
    EXPECT_EQ(record()->payloadBytes, 1968u);
    EXPECT_EQ(record()->payload[0], uint8_t((0x38 + 48) % 251));
    EXPECT_FALSE(add({.index = 1, .bytes = 3000}));
    EXPECT_EQ(record()->payloadBytes, 3000u);
}

TEST_F(SectorkitFrame, RestartsOnANewFirstSectorAndIgnoresStrayOnes)
{
    EXPECT_FALSE(add({.index = 2})) << "the last sector of a frame never started";
    EXPECT_EQ(record()->payloadBytes, 0u);
    add({.index = 0});
    add({.index = 1});
    add({.index = 0, .frame = 2});
    EXPECT_EQ(record()->frameNumber, 2u);
    EXPECT_EQ(record()->payloadBytes, 2012u) << "the unfinished frame is dropped";
    m_frame.reset();
    EXPECT_FALSE(add({.index = 2}));
}

TEST_F(SectorkitFrame, NeverWritesPastTheCapacity)
{
    add({.index = 0, .bytes = 0xFFFFFFFF}, 3000);
    EXPECT_EQ(record()->payloadBytes, 2012u);
    add({.index = 1, .bytes = 0xFFFFFFFF}, 3000);
    EXPECT_EQ(record()->payloadBytes, 3000u);
    EXPECT_TRUE(add({.index = 2, .bytes = 0xFFFFFFFF}, 3000));
    EXPECT_EQ(record()->payloadBytes, 3000u);
}

// A built image of numbered sectors, mounted.
class SectorkitStream : public testing::Test
{
  protected:
    void SetUp() override
    {
        discbuild::DiscBuilder b;
        for (uint32_t i = 0; i < 20; ++i) {
            Sector s = discbuild::foreignSector(1, i);
            s[0x18] = uint8_t(i);
            b.add(s);
        }
        m_image = b.write();
        ASSERT_TRUE(m_image);
        m_drive = CdMountImage(m_image->cue.c_str());
        ASSERT_GE(m_drive, 0);
    }
    void TearDown() override
    {
        if (m_drive >= 0)
            CdUnmountImage(m_drive);
    }

    std::unique_ptr<discbuild::Image> m_image;
    int32_t m_drive = -1;
};

TEST_F(SectorkitStream, OpensOnlyUsableAreas)
{
    SectorStream stream;
    EXPECT_FALSE(stream.open(m_drive, 0, 0, kHighestSpeed));
    EXPECT_FALSE(stream.open(m_drive, 0, 0x80000000u, kHighestSpeed));
    EXPECT_FALSE(stream.open(m_drive + 9, 0, 4, kHighestSpeed));
    EXPECT_FALSE(stream.isOpen());
    EXPECT_EQ(stream.next(), nullptr);
    EXPECT_FALSE(stream.seek(0));
    ASSERT_TRUE(stream.open(m_drive, 5, 4, kHighestSpeed));
    const uint8_t* s = stream.next();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s[0x18], 5);
    stream.release(s);
}

TEST_F(SectorkitStream, HoldsInArrivalOrderAndSeekReleases)
{
    SectorStream stream;
    ASSERT_TRUE(stream.open(m_drive, 0, 20, kHighestSpeed));
    for (size_t i = 0; i < SectorStream::kMaxHeld; ++i)
        EXPECT_TRUE(stream.hold(stream.next()));
    EXPECT_FALSE(stream.hold(stream.next())) << "the ninth is released and lost";
    const uint8_t* first = stream.takeHeld();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first[0x18], 0);
    stream.release(first);
    EXPECT_TRUE(stream.hold(stream.next()));
    for (uint8_t expected : {1, 2, 3, 4, 5, 6, 7, 9}) {
        const uint8_t* s = stream.takeHeld();
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s[0x18], expected);
        stream.release(s);
    }
    EXPECT_FALSE(stream.anyHeld());

    stream.hold(stream.next());
    EXPECT_TRUE(stream.seek(18));
    EXPECT_FALSE(stream.anyHeld());
    const uint8_t* s = stream.next();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s[0x18], 18);
    stream.release(s);
    EXPECT_TRUE(stream.seek(1000)) << "clamped to the end";
    EXPECT_EQ(stream.next(), nullptr);
}

TEST_F(SectorkitStream, HeldSoundBecomesOneUnitWithinItsCapacity)
{
    SectorStream stream;
    ASSERT_TRUE(stream.open(m_drive, 0, 20, kHighestSpeed));
    for (int i = 0; i < 3; ++i)
        stream.hold(stream.next());
    const uint32_t capacity = 2 * uint32_t(kXaAudioDataBytes);
    auto bytes = std::make_unique<uint8_t[]>(PSR_READ_HEADER_BYTES + capacity);
    auto* record = reinterpret_cast<PsrReadRecord*>(bytes.get());
    EXPECT_EQ(deliverHeldSound(stream, record, capacity), 2u) << "the third does not fit";
    EXPECT_EQ(record->payloadBytes, capacity);
    EXPECT_EQ(record->frameNumber, 0u);
    EXPECT_EQ(record->payload[0], 0);
    EXPECT_EQ(record->payload[kXaAudioDataBytes], 1);
    EXPECT_FALSE(stream.anyHeld());
}

TEST_F(SectorkitStream, ReadsDataAcrossSectorsInEitherForm)
{
    // User data: the 2048 bytes after the sub-header; bytes from offset 2000 of sector 3 on.
    SectorStream data;
    ASSERT_TRUE(data.open(m_drive, 3, 4, kHighestSpeed, SectorForm::UserData));
    EXPECT_EQ(data.sectorBytes(), kUserDataBytes);
    std::vector<uint8_t> bytes(5000);
    EXPECT_EQ(data.readBytes(bytes.data(), 100, 2000), 100u);
    EXPECT_EQ(0, std::memcmp(bytes.data(), m_image->raw(3) + 24 + 2000, 48));
    EXPECT_EQ(0, std::memcmp(bytes.data() + 48, m_image->raw(4) + 24, 52));
    // What is left of the area (sectors 5 and 6), then the end.
    EXPECT_EQ(data.readBytes(bytes.data(), bytes.size(), 0), 2u * kUserDataBytes);
    EXPECT_EQ(0, std::memcmp(bytes.data() + kUserDataBytes, m_image->raw(6) + 24, kUserDataBytes));
    EXPECT_EQ(data.readBytes(bytes.data(), 10, 0), 0u);

    // Raw sectors, taking only their data bytes from 0x18; an offset inside the header counts
    // from the data start.
    SectorStream raw;
    ASSERT_TRUE(raw.open(m_drive, 0, 2, kHighestSpeed));
    EXPECT_EQ(raw.sectorBytes(), kRawSectorBytes);
    EXPECT_EQ(raw.readBytes(bytes.data(), 2 * 2328, 0, 24), 2u * 2328u);
    EXPECT_EQ(0, std::memcmp(bytes.data(), m_image->raw(0) + 24, 2328));
    EXPECT_EQ(0, std::memcmp(bytes.data() + 2328, m_image->raw(1) + 24, 2328));
    // An offset past the sector's end takes nothing from it.
    ASSERT_TRUE(raw.seek(0));
    EXPECT_EQ(raw.readBytes(bytes.data(), 4, 5000, 24), 4u);
    EXPECT_EQ(0, std::memcmp(bytes.data(), m_image->raw(1) + 24, 4));
}

} // namespace
