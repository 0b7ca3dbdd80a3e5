// The exported CDAZ operations: names, the files of the "Analyze" folder (load statuses, saves
// that fail without harming the earlier file, the in-place conversion of version 4), records and
// their edits with their failure values.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "cdaz/cdaz_format.h"
#include "cdaz_test_records.h"
#include "support_env_home.h"
#include "tamlib/cdaz.h"

namespace fs = std::filesystem;
using namespace tamlib;
using cdaztest::own;
using cdaztest::RecordPtr;
using cdaztest::streamInfo;

namespace {

// Each test gets its own home folder, so the default "Analyze" folder is empty at the start.
class CdazStore : public ::testing::Test
{
  protected:
    void SetUp() override { ASSERT_FALSE(m_home.empty()); }
    void TearDown() override
    {
        // A test takes the rights of this folder away; the home cannot be removed without them.
        std::error_code error;
        fs::permissions(m_home / "other", fs::perms::owner_all, error);
    }

    static std::vector<uint8_t> readFile(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    static void writeFile(const fs::path& path, const std::vector<uint8_t>& bytes)
    {
        fs::create_directories(path.parent_path());
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    // A record of two plugins and three streams, made through the exported calls.
    static RecordPtr sampleRecord(const char* name = "DISC2000.cdaz")
    {
        CdVolumeInfo volume{};
        std::strcpy(volume.systemId, "PLAYSTATION");
        std::strcpy(volume.volumeId, "SLUS_000");
        std::strcpy(volume.publisherId, "PUBLISHER");
        RecordPtr record = own(PlbAllocCDAZ(name, "Title", "STR", &volume, 0, 0));
        EXPECT_TRUE(record);
        StrInfo a = streamInfo(StrVideo, 300, 100, 5000, 320, 240);
        StrInfo b = streamInfo(StrAudio, 100, 100, 5000);
        StrInfo c = streamInfo(StrAudio, 1000, 10, 700);
        EXPECT_EQ(1, PlbSetStreamCDAZ(record.get(), "Movie", &a, "DISCMOVIE.PSR", 142, "maker",
                                      "http://a.invalid/"));
        EXPECT_EQ(1, PlbSetStreamCDAZ(record.get(), nullptr, &b, "DISCVOICE.PSR", 113, nullptr, nullptr));
        EXPECT_EQ(1, PlbSetStreamCDAZ(record.get(), "", &c, "DISCVOICE.PSR", 113, nullptr, nullptr));
        PlbSetCDAZAnaSector(record.get(), -1);
        return record;
    }
    tamlib::test::TempHome m_temp;
    const fs::path m_home = m_temp.path();
    const fs::path m_analyze = m_home / "Analyze";
};

std::string nameOf(int32_t tracks, const CdTocEntry* toc, const CdVolumeInfo* volume)
{
    char name[PLB_CDAZ_NAME_BYTES];
    std::memset(name, 'x', sizeof name);
    EXPECT_EQ(name, PlbMakeCDAZName(tracks, toc, volume, name));
    EXPECT_LT(std::strlen(name), sizeof name);
    return name;
}

// Plugins A to D with one stream each, in that order on the disc.
RecordPtr fourPlugins()
{
    RecordPtr record = own(PlbAllocCDAZ("N.cdaz", "", "S", nullptr, 0, 0));
    for (int p = 0; p < 4; ++p) {
        const StrInfo info = streamInfo(StrAudio, uint32_t(p * 100), 10);
        const std::string file = cdaztest::numbered("%c.PSR", 'A' + p);
        PlbSetStreamCDAZ(record.get(), nullptr, &info, file.c_str(), 100, nullptr, nullptr);
    }
    return record;
}

CdTocEntry track(uint8_t number, uint8_t control, uint32_t start, uint32_t length)
{
    CdTocEntry entry{};
    entry.track = number;
    entry.control = control;
    entry.start = start;
    entry.length = length;
    return entry;
}

} // namespace

TEST(CdazName, VolumeIdentifierTracksAndEndSector)
{
    const CdTocEntry toc[2] = {track(1, 0x04, 0, 20000), track(2, 0x10, 20000, 5000)};
    CdVolumeInfo volume{};
    std::strcpy(volume.volumeId, "SLUS-000.12 x");
    // Letters, digits and "_" of the identifier, the track count, "%02x%d" per track, the end.
    EXPECT_EQ("SLUS00012x2040102000025000.cdaz", nameOf(2, toc, &volume));
    EXPECT_EQ("2040102000025000.cdaz", nameOf(2, toc, nullptr));
    CdVolumeInfo empty{};
    EXPECT_EQ("2040102000025000.cdaz", nameOf(2, toc, &empty));
    EXPECT_EQ(nullptr, PlbMakeCDAZName(2, toc, nullptr, nullptr));
}

TEST(CdazName, LongNamesAreCutAtThirtySixCharacters)
{
    const CdTocEntry toc[3] = {track(1, 0x04, 150, 12000), track(2, 0x00, 12345, 7000),
                               track(3, 0x00, 20000, 1000)};
    CdVolumeInfo volume{};
    std::strcpy(volume.volumeId, "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    // "ABC...Z3" (27) + "04150" = 32 characters, + "0012345" = 39: stop, cut to 36, then the end
    // sector of the last track, 21000.
    EXPECT_EQ("ABCDEFGHIJKLMNOPQRSTUVWXYZ304150001221000.cdaz", nameOf(3, toc, &volume));
    // A full 32-character identifier: cut inside the track list, never beyond 48 characters.
    std::memset(volume.volumeId, 'Q', 32);
    const std::string name = nameOf(3, toc, &volume);
    EXPECT_EQ(std::string(32, 'Q') + "3041" + "21000.cdaz", name);
}

// Runs `work` while no file may grow beyond `bytes` (a full disk, as a write sees it).
template <class Work> auto withFileSizeLimit(rlim_t bytes, Work work)
{
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &small);
    const auto result = work();
    setrlimit(RLIMIT_FSIZE, &saved);
    return result;
}

TEST_F(CdazStore, NewRecordDefaultsAndDiscTexts)
{
    RecordPtr record = sampleRecord();
    EXPECT_EQ(5, record->version);
    EXPECT_EQ(16515394u, record->analyzeVersion);
    EXPECT_EQ(0u, record->loadStatus);
    EXPECT_STREQ("PLAYSTATION", record->systemId);
    EXPECT_STREQ("SLUS_000", record->volumeId);
    EXPECT_STREQ("PUBLISHER", record->publisherId);

    RecordPtr bare = own(PlbAllocCDAZ(nullptr, nullptr, nullptr, nullptr, -5, 0));
    ASSERT_TRUE(bare);
    EXPECT_EQ(8, bare->pluginCapacity);
    EXPECT_EQ(1024u, bare->streamCapacity);
    EXPECT_EQ(0, bare->anaSector);
    EXPECT_EQ(0, bare->cdazFlags);

    char name[49], title[65], prefix[17];
    int32_t flags = -1, anaSector = 0;
    EXPECT_EQ(3, PlbGetCDAZInfo(record.get(), name, title, prefix, &flags, &anaSector));
    EXPECT_STREQ("DISC2000.cdaz", name);
    EXPECT_STREQ("Title", title);
    EXPECT_STREQ("STR", prefix);
    EXPECT_EQ(0, flags);
    EXPECT_EQ(-1, anaSector);
    EXPECT_EQ(3, PlbGetCDAZInfo(record.get(), nullptr, nullptr, nullptr, nullptr, nullptr));

    const std::string longTitle(100, 'T');
    EXPECT_EQ(1, PlbSetCDAZInfo(record.get(), longTitle.c_str(), "PREFIX_LONGER_THAN_16", 0x01, 0xFF));
    PlbGetCDAZInfo(record.get(), nullptr, title, prefix, &flags, nullptr);
    EXPECT_EQ(std::string(64, 'T'), title);
    EXPECT_STREQ("PREFIX_LONGER_TH", prefix);
    EXPECT_EQ(1, flags);
    EXPECT_EQ(1, PlbSetCDAZInfo(record.get(), nullptr, nullptr, 0x01, 0));
    PlbGetCDAZInfo(record.get(), nullptr, title, nullptr, &flags, nullptr);
    EXPECT_EQ(0, flags);
    EXPECT_EQ(std::string(64, 'T'), title);
}

TEST_F(CdazStore, NullRecordsAndBadIndicesGiveTheFailureValues)
{
    StrInfo info{};
    char text[PLB_CDAZ_STREAM_NAME_BYTES] = "untouched";
    int32_t positions[1] = {0};
    EXPECT_EQ(-1, PlbGetCDAZInfo(nullptr, text, nullptr, nullptr, nullptr, nullptr));
    EXPECT_STREQ("untouched", text);
    EXPECT_EQ(0, PlbSetCDAZInfo(nullptr, "t", "p", 1, 1));
    EXPECT_EQ(0, PlbSetCDAZAnaSector(nullptr, -1));
    EXPECT_EQ(0, PlbGetCDAZStream(nullptr, 0, &info, text, nullptr, nullptr));
    EXPECT_EQ(0, PlbSetCDAZStream(nullptr, 0, &info, "n", 1, 1));
    EXPECT_EQ(0, PlbSetStreamCDAZ(nullptr, nullptr, &info, "A.PSR", 100, nullptr, nullptr));
    EXPECT_EQ(0, PlbGetCDAZPlugin(nullptr, 0, text, nullptr, nullptr, nullptr, nullptr));
    EXPECT_STREQ("", text); // text outs are cleared first
    EXPECT_EQ(-1, PlbSetCDAZPluginFlags(nullptr, 0, 1, 1));
    EXPECT_EQ(0, PlbSetCDAZPluginPriority(nullptr, 0, 1));
    EXPECT_EQ(0, PlbSetCDAZPluginPriAll(nullptr, 1, positions));
    EXPECT_EQ(0, PlbSaveCDAZ(nullptr, "x.cdaz", nullptr));
    PlbFreeCDAZ(nullptr);

    RecordPtr record = sampleRecord();
    for (int32_t bad : {-1, 3, 1000}) {
        SCOPED_TRACE(bad);
        StrInfo before{};
        EXPECT_EQ(0, PlbGetCDAZStream(record.get(), bad, &before, nullptr, nullptr, nullptr));
        EXPECT_EQ(0, PlbSetCDAZStream(record.get(), bad, &info, "n", 1, 1));
    }
    for (int32_t bad : {-1, 2, 300}) {
        SCOPED_TRACE(bad);
        std::strcpy(text, "untouched");
        EXPECT_EQ(0, PlbGetCDAZPlugin(record.get(), bad, text, nullptr, nullptr, nullptr, nullptr));
        EXPECT_STREQ("", text);
        EXPECT_EQ(-1, PlbSetCDAZPluginFlags(record.get(), bad, 1, 1));
        EXPECT_EQ(0, PlbSetCDAZPluginPriority(record.get(), bad, 0));
    }
    EXPECT_EQ(3, record->streamCount);
    EXPECT_EQ(2, record->pluginCount);
}

TEST_F(CdazStore, StreamsReadOutNormalisedWithDefaultTitles)
{
    RecordPtr record = sampleRecord();
    StrInfo info{};
    char name[PLB_CDAZ_STREAM_NAME_BYTES];
    int32_t flags = -1, plugin = -1;
    // Sorted by start on the first read-out: the voice stream at 100 comes first.
    ASSERT_EQ(1, PlbGetCDAZStream(record.get(), 0, &info, name, &flags, &plugin));
    EXPECT_EQ(100u, info.startSector);
    EXPECT_STREQ("STR0001", name);
    EXPECT_EQ(0, flags);
    EXPECT_EQ(1, plugin);
    ASSERT_EQ(1, PlbGetCDAZStream(record.get(), 1, &info, name, nullptr, &plugin));
    EXPECT_STREQ("Movie", name);
    EXPECT_EQ(0, plugin);
    ASSERT_EQ(1, PlbGetCDAZStream(record.get(), 2, nullptr, name, nullptr, nullptr));
    EXPECT_STREQ("STR0003", name); // an empty name is no name

    // Renaming, removing the name, replacing the info, and the flags through mask and value.
    EXPECT_EQ(1, PlbSetCDAZStream(record.get(), 0, nullptr, "Voice", 0, 0xFF));
    PlbGetCDAZStream(record.get(), 0, nullptr, name, &flags, nullptr);
    EXPECT_STREQ("Voice", name);
    EXPECT_EQ(0, flags); // mask 0 changes no flag
    EXPECT_EQ(1, PlbSetCDAZStream(record.get(), 0, nullptr, "", 0x06, 0xFF));
    PlbGetCDAZStream(record.get(), 0, nullptr, name, &flags, nullptr);
    EXPECT_STREQ("STR0001", name);
    EXPECT_EQ(0x06, flags);
    StrInfo moved = streamInfo(StrAudio, 5000, 10, 700);
    EXPECT_EQ(1, PlbSetCDAZStream(record.get(), 0, &moved, nullptr, 0, 0));
    PlbGetCDAZStream(record.get(), 2, &info, nullptr, &flags, nullptr); // re-sorted: now last
    EXPECT_EQ(5000u, info.startSector);
    EXPECT_EQ(0x06, flags);
}

// The analysis of the sample disc in short: two movies of the movie plugin (first in priority),
// each with the sound stream the voice plugin found inside it, and a sound stream of its own.
RecordPtr movieDisc()
{
    RecordPtr record = own(PlbAllocCDAZ("CORPUS_A.cdaz", "CORPUS_A", "STR", nullptr, 0, 0));
    const struct
    {
        uint16_t kind;
        uint32_t start, sectors;
        const char* plugin;
    } streams[] = {
        {StrVideo | StrAudio, 25, 450, "DISCMOVIE.PSR"}, {StrAudio, 25, 449, "DISCVOICE.PSR"},
        {StrAudio, 475, 449, "DISCVOICE.PSR"},          {StrVideo | StrAudio, 475, 450, "DISCMOVIE.PSR"},
        {StrAudio, 1570, 75, "DISCVOICE.PSR"},
    };
    for (const auto& s : streams) {
        const StrInfo info = streamInfo(s.kind, s.start, s.sectors, 3040);
        EXPECT_EQ(1, PlbSetStreamCDAZ(record.get(), nullptr, &info, s.plugin, 100, nullptr, nullptr));
    }
    return record;
}

std::vector<int32_t> flagsOf(CdazRecord* record)
{
    std::vector<int32_t> flags;
    int32_t f = 0;
    for (int32_t i = 0; PlbGetCDAZStream(record, i, nullptr, nullptr, &f, nullptr) == 1; ++i)
        flags.push_back(f);
    return flags;
}

// A flag set on one stream reads back on that stream as set; of the other streams only the
// overlap-hidden flag, which the normalisation derives, may follow: a movie that takes no part in
// the overlap walk (hidden by the user, its plugin missing, to be analysed again, without a kind)
// no longer hides the sound stream found inside it. Undoing the edit restores every stream.
TEST_F(CdazStore, AFlagSetOnOneStreamReadsBackAndOnlyDerivedHidingFollowsElsewhere)
{
    constexpr int32_t kHidden = PLB_CDAZ_STREAM_HIDDEN;
    const std::vector<int32_t> analysed = {0, kHidden, kHidden, 0, 0};
    const struct
    {
        int32_t mask, value;
        int32_t movieReads;     // the edited stream's flags read back
        bool soundStaysHidden; // stream 1, the movie's sound found by the voice plugin
    } cases[] = {
        {PLB_CDAZ_STREAM_USER_HIDDEN, 0xFF, PLB_CDAZ_STREAM_USER_HIDDEN, false},
        {0x02, 0x02, 0x02, true},
        {0x04, 0xFF, 0x04, true},
        {0x06, 0x06, 0x06, true},
        {PLB_CDAZ_STREAM_NO_PLUGIN, PLB_CDAZ_STREAM_NO_PLUGIN, PLB_CDAZ_STREAM_NO_PLUGIN, false},
        {PLB_CDAZ_STREAM_REANALYZE, 0xFF, PLB_CDAZ_STREAM_REANALYZE, false},
        {PLB_CDAZ_STREAM_NO_KIND, 0xFF, PLB_CDAZ_STREAM_NO_KIND, false},
        {0x12, 0x12, 0x12, false},
        // The overlap-hidden flag is the normalisation's: the top-priority movie is never hidden.
        {kHidden, kHidden, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "mask " << c.mask << " value " << c.value);
        RecordPtr record = movieDisc();
        ASSERT_EQ(flagsOf(record.get()), analysed);
        StrInfo before[5];
        for (int32_t i = 0; i < 5; ++i)
            ASSERT_EQ(1, PlbGetCDAZStream(record.get(), i, &before[i], nullptr, nullptr, nullptr));

        ASSERT_EQ(1, PlbSetCDAZStream(record.get(), 0, nullptr, nullptr, c.mask, c.value));
        std::vector<int32_t> expected = analysed;
        expected[0] = c.movieReads;
        expected[1] = c.soundStaysHidden ? kHidden : 0;
        EXPECT_EQ(flagsOf(record.get()), expected);
        // Reading again changes nothing, and no stream moved.
        EXPECT_EQ(flagsOf(record.get()), expected);
        for (int32_t i = 0; i < 5; ++i) {
            StrInfo info{};
            ASSERT_EQ(1, PlbGetCDAZStream(record.get(), i, &info, nullptr, nullptr, nullptr));
            EXPECT_EQ(0, std::memcmp(&info, &before[i], sizeof info)) << "stream " << i;
        }

        ASSERT_EQ(1, PlbSetCDAZStream(record.get(), 0, nullptr, nullptr, c.mask, 0));
        EXPECT_EQ(flagsOf(record.get()), analysed);
    }
}

// The flags that belong to the user (hidden, and the two free bits) come back from the file as
// they were set on every stream, hidden ones included; the others are derived again on loading.
TEST_F(CdazStore, UserFlagsOfEveryStreamComeBackFromTheFile)
{
    RecordPtr record = movieDisc();
    const int32_t user[5] = {0x06, 0x05, 0x02, 0x00, 0x01};
    for (int32_t i = 0; i < 5; ++i)
        ASSERT_EQ(1, PlbSetCDAZStream(record.get(), i, nullptr, nullptr, 0x07, user[i]));
    // A system bit set by a caller stays in the record until it is saved and loaded.
    ASSERT_EQ(1, PlbSetCDAZStream(record.get(), 3, nullptr, nullptr, PLB_CDAZ_STREAM_REANALYZE, 0xFF));
    const std::vector<int32_t> set = flagsOf(record.get());
    ASSERT_EQ(set.size(), 5u);
    for (int32_t i = 0; i < 5; ++i)
        EXPECT_EQ(set[i] & 0x07, user[i]) << "stream " << i;
    EXPECT_EQ(set[3], PLB_CDAZ_STREAM_REANALYZE);

    ASSERT_EQ(1, PlbSaveCDAZ(nullptr, nullptr, record.get()));
    RecordPtr back = own(PlbLoadCDAZ(nullptr, "CORPUS_A.cdaz", nullptr).record);
    ASSERT_TRUE(back);
    const std::vector<int32_t> loaded = flagsOf(back.get());
    ASSERT_EQ(loaded.size(), 5u);
    for (int32_t i = 0; i < 5; ++i)
        EXPECT_EQ(loaded[i] & 0x07, user[i]) << "stream " << i;
    // No plugin is installed here: every stream with content is marked, none for another analysis.
    for (int32_t f : loaded)
        EXPECT_EQ(f & 0xF8, PLB_CDAZ_STREAM_NO_PLUGIN);
}

TEST_F(CdazStore, AddingStreamsCreatesPluginEntriesUpToTwoHundredFiftySix)
{
    RecordPtr record = own(PlbAllocCDAZ("N.cdaz", "", "STR", nullptr, 1, 1));
    const StrInfo info = streamInfo(StrAudio, 0, 1);
    for (int p = 0; p < 256; ++p) {
        const std::string file = cdaztest::numbered("P%d.PSR", p);
        ASSERT_EQ(1, PlbSetStreamCDAZ(record.get(), nullptr, &info, file.c_str(), 100, nullptr, nullptr))
            << p;
    }
    EXPECT_EQ(256, record->pluginCount);
    EXPECT_EQ(256, record->pluginCapacity);
    EXPECT_EQ(256, record->streamCount);
    // An entry that exists takes more streams; a 257th entry (new name or new version) fails.
    EXPECT_EQ(1, PlbSetStreamCDAZ(record.get(), "x", &info, "P7.PSR", 100, nullptr, nullptr));
    EXPECT_EQ(7, record->streams[256].pluginIndex);
    EXPECT_EQ(0, PlbSetStreamCDAZ(record.get(), "x", &info, "P7.PSR", 101, nullptr, nullptr));
    EXPECT_EQ(0, PlbSetStreamCDAZ(record.get(), "x", &info, "NEW.PSR", 100, nullptr, nullptr));
    EXPECT_EQ(257, record->streamCount);
    EXPECT_EQ(256, record->pluginCount);

    // Missing author and address come from the installed plugin of that name.
    InstalledPlugin installed;
    installed.file = "KNOWN.PSR";
    installed.author = "installed author";
    installed.address = "http://installed.invalid/";
    RecordPtr other = own(PlbAllocCDAZ("N.cdaz", "", "STR", nullptr, 0, 0));
    const std::vector<InstalledPlugin> list = {installed};
    ASSERT_TRUE(
        cdazAddStream(*other, nullptr, info, "KNOWN.PSR", 100, nullptr, "http://given.invalid/", list));
    EXPECT_STREQ("installed author", other->plugins[0].author);
    EXPECT_STREQ("http://given.invalid/", other->plugins[0].address);
    ASSERT_TRUE(cdazAddStream(*other, nullptr, info, "UNKNOWN.PSR", 100, nullptr, nullptr, list));
    EXPECT_STREQ("", other->plugins[1].author);
}

TEST_F(CdazStore, PluginEntriesAndTheirFlags)
{
    RecordPtr record = sampleRecord();
    char file[17], name[49], author[81], address[81];
    int16_t version = 0;
    std::strcpy(name, "garbage");
    ASSERT_EQ(1, PlbGetCDAZPlugin(record.get(), 0, file, name, &version, author, address));
    EXPECT_STREQ("DISCMOVIE.PSR", file);
    EXPECT_STREQ("", name); // not installed in the test environment
    EXPECT_EQ(142, version);
    EXPECT_STREQ("maker", author);
    EXPECT_STREQ("http://a.invalid/", address);

    EXPECT_EQ(0, PlbSetCDAZPluginFlags(record.get(), 0, 0, 0xFF));       // mask 0 only reports
    EXPECT_EQ(0x81, PlbSetCDAZPluginFlags(record.get(), 0, 0x01, 0x81)); // the value is not masked
    int32_t flags = 0;
    PlbGetCDAZStream(record.get(), 1, nullptr, nullptr, &flags, nullptr);
    EXPECT_EQ(PLB_CDAZ_STREAM_HIDDEN, flags); // the movie's plugin is off
    EXPECT_EQ(0x80, PlbSetCDAZPluginFlags(record.get(), 0, 0x01, 0));
    PlbGetCDAZStream(record.get(), 1, nullptr, nullptr, &flags, nullptr);
    EXPECT_EQ(0, flags);
}

TEST_F(CdazStore, MovingOnePluginCarriesTheStreamIndices)
{
    RecordPtr record = fourPlugins();
    auto order = [&] {
        std::string text;
        for (int i = 0; i < 4; ++i) {
            char file[17];
            int32_t plugin = -1;
            PlbGetCDAZStream(record.get(), i, nullptr, nullptr, nullptr, &plugin);
            PlbGetCDAZPlugin(record.get(), plugin, file, nullptr, nullptr, nullptr, nullptr);
            text += file[0]; // the stream of plugin X still names X
        }
        for (int p = 0; p < 4; ++p) {
            char file[17];
            PlbGetCDAZPlugin(record.get(), p, file, nullptr, nullptr, nullptr, nullptr);
            text += file[0];
        }
        return text;
    };
    EXPECT_EQ("ABCDABCD", order());
    EXPECT_EQ(1, PlbSetCDAZPluginPriority(record.get(), 0, 2)); // down
    EXPECT_EQ("ABCDBCAD", order());
    EXPECT_EQ(1, PlbSetCDAZPluginPriority(record.get(), 3, 0)); // up
    EXPECT_EQ("ABCDDBCA", order());
    EXPECT_EQ(1, PlbSetCDAZPluginPriority(record.get(), 1, 99)); // "to" clamped to the last
    EXPECT_EQ("ABCDDCAB", order());
    EXPECT_EQ(1, PlbSetCDAZPluginPriority(record.get(), 2, -4)); // and to the first
    EXPECT_EQ("ABCDADCB", order());
    EXPECT_EQ(1, PlbSetCDAZPluginPriority(record.get(), 1, 1)); // nothing moves
    EXPECT_EQ("ABCDADCB", order());
}

TEST_F(CdazStore, ReorderingAllPlugins)
{
    RecordPtr record = fourPlugins();
    auto plugins = [&] {
        std::string text;
        for (int p = 0; p < 4; ++p)
            text += record->plugins[p].fileName[0];
        for (int i = 0; i < 4; ++i)
            text += record->plugins[record->streams[i].pluginIndex].fileName[0];
        return text;
    };
    EXPECT_EQ(1, PlbSetCDAZPluginPriAll(record.get(), 0, nullptr));
    EXPECT_EQ("ABCDABCD", plugins());
    const int32_t repeated[2] = {1, 1}, negative[1] = {-1}, beyond[1] = {4};
    EXPECT_EQ(0, PlbSetCDAZPluginPriAll(record.get(), 2, repeated));
    EXPECT_EQ(0, PlbSetCDAZPluginPriAll(record.get(), 1, negative));
    EXPECT_EQ(0, PlbSetCDAZPluginPriAll(record.get(), 1, beyond));
    EXPECT_EQ(0, PlbSetCDAZPluginPriAll(record.get(), -1, negative));
    EXPECT_EQ("ABCDABCD", plugins());
    // A goes to 2, B to 0; C and D take the free places 1 and 3 in their order.
    const int32_t two[2] = {2, 0};
    EXPECT_EQ(1, PlbSetCDAZPluginPriAll(record.get(), 2, two));
    EXPECT_EQ("BCADABCD", plugins());
    const int32_t all[4] = {3, 2, 1, 0};
    EXPECT_EQ(1, PlbSetCDAZPluginPriAll(record.get(), 4, all));
    EXPECT_EQ("DACBABCD", plugins());
}

TEST_F(CdazStore, SavedRecordLoadsBackWithItsStatus)
{
    RecordPtr record = sampleRecord();
    ASSERT_EQ(1, PlbSaveCDAZ(nullptr, nullptr, record.get())); // the folder is created
    ASSERT_TRUE(fs::exists(m_analyze / "DISC2000.cdaz"));

    int32_t status = -1;
    PlbCdazLoad loaded = PlbLoadCDAZ(nullptr, "DISC2000.cdaz", &status);
    RecordPtr back = own(loaded.record);
    ASSERT_TRUE(back);
    // No plugin is installed in the test environment: the streams' plugins are missing.
    EXPECT_EQ(int32_t(PLB_CDAZ_LOAD_NO_PLUGIN), status);
    EXPECT_EQ(PLB_CDAZ_LOAD_NO_PLUGIN, loaded.status);
    EXPECT_EQ(PLB_CDAZ_LOAD_NO_PLUGIN, back->loadStatus);
    EXPECT_EQ(3, back->streamCount);
    EXPECT_EQ(0, back->validStreams);
    EXPECT_EQ(142u + 113u, back->pluginVersionSum);
    EXPECT_FALSE(cdazAdoptable(back.get()));

    // The disc identifiers and versions come back for the programs that show them.
    CdazIdentity identity;
    ASSERT_TRUE(cdazIdentity(back.get(), identity));
    EXPECT_EQ(5, identity.version);
    EXPECT_EQ(16515394u, identity.analyzeVersion);
    EXPECT_EQ("PLAYSTATION", identity.systemId);
    EXPECT_EQ("SLUS_000", identity.volumeId);
    EXPECT_EQ("PUBLISHER", identity.publisherId);
    EXPECT_FALSE(cdazIdentity(nullptr, identity));

    // The default folder given explicitly counts as none; any other folder adds 0x1000.
    RecordPtr same = own(PlbLoadCDAZ((m_analyze.string() + "/").c_str(), "DISC2000.cdaz", nullptr).record);
    ASSERT_TRUE(same);
    EXPECT_EQ(PLB_CDAZ_LOAD_NO_PLUGIN, same->loadStatus);
    const fs::path other = m_home / "other";
    ASSERT_EQ(1, PlbSaveCDAZ(other.c_str(), "copy.cdaz", back.get()));
    PlbCdazLoad elsewhere = PlbLoadCDAZ(other.c_str(), "copy.cdaz", nullptr);
    RecordPtr third = own(elsewhere.record);
    ASSERT_TRUE(third);
    EXPECT_EQ(PLB_CDAZ_LOAD_NO_PLUGIN | PLB_CDAZ_LOAD_OTHER_FOLDER, elsewhere.status);
    cdaztest::expectSameRecord(*back, *third);
    // Saved again unchanged, the file is the same.
    ASSERT_EQ(1, PlbSaveCDAZ(other.c_str(), "again.cdaz", third.get()));
    EXPECT_EQ(readFile(other / "copy.cdaz"), readFile(other / "again.cdaz"));
}

TEST_F(CdazStore, LoadFailures)
{
    int32_t status = 0;
    PlbCdazLoad missing = PlbLoadCDAZ(nullptr, "none.cdaz", &status);
    EXPECT_EQ(nullptr, missing.record);
    EXPECT_EQ(int32_t(PLB_CDAZ_LOAD_MISSING), status);
    EXPECT_EQ(PLB_CDAZ_LOAD_MISSING, PlbLoadCDAZ(nullptr, nullptr, nullptr).status);
    EXPECT_EQ(PLB_CDAZ_LOAD_MISSING, PlbLoadCDAZ("/nonexistent-folder", "x.cdaz", nullptr).status);

    fs::create_directories(m_analyze / "folder.cdaz");
    EXPECT_EQ(PLB_CDAZ_LOAD_CANNOT_OPEN, PlbLoadCDAZ(nullptr, "folder.cdaz", nullptr).status);

    const std::vector<std::pair<std::vector<uint8_t>, uint32_t>> cases = {
        {{}, PLB_CDAZ_LOAD_CORRUPT},
        {{5}, PLB_CDAZ_LOAD_CORRUPT},
        {{5, 0}, PLB_CDAZ_LOAD_CORRUPT},                       // shorter than the header
        {std::vector<uint8_t>(100, 5), PLB_CDAZ_LOAD_CORRUPT}, // nonsense counts
        {{3, 0, 0, 0}, PLB_CDAZ_LOAD_BAD_VERSION},             // version 3 is not read
        {{6, 0}, PLB_CDAZ_LOAD_BAD_VERSION},
        {{4, 0, 0}, PLB_CDAZ_LOAD_CORRUPT}, // a version 4 shorter than its header
    };
    for (const auto& [bytes, expected] : cases) {
        writeFile(m_analyze / "bad.cdaz", bytes);
        PlbCdazLoad result = PlbLoadCDAZ(nullptr, "bad.cdaz", &status);
        EXPECT_EQ(nullptr, result.record);
        EXPECT_EQ(expected, result.status) << bytes.size();
        EXPECT_EQ(int32_t(expected), status);
        EXPECT_EQ(bytes, readFile(m_analyze / "bad.cdaz")); // nothing is rewritten
    }
}

TEST_F(CdazStore, VersionFourFileIsReplacedByVersionFiveBeforeItIsRead)
{
    cdaztest::V4File file;
    file.header(0, -1, "a.cdaz", "Old", "STR", 1, 1);
    file.plugin(142, 0, "A.PSR", "", "");
    file.stream(StrVideo, 1000, 500, 640, 240, 0x02, 0, "Song");
    const std::vector<uint8_t> v4 = file.bytes;
    writeFile(m_analyze / "a.cdaz", v4);

    PlbCdazLoad loaded = PlbLoadCDAZ(nullptr, "a.cdaz", nullptr);
    RecordPtr record = own(loaded.record);
    ASSERT_TRUE(record);
    EXPECT_EQ(PLB_CDAZ_LOAD_NO_PLUGIN, loaded.status);
    EXPECT_EQ(0u, record->analyzeVersion);
    EXPECT_STREQ("Old", record->title);
    ASSERT_EQ(1, record->streamCount);
    EXPECT_STREQ("Song", record->streams[0].streamName);
    EXPECT_EQ(320u, record->streams[0].info.outWidth);
    EXPECT_EQ(240u, record->streams[0].info.outHeight);
    EXPECT_EQ(0x02 | PLB_CDAZ_STREAM_NO_PLUGIN, record->streams[0].streamFlags);

    const std::vector<uint8_t> replaced = readFile(m_analyze / "a.cdaz");
    ASSERT_FALSE(replaced.empty());
    EXPECT_EQ(5, replaced[0]);
    EXPECT_EQ(1u, std::distance(fs::directory_iterator(m_analyze), fs::directory_iterator())); // no leftovers

    // When the converted file cannot be written (a full or read-only disc), the record is
    // converted in memory, says so, and the old file stays.
    writeFile(m_analyze / "a.cdaz", v4);
    PlbCdazLoad inMemory = withFileSizeLimit(10, [] { return PlbLoadCDAZ(nullptr, "a.cdaz", nullptr); });
    RecordPtr kept = own(inMemory.record);
    ASSERT_TRUE(kept);
    EXPECT_EQ(PLB_CDAZ_LOAD_NO_PLUGIN | PLB_CDAZ_LOAD_IN_MEMORY, inMemory.status);
    EXPECT_EQ(inMemory.status, kept->loadStatus);
    cdaztest::expectSameRecord(*record, *kept);
    EXPECT_EQ(v4, readFile(m_analyze / "a.cdaz"));
    EXPECT_EQ(1u, std::distance(fs::directory_iterator(m_analyze), fs::directory_iterator()));
}

TEST_F(CdazStore, ReadingNeverWritesAndCutVersionFourFilesAreDamaged)
{
    cdaztest::V4File file;
    file.header(0, -1, "b.cdaz", "Old", "STR", 1, 3);
    file.plugin(142, 0, "A.PSR", "", "");
    file.stream(StrVideo, 1000, 500, 320, 240, 0, 0, "One");
    file.stream(StrVideo, 2000, 500, 320, 240, 0, 0, "");
    const size_t twoStreams = file.bytes.size();
    file.stream(StrAudio, 3000, 50, 0, 0, 0, 0, "Three");
    writeFile(m_analyze / "b.cdaz", file.bytes);

    // Read only: converted in memory, the file as it was.
    PlbCdazLoad read = PlbReadCDAZ(nullptr, "b.cdaz", nullptr);
    RecordPtr record = own(read.record);
    ASSERT_TRUE(record);
    EXPECT_EQ(3, record->streamCount);
    EXPECT_TRUE(read.status & PLB_CDAZ_LOAD_IN_MEMORY);
    EXPECT_EQ(file.bytes, readFile(m_analyze / "b.cdaz"));

    // Cut anywhere after the header (inside the plugin, between or inside the streams): damaged,
    // for both calls, and the file is not touched.
    for (const size_t size : {size_t(30), twoStreams - 1, twoStreams, twoStreams + 20, file.bytes.size() - 1}) {
        const std::vector<uint8_t> cut(file.bytes.begin(), file.bytes.begin() + std::ptrdiff_t(size));
        writeFile(m_analyze / "b.cdaz", cut);
        for (auto load : {PlbLoadCDAZ, PlbReadCDAZ}) {
            int32_t status = 0;
            PlbCdazLoad damaged = load(nullptr, "b.cdaz", &status);
            EXPECT_EQ(nullptr, damaged.record) << size;
            EXPECT_EQ(PLB_CDAZ_LOAD_CORRUPT, damaged.status) << size;
            EXPECT_EQ(int32_t(PLB_CDAZ_LOAD_CORRUPT), status);
            EXPECT_EQ(cut, readFile(m_analyze / "b.cdaz")) << size;
        }
    }

    // A version-5 file reads the same either way, with no status bit of its own.
    writeFile(m_analyze / "b.cdaz", file.bytes);
    RecordPtr converted = own(PlbLoadCDAZ(nullptr, "b.cdaz", nullptr).record);
    ASSERT_TRUE(converted);
    const std::vector<uint8_t> v5 = readFile(m_analyze / "b.cdaz");
    ASSERT_EQ(5, v5[0]);
    PlbCdazLoad again = PlbReadCDAZ(nullptr, "b.cdaz", nullptr);
    RecordPtr reread = own(again.record);
    ASSERT_TRUE(reread);
    EXPECT_EQ(converted->loadStatus, again.status);
    cdaztest::expectSameRecord(*converted, *reread);
    EXPECT_EQ(v5, readFile(m_analyze / "b.cdaz"));
    EXPECT_EQ(1u, std::distance(fs::directory_iterator(m_analyze), fs::directory_iterator()));
}

TEST_F(CdazStore, FailedSavesKeepTheEarlierFile)
{
    RecordPtr record = sampleRecord();
    ASSERT_EQ(1, PlbSaveCDAZ(nullptr, nullptr, record.get()));
    const fs::path path = m_analyze / "DISC2000.cdaz";
    const std::vector<uint8_t> before = readFile(path);

    // The disk is full: no file may grow beyond 16 bytes.
    StrInfo info = streamInfo(StrAudio, 9000, 10);
    PlbSetStreamCDAZ(record.get(), "one more", &info, "DISCVOICE.PSR", 113, nullptr, nullptr);
    const int32_t result = withFileSizeLimit(16, [&] { return PlbSaveCDAZ(nullptr, nullptr, record.get()); });
    EXPECT_EQ(0, result);
    EXPECT_EQ(before, readFile(path));
    EXPECT_EQ(1u, std::distance(fs::directory_iterator(m_analyze), fs::directory_iterator()));

    // The target cannot be replaced (a folder of that name is in the way).
    fs::create_directories(m_analyze / "blocked.cdaz" / "inside");
    EXPECT_EQ(0, PlbSaveCDAZ(nullptr, "blocked.cdaz", record.get()));
    EXPECT_TRUE(fs::is_directory(m_analyze / "blocked.cdaz" / "inside"));
    EXPECT_EQ(2u, std::distance(fs::directory_iterator(m_analyze), fs::directory_iterator()));

    // A read-only folder (not for a user who may write anywhere).
    const fs::path other = m_home / "other";
    ASSERT_EQ(1, PlbSaveCDAZ(other.c_str(), "kept.cdaz", record.get()));
    const std::vector<uint8_t> kept = readFile(other / "kept.cdaz");
    fs::permissions(other, fs::perms::owner_read | fs::perms::owner_exec);
    if (geteuid() != 0) {
        EXPECT_EQ(0, PlbSaveCDAZ(other.c_str(), "kept.cdaz", sampleRecord().get()));
        EXPECT_EQ(kept, readFile(other / "kept.cdaz"));
    }
    // A folder that cannot be made.
    EXPECT_EQ(0, PlbSaveCDAZ((path.string() + "/sub").c_str(), "x.cdaz", record.get()));
    // No name at all.
    RecordPtr unnamed = own(PlbAllocCDAZ(nullptr, nullptr, nullptr, nullptr, 0, 0));
    EXPECT_EQ(0, PlbSaveCDAZ(nullptr, nullptr, unnamed.get()));
}

TEST_F(CdazStore, FindListsTheCdazFilesOfTheDefaultFolderAndDeleteRemovesThem)
{
    char name[PLB_CDAZ_NAME_BYTES];
    EXPECT_EQ(nullptr, PlbFindCDAZ(nullptr, name)); // no folder yet
    writeFile(m_analyze / "one.cdaz", {5});
    writeFile(m_analyze / "TWO.CDAZ", {5});
    writeFile(m_analyze / "three.txt", {5});
    writeFile(m_analyze / (std::string(44, 'L') + ".cdaz"), {5}); // 49 characters: skipped
    writeFile(m_analyze / (std::string(43, 'K') + ".cdaz"), {5}); // 48: listed
    fs::create_directories(m_analyze / "folder.cdaz");

    std::set<std::string> found;
    CdazSearch* search = PlbFindCDAZ(nullptr, name);
    while (search) {
        found.insert(name);
        search = PlbFindCDAZ(search, name);
    }
    EXPECT_EQ((std::set<std::string>{"one.cdaz", "TWO.CDAZ", std::string(43, 'K') + ".cdaz"}), found);

    // Closing a listing early.
    search = PlbFindCDAZ(nullptr, name);
    ASSERT_TRUE(search);
    EXPECT_EQ(nullptr, PlbFindCDAZ(search, nullptr));

    EXPECT_EQ(1, PlbDeleteCDAZ(nullptr, "one.cdaz"));
    EXPECT_FALSE(fs::exists(m_analyze / "one.cdaz"));
    EXPECT_EQ(0, PlbDeleteCDAZ(nullptr, "one.cdaz"));
    EXPECT_EQ(0, PlbDeleteCDAZ(nullptr, nullptr));
    EXPECT_EQ(1, PlbDeleteCDAZ(m_analyze.c_str(), "TWO.CDAZ"));
}
