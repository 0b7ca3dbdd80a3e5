// The stream files that the music test plugin serves (its source describes the layout): the
// units are raw sequencer events, unit i starting at i seconds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace musictest {

using Bytes = std::vector<uint8_t>;

inline void put16(Bytes& b, uint32_t v)
{
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}

inline void put32(Bytes& b, uint32_t v)
{
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

// The bytes of a file of `units` at `division` ticks per quarter note and `tempoUs` per quarter.
inline std::string musicStreamFile(const std::vector<Bytes>& units, uint16_t division, uint32_t tempoUs,
                                   uint32_t lengthMs)
{
    Bytes file{'T', 'M', 'U', 'S'};
    put16(file, division);
    put16(file, uint32_t(units.size()));
    put32(file, tempoUs);
    put32(file, lengthMs);
    for (size_t i = 0; i < units.size(); ++i) {
        put32(file, uint32_t(i) * 1000);
        put32(file, uint32_t(units[i].size()));
        file.insert(file.end(), units[i].begin(), units[i].end());
    }
    return std::string(file.begin(), file.end());
}

} // namespace musictest
