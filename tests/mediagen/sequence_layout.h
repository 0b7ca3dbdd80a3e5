// "pQES" sequences for the music tests. The writer lays out the sequence file (15-byte header:
// magic, u32 version, u16 BE resolution, u24 BE tempo, numerator, denominator power; then the
// events with their own encoding: running status where asked, tempo FF 51 ttt without length,
// meta FF type len data, system exclusive F0/F7 varlen data) and, beside it, what the same events
// are in a MIDI file track (full status bytes, FF 51 03 ttt, variable-length meta lengths), their
// mido message names, the tempo changes and the play time.
//
// placeData() spreads bytes over Form 1 data sectors of a disc, from a sector and an offset.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "../plugins/disc_builder.h"
#include "media_sources.h"

namespace mediagen {

struct Sequence
{
    Bytes file;
    Bytes midi; // the events as the units give them, one after the other
    std::vector<std::string> messages;
    std::vector<uint32_t> tempos; // every tempo in force, the initial one first
    uint64_t ticks = 0;
    uint64_t timeSum = 0; // delta x tempo
    uint16_t resolution = 0;
    uint8_t numerator = 0, power = 0;

    uint32_t durationMs() const { return uint32_t(timeSum / resolution / 1000); }
};

class SequenceWriter
{
  public:
    SequenceWriter(uint16_t resolution, uint32_t tempo, uint8_t numerator = 4, uint8_t power = 2)
    {
        m_s.resolution = resolution;
        m_s.numerator = numerator;
        m_s.power = power;
        m_s.tempos.push_back(tempo);
        m_tempo = tempo;
        m_s.file = {'p', 'Q', 'E', 'S', 0, 0, 0, 1};
        append(m_s.file, {uint8_t(resolution >> 8), uint8_t(resolution)});
        append(m_s.file, {uint8_t(tempo >> 16), uint8_t(tempo >> 8), uint8_t(tempo), numerator, power});
    }

    // A channel message; `running` leaves its status byte out of the file (the last status must
    // be the same).
    SequenceWriter& channel(uint32_t delta, uint8_t status, uint8_t d1, uint8_t d2 = 0, bool running = false)
    {
        const bool one = status >= 0xC0 && status <= 0xDF;
        Bytes data = {d1};
        if (!one)
            data.push_back(d2);
        time(delta);
        if (!running)
            m_s.file.push_back(status);
        append(m_s.file, data);
        m_s.midi.push_back(status);
        append(m_s.midi, data);
        static const char* kNames[] = {"note_off",       "note_on",    "polytouch", "control_change",
                                       "program_change", "aftertouch", "pitchwheel"};
        m_s.messages.push_back(kNames[(status >> 4) - 8]);
        return *this;
    }

    SequenceWriter& tempo(uint32_t delta, uint32_t us)
    {
        time(delta);
        const Bytes t = {uint8_t(us >> 16), uint8_t(us >> 8), uint8_t(us)};
        append(m_s.file, {0xFF, 0x51});
        append(m_s.file, t);
        append(m_s.midi, {0xFF, 0x51, 0x03});
        append(m_s.midi, t);
        m_s.messages.push_back("set_tempo");
        m_s.tempos.push_back(us);
        m_tempo = us; // after its own delta
        return *this;
    }

    // A meta event of type 0x01 (text) with `length` bytes of text.
    SequenceWriter& text(uint32_t delta, uint8_t length)
    {
        time(delta);
        const Bytes data(length, 'm');
        append(m_s.file, {0xFF, 0x01, length});
        append(m_s.file, data);
        append(m_s.midi, {0xFF, 0x01});
        varLen(m_s.midi, length);
        append(m_s.midi, data);
        m_s.messages.push_back("text");
        return *this;
    }

    // 0xF0 and the data (which ends with 0xF7), or 0xF7 and the data.
    SequenceWriter& sysex(uint32_t delta, uint8_t status, const Bytes& data)
    {
        time(delta);
        for (Bytes* out : {&m_s.file, &m_s.midi}) {
            out->push_back(status);
            varLen(*out, uint32_t(data.size()));
            append(*out, data);
        }
        m_s.messages.push_back("sysex");
        return *this;
    }

    Sequence end(uint32_t delta)
    {
        time(delta);
        append(m_s.file, {0xFF, 0x2F, 0x00});
        append(m_s.midi, {0xFF, 0x2F, 0x00});
        m_s.messages.push_back("end_of_track");
        return m_s;
    }

    // The sequence so far, without an end of the track.
    Sequence open() const { return m_s; }

  private:
    static void append(Bytes& out, const Bytes& bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

    static void varLen(Bytes& out, uint32_t v)
    {
        int n = 1;
        while (n < 4 && v >> (7 * n))
            ++n;
        for (int i = n - 1; i >= 0; --i)
            out.push_back(uint8_t((v >> (7 * i)) & 0x7F) | (i ? 0x80 : 0));
    }

    void time(uint32_t delta)
    {
        varLen(m_s.file, delta);
        varLen(m_s.midi, delta);
        m_s.ticks += delta;
        m_s.timeSum += uint64_t(delta) * m_tempo;
    }

    Sequence m_s;
    uint32_t m_tempo = 0;
};

// The song of the music tests: a piano, note on/off with running status, a pitch bend, a tempo
// change to half the time, a system-exclusive message (GM System On), a text of 200 bytes (a
// two-byte length in a MIDI file) and `bars` further bars of four quarter notes at division 96.
inline Sequence scoreSong(int bars = 2, uint32_t tempo = 500000, uint8_t numerator = 4)
{
    SequenceWriter w(96, tempo, numerator, 2);
    w.channel(0, 0xC0, 0x00)
        .sysex(0, 0xF0, {0x7E, 0x7F, 0x09, 0x01, 0xF7})
        .channel(0, 0x90, 60, 100)
        .channel(48, 0x90, 64, 100, true)
        .channel(48, 0x80, 60, 64)
        .channel(0, 0x80, 64, 64, true)
        .channel(0, 0xE0, 0x00, 0x50)
        .tempo(0, tempo / 2)
        .text(0, 200)
        .channel(0, 0xE0, 0x00, 0x40);
    for (int bar = 0; bar < bars; ++bar)
        for (int q = 0; q < 4; ++q) {
            const uint8_t key = uint8_t(60 + 2 * q + bar % 12);
            w.channel(0, 0x91, key, 90).channel(96, 0x91, key, 0, true);
        }
    return w.end(96);
}

// Writes `bytes` into the user data of Form 1 sectors from `offset` (0 to 2047) of sector `lba`
// on; sectors not yet placed are added as zero-filled Form 1 sectors.
inline void placeData(discbuild::DiscBuilder& b, uint32_t lba, size_t offset, const Bytes& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        if (lba >= b.next()) {
            discbuild::Sector s{};
            b.placeAt(lba, s);
        }
        discbuild::Sector& s = b.at(lba);
        discbuild::putSubHeader(s.data(), 0, 0, 0x08, 0);
        const size_t take = std::min(bytes.size() - done, 2048 - offset);
        std::memcpy(s.data() + 24 + offset, bytes.data() + done, take);
        done += take;
        offset = 0;
        ++lba;
    }
}

} // namespace mediagen
