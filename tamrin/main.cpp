// tamrin: the desktop program. Starts the library, reads the options file, installs the Qt
// user-interface port and shows the main window with the files and disc images named on the
// command line; the options are written back when the program ends, also on SIGTERM or SIGINT.
#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <string>

#include "command_texts.h"
#include "main_window.h"
#include "options_file.h"
#include "tamlib/environment.h"
#include "tamlibui/qt_ui_port.h"

#ifndef TAMRIN_VERSION
#define TAMRIN_VERSION "0"
#endif

namespace {

volatile std::sig_atomic_t g_stopRequested = 0;

extern "C" void requestStop(int)
{
    g_stopRequested = 1;
}

} // namespace

int main(int argc, char** argv)
{
    // --help and --version answer without a display.
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--version" || arg == "-v") {
            std::printf("tamrin %s\n", TAMRIN_VERSION);
            return 0;
        }
        if (arg == "--help" || arg == "-h") {
            std::printf("Usage: tamrin [FILE...]\n"
                        "Lists the media streams of PlayStation discs, disc images and stream files,\n"
                        "previews them and converts them.\n\n"
                        "  FILE           a stream file to list, or a disc image (.cue, .iso, .bin)\n"
                        "                 to mount for this session and analyse\n"
                        "  -h, --help     show this help\n"
                        "  -v, --version  show the version\n");
            return 0;
        }
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName("Tamrin");
    QApplication::setApplicationVersion(TAMRIN_VERSION);
    if (PlbInitialize() != 1) {
        std::fprintf(stderr, "tamrin: the library could not be started\n");
        return 1;
    }
    // A termination request ends the event loop as closing the window does, so that the options
    // are saved; the handler only raises a flag that a timer looks at.
    std::signal(SIGTERM, requestStop);
    std::signal(SIGINT, requestStop);
    QTimer stopWatch;
    QObject::connect(&stopWatch, &QTimer::timeout, [] {
        if (g_stopRequested)
            QApplication::exit(0);
    });
    stopWatch.start(50);

    int result = 0;
    tamrin::ProgramOptions options;
    {
        tamlibui::QtUiPort port;
        tamlib::ScopedUiPort installed(port);
        tamrin::MainWindow window(&options.record());
        window.show();
        if (options.state() == tamrin::OptionsState::NotLoaded)
            QTimer::singleShot(0, &window, [&window] {
                QMessageBox::information(&window, window.windowTitle(),
                                         tamrin::commandMessage(tamrin::CommandMessage::OptionsInitialized));
            });
        QStringList paths = QApplication::arguments();
        paths.removeFirst();
        if (!paths.isEmpty())
            QMetaObject::invokeMethod(
                &window, [&window, paths] { window.openPaths(paths); }, Qt::QueuedConnection);
        if (!g_stopRequested)
            result = QApplication::exec();
    }
    std::string error;
    if (options.path().empty())
        std::fprintf(stderr, "tamrin: the options were not saved: no configuration folder is known\n");
    else if (!options.save(&error))
        std::fprintf(stderr, "tamrin: the options were not saved to %s: %s\n", options.path().c_str(),
                     error.c_str());
    PlbTerminate();
    return result;
}
