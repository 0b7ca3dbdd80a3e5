#include "atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace tamrin::cli {

namespace {

// Temporary names carry the process id and a counter, so that two programs (or two files of
// one program) never share one; an existing name is skipped rather than reused.
constexpr int kNameAttempts = 100;

std::string errnoText(int error)
{
    return std::strerror(error);
}

} // namespace

AtomicFile::~AtomicFile()
{
    discard();
}

bool AtomicFile::create(const std::filesystem::path& target, std::string& error)
{
    discard();
    // The finished file replaces the target by renaming: a device or a folder of that name would
    // be replaced, not written to.
    struct stat existing = {};
    if (::stat(target.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
        error = target.string() + " exists and is not a regular file";
        return false;
    }
    static unsigned counter = 0;
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    std::string base = ".";
    base += target.filename().string();
    base += ".tmp-" + std::to_string(::getpid()) + "-";
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::filesystem::path temporary = folder / (base + std::to_string(counter++));
        // 0666 as any new file: the umask decides, as it would for the target itself.
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            m_fd = fd;
            m_target = target;
            m_temporary = temporary;
            return true;
        }
        if (errno != EEXIST) {
            error = "cannot create a file in " + folder.string() + ": " + errnoText(errno);
            return false;
        }
    }
    error = "cannot find a free temporary name in " + folder.string();
    return false;
}

bool AtomicFile::write(const void* bytes, size_t length, std::string& error)
{
    if (m_fd < 0) {
        error = "no file is open";
        return false;
    }
    const auto* cursor = static_cast<const uint8_t*>(bytes);
    while (length > 0) {
        const ssize_t wrote = ::write(m_fd, cursor, length);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0) {
            error = "cannot write " + m_target.string() + ": " + errnoText(wrote < 0 ? errno : EIO);
            discard();
            return false;
        }
        cursor += wrote;
        length -= size_t(wrote);
    }
    return true;
}

bool AtomicFile::writeAt(uint64_t offset, const void* bytes, size_t length, std::string& error)
{
    if (m_fd < 0) {
        error = "no file is open";
        return false;
    }
    const auto* cursor = static_cast<const uint8_t*>(bytes);
    while (length > 0) {
        const ssize_t wrote = ::pwrite(m_fd, cursor, length, off_t(offset));
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0) {
            error = "cannot write " + m_target.string() + ": " + errnoText(wrote < 0 ? errno : EIO);
            discard();
            return false;
        }
        cursor += wrote;
        offset += uint64_t(wrote);
        length -= size_t(wrote);
    }
    return true;
}

bool AtomicFile::commit(std::string& error)
{
    if (m_fd < 0) {
        error = "no file is open";
        return false;
    }
    // A failing close can be the first report of a failed write (NFS, quota).
    const int closed = ::close(m_fd);
    m_fd = -1;
    if (closed != 0) {
        error = "cannot write " + m_target.string() + ": " + errnoText(errno);
        ::unlink(m_temporary.c_str());
        m_temporary.clear();
        return false;
    }
    if (::rename(m_temporary.c_str(), m_target.c_str()) != 0) {
        error = "cannot create " + m_target.string() + ": " + errnoText(errno);
        ::unlink(m_temporary.c_str());
        m_temporary.clear();
        return false;
    }
    m_temporary.clear();
    return true;
}

void AtomicFile::discard()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temporary.empty()) {
        ::unlink(m_temporary.c_str());
        m_temporary.clear();
    }
}

} // namespace tamrin::cli
