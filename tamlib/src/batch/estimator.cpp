// The batch's time estimate. Every type starts from a guess of its start time (ms before the
// first progress report) and its speed (us of work per ms of stream). The first report of an
// item measures its start; later reports measure its pace. A type's speed becomes the weighted
// mean of its finished items and the current one; types that have finished nothing yet are
// scaled by the same factor as the type being measured (a slow machine is slow at everything).
// All ticks are unsigned 32-bit ms, subtracted modulo 2^32; products are taken in 64 bits and
// saturate where they are stored back in 32.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "tamlib/batch.h"
#include "tamrin_common/c_guard.h"

namespace tamlib::batch {

namespace {

uint32_t saturate(uint64_t value)
{
    return value > UINT32_MAX ? UINT32_MAX : uint32_t(value);
}

// value × numerator ÷ denominator, at least 1.
uint32_t scaled(uint32_t value, uint32_t numerator, uint32_t denominator)
{
    return std::max<uint32_t>(saturate(uint64_t(value) * numerator / std::max<uint32_t>(denominator, 1)), 1);
}

// Sums and products that stop at the largest value instead of wrapping.
uint64_t add(uint64_t a, uint64_t b)
{
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

uint64_t product(uint64_t a, uint64_t b)
{
    return b != 0 && a > UINT64_MAX / b ? UINT64_MAX : a * b;
}

bool validType(int32_t type)
{
    return type >= 0 && type < PLB_CONV_TYPES;
}

} // namespace

uint32_t steadyMs()
{
    using namespace std::chrono;
    return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

TypeStats defaultStats(int32_t type)
{
    // Start ms and us per ms of stream, by type: AVI, WAVE, CSTR, BMP, MIDI, MP3.
    static constexpr uint32_t kStart[PLB_CONV_TYPES] = {1500, 100, 110, 200, 200, 500};
    static constexpr uint32_t kUnit[PLB_CONV_TYPES] = {10000, 250, 500, 1, 1, 500};
    TypeStats stats;
    if (validType(type)) {
        stats.startTime = kStart[type];
        stats.unitTime = kUnit[type];
    }
    return stats;
}

Estimator::Estimator(Clock clock) : m_clock(std::move(clock))
{
    start();
}

void Estimator::start()
{
    m_batchStart = m_clock();
    m_itemStart = m_batchStart;
    for (int32_t type = 0; type < PLB_CONV_TYPES; ++type)
        m_stats[size_t(type)] = defaultStats(type);
    m_type = 0;
    m_size = 0;
    m_shown = 0;
}

void Estimator::expect(int32_t type, uint32_t size)
{
    if (!validType(type))
        return;
    TypeStats& stats = m_stats[size_t(type)];
    ++stats.totalItems;
    stats.totalSize = saturate(uint64_t(stats.totalSize) + size);
}

void Estimator::beginItem(int32_t type, uint32_t size)
{
    m_type = validType(type) ? type : 0;
    m_size = size;
    m_itemStart = m_clock();
}

void Estimator::endItem(int32_t result)
{
    TypeStats& stats = m_stats[size_t(m_type)];
    if (result != 0) {
        stats.totalItems -= std::min<uint32_t>(stats.totalItems, 1);
        stats.totalSize -= std::min(stats.totalSize, m_size);
    } else {
        ++stats.doneItems;
        stats.doneSize = saturate(uint64_t(stats.doneSize) + m_size);
    }
}

uint32_t Estimator::elapsedMs() const
{
    return m_clock() - m_batchStart;
}

uint64_t Estimator::remainingUs(uint32_t done, uint32_t total, uint32_t sinceItem) const
{
    uint64_t sum = 0;
    for (const TypeStats& stats : m_stats) {
        const uint64_t size = stats.totalSize - std::min(stats.doneSize, stats.totalSize);
        const uint64_t items = stats.totalItems - std::min(stats.doneItems, stats.totalItems);
        sum = add(sum, add(size * stats.unitTime, product(items * stats.startTime, 1000)));
    }
    if (done > 0) {
        // The current item by its own pace instead of the averages.
        const TypeStats& current = m_stats[size_t(m_type)];
        const uint64_t left = total > done ? total - done : 0;
        sum = add(sum, product(left * sinceItem, 1000) / done);
        const uint64_t averaged = uint64_t(current.unitTime) * total + uint64_t(current.startTime) * 1000;
        sum = sum > averaged ? sum - averaged : 0;
    }
    return sum;
}

uint32_t Estimator::remainingMs() const
{
    return saturate(remainingUs(0, 0, 0) / 1000);
}

Estimate Estimator::report(uint32_t done, uint32_t total)
{
    const uint32_t now = m_clock();
    Estimate estimate;
    estimate.elapsedMs = now - m_batchStart;
    estimate.percent = std::min<uint32_t>(done / std::max<uint32_t>(total / 100, 1), 100);

    const uint32_t sinceItem = now - m_itemStart;
    TypeStats& current = m_stats[size_t(m_type)];
    if (done > 0) {
        const uint32_t previous = std::max<uint32_t>(current.unitTime, 1);
        const uint64_t weighted = uint64_t(current.doneSize) * previous + uint64_t(sinceItem) * 1000;
        const uint32_t pace = std::max<uint32_t>(saturate(weighted / (uint64_t(current.doneSize) + done)), 1);
        current.unitTime = pace;
        for (int32_t type = 0; type < PLB_CONV_TYPES; ++type) {
            TypeStats& other = m_stats[size_t(type)];
            if (type != m_type && other.doneItems == 0)
                other.unitTime = scaled(other.unitTime, pace, previous);
        }
        estimate.stable = pace / 10 == previous / 10;
    } else {
        // The item's first report: its start is measured; types that never finished an item
        // take the same factor for their start and their speed.
        const uint32_t guess = std::max<uint32_t>(current.startTime, 1);
        if (current.doneItems == 0) {
            for (TypeStats& stats : m_stats) {
                if (stats.doneItems != 0)
                    continue;
                stats.startTime = scaled(stats.startTime, sinceItem, guess);
                stats.unitTime = scaled(stats.unitTime, sinceItem, guess);
            }
        }
        m_itemStart = now;
    }

    estimate.remainingMs = saturate(remainingUs(done, total, sinceItem) / 1000);
    estimate.totalSeconds = saturate((uint64_t(estimate.remainingMs) + estimate.elapsedMs) / 1000);
    const uint32_t shown = m_shown;
    const uint32_t change =
        estimate.totalSeconds > shown ? estimate.totalSeconds - shown : shown - estimate.totalSeconds;
    if ((shown != 0 || estimate.stable) &&
        (estimate.elapsedMs / 1000 >= shown || estimate.remainingMs / 10000 < change)) {
        m_shown = estimate.totalSeconds;
        estimate.changed = true;
    }
    estimate.shownSeconds = m_shown;
    return estimate;
}

std::string remainingText(uint32_t remainingMs)
{
    const uint32_t seconds = remainingMs / 1000;
    uint32_t rounded = (seconds + 10) / 10 * 10;
    char text[32];
    size_t length = 0;
    const bool hours = (seconds + 10) / 10 > 359 && rounded != 3600;
    if (hours) {
        length += size_t(std::snprintf(text + length, sizeof text - length, "%02u:", (seconds + 10) / 3600));
        rounded %= 3600;
    }
    // After the hours a whole minute is shown as one ("01:01'", not "01:60"").
    if (rounded > 60 || (hours && rounded == 60)) {
        length += size_t(std::snprintf(text + length, sizeof text - length, "%02u'", rounded / 60));
        rounded %= 60;
    }
    if (rounded != 0)
        length += size_t(std::snprintf(text + length, sizeof text - length, "%02u\"", rounded));
    return std::string(text, length);
}

} // namespace tamlib::batch

PLB_API int32_t PlbFormatRemainingTime(uint32_t remainingMs, char* text, int32_t capacity)
{
    return tamrin::guarded<int32_t>(-1, [&]() -> int32_t {
        const std::string value = tamlib::batch::remainingText(remainingMs);
        if (!text || capacity <= 0 || value.size() >= size_t(capacity))
            return -1;
        std::memcpy(text, value.c_str(), value.size() + 1);
        return int32_t(value.size());
    });
}
