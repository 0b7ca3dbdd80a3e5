// The player's transport under stress: seeks in both directions while playing, the transport
// driven from a second thread while the first watches, and closing in every state. Every player
// leaves no thread behind. The ThreadSanitizer run of the player tests covers these.
#include <gtest/gtest.h>

#include <dirent.h>

#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>

#include "player_watch.h"
#include "tamlib/player.h"

namespace {

using namespace playertest;

// Threads of this process.
int threadCount()
{
    int count = 0;
    if (DIR* tasks = opendir("/proc/self/task")) {
        while (const dirent* entry = readdir(tasks))
            count += entry->d_name[0] != '.';
        closedir(tasks);
    }
    return count;
}

Player* openMovie(const StrInfo& info, const PlbFrameSink* sink, const PlbNotifySink* notify)
{
    const PlbPlayerOptions options{"null", nullptr, -1};
    return PlbOpenPlayerEx("Filmfile.psr", movieFile().c_str(), &info, sink, notify, 10, 4, &options);
}

// The frame on screen, once the display has settled on it.
uint32_t frameOnScreen(Player* player)
{
    uint32_t frame = 0;
    for (int i = 0; i < 30; ++i) {
        std::this_thread::sleep_for(milliseconds(10));
        if (PlbLockFrameDIB(player, &frame))
            PlbUnlockFrameDIB(player);
    }
    return frame;
}

TEST(PlayerLifecycle, SeekWhilePlayingShowsThePictureOfTheNewPosition)
{
    const StrInfo info = describe(movieFile());
    const struct
    {
        uint32_t playMs; // played for this long before the seek
        uint32_t seekMs;
    } cases[] = {{200, 2500}, {1200, 300}, {1500, 0}, {800, 800}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.playMs) + " ms, then to " + std::to_string(c.seekMs));
        Watcher watcher;
        const PlbFrameSink sink = watcher.sink(320, 240);
        Player* player = openMovie(info, &sink, nullptr);
        ASSERT_TRUE(player);
        ASSERT_EQ(PlbPlayPlayer(player), 1);
        std::this_thread::sleep_for(milliseconds(c.playMs));
        ASSERT_EQ(PlbSeekPlayer(player, c.seekMs), 1);
        EXPECT_EQ(PlbGetPlayerStatus(player), PLB_STATE_PAUSED);
        // 15 frames a second; the plugin seeks to the sector of the position, which may lie in the
        // frame before.
        EXPECT_NEAR(double(frameOnScreen(player)), double(c.seekMs * 15 / 1000 + 1), 1.0);
        EXPECT_EQ(PlbGetPlayPosition(player, nullptr), c.seekMs);
        EXPECT_EQ(PlbClosePlayer(player), 1);
    }
}

TEST(PlayerLifecycle, TransportFromASecondThreadAndClosingInEveryState)
{
    const StrInfo info = describe(movieFile());
    // Threads that runtimes start once, at their first use (the sanitizer's own), are counted
    // in: a player is opened and closed before the count.
    ASSERT_EQ(PlbClosePlayer(openMovie(info, nullptr, nullptr)), 1);
    const int before = threadCount();
    {
        // One thread plays, pauses, stops, seeks and changes the tempo at random while this one
        // reads the position and the state and takes the picture on screen.
        Watcher watcher;
        const PlbFrameSink sink = watcher.sink(320, 240);
        const PlbNotifySink notify = watcher.notify();
        Player* player = openMovie(info, &sink, &notify);
        ASSERT_TRUE(player);
        std::atomic<bool> done{false};
        std::atomic<int> failures{0};
        std::thread transport([&] {
            std::mt19937 random(14);
            for (int i = 0; i < 60; ++i) {
                int32_t ok = 1;
                switch (random() % 6) {
                case 0: ok = PlbPlayPlayer(player); break;
                case 1: ok = PlbPausePlayer(player); break;
                case 2: ok = PlbStopPlayer(player); break;
                case 3: ok = PlbSeekPlayer(player, uint32_t(random() % 3600)); break;
                case 4: ok = PlbSetTempo(player, 50 + uint32_t(random() % 300)); break;
                default: ok = PlbResumPlayer(player); break;
                }
                failures += ok != 1;
                std::this_thread::sleep_for(milliseconds(random() % 40));
            }
            done = true;
        });
        uint32_t length = 0;
        while (!done) {
            const uint16_t state = PlbGetPlayerStatus(player);
            EXPECT_GE(state, PLB_STATE_STOPPED);
            EXPECT_LE(state, PLB_STATE_ENDED);
            EXPECT_LE(PlbGetPlayPosition(player, &length), std::max(length, 3600u));
            if (PlbLockFrameDIB(player, nullptr)) {
                EXPECT_EQ(PlbUnlockFrameDIB(player), 1);
            }
            std::this_thread::sleep_for(milliseconds(1));
        }
        transport.join();
        EXPECT_EQ(failures.load(), 0);
        // Still in order: it plays to its end from where it stands.
        ASSERT_EQ(PlbSetTempo(player, 400), 1);
        ASSERT_EQ(PlbPlayPlayer(player), 1);
        EXPECT_GE(watcher.waitEnd(milliseconds(5000), watcher.endCount()), 0);
        EXPECT_EQ(PlbClosePlayer(player), 1);
    }
    // Closing at every step of a player's life, with and without pictures.
    enum Step
    {
        JustOpened,
        Playing,
        Paused,
        PausedWithPictureTaken,
        StoppedWithPictureTaken,
        Stopped,
        SeekedToTheEnd,
        Ended
    };
    for (const bool pictures : {true, false}) {
        for (int step = JustOpened; step <= Ended; ++step) {
            SCOPED_TRACE(std::string(pictures ? "pictures, step " : "sound, step ") + std::to_string(step));
            Watcher watcher;
            const PlbFrameSink sink = watcher.sink(160, 120);
            const PlbNotifySink notify = watcher.notify();
            Player* player = openMovie(info, pictures ? &sink : nullptr, &notify);
            ASSERT_TRUE(player);
            if (step != JustOpened)
                PlbPlayPlayer(player);
            std::this_thread::sleep_for(milliseconds(30));
            if (step == Paused || step == PausedWithPictureTaken) {
                EXPECT_EQ(PlbPausePlayer(player), 1);
            }
            if (step == PausedWithPictureTaken && pictures) {
                EXPECT_TRUE(PlbLockFrameDIB(player, nullptr)) << "left locked: closing lets it go";
            }
            if (step == StoppedWithPictureTaken && pictures) {
                // Drawing waits for the picture to be given back; a stop meanwhile is not held up.
                ASSERT_TRUE(PlbLockFrameDIB(player, nullptr));
                std::this_thread::sleep_for(milliseconds(150));
                const auto from = steady_clock::now();
                EXPECT_EQ(PlbStopPlayer(player), 1);
                EXPECT_LT(steady_clock::now() - from, milliseconds(2000));
                EXPECT_EQ(PlbUnlockFrameDIB(player), 1);
            }
            if (step == Stopped) {
                EXPECT_EQ(PlbStopPlayer(player), 1);
            }
            if (step == SeekedToTheEnd) {
                EXPECT_EQ(PlbSeekPlayer(player, 3600), 1);
            }
            if (step == Ended) {
                EXPECT_EQ(PlbSetTempo(player, 1000), 1);
                EXPECT_GE(watcher.waitEnd(milliseconds(3000)), 0);
            }
            EXPECT_EQ(PlbClosePlayer(player), 1);
        }
    }
    EXPECT_EQ(threadCount(), before) << "every thread of the players has ended";
}

} // namespace
