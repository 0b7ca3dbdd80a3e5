#include "http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <optional>
#include <thread>

namespace cdaz_exchange {

namespace {

using Clock = std::chrono::steady_clock;

bool sameText(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

const char* reason(int status)
{
    switch (status) {
    case 100: return "Continue";
    case 200: return "OK";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 413: return "Payload Too Large";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    case 505: return "HTTP Version Not Supported";
    case 507: return "Insufficient Storage";
    default: return "Unknown";
    }
}

std::string responseHead(int status, const std::string& type, size_t length, bool close)
{
    return "HTTP/1.1 " + std::to_string(status) + " " + reason(status) + "\r\nContent-Type: " + type +
           "\r\nContent-Length: " + std::to_string(length) + "\r\nConnection: " + (close ? "close" : "keep-alive") +
           "\r\n\r\n";
}

std::chrono::milliseconds allowance(std::chrono::milliseconds base, size_t bytes, size_t rate)
{
    return base + std::chrono::milliseconds(rate ? uint64_t(bytes) * 1000 / rate : 0);
}

// A refusal the front makes itself: the status and the text of the answer.
struct Refusal
{
    int status;
    const char* text;
};

// The request line and the header lines of a head (ended by its blank line) into `request`.
std::optional<Refusal> parseHead(std::string_view head, HttpRequest& request)
{
    bool first = true;
    while (!head.empty()) {
        const size_t eol = head.find('\n');
        std::string_view line = head.substr(0, eol);
        head.remove_prefix(eol == std::string_view::npos ? head.size() : eol + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (first) {
            if (line.empty())
                continue; // a stray line end between requests
            first = false;
            const size_t a = line.find(' ');
            const size_t b = a == std::string_view::npos ? a : line.find(' ', a + 1);
            if (b == std::string_view::npos || line.find(' ', b + 1) != std::string_view::npos || a == 0 ||
                b == a + 1)
                return Refusal{400, "bad request line"};
            request.method = line.substr(0, a);
            request.target = line.substr(a + 1, b - a - 1);
            request.version = line.substr(b + 1);
            request.path = request.target.substr(0, request.target.find('?'));
            if (request.version != "HTTP/1.1" && request.version != "HTTP/1.0")
                return Refusal{505, "unsupported HTTP version"};
            continue;
        }
        if (line.empty())
            break;
        const size_t colon = line.find(':');
        if (colon == 0 || colon == std::string_view::npos || line.front() == ' ' || line.front() == '\t' ||
            trim(line.substr(0, colon)).size() != colon)
            return Refusal{400, "bad header line"};
        request.headers.emplace_back(line.substr(0, colon), trim(line.substr(colon + 1)));
    }
    if (first)
        return Refusal{400, "no request line"};
    return std::nullopt;
}

} // namespace

std::string_view HttpRequest::header(std::string_view name) const
{
    for (const auto& [key, value] : headers)
        if (sameText(key, name))
            return value;
    return {};
}

// One accepted connection: its socket, what has arrived and not been used yet, and the waits.
class HttpServer::Connection
{
  public:
    Connection(HttpServer& server, int socket) : m_server(server), m_socket(socket) {}

    enum class Wait
    {
        Ready,
        Closed, // the peer closed or the socket failed
        Late,   // the deadline passed
        Stopping,
    };

    // Waits until more bytes arrive (appended to `buffer`) or the deadline.
    Wait receive(Clock::time_point deadline)
    {
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return Wait::Late;
            pollfd waits[2] = {{m_socket, POLLIN, 0}, {m_server.m_wake[0], POLLIN, 0}};
            const int ready = ::poll(waits, 2, int(std::min<int64_t>(left.count(), 1000)));
            if (ready < 0 && errno != EINTR)
                return Wait::Closed;
            if (m_server.m_stopping)
                return Wait::Stopping;
            if (ready <= 0 || !(waits[0].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char piece[16384];
            const ssize_t got = ::recv(m_socket, piece, sizeof piece, 0);
            if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
                continue;
            if (got <= 0)
                return Wait::Closed;
            buffer.append(piece, size_t(got));
            return Wait::Ready;
        }
    }

    // Sends everything before the deadline.
    bool send(std::string_view bytes, Clock::time_point deadline)
    {
        while (!bytes.empty()) {
            const ssize_t sent = ::send(m_socket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (sent > 0) {
                bytes.remove_prefix(size_t(sent));
                continue;
            }
            if (sent < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
                return false;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0 || m_server.m_stopping)
                return false;
            pollfd wait{m_socket, POLLOUT, 0};
            ::poll(&wait, 1, int(std::min<int64_t>(left.count(), 1000)));
        }
        return true;
    }

    int socket() const { return m_socket; }

    std::string buffer;

  private:
    HttpServer& m_server;
    int m_socket;
};

HttpServer::HttpServer(HttpLimits limits) : m_limits(limits)
{
    if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0)
        m_wake[0] = m_wake[1] = -1;
}

HttpServer::~HttpServer()
{
    stop();
    if (m_listener >= 0)
        ::close(m_listener);
    for (int fd : m_wake)
        if (fd >= 0)
            ::close(fd);
}

void HttpServer::route(const std::string& method, const std::string& path, Handler handler, size_t maxBody)
{
    m_routes[{method, path}] = Route{std::move(handler), maxBody ? std::min(maxBody, m_limits.bodyBytes) : m_limits.bodyBytes};
}

int HttpServer::bind(const std::string& address, int port)
{
    sockaddr_in socketAddress{};
    socketAddress.sin_family = AF_INET;
    socketAddress.sin_port = htons(uint16_t(port));
    if (m_wake[0] < 0 || port < 0 || port > 65535 ||
        ::inet_pton(AF_INET, address == "localhost" ? "127.0.0.1" : address.c_str(), &socketAddress.sin_addr) != 1)
        return -1;
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listener < 0)
        return -1;
    const int on = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    socklen_t length = sizeof socketAddress;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&socketAddress), sizeof socketAddress) != 0 ||
        ::listen(listener, 128) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&socketAddress), &length) != 0) {
        ::close(listener);
        return -1;
    }
    m_listener = listener;
    return ntohs(socketAddress.sin_port);
}

void HttpServer::stop()
{
    if (m_stopping.exchange(true))
        return;
    if (m_wake[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_wake[1], &byte, 1);
    }
}

size_t HttpServer::openConnections()
{
    std::lock_guard lock(m_mutex);
    return m_open;
}

bool HttpServer::reserveBody(size_t bytes)
{
    size_t now = m_bodyBytes.load();
    do {
        if (bytes > m_limits.bodyBytesInFlight - std::min(now, m_limits.bodyBytesInFlight))
            return false;
    } while (!m_bodyBytes.compare_exchange_weak(now, now + bytes));
    return true;
}

void HttpServer::releaseBody(size_t bytes)
{
    m_bodyBytes -= bytes;
}

bool HttpServer::run()
{
    if (m_listener < 0)
        return false;
    m_running = true;
    while (!m_stopping) {
        pollfd waits[2] = {{m_listener, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(waits, 2, 1000) <= 0 || m_stopping)
            continue;
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        const int socket =
            ::accept4(m_listener, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (socket < 0) {
            // A full descriptor table: wait a moment for connections to end instead of spinning.
            if (errno == EMFILE || errno == ENFILE || errno == ENOMEM || errno == ENOBUFS)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        char text[INET_ADDRSTRLEN] = "";
        ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
        std::string address = text;
        bool admitted = false;
        {
            std::lock_guard lock(m_mutex);
            size_t& mine = m_perAddress[address];
            if (m_open < m_limits.connections && mine < m_limits.connectionsPerAddress) {
                ++mine;
                ++m_open;
                admitted = true;
            } else if (mine == 0) {
                m_perAddress.erase(address);
            }
        }
        if (admitted) {
            try {
                std::thread([this, socket, address] { serve(socket, address); }).detach();
                continue;
            } catch (...) {
                std::lock_guard lock(m_mutex);
                if (--m_perAddress[address] == 0)
                    m_perAddress.erase(address);
                --m_open;
            }
        }
        // Too many connections: said at once, without a thread; the peer may try again later.
        static const char kBusy[] = "busy, try again later\n";
        const std::string busy = responseHead(503, "text/plain", sizeof kBusy - 1, true) + kBusy;
        [[maybe_unused]] const ssize_t sent = ::send(socket, busy.data(), busy.size(), MSG_NOSIGNAL);
        ::close(socket);
        if (m_logger) {
            HttpRequest request;
            request.remoteAddress = address;
            HttpResponse response;
            response.status = 503;
            response.body = kBusy;
            m_logger(request, response);
        }
    }
    std::unique_lock lock(m_mutex);
    m_ended.wait(lock, [this] { return m_open == 0; });
    m_running = false;
    return true;
}

const HttpServer::Route* HttpServer::findRoute(const HttpRequest& request, int& status) const
{
    const auto route = m_routes.find({request.method, request.path});
    if (route != m_routes.end())
        return &route->second;
    const bool pathKnown = std::any_of(m_routes.begin(), m_routes.end(),
                                       [&](const auto& entry) { return entry.first.second == request.path; });
    status = pathKnown ? 405 : 404;
    return nullptr;
}

void HttpServer::serve(int socket, std::string address)
{
    const int on = 1;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    Connection connection(*this, socket);
    const HttpLimits& limits = m_limits;
    for (size_t served = 0; served < limits.requestsPerConnection && !m_stopping; ++served) {
        HttpRequest request;
        request.remoteAddress = address;
        HttpResponse response;
        bool close = served + 1 == limits.requestsPerConnection;
        size_t reserved = 0;
        std::optional<Refusal> refusal;

        // The head. A kept connection may wait for its next request; the head's own time starts
        // with its first byte.
        std::string& in = connection.buffer;
        if (in.empty()) {
            const auto wait = served == 0 ? limits.headTime : limits.idleTime;
            if (connection.receive(Clock::now() + wait) != Connection::Wait::Ready)
                break;
        }
        const auto headDeadline = Clock::now() + limits.headTime;
        size_t headEnd = std::string::npos;
        size_t lines = 0;
        size_t scanned = 0;
        bool ended = false;
        while (!refusal) {
            for (; scanned < in.size(); ++scanned) {
                if (in[scanned] != '\n')
                    continue;
                const bool blank = scanned == 0 || in[scanned - 1] == '\n' ||
                                   (in[scanned - 1] == '\r' && (scanned == 1 || in[scanned - 2] == '\n'));
                if (blank && lines > 0) {
                    headEnd = scanned + 1;
                    break;
                }
                ++lines;
            }
            if (headEnd != std::string::npos)
                break;
            if (lines > limits.headerCount + 1 || in.size() > limits.headBytes) {
                refusal = Refusal{431, "request head too large"};
                break;
            }
            const Connection::Wait wait = connection.receive(headDeadline);
            if (wait == Connection::Wait::Late)
                refusal = Refusal{408, "request head too slow"};
            else if (wait != Connection::Wait::Ready) {
                ended = true;
                break;
            }
        }
        if (ended)
            break;
        if (!refusal && (headEnd > limits.headBytes || lines > limits.headerCount + 1))
            refusal = Refusal{431, "request head too large"};

        // Request line and headers.
        std::optional<size_t> contentLength;
        bool chunked = false;
        const Route* route = nullptr;
        if (!refusal) {
            refusal = parseHead(std::string_view(in.data(), headEnd), request);
            in.erase(0, headEnd);
        }
        if (!refusal) {
            const std::string_view connectionHeader = request.header("Connection");
            if (sameText(connectionHeader, "close") ||
                (request.version == "HTTP/1.0" && !sameText(connectionHeader, "keep-alive")))
                close = true;
            for (const auto& [key, value] : request.headers) {
                if (sameText(key, "Content-Length")) {
                    size_t length = 0;
                    const auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), length);
                    if (value.empty() || value.size() > 19 || ec != std::errc() ||
                        ptr != value.data() + value.size() || (contentLength && *contentLength != length)) {
                        refusal = Refusal{400, "bad Content-Length"};
                        break;
                    }
                    contentLength = length;
                } else if (sameText(key, "Transfer-Encoding")) {
                    if (!sameText(value, "chunked") || chunked) {
                        refusal = Refusal{501, "unsupported transfer encoding"};
                        break;
                    }
                    chunked = true;
                }
            }
            if (!refusal && chunked && contentLength)
                refusal = Refusal{400, "both Content-Length and chunked"};
            if (!refusal) {
                int status = 0;
                route = findRoute(request, status);
                if (!route)
                    refusal = status == 405 ? Refusal{405, "method not allowed"} : Refusal{404, "not found"};
            }
            if (!refusal && contentLength && *contentLength > route->maxBody)
                refusal = Refusal{413, "request body too large"};
            if (!refusal && contentLength) {
                if (reserveBody(*contentLength))
                    reserved = *contentLength;
                else
                    refusal = Refusal{503, "busy, try again later"};
            }
            if (!refusal && (contentLength.value_or(0) > 0 || chunked) &&
                sameText(request.header("Expect"), "100-continue")) {
                if (!connection.send("HTTP/1.1 100 Continue\r\n\r\n", Clock::now() + limits.writeTime))
                    break;
            }
        }

        // The body, with a deadline that grows with its announced size.
        if (!refusal && contentLength) {
            const auto deadline = Clock::now() + allowance(limits.bodyTime, *contentLength, limits.rate);
            while (in.size() < *contentLength) {
                const Connection::Wait wait = connection.receive(deadline);
                if (wait == Connection::Wait::Late) {
                    refusal = Refusal{408, "request body too slow"};
                    break;
                }
                if (wait != Connection::Wait::Ready) {
                    ended = true;
                    break;
                }
            }
            if (!refusal && !ended) {
                request.body = in.substr(0, *contentLength);
                in.erase(0, *contentLength);
            }
        } else if (!refusal && chunked) {
            const auto start = Clock::now();
            // Waits until `in` holds `bytes` or refuses the request.
            auto need = [&](size_t bytes) {
                const auto deadline = start + allowance(limits.bodyTime, request.body.size() + bytes, limits.rate);
                while (in.size() < bytes) {
                    const Connection::Wait wait = connection.receive(deadline);
                    if (wait == Connection::Wait::Late)
                        refusal = Refusal{408, "request body too slow"};
                    else if (wait != Connection::Wait::Ready)
                        ended = true;
                    if (refusal || ended)
                        return false;
                }
                return true;
            };
            auto line = [&](std::string& text) {
                for (;;) {
                    const size_t eol = in.find('\n');
                    if (eol != std::string::npos) {
                        text.assign(in, 0, eol);
                        in.erase(0, eol + 1);
                        if (!text.empty() && text.back() == '\r')
                            text.pop_back();
                        return true;
                    }
                    if (in.size() > 1024) {
                        refusal = Refusal{400, "bad chunk"};
                        return false;
                    }
                    if (!need(in.size() + 1))
                        return false;
                }
            };
            size_t trailers = 0;
            for (bool last = false; !refusal && !ended;) {
                std::string text;
                if (!line(text))
                    break;
                if (last) {
                    trailers += text.size() + 2;
                    if (text.empty())
                        break;
                    if (trailers > limits.headBytes)
                        refusal = Refusal{431, "chunk trailers too large"};
                    continue;
                }
                const std::string_view sizeText = trim(std::string_view(text).substr(0, text.find(';')));
                size_t size = 0;
                const auto [ptr, ec] = std::from_chars(sizeText.data(), sizeText.data() + sizeText.size(), size, 16);
                if (sizeText.empty() || ptr != sizeText.data() + sizeText.size()) {
                    refusal = Refusal{400, "bad chunk size"};
                    break;
                }
                if (ec != std::errc() || size > route->maxBody - request.body.size()) {
                    refusal = Refusal{413, "request body too large"};
                    break;
                }
                if (size == 0) {
                    last = true;
                    continue;
                }
                if (!reserveBody(size)) {
                    refusal = Refusal{503, "busy, try again later"};
                    break;
                }
                reserved += size;
                if (!need(size + 2))
                    break;
                if (in.compare(size, 2, "\r\n") != 0 && in[size] != '\n') {
                    refusal = Refusal{400, "bad chunk"};
                    break;
                }
                request.body.append(in, 0, size);
                in.erase(0, size + (in[size] == '\n' ? 1 : 2));
            }
        }
        if (ended) {
            releaseBody(reserved);
            break;
        }

        if (refusal) {
            // The rest of the request is not read: the connection ends after the answer.
            response.status = refusal->status;
            response.body = std::string(refusal->text) + "\n";
            close = true;
        } else {
            try {
                route->handler(request, response);
            } catch (...) {
                response = HttpResponse{};
                response.status = 500;
                response.body = "internal error\n";
            }
        }
        releaseBody(reserved);
        request.body.shrink_to_fit();
        const std::string head = responseHead(response.status, response.contentType, response.body.size(), close);
        const auto deadline = Clock::now() + allowance(limits.writeTime, response.body.size(), limits.rate);
        const bool sent = connection.send(head, deadline) && connection.send(response.body, deadline);
        if (m_logger)
            m_logger(request, response);
        if (!sent || close)
            break;
    }
    if (!m_stopping) {
        // Let the answer leave before the close: what the peer still sends is read and dropped
        // for a moment, as closing with unread bytes would reset the connection and could lose
        // the answer on its way.
        ::shutdown(socket, SHUT_WR);
        connection.buffer.clear();
        const auto deadline = Clock::now() + std::chrono::milliseconds(500);
        for (size_t drained = 0; drained < limits.bodyBytes; drained += connection.buffer.size()) {
            connection.buffer.clear();
            if (connection.receive(deadline) != Connection::Wait::Ready)
                break;
        }
    }
    ::close(socket);
    std::lock_guard lock(m_mutex);
    if (--m_perAddress[address] == 0)
        m_perAddress.erase(address);
    --m_open;
    m_ended.notify_all();
}

} // namespace cdaz_exchange
