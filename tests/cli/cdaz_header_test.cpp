// The CDAZ header reader of cdaz show, on headers built here: the disc texts found by their string
// indices, and every header that does not hold together refused.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cdaz_header.h"

namespace tamrin::cli {
namespace {

void putLe32(std::vector<uint8_t>& bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + size_t(i)] = uint8_t(value >> (8 * i));
}

// A header with the strings given (in string area order) and the string indices of the three
// disc identifiers.
std::vector<uint8_t> header(const std::vector<std::string>& strings, uint32_t system, uint32_t volume,
                            uint32_t publisher)
{
    std::vector<uint8_t> bytes(kCdazHeaderBytes);
    bytes[0] = 5;
    putLe32(bytes, 0x14, system);
    putLe32(bytes, 0x18, volume);
    putLe32(bytes, 0x1C, publisher);
    putLe32(bytes, 0x20, 0xFC0142);
    putLe32(bytes, 0x28, uint32_t(strings.size()));
    uint32_t area = 1;
    for (const std::string& text : strings) {
        bytes.insert(bytes.end(), text.begin(), text.end());
        bytes.push_back(0);
        area += uint32_t(text.size() + 1);
    }
    bytes.push_back(0);
    putLe32(bytes, 0x2C, area);
    return bytes;
}

TEST(CdazHeader, TextsAreFoundByTheirIndices)
{
    const auto parsed = parseCdazHeader(header({"NAME.cdaz", "PLAYSTATION", "DISC", "MAKER"}, 2, 3, 4));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->version, 5);
    EXPECT_EQ(parsed->analyzeVersion, 0xFC0142u);
    EXPECT_EQ(parsed->systemId, "PLAYSTATION");
    EXPECT_EQ(parsed->volumeId, "DISC");
    EXPECT_EQ(parsed->publisherId, "MAKER");

    // Index 0 is the empty text; one string may serve several fields; bytes above 0x7F become UTF-8.
    const auto shared = parseCdazHeader(header({"SAME", "Caf\xE9"}, 1, 0, 2));
    ASSERT_TRUE(shared);
    EXPECT_EQ(shared->systemId, "SAME");
    EXPECT_EQ(shared->volumeId, "");
    EXPECT_EQ(shared->publisherId, "Caf\xC3\xA9");

    // Bytes after the string area (the coded streams) are not read as strings.
    std::vector<uint8_t> longer = header({"A"}, 1, 1, 1);
    longer.insert(longer.end(), {0x41, 0x42, 0x43});
    ASSERT_TRUE(parseCdazHeader(longer));
    EXPECT_EQ(parseCdazHeader(longer)->systemId, "A");
}

TEST(CdazHeader, HeadersThatDoNotHoldTogetherAreRefused)
{
    const std::vector<uint8_t> good = header({"ONE", "TWO"}, 1, 2, 0);
    ASSERT_TRUE(parseCdazHeader(good));

    EXPECT_FALSE(parseCdazHeader({}));
    EXPECT_FALSE(parseCdazHeader(std::span(good).first(kCdazHeaderBytes - 1)));
    // The string area is cut short.
    EXPECT_FALSE(parseCdazHeader(std::span(good).first(good.size() - 1)));
    for (const uint8_t version : {0, 3, 4, 6, 255}) {
        std::vector<uint8_t> other = good;
        other[0] = version;
        EXPECT_FALSE(parseCdazHeader(other)) << int(version);
    }
    // An index beyond the strings, and a string area size beyond the bytes.
    EXPECT_FALSE(parseCdazHeader(header({"ONE", "TWO"}, 3, 1, 1)));
    EXPECT_FALSE(parseCdazHeader(header({"ONE"}, 1, 0xFFFFFFFFu, 1)));
    std::vector<uint8_t> huge = good;
    putLe32(huge, 0x2C, 0xFFFFFFFFu);
    EXPECT_FALSE(parseCdazHeader(huge));
    // More strings announced than the area holds: the missing ones cannot be named.
    std::vector<uint8_t> announced = header({"ONE"}, 1, 2, 0);
    putLe32(announced, 0x28, 5);
    EXPECT_FALSE(parseCdazHeader(announced));
    // A last string without its zero.
    std::vector<uint8_t> open = header({"ONE"}, 1, 0, 0);
    open.pop_back();
    open.pop_back();
    putLe32(open, 0x2C, 3);
    EXPECT_FALSE(parseCdazHeader(open));
}

} // namespace
} // namespace tamrin::cli
