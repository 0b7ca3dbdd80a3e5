#include "edc_ecc.h"

#include <array>
#include <cstring>

namespace discport::image {
namespace {

constexpr uint8_t kSync[12] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};

constexpr std::array<uint32_t, 256> makeEdcTable()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t value = i;
        for (int bit = 0; bit < 8; ++bit)
            value = (value >> 1) ^ ((value & 1) ? 0xD8018001u : 0u);
        table[i] = value;
    }
    return table;
}
constexpr std::array<uint32_t, 256> kEdcTable = makeEdcTable();

// GF(2^8) of the parity codes: primitive polynomial x^8 + x^4 + x^3 + x^2 + 1, alpha = 2.
struct Field
{
    std::array<uint8_t, 512> exp{};
    std::array<uint8_t, 256> log{};
};
constexpr Field makeField()
{
    Field field;
    uint32_t value = 1;
    for (int i = 0; i < 255; ++i) {
        field.exp[i] = uint8_t(value);
        field.exp[i + 255] = uint8_t(value);
        field.log[value] = uint8_t(i);
        value <<= 1;
        if (value & 0x100)
            value ^= 0x11D;
    }
    return field;
}
constexpr Field kField = makeField();

constexpr uint8_t multiply(uint8_t a, uint8_t b)
{
    if (a == 0 || b == 0)
        return 0;
    return kField.exp[kField.log[a] + kField.log[b]];
}

// 1 / (alpha + 1): the divisor that solves the two check equations for the first parity byte.
constexpr uint8_t kInverseAlphaPlusOne = kField.exp[255 - kField.log[3]];
constexpr uint8_t kAlphaSquared = 4;

// Two parity bytes p0, p1 that follow `count` data bytes so that the code word c satisfies
// sum(c[i]) = 0 and sum(c[i] * alpha^(n-1-i)) = 0 with n = count + 2. `at(k)` gives the k-th data byte.
template <typename At> void parityPair(int count, At at, uint8_t& p0, uint8_t& p1)
{
    uint8_t weighted = 0; // Horner: sum d[i] * alpha^(count-1-i)
    uint8_t sum = 0;
    for (int k = 0; k < count; ++k) {
        const uint8_t d = at(k);
        weighted = uint8_t(multiply(weighted, 2) ^ d);
        sum ^= d;
    }
    // With A = weighted * alpha^2 and B = sum: p0 * alpha + p1 = A and p0 + p1 = B.
    const uint8_t a = multiply(weighted, kAlphaSquared);
    p0 = multiply(uint8_t(a ^ sum), kInverseAlphaPlusOne);
    p1 = uint8_t(p0 ^ sum);
}

uint8_t toBcd(uint32_t value)
{
    return uint8_t(((value / 10) % 10) << 4 | (value % 10));
}

void storeLittleEndian(uint8_t* at, uint32_t value)
{
    at[0] = uint8_t(value);
    at[1] = uint8_t(value >> 8);
    at[2] = uint8_t(value >> 16);
    at[3] = uint8_t(value >> 24);
}

} // namespace

uint32_t computeEdc(const uint8_t* data, size_t size, uint32_t crc)
{
    for (size_t i = 0; i < size; ++i)
        crc = (crc >> 8) ^ kEdcTable[(crc ^ data[i]) & 0xFF];
    return crc;
}

void writeSyncAndHeader(uint8_t* sector, uint32_t lba, uint8_t mode)
{
    std::memcpy(sector, kSync, sizeof kSync);
    const uint32_t address = lba + kLeadInSectors;
    sector[12] = toBcd(address / (60 * 75));
    sector[13] = toBcd((address / 75) % 60);
    sector[14] = toBcd(address % 75);
    sector[15] = mode;
}

void computeEccPQ(uint8_t* sector, bool zeroHeader)
{
    uint8_t savedHeader[4];
    std::memcpy(savedHeader, sector + 12, 4);
    if (zeroHeader)
        std::memset(sector + 12, 0, 4);

    // The 2340 bytes from 0x00C are two interleaved planes of 16-bit words: rows of 43 words
    // (86 bytes). P code words are the columns (24 rows of data, 2 of parity); Q code words the
    // diagonals, stepping one row and one word (88 bytes) through the 26 rows of data and P.
    uint8_t* const base = sector + 12;
    for (int column = 0; column < 86; ++column) {
        uint8_t p0, p1;
        parityPair(
            24, [&](int row) { return base[86 * row + column]; }, p0, p1);
        base[86 * 24 + column] = p0;
        base[86 * 25 + column] = p1;
    }
    constexpr int kQArea = 86 * 26;
    for (int diagonal = 0; diagonal < 52; ++diagonal) {
        const int start = (diagonal >> 1) * 86 + (diagonal & 1);
        uint8_t q0, q1;
        parityPair(
            43, [&](int k) { return base[(start + 88 * k) % kQArea]; }, q0, q1);
        base[kQArea + diagonal] = q0;
        base[kQArea + 52 + diagonal] = q1;
    }

    if (zeroHeader)
        std::memcpy(sector + 12, savedHeader, 4);
}

void completeMode1Sector(uint8_t* sector, uint32_t lba)
{
    writeSyncAndHeader(sector, lba, 1);
    storeLittleEndian(sector + 2064, computeEdc(sector, 2064));
    std::memset(sector + 2068, 0, 8);
    computeEccPQ(sector, false);
}

void completeMode2Sector(uint8_t* sector, uint32_t lba)
{
    writeSyncAndHeader(sector, lba, 2);
    if (sector[18] & 0x20) {
        storeLittleEndian(sector + 2348, computeEdc(sector + 16, 2332));
    } else {
        storeLittleEndian(sector + 2072, computeEdc(sector + 16, 2056));
        computeEccPQ(sector, true);
    }
}

} // namespace discport::image
