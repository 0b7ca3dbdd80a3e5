// Helpers of the user-interface tests: the application object is made by gui_test_main.cpp
// (offscreen platform unless screenshots are asked for); saveScreenshot keeps a PNG of a window.
#pragma once

#include <QString>
#include <QWidget>

namespace guitest {

// True when this run saves screenshots (TAMRIN_SCREENSHOTS is set: a real display, usually Xvfb).
bool screenshotsWanted();

// Saves `widget` (shown, laid out, events processed) as <root>/<name>.png, the root being
// TAMRIN_SCREENSHOTS when it names a folder, else the build's screenshots folder. False when
// screenshots are not wanted or the file cannot be written.
bool saveScreenshot(QWidget& widget, const QString& name);

// Runs `program` with `option` and no display at all; its exit code and what it printed.
struct ProgramRun
{
    int exitCode = -1;
    QString out;
};
ProgramRun runWithoutDisplay(const QString& program, const QString& option);

} // namespace guitest
