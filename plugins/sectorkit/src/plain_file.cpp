// The plain file described in plain_file.h.
#include "sectorkit/plain_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace sectorkit {

PlainFile::~PlainFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool PlainFile::open(const char* name)
{
    if (!name || !*name)
        return false;
    // Non-blocking, so that opening a pipe cannot wait for a writer; regular files ignore it.
    m_fd = ::open(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (m_fd < 0)
        return false;
    struct stat st = {};
    if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    m_size = uint64_t(st.st_size);
    return true;
}

bool PlainFile::readAt(uint64_t offset, void* buffer, size_t length) const
{
    auto* bytes = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < length) {
        const ssize_t got = ::pread(m_fd, bytes + done, length - done, off_t(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += size_t(got);
    }
    return true;
}

} // namespace sectorkit
