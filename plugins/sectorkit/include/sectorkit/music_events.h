// The units of the music plugins: raw sequencer events in Standard MIDI File track encoding, as
// the player and the MIDI converter read them. Every event is written whole:
//
//   delta       variable-length number, shortest form (1 to 4 bytes)
//   status      always present (running status of the source is expanded)
//   channel     1 or 2 data bytes
//   0xFF type   meta event: type, variable-length length, exactly that many data bytes
//               (tempo: FF 51 03 tt tt tt; end of track: FF 2F 00)
//   0xF0 / 0xF7 system exclusive: status, variable-length length, exactly that many data bytes
//
// Header-only; the plugins append into their unit payload through a bounded writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace sectorkit {

// Largest delta time a variable-length number of 4 bytes holds.
constexpr uint32_t kMaxMidiDelta = 0x0FFFFFFF;

// Bytes of `value` (at most kMaxMidiDelta) as a variable-length number.
constexpr size_t varLenBytes(uint32_t value)
{
    size_t n = 1;
    while (value >= 0x80 && n < 4) {
        value >>= 7;
        ++n;
    }
    return n;
}

// Appends events to `out[0 .. capacity)`; every append either writes all its bytes or nothing.
class MusicUnitWriter
{
  public:
    MusicUnitWriter(uint8_t* out, size_t capacity) : m_out(out), m_capacity(capacity) {}

    size_t size() const { return m_size; }

    // Status followed by `length` bytes (a channel message's data bytes).
    bool channelEvent(uint32_t delta, uint8_t status, const uint8_t* data, size_t length)
    {
        if (!fits(varLenBytes(delta) + 1 + length))
            return false;
        putVarLen(delta);
        m_out[m_size++] = status;
        putBytes(data, length);
        return true;
    }

    // 0xFF type, then the length as a variable-length number and the data.
    bool metaEvent(uint32_t delta, uint8_t type, const uint8_t* data, uint32_t length)
    {
        if (!fits(varLenBytes(delta) + 2 + varLenBytes(length) + length))
            return false;
        putVarLen(delta);
        m_out[m_size++] = 0xFF;
        m_out[m_size++] = type;
        putVarLen(length);
        putBytes(data, length);
        return true;
    }

    // 0xF0 or 0xF7, then the length as a variable-length number and the data.
    bool sysexEvent(uint32_t delta, uint8_t status, const uint8_t* data, uint32_t length)
    {
        if (!fits(varLenBytes(delta) + 1 + varLenBytes(length) + length))
            return false;
        putVarLen(delta);
        m_out[m_size++] = status;
        putVarLen(length);
        putBytes(data, length);
        return true;
    }

  private:
    bool fits(size_t bytes) const { return bytes <= m_capacity - m_size; }

    void putVarLen(uint32_t value)
    {
        value &= kMaxMidiDelta;
        const size_t n = varLenBytes(value);
        for (size_t i = 0; i < n; ++i) {
            const auto group = uint8_t((value >> (7 * (n - 1 - i))) & 0x7F);
            m_out[m_size++] = uint8_t(i + 1 < n ? group | 0x80 : group);
        }
    }

    void putBytes(const uint8_t* data, size_t length)
    {
        if (length)
            std::memcpy(m_out + m_size, data, length);
        m_size += length;
    }

    uint8_t* m_out;
    size_t m_capacity;
    size_t m_size = 0;
};

} // namespace sectorkit
