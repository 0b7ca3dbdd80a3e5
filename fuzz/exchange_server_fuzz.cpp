// Arbitrary bytes sent as a request to the reference exchange server, which runs in this process
// on the loopback address with a data folder of its own. The server must answer (or close) within
// its deadlines, stay up for the next request, and keep only files that pass the shared CDAZ check
// in its data folder.
//
// Every connection attempt has a time limit of its own, and a signal does not end it; when one
// fails, the harness says why (the error, how long it waited, whether the server's accept loop
// still runs and how many connections it was serving) before it stops, so that a server that
// stops taking connections is told apart from a crash. A connection attempt that waits for a
// SYN retransmission (a full listen queue) used to be cut short by libFuzzer's alarm signal.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <utility>
#include <thread>
#include <vector>

#include "cdaz/cdaz_record.h"
#include "cdaz/cdaz_shared_check.h"
#include "exchange_routes.h"
#include "exchange_store.h"
#include "http_server.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kConnectMs = 2000;
constexpr int kAnswerMs = 3000;

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "exchange_server_fuzz: %s\n", what);
        __builtin_trap();
    }
}

cdaz_exchange::HttpLimits fuzzLimits()
{
    cdaz_exchange::HttpLimits limits;
    limits.headTime = std::chrono::milliseconds(500);
    limits.bodyTime = std::chrono::milliseconds(500);
    limits.idleTime = std::chrono::milliseconds(500);
    limits.writeTime = std::chrono::milliseconds(1000);
    return limits;
}

// The server, started once for the whole run.
struct Running
{
    fs::path folder;
    cdaz_exchange::Store* store = nullptr;
    cdaz_exchange::HttpServer server{fuzzLimits()};
    int port = -1;
    std::thread thread;

    Running()
    {
        std::string pattern = (fs::temp_directory_path() / "exchange-fuzz-XXXXXX").string();
        check(::mkdtemp(pattern.data()) != nullptr, "cannot make the data folder");
        folder = pattern;
        store = new cdaz_exchange::Store(folder);
        cdaz_exchange::installRoutes(server, *store);
        port = server.bind("127.0.0.1", 0);
        check(port > 0, "cannot listen on the loopback address");
        thread = std::thread([this] { server.run(); });
        while (!server.running())
            std::this_thread::yield();
    }
};

Running& running()
{
    static Running* instance = [] {
        Running* made = new Running; // lives until the process ends
        // The data folder goes with the process.
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(running().folder, ignored);
        });
        return made;
    }();
    return *instance;
}

// Connects within kConnectMs; the socket, or -1 with errno set.
int connectWithin(int port)
{
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (s < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (errno != EINPROGRESS) {
            const int error = errno;
            ::close(s);
            errno = error;
            return -1;
        }
        // A signal (libFuzzer's alarm, for one) does not end the wait.
        const auto deadline = Clock::now() + std::chrono::milliseconds(kConnectMs);
        int ready = 0;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd wait{s, POLLOUT, 0};
            ready = left.count() > 0 ? ::poll(&wait, 1, int(left.count())) : 0;
            if (ready >= 0 || errno != EINTR)
                break;
        }
        int error = 0;
        socklen_t length = sizeof error;
        if (ready <= 0)
            error = ETIMEDOUT;
        else if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
            error = errno;
        if (error) {
            ::close(s);
            errno = error;
            return -1;
        }
    }
    ::fcntl(s, F_SETFL, ::fcntl(s, F_GETFL) & ~O_NONBLOCK);
    timeval limit{kAnswerMs / 1000, 0};
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    return s;
}

// Sends the bytes, closes the sending side and reads the answer until the server closes or the
// answer time passes. A connection that cannot be made stops the run with the reason.
void exchange(Running& server, const uint8_t* data, size_t size, const char* what)
{
    const auto start = Clock::now();
    const int s = connectWithin(server.port);
    if (s < 0) {
        const int error = errno;
        const long waited = long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
        std::fprintf(stderr,
                     "exchange_server_fuzz: cannot connect to the in-process server on 127.0.0.1:%d for %s: "
                     "%s after %ld ms; accept loop %s, %zu connections being served\n",
                     server.port, what, std::strerror(error), waited,
                     server.server.running() ? "running" : "ended", server.server.openConnections());
        __builtin_trap();
    }
    size_t sent = 0;
    while (sent < size) {
        const ssize_t n = ::send(s, data + sent, size - sent, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += size_t(n);
    }
    ::shutdown(s, SHUT_WR);
    char reply[4096];
    while (::recv(s, reply, sizeof reply, 0) > 0) {
    }
    // Where the server closed first, the connection ends with a reset rather than leaving a
    // TIME_WAIT on its side: thousands of connections a second would otherwise hold the loopback
    // ports, and a new connection on such a port has its SYN answered only after a retransmission.
    const linger reset{1, 0};
    ::setsockopt(s, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    ::close(s);
}

// Every stored CDAZ file passes the shared check. A file is read again only when it is new or
// has changed since it was last checked (the store keeps every revision, so the folder grows).
void checkStore(const fs::path& folder)
{
    static std::map<fs::path, std::pair<uintmax_t, fs::file_time_type>> checked;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, error); !error && it != fs::end(it);
         it.increment(error)) {
        // The folders of the store are named after the CDAZ names, so only files are looked at.
        if (!it->is_regular_file() || it->path().extension() != ".cdaz")
            continue;
        std::error_code statError;
        const std::pair<uintmax_t, fs::file_time_type> seen{it->file_size(statError), it->last_write_time(statError)};
        if (!statError) {
            const auto known = checked.find(it->path());
            if (known != checked.end() && known->second == seen)
                continue;
            checked[it->path()] = seen;
        }
        std::ifstream in(it->path(), std::ios::binary);
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        tamlib::SharedCdazFault fault = tamlib::SharedCdazFault::None;
        CdazRecord* record = tamlib::readSharedCdaz({bytes.data(), bytes.size()}, &fault);
        check(record != nullptr, "a stored CDAZ does not pass the shared check");
        tamlib::cdazFree(record);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Running& server = running();
    exchange(server, data, size, "the input");
    // Still up: a plain search is answered.
    static const char kProbe[] = "POST /Tamrin/CDAZ/Search.asp HTTP/1.1\r\nHost: x\r\n"
                                 "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 0\r\n"
                                 "Connection: close\r\n\r\n";
    exchange(server, reinterpret_cast<const uint8_t*>(kProbe), sizeof kProbe - 1, "the search after it");
    checkStore(server.folder);
    return 0;
}
