// A regular file read at explicit offsets, for the plugins that play files rather than discs.
// Folders, devices and pipes are refused at open.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sectorkit {

class PlainFile
{
  public:
    PlainFile() = default;
    PlainFile(const PlainFile&) = delete;
    PlainFile& operator=(const PlainFile&) = delete;
    ~PlainFile();

    // False for a null or empty name, a file that cannot be opened, or one that is not regular.
    bool open(const char* name);

    // The size at open; 0 before a successful open.
    uint64_t size() const { return m_size; }

    // True when all `length` bytes at `offset` arrived.
    bool readAt(uint64_t offset, void* buffer, size_t length) const;

  private:
    int m_fd = -1;
    uint64_t m_size = 0;
};

} // namespace sectorkit
