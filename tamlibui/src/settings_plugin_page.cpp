// The plug-in page: the installed plug-ins in priority order, each switched on or off by its check
// box, moved with Up and Down. Apply brings the library's list into the order shown (the library
// moves each plug-in with its name, versions and media flags) and then sets each one's use.
#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "settings_text.h"
#include "streamkit/psr.h"
#include "tamlib/environment.h"
#include "tamlibui/settings_dialog.h"

namespace tamlibui {

using detail::tableText;
using detail::versionText;

namespace {

struct PluginRow
{
    QString file;
    QString name;
    QString copyright;
    QString address;
    int version = 0;
    int subVersion = 0;
    uint32_t caps = 0;
};

enum Column
{
    kNameColumn,
    kFileColumn,
    kVersionColumn,
};

class PluginPage : public SettingsPage
{
  public:
    explicit PluginPage(QWidget* parent) : SettingsPage(parent)
    {
        m_list = new QTreeWidget(this);
        m_list->setRootIsDecorated(false);
        m_list->setColumnCount(3);
        m_list->setHeaderLabels({tableText(PLB_IDS_SET_PLUGIN_NAME), tableText(PLB_IDS_SET_PLUGIN_FILE),
                                 tableText(PLB_IDS_SET_PLUGIN_VER)});
        m_up = new QPushButton(tableText(PLB_IDS_SET_UP), this);
        m_down = new QPushButton(tableText(PLB_IDS_SET_DOWN), this);
        m_about = new QPushButton(tableText(PLB_IDS_SET_ABOUT), this);

        const int32_t count =
            PlbGetPluginInfo(0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
        for (int32_t i = 0; i < count; ++i) {
            char file[PLB_PLUGIN_FILE_MAX + 1] = {}, name[49] = {}, copyright[81] = {}, author[81] = {},
                                            address[81] = {};
            uint16_t version = 0, subVersion = 0;
            uint32_t caps = 0;
            if (PlbGetPluginInfo(i, file, name, &version, &subVersion, copyright, &caps, author, address) < 0)
                continue;
            addRow({QString::fromUtf8(file), QString::fromUtf8(name), QString::fromUtf8(copyright),
                    QString::fromUtf8(address), version, subVersion, caps});
        }
        if (m_list->topLevelItemCount() > 0)
            m_list->setCurrentItem(m_list->topLevelItem(0));

        auto* buttons = new QVBoxLayout;
        buttons->addWidget(m_up);
        buttons->addWidget(m_down);
        buttons->addStretch();
        buttons->addWidget(m_about);
        auto* layout = new QHBoxLayout(this);
        layout->addWidget(m_list, 1);
        layout->addLayout(buttons);

        connect(m_list, &QTreeWidget::currentItemChanged, this, &PluginPage::updateButtons);
        connect(m_list, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem*, int column) {
            if (column == kNameColumn)
                emit changed();
        });
        connect(m_up, &QPushButton::clicked, this, [this] { moveCurrent(-1); });
        connect(m_down, &QPushButton::clicked, this, [this] { moveCurrent(1); });
        connect(m_about, &QPushButton::clicked, this, &PluginPage::showAbout);
        updateButtons();
    }

    void showEvent(QShowEvent* event) override
    {
        SettingsPage::showEvent(event);
        // Name 9/20, file 5/20, version the rest.
        const int width = m_list->viewport()->width();
        m_list->setColumnWidth(kNameColumn, width * 9 / 20);
        m_list->setColumnWidth(kFileColumn, width * 5 / 20);
    }

    void apply() override
    {
        for (int target = 0; target < m_list->topLevelItemCount(); ++target) {
            const QByteArray file = m_list->topLevelItem(target)->text(kFileColumn).toUtf8();
            const int32_t from = installedPosition(file);
            if (from >= 0 && from != target)
                PlbMovePlugin(from, target);
        }
        for (int row = 0; row < m_list->topLevelItemCount(); ++row) {
            const QTreeWidgetItem* item = m_list->topLevelItem(row);
            PlbSetPluginUse(item->text(kFileColumn).toUtf8().constData(),
                            item->checkState(kNameColumn) == Qt::Checked ? 1 : 0);
        }
    }

  private:
    static int32_t installedPosition(const QByteArray& file)
    {
        char name[PLB_PLUGIN_FILE_MAX + 1] = {};
        for (int32_t i = 0;
             PlbGetPluginInfo(i, name, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) >= 0;
             ++i) {
            if (file == name)
                return i;
        }
        return -1;
    }

    void addRow(const PluginRow& row)
    {
        auto* item = new QTreeWidgetItem(m_list);
        item->setText(kNameColumn, row.name);
        item->setText(kFileColumn, row.file);
        item->setText(kVersionColumn, versionText(row.version));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(kNameColumn, (row.caps & PLB_PLUGIN_NOUSE) ? Qt::Unchecked : Qt::Checked);
        const bool file = row.caps & CapFile, cd = row.caps & CapCd;
        QStyle* style = QApplication::style();
        item->setIcon(kNameColumn, style->standardIcon(file && cd ? QStyle::SP_DriveDVDIcon
                                                       : cd       ? QStyle::SP_DriveCDIcon
                                                                  : QStyle::SP_FileIcon));
        m_rows.insert(row.file, row);
    }

    void moveCurrent(int step)
    {
        const int row = m_list->indexOfTopLevelItem(m_list->currentItem());
        const int target = row + step;
        if (row < 0 || target < 0 || target >= m_list->topLevelItemCount())
            return;
        QTreeWidgetItem* item = m_list->takeTopLevelItem(row);
        m_list->insertTopLevelItem(target, item);
        m_list->setCurrentItem(item);
        updateButtons();
        emit changed();
    }

    void updateButtons()
    {
        const int row = m_list->indexOfTopLevelItem(m_list->currentItem());
        m_up->setEnabled(row > 0);
        m_down->setEnabled(row >= 0 && row + 1 < m_list->topLevelItemCount());
        m_about->setEnabled(row >= 0);
    }

    void showAbout()
    {
        const QTreeWidgetItem* item = m_list->currentItem();
        if (!item)
            return;
        const PluginRow row = m_rows.value(item->text(kFileColumn));
        const QString version = tableText(PLB_IDS_SET_VERSION).replace("%d.%02d", versionText(row.version));
        QString text = "<b>" + row.name.toHtmlEscaped() + "</b><br>" + version.toHtmlEscaped() + "<br>" +
                       row.copyright.toHtmlEscaped();
        if (!row.address.isEmpty())
            text += QString("<br><a href=\"%1\">%1</a>").arg(row.address.toHtmlEscaped());
        QMessageBox::about(this, row.name, text);
    }

    QTreeWidget* m_list = nullptr;
    QPushButton* m_up = nullptr;
    QPushButton* m_down = nullptr;
    QPushButton* m_about = nullptr;
    QHash<QString, PluginRow> m_rows;
};

} // namespace

SettingsPage* createPluginPage(QWidget* parent)
{
    return new PluginPage(parent);
}

} // namespace tamlibui
