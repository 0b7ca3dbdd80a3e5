// The reference server against raw loopback connections: what it stores (a replayed client upload;
// never a damaged or incomplete CDAZ, one with bytes appended, or one whose streams lie beyond its
// disc), uploads split anywhere by TCP, and slow or oversized requests that must not hold up the
// searches of everyone else.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cdaz/cdaz_shared_check.h"
#include "exchange/exchange_client.h"
#include "exchange/exchange_protocol.h"
#include "exchange_test_support.h"
#include "tamlib/cdaz.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace tamlib::exchange;
using exchangetest::connectTo;
using exchangetest::discName;
using exchangetest::httpRequest;
using exchangetest::makeRecord;
using exchangetest::readStatus;
using exchangetest::RecordPtr;
using exchangetest::ScratchFolder;
using exchangetest::sendAll;
using exchangetest::ServerProcess;
using Clock = std::chrono::steady_clock;

std::vector<uint8_t> fileOf(CdazRecord& record)
{
    ScratchFolder folder("xchg-adm");
    EXPECT_EQ(PlbSaveCDAZ(folder.path().c_str(), "f.cdaz", &record), 1);
    std::ifstream in(folder.path() / "f.cdaz", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string uploadOf(const CdazRecord& form, const std::vector<uint8_t>& file)
{
    const UploadRequest built = buildUpload(form, "ENG", file, 0x123456, 0x789abcde);
    return httpRequest(kUploadPath, "multipart/form-data; boundary=" + built.boundary,
                       std::string(built.bytes.begin(), built.bytes.end()));
}

std::string searchOf(const std::string& name)
{
    return httpRequest(kSearchPath, "application/x-www-form-urlencoded", searchBody(name.c_str(), "ENG"));
}

class Admission : public ::testing::Test
{
  protected:
    void SetUp() override { ASSERT_TRUE(m_server.running()); }

    // Sends the request in one piece; the answer's status (0: none within 5 s).
    int exchange(const std::string& request, std::string* body = nullptr)
    {
        const int s = connectTo(m_server.port());
        if (s < 0)
            return -1;
        sendAll(s, request);
        const int status = readStatus(s, 5000, body);
        ::close(s);
        return status;
    }

    size_t stored() const
    {
        size_t count = 0;
        for (const std::string& file : m_data.files())
            count += fs::path(file).extension() == ".cdaz";
        return count;
    }

    ScratchFolder m_data{"xchg-adm-data"};
    ServerProcess m_server{m_data.path()};
};

TEST_F(Admission, ReplayedClientUploadIsStoredAndDamagedFilesAreNot)
{
    // What the real client sends, caught by a raw server, is replayed unchanged.
    const std::string name = discName(5000);
    auto record = makeRecord(name.c_str(), 6);
    ScratchFolder home("xchg-adm-home");
    ASSERT_EQ(PlbSaveCDAZ(home.path().c_str(), nullptr, record.get()), 1);
    exchangetest::RawServer catcher([](int s, const std::string&) {
        sendAll(s, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    });
    ASSERT_TRUE(upload(exchangetest::quickEndpoint(catcher.address()), home.path().c_str(), nullptr, record.get(),
                       "ENG"));
    const std::string replay = catcher.lastRequest();
    ASSERT_NE(replay.find("CDAZ_FILE"), std::string::npos);

    const std::vector<uint8_t> file = fileOf(*record);
    std::mt19937 random(7);
    std::vector<uint8_t> appended = file;
    for (int i = 0; i < 200 * 1024; ++i)
        appended.push_back(uint8_t(random()));
    std::vector<uint8_t> doubled = file;
    doubled.insert(doubled.end(), file.begin(), file.end());

    auto incomplete = makeRecord(name.c_str(), 6);
    incomplete->anaSector = 300;
    auto empty = makeRecord(name.c_str(), 0);
    // Streams from sector 16831 on a disc of 3739 sectors.
    const std::string small = discName(3739);
    auto beyond = makeRecord(small.c_str(), 3);
    for (int32_t i = 0; i < beyond->streamCount; ++i)
        beyond->streams[i].info.startSector += 16731;
    auto nameless = makeRecord("SLUS_000.cdaz", 3);
    auto retitled = makeRecord(name.c_str(), 6, "Another Title");

    struct Case
    {
        std::string request;
        const char* reason;
    };
    const Case refused[] = {
        {uploadOf(*record, appended), "not exactly one version-5 CDAZ"},
        {uploadOf(*record, doubled), "not exactly one version-5 CDAZ"},
        {uploadOf(*record, {file.begin(), file.end() - 1}), "not exactly one version-5 CDAZ"},
        {uploadOf(*incomplete, fileOf(*incomplete)), "analysis is not complete"},
        {uploadOf(*empty, fileOf(*empty)), "lists no stream"},
        {uploadOf(*beyond, fileOf(*beyond)), "outside the disc"},
        {uploadOf(*nameless, fileOf(*nameless)), "name describes no disc"},
        {uploadOf(*retitled, file), "form does not describe the file"},
    };
    for (const Case& c : refused) {
        std::string why;
        EXPECT_EQ(exchange(c.request, &why), 400) << c.reason;
        EXPECT_NE(why.find(c.reason), std::string::npos) << why;
    }
    EXPECT_EQ(stored(), 0u);

    // Random byte flips: whatever the server takes passes the shared check.
    for (int i = 0; i < 48; ++i) {
        std::vector<uint8_t> flipped = file;
        for (int k = 0; k < 3; ++k)
            flipped[random() % flipped.size()] ^= uint8_t(1 + random() % 255);
        exchange(uploadOf(*record, flipped));
    }
    for (const std::string& path : m_data.files()) {
        if (fs::path(path).extension() != ".cdaz")
            continue;
        std::ifstream in(m_data.path() / path, std::ios::binary);
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        tamlib::SharedCdazFault fault;
        CdazRecord* back = tamlib::readSharedCdaz(bytes, &fault);
        EXPECT_NE(back, nullptr) << path;
        tamlib::cdazFree(back);
    }

    const size_t before = stored();
    EXPECT_EQ(exchange(replay), 200);
    EXPECT_EQ(stored(), before + 1);
    std::string lines;
    ASSERT_EQ(exchange(searchOf(name), &lines), 200);
    EXPECT_NE(lines.find("\t6\t"), std::string::npos) << lines; // the stream count of the replay
}

TEST_F(Admission, UploadIsTakenHoweverTheBodyIsSplit)
{
    const std::string name = discName(5000);
    auto record = makeRecord(name.c_str(), 4);
    const std::string request = uploadOf(*record, fileOf(*record));
    const size_t bodyStart = request.find("\r\n\r\n") + 4;
    // Inside and just after the opening boundary line, inside a header of a part, in the file.
    for (size_t split : {size_t(1), size_t(40), size_t(44), size_t(45), size_t(47), size_t(120), size_t(1900)}) {
        const int s = connectTo(m_server.port());
        ASSERT_GE(s, 0);
        sendAll(s, request.substr(0, bodyStart + split));
        std::this_thread::sleep_for(100ms);
        sendAll(s, request.substr(bodyStart + split));
        EXPECT_EQ(readStatus(s, 5000), 200) << "split after " << split;
        ::close(s);
    }
    EXPECT_EQ(stored(), 7u);
}

// Slow clients and requests over a limit, against a server with short deadlines.
class Connections : public ::testing::Test
{
  protected:
    // Opens a connection that announces a body of 1000 bytes and sends its first byte.
    int slowUpload()
    {
        const int s = connectTo(m_slowServer.port());
        if (s >= 0)
            sendAll(s, "POST /Tamrin/CDAZ/Upload.asp HTTP/1.1\r\nHost: x\r\nContent-Type: multipart/form-data; "
                       "boundary=b\r\nContent-Length: 1000\r\n\r\n-");
        return s;
    }
    // A search on the slow server, timed.
    std::chrono::milliseconds timedSearch(int& status)
    {
        const auto start = Clock::now();
        const int s = connectTo(m_slowServer.port());
        sendAll(s, searchOf(discName(5000)));
        status = readStatus(s, 5000);
        ::close(s);
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    }

    ScratchFolder m_slowData{"xchg-slow-data"};
    ServerProcess m_slowServer{m_slowData.path(), {"--head-seconds", "1", "--body-seconds", "2"}};
};

TEST_F(Connections, SlowClientsDoNotHoldUpSearchesAndAreDroppedAtTheirDeadline)
{
    ASSERT_TRUE(m_slowServer.running());
    std::vector<int> slow;
    for (int i = 0; i < 12; ++i)
        slow.push_back(slowUpload());
    // Each keeps sending a byte now and then, well inside any read time-out.
    for (int round = 0; round < 3; ++round) {
        std::this_thread::sleep_for(300ms);
        for (int s : slow)
            ::send(s, "-", 1, MSG_NOSIGNAL);
        int status = 0;
        EXPECT_LT(timedSearch(status), 2000ms);
        EXPECT_EQ(status, 200);
    }
    // The body deadline (2 s for 1000 bytes) ends them with 408 however they trickle.
    const auto start = Clock::now();
    for (int s : slow) {
        EXPECT_EQ(readStatus(s, 4000), 408);
        ::close(s);
    }
    EXPECT_LT(Clock::now() - start, 3s);

    // A head that never ends is cut at its own deadline.
    const int s = connectTo(m_slowServer.port());
    sendAll(s, "POST /Tamrin/CDAZ/Search.asp HTTP/1.1\r\nHost: x\r\n");
    const auto headStart = Clock::now();
    EXPECT_EQ(readStatus(s, 4000), 408);
    EXPECT_LT(Clock::now() - headStart, 2500ms);
    ::close(s);
}

TEST_F(Connections, RequestsOverALimitAreRefusedAsSoonAsTheHeadShowsIt)
{
    ASSERT_TRUE(m_slowServer.running());
    std::string manyHeaders = "POST /Tamrin/CDAZ/Search.asp HTTP/1.1\r\n";
    for (int i = 0; i < 2000; ++i)
        manyHeaders += "X-H" + std::to_string(i) + ": v\r\n";
    struct Case
    {
        const char* what;
        std::string head; // the connection then stays open, sending nothing more
        int status;
    };
    const Case cases[] = {
        {"huge Content-Length",
         "POST /Tamrin/CDAZ/Upload.asp HTTP/1.1\r\nContent-Length: 99999999999\r\n\r\n", 413},
        {"search form over its own limit",
         "POST /Tamrin/CDAZ/Search.asp HTTP/1.1\r\nContent-Length: 5000\r\n\r\n", 413},
        {"2000 headers", manyHeaders, 431},
        {"huge chunk size",
         "POST /Tamrin/CDAZ/Upload.asp HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFF\r\n", 413},
        {"chunk size beyond 64 bits",
         "POST /Tamrin/CDAZ/Upload.asp HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n1FFFFFFFFFFFFFFFFF\r\n", 413},
        {"unknown transfer coding", "POST /Tamrin/CDAZ/Upload.asp HTTP/1.1\r\nTransfer-Encoding: gzip\r\n\r\n", 501},
        {"two lengths",
         "POST /Tamrin/CDAZ/Search.asp HTTP/1.1\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n", 400},
        {"bad request line", "POST  /x HTTP/1.1\r\n\r\n", 400},
        {"no request line", "\r\n\r\n", 400},
        {"other protocol", "POST /Tamrin/CDAZ/Search.asp HTTP/2.0\r\n\r\n", 505},
        {"unknown page, body never sent", "POST /etc/passwd HTTP/1.1\r\nContent-Length: 100\r\n\r\n", 404},
        {"search page by GET", "GET /Tamrin/CDAZ/Search.asp HTTP/1.1\r\n\r\n", 405},
    };
    for (const Case& c : cases) {
        const int s = connectTo(m_slowServer.port());
        ASSERT_GE(s, 0);
        const auto start = Clock::now();
        sendAll(s, c.head);
        EXPECT_EQ(readStatus(s, 3000), c.status) << c.what;
        EXPECT_LT(Clock::now() - start, 500ms) << c.what;
        ::close(s);
    }

    // A chunked search, with an extension and a trailer, is read like any other.
    const std::string form = searchBody(discName(5000).c_str(), "ENG");
    char size[16];
    std::snprintf(size, sizeof size, "%zx", form.size() - 4);
    const int s = connectTo(m_slowServer.port());
    sendAll(s, std::string("POST /Tamrin/CDAZ/Search.asp HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n") + size +
                   ";x=y\r\n" + form.substr(0, form.size() - 4) + "\r\n4\r\n" + form.substr(form.size() - 4) +
                   "\r\n0\r\nX-Trailer: 1\r\n\r\n");
    EXPECT_EQ(readStatus(s, 3000), 200);
    ::close(s);
}

TEST_F(Connections, KeptConnectionAnswersEachRequestInTurn)
{
    ASSERT_TRUE(m_slowServer.running());
    const std::string form = searchBody(discName(5000).c_str(), "ENG");
    const std::string one = "POST /Tamrin/CDAZ/Search.asp HTTP/1.1\r\nHost: x\r\nContent-Length: " +
                            std::to_string(form.size()) + "\r\n\r\n" + form;
    const int s = connectTo(m_slowServer.port());
    // Two at once, then a third on the same connection: three answers.
    sendAll(s, one + one);
    std::string answers;
    const auto deadline = Clock::now() + 3s;
    auto count = [&] {
        size_t n = 0;
        for (size_t at = answers.find("HTTP/1.1 200 OK"); at != std::string::npos;
             at = answers.find("HTTP/1.1 200 OK", at + 1))
            ++n;
        return n;
    };
    for (bool sentThird = false; count() < 3 && Clock::now() < deadline;) {
        if (count() == 2 && !sentThird) {
            sendAll(s, one);
            sentThird = true;
        }
        pollfd p{s, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        char buffer[4096];
        const ssize_t got = ::recv(s, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        answers.append(buffer, size_t(got));
    }
    EXPECT_EQ(count(), 3u) << answers;
    ::close(s);
}

} // namespace
