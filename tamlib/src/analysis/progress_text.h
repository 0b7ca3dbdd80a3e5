// The progress of a disc analysis as its dialog shows it: the count and percentage, the elapsed
// time, and the remaining time from the estimator (PlbBeginProgress).
#pragma once

#include <cstdint>
#include <string>

#include "tamlib/strings.h"
#include "tamlib/ui_port.h"

namespace tamlib {

// "After, about ..." for `remaining` seconds.
std::string remainingText(uint32_t remaining);
// "%d:%02d" minutes and seconds.
std::string elapsedText(uint32_t seconds);
// "%d/%d : %d%%".
std::string countText(uint64_t done, uint64_t total);

class ProgressText
{
  public:
    explicit ProgressText(uint64_t total);
    ~ProgressText();
    ProgressText(const ProgressText&) = delete;
    ProgressText& operator=(const ProgressText&) = delete;

    // Records `done` of `total`; true (with the texts) when the display should be refreshed: a
    // new elapsed second, or the end.
    bool update(uint64_t done, uint64_t total, ProgressState& state);

  private:
    PlbProgress* m_estimator;
    int64_t m_shownSecond = -1;
};

} // namespace tamlib
