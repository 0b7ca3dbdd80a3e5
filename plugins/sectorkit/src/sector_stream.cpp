// The stream reader described in sector_stream.h.
#include "sectorkit/sector_stream.h"

#include <algorithm>

namespace sectorkit {

bool SectorStream::open(int32_t drive, uint32_t start, uint32_t count, int32_t speed, SectorForm form)
{
    close();
    if (count == 0 || count > uint32_t(INT32_MAX))
        return false;
    const bool userData = form == SectorForm::UserData;
    CdReadHandle* reader =
        CdReadOpen(drive, nullptr, start, userData ? count | CD_READ_USER_DATA : count, speed);
    if (!reader)
        return false;
    // The reader falls back to 2048-byte sectors on very long discs; a plugin that reads whole
    // sectors would read past them, so such a reader is refused.
    const size_t bytes = userData ? kUserDataBytes : kRawSectorBytes;
    if (CdGetSectorSize(reader) != int32_t(bytes)) {
        CdReadClose(reader);
        return false;
    }
    m_reader = reader;
    m_count = count;
    m_sectorBytes = bytes;
    return true;
}

size_t SectorStream::readBytes(uint8_t* destination, size_t length, size_t offset, size_t dataOffset)
{
    size_t copied = 0;
    while (copied < length) {
        const uint8_t* sector = next();
        if (!sector)
            break;
        const size_t from = std::max(offset, dataOffset);
        if (from < m_sectorBytes) {
            const size_t take = std::min(length - copied, m_sectorBytes - from);
            std::memcpy(destination + copied, sector + from, take);
            copied += take;
        }
        release(sector);
        offset = 0;
    }
    return copied;
}

const uint8_t* SectorStream::next()
{
    return m_reader ? CdReadSector(m_reader, nullptr) : nullptr;
}

void SectorStream::release(const uint8_t* sector)
{
    if (m_reader && sector)
        CdUnlockReadBuffer(m_reader, sector);
}

bool SectorStream::seek(uint64_t sector)
{
    releaseHeld();
    if (!m_reader)
        return false;
    const uint32_t target = uint32_t(std::min<uint64_t>(sector, m_count));
    return CdSetReadPointer(m_reader, int32_t(target), 0) >= 0;
}

void SectorStream::close()
{
    releaseHeld();
    if (m_reader)
        CdReadClose(m_reader);
    m_reader = nullptr;
    m_count = 0;
    m_sectorBytes = 0;
}

bool SectorStream::hold(const uint8_t* sector)
{
    if (m_heldCount == kMaxHeld) {
        release(sector);
        return false;
    }
    m_held[m_heldCount++] = sector;
    return true;
}

const uint8_t* SectorStream::takeHeld()
{
    if (m_heldCount == 0)
        return nullptr;
    const uint8_t* sector = m_held[0];
    std::copy(m_held + 1, m_held + m_heldCount, m_held);
    m_held[--m_heldCount] = nullptr;
    return sector;
}

void SectorStream::releaseHeld()
{
    while (const uint8_t* sector = takeHeld())
        release(sector);
}

bool appendSound(PsrReadRecord* record, const uint8_t* sector, uint32_t capacity)
{
    if (record->payloadBytes > capacity || capacity - record->payloadBytes < kXaAudioDataBytes)
        return false;
    std::memcpy(record->payload + record->payloadBytes, sector + kXaAudioDataOffset, kXaAudioDataBytes);
    record->payloadBytes += uint32_t(kXaAudioDataBytes);
    return true;
}

uint32_t deliverHeldSound(SectorStream& stream, PsrReadRecord* record, uint32_t capacity)
{
    std::memset(record, 0, PSR_READ_HEADER_BYTES);
    uint32_t delivered = 0;
    while (const uint8_t* sector = stream.takeHeld()) {
        if (appendSound(record, sector, capacity))
            ++delivered;
        stream.release(sector);
    }
    return delivered;
}

} // namespace sectorkit
