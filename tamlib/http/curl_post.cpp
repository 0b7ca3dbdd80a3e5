// The HTTP module: the one place libcurl is used. libtamlib loads it on the first exchange request
// (exchange/http_post.cpp), so that the programs do not load libcurl and the libraries it needs
// at every start. Its whole interface is the C call of exchange/http_module.h.
#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

#include "exchange/http_module.h"

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
    const TamlibHttpRequest* request = nullptr;
    size_t sent = 0;
    size_t received = 0;
    bool refused = false;
};

size_t receive(char* data, size_t size, size_t count, void* user)
{
    auto* transfer = static_cast<Transfer*>(user);
    const TamlibHttpRequest& request = *transfer->request;
    const size_t bytes = size * count;
    if (request.replyLimit && bytes > request.replyLimit - transfer->received) {
        transfer->refused = true;
        return 0;
    }
    transfer->received += bytes;
    if (!request.sink)
        return bytes;
    long status = 0;
    curl_easy_getinfo(transfer->curl, CURLINFO_RESPONSE_CODE, &status);
    if (!request.sink(request.sinkUser, status, reinterpret_cast<const uint8_t*>(data), bytes)) {
        transfer->refused = true;
        return 0;
    }
    return bytes;
}

size_t send(char* buffer, size_t size, size_t count, void* user)
{
    auto* transfer = static_cast<Transfer*>(user);
    const TamlibHttpRequest& request = *transfer->request;
    const size_t room = std::min(size * count, request.piece);
    const size_t length = std::min(room, request.bodySize - transfer->sent);
    if (length)
        std::memcpy(buffer, request.body + transfer->sent, length);
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

void post(const TamlibHttpRequest& request, TamlibHttpResult& result)
{
    if (!request.url || !curlReady())
        return;
    std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl)
        return;
    std::unique_ptr<curl_slist, ListDeleter> headers;
    for (uint32_t i = 0; i < request.headerCount; ++i) {
        curl_slist* list = curl_slist_append(headers.get(), request.headers[i]);
        if (!list)
            return;
        headers.release();
        headers.reset(list);
    }
    Transfer transfer;
    transfer.curl = curl.get();
    transfer.request = &request;

    CURL* c = curl.get();
    bool ok = curl_easy_setopt(c, CURLOPT_URL, request.url) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http") == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
    // Direct access: no proxy from the environment.
    ok = ok && curl_easy_setopt(c, CURLOPT_PROXY, "") == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_USERAGENT, request.userAgent) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1)) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, request.connectMs) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, request.totalMs) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, request.lowSpeedBytes) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, request.lowSpeedSeconds) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get()) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, receive) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer) == CURLE_OK;
    if (request.replyLimit)
        ok = ok && curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(request.replyLimit)) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_POST, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request.bodySize)) == CURLE_OK;
    if (request.piece) {
        ok = ok && curl_easy_setopt(c, CURLOPT_READFUNCTION, send) == CURLE_OK;
        ok = ok && curl_easy_setopt(c, CURLOPT_READDATA, &transfer) == CURLE_OK;
    } else {
        // Never null: without a body libcurl would read one from standard input.
        const void* body = request.body ? static_cast<const void*>(request.body) : "";
        ok = ok && curl_easy_setopt(c, CURLOPT_POSTFIELDS, body) == CURLE_OK;
    }
    if (!ok)
        return;
    const CURLcode code = curl_easy_perform(c);
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    result.status = status;
    result.complete = code == CURLE_OK && !transfer.refused;
}

} // namespace

extern "C" __attribute__((visibility("default"))) void tamlibHttpPost(const TamlibHttpRequest* request,
                                                                      TamlibHttpResult* result)
{
    if (!result)
        return;
    *result = {};
    if (!request)
        return;
    try {
        post(*request, *result);
    } catch (...) {
        *result = {};
    }
}
