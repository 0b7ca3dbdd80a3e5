// Ripped XA sound files.
//
// File layout:
//   optional RIFF/CDXA header (the 44-byte header that tools write in front of copied sectors):
//     0x00 "RIFF"   0x04 u32 size   0x08 "CDXA"
//     0x0C chunks: u32 id, u32 size, body padded to an even length; usually "fmt " (16 bytes,
//          the file's directory-record field), then "data". The sectors are the body of "data".
//   without it the whole file is sectors.
//   Sectors, all of one size:
//     2352 bytes: 0x00 sync 00 FF x10 00   0x0C header   0x10 sub-header   0x18 sound
//     2336 bytes: the same from the sub-header on (0x00 sub-header, 0x08 sound)
//   A data area that starts with the sync pattern holds 2352-byte sectors, else 2336-byte ones.
//
// Streams: every sound sector belongs to the stream of its sound key (file, channel, coding)
// that is open; the first sector of a key opens one, a sector with the end-of-file bit closes it,
// so a key that comes again later opens a new stream. Empty sectors (nothing in the first 32
// sound bytes, or submode and coding both 0) are passed over as on a disc; any other sector that
// is not sound means the file is not XA sound (a movie or data). Wholly silent streams are not
// listed, and the end of the file ends the streams still open.
#include "xa_file.h"

#include <cstring>
#include <unordered_map>

#include "sectorkit/xa_sound.h"

namespace discvoice {

using namespace sectorkit;

namespace {

constexpr size_t kSectorBytes2336 = 2336;
constexpr size_t kSubHeaderOffset = 0x10;
constexpr uint8_t kSync[12] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
constexpr size_t kRiffHeaderBytes = 12;
constexpr size_t kChunkHeaderBytes = 8;
constexpr int kMaxChunks = 16;

uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The data chunk of a RIFF/CDXA file: its offset and size. False when the file has the RIFF
// signature but no data chunk that lies within the file.
bool findDataChunk(const PlainFile& file, uint64_t& offset, uint64_t& bytes)
{
    uint64_t at = kRiffHeaderBytes;
    for (int i = 0; i < kMaxChunks && at + kChunkHeaderBytes <= file.size(); ++i) {
        uint8_t chunk[kChunkHeaderBytes];
        if (!file.readAt(at, chunk, sizeof chunk))
            return false;
        const uint64_t size = le32(chunk + 4);
        const uint64_t body = at + kChunkHeaderBytes;
        if (size > file.size() - body)
            return false;
        if (std::memcmp(chunk, "data", 4) == 0) {
            offset = body;
            bytes = size;
            return true;
        }
        at = body + size + (size & 1);
    }
    return false;
}

enum class SectorKind
{
    Empty,
    Sound,
    Other,
};

SectorKind classify(const uint8_t* raw, size_t sectorBytes)
{
    bool empty = true;
    for (size_t i = 0; i < 32 && empty; ++i)
        empty = raw[kXaAudioDataOffset + i] == 0;
    if (empty || (submodeOf(raw) == 0 && keyCoding(soundKey(raw)) == 0))
        return SectorKind::Empty;
    if (sectorBytes == kRawSectorBytes && std::memcmp(raw, kSync, sizeof kSync) != 0)
        return SectorKind::Other;
    return isXaAudioSubmode(submodeOf(raw)) ? SectorKind::Sound : SectorKind::Other;
}

} // namespace

bool XaFile::open(const char* name)
{
    if (!m_file.open(name))
        return false;
    uint64_t offset = 0;
    uint64_t bytes = m_file.size();
    uint8_t head[kRiffHeaderBytes];
    if (bytes >= sizeof head && m_file.readAt(0, head, sizeof head) && std::memcmp(head, "RIFF", 4) == 0) {
        if (std::memcmp(head + 8, "CDXA", 4) != 0 || !findDataChunk(m_file, offset, bytes))
            return false;
    }
    if (bytes < kSectorBytes2336)
        return false;
    uint8_t sync[sizeof kSync];
    if (!m_file.readAt(offset, sync, sizeof sync))
        return false;
    m_sectorBytes =
        std::memcmp(sync, kSync, sizeof kSync) == 0 ? uint32_t(kRawSectorBytes) : uint32_t(kSectorBytes2336);
    if (bytes % m_sectorBytes != 0 || bytes / m_sectorBytes > UINT32_MAX)
        return false;
    m_dataOffset = offset;
    m_sectors = uint32_t(bytes / m_sectorBytes);
    return true;
}

bool XaFile::readSector(uint32_t index, uint8_t* raw) const
{
    if (index >= m_sectors)
        return false;
    const uint64_t at = m_dataOffset + uint64_t(index) * m_sectorBytes;
    if (m_sectorBytes == kRawSectorBytes)
        return m_file.readAt(at, raw, kRawSectorBytes);
    std::memset(raw, 0, kSubHeaderOffset);
    return m_file.readAt(at, raw + kSubHeaderOffset, kSectorBytes2336);
}

std::vector<FileStream> listStreams(const XaFile& file)
{
    struct Found
    {
        FileStream stream;
        bool sound = false; // a sector that is not silent
    };
    std::vector<Found> found;
    std::unordered_map<SoundKey, size_t> open; // key -> its open stream in `found`
    uint8_t raw[kRawSectorBytes];
    for (uint32_t i = 0; i < file.sectorCount(); ++i) {
        if (!file.readSector(i, raw))
            return {};
        const SectorKind kind = classify(raw, file.sectorBytes());
        if (kind == SectorKind::Other)
            return {};
        if (kind == SectorKind::Empty)
            continue;
        const SoundKey key = soundKey(raw);
        auto place = open.find(key);
        if (place == open.end()) {
            if (found.size() == kMaxFileStreams)
                continue;
            found.push_back(Found{FileStream{key, i, i, 0}, false});
            place = open.emplace(key, found.size() - 1).first;
        }
        Found& f = found[place->second];
        f.stream.last = i;
        ++f.stream.count;
        f.sound = f.sound || !isSilentXaSound(raw, sizeof raw);
        if (hasEndOfFile(raw))
            open.erase(place);
    }
    std::vector<FileStream> streams;
    for (const Found& f : found) {
        if (f.sound)
            streams.push_back(f.stream);
    }
    return streams;
}

std::vector<uint32_t> streamSectors(const XaFile& file, const FileStream& stream)
{
    std::vector<uint32_t> sectors;
    sectors.reserve(stream.count);
    uint8_t raw[kRawSectorBytes];
    for (uint32_t i = stream.first; i <= stream.last && i < file.sectorCount(); ++i) {
        if (!file.readSector(i, raw))
            return {};
        if (classify(raw, file.sectorBytes()) == SectorKind::Sound && soundKey(raw) == stream.key)
            sectors.push_back(i);
    }
    return sectors;
}

} // namespace discvoice
