// cdaz-exchange: the reference CDAZ exchange server. It answers the search, download and upload
// pages the library's exchange client uses, keeps the uploads in a data folder, logs one line per
// request to stderr, and stops on SIGINT or SIGTERM.
//
//   cdaz-exchange --port PORT --data DIR [--bind ADDRESS]
//
// With --port 0 a free port is taken; the line "listening on ADDRESS:PORT" on stdout names it.
#include <pthread.h>
#include <signal.h>

#include <CLI/CLI.hpp>
#include <atomic>
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

    cdaz_exchange::Store store(data);
    httplib::Server server;
    server.set_payload_max_length(tamlib::exchange::kMaxCdazBytes + tamlib::exchange::kMaxUploadOverhead);
    server.set_read_timeout(10, 0);
    server.set_write_timeout(10, 0);
    server.set_keep_alive_timeout(5);
    server.set_keep_alive_max_count(20);
    server.set_logger([](const httplib::Request& req, const httplib::Response& res) {
        // Address, method, path, status, announced request length, bytes answered.
        const std::string length = req.get_header_value("Content-Length");
        std::fprintf(stderr, "%s %s %s %d %s %zu\n", req.remote_addr.c_str(), req.method.c_str(),
                     req.path.c_str(), res.status, length.empty() ? "-" : length.c_str(), res.body.size());
    });
    cdaz_exchange::installRoutes(server, store);

    const int bound =
        port == 0 ? server.bind_to_any_port(bind) : (server.bind_to_port(bind, port) ? port : -1);
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
    const bool listened = server.listen_after_bind();
    if (!stopping.exchange(true))
        pthread_kill(waiter.native_handle(), SIGTERM); // wakes the waiter, which then ends
    waiter.join();
    return listened ? 0 : 1;
}
