// The probes' candidate search against a plain walk written here: crafted buffers with the pattern
// at the edges of the 16- and 64-byte rounds, at the wrong alignment, cut by the end or masked;
// then random buffers over a small alphabet (so that near-misses abound), where every search path
// the processor has (the plain walk, 16- and 32-byte compares) and the walk here must give the
// same offset. Buffers are allocated at their exact size, so that a read past the end shows in
// the sanitizer build.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "sectorkit/find_pattern.h"

using namespace sectorkit;

namespace {

// The answer by definition: every offset from `from` in steps of `step`, each byte under its mask.
size_t naiveFind(const std::vector<uint8_t>& data, const BytePattern& pattern, size_t step, size_t from)
{
    const size_t size = data.size();
    if (step == 0 || pattern.length == 0 || pattern.length > 4)
        return size;
    for (size_t p = from; p + pattern.length <= size; p += step) {
        bool all = true;
        for (size_t k = 0; k < pattern.length; ++k)
            all = all && (data[p + k] & pattern.mask[k]) == (pattern.bytes[k] & pattern.mask[k]);
        if (all)
            return p;
    }
    return size;
}

constexpr detail::SearchPath kPaths[] = {detail::SearchPath::Portable, detail::SearchPath::Vector16,
                                         detail::SearchPath::Vector32};

// The answer of findPattern itself and of each path there is, over an exact-size copy of `data`.
std::vector<size_t> find(const std::vector<uint8_t>& data, const BytePattern& pattern, size_t step,
                         size_t from)
{
    const size_t size = data.size();
    std::unique_ptr<uint8_t[]> exact(new uint8_t[size ? size : 1]);
    std::copy(data.begin(), data.end(), exact.get());
    std::vector<size_t> answers{findPattern(exact.get(), size, pattern, step, from)};
    for (const detail::SearchPath path : kPaths)
        if (detail::hasSearchPath(path))
            answers.push_back(detail::findPatternBy(path, exact.get(), size, pattern, step, from));
    return answers;
}

TEST(FindPattern, TheProcessorsPathsAreAllTried)
{
    EXPECT_TRUE(detail::hasSearchPath(detail::SearchPath::Portable));
#if defined(__SSE2__)
    EXPECT_TRUE(detail::hasSearchPath(detail::SearchPath::Vector16));
#endif
#if defined(__x86_64__)
    EXPECT_EQ(detail::hasSearchPath(detail::SearchPath::Vector32), bool(__builtin_cpu_supports("avx2")));
#endif
}

std::vector<uint8_t> filled(size_t size, uint8_t value = 0xAA)
{
    return std::vector<uint8_t>(size, value);
}

void put(std::vector<uint8_t>& data, size_t at, const std::string& bytes)
{
    std::copy(bytes.begin(), bytes.end(), data.begin() + std::ptrdiff_t(at));
}

TEST(FindPattern, CraftedBuffers)
{
    const BytePattern magic = exactPattern("pQES", 4);
    const BytePattern word16 = exactPattern("\x10\0\0\0", 4);
    const BytePattern pair = exactPattern("\x10\0", 2);
    BytePattern highBit; // one byte whose top bit is set
    highBit.bytes[0] = 0x80;
    highBit.mask[0] = 0x80;
    highBit.length = 1;
    BytePattern gap = exactPattern("SShd", 4); // the third byte not compared
    gap.mask[2] = 0;
    BytePattern header; // two whole bytes, then three bits of a third
    header.bytes[0] = 0x80;
    header.mask[0] = header.mask[1] = 0xFF;
    header.mask[2] = 0xE0;
    header.length = 3;
    const std::string two("\x10\0", 2), four("\x10\0\0\0", 4), zeros(10, '\0');
    // The two whole bytes at every even place, each followed by a third byte that fails.
    std::vector<std::pair<size_t, std::string>> nearHeaders;
    for (size_t at = 0; at < 2040; at += 4)
        nearHeaders.push_back({at, std::string("\x80\0\x20\xAA", 4)});
    std::vector<std::pair<size_t, std::string>> nearThenHeader = nearHeaders;
    nearThenHeader.push_back({1030, std::string("\x80\0\x1F", 3)});
    std::vector<std::pair<size_t, std::string>> nearThenCut = nearHeaders;
    nearThenCut.push_back({2046, std::string("\x80\0", 2)});

    struct Case
    {
        const char* what;
        size_t size;
        std::vector<std::pair<size_t, std::string>> puts;
        BytePattern pattern;
        size_t step;
        size_t from;
        size_t expected;
    };
    const std::vector<Case> cases = {
        {"at the start", 2048, {{0, "pQES"}}, magic, 1, 0, 0},
        {"from past the first", 2048, {{700, "pQES"}, {1500, "pQES"}}, magic, 1, 701, 1500},
        {"last byte of a round", 2048, {{63, "pQES"}}, magic, 1, 0, 63},
        {"first byte of the next round", 2048, {{64, "pQES"}}, magic, 1, 0, 64},
        {"ending the buffer", 2048, {{2044, "pQES"}}, magic, 1, 0, 2044},
        {"cut by the end", 2048, {{2045, "pQE"}}, magic, 1, 0, 2048},
        {"a near miss first", 2048, {{100, "pQEs"}, {300, "pQES"}}, magic, 1, 0, 300},
        {"odd place, even steps", 2048, {{101, two}, {400, two}}, pair, 2, 0, 400},
        {"odd steps from an odd start", 2048, {{101, two}}, pair, 2, 1, 101},
        {"word off the 4-byte grid", 2048, {{13, four}, {40, four}}, word16, 4, 0, 40},
        {"word on a grid from 3", 2048, {{1999, four}}, word16, 4, 3, 1999},
        {"word in the last place", 2048, {{2044, four}}, word16, 4, 0, 2044},
        {"a masked bit, even places", 64, {{0, zeros}, {3, "\x80"}, {6, "\xC1"}}, highBit, 2, 0, 6},
        {"a byte not compared", 2048, {{500, "SSxd"}}, gap, 4, 0, 500},
        {"header behind many near ones", 2048, nearThenHeader, header, 2, 0, 1030},
        {"header near ones only", 2048, nearHeaders, header, 2, 0, 2048},
        {"header cut by the end", 2048, nearThenCut, header, 2, 0, 2048},
        {"header on the odd grid", 2048, {{1031, std::string("\x80\0\x05", 3)}}, header, 2, 1, 1031},
        {"header off the grid", 2048, {{1031, std::string("\x80\0\x05", 3)}}, header, 2, 0, 2048},
        {"header ending the buffer", 2048, {{2045, std::string("\x80\0\x05", 3)}}, header, 2, 1, 2045},
        {"from past the end", 16, {{0, "pQES"}}, magic, 1, 17, 16},
        {"empty buffer", 0, {}, magic, 1, 0, 0},
        {"shorter than the pattern", 3, {{0, "pQE"}}, magic, 1, 0, 3},
        {"step 0", 64, {{0, "pQES"}}, magic, 0, 0, 64},
        {"step 3", 2048, {{999, "pQES"}, {1100, "pQES"}}, magic, 3, 2, 1100},
        {"step beyond the buffer", 64, {{0, "pQES"}}, magic, 1000, 1, 64},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> data = filled(c.size);
        for (const auto& [at, bytes] : c.puts)
            put(data, at, bytes);
        ASSERT_EQ(naiveFind(data, c.pattern, c.step, c.from), c.expected) << c.what;
        for (const size_t got : find(data, c.pattern, c.step, c.from))
            EXPECT_EQ(got, c.expected) << c.what;
    }

    // Lengths outside 1 to 4 match nowhere, even where the bytes are there.
    std::vector<uint8_t> data = filled(64);
    put(data, 0, "pQES");
    BytePattern none = magic;
    none.length = 0;
    for (const size_t got : find(data, none, 1, 0))
        EXPECT_EQ(got, 64u);
    none.length = 5;
    for (const size_t got : find(data, none, 1, 0))
        EXPECT_EQ(got, 64u);
}

TEST(FindPattern, AgreesWithAPlainWalkOnRandomBuffers)
{
    std::mt19937 random(20261208);
    const uint8_t alphabet[] = {0x10, 0x00, 'p', 'Q', 'E', 'S', 0x80, 0xFF};
    const size_t steps[] = {1, 2, 3, 4, 5, 8};
    for (int round = 0; round < 20000; ++round) {
        const size_t size = random() % 400;
        std::vector<uint8_t> data(size);
        // Mostly one filler byte, so that hits are neither everywhere nor nowhere.
        const uint8_t filler = alphabet[random() % 8];
        for (uint8_t& b : data)
            b = random() % 4 == 0 ? alphabet[random() % 8] : filler;
        BytePattern pattern;
        pattern.length = 1 + random() % 4;
        for (size_t k = 0; k < 4; ++k) {
            pattern.bytes[k] = alphabet[random() % 8];
            const unsigned kind = random() % 8;
            pattern.mask[k] = kind == 0 ? 0 : kind == 1 ? uint8_t(random()) : 0xFF;
            if (kind == 2)
                pattern.bytes[k] = uint8_t(random()); // bits outside the mask may be anything
        }
        const size_t step = steps[random() % 6];
        const size_t from = random() % (size + 3);
        const size_t expected = naiveFind(data, pattern, step, from);
        const std::vector<size_t> got = find(data, pattern, step, from);
        for (size_t i = 0; i < got.size(); ++i)
            ASSERT_EQ(got[i], expected)
                << "round " << round << " size " << size << " step " << step << " answer " << i;
    }
}

} // namespace
