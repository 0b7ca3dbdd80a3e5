// The replies of the drive queries, parsed from the bytes that arrived. Multi-byte fields are
// big-endian. Every offset is checked against the reply length before it is read.
#include <algorithm>
#include <cstring>

#include "commands.h"

namespace discport {

namespace {

uint32_t big32(const uint8_t* at)
{
    return uint32_t(at[0]) << 24 | uint32_t(at[1]) << 16 | uint32_t(at[2]) << 8 | uint32_t(at[3]);
}

uint16_t big16(const uint8_t* at)
{
    return uint16_t(at[0] << 8 | at[1]);
}

} // namespace

// Standard INQUIRY data:
//   0x00 u8      peripheral qualifier (bits 5-7) and device type (bits 0-4)
//   0x08 char[8]  vendor identification
//   0x10 char[16] product identification
//   0x20 char[4]  product revision level
bool parseIdentity(const uint8_t* reply, size_t length, DriveIdentity& identity)
{
    constexpr size_t kVendor = 0x08, kProduct = 0x10, kRevision = 0x20, kEnd = 0x24;
    if (!reply || length < kEnd)
        return false;
    std::memcpy(identity.vendor, reply + kVendor, 8);
    identity.vendor[8] = 0;
    std::memcpy(identity.product, reply + kProduct, 16);
    identity.product[16] = 0;
    std::memcpy(identity.revision, reply + kRevision, 4);
    identity.revision[4] = 0;
    return true;
}

// READ TOC format 0, addresses as LBA. The lead-out reply (starting track 0xAA):
//   0x00 u16 TOC data length
//   0x02 u8  first track number
//   0x03 u8  last track number
//   0x04 ..  the lead-out's descriptor
// The reply from the first track: the same 4-byte header, then one 8-byte descriptor per track
// (the lead-out's last, when the allocation left room for it):
//   +0x00 u8  reserved
//   +0x01 u8  ADR (bits 4-7) and control (bits 0-3); control 0x04 = data track
//   +0x02 u8  track number
//   +0x03 u8  reserved
//   +0x04 u32 start address
// The descriptor in the place of the lead-out is always taken from the lead-out reply. Every
// filled entry except the last one filled ends 150 sectors before the next track starts.
int32_t parseToc(const uint8_t* leadOut, size_t leadOutLength, const uint8_t* tracks, size_t tracksLength,
                 int32_t maxEntries, CdTocEntry* entries)
{
    constexpr size_t kHeader = 4, kDescriptor = 8;
    constexpr size_t kMaxDescriptors = 256; // track numbers are bytes
    if (!leadOut || leadOutLength < kHeader + kDescriptor || !tracks || tracksLength < kHeader)
        return 0;
    const int32_t count = int32_t(tracks[3]) - int32_t(tracks[2]) + 1;
    if (count < 1 || kHeader + size_t(count) * kDescriptor > tracksLength)
        return 0;

    const uint8_t* descriptors[kMaxDescriptors + 1];
    for (int32_t i = 0; i < count; ++i)
        descriptors[i] = tracks + kHeader + size_t(i) * kDescriptor;
    descriptors[count] = leadOut + kHeader;

    const int32_t filled = entries ? std::min(maxEntries, count) : 0;
    for (int32_t i = 0; i < filled; ++i) {
        CdTocEntry& entry = entries[i];
        const uint32_t start = big32(descriptors[i] + 4);
        entry.track = descriptors[i][2];
        entry.control = descriptors[i][1];
        entry.start = start;
        entry.length = big32(descriptors[i + 1] + 4) - start;
        if (i + 1 < filled)
            entry.length -= kTrackGap;
    }
    return count;
}

// MODE SENSE(6) reply:
//   0x00 u8 mode data length
//   0x03 u8 block descriptor length d
//   4+d     the capabilities page (0x2A), pg[i] below:
//     0x02 u8  read capabilities          0x03 u8 write capabilities
//     0x04 u8  (bit 4 Mode 2 Form 1, bit 5 Mode 2 Form 2 read)
//     0x05 u8, 0x06 u8 further capabilities
//     0x08 u16 maximum read speed (kB/s)  0x12 u16 maximum write speed (kB/s)
// The word: bits 24-31 (pg[2] x 16 | pg[3]) cut to 8 bits, 16-23 pg[4], 8-15 pg[5], 0-7 pg[6].
bool parseCapabilities(const uint8_t* reply, size_t length, Capabilities& capabilities)
{
    constexpr size_t kHeader = 4, kPageBytes = 0x14;
    if (!reply || length < kHeader)
        return false;
    const size_t page = kHeader + reply[3];
    if (page + kPageBytes > length)
        return false;
    const uint8_t* pg = reply + page;
    capabilities.word = uint32_t(uint8_t(pg[2] * 16 | pg[3])) << 24 | uint32_t(pg[4]) << 16 |
                        uint32_t(pg[5]) << 8 | uint32_t(pg[6]);
    capabilities.maxReadSpeed = big16(pg + 0x08);
    capabilities.maxWriteSpeed = big16(pg + 0x12);
    return true;
}

// READ SUB-CHANNEL, media catalogue number (format 0x02):
//   0x04 u8       format code
//   0x08 u8       bit 7: the catalogue number is valid
//   0x09 u8[15]   13 ASCII digits and two further bytes of the field
bool parseCatalogueNumber(const uint8_t* reply, size_t length, CdUpcEan& code)
{
    constexpr size_t kValid = 0x08, kNumber = 0x09;
    if (!reply || length < kNumber + sizeof(code.bytes))
        return false;
    if (!(reply[kValid] & 0x80))
        return false;
    std::memcpy(code.bytes, reply + kNumber, sizeof(code.bytes));
    return true;
}

} // namespace discport
