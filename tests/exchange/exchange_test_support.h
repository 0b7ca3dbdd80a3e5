// What the exchange tests share: the reference server started as a program, a raw socket server
// that answers with whatever bytes a test gives (or stalls, or hangs up), CDAZ records built for
// upload, and a scratch folder.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "../support/scratch_folder.h"
#include "cdaz/cdaz_record.h"
#include "exchange/exchange_client.h"

namespace exchangetest {

using RecordPtr = std::unique_ptr<CdazRecord, void (*)(CdazRecord*)>;

// A new empty folder below the system's temporary folder, removed at the end.
using testsupport::ScratchFolder;

// The cdaz-exchange program of the build, started on a free loopback port with its own data
// folder, stopped with SIGTERM at the end.
class ServerProcess
{
  public:
    // `options` are passed on to the program (for example shorter deadlines).
    explicit ServerProcess(const std::filesystem::path& data, const std::vector<std::string>& options = {});
    int port() const { return m_port; }
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    bool running() const { return m_port > 0; }
    std::string address() const { return "127.0.0.1:" + std::to_string(m_port); }
    // Sends `signal` and waits (at most 10 s); the exit status, or -1 when it had to be killed.
    int stop(int signal = 15);

  private:
    pid_t m_pid = -1;
    int m_port = 0;
};

// A loopback server on a thread that reads one request and runs `reply` on the connection's
// socket (which may write anything, wait, or do nothing); each connection is closed afterwards.
class RawServer
{
  public:
    using Reply = std::function<void(int socket, const std::string& request)>;
    explicit RawServer(Reply reply);
    ~RawServer();
    RawServer(const RawServer&) = delete;
    RawServer& operator=(const RawServer&) = delete;

    std::string address() const { return "127.0.0.1:" + std::to_string(m_port); }
    // The last request received (head and whatever of the body arrived with it).
    std::string lastRequest() const;
    // Stops a reply that is waiting (see waitForStop).
    void release();
    // For replies that stall: waits until release() or the end of the server.
    void waitForStop() const;

  private:
    void run();

    int m_listener = -1;
    int m_port = 0;
    Reply m_reply;
    std::atomic<bool> m_stop{false};
    mutable std::string m_request;
    mutable std::atomic<bool> m_busy{false};
    std::thread m_thread;
};

// Writes all of `text` to the socket, ignoring a peer that left.
void sendAll(int socket, const std::string& text);

// A record of `streams` streams of two plugins (versions 105 and 210), named `name`.
RecordPtr makeRecord(const char* name, uint32_t streams, const char* title = "A Disc");

// The CDAZ name of a disc with one data track of `sectors` sectors and volume "SLUS_000" (the
// volume identifier makeRecord gives).
std::string discName(uint32_t sectors);

// A connection to 127.0.0.1:`port` (-1 when it cannot be made).
int connectTo(int port);
// The status of the HTTP answer on `socket`, read within `limitMs` (0: no answer, -1: closed
// without one). `body` receives the answer's body when given.
int readStatus(int socket, int limitMs, std::string* body = nullptr);
// An HTTP request for the reference server: the head (with Content-Length) and `body`.
std::string httpRequest(const std::string& path, const std::string& contentType, const std::string& body);

// An endpoint with short time-outs for the fault tests.
tamlib::exchange::Endpoint quickEndpoint(const std::string& address);

} // namespace exchangetest
