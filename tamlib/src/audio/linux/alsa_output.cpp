// ALSA PCM output. The PCM is opened non-blocking and used only under one lock: a feeding
// thread writes the queued buffers as room appears in the ring (sleeping a few milliseconds
// when there is none), and reports each buffer done once all of it is in the ring. Underruns
// and suspends are recovered and playing goes on; only a failed recovery stops the feeding.
// The position is the frames written less those still waiting in the ring.
#include <alsa/asoundlib.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "audio/sound_output.h"

namespace tamrin::audio {

namespace {

constexpr unsigned kLatencyUs = 100000; // ring of about 100 ms
constexpr auto kRoomWait = std::chrono::milliseconds(5);

// The library reports its own errors on stderr; here a failure is told by the result only.
void quietError(const char*, int, const char*, int, const char*, ...) {}

class AlsaOutput final : public SoundOutput
{
  public:
    explicit AlsaOutput(std::string device) : m_device(device.empty() ? "default" : std::move(device)) {}
    ~AlsaOutput() override { close(); }

    bool open(const PcmFormat& format, Completion done) override
    {
        close();
        if (!format.valid() || !done)
            return false;
        static std::once_flag quiet;
        std::call_once(quiet, [] { snd_lib_error_set_handler(quietError); });
        snd_pcm_t* pcm = nullptr;
        if (snd_pcm_open(&pcm, m_device.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0)
            return false;
        const snd_pcm_format_t sampleFormat = format.bits == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
        if (snd_pcm_set_params(pcm, sampleFormat, SND_PCM_ACCESS_RW_INTERLEAVED, format.channels, format.rate, 1,
                               kLatencyUs) < 0) {
            snd_pcm_close(pcm);
            return false;
        }
        std::lock_guard lock(m_mutex);
        m_pcm = pcm;
        m_format = format;
        m_done = std::move(done);
        m_written = 0;
        m_paused = m_quit = false;
        m_worker = std::thread([this] { run(); });
        return true;
    }

    bool write(const uint8_t* data, uint32_t bytes, void* tag) override
    {
        std::lock_guard lock(m_mutex);
        if (!m_pcm || !data || bytes == 0 || bytes % m_format.bytesPerFrame() != 0)
            return false;
        m_queue.push_back({data, bytes / m_format.bytesPerFrame(), 0, tag});
        m_wake.notify_all();
        return true;
    }

    uint64_t position() override
    {
        std::lock_guard lock(m_mutex);
        if (!m_pcm)
            return 0;
        snd_pcm_sframes_t delay = 0;
        if (snd_pcm_delay(m_pcm, &delay) < 0 || delay < 0)
            delay = 0;
        return m_written > uint64_t(delay) ? m_written - uint64_t(delay) : 0;
    }

    void pause() override
    {
        std::lock_guard lock(m_mutex);
        if (!m_pcm || m_paused)
            return;
        m_paused = true;
        // Without hardware pause the ring plays out and then underruns, which is recovered.
        if (snd_pcm_state(m_pcm) == SND_PCM_STATE_RUNNING && snd_pcm_hw_params_can_pause_current())
            snd_pcm_pause(m_pcm, 1);
    }

    void restart() override
    {
        std::lock_guard lock(m_mutex);
        if (!m_pcm || !m_paused)
            return;
        m_paused = false;
        if (snd_pcm_state(m_pcm) == SND_PCM_STATE_PAUSED)
            snd_pcm_pause(m_pcm, 0);
        m_wake.notify_all();
    }

    void reset() override
    {
        std::deque<Queued> dropped;
        Completion done;
        {
            std::lock_guard lock(m_mutex);
            if (!m_pcm)
                return;
            snd_pcm_drop(m_pcm);
            snd_pcm_prepare(m_pcm);
            dropped.swap(m_queue);
            m_written = 0;
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
        snd_pcm_close(m_pcm);
        m_pcm = nullptr;
        m_done = nullptr;
    }

  private:
    struct Queued
    {
        const uint8_t* data;
        uint64_t frames;
        uint64_t sent;
        void* tag;
    };

    bool snd_pcm_hw_params_can_pause_current()
    {
        snd_pcm_hw_params_t* params = nullptr;
        if (snd_pcm_hw_params_malloc(&params) < 0)
            return false;
        const bool can = snd_pcm_hw_params_current(m_pcm, params) == 0 && snd_pcm_hw_params_can_pause(params);
        snd_pcm_hw_params_free(params);
        return can;
    }

    void run()
    {
        std::unique_lock lock(m_mutex);
        while (!m_quit) {
            if (m_queue.empty() || m_paused) {
                m_wake.wait(lock);
                continue;
            }
            Queued& first = m_queue.front();
            const snd_pcm_sframes_t sent = snd_pcm_writei(m_pcm, first.data + first.sent * m_format.bytesPerFrame(),
                                                          snd_pcm_uframes_t(first.frames - first.sent));
            if (sent == -EAGAIN || sent == 0) {
                m_wake.wait_for(lock, kRoomWait);
                continue;
            }
            if (sent < 0) {
                if (snd_pcm_recover(m_pcm, int(sent), 1) < 0) {
                    m_wake.wait_for(lock, kRoomWait * 20);
                    snd_pcm_prepare(m_pcm);
                }
                continue;
            }
            first.sent += uint64_t(sent);
            m_written += uint64_t(sent);
            if (first.sent < first.frames)
                continue;
            void* tag = first.tag;
            m_queue.pop_front();
            Completion done = m_done;
            lock.unlock();
            done(tag);
            lock.lock();
        }
    }

    const std::string m_device;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::thread m_worker;
    snd_pcm_t* m_pcm = nullptr;
    PcmFormat m_format;
    Completion m_done;
    std::deque<Queued> m_queue;
    uint64_t m_written = 0;
    bool m_paused = false;
    bool m_quit = false;
};

} // namespace

std::unique_ptr<SoundOutput> makeAlsaOutput(const std::string& device)
{
    return std::make_unique<AlsaOutput>(device);
}

} // namespace tamrin::audio
