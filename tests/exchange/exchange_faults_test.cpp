// The client against raw sockets: the requests it sends byte for byte, and servers that stall,
// hang up, lie about their length, send too much or send nonsense. Every call must come back with
// its failure value within its time-out and leave no temporary file.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "exchange/exchange_client.h"
#include "exchange/exchange_protocol.h"
#include "exchange_test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace tamlib::exchange;
using exchangetest::makeRecord;
using exchangetest::quickEndpoint;
using exchangetest::RawServer;
using exchangetest::ScratchFolder;
using exchangetest::sendAll;
using Clock = std::chrono::steady_clock;

std::string answer(const std::string& status, const std::string& body)
{
    return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

// The value of a header of the request, empty when missing.
std::string header(const std::string& request, const std::string& name)
{
    const size_t at = request.find("\r\n" + name + ": ");
    if (at == std::string::npos)
        return {};
    const size_t start = at + name.size() + 4;
    return request.substr(start, request.find("\r\n", start) - start);
}

// A stalled server: waits until the client gives up and closes (at most 6 s).
void waitForHangUp(int socket)
{
    pollfd p{socket, POLLIN | POLLRDHUP, 0};
    ::poll(&p, 1, 6000);
}

std::string bodyOf(const std::string& request)
{
    const size_t at = request.find("\r\n\r\n");
    return at == std::string::npos ? std::string() : request.substr(at + 4);
}

class ExchangeFaults : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        if (const char* old = std::getenv("TMPDIR"))
            m_oldTemp = old;
        ::setenv("TMPDIR", m_temp.path().c_str(), 1);
    }
    void TearDown() override
    {
        if (m_oldTemp.empty())
            ::unsetenv("TMPDIR");
        else
            ::setenv("TMPDIR", m_oldTemp.c_str(), 1);
    }

    int32_t searchAt(const RawServer& server)
    {
        for (auto& r : m_records)
            r = CdazSearchRecord{};
        return search(quickEndpoint(server.address()), "SLUS_0001.cdaz", "ENG", m_records);
    }

    ScratchFolder m_temp{"xchg-faults"};
    std::string m_oldTemp;
    CdazSearchRecord m_records[kMaxRecords];
};

TEST_F(ExchangeFaults, SearchRequestAndReplyAsSent)
{
    const std::string reply = "ENG\t1\t4\t16515394\t315\tDisc\tPUB\t2\t5\t5\tx\n"
                              "JPN\t1\t3\t16515394\t315\tDisc\tPUB\t2\t5\t5\tx\r\n"
                              "ENG\t1\t2\t16515394\t315\tDisc\tPUB\t2\t5\t5\tx";
    RawServer server([&](int s, const std::string&) { sendAll(s, answer("200 OK", reply)); });
    EXPECT_EQ(searchAt(server), 2); // the unterminated third line is not used
    EXPECT_EQ(m_records[1].revision, 3);
    EXPECT_STREQ(m_records[1].language, "JPN");
    const std::string request = server.lastRequest();
    EXPECT_EQ(request.substr(0, request.find("\r\n")), "POST /Tamrin/CDAZ/Search.asp HTTP/1.1");
    EXPECT_EQ(header(request, "User-Agent"), "Tamrin");
    EXPECT_EQ(header(request, "Accept"), "text/*; q=0.2, text/plain");
    EXPECT_EQ(header(request, "Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(bodyOf(request), "CDAZ_NAME=SLUS_0001.cdaz&LANGUAGE=ENG&TAMRIN_VERSION=322&CDAZ_VERSION=5");
}

TEST_F(ExchangeFaults, SearchFailsOnBadRepliesWithinItsTimeOut)
{
    struct Case
    {
        const char* what;
        RawServer::Reply reply;
    };
    const std::string good = "ENG\t1\t4\t1\t1\tT\tP\t1\t1\t1\tx\n";
    std::string tooLong;
    while (tooLong.size() <= kMaxSearchReplyBytes)
        tooLong += good;
    const Case cases[] = {
        {"hangs up at once", [](int, const std::string&) {}},
        {"not HTTP",
         [](int s, const std::string&) { sendAll(s, "garbage\r\n\r\n" + std::string(100, '\t')); }},
        {"promises more than it sends",
         [&](int s, const std::string&) {
             sendAll(s, "HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n" + good);
         }},
        {"announces a reply beyond the limit",
         [&](int s, const std::string&) {
             sendAll(s, "HTTP/1.1 200 OK\r\nContent-Length: 100000000\r\n\r\n" + good);
         }},
        {"sends a reply beyond the limit without a length",
         [&](int s, const std::string&) {
             sendAll(s, "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + tooLong);
         }},
        {"stalls before answering", [&](int s, const std::string&) { waitForHangUp(s); }},
        {"stalls in the middle",
         [&](int s, const std::string&) {
             sendAll(s, "HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n" + good);
             waitForHangUp(s);
         }},
    };
    for (const Case& c : cases) {
        RawServer server(c.reply);
        const auto start = Clock::now();
        EXPECT_EQ(searchAt(server), 0) << c.what;
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(4500)) << c.what;
    }
    // Nobody listening: the connection is refused at once.
    int port = 0;
    {
        RawServer gone([](int, const std::string&) {});
        port = std::atoi(gone.address().c_str() + 10);
    }
    const auto start = Clock::now();
    EXPECT_EQ(search(quickEndpoint("127.0.0.1:" + std::to_string(port)), "A.cdaz", "ENG", m_records), 0);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));
}

TEST_F(ExchangeFaults, DownloadFailuresLeaveNoTemporaryFile)
{
    auto record = makeRecord("SLUS_0001.cdaz", 3);
    ScratchFolder saved("xchg-saved");
    ASSERT_EQ(PlbSaveCDAZ(saved.path().c_str(), "f.cdaz", record.get()), 1);
    std::ifstream in(saved.path() / "f.cdaz", std::ios::binary);
    const std::string file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};

    struct Case
    {
        const char* what;
        RawServer::Reply reply;
    };
    const Case cases[] = {
        {"404", [&](int s, const std::string&) { sendAll(s, answer("404 Not Found", file)); }},
        {"201", [&](int s, const std::string&) { sendAll(s, answer("201 Created", file)); }},
        {"200 with nonsense", [](int s, const std::string&) { sendAll(s, answer("200 OK", "not a cdaz")); }},
        {"200, empty", [](int s, const std::string&) { sendAll(s, answer("200 OK", "")); }},
        {"200, cut short",
         [&](int s, const std::string&) {
             sendAll(s, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(file.size() + 10) +
                            "\r\n\r\n" + file);
         }},
        {"larger than a CDAZ may be",
         [&](int s, const std::string&) {
             sendAll(s, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kMaxCdazBytes + 1) +
                            "\r\n\r\n" + file);
         }},
        {"stalls in the middle",
         [&](int s, const std::string&) {
             sendAll(s, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(file.size() * 2) + "\r\n\r\n" +
                            file);
             waitForHangUp(s);
         }},
        {"hangs up", [](int, const std::string&) {}},
    };
    for (const Case& c : cases) {
        RawServer server(c.reply);
        const auto start = Clock::now();
        EXPECT_EQ(download(quickEndpoint(server.address()), 2, "ENG", "SLUS_0001.cdaz"), nullptr) << c.what;
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(4500)) << c.what;
        EXPECT_TRUE(m_temp.files().empty()) << c.what;
    }

    // The good answer loads, and its temporary file is gone too.
    RawServer server([&](int s, const std::string&) { sendAll(s, answer("200 OK", file)); });
    CdazRecord* loaded = download(quickEndpoint(server.address()), 2, "ENG", "SLUS_0001.cdaz");
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(PlbGetCDAZInfo(loaded, nullptr, nullptr, nullptr, nullptr, nullptr), 3);
    PlbFreeCDAZ(loaded);
    EXPECT_TRUE(m_temp.files().empty());
    const std::string request = server.lastRequest();
    EXPECT_EQ(request.substr(0, request.find("\r\n")), "POST /Tamrin/CDAZ/Download.asp HTTP/1.1");
    EXPECT_EQ(header(request, "Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(bodyOf(request), "CDAZ_NAME=SLUS_0001.cdaz&LANGUAGE=ENG&CDAZ_VERSION=2");
}

TEST_F(ExchangeFaults, UploadRequestAnnouncesItsLengthAndIsNotHeldUpByTheServer)
{
    auto record = makeRecord("SLUS_0001.cdaz", 40);
    ScratchFolder folder("xchg-upload");
    ASSERT_EQ(PlbSaveCDAZ(folder.path().c_str(), nullptr, record.get()), 1);
    const auto size = fs::file_size(folder.path() / "SLUS_0001.cdaz");
    {
        RawServer server([](int s, const std::string&) { sendAll(s, answer("200 OK", "whatever")); });
        EXPECT_TRUE(
            upload(quickEndpoint(server.address()), folder.path().c_str(), nullptr, record.get(), "ENG"));
        const std::string request = server.lastRequest();
        EXPECT_EQ(request.substr(0, request.find("\r\n")), "POST /Tamrin/CDAZ/Upload.asp HTTP/1.1");
        EXPECT_EQ(header(request, "User-Agent"), "Tamrin");
        EXPECT_EQ(header(request, "Accept"), "text/*; q=0.2, text/plain");
        EXPECT_EQ(header(request, "Accept-Language"), "ja");
        EXPECT_EQ(header(request, "Accept-Encoding"), "gzip, deflate");
        const std::string type = header(request, "Content-Type");
        const std::string prefix = "multipart/form-data; boundary=" + std::string(27, '-');
        ASSERT_EQ(type.substr(0, prefix.size()), prefix);
        const std::string boundary = type.substr(type.find('=') + 1);
        EXPECT_EQ(boundary.size(), 27u + 14u);
        EXPECT_EQ(boundary.find_first_not_of("-0123456789abcdef"), std::string::npos);
        const std::string body = bodyOf(request);
        EXPECT_EQ(header(request, "Content-Length"), std::to_string(body.size()));
        const std::string tail = "\r\n--" + boundary + "--\r\n";
        EXPECT_EQ(body.substr(body.size() - tail.size()), tail);
        EXPECT_GT(body.size(), size + tail.size());
    }
    // An upload to a server that never answers ends within the time-out.
    RawServer stalled([](int s, const std::string&) { waitForHangUp(s); });
    const auto start = Clock::now();
    upload(quickEndpoint(stalled.address()), folder.path().c_str(), nullptr, record.get(), "ENG");
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(4500));
    // Nothing is sent for a file that is missing or too large.
    RawServer quiet([](int s, const std::string&) { sendAll(s, answer("200 OK", "")); });
    EXPECT_FALSE(
        upload(quickEndpoint(quiet.address()), folder.path().c_str(), "missing.cdaz", record.get(), "ENG"));
    {
        std::ofstream big(folder.path() / "big.cdaz", std::ios::binary);
        big.seekp(std::streamoff(kMaxCdazBytes));
        big.put('x');
    }
    EXPECT_FALSE(
        upload(quickEndpoint(quiet.address()), folder.path().c_str(), "big.cdaz", record.get(), "ENG"));
    EXPECT_TRUE(quiet.lastRequest().empty());
}

} // namespace
