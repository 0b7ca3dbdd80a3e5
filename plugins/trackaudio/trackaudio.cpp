// Trackaudio: every audio track of the disc's table of contents is one stream of raw 44100 Hz
// 16-bit stereo samples. The streams come from the track table alone; no sector is looked at.
//
// Probe context: the number of audio tracks n, then copies of their n 12-byte CdTocEntry
// records, in table order.
//
// Units: up to four whole 2352-byte sectors, in disc order, at payload + i x 2352; unitKind 0,
// so the host offers each unit to PsrDecodeAudio, which hands the samples over unchanged.
// A sector the drive cannot read is delivered as 2352 bytes of silence.
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "discport/discport.h"
#include "sectorkit/plugin_info.h"
#include "streamkit/psr.h"
#include "tamrin_common/c_guard.h"

namespace {

constexpr uint32_t kSectorBytes = 2352;
constexpr uint32_t kSectorsPerUnit = 4;
constexpr uint32_t kSectorsPerSecond = 75;
constexpr int32_t kSpinSpeed = 4;

struct ProbeContext
{
    std::vector<CdTocEntry> tracks; // the audio tracks, in table order
};

struct Stream
{
    CdReadHandle* reader = nullptr;
    uint32_t startSector = 0;
    uint32_t sectorCount = 0;
    int32_t remaining = 0;
};

bool isAudioTrack(const CdTocEntry& entry)
{
    return !sectorkit::isDataTrack(entry);
}

void describe(uint32_t start, uint32_t count, StrInfo* info)
{
    std::memset(info, 0, sizeof *info);
    info->kind = StrAudio;
    info->startSector = start;
    info->sectorCount = count;
    info->audioFormat = 1;
    info->channels = 2;
    info->bitsPerSample = 16;
    info->sampleRate = 44100;
    info->durationMs = uint32_t(uint64_t(count) * 1000 / kSectorsPerSecond);
    info->dataBytes = count * kSectorBytes; // modulo 2^32, as the 32-bit field holds it
}

} // namespace

// ---- exports ----------------------------------------------------------------------------------

PSR_EXPORT int32_t PsrQueryPlugin(PsrPluginInfo* info)
{
    return tamrin::guarded<int32_t>(
        0, [&]() -> int32_t { return sectorkit::describePlugin(info, "CD-DA", 131, 0, MediaRawSectors); });
}

PSR_EXPORT void* PsrIsSupportCDBegin(int32_t trackCount, const CdTocEntry* tracks)
{
    return tamrin::guarded<void*>(nullptr, [&]() -> void* {
        if (trackCount <= 0 || !tracks)
            return nullptr;
        int32_t audio = 0;
        for (int32_t i = 0; i < trackCount; ++i)
            audio += isAudioTrack(tracks[i]) ? 1 : 0;
        if (audio == 0)
            return nullptr;
        auto context = std::make_unique<ProbeContext>();
        context->tracks.reserve(size_t(audio));
        for (int32_t i = 0; i < trackCount; ++i) {
            if (isAudioTrack(tracks[i]))
                context->tracks.push_back(tracks[i]);
        }
        return context.release();
    });
}

PSR_EXPORT int32_t PsrIsSupportCDSector(void*, CdTocEntry, uint32_t, const uint8_t*)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t { return 0; });
}

PSR_EXPORT int32_t PsrGetStrDataInfo(int32_t, uint32_t startSector, uint32_t sectorCount, StrInfo* info)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        if (info)
            describe(startSector, sectorCount, info);
        return 1;
    });
}

PSR_EXPORT int32_t PsrIsSupportCDResult(void* context, int32_t index, StrInfo* info)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        const auto* probe = static_cast<const ProbeContext*>(context);
        if (!probe)
            return 0;
        const auto count = int32_t(probe->tracks.size());
        if (index < 0 || index >= count)
            return -1;
        if (info)
            describe(probe->tracks[index].start, probe->tracks[index].length, info);
        return count;
    });
}

PSR_EXPORT void PsrIsSupportCDEnd(void* context)
{
    tamrin::guardedVoid([&] { delete static_cast<ProbeContext*>(context); });
}

PSR_EXPORT void* PsrOpenCD(int32_t drive, StrInfo* info)
{
    return tamrin::guarded<void*>(nullptr, [&]() -> void* {
        if (!info || info->sectorCount == 0 || info->sectorCount > uint32_t(INT32_MAX))
            return nullptr;
        CdReadHandle* reader = CdReadOpen(drive, nullptr, info->startSector, info->sectorCount, kSpinSpeed);
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
        stream->remaining = int32_t(info->sectorCount);
        return stream;
    });
}

PSR_EXPORT int32_t PsrRead(void* handle, PsrReadRecord* record)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        auto* stream = static_cast<Stream*>(handle);
        if (!stream || !record)
            return 0;
        std::memset(record, 0, PSR_READ_HEADER_BYTES);
        for (uint32_t i = 0; i < kSectorsPerUnit && stream->remaining > 0; ++i) {
            uint8_t* sector = record->payload + size_t(i) * kSectorBytes;
            if (!CdReadSector(stream->reader, sector))
                std::memset(sector, 0, kSectorBytes); // unreadable: silence
            --stream->remaining;
            record->payloadBytes += kSectorBytes;
        }
        return record->payloadBytes != 0 ? 1 : 0;
    });
}

PSR_EXPORT int32_t PsrSeek(void* handle, uint32_t positionMs)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        auto* stream = static_cast<Stream*>(handle);
        if (!stream)
            return 0;
        uint64_t sector = uint64_t(positionMs) * kSectorsPerSecond / 1000;
        if (sector > stream->sectorCount)
            sector = stream->sectorCount;
        if (CdSetReadPointer(stream->reader, int32_t(sector), 0) < 0)
            return 0;
        stream->remaining = int32_t(stream->sectorCount - uint32_t(sector));
        return 1;
    });
}

PSR_EXPORT int32_t PsrClose(void* handle)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        auto* stream = static_cast<Stream*>(handle);
        if (!stream)
            return 0;
        CdReadClose(stream->reader);
        delete stream;
        return 1;
    });
}

PSR_EXPORT int32_t PsrDecodeAudio(PsrReadRecord* record, uint8_t* output, int32_t capacity)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        if (!record || !output || capacity < 0 || uint32_t(capacity) < record->payloadBytes)
            return 0;
        std::memcpy(output, record->payload, record->payloadBytes);
        return int32_t(record->payloadBytes);
    });
}
