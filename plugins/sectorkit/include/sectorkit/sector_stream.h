// The reader side of a disc plugin's stream: a 2352-byte sector reader over the stream's area,
// the sectors a plugin keeps locked between two reads (held in arrival order, at most N), the
// positioning of a seek and the close. A plugin's stream handle owns one SectorStream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "discport/discport.h"
#include "sectorkit/str_sector.h"
#include "streamkit/psr.h"

namespace sectorkit {

// Spin speed argument of the reader for "as fast as the drive goes".
constexpr int32_t kHighestSpeed = -1;

// What a stream's sectors are: whole raw sectors (movies, XA sound) or the 2048 user-data bytes
// of Mode 1 / Form 1 sectors (files stored as data: ADX, music, images).
enum class SectorForm
{
    Raw,
    UserData,
};

constexpr size_t kUserDataBytes = 2048;

class SectorStream
{
  public:
    SectorStream() = default;
    ~SectorStream() { close(); }
    SectorStream(const SectorStream&) = delete;
    SectorStream& operator=(const SectorStream&) = delete;

    // Opens a reader on [start, start + count). Refused (false) for an empty area, one longer
    // than the reader can count, and a reader that would give sectors of another size than the
    // form asks (the reader gives user data only on very long discs).
    bool open(int32_t drive, uint32_t start, uint32_t count, int32_t speed,
              SectorForm form = SectorForm::Raw);
    bool isOpen() const { return m_reader != nullptr; }
    uint32_t sectorCount() const { return m_count; }
    size_t sectorBytes() const { return m_sectorBytes; }

    // Copies `length` bytes of the area's data from byte `offset` of the next sector on,
    // crossing into the following sectors (for data stored across sectors, as a file's bytes
    // are). The bytes taken from each sector are its data bytes: from `dataOffset` to its end.
    // The number of bytes copied; fewer at the end of the area or on a read error.
    size_t readBytes(uint8_t* destination, size_t length, size_t offset, size_t dataOffset = 0);

    // The next sector, locked until release(); null at the end of the area or on a read error.
    const uint8_t* next();
    void release(const uint8_t* sector);

    // Positions the next read at `sector` from the start of the area (clamped to its end);
    // every held sector is released. False when the reader refuses.
    bool seek(uint64_t sector);

    // Releases every held sector and closes the reader.
    void close();

    // ---- held sectors -------------------------------------------------------------------------
    static constexpr size_t kMaxHeld = 8;

    // Keeps `sector` locked after the ones already held; when kMaxHeld are held it is released
    // and false returned (the sector is lost).
    bool hold(const uint8_t* sector);
    bool anyHeld() const { return m_heldCount != 0; }
    // The oldest held sector, no longer held (the caller releases it); null when none.
    const uint8_t* takeHeld();
    void releaseHeld();

  private:
    CdReadHandle* m_reader = nullptr;
    uint32_t m_count = 0;
    size_t m_sectorBytes = 0;
    const uint8_t* m_held[kMaxHeld] = {}; // oldest first
    size_t m_heldCount = 0;
};

// Appends the 2304 sound bytes of a sound sector to a unit's payload; false (nothing written)
// when they do not fit below `capacity` payload bytes.
bool appendSound(PsrReadRecord* record, const uint8_t* sector, uint32_t capacity);

// Moves every held sector's sound into one unit (frameNumber 0), releasing each; the number of
// sectors delivered.
uint32_t deliverHeldSound(SectorStream& stream, PsrReadRecord* record, uint32_t capacity);

} // namespace sectorkit
