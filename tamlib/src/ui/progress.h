// The remaining-time estimator behind PlbBeginProgress: learns the time per step of work from
// the updates and estimates the total time. The clock is a function so tests can drive it.
#pragma once

#include <cstdint>

namespace tamlib {

class ProgressEstimator
{
  public:
    // Milliseconds of a monotonic tick counter; differences are taken with wrapping arithmetic.
    using Clock = uint32_t (*)(void* context);

    ProgressEstimator(uint32_t total, uint32_t step, Clock clock = nullptr, void* context = nullptr);

    // Records `value`; returns the elapsed milliseconds. estimateMs receives the estimated total
    // as it stood before this update (0 until an estimate exists).
    uint32_t update(uint32_t value, uint32_t* estimateMs);

    uint32_t step() const { return m_step; }
    uint32_t timePerStep() const { return m_timePerStep; }
    uint32_t estimate() const { return m_estimate; }

    static uint32_t steadyClock(void* context);

  private:
    uint32_t now() const { return m_clock(m_context); }

    Clock m_clock;
    void* m_context;
    uint32_t m_total;
    uint32_t m_last = 0;
    uint32_t m_step;
    uint32_t m_start;
    uint32_t m_lastElapsed = 0;
    uint32_t m_timePerStep = 0;
    bool m_haveTimePerStep = false;
    uint32_t m_estimate = 0;
};

} // namespace tamlib
