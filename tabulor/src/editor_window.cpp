#include "editor_window.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>

#include "tamlib/ui_port.h"
#include "tamlibui/plugin_dialogs.h"
#include "tamlibui/settings_dialog.h"
#include "tamlibui/uikit.h"
#include "tamrin_common/user_folders.h"
#include "window_texts.h"

namespace tabulor {

namespace {

constexpr char kVersionText[] = "Version 1.02";

// The window's size when the settings place none.
constexpr int kDefaultWidth = 920;
constexpr int kDefaultHeight = 620;
// The stream list's narrowest width beside the detail panel.
constexpr int kMinListWidth = 200;

// A command-line or dropped file: a path that names a file (relative ones from the working
// folder) as its full path; a bare name that names no file here as a CDAZ of the analyze folder.
std::string openArgument(const QString& path)
{
    const QFileInfo file(path);
    if (file.exists() || path.contains('/'))
        return QFile::encodeName(file.absoluteFilePath()).toStdString();
    return QFile::encodeName(path).toStdString();
}

} // namespace

EditorWindow::EditorWindow(const WindowSettings& settings, QWidget* parent) : QMainWindow(parent)
{
    setWindowTitle("Tabulor");
    tamlibui::acceptDroppedFiles(this, [this](const QStringList& paths) { openFiles(paths); });

    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->addWidget(createSelectorBar());
    m_splitter = new QSplitter(Qt::Horizontal);
    // The boundary moves when it is let go; an outline follows the mouse meanwhile.
    m_splitter->setOpaqueResize(false);
    m_splitter->setChildrenCollapsible(false);
    m_splitter->addWidget(createStreamPanel());
    m_splitter->addWidget(createDetailPanel());
    m_splitter->setStretchFactor(0, 1);
    m_splitter->setStretchFactor(1, 0);
    connect(m_splitter, &QSplitter::splitterMoved, this, [this] {
        const QList<int> sizes = m_splitter->sizes();
        if (sizes.size() == 2 && sizes[1] > 0)
            m_detailWidth = sizes[1];
    });
    auto* vertical = new QSplitter(Qt::Vertical);
    vertical->setChildrenCollapsible(false);
    vertical->addWidget(m_splitter);
    vertical->addWidget(createPluginPanel());
    vertical->setStretchFactor(0, 3);
    vertical->setStretchFactor(1, 1);
    vertical->setSizes({3000, 1000});
    layout->addWidget(vertical, 1);
    setCentralWidget(central);

    createActions();
    createMenus();
    applySettings(settings);
    refreshAll();
}

EditorWindow::~EditorWindow()
{
    // The widgets outlive the session (they go with the base class): an editor still open, or a
    // focus change while the window goes, must not reach the session any more.
    for (QObject* child : findChildren<QObject*>())
        disconnect(child, nullptr, this, nullptr);
}

// ---- commands ------------------------------------------------------------------------------

void EditorWindow::createActions()
{
    const WindowTexts& t = windowTexts();
    struct Entry
    {
        Command command;
        const char* text;
        QKeySequence key;
        std::function<void()> run;
    };
    const Entry entries[] = {
        {kCmdOpen, t.open, QKeySequence("Ctrl+O"), [this] { onOpen(); }},
        {kCmdClose,
         t.close,
         {},
         [this] {
             m_session.close(m_session.current());
             refreshAll();
         }},
        {kCmdSave,
         t.save,
         {},
         [this] {
             m_session.save(m_session.current());
             refreshSelector();
         }},
        {kCmdSaveAs, t.saveAs, {}, [this] { onSaveAs(); }},
        {kCmdSaveAll,
         t.saveAll,
         {},
         [this] {
             m_session.saveAll();
             refreshSelector();
         }},
        {kCmdSaveToAnalyze, t.saveToAnalyze, QKeySequence("Ctrl+Y"),
         [this] {
             m_session.saveToAnalyze(m_session.current());
             refreshSelector();
         }},
        {kCmdSaveAllToAnalyze,
         t.saveAllToAnalyze,
         {},
         [this] {
             m_session.saveAllToAnalyze();
             refreshSelector();
         }},
        {kCmdDelete,
         t.remove,
         {},
         [this] {
             m_session.remove(m_session.current());
             refreshAll();
         }},
        {kCmdExit, t.exit, {}, [this] { close(); }},
        {kCmdShow, t.show, QKeySequence("Alt+S"), [this] { setSelectedHidden(false); }},
        {kCmdHide, t.hide, QKeySequence("Alt+H"), [this] { setSelectedHidden(true); }},
        {kCmdRename, t.rename, QKeySequence("F2"), [this] { startRename(); }},
        {kCmdSelectAll, t.selectAll, QKeySequence("Ctrl+A"), [this] { m_streams->selectAll(); }},
        {kCmdSelectReverse, t.selectReverse, {}, [this] { selectReverse(); }},
        {kCmdPluginInfo, t.pluginInfo, {}, [this] { onPluginInfo(); }},
        {kCmdSettings, t.settings, {}, [this] { onSettings(); }},
        {kCmdAbout, t.about, {}, [this] { onAbout(); }},
    };
    for (const Entry& entry : entries) {
        auto* action = new QAction(qtext(entry.text), this);
        if (!entry.key.isEmpty())
            action->setShortcut(entry.key);
        connect(action, &QAction::triggered, this, entry.run);
        m_actions[entry.command] = action;
    }
}

void EditorWindow::createMenus()
{
    const WindowTexts& t = windowTexts();
    auto add = [this](QMenu* menu, std::initializer_list<int> commands) {
        for (int command : commands)
            if (command < 0)
                menu->addSeparator();
            else
                menu->addAction(m_actions[command]);
    };
    m_fileMenu = menuBar()->addMenu(qtext(t.fileMenu));
    add(m_fileMenu, {kCmdOpen, kCmdClose, -1, kCmdSave, kCmdSaveAs, kCmdSaveAll, -1, kCmdSaveToAnalyze,
                     kCmdSaveAllToAnalyze, -1, kCmdDelete, -1, kCmdExit});
    add(menuBar()->addMenu(qtext(t.editMenu)), {kCmdShow, kCmdHide, kCmdRename, -1, kCmdSelectAll,
                                                kCmdSelectReverse, -1, kCmdPluginInfo, kCmdSettings});
    add(menuBar()->addMenu(qtext(t.helpMenu)), {kCmdAbout});
}

int EditorWindow::openFiles(const QStringList& paths, const QString& showFirst)
{
    int opened = 0;
    for (const QString& path : paths) {
        if (m_session.open(openArgument(path)) >= 0)
            ++opened;
        refreshSelector();
    }
    if (!showFirst.isEmpty()) {
        const std::string wanted = QFile::encodeName(showFirst).toStdString();
        const std::string wantedPath = openArgument(showFirst);
        for (int i = 0; i < m_session.count(); ++i)
            if (m_session.fileName(i) == wanted || m_session.path(i) == wantedPath) {
                m_session.setCurrent(i);
                break;
            }
    }
    refreshAll();
    return opened;
}

int EditorWindow::openAnalyzeFolder(const QString& showFirst)
{
    m_systemMenu = true;
    m_actions[kCmdOpen]->setText(qtext(windowTexts().takeIn));
    for (Command command : {kCmdClose, kCmdSaveToAnalyze, kCmdSaveAllToAnalyze})
        m_fileMenu->removeAction(m_actions[command]);
    const int opened = m_session.openAnalyzeFolder();
    openFiles({}, showFirst);
    return opened;
}

void EditorWindow::showCdaz(int index)
{
    if (index < 0 || index >= m_session.count() || index == m_session.current())
        return;
    m_session.setCurrent(index);
    refreshAll();
}

void EditorWindow::onOpen()
{
    const WindowTexts& t = windowTexts();
    const QStringList files = QFileDialog::getOpenFileNames(this, qtext(t.openCaption), QString(),
                                                            qtext(t.cdazFilter) + ";;" + qtext(t.allFilter));
    if (!files.isEmpty())
        openFiles(files);
}

void EditorWindow::onSaveAs()
{
    const int current = m_session.current();
    if (current < 0)
        return;
    const WindowTexts& t = windowTexts();
    // Proposed: the file part of its path or its CDAZ name, in the folder it came from.
    const QString path = QFile::decodeName(m_session.path(current).c_str());
    const QString name = QFile::decodeName(m_session.fileName(current).c_str());
    const QDir folder = path.isEmpty()
                            ? QDir(QFile::decodeName((tamrin_common::dataFolder() / "Analyze").c_str()))
                            : QFileInfo(path).absoluteDir();
    const QString proposal = folder.filePath(name);
    // The session asks about a file that exists: the dialog does not ask as well.
    const QString chosen = QFileDialog::getSaveFileName(this, qtext(t.saveCaption), proposal,
                                                        qtext(t.cdazFilter) + ";;" + qtext(t.allFilter),
                                                        nullptr, QFileDialog::DontConfirmOverwrite);
    if (chosen.isEmpty())
        return;
    m_session.saveAs(current, QFile::encodeName(chosen).toStdString());
    refreshSelector();
}

void EditorWindow::onPluginInfo()
{
    const int current = m_session.current();
    QTreeWidgetItem* item = m_streams->currentItem();
    if (current < 0 || !item)
        return;
    PlbPluginInfoCd(this, m_session.record(current), m_streams->indexOfTopLevelItem(item));
}

void EditorWindow::onSettings()
{
    const auto pages = tamlibui::standardSettingsPages();
    if (PlbSetEnviron(this, qtext(windowTexts().settingsCaption), pages) == 1)
        refreshAll(); // the installed plugins may have changed
}

void EditorWindow::onAbout()
{
    tamlibui::PlbAboutRecord record;
    record.product = "Tabulor";
    record.version = kVersionText;
    record.text = qtext(windowTexts().aboutText);
    record.icon = windowIcon();
    tamlibui::PlbAboutPanel(this, record);
}

// ---- questions and refusals ----------------------------------------------------------------

void EditorWindow::tell(const std::string& text)
{
    QMessageBox box(QMessageBox::Warning, windowTitle(), QString::fromStdString(text), QMessageBox::NoButton,
                    this);
    box.setObjectName("tabulorMessage");
    box.addButton(QMessageBox::Ok)->setObjectName("ok");
    box.exec();
}

Asker::Answer EditorWindow::ask(const std::string& text, bool withCancel)
{
    QMessageBox box(QMessageBox::Question, windowTitle(), QString::fromStdString(text), QMessageBox::NoButton,
                    this);
    box.setObjectName("tabulorQuestion");
    QPushButton* yes =
        box.addButton(QString::fromStdString(tamlib::answerName(PLB_IDYES)), QMessageBox::YesRole);
    yes->setObjectName("yes");
    QPushButton* no =
        box.addButton(QString::fromStdString(tamlib::answerName(PLB_IDNO)), QMessageBox::NoRole);
    no->setObjectName("no");
    QPushButton* cancel = nullptr;
    if (withCancel) {
        cancel =
            box.addButton(QString::fromStdString(tamlib::answerName(PLB_IDCANCEL)), QMessageBox::RejectRole);
        cancel->setObjectName("cancel");
    }
    box.setDefaultButton(yes);
    box.setEscapeButton(cancel ? static_cast<QAbstractButton*>(cancel) : no);
    box.exec();
    if (box.clickedButton() == yes)
        return Answer::Yes;
    if (box.clickedButton() == no || !withCancel)
        return Answer::No;
    return Answer::Cancel;
}

// ---- the window's own events ---------------------------------------------------------------

void EditorWindow::closeEvent(QCloseEvent* event)
{
    // Every modified CDAZ is asked about; Cancel keeps the window with what is still open.
    if (!m_session.closeAll()) {
        event->ignore();
        refreshAll();
        return;
    }
    refreshAll();
    QMainWindow::closeEvent(event);
}

// ---- window settings -----------------------------------------------------------------------

void EditorWindow::applySettings(const WindowSettings& settings)
{
    // A rectangle kept from another screen layout may lie where no screen is now: then the
    // system places the window, at a size that fits the screen.
    const QRect kept(settings.left, settings.top, settings.width, settings.height);
    bool onScreen = false;
    for (const QScreen* screen : QGuiApplication::screens())
        onScreen = onScreen || screen->availableGeometry().intersects(kept);
    const QScreen* primary = QGuiApplication::primaryScreen();
    const QSize room = primary ? primary->availableGeometry().size() : QSize(kDefaultWidth, kDefaultHeight);
    if (settings.placed && settings.width > 0 && settings.height > 0 && onScreen)
        setGeometry(kept);
    else if (settings.placed && settings.width > 0 && settings.height > 0)
        resize(std::min(settings.width, room.width()), std::min(settings.height, room.height()));
    else
        resize(kDefaultWidth, kDefaultHeight);
    m_detailWidth = settings.detailWidth > 0 ? settings.detailWidth : kDefaultDetailWidth;
    // The list keeps room of its own whatever width the panel had.
    m_detailWidth = std::min(m_detailWidth, std::max(width() - kMinListWidth, kMinListWidth));
    m_splitter->setSizes({std::max(width() - m_detailWidth, kMinListWidth), m_detailWidth});
    for (int column = 0; column < kColumnCount; ++column)
        if (settings.columns[column] > 0)
            m_streams->header()->resizeSection(column, settings.columns[column]);
}

WindowSettings EditorWindow::windowSettings() const
{
    WindowSettings settings;
    settings.placed = true;
    const QRect rect = geometry();
    settings.left = rect.x();
    settings.top = rect.y();
    settings.width = rect.width();
    settings.height = rect.height();
    settings.detailWidth = m_detailWidth;
    for (int column = 0; column < kColumnCount; ++column)
        settings.columns[column] = m_streams->header()->sectionSize(column);
    return settings;
}

} // namespace tabulor
