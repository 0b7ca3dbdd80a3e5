// The main window driven as a user drives it: stream files opened (by path, twice, and dropped),
// the sample disc image mounted and analysed through the real dialogs while the event loop keeps
// running, a movie previewed to its end on the null sound device, the frame on screen saved as a
// BMP and copied, and the window's states saved as screenshots in both languages.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QSignalSpy>
#include <QSlider>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "cli/picture_compare.h"
#include "discport/discport.h"
#include "gui_test.h"
#include "main_window.h"
#include "program_translator.h"
#include "tamlib/cdaz.h"
#include "tamlib/environment.h"
#include "tamlib/strings.h"
#include "tamlib/ui_port.h"
#include "tamlibui/qt_ui_port.h"
#include "tamlibui/settings_dialog.h"
#include "tamlibui/viewer.h"
#include "uiport_support.h"

using namespace tamrin;

namespace {

QString sampleMovie()
{
    return QString(TAMRIN_TEST_DATA) + "/movies/mv1_v2_320x240_15fps_xa37800s.str";
}

QString sampleDisc()
{
    return QString(TAMRIN_TEST_DATA) + "/disc/psxdisc_a.cue";
}

// The worst gap between the ticks of a 5 ms timer while it lives: how long the event loop was
// kept from its events.
class LoopWatch
{
  public:
    LoopWatch()
    {
        m_clock.start();
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.elapsed();
            m_worst = std::max(m_worst, now - m_last);
            m_last = now;
        });
        m_timer.start();
    }
    qint64 worstGapMs() const { return m_worst; }

  private:
    QElapsedTimer m_clock;
    QTimer m_timer;
    qint64 m_last = 0;
    qint64 m_worst = 0;
};

// Answers the analysis' dialogs: every CD plugin, then the default title.
void answerAnalysis(uitest::ModalUser& user)
{
    user.then("pluginChoiceDialog", [](QDialog& dialog) { uitest::click(dialog, "start"); })
        .then("analysisDoneDialog", [](QDialog& dialog) { uitest::click(dialog, "complete"); });
}

class MainWindowTest : public testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_library.ready());
        m_window.setSoundDriver("null");
        m_window.resize(960, 560);
    }

    int rowOf(const QString& title) const
    {
        for (int row = 0; row < m_window.entryCount(); ++row)
            if (m_window.entry(row).title == title)
                return row;
        return -1;
    }

    bool openDisc()
    {
        uitest::ModalUser user;
        answerAnalysis(user);
        return m_window.openDiscImage(sampleDisc()) && user.finished();
    }

    uitest::Language m_english{"en"};
    uitest::LibraryWithDisc m_library;
    tamlibui::QtUiPort m_port;
    tamlib::ScopedUiPort m_installed{m_port};
    MainWindow m_window;
};

} // namespace

TEST_F(MainWindowTest, StartsEmptyWithItsColumnsPagesAndCommands)
{
    QTreeWidget* list = m_window.streamList();
    ASSERT_EQ(list->columnCount(), 4);
    EXPECT_EQ(list->headerItem()->text(MainWindow::kColStream), "Stream");
    EXPECT_EQ(list->headerItem()->text(MainWindow::kColTime), "Time");
    EXPECT_EQ(list->headerItem()->text(MainWindow::kColPlugin), "Plug-in");
    EXPECT_EQ(list->headerItem()->text(MainWindow::kColConversion), "Convertion");
    ASSERT_EQ(m_window.tabs()->count(), 3);
    EXPECT_EQ(m_window.tabs()->tabText(MainWindow::kPagePreview), "Preview");
    EXPECT_EQ(m_window.entryCount(), 0);
    for (int id : {40005, 40006, 40051, 40058, 40057, 40060, 40007, 40008, 40009, 40012, 40013, 40014, 40015,
                   40016, 40019, 40020, 40031, 40032, 40033})
        EXPECT_NE(m_window.action(id), nullptr) << id;
    // The conversion commands carry the library's names of the types.
    EXPECT_EQ(m_window.action(40005)->text(), tamlibui::tableText(PLB_IDS_TO_AVI));
    EXPECT_FALSE(m_window.action(40005)->text().isEmpty());

    // Starting a conversion is left to whoever listens.
    QSignalSpy start(&m_window, &MainWindow::startConversionRequested);
    m_window.action(40015)->trigger();
    EXPECT_EQ(start.count(), 1);
}

TEST_F(MainWindowTest, StreamFilesAreListedOnceWhetherOpenedOrDropped)
{
    EXPECT_EQ(m_window.openPaths({sampleMovie()}), 1);
    ASSERT_EQ(m_window.entryCount(), 1);
    const StreamEntry& movie = m_window.entry(0);
    EXPECT_EQ(movie.discIndex, -1);
    EXPECT_EQ(uint32_t{movie.info.durationMs}, 3000u); // StrInfo is packed: compared by value
    EXPECT_TRUE(movie.info.kind & kKindVideo);
    EXPECT_EQ(movie.conversion, Conversion::Avi);
    QTreeWidgetItem* row = m_window.streamList()->topLevelItem(0);
    EXPECT_EQ(row->text(MainWindow::kColStream), "mv1_v2_320x240_15fps_xa37800s.str");
    EXPECT_EQ(row->text(MainWindow::kColTime), "00:03");
    EXPECT_EQ(row->text(MainWindow::kColPlugin), movie.plugin);
    EXPECT_FALSE(movie.plugin.isEmpty());
    EXPECT_EQ(row->text(MainWindow::kColConversion), tamlibui::tableText(PLB_IDS_TO_AVI));

    // The same file again, through another spelling of its path, or dropped: still one row.
    EXPECT_FALSE(m_window.openStreamFile(QString(TAMRIN_TEST_DATA) +
                                         "/movies/../movies/mv1_v2_320x240_15fps_xa37800s.str"));
    QMimeData data;
    data.setUrls(
        {QUrl::fromLocalFile(sampleMovie()),
         QUrl::fromLocalFile(QString(TAMRIN_TEST_DATA) + "/movies/mv3_v2_256x224_15fps_xa18900m.str")});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&m_window, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&m_window, &drop);
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_window.entryCount() == 2; }, 3000));
    QTest::qWait(50);
    EXPECT_EQ(m_window.entryCount(), 2);

    // Names that differ only in case are different files on this system: both are listed.
    testsupport::ScratchFolder folder{"tamrin-case"};
    const QString upper = QString::fromStdString((folder.path() / "Movie.str").string());
    const QString lower = QString::fromStdString((folder.path() / "movie.str").string());
    ASSERT_TRUE(QFile::copy(sampleMovie(), upper));
    ASSERT_TRUE(QFile::copy(sampleMovie(), lower));
    EXPECT_EQ(m_window.openPaths({upper, lower, lower}), 2);
    ASSERT_EQ(m_window.entryCount(), 4);
    m_window.streamList()->clearSelection();
    for (int row : {2, 3})
        m_window.streamList()->topLevelItem(row)->setSelected(true);
    m_window.removeSelected();
    ASSERT_EQ(m_window.entryCount(), 2);

    // The information page describes the current entry.
    m_window.streamList()->setCurrentItem(m_window.streamList()->topLevelItem(1));
    EXPECT_TRUE(m_window.informationPage()->toPlainText().contains("256 x 224"));

    // Only movies take "to MIDI": nothing changes; "to WAVE" is allowed for a movie with sound.
    m_window.streamList()->selectAll();
    EXPECT_EQ(m_window.setSelectedConversion(Conversion::Midi), 0);
    EXPECT_EQ(m_window.setSelectedConversion(Conversion::Wave), 2);
    EXPECT_EQ(m_window.entry(0).conversion, Conversion::Wave);
    m_window.removeSelected();
    EXPECT_EQ(m_window.entryCount(), 0);
}

TEST_F(MainWindowTest, MoviePreviewsToItsEndAndItsFrameIsSavedAndCopied)
{
    m_window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_window));
    ASSERT_EQ(m_window.openPaths({sampleMovie()}), 1);
    ASSERT_TRUE(m_window.previewRow(0));
    EXPECT_EQ(m_window.tabs()->currentIndex(), MainWindow::kPagePreview);
    tamlibui::ViewerPanel* viewer = m_window.viewer();
    QSignalSpy ended(viewer, &tamlibui::ViewerPanel::ended);
    m_window.action(40024)->trigger(); // play
    ASSERT_TRUE(ended.wait(8000));
    EXPECT_GE(viewer->frameView()->framesReceived(), m_window.entry(0).info.frameCount * 8 / 10);

    testsupport::ScratchFolder folder{"tamrin-frame"};
    const QString path = QString::fromStdString((folder.path() / "frame.bmp").string());
    ASSERT_TRUE(m_window.saveFrame(path));
    std::ifstream file(path.toStdString(), std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(file), {}};
    std::string error;
    const auto picture = clitest::parseBmp(bytes, error);
    ASSERT_TRUE(picture) << error;
    EXPECT_GT(picture->width, 0);
    EXPECT_GT(picture->height, 0);
    // Not a blank picture: the movie's last frame has more than one colour.
    const auto [lo, hi] = std::minmax_element(picture->rgb.begin(), picture->rgb.end());
    EXPECT_LT(*lo + 16, int(*hi));

    ASSERT_TRUE(m_window.copyFrame());
    EXPECT_FALSE(QApplication::clipboard()->image().isNull());

    // A frame asked for with nothing on screen fails instead of writing an empty file.
    viewer->closePlayer();
    QString why;
    const QString none = QString::fromStdString((folder.path() / "none.bmp").string());
    EXPECT_FALSE(m_window.saveFrame(none, &why));
    EXPECT_FALSE(why.isEmpty());
    EXPECT_FALSE(QFile::exists(none));
    EXPECT_FALSE(m_window.copyFrame());
}

TEST_F(MainWindowTest, DiscImageIsMountedAnalysedAndListedWhileTheWindowResponds)
{
    m_window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_window));
    ASSERT_EQ(m_window.openPaths({sampleMovie()}), 1);
    QSignalSpy changed(&m_window, &MainWindow::discChanged);
    qint64 worst = 0;
    {
        LoopWatch watch;
        ASSERT_TRUE(openDisc());
        worst = watch.worstGapMs();
    }
    RecordProperty("worst_event_loop_gap_ms", int(worst));
    std::printf("worst event-loop gap during the analysis: %lld ms\n", static_cast<long long>(worst));
    EXPECT_LT(worst, 250);
    EXPECT_TRUE(m_window.discOpen());
    EXPECT_EQ(changed.count(), 1);
    ASSERT_EQ(m_window.tabs()->count(), 4);
    EXPECT_EQ(m_window.tabs()->tabText(MainWindow::kPageCdaz), "CDAZ");
    EXPECT_EQ(m_window.action(40013)->text(), "Close CD-&ROM");

    int discRows = 0, movies = 0;
    for (int row = 0; row < m_window.entryCount(); ++row) {
        const StreamEntry& e = m_window.entry(row);
        if (!e.isDiscStream())
            continue;
        ++discRows;
        movies += (e.info.kind & kKindVideo) ? 1 : 0;
        EXPECT_FALSE(e.plugin.isEmpty()) << row;
        EXPECT_GT(uint32_t{e.info.sectorCount}, 0u) << row;
    }
    EXPECT_GT(discRows, 1);
    EXPECT_GT(movies, 0);

    // "to AVI" over everything changes the movies only.
    m_window.streamList()->selectAll();
    for (int row = 0; row < m_window.entryCount(); ++row)
        EXPECT_TRUE(m_window.streamList()->topLevelItem(row)->isSelected());
    EXPECT_EQ(m_window.setSelectedConversion(Conversion::Avi), movies + 1);

    // A disc movie previews from the mounted image.
    for (int row = 0; row < m_window.entryCount(); ++row) {
        if (m_window.entry(row).isDiscStream() && (m_window.entry(row).info.kind & kKindVideo)) {
            EXPECT_TRUE(m_window.previewRow(row));
            EXPECT_TRUE(QTest::qWaitFor([&] { return m_window.viewer()->frameView()->hasFrame(); }, 3000));
            break;
        }
    }

    // Audio only hides the disc's movies but never the file opened from disk.
    m_window.setFilter(6);
    int fileRows = 0;
    for (int row = 0; row < m_window.entryCount(); ++row) {
        const StreamEntry& e = m_window.entry(row);
        fileRows += e.isDiscStream() ? 0 : 1;
        if (e.isDiscStream()) {
            EXPECT_FALSE(e.info.kind & kKindVideo) << row;
        }
    }
    EXPECT_EQ(fileRows, 1);
    EXPECT_FALSE(m_window.action(40052)->isChecked());
    EXPECT_TRUE(m_window.action(40053)->isChecked());
    m_window.action(40052)->trigger(); // movies again: the hidden streams come back
    EXPECT_EQ(m_window.filter(), 7);
    EXPECT_EQ(m_window.entryCount(), discRows + 1);

    // A stream taken off the list is offered again on the next filter change, unless the disc
    // marks it hidden.
    auto rowOfStream = [&](int32_t index) {
        for (int row = 0; row < m_window.entryCount(); ++row)
            if (m_window.entry(row).discIndex == index)
                return row;
        return -1;
    };
    for (int32_t flag : {0, PLB_CDAZ_STREAM_NO_PLUGIN}) {
        const int row = rowOfStream(0);
        ASSERT_GE(row, 0) << flag;
        m_window.streamList()->clearSelection();
        m_window.streamList()->topLevelItem(row)->setSelected(true);
        m_window.removeSelected();
        ASSERT_EQ(PlbSetCDAZStream(m_window.disc(), 0, nullptr, nullptr, 0xF1, flag), 1);
        m_window.setFilter(kFilterAll);
        EXPECT_EQ(rowOfStream(0) >= 0, flag == 0) << flag;
        // Whatever the disc now marks hidden is off the list.
        for (int row = 0; row < m_window.entryCount(); ++row) {
            if (!m_window.entry(row).isDiscStream())
                continue;
            int32_t flags = 0;
            ASSERT_EQ(PlbGetCDAZStream(m_window.disc(), m_window.entry(row).discIndex, nullptr, nullptr,
                                       &flags, nullptr),
                      1);
            EXPECT_EQ(flags & 0xF1, 0) << m_window.entry(row).title.toStdString();
        }
    }

    // Closing the disc leaves the stream file.
    m_window.closeDisc();
    EXPECT_FALSE(m_window.discOpen());
    EXPECT_EQ(m_window.entryCount(), 1);
    EXPECT_EQ(m_window.tabs()->count(), 3);
    EXPECT_EQ(m_window.action(40013)->text(), "Open and Analyze CD-&ROM");
}

TEST_F(MainWindowTest, UnreadableInputIsRefusedWithAMessage)
{
    testsupport::ScratchFolder folder{"tamrin-badinput"};
    const std::string cue = (folder.path() / "broken.cue").string();
    std::ofstream(cue) << "FILE \"missing.bin\" BINARY\n  TRACK 01 MODE2/2352\n    INDEX 01 00:00:00\n";
    const std::string text = (folder.path() / "notes.str").string();
    std::ofstream(text) << "not a stream at all\n";
    const QStringList inputs = {QString::fromStdString(cue), QString::fromStdString(text),
                                QString::fromStdString((folder.path() / "absent.str").string())};
    for (const QString& input : inputs) {
        // Each refusal is one message box that says which file.
        QString shown;
        QTimer::singleShot(100, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                shown = box->text();
                box->reject();
            }
        });
        EXPECT_EQ(m_window.openPaths({input}), 0) << input.toStdString();
        EXPECT_TRUE(shown.contains(QFileInfo(input).fileName())) << shown.toStdString();
    }
    EXPECT_FALSE(m_window.discOpen());
    EXPECT_EQ(m_window.entryCount(), 0);
}

// Runs `command` and returns the modal dialog it opened (closed again), or null.
template <typename Dialog> Dialog* modalOf(QAction* command, QString* title)
{
    QPointer<Dialog> seen;
    QTimer::singleShot(200, [&] {
        if (auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget())) {
            seen = dialog;
            *title = dialog->windowTitle();
            dialog->reject();
        }
    });
    command->trigger();
    return seen.data();
}

TEST_F(MainWindowTest, SettingsAboutAndTheNeighbouringStreams)
{
    m_window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_window));
    QString title;
    modalOf<tamlibui::SettingsDialog>(m_window.action(40016), &title);
    EXPECT_FALSE(title.isEmpty()); // the settings dialog opened
    title.clear();
    modalOf<QDialog>(m_window.action(40019), &title);
    EXPECT_TRUE(title.contains("Tamrin")) << title.toStdString();

    ASSERT_EQ(m_window.openPaths({sampleMovie(), QString(TAMRIN_TEST_DATA) +
                                                     "/movies/mv4_v3_160x112_15fps_x1_xa37800s.str"}),
              2);
    ASSERT_TRUE(m_window.previewRow(0));
    m_window.action(40035)->trigger(); // next: the second movie plays
    EXPECT_EQ(m_window.streamList()->currentItem(), m_window.streamList()->topLevelItem(1));
    ASSERT_NE(m_window.viewer()->player(), nullptr);
    EXPECT_EQ(PlbGetPlayerStatus(m_window.viewer()->player()), PLB_STATE_PLAYING);
    EXPECT_EQ(m_window.viewer()->playControl()->length(), uint32_t{m_window.entry(1).info.durationMs});
    m_window.action(40035)->trigger(); // past the last: nothing changes
    EXPECT_EQ(m_window.streamList()->currentItem(), m_window.streamList()->topLevelItem(1));
    m_window.action(40034)->trigger(); // previous
    EXPECT_EQ(m_window.streamList()->currentItem(), m_window.streamList()->topLevelItem(0));
    EXPECT_EQ(m_window.viewer()->playControl()->length(), 3000u);

    // "All streams in order": the end of the first starts the second.
    m_window.action(40041)->trigger();
    EXPECT_EQ(m_window.viewer()->playControl()->playMode(), 2);
    EXPECT_EQ(m_window.viewer()->playControl()->state(), tamlibui::PlayControl::kStatePlaying);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return m_window.streamList()->currentItem() == m_window.streamList()->topLevelItem(1); },
        8000));
    EXPECT_EQ(m_window.viewer()->playControl()->length(), uint32_t{m_window.entry(1).info.durationMs});
    m_window.action(40039)->trigger();
    EXPECT_EQ(m_window.viewer()->playControl()->playMode(), 0);
    m_window.action(40034)->trigger();

    // The row on show moves up when a row above it goes: "previous" then has nothing before it.
    const uint32_t second = m_window.entry(1).info.durationMs;
    m_window.action(40035)->trigger();
    m_window.streamList()->clearSelection();
    m_window.streamList()->topLevelItem(0)->setSelected(true);
    m_window.removeSelected();
    ASSERT_EQ(m_window.entryCount(), 1);
    ASSERT_NE(m_window.viewer()->player(), nullptr);
    EXPECT_EQ(m_window.viewer()->playControl()->length(), second);
    m_window.action(40034)->trigger();
    EXPECT_EQ(m_window.viewer()->playControl()->length(), second);
    EXPECT_EQ(PlbGetPlayerStatus(m_window.viewer()->player()), PLB_STATE_PLAYING);
    // Removing the stream on show closes its player.
    m_window.streamList()->selectAll();
    m_window.removeSelected();
    EXPECT_EQ(m_window.viewer()->player(), nullptr);
}

TEST_F(MainWindowTest, MountedImageIsTheDriveOfTheWindowsLifeOnly)
{
    const int32_t stored = PlbGetCdDrive(nullptr, nullptr, nullptr);
    {
        MainWindow window;
        uitest::ModalUser user;
        answerAnalysis(user);
        ASSERT_TRUE(window.openDiscImage(sampleDisc()));
        EXPECT_NE(PlbGetCdDrive(nullptr, nullptr, nullptr), stored);
        // A second image replaces the first: the analysis stored a moment ago is adopted.
        uitest::ModalUser again;
        again.then("adoptDialog", [](QDialog& dialog) { uitest::click(dialog, "adopt"); });
        EXPECT_TRUE(window.openDiscImage(sampleDisc()));
        EXPECT_TRUE(again.finished());
        EXPECT_GT(window.entryCount(), 1);
    }
    EXPECT_EQ(PlbGetCdDrive(nullptr, nullptr, nullptr), stored);
}

// ---- the options record --------------------------------------------------------------------

namespace {

template <typename T> T storedAt(const TamrinOptions& options, size_t offset)
{
    const auto bytes = writeOptions(options);
    T value{};
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

TamrinOptions recordIn(const std::filesystem::path& base)
{
    OptionsEnvironment environment;
    environment.baseFolder = base;
    environment.createFolders = false;
    return defaultOptions(environment);
}

// A window on a record of its own, as the program gives it.
class MainWindowOptionsTest : public testing::Test
{
  protected:
    void SetUp() override { ASSERT_TRUE(m_library.ready()); }

    std::unique_ptr<MainWindow> makeWindow()
    {
        auto window = std::make_unique<MainWindow>(&m_record);
        window->setSoundDriver("null");
        return window;
    }

    uitest::Language m_english{"en"};
    uitest::LibraryWithDisc m_library;
    tamlibui::QtUiPort m_port;
    tamlib::ScopedUiPort m_installed{m_port};
    testsupport::ScratchFolder m_base{"tamrin-record"};
    TamrinOptions m_record = recordIn(m_base.path());
};

} // namespace

TEST_F(MainWindowOptionsTest, StartsFromTheRecordAndKeepsEveryChangeAtItsOffset)
{
    m_record.listFilter = 6;
    m_record.playMode = kPlayAll;
    m_record.volume = 55;
    m_record.previewSize = kPreviewHalf;
    m_record.previewFlags = kPreviewKeepSize;
    auto window = makeWindow();
    EXPECT_EQ(window->filter(), 6);
    EXPECT_FALSE(window->action(40052)->isChecked());
    EXPECT_TRUE(window->action(40053)->isChecked());
    EXPECT_TRUE(window->action(40041)->isChecked());
    EXPECT_EQ(window->viewer()->playControl()->playMode(), 2);
    EXPECT_EQ(window->viewer()->playControl()->volume(), 55);
    EXPECT_TRUE(window->action(40061)->isChecked());
    EXPECT_TRUE(window->action(40066)->isChecked());
    EXPECT_FALSE(window->action(40065)->isChecked());

    struct Step
    {
        const char* what;
        std::function<void()> act;
        size_t offset;
        size_t size;
        int64_t expected;
    };
    const std::vector<Step> steps = {
        {"everything", [&] { window->action(40048)->trigger(); }, 0x638, 4, 15},
        {"movies only", [&] { window->action(40049)->trigger(); }, 0x638, 4, 1},
        {"music toggled on", [&] { window->action(40054)->trigger(); }, 0x638, 4, 5},
        {"repeat", [&] { window->action(40040)->trigger(); }, 0x624, 4, kPlayRepeat},
        {"mode from the control's button",
         [&] {
             static_cast<QAbstractButton*>(
                 window->viewer()->playControl()->control(tamlibui::PlayControl::kPlayMode))
                 ->click();
         },
         0x624, 4, kPlayAll},
        {"volume from the control's slider",
         [&] {
             static_cast<QSlider*>(window->viewer()->playControl()->control(tamlibui::PlayControl::kVolume))
                 ->setValue(23);
         },
         0x65C, 2, 23},
        {"volume command", [&] { window->setVolume(80); }, 0x65C, 2, 80},
        {"enlarged", [&] { window->action(40063)->trigger(); }, 0x688, 2, kPreviewEnlarged},
        {"on top", [&] { window->action(40065)->trigger(); }, 0x68A, 2, kPreviewKeepSize | kPreviewOnTop},
        {"keep size off", [&] { window->action(40066)->trigger(); }, 0x68A, 2, kPreviewOnTop},
        {"sorted by plug-in", [&] { window->setSortKey(MainWindow::kColPlugin); }, 0x64A, 2, 2},
        {"sort key out of range", [&] { window->setSortKey(9); }, 0x64A, 2, 0},
    };
    for (const Step& step : steps) {
        step.act();
        const int64_t stored = step.size == 4 ? int64_t(storedAt<int32_t>(m_record, step.offset))
                                              : int64_t(storedAt<uint16_t>(m_record, step.offset));
        EXPECT_EQ(stored, step.expected) << step.what;
    }
    EXPECT_EQ(window->viewer()->playControl()->volume(), 80);

    // The pop-up preview keeps its place in the record; closing it puts the preview back.
    window->show();
    window->setPopupPreview(true);
    ASSERT_TRUE(window->popupPreview());
    EXPECT_EQ(window->tabs()->count(), 3);
    EXPECT_NE(window->tabs()->widget(MainWindow::kPagePreview), window->viewer());
    window->viewer()->window()->move(140, 90);
    QTest::qWait(50);
    EXPECT_EQ(storedAt<int32_t>(m_record, 0x680), 140);
    EXPECT_EQ(storedAt<int32_t>(m_record, 0x684), 90);
    window->viewer()->window()->close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window->popupPreview(); }, 2000));
    EXPECT_EQ(window->tabs()->widget(MainWindow::kPagePreview), window->viewer());
    EXPECT_FALSE(window->action(40067)->isChecked());
}

TEST_F(MainWindowOptionsTest, NewEntriesTakeTheStoredDefaultOfTheirKind)
{
    auto window = makeWindow();
    struct Case
    {
        char (TamrinOptions::*field)[kConversionNameBytes];
        const char* stored;
        uint16_t kind;
        Conversion expected;
    };
    const Conversion mp3 = window->mp3Available() ? Conversion::Mp3 : Conversion::None;
    const std::vector<Case> cases = {
        {&TamrinOptions::videoConversion, "CSTR", kKindVideo | kKindAudio, Conversion::Cstr},
        {&TamrinOptions::videoConversion, "avi", kKindVideo, Conversion::Avi},
        {&TamrinOptions::videoConversion, "XYZ", kKindVideo, Conversion::None},
        {&TamrinOptions::videoConversion, "WAVE", kKindVideo, Conversion::None}, // not for movies
        {&TamrinOptions::videoConversion, "", kKindVideo, Conversion::None},
        {&TamrinOptions::audioConversion, "MP3", kKindAudio, mp3},
        {&TamrinOptions::audioConversion, "WAVE", kKindAudio, Conversion::Wave},
        {&TamrinOptions::stillConversion, "BMP", kKindStill, Conversion::Bmp},
        {&TamrinOptions::musicConversion, "MID", kKindMusic, Conversion::Midi},
        {&TamrinOptions::musicConversion, "AVI", kKindMusic, Conversion::None},
        {&TamrinOptions::videoConversion, "AVI", 0, Conversion::None},
    };
    for (const Case& c : cases) {
        TamrinOptions saved = m_record;
        setFieldText(m_record.*c.field, c.stored);
        EXPECT_EQ(window->newEntryConversion(c.kind), c.expected) << c.stored << " kind " << c.kind;
        m_record = saved;
    }
    // A full field without its final zero is read to its width, not past it.
    std::memcpy(m_record.videoConversion, "AVIAVIA", kConversionNameBytes);
    EXPECT_EQ(window->newEntryConversion(kKindVideo), Conversion::None);

    // An opened movie gets the stored default; MP3 is offered only with the encoder.
    setFieldText(m_record.videoConversion, "CSTR");
    ASSERT_EQ(window->openPaths({sampleMovie()}), 1);
    EXPECT_EQ(window->entry(0).conversion, Conversion::Cstr);
    EXPECT_EQ(window->action(40060)->isEnabled(), window->mp3Available());
}

TEST_F(MainWindowOptionsTest, DiscStreamTitleIsStoredInTheCdaz)
{
    auto window = makeWindow();
    uitest::ModalUser user;
    answerAnalysis(user);
    ASSERT_TRUE(window->openDiscImage(sampleDisc()));
    ASSERT_TRUE(window->openPaths({sampleMovie()}) == 1);
    int discRow = -1, fileRow = -1;
    for (int row = 0; row < window->entryCount(); ++row)
        (window->entry(row).isDiscStream() ? discRow : fileRow) = row;
    ASSERT_GE(discRow, 0);
    ASSERT_GE(fileRow, 0);
    const int32_t index = window->entry(discRow).discIndex;
    const QString title = QString::fromUtf8("Opening – 序章");
    ASSERT_TRUE(window->setDiscTitle(discRow, title));
    EXPECT_EQ(window->entry(discRow).title, title);
    EXPECT_EQ(window->streamList()->topLevelItem(discRow)->text(MainWindow::kColStream), title);
    std::array<char, PLB_CDAZ_STREAM_NAME_BYTES> name{};
    ASSERT_EQ(PlbGetCDAZStream(window->disc(), index, nullptr, name.data(), nullptr, nullptr), 1);
    EXPECT_EQ(QString::fromUtf8(name.data()), title);
    // The file itself carries it.
    std::array<char, PLB_CDAZ_NAME_BYTES> file{};
    PlbGetCDAZInfo(window->disc(), file.data(), nullptr, nullptr, nullptr, nullptr);
    int32_t status = 0;
    const PlbCdazLoad stored = PlbReadCDAZ(nullptr, file.data(), &status);
    ASSERT_NE(stored.record, nullptr);
    name.fill(0);
    EXPECT_EQ(PlbGetCDAZStream(stored.record, index, nullptr, name.data(), nullptr, nullptr), 1);
    EXPECT_EQ(QString::fromUtf8(name.data()), title);
    PlbFreeCDAZ(stored.record);

    // The command asks for the title of the current stream.
    window->streamList()->setCurrentItem(window->streamList()->topLevelItem(discRow));
    QString offered;
    QTimer::singleShot(150, [&] {
        if (auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget())) {
            offered = dialog->textValue();
            dialog->setTextValue("  Second title ");
            dialog->accept();
        }
    });
    window->action(40011)->trigger();
    EXPECT_EQ(offered, title);
    EXPECT_EQ(window->entry(discRow).title, "Second title");
    name.fill(0);
    PlbGetCDAZStream(window->disc(), index, nullptr, name.data(), nullptr, nullptr);
    EXPECT_STREQ(name.data(), "Second title");
    const QString renamed = window->entry(discRow).title;

    // A stream file has no CDAZ; an empty or overlong title is refused; nothing changes.
    EXPECT_FALSE(window->setDiscTitle(fileRow, "x"));
    EXPECT_FALSE(window->setDiscTitle(discRow, ""));
    EXPECT_FALSE(window->setDiscTitle(discRow, QString(PLB_CDAZ_STREAM_NAME_BYTES, 'a')));
    EXPECT_FALSE(window->setDiscTitle(window->entryCount(), "x"));
    EXPECT_EQ(window->entry(discRow).title, renamed);
}

TEST_F(MainWindowOptionsTest, FoldersPagesAndTheManualAreOpenedThroughTheOpener)
{
    auto window = makeWindow();
    std::vector<QUrl> opened;
    bool opens = true;
    window->setUrlOpener([&](const QUrl& url) {
        opened.push_back(url);
        return opens;
    });
    const std::filesystem::path base = m_base.path();
    const std::pair<int, std::filesystem::path> folders[] = {
        {40036, base / "Movie"}, {40037, base / "Audio"}, {40038, base / "Bitmap"}};
    for (const auto& [id, folder] : folders) {
        opened.clear();
        window->action(id)->trigger();
        ASSERT_EQ(opened.size(), 1u) << id;
        EXPECT_EQ(opened[0], QUrl::fromLocalFile(QString::fromStdString(folder.string()))) << id;
        EXPECT_TRUE(std::filesystem::is_directory(folder)) << id; // made when missing
    }
    for (int id = 40043; id <= 40047; ++id) {
        opened.clear();
        window->action(id)->trigger();
        ASSERT_EQ(opened.size(), 1u) << id;
        EXPECT_EQ(opened[0].scheme(), "https") << id;
    }

    // A refused folder and a missing manual are told, never opened.
    auto shown = [&](QAction* command) {
        QString text;
        QTimer::singleShot(100, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                text = box->text();
                box->accept();
            }
        });
        command->trigger();
        return text;
    };
    opens = false;
    EXPECT_TRUE(shown(window->action(40038)).contains(QString::fromStdString((base / "Bitmap").string())));
    opened.clear();
    const QString manual = shown(window->action(40018));
    EXPECT_TRUE(manual.startsWith("HTML manual   '")) << manual.toStdString();
    EXPECT_TRUE(manual.contains("Tamrin_Manual/index.htm")) << manual.toStdString();
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(shown(window->action(40017)), "Sorry, This command is not supported yet.");
}

TEST_F(MainWindowOptionsTest, TheFrameIsSavedInTheBitmapFolderUnderTheNextFreeNumber)
{
    auto window = makeWindow();
    const std::filesystem::path folder = m_base.path() / "Bitmap";
    std::filesystem::create_directories(folder);
    // A frame of an earlier run is never replaced.
    std::ofstream(folder / "mv1_v2_320x240_15fps_xa37800s-0001.bmp") << "earlier";
    ASSERT_EQ(window->openPaths({sampleMovie()}), 1);
    ASSERT_TRUE(window->previewRow(0));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->viewer()->frameView()->hasFrame(); }, 3000));
    window->action(40032)->trigger();
    EXPECT_TRUE(std::filesystem::exists(folder / "mv1_v2_320x240_15fps_xa37800s-0002.bmp"));
    EXPECT_EQ(std::filesystem::file_size(folder / "mv1_v2_320x240_15fps_xa37800s-0001.bmp"), 7u);
}

TEST_F(MainWindowOptionsTest, OpenFilesStartsWhereTheLastOneEndedAndRemembersIt)
{
    auto window = makeWindow();
    const QString movies = QString(TAMRIN_TEST_DATA) + "/movies";
    setFieldText(m_record.openFolder, QFile::encodeName(movies).toStdString());
    m_record.openFilterIndex = 2;
    QString shownFolder, shownFilter;
    // The dialog is answered once it is up; whatever else opens is closed, so nothing waits.
    QElapsedTimer waited;
    waited.start();
    QTimer answer;
    answer.setInterval(50);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (!dialog) {
            if (modal && waited.elapsed() > 5000)
                static_cast<QDialog*>(modal)->reject();
            return;
        }
        answer.stop();
        shownFolder = dialog->directory().absolutePath();
        shownFilter = dialog->selectedNameFilter();
        dialog->selectNameFilter(dialog->nameFilters().first());
        if (auto* name = dialog->findChild<QLineEdit*>("fileNameEdit"))
            name->setText(QFileInfo(sampleMovie()).fileName());
        static_cast<QDialog*>(dialog)->accept();
        if (dialog->isVisible()) // not taken: the checks below fail
            static_cast<QDialog*>(dialog)->reject();
    });
    answer.start();
    window->action(40012)->trigger();
    EXPECT_EQ(shownFolder, QFileInfo(movies).canonicalFilePath());
    EXPECT_TRUE(shownFilter.contains("(*)")) << shownFilter.toStdString();
    EXPECT_EQ(window->entryCount(), 1);
    EXPECT_EQ(m_record.openFilterIndex, 0);
    EXPECT_EQ(QFileInfo(QString::fromStdString(fieldText(m_record.openFolder))).canonicalFilePath(),
              QFileInfo(movies).canonicalFilePath());
}

TEST_F(MainWindowOptionsTest, TheDriveMenuListsTheDrivesAndSelectsTheChosenOne)
{
    auto window = makeWindow();
    const int32_t stored = PlbGetCdDrive(nullptr, nullptr, nullptr);
    const int32_t second = CdMountImage(QFile::encodeName(sampleDisc()).constData());
    ASSERT_GE(second, 0);
    window->refreshDriveMenu();
    QList<QAction*> drives;
    for (QAction* item : window->driveMenu()->actions())
        if (item->isCheckable())
            drives << item;
    EXPECT_EQ(drives.size(), CdGetDriveNum());
    QAction* checked = nullptr;
    QAction* other = nullptr;
    for (QAction* item : drives) {
        if (item->isChecked())
            checked = item;
        if (item->data().toInt() == second)
            other = item;
    }
    ASSERT_NE(checked, nullptr);
    EXPECT_EQ(checked->data().toInt(), stored);
    ASSERT_NE(other, nullptr);
    other->trigger();
    EXPECT_EQ(PlbGetCdDrive(nullptr, nullptr, nullptr), second);
    window->refreshDriveMenu();
    for (QAction* item : window->driveMenu()->actions()) {
        if (item->isCheckable()) {
            EXPECT_EQ(item->isChecked(), item->data().toInt() == second) << item->text().toStdString();
        }
    }
    ASSERT_EQ(PlbSetCdDrive(stored), 1);
    CdUnmountImage(second);
}

TEST_F(MainWindowOptionsTest, AFileOnACdromSuggestsAnalysingTheDiscUnlessTheOptionsSayNot)
{
    auto window = makeWindow();
    window->setCdromCheck([](const QString&) { return true; });
    struct Case
    {
        int16_t flags;
        QMessageBox::StandardButton answer; // NoButton: no question expected
        bool listed;
    };
    const Case cases[] = {{0, QMessageBox::No, false},
                          {0, QMessageBox::Yes, true},
                          {kNoDiscSuggestion, QMessageBox::NoButton, true}};
    for (const Case& c : cases) {
        m_record.flags = c.flags;
        window->streamList()->clear();
        QString asked;
        QTimer::singleShot(100, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                asked = box->text();
                box->button(c.answer == QMessageBox::NoButton ? QMessageBox::No : c.answer)->click();
            }
        });
        EXPECT_EQ(window->openStreamFile(sampleMovie()), c.listed) << c.flags << " " << c.answer;
        EXPECT_EQ(window->entryCount(), c.listed ? 1 : 0);
        if (c.answer == QMessageBox::NoButton) {
            EXPECT_TRUE(asked.isEmpty()) << asked.toStdString();
        } else {
            EXPECT_TRUE(asked.startsWith(
                "Please specify the stream data in CD-ROM by [Analyze and open CD-ROM].\nDo you open '"))
                << asked.toStdString();
            EXPECT_TRUE(asked.contains(QFileInfo(sampleMovie()).fileName()));
        }
        QTest::qWait(150); // the timer of a case without a question has run
    }
}

TEST_F(MainWindowOptionsTest, CommandsHaveTheirHelpAndJapaneseTexts)
{
    auto window = makeWindow();
    window->show();
    // Every command tells in the status bar what it does while the pointer is on it.
    for (int id : {40005, 40007, 40008, 40011, 40012, 40013, 40014, 40015, 40016, 40017, 40018,
                   40019, 40020, 40025, 40031, 40032, 40036, 40043, 40048, 40052, 40061, 40067}) {
        QAction* command = window->action(id);
        ASSERT_NE(command, nullptr) << id;
        EXPECT_FALSE(command->statusTip().isEmpty()) << id;
        command->showStatusText(window.get()); // as a menu does while the pointer is on the item
        EXPECT_EQ(window->statusBar()->currentMessage(), command->statusTip()) << id;
    }
    QStringList english;
    for (QAction* menu : window->menuBar()->actions())
        english << menu->text();
    EXPECT_TRUE(english.contains("&File"));
    window.reset();

    uitest::Language japanese{"ja"};
    auto ja = makeWindow();
    QStringList titles;
    for (QAction* menu : ja->menuBar()->actions())
        titles << menu->text();
    EXPECT_TRUE(titles.contains(QString::fromUtf8("ファイル(&F)"))) << titles.join(' ').toStdString();
    EXPECT_TRUE(titles.contains(QString::fromUtf8("プレビュー(&P)")));
    EXPECT_EQ(ja->action(40012)->text(), QString::fromUtf8("ストリームファイルを開く(&O)..."));
    EXPECT_EQ(ja->action(40025)->statusTip(), QString::fromUtf8("プレビュー中のストリームを一時停止します"));
    // The conversion types keep the library's (Japanese) names.
    EXPECT_EQ(ja->action(40005)->text(), tamlibui::tableText(PLB_IDS_TO_AVI));
    EXPECT_NE(ja->action(40014)->text(), "E&xit");
    // The window's own labels follow: no text on show is one that has a Japanese entry.
    QStringList shown;
    for (int column = 0; column < MainWindow::kColumnCount; ++column)
        shown << ja->streamList()->headerItem()->text(column);
    for (int page = 0; page < ja->tabs()->count(); ++page)
        shown << ja->tabs()->tabText(page);
    for (const QLabel* label : ja->findChildren<QLabel*>())
        shown << label->text();
    for (const QAbstractButton* button : ja->findChildren<QAbstractButton*>())
        shown << button->text();
    for (const QGroupBox* box : ja->findChildren<QGroupBox*>())
        shown << box->title();
    EXPECT_EQ(ja->streamList()->headerItem()->text(MainWindow::kColStream), QString::fromUtf8("ストリーム"));
    EXPECT_EQ(ja->tabs()->tabText(MainWindow::kPageConversion), QString::fromUtf8("変換"));
    for (const QString& text : shown)
        EXPECT_TRUE(text.isEmpty() || japaneseText(text.toUtf8().constData()).isNull())
            << "left in English: " << text.toStdString();
}

TEST(TamrinProgram, AnswersHelpAndVersionWithoutADisplay)
{
    for (const char* option : {"--help", "--version"}) {
        const guitest::ProgramRun run = guitest::runWithoutDisplay(QString(TAMRIN_OUT_DIR) + "/tamrin", option);
        EXPECT_EQ(run.exitCode, 0) << option;
        EXPECT_TRUE(run.out.startsWith(QString(option) == "--help" ? "Usage: tamrin" : "tamrin "))
            << option << run.out.toStdString();
    }
}

TEST(MainWindowScreenshot, EmptyPreviewingAndDiscInBothLanguages)
{
    for (const char* language : {"en", "ja"}) {
        uitest::ProgramScope scope{language};
        ASSERT_TRUE(scope.library.ready());
        MainWindow window;
        window.setSoundDriver("null");
        window.resize(960, 560);
        const QString root = QString(language) + "/";
        EXPECT_TRUE(guitest::saveScreenshot(window, root + "main-window-empty"));
        // The preview menu, its commands in the language of the tables.
        window.show();
        QMenu* previewMenu = window.action(40024)->associatedObjects().isEmpty()
                                 ? nullptr
                                 : qobject_cast<QMenu*>(window.action(40024)->associatedObjects().first());
        ASSERT_NE(previewMenu, nullptr);
        previewMenu->popup(window.mapToGlobal(QPoint(160, 30)));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(previewMenu));
        EXPECT_TRUE(guitest::saveScreenshot(*previewMenu, root + "main-window-preview-menu"));
        previewMenu->hide();

        ASSERT_EQ(window.openPaths({sampleMovie()}), 1);
        window.streamList()->setCurrentItem(window.streamList()->topLevelItem(0));
        ASSERT_TRUE(window.previewRow(0));
        window.action(40024)->trigger();
        QTest::qWait(1200);
        window.action(40024)->trigger(); // paused mid-movie, a frame on screen
        EXPECT_TRUE(QTest::qWaitFor([&] { return window.viewer()->frameView()->hasFrame(); }, 3000));
        EXPECT_TRUE(guitest::saveScreenshot(window, root + "main-window-preview"));

        uitest::ModalUser user;
        answerAnalysis(user);
        ASSERT_TRUE(window.openDiscImage(sampleDisc()));
        window.tabs()->setCurrentIndex(MainWindow::kPageInformation);
        window.streamList()->setCurrentItem(window.streamList()->topLevelItem(1));
        EXPECT_TRUE(guitest::saveScreenshot(window, root + "main-window-disc"));
    }
}
