// The exported CDAZ operations: names, files of the "Analyze" folder, records and their edits.
// They reach the environment only here (installed plugins, default folder); the work is done by
// the functions of cdaz_store.h and cdaz_record.h.
#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "cdaz/cdaz_store.h"
#include "tamrin_common/c_guard.h"

using tamlib::cdazCopyText;

struct CdazSearch
{
    DIR* dir;
    std::filesystem::path folder;
};

namespace {

constexpr size_t kNameCut = 36;
constexpr size_t kMaxListedName = 48;

std::span<const tamlib::InstalledPlugin> installed()
{
    return tamlib::installedPlugins();
}

std::string comparable(const std::filesystem::path& path)
{
    std::error_code error;
    std::string text = std::filesystem::absolute(path, error).lexically_normal().string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

// The folder of an operation; `other` tells whether it differs from the default one.
std::filesystem::path folderOf(const char* folder, bool* other)
{
    const std::filesystem::path standard = tamlib::analyzeFolder();
    *other = false;
    if (!folder || !*folder)
        return standard;
    const std::string given = comparable(folder);
    if (strcasecmp(given.c_str(), comparable(standard).c_str()) == 0)
        return standard;
    *other = true;
    return folder;
}

bool endsWithCdaz(const char* name)
{
    const size_t length = std::strlen(name);
    return length >= 5 && strcasecmp(name + length - 5, ".cdaz") == 0;
}

bool validIndex(const CdazRecord* record, int32_t index, int32_t count)
{
    return record && index >= 0 && index < count;
}

} // namespace

PLB_API char* PlbMakeCDAZName(int32_t trackCount, const CdTocEntry* tracks, const CdVolumeInfo* volume,
                              char* name)
{
    return tamrin::guarded<char*>(nullptr, [&]() -> char* {
        if (!name)
            return nullptr;
        const int32_t count = tracks ? std::max(trackCount, 0) : 0;
        std::string text;
        if (volume) {
            for (size_t i = 0; i < sizeof volume->volumeId && volume->volumeId[i]; ++i) {
                const char c = volume->volumeId[i];
                if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')
                    text += c;
            }
        }
        text += std::to_string(count);
        for (int32_t t = 0; t < count && text.size() <= kNameCut; ++t) {
            char piece[24];
            std::snprintf(piece, sizeof piece, "%02x%d", tracks[t].control, int32_t(tracks[t].start));
            text += piece;
        }
        text.resize(std::min(text.size(), kNameCut));
        const uint32_t end = count ? tracks[count - 1].start + tracks[count - 1].length : 0;
        text += std::to_string(int32_t(end)) + ".cdaz";
        cdazCopyText(name, PLB_CDAZ_NAME_BYTES, text.c_str());
        return name;
    });
}

PLB_API CdazSearch* PlbFindCDAZ(CdazSearch* search, char* name)
{
    return tamrin::guarded<CdazSearch*>(nullptr, [&]() -> CdazSearch* {
        if (search && !name) {
            closedir(search->dir);
            delete search;
            return nullptr;
        }
        if (!name)
            return nullptr;
        if (!search) {
            std::filesystem::path folder = tamlib::analyzeFolder();
            DIR* dir = opendir(folder.c_str());
            if (!dir)
                return nullptr;
            search = new CdazSearch{dir, std::move(folder)};
        }
        while (const dirent* entry = readdir(search->dir)) {
            if (!endsWithCdaz(entry->d_name) || std::strlen(entry->d_name) > kMaxListedName)
                continue;
            bool folder = entry->d_type == DT_DIR;
            if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
                struct stat info
                {
                };
                folder =
                    ::stat((search->folder / entry->d_name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
            }
            if (folder)
                continue;
            cdazCopyText(name, PLB_CDAZ_NAME_BYTES, entry->d_name);
            return search;
        }
        closedir(search->dir);
        delete search;
        return nullptr;
    });
}

namespace {

PlbCdazLoad loadCdaz(const char* folder, const char* fileName, int32_t* status, tamlib::CdazWrites writes)
{
    PlbCdazLoad result{nullptr, PLB_CDAZ_LOAD_MISSING};
    const bool loaded = tamrin::guarded<bool>(false, [&] {
        if (fileName && *fileName) {
            bool other = false;
            const std::filesystem::path path = folderOf(folder, &other) / fileName;
            result.record = tamlib::cdazLoadFile(path, installed(), other ? PLB_CDAZ_LOAD_OTHER_FOLDER : 0,
                                                 &result.status, writes);
        }
        return true;
    });
    if (!loaded)
        result = {nullptr, PLB_CDAZ_LOAD_CORRUPT};
    if (status)
        *status = int32_t(result.status);
    return result;
}

} // namespace

PLB_API PlbCdazLoad PlbLoadCDAZ(const char* folder, const char* fileName, int32_t* status)
{
    return tamrin::guarded<PlbCdazLoad>(PlbCdazLoad{nullptr, PLB_CDAZ_LOAD_CORRUPT}, [&] {
        return loadCdaz(folder, fileName, status, tamlib::CdazWrites::Convert);
    });
}

PLB_API PlbCdazLoad PlbReadCDAZ(const char* folder, const char* fileName, int32_t* status)
{
    return tamrin::guarded<PlbCdazLoad>(PlbCdazLoad{nullptr, PLB_CDAZ_LOAD_CORRUPT}, [&] {
        return loadCdaz(folder, fileName, status, tamlib::CdazWrites::Never);
    });
}

PLB_API int32_t PlbSaveCDAZ(const char* folder, const char* fileName, CdazRecord* record)
{
    if (!record)
        return 0;
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        bool other = false;
        const char* name = fileName && *fileName ? fileName : record->name;
        if (!*name)
            return 0;
        return tamlib::cdazSaveFile(folderOf(folder, &other) / name, *record) ? 1 : 0;
    });
}

PLB_API int32_t PlbDeleteCDAZ(const char* folder, const char* fileName)
{
    if (!fileName || !*fileName)
        return 0;
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        bool other = false;
        return ::unlink((folderOf(folder, &other) / fileName).c_str()) == 0 ? 1 : 0;
    });
}

PLB_API CdazRecord* PlbAllocCDAZ(const char* name, const char* title, const char* prefix,
                                 const CdVolumeInfo* volume, int32_t pluginCapacity, int32_t streamCapacity)
{
    return tamrin::guarded<CdazRecord*>(nullptr, [&]() -> CdazRecord* {
        if (pluginCapacity <= 0)
            pluginCapacity = tamlib::kCdazPluginGrowth;
        if (streamCapacity <= 0)
            streamCapacity = int32_t(tamlib::kCdazStreamGrowth);
        CdazRecord* record = tamlib::cdazCreate(
            std::min<uint32_t>(uint32_t(pluginCapacity), tamlib::kCdazMaxPlugins), uint32_t(streamCapacity));
        if (!record)
            return nullptr;
        record->analyzeVersion = tamlib::kCdazAnalyzeVersion;
        cdazCopyText(record->name, name);
        cdazCopyText(record->title, title);
        cdazCopyText(record->prefix, prefix);
        if (volume) {
            char text[130];
            cdazCopyText(text, sizeof volume->systemId + 1, volume->systemId);
            cdazCopyText(record->systemId, text);
            cdazCopyText(text, sizeof volume->volumeId + 1, volume->volumeId);
            cdazCopyText(record->volumeId, text);
            cdazCopyText(text, sizeof volume->publisherId + 1, volume->publisherId);
            cdazCopyText(record->publisherId, text);
        }
        return record;
    });
}

PLB_API void PlbFreeCDAZ(CdazRecord* record)
{
    tamrin::guardedVoid([&] { tamlib::cdazFree(record); });
}

PLB_API int32_t PlbGetCDAZInfo(CdazRecord* record, char* name, char* title, char* prefix, int32_t* flags,
                               int32_t* anaSector)
{
    return tamrin::guarded<int32_t>(-1, [&]() -> int32_t {
        if (!record)
            return -1;
        tamlib::cdazNormalizeIfDirty(*record);
        if (name)
            cdazCopyText(name, PLB_CDAZ_NAME_BYTES, record->name);
        if (title)
            cdazCopyText(title, PLB_CDAZ_TITLE_BYTES, record->title);
        if (prefix)
            cdazCopyText(prefix, PLB_CDAZ_PREFIX_BYTES, record->prefix);
        if (flags)
            *flags = record->cdazFlags;
        if (anaSector)
            *anaSector = record->anaSector;
        return record->streamCount;
    });
}

PLB_API int32_t PlbSetCDAZInfo(CdazRecord* record, const char* title, const char* prefix, int32_t mask,
                               int32_t value)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        if (!record)
            return 0;
        if (title)
            cdazCopyText(record->title, title);
        if (prefix)
            cdazCopyText(record->prefix, prefix);
        record->cdazFlags = uint8_t((record->cdazFlags & ~mask) | (value & mask));
        return 1;
    });
}

PLB_API int32_t PlbSetCDAZAnaSector(CdazRecord* record, int32_t sector)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        if (!record)
            return 0;
        record->anaSector = sector;
        return 1;
    });
}

PLB_API int32_t PlbGetCDAZStream(CdazRecord* record, int32_t index, StrInfo* info, char* name, int32_t* flags,
                                 int32_t* pluginIndex)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        if (!record)
            return 0;
        tamlib::cdazNormalizeIfDirty(*record);
        if (!validIndex(record, index, record->streamCount))
            return 0;
        const tamlib::CdazStreamEntry& stream = record->streams[index];
        if (info)
            *info = stream.info;
        if (name) {
            if (stream.streamName && *stream.streamName)
                cdazCopyText(name, PLB_CDAZ_STREAM_NAME_BYTES, stream.streamName);
            else
                std::snprintf(name, PLB_CDAZ_STREAM_NAME_BYTES, "%s%04d", record->prefix, index + 1);
        }
        if (flags)
            *flags = stream.streamFlags;
        if (pluginIndex)
            *pluginIndex = stream.pluginIndex;
        return 1;
    });
}

PLB_API int32_t PlbSetCDAZStream(CdazRecord* record, int32_t index, const StrInfo* info, const char* name,
                                 int32_t mask, int32_t value)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        if (!record || !validIndex(record, index, record->streamCount))
            return 0;
        tamlib::CdazStreamEntry& stream = record->streams[index];
        if (name) {
            char* copy = nullptr;
            if (*name && !(copy = strdup(name)))
                return 0;
            std::free(stream.streamName);
            stream.streamName = copy;
        }
        if (info)
            stream.info = *info;
        if (mask)
            stream.streamFlags = uint8_t((stream.streamFlags & ~mask) | (value & mask));
        record->dirty = 1;
        return 1;
    });
}

PLB_API int32_t PlbSetStreamCDAZ(CdazRecord* record, const char* streamName, const StrInfo* info,
                                 const char* pluginFile, int32_t pluginVersion, const char* author,
                                 const char* address)
{
    if (!record || !info)
        return 0;
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        return tamlib::cdazAddStream(*record, streamName, *info, pluginFile, uint16_t(pluginVersion), author,
                                     address, installed())
                   ? 1
                   : 0;
    });
}

PLB_API int32_t PlbGetCDAZPlugin(CdazRecord* record, int32_t index, char* fileName, char* name,
                                 int16_t* version, char* author, char* address)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        for (char* text : {fileName, name, author, address})
            if (text)
                *text = 0;
        if (!record)
            return 0;
        tamlib::cdazNormalizeIfDirty(*record);
        if (!validIndex(record, index, record->pluginCount))
            return 0;
        const tamlib::CdazPluginEntry& entry = record->plugins[index];
        char file[sizeof entry.fileName];
        cdazCopyText(file, entry.fileName);
        if (fileName)
            cdazCopyText(fileName, PLB_CDAZ_PLUGIN_FILE_BYTES, file);
        if (name)
            if (const tamlib::InstalledPlugin* plugin = tamlib::cdazFindInstalled(installed(), file))
                cdazCopyText(name, PLB_CDAZ_PLUGIN_NAME_BYTES, plugin->name.c_str());
        if (version)
            *version = int16_t(entry.version);
        if (author)
            cdazCopyText(author, PLB_CDAZ_AUTHOR_BYTES, entry.author);
        if (address)
            cdazCopyText(address, PLB_CDAZ_ADDRESS_BYTES, entry.address);
        return 1;
    });
}

PLB_API int32_t PlbSetCDAZPluginFlags(CdazRecord* record, int32_t index, int32_t mask, int32_t value)
{
    return tamrin::guarded<int32_t>(-1, [&]() -> int32_t {
        if (!record || !validIndex(record, index, record->pluginCount))
            return -1;
        tamlib::CdazPluginEntry& entry = record->plugins[index];
        if (mask)
            entry.pluginFlags = uint8_t((entry.pluginFlags & ~mask) | value);
        record->dirty = 1;
        return entry.pluginFlags;
    });
}

PLB_API int32_t PlbSetCDAZPluginPriority(CdazRecord* record, int32_t from, int32_t to)
{
    return tamrin::guarded<int32_t>(
        0, [&]() -> int32_t { return record && tamlib::cdazMovePlugin(*record, from, to) ? 1 : 0; });
}

PLB_API int32_t PlbSetCDAZPluginPriAll(CdazRecord* record, int32_t count, const int32_t* positions)
{
    if (!record)
        return 0;
    return tamrin::guarded<int32_t>(
        0, [&]() -> int32_t { return tamlib::cdazReorderPlugins(*record, count, positions) ? 1 : 0; });
}
