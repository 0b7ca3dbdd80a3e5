// Building raw 2352-byte CD-ROM sectors around user data: sync pattern, header (MSF address and
// mode), EDC (CRC-32 of the sector) and the P and Q parity of the Reed-Solomon product code, the
// layout of ECMA-130.
//
// Raw sector layout (offsets in hex):
//   Mode 1:         000 sync(12) 00C header(4) 010 user(2048) 810 EDC(4) 814 zero(8) 81C P(172) 8C8 Q(104)
//   Mode 2 Form 1:  000 sync(12) 00C header(4) 010 sub-header(8) 018 user(2048) 818 EDC(4) 81C P 8C8 Q
//   Mode 2 Form 2:  000 sync(12) 00C header(4) 010 sub-header(8) 018 user(2324) 92C EDC(4)
// The header is minute, second, frame (BCD) of the address + 150, then the mode byte.
#pragma once

#include <cstddef>
#include <cstdint>

namespace discport::image {

constexpr size_t kRawSectorSize = 2352;
constexpr size_t kUserDataSize = 2048;
constexpr uint32_t kLeadInSectors = 150; // MSF 00:02:00 is address 0

// CRC-32 of the EDC field: polynomial 0xD8018001 (reflected form), initial value 0, no final
// inversion; `crc` continues an earlier computation.
uint32_t computeEdc(const uint8_t* data, size_t size, uint32_t crc = 0);

// Writes the 12-byte sync pattern and the header of `lba` with `mode` into sector[0..15].
void writeSyncAndHeader(uint8_t* sector, uint32_t lba, uint8_t mode);

// P parity (172 bytes at 0x81C) and Q parity (104 bytes at 0x8C8) from bytes 0x00C to 0x81B and
// the P parity. For Mode 2 Form 1 the header counts as zero, as the format defines.
void computeEccPQ(uint8_t* sector, bool zeroHeader);

// A complete Mode 1 sector of `lba` around the 2048 bytes at sector[16..2063], which the caller
// has filled: sync, header, EDC, the zero field, P and Q.
void completeMode1Sector(uint8_t* sector, uint32_t lba);

// A complete Mode 2 sector of `lba`: sync and header, and, from the form bit (0x20) of the
// sub-mode byte at sector[18], the EDC of Form 2 or the EDC and P/Q of Form 1. The caller has
// filled the sub-header and the user data.
void completeMode2Sector(uint8_t* sector, uint32_t lba);

} // namespace discport::image
