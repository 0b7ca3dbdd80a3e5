// The decode thread reads the video units, drops those that come too late, decodes and scales
// the others one frame ahead of the screen; the display thread waits for each frame's time and
// hands it to the frame sink.
#include <memory>

#include "player/player_impl.h"

namespace tamrin::player {

namespace {

struct UnitBuffer
{
    std::unique_ptr<uint8_t[]> bytes{new uint8_t[kRecordBytes]};
    PsrReadRecord* record() { return reinterpret_cast<PsrReadRecord*>(bytes.get()); }
};

PlbRect currentRect(Player& p)
{
    std::lock_guard lock(p.rectLock);
    return PlbRect{p.rectX, p.rectY, p.rectX + p.rectWidth, p.rectY + p.rectHeight};
}

void displayThread(Player* pp)
{
    Player& p = *pp;
    for (;;) {
        p.spare.frameNumber = 0;
        p.displayQueued.store(false);
        while (!p.decodedFull.load()) {
            p.videoWake.set();
            if (p.videoState.load() == Quit) {
                p.videoWake.set();
                return;
            }
            p.drawWake.wait(3000);
        }
        {
            // The decode thread may have emptied the slot meanwhile (a stop): then its pictures
            // stay its own.
            std::lock_guard lock(p.decodeLock);
            if (!p.decodedFull.load())
                continue;
            std::swap(p.decoded, p.spare);
            p.decodedFull.store(false);
            p.displayQueued.store(true);
        }
        p.videoWake.set();

        bool show = true;
        for (;;) {
            const uint16_t state = p.videoState.load();
            if (state == Quit) {
                p.displayQueued.store(false);
                p.videoWake.set();
                return;
            }
            if (state < Paused) {
                show = false;
                break;
            }
            const uint32_t at = position(p, nullptr);
            if (at >= p.spare.timeMs)
                break;
            // Untimed, the sound moves the position on in jumps that nothing signals: look often.
            p.drawWake.wait(std::min<uint32_t>(p.untimed ? 1 : 100, p.spare.timeMs - at));
        }
        if (!show)
            continue;

        const PlbRect rect = currentRect(p);
        p.screenLock.acquire();
        std::swap(p.spare, p.onScreen);
        p.screenFrame.store(p.onScreen.frameNumber);
        p.shownCount.fetch_add(1);
        if (p.sink.frame && p.onScreen.shown())
            p.sink.frame(p.sink.context, p.onScreen.shown(), &rect, p.onScreen.frameNumber);
        p.screenLock.release();
        notifyPosition(p, true);
    }
}

class Decoder
{
  public:
    explicit Decoder(Player& p) : m_p(p) {}

    void run()
    {
        Player& p = m_p;
        p.displayThread = std::thread(displayThread, &p);
        for (;;) {
            uint16_t state = p.videoState.load();
            while (state == Ended || state == Stopped) {
                p.videoAck.report(state);
                p.videoWake.wait(1000);
                state = p.videoState.load();
            }
            if (state == Quit)
                break;
            if (!preview())
                continue;
            p.videoAck.report(p.videoState.load());
            play();
        }
        p.drawWake.set();
        p.displayThread.join();
        p.screenLock.acquire();
        p.decoded.release();
        p.onScreen.release();
        p.spare.release();
        p.screenFrame.store(0);
        p.screenLock.release();
    }

  private:
    // The first picture after a stop or a seek, shown at once. False when its decode failed.
    bool preview()
    {
        Player& p = m_p;
        PsrReadRecord* unit = m_unit.record();
        if (!LbrReadStream(p.stream, LBR_WANT_VIDEO, unit)) {
            m_atEnd = true;
            m_previous = position(p, nullptr);
            p.handedOverMs.store(UINT32_MAX);
            return true;
        }
        m_atEnd = false;
        m_previous = position(p, nullptr);
        p.handedOverMs.store(uint32_t(m_previous));
        bool ok = true;
        if (running(p.videoState.load()) && (unit->unitKind & UnitVideo))
            ok = handOver(unit, m_previous);
        LbrFreeReadBuffer(p.stream, unit);
        return ok;
    }

    bool isLate(const PsrReadRecord* unit, uint32_t timeMs, uint32_t now) const
    {
        return !m_p.untimed && unit->frameNumber < m_p.info.frameCount && timeMs < uint64_t(now) + kLateMs;
    }

    // False when the unit is dropped.
    bool keepOrMark(PsrReadRecord* unit, uint32_t timeMs, uint32_t now)
    {
        if (!isLate(unit, timeMs, now))
            return true;
        if (unit->unitFlags & UnitKey) {
            unit->unitFlags |= UnitNoShow;
            return true;
        }
        m_p.droppedCount.fetch_add(1);
        return false;
    }

    void play()
    {
        Player& p = m_p;
        PsrReadRecord* unit = m_unit.record();
        while (!m_atEnd && running(p.videoState.load())) {
            if (!LbrReadStream(p.stream, LBR_WANT_VIDEO, unit)) {
                m_atEnd = true;
                break;
            }
            if (!(unit->unitKind & UnitVideo)) {
                LbrFreeReadBuffer(p.stream, unit);
                continue;
            }
            uint32_t timeMs;
            uint32_t now;
            if (unit->unitKind == UnitVideoPluginOnly) {
                timeMs = now = position(p, nullptr);
            } else {
                timeMs = frameTime(p.info, *unit, m_previous);
                now = position(p, nullptr);
            }
            m_previous = timeMs;
            if (!keepOrMark(unit, timeMs, now)) {
                LbrFreeReadBuffer(p.stream, unit);
                continue;
            }
            while (p.decodedFull.load() && running(p.videoState.load())) {
                p.drawWake.set();
                p.videoWake.wait(100);
            }
            if (!running(p.videoState.load())) {
                LbrFreeReadBuffer(p.stream, unit);
                break;
            }
            // The wait may have made the frame late; a key frame keeps its first verdict.
            if (!(unit->unitFlags & UnitKey) && !keepOrMark(unit, timeMs, position(p, nullptr))) {
                LbrFreeReadBuffer(p.stream, unit);
                continue;
            }
            handOver(unit, timeMs);
            LbrFreeReadBuffer(p.stream, unit);
        }
        if (m_atEnd)
            finish();
        // Nothing stays queued for a later start: the decoded slot is emptied, and the display
        // thread lets go of its frame once the state is no longer running. That is waited for
        // after a stop too: a display thread still waiting for a frame of before a seek would
        // show it after the seek, or, when the seek went back, keep waiting for its time and
        // never show the picture of the new position.
        {
            std::lock_guard lock(p.decodeLock);
            p.decodedFull.store(false);
        }
        for (int waits = 0; p.displayQueued.load() && p.videoState.load() != Quit; ++waits) {
            // Except for about a second after a stop: a display thread that waits for the
            // caller's lock of the picture on screen cannot let go until the caller unlocks.
            if (p.videoState.load() == Stopped && waits >= 10)
                break;
            p.drawWake.set();
            p.videoWake.wait(100);
        }
    }

    void finish()
    {
        Player& p = m_p;
        p.handedOverMs.store(UINT32_MAX);
        if (p.videoState.load() == Playing) {
            // A still picture has nothing to play out: it ends once it is on screen, and the end
            // puts the position at its length.
            uint32_t length = 0;
            while (!p.still && p.videoState.load() == Playing && position(p, &length) < length) {
                p.drawWake.set();
                p.videoWake.wait(std::min<uint32_t>(1000, length - position(p, nullptr) + 1));
            }
            while (p.videoState.load() == Playing && (p.decodedFull.load() || p.screenFrame.load() < m_lastHanded)) {
                p.drawWake.set();
                p.videoWake.wait(20);
            }
        }
        // A picture handed over just before the end (the first picture of a stream that has no
        // more, as a still) goes on screen before the end empties the decoded slot. Only when
        // the display thread holds nothing of its own: then it takes the picture at once.
        for (int i = 0; i < 50 && running(p.videoState.load()) && p.decodedFull.load() && !p.displayQueued.load();
             ++i) {
            p.drawWake.set();
            p.videoWake.wait(20);
        }
        if (advanceState(p.videoState, Ended))
            checkEnd(p);
    }

    // Decodes into the decoded slot's pictures and queues it for the display thread.
    bool handOver(PsrReadRecord* unit, uint32_t timeMs)
    {
        Player& p = m_p;
        while (p.decodedFull.load() && running(p.videoState.load())) {
            p.drawWake.set();
            p.videoWake.wait(100);
        }
        if (p.decodedFull.load())
            return true;
        FrameSlot& slot = p.decoded;
        slot.decoded = LbrDecodeFrame(p.stream, unit, 24, 0, slot.decoded);
        if (!slot.decoded)
            return false;
        if (unit->unitFlags & UnitNoShow)
            return true; // decoded for the frames that follow it, not shown
        const PlbRect rect = currentRect(p);
        const int32_t target[2] = {rect.right - rect.left, rect.bottom - rect.top};
        FrameDib* scaled = LbrStretchFrame(slot.decoded, slot.stretched, p.stretchMode.load(), 0, target);
        slot.stretched = scaled == slot.decoded ? nullptr : scaled;
        {
            std::lock_guard lock(p.decodeLock);
            slot.timeMs = timeMs;
            slot.frameNumber = unit->frameNumber ? unit->frameNumber : 1;
            // Taken under the lock: once the slot is full the display thread may swap it away.
            m_lastHanded = slot.frameNumber;
            p.decodedFull.store(true);
        }
        p.handedOverMs.store(timeMs);
        if (p.untimed)
            p.audioWake.set(); // the sound may be waiting for the pictures
        p.drawWake.set();
        return true;
    }

    Player& m_p;
    UnitBuffer m_unit;
    uint64_t m_previous = 0;
    uint32_t m_lastHanded = 0;
    bool m_atEnd = false;
};

} // namespace

void decodeThread(Player* p)
{
    Decoder(*p).run();
    p->videoState.store(Exited);
    p->videoAck.report(Exited);
}

} // namespace tamrin::player
