// The analysis dialogs and the AVI codec choice of the desktop port.
#include "uiport_dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

#include "tamlib/cdaz.h"
#include "tamlib/environment.h"
#include "tamlib/strings.h"
#include "tamlibui/qt_ui_port.h"

namespace tamlibui {

namespace {

QString q(const std::string& text)
{
    return QString::fromStdString(text);
}

QString countLine(uint32_t id, int32_t count)
{
    return tableText(id).replace("%d", QString::number(count));
}

QLabel* messageLabel(const std::string& text, QWidget* parent)
{
    auto* label = new QLabel(q(text), parent);
    label->setWordWrap(true);
    label->setObjectName("message");
    return label;
}

// Longest-text width of a column's cells, for lists that must not clip in either language.
void fitColumns(QTreeWidget* list)
{
    for (int c = 0; c < list->columnCount(); ++c)
        list->resizeColumnToContents(c);
    int width = list->frameWidth() * 2 + 24;
    for (int c = 0; c < list->columnCount(); ++c)
        width += list->columnWidth(c);
    list->setMinimumWidth(std::min(width, 900));
    // Every row in sight, up to twenty; more scroll.
    const int rows = std::clamp(list->topLevelItemCount(), 3, 20);
    const int rowHeight = std::max(list->sizeHintForRow(0), list->fontMetrics().height() + 4);
    list->setMinimumHeight(list->header()->sizeHint().height() + rows * rowHeight + list->frameWidth() * 2 +
                           4);
}

// What the installed plugin says of itself: name and version, copyright, author and address;
// empty when it is not installed.
QString pluginDescription(const std::string& file)
{
    char fileName[PLB_STRING_MAX] = {};
    std::snprintf(fileName, sizeof fileName, "%s", file.c_str());
    char name[64] = {}, copyright[96] = {}, author[96] = {}, address[96] = {};
    uint16_t version = 0;
    if (PlbGetPluginInfo(-1, fileName, name, &version, nullptr, copyright, nullptr, author, address) < 0)
        return {};
    QStringList lines{QString("%1  %2.%3")
                          .arg(QString::fromUtf8(name))
                          .arg(version / 100)
                          .arg(version % 100, 2, 10, QChar('0'))};
    for (const char* text : {copyright, author, address})
        if (*text)
            lines << QString::fromUtf8(text);
    return lines.join('\n');
}

} // namespace

std::string cutUtf8(const QString& text, int bytes)
{
    QString kept;
    int used = 0;
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype step = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString piece = text.mid(i, step);
        const int size = int(piece.toUtf8().size());
        if (used + size > bytes)
            break;
        kept += piece;
        used += size;
        i += step;
    }
    return kept.toStdString();
}

// ---- adoption ----

AdoptDialog::AdoptDialog(const tamlib::AdoptRequest& request, QWidget* parent)
    : QDialog(parent), m_answer(request.defaultAnswer)
{
    setObjectName("adoptDialog");
    setWindowTitle(q(request.caption));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(messageLabel(request.message, this));

    auto* facts = new QFormLayout;
    auto* title = new QLabel(q(request.title), this);
    title->setObjectName("title");
    facts->addRow(tableText(PLB_IDS_UI_TITLE), title);
    auto* state = new QLabel(q(request.state), this);
    state->setObjectName("state");
    facts->addRow(state);
    auto* counts = new QLabel(countLine(PLB_IDS_UI_STREAMS, request.streams) + "    " +
                                  countLine(PLB_IDS_UI_VALID_STREAMS, request.validStreams),
                              this);
    counts->setObjectName("counts");
    facts->addRow(counts);
    layout->addLayout(facts);

    auto* list = new QTreeWidget(this);
    list->setObjectName("plugins");
    list->setRootIsDecorated(false);
    list->setHeaderLabels({tableText(PLB_IDS_UI_PLUGIN_NAME), tableText(PLB_IDS_UI_ANALYSIS),
                           tableText(PLB_IDS_UI_VERSION), tableText(PLB_IDS_UI_STATUS)});
    QStyle* look = style();
    for (const tamlib::AdoptRequest::Plugin& plugin : request.plugins) {
        auto* row = new QTreeWidgetItem(
            list, {q(plugin.name), q(plugin.analysisVersion), q(plugin.installedVersion), q(plugin.status)});
        // What the installed plugin handles: discs (with or without files), files, or nothing.
        if (plugin.disc)
            row->setIcon(0, look->standardIcon(QStyle::SP_DriveCDIcon));
        else if (plugin.files)
            row->setIcon(0, look->standardIcon(QStyle::SP_FileIcon));
        else
            row->setIcon(0, look->standardIcon(QStyle::SP_MessageBoxWarning));
        if (plugin.disc && plugin.files)
            row->setToolTip(0, tableText(PLB_IDS_UI_FILE) + " + CD-ROM");
    }
    fitColumns(list);
    layout->addWidget(list);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    QPushButton* adopt = addAnswer(tableText(PLB_IDS_UI_ADOPT), tamlib::AdoptAnswer::Adopt, "adopt");
    QPushButton* second =
        request.twoRecords
            ? addAnswer(tableText(PLB_IDS_UI_ADOPT_LOCAL), tamlib::AdoptAnswer::Local, "adoptLocal")
            : addAnswer(tableText(PLB_IDS_UI_SEARCH_SERVER), tamlib::AdoptAnswer::Server, "searchServer");
    if (!request.twoRecords)
        second->setEnabled(request.serverEnabled);
    QPushButton* analyze = addAnswer(tableText(PLB_IDS_UI_ANALYZE), tamlib::AdoptAnswer::Analyze, "analyze");
    for (QPushButton* button : {adopt, second, analyze})
        buttons->addWidget(button);
    layout->addLayout(buttons);
    // The default answer's button takes Enter; closing the dialog gives the same answer.
    QPushButton* preferred = request.defaultAnswer == tamlib::AdoptAnswer::Adopt     ? adopt
                             : request.defaultAnswer == tamlib::AdoptAnswer::Analyze ? analyze
                                                                                     : second;
    if (!preferred->isEnabled()) {
        preferred = analyze;
        m_answer = tamlib::AdoptAnswer::Analyze;
    }
    preferred->setDefault(true);
    preferred->setFocus();
}

QPushButton* AdoptDialog::addAnswer(const QString& text, tamlib::AdoptAnswer answer, const char* name)
{
    auto* button = new QPushButton(text, this);
    button->setObjectName(name);
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [this, answer] {
        m_answer = answer;
        accept();
    });
    return button;
}

// ---- plugin choice ----

PluginChoiceDialog::PluginChoiceDialog(const tamlib::PluginChoiceRequest& request, QWidget* parent)
    : QDialog(parent), m_rows(request.rows)
{
    setObjectName("pluginChoiceDialog");
    setWindowTitle(q(request.caption));
    auto* layout = new QHBoxLayout(this);
    m_list = new QTreeWidget(this);
    m_list->setObjectName("plugins");
    m_list->setRootIsDecorated(false);
    m_list->setHeaderLabels({tableText(PLB_IDS_UI_PLUGIN_NAME), tableText(PLB_IDS_UI_FILE)});
    for (size_t i = 0; i < m_rows.size(); ++i) {
        auto* row = new QTreeWidgetItem(m_list, {q(m_rows[i].name), q(m_rows[i].file)});
        row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
        row->setCheckState(0, m_rows[i].checked ? Qt::Checked : Qt::Unchecked);
        row->setData(0, Qt::UserRole, int(i));
        const QString description = pluginDescription(m_rows[i].file);
        row->setData(1, Qt::UserRole, description);
        row->setToolTip(0, description);
        row->setToolTip(1, description);
    }
    fitColumns(m_list);
    // The name takes 13/20 of the width and the file the rest, once both fit.
    const int width = std::max(m_list->minimumWidth(), 420);
    m_list->setMinimumWidth(width);
    m_list->setColumnWidth(0, std::max(m_list->columnWidth(0), width * 13 / 20));
    auto* listSide = new QVBoxLayout;
    listSide->addWidget(m_list, 1);
    // The selected plugin's own description.
    m_description = new QLabel(this);
    m_description->setObjectName("description");
    m_description->setWordWrap(true);
    m_description->setMinimumHeight(fontMetrics().lineSpacing() * 4);
    m_description->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_description->setFrameShape(QFrame::StyledPanel);
    listSide->addWidget(m_description);
    layout->addLayout(listSide, 1);

    auto* side = new QVBoxLayout;
    auto* start = new QPushButton(tableText(PLB_IDS_UI_START), this);
    start->setObjectName("start");
    start->setDefault(true);
    auto* cancel = new QPushButton(q(tamlib::answerName(PLB_IDCANCEL)), this);
    cancel->setObjectName("cancel");
    m_up = new QPushButton(tableText(PLB_IDS_UI_UP), this);
    m_up->setObjectName("up");
    m_down = new QPushButton(tableText(PLB_IDS_UI_DOWN), this);
    m_down->setObjectName("down");
    for (QPushButton* button : {start, cancel})
        side->addWidget(button);
    side->addSpacing(16);
    side->addWidget(m_up);
    side->addWidget(m_down);
    side->addStretch();
    layout->addLayout(side);

    connect(start, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_up, &QPushButton::clicked, this, [this] { move(-1); });
    connect(m_down, &QPushButton::clicked, this, [this] { move(1); });
    connect(m_list, &QTreeWidget::currentItemChanged, this, [this] { updateButtons(); });
    if (m_list->topLevelItemCount() > 0)
        m_list->setCurrentItem(m_list->topLevelItem(0));
    updateButtons();
}

void PluginChoiceDialog::move(int by)
{
    QTreeWidgetItem* row = m_list->currentItem();
    if (!row)
        return;
    const int from = m_list->indexOfTopLevelItem(row);
    const int to = from + by;
    if (to < 0 || to >= m_list->topLevelItemCount())
        return;
    m_list->takeTopLevelItem(from); // the item keeps its check state
    m_list->insertTopLevelItem(to, row);
    m_list->setCurrentItem(row);
    updateButtons();
}

void PluginChoiceDialog::updateButtons()
{
    const int at = m_list->currentItem() ? m_list->indexOfTopLevelItem(m_list->currentItem()) : -1;
    m_description->setText(at >= 0 ? m_list->currentItem()->data(1, Qt::UserRole).toString() : QString());
    m_up->setEnabled(at > 0);
    m_down->setEnabled(at >= 0 && at + 1 < m_list->topLevelItemCount());
}

std::vector<tamlib::PluginChoiceRequest::Row> PluginChoiceDialog::rows() const
{
    std::vector<tamlib::PluginChoiceRequest::Row> rows;
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = m_list->topLevelItem(i);
        tamlib::PluginChoiceRequest::Row row = m_rows[size_t(item->data(0, Qt::UserRole).toInt())];
        row.checked = item->checkState(0) == Qt::Checked;
        rows.push_back(std::move(row));
    }
    return rows;
}

// ---- progress ----

ProgressDialog::ProgressDialog(const QString& caption, uint64_t total, std::atomic<bool>& stop,
                               QWidget* parent)
    : QDialog(parent), m_stop(stop), m_total(total)
{
    setObjectName("progressDialog");
    setWindowTitle(caption);
    setWindowFlag(Qt::WindowCloseButtonHint, false);
    auto* layout = new QGridLayout(this);
    m_count = new QLabel("0%", this);
    m_count->setObjectName("count");
    m_bar = new QProgressBar(this);
    m_bar->setObjectName("bar");
    // The bar counts in sectors; a very long disc is shown in coarser steps.
    m_bar->setRange(0, int(std::min<uint64_t>(total, INT32_MAX)));
    m_bar->setValue(0);
    m_bar->setTextVisible(false);
    m_elapsed = new QLabel(this);
    m_elapsed->setObjectName("elapsed");
    m_remaining = new QLabel(this);
    m_remaining->setObjectName("remaining");
    m_stopButton = new QPushButton(tableText(PLB_IDS_UI_STOP), this);
    m_stopButton->setObjectName("stop");
    layout->addWidget(new QLabel(tableText(PLB_IDS_UI_PROGRESS), this), 0, 0);
    layout->addWidget(m_count, 0, 1);
    layout->addWidget(m_bar, 1, 0, 1, 3);
    layout->addWidget(new QLabel(tableText(PLB_IDS_UI_ELAPSED), this), 2, 0);
    layout->addWidget(m_elapsed, 2, 1);
    layout->addWidget(m_remaining, 3, 1);
    layout->addWidget(m_stopButton, 0, 2, Qt::AlignRight);
    layout->setColumnStretch(1, 1);
    setMinimumWidth(420);
    connect(m_stopButton, &QPushButton::clicked, this, [this] {
        m_stop = true;
        m_stopButton->setEnabled(false);
    });
}

void ProgressDialog::showState(const tamlib::ProgressState& state)
{
    m_count->setText(q(state.count));
    const uint64_t done = std::min(state.done, m_total);
    m_bar->setValue(m_total > uint64_t(INT32_MAX) ? int(done * uint64_t(INT32_MAX) / m_total) : int(done));
    m_elapsed->setText(q(state.elapsed));
    m_remaining->setText(q(state.remaining));
}

void ProgressDialog::finish()
{
    m_finished = true;
    done(QDialog::Accepted);
}

void ProgressDialog::reject()
{
    // Escape does not end a running analysis: STOP does.
    if (m_finished)
        QDialog::reject();
}

void ProgressDialog::closeEvent(QCloseEvent* event)
{
    if (m_finished)
        QDialog::closeEvent(event);
    else
        event->ignore();
}

// ---- end of the analysis ----

AnalysisDoneDialog::AnalysisDoneDialog(const tamlib::AnalysisDoneRequest& request, QWidget* parent)
    : QDialog(parent)
{
    setObjectName("analysisDoneDialog");
    setWindowTitle(q(request.caption));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(messageLabel(request.message, this));
    auto* fields = new QFormLayout;
    m_title = new QLineEdit(q(request.title), this);
    m_title->setObjectName("title");
    m_title->setMaxLength(PLB_CDAZ_TITLE_BYTES - 1);
    m_prefix = new QLineEdit(q(request.prefix), this);
    m_prefix->setObjectName("prefix");
    m_prefix->setMaxLength(PLB_CDAZ_PREFIX_BYTES - 1);
    m_title->setMinimumWidth(fontMetrics().horizontalAdvance(QString(40, 'M')));
    fields->addRow(tableText(PLB_IDS_UI_CD_TITLE), m_title);
    fields->addRow(tableText(PLB_IDS_UI_PREFIX), m_prefix);
    layout->addLayout(fields);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* complete = buttons->addButton(tableText(PLB_IDS_UI_COMPLETE), QDialogButtonBox::AcceptRole);
    complete->setObjectName("complete");
    complete->setDefault(true);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    m_title->setFocus();
    m_title->selectAll();
}

// The record keeps both texts in fixed fields: they are cut on whole characters to fit.
std::string AnalysisDoneDialog::title() const
{
    return cutUtf8(m_title->text(), PLB_CDAZ_TITLE_BYTES - 1);
}

std::string AnalysisDoneDialog::prefix() const
{
    return cutUtf8(m_prefix->text(), PLB_CDAZ_PREFIX_BYTES - 1);
}

// ---- AVI codec ----

CodecDialog::CodecDialog(const tamlib::CodecChoiceRequest& request, QWidget* parent)
    : QDialog(parent), m_request(request)
{
    setObjectName("codecDialog");
    setWindowTitle(tableText(PLB_IDS_UI_CODEC_CAPTION));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QGridLayout;
    m_codec = new QComboBox(this);
    m_codec->setObjectName("codec");
    m_codec->addItem(tableText(PLB_IDS_AVI_NO_COMPRESSION), -1);
    for (size_t i = 0; i < request.codecs.size(); ++i) {
        const tamlib::CodecChoiceRequest::Codec& codec = request.codecs[i];
        const QString text = codec.description.empty() ? q(codec.name) : q(codec.description);
        m_codec->addItem(text, int(i));
    }
    const int current =
        request.codec >= 0 && size_t(request.codec) < request.codecs.size() ? request.codec + 1 : 0;
    m_codec->setCurrentIndex(current);
    form->addWidget(new QLabel(tableText(PLB_IDS_UI_COMPRESSOR), this), 0, 0);
    form->addWidget(m_codec, 0, 1, 1, 2);

    m_keyOn = new QCheckBox(tableText(PLB_IDS_UI_KEY_FRAME), this);
    m_keyOn->setObjectName("keyFrameOn");
    m_keyEvery = new QSpinBox(this);
    m_keyEvery->setObjectName("keyFrameEvery");
    m_keyEvery->setRange(1, 9999);
    m_keyEvery->setSuffix(" " + tableText(PLB_IDS_UI_FRAMES));
    form->addWidget(m_keyOn, 1, 0);
    form->addWidget(m_keyEvery, 1, 1);

    m_quality = new QSpinBox(this);
    m_quality->setObjectName("quality");
    m_quality->setRange(1, 10000);
    form->addWidget(new QLabel(tableText(PLB_IDS_UI_QUALITY), this), 2, 0);
    form->addWidget(m_quality, 2, 1);

    m_rateOn = new QCheckBox(tableText(PLB_IDS_UI_DATA_RATE), this);
    m_rateOn->setObjectName("dataRateOn");
    m_rate = new QSpinBox(this);
    m_rate->setObjectName("dataRate");
    m_rate->setRange(1, 1 << 20);
    m_rate->setSuffix(" " + tableText(PLB_IDS_UI_KB_PER_SECOND));
    form->addWidget(m_rateOn, 3, 0);
    form->addWidget(m_rate, 3, 1);
    form->setColumnStretch(2, 1);
    layout->addLayout(form);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(q(tamlib::answerName(PLB_IDOK)), QDialogButtonBox::AcceptRole);
    ok->setObjectName("ok");
    ok->setDefault(true);
    QPushButton* cancel =
        buttons->addButton(q(tamlib::answerName(PLB_IDCANCEL)), QDialogButtonBox::RejectRole);
    cancel->setObjectName("cancel");
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_codec, &QComboBox::currentIndexChanged, this, [this] { codecChanged(); });
    connect(m_keyOn, &QCheckBox::toggled, m_keyEvery, &QWidget::setEnabled);
    connect(m_rateOn, &QCheckBox::toggled, m_rate, &QWidget::setEnabled);

    // The preset, where it names one; the codec's defaults otherwise.
    codecChanged();
    if (request.keyFrameEvery) {
        m_keyOn->setChecked(true);
        m_keyEvery->setValue(int(std::min<uint32_t>(request.keyFrameEvery, 9999)));
    }
    if (request.quality)
        m_quality->setValue(int(std::clamp<uint32_t>(request.quality, 1, 10000)));
    if (request.dataRateKb) {
        m_rateOn->setChecked(true);
        m_rate->setValue(int(std::min<uint32_t>(request.dataRateKb, 1 << 20)));
    }
}

void CodecDialog::codecChanged()
{
    const int index = m_codec->currentData().toInt();
    const bool codec = index >= 0;
    if (codec) {
        const tamlib::CodecChoiceRequest::Codec& chosen = m_request.codecs[size_t(index)];
        m_keyOn->setChecked(chosen.keyFrameEvery != 0);
        m_keyEvery->setValue(int(std::clamp<uint32_t>(chosen.keyFrameEvery, 1, 9999)));
        m_quality->setValue(int(std::clamp<uint32_t>(chosen.quality ? chosen.quality : 7500, 1, 10000)));
    }
    // Uncompressed frames have no settings.
    m_keyOn->setEnabled(codec);
    m_keyEvery->setEnabled(codec && m_keyOn->isChecked());
    m_quality->setEnabled(codec);
    m_rateOn->setEnabled(codec);
    m_rate->setEnabled(codec && m_rateOn->isChecked());
}

void CodecDialog::store(tamlib::CodecChoiceRequest& request) const
{
    request.codec = m_codec->currentData().toInt();
    if (request.codec < 0) {
        request.keyFrameEvery = 0;
        request.quality = 0;
        request.dataRateKb = 0;
        return;
    }
    request.keyFrameEvery = m_keyOn->isChecked() ? uint32_t(m_keyEvery->value()) : 0;
    request.quality = uint32_t(m_quality->value());
    request.dataRateKb = m_rateOn->isChecked() ? uint32_t(m_rate->value()) : 0;
}

} // namespace tamlibui
