// The user-interface tests run inside one QApplication. Without TAMRIN_SCREENSHOTS they use Qt's
// offscreen platform, so that they need no display; with it, the display given (Xvfb in
// scripts/test), so that the saved pictures show real fonts and styles.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QTest>

#include <string>

#include "gui_test.h"

namespace guitest {

bool screenshotsWanted()
{
    return !qEnvironmentVariableIsEmpty("TAMRIN_SCREENSHOTS");
}

ProgramRun runWithoutDisplay(const QString& program, const QString& option)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(name);
    process.setProcessEnvironment(environment);
    process.start(program, {option});
    ProgramRun run;
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    return run;
}

bool saveScreenshot(QWidget& widget, const QString& name)
{
    if (!screenshotsWanted())
        return false;
    QString root = qEnvironmentVariable("TAMRIN_SCREENSHOTS");
    if (root == "1")
        root = TAMRIN_SCREENSHOT_ROOT;
    const QString path = root + "/" + name + ".png";
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    widget.show();
    if (!QTest::qWaitForWindowExposed(&widget))
        return false;
    QApplication::processEvents();
    return widget.grab().save(path, "PNG");
}

} // namespace guitest

int main(int argc, char** argv)
{
    if (!guitest::screenshotsWanted())
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    // The screenshot tests belong to the run that asks for them (under Xvfb): left out of the
    // others, so that the test list never holds a test that can only skip itself.
    if (!guitest::screenshotsWanted()) {
        std::string filter = GTEST_FLAG_GET(filter);
        filter += filter.find('-') == std::string::npos ? "-*Screenshot*" : ":*Screenshot*";
        GTEST_FLAG_SET(filter, filter);
    }
    return RUN_ALL_TESTS();
}
