// CDAZ files on disc: loading (with the conversion of version 4 in place) and saving, which writes
// a temporary file beside the target and renames it, so a failed save keeps the earlier file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "cdaz/cdaz_format.h"
#include "cdaz/cdaz_store.h"
#include "tamrin_common/file_replace.h"

namespace tamlib {

namespace {

// Larger files are not CDAZ files: a disc of a million streams would not reach this.
constexpr off_t kMaxFileBytes = off_t(256) << 20;

class FileDescriptor
{
  public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }
    bool close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

  private:
    int m_fd;
};

// Reads the whole file; the status of the failure otherwise.
uint32_t readWholeFile(const std::filesystem::path& path, std::vector<uint8_t>& bytes)
{
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0)
        return errno == ENOENT || errno == ENOTDIR ? PLB_CDAZ_LOAD_MISSING : PLB_CDAZ_LOAD_CANNOT_OPEN;
    struct stat info
    {
    };
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return PLB_CDAZ_LOAD_CANNOT_OPEN;
    if (info.st_size > kMaxFileBytes)
        return PLB_CDAZ_LOAD_CORRUPT;
    bytes.resize(size_t(info.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(file.get(), bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return PLB_CDAZ_LOAD_CANNOT_OPEN;
        if (got == 0)
            break; // the file shrank meanwhile
        done += size_t(got);
    }
    bytes.resize(done);
    return 0;
}

} // namespace

bool cdazReplaceFile(const std::filesystem::path& path, std::span<const uint8_t> bytes)
{
    return tamrin_common::replaceFile(path, bytes);
}

CdazRecord* cdazLoadFile(const std::filesystem::path& path, std::span<const InstalledPlugin> installed,
                         uint32_t extraStatus, uint32_t* status)
{
    uint32_t result = PLB_CDAZ_LOAD_BAD_VERSION;
    CdazRecord* record = nullptr;
    try {
        // The second round reads the file that the conversion of an older version wrote.
        for (int round = 0; round < 2; ++round) {
            std::vector<uint8_t> bytes;
            result = readWholeFile(path, bytes);
            if (result)
                break;
            if (bytes.size() < 2) {
                result = PLB_CDAZ_LOAD_CORRUPT;
                break;
            }
            if (bytes[0] == kCdazVersion) {
                record = cdazLoadV5(bytes, installed, extraStatus, &result);
                break;
            }
            result = PLB_CDAZ_LOAD_BAD_VERSION;
            if (bytes[0] != 4 || round > 0)
                break;
            std::unique_ptr<CdazRecord, void (*)(CdazRecord*)> converted(cdazReadV4(bytes), cdazFree);
            if (!converted || !cdazSaveFile(path, *converted))
                break;
        }
    } catch (const std::bad_alloc&) {
        result = PLB_CDAZ_LOAD_CORRUPT;
    }
    if (status)
        *status = result;
    return record;
}

bool cdazSaveFile(const std::filesystem::path& path, CdazRecord& record)
{
    cdazNormalizeIfDirty(record);
    std::error_code error;
    const std::filesystem::path folder = path.parent_path();
    if (!folder.empty() && !std::filesystem::is_directory(folder, error))
        std::filesystem::create_directories(folder, error);
    std::vector<uint8_t> bytes;
    try {
        bytes = cdazWriteV5(record);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return cdazReplaceFile(path, bytes);
}

} // namespace tamlib
