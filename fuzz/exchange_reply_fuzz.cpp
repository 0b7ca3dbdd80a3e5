// Reads arbitrary bytes as a search reply of the CDAZ exchange. The records must keep their
// limits (at most 16; texts within their fields and ended by a zero); each record needs a line of
// its own; and the records written back as a reply must read back the same.
#include <cstdint>
#include <cstring>
#include <string>

#include "exchange/exchange_client.h"
#include "exchange/exchange_protocol.h"

namespace {

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

template <size_t N> size_t boundedLength(const char (&text)[N])
{
    const void* zero = std::memchr(text, 0, N);
    check(zero != nullptr);
    return size_t(static_cast<const char*>(zero) - text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace tamlib::exchange;
    CdazSearchRecord records[kMaxRecords + 1];
    std::memset(records, 0xA5, sizeof records);
    const size_t count = parseSearchReply({data, size}, records, kMaxRecords);
    check(count <= kMaxRecords);
    size_t lines = 0;
    for (size_t i = 0; i < size; ++i)
        lines += data[i] == '\n';
    check(count <= lines);
    // The slot after the capacity is never touched.
    for (size_t i = 0; i < sizeof records[kMaxRecords]; ++i)
        check(reinterpret_cast<const uint8_t*>(&records[kMaxRecords])[i] == 0xA5);

    std::string again;
    for (size_t i = 0; i < count; ++i) {
        const CdazSearchRecord& r = records[i];
        check(boundedLength(r.language) <= kLanguageMax);
        check(boundedLength(r.title) <= kTitleMax);
        check(boundedLength(r.publisher) <= kPublisherMax);
        check(r.end == 0);
        again += std::string(r.language) + "\t" + std::to_string(r.number) + "\t" +
                 std::to_string(r.revision) + "\t" + std::to_string(r.analyzeVersion) + "\t" +
                 std::to_string(r.pluginVersionSum) + "\t" + r.title + "\t" + r.publisher + "\t" +
                 std::to_string(r.pluginCount) + "\t" + std::to_string(r.streamCount) + "\t" +
                 std::to_string(r.effectiveStreams) + "\t\n";
    }
    // Texts that held a TAB or LF would not survive the round trip; they cannot have been read.
    CdazSearchRecord back[kMaxRecords];
    const size_t backCount =
        parseSearchReply({reinterpret_cast<const uint8_t*>(again.data()), again.size()}, back, kMaxRecords);
    check(backCount == count);
    for (size_t i = 0; i < count; ++i) {
        check(std::strcmp(back[i].language, records[i].language) == 0);
        check(std::strcmp(back[i].title, records[i].title) == 0);
        check(std::strcmp(back[i].publisher, records[i].publisher) == 0);
        check(back[i].number == records[i].number && back[i].revision == records[i].revision);
        check(back[i].analyzeVersion == records[i].analyzeVersion);
        check(back[i].pluginVersionSum == records[i].pluginVersionSum);
        check(back[i].pluginCount == records[i].pluginCount && back[i].streamCount == records[i].streamCount);
        check(back[i].effectiveStreams == records[i].effectiveStreams);
    }
    return 0;
}
