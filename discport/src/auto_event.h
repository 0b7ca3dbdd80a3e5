// An auto-reset event: set() lets exactly one wait through (or the next one, when nobody waits);
// a wait that lets a thread through resets the event.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace discport {

class AutoResetEvent
{
  public:
    void set()
    {
        {
            std::lock_guard lock(m_mutex);
            m_signalled = true;
        }
        m_condition.notify_one();
    }

    void reset()
    {
        std::lock_guard lock(m_mutex);
        m_signalled = false;
    }

    void wait()
    {
        std::unique_lock lock(m_mutex);
        m_condition.wait(lock, [this] { return m_signalled; });
        m_signalled = false;
    }

    // True when the event was signalled within `milliseconds`, false on time-out.
    bool waitFor(uint32_t milliseconds)
    {
        std::unique_lock lock(m_mutex);
        if (!m_condition.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                  [this] { return m_signalled; }))
            return false;
        m_signalled = false;
        return true;
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_condition;
    bool m_signalled = false;
};

} // namespace discport
