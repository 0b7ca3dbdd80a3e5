// The batch driver on scripted converters (and the library's own, for a source that cannot be
// read): items visited in order, failures that do not stop the batch, the existing-file
// policies and the question through the user-interface port, missing folders, records, done
// marks across runs, cancel, the C interface, and the cost of the driver per item.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

#include "batch_support.h"
#include "scratch_folder.h"
#include "scripted_port.h"
#include "tamlib/ui_port.h"

namespace batchtest {
namespace {

namespace fs = std::filesystem;
using tamlib::batch::Batch;
using Outcome = tamlib::batch::Batch::Outcome;

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A converter as the real ones behave: reports, writes its output only when it finishes, and
// leaves nothing when told to stop.
int32_t writeOutput(const Call& call)
{
    if (!call.report(0, 1000))
        return PLB_CONV_OK;
    if (!call.report(500, 1000) || !call.report(1000, 1000))
        return PLB_CONV_OK;
    std::ofstream file(call.output, std::ios::binary);
    file << "new";
    return file.good() ? PLB_CONV_OK : PLB_CONV_WAVE_FILE;
}

class BatchDriver : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.made());
        table = scriptedTable();
        for (auto& script : g_scripts)
            script = writeOutput;
    }
    std::string out(const std::string& name) const { return (folder.path() / name).string(); }

    testsupport::ScratchFolder folder{"batch"};
    tamlib::batch::ConverterTable table;
    tamlib::ScriptedPort port;
    tamlib::ScopedUiPort scoped{port};
};

TEST_F(BatchDriver, AFailingItemDoesNotStopTheBatch)
{
    // The library's own AVI converter on a file that does not exist, and a type whose converter
    // this library lacks, between scripted items.
    tamlib::batch::ConverterTable mixed = table;
    mixed[PLB_CONV_TYPE_AVI] = tamlib::batch::libraryConverters()[PLB_CONV_TYPE_AVI];
    mixed[PLB_CONV_TYPE_CSTR] = nullptr;
    Batch batch(mixed);
    ASSERT_TRUE(batch.add(item(PLB_CONV_TYPE_WAVE, out("a.wav"))));
    ASSERT_TRUE(batch.add(item(PLB_CONV_TYPE_AVI, out("b.avi"), 1000, out("missing.str"))));
    ASSERT_TRUE(batch.add(item(PLB_CONV_TYPE_CSTR, out("c.cstr"))));
    ASSERT_TRUE(batch.add(item(PLB_CONV_TYPE_NONE, out("skipped"))));
    ASSERT_TRUE(batch.add(item(PLB_CONV_TYPE_MP3, out("d.mp3"))));

    std::vector<PlbBatchStatus> ends;
    EXPECT_EQ(batch.run([&](const PlbBatchStatus& s) {
        if (s.event == PLB_BATCH_ITEM_END)
            ends.push_back(s);
    }),
              Outcome::Completed);
    const int32_t results[] = {PLB_CONV_OK, PLB_CONV_NO_STREAM, PLB_CONV_UNAVAILABLE, -1, PLB_CONV_OK};
    for (size_t i = 0; i < std::size(results); ++i) {
        EXPECT_EQ(batch.items()[i].result, results[i]) << i;
        EXPECT_EQ(batch.items()[i].done, i != 3) << i;
    }
    ASSERT_EQ(ends.size(), 4u);
    EXPECT_EQ(ends[1].result, PLB_CONV_NO_STREAM);
    EXPECT_EQ(ends[3].itemNumber, 4u);
    EXPECT_EQ(ends[3].itemCount, 4u);
    EXPECT_EQ(ends[3].index, 4);
    EXPECT_EQ(readFile(out("d.mp3")), "new");
    EXPECT_FALSE(fs::exists(out("b.avi")));
    // The estimate learned nothing from the failures: they left it.
    EXPECT_EQ(batch.estimator().stats(PLB_CONV_TYPE_AVI).totalItems, 0u);
    EXPECT_EQ(batch.estimator().stats(PLB_CONV_TYPE_WAVE).doneItems, 1u);
}

TEST_F(BatchDriver, ExistingOutputFollowsThePolicy)
{
    const struct
    {
        const char* name;
        tamlib::batch::Existing policy;
        int32_t answer; // 0: no question expected
        int32_t result;
        const char* content;
    } cases[] = {
        {"overwrite", tamlib::batch::Existing::Overwrite, 0, PLB_CONV_OK, "new"},
        {"fail", tamlib::batch::Existing::Fail, 0, PLB_CONV_EXISTS, "old"},
        {"ask yes", tamlib::batch::Existing::Ask, PLB_IDYES, PLB_CONV_OK, "new"},
        {"ask no", tamlib::batch::Existing::Ask, PLB_IDNO, PLB_CONV_OVERWRITE_DECLINED, "old"},
        {"ask unanswered", tamlib::batch::Existing::Ask, -1, PLB_CONV_OVERWRITE_DECLINED, "old"},
    };
    int window = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        port.clear();
        if (c.answer > 0)
            port.queueAnswer(c.answer);
        const std::string path = out(std::string(c.name) + ".wav");
        std::ofstream(path) << "old";
        const size_t before = g_calls.size();
        Batch batch(table);
        batch.setExisting(c.policy, &window);
        ASSERT_TRUE(batch.add(item(PLB_CONV_TYPE_WAVE, path)));
        ASSERT_TRUE(batch.add(item(PLB_CONV_TYPE_WAVE, out(std::string(c.name) + "-next.wav"))));
        EXPECT_EQ(batch.run(), Outcome::Completed);
        EXPECT_EQ(batch.items()[0].result, c.result);
        EXPECT_EQ(batch.items()[1].result, PLB_CONV_OK);
        EXPECT_EQ(readFile(path), c.content);
        EXPECT_EQ(g_calls.size() - before, c.result == PLB_CONV_OK ? 2u : 1u);
        const auto asked = port.messages();
        ASSERT_EQ(asked.size(), c.answer ? 1u : 0u);
        if (c.answer) {
            EXPECT_EQ(asked[0].caption, "Overwrite confirmation");
            EXPECT_EQ(asked[0].text, "The '" + path + "' file already exists.\nDo you want to overwrite it?");
            EXPECT_EQ(asked[0].type & PLB_MB_BUTTONS, uint32_t(PLB_MB_YESNO));
            EXPECT_EQ(asked[0].window, &window);
        }
    }
    EXPECT_EQ(tamlib::batch::existingPolicy(PLB_EXISTING_OVERWRITE), tamlib::batch::Existing::Overwrite);
    EXPECT_EQ(tamlib::batch::existingPolicy(PLB_EXISTING_FAIL), tamlib::batch::Existing::Fail);
    EXPECT_EQ(tamlib::batch::existingPolicy(0), tamlib::batch::Existing::Ask);
}

TEST_F(BatchDriver, MissingFoldersAreMadeAndRecordsCarryTheOutputPath)
{
    PlbWaveSettings defaults{};
    std::snprintf(defaults.outputPath, sizeof defaults.outputPath, "%s", "ignored");
    defaults.channels = 2;
    defaults.sampleRate = 44100;
    PlbWaveSettings own{};
    own.channels = 1;
    std::snprintf(own.outputPath, sizeof own.outputPath, "%s", out("own/record.wav").c_str());

    Batch batch(table);
    ASSERT_TRUE(batch.setDefaults(PLB_CONV_TYPE_WAVE, &defaults, sizeof defaults));
    ASSERT_TRUE(batch.add(item(PLB_CONV_TYPE_WAVE, out("deep/er/a.wav"))));
    tamlib::batch::Item withRecord = item(PLB_CONV_TYPE_WAVE, "");
    const auto* bytes = reinterpret_cast<const uint8_t*>(&own);
    withRecord.settings.assign(bytes, bytes + sizeof own);
    ASSERT_TRUE(batch.add(withRecord));
    ASSERT_TRUE(batch.add(item(PLB_CONV_TYPE_BMP, out("pictures/still.bmp"))));
    ASSERT_EQ(batch.run(), Outcome::Completed);

    ASSERT_EQ(g_calls.size(), 3u);
    PlbWaveSettings seen;
    std::memcpy(&seen, g_calls[0].record.data(), sizeof seen);
    EXPECT_STREQ(seen.outputPath, out("deep/er/a.wav").c_str());
    EXPECT_EQ(seen.channels, 2);
    EXPECT_EQ(seen.sampleRate, 44100u);
    std::memcpy(&seen, g_calls[1].record.data(), sizeof seen);
    EXPECT_STREQ(seen.outputPath, out("own/record.wav").c_str());
    EXPECT_EQ(seen.channels, 1);
    EXPECT_EQ(g_calls[2].record, [&] {
        std::vector<uint8_t> record(PLB_PATH_BYTES + 8, 0); // no default: zeroes and the path
        std::memcpy(record.data(), g_calls[2].output.data(), g_calls[2].output.size());
        return record;
    }());
    for (const char* file : {"deep/er/a.wav", "own/record.wav", "pictures/still.bmp"})
        EXPECT_EQ(readFile(out(file)), "new") << file;
}

TEST_F(BatchDriver, DiscStreamsAreReadFromTheItemsDriveAndShownByTheirTitle)
{
    int32_t drive = -2;
    g_scripts[PLB_CONV_TYPE_WAVE] = [&](const Call& call) {
        drive = PlbSetConvertDrive(-1);
        PlbSetConvertDrive(drive);
        return writeOutput(call);
    };
    tamlib::batch::Item disc = item(PLB_CONV_TYPE_WAVE, out("disc.wav"), 1000, "");
    disc.source.drive = 3;
    disc.source.title = "Opening movie";
    Batch batch(table);
    ASSERT_TRUE(batch.add(disc));
    std::string shown;
    ASSERT_EQ(batch.run([&](const PlbBatchStatus& s) {
        if (s.event == PLB_BATCH_ITEM_START)
            shown = s.source;
    }),
              Outcome::Completed);
    EXPECT_EQ(drive, 3);
    EXPECT_EQ(PlbSetConvertDrive(-1), -1) << "the thread's drive is given back";
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_TRUE(g_calls[0].file.empty()) << "a disc stream has no file name";
    EXPECT_EQ(shown, "Opening movie");
}

TEST_F(BatchDriver, DoneItemsAreNotConvertedAgain)
{
    Batch batch(table);
    ASSERT_TRUE(batch.add(item(PLB_CONV_TYPE_WAVE, out("a.wav"))));
    ASSERT_TRUE(batch.add(item(PLB_CONV_TYPE_MIDI, out("b.mid"))));
    ASSERT_EQ(batch.run(), Outcome::Completed);
    ASSERT_EQ(g_calls.size(), 2u);
    ASSERT_TRUE(batch.add(item(PLB_CONV_TYPE_MP3, out("c.mp3"))));
    uint32_t count = 0;
    ASSERT_EQ(batch.run([&](const PlbBatchStatus& s) { count = s.itemCount; }), Outcome::Completed);
    ASSERT_EQ(g_calls.size(), 3u);
    EXPECT_EQ(g_calls[2].type, PLB_CONV_TYPE_MP3);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(batch.estimator().stats(PLB_CONV_TYPE_WAVE).totalItems, 0u) << "not counted again";
}

TEST_F(BatchDriver, CancelStopsTheItemInProgressAndMarksOnlyFinishedOnes)
{
    const struct
    {
        const char* name;
        uint32_t cancelAtItem;
        int32_t event; // the event of that item at which the user cancels
        bool secondMarked;
    } cases[] = {
        {"during the report", 2, PLB_BATCH_PROGRESS, false},
        {"before the item's converter", 2, PLB_BATCH_ITEM_START, false},
        {"after the item finished", 2, PLB_BATCH_ITEM_END, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        g_calls.clear();
        testsupport::ScratchFolder scratch("batch");
        const auto path = [&](const char* name) { return (scratch.path() / name).string(); };
        Batch batch(table);
        for (const char* name : {"1.wav", "2.wav", "3.wav"})
            ASSERT_TRUE(batch.add(item(PLB_CONV_TYPE_WAVE, path(name))));
        EXPECT_EQ(batch.run([&](const PlbBatchStatus& s) {
            if (s.itemNumber == c.cancelAtItem && s.event == c.event)
                batch.cancel();
        }),
                  Outcome::Cancelled);
        EXPECT_TRUE(batch.items()[0].done);
        EXPECT_EQ(batch.items()[1].done, c.secondMarked);
        EXPECT_EQ(batch.items()[1].cancelled, !c.secondMarked);
        EXPECT_FALSE(batch.items()[2].done);
        EXPECT_EQ(batch.items()[2].result, -1) << "no further item starts";
        EXPECT_EQ(fs::exists(path("2.wav")), c.secondMarked);
        EXPECT_EQ(batch.estimator().stats(PLB_CONV_TYPE_WAVE).doneItems, c.secondMarked ? 2u : 1u);

        // The next run converts what did not finish.
        const size_t before = g_calls.size();
        EXPECT_EQ(batch.run(), Outcome::Completed);
        EXPECT_EQ(g_calls.size() - before, c.secondMarked ? 1u : 2u);
        EXPECT_TRUE(batch.items()[1].done && batch.items()[2].done);
        EXPECT_FALSE(batch.items()[1].cancelled);
    }
}

TEST_F(BatchDriver, CancelFromAnotherThreadStopsTheRunningItem)
{
    std::atomic<bool> started{false};
    g_scripts[PLB_CONV_TYPE_WAVE] = [&](const Call& call) {
        for (uint32_t done = 0; done < 100000000; ++done) {
            started = true;
            if (!call.report(done % 1000, 1000))
                return PLB_CONV_OK;
        }
        return PLB_CONV_WAVE_FILE; // never told to stop
    };
    Batch batch(table);
    ASSERT_TRUE(batch.add(item(PLB_CONV_TYPE_WAVE, out("a.wav"))));
    ASSERT_TRUE(batch.add(item(PLB_CONV_TYPE_WAVE, out("b.wav"))));
    Outcome outcome = Outcome::Busy;
    std::thread worker([&] { outcome = batch.run(); });
    while (!started)
        std::this_thread::yield();
    EXPECT_EQ(batch.run(), Outcome::Busy) << "one run at a time";
    batch.cancel();
    worker.join();
    EXPECT_EQ(outcome, Outcome::Cancelled);
    EXPECT_EQ(batch.items()[0].result, PLB_CONV_OK);
    EXPECT_FALSE(batch.items()[0].done);
    EXPECT_EQ(batch.items()[1].result, -1);
}

TEST_F(BatchDriver, AFailureWhileCancellingIsNotMarkedDone)
{
    g_scripts[PLB_CONV_TYPE_WAVE] = [](const Call&) { return PLB_CONV_NO_STREAM; };
    Batch batch(table);
    ASSERT_TRUE(batch.add(item(PLB_CONV_TYPE_WAVE, out("a.wav"))));
    ASSERT_TRUE(batch.add(item(PLB_CONV_TYPE_WAVE, out("b.wav"))));
    EXPECT_EQ(batch.run([&](const PlbBatchStatus& s) {
        if (s.event == PLB_BATCH_ITEM_START)
            batch.cancel();
    }),
              Outcome::Cancelled);
    EXPECT_FALSE(batch.items()[0].done);
    EXPECT_EQ(batch.items()[0].result, PLB_CONV_NO_STREAM);
    EXPECT_EQ(batch.items()[1].result, -1);
}

TEST_F(BatchDriver, RefusesItemsItCannotConvert)
{
    const std::string tooLong(PLB_PATH_BYTES, 'x');
    const struct
    {
        const char* name;
        int32_t type;
        std::string output;
        size_t recordBytes;
    } cases[] = {
        {"negative type", -1, "a", 0},
        {"unknown type", 7, "a", 0},
        {"no output", PLB_CONV_TYPE_WAVE, "", 0},
        {"output too long", PLB_CONV_TYPE_WAVE, tooLong, 0},
        {"record of another type", PLB_CONV_TYPE_WAVE, "a", sizeof(PlbAviSettings)},
    };
    Batch batch(table);
    for (const auto& c : cases) {
        tamlib::batch::Item refused = item(c.type, c.output);
        refused.settings.assign(c.recordBytes, 0);
        EXPECT_FALSE(batch.add(refused)) << c.name;
    }
    EXPECT_TRUE(batch.items().empty());
    EXPECT_TRUE(batch.add(item(PLB_CONV_TYPE_NONE, ""))) << "an item without conversion needs no output";
    const PlbAviSettings avi{};
    EXPECT_FALSE(batch.setDefaults(PLB_CONV_TYPE_WAVE, &avi, sizeof avi));
    EXPECT_FALSE(batch.setDefaults(PLB_CONV_TYPE_NONE, &avi, 0));
}

// The C interface: a source that cannot be read, a type without converter, each item's result
// and the events as a front end sees them.
TEST_F(BatchDriver, CInterfaceRunsTheLibraryConverters)
{
    PlbBatch* batch = PlbCreateBatch();
    ASSERT_TRUE(batch);
    PlbBatchSource source{};
    source.pluginName = "Filmfile.psr";
    const std::string missing = out("missing.str");
    source.fileName = missing.c_str();
    source.drive = -1;
    source.info.durationMs = 5000;
    source.info.frameCount = 75;
    EXPECT_EQ(PlbAddBatchItem(batch, &source, PLB_CONV_TYPE_AVI, out("a.avi").c_str(), nullptr, 0), 0);
    EXPECT_EQ(PlbAddBatchItem(batch, &source, PLB_CONV_TYPE_CSTR, out("a.cstr").c_str(), nullptr, 0), 1);
    EXPECT_EQ(PlbAddBatchItem(batch, &source, 9, out("a.x").c_str(), nullptr, 0), -1);
    EXPECT_EQ(PlbAddBatchItem(batch, nullptr, PLB_CONV_TYPE_AVI, out("a.avi").c_str(), nullptr, 0), -1);
    EXPECT_EQ(PlbAddBatchItem(batch, &source, PLB_CONV_TYPE_AVI, nullptr, nullptr, 12), -1);
    PlbSetBatchExisting(batch, PLB_EXISTING_FAIL, nullptr);

    std::vector<PlbBatchStatus> events;
    EXPECT_EQ(PlbRunBatch(
                  batch,
                  [](const PlbBatchStatus* s, void* user) {
                      static_cast<std::vector<PlbBatchStatus>*>(user)->push_back(*s);
                  },
                  &events),
              1);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].event, PLB_BATCH_ITEM_START);
    EXPECT_STREQ(events[0].source, missing.c_str());
    EXPECT_EQ(events[0].total, 5000u);
    EXPECT_EQ(events[0].remainingMs, 1500u + 5000 * 10 + 110 + 5000 / 2);
    EXPECT_EQ(events[1].event, PLB_BATCH_ITEM_END);
    EXPECT_EQ(events[1].result, PLB_CONV_NO_STREAM);
    EXPECT_EQ(events[3].result, PLB_CONV_UNAVAILABLE);
    EXPECT_EQ(events[3].itemNumber, 2u);
    int32_t result = 0, done = 0;
    EXPECT_EQ(PlbGetBatchItemState(batch, 1, &result, &done), 1);
    EXPECT_EQ(result, PLB_CONV_UNAVAILABLE);
    EXPECT_EQ(done, 1);
    EXPECT_EQ(PlbGetBatchItemState(batch, 2, &result, &done), 0);
    EXPECT_EQ(PlbRunBatch(batch, nullptr, nullptr), 1) << "nothing left to do";
    PlbCancelBatch(batch);
    PlbDestroyBatch(batch);
    EXPECT_EQ(PlbRunBatch(nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(PlbGetBatchItemState(nullptr, 0, &result, &done), 0);
    EXPECT_FALSE(fs::exists(out("a.avi")));
}

TEST_F(BatchDriver, AListenerThatThrowsCancelsTheRun)
{
    Batch batch(table);
    ASSERT_TRUE(batch.add(item(PLB_CONV_TYPE_WAVE, out("a.wav"))));
    EXPECT_EQ(batch.run([](const PlbBatchStatus& s) {
        if (s.event == PLB_BATCH_PROGRESS)
            throw std::runtime_error("front end gone");
    }),
              Outcome::Cancelled);
    EXPECT_FALSE(batch.items()[0].done);
    EXPECT_FALSE(fs::exists(out("a.wav")));
}

// What the driver costs per item, measured with a converter that only reports its start and end.
TEST_F(BatchDriver, OverheadPerItemIsSmall)
{
    g_scripts[PLB_CONV_TYPE_WAVE] = [](const Call& call) {
        call.report(0, 1000);
        call.report(1000, 1000);
        return PLB_CONV_OK;
    };
    constexpr int kItems = 2000;
    Batch batch(table);
    for (int i = 0; i < kItems; ++i)
        ASSERT_TRUE(batch.add(item(PLB_CONV_TYPE_WAVE, out("sub/" + std::to_string(i) + ".wav"))));
    uint32_t reports = 0;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(batch.run([&](const PlbBatchStatus&) { ++reports; }), Outcome::Completed);
    const double perItemMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() / kItems;
    std::printf("batch overhead: %.4f ms per item\n", perItemMs);
    EXPECT_LT(perItemMs, 10.0);
    EXPECT_EQ(reports, 4u * kItems); // start, two reports, end
}

} // namespace
} // namespace batchtest
