#include "wave_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tamrin::cli {

namespace {

constexpr int kNameAttempts = 100;

void put16(uint8_t* at, uint16_t value)
{
    at[0] = uint8_t(value);
    at[1] = uint8_t(value >> 8);
}

void put32(uint8_t* at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = uint8_t(value >> (8 * i));
}

std::string errnoText(int error)
{
    return std::strerror(error);
}

} // namespace

std::array<uint8_t, kWaveHeaderBytes> waveHeader(const WaveFormat& format, uint32_t dataBytes)
{
    std::array<uint8_t, kWaveHeaderBytes> header{};
    uint8_t* h = header.data();
    const uint32_t pad = dataBytes & 1;
    std::memcpy(h + 0x00, "RIFF", 4);
    put32(h + 0x04, 36 + dataBytes + pad);
    std::memcpy(h + 0x08, "WAVE", 4);
    std::memcpy(h + 0x0C, "fmt ", 4);
    put32(h + 0x10, 16);
    put16(h + 0x14, 1);
    put16(h + 0x16, format.channels);
    put32(h + 0x18, format.sampleRate);
    put32(h + 0x1C, format.sampleRate * format.frameBytes());
    put16(h + 0x20, uint16_t(format.frameBytes()));
    put16(h + 0x22, format.bitsPerSample);
    std::memcpy(h + 0x24, "data", 4);
    put32(h + 0x28, dataBytes);
    return header;
}

WaveFile::~WaveFile()
{
    discard();
}

bool WaveFile::create(const std::filesystem::path& target, const WaveFormat& format, std::string& error)
{
    discard();
    // The finished file replaces the target by a rename: a device, a pipe or a folder there
    // would be replaced, not written to.
    struct stat st = {};
    if (::stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        error = "not a regular file (sound is written to regular files only)";
        return false;
    }
    static unsigned counter = 0;
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    // Built by appending: the same expression with operator+ draws a false -Wrestrict from GCC 12.
    std::string base = ".";
    base.append(target.filename().string()).append(".tmp-").append(std::to_string(::getpid())).append("-");
    for (int attempt = 0; attempt < kNameAttempts && m_fd < 0; ++attempt) {
        const std::filesystem::path temporary = folder / (base + std::to_string(counter++));
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            m_fd = fd;
            m_temporary = temporary;
        } else if (errno != EEXIST) {
            error = "cannot create a file in " + folder.string() + ": " + errnoText(errno);
            return false;
        }
    }
    if (m_fd < 0) {
        error = "cannot find a free temporary name in " + folder.string();
        return false;
    }
    m_target = target;
    m_format = format;
    m_dataBytes = 0;
    const auto header = waveHeader(format, 0);
    return writeAll(header.data(), header.size(), error);
}

bool WaveFile::write(const void* samples, size_t length, std::string& error)
{
    if (m_fd < 0) {
        error = "no file is open";
        return false;
    }
    if (length > kWaveMaxDataBytes - m_dataBytes) {
        error = "cannot write " + m_target.string() + ": the sound is too long for a WAVE file (4 GiB)";
        discard();
        return false;
    }
    if (!writeAll(samples, length, error))
        return false;
    m_dataBytes += length;
    return true;
}

bool WaveFile::commit(std::string& error)
{
    if (m_fd < 0) {
        error = "no file is open";
        return false;
    }
    if (m_dataBytes & 1) {
        const uint8_t pad = 0;
        if (!writeAll(&pad, 1, error))
            return false;
    }
    const auto header = waveHeader(m_format, uint32_t(m_dataBytes));
    ssize_t wrote;
    do {
        wrote = ::pwrite(m_fd, header.data(), header.size(), 0);
    } while (wrote < 0 && errno == EINTR);
    if (wrote != ssize_t(header.size())) {
        error = "cannot write " + m_target.string() + ": " + errnoText(wrote < 0 ? errno : EIO);
        discard();
        return false;
    }
    // A failing close can be the first report of a failed write (NFS, quota).
    const int closed = ::close(m_fd);
    m_fd = -1;
    if (closed != 0) {
        error = "cannot write " + m_target.string() + ": " + errnoText(errno);
        discard();
        return false;
    }
    if (::rename(m_temporary.c_str(), m_target.c_str()) != 0) {
        error = "cannot create " + m_target.string() + ": " + errnoText(errno);
        discard();
        return false;
    }
    m_temporary.clear();
    return true;
}

void WaveFile::discard()
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

bool WaveFile::writeAll(const void* bytes, size_t length, std::string& error)
{
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

} // namespace tamrin::cli
