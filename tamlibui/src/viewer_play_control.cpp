// The play control: transport buttons, play mode, volume and position sliders. It sends commands
// to its owner and shows the state the owner sets; it never touches the player itself.
#include <QKeyEvent>
#include <QSlider>
#include <QStyle>
#include <QToolButton>

#include <algorithm>

#include "tamlib/strings.h"
#include "tamlibui/gui_thread.h"
#include "tamlibui/viewer.h"

namespace tamlibui {

namespace {

constexpr int kButtonWidth = 26;
constexpr int kButtonHeight = 24;
constexpr int kGap = 4;
constexpr int kMaxButtonGrowth = 10;
constexpr int kVolumeMinWidth = 60;
constexpr int kMargin = 2;
constexpr int kHoldStartSpeed = 40;
constexpr int kHoldTopSpeed = 160;
constexpr int kKeySeekMs = 5000;

QString tableText(uint32_t id)
{
    char buffer[PLB_STRING_MAX];
    return QString::fromUtf8(PlbLoadString(nullptr, buffer, id));
}

// Gaps go before previous stream, one frame back and play mode.
bool gapBefore(int index)
{
    return index == PlayControl::kPrevious || index == PlayControl::kFrameBack ||
           index == PlayControl::kPlayMode;
}

} // namespace

PlayControl::PlayControl(QWidget* parent)
    : QWidget(parent), m_volume(new QSlider(Qt::Horizontal, this)),
      m_position(new QSlider(Qt::Horizontal, this))
{
    const QStyle::StandardPixmap icons[] = {
        QStyle::SP_MediaPlay,        QStyle::SP_MediaPlay,         QStyle::SP_MediaPause,
        QStyle::SP_MediaStop,        QStyle::SP_MediaSkipBackward, QStyle::SP_MediaSeekBackward,
        QStyle::SP_MediaSeekForward, QStyle::SP_MediaSkipForward,  QStyle::SP_ArrowLeft,
        QStyle::SP_ArrowRight,       QStyle::SP_BrowserReload};
    for (int i = 0; i <= kPlayMode; ++i) {
        auto* button = new QToolButton(this);
        button->setIcon(style()->standardIcon(icons[i]));
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoRaise(true);
        m_buttons[i] = button;
    }
    for (int i : {kPlay, kPause, kStop})
        m_buttons[i]->setCheckable(true);

    connect(m_buttons[kPlayPause], &QToolButton::clicked, this,
            [this] { send(m_state == kStatePlaying ? kCmdPause : kCmdPlay); });
    // Checked state follows setState only: a click asks, the owner answers.
    connect(m_buttons[kPlay], &QToolButton::clicked, this, [this] {
        send(kCmdPlay);
        setState(m_state);
    });
    connect(m_buttons[kPause], &QToolButton::clicked, this, [this] {
        send(kCmdPause);
        setState(m_state);
    });
    connect(m_buttons[kStop], &QToolButton::clicked, this, [this] {
        send(kCmdStop);
        setState(m_state);
    });
    connect(m_buttons[kPrevious], &QToolButton::clicked, this, [this] { send(kCmdPrevious); });
    connect(m_buttons[kNext], &QToolButton::clicked, this, [this] { send(kCmdNext); });
    connect(m_buttons[kFrameBack], &QToolButton::clicked, this, [this] { stepFrames(-1); });
    connect(m_buttons[kFrameForward], &QToolButton::clicked, this, [this] { stepFrames(1); });
    connect(m_buttons[kPlayMode], &QToolButton::clicked, this, [this] {
        setPlayMode((m_mode + 1) % 3);
        send(kCmdPlayMode, m_mode);
    });
    connect(m_buttons[kRewind], &QToolButton::pressed, this, [this] { startHold(-1); });
    connect(m_buttons[kForward], &QToolButton::pressed, this, [this] { startHold(1); });
    connect(m_buttons[kRewind], &QToolButton::released, this, &PlayControl::endHold);
    connect(m_buttons[kForward], &QToolButton::released, this, &PlayControl::endHold);
    m_hold.setInterval(kHoldTickMs);
    connect(&m_hold, &QTimer::timeout, this, &PlayControl::holdTick);

    m_volume->setRange(1, 100);
    m_volume->setPageStep(10);
    m_volume->setValue(100);
    m_volume->setFocusPolicy(Qt::NoFocus);
    connect(m_volume, &QSlider::valueChanged, this, [this](int value) { send(kCmdVolume, value); });

    m_position->setRange(0, 0);
    m_position->setFocusPolicy(Qt::NoFocus);
    connect(m_position, &QSlider::sliderPressed, this, &PlayControl::positionPressed);
    connect(m_position, &QSlider::sliderMoved, this, [this](int value) { send(kCmdSeek, value); });
    connect(m_position, &QSlider::sliderReleased, this, &PlayControl::positionReleased);
    // Clicks beside the handle and page steps seek at once.
    connect(m_position, &QSlider::actionTriggered, this, [this](int action) {
        if (action != QAbstractSlider::SliderMove && action != QAbstractSlider::SliderNoAction)
            send(kCmdSeek, m_position->sliderPosition());
    });

    setFocusPolicy(Qt::StrongFocus);
    updateTooltips();
    updateEnabling();
    layoutControls();
}

void PlayControl::setTooltipProvider(TooltipProvider provider)
{
    m_tooltips = std::move(provider);
    updateTooltips();
}

void PlayControl::setPlayMode(int mode)
{
    m_mode = std::clamp(mode, 0, 2);
    updateTooltips();
}

void PlayControl::setState(int state)
{
    if (state != kStatePlaying && state != kStatePaused && state != kStateStopped)
        return;
    m_state = state;
    m_buttons[kPlay]->setChecked(state == kStatePlaying);
    m_buttons[kPause]->setChecked(state == kStatePaused);
    m_buttons[kStop]->setChecked(state == kStateStopped);
    m_buttons[kPlayPause]->setIcon(
        style()->standardIcon(state == kStatePlaying ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
    updateEnabling();
}

void PlayControl::setLengthAndStep(uint32_t lengthMs, uint32_t stepMs)
{
    m_length = lengthMs;
    const QSignalBlocker block(m_position);
    m_position->setRange(0, int(std::min<uint32_t>(lengthMs, INT32_MAX)));
    m_position->setSingleStep(int(std::clamp<uint32_t>(stepMs, 1, INT32_MAX)));
    m_position->setPageStep(std::max(1, int(std::min<uint32_t>(lengthMs, INT32_MAX) / 10)));
    updateEnabling();
}

void PlayControl::setPosition(uint32_t positionMs)
{
    if (seeking())
        return; // the user's hand wins over the player's report
    const QSignalBlocker block(m_position);
    m_position->setValue(int(std::min<uint32_t>(positionMs, INT32_MAX)));
}

uint32_t PlayControl::position() const
{
    return uint32_t(m_position->sliderPosition());
}

void PlayControl::setVolume(int volume)
{
    const QSignalBlocker block(m_volume);
    m_volume->setValue(std::clamp(volume, 1, 100));
}

int PlayControl::volume() const
{
    return m_volume->value();
}

QWidget* PlayControl::control(int index) const
{
    if (index >= 0 && index <= kPlayMode)
        return m_buttons[index];
    if (index == kVolume)
        return m_volume;
    if (index == kPosition)
        return m_position;
    return nullptr;
}

bool PlayControl::seeking() const
{
    return m_position->isSliderDown() || m_holdDirection != 0;
}

void PlayControl::send(int command, int parameter)
{
    emit this->command(command, parameter);
}

void PlayControl::seekTo(int64_t positionMs)
{
    const int target = int(std::clamp<int64_t>(positionMs, m_position->minimum(), m_position->maximum()));
    {
        const QSignalBlocker block(m_position);
        m_position->setValue(target);
    }
    send(kCmdSeek, target);
}

void PlayControl::stepFrames(int direction)
{
    if (m_state == kStatePlaying || m_length == 0)
        return;
    seekTo(int64_t(m_position->value()) + int64_t(direction) * m_position->singleStep());
}

void PlayControl::startHold(int direction)
{
    m_resumeAfter = m_state == kStatePlaying;
    if (m_resumeAfter)
        send(kCmdPause);
    m_holdDirection = direction;
    m_holdSpeed = kHoldStartSpeed;
    m_hold.start();
}

void PlayControl::holdTick()
{
    if (m_holdDirection == 0)
        return;
    const int64_t step = int64_t(kHoldTickMs) * m_holdSpeed / 20;
    seekTo(int64_t(m_position->value()) + m_holdDirection * step);
    m_holdSpeed = std::min(m_holdSpeed + 1, kHoldTopSpeed);
}

void PlayControl::endHold()
{
    m_hold.stop();
    m_holdDirection = 0;
    if (m_resumeAfter)
        send(kCmdPlay);
    m_resumeAfter = false;
}

void PlayControl::positionPressed()
{
    m_resumeAfter = m_state == kStatePlaying;
    if (m_resumeAfter)
        send(kCmdPause);
}

void PlayControl::positionReleased()
{
    send(kCmdSeek, m_position->sliderPosition());
    if (m_resumeAfter)
        send(kCmdPlay);
    m_resumeAfter = false;
}

bool PlayControl::handleKey(int key)
{
    switch (key) {
    case Qt::Key_Space:
        send(m_state == kStatePlaying ? kCmdPause : kCmdPlay);
        return true;
    case Qt::Key_Left:
    case Qt::Key_Right: {
        const int direction = key == Qt::Key_Left ? -1 : 1;
        if (m_state == kStatePlaying)
            seekTo(int64_t(m_position->value()) + direction * kKeySeekMs);
        else
            stepFrames(direction);
        return true;
    }
    case Qt::Key_Up:
    case Qt::Key_Down:
        m_volume->setValue(m_volume->value() + (key == Qt::Key_Up ? 10 : -10));
        return true;
    case Qt::Key_Home:
        seekTo(0);
        return true;
    case Qt::Key_End:
        seekTo(int64_t(m_position->maximum()) - m_position->singleStep());
        return true;
    default:
        return false;
    }
}

void PlayControl::keyPressEvent(QKeyEvent* event)
{
    if (!handleKey(event->key()))
        QWidget::keyPressEvent(event);
}

QSize PlayControl::sizeHint() const
{
    return QSize(2 * kMargin + 10 * kButtonWidth + 3 * kGap + 2 * kVolumeMinWidth,
                 2 * kButtonHeight + 3 * kMargin);
}

QSize PlayControl::minimumSizeHint() const
{
    return QSize(2 * kMargin + 9 * kButtonWidth + 3 * kGap, 2 * kButtonHeight + 3 * kMargin);
}

void PlayControl::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutControls();
}

void PlayControl::layoutControls()
{
    const int inner = width() - 2 * kMargin;
    const int allButtons = 10 * kButtonWidth + 3 * kGap; // play and pause apart, no combined button
    const bool combined = inner < allButtons + kVolumeMinWidth;
    m_buttons[kPlayPause]->setVisible(combined);
    m_buttons[kPlay]->setVisible(!combined);
    m_buttons[kPause]->setVisible(!combined);
    const int count = combined ? 9 : 10;
    const int spare = inner - (count * kButtonWidth + 3 * kGap) - kVolumeMinWidth;
    const int buttonWidth = kButtonWidth + std::clamp(spare / (2 * count), 0, kMaxButtonGrowth);

    int x = kMargin;
    for (int i = 0; i <= kPlayMode; ++i) {
        if (m_buttons[i]->isHidden())
            continue;
        if (gapBefore(i))
            x += kGap;
        m_buttons[i]->setGeometry(x, kMargin, buttonWidth, kButtonHeight);
        x += buttonWidth;
    }
    m_volume->setGeometry(x + kGap, kMargin, std::max(0, width() - kMargin - x - kGap), kButtonHeight);
    m_position->setGeometry(kMargin, 2 * kMargin + kButtonHeight, inner, kButtonHeight);
}

void PlayControl::updateEnabling()
{
    const bool step = m_state != kStatePlaying && m_length != 0;
    m_buttons[kFrameBack]->setEnabled(step);
    m_buttons[kFrameForward]->setEnabled(step);
}

void PlayControl::updateTooltips()
{
    for (int i = 0; i < kControlCount; ++i) {
        QString text = m_tooltips ? m_tooltips(i) : QString();
        if (text.isEmpty()) {
            text = tableText(PLB_IDS_PLAY_CONTROL + i);
            if (i == kPlayMode)
                text += ": " + tableText(PLB_IDS_PLAY_MODE + m_mode);
        }
        control(i)->setToolTip(text);
    }
}

PlayControl* PlbCreatePlayControl(QWidget* parent)
{
    return runOnGuiThread([parent] { return new PlayControl(parent); });
}

} // namespace tamlibui
