// The music synthesiser on FluidSynth. Time is kept as microseconds × division since the last
// reset (changing the tempo changes the step, never the division), and the sample frame a record
// falls on is that time × rate / (division × 1 000 000): no rounding error adds up over a song.
#include "audio/music_synth.h"

#include <fluidsynth.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "player/sequencer_events.h"

namespace tamrin::audio {
namespace {

const char* const kSoundFonts[] = {
    "/usr/share/sounds/sf2/default-GM.sf2",
    "/usr/share/sounds/sf2/FluidR3_GM.sf2",
    "/usr/share/soundfonts/default.sf2",
};

// FluidSynth reports on stderr unless told otherwise; its messages are kept here instead, the
// last error to complete a failure's reason.
std::mutex g_logLock;
std::string g_lastError;

void quietLog(int level, const char* message, void*)
{
    if (level > FLUID_ERR || !message)
        return;
    std::lock_guard lock(g_logLock);
    g_lastError = message;
}

void routeLog()
{
    static std::once_flag once;
    std::call_once(once, [] {
        for (int level = FLUID_PANIC; level <= FLUID_DBG; ++level)
            fluid_set_log_function(level, quietLog, nullptr);
    });
}

// The last error FluidSynth reported, cleared as it is taken.
std::string takeLastError()
{
    std::lock_guard lock(g_logLock);
    std::string text = std::move(g_lastError);
    g_lastError.clear();
    return text;
}

uint32_t get32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

class FluidMusic final : public MusicSynth
{
  public:
    ~FluidMusic() override
    {
        if (m_synth)
            delete_fluid_synth(m_synth);
        if (m_settings)
            delete_fluid_settings(m_settings);
    }

    bool init(uint32_t rate, const std::string& soundFont, std::string* error)
    {
        m_rate = rate;
        m_settings = new_fluid_settings();
        if (!m_settings)
            return fail(error, "the synthesiser's settings could not be made");
        fluid_settings_setnum(m_settings, "synth.sample-rate", double(rate));
        fluid_settings_setint(m_settings, "synth.threadsafe-api", 0);
        m_synth = new_fluid_synth(m_settings);
        if (!m_synth)
            return fail(error, "the synthesiser could not be started");
        std::string path = soundFont;
        if (path.empty())
        {
            for (const char* candidate : kSoundFonts)
            {
                std::error_code ec;
                if (std::filesystem::is_regular_file(candidate, ec))
                {
                    path = candidate;
                    break;
                }
            }
        }
        if (path.empty())
            return fail(error, "no General MIDI SoundFont is installed");
        if (fluid_synth_sfload(m_synth, path.c_str(), 1) == FLUID_FAILED)
            return fail(error, "the SoundFont " + path + " could not be loaded");
        m_gain = fluid_synth_get_gain(m_synth);
        return true;
    }

    bool setTiming(uint32_t division, uint32_t tempoUs) override
    {
        if (division == 0 || division > 0x7FFF || tempoUs == 0)
            return false;
        // Keep the time already played when the division changes.
        m_time = m_time / m_division * division;
        m_division = division;
        m_tempo = tempoUs;
        return true;
    }

    void setVolume(uint32_t percent) override
    {
        fluid_synth_set_gain(m_synth, float(m_gain * std::min<uint32_t>(percent, 1000) / 100.0));
    }

    std::optional<size_t> renderSome(std::span<const uint8_t> records, std::vector<int16_t>& pcm,
                                     uint64_t maxFrames) override
    {
        const uint64_t limit = maxFrames > UINT64_MAX - m_rendered ? UINT64_MAX : m_rendered + maxFrames;
        size_t pos = 0;
        while (pos < records.size())
        {
            if (records.size() - pos < player::kStreamEventBytes)
                return std::nullopt;
            const uint8_t* r = records.data() + pos;
            const uint32_t delta = get32(r);
            const uint32_t event = get32(r + 8);
            const uint32_t value = event & 0xFFFFFF;
            const uint8_t type = uint8_t(event >> 24);
            size_t next = pos + player::kStreamEventBytes;
            if (type == player::kEventLong)
            {
                const size_t padded = (size_t(value) + 3) & ~size_t(3);
                if (records.size() - next < padded)
                    return std::nullopt;
                next += padded;
            }
            else if (type != player::kEventShort && type != player::kEventTempo)
            {
                return std::nullopt;
            }
            const uint64_t time = m_time + uint64_t(delta) * m_tempo;
            const uint64_t frame = frameAt(time);
            if (frame > limit)
            {
                renderTo(limit, pcm); // the record's time is not reached yet
                return pos;
            }
            renderTo(frame, pcm);
            m_time = time;
            switch (type)
            {
            case player::kEventShort:
                shortMessage(value);
                break;
            case player::kEventTempo:
                if (value)
                    m_tempo = value;
                break;
            default:
                longMessage(records.subspan(pos + player::kStreamEventBytes, value));
                break;
            }
            pos = next;
        }
        return pos;
    }

    void renderFrames(uint32_t frames, std::vector<int16_t>& pcm) override
    {
        renderTo(m_rendered + frames, pcm);
    }

    void reset() override
    {
        fluid_synth_system_reset(m_synth);
        m_time = 0;
        m_rendered = 0;
    }

  private:
    static bool fail(std::string* error, const std::string& why)
    {
        if (error) {
            const std::string detail = takeLastError();
            *error = detail.empty() ? why : why + " (" + detail + ")";
        }
        return false;
    }

    uint64_t frameAt(uint64_t time) const
    {
        // time is microseconds × division; split to stay inside 64 bits on long songs.
        const uint64_t scale = uint64_t(m_division) * 1000000;
        return time / scale * m_rate + time % scale * m_rate / scale;
    }

    void renderTo(uint64_t frame, std::vector<int16_t>& pcm)
    {
        while (m_rendered < frame)
        {
            const int n = int(std::min<uint64_t>(frame - m_rendered, 4096));
            const size_t at = pcm.size();
            pcm.resize(at + size_t(n) * 2);
            fluid_synth_write_s16(m_synth, n, pcm.data() + at, 0, 2, pcm.data() + at, 1, 2);
            m_rendered += uint64_t(n);
        }
    }

    void shortMessage(uint32_t value)
    {
        const int status = int(value & 0xFF);
        const int d1 = int(value >> 8 & 0x7F);
        const int d2 = int(value >> 16 & 0x7F);
        const int ch = status & 0x0F;
        switch (status & 0xF0)
        {
        case 0x80: fluid_synth_noteoff(m_synth, ch, d1); break;
        case 0x90: fluid_synth_noteon(m_synth, ch, d1, d2); break;
        case 0xA0: fluid_synth_key_pressure(m_synth, ch, d1, d2); break;
        case 0xB0: fluid_synth_cc(m_synth, ch, d1, d2); break;
        case 0xC0: fluid_synth_program_change(m_synth, ch, d1); break;
        case 0xD0: fluid_synth_channel_pressure(m_synth, ch, d1); break;
        case 0xE0: fluid_synth_pitch_bend(m_synth, ch, d1 | d2 << 7); break;
        default:
            if (status == 0xFF)
                fluid_synth_system_reset(m_synth);
            break; // other system messages mean nothing to a synthesiser
        }
    }

    void longMessage(std::span<const uint8_t> message)
    {
        // The synthesiser takes a complete system-exclusive message without its 0xF0 and 0xF7.
        if (message.size() < 2 || message.front() != 0xF0 || message.back() != 0xF7)
            return;
        fluid_synth_sysex(m_synth, reinterpret_cast<const char*>(message.data() + 1), int(message.size() - 2),
                          nullptr, nullptr, nullptr, 0);
    }

    fluid_settings_t* m_settings = nullptr;
    fluid_synth_t* m_synth = nullptr;
    uint32_t m_rate = 44100;
    uint32_t m_division = 480;
    uint32_t m_tempo = 500000;
    float m_gain = 0.2f;
    uint64_t m_time = 0;
    uint64_t m_rendered = 0;
};

} // namespace

std::unique_ptr<MusicSynth> makeMusicSynth(uint32_t sampleRate, const std::string& soundFont,
                                           std::string* error)
{
    if (sampleRate < 8000 || sampleRate > 96000)
    {
        if (error)
            *error = "unsupported sample rate";
        return nullptr;
    }
    routeLog();
    takeLastError();
    auto synth = std::make_unique<FluidMusic>();
    if (!synth->init(sampleRate, soundFont, error))
        return nullptr;
    return synth;
}

} // namespace tamrin::audio
