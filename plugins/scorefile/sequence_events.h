// The events of a "pQES" sequence: the header, one event at a time, and the walk that gives a
// sequence's length and play time. Shared by the disc probe, the file description and the streams.
//
// Header (15 bytes, numbers big-endian):
//   0x00  "pQES"
//   0x04  u32  version (any value)
//   0x08  u16  resolution: ticks per quarter note (0 is refused: no time can be computed)
//   0x0A  u24  initial tempo: microseconds per quarter note
//   0x0D  u8   time signature numerator
//   0x0E  u8   time signature denominator, as a power of two
//
// Event: delta (variable-length, 1 to 4 bytes), then
//   0x80-0xEF d1 [d2]    channel message, one data byte for 0xC0-0xDF; data bytes below 0x80
//   d1 [d2]              running status: the last channel status again (none yet: an error)
//   0xFF 0x51 t t t      tempo, no length byte
//   0xFF 0x2F len data   end of track
//   0xFF type len data   other meta event, `len` one byte
//   0xF0/0xF7 len data   system exclusive, `len` variable-length
//   0xF1-0xFE others     an error
// Meta and system-exclusive events leave the running status as it was.
#pragma once

#include <cstddef>
#include <cstdint>

namespace scorefile {

constexpr size_t kHeaderBytes = 15;
constexpr uint32_t kMaxSequenceBytes = 1u << 20; // files, and sequences found on a disc

struct Header
{
    uint16_t resolution = 0;
    uint32_t tempo = 0;
    uint8_t numerator = 0;
    uint8_t power = 0;
};

// The header at `p` (kHeaderBytes readable); false without the magic or with resolution 0.
bool parseHeader(const uint8_t* p, Header& header);

enum class EventType
{
    Channel,
    Tempo,
    EndOfTrack,
    Meta,
    SystemExclusive,
};

struct Event
{
    EventType type = EventType::Channel;
    uint32_t delta = 0;
    uint8_t status = 0;            // expanded for running status
    uint8_t metaType = 0;          // meta events
    uint32_t tempo = 0;            // tempo events
    const uint8_t* data = nullptr; // channel data, meta or system-exclusive data
    uint32_t length = 0;
    size_t bytes = 0;    // consumed from the delta on
    uint8_t running = 0; // the running status after this event
};

enum class Parse
{
    Complete,
    Incomplete, // not all of the event lies in the bytes given
    Error,
};

// One event from `p[0 .. available)` with running status `running`. Nothing is consumed unless
// the answer is Complete.
Parse parseEvent(const uint8_t* p, size_t available, uint8_t running, Event& event);

// delta x tempo, added up without overflow (held at the largest value).
inline uint64_t addTime(uint64_t sum, uint32_t delta, uint32_t tempo)
{
    const uint64_t step = uint64_t(delta) * tempo;
    return sum > UINT64_MAX - step ? UINT64_MAX : sum + step;
}

inline uint32_t durationMs(uint64_t timeSum, uint16_t resolution)
{
    if (resolution == 0)
        return 0;
    const uint64_t ms = timeSum / resolution / 1000;
    return ms > UINT32_MAX ? UINT32_MAX : uint32_t(ms);
}

// The walk over a whole sequence's events from the start.
struct Walk
{
    size_t bytes = 0;     // of the events up to the end of the track, or up to where they stop
    uint64_t timeSum = 0; // delta x tempo in microseconds x ticks
    bool endOfTrack = false;
    bool error = false; // an event that cannot be parsed before the data is used up
};

Walk walkEvents(const uint8_t* p, size_t size, uint32_t tempo);

} // namespace scorefile
