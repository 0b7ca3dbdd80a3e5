#include "interrupt.h"

namespace tamrin::cli {

namespace {

std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the stop flag is set from a signal handler");

extern "C" void onInterrupt(int)
{
    g_interrupted.store(true, std::memory_order_relaxed);
}

} // namespace

InterruptStops::InterruptStops()
{
    g_interrupted.store(false);
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    m_installed = ::sigaction(SIGINT, &action, &m_previous) == 0;
}

InterruptStops::~InterruptStops()
{
    if (m_installed)
        ::sigaction(SIGINT, &m_previous, nullptr);
}

const std::atomic<bool>& InterruptStops::flag() const
{
    return g_interrupted;
}

} // namespace tamrin::cli
