// Raw sequencer events to stream event records: hand-made runs, well-formed and damaged. Every
// input is copied into a buffer of exactly its size so that a read past its end shows under ASan.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <vector>

#include "player/sequencer_events.h"

using tamrin::player::convertSequencerEvents;
using Bytes = std::vector<uint8_t>;

namespace {

struct Rec
{
    uint32_t delta;
    uint32_t event;
    Bytes payload = {};
};

Bytes encode(const std::vector<Rec>& recs)
{
    Bytes out;
    auto put = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out.push_back(uint8_t(v >> (8 * i)));
    };
    for (const auto& r : recs)
    {
        put(r.delta);
        put(0);
        put(r.event);
        out.insert(out.end(), r.payload.begin(), r.payload.end());
        while (out.size() % 4)
            out.push_back(0);
    }
    return out;
}

Bytes convert(const Bytes& in, size_t room = 4096)
{
    Bytes input(in); // exact size
    Bytes out(room + 16, 0xAA);
    const size_t n = convertSequencerEvents(input, std::span<uint8_t>(out.data(), room));
    for (size_t i = room; i < out.size(); ++i)
        EXPECT_EQ(out[i], 0xAA) << "written past the output at " << i;
    return Bytes(out.begin(), out.begin() + ptrdiff_t(n));
}

struct Case
{
    const char* name;
    Bytes in;
    std::vector<Rec> expected; // empty: the run gives 0 bytes
};

const Case kCases[] = {
    {"note on, program change", {0x00, 0x90, 0x3C, 0x40, 0x60, 0xC1, 0x05},
     {{0, 0x00403C90}, {0x60, 0x000005C1}}},
    {"two-byte delta", {0x81, 0x00, 0xB0, 0x07, 0x64}, {{0x80, 0x006407B0}}},
    {"four-byte delta", {0xFF, 0xFF, 0xFF, 0x7F, 0x80, 0x3C, 0x00}, {{0x0FFFFFFF, 0x00003C80}}},
    {"five-byte delta ends the run", {0x00, 0x90, 0x3C, 0x40, 0x81, 0x80, 0x80, 0x80, 0x00, 0x80, 0x3C, 0x00}, {}},
    {"running status", {0x00, 0x90, 0x3C, 0x40, 0x10, 0x3E, 0x40, 0x10, 0xD2, 0x30, 0x05, 0x31},
     {{0, 0x00403C90}, {0x10, 0x00403E90}, {0x10, 0x000030D2}, {0x05, 0x000031D2}}},
    {"data byte before any status", {0x00, 0x3C, 0x40}, {}},
    {"tempo", {0x05, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20}, {{5, 0x0107A120}}},
    {"other meta skipped, its delta kept",
     {0x0A, 0xFF, 0x01, 0x02, 'a', 'b', 0x05, 0xFF, 0x51, 0x02, 0x01, 0x02, 0x03, 0x90, 0x3C, 0x40},
     {{0x12, 0x00403C90}}},
    {"meta ends running status", {0x00, 0x90, 0x3C, 0x40, 0x00, 0xFF, 0x2F, 0x00, 0x00, 0x3C, 0x00}, {}},
    {"real-time keeps running status", {0x00, 0x90, 0x3C, 0x40, 0x01, 0xF8, 0x02, 0x3C, 0x00},
     {{0, 0x00403C90}, {1, 0x000000F8}, {2, 0x00003C90}}},
    {"system common", {0x00, 0xF2, 0x10, 0x20, 0x00, 0xF3, 0x07, 0x00, 0xF6},
     {{0, 0x002010F2}, {0, 0x000007F3}, {0, 0x000000F6}}},
    {"system common ends running status", {0x00, 0x90, 0x3C, 0x40, 0x00, 0xF6, 0x00, 0x3C, 0x00}, {}},
    {"undefined status", {0x00, 0xF4}, {}},
    {"system exclusive", {0x03, 0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7, 0x00, 0x80, 0x3C, 0x00},
     {{3, 0x80000006, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}}, {0, 0x00003C80}}},
    {"system exclusive escape", {0x00, 0xF7, 0x02, 0xF3, 0x01}, {{0, 0x80000002, {0xF3, 0x01}}}},
    {"system exclusive ends running status", {0x00, 0x90, 0x3C, 0x40, 0x00, 0xF7, 0x00, 0x00, 0x3C, 0x00}, {}},
    {"data byte with the top bit set", {0x00, 0x90, 0x3C, 0x90}, {}},
    {"cut in a delta", {0x00, 0x90, 0x3C, 0x40, 0x81}, {}},
    {"cut after a delta", {0x00, 0x90, 0x3C, 0x40, 0x00}, {}},
    {"cut in a channel message", {0x00, 0x90, 0x3C}, {}},
    {"cut in a meta event", {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1}, {}},
    {"meta length missing", {0x00, 0xFF, 0x51}, {}},
    {"system exclusive longer than the run", {0x00, 0xF0, 0x81, 0x00, 0x01, 0x02}, {}},
    {"system exclusive length cut", {0x00, 0xF0, 0x81}, {}},
    {"empty run", {}, {}},
};

TEST(SequencerEvents, HandMadeRuns)
{
    for (const auto& c : kCases)
        EXPECT_EQ(convert(c.in), encode(c.expected)) << c.name;
}

TEST(SequencerEvents, OutputRoomIsNeverExceeded)
{
    const Bytes in = {0x00, 0x90, 0x3C, 0x40, 0x00, 0xF0, 0x03, 0x01, 0x02, 0xF7};
    const Bytes full = encode({{0, 0x00403C90}, {0, 0x80000004, {0xF0, 0x01, 0x02, 0xF7}}});
    EXPECT_EQ(convert(in, full.size()), full);
    for (size_t room : {size_t(0), size_t(11), size_t(12), full.size() - 1})
        EXPECT_TRUE(convert(in, room).empty()) << room;
}

// Meta lengths are variable-length numbers as in a MIDI file: a text of 200 bytes has the
// two-byte length 81 48, and the note after it still comes, with the meta event's delta.
TEST(SequencerEvents, LongMetaEventsAreSkippedWhole)
{
    Bytes in(209, 'x');
    const uint8_t head[] = {0x07, 0xFF, 0x01, 0x81, 0x48};
    const uint8_t note[] = {0x01, 0x90, 0x3C, 0x40};
    std::copy(std::begin(head), std::end(head), in.begin());
    std::copy(std::begin(note), std::end(note), in.end() - 4);
    EXPECT_EQ(convert(in), encode({{8, 0x00403C90}}));
    in[4] = 0x4D; // 205: one byte more than follows
    EXPECT_TRUE(convert(in).empty());
}

TEST(SequencerEvents, SkippedDeltasAreHeldAtTheLargestValue)
{
    Bytes in;
    for (int i = 0; i < 17; ++i)
        in.insert(in.end(), {0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0x01, 0x00});
    in.insert(in.end(), {0x00, 0x90, 0x3C, 0x40});
    EXPECT_EQ(convert(in), encode({{0xFFFFFFFF, 0x00403C90}}));
}

} // namespace
