// cdaz-exchange: the reference CDAZ exchange server. It answers the search, download and upload
// pages the library's exchange client uses, keeps the uploads in a data folder, logs one line per
// request to stderr, and stops on SIGINT or SIGTERM.
//
//   cdaz-exchange --port PORT --data DIR [--bind ADDRESS] [--head-seconds S] [--body-seconds S]
//                 [--connections N] [--per-address N]
//
// With --port 0 a free port is taken; the line "listening on ADDRESS:PORT" on stdout names it.
// A request's head must arrive within --head-seconds of its first byte, its body within
// --body-seconds plus one second per 16 KiB; slower requests are answered 408 and closed.
#include <pthread.h>
#include <signal.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <thread>

#include "exchange/exchange_protocol.h"
#include "exchange_routes.h"

int main(int argc, char** argv)
{
    CLI::App app{"Reference CDAZ exchange server"};
    int port = -1;
    std::string data;
    std::string bind = "127.0.0.1";
    app.add_option("--port", port, "Port to listen on (0: a free one)")
        ->required()
        ->check(CLI::Range(0, 65535));
    app.add_option("--data", data, "Folder that holds the uploaded CDAZ files")->required();
    app.add_option("--bind", bind, "Address to listen on")->capture_default_str();
    cdaz_exchange::HttpLimits limits;
    limits.bodyBytes = tamlib::exchange::kMaxCdazBytes + tamlib::exchange::kMaxUploadOverhead;
    double headSeconds = 5, bodySeconds = 10;
    app.add_option("--head-seconds", headSeconds, "Time for a request's head")
        ->check(CLI::Range(0.1, 3600.0))
        ->capture_default_str();
    app.add_option("--body-seconds", bodySeconds, "Time for a request's body, beside its size allowance")
        ->check(CLI::Range(0.1, 3600.0))
        ->capture_default_str();
    app.add_option("--connections", limits.connections, "Connections served at once")
        ->check(CLI::Range(1, 4096))
        ->capture_default_str();
    app.add_option("--per-address", limits.connectionsPerAddress, "Connections served at once per client address")
        ->check(CLI::Range(1, 4096))
        ->capture_default_str();
    CLI11_PARSE(app, argc, argv);

    std::error_code error;
    std::filesystem::create_directories(data, error);
    if (error || !std::filesystem::is_directory(data)) {
        std::fprintf(stderr, "cdaz-exchange: cannot use the data folder %s\n", data.c_str());
        return 1;
    }

    // The signals are taken by one thread with sigwait; every other thread blocks them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    limits.headTime = std::chrono::milliseconds(int64_t(headSeconds * 1000));
    limits.bodyTime = std::chrono::milliseconds(int64_t(bodySeconds * 1000));

    cdaz_exchange::Store store(data);
    cdaz_exchange::HttpServer server(limits);
    server.setLogger([](const cdaz_exchange::HttpRequest& req, const cdaz_exchange::HttpResponse& res) {
        // Address, method, path, status, announced request length, bytes answered.
        const std::string length(req.header("Content-Length"));
        std::fprintf(stderr, "%s %s %s %d %s %zu\n", req.remoteAddress.c_str(),
                     req.method.empty() ? "-" : req.method.c_str(), req.path.empty() ? "-" : req.path.c_str(),
                     res.status, length.empty() ? "-" : length.c_str(), res.body.size());
    });
    cdaz_exchange::installRoutes(server, store);

    const int bound = server.bind(bind, port);
    if (bound <= 0) {
        std::fprintf(stderr, "cdaz-exchange: cannot listen on %s:%d\n", bind.c_str(), port);
        return 1;
    }
    std::printf("listening on %s:%d\n", bind.c_str(), bound);
    std::fflush(stdout);

    std::atomic<bool> stopping{false};
    std::thread waiter([&] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        if (!stopping.exchange(true)) {
            std::fprintf(stderr, "cdaz-exchange: stopping on signal %d\n", signal);
            server.stop();
        }
    });
    const bool listened = server.run();
    if (!stopping.exchange(true))
        pthread_kill(waiter.native_handle(), SIGTERM); // wakes the waiter, which then ends
    waiter.join();
    return listened ? 0 : 1;
}
