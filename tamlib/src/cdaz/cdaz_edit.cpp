// Edits of a CDAZ record that grow or reorder its tables. Each one either completes or leaves the
// record as it was.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cdaz/cdaz_store.h"

namespace tamlib {

namespace {

bool isMissing(const char* text)
{
    return !text || !*text;
}

} // namespace

bool cdazAddStream(CdazRecord& record, const char* streamName, const StrInfo& info, const char* pluginFile,
                   uint16_t pluginVersion, const char* author, const char* address,
                   std::span<const InstalledPlugin> installed)
{
    char fileName[sizeof(CdazPluginEntry::fileName)];
    cdazCopyText(fileName, pluginFile);

    int32_t pluginIndex = -1;
    for (uint16_t p = 0; p < record.pluginCount; ++p) {
        if (std::strcmp(record.plugins[p].fileName, fileName) == 0 &&
            record.plugins[p].version == pluginVersion) {
            pluginIndex = p;
            break;
        }
    }
    if (pluginIndex < 0 && record.pluginCount >= kCdazMaxPlugins)
        return false;

    char* name = nullptr;
    if (!isMissing(streamName) && !(name = strdup(streamName)))
        return false;

    if (uint32_t(record.streamCount) >= record.streamCapacity) {
        const uint64_t capacity = uint64_t(record.streamCapacity) + kCdazStreamGrowth;
        void* grown = capacity <= 0x7FFFFFFF
                          ? std::realloc(record.streams, capacity * sizeof(CdazStreamEntry))
                          : nullptr;
        if (!grown) {
            std::free(name);
            return false;
        }
        record.streams = static_cast<CdazStreamEntry*>(grown);
        record.streamCapacity = uint32_t(capacity);
    }

    if (pluginIndex < 0) {
        if (record.pluginCount >= record.pluginCapacity) {
            const uint32_t capacity =
                std::min<uint32_t>(uint32_t(record.pluginCapacity) + kCdazPluginGrowth, kCdazMaxPlugins);
            void* grown = std::realloc(record.plugins, capacity * sizeof(CdazPluginEntry));
            if (!grown) {
                std::free(name);
                return false;
            }
            record.plugins = static_cast<CdazPluginEntry*>(grown);
            record.pluginCapacity = uint16_t(capacity);
        }
        CdazPluginEntry entry{};
        cdazCopyText(entry.fileName, fileName);
        entry.version = pluginVersion;
        const InstalledPlugin* plugin = cdazFindInstalled(installed, fileName);
        cdazCopyText(entry.author, !isMissing(author) ? author : plugin ? plugin->author.c_str() : nullptr);
        cdazCopyText(entry.address, !isMissing(address) ? address
                                    : plugin            ? plugin->address.c_str()
                                                        : nullptr);
        pluginIndex = record.pluginCount;
        record.plugins[record.pluginCount++] = entry;
    }

    CdazStreamEntry& stream = record.streams[record.streamCount++];
    stream = CdazStreamEntry{};
    stream.info = info;
    stream.streamName = name;
    stream.pluginIndex = uint16_t(pluginIndex);
    record.dirty = 1;
    return true;
}

bool cdazMovePlugin(CdazRecord& record, int32_t from, int32_t to)
{
    const int32_t count = record.pluginCount;
    if (from < 0 || from >= count)
        return false;
    to = std::clamp(to, 0, count - 1);
    const CdazPluginEntry moved = record.plugins[from];
    if (from < to)
        std::memmove(&record.plugins[from], &record.plugins[from + 1],
                     size_t(to - from) * sizeof(CdazPluginEntry));
    else if (from > to)
        std::memmove(&record.plugins[to + 1], &record.plugins[to],
                     size_t(from - to) * sizeof(CdazPluginEntry));
    record.plugins[to] = moved;
    for (int32_t i = 0; i < record.streamCount; ++i) {
        uint16_t& index = record.streams[i].pluginIndex;
        if (index == from)
            index = uint16_t(to);
        else if (from < to && index > from && index <= to)
            --index;
        else if (from > to && index >= to && index < from)
            ++index;
    }
    record.dirty = 1;
    return true;
}

bool cdazReorderPlugins(CdazRecord& record, int32_t count, const int32_t* positions)
{
    const int32_t plugins = record.pluginCount;
    if (count < 0 || count > plugins || (count > 0 && !positions))
        return false;
    std::vector<uint16_t> place(size_t(plugins), 0);
    std::vector<uint8_t> taken(size_t(plugins), 0);
    for (int32_t k = 0; k < count; ++k) {
        const int32_t position = positions[k];
        if (position < 0 || position >= plugins || taken[size_t(position)])
            return false;
        place[size_t(k)] = uint16_t(position);
        taken[size_t(position)] = 1;
    }
    int32_t next = 0;
    for (int32_t k = count; k < plugins; ++k) {
        while (taken[size_t(next)])
            ++next;
        place[size_t(k)] = uint16_t(next);
        taken[size_t(next)] = 1;
    }
    auto* table = static_cast<CdazPluginEntry*>(
        std::calloc(std::max<uint32_t>(record.pluginCapacity, 1), sizeof(CdazPluginEntry)));
    if (!table)
        return false;
    for (int32_t k = 0; k < plugins; ++k)
        table[place[size_t(k)]] = record.plugins[k];
    for (int32_t i = 0; i < record.streamCount; ++i) {
        uint16_t& index = record.streams[i].pluginIndex;
        if (index < plugins)
            index = place[index];
    }
    std::free(record.plugins);
    record.plugins = table;
    record.dirty = 1;
    return true;
}

} // namespace tamlib
