// The viewer windows of the preview: the player status bar, the frame view that paints the
// player's pictures, and the play control with its buttons and sliders. They know nothing of
// the player; their owner wires their signals to it (ViewerPanel does so for a caller).
#pragma once

#include <QImage>
#include <QPointer>
#include <QRect>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

#include "tamlib/player.h"
#include "tamlibui/export.h"

class QAbstractButton;
class QLabel;
class QSlider;
class QToolButton;

namespace tamlibui {

// Asks the owner for a tooltip: `index` is the control's index; an empty answer keeps the
// built-in text.
using TooltipProvider = std::function<QString(int index)>;

// ---- player status bar ----------------------------------------------------------------------

class TAMLIBUI_API PlayerStatusBar : public QWidget
{
    Q_OBJECT
  public:
    explicit PlayerStatusBar(QWidget* parent = nullptr);

    void setTooltipProvider(TooltipProvider provider);
    // Control indexes for the tooltip provider.
    enum Item
    {
        kFrameCounter = 0,
        kTime = 1,
        kSoundIcon = 2
    };

    // What is on show (for the owner and the tests).
    QString frameText() const;
    QString timeText() const;
    int soundKind() const { return m_sound; }
    bool counterVisible() const;
    bool iconVisible() const;

    QSize sizeHint() const override;

  public slots:
    // Hides the counter and the icon, shows "--:--" and " / --:--".
    void reset();
    // soundKind: 0 none, 1 mono, 2 stereo, other music; frameCount 0: no counter.
    void newStream(int soundKind, uint32_t frameCount, uint32_t lengthMs);
    void setFrame(uint32_t frameNumber);
    void setPosition(uint32_t positionMs);

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void layoutItems();
    void updateTooltips();

    QLabel* m_frame;
    QLabel* m_frames;
    QLabel* m_time;
    QLabel* m_length;
    QLabel* m_icon;
    int m_sound = 0;
    TooltipProvider m_tooltips;
};

// ---- frame view ----------------------------------------------------------------------------

class TAMLIBUI_API FrameView : public QWidget
{
    Q_OBJECT
  public:
    explicit FrameView(QWidget* parent = nullptr);
    ~FrameView() override;

    // The sink to give PlbOpenPlayer. It is called from the player's thread; the player that
    // uses it must be closed before the view is destroyed.
    PlbFrameSink frameSink();

    // Attaches the player (or detaches with null): the play rectangle is fitted to the view
    // and the view repaints. Without a player the view shows the idle picture.
    void attachPlayer(Player* player);
    Player* player() const { return m_player; }

    // Keeps the picture's proportions (width x height) inside the view; 0 x 0 fills the view.
    void setKeepAspect(int width, int height);
    // When set, the view leaves the play rectangle to the owner on a size change.
    void setOwnerPlacesPicture(bool owner) { m_ownerPlaces = owner; }
    // The picture drawn while no frame is on screen.
    void setIdleImage(const QImage& image);
    // While playing the pointer is a hand and hides after a second of rest.
    void setPlaying(bool playing);
    bool playing() const { return m_playing; }
    // Forgets the frame on screen (the idle picture comes back).
    void clearFrame();

    // Counts: pictures received from the player, and paints that drew a frame or the idle
    // picture.
    uint64_t framesReceived() const;
    uint64_t framesPainted() const { return m_painted; }
    bool hasFrame() const;
    // The play rectangle in device pixels.
    QRect playRect() const;

    static constexpr int kMinimumDrawSize = 10;
    static constexpr int kPointerRestMs = 1000;

    // Where the idle picture goes in a client area of `client` (the rule of the idle picture).
    static QRect idleTarget(QSize image, QSize client);

  signals:
    void leftButtonDown(QPoint pos);
    void rightButtonDown(QPoint pos);
    void leftButtonUp(QPoint pos);
    void rightButtonUp(QPoint pos);
    void mouseMoved(QPoint pos);
    void sizeChanged(QSize size);
    void moved(QPoint pos);
    void closed();
    void filesDropped(const QStringList& files);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    struct Bridge;
    void fitPlayRect();
    void restartRestTimer();
    void hidePointerIfResting();

    std::unique_ptr<Bridge> m_bridge;
    Player* m_player = nullptr;
    QImage m_idle;
    int m_aspectW = 0, m_aspectH = 0;
    bool m_ownerPlaces = false;
    bool m_playing = false;
    uint64_t m_painted = 0;
    QTimer m_rest;
};

// Creates a frame view: a child of `parent` when given, else a top-level window with a frame;
// position (0, 0) and size 100 x 100 unless given.
TAMLIBUI_API FrameView* PlbCreateFrameView(QWidget* parent = nullptr, QPoint position = QPoint(0, 0),
                                           QSize size = QSize(100, 100));

// ---- play control ----------------------------------------------------------------------------

class TAMLIBUI_API PlayControl : public QWidget
{
    Q_OBJECT
  public:
    // The controls in index order.
    enum Control
    {
        kPlayPause = 0,
        kPlay,
        kPause,
        kStop,
        kPrevious,
        kRewind,
        kForward,
        kNext,
        kFrameBack,
        kFrameForward,
        kPlayMode,
        kVolume,
        kPosition,
        kControlCount
    };
    // Commands sent to the owner; the parameter is the mode, volume or position where it applies.
    enum Command
    {
        kCmdPlay = 1,
        kCmdPause = 2,
        kCmdStop = 3,
        kCmdPrevious = 4,
        kCmdNext = 7,
        kCmdPlayMode = 10,
        kCmdVolume = 11,
        kCmdSeek = 12
    };
    // States: the command whose button is checked.
    enum State
    {
        kStatePlaying = kCmdPlay,
        kStatePaused = kCmdPause,
        kStateStopped = kCmdStop
    };

    explicit PlayControl(QWidget* parent = nullptr);

    void setTooltipProvider(TooltipProvider provider);

    void setPlayMode(int mode);
    int playMode() const { return m_mode; }
    void setState(int state);
    int state() const { return m_state; }
    void setLengthAndStep(uint32_t lengthMs, uint32_t stepMs);
    uint32_t length() const { return m_length; }
    void setPosition(uint32_t positionMs);
    uint32_t position() const;
    void setVolume(int volume);
    int volume() const;
    QWidget* control(int index) const;
    // True while the position slider is dragged or rewind/forward is held.
    bool seeking() const;

    // Space, arrows, Home and End; true when the key was used.
    bool handleKey(int key);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    static constexpr int kHoldTickMs = 200;

  signals:
    void command(int command, int parameter);

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void send(int command, int parameter = 0);
    void stepFrames(int direction);
    void seekTo(int64_t positionMs);
    void startHold(int direction);
    void holdTick();
    void endHold();
    void positionPressed();
    void positionReleased();
    void layoutControls();
    void updateEnabling();
    void updateTooltips();

    QToolButton* m_buttons[kPlayMode + 1] = {};
    QSlider* m_volume;
    QSlider* m_position;
    int m_mode = 0;
    int m_state = kStateStopped;
    uint32_t m_length = 0;
    bool m_resumeAfter = false;
    int m_holdDirection = 0;
    int m_holdSpeed = 0;
    QTimer m_hold;
    TooltipProvider m_tooltips;
};

TAMLIBUI_API PlayerStatusBar* PlbCreatePlayerStatusBar(QWidget* parent);
TAMLIBUI_API PlayControl* PlbCreatePlayControl(QWidget* parent);

// ---- the three wired to a player -------------------------------------------------------------

class TAMLIBUI_API ViewerPanel : public QWidget
{
    Q_OBJECT
  public:
    explicit ViewerPanel(QWidget* parent = nullptr);
    ~ViewerPanel() override;

    // Opens a stream (as PlbOpenPlayerEx; soundDriver null for the default device) paused on its
    // first picture. False when the player cannot open it.
    bool open(const char* pluginName, const char* fileName, const StrInfo& info,
              const char* soundDriver = nullptr);
    // Closes the player: its threads have ended when this returns.
    void closePlayer();
    Player* player() const { return m_player; }

    PlayerStatusBar* statusBar() const { return m_status; }
    FrameView* frameView() const { return m_view; }
    PlayControl* playControl() const { return m_control; }

    // Carries out a command of the play control.
    void runCommand(int command, int parameter);

  signals:
    // The previous (-1) or next (+1) stream is asked for; also +1 at the end in "all streams" mode.
    void streamRequested(int direction);
    void ended();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void onPosition(uint32_t frame, uint32_t positionMs);
    void onEnd();
    void syncState();

    PlayerStatusBar* m_status;
    FrameView* m_view;
    PlayControl* m_control;
    Player* m_player = nullptr;
    StrInfo m_info{};
    int m_volume = 100;
    struct NotifyContext
    {
        ViewerPanel* panel;
        uint32_t generation;
    };
    std::unique_ptr<NotifyContext> m_notify; // the open player's notification target
    uint32_t m_generation = 0;
};

} // namespace tamlibui
