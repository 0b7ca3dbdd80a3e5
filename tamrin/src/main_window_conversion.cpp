// The main window's conversion commands: the batch of the listed entries and the settings of the
// selected ones.
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QStyle>
#include <QTabWidget>
#include <QTreeWidget>

#include <algorithm>

#include "batch_dialog.h"
#include "conversion_page.h"
#include "conversion_settings.h"
#include "main_window.h"
#include "tamlib/analysis.h"
#include "tamlib/convert.h"
#include "tamlib/strings.h"
#include "tamlibui/viewer.h"

namespace tamrin {

namespace {

// Options flag: the batch dialog stays above other windows.
constexpr int16_t kBatchOnTop = 1;

ConversionEntry conversionEntryOf(const StreamEntry& e, const TamrinOptions& options)
{
    ConversionEntry c;
    c.source.plugin = tamlib::pluginBindName(e.plugin.toStdString());
    if (e.isDiscStream())
        c.source.title = e.title.toUtf8().toStdString(); // read from the drive chosen for the disc
    else
        c.source.file = QFile::encodeName(e.path).toStdString();
    c.source.info = e.info;
    const int type = int(e.conversion);
    c.type = type < PLB_CONV_TYPES ? type : PLB_CONV_TYPE_NONE;
    c.output = QFile::encodeName(e.output).toStdString();
    switch (c.type) {
    case PLB_CONV_TYPE_AVI:
        c.settings = recordBytes(e.avi ? *e.avi : aviRecord(options, e.info));
        break;
    case PLB_CONV_TYPE_WAVE:
        c.settings = recordBytes(e.wave ? *e.wave : waveRecord(options, e.info));
        break;
    case PLB_CONV_TYPE_MP3:
        c.settings = recordBytes(e.mp3 ? *e.mp3 : mp3Record(options, e.info));
        break;
    case PLB_CONV_TYPE_BMP:
        if (e.other)
            c.settings = recordBytes(*e.other);
        break;
    default:
        break; // CSTR and MIDI: the record holds the output path only
    }
    c.done = (e.done & 1) != 0;
    c.result = e.tried ? int32_t(e.lastResult) : -1;
    return c;
}

} // namespace

void MainWindow::createConversionCommands()
{
    m_conversionPage->setSelection([this] { return selectedEntries(); });
    connect(m_list, &QTreeWidget::itemSelectionChanged, m_conversionPage, &ConversionPage::refresh);
    connect(m_conversionPage, &ConversionPage::editSettingsRequested, this, [this] { editConversionSettings(); });
    connect(m_conversionPage, &ConversionPage::entriesChanged, this, [this] {
        for (QTreeWidgetItem* item : m_list->selectedItems())
            refreshRow(item);
    });
}

std::vector<StreamEntry*> MainWindow::selectedEntries() const
{
    std::vector<StreamEntry*> entries;
    for (int row = 0; row < m_list->topLevelItemCount(); ++row)
        if (m_list->topLevelItem(row)->isSelected())
            if (StreamEntry* e = entryAt(row))
                entries.push_back(e);
    return entries;
}

void MainWindow::showResult(QTreeWidgetItem* item, const StreamEntry& entry)
{
    if (!entry.tried) {
        item->setIcon(kColConversion, QIcon());
        item->setToolTip(kColConversion, QString());
        return;
    }
    char text[PLB_STRING_MAX];
    const QString message = QString::fromUtf8(PlbConvertResultText(entry.lastResult, text));
    const bool ok = entry.lastResult == PLB_CONV_OK;
    // Done and converted: a tick; tried and failed: a warning with the library's message.
    item->setIcon(kColConversion,
                  ok && (entry.done & 1) ? style()->standardIcon(QStyle::SP_DialogApplyButton)
                  : ok                   ? QIcon()
                                         : style()->standardIcon(QStyle::SP_MessageBoxWarning));
    item->setToolTip(kColConversion, message);
}

void MainWindow::startConversion()
{
    emit startConversionRequested();
    std::vector<ConversionEntry> entries;
    std::vector<QTreeWidgetItem*> rows;
    for (int row = 0; row < entryCount(); ++row) {
        const StreamEntry* e = entryAt(row);
        if (!e)
            continue;
        entries.push_back(conversionEntryOf(*e, *m_options));
        rows.push_back(m_list->topLevelItem(row));
    }
    TypeSettings types[PLB_CONV_TYPES];
    typeSettingsFromOptions(*m_options, types);
    BatchChoices choices;
    choices.lowPriority = m_options->batchPriority != kPriorityAbove;
    choices.alwaysOnTop = (m_options->flags & kBatchOnTop) != 0;
    choices.existing = m_options->existingFiles;

    const bool work = std::any_of(entries.begin(), entries.end(), [](const ConversionEntry& c) {
        return !c.done && c.type >= 0 && c.type < PLB_CONV_TYPES;
    });
    if (!work)
        return;
    // The preview's player and the batch would read the same disc: the preview stops first.
    m_viewer->closePlayer();
    m_previewItem = nullptr;

    // Each item's result shows on its row as soon as it ends (the list cannot change meanwhile:
    // the dialog is modal).
    auto record = [&](size_t index, int32_t result, bool marked) {
        if (index >= rows.size())
            return;
        StreamEntry* e = entryAt(m_list->indexOfTopLevelItem(rows[index]));
        if (!e)
            return;
        e->lastResult = uint16_t(result);
        e->tried = true;
        if (marked)
            e->done |= 1;
        refreshRow(rows[index]);
        if (rows[index] == m_list->currentItem())
            showInformation();
    };
    const BatchDialog::Outcome outcome = BatchDialog::run(this, entries, types, choices, record);
    if (outcome == BatchDialog::Outcome::Nothing)
        return;
    // Items refused before the run (no output name) carry their result too.
    for (size_t i = 0; i < entries.size(); ++i) {
        StreamEntry* e = entryAt(m_list->indexOfTopLevelItem(rows[i]));
        if (!e || entries[i].result < 0 || entries[i].cancelled)
            continue;
        if (!e->tried || e->lastResult != uint16_t(entries[i].result)) {
            e->lastResult = uint16_t(entries[i].result);
            e->tried = true;
            refreshRow(rows[i]);
        }
    }
    m_options->batchPriority = choices.lowPriority ? kPriorityBelow : kPriorityAbove;
    m_options->flags = int16_t(choices.alwaysOnTop ? (m_options->flags | kBatchOnTop)
                                                   : (m_options->flags & ~kBatchOnTop));
    m_options->existingFiles = choices.existing;
    m_conversionPage->refresh();
}

bool MainWindow::editConversionSettings()
{
    const std::vector<StreamEntry*> selection = selectedEntries();
    // The sound and picture entries' settings, then the movies' codec.
    bool changed = editEntrySettings(this, *m_options, selection);
    std::vector<StreamEntry*> movies;
    for (StreamEntry* e : selection)
        if (e->conversion == Conversion::Avi)
            movies.push_back(e);
    if (movies.empty()) {
        m_conversionPage->refresh();
        return changed;
    }
    // The codec chooser starts from the first entry's own choice, else the options'.
    PlbAviCompression chosen =
        movies.front()->avi ? movies.front()->avi->compression : m_options->aviCompression;
    if (PlbSetAVIOption(this, &chosen) != 1)
        return changed;
    for (StreamEntry* e : movies) {
        if (!e->avi)
            e->avi = aviRecord(*m_options, e->info);
        e->avi->compression = chosen;
    }
    m_conversionPage->refresh();
    return true;
}

} // namespace tamrin
