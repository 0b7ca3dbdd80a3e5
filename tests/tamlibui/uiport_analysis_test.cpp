// The disc analysis of the sample image through the desktop port: the plugin choice, the progress
// dialog, STOP and the title dialog, with the analysis on its own threads beside the event loop.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <chrono>
#include <memory>
#include <thread>

#include "gui_test.h"
#include "tamlib/cdaz.h"
#include "tamlib/strings.h"
#include "tamlibui/gui_thread.h"
#include "tamlibui/qt_ui_port.h"
#include "uiport_support.h"

namespace {

using uitest::click;
using uitest::ModalUser;

using RecordPtr = std::unique_ptr<CdazRecord, void (*)(CdazRecord*)>;

RecordPtr own(CdazRecord* record)
{
    return RecordPtr(record, PlbFreeCDAZ);
}

// A port whose analysis reads about one sector a millisecond, so that a person (the test) can act
// while it runs: `atThird` is called on the GUI thread at the first update past a third.
class SlowPort : public tamlibui::QtUiPort
{
  public:
    std::function<void()> onWorkerAtThird; // on the analysis' thread, before atThird
    std::function<void(QDialog&)> atThird;
    uint64_t total = 0;
    uint64_t shownAtThird = 0;

    void beginProgress(const std::string& caption, uint64_t all) override
    {
        total = all;
        QtUiPort::beginProgress(caption, all);
    }
    void updateProgress(const tamlib::ProgressState& state) override
    {
        QtUiPort::updateProgress(state);
        if ((atThird || onWorkerAtThird) && !shownAtThird && state.done * 3 >= total && state.done < total) {
            shownAtThird = state.done;
            if (onWorkerAtThird)
                onWorkerAtThird();
            tamlibui::runOnGuiThread([&] {
                QDialog* dialog = progressDialog();
                if (!dialog || !atThird)
                    return;
                // The update just posted reaches the dialog first.
                const QString count = QString::fromStdString(state.count);
                if (!QTest::qWaitFor([&] { return dialog->findChild<QLabel*>("count")->text() == count; }, 2000))
                    ADD_FAILURE() << "the progress " << state.count << " never reached the dialog";
                atThird(*dialog);
            });
        }
    }
    bool stopRequested() override
    {
        std::this_thread::sleep_for(std::chrono::microseconds(800));
        return QtUiPort::stopRequested();
    }
};

class PortAnalysis : public ::testing::Test
{
  protected:
    void SetUp() override { ASSERT_TRUE(m_library.ready()); }

    uitest::Language m_english{"en"};
    uitest::LibraryWithDisc m_library;
    QWidget m_owner;
};

int32_t anaSectorOf(CdazRecord* record)
{
    int32_t sector = 0;
    PlbGetCDAZInfo(record, nullptr, nullptr, nullptr, nullptr, &sector);
    return sector;
}

TEST_F(PortAnalysis, SampleDiscToItsEndThroughTheDialogs)
{
    tamlibui::QtUiPort port;
    tamlib::ScopedUiPort installed(port);
    m_owner.show();
    const int threads = uitest::threadCount();
    int rows = 0;
    ModalUser user;
    user.then("pluginChoiceDialog",
              [&](QDialog& dialog) {
                  EXPECT_EQ(dialog.parentWidget(), &m_owner);
                  auto* list = dialog.findChild<QTreeWidget*>("plugins");
                  rows = list->topLevelItemCount();
                  // The selected plugin describes itself: its name and version first.
                  list->setCurrentItem(list->topLevelItem(1));
                  EXPECT_TRUE(dialog.findChild<QLabel*>("description")
                                  ->text()
                                  .startsWith(list->topLevelItem(1)->text(0) + "  "));
                  click(dialog, "start");
              })
        .then("analysisDoneDialog", [&](QDialog& dialog) {
            EXPECT_TRUE(dialog.findChild<QLabel*>("message")->text().contains("stream"));
            auto* title = dialog.findChild<QLineEdit*>("title");
            title->selectAll();
            QTest::keyClicks(title, "Sample disc A");
            click(dialog, "complete");
        });
    RecordPtr record = own(tamlibui::analyzeCd(&m_owner));
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(user.finished());
    EXPECT_GT(rows, 1); // the build's CD plugins
    char title[PLB_CDAZ_TITLE_BYTES] = {};
    const int32_t streams = PlbGetCDAZInfo(record.get(), nullptr, title, nullptr, nullptr, nullptr);
    EXPECT_GT(streams, 0);
    EXPECT_STREQ(title, "Sample disc A");
    EXPECT_EQ(anaSectorOf(record.get()), -1);
    EXPECT_EQ(m_library.cdazFiles(), 1);
    EXPECT_EQ(port.progressDialog(), nullptr);
    EXPECT_TRUE(QTest::qWaitFor([&] { return uitest::threadCount() <= threads; }, 5000));
}

TEST_F(PortAnalysis, StopMidWayEndsCleanlyWithTheStreamsFoundSoFar)
{
    SlowPort port;
    tamlib::ScopedUiPort installed(port);
    const int threads = uitest::threadCount();
    bool stopEnabled = false;
    port.atThird = [&](QDialog& dialog) {
        stopEnabled = dialog.findChild<QPushButton*>("stop")->isEnabled();
        QTest::mouseClick(dialog.findChild<QPushButton*>("stop"), Qt::LeftButton);
    };
    ModalUser user;
    user.then("pluginChoiceDialog", [](QDialog& dialog) { click(dialog, "start"); })
        .then("analysisDoneDialog", [](QDialog& dialog) { click(dialog, "complete"); });
    RecordPtr record = own(tamlibui::analyzeCd(&m_owner));
    EXPECT_TRUE(stopEnabled);
    ASSERT_GT(port.shownAtThird, 0u);
    // The sample disc has streams in its first third: they are kept, and the record is saved
    // as an interrupted analysis whose stop point follows the last sector read.
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(user.finished());
    EXPECT_GT(PlbGetCDAZInfo(record.get(), nullptr, nullptr, nullptr, nullptr, nullptr), 0);
    const int32_t stopPoint = anaSectorOf(record.get());
    EXPECT_GE(stopPoint, int32_t(port.shownAtThird));
    EXPECT_LT(uint64_t(stopPoint), port.total);
    EXPECT_EQ(m_library.cdazFiles(), 1);
    EXPECT_EQ(port.progressDialog(), nullptr);
    EXPECT_TRUE(QTest::qWaitFor([&] { return uitest::threadCount() <= threads; }, 5000));
}

TEST_F(PortAnalysis, QuestionsOfTheWorkerBelongToTheProgressDialog)
{
    SlowPort port;
    tamlib::ScopedUiPort installed(port);
    QWidget* progress = nullptr;
    QWidget* parent = nullptr;
    port.onWorkerAtThird = [&] {
        // As an unreadable sector asks, from the analysis' thread.
        char format[PLB_STRING_MAX];
        EXPECT_EQ(PlbWarning(&m_owner, PLB_MB_ABORTRETRYIGNORE,
                             PlbLoadString(nullptr, format, PLB_IDS_ANA_READ_ERROR), 700u),
                  PLB_IDABORT);
    };
    ModalUser user;
    user.then("pluginChoiceDialog", [](QDialog& dialog) { click(dialog, "start"); })
        .then("messageBox",
              [&](QDialog& box) {
                  progress = port.progressDialog();
                  parent = box.parentWidget();
                  EXPECT_TRUE(click(box, QString("answer%1").arg(PLB_IDABORT)));
              })
        .then("analysisDoneDialog", [](QDialog& dialog) { click(dialog, "complete"); });
    RecordPtr record = own(tamlibui::analyzeCd(&m_owner));
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(user.finished());
    ASSERT_NE(progress, nullptr);
    EXPECT_EQ(parent, progress);
}

TEST_F(PortAnalysis, OwnerClosedWhileTheAnalysisRunsLeavesItToFinish)
{
    SlowPort port;
    tamlib::ScopedUiPort installed(port);
    auto owner = std::make_unique<QWidget>();
    owner->show();
    const int threads = uitest::threadCount();
    bool progressWentWithIt = false;
    port.atThird = [&](QDialog&) {
        owner.reset(); // the progress dialog is its child and goes with it
        progressWentWithIt = port.progressDialog() == nullptr;
    };
    QWidget* doneParent = reinterpret_cast<QWidget*>(1);
    ModalUser user;
    user.then("pluginChoiceDialog", [](QDialog& dialog) { click(dialog, "start"); })
        .then("analysisDoneDialog", [&](QDialog& dialog) {
            doneParent = dialog.parentWidget();
            click(dialog, "complete");
        });
    RecordPtr record = own(tamlibui::analyzeCd(owner.get()));
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(progressWentWithIt);
    EXPECT_EQ(doneParent, nullptr);
    EXPECT_EQ(anaSectorOf(record.get()), -1); // nobody could press STOP: read to the end
    EXPECT_EQ(m_library.cdazFiles(), 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return uitest::threadCount() <= threads; }, 5000));
}

TEST(PortAnalysisScreenshot, PluginChoiceProgressAndTitleOnTheSampleDisc)
{
    for (const char* language : {"en", "ja"}) {
        uitest::Language chosen(language);
        uitest::LibraryWithDisc library;
        ASSERT_TRUE(library.ready());
        SlowPort port;
        tamlib::ScopedUiPort installed(port);
        port.atThird = [&](QDialog& dialog) { guitest::saveScreenshot(dialog, chosen.code() + "/analysis-progress"); };
        ModalUser user;
        user.then("pluginChoiceDialog",
                  [&](QDialog& dialog) {
                      guitest::saveScreenshot(dialog, chosen.code() + "/analysis-plugins");
                      click(dialog, "start");
                  })
            .then("analysisDoneDialog",
                  [&](QDialog& dialog) {
                      guitest::saveScreenshot(dialog, chosen.code() + "/analysis-done");
                      click(dialog, "complete");
                  })
            .then("adoptDialog", [&](QDialog& dialog) {
                guitest::saveScreenshot(dialog, chosen.code() + "/analysis-adoption");
                click(dialog, "adopt");
            });
        RecordPtr first = own(tamlibui::analyzeCd(nullptr));
        ASSERT_NE(first, nullptr);
        // The second time the record of the first is found in the folder and offered.
        RecordPtr second = own(tamlibui::analyzeCd(nullptr));
        ASSERT_NE(second, nullptr);
        EXPECT_TRUE(user.finished());
    }
}

} // namespace
