// Music on a sequencer port, scheduled on a fake port: record times become queue ticks (records
// cut between two writes included), tempo events follow the player's tempo, buffers come back
// once the queue has passed them, and pause and reset silence every note.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <initializer_list>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "audio/sequencer_output.h"
#include "player_watch.h"
#include "player/sequencer_events.h"

using namespace tamrin;
using Bytes = std::vector<uint8_t>;

namespace {

struct PortLog
{
    std::mutex mutex;
    bool opens = true;
    uint32_t division = 0, tempo = 0;
    std::vector<std::pair<uint32_t, Bytes>> messages;
    std::vector<std::pair<uint32_t, uint32_t>> tempos;
    std::vector<std::string> calls; // start, stop, resume, clear, silence
    std::atomic<uint32_t> tick{0};
};

class FakePort final : public audio::SequencerPort
{
  public:
    explicit FakePort(PortLog& log) : m_log(log) {}
    bool open(const std::string& address, std::string& error) override
    {
        if (!m_log.opens)
            error = "no port " + address;
        return m_log.opens;
    }
    bool setTiming(uint32_t division, uint32_t tempoUs) override
    {
        std::lock_guard lock(m_log.mutex);
        m_log.division = division;
        m_log.tempo = tempoUs;
        return true;
    }
    bool schedule(uint32_t tick, std::span<const uint8_t> message) override
    {
        std::lock_guard lock(m_log.mutex);
        m_log.messages.push_back({tick, Bytes(message.begin(), message.end())});
        return true;
    }
    bool scheduleTempo(uint32_t tick, uint32_t tempoUs) override
    {
        std::lock_guard lock(m_log.mutex);
        m_log.tempos.push_back({tick, tempoUs});
        return true;
    }
    void start() override { call("start"); }
    void stop() override { call("stop"); }
    void resume() override { call("resume"); }
    void clear() override { call("clear"); }
    void silence() override { call("silence"); }
    uint32_t tick() override { return m_log.tick.load(); }
    uint64_t elapsedMs() override { return m_log.tick.load() * 5; }
    void close() override {}

  private:
    void call(const char* name)
    {
        std::lock_guard lock(m_log.mutex);
        m_log.calls.push_back(name);
    }
    PortLog& m_log;
};

Bytes records(std::initializer_list<uint8_t> raw)
{
    const Bytes in(raw);
    Bytes out(4096);
    out.resize(player::convertSequencerEvents(in, out));
    return out;
}

struct Done
{
    std::mutex mutex;
    std::vector<void*> tags;
    audio::Completion callback()
    {
        return [this](void* tag) {
            std::lock_guard lock(mutex);
            tags.push_back(tag);
        };
    }
    size_t count()
    {
        std::lock_guard lock(mutex);
        return tags.size();
    }
};

// Program, note on at 0; tempo 250000 and note off at 96; a system-exclusive message and a note
// at 192 (delta 0x60 each).
const Bytes kSong =
    records({0x00, 0xC0, 0x05, 0x00, 0x90, 0x3C, 0x64, 0x60, 0xFF, 0x51, 0x03, 0x03, 0xD0, 0x90,
             0x00, 0x80, 0x3C, 0x00, 0x60, 0xF0, 0x03, 0x7E, 0x01, 0xF7, 0x00, 0x90, 0x40, 0x50});

TEST(SequencerOutput, RecordTimesBecomeTicksAtThePlayersTempo)
{
    ASSERT_FALSE(kSong.empty());
    for (const uint32_t percent : {100u, 200u, 50u}) {
        SCOPED_TRACE(percent);
        PortLog log;
        Done done;
        auto out = audio::makeSequencerOutput(std::make_unique<FakePort>(log), "128:0", 96, 500000, percent);
        ASSERT_TRUE(out->open({}, done.callback()));
        // Cut inside the tempo record, and again inside the system-exclusive payload.
        const size_t cuts[] = {17, 40, kSong.size()};
        size_t from = 0;
        for (const size_t to : cuts) {
            ASSERT_TRUE(out->write(kSong.data() + from, uint32_t(to - from), nullptr));
            from = to;
        }
        out->close();
        std::lock_guard lock(log.mutex);
        EXPECT_EQ(log.division, 96u);
        EXPECT_EQ(log.tempo, 500000u * 100 / percent);
        const std::vector<std::pair<uint32_t, Bytes>> expected = {{0, {0xC0, 0x05}},
                                                                  {0, {0x90, 0x3C, 0x64}},
                                                                  {96, {0x80, 0x3C, 0x00}},
                                                                  {192, {0xF0, 0x7E, 0x01, 0xF7}},
                                                                  {192, {0x90, 0x40, 0x50}}};
        EXPECT_EQ(log.messages, expected);
        ASSERT_EQ(log.tempos.size(), 1u);
        EXPECT_EQ(log.tempos[0], std::make_pair(96u, 250000u * 100 / percent));
    }
}

TEST(SequencerOutput, VolumeScalesNoteVelocities)
{
    struct Case
    {
        uint32_t percent;
        uint8_t first, second; // velocities of the two notes on (0x64 and 0x50)
    } const cases[] = {{100, 0x64, 0x50}, {50, 0x32, 0x28}, {400, 127, 127}, {0, 0, 0}};
    for (const Case& c : cases) {
        Bytes recs = kSong;
        player::scaleNoteVelocities(recs, c.percent);
        EXPECT_EQ(recs[12 + 10], c.first) << c.percent;
        EXPECT_EQ(recs[recs.size() - 2], c.second) << c.percent;
        EXPECT_EQ(recs[36 + 10], 0x00) << "the note off stays";
        EXPECT_EQ(recs[48 + 12], 0xF0) << "the system-exclusive payload is passed over";
    }
}

TEST(SequencerOutput, BuffersComeBackAsTheQueuePassesThemAndResetSilences)
{
    PortLog log;
    Done done;
    auto out = audio::makeSequencerOutput(std::make_unique<FakePort>(log), "128:0", 96, 500000, 100);
    ASSERT_TRUE(out->open({}, done.callback()));
    const size_t half = 3 * player::kStreamEventBytes; // up to the note off at 96
    int first = 1, second = 2;
    ASSERT_TRUE(out->write(kSong.data(), uint32_t(half), &first));
    ASSERT_TRUE(out->write(kSong.data() + half, uint32_t(kSong.size() - half), &second));
    log.tick = 100;
    for (int i = 0; i < 200 && done.count() < 1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ASSERT_EQ(done.count(), 1u) << "only the buffer the queue has passed";
    EXPECT_EQ(done.tags[0], &first);
    EXPECT_EQ(out->position(), 500u);

    out->pause();
    out->reset(); // hands back the second buffer, the queue starts again from 0
    EXPECT_EQ(done.count(), 2u);
    out->restart();
    {
        std::lock_guard lock(log.mutex);
        const std::vector<std::string> calls = {"start", "stop", "silence", "clear", "silence", "resume"};
        EXPECT_EQ(log.calls, calls);
    }
    // Ticks count from 0 again after the reset.
    ASSERT_TRUE(out->write(kSong.data(), uint32_t(player::kStreamEventBytes), nullptr));
    out->close();
    EXPECT_FALSE(out->write(kSong.data(), 12, nullptr)) << "closed";
    std::lock_guard lock(log.mutex);
    EXPECT_EQ(log.messages.back().first, 0u);
}

TEST(SequencerOutput, APortThatCannotBeOpenedTellsWhy)
{
    PortLog log;
    log.opens = false;
    Done done;
    auto out = audio::makeSequencerOutput(std::make_unique<FakePort>(log), "Synth port", 96, 500000, 100);
    EXPECT_FALSE(out->open({}, done.callback()));
    EXPECT_EQ(out->error(), "no port Synth port");
    EXPECT_FALSE(out->write(kSong.data(), 12, nullptr));
    // The real sequencer: this machine has none, or no such port.
    std::string error;
    EXPECT_FALSE(audio::makeAlsaSequencerPort()->open("no-such-client:0", error));
    EXPECT_NE(error.find("sequencer"), std::string::npos) << error;
}

} // namespace

namespace {

using playertest::commandOutput;

// tamrin-cli plays on the wall clock when the sequencer port cannot be used, and says why.
TEST(SequencerOutput, TheCommandLineWarnsAndPlaysOn)
{
    const std::string movie = playertest::movieFile();
    const std::string command = std::string(TAMRIN_OUT_DIR) + "/tamrin-cli play --driver alsa-seq --device " +
                                "no-such-client:0 --from 2500 " + movie + " 2>&1 >/dev/null";
    int status = 0;
    const std::string text = commandOutput(command, status);
    ASSERT_NE(status, -1);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << text;
    EXPECT_NE(text.find("warning: "), std::string::npos) << text;
    EXPECT_NE(text.find("without sound"), std::string::npos) << text;
}

} // namespace
