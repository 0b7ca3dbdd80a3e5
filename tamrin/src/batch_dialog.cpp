#include "batch_dialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>

#include "tamlib/environment.h"
#include "tamlib/ui_port.h"
#include "tamlibui/qt_ui_port.h"

namespace tamrin {

namespace {

// The dialog's own texts, English and Japanese as the library's tables.
struct Texts
{
    const char* title;
    const char* source;
    const char* output;
    const char* elapsed;
    const char* estimate;
    const char* priority;
    const char* low;
    const char* high;
    const char* onTop;
    const char* stop;
    const char* stopping;
    const char* leftOf;
};

constexpr Texts kEnglish{"Batch conversion", "Source:", "Output:", "Elapsed time:", "Estimated time:",
                         "Priority", "Below other programs", "Above other programs", "Always on top",
                         "Stop", "Stopping...", " Left of "};
constexpr Texts kJapanese{"一括変換", "変換元:", "出力先:", "経過時間:", "予想時間:", "優先度",
                          "他のプログラムより低く", "他のプログラムより高く", "常に手前に表示", "中止",
                          "中止しています...", " 残り "};

const Texts& texts()
{
    return PlbGetLanguage() == 1 ? kJapanese : kEnglish;
}

QString text(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

constexpr int kPathWidth = 420; // pixels of the source and output labels

// Seconds as hours, "%02d" minutes and "%02d" seconds.
QString clockText(uint32_t seconds)
{
    return QString::asprintf("%u:%02u:%02u", seconds / 3600, seconds / 60 % 60, seconds % 60);
}

// A path in a label of fixed width: shortened in the middle, whole in the tooltip.
void showPath(QLabel& label, const QString& path)
{
    label.setText(label.fontMetrics().elidedText(path, Qt::ElideMiddle, kPathWidth));
    label.setToolTip(path);
}

} // namespace

BatchDialog::Outcome BatchDialog::run(QWidget* owner, std::vector<ConversionEntry>& entries,
                                      const TypeSettings (&types)[PLB_CONV_TYPES], BatchChoices& choices,
                                      const ItemEnded& ended)
{
    std::vector<size_t> indexes;
    std::vector<tamlib::batch::Item> items = batchItems(entries, types, indexes);
    if (items.empty())
        return Outcome::Nothing;
    BatchDialog dialog(owner, std::move(items), std::move(indexes), choices);
    for (const auto& [entry, result] : dialog.refused())
        entries[entry].result = result;
    QObject::connect(&dialog, &BatchDialog::itemEnded, &dialog, [&](qulonglong entry, int result, bool marked) {
        ConversionEntry& changed = entries[size_t(entry)];
        changed.result = result;
        changed.done = changed.done || marked;
        if (ended)
            ended(size_t(entry), result, marked);
    });
    dialog.exec();
    // The worker has ended: which items it stopped under way (their converters answer a stop
    // with the result of a success, so the result alone does not tell).
    const std::vector<tamlib::batch::Item>& ran = dialog.batch().items();
    for (size_t i = 0; i < ran.size() && i < dialog.m_entries.size(); ++i)
        entries[dialog.m_entries[i]].cancelled = ran[i].cancelled;
    choices = dialog.choices();
    return dialog.completed() ? Outcome::Completed : Outcome::Cancelled;
}

BatchDialog::BatchDialog(QWidget* owner, std::vector<tamlib::batch::Item> items, std::vector<size_t> entries,
                         const BatchChoices& choices)
    : QDialog(owner), m_batch(std::make_unique<tamlib::batch::Batch>()), m_choices(choices), m_owner(owner)
{
    setObjectName("batchDialog");
    const Texts& t = texts();
    setWindowTitle(text(t.title));
    m_batch->setExisting(tamlib::batch::existingPolicy(choices.existing), this);
    for (size_t i = 0; i < items.size(); ++i) {
        const size_t entry = i < entries.size() ? entries[i] : i;
        const int32_t type = items[i].type;
        if (m_batch->add(std::move(items[i])))
            m_entries.push_back(entry);
        else
            m_refused.emplace_back(entry, outputFailure(type));
    }

    // The existing-file question needs the desktop port; a program that installed another one
    // gets it for the time of the dialog.
    if (!dynamic_cast<tamlibui::QtUiPort*>(&tamlib::uiPort())) {
        m_port = std::make_unique<tamlibui::QtUiPort>();
        m_portScope = std::make_unique<tamlib::ScopedUiPort>(*m_port);
    }

    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    auto label = [this](const char* name) {
        auto* made = new QLabel(this);
        made->setObjectName(name);
        made->setTextInteractionFlags(Qt::TextSelectableByMouse);
        return made;
    };
    m_source = label("source");
    m_output = label("output");
    m_count = label("count");
    m_percent = label("percent");
    m_elapsed = label("elapsed");
    m_estimate = label("estimate");
    m_source->setMinimumWidth(kPathWidth);
    m_output->setMinimumWidth(kPathWidth);
    grid->addWidget(new QLabel(text(t.source), this), 0, 0);
    grid->addWidget(m_source, 0, 1, 1, 2);
    grid->addWidget(new QLabel(text(t.output), this), 1, 0);
    grid->addWidget(m_output, 1, 1, 1, 2);
    m_itemBar = new QProgressBar(this);
    m_itemBar->setObjectName("itemBar");
    m_itemBar->setTextVisible(false);
    grid->addWidget(m_count, 2, 0);
    grid->addWidget(m_itemBar, 2, 1);
    grid->addWidget(m_percent, 2, 2);
    grid->addWidget(new QLabel(text(t.elapsed), this), 3, 0);
    grid->addWidget(m_elapsed, 3, 1);
    grid->addWidget(new QLabel(text(t.estimate), this), 4, 0);
    grid->addWidget(m_estimate, 4, 1);
    m_overallBar = new QProgressBar(this);
    m_overallBar->setObjectName("overallBar");
    m_overallBar->setTextVisible(false);
    grid->addWidget(m_overallBar, 5, 0, 1, 3);
    layout->addLayout(grid);

    auto* row = new QHBoxLayout;
    auto* priority = new QGroupBox(text(t.priority), this);
    auto* priorities = new QVBoxLayout(priority);
    m_low = new QRadioButton(text(t.low), priority);
    m_low->setObjectName("priorityLow");
    m_high = new QRadioButton(text(t.high), priority);
    m_high->setObjectName("priorityHigh");
    priorities->addWidget(m_low);
    priorities->addWidget(m_high);
    row->addWidget(priority);
    auto* right = new QVBoxLayout;
    m_onTop = new QCheckBox(text(t.onTop), this);
    m_onTop->setObjectName("alwaysOnTop");
    m_stop = new QPushButton(text(t.stop), this);
    m_stop->setObjectName("stop");
    right->addWidget(m_onTop);
    right->addStretch();
    right->addWidget(m_stop);
    row->addLayout(right);
    layout->addLayout(row);

    // A fresh batch: both bars at nothing, the saved choices ticked.
    m_itemBar->setRange(0, 100);
    m_itemBar->setValue(0);
    m_overallBar->setRange(0, 100);
    m_overallBar->setValue(0);
    m_elapsed->setText(clockText(0));
    m_estimate->setText(QString());
    (m_choices.lowPriority ? m_low : m_high)->setChecked(true);
    m_onTop->setChecked(m_choices.alwaysOnTop);
    setWindowFlag(Qt::WindowStaysOnTopHint, m_choices.alwaysOnTop);

    connect(m_low, &QRadioButton::toggled, this, [this](bool low) {
        m_choices.lowPriority = low;
        applyPriority();
    });
    connect(m_onTop, &QCheckBox::toggled, this, [this](bool on) {
        m_choices.alwaysOnTop = on;
        const bool shown = isVisible();
        setWindowFlag(Qt::WindowStaysOnTopHint, on);
        if (shown)
            QDialog::show(); // changing the flags hides the window
    });
    connect(m_stop, &QPushButton::clicked, this, &BatchDialog::reject);
}

BatchDialog::~BatchDialog()
{
    // Never leave the worker running over a dialog that is gone.
    if (m_thread) {
        m_batch->cancel();
        m_thread->wait();
        delete m_thread;
    }
    if (m_ownerHiddenByUs && m_owner)
        m_owner->show();
}

bool BatchDialog::start()
{
    if (m_started)
        return false;
    m_started = true;
    m_thread = QThread::create([this] {
        m_outcome = m_batch->run([this](const PlbBatchStatus& status) { post(status); });
    });
    connect(m_thread, &QThread::finished, this, &BatchDialog::finished, Qt::QueuedConnection);
    m_thread->start(m_choices.lowPriority ? QThread::LowestPriority : QThread::HighestPriority);
    return true;
}

bool BatchDialog::running() const
{
    return m_thread && !m_thread->isFinished();
}

bool BatchDialog::cancelled() const
{
    return m_batch->cancelRequested();
}

BatchChoices BatchDialog::choices() const
{
    return m_choices;
}

int BatchDialog::exec()
{
    start();
    return QDialog::exec();
}

void BatchDialog::reject()
{
    if (!running()) {
        QDialog::reject();
        return;
    }
    // The worker stops at its converter's next report; the dialog closes when it has ended.
    m_batch->cancel();
    m_stop->setEnabled(false);
    m_stop->setText(text(texts().stopping));
}

void BatchDialog::closeEvent(QCloseEvent* event)
{
    if (running()) {
        event->ignore();
        reject();
        return;
    }
    QDialog::closeEvent(event);
}

void BatchDialog::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || !m_owner)
        return;
    // Minimising the dialog puts the whole program away; restoring it brings the main window back.
    if (isMinimized() && m_owner->isVisible()) {
        m_owner->hide();
        m_ownerHiddenByUs = true;
    } else if (!isMinimized() && m_ownerHiddenByUs) {
        m_owner->show();
        m_ownerHiddenByUs = false;
    }
    refreshTitle();
}

void BatchDialog::applyPriority()
{
    if (running())
        m_thread->setPriority(m_choices.lowPriority ? QThread::LowestPriority : QThread::HighestPriority);
}

// Worker thread: the newest state is queued for the dialog; progress reports that the dialog has
// not shown yet are replaced, so that a fast converter never floods the event loop.
void BatchDialog::post(const PlbBatchStatus& status)
{
    Status copy;
    copy.event = status;
    copy.source = status.source ? status.source : "";
    copy.output = status.output ? status.output : "";
    copy.event.source = nullptr;
    copy.event.output = nullptr;
    bool wake = false;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        if (!m_pending.empty() && status.event == PLB_BATCH_PROGRESS &&
            m_pending.back().event.event == PLB_BATCH_PROGRESS && !m_pending.back().event.estimateChanged)
            m_pending.back() = std::move(copy);
        else
            m_pending.push_back(std::move(copy));
        wake = m_pending.size() == 1;
    }
    if (wake)
        QMetaObject::invokeMethod(this, &BatchDialog::drain, Qt::QueuedConnection);
}

void BatchDialog::drain()
{
    std::deque<Status> pending;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        pending.swap(m_pending);
    }
    for (const Status& status : pending)
        show(status);
}

void BatchDialog::show(const Status& status)
{
    const PlbBatchStatus& s = status.event;
    switch (s.event) {
    case PLB_BATCH_ITEM_START:
        m_last = status;
        showPath(*m_source, QString::fromStdString(status.source));
        showPath(*m_output, QString::fromStdString(status.output));
        m_count->setText(QString::asprintf("%u/%u", s.itemNumber, s.itemCount));
        m_percent->setText(QStringLiteral("0%"));
        m_itemBar->setRange(0, int(std::min<uint32_t>(s.total ? s.total : 100, INT32_MAX)));
        m_itemBar->setValue(0);
        break;
    case PLB_BATCH_PROGRESS: {
        m_last.event = s;
        m_elapsed->setText(clockText(s.elapsedMs / 1000));
        m_percent->setText(QString::asprintf("%u%%", s.percent));
        const int total = int(std::min<uint32_t>(s.total, INT32_MAX));
        if (total > 0 && m_itemBar->maximum() != total)
            m_itemBar->setRange(0, total);
        m_itemBar->setValue(int(std::min<uint32_t>(s.done, uint32_t(std::max(total, 0)))));
        if (s.estimateChanged && s.estimateSeconds) {
            m_estimate->setText(clockText(s.estimateSeconds));
            m_overallBar->setRange(0, int(std::min<uint32_t>(s.estimateSeconds, INT32_MAX)));
        }
        if (s.estimateSeconds)
            m_overallBar->setValue(int(std::min<uint32_t>(s.elapsedMs / 1000, uint32_t(m_overallBar->maximum()))));
        refreshTitle();
        break;
    }
    case PLB_BATCH_ITEM_END:
        if (s.index >= 0 && size_t(s.index) < m_entries.size())
            emit itemEnded(qulonglong(m_entries[size_t(s.index)]), s.result, s.marked != 0);
        break;
    default:
        break;
    }
}

void BatchDialog::finished()
{
    if (!m_thread)
        return;
    m_thread->wait();
    drain(); // what the worker told last
    if (cancelled())
        QDialog::reject();
    else
        accept();
}

QString BatchDialog::progressTitle() const
{
    const PlbBatchStatus& s = m_last.event;
    // The part of the expected total time that has gone, in tenths of a percent.
    const uint64_t expected = uint64_t(s.remainingMs) + s.elapsedMs;
    const uint64_t permille = expected ? std::min<uint64_t>(uint64_t(s.elapsedMs) * 1000 / expected, 1000) : 0;
    const QString name = QFileInfo(QString::fromStdString(m_last.output)).fileName();
    return QString::asprintf("%u.%u%%[%u/%u] ", unsigned(permille / 10), unsigned(permille % 10), s.itemNumber,
                             s.itemCount) +
           name + text(texts().leftOf) + QString::fromStdString(tamlib::batch::remainingText(s.remainingMs));
}

void BatchDialog::refreshTitle()
{
    const bool away = m_owner && (m_owner->isHidden() || m_owner->isMinimized());
    if (away && m_last.event.itemCount != 0)
        setWindowTitle(progressTitle());
    else
        setWindowTitle(text(texts().title));
}

} // namespace tamrin
