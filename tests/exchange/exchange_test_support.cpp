#include "exchange_test_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "cdaz/cdaz_store.h"
#include "discport/discport.h"
#include "tamlib/cdaz.h"

namespace exchangetest {

namespace fs = std::filesystem;

ServerProcess::ServerProcess(const fs::path& data, const std::vector<std::string>& options)
{
    const std::string program = std::string(TAMRIN_OUT_DIR) + "/cdaz-exchange";
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return;
    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(out[1], 1);
        std::vector<std::string> arguments{program, "--port", "0", "--data", data.string()};
        arguments.insert(arguments.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    if (m_pid < 0) {
        ::close(out[0]);
        return;
    }
    // The first line names the port; it must come within 10 seconds.
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd p{out[0], POLLIN, 0};
        if (::poll(&p, 1, 200) <= 0)
            continue;
        char buffer[128];
        const ssize_t got = ::read(out[0], buffer, sizeof buffer);
        if (got <= 0)
            break;
        line.append(buffer, size_t(got));
    }
    ::close(out[0]);
    const std::string prefix = "listening on 127.0.0.1:";
    if (line.rfind(prefix, 0) == 0)
        m_port = std::atoi(line.c_str() + prefix.size());
}

int ServerProcess::stop(int signal)
{
    if (m_pid <= 0)
        return -1;
    ::kill(m_pid, signal);
    int status = 0;
    for (int i = 0; i < 200; ++i) {
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            m_port = 0;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        ::usleep(50000);
    }
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
    m_port = 0;
    return -1;
}

ServerProcess::~ServerProcess()
{
    stop();
}

void sendAll(int socket, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::send(socket, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        done += size_t(n);
    }
}

RawServer::RawServer(Reply reply) : m_reply(std::move(reply))
{
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listener, 8) != 0 ||
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return;
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { run(); });
}

RawServer::~RawServer()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_listener >= 0)
        ::close(m_listener);
}

void RawServer::run()
{
    while (!m_stop) {
        pollfd p{m_listener, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const int connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0)
            continue;
        // The request: its head, and the body as far as it arrives within a short while.
        std::string request;
        for (;;) {
            pollfd c{connection, POLLIN, 0};
            if (::poll(&c, 1, request.find("\r\n\r\n") == std::string::npos ? 2000 : 100) <= 0)
                break;
            char buffer[4096];
            const ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
            if (got <= 0)
                break;
            request.append(buffer, size_t(got));
            if (request.size() > (1u << 20))
                break;
        }
        m_busy = true;
        m_request = request;
        m_reply(connection, request);
        m_busy = false;
        ::close(connection);
    }
}

std::string RawServer::lastRequest() const
{
    for (int i = 0; i < 100 && m_busy; ++i)
        ::usleep(10000);
    return m_request;
}

void RawServer::release()
{
    m_stop = true;
}

void RawServer::waitForStop() const
{
    while (!m_stop)
        ::usleep(10000);
}

RecordPtr makeRecord(const char* name, uint32_t streams, const char* title)
{
    RecordPtr record(tamlib::cdazCreate(4, streams + 1), tamlib::cdazFree);
    if (!record)
        return record;
    tamlib::cdazCopyText(record->name, name);
    tamlib::cdazCopyText(record->title, title);
    tamlib::cdazCopyText(record->prefix, "STR");
    tamlib::cdazCopyText(record->systemId, "PLAYSTATION");
    tamlib::cdazCopyText(record->volumeId, "SLUS_000");
    tamlib::cdazCopyText(record->publisherId, "A PUBLISHER");
    record->analyzeVersion = tamlib::kCdazAnalyzeVersion;
    record->anaSector = -1;
    for (uint32_t i = 0; i < streams; ++i) {
        StrInfo info{};
        info.kind = i % 2 ? 2 : 1;
        info.startSector = 100 + i * 50;
        info.sectorCount = 40;
        info.durationMs = 1000 + i;
        const char* plugin = i % 2 ? "DISCVOICE.PSR" : "DISCMOVIE.PSR";
        tamlib::cdazAddStream(*record, nullptr, info, plugin, i % 2 ? 210 : 105, "author", "address", {});
    }
    tamlib::cdazNormalize(*record);
    return record;
}

std::string discName(uint32_t sectors)
{
    CdTocEntry track{};
    track.track = 1;
    track.control = 4;
    track.length = sectors;
    CdVolumeInfo volume{};
    std::strcpy(volume.volumeId, "SLUS_000");
    char name[PLB_CDAZ_NAME_BYTES];
    return PlbMakeCDAZName(1, &track, &volume, name);
}

int connectTo(int port)
{
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s >= 0 && ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        return s;
    if (s >= 0)
        ::close(s);
    return -1;
}

int readStatus(int socket, int limitMs, std::string* body)
{
    std::string answer;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    bool closed = false;
    for (;;) {
        const size_t headEnd = answer.find("\r\n\r\n");
        if (headEnd != std::string::npos) {
            const size_t at = answer.find("Content-Length: ");
            const size_t length = at < headEnd ? std::strtoul(answer.c_str() + at + 16, nullptr, 10) : 0;
            if (closed || answer.size() >= headEnd + 4 + length) {
                if (body)
                    *body = answer.substr(headEnd + 4, length);
                break;
            }
        }
        if (closed)
            return answer.empty() ? -1 : 0;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{socket, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, int(left.count())) <= 0)
            return 0;
        char buffer[4096];
        const ssize_t got = ::recv(socket, buffer, sizeof buffer, 0);
        if (got <= 0)
            closed = true;
        else
            answer.append(buffer, size_t(got));
    }
    if (answer.rfind("HTTP/1.1 ", 0) != 0)
        return 0;
    return std::atoi(answer.c_str() + 9);
}

std::string httpRequest(const std::string& path, const std::string& contentType, const std::string& body)
{
    return "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: " + contentType +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

tamlib::exchange::Endpoint quickEndpoint(const std::string& address)
{
    tamlib::exchange::Endpoint endpoint;
    endpoint.address = address;
    endpoint.connectMs = 1000;
    endpoint.totalMs = 3000;
    endpoint.lowSpeedBytes = 64;
    endpoint.lowSpeedSeconds = 2;
    return endpoint;
}

} // namespace exchangetest
