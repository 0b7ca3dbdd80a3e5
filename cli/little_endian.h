// Little-endian fields of the file headers the tool writes (BMP, RIFF/WAVE).
#ifndef TAMRIN_CLI_LITTLE_ENDIAN_H
#define TAMRIN_CLI_LITTLE_ENDIAN_H

#include <cstdint>

namespace tamrin::cli {

inline void putLe16(uint8_t* at, uint16_t value)
{
    at[0] = uint8_t(value);
    at[1] = uint8_t(value >> 8);
}

inline void putLe32(uint8_t* at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = uint8_t(value >> (8 * i));
}

} // namespace tamrin::cli

#endif
