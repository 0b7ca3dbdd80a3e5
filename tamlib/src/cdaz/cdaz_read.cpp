// Reads the CDAZ file, format version 5 (layout in cdaz_write.cpp). Every count is checked
// against the bytes that are left before anything is allocated for it.
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "cdaz/cdaz_bytes.h"
#include "cdaz/cdaz_codes.h"
#include "cdaz/cdaz_format.h"

namespace tamlib {

namespace {

constexpr uint64_t kMinPluginBits = 17; // two bytes and the end code
constexpr uint64_t kMinStreamBits = 3;  // the group and a one-bit end code

// Streams repeat a name at no cost (an unchanged string index is a zero delta), and each stream
// owns a copy: the copies may take this many bytes per byte of the file, plus a fixed allowance.
constexpr uint64_t kNameBytesPerFileByte = 256;
constexpr uint64_t kNameBytesAllowance = uint64_t(1) << 20;

// The strings of the area: index 0 is the empty text, index k the k-th zero-ended piece.
class StringArea
{
  public:
    StringArea(const uint8_t* area, size_t size, uint32_t count) : m_area(reinterpret_cast<const char*>(area))
    {
        m_starts.push_back(kEmpty);
        size_t start = 0;
        for (size_t i = 0; i < size && m_starts.size() <= count; ++i) {
            if (area[i] == 0) {
                m_starts.push_back(uint32_t(start));
                start = i + 1;
            }
        }
    }
    // The text of an index, or null when the area has no such string.
    const char* text(uint32_t index) const
    {
        if (index >= m_starts.size())
            return nullptr;
        return index == 0 ? "" : m_area + m_starts[index];
    }

  private:
    static constexpr uint32_t kEmpty = 0xFFFFFFFF;
    const char* m_area;
    std::vector<uint32_t> m_starts;
};

const CodeDecoder& gapDecoder()
{
    static const CodeDecoder decoder = [] {
        CdazCode codes[18];
        for (int s = 0; s < 18; ++s)
            codes[s] = gapCode(s);
        CodeDecoder d;
        d.assign(codes);
        return d;
    }();
    return decoder;
}

template <size_t N> bool copyIndexed(char (&target)[N], const StringArea& strings, uint32_t index)
{
    const char* text = strings.text(index);
    if (!text)
        return false;
    cdazCopyText(target, text);
    return true;
}

bool readPlugins(BitReader& in, CdazRecord& record, uint16_t count, const StringArea& strings)
{
    const CodeDecoder& gaps = gapDecoder();
    uint8_t previous[16] = {};
    for (uint16_t p = 0; p < count; ++p) {
        uint8_t block[16] = {};
        block[0] = uint8_t(in.get(8));
        block[1] = uint8_t(in.get(8));
        uint64_t position = 16;
        for (;;) {
            const int symbol = gaps.decode(in);
            if (symbol < 0)
                return false;
            if (symbol == kGapEnd)
                break;
            if (symbol == kGapSkip16) {
                position += 16;
                continue;
            }
            position += uint64_t(symbol);
            if (position >= 128)
                return false;
            block[position >> 3] |= uint8_t(0x80 >> (position & 7));
            ++position;
        }
        uint8_t raw[16];
        for (int i = 0; i < 16; ++i)
            raw[kPluginOrder[i]] = block[i] ^ previous[kPluginOrder[i]];
        std::memcpy(previous, raw, sizeof raw);

        CdazPluginEntry& entry = record.plugins[p];
        entry.version = le16(raw);
        entry.pluginFlags = raw[2];
        if (!copyIndexed(entry.fileName, strings, le32(raw + 4)) ||
            !copyIndexed(entry.author, strings, le32(raw + 8)) ||
            !copyIndexed(entry.address, strings, le32(raw + 12)))
            return false;
        record.pluginCount = uint16_t(p + 1);
    }
    return !in.failed();
}

bool growStreams(CdazRecord& record, uint32_t wanted)
{
    if (wanted <= record.streamCapacity)
        return true;
    uint32_t capacity = record.streamCapacity;
    while (capacity < wanted)
        capacity = capacity > wanted / 2 ? wanted : capacity * 2;
    void* grown = std::realloc(record.streams, size_t(capacity) * sizeof(CdazStreamEntry));
    if (!grown)
        return false;
    record.streams = static_cast<CdazStreamEntry*>(grown);
    record.streamCapacity = capacity;
    return true;
}

struct StreamTables
{
    std::vector<uint16_t> ranks[4];
    uint32_t prefixBytes[4] = {};
    CodeDecoder runs;
    CodeDecoder bytes[7];
};

bool readTables(BitReader& in, StreamTables& tables)
{
    for (auto& list : tables.ranks) {
        while (list.size() < kCdazRecordBits) {
            const uint32_t position = in.get(9);
            if (in.failed())
                return false;
            if (position == kRankEnd)
                break;
            if (position >= kCdazRecordBits)
                return false;
            list.push_back(uint16_t(position));
        }
    }
    for (uint32_t& n : tables.prefixBytes)
        n = in.get(3);
    if (!tables.runs.read(in, 32))
        return false;
    for (CodeDecoder& table : tables.bytes)
        if (!table.read(in, 256))
            return false;
    return !in.failed();
}

bool readStreams(BitReader& in, CdazRecord& record, uint32_t count, const StreamTables& tables,
                 const StringArea& strings, uint64_t nameBudget)
{
    Record60 previous[4] = {};
    uint32_t previousStart = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (in.bitsLeft() < kMinStreamBits)
            return false;
        const int g = int(in.get(2));
        const std::vector<uint16_t>& ranks = tables.ranks[g];
        // The permuted bits map back through the rank list; bits beyond it carry nothing.
        Record60 delta{};
        auto mark = [&](uint32_t k) {
            if (k < ranks.size())
                delta[ranks[k] >> 3] |= uint8_t(0x80 >> (ranks[k] & 7));
        };
        const uint32_t n = tables.prefixBytes[g];
        for (uint32_t k = 0; k < n; ++k) {
            const int value = tables.bytes[k].decode(in);
            if (value < 0)
                return false;
            const uint8_t byte = uint8_t(value);
            forEachSetBit(&byte, 1, [&](size_t p) { mark(k * 8 + uint32_t(p)); });
        }
        uint64_t position = uint64_t(n) * 8;
        for (;;) {
            const int symbol = tables.runs.decode(in);
            if (symbol < 0)
                return false;
            if (symbol == kRunEnd)
                break;
            if (symbol == kRunSkip30) {
                position += 30;
                continue;
            }
            position += uint64_t(symbol);
            if (position >= kCdazRecordBits)
                return false;
            mark(uint32_t(position));
            ++position;
        }
        Record60 coded;
        for (size_t b = 0; b < coded.size(); ++b)
            coded[b] = previous[g][b] ^ delta[b];
        previous[g] = coded;

        CdazStreamEntry entry{};
        std::memcpy(&entry.info, coded.data(), sizeof(StrInfo));
        entry.info.startSector += previousStart;
        previousStart = entry.info.startSector;
        entry.info.outWidth ^= entry.info.width;
        entry.info.outHeight ^= entry.info.height;
        entry.streamFlags = coded[52];
        entry.pluginIndex = le16(coded.data() + 54);
        if (entry.pluginIndex >= record.pluginCount)
            return false;
        const char* name = strings.text(le32(coded.data() + 56));
        if (!name)
            return false;
        if (*name) {
            const size_t length = std::strlen(name) + 1;
            if (length > nameBudget)
                return false;
            nameBudget -= length;
            entry.streamName = strdup(name);
            if (!entry.streamName)
                return false;
        }
        if (!growStreams(record, i + 1)) {
            std::free(entry.streamName);
            return false;
        }
        record.streams[i] = entry;
        record.streamCount = int32_t(i + 1);
    }
    return true;
}

// The area holds exactly `count` non-empty strings, each ended by a zero, and one more zero.
bool exactStringArea(const uint8_t* area, size_t size, uint32_t count)
{
    if (size == 0 || area[size - 1] != 0)
        return false;
    uint64_t zeros = 0;
    for (size_t i = 0; i < size; ++i) {
        if (area[i] != 0)
            continue;
        // Only the final zero may follow another zero (or stand first, when there is no string).
        if ((i == 0 || area[i - 1] == 0) && i != size - 1)
            return false;
        ++zeros;
    }
    return zeros == uint64_t(count) + 1;
}

// After the last stream block only the padding of its last byte may be left, all zero bits.
bool onlyPaddingLeft(BitReader& in)
{
    const uint64_t left = in.bitsLeft();
    return !in.failed() && left < 8 && in.get(uint32_t(left)) == 0;
}

} // namespace

CdazRecord* cdazReadV5(std::span<const uint8_t> bytes, bool whole)
{
    if (bytes.size() < kCdazHeaderBytes || bytes[0] != kCdazVersion)
        return nullptr;
    const uint8_t* h = bytes.data();
    const uint16_t pluginCount = le16(h + 2);
    const uint32_t streamCount = le32(h + 4);
    const uint32_t stringCount = le32(h + 40);
    const uint32_t areaSize = le32(h + 44);
    if (areaSize > bytes.size() - kCdazHeaderBytes)
        return nullptr;
    if (whole && !exactStringArea(h + kCdazHeaderBytes, areaSize, stringCount))
        return nullptr;
    const size_t bitStart = kCdazHeaderBytes + areaSize;
    BitReader in(h + bitStart, bytes.size() - bitStart);
    if (pluginCount > kCdazMaxPlugins || pluginCount * kMinPluginBits > in.bitsLeft() ||
        streamCount > in.bitsLeft() / kMinStreamBits)
        return nullptr;

    std::unique_ptr<CdazRecord, void (*)(CdazRecord*)> owned(nullptr, cdazFree);
    try {
        const StringArea strings(h + kCdazHeaderBytes, areaSize, stringCount);
        owned.reset(cdazCreate(pluginCount, std::min<uint32_t>(streamCount, kCdazStreamGrowth)));
        CdazRecord* record = owned.get();
        if (!record)
            return nullptr;
        record->cdazFlags = h[1];
        record->analyzeVersion = le32(h + 32);
        record->anaSector = int32_t(le32(h + 36));
        StreamTables tables;
        const bool ok = copyIndexed(record->name, strings, le32(h + 8)) &&
                        copyIndexed(record->title, strings, le32(h + 12)) &&
                        copyIndexed(record->prefix, strings, le32(h + 16)) &&
                        copyIndexed(record->systemId, strings, le32(h + 20)) &&
                        copyIndexed(record->volumeId, strings, le32(h + 24)) &&
                        copyIndexed(record->publisherId, strings, le32(h + 28)) &&
                        readPlugins(in, *record, pluginCount, strings) && readTables(in, tables) &&
                        readStreams(in, *record, streamCount, tables, strings,
                                    kNameBytesAllowance + kNameBytesPerFileByte * bytes.size()) &&
                        (!whole || onlyPaddingLeft(in));
        return ok ? owned.release() : nullptr;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

CdazRecord* cdazLoadV5(std::span<const uint8_t> bytes, std::span<const InstalledPlugin> installed,
                       uint32_t extraStatus, uint32_t* status)
{
    CdazRecord* record = cdazReadV5(bytes);
    uint32_t result = PLB_CDAZ_LOAD_CORRUPT;
    if (record) {
        try {
            result = cdazPostLoadCheck(*record, installed) | extraStatus;
            record->loadStatus = result;
        } catch (const std::bad_alloc&) {
            cdazFree(record);
            record = nullptr;
        }
    }
    if (status)
        *status = result;
    return record;
}

} // namespace tamlib
