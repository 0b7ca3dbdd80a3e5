// The buffer one stream unit is read into (LbrReadStream). The read contract passes no buffer
// size: the caller must hold the 20-byte header and the largest payload any plugin produces. The
// movie plugins' largest unit is one frame of at most 24 sectors (48 KiB) and CD audio gives at
// most four 2352-byte sectors; 4 MiB is far above both and leaves room for plugins that hand out
// larger blocks. Every reader of units (the tools, the player, the converters) uses this one.
#ifndef TAMLIB_UNIT_BUFFER_H
#define TAMLIB_UNIT_BUFFER_H

#include <cstddef>
#include <cstdint>
#include <memory>

#include "streamkit/psr.h"

namespace tamlib {

class UnitBuffer
{
  public:
    static constexpr size_t kPayloadCapacity = size_t(4) << 20;

    UnitBuffer() : m_bytes(std::make_unique<uint8_t[]>(PSR_READ_HEADER_BYTES + kPayloadCapacity)) {}

    PsrReadRecord* record() { return reinterpret_cast<PsrReadRecord*>(m_bytes.get()); }
    const PsrReadRecord* record() const { return reinterpret_cast<const PsrReadRecord*>(m_bytes.get()); }

    // False when the unit last read claims more payload than the buffer holds: a plugin fault
    // that makes the unit unusable.
    bool holdsPayload() const { return record()->payloadBytes <= kPayloadCapacity; }

  private:
    std::unique_ptr<uint8_t[]> m_bytes;
};

} // namespace tamlib

#endif
