#include "commands.h"

namespace discport {

bool readBlocks(ScsiTransport& transport, uint32_t first, uint32_t count, uint32_t sectorSize, uint8_t* destination)
{
    if (count == 0 || count > 10 || !destination)
        return false;
    ScsiCommand command;
    if (sectorSize == 2352) {
        command.cdb[0] = 0xBE;  // READ CD
        command.cdbLength = 12;
        command.cdb[9] = 0xF8;  // sync, all headers, user data, EDC/ECC
    } else {
        command.cdb[0] = 0x28;  // READ(10)
        command.cdbLength = 10;
    }
    command.cdb[2] = uint8_t(first >> 24);
    command.cdb[3] = uint8_t(first >> 16);
    command.cdb[4] = uint8_t(first >> 8);
    command.cdb[5] = uint8_t(first);
    command.cdb[8] = uint8_t(count);
    command.data = destination;
    command.dataLength = count * sectorSize;
    command.timeoutMs = kReadTimeoutMs;
    const ScsiResult result = transport.execute(command);
    return result.good() && result.transferred == command.dataLength;
}

} // namespace discport
