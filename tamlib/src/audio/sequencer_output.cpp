// The sequencer output: records in, events scheduled at absolute ticks on the port's queue.
// Records may be cut anywhere between two writes (the feeder fills its buffers by bytes); the
// cut part waits for the next write. The player's tempo is applied by scaling every tempo the
// stream sets, so the ticks stay the stream's own.
#include "audio/sequencer_output.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "player/sequencer_events.h"

namespace tamrin::audio {

namespace {

uint32_t get32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Bytes of a short message with this status, the status included.
size_t messageBytes(uint8_t status)
{
    if (status < 0xF0)
        return status >= 0xC0 && status <= 0xDF ? 2 : 3;
    if (status == 0xF1 || status == 0xF3)
        return 2;
    return status == 0xF2 ? 3 : 1;
}

class QueueOutput final : public SequencerOutput
{
  public:
    QueueOutput(std::unique_ptr<SequencerPort> port, std::string address, uint32_t division, uint32_t tempoUs,
                uint32_t tempoPercent)
        : m_port(std::move(port)), m_address(std::move(address)), m_division(division), m_tempoUs(tempoUs),
          m_percent(std::max<uint32_t>(tempoPercent, 1))
    {
    }
    ~QueueOutput() override { close(); }

    const std::string& error() const override { return m_error; }

    bool open(const PcmFormat&, Completion done) override
    {
        close();
        if (!done || !m_port)
            return false;
        m_error.clear();
        if (!m_port->open(m_address, m_error))
            return false;
        if (!m_port->setTiming(m_division ? m_division : 480, scaled(m_tempoUs ? m_tempoUs : 500000))) {
            m_error = "the sequencer queue does not take the stream's timing";
            m_port->close();
            return false;
        }
        std::lock_guard lock(m_mutex);
        m_done = std::move(done);
        m_tick = 0;
        m_cut.clear();
        m_tags.clear();
        m_paused = false;
        m_quit = false;
        m_open = true;
        m_port->start();
        m_worker = std::thread([this] { run(); });
        return true;
    }

    bool write(const uint8_t* data, uint32_t bytes, void* tag) override
    {
        std::lock_guard lock(m_mutex);
        if (!m_open || (bytes && !data))
            return false;
        m_cut.insert(m_cut.end(), data, data + bytes);
        size_t pos = 0;
        while (m_cut.size() - pos >= player::kStreamEventBytes) {
            const uint8_t* r = m_cut.data() + pos;
            const uint32_t event = get32(r + 8);
            const uint32_t value = event & 0xFFFFFF;
            const uint8_t type = uint8_t(event >> 24);
            const size_t payload = type == player::kEventLong ? (size_t(value) + 3) & ~size_t(3) : 0;
            if (m_cut.size() - pos - player::kStreamEventBytes < payload)
                break; // the rest comes with the next write
            const uint64_t tick = uint64_t(m_tick) + get32(r);
            m_tick = uint32_t(std::min<uint64_t>(tick, UINT32_MAX));
            const uint8_t* body = r + player::kStreamEventBytes;
            if (type == player::kEventShort) {
                const uint8_t message[3] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16)};
                m_port->schedule(m_tick, std::span(message, messageBytes(message[0])));
            } else if (type == player::kEventTempo) {
                if (value)
                    m_port->scheduleTempo(m_tick, scaled(value));
            } else if (type == player::kEventLong) {
                m_port->schedule(m_tick, std::span(body, value));
            } else {
                pos = m_cut.size(); // a damaged run: the rest of it is dropped
                break;
            }
            pos += player::kStreamEventBytes + payload;
        }
        m_cut.erase(m_cut.begin(), m_cut.begin() + ptrdiff_t(pos));
        m_tags.push_back({m_tick, tag});
        m_wake.notify_all();
        return true;
    }

    uint64_t position() override
    {
        std::lock_guard lock(m_mutex);
        return m_open ? m_port->elapsedMs() : 0;
    }

    void pause() override
    {
        std::lock_guard lock(m_mutex);
        if (!m_open || m_paused)
            return;
        m_port->stop();
        m_port->silence();
        m_paused = true;
    }

    void restart() override
    {
        std::lock_guard lock(m_mutex);
        if (!m_open || !m_paused)
            return;
        m_port->resume();
        m_paused = false;
    }

    void reset() override
    {
        std::deque<Tag> done;
        Completion callback;
        {
            std::lock_guard lock(m_mutex);
            if (!m_open)
                return;
            m_port->clear();
            m_port->silence();
            if (!m_paused)
                m_port->start();
            m_tick = 0;
            m_cut.clear();
            done.swap(m_tags);
            callback = m_done;
        }
        for (const Tag& t : done)
            callback(t.tag);
    }

    void close() override
    {
        if (!m_open)
            return;
        reset();
        {
            std::lock_guard lock(m_mutex);
            m_quit = true;
            m_wake.notify_all();
        }
        if (m_worker.joinable())
            m_worker.join();
        std::lock_guard lock(m_mutex);
        m_port->close();
        m_open = false;
        m_done = nullptr;
    }

  private:
    struct Tag
    {
        uint32_t lastTick;
        void* tag;
    };

    uint32_t scaled(uint32_t tempoUs) const
    {
        return uint32_t(std::clamp<uint64_t>(uint64_t(tempoUs) * 100 / m_percent, 1, 0xFFFFFF));
    }

    // Hands back each buffer once the queue has passed its last event.
    void run()
    {
        std::unique_lock lock(m_mutex);
        while (!m_quit) {
            m_wake.wait_for(lock, std::chrono::milliseconds(10));
            if (m_quit || m_paused || m_tags.empty())
                continue;
            const uint32_t now = m_port->tick();
            std::vector<void*> done;
            while (!m_tags.empty() && m_tags.front().lastTick <= now) {
                done.push_back(m_tags.front().tag);
                m_tags.pop_front();
            }
            if (done.empty())
                continue;
            Completion callback = m_done;
            lock.unlock();
            for (void* tag : done)
                callback(tag);
            lock.lock();
        }
    }

    std::unique_ptr<SequencerPort> m_port;
    std::string m_address;
    uint32_t m_division, m_tempoUs, m_percent;
    std::string m_error;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::thread m_worker;
    Completion m_done;
    bool m_open = false, m_paused = false, m_quit = false;
    uint32_t m_tick = 0;
    std::vector<uint8_t> m_cut;
    std::deque<Tag> m_tags;
};

} // namespace

std::unique_ptr<SequencerOutput> makeSequencerOutput(std::unique_ptr<SequencerPort> port, std::string address,
                                                     uint32_t division, uint32_t tempoUs,
                                                     uint32_t tempoPercent)
{
    return std::make_unique<QueueOutput>(std::move(port), std::move(address), division, tempoUs,
                                         tempoPercent);
}

} // namespace tamrin::audio
