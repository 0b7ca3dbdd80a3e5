// The exported player calls: open and close, the transport (play, pause, stop, seek), the
// clock, the play rectangle, the picture on screen, volume and tempo.
#include <algorithm>
#include <cstring>
#include <new>

#include "player/player_impl.h"
#include "audio/sequencer_output.h"
#include "player/sound_source.h"
#include "tamlib/environment.h"
#include "tamrin_common/c_guard.h"
#include "tamrin_common/handle_registry.h"

using namespace tamrin::player;

namespace {

tamrin_common::HandleRegistry& livePlayers()
{
    static tamrin_common::HandleRegistry registry;
    return registry;
}

Player* live(Player* p)
{
    return p && livePlayers().contains(p) && p->magic.load() == kPlayerMagic ? p : nullptr;
}

// Rates below 22050 Hz play at 22050, those below 44100 at 44100; higher ones as they are.
uint32_t outputRate(uint32_t rate)
{
    return rate < 22050 ? 22050 : rate < 44100 ? 44100 : rate;
}

int32_t pausePlayer(Player& p)
{
    const uint16_t was = status(p);
    if (was != Stopped) {
        std::lock_guard lock(p.clockLock);
        const uint32_t at = position(p, nullptr);
        p.startTick = 0;
        if (p.wave)
            p.wave->pause();
        else
            p.baseMs = at;
    }
    setStates(p, Paused, was == Stopped);
    notifyPosition(p, true);
    return 1;
}

int32_t stopPlayer(Player& p)
{
    if (status(p) == Playing)
        pausePlayer(p);
    const uint32_t at = position(p, nullptr);
    setStates(p, Stopped, true);
    {
        std::lock_guard lock(p.clockLock);
        p.baseMs = at;
        p.startTick = 0;
    }
    notifyPosition(p, true);
    return 1;
}

int32_t seekPlayer(Player& p, uint32_t ms)
{
    const uint16_t was = status(p);
    stopPlayer(p);
    LbrSeekStream(p.stream, ms);
    {
        std::lock_guard lock(p.clockLock);
        p.baseMs = ms;
        p.startTick = 0;
    }
    notifyPosition(p, true);
    if (was != Stopped)
        pausePlayer(p);
    return 1;
}

int32_t playPlayer(Player& p)
{
    if (status(p) == Stopped) {
        uint32_t base;
        {
            std::lock_guard lock(p.clockLock);
            base = p.baseMs;
        }
        seekPlayer(p, base);
        if (!pausePlayer(p))
            return 0;
    }
    // Cleared before the threads run: one that ends at once (a still, a stream played from its
    // end) must find it cleared, or its end would never be told.
    p.endNotified.store(false);
    setStates(p, Playing, false);
    std::lock_guard lock(p.clockLock);
    p.startTick = tick();
    if (p.wave)
        p.wave->restart();
    return 1;
}

void closePlayer(Player* p)
{
    // The caller's lock of the picture on screen goes first, so that the display thread is free
    // to stop.
    if (p->callerHoldsScreen.exchange(false))
        p->screenLock.release();
    stopPlayer(*p);
    p->videoState.store(Quit);
    p->audioState.store(Quit);
    if (p->decodeThread.joinable()) {
        p->videoWake.set();
        p->drawWake.set();
        p->decodeThread.join();
    }
    if (p->audioThread.joinable()) {
        p->audioWake.set();
        p->audioThread.join();
    }
    LbrCloseStream(p->stream);
    p->magic.store(0);
    delete p;
}

void startThreads(Player& p, const StrInfo& copy, bool pictures, uint32_t mode, const PlbFrameSink* video);

Player* openPlayer(const char* pluginName, const char* fileName, const StrInfo* info, const PlbFrameSink* video,
                   const PlbNotifySink* notify, uint32_t interval, int32_t stretchMode,
                   const PlbPlayerOptions* options)
{
    if (!pluginName || !info)
        return nullptr;
    StrInfo copy = *info;
    // A still picture plays as a video of one frame. It has no frame rate and needs none: its
    // one frame is shown at the start.
    const bool still = copy.kind & StrStill;
    if (still)
        copy.kind = StrVideo;
    const bool pictures = video && video->frame && (copy.kind & StrVideo);
    // A video stream without a frame rate cannot be timed.
    if (pictures && copy.frameRate == 0 && !still)
        return nullptr;

    auto p = std::make_unique<Player>();
    p->info = copy;
    p->still = still;
    p->interval = interval ? interval : 1;
    p->knownLength.store(copy.durationMs);
    p->stretchMode.store(stretchMode >= 0 ? stretchMode : 4);
    p->soundDriver = options && options->soundDriver ? options->soundDriver : "alsa";
    p->soundDevice = options && options->soundDevice ? options->soundDevice : "";
    p->untimed = p->soundDriver == "null-untimed";
    if (notify && (notify->position || notify->end)) {
        p->hasNotify = true;
        p->notify = *notify;
    }
    int32_t drive = options ? options->drive : -1;
    if (!fileName && drive < 0)
        drive = PlbGetCdDrive(nullptr, nullptr, nullptr);
    const uint32_t mode = video ? LBR_WANT_VIDEO | LBR_WANT_AUDIO : LBR_WANT_AUDIO;
    p->stream = LbrOpenStream(pluginName, fileName, drive, &p->info, mode);
    if (!p->stream)
        return nullptr;
    p->info.kind = copy.kind;
    if (still && p->info.frameRate == 0)
        p->info.frameRate = 10; // one frame a second: the frame times are then defined

    Player* raw = p.release();
    try {
        startThreads(*raw, copy, pictures, mode, video);
    } catch (...) {
        closePlayer(raw);
        return nullptr;
    }
    if (!livePlayers().add(raw)) {
        closePlayer(raw);
        return nullptr;
    }
    pausePlayer(*raw);
    return raw;
}

void startThreads(Player& pr, const StrInfo& copy, bool pictures, uint32_t mode, const PlbFrameSink* video)
{
    Player* p = &pr;
    if (pictures) {
        p->hasSink = true;
        p->sink = *video;
        p->rectWidth = video->width > 0 ? video->width : int32_t(copy.width);
        p->rectHeight = video->height > 0 ? video->height : int32_t(copy.height);
        p->hasDecode.store(true);
        try {
            p->decodeThread = std::thread(decodeThread, p);
        } catch (...) {
            p->hasDecode.store(false);
            throw;
        }
        p->videoAck.waitFor(Stopped, 10000);
    }
    const bool sampled = (copy.kind & StrAudio) && copy.sampleRate > 0 && (copy.channels == 1 || copy.channels == 2);
    if ((mode & LBR_WANT_AUDIO) && (sampled || (copy.kind & StrMusic))) {
        p->music = !sampled;
        if (p->music) {
            // The synthesiser renders at the device's rate; the stream's rate field is its tempo.
            p->sourceFormat = AudioFormat{kMusicRate, kMusicChannels, 16, 100, 0};
            p->outputFormat = p->sourceFormat;
        } else {
            const uint16_t channels = copy.channels == 2 ? 2 : 1;
            p->sourceFormat = AudioFormat{copy.sampleRate, channels, 16, 100, 0};
            p->outputFormat = p->sourceFormat;
            p->outputFormat.sampleRate = outputRate(copy.sampleRate);
        }
        p->resampleNeeded = p->outputFormat.sampleRate != p->sourceFormat.sampleRate;
        p->hasAudio.store(true);
        try {
            p->audioThread = std::thread(audioThread, p);
        } catch (...) {
            p->hasAudio.store(false);
            throw;
        }
        p->audioAck.waitFor(Stopped, 10000);
    }
    // A side that no thread reads is switched off: the stream would otherwise keep every unit of
    // it that it passes, for as long as the stream plays.
    if (!p->hasDecode)
        LbrSetOpenFlags(p->stream, LBR_WANT_VIDEO, 0);
    if (!p->hasAudio)
        LbrSetOpenFlags(p->stream, LBR_WANT_AUDIO, 0);
}

template <typename Result, typename Body> Result withPlayer(Player* handle, Result failure, Body&& body)
{
    return tamrin::guarded<Result>(failure, [&]() -> Result {
        Player* p = live(handle);
        return p ? body(*p) : failure;
    });
}

} // namespace

PLB_API Player* PlbOpenPlayerEx(const char* pluginName, const char* fileName, const StrInfo* info,
                                const PlbFrameSink* video, const PlbNotifySink* notify, uint32_t notifyIntervalMs,
                                int32_t stretchMode, const PlbPlayerOptions* options)
{
    return tamrin::guarded<Player*>(nullptr, [&] {
        return openPlayer(pluginName, fileName, info, video, notify, notifyIntervalMs, stretchMode, options);
    });
}

PLB_API Player* PlbOpenPlayer(const char* pluginName, const char* fileName, const StrInfo* info,
                              const PlbFrameSink* video, const PlbNotifySink* notify, uint32_t notifyIntervalMs,
                              int32_t stretchMode)
{
    return PlbOpenPlayerEx(pluginName, fileName, info, video, notify, notifyIntervalMs, stretchMode, nullptr);
}

PLB_API int32_t PlbClosePlayer(Player* player)
{
    return tamrin::guarded<int32_t>(0, [&] {
        Player* p = live(player);
        if (!p || !livePlayers().remove(p))
            return 0;
        closePlayer(p);
        return 1;
    });
}

PLB_API int32_t PlbPlayPlayer(Player* player)
{
    return withPlayer(player, 0, [](Player& p) { return playPlayer(p); });
}

PLB_API int32_t PlbResumPlayer(Player* player)
{
    return PlbPlayPlayer(player);
}

PLB_API int32_t PlbPausePlayer(Player* player)
{
    return withPlayer(player, 0, [](Player& p) { return pausePlayer(p); });
}

PLB_API int32_t PlbStopPlayer(Player* player)
{
    return withPlayer(player, 0, [](Player& p) { return stopPlayer(p); });
}

PLB_API int32_t PlbSeekPlayer(Player* player, uint32_t positionMs)
{
    return withPlayer(player, 0, [&](Player& p) { return seekPlayer(p, positionMs); });
}

PLB_API uint16_t PlbGetPlayerStatus(Player* player)
{
    return withPlayer(player, uint16_t(0), [](Player& p) { return status(p); });
}

PLB_API uint32_t PlbGetPlayPosition(Player* player, uint32_t* lengthMs)
{
    return withPlayer(player, 0u, [&](Player& p) { return position(p, lengthMs); });
}

PLB_API int32_t PlbSetPlayRect(Player* player, const PlbRect* rect, int32_t stretchMode)
{
    return withPlayer(player, 0, [&](Player& p) {
        if (!p.hasDecode)
            return 0;
        if (rect && rect->right - rect->left > 0 && rect->bottom - rect->top > 0 &&
            rect->right - rect->left <= LBR_MAX_PICTURE_SIDE && rect->bottom - rect->top <= LBR_MAX_PICTURE_SIDE) {
            std::lock_guard lock(p.rectLock);
            p.rectX = rect->left;
            p.rectY = rect->top;
            p.rectWidth = rect->right - rect->left;
            p.rectHeight = rect->bottom - rect->top;
        }
        if (stretchMode >= 0)
            p.stretchMode.store(stretchMode);
        return 1;
    });
}

PLB_API int32_t PlbGetPlayRect(Player* player, PlbRect* rect)
{
    return withPlayer(player, -1, [&](Player& p) {
        if (!p.hasDecode)
            return -1;
        if (rect) {
            std::lock_guard lock(p.rectLock);
            *rect = PlbRect{p.rectX, p.rectY, p.rectX + p.rectWidth, p.rectY + p.rectHeight};
        }
        return p.stretchMode.load();
    });
}

PLB_API FrameDib* PlbLockFrameDIB(Player* player, uint32_t* frameNumber)
{
    return withPlayer(player, static_cast<FrameDib*>(nullptr), [&](Player& p) -> FrameDib* {
        if (!p.hasDecode)
            return nullptr;
        int32_t size[2];
        {
            std::lock_guard lock(p.rectLock);
            size[0] = p.rectWidth;
            size[1] = p.rectHeight;
        }
        p.screenLock.acquire();
        FrameSlot& slot = p.onScreen;
        if (slot.frameNumber == 0 || !slot.decoded) {
            p.screenLock.release();
            return nullptr;
        }
        FrameDib* shown = const_cast<FrameDib*>(slot.shown());
        if (shown->width != size[0] || shown->height != size[1]) {
            FrameDib* scaled = LbrStretchFrame(slot.decoded, slot.stretched, p.stretchMode.load() > 0 ? p.stretchMode.load() : 4, 0, size);
            slot.stretched = scaled == slot.decoded ? nullptr : scaled;
            shown = scaled;
        }
        if (frameNumber)
            *frameNumber = slot.frameNumber;
        p.callerHoldsScreen.store(true);
        return shown;
    });
}

PLB_API int32_t PlbUnlockFrameDIB(Player* player)
{
    return withPlayer(player, 0, [](Player& p) {
        if (!p.callerHoldsScreen.exchange(false))
            return 0;
        p.screenLock.release();
        return 1;
    });
}

PLB_API int32_t PlbSetVolume(Player* player, uint32_t volumePercent)
{
    return withPlayer(player, 0, [&](Player& p) {
        if (volumePercent > 400)
            return 0;
        p.volume.store(volumePercent);
        return 1;
    });
}

PLB_API int32_t PlbSetTempo(Player* player, uint32_t tempoPercent)
{
    return withPlayer(player, 0, [&](Player& p) {
        if (tempoPercent < 10 || tempoPercent > 1000)
            return 0;
        const uint16_t was = status(p);
        stopPlayer(p);
        p.tempo.store(tempoPercent);
        if (was == Paused) {
            std::unique_lock lock(p.clockLock);
            const uint32_t base = p.baseMs;
            lock.unlock();
            seekPlayer(p, base); // from stopped: only the stream and the clock move
            pausePlayer(p);
        }
        else if (was == Playing)
            playPlayer(p);
        return 1;
    });
}

PLB_API int32_t PlbGetPlayerCounts(Player* player, uint32_t* shown, uint32_t* dropped)
{
    return withPlayer(player, 0, [&](Player& p) {
        if (shown)
            *shown = p.shownCount.load();
        if (dropped)
            *dropped = p.droppedCount.load();
        return 1;
    });
}

PLB_API int32_t PlbGetSoundProblem(Player* player, char* text, uint32_t size)
{
    return withPlayer(player, 0, [&](Player& p) {
        std::lock_guard lock(p.problemLock);
        if (text && size > 0) {
            const size_t n = std::min<size_t>(p.soundProblem.size(), size - 1);
            std::memcpy(text, p.soundProblem.data(), n);
            text[n] = 0;
        }
        return int32_t(p.soundProblem.size());
    });
}

PLB_API int32_t PlbProbeSoundOutput(const char* driver, const char* device, uint32_t sampleRate, uint16_t channels)
{
    return tamrin::guarded<int32_t>(0, [&] {
        if (driver && std::strcmp(driver, kSequencerDriver) == 0) {
            auto port = tamrin::audio::makeAlsaSequencerPort();
            std::string error;
            if (!port->open(device ? device : "", error))
                return 0;
            port->close();
            return 1;
        }
        auto output = tamrin::audio::makeSoundOutput(driver ? driver : "alsa", device ? device : "");
        if (!output || !output->open(tamrin::audio::PcmFormat{outputRate(sampleRate), channels, 16}, [](void*) {}))
            return 0;
        output->close();
        return 1;
    });
}
