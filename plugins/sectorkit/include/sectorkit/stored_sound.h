// Sound stored as plain bytes behind a header of its own: a file, or a file's bytes laid out in the
// 2048-byte user data of a disc's sectors with the header at any byte of its first sector. What
// the headered sound plugins share: one byte reader over either, the stream's place on the disc,
// and the delivery in units of whole groups (one block of each channel) with the seek by group.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sectorkit/plain_file.h"
#include "sectorkit/sector_stream.h"
#include "streamkit/psr.h"

namespace sectorkit {

// The disc fields of a stream description whose header lies at byte `address` of the track's
// user data (sector × 2048 + offset): startSector and reserved (the offset), and sectorCount over
// reserved + `streamBytes`, both held to 32 bits.
void placeOnDisc(StrInfo* info, uint64_t address, uint64_t streamBytes);

// The first test of the sound probes' header search: whether the little-endian u32 `value` lies
// whole below `end` at any position from `from` on in steps of 4. Most sectors hold no candidate
// and are passed over at the cost of one wide pass.
bool anyWord(const uint8_t* bytes, size_t from, size_t end, uint32_t value);

// A run of bytes read at a position: a file from its first byte, or the user data of a disc area
// from the first sector's first byte. On a disc the sector being read stays locked between reads.
class StoredBytes
{
  public:
    StoredBytes() = default;
    ~StoredBytes() { dropSector(); }
    StoredBytes(const StoredBytes&) = delete;
    StoredBytes& operator=(const StoredBytes&) = delete;

    bool openFile(const char* name);
    bool openDisc(int32_t drive, uint32_t startSector, uint32_t sectorCount);

    // The bytes there are: the file's size, or the area's sectors × 2048.
    uint64_t size() const;
    uint64_t position() const { return m_position; }

    // Positions the next read; a position past the end makes every later read fail. False when
    // the reader refuses.
    bool seek(uint64_t position);
    // True when all `length` bytes arrived; on false the position is unspecified.
    bool read(uint8_t* out, size_t length);

  private:
    void dropSector();

    bool m_isFile = false;
    PlainFile m_file;
    SectorStream m_sectors;
    const uint8_t* m_sector = nullptr; // the locked sector the position lies in, or null
    size_t m_offset = 0;               // the position's offset in its sector
    uint64_t m_position = 0;
};

// A sound stored as `groups` groups of `groupBytes` bytes from `dataStart` on, delivered in units
// of as many whole groups as fit in `unitBytes`, all of kind `unitKind`. A group holds
// `groupSamples` samples of each channel at `sampleRate`.
struct GroupedSound
{
    StoredBytes bytes;
    uint64_t dataStart = 0;
    uint32_t groupBytes = 0;
    uint64_t groups = 0;
    uint32_t unitBytes = 0;
    uint8_t unitKind = 0;
    uint32_t sampleRate = 0;
    uint32_t groupSamples = 0;
    uint64_t groupsRead = 0;

    // Moves to the first group. False when the reader refuses.
    bool start() { return seekGroup(0); }
    // 1 when a unit was written; 0 when no group is left, a group does not fit a unit, or the
    // bytes could not all be read (the stream then ends).
    int32_t read(PsrReadRecord* record);
    // Positions at `group` (held to the end). False when the reader refuses.
    bool seekGroup(uint64_t group);
    // Positions at the group that holds the sample at `positionMs` (the first group when the rate
    // or the group's samples are 0).
    bool seekMs(uint32_t positionMs);
};

} // namespace sectorkit
