// The sequence events described in sequence_events.h.
#include "sequence_events.h"

#include <cstring>

namespace scorefile {

namespace {

// A variable-length number of at most 4 bytes at p[*used ..). Error on a fifth byte.
Parse number(const uint8_t* p, size_t available, size_t& used, uint32_t& value)
{
    value = 0;
    for (int i = 0; i < 4; ++i) {
        if (used >= available)
            return Parse::Incomplete;
        const uint8_t b = p[used++];
        value = value << 7 | (b & 0x7F);
        if (!(b & 0x80))
            return Parse::Complete;
    }
    return Parse::Error;
}

} // namespace

bool parseHeader(const uint8_t* p, Header& header)
{
    if (std::memcmp(p, "pQES", 4) != 0)
        return false;
    header.resolution = uint16_t(p[8] << 8 | p[9]);
    header.tempo = uint32_t(p[10]) << 16 | uint32_t(p[11]) << 8 | p[12];
    header.numerator = p[13];
    header.power = p[14];
    return header.resolution != 0;
}

Parse parseEvent(const uint8_t* p, size_t available, uint8_t running, Event& event)
{
    size_t used = 0;
    uint32_t delta = 0;
    if (const Parse r = number(p, available, used, delta); r != Parse::Complete)
        return r;
    if (used >= available)
        return Parse::Incomplete;

    Event e;
    e.delta = delta;
    e.running = running;
    uint8_t status = p[used];
    if (status < 0x80) {
        if (!running)
            return Parse::Error;
        status = running; // the data byte is the message's first
    } else {
        ++used;
    }
    e.status = status;

    if (status < 0xF0) {
        const uint32_t count = status >= 0xC0 && status <= 0xDF ? 1 : 2;
        if (available - used < count)
            return Parse::Incomplete;
        for (uint32_t i = 0; i < count; ++i)
            if (p[used + i] & 0x80)
                return Parse::Error;
        e.type = EventType::Channel;
        e.data = p + used;
        e.length = count;
        e.running = status;
        used += count;
    } else if (status == 0xFF) {
        if (available - used < 2)
            return Parse::Incomplete;
        e.metaType = p[used];
        if (e.metaType == 0x51) {
            if (available - used < 4)
                return Parse::Incomplete;
            e.type = EventType::Tempo;
            e.data = p + used + 1;
            e.length = 3;
            e.tempo = uint32_t(p[used + 1]) << 16 | uint32_t(p[used + 2]) << 8 | p[used + 3];
            used += 4;
        } else {
            const uint8_t length = p[used + 1];
            if (available - used - 2 < length)
                return Parse::Incomplete;
            e.type = e.metaType == 0x2F ? EventType::EndOfTrack : EventType::Meta;
            e.data = p + used + 2;
            e.length = length;
            used += 2 + size_t(length);
        }
    } else if (status == 0xF0 || status == 0xF7) {
        uint32_t length = 0;
        if (const Parse r = number(p, available, used, length); r != Parse::Complete)
            return r;
        if (available - used < length)
            return Parse::Incomplete;
        e.type = EventType::SystemExclusive;
        e.data = p + used;
        e.length = length;
        used += length;
    } else {
        return Parse::Error;
    }
    e.bytes = used;
    event = e;
    return Parse::Complete;
}

Walk walkEvents(const uint8_t* p, size_t size, uint32_t tempo)
{
    Walk walk;
    uint8_t running = 0;
    while (walk.bytes < size) {
        Event e;
        const Parse r = parseEvent(p + walk.bytes, size - walk.bytes, running, e);
        if (r == Parse::Error)
            walk.error = true;
        if (r != Parse::Complete)
            break;
        walk.timeSum = addTime(walk.timeSum, e.delta, tempo);
        walk.bytes += e.bytes;
        running = e.running;
        if (e.type == EventType::Tempo)
            tempo = e.tempo;
        if (e.type == EventType::EndOfTrack) {
            walk.endOfTrack = true;
            break;
        }
    }
    return walk;
}

} // namespace scorefile
