// A file that appears complete or not at all, and that leaves nothing behind when the program is
// stopped while writing it (Ctrl-C, a kill, a file-size limit, a crash).
//
// The bytes go to a file without a name in the target's folder where the system can make one;
// commit gives it its name, replacing any file there. Elsewhere the file has a hidden name
// (".NAME.tmp-PID-N") that the program removes when SIGINT, SIGTERM or SIGHUP ends it, before
// the handler that was there before runs. A file-size limit (SIGXFSZ) becomes a write error.
//
// Every writer of every library uses this class: streaming outputs (sound, pictures, sectors)
// directly, whole settings and CDAZ files through replaceFile (file_replace.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace tamrin_common {

class OutputFile
{
  public:
    enum class Durability
    {
        Plain, // the system writes the bytes out when it likes
        Synced // commit returns once the file and its folder entry are on the disc
    };

    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // Discards the file unless it was committed.
    ~OutputFile();

    // Starts a new, empty file for `target` (in the target's folder, which must exist). False
    // with `error` set when it cannot, or when the target exists and is not a regular file (a
    // folder or a device would be replaced, not written to). A file still open is discarded.
    // `permissions` are those of the finished file; the umask applies unless `exact`.
    bool create(const std::filesystem::path& target, std::string& error,
                Durability durability = Durability::Plain, unsigned permissions = 0666, bool exact = false);
    // Appends bytes. False with `error` set on a write failure (the file is then discarded).
    bool write(const void* bytes, size_t length, std::string& error);
    // Writes bytes at `offset` (for headers completed at the end). As write on failure.
    bool writeAt(uint64_t offset, const void* bytes, size_t length, std::string& error);
    // Gives the file the target's name, replacing any file there. False with `error` set when
    // that fails; the file is then discarded and the target left as it was.
    // After any failure of these calls errno holds the system's reason (EFBIG: the file-size
    // limit), for callers that can pass on no text.
    bool commit(std::string& error);
    // Closes and removes the file, if one is open.
    void discard();

    bool isOpen() const { return m_fd >= 0; }
    const std::filesystem::path& target() const { return m_target; }
    // True while the file has a hidden name in the folder (the system makes no unnamed files).
    bool hasTemporaryName() const { return !m_temporary.empty(); }

  private:
    bool fail(const std::string& what, int error, std::string& text);

    int m_fd = -1;
    int m_slot = -1; // entry of the removal list while the file has a hidden name
    std::filesystem::path m_target;
    std::string m_temporary;
    Durability m_durability = Durability::Plain;
    unsigned m_permissions = 0666;
    bool m_exactPermissions = false;
};

// Files are made with hidden names even where the system could make unnamed ones (for
// filesystems whose unnamed files misbehave, and for tests of the hidden-name path).
void preferNamedTemporaryFiles(bool named);

} // namespace tamrin_common
