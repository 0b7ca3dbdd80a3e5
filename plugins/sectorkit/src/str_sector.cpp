// Parsers of the sector fields described in str_sector.h.
#include "sectorkit/str_sector.h"

namespace sectorkit {

bool readU16(const uint8_t* bytes, size_t length, size_t offset, uint16_t& value)
{
    if (!bytes || offset > length || length - offset < 2)
        return false;
    value = uint16_t(bytes[offset] | (bytes[offset + 1] << 8));
    return true;
}

bool readU32(const uint8_t* bytes, size_t length, size_t offset, uint32_t& value)
{
    if (!bytes || offset > length || length - offset < 4)
        return false;
    value = uint32_t(bytes[offset]) | (uint32_t(bytes[offset + 1]) << 8) |
            (uint32_t(bytes[offset + 2]) << 16) | (uint32_t(bytes[offset + 3]) << 24);
    return true;
}

std::optional<SubHeader> parseSubHeader(const uint8_t* sector, size_t length)
{
    constexpr size_t kOffset = 0x10, kBytes = 8;
    if (!sector || length < kOffset + kBytes)
        return std::nullopt;
    const uint8_t* p = sector + kOffset;
    SubHeader sub;
    sub.file = p[0];
    sub.channel = p[1];
    sub.submode = p[2];
    sub.coding = p[3];
    sub.copiesAgree = p[0] == p[4] && p[1] == p[5] && p[2] == p[6] && p[3] == p[7];
    return sub;
}

std::optional<StrSectorHeader> parseStrSectorHeader(const uint8_t* sector, size_t length)
{
    StrSectorHeader h;
    if (!readU16(sector, length, 0x18, h.magic) || !readU16(sector, length, 0x1A, h.type) ||
        !readU16(sector, length, 0x1C, h.sectorInFrame) || !readU16(sector, length, 0x1E, h.sectorsInFrame) ||
        !readU32(sector, length, 0x20, h.frameNumber) || !readU32(sector, length, 0x24, h.frameBytes) ||
        !readU16(sector, length, 0x28, h.width) || !readU16(sector, length, 0x2A, h.height))
        return std::nullopt;
    return h;
}

std::optional<StrSectorHeader> parseMovieSector(const uint8_t* sector, size_t length)
{
    auto h = parseStrSectorHeader(sector, length);
    if (!h || (h->magic & 0xF0) != 0x60 || !(h->type & kStrTypeMovie) ||
        h->sectorInFrame >= h->sectorsInFrame || h->sectorsInFrame > kMaxMovieFrameSectors ||
        h->frameNumber == 0 || h->width == 0 || h->height == 0)
        return std::nullopt;
    if (h->frameBytes == 0)
        h->frameBytes = uint32_t(h->sectorsInFrame) * 1008;
    return h;
}

std::optional<uint32_t> findMdecHeaderWord(const uint8_t* sector, size_t length)
{
    std::optional<uint32_t> found3000;
    for (uint32_t i = 0; i < kMdecSearchWords; ++i) {
        uint16_t word = 0;
        if (!readU16(sector, length, mdecHeaderWordOffset(i), word))
            break;
        if (word == 0x3800)
            return i;
        if (word == 0x3000 && !found3000)
            found3000 = i;
    }
    return found3000;
}

} // namespace sectorkit
