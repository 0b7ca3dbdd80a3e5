// The CDAZ record in memory: one analysed disc, its plugin entries (index = priority, 0 highest)
// and its streams, with the normalisation that restores the record's invariants, the check made
// after a load, and the test whether a record can be adopted instead of a new analysis.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "installed_plugins.h"
#include "streamkit/psr.h"
#include "tamlib/cdaz.h"

namespace tamlib {

#pragma pack(push, 1)
// One plugin that found streams, as it was at analysis time.
//   0x00 char[17] fileName    upper case, without folder
//   0x11 u8       pluginFlags bit 0: switched off for this disc
//   0x12 u16      version     PsrPluginInfo.version (x 100)
//   0x14 char[81] author
//   0x65 char[81] address
struct CdazPluginEntry
{
    char fileName[17];
    uint8_t pluginFlags;
    uint16_t version;
    char author[81];
    char address[81];
};
#pragma pack(pop)
static_assert(sizeof(CdazPluginEntry) == 182, "CdazPluginEntry is 182 bytes");

// One stream. The name is owned (malloc) and may be null.
struct CdazStreamEntry
{
    StrInfo info;
    uint8_t streamFlags;
    char* streamName;
    uint16_t pluginIndex;
};

constexpr uint8_t kCdazVersion = 5;
constexpr uint32_t kCdazAnalyzeVersion = 16515394; // 0xFC0142
constexpr uint16_t kCdazMaxPlugins = 256;
constexpr uint16_t kCdazPluginGrowth = 8;
constexpr uint32_t kCdazStreamGrowth = 1024;

constexpr uint8_t kStreamUserBits = 0x07;
constexpr uint8_t kNotEffective = 0x01 | 0x20 | 0x40;
constexpr uint8_t kNotValid = 0x01 | 0x10 | 0x20 | 0x40 | 0x80;
constexpr uint8_t kNoOverlapWalk = 0xF9; // every bit but the two user bits

} // namespace tamlib

struct CdazRecord
{
    int32_t dirty;
    uint32_t loadStatus;
    int32_t anaSector;
    uint8_t version;
    uint8_t cdazFlags;
    char name[49];
    char title[65];
    char prefix[17];
    char systemId[33];
    char volumeId[33];
    char publisherId[129];
    int32_t effectiveStreams;
    int32_t validStreams;
    uint32_t analyzeVersion;
    uint32_t pluginVersionSum;
    uint16_t pluginCapacity;
    uint16_t pluginCount;
    tamlib::CdazPluginEntry* plugins;
    uint32_t streamCapacity;
    int32_t streamCount;
    tamlib::CdazStreamEntry* streams;
};

namespace tamlib {

// A record with room for the given entries (at least one of each), every field zero but
// `version` 5; null when memory is short.
CdazRecord* cdazCreate(uint32_t pluginCapacity, uint32_t streamCapacity);
// Frees the record, its two tables and every stream name (null is allowed).
void cdazFree(CdazRecord* record);

// Copies at most size - 1 characters of `text` (null = empty) and always ends with a zero.
void cdazCopyText(char* target, size_t size, const char* text);
template <size_t N> void cdazCopyText(char (&target)[N], const char* text)
{
    cdazCopyText(target, N, text);
}

// The comb sort of the record and the file writer: ascending by `less`, not stable.
template <class T, class Less> void combSort(T* items, size_t count, Less less)
{
    static constexpr uint8_t kSmallGaps[16] = {1, 1, 1, 2, 3, 3, 4, 5, 6, 6, 7, 8, 11, 11, 11, 12};
    size_t gap = count;
    bool swapped = true;
    while (gap > 1 || swapped) {
        gap = gap >= 16 ? gap * 10 / 13 : kSmallGaps[gap];
        swapped = false;
        for (size_t i = 0; i + gap < count; ++i) {
            if (less(items[i + gap], items[i])) {
                std::swap(items[i], items[i + gap]);
                swapped = true;
            }
        }
    }
}

// Re-applies StreamHidden and StreamNoKind, sorts the streams by start sector, resolves
// overlaps by plugin priority (unless CdazKeepOverlaps) and recounts; clears `dirty`.
void cdazNormalize(CdazRecord& record);
// Runs the normalisation when the record is dirty.
void cdazNormalizeIfDirty(CdazRecord& record);

// The check after a load against the installed plugins: the flags the file carries beyond the
// user bits are dropped, the streams of missing or newer plugins and those without a duration are
// marked, and the record is normalised. Returns the status bits (1 and 2) it found.
uint32_t cdazPostLoadCheck(CdazRecord& record, std::span<const InstalledPlugin> installed);

// A record that can stand for a new analysis: complete, nothing to analyse again, and at least one
// valid stream.
bool cdazAdoptable(const CdazRecord* record);

// Looks up an installed plugin by its exact file name.
const InstalledPlugin* cdazFindInstalled(std::span<const InstalledPlugin> installed, const char* fileName);

} // namespace tamlib
