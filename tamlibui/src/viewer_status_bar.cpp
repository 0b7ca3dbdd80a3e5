// The player status bar: frame counter at the left, time and length before the sound icon at
// the right edge, white on black.
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QResizeEvent>

#include <algorithm>

#include "tamlib/strings.h"
#include "tamlibui/gui_thread.h"
#include "tamlibui/viewer.h"

namespace tamlibui {

namespace {

constexpr int kMarkX = 6;
constexpr int kMarkWidth = 14;
constexpr int kIconWidth = 26;

QString tableText(uint32_t id)
{
    char buffer[PLB_STRING_MAX];
    return QString::fromUtf8(PlbLoadString(nullptr, buffer, id));
}

uint32_t soundStringId(int kind)
{
    switch (kind) {
    case 0:
        return PLB_IDS_SOUND_NONE;
    case 1:
        return PLB_IDS_SOUND_MONO;
    case 2:
        return PLB_IDS_SOUND_STEREO;
    default:
        return PLB_IDS_SOUND_MUSIC;
    }
}

QString minutesSeconds(uint32_t ms)
{
    const uint32_t seconds = ms / 1000;
    return QString::asprintf("%02u:%02u", seconds / 60, seconds % 60);
}

// A speaker with one wave (mono), two speakers (stereo), a crossed speaker (none) or a note
// (music), white on the bar's black.
QPixmap soundPixmap(int kind, qreal dpr)
{
    QPixmap pixmap(QSize(kIconWidth, 16) * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::black);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::white, 1.4));
    auto speaker = [&](qreal x) {
        QPainterPath path;
        path.moveTo(x, 6);
        path.lineTo(x + 3, 6);
        path.lineTo(x + 7, 2);
        path.lineTo(x + 7, 14);
        path.lineTo(x + 3, 10);
        path.lineTo(x, 10);
        path.closeSubpath();
        p.fillPath(path, Qt::white);
    };
    if (kind == 0) {
        speaker(3);
        p.drawLine(QPointF(13, 5), QPointF(19, 11));
        p.drawLine(QPointF(19, 5), QPointF(13, 11));
    } else if (kind == 1) {
        speaker(5);
        p.drawArc(QRectF(8, 4, 8, 8), -60 * 16, 120 * 16);
        p.drawArc(QRectF(6, 1, 14, 14), -60 * 16, 120 * 16);
    } else if (kind == 2) {
        speaker(2);
        p.drawArc(QRectF(5, 4, 7, 8), -60 * 16, 120 * 16);
        p.save();
        p.translate(kIconWidth, 0);
        p.scale(-1, 1);
        speaker(2);
        p.drawArc(QRectF(5, 4, 7, 8), -60 * 16, 120 * 16);
        p.restore();
    } else {
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(7, 10, 5, 4));
        p.drawEllipse(QRectF(15, 9, 5, 4));
        p.drawLine(QPointF(12, 12), QPointF(12, 3));
        p.drawLine(QPointF(20, 11), QPointF(20, 2));
        p.drawLine(QPointF(12, 3), QPointF(20, 2));
    }
    return pixmap;
}

QLabel* whiteLabel(QWidget* parent, Qt::Alignment alignment)
{
    auto* label = new QLabel(parent);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    label->setPalette(palette);
    label->setAlignment(alignment | Qt::AlignVCenter);
    return label;
}

} // namespace

PlayerStatusBar::PlayerStatusBar(QWidget* parent)
    : QWidget(parent), m_frame(whiteLabel(this, Qt::AlignLeft)), m_frames(whiteLabel(this, Qt::AlignLeft)),
      m_time(whiteLabel(this, Qt::AlignRight)), m_length(whiteLabel(this, Qt::AlignLeft)),
      m_icon(whiteLabel(this, Qt::AlignCenter))
{
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::black);
    setPalette(palette);
    setAutoFillBackground(true);
    reset();
}

void PlayerStatusBar::setTooltipProvider(TooltipProvider provider)
{
    m_tooltips = std::move(provider);
    updateTooltips();
}

QString PlayerStatusBar::frameText() const
{
    return m_frame->text() + m_frames->text();
}

QString PlayerStatusBar::timeText() const
{
    return m_time->text() + m_length->text();
}

bool PlayerStatusBar::counterVisible() const
{
    return !m_frame->isHidden();
}

bool PlayerStatusBar::iconVisible() const
{
    return !m_icon->isHidden();
}

QSize PlayerStatusBar::sizeHint() const
{
    const QFontMetrics metrics(font());
    return QSize(kMarkX + kMarkWidth + metrics.horizontalAdvance("00000 / 00000  00:00 / 00:00") +
                     kIconWidth + 8,
                 std::max(20, metrics.height() + 6));
}

void PlayerStatusBar::reset()
{
    m_frame->hide();
    m_frames->hide();
    m_icon->hide();
    m_time->setText("--:--");
    m_length->setText(" / --:--");
    layoutItems();
}

void PlayerStatusBar::newStream(int soundKind, uint32_t frameCount, uint32_t lengthMs)
{
    m_sound = soundKind;
    m_icon->setPixmap(soundPixmap(soundKind, devicePixelRatioF()));
    m_icon->show();
    m_time->setText("00:00");
    m_length->setText(" / " + minutesSeconds(lengthMs));
    m_frame->setVisible(frameCount != 0);
    m_frames->setVisible(frameCount != 0);
    m_frame->setText("1");
    m_frames->setText(QString::asprintf(" / %u", frameCount));
    updateTooltips();
    layoutItems();
}

void PlayerStatusBar::setFrame(uint32_t frameNumber)
{
    m_frame->setText(QString::number(frameNumber));
    layoutItems();
}

void PlayerStatusBar::setPosition(uint32_t positionMs)
{
    m_time->setText(minutesSeconds(positionMs));
    if (positionMs >= 100 * 60 * 1000)
        layoutItems(); // three-digit minutes
}

void PlayerStatusBar::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutItems();
}

void PlayerStatusBar::paintEvent(QPaintEvent*)
{
    // The mark before the counter: a small film frame.
    if (m_frame->isHidden())
        return;
    QPainter p(this);
    p.setPen(Qt::white);
    const int y = height() / 2 - 5;
    p.drawRect(kMarkX, y, kMarkWidth - 3, 10);
    for (int i = 0; i < 3; ++i)
        p.fillRect(kMarkX + 2 + i * 3, y + 2, 2, 2, Qt::white);
}

void PlayerStatusBar::layoutItems()
{
    const QFontMetrics metrics(font());
    const int h = height();
    int x = kMarkX + kMarkWidth;
    const int frameWidth = metrics.horizontalAdvance(m_frame->text()) + 2;
    m_frame->setGeometry(x, 0, frameWidth, h);
    m_frames->setGeometry(x + frameWidth, 0, metrics.horizontalAdvance(m_frames->text()) + 4, h);

    const int iconX = width() - kIconWidth;
    m_icon->setGeometry(iconX, 0, kIconWidth, h);
    // The widest texts either label shows, so that nothing moves or clips while playing; lengths
    // of an hour and more widen the length label.
    const int lengthWidth =
        std::max({metrics.horizontalAdvance(" / --:--"), metrics.horizontalAdvance(" / 00:00"),
                  metrics.horizontalAdvance(m_length->text())}) +
        6;
    const int timeWidth = std::max({metrics.horizontalAdvance("--:--"), metrics.horizontalAdvance("00:00"),
                                    metrics.horizontalAdvance(m_time->text())}) +
                          6;
    m_length->setGeometry(iconX - lengthWidth - 2, 0, lengthWidth, h);
    m_time->setGeometry(iconX - lengthWidth - 2 - timeWidth, 0, timeWidth, h);
    update();
}

void PlayerStatusBar::updateTooltips()
{
    auto text = [&](int index, uint32_t id) {
        QString own = m_tooltips ? m_tooltips(index) : QString();
        return own.isEmpty() ? tableText(id) : own;
    };
    const QString counter = text(kFrameCounter, PLB_IDS_FRAME_COUNTER);
    m_frame->setToolTip(counter);
    m_frames->setToolTip(counter);
    const QString time = text(kTime, PLB_IDS_PLAY_TIME);
    m_time->setToolTip(time);
    m_length->setToolTip(time);
    m_icon->setToolTip(text(kSoundIcon, soundStringId(m_sound)));
}

PlayerStatusBar* PlbCreatePlayerStatusBar(QWidget* parent)
{
    return runOnGuiThread([parent] { return new PlayerStatusBar(parent); });
}

} // namespace tamlibui
