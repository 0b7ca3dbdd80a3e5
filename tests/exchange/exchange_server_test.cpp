// The client and the reference server program together: the exchange switched off and on,
// search, upload and download round trips with revisions, a 404 that leaves no temporary file,
// the uploads the server refuses (and stores nothing of), and a clean stop on SIGTERM.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "exchange/exchange_client.h"
#include "exchange/exchange_protocol.h"
#include "exchange/http_post.h"
#include "exchange_test_support.h"
#include "tamlib/environment.h"
#include "tamlib/exchange.h"
#include "../support/scripted_port.h"
#include "tamlib/ui_port.h"

namespace {

namespace fs = std::filesystem;
using namespace tamlib::exchange;
using exchangetest::makeRecord;
using exchangetest::RecordPtr;
using exchangetest::ScratchFolder;
using exchangetest::ServerProcess;

class ScopedVariable
{
  public:
    ScopedVariable(const char* name, const std::string& value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_previous = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedVariable()
    {
        if (m_previous)
            ::setenv(m_name.c_str(), m_previous->c_str(), 1);
        else
            ::unsetenv(m_name.c_str());
    }

  private:
    std::string m_name;
    std::optional<std::string> m_previous;
};

class ExchangeServer : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_server.running()) << "cdaz-exchange did not start from " << TAMRIN_OUT_DIR;
        ASSERT_EQ(PlbInitialize(), 1);
        fs::create_directories(m_home.path() / "Analyze");
    }
    void TearDown() override { PlbTerminate(); }

    // Saves the record in the Analyze folder, as the analysis does before an upload.
    void save(CdazRecord* record) { ASSERT_EQ(PlbSaveCDAZ(nullptr, nullptr, record), 1); }

    ScratchFolder m_home{"xchg-home"};
    ScratchFolder m_temp{"xchg-tmp"};
    ScratchFolder m_data{"xchg-data"};
    ScopedVariable m_homeVariable{"TAMRIN_HOME", m_home.path().string()};
    ScopedVariable m_tempVariable{"TMPDIR", m_temp.path().string()};
    ScopedVariable m_locale{"LC_ALL", "C"};
    tamlib::ScriptedPort m_port;
    tamlib::ScopedUiPort m_installed{m_port};
    ServerProcess m_server{m_data.path()};
};

TEST_F(ExchangeServer, SwitchedOffTheCallsFailAtOnceAndSendNothing)
{
    EXPECT_EQ(PlbGetServer(nullptr, 0), 0);
    auto record = makeRecord("SLUS_00010405001.cdaz", 3);
    save(record.get());
    CdazSearchRecord records[PLB_EXCHANGE_MAX_RECORDS];
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(PlbSearchCDAZ("SLUS_00010405001.cdaz", records), 0);
    EXPECT_EQ(PlbDownloadCDAZ(1, "ENG", "SLUS_00010405001.cdaz"), nullptr);
    EXPECT_EQ(PlbUploadCDAZ(nullptr, nullptr, record.get()), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_TRUE(m_data.files().empty());

    // The setting: checked, read back, and off again with the empty text.
    EXPECT_EQ(PlbSetServer("no such host"), 0);
    EXPECT_EQ(PlbSetServer("host:99999"), 0);
    EXPECT_EQ(PlbSetServer(m_server.address().c_str()), 1);
    char address[8];
    EXPECT_EQ(PlbGetServer(address, sizeof address), int32_t(m_server.address().size()));
    EXPECT_EQ(std::string(address), m_server.address().substr(0, 7));
    EXPECT_EQ(PlbSetServer(nullptr), 1);
    EXPECT_EQ(PlbGetServer(nullptr, 0), 0);
}

TEST_F(ExchangeServer, UploadSearchAndDownloadRoundTrip)
{
    ASSERT_EQ(PlbSetServer(m_server.address().c_str()), 1);
    const char* name = "SLUS_00012002001000.cdaz";
    CdazSearchRecord records[PLB_EXCHANGE_MAX_RECORDS];
    EXPECT_EQ(PlbSearchCDAZ(name, records), 0);

    auto first = makeRecord(name, 5, "First Title");
    save(first.get());
    EXPECT_EQ(PlbUploadCDAZ(nullptr, nullptr, first.get()), 0);
    ASSERT_EQ(PlbSearchCDAZ(name, records), 1);
    EXPECT_STREQ(records[0].language, "ENG");
    EXPECT_EQ(records[0].revision, 1);
    EXPECT_STREQ(records[0].title, "First Title");
    EXPECT_STREQ(records[0].publisher, "A PUBLISHER");
    EXPECT_EQ(records[0].analyzeVersion, first->analyzeVersion);
    EXPECT_EQ(records[0].pluginCount, 2u);
    EXPECT_EQ(records[0].pluginVersionSum, 315u);
    EXPECT_EQ(records[0].streamCount, 5u);
    EXPECT_EQ(records[0].effectiveStreams, uint32_t(first->effectiveStreams));
    // What was uploaded is what is found: neither is newer, the caller's tie value decides.
    EXPECT_EQ(PlbCompareCDAZ(first.get(), &records[0], 1), 1);
    EXPECT_EQ(PlbCompareCDAZ(first.get(), &records[0], 0), 0);

    // A second upload of the name, with more streams, from another folder and file name.
    auto second = makeRecord(name, 7, "Second Title");
    ScratchFolder elsewhere("xchg-up");
    ASSERT_EQ(PlbSaveCDAZ(elsewhere.path().c_str(), "copy.cdaz", second.get()), 1);
    PlbUploadCDAZ(elsewhere.path().c_str(), "copy.cdaz", second.get());
    ASSERT_EQ(PlbSearchCDAZ(name, records), 2);
    EXPECT_EQ(records[0].revision, 2); // newest first
    EXPECT_EQ(records[0].streamCount, 7u);
    EXPECT_EQ(records[1].revision, 1);
    EXPECT_EQ(PlbCompareCDAZ(first.get(), &records[0], 1), 0);
    EXPECT_EQ(PlbCompareCDAZ(second.get(), &records[1], 0), 1);

    // The download loads the newest, through a temporary file that is gone afterwards.
    CdazRecord* loaded = PlbDownloadCDAZ(records[0].revision, records[0].language, name);
    ASSERT_NE(loaded, nullptr);
    char title[PLB_CDAZ_TITLE_BYTES], loadedName[PLB_CDAZ_NAME_BYTES];
    EXPECT_EQ(PlbGetCDAZInfo(loaded, loadedName, title, nullptr, nullptr, nullptr), 7);
    EXPECT_STREQ(loadedName, name);
    EXPECT_STREQ(title, "Second Title");
    PlbFreeCDAZ(loaded);
    EXPECT_TRUE(m_temp.files().empty());

    // Unknown revision or language: 404, null, no temporary file left.
    EXPECT_EQ(PlbDownloadCDAZ(3, "ENG", name), nullptr);
    EXPECT_EQ(PlbDownloadCDAZ(1, "JPN", name), nullptr);
    EXPECT_EQ(PlbDownloadCDAZ(1, "ENG", "SLUS_00010405004.cdaz"), nullptr);
    EXPECT_TRUE(m_temp.files().empty());

    // Another name has its own revisions.
    auto other = makeRecord("SLUS_00010405004.cdaz", 2);
    save(other.get());
    PlbUploadCDAZ(nullptr, nullptr, other.get());
    ASSERT_EQ(PlbSearchCDAZ("SLUS_00010405004.cdaz", records), 1);
    EXPECT_EQ(records[0].revision, 1);

    // A record whose file is missing sends nothing; nor does a null record.
    auto unsaved = makeRecord("SLUS_00010405005.cdaz", 2);
    PlbUploadCDAZ(nullptr, nullptr, unsaved.get());
    PlbUploadCDAZ(nullptr, nullptr, nullptr);
    EXPECT_EQ(PlbSearchCDAZ("SLUS_00010405005.cdaz", records), 0);
    EXPECT_EQ(m_server.stop(), 0); // a clean stop on SIGTERM

    // The uploads outlive the server: a new one on the same data folder finds them.
    ServerProcess again(m_data.path());
    ASSERT_TRUE(again.running());
    ASSERT_EQ(PlbSetServer(again.address().c_str()), 1);
    ASSERT_EQ(PlbSearchCDAZ(name, records), 2);
    EXPECT_EQ(records[0].revision, 2);
}

TEST_F(ExchangeServer, UploadsAtTheSameTimeGetRevisionsOfTheirOwn)
{
    ASSERT_EQ(PlbSetServer(m_server.address().c_str()), 1);
    const char* name = "SLUS_00010405003.cdaz";
    constexpr uint32_t kUploads = 6;
    std::vector<RecordPtr> records;
    for (uint32_t i = 0; i < kUploads; ++i) {
        records.push_back(makeRecord(name, i + 1));
        ASSERT_EQ(
            PlbSaveCDAZ(m_home.path().c_str(), ("up" + std::to_string(i)).c_str(), records.back().get()), 1);
    }
    std::vector<std::thread> threads;
    for (uint32_t i = 0; i < kUploads; ++i)
        threads.emplace_back([&, i] {
            PlbUploadCDAZ(m_home.path().c_str(), ("up" + std::to_string(i)).c_str(), records[i].get());
        });
    for (std::thread& t : threads)
        t.join();
    CdazSearchRecord found[PLB_EXCHANGE_MAX_RECORDS];
    ASSERT_EQ(PlbSearchCDAZ(name, found), int32_t(kUploads));
    std::set<uint32_t> streamCounts;
    for (uint32_t i = 0; i < kUploads; ++i) {
        EXPECT_EQ(found[i].revision, kUploads - i);
        streamCounts.insert(found[i].streamCount);
    }
    EXPECT_EQ(streamCounts.size(), size_t(kUploads)); // every upload is there once
}

class ServerRefusals : public ExchangeServer
{
  protected:
    PostResult post(const char* path, const std::string& contentType, const std::string& body)
    {
        PostRequest request;
        request.path = path;
        request.headers = {"Content-Type: " + contentType, "Expect:"};
        request.body = {reinterpret_cast<const uint8_t*>(body.data()), body.size()};
        request.piece = 65536;
        request.replyLimit = 65536;
        return httpPost(exchangetest::quickEndpoint(m_server.address()), request);
    }
    PostResult upload(const UploadRequest& built)
    {
        return post(kUploadPath, "multipart/form-data; boundary=" + built.boundary,
                    std::string(built.bytes.begin(), built.bytes.end()));
    }
    static std::vector<uint8_t> fileOf(CdazRecord& record)
    {
        ScratchFolder folder("xchg-file");
        EXPECT_EQ(PlbSaveCDAZ(folder.path().c_str(), "f.cdaz", &record), 1);
        std::ifstream in(folder.path() / "f.cdaz", std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
};

TEST_F(ServerRefusals, MalformedOrOversizedUploadsAreRefusedAndNothingIsStored)
{
    auto record = makeRecord("SLUS_00010405002.cdaz", 4);
    const std::vector<uint8_t> file = fileOf(*record);
    ASSERT_FALSE(file.empty());
    const UploadRequest good = buildUpload(*record, "ENG", file, 1, 2);
    std::string body(good.bytes.begin(), good.bytes.end());

    // A wrong check number.
    const CheckNumbers n = checkNumbers(315, std::strlen(record->name), record->analyzeVersion,
                                        uint32_t(record->streamCount), uint32_t(record->effectiveStreams));
    std::string wrong = body;
    const std::string code = "\r\n\r\n" + std::to_string(n.code[3]) + "\r\n";
    ASSERT_NE(wrong.find(code), std::string::npos);
    wrong.replace(wrong.find(code), code.size(), "\r\n\r\n" + std::to_string(n.code[3] + 1) + "\r\n");
    EXPECT_EQ(post(kUploadPath, "multipart/form-data; boundary=" + good.boundary, wrong).status, 403);

    // A file that is no CDAZ, a damaged one, and one of another record with this record's form.
    std::vector<uint8_t> garbage(file.size(), 0x5A);
    EXPECT_EQ(upload(buildUpload(*record, "ENG", garbage, 1, 2)).status, 400);
    std::vector<uint8_t> cut(file.begin(), file.begin() + long(file.size() / 2));
    EXPECT_EQ(upload(buildUpload(*record, "ENG", cut, 1, 2)).status, 400);
    auto bigger = makeRecord("SLUS_00010405002.cdaz", 6);
    EXPECT_EQ(upload(buildUpload(*record, "ENG", fileOf(*bigger), 1, 2)).status, 400);
    EXPECT_EQ(upload(buildUpload(*record, "ENG", {}, 1, 2)).status, 400);

    // Names and languages that could leave the data folder or break a reply line.
    for (const char* name : {"../x.cdaz", ".hidden.cdaz", "a/b.cdaz", "noext", "tab\t.cdaz"}) {
        auto bad = makeRecord(name, 1);
        EXPECT_EQ(upload(buildUpload(*bad, "ENG", fileOf(*bad), 1, 2)).status, 400) << name;
    }
    EXPECT_EQ(upload(buildUpload(*record, "ENGL", file, 1, 2)).status, 400);
    EXPECT_EQ(upload(buildUpload(*record, "E\tN", file, 1, 2)).status, 400);

    // Not a multipart form; a body beyond the limit.
    EXPECT_EQ(post(kUploadPath, "application/x-www-form-urlencoded", "CDAZ_NAME=SLUS_00010405002.cdaz").status, 400);
    const UploadRequest huge =
        buildUpload(*record, "ENG", std::vector<uint8_t>(kMaxCdazBytes + kMaxUploadOverhead, 0x05), 1, 2);
    // The server answers 413 as soon as it sees the announced length and hangs up; the answer can
    // be lost in the reset of the connection when the client is still sending.
    const PostResult refused = upload(huge);
    EXPECT_TRUE(refused.status == 413 || (!refused.complete && refused.status == 0)) << refused.status;

    // Search and download forms that are malformed or too large.
    EXPECT_EQ(post(kSearchPath, "application/x-www-form-urlencoded", "LANGUAGE=ENG").status, 400);
    EXPECT_EQ(post(kSearchPath, "application/x-www-form-urlencoded", std::string(8000, 'x')).status, 413);
    EXPECT_EQ(
        post(kDownloadPath, "application/x-www-form-urlencoded", "CDAZ_NAME=SLUS_00010405002.cdaz&LANGUAGE=ENG")
            .status,
        400);
    EXPECT_EQ(post(kDownloadPath, "application/x-www-form-urlencoded",
                   "CDAZ_NAME=../../etc.cdaz&LANGUAGE=ENG&CDAZ_VERSION=1")
                  .status,
              404);
    EXPECT_TRUE(m_data.files().empty());

    // The unchanged upload is taken, as revision 1.
    EXPECT_EQ(post(kUploadPath, "multipart/form-data; boundary=" + good.boundary, body).status, 200);
    EXPECT_EQ(m_data.files().size(), 2u);
    ASSERT_EQ(PlbSetServer(m_server.address().c_str()), 1);
    CdazSearchRecord records[PLB_EXCHANGE_MAX_RECORDS];
    ASSERT_EQ(PlbSearchCDAZ("SLUS_00010405002.cdaz", records), 1);
    EXPECT_EQ(records[0].revision, 1);
    EXPECT_EQ(m_server.stop(SIGINT), 0); // a clean stop on SIGINT too
}

TEST(ServerProgram, RefusesToStartWithoutAUsableDataFolderOrPort)
{
    const std::string program = std::string(TAMRIN_OUT_DIR) + "/cdaz-exchange";
    const auto run = [&](const std::string& arguments) {
        const int status = std::system((program + " " + arguments + " >/dev/null 2>&1").c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_NE(run("--port 0 --data /dev/null/cannot"), 0);
    EXPECT_NE(run("--port 70000 --data /tmp"), 0);
    EXPECT_NE(run("--data /tmp"), 0);
    EXPECT_NE(run("--port 0 --data /tmp --bind 999.1.1.1"), 0);
}

} // namespace
