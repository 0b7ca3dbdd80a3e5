#include "cdaz_header.h"

#include <cstring>
#include <fstream>
#include <system_error>
#include <vector>

namespace tamrin::cli {

namespace fs = std::filesystem;

namespace {

// Longest string area read: many times what any disc's texts and stream names take.
constexpr uint32_t kMaxStringArea = 64u << 20;

uint32_t readLe32(const uint8_t* at)
{
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

// A single-byte text as UTF-8 (bytes above 0x7F read as Latin-1), as the other record texts.
std::string utf8Text(const uint8_t* text, size_t length)
{
    std::string utf8;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < 0x80) {
            utf8 += char(text[i]);
        } else {
            utf8 += char(0xC0 | (text[i] >> 6));
            utf8 += char(0x80 | (text[i] & 0x3F));
        }
    }
    return utf8;
}

} // namespace

std::optional<CdazHeader> parseCdazHeader(std::span<const uint8_t> bytes)
{
    if (bytes.size() < kCdazHeaderBytes || bytes[0] != 5)
        return std::nullopt;
    const uint32_t count = readLe32(bytes.data() + 0x28);
    const uint32_t areaSize = readLe32(bytes.data() + 0x2C);
    if (areaSize > bytes.size() - kCdazHeaderBytes)
        return std::nullopt;
    // The strings, without the zero that ends the area; the offsets of the strings, from index 1
    // (index 0 is the empty text).
    if (areaSize == 0 || bytes[kCdazHeaderBytes + areaSize - 1] != 0)
        return std::nullopt;
    const std::span<const uint8_t> area = bytes.subspan(kCdazHeaderBytes, areaSize - 1);
    std::vector<size_t> starts;
    for (size_t at = 0; at < area.size() && starts.size() < count;) {
        starts.push_back(at);
        while (at < area.size() && area[at] != 0)
            ++at;
        if (at == area.size())
            return std::nullopt; // a string without its zero
        ++at;
    }
    const auto text = [&](size_t offset) -> std::optional<std::string> {
        const uint32_t index = readLe32(bytes.data() + offset);
        if (index == 0)
            return std::string();
        if (index > starts.size())
            return std::nullopt;
        const uint8_t* start = area.data() + starts[index - 1];
        return utf8Text(start,
                        strnlen(reinterpret_cast<const char*>(start), area.size() - starts[index - 1]));
    };
    CdazHeader header;
    header.version = bytes[0];
    header.analyzeVersion = readLe32(bytes.data() + 0x20);
    const auto systemId = text(0x14), volumeId = text(0x18), publisherId = text(0x1C);
    if (!systemId || !volumeId || !publisherId)
        return std::nullopt;
    header.systemId = *systemId;
    header.volumeId = *volumeId;
    header.publisherId = *publisherId;
    return header;
}

std::optional<CdazHeader> readCdazHeader(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes(kCdazHeaderBytes);
    if (!in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size())))
        return std::nullopt;
    const uint32_t areaSize = readLe32(bytes.data() + 0x2C);
    std::error_code error;
    const uintmax_t fileSize = fs::file_size(path, error);
    if (error || areaSize > kMaxStringArea || areaSize > fileSize - kCdazHeaderBytes)
        return std::nullopt;
    bytes.resize(kCdazHeaderBytes + areaSize);
    if (!in.read(reinterpret_cast<char*>(bytes.data() + kCdazHeaderBytes), std::streamsize(areaSize)))
        return std::nullopt;
    return parseCdazHeader(bytes);
}

} // namespace tamrin::cli
