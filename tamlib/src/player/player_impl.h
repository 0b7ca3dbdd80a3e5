// The player's shared record and the pieces its threads share: events, the clock, the state
// changes and the notifications. The threads themselves live in decode_thread.cpp (decoding and
// display) and audio_thread.cpp (sound); player.cpp has the exported calls.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <semaphore>
#include <string>
#include <thread>

#include "audio/sound_output.h"
#include "streamkit/lbr.h"
#include "tamlib/player.h"

namespace tamrin::player {

constexpr uint32_t kPlayerMagic = 0x75D39014u;
constexpr uint32_t kInitialChunkEstimate = 8064;
constexpr uint32_t kLateMs = 20;
// The sound driver that sends music to a sequencer port instead of rendering it.
inline constexpr const char* kSequencerDriver = "alsa-seq";
// Room for one unit: its header and the largest payload of any plugin (a frame of at most 24
// sectors, a block of sound).
constexpr size_t kRecordBytes = PSR_READ_HEADER_BYTES + (size_t(4) << 20);

enum State : uint16_t
{
    Quit = PLB_STATE_QUIT,
    Stopped = PLB_STATE_STOPPED,
    Paused = PLB_STATE_PAUSED,
    Playing = PLB_STATE_PLAYING,
    Ended = PLB_STATE_ENDED,
    Exited = PLB_STATE_EXITED,
};

inline bool running(uint16_t state)
{
    return state == Paused || state == Playing;
}

// Auto-reset event: set wakes one wait (or the next one) and clears itself.
class Event
{
  public:
    void set()
    {
        std::lock_guard lock(m_mutex);
        m_set = true;
        m_cv.notify_one();
    }
    // True when set within the time.
    bool wait(uint32_t ms)
    {
        std::unique_lock lock(m_mutex);
        const bool set = m_cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return m_set; });
        m_set = false;
        return set;
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_set = false;
};

// A thread's acknowledgements: the caller clears them, changes the state, wakes the thread and
// waits until the thread has reported that state since (or that it has exited). Every report
// counts, so a thread that passes through the state quickly is not missed.
class Ack
{
  public:
    void clear()
    {
        std::lock_guard lock(m_mutex);
        m_seen = 0;
    }
    void report(uint16_t state)
    {
        std::lock_guard lock(m_mutex);
        m_seen |= 1u << (state & 15);
        m_cv.notify_all();
    }
    bool waitFor(uint16_t state, uint32_t ms)
    {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(ms),
                             [&] { return (m_seen & (1u << (state & 15))) || (m_seen & (1u << Exited)); });
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    uint32_t m_seen = 0;
};

// One picture on its way to the screen; frame number 0 means empty.
struct FrameSlot
{
    FrameDib* decoded = nullptr;
    FrameDib* stretched = nullptr; // null when the decoded picture already has the target size
    uint32_t frameNumber = 0;
    uint32_t timeMs = 0;

    const FrameDib* shown() const { return stretched ? stretched : decoded; }
    void release()
    {
        LbrFreeBitmap(stretched);
        LbrFreeBitmap(decoded);
        stretched = decoded = nullptr;
        frameNumber = 0;
    }
};

struct SoundBuffer
{
    std::unique_ptr<uint8_t[]> data;
    uint32_t fill = 0;
    std::atomic<bool> busy{false}; // owned by the device until it reports the buffer done
};

} // namespace tamrin::player

struct Player
{
    std::atomic<uint32_t> magic{tamrin::player::kPlayerMagic};
    StrInfo info{};
    StreamState* stream = nullptr;
    bool hasSink = false;
    PlbFrameSink sink{};
    bool hasNotify = false;
    PlbNotifySink notify{};
    uint32_t interval = 1;
    std::atomic<uint32_t> lastNotified{0};
    std::atomic<uint32_t> knownLength{0};
    std::atomic<bool> endNotified{false};
    std::atomic<uint32_t> tempo{100};
    std::atomic<uint32_t> volume{100};
    std::string soundDriver;
    std::string soundDevice;
    bool music = false;
    bool still = false;   // a still picture: ends as soon as it is on screen
    bool untimed = false; // no picture is late: plays as fast as decoding allows

    // Threads and their states.
    std::thread decodeThread, displayThread, audioThread;
    std::atomic<bool> hasDecode{false}, hasAudio{false};
    std::atomic<uint16_t> videoState{tamrin::player::Stopped}, audioState{tamrin::player::Stopped};
    tamrin::player::Event videoWake, drawWake, audioWake;
    tamrin::player::Ack videoAck, audioAck;

    // Pictures: the decoded slot (guarded by decodeLock), the one on screen (screenLock, which
    // the caller may hold between PlbLockFrameDIB and PlbUnlockFrameDIB), the display thread's
    // spare one, and the play rectangle (rectLock).
    std::mutex rectLock, decodeLock;
    std::binary_semaphore screenLock{1};
    std::atomic<bool> callerHoldsScreen{false};
    tamrin::player::FrameSlot decoded, onScreen, spare;
    std::atomic<bool> decodedFull{false};
    std::atomic<bool> displayQueued{false};
    std::atomic<uint32_t> screenFrame{0};
    int32_t rectX = 0, rectY = 0, rectWidth = 0, rectHeight = 0;
    std::atomic<int32_t> stretchMode{4};
    std::atomic<uint32_t> shownCount{0}, droppedCount{0};
    // Time of the last picture handed to the display; UINT32_MAX once the decode thread has read
    // its last unit. Untimed sound waits for the pictures by it (soundAheadOfPictures).
    std::atomic<uint32_t> handedOverMs{UINT32_MAX};

    // Sound.
    std::recursive_mutex clockLock; // start tick, base, the device while it is reset
    std::unique_ptr<tamrin::audio::SoundOutput> wave;
    uint32_t deviceRate = 0;
    uint32_t startTick = 0;
    uint32_t baseMs = 0;
    AudioFormat sourceFormat{};
    AudioFormat outputFormat{};
    bool resampleNeeded = false;
    // Why the sound does not play on its device (empty while it does).
    std::mutex problemLock;
    std::string soundProblem;
};

namespace tamrin::player {

uint32_t tick();
uint32_t position(Player& p, uint32_t* length);
void setStates(Player& p, uint16_t state, bool wait);
uint16_t status(Player& p);
void notifyPosition(Player& p, bool forced);
void checkEnd(Player& p);
void setSoundProblem(Player& p, std::string why);
// Moves a thread's state from a running one to `to`, unless the caller changed it meanwhile.
bool advanceState(std::atomic<uint16_t>& state, uint16_t to);

// Untimed, the sound device takes sound as fast as it comes while the pictures go at the speed
// of decoding: true when the sound has run more than a little ahead of the pictures. The sound
// thread then waits, since every unit it reads past the pictures' units leaves them queued in
// the stream.
bool soundAheadOfPictures(Player& p);

// The presentation time of a video unit (may set its param to the stream's rate).
uint32_t frameTime(const StrInfo& info, PsrReadRecord& unit, uint64_t previousMs);

void decodeThread(Player* p);
void audioThread(Player* p);

} // namespace tamrin::player
