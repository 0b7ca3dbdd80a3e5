// PlbAnalyzeCd with the reference exchange server: the search when no local CDAZ exists (asked,
// never, always), the download of a CDAZ another user uploaded, a newer CDAZ on the server
// offered beside the local one, and the upload checks before and after an analysis.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "cdaz/cdaz_format.h"

#include "analysis_support.h"
#include "discport/discport.h"
#include "exchange_test_support.h"
#include "tamlib/analysis.h"
#include "tamlib/environment.h"

namespace {

using namespace anatest;
namespace fs = std::filesystem;

const std::vector<std::string> kProbes{"ANARAW.PSR", "ANAUSER.PSR", "ANABOTH.PSR", "ANALEAVE.PSR"};

bool said(const tamlib::ScriptedPort& port, const std::string& text)
{
    for (const auto& message : port.messages())
        if (message.text == text)
            return true;
    return false;
}

constexpr char kUploadQuestion[] = "Is this CDAZ file uploaded to a server?";
constexpr char kSearchQuestion[] = "An CDAZ file was not found.\nIs the CDAZ file in a server searched?";
constexpr char kNotOnServer[] = "CDAZ was not able to be found from a server.\n"
                                "Analysis processing of media is carried out.";

class ExchangeLookup : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(fs::exists(fs::path(TAMRIN_OUT_DIR) / "PsrPlugins" / "Discmovie.psr"));
        ASSERT_TRUE(m_server.running());
        m_image = movieDisc("PLAYSTATION", "SHARED_DISC");
        ASSERT_NE(m_image, nullptr);
    }

    // A user of the exchange: a home folder of their own, the disc in the drive.
    struct User
    {
        Environment env;
        std::unique_ptr<Disc> disc;
    };

    std::unique_ptr<User> user(int32_t local, int32_t server, int32_t upload)
    {
        auto u = std::make_unique<User>();
        EXPECT_TRUE(u->env.started());
        for (const std::string& probe : kProbes)
            PlbSetPluginUse(probe.c_str(), 0);
        EXPECT_EQ(PlbSetServer(m_server.address().c_str()), 1);
        PlbSetAnalyzeMode(local, server, upload);
        u->disc = std::make_unique<Disc>(m_image->cue);
        EXPECT_GE(u->disc->drive(), 0);
        return u;
    }

    size_t uploads() const { return m_data.files().size(); }

    exchangetest::ScratchFolder m_data{"ana-exchange"};
    exchangetest::ServerProcess m_server{m_data.path()};
    std::unique_ptr<discbuild::Image> m_image;
};

TEST_F(ExchangeLookup, NewAnalysisIsUploadedAndAnotherUserDownloadsIt)
{
    std::vector<StrInfo> analysed;
    {
        auto first = user(0, 2, 2); // always search, always upload
        RecordPtr record = own(PlbAnalyzeCd(nullptr));
        ASSERT_NE(record, nullptr);
        EXPECT_TRUE(said(first->env.port(), kNotOnServer));
        EXPECT_FALSE(said(first->env.port(), kUploadQuestion));
        analysed = recordStreams(record.get());
    }
    ASSERT_GE(uploads(), 1u);

    auto second = user(0, 2, 2);
    RecordPtr record = own(PlbAnalyzeCd(nullptr));
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(second->env.port().pluginChoices().empty()) << "adopted from the server, not analysed";
    EXPECT_FALSE(said(second->env.port(), kNotOnServer));
    EXPECT_EQ(recordStreams(record.get()).size(), analysed.size());
    EXPECT_EQ(second->env.cdazFiles().size(), 1u) << "the download is kept in the local folder";
}

TEST_F(ExchangeLookup, SearchModesAndTheUploadQuestion)
{
    {
        // Ask: No means no search; a new analysis; no search: no upload question either.
        auto u = user(0, 0, 0);
        u->env.port().queueAnswer(PLB_IDNO);
        RecordPtr record = own(PlbAnalyzeCd(nullptr));
        ASSERT_NE(record, nullptr);
        EXPECT_TRUE(said(u->env.port(), kSearchQuestion));
        EXPECT_FALSE(said(u->env.port(), kNotOnServer));
        EXPECT_FALSE(said(u->env.port(), kUploadQuestion));
    }
    EXPECT_EQ(uploads(), 0u);
    {
        // Ask: Yes; nothing found; the upload question answered No.
        auto u = user(0, 0, 0);
        u->env.port().queueAnswer(PLB_IDYES);
        u->env.port().queueAnswer(PLB_IDOK);
        u->env.port().queueAnswer(PLB_IDNO);
        RecordPtr record = own(PlbAnalyzeCd(nullptr));
        ASSERT_NE(record, nullptr);
        EXPECT_TRUE(said(u->env.port(), kNotOnServer));
        EXPECT_TRUE(said(u->env.port(), kUploadQuestion));
    }
    EXPECT_EQ(uploads(), 0u);
    {
        // Never search: no question, no upload.
        auto u = user(0, 1, 0);
        RecordPtr record = own(PlbAnalyzeCd(nullptr));
        ASSERT_NE(record, nullptr);
        EXPECT_FALSE(said(u->env.port(), kSearchQuestion));
        EXPECT_FALSE(said(u->env.port(), kUploadQuestion));
    }
    EXPECT_EQ(uploads(), 0u);
}

TEST_F(ExchangeLookup, StoppedAnalysisIsNotUploaded)
{
    auto u = user(0, 2, 2);
    u->env.port().queuePlugins({"ANARAW.PSR"});
    u->env.port().stopAfter(40);
    RecordPtr record = own(PlbAnalyzeCd(nullptr));
    ASSERT_NE(record, nullptr);
    int32_t anaSector = 0;
    PlbGetCDAZInfo(record.get(), nullptr, nullptr, nullptr, nullptr, &anaSector);
    EXPECT_EQ(anaSector, 41);
    EXPECT_EQ(u->env.cdazFiles().size(), 1u);
    EXPECT_EQ(uploads(), 0u);
}

TEST_F(ExchangeLookup, AdoptedLocalRecordIsUploadedOnlyAfterASearch)
{
    {
        auto u = user(0, 1, 1); // analyse, never upload
        RecordPtr record = own(PlbAnalyzeCd(nullptr));
        ASSERT_NE(record, nullptr);
        // Local mode 1: adopted without a search, so without an upload.
        PlbSetAnalyzeMode(1, 1, 2);
        RecordPtr adopted = own(PlbAnalyzeCd(nullptr));
        ASSERT_NE(adopted, nullptr);
        EXPECT_EQ(uploads(), 0u);
        // Local mode 2: the server is searched, has nothing newer; the local record is kept and
        // sent.
        u->env.port().clear();
        PlbSetAnalyzeMode(2, 1, 2);
        RecordPtr checked = own(PlbAnalyzeCd(nullptr));
        ASSERT_NE(checked, nullptr);
        EXPECT_TRUE(u->env.port().messages().empty());
        EXPECT_GE(uploads(), 1u);
        // Now the server holds the same record: not newer, so a second check sends nothing.
        const size_t before = uploads();
        RecordPtr again = own(PlbAnalyzeCd(nullptr));
        ASSERT_NE(again, nullptr);
        EXPECT_EQ(uploads(), before);
    }
}

TEST_F(ExchangeLookup, NewerRecordOnTheServerIsOfferedBesideTheLocalOne)
{
    {
        // Every plugin: the server's record has more plugin entries.
        auto u = user(0, 2, 2);
        RecordPtr record = own(PlbAnalyzeCd(nullptr));
        ASSERT_NE(record, nullptr);
    }
    ASSERT_GE(uploads(), 1u);
    auto u = user(0, 1, 1);
    u->env.port().queuePlugins({"DISCMOVIE.PSR"});
    RecordPtr local = own(PlbAnalyzeCd(nullptr));
    ASSERT_NE(local, nullptr);
    const size_t localStreams = recordStreams(local.get()).size();

    // Local mode 2: the server's newer record is offered; the answer keeps the local one.
    u->env.port().clear();
    PlbSetAnalyzeMode(2, 1, 1);
    u->env.port().queueAdopt(tamlib::AdoptAnswer::Local);
    RecordPtr kept = own(PlbAnalyzeCd(nullptr));
    ASSERT_NE(kept, nullptr);
    auto requests = u->env.port().adoptRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].message, "The newest CDAZ file was found from the server.");
    EXPECT_TRUE(requests[0].twoRecords);
    EXPECT_GT(requests[0].streams, int32_t(localStreams));
    EXPECT_EQ(recordStreams(kept.get()).size(), localStreams);

    // Adopted this time: the server's record replaces the local file.
    u->env.port().clear();
    u->env.port().queueAdopt(tamlib::AdoptAnswer::Adopt);
    RecordPtr adopted = own(PlbAnalyzeCd(nullptr));
    ASSERT_NE(adopted, nullptr);
    EXPECT_GT(recordStreams(adopted.get()).size(), localStreams);
    EXPECT_TRUE(u->env.port().pluginChoices().empty());
    char name[PLB_CDAZ_NAME_BYTES] = {};
    PlbGetCDAZInfo(adopted.get(), name, nullptr, nullptr, nullptr, nullptr);
    PlbCdazLoad saved = PlbLoadCDAZ(nullptr, name, nullptr);
    ASSERT_NE(saved.record, nullptr);
    EXPECT_EQ(recordStreams(saved.record).size(), recordStreams(adopted.get()).size());
    PlbFreeCDAZ(saved.record);
}

// The server's stored file of the disc (the first upload), rewritten by `change`; and its search
// line, with the analysis version raised so that it looks newer than any local record when asked.
void tamperStored(const fs::path& data, const std::function<void(CdazRecord&)>& change, bool looksNewer)
{
    fs::path folder;
    for (const auto& entry : fs::directory_iterator(data))
        folder = entry.path();
    ASSERT_FALSE(folder.empty());
    std::vector<uint8_t> bytes;
    {
        std::ifstream in(folder / "1.cdaz", std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    RecordPtr record = own(tamlib::cdazReadV5(bytes));
    ASSERT_NE(record, nullptr);
    change(*record);
    bytes = tamlib::cdazWriteV5(*record);
    std::ofstream(folder / "1.cdaz", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!looksNewer)
        return;
    std::string line;
    std::getline(std::ifstream(folder / "1.line"), line);
    // Field 4 (after three TABs) is the analysis version.
    size_t at = 0;
    for (int tab = 0; tab < 3; ++tab)
        at = line.find('\t', at) + 1;
    line.replace(at, line.find('\t', at) - at, "99999999");
    std::ofstream(folder / "1.line") << line << "\n";
}

constexpr char kOutsideRefused[] =
    "The CDAZ file from the server is not used: it lists streams outside this CD-ROM.";

TEST_F(ExchangeLookup, DownloadWithStreamsBeyondTheDiscIsRefusedAndNeverReplacesTheLocalRecord)
{
    std::vector<StrInfo> analysed;
    {
        auto first = user(0, 2, 2);
        RecordPtr record = own(PlbAnalyzeCd(nullptr));
        ASSERT_NE(record, nullptr);
        analysed = recordStreams(record.get());
    }
    ASSERT_EQ(uploads(), 2u);
    // The stored file now places every stream far beyond the end of the disc.
    tamperStored(m_data.path(), [](CdazRecord& r) {
        for (int32_t i = 0; i < r.streamCount; ++i)
            r.streams[i].info.startSector += 16831;
    }, false);

    // A new user is told why the download is not used, and the disc is analysed instead.
    auto second = user(0, 2, 0);
    second->env.port().queueAnswer(PLB_IDOK);
    second->env.port().queueAnswer(PLB_IDOK);
    second->env.port().queueAnswer(PLB_IDNO);
    RecordPtr record = own(PlbAnalyzeCd(nullptr));
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(said(second->env.port(), kOutsideRefused));
    EXPECT_FALSE(second->env.port().pluginChoices().empty()) << "analysed, not adopted";
    const std::vector<StrInfo> mine = recordStreams(record.get());
    ASSERT_EQ(mine.size(), analysed.size());
    for (size_t i = 0; i < mine.size(); ++i)
        EXPECT_TRUE(sameStream(mine[i], analysed[i])) << i;

    // With that analysis on the local disk, a server record that claims to be newer but lies
    // outside the disc is refused and the local one kept, file and all.
    tamperStored(m_data.path(), [](CdazRecord&) {}, true);
    second->env.port().clear();
    PlbSetAnalyzeMode(2, 1, 1);
    RecordPtr kept = own(PlbAnalyzeCd(nullptr));
    ASSERT_NE(kept, nullptr);
    EXPECT_TRUE(said(second->env.port(), kOutsideRefused));
    EXPECT_TRUE(second->env.port().adoptRequests().empty());
    EXPECT_EQ(recordStreams(kept.get()).size(), analysed.size());
    PlbCdazLoad saved = PlbLoadCDAZ(nullptr, kept->name, nullptr);
    ASSERT_NE(saved.record, nullptr);
    EXPECT_EQ(recordStreams(saved.record)[0].startSector, analysed[0].startSector);
    PlbFreeCDAZ(saved.record);

    // Streams back inside the disc, but otherwise the very record the user has: its search line
    // claims more than the file holds, so it is not offered in place of the local one.
    tamperStored(m_data.path(), [](CdazRecord& r) {
        for (int32_t i = 0; i < r.streamCount; ++i)
            r.streams[i].info.startSector -= 16831;
    }, true);
    second->env.port().clear();
    RecordPtr same = own(PlbAnalyzeCd(nullptr));
    ASSERT_NE(same, nullptr);
    EXPECT_TRUE(second->env.port().messages().empty());
    EXPECT_TRUE(second->env.port().adoptRequests().empty());
}

} // namespace
