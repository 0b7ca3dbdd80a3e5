// The sample bytes of a RIFF/WAVE file (its "data" chunk) and its format, for comparisons of
// decoded sound: parseWave walks the chunks, so headers with extra chunks are read too;
// readPcmWave reads a file as our writers make it and checks its 44-byte header field by field.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

namespace clitest {

struct WaveData
{
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    uint16_t bits = 0;
    std::string samples;
};

inline std::optional<WaveData> parseWave(const std::string& bytes)
{
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0)
        return std::nullopt;
    WaveData wave;
    bool format = false;
    size_t at = 12;
    while (at + 8 <= bytes.size()) {
        uint32_t size = 0;
        std::memcpy(&size, bytes.data() + at + 4, 4);
        const size_t body = at + 8;
        if (size > bytes.size() - body)
            return std::nullopt;
        if (bytes.compare(at, 4, "fmt ") == 0 && size >= 16) {
            std::memcpy(&wave.channels, bytes.data() + body + 2, 2);
            std::memcpy(&wave.sampleRate, bytes.data() + body + 4, 4);
            std::memcpy(&wave.bits, bytes.data() + body + 14, 2);
            format = true;
        } else if (bytes.compare(at, 4, "data") == 0) {
            if (!format)
                return std::nullopt;
            wave.samples = bytes.substr(body, size);
            return wave;
        }
        at = body + size + (size & 1);
    }
    return std::nullopt;
}

// The 44-byte header of a PCM file, checked against itself and the file's size, then the samples.
struct PcmWave
{
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    uint32_t byteRate = 0;
    uint16_t blockAlign = 0;
    uint16_t bits = 0;
    std::string data;
};

inline PcmWave readPcmWave(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto le = [&bytes](size_t at, size_t size) {
        uint32_t value = 0;
        std::memcpy(&value, bytes.data() + at, size);
        return value;
    };
    PcmWave wave;
    EXPECT_GE(bytes.size(), 44u) << path;
    if (bytes.size() < 44)
        return wave;
    EXPECT_EQ(bytes.substr(0, 4), "RIFF");
    EXPECT_EQ(le(4, 4), bytes.size() - 8) << "RIFF size";
    EXPECT_EQ(bytes.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(le(16, 4), 16u);
    EXPECT_EQ(le(20, 2), 1u) << "PCM";
    wave.channels = uint16_t(le(22, 2));
    wave.sampleRate = le(24, 4);
    wave.byteRate = le(28, 4);
    wave.blockAlign = uint16_t(le(32, 2));
    wave.bits = uint16_t(le(34, 2));
    EXPECT_EQ(wave.blockAlign, uint32_t(wave.channels) * wave.bits / 8) << "bytes per frame";
    EXPECT_EQ(wave.byteRate, wave.sampleRate * wave.blockAlign) << "bytes per second";
    EXPECT_EQ(bytes.substr(36, 4), "data");
    const uint32_t dataBytes = le(40, 4);
    EXPECT_EQ(bytes.size(), 44u + dataBytes + (dataBytes & 1)) << "data size and pad byte";
    wave.data = bytes.substr(44, dataBytes);
    return wave;
}

// Signal-to-noise ratio of `ours` against `reference` (16-bit samples), in dB.
inline double snrDb(const std::string& reference, const std::string& ours)
{
    const size_t count = std::min(reference.size(), ours.size()) / 2;
    double signal = 0, noise = 0;
    for (size_t i = 0; i < count; ++i) {
        int16_t a, b;
        std::memcpy(&a, reference.data() + 2 * i, 2);
        std::memcpy(&b, ours.data() + 2 * i, 2);
        signal += double(a) * a;
        noise += (double(a) - b) * (double(a) - b);
    }
    return noise == 0 ? INFINITY : 10 * std::log10(signal / noise);
}

} // namespace clitest
