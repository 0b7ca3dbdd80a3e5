// Emberfilm: the movies of one game's single-track discs: MDEC frames and stereo SPU ADPCM sound at
// 44100 Hz in tagged data sectors, every frame the same number of sectors. The picture size is
// not stored: it is always 320 x 224.
//
// Sector (raw 2352 bytes, offsets from the sector start):
//   0x18 2 bytes  "SM"
//   0x1A u8       kind letter: 'J' video, 'N' or 'R' sound
//   0x1B u8       1
//   0x1C u8       index of the sector within its frame, from 0
//   0x1D u8       last index of the frame (sectors per frame - 1); not 0
//   0x1E u16      frame number, from 0
//   0x20 2040     video: frame data
//   0x188 1680    sound: 105 SPU ADPCM blocks of one channel (0x20..0x187 not used)
// A sector is tagged when it has "SM", the 1 and a last index that is not 0.
//
// Probe: a movie starts at a tagged sector with index 0 of frame 0 and goes on over tagged
// sectors; each sector that closes a frame (index = last index) sets the frame count to its
// frame number + 1. Any other sector (untagged, or the next start) ends the movie; a movie
// without a closed frame is dropped. At the final call a movie still followed is kept when its
// last sector closed a frame (a movie that runs to the end of the track is whole) and dropped
// when it stopped inside one.
//
// Area description: the letters and the frame size of the area's first sectors, read up to the
// end of the first frame (at least four sectors), so that both kinds of a frame are seen.
//
// Units: sectors of one kind in a row, at most sectors-per-frame (sectorCount / frameCount) of
// them. A video unit is the 2040 data bytes of each 'J' sector, a sound unit the 1680 sound
// bytes of each 'N'/'R' sector: the left channel's 105 blocks, then the right channel's, which
// decode to 2940 stereo samples (1/15 s). A sector of the other kind ends the unit and is held
// to open the next one. A sector of neither kind (untagged, or another letter) inside a unit
// counts as one of the unit's own kind; one that would open a unit is skipped, since nothing
// tells which kind of unit it belongs to.
#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "sectorkit/plugin_info.h"
#include "sectorkit/sector_stream.h"
#include "sectorkit/spu_adpcm.h"
#include "streamkit/psr.h"
#include "tamrin_common/c_guard.h"

namespace {

using namespace sectorkit;

constexpr size_t kVideoOffset = 0x20;
constexpr uint32_t kVideoBytes = 2040;
constexpr size_t kSoundOffset = 0x188;
constexpr uint32_t kSoundBytes = 1680;
// The last index is one byte: a frame spans at most 256 sectors, and no unit is longer. The
// largest payload is 256 x 2040 bytes (522240).
constexpr uint32_t kMaxFrameSectors = 256;
constexpr uint32_t kWidth = 320;
constexpr uint32_t kHeight = 224;
constexpr uint16_t kFrameRate = 150;
constexpr uint32_t kSampleRate = 44100;
constexpr uint32_t kItemStep = 10;
constexpr uint32_t kAreaSectors = 4;

// One sound unit: 105 blocks of each channel, 28 samples a block.
constexpr size_t kUnitBlocks = kSoundBytes / kSpuBlockBytes;
constexpr uint32_t kUnitPcmBytes = uint32_t(spuStereoBytes(kUnitBlocks));
static_assert(kUnitPcmBytes == 11760);

enum class Kind
{
    None,
    Video,
    Sound,
};

struct Tag
{
    Kind kind = Kind::None; // None: tagged with another letter
    uint8_t index = 0;
    uint8_t lastIndex = 0;
    uint16_t frame = 0;

    bool isStart() const { return index == 0 && frame == 0; }
};

std::optional<Tag> parseTag(const uint8_t* sector)
{
    if (sector[0x18] != 'S' || sector[0x19] != 'M' || sector[0x1B] != 1 || sector[0x1D] == 0)
        return std::nullopt;
    Tag tag;
    const uint8_t letter = sector[0x1A];
    tag.kind = letter == 'J' ? Kind::Video : (letter == 'N' || letter == 'R') ? Kind::Sound : Kind::None;
    tag.index = sector[0x1C];
    tag.lastIndex = sector[0x1D];
    tag.frame = uint16_t(sector[0x1E] | sector[0x1F] << 8);
    return tag;
}

uint32_t dataBytesOf(uint64_t sectors)
{
    return uint32_t(std::min<uint64_t>(sectors * kVideoBytes, UINT32_MAX));
}

uint32_t durationOf(uint64_t frames)
{
    return uint32_t(std::min<uint64_t>(frames * 1000 / 15, UINT32_MAX));
}

void describeVideo(StrInfo* info)
{
    info->width = kWidth;
    info->height = kHeight;
    info->frameRate = kFrameRate;
}

void describeSound(StrInfo* info)
{
    info->audioFormat = 1;
    info->channels = 2;
    info->bitsPerSample = 16;
    info->sampleRate = kSampleRate;
}

// ---- probe ----------------------------------------------------------------------------------

struct Movie
{
    uint16_t kind = StrAudio;
    // The frame number + 1 of the last closed frame. Kept in 32 bits: frame 0xFFFF closes the
    // 65536th frame rather than wrapping to none.
    uint32_t frames = 0;
    uint16_t sectorsPerFrame = 0;
    uint32_t firstSector = 0;
};

struct ProbeContext
{
    std::vector<Movie> movies; // capacity grows by kItemStep
    bool following = false;
    bool frameClosed = false; // the last sector followed closed a frame
};

void endMovie(ProbeContext& probe, bool keepOpenFrame = true)
{
    if (!probe.following)
        return;
    probe.following = false;
    if (probe.movies.back().frames == 0 || (!keepOpenFrame && !probe.frameClosed))
        probe.movies.pop_back();
}

void probeSector(ProbeContext& probe, uint32_t a, const uint8_t* sector)
{
    const auto tag = parseTag(sector);
    const bool start = tag && tag->isStart();
    if (probe.following) {
        if (tag && !start) {
            Movie& movie = probe.movies.back();
            probe.frameClosed = tag->index == tag->lastIndex;
            if (probe.frameClosed)
                movie.frames = tag->frame + 1u;
            if (tag->kind == Kind::Video)
                movie.kind |= StrVideo;
            return;
        }
        endMovie(probe);
    }
    if (!start || !roomForOne(probe.movies, kItemStep))
        return; // out of memory: the start is not recorded
    Movie movie;
    movie.kind = uint16_t(StrAudio | (tag->kind == Kind::Video ? StrVideo : 0));
    movie.sectorsPerFrame = uint16_t(tag->lastIndex + 1u);
    movie.firstSector = a;
    probe.movies.push_back(movie);
    probe.following = true;
    probe.frameClosed = false;
}

void describeMovie(const Movie& m, StrInfo* info)
{
    std::memset(info, 0, sizeof *info);
    const uint32_t sectors = m.frames * m.sectorsPerFrame; // at most 65536 x 256
    info->kind = m.kind;
    info->startSector = m.firstSector;
    info->sectorCount = sectors;
    info->frameCount = m.frames;
    describeVideo(info);
    describeSound(info);
    info->durationMs = durationOf(m.frames);
    info->dataBytes = dataBytesOf(sectors);
}

int32_t describeArea(int32_t drive, uint32_t startSector, uint32_t sectorCount, StrInfo* info)
{
    SectorStream area;
    if (!info || !area.open(drive, startSector, std::min(sectorCount, kMaxFrameSectors), kHighestSpeed))
        return 0;
    uint32_t sectorsPerFrame = 0, seen = 0, wanted = kAreaSectors;
    uint16_t kind = 0;
    while (seen < wanted) {
        const uint8_t* sector = area.next();
        if (!sector)
            break;
        ++seen;
        if (const auto tag = parseTag(sector)) {
            sectorsPerFrame = tag->lastIndex + 1u;
            // A frame's sound sectors follow its video sectors: the first frame is read whole,
            // so that a movie whose video takes the first four sectors still shows its sound.
            wanted = std::max(kAreaSectors, sectorsPerFrame);
            if (tag->kind == Kind::Video)
                kind |= StrVideo;
            else if (tag->kind == Kind::Sound)
                kind |= StrAudio;
        }
        area.release(sector);
    }
    area.close();
    if (sectorsPerFrame == 0 || kind == 0)
        return 0;

    std::memset(info, 0, sizeof *info);
    info->kind = kind;
    info->startSector = startSector;
    info->sectorCount = sectorCount;
    info->frameCount = sectorCount / sectorsPerFrame;
    info->durationMs = durationOf(info->frameCount);
    if (kind & StrVideo)
        describeVideo(info);
    if (kind & StrAudio)
        describeSound(info);
    info->dataBytes = dataBytesOf(sectorCount);
    return 1;
}

// ---- streams --------------------------------------------------------------------------------

// The sound decoder's two previous samples a channel, shared by every stream of the process and
// cleared at each open and seek; the lock keeps two streams decoding at once from tearing it.
std::mutex g_historyLock;
sectorkit::SpuHistory g_history;

void clearHistory()
{
    std::lock_guard guard(g_historyLock);
    g_history.clear();
}

struct Stream
{
    SectorStream sectors; // holds the sector that ended the last unit
    uint32_t sectorsPerFrame = 0;
};

void* openStream(int32_t drive, const StrInfo& info)
{
    if (info.frameCount == 0 || info.sectorCount / info.frameCount == 0)
        return nullptr;
    auto stream = std::make_unique<Stream>();
    // A stored description may claim any ratio; a unit never spans more than a frame can.
    stream->sectorsPerFrame = std::min(info.sectorCount / info.frameCount, kMaxFrameSectors);
    if (!stream->sectors.open(drive, info.startSector, info.sectorCount, kHighestSpeed))
        return nullptr;
    clearHistory();
    return stream.release();
}

void append(PsrReadRecord* record, const uint8_t* sector, Kind unit)
{
    const size_t offset = unit == Kind::Video ? kVideoOffset : kSoundOffset;
    const uint32_t bytes = unit == Kind::Video ? kVideoBytes : kSoundBytes;
    std::memcpy(record->payload + record->payloadBytes, sector + offset, bytes);
    record->payloadBytes += bytes;
}

int32_t readUnit(Stream& stream, PsrReadRecord* record)
{
    std::memset(record, 0, PSR_READ_HEADER_BYTES);
    Kind unit = Kind::None;
    uint32_t taken = 0;
    while (taken < stream.sectorsPerFrame) {
        const uint8_t* sector = stream.sectors.takeHeld();
        if (!sector)
            sector = stream.sectors.next();
        if (!sector)
            break;
        const auto tag = parseTag(sector);
        const Kind kind = tag ? tag->kind : Kind::None;
        if (unit == Kind::None && kind == Kind::None) {
            stream.sectors.release(sector);
            continue;
        }
        if (unit == Kind::None) {
            unit = kind;
        } else if (kind != Kind::None && kind != unit) {
            stream.sectors.hold(sector);
            break;
        }
        if (kind == Kind::Video) {
            record->frameNumber = tag->frame + 1u;
            record->width = kWidth;
            record->height = kHeight;
        }
        append(record, sector, unit); // at most kMaxFrameSectors sectors of 2040 bytes
        stream.sectors.release(sector);
        ++taken;
    }
    return record->payloadBytes != 0 ? 1 : 0;
}

int32_t seekStream(Stream& stream, uint32_t positionMs)
{
    const uint64_t frame = uint64_t(positionMs) * 15 / 1000;
    const bool moved = stream.sectors.seek(frame * stream.sectorsPerFrame); // releases the held sector
    clearHistory();
    return moved ? 1 : 0;
}

// A sound unit is one whole run of each channel; anything shorter cannot be decoded without
// reading past it, and a video unit is not sound.
int32_t decodeAudio(const PsrReadRecord* record, uint8_t* output, int32_t capacity)
{
    if (!record) {
        clearHistory();
        return 0;
    }
    if (capacity < int32_t(kUnitPcmBytes))
        return int32_t(kUnitPcmBytes); // the room a unit needs; nothing decoded
    if (!output || record->frameNumber != 0 || record->payloadBytes < 2 * kSoundBytes)
        return -1;
    std::lock_guard guard(g_historyLock);
    decodeSpuStereo(record->payload, record->payload + kSoundBytes, kUnitBlocks, g_history, output);
    return int32_t(kUnitPcmBytes);
}

} // namespace

// ---- exports ----------------------------------------------------------------------------------

PSR_EXPORT int32_t PsrQueryPlugin(PsrPluginInfo* info)
{
    return tamrin::guarded<int32_t>(
        0, [&] { return describePlugin(info, "FF8 Stream", 131, 0, MediaRawSectors); });
}

PSR_EXPORT void* PsrIsSupportCDBegin(int32_t trackCount, const CdTocEntry* tracks)
{
    return tamrin::guarded<void*>(nullptr, [&]() -> void* {
        if (trackCount != 1 || !tracks || !isDataTrack(tracks[0]))
            return nullptr;
        auto probe = std::make_unique<ProbeContext>();
        probe->movies.reserve(kItemStep);
        return probe.release();
    });
}

PSR_EXPORT int32_t PsrIsSupportCDSector(void* context, CdTocEntry, uint32_t lba, const uint8_t* sector)
{
    return tamrin::guarded<int32_t>(0, [&] {
        auto* probe = static_cast<ProbeContext*>(context);
        if (!probe)
            return 0;
        if (!sector) {
            endMovie(*probe, false);
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
        if (!probe)
            return 0;
        return probeResult(probe->movies, index, info, describeMovie);
    });
}

PSR_EXPORT int32_t PsrGetStrDataInfo(int32_t drive, uint32_t startSector, uint32_t sectorCount, StrInfo* info)
{
    return tamrin::guarded<int32_t>(0, [&] { return describeArea(drive, startSector, sectorCount, info); });
}

PSR_EXPORT void* PsrOpenCD(int32_t drive, StrInfo* info)
{
    return tamrin::guarded<void*>(nullptr, [&] { return info ? openStream(drive, *info) : nullptr; });
}

PSR_EXPORT int32_t PsrDecodeAudio(PsrReadRecord* record, uint8_t* output, int32_t capacity)
{
    return tamrin::guarded<int32_t>(-1, [&] { return decodeAudio(record, output, capacity); });
}

#include "sectorkit/stream_exports.h"
