// The batch's time estimate on a scripted clock: the guesses it starts from, what the first
// report of an item teaches (the start time), what the later ones teach (the speed), the types
// not measured yet scaled alike, the rule that decides when the shown estimate changes, and a
// whole batch of three types of very different speeds converging on its true length.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "batch_support.h"
#include "scratch_folder.h"

namespace batchtest {
namespace {

using tamlib::batch::Estimate;
using tamlib::batch::Estimator;

TEST(BatchEstimator, BeforeAnyReportEachTypeCostsItsGuessedStartAndSpeed)
{
    // One item of 60 s of stream, by type: start ms + 60000 ms × us per ms.
    const struct
    {
        int32_t type;
        uint32_t size;
        uint32_t remainingMs;
    } cases[] = {
        {PLB_CONV_TYPE_AVI, 60000, 601500}, {PLB_CONV_TYPE_WAVE, 60000, 15100},
        {PLB_CONV_TYPE_CSTR, 60000, 30110}, {PLB_CONV_TYPE_BMP, 0, 200},
        {PLB_CONV_TYPE_MIDI, 60000, 260},   {PLB_CONV_TYPE_MP3, 60000, 30500},
    };
    for (const auto& c : cases) {
        g_now = 77;
        Estimator estimator(scriptedNow);
        estimator.expect(c.type, c.size);
        EXPECT_EQ(estimator.remainingMs(), c.remainingMs) << "type " << c.type;
        estimator.expect(PLB_CONV_TYPE_NONE, 99999); // not a conversion: not counted
        EXPECT_EQ(estimator.remainingMs(), c.remainingMs) << "type " << c.type;
    }
}

TEST(BatchEstimator, LearnsTheStartThenTheSpeedAndShowsTheEstimateOnceItSettles)
{
    g_now = 1000;
    Estimator estimator(scriptedNow);
    estimator.expect(PLB_CONV_TYPE_AVI, 60000);
    estimator.expect(PLB_CONV_TYPE_WAVE, 10000);
    estimator.beginItem(PLB_CONV_TYPE_AVI, 60000);

    // The first report comes after 3000 ms instead of the guessed 1500: every type that never
    // finished an item is taken as twice as slow, in its start and its speed.
    g_now = 4000;
    Estimate estimate = estimator.report(0, 60000);
    const struct
    {
        int32_t type;
        uint32_t start, unit;
    } doubled[] = {{0, 3000, 20000}, {1, 200, 500}, {2, 220, 1000},
                   {3, 400, 2},      {4, 400, 2},   {5, 1000, 1000}};
    for (const auto& d : doubled) {
        EXPECT_EQ(estimator.stats(d.type).startTime, d.start) << "type " << d.type;
        EXPECT_EQ(estimator.stats(d.type).unitTime, d.unit) << "type " << d.type;
    }
    EXPECT_EQ(estimate.elapsedMs, 3000u);
    EXPECT_EQ(estimate.remainingMs, 1208200u); // 60000 × 20 ms + 3 s, 10000 × 0.5 ms + 0.2 s
    EXPECT_EQ(estimate.totalSeconds, 1211u);
    EXPECT_EQ(estimate.shownSeconds, 0u) << "nothing is shown before the speed settles";

    // Then the pace of the item: time since its first report per ms of stream done. The types
    // not measured yet follow the same factor; the current item counts by its own pace.
    const struct
    {
        uint32_t now, done;
        uint32_t aviUnit, waveUnit, bmpUnit;
        bool stable;
        uint32_t remainingMs, shown;
        bool changed;
    } steps[] = {
        {5000, 500, 2000, 50, 1, false, 119700, 0, false},    // 1000 ms for 500 ms of stream
        {6000, 1000, 2000, 50, 1, true, 118700, 123, true},   // the same pace: shown
        {6900, 1500, 1933, 48, 1, false, 113780, 123, false}, // moved by less than Rm / 10 s: kept
    };
    for (const auto& s : steps) {
        g_now = s.now;
        estimate = estimator.report(s.done, 60000);
        EXPECT_EQ(estimator.stats(PLB_CONV_TYPE_AVI).unitTime, s.aviUnit) << s.now;
        EXPECT_EQ(estimator.stats(PLB_CONV_TYPE_WAVE).unitTime, s.waveUnit) << s.now;
        EXPECT_EQ(estimator.stats(PLB_CONV_TYPE_BMP).unitTime, s.bmpUnit) << s.now;
        EXPECT_EQ(estimator.stats(PLB_CONV_TYPE_AVI).startTime, 3000u) << s.now;
        EXPECT_EQ(estimate.stable, s.stable) << s.now;
        EXPECT_EQ(estimate.remainingMs, s.remainingMs) << s.now;
        EXPECT_EQ(estimate.shownSeconds, s.shown) << s.now;
        EXPECT_EQ(estimate.changed, s.changed) << s.now;
        EXPECT_EQ(estimate.percent, s.done / 600) << s.now;
    }

    // Past the shown total the estimate is redrawn whatever it is.
    g_now = 1000 + 124000;
    estimate = estimator.report(1600, 60000);
    EXPECT_TRUE(estimate.changed);
    EXPECT_EQ(estimate.shownSeconds, estimate.totalSeconds);
}

TEST(BatchEstimator, FinishedItemsWeighTheSpeedAndKeepTheirTypeOutOfTheScaling)
{
    g_now = 0;
    Estimator estimator(scriptedNow);
    estimator.expect(PLB_CONV_TYPE_AVI, 1000);
    estimator.expect(PLB_CONV_TYPE_AVI, 1000);
    estimator.expect(PLB_CONV_TYPE_WAVE, 1000);

    estimator.beginItem(PLB_CONV_TYPE_AVI, 1000);
    g_now = 1500;
    estimator.report(0, 1000); // as guessed: nothing scaled
    g_now = 4500;
    estimator.report(1000, 1000); // 3 us per ms
    estimator.endItem(PLB_CONV_OK);
    EXPECT_EQ(estimator.stats(PLB_CONV_TYPE_AVI).unitTime, 3000u);
    EXPECT_EQ(estimator.stats(PLB_CONV_TYPE_WAVE).unitTime, 75u); // 250 × 3000 / 10000
    EXPECT_EQ(estimator.stats(PLB_CONV_TYPE_AVI).doneItems, 1u);
    EXPECT_EQ(estimator.stats(PLB_CONV_TYPE_AVI).doneSize, 1000u);

    // The second AVI item starts slower than the guess: the type has finished one, so no start
    // is learned any more and nothing is rescaled.
    estimator.beginItem(PLB_CONV_TYPE_AVI, 1000);
    g_now = 6500;
    estimator.report(0, 1000);
    EXPECT_EQ(estimator.stats(PLB_CONV_TYPE_AVI).startTime, 1500u);
    EXPECT_EQ(estimator.stats(PLB_CONV_TYPE_WAVE).startTime, 100u);
    // 1 us per ms now, weighed with the 1000 ms done at 3: 2.
    g_now = 7500;
    estimator.report(1000, 1000);
    EXPECT_EQ(estimator.stats(PLB_CONV_TYPE_AVI).unitTime, 2000u);
    EXPECT_EQ(estimator.stats(PLB_CONV_TYPE_WAVE).unitTime, 50u);
}

TEST(BatchEstimator, AFailedItemLeavesTheExpectation)
{
    g_now = 0;
    Estimator estimator(scriptedNow);
    estimator.expect(PLB_CONV_TYPE_AVI, 60000);
    estimator.expect(PLB_CONV_TYPE_WAVE, 10000);
    EXPECT_EQ(estimator.remainingMs(), 601500u + 2600u);
    estimator.beginItem(PLB_CONV_TYPE_AVI, 60000);
    estimator.endItem(PLB_CONV_NO_STREAM);
    EXPECT_EQ(estimator.remainingMs(), 2600u);
    EXPECT_EQ(estimator.stats(PLB_CONV_TYPE_AVI).totalItems, 0u);
    EXPECT_EQ(estimator.stats(PLB_CONV_TYPE_AVI).doneItems, 0u);
}

TEST(BatchEstimator, TicksWrapAroundAndHugeFiguresSaturate)
{
    g_now = 0xFFFFF000u; // 4096 ms before the tick counter wraps
    Estimator estimator(scriptedNow);
    estimator.expect(PLB_CONV_TYPE_AVI, 0xFFFFFFFFu);
    estimator.expect(PLB_CONV_TYPE_AVI, 0xFFFFFFFFu); // sizes saturate, never wrap to small
    EXPECT_EQ(estimator.stats(PLB_CONV_TYPE_AVI).totalSize, 0xFFFFFFFFu);
    EXPECT_EQ(estimator.remainingMs(), 0xFFFFFFFFu);
    estimator.beginItem(PLB_CONV_TYPE_AVI, 0xFFFFFFFFu);
    g_now = 1500; // wrapped
    Estimate estimate = estimator.report(0, 0xFFFFFFFFu);
    EXPECT_EQ(estimate.elapsedMs, 4096u + 1500u);
    g_now += 0x7FFFFFFF;
    estimate = estimator.report(1, 2); // an absurd pace saturates
    EXPECT_EQ(estimator.stats(PLB_CONV_TYPE_AVI).unitTime, 0xFFFFFFFFu);
    EXPECT_EQ(estimate.percent, 1u);
    estimate = estimator.report(5, 2); // past the end: at most 100 %, nothing left of the item
    EXPECT_EQ(estimate.percent, 5u);
    estimate = estimator.report(500, 2);
    EXPECT_EQ(estimate.percent, 100u);
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
        {3650000, "01:60\""}, {7199000, "02:"}, {7261000, "02:01'10\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tamlib::batch::remainingText(c.ms), c.text) << c.ms;
        char text[16];
        EXPECT_EQ(PlbFormatRemainingTime(c.ms, text, sizeof text), int32_t(std::strlen(c.text)));
        EXPECT_STREQ(text, c.text);
    }
    char small[3];
    EXPECT_EQ(PlbFormatRemainingTime(61000, small, sizeof small), -1);
    EXPECT_EQ(PlbFormatRemainingTime(61000, nullptr, 16), -1);
}

// Items of three types whose true speeds differ tenfold each, interleaved, with some spread
// within a type: by the middle of the batch the shown total is within 10 % of the true one.
TEST(BatchEstimator, ConvergesOnABatchOfThreeSpeeds)
{
    struct Truth
    {
        uint32_t start;  // ms before the first report
        uint32_t unitUs; // us per ms of stream
    };
    static const Truth truth[PLB_CONV_TYPES] = {{900, 4000}, {60, 40}, {}, {}, {}, {300, 400}};
    static int counter = 0;
    testsupport::ScratchFolder folder("batch");
    tamlib::batch::ConverterTable table = scriptedTable();
    const Script script = [](const Call& call) {
        const Truth& t = truth[call.type];
        const double spread = 0.9 + 0.1 * (counter++ % 3); // 0.9, 1.0, 1.1
        const uint32_t length = 40000;
        g_now += uint32_t(t.start * spread);
        call.report(0, length);
        for (uint32_t step = 1, done = 0; step <= 20; ++step) {
            const uint32_t next = length * step / 20;
            g_now += uint32_t((next - done) * double(t.unitUs) * spread / 1000);
            done = next;
            call.report(done, length);
        }
        return PLB_CONV_OK;
    };
    for (int32_t type : {PLB_CONV_TYPE_AVI, PLB_CONV_TYPE_WAVE, PLB_CONV_TYPE_MP3})
        g_scripts[size_t(type)] = script;

    g_now = 5000;
    tamlib::batch::Batch batch(table, scriptedNow);
    const int32_t order[] = {0, 5, 1, 0, 1, 5, 5, 0, 1, 1, 0, 5, 0, 1, 5};
    for (size_t i = 0; i < std::size(order); ++i)
        ASSERT_TRUE(batch.add(item(order[i], (folder.path() / ("out" + std::to_string(i))).string(), 40000)));

    struct Point
    {
        uint32_t number, elapsedMs, computed, shown;
    };
    std::vector<Point> curve;
    ASSERT_EQ(batch.run([&](const PlbBatchStatus& status) {
        if (status.event == PLB_BATCH_PROGRESS)
            curve.push_back({status.itemNumber, status.elapsedMs,
                             (status.remainingMs + status.elapsedMs) / 1000, status.estimateSeconds});
    }),
              tamlib::batch::Batch::Outcome::Completed);
    const double trueSeconds = (g_now - 5000) / 1000.0;

    std::printf("true total %.1f s\n  item  elapsed  computed  shown\n", trueSeconds);
    for (size_t i = 0; i < curve.size(); i += 21) // each item's first report
        std::printf("  %4u %7.1f %9u %6u\n", curve[i].number, curve[i].elapsedMs / 1000.0, curve[i].computed,
                    curve[i].shown);
    size_t checked = 0;
    for (const Point& point : curve) {
        if (point.number <= std::size(order) / 2)
            continue;
        ++checked;
        EXPECT_NEAR(point.shown, trueSeconds, trueSeconds * 0.1)
            << "item " << point.number << " at " << point.elapsedMs;
        EXPECT_NEAR(point.computed, trueSeconds, trueSeconds * 0.1) << "item " << point.number;
    }
    EXPECT_GT(checked, 100u);
}

} // namespace
} // namespace batchtest
