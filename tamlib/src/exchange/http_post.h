// One HTTP POST through libcurl, bounded in time and in the size of its answer. libcurl is in a
// module of its own (tamlib/http), loaded on the first request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "exchange/exchange_client.h"

namespace tamlib::exchange {

struct PostRequest
{
    const char* path = nullptr;
    std::vector<std::string> headers;
    std::span<const uint8_t> body;
    // 0: the body is handed over at once; otherwise it is sent in pieces of at most this size,
    // with its length announced in advance.
    size_t piece = 0;
    // Bodies of answers beyond this many bytes end the transfer as failed.
    size_t replyLimit = 0;
    // Receives the answer's body as it arrives, with the status code; false ends the transfer
    // as failed. Null: the body is dropped.
    std::function<bool(long status, const uint8_t* data, size_t size)> sink;
};

struct PostResult
{
    bool complete = false; // the request went out and the whole answer came back
    long status = 0;       // 0 when no answer arrived
};

PostResult httpPost(const Endpoint& endpoint, const PostRequest& request);

} // namespace tamlib::exchange
