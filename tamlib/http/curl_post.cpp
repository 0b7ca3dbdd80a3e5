// The HTTP module: the one place libcurl is used. libtamlib loads it on the first exchange request
// (exchange/http_post.cpp), so that the programs do not load libcurl and the libraries it needs
// at every start.
#include "exchange/http_post.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

#include "exchange/exchange_protocol.h"

namespace tamlib::exchange {

namespace {

bool curlReady()
{
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ready;
}

struct Transfer
{
    CURL* curl = nullptr;
    const PostRequest* request = nullptr;
    size_t sent = 0;
    size_t received = 0;
    bool refused = false;
};

size_t receive(char* data, size_t size, size_t count, void* user)
{
    auto* transfer = static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    if (transfer->request->replyLimit && bytes > transfer->request->replyLimit - transfer->received) {
        transfer->refused = true;
        return 0;
    }
    transfer->received += bytes;
    if (!transfer->request->sink)
        return bytes;
    long status = 0;
    curl_easy_getinfo(transfer->curl, CURLINFO_RESPONSE_CODE, &status);
    try {
        if (!transfer->request->sink(status, reinterpret_cast<const uint8_t*>(data), bytes)) {
            transfer->refused = true;
            return 0;
        }
    } catch (...) {
        transfer->refused = true;
        return 0;
    }
    return bytes;
}

size_t send(char* buffer, size_t size, size_t count, void* user)
{
    auto* transfer = static_cast<Transfer*>(user);
    const std::span<const uint8_t> body = transfer->request->body;
    const size_t room = std::min(size * count, transfer->request->piece);
    const size_t length = std::min(room, body.size() - transfer->sent);
    std::memcpy(buffer, body.data() + transfer->sent, length);
    transfer->sent += length;
    return length;
}

struct CurlDeleter
{
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct ListDeleter
{
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

PostResult curlPost(const Endpoint& endpoint, const PostRequest& request)
{
    PostResult result;
    if (endpoint.address.empty() || !request.path || !curlReady())
        return result;
    std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl)
        return result;
    std::unique_ptr<curl_slist, ListDeleter> headers;
    for (const std::string& header : request.headers) {
        curl_slist* list = curl_slist_append(headers.get(), header.c_str());
        if (!list)
            return result;
        headers.release();
        headers.reset(list);
    }
    const std::string url = "http://" + endpoint.address + request.path;
    Transfer transfer;
    transfer.curl = curl.get();
    transfer.request = &request;

    CURL* c = curl.get();
    bool ok = curl_easy_setopt(c, CURLOPT_URL, url.c_str()) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http") == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
    // Direct access: no proxy from the environment.
    ok = ok && curl_easy_setopt(c, CURLOPT_PROXY, "") == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_USERAGENT, kUserAgent) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1)) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, endpoint.connectMs) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, endpoint.totalMs) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, endpoint.lowSpeedBytes) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, endpoint.lowSpeedSeconds) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get()) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, receive) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer) == CURLE_OK;
    if (request.replyLimit)
        ok = ok && curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(request.replyLimit)) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_POST, 1L) == CURLE_OK;
    if (request.piece) {
        ok = ok && curl_easy_setopt(c, CURLOPT_READFUNCTION, send) == CURLE_OK;
        ok = ok && curl_easy_setopt(c, CURLOPT_READDATA, &transfer) == CURLE_OK;
        ok = ok &&
             curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request.body.size())) == CURLE_OK;
    } else {
        ok = ok &&
             curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request.body.size())) == CURLE_OK;
        ok = ok && curl_easy_setopt(c, CURLOPT_POSTFIELDS, request.body.data()) == CURLE_OK;
    }
    if (!ok)
        return result;
    const CURLcode code = curl_easy_perform(c);
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    result.status = status;
    result.complete = code == CURLE_OK && !transfer.refused;
    return result;
}

} // namespace
} // namespace tamlib::exchange

extern "C" __attribute__((visibility("default"))) void
tamlibHttpPost(const tamlib::exchange::Endpoint* endpoint, const tamlib::exchange::PostRequest* request,
               tamlib::exchange::PostResult* result)
{
    try {
        *result = tamlib::exchange::curlPost(*endpoint, *request);
    } catch (...) {
        *result = {};
    }
}
