// The editor window's panels: the selector bar, the stream list, the detail panel and the plugin
// panel, how each is filled from the session and how each edit made in them reaches the session.
#include "editor_window.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

#include "session_texts.h"
#include "tamlibui/uikit.h"
#include "window_texts.h"

namespace tabulor {

namespace {

QString utf8(const std::string& text)
{
    return QString::fromStdString(text);
}

// The row icon of a stream: a filled dot when it is listed, a hollow one when the user hid it
// (flag bit 0); a small square in the corner for the user's mark (flag bit 1).
QIcon streamIcon(int32_t flags)
{
    static QIcon icons[4];
    const int which = flags & (PLB_CDAZ_STREAM_USER_HIDDEN | PLB_CDAZ_STREAM_USER1);
    if (icons[which].isNull()) {
        QPixmap pixmap(16, 16);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        if (which & PLB_CDAZ_STREAM_USER_HIDDEN) {
            painter.setPen(QPen(QColor(128, 128, 128), 1.5));
            painter.setBrush(Qt::NoBrush);
        } else {
            painter.setPen(QPen(QColor(0, 110, 40), 1));
            painter.setBrush(QColor(40, 170, 70));
        }
        painter.drawEllipse(QRectF(2.5, 2.5, 10, 10));
        if (which & PLB_CDAZ_STREAM_USER1) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(230, 140, 0));
            painter.drawRect(QRectF(10, 10, 6, 6));
        }
        painter.end();
        icons[which] = QIcon(pixmap);
    }
    return icons[which];
}

// Only the title column is edited in place, and with the longest title the CDAZ keeps.
class TitleDelegate : public QStyledItemDelegate
{
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override
    {
        if (index.column() != EditorWindow::kColTitle)
            return nullptr;
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        if (auto* line = qobject_cast<QLineEdit*>(editor))
            line->setMaxLength(EditorWindow::kStreamTitleLength);
        return editor;
    }
};

// Installed versions of a plugin that is not installed are shown as dashes.
QString installedVersionText(int16_t version)
{
    return version < 0 ? QStringLiteral("---") : utf8(versionText(version));
}

} // namespace

// ---- building the panels -------------------------------------------------------------------

QWidget* EditorWindow::createSelectorBar()
{
    const WindowTexts& t = windowTexts();
    auto* bar = new QWidget;
    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(0, 0, 0, 0);
    m_selector = new QComboBox;
    m_selector->setObjectName("selector");
    m_selector->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_selector->setMinimumContentsLength(32);
    m_title = new QLineEdit;
    m_title->setObjectName("cdTitle");
    m_title->setMaxLength(kTitleLength);
    m_prefix = new QLineEdit;
    m_prefix->setObjectName("prefix");
    m_prefix->setMaxLength(kPrefixLength);
    m_prefix->setMaximumWidth(m_prefix->fontMetrics().horizontalAdvance(QString(kPrefixLength, 'M')));
    layout->addWidget(new QLabel(qtext(t.cdaz)));
    layout->addWidget(m_selector, 2);
    layout->addWidget(new QLabel(qtext(t.cdTitle)));
    layout->addWidget(m_title, 2);
    layout->addWidget(new QLabel(qtext(t.prefix)));
    layout->addWidget(m_prefix, 1);
    connect(m_selector, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (!m_filling)
            showCdaz(index);
    });
    connect(m_title, &QLineEdit::textEdited, this, &EditorWindow::onTitleEdited);
    connect(m_prefix, &QLineEdit::textEdited, this, &EditorWindow::onPrefixEdited);
    return bar;
}

QWidget* EditorWindow::createStreamPanel()
{
    const WindowTexts& t = windowTexts();
    m_streams = new QTreeWidget;
    m_streams->setObjectName("streams");
    m_streams->setColumnCount(kColumnCount);
    QStringList headers;
    for (const char* column : t.columns)
        headers << qtext(column);
    m_streams->setHeaderLabels(headers);
    m_streams->setRootIsDecorated(false);
    m_streams->setUniformRowHeights(true);
    m_streams->setAlternatingRowColors(true);
    m_streams->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // Renaming starts from its command (F2) only, on the title column.
    m_streams->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_streams->setItemDelegate(new TitleDelegate(m_streams));
    // The status column takes what the list has to spare.
    m_streams->header()->setStretchLastSection(true);
    for (int column : {kColTime, kColStart, kColNumber})
        m_streams->headerItem()->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
    connect(m_streams, &QTreeWidget::currentItemChanged, this, [this] { refreshDetail(); });
    connect(m_streams, &QTreeWidget::itemChanged, this, &EditorWindow::onStreamItemChanged);
    return m_streams;
}

QWidget* EditorWindow::createDetailPanel()
{
    const WindowTexts& t = windowTexts();
    m_detailPanel = new QWidget;
    m_detailPanel->setObjectName("detail");
    auto* form = new QFormLayout(m_detailPanel);
    form->setLabelAlignment(Qt::AlignRight);
    const char* labels[kDetailCount] = {
        t.detailTitle,  t.detailType,      t.detailStart,     t.detailSectors,  t.detailTime,
        t.detailFrames, t.detailFrameSize, t.detailFrameRate, t.detailChannels, t.detailBits,
        t.detailRate,   t.detailStatus,    t.detailPlugin};
    for (int row = 0; row < kDetailCount; ++row) {
        m_details[row] = new QLabel;
        m_details[row]->setTextInteractionFlags(Qt::TextSelectableByMouse);
        if (row == kDetTitle)
            m_details[row]->setWordWrap(true);
        if (row == kDetStatus) {
            // The list switch sits above the status it changes.
            auto* buttons = new QHBoxLayout;
            m_displayOn = new QRadioButton(qtext(sessionTexts().on));
            m_displayOn->setObjectName("displayOn");
            m_displayOff = new QRadioButton(qtext(sessionTexts().off));
            m_displayOff->setObjectName("displayOff");
            m_display = new QButtonGroup(this);
            m_display->addButton(m_displayOn);
            m_display->addButton(m_displayOff);
            buttons->addWidget(m_displayOn);
            buttons->addWidget(m_displayOff);
            buttons->addStretch();
            form->addRow(qtext(t.detailDisplay), buttons);
            connect(m_displayOn, &QRadioButton::clicked, this, [this] { setSelectedHidden(false); });
            connect(m_displayOff, &QRadioButton::clicked, this, [this] { setSelectedHidden(true); });
        }
        form->addRow(qtext(labels[row]), m_details[row]);
    }
    m_detailPanel->setMinimumWidth(160);
    return m_detailPanel;
}

QWidget* EditorWindow::createPluginPanel()
{
    const WindowTexts& t = windowTexts();
    auto* panel = new QWidget;
    auto* layout = new QHBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    m_plugins = new QTreeWidget;
    m_plugins->setObjectName("plugins");
    m_plugins->setColumnCount(kPluginColumnCount);
    QStringList headers;
    for (const char* column : t.pluginColumns)
        headers << qtext(column);
    m_plugins->setHeaderLabels(headers);
    m_plugins->setRootIsDecorated(false);
    m_plugins->setUniformRowHeights(true);
    m_plugins->setSelectionMode(QAbstractItemView::SingleSelection);
    for (const auto& [column, width] : {std::pair{kPlugName, 170},
                                        {kPlugFile, 130},
                                        {kPlugAnalyze, 80},
                                        {kPlugCurrent, 80},
                                        {kPlugSecurity, 80}})
        m_plugins->header()->resizeSection(column, width);
    layout->addWidget(m_plugins, 1);

    auto* side = new QVBoxLayout;
    m_up = new QPushButton(qtext(t.up));
    m_up->setObjectName("up");
    m_down = new QPushButton(qtext(t.down));
    m_down->setObjectName("down");
    m_link = new QPushButton;
    m_link->setObjectName("link");
    side->addWidget(m_up);
    side->addWidget(m_down);
    side->addStretch();
    side->addWidget(m_link);
    layout->addLayout(side);

    connect(m_plugins, &QTreeWidget::itemChanged, this, &EditorWindow::onPluginItemChanged);
    connect(m_plugins, &QTreeWidget::currentItemChanged, this, [this] { refreshPluginLink(); });
    connect(m_up, &QPushButton::clicked, this, [this] { onMovePlugin(-1); });
    connect(m_down, &QPushButton::clicked, this, [this] { onMovePlugin(1); });
    return panel;
}

// ---- filling them --------------------------------------------------------------------------

void EditorWindow::refreshAll()
{
    refreshSelector();
    const int current = m_session.current();
    ++m_filling;
    m_title->setText(current >= 0 ? utf8(m_session.title(current)) : QString());
    m_prefix->setText(current >= 0 ? utf8(m_session.prefix(current)) : QString());
    --m_filling;
    m_title->setEnabled(current >= 0);
    m_prefix->setEnabled(current >= 0);
    refreshStreams();
    refreshPlugins();
    for (Command command :
         {kCmdClose, kCmdSave, kCmdSaveAs, kCmdSaveAll, kCmdSaveToAnalyze, kCmdSaveAllToAnalyze, kCmdDelete,
          kCmdShow, kCmdHide, kCmdRename, kCmdSelectAll, kCmdSelectReverse, kCmdPluginInfo})
        m_actions[command]->setEnabled(current >= 0);
    if (m_systemMenu)
        for (Command command : {kCmdClose, kCmdSaveToAnalyze, kCmdSaveAllToAnalyze})
            m_actions[command]->setEnabled(false);
}

void EditorWindow::refreshSelector()
{
    ++m_filling;
    // Rewritten in place while the number of entries stays: a choice made in the selector
    // refreshes it from inside its own change.
    if (m_selector->count() != m_session.count()) {
        m_selector->clear();
        for (int i = 0; i < m_session.count(); ++i)
            m_selector->addItem(QString());
    }
    for (int i = 0; i < m_session.count(); ++i)
        m_selector->setItemText(i, utf8(m_session.selectorText(i)));
    m_selector->setCurrentIndex(m_session.current());
    --m_filling;
}

void EditorWindow::refreshSelectorText(int index)
{
    if (index >= 0 && index < m_selector->count())
        m_selector->setItemText(index, utf8(m_session.selectorText(index)));
}

void EditorWindow::refreshStreams()
{
    ++m_filling;
    const int current = m_session.current();
    m_rows = current >= 0 ? m_session.streams(current) : std::vector<StreamRow>{};
    m_streams->clear();
    QList<QTreeWidgetItem*> items;
    for (const StreamRow& row : m_rows) {
        auto* item = new QTreeWidgetItem;
        item->setFlags(item->flags() | Qt::ItemIsEditable);
        for (int column : {kColTime, kColStart, kColNumber})
            item->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
        refreshStreamRow(item, row);
        items << item;
    }
    m_streams->addTopLevelItems(items);
    if (!items.isEmpty())
        m_streams->setCurrentItem(items.front(), 0, QItemSelectionModel::NoUpdate);
    --m_filling;
    refreshDetail();
}

void EditorWindow::refreshStreamRow(QTreeWidgetItem* item, const StreamRow& row)
{
    ++m_filling;
    item->setIcon(kColTitle, streamIcon(row.flags));
    item->setText(kColTitle, utf8(row.title));
    item->setText(kColTime, utf8(timeText(row.info.durationMs)));
    item->setText(kColStart, QString::number(row.info.startSector));
    item->setText(kColNumber, QString::number(row.info.sectorCount));
    item->setText(kColPlugin, utf8(row.plugin));
    item->setText(kColList, utf8(listText(row.flags)));
    item->setText(kColStatus, utf8(statusText(row.flags)));
    --m_filling;
}

void EditorWindow::refreshStreamStates(const std::vector<int>* rows)
{
    const int current = m_session.current();
    m_rows = current >= 0 ? m_session.streams(current) : std::vector<StreamRow>{};
    const int count = std::min<int>(int(m_rows.size()), m_streams->topLevelItemCount());
    auto refresh = [&](int row) {
        if (row >= 0 && row < count)
            refreshStreamRow(m_streams->topLevelItem(row), m_rows[size_t(row)]);
    };
    if (rows)
        for (int row : *rows)
            refresh(row);
    else
        for (int row = 0; row < count; ++row)
            refresh(row);
    refreshDetail();
}

void EditorWindow::refreshDetail()
{
    QTreeWidgetItem* item = m_streams->currentItem();
    const int row = item ? m_streams->indexOfTopLevelItem(item) : -1;
    const bool shown = row >= 0 && row < int(m_rows.size());
    for (QLabel* label : m_details)
        label->clear();
    m_displayOn->setEnabled(shown);
    m_displayOff->setEnabled(shown);
    if (!shown) {
        m_display->setExclusive(false);
        m_displayOn->setChecked(false);
        m_displayOff->setChecked(false);
        m_display->setExclusive(true);
        return;
    }
    const StreamRow& stream = m_rows[size_t(row)];
    const StrInfo& info = stream.info;
    m_details[kDetTitle]->setText(utf8(quotedTitleText(stream.title)));
    m_details[kDetType]->setText(utf8(typeText(info)));
    m_details[kDetStart]->setText(QString::number(info.startSector));
    m_details[kDetSectors]->setText(QString::number(info.sectorCount));
    m_details[kDetTime]->setText(utf8(detailTimeText(info.durationMs)));
    if (info.kind & StrVideo) {
        m_details[kDetFrames]->setText(QString::number(info.frameCount));
        m_details[kDetFrameSize]->setText(utf8(frameSizeText(info.width, info.height)));
        m_details[kDetFrameRate]->setText(utf8(frameRateText(info.frameRate)));
    }
    if (info.channels) {
        m_details[kDetChannels]->setText(QString::number(info.channels));
        m_details[kDetBits]->setText(utf8(bitsText(info.bitsPerSample)));
        m_details[kDetRate]->setText(utf8(hertzText(info.sampleRate)));
    }
    const bool hidden = stream.flags & PLB_CDAZ_STREAM_USER_HIDDEN;
    m_displayOn->setChecked(!hidden);
    m_displayOff->setChecked(hidden);
    m_details[kDetStatus]->setText(utf8(statusText(stream.flags)));
    m_details[kDetPlugin]->setText(utf8(stream.plugin));
}

void EditorWindow::refreshPlugins()
{
    ++m_filling;
    const int current = m_session.current();
    const int selected =
        m_plugins->currentItem() ? m_plugins->indexOfTopLevelItem(m_plugins->currentItem()) : 0;
    m_pluginRows = current >= 0 ? m_session.plugins(current) : std::vector<PluginRow>{};
    // The rows are rewritten in place when their number stays: an edit made through a row's
    // check box refreshes the list from inside that row's own change.
    if (m_plugins->topLevelItemCount() != int(m_pluginRows.size())) {
        m_plugins->clear();
        QList<QTreeWidgetItem*> items;
        for (size_t i = 0; i < m_pluginRows.size(); ++i) {
            auto* item = new QTreeWidgetItem;
            item->setFlags((item->flags() | Qt::ItemIsUserCheckable) & ~Qt::ItemIsEditable);
            items << item;
        }
        m_plugins->addTopLevelItems(items);
    }
    for (int row = 0; row < int(m_pluginRows.size()); ++row) {
        const PluginRow& plugin = m_pluginRows[size_t(row)];
        QTreeWidgetItem* item = m_plugins->topLevelItem(row);
        item->setCheckState(kPlugName, plugin.off ? Qt::Unchecked : Qt::Checked);
        item->setText(kPlugName, utf8(plugin.name));
        item->setText(kPlugFile, utf8(plugin.fileName));
        item->setText(kPlugAnalyze, utf8(versionText(plugin.analysed)));
        item->setText(kPlugCurrent, installedVersionText(plugin.current));
        item->setText(kPlugSecurity, installedVersionText(plugin.security));
        item->setText(kPlugDetection, utf8(detectionText(plugin.streams, plugin.clean)));
    }
    if (!m_pluginRows.empty())
        m_plugins->setCurrentItem(
            m_plugins->topLevelItem(std::clamp(selected, 0, int(m_pluginRows.size()) - 1)));
    --m_filling;
    refreshPluginLink();
}

void EditorWindow::refreshPluginLink()
{
    QTreeWidgetItem* item = m_plugins->currentItem();
    const int row = item ? m_plugins->indexOfTopLevelItem(item) : -1;
    const bool have = row >= 0 && row < int(m_pluginRows.size());
    m_up->setEnabled(have && row > 0);
    m_down->setEnabled(have && row + 1 < int(m_pluginRows.size()));
    const QString address = have ? utf8(m_pluginRows[size_t(row)].address) : QString();
    m_link->setVisible(!address.isEmpty());
    if (address.isEmpty())
        return;
    const QString author = utf8(m_pluginRows[size_t(row)].author);
    m_link->setText(author.isEmpty() ? address : author);
    tamlibui::PlbSetLinkButton(m_link, QUrl::fromUserInput(address));
}

// ---- edits ---------------------------------------------------------------------------------

void EditorWindow::afterEdit()
{
    refreshSelectorText(m_session.current());
}

void EditorWindow::onTitleEdited(const QString& text)
{
    const int current = m_session.current();
    if (m_filling || current < 0)
        return;
    m_session.setTitle(current, text.toStdString());
    const QString stored = utf8(m_session.title(current));
    if (stored != text) {
        // Refused or cut by the session: the field shows what the CDAZ holds.
        ++m_filling;
        m_title->setText(stored);
        --m_filling;
    }
    afterEdit();
}

void EditorWindow::onPrefixEdited(const QString& text)
{
    const int current = m_session.current();
    if (m_filling || current < 0)
        return;
    if (m_session.setPrefix(current, text.toStdString())) {
        // Streams without a title of their own show the prefix in their default title.
        refreshStreamStates();
    }
    const QString stored = utf8(m_session.prefix(current));
    if (stored != text) {
        ++m_filling;
        m_prefix->setText(stored);
        --m_filling;
    }
    afterEdit();
}

std::vector<int> EditorWindow::selectedStreams() const
{
    std::vector<int> rows;
    for (QTreeWidgetItem* item : m_streams->selectedItems())
        rows.push_back(m_streams->indexOfTopLevelItem(item));
    std::sort(rows.begin(), rows.end());
    return rows;
}

void EditorWindow::setSelectedHidden(bool hidden)
{
    const int current = m_session.current();
    std::vector<int> rows = selectedStreams();
    if (rows.empty() && m_streams->currentItem())
        rows.push_back(m_streams->indexOfTopLevelItem(m_streams->currentItem()));
    if (current < 0 || rows.empty())
        return;
    const std::vector<int> changed = m_session.setHidden(current, rows, hidden);
    refreshStreamStates(&changed);
    refreshPlugins(); // the counts of streams without flags follow
    afterEdit();
}

void EditorWindow::startRename()
{
    QTreeWidgetItem* item = m_streams->currentItem();
    if (!item)
        return;
    m_streams->setFocus();
    m_streams->scrollToItem(item);
    m_streams->editItem(item, kColTitle);
}

void EditorWindow::selectReverse()
{
    for (int row = 0; row < m_streams->topLevelItemCount(); ++row) {
        QTreeWidgetItem* item = m_streams->topLevelItem(row);
        item->setSelected(!item->isSelected());
    }
}

void EditorWindow::onStreamItemChanged(QTreeWidgetItem* item, int column)
{
    const int current = m_session.current();
    const int row = m_streams->indexOfTopLevelItem(item);
    if (m_filling || column != kColTitle || current < 0 || row < 0 || row >= int(m_rows.size()))
        return;
    const std::string title = item->text(kColTitle).toStdString();
    if (title != m_rows[size_t(row)].title)
        m_session.renameStream(current, row, title);
    // The row shows what the CDAZ now holds (the old title when the new one was refused).
    const std::vector<int> rows{row};
    refreshStreamStates(&rows);
    afterEdit();
}

void EditorWindow::onPluginItemChanged(QTreeWidgetItem* item, int column)
{
    const int current = m_session.current();
    const int row = m_plugins->indexOfTopLevelItem(item);
    if (m_filling || column != kPlugName || current < 0 || row < 0 || row >= int(m_pluginRows.size()))
        return;
    const bool off = item->checkState(kPlugName) != Qt::Checked;
    if (off != m_pluginRows[size_t(row)].off)
        m_session.setPluginOff(current, row, off);
    refreshPlugins();
    refreshStreamStates();
    afterEdit();
}

void EditorWindow::onMovePlugin(int direction)
{
    const int current = m_session.current();
    QTreeWidgetItem* item = m_plugins->currentItem();
    const int from = item ? m_plugins->indexOfTopLevelItem(item) : -1;
    const int to = from + direction;
    if (current < 0 || from < 0 || to < 0 || to >= int(m_pluginRows.size()))
        return;
    if (!m_session.movePlugin(current, from, to))
        return;
    refreshPlugins();
    m_plugins->setCurrentItem(m_plugins->topLevelItem(to));
    refreshStreamStates();
    afterEdit();
}

} // namespace tabulor
