// Ctrl-C as a request to stop long work (a scan, an analysis): while an InterruptStops lives,
// SIGINT sets its flag instead of ending the program; the previous handler comes back after.
#ifndef TAMRIN_CLI_INTERRUPT_H
#define TAMRIN_CLI_INTERRUPT_H

#include <signal.h>

#include <atomic>

namespace tamrin::cli {

class InterruptStops
{
  public:
    InterruptStops();
    ~InterruptStops();
    InterruptStops(const InterruptStops&) = delete;
    InterruptStops& operator=(const InterruptStops&) = delete;

    // Set by Ctrl-C since this object was made; may be handed to code that polls a flag.
    const std::atomic<bool>& flag() const;
    bool stopped() const { return flag().load(std::memory_order_relaxed); }

  private:
    struct sigaction m_previous = {};
    bool m_installed = false;
};

} // namespace tamrin::cli

#endif
