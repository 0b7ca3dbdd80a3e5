// What the units command shows of one unit: its header and a checksum of its payload.
#ifndef TAMRIN_CLI_UNIT_LINE_H
#define TAMRIN_CLI_UNIT_LINE_H

#include <cstdint>

namespace tamrin::cli {

struct UnitLine
{
    uint64_t index = 0;
    uint32_t frameNumber = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t param = 0;
    uint8_t unitKind = 0;
    uint8_t unitFlags = 0;
    uint32_t payloadBytes = 0;
    uint32_t crc32 = 0;
};

struct UnitTotals
{
    uint64_t videoUnits = 0;
    uint64_t audioUnits = 0;
    uint64_t payloadBytes = 0;
};

// The 0x10 family (0x10 to 0x1F) holds pictures; every other kind is sound.
constexpr bool isVideoKind(uint8_t unitKind)
{
    return (unitKind & 0xF0) == 0x10;
}

} // namespace tamrin::cli

#endif
