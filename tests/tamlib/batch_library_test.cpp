// A batch on the library's own converters: a movie of tests/data converted to AVI through the
// batch's default record, judged by ffprobe, and what the estimate learned from it.
#include <gtest/gtest.h>

#include <cstdio>

#include "scratch_folder.h"
#include "streamkit/lbr.h"
#include "tamlib/batch.h"

namespace {

TEST(BatchLibrary, ConvertsAMovieWithTheDefaultRecordOfItsType)
{
    testsupport::ScratchFolder folder("batch");
    tamlib::batch::Item item;
    item.source.plugin = "Filmfile.psr";
    item.source.file = std::string(TAMRIN_TEST_DATA) + "/movies/mv4_v3_160x112_15fps_x1_xa37800s.str";
    PluginBinding* binding = LbrOpenPSR("Filmfile.psr");
    ASSERT_TRUE(binding);
    ASSERT_EQ(LbrGetStrFileInfo(binding, item.source.file.c_str(), &item.source.info), 1);
    LbrClosePSR(binding);
    item.type = PLB_CONV_TYPE_AVI;
    item.output = (folder.path() / "movies" / "half.avi").string();
    PlbAviSettings settings{};
    settings.width = item.source.info.width / 2;
    settings.height = item.source.info.height / 2;
    settings.frameRate = item.source.info.frameRate;
    settings.stretchMode = 4;

    tamlib::batch::Batch batch;
    ASSERT_TRUE(batch.setDefaults(PLB_CONV_TYPE_AVI, &settings, sizeof settings));
    ASSERT_TRUE(batch.add(item));
    uint32_t percent = 0;
    ASSERT_EQ(batch.run([&](const PlbBatchStatus& s) {
        if (s.event == PLB_BATCH_PROGRESS) {
            EXPECT_GE(s.percent, percent);
        }
        percent = s.percent;
    }),
              tamlib::batch::Batch::Outcome::Completed);
    EXPECT_EQ(batch.items()[0].result, PLB_CONV_OK);
    EXPECT_EQ(percent, 100u);

    std::string size;
    if (FILE* pipe =
            ::popen(("ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0 '" +
                     item.output + "' 2>/dev/null")
                        .c_str(),
                    "r")) {
        char buffer[64] = {};
        size = std::fgets(buffer, sizeof buffer, pipe) ? buffer : "";
        ::pclose(pipe);
    }
    EXPECT_EQ(size, std::to_string(settings.width) + "," + std::to_string(settings.height) + "\n");
    const tamlib::batch::TypeStats& avi = batch.estimator().stats(PLB_CONV_TYPE_AVI);
    EXPECT_EQ(avi.doneSize, item.source.info.durationMs);
    EXPECT_NE(avi.unitTime, tamlib::batch::defaultStats(PLB_CONV_TYPE_AVI).unitTime)
        << "the speed was measured";
}

} // namespace
