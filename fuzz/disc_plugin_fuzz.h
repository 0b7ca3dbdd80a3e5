// Arbitrary bytes as disc sectors for the fuzz targets of the disc plugins (any plugin with
// PsrOpenCD), through libstreamkit as the application drives them:
//
//   1. the probe: the input cut into 2352-byte sectors (the last one padded with zeros, at most
//      kMaxSectors), each fed with its number and a one-data-track table, one sector fed as of an
//      audio track, then the final call with a null sector, every result read, the end; a second
//      probe is stopped half way and asked for its results without the final call;
//   2. the disc: the same sectors written as a raw image of 2352-byte sectors, mounted; the whole
//      area and a few parts of it described; a stream opened on each result of the probe (kept
//      inside the image) and on each description, every unit read (a bounded number), sound
//      units decoded, with seeks in between; then the image unmounted and its file removed.
//
// Header-only; each target calls runDiscPluginFuzz from its LLVMFuzzerTestOneInput.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "../tests/support/scratch_folder.h"
#include "discport/discport.h"
#include "streamkit/lbr.h"

namespace fuzzing {

constexpr size_t kDiscSectorBytes = 2352;
constexpr size_t kUserDataOffset = 24;
constexpr uint32_t kMaxSectors = 512;
constexpr uint32_t kMaxResults = 64;
constexpr size_t kMaxUnits = 2048;
// The caller of PsrRead gives room for the largest unit; a frame of a whole image is more than
// any plugin of this program gathers.
constexpr size_t kUnitRecordBytes = PSR_READ_HEADER_BYTES + size_t(kMaxSectors) * kDiscSectorBytes;

struct DiscPluginFuzzState
{
    explicit DiscPluginFuzzState(const char* pluginFile) : binding(LbrOpenPSR(pluginFile))
    {
        if (!binding || !folder.made())
            std::abort();
        PsrPluginInfo info{};
        LbrGetPlugin(binding, &info, nullptr);
        userData = !(info.mediaFlags & MediaRawSectors) && (info.mediaFlags & MediaUserData);
    }
    ~DiscPluginFuzzState() { LbrClosePSR(binding); }

    PluginBinding* binding = nullptr;
    bool userData = false; // the plugin looks at 2048-byte user data, not whole sectors
    // The image's folder, removed with the process's last fuzz input.
    testsupport::ScratchFolder folder{"disc-fuzz"};
    std::unique_ptr<uint8_t[]> record{new uint8_t[kUnitRecordBytes]};
    std::vector<uint8_t> pcm = std::vector<uint8_t>(1 << 20);
};

inline PsrReadRecord* unitRecord(DiscPluginFuzzState& state)
{
    return reinterpret_cast<PsrReadRecord*>(state.record.get());
}

// Reads up to `limit` units, decoding the sound ones; a unit longer than the buffer is a fault.
inline void readUnits(DiscPluginFuzzState& state, StreamState* stream, size_t limit)
{
    PsrReadRecord* record = unitRecord(state);
    for (size_t n = 0; n < limit && LbrReadStream(stream, 0, record) == 1; ++n) {
        if (PSR_READ_HEADER_BYTES + size_t(record->payloadBytes) > kUnitRecordBytes)
            std::abort();
        if (record->unitKind & UnitAudio)
            LbrDecodeAudio(stream, record, state.pcm.data(), int32_t(state.pcm.size()));
        LbrFreeReadBuffer(stream, record);
    }
}

inline void playStream(DiscPluginFuzzState& state, const char* pluginFile, int32_t drive, StrInfo info)
{
    StreamState* stream = LbrOpenStream(pluginFile, nullptr, drive, &info, LBR_WANT_VIDEO | LBR_WANT_AUDIO);
    if (!stream)
        return;
    readUnits(state, stream, kMaxUnits);
    LbrSeekStream(stream, 0);
    readUnits(state, stream, 8);
    LbrSeekStream(stream, info.durationMs / 2);
    readUnits(state, stream, 8);
    LbrSeekStream(stream, 0xFFFFFFFEu);
    readUnits(state, stream, 8);
    LbrCloseStream(stream);
}

// The sector `i` of the input, whole: copied, with zeros after the input's end.
inline void sectorOf(const uint8_t* data, size_t size, uint32_t i, uint8_t* sector)
{
    const size_t at = size_t(i) * kDiscSectorBytes;
    const size_t have = at < size ? std::min(kDiscSectorBytes, size - at) : 0;
    std::memset(sector, 0, kDiscSectorBytes);
    if (have)
        std::memcpy(sector, data + at, have);
}

// Probes the sectors; with `stopAt` below `sectors`, stops there without the final call.
inline std::vector<StrInfo> probeSectors(DiscPluginFuzzState& state, const uint8_t* data, size_t size,
                                         uint32_t sectors, uint32_t stopAt)
{
    std::vector<StrInfo> found;
    const CdTocEntry toc[2] = {{1, 0x04, {0, 0}, 0, sectors}, {2, 0x00, {0, 0}, sectors + 150, 300}};
    void* context = LbrIsSupportCDBegin(state.binding, 2, toc);
    if (!context)
        return found;
    uint8_t sector[kDiscSectorBytes];
    const uint32_t fed = std::min(sectors, stopAt);
    bool interested = true;
    for (uint32_t i = 0; i < fed && interested; ++i) {
        sectorOf(data, size, i, sector);
        const uint8_t* given = state.userData ? sector + kUserDataOffset : sector;
        interested = LbrIsSupportCDSector(state.binding, context, toc[0], toc[0].start + i, given) != 0;
    }
    if (fed > 0) {
        sectorOf(data, size, 0, sector);
        LbrIsSupportCDSector(state.binding, context, toc[1], toc[1].start, sector);
    }
    if (stopAt >= sectors)
        LbrIsSupportCDSector(state.binding, context, toc[0], 0, nullptr);
    const int32_t count = LbrIsSupportCDResult(state.binding, context, 0, nullptr);
    for (int32_t i = 0; i < count && i < int32_t(kMaxResults); ++i) {
        StrInfo info{};
        if (LbrIsSupportCDResult(state.binding, context, i, &info) > 0)
            found.push_back(info);
    }
    StrInfo untouched{};
    LbrIsSupportCDResult(state.binding, context, count, &untouched);
    LbrIsSupportCDResult(state.binding, context, -1, &untouched);
    LbrIsSupportCDEnd(state.binding, context);
    return found;
}

inline bool writeImage(const std::filesystem::path& path, const uint8_t* data, size_t size, uint32_t sectors)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    uint8_t sector[kDiscSectorBytes];
    bool ok = true;
    for (uint32_t i = 0; i < sectors && ok; ++i) {
        sectorOf(data, size, i, sector);
        ok = std::fwrite(sector, 1, sizeof sector, file) == sizeof sector;
    }
    return std::fclose(file) == 0 && ok;
}

inline int runDiscPluginFuzz(const char* pluginFile, const uint8_t* data, size_t size)
{
    // Bound once; the first plugin named is the one this process fuzzes.
    static DiscPluginFuzzState bound(pluginFile);
    DiscPluginFuzzState* state = &bound;

    const uint32_t sectors =
        uint32_t(std::min<size_t>(kMaxSectors, (size + kDiscSectorBytes - 1) / kDiscSectorBytes));
    if (sectors == 0)
        return 0;
    const std::vector<StrInfo> found = probeSectors(*state, data, size, sectors, sectors);
    probeSectors(*state, data, size, sectors, sectors / 2);

    const std::filesystem::path image = state->folder.path() / "disc.bin";
    if (!writeImage(image, data, size, sectors))
        return 0;
    const int32_t drive = CdMountImage(image.c_str());
    if (drive < 0) {
        std::filesystem::remove(image);
        return 0;
    }

    std::vector<StrInfo> streams;
    for (StrInfo info : found) {
        info.startSector = std::min(info.startSector, sectors - 1);
        info.sectorCount = std::min(info.sectorCount, sectors - info.startSector);
        streams.push_back(info);
    }
    const uint32_t areas[][2] = {
        {0, sectors}, {0, 1}, {sectors / 2, sectors - sectors / 2}, {sectors - 1, 1}, {1, sectors + 40}};
    for (const auto& area : areas) {
        StrInfo info{};
        if (LbrGetStrDataInfo(state->binding, drive, area[0], area[1], &info) == 1)
            streams.push_back(info);
    }
    for (const StrInfo& info : streams)
        playStream(*state, pluginFile, drive, info);

    CdUnmountImage(drive);
    std::filesystem::remove(image);
    return 0;
}

} // namespace fuzzing
