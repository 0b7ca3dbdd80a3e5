// Reads the CDAZ file of format version 4 (plain little-endian records, no bit coding) and turns
// it into a version-5 record.
//
// Header (20 bytes):
//   0x00 u8 version 4   0x01 u8 cdazFlags   0x02 2 bytes unused   0x04 i32 anaSector
//   0x08 u16 x3 lengths of name, title, prefix (zeros counted)   0x0E u16 plugin count
//   0x10 u16 stream count   0x12 2 bytes unused
// then name, title, prefix; then per plugin (10 bytes + texts):
//   0x00 u16 version   0x02 u8 pluginFlags   0x03 unused   0x04 u16 x3 lengths of fileName,
//   author, address   then the three texts
// then per stream (52 bytes + name):
//   0x00 the first 44 bytes of StrInfo   0x2C u8 streamFlags   0x2D unused   0x2E u16 pluginIndex
//   0x30 u16 name length   0x32 2 bytes unused   then the name
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "cdaz/cdaz_bytes.h"
#include "cdaz/cdaz_format.h"
#include "streamkit/lbr.h"

namespace tamlib {

namespace {

constexpr size_t kHeaderBytes = 20;
constexpr size_t kPluginBytes = 10;
constexpr size_t kStreamBytes = 52;
constexpr size_t kInfoBytes = 44;

class Cursor
{
  public:
    explicit Cursor(std::span<const uint8_t> bytes) : m_bytes(bytes) {}
    size_t left() const { return m_bytes.size() - m_pos; }
    const uint8_t* here() const { return m_bytes.data() + m_pos; }
    void skip(size_t n) { m_pos += n; }
    // A text of `length` bytes (zero included), cut at its first zero; false when it does not fit.
    template <size_t N> bool text(char (&target)[N], size_t length)
    {
        if (length > left())
            return false;
        const char* start = reinterpret_cast<const char*>(here());
        const size_t used = strnlen(start, length);
        const size_t copy = used < N - 1 ? used : N - 1;
        std::memcpy(target, start, copy);
        target[copy] = 0;
        m_pos += length;
        return true;
    }

  private:
    std::span<const uint8_t> m_bytes;
    size_t m_pos = 0;
};

// A default title: the prefix followed by a positive decimal number.
bool isDefaultTitle(const char* name, size_t length, const char* prefix)
{
    const size_t prefixLength = std::strlen(prefix);
    if (length <= prefixLength || std::memcmp(name, prefix, prefixLength) != 0)
        return false;
    bool positive = false;
    for (size_t i = prefixLength; i < length; ++i) {
        if (name[i] < '0' || name[i] > '9')
            return false;
        positive |= name[i] != '0';
    }
    return positive;
}

void fillDisplaySize(StrInfo& info)
{
    info.outWidth = info.width;
    info.outHeight = info.height;
    if (info.outWidth == 0 || info.outHeight == 0)
        return;
    int32_t size[2] = {int32_t(info.outWidth), int32_t(info.outHeight)};
    LbrGetOutputFrameSize(size);
    info.outWidth = uint32_t(size[0]);
    info.outHeight = uint32_t(size[1]);
}

} // namespace

CdazRecord* cdazReadV4(std::span<const uint8_t> bytes, bool* whole)
{
    if (whole)
        *whole = false;
    if (bytes.size() < kHeaderBytes || bytes[0] != 4)
        return nullptr;
    const uint8_t* h = bytes.data();
    const uint16_t pluginCount = le16(h + 14);
    const uint16_t streamCount = le16(h + 16);
    if (pluginCount > kCdazMaxPlugins)
        return nullptr;
    Cursor in(bytes);
    in.skip(kHeaderBytes);

    // Streams that the bytes cannot hold are not allocated for.
    const size_t streamRoom = std::min<size_t>(streamCount, bytes.size() / kStreamBytes);
    std::unique_ptr<CdazRecord, void (*)(CdazRecord*)> record(
        cdazCreate(std::max<uint32_t>(pluginCount, kCdazPluginGrowth),
                   uint32_t(std::max<size_t>(streamRoom, 1))),
        cdazFree);
    if (!record)
        return nullptr;
    record->cdazFlags = h[1];
    record->anaSector = int32_t(le32(h + 4));
    record->analyzeVersion = 0;
    if (!in.text(record->name, le16(h + 8)) || !in.text(record->title, le16(h + 10)) ||
        !in.text(record->prefix, le16(h + 12)))
        return nullptr;

    for (uint16_t p = 0; p < pluginCount; ++p) {
        if (in.left() < kPluginBytes)
            return nullptr;
        const uint8_t* r = in.here();
        CdazPluginEntry& entry = record->plugins[p];
        entry.version = le16(r);
        entry.pluginFlags = r[2];
        const uint16_t fileLength = le16(r + 4), authorLength = le16(r + 6), addressLength = le16(r + 8);
        in.skip(kPluginBytes);
        if (!in.text(entry.fileName, fileLength) || !in.text(entry.author, authorLength) ||
            !in.text(entry.address, addressLength))
            return nullptr;
        record->pluginCount = uint16_t(p + 1);
    }

    for (uint16_t i = 0; i < streamRoom; ++i) {
        if (in.left() < kStreamBytes)
            break;
        const uint8_t* r = in.here();
        const uint16_t nameLength = le16(r + 48);
        if (in.left() - kStreamBytes < nameLength)
            break;
        CdazStreamEntry entry{};
        std::memcpy(&entry.info, r, kInfoBytes);
        fillDisplaySize(entry.info);
        entry.streamFlags = r[44];
        entry.pluginIndex = le16(r + 46);
        if (entry.pluginIndex >= record->pluginCount)
            return nullptr;
        const char* name = reinterpret_cast<const char*>(r + kStreamBytes);
        const size_t length = strnlen(name, nameLength);
        if (length && !isDefaultTitle(name, length, record->prefix)) {
            entry.streamName = strndup(name, length);
            if (!entry.streamName)
                return nullptr;
        }
        record->streams[i] = entry;
        record->streamCount = int32_t(i) + 1;
        in.skip(kStreamBytes + nameLength);
    }
    record->dirty = 1;
    if (whole)
        *whole = record->streamCount == int32_t(streamCount);
    return record.release();
}

} // namespace tamlib
