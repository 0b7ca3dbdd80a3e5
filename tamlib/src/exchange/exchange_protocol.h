// What the CDAZ exchange client and its reference server agree on: the paths, the form fields,
// the limits of a reply and the check numbers an upload carries. Both sides include this file.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tamlib::exchange {

constexpr const char* kSearchPath = "/Tamrin/CDAZ/Search.asp";
constexpr const char* kDownloadPath = "/Tamrin/CDAZ/Download.asp";
constexpr const char* kUploadPath = "/Tamrin/CDAZ/Upload.asp";
constexpr const char* kUserAgent = "Tamrin";

constexpr int32_t kClientVersion = 322; // TAMRIN_VERSION
constexpr int32_t kCdazFormat = 5;      // CDAZ_VERSION of search and upload

// Search reply: lines of at least eleven TAB-separated fields, each ended by LF.
constexpr size_t kMaxRecords = 16;
constexpr size_t kLanguageMax = 3;
constexpr size_t kTitleMax = 65;
constexpr size_t kPublisherMax = 129;
constexpr size_t kReplyFields = 11;

// Larger search replies and CDAZ files are refused by both sides.
constexpr size_t kMaxSearchReplyBytes = size_t(64) << 10;
constexpr size_t kMaxCdazBytes = size_t(16) << 20;
// Room for the text parts and the framing of an upload around its file.
constexpr size_t kMaxUploadOverhead = size_t(64) << 10;

// The check numbers SEC_CODE1 to SEC_CODE4 of an upload.
//   1: ((sum of plugin versions + length of the name) mod 9973) x 37 + 1201
//   2: analysis version mod SEC_CODE1 + 4099
//   3: (stream count mod 8191) x 13 - effective streams
//   4: ((effective streams + stream count) mod 7919) x 29 + 503
// SEC_CODE1 is never below 1201, so the second division is always defined.
struct CheckNumbers
{
    int64_t code[4];

    bool operator==(const CheckNumbers&) const = default;
};

constexpr int64_t kCheckModulus1 = 9973, kCheckFactor1 = 37, kCheckOffset1 = 1201;
constexpr int64_t kCheckOffset2 = 4099;
constexpr int64_t kCheckModulus3 = 8191, kCheckFactor3 = 13;
constexpr int64_t kCheckModulus4 = 7919, kCheckFactor4 = 29, kCheckOffset4 = 503;

constexpr CheckNumbers checkNumbers(uint32_t pluginVersionSum, size_t nameLength, uint32_t analyzeVersion,
                                    uint32_t streamCount, uint32_t effectiveStreams)
{
    CheckNumbers n{};
    n.code[0] =
        ((int64_t(pluginVersionSum) + int64_t(nameLength)) % kCheckModulus1) * kCheckFactor1 + kCheckOffset1;
    n.code[1] = int64_t(analyzeVersion) % n.code[0] + kCheckOffset2;
    n.code[2] = (int64_t(streamCount) % kCheckModulus3) * kCheckFactor3 - int64_t(effectiveStreams);
    n.code[3] =
        ((int64_t(effectiveStreams) + int64_t(streamCount)) % kCheckModulus4) * kCheckFactor4 + kCheckOffset4;
    return n;
}

} // namespace tamlib::exchange
