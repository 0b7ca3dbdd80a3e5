// An output file that appears complete or not at all, and leaves nothing behind when the program
// is stopped while writing it: the library-wide mechanism under the name the commands use.
#ifndef TAMRIN_CLI_ATOMIC_FILE_H
#define TAMRIN_CLI_ATOMIC_FILE_H

#include "tamrin_common/output_file.h"

namespace tamrin::cli {

using AtomicFile = tamrin_common::OutputFile;

} // namespace tamrin::cli

#endif
