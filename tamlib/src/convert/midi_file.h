// The pieces of a format-0 Standard MIDI File that PlbConvertMIDI writes, and the walk over the
// raw sequencer events of a music unit that adds up their delta times. Bytes in, bytes out.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace tamlib::convert {

constexpr size_t kMidiFileStartBytes = 22;
constexpr size_t kMidiTrackPrologueBytes = 26;
constexpr size_t kMidiTrackLengthOffset = 18;
constexpr std::array<uint8_t, 4> kMidiEndOfTrack = {0x00, 0xFF, 0x2F, 0x00};

// "MThd", 6, format 0, one track, the division (ticks per quarter note); "MTrk" and a track
// length of 0 (completed at the end). Big-endian.
std::array<uint8_t, kMidiFileStartBytes> midiFileStart(uint16_t division);

// The track's first events: XG System On at delta 0, the tempo (its three low bytes) at delta 4,
// the time signature at delta 8. `timeSignature`: numerator in the high byte, the denominator's
// power of two in the low byte; 0 is 4/4.
std::array<uint8_t, kMidiTrackPrologueBytes> midiTrackPrologue(uint32_t tempo, uint16_t timeSignature);

struct MidiEventWalk
{
    uint64_t ticks = 0;      // the deltas of the events walked
    size_t events = 0;       // events walked
    bool complete = false;   // every byte belonged to a whole event
    bool endOfTrack = false; // the last event walked is the end-of-track meta event
};

// Walks a run of raw sequencer events as the player reads them: a delta (7 bits a byte, at most
// 4 bytes), then a channel message (running status allowed), a meta event (0xFF, type,
// variable-length length, data), a system-exclusive event (0xF0 or 0xF7, variable-length length, data) or a
// system common or real-time message. Stops at the first byte that cannot start or complete an
// event; nothing past `events` is read.
MidiEventWalk walkMidiEvents(std::span<const uint8_t> events);

// ticks x tempo / (division x 1000) in unsigned 32-bit steps that cannot overflow: common factors
// of two are taken out, and while the product would not fit the larger factor is halved (with
// the divisor while it can be, else counted as a final doubling). The halvings cost precision:
// an odd divisor halved loses up to a third of itself, so the result can come out above the
// exact one (up to twice it in theory, about 12 % at worst with real numbers; below 1 % with
// divisions of 96 and more and common tempos). Only the progress display uses it. 0 when any
// argument is 0 or the division is above 16 bits; the result is held at the largest 32-bit value.
uint32_t midiTicksToMs(uint32_t ticks, uint32_t tempo, uint32_t division);

} // namespace tamlib::convert
