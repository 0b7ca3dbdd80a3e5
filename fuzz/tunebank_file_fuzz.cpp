// Feeds arbitrary bytes, as a chunked sequence file, to the Tunebank plugin through libstreamkit:
// the file test, the description, and reads of every unit with seeks in between. The largest unit
// is 1023 bytes of events and one event more: a system-exclusive message of at most 8 KiB.
#include <cstddef>
#include <cstdint>

#include "file_plugin_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const fuzzing::FilePluginTarget kTarget{"Tunebank.psr", nullptr,
                                                   PSR_READ_HEADER_BYTES + 1023 + 9 + 0x2000, nullptr};
    return fuzzing::runFilePluginFuzz(kTarget, data, size);
}
