// A still-picture plugin for the player tests: the file it opens holds one picture unit's payload
// (MDEC data, as a movie plugin hands out a frame), and its stream is that one picture. The
// description stays as the caller wrote it (kind StrStill, the picture's size); the unit is
// numbered 1, carries the size from the description and leaves the decoding to the host. A seek
// to any position delivers the picture again.
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "streamkit/psr.h"

namespace {

// A picture unit never holds more than this (24 sectors of movie data, with room to spare).
constexpr long kMostBytes = 64 * 1024;

struct Still
{
    std::vector<uint8_t> payload;
    uint32_t width = 0;
    uint32_t height = 0;
    bool delivered = false;
};

} // namespace

PSR_EXPORT int32_t PsrQueryPlugin(PsrPluginInfo* info)
{
    std::memset(info, 0, sizeof *info);
    std::strcpy(info->name, "Still test picture");
    info->version = 100;
    info->interfaceVersion = PSR_INTERFACE_VERSION;
    info->mediaFlags = MediaFiles;
    return 1;
}

PSR_EXPORT int32_t PsrIsSupportFile(const char*)
{
    return 1;
}

PSR_EXPORT int32_t PsrGetStrFileInfo(const char*, StrInfo*)
{
    return 1;
}

PSR_EXPORT void* PsrOpenFile(const char* fileName, StrInfo* info)
{
    if (!fileName || !info || info->width == 0 || info->height == 0)
        return nullptr;
    FILE* in = std::fopen(fileName, "rb");
    if (!in)
        return nullptr;
    std::vector<uint8_t> bytes(size_t(kMostBytes) + 1);
    const size_t got = std::fread(bytes.data(), 1, bytes.size(), in);
    std::fclose(in);
    if (got == 0 || got > size_t(kMostBytes))
        return nullptr;
    bytes.resize(got);
    auto* still = new (std::nothrow) Still;
    if (!still)
        return nullptr;
    still->payload = std::move(bytes);
    still->width = info->width;
    still->height = info->height;
    return still;
}

PSR_EXPORT int32_t PsrRead(void* handle, PsrReadRecord* record)
{
    auto* still = static_cast<Still*>(handle);
    if (!still || !record || still->delivered)
        return 0;
    std::memset(record, 0, PSR_READ_HEADER_BYTES);
    record->frameNumber = 1;
    record->width = still->width;
    record->height = still->height;
    record->param = 10; // one picture a second, as a still's own rate
    record->payloadBytes = uint32_t(still->payload.size());
    std::memcpy(record->payload, still->payload.data(), still->payload.size());
    still->delivered = true;
    return 1;
}

PSR_EXPORT int32_t PsrSeek(void* handle, uint32_t)
{
    auto* still = static_cast<Still*>(handle);
    if (!still)
        return 0;
    still->delivered = false;
    return 1;
}

PSR_EXPORT int32_t PsrClose(void* handle)
{
    delete static_cast<Still*>(handle);
    return 1;
}
