// Arbitrary bytes as disc sectors for the fuzz targets of the disc plugins (any plugin with
// PsrOpenCD), through libstreamkit as the application drives them:
//
//   1. the probe: the input cut into 2352-byte sectors (the last one padded with zeros, at most
//      kMaxSectors), each fed with its number and a one-data-track table, one sector fed as of an
//      audio track, then the final call with a null sector, every result read, the end; a second
//      probe is stopped half way and asked for its results without the final call;
//   2. the disc: the same sectors as a raw image of 2352-byte sectors in a memory file, mounted;
//      one area described (the whole image or one of four parts, chosen by the input); a stream
//      opened on the description and on the first distinct results of the probe (kept inside the
//      image), its units read (a number bounded by the image's sectors), the first sound units of
//      each run of reads decoded, with seeks in between; then the image unmounted.
//
// The work per input follows the input's size: a reader per description and stream, units in
// proportion to the sectors. The plugin's binding, the memory file and the buffers are kept
// across inputs.
//
// Header-only; each target calls runDiscPluginFuzz from its LLVMFuzzerTestOneInput.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "discport/discport.h"
#include "streamkit/lbr.h"

namespace fuzzing {

constexpr size_t kDiscSectorBytes = 2352;
constexpr size_t kUserDataOffset = 24;
constexpr uint32_t kMaxSectors = 512;
constexpr uint32_t kMaxResults = 64;
// Streams played per input besides the description's: the probe of a small input can report
// dozens of streams over the same few sectors, and each costs a reader.
constexpr size_t kMaxProbeStreams = 3;
// Sound units decoded per run of reads: the decoders have their own fuzz target; here the units
// of a stream are checked to decode at all, at the start and after each seek.
constexpr size_t kDecodedUnits = 2;
// Units read from a stream: no plugin of this program makes more than one unit per sector and
// kind, so more than this number is a stream that does not end; the reading stops there.
constexpr size_t kUnitsPerSector = 4;
constexpr size_t kExtraUnits = 16;
// The caller of PsrRead gives room for the largest unit; a frame of a whole image is more than
// any plugin of this program gathers.
constexpr size_t kUnitRecordBytes = PSR_READ_HEADER_BYTES + size_t(kMaxSectors) * kDiscSectorBytes;

struct DiscPluginFuzzState
{
    explicit DiscPluginFuzzState(const char* pluginFile)
        : binding(LbrOpenPSR(pluginFile)), imageFile(memfd_create("disc-fuzz", MFD_CLOEXEC))
    {
        if (!binding || imageFile < 0)
            std::abort();
        imagePath = "/proc/self/fd/" + std::to_string(imageFile);
        PsrPluginInfo info{};
        LbrGetPlugin(binding, &info, nullptr);
        userData = (info.mediaFlags & MediaUserData) != 0; // as the analysis gives them
    }
    ~DiscPluginFuzzState()
    {
        LbrClosePSR(binding);
        ::close(imageFile);
    }

    PluginBinding* binding = nullptr;
    bool userData = false; // the plugin looks at 2048-byte user data, not whole sectors
    // The image as a file in memory (a raw image: no name extension, whole sectors), rewritten for
    // each input; the disc layer opens it again by its /proc path.
    int imageFile = -1;
    std::string imagePath;
    std::vector<uint8_t> image; // the input's sectors, the last one padded with zeros
    std::unique_ptr<uint8_t[]> record{new uint8_t[kUnitRecordBytes]};
    std::vector<uint8_t> pcm = std::vector<uint8_t>(1 << 20);
};

inline PsrReadRecord* unitRecord(DiscPluginFuzzState& state)
{
    return reinterpret_cast<PsrReadRecord*>(state.record.get());
}

// Reads up to `limit` units, decoding the first sound ones; a unit longer than the buffer is a
// fault.
inline void readUnits(DiscPluginFuzzState& state, StreamState* stream, size_t limit)
{
    PsrReadRecord* record = unitRecord(state);
    size_t decoded = 0;
    for (size_t n = 0; n < limit && LbrReadStream(stream, 0, record) == 1; ++n) {
        if (PSR_READ_HEADER_BYTES + size_t(record->payloadBytes) > kUnitRecordBytes)
            std::abort();
        if ((record->unitKind & UnitAudio) && decoded < kDecodedUnits) {
            LbrDecodeAudio(stream, record, state.pcm.data(), int32_t(state.pcm.size()));
            ++decoded;
        }
        LbrFreeReadBuffer(stream, record);
    }
}

inline void playStream(DiscPluginFuzzState& state, const char* pluginFile, int32_t drive, StrInfo info,
                       uint32_t sectors)
{
    StreamState* stream = LbrOpenStream(pluginFile, nullptr, drive, &info, LBR_WANT_VIDEO | LBR_WANT_AUDIO);
    if (!stream)
        return;
    readUnits(state, stream, size_t(sectors) * kUnitsPerSector + kExtraUnits);
    LbrSeekStream(stream, 0);
    readUnits(state, stream, 8);
    LbrSeekStream(stream, info.durationMs / 2);
    readUnits(state, stream, 8);
    LbrSeekStream(stream, 0xFFFFFFFEu);
    readUnits(state, stream, 8);
    LbrCloseStream(stream);
}

// The first `sectors` sectors of the input into state.image, with zeros after the input's end.
inline void cutSectors(DiscPluginFuzzState& state, const uint8_t* data, size_t size, uint32_t sectors)
{
    const size_t bytes = size_t(sectors) * kDiscSectorBytes;
    state.image.assign(bytes, 0);
    std::memcpy(state.image.data(), data, std::min(size, bytes));
}

// Probes the sectors of state.image; with `stopAt` below `sectors`, stops there without the
// final call.
inline std::vector<StrInfo> probeSectors(DiscPluginFuzzState& state, uint32_t sectors, uint32_t stopAt)
{
    std::vector<StrInfo> found;
    const CdTocEntry toc[2] = {{1, 0x04, {0, 0}, 0, sectors}, {2, 0x00, {0, 0}, sectors + 150, 300}};
    void* context = LbrIsSupportCDBegin(state.binding, 2, toc);
    if (!context) // a plugin for discs of a single data track
        context = LbrIsSupportCDBegin(state.binding, 1, toc);
    if (!context)
        return found;
    // Each sector is given from a copy, so that a plugin that writes into it or reads past it is
    // caught on the stack rather than in the image.
    uint8_t sector[kDiscSectorBytes];
    const uint32_t fed = std::min(sectors, stopAt);
    bool interested = true;
    for (uint32_t i = 0; i < fed && interested; ++i) {
        std::memcpy(sector, &state.image[size_t(i) * kDiscSectorBytes], kDiscSectorBytes);
        const uint8_t* given = state.userData ? sector + kUserDataOffset : sector;
        interested = LbrIsSupportCDSector(state.binding, context, toc[0], toc[0].start + i, given) != 0;
    }
    if (fed > 0) {
        std::memcpy(sector, state.image.data(), kDiscSectorBytes);
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

// Replaces the memory file's bytes with state.image (its pages kept from one input to the next).
inline bool writeImage(DiscPluginFuzzState& state)
{
    if (::ftruncate(state.imageFile, off_t(state.image.size())) != 0)
        return false;
    size_t written = 0;
    while (written < state.image.size()) {
        const ssize_t n = ::pwrite(state.imageFile, state.image.data() + written, state.image.size() - written,
                                   off_t(written));
        if (n <= 0)
            return false;
        written += size_t(n);
    }
    return true;
}

inline bool sameStream(const StrInfo& a, const StrInfo& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Appends `info` unless an equal record is already listed.
inline bool addDistinct(std::vector<StrInfo>& streams, const StrInfo& info)
{
    for (const StrInfo& listed : streams)
        if (sameStream(listed, info))
            return false;
    streams.push_back(info);
    return true;
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
    cutSectors(*state, data, size, sectors);
    const std::vector<StrInfo> found = probeSectors(*state, sectors, sectors);
    probeSectors(*state, sectors, sectors / 2);

    if (!writeImage(*state))
        return 0;
    const int32_t drive = CdMountImage(state->imagePath.c_str());
    if (drive < 0)
        return 0;

    // The area described: the whole image, its first sector, its second half, its last sector or
    // an area that runs past its end, chosen by the input's last byte. A description opens a
    // reader, the costliest step here; one per input keeps the work small, and a run of the
    // fuzzer describes every kind of area as often.
    const uint32_t areas[][2] = {
        {0, sectors}, {0, 1}, {sectors / 2, sectors - sectors / 2}, {sectors - 1, 1}, {1, sectors + 40}};
    const auto* area = areas[data[size - 1] % std::size(areas)];
    std::vector<StrInfo> streams;
    StrInfo described{};
    if (LbrGetStrDataInfo(state->binding, drive, area[0], area[1], &described) == 1)
        streams.push_back(described);
    size_t fromProbe = 0;
    for (StrInfo result : found) {
        if (fromProbe == kMaxProbeStreams)
            break;
        result.startSector = std::min(result.startSector, sectors - 1);
        result.sectorCount = std::min(result.sectorCount, sectors - result.startSector);
        fromProbe += addDistinct(streams, result) ? 1 : 0;
    }
    for (const StrInfo& stream : streams)
        playStream(*state, pluginFile, drive, stream, sectors);

    CdUnmountImage(drive);
    return 0;
}

} // namespace fuzzing
