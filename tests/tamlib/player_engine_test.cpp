// The player on the movies of tests/data (3 s, 15 frames a second, XA sound), played on the
// null sound device: timing against the wall clock, frames shown, notifications, the transport
// calls and the refusal of bad handles.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "player/player_impl.h"
#include "player_watch.h"
#include "tamlib/player.h"

using namespace std::chrono;

namespace {

using namespace playertest;

const std::string kMovie = movieFile();

struct Played
{
    int64_t wallMs = -1;
    uint32_t shown = 0, dropped = 0, positionMs = 0, lengthMs = 0;
    size_t distinctFrames = 0;
    int ends = 0;
};

// Opens, plays to the end (or `limit`), and closes.
Played playMovie(StrInfo info, const char* driver, bool pictures, uint32_t tempo = 100,
                 milliseconds limit = milliseconds(8000))
{
    Watcher watcher;
    const PlbFrameSink sink = watcher.sink(640, 480);
    const PlbNotifySink notify = watcher.notify();
    const PlbPlayerOptions options{driver, nullptr, -1};
    Player* player = PlbOpenPlayerEx("Filmfile.psr", kMovie.c_str(), &info, pictures ? &sink : nullptr, &notify,
                                     10, 4, &options);
    Played played;
    if (!player) {
        ADD_FAILURE() << "not opened";
        return played;
    }
    if (tempo != 100) {
        EXPECT_EQ(PlbSetTempo(player, tempo), 1);
    }
    EXPECT_EQ(PlbPlayPlayer(player), 1);
    played.wallMs = watcher.waitEnd(limit);
    std::this_thread::sleep_for(milliseconds(50)); // a second end message would come now
    PlbGetPlayerCounts(player, &played.shown, &played.dropped);
    played.positionMs = PlbGetPlayPosition(player, &played.lengthMs);
    played.ends = watcher.endCount();
    {
        std::lock_guard lock(watcher.mutex);
        std::set<uint32_t> distinct(watcher.frames.begin(), watcher.frames.end());
        played.distinctFrames = distinct.size();
    }
    EXPECT_EQ(PlbGetPlayerStatus(player), PLB_STATE_ENDED);
    EXPECT_EQ(PlbClosePlayer(player), 1);
    return played;
}

TEST(PlayerTiming, PlaysInRealTimeOnEveryClock)
{
    const StrInfo movie = describe(kMovie);
    ASSERT_EQ(movie.durationMs, 3000u);
    StrInfo silent = movie;
    silent.kind &= uint16_t(~StrAudio);
    struct Case
    {
        const char* name;
        StrInfo info;
        const char* driver;
        bool pictures;
        uint32_t tempo;
        int64_t wallMs;
    } cases[] = {
        {"sound clock", movie, "null", true, 100, 3000},
        {"wall clock, no sound", silent, "null", true, 100, 3000},
        {"device that cannot open", movie, "null-faulty", true, 100, 3000},
        {"sound only", movie, "null", false, 100, 3000},
        {"tempo 200", movie, "null", true, 200, 1500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Played played = playMovie(c.info, c.driver, c.pictures, c.tempo);
        EXPECT_NEAR(double(played.wallMs), double(c.wallMs), c.wallMs * (kFullSpeed ? 0.05 : 0.15) + 20);
        EXPECT_EQ(played.ends, 1);
        // The known length grows to the sound's own length (114912 samples, 3040 ms).
        EXPECT_EQ(played.positionMs, played.lengthMs);
        EXPECT_GE(played.lengthMs, 3000u);
        if (kFullSpeed) {
            EXPECT_LE(played.lengthMs, 3050u);
        }
        if (c.pictures) {
            EXPECT_EQ(played.distinctFrames + played.dropped, 45u);
            if (kFullSpeed) {
                EXPECT_LE(played.dropped, 2u) << "frames dropped on a quiet machine";
            }
        } else {
            EXPECT_EQ(played.shown, 0u);
        }
    }
}

TEST(PlayerTiming, UntimedSoundPlaysAsFastAsItCan)
{
    const Played played = playMovie(describe(kMovie), "null-untimed", true);
    EXPECT_EQ(played.ends, 1);
    EXPECT_GE(played.wallMs, 0);
    if (kFullSpeed) {
        EXPECT_LT(played.wallMs, 2500);
    }
    EXPECT_EQ(played.distinctFrames, 45u);
    EXPECT_EQ(played.dropped, 0u);
    std::printf("untimed: %lld ms for %u pictures (%.0f a second)\n", (long long)played.wallMs, played.shown,
                played.wallMs > 0 ? played.shown * 1000.0 / double(played.wallMs) : 0.0);
}

TEST(PlayerTransport, SeekWhilePlayingLeavesThePictureOfThePositionPaused)
{
    StrInfo info = describe(kMovie);
    Watcher watcher;
    const PlbFrameSink sink = watcher.sink(320, 240);
    const PlbNotifySink notify = watcher.notify();
    const PlbPlayerOptions options{"null", nullptr, -1};
    Player* player = PlbOpenPlayerEx("Filmfile.psr", kMovie.c_str(), &info, &sink, &notify, 0, 4, &options);
    ASSERT_TRUE(player);
    EXPECT_EQ(PlbGetPlayerStatus(player), PLB_STATE_PAUSED);
    uint32_t frame = 0;
    FrameDib* first = waitForPicture(player, frame, 100, milliseconds(10));
    ASSERT_TRUE(first) << "the first picture is shown at open";
    EXPECT_EQ(frame, 1u);
    EXPECT_EQ(PlbUnlockFrameDIB(player), 1);
    EXPECT_EQ(PlbUnlockFrameDIB(player), 0) << "not locked";

    ASSERT_EQ(PlbPlayPlayer(player), 1);
    std::this_thread::sleep_for(milliseconds(300));
    ASSERT_EQ(PlbSeekPlayer(player, 2000), 1);
    EXPECT_EQ(PlbGetPlayerStatus(player), PLB_STATE_PAUSED);
    std::this_thread::sleep_for(milliseconds(200));
    EXPECT_EQ(PlbGetPlayPosition(player, nullptr), 2000u) << "the clock stands while paused";
    const FrameDib* picture = PlbLockFrameDIB(player, &frame);
    ASSERT_TRUE(picture);
    EXPECT_NEAR(double(frame), 31.0, 1.0); // 2 s at 15 frames a second
    EXPECT_EQ(picture->width, 320);
    PlbUnlockFrameDIB(player);

    // A tempo change while paused keeps the player paused where it was.
    EXPECT_EQ(PlbSetTempo(player, 50), 1);
    EXPECT_EQ(PlbGetPlayerStatus(player), PLB_STATE_PAUSED);
    EXPECT_EQ(PlbGetPlayPosition(player, nullptr), 2000u);
    EXPECT_EQ(PlbSetTempo(player, 100), 1);
    ASSERT_EQ(PlbPlayPlayer(player), 1);
    // The play rectangle: the pictures follow its size.
    const PlbRect rect{0, 0, 160, 120};
    EXPECT_EQ(PlbSetPlayRect(player, &rect, -1), 1);
    PlbRect back{};
    EXPECT_EQ(PlbGetPlayRect(player, &back), 4);
    EXPECT_EQ(back.right, 160);
    EXPECT_GE(watcher.waitEnd(milliseconds(3000)), 0);
    EXPECT_EQ(watcher.width, 160);
    EXPECT_EQ(watcher.height, 120);
    uint32_t length = 0;
    EXPECT_EQ(PlbGetPlayPosition(player, &length), length);
    // Seeking at the end, then closing while playing.
    EXPECT_EQ(PlbSeekPlayer(player, 3000), 1);
    EXPECT_EQ(PlbSeekPlayer(player, 0), 1);
    EXPECT_EQ(PlbPlayPlayer(player), 1);
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_EQ(PlbClosePlayer(player), 1);
}

TEST(PlayerTiming, DamagedUnitsNeitherStallTheClockNorTheEnd)
{
    // The movie with a run of its sectors (pictures and sound) overwritten by noise.
    std::vector<uint8_t> bytes;
    {
        FILE* in = std::fopen(kMovie.c_str(), "rb");
        ASSERT_TRUE(in);
        uint8_t chunk[65536];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0)
            bytes.insert(bytes.end(), chunk, chunk + n);
        std::fclose(in);
    }
    uint32_t noise = 12345;
    for (size_t i = 44 + 2352 * 100; i < 44 + 2352 * 160 && i < bytes.size(); ++i) {
        noise = noise * 1103515245u + 12345u;
        if ((i - 44) % 2352 >= 24) // keep the sector headers, so that the units are still found
            bytes[i] = uint8_t(noise >> 16);
    }
    const std::string damaged = testing::TempDir() + "damaged_movie.str";
    FILE* out = std::fopen(damaged.c_str(), "wb");
    ASSERT_TRUE(out);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), out), bytes.size());
    std::fclose(out);

    StrInfo info = describe(damaged);
    Watcher watcher;
    const PlbFrameSink sink = watcher.sink(320, 240);
    const PlbNotifySink notify = watcher.notify();
    const PlbPlayerOptions options{"null", nullptr, -1};
    Player* player = PlbOpenPlayerEx("Filmfile.psr", damaged.c_str(), &info, &sink, &notify, 10, 4, &options);
    ASSERT_TRUE(player);
    ASSERT_EQ(PlbPlayPlayer(player), 1);
    const int64_t wall = watcher.waitEnd(milliseconds(6000));
    EXPECT_NEAR(double(wall), 3000.0, 200.0);
    EXPECT_EQ(watcher.endCount(), 1);
    {
        std::lock_guard lock(watcher.mutex);
        const std::set<uint32_t> shown(watcher.frames.begin(), watcher.frames.end());
        EXPECT_LT(shown.size(), 45u) << "the damaged pictures are skipped";
        EXPECT_GT(shown.size(), 30u);
        EXPECT_TRUE(shown.count(45)) << "the last picture is shown";
    }
    EXPECT_EQ(PlbClosePlayer(player), 1);
    std::remove(damaged.c_str());
}

TEST(PlayerSound, LowRatesAreRaisedForTheDevice)
{
    const struct
    {
        uint32_t source, device;
    } cases[] = {{11025, 22050}, {16000, 22050}, {22049, 22050}, {22050, 44100}, {32000, 44100}, {37800, 44100},
                 {44100, 44100}, {48000, 48000}};
    for (const auto& c : cases) {
        StrInfo info = describe(kMovie);
        info.sampleRate = c.source;
        const PlbPlayerOptions options{"null", nullptr, -1};
        Player* player = PlbOpenPlayerEx("Filmfile.psr", kMovie.c_str(), &info, nullptr, nullptr, 10, 4, &options);
        ASSERT_TRUE(player);
        EXPECT_EQ(player->outputFormat.sampleRate, c.device) << c.source;
        EXPECT_EQ(player->resampleNeeded, c.source != c.device) << c.source;
        EXPECT_EQ(player->deviceRate, c.device) << "the device is open (paused, pre-filled) at that rate";
        EXPECT_EQ(PlbClosePlayer(player), 1);
    }
}

TEST(PlayerNotify, AnIntervalOfZeroCountsAsOne)
{
    StrInfo info = describe(kMovie);
    Watcher watcher;
    const PlbNotifySink notify = watcher.notify();
    const PlbPlayerOptions options{"null", nullptr, -1};
    Player* player = PlbOpenPlayerEx("Filmfile.psr", kMovie.c_str(), &info, nullptr, &notify, 0, 4, &options);
    ASSERT_TRUE(player);
    ASSERT_EQ(PlbPlayPlayer(player), 1);
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_EQ(PlbClosePlayer(player), 1);
    std::lock_guard lock(watcher.mutex);
    EXPECT_GT(watcher.positions.size(), 100u) << "a message for nearly every millisecond";
    for (size_t i = 1; i < watcher.positions.size(); ++i)
        EXPECT_LE(watcher.positions[i - 1].first, watcher.positions[i].first);
}

TEST(PlayerHandles, BadHandlesAndStreamsAreRefused)
{
    StrInfo info = describe(kMovie);
    const PlbPlayerOptions options{"null", nullptr, -1};
    Player* closed = PlbOpenPlayerEx("Filmfile.psr", kMovie.c_str(), &info, nullptr, nullptr, 10, 4, &options);
    ASSERT_TRUE(closed);
    ASSERT_EQ(PlbClosePlayer(closed), 1);
    int stack = 0;
    Player* random = reinterpret_cast<Player*>(&stack);
    PlbRect rect{0, 0, 10, 10};
    for (Player* bad : {static_cast<Player*>(nullptr), closed, random}) {
        EXPECT_EQ(PlbClosePlayer(bad), 0);
        EXPECT_EQ(PlbPlayPlayer(bad), 0);
        EXPECT_EQ(PlbResumPlayer(bad), 0);
        EXPECT_EQ(PlbPausePlayer(bad), 0);
        EXPECT_EQ(PlbStopPlayer(bad), 0);
        EXPECT_EQ(PlbSeekPlayer(bad, 0), 0);
        EXPECT_EQ(PlbGetPlayerStatus(bad), 0);
        EXPECT_EQ(PlbGetPlayPosition(bad, nullptr), 0u);
        EXPECT_EQ(PlbSetPlayRect(bad, &rect, 1), 0);
        EXPECT_EQ(PlbGetPlayRect(bad, &rect), -1);
        EXPECT_EQ(PlbLockFrameDIB(bad, nullptr), nullptr);
        EXPECT_EQ(PlbUnlockFrameDIB(bad), 0);
        EXPECT_EQ(PlbSetVolume(bad, 50), 0);
        EXPECT_EQ(PlbSetTempo(bad, 50), 0);
    }

    Watcher watcher;
    const PlbFrameSink sink = watcher.sink(0, 0);
    StrInfo untimeable = info;
    untimeable.frameRate = 0;
    EXPECT_FALSE(PlbOpenPlayerEx("Filmfile.psr", kMovie.c_str(), &untimeable, &sink, nullptr, 10, 4, &options));
    EXPECT_FALSE(PlbOpenPlayerEx("Filmfile.psr", "/no/such/file.str", &info, &sink, nullptr, 10, 4, &options));
    EXPECT_FALSE(PlbOpenPlayerEx("NoSuchPlugin.psr", kMovie.c_str(), &info, &sink, nullptr, 10, 4, &options));
    EXPECT_FALSE(PlbOpenPlayerEx("Filmfile.psr", kMovie.c_str(), nullptr, &sink, nullptr, 10, 4, &options));
}

TEST(PlayerFrameTime, ConstantAndVariableRates)
{
    struct Case
    {
        uint16_t kind;
        uint16_t rate;     // of the stream
        uint32_t frame;    // frame number
        uint16_t param;    // the unit's own rate (variable rate)
        uint64_t previous; // time of the preceding unit
        uint32_t expected;
    } cases[] = {
        {StrVideo, 150, 1, 0, 0, 0},
        {StrVideo, 150, 16, 0, 0, 1000},     // 15.0 frames a second, tenths
        {StrVideo, 2997, 31, 0, 0, 1001},    // 29.97, hundredths: 30 * 100000 / 2997
        {StrVideo, 150, 0, 0, 0, 0},         // no frame number: at the start, not at the wrap
        {StrVideo | StrTimed, 150, 5, 0, 0, 66},      // own rate 0 counts as the stream's: 1/15 s
        {StrVideo | StrTimed, 150, 5, 300, 100, 133}, // 30 fps after 100 ms, on the 1/30 s grid
        {StrVideo | StrTimed, 150, 5, 100, 0, 100},   // 10 fps, grid of lcm(100, 150)
    };
    for (const Case& c : cases) {
        StrInfo info{};
        info.kind = c.kind;
        info.frameRate = c.rate;
        PsrReadRecord unit{};
        unit.frameNumber = c.frame;
        unit.param = c.param;
        EXPECT_EQ(tamrin::player::frameTime(info, unit, c.previous), c.expected)
            << "rate " << c.rate << " frame " << c.frame << " param " << c.param;
    }
}

} // namespace
