// TIM pictures for the Stillframe tests: identifier 0x10, flags (pixel mode, 0x08 with a colour
// table), for the indexed modes the colour table block (length, x, y, entries per row, rows,
// 16-bit colours), then the image block (length, x, y, W in 16-bit units, H, pixel words).
//
// The generator chooses every pixel (a table index, a 16-bit colour or red << 16 | green << 8 |
// blue) from a seeded pattern and packs it the TIM way; the tests work out the colours from these
// choices. Every fifth table colour carries the transparency bit, so do half the 16-bit pixels,
// and the spare bytes at the end of a 24-bit row hold 0xA5.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "../plugins/disc_builder.h"
#include "media_sources.h"
#include "user_data.h"

namespace mediagen {

struct TimPicture
{
    uint32_t mode = 0; // 0 4-bit, 1 8-bit, 2 15-bit, 3 24-bit
    uint16_t wordsPerRow = 0;
    uint16_t height = 0;
    std::vector<uint16_t> table;
    std::vector<uint32_t> pixels; // top row first
    Bytes bytes;

    uint32_t width() const
    {
        const uint32_t w = wordsPerRow;
        return mode == 0 ? 4 * w : mode == 1 ? 2 * w : mode == 2 ? w : 2 * w / 3;
    }
};

inline size_t putTimBlock(Bytes& out, uint16_t w, uint16_t h)
{
    const size_t at = out.size();
    out.resize(at + 12 + 2 * size_t(w) * h, 0xA5);
    put32(&out[at], uint32_t(12 + 2 * size_t(w) * h));
    put32(&out[at + 4], 0x01E00140);
    put16(&out[at + 8], w);
    put16(&out[at + 10], h);
    return at + 12;
}

// Indexed modes get `entries` colours in table rows of up to 16, and indices below `entries`.
inline TimPicture makeTim(uint32_t mode, uint16_t wordsPerRow, uint16_t height, uint32_t seed,
                          uint16_t entries = 16)
{
    TimPicture t{mode, wordsPerRow, height, {}, {}, {}};
    uint32_t state = seed * 2654435761u + 7u;
    const auto next = [&state] { return (state = state * 1103515245u + 12345u) >> 8; };
    const bool indexed = mode <= 1;
    for (uint16_t i = 0; indexed && i < entries; ++i)
        t.table.push_back(uint16_t((next() & 0x7FFF) | (i % 5 == 0 ? 0x8000 : 0)));
    for (uint32_t n = 0; n < t.width() * height; ++n) {
        const uint32_t v = next();
        t.pixels.push_back(indexed ? v % entries : mode == 2 ? (v & 0xFFFF) : (v & 0xFFFFFF));
    }
    t.bytes.resize(8);
    put32(&t.bytes[0], 0x10);
    put32(&t.bytes[4], mode | (indexed ? 0x08 : 0));
    if (indexed) {
        const uint16_t perRow = std::min<uint16_t>(entries, 16);
        const size_t at = putTimBlock(t.bytes, perRow, uint16_t((entries + perRow - 1) / perRow));
        for (size_t i = 0; i < t.table.size(); ++i)
            put16(&t.bytes[at + 2 * i], t.table[i]);
    }
    const size_t at = putTimBlock(t.bytes, wordsPerRow, height);
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = &t.bytes[at + y * 2 * size_t(wordsPerRow)];
        for (uint32_t x = 0; x < t.width(); ++x) {
            const uint32_t p = t.pixels[y * t.width() + x];
            if (mode == 0)
                row[x / 2] = uint8_t(x % 2 ? (row[x / 2] & 0x0F) | p << 4 : p);
            else if (mode == 1)
                row[x] = uint8_t(p);
            else if (mode == 2)
                put16(row + 2 * x, uint16_t(p));
            else
                row[3 * x] = uint8_t(p >> 16), row[3 * x + 1] = uint8_t(p >> 8), row[3 * x + 2] = uint8_t(p);
        }
    }
    return t;
}

} // namespace mediagen
