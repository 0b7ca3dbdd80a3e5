// The two plug-in dialogs: the plug-in behind one stream of a CDAZ record, and the choice of
// another plug-in for a stream file.
#pragma once

#include <QDialog>
#include <QString>

#include <cstdint>
#include <vector>

#include "streamkit/psr.h"
#include "tamlib/cdaz.h"
#include "tamlibui/export.h"

class QLabel;
class QPushButton;
class QTreeWidget;

namespace tamlibui {

// Name, file, version, copyright and the address link of one plug-in.
class TAMLIBUI_API PluginDetails : public QWidget
{
    Q_OBJECT
  public:
    explicit PluginDetails(QWidget* parent);
    // The link is labelled with `author`, else with the file name, and hidden without an address.
    void setPlugin(const QString& name, const QString& file, const QString& version, const QString& copyright,
                   const QString& author, const QString& address);

    QLabel* link() const { return m_link; }
    QLabel* version() const { return m_version; }

  private:
    QLabel* m_name = nullptr;
    QLabel* m_file = nullptr;
    QLabel* m_version = nullptr;
    QLabel* m_copyright = nullptr;
    QLabel* m_link = nullptr;
};

// "About Plug-in": the stream's title and the plug-in entry it was found by.
class TAMLIBUI_API PluginInfoDialog : public QDialog
{
    Q_OBJECT
  public:
    PluginInfoDialog(QWidget* owner, CdazRecord* record, int32_t streamIndex);

    QTreeWidget* list() const { return m_list; }
    PluginDetails* details() const { return m_details; }
    QPushButton* configureButton() const { return m_configure; }

  private:
    QTreeWidget* m_list = nullptr;
    PluginDetails* m_details = nullptr;
    QPushButton* m_configure = nullptr;
    QString m_pluginFile;
};

// "Select plug-in": the installed file plug-ins that accept the file, each judged on demand.
class TAMLIBUI_API SelectPluginDialog : public QDialog
{
    Q_OBJECT
  public:
    enum class Judgement
    {
        Good,
        NotJudged,
        Unable,
    };

    SelectPluginDialog(QWidget* owner, const QString& filePath, const QString& currentPlugin);

    QTreeWidget* list() const { return m_list; }
    QPushButton* judgeButton() const { return m_judge; }
    QPushButton* okButton() const { return m_ok; }
    Judgement judgement(int row) const;

    // After OK on another plug-in than the current one: its file name and its description.
    const QString& chosenPlugin() const { return m_chosen; }
    const StrInfo& chosenInfo() const { return m_chosenInfo; }

    void accept() override;

  private:
    struct Row
    {
        QString file;
        QString name;
        QString copyright;
        QString author;
        QString address;
        int version = 0;
        Judgement judgement = Judgement::NotJudged;
        StrInfo info{};
    };

    void judge();
    void showRow();
    void markRow(int row);

    QString m_path;
    QString m_current;
    std::vector<Row> m_rows;
    QTreeWidget* m_list = nullptr;
    PluginDetails* m_details = nullptr;
    QPushButton* m_judge = nullptr;
    QPushButton* m_ok = nullptr;
    QString m_chosen;
    StrInfo m_chosenInfo{};
};

} // namespace tamlibui

// Shows the plug-in of stream `streamIndex` of `record`; 0 when closed.
TAMLIBUI_API int32_t PlbPluginInfoCd(QWidget* owner, CdazRecord* record, int32_t streamIndex);
// Lets the user choose a plug-in for the file; 1 when another plug-in than the one named in
// `pluginFile` (in/out, at least 17 bytes) was chosen: its file name is copied there and its
// description of the file into `info`. 0 otherwise, with both left as they were.
TAMLIBUI_API int32_t PlbSelectPluginFile(QWidget* owner, const char* filePath, StrInfo* info,
                                         char* pluginFile);
