// The "Convertion" page of the main window: what the selected entries are converted to, where
// their outputs go, and the settings of each type that the options record keeps (output folders,
// AVI codec and sound, WAVE format, MP3 encoder choices, existing files, batch priority).
#pragma once

#include <QWidget>

#include <functional>
#include <vector>

#include "options_file.h"
#include "stream_entry.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTreeWidget;
class QVBoxLayout;

namespace tamrin {

// Lets the user set the WAVE format, the MP3 bit rate and channel mode and the BMP size of the
// WAVE, MP3 and BMP entries among `entries`; on OK each of them gets its own record (made from the
// options' defaults first). False when there is no such entry or the dialog was cancelled.
bool editEntrySettings(QWidget* parent, const TamrinOptions& options, const std::vector<StreamEntry*>& entries);

class ConversionPage : public QWidget
{
    Q_OBJECT
  public:
    explicit ConversionPage(TamrinOptions& options, QWidget* parent = nullptr);

    // Where the page finds the selected entries whenever it needs them (the entries belong to the
    // list's rows, so the page never keeps them).
    void setSelection(std::function<std::vector<StreamEntry*>()> selection);
    // Shows the conversion of `entries` (the selection; empty: none).
    void showEntries(const std::vector<StreamEntry*>& entries);
    // Shows the selection again and the settings as the options record has them.
    void refresh();

    // The output path of an entry: its own, else the default name in its type's folder; empty
    // for an entry without a conversion or without a name that fits.
    QString outputName(const StreamEntry& entry) const;

  signals:
    // The conversion or output of the entries on show was changed.
    void entriesChanged();
    // The compression settings of the selection are to be edited (the window's command).
    void editSettingsRequested();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void buildSelection(QVBoxLayout* layout);
    void buildFolders(QVBoxLayout* layout);
    void buildAvi(QVBoxLayout* layout);
    void buildWave(QVBoxLayout* layout);
    void buildMp3(QVBoxLayout* layout);
    void buildBatch(QVBoxLayout* layout);
    void loadSettings();
    void showCodec();
    void onTypeChosen(int index);
    void onOutputEdited();
    void onBrowseOutput();
    std::vector<StreamEntry*> selected() const;

    TamrinOptions& m_options;
    std::function<std::vector<StreamEntry*>()> m_selection;
    std::vector<StreamEntry*> m_shown; // valid during showEntries only
    bool m_loading = false;
    bool m_mp3Available = false;

    QLabel* m_summary;
    QTreeWidget* m_entries;
    QComboBox* m_type;
    QLineEdit* m_output;
    QPushButton* m_browseOutput;
    QPushButton* m_compression;
    std::vector<std::pair<QLineEdit*, char*>> m_folders;
    QLabel* m_codec;
    QCheckBox* m_aviNoAudio;
    QComboBox* m_aviChannels;
    QComboBox* m_aviBits;
    QComboBox* m_aviRate;
    QComboBox* m_waveChannels;
    QComboBox* m_waveBits;
    QComboBox* m_waveRate;
    QWidget* m_mp3Group;
    QComboBox* m_mp3BitRate;
    QComboBox* m_mp3Format;
    QComboBox* m_mp3ChannelMode;
    std::vector<std::pair<QCheckBox*, int>> m_mp3Switches;
    QComboBox* m_mp3VbrLowest;
    QComboBox* m_mp3VbrHighest;
    QSpinBox* m_mp3LowPassFirst;
    QSpinBox* m_mp3LowPassSecond;
    QComboBox* m_mp3Emphasis;
    QComboBox* m_existing;
    QComboBox* m_priority;
};

} // namespace tamrin
