#include <cstring>
#include <fstream>
#include <string>

#include "plugin_fixture.h"

namespace {

struct BindingCase
{
    const char* name;
    bool accepted;
};

TEST(Binding, AcceptsOnlyPluginsWithACompleteSetOfExports)
{
    const BindingCase cases[] = {
        {"TestFull.psr", true},
        {"FileOnly.psr", true},
        {"Bare.psr", true},          // neither file nor disc: bound, but offers nothing
        {"NoRead.psr", false},       // a required export missing
        {"FileNoInfo.psr", false},   // opens files but cannot describe them
        {"CdNoResult.psr", false},   // opens discs but cannot report a scan
        {"Junk.psr", false},         // not a shared object
        {"Missing.psr", false},
    };
    for (const auto& c : cases) {
        PluginBinding* binding = LbrOpenPSR(c.name);
        EXPECT_EQ(binding != nullptr, c.accepted) << c.name;
        if (binding) {
            EXPECT_EQ(LbrClosePSR(binding), 1);
        }
    }
}

TEST(Binding, RefusesNamesThatAreNotPluginFileNames)
{
    EXPECT_EQ(LbrOpenPSR(nullptr), nullptr);
    EXPECT_EQ(LbrOpenPSR(""), nullptr);
    EXPECT_EQ(LbrOpenPSR(TEST_PLUGIN_DIR "/TestFull.psr"), nullptr);  // a path, not a name
    EXPECT_EQ(LbrOpenPSR("../testplug/TestFull.psr"), nullptr);
    const std::string tooLong(PSR_PATH_MAX, 'x');
    EXPECT_EQ(LbrOpenPSR(tooLong.c_str()), nullptr);
    EXPECT_EQ(LbrOpenPSR((std::string(300, 'a') + ".psr").c_str()), nullptr);
}

TEST(Binding, CapsAndPresetMediaFlagsFollowTheExports)
{
    struct
    {
        const char* name;
        uint32_t caps;
        uint16_t preset;
    } cases[] = {
        {"TestFull.psr", CapFile | CapCd | CapDecodeFrame | CapDecodeAudio | CapSetEnvironment | CapDecodeBs,
         MediaRawSectors | MediaFiles},
        {"FileOnly.psr", CapFile, MediaFiles},
        {"Bare.psr", 0, 0},
    };
    for (const auto& c : cases) {
        TestPluginControl& control = pluginControl(c.name);
        PsrPluginInfo info;
        std::memset(&info, 0xAB, sizeof info);
        EXPECT_EQ(LbrQueryPlugin(c.name, &info), c.caps) << c.name;
        EXPECT_EQ(control.mediaFlagsPreset, c.preset) << c.name;
        EXPECT_STREQ(info.name, "Test plugin");
        EXPECT_EQ(info.version, 101);
        EXPECT_EQ(info.reserved2, 0) << "the host clears the record before the plugin fills it";
    }
}

TEST(Binding, QueryOfSomethingThatIsNoPluginLeavesTheRecordAlone)
{
    for (const char* name : {"Junk.psr", "NoRead.psr", "Missing.psr"}) {
        PsrPluginInfo info;
        std::memset(&info, 0x5A, sizeof info);
        EXPECT_EQ(LbrQueryPlugin(name, &info), 0u) << name;
        const auto* bytes = reinterpret_cast<const uint8_t*>(&info);
        EXPECT_TRUE(std::all_of(bytes, bytes + sizeof info, [](uint8_t b) { return b == 0x5A; })) << name;
    }
}

TEST(Binding, ReportsThePluginsOwnFileName)
{
    PluginBinding* binding = LbrOpenPSR("FileOnly.psr");
    ASSERT_NE(binding, nullptr);
    char name[PSR_PATH_MAX];
    std::memset(name, 'z', sizeof name);
    EXPECT_EQ(LbrGetPlugin(binding, nullptr, name), uint32_t(CapFile));
    EXPECT_STREQ(name, "FileOnly.psr");
    EXPECT_NE(LbrGetPluginInst(binding), nullptr);
    LbrClosePSR(binding);
}

TEST(Binding, SeveralBindingsOfOnePluginLiveSideBySide)
{
    PluginBinding* first = LbrOpenPSR("TestFull.psr");
    PluginBinding* second = LbrOpenPSR("TestFull.psr");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(LbrClosePSR(first), 1);
    EXPECT_EQ(LbrIsSupportFile(second, "accept.me"), 1) << "closing one binding leaves the other live";
    EXPECT_EQ(LbrClosePSR(second), 1);
}

TEST(Relays, DeadOrNullBindingsGiveFailureValues)
{
    PluginBinding* stale = LbrOpenPSR("TestFull.psr");
    ASSERT_NE(stale, nullptr);
    ASSERT_EQ(LbrClosePSR(stale), 1);
    int dummy = 0;
    auto* foreign = reinterpret_cast<PluginBinding*>(&dummy);
    StrInfo info{};
    const CdTocEntry track{};
    const uint8_t sector[2352] = {};
    for (PluginBinding* b : {static_cast<PluginBinding*>(nullptr), stale, foreign}) {
        EXPECT_EQ(LbrClosePSR(b), 0);
        EXPECT_EQ(LbrGetPlugin(b, nullptr, nullptr), 0u);
        EXPECT_EQ(LbrGetPluginInst(b), nullptr);
        EXPECT_EQ(LbrSetEnvironment(b, nullptr), 0);
        EXPECT_EQ(LbrIsSupportFile(b, "accept"), 0);
        EXPECT_EQ(LbrIsSupportCDBegin(b, 1, &track), nullptr);
        EXPECT_EQ(LbrIsSupportCDSector(b, nullptr, track, 1, sector), 0);
        EXPECT_EQ(LbrIsSupportCDResult(b, nullptr, 0, &info), -1);
        LbrIsSupportCDEnd(b, nullptr);
        EXPECT_EQ(LbrGetStrFileInfo(b, "accept", &info), 0);
        EXPECT_EQ(LbrGetStrDataInfo(b, 0, 0, 10, &info), -1);
    }
}

TEST(Relays, MissingOptionalExportsGiveFailureValuesWithoutACall)
{
    TestPluginControl& control = pluginControl("FileOnly.psr");
    PluginBinding* b = LbrOpenPSR("FileOnly.psr");
    ASSERT_NE(b, nullptr);
    StrInfo info{};
    const CdTocEntry track{};
    EXPECT_EQ(LbrSetEnvironment(b, nullptr), 0);
    EXPECT_EQ(LbrIsSupportCDBegin(b, 1, &track), nullptr);
    EXPECT_EQ(LbrIsSupportCDSector(b, nullptr, track, 0, nullptr), 0);
    EXPECT_EQ(LbrIsSupportCDResult(b, nullptr, 0, nullptr), -1);
    EXPECT_EQ(LbrGetStrDataInfo(b, 0, 0, 1, &info), -1);
    EXPECT_EQ(control.setEnvironmentCalls, 0);
    LbrClosePSR(b);
}

TEST(Relays, PassArgumentsAndAnswersThrough)
{
    TestPluginControl& control = pluginControl("TestFull.psr");
    PluginBinding* b = LbrOpenPSR("TestFull.psr");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(LbrIsSupportFile(b, "please-accept.str"), 1);
    EXPECT_EQ(LbrIsSupportFile(b, "other.str"), 0);
    EXPECT_EQ(LbrSetEnvironment(b, nullptr), 1);
    EXPECT_EQ(control.setEnvironmentCalls, 1);

    CdTocEntry tracks[2] = {};
    tracks[0].track = 1;
    tracks[0].control = CD_TOC_DATA_TRACK;
    EXPECT_EQ(LbrIsSupportCDBegin(b, 0, tracks), nullptr);
    void* context = LbrIsSupportCDBegin(b, 2, tracks);
    ASSERT_NE(context, nullptr);
    uint8_t sector[2352] = {7};
    EXPECT_EQ(LbrIsSupportCDSector(b, context, tracks[0], 100, sector), 108);
    EXPECT_EQ(LbrIsSupportCDSector(b, context, tracks[0], 0, nullptr), 0);
    control.cdResultCount = 2;
    EXPECT_EQ(LbrIsSupportCDResult(b, context, 0, nullptr), 2);
    StrInfo info{};
    EXPECT_EQ(LbrIsSupportCDResult(b, context, 2, &info), -1);
    LbrIsSupportCDEnd(b, context);
    LbrClosePSR(b);
}

// ---- display size ------------------------------------------------------------------------

TEST(DisplaySize, RuleAtItsBoundaries)
{
    struct
    {
        int32_t w, h, outW, outH, changed;
    } cases[] = {
        {600, 240, 600, 480, 1},  // exactly 2.5 : 1
        {601, 240, 300, 240, 1},  // wider than 600: halve the width (toward zero)
        {599, 240, 599, 240, 0},  // just below 2.5 : 1
        {640, 240, 320, 240, 1},
        {320, 112, 320, 224, 1},
        {320, 240, 320, 240, 0},
        {0, 0, 0, 0, 1},          // 0 < 0 is false: the height doubles, to 0
    };
    for (const auto& c : cases) {
        int32_t size[2] = {c.w, c.h};
        EXPECT_EQ(LbrGetOutputFrameSize(size), c.changed) << c.w << "x" << c.h;
        EXPECT_EQ(size[0], c.outW) << c.w << "x" << c.h;
        EXPECT_EQ(size[1], c.outH) << c.w << "x" << c.h;
    }
    EXPECT_EQ(LbrGetOutputFrameSize(nullptr), 0);
}

class InfoPostProcessing : public ::testing::Test
{
protected:
    void SetUp() override
    {
        control = &pluginControl("TestFull.psr");
        binding = LbrOpenPSR("TestFull.psr");
        ASSERT_NE(binding, nullptr);
    }
    void TearDown() override { LbrClosePSR(binding); }

    StrInfo describe(uint16_t kind, uint32_t w, uint32_t h, uint32_t outW = 0, uint32_t outH = 0)
    {
        control->fileInfo = StrInfo{};
        control->fileInfo.kind = kind;
        control->fileInfo.width = w;
        control->fileInfo.height = h;
        control->fileInfo.outWidth = outW;
        control->fileInfo.outHeight = outH;
        StrInfo info{};
        lastResult = LbrGetStrFileInfo(binding, "accept", &info);
        return info;
    }

    TestPluginControl* control = nullptr;
    PluginBinding* binding = nullptr;
    int32_t lastResult = 0;
};

TEST_F(InfoPostProcessing, MovieGetsItsDisplaySize)
{
    StrInfo info = describe(StrVideo | StrAudio, 640, 240);
    EXPECT_EQ(lastResult, 1);
    EXPECT_EQ(info.outWidth, 320u);
    EXPECT_EQ(info.outHeight, 240u);
    info = describe(StrVideo, 320, 112);
    EXPECT_EQ(info.outWidth, 320u);
    EXPECT_EQ(info.outHeight, 224u);
}

TEST_F(InfoPostProcessing, StillPictureKeepsItsCodedSize)
{
    const StrInfo info = describe(StrStill, 640, 240);
    EXPECT_EQ(info.outWidth, 640u);
    EXPECT_EQ(info.outHeight, 240u);
}

TEST_F(InfoPostProcessing, GivenDisplaySizeAndSoundAreLeftAlone)
{
    StrInfo info = describe(StrVideo, 640, 240, 500, 400);
    EXPECT_EQ(info.outWidth, 500u);
    EXPECT_EQ(info.outHeight, 400u);
    info = describe(StrAudio, 640, 240);
    EXPECT_EQ(info.outWidth, 0u);
    EXPECT_EQ(info.outHeight, 0u);
    // One display field missing: both are taken from the coded size.
    info = describe(StrVideo, 320, 240, 500, 0);
    EXPECT_EQ(info.outWidth, 320u);
    EXPECT_EQ(info.outHeight, 240u);
}

TEST_F(InfoPostProcessing, FailedDescriptionIsPassedOnUntouched)
{
    control->fileInfoResult = 0;
    const StrInfo info = describe(StrVideo, 640, 240);
    EXPECT_EQ(lastResult, 0);
    EXPECT_EQ(info.outWidth, 0u) << "the host leaves the fields as the plugin left them";
    EXPECT_EQ(info.width, 640u);
    StrInfo disc{};
    EXPECT_EQ(LbrGetStrDataInfo(binding, 0, 0, 1, &disc), 0) << "plugin answered 0";
    control->fileInfoResult = 1;
    EXPECT_EQ(LbrGetStrDataInfo(binding, 0, 0, 1, nullptr), 0) << "no record to fill";
    EXPECT_EQ(LbrGetStrFileInfo(binding, "accept", nullptr), 0) << "no record to fill";
}

TEST_F(InfoPostProcessing, AppliesToDiscDescriptionsAndScanResults)
{
    describe(StrVideo, 640, 240);
    StrInfo info{};
    EXPECT_EQ(LbrGetStrDataInfo(binding, 0, 16, 100, &info), 1);
    EXPECT_EQ(info.outWidth, 320u);
    CdTocEntry track{};
    void* context = LbrIsSupportCDBegin(binding, 1, &track);
    StrInfo result{};
    EXPECT_EQ(LbrIsSupportCDResult(binding, context, 0, &result), 1);
    EXPECT_EQ(result.outWidth, 320u);
    EXPECT_EQ(result.outHeight, 240u);
    LbrIsSupportCDEnd(binding, context);
}

// ---- debug log ---------------------------------------------------------------------------

std::string readDebugLog()
{
    std::ifstream in(std::string(std::getenv("TAMRIN_HOME")) + "/debug.TXT");
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(DebugLog, WritesOnlyWhenSwitchedOnAndBoundsTheMessage)
{
    ASSERT_NE(std::getenv("TAMRIN_HOME"), nullptr) << "tests run with their own home folder";
    std::remove((std::string(std::getenv("TAMRIN_HOME")) + "/debug.TXT").c_str());
    EXPECT_EQ(LbrSETDEBUG(0), 0);
    EXPECT_EQ(LbrDEBUG("silent %d\n", 1), 0);
    EXPECT_EQ(readDebugLog(), "");
    EXPECT_EQ(LbrSETDEBUG(1), 1);
    EXPECT_EQ(LbrDEBUG("frame %d of %s\n", 3, "movie"), 1);
    const std::string huge(2000, 'q');
    EXPECT_EQ(LbrDEBUG("%s", huge.c_str()), 1);
    LbrSETDEBUG(0);
    const std::string log = readDebugLog();
    EXPECT_EQ(log, "frame 3 of movie\n" + std::string(511, 'q'));
}

} // namespace
