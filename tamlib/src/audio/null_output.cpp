// The null sound device. In real time its play head moves at the format's rate on the steady
// clock while it is running and has data (it stops at the end of what was written, as a sound
// card does on an underrun), so a player timed by it behaves as with a card; untimed, every
// buffer is played the moment it is written. Completions come from a thread of its own, never
// from inside write, as with a real device.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "audio/sound_output.h"

namespace tamrin::audio {

namespace {

using Clock = std::chrono::steady_clock;

class NullOutput final : public SoundOutput
{
  public:
    explicit NullOutput(NullMode mode) : m_mode(mode) {}
    ~NullOutput() override { close(); }

    bool open(const PcmFormat& format, Completion done) override
    {
        close();
        if (m_mode == NullMode::FailOpen || !format.valid() || !done)
            return false;
        std::lock_guard lock(m_mutex);
        m_format = format;
        m_done = std::move(done);
        m_written = m_anchorFrames = 0;
        m_paused = false;
        m_quit = false;
        m_anchorTime = Clock::now();
        m_worker = std::thread([this] { run(); });
        return true;
    }

    bool write(const uint8_t*, uint32_t bytes, void* tag) override
    {
        std::lock_guard lock(m_mutex);
        if (!m_worker.joinable() || m_mode == NullMode::FailWrite)
            return false;
        const uint32_t frameBytes = m_format.bytesPerFrame();
        if (bytes == 0 || bytes % frameBytes != 0)
            return false;
        if (m_mode == NullMode::RealTime && headLocked() >= m_written) {
            // Underrun: the head waited at the end; it moves on from now.
            m_anchorFrames = m_written;
            m_anchorTime = Clock::now();
        }
        m_written += bytes / frameBytes;
        m_queue.push_back({m_written, tag});
        m_wake.notify_all();
        return true;
    }

    uint64_t position() override
    {
        std::lock_guard lock(m_mutex);
        return headLocked();
    }

    void pause() override
    {
        std::lock_guard lock(m_mutex);
        if (m_paused)
            return;
        m_anchorFrames = headLocked();
        m_paused = true;
        m_wake.notify_all();
    }

    void restart() override
    {
        std::lock_guard lock(m_mutex);
        if (!m_paused)
            return;
        m_paused = false;
        m_anchorTime = Clock::now();
        m_wake.notify_all();
    }

    void reset() override
    {
        std::deque<Queued> dropped;
        Completion done;
        {
            std::lock_guard lock(m_mutex);
            dropped.swap(m_queue);
            m_written = m_anchorFrames = 0;
            m_anchorTime = Clock::now();
            done = m_done;
        }
        for (const Queued& q : dropped)
            done(q.tag);
    }

    void close() override
    {
        {
            std::lock_guard lock(m_mutex);
            if (!m_worker.joinable())
                return;
            m_quit = true;
            m_wake.notify_all();
        }
        m_worker.join();
        reset();
        std::lock_guard lock(m_mutex);
        m_done = nullptr;
    }

  private:
    struct Queued
    {
        uint64_t end; // frame count at the end of the buffer
        void* tag;
    };

    uint64_t headLocked() const
    {
        if (m_paused)
            return std::min(m_anchorFrames, m_written);
        if (m_mode == NullMode::Untimed)
            return m_written;
        const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - m_anchorTime);
        const uint64_t moved = uint64_t(elapsed.count()) * m_format.rate / 1000000u;
        return std::min(m_anchorFrames + moved, m_written);
    }

    void run()
    {
        std::unique_lock lock(m_mutex);
        while (!m_quit) {
            if (m_queue.empty() || m_paused) {
                m_wake.wait(lock);
                continue;
            }
            const Queued first = m_queue.front();
            const uint64_t head = headLocked();
            if (head >= first.end) {
                m_queue.pop_front();
                Completion done = m_done;
                lock.unlock();
                done(first.tag);
                lock.lock();
                continue;
            }
            const uint64_t frames = first.end - head;
            const auto wait = std::chrono::microseconds(frames * 1000000u / m_format.rate + 1);
            m_wake.wait_for(lock, wait);
        }
    }

    const NullMode m_mode;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::thread m_worker;
    PcmFormat m_format;
    Completion m_done;
    std::deque<Queued> m_queue;
    uint64_t m_written = 0;      // frames written since open or reset
    uint64_t m_anchorFrames = 0; // head position at m_anchorTime
    Clock::time_point m_anchorTime;
    bool m_paused = false;
    bool m_quit = false;
};

} // namespace

std::unique_ptr<SoundOutput> makeNullOutput(NullMode mode)
{
    return std::make_unique<NullOutput>(mode);
}

std::unique_ptr<SoundOutput> makeSoundOutput(const std::string& driver, const std::string& device)
{
    if (driver == "alsa")
        return makeAlsaOutput(device);
    if (driver == "null")
        return makeNullOutput(NullMode::RealTime);
    if (driver == "null-untimed")
        return makeNullOutput(NullMode::Untimed);
    if (driver == "null-faulty")
        return makeNullOutput(NullMode::FailOpen);
    if (driver == "null-faulty-write")
        return makeNullOutput(NullMode::FailWrite);
    return nullptr;
}

} // namespace tamrin::audio
