// The sound devices: every working device honours the same contract (buffers come back, the
// position counts played frames, reset hands back what was queued); the null device's real-time
// mode keeps the steady clock's pace, and its faulty modes fail where they say.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "audio/sound_output.h"

using namespace tamrin::audio;
using namespace std::chrono;

namespace {

struct Done
{
    std::atomic<int> count{0};
    Completion callback()
    {
        return [this](void*) { count++; };
    }
    bool waitFor(int n, milliseconds limit)
    {
        const auto end = steady_clock::now() + limit;
        while (count < n && steady_clock::now() < end)
            std::this_thread::sleep_for(milliseconds(1));
        return count >= n;
    }
};

const PcmFormat kMono16k{16000, 1, 16};

struct Device
{
    const char* driver;
    const char* device;
};

class SoundContract : public testing::TestWithParam<Device>
{
};

TEST_P(SoundContract, BuffersComeBackAndThePositionCountsThem)
{
    auto out = makeSoundOutput(GetParam().driver, GetParam().device);
    ASSERT_TRUE(out);
    Done done;
    EXPECT_FALSE(out->write(nullptr, 64, nullptr)) << "write before open";
    EXPECT_FALSE(out->open(PcmFormat{16000, 3, 16}, done.callback()));
    EXPECT_FALSE(out->open(PcmFormat{0, 1, 16}, done.callback()));
    ASSERT_TRUE(out->open(kMono16k, done.callback()));
    std::vector<uint8_t> buffer(1600 * 2); // 100 ms
    EXPECT_FALSE(out->write(buffer.data(), 3, nullptr)) << "not whole frames";
    ASSERT_TRUE(out->write(buffer.data(), uint32_t(buffer.size()), nullptr));
    ASSERT_TRUE(out->write(buffer.data(), uint32_t(buffer.size()), nullptr));
    ASSERT_TRUE(done.waitFor(2, seconds(3)));
    EXPECT_LE(out->position(), 3200u);

    // Paused, queued buffers stay queued; reset hands them back and starts again from 0.
    out->pause();
    const uint64_t before = out->position();
    ASSERT_TRUE(out->write(buffer.data(), uint32_t(buffer.size()), nullptr));
    std::this_thread::sleep_for(milliseconds(150));
    EXPECT_EQ(out->position(), before);
    out->reset();
    EXPECT_EQ(done.count, 3);
    EXPECT_EQ(out->position(), 0u);
    out->restart();
    ASSERT_TRUE(out->write(buffer.data(), uint32_t(buffer.size()), nullptr));
    EXPECT_TRUE(done.waitFor(4, seconds(3)));
    out->close();
    EXPECT_FALSE(out->write(buffer.data(), uint32_t(buffer.size()), nullptr)) << "write after close";
}

INSTANTIATE_TEST_SUITE_P(Devices, SoundContract,
                         testing::Values(Device{"null", ""}, Device{"null-untimed", ""}, Device{"alsa", "null"}),
                         [](const auto& info) {
                             std::string name = std::string(info.param.driver) + info.param.device;
                             for (char& c : name)
                                 if (c == '-')
                                     c = '_';
                             return name;
                         });

TEST(NullSound, RealTimePlaysAtTheFormatsRate)
{
    auto out = makeNullOutput(NullMode::RealTime);
    Done done;
    ASSERT_TRUE(out->open(kMono16k, done.callback()));
    std::vector<uint8_t> buffer(4000 * 2); // 250 ms
    const auto start = steady_clock::now();
    ASSERT_TRUE(out->write(buffer.data(), uint32_t(buffer.size()), nullptr));
    ASSERT_TRUE(out->write(buffer.data(), uint32_t(buffer.size()), nullptr));
    std::this_thread::sleep_for(milliseconds(200));
    const uint64_t midway = out->position();
    EXPECT_NEAR(double(midway), 3200.0, 800.0);
    ASSERT_TRUE(done.waitFor(2, seconds(2)));
    const auto took = duration_cast<milliseconds>(steady_clock::now() - start).count();
    EXPECT_GE(took, 495);
    EXPECT_LT(took, 650);
    EXPECT_EQ(out->position(), 8000u);
}

TEST(NullSound, UntimedPlaysAtOnce)
{
    auto out = makeNullOutput(NullMode::Untimed);
    Done done;
    ASSERT_TRUE(out->open(kMono16k, done.callback()));
    std::vector<uint8_t> buffer(160000 * 2); // 10 s
    const auto start = steady_clock::now();
    ASSERT_TRUE(out->write(buffer.data(), uint32_t(buffer.size()), nullptr));
    ASSERT_TRUE(done.waitFor(1, seconds(1)));
    EXPECT_LT(duration_cast<milliseconds>(steady_clock::now() - start).count(), 500);
    EXPECT_EQ(out->position(), 160000u);
}

TEST(FaultySound, FailsWhereItSays)
{
    Done done;
    std::vector<uint8_t> buffer(64);
    EXPECT_FALSE(makeNullOutput(NullMode::FailOpen)->open(kMono16k, done.callback()));
    auto writeFails = makeNullOutput(NullMode::FailWrite);
    ASSERT_TRUE(writeFails->open(kMono16k, done.callback()));
    EXPECT_FALSE(writeFails->write(buffer.data(), uint32_t(buffer.size()), nullptr));
    EXPECT_FALSE(makeAlsaOutput("no-such-pcm-device")->open(kMono16k, done.callback()));
    EXPECT_FALSE(makeSoundOutput("oss", ""));
    EXPECT_EQ(done.count, 0);
}

} // namespace
