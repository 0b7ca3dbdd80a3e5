// An output file that appears complete or not at all: the bytes go to a temporary file beside
// the target, which is renamed over the target only when everything was written.
#ifndef TAMRIN_CLI_ATOMIC_FILE_H
#define TAMRIN_CLI_ATOMIC_FILE_H

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace tamrin::cli {

class AtomicFile
{
  public:
    AtomicFile() = default;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    // Removes the temporary file unless it was committed.
    ~AtomicFile();

    // Creates a new, empty temporary file in the target's folder (named ".NAME.tmp-PID-N", so
    // that it is hidden and never mistaken for a finished file). False with `error` set when
    // it cannot be created; a file still open from an earlier create is discarded first.
    bool create(const std::filesystem::path& target, std::string& error);
    // Appends bytes. False with `error` set on a write failure (the file is then discarded).
    bool write(const void* bytes, size_t length, std::string& error);
    // Writes bytes at `offset` (for headers completed at the end). As write on failure.
    bool writeAt(uint64_t offset, const void* bytes, size_t length, std::string& error);
    // Closes the temporary file and renames it to the target, replacing any file there.
    // False with `error` set when that fails (the temporary file is then removed).
    bool commit(std::string& error);
    // Closes and removes the temporary file, if any.
    void discard();

    bool isOpen() const { return m_fd >= 0; }
    const std::filesystem::path& target() const { return m_target; }

  private:
    int m_fd = -1;
    std::filesystem::path m_target;
    std::filesystem::path m_temporary;
};

} // namespace tamrin::cli

#endif
