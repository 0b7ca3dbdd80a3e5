#include "progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <utility>

namespace tamrin::cli {

namespace {

constexpr auto kFirstDraw = std::chrono::milliseconds(500);
constexpr auto kRedraw = std::chrono::milliseconds(100);

// "m:ss", or "h:mm:ss" from an hour on.
std::string clockText(uint64_t ms)
{
    const uint64_t seconds = ms / 1000;
    char text[32];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%llu:%02u:%02u", static_cast<unsigned long long>(seconds / 3600),
                      unsigned(seconds / 60 % 60), unsigned(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%u:%02u", unsigned(seconds / 60), unsigned(seconds % 60));
    return text;
}

} // namespace

ProgressLine::ProgressLine(bool enabled)
    : m_enabled(enabled && ::isatty(STDERR_FILENO) == 1), m_start(Clock::now()), m_lastDraw(m_start)
{
}

ProgressLine::~ProgressLine()
{
    finish();
}

void ProgressLine::update(uint64_t units, uint32_t frameNumber, uint32_t frameCount)
{
    if (!m_enabled)
        return;
    const Clock::time_point now = Clock::now();
    if (now - m_start < kFirstDraw || (m_drawn && now - m_lastDraw < kRedraw))
        return;
    if (frameCount != 0)
        std::fprintf(stderr, "\r\033[Kunits %llu, frame %u of %u", static_cast<unsigned long long>(units),
                     frameNumber, frameCount);
    else
        std::fprintf(stderr, "\r\033[Kunits %llu", static_cast<unsigned long long>(units));
    std::fflush(stderr);
    m_drawn = true;
    m_lastDraw = now;
}

void ProgressLine::finish()
{
    if (m_drawn) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        m_drawn = false;
    }
}

SectorProgressLine::SectorProgressLine(bool enabled)
    : m_enabled(enabled && ::isatty(STDERR_FILENO) == 1), m_start(Clock::now()), m_lastDraw(m_start)
{
}

SectorProgressLine::~SectorProgressLine()
{
    finish();
}

void SectorProgressLine::draw(uint64_t done, uint64_t total)
{
    const Clock::time_point now = Clock::now();
    if (now - m_start < kFirstDraw || (m_drawn && now - m_lastDraw < kRedraw))
        return;
    const unsigned percent = total ? unsigned(done * 100 / total) : 0;
    std::fprintf(stderr, "\r\033[Ksector %llu of %llu (%u%%)", static_cast<unsigned long long>(done),
                 static_cast<unsigned long long>(total), percent);
    std::fflush(stderr);
    m_drawn = true;
    m_lastDraw = now;
}

void SectorProgressLine::finish()
{
    if (m_drawn) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        m_drawn = false;
    }
}

std::string batchProgressText(const std::string& label, uint32_t number, uint32_t count, uint32_t percent,
                              uint32_t elapsedMs, uint32_t estimateSeconds)
{
    char head[48];
    std::snprintf(head, sizeof head, "[%u/%u] ", unsigned(number), unsigned(count));
    char figures[48];
    std::snprintf(figures, sizeof figures, ": %u%%, ", unsigned(std::min(percent, 100u)));
    std::string text = head;
    text += label;
    text += figures;
    text += clockText(elapsedMs);
    if (estimateSeconds != 0)
        text += " of about " + clockText(uint64_t(estimateSeconds) * 1000);
    return text;
}

BatchProgressLine::BatchProgressLine(bool enabled)
    : m_enabled(enabled && ::isatty(STDERR_FILENO) == 1), m_start(Clock::now()), m_lastDraw(m_start)
{
}

BatchProgressLine::~BatchProgressLine()
{
    clear();
}

void BatchProgressLine::update(const std::string& label, uint32_t number, uint32_t count, uint32_t percent,
                               uint32_t elapsedMs, uint32_t estimateSeconds)
{
    if (!m_enabled)
        return;
    const Clock::time_point now = Clock::now();
    if (now - m_start < kFirstDraw || (m_drawn && now - m_lastDraw < kRedraw))
        return;
    const std::string text = batchProgressText(label, number, count, percent, elapsedMs, estimateSeconds);
    std::fprintf(stderr, "\r\033[K%s", text.c_str());
    std::fflush(stderr);
    m_drawn = true;
    m_lastDraw = now;
}

void BatchProgressLine::clear()
{
    if (m_drawn) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        m_drawn = false;
    }
}

} // namespace tamrin::cli
