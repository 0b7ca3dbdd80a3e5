// A stream of a real test movie for the decoder fuzz targets: the decoders need an open stream.
#pragma once

#include <cstdlib>

#include "streamkit/lbr.h"

namespace fuzzing {

// Opens the smallest test movie through the movie-file plugin with the given mode; a target
// that cannot have its stream stops at once.
inline StreamState* openMovieStream(uint32_t mode)
{
    static constexpr const char* kMovie = TAMRIN_TEST_DATA "/movies/mv4_v3_160x112_15fps_x1_xa37800s.str";
    PluginBinding* binding = LbrOpenPSR("Filmfile.psr");
    if (!binding)
        std::abort();
    StrInfo info{};
    if (!LbrGetStrFileInfo(binding, kMovie, &info))
        std::abort();
    LbrClosePSR(binding);
    StreamState* stream = LbrOpenStream("Filmfile.psr", kMovie, 0, &info, mode);
    if (!stream)
        std::abort();
    return stream;
}

} // namespace fuzzing
