// The music of a sequenced stream as PCM: each unit decodes to raw sequencer events, which are
// converted to stream event records and played on the synthesiser a piece at a time (a long rest
// costs no more memory than a short one). When the units are used up, the notes still ringing
// are rendered for a short tail and silence follows up to the known length, so that the device's
// clock carries the position to the length and the end comes there. For a sequencer port the
// records themselves are the pieces, their note velocities scaled by the volume.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "audio/music_synth.h"
#include "player/player_impl.h"
#include "player/sequencer_events.h"
#include "player/sound_source.h"

namespace tamrin::player {

namespace {

constexpr uint32_t kStepFrames = 8192;                         // one piece: about 190 ms
constexpr uint32_t kTailFrames = kMusicRate * 3 / 2;           // ringing notes after the last unit
constexpr uint64_t kMaxUnitFrames = uint64_t(kMusicRate) * 60; // longer: a damaged unit
constexpr size_t kEventBytes = 0x10000;                        // raw events of one unit
// Used when the stream's own timing cannot be: 480 ticks a quarter note, 120 quarters a minute.
constexpr uint32_t kDefaultDivision = 480;
constexpr uint32_t kDefaultTempoUs = 500000;

class MusicSource final : public SoundSource
{
  public:
    MusicSource(Player& p, bool records) : m_p(p), m_toSequencer(records) {}

    bool records() const override { return m_toSequencer; }

    bool begin(uint32_t fromMs, std::string& error) override
    {
        m_records.clear();
        m_played = 0;
        m_usedUp = false;
        if (m_toSequencer)
            return true;
        if (!m_synth) {
            // The SoundFont the user names in TAMRIN_SOUNDFONT, else the distribution's.
            const char* font = std::getenv("TAMRIN_SOUNDFONT");
            if (m_error.empty())
                m_synth = audio::makeMusicSynth(kMusicRate, font ? font : "", &m_error);
            if (!m_synth) {
                if (m_error.empty())
                    m_error = "unknown failure";
                error = "the music synthesiser cannot be used: " + m_error;
                return false;
            }
        }
        m_synth->reset();
        if (!m_synth->setTiming(m_p.info.bitsPerSample, m_p.info.sampleRate))
            m_synth->setTiming(kDefaultDivision, kDefaultTempoUs);
        m_volume = UINT32_MAX;
        m_records.clear();
        m_played = 0;
        m_unitFrames = 0;
        m_usedUp = false;
        m_fromMs = fromMs;
        m_frames = 0;
        m_tail = 0;
        return true;
    }

    bool next(std::vector<uint8_t>& out) override
    {
        out.clear();
        if (m_toSequencer) {
            // The sequencer plays the records with their times; nothing rings on after them.
            readUnit();
            if (const uint32_t volume = m_p.volume.load(); volume != 100)
                scaleNoteVelocities(m_records, volume);
            out.swap(m_records);
            m_records.clear();
            return !m_usedUp;
        }
        m_pcm.clear();
        const uint32_t volume = m_p.volume.load();
        if (volume != m_volume) {
            m_synth->setVolume(volume);
            m_volume = volume;
        }
        if (m_played == m_records.size() && !m_usedUp)
            readUnit();
        if (m_played < m_records.size())
            renderRecords();
        else if (m_usedUp && !tail())
            return false;
        m_frames += m_pcm.size() / kMusicChannels;
        out.resize(m_pcm.size() * sizeof(int16_t));
        std::memcpy(out.data(), m_pcm.data(), out.size());
        return true;
    }

    bool ownsVolume() const override { return true; }

  private:
    // The next unit's records; none for a damaged unit.
    void readUnit()
    {
        m_records.clear();
        m_played = 0;
        m_unitFrames = 0;
        auto* unit = reinterpret_cast<PsrReadRecord*>(m_unit.data());
        if (!LbrReadStream(m_p.stream, LBR_WANT_AUDIO, unit)) {
            m_usedUp = true;
            return;
        }
        const int32_t made = LbrDecodeAudio(m_p.stream, unit, m_events.data(), int32_t(m_events.size()));
        LbrFreeReadBuffer(m_p.stream, unit);
        if (made <= 0 || size_t(made) > m_events.size())
            return;
        // A record is at most six times the bytes of its event (a one-byte delta and a one-byte
        // real-time message); a system-exclusive message at most its length padded.
        m_records.resize(size_t(made) * 6 + 16);
        m_records.resize(convertSequencerEvents(std::span(m_events.data(), size_t(made)), m_records));
    }

    void renderRecords()
    {
        const size_t before = m_pcm.size();
        const auto played = m_synth->renderSome(std::span(m_records).subspan(m_played), m_pcm, kStepFrames);
        m_unitFrames += (m_pcm.size() - before) / kMusicChannels;
        if (!played || m_unitFrames > kMaxUnitFrames) {
            m_records.clear(); // the rest of a damaged unit is skipped
            m_played = 0;
            return;
        }
        m_played += *played;
    }

    // Rings out and then stays silent up to the known length. False when the length is reached.
    bool tail()
    {
        const uint64_t doneMs = m_fromMs + m_frames * 1000 / kMusicRate;
        const uint32_t length = m_p.knownLength.load();
        if (doneMs >= length)
            return false;
        const uint64_t left = (uint64_t(length) - doneMs) * kMusicRate / 1000 + 1;
        const uint32_t frames = uint32_t(std::min<uint64_t>(left, kStepFrames));
        if (m_tail < kTailFrames) {
            const uint32_t ringing = std::min(frames, kTailFrames - m_tail);
            m_synth->renderFrames(ringing, m_pcm);
            m_tail += ringing;
        } else {
            m_pcm.assign(size_t(frames) * kMusicChannels, 0);
        }
        return true;
    }

    Player& m_p;
    const bool m_toSequencer;
    std::unique_ptr<audio::MusicSynth> m_synth;
    std::string m_error; // why the synthesiser could not be made; not tried again then
    std::vector<uint8_t> m_unit = std::vector<uint8_t>(kRecordBytes);
    std::vector<uint8_t> m_events = std::vector<uint8_t>(kEventBytes);
    std::vector<uint8_t> m_records;
    size_t m_played = 0;
    uint64_t m_unitFrames = 0;
    bool m_usedUp = false;
    std::vector<int16_t> m_pcm;
    uint32_t m_volume = UINT32_MAX;
    uint32_t m_fromMs = 0;
    uint64_t m_frames = 0; // rendered in this cycle
    uint32_t m_tail = 0;
};

} // namespace

std::unique_ptr<SoundSource> makeMusicSource(Player& p, bool records)
{
    return std::make_unique<MusicSource>(p, records);
}

} // namespace tamrin::player
