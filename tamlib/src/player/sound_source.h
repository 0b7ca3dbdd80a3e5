// What the sound thread plays: the PCM of a sampled-sound stream as its units decode, or the
// music of a sequenced stream rendered by the synthesiser. Both give 16-bit PCM in the player's
// source format, a piece at a time; the sound thread converts it (rate, tempo, level) and feeds
// the device with it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct Player;

namespace tamrin::player {

class SoundSource
{
  public:
    virtual ~SoundSource() = default;
    // Ready for a playing cycle from the stream's current place (`fromMs`); false, with the
    // reason in `error`, when this source cannot play (the cycle then keeps the clock alone).
    virtual bool begin(uint32_t fromMs, std::string& error) = 0;
    // Replaces `pcm` with the next piece (empty for a damaged unit, which is skipped). False when
    // the stream is used up.
    virtual bool next(std::vector<uint8_t>& pcm) = 0;
    // True when the source applies the volume itself; the feeder then leaves the level alone.
    virtual bool ownsVolume() const = 0;
    // True when the pieces are stream event records for a sequencer, not PCM: they go to the
    // device as they are.
    virtual bool records() const { return false; }
};

std::unique_ptr<SoundSource> makePcmSource(Player& p);
// Rendered by the synthesiser, or (`records`) as stream event records for a sequencer port.
std::unique_ptr<SoundSource> makeMusicSource(Player& p, bool records);

// The format music is rendered in and played at.
constexpr uint32_t kMusicRate = 44100;
constexpr uint16_t kMusicChannels = 2;

} // namespace tamrin::player
