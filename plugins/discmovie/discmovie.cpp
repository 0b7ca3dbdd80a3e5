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
// MDEC header looks right, or at a sound sector of the movie's own file and channel right before
// it (authoring tools put a sound sector first), unless another stream took that sector; it goes on over
// movie sectors with its type word and sound sectors of its first sound sector's file/channel/coding,
// tolerates foreign sectors up to one sound stride (32 sectors without sound) after its last sector, and ends
// at a larger gap, at any sector with the end-of-file bit, or at the next stream start. A stream that ended
// is taken up again by a movie sector of its last frame or the next one, so the end of a file of another
// channel inside a movie does not cut it.
//
// Units: one whole frame (MDEC data from its header on), or the 2304 data bytes of one sound
// sector, or, after a frame, the sound sectors met inside it (up to eight) as one unit.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "sectorkit/frame_assembly.h"
#include "sectorkit/plugin_info.h"
#include "sectorkit/rate_guess.h"
#include "sectorkit/sector_stream.h"
#include "sectorkit/str_sector.h"
#include "streamkit/psr.h"
#include "tamrin_common/c_guard.h"

namespace {

using namespace sectorkit;

constexpr uint32_t kFrameBytesPerSector = 1008 * 2;
// The largest unit: a frame of 32 sectors. Eight held sound sectors (18432 bytes) fit too.
constexpr uint32_t kMaxPayload = kMaxMovieFrameSectors * kFrameBytesPerSector;
constexpr uint32_t kCandidateStep = 10;
// Gap of foreign sectors a stream without sound tolerates.
constexpr uint32_t kDefaultGapLimit = 32;
// Sectors the area description looks at.
constexpr uint32_t kAreaSectors = 300;
constexpr int32_t kStreamSpeed = 8;

enum class SectorClass
{
    Sound,
    Movie,
    Foreign,
};

SectorClass classify(const uint8_t* sector, StrSectorHeader& movie)
{
    if (hasSoundBits(submodeOf(sector)))
        return SectorClass::Sound;
    const auto header = parseMovieSector(sector, kRawSectorBytes);
    if (!header)
        return SectorClass::Foreign;
    movie = *header;
    return SectorClass::Movie;
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
    const uint32_t p = headerPosition(sector, kRawSectorBytes);
    if (p >= kNoHeaderPosition)
        return false;
    const uint16_t third = wordAt(sector, 60 + 2 * size_t(p));
    const uint16_t fourth = wordAt(sector, 62 + 2 * size_t(p));
    return fourth < movie.height || (third == movie.width && fourth == movie.height);
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
    SoundKey audioKey = 0;
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

// What the probe keeps of the sector before the current one.
struct PreviousSector
{
    uint32_t lba = 0;
    SoundKey key = 0;
    bool sound = false;
    bool endOfFile = false;
    bool taken = false; // part of a stream
    bool valid = false;
};

struct ProbeContext
{
    bool active = false;
    uint32_t lastFrameStart = 0;
    uint32_t audioSinceFrameStart = 0;
    std::vector<Candidate> candidates; // capacity grows by kCandidateStep
    PreviousSector previous;
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

void followSoundSector(ProbeContext& probe, uint32_t a, SoundKey key)
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

// Whether the sector before a stream start at `a` is sound of the stream: a sound sector of the
// movie's own file and channel, right before it, that no other stream took and that does not end
// a file. Sound comes at most once a stride, so there is never more than one such sector.
bool soundLeadsInto(const ProbeContext& probe, uint32_t a, const uint8_t* startSector)
{
    const PreviousSector& p = probe.previous;
    return a > 0 && p.valid && p.lba == a - 1 && p.sound && !p.taken && !p.endOfFile &&
           keyFileChannel(p.key) == keyFileChannel(soundKey(startSector));
}

void startStream(ProbeContext& probe, uint32_t a, const uint8_t* sector, const StrSectorHeader& movie)
{
    if (!roomForOne(probe.candidates, kCandidateStep))
        return; // the stream is not recorded; the probe goes on
    const bool lead = soundLeadsInto(probe, a, sector);
    Candidate c;
    c.firstSector = lead ? a - 1 : a;
    c.lastVideoSector = a;
    c.width = movie.width;
    c.height = movie.height;
    c.dataBytes = movie.frameBytes;
    c.type = movie.type;
    probe.candidates.push_back(c);
    probe.active = true;
    if (lead) {
        followSoundSector(probe, a - 1, probe.previous.key);
        probe.previous.taken = true;
    }
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

// A foreign sector while a stream is followed: skipped within the gap limit, else the end.
// One with the end-of-file bit is not measured; the bit ends the stream like any other's.
void followForeignSector(ProbeContext& probe, uint32_t a, const uint8_t* sector)
{
    const Candidate& cur = probe.candidates.back();
    if (hasEndOfFile(sector))
        return endStream(probe);
    const uint32_t last = std::max(cur.lastVideoSector, cur.lastAudioSector);
    const uint32_t limit =
        cur.firstAudioSector != 0 && cur.audioStride != 0 ? cur.audioStride : kDefaultGapLimit;
    if (a - last <= limit)
        return;
    endStream(probe);
}

// Follows the stream with one sector; true when the sector became part of it.
bool followSector(ProbeContext& probe, uint32_t a, const uint8_t* sector)
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
        startStream(probe, a, sector, movie);
    } else if (!probe.active) {
        if (kind != SectorClass::Movie || probe.candidates.empty())
            return false;
        const uint32_t last = probe.candidates.back().lastFrameNumber;
        if (movie.frameNumber != last && movie.frameNumber != last + 1)
            return false;
        probe.active = true;
    }
    if (!probe.active)
        return false; // a start that could not be recorded

    if (!start) {
        const SoundKey key = soundKey(sector);
        const Candidate& cur = probe.candidates.back();
        if (kind == SectorClass::Sound && cur.hasAudio() && (key != cur.audioKey || cur.soundEnded))
            kind = SectorClass::Foreign;
        switch (kind) {
        case SectorClass::Foreign:
            followForeignSector(probe, a, sector);
            return false;
        case SectorClass::Movie:
            followMovieSector(probe, a, movie);
            break;
        case SectorClass::Sound:
            followSoundSector(probe, a, key);
            break;
        }
    }
    const bool taken = probe.active;
    if (probe.active && hasEndOfFile(sector)) {
        if (kind == SectorClass::Sound)
            probe.candidates.back().soundEnded = true;
        endStream(probe);
    }
    return taken;
}

void probeSector(ProbeContext& probe, uint32_t a, const uint8_t* sector)
{
    const bool taken = followSector(probe, a, sector);
    PreviousSector& r = probe.previous;
    r.lba = a;
    r.key = soundKey(sector);
    r.sound = hasSoundBits(submodeOf(sector));
    r.endOfFile = hasEndOfFile(sector);
    r.taken = taken;
    r.valid = true;
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

    info->kind = StrVideo | StrAudio;
    describeXaSound(info, keyCoding(c.audioKey));
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

int32_t describeArea(int32_t drive, uint32_t startSector, uint32_t sectorCount, StrInfo* info)
{
    SectorStream area;
    if (!info || !area.open(drive, startSector, std::min(sectorCount, kAreaSectors), kHighestSpeed))
        return 0;
    uint32_t sound = 0, movie = 0, frame = 0, width = 0, height = 0;
    uint8_t coding = 0;
    while (const uint8_t* sector = area.next()) {
        StrSectorHeader fields;
        switch (classify(sector, fields)) {
        case SectorClass::Sound:
            ++sound;
            coding = keyCoding(soundKey(sector));
            break;
        case SectorClass::Movie:
            ++movie;
            if (fields.sectorInFrame == 0) {
                frame = fields.frameNumber;
                width = fields.width;
                height = fields.height;
            }
            break;
        case SectorClass::Foreign:
            break;
        }
        area.release(sector);
    }
    area.close();
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
        describeXaSound(info, coding);
        rate = reconcileRateWithSound(rate, frame, xaAudioMs(sound, info->sampleRate, info->channels));
    }
    info->frameRate = rate;
    info->durationMs = uint32_t(std::min<uint64_t>(uint64_t(info->frameCount) * 10000 / rate, UINT32_MAX));
    return 1;
}

// ---- streams --------------------------------------------------------------------------------

struct Stream
{
    SectorStream sectors; // holds the sound met inside a frame (up to eight sectors)
    StrInfo info{};
    uint32_t audioStride = 0;
    // Sound of the stream: the key of its first sound sector; sound sectors of other channels
    // are passed over.
    SoundKey soundKey = 0;
    bool haveSoundKey = false;

    bool isOwnSound(const uint8_t* sector) const
    {
        return !haveSoundKey || sectorkit::soundKey(sector) == soundKey;
    }
};

// Finds the stream's sound stride (distance of its first two sound sectors, counted from 1 at
// the first sector) and sound key, then goes back to the start.
void findSoundStride(Stream& stream)
{
    uint32_t ordinal = 0, first = 0;
    while (const uint8_t* sector = stream.sectors.next()) {
        ++ordinal;
        const bool sound = hasSoundBits(submodeOf(sector));
        const SoundKey key = soundKey(sector);
        stream.sectors.release(sector);
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
    stream.sectors.seek(0);
}

int32_t readUnit(Stream& stream, PsrReadRecord* record)
{
    std::memset(record, 0, PSR_READ_HEADER_BYTES);
    if (stream.sectors.anyHeld()) {
        deliverHeldSound(stream.sectors, record, kMaxPayload);
        return 1;
    }
    FrameAssembly frame;
    while (const uint8_t* sector = stream.sectors.next()) {
        StrSectorHeader movie;
        switch (classify(sector, movie)) {
        case SectorClass::Sound:
            if (!stream.isOwnSound(sector))
                break;
            if (!frame.started()) {
                std::memset(record, 0, PSR_READ_HEADER_BYTES);
                appendSound(record, sector, kMaxPayload);
                stream.sectors.release(sector);
                return 1;
            }
            stream.sectors.hold(sector); // lost when eight are held already
            continue;
        case SectorClass::Movie:
            if (frame.add(record, sector, movie, kMaxPayload)) {
                if (stream.info.kind & StrTimed)
                    record->param = rateFromSizeAndSectors(record->width, record->height,
                                                           movie.sectorsInFrame - 1u, movie.sectorsInFrame);
                stream.sectors.release(sector);
                return 1;
            }
            break;
        case SectorClass::Foreign:
            std::memset(record, 0, PSR_READ_HEADER_BYTES);
            frame.reset();
            if (stream.sectors.anyHeld()) {
                stream.sectors.release(sector);
                deliverHeldSound(stream.sectors, record, kMaxPayload);
                return 1;
            }
            break;
        }
        stream.sectors.release(sector);
    }
    record->payloadBytes = 0; // a partial frame is dropped
    return 0;
}

int32_t seekStream(Stream& stream, uint32_t positionMs)
{
    const StrInfo& info = stream.info;
    double sector = 0;
    if ((info.kind & StrAudio) && stream.audioStride != 0 && info.channels != 0) {
        sector = double(info.sampleRate / 100) * (double(stream.audioStride) * positionMs) /
                 (40320.0 / info.channels);
    } else if (info.frameCount != 0) {
        sector = double(uint64_t(positionMs) * info.frameRate / 10000 * info.sectorCount / info.frameCount);
    }
    const uint64_t target = sector >= double(info.sectorCount) ? info.sectorCount : uint64_t(sector);
    return stream.sectors.seek(target) ? 1 : 0;
}

} // namespace

// ---- exports ----------------------------------------------------------------------------------

PSR_EXPORT int32_t PsrQueryPlugin(PsrPluginInfo* info)
{
    return tamrin::guarded<int32_t>(
        0, [&] { return describePlugin(info, "STR CD-ROM", 142, 102, MediaRawSectors); });
}

PSR_EXPORT void* PsrIsSupportCDBegin(int32_t trackCount, const CdTocEntry* tracks)
{
    return tamrin::guarded<void*>(nullptr, [&]() -> void* {
        if (!hasDataTrack(tracks, trackCount))
            return nullptr;
        auto probe = std::make_unique<ProbeContext>();
        probe->candidates.reserve(kCandidateStep);
        return probe.release();
    });
}

PSR_EXPORT int32_t PsrIsSupportCDSector(void* context, CdTocEntry track, uint32_t lba, const uint8_t* sector)
{
    return tamrin::guarded<int32_t>(0, [&] {
        auto* probe = static_cast<ProbeContext*>(context);
        if (!probe || !isDataTrack(track))
            return 0;
        if (!sector) {
            endStream(*probe);
            probe->previous.valid = false;
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
        return probeResult(probe->candidates, index, info, describeCandidate);
    });
}

PSR_EXPORT void PsrIsSupportCDEnd(void* context)
{
    tamrin::guardedVoid([&] { delete static_cast<ProbeContext*>(context); });
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
        if (!stream->sectors.open(drive, info->startSector, info->sectorCount, kStreamSpeed))
            return nullptr;
        stream->info = *info;
        if (info->kind & StrAudio)
            findSoundStride(*stream);
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
        return stream ? seekStream(*stream, positionMs) : 0;
    });
}

PSR_EXPORT int32_t PsrClose(void* handle)
{
    return tamrin::guarded<int32_t>(0, [&] {
        auto* stream = static_cast<Stream*>(handle);
        if (!stream)
            return 0;
        delete stream; // releases the held sectors and closes the reader
        return 1;
    });
}
