// The viewer windows wired to the real player: a movie of tests/data played to its end on the
// null sound device, seeking with the position slider, closing while it plays, and the
// screenshots of the three windows with a movie frame on screen.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QScreen>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>

#include <cstdlib>
#include <string>
#include <thread>

#include "gui_test.h"
#include "streamkit/lbr.h"
#include "tamlibui/viewer.h"

using namespace tamlibui;

namespace {

const char* const kPlugin = "Filmfile.psr";

std::string movieFile()
{
    return std::string(TAMRIN_TEST_DATA) + "/movies/mv1_v2_320x240_15fps_xa37800s.str";
}

StrInfo describe(const std::string& path)
{
    StrInfo info{};
    PluginBinding* binding = LbrOpenPSR(kPlugin);
    EXPECT_TRUE(binding);
    if (binding) {
        EXPECT_EQ(LbrGetStrFileInfo(binding, path.c_str(), &info), 1);
        LbrClosePSR(binding);
    }
    return info;
}

// The process's threads, less Qt's pool (its threads scale pictures and expire on their own).
int threadCount()
{
    int count = 0;
    for (const QString& task : QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile name("/proc/self/task/" + task + "/comm");
        if (!name.open(QIODevice::ReadOnly) || name.readAll().trimmed() != "Thread (pooled)")
            ++count;
    }
    return count;
}

// Sets an environment variable for the scope, restoring the previous value.
class ScopedVariable
{
  public:
    ScopedVariable(const char* name, const char* value) : m_name(name), m_had(qEnvironmentVariableIsSet(name))
    {
        m_old = qgetenv(name);
        value ? qputenv(name, value) : qunsetenv(name);
    }
    ~ScopedVariable() { m_had ? qputenv(m_name, m_old) : qunsetenv(m_name); }

  private:
    const char* m_name;
    bool m_had;
    QByteArray m_old;
};

class ViewerPanelTest : public testing::Test
{
  protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("TAMRIN_HOME"))
            m_home.emplace("TAMRIN_HOME", m_dir.path().toUtf8().constData());
        m_info = describe(movieFile());
        ASSERT_EQ(m_info.durationMs, 3000u);
    }

    bool openMovie(ViewerPanel& panel) { return panel.open(kPlugin, movieFile().c_str(), m_info, "null"); }

    QTemporaryDir m_dir;
    std::optional<ScopedVariable> m_home;
    StrInfo m_info{};
};

// The colour in the middle of the view, away from any border the aspect rule leaves.
QColor middlePixel(FrameView& view)
{
    const QImage shot = view.grab().toImage();
    return QColor(shot.pixel(shot.width() / 2, shot.height() / 2));
}

// Saves a picture of the screen beside the widget screenshots.
bool saveScreenPicture(const QPixmap& picture, const QString& name)
{
    QString root = qEnvironmentVariable("TAMRIN_SCREENSHOTS");
    if (root == "1")
        root = TAMRIN_SCREENSHOT_ROOT;
    const QString path = root + "/" + name + ".png";
    return QDir().mkpath(QFileInfo(path).absolutePath()) && picture.save(path, "PNG");
}

} // namespace

TEST_F(ViewerPanelTest, PlaysAMovieToItsEndWithFramesPainted)
{
    ViewerPanel panel;
    panel.resize(400, 380);
    panel.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    ASSERT_TRUE(openMovie(panel));
    EXPECT_EQ(panel.statusBar()->timeText(), "00:00 / 00:03");
    EXPECT_EQ(panel.statusBar()->frameText(), "1 / " + QString::number(m_info.frameCount));
    EXPECT_EQ(panel.playControl()->length(), 3000u);
    EXPECT_EQ(panel.playControl()->state(), PlayControl::kStatePaused);
    // Paused on the first picture: frame stepping works, and the picture is there.
    EXPECT_TRUE(panel.playControl()->control(PlayControl::kFrameForward)->isEnabled());
    EXPECT_TRUE(QTest::qWaitFor([&] { return panel.frameView()->hasFrame(); }, 3000));

    // The play rectangle keeps the movie's 4:3 inside the view.
    const QRect rect = panel.frameView()->playRect();
    EXPECT_NEAR(double(rect.width()) / rect.height(), 4.0 / 3.0, 0.02);

    QSignalSpy ended(&panel, &ViewerPanel::ended);
    QTest::mouseClick(panel.playControl()->control(PlayControl::kPlay), Qt::LeftButton);
    EXPECT_EQ(panel.playControl()->state(), PlayControl::kStatePlaying);
    EXPECT_FALSE(panel.playControl()->control(PlayControl::kFrameForward)->isEnabled());
    EXPECT_TRUE(panel.frameView()->playing());
    ASSERT_TRUE(ended.wait(8000));

    const uint64_t received = panel.frameView()->framesReceived();
    RecordProperty("frames_received", int(received));
    RecordProperty("frames_painted", int(panel.frameView()->framesPainted()));
    EXPECT_GE(received, m_info.frameCount * 8 / 10) << "of " << m_info.frameCount;
    EXPECT_GE(panel.frameView()->framesPainted(), received / 4);
    EXPECT_NE(middlePixel(*panel.frameView()), QColor(Qt::black));
    EXPECT_NE(panel.playControl()->state(), PlayControl::kStatePlaying);
    EXPECT_TRUE(panel.statusBar()->timeText().startsWith("00:0"));
    EXPECT_GE(panel.playControl()->position(), 2500u);

    // Play again after the end starts from the beginning.
    panel.runCommand(PlayControl::kCmdPlay, 0);
    EXPECT_EQ(PlbGetPlayerStatus(panel.player()), PLB_STATE_PLAYING);
    uint32_t length = 0;
    EXPECT_LT(PlbGetPlayPosition(panel.player(), &length), 2000u);
    panel.closePlayer();
    EXPECT_EQ(panel.statusBar()->timeText(), "--:-- / --:--");
}

TEST_F(ViewerPanelTest, PositionSliderSeeksWhileDraggingAndResumes)
{
    ViewerPanel panel;
    panel.resize(400, 380);
    panel.show();
    ASSERT_TRUE(openMovie(panel));
    panel.runCommand(PlayControl::kCmdPlay, 0);
    QTest::qWait(200);
    auto* slider = qobject_cast<QSlider*>(panel.playControl()->control(PlayControl::kPosition));
    ASSERT_TRUE(slider);

    slider->setSliderDown(true); // pressed: a playing stream pauses
    EXPECT_EQ(PlbGetPlayerStatus(panel.player()), PLB_STATE_PAUSED);
    for (int target : {1000, 1800, 2250}) {
        slider->setSliderPosition(target);
        uint32_t length = 0;
        EXPECT_NEAR(double(PlbGetPlayPosition(panel.player(), &length)), target, 70.0) << target;
        EXPECT_EQ(PlbGetPlayerStatus(panel.player()), PLB_STATE_PAUSED);
    }
    // The player's reports do not move the slider under the hand.
    panel.playControl()->setPosition(100);
    EXPECT_EQ(slider->sliderPosition(), 2250);
    slider->setSliderDown(false); // released: play resumes from there
    EXPECT_EQ(PlbGetPlayerStatus(panel.player()), PLB_STATE_PLAYING);
    EXPECT_EQ(panel.playControl()->state(), PlayControl::kStatePlaying);

    // A page step while playing seeks and keeps playing.
    slider->triggerAction(QAbstractSlider::SliderToMinimum);
    uint32_t length = 0;
    EXPECT_LT(PlbGetPlayPosition(panel.player(), &length), 300u);
    EXPECT_EQ(PlbGetPlayerStatus(panel.player()), PLB_STATE_PLAYING);

    // Paused, one frame forward moves by one frame time.
    panel.runCommand(PlayControl::kCmdPause, 0);
    panel.runCommand(PlayControl::kCmdSeek, 1000);
    panel.playControl()->setPosition(1000);
    QTest::mouseClick(panel.playControl()->control(PlayControl::kFrameForward), Qt::LeftButton);
    EXPECT_NEAR(double(PlbGetPlayPosition(panel.player(), &length)), 1066.0, 10.0);
}

TEST_F(ViewerPanelTest, ClosedWhilePlayingEndsThePlayersThreads)
{
    const int before = threadCount();
    {
        auto* panel = new ViewerPanel;
        panel->resize(320, 300);
        panel->show();
        ASSERT_TRUE(openMovie(*panel));
        panel->runCommand(PlayControl::kCmdPlay, 0);
        ASSERT_TRUE(QTest::qWaitFor([&] { return panel->frameView()->framesReceived() > 3; }, 3000));
        EXPECT_GT(threadCount(), before);
        panel->close();
        EXPECT_EQ(panel->player(), nullptr);
        EXPECT_LE(threadCount(), before);
        // Deleted with notifications possibly still queued: they are dropped with it.
        panel->deleteLater();
        QTest::qWait(100);
    }
    {
        // Destroyed outright while playing.
        auto panel = std::make_unique<ViewerPanel>();
        panel->show();
        ASSERT_TRUE(openMovie(*panel));
        panel->runCommand(PlayControl::kCmdPlay, 0);
        QTest::qWait(150);
    }
    QTest::qWait(50);
    EXPECT_LE(threadCount(), before);

    {
        // Opened again after the end came but before it was read: the stale end neither counts
        // nor restarts the new stream in repeat mode.
        ViewerPanel panel;
        ASSERT_TRUE(openMovie(panel));
        panel.runCommand(PlayControl::kCmdPlayMode, 1);
        panel.runCommand(PlayControl::kCmdPlay, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(m_info.durationMs + 600)); // nothing read
        QSignalSpy ended(&panel, &ViewerPanel::ended);
        ASSERT_TRUE(openMovie(panel));
        QTest::qWait(150);
        EXPECT_EQ(ended.count(), 0);
        EXPECT_EQ(PlbGetPlayerStatus(panel.player()), PLB_STATE_PAUSED);
        EXPECT_EQ(panel.playControl()->state(), PlayControl::kStatePaused);
    }

    // A stream that cannot be opened leaves the windows reset.
    ViewerPanel panel;
    StrInfo bad = m_info;
    EXPECT_FALSE(panel.open(kPlugin, (movieFile() + ".missing").c_str(), bad, "null"));
    EXPECT_EQ(panel.player(), nullptr);
    EXPECT_FALSE(panel.statusBar()->counterVisible());
    panel.runCommand(PlayControl::kCmdPlay, 0); // nothing to play: ignored
}

TEST_F(ViewerPanelTest, ScreenshotViewerWindows)
{
    if (!guitest::screenshotsWanted())
        GTEST_SKIP() << "screenshots not asked for";
    for (const char* language : {"en", "ja"}) {
        ScopedVariable locale("LC_ALL", std::string(language) == "ja" ? "ja_JP.UTF-8" : "en_US.UTF-8");
        ViewerPanel panel;
        panel.setWindowTitle("Viewer");
        panel.resize(420, 400);
        panel.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
        ASSERT_TRUE(openMovie(panel));
        panel.runCommand(PlayControl::kCmdSeek, 1500);
        panel.playControl()->setPosition(1500);
        ASSERT_TRUE(QTest::qWaitFor([&] { return panel.frameView()->hasFrame(); }, 3000));
        QTest::qWait(200);
        EXPECT_TRUE(guitest::saveScreenshot(panel, QString(language) + "/viewer-windows"));

        // The play mode's tooltip over the windows: a grab of the screen, where the tooltip is.
        QWidget* mode = panel.playControl()->control(PlayControl::kPlayMode);
        const QPoint at = mode->mapToGlobal(mode->rect().center());
        QToolTip::showText(at, mode->toolTip(), mode);
        ASSERT_TRUE(QTest::qWaitFor([] { return QToolTip::isVisible(); }, 2000));
        QTest::qWait(300);
        const QRect area(panel.mapToGlobal(QPoint(0, 0)), panel.frameGeometry().size() + QSize(220, 60));
        const QPixmap screen = panel.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
        EXPECT_TRUE(saveScreenPicture(screen, QString(language) + "/viewer-tooltip"));
        QToolTip::hideText();
        panel.closePlayer();
    }
}
