// What the player tests share: the movie of tests/data they play, its description through the
// plugin, and a watcher that records what the player tells (pictures, positions, end messages).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "streamkit/lbr.h"
#include "tamlib/player.h"

namespace playertest {

using namespace std::chrono;

// Under ThreadSanitizer decoding is many times slower: pictures come late and are dropped, so
// only the clock, the end and the counts that do not depend on speed are checked there.
#if defined(__SANITIZE_THREAD__)
constexpr bool kFullSpeed = false;
#else
constexpr bool kFullSpeed = true;
#endif

inline std::string movieFile()
{
    return std::string(TAMRIN_TEST_DATA) + "/movies/mv1_v2_320x240_15fps_xa37800s.str";
}

// The standard output of a command line; `status` gets its wait status (-1 when it cannot start).
inline std::string commandOutput(const std::string& command, int& status)
{
    std::string text;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        status = -1;
        return text;
    }
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        text.append(chunk, n);
    status = ::pclose(pipe);
    return text;
}

// The picture on screen, locked, as soon as there is one: up to `tries` looks `pause` apart.
// Null when none came.
inline FrameDib* waitForPicture(Player* player, uint32_t& frame, int tries, milliseconds pause)
{
    FrameDib* shown = nullptr;
    for (int i = 0; i < tries && !shown; ++i) {
        shown = PlbLockFrameDIB(player, &frame);
        if (!shown)
            std::this_thread::sleep_for(pause);
    }
    return shown;
}

// The description the plugin gives of a file.
inline StrInfo describe(const std::string& path, const char* plugin = "Filmfile.psr")
{
    StrInfo info{};
    PluginBinding* binding = LbrOpenPSR(plugin);
    EXPECT_TRUE(binding);
    if (binding) {
        EXPECT_EQ(LbrGetStrFileInfo(binding, path.c_str(), &info), 1);
        LbrClosePSR(binding);
    }
    return info;
}

// Records what the player tells: pictures and notifications. With `keepPictures` the bytes of
// the last picture are kept too.
struct Watcher
{
    std::mutex mutex;
    std::vector<uint32_t> frames;
    std::vector<std::pair<uint32_t, int64_t>> positions; // ms, wall ms since start
    int ends = 0;
    steady_clock::time_point start = steady_clock::now();
    int32_t width = 0, height = 0;
    bool keepPictures = false;
    std::vector<uint8_t> lastPicture; // header and pixel rows

    PlbFrameSink sink(int32_t w, int32_t h)
    {
        return PlbFrameSink{this,
                            [](void* c, const FrameDib* picture, const PlbRect*, uint32_t number) {
                                auto* self = static_cast<Watcher*>(c);
                                std::lock_guard lock(self->mutex);
                                self->frames.push_back(number);
                                self->width = picture->width;
                                self->height = picture->height;
                                if (self->keepPictures) {
                                    const auto* bytes = reinterpret_cast<const uint8_t*>(picture);
                                    self->lastPicture.assign(bytes, bytes + sizeof(FrameDib) + picture->imageSize);
                                }
                            },
                            w, h};
    }
    PlbNotifySink notify()
    {
        return PlbNotifySink{this,
                             [](void* c, uint32_t, uint32_t ms) {
                                 auto* self = static_cast<Watcher*>(c);
                                 std::lock_guard lock(self->mutex);
                                 self->positions.push_back(
                                     {ms, duration_cast<milliseconds>(steady_clock::now() - self->start).count()});
                                 return int32_t(1);
                             },
                             [](void* c) {
                                 auto* self = static_cast<Watcher*>(c);
                                 std::lock_guard lock(self->mutex);
                                 self->ends++;
                                 return int32_t(1);
                             }};
    }
    int endCount()
    {
        std::lock_guard lock(mutex);
        return ends;
    }
    // Wall time in ms from now until more than `endsBefore` end messages came, or -1.
    int64_t waitEnd(milliseconds limit, int endsBefore = 0)
    {
        const auto from = steady_clock::now();
        while (endCount() <= endsBefore && steady_clock::now() - from < limit)
            std::this_thread::sleep_for(milliseconds(2));
        return endCount() > endsBefore ? duration_cast<milliseconds>(steady_clock::now() - from).count() : -1;
    }
};

} // namespace playertest
