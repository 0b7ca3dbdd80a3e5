// The exports of the stored-sound plugins: headered sound found in files and at any byte of a
// disc's data, delivered as whole channel groups (stored_sound.h). The formats differ only in their
// headers, so each plugin defines, in its own source and before including this file once at its
// end:
//
//   kPluginName, kPluginVersion   its description
//   Header                        a parsed header: streamBytes()
//   fileHeader(name, Header&)     the header of a file, false when the file is not of the format
//   describe(const Header&, StrInfo*)
//   ProbeContext                  found (a vector of Finding: header, address), pending
//   kTableStep, probeSector(ProbeContext&, lba, const uint8_t* userData)
//   openFile(name), openDisc(drive, const StrInfo&)   a new GroupedSound, or null
//
// Not a header to include anywhere else: it defines the plugin's exported functions.
#pragma once

#include <memory>

#include "sectorkit/plugin_info.h"
#include "sectorkit/stored_sound.h"
#include "streamkit/psr.h"
#include "tamrin_common/c_guard.h"

PSR_EXPORT int32_t PsrQueryPlugin(PsrPluginInfo* info)
{
    return tamrin::guarded<int32_t>(0, [&] {
        return describePlugin(info, kPluginName, kPluginVersion, 0,
                              MediaRawSectors | MediaUserData | MediaFiles);
    });
}

PSR_EXPORT int32_t PsrIsSupportFile(const char* fileName)
{
    return tamrin::guarded<int32_t>(0, [&] {
        Header h;
        return fileHeader(fileName, h) ? 1 : 0;
    });
}

PSR_EXPORT int32_t PsrGetStrFileInfo(const char* fileName, StrInfo* info)
{
    return tamrin::guarded<int32_t>(0, [&] {
        Header h;
        if (!info || !fileHeader(fileName, h))
            return 0;
        describe(h, info);
        return 1;
    });
}

PSR_EXPORT int32_t PsrGetStrDataInfo(int32_t, uint32_t, uint32_t, StrInfo*)
{
    return 0; // a bare area is not described: streams come from the probe
}

PSR_EXPORT void* PsrIsSupportCDBegin(int32_t trackCount, const CdTocEntry* tracks)
{
    return tamrin::guarded<void*>(nullptr, [&]() -> void* {
        if (!hasDataTrack(tracks, trackCount))
            return nullptr;
        auto probe = std::make_unique<ProbeContext>();
        probe->found.reserve(kTableStep);
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
            probe->pending = false;
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
            describe(f.header, out);
            placeOnDisc(out, f.address, f.header.streamBytes());
        });
    });
}

PSR_EXPORT void PsrIsSupportCDEnd(void* context)
{
    tamrin::guardedVoid([&] { delete static_cast<ProbeContext*>(context); });
}

PSR_EXPORT void* PsrOpenFile(const char* fileName, StrInfo*)
{
    return tamrin::guarded<void*>(nullptr, [&] { return openFile(fileName); });
}

PSR_EXPORT void* PsrOpenCD(int32_t drive, StrInfo* info)
{
    return tamrin::guarded<void*>(nullptr, [&] { return info ? openDisc(drive, *info) : nullptr; });
}

PSR_EXPORT int32_t PsrRead(void* handle, PsrReadRecord* record)
{
    return tamrin::guarded<int32_t>(0, [&] {
        auto* sound = static_cast<GroupedSound*>(handle);
        return sound && record ? sound->read(record) : 0;
    });
}

PSR_EXPORT int32_t PsrSeek(void* handle, uint32_t positionMs)
{
    return tamrin::guarded<int32_t>(0, [&] {
        auto* sound = static_cast<GroupedSound*>(handle);
        return sound && sound->seekMs(positionMs) ? 1 : 0;
    });
}

PSR_EXPORT int32_t PsrClose(void* handle)
{
    return tamrin::guarded<int32_t>(0, [&] {
        auto* sound = static_cast<GroupedSound*>(handle);
        if (!sound)
            return 0;
        delete sound;
        return 1;
    });
}
