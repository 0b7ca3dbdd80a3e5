#include "exchange/http_post.h"

#include <dlfcn.h>

#include <filesystem>
#include <mutex>

#include "exchange/exchange_protocol.h"
#include "env/folders.h"
#include "exchange/http_module.h"
#include "streamkit/lbr.h"
#include "tamlib/environment.h"

namespace tamlib::exchange {

namespace {

constexpr const char* kHttpModule = "libtamlib-http.so";

// The module beside libtamlib; where this code is linked into a program (the tests), beside
// libstreamkit; last, wherever the loader finds it by name.
void* loadModule()
{
    for (const void* anchor : {reinterpret_cast<const void*>(&libraryFolder), reinterpret_cast<const void*>(&LbrOpenPSR)}) {
        const std::filesystem::path folder = objectFolder(anchor);
        if (folder.empty())
            continue;
        if (void* module = ::dlopen((folder / kHttpModule).c_str(), RTLD_NOW | RTLD_LOCAL))
            return module;
    }
    return ::dlopen(kHttpModule, RTLD_NOW | RTLD_LOCAL);
}

// Loaded on the first request and kept for the rest of the process (libcurl's global state
// lives in it). Null when the module cannot be loaded; the reason goes to the debug log.
TamlibHttpPostFn postEntry()
{
    static std::once_flag once;
    static TamlibHttpPostFn entry = nullptr;
    std::call_once(once, [] {
        void* module = loadModule();
        if (!module) {
            const char* why = ::dlerror();
            PlbDEBUG("exchange: %s cannot be loaded: %s\n", kHttpModule, why ? why : "?");
            return;
        }
        entry = reinterpret_cast<TamlibHttpPostFn>(::dlsym(module, TAMLIB_HTTP_POST_NAME));
        if (!entry)
            PlbDEBUG("exchange: %s has no %s\n", kHttpModule, TAMLIB_HTTP_POST_NAME);
    });
    return entry;
}

// The request's sink behind the module's C callback; an exception ends the transfer as failed.
int32_t sinkRelay(void* user, long status, const uint8_t* data, size_t size)
{
    try {
        return static_cast<const PostRequest*>(user)->sink(status, data, size) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

} // namespace

PostResult httpPost(const Endpoint& endpoint, const PostRequest& request)
{
    PostResult result;
    if (endpoint.address.empty() || !request.path)
        return result;
    const TamlibHttpPostFn entry = postEntry();
    if (!entry)
        return result;
    const std::string url = "http://" + endpoint.address + request.path;
    std::vector<const char*> headers;
    headers.reserve(request.headers.size());
    for (const std::string& header : request.headers)
        headers.push_back(header.c_str());

    TamlibHttpRequest call{};
    call.url = url.c_str();
    call.userAgent = kUserAgent;
    call.headers = headers.data();
    call.headerCount = uint32_t(headers.size());
    call.body = request.body.data();
    call.bodySize = request.body.size();
    call.piece = request.piece;
    call.replyLimit = request.replyLimit;
    call.connectMs = endpoint.connectMs;
    call.totalMs = endpoint.totalMs;
    call.lowSpeedBytes = endpoint.lowSpeedBytes;
    call.lowSpeedSeconds = endpoint.lowSpeedSeconds;
    if (request.sink) {
        call.sink = sinkRelay;
        call.sinkUser = const_cast<PostRequest*>(&request);
    }
    TamlibHttpResult answer{};
    entry(&call, &answer);
    result.complete = answer.complete != 0;
    result.status = answer.status;
    return result;
}

} // namespace tamlib::exchange
