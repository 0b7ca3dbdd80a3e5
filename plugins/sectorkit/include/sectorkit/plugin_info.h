// What the project's plugins share at the plugin contract: the description every plugin gives of
// itself (PsrQueryPlugin) and the track tests of the disc plugins.
#pragma once

#include <cstdint>

#include "discport/cd_types.h"
#include "streamkit/psr.h"

namespace sectorkit {

// Fills `info` (texts cut to their fields, always ended); 0 when it is null, else 1.
int32_t describePlugin(PsrPluginInfo* info, const char* name, uint16_t version, uint16_t subVersion,
                       uint16_t mediaFlags);

constexpr bool isDataTrack(const CdTocEntry& track)
{
    return (track.control & CD_TOC_DATA_TRACK) != 0;
}

// Whether a table of contents (null or empty: no) holds a data track.
bool hasDataTrack(const CdTocEntry* tracks, int32_t count);

} // namespace sectorkit
