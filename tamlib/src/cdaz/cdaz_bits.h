// Bit streams of the CDAZ file: values are written most significant bit first into successive
// bytes, and the last byte is padded with zero bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tamlib {

// Calls f(position) for every set bit of `bytes`, in order; bit 0 is the top bit of byte 0.
template <class F> void forEachSetBit(const uint8_t* bytes, size_t count, F f)
{
    for (size_t byte = 0; byte < count; ++byte) {
        const uint8_t value = bytes[byte];
        if (!value)
            continue;
        for (uint32_t b = 0; b < 8; ++b)
            if (value & (0x80u >> b))
                f(byte * 8 + b);
    }
}

// The number of bits needed to write x: 0 for 0, 1 for 1, 2 for 2 and 3, ...
constexpr uint32_t bitlen(uint64_t x)
{
    uint32_t bits = 0;
    while (x) {
        ++bits;
        x >>= 1;
    }
    return bits;
}

class BitWriter
{
  public:
    explicit BitWriter(std::vector<uint8_t>& out) : m_out(out) {}

    // Appends the low `bits` bits of value (0 to 32).
    void put(uint32_t value, uint32_t bits)
    {
        if (bits == 0)
            return;
        m_acc = (m_acc << bits) | (uint64_t(value) & ((uint64_t(1) << bits) - 1));
        m_count += bits;
        while (m_count >= 8) {
            m_count -= 8;
            m_out.push_back(uint8_t(m_acc >> m_count));
        }
        m_acc &= (uint64_t(1) << m_count) - 1;
    }
    // Pads the last byte with zero bits.
    void flush()
    {
        if (m_count)
            m_out.push_back(uint8_t(m_acc << (8 - m_count)));
        m_acc = 0;
        m_count = 0;
    }

  private:
    std::vector<uint8_t>& m_out;
    uint64_t m_acc = 0;
    uint32_t m_count = 0;
};

// Reads a bit stream; any read past its end fails and leaves the reader failed.
class BitReader
{
  public:
    BitReader(const uint8_t* data, size_t bytes) : m_data(data), m_bits(uint64_t(bytes) * 8) {}

    bool failed() const { return m_failed; }
    uint64_t bitsLeft() const { return m_bits - m_pos; }

    int bit()
    {
        if (m_pos >= m_bits) {
            m_failed = true;
            return 0;
        }
        const int b = (m_data[m_pos >> 3] >> (7 - (m_pos & 7))) & 1;
        ++m_pos;
        return b;
    }
    // Reads `bits` bits (0 to 32); 0 after a failure.
    uint32_t get(uint32_t bits)
    {
        if (bits > bitsLeft()) {
            m_pos = m_bits;
            m_failed = true;
            return 0;
        }
        uint32_t value = 0;
        while (bits) {
            const uint32_t inByte = 8 - uint32_t(m_pos & 7);
            const uint32_t take = bits < inByte ? bits : inByte;
            const uint32_t byte = m_data[m_pos >> 3];
            value = (value << take) | ((byte >> (inByte - take)) & ((1u << take) - 1));
            m_pos += take;
            bits -= take;
        }
        return value;
    }

  private:
    const uint8_t* m_data;
    uint64_t m_bits;
    uint64_t m_pos = 0;
    bool m_failed = false;
};

} // namespace tamlib
