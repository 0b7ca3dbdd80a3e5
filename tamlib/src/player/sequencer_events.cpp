// Raw sequencer events to stream event records.
//
// Input: a run of events, each
//   delta    variable-length number, 7 bits a byte, most significant first, 0x80 = more follows;
//            at most 4 bytes (a fifth byte makes the run malformed)
//   event    one of
//     0x80-0xEF d1 [d2]   channel message; one data byte for 0xC0-0xDF, two for the others
//     d1 [d2]             running status: a data byte (< 0x80) repeats the last channel status
//     0xFF type len data  meta event, `len` variable-length; type 0x51 with len 3 is the tempo
//                         (24-bit microseconds per quarter note); every other meta is skipped
//     0xF0 len data       system exclusive, `len` variable-length, `data` exactly len bytes
//                         (ending with 0xF7 for a complete message), as in a MIDI file
//     0xF7 len data       system-exclusive escape: `data` is sent as it stands
//     0xF1-0xF6, 0xF8-0xFE  system common and real-time messages with their own data bytes
//                         (0xF1 1, 0xF2 2, 0xF3 1, the others none); 0xF4 and 0xF5 are undefined
//
// Output records (see sequencer_events.h):
//   channel, system common and real-time messages -> short record
//   tempo                                          -> tempo record
//   0xF0 len data                                  -> long record, payload 0xF0 + data
//   0xF7 len data                                  -> long record, payload data
//   other meta events                              -> nothing; their delta adds to the next record
// Meta, system-exclusive and system common events end running status; real-time messages keep
// it. A run is malformed when a delta is too long, a data byte comes with no running status, an
// undefined status appears, a data byte of a message has its top bit set, or an event is cut off.
// Deltas that add up past 32 bits are held at the largest value.
#include "player/sequencer_events.h"

#include <algorithm>
#include <optional>

namespace tamrin::player {
namespace {

class Converter
{
  public:
    Converter(std::span<const uint8_t> in, std::span<uint8_t> out) : m_in(in), m_out(out) {}

    size_t run()
    {
        while (m_pos < m_in.size())
            if (!event())
                return 0;
        return m_written;
    }

  private:
    std::optional<uint32_t> number()
    {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i)
        {
            if (m_pos >= m_in.size())
                return std::nullopt;
            const uint8_t b = m_in[m_pos++];
            value = value << 7 | (b & 0x7F);
            if (!(b & 0x80))
                return value;
        }
        return std::nullopt;
    }

    bool take(uint8_t& b)
    {
        if (m_pos >= m_in.size())
            return false;
        b = m_in[m_pos++];
        return true;
    }

    bool dataByte(uint8_t& b)
    {
        return take(b) && b < 0x80;
    }

    static void put32(uint8_t* p, uint32_t v)
    {
        p[0] = uint8_t(v);
        p[1] = uint8_t(v >> 8);
        p[2] = uint8_t(v >> 16);
        p[3] = uint8_t(v >> 24);
    }

    bool record(uint8_t type, uint32_t value, std::span<const uint8_t> head = {},
                std::span<const uint8_t> payload = {})
    {
        const size_t length = head.size() + payload.size();
        const size_t padded = (length + 3) & ~size_t(3);
        if (m_out.size() - m_written < kStreamEventBytes + padded)
            return false;
        uint8_t* p = m_out.data() + m_written;
        put32(p, uint32_t(std::min<uint64_t>(m_delta, UINT32_MAX)));
        put32(p + 4, 0);
        put32(p + 8, uint32_t(type) << 24 | (value & 0xFFFFFF));
        p += kStreamEventBytes;
        std::copy(head.begin(), head.end(), p);
        std::copy(payload.begin(), payload.end(), p + head.size());
        std::fill(p + length, p + padded, uint8_t(0));
        m_written += kStreamEventBytes + padded;
        m_delta = 0;
        return true;
    }

    bool shortMessage(uint8_t status, int dataCount, std::optional<uint8_t> first = std::nullopt)
    {
        uint8_t d[2] = {0, 0};
        for (int i = 0; i < dataCount; ++i)
        {
            if (i == 0 && first)
                d[0] = *first;
            else if (!dataByte(d[i]))
                return false;
        }
        return record(kEventShort, uint32_t(status) | uint32_t(d[0]) << 8 | uint32_t(d[1]) << 16);
    }

    static int channelDataCount(uint8_t status)
    {
        return status >= 0xC0 && status <= 0xDF ? 1 : 2;
    }

    bool event()
    {
        const auto delta = number();
        if (!delta)
            return false;
        m_delta += *delta;
        uint8_t status = 0;
        if (!take(status))
            return false;
        if (status < 0x80)
        {
            if (!m_running)
                return false;
            return shortMessage(m_running, channelDataCount(m_running), status);
        }
        if (status < 0xF0)
        {
            m_running = status;
            return shortMessage(status, channelDataCount(status));
        }
        switch (status)
        {
        case 0xFF:
            return meta();
        case 0xF0:
        case 0xF7:
            return systemExclusive(status);
        case 0xF1:
        case 0xF3:
            m_running = 0;
            return shortMessage(status, 1);
        case 0xF2:
            m_running = 0;
            return shortMessage(status, 2);
        case 0xF6:
            m_running = 0;
            return shortMessage(status, 0);
        case 0xF4:
        case 0xF5:
            return false;
        default: // 0xF8-0xFE: real time, no data, running status kept
            return shortMessage(status, 0);
        }
    }

    bool meta()
    {
        m_running = 0;
        uint8_t type = 0;
        if (!take(type))
            return false;
        const auto length = number();
        if (!length || m_in.size() - m_pos < *length)
            return false;
        const uint8_t* data = m_in.data() + m_pos;
        m_pos += *length;
        if (type != 0x51 || *length != 3)
            return true;
        return record(kEventTempo, uint32_t(data[0]) << 16 | uint32_t(data[1]) << 8 | data[2]);
    }

    bool systemExclusive(uint8_t status)
    {
        m_running = 0;
        const auto length = number();
        if (!length || m_in.size() - m_pos < *length)
            return false;
        const auto payload = m_in.subspan(m_pos, *length);
        m_pos += *length;
        const uint8_t head[1] = {status};
        const auto headSpan = status == 0xF0 ? std::span<const uint8_t>(head) : std::span<const uint8_t>();
        const size_t total = headSpan.size() + payload.size();
        if (total > 0xFFFFFF)
            return false;
        return record(kEventLong, uint32_t(total), headSpan, payload);
    }

    std::span<const uint8_t> m_in;
    std::span<uint8_t> m_out;
    size_t m_pos = 0;
    size_t m_written = 0;
    uint64_t m_delta = 0;
    uint8_t m_running = 0;
};

} // namespace

size_t convertSequencerEvents(std::span<const uint8_t> in, std::span<uint8_t> out)
{
    return Converter(in, out).run();
}

} // namespace tamrin::player

namespace tamrin::player {

void scaleNoteVelocities(std::span<uint8_t> records, uint32_t percent)
{
    size_t pos = 0;
    while (records.size() - pos >= kStreamEventBytes)
    {
        uint8_t* event = records.data() + pos + 8;
        const uint8_t type = event[3];
        const size_t payload =
            type == kEventLong ? ((size_t(event[0]) | size_t(event[1]) << 8 | size_t(event[2]) << 16) + 3) & ~size_t(3)
                               : 0;
        if (type == kEventShort && (event[0] & 0xF0) == 0x90 && event[2] != 0)
            event[2] = uint8_t(std::min<uint32_t>(uint32_t(event[2]) * percent / 100, 127));
        if (records.size() - pos - kStreamEventBytes < payload)
            return;
        pos += kStreamEventBytes + payload;
    }
}

} // namespace tamrin::player
