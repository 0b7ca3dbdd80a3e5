// A one-line progress report on a terminal's stderr for long reads; silent elsewhere.
#ifndef TAMRIN_CLI_PROGRESS_H
#define TAMRIN_CLI_PROGRESS_H

#include <chrono>
#include <cstdint>
#include <string>

namespace tamrin::cli {

class ProgressLine
{
  public:
    // Shows nothing unless `enabled` and stderr is a terminal.
    explicit ProgressLine(bool enabled);
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;
    ~ProgressLine();

    // Cheap when nothing is due: draws at most every 100 ms, and only once the work has run
    // for half a second, so that short streams leave no trace.
    void update(uint64_t units, uint32_t frameNumber, uint32_t frameCount);
    // Erases the line, if one was drawn.
    void finish();

  private:
    using Clock = std::chrono::steady_clock;

    bool m_enabled = false;
    bool m_drawn = false;
    Clock::time_point m_start;
    Clock::time_point m_lastDraw;
};

// "sector N of M" (and the percentage) on a terminal's stderr during a long sector read.
class SectorProgressLine
{
  public:
    explicit SectorProgressLine(bool enabled);
    SectorProgressLine(const SectorProgressLine&) = delete;
    SectorProgressLine& operator=(const SectorProgressLine&) = delete;
    ~SectorProgressLine();

    // Cheap enough to call for every sector: looks at the clock once every 256 calls.
    void update(uint64_t done, uint64_t total)
    {
        if (m_enabled && (++m_calls & 0xFF) == 0)
            draw(done, total);
    }
    void finish();

  private:
    using Clock = std::chrono::steady_clock;

    void draw(uint64_t done, uint64_t total);

    bool m_enabled = false;
    bool m_drawn = false;
    uint32_t m_calls = 0;
    Clock::time_point m_start;
    Clock::time_point m_lastDraw;
};

// "[2/5] LABEL: 37%, 0:12 of about 1:30": item 2 of a batch of 5, its percentage done, the time
// since the batch started and its estimated total time (left out while there is none).
std::string batchProgressText(const std::string& label, uint32_t number, uint32_t count, uint32_t percent,
                              uint32_t elapsedMs, uint32_t estimateSeconds);

// The one progress line of a batch of conversions on a terminal's stderr; silent elsewhere. It
// shows the item on show and is cleared while other lines are printed.
class BatchProgressLine
{
  public:
    explicit BatchProgressLine(bool enabled);
    BatchProgressLine(const BatchProgressLine&) = delete;
    BatchProgressLine& operator=(const BatchProgressLine&) = delete;
    ~BatchProgressLine();

    // Draws at most every 100 ms, once the batch has run for half a second.
    void update(const std::string& label, uint32_t number, uint32_t count, uint32_t percent,
                uint32_t elapsedMs, uint32_t estimateSeconds);
    void clear();

  private:
    using Clock = std::chrono::steady_clock;

    bool m_enabled = false;
    bool m_drawn = false;
    Clock::time_point m_start;
    Clock::time_point m_lastDraw;
};

} // namespace tamrin::cli

#endif
