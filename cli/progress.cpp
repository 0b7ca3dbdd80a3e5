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

std::string conversionProgressText(const std::string& label, uint32_t positionMs, uint32_t lengthMs,
                                   uint64_t elapsedMs)
{
    const uint32_t done = lengthMs ? std::min(positionMs, lengthMs) : positionMs;
    std::string text = label + ": " + clockText(done);
    if (lengthMs == 0)
        return text;
    text += " of " + clockText(lengthMs) + " (" + std::to_string(uint64_t(done) * 100 / lengthMs) + "%)";
    if (done > 0)
        text += ", " + clockText(elapsedMs * (lengthMs - done) / done) + " left";
    return text;
}

ConversionProgressLine::ConversionProgressLine(bool enabled, std::string label)
    : m_enabled(enabled && ::isatty(STDERR_FILENO) == 1), m_label(std::move(label)), m_start(Clock::now()),
      m_lastDraw(m_start)
{
}

ConversionProgressLine::~ConversionProgressLine()
{
    finish();
}

void ConversionProgressLine::update(uint32_t positionMs, uint32_t lengthMs)
{
    if (!m_enabled)
        return;
    const Clock::time_point now = Clock::now();
    if (now - m_start < kFirstDraw || (m_drawn && now - m_lastDraw < kRedraw))
        return;
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - m_start).count();
    const std::string text = conversionProgressText(m_label, positionMs, lengthMs, uint64_t(elapsed));
    std::fprintf(stderr, "\r\033[K%s", text.c_str());
    std::fflush(stderr);
    m_drawn = true;
    m_lastDraw = now;
}

void ConversionProgressLine::finish()
{
    if (m_drawn) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        m_drawn = false;
    }
}

} // namespace tamrin::cli
