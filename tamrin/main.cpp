// tamrin: the desktop program. Starts the library, installs the Qt user-interface port and shows
// the main window with the files and disc images named on the command line.
#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

#include "main_window.h"
#include "tamlib/environment.h"
#include "tamlibui/qt_ui_port.h"

#ifndef TAMRIN_VERSION
#define TAMRIN_VERSION "0"
#endif

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
    int result = 0;
    {
        tamlibui::QtUiPort port;
        tamlib::ScopedUiPort installed(port);
        tamrin::MainWindow window;
        window.show();
        QStringList paths = QApplication::arguments();
        paths.removeFirst();
        if (!paths.isEmpty())
            QMetaObject::invokeMethod(
                &window, [&window, paths] { window.openPaths(paths); }, Qt::QueuedConnection);
        result = QApplication::exec();
    }
    PlbTerminate();
    return result;
}
