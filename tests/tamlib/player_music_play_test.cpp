// Music streams played by the player: sequences written here are served by the MusicUnits test
// plugin, rendered by the synthesiser and played on the null sound device. The end must come at
// the known length on every clock and tempo, and neither a damaged unit nor a missing SoundFont
// may stall it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "music_stream_file.h"
#include "player_watch.h"
#include "tamlib/player.h"

using namespace std::chrono;
using musictest::Bytes;
using musictest::musicStreamFile;

namespace {

#if defined(__SANITIZE_THREAD__)
constexpr double kTolerance = 0.15; // everything runs many times slower
#else
constexpr double kTolerance = 0.05;
#endif

constexpr uint16_t kDivision = 96;
constexpr uint32_t kTempoUs = 500000; // a quarter note (96 ticks) lasts 500 ms

Bytes& append(Bytes& b, std::initializer_list<uint8_t> bytes)
{
    for (uint8_t x : bytes)
        b.push_back(x);
    return b;
}

// Units of one second each: two quarter notes (note on, note off 96 ticks later).
struct Song
{
    std::vector<Bytes> units;
    uint32_t lengthMs = 0;

    static Song notes(int seconds)
    {
        Song song;
        for (int s = 0; s < seconds; ++s) {
            Bytes unit;
            if (s == 0)
                append(unit, {0x00, 0xC0, 0x00}); // piano
            for (int n = 0; n < 2; ++n) {
                const uint8_t key = uint8_t(60 + 2 * (2 * s + n));
                append(unit, {0x00, 0x90, key, 0x64, 0x60, 0x80, key, 0x00});
            }
            song.units.push_back(unit);
        }
        song.lengthMs = uint32_t(seconds) * 1000;
        return song;
    }

    std::string write(const std::string& name) const
    {
        const std::string file = musicStreamFile(units, kDivision, kTempoUs, lengthMs);
        const std::string path = (std::filesystem::temp_directory_path() / name).string();
        FILE* f = std::fopen(path.c_str(), "wb");
        EXPECT_TRUE(f);
        if (f) {
            std::fwrite(file.data(), 1, file.size(), f);
            std::fclose(f);
        }
        return path;
    }
};

StrInfo describe(const std::string& path)
{
    return playertest::describe(path, "MusicUnits.psr");
}

using playertest::Watcher;

struct Played
{
    int64_t wallMs = -1;
    uint32_t positionMs = 0, lengthMs = 0;
    int ends = 0;
    bool positionsGrow = true;
    size_t positionCount = 0;
    std::string problem;
};

// Opens the song, sets volume and tempo, plays it to the end (or 10 s) and closes.
Played playSong(const std::string& path, const char* driver, uint32_t tempo, uint32_t volume = 100,
                const char* device = nullptr)
{
    Played played;
    Watcher watcher;
    const PlbNotifySink notify = watcher.notify();
    const PlbPlayerOptions options{driver, device, -1};
    StrInfo info = describe(path);
    Player* player =
        PlbOpenPlayerEx("MusicUnits.psr", path.c_str(), &info, nullptr, &notify, 50, 4, &options);
    if (!player) {
        ADD_FAILURE() << "not opened";
        return played;
    }
    char problem[256] = "";
    PlbGetSoundProblem(player, problem, sizeof problem);
    played.problem = problem;
    EXPECT_EQ(PlbSetTempo(player, tempo), 1);
    EXPECT_EQ(PlbSetVolume(player, volume), 1);
    {
        std::lock_guard lock(watcher.mutex);
        watcher.positions.clear(); // from here on the music plays
    }
    EXPECT_EQ(PlbPlayPlayer(player), 1);
    played.wallMs = watcher.waitEnd(seconds(10));
    std::this_thread::sleep_for(milliseconds(50)); // a second end message would come now
    played.positionMs = PlbGetPlayPosition(player, &played.lengthMs);
    EXPECT_EQ(PlbGetPlayerStatus(player), PLB_STATE_ENDED);
    EXPECT_EQ(PlbClosePlayer(player), 1);
    std::lock_guard lock(watcher.mutex);
    played.ends = watcher.ends;
    played.positionCount = watcher.positions.size();
    for (size_t i = 1; i < watcher.positions.size(); ++i)
        played.positionsGrow = played.positionsGrow && watcher.positions[i].first >= watcher.positions[i - 1].first;
    return played;
}

TEST(MusicPlayer, EndsAtTheLengthOnEveryClock)
{
    Song damaged = Song::notes(4);
    // A run cut in the middle of a note on, and a delta of five bytes.
    damaged.units[1] = {0x00, 0x90, 0x3C};
    Bytes longDelta;
    append(longDelta, {0x81, 0x81, 0x81, 0x81, 0x01, 0x90, 0x3C, 0x40});
    damaged.units[2].insert(damaged.units[2].begin(), longDelta.begin(), longDelta.end());
    const std::string song = Song::notes(4).write("tamrin-music-4s.tmus");
    const std::string broken = damaged.write("tamrin-music-damaged.tmus");
    struct Case
    {
        const char* name;
        const std::string& path;
        const char* driver;
        uint32_t tempo;
        uint32_t volume;
        int64_t wallMs; // -1: as fast as it goes
        bool sounds;    // plays on the device (no problem reported)
        const char* device = nullptr;
    } const cases[] = {
        {"real time", song, "null", 100, 100, 4000, true},
        {"tempo 200", song, "null", 200, 100, 2000, true},
        {"quiet", song, "null", 100, 30, 4000, true},
        {"untimed", song, "null-untimed", 100, 100, -1, true},
        {"device that cannot open", song, "null-faulty", 100, 100, 4000, false},
        {"damaged units", broken, "null", 100, 100, 4000, true},
        {"sequencer port that cannot open", song, "alsa-seq", 100, 100, 4000, false, "no-such-client:0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Played played = playSong(c.path, c.driver, c.tempo, c.volume, c.device);
        ASSERT_GE(played.wallMs, 0) << "no end";
        if (c.wallMs < 0) {
            EXPECT_LT(played.wallMs, 1000);
        } else {
            EXPECT_NEAR(double(played.wallMs), double(c.wallMs), double(c.wallMs) * kTolerance + 20);
            EXPECT_GE(played.positionCount, size_t(c.wallMs / 50 / 2)) << "positions while playing";
        }
        EXPECT_EQ(played.ends, 1);
        // The end is at the length; the wall clock may have carried the length a tick further.
        EXPECT_EQ(played.positionMs, played.lengthMs);
        EXPECT_GE(played.lengthMs, 4000u);
        EXPECT_LE(played.lengthMs, 4020u);
        EXPECT_TRUE(played.positionsGrow);
        EXPECT_EQ(played.problem.empty(), c.sounds) << played.problem;
    }
    EXPECT_EQ(PlbProbeSoundOutput("alsa-seq", "no-such-client:0", 0, 0), 0);
    std::filesystem::remove(song);
    std::filesystem::remove(broken);
}

TEST(MusicPlayer, WithoutItsSoundFontPlaysSilentlyAndTellsWhy)
{
    const std::string song = Song::notes(1).write("tamrin-music-1s.tmus");
    setenv("TAMRIN_SOUNDFONT", "/nonexistent/missing.sf2", 1);
    const Played played = playSong(song, "null", 100);
    unsetenv("TAMRIN_SOUNDFONT");
    EXPECT_NEAR(double(played.wallMs), 1000.0, 1000.0 * kTolerance + 20);
    EXPECT_EQ(played.ends, 1);
    EXPECT_GE(played.positionMs, 1000u);
    EXPECT_LE(played.positionMs, 1020u);
    EXPECT_NE(played.problem.find("SoundFont"), std::string::npos) << played.problem;
    std::filesystem::remove(song);
}

TEST(MusicPlayer, SeekAndVolumeWhilePlaying)
{
    const std::string song = Song::notes(4).write("tamrin-music-seek.tmus");
    StrInfo info = describe(song);
    Watcher watcher;
    const PlbNotifySink notify = watcher.notify();
    const PlbPlayerOptions options{"null", nullptr, -1};
    Player* player =
        PlbOpenPlayerEx("MusicUnits.psr", song.c_str(), &info, nullptr, &notify, 10, 4, &options);
    ASSERT_TRUE(player);
    EXPECT_EQ(PlbGetPlayerStatus(player), PLB_STATE_PAUSED);
    ASSERT_EQ(PlbPlayPlayer(player), 1);
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_EQ(PlbSetVolume(player, 50), 1);
    EXPECT_EQ(PlbSetVolume(player, 401), 0);
    EXPECT_NEAR(double(PlbGetPlayPosition(player, nullptr)), 300.0, 60.0);
    ASSERT_EQ(PlbSeekPlayer(player, 3000), 1);
    EXPECT_EQ(PlbGetPlayerStatus(player), PLB_STATE_PAUSED);
    EXPECT_EQ(PlbGetPlayPosition(player, nullptr), 3000u);
    ASSERT_EQ(PlbPlayPlayer(player), 1);
    const int64_t wall = watcher.waitEnd(seconds(5));
    EXPECT_EQ(watcher.endCount(), 1);
    EXPECT_NEAR(double(wall), 1000.0, 1000.0 * kTolerance + 20) << "the last second only";
    uint32_t length = 0;
    EXPECT_EQ(PlbGetPlayPosition(player, &length), length);
    EXPECT_LE(length, 4020u);
    EXPECT_EQ(PlbClosePlayer(player), 1);
    std::filesystem::remove(song);
}

} // namespace
