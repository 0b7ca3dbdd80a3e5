// The probe, the results and the area description of the disc movie engine (disc_movie.h).
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "sectorkit/disc_movie.h"
#include "sectorkit/plugin_info.h"
#include "sectorkit/rate_guess.h"
#include "sectorkit/sector_stream.h"

namespace sectorkit {

namespace {

constexpr uint32_t kCandidateStep = 10;
// Gap of foreign sectors a stream without sound (or of a format whose gap is fixed) tolerates.
constexpr uint32_t kDefaultGapLimit = 32;
// Sectors the area description looks at.
constexpr uint32_t kAreaSectors = 300;

uint32_t saturatingAdd(uint32_t a, uint32_t b)
{
    return a > UINT32_MAX - b ? UINT32_MAX : a + b;
}

struct Candidate
{
    uint32_t firstSector = 0;
    uint32_t lastVideoSector = 0;
    uint32_t firstAudioSector = 0;
    uint32_t lastAudioSector = 0;
    SoundKey audioKey = 0;
    uint32_t audioStride = 0;
    uint32_t audioCount = 0;
    // The last frame number seen, or the movie's total for formats that state it.
    uint32_t lastFrameNumber = 1;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t steadyAudioCount = 0;
    uint32_t steadyFrameNumber = 0;
    uint32_t dataBytes = 0;
    uint16_t type = 0;
    uint16_t fewestFrameSectors = 0xFFFF;
    uint16_t mostFrameSectors = 0;
    // The stream's own sound ended with a sector that ends streams: sound of the same key that
    // comes after it belongs to another file, not to this movie.
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

// The sound a stream took after its last movie sector, while its video may still go on. Until a
// movie sector of the stream confirms it, the candidate as it was before it is kept aside.
struct SoundTail
{
    bool open = false;
    bool strayed = false; // a sector that is neither the stream's nor sound came since its last sound
    bool spoilt = false;  // its sound went on across such a sector
    Candidate before;
    uint32_t audioSinceFrameStart = 0;
};

struct ProbeContext
{
    explicit ProbeContext(const DiscMovieRules& r) : rules(r) {}

    const DiscMovieRules& rules;
    bool active = false;
    uint32_t lastFrameStart = 0;
    uint32_t audioSinceFrameStart = 0;
    std::vector<Candidate> candidates; // capacity grows by kCandidateStep
    PreviousSector previous;
    SoundTail tail;
};

void endStream(ProbeContext& probe)
{
    if (!probe.active)
        return;
    probe.active = false;
    SoundTail& tail = probe.tail;
    if (tail.open && tail.spoilt) {
        // The sound after the video was a following movie's: the stream ends with its video.
        probe.candidates.back() = tail.before;
        probe.audioSinceFrameStart = tail.audioSinceFrameStart;
    }
    tail = SoundTail{};
    const Candidate& cur = probe.candidates.back();
    // A frame count of 0 (a damaged total) is no more a movie than a single frame.
    if (cur.lastFrameNumber <= 1 || (cur.hasAudio() && cur.audioStride == 0))
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

void startStream(ProbeContext& probe, uint32_t a, const uint8_t* sector, const MovieSector& movie)
{
    if (!roomForOne(probe.candidates, kCandidateStep))
        return; // the stream is not recorded; the probe goes on
    const bool lead = soundLeadsInto(probe, a, sector);
    Candidate c;
    c.firstSector = lead ? a - 1 : a;
    c.lastVideoSector = a;
    if (probe.rules.totalFramesFromStart)
        c.lastFrameNumber = movie.totalFrames;
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

void followMovieSector(ProbeContext& probe, uint32_t a, const MovieSector& movie)
{
    Candidate& cur = probe.candidates.back();
    if (movie.type != cur.type) {
        probe.candidates.pop_back();
        probe.active = false;
        return;
    }
    cur.lastVideoSector = a;
    if (movie.sectorInFrame == 0) {
        if (!probe.rules.totalFramesFromStart)
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

// A foreign sector while a stream is followed: an end sector ends it, a blank one is passed
// over, any other is skipped within the gap limit and ends the stream beyond it.
void followForeignSector(ProbeContext& probe, uint32_t a, const uint8_t* sector, MovieSectorClass kind)
{
    const Candidate& cur = probe.candidates.back();
    if (probe.rules.endsStream(sector))
        return endStream(probe);
    if (kind == MovieSectorClass::Blank)
        return;
    const uint32_t last = std::max(cur.lastVideoSector, cur.lastAudioSector);
    const bool strideKnown = cur.firstAudioSector != 0 && cur.audioStride != 0;
    const uint32_t limit = probe.rules.gapFollowsStride && strideKnown ? cur.audioStride : kDefaultGapLimit;
    if (a - last <= limit)
        return;
    endStream(probe);
}

// A sound sector of the stream after its last movie sector: the first one puts the candidate aside;
// one that comes after a sector that is neither the stream's nor sound spoils the tail.
void noteTailSound(ProbeContext& probe)
{
    SoundTail& tail = probe.tail;
    if (!probe.rules.soundEndsWithVideo)
        return;
    if (!tail.open) {
        tail.open = true;
        tail.before = probe.candidates.back();
        tail.audioSinceFrameStart = probe.audioSinceFrameStart;
    } else if (tail.strayed) {
        tail.spoilt = true;
    }
    tail.strayed = false;
}

// Follows the stream with one sector; true when the sector became part of it.
bool followSector(ProbeContext& probe, uint32_t a, const uint8_t* sector)
{
    const DiscMovieRules& rules = probe.rules;
    MovieSector movie;
    MovieSectorClass kind = rules.classify(sector, movie);
    bool start = false;
    if (kind == MovieSectorClass::Movie && movie.sectorInFrame == 0 && movie.frameNumber == 1) {
        start = rules.isStreamStart(sector, movie);
        if (!start)
            kind = MovieSectorClass::Foreign;
    }

    if (start) {
        endStream(probe);
        startStream(probe, a, sector, movie);
    } else if (!probe.active) {
        if (!rules.resumes || kind != MovieSectorClass::Movie || probe.candidates.empty())
            return false;
        const uint32_t last = probe.candidates.back().lastFrameNumber;
        if (movie.frameNumber != last && movie.frameNumber != last + 1)
            return false;
        probe.active = true;
    }
    if (!probe.active)
        return false; // a start that could not be recorded

    if (!start) {
        const SoundKey key = rules.soundKey(sector);
        const Candidate& cur = probe.candidates.back();
        if (kind == MovieSectorClass::Sound && cur.hasAudio() && (key != cur.audioKey || cur.soundEnded))
            kind = MovieSectorClass::Foreign;
        switch (kind) {
        case MovieSectorClass::Movie:
            probe.tail = SoundTail{};
            followMovieSector(probe, a, movie);
            break;
        case MovieSectorClass::Sound:
            noteTailSound(probe);
            followSoundSector(probe, a, key);
            break;
        default:
            if (kind != MovieSectorClass::Blank && !hasSoundBits(submodeOf(sector)))
                probe.tail.strayed = true;
            followForeignSector(probe, a, sector, kind);
            return false;
        }
    }
    // A movie that states its frame count is over with the last sector of its last frame: sound
    // after it (of a movie of another kind on the same channel) is not its own.
    const bool lastOfMovie = rules.totalFramesFromStart && kind == MovieSectorClass::Movie && probe.active &&
                             movie.frameNumber >= probe.candidates.back().lastFrameNumber &&
                             movie.sectorInFrame + 1u == movie.sectorsInFrame;
    const bool taken = probe.active;
    if (probe.active && (lastOfMovie || rules.endsStream(sector))) {
        if (kind == MovieSectorClass::Sound)
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
    r.key = probe.rules.soundKey(sector);
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

} // namespace

void* discMovieProbeBegin(const DiscMovieRules& rules, int32_t trackCount, const CdTocEntry* tracks)
{
    if (!hasDataTrack(tracks, trackCount))
        return nullptr;
    auto probe = std::make_unique<ProbeContext>(rules);
    probe->candidates.reserve(kCandidateStep);
    return probe.release();
}

int32_t discMovieProbeSector(void* context, CdTocEntry track, uint32_t lba, const uint8_t* sector)
{
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
}

int32_t discMovieProbeResult(const void* context, int32_t index, StrInfo* info)
{
    const auto* probe = static_cast<const ProbeContext*>(context);
    if (!probe)
        return 0;
    return probeResult(probe->candidates, index, info, describeCandidate);
}

void discMovieProbeEnd(void* context)
{
    delete static_cast<ProbeContext*>(context);
}

int32_t discMovieDescribeArea(const DiscMovieRules& rules, int32_t drive, uint32_t startSector,
                              uint32_t sectorCount, StrInfo* info)
{
    SectorStream area;
    if (!info || !area.open(drive, startSector, std::min(sectorCount, kAreaSectors), kHighestSpeed))
        return 0;
    uint32_t sound = 0, movie = 0, frame = 0, width = 0, height = 0, total = 0;
    uint8_t coding = 0;
    bool stopped = false;
    while (!stopped) {
        const uint8_t* sector = area.next();
        if (!sector)
            break;
        MovieSector fields;
        switch (rules.areaClassify(sector, fields)) {
        case MovieSectorClass::Sound:
            ++sound;
            coding = keyCoding(soundKey(sector));
            break;
        case MovieSectorClass::Movie:
            ++movie;
            if (fields.magic != 0 && fields.sectorInFrame == 0) {
                frame = fields.frameNumber;
                width = fields.width;
                height = fields.height;
                total = fields.totalFrames;
            }
            break;
        case MovieSectorClass::Stop:
            stopped = true;
            break;
        default:
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
        rules.totalFramesFromStart
            ? total
            : uint32_t(std::min<uint64_t>(uint64_t(sectorCount) * frame / (sound + movie), UINT32_MAX));
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

} // namespace sectorkit
