// CdGetVolumeInfo: the identity of the disc in a drive, from the ISO 9660 primary volume
// descriptor at sector 16 of the first data track, or "Audio-CD" for a disc without data tracks.
// The record is cached per drive until the next CdReadToc of that drive.
//
// Descriptor fields used (offsets in the 2048-byte sector; numbers are the little-endian halves
// of the both-endian fields):
//   0x008 char[32]  system identifier           0x0BE char[128] volume set identifier
//   0x028 char[32]  volume identifier           0x13E char[128] publisher identifier
//   0x050 u32       volume space size           0x1BE char[128] data preparer identifier
//   0x078 u16       volume set size             0x23E char[128] application identifier
//   0x07C u16       volume sequence number      0x2BE char[37]  copyright file identifier
//   0x084 u32       path table size             0x2E3 char[37]  abstract file identifier
//   0x08C u32       type L path table           0x308 char[37]  bibliographic file identifier
//   0x090 u32       optional type L path table
// The type byte and the standard identifier are not examined.
#include <cstring>

#include "discport/discport.h"
#include "drives.h"

namespace {

constexpr size_t kDescriptorBytes = 2048;
constexpr uint32_t kDescriptorSector = 16;
constexpr int32_t kTocEntries = 100;
constexpr int32_t kAudioTrack = 1;

// `n` characters of the descriptor into a field of n + 1 bytes (already zero): the copy stops at
// a zero byte, and trailing blanks become zeros.
void copyText(char* field, const uint8_t* source, size_t n)
{
    size_t length = 0;
    while (length < n && source[length] != 0) {
        field[length] = char(source[length]);
        ++length;
    }
    field[n] = 0;
    while (length > 0 && field[length - 1] == ' ')
        field[--length] = 0;
}

uint16_t little16(const uint8_t* p)
{
    return uint16_t(p[0] | (p[1] << 8));
}

uint32_t little32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

void fillFromDescriptor(CdVolumeInfo& info, const uint8_t* d)
{
    std::memset(&info, 0, sizeof info);
    copyText(info.systemId, d + 0x008, 32);
    copyText(info.volumeId, d + 0x028, 32);
    info.volumeSpaceSize = little32(d + 0x050);
    info.volumeSetSize = little16(d + 0x078);
    info.volumeSequenceNumber = little16(d + 0x07C);
    info.pathTableSize = little32(d + 0x084);
    info.pathTableL = little32(d + 0x08C);
    info.optionalPathTableL = little32(d + 0x090);
    copyText(info.volumeSetId, d + 0x0BE, 128);
    copyText(info.publisherId, d + 0x13E, 128);
    copyText(info.dataPreparerId, d + 0x1BE, 128);
    copyText(info.applicationId, d + 0x23E, 128);
    copyText(info.copyrightFileId, d + 0x2BE, 37);
    copyText(info.abstractFileId, d + 0x2E3, 37);
    copyText(info.bibliographicFileId, d + 0x308, 37);
}

} // namespace

CD_API int32_t CdGetVolumeInfo(int32_t drive, CdVolumeInfo* info)
{
    discport::VolumeCache* cache = discport::volumeCache(drive);
    if (!cache || !info)
        return 0;
    if (cache->valid) {
        std::memcpy(info, &cache->info, sizeof *info);
        return 1;
    }

    CdTocEntry toc[kTocEntries] = {};
    const int32_t tracks = CdReadToc(drive, kTocEntries, toc); // also invalidates the cache
    const CdTocEntry* dataTrack = nullptr;
    for (int32_t i = 0; i < tracks && i < kTocEntries && !dataTrack; ++i) {
        if (CdGetTrackType(drive, &toc[i]) != kAudioTrack)
            dataTrack = &toc[i];
    }

    if (!dataTrack) {
        std::memset(&cache->info, 0, sizeof cache->info);
        std::strcpy(cache->info.volumeId, "Audio-CD");
    } else {
        CdReadHandle* reader =
            CdReadOpen(drive, dataTrack, dataTrack->start + kDescriptorSector, CD_READ_USER_DATA | 1u, -1);
        if (!reader)
            return 0;
        uint8_t descriptor[kDescriptorBytes] = {};
        const uint8_t* sector = CdReadSector(reader, descriptor);
        CdReadClose(reader);
        // A descriptor that could not be read is no identity: the call fails, the cache stays
        // invalid and the caller's record untouched.
        if (!sector)
            return 0;
        fillFromDescriptor(cache->info, descriptor);
    }
    cache->valid = true;
    std::memcpy(info, &cache->info, sizeof *info);
    return 1;
}
