#include "exchange/http_post.h"

#include <dlfcn.h>

#include <mutex>

#include "tamlib/environment.h"

namespace tamlib::exchange {

namespace {

// The HTTP module beside libtamlib (found through the library's run path).
constexpr const char* kHttpModule = "libtamlib-http.so";

using PostEntry = void (*)(const Endpoint*, const PostRequest*, PostResult*);

// Loaded on the first request and kept for the rest of the process (libcurl's global state
// lives in it). Null when the module cannot be loaded; the reason goes to the debug log.
PostEntry postEntry()
{
    static std::once_flag once;
    static PostEntry entry = nullptr;
    std::call_once(once, [] {
        void* module = ::dlopen(kHttpModule, RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            const char* why = ::dlerror();
            PlbDEBUG("exchange: %s cannot be loaded: %s\n", kHttpModule, why ? why : "?");
            return;
        }
        entry = reinterpret_cast<PostEntry>(::dlsym(module, "tamlibHttpPost"));
        if (!entry)
            PlbDEBUG("exchange: %s has no tamlibHttpPost\n", kHttpModule);
    });
    return entry;
}

} // namespace

PostResult httpPost(const Endpoint& endpoint, const PostRequest& request)
{
    PostResult result;
    if (endpoint.address.empty() || !request.path)
        return result;
    if (const PostEntry entry = postEntry())
        entry(&endpoint, &request, &result);
    return result;
}

} // namespace tamlib::exchange
