// Scorefile: "pQES" sequence music, in files of up to 1 MiB and inside the data tracks of a disc,
// played as a music stream whose units are the events in MIDI file track encoding.
//
// The header and the events are laid out in sequence_events.h. A stream description holds:
//   kind StrMusic; reserved = offset of the header in its first sector (0 for a file);
//   startSector (disc) or 0; sectorCount = (sequence bytes + offset + 2047) / 2048;
//   durationMs; channels = numerator << 8 | denominator power; bitsPerSample = resolution;
//   sampleRate = initial tempo; dataBytes = sequence bytes (header and events up to the end of
//   the track).
//
// Disc probe, over the 2048 user-data bytes of each sector of a data track in order:
//   searching: "pQES" at every place that leaves the whole header in the bytes at hand; when none
//     is found, the tail that could still begin one is kept for the next sector.
//   parsing:   event after event; an event cut by the end of the sector is kept (at most 2064
//     bytes) and finished with the next sector's bytes. A parse error, a kept event that grows
//     past that, a sequence past 1 MiB or a gap in the sector numbers drop the sequence; the end
//     of the track completes it, and it is kept when it lasts 100 ms or more.
//   A sequence still open when the track ends (or at the final call) is dropped.
//
// Units: the events from the read position, each written whole by MusicUnitWriter (running
// status expanded, tempo as FF 51 03, other meta events and system-exclusive events with all
// their data), until the end of the track, the end of the data, or once more than 1024 bytes
// are written. The largest unit is 1024 bytes plus one event of at most a whole sequence. A seek
// walks the events from the start to the time asked and goes on after the event that reaches it;
// when the tempo in force there is not the initial one, the next unit begins with it.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "sectorkit/find_pattern.h"
#include "sectorkit/music_events.h"
#include "sectorkit/plain_file.h"
#include "sectorkit/plugin_info.h"
#include "sectorkit/sector_stream.h"
#include "sequence_events.h"
#include "streamkit/psr.h"
#include "tamrin_common/c_guard.h"

namespace {

using namespace sectorkit;
using namespace scorefile;

constexpr size_t kSectorBytes = kUserDataBytes;
constexpr size_t kMaxCarry = 2064;
constexpr uint32_t kShortestMs = 100;
constexpr size_t kFirstCapacity = 40;
constexpr size_t kCapacityStep = 10;
constexpr size_t kUnitFull = 1024;
constexpr size_t kMaxUnitPayload = kUnitFull + 9 + kMaxSequenceBytes;
constexpr uint32_t kMaxSectors = (kMaxSequenceBytes + 2 * (kSectorBytes - 1)) / kSectorBytes;

void describe(StrInfo* info, const Header& h, uint32_t sector, uint32_t offset, uint32_t bytes,
              uint64_t timeSum)
{
    std::memset(info, 0, sizeof *info);
    info->kind = StrMusic;
    info->reserved = uint16_t(offset);
    info->startSector = sector;
    info->sectorCount = uint32_t((uint64_t(bytes) + offset + kSectorBytes - 1) / kSectorBytes);
    info->durationMs = durationMs(timeSum, h.resolution);
    info->channels = uint16_t(h.numerator << 8 | h.power);
    info->bitsPerSample = h.resolution;
    info->sampleRate = h.tempo;
    info->dataBytes = bytes;
}

// ---- probe ------------------------------------------------------------------------------------

struct Finding
{
    Header header;
    uint32_t sector = 0;
    uint32_t offset = 0;
    uint32_t bytes = 0;
    uint64_t timeSum = 0;
};

struct ProbeContext
{
    std::vector<Finding> found;
    bool parsing = false;
    Finding current;
    uint32_t tempo = 0;
    uint8_t running = 0;
    // The bytes kept from earlier sectors followed by the sector at hand; work[0] lies at byte
    // workStart of the track's data (sector number x 2048 + offset).
    std::vector<uint8_t> work;
    uint64_t workStart = 0;
    uint32_t nextSector = 0;
};

constexpr BytePattern kMagicPattern = exactPattern("pQES", 4);

void restart(ProbeContext& probe)
{
    probe.parsing = false;
    probe.work.clear();
}

// The first of the last bytes that could still begin a header: "pQES" whole or in part.
size_t searchTail(const std::vector<uint8_t>& work, size_t from)
{
    static const uint8_t kMagic[4] = {'p', 'Q', 'E', 'S'};
    for (size_t p = from; p < work.size(); ++p)
        if (std::memcmp(&work[p], kMagic, std::min<size_t>(4, work.size() - p)) == 0)
            return p;
    return work.size();
}

// Looks for a header from `pos`; true when one starts a sequence (pos is then after it), else
// false with pos at the first byte to keep.
bool search(ProbeContext& probe, size_t& pos)
{
    const auto& work = probe.work;
    while (pos + kHeaderBytes <= work.size()) {
        // The magic of a header that lies whole in the bytes at hand.
        const size_t end = work.size() - kHeaderBytes + 4;
        pos = findPattern(work.data(), end, kMagicPattern, 1, pos);
        if (pos == end) {
            pos = work.size() - kHeaderBytes + 1;
            break;
        }
        Header h;
        if (!parseHeader(&work[pos], h)) {
            ++pos;
            continue;
        }
        const uint64_t at = probe.workStart + pos;
        probe.current =
            Finding{h, uint32_t(at / kSectorBytes), uint32_t(at % kSectorBytes), uint32_t(kHeaderBytes), 0};
        probe.tempo = h.tempo;
        probe.running = 0;
        probe.parsing = true;
        pos += kHeaderBytes;
        return true;
    }
    const size_t tailFrom = work.size() > kHeaderBytes - 1 ? work.size() - (kHeaderBytes - 1) : 0;
    pos = searchTail(work, std::max(pos, tailFrom));
    return false;
}

void complete(ProbeContext& probe)
{
    probe.parsing = false;
    const Finding& f = probe.current;
    if (durationMs(f.timeSum, f.header.resolution) < kShortestMs)
        return;
    if (roomForOne(probe.found, kCapacityStep))
        probe.found.push_back(f); // out of memory: the sequence is not recorded
}

// Parses events from `pos`; true when the sequence ended or was dropped (searching goes on from
// pos), false when the rest from pos is to be kept for the next sector.
bool parse(ProbeContext& probe, size_t& pos)
{
    const auto& work = probe.work;
    while (true) {
        Event e;
        const Parse r = parseEvent(work.data() + pos, work.size() - pos, probe.running, e);
        if (r == Parse::Error || (r == Parse::Incomplete && work.size() - pos > kMaxCarry)) {
            probe.parsing = false;
            return true;
        }
        if (r == Parse::Incomplete)
            return false;
        Finding& f = probe.current;
        if (f.bytes + e.bytes > kMaxSequenceBytes) {
            probe.parsing = false;
            return true;
        }
        f.bytes += uint32_t(e.bytes);
        f.timeSum = addTime(f.timeSum, e.delta, probe.tempo);
        pos += e.bytes;
        probe.running = e.running;
        if (e.type == EventType::Tempo)
            probe.tempo = e.tempo;
        if (e.type == EventType::EndOfTrack) {
            complete(probe);
            return true;
        }
    }
}

// The first place in a sector that starts a header, or from which the rest of the sector could
// begin one; kSectorBytes when there is none.
size_t firstCandidate(const uint8_t* sector)
{
    for (size_t at = 0; (at = findPattern(sector, kSectorBytes, kMagicPattern, 1, at)) < kSectorBytes; ++at) {
        Header h;
        if (kSectorBytes - at < kHeaderBytes || parseHeader(sector + at, h))
            return at;
    }
    // A start of the magic in the last three bytes.
    for (size_t at = kSectorBytes - 3; at < kSectorBytes; ++at)
        if (std::memcmp(sector + at, kMagicPattern.bytes, kSectorBytes - at) == 0)
            return at;
    return kSectorBytes;
}

void probeSector(ProbeContext& probe, uint32_t lba, const uint8_t* sector)
{
    const bool carrying = probe.parsing || !probe.work.empty();
    if (carrying && lba != probe.nextSector)
        restart(probe); // sectors missing in between: nothing carries across them
    probe.nextSector = lba + 1;
    if (!probe.parsing && probe.work.empty()) {
        // Searching with nothing kept (nearly every sector): only what may begin a header is taken.
        const size_t from = firstCandidate(sector);
        probe.workStart = uint64_t(lba) * kSectorBytes + from;
        probe.work.assign(sector + from, sector + kSectorBytes);
        if (probe.work.empty())
            return;
    } else {
        probe.work.insert(probe.work.end(), sector, sector + kSectorBytes);
    }

    size_t pos = 0;
    while (true) {
        if (!probe.parsing && !search(probe, pos))
            break;
        if (!parse(probe, pos))
            break;
    }
    probe.work.erase(probe.work.begin(), probe.work.begin() + std::ptrdiff_t(pos));
    probe.workStart += pos;
}

// ---- streams ----------------------------------------------------------------------------------

struct Stream
{
    std::vector<uint8_t> data; // the events after the header
    size_t pos = 0;
    uint16_t resolution = 0;
    uint32_t initialTempo = 0;
    uint32_t tempo = 0;
    uint8_t running = 0;
    // After a seek past a tempo change, the next unit starts with the tempo in force: the player
    // starts over from the description's tempo and would play the rest at the wrong speed.
    bool tempoPending = false;

    void restart()
    {
        pos = 0;
        tempo = initialTempo;
        running = 0;
        tempoPending = false;
    }
};

bool writeEvent(MusicUnitWriter& out, const Event& e)
{
    switch (e.type) {
    case EventType::Channel:
        return out.channelEvent(e.delta, e.status, e.data, e.length);
    case EventType::Tempo:
        return out.metaEvent(e.delta, 0x51, e.data, 3);
    case EventType::EndOfTrack:
        return out.metaEvent(e.delta, 0x2F, nullptr, 0);
    case EventType::Meta:
        return out.metaEvent(e.delta, e.metaType, e.data, e.length);
    case EventType::SystemExclusive:
        return out.sysexEvent(e.delta, e.status, e.data, e.length);
    }
    return false;
}

int32_t readUnit(Stream& s, PsrReadRecord* record)
{
    std::memset(record, 0, PSR_READ_HEADER_BYTES);
    MusicUnitWriter out(record->payload, kMaxUnitPayload);
    if (s.tempoPending && s.pos < s.data.size()) {
        const uint8_t tempo[3] = {uint8_t(s.tempo >> 16), uint8_t(s.tempo >> 8), uint8_t(s.tempo)};
        out.metaEvent(0, 0x51, tempo, 3);
    }
    s.tempoPending = false;
    while (s.pos < s.data.size() && out.size() <= kUnitFull) {
        Event e;
        const Parse r = parseEvent(s.data.data() + s.pos, s.data.size() - s.pos, s.running, e);
        if (r != Parse::Complete || !writeEvent(out, e)) {
            // Damaged or cut off: the events before it still go out, then the stream ends.
            s.pos = s.data.size();
            break;
        }
        s.pos += e.bytes;
        s.running = e.running;
        if (e.type == EventType::Tempo)
            s.tempo = e.tempo;
        if (e.type == EventType::EndOfTrack)
            s.pos = s.data.size();
    }
    record->payloadBytes = uint32_t(out.size());
    return out.size() ? 1 : 0;
}

int32_t seekStream(Stream& s, uint32_t ms)
{
    s.restart();
    if (ms == 0)
        return 1;
    const uint64_t target = uint64_t(s.resolution) * 1000 * ms;
    uint64_t sum = 0;
    while (s.pos < s.data.size()) {
        Event e;
        if (parseEvent(s.data.data() + s.pos, s.data.size() - s.pos, s.running, e) != Parse::Complete)
            break;
        sum = addTime(sum, e.delta, s.tempo);
        s.pos += e.bytes;
        s.running = e.running;
        if (e.type == EventType::Tempo)
            s.tempo = e.tempo;
        if (e.type == EventType::EndOfTrack)
            s.pos = s.data.size();
        if (sum >= target) {
            s.tempoPending = s.tempo != s.initialTempo;
            return 1;
        }
    }
    s.pos = s.data.size();
    return 0;
}

// Timing from a stored description; the header's where the description has no resolution.
void takeTiming(Stream& s, const Header& h, const StrInfo* info)
{
    const bool stored = info && info->bitsPerSample != 0;
    s.resolution = stored ? info->bitsPerSample : h.resolution;
    s.initialTempo = stored ? info->sampleRate : h.tempo;
    s.restart();
}

// A whole sequence file: its header and bytes; false when it is no sequence file.
bool loadFile(const char* name, Header& h, std::vector<uint8_t>& bytes)
{
    PlainFile file;
    if (!file.open(name) || file.size() < kHeaderBytes || file.size() > kMaxSequenceBytes)
        return false;
    bytes.resize(size_t(file.size()));
    return file.readAt(0, bytes.data(), bytes.size()) && parseHeader(bytes.data(), h);
}

int32_t describeFile(const char* name, StrInfo* info)
{
    Header h;
    std::vector<uint8_t> bytes;
    if (!info || !loadFile(name, h, bytes))
        return 0;
    const Walk walk = walkEvents(bytes.data() + kHeaderBytes, bytes.size() - kHeaderBytes, h.tempo);
    if (walk.error)
        return 0;
    describe(info, h, 0, 0, uint32_t(kHeaderBytes + walk.bytes), walk.timeSum);
    return 1;
}

void* openFile(const char* name, const StrInfo* info)
{
    auto s = std::make_unique<Stream>();
    Header h;
    std::vector<uint8_t> bytes;
    if (!loadFile(name, h, bytes))
        return nullptr;
    s->data.assign(bytes.begin() + kHeaderBytes, bytes.end());
    takeTiming(*s, h, info);
    return s.release();
}

void* openDisc(int32_t drive, const StrInfo& info)
{
    if (info.reserved >= kSectorBytes || info.sectorCount == 0 || info.sectorCount > kMaxSectors)
        return nullptr;
    SectorStream sectors;
    if (!sectors.open(drive, info.startSector, info.sectorCount, kHighestSpeed, SectorForm::UserData))
        return nullptr;
    std::vector<uint8_t> bytes(size_t(info.sectorCount) * kSectorBytes - info.reserved);
    bytes.resize(sectors.readBytes(bytes.data(), bytes.size(), info.reserved));
    Header h;
    if (bytes.size() < kHeaderBytes || !parseHeader(bytes.data(), h))
        return nullptr; // the area holds no sequence where the description says
    if (info.dataBytes > kHeaderBytes && info.dataBytes < bytes.size())
        bytes.resize(info.dataBytes);
    auto s = std::make_unique<Stream>();
    s->data.assign(bytes.begin() + kHeaderBytes, bytes.end());
    takeTiming(*s, h, &info);
    return s.release();
}

} // namespace

// ---- exports ----------------------------------------------------------------------------------

PSR_EXPORT int32_t PsrQueryPlugin(PsrPluginInfo* info)
{
    return tamrin::guarded<int32_t>(0, [&] {
        return describePlugin(info, "SEQ", 111, 101, MediaRawSectors | MediaUserData | MediaFiles);
    });
}

PSR_EXPORT int32_t PsrIsSupportFile(const char* fileName)
{
    return tamrin::guarded<int32_t>(0, [&] {
        PlainFile file;
        return file.open(fileName) ? 1 : 0;
    });
}

PSR_EXPORT int32_t PsrGetStrFileInfo(const char* fileName, StrInfo* info)
{
    return tamrin::guarded<int32_t>(0, [&] { return describeFile(fileName, info); });
}

PSR_EXPORT int32_t PsrGetStrDataInfo(int32_t, uint32_t, uint32_t, StrInfo*)
{
    return 0;
}

PSR_EXPORT void* PsrIsSupportCDBegin(int32_t trackCount, const CdTocEntry* tracks)
{
    return tamrin::guarded<void*>(nullptr, [&]() -> void* {
        if (!hasDataTrack(tracks, trackCount))
            return nullptr;
        auto probe = std::make_unique<ProbeContext>();
        probe->found.reserve(kFirstCapacity);
        probe->work.reserve(kMaxCarry + kSectorBytes);
        return probe.release();
    });
}

PSR_EXPORT int32_t PsrIsSupportCDSector(void* context, CdTocEntry track, uint32_t lba, const uint8_t* sector)
{
    return tamrin::guarded<int32_t>(0, [&] {
        auto* probe = static_cast<ProbeContext*>(context);
        if (!probe)
            return 0;
        if (!sector || !isDataTrack(track)) {
            restart(*probe);
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
        return probeResult(probe->found, index, info, [](const Finding& f, StrInfo* out) {
            describe(out, f.header, f.sector, f.offset, f.bytes, f.timeSum);
        });
    });
}

PSR_EXPORT void* PsrOpenFile(const char* fileName, StrInfo* info)
{
    return tamrin::guarded<void*>(nullptr, [&] { return openFile(fileName, info); });
}

PSR_EXPORT void* PsrOpenCD(int32_t drive, StrInfo* info)
{
    return tamrin::guarded<void*>(nullptr, [&] { return info ? openDisc(drive, *info) : nullptr; });
}

#include "sectorkit/stream_exports.h"
