// A stream of the sound test plugin with the format a test needs, and decoding of built units
// through it.
#pragma once

#include <cstdint>
#include <vector>

#include "sound_files.h"
#include "streamkit/lbr.h"

namespace soundtest {

constexpr const char* kSoundPlugin = "SoundUnits.psr";
constexpr const char* kHookPlugin = "SoundHook.psr";

// The description of a sound stream: 16-bit PCM output (audioFormat 1) of `channels` at `rate`.
StrInfo soundInfo(uint16_t channels, uint32_t sampleRate, uint16_t kind = StrAudio);

class SoundStream
{
  public:
    explicit SoundStream(const StrInfo& info, const char* plugin = kSoundPlugin);
    SoundStream(uint16_t channels, uint32_t sampleRate) : SoundStream(soundInfo(channels, sampleRate)) {}
    SoundStream(const SoundStream&) = delete;
    SoundStream& operator=(const SoundStream&) = delete;
    ~SoundStream();

    StreamState* get() const { return m_stream; }
    explicit operator bool() const { return m_stream != nullptr; }

    // Decodes one unit with room for `capacity` bytes (default: plenty); the PCM bytes, which
    // are empty when the decoder gave 0.
    std::vector<uint8_t> decode(Unit& unit, int32_t capacity = -1);
    // Decodes every unit in turn and joins the samples; counts the units that gave nothing.
    std::vector<int16_t> decodeAll(std::vector<Unit>& units, size_t* failed = nullptr);

  private:
    StreamState* m_stream = nullptr;
};

} // namespace soundtest
