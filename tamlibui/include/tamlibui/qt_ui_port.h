// The desktop user-interface port: libtamlib's messages, questions and analysis dialogs as Qt
// dialogs. Install one with tamlib::setUiPort (or tamlib::ScopedUiPort) once the QApplication
// exists.
//
// The library calls the port from its own threads (the disc analysis' worker, the player); every
// call is carried to the GUI thread, and a dialog opened for a worker is modal to the window the
// library names (a QWidget given as the library's window handle) or, when it names none or one
// that no longer exists, to the active window. The progress calls never wait for the GUI thread:
// they leave the newest state for the dialog to show, and STOP is seen by stopRequested at once.
//
// A window handle the library passes around is a QWidget*. Because the analysis waits for its
// worker, a GUI program must not call PlbAnalyzeCd on the GUI thread: tamlibui::analyzeCd runs it
// beside the event loop.
#pragma once

#include <QString>

#include <memory>

#include "tamlib/analysis.h"
#include "tamlib/ui_port.h"
#include "tamlibui/export.h"

class QDialog;
class QWidget;

namespace tamlibui {

// The dynamic property that numbers a dialog item for setItemText.
inline constexpr char kItemProperty[] = "plbItem";

class TAMLIBUI_API QtUiPort : public tamlib::UiPort
{
  public:
    QtUiPort();
    ~QtUiPort() override;
    QtUiPort(const QtUiPort&) = delete;
    QtUiPort& operator=(const QtUiPort&) = delete;

    int32_t message(const tamlib::MessageRequest& request) override;
    int32_t choose(const tamlib::ChoiceRequest& request) override;
    // Sets the text of the child of `dialog` (a QWidget) whose kItemProperty is `item`: a label,
    // a button or a line edit. Unknown windows and items are ignored.
    void setItemText(void* dialog, int32_t item, const std::string& text) override;

    tamlib::AdoptAnswer adoptCdaz(const tamlib::AdoptRequest& request) override;
    bool choosePlugins(tamlib::PluginChoiceRequest& request) override;
    void beginProgress(const std::string& caption, uint64_t total) override;
    void updateProgress(const tamlib::ProgressState& state) override;
    void endProgress() override;
    bool stopRequested() override;
    void analysisDone(tamlib::AnalysisDoneRequest& request) override;
    bool chooseVideoCodec(tamlib::CodecChoiceRequest& request) override;

    // The "Analyzing CD-ROM" dialog while an analysis runs, else null. GUI thread only.
    QDialog* progressDialog() const;

  private:
    struct State;
    std::unique_ptr<State> m_state;
};

// The window a dialog for the library's handle `window` is modal to: that widget's window while
// it exists, else the active modal dialog or the active window (null when there is none). GUI
// thread only.
TAMLIBUI_API QWidget* ownerWindow(void* window);

// tamlib::analyzeCd run on a thread of its own while the GUI thread goes on with its events, so
// that the port's dialogs open and the progress is painted; returns when the analysis has ended,
// with its record (the caller frees it with PlbFreeCDAZ) or null. Called on the GUI thread, with
// `owner` as the window of the analysis' dialogs.
TAMLIBUI_API CdazRecord* analyzeCd(QWidget* owner, const tamlib::AnalysisOptions& options = {});

// A text of the library's string table in the current language.
TAMLIBUI_API QString tableText(uint32_t id);

} // namespace tamlibui
