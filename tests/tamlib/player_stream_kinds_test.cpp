// The player on the other kinds of stream and on long ones: a still picture (a test plugin serves
// one frame of a movie of tests/data), the sound-only XA stream of the corpus disc image, a 10 s
// movie in real time and minutes of pictures without timing, the latter watched for the growth
// of the heap.
#include <gtest/gtest.h>

#include <malloc.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizer runtimes keep their own heap and count its live bytes.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

#include "discport/discport.h"
#include "player_watch.h"
#include "streamkit/lbr.h"
#include "tamlib/frame_decoder.h"
#include "tamlib/player.h"
#include "tamlib/sector_loop.h"

namespace {

using namespace playertest;

constexpr size_t kRiffBytes = 44;
constexpr size_t kSectorBytes = 2352;

std::vector<uint8_t> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool writeFile(const std::string& path, const uint8_t* bytes, size_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes), std::streamsize(size));
    return bool(out);
}

uint32_t get32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

// A movie of `frames` frames made of the sectors of `source` (sound included) over and over, the
// frame numbers of each round raised by the frames of the rounds before: the movie stops after
// the last sector of frame `frames`. Sector layout: sub-header submode at 0x12 (0x04: sound),
// the picture sector header at 0x18 (frame number at 0x20, sector of frame at 0x1C, sectors in
// frame at 0x1E).
std::string repeatedMovie(const std::string& source, uint32_t frames, const std::string& name)
{
    const std::vector<uint8_t> bytes = readFile(source);
    const size_t sectors = bytes.size() < kRiffBytes ? 0 : (bytes.size() - kRiffBytes) / kSectorBytes;
    uint32_t perRound = 0;
    for (size_t i = 0; i < sectors; ++i) {
        const uint8_t* s = &bytes[kRiffBytes + i * kSectorBytes];
        if (!(s[0x12] & 0x04))
            perRound = std::max(perRound, get32(s + 0x20));
    }
    EXPECT_GT(perRound, 0u);
    if (perRound == 0)
        return {};
    std::vector<uint8_t> movie(bytes.begin(), bytes.begin() + kRiffBytes);
    for (uint32_t round = 0, done = 0; done < frames; ++round) {
        for (size_t i = 0; i < sectors && done < frames; ++i) {
            const size_t at = movie.size();
            movie.insert(movie.end(), bytes.begin() + ptrdiff_t(kRiffBytes + i * kSectorBytes),
                         bytes.begin() + ptrdiff_t(kRiffBytes + (i + 1) * kSectorBytes));
            uint8_t* s = &movie[at];
            if ((s[0x12] & 0x04) || (s[0x18] == 0 && s[0x19] == 0))
                continue;
            const uint32_t number = get32(s + 0x20) + round * perRound;
            put32(s + 0x20, number);
            if (number == frames && s[0x1C] + 1 == s[0x1E])
                done = frames;
        }
    }
    const std::string path = testing::TempDir() + name;
    EXPECT_TRUE(writeFile(path, movie.data(), movie.size()));
    return path;
}

// The heap's live bytes: the sanitizer's count under a sanitizer, else the C library's.
size_t liveHeapBytes()
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

size_t residentBytes()
{
    long pages = 0, resident = 0;
    FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return size_t(resident) * 4096;
}

// The pictures of a movie, through the movie's plugin.
StreamState* openPictures(const std::string& movie)
{
    StrInfo info = describe(movie);
    StreamState* stream = LbrOpenStream("Filmfile.psr", movie.c_str(), -1, &info, LBR_WANT_VIDEO);
    EXPECT_TRUE(stream);
    return stream;
}

// One picture unit of a movie: its header and payload, read through the movie's plugin.
std::vector<uint8_t> pictureUnit(const std::string& movie, uint32_t frameNumber)
{
    StreamState* stream = openPictures(movie);
    std::vector<uint8_t> found;
    if (!stream)
        return found;
    tamlib::UnitBuffer buffer;
    PsrReadRecord* unit = buffer.record();
    while (found.empty() && LbrReadStream(stream, LBR_WANT_VIDEO, unit)) {
        if (unit->frameNumber == frameNumber && buffer.holdsPayload()) {
            const auto* bytes = reinterpret_cast<const uint8_t*>(unit);
            found.assign(bytes, bytes + PSR_READ_HEADER_BYTES + unit->payloadBytes);
        }
        LbrFreeReadBuffer(stream, unit);
    }
    LbrCloseStream(stream);
    return found;
}

// The same frame decoded by the library's frame decoder, as the frames command decodes it.
std::vector<uint8_t> decodedFrame(const std::string& movie, uint32_t frameNumber)
{
    StreamState* stream = openPictures(movie);
    std::vector<uint8_t> picture;
    if (!stream)
        return picture;
    {
        tamlib::FrameDecoder::Settings settings;
        settings.first = frameNumber;
        tamlib::FrameDecoder decoder(stream, settings);
        tamlib::FrameDecoder::Frame frame;
        tamlib::FrameDecoder::Step step;
        while ((step = decoder.next(frame)) != tamlib::FrameDecoder::Step::End) {
            if (step == tamlib::FrameDecoder::Step::Frame && frame.frameNumber == frameNumber) {
                const auto* bytes = reinterpret_cast<const uint8_t*>(frame.picture);
                picture.assign(bytes, bytes + sizeof(FrameDib) + frame.picture->imageSize);
                break;
            }
        }
    }
    LbrCloseStream(stream);
    return picture;
}

TEST(PlayerStreamKinds, AStillPictureIsShownAndEndsAtOnce)
{
    const std::string movie = movieFile();
    constexpr uint32_t kFrame = 20;
    const std::vector<uint8_t> unit = pictureUnit(movie, kFrame);
    ASSERT_GT(unit.size(), size_t(PSR_READ_HEADER_BYTES));
    const std::string still = testing::TempDir() + "still_picture.mdec";
    ASSERT_TRUE(writeFile(still, unit.data() + PSR_READ_HEADER_BYTES, unit.size() - PSR_READ_HEADER_BYTES));
    const std::vector<uint8_t> expected = decodedFrame(movie, kFrame);
    ASSERT_GT(expected.size(), sizeof(FrameDib));

    // As a still-picture plugin describes its stream: one frame, no frame rate, one second.
    StrInfo info{};
    info.kind = StrStill;
    info.frameCount = 1;
    info.durationMs = 1000;
    info.width = info.outWidth = 320;
    info.height = info.outHeight = 240;
    info.dataBytes = uint32_t(unit.size() - PSR_READ_HEADER_BYTES);

    Watcher watcher;
    watcher.keepPictures = true;
    const PlbFrameSink sink = watcher.sink(320, 240);
    const PlbNotifySink notify = watcher.notify();
    const PlbPlayerOptions options{"null", nullptr, -1};
    Player* player = PlbOpenPlayerEx("StillUnit.psr", still.c_str(), &info, &sink, &notify, 10, 4, &options);
    ASSERT_TRUE(player) << "a still picture has no frame rate, and needs none";
    uint32_t frame = 0;
    const FrameDib* shown = waitForPicture(player, frame, 200, milliseconds(5));
    ASSERT_TRUE(shown) << "the picture is on screen after open";
    EXPECT_EQ(frame, 1u);
    PlbUnlockFrameDIB(player);
    {
        std::lock_guard lock(watcher.mutex);
        ASSERT_EQ(watcher.lastPicture.size(), expected.size());
        EXPECT_TRUE(watcher.lastPicture == expected) << "the sink gets the decoded frame itself";
    }

    // Paused on its only picture, a still may already count as ended; playing it ends it at once.
    std::this_thread::sleep_for(milliseconds(50));
    const int endsBefore = watcher.endCount();
    EXPECT_LE(endsBefore, 1);
    const auto from = steady_clock::now();
    ASSERT_EQ(PlbPlayPlayer(player), 1);
    const int64_t wall = watcher.waitEnd(milliseconds(3000), endsBefore);
    EXPECT_GE(wall, 0);
    EXPECT_LT(duration_cast<milliseconds>(steady_clock::now() - from).count(), kFullSpeed ? 200 : 600);
    std::this_thread::sleep_for(milliseconds(100)); // a second end message would come now
    EXPECT_EQ(watcher.endCount(), endsBefore + 1);
    EXPECT_EQ(PlbGetPlayerStatus(player), PLB_STATE_ENDED);
    uint32_t length = 0;
    EXPECT_EQ(PlbGetPlayPosition(player, &length), length);
    EXPECT_GE(length, 1000u);
    {
        std::lock_guard lock(watcher.mutex);
        EXPECT_EQ(std::set<uint32_t>(watcher.frames.begin(), watcher.frames.end()), std::set<uint32_t>{1});
    }
    EXPECT_EQ(PlbClosePlayer(player), 1);
    std::remove(still.c_str());
}

// The corpus disc image mounted as a drive for the test's life.
class MountedDisc
{
  public:
    MountedDisc() : m_drive(CdMountImage((std::string(TAMRIN_TEST_DATA) + "/disc/psxdisc_a.cue").c_str())) {}
    ~MountedDisc()
    {
        if (m_drive >= 0)
            CdUnmountImage(m_drive);
    }
    int32_t drive() const { return m_drive; }

  private:
    int32_t m_drive;
};

TEST(PlayerStreamKinds, TheSoundOfADiscPlaysToItsEnd)
{
    MountedDisc disc;
    ASSERT_GE(disc.drive(), 0) << CdImageError();
    const std::atomic<bool> stop{false};
    const tamlib::scan::ScanResult scan = tamlib::scan::scanDisc(disc.drive(), {"Discvoice.psr"}, {}, stop);
    ASSERT_EQ(scan.plugins.size(), 1u);
    // The XA file at sector 1570: 75 sound sectors of 37800 Hz stereo, 4 s.
    const StrInfo* found = nullptr;
    for (const StrInfo& s : scan.plugins[0].streams)
        if (s.startSector == 1570)
            found = &s;
    ASSERT_TRUE(found) << scan.plugins[0].streams.size() << " streams found";
    StrInfo info = *found;
    ASSERT_EQ(info.kind, StrAudio);
    ASSERT_EQ(info.durationMs, 4000u);

    Watcher watcher;
    const PlbFrameSink sink = watcher.sink(320, 240); // a sound stream gets no pictures all the same
    const PlbNotifySink notify = watcher.notify();
    const PlbPlayerOptions options{"null", nullptr, disc.drive()};
    Player* player = PlbOpenPlayerEx("Discvoice.psr", nullptr, &info, &sink, &notify, 10, 4, &options);
    ASSERT_TRUE(player);
    EXPECT_EQ(PlbGetPlayerStatus(player), PLB_STATE_PAUSED);
    ASSERT_EQ(PlbPlayPlayer(player), 1);
    const int64_t wall = watcher.waitEnd(milliseconds(8000));
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_NEAR(double(wall), 4000.0, 4000 * (kFullSpeed ? 0.05 : 0.15));
    EXPECT_EQ(watcher.endCount(), 1);
    uint32_t length = 0;
    EXPECT_EQ(PlbGetPlayPosition(player, &length), length);
    EXPECT_NEAR(double(length), 4000.0, 4000 * 0.05);
    EXPECT_EQ(PlbGetPlayerStatus(player), PLB_STATE_ENDED);
    {
        std::lock_guard lock(watcher.mutex);
        EXPECT_TRUE(watcher.frames.empty());
        ASSERT_FALSE(watcher.positions.empty());
        EXPECT_EQ(watcher.positions.back().first, length);
    }
    EXPECT_EQ(PlbClosePlayer(player), 1);
}

struct LongPlay
{
    int64_t wallMs = -1;
    uint32_t shown = 0, dropped = 0, positionMs = 0, lengthMs = 0;
    std::set<uint32_t> frames;
    int ends = 0;
    // The live heap once `early` pictures are shown, its highest value after that, and at the end.
    size_t heapEarly = 0, heapPeak = 0, heapLate = 0, residentEarly = 0, residentLate = 0;
};

// Plays `info`'s stream of `path` to its end at `tempo`, sampling the heap on the way.
LongPlay playLong(const std::string& path, StrInfo info, const char* driver, uint32_t tempo, uint32_t early,
                  milliseconds limit)
{
    LongPlay played;
    Watcher watcher;
    const PlbFrameSink sink = watcher.sink(320, 240);
    const PlbNotifySink notify = watcher.notify();
    const PlbPlayerOptions options{driver, nullptr, -1};
    Player* player = PlbOpenPlayerEx("Filmfile.psr", path.c_str(), &info, &sink, &notify, 100, 4, &options);
    if (!player) {
        ADD_FAILURE() << "not opened";
        return played;
    }
    EXPECT_EQ(PlbSetTempo(player, tempo), 1);
    EXPECT_EQ(PlbPlayPlayer(player), 1);
    const auto from = steady_clock::now();
    while (watcher.endCount() == 0 && steady_clock::now() - from < limit) {
        uint32_t shown = 0;
        PlbGetPlayerCounts(player, &shown, nullptr);
        if (played.heapEarly == 0 && shown >= early) {
            played.heapEarly = played.heapPeak = liveHeapBytes();
            played.residentEarly = residentBytes();
        } else if (played.heapEarly != 0) {
            played.heapPeak = std::max(played.heapPeak, liveHeapBytes());
        }
        std::this_thread::sleep_for(milliseconds(1));
    }
    if (watcher.endCount())
        played.wallMs = duration_cast<milliseconds>(steady_clock::now() - from).count();
    played.heapLate = liveHeapBytes();
    played.residentLate = residentBytes();
    std::this_thread::sleep_for(milliseconds(50)); // a second end message would come now
    PlbGetPlayerCounts(player, &played.shown, &played.dropped);
    played.positionMs = PlbGetPlayPosition(player, &played.lengthMs);
    played.ends = watcher.endCount();
    {
        std::lock_guard lock(watcher.mutex);
        played.frames.insert(watcher.frames.begin(), watcher.frames.end());
    }
    EXPECT_EQ(PlbGetPlayerStatus(player), PLB_STATE_ENDED);
    EXPECT_EQ(PlbClosePlayer(player), 1);
    return played;
}

TEST(PlayerLongStreams, TenSecondsPlayInTenSecondsWithEveryFrame)
{
    const std::string path = repeatedMovie(movieFile(), 150, "ten_seconds.str");
    ASSERT_FALSE(path.empty());
    const StrInfo info = describe(path);
    ASSERT_NEAR(double(info.durationMs), 10000.0, 100.0);
    const LongPlay played = playLong(path, info, "null", 100, 15, milliseconds(14000));
    // The sound runs a little past the last picture (190 sectors of 2016 samples at 37800 Hz).
    EXPECT_NEAR(double(played.wallMs), 10000.0, 10000 * (kFullSpeed ? 0.05 : 0.15));
    EXPECT_EQ(played.ends, 1);
    EXPECT_EQ(played.positionMs, played.lengthMs);
    EXPECT_NEAR(double(played.lengthMs), 10000.0, 10000 * 0.05);
    EXPECT_EQ(played.frames.size() + played.dropped, 150u);
    if (kFullSpeed) {
        EXPECT_EQ(played.dropped, 0u) << "no picture is late on a quiet machine";
        EXPECT_EQ(played.frames.size(), 150u);
    }
    std::remove(path.c_str());
}

TEST(PlayerLongStreams, MemoryStaysFlatOverMinutesOfPictures)
{
    struct Case
    {
        const char* name;
        uint32_t frames;
        bool sound;     // the sound is played (else the movie's sound sectors are left unread)
        const char* driver;
        uint32_t tempo;
    } cases[] = {
        // Two minutes with their sound, as fast as they decode: the sound must not run ahead.
        // (Forty seconds under ThreadSanitizer, where decoding is many times slower.)
        {"untimed, with sound", kFullSpeed ? 1800u : 600u, true, "null-untimed", 100},
        // Half a minute on the wall clock at ten times the speed, the sound not played.
        {"wall clock, sound not played", 450, false, "null", 1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = repeatedMovie(movieFile(), c.frames, "long_movie.str");
        ASSERT_FALSE(path.empty());
        StrInfo info = describe(path);
        if (!c.sound)
            info.kind &= uint16_t(~StrAudio);
        const LongPlay played =
            playLong(path, info, c.driver, c.tempo, 45, milliseconds(kFullSpeed ? 60000 : 300000));
        std::remove(path.c_str());
        ASSERT_GE(played.wallMs, 0) << "played to its end";
        EXPECT_EQ(played.ends, 1);
        EXPECT_EQ(played.positionMs, played.lengthMs);
        if (kFullSpeed && c.tempo == 100) {
            EXPECT_EQ(played.frames.size(), c.frames);
            EXPECT_EQ(played.dropped, 0u);
        }
        ASSERT_GT(played.heapEarly, 0u);
        const auto growth = int64_t(played.heapLate) - int64_t(played.heapEarly);
        const auto peak = int64_t(played.heapPeak) - int64_t(played.heapEarly);
        std::printf("%s: %u pictures in %lld ms; live heap %zu -> peak %+lld -> end %+lld bytes, resident %zu -> "
                    "%zu KiB\n",
                    c.name, c.frames, (long long)played.wallMs, played.heapEarly, (long long)peak, (long long)growth,
                    played.residentEarly / 1024, played.residentLate / 1024);
        // Units read ahead and never taken, or a few bytes kept per picture, would show here.
        EXPECT_LT(growth, 256 * 1024);
        EXPECT_LT(peak, 2 * 1024 * 1024);
    }
}

} // namespace
