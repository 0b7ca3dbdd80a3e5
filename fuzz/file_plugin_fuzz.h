// Arbitrary bytes as a file for the fuzz targets of the file plugins (any plugin with
// PsrIsSupportFile), through libstreamkit as the application drives them: the file test, the
// description, then a stream opened on that description, every unit read (at most kMaxUnits) and
// given back, a few units of each kind after a seek to the start, a few after a seek to the middle
// and a few after a seek far past the end. Each unit must fit the largest unit the target names.
//
// Header-only; each target calls runFilePluginFuzz from its LLVMFuzzerTestOneInput. The bindings
// are opened on the first input and kept: one target per program.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "streamkit/lbr.h"

namespace fuzzing {

struct FilePluginTarget
{
    const char* plugin;      // the plugin's file name, "Name.psr"
    const char* keepLoaded;  // a second plugin held loaded for the whole run, or nullptr
    size_t recordBytes;      // the read record: header plus the largest payload
    // The description the file is read with when the plugin does not describe it; nullptr: an
    // undescribed file is not read.
    const StrInfo* undescribed;
};

constexpr size_t kMaxUnits = 4096;

// A memory file whose contents are the input, named through /proc so the plugin opens it
// like any other file.
class InputFile
{
  public:
    InputFile(const char* name, const uint8_t* data, size_t size)
    {
        m_fd = memfd_create(name, MFD_CLOEXEC);
        if (m_fd < 0)
            return;
        size_t done = 0;
        while (done < size) {
            const ssize_t wrote = ::write(m_fd, data + done, size - done);
            if (wrote <= 0)
                return;
            done += size_t(wrote);
        }
        std::snprintf(m_path, sizeof m_path, "/proc/self/fd/%d", m_fd);
        m_ready = true;
    }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    const char* path() const { return m_ready ? m_path : nullptr; }

  private:
    int m_fd = -1;
    bool m_ready = false;
    char m_path[64] = {};
};

// Reads up to `limit` units of the wanted kinds, each given back after its size is checked.
inline size_t readSome(StreamState* stream, PsrReadRecord* record, size_t recordBytes, uint32_t wanted,
                       size_t limit)
{
    size_t n = 0;
    while (n < limit && LbrReadStream(stream, wanted, record) == 1) {
        if (PSR_READ_HEADER_BYTES + size_t(record->payloadBytes) > recordBytes)
            std::abort();
        LbrFreeReadBuffer(stream, record);
        ++n;
    }
    return n;
}

inline int runFilePluginFuzz(const FilePluginTarget& target, const uint8_t* data, size_t size)
{
    static PluginBinding* binding = LbrOpenPSR(target.plugin);
    // libFuzzer keeps reading the coverage counters of every instrumented library it saw, so a
    // plugin the inputs load (a decoder a file names) must never be unloaded while it runs.
    static PluginBinding* kept = target.keepLoaded ? LbrOpenPSR(target.keepLoaded) : nullptr;
    if (!binding || (target.keepLoaded && !kept))
        std::abort();
    InputFile file(target.plugin, data, size);
    if (!file.path())
        return 0;

    LbrIsSupportFile(binding, file.path());
    StrInfo info{};
    if (!LbrGetStrFileInfo(binding, file.path(), &info)) {
        if (!target.undescribed)
            return 0;
        info = *target.undescribed;
    }
    StreamState* stream =
        LbrOpenStream(target.plugin, file.path(), 0, &info, LBR_WANT_VIDEO | LBR_WANT_AUDIO);
    if (!stream)
        return 0;
    auto buffer = std::make_unique<uint8_t[]>(target.recordBytes);
    auto* record = reinterpret_cast<PsrReadRecord*>(buffer.get());
    const size_t bytes = target.recordBytes;
    readSome(stream, record, bytes, 0, kMaxUnits);
    LbrSeekStream(stream, 0);
    readSome(stream, record, bytes, LBR_WANT_VIDEO, 8);
    readSome(stream, record, bytes, LBR_WANT_AUDIO, 8);
    LbrSeekStream(stream, info.durationMs / 2);
    readSome(stream, record, bytes, 0, 8);
    LbrSeekStream(stream, 0xFFFFFFFEu);
    readSome(stream, record, bytes, 0, 8);
    LbrCloseStream(stream);
    return 0;
}

} // namespace fuzzing
