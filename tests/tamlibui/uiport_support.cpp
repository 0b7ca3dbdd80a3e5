#include "uiport_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTimer>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>

#include "discport/discport.h"
#include "tamlib/environment.h"

namespace uitest {

namespace fs = std::filesystem;

struct ModalUser::State
{
    std::deque<std::pair<QString, Step>> steps;
    QTimer timer;
    QDialog* last = nullptr;
};

ModalUser::ModalUser() : m_state(new State)
{
    m_state->timer.setInterval(5);
    QObject::connect(&m_state->timer, &QTimer::timeout, [s = m_state] {
        if (s->steps.empty())
            return;
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || dialog == s->last || dialog->objectName() != s->steps.front().first ||
            !dialog->isVisible())
            return;
        s->last = dialog;
        Step step = std::move(s->steps.front().second);
        s->steps.pop_front();
        step(*dialog);
    });
    m_state->timer.start();
}

ModalUser::~ModalUser()
{
    delete m_state;
}

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

ScopedVariable::ScopedVariable(const char* name, const char* value) : m_name(name)
{
    if (const char* old = std::getenv(name))
        m_previous = old;
    if (value)
        ::setenv(name, value, 1);
    else
        ::unsetenv(name);
}

ScopedVariable::~ScopedVariable()
{
    if (m_previous)
        ::setenv(m_name.c_str(), m_previous->c_str(), 1);
    else
        ::unsetenv(m_name.c_str());
}

Language::Language(const char* code)
    : m_code(code), m_all("LC_ALL", QString(code) == "ja" ? "ja_JP.UTF-8" : "en_US.UTF-8")
{
}

LibraryWithDisc::LibraryWithDisc()
{
    m_homeVariable.emplace("TAMRIN_HOME", m_home.path().c_str());
    m_started = PlbInitialize() != 0;
    if (!m_started)
        return;
    PlbSetServer("");
    PlbSetAnalyzeMode(0, 1, 1);
    const std::string cue = std::string(TAMRIN_TEST_DATA) + "/disc/psxdisc_a.cue";
    m_drive = CdMountImage(cue.c_str());
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
}

int LibraryWithDisc::cdazFiles() const
{
    int count = 0;
    std::error_code error;
    for (fs::recursive_directory_iterator it(m_home.path(), error), end; !error && it != end; it.increment(error))
        if (it->path().extension() == ".cdaz" || it->path().extension() == ".CDAZ")
            ++count;
    return count;
}

int threadCount()
{
    int count = 0;
    std::error_code error;
    for (fs::directory_iterator it("/proc/self/task", error), end; !error && it != end; it.increment(error)) {
        std::ifstream comm(it->path() / "comm");
        std::string name;
        std::getline(comm, name);
        if (name.rfind("Thread (pooled)", 0) != 0)
            ++count;
    }
    return count;
}

} // namespace uitest
