// The editor window driven as a user drives it, on CDAZ files that tamrin-cli makes of the sample
// disc in a home of their own: each edit made through the widgets is saved and read back by
// `tamrin-cli cdaz show --json`, and compared with the same edit made by `tamrin-cli cdaz edit` on
// a copy of the file; opening, taking in and deleting are checked against `tamrin-cli cdaz list`.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSplitter>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "cli/cli_runner.h"
#include "editor_window.h"
#include "gui_test.h"
#include "tamlib/cdaz.h"
#include "tamlib/ui_port.h"
#include "tamlibui/plugin_dialogs.h"
#include "tamlibui/qt_ui_port.h"
#include "tamlibui/settings_dialog.h"
#include "tamlibui/uikit.h"
#include "uiport_support.h"

using namespace tabulor;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

const char kDiscCdaz[] = "CORPUS_A21401020382263.cdaz";

// Runs tamrin-cli on the home `home`; its standard output (a failure is recorded).
std::string cli(const fs::path& home, const QStringList& args)
{
    std::vector<std::string> arguments;
    for (const QString& arg : args)
        arguments.push_back(arg.toStdString());
    const clitest::RunResult result = clitest::runCli(arguments, {"TAMRIN_HOME=" + home.string()});
    EXPECT_EQ(result.status, clitest::kExitOk) << args.join(' ').toStdString() << "\n" << result.err;
    return result.out;
}

json showJson(const fs::path& home, const fs::path& file)
{
    json document = json::parse(cli(home, {"cdaz", "show", "--json", QString::fromStdString(file.string())}),
                                nullptr, false);
    EXPECT_FALSE(document.is_discarded()) << file;
    document.erase("file"); // where it was read from, not what it holds
    return document;
}

// The analyze folder's files, as tamrin-cli lists them.
std::vector<std::string> listedFiles(const fs::path& home)
{
    std::vector<std::string> files;
    const json list = json::parse(cli(home, {"cdaz", "list", "--json"}), nullptr, false);
    for (const json& entry : list.is_array() ? list : json::array())
        files.push_back(entry.value("file", ""));
    return files;
}

std::string readBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The sample disc's CDAZ, analysed once for every test.
const fs::path& analysedCdaz()
{
    static testsupport::ScratchFolder home{"tabulor-analysis"};
    static const fs::path file = [] {
        cli(home.path(), {"analyze", "--no-progress", "--upload", "no",
                          QString(TAMRIN_TEST_DATA) + "/disc/psxdisc_a.cue"});
        return home.path() / "Analyze" / kDiscCdaz;
    }();
    return file;
}

// A CDAZ of a disc of its own (not the sample disc): one movie of the movie plugin, one sound
// stream of a plugin that is not installed, whose entry carries an author and an address.
void writeOtherCdaz(const fs::path& folder, const std::string& fileName, const char* cdazName,
                    const char* title)
{
    CdVolumeInfo volume{};
    std::strcpy(volume.systemId, "PLAYSTATION");
    std::strcpy(volume.volumeId, "OTHERDISC");
    CdazRecord* record = PlbAllocCDAZ(cdazName, title, "OT", &volume, 0, 0);
    ASSERT_NE(record, nullptr);
    StrInfo movie{};
    movie.kind = StrVideo;
    movie.startSector = 100;
    movie.sectorCount = 50;
    movie.durationMs = 65250;
    movie.frameCount = 150;
    movie.width = movie.outWidth = 320;
    movie.height = movie.outHeight = 240;
    movie.frameRate = 150;
    StrInfo sound{};
    sound.kind = StrAudio;
    sound.startSector = 300;
    sound.sectorCount = 20;
    sound.durationMs = 1500;
    sound.channels = 2;
    sound.bitsPerSample = 4;
    sound.sampleRate = 37800;
    EXPECT_EQ(PlbSetStreamCDAZ(record, "Opening", &movie, "DISCMOVIE.PSR", 142, "", ""), 1);
    EXPECT_EQ(PlbSetStreamCDAZ(record, nullptr, &sound, "GONE.PSR", 100, "Gone author", "gone.example.org"),
              1);
    EXPECT_EQ(PlbSetCDAZAnaSector(record, -1), 1);
    EXPECT_EQ(PlbSaveCDAZ(folder.c_str(), fileName.c_str(), record), 1);
    PlbFreeCDAZ(record);
}

// Runs `step` on the next modal dialog that opens (one without an object name of its own).
class NextDialog
{
  public:
    explicit NextDialog(std::function<void(QDialog&)> step) : m_step(std::move(step))
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (m_seen || !dialog || !dialog->isVisible())
                return;
            m_seen = true;
            m_step(*dialog);
        });
        m_timer.start();
    }
    bool seen() const { return m_seen; }

  private:
    std::function<void(QDialog&)> m_step;
    QTimer m_timer;
    bool m_seen = false;
};

class EditorWindowTest : public testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_library.ready());
        ASSERT_TRUE(fs::exists(analysedCdaz()));
        m_home = std::getenv("TAMRIN_HOME");
        fs::create_directories(m_home / "Analyze");
        m_window = std::make_unique<EditorWindow>();
    }

    // A copy of the sample disc's CDAZ outside the analyze folder.
    fs::path outsideCopy(const std::string& name)
    {
        const fs::path path = m_outside.path() / name;
        fs::copy_file(analysedCdaz(), path, fs::copy_options::overwrite_existing);
        return path;
    }
    void intoAnalyzeFolder() { fs::copy_file(analysedCdaz(), m_home / "Analyze" / kDiscCdaz); }

    QString q(const fs::path& path) { return QString::fromStdString(path.string()); }

    QTreeWidgetItem* streamRow(int row) { return m_window->streamList()->topLevelItem(row); }

    uitest::Language m_english{"en"};
    uitest::LibraryWithDisc m_library;
    tamlibui::QtUiPort m_port;
    tamlib::ScopedUiPort m_installed{m_port};
    testsupport::ScratchFolder m_outside{"tabulor-outside"};
    fs::path m_home;
    std::unique_ptr<EditorWindow> m_window;
};

// ---- edits through the widgets ---------------------------------------------------------------

struct EditCase
{
    const char* name;
    QStringList prepare; // a cdaz edit made to both files first (empty: none)
    std::function<void(EditorWindow&)> edit;
    QStringList sameEdit; // the cdaz edit that must give the same file
};

// Types a full path into a file dialog's name field and accepts it.
void chooseFile(QDialog& dialog, const QString& path)
{
    auto* name = dialog.findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(name, nullptr);
    name->setText(path);
    dialog.accept();
}

void typeInto(QLineEdit* field, const QString& text)
{
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, text);
}

} // namespace

TEST_F(EditorWindowTest, EveryEditThroughTheWidgetsIsSavedAsTheCommandLineMakesIt)
{
    auto select = [](EditorWindow& window, std::initializer_list<int> rows) {
        QTreeWidget* list = window.streamList();
        list->clearSelection();
        for (int row : rows)
            list->topLevelItem(row)->setSelected(true);
        list->setCurrentItem(list->topLevelItem(*rows.begin()), 0, QItemSelectionModel::NoUpdate);
        list->setFocus();
    };
    auto pluginRow = [](EditorWindow& window, int row) { return window.pluginList()->topLevelItem(row); };
    const EditCase cases[] = {
        {"CD title",
         {},
         [](EditorWindow& w) { typeInto(w.titleField(), "Edited disc"); },
         {"--title", "Edited disc"}},
        {"prefix", {}, [](EditorWindow& w) { typeInto(w.prefixField(), "MV"); }, {"--prefix", "MV"}},
        {"F2 rename",
         {},
         [&](EditorWindow& w) {
             select(w, {3});
             QTest::keyClick(w.streamList(), Qt::Key_F2);
             auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
             ASSERT_NE(editor, nullptr);
             EXPECT_EQ(editor->maxLength(), EditorWindow::kStreamTitleLength);
             editor->selectAll();
             QTest::keyClicks(editor, "Opening movie");
             QTest::keyClick(editor, Qt::Key_Return);
             // The view commits the editor's text from its event loop.
             EXPECT_TRUE(QTest::qWaitFor([&] { return w.session().modified(0); }, 2000));
             EXPECT_EQ(w.streamList()->topLevelItem(3)->text(EditorWindow::kColTitle), "Opening movie");
         },
         {"--stream", "4", "--name", "Opening movie"}},
        {"Alt+H on two streams",
         {},
         [&](EditorWindow& w) {
             select(w, {8, 9});
             QTest::keyClick(w.streamList(), Qt::Key_H, Qt::AltModifier);
         },
         {"--hide", "9", "--hide", "10"}},
        {"Alt+S on a hidden stream",
         {"--hide", "11"},
         [&](EditorWindow& w) {
             select(w, {10});
             QTest::keyClick(w.streamList(), Qt::Key_S, Qt::AltModifier);
         },
         {"--show", "11"}},
        {"Hidden over a duplicate",
         {},
         [&](EditorWindow& w) {
             EXPECT_EQ(w.streamList()->topLevelItem(1)->text(EditorWindow::kColStatus), "Duplication");
             select(w, {0});
             const qint64 shownIcon = w.streamList()->topLevelItem(0)->icon(0).cacheKey();
             w.action(EditorWindow::kCmdHide)->trigger();
             EXPECT_NE(w.streamList()->topLevelItem(0)->icon(0).cacheKey(), shownIcon);
             // The sound it covered is no longer a duplicate.
             EXPECT_EQ(w.streamList()->topLevelItem(0)->text(EditorWindow::kColList), "Hidden");
             EXPECT_EQ(w.streamList()->topLevelItem(1)->text(EditorWindow::kColStatus), "Normal");
         },
         {"--hide", "1"}},
        {"OFF in the detail panel",
         {},
         [&](EditorWindow& w) {
             select(w, {12});
             QTest::mouseClick(w.displayOff(), Qt::LeftButton);
         },
         {"--hide", "13"}},
        {"plugin unchecked",
         {},
         [&](EditorWindow& w) { pluginRow(w, 2)->setCheckState(EditorWindow::kPlugName, Qt::Unchecked); },
         {"--plugin-off", "3"}},
        {"plugin Up",
         {},
         [&](EditorWindow& w) {
             w.pluginList()->setCurrentItem(pluginRow(w, 1));
             QTest::mouseClick(w.upButton(), Qt::LeftButton);
         },
         {"--plugin-order", "2"}},
        {"plugin Down",
         {},
         [&](EditorWindow& w) {
             w.pluginList()->setCurrentItem(pluginRow(w, 0));
             QTest::mouseClick(w.downButton(), Qt::LeftButton);
             EXPECT_EQ(w.pluginList()->currentItem(), pluginRow(w, 1)); // the moved entry stays selected
         },
         {"--plugin-order", "2,1"}},
    };
    for (const EditCase& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path edited = outsideCopy("edited.cdaz"), reference = outsideCopy("reference.cdaz");
        if (!c.prepare.isEmpty()) {
            cli(m_home, QStringList{"cdaz", "edit", q(edited)} + c.prepare);
            cli(m_home, QStringList{"cdaz", "edit", q(reference)} + c.prepare);
        }
        const json before = showJson(m_home, edited);

        EditorWindow window;
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        ASSERT_EQ(window.openFiles({q(edited)}), 1);
        ASSERT_EQ(window.streamList()->topLevelItemCount(), 15);
        c.edit(window);
        EXPECT_TRUE(window.session().modified(0));
        EXPECT_TRUE(window.selector()->itemText(0).contains(" *"));
        window.action(EditorWindow::kCmdSave)->trigger();
        EXPECT_FALSE(window.session().modified(0));
        EXPECT_FALSE(window.selector()->itemText(0).contains(" *"));

        cli(m_home, QStringList{"cdaz", "edit", q(reference)} + c.sameEdit);
        const json after = showJson(m_home, edited);
        EXPECT_FALSE(json::diff(before, after).empty()) << "the saved file did not change";
        // The differences between the two files, as a patch: none.
        EXPECT_EQ(json::diff(after, showJson(m_home, reference)), json::array());
    }
}

// ---- opening, taking in and deleting -----------------------------------------------------------

TEST_F(EditorWindowTest, TwoFilesOpenAtOnceAndTheNamedOneIsShownFirst)
{
    const fs::path first = outsideCopy("first.cdaz"), second = outsideCopy("second.cdaz");
    cli(m_home, {"cdaz", "edit", q(second), "--title", "Second disc"});
    ASSERT_EQ(m_window->openFiles({q(first), q(second)}), 2);
    EXPECT_EQ(m_window->session().mode(), Mode::Exterior);
    ASSERT_EQ(m_window->selector()->count(), 2);
    // The last one opened is shown, with its own texts and streams.
    EXPECT_EQ(m_window->selector()->currentIndex(), 1);
    EXPECT_EQ(m_window->titleField()->text(), "Second disc");
    EXPECT_TRUE(m_window->selector()->itemText(1).startsWith("Second disc"));
    m_window->selector()->setCurrentIndex(0);
    EXPECT_EQ(m_window->session().current(), 0);
    EXPECT_EQ(m_window->titleField()->text(), "CORPUS_A");
    EXPECT_EQ(m_window->streamList()->topLevelItemCount(), 15);
    EXPECT_TRUE(listedFiles(m_home).empty()); // files from elsewhere stay where they are

    // Copies into the analyze folder, under the CDAZ's own name: the one on show, then all (the
    // second has the same name and is the same disc: each replaces the copy there after asking).
    m_window->selector()->setCurrentIndex(1);
    m_window->action(EditorWindow::kCmdSaveToAnalyze)->trigger();
    EXPECT_EQ(listedFiles(m_home), std::vector<std::string>{kDiscCdaz});
    EXPECT_EQ(showJson(m_home, kDiscCdaz)["title"], "Second disc");
    {
        uitest::ModalUser user;
        user.then("tabulorQuestion", [](QDialog& box) { uitest::click(box, "yes"); })
            .then("tabulorQuestion", [](QDialog& box) { uitest::click(box, "yes"); });
        m_window->action(EditorWindow::kCmdSaveAllToAnalyze)->trigger();
        EXPECT_TRUE(user.finished());
    }
    EXPECT_EQ(listedFiles(m_home), std::vector<std::string>{kDiscCdaz});
    // The files from elsewhere stay as they were.
    EXPECT_EQ(showJson(m_home, first)["title"], "CORPUS_A");
    EXPECT_EQ(showJson(m_home, second)["title"], "Second disc");

    EditorWindow named;
    ASSERT_EQ(named.openFiles({q(first), q(second)}, "first.cdaz"), 2);
    EXPECT_EQ(named.selector()->currentIndex(), 0);
}

TEST_F(EditorWindowTest, SystemModeTakesFilesInAndDeletesThroughTheMenu)
{
    intoAnalyzeFolder();
    writeOtherCdaz(m_outside.path(), "other1.cdaz", "OTHERDISC1000001.cdaz", "Other disc 1");
    writeOtherCdaz(m_outside.path(), "other2.cdaz", "OTHERDISC2000002.cdaz", "Other disc 2");
    ASSERT_EQ(m_window->openAnalyzeFolder(), 1);
    EXPECT_EQ(m_window->session().mode(), Mode::System);
    // The system mode's menu: no close or save to the analyze folder, open takes files in.
    const QList<QAction*> fileMenu = m_window->menuBar()->actions().first()->menu()->actions();
    for (EditorWindow::Command removed :
         {EditorWindow::kCmdClose, EditorWindow::kCmdSaveToAnalyze, EditorWindow::kCmdSaveAllToAnalyze})
        EXPECT_FALSE(fileMenu.contains(m_window->action(removed))) << removed;
    EXPECT_EQ(m_window->action(EditorWindow::kCmdOpen)->text(), "&Exterior CDAZ is taken in...");

    ASSERT_EQ(m_window->openFiles({q(m_outside.path() / "other1.cdaz"), q(m_outside.path() / "other2.cdaz")}),
              2);
    EXPECT_EQ(m_window->selector()->count(), 3);
    EXPECT_EQ(listedFiles(m_home),
              (std::vector<std::string>{kDiscCdaz, "OTHERDISC1000001.cdaz", "OTHERDISC2000002.cdaz"}));
    EXPECT_EQ(showJson(m_home, "OTHERDISC2000002.cdaz")["title"], "Other disc 2");

    // Delete asks first: No keeps the file, Yes deletes it and closes the CDAZ.
    for (const char* answer : {"no", "yes"}) {
        uitest::ModalUser user;
        QString question;
        user.then("tabulorQuestion", [&](QDialog& box) {
            question = static_cast<QMessageBox&>(box).text();
            uitest::click(box, answer);
        });
        m_window->action(EditorWindow::kCmdDelete)->trigger();
        EXPECT_TRUE(user.finished());
        EXPECT_TRUE(question.contains("OTHERDISC2000002.cdaz")) << question.toStdString();
    }
    EXPECT_EQ(listedFiles(m_home), (std::vector<std::string>{kDiscCdaz, "OTHERDISC1000001.cdaz"}));
    EXPECT_EQ(m_window->selector()->count(), 2);
}

TEST_F(EditorWindowTest, TakingInANameTheAnalyzeFolderHoldsAsksAndNoLeavesBoth)
{
    intoAnalyzeFolder();
    const fs::path outside = outsideCopy("outside.cdaz");
    cli(m_home, {"cdaz", "edit", q(outside), "--title", "Outside title"});
    const std::string inFolder = readBytes(m_home / "Analyze" / kDiscCdaz), outsideBytes = readBytes(outside);
    ASSERT_EQ(m_window->openAnalyzeFolder(), 1);
    for (const char* answer : {"no", "yes"}) {
        SCOPED_TRACE(answer);
        uitest::ModalUser user;
        user.then("tabulorQuestion", [&](QDialog& box) { uitest::click(box, answer); });
        m_window->openFiles({q(outside)});
        EXPECT_TRUE(user.finished());
        EXPECT_EQ(m_window->selector()->count(), 1);
        EXPECT_EQ(readBytes(outside), outsideBytes);
    }
    // No left the folder's file as it was; Yes replaced it with the file taken in.
    EXPECT_EQ(showJson(m_home, kDiscCdaz)["title"], "Outside title");
    EXPECT_EQ(m_window->titleField()->text(), "Outside title");
    EXPECT_NE(readBytes(m_home / "Analyze" / kDiscCdaz), inFolder);
}

TEST_F(EditorWindowTest, RefusedFilesLeaveEverythingAsItWas)
{
    const fs::path damaged = m_outside.path() / "damaged.cdaz";
    {
        std::ofstream out(damaged, std::ios::binary);
        const std::string whole = readBytes(analysedCdaz());
        out << whole.substr(0, whole.size() / 2);
    }
    const std::string damagedBytes = readBytes(damaged);
    const fs::path good = outsideCopy("good.cdaz");
    intoAnalyzeFolder();
    ASSERT_EQ(m_window->openFiles({q(good)}), 1);
    typeInto(m_window->titleField(), "Being edited");

    struct Refusal
    {
        QString path;
        const char* message;
    } refusals[] = {
        {q(damaged), "has not been opened as a CDAZ file which can be processed"},
        // The analyze folder's own files are not opened beside a file from elsewhere.
        {q(m_home / "Analyze" / kDiscCdaz), "Since it is the CDAZ file which a system manages"},
    };
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.message);
        uitest::ModalUser user;
        QString told;
        user.then("tabulorMessage", [&](QDialog& box) {
            told = static_cast<QMessageBox&>(box).text();
            uitest::click(box, "ok");
        });
        EXPECT_EQ(m_window->openFiles({refusal.path}), 0);
        EXPECT_TRUE(user.finished());
        EXPECT_TRUE(told.contains(refusal.message)) << told.toStdString();
        EXPECT_TRUE(told.contains(QFileInfo(refusal.path).fileName())) << told.toStdString();
        EXPECT_EQ(m_window->selector()->count(), 1);
        EXPECT_EQ(m_window->titleField()->text(), "Being edited");
        EXPECT_TRUE(m_window->session().modified(0));
    }
    EXPECT_EQ(readBytes(damaged), damagedBytes);
    EXPECT_EQ(listedFiles(m_home), std::vector<std::string>{kDiscCdaz});
}

TEST_F(EditorWindowTest, AnEmptyAnalyzeFolderStartsInSystemMenuAndTheFirstFileDecidesTheMode)
{
    EXPECT_EQ(m_window->openAnalyzeFolder(), 0);
    EXPECT_TRUE(m_window->systemMenu());
    EXPECT_EQ(m_window->selector()->count(), 0);
    EXPECT_EQ(m_window->session().mode(), Mode::Nothing);
    EXPECT_FALSE(m_window->action(EditorWindow::kCmdSave)->isEnabled());
    ASSERT_EQ(m_window->openFiles({q(outsideCopy("first.cdaz"))}), 1);
    EXPECT_EQ(m_window->session().mode(), Mode::Exterior);
    EXPECT_TRUE(m_window->action(EditorWindow::kCmdSave)->isEnabled());
    EXPECT_TRUE(listedFiles(m_home).empty());
}

TEST_F(EditorWindowTest, DroppedFilesAreOpenedAsFromTheCommandLine)
{
    const fs::path first = outsideCopy("first.cdaz"), second = outsideCopy("second.cdaz");
    m_window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(q(first)), QUrl::fromLocalFile(q(second))});
    const QPoint at = m_window->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(m_window.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(m_window.get(), &drop);
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_window->selector()->count() == 2; }, 3000));
    EXPECT_EQ(m_window->session().path(1), second.string());
}

// The dialogs of the commands: each opens modal to the window with what the command gives it.
TEST_F(EditorWindowTest, DialogCommandsOpenTheirDialogs)
{
    ASSERT_EQ(m_window->openFiles({q(outsideCopy("dialogs.cdaz"))}), 1);
    m_window->show();
    m_window->streamList()->setCurrentItem(streamRow(1)); // a sound stream of the XA plugin
    const struct
    {
        EditorWindow::Command command;
        std::function<void(QDialog&)> check;
    } cases[] = {
        {EditorWindow::kCmdAbout,
         [](QDialog& dialog) {
             auto text = [&](int item) {
                 auto* label = qobject_cast<QLabel*>(tamlibui::PlbGetItem(&dialog, item));
                 return label ? label->text() : QString();
             };
             EXPECT_EQ(text(tamlibui::kAboutProduct), "Tabulor");
             EXPECT_EQ(text(tamlibui::kAboutVersion), "Version 1.02");
         }},
        {EditorWindow::kCmdPluginInfo,
         [](QDialog& dialog) {
             auto* info = qobject_cast<tamlibui::PluginInfoDialog*>(&dialog);
             ASSERT_NE(info, nullptr);
             ASSERT_EQ(info->list()->topLevelItemCount(), 1);
             EXPECT_EQ(info->list()->topLevelItem(0)->text(1), "DISCVOICE.PSR");
         }},
        {EditorWindow::kCmdSettings,
         [](QDialog& dialog) {
             auto* settings = qobject_cast<tamlibui::SettingsDialog*>(&dialog);
             ASSERT_NE(settings, nullptr);
             EXPECT_EQ(settings->windowTitle(), "Set options (Tabulor)");
             EXPECT_EQ(settings->tabs()->count(), 4);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        NextDialog dialog([&](QDialog& shown) {
            EXPECT_EQ(shown.parentWidget(), m_window.get());
            c.check(shown);
            shown.reject();
        });
        m_window->action(c.command)->trigger();
        EXPECT_TRUE(dialog.seen());
    }
}

TEST_F(EditorWindowTest, SaveAsProposesTheFilesOwnFolderAndAddsTheExtension)
{
    intoAnalyzeFolder();
    ASSERT_EQ(m_window->openAnalyzeFolder(), 1);
    const fs::path target = m_outside.path() / "copy";
    {
        QString proposed;
        NextDialog dialog([&](QDialog& shown) {
            auto& files = static_cast<QFileDialog&>(shown);
            proposed = files.selectedFiles().value(0);
            chooseFile(files, q(target));
        });
        m_window->action(EditorWindow::kCmdSaveAs)->trigger();
        ASSERT_TRUE(dialog.seen());
        EXPECT_EQ(proposed, q(m_home / "Analyze" / kDiscCdaz));
    }
    EXPECT_EQ(showJson(m_home, m_outside.path() / "copy.cdaz")["name"], kDiscCdaz);

    // Once more onto the file just written: asked first, and No leaves it alone.
    typeInto(m_window->titleField(), "Not to be written");
    uitest::ModalUser user;
    user.then("tabulorQuestion", [](QDialog& box) { uitest::click(box, "no"); });
    NextDialog dialog([&](QDialog& shown) { chooseFile(shown, q(m_outside.path() / "copy.cdaz")); });
    m_window->action(EditorWindow::kCmdSaveAs)->trigger();
    EXPECT_TRUE(user.finished());
    EXPECT_EQ(showJson(m_home, m_outside.path() / "copy.cdaz")["title"], "CORPUS_A");
}

// ---- closing -----------------------------------------------------------------------------------

TEST_F(EditorWindowTest, ClosingWithUnsavedChangesAsksAndCancelKeepsTheWindow)
{
    const struct
    {
        const char* answer;
        bool closed;
        const char* titleOnDisk;
    } cases[] = {
        {"cancel", false, "CORPUS_A"},
        {"no", true, "CORPUS_A"},
        {"yes", true, "Changed title"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        const fs::path file = outsideCopy("closing.cdaz");
        EditorWindow window;
        window.show();
        ASSERT_EQ(window.openFiles({q(file)}), 1);
        typeInto(window.titleField(), "Changed title");
        uitest::ModalUser user;
        QString question;
        user.then("tabulorQuestion", [&](QDialog& box) {
            question = static_cast<QMessageBox&>(box).text();
            uitest::click(box, c.answer);
        });
        EXPECT_EQ(window.close(), c.closed);
        EXPECT_TRUE(user.finished());
        EXPECT_TRUE(question.contains("is changed")) << question.toStdString();
        EXPECT_EQ(window.isVisible(), !c.closed);
        EXPECT_EQ(window.selector()->count(), c.closed ? 0 : 1);
        EXPECT_EQ(showJson(m_home, file)["title"], c.titleOnDisk);
    }
}

TEST_F(EditorWindowTest, AStreamTitleStillBeingEditedWhenTheWindowGoesIsDropped)
{
    const fs::path file = outsideCopy("editing.cdaz");
    const std::string bytes = readBytes(file);
    {
        EditorWindow window;
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        ASSERT_EQ(window.openFiles({q(file)}), 1);
        window.streamList()->setCurrentItem(window.streamList()->topLevelItem(0));
        window.streamList()->setFocus();
        window.action(EditorWindow::kCmdRename)->trigger();
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        ASSERT_NE(editor, nullptr);
        QTest::keyClicks(editor, "Unfinished");
    } // the editor loses its focus while the window goes
    EXPECT_EQ(readBytes(file), bytes);
}

// ---- panels ------------------------------------------------------------------------------------

TEST_F(EditorWindowTest, DetailAndPluginPanelsShowTheSelectedEntries)
{
    writeOtherCdaz(m_outside.path(), "other.cdaz", "OTHERDISC1000001.cdaz", "Other disc");
    ASSERT_EQ(m_window->openFiles({q(m_outside.path() / "other.cdaz")}), 1);
    m_window->streamList()->setCurrentItem(streamRow(0));
    const std::pair<EditorWindow::Detail, const char*> movie[] = {
        {EditorWindow::kDetTitle, "'Opening'"},     {EditorWindow::kDetType, "MOVIE"},
        {EditorWindow::kDetStart, "100"},           {EditorWindow::kDetSectors, "50"},
        {EditorWindow::kDetTime, "1分05.250秒"},    {EditorWindow::kDetFrames, "150"},
        {EditorWindow::kDetFrameSize, "320 × 240"}, {EditorWindow::kDetFrameRate, "15 fps"},
        {EditorWindow::kDetStatus, "Normal"},       {EditorWindow::kDetPlugin, "STR CD-ROM"},
    };
    for (const auto& [row, text] : movie)
        EXPECT_EQ(m_window->detail(row)->text(), QString::fromUtf8(text)) << row;
    EXPECT_TRUE(m_window->displayOn()->isChecked());
    m_window->streamList()->setCurrentItem(streamRow(1));
    EXPECT_EQ(m_window->detail(EditorWindow::kDetChannels)->text(), "2");
    EXPECT_EQ(m_window->detail(EditorWindow::kDetRate)->text(), "37800 Hz");
    EXPECT_EQ(m_window->detail(EditorWindow::kDetBits)->text(), "4 bit");
    EXPECT_EQ(streamRow(1)->text(EditorWindow::kColStatus), "No plug-in");
    EXPECT_TRUE(streamRow(1)->text(EditorWindow::kColPlugin).isEmpty());

    // The plugin that is not installed: its versions as dashes, its address under its author.
    QTreeWidgetItem* gone = m_window->pluginList()->topLevelItem(1);
    ASSERT_NE(gone, nullptr);
    EXPECT_EQ(gone->text(EditorWindow::kPlugFile), "GONE.PSR");
    EXPECT_EQ(gone->text(EditorWindow::kPlugAnalyze), "1.00");
    EXPECT_EQ(gone->text(EditorWindow::kPlugCurrent), "---");
    EXPECT_EQ(gone->text(EditorWindow::kPlugDetection), "1(0)");
    EXPECT_EQ(gone->checkState(EditorWindow::kPlugName), Qt::Checked);
    m_window->pluginList()->setCurrentItem(gone);
    EXPECT_EQ(m_window->pluginLink()->text(), "Gone author");
    QUrl opened;
    const tamlibui::LinkOpener previous = tamlibui::setLinkOpener([&](const QUrl& url) {
        opened = url;
        return true;
    });
    m_window->pluginLink()->click();
    tamlibui::setLinkOpener(previous);
    EXPECT_EQ(opened.host(), "gone.example.org");
    EXPECT_TRUE(m_window->upButton()->isEnabled());
    EXPECT_FALSE(m_window->downButton()->isEnabled());
}

TEST_F(EditorWindowTest, WindowSettingsAreAppliedAndGivenBack)
{
    WindowSettings settings;
    settings.placed = true;
    settings.left = 40;
    settings.top = 30;
    settings.width = 1000;
    settings.height = 640;
    settings.detailWidth = 310;
    const int32_t columns[7] = {200, 60, 55, 65, 110, 45, 90};
    std::copy(std::begin(columns), std::end(columns), settings.columns);
    EditorWindow window(settings);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const WindowSettings back = window.windowSettings();
    EXPECT_EQ(back.width, 1000);
    EXPECT_EQ(back.height, 640);
    EXPECT_EQ(back.detailWidth, 310);
    EXPECT_EQ(window.splitter()->sizes().value(1), 310);
    for (int column = 0; column < 6; ++column)
        EXPECT_EQ(back.columns[column], columns[column]) << column;
    EXPECT_GE(back.columns[6], columns[6]); // the status column takes the list's spare width

    // The boundary dragged 60 pixels to the right: the next start gets the narrower panel.
    QWidget* handle = window.splitter()->handle(1);
    const QPoint from = handle->rect().center(), to = from + QPoint(60, 0);
    auto send = [handle](QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
        QMouseEvent event(type, at, handle->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(handle, &event);
    };
    send(QEvent::MouseButtonPress, from, Qt::LeftButton);
    send(QEvent::MouseMove, to, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, to, Qt::NoButton);
    EXPECT_EQ(window.splitter()->sizes().value(1), 250);
    EXPECT_EQ(window.windowSettings().detailWidth, 250);
}

TEST_F(EditorWindowTest, KeptGeometryOffEveryScreenOrTooWideIsNotUsed)
{
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    WindowSettings settings;
    settings.placed = true;
    settings.left = -60000;
    settings.top = -60000;
    settings.width = 90000;
    settings.height = 500;
    settings.detailWidth = 95000;
    EditorWindow window(settings);
    const WindowSettings back = window.windowSettings();
    EXPECT_NE(back.left, -60000);
    EXPECT_LE(back.width, screen.width());
    // The panel leaves the list room of its own.
    EXPECT_LT(back.detailWidth, back.width);
    EXPECT_GT(window.splitter()->sizes().value(0), 0);
}

// ---- the program -------------------------------------------------------------------------------

TEST(TabulorProgram, HelpAndVersionNeedNoDisplay)
{
    for (const char* option : {"--help", "--version"}) {
        const guitest::ProgramRun run = guitest::runWithoutDisplay(QString(TAMRIN_OUT_DIR) + "/tabulor", option);
        EXPECT_EQ(run.exitCode, 0) << option;
        EXPECT_TRUE(run.out.startsWith(QString(option) == "--help" ? "Usage: tabulor" : "tabulor 1.02"))
            << option << run.out.toStdString();
    }
}

TEST(TabulorScreenshot, EditorWithTheSampleDiscInBothLanguages)
{
    for (const char* language : {"en", "ja"}) {
        uitest::ProgramScope scope{language};
        ASSERT_TRUE(scope.library.ready());
        const fs::path home = std::getenv("TAMRIN_HOME");
        fs::create_directories(home / "Analyze");
        fs::copy_file(analysedCdaz(), home / "Analyze" / kDiscCdaz);
        EditorWindow window;
        window.resize(1040, 640);
        ASSERT_EQ(window.openAnalyzeFolder(), 1);
        window.streamList()->setCurrentItem(window.streamList()->topLevelItem(0));
        window.pluginList()->setCurrentItem(window.pluginList()->topLevelItem(1));
        EXPECT_FALSE(window.detail(EditorWindow::kDetType)->text().isEmpty());
        EXPECT_TRUE(guitest::saveScreenshot(window, QString(language) + "/tabulor-editor"));
    }
}
