// The analysis of the sample disc through the desktop port, its threads beside the event loop:
// to its end, to STOP a third of the way, with its owner closed meanwhile; and the screenshots of
// every dialog of the port.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <chrono>
#include <memory>
#include <optional>
#include <thread>

#include "gui_test.h"
#include "tamlib/strings.h"
#include "tamlibui/gui_thread.h"
#include "tamlibui/qt_ui_port.h"
#include "uiport_support.h"

namespace {

using uitest::click;
using uitest::ModalUser;
using RecordPtr = std::unique_ptr<CdazRecord, void (*)(CdazRecord*)>;

// A port whose analysis reads about a sector a millisecond, so that the test can act while it
// runs: at the first update past a third, `onWorker` runs on the analysis' thread, then `atThird`
// on the GUI thread once the dialog shows that update.
class SlowPort : public tamlibui::QtUiPort
{
  public:
    std::function<void()> onWorker;
    std::function<void(QDialog&)> atThird;
    uint64_t total = 0;
    uint64_t third = 0; // the sector count of that update

    void beginProgress(const std::string& caption, uint64_t all) override
    {
        total = all;
        QtUiPort::beginProgress(caption, all);
    }
    void updateProgress(const tamlib::ProgressState& state) override
    {
        QtUiPort::updateProgress(state);
        if (third || state.done * 3 < total || state.done >= total)
            return;
        third = state.done;
        if (onWorker)
            onWorker();
        tamlibui::runOnGuiThread([&] {
            QDialog* dialog = progressDialog();
            const QString count = QString::fromStdString(state.count);
            if (!dialog ||
                !QTest::qWaitFor([&] { return dialog->findChild<QLabel*>("count")->text() == count; }))
                ADD_FAILURE() << "the progress " << state.count << " never reached the dialog";
            else if (atThird)
                atThird(*dialog);
        });
    }
    bool stopRequested() override
    {
        std::this_thread::sleep_for(std::chrono::microseconds(800));
        return QtUiPort::stopRequested();
    }
};

RecordPtr analyze(QWidget* owner)
{
    return RecordPtr(tamlibui::analyzeCd(owner), PlbFreeCDAZ);
}

int32_t stopPointOf(const RecordPtr& record)
{
    int32_t sector = 0;
    PlbGetCDAZInfo(record.get(), nullptr, nullptr, nullptr, nullptr, &sector);
    return sector;
}

class PortAnalysis : public ::testing::Test
{
  protected:
    void SetUp() override { ASSERT_TRUE(m_library.ready()); }
    void TearDown() override
    {
        EXPECT_TRUE(QTest::qWaitFor([&] { return uitest::threadCount() <= m_threads; }, 5000));
    }

    uitest::Language m_english{"en"};
    uitest::LibraryWithDisc m_library;
    int m_threads = uitest::threadCount();
};

TEST_F(PortAnalysis, SampleDiscToItsEndThroughTheDialogs)
{
    tamlibui::QtUiPort port;
    tamlib::ScopedUiPort installed(port);
    QWidget owner;
    int rows = 0;
    ModalUser user;
    user.then("pluginChoiceDialog",
              [&](QDialog& dialog) {
                  EXPECT_EQ(dialog.parentWidget(), &owner);
                  auto* list = dialog.findChild<QTreeWidget*>("plugins");
                  rows = list->topLevelItemCount();
                  list->setCurrentItem(list->topLevelItem(1)); // it describes itself, name first
                  EXPECT_TRUE(dialog.findChild<QLabel*>("description")
                                  ->text()
                                  .startsWith(list->topLevelItem(1)->text(0) + "  "));
                  click(dialog, "start");
              })
        .then("analysisDoneDialog", [&](QDialog& dialog) {
            dialog.findChild<QLineEdit*>("title")->setText("Sample disc A");
            click(dialog, "complete");
        });
    RecordPtr record = analyze(&owner);
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(user.finished());
    EXPECT_GT(rows, 1); // the build's CD plugins
    char title[PLB_CDAZ_TITLE_BYTES] = {};
    EXPECT_GT(PlbGetCDAZInfo(record.get(), nullptr, title, nullptr, nullptr, nullptr), 0);
    EXPECT_STREQ(title, "Sample disc A");
    EXPECT_EQ(stopPointOf(record), -1);
    EXPECT_EQ(m_library.cdazFiles(), 1);
    EXPECT_EQ(port.progressDialog(), nullptr);
}

TEST_F(PortAnalysis, StopAThirdOfTheWayKeepsTheStreamsFoundSoFar)
{
    SlowPort port;
    tamlib::ScopedUiPort installed(port);
    QWidget owner;
    QWidget* boxParent = nullptr;
    // A question of the analysis' thread (as for an unreadable sector) belongs to its dialog.
    port.onWorker = [&] { PlbWarning(&owner, PLB_MB_ABORTRETRYIGNORE, "sector %u", 700u); };
    port.atThird = [&](QDialog& dialog) {
        dialog.close(); // neither closing nor Escape ends a running analysis
        QTest::keyClick(&dialog, Qt::Key_Escape);
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_FALSE(port.stopRequested());
        QTest::mouseClick(dialog.findChild<QPushButton*>("stop"), Qt::LeftButton);
        EXPECT_TRUE(port.stopRequested());
    };
    ModalUser user;
    user.then("pluginChoiceDialog", [](QDialog& dialog) { click(dialog, "start"); })
        .then("messageBox",
              [&](QDialog& box) {
                  boxParent = box.parentWidget();
                  EXPECT_EQ(boxParent, port.progressDialog());
                  click(box, QString("answer%1").arg(PLB_IDIGNORE));
              })
        .then("analysisDoneDialog", [](QDialog& dialog) { click(dialog, "complete"); });
    RecordPtr record = analyze(&owner);
    // The sample disc has streams in its first third: the record keeps them and is saved as an
    // interrupted analysis whose stop point follows the last sector read.
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(user.finished());
    EXPECT_NE(boxParent, nullptr);
    EXPECT_GT(PlbGetCDAZInfo(record.get(), nullptr, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_GE(stopPointOf(record), int32_t(port.third));
    EXPECT_LT(uint64_t(stopPointOf(record)), port.total);
    EXPECT_EQ(m_library.cdazFiles(), 1);
    EXPECT_EQ(port.progressDialog(), nullptr);
}

TEST_F(PortAnalysis, OwnerClosedWhileTheAnalysisRunsLeavesItToFinish)
{
    SlowPort port;
    tamlib::ScopedUiPort installed(port);
    auto owner = std::make_unique<QWidget>();
    bool progressWentWithIt = false;
    port.atThird = [&](QDialog&) {
        owner.reset(); // the progress dialog is its child
        progressWentWithIt = port.progressDialog() == nullptr;
    };
    std::optional<QWidget*> doneParent;
    ModalUser user;
    user.then("pluginChoiceDialog", [](QDialog& dialog) { click(dialog, "start"); })
        .then("analysisDoneDialog", [&](QDialog& dialog) {
            doneParent = dialog.parentWidget();
            click(dialog, "complete");
        });
    RecordPtr record = analyze(owner.get());
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(progressWentWithIt);
    EXPECT_EQ(doneParent, std::optional<QWidget*>(nullptr));
    EXPECT_EQ(stopPointOf(record), -1); // nobody could press STOP
    EXPECT_EQ(m_library.cdazFiles(), 1);
}

TEST(PortScreenshot, EveryDialogInBothLanguages)
{
    for (const char* language : {"en", "ja"}) {
        uitest::Language chosen(language);
        uitest::LibraryWithDisc library;
        ASSERT_TRUE(library.ready());
        SlowPort port;
        tamlib::ScopedUiPort installed(port);
        auto shoot = [&](const char* name, const char* button) {
            return [&, name, button](QDialog& dialog) {
                guitest::saveScreenshot(dialog, chosen.code() + "/" + name);
                EXPECT_TRUE(click(dialog, button)) << name;
            };
        };
        port.atThird = [&](QDialog& dialog) {
            guitest::saveScreenshot(dialog, chosen.code() + "/analysis-progress");
        };
        ModalUser user;
        user.then("pluginChoiceDialog", shoot("analysis-plugins", "start"))
            .then("analysisDoneDialog", shoot("analysis-done", "complete"))
            .then("adoptDialog", shoot("analysis-adoption", "adopt"))
            .then("messageBox", shoot("message-read-error", "answer5"))
            .then("choiceDialog", shoot("choose-drive", "ok"))
            .then("codecDialog", shoot("avi-codec", "ok"));
        EXPECT_NE(analyze(nullptr), nullptr);
        // The second time the record of the first is found in the folder and offered.
        EXPECT_NE(analyze(nullptr), nullptr);
        char format[PLB_STRING_MAX];
        PlbWarning(nullptr, PLB_MB_ABORTRETRYIGNORE, PlbLoadString(nullptr, format, PLB_IDS_ANA_READ_ERROR),
                   1234u);
        tamlib::ChoiceRequest drives;
        drives.caption = tamlibui::tableText(PLB_IDS_CHOOSE_DRIVE).toStdString();
        drives.items = {"0: HL-DT-ST DVDRAM GH24NSD1", "1: IMAGE psxdisc_a.cue"};
        port.choose(drives);
        tamlib::CodecChoiceRequest codecs;
        codecs.codecs = {{0x47504A4D, "mjpeg", "Motion JPEG", 1, 8000},
                         {0x34504D46, "mpeg4", "MPEG-4 part 2", 12, 7500}};
        codecs.codec = 1;
        codecs.dataRateKb = 300;
        port.chooseVideoCodec(codecs);
        EXPECT_TRUE(user.finished());
    }
}

} // namespace
