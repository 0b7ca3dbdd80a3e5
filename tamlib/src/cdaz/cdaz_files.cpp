// CDAZ files on disc: loading (with the conversion of version 4, in place or in memory) and
// saving, which replaces the file only once the new one is written whole, so a failed or
// interrupted save keeps the earlier file and leaves nothing beside it.
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

namespace {

// A version-4 file as a version-5 record: converted, written as version 5 in memory and read
// back, so that the stored form is known to hold every plugin and stream before it replaces the
// old file. A file cut short is damaged; the old file is then left as it is.
CdazRecord* convertV4(const std::filesystem::path& path, std::span<const uint8_t> bytes,
                      std::span<const InstalledPlugin> installed, uint32_t extraStatus, CdazWrites writes,
                      uint32_t* status)
{
    using Owned = std::unique_ptr<CdazRecord, void (*)(CdazRecord*)>;
    bool whole = false;
    Owned converted(cdazReadV4(bytes, &whole), cdazFree);
    if (!converted || !whole) {
        *status = PLB_CDAZ_LOAD_CORRUPT;
        return nullptr;
    }
    cdazNormalizeIfDirty(*converted);
    const std::vector<uint8_t> stored = cdazWriteV5(*converted);
    Owned record(cdazLoadV5(stored, installed, extraStatus, status), cdazFree);
    if (!record || record->streamCount != converted->streamCount ||
        record->pluginCount != converted->pluginCount) {
        *status = PLB_CDAZ_LOAD_BAD_VERSION;
        return nullptr;
    }
    if (writes == CdazWrites::Never || !cdazReplaceFile(path, stored)) {
        *status |= PLB_CDAZ_LOAD_IN_MEMORY;
        record->loadStatus = *status;
    }
    return record.release();
}

} // namespace

CdazRecord* cdazLoadFile(const std::filesystem::path& path, std::span<const InstalledPlugin> installed,
                         uint32_t extraStatus, uint32_t* status, CdazWrites writes)
{
    uint32_t result = PLB_CDAZ_LOAD_BAD_VERSION;
    CdazRecord* record = nullptr;
    try {
        std::vector<uint8_t> bytes;
        result = readWholeFile(path, bytes);
        if (!result) {
            if (bytes.size() < 2)
                result = PLB_CDAZ_LOAD_CORRUPT;
            else if (bytes[0] == kCdazVersion)
                record = cdazLoadV5(bytes, installed, extraStatus, &result);
            else if (bytes[0] == 4)
                record = convertV4(path, bytes, installed, extraStatus, writes, &result);
            else
                result = PLB_CDAZ_LOAD_BAD_VERSION;
        }
    } catch (const std::bad_alloc&) {
        cdazFree(record);
        record = nullptr;
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
