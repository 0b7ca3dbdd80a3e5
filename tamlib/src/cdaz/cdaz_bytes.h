// Little-endian fields of the CDAZ files.
#pragma once

#include <cstdint>

namespace tamlib {

inline uint16_t le16(const uint8_t* p)
{
    return uint16_t(p[0] | p[1] << 8);
}
inline uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void putLe16(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void putLe32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

// Offsets of the StrInfo fields the coded stream record changes.
constexpr size_t kInfoStart = 4;
constexpr size_t kInfoWidth = 20;
constexpr size_t kInfoHeight = 24;
constexpr size_t kInfoOutWidth = 44;
constexpr size_t kInfoOutHeight = 48;

} // namespace tamlib
