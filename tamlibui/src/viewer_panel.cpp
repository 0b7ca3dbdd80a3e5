// The status bar, the frame view and the play control wired to one player: the control's
// commands become player calls, the player's notifications (from its threads) come back to the
// GUI thread as queued calls.
#include <QCloseEvent>
#include <QKeyEvent>
#include <QVBoxLayout>

#include "tamlibui/viewer.h"

namespace tamlibui {

namespace {

constexpr uint32_t kNotifyIntervalMs = 50;
constexpr int32_t kStretchMode = 4;

int soundKindOf(const StrInfo& info)
{
    if (info.kind & StrMusic)
        return 3;
    if (!(info.kind & StrAudio))
        return 0;
    return info.channels >= 2 ? 2 : 1;
}

// Milliseconds of one frame: frameRate is frames a second x 10 up to 800, x 100 above.
uint32_t frameStepMs(const StrInfo& info)
{
    if (info.frameRate == 0)
        return 0;
    const uint32_t scale = info.frameRate > 800 ? 100000 : 10000;
    return std::max<uint32_t>(1, scale / info.frameRate);
}

} // namespace

ViewerPanel::ViewerPanel(QWidget* parent)
    : QWidget(parent), m_status(new PlayerStatusBar(this)), m_view(new FrameView(this)),
      m_control(new PlayControl(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_status);
    layout->addWidget(m_view, 1);
    layout->addWidget(m_control);
    setFocusPolicy(Qt::StrongFocus);
    m_control->setVolume(m_volume);
    connect(m_control, &PlayControl::command, this, &ViewerPanel::runCommand);
    connect(m_view, &FrameView::leftButtonUp, this, [this] {
        runCommand(m_control->state() == PlayControl::kStatePlaying ? PlayControl::kCmdPause
                                                                    : PlayControl::kCmdPlay,
                   0);
    });
}

ViewerPanel::~ViewerPanel()
{
    // The player's threads call into the view and into this panel: they end first.
    closePlayer();
}

bool ViewerPanel::open(const char* pluginName, const char* fileName, const StrInfo& info,
                       const char* soundDriver)
{
    closePlayer();
    const PlbFrameSink sink = m_view->frameSink();
    // Notifications carry the stream's generation: those of a stream closed since (still queued
    // when the next one opens) are dropped.
    m_notify = std::make_unique<NotifyContext>(NotifyContext{this, ++m_generation});
    const PlbNotifySink notify{m_notify.get(),
                               [](void* context, uint32_t frame, uint32_t ms) {
                                   const NotifyContext to = *static_cast<NotifyContext*>(context);
                                   QMetaObject::invokeMethod(
                                       to.panel,
                                       [to, frame, ms] {
                                           if (to.panel->m_generation == to.generation)
                                               to.panel->onPosition(frame, ms);
                                       },
                                       Qt::QueuedConnection);
                                   return int32_t(1);
                               },
                               [](void* context) {
                                   const NotifyContext to = *static_cast<NotifyContext*>(context);
                                   QMetaObject::invokeMethod(
                                       to.panel,
                                       [to] {
                                           if (to.panel->m_generation == to.generation)
                                               to.panel->onEnd();
                                       },
                                       Qt::QueuedConnection);
                                   return int32_t(1);
                               }};
    const PlbPlayerOptions options{soundDriver, nullptr, -1};
    const bool pictures = info.kind & (StrVideo | StrStill);
    m_player = PlbOpenPlayerEx(pluginName, fileName, &info, pictures ? &sink : nullptr, &notify,
                               kNotifyIntervalMs, kStretchMode, &options);
    if (!m_player) {
        m_status->reset();
        return false;
    }
    m_info = info;
    m_view->setKeepAspect(int(info.outWidth ? info.outWidth : info.width),
                          int(info.outHeight ? info.outHeight : info.height));
    m_view->attachPlayer(m_player);
    m_status->newStream(soundKindOf(info), pictures ? info.frameCount : 0, info.durationMs);
    m_control->setLengthAndStep(info.durationMs, frameStepMs(info));
    m_control->setPosition(0);
    PlbSetVolume(m_player, uint32_t(m_volume));
    syncState();
    return true;
}

void ViewerPanel::closePlayer()
{
    if (!m_player)
        return;
    Player* player = m_player;
    m_player = nullptr;
    ++m_generation;
    PlbClosePlayer(player); // no picture or notification comes after this
    m_notify.reset();
    m_view->attachPlayer(nullptr);
    m_view->setPlaying(false);
    m_control->setState(PlayControl::kStateStopped);
    m_control->setLengthAndStep(0, 0);
    m_status->reset();
}

void ViewerPanel::runCommand(int command, int parameter)
{
    switch (command) {
    case PlayControl::kCmdPrevious:
        emit streamRequested(-1);
        return;
    case PlayControl::kCmdNext:
        emit streamRequested(1);
        return;
    case PlayControl::kCmdPlayMode:
        m_control->setPlayMode(parameter);
        return;
    case PlayControl::kCmdVolume:
        m_volume = std::clamp(parameter, 1, 100);
        if (m_player)
            PlbSetVolume(m_player, uint32_t(m_volume));
        return;
    default:
        break;
    }
    if (!m_player)
        return;
    const uint16_t status = PlbGetPlayerStatus(m_player);
    switch (command) {
    case PlayControl::kCmdPlay:
        if (status == PLB_STATE_ENDED)
            PlbSeekPlayer(m_player, 0);
        PlbPlayPlayer(m_player);
        break;
    case PlayControl::kCmdPause:
        PlbPausePlayer(m_player);
        break;
    case PlayControl::kCmdStop:
        PlbStopPlayer(m_player);
        break;
    case PlayControl::kCmdSeek: {
        const uint32_t target = uint32_t(std::max(0, parameter));
        PlbSeekPlayer(m_player, target);
        if (status == PLB_STATE_PLAYING)
            PlbPlayPlayer(m_player);
        m_status->setPosition(target);
        break;
    }
    default:
        return;
    }
    syncState();
}

void ViewerPanel::onPosition(uint32_t frame, uint32_t positionMs)
{
    if (!m_player)
        return;
    if (frame)
        m_status->setFrame(frame);
    m_status->setPosition(positionMs);
    m_control->setPosition(positionMs);
}

void ViewerPanel::onEnd()
{
    if (!m_player)
        return;
    if (m_control->playMode() == 1) {
        PlbSeekPlayer(m_player, 0);
        PlbPlayPlayer(m_player);
    }
    syncState();
    emit ended();
    if (m_control->playMode() == 2)
        emit streamRequested(1);
}

void ViewerPanel::syncState()
{
    const uint16_t status = m_player ? PlbGetPlayerStatus(m_player) : PLB_STATE_STOPPED;
    const int state = status == PLB_STATE_PLAYING  ? PlayControl::kStatePlaying
                      : status == PLB_STATE_PAUSED ? PlayControl::kStatePaused
                                                   : PlayControl::kStateStopped;
    m_control->setState(state);
    m_view->setPlaying(state == PlayControl::kStatePlaying);
}

void ViewerPanel::closeEvent(QCloseEvent* event)
{
    closePlayer();
    QWidget::closeEvent(event);
}

void ViewerPanel::keyPressEvent(QKeyEvent* event)
{
    if (!m_control->handleKey(event->key()))
        QWidget::keyPressEvent(event);
}

} // namespace tamlibui
