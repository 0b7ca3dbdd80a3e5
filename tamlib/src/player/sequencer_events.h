// Raw sequencer events (what a music stream decodes to) turned into the stream event records
// that the music output plays. Pure: bytes in, bytes out, no state kept between calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tamrin::player {

// One stream event record, little-endian, 12 bytes:
//   0x00 u32 delta     ticks since the previous record (deltas of skipped events included)
//   0x04 u32 stream id always 0
//   0x08 u32 event     bits 24-31 the record type, bits 0-23 its value (below)
// A long record (type kEventLong) is followed by its payload, padded with zeros to a multiple
// of 4 bytes; the value is the payload's unpadded length.
constexpr size_t kStreamEventBytes = 12;
constexpr uint8_t kEventShort = 0x00; // value = status | data1 << 8 | data2 << 16
constexpr uint8_t kEventTempo = 0x01; // value = microseconds per quarter note
constexpr uint8_t kEventLong = 0x80;  // value = payload length; payload = the message as sent

// Converts a run of raw sequencer events into stream event records written to `out`.
// Returns the bytes written, or 0 when the run is malformed or the records do not fit in `out`
// (nothing past either span is read or written). An empty run gives 0 as well.
size_t convertSequencerEvents(std::span<const uint8_t> in, std::span<uint8_t> out);

// Scales the velocity of every note-on record by `percent` (at most 127; a note-on scaled to 0
// becomes a note-off): the volume of music sent to a sequencer, which has no gain of its own.
// Stops at a damaged record.
void scaleNoteVelocities(std::span<uint8_t> records, uint32_t percent);

} // namespace tamrin::player
