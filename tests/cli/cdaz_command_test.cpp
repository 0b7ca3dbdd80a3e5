// cdaz list, show, edit, copy and delete on CDAZ files the library writes here; every edit is
// checked by loading the file again with the library.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "cli_runner.h"
#include "tamlib/cdaz.h"

namespace clitest {
namespace {

using nlohmann::json;

struct RecordFree
{
    void operator()(CdazRecord* record) const { PlbFreeCDAZ(record); }
};
using Record = std::unique_ptr<CdazRecord, RecordFree>;

const char* const kName = "TESTDISC3001000.cdaz";

StrInfo streamInfo(uint16_t kind, uint32_t start, uint32_t sectors, uint32_t durationMs, uint32_t dataBytes)
{
    StrInfo info{};
    info.kind = kind;
    info.startSector = start;
    info.sectorCount = sectors;
    info.durationMs = durationMs;
    info.dataBytes = dataBytes;
    if (kind & StrVideo) {
        info.width = info.outWidth = 320;
        info.height = info.outHeight = 240;
        info.frameRate = 150;
    }
    return info;
}

// A disc of three streams: a named movie of the movie plugin, an unnamed sound stream of the XA
// plugin and a movie of a plugin that is not installed.
Record makeRecord(const char* title = "Test disc")
{
    CdVolumeInfo volume{};
    std::strcpy(volume.systemId, "PLAYSTATION");
    std::strcpy(volume.volumeId, "TESTDISC");
    std::strcpy(volume.publisherId, "TAMRIN TESTS");
    Record record(PlbAllocCDAZ(kName, title, "STR", &volume, 0, 0));
    EXPECT_NE(record, nullptr);
    const StrInfo movie = streamInfo(StrVideo, 100, 50, 2000, 102400);
    const StrInfo sound = streamInfo(StrAudio, 200, 30, 1500, 61440);
    const StrInfo other = streamInfo(StrVideo, 300, 10, 500, 20480);
    EXPECT_EQ(PlbSetStreamCDAZ(record.get(), "Opening", &movie, "DISCMOVIE.PSR", 142, "movie author",
                               "movie.example"),
              1);
    EXPECT_EQ(PlbSetStreamCDAZ(record.get(), nullptr, &sound, "DISCVOICE.PSR", 113, "voice author", ""), 1);
    EXPECT_EQ(PlbSetStreamCDAZ(record.get(), "", &other, "GONE.PSR", 100, "gone author", ""), 1);
    EXPECT_EQ(PlbSetCDAZAnaSector(record.get(), -1), 1);
    return record;
}

void save(const Record& record, const fs::path& folder, const std::string& name = kName)
{
    ASSERT_EQ(PlbSaveCDAZ(folder.c_str(), name.c_str(), record.get()), 1) << folder / name;
}

Record load(const fs::path& path)
{
    int32_t status = 0;
    const PlbCdazLoad loaded = PlbLoadCDAZ(path.parent_path().c_str(), path.filename().c_str(), &status);
    EXPECT_NE(loaded.record, nullptr) << path << " status " << std::hex << status;
    return Record(loaded.record);
}

std::string streamName(CdazRecord* record, int32_t index, int32_t* flags = nullptr, int32_t* plugin = nullptr)
{
    char name[PLB_CDAZ_STREAM_NAME_BYTES] = {};
    EXPECT_EQ(PlbGetCDAZStream(record, index, nullptr, name, flags, plugin), 1);
    return name;
}

std::string pluginFile(CdazRecord* record, int32_t index)
{
    char file[PLB_CDAZ_PLUGIN_FILE_BYTES] = {};
    EXPECT_EQ(PlbGetCDAZPlugin(record, index, file, nullptr, nullptr, nullptr, nullptr) & 1, 1);
    return file;
}

uint32_t le32(const std::string& bytes, size_t offset)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | uint8_t(bytes[offset + size_t(i)]);
    return value;
}

class CdazCommandTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        for (const char* file : {"Discmovie.psr", "Discvoice.psr"})
            if (!fs::exists(outDir() / "PsrPlugins" / file))
                GTEST_SKIP() << file << " is not built";
        fs::create_directory(analyze());
    }

    RunResult cdaz(std::vector<std::string> args) const
    {
        args.insert(args.begin(), "cdaz");
        return runCli(args, {"TAMRIN_HOME=" + m_home.path().string()});
    }

    json cdazJson(std::vector<std::string> args) const
    {
        args.push_back("--json");
        const RunResult result = cdaz(args);
        EXPECT_EQ(result.status, kExitOk) << result.err;
        return parseJson(result);
    }

    fs::path analyze() const { return m_home.path() / "Analyze"; }

    TempFolder m_home;
    TempFolder m_other;
};

TEST_F(CdazCommandTest, ListShowsEveryFileWithTitleAndStreamCounts)
{
    EXPECT_EQ(cdazJson({"list"}), json::array());
    const RunResult empty = cdaz({"list"});
    EXPECT_EQ(empty.status, kExitOk);
    EXPECT_NE(empty.out.find("no CDAZ files in " + analyze().string()), std::string::npos) << empty.out;

    save(makeRecord(), analyze());
    Record bare(PlbAllocCDAZ("AAA1.cdaz", "Bare disc", "S", nullptr, 0, 0));
    save(bare, analyze(), "AAA1.cdaz");
    writeFile(analyze() / "notes.txt", "not a CDAZ file");

    const json list = cdazJson({"list"});
    ASSERT_EQ(list.size(), 2u) << list;
    EXPECT_EQ(list[0].at("file"), "AAA1.cdaz");
    EXPECT_EQ(list[0].at("title"), "Bare disc");
    EXPECT_EQ(list[0].at("streamCount"), 0);
    EXPECT_EQ(list[0].at("anaSector"), 0);
    EXPECT_EQ(list[1].at("file"), kName);
    EXPECT_EQ(list[1].at("title"), "Test disc");
    EXPECT_EQ(list[1].at("streamCount"), 3);
    EXPECT_EQ(list[1].at("pluginCount"), 3);
    EXPECT_EQ(list[1].at("anaSector"), -1);
    // The stream of the missing plugin has content, so it is not valid; it still counts as effective.
    EXPECT_EQ(list[1].at("effectiveStreams"), 3);
    EXPECT_EQ(list[1].at("validStreams"), 2);

    const RunResult text = cdaz({"list"});
    ASSERT_EQ(text.status, kExitOk) << text.err;
    EXPECT_NE(text.out.find(std::string(kName) + "  \"Test disc\"  3 streams (2 valid)"), std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("AAA1.cdaz  \"Bare disc\"  0 streams (0 valid), analysis incomplete"),
              std::string::npos)
        << text.out;
}

TEST_F(CdazCommandTest, ShowGivesTheHeaderPluginsAndStreams)
{
    save(makeRecord(), analyze());
    const json shown = cdazJson({"show", kName});
    EXPECT_EQ(shown.at("file"), (analyze() / kName).string());
    EXPECT_EQ(shown.at("name"), kName);
    EXPECT_EQ(shown.at("title"), "Test disc");
    EXPECT_EQ(shown.at("prefix"), "STR");
    EXPECT_EQ(shown.at("systemId"), "PLAYSTATION");
    EXPECT_EQ(shown.at("volumeId"), "TESTDISC");
    EXPECT_EQ(shown.at("publisherId"), "TAMRIN TESTS");
    EXPECT_EQ(shown.at("cdazFlags"), 0);
    EXPECT_EQ(shown.at("anaSector"), -1);
    EXPECT_EQ(shown.at("complete"), true);
    const std::string file = readFile(analyze() / kName);
    ASSERT_GE(file.size(), 48u);
    EXPECT_EQ(shown.at("version"), uint8_t(file[0]));
    EXPECT_EQ(shown.at("analyzeVersion"), le32(file, 32));
    EXPECT_NE(shown.at("analyzeVersion"), 0);
    EXPECT_EQ(shown.at("loadStatus"), PLB_CDAZ_LOAD_NO_PLUGIN);
    EXPECT_EQ(shown.at("loadStatusWords"), "noPlugin");
    EXPECT_EQ(shown.at("streamCount"), 3);
    EXPECT_EQ(shown.at("pluginCount"), 3);

    const json& plugins = shown.at("plugins");
    ASSERT_EQ(plugins.size(), 3u);
    EXPECT_EQ(plugins[0].at("number"), 1);
    EXPECT_EQ(plugins[0].at("fileName"), "DISCMOVIE.PSR");
    EXPECT_EQ(plugins[0].at("version"), 142);
    EXPECT_EQ(plugins[0].at("author"), "movie author");
    EXPECT_EQ(plugins[0].at("address"), "movie.example");
    EXPECT_EQ(plugins[0].at("installed"), true);
    EXPECT_FALSE(plugins[0].at("name").get<std::string>().empty());
    EXPECT_EQ(plugins[0].at("pluginFlags"), 0);
    EXPECT_EQ(plugins[0].at("pluginFlagWords"), "none");
    EXPECT_EQ(plugins[1].at("fileName"), "DISCVOICE.PSR");
    EXPECT_EQ(plugins[2].at("fileName"), "GONE.PSR");
    EXPECT_EQ(plugins[2].at("installed"), false);
    EXPECT_EQ(plugins[2].at("name"), "");

    const json& streams = shown.at("streams");
    ASSERT_EQ(streams.size(), 3u);
    EXPECT_EQ(streams[0].at("number"), 1);
    EXPECT_EQ(streams[0].at("kindWords"), "video");
    EXPECT_EQ(streams[0].at("startSector"), 100);
    EXPECT_EQ(streams[0].at("sectorCount"), 50);
    EXPECT_EQ(streams[0].at("durationMs"), 2000);
    EXPECT_EQ(streams[0].at("dataBytes"), 102400);
    EXPECT_EQ(streams[0].at("streamFlags"), 0);
    EXPECT_EQ(streams[0].at("streamFlagWords"), "none");
    EXPECT_EQ(streams[0].at("plugin"), 1);
    EXPECT_EQ(streams[0].at("pluginFile"), "DISCMOVIE.PSR");
    EXPECT_EQ(streams[0].at("name"), "Opening");
    EXPECT_EQ(streams[0].at("defaultTitle"), false);
    EXPECT_EQ(streams[0].at("info").at("width"), 320);
    EXPECT_EQ(streams[1].at("kindWords"), "audio");
    EXPECT_EQ(streams[1].at("pluginFile"), "DISCVOICE.PSR");
    EXPECT_EQ(streams[1].at("name"), "STR0002");
    EXPECT_EQ(streams[1].at("defaultTitle"), true);
    EXPECT_EQ(streams[2].at("plugin"), 3);
    EXPECT_EQ(streams[2].at("streamFlags"), PLB_CDAZ_STREAM_NO_PLUGIN);
    EXPECT_EQ(streams[2].at("streamFlagWords"), "noPlugin");
    EXPECT_EQ(streams[2].at("name"), "STR0003");

    // The same by name without its extension, and by a path outside the analyze folder.
    EXPECT_EQ(cdazJson({"show", "TESTDISC3001000"}), shown);
    save(makeRecord(), m_other.path(), "elsewhere.cdaz");
    const json other = cdazJson({"show", (m_other.path() / "elsewhere.cdaz").string()});
    EXPECT_EQ(other.at("streams"), shown.at("streams"));
    EXPECT_EQ(other.at("loadStatusWords"), "noPlugin, otherFolder");

    const RunResult text = cdaz({"show", kName});
    ASSERT_EQ(text.status, kExitOk) << text.err;
    for (const char* expected : {"\"Test disc\"", "PLAYSTATION", "TAMRIN TESTS", "-1 (analysed to the end)",
                                 "3 (3 effective, 2 valid)", "DISCMOVIE.PSR", "(not installed)", "Opening",
                                 "STR0002 (default title)", "noPlugin", "0:02.000", "movie author"})
        EXPECT_NE(text.out.find(expected), std::string::npos) << expected << "\n" << text.out;
}

TEST_F(CdazCommandTest, EditChangesTextsNamesAndHiddenStreams)
{
    save(makeRecord(), analyze());
    const fs::path path = analyze() / kName;
    const RunResult edited = cdaz({"edit", kName, "--title", "New title", "--prefix", "MOV", "--stream", "2",
                                   "--name", "Theme", "--stream", "1", "--name", "", "--hide", "3"});
    ASSERT_EQ(edited.status, kExitOk) << edited.err;
    EXPECT_NE(edited.out.find(path.string() + ": saved"), std::string::npos) << edited.out;
    {
        const Record record = load(path);
        ASSERT_NE(record, nullptr);
        char title[PLB_CDAZ_TITLE_BYTES], prefix[PLB_CDAZ_PREFIX_BYTES];
        int32_t anaSector = 0;
        EXPECT_EQ(PlbGetCDAZInfo(record.get(), nullptr, title, prefix, nullptr, &anaSector), 3);
        EXPECT_STREQ(title, "New title");
        EXPECT_STREQ(prefix, "MOV");
        EXPECT_EQ(anaSector, -1);
        int32_t flags = 0;
        EXPECT_EQ(streamName(record.get(), 0, &flags), "MOV0001");
        EXPECT_EQ(flags & PLB_CDAZ_STREAM_USER_HIDDEN, 0);
        EXPECT_EQ(streamName(record.get(), 1, &flags), "Theme");
        EXPECT_EQ(flags & PLB_CDAZ_STREAM_USER_HIDDEN, 0);
        streamName(record.get(), 2, &flags);
        EXPECT_EQ(flags & PLB_CDAZ_STREAM_USER_HIDDEN, PLB_CDAZ_STREAM_USER_HIDDEN);
    }
    ASSERT_EQ(cdaz({"edit", path.string(), "--show", "3", "--hide", "1"}).status, kExitOk);
    {
        const Record record = load(path);
        ASSERT_NE(record, nullptr);
        int32_t flags = 0;
        streamName(record.get(), 0, &flags);
        EXPECT_EQ(flags & PLB_CDAZ_STREAM_USER_HIDDEN, PLB_CDAZ_STREAM_USER_HIDDEN);
        streamName(record.get(), 2, &flags);
        EXPECT_EQ(flags & PLB_CDAZ_STREAM_USER_HIDDEN, 0);
    }
    const json shown = cdazJson({"show", kName});
    EXPECT_EQ(shown.at("streams")[0].at("streamFlagWords"), "userHidden");
    EXPECT_EQ(shown.at("effectiveStreams"), 2);
}

TEST_F(CdazCommandTest, EditSwitchesAndOrdersPlugins)
{
    save(makeRecord(), analyze());
    const fs::path path = analyze() / kName;
    ASSERT_EQ(cdaz({"edit", kName, "--plugin-off", "discmovie.psr"}).status, kExitOk);
    {
        const Record record = load(path);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(PlbSetCDAZPluginFlags(record.get(), 0, 0, 0), PLB_CDAZ_PLUGIN_OFF);
        EXPECT_EQ(PlbSetCDAZPluginFlags(record.get(), 1, 0, 0), 0);
        int32_t flags = 0;
        streamName(record.get(), 0, &flags);
        EXPECT_EQ(flags & PLB_CDAZ_STREAM_HIDDEN, PLB_CDAZ_STREAM_HIDDEN)
            << "the streams of a plugin off are hidden";
    }
    EXPECT_EQ(cdazJson({"show", kName}).at("plugins")[0].at("pluginFlagWords"), "off");

    ASSERT_EQ(cdaz({"edit", kName, "--plugin-on", "1", "--plugin-order", "gone.psr,2"}).status, kExitOk);
    {
        const Record record = load(path);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(pluginFile(record.get(), 0), "GONE.PSR");
        EXPECT_EQ(pluginFile(record.get(), 1), "DISCVOICE.PSR");
        EXPECT_EQ(pluginFile(record.get(), 2), "DISCMOVIE.PSR");
        EXPECT_EQ(PlbSetCDAZPluginFlags(record.get(), 2, 0, 0), 0);
        // Each stream still names the plugin that found it.
        int32_t plugin = -1;
        EXPECT_EQ(streamName(record.get(), 0, nullptr, &plugin), "Opening");
        EXPECT_EQ(plugin, 2);
        streamName(record.get(), 1, nullptr, &plugin);
        EXPECT_EQ(plugin, 1);
        streamName(record.get(), 2, nullptr, &plugin);
        EXPECT_EQ(plugin, 0);
    }
    const json shown = cdazJson({"show", kName});
    EXPECT_EQ(shown.at("streams")[0].at("pluginFile"), "DISCMOVIE.PSR");
    EXPECT_EQ(shown.at("streams")[0].at("plugin"), 3);
}

TEST_F(CdazCommandTest, BadEditsAreRefusedAndLeaveTheFile)
{
    save(makeRecord(), analyze());
    const fs::path path = analyze() / kName;
    const std::string before = readFile(path);
    const std::vector<std::vector<std::string>> usage{
        {},
        {"--stream", "1"},
        {"--name", "x"},
        {"--stream", "4", "--name", "x"},
        {"--hide", "4"},
        {"--hide", "2", "--show", "2"},
        {"--plugin-off", "nosuch.psr"},
        {"--plugin-on", "4"},
        {"--plugin-off", "1", "--plugin-on", "discmovie.psr"},
        {"--plugin-order", "gone.psr,nosuch.psr"},
        {"--plugin-order", "gone.psr,3"},
        {"--title", std::string(PLB_CDAZ_TITLE_BYTES, 't')},
        {"--prefix", std::string(PLB_CDAZ_PREFIX_BYTES, 'p')},
        {"--title", "ok", "--hide", "9"},
    };
    for (const auto& options : usage) {
        std::vector<std::string> args{"edit", kName};
        args.insert(args.end(), options.begin(), options.end());
        const RunResult result = cdaz(args);
        EXPECT_EQ(result.status, kExitUsage) << testing::PrintToString(options) << "\n" << result.err;
        EXPECT_NE(result.err.find("tamrin-cli: cdaz edit"), std::string::npos) << result.err;
        EXPECT_EQ(readFile(path), before) << testing::PrintToString(options);
    }
    EXPECT_EQ(cdaz({"edit", kName, "--hide", "0"}).status, kExitUsage);
    EXPECT_EQ(readFile(path), before);
    const RunResult missing = cdaz({"edit", "nosuch", "--title", "x"});
    EXPECT_EQ(missing.status, kExitFailure);
    EXPECT_NE(missing.err.find("no such CDAZ file"), std::string::npos) << missing.err;
    EXPECT_FALSE(fs::exists(analyze() / "nosuch.cdaz"));
}

TEST_F(CdazCommandTest, CopyWritesTheSameRecordAndRefusesToOverwrite)
{
    save(makeRecord(), analyze());
    const json original = cdazJson({"show", kName});

    const RunResult intoFolder = cdaz({"copy", kName, m_other.path().string()});
    ASSERT_EQ(intoFolder.status, kExitOk) << intoFolder.err;
    const fs::path copied = m_other.path() / kName;
    EXPECT_NE(intoFolder.out.find(copied.string() + ": saved"), std::string::npos) << intoFolder.out;
    json copy = cdazJson({"show", copied.string()});
    EXPECT_EQ(copy.at("streams"), original.at("streams"));
    EXPECT_EQ(copy.at("plugins"), original.at("plugins"));
    for (const char* key :
         {"name", "title", "prefix", "systemId", "volumeId", "publisherId", "anaSector", "analyzeVersion"})
        EXPECT_EQ(copy.at(key), original.at(key)) << key;

    // To a file name in a folder that does not exist yet.
    const fs::path named = m_other.path() / "sub" / "named.cdaz";
    ASSERT_EQ(cdaz({"copy", (analyze() / kName).string(), named.string()}).status, kExitOk);
    EXPECT_EQ(cdazJson({"show", named.string()}).at("streams"), original.at("streams"));

    // An existing file is kept unless --force is given.
    save(makeRecord("Other disc"), m_other.path(), "older.cdaz");
    const std::string older = readFile(m_other.path() / "older.cdaz");
    const RunResult refused = cdaz({"copy", kName, (m_other.path() / "older.cdaz").string()});
    EXPECT_EQ(refused.status, kExitFailure);
    EXPECT_NE(refused.err.find("--force"), std::string::npos) << refused.err;
    EXPECT_EQ(readFile(m_other.path() / "older.cdaz"), older);
    ASSERT_EQ(cdaz({"copy", kName, (m_other.path() / "older.cdaz").string(), "--force"}).status, kExitOk);
    EXPECT_EQ(cdazJson({"show", (m_other.path() / "older.cdaz").string()}).at("title"), "Test disc");

    // Onto itself, even with --force, and from a missing file.
    const std::string self = readFile(analyze() / kName);
    EXPECT_EQ(cdaz({"copy", kName, analyze().string(), "--force"}).status, kExitFailure);
    EXPECT_EQ(readFile(analyze() / kName), self);
    const RunResult missing = cdaz({"copy", "nosuch.cdaz", m_other.path().string()});
    EXPECT_EQ(missing.status, kExitFailure);
    EXPECT_NE(missing.err.find("no such CDAZ file"), std::string::npos) << missing.err;
    EXPECT_FALSE(fs::exists(m_other.path() / "nosuch.cdaz"));
}

TEST_F(CdazCommandTest, DeleteRemovesOnlyCdazFiles)
{
    save(makeRecord(), analyze());
    save(makeRecord(), m_other.path(), "kept.cdaz");
    const RunResult deleted = cdaz({"delete", "TESTDISC3001000"});
    ASSERT_EQ(deleted.status, kExitOk) << deleted.err;
    EXPECT_FALSE(fs::exists(analyze() / kName));
    EXPECT_TRUE(fs::exists(m_other.path() / "kept.cdaz"));
    EXPECT_EQ(cdazJson({"list"}), json::array());

    const RunResult again = cdaz({"delete", kName});
    EXPECT_EQ(again.status, kExitFailure);
    EXPECT_NE(again.err.find("no such CDAZ file"), std::string::npos) << again.err;

    const fs::path text = m_other.path() / "notes.txt";
    writeFile(text, "keep me");
    const RunResult refused = cdaz({"delete", text.string()});
    EXPECT_EQ(refused.status, kExitFailure);
    EXPECT_NE(refused.err.find("nothing deleted"), std::string::npos) << refused.err;
    EXPECT_EQ(readFile(text), "keep me");
    EXPECT_EQ(cdaz({"delete", m_other.path().string()}).status, kExitFailure);
    EXPECT_TRUE(fs::is_directory(m_other.path()));

    ASSERT_EQ(cdaz({"delete", (m_other.path() / "kept.cdaz").string()}).status, kExitOk);
    EXPECT_FALSE(fs::exists(m_other.path() / "kept.cdaz"));
}

TEST_F(CdazCommandTest, WrongCommandLinesAreUsageErrors)
{
    save(makeRecord(), analyze());
    const std::string before = readFile(analyze() / kName);
    const std::vector<std::vector<std::string>> wrong{
        {},
        {"bogus"},
        {"show"},
        {"show", kName, "extra"},
        {"list", "--bogus"},
        {"edit"},
        {"edit", kName, "--hide"},
        {"edit", kName, "--stream", "x", "--name", "y"},
        {"copy", kName},
        {"delete"},
        {"delete", kName, "--force"},
    };
    for (const auto& args : wrong) {
        const RunResult result = cdaz(args);
        EXPECT_EQ(result.status, kExitUsage) << testing::PrintToString(args) << "\n" << result.err;
        EXPECT_FALSE(result.err.empty()) << testing::PrintToString(args);
    }
    EXPECT_EQ(readFile(analyze() / kName), before);
}

TEST_F(CdazCommandTest, DamagedFilesAreReportedAndLeftAlone)
{
    save(makeRecord(), analyze());
    const std::string good = readFile(analyze() / kName);
    std::string unknownVersion = good;
    unknownVersion[0] = 9;
    std::string corrupt = good;
    // Strings announced beyond the end of the file.
    corrupt[44] = char(0xFF);
    corrupt[45] = char(0xFF);
    const std::vector<std::pair<std::string, std::string>> damaged{
        {"short.cdaz", good.substr(0, 20)},
        {"corrupt.cdaz", corrupt},
        {"version.cdaz", unknownVersion},
        {"empty.cdaz", ""},
    };
    for (const auto& [name, bytes] : damaged) {
        writeFile(analyze() / name, bytes);
        for (const std::vector<std::string>& args :
             std::vector<std::vector<std::string>>{{"show", name},
                                                   {"show", name, "--json"},
                                                   {"edit", name, "--title", "x"},
                                                   {"copy", name, m_other.path().string()}}) {
            const RunResult result = cdaz(args);
            EXPECT_EQ(result.status, kExitFailure) << name << " " << args[0] << "\n"
                                                   << result.out << result.err;
            EXPECT_NE(result.err.find("tamrin-cli: cdaz " + args[0] + ": " + (analyze() / name).string()),
                      std::string::npos)
                << result.err;
            EXPECT_TRUE(result.out.empty()) << result.out;
        }
        EXPECT_EQ(readFile(analyze() / name), bytes) << name;
        EXPECT_FALSE(fs::exists(m_other.path() / name)) << name;
    }
    EXPECT_NE(cdaz({"show", "corrupt.cdaz"}).err.find("damaged CDAZ file"), std::string::npos);
    EXPECT_NE(cdaz({"show", "version.cdaz"}).err.find("known format version"), std::string::npos);

    // The listing reports them and still lists the good file.
    const RunResult list = cdaz({"list", "--json"});
    EXPECT_EQ(list.status, kExitFailure);
    const json listed = parseJson(list);
    ASSERT_EQ(listed.size(), damaged.size() + 1) << listed;
    size_t goodEntries = 0;
    for (const json& entry : listed) {
        goodEntries += entry.contains("title");
        if (entry.at("file") == "version.cdaz") {
            EXPECT_EQ(entry.at("error"), "not a CDAZ file of a known format version");
        }
        if (entry.at("file") == "corrupt.cdaz") {
            EXPECT_NE(entry.at("error").get<std::string>().find("damaged"), std::string::npos);
        }
    }
    EXPECT_EQ(goodEntries, 1u) << listed;

    // A damaged file can still be deleted.
    EXPECT_EQ(cdaz({"delete", "corrupt"}).status, kExitOk);
    EXPECT_FALSE(fs::exists(analyze() / "corrupt.cdaz"));
}

} // namespace
} // namespace clitest
