// Builds compact movie files (.cstr) byte by byte for the Packfilm tests and the fuzz seeds: the
// header, the extension block, unit records as given, and the index. Tests damage the result by
// patching fields at their offsets.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "streamkit/psr.h"

namespace cstrbuild {

inline void put16(std::string& s, size_t at, uint32_t v)
{
    s[at] = char(v);
    s[at + 1] = char(v >> 8);
}

inline void put32(std::string& s, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        s[at + size_t(i)] = char(v >> (8 * i));
}

inline std::string le16(uint32_t v)
{
    std::string s(2, '\0');
    put16(s, 0, v);
    return s;
}

inline std::string le32(uint32_t v)
{
    std::string s(4, '\0');
    put32(s, 0, v);
    return s;
}

// One unit record: frame number, payload length, then `words` (the field mask and the fields it
// announces, as the file's version wants them), then the payload.
inline std::string record(uint16_t frameNumber, const std::string& payload,
                          const std::vector<uint16_t>& words = {})
{
    std::string r = le16(frameNumber) + le16(uint32_t(payload.size()));
    for (uint16_t w : words)
        r += le16(w);
    return r + payload;
}

// An owned unit (version 2 or 3): kind and flags stored with UnitOwned, the block after the payload.
inline std::string ownedRecord(uint16_t frameNumber, uint8_t kind, const std::string& rest,
                               const std::string& block)
{
    std::string r = le16(frameNumber) + le16(uint32_t(4 + rest.size())) + le16(0x0008) +
                    le16(uint32_t(kind) << 8 | UnitOwned);
    return r + le32(uint32_t(block.size())) + rest + block;
}

struct Entry
{
    uint8_t type;
    uint32_t endMs; // stored only for StrTimed streams
    size_t unit;    // the record the entry points at
};

struct File
{
    uint8_t version = 2;
    std::string decoder;
    StrInfo info{};
    uint16_t indexFlags = 0;
    std::vector<std::string> units;
    std::vector<Entry> index;
};

// Header offsets the tests patch.
constexpr size_t kVersionAt = 4, kDecoderAt = 5, kFrameCountAt = 0x18 + 0x10, kDataOffsetAt = 0x44,
                 kUnitAreaAt = 0x48, kIndexOffsetAt = 0x4C, kIndexBytesAt = 0x50;

inline std::string build(const File& f)
{
    const size_t headerBytes = f.version >= 1 ? 116 : 84;
    std::string s(headerBytes, '\0');
    put32(s, 0, 0x04B70CC2);
    s[kVersionAt] = char(f.version);
    std::memcpy(s.data() + kDecoderAt, f.decoder.data(), std::min<size_t>(f.decoder.size(), 19));
    StrInfo info = f.info;
    info.frameCount = uint32_t(f.index.size());
    std::memcpy(s.data() + 0x18, &info, 44);
    std::vector<uint32_t> offsets;
    for (const std::string& u : f.units) {
        offsets.push_back(uint32_t(s.size()));
        s += u;
    }
    const uint32_t unitArea = uint32_t(s.size() - headerBytes);
    const uint32_t indexOffset = f.index.empty() ? 0 : uint32_t(s.size());
    for (const Entry& e : f.index) {
        if (f.indexFlags & 1)
            s += char(e.type);
        if (info.kind & StrTimed)
            s += le32(e.endMs);
        s += le32(offsets.at(e.unit));
    }
    put32(s, kDataOffsetAt, uint32_t(headerBytes));
    put32(s, kUnitAreaAt, unitArea);
    put32(s, kIndexOffsetAt, indexOffset);
    put32(s, kIndexBytesAt, f.index.empty() ? 0 : uint32_t(s.size() - indexOffset));
    if (f.version >= 1) {
        put16(s, 84 + 6, f.indexFlags);
        put32(s, 84 + 8, info.outWidth);
        put32(s, 84 + 12, info.outHeight);
    }
    return s;
}

} // namespace cstrbuild
