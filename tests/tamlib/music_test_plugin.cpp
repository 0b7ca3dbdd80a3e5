// A plugin serving one sequenced-music stream from a small file that the player tests write:
//
//   0x00 char[4] "TMUS"
//   0x04 u16     ticks per quarter note
//   0x06 u16     unit count
//   0x08 u32     tempo, microseconds per quarter note
//   0x0C u32     length in ms
//   0x10 ...     units, each: u32 start ms, u32 byte count, that many bytes of raw sequencer
//                events (at most kMaxUnit)
//
// The stream's description carries the division in bitsPerSample and the tempo in sampleRate.
// A seek goes to the first unit that starts at or after the position.
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "streamkit/psr.h"

namespace {

constexpr size_t kHeader = 0x10;
constexpr uint32_t kMaxUnit = 0x10000;

struct Unit
{
    uint32_t startMs;
    size_t offset;
    uint32_t bytes;
};

struct Music
{
    std::vector<uint8_t> file;
    std::vector<Unit> units;
    size_t next = 0;
};

uint32_t get16(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8;
}

uint32_t get32(const uint8_t* p)
{
    return get16(p) | get16(p + 2) << 16;
}

// Reads and checks the whole file; false when it is not one of ours or is cut short.
bool load(const char* name, Music& music, StrInfo* info)
{
    FILE* f = name ? std::fopen(name, "rb") : nullptr;
    if (!f)
        return false;
    uint8_t chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0 && music.file.size() < (size_t(16) << 20))
        music.file.insert(music.file.end(), chunk, chunk + n);
    std::fclose(f);
    const std::vector<uint8_t>& b = music.file;
    if (b.size() < kHeader || std::memcmp(b.data(), "TMUS", 4) != 0)
        return false;
    const uint32_t count = get16(b.data() + 6);
    size_t at = kHeader;
    for (uint32_t i = 0; i < count; ++i) {
        if (b.size() - at < 8)
            return false;
        const Unit unit{get32(b.data() + at), at + 8, get32(b.data() + at + 4)};
        if (unit.bytes > kMaxUnit || b.size() - unit.offset < unit.bytes)
            return false;
        music.units.push_back(unit);
        at = unit.offset + unit.bytes;
    }
    if (info) {
        *info = StrInfo{};
        info->kind = StrMusic;
        info->bitsPerSample = uint16_t(get16(b.data() + 4));
        info->sampleRate = get32(b.data() + 8);
        info->durationMs = get32(b.data() + 12);
        info->dataBytes = uint32_t(b.size());
    }
    return true;
}

} // namespace

PSR_EXPORT int32_t PsrQueryPlugin(PsrPluginInfo* info)
{
    std::strcpy(info->name, "Music test units");
    info->version = 100;
    info->interfaceVersion = PSR_INTERFACE_VERSION;
    return 1;
}

PSR_EXPORT int32_t PsrIsSupportFile(const char* name)
{
    Music music;
    return load(name, music, nullptr) ? 1 : 0;
}

PSR_EXPORT int32_t PsrGetStrFileInfo(const char* name, StrInfo* info)
{
    Music music;
    return info && load(name, music, info) ? 1 : 0;
}

PSR_EXPORT void* PsrOpenFile(const char* name, StrInfo* info)
{
    auto* music = new (std::nothrow) Music;
    StrInfo own{};
    if (music && !load(name, *music, info ? info : &own)) {
        delete music;
        return nullptr;
    }
    return music;
}

PSR_EXPORT int32_t PsrRead(void* handle, PsrReadRecord* record)
{
    auto* music = static_cast<Music*>(handle);
    if (!music || !record || music->next >= music->units.size())
        return 0;
    const Unit& unit = music->units[music->next++];
    std::memset(record, 0, PSR_READ_HEADER_BYTES);
    record->unitKind = UnitAudio;
    record->payloadBytes = unit.bytes;
    std::memcpy(record->payload, music->file.data() + unit.offset, unit.bytes);
    return 1;
}

PSR_EXPORT int32_t PsrSeek(void* handle, uint32_t positionMs)
{
    auto* music = static_cast<Music*>(handle);
    if (!music)
        return 0;
    music->next = 0;
    while (music->next < music->units.size() && music->units[music->next].startMs < positionMs)
        music->next++;
    return 1;
}

PSR_EXPORT int32_t PsrClose(void* handle)
{
    delete static_cast<Music*>(handle);
    return 1;
}
