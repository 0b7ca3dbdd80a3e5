// The main window's commands that reach outside it: the output folders, the manual and the web
// pages (through the replaceable opener) and the choice of the CD-ROM drive.
#include <QActionGroup>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QUrl>

#include <array>
#include <cerrno>
#include <cstring>

#include "command_texts.h"
#include "discport/discport.h"
#include "main_window.h"
#include "tamlib/environment.h"

namespace tamrin {

void MainWindow::refreshDriveMenu()
{
    m_driveMenu->clear();
    const int32_t count = CdGetDriveNum();
    const int32_t selected = PlbGetCdDrive(nullptr, nullptr, nullptr);
    auto* drives = new QActionGroup(m_driveMenu);
    for (int32_t drive = 0; drive < count; ++drive) {
        std::array<char, 64> vendor{}, product{}, revision{};
        int32_t host = 0, target = 0, lun = 0;
        CdGetDriveInfo(drive, &host, &target, &lun, vendor.data(), product.data(), revision.data());
        const QString name = QString("%1 %2").arg(QString::fromLatin1(vendor.data()).trimmed(),
                                                  QString::fromLatin1(product.data()).trimmed());
        QAction* item = m_driveMenu->addAction(QString("&%1: %2").arg(drive).arg(name.trimmed()));
        item->setCheckable(true);
        item->setChecked(drive == selected);
        item->setData(drive);
        drives->addAction(item);
        connect(item, &QAction::triggered, this, [this, drive] {
            if (PlbSetCdDrive(drive) != 1)
                refreshDriveMenu(); // the check goes back to the drive still selected
        });
    }
    if (count <= 0)
        m_driveMenu->addAction(commandMessage(CommandMessage::NoDrive))->setEnabled(false);
}

bool MainWindow::openUrl(const QUrl& url)
{
    return url.isValid() && m_openUrl && m_openUrl(url);
}

bool MainWindow::openOutputFolder(int commandId)
{
    const char* field = commandId == 40036   ? m_options->aviFolder
                        : commandId == 40037 ? m_options->waveFolder
                        : commandId == 40038 ? m_options->bmpFolder
                                             : nullptr;
    if (!field)
        return false;
    const QString folder = QFile::decodeName(QByteArray(field, qstrnlen(field, kFolderBytes)));
    if (folder.isEmpty() || !QDir().mkpath(folder) || !openUrl(QUrl::fromLocalFile(folder))) {
        message(commandMessage(CommandMessage::FolderNotOpened).arg(folder));
        return false;
    }
    return true;
}

bool MainWindow::openManual()
{
    // The manual is installed in the documentation folder of the program's installation.
    const QString programFolder = QApplication::applicationDirPath();
    const QStringList places = {programFolder + "/../share/doc/tamrin/Tamrin_Manual/index.htm",
                                programFolder + "/share/doc/tamrin/Tamrin_Manual/index.htm"};
    QString manual = QDir::cleanPath(places.first());
    for (const QString& place : places)
        if (QFileInfo::exists(place)) {
            manual = QDir::cleanPath(place);
            break;
        }
    QString why;
    if (!QFileInfo::exists(manual))
        why = QString::fromLocal8Bit(std::strerror(ENOENT));
    else if (!openUrl(QUrl::fromLocalFile(manual)))
        why = tr("No program is set to show HTML pages.");
    if (why.isEmpty())
        return true;
    message(commandMessage(CommandMessage::ManualNotOpened).arg(manual, why));
    return false;
}

} // namespace tamrin
