#include "main_window.h"

#include "conversion_page.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextBrowser>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <array>
#include <filesystem>
#include <functional>
#include <string>

#include "discport/discport.h"
#include "tamlib/analysis.h"
#include "tamlib/environment.h"
#include "tamlib/picture_file.h"
#include "tamlib/player.h"
#include "tamlib/strings.h"
#include "tamlibui/qt_ui_port.h"
#include "tamlibui/settings_dialog.h"
#include "tamlibui/uikit.h"
#include "tamlibui/viewer.h"

namespace tamrin {

namespace {

// Disc streams whose CDAZ flags carry any of these bits are never listed (hidden or unusable).
constexpr int32_t kHiddenStreamFlags = 0xF1;
// A row of the list owns its entry: it goes with the row.
class EntryItem : public QTreeWidgetItem
{
  public:
    explicit EntryItem(const StreamEntry& entry) : QTreeWidgetItem(UserType), entry(entry) {}
    StreamEntry entry;
};

StreamEntry* entryOf(QTreeWidgetItem* item)
{
    return item && item->type() == QTreeWidgetItem::UserType ? &static_cast<EntryItem*>(item)->entry
                                                             : nullptr;
}

bool isDiscImage(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == "cue" || suffix == "iso" || suffix == "bin" || suffix == "img";
}

} // namespace

MainWindow::MainWindow(TamrinOptions* options, QWidget* parent)
    : QMainWindow(parent), m_options(options ? options : &m_ownOptions)
{
    if (!options) {
        OptionsEnvironment environment = systemOptionsEnvironment();
        environment.createFolders = false;
        m_ownOptions = defaultOptions(environment);
    }
    setWindowTitle("Tamrin");
    setAcceptDrops(true);

    m_list = new QTreeWidget;
    m_list->setColumnCount(kColumnCount);
    m_list->setHeaderLabels({tr("Stream"), tr("Time"), tr("Plug-in"), tr("Convertion")});
    m_list->setRootIsDecorated(false);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setAlternatingRowColors(true);
    m_list->header()->setSectionResizeMode(kColStream, QHeaderView::Stretch);
    m_list->header()->setStretchLastSection(false);
    m_list->setMinimumWidth(360);

    m_tabs = new QTabWidget;
    m_information = new QTextBrowser;
    m_viewer = new tamlibui::ViewerPanel;
    m_conversionPage = new ConversionPage(*m_options);
    m_cdazPage = new QWidget(this); // owned by the window while no disc is open
    m_cdazPage->hide();
    m_cdazLabel = new QLabel(m_cdazPage);
    m_cdazLabel->setWordWrap(true);
    (new QVBoxLayout(m_cdazPage))->addWidget(m_cdazLabel);
    m_tabs->addTab(m_information, tr("Information"));
    m_tabs->addTab(m_viewer, tr("Preview"));
    m_tabs->addTab(m_conversionPage, tr("Convertion"));

    auto* central = new QWidget;
    auto* layout = new QHBoxLayout(central);
    layout->addWidget(m_list, 3);
    layout->addWidget(m_tabs, 4);
    setCentralWidget(central);

    createActions();
    createConversionCommands();
    createMenus();
    statusBar();

    connect(m_list, &QTreeWidget::currentItemChanged, this, [this] { onCurrentChanged(); });
    connect(m_list, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* item) { previewRow(m_list->indexOfTopLevelItem(item)); });
    connect(m_tabs, &QTabWidget::currentChanged, this, &MainWindow::onTabChanged);
    connect(m_viewer, &tamlibui::ViewerPanel::streamRequested, this, &MainWindow::onStreamRequested);
    resize(900, 520);
}

MainWindow::~MainWindow()
{
    m_viewer->closePlayer();
    closeDisc();
    if (m_mountedDrive >= 0) {
        PlbSetCdDrive(m_storedDrive);
        CdUnmountImage(m_mountedDrive);
    }
}

// ---- commands ------------------------------------------------------------------------------

void MainWindow::createActions()
{
    struct Command
    {
        int id;
        QString text;
        QKeySequence key;
        std::function<void()> run;
    };
    const std::vector<Command> commands = {
        {40012, tr("&Open stream files..."), QKeySequence::Open, [this] { onOpenFiles(); }},
        {40013, tr("Open and Analyze CD-&ROM"), QKeySequence("Ctrl+R"), [this] { onToggleDisc(); }},
        {40029, tr("Remove the CD-ROM's streams"), {}, [this] { closeDisc(); }},
        {40014, tr("E&xit"), QKeySequence::Quit, [this] { close(); }},
        {40008, tr("Select &all"), QKeySequence::SelectAll, [this] { m_list->selectAll(); }},
        {40009,
         tr("&Invert selection"),
         {},
         [this] {
             for (int i = 0; i < m_list->topLevelItemCount(); ++i)
                 m_list->topLevelItem(i)->setSelected(!m_list->topLevelItem(i)->isSelected());
         }},
        {40020, tr("&Remove from list"), QKeySequence::Delete, [this] { removeSelected(); }},
        {40005, tamlibui::tableText(PLB_IDS_TO_AVI), {}, [this] { setSelectedConversion(Conversion::Avi); }},
        {40006,
         tamlibui::tableText(PLB_IDS_TO_WAVE),
         {},
         [this] { setSelectedConversion(Conversion::Wave); }},
        {40051,
         tamlibui::tableText(PLB_IDS_TO_CSTR),
         {},
         [this] { setSelectedConversion(Conversion::Cstr); }},
        {40058, tamlibui::tableText(PLB_IDS_TO_BMP), {}, [this] { setSelectedConversion(Conversion::Bmp); }},
        {40057,
         tamlibui::tableText(PLB_IDS_TO_MIDI),
         {},
         [this] { setSelectedConversion(Conversion::Midi); }},
        {40060, tamlibui::tableText(PLB_IDS_TO_MP3), {}, [this] { setSelectedConversion(Conversion::Mp3); }},
        {40007,
         tamlibui::tableText(PLB_IDS_NO_CONVERSION),
         {},
         [this] { setSelectedConversion(Conversion::None); }},
        {40015, tr("&Start conversion"), QKeySequence("Ctrl+T"), [this] { startConversion(); }},
        {40016, tr("&Settings..."), {}, [this] { onSettings(); }},
        {40019, tr("&About Tamrin..."), {}, [this] { onAbout(); }},
        {40024, tr("&Play / Pause"), QKeySequence("Space"),
         [this] {
             m_viewer->runCommand(m_viewer->playControl()->state() == tamlibui::PlayControl::kStatePlaying
                                      ? tamlibui::PlayControl::kCmdPause
                                      : tamlibui::PlayControl::kCmdPlay,
                                  0);
         }},
        {40026, tr("S&top"), {}, [this] { m_viewer->runCommand(tamlibui::PlayControl::kCmdStop, 0); }},
        {40034, tr("P&revious stream"), {}, [this] { onStreamRequested(-1); }},
        {40035, tr("&Next stream"), {}, [this] { onStreamRequested(1); }},
        {40031, tr("&Copy the frame"), QKeySequence::Copy, [this] { copyFrame(); }},
        {40032, tr("Save the frame as &BMP"), QKeySequence("Ctrl+B"), [this] { onSaveFrameAuto(); }},
        {40033, tr("Save the frame &as..."), {}, [this] { onSaveFrameAs(); }},
        {40048, tr("Show everything"), {}, [this] { setFilter(kFilterAll); }},
        {40049, tr("Movies only"), {}, [this] { setFilter(1); }},
        {40050, tr("Audio only"), {}, [this] { setFilter(6); }},
        {40039,
         tr("Play one stream"),
         {},
         [this] { m_viewer->runCommand(tamlibui::PlayControl::kCmdPlayMode, 0); }},
        {40040, tr("Repeat"), {}, [this] { m_viewer->runCommand(tamlibui::PlayControl::kCmdPlayMode, 1); }},
        {40041,
         tr("Play all streams in order"),
         {},
         [this] { m_viewer->runCommand(tamlibui::PlayControl::kCmdPlayMode, 2); }},
        {40052, tr("Movies"), {}, [this] { setFilter(m_filter ^ 1); }},
        {40053, tr("Wave audio"), {}, [this] { setFilter(m_filter ^ 2); }},
        {40054, tr("Sequenced music"), {}, [this] { setFilter(m_filter ^ 4); }},
        {40055, tr("Still images"), {}, [this] { setFilter(m_filter ^ 8); }},
    };
    for (const Command& command : commands) {
        auto* action = new QAction(command.text, this);
        if (!command.key.isEmpty())
            action->setShortcut(command.key);
        connect(action, &QAction::triggered, this, command.run);
        m_actions.emplace_back(command.id, action);
    }
    auto* modes = new QActionGroup(this);
    for (int id : {40039, 40040, 40041}) {
        action(id)->setCheckable(true);
        modes->addAction(action(id));
    }
    action(40039)->setChecked(true);
    for (int id : {40052, 40053, 40054, 40055}) {
        action(id)->setCheckable(true);
        action(id)->setChecked(true);
    }
}

QAction* MainWindow::action(int commandId) const
{
    for (const auto& [id, action] : m_actions)
        if (id == commandId)
            return action;
    return nullptr;
}

void MainWindow::createMenus()
{
    auto add = [this](QMenu* menu, std::initializer_list<int> ids) {
        for (int id : ids)
            if (id)
                menu->addAction(action(id));
            else
                menu->addSeparator();
    };
    add(menuBar()->addMenu(tr("&File")), {40012, 40013, 40029, 0, 40015, 0, 40016, 0, 40014});
    add(menuBar()->addMenu(tr("&Edit")),
        {40008, 40009, 40020, 0, 40048, 40049, 40050, 0, 40052, 40053, 40054, 40055});
    add(menuBar()->addMenu(tr("&Convertion")), {40005, 40006, 40051, 40058, 40057, 40060, 40007, 0, 40021});
    add(menuBar()->addMenu(tr("&Preview")),
        {40024, 40026, 40034, 40035, 0, 40039, 40040, 40041, 0, 40031, 40032, 40033});
    add(menuBar()->addMenu(tr("&Help")), {40019});

    QToolBar* tools = addToolBar(tr("Commands"));
    tools->setObjectName("commands");
    for (int id : {40012, 40013, 40015, 40016, 40032, 40031})
        tools->addAction(action(id));
}

// ---- the stream list -----------------------------------------------------------------------

int MainWindow::entryCount() const
{
    return m_list->topLevelItemCount();
}

const StreamEntry& MainWindow::entry(int row) const
{
    static const StreamEntry kNone;
    const StreamEntry* e = entryOf(m_list->topLevelItem(row));
    return e ? *e : kNone;
}

StreamEntry* MainWindow::entryAt(int row) const
{
    return entryOf(m_list->topLevelItem(row));
}

void MainWindow::insertEntry(const StreamEntry& entry)
{
    if (!passesFilter(entry.info.kind, m_filter))
        return;
    auto* item = new EntryItem(entry);
    m_list->addTopLevelItem(item);
    refreshRow(item);
}

void MainWindow::refreshRow(QTreeWidgetItem* item)
{
    const StreamEntry* e = entryOf(item);
    if (!e)
        return;
    item->setText(kColStream, e->title);
    item->setToolTip(kColStream, e->path.isEmpty() ? e->title : e->path);
    item->setText(kColTime, formatDuration(e->info.durationMs));
    item->setText(kColPlugin, e->plugin);
    item->setText(kColConversion, tamlibui::tableText(conversionType(e->conversion).displayId));
    showResult(item, *e);
}

int MainWindow::previewedRow() const
{
    return m_previewItem ? m_list->indexOfTopLevelItem(m_previewItem) : -1;
}

void MainWindow::deleteRow(int row)
{
    QTreeWidgetItem* item = m_list->topLevelItem(row);
    if (!item)
        return;
    if (item == m_previewItem) {
        m_viewer->closePlayer();
        m_previewItem = nullptr;
    }
    delete m_list->takeTopLevelItem(row);
}

int MainWindow::setSelectedConversion(Conversion type)
{
    int changed = 0;
    for (QTreeWidgetItem* item : m_list->selectedItems()) {
        StreamEntry* e = entryOf(item);
        if (!e || !conversionAllowed(type, e->info.kind))
            continue;
        e->conversion = type;
        refreshRow(item);
        ++changed;
    }
    m_conversionPage->refresh();
    return changed;
}

void MainWindow::removeSelected()
{
    for (QTreeWidgetItem* item : m_list->selectedItems())
        deleteRow(m_list->indexOfTopLevelItem(item));
}

void MainWindow::setFilter(int filter)
{
    m_filter = filter & kFilterAll;
    for (int bit = 0; bit < 4; ++bit)
        action(40052 + bit)->setChecked(m_filter & (1 << bit));
    if (m_filter != kFilterAll) {
        // Stream files stay; disc streams the filter hides leave the list.
        for (int row = m_list->topLevelItemCount() - 1; row >= 0; --row) {
            const StreamEntry& e = entry(row);
            if (e.isDiscStream() && (e.info.kind == 0 || !passesFilter(e.info.kind, m_filter))) {
                deleteRow(row);
            }
        }
    }
    if (m_cdaz)
        listDiscStreams(); // what the filter lets through again comes back
}

// ---- opening -------------------------------------------------------------------------------

int MainWindow::openPaths(const QStringList& paths)
{
    const int before = entryCount();
    for (const QString& path : paths) {
        if (isDiscImage(path))
            openDiscImage(path);
        else
            openStreamFile(path);
    }
    return entryCount() - before;
}

bool MainWindow::openStreamFile(const QString& path)
{
    const QFileInfo file(path);
    const QString absolute =
        file.canonicalFilePath().isEmpty() ? file.absoluteFilePath() : file.canonicalFilePath();
    for (int row = 0; row < entryCount(); ++row)
        // Canonical paths: the same file under another spelling is found, and two files whose
        // names differ only in case (distinct files here) are both listed.
        if (entry(row).path == absolute)
            return false;
    StrInfo info{};
    std::array<char, 64> plugin{};
    const QByteArray local = QFile::encodeName(absolute);
    if (PlbAnalyzeFile(this, local.constData(), &info, plugin.data()) != 1)
        return false; // the library has said why
    StreamEntry e;
    e.path = absolute;
    e.title = QFileInfo(absolute).fileName();
    e.plugin = QString::fromLatin1(plugin.data());
    e.info = info;
    e.conversion = defaultConversion(info.kind);
    insertEntry(e);
    return true;
}

bool MainWindow::openDiscImage(const QString& path)
{
    const int drive = CdMountImage(QFile::encodeName(QFileInfo(path).absoluteFilePath()).constData());
    if (drive < 0) {
        message(tr("The disc image '%1' was not opened.\n%2").arg(path, QString::fromUtf8(CdImageError())));
        return false;
    }
    // The image is the drive of this session only: the stored drive comes back at the end.
    if (m_mountedDrive >= 0) {
        closeDisc();
        CdUnmountImage(m_mountedDrive);
    } else {
        m_storedDrive = PlbGetCdDrive(nullptr, nullptr, nullptr);
    }
    m_mountedDrive = drive;
    if (PlbSetCdDrive(drive) != 1) {
        message(tr("The disc image '%1' was not opened.\n%2").arg(path, QString()));
        return false;
    }
    return analyseDisc();
}

bool MainWindow::analyseDisc()
{
    closeDisc();
    QAction* toggle = action(40013);
    toggle->setEnabled(false);
    CdazRecord* record = tamlibui::analyzeCd(this);
    toggle->setEnabled(true);
    if (!record)
        return false;
    m_cdaz = record;
    std::array<char, PLB_CDAZ_NAME_BYTES> name{};
    std::array<char, PLB_CDAZ_TITLE_BYTES> title{};
    std::array<char, PLB_CDAZ_PREFIX_BYTES> prefix{};
    int32_t flags = 0, anaSector = 0;
    const int32_t count =
        PlbGetCDAZInfo(m_cdaz, name.data(), title.data(), prefix.data(), &flags, &anaSector);
    m_discTitle = QString::fromUtf8(title.data());
    toggle->setText(tr("Close CD-&ROM"));
    toggle->setToolTip(m_discTitle);
    listDiscStreams();
    m_list->sortItems(kColStream, Qt::AscendingOrder);
    m_cdazLabel->setText(
        tr("%1\n%2\n%3 streams").arg(m_discTitle, QString::fromUtf8(name.data())).arg(count));
    m_tabs->addTab(m_cdazPage, "CDAZ");
    emit discChanged(true);
    return true;
}

void MainWindow::listDiscStreams()
{
    const int32_t count = PlbGetCDAZInfo(m_cdaz, nullptr, nullptr, nullptr, nullptr, nullptr);
    std::vector<bool> listed(count > 0 ? size_t(count) : 0, false);
    for (int row = 0; row < entryCount(); ++row) {
        const int32_t index = entry(row).discIndex;
        if (index >= 0 && index < count)
            listed[size_t(index)] = true;
    }
    for (int32_t index = 0; index < count; ++index) {
        if (listed[size_t(index)])
            continue;
        StrInfo info{};
        std::array<char, PLB_CDAZ_STREAM_NAME_BYTES> streamName{};
        int32_t flags = 0, pluginIndex = -1;
        if (PlbGetCDAZStream(m_cdaz, index, &info, streamName.data(), &flags, &pluginIndex) != 1)
            continue;
        if (flags & kHiddenStreamFlags)
            continue;
        std::array<char, PLB_CDAZ_PLUGIN_FILE_BYTES> pluginFile{};
        std::array<char, PLB_CDAZ_PLUGIN_NAME_BYTES> pluginName{};
        int16_t version = 0;
        PlbGetCDAZPlugin(m_cdaz, pluginIndex, pluginFile.data(), pluginName.data(), &version, nullptr,
                         nullptr);
        StreamEntry e;
        e.discIndex = index;
        e.title = QString::fromUtf8(streamName.data());
        e.plugin = QString::fromLatin1(pluginFile.data());
        e.info = info;
        e.conversion = defaultConversion(info.kind);
        insertEntry(e);
    }
}

void MainWindow::closeDisc()
{
    if (!m_cdaz)
        return;
    for (int row = entryCount() - 1; row >= 0; --row) {
        if (!entry(row).isDiscStream())
            continue;
        deleteRow(row);
    }
    PlbFreeCDAZ(m_cdaz);
    m_cdaz = nullptr;
    m_discTitle.clear();
    const int page = m_tabs->indexOf(m_cdazPage);
    if (page >= 0)
        m_tabs->removeTab(page);
    action(40013)->setText(tr("Open and Analyze CD-&ROM"));
    emit discChanged(false);
}

void MainWindow::onOpenFiles()
{
    const QStringList files = QFileDialog::getOpenFileNames(
        this, tr("Open stream files"), QString(),
        tr("Stream files (*.str *.STR *.xa *.XA *.cstr *.*);;Disc images (*.cue *.iso *.bin)"));
    openPaths(files);
}

void MainWindow::onToggleDisc()
{
    if (m_cdaz)
        closeDisc();
    else
        analyseDisc();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event)
{
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile())
            paths << url.toLocalFile();
    event->acceptProposedAction();
    // Opening may ask questions: not inside the drop's own event.
    QMetaObject::invokeMethod(
        this, [this, paths] { openPaths(paths); }, Qt::QueuedConnection);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    m_viewer->closePlayer();
    closeDisc();
    QMainWindow::closeEvent(event);
}

// ---- the tab area --------------------------------------------------------------------------

void MainWindow::onCurrentChanged()
{
    showInformation();
    if (m_tabs->currentIndex() == kPagePreview)
        previewRow(m_list->indexOfTopLevelItem(m_list->currentItem()));
}

void MainWindow::onTabChanged(int index)
{
    if (index == kPagePreview && m_list->currentItem() && m_list->currentItem() != m_previewItem)
        previewRow(m_list->indexOfTopLevelItem(m_list->currentItem()));
}

void MainWindow::showInformation()
{
    QTreeWidgetItem* item = m_list->currentItem();
    if (!item) {
        m_information->clear();
        return;
    }
    const StreamEntry& e = entry(m_list->indexOfTopLevelItem(item));
    const StrInfo& i = e.info;
    QString text = QString("<h3>%1</h3><table>").arg(e.title.toHtmlEscaped());
    auto row = [&text](const QString& name, const QString& value) {
        text += QString("<tr><td>%1</td><td>%2</td></tr>").arg(name, value.toHtmlEscaped());
    };
    row(tr("Kind"), kindText(i.kind));
    row(tr("Plug-in"), e.plugin);
    row(tr("Time"), formatDuration(i.durationMs));
    if (e.isDiscStream())
        row(tr("Sectors"), QString("%1 + %2").arg(i.startSector).arg(i.sectorCount));
    else
        row(tr("File"), e.path);
    if (i.kind & kKindVideo) {
        row(tr("Picture"), QString("%1 x %2").arg(i.width).arg(i.height));
        row(tr("Frames"), QString::number(i.frameCount));
        row(tr("Frame rate"), QString::number(i.frameRate / 10.0, 'f', 1));
    }
    if (i.channels)
        row(tr("Sound"),
            tr("%1 Hz, %2 channel(s), %3 bits").arg(i.sampleRate).arg(i.channels).arg(i.bitsPerSample));
    text += "</table>";
    m_information->setHtml(text);
}

bool MainWindow::previewRow(int row)
{
    if (row < 0 || row >= entryCount())
        return false;
    const StreamEntry& e = entry(row);
    m_viewer->closePlayer();
    m_previewItem = nullptr;
    m_tabs->setCurrentIndex(kPagePreview);
    const std::string plugin = tamlib::pluginBindName(e.plugin.toStdString());
    const QByteArray file = QFile::encodeName(e.path);
    if (!m_viewer->open(plugin.c_str(), e.isDiscStream() ? nullptr : file.constData(), e.info,
                        m_soundDriver.isEmpty() ? nullptr : m_soundDriver.constData())) {
        message(tr("Environment for reproducing data stream was not opened."));
        return false;
    }
    m_previewItem = m_list->topLevelItem(row);
    return true;
}

void MainWindow::onStreamRequested(int direction)
{
    const int from = m_previewItem ? previewedRow() : m_list->indexOfTopLevelItem(m_list->currentItem());
    const int row = from + direction;
    if (row < 0 || row >= entryCount())
        return;
    m_list->setCurrentItem(m_list->topLevelItem(row)); // previews it when the page is up
    if (previewedRow() != row)
        previewRow(row);
    if (previewedRow() == row)
        m_viewer->runCommand(tamlibui::PlayControl::kCmdPlay, 0);
}

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
    const QString folder = QDir::home().filePath("Tamrin/BMP");
    QDir().mkpath(folder);
    QString error;
    if (!saveFrame(
            QDir(folder).filePath(QString("%1-%2.bmp").arg(base).arg(++m_frameNumber, 4, 10, QChar('0'))),
            &error))
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

// ---- dialogs -------------------------------------------------------------------------------

void MainWindow::onSettings()
{
    m_viewer->closePlayer();
    m_previewItem = nullptr;
    const auto pages = tamlibui::standardSettingsPages();
    PlbSetEnviron(this, tr("Settings"), pages);
}

void MainWindow::onAbout()
{
    tamlibui::PlbAboutRecord record;
    record.product = "Tamrin";
    record.version = QApplication::applicationVersion();
    record.text = tr("Finds the movies, sound and pictures on PlayStation discs and disc images, "
                     "previews them and converts them.");
    tamlibui::PlbAboutPanel(this, record);
}

void MainWindow::message(const QString& text, bool warning)
{
    if (warning)
        QMessageBox::warning(this, windowTitle(), text);
    else
        QMessageBox::information(this, windowTitle(), text);
}

} // namespace tamrin
