// Briarfilm: the movies of one game, in the raw sectors of its disc (a single data track) and in
// sector files (a 44-byte RIFF header, then whole 2352-byte sectors copied from the disc). Each
// frame is a group of sectors: two sound sectors of stereo SPU ADPCM at 48000 Hz, then the
// video sectors, whose parts of the frame data are stored last part first.
//
// Sector (offsets from the start of the raw 2352-byte sector, little-endian):
//   0x18 u16 0x0160
//   0x1A u16 type             8 sound, 4 video
//   0x1C u16 index            within the frame, from 0
//   0x1E u16 sectors          in the frame: above the index, below 12
//   0x20 u32 frame number     not 0; from 1, or from 0xFFFF0001 (the high half set)
// sound (index 0 left channel, index 1 right channel):
//   0x98 1920 bytes           the sector's sound part of the unit
//   0xB8 u32 sound size       bytes of SPU ADPCM of the channel, at most 1840 (115 blocks)
//   0xE8 ..                   the SPU ADPCM blocks
// video (index 2 up):
//   0x24 u32 frame data size  (index 2)
//   0x28 u16, 0x2A u16        width, height (index 2)
//   0x38 2292 bytes           frame data, up to the end of the Form 2 user data
// The frame's bitstream is the parts of its video sectors from the last sector back to index 2.
//
// Units: one sound unit per frame (1920 bytes from 0x98 of each sound sector, 3840 in all; the
// plugin decodes it), one video unit per frame (2292 bytes a video sector). A frame whose
// sectors do not follow one another is dropped rather than joined to the next one.
#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <vector>

#include <sys/stat.h>

#include "sectorkit/plain_file.h"
#include "sectorkit/plugin_info.h"
#include "sectorkit/sector_stream.h"
#include "sectorkit/spu_adpcm.h"
#include "sectorkit/str_sector.h"
#include "streamkit/psr.h"
#include "tamrin_common/c_guard.h"

namespace {

using namespace sectorkit;

constexpr uint16_t kMagic = 0x0160;
constexpr uint16_t kTypeSound = 8;
constexpr uint16_t kTypeVideo = 4;
constexpr uint16_t kFrameSectorsLimit = 12; // sectors in a frame stay below this
constexpr uint16_t kFirstVideoIndex = 2;

constexpr size_t kSoundPartOffset = 0x98;
constexpr size_t kSoundPartBytes = 1920;
constexpr size_t kSoundSizeOffset = 0xB8;
constexpr uint32_t kMaxSoundSize = 1840;
// In the sound unit: the size field, and the first block of each channel.
constexpr size_t kUnitSoundSize = kSoundSizeOffset - kSoundPartOffset;
constexpr size_t kUnitLeftBlocks = 80;
constexpr size_t kUnitRightBlocks = kSoundPartBytes + kUnitLeftBlocks;
constexpr uint32_t kSoundUnitBytes = 2 * kSoundPartBytes;

constexpr size_t kFrameSizeOffset = 0x24;
constexpr size_t kWidthOffset = 0x28;
constexpr size_t kHeightOffset = 0x2A;
constexpr size_t kVideoPartOffset = 0x38;
constexpr uint32_t kVideoPartBytes = 2292;
constexpr uint32_t kMaxVideoSectors = kFrameSectorsLimit - 1 - kFirstVideoIndex;
// The largest unit: a frame of 11 sectors (9 video sectors); a sound unit is smaller.
constexpr uint32_t kMaxPayload = kMaxVideoSectors * kVideoPartBytes;
static_assert(kSoundUnitBytes <= kMaxPayload);

constexpr size_t kRiffHeaderBytes = 44;
constexpr uint16_t kFrameRate = 150;
constexpr uint32_t kSampleRate = 48000;
constexpr uint32_t kItemStep = 10;
constexpr uint32_t kAreaSectors = 4;
constexpr int32_t kStreamSpeed = 8;

struct Fields
{
    uint16_t type = 0;
    uint16_t index = 0;
    uint16_t sectors = 0;
    uint32_t frame = 0;
};

uint16_t u16At(const uint8_t* sector, size_t offset)
{
    uint16_t value = 0;
    readU16(sector, kRawSectorBytes, offset, value);
    return value;
}

uint32_t u32At(const uint8_t* sector, size_t offset)
{
    uint32_t value = 0;
    readU32(sector, kRawSectorBytes, offset, value);
    return value;
}

Fields fieldsOf(const uint8_t* sector)
{
    return Fields{u16At(sector, 0x1A), u16At(sector, 0x1C), u16At(sector, 0x1E), u32At(sector, 0x20)};
}

// The sector test: a sector of this format.
std::optional<Fields> parseSector(const uint8_t* sector)
{
    if (u16At(sector, 0x18) != kMagic)
        return std::nullopt;
    const Fields f = fieldsOf(sector);
    if (f.sectors >= kFrameSectorsLimit || f.sectors <= f.index ||
        (f.type != kTypeSound && f.type != kTypeVideo) || f.frame == 0)
        return std::nullopt;
    return f;
}

// The frame's place in its movie: movies number their frames from 1, some with the high half of
// the number set (0xFFFF0001 for the first frame).
uint32_t frameOrdinal(uint32_t number)
{
    return number >= 0xFFFF0000u ? number & 0xFFFFu : number;
}

bool isStart(const Fields& f)
{
    return f.index == 0 && frameOrdinal(f.frame) == 1;
}

// The sound size of a sound sector (index 0 or 1) that counts: at most 1840 bytes.
std::optional<uint32_t> soundSize(const uint8_t* sector)
{
    const uint32_t size = u32At(sector, kSoundSizeOffset);
    return size <= kMaxSoundSize ? std::optional<uint32_t>(size) : std::nullopt;
}

uint32_t saturatingAdd(uint32_t a, uint64_t b)
{
    return uint32_t(std::min<uint64_t>(uint64_t(a) + b, UINT32_MAX));
}

uint32_t clamp32(uint64_t value)
{
    return uint32_t(std::min<uint64_t>(value, UINT32_MAX));
}

void describeSound(StrInfo* info)
{
    info->audioFormat = 1;
    info->channels = 2;
    info->bitsPerSample = 16;
    info->sampleRate = kSampleRate;
}

// The fields every description shares; `sound` adds the sound format.
void describeMovie(StrInfo* info, uint32_t frames, uint32_t width, uint32_t height, bool sound)
{
    info->kind = uint16_t(StrVideo | (sound ? StrAudio : 0));
    info->frameCount = frames;
    info->width = width;
    info->height = height;
    info->frameRate = kFrameRate;
    info->durationMs = clamp32(uint64_t(frames) * 10000 / kFrameRate);
    if (sound)
        describeSound(info);
}

// ---- probe ----------------------------------------------------------------------------------

struct Item
{
    uint16_t kind = 0;
    uint32_t first = 0;
    uint32_t count = 1;
    uint32_t frames = 1;
    uint32_t soundBlocks = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t dataBytes = kMaxSoundSize;
};

struct Probe
{
    bool following = false;
    std::vector<Item> items; // capacity grows by kItemStep
};

void endItem(Probe& probe)
{
    if (!probe.following)
        return;
    probe.following = false;
    Item& item = probe.items.back();
    if (item.soundBlocks > 0)
        item.kind |= StrAudio;
    // A single frame is no movie; nor is a run of sectors with neither pictures nor sound.
    if (item.frames == 1 || item.kind == 0)
        probe.items.pop_back();
}

void followSector(Item& item, uint32_t a, const uint8_t* sector, const Fields& f)
{
    if (f.index <= 1) {
        if (const auto size = soundSize(sector)) {
            item.soundBlocks = saturatingAdd(item.soundBlocks, *size / kSpuBlockBytes);
            item.dataBytes = saturatingAdd(item.dataBytes, *size);
            // A frame has one sector at least: a number beyond the sectors seen is damage.
            const uint32_t ordinal = frameOrdinal(f.frame);
            if (ordinal <= a - item.first + 1)
                item.frames = std::max(item.frames, ordinal);
        }
    } else if (f.index == kFirstVideoIndex) {
        item.kind |= StrVideo;
        item.width = u16At(sector, kWidthOffset);
        item.height = u16At(sector, kHeightOffset);
        item.dataBytes = saturatingAdd(item.dataBytes, u32At(sector, kFrameSizeOffset));
    }
    if (f.index + 1u == f.sectors)
        item.count = a - item.first + 1;
}

void probeSector(Probe& probe, uint32_t a, const uint8_t* sector)
{
    const std::optional<Fields> f = parseSector(sector);
    const bool start = f && isStart(*f);
    if (probe.following && (!f || start))
        endItem(probe);
    if (probe.following) {
        followSector(probe.items.back(), a, sector, *f);
        return;
    }
    if (start && roomForOne(probe.items, kItemStep)) {
        Item item;
        item.first = a;
        probe.items.push_back(item);
        probe.following = true;
    }
}

void describeItem(const Item& item, StrInfo* info)
{
    std::memset(info, 0, sizeof *info);
    describeMovie(info, item.frames, item.width, item.height, (item.kind & StrAudio) != 0);
    info->kind = item.kind; // a movie whose video sectors never came has no video
    info->startSector = item.first;
    info->sectorCount = item.count;
    info->dataBytes = item.dataBytes;
}

// ---- descriptions -----------------------------------------------------------------------------

int32_t describeArea(int32_t drive, uint32_t startSector, uint32_t sectorCount, StrInfo* info)
{
    SectorStream area;
    if (!info || !area.open(drive, startSector, std::min(sectorCount, kAreaSectors), kHighestSpeed))
        return 0;
    bool sound = false, video = false;
    uint32_t width = 0, height = 0, perFrame = 0;
    while (const uint8_t* sector = area.next()) {
        const Fields f = fieldsOf(sector);
        if (f.index <= 1 && soundSize(sector).value_or(0) >= kSpuBlockBytes)
            sound = true;
        // Index 2 is the first video sector: a frame holds more sectors than that.
        if (f.index == kFirstVideoIndex && f.sectors > kFirstVideoIndex) {
            video = true;
            width = u16At(sector, kWidthOffset);
            height = u16At(sector, kHeightOffset);
            perFrame = f.sectors;
        }
        area.release(sector);
    }
    if (!video)
        return 0;
    const uint32_t frames = sectorCount / perFrame;
    std::memset(info, 0, sizeof *info);
    info->startSector = startSector;
    info->sectorCount = sectorCount;
    describeMovie(info, frames, width, height, sound);
    info->dataBytes = clamp32(uint64_t(perFrame) * frames * 2016 + (sound ? uint64_t(frames) * 3680 : 0));
    return 1;
}

class SectorFile
{
  public:
    bool open(const char* name)
    {
        uint8_t riff[kRiffHeaderBytes];
        if (!m_file.open(name) || !m_file.readAt(0, riff, sizeof riff) || std::memcmp(riff, "RIFF", 4) != 0)
            return false;
        // Whole sectors only: a cut last sector is not part of the movie.
        m_sectors = (m_file.size() - kRiffHeaderBytes) / kRawSectorBytes;
        return true;
    }
    uint64_t sectors() const { return m_sectors; }
    bool read(uint64_t index, uint8_t* sector) const
    {
        return index < m_sectors &&
               m_file.readAt(kRiffHeaderBytes + index * kRawSectorBytes, sector, kRawSectorBytes);
    }

  private:
    PlainFile m_file;
    uint64_t m_sectors = 0;
};

enum class Test
{
    Passes,
    Fails,
    Unreadable,
};

Test testSector(const SectorFile& file, uint64_t index)
{
    uint8_t sector[kRawSectorBytes];
    if (!file.read(index, sector))
        return Test::Unreadable;
    return parseSector(sector) ? Test::Passes : Test::Fails;
}

int32_t describeFile(const char* name, StrInfo* info)
{
    SectorFile file;
    if (!info || !file.open(name))
        return 0;
    bool sound = false, video = false;
    uint32_t width = 0, height = 0, perFrame = 0;
    uint8_t sector[kRawSectorBytes];
    for (uint64_t i = 0; i < 3; ++i) {
        if (!file.read(i, sector))
            return 0;
        const std::optional<Fields> f = parseSector(sector);
        if (!f)
            return 0;
        if (f->index <= 1 && soundSize(sector).value_or(0) >= kSpuBlockBytes)
            sound = true;
        if (f->index == kFirstVideoIndex) {
            video = true;
            width = u16At(sector, kWidthOffset);
            height = u16At(sector, kHeightOffset);
            perFrame = f->sectors;
        }
    }
    if (!video)
        return 0;

    // The last sector of the movie: the sectors from the start pass the test, whatever follows
    // fails it. Sector 2 passes; find the last passing one by halving.
    uint64_t low = 2, high = file.sectors() - 1;
    switch (testSector(file, high)) {
    case Test::Passes:
        low = high;
        break;
    case Test::Fails:
        --high;
        break;
    case Test::Unreadable:
        return 0;
    }
    while (low < high) {
        const uint64_t middle = low + (high - low + 1) / 2;
        switch (testSector(file, middle)) {
        case Test::Passes:
            low = middle;
            break;
        case Test::Fails:
            high = middle - 1;
            break;
        case Test::Unreadable:
            return 0;
        }
    }
    // The frame count assumes frames of the first frame's size; the stream covers every sector
    // that passes, so that larger frames later in the movie are not cut off at its end.
    const uint64_t frames = (low + 1) / perFrame;
    if (frames == 0)
        return 0;

    std::memset(info, 0, sizeof *info);
    info->sectorCount = clamp32(low + 1);
    describeMovie(info, clamp32(frames), width, height, sound);
    info->dataBytes =
        clamp32(sound ? frames * (63 * uint64_t(perFrame) - 11) * 32 : frames * (perFrame - 2) * 2016);
    return 1;
}

// ---- streams --------------------------------------------------------------------------------

// The process-wide SPU decoder state: every stream of the plugin shares it; open and seek clear it.
std::mutex g_historyLock;
SpuHistory g_history;

void clearHistory()
{
    std::lock_guard<std::mutex> lock(g_historyLock);
    g_history.clear();
}

class Stream
{
  public:
    bool openDisc(int32_t drive, const StrInfo& info)
    {
        if (!m_disc.open(drive, info.startSector, info.sectorCount, kStreamSpeed))
            return false;
        start(info);
        return true;
    }

    bool openFile(const char* name, const StrInfo& info)
    {
        if (!m_file.open(name))
            return false;
        m_isFile = true;
        start(info);
        return true;
    }

    // The next sector (one put back first); null at the end of the stream or on a failed read.
    const uint8_t* next()
    {
        if (m_back) {
            const uint8_t* sector = m_back;
            m_back = nullptr;
            return sector;
        }
        if (m_remaining == 0)
            return nullptr;
        --m_remaining;
        if (!m_isFile)
            return m_disc.next();
        if (!m_file.read(m_nextSector++, m_buffer))
            return nullptr;
        return m_buffer;
    }

    void release(const uint8_t* sector)
    {
        if (!m_isFile)
            m_disc.release(sector);
    }

    // Keeps `sector` for the next call of next().
    void putBack(const uint8_t* sector) { m_back = sector; }

    bool seek(uint32_t positionMs)
    {
        if (m_frameCount == 0)
            return false;
        const uint64_t frame = uint64_t(positionMs) * m_frameRate / 10000;
        const uint64_t sector =
            std::min<uint64_t>(uint64_t(m_sectorCount / m_frameCount) * frame, m_sectorCount);
        if (m_back) {
            release(m_back);
            m_back = nullptr;
        }
        if (m_isFile)
            m_nextSector = sector;
        else if (!m_disc.seek(sector))
            return false;
        m_remaining = m_sectorCount - uint32_t(sector);
        clearHistory();
        return true;
    }

    ~Stream()
    {
        if (m_back)
            release(m_back);
    }

  private:
    void start(const StrInfo& info)
    {
        m_sectorCount = info.sectorCount;
        m_remaining = info.sectorCount;
        m_frameCount = info.frameCount;
        m_frameRate = info.frameRate;
        clearHistory();
    }

    SectorStream m_disc;
    SectorFile m_file;
    bool m_isFile = false;
    uint64_t m_nextSector = 0;
    uint8_t m_buffer[kRawSectorBytes] = {};
    const uint8_t* m_back = nullptr;
    uint32_t m_sectorCount = 0;
    uint32_t m_remaining = 0;
    uint32_t m_frameCount = 0;
    uint16_t m_frameRate = kFrameRate;
};

// A sound unit from the index-0 sound sector `first`: its part and that of the frame's index-1
// sector. False when the next sector is not that one; it is then put back.
bool readSound(Stream& stream, PsrReadRecord* record, const uint8_t* first, const Fields& f)
{
    std::memcpy(record->payload, first + kSoundPartOffset, kSoundPartBytes);
    stream.release(first);
    const uint8_t* second = stream.next();
    if (!second)
        return false;
    const std::optional<Fields> g = parseSector(second);
    if (!g || g->type != kTypeSound || g->index != 1 || g->frame != f.frame) {
        stream.putBack(second);
        return false;
    }
    std::memcpy(record->payload + kSoundPartBytes, second + kSoundPartOffset, kSoundPartBytes);
    stream.release(second);
    record->unitKind = UnitAudio;
    record->payloadBytes = kSoundUnitBytes;
    return true;
}

// A video unit from the index-2 sector `first` and the frame's further video sectors, each part
// placed so that the last sector's comes first. False when the frame breaks off (the sector
// that broke it is put back) or the stream ends.
bool readFrame(Stream& stream, PsrReadRecord* record, const uint8_t* first, const Fields& f)
{
    const uint32_t last = f.sectors - 1u; // below kFrameSectorsLimit: at most kMaxVideoSectors parts
    auto place = [&](const uint8_t* sector, uint32_t index) {
        std::memcpy(record->payload + (last - index) * kVideoPartBytes, sector + kVideoPartOffset,
                    kVideoPartBytes);
        stream.release(sector);
    };
    record->frameNumber = frameOrdinal(f.frame);
    record->width = u16At(first, kWidthOffset);
    record->height = u16At(first, kHeightOffset);
    place(first, kFirstVideoIndex);
    for (uint32_t index = kFirstVideoIndex + 1; index <= last; ++index) {
        const uint8_t* sector = stream.next();
        if (!sector)
            return false;
        const std::optional<Fields> g = parseSector(sector);
        if (!g || g->type != kTypeVideo || g->index != index || g->sectors != f.sectors ||
            g->frame != f.frame) {
            stream.putBack(sector);
            return false;
        }
        place(sector, index);
    }
    record->unitKind = UnitVideo;
    record->payloadBytes = (last - kFirstVideoIndex + 1) * kVideoPartBytes;
    return true;
}

int32_t readUnit(Stream& stream, PsrReadRecord* record)
{
    while (const uint8_t* sector = stream.next()) {
        std::memset(record, 0, PSR_READ_HEADER_BYTES);
        const std::optional<Fields> f = parseSector(sector);
        if (f && f->type == kTypeSound && f->index == 0 && soundSize(sector).value_or(0) > 0) {
            if (readSound(stream, record, sector, *f))
                return 1;
        } else if (f && f->type == kTypeVideo && f->index == kFirstVideoIndex) {
            if (readFrame(stream, record, sector, *f))
                return 1;
        } else {
            stream.release(sector);
        }
    }
    std::memset(record, 0, PSR_READ_HEADER_BYTES);
    return 0;
}

// Decodes a sound unit: `blocks` blocks a channel from the size field, bounded by what the unit
// holds. -1 for a unit without a block.
int32_t decodeSound(const PsrReadRecord* record, uint8_t* output, int32_t capacity)
{
    const uint32_t bytes = record->payloadBytes;
    if (bytes < kUnitSoundSize + 4)
        return -1;
    uint32_t size = 0;
    readU32(record->payload, bytes, kUnitSoundSize, size);
    size_t blocks = std::min(size, kMaxSoundSize) / kSpuBlockBytes;
    blocks = std::min(blocks, bytes > kUnitRightBlocks ? (bytes - kUnitRightBlocks) / kSpuBlockBytes : 0);
    if (blocks == 0 || !output)
        return -1;
    const size_t out = spuStereoBytes(blocks);
    if (capacity < 0 || size_t(capacity) < out)
        return int32_t(out);
    std::lock_guard<std::mutex> lock(g_historyLock);
    decodeSpuStereo(record->payload + kUnitLeftBlocks, record->payload + kUnitRightBlocks, blocks, g_history,
                    output);
    return int32_t(out);
}

} // namespace

// ---- exports ----------------------------------------------------------------------------------

PSR_EXPORT int32_t PsrQueryPlugin(PsrPluginInfo* info)
{
    return tamrin::guarded<int32_t>(
        0, [&] { return describePlugin(info, "FF9 Stream", 132, 100, MediaRawSectors | MediaFiles); });
}

PSR_EXPORT int32_t PsrIsSupportFile(const char* fileName)
{
    return tamrin::guarded<int32_t>(0, [&] {
        struct stat st = {};
        return fileName && *fileName && ::stat(fileName, &st) == 0 && !S_ISDIR(st.st_mode) ? 1 : 0;
    });
}

PSR_EXPORT int32_t PsrGetStrFileInfo(const char* fileName, StrInfo* info)
{
    return tamrin::guarded<int32_t>(0, [&] { return describeFile(fileName, info); });
}

PSR_EXPORT void* PsrOpenFile(const char* fileName, StrInfo* info)
{
    return tamrin::guarded<void*>(nullptr, [&]() -> void* {
        StrInfo own{};
        if (!info || info->sectorCount == 0) {
            if (!describeFile(fileName, &own))
                return nullptr;
            info = &own;
        }
        auto stream = std::make_unique<Stream>();
        if (!stream->openFile(fileName, *info))
            return nullptr;
        return stream.release();
    });
}

PSR_EXPORT void* PsrIsSupportCDBegin(int32_t trackCount, const CdTocEntry* tracks)
{
    return tamrin::guarded<void*>(nullptr, [&]() -> void* {
        if (trackCount != 1 || !tracks || !isDataTrack(tracks[0]))
            return nullptr;
        auto probe = std::make_unique<Probe>();
        probe->items.reserve(kItemStep);
        return probe.release();
    });
}

PSR_EXPORT int32_t PsrIsSupportCDSector(void* context, CdTocEntry, uint32_t lba, const uint8_t* sector)
{
    return tamrin::guarded<int32_t>(0, [&] {
        auto* probe = static_cast<Probe*>(context);
        if (!probe)
            return 0;
        if (!sector) {
            // A stopped scan: the movie still followed may be cut short.
            if (probe->following) {
                probe->following = false;
                probe->items.pop_back();
            }
            return 0;
        }
        probeSector(*probe, lba, sector);
        return 1;
    });
}

PSR_EXPORT int32_t PsrIsSupportCDResult(void* context, int32_t index, StrInfo* info)
{
    return tamrin::guarded<int32_t>(0, [&] {
        const auto* probe = static_cast<const Probe*>(context);
        if (!probe)
            return 0;
        return probeResult(probe->items, index, info, describeItem);
    });
}

PSR_EXPORT void PsrIsSupportCDEnd(void* context)
{
    tamrin::guardedVoid([&] { delete static_cast<Probe*>(context); });
}

PSR_EXPORT int32_t PsrGetStrDataInfo(int32_t drive, uint32_t startSector, uint32_t sectorCount, StrInfo* info)
{
    return tamrin::guarded<int32_t>(0, [&] { return describeArea(drive, startSector, sectorCount, info); });
}

PSR_EXPORT void* PsrOpenCD(int32_t drive, StrInfo* info)
{
    return tamrin::guarded<void*>(nullptr, [&]() -> void* {
        if (!info)
            return nullptr;
        auto stream = std::make_unique<Stream>();
        if (!stream->openDisc(drive, *info))
            return nullptr;
        return stream.release();
    });
}

PSR_EXPORT int32_t PsrRead(void* handle, PsrReadRecord* record)
{
    return tamrin::guarded<int32_t>(0, [&] {
        auto* stream = static_cast<Stream*>(handle);
        return stream && record ? readUnit(*stream, record) : 0;
    });
}

PSR_EXPORT int32_t PsrSeek(void* handle, uint32_t positionMs)
{
    return tamrin::guarded<int32_t>(0, [&] {
        auto* stream = static_cast<Stream*>(handle);
        return stream && stream->seek(positionMs) ? 1 : 0;
    });
}

PSR_EXPORT int32_t PsrClose(void* handle)
{
    return tamrin::guarded<int32_t>(0, [&] {
        auto* stream = static_cast<Stream*>(handle);
        if (!stream)
            return 0;
        delete stream;
        return 1;
    });
}

PSR_EXPORT int32_t PsrDecodeAudio(PsrReadRecord* record, uint8_t* output, int32_t capacity)
{
    return tamrin::guarded<int32_t>(-1, [&] {
        if (!record) {
            clearHistory();
            return 0;
        }
        return decodeSound(record, output, capacity);
    });
}
