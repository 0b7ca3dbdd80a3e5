// Frame assembly described in frame_assembly.h.
#include "sectorkit/frame_assembly.h"

#include <algorithm>
#include <cstring>

namespace sectorkit {

bool FrameAssembly::add(PsrReadRecord* record, const uint8_t* sector, const StrSectorHeader& movie,
                        uint32_t capacity)
{
    const uint32_t p = movie.sectorInFrame == 0 ? headerPosition(sector, kRawSectorBytes) : 0;
    return add(record, sector, movie, capacity, p);
}

bool FrameAssembly::add(PsrReadRecord* record, const uint8_t* sector, const StrSectorHeader& movie,
                        uint32_t capacity, uint32_t position)
{
    const uint32_t p = movie.sectorInFrame == 0 ? std::min(position, kNoHeaderPosition) : 0;
    if (movie.sectorInFrame == 0) {
        m_started = true;
        record->frameNumber = movie.frameNumber;
        record->width = movie.width;
        record->height = movie.height;
        record->payloadBytes = 0;
        m_remaining = movie.frameBytes;
    }
    if (m_remaining != 0) {
        const uint32_t carried = std::min((1008 - p) * 2, m_remaining);
        const uint32_t room = record->payloadBytes < capacity ? capacity - record->payloadBytes : 0;
        const uint32_t bytes = std::min(carried, room);
        std::memcpy(record->payload + record->payloadBytes, sector + kStrDataOffset + 2 * p, bytes);
        record->payloadBytes += bytes;
        m_remaining -= carried;
    }
    return m_started && movie.sectorInFrame + 1u == movie.sectorsInFrame;
}

} // namespace sectorkit
