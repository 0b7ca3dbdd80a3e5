// The CDAZ file, format version 5 written and read back, hand-made vectors of its pieces, damaged
// files, and the version-4 files that are converted on load.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "cdaz/cdaz_bytes.h"
#include "cdaz/cdaz_format.h"
#include "cdaz_test_records.h"

using namespace tamlib;
using cdaztest::addStream;
using cdaztest::expectSameRecord;
using cdaztest::makeRecord;
using cdaztest::own;
using cdaztest::packBits;
using cdaztest::RecordPtr;
using cdaztest::streamInfo;

namespace {

std::vector<uint8_t> header(uint16_t plugins, uint32_t streams, uint32_t strings, uint32_t areaSize)
{
    std::vector<uint8_t> h(48, 0);
    h[0] = 5;
    putLe16(&h[2], plugins);
    putLe32(&h[4], streams);
    putLe32(&h[40], strings);
    putLe32(&h[44], areaSize);
    return h;
}

// The tables of a file without streams: four rank lists of the end marker alone, four zero
// prefix lengths, an empty run table and seven empty byte tables.
const std::string kEmptyTables = "111111111 111111111 111111111 111111111 000 000 000 000"
                                 " 000000 00000 00000"
                                 " 000000000 00000 00000000 000000000 00000 00000000 000000000 00000 00000000"
                                 " 000000000 00000 00000000 000000000 00000 00000000 000000000 00000 00000000"
                                 " 000000000 00000 00000000";

std::vector<uint8_t> concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Write, read back, compare; write again and compare the bytes.
RecordPtr roundTrip(const CdazRecord& record)
{
    const std::vector<uint8_t> first = cdazWriteV5(record);
    RecordPtr back = own(cdazReadV5(first));
    EXPECT_TRUE(back);
    if (!back)
        return back;
    expectSameRecord(record, *back);
    EXPECT_EQ(first, cdazWriteV5(*back));
    return back;
}

std::string repeated(const std::string& piece, size_t times)
{
    std::string text;
    for (size_t i = 0; i < times; ++i)
        text += piece;
    return text;
}

// Thousands of streams of all four groups, with names that repeat and names of their own.
RecordPtr bigRecord(int streams)
{
    RecordPtr record = makeRecord({"DISCMOVIE.PSR", "DISCVOICE.PSR", "TRACKAUDIO.PSR", "STILLFRAME.PSR"});
    std::mt19937 random(11);
    uint32_t start = 150;
    for (int i = 0; i < streams; ++i) {
        const int kind = i % 4;
        StrInfo info{};
        info.kind = uint16_t(kind == 0   ? StrVideo | StrAudio
                             : kind == 1 ? StrAudio
                             : kind == 2 ? StrStill
                                         : StrMusic);
        info.startSector = start;
        info.sectorCount = 10 + random() % 3000;
        start += info.sectorCount / (1 + random() % 3);
        info.durationMs = 1000 + random() % 100000;
        info.frameCount = info.durationMs * 15 / 1000;
        info.width = kind == 0 ? 320 : 0;
        info.height = kind == 0 ? 240 - 16 * (random() % 2) : 0;
        info.frameRate = kind == 0 ? 150 : 0;
        info.audioFormat = uint16_t(kind < 2 ? 1 : 0);
        info.channels = uint16_t(1 + random() % 2);
        info.bitsPerSample = 4;
        info.sampleRate = random() % 2 ? 37800 : 18900;
        info.dataBytes = uint32_t(random());
        info.outWidth = info.width;
        info.outHeight = info.height;
        const std::string name = i % 7 == 0    ? "Opening"
                                 : i % 11 == 0 ? cdaztest::numbered("Speech %d", i)
                                               : "";
        addStream(*record, info, uint16_t(kind), name.empty() ? nullptr : name.c_str(),
                  uint8_t(random() % 8));
    }
    return record;
}

} // namespace

TEST(CdazFileVectors, EmptyRecordIsHeaderOneZeroByteAndEmptyTables)
{
    RecordPtr record = own(cdazCreate(1, 1));
    record->analyzeVersion = 0x00FC0142;
    record->anaSector = -1;
    const std::vector<uint8_t> bytes = cdazWriteV5(*record);

    std::vector<uint8_t> expected = header(0, 0, 0, 1);
    putLe32(&expected[32], 0x00FC0142);
    putLe32(&expected[36], 0xFFFFFFFF);
    expected.push_back(0); // the string area
    expected = concat(expected, packBits(kEmptyTables));
    EXPECT_EQ(expected, bytes);

    RecordPtr back = own(cdazReadV5(bytes));
    ASSERT_TRUE(back);
    EXPECT_EQ(0, back->streamCount);
    EXPECT_EQ(0, back->pluginCount);
    EXPECT_EQ(-1, back->anaSector);
    EXPECT_EQ(0x00FC0142u, back->analyzeVersion);
}

TEST(CdazFileVectors, PluginBlockIsReorderedAndWrittenAsGaps)
{
    RecordPtr record = own(cdazCreate(1, 1));
    tamlib::CdazPluginEntry& entry = record->plugins[0];
    cdazCopyText(entry.fileName, "A.PSR");
    entry.version = 142;
    entry.pluginFlags = 1;
    record->pluginCount = 1;

    // Raw record: 8E 00 01 00 | 01 00 00 00 | 0 | 0. Block: B0 = X4 = 01, B1 = X0 = 8E, B4 = X2 = 01;
    // bit 39 is the only set bit past 16: gap 23 = skip 16, gap 7, then the end code.
    std::vector<uint8_t> expected = header(1, 0, 1, 7);
    putLe32(&expected[8], 0); // name is empty
    for (char c : std::string("A.PSR"))
        expected.push_back(uint8_t(c));
    expected.push_back(0);
    expected.push_back(0);
    expected = concat(expected, packBits("00000001 10001110 000001 001 1 " + kEmptyTables));
    EXPECT_EQ(expected, cdazWriteV5(*record));

    // A second plugin is XORed with the first: same version and flags, name "B.PSR" (index 2,
    // after "A.PSR" which is used as often) leaves only the index bytes 01 ^ 02 = 03.
    RecordPtr two = own(cdazCreate(2, 1));
    two->plugins[0] = entry;
    two->plugins[1] = entry;
    cdazCopyText(two->plugins[1].fileName, "B.PSR");
    two->pluginCount = 2;
    std::vector<uint8_t> expectedTwo = header(2, 0, 2, 13);
    for (char c : std::string("A.PSR\0B.PSR\0", 12))
        expectedTwo.push_back(uint8_t(c));
    expectedTwo.push_back(0);
    expectedTwo =
        concat(expectedTwo, packBits("00000001 10001110 000001 001 1 00000011 00000000 1 " + kEmptyTables));
    EXPECT_EQ(expectedTwo, cdazWriteV5(*two));
    RecordPtr back = own(cdazReadV5(expectedTwo));
    ASSERT_TRUE(back);
    expectSameRecord(*two, *back);
}

TEST(CdazFileVectors, StringsAreOrderedByUseAndShared)
{
    RecordPtr record = makeRecord({"A.PSR", "B.PSR"});
    cdazCopyText(record->title, "Opening");
    addStream(*record, streamInfo(StrVideo, 100, 10), 0, "Opening");
    addStream(*record, streamInfo(StrVideo, 200, 10), 1, "Opening");
    const std::vector<uint8_t> bytes = cdazWriteV5(*record);
    // "Opening" is used three times, "author" and the address twice: "Opening" is string 1.
    EXPECT_EQ(1u, le32(&bytes[12]));
    const std::string area(reinterpret_cast<const char*>(&bytes[48]), le32(&bytes[44]));
    EXPECT_EQ(0u, area.find(std::string("Opening\0", 8)));
    EXPECT_EQ('\0', area.back());
    EXPECT_EQ(1u, area.size() - area.find(std::string("\0\0", 2)) - 1); // only the last zero is extra
    roundTrip(*record);
}

TEST(CdazRoundTrip, NoStreamsOneStreamAndThousands)
{
    RecordPtr empty = makeRecord({});
    roundTrip(*empty);

    RecordPtr one = makeRecord({"DISCMOVIE.PSR"});
    StrInfo info = streamInfo(StrVideo | StrAudio, 1234, 5678, 90123, 320, 240);
    info.frameRate = 150;
    info.sampleRate = 37800;
    info.outHeight = 480;
    addStream(*one, info, 0, "The one");
    roundTrip(*one);

    for (int count : {2, 100, 5000}) {
        SCOPED_TRACE(count);
        RecordPtr big = bigRecord(count);
        roundTrip(*big);
    }
}

TEST(CdazRoundTrip, LongAndRepeatedTexts)
{
    RecordPtr record = makeRecord({"LONGNAMEPLUGIN.P"});
    cdazCopyText(record->title, repeated("t", 64).c_str());
    cdazCopyText(record->prefix, repeated("p", 16).c_str());
    cdazCopyText(record->publisherId, repeated("PUBLISHER ", 13).c_str());
    cdazCopyText(record->plugins[0].author, repeated("a", 80).c_str());
    cdazCopyText(record->plugins[0].address, repeated("h", 80).c_str());
    const std::string longName = repeated("a long stream name ", 200);
    for (int i = 0; i < 50; ++i)
        addStream(*record, streamInfo(StrAudio, uint32_t(i * 10), 10), 0, i % 2 ? longName.c_str() : "A.PSR");
    RecordPtr back = roundTrip(*record);
    ASSERT_TRUE(back);
    EXPECT_EQ(longName, back->streams[1].streamName);
    EXPECT_EQ(64u, std::strlen(back->title));
}

TEST(CdazRoundTrip, TwoHundredFiftySixPlugins)
{
    RecordPtr record = makeRecord({});
    for (int p = 0; p < 256; ++p) {
        const std::string file = cdaztest::numbered("P%d.PSR", p);
        ASSERT_TRUE(cdazAddStream(*record, nullptr, streamInfo(StrAudio, uint32_t(p * 100), 50), file.c_str(),
                                  uint16_t(p * 7), p % 3 ? "someone" : nullptr, nullptr, {}));
        record->plugins[p].pluginFlags = uint8_t(p);
    }
    ASSERT_EQ(256, record->pluginCount);
    roundTrip(*record);
}

TEST(CdazRoundTrip, ZeroDeltasCostTheGroupTheZeroBytesAndTheEnd)
{
    // Equal distances between equal streams give equal coded records: every stream after the
    // first has a zero delta.
    auto make = [](int count) {
        RecordPtr record = makeRecord({"A.PSR"});
        for (int i = 0; i < count; ++i)
            addStream(*record, streamInfo(StrVideo, uint32_t(1000 + i * 100), 100, 4000, 320, 240), 0);
        return record;
    };
    RecordPtr small = make(1001), large = make(2001);
    RecordPtr back = roundTrip(*large);
    ASSERT_TRUE(back);
    for (int i = 0; i < back->streamCount; ++i)
        ASSERT_EQ(uint32_t(1000 + i * 100), back->streams[i].info.startSector);
    // No bit is set in 41 % of the records, so there is no byte prefix; the end symbol is by far
    // the most frequent run symbol (1 bit). Each further block: 2 group bits and the end.
    const size_t extra = cdazWriteV5(*large).size() - cdazWriteV5(*small).size();
    EXPECT_GE(extra, 1000u * 3 / 8 - 1);
    EXPECT_LE(extra, 1000u * 3 / 8 + 1);
}

TEST(CdazRoundTrip, LoadedRecordIsCheckedAndStable)
{
    RecordPtr record = bigRecord(300);
    cdazNormalize(*record);
    const std::vector<uint8_t> first = cdazWriteV5(*record);
    uint32_t status = 0;
    RecordPtr loaded = own(cdazLoadV5(first, {}, PLB_CDAZ_LOAD_OTHER_FOLDER, &status));
    ASSERT_TRUE(loaded);
    // None of the plugins is installed, and all have streams with content.
    EXPECT_EQ(PLB_CDAZ_LOAD_NO_PLUGIN | PLB_CDAZ_LOAD_OTHER_FOLDER, status);
    EXPECT_EQ(status, loaded->loadStatus);
    for (int i = 0; i < loaded->streamCount; ++i)
        ASSERT_TRUE(loaded->streams[i].streamFlags & PLB_CDAZ_STREAM_NO_PLUGIN);
    const std::vector<uint8_t> second = cdazWriteV5(*loaded);
    RecordPtr again = own(cdazLoadV5(second, {}, 0, &status));
    ASSERT_TRUE(again);
    EXPECT_EQ(second, cdazWriteV5(*again));
}

TEST(CdazDamagedFiles, EveryTruncationIsRefused)
{
    RecordPtr record = bigRecord(40);
    const std::vector<uint8_t> bytes = cdazWriteV5(*record);
    for (size_t size = 0; size < bytes.size(); ++size) {
        uint32_t status = 0;
        RecordPtr back = own(cdazLoadV5(std::span(bytes.data(), size), {}, 0, &status));
        EXPECT_FALSE(back) << size;
        EXPECT_EQ(PLB_CDAZ_LOAD_CORRUPT, status);
    }
}

TEST(CdazDamagedFiles, FlippedBitsNeverCrashAndWhatLoadsWritesAgain)
{
    RecordPtr record = bigRecord(60);
    const std::vector<uint8_t> bytes = cdazWriteV5(*record);
    std::mt19937 random(3);
    int loaded = 0;
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> damaged = bytes;
        for (int flips = 1 + int(random() % 3); flips > 0; --flips)
            damaged[random() % damaged.size()] ^= uint8_t(1u << (random() % 8));
        RecordPtr back = own(cdazReadV5(damaged));
        if (!back)
            continue;
        ++loaded;
        const std::vector<uint8_t> rewritten = cdazWriteV5(*back);
        RecordPtr again = own(cdazReadV5(rewritten));
        ASSERT_TRUE(again);
        EXPECT_EQ(rewritten, cdazWriteV5(*again));
    }
    EXPECT_GT(loaded, 0);
}

TEST(CdazDamagedFiles, CountsBeyondTheBytesAndBitsBeyondTheRecordsAreRefused)
{
    const std::vector<uint8_t> tables = packBits(kEmptyTables);
    // A billion streams announced in a file of a few bytes.
    EXPECT_FALSE(own(cdazReadV5(concat(concat(header(0, 1000000000, 0, 1), {0}), tables))));
    // More than 256 plugins.
    EXPECT_FALSE(
        own(cdazReadV5(concat(concat(header(257, 0, 0, 1), {0}), std::vector<uint8_t>(8000, 0x80)))));
    // A string area larger than the file.
    EXPECT_FALSE(own(cdazReadV5(concat(header(0, 0, 0, 100), tables))));
    // A string index past the strings.
    std::vector<uint8_t> badIndex = concat(header(0, 0, 0, 1), {0});
    putLe32(&badIndex[12], 1);
    EXPECT_FALSE(own(cdazReadV5(concat(badIndex, tables))));
    badIndex[12] = 0;
    EXPECT_TRUE(own(cdazReadV5(concat(badIndex, tables))));
    // A plugin block whose set bit lands on bit 128: seven skips of 16, then gap 0.
    const std::string plugin = "00000000 00000000 000001 000001 000001 000001 000001 000001 000001 00001 1 ";
    EXPECT_FALSE(own(cdazReadV5(concat(concat(header(1, 0, 0, 1), {0}), packBits(plugin + kEmptyTables)))));
    // With no bit set it is a valid entry without texts.
    const std::string valid = "00000000 00000000 1 ";
    RecordPtr ok = own(cdazReadV5(concat(concat(header(1, 0, 0, 1), {0}), packBits(valid + kEmptyTables))));
    ASSERT_TRUE(ok);
    EXPECT_EQ(1, ok->pluginCount);
    // A rank position of 480.
    std::string badRank = kEmptyTables;
    badRank.replace(0, 9, "111100000");
    EXPECT_FALSE(own(cdazReadV5(concat(concat(header(0, 0, 0, 1), {0}), packBits(badRank)))));
    // Not version 5.
    std::vector<uint8_t> four = concat(concat(header(0, 0, 0, 1), {0}), tables);
    four[0] = 4;
    EXPECT_FALSE(own(cdazReadV5(four)));
}

TEST(CdazDamagedFiles, StreamOfAPluginThatIsNotInTheFileIsRefused)
{
    RecordPtr record = makeRecord({"A.PSR"});
    addStream(*record, streamInfo(StrVideo, 100, 10), 0);
    record->streams[0].pluginIndex = 1;
    EXPECT_FALSE(own(cdazReadV5(cdazWriteV5(*record))));
    record->streams[0].pluginIndex = 0;
    EXPECT_TRUE(own(cdazReadV5(cdazWriteV5(*record))));
}

namespace {

cdaztest::V4File sampleV4()
{
    cdaztest::V4File f;
    f.header(0, -1, "SLUS4002150.cdaz", "Old disc", "STR", 2, 5);
    f.plugin(142, 0, "DISCMOVIE.PSR", "maker", "http://maker.invalid/");
    f.plugin(113, 1, "DISCVOICE.PSR", "", "");
    f.stream(StrVideo | StrAudio, 300, 100, 640, 240, 0x03, 0, "STR0001"); // a default title: dropped
    f.stream(StrVideo, 100, 100, 320, 120, 0x00, 0, "Intro");
    f.stream(StrAudio, 500, 10, 0, 0, 0xF0, 1, "STR0000");   // not a positive number
    f.stream(StrStill, 700, 1, 320, 240, 0x00, 1, "STR12a"); // not a number
    f.stream(StrVideo, 900, 50, 800, 240, 0x00, 0, "");
    return f;
}

} // namespace

TEST(CdazVersion4, ConvertedRecordKeepsTheFieldsAndFillsTheDisplaySize)
{
    const cdaztest::V4File file = sampleV4();
    RecordPtr record = own(cdazReadV4(file.bytes));
    ASSERT_TRUE(record);
    EXPECT_EQ(5, record->version);
    EXPECT_EQ(0u, record->analyzeVersion);
    EXPECT_EQ(-1, record->anaSector);
    EXPECT_STREQ("SLUS4002150.cdaz", record->name);
    EXPECT_STREQ("Old disc", record->title);
    EXPECT_STREQ("STR", record->prefix);
    ASSERT_EQ(2, record->pluginCount);
    EXPECT_STREQ("DISCMOVIE.PSR", record->plugins[0].fileName);
    EXPECT_EQ(142, record->plugins[0].version);
    EXPECT_STREQ("maker", record->plugins[0].author);
    EXPECT_STREQ("http://maker.invalid/", record->plugins[0].address);
    EXPECT_EQ(1, record->plugins[1].pluginFlags);
    ASSERT_EQ(5, record->streamCount);

    const auto& wide = record->streams[0];
    EXPECT_EQ(nullptr, wide.streamName);
    EXPECT_EQ(640u, wide.info.width);
    EXPECT_EQ(320u, wide.info.outWidth); // 640 x 240 is shown as 320 x 240
    EXPECT_EQ(240u, wide.info.outHeight);
    EXPECT_EQ(0x03, wide.streamFlags);
    EXPECT_EQ(37800u, wide.info.sampleRate);
    EXPECT_EQ(123456u, wide.info.dataBytes);

    EXPECT_STREQ("Intro", record->streams[1].streamName);
    EXPECT_EQ(320u, record->streams[1].info.outWidth); // 320 x 120 is shown as 320 x 240
    EXPECT_EQ(240u, record->streams[1].info.outHeight);
    EXPECT_STREQ("STR0000", record->streams[2].streamName);
    EXPECT_EQ(0u, record->streams[2].info.outWidth);
    EXPECT_EQ(1, record->streams[2].pluginIndex);
    EXPECT_STREQ("STR12a", record->streams[3].streamName);
    EXPECT_EQ(320u, record->streams[3].info.outWidth); // not wide: unchanged
    EXPECT_EQ(240u, record->streams[3].info.outHeight);
    EXPECT_EQ(nullptr, record->streams[4].streamName);
    EXPECT_EQ(400u, record->streams[4].info.outWidth); // wider than 600: halved
    EXPECT_EQ(240u, record->streams[4].info.outHeight);

    // Through the version-5 writer and back: sorted by start, flags re-derived.
    uint32_t status = 0;
    cdazNormalizeIfDirty(*record);
    RecordPtr loaded = own(cdazLoadV5(cdazWriteV5(*record), {}, 0, &status));
    ASSERT_TRUE(loaded);
    EXPECT_EQ(100u, loaded->streams[0].info.startSector);
    EXPECT_EQ(0x03 | PLB_CDAZ_STREAM_NO_PLUGIN, loaded->streams[1].streamFlags);
}

TEST(CdazVersion4, ShortFiles)
{
    const cdaztest::V4File file = sampleV4();
    // Cut inside the plugin records: refused. Cut inside the streams: the whole ones are kept.
    size_t streamsStart = 20 + 17 + 9 + 4 + 10 + 14 + 6 + 22 + 10 + 14 + 1 + 1;
    for (size_t size = 0; size < streamsStart; ++size)
        EXPECT_FALSE(own(cdazReadV4(std::span(file.bytes.data(), size)))) << size;
    int previous = 0;
    for (size_t size = streamsStart; size <= file.bytes.size(); ++size) {
        bool whole = true;
        RecordPtr record = own(cdazReadV4(std::span(file.bytes.data(), size), &whole));
        ASSERT_TRUE(record) << size;
        EXPECT_GE(record->streamCount, previous);
        EXPECT_EQ(whole, size == file.bytes.size()) << size;
        previous = record->streamCount;
    }
    EXPECT_EQ(5, previous);
    RecordPtr cut = own(cdazReadV4(std::span(file.bytes.data(), streamsStart + 52 + 8)));
    ASSERT_TRUE(cut);
    EXPECT_EQ(1, cut->streamCount);
}

TEST(CdazVersion4, StreamOfAMissingPluginEntryIsRefused)
{
    cdaztest::V4File f;
    f.header(0, -1, "N.cdaz", "", "STR", 1, 1);
    f.plugin(100, 0, "A.PSR", "", "");
    f.stream(StrVideo, 0, 10, 0, 0, 0, 1, "");
    EXPECT_FALSE(own(cdazReadV4(f.bytes)));
    // Many streams announced, few present: no room is made for the missing ones.
    cdaztest::V4File g;
    g.header(0, -1, "N.cdaz", "", "STR", 1, 65535);
    g.plugin(100, 0, "A.PSR", "", "");
    RecordPtr record = own(cdazReadV4(g.bytes));
    ASSERT_TRUE(record);
    EXPECT_EQ(0, record->streamCount);
    EXPECT_LE(record->streamCapacity, 2u);
}

TEST(CdazDamagedFiles, ALongNameRepeatedByManyStreamsCannotMultiplyTheMemory)
{
    // Every stream names the same 20 000-character text: a file of some 30 kB that would need
    // 400 MB of names. The streams share one text here, so they are let go of before the free.
    std::string longName(20000, 'n');
    auto make = [&](int streams) {
        RecordPtr record = makeRecord({"A.PSR"});
        for (int i = 0; i < streams; ++i)
            addStream(*record, streamInfo(StrAudio, uint32_t(i * 10), 10), 0);
        for (int i = 0; i < streams; ++i) {
            std::free(record->streams[i].streamName);
            record->streams[i].streamName = longName.data();
        }
        std::vector<uint8_t> bytes = cdazWriteV5(*record);
        for (int i = 0; i < streams; ++i)
            record->streams[i].streamName = nullptr;
        return bytes;
    };
    const std::vector<uint8_t> many = make(20000);
    EXPECT_LT(many.size(), 40000u);
    EXPECT_FALSE(own(cdazReadV5(many)));
    // A few repeats are ordinary.
    RecordPtr few = own(cdazReadV5(make(40)));
    ASSERT_TRUE(few);
    EXPECT_EQ(longName, few->streams[39].streamName);
}
