#include "sectorkit/plugin_info.h"

#include "sectorkit/str_sector.h"

#include <algorithm>
#include <cstring>

namespace sectorkit {

namespace {

template <size_t N> void copyText(char (&field)[N], const char* text)
{
    const size_t length = std::min(std::strlen(text), N - 1);
    std::memcpy(field, text, length);
    field[length] = '\0';
}

} // namespace

int32_t describePlugin(PsrPluginInfo* info, const char* name, uint16_t version, uint16_t subVersion,
                       uint16_t mediaFlags)
{
    if (!info)
        return 0;
    copyText(info->name, name);
    copyText(info->copyright, "Copyright (c) the Tamrin developers");
    copyText(info->author, "The Tamrin developers");
    info->version = version;
    info->subVersion = subVersion;
    info->interfaceVersion = PSR_INTERFACE_VERSION;
    info->mediaFlags = mediaFlags;
    return 1;
}

void describeXaSound(StrInfo* info, uint8_t coding)
{
    info->audioFormat = 1;
    info->bitsPerSample = 16;
    info->channels = xaChannels(coding);
    info->sampleRate = xaSampleRate(coding);
}

bool hasDataTrack(const CdTocEntry* tracks, int32_t count)
{
    return tracks && count > 0 && std::any_of(tracks, tracks + count, isDataTrack);
}

} // namespace sectorkit
