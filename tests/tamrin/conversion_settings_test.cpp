// The plain conversion settings the main window hands the batch dialog: default output names and
// the items built from the stream list's entries.
#include <gtest/gtest.h>

#include <cstring>

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
