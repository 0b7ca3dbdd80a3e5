// Checks of a file named on the command line, made before any plugin sees it, so that the
// user learns why nothing accepted it.
#ifndef TAMRIN_CLI_INPUT_FILE_H
#define TAMRIN_CLI_INPUT_FILE_H

#include <optional>
#include <string>

namespace tamrin::cli {

// Why `path` cannot be read as a file ("No such file or directory", "is a directory", ...);
// nothing when it is a readable regular file.
std::optional<std::string> inputFileProblem(const std::string& path);

// The message for a readable file that no plugin accepted; names an empty file as such.
std::string rejectionMessage(const std::string& path);

} // namespace tamrin::cli

#endif
