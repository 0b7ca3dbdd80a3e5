// Calls into the user interface from any thread. The library's workers (the disc analysis, the
// player's threads) reach the user-interface port from their own threads; every widget must be
// touched on the GUI thread only. runOnGuiThread runs a function there and waits for its result;
// called on the GUI thread it runs the function at once.
#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <optional>
#include <type_traits>
#include <utility>

namespace tamlibui {

// True on the thread of the application object (false when there is none).
inline bool onGuiThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

// Runs `f` on the GUI thread and returns its result; nothing (or the default value) when there is
// no application object or the GUI thread no longer runs its event loop. The GUI thread must
// not be waiting for the caller, or both wait for ever: callers from workers never hold a lock
// the GUI thread takes.
template <typename F> auto runOnGuiThread(F&& f) -> std::invoke_result_t<F>
{
    using Result = std::invoke_result_t<F>;
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        if constexpr (std::is_void_v<Result>)
            return;
        else
            return Result{};
    }
    if (onGuiThread())
        return f();
    if constexpr (std::is_void_v<Result>) {
        QMetaObject::invokeMethod(app, std::forward<F>(f), Qt::BlockingQueuedConnection);
    } else {
        std::optional<Result> result;
        QMetaObject::invokeMethod(
            app, [&] { result.emplace(f()); }, Qt::BlockingQueuedConnection);
        return result ? std::move(*result) : Result{};
    }
}

} // namespace tamlibui
