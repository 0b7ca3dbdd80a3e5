// What the generated game-format media are made of: real MDEC frames and real SPU ADPCM sound
// taken from the independent encoders' files in tests/data, so that what a plugin delivers can be
// compared with the independent decoder's references of the same data.
//
//   mdecFrames(movie)   the frames of a test movie, each its bitstream (frame-byte count long),
//                       number and picture size; referenceYuv() gives the reference planes of a
//                       frame (references/NAME.yuv, yuvj420p, frames in order).
//   spuStereo()         spu2_22050_stereo_i2048.spu split into its left and right blocks, and the
//                       reference samples of each channel (references/spu2_..., 28 a block).
//   spuMono()           spu1_44100_mono.vag's blocks and reference (the same for both channels).
//
// The format layouts (one header per format, <format>_layout.h) place these into sectors; the
// disc images are written with discbuild::DiscBuilder (tests/plugins/disc_builder.h).
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace mediagen {

namespace fs = std::filesystem;

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

inline uint16_t le16(const uint8_t* p)
{
    return uint16_t(p[0] | (p[1] << 8));
}

inline uint32_t le32(const uint8_t* p)
{
    return uint32_t(le16(p)) | uint32_t(le16(p + 2)) << 16;
}

inline Bytes readAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline fs::path testData(const std::string& relative)
{
    return fs::path(TAMRIN_TEST_DATA) / relative;
}

// ---- MDEC frames ------------------------------------------------------------------------------

struct MdecFrame
{
    uint32_t number = 0; // from 1, as the source movie numbers it
    uint16_t width = 0;
    uint16_t height = 0;
    Bytes bitstream; // the frame's data, its stored frame-byte count long
};

// The frames of tests/data/movies/<movie>, in order; empty when the file cannot be read. Each
// frame's data is gathered from its movie sectors (header 0x0160, type bit 15; 2016 bytes from
// offset 56 each) in sector-index order and cut to the frame-byte count of its first sector.
inline std::vector<MdecFrame> mdecFrames(const std::string& movie)
{
    constexpr size_t kRaw = 2352, kRiff = 44, kData = 56, kDataBytes = 2016;
    const Bytes file = readAll(testData("movies/" + movie));
    std::vector<MdecFrame> frames;
    for (size_t at = kRiff; at + kRaw <= file.size(); at += kRaw) {
        const uint8_t* s = file.data() + at;
        if ((s[0x12] & 0x64) == 0x64 || le16(s + 24) != 0x0160 || !(le16(s + 26) & 0x8000))
            continue;
        const uint16_t index = le16(s + 28);
        const uint32_t number = le32(s + 32);
        if (index == 0)
            frames.push_back({number, le16(s + 40), le16(s + 42), {}});
        if (frames.empty() || frames.back().number != number)
            continue;
        MdecFrame& f = frames.back();
        f.bitstream.insert(f.bitstream.end(), s + kData, s + kData + kDataBytes);
        const uint32_t bytes = le32(s + 36);
        if (index + 1u == le16(s + 30) && f.bitstream.size() > bytes)
            f.bitstream.resize(bytes);
    }
    return frames;
}

// The reference planes (Y, then Cb, then Cr) of frame `index` (from 0) of a test movie, or empty.
inline Bytes referenceYuv(const std::string& movie, size_t index, uint16_t width, uint16_t height)
{
    const std::string stem = movie.substr(0, movie.rfind('.'));
    const size_t frameBytes = size_t(width) * height * 3 / 2;
    std::ifstream in(testData("references/" + stem + ".yuv"), std::ios::binary);
    Bytes planes(frameBytes);
    in.seekg(std::streamoff(index * frameBytes));
    if (!in.read(reinterpret_cast<char*>(planes.data()), std::streamsize(frameBytes)))
        return {};
    return planes;
}

// ---- SPU ADPCM sound --------------------------------------------------------------------------

using SpuBlock = std::array<uint8_t, 16>;

struct SpuSound
{
    std::vector<SpuBlock> left, right;
    // The reference decode of each channel's blocks in order: 28 samples a block.
    std::vector<int16_t> referenceLeft, referenceRight;
};

// Samples of channel `channel` of a 16-bit WAVE file (the "data" chunk, walking the chunks).
inline std::vector<int16_t> waveChannel(const fs::path& path, unsigned channel)
{
    const Bytes b = readAll(path);
    if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0)
        return {};
    unsigned channels = 0;
    for (size_t at = 12; at + 8 <= b.size();) {
        const uint32_t size = le32(b.data() + at + 4);
        const size_t body = at + 8;
        if (size > b.size() - body)
            return {};
        if (std::memcmp(b.data() + at, "fmt ", 4) == 0 && size >= 16)
            channels = le16(b.data() + body + 2);
        if (std::memcmp(b.data() + at, "data", 4) == 0 && channels > channel) {
            std::vector<int16_t> out;
            for (size_t i = body + 2 * channel; i + 2 <= body + size; i += 2 * channels)
                out.push_back(int16_t(le16(b.data() + i)));
            return out;
        }
        at = body + size + (size & 1);
    }
    return {};
}

// spu2_22050_stereo_i2048.spu: runs of 2048 bytes (128 blocks), left then right; 1664 blocks a
// channel.
inline SpuSound spuStereo()
{
    const Bytes data = readAll(testData("audio/spu2_22050_stereo_i2048.spu"));
    SpuSound sound;
    for (size_t at = 0; at + 16 <= data.size(); at += 16) {
        SpuBlock block;
        std::memcpy(block.data(), data.data() + at, 16);
        (at / 2048 % 2 == 0 ? sound.left : sound.right).push_back(block);
    }
    const fs::path reference = testData("references/spu2_22050_stereo_i2048.wav");
    sound.referenceLeft = waveChannel(reference, 0);
    sound.referenceRight = waveChannel(reference, 1);
    return sound;
}

// spu1_44100_mono.vag (48-byte header): 3152 blocks, used for both channels.
inline SpuSound spuMono()
{
    const Bytes data = readAll(testData("audio/spu1_44100_mono.vag"));
    SpuSound sound;
    for (size_t at = 48; at + 16 <= data.size(); at += 16) {
        SpuBlock block;
        std::memcpy(block.data(), data.data() + at, 16);
        sound.left.push_back(block);
    }
    sound.right = sound.left;
    sound.referenceLeft = waveChannel(testData("references/spu1_44100_mono.wav"), 0);
    sound.referenceRight = sound.referenceLeft;
    return sound;
}

// Copies blocks [first, first + count) of one channel to `out` (16 bytes each); blocks past the
// end of the sound are silent (header 0x0C, no samples) so that layouts can run longer than the
// source.
inline void copyBlocks(const std::vector<SpuBlock>& blocks, size_t first, size_t count, uint8_t* out)
{
    for (size_t i = 0; i < count; ++i, out += 16) {
        if (first + i < blocks.size()) {
            std::memcpy(out, blocks[first + i].data(), 16);
        } else {
            std::memset(out, 0, 16);
            out[0] = 0x0C;
        }
    }
}

} // namespace mediagen
