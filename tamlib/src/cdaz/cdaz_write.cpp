// Writes the CDAZ file, format version 5.
//
// Header (48 bytes, little-endian):
//   0x00 u8  version 5          0x01 u8  cdazFlags        0x02 u16 plugin count P
//   0x04 u32 stream count S     0x08 u32 x6 string indices of name, title, prefix, systemId,
//   volumeId, publisherId       0x20 u32 analyzeVersion   0x24 i32 anaSector
//   0x28 u32 string count N     0x2C u32 string area size Z
// String area (Z bytes): the N strings with their zeros, then one zero byte. Index 0 is the empty
// text, index k the k-th string; the most used strings come first.
// Bit stream to the end of the file: P plugin blocks (gap code), four rank lists (9-bit bit
// positions ended by 511), four 3-bit byte-prefix lengths, the run code table (32 symbols), seven
// byte code tables (256 symbols), then S stream blocks.
#include <array>
#include <bit>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "cdaz/cdaz_bytes.h"
#include "cdaz/cdaz_codes.h"
#include "cdaz/cdaz_format.h"

static_assert(std::endian::native == std::endian::little, "StrInfo is copied as it lies in memory");

namespace tamlib {

namespace {

template <size_t N> std::string_view textOf(const char (&text)[N])
{
    return std::string_view(text, strnlen(text, N));
}

// Every distinct non-empty text once, the most used first; index = position + 1.
class StringTable
{
  public:
    void add(std::string_view text)
    {
        if (text.empty())
            return;
        auto [it, fresh] = m_slots.try_emplace(text, uint32_t(m_entries.size()));
        if (fresh)
            m_entries.push_back(Entry{text, 0});
        ++m_entries[it->second].uses;
    }
    void finish()
    {
        combSort(m_entries.data(), m_entries.size(),
                 [](const Entry& a, const Entry& b) { return a.uses > b.uses; });
        for (size_t i = 0; i < m_entries.size(); ++i)
            m_slots[m_entries[i].text] = uint32_t(i + 1);
    }
    uint32_t index(std::string_view text) const
    {
        if (text.empty())
            return 0;
        return m_slots.at(text);
    }
    size_t count() const { return m_entries.size(); }
    void writeArea(std::vector<uint8_t>& out) const
    {
        for (const Entry& e : m_entries) {
            out.insert(out.end(), e.text.begin(), e.text.end());
            out.push_back(0);
        }
        out.push_back(0);
    }

  private:
    struct Entry
    {
        std::string_view text;
        uint32_t uses;
    };
    std::vector<Entry> m_entries;
    std::unordered_map<std::string_view, uint32_t> m_slots;
};

std::string_view streamNameOf(const CdazStreamEntry& stream)
{
    return stream.streamName ? std::string_view(stream.streamName) : std::string_view();
}

int groupOf(const StrInfo& info)
{
    if (info.kind & StrVideo)
        return 0;
    if (info.kind & StrAudio)
        return 1;
    if (info.kind & StrStill)
        return 2;
    return 3;
}

bool testBit(const uint8_t* bytes, size_t p)
{
    return (bytes[p >> 3] >> (7 - (p & 7))) & 1;
}
void setBit(uint8_t* bytes, size_t p)
{
    bytes[p >> 3] |= uint8_t(0x80 >> (p & 7));
}

void writeGap(BitWriter& out, int symbol)
{
    const CdazCode& code = gapCode(symbol);
    out.put(code.bits, code.length);
}

void writePluginBlocks(BitWriter& out, const CdazRecord& record, const StringTable& strings)
{
    uint8_t previous[16] = {};
    for (uint16_t p = 0; p < record.pluginCount; ++p) {
        const CdazPluginEntry& entry = record.plugins[p];
        uint8_t raw[16] = {};
        putLe16(raw, entry.version);
        raw[2] = entry.pluginFlags;
        putLe32(raw + 4, strings.index(textOf(entry.fileName)));
        putLe32(raw + 8, strings.index(textOf(entry.author)));
        putLe32(raw + 12, strings.index(textOf(entry.address)));
        uint8_t block[16];
        for (int i = 0; i < 16; ++i)
            block[i] = raw[kPluginOrder[i]] ^ previous[kPluginOrder[i]];
        std::memcpy(previous, raw, sizeof raw);

        out.put(block[0], 8);
        out.put(block[1], 8);
        uint32_t gap = 0;
        for (size_t bit = 16; bit < 128; ++bit) {
            if (!testBit(block, bit)) {
                ++gap;
                continue;
            }
            for (; gap >= 16; gap -= 16)
                writeGap(out, kGapSkip16);
            writeGap(out, int(gap));
            gap = 0;
        }
        writeGap(out, kGapEnd);
    }
}

// Calls run(symbol) for the run symbols of bits 8n .. 479 of a permuted record, end included.
template <class Run> void forEachRun(const Record60& permuted, uint32_t prefixBytes, Run run)
{
    uint32_t gap = 0;
    for (size_t byte = prefixBytes; byte < permuted.size(); ++byte) {
        const uint8_t value = permuted[byte];
        if (value == 0) {
            gap += 8;
            continue;
        }
        for (int b = 7; b >= 0; --b) {
            if (!((value >> b) & 1)) {
                ++gap;
                continue;
            }
            for (; gap >= 30; gap -= 30)
                run(kRunSkip30);
            run(int(gap));
            gap = 0;
        }
    }
    run(kRunEnd);
}

} // namespace

std::vector<uint8_t> cdazWriteV5(const CdazRecord& record)
{
    const size_t streamCount = record.streamCount > 0 ? size_t(record.streamCount) : 0;
    const CdazStreamEntry* streams = record.streams;

    StringTable strings;
    strings.add(textOf(record.name));
    strings.add(textOf(record.title));
    strings.add(textOf(record.prefix));
    strings.add(textOf(record.systemId));
    strings.add(textOf(record.volumeId));
    strings.add(textOf(record.publisherId));
    for (uint16_t p = 0; p < record.pluginCount; ++p) {
        strings.add(textOf(record.plugins[p].fileName));
        strings.add(textOf(record.plugins[p].author));
        strings.add(textOf(record.plugins[p].address));
    }
    for (size_t i = 0; i < streamCount; ++i)
        strings.add(streamNameOf(streams[i]));
    strings.finish();

    // The delta records and their groups (the same in every pass of the writer).
    std::vector<Record60> deltas(streamCount);
    std::vector<uint8_t> groups(streamCount);
    {
        Record60 previous[4] = {};
        uint32_t previousStart = 0;
        for (size_t i = 0; i < streamCount; ++i) {
            const CdazStreamEntry& stream = streams[i];
            Record60 coded{};
            std::memcpy(coded.data(), &stream.info, sizeof(StrInfo));
            putLe32(coded.data() + kInfoStart, stream.info.startSector - previousStart);
            putLe32(coded.data() + kInfoOutWidth, stream.info.outWidth ^ stream.info.width);
            putLe32(coded.data() + kInfoOutHeight, stream.info.outHeight ^ stream.info.height);
            coded[52] = stream.streamFlags;
            putLe16(coded.data() + 54, stream.pluginIndex);
            putLe32(coded.data() + 56, strings.index(streamNameOf(stream)));
            previousStart = stream.info.startSector;
            const int g = groupOf(stream.info);
            groups[i] = uint8_t(g);
            for (size_t b = 0; b < coded.size(); ++b)
                deltas[i][b] = coded[b] ^ previous[g][b];
            previous[g] = coded;
        }
    }

    // Ranking: the bit positions of each group by how often they are set.
    std::vector<uint16_t> ranks[4];
    uint32_t prefixBytes[4] = {};
    uint16_t rankOf[4][kCdazRecordBits];
    for (int g = 0; g < 4; ++g) {
        uint32_t bitCounts[kCdazRecordBits] = {};
        uint32_t records = 0;
        for (size_t i = 0; i < streamCount; ++i) {
            if (groups[i] != g)
                continue;
            ++records;
            forEachSetBit(deltas[i].data(), deltas[i].size(), [&](size_t p) { ++bitCounts[p]; });
        }
        for (uint16_t p = 0; p < kCdazRecordBits; ++p)
            if (bitCounts[p])
                ranks[g].push_back(p);
        combSort(ranks[g].data(), ranks[g].size(),
                 [&](uint16_t a, uint16_t b) { return bitCounts[a] > bitCounts[b]; });
        uint32_t leading = 0;
        while (leading < ranks[g].size() && uint64_t(bitCounts[ranks[g][leading]]) * 100 / records >= 41)
            ++leading;
        prefixBytes[g] = records ? std::min<uint32_t>(7, (leading + 7) / 8) : 0;
        for (size_t k = 0; k < ranks[g].size(); ++k)
            rankOf[g][ranks[g][k]] = uint16_t(k);
    }

    // Statistics: each delta permuted by its group's ranks, byte values and runs counted.
    std::vector<Record60> permuted(streamCount);
    std::vector<uint64_t> byteCounts[7];
    for (auto& counts : byteCounts)
        counts.assign(256, 0);
    std::vector<uint64_t> runCounts(32, 0);
    for (size_t i = 0; i < streamCount; ++i) {
        const int g = groups[i];
        Record60& bits = permuted[i];
        bits.fill(0);
        forEachSetBit(deltas[i].data(), deltas[i].size(), [&](size_t p) { setBit(bits.data(), rankOf[g][p]); });
        for (uint32_t k = 0; k < prefixBytes[g]; ++k)
            ++byteCounts[k][bits[k]];
        forEachRun(bits, prefixBytes[g], [&](int symbol) { ++runCounts[size_t(symbol)]; });
    }

    const std::vector<CdazCode> runTable = buildCodeTable(runCounts);
    std::vector<CdazCode> byteTables[7];
    for (int k = 0; k < 7; ++k)
        byteTables[k] = buildCodeTable(byteCounts[k]);

    std::vector<uint8_t> out(kCdazHeaderBytes, 0);
    out[0] = kCdazVersion;
    out[1] = record.cdazFlags;
    putLe16(&out[2], record.pluginCount);
    putLe32(&out[4], uint32_t(streamCount));
    putLe32(&out[8], strings.index(textOf(record.name)));
    putLe32(&out[12], strings.index(textOf(record.title)));
    putLe32(&out[16], strings.index(textOf(record.prefix)));
    putLe32(&out[20], strings.index(textOf(record.systemId)));
    putLe32(&out[24], strings.index(textOf(record.volumeId)));
    putLe32(&out[28], strings.index(textOf(record.publisherId)));
    putLe32(&out[32], record.analyzeVersion);
    putLe32(&out[36], uint32_t(record.anaSector));
    putLe32(&out[40], uint32_t(strings.count()));
    const size_t areaStart = out.size();
    strings.writeArea(out);
    putLe32(&out[44], uint32_t(out.size() - areaStart));
    out.reserve(out.size() + streamCount * 16 + 4096);

    BitWriter bits(out);
    writePluginBlocks(bits, record, strings);
    for (int g = 0; g < 4; ++g) {
        for (uint16_t position : ranks[g])
            bits.put(position, 9);
        if (ranks[g].size() < kCdazRecordBits)
            bits.put(kRankEnd, 9);
    }
    for (int g = 0; g < 4; ++g)
        bits.put(prefixBytes[g], 3);
    writeCodeTable(bits, runTable);
    for (int k = 0; k < 7; ++k)
        writeCodeTable(bits, byteTables[k]);

    for (size_t i = 0; i < streamCount; ++i) {
        const int g = groups[i];
        bits.put(uint32_t(g), 2);
        for (uint32_t k = 0; k < prefixBytes[g]; ++k) {
            const CdazCode& code = byteTables[k][permuted[i][k]];
            bits.put(code.bits, code.length);
        }
        forEachRun(permuted[i], prefixBytes[g], [&](int symbol) {
            const CdazCode& code = runTable[size_t(symbol)];
            bits.put(code.bits, code.length);
        });
    }
    bits.flush();
    return out;
}

} // namespace tamlib
