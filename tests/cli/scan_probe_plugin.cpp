// A CD plugin for the disc scan tests that reports what the scan gave it: one "stream" per call
// of PsrIsSupportCDSector, in call order. Built several times:
//   PROBE_MEDIA       its mediaFlags (MediaRawSectors, MediaUserData or both)
//   PROBE_LEAVE_AFTER answers 0 (leaves the track) at the n-th sector of every track; 0: never
//
// A reported call: startSector = the sector number given, sectorCount = the first four bytes of
// the data (little-endian), width = the track number, height = the call's ordinal from 1,
// reserved = 1 for the closing call with no data (0 otherwise).
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "streamkit/psr.h"

#ifndef PROBE_MEDIA
#define PROBE_MEDIA MediaRawSectors
#endif
#ifndef PROBE_LEAVE_AFTER
#define PROBE_LEAVE_AFTER 0
#endif

namespace {

// More calls than any test disc gives; beyond it, calls are counted but not kept.
constexpr size_t kMaxKept = 100000;

struct Probe
{
    std::vector<StrInfo> calls;
    uint32_t count = 0;
    uint32_t inTrack = 0;
    uint8_t track = 0;
};

} // namespace

PSR_EXPORT int32_t PsrQueryPlugin(PsrPluginInfo* info)
{
    std::strcpy(info->name, "Scan probe");
    info->version = 100;
    info->interfaceVersion = PSR_INTERFACE_VERSION;
    info->mediaFlags = PROBE_MEDIA;
    return 1;
}

PSR_EXPORT void* PsrIsSupportCDBegin(int32_t trackCount, const CdTocEntry* tracks)
{
    if (trackCount <= 0 || !tracks)
        return nullptr;
    return new (std::nothrow) Probe;
}

PSR_EXPORT int32_t PsrIsSupportCDSector(void* context, CdTocEntry track, uint32_t lba, const uint8_t* sector)
{
    auto* probe = static_cast<Probe*>(context);
    if (!probe)
        return 0;
    if (track.track != probe->track) {
        probe->track = track.track;
        probe->inTrack = 0;
    }
    StrInfo call{};
    call.startSector = lba;
    call.width = track.track;
    call.height = ++probe->count;
    if (sector)
        std::memcpy(&call.sectorCount, sector, 4);
    else
        call.reserved = 1;
    if (probe->calls.size() < kMaxKept)
        probe->calls.push_back(call);
    if (!sector)
        return 0;
    ++probe->inTrack;
    constexpr uint32_t kLeaveAfter = PROBE_LEAVE_AFTER;
    return kLeaveAfter != 0 && probe->inTrack == kLeaveAfter ? 0 : 1;
}

PSR_EXPORT int32_t PsrIsSupportCDResult(void* context, int32_t index, StrInfo* info)
{
    const auto* probe = static_cast<const Probe*>(context);
    if (!probe)
        return 0;
    const auto count = int32_t(probe->calls.size());
    if (!info)
        return count;
    if (index < 0 || index >= count)
        return -1;
    *info = probe->calls[size_t(index)];
    return count;
}

PSR_EXPORT void PsrIsSupportCDEnd(void* context)
{
    delete static_cast<Probe*>(context);
}

PSR_EXPORT int32_t PsrGetStrDataInfo(int32_t, uint32_t, uint32_t, StrInfo*)
{
    return 0;
}

PSR_EXPORT void* PsrOpenCD(int32_t, StrInfo*)
{
    return nullptr;
}

PSR_EXPORT int32_t PsrClose(void*)
{
    return 0;
}

PSR_EXPORT int32_t PsrRead(void*, PsrReadRecord*)
{
    return 0;
}

PSR_EXPORT int32_t PsrSeek(void*, uint32_t)
{
    return 0;
}
