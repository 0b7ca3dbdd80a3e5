// What the port's tests share: a user who answers the modal dialogs as they open, the language
// chosen for a scope, and a library environment of its own with the sample disc mounted.
#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <optional>
#include <string>

#include "../support/scratch_folder.h"

namespace uitest {

// Acts on the modal dialogs named by their object names, in the order given, as each opens.
// Each step runs on the GUI thread inside the dialog's own event loop.
class ModalUser
{
  public:
    using Step = std::function<void(QDialog&)>;
    ModalUser();
    ~ModalUser();
    ModalUser(const ModalUser&) = delete;
    ModalUser& operator=(const ModalUser&) = delete;

    ModalUser& then(const QString& dialogName, Step step);
    // True once every step has run.
    bool finished() const;

  private:
    struct State;
    State* m_state;
};

// Clicks the button (any QAbstractButton) of `dialog` with this object name; false when missing
// or disabled.
bool click(QWidget& dialog, const QString& buttonName);

// Sets one environment variable for a scope.
class ScopedVariable
{
  public:
    ScopedVariable(const char* name, const char* value);
    ~ScopedVariable();
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

  private:
    std::string m_name;
    std::optional<std::string> m_previous;
};

// The language of the string tables for a scope: "en" or "ja".
class Language
{
  public:
    explicit Language(const char* code);
    QString code() const { return m_code; }

  private:
    QString m_code;
    ScopedVariable m_all;
};

// The library started on a home folder of its own, the plugins of the build installed, the
// exchange off, every analysis question asked; the sample disc mounted as the selected drive.
class LibraryWithDisc
{
  public:
    LibraryWithDisc();
    ~LibraryWithDisc();
    LibraryWithDisc(const LibraryWithDisc&) = delete;
    LibraryWithDisc& operator=(const LibraryWithDisc&) = delete;

    bool ready() const { return m_started && m_drive >= 0; }
    int cdazFiles() const;

  private:
    testsupport::ScratchFolder m_home{"tamlibui"};
    std::optional<ScopedVariable> m_homeVariable;
    bool m_started = false;
    int m_drive = -1;
};

// Threads of this process now, less the idle workers of Qt's own thread pool.
int threadCount();

} // namespace uitest
