// The exchange's texts and numbers without a network: the search reply parser and its limits,
// the form bodies, the multipart upload, the check numbers, Base64, and which CDAZ is newer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "exchange/exchange_client.h"
#include "exchange/exchange_protocol.h"
#include "exchange_test_support.h"

namespace {

using namespace tamlib::exchange;
using exchangetest::makeRecord;

std::vector<uint8_t> bytes(const std::string& text)
{
    return {text.begin(), text.end()};
}

size_t parse(const std::string& text, std::vector<CdazSearchRecord>& records)
{
    records.assign(kMaxRecords + 2, CdazSearchRecord{});
    return parseSearchReply(bytes(text), records.data(), kMaxRecords);
}

std::string line(const std::string& language, const std::string& title = "Title",
                 const std::string& publisher = "PUB", const std::string& revision = "3")
{
    return language + "\t7\t" + revision + "\t16515394\t315\t" + title + "\t" + publisher +
           "\t2\t10\t9\t2026-01-01\n";
}

TEST(SearchReply, FieldsOfOneLineFillOneRecord)
{
    std::vector<CdazSearchRecord> r;
    ASSERT_EQ(parse("ENG\t-2\t65535\t4294967295\t315\tMy Disc\tSCEI\t3\t120\t118\tfield 11\tmore\r\n", r),
              1u);
    EXPECT_STREQ(r[0].language, "ENG");
    EXPECT_EQ(r[0].number, -2);
    EXPECT_EQ(r[0].revision, 65535);
    EXPECT_EQ(r[0].analyzeVersion, 4294967295u);
    EXPECT_EQ(r[0].pluginVersionSum, 315u);
    EXPECT_STREQ(r[0].title, "My Disc");
    EXPECT_STREQ(r[0].publisher, "SCEI");
    EXPECT_EQ(r[0].pluginCount, 3u);
    EXPECT_EQ(r[0].streamCount, 120u);
    EXPECT_EQ(r[0].effectiveStreams, 118u);
    EXPECT_EQ(r[0].end, 0);
    // Field 11 may be empty; numbers are read up to the first other character, none gives 0.
    ASSERT_EQ(parse("J\t1\t2x\t\t 5\t\t\t+4\t-1\t9z\t\n", r), 1u);
    EXPECT_STREQ(r[0].language, "J");
    EXPECT_EQ(r[0].revision, 2);
    EXPECT_EQ(r[0].analyzeVersion, 0u);
    EXPECT_EQ(r[0].pluginVersionSum, 5u);
    EXPECT_STREQ(r[0].title, "");
    EXPECT_EQ(r[0].pluginCount, 4u);
    EXPECT_EQ(r[0].streamCount, 0xFFFFFFFFu);
    EXPECT_EQ(r[0].effectiveStreams, 9u);
}

TEST(SearchReply, ParsingStopsAtTheFirstBadLine)
{
    std::vector<CdazSearchRecord> r;
    // A language code of four characters: no record at all.
    EXPECT_EQ(parse(line("ENGL") + line("ENG"), r), 0u);
    // The same at the second line: the first is kept.
    EXPECT_EQ(parse(line("ENG") + line("ENGL") + line("ENG"), r), 1u);
    // Ten fields (no field 11) are too few.
    EXPECT_EQ(parse("ENG\t1\t1\t1\t1\tT\tP\t1\t1\t1\n", r), 0u);
    EXPECT_EQ(parse(line("ENG") + "ENG\t1\t1\n" + line("ENG"), r), 1u);
    // Title and publisher at their limits pass, one more character stops.
    EXPECT_EQ(parse(line("ENG", std::string(65, 't'), std::string(129, 'p')), r), 1u);
    EXPECT_EQ(std::strlen(r[0].title), 65u);
    EXPECT_EQ(std::strlen(r[0].publisher), 129u);
    EXPECT_EQ(parse(line("ENG", std::string(66, 't')), r), 0u);
    EXPECT_EQ(parse(line("ENG", "T", std::string(130, 'p')), r), 0u);
    // An empty line has too few fields.
    EXPECT_EQ(parse(std::string("\n").append(line("ENG")), r), 0u);
}

TEST(SearchReply, OnlyLinesEndedByLineFeedCount)
{
    std::vector<CdazSearchRecord> r;
    std::string two = line("ENG") + line("JPN");
    two.pop_back(); // the second line loses its LF
    EXPECT_EQ(parse(two, r), 1u);
    EXPECT_STREQ(r[0].language, "ENG");
    EXPECT_EQ(parse(two.substr(0, line("ENG").size() - 1), r), 0u);
    // A CR alone does not end a line.
    std::string crOnly = line("ENG");
    crOnly.back() = '\r';
    EXPECT_EQ(parse(crOnly, r), 0u);
    EXPECT_EQ(parse("", r), 0u);
}

TEST(SearchReply, AtMostSixteenRecordsAndTheCapacity)
{
    std::string text;
    for (int i = 0; i < 20; ++i)
        text += line("ENG", std::string("T").append(std::to_string(i)), "P", std::to_string(i + 1));
    std::vector<CdazSearchRecord> r(20);
    const CdazSearchRecord untouched = r[16];
    EXPECT_EQ(parseSearchReply(bytes(text), r.data(), 20), 16u);
    EXPECT_EQ(r[15].revision, 16);
    EXPECT_STREQ(r[15].title, "T15");
    EXPECT_EQ(std::memcmp(&r[16], &untouched, sizeof untouched), 0);
    EXPECT_EQ(parseSearchReply(bytes(text), r.data(), 3), 3u);
    EXPECT_EQ(parseSearchReply(bytes(text), nullptr, 16), 0u);
    // A zero byte inside a text field ends that text, not the line.
    static constexpr char kWithZero[] = "E\0N\t1\t1\t1\t1\tTi\0tle\tP\t1\t1\t1\tx\n";
    const std::string withZero(kWithZero, sizeof kWithZero - 1);
    ASSERT_EQ(parse(withZero, r), 1u);
    EXPECT_STREQ(r[0].language, "E");
    EXPECT_STREQ(r[0].title, "Ti");
}

TEST(ExchangeForms, SearchAndDownloadBodiesCarryTheValuesAsTheyAre)
{
    EXPECT_EQ(searchBody("SLUS_0001.cdaz", "ENG"),
              "CDAZ_NAME=SLUS_0001.cdaz&LANGUAGE=ENG&TAMRIN_VERSION=322&CDAZ_VERSION=5");
    EXPECT_EQ(downloadBody("a b&c.cdaz", "JPN", 12), "CDAZ_NAME=a b&c.cdaz&LANGUAGE=JPN&CDAZ_VERSION=12");
}

TEST(ExchangeForms, CheckNumbersFollowTheirRules)
{
    const CheckNumbers n = checkNumbers(315, 24, 16515394, 120, 118);
    EXPECT_EQ(n.code[0], (315 + 24) % 9973 * 37 + 1201);
    EXPECT_EQ(n.code[1], 16515394 % n.code[0] + 4099);
    EXPECT_EQ(n.code[2], 120 % 8191 * 13 - 118);
    EXPECT_EQ(n.code[3], (118 + 120) % 7919 * 29 + 503);
    // Each input moves its own numbers.
    EXPECT_NE(checkNumbers(316, 24, 16515394, 120, 118).code[0], n.code[0]);
    EXPECT_NE(checkNumbers(315, 24, 16515395, 120, 118).code[1], n.code[1]);
    EXPECT_NE(checkNumbers(315, 24, 16515394, 120, 117).code[2], n.code[2]);
    EXPECT_NE(checkNumbers(315, 24, 16515394, 121, 118).code[3], n.code[3]);
    // The largest inputs stay defined: SEC_CODE1 is never zero.
    const CheckNumbers big = checkNumbers(0xFFFFFFFFu, 48, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu);
    EXPECT_GE(big.code[0], kCheckOffset1);
    EXPECT_LT(big.code[1], big.code[0] + kCheckOffset2);
}

// The parts of a multipart body: name -> value.
std::vector<std::pair<std::string, std::string>> parts(const std::string& body, const std::string& boundary)
{
    std::vector<std::pair<std::string, std::string>> out;
    const std::string dash = "--" + boundary + "\r\n";
    size_t pos = 0;
    while ((pos = body.find(dash, pos)) != std::string::npos) {
        pos += dash.size();
        const size_t nameAt = body.find("name=\"", pos) + 6;
        const std::string name = body.substr(nameAt, body.find('"', nameAt) - nameAt);
        const size_t valueAt = body.find("\r\n\r\n", pos) + 4;
        const size_t end = body.find("\r\n--" + boundary, valueAt);
        out.emplace_back(name, body.substr(valueAt, end - valueAt));
        pos = end;
    }
    return out;
}

TEST(ExchangeUpload, MultipartBodyHoldsTheFieldsInOrderThenTheFile)
{
    auto record = makeRecord("SLUS_00012002001000.cdaz", 5, "Disc & Title");
    ASSERT_TRUE(record);
    const std::string file = "\x05 not really a cdaz \r\n-- bytes";
    const UploadRequest up = buildUpload(*record, "ENG", bytes(file), 0x12ABCDEF, 0x01020304);
    EXPECT_EQ(up.boundary, std::string(27, '-') + "abcdef01020304");
    const std::string body(up.bytes.begin(), up.bytes.end());
    EXPECT_EQ(up.headBytes + file.size() + up.tailBytes, up.bytes.size());
    EXPECT_EQ(body.substr(up.headBytes, file.size()), file);
    EXPECT_EQ(body.substr(body.size() - up.tailBytes), "\r\n--" + up.boundary + "--\r\n");
    EXPECT_EQ(body.substr(0, 2 + up.boundary.size() + 2), "--" + up.boundary + "\r\n");

    uint32_t sum = 0;
    for (uint16_t i = 0; i < record->pluginCount; ++i)
        sum += record->plugins[i].version;
    EXPECT_EQ(sum, 315u);
    const CheckNumbers n = checkNumbers(sum, std::strlen(record->name), record->analyzeVersion,
                                        uint32_t(record->streamCount), uint32_t(record->effectiveStreams));
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"CDAZ_NAME", "SLUS_00012002001000.cdaz"},
        {"LANGUAGE", "ENG"},
        {"TAMRIN_VERSION", "322"},
        {"CDAZ_VERSION", "5"},
        {"CD_TITLE", "Disc & Title"},
        {"NUM_PLUGIN", "2"},
        {"NUM_STREAM", "5"},
        {"EFF_NUM_STREAM", std::to_string(record->effectiveStreams)},
        {"ANALYZE_VERSION", std::to_string(record->analyzeVersion)},
        {"SUM_PLUGIN_VERSION", "315"},
        {"PUBLISHER", "A PUBLISHER"},
        {"SEC_CODE1", std::to_string(n.code[0])},
        {"SEC_CODE2", std::to_string(n.code[1])},
        {"SEC_CODE3", std::to_string(n.code[2])},
        {"SEC_CODE4", std::to_string(n.code[3])},
        {"CDAZ_FILE", file},
    };
    EXPECT_EQ(parts(body, up.boundary), expected);
    EXPECT_NE(
        body.find(
            "Content-Disposition: form-data; name=\"CDAZ_FILE\"; filename=\"SLUS_00012002001000.cdaz\"\r\n"
            "Content-Type: application/octet-stream\r\n\r\n"),
        std::string::npos);
}

TEST(ExchangeUpload, BoundaryThatOccursInTheFileIsMovedOn)
{
    auto record = makeRecord("A.cdaz", 1);
    const std::string taken = std::string(27, '-') + "00000100000007";
    const std::string file = "xx" + taken + "yy";
    const UploadRequest up = buildUpload(*record, "ENG", bytes(file), 1, 7);
    EXPECT_EQ(up.boundary, std::string(27, '-') + "00000100000008");
    // The low 24 bits of the tick count only.
    EXPECT_EQ(buildUpload(*record, "ENG", {}, 0xFF000010, 0).boundary,
              std::string(27, '-') + "00001000000000");
}

TEST(ExchangeBase64, StandardVectorsAndBufferRule)
{
    const char* const vectors[][2] = {{"", ""},
                                      {"f", "Zg=="},
                                      {"fo", "Zm8="},
                                      {"foo", "Zm9v"},
                                      {"foob", "Zm9vYg=="},
                                      {"fooba", "Zm9vYmE="},
                                      {"foobar", "Zm9vYmFy"}};
    for (const auto& v : vectors) {
        char out[16];
        std::memset(out, '#', sizeof out);
        const int32_t length = int32_t(std::strlen(v[0]));
        const PlbBase64Result r = PlbEncodeBase64(v[0], length, sizeof out, out);
        EXPECT_EQ(r.ok, 1) << v[0];
        EXPECT_STREQ(out, v[1]);
        const size_t n = std::strlen(v[1]);
        EXPECT_EQ(r.value, n ? v[1][n - 1] : 0) << v[0];
        // The text and its zero need room: a capacity of exactly the text length is too small.
        std::memset(out, '#', sizeof out);
        const PlbBase64Result small = PlbEncodeBase64(v[0], length, int32_t(n), out);
        EXPECT_EQ(small.ok, 0) << v[0];
        EXPECT_EQ(small.value, int32_t(n)) << v[0];
        EXPECT_EQ(out[0], '#') << "nothing written";
        EXPECT_EQ(PlbEncodeBase64(v[0], length, int32_t(n) + 1, out).ok, 1);
    }
    // Every byte value, against the alphabet's own rule.
    uint8_t all[255];
    for (int i = 0; i < 255; ++i)
        all[i] = uint8_t(i);
    std::vector<char> out(400);
    ASSERT_EQ(PlbEncodeBase64(all, 255, int32_t(out.size()), out.data()).ok, 1);
    const std::string text(out.data());
    ASSERT_EQ(text.size(), 340u);
    EXPECT_EQ(text.substr(0, 8), "AAECAwQF");
    EXPECT_EQ(text.substr(332), "+fr7/P3+");
    EXPECT_EQ(PlbEncodeBase64(all, -1, 10, out.data()).ok, 0);
    EXPECT_EQ(PlbEncodeBase64(nullptr, 3, 10, out.data()).ok, 0);
    EXPECT_EQ(PlbEncodeBase64(all, 3, 10, nullptr).ok, 0);
}

TEST(ExchangeCompare, FirstDifferingFieldDecidesAndEqualRecordsTakeTheTie)
{
    auto local = makeRecord("A.cdaz", 6);
    ASSERT_TRUE(local);
    CdazSearchRecord same{};
    same.analyzeVersion = local->analyzeVersion;
    same.pluginCount = local->pluginCount;
    same.pluginVersionSum = 315;
    same.effectiveStreams = uint32_t(local->effectiveStreams);
    same.streamCount = uint32_t(local->streamCount);
    EXPECT_EQ(PlbCompareCDAZ(local.get(), &same, 1), 1);
    EXPECT_EQ(PlbCompareCDAZ(local.get(), &same, 0), 0);

    // Each field in turn, with every later field pulling the other way.
    uint32_t CdazSearchRecord::*order[] = {&CdazSearchRecord::analyzeVersion, &CdazSearchRecord::pluginCount,
                                           &CdazSearchRecord::pluginVersionSum,
                                           &CdazSearchRecord::effectiveStreams,
                                           &CdazSearchRecord::streamCount};
    for (size_t i = 0; i < 5; ++i) {
        CdazSearchRecord newer = same, older = same;
        newer.*order[i] += 1;
        older.*order[i] -= 1;
        for (size_t j = i + 1; j < 5; ++j) {
            newer.*order[j] -= 1;
            older.*order[j] += 1;
        }
        EXPECT_EQ(PlbCompareCDAZ(local.get(), &newer, 1), 0) << i;
        EXPECT_EQ(PlbCompareCDAZ(local.get(), &older, 0), 1) << i;
    }
    // A missing local record is older; a missing server record is older than any local one.
    EXPECT_EQ(PlbCompareCDAZ(nullptr, &same, 1), 0);
    EXPECT_EQ(PlbCompareCDAZ(local.get(), nullptr, 0), 1);
}

} // namespace
