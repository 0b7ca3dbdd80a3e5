// Arbitrary bytes through the Briarfilm plugin both ways it takes them: as a sector file (the file
// test, the description, every unit read, seeks; file_plugin_fuzz.h), and as raw disc sectors (the
// sectors after a file's 44-byte header, or all of them): the probe on a disc of one data track,
// the only disc this plugin looks at, then an area description and its stream on the sectors
// mounted as an image (disc_plugin_fuzz.h). The sound units read on the disc are decoded.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "disc_plugin_fuzz.h"
#include "file_plugin_fuzz.h"

namespace {

constexpr const char* kPlugin = "Briarfilm.psr";
// Header and the largest unit: a frame of nine video sectors of 2292 bytes.
constexpr size_t kRecordBytes = PSR_READ_HEADER_BYTES + 9 * 2292;

void probeOneTrack(const uint8_t* data, size_t size)
{
    static PluginBinding* binding = LbrOpenPSR(kPlugin);
    const auto sectors = uint32_t(std::min<size_t>(fuzzing::kMaxSectors, (size + 2351) / 2352));
    const CdTocEntry track = {1, CD_TOC_DATA_TRACK, {0, 0}, 0, sectors};
    void* context = LbrIsSupportCDBegin(binding, 1, &track);
    if (!context)
        std::abort();
    uint8_t sector[fuzzing::kDiscSectorBytes];
    for (uint32_t i = 0; i < sectors; ++i) {
        const size_t at = size_t(i) * sizeof sector;
        std::memset(sector, 0, sizeof sector);
        std::memcpy(sector, data + at, std::min(sizeof sector, size - at));
        LbrIsSupportCDSector(binding, context, track, i, sector);
    }
    if (data[0] & 1) // a stopped scan
        LbrIsSupportCDSector(binding, context, track, 0, nullptr);
    const int32_t count = LbrIsSupportCDResult(binding, context, 0, nullptr);
    for (int32_t i = 0; i < count; ++i) {
        StrInfo info{};
        LbrIsSupportCDResult(binding, context, i, &info);
    }
    LbrIsSupportCDEnd(binding, context);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const fuzzing::FilePluginTarget kFile{kPlugin, nullptr, kRecordBytes, nullptr};
    fuzzing::runFilePluginFuzz(kFile, data, size);
    const size_t skip = size >= 44 && std::memcmp(data, "RIFF", 4) == 0 ? 44 : 0;
    if (size == skip)
        return 0;
    probeOneTrack(data + skip, size - skip);
    return fuzzing::runDiscPluginFuzz(kPlugin, data + skip, size - skip);
}
