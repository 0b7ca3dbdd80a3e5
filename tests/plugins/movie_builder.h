// Builds synthetic STR movie files: a RIFF header and raw 2352-byte sectors, video and XA sound
// sectors laid out by the test, for the cases the encoder-made movies do not contain.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace movietest {

constexpr size_t kSectorBytes = 2352;
constexpr size_t kRiffBytes = 44;
constexpr size_t kVideoDataOffset = 56;
constexpr size_t kVideoDataBytes = 2016;
constexpr size_t kAudioDataOffset = 24;
constexpr size_t kAudioDataBytes = 2304;

using Bytes = std::vector<uint8_t>;

inline void put16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

inline void put32(uint8_t* p, uint32_t v)
{
    put16(p, uint16_t(v));
    put16(p + 2, uint16_t(v >> 16));
}

inline uint16_t get16(const uint8_t* p)
{
    return uint16_t(p[0] | (p[1] << 8));
}

inline uint32_t get32(const uint8_t* p)
{
    return get16(p) | (uint32_t(get16(p + 2)) << 16);
}

struct VideoSector
{
    uint16_t index = 0;
    uint16_t count = 1;
    uint32_t frame = 1;
    uint32_t frameBytes = kVideoDataBytes;
    uint16_t width = 320;
    uint16_t height = 240;
    uint16_t magic = 0x0160;
    uint16_t type = 0x8001;
    uint8_t submode = 0x48;
    // The MDEC header, written on the frame's first sector only: its first word lies at data
    // word `headerWord` (0 = offset 56), its second word is `marker`.
    uint32_t headerWord = 0;
    uint16_t marker = 0x3800;
    uint16_t scale = 2;
    uint16_t version = 2;
    bool writeHeader = true;
};

// The data byte at position i of a video sector: never 0, so no 0x3800 or 0x3000 word
// appears by chance.
inline uint8_t videoFill(uint32_t frame, uint16_t index, size_t i)
{
    return uint8_t(0x80 | ((frame * 13 + index * 29 + i) & 0x7F));
}

inline Bytes videoSector(const VideoSector& v)
{
    Bytes s(kSectorBytes, 0);
    s[0x12] = s[0x16] = v.submode;
    put16(&s[0x18], v.magic);
    put16(&s[0x1A], v.type);
    put16(&s[0x1C], v.index);
    put16(&s[0x1E], v.count);
    put32(&s[0x20], v.frame);
    put32(&s[0x24], v.frameBytes);
    put16(&s[0x28], v.width);
    put16(&s[0x2A], v.height);
    for (size_t i = 0; i < kVideoDataBytes; ++i)
        s[kVideoDataOffset + i] = videoFill(v.frame, v.index, i);
    if (v.index == 0 && v.writeHeader) {
        uint8_t* h = &s[kVideoDataOffset + 2 * v.headerWord];
        put16(h, 0x1234);
        put16(h + 2, v.marker);
        put16(h + 4, v.scale);
        put16(h + 6, v.version);
    }
    return s;
}

// An XA sound sector whose 2304 data bytes count up from `seed`.
inline Bytes audioSector(uint8_t seed, uint8_t coding = 0x01, uint8_t submode = 0x64)
{
    Bytes s(kSectorBytes, 0);
    s[0x10] = s[0x14] = 1;
    s[0x12] = s[0x16] = submode;
    s[0x13] = s[0x17] = coding;
    for (size_t i = 0; i < kAudioDataBytes; ++i)
        s[kAudioDataOffset + i] = uint8_t(seed + i);
    return s;
}

inline Bytes audioData(const Bytes& sector)
{
    return Bytes(sector.begin() + kAudioDataOffset, sector.begin() + kAudioDataOffset + kAudioDataBytes);
}

class MovieBuilder
{
  public:
    explicit MovieBuilder(const char* magic = "RIFF")
    {
        m_bytes.assign(kRiffBytes, 0);
        std::memcpy(m_bytes.data(), magic, 4);
        std::memcpy(m_bytes.data() + 8, "CDXAfmt ", 8);
    }

    MovieBuilder& add(const Bytes& sector)
    {
        m_bytes.insert(m_bytes.end(), sector.begin(), sector.end());
        return *this;
    }

    MovieBuilder& add(const VideoSector& v) { return add(videoSector(v)); }

    // A whole frame of `count` sectors carrying `frameBytes` bytes of data.
    MovieBuilder& frame(uint32_t number, uint16_t count, uint32_t frameBytes = 0, uint16_t width = 320,
                        uint16_t height = 240)
    {
        if (frameBytes == 0)
            frameBytes = uint32_t(count) * kVideoDataBytes - 100;
        for (uint16_t i = 0; i < count; ++i) {
            VideoSector v;
            v.index = i;
            v.count = count;
            v.frame = number;
            v.frameBytes = frameBytes;
            v.width = width;
            v.height = height;
            add(v);
        }
        return *this;
    }

    const Bytes& bytes() const { return m_bytes; }

    void write(const std::filesystem::path& path) const
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(m_bytes.data()), std::streamsize(m_bytes.size()));
    }

  private:
    Bytes m_bytes;
};

} // namespace movietest
