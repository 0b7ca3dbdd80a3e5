#include "progress.h"

#include <unistd.h>

#include <cstdio>

namespace tamrin::cli {

namespace {

constexpr auto kFirstDraw = std::chrono::milliseconds(500);
constexpr auto kRedraw = std::chrono::milliseconds(100);

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

} // namespace tamrin::cli
