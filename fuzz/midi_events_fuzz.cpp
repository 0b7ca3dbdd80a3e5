// Feeds arbitrary bytes to the walk over raw sequencer events that the MIDI converter makes over
// each music unit, and to its tick-to-millisecond arithmetic.
//
// Input layout:
//   0x00 u32 ticks, u32 tempo (24 bits kept, as the file holds it), u16 division
//   0x0A ...  the events, copied into a buffer of exactly their size so that any read past the
//             end is caught
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "convert/midi_file.h"

namespace {

constexpr size_t kHeaderBytes = 0x0A;

uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace tamlib::convert;
    if (size < kHeaderBytes)
        return 0;
    const uint32_t ticks = le32(data);
    const uint32_t tempo = le32(data + 4) & 0xFFFFFF;
    const uint32_t division = uint32_t(data[8] | data[9] << 8);
    const uint32_t ms = midiTicksToMs(ticks, tempo, division);
    // The halving steps lose precision: the numerators' halvings little (they keep 16 bits or
    // more), the divisor's halvings when it is odd up to a factor of 2 in all (d / (d - 1) for
    // each odd d halved, d from 3 upwards). The result is never far below the exact one, and never
    // above twice it.
    const uint64_t exact = division ? uint64_t(ticks) * tempo / (uint64_t(division) * 1000) : 0;
    if (exact >= 1000 && exact < (uint64_t(1) << 31) && (ms + exact / 100 + 2 < exact || ms > 2 * exact + 2))
        std::abort();
    if (exact > UINT32_MAX && ms < UINT32_MAX / 2)
        std::abort();

    std::vector<uint8_t> events(data + kHeaderBytes, data + size);
    events.shrink_to_fit();
    const MidiEventWalk walk = walkMidiEvents(events);
    // Every event has at least a delta byte and a status byte; a delta adds at most 28 bits.
    if (walk.events * 2 > events.size() || walk.ticks > uint64_t(walk.events) * 0x0FFFFFFF)
        std::abort();
    if (walk.endOfTrack && walk.events == 0)
        std::abort();
    return 0;
}
