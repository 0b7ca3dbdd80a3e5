// The exports of a disc movie plugin built on the disc movie engine (disc_movie.h). The formats
// differ only in their rules, so each plugin defines, before including this file once at the end
// of its source: kRules (its DiscMovieRules) and kPluginName, kPluginVersion, kPluginSubVersion
// (its description). Not a header to include anywhere else: it defines the exported functions.
#pragma once

#include "sectorkit/disc_movie.h"
#include "sectorkit/plugin_info.h"
#include "streamkit/psr.h"
#include "tamrin_common/c_guard.h"

PSR_EXPORT int32_t PsrQueryPlugin(PsrPluginInfo* info)
{
    return tamrin::guarded<int32_t>(0, [&] {
        return describePlugin(info, kPluginName, kPluginVersion, kPluginSubVersion, MediaRawSectors);
    });
}

PSR_EXPORT void* PsrIsSupportCDBegin(int32_t trackCount, const CdTocEntry* tracks)
{
    return tamrin::guarded<void*>(nullptr, [&] { return discMovieProbeBegin(kRules, trackCount, tracks); });
}

PSR_EXPORT int32_t PsrIsSupportCDSector(void* context, CdTocEntry track, uint32_t lba, const uint8_t* sector)
{
    return tamrin::guarded<int32_t>(0, [&] { return discMovieProbeSector(context, track, lba, sector); });
}

PSR_EXPORT int32_t PsrIsSupportCDResult(void* context, int32_t index, StrInfo* info)
{
    return tamrin::guarded<int32_t>(0, [&] { return discMovieProbeResult(context, index, info); });
}

PSR_EXPORT void PsrIsSupportCDEnd(void* context)
{
    tamrin::guardedVoid([&] { discMovieProbeEnd(context); });
}

PSR_EXPORT int32_t PsrGetStrDataInfo(int32_t drive, uint32_t startSector, uint32_t sectorCount, StrInfo* info)
{
    return tamrin::guarded<int32_t>(
        0, [&] { return discMovieDescribeArea(kRules, drive, startSector, sectorCount, info); });
}

PSR_EXPORT void* PsrOpenCD(int32_t drive, StrInfo* info)
{
    return tamrin::guarded<void*>(nullptr, [&] { return discMovieOpen(kRules, drive, info); });
}

PSR_EXPORT int32_t PsrRead(void* handle, PsrReadRecord* record)
{
    return tamrin::guarded<int32_t>(0, [&] { return discMovieRead(handle, record); });
}

PSR_EXPORT int32_t PsrSeek(void* handle, uint32_t positionMs)
{
    return tamrin::guarded<int32_t>(0, [&] { return discMovieSeek(handle, positionMs); });
}

PSR_EXPORT int32_t PsrClose(void* handle)
{
    return tamrin::guarded<int32_t>(0, [&] { return discMovieClose(handle); });
}
