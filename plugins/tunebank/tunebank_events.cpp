// The event parser and block walks described in tunebank_events.h.
#include "tunebank_events.h"

#include <algorithm>
#include <cstring>

namespace tunebank {

namespace {

constexpr uint8_t kMeta = 0xFF;
constexpr uint8_t kEndOfTrack = 0x2F;
constexpr uint8_t kTempo = 0x51;
constexpr size_t kMaxVarLenBytes = 4;

uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// A variable-length number at p[*i]; the index moves past it.
Parsed readVarLen(const uint8_t* p, size_t available, size_t* i, uint32_t* value, size_t* count)
{
    uint32_t v = 0;
    for (size_t n = 0;; ++n) {
        if (n == kMaxVarLenBytes)
            return Parsed::Error;
        if (*i >= available)
            return Parsed::Incomplete;
        const uint8_t b = p[(*i)++];
        v = v << 7 | (b & 0x7F);
        if (!(b & 0x80)) {
            *value = v;
            *count = n + 1;
            return Parsed::Event;
        }
    }
}

// Data bytes of a channel message with status `status`.
size_t channelDataBytes(uint8_t status)
{
    switch (status & 0xF0) {
    case 0x80: // note off: the key only
    case 0xC0:
    case 0xD0:
        return 1;
    default:
        return 2;
    }
}

uint64_t addSaturated(uint64_t a, uint64_t b)
{
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

} // namespace

Parsed parseEvent(EventState& state, const uint8_t* p, size_t available, Event& event)
{
    event = Event{};
    size_t i = 0;
    if (!state.noDelta) {
        size_t count = 0;
        const Parsed delta = readVarLen(p, available, &i, &event.delta, &count);
        if (delta != Parsed::Event)
            return delta;
        // The repeated second byte of a two-byte delta before a meta event.
        if (count == 2 && i < available && p[i] == p[i - 1]) {
            if (i + 1 >= available)
                return Parsed::Incomplete; // a repeat or a data byte: the next byte tells
            if (p[i + 1] == kMeta)
                ++i;
        }
    }
    if (i >= available)
        return Parsed::Incomplete;

    uint8_t status = p[i];
    if (status < 0x80) {
        if (!state.running)
            return Parsed::Error;
        status = state.running;
    } else {
        ++i;
    }
    event.status = status;

    if (status < 0xF0) {
        const size_t count = channelDataBytes(status);
        if (available - i < count)
            return Parsed::Incomplete;
        for (size_t k = 0; k + 1 < count; ++k)
            if (p[i + k] & 0x80)
                return Parsed::Error;
        const uint8_t last = p[i + count - 1];
        event.kind = EventKind::Channel;
        event.channelData[0] = uint8_t(p[i] & 0x7F);
        event.channelData[1] = uint8_t(count == 2 ? last & 0x7F : 0); // note off: velocity 0
        event.channelBytes = uint8_t((status & 0xF0) == 0x80 ? 2 : count);
        event.bytes = i + count;
        state.running = status;
        state.noDelta = (last & 0x80) != 0;
        return Parsed::Event;
    }

    if (status == kMeta) {
        if (i >= available)
            return Parsed::Incomplete;
        event.type = p[i++];
        if (event.type == kEndOfTrack) {
            event.kind = EventKind::EndOfTrack;
        } else {
            if (i >= available)
                return Parsed::Incomplete;
            event.length = p[i++];
            if (event.type == kTempo && event.length != 3)
                return Parsed::Error;
            if (available - i < event.length)
                return Parsed::Incomplete;
            event.kind = EventKind::Meta;
            event.data = p + i;
            i += event.length;
        }
    } else if (status == 0xF0 || status == 0xF7) {
        size_t count = 0;
        const Parsed length = readVarLen(p, available, &i, &event.length, &count);
        if (length != Parsed::Event)
            return length;
        if (event.length > kMaxSysexBytes)
            return Parsed::Error;
        if (available - i < event.length)
            return Parsed::Incomplete;
        event.kind = EventKind::Sysex;
        event.data = p + i;
        i += event.length;
    } else {
        return Parsed::Error;
    }
    event.bytes = i;
    state.noDelta = false;
    return Parsed::Event;
}

bool writeEvent(sectorkit::MusicUnitWriter& writer, const Event& event)
{
    switch (event.kind) {
    case EventKind::Channel:
        return writer.channelEvent(event.delta, event.status, event.channelData, event.channelBytes);
    case EventKind::Meta:
        return writer.metaEvent(event.delta, event.type, event.data, event.length);
    case EventKind::EndOfTrack:
        return writer.metaEvent(event.delta, kEndOfTrack, nullptr, 0);
    case EventKind::Sysex:
        return writer.sysexEvent(event.delta, event.status, event.data, event.length);
    }
    return false;
}

Parsed Cursor::step(const uint8_t* block, size_t length, Event& event)
{
    if (position > length) {
        event = Event{};
        return Parsed::Incomplete;
    }
    const Parsed parsed = parseEvent(state, block + position, length - position, event);
    if (parsed != Parsed::Event)
        return parsed;
    position += event.bytes;
    time = addSaturated(time, uint64_t(event.delta) * tempo);
    if (event.isTempo())
        tempo = event.tempo();
    return parsed;
}

bool describeBlock(const uint8_t* block, size_t length, BlockSummary& summary)
{
    if (length < kBlockHeaderBytes || le32(block) != kEventsOffset)
        return false;
    summary = BlockSummary{};
    summary.resolution = uint16_t(block[4] | block[5] << 8);

    // First the extent of the track and its first tempo, then its time at that tempo.
    Cursor walk;
    Event event;
    for (;;) {
        const Parsed parsed = walk.step(block, length, event);
        if (parsed == Parsed::Error)
            return false;
        if (parsed == Parsed::Incomplete)
            break;
        if (event.isTempo() && summary.firstTempo == 0)
            summary.firstTempo = event.tempo();
        if (event.kind == EventKind::EndOfTrack)
            break;
    }
    summary.dataBytes = uint32_t(walk.position);

    Cursor timed;
    timed.tempo = summary.firstTempo;
    while (timed.position < summary.dataBytes &&
           timed.step(block, summary.dataBytes, event) == Parsed::Event) {
    }
    if (summary.resolution != 0)
        summary.durationMs =
            uint32_t(std::min<uint64_t>(timed.time / (uint64_t(summary.resolution) * 1000), UINT32_MAX));
    return true;
}

} // namespace tunebank
