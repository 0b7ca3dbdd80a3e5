// ISO images read as raw sectors: the sync, header, EDC and ECC made around the stored user data
// are checked here with computations of their own (a bitwise CRC, the parity check equations of
// the P and Q code words evaluated directly), not with the library's encoder.
#include <gtest/gtest.h>

#include "image/edc_ecc.h"
#include "image/image_transport.h"
#include "image_builder.h"

using namespace discport;
using namespace discport::imagetest;

namespace {

// CRC-32 with the reflected polynomial 0xD8018001, bit by bit.
uint32_t edcBitwise(const uint8_t* data, size_t size)
{
    uint32_t crc = 0;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xD8018001u : crc >> 1;
    }
    return crc;
}

uint32_t littleEndian(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// GF(2^8) with x^8 + x^4 + x^3 + x^2 + 1, multiplication by shift and add.
uint8_t gfMultiply(uint8_t a, uint8_t b)
{
    uint8_t product = 0;
    while (b) {
        if (b & 1)
            product ^= a;
        const bool carry = a & 0x80;
        a = uint8_t(a << 1);
        if (carry)
            a ^= 0x1D;
        b >>= 1;
    }
    return product;
}

uint8_t gfPower(int exponent)
{
    uint8_t value = 1;
    for (int i = 0; i < exponent; ++i)
        value = gfMultiply(value, 2);
    return value;
}

// Both check equations of a code word c[0..n-1]: sum c[i] = 0 and sum c[i] alpha^(n-1-i) = 0.
bool codeWordHolds(const std::vector<uint8_t>& c)
{
    uint8_t s0 = 0, s1 = 0;
    const int n = int(c.size());
    for (int i = 0; i < n; ++i) {
        s0 ^= c[i];
        s1 ^= gfMultiply(c[i], gfPower(n - 1 - i));
    }
    return s0 == 0 && s1 == 0;
}

// The 86 P code words (columns of 26 bytes) and 52 Q code words (diagonals of 43 bytes plus two)
// of a sector, counted from byte 12; returns how many fail their check equations.
int failingCodeWords(std::vector<uint8_t> sector, bool zeroHeader)
{
    if (zeroHeader)
        std::fill(sector.begin() + 12, sector.begin() + 16, 0);
    const uint8_t* b = sector.data() + 12;
    int failing = 0;
    for (int column = 0; column < 86; ++column) {
        std::vector<uint8_t> word;
        for (int row = 0; row < 26; ++row)
            word.push_back(b[86 * row + column]);
        failing += !codeWordHolds(word);
    }
    for (int diagonal = 0; diagonal < 52; ++diagonal) {
        const int plane = diagonal % 2;
        const int start = (diagonal / 2) * 86 + plane;
        std::vector<uint8_t> word;
        for (int k = 0; k < 43; ++k)
            word.push_back(b[(start + 88 * k) % (86 * 26)]);
        word.push_back(b[86 * 26 + diagonal]);
        word.push_back(b[86 * 26 + 52 + diagonal]);
        failing += !codeWordHolds(word);
    }
    return failing;
}

class IsoImage : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        iso.resize(24 * kUser);
        fillPattern(iso.data(), iso.size(), 0, 42);
        std::fill(iso.begin() + 5 * kUser, iso.begin() + 6 * kUser, 0); // an empty sector too
        writeBytes(dir.file("plain.iso"), iso);
        std::string error;
        transport = openImageTransport(dir.file("plain.iso"), error);
        ASSERT_TRUE(transport) << error;
    }

    TempDir dir;
    std::vector<uint8_t> iso;
    std::shared_ptr<ImageTransport> transport;
};

} // namespace

TEST(EdcEcc, TheCheckerNoticesDamage)
{
    // The checks above must be able to fail: an all-zero sector satisfies them, one changed byte
    // anywhere from 12 on does not.
    std::vector<uint8_t> zero(kRaw, 0);
    EXPECT_EQ(failingCodeWords(zero, false), 0);
    for (size_t at : {size_t(12), size_t(700), size_t(2075), size_t(2076), size_t(2300), size_t(2351)}) {
        std::vector<uint8_t> damaged = zero;
        damaged[at] = 0x5C;
        EXPECT_GT(failingCodeWords(damaged, false), 0) << at;
    }
    // The CRC of the check above matches a known value of the polynomial's bytewise form.
    const uint8_t one = 0x01;
    EXPECT_EQ(edcBitwise(&one, 1), discport::image::computeEdc(&one, 1));
    EXPECT_NE(edcBitwise(&one, 1), 0u);
}

TEST(EdcEcc, HeaderAddressIsMsfOfLbaPlus150InBcd)
{
    uint8_t sector[kRaw] = {};
    const struct
    {
        uint32_t lba;
        uint8_t m, s, f;
    } cases[] = {{0, 0x00, 0x02, 0x00},     {16, 0x00, 0x02, 0x16},   {74, 0x00, 0x02, 0x74},
                 {75, 0x00, 0x03, 0x00},    {4350, 0x01, 0x00, 0x00}, {100000, 0x22, 0x15, 0x25},
                 {449849, 0x99, 0x59, 0x74}};
    for (const auto& c : cases) {
        discport::image::writeSyncAndHeader(sector, c.lba, 2);
        EXPECT_EQ(sector[12], c.m) << c.lba;
        EXPECT_EQ(sector[13], c.s) << c.lba;
        EXPECT_EQ(sector[14], c.f) << c.lba;
        EXPECT_EQ(sector[15], 2);
    }
    const uint8_t sync[12] = {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0};
    EXPECT_TRUE(std::equal(sync, sync + 12, sector));
}

TEST_F(IsoImage, RawSectorsHaveValidEdcEccAndHeaders)
{
    ASSERT_EQ(transport->sectorCount(), 24u);
    const Reply reply = readCd(*transport, 0, 24, 0, 0xF8, 24 * kRaw);
    ASSERT_TRUE(reply.result.good());
    for (uint32_t lba = 0; lba < 24; ++lba) {
        const std::vector<uint8_t> s = slice(reply.data, lba * kRaw, kRaw);
        std::vector<uint8_t> expectedHeader(16, 0xFF);
        syncAndHeader(expectedHeader.data(), lba, 1);
        EXPECT_EQ(slice(s, 0, 16), expectedHeader) << lba;
        EXPECT_EQ(slice(s, 16, kUser), slice(iso, lba * kUser, kUser)) << lba;
        EXPECT_EQ(littleEndian(&s[2064]), edcBitwise(s.data(), 2064)) << lba;
        EXPECT_EQ(slice(s, 2068, 8), std::vector<uint8_t>(8, 0)) << lba;
        EXPECT_EQ(failingCodeWords(s, false), 0) << lba;
    }
}

TEST_F(IsoImage, Read10AnswersWithTheStoredBytes)
{
    const Reply reply = read10(*transport, 0, 24);
    ASSERT_TRUE(reply.result.good());
    EXPECT_EQ(reply.data, iso);
    // The track type test finds Mode 1; the TOC has one data track.
    EXPECT_TRUE(readCd(*transport, 0, 1, 0x08).result.good());
    EXPECT_TRUE(readCd(*transport, 0, 1, 0x08, 0x00, kRaw).result.good());
    EXPECT_FALSE(readCd(*transport, 0, 1, 4 << 2).result.good()); // not Mode 2 Form 1
    const Reply toc = readToc(*transport, 0, 816);
    ASSERT_TRUE(toc.result.good());
    EXPECT_EQ(
        slice(toc.data, 0, toc.result.transferred),
        (std::vector<uint8_t>{0, 0x12, 1, 1, 0, 0x14, 1, 0, 0, 0, 0, 0, 0, 0x14, 0xAA, 0, 0, 0, 0, 24}));
}

TEST(EdcEcc, Mode2SectorsOfBothForms)
{
    using namespace discport::image;
    // Form 1: EDC over 16..2071, parity computed with a zero header.
    std::vector<uint8_t> form1 = mode2Sector(1234, false, 8);
    std::fill(form1.begin() + 2072, form1.end(), 0);
    completeMode2Sector(form1.data(), 1234);
    EXPECT_EQ(littleEndian(&form1[2072]), edcBitwise(&form1[16], 2056));
    EXPECT_EQ(failingCodeWords(form1, true), 0);
    EXPECT_GT(failingCodeWords(form1, false), 0); // the header is really left out
    EXPECT_EQ(form1[12], bcd((1234 + 150) / 4500));
    EXPECT_EQ(form1[15], 2);

    // Form 2: EDC over 16..2347 at 2348; the bytes before it are left alone.
    std::vector<uint8_t> form2 = mode2Sector(99, true, 8);
    const std::vector<uint8_t> before = slice(form2, 16, 2332);
    completeMode2Sector(form2.data(), 99);
    EXPECT_EQ(littleEndian(&form2[2348]), edcBitwise(&form2[16], 2332));
    EXPECT_EQ(slice(form2, 16, 2332), before);
}

TEST(EdcEcc, EmptyDataSectorsOfAPregapAreValid)
{
    TempDir dir;
    std::vector<uint8_t> bin;
    for (uint32_t lba = 0; lba < 10; ++lba)
        append(bin, mode2Sector(lba, false, 1));
    writeBytes(dir.file("a.bin"), bin);
    writeBytes(dir.file("b.bin"), bin);
    // Track 2, Mode 2, with a PREGAP of 30 sectors not in the file.
    writeText(dir.file("g.cue"),
              "FILE a.bin BINARY\nTRACK 01 MODE2/2352\nINDEX 01 00:00:00\n"
              "FILE b.bin BINARY\nTRACK 02 MODE2/2352\nPREGAP 00:00:30\nINDEX 01 00:00:00\n");
    std::string error;
    auto transport = openImageTransport(dir.file("g.cue"), error);
    ASSERT_TRUE(transport) << error;
    for (uint32_t lba : {10u, 25u, 39u}) {
        const Reply reply = readCd(*transport, lba, 1, 4 << 2); // Mode 2 Form 1
        ASSERT_TRUE(reply.result.good()) << lba;
        std::vector<uint8_t> header(16);
        syncAndHeader(header.data(), lba, 2);
        EXPECT_EQ(slice(reply.data, 0, 16), header);
        EXPECT_EQ(slice(reply.data, 16, 2056), std::vector<uint8_t>(2056, 0));
        EXPECT_EQ(littleEndian(&reply.data[2072]), edcBitwise(&reply.data[16], 2056));
        EXPECT_EQ(failingCodeWords(reply.data, true), 0);
    }
    const Reply start = readCd(*transport, 40, 1);
    ASSERT_TRUE(start.result.good());
    EXPECT_EQ(start.data, slice(bin, 0, kRaw));
}
