// Sound output: the one interface the player feeds its PCM through. A device is opened with a
// PCM format, takes buffers that stay owned by the caller until the device reports them done
// (on the device's own thread), tells how many sample frames it has played, and can be paused,
// restarted and reset (which hands every queued buffer back as done and starts counting from 0).
//
// Devices: ALSA PCM (the default device or a named one), and a null device that plays in real
// time on the steady clock, or at once (untimed), or fails on purpose (faulty).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tamrin::audio {

struct PcmFormat
{
    uint32_t rate = 0;
    uint16_t channels = 0; // 1 or 2
    uint16_t bits = 0;     // 8 (unsigned) or 16 (signed, little-endian)

    uint32_t bytesPerFrame() const { return uint32_t(channels) * bits / 8; }
    bool valid() const
    {
        return rate >= 1000 && rate <= 192000 && (channels == 1 || channels == 2) && (bits == 8 || bits == 16);
    }
};

// Told, on the device's thread, that the buffer written with `tag` is no longer needed.
using Completion = std::function<void(void* tag)>;

class SoundOutput
{
  public:
    virtual ~SoundOutput() = default;
    // False when the device or the format cannot be used. A device opens running (not paused).
    virtual bool open(const PcmFormat& format, Completion done) = 0;
    // Queues whole sample frames; `data` must stay valid until the completion for `tag`. False
    // when the device is not open or refuses the buffer (no completion follows then).
    virtual bool write(const uint8_t* data, uint32_t bytes, void* tag) = 0;
    // Sample frames played since open or the last reset.
    virtual uint64_t position() = 0;
    virtual void pause() = 0;
    virtual void restart() = 0;
    // Stops at once, completes every queued buffer, position back to 0; stays paused if it was.
    virtual void reset() = 0;
    // Resets and closes; the completion is not called any more after it returns.
    virtual void close() = 0;
};

enum class NullMode
{
    RealTime,  // plays at the format's rate on the steady clock
    Untimed,   // every buffer is played as soon as it is written
    FailOpen,  // open fails
    FailWrite, // open works, every write fails
};

std::unique_ptr<SoundOutput> makeNullOutput(NullMode mode);
// `device` empty: ALSA's "default".
std::unique_ptr<SoundOutput> makeAlsaOutput(const std::string& device);

// What the player opens: a driver ("alsa" or "null", "null-untimed", "null-faulty",
// "null-faulty-write") and, for ALSA, a device name. Null for an unknown driver.
std::unique_ptr<SoundOutput> makeSoundOutput(const std::string& driver, const std::string& device);

} // namespace tamrin::audio
