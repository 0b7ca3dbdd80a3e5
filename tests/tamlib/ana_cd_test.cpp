// PlbAnalyzeCd on disc images built by the tests and on the corpus disc: the streams found
// equal those of the sector loop on its own, the plugin choice, the progress, stopping, plugins
// that leave a track early or cannot take its sectors, unreadable sectors with each answer, the
// lookup of a CDAZ in the local folder (both names, the three local modes), and the texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../cli/long_disc.h"
#include "analysis/progress_text.h"
#include "analysis_support.h"
#include "discport/discport.h"
#include "env/installed.h"
#include "installed_plugins.h"
#include "tamlib/analysis.h"
#include "tamlib/environment.h"
#include "tamlib/sector_loop.h"

namespace {

using namespace anatest;
namespace fs = std::filesystem;

constexpr char kRaw[] = "ANARAW.PSR";
constexpr char kUser[] = "ANAUSER.PSR";
constexpr char kBoth[] = "ANABOTH.PSR";
constexpr char kLeave[] = "ANALEAVE.PSR";
const std::vector<std::string> kProbes{kRaw, kUser, kBoth, kLeave};

bool byPlace(const StrInfo& a, const StrInfo& b)
{
    return std::memcmp(&a, &b, sizeof a) < 0;
}

std::vector<std::string> messageTexts(const tamlib::ScriptedPort& port)
{
    std::vector<std::string> texts;
    for (const tamlib::MessageRequest& message : port.messages())
        texts.push_back(message.text);
    return texts;
}

bool said(const tamlib::ScriptedPort& port, const std::string& text)
{
    const auto texts = messageTexts(port);
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

class AnalyzeCd : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_env.started());
        // The test program depends on the plugins: a missing one is a build fault, not a skip.
        ASSERT_TRUE(fs::exists(fs::path(TAMRIN_OUT_DIR) / "PsrPlugins" / "Discmovie.psr"));
        // The probe plugins take part only when a test picks them.
        for (const std::string& probe : kProbes)
            ASSERT_EQ(PlbSetPluginUse(probe.c_str(), 0), 1) << probe;
        PlbSetAnalyzeMode(0, 1, 1);
    }

    void mount(std::unique_ptr<discbuild::Image> image)
    {
        ASSERT_NE(image, nullptr);
        m_disc = std::make_unique<Disc>(std::move(image));
        ASSERT_GE(m_disc->drive(), 0) << CdImageError();
    }

    // The CD plugins the analysis offers by default: installed order, switched-on ones.
    static std::vector<const tamlib::InstalledPlugin*> defaultPlugins()
    {
        std::vector<const tamlib::InstalledPlugin*> plugins;
        for (const tamlib::InstalledPlugin& plugin : tamlib::installedPlugins())
            if ((plugin.caps & CapCd) && !plugin.noUse)
                plugins.push_back(&plugin);
        return plugins;
    }

    // The sector loop on its own over the same plugins.
    std::vector<StrInfo> loopStreams(const std::vector<const tamlib::InstalledPlugin*>& plugins)
    {
        std::vector<std::string> files;
        for (const tamlib::InstalledPlugin* plugin : plugins)
            files.push_back(tamlib::pluginBindName(plugin->file));
        std::atomic<bool> stop{false};
        const tamlib::scan::ScanResult result = tamlib::scan::scanDisc(m_disc->drive(), files, {}, stop);
        std::vector<StrInfo> streams;
        for (const tamlib::scan::PluginScan& plugin : result.plugins)
            streams.insert(streams.end(), plugin.streams.begin(), plugin.streams.end());
        return streams;
    }

    static std::string nameOf(CdazRecord* record)
    {
        char name[PLB_CDAZ_NAME_BYTES] = {};
        PlbGetCDAZInfo(record, name, nullptr, nullptr, nullptr, nullptr);
        return name;
    }

    Environment m_env;
    std::unique_ptr<Disc> m_disc;
};

TEST_F(AnalyzeCd, FindsTheStreamsOfTheSectorLoopInPluginOrderAndSavesTheRecord)
{
    mount(movieDisc("PLAYSTATION", "MOVIE_DISC"));
    RecordPtr record = own(PlbAnalyzeCd(nullptr));
    ASSERT_NE(record, nullptr) << testing::PrintToString(messageTexts(m_env.port()));

    const auto plugins = defaultPlugins();
    std::vector<StrInfo> expected = loopStreams(plugins);
    std::vector<StrInfo> found = recordStreams(record.get());
    ASSERT_FALSE(expected.empty());
    std::sort(expected.begin(), expected.end(), byPlace);
    std::sort(found.begin(), found.end(), byPlace);
    ASSERT_EQ(found.size(), expected.size());
    for (size_t i = 0; i < found.size(); ++i)
        EXPECT_TRUE(sameStream(found[i], expected[i])) << "stream " << i;

    // The plugin entries follow the analysis order: installed order of those that found streams.
    const std::vector<std::string> entries = recordPlugins(record.get());
    std::vector<std::string> order;
    for (const tamlib::InstalledPlugin* plugin : plugins)
        if (std::find(entries.begin(), entries.end(), plugin->file) != entries.end())
            order.push_back(plugin->file);
    EXPECT_EQ(entries, order);
    EXPECT_NE(std::find(entries.begin(), entries.end(), "DISCMOVIE.PSR"), entries.end());
    EXPECT_NE(std::find(entries.begin(), entries.end(), "TRACKAUDIO.PSR"), entries.end());

    // One plugin choice with every CD plugin, the switched-off probes unchecked.
    const auto choices = m_env.port().pluginChoices();
    ASSERT_EQ(choices.size(), 1u);
    EXPECT_EQ(choices[0].caption, "Start of CD-ROM analysis");
    for (const auto& row : choices[0].rows) {
        const bool probe = std::find(kProbes.begin(), kProbes.end(), row.file) != kProbes.end();
        EXPECT_EQ(row.checked, !probe) << row.file;
    }

    int32_t anaSector = 0;
    char title[PLB_CDAZ_TITLE_BYTES] = {};
    char prefix[PLB_CDAZ_PREFIX_BYTES] = {};
    PlbGetCDAZInfo(record.get(), nullptr, title, prefix, nullptr, &anaSector);
    EXPECT_EQ(anaSector, -1);
    EXPECT_STREQ(title, "MOVIE_DISC");
    EXPECT_STREQ(prefix, "STR");

    // The completion was shown with the count; the record was saved under its own name.
    const auto done = m_env.port().analysisDoneRequests();
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].message.substr(0, done[0].message.find('\n')),
              std::to_string(found.size()) + " stream was found.");
    EXPECT_EQ(m_env.cdazFiles(), std::vector<std::string>{nameOf(record.get())});
    PlbCdazLoad saved = PlbLoadCDAZ(nullptr, nameOf(record.get()).c_str(), nullptr);
    ASSERT_NE(saved.record, nullptr);
    EXPECT_EQ(recordStreams(saved.record).size(), found.size());
    PlbFreeCDAZ(saved.record);

    // The progress ended at the whole disc.
    const auto progress = m_env.port().progress();
    ASSERT_FALSE(progress.empty());
    const uint64_t total = m_disc->image()->bytes.size() / discbuild::kRaw;
    EXPECT_EQ(progress.back().done, progress.back().total);
    EXPECT_GE(progress.back().total, total - 150);
    EXPECT_EQ(progress.back().count, std::to_string(progress.back().total) + "/" +
                                         std::to_string(progress.back().total) + " : 100%");
}

TEST_F(AnalyzeCd, TitleAndPrefixFromTheCompletionAndNoTitleForAnEmptyVolume)
{
    mount(movieDisc("", ""));
    m_env.port().setAnalysisTexts("Edited title", "ED");
    RecordPtr record = own(PlbAnalyzeCd(nullptr));
    ASSERT_NE(record, nullptr);
    const auto done = m_env.port().analysisDoneRequests();
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].title, "No Title");
    EXPECT_EQ(done[0].prefix, "STR");
    char title[PLB_CDAZ_TITLE_BYTES] = {};
    char prefix[PLB_CDAZ_PREFIX_BYTES] = {};
    PlbGetCDAZInfo(record.get(), nullptr, title, prefix, nullptr, nullptr);
    EXPECT_STREQ(title, "Edited title");
    EXPECT_STREQ(prefix, "ED");
}

TEST_F(AnalyzeCd, PluginChoiceOrdersAndPicksAndCancelSavesNothing)
{
    mount(plainDisc(12));
    m_env.port().queuePlugins({kBoth, kRaw});
    RecordPtr record = own(PlbAnalyzeCd(nullptr));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(recordPlugins(record.get()), (std::vector<std::string>{kBoth, kRaw}));
    // 12 sectors and the closing call of the track, for each.
    EXPECT_EQ(recordStreams(record.get()).size(), 26u);

    fs::remove_all(m_env.analyzeFolder());
    m_env.port().clear();
    m_env.port().queuePluginCancel();
    EXPECT_EQ(PlbAnalyzeCd(nullptr), nullptr);
    EXPECT_TRUE(m_env.cdazFiles().empty());
    EXPECT_TRUE(m_env.port().progress().empty());
}

TEST_F(AnalyzeCd, StopKeepsTheStreamsAndTheStopPoint)
{
    mount(plainDisc(40));
    m_env.port().queuePlugins({kRaw});
    m_env.port().stopAfter(6); // asked after each sector: the seventh answer stops
    RecordPtr record = own(PlbAnalyzeCd(nullptr));
    ASSERT_NE(record, nullptr);
    int32_t anaSector = 0;
    PlbGetCDAZInfo(record.get(), nullptr, nullptr, nullptr, nullptr, &anaSector);
    EXPECT_EQ(anaSector, 7);
    // Seven sectors and the closing call.
    const auto streams = recordStreams(record.get());
    EXPECT_EQ(streams.size(), 8u);
    EXPECT_EQ(m_env.cdazFiles().size(), 1u);
    EXPECT_FALSE(said(m_env.port(), "Stream data has not been found from this CD-ROM."));
}

TEST_F(AnalyzeCd, StopBeforeAnyStreamSaysNothingAndSavesNothing)
{
    // Stopped after the first sector, before the movie plugin found anything.
    mount(plainDisc(20));
    m_env.port().queuePlugins({"DISCMOVIE.PSR"});
    m_env.port().stopAfter(0);
    EXPECT_EQ(PlbAnalyzeCd(nullptr), nullptr);
    EXPECT_FALSE(said(m_env.port(), "Stream data has not been found from this CD-ROM."));
    EXPECT_TRUE(m_env.cdazFiles().empty());
}

TEST_F(AnalyzeCd, NothingFoundIsReported)
{
    mount(plainDisc(20));
    m_env.port().queuePlugins({"DISCMOVIE.PSR"});
    EXPECT_EQ(PlbAnalyzeCd(nullptr), nullptr);
    EXPECT_TRUE(said(m_env.port(), "Stream data has not been found from this CD-ROM."));
    EXPECT_TRUE(m_env.cdazFiles().empty());
}

TEST_F(AnalyzeCd, PluginsDoneEarlySkipTheRestOfTheTrack)
{
    mount(plainDisc(50));
    m_env.port().queuePlugins({kLeave});
    RecordPtr record = own(PlbAnalyzeCd(nullptr));
    ASSERT_NE(record, nullptr);
    const auto streams = recordStreams(record.get());
    // Three sectors, then the closing call; the track counts as read.
    ASSERT_EQ(streams.size(), 4u);
    int32_t anaSector = 0;
    PlbGetCDAZInfo(record.get(), nullptr, nullptr, nullptr, nullptr, &anaSector);
    EXPECT_EQ(anaSector, -1);
    const auto progress = m_env.port().progress();
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back().done, progress.back().total);
    for (const auto& state : progress)
        EXPECT_TRUE(state.done <= 3 || state.done == state.total) << state.done;
}

TEST_F(AnalyzeCd, RawOnlyPluginsTakeNoPartOnAUserDataDisc)
{
    // A disc that reaches the 80-minute mark is read as 2048-byte user data.
    clitest::LongDisc longDisc;
    ASSERT_TRUE(longDisc.write(25));
    Disc disc(longDisc.cue);
    ASSERT_GE(disc.drive(), 0) << CdImageError();
    m_env.port().queuePlugins({kRaw});
    EXPECT_EQ(PlbAnalyzeCd(nullptr), nullptr);
    EXPECT_TRUE(said(m_env.port(), "Stream data has not been found from this CD-ROM."));

    m_env.port().clear();
    m_env.port().queuePlugins({kRaw, kUser});
    RecordPtr record = own(PlbAnalyzeCd(nullptr));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(recordPlugins(record.get()), std::vector<std::string>{kUser});
    EXPECT_EQ(recordStreams(record.get()).size(), 26u) << "25 sectors and the closing call";
}

TEST_F(AnalyzeCd, UnreadableTableOfContentsAsksRetryOrCancel)
{
    ASSERT_EQ(PlbSetCdDrive(-1), 1);
    m_env.port().queueAnswer(PLB_IDRETRY);
    EXPECT_EQ(PlbAnalyzeCd(nullptr), nullptr);
    const auto messages = m_env.port().messages();
    ASSERT_EQ(messages.size(), 2u) << "one retry, then the default Cancel";
    for (const auto& message : messages) {
        EXPECT_EQ(message.text, "Unable to read TOC from CD-ROM.\nThe drive may not be ready.");
        EXPECT_EQ(message.type & PLB_MB_BUTTONS, uint32_t(PLB_MB_RETRYCANCEL));
    }
}

// The last sectors of the data track cut off the file after mounting: they fail to read.
class UnreadableSectors : public AnalyzeCd
{
  protected:
    void SetUp() override
    {
        AnalyzeCd::SetUp();
        if (IsSkipped())
            return;
        mount(plainDisc(30));
        fs::resize_file(m_disc->image()->bin, uintmax_t(27) * discbuild::kRaw);
        m_env.port().queuePlugins({kRaw});
    }

    std::vector<tamlib::MessageRequest> questions() const
    {
        std::vector<tamlib::MessageRequest> asked;
        for (const auto& message : m_env.port().messages())
            if ((message.type & PLB_MB_BUTTONS) == PLB_MB_ABORTRETRYIGNORE)
                asked.push_back(message);
        return asked;
    }

    int32_t anaSector(CdazRecord* record) const
    {
        int32_t sector = 0;
        PlbGetCDAZInfo(record, nullptr, nullptr, nullptr, nullptr, &sector);
        return sector;
    }

    // The sectors offered to the probe (its closing call left out).
    static size_t sectorCalls(CdazRecord* record)
    {
        size_t calls = 0;
        for (const StrInfo& info : recordStreams(record))
            calls += info.reserved == 0;
        return calls;
    }
};

TEST_F(UnreadableSectors, AbortStopsAtTheSectorAfterTheLastRead)
{
    m_env.port().queueAnswer(PLB_IDABORT);
    RecordPtr record = own(PlbAnalyzeCd(nullptr));
    ASSERT_NE(record, nullptr);
    const auto asked = questions();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text, "The error occurred by reading of the 27th sector.");
    EXPECT_EQ(anaSector(record.get()), 27);
    EXPECT_EQ(sectorCalls(record.get()), 27u);
}

TEST_F(UnreadableSectors, RetryReadsTheSectorAgainAndIgnoreGoesOn)
{
    m_env.port().queueAnswer(PLB_IDRETRY);
    m_env.port().queueAnswer(PLB_IDRETRY);
    m_env.port().queueAnswer(PLB_IDIGNORE);
    RecordPtr record = own(PlbAnalyzeCd(nullptr));
    ASSERT_NE(record, nullptr);
    const auto asked = questions();
    ASSERT_EQ(asked.size(), 3u) << "twice again for the same sector, then not for the run after Ignore";
    for (const auto& question : asked)
        EXPECT_EQ(question.text, "The error occurred by reading of the 27th sector.");
    EXPECT_EQ(anaSector(record.get()), -1);
    EXPECT_EQ(sectorCalls(record.get()), 27u);
}

TEST_F(UnreadableSectors, IgnoreIsAskedOnceForARun)
{
    m_env.port().queueAnswer(PLB_IDIGNORE);
    RecordPtr record = own(PlbAnalyzeCd(nullptr));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(questions().size(), 1u);
    EXPECT_EQ(anaSector(record.get()), -1);
}

// The lookup of an earlier analysis in the local folder.
class LocalLookup : public AnalyzeCd
{
  protected:
    void SetUp() override
    {
        AnalyzeCd::SetUp();
        if (IsSkipped())
            return;
        mount(movieDisc("PLAYSTATION", "LOOKUP"));
        RecordPtr first = own(PlbAnalyzeCd(nullptr));
        ASSERT_NE(first, nullptr);
        m_name = nameOf(first.get());
        m_streams = recordStreams(first.get()).size();
        m_env.port().clear();
    }

    std::string m_name;
    size_t m_streams = 0;
};

TEST_F(LocalLookup, AdoptableRecordIsTakenWithoutAskingInMode1)
{
    PlbSetAnalyzeMode(1, 1, 1);
    RecordPtr record = own(PlbAnalyzeCd(nullptr));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(recordStreams(record.get()).size(), m_streams);
    EXPECT_TRUE(m_env.port().adoptRequests().empty());
    EXPECT_TRUE(m_env.port().pluginChoices().empty());
    EXPECT_TRUE(m_env.port().messages().empty());
}

TEST_F(LocalLookup, Mode0AsksAndEachAnswerIsFollowed)
{
    PlbSetAnalyzeMode(0, 1, 1);
    RecordPtr adopted = own(PlbAnalyzeCd(nullptr));
    ASSERT_NE(adopted, nullptr);
    auto requests = m_env.port().adoptRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].message, "The CDAZ file was found from the local disk.");
    EXPECT_EQ(requests[0].title, "LOOKUP");
    EXPECT_EQ(requests[0].state, "Analysis is completed.");
    EXPECT_EQ(requests[0].streams, int32_t(m_streams));
    EXPECT_TRUE(requests[0].adoptable);
    EXPECT_EQ(requests[0].defaultAnswer, tamlib::AdoptAnswer::Adopt);
    EXPECT_FALSE(requests[0].twoRecords);
    EXPECT_FALSE(requests[0].serverEnabled) << "the exchange is off";
    ASSERT_FALSE(requests[0].plugins.empty());
    for (const auto& plugin : requests[0].plugins) {
        EXPECT_EQ(plugin.status, "OK") << plugin.name;
        EXPECT_EQ(plugin.analysisVersion, plugin.installedVersion) << plugin.name;
    }
    EXPECT_TRUE(m_env.port().pluginChoices().empty());

    // "Analysis is performed": a new analysis with the old title as its default.
    m_env.port().clear();
    m_env.port().queueAdopt(tamlib::AdoptAnswer::Analyze);
    RecordPtr fresh = own(PlbAnalyzeCd(nullptr));
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(m_env.port().pluginChoices().size(), 1u);
    EXPECT_EQ(recordStreams(fresh.get()).size(), m_streams);

    // "server is searched" is not offered while the exchange is off: it counts as the default.
    m_env.port().clear();
    m_env.port().queueAdopt(tamlib::AdoptAnswer::Server);
    RecordPtr kept = own(PlbAnalyzeCd(nullptr));
    ASSERT_NE(kept, nullptr);
    EXPECT_TRUE(m_env.port().pluginChoices().empty());
    EXPECT_TRUE(m_env.port().messages().empty());
}

TEST_F(LocalLookup, Mode2WithoutServerKeepsTheLocalRecordSilently)
{
    PlbSetAnalyzeMode(2, 0, 0);
    RecordPtr record = own(PlbAnalyzeCd(nullptr));
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(m_env.port().messages().empty());
    EXPECT_TRUE(m_env.port().adoptRequests().empty());
    EXPECT_TRUE(m_env.port().pluginChoices().empty());
}

TEST_F(LocalLookup, RecordUnderTheSecondNameIsRenamed)
{
    CdTocEntry tracks[100] = {};
    const int32_t count = CdReadToc(m_disc->drive(), 100, tracks);
    ASSERT_GT(count, 0);
    char second[PLB_CDAZ_NAME_BYTES] = {};
    PlbMakeCDAZName(count, tracks, nullptr, second);
    ASSERT_NE(m_name, second);
    fs::rename(m_env.analyzeFolder() / m_name, m_env.analyzeFolder() / second);

    PlbSetAnalyzeMode(1, 1, 1);
    RecordPtr record = own(PlbAnalyzeCd(nullptr));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(nameOf(record.get()), m_name);
    EXPECT_EQ(m_env.cdazFiles(), std::vector<std::string>{m_name});
    EXPECT_EQ(recordStreams(record.get()).size(), m_streams);
    EXPECT_TRUE(m_env.port().pluginChoices().empty());
}

TEST_F(AnalyzeCd, RecordThatCannotBeAdoptedIsShownWithItsPluginsEvenInMode1)
{
    mount(movieDisc("PLAYSTATION", "STALE"));
    CdTocEntry tracks[100] = {};
    const int32_t count = CdReadToc(m_disc->drive(), 100, tracks);
    ASSERT_GT(count, 0);
    CdVolumeInfo volume{};
    CdGetVolumeInfo(m_disc->drive(), &volume);
    char name[PLB_CDAZ_NAME_BYTES] = {};
    PlbMakeCDAZName(count, tracks, &volume, name);
    // An interrupted analysis by an old movie plugin and a plugin that is not installed.
    RecordPtr stale = own(PlbAllocCDAZ(name, "Stale title", "ST", &volume, 0, 0));
    ASSERT_NE(stale, nullptr);
    StrInfo info{};
    info.kind = StrVideo;
    info.startSector = 25;
    info.sectorCount = 10;
    ASSERT_EQ(PlbSetStreamCDAZ(stale.get(), nullptr, &info, "DISCMOVIE.PSR", 0, nullptr, nullptr), 1);
    info.startSector = 100;
    ASSERT_EQ(PlbSetStreamCDAZ(stale.get(), nullptr, &info, "GONE.PSR", 321, nullptr, nullptr), 1);
    PlbSetCDAZAnaSector(stale.get(), 50);
    ASSERT_EQ(PlbSaveCDAZ(nullptr, name, stale.get()), 1);

    PlbSetAnalyzeMode(1, 1, 1);
    m_env.port().queueAdopt(tamlib::AdoptAnswer::Analyze);
    RecordPtr record = own(PlbAnalyzeCd(nullptr));
    ASSERT_NE(record, nullptr);
    const auto requests = m_env.port().adoptRequests();
    ASSERT_EQ(requests.size(), 1u);
    const tamlib::AdoptRequest& shown = requests[0];
    EXPECT_FALSE(shown.adoptable);
    EXPECT_EQ(shown.defaultAnswer, tamlib::AdoptAnswer::Analyze) << "no server to search";
    EXPECT_EQ(shown.title, "Stale title");
    EXPECT_EQ(shown.state, "Analysis is interrupted.");
    EXPECT_EQ(shown.streams, 2);
    ASSERT_EQ(shown.plugins.size(), 2u);
    const tamlib::InstalledPlugin* movie = nullptr;
    for (const tamlib::InstalledPlugin& plugin : tamlib::installedPlugins())
        if (plugin.file == "DISCMOVIE.PSR")
            movie = &plugin;
    ASSERT_NE(movie, nullptr);
    EXPECT_EQ(shown.plugins[0].name, movie->name);
    EXPECT_EQ(shown.plugins[0].analysisVersion, "0.00");
    EXPECT_EQ(shown.plugins[0].installedVersion, std::to_string(movie->version / 100) + "." +
                                                     (movie->version % 100 < 10 ? "0" : "") +
                                                     std::to_string(movie->version % 100));
    EXPECT_EQ(shown.plugins[0].status, movie->subVersion > 0 ? "Analysis is required again" : "OK");
    EXPECT_TRUE(shown.plugins[0].disc);
    EXPECT_EQ(shown.plugins[1].name, "GONE.PSR");
    EXPECT_EQ(shown.plugins[1].analysisVersion, "3.21");
    EXPECT_EQ(shown.plugins[1].installedVersion, "---");
    EXPECT_EQ(shown.plugins[1].status, "no plug-in");

    // The new analysis starts from the old record's title and prefix.
    const auto done = m_env.port().analysisDoneRequests();
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].title, "Stale title");
    EXPECT_EQ(done[0].prefix, "ST");
    EXPECT_GT(recordStreams(record.get()).size(), 2u);
}

TEST(ProgressTexts, CountElapsedAndRemainingTime)
{
    EXPECT_EQ(tamlib::countText(5, 10), "5/10 : 50%");
    EXPECT_EQ(tamlib::countText(7, 7), "7/7 : 100%");
    EXPECT_EQ(tamlib::elapsedText(0), "0:00");
    EXPECT_EQ(tamlib::elapsedText(754), "12:34");
    // Above an hour: hours and minutes.
    EXPECT_EQ(tamlib::remainingText(3601), "After, about 01:00");
    EXPECT_EQ(tamlib::remainingText(7322), "After, about 02:02");
    // Up to a minute: seconds rounded up to five.
    EXPECT_EQ(tamlib::remainingText(0), "After, about 00\"");
    EXPECT_EQ(tamlib::remainingText(1), "After, about 05\"");
    EXPECT_EQ(tamlib::remainingText(60), "After, about 60\"");
    // Between: minutes and ten seconds, both from the time plus nine seconds.
    EXPECT_EQ(tamlib::remainingText(61), "After, about 01'10\"");
    EXPECT_EQ(tamlib::remainingText(111), "After, about 02'00\"");
    EXPECT_EQ(tamlib::remainingText(3600), "After, about 60'00\"");
}

TEST(CorpusDisc, TheStreamsOfTheSectorLoop)
{
    const fs::path use = fs::path(TAMRIN_TEST_DATA) / "disc" / "psxdisc_a.cue";
    ASSERT_TRUE(fs::is_regular_file(use)) << use << " is missing";
    Environment env;
    ASSERT_TRUE(env.started());
    for (const std::string& probe : kProbes)
        PlbSetPluginUse(probe.c_str(), 0);
    PlbSetAnalyzeMode(0, 1, 1);
    Disc disc(use.string());
    ASSERT_GE(disc.drive(), 0) << CdImageError();
    RecordPtr record = own(PlbAnalyzeCd(nullptr));
    ASSERT_NE(record, nullptr);

    std::vector<std::string> files;
    for (const tamlib::InstalledPlugin& plugin : tamlib::installedPlugins())
        if ((plugin.caps & CapCd) && !plugin.noUse)
            files.push_back(tamlib::pluginBindName(plugin.file));
    std::atomic<bool> stop{false};
    const auto result = tamlib::scan::scanDisc(disc.drive(), files, {}, stop);
    std::vector<StrInfo> expected;
    for (const auto& plugin : result.plugins)
        expected.insert(expected.end(), plugin.streams.begin(), plugin.streams.end());
    std::vector<StrInfo> found = recordStreams(record.get());
    std::sort(expected.begin(), expected.end(), byPlace);
    std::sort(found.begin(), found.end(), byPlace);
    ASSERT_EQ(found.size(), expected.size());
    ASSERT_FALSE(found.empty());
    for (size_t i = 0; i < found.size(); ++i)
        EXPECT_TRUE(sameStream(found[i], expected[i])) << i;
}

} // namespace
