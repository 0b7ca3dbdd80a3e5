#include "analysis/progress_text.h"

#include <algorithm>
#include <cstdio>

#include "strings/string_table.h"
#include "tamlib/strings.h"

namespace tamlib {

namespace {

// The estimator takes 32-bit counts; the analysis is updated at least every 16 sectors.
constexpr uint32_t kStep = 16;

} // namespace

std::string remainingText(uint32_t remaining)
{
    char text[64];
    if (remaining > 3600)
        std::snprintf(text, sizeof text, lookupString(currentLanguage(), PLB_IDS_ANA_REMAINING_HOURS).data(),
                      remaining / 3600, remaining % 3600 / 60);
    else if (remaining <= 60)
        std::snprintf(text, sizeof text,
                      lookupString(currentLanguage(), PLB_IDS_ANA_REMAINING_SECONDS).data(),
                      (remaining + 4) / 5 * 5);
    else
        std::snprintf(text, sizeof text,
                      lookupString(currentLanguage(), PLB_IDS_ANA_REMAINING_MINUTES).data(),
                      (remaining + 9) / 60, ((remaining + 9) / 10 * 10) % 60);
    return text;
}

std::string elapsedText(uint32_t seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%u:%02u", seconds / 60, seconds % 60);
    return text;
}

std::string countText(uint64_t done, uint64_t total)
{
    char text[80];
    const uint64_t percent = total ? done * 100 / total : 100;
    std::snprintf(text, sizeof text, "%llu/%llu : %llu%%", static_cast<unsigned long long>(done),
                  static_cast<unsigned long long>(total), static_cast<unsigned long long>(percent));
    return text;
}

ProgressText::ProgressText(uint64_t total)
    : m_estimator(PlbBeginProgress(uint32_t(std::min<uint64_t>(total, UINT32_MAX)), kStep))
{
}

ProgressText::~ProgressText()
{
    PlbEndProgress(m_estimator);
}

bool ProgressText::update(uint64_t done, uint64_t total, ProgressState& state)
{
    uint32_t estimate = 0;
    const uint32_t elapsed =
        PlbSetProgress(m_estimator, uint32_t(std::min<uint64_t>(done, UINT32_MAX)), &estimate);
    if (int64_t(elapsed) == m_shownSecond && done != total)
        return false;
    m_shownSecond = elapsed;
    state.done = done;
    state.total = total;
    state.count = countText(done, total);
    state.elapsed = elapsedText(elapsed);
    state.remaining = estimate ? remainingText(estimate > elapsed ? estimate - elapsed : 0) : std::string();
    return true;
}

} // namespace tamlib
