// The CDAZ record: creation, normalisation, the check after a load, adoption.
#include "cdaz/cdaz_record.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace tamlib {

namespace {

constexpr uint8_t kKindMask = 0x0F;


bool takesPart(const CdazStreamEntry& stream)
{
    return (stream.streamFlags & kNoOverlapWalk) == 0;
}

} // namespace

CdazRecord* cdazCreate(uint32_t pluginCapacity, uint32_t streamCapacity)
{
    if (pluginCapacity == 0)
        pluginCapacity = 1;
    if (pluginCapacity > 0xFFFF)
        pluginCapacity = 0xFFFF;
    if (streamCapacity == 0)
        streamCapacity = 1;
    auto* record = static_cast<CdazRecord*>(std::calloc(1, sizeof(CdazRecord)));
    if (!record)
        return nullptr;
    record->plugins = static_cast<CdazPluginEntry*>(std::calloc(pluginCapacity, sizeof(CdazPluginEntry)));
    record->streams = static_cast<CdazStreamEntry*>(std::calloc(streamCapacity, sizeof(CdazStreamEntry)));
    if (!record->plugins || !record->streams) {
        cdazFree(record);
        return nullptr;
    }
    record->version = kCdazVersion;
    record->pluginCapacity = uint16_t(pluginCapacity);
    record->streamCapacity = streamCapacity;
    return record;
}

void cdazFree(CdazRecord* record)
{
    if (!record)
        return;
    if (record->streams)
        for (int32_t i = 0; i < record->streamCount; ++i)
            std::free(record->streams[i].streamName);
    std::free(record->streams);
    std::free(record->plugins);
    std::free(record);
}

void cdazCopyText(char* target, size_t size, const char* text)
{
    if (!target || size == 0)
        return;
    size_t length = text ? strnlen(text, size - 1) : 0;
    if (length)
        std::memcpy(target, text, length);
    target[length] = 0;
}

void cdazNormalize(CdazRecord& record)
{
    CdazStreamEntry* streams = record.streams;
    const size_t count = record.streamCount > 0 ? size_t(record.streamCount) : 0;

    for (size_t i = 0; i < count; ++i) {
        CdazStreamEntry& stream = streams[i];
        stream.streamFlags &= uint8_t(~PLB_CDAZ_STREAM_HIDDEN);
        if (stream.pluginIndex < record.pluginCount &&
            (record.plugins[stream.pluginIndex].pluginFlags & PLB_CDAZ_PLUGIN_OFF))
            stream.streamFlags |= PLB_CDAZ_STREAM_HIDDEN;
    }

    combSort(streams, count, [](const CdazStreamEntry& a, const CdazStreamEntry& b) {
        return int32_t(a.info.startSector) < int32_t(b.info.startSector);
    });

    for (size_t i = 0; i < count; ++i)
        if ((streams[i].info.kind & kKindMask) == 0)
            streams[i].streamFlags |= PLB_CDAZ_STREAM_NO_KIND;

    record.dirty = 0;
    if (record.cdazFlags & PLB_CDAZ_KEEP_OVERLAPS)
        return;

    for (size_t i = 0; i < count; ++i) {
        if (!takesPart(streams[i]))
            continue;
        CdazStreamEntry* current = &streams[i];
        for (size_t j = i + 1; j < count; ++j) {
            CdazStreamEntry& later = streams[j];
            if (!takesPart(later))
                continue;
            const uint32_t laterEnd = later.info.startSector + later.info.sectorCount;
            if (current->info.startSector >= laterEnd)
                continue;
            if (current->info.startSector + current->info.sectorCount <= later.info.startSector)
                break;
            if (current->pluginIndex > later.pluginIndex) {
                current->streamFlags |= PLB_CDAZ_STREAM_HIDDEN;
                current = &later;
            } else if (current->pluginIndex < later.pluginIndex) {
                later.streamFlags |= PLB_CDAZ_STREAM_HIDDEN;
            }
        }
    }

    int32_t effective = 0, valid = 0;
    for (size_t i = 0; i < count; ++i) {
        effective += (streams[i].streamFlags & kNotEffective) == 0;
        valid += (streams[i].streamFlags & kNotValid) == 0;
    }
    record.effectiveStreams = effective;
    record.validStreams = valid;
}

void cdazNormalizeIfDirty(CdazRecord& record)
{
    if (record.dirty)
        cdazNormalize(record);
}

const InstalledPlugin* cdazFindInstalled(std::span<const InstalledPlugin> installed, const char* fileName)
{
    if (!fileName)
        return nullptr;
    for (const InstalledPlugin& plugin : installed)
        if (plugin.file == fileName)
            return &plugin;
    return nullptr;
}

uint32_t cdazPostLoadCheck(CdazRecord& record, std::span<const InstalledPlugin> installed)
{
    const size_t count = record.streamCount > 0 ? size_t(record.streamCount) : 0;
    uint32_t status = 0;

    std::vector<uint8_t> hasContent(record.pluginCount, 0);
    for (size_t i = 0; i < count; ++i) {
        CdazStreamEntry& stream = record.streams[i];
        stream.streamFlags &= kStreamUserBits;
        if ((stream.info.kind & kKindMask) && stream.pluginIndex < record.pluginCount)
            hasContent[stream.pluginIndex] = 1;
    }

    uint32_t sum = 0;
    std::vector<uint8_t> marks(record.pluginCount, 0);
    for (uint16_t p = 0; p < record.pluginCount; ++p) {
        const CdazPluginEntry& entry = record.plugins[p];
        sum += entry.version;
        char fileName[sizeof entry.fileName];
        cdazCopyText(fileName, entry.fileName);
        if (const InstalledPlugin* plugin = cdazFindInstalled(installed, fileName)) {
            if (entry.version < plugin->subVersion) {
                marks[p] = PLB_CDAZ_STREAM_REANALYZE;
                status |= PLB_CDAZ_LOAD_REANALYZE;
            }
        } else if (hasContent[p]) {
            marks[p] = PLB_CDAZ_STREAM_NO_PLUGIN;
            status |= PLB_CDAZ_LOAD_NO_PLUGIN;
        }
    }
    record.pluginVersionSum = sum;

    for (size_t i = 0; i < count; ++i) {
        CdazStreamEntry& stream = record.streams[i];
        if (stream.pluginIndex < record.pluginCount)
            stream.streamFlags |= marks[stream.pluginIndex];
        if (stream.info.durationMs == 0) {
            stream.streamFlags |= PLB_CDAZ_STREAM_REANALYZE;
            status |= PLB_CDAZ_LOAD_REANALYZE;
        }
    }
    cdazNormalize(record);
    return status;
}

bool cdazAdoptable(const CdazRecord* record)
{
    return record && record->anaSector == -1 && !(record->loadStatus & PLB_CDAZ_LOAD_REANALYZE) &&
           record->validStreams != 0;
}

} // namespace tamlib
