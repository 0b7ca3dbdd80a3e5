// The exchange server's HTTP/1.1 front: an accept loop and one thread per connection, each with
// deadlines of its own for the request head, the body and the answer, and caps on the connections
// in all and from one address. A request reaches its handler only once it is complete, so that a
// slow client holds nothing but its own connection, and a request whose head already shows it is
// over a limit is answered at once.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cdaz_exchange {

struct HttpRequest
{
    std::string method;
    std::string target;
    std::string path; // the target up to '?'
    std::string version;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    std::string remoteAddress;

    // The first header of that name (compared without case), or empty.
    std::string_view header(std::string_view name) const;
};

struct HttpResponse
{
    int status = 200;
    std::string contentType = "text/plain";
    std::string body;
};

struct HttpLimits
{
    size_t headBytes = 16 << 10;  // request line, headers, and chunk trailers
    size_t headerCount = 100;
    size_t bodyBytes = 1 << 20;
    size_t bodyBytesInFlight = 256 << 20; // bodies being received by all connections together
    std::chrono::milliseconds headTime{5000};  // from the first byte of a request to its end of head
    std::chrono::milliseconds bodyTime{10000}; // for a body, plus one second per `rate` bytes
    std::chrono::milliseconds idleTime{5000};  // for the next request on a kept connection
    std::chrono::milliseconds writeTime{10000}; // for an answer, plus one second per `rate` bytes
    size_t rate = 16 << 10;
    size_t requestsPerConnection = 20;
    size_t connections = 256;
    size_t connectionsPerAddress = 32;
};

class HttpServer
{
  public:
    using Handler = std::function<void(const HttpRequest&, HttpResponse&)>;
    using Logger = std::function<void(const HttpRequest&, const HttpResponse&)>;

    explicit HttpServer(HttpLimits limits = {});
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // `maxBody` (0: the server's limit) refuses larger bodies of this page from their head.
    void route(const std::string& method, const std::string& path, Handler handler, size_t maxBody = 0);
    void setLogger(Logger logger) { m_logger = std::move(logger); }

    // Listens on `address`:`port` (0: a free port); the port, or -1.
    int bind(const std::string& address, int port);
    // Serves until stop(); returns once every connection has ended. False when not bound.
    bool run();
    // Ends run(): no new connections, open ones are closed at their next wait. Safe from any thread.
    void stop();
    bool running() const { return m_running; }
    // Connections being served now.
    size_t openConnections();

    const HttpLimits& limits() const { return m_limits; }

  private:
    class Connection;
    friend class Connection;

    void serve(int socket, std::string address);
    struct Route
    {
        Handler handler;
        size_t maxBody;
    };
    // The page of a request, or null with the status that says why there is none.
    const Route* findRoute(const HttpRequest& request, int& status) const;
    bool reserveBody(size_t bytes);
    void releaseBody(size_t bytes);

    HttpLimits m_limits;
    std::map<std::pair<std::string, std::string>, Route> m_routes;
    Logger m_logger;
    int m_listener = -1;
    int m_wake[2] = {-1, -1};
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_stopping{false};
    std::mutex m_mutex;
    std::condition_variable m_ended;
    size_t m_open = 0;
    std::map<std::string, size_t> m_perAddress;
    std::atomic<size_t> m_bodyBytes{0};
};

} // namespace cdaz_exchange
