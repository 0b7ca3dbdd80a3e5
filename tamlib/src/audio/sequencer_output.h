// Music on a sequencer port: the stream event records (see player/sequencer_events.h) are
// scheduled with their times on a sequencer queue that runs at the stream's tempo, and the
// queue's own clock is the position. It takes the player's buffers as a sound output does:
// a buffer is done once the queue has passed its last event. Its position counts milliseconds
// (its rate is kSequencerRate).
//
// The sequencer itself is behind SequencerPort, so that the scheduling is tested without one.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "audio/sound_output.h"

namespace tamrin::audio {

constexpr uint32_t kSequencerRate = 1000;

class SequencerPort
{
  public:
    virtual ~SequencerPort() = default;
    // Connects to the port named ("CLIENT:PORT" or a port's name); false with the reason.
    virtual bool open(const std::string& address, std::string& error) = 0;
    // The queue's ticks per quarter note and tempo; only while it is stopped.
    virtual bool setTiming(uint32_t division, uint32_t tempoUs) = 0;
    // A MIDI message (status and data bytes, or a whole system-exclusive message) at a tick.
    virtual bool schedule(uint32_t tick, std::span<const uint8_t> message) = 0;
    virtual bool scheduleTempo(uint32_t tick, uint32_t tempoUs) = 0;
    virtual void start() = 0; // from tick 0
    virtual void stop() = 0;
    virtual void resume() = 0;
    // Drops every event not yet played and makes the queue start again from 0 (stopped).
    virtual void clear() = 0;
    // Sent at once: every note and sound off on all channels.
    virtual void silence() = 0;
    virtual uint32_t tick() = 0;
    virtual uint64_t elapsedMs() = 0; // the queue's real time since start
    virtual void close() = 0;
};

// The ALSA sequencer (libasound).
std::unique_ptr<SequencerPort> makeAlsaSequencerPort();

// `address` as SequencerPort::open takes it; `division` and `tempoUs` from the stream, played at
// `tempoPercent` of its speed. The reason of a failed open is kept for error().
class SequencerOutput : public SoundOutput
{
  public:
    virtual const std::string& error() const = 0;
};

std::unique_ptr<SequencerOutput> makeSequencerOutput(std::unique_ptr<SequencerPort> port, std::string address,
                                                     uint32_t division, uint32_t tempoUs,
                                                     uint32_t tempoPercent);

} // namespace tamrin::audio
