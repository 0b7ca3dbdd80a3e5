// Arbitrary bytes sent as a request to the reference exchange server, which runs in this process
// on the loopback address with a data folder of its own. The server must answer (or close) within
// the time limit, stay up for the next request, and keep only files that read back as valid
// version-5 CDAZ files in its data folder.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include <httplib.h>

#include "cdaz/cdaz_format.h"
#include "cdaz/cdaz_record.h"
#include "exchange_routes.h"
#include "exchange_store.h"

namespace {

namespace fs = std::filesystem;

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

// The server, started once for the whole run.
struct Running
{
    fs::path folder;
    cdaz_exchange::Store* store = nullptr;
    httplib::Server server;
    int port = -1;
    std::thread thread;

    Running()
    {
        std::string pattern = (fs::temp_directory_path() / "exchange-fuzz-XXXXXX").string();
        check(::mkdtemp(pattern.data()) != nullptr);
        folder = pattern;
        store = new cdaz_exchange::Store(folder);
        cdaz_exchange::installRoutes(server, *store);
        server.set_read_timeout(1, 0);
        server.set_write_timeout(1, 0);
        port = server.bind_to_any_port("127.0.0.1");
        check(port > 0);
        thread = std::thread([this] { server.listen_after_bind(); });
        while (!server.is_running())
            std::this_thread::yield();
    }
};

Running& running()
{
    static Running* instance = new Running; // lives until the process ends
    return *instance;
}

// Sends the bytes, closes the sending side and reads the answer until the server closes or two
// seconds pass. False when no connection could be made.
bool exchange(int port, const uint8_t* data, size_t size)
{
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval limit{2, 0};
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(s);
        return false;
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
    ::close(s);
    return true;
}

// Every stored CDAZ file reads back as a valid version-5 file.
void checkStore(const fs::path& folder)
{
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, error); !error && it != fs::end(it);
         it.increment(error)) {
        if (it->path().extension() != ".cdaz")
            continue;
        std::ifstream in(it->path(), std::ios::binary);
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                         std::istreambuf_iterator<char>()};
        CdazRecord* record = tamlib::cdazReadV5({bytes.data(), bytes.size()});
        check(record != nullptr);
        tamlib::cdazFree(record);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Running& server = running();
    check(exchange(server.port, data, size));
    // Still up: a plain search is answered.
    static const char kProbe[] = "POST /Tamrin/CDAZ/Search.asp HTTP/1.1\r\nHost: x\r\n"
                                 "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 0\r\n"
                                 "Connection: close\r\n\r\n";
    check(exchange(server.port, reinterpret_cast<const uint8_t*>(kProbe), sizeof kProbe - 1));
    checkStore(server.folder);
    return 0;
}
