// The batch conversion dialog: converts the entries of the stream list one after the other on a
// worker thread (libtamlib's batch driver) and shows the current item, its progress, the elapsed
// time and the learned estimate of the whole. Stop, closing the window or Escape ask the batch to
// stop; the dialog closes when the worker has ended. While the main window is hidden or
// minimised the dialog's title carries the progress and the time left.
#pragma once

#include <QDialog>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "conversion_settings.h"
#include "tamlib/batch.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QThread;

namespace tamlib {
class ScopedUiPort;
}
namespace tamlibui {
class QtUiPort;
}

namespace tamrin {

// The choices the options file keeps for the batch.
struct BatchChoices
{
    bool lowPriority = true;   // the worker runs below other programs
    bool alwaysOnTop = false;  // the dialog stays above other windows
    int32_t existing = PLB_EXISTING_ASK;
};

class BatchDialog : public QDialog
{
    Q_OBJECT
  public:
    enum class Outcome
    {
        Completed, // every entry to convert was visited
        Cancelled,
        Nothing, // no entry was to be converted
    };
    // An entry's item ended: its result, and whether it is marked done.
    using ItemEnded = std::function<void(size_t entry, int32_t result, bool marked)>;

    // Converts the entries not done with a type, modal to `owner`, and returns when the dialog
    // has closed. The entries receive their results and done marks; `choices` receives the
    // priority and always-on-top choices as the user left them.
    static Outcome run(QWidget* owner, std::vector<ConversionEntry>& entries,
                       const TypeSettings (&types)[PLB_CONV_TYPES], BatchChoices& choices,
                       const ItemEnded& ended = {});

    // A dialog for `items`, the batch items of the entries numbered `entries`; started by
    // start() (or exec()). Items the batch refuses (no output path) fail with the type's
    // output-file result without being tried.
    BatchDialog(QWidget* owner, std::vector<tamlib::batch::Item> items, std::vector<size_t> entries,
                const BatchChoices& choices);
    ~BatchDialog() override;

    // Starts the worker; false when it already ran or runs.
    bool start();
    bool running() const;
    bool cancelled() const;
    BatchChoices choices() const;
    const tamlib::batch::Batch& batch() const { return *m_batch; }
    // The entries refused before the run, with their result.
    const std::vector<std::pair<size_t, int32_t>>& refused() const { return m_refused; }
    // Every item of the run was visited.
    bool completed() const { return m_outcome == tamlib::batch::Batch::Outcome::Completed; }

    int exec() override;
    void reject() override;

  signals:
    void itemEnded(qulonglong entry, int result, bool marked);

  protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    struct Status
    {
        PlbBatchStatus event{};
        std::string source;
        std::string output;
    };

    void post(const PlbBatchStatus& status);
    void drain();
    void show(const Status& status);
    void finished();
    void applyPriority();
    void refreshTitle();
    QString progressTitle() const;

    std::unique_ptr<tamlib::batch::Batch> m_batch;
    std::vector<size_t> m_entries; // of each batch item
    std::vector<std::pair<size_t, int32_t>> m_refused;
    BatchChoices m_choices;
    QWidget* m_owner;
    QThread* m_thread = nullptr;
    tamlib::batch::Batch::Outcome m_outcome = tamlib::batch::Batch::Outcome::Busy;
    bool m_started = false;
    bool m_ownerHiddenByUs = false;

    std::mutex m_lock; // guards m_pending
    std::deque<Status> m_pending;

    Status m_last; // the newest progress shown
    std::unique_ptr<tamlibui::QtUiPort> m_port;
    std::unique_ptr<tamlib::ScopedUiPort> m_portScope;

    QLabel* m_source;
    QLabel* m_output;
    QLabel* m_count;
    QLabel* m_percent;
    QProgressBar* m_itemBar;
    QProgressBar* m_overallBar;
    QLabel* m_elapsed;
    QLabel* m_estimate;
    QRadioButton* m_low;
    QRadioButton* m_high;
    QCheckBox* m_onTop;
    QPushButton* m_stop;
};

} // namespace tamrin
