// Arbitrary bytes through the Stillframe plugin, twice: as a file (the file test, the description,
// the one picture read and decoded at 24 and at 16 bits, read again after a seek) and as a disc
// image (disc_plugin_fuzz.h: the probe on the user data of each sector, the streams it finds).
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "disc_plugin_fuzz.h"
#include "file_plugin_fuzz.h"

namespace {

constexpr const char* kPlugin = "Stillframe.psr";
// The plugin's unit carries an address; the record is sized generously all the same.
constexpr size_t kRecordBytes = PSR_READ_HEADER_BYTES + 4096;

void decodeFile(const uint8_t* data, size_t size)
{
    static PluginBinding* binding = LbrOpenPSR(kPlugin);
    if (!binding)
        std::abort();
    fuzzing::InputFile file(kPlugin, data, size);
    if (!file.path())
        return;
    LbrIsSupportFile(binding, file.path());
    StrInfo info{};
    if (!LbrGetStrFileInfo(binding, file.path(), &info))
        return;
    StreamState* stream = LbrOpenStream(kPlugin, file.path(), 0, &info, LBR_WANT_VIDEO);
    if (!stream)
        return;
    static uint8_t buffer[kRecordBytes];
    auto* record = reinterpret_cast<PsrReadRecord*>(buffer);
    for (int bits : {24, 16}) {
        LbrSeekStream(stream, 0);
        if (LbrReadStream(stream, LBR_WANT_VIDEO, record) != 1)
            break;
        if (PSR_READ_HEADER_BYTES + size_t(record->payloadBytes) > kRecordBytes)
            std::abort();
        LbrFreeBitmap(LbrDecodeFrame(stream, record, bits, 0, nullptr));
    }
    LbrCloseStream(stream);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    decodeFile(data, size);
    return fuzzing::runDiscPluginFuzz(kPlugin, data, size);
}
