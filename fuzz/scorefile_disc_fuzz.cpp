// Arbitrary bytes as disc sectors through the Scorefile plugin: the probe (sequences carried
// across sectors), and every sequence found opened, read and seeked on the bytes mounted as a disc.
#include <cstddef>
#include <cstdint>

#include "disc_plugin_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return fuzzing::runDiscPluginFuzz("Scorefile.psr", data, size);
}
