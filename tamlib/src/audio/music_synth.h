// Music synthesiser: plays stream event records (see player/sequencer_events.h) on a General
// MIDI SoundFont and renders them to 16-bit stereo PCM, so that music goes out through the same
// sound output (and the same clock) as sampled sound.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tamrin::audio {

class MusicSynth
{
  public:
    virtual ~MusicSynth() = default;
    // Ticks per quarter note and microseconds per quarter note. False (timing unchanged) when
    // either is 0 or the division is a frame-based one (top bit set).
    virtual bool setTiming(uint32_t division, uint32_t tempoUs) = 0;
    // Percent; 100 leaves the synthesiser's level as it is.
    virtual void setVolume(uint32_t percent) = 0;
    // Plays the records, each after its delta, and appends the samples rendered up to the last
    // one (interleaved stereo frames). False on a damaged record run; what came before it stays.
    bool render(std::span<const uint8_t> records, std::vector<int16_t>& pcm)
    {
        return renderSome(records, pcm, UINT64_MAX).has_value();
    }
    // As render, but stops once `maxFrames` frames have been appended: a record that falls later
    // stays unplayed (pass the rest again), so a long rest costs no more memory than a short
    // one. The bytes of the records played, or nullopt on a damaged record.
    virtual std::optional<size_t> renderSome(std::span<const uint8_t> records, std::vector<int16_t>& pcm,
                                             uint64_t maxFrames) = 0;
    // Appends `frames` more sample frames (the sound of notes still ringing). Records that come
    // after keep their own times; one that falls inside these frames plays at once.
    virtual void renderFrames(uint32_t frames, std::vector<int16_t>& pcm) = 0;
    // Every note and controller off, the time back to 0.
    virtual void reset() = 0;
};

// The SoundFont given, else the distribution's General MIDI SoundFont. Null with the reason in
// `error` when the synthesiser or the SoundFont cannot be loaded.
std::unique_ptr<MusicSynth> makeMusicSynth(uint32_t sampleRate, const std::string& soundFont,
                                           std::string* error);

} // namespace tamrin::audio
