// A plugin that replays units from a file the test wrote: "RPLY", the stream's description
// (StrInfo, 52 bytes), then each unit as it is read (the 20-byte header and its payload). The
// converter tests script frame numbers, rates and kinds around real picture payloads this way.
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "streamkit/psr.h"

namespace {

constexpr size_t kMagicBytes = 4;

struct Replay
{
    std::vector<uint8_t> bytes;
    size_t next = kMagicBytes + sizeof(StrInfo);
};

bool load(const char* fileName, std::vector<uint8_t>& bytes)
{
    std::FILE* file = fileName ? std::fopen(fileName, "rb") : nullptr;
    if (!file)
        return false;
    uint8_t chunk[65536];
    for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
        bytes.insert(bytes.end(), chunk, chunk + got);
    std::fclose(file);
    return bytes.size() >= kMagicBytes + sizeof(StrInfo) &&
           std::memcmp(bytes.data(), "RPLY", kMagicBytes) == 0;
}

} // namespace

PSR_EXPORT int32_t PsrQueryPlugin(PsrPluginInfo* info)
{
    std::strcpy(info->name, "Replayed units");
    info->version = 100;
    info->interfaceVersion = PSR_INTERFACE_VERSION;
    info->mediaFlags = MediaFiles;
    return 1;
}

PSR_EXPORT int32_t PsrIsSupportFile(const char* fileName)
{
    std::vector<uint8_t> bytes;
    return load(fileName, bytes) ? 1 : 0;
}

PSR_EXPORT int32_t PsrGetStrFileInfo(const char* fileName, StrInfo* info)
{
    std::vector<uint8_t> bytes;
    if (!load(fileName, bytes))
        return 0;
    std::memcpy(info, bytes.data() + kMagicBytes, sizeof *info);
    return 1;
}

PSR_EXPORT void* PsrOpenFile(const char* fileName, StrInfo* info)
{
    auto* replay = new (std::nothrow) Replay;
    if (!replay || !load(fileName, replay->bytes)) {
        delete replay;
        return nullptr;
    }
    std::memcpy(info, replay->bytes.data() + kMagicBytes, sizeof *info);
    return replay;
}

PSR_EXPORT int32_t PsrRead(void* handle, PsrReadRecord* record)
{
    auto* replay = static_cast<Replay*>(handle);
    const std::vector<uint8_t>& bytes = replay->bytes;
    if (bytes.size() - replay->next < PSR_READ_HEADER_BYTES)
        return 0;
    PsrReadRecord header;
    std::memcpy(&header, &bytes[replay->next], PSR_READ_HEADER_BYTES);
    if (bytes.size() - replay->next - PSR_READ_HEADER_BYTES < header.payloadBytes)
        return 0;
    std::memcpy(record, &bytes[replay->next], PSR_READ_HEADER_BYTES + size_t(header.payloadBytes));
    replay->next += PSR_READ_HEADER_BYTES + size_t(header.payloadBytes);
    return 1;
}

PSR_EXPORT int32_t PsrSeek(void* handle, uint32_t)
{
    static_cast<Replay*>(handle)->next = kMagicBytes + sizeof(StrInfo);
    return 1;
}

PSR_EXPORT int32_t PsrClose(void* handle)
{
    delete static_cast<Replay*>(handle);
    return 1;
}
