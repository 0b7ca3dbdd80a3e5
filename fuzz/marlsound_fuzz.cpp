// Arbitrary bytes through the Marlsound plugin: with an even first byte the rest is a file (file test,
// description, every unit read, seeks), with an odd one it is raw disc sectors (the probe, and the
// streams it finds read and seeked on the sectors mounted as an image). A unit never exceeds 4096
// payload bytes.
#include <cstddef>
#include <cstdint>

#include "disc_plugin_fuzz.h"
#include "file_plugin_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const fuzzing::FilePluginTarget kTarget{"Marlsound.psr", nullptr, PSR_READ_HEADER_BYTES + 4096,
                                                   nullptr};
    if (size < 2)
        return 0;
    if (data[0] & 1)
        return fuzzing::runDiscPluginFuzz("Marlsound.psr", data + 1, size - 1);
    return fuzzing::runFilePluginFuzz(kTarget, data + 1, size - 1);
}
