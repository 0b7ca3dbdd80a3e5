// tabulor: the CDAZ file editor. Starts the library, installs the Qt user-interface port, reads
// the window settings and shows the editor with the CDAZ files named on the command line (none:
// every CDAZ of the analyze folder); the window settings are written back at the end.
#include <QApplication>
#include <QIcon>
#include <QMetaObject>

#include <cstdio>
#include <string>

#include "cdaz_session.h"
#include "editor_window.h"
#include "tamlib/environment.h"
#include "tamlib/ui_port.h"
#include "tamlibui/qt_ui_port.h"

namespace {

constexpr char kVersion[] = "1.02";

bool showOnly(int argc, char** argv)
{
    // --help and --version answer without a display.
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--version" || arg == "-v") {
            std::printf("tabulor %s\n", kVersion);
            return true;
        }
        if (arg == "--help" || arg == "-h") {
            std::printf("Usage: tabulor [CDAZ-FILE...] [/DNAME]\n"
                        "Edits CDAZ files, the analyses of PlayStation discs: stream titles, hidden\n"
                        "streams, the plugins used and their order, the CD title and the stream\n"
                        "title prefix.\n\n"
                        "  CDAZ-FILE      a CDAZ file to open; without any, every CDAZ file of the\n"
                        "                 analyze folder is opened (files opened later are taken in)\n"
                        "  /DNAME         shows the CDAZ NAME (its file name or path) first\n"
                        "  -h, --help     show this help\n"
                        "  -v, --version  show the version\n");
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    if (showOnly(argc, argv))
        return 0;

    QApplication app(argc, argv);
    QApplication::setApplicationName("Tabulor");
    QApplication::setApplicationVersion(kVersion);
    QApplication::setWindowIcon(QIcon(":/tabulor/tabulor.png"));
    if (PlbInitialize() != 1) {
        std::fprintf(stderr, "tabulor: the library could not be started\n");
        return 1;
    }

    // Every token is a CDAZ file, except "/D" or "/d" followed by the CDAZ to show first.
    QStringList files;
    QString showFirst;
    QStringList tokens = QApplication::arguments();
    tokens.removeFirst();
    for (const QString& token : tokens) {
        if (token.startsWith("/D") || token.startsWith("/d"))
            showFirst = token.mid(2);
        else if (!token.isEmpty())
            files << token;
    }

    int result = 0;
    {
        tamlibui::QtUiPort port;
        tamlib::ScopedUiPort installed(port);
        const std::string settingsPath = tabulor::windowSettingsPath();
        tabulor::EditorWindow window(tabulor::readWindowSettings(settingsPath));
        window.show();
        // Opening may ask questions: inside the event loop, with the window on screen.
        QMetaObject::invokeMethod(
            &window,
            [&window, files, showFirst] {
                if (files.isEmpty())
                    window.openAnalyzeFolder(showFirst);
                else
                    window.openFiles(files, showFirst);
            },
            Qt::QueuedConnection);
        result = QApplication::exec();
        if (!settingsPath.empty() && !tabulor::writeWindowSettings(settingsPath, window.windowSettings()))
            std::fprintf(stderr, "tabulor: the window settings were not written to %s\n",
                         settingsPath.c_str());
    }
    PlbTerminate();
    return result;
}
