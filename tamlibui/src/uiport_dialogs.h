// The dialogs of the desktop port: built and run on the GUI thread only, by qt_ui_port.cpp.
// Buttons and fields carry object names so that tests and scripts can find them.
#pragma once

#include <QDialog>
#include <QPointer>

#include <atomic>

#include "tamlib/ui_port.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QComboBox;
class QSpinBox;
class QCheckBox;

namespace tamlibui {

// The adoption question: the record on view, its plugins, and three answers.
class AdoptDialog : public QDialog
{
    Q_OBJECT
  public:
    AdoptDialog(const tamlib::AdoptRequest& request, QWidget* parent);
    tamlib::AdoptAnswer answer() const { return m_answer; }

  private:
    QPushButton* addAnswer(const QString& text, tamlib::AdoptAnswer answer, const char* name);
    tamlib::AdoptAnswer m_answer;
};

// The plugin choice and order before a disc analysis.
class PluginChoiceDialog : public QDialog
{
    Q_OBJECT
  public:
    PluginChoiceDialog(const tamlib::PluginChoiceRequest& request, QWidget* parent);
    // The rows as shown, in order, with their check state.
    std::vector<tamlib::PluginChoiceRequest::Row> rows() const;

  private:
    void move(int by);
    void updateButtons();
    QTreeWidget* m_list = nullptr;
    QPushButton* m_up = nullptr;
    QPushButton* m_down = nullptr;
    QLabel* m_description = nullptr;
    std::vector<tamlib::PluginChoiceRequest::Row> m_rows; // the file of each row by its data index
};

// "Analyzing CD-ROM": count, bar, elapsed and remaining time, STOP. It cannot be closed while
// the analysis runs; the port closes it.
class ProgressDialog : public QDialog
{
    Q_OBJECT
  public:
    ProgressDialog(const QString& caption, uint64_t total, std::atomic<bool>& stop, QWidget* parent);
    void showState(const tamlib::ProgressState& state);
    void finish();

  protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;

  private:
    std::atomic<bool>& m_stop;
    uint64_t m_total;
    bool m_finished = false;
    QLabel* m_count = nullptr;
    QProgressBar* m_bar = nullptr;
    QLabel* m_elapsed = nullptr;
    QLabel* m_remaining = nullptr;
    QPushButton* m_stopButton = nullptr;
};

// The end of an analysis that found streams: the CD title and the stream title prefix.
class AnalysisDoneDialog : public QDialog
{
    Q_OBJECT
  public:
    AnalysisDoneDialog(const tamlib::AnalysisDoneRequest& request, QWidget* parent);
    std::string title() const;
    std::string prefix() const;

  private:
    QLineEdit* m_title = nullptr;
    QLineEdit* m_prefix = nullptr;
};

// The AVI video codec: uncompressed frames or one of the codecs, with its settings.
class CodecDialog : public QDialog
{
    Q_OBJECT
  public:
    CodecDialog(const tamlib::CodecChoiceRequest& request, QWidget* parent);
    // Writes the choice into `request`.
    void store(tamlib::CodecChoiceRequest& request) const;

  private:
    void codecChanged();
    const tamlib::CodecChoiceRequest& m_request;
    QComboBox* m_codec = nullptr;
    QCheckBox* m_keyOn = nullptr;
    QSpinBox* m_keyEvery = nullptr;
    QSpinBox* m_quality = nullptr;
    QCheckBox* m_rateOn = nullptr;
    QSpinBox* m_rate = nullptr;
};

// Text cut to whole characters so that its UTF-8 form takes at most `bytes` bytes.
std::string cutUtf8(const QString& text, int bytes);

} // namespace tamlibui
