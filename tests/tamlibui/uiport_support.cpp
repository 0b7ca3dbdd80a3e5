#include "uiport_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPointer>
#include <QTimer>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>

#include "discport/discport.h"
#include "tamlib/environment.h"

namespace uitest {

namespace fs = std::filesystem;

namespace {

std::optional<std::string> swapVariable(const char* name, const std::optional<std::string>& value)
{
    std::optional<std::string> old;
    if (const char* text = std::getenv(name))
        old = text;
    if (value)
        ::setenv(name, value->c_str(), 1);
    else
        ::unsetenv(name);
    return old;
}

} // namespace

struct ModalUser::State
{
    std::deque<std::pair<QString, Step>> steps;
    QTimer timer;
    // The dialog the last step ran on; a QPointer, so that a later dialog made at the same address
    // after it was destroyed (two message boxes in a row) is not taken for it.
    QPointer<QDialog> last;
};

ModalUser::ModalUser() : m_state(std::make_unique<State>())
{
    m_state->timer.setInterval(5);
    QObject::connect(&m_state->timer, &QTimer::timeout, [s = m_state.get()] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (s->steps.empty() || !dialog || dialog == s->last.data() || !dialog->isVisible() ||
            dialog->objectName() != s->steps.front().first)
            return;
        s->last = dialog;
        Step step = std::move(s->steps.front().second);
        s->steps.pop_front();
        step(*dialog);
    });
    m_state->timer.start();
}

ModalUser::~ModalUser() = default;

ModalUser& ModalUser::then(const QString& dialogName, Step step)
{
    m_state->steps.emplace_back(dialogName, std::move(step));
    return *this;
}

bool ModalUser::finished() const
{
    return m_state->steps.empty();
}

bool click(QWidget& dialog, const QString& buttonName)
{
    auto* button = dialog.findChild<QAbstractButton*>(buttonName);
    if (!button || !button->isEnabled())
        return false;
    button->click();
    return true;
}

Language::Language(const char* code) : m_code(code)
{
    m_previous = swapVariable("LC_ALL", m_code == "ja" ? "ja_JP.UTF-8" : "en_US.UTF-8");
}

Language::~Language()
{
    swapVariable("LC_ALL", m_previous);
}

LibraryWithDisc::LibraryWithDisc()
{
    m_previousHome = swapVariable("TAMRIN_HOME", m_home.path().string());
    m_started = PlbInitialize() != 0;
    if (!m_started)
        return;
    PlbSetServer("");
    PlbSetAnalyzeMode(0, 1, 1);
    m_drive = CdMountImage((std::string(TAMRIN_TEST_DATA) + "/disc/psxdisc_a.cue").c_str());
    if (m_drive >= 0 && PlbSetCdDrive(m_drive) != 1) {
        CdUnmountImage(m_drive);
        m_drive = -1;
    }
}

LibraryWithDisc::~LibraryWithDisc()
{
    if (m_drive >= 0)
        CdUnmountImage(m_drive);
    if (m_started)
        PlbTerminate();
    swapVariable("TAMRIN_HOME", m_previousHome);
}

int LibraryWithDisc::cdazFiles() const
{
    std::error_code error;
    int count = 0;
    for (fs::directory_iterator it(m_home.path() / "Analyze", error), end; !error && it != end;
         it.increment(error))
        count += it->path().extension() == ".cdaz";
    return count;
}

int threadCount()
{
    int count = 0;
    std::error_code error;
    for (fs::directory_iterator it("/proc/self/task", error), end; !error && it != end; it.increment(error)) {
        std::string name;
        std::getline(std::ifstream(it->path() / "comm"), name);
        count += name.rfind("Thread (pooled)", 0) != 0;
    }
    return count;
}

} // namespace uitest
