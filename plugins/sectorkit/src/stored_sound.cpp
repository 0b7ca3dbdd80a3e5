// The stored sound reader described in stored_sound.h.
#include "sectorkit/stored_sound.h"

#include "sectorkit/find_pattern.h"

#include <algorithm>
#include <cstring>

namespace sectorkit {

void placeOnDisc(StrInfo* info, uint64_t address, uint64_t streamBytes)
{
    const uint64_t offset = address % kUserDataBytes;
    info->startSector = uint32_t(std::min<uint64_t>(address / kUserDataBytes, UINT32_MAX));
    info->reserved = uint16_t(offset);
    const uint64_t sectors = (offset + streamBytes + kUserDataBytes - 1) / kUserDataBytes;
    info->sectorCount = uint32_t(std::min<uint64_t>(sectors, UINT32_MAX));
}

bool anyWord(const uint8_t* bytes, size_t from, size_t end, uint32_t value)
{
    const char word[4] = {char(value), char(value >> 8), char(value >> 16), char(value >> 24)};
    return findPattern(bytes, end, exactPattern(word, 4), 4, from) < end;
}

bool StoredBytes::openFile(const char* name)
{
    m_isFile = true;
    return m_file.open(name);
}

bool StoredBytes::openDisc(int32_t drive, uint32_t startSector, uint32_t sectorCount)
{
    m_isFile = false;
    return m_sectors.open(drive, startSector, sectorCount, kHighestSpeed, SectorForm::UserData);
}

uint64_t StoredBytes::size() const
{
    return m_isFile ? m_file.size() : uint64_t(m_sectors.sectorCount()) * kUserDataBytes;
}

void StoredBytes::dropSector()
{
    m_sectors.release(m_sector);
    m_sector = nullptr;
}

bool StoredBytes::seek(uint64_t position)
{
    m_position = position;
    if (m_isFile)
        return true;
    dropSector();
    m_offset = size_t(position % kUserDataBytes);
    return m_sectors.seek(position / kUserDataBytes);
}

bool StoredBytes::read(uint8_t* out, size_t length)
{
    if (m_isFile) {
        if (length > m_file.size() || m_position > m_file.size() - length)
            return false;
        if (!m_file.readAt(m_position, out, length))
            return false;
        m_position += length;
        return true;
    }
    while (length > 0) {
        if (!m_sector && !(m_sector = m_sectors.next()))
            return false;
        const size_t take = std::min(length, kUserDataBytes - m_offset);
        std::memcpy(out, m_sector + m_offset, take);
        out += take;
        length -= take;
        m_offset += take;
        m_position += take;
        if (m_offset == kUserDataBytes) {
            dropSector();
            m_offset = 0;
        }
    }
    return true;
}

int32_t GroupedSound::read(PsrReadRecord* record)
{
    std::memset(record, 0, PSR_READ_HEADER_BYTES);
    if (groupBytes == 0 || groupsRead >= groups)
        return 0;
    const uint64_t count = std::min<uint64_t>(unitBytes / groupBytes, groups - groupsRead);
    if (count == 0)
        return 0;
    const auto payload = uint32_t(count * groupBytes);
    if (!bytes.read(record->payload, payload)) {
        groupsRead = groups;
        return 0;
    }
    groupsRead += count;
    record->unitKind = unitKind;
    record->payloadBytes = payload;
    return 1;
}

bool GroupedSound::seekGroup(uint64_t group)
{
    groupsRead = std::min(group, groups);
    return bytes.seek(dataStart + groupsRead * groupBytes);
}

bool GroupedSound::seekMs(uint32_t positionMs)
{
    const uint64_t sample = uint64_t(sampleRate) * positionMs / 1000;
    return seekGroup(groupSamples == 0 ? 0 : sample / groupSamples);
}

} // namespace sectorkit
