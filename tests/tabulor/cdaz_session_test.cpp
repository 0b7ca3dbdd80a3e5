// The editor's session on the sample disc's CDAZ: every edit saved and read back by tamrin-cli,
// the opening rules of the two modes, take-in, delete and the failures that must change nothing.
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "session_fixture.h"
#include "session_texts.h"

namespace tabulortest {
namespace {

using tabulor::Asker;
using tabulor::CdazSession;
using tabulor::Mode;

const json* streamAt(const json& cdaz, uint32_t start, uint16_t kind)
{
    for (const json& stream : cdaz["streams"])
        if (stream["startSector"] == start && stream["kind"] == kind)
            return &stream;
    return nullptr;
}

int indexOf(const std::vector<tabulor::StreamRow>& rows, uint32_t start, uint16_t kind)
{
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].info.startSector == start && rows[i].info.kind == kind)
            return int(i);
    return -1;
}

std::vector<std::string> pluginFiles(const json& cdaz)
{
    std::vector<std::string> files;
    for (const json& plugin : cdaz["plugins"])
        files.push_back(plugin["fileName"].get<std::string>());
    return files;
}

TEST_F(SessionOnDisc, EveryEditIsSavedAndReadsBackExactly)
{
    CdazSession session(m_asker);
    ASSERT_EQ(session.openAnalyzeFolder(), 1);
    EXPECT_EQ(session.mode(), Mode::System);
    EXPECT_FALSE(session.modified(0));

    const std::vector<tabulor::StreamRow> rows = session.streams(0);
    const int opening = indexOf(rows, 25, StrVideo | StrAudio);
    const int third = indexOf(rows, 925, StrVideo | StrAudio);
    ASSERT_GE(opening, 0);
    ASSERT_GE(third, 0);
    EXPECT_TRUE(session.setTitle(0, "Edited disc"));
    EXPECT_TRUE(session.setPrefix(0, "EDT"));
    EXPECT_TRUE(session.renameStream(0, opening, "Opening movie"));
    EXPECT_FALSE(session.setHidden(0, {third}, true).empty());
    EXPECT_TRUE(session.setPluginOff(0, 1, true)); // DISCVOICE.PSR
    EXPECT_TRUE(session.movePlugin(0, 2, 0));      // TRACKAUDIO.PSR first
    EXPECT_TRUE(session.modified(0));
    EXPECT_NE(session.selectorText(0).find("Edited disc *"), std::string::npos) << session.selectorText(0);
    ASSERT_TRUE(session.save(0));
    EXPECT_FALSE(session.modified(0));
    EXPECT_TRUE(m_asker.told.empty());

    const json cdaz = show(analyze() / kDiscCdaz);
    EXPECT_EQ(cdaz["title"], "Edited disc");
    EXPECT_EQ(cdaz["prefix"], "EDT");
    EXPECT_EQ(pluginFiles(cdaz),
              (std::vector<std::string>{"TRACKAUDIO.PSR", "DISCMOVIE.PSR", "DISCVOICE.PSR"}));
    for (const json& plugin : cdaz["plugins"])
        EXPECT_EQ(plugin["pluginFlags"], plugin["fileName"] == "DISCVOICE.PSR" ? 1 : 0) << plugin["fileName"];
    const json* renamed = streamAt(cdaz, 25, StrVideo | StrAudio);
    const json* hidden = streamAt(cdaz, 925, StrVideo | StrAudio);
    ASSERT_TRUE(renamed && hidden);
    EXPECT_EQ((*renamed)["name"], "Opening movie");
    EXPECT_EQ((*renamed)["defaultTitle"], false);
    EXPECT_EQ((*renamed)["streamFlags"].get<int>() & PLB_CDAZ_STREAM_USER_HIDDEN, 0);
    EXPECT_EQ((*hidden)["streamFlags"].get<int>() & PLB_CDAZ_STREAM_USER_HIDDEN, PLB_CDAZ_STREAM_USER_HIDDEN);
    // The other streams take the new prefix in their default titles.
    const json* other = streamAt(cdaz, 475, StrVideo | StrAudio);
    ASSERT_TRUE(other);
    EXPECT_EQ((*other)["defaultTitle"], true);
    EXPECT_EQ((*other)["name"].get<std::string>().rfind("EDT", 0), 0u) << (*other)["name"];

    // What the session lists is what the file holds, row by row.
    const std::vector<tabulor::StreamRow> after = session.streams(0);
    ASSERT_EQ(after.size(), cdaz["streams"].size());
    for (size_t i = 0; i < after.size(); ++i) {
        const json& stream = cdaz["streams"][i];
        EXPECT_EQ(after[i].title, stream["name"]) << i;
        EXPECT_EQ(after[i].flags, stream["streamFlags"]) << i;
        EXPECT_EQ(after[i].info.startSector, stream["startSector"]) << i;
    }
}

TEST_F(SessionOnDisc, EditsRefusedBeyondTheirLimitsOrUnchanged)
{
    CdazSession session(m_asker);
    ASSERT_GE(session.open(kDiscCdaz), 0);
    ASSERT_FALSE(session.modified(0));
    const std::string title = session.title(0), prefix = session.prefix(0);
    const std::string streamTitle = session.streams(0)[0].title;
    struct Case
    {
        const char* what;
        bool (*edit)(CdazSession&, const std::string&);
        std::string text;
        bool accepted;
    };
    const auto setTitle = [](CdazSession& s, const std::string& t) { return s.setTitle(0, t); };
    const auto setPrefix = [](CdazSession& s, const std::string& t) { return s.setPrefix(0, t); };
    const auto rename = [](CdazSession& s, const std::string& t) { return s.renameStream(0, 0, t); };
    const Case cases[] = {
        {"title unchanged", setTitle, title, false},
        {"title of 65", setTitle, std::string(65, 't'), false},
        {"title with a zero", setTitle, std::string("a\0b", 3), false},
        {"prefix unchanged", setPrefix, prefix, false},
        {"prefix of 17", setPrefix, std::string(17, 'p'), false},
        {"stream title unchanged", rename, streamTitle, false},
        {"stream title of 49", rename, std::string(49, 's'), false},
        {"title of 64", setTitle, std::string(64, 't'), true},
        {"prefix of 16", setPrefix, std::string(16, 'p'), true},
        {"stream title of 48", rename, std::string(48, 's'), true},
    };
    for (const Case& c : cases) {
        const bool wasModified = session.modified(0);
        EXPECT_EQ(c.edit(session, c.text), c.accepted) << c.what;
        EXPECT_EQ(session.modified(0), wasModified || c.accepted) << c.what;
    }
    EXPECT_EQ(session.title(0), std::string(64, 't'));
    EXPECT_EQ(session.prefix(0), std::string(16, 'p'));
    EXPECT_EQ(session.streams(0)[0].title, std::string(48, 's'));
    // Out of range indices change nothing.
    EXPECT_FALSE(session.renameStream(0, 999, "x"));
    EXPECT_FALSE(session.setPluginOff(0, 99, true));
    EXPECT_FALSE(session.movePlugin(0, 0, 99));
    EXPECT_FALSE(session.movePlugin(0, 1, 1));
    EXPECT_FALSE(session.setTitle(5, "x"));
    EXPECT_TRUE(session.setHidden(0, {-1, 999}, true).empty());
}

TEST_F(SessionOnDisc, HidingAMovieRevealsTheSoundItCoveredAndReportsBothRows)
{
    CdazSession session(m_asker);
    ASSERT_GE(session.open(kDiscCdaz), 0);
    std::vector<tabulor::StreamRow> rows = session.streams(0);
    const int movie = indexOf(rows, 25, StrVideo | StrAudio);
    const int sound = indexOf(rows, 25, StrAudio);
    ASSERT_GE(movie, 0);
    ASSERT_GE(sound, 0);
    EXPECT_EQ(tabulor::statusText(rows[size_t(sound)].flags), "Duplication");

    const std::vector<int> changed = session.setHidden(0, {movie}, true);
    EXPECT_NE(std::find(changed.begin(), changed.end(), movie), changed.end());
    EXPECT_NE(std::find(changed.begin(), changed.end(), sound), changed.end());
    rows = session.streams(0);
    EXPECT_EQ(tabulor::listText(rows[size_t(movie)].flags), "Hidden");
    EXPECT_EQ(tabulor::statusText(rows[size_t(sound)].flags), "Normal");
    // Rows away from the movie are not reported.
    const int far = indexOf(rows, 2038, StrAudio);
    ASSERT_GE(far, 0);
    EXPECT_EQ(std::find(changed.begin(), changed.end(), far), changed.end());

    // Hiding it again changes nothing; showing it brings the duplication back.
    EXPECT_TRUE(session.setHidden(0, {movie}, true).empty());
    EXPECT_FALSE(session.setHidden(0, {movie}, false).empty());
    EXPECT_EQ(tabulor::statusText(session.streams(0)[size_t(sound)].flags), "Duplication");
}

TEST_F(SessionOnDisc, PluginRowsCountTheirStreamsAndShowTheInstalledVersions)
{
    CdazSession session(m_asker);
    ASSERT_GE(session.open(kDiscCdaz), 0);
    ASSERT_TRUE(session.setPluginOff(0, 2, true));
    ASSERT_TRUE(session.save(0));
    const std::vector<tabulor::PluginRow> rows = session.plugins(0);
    const json cdaz = show(analyze() / kDiscCdaz);
    const clitest::RunResult listed = clitest::runCli({"plugins", "--json"}, environment());
    ASSERT_EQ(listed.status, clitest::kExitOk);
    const json installed = clitest::parseJson(listed);
    ASSERT_EQ(rows.size(), cdaz["plugins"].size());
    for (size_t i = 0; i < rows.size(); ++i) {
        const json& plugin = cdaz["plugins"][i];
        EXPECT_EQ(rows[i].fileName, plugin["fileName"]);
        EXPECT_EQ(rows[i].name, plugin["name"]);
        EXPECT_EQ(rows[i].analysed, plugin["version"]);
        EXPECT_EQ(rows[i].off, i == 2);
        int streams = 0, clean = 0;
        for (const json& stream : cdaz["streams"])
            if (stream["plugin"] == i + 1) {
                ++streams;
                clean += stream["streamFlags"] == 0;
            }
        EXPECT_EQ(rows[i].streams, streams) << rows[i].fileName;
        EXPECT_EQ(rows[i].clean, clean) << rows[i].fileName;
        bool found = false;
        for (const json& plugin : installed)
            if (plugin["file"] == rows[i].fileName) {
                found = true;
                EXPECT_EQ(rows[i].current, plugin["version"]);
                EXPECT_EQ(rows[i].security, plugin["subVersion"]);
            }
        EXPECT_TRUE(found) << rows[i].fileName;
    }
    // The stream list names the installed plugin of each stream.
    for (const tabulor::StreamRow& row : session.streams(0))
        EXPECT_EQ(row.plugin, rows[size_t(row.pluginIndex)].name);
}

TEST_F(SessionOnDisc, ExteriorModeRefusesTheAnalyzeFoldersFiles)
{
    const fs::path outside = outsideCopy();
    CdazSession session(m_asker);
    ASSERT_EQ(session.open(outside.string()), 0);
    EXPECT_EQ(session.mode(), Mode::Exterior);
    EXPECT_EQ(session.path(0), outside.string());
    EXPECT_FALSE(session.modified(0));

    for (const std::string& name : {std::string(kDiscCdaz), (analyze() / kDiscCdaz).string()}) {
        m_asker.told.clear();
        EXPECT_EQ(session.open(name), -1) << name;
        ASSERT_EQ(m_asker.told.size(), 1u);
        EXPECT_NE(m_asker.told[0].find("Since it is the CDAZ file which a system manages"),
                  std::string::npos);
    }
    // The same file again under another spelling is the one already open.
    EXPECT_EQ(session.open((elsewhere() / "." / kDiscCdaz).string()), 0);
    EXPECT_EQ(session.count(), 1);
    EXPECT_EQ(session.mode(), Mode::Exterior);
}

TEST_F(SessionOnDisc, TakingInAsksBeforeOverwritingAndNoLeavesBothFiles)
{
    // The outside file: the same disc under a title of its own.
    const fs::path outside = elsewhere() / "other.cdaz";
    CdazSession session(m_asker);
    ASSERT_EQ(session.open(kDiscCdaz), 0);
    ASSERT_EQ(session.mode(), Mode::System);
    ASSERT_TRUE(session.setTitle(0, "Outside title"));
    ASSERT_TRUE(session.saveAs(0, outside.string()));
    ASSERT_TRUE(session.setTitle(0, "CORPUS_A"));
    ASSERT_TRUE(session.save(0));
    ASSERT_TRUE(m_asker.asked.empty());
    const std::string analyzeBefore = fileBytes(analyze() / kDiscCdaz);
    const std::string outsideBefore = fileBytes(outside);

    m_asker.answers = {Asker::Answer::No};
    EXPECT_EQ(session.open(outside.string()), -1);
    ASSERT_EQ(m_asker.asked.size(), 1u);
    EXPECT_EQ(m_asker.asked[0], tabulor::formatText(tabulor::englishTexts().sameCdrom, {kDiscCdaz}));
    EXPECT_EQ(fileBytes(analyze() / kDiscCdaz), analyzeBefore);
    EXPECT_EQ(fileBytes(outside), outsideBefore);
    EXPECT_EQ(session.count(), 1);

    // Yes replaces the open record with the outside one and stores it in the analyze folder.
    m_asker.answers = {Asker::Answer::Yes};
    EXPECT_EQ(session.open(outside.string()), 0);
    EXPECT_EQ(session.count(), 1);
    EXPECT_EQ(session.title(0), "Outside title");
    EXPECT_FALSE(session.modified(0));
    EXPECT_EQ(show(analyze() / kDiscCdaz)["title"], "Outside title");
    EXPECT_EQ(fileBytes(outside), outsideBefore);
    EXPECT_EQ(analyzeList(), std::vector<std::string>{kDiscCdaz});
}

TEST_F(SessionOnDisc, DeleteAsksThenTakeInStoresTheCdazUnderItsName)
{
    const fs::path outside = outsideCopy("copy of the disc.cdaz");
    CdazSession session(m_asker);
    ASSERT_EQ(session.open(kDiscCdaz), 0);

    m_asker.answers = {Asker::Answer::No};
    EXPECT_FALSE(session.remove(0));
    EXPECT_EQ(analyzeList(), std::vector<std::string>{kDiscCdaz});
    ASSERT_EQ(m_asker.asked.size(), 1u);
    EXPECT_EQ(m_asker.asked[0], std::string("May I delete a CDAZ file : ") + kDiscCdaz + "(CORPUS_A)?");

    m_asker.answers = {Asker::Answer::Yes};
    EXPECT_TRUE(session.remove(0));
    EXPECT_EQ(session.count(), 0);
    EXPECT_EQ(session.current(), -1);
    EXPECT_TRUE(analyzeList().empty());

    // Still in system mode: a file from elsewhere is taken in, with no question since the
    // analyze folder has none of its name, and stored there at once.
    EXPECT_EQ(session.open(outside.string()), 0);
    EXPECT_EQ(session.mode(), Mode::System);
    EXPECT_EQ(session.path(0), "");
    EXPECT_EQ(session.fileName(0), kDiscCdaz);
    EXPECT_FALSE(session.modified(0));
    EXPECT_EQ(analyzeList(), std::vector<std::string>{kDiscCdaz});
    EXPECT_TRUE(fs::exists(outside));

    // A file gone behind the session's back is not deleted, and the entry stays.
    fs::remove(analyze() / kDiscCdaz);
    m_asker.answers = {Asker::Answer::Yes};
    m_asker.told.clear();
    EXPECT_FALSE(session.remove(0));
    EXPECT_EQ(session.count(), 1);
    ASSERT_EQ(m_asker.told.size(), 1u);
    EXPECT_EQ(m_asker.told[0], std::string("CDAZ file '") + kDiscCdaz + "' has not been deleted.");
}

TEST_F(SessionOnDisc, DamagedCdazIsRefusedAndChangesNothing)
{
    const std::string whole = fileBytes(analyze() / kDiscCdaz);
    struct Damage
    {
        const char* name;
        std::string bytes;
    };
    const Damage damages[] = {
        {"empty.cdaz", ""},
        {"half.cdaz", whole.substr(0, whole.size() / 2)},
        {"header.cdaz", whole.substr(0, 16)},
        {"text.cdaz", "not a CDAZ file at all\n"},
        {"missing-tail.cdaz", whole.substr(0, whole.size() - 1)},
    };
    CdazSession session(m_asker);
    for (const Damage& damage : damages) {
        const fs::path path = elsewhere() / damage.name;
        clitest::writeFile(path, damage.bytes);
        m_asker.told.clear();
        EXPECT_EQ(session.open(path.string()), -1) << damage.name;
        ASSERT_EQ(m_asker.told.size(), 1u) << damage.name;
        EXPECT_EQ(m_asker.told[0], tabulor::formatText(tabulor::englishTexts().notOpened, {path.string()}));
        EXPECT_EQ(fileBytes(path), damage.bytes) << damage.name;
    }
    // A folder, and a name the analyze folder does not hold.
    for (const std::string& name : {elsewhere().string(), std::string("NOSUCHDISC.cdaz")}) {
        m_asker.told.clear();
        EXPECT_EQ(session.open(name), -1) << name;
        EXPECT_EQ(m_asker.told.size(), 1u) << name;
    }
    // In Japanese, the same refusal in the Japanese text.
    {
        Locale japanese("ja_JP.UTF-8");
        m_asker.told.clear();
        const std::string path = (elsewhere() / damages[1].name).string();
        EXPECT_EQ(session.open(path), -1);
        ASSERT_EQ(m_asker.told.size(), 1u);
        EXPECT_EQ(m_asker.told[0], tabulor::formatText(tabulor::japaneseTexts().notOpened, {path}));
    }
    EXPECT_EQ(session.count(), 0);
    EXPECT_EQ(session.mode(), Mode::Nothing);
    EXPECT_EQ(fileBytes(analyze() / kDiscCdaz), whole);
    EXPECT_EQ(analyzeList(), std::vector<std::string>{kDiscCdaz});
}

// A save the file-size limit stops: fails as a full or read-only disk does, also for root.
class FileSizeLimit
{
  public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_previous);
        rlimit limit = m_previous;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_previous);
        std::signal(SIGXFSZ, m_previousHandler);
    }

  private:
    rlimit m_previous{};
    void (*m_previousHandler)(int) = nullptr;
};

TEST_F(SessionOnDisc, FailedSaveKeepsTheEarlierFileAndTheEntryModified)
{
    const fs::path outside = outsideCopy();
    CdazSession session(m_asker);
    ASSERT_EQ(session.open(outside.string()), 0);
    const std::string before = fileBytes(outside);
    ASSERT_TRUE(session.setTitle(0, "Never written"));
    {
        FileSizeLimit limit(64);
        EXPECT_FALSE(session.save(0));
    }
    EXPECT_TRUE(session.modified(0));
    EXPECT_EQ(fileBytes(outside), before);
    ASSERT_EQ(m_asker.told.size(), 1u);
    const std::string expected = "CDAZ file Preservation of '" + outside.string() + "' went wrong.\n(";
    EXPECT_EQ(m_asker.told[0].rfind(expected, 0), 0u) << m_asker.told[0];
    EXPECT_GT(m_asker.told[0].size(), expected.size() + 1);
    EXPECT_EQ(std::distance(fs::directory_iterator(elsewhere()), fs::directory_iterator()), 1);

    // Below a file, where no folder can be: the same message.
    m_asker.told.clear();
    EXPECT_FALSE(session.saveAs(0, (outside / "copy").string()));
    ASSERT_EQ(m_asker.told.size(), 1u);
    EXPECT_NE(m_asker.told[0].find("went wrong."), std::string::npos);
    EXPECT_TRUE(session.modified(0));

    // A read-only folder (which root may write into anyway).
    if (::geteuid() != 0) {
        fs::permissions(elsewhere(), fs::perms::owner_write, fs::perm_options::remove);
        m_asker.told.clear();
        EXPECT_FALSE(session.save(0));
        fs::permissions(elsewhere(), fs::perms::owner_write, fs::perm_options::add);
        ASSERT_EQ(m_asker.told.size(), 1u);
        EXPECT_EQ(m_asker.told[0],
                  tabulor::formatText(tabulor::englishTexts().saveFailed, {outside.string()}) + "\n(" +
                      std::strerror(EACCES) + ")");
        EXPECT_EQ(fileBytes(outside), before);
        EXPECT_TRUE(session.modified(0));
    }

    // Closing asks; a save that fails again keeps the CDAZ open.
    {
        FileSizeLimit limit(64);
        m_asker.answers = {Asker::Answer::Yes};
        EXPECT_FALSE(session.close(0));
    }
    EXPECT_EQ(session.count(), 1);
    EXPECT_EQ(fileBytes(outside), before);
}

TEST_F(SessionOnDisc, FileThatCannotBeRewrittenOpensModifiedWithTheMessage)
{
    const fs::path outside = outsideCopy();
    const std::string before = fileBytes(outside);
    CdazSession session(m_asker);
    {
        FileSizeLimit limit(64);
        EXPECT_EQ(session.open(outside.string()), 0);
    }
    EXPECT_EQ(session.count(), 1);
    EXPECT_TRUE(session.modified(0));
    ASSERT_EQ(m_asker.told.size(), 1u);
    EXPECT_NE(m_asker.told[0].find("went wrong."), std::string::npos);
    EXPECT_EQ(fileBytes(outside), before);
    // Kept so that it can still be saved elsewhere.
    EXPECT_TRUE(session.saveAs(0, (elsewhere() / "elsewhere copy").string()));
    EXPECT_EQ(show(elsewhere() / "elsewhere copy.cdaz")["title"], "CORPUS_A");
}

TEST_F(SessionOnDisc, SaveAsAddsTheExtensionAndAsksBeforeOverwriting)
{
    CdazSession session(m_asker);
    ASSERT_EQ(session.open(kDiscCdaz), 0);
    ASSERT_TRUE(session.setTitle(0, "Copied"));

    // A bare name goes to the analyze folder.
    EXPECT_TRUE(session.saveAs(0, "MYCOPY"));
    EXPECT_TRUE(m_asker.asked.empty());
    EXPECT_EQ(analyzeList(), (std::vector<std::string>{kDiscCdaz, "MYCOPY.cdaz"}));
    EXPECT_EQ(show(analyze() / "MYCOPY.cdaz")["title"], "Copied");
    // There again: the analyze folder's question.
    m_asker.answers = {Asker::Answer::No};
    EXPECT_FALSE(session.saveAs(0, "MYCOPY.cdaz"));
    ASSERT_EQ(m_asker.asked.size(), 1u);
    EXPECT_NE(m_asker.asked[0].find("already in Analyze-fonlder"), std::string::npos);

    // A path: its own question when the file exists.
    const fs::path target = elsewhere() / "saved";
    EXPECT_TRUE(session.saveAs(0, target.string()));
    EXPECT_TRUE(fs::exists(target.string() + ".cdaz"));
    ASSERT_TRUE(session.setTitle(0, "Second"));
    m_asker.asked.clear();
    m_asker.answers = {Asker::Answer::No};
    EXPECT_FALSE(session.saveAs(0, target.string() + ".cdaz"));
    EXPECT_TRUE(session.modified(0));
    EXPECT_EQ(show(target.string() + ".cdaz")["title"], "Copied");
    m_asker.answers = {Asker::Answer::Yes};
    EXPECT_TRUE(session.saveAs(0, target.string() + ".cdaz"));
    ASSERT_EQ(m_asker.asked.size(), 2u);
    EXPECT_EQ(m_asker.asked[0],
              "The '" + target.string() + ".cdaz' file already exists.\nDo you want to overwrite it?");
    EXPECT_EQ(show(target.string() + ".cdaz")["title"], "Second");
    EXPECT_FALSE(session.modified(0));

    // A folder is no file name: refused without a question, nothing written into it.
    ASSERT_TRUE(session.setTitle(0, "Third"));
    m_asker.asked.clear();
    m_asker.told.clear();
    EXPECT_FALSE(session.saveAs(0, elsewhere().string() + "/"));
    EXPECT_TRUE(m_asker.asked.empty());
    EXPECT_EQ(m_asker.told.size(), 1u);
    EXPECT_EQ(std::distance(fs::directory_iterator(elsewhere()), fs::directory_iterator()), 1);
    EXPECT_TRUE(session.modified(0));
}

TEST_F(SessionOnDisc, ClosingAModifiedCdazAsksYesNoOrCancel)
{
    struct Case
    {
        Asker::Answer answer;
        bool closed;
        const char* titleAfter;
    };
    const Case cases[] = {
        {Asker::Answer::Cancel, false, "CORPUS_A"},
        {Asker::Answer::No, true, "CORPUS_A"},
        {Asker::Answer::Yes, true, "Closed with Yes"},
    };
    for (const Case& c : cases) {
        CdazSession session(m_asker);
        ASSERT_EQ(session.open(kDiscCdaz), 0);
        ASSERT_TRUE(session.setTitle(0, c.answer == Asker::Answer::Yes ? "Closed with Yes" : "Dropped"));
        m_asker.asked.clear();
        m_asker.answers = {c.answer};
        EXPECT_EQ(session.closeAll(), c.closed);
        EXPECT_EQ(session.count(), c.closed ? 0 : 1);
        ASSERT_EQ(m_asker.asked.size(), 1u);
        EXPECT_EQ(m_asker.asked[0],
                  std::string("CDAZ file '") + kDiscCdaz + "' is changed.\nAre the edited contents saved?");
        EXPECT_EQ(show(analyze() / kDiscCdaz)["title"], c.titleAfter);
        if (!c.closed) {
            m_asker.answers = {Asker::Answer::No};
            EXPECT_TRUE(session.close(0));
        }
    }
    // An unmodified CDAZ closes without a question.
    CdazSession session(m_asker);
    ASSERT_EQ(session.open(kDiscCdaz), 0);
    m_asker.asked.clear();
    EXPECT_TRUE(session.close(0));
    EXPECT_TRUE(m_asker.asked.empty());
}

TEST_F(SessionOnDisc, SeveralExteriorFilesStayApartAndCurrentFollowsCloses)
{
    const fs::path first = outsideCopy("first.cdaz");
    const fs::path second = outsideCopy("second.cdaz");
    CdazSession session(m_asker);
    ASSERT_EQ(session.open(first.string()), 0);
    ASSERT_EQ(session.open(second.string()), 1);
    EXPECT_EQ(session.current(), 1);
    ASSERT_TRUE(session.setTitle(0, "First only"));
    ASSERT_TRUE(session.saveAll());
    EXPECT_EQ(show(first)["title"], "First only");
    EXPECT_EQ(show(second)["title"], "CORPUS_A");
    EXPECT_EQ(session.selectorText(1), "CORPUS_A " + second.string());
    session.setCurrent(0);
    EXPECT_TRUE(session.close(0));
    EXPECT_EQ(session.current(), 0);
    EXPECT_EQ(session.path(0), second.string());
    // The analyze folder is not touched by files from elsewhere.
    EXPECT_EQ(analyzeList(), std::vector<std::string>{kDiscCdaz});
}

TEST_F(SessionOnDisc, TakenInCdazNamedOutsideTheAnalyzeFolderStaysInIt)
{
    // A CDAZ whose own name would lead out of the analyze folder.
    const fs::path crafted = elsewhere() / "crafted.cdaz";
    {
        CdVolumeInfo volume{};
        std::memcpy(volume.volumeId, "CRAFTED", 7);
        CdazRecord* record = PlbAllocCDAZ("../escaped.cdaz", "Crafted", "CR", &volume, 0, 0);
        ASSERT_NE(record, nullptr);
        StrInfo info{};
        info.kind = StrAudio;
        info.startSector = 100;
        info.sectorCount = 10;
        info.durationMs = 1000;
        EXPECT_EQ(PlbSetStreamCDAZ(record, "one", &info, "DISCVOICE.PSR", 113, "", ""), 1);
        EXPECT_EQ(PlbSaveCDAZ(elsewhere().c_str(), "crafted.cdaz", record), 1);
        PlbFreeCDAZ(record);
    }
    CdazSession session(m_asker);
    ASSERT_EQ(session.open(kDiscCdaz), 0);
    ASSERT_EQ(session.open(crafted.string()), 1);
    EXPECT_EQ(session.fileName(1), "crafted.cdaz");
    EXPECT_TRUE(session.saveToAnalyze(1));
    EXPECT_FALSE(fs::exists(m_home.path() / "escaped.cdaz"));
    EXPECT_EQ(analyzeList(), (std::vector<std::string>{kDiscCdaz, "crafted.cdaz"}));
    EXPECT_EQ(show(analyze() / "crafted.cdaz")["title"], "Crafted");
    EXPECT_TRUE(m_asker.told.empty());
}

TEST_F(SessionOnDisc, EmptyAnalyzeFolderLeavesTheModeToTheFirstFileOpened)
{
    const fs::path outside = outsideCopy();
    fs::remove(analyze() / kDiscCdaz);
    CdazSession session(m_asker);
    EXPECT_EQ(session.openAnalyzeFolder(), 0);
    EXPECT_EQ(session.mode(), Mode::Nothing);
    EXPECT_EQ(session.current(), -1);
    EXPECT_EQ(session.open(outside.string()), 0);
    EXPECT_EQ(session.mode(), Mode::Exterior);
    EXPECT_TRUE(analyzeList().empty());
}

} // namespace
} // namespace tabulortest
