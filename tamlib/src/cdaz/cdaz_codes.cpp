// Gap code and Huffman code tables of the CDAZ file.
#include "cdaz/cdaz_codes.h"

#include <algorithm>

namespace tamlib {

namespace {

// Codes of gaps 0 to 15, skip 16 and end, as (code, length).
constexpr CdazCode kGapCodes[18] = {
    {0b00001, 5},        {0b0001, 4},        {0b000000010, 9},   {0b00000011, 8},    {0b00000000, 8},
    {0b0111, 4},         {0b010, 3},         {0b001, 3},         {0b0110, 4},        {0b0000000110, 10},
    {0b0000001011, 10},  {0b0000001010, 10}, {0b0000001001, 10}, {0b0000001000, 10}, {0b00000001111, 11},
    {0b00000001110, 11}, {0b000001, 6},      {0b1, 1},
};

struct Node
{
    uint64_t weight;
    std::vector<uint16_t> symbols;
};

// One attempt at the code; false when a code would pass 27 bits.
bool tryBuild(const std::vector<uint64_t>& weights, std::vector<CdazCode>& table)
{
    std::vector<Node> nodes;
    for (size_t s = 0; s < weights.size(); ++s)
        if (weights[s])
            nodes.push_back(Node{weights[s], {uint16_t(s)}});
    std::fill(table.begin(), table.end(), CdazCode{});
    if (nodes.empty())
        return true;
    if (nodes.size() == 1) {
        table[nodes[0].symbols[0]] = CdazCode{0, 1};
        return true;
    }
    std::stable_sort(nodes.begin(), nodes.end(),
                     [](const Node& a, const Node& b) { return a.weight < b.weight; });
    while (nodes.size() > 1) {
        Node lighter = std::move(nodes[0]);
        Node other = std::move(nodes[1]);
        nodes.erase(nodes.begin(), nodes.begin() + 2);
        for (uint16_t s : lighter.symbols)
            if (++table[s].length > kMaxCodeLength)
                return false;
        for (uint16_t s : other.symbols) {
            table[s].bits |= 1u << table[s].length;
            if (++table[s].length > kMaxCodeLength)
                return false;
        }
        Node merged{lighter.weight + other.weight, std::move(lighter.symbols)};
        merged.symbols.insert(merged.symbols.end(), other.symbols.begin(), other.symbols.end());
        auto at = std::upper_bound(nodes.begin(), nodes.end(), merged.weight,
                                   [](uint64_t weight, const Node& node) { return weight < node.weight; });
        nodes.insert(at, std::move(merged));
    }
    return true;
}

} // namespace

const CdazCode& gapCode(int symbol)
{
    return kGapCodes[symbol];
}

std::vector<CdazCode> buildCodeTable(std::span<const uint64_t> counts)
{
    std::vector<uint64_t> weights(counts.begin(), counts.end());
    std::vector<CdazCode> table(counts.size());
    while (!tryBuild(weights, table)) {
        uint64_t smallest = UINT64_MAX;
        for (uint64_t w : weights)
            if (w)
                smallest = std::min(smallest, w);
        for (uint64_t& w : weights)
            if (w)
                w += smallest;
    }
    return table;
}

void writeCodeTable(BitWriter& out, std::span<const CdazCode> table)
{
    const uint32_t symbols = uint32_t(table.size());
    uint32_t coded = 0, longest = 0, largest = 0;
    for (uint32_t s = 0; s < symbols; ++s) {
        if (table[s].length) {
            ++coded;
            longest = std::max<uint32_t>(longest, table[s].length);
            largest = s;
        }
    }
    const uint32_t lengthWidth = bitlen(longest);
    const uint32_t symbolWidth = bitlen(largest);
    out.put(coded, bitlen(symbols));
    out.put(lengthWidth, 5);
    out.put(symbolWidth, bitlen(symbols - 1));
    for (uint32_t s = 0; s < symbols; ++s) {
        if (!table[s].length)
            continue;
        out.put(s, symbolWidth);
        out.put(table[s].length, lengthWidth);
        out.put(table[s].bits, table[s].length);
    }
}

void CodeDecoder::clear()
{
    m_nodes.assign(1, Node{});
}

void CodeDecoder::insert(uint32_t bits, uint32_t length, int symbol)
{
    uint32_t node = 0;
    for (uint32_t i = length; i-- > 0;) {
        if (m_nodes[node].symbol >= 0)
            return; // a shorter code already ends here
        const int b = (bits >> i) & 1;
        if (m_nodes[node].child[b] == 0) {
            m_nodes[node].child[b] = uint32_t(m_nodes.size());
            m_nodes.push_back(Node{});
        }
        node = m_nodes[node].child[b];
    }
    if (m_nodes[node].symbol < 0 && m_nodes[node].child[0] == 0 && m_nodes[node].child[1] == 0)
        m_nodes[node].symbol = symbol;
}

void CodeDecoder::assign(std::span<const CdazCode> table)
{
    clear();
    for (size_t s = 0; s < table.size(); ++s)
        if (table[s].length)
            insert(table[s].bits, table[s].length, int(s));
}

bool CodeDecoder::read(BitReader& in, uint32_t symbols)
{
    clear();
    const uint32_t coded = in.get(bitlen(symbols));
    const uint32_t lengthWidth = in.get(5);
    const uint32_t symbolWidth = in.get(bitlen(symbols - 1));
    if (in.failed() || coded > symbols)
        return false;
    m_nodes.reserve(1 + size_t(coded) * 4);
    for (uint32_t k = 0; k < coded; ++k) {
        const uint32_t symbol = in.get(symbolWidth);
        const uint32_t length = in.get(lengthWidth);
        if (in.failed() || symbol >= symbols || length == 0 || length > kMaxCodeLength)
            return false;
        const uint32_t bits = in.get(length);
        if (in.failed())
            return false;
        insert(bits, length, int(symbol));
    }
    return true;
}

} // namespace tamlib
