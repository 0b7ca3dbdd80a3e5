// The sample bytes of a RIFF/WAVE file (its "data" chunk) and its format, for comparisons of
// decoded sound; the chunks are walked, so headers with extra chunks are read too.
#pragma once

#include <cstdint>
#include <cstring>
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

} // namespace clitest
