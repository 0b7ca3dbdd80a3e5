// The one guard of every exported C function: no exception crosses a library boundary.
//
//     int32_t LbrSomething(...) { return tamrin::guarded<int32_t>(0, [&] { ... }); }
//
// Whatever the body throws (an allocation failure inside a std::string or std::vector, a
// std::system_error from a thread or a lock, anything else) becomes the export's documented
// failure value. Functions without a result use guardedVoid.
#pragma once

#include <utility>

namespace tamrin {

template <typename Result, typename Body> Result guarded(Result fallback, Body&& body) noexcept
{
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        return fallback;
    }
}

template <typename Body> void guardedVoid(Body&& body) noexcept
{
    try {
        std::forward<Body>(body)();
    } catch (...) {
    }
}

} // namespace tamrin
