// Discmovie: movie streams written straight into the raw Mode 2 sectors of a disc: MDEC video
// frames spread over movie sectors, with XA sound sectors interleaved at a steady stride.
//
// Sector classes (raw 2352-byte sectors):
//   sound    submode has 0x40 (real time), 0x20 (Form 2) and 0x04 (audio) all set
//   movie    STR header at 0x18: header word whose low byte's high nibble is 6, type word with
//            bit 15, sector index below the frame's sector count, at most 32 sectors per frame,
//            frame number not 0, width and height not 0
//   foreign  everything else
//
// The probe follows one stream at a time. A stream starts at the first sector of frame 1 whose
// MDEC header looks right; it goes on over movie sectors with its type word and sound sectors
// of its first sound sector's file/channel/coding, tolerates foreign sectors up to one sound
// stride (32 sectors without sound) after its last sector, and ends at a larger gap, at any
// sector with the end-of-file bit, or at the next stream start. A stream that ended is taken up
// again by a movie sector of its last frame or the next one, so the end of a file of another
// channel inside a movie does not cut it.
//
// Units: one whole frame (MDEC data from its header on), or the 2304 data bytes of one sound
// sector, or, after a frame, the sound sectors met inside it (up to eight) as one unit.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "discport/discport.h"
#include "sectorkit/plugin_info.h"
#include "sectorkit/rate_guess.h"
#include "sectorkit/str_sector.h"
#include "streamkit/psr.h"

namespace {

using namespace sectorkit;

constexpr uint32_t kMaxFrameSectors = 32;
constexpr uint32_t kFrameBytesPerSector = 1008 * 2;
// The largest unit: a frame of 32 sectors. Eight parked sound sectors (18432 bytes) fit too.
constexpr uint32_t kMaxPayload = kMaxFrameSectors * kFrameBytesPerSector;
constexpr uint32_t kParkedSlots = 8;
constexpr uint32_t kCandidateStep = 10;
// Gap of foreign sectors a stream without sound tolerates.
constexpr uint32_t kDefaultGapLimit = 32;
// Sectors the area description looks at.
constexpr uint32_t kAreaSectors = 300;
constexpr int32_t kStreamSpeed = 8;
constexpr int32_t kHighestSpeed = -1;
// Header position when neither 0x3800 nor 0x3000 occurs in the first 24 words.
constexpr uint32_t kNoHeaderPosition = kMdecSearchWords;

enum class SectorClass
{
    Sound,
    Movie,
    Foreign,
};

uint8_t submodeOf(const uint8_t* sector)
{
    return sector[18];
}

bool isSoundSector(const uint8_t* sector)
{
    return (submodeOf(sector) & 0x64) == 0x64;
}

SectorClass classify(const uint8_t* sector, StrSectorHeader& movie)
{
    if (isSoundSector(sector))
        return SectorClass::Sound;
    const auto header = parseStrSectorHeader(sector, kRawSectorBytes);
    if (!header || (header->magic & 0xF0) != 0x60 || !(header->type & kStrTypeMovie) ||
        header->sectorInFrame >= header->sectorsInFrame || header->sectorsInFrame > kMaxFrameSectors ||
        header->frameNumber == 0 || header->width == 0 || header->height == 0)
        return SectorClass::Foreign;
    movie = *header;
    // A stored size of 0 reads as 1008 bytes a sector.
    if (movie.frameBytes == 0)
        movie.frameBytes = uint32_t(movie.sectorsInFrame) * 1008;
    return SectorClass::Movie;
}

uint32_t headerPosition(const uint8_t* sector)
{
    return findMdecHeaderWord(sector, kRawSectorBytes).value_or(kNoHeaderPosition);
}

uint16_t wordAt(const uint8_t* sector, size_t offset)
{
    uint16_t value = 0;
    readU16(sector, kRawSectorBytes, offset, value);
    return value;
}

// The first sector of frame 1 of a stream: an MDEC header found among the first words, whose
// fourth word (the bitstream version) is below the height, or whose third and fourth words
// repeat the picture size.
bool isStreamStart(const uint8_t* sector, const StrSectorHeader& movie)
{
    if (movie.sectorInFrame != 0 || movie.frameNumber != 1)
        return false;
    const uint32_t p = headerPosition(sector);
    if (p >= kNoHeaderPosition)
        return false;
    const uint16_t third = wordAt(sector, 60 + 2 * size_t(p));
    const uint16_t fourth = wordAt(sector, 62 + 2 * size_t(p));
    return fourth < movie.height || (third == movie.width && fourth == movie.height);
}

// File, channel, submode without the end-of-file bit, coding.
uint32_t soundKey(const uint8_t* sector)
{
    return uint32_t(sector[16]) | uint32_t(sector[17]) << 8 | uint32_t(sector[18] & 0x7F) << 16 |
           uint32_t(sector[19]) << 24;
}

uint8_t codingOfKey(uint32_t key)
{
    return uint8_t(key >> 24);
}

uint32_t saturatingAdd(uint32_t a, uint32_t b)
{
    return a > UINT32_MAX - b ? UINT32_MAX : a + b;
}

// ---- probe ----------------------------------------------------------------------------------

struct Candidate
{
    uint32_t firstSector = 0;
    uint32_t lastVideoSector = 0;
    uint32_t firstAudioSector = 0;
    uint32_t lastAudioSector = 0;
    uint32_t audioKey = 0;
    uint32_t audioStride = 0;
    uint32_t audioCount = 0;
    uint32_t lastFrameNumber = 1;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t steadyAudioCount = 0;
    uint32_t steadyFrameNumber = 0;
    uint32_t dataBytes = 0;
    uint16_t type = 0;
    uint16_t fewestFrameSectors = 0xFFFF;
    uint16_t mostFrameSectors = 0;
    // The stream's own sound ended with the end-of-file bit: sound of the same key that comes
    // after it belongs to another file, not to this movie.
    bool soundEnded = false;

    bool hasAudio() const { return audioCount != 0; }
};

struct ProbeContext
{
    bool active = false;
    uint32_t lastFrameStart = 0;
    uint32_t audioSinceFrameStart = 0;
    std::vector<Candidate> candidates; // capacity grows by kCandidateStep
};

void endStream(ProbeContext& probe)
{
    if (!probe.active)
        return;
    probe.active = false;
    const Candidate& cur = probe.candidates.back();
    if (cur.lastFrameNumber == 1 || (cur.hasAudio() && cur.audioStride == 0))
        probe.candidates.pop_back();
}

void startStream(ProbeContext& probe, uint32_t a, const StrSectorHeader& movie)
{
    if (probe.candidates.size() == probe.candidates.capacity()) {
        try {
            probe.candidates.reserve(probe.candidates.capacity() + kCandidateStep);
        } catch (const std::bad_alloc&) {
            return; // the stream is not recorded; the probe goes on
        }
    }
    Candidate c;
    c.firstSector = a;
    c.lastVideoSector = a;
    c.width = movie.width;
    c.height = movie.height;
    c.dataBytes = movie.frameBytes;
    c.type = movie.type;
    probe.candidates.push_back(c);
    probe.active = true;
    probe.lastFrameStart = a;
    probe.audioSinceFrameStart = 0;
}

void followMovieSector(ProbeContext& probe, uint32_t a, const StrSectorHeader& movie)
{
    Candidate& cur = probe.candidates.back();
    if (movie.type != cur.type) {
        probe.candidates.pop_back();
        probe.active = false;
        return;
    }
    cur.lastVideoSector = a;
    if (movie.sectorInFrame == 0) {
        cur.lastFrameNumber = movie.frameNumber;
        cur.width = std::max<uint32_t>(cur.width, movie.width);
        cur.height = std::max<uint32_t>(cur.height, movie.height);
        const uint16_t n = uint16_t(a - probe.audioSinceFrameStart - probe.lastFrameStart);
        cur.fewestFrameSectors = std::min(cur.fewestFrameSectors, n);
        cur.mostFrameSectors = std::max(cur.mostFrameSectors, n);
        cur.dataBytes = saturatingAdd(cur.dataBytes, movie.frameBytes);
        probe.lastFrameStart = a;
        probe.audioSinceFrameStart = 0;
    }
    if (cur.hasAudio() && a - cur.lastAudioSector < cur.audioStride) {
        cur.steadyAudioCount = cur.audioCount;
        cur.steadyFrameNumber = cur.lastFrameNumber;
    }
}

void followSoundSector(ProbeContext& probe, uint32_t a, uint32_t key)
{
    Candidate& cur = probe.candidates.back();
    if (cur.audioCount == 0) {
        cur.firstAudioSector = a;
        cur.audioStride = a - cur.firstSector;
        cur.audioKey = key;
    } else if (cur.audioCount == 1) {
        cur.audioStride = a - cur.firstAudioSector;
    }
    cur.lastAudioSector = a;
    cur.dataBytes = saturatingAdd(cur.dataBytes, uint32_t(kXaAudioDataBytes));
    ++cur.audioCount;
    ++probe.audioSinceFrameStart;
}

// A foreign sector while a stream is followed: skipped within the gap limit, else the end.
// One with the end-of-file bit is not measured; the bit ends the stream like any other's.
void followForeignSector(ProbeContext& probe, uint32_t a, const uint8_t* sector)
{
    const Candidate& cur = probe.candidates.back();
    if (submodeOf(sector) & kSubmodeEndOfFile)
        return endStream(probe);
    const uint32_t last = std::max(cur.lastVideoSector, cur.lastAudioSector);
    const uint32_t limit =
        cur.firstAudioSector != 0 && cur.audioStride != 0 ? cur.audioStride : kDefaultGapLimit;
    if (a - last <= limit)
        return;
    endStream(probe);
}

void probeSector(ProbeContext& probe, uint32_t a, const uint8_t* sector)
{
    StrSectorHeader movie;
    SectorClass kind = classify(sector, movie);
    bool start = false;
    if (kind == SectorClass::Movie && movie.sectorInFrame == 0 && movie.frameNumber == 1) {
        start = isStreamStart(sector, movie);
        if (!start)
            kind = SectorClass::Foreign;
    }

    if (start) {
        endStream(probe);
        startStream(probe, a, movie);
    } else if (!probe.active) {
        if (kind != SectorClass::Movie || probe.candidates.empty())
            return;
        const uint32_t last = probe.candidates.back().lastFrameNumber;
        if (movie.frameNumber != last && movie.frameNumber != last + 1)
            return;
        probe.active = true;
    }
    if (!probe.active)
        return; // a start that could not be recorded

    if (!start) {
        const uint32_t key = soundKey(sector);
        const Candidate& cur = probe.candidates.back();
        if (kind == SectorClass::Sound && cur.hasAudio() && (key != cur.audioKey || cur.soundEnded))
            kind = SectorClass::Foreign;
        switch (kind) {
        case SectorClass::Foreign:
            followForeignSector(probe, a, sector);
            return;
        case SectorClass::Movie:
            followMovieSector(probe, a, movie);
            break;
        case SectorClass::Sound:
            followSoundSector(probe, a, key);
            break;
        }
    }
    if (probe.active && (submodeOf(sector) & kSubmodeEndOfFile)) {
        if (kind == SectorClass::Sound)
            probe.candidates.back().soundEnded = true;
        endStream(probe);
    }
}

void describeCandidate(const Candidate& c, StrInfo* info)
{
    std::memset(info, 0, sizeof *info);
    info->kind = StrVideo;
    info->startSector = c.firstSector;
    info->sectorCount = std::max(c.lastVideoSector, c.lastAudioSector) - c.firstSector + 1;
    info->frameCount = c.lastFrameNumber;
    info->width = c.width;
    info->height = c.height;
    uint16_t rate = rateFromSizeAndSectors(c.width, c.height, c.fewestFrameSectors, c.mostFrameSectors);
    info->frameRate = rate;
    info->durationMs = uint32_t(uint64_t(info->frameCount) * 10000 / rate);
    info->dataBytes = c.dataBytes;
    if (!c.hasAudio())
        return;

    const uint8_t coding = codingOfKey(c.audioKey);
    info->kind = StrVideo | StrAudio;
    info->audioFormat = 1;
    info->bitsPerSample = 16;
    info->channels = xaChannels(coding);
    info->sampleRate = xaSampleRate(coding);
    const uint32_t soundMs = xaAudioMs(c.steadyAudioCount, info->sampleRate, info->channels);
    const int64_t soundRate = soundMs == 0 ? rate : int64_t(c.steadyFrameNumber) * 10000 / soundMs;
    if (std::abs(int64_t(rate) - soundRate) > 20) {
        if (int32_t(c.mostFrameSectors) - int32_t(c.fewestFrameSectors) <= 3) {
            rate = uint16_t(std::min<int64_t>((soundRate + 2) / 5 * 5, 65535));
        } else {
            info->kind |= StrTimed;
            rate = rateFromSizeAndSectors(c.width, c.height, c.fewestFrameSectors, c.fewestFrameSectors);
        }
    }
    rate = std::max<uint16_t>(rate, 50);
    info->frameRate = rate;
    const uint64_t videoMs = uint64_t(info->frameCount) * 10000 / rate;
    const uint32_t allSoundMs = xaAudioMs(c.audioCount, info->sampleRate, info->channels);
    info->durationMs = uint32_t(std::min<uint64_t>(std::max<uint64_t>(videoMs, allSoundMs), UINT32_MAX));
}

// ---- streams --------------------------------------------------------------------------------

struct Stream
{
    CdReadHandle* reader = nullptr;
    StrInfo info{};
    uint32_t audioStride = 0;
    // Sound of the stream: the key of its first sound sector (0 when it has none or it was not
    // found); sound sectors of other channels are passed over.
    uint32_t soundKey = 0;
    bool haveSoundKey = false;
    const uint8_t* parked[kParkedSlots] = {};
};

void releaseParked(Stream& stream)
{
    for (const uint8_t*& sector : stream.parked) {
        if (sector)
            CdUnlockReadBuffer(stream.reader, sector);
        sector = nullptr;
    }
}

bool hasParked(const Stream& stream)
{
    return std::any_of(std::begin(stream.parked), std::end(stream.parked),
                       [](const uint8_t* s) { return s; });
}

// Hands the parked sound sectors out as one unit, in the order they were met.
int32_t deliverParked(Stream& stream, PsrReadRecord* record)
{
    std::memset(record, 0, PSR_READ_HEADER_BYTES);
    for (const uint8_t*& sector : stream.parked) {
        if (!sector)
            continue;
        std::memcpy(record->payload + record->payloadBytes, sector + kXaAudioDataOffset, kXaAudioDataBytes);
        record->payloadBytes += uint32_t(kXaAudioDataBytes);
        CdUnlockReadBuffer(stream.reader, sector);
        sector = nullptr;
    }
    return 1;
}

void park(Stream& stream, const uint8_t* sector)
{
    for (const uint8_t*& slot : stream.parked) {
        if (!slot) {
            slot = sector;
            return;
        }
    }
    CdUnlockReadBuffer(stream.reader, sector); // all places taken: lost
}

bool isOwnSound(const Stream& stream, const uint8_t* sector)
{
    return !stream.haveSoundKey || soundKey(sector) == stream.soundKey;
}

// Finds the stream's sound stride (distance of its first two sound sectors, counted from 1 at
// the first sector) and sound key, then goes back to the start.
void findSoundStride(Stream& stream)
{
    uint32_t ordinal = 0, first = 0;
    for (;;) {
        const uint8_t* sector = CdReadSector(stream.reader, nullptr);
        if (!sector)
            break;
        ++ordinal;
        const bool sound = isSoundSector(sector);
        const uint32_t key = soundKey(sector);
        CdUnlockReadBuffer(stream.reader, sector);
        if (!sound || (stream.haveSoundKey && key != stream.soundKey))
            continue;
        if (first == 0) {
            first = ordinal;
            stream.soundKey = key;
            stream.haveSoundKey = true;
            continue;
        }
        stream.audioStride = ordinal - first;
        break;
    }
    if (stream.audioStride == 0)
        stream.audioStride = first;
    CdSetReadPointer(stream.reader, 0, 0);
}

} // namespace

// ---- exports ----------------------------------------------------------------------------------

PSR_EXPORT int32_t PsrQueryPlugin(PsrPluginInfo* info)
{
    return sectorkit::describePlugin(info, "STR CD-ROM", 142, 102, MediaRawSectors);
}

PSR_EXPORT void* PsrIsSupportCDBegin(int32_t trackCount, const CdTocEntry* tracks)
{
    if (!hasDataTrack(tracks, trackCount))
        return nullptr;
    auto* probe = new (std::nothrow) ProbeContext;
    if (!probe)
        return nullptr;
    try {
        probe->candidates.reserve(kCandidateStep);
    } catch (const std::bad_alloc&) {
        delete probe;
        return nullptr;
    }
    return probe;
}

PSR_EXPORT int32_t PsrIsSupportCDSector(void* context, CdTocEntry track, uint32_t lba, const uint8_t* sector)
{
    auto* probe = static_cast<ProbeContext*>(context);
    if (!probe || !isDataTrack(track))
        return 0;
    if (!sector) {
        endStream(*probe);
        return 0;
    }
    probeSector(*probe, lba, sector);
    return 1;
}

PSR_EXPORT int32_t PsrIsSupportCDResult(void* context, int32_t index, StrInfo* info)
{
    const auto* probe = static_cast<const ProbeContext*>(context);
    if (!probe)
        return 0;
    const int32_t count = int32_t(probe->candidates.size());
    if (!info)
        return count;
    if (index < 0 || index >= count)
        return -1;
    describeCandidate(probe->candidates[size_t(index)], info);
    return count;
}

PSR_EXPORT void PsrIsSupportCDEnd(void* context)
{
    delete static_cast<ProbeContext*>(context);
}

PSR_EXPORT int32_t PsrGetStrDataInfo(int32_t drive, uint32_t startSector, uint32_t sectorCount, StrInfo* info)
{
    if (!info || sectorCount == 0)
        return 0;
    CdReadHandle* reader =
        CdReadOpen(drive, nullptr, startSector, std::min(sectorCount, kAreaSectors), kHighestSpeed);
    if (!reader)
        return 0;
    uint32_t sound = 0, movie = 0, frame = 0, width = 0, height = 0;
    uint8_t coding = 0;
    while (const uint8_t* sector = CdReadSector(reader, nullptr)) {
        StrSectorHeader fields;
        switch (classify(sector, fields)) {
        case SectorClass::Sound:
            ++sound;
            coding = sector[19];
            break;
        case SectorClass::Movie:
            ++movie;
            if (wordAt(sector, 0x18) != 0 && fields.sectorInFrame == 0) {
                frame = fields.frameNumber;
                width = fields.width;
                height = fields.height;
            }
            break;
        case SectorClass::Foreign:
            break;
        }
        CdUnlockReadBuffer(reader, sector);
    }
    CdReadClose(reader);
    if (movie == 0 || frame == 0)
        return 0;

    std::memset(info, 0, sizeof *info);
    info->kind = StrVideo;
    info->startSector = startSector;
    info->sectorCount = sectorCount;
    info->width = width;
    info->height = height;
    info->frameCount =
        uint32_t(std::min<uint64_t>(uint64_t(sectorCount) * frame / (sound + movie), UINT32_MAX));
    const uint32_t perFrame = movie / frame;
    const uint32_t perFrameUp = (movie + frame - 1) / frame;
    uint16_t rate = rateFromSizeAndSectors(width, height, perFrame, perFrameUp);
    if (sound != 0) {
        info->kind |= StrAudio;
        info->audioFormat = 1;
        info->bitsPerSample = 16;
        info->channels = xaChannels(coding);
        info->sampleRate = xaSampleRate(coding);
        rate = reconcileRateWithSound(rate, frame, xaAudioMs(sound, info->sampleRate, info->channels));
    }
    info->frameRate = rate;
    info->durationMs = uint32_t(std::min<uint64_t>(uint64_t(info->frameCount) * 10000 / rate, UINT32_MAX));
    return 1;
}

PSR_EXPORT void* PsrOpenCD(int32_t drive, StrInfo* info)
{
    if (!info || info->sectorCount == 0 || info->sectorCount > uint32_t(INT32_MAX))
        return nullptr;
    CdReadHandle* reader = CdReadOpen(drive, nullptr, info->startSector, info->sectorCount, kStreamSpeed);
    if (!reader)
        return nullptr;
    auto* stream = new (std::nothrow) Stream;
    if (!stream) {
        CdReadClose(reader);
        return nullptr;
    }
    stream->reader = reader;
    stream->info = *info;
    if (info->kind & StrAudio)
        findSoundStride(*stream);
    return stream;
}

PSR_EXPORT int32_t PsrRead(void* handle, PsrReadRecord* record)
{
    auto* stream = static_cast<Stream*>(handle);
    if (!stream || !record)
        return 0;
    std::memset(record, 0, PSR_READ_HEADER_BYTES);
    if (hasParked(*stream))
        return deliverParked(*stream, record);

    bool frameStarted = false;
    uint32_t remaining = 0;
    for (;;) {
        const uint8_t* sector = CdReadSector(stream->reader, nullptr);
        if (!sector) {
            record->payloadBytes = 0; // a partial frame is dropped
            return 0;
        }
        StrSectorHeader movie;
        switch (classify(sector, movie)) {
        case SectorClass::Sound:
            if (!isOwnSound(*stream, sector))
                break;
            if (!frameStarted) {
                std::memset(record, 0, PSR_READ_HEADER_BYTES);
                std::memcpy(record->payload, sector + kXaAudioDataOffset, kXaAudioDataBytes);
                record->payloadBytes = uint32_t(kXaAudioDataBytes);
                CdUnlockReadBuffer(stream->reader, sector);
                return 1;
            }
            park(*stream, sector);
            continue;
        case SectorClass::Movie: {
            uint32_t p = 0;
            if (movie.sectorInFrame == 0) {
                // A new frame; whatever a frame without its last sector left is dropped.
                frameStarted = true;
                record->frameNumber = movie.frameNumber;
                record->width = movie.width;
                record->height = movie.height;
                record->payloadBytes = 0;
                remaining = movie.frameBytes;
                p = headerPosition(sector);
            }
            if (remaining != 0) {
                uint32_t bytes = std::min((1008 - p) * 2, remaining);
                bytes = std::min(bytes, kMaxPayload - record->payloadBytes);
                std::memcpy(record->payload + record->payloadBytes, sector + kStrDataOffset + 2 * p, bytes);
                record->payloadBytes += bytes;
                remaining -= std::min((1008 - p) * 2, remaining);
            }
            if (frameStarted && movie.sectorInFrame == movie.sectorsInFrame - 1) {
                if (stream->info.kind & StrTimed)
                    record->param =
                        rateFromSizeAndSectors(record->width, record->height, movie.sectorsInFrame - 1u, movie.sectorsInFrame);
                CdUnlockReadBuffer(stream->reader, sector);
                return 1;
            }
            break;
        }
        case SectorClass::Foreign:
            std::memset(record, 0, PSR_READ_HEADER_BYTES);
            frameStarted = false;
            remaining = 0;
            if (hasParked(*stream)) {
                CdUnlockReadBuffer(stream->reader, sector);
                return deliverParked(*stream, record);
            }
            break;
        }
        CdUnlockReadBuffer(stream->reader, sector);
    }
}

PSR_EXPORT int32_t PsrSeek(void* handle, uint32_t positionMs)
{
    auto* stream = static_cast<Stream*>(handle);
    if (!stream)
        return 0;
    releaseParked(*stream);
    const StrInfo& info = stream->info;
    double sector = 0;
    if ((info.kind & StrAudio) && stream->audioStride != 0 && info.channels != 0) {
        sector = double(info.sampleRate / 100) * (double(stream->audioStride) * positionMs) /
                 (40320.0 / info.channels);
    } else if (info.frameCount != 0) {
        sector = double(uint64_t(positionMs) * info.frameRate / 10000 * info.sectorCount / info.frameCount);
    }
    const uint32_t target = sector >= info.sectorCount ? info.sectorCount : uint32_t(sector);
    return CdSetReadPointer(stream->reader, int32_t(target), 0) < 0 ? 0 : 1;
}

PSR_EXPORT int32_t PsrClose(void* handle)
{
    auto* stream = static_cast<Stream*>(handle);
    if (!stream)
        return 0;
    releaseParked(*stream);
    CdReadClose(stream->reader);
    delete stream;
    return 1;
}
