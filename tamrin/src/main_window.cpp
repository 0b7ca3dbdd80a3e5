#include "main_window.h"

#include "command_texts.h"
#include "conversion_page.h"
#include "program_translator.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QImage>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QRegularExpression>
#include <QStatusBar>
#include <QStorageInfo>
#include <QTabWidget>
#include <QTextBrowser>
#include <QToolBar>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "discport/discport.h"
#include "tamlib/analysis.h"
#include "tamlib/convert.h"
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

// True when the file lies on a mounted CD-ROM (a disc file system, or an optical drive's device).
bool onCdromDrive(const QString& path)
{
    const QStorageInfo storage(QFileInfo(path).absolutePath());
    if (!storage.isValid())
        return false;
    const QByteArray type = storage.fileSystemType().toLower();
    return type == "iso9660" || type == "udf" || storage.device().startsWith("/dev/sr");
}

} // namespace

MainWindow::MainWindow(TamrinOptions* options, QWidget* parent)
    : QMainWindow(parent), m_options(options ? options : &m_ownOptions)
{
    installProgramTranslator();
    if (!options) {
        OptionsEnvironment environment = systemOptionsEnvironment();
        environment.createFolders = false;
        m_ownOptions = defaultOptions(environment);
    }
    m_mp3Available = PlbIsGogo(nullptr, nullptr) != 0;
    m_openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    m_onCdrom = onCdromDrive;
    setWindowTitle("Tamrin");
    tamlibui::acceptDroppedFiles(this, [this](const QStringList& paths) { openPaths(paths); });

    m_list = new QTreeWidget;
    m_list->setColumnCount(kColumnCount);
    m_list->setHeaderLabels({tr("Stream"), tr("Time"), tr("Plug-in"), tr("Convertion")});
    m_list->setRootIsDecorated(false);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setAlternatingRowColors(true);
    m_list->header()->setSectionResizeMode(kColStream, QHeaderView::Stretch);
    m_list->header()->setStretchLastSection(false);
    m_list->setMinimumWidth(360);
    m_list->header()->setSectionsClickable(true);
    m_list->header()->setSortIndicatorShown(false);

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
    connect(m_viewer->playControl(), &tamlibui::PlayControl::command, this,
            &MainWindow::onPlayControlCommand);
    connect(m_list->header(), &QHeaderView::sectionClicked, this, &MainWindow::setSortKey);
    applyOptions();
    resize(900, 520);
}

// The stored preferences, as the window starts.
void MainWindow::applyOptions()
{
    TamrinOptions& o = *m_options;
    m_filter = int(o.listFilter & kFilterAll);
    for (int bit = 0; bit < 4; ++bit)
        action(40052 + bit)->setChecked(m_filter & (1 << bit));
    setPlayMode(o.playMode >= kPlayOne && o.playMode <= kPlayAll ? o.playMode : kPlayOne);
    setVolume(o.volume);
    setPreviewSize(o.previewSize);
    for (uint16_t flag : {kPreviewFullScreen, kPreviewOnTop, kPreviewKeepSize})
        setPreviewFlag(flag, o.previewFlags & flag);
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
    using tamlibui::PlayControl;
    struct Command
    {
        int id;
        QKeySequence key;
        std::function<void()> run;
    };
    auto convert = [this](Conversion type) { return [this, type] { setSelectedConversion(type); }; };
    auto link = [this](int id) {
        return [this, id] {
            const QString address = commandLink(id);
            if (!openUrl(QUrl(address)))
                message(commandMessage(CommandMessage::LinkNotOpened).arg(address));
        };
    };
    const std::vector<Command> commands = {
        {40012, QKeySequence::Open, [this] { onOpenFiles(); }},
        {40013, QKeySequence("Ctrl+R"), [this] { onToggleDisc(); }},
        {40029, {}, [this] { closeDisc(); }},
        {40014, QKeySequence::Quit, [this] { close(); }},
        {40008, QKeySequence::SelectAll, [this] { m_list->selectAll(); }},
        {40009,
         {},
         [this] {
             for (int i = 0; i < m_list->topLevelItemCount(); ++i)
                 m_list->topLevelItem(i)->setSelected(!m_list->topLevelItem(i)->isSelected());
         }},
        {40011, QKeySequence("F2"), [this] { onEditTitle(); }},
        {40020, QKeySequence::Delete, [this] { removeSelected(); }},
        {40005, {}, convert(Conversion::Avi)},
        {40006, {}, convert(Conversion::Wave)},
        {40051, {}, convert(Conversion::Cstr)},
        {40058, {}, convert(Conversion::Bmp)},
        {40057, {}, convert(Conversion::Midi)},
        {40060, {}, convert(Conversion::Mp3)},
        {40007, {}, convert(Conversion::None)},
        {40021, {}, [this] { editConversionSettings(); }},
        {40015, QKeySequence("Ctrl+T"), [this] { startConversion(); }},
        {40016, {}, [this] { onSettings(); }},
        {40017, {}, [this] { message(commandMessage(CommandMessage::NotSupported), false); }},
        {40018, QKeySequence::HelpContents, [this] { openManual(); }},
        {40019, {}, [this] { onAbout(); }},
        {40024, QKeySequence("Space"),
         [this] {
             m_viewer->runCommand(m_viewer->playControl()->state() == PlayControl::kStatePlaying
                                      ? PlayControl::kCmdPause
                                      : PlayControl::kCmdPlay,
                                  0);
         }},
        {40025, {}, [this] { m_viewer->runCommand(PlayControl::kCmdPause, 0); }},
        {40026, {}, [this] { m_viewer->runCommand(PlayControl::kCmdStop, 0); }},
        {40034, {}, [this] { onStreamRequested(-1); }},
        {40035, {}, [this] { onStreamRequested(1); }},
        {40031, QKeySequence::Copy, [this] { copyFrame(); }},
        {40032, QKeySequence("Ctrl+B"), [this] { onSaveFrameAuto(); }},
        {40033, {}, [this] { onSaveFrameAs(); }},
        {40036, {}, [this] { openOutputFolder(40036); }},
        {40037, {}, [this] { openOutputFolder(40037); }},
        {40038, {}, [this] { openOutputFolder(40038); }},
        {40048, {}, [this] { setFilter(kFilterAll); }},
        {40049, {}, [this] { setFilter(1); }},
        {40050, {}, [this] { setFilter(6); }},
        {40039, {}, [this] { setPlayMode(kPlayOne); }},
        {40040, {}, [this] { setPlayMode(kPlayRepeat); }},
        {40041, {}, [this] { setPlayMode(kPlayAll); }},
        {40043, {}, link(40043)},
        {40044, {}, link(40044)},
        {40045, {}, link(40045)},
        {40046, {}, link(40046)},
        {40047, {}, link(40047)},
        {40052, {}, [this] { setFilter(m_filter ^ 1); }},
        {40053, {}, [this] { setFilter(m_filter ^ 2); }},
        {40054, {}, [this] { setFilter(m_filter ^ 4); }},
        {40055, {}, [this] { setFilter(m_filter ^ 8); }},
        {40061, {}, [this] { setPreviewSize(kPreviewHalf); }},
        {40062, {}, [this] { setPreviewSize(kPreviewSame); }},
        {40063, {}, [this] { setPreviewSize(kPreviewEnlarged); }},
        {40064, {}, [this] { setPreviewFlag(kPreviewFullScreen, action(40064)->isChecked()); }},
        {40065, {}, [this] { setPreviewFlag(kPreviewOnTop, action(40065)->isChecked()); }},
        {40066, {}, [this] { setPreviewFlag(kPreviewKeepSize, action(40066)->isChecked()); }},
        {40067, {}, [this] { setPopupPreview(action(40067)->isChecked()); }},
    };
    for (const Command& command : commands) {
        auto* action = new QAction(commandText(command.id), this);
        action->setStatusTip(commandHelp(command.id));
        if (!command.key.isEmpty())
            action->setShortcut(command.key);
        connect(action, &QAction::triggered, this, command.run);
        m_actions.emplace_back(command.id, action);
    }
    const std::pair<int, Conversion> types[] = {{40005, Conversion::Avi},  {40006, Conversion::Wave},
                                                {40051, Conversion::Cstr}, {40058, Conversion::Bmp},
                                                {40057, Conversion::Midi}, {40060, Conversion::Mp3},
                                                {40007, Conversion::None}};
    for (const auto& [id, type] : types) // the conversion types carry the library's names
        action(id)->setText(tamlibui::tableText(conversionType(type).displayId));
    // Without the encoder MP3 is not offered.
    action(40060)->setEnabled(m_mp3Available);
    auto group = [this](std::initializer_list<int> ids) {
        auto* exclusive = new QActionGroup(this);
        for (int id : ids) {
            action(id)->setCheckable(true);
            exclusive->addAction(action(id));
        }
    };
    group({40039, 40040, 40041});
    group({40061, 40062, 40063});
    action(40039)->setChecked(true);
    action(40062)->setChecked(true);
    for (int id : {40052, 40053, 40054, 40055}) {
        action(id)->setCheckable(true);
        action(id)->setChecked(true);
    }
    for (int id : {40064, 40065, 40066, 40067})
        action(id)->setCheckable(true);
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
    QMenu* file = menuBar()->addMenu(menuTitle(MenuTitle::File));
    add(file, {40012, 40013, 40029, 0, 40015, 0});
    m_driveMenu = file->addMenu(menuTitle(MenuTitle::Drive));
    connect(m_driveMenu, &QMenu::aboutToShow, this, &MainWindow::refreshDriveMenu);
    refreshDriveMenu();
    add(file, {40016, 0, 40014});

    QMenu* edit = menuBar()->addMenu(menuTitle(MenuTitle::Edit));
    add(edit, {40008, 40009, 40020, 0, 40011, 0});
    add(edit->addMenu(menuTitle(MenuTitle::Filter)), {40048, 40049, 40050, 0, 40052, 40053, 40054, 40055});

    QMenu* convert = menuBar()->addMenu(menuTitle(MenuTitle::Conversion));
    add(convert, {40005, 40006, 40051, 40058, 40057, 40060, 40007, 0, 40021, 0});
    add(convert->addMenu(menuTitle(MenuTitle::Folders)), {40036, 40037, 40038});

    QMenu* preview = menuBar()->addMenu(menuTitle(MenuTitle::Preview));
    add(preview, {40024, 40025, 40026, 40034, 40035, 0, 40039, 40040, 40041, 0});
    add(preview->addMenu(menuTitle(MenuTitle::PreviewSize)), {40061, 40062, 40063, 0, 40064, 40065, 40066});
    add(preview, {40067, 0, 40031, 40032, 40033});

    add(menuBar()->addMenu(menuTitle(MenuTitle::Help)),
        {40018, 0, 40043, 40044, 40045, 40046, 40047, 0, 40019});

    QToolBar* tools = addToolBar(menuTitle(MenuTitle::Toolbar));
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
    m_options->listFilter = uint32_t(m_filter);
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
    if (!(m_options->flags & kNoDiscSuggestion) && m_onCdrom && m_onCdrom(absolute) &&
        QMessageBox::question(this, windowTitle(),
                              commandMessage(CommandMessage::OpenOnCdrom).arg(absolute)) != QMessageBox::Yes)
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
    e.conversion = newEntryConversion(info.kind);
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
    toggle->setText(commandMessage(CommandMessage::CloseDisc));
    toggle->setToolTip(m_discTitle);
    listDiscStreams();
    setSortKey(m_options->sortKey);
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
        e.conversion = newEntryConversion(info.kind);
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
    action(40013)->setText(commandText(40013));
    emit discChanged(false);
}

void MainWindow::onOpenFiles()
{
    const QStringList filters = {tr("Stream files (*.str *.STR *.xa *.XA *.cstr)"),
                                 tr("Disc images (*.cue *.iso *.bin)"), tr("All files (*)")};
    const int index = m_options->openFilterIndex;
    QString chosen = filters.value(index >= 0 && index < filters.size() ? index : 0);
    const QStringList files = QFileDialog::getOpenFileNames(
        this, commandText(40012).remove('&').remove("..."),
        QFile::decodeName(QByteArray::fromStdString(fieldText(m_options->openFolder))), filters.join(";;"),
        &chosen);
    if (files.isEmpty())
        return;
    // The folder and the filter are offered again next time (a folder too long for the record
    // leaves the one stored).
    const std::string folder = QFile::encodeName(QFileInfo(files.first()).absolutePath()).toStdString();
    if (folder.size() < kFolderBytes)
        setFieldText(m_options->openFolder, folder);
    m_options->openFilterIndex = std::max<int32_t>(0, int32_t(filters.indexOf(chosen)));
    openPaths(files);
}

void MainWindow::onToggleDisc()
{
    if (m_cdaz)
        closeDisc();
    else
        analyseDisc();
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

// ---- the options' commands -----------------------------------------------------------------

Conversion MainWindow::newEntryConversion(uint16_t kind) const
{
    const char* stored = nullptr;
    if (kind & kKindVideo)
        stored = m_options->videoConversion;
    else if (kind & kKindAudio)
        stored = m_options->audioConversion;
    else if (kind & kKindStill)
        stored = m_options->stillConversion;
    else if (kind & kKindMusic)
        stored = m_options->musicConversion;
    if (!stored)
        return Conversion::None;
    // The field may fill its whole width without a final zero.
    const QString name = QString::fromLatin1(stored, qstrnlen(stored, kConversionNameBytes));
    Conversion type = Conversion::None;
    if (!conversionByShortName(name, &type) || !conversionAllowed(type, kind) ||
        (type == Conversion::Mp3 && !m_mp3Available))
        return Conversion::None;
    return type;
}

bool MainWindow::setDiscTitle(int row, const QString& title, QString* error)
{
    QTreeWidgetItem* item = m_list->topLevelItem(row);
    StreamEntry* e = entryOf(item);
    const QByteArray bytes = title.toUtf8();
    if (!e || !e->isDiscStream() || !m_cdaz || bytes.isEmpty() ||
        bytes.size() >= PLB_CDAZ_STREAM_NAME_BYTES || bytes.contains('\0'))
        return false;
    std::array<char, PLB_CDAZ_STREAM_NAME_BYTES> old{};
    if (PlbGetCDAZStream(m_cdaz, e->discIndex, nullptr, old.data(), nullptr, nullptr) != 1 ||
        PlbSetCDAZStream(m_cdaz, e->discIndex, nullptr, bytes.constData(), 0, 0) != 1)
        return false;
    std::array<char, PLB_CDAZ_NAME_BYTES> name{};
    PlbGetCDAZInfo(m_cdaz, name.data(), nullptr, nullptr, nullptr, nullptr);
    errno = 0;
    if (PlbSaveCDAZ(nullptr, name.data(), m_cdaz) != 1) {
        // The stored analysis keeps the old title: so does the open one.
        const int why = errno;
        PlbSetCDAZStream(m_cdaz, e->discIndex, nullptr, old.data(), 0, 0);
        if (error)
            *error = why ? QString::fromLocal8Bit(std::strerror(why)) : QString();
        return false;
    }
    e->title = title;
    refreshRow(item);
    if (item == m_list->currentItem())
        showInformation();
    return true;
}

void MainWindow::onEditTitle()
{
    const int row = m_list->indexOfTopLevelItem(m_list->currentItem());
    if (row < 0 || !entry(row).isDiscStream())
        return;
    bool ok = false;
    const QString title = QInputDialog::getText(this, commandMessage(CommandMessage::EditTitleCaption),
                                                commandMessage(CommandMessage::EditTitleLabel),
                                                QLineEdit::Normal, entry(row).title, &ok)
                              .trimmed();
    if (!ok || title.isEmpty() || title == entry(row).title)
        return;
    QString error;
    if (!setDiscTitle(row, title, &error))
        message(commandMessage(CommandMessage::TitleNotSaved).arg(error));
}

void MainWindow::setSortKey(int column)
{
    if (column < 0 || column >= kColumnCount)
        column = kColStream;
    m_options->sortKey = int16_t(column);
    m_list->sortItems(column, Qt::AscendingOrder);
}

} // namespace tamrin
