// The batch driver on scripted converters (and the library's own, for a source that cannot be
// read): failures that do not stop the batch, the existing-file policies and the question,
// missing folders and records, a disc stream's drive, done marks across runs, cancel, the C
// interface, and the cost of the driver per item.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

#include "batch_support.h"
#include "scratch_folder.h"
#include "scripted_port.h"

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

// As the real converters behave: reports, writes its output only when it finishes, and leaves
// nothing when told to stop.
int32_t writeOutput(const Call& call)
{
    if (!call.report(0, 1000) || !call.report(500, 1000) || !call.report(1000, 1000))
        return PLB_CONV_OK;
    std::ofstream file(call.output, std::ios::binary);
    file << "new";
    return file.good() ? PLB_CONV_OK : PLB_CONV_WAVE_FILE;
}

class BatchDriver : public ::testing::Test
{
  protected:
    std::string out(const std::string& name) const { return (folder.path() / name).string(); }

    testsupport::ScratchFolder folder{"batch"};
    tamlib::batch::ConverterTable table = scriptedTable(writeOutput);
    tamlib::ScriptedPort port;
    tamlib::ScopedUiPort scoped{port};
};

TEST_F(BatchDriver, AFailingItemDoesNotStopTheBatch)
{
    // The library's AVI converter on a file that does not exist, and a type without converter.
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
    EXPECT_EQ(ends[3].itemNumber, 4u);
    EXPECT_EQ(ends[3].itemCount, 4u);
    EXPECT_EQ(ends[3].index, 4);
    EXPECT_EQ(readFile(out("d.mp3")), "new");
    EXPECT_EQ(batch.estimator().stats(PLB_CONV_TYPE_AVI).totalItems, 0u) << "a failure leaves the estimate";
}

TEST_F(BatchDriver, ExistingOutputFollowsThePolicy)
{
    using tamlib::batch::Existing;
    const struct
    {
        const char* name;
        Existing policy;
        int32_t answer; // 0: no question; -1: asked, not answered
        int32_t result;
        const char* content;
    } cases[] = {
        {"overwrite", Existing::Overwrite, 0, PLB_CONV_OK, "new"},
        {"fail", Existing::Fail, 0, PLB_CONV_EXISTS, "old"},
        {"yes", Existing::Ask, PLB_IDYES, PLB_CONV_OK, "new"},
        {"no", Existing::Ask, PLB_IDNO, PLB_CONV_OVERWRITE_DECLINED, "old"},
        {"unanswered", Existing::Ask, -1, PLB_CONV_OVERWRITE_DECLINED, "old"},
    };
    int window = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        port.clear();
        if (c.answer > 0)
            port.queueAnswer(c.answer);
        const std::string path = out(std::string(c.name) + ".wav");
        std::ofstream(path) << "old";
        Batch batch(table);
        batch.setExisting(c.policy, &window);
        ASSERT_TRUE(batch.add(item(PLB_CONV_TYPE_WAVE, path)));
        ASSERT_TRUE(batch.add(item(PLB_CONV_TYPE_WAVE, out(std::string(c.name) + "-next.wav"))));
        EXPECT_EQ(batch.run(), Outcome::Completed);
        EXPECT_EQ(batch.items()[0].result, c.result);
        EXPECT_EQ(batch.items()[1].result, PLB_CONV_OK);
        EXPECT_EQ(readFile(path), c.content);
        const auto asked = port.messages();
        ASSERT_EQ(asked.size(), c.answer ? 1u : 0u);
        if (c.answer) {
            EXPECT_EQ(asked[0].caption, "Overwrite confirmation");
            EXPECT_EQ(asked[0].text, "The '" + path + "' file already exists.\nDo you want to overwrite it?");
            EXPECT_EQ(asked[0].type & PLB_MB_BUTTONS, uint32_t(PLB_MB_YESNO));
            EXPECT_EQ(asked[0].window, &window);
        }
    }
    EXPECT_EQ(tamlib::batch::existingPolicy(PLB_EXISTING_FAIL), Existing::Fail);
    EXPECT_EQ(tamlib::batch::existingPolicy(0), Existing::Ask);
}

TEST_F(BatchDriver, MakesFoldersAndHandsEachConverterItsRecordAndDrive)
{
    PlbWaveSettings defaults{}, own{};
    defaults.channels = 2;
    own.channels = 1;
    std::snprintf(own.outputPath, sizeof own.outputPath, "%s", out("own/record.wav").c_str());
    int32_t drive = -2;
    g_scripts[PLB_CONV_TYPE_BMP] = [&](const Call& call) {
        drive = PlbSetConvertDrive(-1);
        PlbSetConvertDrive(drive);
        return writeOutput(call);
    };
    Batch batch(table);
    ASSERT_TRUE(batch.setDefaults(PLB_CONV_TYPE_WAVE, &defaults, sizeof defaults));
    ASSERT_TRUE(batch.add(item(PLB_CONV_TYPE_WAVE, out("deep/er/a.wav"))));
    tamlib::batch::Item withRecord = item(PLB_CONV_TYPE_WAVE, "");
    withRecord.settings.assign(reinterpret_cast<uint8_t*>(&own), reinterpret_cast<uint8_t*>(&own + 1));
    ASSERT_TRUE(batch.add(withRecord));
    tamlib::batch::Item disc = item(PLB_CONV_TYPE_BMP, out("pictures/still.bmp"), 0, "");
    disc.source.drive = 3;
    disc.source.title = "Title picture";
    ASSERT_TRUE(batch.add(disc));
    std::vector<std::string> sources;
    ASSERT_EQ(batch.run([&](const PlbBatchStatus& s) {
        if (s.event == PLB_BATCH_ITEM_START)
            sources.push_back(s.source);
    }),
              Outcome::Completed);

    ASSERT_EQ(g_calls.size(), 3u);
    PlbWaveSettings seen;
    for (size_t i = 0; i < 2; ++i) {
        std::memcpy(&seen, g_calls[i].record.data(), sizeof seen);
        EXPECT_STREQ(seen.outputPath, out(i == 0 ? "deep/er/a.wav" : "own/record.wav").c_str());
        EXPECT_EQ(seen.channels, i == 0 ? 2 : 1);
    }
    std::vector<uint8_t> bitmap(PLB_PATH_BYTES + 8, 0); // no default: zeroes and the path
    std::memcpy(bitmap.data(), g_calls[2].output.data(), g_calls[2].output.size());
    EXPECT_EQ(g_calls[2].record, bitmap);
    EXPECT_TRUE(g_calls[2].file.empty()) << "a disc stream has no file name";
    EXPECT_EQ(drive, 3);
    EXPECT_EQ(PlbSetConvertDrive(-1), -1) << "the thread's drive is given back";
    EXPECT_EQ(sources, (std::vector<std::string>{"source.str", "source.str", "Title picture"}));
    for (const char* file : {"deep/er/a.wav", "own/record.wav", "pictures/still.bmp"})
        EXPECT_EQ(readFile(out(file)), "new") << file;
}

TEST_F(BatchDriver, CancelStopsTheItemInProgressAndMarksOnlyFinishedOnes)
{
    const struct
    {
        const char* name;
        int32_t event; // the event of the second item at which the user cancels
        int32_t fails; // the second item's converter fails with this instead of converting
        bool marked;   // the second item counts as finished
    } cases[] = {
        {"during a report", PLB_BATCH_PROGRESS, 0, false},
        {"before its converter", PLB_BATCH_ITEM_START, 0, false},
        {"after it finished", PLB_BATCH_ITEM_END, 0, true},
        {"while it failed", 0, PLB_CONV_NO_STREAM, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::ScratchFolder scratch("batch");
        const auto path = [&](const char* name) { return (scratch.path() / name).string(); };
        Batch batch(table);
        bool failing = c.fails != 0; // the user stops the batch while the converter fails, once
        g_scripts[PLB_CONV_TYPE_MIDI] = [&](const Call& call) {
            if (!failing)
                return writeOutput(call);
            batch.cancel();
            failing = false;
            return c.fails;
        };
        ASSERT_TRUE(batch.add(item(PLB_CONV_TYPE_WAVE, path("1.wav"))));
        ASSERT_TRUE(batch.add(item(PLB_CONV_TYPE_MIDI, path("2.mid"))));
        ASSERT_TRUE(batch.add(item(PLB_CONV_TYPE_WAVE, path("3.wav"))));
        EXPECT_EQ(batch.run([&](const PlbBatchStatus& s) {
            if (s.itemNumber == 2 && s.event == c.event)
                batch.cancel();
        }),
                  Outcome::Cancelled);
        EXPECT_TRUE(batch.items()[0].done);
        EXPECT_EQ(batch.items()[1].done, c.marked);
        EXPECT_EQ(batch.items()[1].cancelled, !c.marked);
        EXPECT_EQ(batch.items()[1].result, c.event == PLB_BATCH_ITEM_START ? -1 : c.fails)
            << "-1: never tried";
        EXPECT_EQ(fs::exists(path("2.mid")), c.marked);
        EXPECT_EQ(batch.items()[2].result, -1) << "no further item starts";
        EXPECT_EQ(batch.estimator().stats(PLB_CONV_TYPE_MIDI).doneItems, c.marked ? 1u : 0u);

        // The next run converts only what did not finish.
        g_calls.clear();
        EXPECT_EQ(batch.run(), Outcome::Completed);
        EXPECT_EQ(g_calls.size(), c.marked ? 1u : 2u);
        EXPECT_TRUE(batch.items()[2].done);
    }
}

TEST_F(BatchDriver, CancelFromAnotherThreadOrAThrowingListener)
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
    EXPECT_FALSE(batch.add(item(PLB_CONV_TYPE_WAVE, out("c.wav"))))
        << "the list is not changed while it runs";
    batch.cancel();
    worker.join();
    EXPECT_EQ(outcome, Outcome::Cancelled);
    EXPECT_FALSE(batch.items()[0].done);
    EXPECT_EQ(batch.items()[1].result, -1);

    // A front end whose listener throws stops the run, and nothing crosses the converter.
    EXPECT_EQ(batch.run([](const PlbBatchStatus&) { throw std::runtime_error("front end gone"); }),
              Outcome::Cancelled);
    EXPECT_FALSE(batch.items()[0].done);
}

TEST_F(BatchDriver, RefusesItemsItCannotConvert)
{
    const struct
    {
        int32_t type;
        std::string output;
        size_t recordBytes;
    } cases[] = {
        {-1, "a", 0},
        {7, "a", 0},
        {PLB_CONV_TYPE_WAVE, "", 0},                               // no output path
        {PLB_CONV_TYPE_WAVE, std::string(PLB_PATH_BYTES, 'x'), 0}, // longer than the record holds
        {PLB_CONV_TYPE_WAVE, "a", sizeof(PlbAviSettings)},         // a record of another type
    };
    Batch batch(table);
    for (const auto& c : cases) {
        tamlib::batch::Item refused = item(c.type, c.output);
        refused.settings.assign(c.recordBytes, 0);
        EXPECT_FALSE(batch.add(refused)) << c.type << " " << c.output.size() << " " << c.recordBytes;
    }
    EXPECT_TRUE(batch.items().empty());
    const PlbAviSettings avi{};
    EXPECT_FALSE(batch.setDefaults(PLB_CONV_TYPE_WAVE, &avi, sizeof avi));
}

TEST_F(BatchDriver, CInterfaceRunsTheLibraryConverters)
{
    PlbBatch* batch = PlbCreateBatch();
    ASSERT_TRUE(batch);
    const std::string missing = out("missing.str");
    PlbBatchSource source{};
    source.pluginName = "Filmfile.psr";
    source.fileName = missing.c_str();
    source.drive = -1;
    source.info.durationMs = 5000;
    source.info.frameCount = 75;
    EXPECT_EQ(PlbAddBatchItem(batch, &source, PLB_CONV_TYPE_AVI, out("a.avi").c_str(), nullptr, 0), 0);
    EXPECT_EQ(PlbAddBatchItem(batch, &source, PLB_CONV_TYPE_CSTR, out("a.cstr").c_str(), nullptr, 0), 1);
    EXPECT_EQ(PlbAddBatchItem(batch, &source, 9, out("a.x").c_str(), nullptr, 0), -1);
    EXPECT_EQ(PlbAddBatchItem(batch, &source, PLB_CONV_TYPE_AVI, nullptr, nullptr, 12), -1);
    std::vector<PlbBatchStatus> events;
    const PlbBatchEventFn record = [](const PlbBatchStatus* s, void* user) {
        static_cast<std::vector<PlbBatchStatus>*>(user)->push_back(*s);
    };
    EXPECT_EQ(PlbRunBatch(batch, record, &events), 1);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].event, PLB_BATCH_ITEM_START);
    EXPECT_EQ(events[0].remainingMs, 1500u + 5000 * 10 + 110 + 5000 / 2); // the guesses of AVI and CSTR
    EXPECT_EQ(events[1].result, PLB_CONV_NO_STREAM);
    EXPECT_EQ(events[3].result, PLB_CONV_NO_STREAM);
    int32_t result = 0, done = 0;
    EXPECT_EQ(PlbGetBatchItemState(batch, 1, &result, &done), 1);
    EXPECT_EQ(result, PLB_CONV_NO_STREAM);
    EXPECT_EQ(done, 1);
    EXPECT_EQ(PlbGetBatchItemState(batch, 2, &result, &done), 0);
    PlbDestroyBatch(batch);
    EXPECT_EQ(PlbRunBatch(nullptr, nullptr, nullptr), -1);
    EXPECT_FALSE(fs::exists(out("a.avi")));
}

// What the driver costs per item, with a converter that only reports its start and its end.
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
    uint32_t events = 0;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(batch.run([&](const PlbBatchStatus&) { ++events; }), Outcome::Completed);
    const std::chrono::duration<double, std::milli> spent = std::chrono::steady_clock::now() - start;
    std::printf("batch overhead: %.4f ms per item\n", spent.count() / kItems);
    EXPECT_LT(spent.count() / kItems, 10.0);
    EXPECT_EQ(events, 4u * kItems); // start, two reports, end
}

} // namespace
} // namespace batchtest
