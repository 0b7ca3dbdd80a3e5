// "pQES" sequences for the music tests. The writer lays out the file (magic, u32 version, u16 BE
// resolution, u24 BE tempo, numerator, denominator power; then events: running status where
// asked, tempo FF 51 ttt without a length, meta FF type len data, system exclusive F0/F7 varlen
// data) and beside it the same events in a MIDI file track (full status bytes, FF 51 03 ttt,
// variable-length meta lengths), their mido message names, the tempos and the play time.
// placeData() spreads bytes over Form 1 data sectors of a disc from a sector and an offset.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "../plugins/disc_builder.h"
#include "media_sources.h"
#include "user_data.h"

namespace mediagen {

struct Sequence
{
    Bytes file, midi;
    std::vector<std::string> messages;
    std::vector<uint32_t> tempos;    // the initial one first
    uint64_t ticks = 0, timeSum = 0; // timeSum: delta x tempo in force
    uint16_t resolution = 0;
    uint8_t numerator = 0, power = 0;

    uint32_t durationMs() const { return uint32_t(timeSum / resolution / 1000); }
};

class SequenceWriter
{
  public:
    SequenceWriter(uint16_t resolution, uint32_t tempo, uint8_t numerator = 4, uint8_t power = 2)
    {
        m_s.file = {'p', 'Q', 'E', 'S', 0, 0, 0, 1, uint8_t(resolution >> 8), uint8_t(resolution)};
        put(m_s.file, {uint8_t(tempo >> 16), uint8_t(tempo >> 8), uint8_t(tempo), numerator, power});
        m_s.resolution = resolution;
        m_s.numerator = numerator;
        m_s.power = power;
        m_s.tempos = {tempo};
    }

    // A channel message; `running` leaves its status out of the file.
    SequenceWriter& channel(uint32_t delta, uint8_t status, uint8_t d1, uint8_t d2 = 0, bool running = false)
    {
        static const char* kNames[] = {"note_off",       "note_on",    "polytouch", "control_change",
                                       "program_change", "aftertouch", "pitchwheel"};
        const Bytes data = status >= 0xC0 && status <= 0xDF ? Bytes{d1} : Bytes{d1, d2};
        event(delta, kNames[(status >> 4) - 8], running ? Bytes{} : Bytes{status}, Bytes{status}, data);
        return *this;
    }
    SequenceWriter& tempo(uint32_t delta, uint32_t us)
    {
        const Bytes t = {uint8_t(us >> 16), uint8_t(us >> 8), uint8_t(us)};
        event(delta, "set_tempo", {0xFF, 0x51}, {0xFF, 0x51, 0x03}, t);
        m_s.tempos.push_back(us); // in force after its own delta
        return *this;
    }
    // A text meta event of `length` bytes.
    SequenceWriter& text(uint32_t delta, uint8_t length)
    {
        event(delta, "text", {0xFF, 0x01, length}, varLen({0xFF, 0x01}, length), Bytes(length, 'm'));
        return *this;
    }
    SequenceWriter& sysex(uint32_t delta, uint8_t status, const Bytes& data)
    {
        const Bytes head = varLen({status}, uint32_t(data.size()));
        event(delta, "sysex", head, head, data);
        return *this;
    }
    Sequence end(uint32_t delta)
    {
        event(delta, "end_of_track", {0xFF, 0x2F, 0x00}, {0xFF, 0x2F, 0x00}, {});
        return m_s;
    }
    Sequence open() const { return m_s; } // without an end of the track

  private:
    static void put(Bytes& out, const Bytes& bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }
    static Bytes varLen(Bytes out, uint32_t v)
    {
        for (int i = (v >> 21) ? 3 : (v >> 14) ? 2 : (v >> 7) ? 1 : 0; i >= 0; --i)
            out.push_back(uint8_t(((v >> (7 * i)) & 0x7F) | (i ? 0x80 : 0)));
        return out;
    }
    void event(uint32_t delta, const char* name, const Bytes& fileHead, const Bytes& midiHead,
               const Bytes& data)
    {
        for (const auto& [out, head] : {std::pair{&m_s.file, &fileHead}, std::pair{&m_s.midi, &midiHead}}) {
            put(*out, varLen({}, delta));
            put(*out, *head);
            put(*out, data);
        }
        m_s.messages.push_back(name);
        m_s.ticks += delta;
        m_s.timeSum += uint64_t(delta) * m_s.tempos.back();
    }
    Sequence m_s;
};

// The music tests' song at division 96: a piano, GM System On, a note on and off in running
// status, pitch bends, the tempo halved, a 200-byte text (a two-byte length in a MIDI file), then
// `bars` bars of four quarter notes whose note offs are running note ons of velocity 0.
inline Sequence scoreSong(int bars = 2, uint32_t tempo = 500000, uint8_t numerator = 4)
{
    SequenceWriter w(96, tempo, numerator, 2);
    w.channel(0, 0xC0, 0x00).sysex(0, 0xF0, {0x7E, 0x7F, 0x09, 0x01, 0xF7});
    w.channel(0, 0x90, 60, 100).channel(48, 0x90, 64, 100, true).channel(48, 0x80, 60, 64);
    w.channel(0, 0x80, 64, 64, true).channel(0, 0xE0, 0x00, 0x50).tempo(0, tempo / 2).text(0, 200);
    w.channel(0, 0xE0, 0x00, 0x40);
    for (int bar = 0; bar < bars; ++bar)
        for (int q = 0; q < 4; ++q) {
            const auto key = uint8_t(60 + 2 * q + bar % 12);
            w.channel(0, 0x91, key, 90).channel(96, 0x91, key, 0, true);
        }
    return w.end(96);
}

} // namespace mediagen
