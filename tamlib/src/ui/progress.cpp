#include "ui/progress.h"

#include <algorithm>
#include <chrono>
#include <new>

#include "tamlib/strings.h"
#include "tamrin_common/c_guard.h"
#include "tamrin_common/handle_registry.h"

namespace tamlib {

ProgressEstimator::ProgressEstimator(uint32_t total, uint32_t step, Clock clock, void* context)
    : m_clock(clock ? clock : &steadyClock), m_context(context), m_total(total), m_step(std::max(step, 1u))
{
    // At most 0xFFFF updates over the whole work; then no step above 0x7FFF, and none above half
    // the work for small totals.
    while (m_total / m_step > 0xFFFF)
        m_step *= 2;
    // A step of 0 (a total below 2) would never let an update through; 1 is the least.
    m_step = std::max(std::min(m_step, m_total >= 65534 ? 0x7FFFu : m_total / 2), 1u);
    m_start = now();
}

uint32_t ProgressEstimator::steadyClock(void*)
{
    using namespace std::chrono;
    return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

uint32_t ProgressEstimator::update(uint32_t value, uint32_t* estimateMs)
{
    // The estimate reported is the one held before this update: a caller polling with the same
    // value sees it settle one call later.
    if (estimateMs)
        *estimateMs = m_estimate;
    const uint32_t elapsed = now() - m_start;
    if (elapsed == 0 || value < m_last || value - m_last < m_step || value == m_last)
        return elapsed;

    const uint32_t sinceLast = elapsed - m_lastElapsed;
    if (sinceLast < 100 && m_step < 0x8000) {
        // Updates come too often to time: take bigger steps.
        m_step *= 4;
        m_timePerStep = uint32_t(std::min<uint64_t>(uint64_t(m_timePerStep) * 4, UINT32_MAX));
        return elapsed;
    }

    const uint32_t progress = value - m_last;
    const uint64_t interval = std::min<uint64_t>(uint64_t(sinceLast) * m_step / progress, UINT32_MAX);
    uint64_t oldWeight = 0, newWeight = 1;
    if (m_haveTimePerStep) {
        // Early intervals say little; later the learned time per step settles.
        const uint64_t done = uint64_t(value) * 1000 / std::max(m_total, 1u); // tenths of a percent
        if (done < 10)
            oldWeight = 1, newWeight = 4;
        else if (done < 20)
            oldWeight = 1, newWeight = 1;
        else if (done < 100)
            oldWeight = 2, newWeight = 1;
        else if (done < 500)
            oldWeight = 4, newWeight = 1;
        else
            oldWeight = 8, newWeight = 1;
    }
    const uint32_t previous = m_timePerStep;
    const bool hadTimePerStep = m_haveTimePerStep;
    m_timePerStep = uint32_t((previous * oldWeight + interval * newWeight) / (oldWeight + newWeight));
    m_haveTimePerStep = true;
    m_last = value;
    m_lastElapsed = elapsed;

    if (m_estimate == 0) {
        // The first estimate waits until the time per step holds within 1 %.
        const uint32_t change =
            m_timePerStep > previous ? m_timePerStep - previous : previous - m_timePerStep;
        if (!hadTimePerStep || uint64_t(change) * 100 > previous)
            return elapsed;
    }
    const uint64_t remaining = std::min<uint64_t>(
        uint64_t(m_total > value ? m_total - value : 0) * m_timePerStep / m_step, UINT32_MAX);
    const uint64_t candidate = std::min<uint64_t>(remaining + elapsed, UINT32_MAX);
    const uint64_t difference = candidate > m_estimate ? candidate - m_estimate : m_estimate - candidate;
    if (difference > remaining / 20 || elapsed >= m_estimate)
        m_estimate = uint32_t(candidate);
    return elapsed;
}

} // namespace tamlib

namespace {

struct ProgressHandle
{
    uint32_t magic = PLB_PROGRESS_MAGIC;
    tamlib::ProgressEstimator estimator;
};

// Handles are looked up among the live ones before they are touched, so a stale or foreign
// pointer is never read.
tamrin_common::HandleRegistry g_live;

ProgressHandle* live(PlbProgress* progress)
{
    auto* handle = reinterpret_cast<ProgressHandle*>(progress);
    if (!g_live.contains(handle))
        return nullptr;
    return handle->magic == PLB_PROGRESS_MAGIC ? handle : nullptr;
}

} // namespace

PLB_API PlbProgress* PlbBeginProgress(uint32_t total, uint32_t step)
{
    return tamrin::guarded<PlbProgress*>(nullptr, [&]() -> PlbProgress* {
        auto* handle =
            new (std::nothrow) ProgressHandle{PLB_PROGRESS_MAGIC, tamlib::ProgressEstimator(total, step)};
        if (!handle)
            return nullptr;
        if (!g_live.add(handle)) {
            delete handle;
            return nullptr;
        }
        return reinterpret_cast<PlbProgress*>(handle);
    });
}

PLB_API uint32_t PlbSetProgress(PlbProgress* progress, uint32_t value, uint32_t* estimateSeconds)
{
    return tamrin::guarded<uint32_t>(0u, [&]() -> uint32_t {
        ProgressHandle* handle = live(progress);
        uint32_t estimate = 0;
        const uint32_t elapsed = handle ? handle->estimator.update(value, &estimate) : 0;
        if (estimateSeconds)
            *estimateSeconds = estimate / 1000;
        return elapsed / 1000;
    });
}

PLB_API int32_t PlbEndProgress(PlbProgress* progress)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        auto* handle = reinterpret_cast<ProgressHandle*>(progress);
        if (!g_live.remove(handle))
            return 0;
        handle->magic = 0;
        delete handle;
        return 1;
    });
}
