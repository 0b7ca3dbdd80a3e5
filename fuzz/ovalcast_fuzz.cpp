// Arbitrary bytes as raw disc sectors through the Ovalcast plugin: the probe, area descriptions
// and every stream found, read and seeked on the bytes mounted as a disc image.
#include <cstddef>
#include <cstdint>

#include "disc_plugin_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return fuzzing::runDiscPluginFuzz("Ovalcast.psr", data, size);
}
