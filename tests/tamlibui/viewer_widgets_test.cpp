// The viewer windows on their own: the status bar's texts, the frame view's drawing rules and
// its sink's handling of pictures, the play control's commands, enabling and layout.
#include <gtest/gtest.h>

#include <QLabel>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <QToolButton>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "streamkit/lbr.h"
#include "tamlib/strings.h"
#include "tamlibui/viewer.h"

using namespace tamlibui;

namespace {

QString tableText(uint32_t id)
{
    char buffer[PLB_STRING_MAX];
    return QString::fromUtf8(PlbLoadString(nullptr, buffer, id));
}

// A bottom-up 24-bit picture block as the player hands it over: header then padded rows.
std::vector<uint8_t> makePicture(int32_t width, int32_t height, uint8_t blue, uint8_t green, uint8_t red)
{
    const uint32_t stride = LbrPictureStride(width, 24);
    std::vector<uint8_t> block(sizeof(FrameDib) + size_t(stride) * height);
    auto* header = reinterpret_cast<FrameDib*>(block.data());
    *header = FrameDib{40, width, height, 1, 24, 0, stride * uint32_t(height), {}};
    uint8_t* pixels = block.data() + sizeof(FrameDib);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            uint8_t* p = pixels + size_t(y) * stride + size_t(x) * 3;
            p[0] = blue, p[1] = green, p[2] = red;
        }
    // The top row (stored last) is white, so that a flipped copy shows.
    for (int32_t x = 0; x < width; ++x)
        std::memset(pixels + size_t(height - 1) * stride + size_t(x) * 3, 0xFF, 3);
    return block;
}

} // namespace

TEST(PlayerStatusBar, ShowsStreamFramesAndTime)
{
    PlayerStatusBar bar;
    bar.resize(320, 22);
    bar.newStream(2, 45, 3000);
    EXPECT_TRUE(bar.counterVisible());
    EXPECT_TRUE(bar.iconVisible());
    EXPECT_EQ(bar.frameText(), "1 / 45");
    EXPECT_EQ(bar.timeText(), "00:00 / 00:03");
    bar.setFrame(17);
    bar.setPosition(125'999);
    EXPECT_EQ(bar.frameText(), "17 / 45");
    EXPECT_EQ(bar.timeText(), "02:05 / 00:03");

    // Sound only: no counter.
    bar.newStream(1, 0, 61'000);
    EXPECT_FALSE(bar.counterVisible());
    EXPECT_EQ(bar.timeText(), "00:00 / 01:01");

    // Every text fits its label, and the time texts stay clear of the icon, for any length.
    for (uint32_t length : {3000u, 3'599'000u, 7'200'000u}) {
        bar.newStream(2, 99999, length);
        bar.setPosition(length);
        int iconLeft = bar.width();
        for (QLabel* label : bar.findChildren<QLabel*>())
            if (label->pixmap().isNull() == false)
                iconLeft = label->geometry().left();
        for (QLabel* label : bar.findChildren<QLabel*>()) {
            if (label->text().isEmpty())
                continue;
            EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text()))
                << label->text().toStdString();
            EXPECT_LE(label->geometry().right(), iconLeft) << label->text().toStdString();
        }
    }

    bar.reset();
    EXPECT_FALSE(bar.counterVisible());
    EXPECT_FALSE(bar.iconVisible());
    EXPECT_EQ(bar.timeText(), "--:-- / --:--");
}

TEST(PlayerStatusBar, TooltipsFromTableUnlessTheOwnerGivesThem)
{
    PlayerStatusBar bar;
    bar.newStream(3, 10, 1000);
    auto tipOf = [&](const QString& text) {
        for (QLabel* label : bar.findChildren<QLabel*>())
            if (label->text() == text)
                return label->toolTip();
        return QString("<no label>");
    };
    EXPECT_EQ(tipOf("00:00"), tableText(PLB_IDS_PLAY_TIME));
    EXPECT_EQ(tipOf("1"), tableText(PLB_IDS_FRAME_COUNTER));
    bar.setTooltipProvider(
        [](int index) { return index == PlayerStatusBar::kTime ? QString("own") : QString(); });
    EXPECT_EQ(tipOf("00:00"), "own");
    EXPECT_EQ(tipOf("1"), tableText(PLB_IDS_FRAME_COUNTER));
}

TEST(FrameView, IdlePictureStretchedOrScaledByTheSmallerRatio)
{
    struct Case
    {
        QSize image, client;
        QRect expected;
    } cases[] = {
        {{100, 100}, {200, 200}, {0, 0, 200, 200}},   // same ratios
        {{100, 100}, {220, 200}, {0, 0, 220, 200}},   // ratios 2.2 and 2.0: within 0.2, stretched
        {{100, 100}, {300, 200}, {50, 0, 200, 200}},  // 3.0 and 2.0: scaled by 2, centred
        {{320, 240}, {160, 480}, {0, 180, 160, 120}}, // 0.5 and 2.0: scaled by 0.5
        {{0, 10}, {100, 100}, {}},                    // empty picture: nothing
    };
    for (const Case& c : cases)
        EXPECT_EQ(FrameView::idleTarget(c.image, c.client), c.expected)
            << c.image.width() << "x" << c.client.width();
}

TEST(FrameView, DrawsNothingBelowTenByTen)
{
    FrameView view;
    QImage idle(8, 8, QImage::Format_RGB32);
    idle.fill(Qt::red);
    view.setIdleImage(idle);
    view.resize(9, 40);
    view.grab();
    EXPECT_EQ(view.framesPainted(), 0u);
    view.resize(40, 9);
    view.grab();
    EXPECT_EQ(view.framesPainted(), 0u);
    view.resize(10, 10);
    const QImage shot = view.grab().toImage();
    EXPECT_EQ(view.framesPainted(), 1u);
    EXPECT_EQ(QColor(shot.pixel(5, 5)), QColor(Qt::red));
}

TEST(FrameView, SinkCopiesPicturesAndRefusesDamagedOnes)
{
    FrameView view;
    view.resize(64, 48);
    const PlbFrameSink sink = view.frameSink();
    ASSERT_TRUE(sink.frame);
    EXPECT_EQ(sink.width, qRound(64 * view.devicePixelRatioF())); // device pixels
    EXPECT_EQ(sink.height, qRound(48 * view.devicePixelRatioF()));

    std::vector<uint8_t> good = makePicture(64, 48, 0x10, 0x80, 0xF0);
    auto* header = reinterpret_cast<FrameDib*>(good.data());
    const PlbRect rect{0, 0, 64, 48};
    sink.frame(sink.context, header, &rect, 1);
    EXPECT_EQ(view.framesReceived(), 1u);
    ASSERT_TRUE(view.hasFrame());
    QTest::qWait(20); // the repaint request is queued
    const QImage shot = view.grab().toImage();
    EXPECT_EQ(QColor(shot.pixel(20, 30)), QColor(0xF0, 0x80, 0x10)); // blue-green-red bytes
    EXPECT_EQ(QColor(shot.pixel(20, 0)), QColor(Qt::white));         // first stored row is the bottom

    // Damaged headers: no copy, no read outside the block.
    std::vector<uint8_t> bad = good;
    auto* damaged = reinterpret_cast<FrameDib*>(bad.data());
    const FrameDib intact = *damaged;
    const struct
    {
        const char* name;
        void (*spoil)(FrameDib&);
    } spoils[] = {
        {"short pixel block", [](FrameDib& h) { h.imageSize -= 1; }},
        {"taller than its block", [](FrameDib& h) { h.height *= 2; }},
        {"negative width", [](FrameDib& h) { h.width = -64; }},
        {"zero height", [](FrameDib& h) { h.height = 0; }},
        {"8 bits", [](FrameDib& h) { h.bitCount = 8; }},
        {"huge", [](FrameDib& h) { h.width = h.height = 1 << 20; }},
    };
    for (const auto& s : spoils) {
        *damaged = intact;
        s.spoil(*damaged);
        sink.frame(sink.context, damaged, &rect, 2);
        EXPECT_EQ(view.framesReceived(), 1u) << s.name;
    }
    sink.frame(sink.context, nullptr, &rect, 3);
    EXPECT_EQ(view.framesReceived(), 1u);

    view.clearFrame();
    EXPECT_FALSE(view.hasFrame());
}

TEST(FrameView, ForwardsEventsAndHidesTheRestingPointer)
{
    FrameView view;
    view.resize(50, 50);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    QSignalSpy sized(&view, &FrameView::sizeChanged);
    QSignalSpy released(&view, &FrameView::rightButtonUp);
    QTest::mouseRelease(&view, Qt::RightButton, {}, QPoint(3, 4));
    EXPECT_EQ(released.count(), 1);
    view.resize(80, 60);
    ASSERT_GE(sized.count(), 1);
    EXPECT_EQ(sized.last().at(0).toSize(), QSize(80, 60));

    // The pointer rests inside (the offscreen platform has no pointer: mark it as inside).
    view.setAttribute(Qt::WA_UnderMouse, true);
    view.setPlaying(true);
    EXPECT_EQ(view.cursor().shape(), Qt::PointingHandCursor);
    QTest::qWait(FrameView::kPointerRestMs / 2);
    QTest::mouseMove(&view, QPoint(20, 20)); // movement restarts the rest
    QTest::qWait(FrameView::kPointerRestMs * 3 / 4);
    EXPECT_EQ(view.cursor().shape(), Qt::PointingHandCursor);
    EXPECT_TRUE(QTest::qWaitFor([&] { return view.cursor().shape() == Qt::BlankCursor; }, 1000));
    QTest::mouseMove(&view, QPoint(21, 20)); // back on movement
    EXPECT_EQ(view.cursor().shape(), Qt::PointingHandCursor);
    view.setPlaying(false);
    QTest::qWait(FrameView::kPointerRestMs + 200); // not playing: never hidden
    EXPECT_NE(view.cursor().shape(), Qt::BlankCursor);
    EXPECT_NE(view.cursor().shape(), Qt::PointingHandCursor);
}

TEST(PlayControl, FrameStepButtonsOnlyWhenNotPlayingWithALength)
{
    PlayControl control;
    struct Case
    {
        int state;
        uint32_t length;
        bool enabled;
    } cases[] = {
        {PlayControl::kStatePlaying, 3000, false}, {PlayControl::kStatePaused, 3000, true},
        {PlayControl::kStateStopped, 3000, true},  {PlayControl::kStatePaused, 0, false},
        {PlayControl::kStateStopped, 0, false},    {PlayControl::kStatePlaying, 0, false},
    };
    for (const Case& c : cases) {
        control.setLengthAndStep(c.length, 66);
        control.setState(c.state);
        EXPECT_EQ(control.control(PlayControl::kFrameBack)->isEnabled(), c.enabled)
            << c.state << " " << c.length;
        EXPECT_EQ(control.control(PlayControl::kFrameForward)->isEnabled(), c.enabled)
            << c.state << " " << c.length;
        EXPECT_EQ(qobject_cast<QToolButton*>(control.control(c.state))->isChecked(), true);
    }
}

TEST(PlayControl, ButtonsSendTheirCommands)
{
    PlayControl control;
    control.resize(control.sizeHint());
    control.setLengthAndStep(3000, 100);
    QSignalSpy sent(&control, &PlayControl::command);
    auto click = [&](int index) { QTest::mouseClick(control.control(index), Qt::LeftButton); };
    auto last = [&] { return std::make_pair(sent.last().at(0).toInt(), sent.last().at(1).toInt()); };

    click(PlayControl::kPlay);
    EXPECT_EQ(last().first, PlayControl::kCmdPlay);
    EXPECT_FALSE(
        qobject_cast<QToolButton*>(control.control(PlayControl::kPlay))->isChecked()); // until the owner says
    // Play mode cycles 1, 2, 0 and names the mode in its tooltip.
    for (int expected : {1, 2, 0}) {
        click(PlayControl::kPlayMode);
        EXPECT_EQ(last(), std::make_pair(int(PlayControl::kCmdPlayMode), expected));
        EXPECT_TRUE(control.control(PlayControl::kPlayMode)
                        ->toolTip()
                        .endsWith(tableText(PLB_IDS_PLAY_MODE + expected)));
    }

    // One frame forward and back by the step, clamped to the range.
    control.setState(PlayControl::kStatePaused);
    control.setPosition(2950);
    click(PlayControl::kFrameForward);
    EXPECT_EQ(last(), std::make_pair(int(PlayControl::kCmdSeek), 3000));
    click(PlayControl::kFrameBack);
    EXPECT_EQ(last(), std::make_pair(int(PlayControl::kCmdSeek), 2900));
    control.setPosition(50);
    click(PlayControl::kFrameBack);
    EXPECT_EQ(last(), std::make_pair(int(PlayControl::kCmdSeek), 0));

    // The combined button toggles by the state.
    control.setState(PlayControl::kStatePlaying);
    QTest::mouseClick(control.control(PlayControl::kPlayPause), Qt::LeftButton);
    EXPECT_EQ(last().first, PlayControl::kCmdPause);

    // Volume.
    control.control(PlayControl::kVolume)->setFocus();
    qobject_cast<QSlider*>(control.control(PlayControl::kVolume))->setValue(40);
    EXPECT_EQ(last(), std::make_pair(int(PlayControl::kCmdVolume), 40));
    for (int i = 0; i < PlayControl::kControlCount; ++i)
        EXPECT_TRUE(control.control(i)->toolTip().startsWith(tableText(PLB_IDS_PLAY_CONTROL + i))) << i;
}

TEST(PlayControl, HoldingForwardPausesSeeksFasterAndResumes)
{
    PlayControl control;
    control.setLengthAndStep(600'000, 66);
    control.setState(PlayControl::kStatePlaying);
    QSignalSpy sent(&control, &PlayControl::command);
    QWidget* forward = control.control(PlayControl::kForward);
    QTest::mousePress(forward, Qt::LeftButton);
    EXPECT_EQ(sent.at(0).at(0).toInt(), PlayControl::kCmdPause);
    EXPECT_TRUE(control.seeking());
    QTest::qWait(3 * PlayControl::kHoldTickMs + 100);
    QTest::mouseRelease(forward, Qt::LeftButton);
    std::vector<int> seeks;
    for (const auto& s : sent)
        if (s.at(0).toInt() == PlayControl::kCmdSeek)
            seeks.push_back(s.at(1).toInt());
    ASSERT_GE(seeks.size(), 2u);
    EXPECT_EQ(seeks[0], 400); // 200 ms x 40 / 20
    for (size_t i = 1; i < seeks.size(); ++i)
        EXPECT_GT(seeks[i] - seeks[i - 1], seeks[0]) << i; // the speed grows every tick
    EXPECT_EQ(sent.last().at(0).toInt(), PlayControl::kCmdPlay);
    EXPECT_FALSE(control.seeking());
}

TEST(PlayControl, NarrowLayoutUsesTheCombinedButton)
{
    PlayControl control;
    control.resize(control.minimumSizeHint());
    control.show();
    EXPECT_TRUE(control.control(PlayControl::kPlayPause)->isVisible());
    EXPECT_FALSE(control.control(PlayControl::kPlay)->isVisible());
    control.resize(control.sizeHint());
    EXPECT_FALSE(control.control(PlayControl::kPlayPause)->isVisible());
    EXPECT_TRUE(control.control(PlayControl::kPause)->isVisible());
    // The position slider spans the width, the volume slider ends at the right edge.
    const QRect volume = control.control(PlayControl::kVolume)->geometry();
    EXPECT_GE(control.control(PlayControl::kPosition)->width(), control.width() - 8);
    EXPECT_GE(volume.right(), control.width() - 4);
    EXPECT_GT(volume.left(), control.control(PlayControl::kPlayMode)->geometry().right());
}

TEST(PlayControl, Keyboard)
{
    PlayControl control;
    control.setLengthAndStep(3000, 100);
    control.setState(PlayControl::kStatePaused);
    control.setPosition(1000);
    QSignalSpy sent(&control, &PlayControl::command);
    auto last = [&] { return std::make_pair(sent.last().at(0).toInt(), sent.last().at(1).toInt()); };
    QTest::keyClick(&control, Qt::Key_Space);
    EXPECT_EQ(last().first, PlayControl::kCmdPlay);
    QTest::keyClick(&control, Qt::Key_Right);
    EXPECT_EQ(last(), std::make_pair(int(PlayControl::kCmdSeek), 1100));
    QTest::keyClick(&control, Qt::Key_End);
    EXPECT_EQ(last(), std::make_pair(int(PlayControl::kCmdSeek), 2900));
    QTest::keyClick(&control, Qt::Key_Home);
    EXPECT_EQ(last(), std::make_pair(int(PlayControl::kCmdSeek), 0));
    control.setState(PlayControl::kStatePlaying);
    QTest::keyClick(&control, Qt::Key_Space);
    EXPECT_EQ(last().first, PlayControl::kCmdPause);
}
