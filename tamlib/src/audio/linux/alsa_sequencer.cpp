// The ALSA sequencer port: an output port of our own client, connected to the port the user
// names, and a queue of our own on which every event is scheduled by tick. MIDI bytes become
// sequencer events through ALSA's own encoder.
#include <alsa/asoundlib.h>

#include <mutex>

#include "audio/sequencer_output.h"

namespace tamrin::audio {

namespace {

void quietError(const char*, int, const char*, int, const char*, ...) {}

class AlsaSequencer final : public SequencerPort
{
  public:
    ~AlsaSequencer() override { close(); }

    bool open(const std::string& address, std::string& error) override
    {
        close();
        static std::once_flag quiet;
        std::call_once(quiet, [] { snd_lib_error_set_handler(quietError); });
        int rc = snd_seq_open(&m_seq, "default", SND_SEQ_OPEN_OUTPUT, 0);
        if (rc < 0) {
            m_seq = nullptr;
            error = std::string("the ALSA sequencer cannot be opened: ") + snd_strerror(rc);
            return false;
        }
        snd_seq_set_client_name(m_seq, "Tamrin");
        m_port =
            snd_seq_create_simple_port(m_seq, "music", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                       SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
        snd_seq_addr_t to{};
        if (m_port < 0 || (rc = snd_seq_parse_address(m_seq, &to, address.c_str())) < 0 ||
            (rc = snd_seq_connect_to(m_seq, m_port, to.client, to.port)) < 0) {
            error = "the sequencer port \"" + address +
                    "\" cannot be used: " + snd_strerror(rc < 0 ? rc : -EINVAL);
            close();
            return false;
        }
        m_queue = snd_seq_alloc_named_queue(m_seq, "Tamrin music");
        if (m_queue < 0 || snd_midi_event_new(4096, &m_encoder) < 0) {
            error = "no sequencer queue is free";
            close();
            return false;
        }
        snd_midi_event_no_status(m_encoder, 1);
        return true;
    }

    bool setTiming(uint32_t division, uint32_t tempoUs) override
    {
        m_division = division;
        m_tempo = tempoUs;
        return applyTiming();
    }

    bool schedule(uint32_t tick, std::span<const uint8_t> message) override
    {
        snd_seq_event_t ev;
        snd_seq_ev_clear(&ev);
        snd_midi_event_reset_encode(m_encoder);
        if (snd_midi_event_encode(m_encoder, message.data(), long(message.size()), &ev) <= 0 ||
            ev.type == SND_SEQ_EVENT_NONE)
            return false;
        return send(ev, tick);
    }

    bool scheduleTempo(uint32_t tick, uint32_t tempoUs) override
    {
        snd_seq_event_t ev;
        snd_seq_ev_clear(&ev);
        snd_seq_ev_set_queue_tempo(&ev, m_queue, tempoUs);
        snd_seq_ev_schedule_tick(&ev, m_queue, 0, tick);
        ev.source.port = uint8_t(m_port);
        return snd_seq_event_output(m_seq, &ev) >= 0 && snd_seq_drain_output(m_seq) >= 0;
    }

    void start() override { queueControl(snd_seq_start_queue(m_seq, m_queue, nullptr)); }
    void stop() override { queueControl(snd_seq_stop_queue(m_seq, m_queue, nullptr)); }
    void resume() override { queueControl(snd_seq_continue_queue(m_seq, m_queue, nullptr)); }

    void clear() override
    {
        // A new queue: the old one takes its scheduled events with it.
        snd_seq_drop_output(m_seq);
        snd_seq_free_queue(m_seq, m_queue);
        m_queue = snd_seq_alloc_named_queue(m_seq, "Tamrin music");
        applyTiming();
    }

    void silence() override
    {
        for (uint8_t channel = 0; channel < 16; ++channel) {
            for (const uint8_t controller : {uint8_t(123), uint8_t(120)}) { // all notes off, all sound off
                snd_seq_event_t ev;
                snd_seq_ev_clear(&ev);
                snd_seq_ev_set_controller(&ev, channel, controller, 0);
                snd_seq_ev_set_source(&ev, m_port);
                snd_seq_ev_set_subs(&ev);
                snd_seq_ev_set_direct(&ev);
                snd_seq_event_output(m_seq, &ev);
            }
        }
        snd_seq_drain_output(m_seq);
    }

    uint32_t tick() override
    {
        snd_seq_queue_status_t* status;
        snd_seq_queue_status_alloca(&status);
        if (m_queue < 0 || snd_seq_get_queue_status(m_seq, m_queue, status) < 0)
            return 0;
        return snd_seq_queue_status_get_tick_time(status);
    }

    uint64_t elapsedMs() override
    {
        snd_seq_queue_status_t* status;
        snd_seq_queue_status_alloca(&status);
        if (m_queue < 0 || snd_seq_get_queue_status(m_seq, m_queue, status) < 0)
            return 0;
        const snd_seq_real_time_t* t = snd_seq_queue_status_get_real_time(status);
        return uint64_t(t->tv_sec) * 1000 + t->tv_nsec / 1000000;
    }

    void close() override
    {
        if (m_encoder)
            snd_midi_event_free(m_encoder);
        m_encoder = nullptr;
        if (m_seq) {
            if (m_queue >= 0)
                snd_seq_free_queue(m_seq, m_queue);
            snd_seq_close(m_seq);
        }
        m_seq = nullptr;
        m_queue = -1;
        m_port = -1;
    }

  private:
    bool applyTiming()
    {
        if (!m_seq || m_queue < 0)
            return false;
        snd_seq_queue_tempo_t* qt;
        snd_seq_queue_tempo_alloca(&qt);
        snd_seq_queue_tempo_set_tempo(qt, m_tempo);
        snd_seq_queue_tempo_set_ppq(qt, int(m_division));
        return snd_seq_set_queue_tempo(m_seq, m_queue, qt) >= 0;
    }

    bool send(snd_seq_event_t& ev, uint32_t tick)
    {
        snd_seq_ev_set_source(&ev, m_port);
        snd_seq_ev_set_subs(&ev);
        snd_seq_ev_schedule_tick(&ev, m_queue, 0, tick);
        return snd_seq_event_output(m_seq, &ev) >= 0 && snd_seq_drain_output(m_seq) >= 0;
    }

    void queueControl(int rc)
    {
        if (rc >= 0)
            snd_seq_drain_output(m_seq);
    }

    snd_seq_t* m_seq = nullptr;
    snd_midi_event_t* m_encoder = nullptr;
    int m_port = -1;
    int m_queue = -1;
    uint32_t m_division = 480;
    uint32_t m_tempo = 500000;
};

} // namespace

std::unique_ptr<SequencerPort> makeAlsaSequencerPort()
{
    return std::make_unique<AlsaSequencer>();
}

} // namespace tamrin::audio
