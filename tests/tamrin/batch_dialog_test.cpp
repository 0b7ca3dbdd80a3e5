// The batch conversion dialog on the library's real converters and plugins: a batch of every
// conversion type judged from outside (ffprobe, the compact movie read back by its plugin, the
// BMP and MIDI headers), a batch stopped mid-item, the existing-file question answered both ways,
// and the event loop's longest pause while a batch runs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>

#include "batch_dialog.h"
#include "conversion_outputs.h"
#include "gui_test.h"
#include "mediagen/sequence_layout.h"
#include "mediagen/tim_layout.h"
#include "scratch_folder.h"
#include "streamkit/lbr.h"
#include "tamlib/environment.h"
#include "tamlibui/qt_ui_port.h"

namespace {

namespace fs = std::filesystem;
using tamrin::BatchChoices;
using tamrin::BatchDialog;
using tamrin::ConversionEntry;
using tamrin::TypeSettings;
using convtest::head;
using convtest::LoopWatch;
using convtest::openDialog;
using convtest::probe;
using convtest::shell;
using convtest::writeFile;

const std::string kMovie = std::string(TAMRIN_TEST_DATA) + "/movies/mv4_v3_160x112_15fps_x1_xa37800s.str";
const std::string kLongMovie = std::string(TAMRIN_TEST_DATA) + "/movies/mv1_v2_320x240_15fps_xa37800s.str";

std::optional<ConversionEntry> entryOf(const char* plugin, const std::string& file, int32_t type,
                                       const std::string& output = {})
{
    ConversionEntry entry;
    entry.source.plugin = plugin;
    entry.source.file = file;
    PluginBinding* binding = LbrOpenPSR(plugin);
    if (!binding)
        return std::nullopt;
    const bool described = LbrGetStrFileInfo(binding, file.c_str(), &entry.source.info) == 1;
    LbrClosePSR(binding);
    if (!described)
        return std::nullopt;
    entry.type = type;
    entry.output = output;
    return entry;
}

// Threads of this process, less the idle workers of Qt's own thread pool.
int threadsOfProcess()
{
    int count = 0;
    for (const auto& task : fs::directory_iterator("/proc/self/task"))
        count += head(task.path() / "comm", 64).starts_with("Thread (pooled)") ? 0 : 1;
    return count;
}

class BatchDialogTest : public testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_folder.made());
        for (TypeSettings& type : m_types)
            type.folder = (m_folder.path() / "out").string();
    }

    testsupport::ScratchFolder m_folder{"batchdlg"};
    tamlibui::QtUiPort m_port;
    tamlib::ScopedUiPort m_installed{m_port};
    TypeSettings m_types[PLB_CONV_TYPES];
    BatchChoices m_choices;
};

TEST_F(BatchDialogTest, EveryTypeRunsToCompletionAndTheOutputsHoldTheStreams)
{
    const mediagen::TimPicture tim = mediagen::makeTim(3, 96, 48, 5); // 64 x 48, 24-bit
    writeFile(m_folder.path() / "still.tim", tim.bytes);
    const mediagen::Sequence song = mediagen::scoreSong(2);
    writeFile(m_folder.path() / "song.seq", song.file);

    std::vector<ConversionEntry> entries;
    for (int32_t type : {PLB_CONV_TYPE_AVI, PLB_CONV_TYPE_WAVE, PLB_CONV_TYPE_MP3, PLB_CONV_TYPE_CSTR}) {
        auto entry = entryOf("Filmfile.psr", kMovie, type);
        ASSERT_TRUE(entry);
        entries.push_back(*entry);
    }
    auto still = entryOf("Stillframe.psr", (m_folder.path() / "still.tim").string(), PLB_CONV_TYPE_BMP);
    auto music = entryOf("Scorefile.psr", (m_folder.path() / "song.seq").string(), PLB_CONV_TYPE_MIDI);
    ASSERT_TRUE(still && music);
    entries.push_back(*still);
    entries.push_back(*music);
    ConversionEntry untouched = entries[0];
    untouched.type = PLB_CONV_TYPE_NONE;
    entries.push_back(untouched);

    std::vector<int32_t> ended;
    std::vector<QString> counts; // on show as each item ends
    // The first AVI conversion of a process loads the video encoders (30-140 ms in the dynamic
    // loader, whose lock the event loop then waits for too). The program's window has them loaded
    // since its conversion page showed the codec; the watch measures the batch alone.
    {
        PlbAviCompression codec{};
        PlbAviCodecInfo info{};
        PlbGetAVICodec(0, &codec, &info);
    }
    LoopWatch watch;
    const auto outcome = BatchDialog::run(nullptr, entries, m_types, m_choices, [&](size_t entry, int32_t, bool) {
        ended.push_back(int32_t(entry));
        counts.push_back(openDialog() ? openDialog()->findChild<QLabel*>("count")->text() : QString());
    });
    std::printf("[ batch ] event loop's worst pause during a batch of six types: %lld ms\n",
                static_cast<long long>(watch.worstMs()));
    ASSERT_EQ(outcome, BatchDialog::Outcome::Completed);
    EXPECT_LT(watch.worstMs(), 250) << "the event loop was blocked";
    EXPECT_EQ(ended, (std::vector<int32_t>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(counts, (std::vector<QString>{"1/6", "2/6", "3/6", "4/6", "5/6", "6/6"}));
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(entries[i].result, PLB_CONV_OK) << "entry " << i;
        EXPECT_TRUE(entries[i].done) << "entry " << i;
    }
    EXPECT_FALSE(entries[6].done);
    EXPECT_EQ(entries[6].result, -1);

    // Default names: the source's name in the type's folder, the movie's four outputs apart by type.
    const fs::path out = m_folder.path() / "out";
    const std::string stem = fs::path(kMovie).stem().string();
    EXPECT_EQ(probe(out / (stem + ".avi"), "v:0", "codec_type,width,height"), "video,160,112\n");
    EXPECT_EQ(probe(out / (stem + ".avi"), "a:0", "sample_rate,channels"), "37800,2\n");
    EXPECT_EQ(probe(out / (stem + ".wav"), "a:0", "codec_name,sample_rate,channels"), "pcm_s16le,37800,2\n");
    EXPECT_EQ(probe(out / (stem + ".mp3"), "a:0", "codec_name"), "mp3\n");

    StrInfo repacked{};
    PluginBinding* packfilm = LbrOpenPSR("Packfilm.psr");
    ASSERT_TRUE(packfilm);
    EXPECT_EQ(LbrGetStrFileInfo(packfilm, (out / (stem + ".cstr")).c_str(), &repacked), 1);
    LbrClosePSR(packfilm);
    const std::string frames = shell("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                     "stream=nb_read_frames -of csv=p=0 '" + kMovie + "'");
    EXPECT_EQ(std::to_string(repacked.frameCount) + "\n", frames) << "every frame of the movie";
    EXPECT_EQ(repacked.width, 160u);

    EXPECT_EQ(convtest::bmpSize(out / "still.bmp"), (convtest::BmpSize{int32_t(tim.width()), int32_t(tim.height)}));
    EXPECT_EQ(head(out / "song.mid", 4), "MThd");

    // What is done stays done: a second start finds nothing to convert.
    EXPECT_EQ(BatchDialog::run(nullptr, entries, m_types, m_choices), BatchDialog::Outcome::Nothing);
}

// Stop during a long batch: the item under way leaves no file and is not marked, no later item
// starts, the dialog closes and its worker is gone. Meanwhile: the priority changed while running,
// and the title with the progress while the dialog is minimised and the main window with it.
TEST_F(BatchDialogTest, StopLeavesNoPartialFileAndTheTitleCarriesTheProgressWhileMinimised)
{
    // The library's own threads (codecs, plugins) are started by a first conversion.
    std::vector<ConversionEntry> warmUp;
    auto first = entryOf("Filmfile.psr", kMovie, PLB_CONV_TYPE_AVI, (m_folder.path() / "warm.avi").string());
    ASSERT_TRUE(first);
    warmUp.push_back(*first);
    ASSERT_EQ(BatchDialog::run(nullptr, warmUp, m_types, m_choices), BatchDialog::Outcome::Completed);
    fs::remove(m_folder.path() / "warm.avi");

    constexpr int kItems = 30;
    std::vector<ConversionEntry> entries;
    for (int i = 0; i < kItems; ++i) {
        auto entry = entryOf("Filmfile.psr", kLongMovie, PLB_CONV_TYPE_AVI,
                             (m_folder.path() / ("item" + std::to_string(i) + ".avi")).string());
        ASSERT_TRUE(entry);
        entries.push_back(*entry);
    }
    QWidget owner;
    owner.setObjectName("mainWindow");
    owner.show();
    m_choices.lowPriority = true;

    enum class Step { WaitProgress, Minimised, Restored, Stopping } step = Step::WaitProgress;
    QString minimisedTitle, restoredTitle;
    bool ownerHidden = false, ownerBack = false, onTop = false;
    LoopWatch watch([&](BatchDialog& dialog) {
        const QString percent = dialog.findChild<QLabel*>("percent")->text();
        switch (step) {
        case Step::WaitProgress:
            if (!percent.isEmpty() && percent != "0%") {
                dialog.findChild<QRadioButton*>("priorityHigh")->click();
                dialog.setWindowState(Qt::WindowMinimized);
                ownerHidden = owner.isHidden();
                step = Step::Minimised;
            }
            break;
        case Step::Minimised:
            if (dialog.windowTitle() != "Batch conversion") {
                minimisedTitle = dialog.windowTitle();
                dialog.setWindowState(Qt::WindowNoState);
                ownerBack = owner.isVisible();
                restoredTitle = dialog.windowTitle();
                step = Step::Restored;
            }
            break;
        case Step::Restored:
            dialog.findChild<QCheckBox*>("alwaysOnTop")->click();
            onTop = dialog.windowFlags().testFlag(Qt::WindowStaysOnTopHint) && dialog.isVisible();
            QTest::mouseClick(dialog.findChild<QPushButton*>("stop"), Qt::LeftButton);
            step = Step::Stopping;
            break;
        case Step::Stopping:
            break;
        }
    });
    const int threads = threadsOfProcess();
    const auto outcome = BatchDialog::run(&owner, entries, m_types, m_choices);
    EXPECT_EQ(outcome, BatchDialog::Outcome::Cancelled);
    EXPECT_EQ(step, Step::Stopping);
    EXPECT_EQ(openDialog(), nullptr);
    // A joined thread may stay listed by the system for a moment.
    QElapsedTimer since;
    since.start();
    while (threadsOfProcess() != threads && since.elapsed() < 2000)
        QTest::qWait(10);
    EXPECT_EQ(threadsOfProcess(), threads) << "the worker is gone";
    EXPECT_FALSE(m_choices.lowPriority) << "the choice made while running is kept";
    EXPECT_TRUE(m_choices.alwaysOnTop);
    EXPECT_TRUE(onTop) << "the dialog stays shown, above the others";
    EXPECT_TRUE(ownerHidden);
    EXPECT_TRUE(ownerBack);
    EXPECT_TRUE(QRegularExpression(R"(^\d{1,3}\.\d%\[\d+/30\] item\d+\.avi Left of (\d\d:)?(\d\d')?(\d\d")?$)")
                    .match(minimisedTitle)
                    .hasMatch())
        << minimisedTitle.toStdString();
    EXPECT_EQ(restoredTitle, "Batch conversion");
    // Finished items keep their files; the others, the stopped one among them, have none.
    int done = 0, stopped = 0;
    for (const ConversionEntry& entry : entries) {
        done += entry.done ? 1 : 0;
        stopped += entry.cancelled ? 1 : 0;
        EXPECT_EQ(fs::exists(entry.output), entry.done) << entry.output;
        if (entry.done) {
            EXPECT_EQ(entry.result, PLB_CONV_OK) << entry.output;
        }
        EXPECT_FALSE(entry.done && entry.cancelled) << entry.output;
    }
    EXPECT_LT(done, kItems);
    EXPECT_LE(stopped, 1) << "only the item under way was stopped";
    for (int i = 1; i < kItems; ++i)
        EXPECT_FALSE(entries[size_t(i)].done && !entries[size_t(i - 1)].done) << "items run in list order";
    std::printf("[ batch ] event loop's worst pause during a stopped batch: %lld ms (%d of %d items done)\n",
                static_cast<long long>(watch.worstMs()), done, kItems);
}

// Closing the window or Escape while a batch runs stops it; the dialog closes once the worker
// has ended. An entry with no output name (its folder's path too long) fails untried.
TEST_F(BatchDialogTest, CloseAndEscapeStopTheBatchAndAnUnnamedOutputFailsUntried)
{
    for (const bool escape : {false, true}) {
        SCOPED_TRACE(escape ? "escape" : "close");
        std::vector<ConversionEntry> entries;
        auto unnamed = entryOf("Filmfile.psr", kMovie, PLB_CONV_TYPE_WAVE);
        ASSERT_TRUE(unnamed);
        entries.push_back(*unnamed);
        m_types[PLB_CONV_TYPE_WAVE].folder = "/" + std::string(5000, 'f');
        for (int i = 0; i < 30; ++i) {
            auto entry = entryOf("Filmfile.psr", kLongMovie, PLB_CONV_TYPE_AVI,
                                 (m_folder.path() / QString("c%1.avi").arg(i).toStdString()).string());
            ASSERT_TRUE(entry);
            entries.push_back(*entry);
        }
        bool asked = false;
        LoopWatch watch([&](BatchDialog& dialog) {
            if (asked || dialog.findChild<QLabel*>("count")->text().isEmpty())
                return;
            asked = true;
            if (escape)
                QTest::keyClick(&dialog, Qt::Key_Escape);
            else
                dialog.close();
        });
        EXPECT_EQ(BatchDialog::run(nullptr, entries, m_types, m_choices), BatchDialog::Outcome::Cancelled);
        EXPECT_TRUE(asked);
        EXPECT_EQ(openDialog(), nullptr);
        EXPECT_EQ(entries[0].result, PLB_CONV_WAVE_FILE);
        EXPECT_FALSE(entries[0].done);
        EXPECT_FALSE(entries.back().done) << "no item after the stop started";
    }
}

// An output that exists: overwritten on Yes, kept with 1001 on No (asked in the library's words),
// refused with 1000 without a question when the options say so.
TEST_F(BatchDialogTest, ExistingOutputIsOverwrittenOnlyWhenTheAnswerOrThePolicySays)
{
    struct Case
    {
        int32_t policy;
        const char* answer; // the button clicked, or null for no question
        int32_t result;
        bool replaced;
    };
    const Case cases[] = {
        {PLB_EXISTING_ASK, "answer6", PLB_CONV_OK, true},
        {PLB_EXISTING_ASK, "answer7", PLB_CONV_OVERWRITE_DECLINED, false},
        {PLB_EXISTING_FAIL, nullptr, PLB_CONV_EXISTS, false},
        {PLB_EXISTING_OVERWRITE, nullptr, PLB_CONV_OK, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.policy);
        const fs::path target = m_folder.path() / "taken.wav";
        writeFile(target, {'o', 'l', 'd'});
        auto entry = entryOf("Filmfile.psr", kMovie, PLB_CONV_TYPE_WAVE, target.string());
        ASSERT_TRUE(entry);
        std::vector<ConversionEntry> entries{*entry};
        m_choices.existing = c.policy;
        QString question;
        int asked = 0;
        QTimer answerer;
        answerer.setInterval(5);
        QObject::connect(&answerer, &QTimer::timeout, [&] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(widget);
                if (!box || !box->isVisible() || box->objectName() != "messageBox")
                    continue;
                ++asked;
                question = box->windowTitle() + "|" + box->text();
                if (auto* button = box->findChild<QPushButton*>(c.answer ? c.answer : "answer7"))
                    button->click();
            }
        });
        answerer.start();
        EXPECT_EQ(BatchDialog::run(nullptr, entries, m_types, m_choices), BatchDialog::Outcome::Completed);
        answerer.stop();
        EXPECT_EQ(asked, c.answer ? 1 : 0);
        if (c.answer) {
            EXPECT_EQ(question.toStdString(), "Overwrite confirmation|The '" + target.string() +
                                                  "' file already exists.\nDo you want to overwrite it?");
        }
        EXPECT_EQ(entries[0].result, c.result);
        EXPECT_EQ(head(target, 4) == "RIFF", c.replaced);
        EXPECT_EQ(head(target, 4) == "old", !c.replaced);
    }
}

// The dialog mid-run in both languages, for the README.
TEST_F(BatchDialogTest, DialogMidRunScreenshot)
{
    m_choices.existing = PLB_EXISTING_OVERWRITE; // outputs of the first language's run are there
    for (const char* language : {"en", "ja"}) {
        const QByteArray previous = qgetenv("LC_ALL");
        qputenv("LC_ALL", language == std::string("ja") ? "ja_JP.UTF-8" : "C");
        auto entry = entryOf("Filmfile.psr", kLongMovie, PLB_CONV_TYPE_AVI, (m_folder.path() / "shot.avi").string());
        ASSERT_TRUE(entry);
        std::vector<ConversionEntry> entries(30, *entry);
        for (size_t i = 0; i < entries.size(); ++i)
            entries[i].output = (m_folder.path() / ("shot" + std::to_string(i) + ".avi")).string();
        bool saved = false, tried = false;
        LoopWatch watch([&](BatchDialog& dialog) {
            // Once the estimate shows; on a loaded machine it may take longer to settle than the
            // items last, so the picture is taken two thirds of the way at the latest.
            const bool late = dialog.findChild<QLabel*>("count")->text().section('/', 0, 0).toInt() >= 20;
            if (tried || (dialog.findChild<QLabel*>("estimate")->text().isEmpty() && !late))
                return;
            tried = true; // saving runs events: once only
            saved = guitest::saveScreenshot(dialog, QString(language) + "/batch-dialog-running");
            dialog.reject();
        });
        BatchDialog::run(nullptr, entries, m_types, m_choices);
        qputenv("LC_ALL", previous);
        EXPECT_TRUE(saved) << language;
    }
}

} // namespace
