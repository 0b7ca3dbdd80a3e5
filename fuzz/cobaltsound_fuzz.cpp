// Arbitrary bytes through the Cobaltsound plugin twice: as disc sectors (the probe over their user
// data, then the streams found, on the bytes mounted as an image) and as a plain .adx file (the
// file test, the description, reads and seeks).
#include <cstddef>
#include <cstdint>

#include "disc_plugin_fuzz.h"
#include "file_plugin_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The largest unit: 227 stereo blocks of 36 bytes.
    static const fuzzing::FilePluginTarget kFile{"Cobaltsound.psr", nullptr, PSR_READ_HEADER_BYTES + 227 * 36,
                                                 nullptr};
    fuzzing::runDiscPluginFuzz("Cobaltsound.psr", data, size);
    return fuzzing::runFilePluginFuzz(kFile, data, size);
}
