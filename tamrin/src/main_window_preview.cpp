// The main window's preview: the frame on screen saved or copied, and the preview settings (play
// mode, volume, size and the pop-up preview window), each kept in the options record as it changes.
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QRegularExpression>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "command_texts.h"
#include "main_window.h"
#include "tamlib/picture_file.h"
#include "tamlib/player.h"
#include "tamlibui/viewer.h"

namespace tamrin {

namespace {

// The pop-up preview's window: tells its owner where it moved and that it was closed.
class PopupWindow : public QWidget
{
  public:
    PopupWindow(QWidget* owner, std::function<void(QPoint)> moved, std::function<void()> closed)
        : QWidget(owner, Qt::Window), m_moved(std::move(moved)), m_closed(std::move(closed))
    {
    }

  protected:
    void moveEvent(QMoveEvent* event) override
    {
        QWidget::moveEvent(event);
        if (!isFullScreen())
            m_moved(pos());
    }
    void closeEvent(QCloseEvent* event) override
    {
        event->ignore(); // the owner puts the preview back and deletes the window
        m_closed();
    }

  private:
    std::function<void(QPoint)> m_moved;
    std::function<void()> m_closed;
};

// The factor of a preview size command, in halves.
int previewHalves(int command)
{
    return command == kPreviewHalf ? 1 : command == kPreviewEnlarged ? 4 : 2;
}

} // namespace

// ---- the frame on screen -------------------------------------------------------------------

bool MainWindow::saveFrame(const QString& path, QString* error)
{
    Player* player = m_viewer->player();
    uint32_t frameNumber = 0;
    FrameDib* picture = player ? PlbLockFrameDIB(player, &frameNumber) : nullptr;
    if (!picture) {
        if (error)
            *error = tr("There is no picture on screen.");
        return false;
    }
    std::string why;
    const bool written =
        tamlib::writeBmpFile(std::filesystem::path(QFile::encodeName(path).toStdString()), *picture, why);
    PlbUnlockFrameDIB(player);
    if (!written && error)
        *error = tr("'%1' was not written.\n%2").arg(path, QString::fromStdString(why));
    return written;
}

bool MainWindow::copyFrame()
{
    const QImage frame = m_viewer->frameView()->hasFrame()
                             ? m_viewer->frameView()->grab(m_viewer->frameView()->playRect()).toImage()
                             : QImage();
    if (frame.isNull())
        return false;
    QApplication::clipboard()->setImage(frame);
    return true;
}

void MainWindow::onSaveFrameAuto()
{
    if (previewedRow() < 0)
        return;
    QString base = QFileInfo(entry(previewedRow()).title).completeBaseName();
    base.replace(QRegularExpression(R"([\\/:,;*<>|?"])"), "_");
    const QString folder = QFile::decodeName(QByteArray::fromStdString(fieldText(m_options->bmpFolder)));
    QDir().mkpath(folder);
    // Numbers of an earlier run may be taken: a frame saved then is never replaced.
    QString path;
    do
        path = QDir(folder).filePath(QString("%1-%2.bmp").arg(base).arg(++m_frameNumber, 4, 10, QChar('0')));
    while (QFileInfo::exists(path) && m_frameNumber < 9999);
    QString error;
    if (QFileInfo::exists(path))
        message(tr("'%1' was not written.\n%2").arg(path, QString::fromUtf8(std::strerror(EEXIST))));
    else if (!saveFrame(path, &error))
        message(error);
}

void MainWindow::onSaveFrameAs()
{
    const QString path =
        QFileDialog::getSaveFileName(this, tr("Save the frame"), QString(), tr("Bitmap (*.bmp)"));
    QString error;
    if (!path.isEmpty() && !saveFrame(path, &error))
        message(error);
}

// ---- the preview settings ------------------------------------------------------------------

void MainWindow::setPlayMode(int command)
{
    if (command < kPlayOne || command > kPlayAll)
        return;
    m_options->playMode = command;
    action(command)->setChecked(true);
    m_viewer->runCommand(tamlibui::PlayControl::kCmdPlayMode, command - kPlayOne);
}

void MainWindow::setVolume(int volume)
{
    volume = std::clamp(volume, 1, 100);
    m_options->volume = int16_t(volume);
    m_viewer->playControl()->setVolume(volume);
    m_viewer->runCommand(tamlibui::PlayControl::kCmdVolume, volume); // PlbSetVolume on the player
}

void MainWindow::onPlayControlCommand(int command, int parameter)
{
    // The control has carried the command out through the viewer; only the record follows it.
    if (command == tamlibui::PlayControl::kCmdPlayMode && parameter >= 0 && parameter <= 2) {
        m_options->playMode = kPlayOne + parameter;
        action(kPlayOne + parameter)->setChecked(true);
    } else if (command == tamlibui::PlayControl::kCmdVolume) {
        m_options->volume = int16_t(std::clamp(parameter, 1, 100));
    }
}

void MainWindow::setPreviewSize(int command)
{
    if (command < kPreviewHalf || command > kPreviewEnlarged)
        command = kPreviewSame;
    m_options->previewSize = uint16_t(command);
    action(command)->setChecked(true);
    applyPreviewSize();
}

void MainWindow::setPreviewFlag(uint16_t flag, bool on)
{
    const int id = flag == kPreviewFullScreen ? 40064 : flag == kPreviewOnTop ? 40065 : 40066;
    m_options->previewFlags = uint16_t(on ? m_options->previewFlags | flag : m_options->previewFlags & ~flag);
    action(id)->setChecked(on);
    if (m_popup && flag != kPreviewKeepSize)
        applyPreviewSize();
}

// The pop-up preview takes the picture's size times the chosen factor, full screen or on top as
// the flags say. On its page the preview fits the page.
void MainWindow::applyPreviewSize()
{
    if (!m_popup)
        return;
    const uint16_t flags = m_options->previewFlags;
    const bool onTop = flags & kPreviewOnTop;
    if (m_popup->windowFlags().testFlag(Qt::WindowStaysOnTopHint) != onTop)
        m_popup->setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    if (flags & kPreviewFullScreen) {
        m_popup->showFullScreen();
        return;
    }
    const StrInfo* info = previewedRow() >= 0 ? &entry(previewedRow()).info : nullptr;
    const int width = info && info->width ? info->width : 320;
    const int height = info && info->height ? info->height : 240;
    const int halves = previewHalves(m_options->previewSize);
    const int extra =
        m_viewer->statusBar()->sizeHint().height() + m_viewer->playControl()->sizeHint().height();
    m_popup->showNormal();
    m_popup->resize(std::max(width * halves / 2, 160), std::max(height * halves / 2, 120) + extra);
}

void MainWindow::setPopupPreview(bool popup)
{
    action(40067)->setChecked(popup);
    if (popup == (m_popup != nullptr))
        return;
    const QString pageText = m_tabs->tabText(kPagePreview);
    if (popup) {
        m_popup = new PopupWindow(
            this,
            [this](QPoint at) {
                m_options->popupLeft = at.x();
                m_options->popupTop = at.y();
            },
            [this] {
                QMetaObject::invokeMethod(
                    this, [this] { setPopupPreview(false); }, Qt::QueuedConnection);
            });
        m_popup->setWindowTitle(windowTitle());
        auto* layout = new QVBoxLayout(m_popup);
        layout->setContentsMargins(0, 0, 0, 0);
        m_tabs->removeTab(kPagePreview);
        m_tabs->insertTab(kPagePreview, new QLabel(commandHelp(40067)), pageText);
        layout->addWidget(m_viewer);
        m_viewer->show();
        m_popup->move(m_options->popupLeft, m_options->popupTop);
        applyPreviewSize();
        m_popup->show();
    } else {
        QWidget* placeholder = m_tabs->widget(kPagePreview);
        m_tabs->removeTab(kPagePreview);
        delete placeholder;
        m_tabs->insertTab(kPagePreview, m_viewer, pageText);
        delete m_popup; // the viewer has left it
        m_popup = nullptr;
    }
}

} // namespace tamrin
