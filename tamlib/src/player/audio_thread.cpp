// The sound thread: in each playing cycle it opens the sound device, keeps it fed with two
// large buffers filled with the PCM of its source (the stream's sound units as they decode, or
// its music as the synthesiser renders it), and drains and closes it when the state leaves
// playing and pausing. When no device (or no synthesiser) can be used, it keeps the clock
// alone: the wall clock runs, positions are reported and the end comes at the known length.
#include <algorithm>
#include <cstring>
#include <vector>

#include "player/player_impl.h"
#include "audio/sequencer_output.h"
#include "player/sound_source.h"

namespace tamrin::player {

namespace {

constexpr uint32_t kBufferBytes = 0x18000;
constexpr uint32_t kSlack = 4096;

// Sampled sound: one unit decoded a piece.
class PcmSource final : public SoundSource
{
  public:
    explicit PcmSource(Player& p) : m_p(p) {}

    bool begin(uint32_t, std::string&) override { return true; }

    bool next(std::vector<uint8_t>& pcm) override
    {
        pcm.resize(kBufferBytes);
        auto* unit = reinterpret_cast<PsrReadRecord*>(m_unit.data());
        if (!LbrReadStream(m_p.stream, LBR_WANT_AUDIO, unit)) {
            pcm.clear();
            return false;
        }
        const int32_t made = LbrDecodeAudio(m_p.stream, unit, pcm.data(), int32_t(pcm.size()));
        LbrFreeReadBuffer(m_p.stream, unit);
        pcm.resize(made > 0 ? size_t(std::min<int32_t>(made, int32_t(kBufferBytes))) : 0); // damaged: none
        return true;
    }

    bool ownsVolume() const override { return false; }

  private:
    Player& m_p;
    std::vector<uint8_t> m_unit = std::vector<uint8_t>(kRecordBytes);
};

class Feeder
{
  public:
    explicit Feeder(Player& p)
        : m_p(p), m_source(p.music ? makeMusicSource(p, p.soundDriver == kSequencerDriver) : makePcmSource(p))
    {
        for (SoundBuffer& b : m_buffers)
            b.data.reset(new uint8_t[kBufferBytes]);
    }

    void run()
    {
        Player& p = m_p;
        for (;;) {
            LbrSetOpenFlags(p.stream, LBR_WANT_AUDIO, 0);
            silentClock();
            uint16_t state = p.audioState.load();
            while (state == Ended) {
                p.audioAck.report(state);
                p.audioWake.wait(1000);
                state = p.audioState.load();
            }
            LbrSetOpenFlags(p.stream, LBR_WANT_AUDIO, LBR_WANT_AUDIO);
            while (state == Stopped) {
                p.audioAck.report(state);
                p.audioWake.wait(1000);
                state = p.audioState.load();
            }
            if (state == Quit)
                break;
            if (state == Ended || !openDevice())
                continue;
            cycle();
            if (p.audioState.load() == Quit)
                break;
        }
    }

  private:
    // Waits for the rest of the notify interval (after a position message) when the sound is
    // what moves the position on, else up to `otherwise` ms.
    void waitWake(uint32_t otherwise)
    {
        Player& p = m_p;
        if (p.hasNotify && (!p.hasDecode || p.videoState.load() == Ended)) {
            notifyPosition(p, false);
            const uint32_t at = position(p, nullptr);
            p.audioWake.wait(p.interval - at % p.interval);
        } else {
            p.audioWake.wait(otherwise);
        }
    }

    void silentClock()
    {
        Player& p = m_p;
        while (running(p.audioState.load())) {
            p.audioAck.report(p.audioState.load());
            uint32_t length = 0;
            if (p.audioState.load() == Playing && position(p, &length) >= length) {
                if (advanceState(p.audioState, Ended))
                    checkEnd(p);
                break;
            }
            waitWake(1000);
        }
    }

    bool openDevice()
    {
        Player& p = m_p;
        uint32_t from;
        {
            std::lock_guard lock(p.clockLock);
            from = p.baseMs;
        }
        std::string why;
        if (!m_source->begin(from, why)) {
            setSoundProblem(p, why);
            return false;
        }
        std::unique_ptr<audio::SoundOutput> device;
        audio::PcmFormat format{p.outputFormat.sampleRate, p.outputFormat.channels, p.outputFormat.bitsPerSample};
        std::string failure;
        if (p.soundDriver == kSequencerDriver) {
            auto sequencer = audio::makeSequencerOutput(audio::makeAlsaSequencerPort(), p.soundDevice,
                                                        p.info.bitsPerSample, p.info.sampleRate, p.tempo.load());
            if (!p.music)
                failure = "a sequencer port plays music only";
            else if (!sequencer->open(format, done()))
                failure = sequencer->error();
            else
                device = std::move(sequencer);
            format.rate = audio::kSequencerRate;
        } else {
            device = audio::makeSoundOutput(p.soundDriver, p.soundDevice);
            if (!device || !device->open(format, done())) {
                device.reset();
                failure = "the sound device (driver " + p.soundDriver +
                          (p.soundDevice.empty() ? std::string() : ", device " + p.soundDevice) +
                          ") cannot be opened";
            }
        }
        if (!device) {
            setSoundProblem(p, failure);
            return false;
        }
        setSoundProblem(p, {});
        device->pause();
        std::lock_guard lock(p.clockLock);
        p.wave = std::move(device);
        p.deviceRate = format.rate;
        return true;
    }

    audio::Completion done()
    {
        return [this](void* tag) {
            m_buffers[reinterpret_cast<uintptr_t>(tag) - 1].busy.store(false);
            m_p.audioWake.set();
        };
    }

    bool idle(int index) const { return !m_buffers[index].busy.load(); }

    void cycle()
    {
        Player& p = m_p;
        for (SoundBuffer& b : m_buffers)
            b.fill = 0;
        m_carry.clear();
        std::memset(&m_conv, 0, sizeof m_conv);
        LbrConvAudioData(&m_conv, 0, nullptr, nullptr, nullptr, nullptr);
        bool exhausted = !fill(0);
        p.audioAck.report(p.audioState.load());

        while (!exhausted && running(p.audioState.load())) {
            if (soundAheadOfPictures(p)) {
                p.audioWake.wait(5);
                continue;
            }
            const int free = idle(0) ? 0 : idle(1) ? 1 : -1;
            if (free < 0) {
                waitWake(1000);
                continue;
            }
            m_buffers[free].fill = 0;
            exhausted = !fill(free);
        }
        // Drain: what was written plays out while the state allows.
        while ((!idle(0) || !idle(1)) && running(p.audioState.load())) {
            if (p.hasNotify) {
                notifyPosition(p, false);
                p.audioWake.wait(p.interval - position(p, nullptr) % p.interval);
            } else {
                p.audioWake.wait(100);
            }
        }
        if (exhausted && p.music)
            waitForLength();
        std::unique_ptr<audio::SoundOutput> device;
        bool ended = false;
        {
            std::lock_guard lock(p.clockLock);
            p.baseMs = position(p, nullptr);
            p.wave->reset();
            p.startTick = p.audioState.load() == Playing ? tick() : 0;
            if (exhausted)
                ended = advanceState(p.audioState, Ended);
            device = std::move(p.wave);
            p.deviceRate = 0;
        }
        device->close();
        if (ended)
            checkEnd(p);
    }

    // Music ends at the known length: what the device has not played of it yet plays out. The
    // wait is bounded by the time that is left, should the device stop counting.
    void waitForLength()
    {
        Player& p = m_p;
        uint32_t length = 0;
        uint32_t at = position(p, &length);
        const uint32_t tempo = std::max<uint32_t>(p.tempo.load(), 1);
        const uint32_t limit = tick() + (length > at ? (length - at) * 100 / tempo : 0) + 500;
        while (at < length && running(p.audioState.load()) && int32_t(limit - tick()) > 0) {
            waitWake(100);
            at = position(p, &length);
        }
    }

    // Takes pieces of the source into buffer `index` after what it holds, converted to the
    // output format, and writes it to the device. False when nothing was there to write.
    bool fill(int index)
    {
        Player& p = m_p;
        SoundBuffer& b = m_buffers[index];
        const uint32_t frameBytes = m_source->records() ? 1 : uint32_t(p.outputFormat.channels) * 2;
        const bool otherIdle = idle(1 - index);
        auto room = [&] { return kBufferBytes - b.fill; };
        take(b);
        bool more = true;
        while (more && room() >= m_estimate + kSlack) {
            if (!m_source->next(m_decoded))
                break;
            if (m_decoded.empty())
                continue; // a damaged unit is skipped
            if (m_source->records())
                m_carry.insert(m_carry.end(), m_decoded.begin(), m_decoded.end());
            else
                convert(uint32_t(m_decoded.size()));
            m_estimate = std::max<uint32_t>(m_estimate, uint32_t(m_carry.size()));
            take(b);
            more = !otherIdle;
        }
        b.fill -= b.fill % frameBytes;
        if (b.fill == 0)
            return false;
        b.busy.store(true);
        std::lock_guard lock(p.clockLock);
        if (!p.wave || !p.wave->write(b.data.get(), b.fill, reinterpret_cast<void*>(uintptr_t(index) + 1))) {
            b.fill = 0;
            b.busy.store(false);
        }
        return true;
    }

    // Converts decoded samples to the output format (at the tempo) into the carry-over bytes.
    void convert(uint32_t bytes)
    {
        Player& p = m_p;
        AudioFormat target = p.outputFormat;
        const uint32_t tempo = p.tempo.load();
        target.level = m_source->ownsVolume() ? p.sourceFormat.level
                                              : uint16_t(std::min<uint32_t>(p.volume.load(), 0xFFFF));
        bool needed = p.resampleNeeded || target.level != p.sourceFormat.level;
        if (tempo != 100) {
            target.sampleRate = uint32_t(uint64_t(target.sampleRate) * 100 / tempo);
            needed = true;
        }
        if (!needed) {
            m_carry.insert(m_carry.end(), m_decoded.begin(), m_decoded.begin() + bytes);
            return;
        }
        const int32_t most = LbrConvAudioOutputBytes(&m_conv, int32_t(bytes), &p.sourceFormat, &target);
        if (most <= 0)
            return;
        const size_t at = m_carry.size();
        m_carry.resize(at + size_t(most));
        const int32_t made =
            LbrConvAudioData(&m_conv, int32_t(bytes), &p.sourceFormat, m_decoded.data(), &target, m_carry.data() + at);
        m_carry.resize(at + size_t(std::max(made, 0)));
    }

    // Moves carried-over bytes into the buffer, as many as fit.
    void take(SoundBuffer& b)
    {
        const size_t n = std::min<size_t>(m_carry.size(), kBufferBytes - b.fill);
        if (n == 0)
            return;
        std::memcpy(b.data.get() + b.fill, m_carry.data(), n);
        b.fill += uint32_t(n);
        m_carry.erase(m_carry.begin(), m_carry.begin() + ptrdiff_t(n));
    }

    Player& m_p;
    std::unique_ptr<SoundSource> m_source;
    SoundBuffer m_buffers[2];
    std::vector<uint8_t> m_decoded;
    std::vector<uint8_t> m_carry;
    AudioConvState m_conv{};
    uint32_t m_estimate = kInitialChunkEstimate;
};

} // namespace

std::unique_ptr<SoundSource> makePcmSource(Player& p)
{
    return std::make_unique<PcmSource>(p);
}

void audioThread(Player* p)
{
    {
        Feeder feeder(*p);
        feeder.run();
    }
    p->audioState.store(Exited);
    p->audioAck.report(Exited);
}

} // namespace tamrin::player
