// The player's clock, its state changes, its notifications and the timing of its frames.
#include <algorithm>
#include <numeric>

#include "player/player_impl.h"

namespace tamrin::player {

uint32_t tick()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    const uint32_t ms = uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
    return ms ? ms : 1; // 0 means "the clock does not run"
}

uint32_t position(Player& p, uint32_t* length)
{
    std::lock_guard lock(p.clockLock);
    uint64_t elapsed = 0;
    if (p.wave && p.deviceRate && p.audioState.load() != Ended) {
        const uint64_t samples = p.wave->position();
        elapsed = (samples % p.deviceRate) * 1000 / p.deviceRate + (samples / p.deviceRate) * 1000;
    }
    if (elapsed == 0 && p.startTick != 0)
        elapsed = uint32_t(tick() - p.startTick); // wraps as the tick does
    // Scaled in 64 bits: a long play at a high tempo would otherwise wrap.
    const uint64_t scaled = elapsed * p.tempo.load() / 100;
    const uint64_t sum = p.baseMs + scaled;
    const uint32_t at = uint32_t(std::min<uint64_t>(sum, UINT32_MAX));
    uint32_t result;
    if (p.audioState.load() == Playing || p.videoState.load() == Playing) {
        result = at;
        uint32_t known = p.knownLength.load();
        while (known < at && !p.knownLength.compare_exchange_weak(known, at)) {
        }
    } else {
        result = std::min(at, p.knownLength.load());
    }
    if (length)
        *length = p.knownLength.load();
    return result;
}

uint16_t status(Player& p)
{
    return p.hasDecode ? p.videoState.load() : p.hasAudio ? p.audioState.load() : uint16_t(Stopped);
}

bool advanceState(std::atomic<uint16_t>& state, uint16_t to)
{
    uint16_t now = state.load();
    while (running(now)) {
        if (state.compare_exchange_weak(now, to))
            return true;
    }
    return false;
}

namespace {

// A thread stops acknowledging only when it has gone wrong; the caller is never held for ever.
constexpr uint32_t kAckLimitMs = 10000;

void changeOne(Player& p, bool exists, std::atomic<uint16_t>& state, Event& wake, Ack& ack, uint16_t to,
               bool wait)
{
    if (!exists || state.load() == to || state.load() == Exited)
        return;
    if (wait)
        ack.clear();
    state.store(to);
    if (wait) {
        wake.set();
        ack.waitFor(to, kAckLimitMs);
    }
    (void)p;
}

} // namespace

void setStates(Player& p, uint16_t to, bool wait)
{
    changeOne(p, p.hasDecode, p.videoState, p.videoWake, p.videoAck, to, wait);
    changeOne(p, p.hasAudio, p.audioState, p.audioWake, p.audioAck, to, wait);
    if (!wait) {
        // Wake them all the same, so that a thread waiting out an interval sees the change.
        if (p.hasDecode)
            p.videoWake.set();
        if (p.hasAudio)
            p.audioWake.set();
    }
    if (p.hasDecode && p.videoState.load() == Exited) {
        p.decodeThread.join();
        p.hasDecode = false;
        LbrSetOpenFlags(p.stream, LBR_WANT_VIDEO, 0);
    }
    if (p.hasAudio && p.audioState.load() == Exited) {
        p.audioThread.join();
        p.hasAudio = false;
        LbrSetOpenFlags(p.stream, LBR_WANT_AUDIO, 0);
    }
}

void notifyPosition(Player& p, bool forced)
{
    if (!p.hasNotify || !p.notify.position)
        return;
    const uint32_t at = position(p, nullptr);
    const uint32_t last = p.lastNotified.load();
    if (!forced && at / p.interval == last / p.interval)
        return;
    p.lastNotified.store(at);
    p.notify.position(p.notify.context, p.hasDecode ? p.screenFrame.load() : 0, at);
}

void checkEnd(Player& p)
{
    const bool videoEnded = !p.hasDecode || p.videoState.load() == Ended;
    const bool audioEnded = !p.hasAudio || p.audioState.load() == Ended;
    if (!videoEnded || !audioEnded)
        return;
    {
        std::lock_guard lock(p.clockLock);
        p.baseMs = p.knownLength.load();
        p.startTick = 0;
    }
    if (!p.hasNotify || p.endNotified.exchange(true))
        return;
    notifyPosition(p, true);
    if (!p.notify.end || !p.notify.end(p.notify.context))
        p.endNotified.store(false);
}

void setSoundProblem(Player& p, std::string why)
{
    std::lock_guard lock(p.problemLock);
    p.soundProblem = std::move(why);
}

bool soundAheadOfPictures(Player& p)
{
    constexpr uint64_t kLeadMs = 500;
    return p.untimed && p.hasDecode && running(p.videoState.load()) &&
           position(p, nullptr) > p.handedOverMs.load() + kLeadMs;
}

uint32_t frameTime(const StrInfo& info, PsrReadRecord& unit, uint64_t previousMs)
{
    const uint64_t r = info.frameRate; // refused at open when 0
    const uint64_t k = r <= 800 ? 10 : 100;
    if (!(info.kind & StrTimed)) {
        const uint64_t index = unit.frameNumber ? unit.frameNumber - 1 : 0;
        return uint32_t(std::min<uint64_t>(index * k * 1000 / r, UINT32_MAX));
    }
    if (unit.param == 0)
        unit.param = uint16_t(r);
    const uint64_t f = unit.param;
    const uint64_t l = std::lcm(f, r);
    const uint64_t q = (k * 1000 / f + previousMs + 10) * l / (k * 1000);
    return uint32_t(std::min<uint64_t>(q * k * 1000 / l, UINT32_MAX));
}

} // namespace tamrin::player
