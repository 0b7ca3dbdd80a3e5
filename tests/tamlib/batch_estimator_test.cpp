// The batch's time estimate on a scripted clock: the guesses it starts from, what an item's first
// report teaches (its start) and the later ones (its speed), the types not measured yet scaled
// alike, when the shown total changes, and a batch of three speeds converging on its length.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "batch_support.h"
#include "scratch_folder.h"

namespace batchtest {
namespace {

using tamlib::batch::Estimator;

TEST(BatchEstimator, GuessesBeforeAnyReportAndForgetsFailedItems)
{
    // One item of 60 s of stream by type, plus 10 s of WAVE: start ms + ms of stream × us per ms.
    const uint32_t remaining[PLB_CONV_TYPES] = {601500, 15100, 30110, 200 + 60, 260, 30500};
    for (int32_t type = 0; type < PLB_CONV_TYPES; ++type) {
        Estimator estimator(scriptedNow);
        estimator.expect(type, 60000);
        estimator.expect(PLB_CONV_TYPE_NONE, 99999); // no conversion: not counted
        estimator.expect(PLB_CONV_TYPE_WAVE, 10000);
        EXPECT_EQ(estimator.remainingMs(), remaining[type] + 2600) << type;
        estimator.beginItem(type, 60000);
        estimator.endItem(PLB_CONV_NO_STREAM);
        EXPECT_EQ(estimator.remainingMs(), 2600u) << type;
        EXPECT_EQ(estimator.stats(type).doneItems, 0u);
    }
}

TEST(BatchEstimator, LearnsTheStartThenTheSpeedAndShowsTheTotalOnceItSettles)
{
    g_now = 1000;
    Estimator estimator(scriptedNow);
    estimator.expect(PLB_CONV_TYPE_AVI, 60000);
    estimator.expect(PLB_CONV_TYPE_WAVE, 10000);
    estimator.beginItem(PLB_CONV_TYPE_AVI, 60000);

    // The first report comes after 3000 ms instead of the guessed 1500: every type that never
    // finished an item is taken as twice as slow, in its start and in its speed.
    g_now = 4000;
    tamlib::batch::Estimate estimate = estimator.report(0, 60000);
    const uint32_t start[] = {3000, 200, 220, 400, 400, 1000}, unit[] = {20000, 500, 1000, 2, 2, 1000};
    for (int32_t type = 0; type < PLB_CONV_TYPES; ++type) {
        EXPECT_EQ(estimator.stats(type).startTime, start[type]) << type;
        EXPECT_EQ(estimator.stats(type).unitTime, unit[type]) << type;
    }
    EXPECT_EQ(estimate.remainingMs, 1208200u); // 60000 × 20 us + 3 s, 10000 × 0.5 us + 0.2 s
    EXPECT_EQ(estimate.totalSeconds, 1211u);
    EXPECT_EQ(estimate.shownSeconds, 0u);

    // Then the item's pace since its first report; the types not measured follow the factor,
    // and the current item counts by its own pace.
    const struct
    {
        uint32_t now, done, aviUnit, waveUnit, bmpUnit;
        bool stable;
        uint32_t remainingMs, shown;
        bool changed;
    } steps[] = {
        {5000, 500, 2000, 50, 1, false, 119700, 0, false},    // 1000 ms for 500: not settled
        {6000, 1000, 2000, 50, 1, true, 118700, 123, true},   // the same pace: shown
        {6900, 1500, 1933, 48, 1, false, 113780, 123, false}, // moved by less than Rm / 10: kept
        {125000, 1600, 0, 0, 0, false, 0, 0, true},           // elapsed past the total: redrawn
    };
    for (const auto& s : steps) {
        g_now = s.now;
        estimate = estimator.report(s.done, 60000);
        EXPECT_EQ(estimate.changed, s.changed) << s.now;
        EXPECT_EQ(estimate.percent, s.done / 600) << s.now;
        if (s.aviUnit == 0) {
            EXPECT_EQ(estimate.shownSeconds, estimate.totalSeconds);
            continue;
        }
        EXPECT_EQ(estimator.stats(PLB_CONV_TYPE_AVI).unitTime, s.aviUnit) << s.now;
        EXPECT_EQ(estimator.stats(PLB_CONV_TYPE_WAVE).unitTime, s.waveUnit) << s.now;
        EXPECT_EQ(estimator.stats(PLB_CONV_TYPE_BMP).unitTime, s.bmpUnit) << s.now;
        EXPECT_EQ(estimate.stable, s.stable) << s.now;
        EXPECT_EQ(estimate.remainingMs, s.remainingMs) << s.now;
        EXPECT_EQ(estimate.shownSeconds, s.shown) << s.now;
    }
}

TEST(BatchEstimator, FinishedItemsWeighTheSpeedAndStopTheScalingOfTheirType)
{
    g_now = 0;
    Estimator estimator(scriptedNow);
    const struct
    {
        uint32_t firstReport, end, aviStart, aviUnit, waveUnit;
    } items[] = {
        {1500, 4500, 1500, 3000, 75}, // as guessed, then 3 us per ms: WAVE 250 × 3000 / 10000
        {6500, 7500, 1500, 2000, 50}, // a slow start not learned; 1 us per ms weighed with 1000 at 3
    };
    for (const auto& i : items) {
        estimator.expect(PLB_CONV_TYPE_AVI, 1000);
        estimator.beginItem(PLB_CONV_TYPE_AVI, 1000);
        g_now = i.firstReport;
        estimator.report(0, 1000);
        g_now = i.end;
        estimator.report(1000, 1000);
        estimator.endItem(PLB_CONV_OK);
        EXPECT_EQ(estimator.stats(PLB_CONV_TYPE_AVI).startTime, i.aviStart);
        EXPECT_EQ(estimator.stats(PLB_CONV_TYPE_AVI).unitTime, i.aviUnit);
        EXPECT_EQ(estimator.stats(PLB_CONV_TYPE_WAVE).unitTime, i.waveUnit);
        EXPECT_EQ(estimator.stats(PLB_CONV_TYPE_WAVE).startTime, 100u);
    }
    EXPECT_EQ(estimator.stats(PLB_CONV_TYPE_AVI).doneSize, 2000u);
}

TEST(BatchEstimator, TicksWrapAroundAndHugeFiguresSaturate)
{
    g_now = 0xFFFFF000u; // 4096 ms before the tick counter wraps
    Estimator estimator(scriptedNow);
    estimator.expect(PLB_CONV_TYPE_AVI, 0xFFFFFFFFu);
    estimator.expect(PLB_CONV_TYPE_AVI, 0xFFFFFFFFu);
    EXPECT_EQ(estimator.stats(PLB_CONV_TYPE_AVI).totalSize, 0xFFFFFFFFu);
    EXPECT_EQ(estimator.remainingMs(), 0xFFFFFFFFu);
    estimator.beginItem(PLB_CONV_TYPE_AVI, 0xFFFFFFFFu);
    g_now = 1500;
    EXPECT_EQ(estimator.report(0, 0xFFFFFFFFu).elapsedMs, 4096u + 1500u);
    g_now += 0x7FFFFFFF;
    EXPECT_EQ(estimator.report(1, 2).percent, 1u);
    EXPECT_EQ(estimator.stats(PLB_CONV_TYPE_AVI).unitTime, 0xFFFFFFFFu);
    EXPECT_EQ(estimator.report(500, 2).percent, 100u);
}

TEST(BatchEstimator, RemainingTimeShowsInTenSecondSteps)
{
    const struct
    {
        uint32_t ms;
        const char* text;
    } cases[] = {
        {0, "10\""},          {9999, "10\""},   {59000, "60\""},         {61000, "01'10\""},
        {3000000, "50'10\""}, {3590000, "60'"}, {3599999, "60'"},        {3600000, "01:10\""},
        {3650000, "01:01'"}, {7199000, "02:"}, {7261000, "02:01'10\""},
    };
    for (const auto& c : cases) {
        char text[16];
        EXPECT_EQ(PlbFormatRemainingTime(c.ms, text, sizeof text), int32_t(std::strlen(c.text)));
        EXPECT_STREQ(text, c.text);
    }
    char small[3];
    EXPECT_EQ(PlbFormatRemainingTime(61000, small, sizeof small), -1);
    EXPECT_EQ(PlbFormatRemainingTime(61000, nullptr, 16), -1);
}

// Items of three types whose true speeds differ tenfold, interleaved, with a spread of 10 %
// within a type: from the middle of the batch on, the total is within 10 % of the true one.
TEST(BatchEstimator, ConvergesOnABatchOfThreeSpeeds)
{
    static const uint32_t start[] = {900, 60, 0, 0, 0, 300}, unitUs[] = {4000, 40, 0, 0, 0, 400};
    static int counter = 0;
    tamlib::batch::Batch batch(scriptedTable([](const Call& call) {
                                   const double spread = 0.9 + 0.1 * (counter++ % 3);
                                   g_now += uint32_t(start[call.type] * spread);
                                   call.report(0, 40000);
                                   for (uint32_t done = 2000; done <= 40000; done += 2000) {
                                       g_now += uint32_t(2000 * unitUs[call.type] * spread / 1000);
                                       call.report(done, 40000);
                                   }
                                   return PLB_CONV_OK;
                               }),
                               scriptedNow);
    const int32_t order[] = {0, 5, 1, 0, 1, 5, 5, 0, 1, 1, 0, 5, 0, 1, 5};
    testsupport::ScratchFolder folder("batch");
    for (int32_t type : order)
        ASSERT_TRUE(batch.add(item(type, (folder.path() / "out").string(), 40000)));
    struct Point
    {
        uint32_t number, elapsedMs, computed, shown;
    };
    std::vector<Point> curve;
    g_now = 5000;
    ASSERT_EQ(batch.run([&](const PlbBatchStatus& s) {
        if (s.event == PLB_BATCH_PROGRESS)
            curve.push_back(
                {s.itemNumber, s.elapsedMs, (s.remainingMs + s.elapsedMs) / 1000, s.estimateSeconds});
    }),
              tamlib::batch::Batch::Outcome::Completed);
    const double truth = (g_now - 5000) / 1000.0;
    std::printf("true total %.1f s\n  item  elapsed  computed  shown\n", truth);
    for (size_t i = 0; i < curve.size(); i += 21) // each item's first report
        std::printf("  %4u %7.1f %9u %6u\n", curve[i].number, curve[i].elapsedMs / 1000.0, curve[i].computed,
                    curve[i].shown);
    for (const Point& point : curve) {
        if (point.number > std::size(order) / 2) {
            EXPECT_NEAR(point.shown, truth, truth * 0.1) << point.number << " at " << point.elapsedMs;
            EXPECT_NEAR(point.computed, truth, truth * 0.1) << point.number << " at " << point.elapsedMs;
        }
    }
    EXPECT_EQ(curve.size(), 21 * std::size(order));
}

} // namespace
} // namespace batchtest
