// The compressed MIDI events of a Tunebank block and the walks over them.
//
// Block (little-endian):
//   0x00 u32  offset of the events in the block; only 6 is taken
//   0x04 u16  resolution: ticks per quarter note
//   0x06 ...  compressed events
//
// An event is a delta time, then a status byte or a data byte that reuses the running status:
//   delta        variable-length number, 7 bits a byte, most significant first, at most 4 bytes;
//                left out (taken as 0) after a channel message whose last data byte has bit 7
//                set (the bit is not part of the value). A two-byte delta whose second byte is
//                repeated, the repeat followed by 0xFF, takes three bytes (the repeat is skipped).
//   0x80-0x8F    note off: one data byte, the key (velocity 0)
//   0x90-0xBF,
//   0xE0-0xEF    two data bytes
//   0xC0-0xDF    one data byte
//   0xFF type    meta event: length byte and data (tempo 0x51: length 3, microseconds per
//                quarter note); end of track 0xFF 0x2F has no length byte
//   0xF0, 0xF7   system exclusive: variable-length length, data
// Any other status is an error, as is a data byte before any status, or a data byte with bit 7
// set anywhere but last in a channel message.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sectorkit/music_events.h"

namespace tunebank {

constexpr size_t kBlockHeaderBytes = 6;
constexpr uint32_t kEventsOffset = 6;
// The longest system-exclusive message taken; a longer one is an error.
constexpr uint32_t kMaxSysexBytes = 0x2000;
// A unit is closed once it holds this much; one event more may follow.
constexpr size_t kUnitFillBytes = 1024;
// The largest event written: delta, status, length and the longest system-exclusive data.
constexpr size_t kLargestEventBytes = 4 + 1 + 4 + kMaxSysexBytes;
constexpr size_t kUnitPayloadBytes = kUnitFillBytes - 1 + kLargestEventBytes;

enum class Parsed
{
    Event,
    Incomplete, // the event's bytes run past the data: nothing consumed
    Error,
};

enum class EventKind
{
    Channel,
    Meta,
    EndOfTrack,
    Sysex,
};

struct Event
{
    EventKind kind = EventKind::Channel;
    uint32_t delta = 0; // also set when the event is incomplete but its delta was whole
    uint8_t status = 0;
    uint8_t type = 0;            // meta events
    uint8_t channelData[2] = {}; // channel messages, as written (bit 7 cleared)
    uint8_t channelBytes = 0;
    const uint8_t* data = nullptr; // meta and system-exclusive data, inside the parsed bytes
    uint32_t length = 0;
    size_t bytes = 0; // consumed

    bool isTempo() const { return kind == EventKind::Meta && type == 0x51; }
    uint32_t tempo() const { return uint32_t(data[0]) << 16 | uint32_t(data[1]) << 8 | data[2]; }
};

// What carries from one event to the next.
struct EventState
{
    uint8_t running = 0;
    bool noDelta = false;
};

// Parses the event at `p` (at most `available` bytes); `state` changes only for a whole event.
Parsed parseEvent(EventState& state, const uint8_t* p, size_t available, Event& event);

// Appends `event` in MIDI file encoding; false when it does not fit.
bool writeEvent(sectorkit::MusicUnitWriter& writer, const Event& event);

// A place in a block's events and the time up to it: the sum of delta x tempo (microseconds x
// ticks), each tempo event taking effect after its own delta.
struct Cursor
{
    EventState state;
    size_t position = kBlockHeaderBytes;
    uint32_t tempo = 0;
    uint64_t time = 0;

    // The next event of `block[0 .. length)`; on an event the cursor moves past it.
    Parsed step(const uint8_t* block, size_t length, Event& event);
};

struct BlockSummary
{
    uint16_t resolution = 0;
    uint32_t firstTempo = 0; // 0: no tempo event
    uint32_t dataBytes = 0;  // header and the whole events up to the end of the track
    uint32_t durationMs = 0;
};

// Describes a block: the events offset must be 6 and its events parse without error up to the
// end of the track (or up to the end of the block, where the track then ends). Time before the
// first tempo event runs at that tempo, as the stream plays it.
bool describeBlock(const uint8_t* block, size_t length, BlockSummary& summary);

} // namespace tunebank
