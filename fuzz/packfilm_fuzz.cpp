// Feeds arbitrary bytes, as a compact movie file, to the Packfilm plugin through libstreamkit: the
// file test, the description, and reads of every unit with seeks in between, owned blocks given
// back. The plugin's largest unit is a 65535-byte payload grown by an owned unit's reference.
#include <cstddef>
#include <cstdint>

#include "file_plugin_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The decoder plugin the seeds name stays loaded for the whole run.
    static const fuzzing::FilePluginTarget kTarget{
        "Packfilm.psr", "Trackaudio.psr", PSR_READ_HEADER_BYTES + 0xFFFF - 4 + PSR_OWNED_REF_BYTES, nullptr};
    return fuzzing::runFilePluginFuzz(kTarget, data, size);
}
