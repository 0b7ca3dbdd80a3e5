// What the port's tests share: a user who answers the modal dialogs as they open, the language
// of the string tables for a scope, and the library started on a home of its own with the sample
// disc mounted as the selected drive.
#pragma once

#include <QDialog>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "../support/scratch_folder.h"
#include "tamlib/ui_port.h"
#include "tamlibui/qt_ui_port.h"

namespace uitest {

// Acts on the modal dialogs named by their object names, in the order given, as each opens
// (inside the dialog's own event loop).
class ModalUser
{
  public:
    using Step = std::function<void(QDialog&)>;
    ModalUser();
    ~ModalUser();
    ModalUser& then(const QString& dialogName, Step step);
    bool finished() const; // every step has run

  private:
    struct State;
    std::unique_ptr<State> m_state;
};

// Clicks the enabled button of `dialog` with this object name; false when there is none.
bool click(QWidget& dialog, const QString& buttonName);

// LC_ALL for a scope: "en" or "ja".
class Language
{
  public:
    explicit Language(const char* code);
    ~Language();
    QString code() const { return m_code; }

  private:
    QString m_code;
    std::optional<std::string> m_previous;
};

class LibraryWithDisc
{
  public:
    LibraryWithDisc();
    ~LibraryWithDisc();
    bool ready() const { return m_started && m_drive >= 0; }
    int cdazFiles() const; // in the Analyze folder

  private:
    testsupport::ScratchFolder m_home{"tamlibui"};
    std::optional<std::string> m_previousHome;
    bool m_started = false;
    int m_drive = -1;
};

// What a program's window needs in a test: the language, the library with the sample disc as its
// drive, and the Qt port installed; in this order, undone in the reverse one.
struct ProgramScope
{
    explicit ProgramScope(const char* code) : language(code) {}
    Language language;
    LibraryWithDisc library;
    tamlibui::QtUiPort port;
    tamlib::ScopedUiPort installed{port};
};

// Threads of this process, less the idle workers of Qt's own thread pool.
int threadCount();

} // namespace uitest
