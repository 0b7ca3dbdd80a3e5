// No exception leaves the library: with the heap exhausted, every export answers with its
// failure value, and the library works again afterwards.
#include <cstdlib>
#include <string>

#include "allocation_probe.h"
#include "mdec_frame_builder.h"
#include "plugin_fixture.h"

namespace {

using testsupport::withFailingAllocations;

TEST(ExportGuard, BindingsAndStreamsFailCleanlyWithoutMemory)
{
    pluginControl("TestFull.psr");
    StrInfo info{};
    info.kind = StrVideo;
    info.frameCount = 1;
    PluginBinding* binding = reinterpret_cast<PluginBinding*>(1);
    uint32_t caps = 1;
    StreamState* stream = reinterpret_cast<StreamState*>(1);
    PsrPluginInfo described{};
    EXPECT_NO_THROW(withFailingAllocations([&] {
        binding = LbrOpenPSR("TestFull.psr");
        caps = LbrQueryPlugin("TestFull.psr", &described);
        stream = LbrOpenStream("TestFull.psr", "movie.str", 0, &info, LBR_WANT_VIDEO);
    }));
    EXPECT_EQ(binding, nullptr);
    EXPECT_EQ(caps, 0u);
    EXPECT_EQ(stream, nullptr);

    // Nothing was left half made: the same calls succeed once memory is back.
    binding = LbrOpenPSR("TestFull.psr");
    EXPECT_NE(binding, nullptr);
    EXPECT_EQ(LbrClosePSR(binding), 1);
    stream = LbrOpenStream("TestFull.psr", "movie.str", 0, &info, LBR_WANT_VIDEO);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(LbrCloseStream(stream), 1);
}

TEST(ExportGuard, DecodingAndLoggingFailCleanlyWithoutMemory)
{
    pluginControl("TestFull.psr");
    StrInfo info{};
    info.kind = StrVideo;
    info.frameCount = 1;
    StreamState* stream = LbrOpenStream("TestFull.psr", "movie.str", 0, &info, LBR_WANT_VIDEO);
    ASSERT_NE(stream, nullptr);
    // A frame larger than any before on this stream: its code buffer must be allocated.
    const std::vector<uint8_t> payload = dcOnlyFrame(20, {0});
    std::vector<uint8_t> bytes(PSR_READ_HEADER_BYTES + payload.size());
    auto* unit = reinterpret_cast<PsrReadRecord*>(bytes.data());
    unit->frameNumber = 1;
    unit->width = 16 * 20;
    unit->height = 16;
    unit->unitKind = UnitVideo;
    unit->payloadBytes = uint32_t(payload.size());
    std::copy(payload.begin(), payload.end(), unit->payload);

    FrameDib* picture = reinterpret_cast<FrameDib*>(1);
    int32_t logged = 1;
    LbrSETDEBUG(1);
    EXPECT_NO_THROW(withFailingAllocations([&] {
        picture = LbrDecodeFrame(stream, unit, 24, 0, nullptr);
        logged = LbrDEBUG("%s\n", "no memory");
    }));
    LbrSETDEBUG(0);
    EXPECT_EQ(picture, nullptr);
    EXPECT_EQ(logged, 0);

    picture = LbrDecodeFrame(stream, unit, 24, 0, nullptr);
    EXPECT_NE(picture, nullptr);
    LbrFreeBitmap(picture);
    LbrCloseStream(stream);
}

} // namespace
