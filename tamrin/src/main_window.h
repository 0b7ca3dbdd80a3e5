// The main window: the stream list (stream files opened from disk and the streams of the
// analysed disc), the tab area (information, preview, conversion) and the commands of the menu
// and toolbar. Every format decision, analysis and playback is the library's; the window only
// presents them.
#pragma once

#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

#include "options_file.h"
#include "stream_entry.h"
#include "tamlib/cdaz.h"

class QAction;
class QLabel;
class QMenu;
class QUrl;
class QTabWidget;
class QTextBrowser;
class QTreeWidget;
class QTreeWidgetItem;

namespace tamlibui {
class ViewerPanel;
}

namespace tamrin {

class ConversionPage;

class MainWindow : public QMainWindow
{
    Q_OBJECT
  public:
    // Columns of the stream list.
    enum Column
    {
        kColStream = 0,
        kColTime,
        kColPlugin,
        kColConversion,
        kColumnCount
    };
    // Pages of the tab area; the "CDAZ" page is added while a disc is open.
    enum Page
    {
        kPageInformation = 0,
        kPagePreview,
        kPageConversion,
        kPageCdaz
    };

    // The window works on `options` (the record of the options file, read at start and saved by
    // the caller at the end); without one it keeps a record of defaults of its own.
    explicit MainWindow(TamrinOptions* options = nullptr, QWidget* parent = nullptr);
    ~MainWindow() override;

    TamrinOptions& options() { return *m_options; }

    // Opens stream files and disc images (as from the command line or a drop): a disc image is
    // mounted as a drive for the session and analysed; any other file is identified by the
    // installed plugins. Returns the number of entries added.
    int openPaths(const QStringList& paths);
    // Opens one stream file; false when it is listed already or no plugin takes it.
    bool openStreamFile(const QString& path);
    // Mounts a disc image as a drive, selects it and analyses it; false when it cannot be mounted
    // or the analysis gave nothing.
    bool openDiscImage(const QString& path);
    // Analyses the disc in the selected drive (the disc open so far is closed first).
    bool analyseDisc();
    void closeDisc();
    bool discOpen() const { return m_cdaz != nullptr; }
    CdazRecord* disc() const { return m_cdaz; }
    QString discTitle() const { return m_discTitle; }

    // The entries in list order.
    int entryCount() const;
    const StreamEntry& entry(int row) const;
    QTreeWidget* streamList() const { return m_list; }
    QTabWidget* tabs() const { return m_tabs; }
    tamlibui::ViewerPanel* viewer() const { return m_viewer; }
    QTextBrowser* informationPage() const { return m_information; }
    QAction* action(int commandId) const;

    // Sets the conversion of the selected entries, skipping those whose kind does not allow it;
    // the number changed.
    int setSelectedConversion(Conversion type);
    void removeSelected();
    // The list filter (bits of passesFilter); entries hidden by it leave the list.
    void setFilter(int filter);
    int filter() const { return m_filter; }

    // Converts the listed entries that have a conversion (the batch dialog), and shows each
    // entry's result.
    void startConversion();
    // Edits the compression settings of the selected entries; false when nothing was changed.
    bool editConversionSettings();
    ConversionPage* conversionPage() const { return m_conversionPage; }

    // The conversion a new entry of these kinds gets: the default stored in the options for its
    // first kind (video, audio, still image, music); none when that name is not a conversion of
    // the table, does not suit the kind, or is MP3 without the encoder.
    Conversion newEntryConversion(uint16_t kind) const;
    bool mp3Available() const { return m_mp3Available; }
    // Gives the disc stream at `row` a new title, stored in the CDAZ and saved; false (nothing
    // changed) for a stream file or when the CDAZ cannot be written, with the reason in `error`.
    bool setDiscTitle(int row, const QString& title, QString* error = nullptr);
    // Preview settings, kept in the options: the play mode (40039 to 40041), the volume (1 to
    // 100), the size (40061 to 40063) and the flags of the pop-up preview.
    void setPlayMode(int command);
    void setVolume(int volume);
    void setPreviewSize(int command);
    void setPreviewFlag(uint16_t flag, bool on);
    // Shows the preview in a window of its own (at the position kept in the options), or back on
    // its page.
    void setPopupPreview(bool popup);
    bool popupPreview() const { return m_popup != nullptr; }
    // Sorts the list by a column (kept in the options as the sort key).
    void setSortKey(int column);
    // How folders and web pages are opened (QDesktopServices by default); tests replace it.
    using UrlOpener = std::function<bool(const QUrl&)>;
    void setUrlOpener(UrlOpener opener) { m_openUrl = std::move(opener); }
    // Whether a file lies on a CD-ROM (a mounted disc file system by default); tests replace it.
    using CdromCheck = std::function<bool(const QString& path)>;
    void setCdromCheck(CdromCheck check) { m_onCdrom = std::move(check); }
    // Opens an output folder (40036 AVI, 40037 WAVE, 40038 BMP), made when missing.
    bool openOutputFolder(int commandId);
    // Opens the HTML manual; a message tells why when it cannot be.
    bool openManual();
    // The menu of the CD-ROM drives, rebuilt from the drive table when it is shown.
    QMenu* driveMenu() const { return m_driveMenu; }
    void refreshDriveMenu();

    // Opens the preview of the entry at `row` (the preview page is shown); false when the player
    // cannot open it.
    bool previewRow(int row);
    // The sound device of the preview (null: the default device); the tests use "null".
    void setSoundDriver(const QByteArray& driver) { m_soundDriver = driver; }

    // Saves the frame on screen as a BMP file; false, with the reason in `error`, when there is
    // none or it cannot be written (no file is left then).
    bool saveFrame(const QString& path, QString* error = nullptr);
    // Puts the frame on screen on the clipboard; false when there is none.
    bool copyFrame();

  signals:
    // The user asked to convert the listed entries (the batch dialog answers it).
    void startConversionRequested();
    // The disc was analysed and its streams listed, or it was closed.
    void discChanged(bool open);

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void createActions();
    void createMenus();
    void insertEntry(const StreamEntry& entry);
    void refreshRow(QTreeWidgetItem* item);
    void showInformation();
    void onCurrentChanged();
    void onTabChanged(int index);
    void onStreamRequested(int direction);
    void onOpenFiles();
    void onToggleDisc();
    void onSaveFrameAuto();
    void onSaveFrameAs();
    void onSettings();
    void onEditTitle();
    void onPlayControlCommand(int command, int parameter);
    void applyPreviewSize();
    void applyOptions();
    bool openUrl(const QUrl& url);
    void onAbout();
    void listDiscStreams();
    // The conversion commands and page (main_window_conversion.cpp).
    void createConversionCommands();
    std::vector<StreamEntry*> selectedEntries() const;
    void showResult(QTreeWidgetItem* item, const StreamEntry& entry);
    StreamEntry* entryAt(int row) const;
    // The row of the entry on show in the preview, or -1.
    int previewedRow() const;
    // Takes a row out of the list; its player is closed first when it is on show.
    void deleteRow(int row);
    void message(const QString& text, bool warning = true);

    QTreeWidget* m_list = nullptr;
    QTabWidget* m_tabs = nullptr;
    QTextBrowser* m_information = nullptr;
    tamlibui::ViewerPanel* m_viewer = nullptr;
    ConversionPage* m_conversionPage = nullptr;
    QWidget* m_cdazPage = nullptr;
    QLabel* m_cdazLabel = nullptr;
    std::vector<std::pair<int, QAction*>> m_actions;
    TamrinOptions m_ownOptions{};
    TamrinOptions* m_options;
    CdazRecord* m_cdaz = nullptr;
    QString m_discTitle;
    int m_mountedDrive = -1;
    int m_storedDrive = -1; // the drive selected before an image was mounted
    int m_filter = kFilterAll;
    QTreeWidgetItem* m_previewItem = nullptr; // the row on show in the preview (rows move)
    int m_frameNumber = 0;
    QByteArray m_soundDriver;
    bool m_mp3Available = false;
    UrlOpener m_openUrl;
    CdromCheck m_onCdrom;
    QMenu* m_driveMenu = nullptr;
    QWidget* m_popup = nullptr; // the pop-up preview's window, or none
    int m_previewPage = -1;     // where the preview page was before it popped up
};

} // namespace tamrin
