// Gathers the video frames of disc movies from their movie sectors into units.
//
// A frame's sectors come in index order, possibly with sound or foreign sectors between them.
// The first (index 0) gives the frame number, the picture size and the frame's byte count, and
// its bitstream begins at the header position p (str_sector.h): at 0x38 + 2p. Every sector adds
// up to (1008 - p) x 2 bytes (p is 0 after the first) until the byte count is reached; the
// frame is complete at the sector of index count - 1.
#pragma once

#include <cstdint>

#include "sectorkit/str_sector.h"
#include "streamkit/psr.h"

namespace sectorkit {

class FrameAssembly
{
  public:
    // Adds a movie sector to the unit in `record` (payload at most `capacity` bytes). A first
    // sector starts the frame afresh (what an unfinished one gathered is dropped). True when the
    // frame is complete.
    bool add(PsrReadRecord* record, const uint8_t* sector, const StrSectorHeader& movie, uint32_t capacity);
    // The same for formats that place a first sector's data by a rule of their own: it begins
    // `position` 16-bit words after 0x38 (ignored for the other sectors).
    bool add(PsrReadRecord* record, const uint8_t* sector, const StrSectorHeader& movie, uint32_t capacity,
             uint32_t position);

    bool started() const { return m_started; }
    void reset()
    {
        m_started = false;
        m_remaining = 0;
    }

  private:
    bool m_started = false;
    uint32_t m_remaining = 0;
};

} // namespace sectorkit
