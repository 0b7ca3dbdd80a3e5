// Feeds arbitrary bytes, as a movie file, to the Filmfile plugin through libstreamkit: the file
// test, the description, and a read of every unit with seeks in between.
#include <cstddef>
#include <cstdint>

#include "file_plugin_fuzz.h"

namespace {

// A file the plugin does not describe is still read, with a description that allows seeking.
StrInfo undescribedFile()
{
    StrInfo info{};
    info.kind = StrVideo | StrAudio;
    info.frameCount = 45;
    info.frameRate = 150;
    info.channels = 2;
    return info;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const StrInfo kUndescribed = undescribedFile();
    // Header, the largest frame (24 sectors of 2016 bytes), and two cached sound sectors.
    static const fuzzing::FilePluginTarget kTarget{
        "Filmfile.psr", nullptr, PSR_READ_HEADER_BYTES + 24 * 2016 + 4608, &kUndescribed};
    return fuzzing::runFilePluginFuzz(kTarget, data, size);
}
