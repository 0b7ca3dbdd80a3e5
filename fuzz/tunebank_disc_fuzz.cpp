// Arbitrary bytes as raw disc sectors through the Tunebank plugin: the chain matcher of the probe
// over the sectors, and the streams it finds, read and seeked on the bytes mounted as a disc image.
#include <cstddef>
#include <cstdint>

#include "disc_plugin_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return fuzzing::runDiscPluginFuzz("Tunebank.psr", data, size);
}
