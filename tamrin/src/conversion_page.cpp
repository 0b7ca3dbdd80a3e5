#include "conversion_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <set>

#include "conversion_settings.h"
#include "tamlib/convert.h"
#include "tamlibui/qt_ui_port.h"

namespace tamrin {

namespace {

constexpr int kMp3Rates[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 192, 224, 256, 320};

// A combo box of (text, value) choices.
QComboBox* choices(const QString& name, const std::vector<std::pair<QString, int>>& items)
{
    auto* combo = new QComboBox;
    combo->setObjectName(name);
    for (const auto& [text, value] : items)
        combo->addItem(text, value);
    return combo;
}

// Selects the choice of `value`; a stored value the list does not offer is added, so that
// showing the page never changes what the record holds.
void selectValue(QComboBox* combo, int value)
{
    int index = combo->findData(value);
    if (index < 0) {
        combo->addItem(QString::number(value), value);
        index = combo->count() - 1;
    }
    combo->setCurrentIndex(index);
}

int valueOf(const QComboBox* combo)
{
    return combo->currentData().toInt();
}

std::vector<std::pair<QString, int>> channelChoices()
{
    return {{QObject::tr("As the source"), 0}, {QObject::tr("Mono"), 1}, {QObject::tr("Stereo"), 2}};
}

std::vector<std::pair<QString, int>> bitChoices()
{
    return {{QObject::tr("As the source"), 0}, {QObject::tr("8 bits"), 8}, {QObject::tr("16 bits"), 16}};
}

std::vector<std::pair<QString, int>> rateChoices()
{
    std::vector<std::pair<QString, int>> rates{{QObject::tr("As the source"), 0}};
    for (int rate : {11025, 18900, 22050, 32000, 37800, 44100, 48000})
        rates.emplace_back(QString("%1 Hz").arg(rate), rate);
    return rates;
}

QString folderText(const char* field, size_t size)
{
    size_t length = 0;
    while (length < size && field[length])
        ++length;
    return QFile::decodeName(QByteArray(field, qsizetype(length)));
}

QGroupBox* group(const QString& title, const QString& name)
{
    auto* box = new QGroupBox(title);
    box->setObjectName(name);
    return box;
}

} // namespace

ConversionPage::ConversionPage(TamrinOptions& options, QWidget* parent)
    : QWidget(parent), m_options(options), m_mp3Available(PlbIsGogo(nullptr, nullptr) != 0)
{
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    buildSelection(layout);
    buildFolders(layout);
    buildAvi(layout);
    buildWave(layout);
    buildMp3(layout);
    buildBatch(layout);
    layout->addStretch();

    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(content);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);
    loadSettings();
    showEntries({});
}

// ---- the selected entries ----------------------------------------------------------------------

void ConversionPage::buildSelection(QVBoxLayout* layout)
{
    QGroupBox* box = group(tr("Selected streams"), "selection");
    auto* form = new QVBoxLayout(box);
    m_summary = new QLabel;
    m_summary->setObjectName("summary");
    m_entries = new QTreeWidget;
    m_entries->setObjectName("entries");
    m_entries->setColumnCount(3);
    m_entries->setHeaderLabels({tr("Stream"), tr("Convertion"), tr("Output file")});
    m_entries->setRootIsDecorated(false);
    m_entries->setSelectionMode(QAbstractItemView::NoSelection);
    m_entries->setMaximumHeight(110);
    m_entries->header()->setStretchLastSection(true);

    m_type = new QComboBox;
    m_type->setObjectName("conversionType");
    for (int type = 0; type < kConversionCount; ++type) {
        if (type == int(Conversion::Mp3) && !m_mp3Available)
            continue;
        m_type->addItem(tamlibui::tableText(conversionType(Conversion(type)).displayId), type);
    }
    connect(m_type, &QComboBox::activated, this, &ConversionPage::onTypeChosen);

    m_output = new QLineEdit;
    m_output->setObjectName("outputPath");
    connect(m_output, &QLineEdit::editingFinished, this, &ConversionPage::onOutputEdited);
    m_browseOutput = new QPushButton(tr("Browse..."));
    m_browseOutput->setObjectName("browseOutput");
    connect(m_browseOutput, &QPushButton::clicked, this, &ConversionPage::onBrowseOutput);
    m_compression = new QPushButton(tr("Compression settings..."));
    m_compression->setObjectName("compression");
    connect(m_compression, &QPushButton::clicked, this, &ConversionPage::editSettingsRequested);

    auto* typeRow = new QHBoxLayout;
    typeRow->addWidget(new QLabel(tr("Convert to")));
    typeRow->addWidget(m_type, 1);
    typeRow->addWidget(m_compression);
    auto* outputRow = new QHBoxLayout;
    outputRow->addWidget(new QLabel(tr("Output file")));
    outputRow->addWidget(m_output, 1);
    outputRow->addWidget(m_browseOutput);
    form->addWidget(m_summary);
    form->addWidget(m_entries);
    form->addLayout(typeRow);
    form->addLayout(outputRow);
    layout->addWidget(box);
}

void ConversionPage::setSelection(std::function<std::vector<StreamEntry*>()> selection)
{
    m_selection = std::move(selection);
    refresh();
}

std::vector<StreamEntry*> ConversionPage::selected() const
{
    return m_selection ? m_selection() : m_shown;
}

void ConversionPage::refresh()
{
    loadSettings();
    showEntries(selected());
}

QString ConversionPage::outputName(const StreamEntry& entry) const
{
    if (!entry.output.isEmpty())
        return entry.output;
    const auto type = int32_t(entry.conversion);
    if (type < 0 || type >= PLB_CONV_TYPES)
        return {};
    TypeSettings settings;
    settings.folder = typeFolder(m_options, type);
    settings.mp3Format = uint16_t(m_options.mp3Format);
    std::set<std::string> taken;
    const std::string title = entry.isDiscStream() ? entry.title.toUtf8().toStdString() : std::string();
    const std::string file = entry.isDiscStream() ? std::string() : QFile::encodeName(entry.path).toStdString();
    return QFile::decodeName(QByteArray::fromStdString(defaultOutputPath(type, settings, title, file, taken)));
}

void ConversionPage::showEntries(const std::vector<StreamEntry*>& entries)
{
    m_shown = entries;
    m_entries->clear();
    for (const StreamEntry* entry : entries) {
        auto* row = new QTreeWidgetItem(m_entries);
        row->setText(0, entry->title);
        row->setText(1, tamlibui::tableText(conversionType(entry->conversion).displayId));
        row->setText(2, outputName(*entry));
    }
    m_entries->resizeColumnToContents(0);
    m_summary->setText(entries.empty() ? tr("No stream is selected.")
                                       : tr("%n stream(s) selected", nullptr, int(entries.size())));

    const bool one = entries.size() == 1;
    m_type->setEnabled(!entries.empty());
    if (!entries.empty()) {
        const int index = m_type->findData(int(entries.front()->conversion));
        m_type->setCurrentIndex(index);
    }
    // One entry's own output path can be chosen; the default shows as the placeholder.
    m_output->setEnabled(one && entries.front()->conversion != Conversion::None);
    m_browseOutput->setEnabled(m_output->isEnabled());
    m_output->setText(one ? entries.front()->output : QString());
    m_output->setPlaceholderText(one ? outputName(*entries.front()) : QString());
    // AVI, WAVE, MP3 and BMP entries have settings of their own.
    bool settings = false;
    for (const StreamEntry* entry : entries)
        settings = settings || entry->conversion == Conversion::Avi || entry->conversion == Conversion::Wave ||
                   entry->conversion == Conversion::Mp3 || entry->conversion == Conversion::Bmp;
    m_compression->setEnabled(settings);
}

void ConversionPage::showEvent(QShowEvent* event)
{
    // The options may have been changed elsewhere (the settings dialog) since last shown.
    refresh();
    QWidget::showEvent(event);
}

void ConversionPage::onTypeChosen(int index)
{
    const auto type = Conversion(m_type->itemData(index).toInt());
    for (StreamEntry* entry : selected())
        if (conversionAllowed(type, entry->info.kind))
            entry->conversion = type;
    emit entriesChanged();
    showEntries(selected());
}

void ConversionPage::onOutputEdited()
{
    const std::vector<StreamEntry*> entries = selected();
    if (entries.size() != 1 || entries.front()->output == m_output->text().trimmed())
        return;
    entries.front()->output = m_output->text().trimmed();
    emit entriesChanged();
    showEntries(entries);
}

void ConversionPage::onBrowseOutput()
{
    const std::vector<StreamEntry*> entries = selected();
    if (entries.size() != 1)
        return;
    const QString extension = QString::fromLatin1(conversionType(entries.front()->conversion).extension);
    const QString path = QFileDialog::getSaveFileName(this, tr("Output file"), outputName(*entries.front()),
                                                      QString("*.%1").arg(extension));
    if (path.isEmpty())
        return;
    m_output->setText(path);
    onOutputEdited();
}

// ---- the settings of the options record --------------------------------------------------------

void ConversionPage::buildFolders(QVBoxLayout* layout)
{
    QGroupBox* box = group(tr("Output folders"), "folders");
    auto* form = new QFormLayout(box);
    const std::pair<QString, char*> folders[] = {
        {"AVI", m_options.aviFolder},    {tr("WAVE / MIDI"), m_options.waveFolder},
        {"MP3", m_options.mp3Folder},    {"CSTR", m_options.cstrFolder},
        {"BMP", m_options.bmpFolder},
    };
    const char* names[] = {"aviFolder", "waveFolder", "mp3Folder", "cstrFolder", "bmpFolder"};
    for (size_t i = 0; i < std::size(folders); ++i) {
        auto* edit = new QLineEdit;
        edit->setObjectName(names[i]);
        char* field = folders[i].second;
        connect(edit, &QLineEdit::editingFinished, this, [this, edit, field] {
            const QByteArray local = QFile::encodeName(edit->text().trimmed());
            // A folder too long for its field is refused: the stored one stays.
            if (local.size() < qsizetype(kFolderBytes) && !local.contains('\0')) {
                std::fill(field, field + kFolderBytes, '\0');
                std::copy(local.begin(), local.end(), field);
            }
            edit->setText(folderText(field, kFolderBytes));
            showEntries(selected());
        });
        auto* browse = new QPushButton(tr("Browse..."));
        browse->setObjectName(QString(names[i]) + "Browse");
        connect(browse, &QPushButton::clicked, this, [this, edit] {
            const QString folder = QFileDialog::getExistingDirectory(this, tr("Output folder"), edit->text());
            if (folder.isEmpty())
                return;
            edit->setText(folder);
            emit edit->editingFinished();
        });
        auto* row = new QHBoxLayout;
        row->addWidget(edit, 1);
        row->addWidget(browse);
        form->addRow(folders[i].first, row);
        m_folders.emplace_back(edit, field);
    }
    layout->addWidget(box);
}

void ConversionPage::buildAvi(QVBoxLayout* layout)
{
    QGroupBox* box = group("AVI", "aviSettings");
    auto* form = new QFormLayout(box);
    m_codec = new QLabel;
    m_codec->setObjectName("aviCodec");
    auto* choose = new QPushButton(tr("Codec..."));
    choose->setObjectName("chooseCodec");
    connect(choose, &QPushButton::clicked, this, [this] {
        PlbAviCompression chosen = m_options.aviCompression;
        if (PlbSetAVIOption(this, &chosen) == 1)
            m_options.aviCompression = chosen;
        showCodec();
    });
    auto* codecRow = new QHBoxLayout;
    codecRow->addWidget(m_codec, 1);
    codecRow->addWidget(choose);
    form->addRow(tr("Video codec"), codecRow);
    m_aviNoAudio = new QCheckBox(tr("No audio track"));
    m_aviNoAudio->setObjectName("aviNoAudio");
    form->addRow(QString(), m_aviNoAudio);
    m_aviChannels = choices("aviChannels", channelChoices());
    m_aviBits = choices("aviBits", bitChoices());
    m_aviRate = choices("aviRate", rateChoices());
    form->addRow(tr("Channels"), m_aviChannels);
    form->addRow(tr("Bits per sample"), m_aviBits);
    form->addRow(tr("Sample rate"), m_aviRate);
    connect(m_aviNoAudio, &QCheckBox::toggled, this, [this](bool on) {
        if (!m_loading)
            m_options.aviNoAudio = on ? 1 : 0;
    });
    auto store = [this] {
        if (m_loading)
            return;
        m_options.aviChannels = uint8_t(valueOf(m_aviChannels));
        m_options.aviBitsPerSample = int16_t(valueOf(m_aviBits));
        m_options.aviSampleRate = valueOf(m_aviRate);
    };
    for (QComboBox* combo : {m_aviChannels, m_aviBits, m_aviRate})
        connect(combo, &QComboBox::currentIndexChanged, this, store);
    layout->addWidget(box);
}

void ConversionPage::buildWave(QVBoxLayout* layout)
{
    QGroupBox* box = group("WAVE", "waveSettings");
    auto* form = new QFormLayout(box);
    m_waveChannels = choices("waveChannels", channelChoices());
    m_waveBits = choices("waveBits", bitChoices());
    m_waveRate = choices("waveRate", rateChoices());
    form->addRow(tr("Channels"), m_waveChannels);
    form->addRow(tr("Bits per sample"), m_waveBits);
    form->addRow(tr("Sample rate"), m_waveRate);
    auto store = [this] {
        if (m_loading)
            return;
        m_options.waveChannels = uint8_t(valueOf(m_waveChannels));
        m_options.waveBitsPerSample = int16_t(valueOf(m_waveBits));
        m_options.waveSampleRate = valueOf(m_waveRate);
    };
    for (QComboBox* combo : {m_waveChannels, m_waveBits, m_waveRate})
        connect(combo, &QComboBox::currentIndexChanged, this, store);
    layout->addWidget(box);
}

void ConversionPage::buildMp3(QVBoxLayout* layout)
{
    QGroupBox* box = group("MP3", "mp3Settings");
    m_mp3Group = box;
    auto* form = new QFormLayout(box);
    std::vector<std::pair<QString, int>> rates;
    for (int rate : kMp3Rates)
        rates.emplace_back(QString("%1 kbps").arg(rate), rate);
    for (int quality = 0; quality <= 9; ++quality) {
        QString label = QString("VBR(%1) ").arg(quality);
        if (quality == 0)
            label += tr("highest quality");
        else if (quality == 9)
            label += tr("highest compression");
        rates.emplace_back(label, PLB_MP3_VBR | quality);
    }
    m_mp3BitRate = choices("mp3BitRate", rates);
    m_mp3Format = choices("mp3Format", {{"Normal Format", 0}, {"RIFF/WAVE Format", 1}, {"RIFF/RMP Format", 2}});
    m_mp3ChannelMode = choices("mp3ChannelMode", {{"Mono", 0},
                                                  {"Stereo", 1},
                                                  {"Joint Stereo", 2},
                                                  {"Mid/Side Stereo", 3},
                                                  {"Dual Channel", 4}});
    std::vector<std::pair<QString, int>> cbr;
    for (int rate : kMp3Rates)
        cbr.emplace_back(QString("%1 kbps").arg(rate), rate);
    m_mp3VbrLowest = choices("mp3VbrLowest", cbr);
    m_mp3VbrHighest = choices("mp3VbrHighest", cbr);
    m_mp3LowPassFirst = new QSpinBox;
    m_mp3LowPassFirst->setObjectName("mp3LowPassFirst");
    m_mp3LowPassSecond = new QSpinBox;
    m_mp3LowPassSecond->setObjectName("mp3LowPassSecond");
    for (QSpinBox* spin : {m_mp3LowPassFirst, m_mp3LowPassSecond})
        spin->setRange(0, 32767);
    m_mp3Emphasis = choices("mp3Emphasis", {{tr("none"), 0}, {"50/15ms", 1}, {"CCITT", 3}});

    form->addRow(tr("Bit rate"), m_mp3BitRate);
    form->addRow(tr("Format"), m_mp3Format);
    form->addRow(tr("Channel mode"), m_mp3ChannelMode);
    const std::pair<QString, int> switches[] = {
        {tr("Psycho-acoustic analysis"), PLB_MP3_PSYCHO},
        {tr("Low-pass filter at 128 kbit/s and below"), PLB_MP3_LOWPASS_128},
        {tr("Allow MMX"), 0x10},
        {tr("Allow 3DNow!"), 0x20},
        {tr("Allow SSE"), 0x40},
        {tr("Allow enhanced 3DNow!"), 0x80},
        {tr("Keep the variable bit rate within the range"), PLB_MP3_VBR_RANGE},
        {tr("User low-pass filter"), PLB_MP3_USER_LOWPASS},
    };
    auto* grid = new QVBoxLayout;
    for (const auto& [text, bit] : switches) {
        auto* check = new QCheckBox(text);
        check->setObjectName(QString("mp3Switch%1").arg(bit, 4, 16, QChar('0')));
        grid->addWidget(check);
        m_mp3Switches.emplace_back(check, bit);
        connect(check, &QCheckBox::toggled, this, [this, bit](bool on) {
            if (!m_loading)
                m_options.mp3Switches = int16_t(on ? (m_options.mp3Switches | bit) : (m_options.mp3Switches & ~bit));
        });
    }
    form->addRow(tr("Switches"), grid);
    auto* range = new QHBoxLayout;
    range->addWidget(m_mp3VbrLowest);
    range->addWidget(new QLabel("-"));
    range->addWidget(m_mp3VbrHighest);
    form->addRow(tr("VBR range"), range);
    auto* lowPass = new QHBoxLayout;
    lowPass->addWidget(m_mp3LowPassFirst);
    lowPass->addWidget(m_mp3LowPassSecond);
    form->addRow(tr("Low-pass filter"), lowPass);
    form->addRow(tr("Emphasis"), m_mp3Emphasis);

    auto store = [this] {
        if (m_loading)
            return;
        m_options.mp3BitRate = int16_t(valueOf(m_mp3BitRate));
        m_options.mp3Format = int16_t(valueOf(m_mp3Format));
        m_options.mp3ChannelMode = int16_t(valueOf(m_mp3ChannelMode));
        m_options.mp3VbrLowest = int16_t(valueOf(m_mp3VbrLowest));
        m_options.mp3VbrHighest = int16_t(valueOf(m_mp3VbrHighest));
        m_options.mp3LowPassFirst = int16_t(m_mp3LowPassFirst->value());
        m_options.mp3LowPassSecond = int16_t(m_mp3LowPassSecond->value());
        m_options.mp3Emphasis = int16_t(valueOf(m_mp3Emphasis));
        showEntries(selected()); // the format decides an MP3 output's extension
    };
    for (QComboBox* combo : {m_mp3BitRate, m_mp3Format, m_mp3ChannelMode, m_mp3VbrLowest, m_mp3VbrHighest,
                             m_mp3Emphasis})
        connect(combo, &QComboBox::currentIndexChanged, this, store);
    for (QSpinBox* spin : {m_mp3LowPassFirst, m_mp3LowPassSecond})
        connect(spin, &QSpinBox::valueChanged, this, store);
    box->setEnabled(m_mp3Available);
    if (!m_mp3Available)
        box->setToolTip(tr("The MP3 encoder is not installed."));
    layout->addWidget(box);
}

void ConversionPage::buildBatch(QVBoxLayout* layout)
{
    QGroupBox* box = group(tr("Batch conversion"), "batchSettings");
    auto* form = new QFormLayout(box);
    m_existing = choices("existingFiles", {{tr("Overwrite"), kExistingOverwrite},
                                           {tr("Skip"), kExistingSkip},
                                           {tr("Ask"), kExistingAsk}});
    m_priority = choices("batchPriority",
                         {{tr("Below other programs"), kPriorityBelow}, {tr("Above other programs"), kPriorityAbove}});
    form->addRow(tr("Existing output files"), m_existing);
    form->addRow(tr("Priority"), m_priority);
    connect(m_existing, &QComboBox::currentIndexChanged, this, [this] {
        if (!m_loading)
            m_options.existingFiles = valueOf(m_existing);
    });
    connect(m_priority, &QComboBox::currentIndexChanged, this, [this] {
        if (!m_loading)
            m_options.batchPriority = valueOf(m_priority);
    });
    layout->addWidget(box);
}

void ConversionPage::loadSettings()
{
    m_loading = true;
    for (auto& [edit, field] : m_folders)
        edit->setText(folderText(field, kFolderBytes));
    showCodec();
    m_aviNoAudio->setChecked(m_options.aviNoAudio != 0);
    selectValue(m_aviChannels, m_options.aviChannels);
    selectValue(m_aviBits, m_options.aviBitsPerSample);
    selectValue(m_aviRate, m_options.aviSampleRate);
    selectValue(m_waveChannels, m_options.waveChannels);
    selectValue(m_waveBits, m_options.waveBitsPerSample);
    selectValue(m_waveRate, m_options.waveSampleRate);
    selectValue(m_mp3BitRate, uint16_t(m_options.mp3BitRate));
    selectValue(m_mp3Format, m_options.mp3Format);
    selectValue(m_mp3ChannelMode, m_options.mp3ChannelMode);
    for (auto& [check, bit] : m_mp3Switches)
        check->setChecked((m_options.mp3Switches & bit) != 0);
    selectValue(m_mp3VbrLowest, m_options.mp3VbrLowest);
    selectValue(m_mp3VbrHighest, m_options.mp3VbrHighest);
    m_mp3LowPassFirst->setValue(m_options.mp3LowPassFirst);
    m_mp3LowPassSecond->setValue(m_options.mp3LowPassSecond);
    selectValue(m_mp3Emphasis, m_options.mp3Emphasis);
    selectValue(m_existing, m_options.existingFiles);
    selectValue(m_priority, m_options.batchPriority);
    m_loading = false;
}

void ConversionPage::showCodec()
{
    PlbAviCodecInfo info{};
    PlbGetAVIOptionInfo(&m_options.aviCompression, &info);
    info.description[sizeof info.description - 1] = '\0';
    m_codec->setText(QString::fromUtf8(info.description));
}

// ---- an entry's own settings ---------------------------------------------------------------------

bool editEntrySettings(QWidget* parent, const TamrinOptions& options, const std::vector<StreamEntry*>& entries)
{
    std::vector<StreamEntry*> wave, mp3, bmp;
    for (StreamEntry* e : entries) {
        if (e->conversion == Conversion::Wave)
            wave.push_back(e);
        else if (e->conversion == Conversion::Mp3)
            mp3.push_back(e);
        else if (e->conversion == Conversion::Bmp)
            bmp.push_back(e);
    }
    if (wave.empty() && mp3.empty() && bmp.empty())
        return false;

    QDialog dialog(parent);
    dialog.setObjectName("entrySettingsDialog");
    dialog.setWindowTitle(ConversionPage::tr("Compression settings"));
    auto* layout = new QVBoxLayout(&dialog);
    // Each section starts from the first entry's own record, else the options' record for it.
    const PlbWaveSettings wavePreset = wave.empty() ? PlbWaveSettings{}
                                       : wave.front()->wave ? *wave.front()->wave
                                                            : waveRecord(options, wave.front()->info);
    const PlbMp3Settings mp3Preset = mp3.empty() ? PlbMp3Settings{}
                                     : mp3.front()->mp3 ? *mp3.front()->mp3
                                                        : mp3Record(options, mp3.front()->info);
    const PlbBitmapSettings bmpPreset = bmp.empty() || !bmp.front()->other ? PlbBitmapSettings{} : *bmp.front()->other;

    QComboBox *waveChannels = nullptr, *waveBits = nullptr, *waveRate = nullptr;
    if (!wave.empty()) {
        QGroupBox* box = group("WAVE", "waveSettings");
        auto* form = new QFormLayout(box);
        waveChannels = choices("waveChannels", {{QObject::tr("Mono"), 1}, {QObject::tr("Stereo"), 2}});
        waveBits = choices("waveBits", {{QObject::tr("8 bits"), 8}, {QObject::tr("16 bits"), 16}});
        auto rates = rateChoices();
        rates.erase(rates.begin()); // a record holds the rate itself
        waveRate = choices("waveRate", rates);
        selectValue(waveChannels, wavePreset.channels);
        selectValue(waveBits, wavePreset.bitsPerSample);
        selectValue(waveRate, int(wavePreset.sampleRate));
        form->addRow(ConversionPage::tr("Channels"), waveChannels);
        form->addRow(ConversionPage::tr("Bits per sample"), waveBits);
        form->addRow(ConversionPage::tr("Sample rate"), waveRate);
        layout->addWidget(box);
    }
    QComboBox *mp3BitRate = nullptr, *mp3ChannelMode = nullptr;
    if (!mp3.empty()) {
        QGroupBox* box = group("MP3", "mp3Settings");
        auto* form = new QFormLayout(box);
        std::vector<std::pair<QString, int>> rates;
        for (int rate : kMp3Rates)
            rates.emplace_back(QString("%1 kbps").arg(rate), rate);
        for (int quality = 0; quality <= 9; ++quality)
            rates.emplace_back(QString("VBR(%1) ").arg(quality), PLB_MP3_VBR | quality);
        mp3BitRate = choices("mp3BitRate", rates);
        mp3ChannelMode = choices("mp3ChannelMode", {{"Mono", 0},
                                                    {"Stereo", 1},
                                                    {"Joint Stereo", 2},
                                                    {"Mid/Side Stereo", 3},
                                                    {"Dual Channel", 4}});
        selectValue(mp3BitRate, mp3Preset.bitRate);
        selectValue(mp3ChannelMode, mp3Preset.channelMode);
        form->addRow(ConversionPage::tr("Bit rate"), mp3BitRate);
        form->addRow(ConversionPage::tr("Channel mode"), mp3ChannelMode);
        layout->addWidget(box);
    }
    QSpinBox *bmpWidth = nullptr, *bmpHeight = nullptr;
    if (!bmp.empty()) {
        QGroupBox* box = group("BMP", "bmpSettings");
        auto* form = new QFormLayout(box);
        bmpWidth = new QSpinBox;
        bmpWidth->setObjectName("bmpWidth");
        bmpHeight = new QSpinBox;
        bmpHeight->setObjectName("bmpHeight");
        for (QSpinBox* spin : {bmpWidth, bmpHeight}) {
            spin->setRange(0, 4096); // the largest picture the converter writes
            spin->setSpecialValueText(ConversionPage::tr("The picture's size"));
        }
        bmpWidth->setValue(int(bmpPreset.width));
        bmpHeight->setValue(int(bmpPreset.height));
        form->addRow(ConversionPage::tr("Width"), bmpWidth);
        form->addRow(ConversionPage::tr("Height"), bmpHeight);
        layout->addWidget(box);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("ok");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("cancel");
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return false;

    for (StreamEntry* e : wave) {
        if (!e->wave)
            e->wave = waveRecord(options, e->info);
        e->wave->channels = uint16_t(valueOf(waveChannels));
        e->wave->bitsPerSample = uint16_t(valueOf(waveBits));
        e->wave->sampleRate = uint32_t(valueOf(waveRate));
    }
    for (StreamEntry* e : mp3) {
        if (!e->mp3)
            e->mp3 = mp3Record(options, e->info);
        e->mp3->bitRate = uint16_t(valueOf(mp3BitRate));
        e->mp3->channelMode = uint16_t(valueOf(mp3ChannelMode));
    }
    for (StreamEntry* e : bmp) {
        if (!e->other)
            e->other = PlbBitmapSettings{};
        e->other->width = uint32_t(bmpWidth->value());
        e->other->height = uint32_t(bmpHeight->value());
    }
    return true;
}

} // namespace tamrin
