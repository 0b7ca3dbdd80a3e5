// The desktop port: messages and questions as modal Qt dialogs on the GUI thread, the analysis'
// progress posted to its dialog without waiting.
#include "tamlibui/qt_ui_port.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <mutex>
#include <system_error>
#include <thread>

#include "tamlib/strings.h"
#include "tamlibui/gui_thread.h"
#include "uiport_dialogs.h"

namespace tamlibui {

namespace {

// The owner that tamlibui::analyzeCd names for the dialogs the port opens without a window.
QPointer<QWidget> g_analysisOwner;

bool haveGui()
{
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

QMessageBox::Icon iconOf(uint32_t type)
{
    switch (type & PLB_MB_ICONS) {
    case PLB_MB_ICONERROR:
        return QMessageBox::Critical;
    case PLB_MB_ICONQUESTION:
        return QMessageBox::Question;
    case PLB_MB_ICONWARNING:
        return QMessageBox::Warning;
    case PLB_MB_ICONINFORMATION:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

QWidget* widgetOf(void* window)
{
    if (!window)
        return nullptr;
    // The handle may be stale: only a widget that still exists is used.
    const QWidgetList widgets = QApplication::allWidgets();
    for (QWidget* widget : widgets)
        if (static_cast<void*>(widget) == window)
            return widget;
    return nullptr;
}

} // namespace

QString tableText(uint32_t id)
{
    char text[PLB_STRING_MAX];
    return QString::fromUtf8(PlbLoadString(nullptr, text, id));
}

QWidget* ownerWindow(void* window)
{
    if (QWidget* widget = widgetOf(window))
        return widget->window();
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    if (g_analysisOwner)
        return g_analysisOwner->window();
    return QApplication::activeWindow();
}

// What the analysis' threads and the GUI thread share while the progress dialog is up. Queued
// updates hold it too, so that one arriving after the port is gone finds it still there.
struct ProgressChannel
{
    std::atomic<bool> stop{false};
    std::mutex lock;
    tamlib::ProgressState pending;
    bool posted = false;
    QPointer<ProgressDialog> dialog; // GUI thread only
};

struct QtUiPort::State
{
    std::shared_ptr<ProgressChannel> progress = std::make_shared<ProgressChannel>();

    // The parent of a dialog: the running analysis' dialog owns every box shown meanwhile.
    QWidget* parentFor(void* window) const
    {
        if (progress->dialog && progress->dialog->isVisible())
            return progress->dialog;
        return ownerWindow(window);
    }
};

QtUiPort::QtUiPort() : m_state(std::make_unique<State>()) {}

QtUiPort::~QtUiPort()
{
    if (haveGui())
        runOnGuiThread([this] { delete m_state->progress->dialog.data(); });
}

QDialog* QtUiPort::progressDialog() const
{
    return m_state->progress->dialog;
}

int32_t QtUiPort::message(const tamlib::MessageRequest& request)
{
    if (!haveGui())
        return tamlib::defaultAnswer(request.type);
    return runOnGuiThread([&]() -> int32_t {
        QMessageBox box(iconOf(request.type), QString::fromStdString(request.caption),
                        QString::fromStdString(request.text), QMessageBox::NoButton,
                        m_state->parentFor(request.window));
        box.setObjectName("messageBox");
        const std::vector<int32_t> answers = tamlib::answersOf(request.type);
        const int32_t preferred = tamlib::defaultAnswer(request.type);
        std::vector<std::pair<QAbstractButton*, int32_t>> buttons;
        bool canCancel = false;
        for (int32_t answer : answers) {
            // One role for all keeps the buttons in the box type's order.
            QPushButton* button =
                box.addButton(QString::fromStdString(tamlib::answerName(answer)), QMessageBox::ActionRole);
            button->setObjectName(QString("answer%1").arg(answer));
            buttons.emplace_back(button, answer);
            if (answer == preferred)
                box.setDefaultButton(button);
            if (answer == PLB_IDCANCEL) {
                box.setEscapeButton(button);
                canCancel = true;
            }
        }
        if (buttons.size() == 1)
            box.setEscapeButton(buttons.front().first);
        if (request.type & PLB_MB_ICONS)
            QApplication::beep();
        box.exec();
        for (const auto& [button, answer] : buttons)
            if (box.clickedButton() == button)
                return answer;
        // Closed without a button: Cancel where the box has one, else its default.
        return canCancel ? PLB_IDCANCEL : preferred;
    });
}

int32_t QtUiPort::choose(const tamlib::ChoiceRequest& request)
{
    if (!haveGui() || request.items.empty())
        return request.current >= 0 && size_t(request.current) < request.items.size() ? request.current : -1;
    return runOnGuiThread([&]() -> int32_t {
        QDialog dialog(m_state->parentFor(request.window));
        dialog.setObjectName("choiceDialog");
        dialog.setWindowTitle(QString::fromStdString(request.caption));
        auto* layout = new QVBoxLayout(&dialog);
        auto* list = new QListWidget(&dialog);
        list->setObjectName("items");
        for (const std::string& item : request.items)
            list->addItem(QString::fromStdString(item));
        list->setCurrentRow(
            request.current >= 0 && size_t(request.current) < request.items.size() ? request.current : 0);
        list->setMinimumWidth(std::min(list->sizeHintForColumn(0) + 48, 800));
        layout->addWidget(list);
        auto* buttons = new QDialogButtonBox(&dialog);
        QPushButton* ok = buttons->addButton(QString::fromStdString(tamlib::answerName(PLB_IDOK)),
                                             QDialogButtonBox::AcceptRole);
        ok->setObjectName("ok");
        ok->setDefault(true);
        buttons
            ->addButton(QString::fromStdString(tamlib::answerName(PLB_IDCANCEL)),
                        QDialogButtonBox::RejectRole)
            ->setObjectName("cancel");
        layout->addWidget(buttons);
        QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
        QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
        QObject::connect(list, &QListWidget::itemDoubleClicked, &dialog, &QDialog::accept);
        if (dialog.exec() != QDialog::Accepted || list->currentRow() < 0)
            return -1;
        return list->currentRow();
    });
}

void QtUiPort::setItemText(void* dialog, int32_t item, const std::string& text)
{
    if (!haveGui())
        return;
    runOnGuiThread([&] {
        QWidget* window = widgetOf(dialog);
        if (!window)
            return;
        const QString value = QString::fromStdString(text);
        for (QWidget* child : window->findChildren<QWidget*>()) {
            const QVariant number = child->property(kItemProperty);
            if (!number.isValid() || number.toInt() != item)
                continue;
            if (auto* label = qobject_cast<QLabel*>(child))
                label->setText(value);
            else if (auto* button = qobject_cast<QAbstractButton*>(child))
                button->setText(value);
            else if (auto* edit = qobject_cast<QLineEdit*>(child))
                edit->setText(value);
        }
    });
}

tamlib::AdoptAnswer QtUiPort::adoptCdaz(const tamlib::AdoptRequest& request)
{
    if (!haveGui())
        return request.defaultAnswer;
    return runOnGuiThread([&] {
        AdoptDialog dialog(request, m_state->parentFor(request.window));
        QApplication::beep();
        dialog.exec();
        return dialog.answer();
    });
}

bool QtUiPort::choosePlugins(tamlib::PluginChoiceRequest& request)
{
    if (!haveGui())
        return UiPort::choosePlugins(request);
    return runOnGuiThread([&] {
        PluginChoiceDialog dialog(request, m_state->parentFor(request.window));
        if (dialog.exec() != QDialog::Accepted)
            return false;
        request.rows = dialog.rows();
        return true;
    });
}

void QtUiPort::beginProgress(const std::string& caption, uint64_t total)
{
    std::shared_ptr<ProgressChannel> channel = m_state->progress;
    channel->stop = false;
    {
        std::lock_guard<std::mutex> hold(channel->lock);
        channel->pending = {};
        channel->posted = false;
    }
    if (!haveGui())
        return;
    runOnGuiThread([&] {
        delete channel->dialog.data();
        auto* dialog =
            new ProgressDialog(QString::fromStdString(caption), total, channel->stop, ownerWindow(nullptr));
        dialog->setWindowModality(Qt::ApplicationModal);
        dialog->setAttribute(Qt::WA_DeleteOnClose, false);
        channel->dialog = dialog;
        dialog->show();
    });
}

void QtUiPort::updateProgress(const tamlib::ProgressState& state)
{
    std::shared_ptr<ProgressChannel> channel = m_state->progress;
    {
        std::lock_guard<std::mutex> hold(channel->lock);
        channel->pending = state;
        // One update on its way at a time: the worker never waits for the GUI thread, and a
        // busy GUI thread gets the newest state, not a queue of old ones.
        if (channel->posted)
            return;
        channel->posted = true;
    }
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    QMetaObject::invokeMethod(
        app,
        [channel] {
            tamlib::ProgressState shown;
            {
                std::lock_guard<std::mutex> hold(channel->lock);
                shown = channel->pending;
                channel->posted = false;
            }
            if (channel->dialog)
                channel->dialog->showState(shown);
        },
        Qt::QueuedConnection);
}

void QtUiPort::endProgress()
{
    std::shared_ptr<ProgressChannel> channel = m_state->progress;
    if (!haveGui())
        return;
    runOnGuiThread([&] {
        if (ProgressDialog* dialog = channel->dialog) {
            dialog->finish();
            channel->dialog = nullptr;
            dialog->deleteLater();
        }
    });
}

bool QtUiPort::stopRequested()
{
    return m_state->progress->stop.load();
}

void QtUiPort::analysisDone(tamlib::AnalysisDoneRequest& request)
{
    if (!haveGui())
        return;
    runOnGuiThread([&] {
        AnalysisDoneDialog dialog(request, m_state->parentFor(request.window));
        QApplication::beep();
        if (dialog.exec() != QDialog::Accepted)
            return;
        request.title = dialog.title();
        request.prefix = dialog.prefix();
    });
}

bool QtUiPort::chooseVideoCodec(tamlib::CodecChoiceRequest& request)
{
    if (!haveGui())
        return false;
    return runOnGuiThread([&] {
        CodecDialog dialog(request, m_state->parentFor(request.window));
        if (dialog.exec() != QDialog::Accepted)
            return false;
        dialog.store(request);
        return true;
    });
}

CdazRecord* analyzeCd(QWidget* owner, const tamlib::AnalysisOptions& options)
{
    if (!onGuiThread())
        return tamlib::analyzeCd(owner, options);
    const QPointer<QWidget> previousOwner = g_analysisOwner;
    g_analysisOwner = owner;
    CdazRecord* record = nullptr;
    QEventLoop loop;
    std::atomic<bool> finished{false};
    std::thread worker;
    try {
        worker = std::thread([&] {
            record = tamlib::analyzeCd(owner, options);
            finished = true;
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
    } catch (const std::system_error&) {
        g_analysisOwner = previousOwner;
        char text[PLB_STRING_MAX];
        PlbError(owner, PLB_MB_OK, "%s", PlbLoadString(nullptr, text, PLB_IDS_ANA_THREAD_FAILED));
        return nullptr;
    }
    // The analysis' dialogs run on this thread meanwhile, inside this loop.
    while (!finished)
        loop.exec();
    worker.join();
    g_analysisOwner = previousOwner;
    return record;
}

} // namespace tamlibui
