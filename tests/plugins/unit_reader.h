// Reads units of a stream through libstreamkit, into heap buffers of exactly the size the
// contract promises, so that a plugin writing past its largest unit is caught by the sanitizer.
#pragma once

#include "streamkit/lbr.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace movietest {

// Header, the largest frame (24 sectors of 2016 bytes), and room for two cached sound sectors.
constexpr size_t kRecordBytes = PSR_READ_HEADER_BYTES + 24 * 2016 + 4608;

struct Unit
{
    uint32_t frame = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint8_t kind = 0;
    std::vector<uint8_t> payload;

    bool isVideo() const { return (kind & UnitVideo) != 0; }
    bool operator==(const Unit&) const = default;
};

class RecordBuffer
{
  public:
    explicit RecordBuffer(size_t bytes = kRecordBytes)
        : m_bytes(std::make_unique<uint8_t[]>(bytes)), m_size(bytes)
    {
    }
    PsrReadRecord* get() { return reinterpret_cast<PsrReadRecord*>(m_bytes.get()); }
    size_t size() const { return m_size; }

  private:
    std::unique_ptr<uint8_t[]> m_bytes;
    size_t m_size;
};

inline Unit toUnit(const PsrReadRecord* r)
{
    Unit u;
    u.frame = r->frameNumber;
    u.width = r->width;
    u.height = r->height;
    u.kind = r->unitKind;
    u.payload.assign(r->payload, r->payload + r->payloadBytes);
    return u;
}

// Units until the end of the stream (or `limit` units).
inline std::vector<Unit> readUnits(StreamState* stream, uint32_t wanted = 0, size_t limit = 1000000)
{
    std::vector<Unit> units;
    RecordBuffer record;
    while (units.size() < limit && LbrReadStream(stream, wanted, record.get()) == 1)
        units.push_back(toUnit(record.get()));
    return units;
}

// A stream opened through libstreamkit and closed when it goes out of scope.
class OpenStream
{
  public:
    OpenStream(const char* path, StrInfo info, uint32_t mode = LBR_WANT_VIDEO | LBR_WANT_AUDIO)
        : m_info(info), m_stream(LbrOpenStream("Filmfile.psr", path, 0, &m_info, mode))
    {
    }
    ~OpenStream()
    {
        if (m_stream)
            LbrCloseStream(m_stream);
    }
    OpenStream(const OpenStream&) = delete;
    OpenStream& operator=(const OpenStream&) = delete;

    StreamState* get() const { return m_stream; }
    explicit operator bool() const { return m_stream != nullptr; }

  private:
    StrInfo m_info;
    StreamState* m_stream;
};

} // namespace movietest
