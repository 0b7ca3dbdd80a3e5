// A CDAZ name reads: the letters, digits and '_' of the volume identifier (or nothing), the track
// count, then "%02x%d" (control byte, start sector) per track, all of it cut to 36 characters,
// and then the end sector and ".cdaz". The digits run together, so the name is read back by
// trying every split that could have produced it.
#include "cdaz/cdaz_shared_check.h"

#include <charconv>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "cdaz/cdaz_format.h"
#include "tamlib/strings.h"

namespace tamlib {

namespace {

constexpr size_t kNameCut = 36;
constexpr size_t kMaxTracks = 99;
constexpr size_t kMaxDigits = 10;
constexpr std::string_view kExtension = ".cdaz";

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isHex(char c)
{
    return isDigit(c) || (c >= 'a' && c <= 'f');
}

// A decimal number as "%d" writes a non-negative value: no sign, no leading zero.
std::optional<uint32_t> plainNumber(std::string_view text)
{
    if (text.empty() || text.size() > kMaxDigits || (text.size() > 1 && text[0] == '0'))
        return std::nullopt;
    uint32_t value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size() || value > uint32_t(INT32_MAX))
        return std::nullopt;
    return value;
}

// `text` is `left` more track pieces, their start sectors rising from above `previous` (-1
// before the first) and below the disc's `end`; with `cut` it may also be the start of them,
// ending anywhere (the name was cut inside or after a piece).
bool readTracks(std::string_view text, size_t left, bool cut, int64_t previous, uint32_t end)
{
    if (text.empty())
        return left == 0 || cut;
    if (left == 0)
        return false;
    if (!isHex(text[0]))
        return false;
    if (text.size() < 2)
        return cut;
    if (!isHex(text[1]))
        return false;
    text.remove_prefix(2);
    if (text.empty())
        return cut;
    for (size_t digits = 1; digits <= std::min(text.size(), kMaxDigits); ++digits) {
        if (!isDigit(text[digits - 1]))
            break;
        const auto start = plainNumber(text.substr(0, digits));
        // A start cut short is only the beginning of a number, so it is not compared.
        const bool whole = digits < text.size() || !cut;
        if (!start || (whole && (int64_t(*start) <= previous || *start >= end)))
            continue;
        if (readTracks(text.substr(digits), left - 1, cut, whole ? int64_t(*start) : previous, end))
            return true;
    }
    return false;
}

// `text` is the track count and the pieces of that many tracks, on a disc that ends at `end`.
bool readLayout(std::string_view text, bool cut, uint32_t end)
{
    for (size_t digits = 1; digits <= std::min<size_t>(text.size(), 2); ++digits) {
        const auto count = plainNumber(text.substr(0, digits));
        if (!count || *count > kMaxTracks)
            continue;
        if (readTracks(text.substr(digits), *count, cut, -1, end))
            return true;
    }
    return false;
}

std::optional<uint32_t> endWithPrefix(std::string_view body, std::string_view prefix)
{
    if (body.substr(0, prefix.size()) != prefix)
        return std::nullopt;
    std::optional<uint32_t> best;
    // The end sector follows the head; the head is the whole layout (at most 36 characters) or
    // the layout cut at exactly 36.
    for (size_t split = prefix.size() + 1; split < body.size() && split <= kNameCut; ++split) {
        const auto end = plainNumber(body.substr(split));
        if (!end || (best && *best >= *end))
            continue;
        if (readLayout(body.substr(prefix.size(), split - prefix.size()), split == kNameCut, *end))
            best = end;
    }
    return best;
}

const char* text(uint32_t id)
{
    thread_local char buffer[PLB_STRING_MAX];
    return PlbLoadString(nullptr, buffer, id);
}

} // namespace

uint32_t discEndOf(std::span<const CdTocEntry> tracks)
{
    if (tracks.empty())
        return 0;
    return tracks.back().start + tracks.back().length;
}

std::optional<uint32_t> discEndOfName(const char* name, const char* volumeId)
{
    if (!name)
        return std::nullopt;
    std::string_view body(name, strnlen(name, PLB_CDAZ_NAME_BYTES));
    if (body.size() <= kExtension.size() || body.substr(body.size() - kExtension.size()) != kExtension)
        return std::nullopt;
    body.remove_suffix(kExtension.size());
    std::string letters;
    for (const char* c = volumeId ? volumeId : ""; *c && letters.size() < 32; ++c)
        if ((*c >= 'A' && *c <= 'Z') || (*c >= 'a' && *c <= 'z') || isDigit(*c) || *c == '_')
            letters += *c;
    // A record can carry the name made without the volume identifier.
    std::optional<uint32_t> end = endWithPrefix(body, letters);
    if (!letters.empty()) {
        const std::optional<uint32_t> plain = endWithPrefix(body, {});
        if (plain && (!end || *plain > *end))
            end = plain;
    }
    return end;
}

SharedCdazFault checkSharedRecord(const CdazRecord& record, uint32_t discEnd)
{
    if (record.anaSector != -1)
        return SharedCdazFault::Incomplete;
    if (record.streamCount <= 0)
        return SharedCdazFault::NoStreams;
    for (int32_t i = 0; i < record.streamCount; ++i) {
        const StrInfo& info = record.streams[i].info;
        if (uint64_t(info.startSector) + info.sectorCount > discEnd || info.startSector >= discEnd)
            return SharedCdazFault::OutsideDisc;
    }
    return SharedCdazFault::None;
}

CdazRecord* readSharedCdaz(std::span<const uint8_t> bytes, SharedCdazFault* fault)
{
    SharedCdazFault found = SharedCdazFault::NotOneFile;
    std::unique_ptr<CdazRecord, void (*)(CdazRecord*)> record(cdazReadV5(bytes, true), cdazFree);
    if (record) {
        const std::optional<uint32_t> end = discEndOfName(record->name, record->volumeId);
        found = end ? checkSharedRecord(*record, *end) : SharedCdazFault::UnknownDisc;
    }
    if (fault)
        *fault = found;
    return found == SharedCdazFault::None ? record.release() : nullptr;
}

const char* sharedFaultText(SharedCdazFault fault)
{
    switch (fault) {
    case SharedCdazFault::None:
        return "";
    case SharedCdazFault::NotOneFile:
        return text(PLB_IDS_CDAZ_NOT_ONE_FILE);
    case SharedCdazFault::Incomplete:
        return text(PLB_IDS_CDAZ_INCOMPLETE);
    case SharedCdazFault::NoStreams:
        return text(PLB_IDS_CDAZ_NO_STREAMS);
    case SharedCdazFault::OutsideDisc:
        return text(PLB_IDS_CDAZ_OUTSIDE_DISC);
    case SharedCdazFault::OtherDisc:
        return text(PLB_IDS_CDAZ_OTHER_DISC);
    case SharedCdazFault::UnknownDisc:
        return text(PLB_IDS_CDAZ_UNKNOWN_DISC);
    }
    return "";
}

} // namespace tamlib
