// Command blocks of the drive operations and the parsing of their replies.
#pragma once

#include <cstdint>

#include "scsi_transport.h"

namespace discport {

constexpr uint32_t kQueryTimeoutMs = 5000;
constexpr uint32_t kReadTimeoutMs = 60000;

// Reads `count` (1 to 10) sectors from `first`: READ CD of raw 2352-byte sectors when
// sectorSize is 2352, READ(10) of 2048-byte user data otherwise. True when the command succeeded.
bool readBlocks(ScsiTransport& transport, uint32_t first, uint32_t count, uint32_t sectorSize, uint8_t* destination);

} // namespace discport
