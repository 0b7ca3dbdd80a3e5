#include "convert/midi_file.h"

#include <algorithm>
#include <bit>
#include <optional>

namespace tamlib::convert {

namespace {

void putBe16(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}

void putBe32(uint8_t* p, uint32_t v)
{
    putBe16(p, v >> 16);
    putBe16(p + 2, v);
}

class Walker
{
  public:
    explicit Walker(std::span<const uint8_t> in) : m_in(in) {}

    MidiEventWalk run()
    {
        MidiEventWalk walk;
        while (m_pos < m_in.size()) {
            const auto delta = number();
            if (!delta)
                return walk;
            bool endOfTrack = false;
            if (!event(endOfTrack))
                return walk;
            walk.ticks += *delta;
            walk.events += 1;
            walk.endOfTrack = endOfTrack;
        }
        walk.complete = true;
        return walk;
    }

  private:
    std::optional<uint32_t> number()
    {
        uint32_t value = 0;
        for (int i = 0; i < 4 && m_pos < m_in.size(); ++i) {
            const uint8_t b = m_in[m_pos++];
            value = value << 7 | (b & 0x7F);
            if (!(b & 0x80))
                return value;
        }
        return std::nullopt; // cut off, or a fifth byte
    }

    // Steps over `count` data bytes (each below 0x80).
    bool data(size_t count)
    {
        if (m_in.size() - m_pos < count)
            return false;
        for (size_t i = 0; i < count; ++i)
            if (m_in[m_pos + i] & 0x80)
                return false;
        m_pos += count;
        return true;
    }

    static size_t channelData(uint8_t status) { return status >= 0xC0 && status <= 0xDF ? 1 : 2; }

    bool event(bool& endOfTrack)
    {
        if (m_pos >= m_in.size())
            return false; // a delta with no event after it
        const uint8_t status = m_in[m_pos];
        if (status < 0x80) // running status: the data of another message of the last status
            return m_running != 0 && data(channelData(m_running));
        ++m_pos;
        if (status < 0xF0) {
            m_running = status;
            return data(channelData(status));
        }
        switch (status) {
        case 0xFF: {
            m_running = 0;
            if (m_pos >= m_in.size())
                return false;
            const uint8_t type = m_in[m_pos++];
            const auto length = number(); // variable-length, as in a MIDI file
            if (!length || m_in.size() - m_pos < *length)
                return false;
            m_pos += *length;
            endOfTrack = type == 0x2F;
            return true;
        }
        case 0xF0:
        case 0xF7: {
            m_running = 0;
            const auto length = number();
            if (!length || m_in.size() - m_pos < *length)
                return false;
            m_pos += *length;
            return true;
        }
        case 0xF1:
        case 0xF3:
            m_running = 0;
            return data(1);
        case 0xF2:
            m_running = 0;
            return data(2);
        case 0xF4:
        case 0xF5:
            return false;
        case 0xF6:
            m_running = 0;
            return true;
        default: // real time: no data, running status kept
            return true;
        }
    }

    std::span<const uint8_t> m_in;
    size_t m_pos = 0;
    uint8_t m_running = 0;
};

} // namespace

std::array<uint8_t, kMidiFileStartBytes> midiFileStart(uint16_t division)
{
    std::array<uint8_t, kMidiFileStartBytes> start{'M', 'T', 'h', 'd'};
    putBe32(&start[4], 6);
    putBe16(&start[8], 0); // format 0
    putBe16(&start[10], 1);
    putBe16(&start[12], division);
    start[14] = 'M';
    start[15] = 'T';
    start[16] = 'r';
    start[17] = 'k';
    putBe32(&start[kMidiTrackLengthOffset], 0);
    return start;
}

std::array<uint8_t, kMidiTrackPrologueBytes> midiTrackPrologue(uint32_t tempo, uint16_t timeSignature)
{
    const uint8_t numerator = timeSignature ? uint8_t(timeSignature >> 8) : 4;
    const uint8_t power = timeSignature ? uint8_t(timeSignature) : 2;
    return {// XG System On
            0x00, 0xF0, 0x08, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7,
            // tempo
            0x04, 0xFF, 0x51, 0x03, uint8_t(tempo >> 16), uint8_t(tempo >> 8), uint8_t(tempo),
            // time signature: 24 MIDI clocks a click, eight 32nd notes a quarter
            0x08, 0xFF, 0x58, 0x04, numerator, power, 0x18, 0x08};
}

MidiEventWalk walkMidiEvents(std::span<const uint8_t> events)
{
    return Walker(events).run();
}

uint32_t midiTicksToMs(uint32_t ticks, uint32_t tempo, uint32_t division)
{
    if (ticks == 0 || tempo == 0 || division == 0 || division > 0xFFFF)
        return 0;
    uint32_t d = division * 1000;
    while (!(tempo & 1) && !(d & 1)) {
        tempo >>= 1;
        d >>= 1;
    }
    while (!(ticks & 1) && !(d & 1)) {
        ticks >>= 1;
        d >>= 1;
    }
    int i = std::bit_width(tempo);
    int j = std::bit_width(ticks);
    int m = std::bit_width(d);
    int doublings = 0;
    while (i + j >= 32) {
        if (std::min(i, j) < m) {
            d >>= 1;
            --m;
        } else {
            ++doublings;
        }
        if (j < i) {
            tempo >>= 1;
            --i;
        } else {
            ticks >>= 1;
            --j;
        }
    }
    const uint32_t quotient = ticks * tempo / d;
    if (doublings > 0 && std::bit_width(quotient) + doublings > 32)
        return UINT32_MAX;
    return quotient << doublings;
}

} // namespace tamlib::convert
