// The plug-in of a CDAZ stream, and the choice of a plug-in for a stream file.
#include "tamlibui/plugin_dialogs.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <cstring>

#include "settings_text.h"
#include "streamkit/lbr.h"
#include "tamlib/analysis.h"
#include "tamlib/environment.h"
#include "tamlibui/gui_thread.h"

namespace tamlibui {

using detail::tableText;
using detail::versionText;

namespace {

// What the library knows of an installed plug-in.
struct Installed
{
    bool found = false;
    QString name, copyright, author, address;
    uint16_t version = 0;
    uint32_t caps = 0;
};

Installed installedPlugin(const QByteArray& file)
{
    Installed plugin;
    if (file.isEmpty() || file.size() > PLB_PLUGIN_FILE_MAX)
        return plugin;
    char fileName[PLB_PLUGIN_FILE_MAX + 1] = {};
    std::memcpy(fileName, file.constData(), size_t(file.size()));
    char name[49] = {}, copyright[81] = {}, author[81] = {}, address[81] = {};
    uint16_t subVersion = 0;
    if (PlbGetPluginInfo(-1, fileName, name, &plugin.version, &subVersion, copyright, &plugin.caps, author,
                         address) < 0)
        return plugin;
    plugin.found = true;
    plugin.name = QString::fromUtf8(name);
    plugin.copyright = QString::fromUtf8(copyright);
    plugin.author = QString::fromUtf8(author);
    plugin.address = QString::fromUtf8(address);
    return plugin;
}

QTreeWidget* pluginList(QWidget* parent)
{
    auto* list = new QTreeWidget(parent);
    list->setRootIsDecorated(false);
    list->setColumnCount(3);
    list->setHeaderLabels({tableText(PLB_IDS_SET_PLUGIN_NAME), tableText(PLB_IDS_SET_PLUGIN_FILE),
                           tableText(PLB_IDS_SET_PLUGIN_VER)});
    list->setMinimumWidth(420);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setColumnWidth(0, 180);
    list->setColumnWidth(1, 140);
    return list;
}

} // namespace

PluginDetails::PluginDetails(QWidget* parent) : QWidget(parent)
{
    m_name = new QLabel(this);
    m_file = new QLabel(this);
    m_version = new QLabel(this);
    m_copyright = new QLabel(this);
    m_copyright->setWordWrap(true);
    m_link = new QLabel(this);
    m_link->setOpenExternalLinks(true);
    m_link->setTextInteractionFlags(Qt::TextBrowserInteraction);
    auto* layout = new QFormLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addRow(tableText(PLB_IDS_SET_PLUGIN_NAME), m_name);
    layout->addRow(tableText(PLB_IDS_SET_PLUGIN_FILE), m_file);
    layout->addRow(tableText(PLB_IDS_SET_PLUGIN_VER), m_version);
    layout->addRow(QString(), m_copyright);
    layout->addRow(QString(), m_link);
}

void PluginDetails::setPlugin(const QString& name, const QString& file, const QString& version,
                              const QString& copyright, const QString& author, const QString& address)
{
    m_name->setText(name);
    m_file->setText(file);
    m_version->setText(version);
    m_copyright->setText(copyright);
    const QUrl url = QUrl::fromUserInput(address);
    m_link->setVisible(!address.isEmpty() && url.isValid());
    m_link->setText(QString("<a href=\"%1\">%2</a>")
                        .arg(url.toString(QUrl::FullyEncoded).toHtmlEscaped(),
                             (author.isEmpty() ? file : author).toHtmlEscaped()));
}

// ---- the plug-in of a CDAZ stream --------------------------------------------------------------

PluginInfoDialog::PluginInfoDialog(QWidget* owner, CdazRecord* record, int32_t streamIndex) : QDialog(owner)
{
    setWindowTitle(tableText(PLB_IDS_SET_INFO_CAPTION));
    StrInfo info{};
    char streamName[PLB_CDAZ_STREAM_NAME_BYTES] = {};
    int32_t flags = 0, pluginIndex = -1;
    const bool haveStream =
        record && PlbGetCDAZStream(record, streamIndex, &info, streamName, &flags, &pluginIndex) != 0;
    char file[PLB_CDAZ_PLUGIN_FILE_BYTES] = {}, entryName[PLB_CDAZ_PLUGIN_NAME_BYTES] = {},
         author[PLB_CDAZ_AUTHOR_BYTES] = {}, address[PLB_CDAZ_ADDRESS_BYTES] = {};
    int16_t entryVersion = 0;
    const bool haveEntry =
        haveStream && pluginIndex >= 0 &&
        PlbGetCDAZPlugin(record, pluginIndex, file, entryName, &entryVersion, author, address) != 0;

    auto* title = new QLabel(QString::fromUtf8(streamName), this);
    m_list = pluginList(this);
    m_list->setMaximumHeight(m_list->sizeHint().height() / 2);
    m_details = new PluginDetails(this);
    m_configure = new QPushButton(tableText(PLB_IDS_SET_CONFIGURE), this);
    m_configure->setEnabled(false);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setText(tableText(PLB_IDS_BUTTON_OK));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    if (haveEntry) {
        m_pluginFile = QString::fromUtf8(file);
        const Installed installed = installedPlugin(QByteArray(file));
        const QString shownName = installed.found ? installed.name : QString::fromUtf8(entryName);
        const QString installedVersion = installed.found ? versionText(installed.version) : "---";
        auto* item = new QTreeWidgetItem(m_list, {shownName, m_pluginFile, installedVersion});
        m_list->setCurrentItem(item);
        QString version = installedVersion;
        if (!installed.found || uint16_t(entryVersion) != installed.version)
            version +=
                tableText(PLB_IDS_SET_CDAZ_VERSION).replace("%d.%02d", versionText(uint16_t(entryVersion)));
        const QString entryAuthor = QString::fromUtf8(author), entryAddress = QString::fromUtf8(address);
        m_details->setPlugin(shownName, m_pluginFile, version, installed.copyright,
                             entryAuthor.isEmpty() ? installed.author : entryAuthor,
                             entryAddress.isEmpty() ? installed.address : entryAddress);
        m_configure->setEnabled(installed.found && (installed.caps & CapSetEnvironment));
    } else {
        m_details->setPlugin({}, {}, {}, {}, {}, {});
    }
    connect(m_configure, &QPushButton::clicked, this, [this] {
        PluginBinding* binding = LbrOpenPSR(tamlib::pluginBindName(m_pluginFile.toStdString()).c_str());
        if (!binding)
            return;
        LbrSetEnvironment(binding, this);
        LbrClosePSR(binding);
    });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(title);
    layout->addWidget(m_list);
    layout->addWidget(m_details);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_configure);
    bottom->addStretch();
    bottom->addWidget(buttons);
    layout->addLayout(bottom);
}

// ---- the plug-in choice for a file -------------------------------------------------------------

SelectPluginDialog::SelectPluginDialog(QWidget* owner, const QString& filePath, const QString& currentPlugin)
    : QDialog(owner), m_path(filePath), m_current(currentPlugin)
{
    setWindowTitle(tableText(PLB_IDS_SET_SELECT_CAPTION));
    const QByteArray path = filePath.toUtf8();
    char file[PLB_PLUGIN_FILE_MAX + 1] = {};
    uint32_t caps = 0;
    for (int32_t i = 0;
         PlbGetPluginInfo(i, file, nullptr, nullptr, nullptr, nullptr, &caps, nullptr, nullptr) >= 0; ++i) {
        if (!(caps & CapFile))
            continue;
        PluginBinding* binding = LbrOpenPSR(tamlib::pluginBindName(file).c_str());
        if (!binding)
            continue;
        const bool accepts = LbrIsSupportFile(binding, path.constData()) == 1;
        LbrClosePSR(binding);
        if (!accepts)
            continue;
        const Installed installed = installedPlugin(QByteArray(file));
        Row row;
        row.file = QString::fromUtf8(file);
        row.name = installed.name;
        row.copyright = installed.copyright;
        row.author = installed.author;
        row.address = installed.address;
        row.version = installed.version;
        row.judgement = row.file == m_current ? Judgement::Good : Judgement::NotJudged;
        m_rows.push_back(row);
    }

    auto* pathLabel = new QLabel(filePath, this);
    pathLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_list = pluginList(this);
    m_details = new PluginDetails(this);
    m_judge = new QPushButton(tableText(PLB_IDS_SET_JUDGE), this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    m_ok->setText(tableText(PLB_IDS_BUTTON_OK));
    buttons->button(QDialogButtonBox::Cancel)->setText(tableText(PLB_IDS_BUTTON_CANCEL));
    connect(buttons, &QDialogButtonBox::accepted, this, &SelectPluginDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_judge, &QPushButton::clicked, this, &SelectPluginDialog::judge);

    for (size_t i = 0; i < m_rows.size(); ++i) {
        new QTreeWidgetItem(m_list, {m_rows[i].name, m_rows[i].file, versionText(m_rows[i].version)});
        markRow(int(i));
    }
    connect(m_list, &QTreeWidget::currentItemChanged, this, &SelectPluginDialog::showRow);
    for (size_t i = 0; i < m_rows.size(); ++i) {
        if (m_rows[i].judgement == Judgement::Good)
            m_list->setCurrentItem(m_list->topLevelItem(int(i)));
    }
    showRow();

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pathLabel);
    layout->addWidget(m_list);
    layout->addWidget(m_details);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_judge);
    bottom->addStretch();
    bottom->addWidget(buttons);
    layout->addLayout(bottom);
}

SelectPluginDialog::Judgement SelectPluginDialog::judgement(int row) const
{
    return row >= 0 && size_t(row) < m_rows.size() ? m_rows[size_t(row)].judgement : Judgement::Unable;
}

void SelectPluginDialog::markRow(int row)
{
    QStyle* style = QApplication::style();
    const Judgement judgement = m_rows[size_t(row)].judgement;
    m_list->topLevelItem(row)->setIcon(
        0, style->standardIcon(judgement == Judgement::Good     ? QStyle::SP_DialogApplyButton
                               : judgement == Judgement::Unable ? QStyle::SP_DialogCancelButton
                                                                : QStyle::SP_MessageBoxQuestion));
}

void SelectPluginDialog::showRow()
{
    const int row = m_list->indexOfTopLevelItem(m_list->currentItem());
    if (row < 0) {
        m_details->setPlugin({}, {}, {}, {}, {}, {});
        m_judge->setEnabled(false);
        m_ok->setEnabled(false);
        return;
    }
    const Row& shown = m_rows[size_t(row)];
    m_details->setPlugin(shown.name, shown.file, versionText(shown.version), shown.copyright, shown.author,
                         shown.address);
    m_judge->setEnabled(shown.judgement == Judgement::NotJudged);
    m_ok->setEnabled(shown.judgement == Judgement::Good);
}

void SelectPluginDialog::judge()
{
    const int row = m_list->indexOfTopLevelItem(m_list->currentItem());
    if (row < 0 || m_rows[size_t(row)].judgement != Judgement::NotJudged)
        return;
    Row& judged = m_rows[size_t(row)];
    QApplication::setOverrideCursor(Qt::WaitCursor);
    bool good = false;
    if (PluginBinding* binding = LbrOpenPSR(tamlib::pluginBindName(judged.file.toStdString()).c_str())) {
        std::memset(&judged.info, 0, sizeof judged.info);
        good = LbrGetStrFileInfo(binding, m_path.toUtf8().constData(), &judged.info) == 1;
        LbrClosePSR(binding);
    }
    QApplication::restoreOverrideCursor();
    judged.judgement = good ? Judgement::Good : Judgement::Unable;
    markRow(row);
    showRow();
}

void SelectPluginDialog::accept()
{
    const int row = m_list->indexOfTopLevelItem(m_list->currentItem());
    if (row < 0 || m_rows[size_t(row)].judgement != Judgement::Good)
        return;
    if (m_rows[size_t(row)].file == m_current) {
        QDialog::reject();
        return;
    }
    m_chosen = m_rows[size_t(row)].file;
    m_chosenInfo = m_rows[size_t(row)].info;
    QDialog::accept();
}

} // namespace tamlibui

int32_t PlbPluginInfoCd(QWidget* owner, CdazRecord* record, int32_t streamIndex)
{
    tamlibui::runOnGuiThread([&] {
        tamlibui::PluginInfoDialog dialog(owner, record, streamIndex);
        dialog.exec();
    });
    return 0;
}

int32_t PlbSelectPluginFile(QWidget* owner, const char* filePath, StrInfo* info, char* pluginFile)
{
    if (!filePath || !info || !pluginFile)
        return 0;
    StrInfo chosenInfo{};
    const QByteArray chosen = tamlibui::runOnGuiThread([&]() -> QByteArray {
        tamlibui::SelectPluginDialog dialog(
            owner, QString::fromUtf8(filePath),
            QString::fromUtf8(pluginFile, qsizetype(strnlen(pluginFile, PLB_PLUGIN_FILE_MAX))));
        if (dialog.exec() != QDialog::Accepted)
            return {};
        chosenInfo = dialog.chosenInfo();
        return dialog.chosenPlugin().toUtf8();
    });
    if (chosen.isEmpty() || chosen.size() > PLB_PLUGIN_FILE_MAX)
        return 0;
    std::memcpy(pluginFile, chosen.constData(), size_t(chosen.size()));
    pluginFile[chosen.size()] = '\0';
    *info = chosenInfo;
    return 1;
}
