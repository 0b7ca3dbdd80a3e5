// Ripped XA sound files: the sound sectors of a disc copied into a file, the way they lay on the
// disc. The layout and the listing of the file's streams are described in xa_file.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sectorkit/plain_file.h"
#include "sectorkit/str_sector.h"

namespace discvoice {

// More streams than this in one file are not listed (their sectors are passed over).
constexpr size_t kMaxFileStreams = 256;

class XaFile
{
  public:
    // False when the file cannot be read or its layout is not one of XA sectors: no whole
    // number of sectors, a RIFF header whose sizes do not fit the file, no sector at all.
    bool open(const char* name);

    uint32_t sectorCount() const { return m_sectors; }
    uint32_t sectorBytes() const { return m_sectorBytes; }

    // Sector `index` in the raw 2352-byte layout (a 2336-byte sector lands at offset 0x10, the
    // sync and header left zero); false when it cannot be read.
    bool readSector(uint32_t index, uint8_t* raw) const;

  private:
    sectorkit::PlainFile m_file;
    uint64_t m_dataOffset = 0;
    uint32_t m_sectorBytes = 0;
    uint32_t m_sectors = 0;
};

// One stream of a file: the sectors from `first` to `last` that carry `key`.
struct FileStream
{
    sectorkit::SoundKey key = 0;
    uint32_t first = 0;
    uint32_t last = 0;
    uint32_t count = 0;
};

// The streams of the file in the order their first sectors come; empty when the file is not
// XA sound (a sector that is neither sound nor empty, a 2352-byte sector without sync, a read
// error) or holds only silence.
std::vector<FileStream> listStreams(const XaFile& file);

// The file's sectors of `stream`, in order; empty on a read error.
std::vector<uint32_t> streamSectors(const XaFile& file, const FileStream& stream);

} // namespace discvoice
