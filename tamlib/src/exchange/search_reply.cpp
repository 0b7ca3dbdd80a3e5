// The search reply: one line per CDAZ the server holds, newest first.
//
//   language TAB number TAB revision TAB analyzeVersion TAB pluginVersionSum TAB title TAB
//   publisher TAB pluginCount TAB streamCount TAB effectiveStreams TAB anything [TAB|CR ...] LF
//
// Numbers are decimal, read as C's conversion reads them: leading blanks, an optional sign, the
// digits up to the first other character (none: 0), the value then cut to the field's width.
#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "exchange/exchange_client.h"
#include "exchange/exchange_protocol.h"

namespace tamlib::exchange {

namespace {

int64_t decimal(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    int64_t value = 0;
    // Saturates far beyond 32 bits, so that the cut to the field's width stays defined.
    constexpr int64_t kCeiling = int64_t(1) << 40;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = std::min(kCeiling, value * 10 + (text[i] - '0'));
    return negative ? -value : value;
}

template <size_t N> void copyField(char (&target)[N], std::string_view text)
{
    const size_t length = std::min(text.size(), N - 1);
    std::memcpy(target, text.data(), length);
    target[length] = '\0';
}

} // namespace

size_t parseSearchReply(std::span<const uint8_t> body, CdazSearchRecord* records, size_t capacity)
{
    if (!records)
        return 0;
    const std::string_view text(reinterpret_cast<const char*>(body.data()), body.size());
    capacity = std::min(capacity, kMaxRecords);
    size_t count = 0;
    size_t pos = 0;
    while (count < capacity) {
        const size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            break;
        const std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;

        // Fields 1 to 10 each end at a TAB; field 11 is what follows the tenth TAB.
        std::array<std::string_view, kReplyFields - 1> fields;
        size_t start = 0;
        size_t found = 0;
        for (; found < fields.size(); ++found) {
            const size_t tab = line.find('\t', start);
            if (tab == std::string_view::npos)
                break;
            fields[found] = line.substr(start, tab - start);
            start = tab + 1;
        }
        if (found < fields.size())
            break;
        if (fields[0].size() > kLanguageMax || fields[5].size() > kTitleMax ||
            fields[6].size() > kPublisherMax)
            break;

        CdazSearchRecord& record = records[count];
        std::memset(&record, 0, sizeof record);
        copyField(record.language, fields[0]);
        record.number = int16_t(decimal(fields[1]));
        record.revision = uint16_t(decimal(fields[2]));
        record.analyzeVersion = uint32_t(decimal(fields[3]));
        record.pluginVersionSum = uint32_t(decimal(fields[4]));
        copyField(record.title, fields[5]);
        copyField(record.publisher, fields[6]);
        record.pluginCount = uint32_t(decimal(fields[7]));
        record.streamCount = uint32_t(decimal(fields[8]));
        record.effectiveStreams = uint32_t(decimal(fields[9]));
        record.end = 0;
        ++count;
    }
    return count;
}

} // namespace tamlib::exchange
