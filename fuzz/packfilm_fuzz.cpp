// Feeds arbitrary bytes, as a compact movie file, to the Packfilm plugin through libstreamkit: the
// file test, the description, and reads of every unit with seeks in between, owned blocks given
// back. The plugin's largest unit is a 65535-byte payload grown by an owned unit's reference.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "streamkit/lbr.h"

namespace {

constexpr size_t kRecordBytes = PSR_READ_HEADER_BYTES + 0xFFFF - 4 + PSR_OWNED_REF_BYTES;
constexpr size_t kMaxUnits = 4096;

// A memory file whose contents are the input, named through /proc so the plugin opens it
// like any other file.
class InputFile
{
  public:
    InputFile(const uint8_t* data, size_t size)
    {
        m_fd = memfd_create("packfilm-fuzz", MFD_CLOEXEC);
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

size_t readSome(StreamState* stream, PsrReadRecord* record, uint32_t wanted, size_t limit)
{
    size_t n = 0;
    while (n < limit && LbrReadStream(stream, wanted, record) == 1) {
        if (PSR_READ_HEADER_BYTES + size_t(record->payloadBytes) > kRecordBytes)
            std::abort();
        LbrFreeReadBuffer(stream, record);
        ++n;
    }
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static PluginBinding* binding = LbrOpenPSR("Packfilm.psr");
    // The decoder plugin the seeds name stays loaded: libFuzzer keeps reading the coverage
    // counters of every instrumented library it saw, so none may be unloaded while it runs.
    static PluginBinding* decoder = LbrOpenPSR("Trackaudio.psr");
    if (!binding || !decoder)
        std::abort();
    InputFile file(data, size);
    if (!file.path())
        return 0;

    LbrIsSupportFile(binding, file.path());
    StrInfo info{};
    if (!LbrGetStrFileInfo(binding, file.path(), &info))
        return 0;
    StreamState* stream =
        LbrOpenStream("Packfilm.psr", file.path(), 0, &info, LBR_WANT_VIDEO | LBR_WANT_AUDIO);
    if (!stream)
        return 0;
    auto buffer = std::make_unique<uint8_t[]>(kRecordBytes);
    auto* record = reinterpret_cast<PsrReadRecord*>(buffer.get());
    readSome(stream, record, 0, kMaxUnits);
    LbrSeekStream(stream, 0);
    readSome(stream, record, LBR_WANT_VIDEO, 8);
    readSome(stream, record, LBR_WANT_AUDIO, 8);
    LbrSeekStream(stream, info.durationMs / 2);
    readSome(stream, record, 0, 8);
    LbrSeekStream(stream, 0xFFFFFFFEu);
    readSome(stream, record, 0, 8);
    LbrCloseStream(stream);
    return 0;
}
