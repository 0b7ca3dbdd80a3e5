// Arbitrary bytes as a ripped XA file through the Discvoice plugin's file side: the file test,
// the description and reads with seeks of the first stream (file_plugin_fuzz.h), then every
// further stream the file test lists (at most a few), each described by its number, opened and
// read to its end. A unit is one sector's 2304 sound bytes.
#include <cstddef>
#include <cstdint>

#include "file_plugin_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    constexpr size_t kRecordBytes = PSR_READ_HEADER_BYTES + 2304;
    static const fuzzing::FilePluginTarget kTarget{"Discvoice.psr", nullptr, kRecordBytes, nullptr};
    fuzzing::runFilePluginFuzz(kTarget, data, size);

    static PluginBinding* binding = LbrOpenPSR(kTarget.plugin);
    fuzzing::InputFile file(kTarget.plugin, data, size);
    if (!binding || !file.path())
        return 0;
    const int32_t streams = LbrIsSupportFile(binding, file.path());
    auto buffer = std::make_unique<uint8_t[]>(kRecordBytes);
    auto* record = reinterpret_cast<PsrReadRecord*>(buffer.get());
    for (int32_t k = 1; k < streams && k < 8; ++k) {
        StrInfo info{};
        info.reserved = uint16_t(k);
        if (!LbrGetStrFileInfo(binding, file.path(), &info) || info.reserved != k)
            std::abort();
        StreamState* stream = LbrOpenStream(kTarget.plugin, file.path(), 0, &info, LBR_WANT_AUDIO);
        if (!stream)
            continue;
        fuzzing::readSome(stream, record, kRecordBytes, 0, fuzzing::kMaxUnits);
        LbrCloseStream(stream);
    }
    return 0;
}
