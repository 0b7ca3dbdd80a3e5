// Tidefilm: the movies of one game, written into ordinary Form 1 data sectors of a single data
// track: MDEC video frames and stereo SPU ADPCM sound at 44100 Hz, each unit (a frame or 1/15 s
// of sound) spread over a few sectors that carry a header of their own.
//
// Sector (raw 2352 bytes, little-endian; the user data begins at 0x18):
//   0x12 u8  submode        0x08 data (every sector of a movie), 0x80 ends the movie
//   0x18 u16 0x0160
//   0x1A u16 type           no bit outside 0x8303; bit 15: video; (type & 0xFEFE) == 0: sound
//   0x1C u16 index          of the sector within its unit, from 0
//   0x1E u16 unit sectors   below 10 and above the index
//   0x20 u16 number         frame number (video) or unit number (sound), from 1
//   0x24 u32 frame bytes    (video) MDEC data bytes of the frame
//   0x28 u16 width          (video)
//   0x2A u16 height         (video)
//   0x38 2016 bytes         (video) frame data
//   0xE8 1680 bytes         (sound) SPU ADPCM blocks
// A sector is tagged when all of these hold.
//
// A movie starts at the first sector of sound unit 1 (at any first sound sector when no movie is
// being followed) and runs over tagged sectors up to an untagged one, the next movie's start, or
// a sector with the end bit (included).
//
// Units: a video frame, its sectors' data in index order cut to the frame's byte count; or a sound
// unit, 1680 bytes a sector: two sectors make the left channel's 105 blocks and the right one's.
// The plugin decodes the sound itself (PsrDecodeAudio) into 2940 stereo 16-bit pairs.
#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "sectorkit/plugin_info.h"
#include "sectorkit/sector_stream.h"
#include "sectorkit/spu_adpcm.h"
#include "sectorkit/str_sector.h"
#include "streamkit/psr.h"
#include "tamrin_common/c_guard.h"

namespace {

using namespace sectorkit;

constexpr uint16_t kMagic = 0x0160;
constexpr uint16_t kTypeBits = 0x8303;
constexpr uint16_t kTypeVideo = 0x8000;
constexpr uint16_t kTypeNotSound = 0xFEFE;
constexpr uint16_t kTypeNotProbeSound = 0x0002;
constexpr uint16_t kUnitSectorsLimit = 10; // a unit has fewer sectors
constexpr uint8_t kSubmodeData = 0x08;

constexpr size_t kVideoOffset = 0x38;
constexpr uint32_t kVideoBytes = 2016;
constexpr size_t kSoundOffset = 0xE8;
constexpr uint32_t kSoundBytes = 1680;
// A unit holds at most what its sectors (nine at most) carry: the largest is a frame of nine
// sectors, 18144 bytes.

// A sound unit: 105 blocks of each channel, decoded to 2940 pairs of 16-bit samples.
constexpr size_t kSoundUnitBlocks = 105;
constexpr uint32_t kSoundUnitBytes = 2 * kSoundUnitBlocks * kSpuBlockBytes;
constexpr uint32_t kPcmUnitBytes = uint32_t(spuStereoBytes(kSoundUnitBlocks));
static_assert(kSoundUnitBytes == 2 * kSoundBytes && kPcmUnitBytes == 11760);

constexpr uint32_t kItemStep = 10;
constexpr uint32_t kAreaSectors = 4;
constexpr uint32_t kSampleRate = 44100;

enum class Kind
{
    Video,
    Sound,
    Other,
};

struct Tagged
{
    Kind kind = Kind::Other;
    uint16_t type = 0;
    uint16_t index = 0;
    uint16_t unitSectors = 0;
    uint16_t number = 0;
    uint32_t frameBytes = 0;
    uint16_t width = 0;
    uint16_t height = 0;
};

std::optional<Tagged> parseTagged(const uint8_t* sector)
{
    uint16_t magic = 0;
    Tagged t;
    if (!(submodeOf(sector) & kSubmodeData) || !readU16(sector, kRawSectorBytes, 0x18, magic) ||
        !readU16(sector, kRawSectorBytes, 0x1A, t.type) || !readU16(sector, kRawSectorBytes, 0x1C, t.index) ||
        !readU16(sector, kRawSectorBytes, 0x1E, t.unitSectors) ||
        !readU16(sector, kRawSectorBytes, 0x20, t.number) ||
        !readU32(sector, kRawSectorBytes, 0x24, t.frameBytes) ||
        !readU16(sector, kRawSectorBytes, 0x28, t.width) || !readU16(sector, kRawSectorBytes, 0x2A, t.height))
        return std::nullopt;
    if (magic != kMagic || (t.type & ~kTypeBits) != 0 || t.unitSectors >= kUnitSectorsLimit ||
        t.unitSectors <= t.index)
        return std::nullopt;
    t.kind = (t.type & kTypeVideo) ? Kind::Video : (t.type & kTypeNotSound) == 0 ? Kind::Sound : Kind::Other;
    return t;
}

uint16_t rateForWidth(uint32_t width)
{
    return width < 300 ? 300 : 150;
}

void describeSound(StrInfo* info)
{
    info->audioFormat = 1;
    info->channels = 2;
    info->bitsPerSample = 16;
    info->sampleRate = kSampleRate;
}

uint32_t saturatingAdd(uint32_t a, uint32_t b)
{
    return a > UINT32_MAX - b ? UINT32_MAX : a + b;
}

// ---- probe ----------------------------------------------------------------------------------

struct Item
{
    uint16_t kind = 0;
    uint32_t firstSector = 0;
    uint32_t sectorCount = 1;
    uint32_t frames = 1; // the frame number of the last frame start
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t dataBytes = 0;
};

struct ProbeContext
{
    bool following = false;
    bool lastUnitComplete = false; // the last sector taken was the last one of its unit
    std::vector<Item> items;       // capacity grows by kItemStep
};

// Ends the followed stream; one that never got past frame 1 is no movie.
void endStream(ProbeContext& probe)
{
    if (!probe.following)
        return;
    probe.following = false;
    if (probe.items.back().frames == 1)
        probe.items.pop_back();
}

void countSector(ProbeContext& probe, uint32_t a, const Tagged& t)
{
    Item& item = probe.items.back();
    if (t.kind == Kind::Video && t.index == 0) {
        item.kind |= StrVideo;
        item.width = t.width;
        item.height = t.height;
        item.frames = t.number;
        item.dataBytes = saturatingAdd(item.dataBytes, t.frameBytes);
    } else if (t.kind != Kind::Video && !(t.type & kTypeNotProbeSound)) {
        item.kind |= StrAudio;
        item.dataBytes = saturatingAdd(item.dataBytes, kSoundBytes);
    }
    // Kept up to date, so that a stream the scan leaves open is described by what it read.
    if (a >= item.firstSector)
        item.sectorCount = a - item.firstSector + 1;
    probe.lastUnitComplete = t.index + 1u == t.unitSectors;
}

void probeSector(ProbeContext& probe, uint32_t a, const uint8_t* sector)
{
    const std::optional<Tagged> t = parseTagged(sector);
    const bool start = t && t->kind == Kind::Sound && t->index == 0 && (!probe.following || t->number == 1);
    if (probe.following) {
        if (!t || start) {
            Item& item = probe.items.back();
            if (a > item.firstSector)
                item.sectorCount = a - item.firstSector;
            endStream(probe);
        } else {
            countSector(probe, a, *t);
        }
    }
    if (start && roomForOne(probe.items, kItemStep)) {
        Item item;
        item.firstSector = a;
        probe.items.push_back(item);
        probe.following = true;
        // The start is the first sound sector of the movie: its sound counts.
        countSector(probe, a, *t);
    }
    if (probe.following && (submodeOf(sector) & kSubmodeEndOfFile))
        endStream(probe); // the sector with the end bit is the movie's last, counted above
}

// The end of the scan: a stream still followed is kept only when it is a movie whose last unit
// came whole; one cut short (a stopped scan) is dropped.
void settle(ProbeContext& probe)
{
    if (probe.following && !probe.lastUnitComplete)
        probe.items.back().frames = 1;
    endStream(probe);
}

void describeItem(const Item& item, StrInfo* info)
{
    std::memset(info, 0, sizeof *info);
    info->kind = item.kind;
    info->startSector = item.firstSector;
    info->sectorCount = item.sectorCount;
    info->frameCount = item.frames;
    info->width = item.width;
    info->height = item.height;
    info->frameRate = rateForWidth(item.width);
    info->durationMs =
        uint32_t(std::min<uint64_t>(uint64_t(item.frames) * 10000 / info->frameRate, UINT32_MAX));
    if (item.kind & StrAudio)
        describeSound(info);
    info->dataBytes = item.dataBytes;
}

// The streams of a probe: the finished ones, and the followed one when it is already a movie
// (a scan that reaches the end of its area without the closing call).
int32_t probeResults(const ProbeContext& probe, int32_t index, StrInfo* info)
{
    size_t count = probe.items.size();
    if (probe.following && probe.items.back().frames == 1)
        --count;
    if (!info)
        return int32_t(count);
    if (index < 0 || size_t(index) >= count)
        return -1;
    describeItem(probe.items[size_t(index)], info);
    return int32_t(count);
}

// An area chosen by hand: its first sectors tell the picture size and the unit sizes.
int32_t describeArea(int32_t drive, uint32_t startSector, uint32_t sectorCount, StrInfo* info)
{
    SectorStream area;
    if (!info || !area.open(drive, startSector, std::min(sectorCount, kAreaSectors), kHighestSpeed))
        return 0;
    uint32_t videoUnit = 0, soundUnit = 0, otherUnit = 0, width = 0, height = 0;
    while (const uint8_t* sector = area.next()) {
        if (const std::optional<Tagged> t = parseTagged(sector)) {
            if (t->kind == Kind::Video && t->index == 0) {
                width = t->width;
                height = t->height;
                videoUnit = t->unitSectors;
            } else if (t->kind == Kind::Sound) {
                soundUnit = t->unitSectors;
            } else if (t->kind == Kind::Other) {
                otherUnit = t->unitSectors;
            }
        }
        area.release(sector);
    }
    area.close();
    if (videoUnit == 0 && soundUnit == 0)
        return 0;

    std::memset(info, 0, sizeof *info);
    info->kind = soundUnit != 0 ? StrVideo | StrAudio : StrVideo;
    info->startSector = startSector;
    info->sectorCount = sectorCount;
    info->width = width;
    info->height = height;
    // The rate follows the picture width, as in the analysis results.
    info->frameRate = rateForWidth(width);
    info->frameCount = sectorCount / (videoUnit + otherUnit + soundUnit);
    info->durationMs = uint32_t(uint64_t(info->frameCount) * 10000 / info->frameRate);
    if (soundUnit != 0)
        describeSound(info);
    return 1;
}

// ---- streams --------------------------------------------------------------------------------

// The decoder state of the sound: shared by every stream of the process, cleared at each open
// and seek. The lock keeps streams on different threads from tearing it.
std::mutex g_historyLock;
SpuHistory g_history;

void clearHistory()
{
    std::lock_guard<std::mutex> lock(g_historyLock);
    g_history.clear();
}

struct Stream
{
    SectorStream sectors;
    uint32_t sectorCount = 0;
    uint32_t frameCount = 0;
    uint16_t frameRate = 0;

    // The unit being gathered.
    Kind unit = Kind::Other; // Other: none
    uint16_t nextIndex = 0;
    uint16_t unitSectors = 0;
    uint32_t wanted = 0; // video: the frame's bytes, bounded by what its sectors hold
    uint32_t gathered = 0;
};

// Adds a tagged sector to the unit in `record`; true when the unit is complete. A unit takes its
// sectors in index order: a missing or repeated one drops the unit, so frames are never joined.
bool gather(Stream& stream, PsrReadRecord* record, const uint8_t* sector, const Tagged& t)
{
    if (t.kind == Kind::Other)
        return false;
    if (t.index == 0) {
        std::memset(record, 0, PSR_READ_HEADER_BYTES);
        stream.unit = t.kind;
        stream.unitSectors = t.unitSectors;
        stream.gathered = 0;
        if (t.kind == Kind::Video) {
            record->frameNumber = t.number;
            record->width = t.width;
            record->height = t.height;
            stream.wanted = std::min(t.frameBytes, uint32_t(t.unitSectors) * kVideoBytes);
        }
    } else if (t.kind != stream.unit || t.index != stream.nextIndex || t.unitSectors != stream.unitSectors) {
        stream.unit = Kind::Other;
        return false;
    }
    stream.nextIndex = uint16_t(t.index + 1);

    if (t.kind == Kind::Video) {
        const uint32_t take = std::min(kVideoBytes, stream.wanted - stream.gathered);
        std::memcpy(record->payload + stream.gathered, sector + kVideoOffset, take);
        stream.gathered += take;
    } else {
        std::memcpy(record->payload + stream.gathered, sector + kSoundOffset, kSoundBytes);
        stream.gathered += kSoundBytes;
    }
    if (stream.nextIndex != stream.unitSectors)
        return false;
    stream.unit = Kind::Other;
    if (stream.gathered == 0)
        return false;
    record->unitKind = t.kind == Kind::Video ? UnitVideo : UnitAudio;
    record->payloadBytes = stream.gathered;
    return true;
}

int32_t readUnit(Stream& stream, PsrReadRecord* record)
{
    std::memset(record, 0, PSR_READ_HEADER_BYTES);
    stream.unit = Kind::Other;
    while (const uint8_t* sector = stream.sectors.next()) {
        const std::optional<Tagged> t = parseTagged(sector);
        const bool complete = t && gather(stream, record, sector, *t);
        stream.sectors.release(sector);
        if (complete)
            return 1;
    }
    std::memset(record, 0, PSR_READ_HEADER_BYTES); // an unfinished unit is dropped
    return 0;
}

int32_t seekStream(Stream& stream, uint32_t positionMs)
{
    // Whole frames of the stream's average size; a stream without frames only restarts.
    uint64_t sector = 0;
    if (stream.frameCount != 0)
        sector = uint64_t(stream.sectorCount / stream.frameCount) *
                 (uint64_t(positionMs) * stream.frameRate / 10000);
    clearHistory();
    return stream.sectors.seek(std::min<uint64_t>(sector, stream.sectorCount)) ? 1 : 0;
}

int32_t decodeAudio(PsrReadRecord* record, uint8_t* output, int32_t capacity)
{
    if (!record) {
        clearHistory();
        return 0;
    }
    if (capacity < int32_t(kPcmUnitBytes))
        return int32_t(kPcmUnitBytes); // the room a unit needs; nothing decoded
    if (!output || record->payloadBytes != kSoundUnitBytes)
        return -1;
    std::lock_guard<std::mutex> lock(g_historyLock);
    decodeSpuStereo(record->payload, record->payload + kSoundBytes, kSoundUnitBlocks, g_history, output);
    return int32_t(kPcmUnitBytes);
}

} // namespace

// ---- exports ----------------------------------------------------------------------------------

PSR_EXPORT int32_t PsrQueryPlugin(PsrPluginInfo* info)
{
    return tamrin::guarded<int32_t>(
        0, [&] { return describePlugin(info, "CHRONO CROSS", 132, 101, MediaRawSectors); });
}

PSR_EXPORT void* PsrIsSupportCDBegin(int32_t trackCount, const CdTocEntry* tracks)
{
    return tamrin::guarded<void*>(nullptr, [&]() -> void* {
        // The game's discs have one data track and nothing else.
        if (!tracks || trackCount != 1 || !isDataTrack(tracks[0]))
            return nullptr;
        auto probe = std::make_unique<ProbeContext>();
        probe->items.reserve(kItemStep);
        return probe.release();
    });
}

PSR_EXPORT int32_t PsrIsSupportCDSector(void* context, CdTocEntry /*track*/, uint32_t lba,
                                        const uint8_t* sector)
{
    return tamrin::guarded<int32_t>(0, [&] {
        auto* probe = static_cast<ProbeContext*>(context);
        if (!probe)
            return 0;
        if (!sector) {
            settle(*probe);
            return 0;
        }
        probeSector(*probe, lba, sector);
        return 1;
    });
}

PSR_EXPORT int32_t PsrIsSupportCDResult(void* context, int32_t index, StrInfo* info)
{
    return tamrin::guarded<int32_t>(0, [&] {
        const auto* probe = static_cast<const ProbeContext*>(context);
        return probe ? probeResults(*probe, index, info) : 0;
    });
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
        if (!stream->sectors.open(drive, info->startSector, info->sectorCount, kHighestSpeed))
            return nullptr;
        stream->sectorCount = info->sectorCount;
        stream->frameCount = info->frameCount;
        stream->frameRate = info->frameRate;
        clearHistory();
        return stream.release();
    });
}

PSR_EXPORT int32_t PsrDecodeAudio(PsrReadRecord* record, uint8_t* output, int32_t capacity)
{
    return tamrin::guarded<int32_t>(-1, [&] { return decodeAudio(record, output, capacity); });
}

#include "sectorkit/stream_exports.h"
