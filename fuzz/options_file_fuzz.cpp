// The main program's options file: any bytes read as a stored record. The record read must store
// and read back as itself, with its texts zero-terminated.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "options_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    tamrin::OptionsEnvironment environment;
    environment.baseFolder = "/nonexistent/tamrin";
    environment.createFolders = false;
    environment.mp3Available = size % 2 == 0;
    environment.codecUsable = [](uint32_t handler) { return handler == 0x31347669; };

    tamrin::TamrinOptions options;
    tamrin::readOptions({data, size}, environment, options);
    const auto stored = tamrin::writeOptions(options);
    if (stored[259] != 0 || options.listFilter > tamrin::kShowAll)
        std::abort();
    tamrin::TamrinOptions again;
    if (tamrin::readOptions(stored, environment, again) != tamrin::OptionsState::Loaded)
        std::abort();
    if (std::memcmp(tamrin::writeOptions(again).data(), stored.data(), stored.size()) != 0)
        std::abort();
    return 0;
}
