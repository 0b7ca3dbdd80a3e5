// What the project's plugins share at the plugin contract: the description every plugin gives of
// itself (PsrQueryPlugin), the track tests of the disc plugins, the sound fields of a stream
// description and the growth of the probes' tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

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

// The sound fields of a stream of XA ADPCM sectors with coding byte `coding`: PCM, 16 bits, the
// channels and rate of the coding. `kind` and the rest are the caller's.
void describeXaSound(StrInfo* info, uint8_t coding);

// Makes room for one more entry in a probe's table, growing its capacity by `step` when it is
// full. False when memory runs out (the table is unchanged; the probe goes on without the entry).
template <typename T> bool roomForOne(std::vector<T>& table, size_t step)
{
    if (table.size() < table.capacity())
        return true;
    try {
        table.reserve(table.capacity() + step);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// The answer of PsrIsSupportCDResult over a probe's table: the number of streams when `info` is
// null, -1 for an index outside the table, else the stream described by `describe(entry, info)`
// and the number of streams.
template <typename T, typename Describe>
int32_t probeResult(const std::vector<T>& table, int32_t index, StrInfo* info, Describe describe)
{
    const auto count = int32_t(table.size());
    if (!info)
        return count;
    if (index < 0 || index >= count)
        return -1;
    describe(table[size_t(index)], info);
    return count;
}

// Whether a table of contents (null or empty: no) holds a data track.
bool hasDataTrack(const CdTocEntry* tracks, int32_t count);

} // namespace sectorkit
