// Builds compressed MDEC frames bit by bit for the decoder's tests.
#pragma once

#include <cstdint>
#include <vector>

class BitWriter
{
public:
    // Appends the low `count` bits of `value`, most significant first.
    BitWriter& put(uint32_t value, int count)
    {
        for (int i = count - 1; i >= 0; --i) {
            m_word = uint16_t(m_word << 1 | ((value >> i) & 1));
            if (++m_bits == 16)
                flush();
        }
        return *this;
    }
    BitWriter& bits(const char* pattern)
    {
        for (const char* p = pattern; *p; ++p)
            if (*p == '0' || *p == '1')
                put(uint32_t(*p - '0'), 1);
        return *this;
    }
    // The words so far, the last one padded with zeros.
    std::vector<uint16_t> words() const
    {
        std::vector<uint16_t> out = m_words;
        if (m_bits)
            out.push_back(uint16_t(m_word << (16 - m_bits)));
        return out;
    }

private:
    void flush()
    {
        m_words.push_back(m_word);
        m_word = 0;
        m_bits = 0;
    }
    std::vector<uint16_t> m_words;
    uint16_t m_word = 0;
    int m_bits = 0;
};

// A frame payload: the four header words, then `body` words, little-endian.
inline std::vector<uint8_t> framePayload(uint16_t codeWords, uint16_t qscale, uint16_t version,
                                         const std::vector<uint16_t>& body)
{
    std::vector<uint16_t> words = {codeWords, 0x3800, qscale, version};
    words.insert(words.end(), body.begin(), body.end());
    std::vector<uint8_t> bytes;
    for (uint16_t w : words) {
        bytes.push_back(uint8_t(w));
        bytes.push_back(uint8_t(w >> 8));
    }
    return bytes;
}

// A plain-DC (version 2) frame of whole macroblocks where every block has only its DC value.
inline std::vector<uint8_t> dcOnlyFrame(int macroblocks, const std::vector<int>& dcPerBlock, uint16_t qscale = 1)
{
    BitWriter w;
    for (int b = 0; b < macroblocks * 6; ++b) {
        w.put(uint32_t(dcPerBlock[size_t(b) % dcPerBlock.size()]) & 0x3FF, 10);
        w.bits("10");  // end of block
    }
    return framePayload(uint16_t(macroblocks * 6), qscale, 2, w.words());
}
