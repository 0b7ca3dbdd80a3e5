// The frame view: paints the pictures the player hands to its frame sink. The sink runs on the
// player's thread; it copies the picture under a lock and asks the GUI thread to repaint.
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QMutex>
#include <QPainter>

#include <atomic>
#include <cmath>
#include <cstring>

#include "tamlibui/gui_thread.h"
#include "tamlibui/viewer.h"

namespace tamlibui {

namespace {

// Pictures larger than this on a side are refused as damaged.
constexpr int32_t kLargestPicture = 16384;

// A copy of a 24-bit (blue, green, red) or 16-bit (0RRRRRGGGGGBBBBB) bottom-up picture; null
// for anything else or for a header that does not match its pixel block.
QImage copyPicture(const FrameDib* picture)
{
    if (!picture || picture->width <= 0 || picture->height <= 0 || picture->width > kLargestPicture ||
        picture->height > kLargestPicture)
        return {};
    const int bits = picture->bitCount;
    if (bits != 24 && bits != 16)
        return {};
    const uint32_t stride = LbrPictureStride(picture->width, bits);
    if (uint64_t(stride) * uint64_t(picture->height) > picture->imageSize)
        return {};
    QImage image(picture->width, picture->height, bits == 24 ? QImage::Format_BGR888 : QImage::Format_RGB555);
    if (image.isNull())
        return {};
    const auto* pixels = reinterpret_cast<const uint8_t*>(picture) + sizeof(FrameDib);
    const size_t rowBytes = size_t(picture->width) * (bits / 8);
    for (int32_t row = 0; row < picture->height; ++row)
        std::memcpy(image.scanLine(picture->height - 1 - row), pixels + size_t(row) * stride, rowBytes);
    return image;
}

} // namespace

// What the player's thread and the GUI thread share.
struct FrameView::Bridge
{
    FrameView* view;
    mutable QMutex mutex;
    QImage picture;
    uint32_t frameNumber = 0;
    std::atomic<uint64_t> received{0};
    std::atomic<bool> repaintPosted{false};

    static void frame(void* context, const FrameDib* picture, const PlbRect*, uint32_t frameNumber)
    {
        auto* self = static_cast<Bridge*>(context);
        QImage copy = copyPicture(picture);
        if (copy.isNull())
            return;
        {
            QMutexLocker lock(&self->mutex);
            self->picture = std::move(copy);
            self->frameNumber = frameNumber;
        }
        self->received.fetch_add(1, std::memory_order_relaxed);
        // One repaint request in flight at a time: a slow GUI thread sees the newest picture.
        if (!self->repaintPosted.exchange(true)) {
            FrameView* view = self->view;
            QMetaObject::invokeMethod(
                view,
                [view] {
                    view->m_bridge->repaintPosted = false;
                    view->update();
                },
                Qt::QueuedConnection);
        }
    }
};

FrameView::FrameView(QWidget* parent) : QWidget(parent), m_bridge(std::make_unique<Bridge>())
{
    m_bridge->view = this;
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::black);
    setPalette(palette);
    setAutoFillBackground(true);
    setMouseTracking(true);
    setAcceptDrops(true);
    setMinimumSize(1, 1);
    m_rest.setSingleShot(true);
    m_rest.setInterval(kPointerRestMs);
    connect(&m_rest, &QTimer::timeout, this, &FrameView::hidePointerIfResting);
}

FrameView::~FrameView() = default;

PlbFrameSink FrameView::frameSink()
{
    const qreal dpr = devicePixelRatioF();
    return PlbFrameSink{m_bridge.get(), &Bridge::frame, std::max(1, int(std::lround(width() * dpr))),
                        std::max(1, int(std::lround(height() * dpr)))};
}

void FrameView::attachPlayer(Player* player)
{
    m_player = player;
    if (!player)
        clearFrame();
    fitPlayRect();
    update();
}

void FrameView::setKeepAspect(int width, int height)
{
    m_aspectW = std::max(0, width);
    m_aspectH = std::max(0, height);
    fitPlayRect();
    update();
}

void FrameView::setIdleImage(const QImage& image)
{
    m_idle = image;
    update();
}

void FrameView::setPlaying(bool playing)
{
    m_playing = playing;
    if (playing) {
        setCursor(Qt::PointingHandCursor);
        restartRestTimer();
    } else {
        m_rest.stop();
        unsetCursor();
    }
}

void FrameView::clearFrame()
{
    QMutexLocker lock(&m_bridge->mutex);
    m_bridge->picture = QImage();
    update();
}

uint64_t FrameView::framesReceived() const
{
    return m_bridge->received.load();
}

bool FrameView::hasFrame() const
{
    QMutexLocker lock(&m_bridge->mutex);
    return !m_bridge->picture.isNull();
}

QRect FrameView::playRect() const
{
    const qreal dpr = devicePixelRatioF();
    const QSize client(int(std::lround(width() * dpr)), int(std::lround(height() * dpr)));
    if (m_player) {
        PlbRect rect{};
        if (PlbGetPlayRect(m_player, &rect) >= 0 && rect.right > rect.left && rect.bottom > rect.top)
            return QRect(QPoint(rect.left, rect.top), QPoint(rect.right - 1, rect.bottom - 1));
    }
    return QRect(QPoint(0, 0), client);
}

QRect FrameView::idleTarget(QSize image, QSize client)
{
    if (image.isEmpty() || client.isEmpty())
        return {};
    const double rw = double(client.width()) / image.width();
    const double rh = double(client.height()) / image.height();
    if (std::fabs(rw - rh) <= 0.2 + 1e-9) // ratios like 2.2 and 2.0 are within, despite rounding
        return QRect(QPoint(0, 0), client);
    const double scale = std::min(rw, rh);
    const QSize size(std::max(1, int(std::lround(image.width() * scale))),
                     std::max(1, int(std::lround(image.height() * scale))));
    return QRect(QPoint((client.width() - size.width()) / 2, (client.height() - size.height()) / 2), size);
}

void FrameView::fitPlayRect()
{
    if (!m_player)
        return;
    const qreal dpr = devicePixelRatioF();
    const int w = std::max(1, int(std::lround(width() * dpr)));
    const int h = std::max(1, int(std::lround(height() * dpr)));
    QRect target(0, 0, w, h);
    if (m_aspectW > 0 && m_aspectH > 0) {
        const double scale = std::min(double(w) / m_aspectW, double(h) / m_aspectH);
        const int fw = std::max(1, int(std::lround(m_aspectW * scale)));
        const int fh = std::max(1, int(std::lround(m_aspectH * scale)));
        target = QRect((w - fw) / 2, (h - fh) / 2, fw, fh);
    }
    const PlbRect rect{target.left(), target.top(), target.left() + target.width(),
                       target.top() + target.height()};
    PlbSetPlayRect(m_player, &rect, -1);
}

void FrameView::paintEvent(QPaintEvent*)
{
    if (width() < kMinimumDrawSize || height() < kMinimumDrawSize)
        return;
    const qreal dpr = devicePixelRatioF();
    QImage picture;
    {
        QMutexLocker lock(&m_bridge->mutex);
        picture = m_bridge->picture;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (!picture.isNull()) {
        const QRect device = playRect();
        const QRectF target(device.x() / dpr, device.y() / dpr, device.width() / dpr, device.height() / dpr);
        painter.drawImage(target, picture);
        ++m_painted;
    } else if (!m_idle.isNull()) {
        const QRect device = idleTarget(
            m_idle.size(), QSize(int(std::lround(width() * dpr)), int(std::lround(height() * dpr))));
        painter.drawImage(
            QRectF(device.x() / dpr, device.y() / dpr, device.width() / dpr, device.height() / dpr), m_idle);
        ++m_painted;
    }
}

void FrameView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    emit sizeChanged(size());
    if (!m_ownerPlaces)
        fitPlayRect();
    update();
}

void FrameView::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    emit moved(pos());
}

void FrameView::closeEvent(QCloseEvent* event)
{
    emit closed();
    QWidget::closeEvent(event);
}

void FrameView::mousePressEvent(QMouseEvent* event)
{
    restartRestTimer();
    if (event->button() == Qt::LeftButton)
        emit leftButtonDown(event->position().toPoint());
    else if (event->button() == Qt::RightButton)
        emit rightButtonDown(event->position().toPoint());
}

void FrameView::mouseReleaseEvent(QMouseEvent* event)
{
    restartRestTimer();
    if (event->button() == Qt::LeftButton)
        emit leftButtonUp(event->position().toPoint());
    else if (event->button() == Qt::RightButton)
        emit rightButtonUp(event->position().toPoint());
}

void FrameView::mouseMoveEvent(QMouseEvent* event)
{
    restartRestTimer();
    emit mouseMoved(event->position().toPoint());
}

void FrameView::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void FrameView::dropEvent(QDropEvent* event)
{
    QStringList files;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile())
            files << url.toLocalFile();
    if (!files.isEmpty()) {
        event->acceptProposedAction();
        emit filesDropped(files);
    }
}

void FrameView::restartRestTimer()
{
    if (m_playing && cursor().shape() == Qt::BlankCursor)
        setCursor(Qt::PointingHandCursor);
    if (m_playing)
        m_rest.start();
}

void FrameView::hidePointerIfResting()
{
    if (m_playing && underMouse())
        setCursor(Qt::BlankCursor);
}

FrameView* PlbCreateFrameView(QWidget* parent, QPoint position, QSize size)
{
    return runOnGuiThread([=] {
        auto* view = new FrameView(parent);
        if (!parent)
            view->setWindowFlags(Qt::Window);
        view->setGeometry(QRect(position, size.isValid() && !size.isEmpty() ? size : QSize(100, 100)));
        return view;
    });
}

} // namespace tamlibui
