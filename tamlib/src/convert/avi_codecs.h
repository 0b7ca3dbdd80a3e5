// The video codecs as libtamlib reaches them: through a small table of plain functions that the
// AVI module (libtamlib-avi.so, where FFmpeg lives) exports, so that a program pays for loading
// FFmpeg only when it first asks about codecs or writes an AVI file.
#pragma once

#include <cstdint>

#include "tamlib/convert.h"

namespace tamlib::avi {

// What the AVI module tells about its codecs. The functions never throw.
struct CodecTable
{
    uint32_t size; // sizeof(CodecTable) as the module was built; a smaller table is refused
    // The number of usable codecs.
    int32_t (*count)() noexcept;
    // Copies codec `index` (from 0): 1, or 0 past the end. Either target may be null.
    int32_t (*entry)(int32_t index, PlbAviCompression* options, PlbAviCodecInfo* info) noexcept;
};

} // namespace tamlib::avi

// The module's exported function that gives its table.
#define TAMLIB_AVI_CODECS_NAME "tamlibAviCodecTable"
extern "C" {
typedef const tamlib::avi::CodecTable* (*TamlibAviCodecTableFn)();
// Defined by the module (and wherever its objects are linked in); libtamlib only looks it up.
const tamlib::avi::CodecTable* tamlibAviCodecTable();
}

namespace tamlib::convert {

// The codec table of the AVI module, loaded on first use and kept; null when the module cannot
// be loaded (the codec functions then know no codec, and AVI files get uncompressed frames).
const avi::CodecTable* aviCodecs();

// Where the table comes from: null (the start) is the AVI module; tests hand in the encoders
// linked into them, or a source that answers null to play a missing module. Returns the
// previous source. The kept description of the last codec looked up is forgotten.
using CodecTableSource = const avi::CodecTable* (*)();
CodecTableSource setAviCodecSource(CodecTableSource source);

} // namespace tamlib::convert
