// Discvoice: XA ADPCM sound streams in the raw Mode 2 Form 2 sectors of a disc, told apart by
// their file and channel numbers, found sector by sector and played back one sector per unit;
// also the same sectors ripped into files.
// Decoding is left to the host (unitKind 0 on a unit without frame number: XA ADPCM).
//
// Sector (2352 bytes):
//   0x10 u16 file and channel   0x12 u8 submode (0x80 end of file)   0x13 u8 coding
//   0x18 2304 bytes of sound: 18 groups of 16 parameter bytes and 112 sample bytes
// The sub-header key of a stream is those four bytes with the end-of-file bit cleared; a sound
// sector has submode 0x64 (real time, Form 2, audio) once that bit is cleared.
//
// Probe: one record per stream, opened by its first sector, closed by an end-of-file bit, by a
// change of coding on its channel, or by a sector that is not sound and lies at least one stride
// after the stream's last sector (distances taken as 16 bits). Streams that stay silent are
// removed when they close; streams still open at the final call (null sector) are dropped.
// Removal moves the table's last record into the freed place.
//
// Files: ripped XA files (layout and listing in xa_file.cpp) hold one or several streams. The
// file test answers how many; the description and the opening take the stream whose number
// (from 0, in the order the streams begin in the file) is in the `reserved` field of the StrInfo,
// and the description keeps that number there. A caller that clears the record, as every caller
// does, gets the first stream; a caller that lists a file's streams sets `reserved` to 1, 2, ...
// before asking for the description and keeps the record as described, so that opening it plays
// that stream. `startSector` and `sectorCount` stay 0 for files; the file's sectors of the
// stream are found again at open, one unit per sector as on a disc.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <set>
#include <unordered_map>
#include <vector>

#include "sectorkit/plugin_info.h"
#include "sectorkit/rate_guess.h"
#include "sectorkit/sector_stream.h"
#include "sectorkit/str_sector.h"
#include "sectorkit/xa_sound.h"
#include "streamkit/psr.h"
#include "tamrin_common/c_guard.h"
#include "xa_file.h"

namespace {

using namespace sectorkit;

constexpr uint32_t kFirstCapacity = 64;
constexpr uint32_t kCapacityStep = 16;
constexpr uint32_t kDescribeSectors = 256;
constexpr uint32_t kSamplesPerSector = 4032; // shared by the channels
constexpr uint32_t kNoOpenRecord = 0xFFFFFFFF;

// One stream found by the probe (24 bytes).
struct Record
{
    uint32_t firstSector = 0;
    uint32_t count = 0;  // sound sectors seen so far
    uint16_t stride = 1; // distance of the second sector from the first, 16 bits
    uint16_t fileChannel = 0;
    uint8_t coding = 0;
    uint8_t closed = 0;
    uint32_t lastSector = 0;
    uint32_t lastSound = 0; // last sector that was not silent; 0 while all were
};

struct ProbeContext
{
    std::vector<Record> records; // capacity 64 at first, then grows by 16
    uint32_t open = 0;
    // There is at most one open record per file-and-channel word: its index. A disc holds a few
    // dozen of the 65536 words, so they are kept in a map rather than a table of all of them.
    std::unordered_map<uint16_t, uint32_t> openIndex;
    // Table places of the open records, so that the stale test passes over closed ones.
    std::set<uint32_t> openPlaces;
};

uint32_t durationMs(uint64_t sectors, uint8_t coding)
{
    return xaAudioMs(uint32_t(std::min<uint64_t>(sectors, UINT32_MAX)), xaSampleRate(coding),
                     xaChannels(coding));
}

// ---- probe ------------------------------------------------------------------------------------

// Takes the last record into place `i`, keeping the open index right for the moved record.
void removeRecord(ProbeContext& probe, uint32_t i)
{
    const uint32_t last = uint32_t(probe.records.size() - 1);
    probe.openPlaces.erase(i);
    if (i != last) {
        probe.records[i] = probe.records[last];
        if (!probe.records[i].closed) {
            probe.openIndex[probe.records[i].fileChannel] = i; // the word is listed: nothing allocated
            probe.openPlaces.erase(last);
            try {
                probe.openPlaces.insert(i);
            } catch (const std::bad_alloc&) {
                // Out of memory: the record is no longer tested for staleness and is dropped at
                // the end of the scan like any stream left open.
            }
        }
    }
    probe.records.pop_back();
}

// Marks record `i` closed and removes it when it never held sound. True when it was removed (the
// table's last record now stands at `i`).
bool closeRecord(ProbeContext& probe, uint32_t i)
{
    Record& r = probe.records[i];
    r.closed = 1;
    probe.openIndex.erase(r.fileChannel);
    probe.openPlaces.erase(i);
    --probe.open;
    if (r.lastSound != 0)
        return false;
    removeRecord(probe, i);
    return true;
}

// A sector that is not sound ends every open stream that has gone a whole stride without one.
void closeStale(ProbeContext& probe, uint32_t lba)
{
    // The open records in table order; a removal moves the table's last record into the freed
    // place, where it is examined next.
    auto next = probe.openPlaces.begin();
    while (next != probe.openPlaces.end()) {
        const uint32_t i = *next;
        const Record& r = probe.records[i];
        if (r.count != 1 && uint16_t(lba - r.lastSector) >= r.stride && closeRecord(probe, i)) {
            next = probe.openPlaces.lower_bound(i);
            continue;
        }
        next = probe.openPlaces.upper_bound(i);
    }
}

bool appendRecord(ProbeContext& probe, uint32_t lba, uint16_t fileChannel, uint8_t coding)
{
    if (!roomForOne(probe.records, kCapacityStep))
        return false;
    const auto place = uint32_t(probe.records.size());
    try {
        probe.openPlaces.insert(place);
        probe.openIndex[fileChannel] = place;
    } catch (const std::bad_alloc&) {
        probe.openPlaces.erase(place);
        return false;
    }
    Record r;
    r.firstSector = lba;
    r.fileChannel = fileChannel;
    r.coding = coding;
    probe.records.push_back(r); // cannot throw: room was made
    ++probe.open;
    return true;
}

void probeSector(ProbeContext& probe, uint32_t lba, const uint8_t* sector)
{
    bool empty = true;
    for (size_t i = 0; i < 32 && empty; ++i)
        empty = sector[kXaAudioDataOffset + i] == 0;
    const SoundKey key = soundKey(sector);
    const uint8_t submode = submodeOf(sector);
    const uint8_t coding = keyCoding(key);
    if (empty || (submode == 0 && coding == 0))
        return;
    if (!isXaAudioSubmode(submode)) {
        closeStale(probe, lba);
        return;
    }

    const uint16_t fileChannel = keyFileChannel(key);
    const auto listed = probe.openIndex.find(fileChannel);
    uint32_t i = listed == probe.openIndex.end() ? kNoOpenRecord : listed->second;
    if (i != kNoOpenRecord && probe.records[i].coding != coding) {
        closeRecord(probe, i);
        i = kNoOpenRecord;
    }
    if (i == kNoOpenRecord) {
        if (!appendRecord(probe, lba, fileChannel, coding))
            return; // out of memory: the sector is dropped
        i = uint32_t(probe.records.size() - 1);
    }
    Record& r = probe.records[i];
    if (r.count == 1)
        r.stride = uint16_t(lba - r.firstSector);
    r.lastSector = lba;
    if (!isSilentXaSound(sector, kRawSectorBytes))
        r.lastSound = lba;
    ++r.count;
    if (hasEndOfFile(sector))
        closeRecord(probe, i);
}

// The final call: streams still open are dropped.
void dropOpen(ProbeContext& probe)
{
    uint32_t i = 0;
    while (i < probe.records.size()) {
        if (!probe.records[i].closed) {
            probe.openIndex.erase(probe.records[i].fileChannel);
            removeRecord(probe, i);
            continue;
        }
        ++i;
    }
    probe.open = 0;
    probe.openPlaces.clear();
}

void describeRecord(const Record& r, StrInfo* info)
{
    std::memset(info, 0, sizeof *info);
    info->kind = StrAudio;
    describeXaSound(info, r.coding);
    info->startSector = r.firstSector;
    info->sectorCount = uint32_t(r.stride) * (r.count - 1) + 1;
    info->durationMs = durationMs(r.count, r.coding);
    info->dataBytes = r.count * uint32_t(kXaAudioDataBytes); // modulo 2^32, as the field holds it
}

// ---- streams ----------------------------------------------------------------------------------

// An open stream of a disc or of a file.
struct Handle
{
    virtual ~Handle() = default;
    virtual int32_t read(PsrReadRecord* record) = 0;
    virtual int32_t seek(uint32_t positionMs) = 0;
};

struct Stream final : Handle
{
    int32_t read(PsrReadRecord* record) override;
    int32_t seek(uint32_t positionMs) override;

    // Holds the first and the second sector of the stream until they are delivered.
    SectorStream sectors;
    uint32_t sampleRate = 0;
    uint16_t channels = 0;
    uint16_t stride = 1;
    SoundKey key = 0;
};

// Reads on until a sector with `key` comes; every other sector is released as it is passed.
// The matching sector stays locked; null when the reader ends first. `passed` counts the others.
const uint8_t* readMatching(SectorStream& sectors, SoundKey key, uint32_t* passed)
{
    while (const uint8_t* sector = sectors.next()) {
        if (soundKey(sector) == key)
            return sector;
        sectors.release(sector);
        if (passed)
            ++*passed;
    }
    return nullptr;
}

int32_t describeArea(int32_t drive, uint32_t startSector, uint32_t sectorCount, StrInfo* info)
{
    SectorStream area;
    if (!info || !area.open(drive, startSector, std::min(sectorCount, kDescribeSectors), kHighestSpeed))
        return 0;
    const uint8_t* first = area.next();
    if (!first)
        return 0;
    const SoundKey key = soundKey(first);
    area.release(first);
    uint32_t stride = 1;
    if (sectorCount > 1) {
        uint32_t passed = 0;
        const uint8_t* next = readMatching(area, key, &passed);
        if (!next)
            return 0;
        area.release(next);
        stride = passed + 1;
    }
    area.close();

    std::memset(info, 0, sizeof *info);
    info->kind = StrAudio;
    describeXaSound(info, keyCoding(key));
    info->startSector = startSector;
    info->sectorCount = sectorCount;
    info->durationMs = durationMs((uint64_t(sectorCount) + stride - 1) / stride, keyCoding(key));
    return 1;
}

Handle* openStream(int32_t drive, const StrInfo& info)
{
    auto stream = std::make_unique<Stream>();
    if (!stream->sectors.open(drive, info.startSector, info.sectorCount, kHighestSpeed))
        return nullptr;
    stream->sampleRate = info.sampleRate;
    stream->channels = info.channels;
    const uint8_t* first = stream->sectors.next();
    if (!first)
        return nullptr;
    stream->sectors.hold(first);
    stream->key = soundKey(first);
    // Seeking divides by the channel count: one outside 1 and 2 is taken from the coding byte.
    if (stream->channels != 1 && stream->channels != 2)
        stream->channels = xaChannels(keyCoding(stream->key));
    if (info.sectorCount > 1) {
        uint32_t passed = 0;
        const uint8_t* second = readMatching(stream->sectors, stream->key, &passed);
        if (!second)
            return nullptr;
        stream->sectors.hold(second);
        stream->stride = uint16_t(passed + 1);
    }
    return stream.release();
}

int32_t Stream::read(PsrReadRecord* record)
{
    std::memset(record, 0, PSR_READ_HEADER_BYTES);
    const uint8_t* sector = sectors.takeHeld();
    if (!sector)
        sector = readMatching(sectors, key, nullptr);
    if (!sector)
        return 0;
    appendSound(record, sector, kXaAudioDataBytes);
    sectors.release(sector);
    return 1;
}

int32_t Stream::seek(uint32_t positionMs)
{
    const uint64_t perSector = kSamplesPerSector / channels;
    const uint64_t sector = uint64_t(sampleRate / 100) * (positionMs / 10) / perSector * stride;
    return sectors.seek(sector) ? 1 : 0;
}

// ---- files ------------------------------------------------------------------------------------

// A stream of a ripped XA file: its sectors, listed at open, delivered one unit each.
struct FileSound final : Handle
{
    int32_t read(PsrReadRecord* record) override;
    int32_t seek(uint32_t positionMs) override;

    discvoice::XaFile file;
    std::vector<uint32_t> sectors;
    size_t next = 0;
    SoundKey key = 0;
};

// The file's streams; empty when it cannot be opened or is not XA sound.
std::vector<discvoice::FileStream> fileStreams(discvoice::XaFile& file, const char* name)
{
    if (!file.open(name))
        return {};
    return discvoice::listStreams(file);
}

void describeFileStream(const discvoice::FileStream& stream, uint16_t number, StrInfo* info)
{
    std::memset(info, 0, sizeof *info);
    info->kind = StrAudio;
    info->reserved = number;
    describeXaSound(info, keyCoding(stream.key));
    info->durationMs = durationMs(stream.count, keyCoding(stream.key));
    info->dataBytes = stream.count * uint32_t(kXaAudioDataBytes); // modulo 2^32, as on a disc
}

Handle* openFileStream(const char* name, uint16_t number)
{
    auto sound = std::make_unique<FileSound>();
    const auto streams = fileStreams(sound->file, name);
    if (number >= streams.size())
        return nullptr;
    sound->key = streams[number].key;
    sound->sectors = discvoice::streamSectors(sound->file, streams[number]);
    if (sound->sectors.empty())
        return nullptr;
    return sound.release();
}

int32_t FileSound::read(PsrReadRecord* record)
{
    std::memset(record, 0, PSR_READ_HEADER_BYTES);
    uint8_t raw[kRawSectorBytes];
    // A sector that no longer carries the stream's key (the file changed since the opening)
    // ends the stream like a read error.
    if (next >= sectors.size() || !file.readSector(sectors[next], raw) || soundKey(raw) != key)
        return 0;
    ++next;
    appendSound(record, raw, kXaAudioDataBytes);
    return 1;
}

// The unit at or before the time: units of 4032 samples shared by the channels, counted in the
// stream's own sectors (so the file's interleave does not enter); past the end, the end.
int32_t FileSound::seek(uint32_t positionMs)
{
    const uint8_t coding = keyCoding(key);
    const uint64_t perSector = kSamplesPerSector / xaChannels(coding);
    const uint64_t unit = uint64_t(xaSampleRate(coding) / 100) * (positionMs / 10) / perSector;
    next = size_t(std::min<uint64_t>(unit, sectors.size()));
    return 1;
}

} // namespace

// ---- exports ----------------------------------------------------------------------------------

PSR_EXPORT int32_t PsrQueryPlugin(PsrPluginInfo* info)
{
    return tamrin::guarded<int32_t>(
        0, [&] { return describePlugin(info, "XA CD-ROM", 113, 0, MediaRawSectors | MediaFiles); });
}

PSR_EXPORT void* PsrIsSupportCDBegin(int32_t trackCount, const CdTocEntry* tracks)
{
    return tamrin::guarded<void*>(nullptr, [&]() -> void* {
        if (!hasDataTrack(tracks, trackCount))
            return nullptr;
        auto probe = std::make_unique<ProbeContext>();
        probe->records.reserve(kFirstCapacity);
        return probe.release();
    });
}

PSR_EXPORT int32_t PsrIsSupportCDSector(void* context, CdTocEntry track, uint32_t lba, const uint8_t* sector)
{
    return tamrin::guarded<int32_t>(0, [&] {
        auto* probe = static_cast<ProbeContext*>(context);
        if (!probe)
            return 0;
        if (!sector) {
            dropOpen(*probe);
            return 0;
        }
        if (!isDataTrack(track))
            return 0;
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
        return probeResult(probe->records, index, info, describeRecord);
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
    return tamrin::guarded<void*>(nullptr, [&] { return info ? openStream(drive, *info) : nullptr; });
}

// The number of streams of a ripped XA file; 0 when it is not one.
PSR_EXPORT int32_t PsrIsSupportFile(const char* fileName)
{
    return tamrin::guarded<int32_t>(0, [&] {
        discvoice::XaFile file;
        return int32_t(fileStreams(file, fileName).size());
    });
}

// Describes the stream numbered by info->reserved (0 in a cleared record: the first).
PSR_EXPORT int32_t PsrGetStrFileInfo(const char* fileName, StrInfo* info)
{
    return tamrin::guarded<int32_t>(0, [&] {
        if (!info)
            return 0;
        discvoice::XaFile file;
        const auto streams = fileStreams(file, fileName);
        if (info->reserved >= streams.size())
            return 0;
        describeFileStream(streams[info->reserved], info->reserved, info);
        return 1;
    });
}

PSR_EXPORT void* PsrOpenFile(const char* fileName, StrInfo* info)
{
    return tamrin::guarded<void*>(nullptr,
                                  [&] { return openFileStream(fileName, info ? info->reserved : 0); });
}

PSR_EXPORT int32_t PsrRead(void* handle, PsrReadRecord* record)
{
    return tamrin::guarded<int32_t>(0, [&] {
        auto* stream = static_cast<Handle*>(handle);
        return stream && record ? stream->read(record) : 0;
    });
}

PSR_EXPORT int32_t PsrSeek(void* handle, uint32_t positionMs)
{
    return tamrin::guarded<int32_t>(0, [&] {
        auto* stream = static_cast<Handle*>(handle);
        return stream ? stream->seek(positionMs) : 0;
    });
}

PSR_EXPORT int32_t PsrClose(void* handle)
{
    return tamrin::guarded<int32_t>(0, [&] {
        auto* stream = static_cast<Handle*>(handle);
        if (!stream)
            return 0;
        delete stream; // releases the held sectors and closes the reader or the file
        return 1;
    });
}
