// The editor's window: the CDAZ selector bar (the open CDAZ files, the CD title and the stream
// title prefix), the stream list with the detail panel of the selected stream beside it, and the
// plugin panel at the bottom. Everything it shows and every edit goes through its CdazSession;
// the window is the session's Asker, so its questions and refusals are message boxes owned by
// the window.
#pragma once

#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <array>
#include <vector>

#include "cdaz_session.h"

class QAction;
class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSplitter;
class QTreeWidget;
class QTreeWidgetItem;

namespace tabulor {

class EditorWindow : public QMainWindow, public Asker
{
    Q_OBJECT
  public:
    // Columns of the stream list.
    enum Column
    {
        kColTitle = 0,
        kColTime,
        kColStart,
        kColNumber,
        kColPlugin,
        kColList,
        kColStatus,
        kColumnCount
    };
    // Columns of the plugin panel.
    enum PluginColumn
    {
        kPlugName = 0,
        kPlugFile,
        kPlugAnalyze,
        kPlugCurrent,
        kPlugSecurity,
        kPlugDetection,
        kPluginColumnCount
    };
    enum Command
    {
        kCmdOpen = 0,
        kCmdClose,
        kCmdSave,
        kCmdSaveAs,
        kCmdSaveAll,
        kCmdSaveToAnalyze,
        kCmdSaveAllToAnalyze,
        kCmdDelete,
        kCmdExit,
        kCmdShow,
        kCmdHide,
        kCmdRename,
        kCmdSelectAll,
        kCmdSelectReverse,
        kCmdPluginInfo,
        kCmdSettings,
        kCmdAbout,
        kCommandCount
    };
    // Rows of the detail panel.
    enum Detail
    {
        kDetTitle = 0,
        kDetType,
        kDetStart,
        kDetSectors,
        kDetTime,
        kDetFrames,
        kDetFrameSize,
        kDetFrameRate,
        kDetChannels,
        kDetBits,
        kDetRate,
        kDetStatus,
        kDetPlugin,
        kDetailCount
    };
    // The longest CD title, prefix and stream title the fields take.
    static constexpr int kTitleLength = 64;
    static constexpr int kPrefixLength = 16;
    static constexpr int kStreamTitleLength = 48;
    // The detail panel's width when the settings give none.
    static constexpr int kDefaultDetailWidth = 260;

    explicit EditorWindow(const WindowSettings& settings = {}, QWidget* parent = nullptr);
    ~EditorWindow() override;

    CdazSession& session() { return m_session; }

    // Opens CDAZ files as from the command line or a drop: each in turn, then the one named by
    // `showFirst` (a CDAZ name or path; empty: the last opened) is shown. The number opened.
    int openFiles(const QStringList& paths, const QString& showFirst = {});
    // The start without files: every CDAZ of the analyze folder, with the system mode's menu
    // (no close or save to the analyze folder; open takes files in).
    int openAnalyzeFolder(const QString& showFirst = {});
    bool systemMenu() const { return m_systemMenu; }

    // The geometry to keep: the window's rectangle, the detail panel's width, the column widths.
    WindowSettings windowSettings() const;

    // Shows the open CDAZ at `index` of the selector.
    void showCdaz(int index);

    QAction* action(Command command) const { return m_actions[command]; }
    QComboBox* selector() const { return m_selector; }
    QLineEdit* titleField() const { return m_title; }
    QLineEdit* prefixField() const { return m_prefix; }
    QTreeWidget* streamList() const { return m_streams; }
    QTreeWidget* pluginList() const { return m_plugins; }
    QPushButton* upButton() const { return m_up; }
    QPushButton* downButton() const { return m_down; }
    QPushButton* pluginLink() const { return m_link; }
    QSplitter* splitter() const { return m_splitter; }
    QLabel* detail(Detail row) const { return m_details[row]; }
    QRadioButton* displayOn() const { return m_displayOn; }
    QRadioButton* displayOff() const { return m_displayOff; }

    // The streams selected in the list, in list order.
    std::vector<int> selectedStreams() const;
    // Sets or clears the user-hidden flag of the selected streams and refreshes their rows.
    void setSelectedHidden(bool hidden);

    // Asker: message boxes owned by the window ("tabulorMessage", "tabulorQuestion"; the
    // question's buttons are named "yes", "no" and "cancel").
    void tell(const std::string& text) override;
    Answer ask(const std::string& text, bool withCancel) override;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void createActions();
    void createMenus();
    QWidget* createSelectorBar();
    QWidget* createStreamPanel();
    QWidget* createDetailPanel();
    QWidget* createPluginPanel();
    void applySettings(const WindowSettings& settings);

    // Fills the whole window from the current CDAZ.
    void refreshAll();
    void refreshSelector();
    void refreshSelectorText(int index);
    void refreshStreams();
    void refreshStreamRow(QTreeWidgetItem* item, const StreamRow& row);
    // Refreshes the "List" and "Status" columns (and the icons) of `rows`, or of every row.
    void refreshStreamStates(const std::vector<int>* rows = nullptr);
    void refreshDetail();
    void refreshPlugins();
    void refreshPluginLink();
    void afterEdit();

    void onOpen();
    void onSaveAs();
    void onTitleEdited(const QString& text);
    void onPrefixEdited(const QString& text);
    void onStreamItemChanged(QTreeWidgetItem* item, int column);
    void onPluginItemChanged(QTreeWidgetItem* item, int column);
    void onMovePlugin(int direction);
    void onPluginInfo();
    void onSettings();
    void onAbout();
    void startRename();
    void selectReverse();

    CdazSession m_session{*this};
    std::array<QAction*, kCommandCount> m_actions{};
    QComboBox* m_selector = nullptr;
    QLineEdit* m_title = nullptr;
    QLineEdit* m_prefix = nullptr;
    QSplitter* m_splitter = nullptr;
    QTreeWidget* m_streams = nullptr;
    QWidget* m_detailPanel = nullptr;
    std::array<QLabel*, kDetailCount> m_details{};
    QRadioButton* m_displayOn = nullptr;
    QRadioButton* m_displayOff = nullptr;
    QButtonGroup* m_display = nullptr;
    QTreeWidget* m_plugins = nullptr;
    QPushButton* m_up = nullptr;
    QPushButton* m_down = nullptr;
    QPushButton* m_link = nullptr;
    QMenu* m_fileMenu = nullptr;
    bool m_systemMenu = false;
    int m_detailWidth = kDefaultDetailWidth;
    int m_filling = 0; // >0 while the window fills its widgets: their change signals are not edits
    std::vector<StreamRow> m_rows; // of the current CDAZ, in list order
    std::vector<PluginRow> m_pluginRows;
};

} // namespace tabulor
