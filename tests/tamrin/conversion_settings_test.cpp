// The plain conversion settings the main window hands the batch dialog: default output names and
// the items built from the stream list's entries.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "conversion_settings.h"

namespace {

using tamrin::ConversionEntry;
using tamrin::TypeSettings;

ConversionEntry entry(int32_t type, const std::string& title, const std::string& output = {})
{
    ConversionEntry made;
    made.source.plugin = "Filmfile.psr";
    made.source.file = "/discs/" + title + ".str";
    made.source.title = title;
    made.source.info.width = 320;
    made.source.info.height = 240;
    made.source.info.channels = 1;
    made.source.info.sampleRate = 18900;
    made.type = type;
    made.output = output;
    return made;
}

TEST(ConversionSettings, ItemsTakeTheEntriesToConvertWithDefaultNamesAndRecords)
{
    TypeSettings types[PLB_CONV_TYPES];
    types[PLB_CONV_TYPE_WAVE].folder = "/out/wave";
    types[PLB_CONV_TYPE_AVI].folder = "/out/avi";
    PlbBitmapSettings small{};
    small.width = 80;
    small.height = 60;
    types[PLB_CONV_TYPE_BMP].record.assign(reinterpret_cast<uint8_t*>(&small),
                                           reinterpret_cast<uint8_t*>(&small) + sizeof small);
    types[PLB_CONV_TYPE_BMP].folder = "/out";

    std::vector<ConversionEntry> entries{entry(PLB_CONV_TYPE_WAVE, "OPENING"), entry(PLB_CONV_TYPE_NONE, "SKIP"),
                                         entry(PLB_CONV_TYPE_WAVE, "OPENING"),
                                         entry(PLB_CONV_TYPE_AVI, "ENDING", "/chosen/end.avi"),
                                         entry(PLB_CONV_TYPE_BMP, "TITLE"), entry(PLB_CONV_TYPE_WAVE, "DONE")};
    entries[5].done = true;
    std::vector<size_t> indexes;
    const auto items = tamrin::batchItems(entries, types, indexes);
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(indexes, (std::vector<size_t>{0, 2, 3, 4}));
    EXPECT_EQ(items[0].output, "/out/wave/OPENING.wav");
    EXPECT_EQ(items[1].output, "/out/wave/OPENING (2).wav") << "two outputs of one batch never share a name";
    EXPECT_EQ(items[2].output, "/chosen/end.avi");
    EXPECT_EQ(items[3].output, "/out/TITLE.bmp");

    PlbWaveSettings wave{};
    ASSERT_EQ(items[0].settings.size(), sizeof wave);
    std::memcpy(&wave, items[0].settings.data(), sizeof wave);
    EXPECT_EQ(wave.sampleRate, 18900u);
    EXPECT_EQ(wave.channels, 1);
    EXPECT_EQ(wave.bitsPerSample, 16);
    PlbAviSettings avi{};
    ASSERT_EQ(items[2].settings.size(), sizeof avi);
    std::memcpy(&avi, items[2].settings.data(), sizeof avi);
    EXPECT_EQ(avi.width, 320u);
    EXPECT_EQ(avi.audio, 0u) << "the stream has no sound";
    EXPECT_EQ(items[3].settings, types[PLB_CONV_TYPE_BMP].record) << "the type's own record";
}

TEST(ConversionSettings, NoNameForAPathTooLongOrAnUnknownType)
{
    std::set<std::string> taken;
    TypeSettings settings;
    settings.folder = "/" + std::string(5000, 'f');
    EXPECT_EQ(tamrin::defaultOutputPath(PLB_CONV_TYPE_WAVE, settings, "T", "", taken), "");
    settings.folder = "/out";
    EXPECT_EQ(tamrin::defaultOutputPath(PLB_CONV_TYPE_NONE, settings, "T", "", taken), "");
    EXPECT_TRUE(taken.empty());
}

} // namespace

namespace {

using tamrin::OptionsEnvironment;
using tamrin::TamrinOptions;

// The records the options give a stream: 0 takes the source's value, the rest is the options'.
TEST(ConversionSettings, RecordsOfTheOptionsFollowTheSourceWhereTheyAskIt)
{
    StrInfo stereo{};
    stereo.kind = StrVideo | StrAudio;
    stereo.width = 160;
    stereo.height = 112;
    stereo.channels = 2;
    stereo.sampleRate = 37800;
    StrInfo mono = stereo;
    mono.channels = 1;
    mono.sampleRate = 18900;
    struct Case
    {
        uint8_t channels;
        int16_t bits;
        int32_t rate;
        const StrInfo* source;
        uint16_t wantChannels, wantBits;
        uint32_t wantRate;
    };
    const Case cases[] = {
        {0, 0, 0, &stereo, 2, 16, 37800},   {0, 0, 0, &mono, 1, 16, 18900},
        {1, 8, 22050, &stereo, 1, 8, 22050}, {2, 16, 44100, &mono, 2, 16, 44100},
        {7, 12, -5, &mono, 1, 16, 18900}, // values no converter takes fall back to the source's
    };
    OptionsEnvironment environment;
    environment.baseFolder = "/base";
    environment.createFolders = false;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.channels) << "/" << c.bits << "/" << c.rate);
        TamrinOptions options = tamrin::defaultOptions(environment);
        options.aviChannels = options.waveChannels = c.channels;
        options.aviBitsPerSample = options.waveBitsPerSample = c.bits;
        options.aviSampleRate = options.waveSampleRate = c.rate;
        const PlbAviSettings avi = tamrin::aviRecord(options, *c.source);
        const PlbWaveSettings wave = tamrin::waveRecord(options, *c.source);
        for (auto [channels, bits, rate] : {std::tuple{avi.channels, avi.bitsPerSample, avi.sampleRate},
                                            std::tuple{wave.channels, wave.bitsPerSample, wave.sampleRate}}) {
            EXPECT_EQ(channels, c.wantChannels);
            EXPECT_EQ(bits, c.wantBits);
            EXPECT_EQ(rate, c.wantRate);
        }
        EXPECT_EQ(avi.width, 160u);
        EXPECT_NE(avi.audio, 0u);
        options.aviNoAudio = 1;
        EXPECT_EQ(tamrin::aviRecord(options, *c.source).audio, 0u);
    }

    TamrinOptions options = tamrin::defaultOptions(environment);
    options.mp3BitRate = int16_t(PLB_MP3_VBR | 3);
    options.mp3Format = 2;
    options.mp3ChannelMode = 3;
    options.mp3Emphasis = 1;
    EXPECT_EQ(tamrin::mp3Record(options, stereo).bitRate, PLB_MP3_VBR | 3);
    EXPECT_EQ(tamrin::mp3Record(options, stereo).channelMode, 3);
    EXPECT_EQ(tamrin::mp3Record(options, mono).channelMode, 0) << "a mono source is encoded mono";
    EXPECT_EQ(tamrin::mp3Record(options, stereo).outputFormat, 2);
    EXPECT_EQ(tamrin::mp3Record(options, stereo).emphasis, 1);

    // Folders by type: the movie folders, the audio folder shared by WAVE and MIDI, MP3's own.
    tamrin::setFieldText(options.aviFolder, "/a");
    tamrin::setFieldText(options.waveFolder, "/w");
    tamrin::setFieldText(options.mp3Folder, "/m");
    tamrin::setFieldText(options.cstrFolder, "/c");
    tamrin::setFieldText(options.bmpFolder, "/b");
    const char* want[PLB_CONV_TYPES] = {"/a", "/w", "/c", "/b", "/w", "/m"};
    TypeSettings types[PLB_CONV_TYPES];
    tamrin::typeSettingsFromOptions(options, types);
    for (int32_t type = 0; type < PLB_CONV_TYPES; ++type) {
        EXPECT_EQ(types[type].folder, want[type]) << type;
        EXPECT_EQ(types[type].mp3Format, 2);
    }
    EXPECT_EQ(tamrin::typeFolder(options, PLB_CONV_TYPE_NONE), "");
}

} // namespace
