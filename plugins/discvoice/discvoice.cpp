// Discvoice: XA ADPCM sound streams in the raw Mode 2 Form 2 sectors of a disc, told apart by
// their file and channel numbers, found sector by sector and played back one sector per unit.
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
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <set>

#include "discport/discport.h"
#include "sectorkit/plugin_info.h"
#include "sectorkit/rate_guess.h"
#include "sectorkit/str_sector.h"
#include "sectorkit/xa_sound.h"
#include "streamkit/psr.h"

namespace {

using sectorkit::kRawSectorBytes;
using sectorkit::kXaAudioDataBytes;
using sectorkit::kXaAudioDataOffset;

constexpr uint32_t kFirstCapacity = 64;
constexpr uint32_t kCapacityStep = 16;
constexpr uint32_t kDescribeSectors = 256;
constexpr int32_t kHighestSpeed = -1;
constexpr uint32_t kSamplesPerSector = 4032; // shared by the channels
constexpr size_t kSubHeaderOffset = 0x10;
constexpr size_t kCodingOffset = 0x13;
constexpr uint8_t kEndOfFile = sectorkit::kSubmodeEndOfFile;
constexpr uint32_t kNoOpenRecord = 0xFFFFFFFF;
constexpr size_t kFileChannelWords = 0x10000;

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
    uint32_t capacity = 0;
    uint32_t count = 0;
    uint32_t open = 0;
    Record* records = nullptr;
    // There is at most one open record per file-and-channel word: its index, or kNoOpenRecord.
    uint32_t* openIndex = nullptr;
    // Table places of the open records, so that the stale test passes over closed ones.
    std::set<uint32_t> openPlaces;
};

// The four sub-header bytes of a stream, end-of-file bit cleared.
struct Key
{
    uint8_t bytes[4] = {};
    bool operator==(const Key&) const = default;
};

Key keyOf(const uint8_t* sector)
{
    Key key;
    std::memcpy(key.bytes, sector + kSubHeaderOffset, 4);
    key.bytes[2] = uint8_t(key.bytes[2] & ~kEndOfFile);
    return key;
}

uint16_t fileChannelOf(const uint8_t* sector)
{
    return uint16_t(sector[kSubHeaderOffset] | sector[kSubHeaderOffset + 1] << 8);
}

uint32_t durationMs(uint64_t sectors, uint8_t coding)
{
    return sectorkit::xaAudioMs(uint32_t(std::min<uint64_t>(sectors, UINT32_MAX)),
                                sectorkit::xaSampleRate(coding), sectorkit::xaChannels(coding));
}

void describeAudio(StrInfo* info, uint8_t coding)
{
    info->kind = StrAudio;
    info->audioFormat = 1;
    info->bitsPerSample = 16;
    info->channels = sectorkit::xaChannels(coding);
    info->sampleRate = sectorkit::xaSampleRate(coding);
}

// ---- probe ------------------------------------------------------------------------------------

// Takes the last record into place `i`, keeping the open index right for the moved record.
void removeRecord(ProbeContext& probe, uint32_t i)
{
    const uint32_t last = probe.count - 1;
    probe.openPlaces.erase(i);
    if (i != last) {
        probe.records[i] = probe.records[last];
        if (!probe.records[i].closed) {
            probe.openIndex[probe.records[i].fileChannel] = i;
            probe.openPlaces.erase(last);
            try {
                probe.openPlaces.insert(i);
            } catch (const std::bad_alloc&) {
                // Out of memory: the record is no longer tested for staleness and is dropped at
                // the end of the scan like any stream left open.
            }
        }
    }
    --probe.count;
}

// Marks record `i` closed and removes it when it never held sound. True when it was removed (the
// table's last record now stands at `i`).
bool closeRecord(ProbeContext& probe, uint32_t i)
{
    Record& r = probe.records[i];
    r.closed = 1;
    probe.openIndex[r.fileChannel] = kNoOpenRecord;
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
    if (probe.count == probe.capacity) {
        const size_t grown = size_t(probe.capacity) + kCapacityStep;
        // Records are plain bytes; a reallocation keeps them, often without a copy.
        auto* records = static_cast<Record*>(std::realloc(probe.records, grown * sizeof(Record)));
        if (!records)
            return false;
        probe.records = records;
        probe.capacity = uint32_t(grown);
    }
    try {
        probe.openPlaces.insert(probe.count);
    } catch (const std::bad_alloc&) {
        return false;
    }
    Record& r = probe.records[probe.count];
    r = Record{};
    r.firstSector = lba;
    r.fileChannel = fileChannel;
    r.coding = coding;
    probe.openIndex[fileChannel] = probe.count;
    ++probe.count;
    ++probe.open;
    return true;
}

void probeSector(ProbeContext& probe, uint32_t lba, const uint8_t* sector)
{
    bool empty = true;
    for (size_t i = 0; i < 32 && empty; ++i)
        empty = sector[kXaAudioDataOffset + i] == 0;
    const uint8_t submode = sector[kSubHeaderOffset + 2];
    const uint8_t coding = sector[kCodingOffset];
    if (empty || (submode == 0 && coding == 0))
        return;
    if (!sectorkit::isXaAudioSubmode(submode)) {
        closeStale(probe, lba);
        return;
    }

    const uint16_t fileChannel = fileChannelOf(sector);
    uint32_t i = probe.openIndex[fileChannel];
    if (i != kNoOpenRecord && probe.records[i].coding != coding) {
        closeRecord(probe, i);
        i = kNoOpenRecord;
    }
    if (i == kNoOpenRecord) {
        if (!appendRecord(probe, lba, fileChannel, coding))
            return; // out of memory: the sector is dropped
        i = probe.count - 1;
    }
    Record& r = probe.records[i];
    if (r.count == 1)
        r.stride = uint16_t(lba - r.firstSector);
    r.lastSector = lba;
    if (!sectorkit::isSilentXaSound(sector, kRawSectorBytes))
        r.lastSound = lba;
    ++r.count;
    if (submode & kEndOfFile)
        closeRecord(probe, i);
}

// The final call: streams still open are dropped.
void dropOpen(ProbeContext& probe)
{
    uint32_t i = 0;
    while (i < probe.count) {
        if (!probe.records[i].closed) {
            probe.openIndex[probe.records[i].fileChannel] = kNoOpenRecord;
            removeRecord(probe, i);
            continue;
        }
        ++i;
    }
    probe.open = 0;
    probe.openPlaces.clear();
}

void freeProbe(ProbeContext* probe)
{
    std::free(probe->records);
    delete[] probe->openIndex;
    delete probe;
}

// ---- streams ----------------------------------------------------------------------------------

struct Stream
{
    CdReadHandle* reader = nullptr;
    uint32_t startSector = 0;
    uint32_t sectorCount = 0;
    uint32_t sampleRate = 0;
    uint16_t channels = 0;
    uint16_t stride = 1;
    Key key;
    // The first and the second sector of the stream, locked in the reader until delivered.
    const uint8_t* held[2] = {nullptr, nullptr};
};

// A reader of raw sectors over [start, start + count); null when it cannot be had or would give
// sectors of another size (the reader falls back to 2048-byte sectors on very long ranges).
CdReadHandle* openRawReader(int32_t drive, uint32_t start, uint32_t count)
{
    if (count == 0 || count > uint32_t(INT32_MAX))
        return nullptr;
    CdReadHandle* reader = CdReadOpen(drive, nullptr, start, count, kHighestSpeed);
    if (reader && CdGetSectorSize(reader) != int32_t(kRawSectorBytes)) {
        CdReadClose(reader);
        return nullptr;
    }
    return reader;
}

// Reads on until a sector with `key` comes; every other sector is released as it is passed.
// The matching sector stays locked; null when the reader ends first. `passed` counts the others.
const uint8_t* readMatching(CdReadHandle* reader, const Key& key, uint32_t* passed)
{
    for (;;) {
        const uint8_t* sector = CdReadSector(reader, nullptr);
        if (!sector)
            return nullptr;
        if (keyOf(sector) == key)
            return sector;
        CdUnlockReadBuffer(reader, sector);
        if (passed)
            ++*passed;
    }
}

void releaseHeld(Stream& stream)
{
    for (const uint8_t*& sector : stream.held) {
        if (sector)
            CdUnlockReadBuffer(stream.reader, sector);
        sector = nullptr;
    }
}

void deliver(PsrReadRecord* record, const uint8_t* sector)
{
    std::memcpy(record->payload, sector + kXaAudioDataOffset, kXaAudioDataBytes);
    record->payloadBytes = kXaAudioDataBytes;
}

} // namespace

// ---- exports ----------------------------------------------------------------------------------

PSR_EXPORT int32_t PsrQueryPlugin(PsrPluginInfo* info)
{
    return sectorkit::describePlugin(info, "XA CD-ROM", 113, 0, MediaRawSectors);
}

PSR_EXPORT void* PsrIsSupportCDBegin(int32_t trackCount, const CdTocEntry* tracks)
{
    if (!sectorkit::hasDataTrack(tracks, trackCount))
        return nullptr;
    auto* probe = new (std::nothrow) ProbeContext;
    if (!probe)
        return nullptr;
    probe->records = static_cast<Record*>(std::malloc(kFirstCapacity * sizeof(Record)));
    probe->openIndex = new (std::nothrow) uint32_t[kFileChannelWords];
    if (!probe->records || !probe->openIndex) {
        freeProbe(probe);
        return nullptr;
    }
    probe->capacity = kFirstCapacity;
    for (size_t i = 0; i < kFileChannelWords; ++i)
        probe->openIndex[i] = kNoOpenRecord;
    return probe;
}

PSR_EXPORT int32_t PsrIsSupportCDSector(void* context, CdTocEntry track, uint32_t lba, const uint8_t* sector)
{
    auto* probe = static_cast<ProbeContext*>(context);
    if (!probe)
        return 0;
    if (!sector) {
        dropOpen(*probe);
        return 0;
    }
    if (!sectorkit::isDataTrack(track))
        return 0;
    probeSector(*probe, lba, sector);
    return 1;
}

PSR_EXPORT int32_t PsrIsSupportCDResult(void* context, int32_t index, StrInfo* info)
{
    const auto* probe = static_cast<const ProbeContext*>(context);
    if (!probe)
        return 0;
    const auto count = int32_t(probe->count);
    if (!info)
        return count;
    if (index < 0 || index >= count)
        return -1;
    const Record& r = probe->records[index];
    std::memset(info, 0, sizeof *info);
    describeAudio(info, r.coding);
    info->startSector = r.firstSector;
    info->sectorCount = uint32_t(r.stride) * (r.count - 1) + 1;
    info->durationMs = durationMs(r.count, r.coding);
    info->dataBytes = r.count * uint32_t(kXaAudioDataBytes); // modulo 2^32, as the field holds it
    return count;
}

PSR_EXPORT void PsrIsSupportCDEnd(void* context)
{
    if (context)
        freeProbe(static_cast<ProbeContext*>(context));
}

PSR_EXPORT int32_t PsrGetStrDataInfo(int32_t drive, uint32_t startSector, uint32_t sectorCount, StrInfo* info)
{
    if (!info)
        return 0;
    const uint32_t looked = sectorCount < kDescribeSectors ? sectorCount : kDescribeSectors;
    CdReadHandle* reader = openRawReader(drive, startSector, looked);
    if (!reader)
        return 0;
    const uint8_t* first = CdReadSector(reader, nullptr);
    if (!first) {
        CdReadClose(reader);
        return 0;
    }
    const Key key = keyOf(first);
    CdUnlockReadBuffer(reader, first);
    uint32_t stride = 1;
    if (sectorCount > 1) {
        uint32_t passed = 0;
        const uint8_t* next = readMatching(reader, key, &passed);
        if (!next) {
            CdReadClose(reader);
            return 0;
        }
        CdUnlockReadBuffer(reader, next);
        stride = passed + 1;
    }
    CdReadClose(reader);

    std::memset(info, 0, sizeof *info);
    describeAudio(info, key.bytes[3]);
    info->startSector = startSector;
    info->sectorCount = sectorCount;
    info->durationMs = durationMs((uint64_t(sectorCount) + stride - 1) / stride, key.bytes[3]);
    return 1;
}

PSR_EXPORT void* PsrOpenCD(int32_t drive, StrInfo* info)
{
    if (!info)
        return nullptr;
    CdReadHandle* reader = openRawReader(drive, info->startSector, info->sectorCount);
    if (!reader)
        return nullptr;
    auto* stream = new (std::nothrow) Stream;
    if (!stream) {
        CdReadClose(reader);
        return nullptr;
    }
    stream->reader = reader;
    stream->startSector = info->startSector;
    stream->sectorCount = info->sectorCount;
    stream->sampleRate = info->sampleRate;
    stream->channels = info->channels;

    auto fail = [&] {
        CdReadClose(reader);
        delete stream;
        return nullptr;
    };
    stream->held[0] = CdReadSector(reader, nullptr);
    if (!stream->held[0])
        return fail();
    stream->key = keyOf(stream->held[0]);
    // Seeking divides by the channel count: one outside 1 and 2 is taken from the coding byte.
    if (stream->channels != 1 && stream->channels != 2)
        stream->channels = sectorkit::xaChannels(stream->key.bytes[3]);
    if (stream->sectorCount > 1) {
        uint32_t passed = 0;
        stream->held[1] = readMatching(reader, stream->key, &passed);
        if (!stream->held[1])
            return fail();
        stream->stride = uint16_t(passed + 1);
    }
    return stream;
}

PSR_EXPORT int32_t PsrRead(void* handle, PsrReadRecord* record)
{
    auto* stream = static_cast<Stream*>(handle);
    if (!stream || !record)
        return 0;
    std::memset(record, 0, PSR_READ_HEADER_BYTES);
    for (const uint8_t*& sector : stream->held) {
        if (sector) {
            deliver(record, sector);
            CdUnlockReadBuffer(stream->reader, sector);
            sector = nullptr;
            return 1;
        }
    }
    const uint8_t* sector = readMatching(stream->reader, stream->key, nullptr);
    if (!sector)
        return 0;
    deliver(record, sector);
    CdUnlockReadBuffer(stream->reader, sector);
    return 1;
}

PSR_EXPORT int32_t PsrSeek(void* handle, uint32_t positionMs)
{
    auto* stream = static_cast<Stream*>(handle);
    if (!stream)
        return 0;
    releaseHeld(*stream);
    const uint64_t perSector = kSamplesPerSector / stream->channels;
    uint64_t sector = uint64_t(stream->sampleRate / 100) * (positionMs / 10) / perSector * stream->stride;
    if (sector > stream->sectorCount)
        sector = stream->sectorCount;
    return CdSetReadPointer(stream->reader, int32_t(sector), 0) < 0 ? 0 : 1;
}

PSR_EXPORT int32_t PsrClose(void* handle)
{
    auto* stream = static_cast<Stream*>(handle);
    if (!stream)
        return 0;
    releaseHeld(*stream);
    CdReadClose(stream->reader);
    delete stream;
    return 1;
}
