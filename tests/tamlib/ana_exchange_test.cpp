// PlbAnalyzeCd with the reference exchange server: the search when no local CDAZ exists (asked,
// never, always), the download of a CDAZ another user uploaded, a newer CDAZ on the server
// offered beside the local one, and the upload checks before and after an analysis.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

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

} // namespace
