// Arbitrary bytes as a sequence file through the Scorefile plugin: the file test, the
// description, and every unit read with seeks in between. The plugin's largest unit is 1024 bytes
// of events and one more event of at most a whole file (1 MiB).
#include <cstddef>
#include <cstdint>

#include "file_plugin_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const fuzzing::FilePluginTarget kTarget{
        "Scorefile.psr", nullptr, PSR_READ_HEADER_BYTES + 1024 + 9 + (size_t(1) << 20), nullptr};
    return fuzzing::runFilePluginFuzz(kTarget, data, size);
}
