// Chunked sequence music (Tunebank.psr) from event lists: the chunk chain ("IECSsreV" version
// chunk of 16 bytes, "IECSuqeS" sequence chunk, "IECSidiM" MIDI chunk: last block index, block
// offsets, blocks of u32 events offset, u16 resolution, events, tail bytes), the events compressed
// as the format stores them, and the MIDI file bytes they must come out as. Compression: a zero
// delta after a channel message is left out (bit 7 on that message's last data byte), running
// status for a repeated channel status, note offs keep their key only, a two-byte delta before a
// meta event repeats its second byte, the end of track loses its length byte.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "../plugins/disc_builder.h"
#include "media_sources.h"
#include "user_data.h"

namespace mediagen {

struct TuneEvent
{
    uint32_t delta = 0;
    Bytes message; // status, data; meta: FF type length data; sysex: F0 length data
};

struct TuneBlock
{
    uint16_t resolution = 96;
    std::vector<TuneEvent> events;
    uint32_t eventsOffset = 6;
    Bytes tail{0x00}; // bytes after the events
};

inline void putVarLen(Bytes& out, uint32_t value)
{
    uint8_t groups[4];
    size_t n = 0;
    do {
        groups[n++] = uint8_t(value & 0x7F);
        value >>= 7;
    } while (value && n < 4);
    while (n--)
        out.push_back(uint8_t(groups[n] | (n ? 0x80 : 0)));
}

inline Bytes compressedEvents(const std::vector<TuneEvent>& events)
{
    Bytes out;
    uint8_t running = 0; // status of the event before, when it was a channel message
    for (size_t i = 0; i < events.size(); ++i) {
        const TuneEvent& e = events[i];
        const uint8_t status = e.message[0];
        if (!running || e.delta != 0) {
            putVarLen(out, e.delta);
            if (status == 0xFF && e.delta >= 0x80 && e.delta < 0x4000)
                out.push_back(out.back());
        }
        if (status >= 0xF0) {
            const bool endOfTrack = status == 0xFF && e.message[1] == 0x2F;
            out.insert(out.end(), e.message.begin(), endOfTrack ? e.message.begin() + 2 : e.message.end());
            running = 0;
            continue;
        }
        const size_t data =
            (status & 0xF0) == 0x80 || (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 1 : 2;
        const bool flagged = i + 1 < events.size() && events[i + 1].delta == 0;
        // A lone data byte with bit 7 would read as a status: such a message keeps its status.
        if (status != running || (data == 1 && flagged))
            out.push_back(status);
        out.insert(out.end(), e.message.begin() + 1, e.message.begin() + 1 + std::ptrdiff_t(data));
        if (flagged)
            out.back() |= 0x80;
        running = status;
    }
    return out;
}

// The events as a MIDI file track holds them: every delta and status written, note offs with
// velocity 0.
inline Bytes midiFileEvents(const std::vector<TuneEvent>& events)
{
    Bytes out;
    for (const TuneEvent& e : events) {
        putVarLen(out, e.delta);
        if ((e.message[0] & 0xF0) == 0x80) {
            out.insert(out.end(), {e.message[0], e.message[1], 0x00});
            continue;
        }
        out.insert(out.end(), e.message.begin(), e.message.end());
    }
    return out;
}

inline Bytes tuneBlock(const TuneBlock& block)
{
    Bytes out(6);
    put32(out.data(), block.eventsOffset);
    put16(out.data() + 4, block.resolution);
    const Bytes events = compressedEvents(block.events);
    out.insert(out.end(), events.begin(), events.end());
    out.insert(out.end(), block.tail.begin(), block.tail.end());
    return out;
}

inline Bytes tuneChunk(const char* tag, const Bytes& content)
{
    Bytes out(12 + content.size());
    std::memcpy(out.data(), tag, 8);
    put32(out.data() + 8, uint32_t(out.size()));
    std::copy(content.begin(), content.end(), out.begin() + 12);
    return out;
}

// The MIDI chunk of already made blocks.
inline Bytes midiChunk(const std::vector<Bytes>& blocks)
{
    Bytes content(4 + 4 * blocks.size());
    put32(content.data(), uint32_t(blocks.size() - 1));
    for (size_t i = 0; i < blocks.size(); ++i) {
        put32(content.data() + 4 + 4 * i, uint32_t(12 + content.size()));
        content.insert(content.end(), blocks[i].begin(), blocks[i].end());
    }
    return tuneChunk("IECSidiM", content);
}

inline Bytes tunebankChain(const std::vector<TuneBlock>& blocks)
{
    std::vector<Bytes> made;
    for (const TuneBlock& b : blocks)
        made.push_back(tuneBlock(b));
    Bytes out = tuneChunk("IECSsreV", {1, 0, 0, 0});
    const Bytes sequence = tuneChunk("IECSuqeS", {'t', 'a', 'm', 'r', 'i', 'n', 0, 1});
    const Bytes midi = midiChunk(made);
    out.insert(out.end(), sequence.begin(), sequence.end());
    out.insert(out.end(), midi.begin(), midi.end());
    return out;
}

// A short song at `tempo`: a program, a controller, a system-exclusive message, running-status
// notes whose offs follow without deltas, a pitch bend, a tempo change after a two-byte delta,
// and the end of the track.
inline std::vector<TuneEvent> tuneSong(uint8_t key, uint32_t tempo, uint32_t secondTempo)
{
    const auto tempoEvent = [](uint32_t delta, uint32_t us) {
        return TuneEvent{delta, {0xFF, 0x51, 0x03, uint8_t(us >> 16), uint8_t(us >> 8), uint8_t(us)}};
    };
    std::vector<TuneEvent> song{tempoEvent(0, tempo),
                                {0, {0xC0, 0x00}},
                                {0, {0xB0, 0x07, 0x64}},
                                {0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7}},
                                {0, {0xFF, 0x01, 0x03, 't', 'b', 'k'}}};
    for (uint8_t n = 0; n < 4; ++n) {
        const uint8_t k = uint8_t(key + 2 * n);
        song.push_back({0, {0x90, k, 0x64}});
        song.push_back({0, {0x90, uint8_t(k + 4), 0x50}});
        song.push_back({96, {0x80, k, 0x00}});
        song.push_back({0, {0x80, uint8_t(k + 4), 0x00}});
    }
    song.push_back({0, {0xE0, 0x00, 0x50}});
    song.push_back(tempoEvent(200, secondTempo));
    song.push_back({0, {0x91, key, 0x7F}});
    song.push_back({192, {0x81, key, 0x00}});
    song.push_back({0, {0xE0, 0x00, 0x40}});
    song.push_back({24, {0xFF, 0x2F, 0x00}});
    return song;
}

} // namespace mediagen
