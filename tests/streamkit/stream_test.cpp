#include <atomic>
#include <thread>
#include <vector>

#include "plugin_fixture.h"

namespace {

constexpr uint32_t kBoth = LBR_WANT_VIDEO | LBR_WANT_AUDIO;

ScriptedUnit video(uint32_t frame, uint8_t fill = 0, uint32_t bytes = 64)
{
    return {frame, 0, 0, bytes, fill};
}
ScriptedUnit audio(uint8_t fill, uint32_t bytes = 32)
{
    return {0, 0, 0, bytes, fill};
}

// A record buffer with room for any test unit.
struct Record
{
    alignas(8) uint8_t bytes[PSR_READ_HEADER_BYTES + 4096];
    PsrReadRecord* operator->() { return reinterpret_cast<PsrReadRecord*>(bytes); }
    PsrReadRecord* get() { return reinterpret_cast<PsrReadRecord*>(bytes); }
};

class Streams : public ::testing::Test
{
protected:
    void SetUp() override
    {
        control = &pluginControl("TestFull.psr");
        info = StrInfo{};
        info.kind = StrVideo | StrAudio;
        info.frameCount = 10;
        info.channels = 2;
    }
    void TearDown() override
    {
        if (stream) {
            EXPECT_EQ(LbrCloseStream(stream), 1);
        }
        EXPECT_EQ(control->ownedOutstanding, 0) << "every owned block went back to the plugin";
    }

    StreamState* open(uint32_t mode = kBoth)
    {
        stream = LbrOpenStream("TestFull.psr", "movie.str", 0, &info, mode);
        return stream;
    }

    // Reads one unit of the wanted kinds; returns its fill byte (video as +1000), or -1 at the end.
    int next(uint32_t wanted)
    {
        if (!LbrReadStream(stream, wanted, record.get()))
            return -1;
        const int id = record->payloadBytes ? record->payload[0] : 0;
        const bool isVideo = (record->unitKind & 0xF0) == UnitVideo;
        LbrFreeReadBuffer(stream, record.get());
        return isVideo ? 1000 + id : id;
    }

    TestPluginControl* control = nullptr;
    StrInfo info{};
    StreamState* stream = nullptr;
    Record record;
};

TEST_F(Streams, ModeWithoutKindsIsRefusedBeforeThePluginIsTouched)
{
    EXPECT_EQ(LbrOpenStream("TestFull.psr", "movie.str", 0, &info, 0), nullptr);
    EXPECT_EQ(LbrOpenStream("TestFull.psr", "movie.str", 0, &info, 0x4), nullptr);
    EXPECT_EQ(control->openCalls, 0);
}

TEST_F(Streams, OpenFailuresLeaveNothingOpen)
{
    EXPECT_EQ(LbrOpenStream("Missing.psr", "movie.str", 0, &info, kBoth), nullptr);
    EXPECT_EQ(LbrOpenStream("TestFull.psr", "fail.str", 0, &info, kBoth), nullptr);
    EXPECT_EQ(LbrOpenStream("TestFull.psr", nullptr, -1, &info, kBoth), nullptr);
    EXPECT_EQ(LbrOpenStream("Bare.psr", "movie.str", 0, &info, kBoth), nullptr) << "no file support";
    EXPECT_EQ(LbrOpenStream("Bare.psr", nullptr, 0, &info, kBoth), nullptr) << "no disc support";
    EXPECT_EQ(control->frameDecoderOpens, 0);
}

TEST_F(Streams, OpensDiscAreasAndKeepsACopyOfTheDescription)
{
    info.startSector = 1234;
    stream = LbrOpenStream("TestFull.psr", nullptr, 0, &info, kBoth);
    ASSERT_NE(stream, nullptr);
    info.startSector = 0;  // the caller's record is its own
    const StrInfo* copy = LbrGetStreamInfo(stream);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->startSector, 1234u);
    char name[PSR_PATH_MAX];
    EXPECT_NE(LbrGetPlugin(LbrGetPluginHandle(stream), nullptr, name), 0u);
    EXPECT_STREQ(name, "TestFull.psr");
}

TEST_F(Streams, FrameDecoderContextLivesAsLongAsTheStream)
{
    ASSERT_NE(open(), nullptr);
    EXPECT_EQ(control->frameDecoderOpens, 1);
    EXPECT_EQ(LbrCloseStream(stream), 1);
    stream = nullptr;
    EXPECT_EQ(control->frameDecoderCloses, 1);
    EXPECT_EQ(control->closeCalls, 1);

    pluginControl("FileOnly.psr");
    StreamState* plain = LbrOpenStream("FileOnly.psr", "movie.str", 0, &info, kBoth);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(LbrCloseStream(plain), 1);
}

TEST_F(Streams, VideoReadsQueueTheSoundMetOnTheWay)
{
    control->units = {video(1, 1), audio(11), audio(12), video(2, 2), audio(13)};
    ASSERT_NE(open(), nullptr);
    EXPECT_EQ(next(LBR_WANT_VIDEO), 1001);
    EXPECT_EQ(next(LBR_WANT_VIDEO), 1002);
    EXPECT_EQ(control->readCalls, 4);
    EXPECT_EQ(next(LBR_WANT_AUDIO), 11);
    EXPECT_EQ(next(LBR_WANT_AUDIO), 12);
    EXPECT_EQ(control->readCalls, 4) << "queued units come without a plugin read";
    EXPECT_EQ(next(LBR_WANT_AUDIO), 13);
    EXPECT_EQ(next(kBoth), -1);
    EXPECT_EQ(next(kBoth), -1) << "the end stays the end";
}

TEST_F(Streams, BothKindsWantedPrefersQueuedVideo)
{
    control->units = {audio(11), video(1, 1), video(2, 2), audio(12)};
    ASSERT_NE(open(), nullptr);
    EXPECT_EQ(next(LBR_WANT_AUDIO), 11);
    EXPECT_EQ(next(LBR_WANT_AUDIO), 12);  // both frames queued on the way
    EXPECT_EQ(next(0), 1001) << "0 counts as either kind";
    EXPECT_EQ(next(kBoth), 1002);
    EXPECT_EQ(next(kBoth), -1);
}

TEST_F(Streams, UnitKindZeroIsDecidedByTheFrameNumber)
{
    control->units = {video(5, 5), audio(9), {0, 0x2F, 0, 16, 8}, {3, UnitVideoPluginOnly, 0, 16, 3},
                      {0, 0x35, 0, 16, 35}, {0, 0x70, 0, 16, 70}};
    ASSERT_NE(open(), nullptr);
    ASSERT_EQ(LbrReadStream(stream, kBoth, record.get()), 1);
    EXPECT_EQ(record->unitKind, UnitVideo);
    ASSERT_EQ(LbrReadStream(stream, kBoth, record.get()), 1);
    EXPECT_EQ(record->unitKind, UnitAudio);
    ASSERT_EQ(LbrReadStream(stream, kBoth, record.get()), 1);
    EXPECT_EQ(record->unitKind, 0x2F) << "a plugin's own kind is kept";
    ASSERT_EQ(LbrReadStream(stream, LBR_WANT_VIDEO, record.get()), 1);
    EXPECT_EQ(record->unitKind, UnitVideoPluginOnly);
    // Interleaved SPU ADPCM and PCM kinds carry bit 0x10 too, and are still sound.
    EXPECT_EQ(LbrReadStream(stream, LBR_WANT_VIDEO, record.get()), 0);
    EXPECT_EQ(next(LBR_WANT_AUDIO), 35);
    EXPECT_EQ(next(LBR_WANT_AUDIO), 70);
}

TEST_F(Streams, AskingForAKindTheModeExcludesDrainsTheStream)
{
    control->units = {video(1, 1), audio(11), video(2, 2), audio(12)};
    ASSERT_NE(open(LBR_WANT_AUDIO), nullptr);
    EXPECT_EQ(next(LBR_WANT_VIDEO), -1);
    EXPECT_EQ(control->readCalls, 5);
    EXPECT_EQ(next(LBR_WANT_AUDIO), 11);
    EXPECT_EQ(next(LBR_WANT_AUDIO), 12);
    EXPECT_EQ(next(kBoth), -1);
}

TEST_F(Streams, SwitchingSoundOffDropsNewUnitsButKeepsQueuedOnes)
{
    control->units = {audio(11), video(1, 1), audio(12), video(2, 2), audio(13)};
    ASSERT_NE(open(), nullptr);
    EXPECT_EQ(next(LBR_WANT_VIDEO), 1001);  // audio 11 queued
    EXPECT_EQ(LbrSetOpenFlags(stream, LBR_WANT_AUDIO, 0), 1);
    EXPECT_EQ(next(LBR_WANT_VIDEO), 1002);  // audio 12 dropped
    EXPECT_EQ(LbrSetOpenFlags(stream, LBR_WANT_AUDIO, LBR_WANT_AUDIO), 1);
    EXPECT_EQ(next(LBR_WANT_AUDIO), 11);
    EXPECT_EQ(next(LBR_WANT_AUDIO), 13);
    EXPECT_EQ(next(kBoth), -1);
}

TEST_F(Streams, KindsTheStreamLacksCannotBeSwitchedOn)
{
    info.channels = 0;
    control->units = {video(1, 1), audio(11), video(2, 2)};
    ASSERT_NE(open(LBR_WANT_VIDEO), nullptr);
    EXPECT_EQ(LbrSetOpenFlags(stream, kBoth, kBoth), 1);
    EXPECT_EQ(next(kBoth), 1001);
    EXPECT_EQ(next(kBoth), 1002) << "the sound unit stays dropped";
    EXPECT_EQ(next(kBoth), -1);
}

TEST_F(Streams, SeekFlushesBothQueues)
{
    control->units = {audio(11), video(1, 1), audio(12), video(2, 2)};
    ASSERT_NE(open(), nullptr);
    EXPECT_EQ(next(LBR_WANT_VIDEO), 1001);
    EXPECT_EQ(LbrSeekStream(stream, LBR_SEEK_FLUSH_ONLY), 1);
    EXPECT_EQ(control->seekCalls, 0) << "flush only: the plugin is not asked";
    EXPECT_EQ(next(LBR_WANT_AUDIO), 12) << "audio 11 was flushed";

    EXPECT_EQ(next(LBR_WANT_AUDIO), -1);  // video 2 queued, then the end
    EXPECT_EQ(LbrSeekStream(stream, 1500), 1);
    EXPECT_EQ(control->seekCalls, 1);
    EXPECT_EQ(control->lastSeekMs, 1500u);
    EXPECT_EQ(next(kBoth), 11) << "the test plugin restarts on a seek; video 2 was flushed";

    control->seekResult = 0;
    EXPECT_EQ(LbrSeekStream(stream, 10), 0);
}

TEST_F(Streams, OwnedUnitsGoBackToThePluginOnEveryPath)
{
    const ScriptedUnit ownedAudio{0, 0, UnitOwned, 100, 21};
    const ScriptedUnit ownedVideo{1, 0, UnitOwned, 200, 22};
    control->units = {ownedAudio, ownedVideo, ownedAudio, ownedVideo, ownedAudio, ownedAudio, ownedVideo};
    ASSERT_NE(open(), nullptr);

    // Handed out: the caller releases it; the block is intact behind the reference.
    ASSERT_EQ(LbrReadStream(stream, LBR_WANT_AUDIO, record.get()), 1);
    EXPECT_EQ(record->payloadBytes, PSR_OWNED_REF_BYTES);
    ASSERT_EQ(PsrOwnedBlockSize(record.get()), 100u);
    EXPECT_EQ(static_cast<uint8_t*>(PsrOwnedBlock(record.get()))[99], 21);
    EXPECT_EQ(LbrFreeReadBuffer(stream, record.get()), 1);
    EXPECT_EQ(control->ownedOutstanding, 0);

    // Queued, then flushed by a seek.
    ASSERT_EQ(LbrReadStream(stream, LBR_WANT_AUDIO, record.get()), 1);  // video queued on the way
    LbrFreeReadBuffer(stream, record.get());
    EXPECT_EQ(control->ownedOutstanding, 1);
    EXPECT_EQ(LbrSeekStream(stream, LBR_SEEK_FLUSH_ONLY), 1);
    EXPECT_EQ(control->ownedOutstanding, 0);

    // Dropped because sound is off (the two sound units before the last frame).
    EXPECT_EQ(LbrSetOpenFlags(stream, LBR_WANT_AUDIO, 0), 1);
    ASSERT_EQ(LbrReadStream(stream, LBR_WANT_VIDEO, record.get()), 1);
    LbrFreeReadBuffer(stream, record.get());
    ASSERT_EQ(LbrReadStream(stream, LBR_WANT_VIDEO, record.get()), 1);
    LbrFreeReadBuffer(stream, record.get());
    EXPECT_EQ(control->ownedOutstanding, 0);
    EXPECT_EQ(LbrSetOpenFlags(stream, LBR_WANT_AUDIO, LBR_WANT_AUDIO), 1);

    // Queued at close: TearDown checks that close released it.
    control->units.push_back(ownedAudio);
    control->units.push_back(ownedVideo);
    ASSERT_EQ(LbrReadStream(stream, LBR_WANT_VIDEO, record.get()), 1);
    LbrFreeReadBuffer(stream, record.get());
    EXPECT_EQ(control->ownedOutstanding, 1);
}

TEST_F(Streams, ReleaseWithoutThePluginsFreeExport)
{
    pluginControl("FileOnly.psr");
    StreamState* plain = LbrOpenStream("FileOnly.psr", "movie.str", 0, &info, kBoth);
    ASSERT_NE(plain, nullptr);
    Record owned;
    std::memset(owned.bytes, 0, sizeof owned.bytes);
    EXPECT_EQ(LbrFreeReadBuffer(plain, owned.get()), 1) << "nothing to free";
    owned->unitFlags = UnitOwned;
    EXPECT_EQ(LbrFreeReadBuffer(plain, owned.get()), 0);
    LbrCloseStream(plain);
}

TEST_F(Streams, ClosedAndForeignStreamsGiveFailureValues)
{
    ASSERT_NE(open(), nullptr);
    StreamState* stale = stream;
    ASSERT_EQ(LbrCloseStream(stream), 1);
    stream = nullptr;
    int dummy = 0;
    auto* foreign = reinterpret_cast<StreamState*>(&dummy);
    for (StreamState* s : {static_cast<StreamState*>(nullptr), stale, foreign}) {
        EXPECT_EQ(LbrCloseStream(s), 0);
        EXPECT_EQ(LbrReadStream(s, kBoth, record.get()), 0);
        EXPECT_EQ(LbrFreeReadBuffer(s, record.get()), 0);
        EXPECT_EQ(LbrSeekStream(s, 0), 0);
        EXPECT_EQ(LbrGetStreamInfo(s), nullptr);
        EXPECT_EQ(LbrGetPluginHandle(s), nullptr);
        EXPECT_EQ(LbrSetOpenFlags(s, 1, 1), 0);
    }
    EXPECT_EQ(control->seekCalls, 0);
}

TEST_F(Streams, TwoThreadsShareTheStreamAndEveryUnitArrivesOnce)
{
    constexpr int kFrames = 400;
    for (int i = 1; i <= kFrames; ++i) {
        control->units.push_back(video(uint32_t(i), uint8_t(i)));
        control->units.push_back(audio(uint8_t(i)));
        control->units.push_back(audio(uint8_t(i + 1)));
    }
    ASSERT_NE(open(), nullptr);
    auto drain = [this](uint32_t wanted, std::vector<uint32_t>& seen) {
        Record own;
        while (LbrReadStream(stream, wanted, own.get())) {
            seen.push_back(own->frameNumber ? own->frameNumber : own->payload[0]);
            LbrFreeReadBuffer(stream, own.get());
        }
    };
    std::vector<uint32_t> frames, sounds;
    std::thread videoThread(drain, LBR_WANT_VIDEO, std::ref(frames));
    std::thread audioThread(drain, LBR_WANT_AUDIO, std::ref(sounds));
    videoThread.join();
    audioThread.join();
    ASSERT_EQ(frames.size(), size_t(kFrames));
    for (int i = 0; i < kFrames; ++i)
        EXPECT_EQ(frames[size_t(i)], uint32_t(i + 1));
    EXPECT_EQ(sounds.size(), size_t(2 * kFrames)) << "no unit lost or doubled";
}

} // namespace
