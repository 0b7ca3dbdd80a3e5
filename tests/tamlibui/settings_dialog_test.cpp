// The settings dialog driven through its widgets: each page's changes reach the library (and the
// command-line tool's view of the stored file) after OK, and nothing does after Cancel.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "discport/discport.h"
#include "gui_test.h"
#include "settings_test_env.h"
#include "tamlib/analysis.h"
#include "tamlib/environment.h"
#include "tamlib/player.h"
#include "tamlib/strings.h"
#include "tamlibui/settings_dialog.h"

namespace {

using guitest::SettingsEnvironment;
using tamlibui::SettingsDialog;

QPushButton* okButton(SettingsDialog& dialog)
{
    return dialog.buttons()->button(QDialogButtonBox::Ok);
}

QPushButton* buttonNamed(QWidget* parent, uint32_t textId)
{
    char text[PLB_STRING_MAX];
    const QString wanted = QString::fromUtf8(PlbLoadString(nullptr, text, textId));
    for (QPushButton* button : parent->findChildren<QPushButton*>())
        if (button->text() == wanted)
            return button;
    return nullptr;
}

QImage previewPicture(QWidget* page)
{
    for (QLabel* label : page->findChildren<QLabel*>())
        if (!label->pixmap().isNull())
            return label->pixmap().toImage();
    return {};
}

struct StoredSettings
{
    int32_t drive, y, cb, cr, gamma, local, search, upload;
    std::string server, firstPlugin;
    uint32_t firstCaps;
    bool operator==(const StoredSettings&) const = default;
};

StoredSettings stored()
{
    StoredSettings s{};
    s.drive = PlbGetCdDrive(nullptr, nullptr, nullptr);
    PlbGetColor(&s.y, &s.cb, &s.cr, &s.gamma);
    PlbGetAnalyzeMode(&s.local, &s.search, &s.upload);
    char server[256] = {};
    PlbGetServer(server, sizeof server);
    s.server = server;
    char file[PLB_PLUGIN_FILE_MAX + 1] = {};
    PlbGetPluginInfo(0, file, nullptr, nullptr, nullptr, nullptr, &s.firstCaps, nullptr, nullptr);
    s.firstPlugin = file;
    return s;
}

class SettingsDialogTest : public SettingsEnvironment
{
};

TEST_F(SettingsDialogTest, OkStaysDisabledUntilAPageChangesAndCancelAfterChangesOnEveryPageStoresNothing)
{
    const StoredSettings before = stored();
    const std::vector<tamlibui::SettingsPageSpec> pages =
        tamlibui::standardSettingsPages(guitest::previewMovie());
    {
        SettingsDialog dialog(nullptr, {}, pages);
        dialog.show();
        ASSERT_EQ(dialog.tabs()->count(), 4);
        EXPECT_FALSE(okButton(dialog)->isEnabled());
        // Disabled OK and Return do not close the dialog.
        QTest::keyClick(&dialog, Qt::Key_Return);
        EXPECT_TRUE(dialog.isVisible());

        QTreeWidget* plugins = dialog.page(1)->findChild<QTreeWidget*>();
        ASSERT_GT(plugins->topLevelItemCount(), 1);
        plugins->setCurrentItem(plugins->topLevelItem(0));
        QTest::mouseClick(buttonNamed(dialog.page(1), PLB_IDS_SET_DOWN), Qt::LeftButton);
        EXPECT_TRUE(okButton(dialog)->isEnabled());
        QSlider* luminosity = dialog.page(2)->findChildren<QSlider*>().at(0);
        luminosity->setFocus();
        QTest::keyClick(luminosity, Qt::Key_PageUp);
        EXPECT_EQ(luminosity->value(), before.y + 10);
        QTest::mouseClick(dialog.page(3)->findChildren<QRadioButton*>().at(2), Qt::LeftButton);
        QTest::keyClicks(dialog.page(3)->findChild<QLineEdit*>(), "example.org");
        QTest::mouseClick(dialog.buttons()->button(QDialogButtonBox::Cancel), Qt::LeftButton);
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
    }
    EXPECT_EQ(stored(), before);
    // The decoder's colour tables are back as well: a fresh page previews the same picture as one
    // opened before any change.
    SettingsDialog first(nullptr, {}, pages);
    const QImage untouched = previewPicture(first.page(2));
    ASSERT_FALSE(untouched.isNull());
    {
        SettingsDialog previewed(nullptr, {}, pages);
        QSlider* luminosity = previewed.page(2)->findChildren<QSlider*>().at(0);
        QTest::keyClick(luminosity, Qt::Key_PageUp);
        EXPECT_NE(previewPicture(previewed.page(2)), untouched);
        previewed.reject();
    }
    SettingsDialog after(nullptr, {}, pages);
    EXPECT_EQ(previewPicture(after.page(2)), untouched);
}

TEST_F(SettingsDialogTest, ColourSlidersPreviewAtOnceAndOkStoresTheFourValues)
{
    const std::vector<tamlibui::SettingsPageSpec> pages =
        tamlibui::standardSettingsPages(guitest::previewMovie());
    SettingsDialog dialog(nullptr, {}, pages);
    dialog.show();
    dialog.tabs()->setCurrentIndex(2);
    QWidget* page = dialog.page(2);
    const QList<QSlider*> sliders = page->findChildren<QSlider*>();
    ASSERT_EQ(sliders.size(), 4);
    const QImage original = previewPicture(page);
    ASSERT_EQ(original.size(), QSize(160, 112));

    struct Step
    {
        int slider;
        Qt::Key key;
        int expected;
    };
    // Page steps of 10 (gamma 20), single steps of 1; each changes the picture.
    const Step steps[] = {
        {0, Qt::Key_PageUp, 10}, {1, Qt::Key_PageDown, -10}, {2, Qt::Key_Right, 1}, {3, Qt::Key_PageUp, 120}};
    QImage last = original;
    for (const Step& step : steps) {
        sliders[step.slider]->setFocus();
        QTest::keyClick(sliders[step.slider], step.key);
        EXPECT_EQ(sliders[step.slider]->value(), step.expected);
        const QImage now = previewPicture(page);
        EXPECT_NE(now, last) << "slider " << step.slider;
        last = now;
    }
    // Brighter on average after the luminosity step.
    auto meanGreen = [](const QImage& image) {
        double sum = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                sum += qGreen(image.pixel(x, y));
        return sum / (image.width() * image.height());
    };
    EXPECT_GT(meanGreen(last), meanGreen(original));

    QTest::mouseClick(okButton(dialog), Qt::LeftButton);
    int32_t y = 0, cb = 0, cr = 0, gamma = 0;
    PlbGetColor(&y, &cb, &cr, &gamma);
    EXPECT_EQ(y, 10);
    EXPECT_EQ(cb, -10);
    EXPECT_EQ(cr, 1);
    EXPECT_EQ(gamma, 120);
    ASSERT_EQ(PlbSaveEnviron(), 1);
    const QJsonObject color = QJsonDocument::fromJson(cliSettings()).object()["color"].toObject();
    EXPECT_EQ(color["luminosity"].toInt(), 10);
    EXPECT_EQ(color["blue"].toInt(), -10);
    EXPECT_EQ(color["red"].toInt(), 1);
    EXPECT_EQ(color["gamma"].toInt(), 120);
}

// Keeps the last picture a player puts on screen.
struct PictureSink
{
    std::mutex lock;
    std::vector<uint8_t> last;
    int count = 0;
    static void frame(void* context, const FrameDib* picture, const PlbRect*, uint32_t)
    {
        auto* self = static_cast<PictureSink*>(context);
        const auto* bytes = reinterpret_cast<const uint8_t*>(picture) + sizeof(FrameDib);
        std::lock_guard hold(self->lock);
        self->last.assign(bytes, bytes + picture->imageSize);
        ++self->count;
    }
    std::pair<int, std::vector<uint8_t>> shown()
    {
        std::lock_guard hold(lock);
        return {count, last};
    }
};

TEST_F(SettingsDialogTest, APausedOrStoppedPlayerDrawsItsPictureAgainWithTheNewColours)
{
    const QByteArray movie = guitest::previewMovie().toUtf8();
    const std::optional<tamlib::FileIdentity> identity = tamlib::identifyFile(movie.constData());
    ASSERT_TRUE(identity);
    PictureSink pictures;
    const PlbFrameSink sink{&pictures, &PictureSink::frame, 160, 112};
    const PlbPlayerOptions options{"null", nullptr, -1};
    Player* player = PlbOpenPlayerEx(identity->bindName.c_str(), movie.constData(), &identity->info, &sink,
                                     nullptr, 100, 0, &options);
    ASSERT_TRUE(player);
    ASSERT_TRUE(QTest::qWaitFor([&] { return pictures.shown().first > 0; }, 5000));

    for (const uint16_t state : {PLB_STATE_PAUSED, PLB_STATE_STOPPED}) {
        if (state == PLB_STATE_STOPPED) {
            ASSERT_EQ(PlbStopPlayer(player), 1);
        }
        const auto [count, before] = pictures.shown();
        std::vector<tamlibui::SettingsPageSpec> pages(1);
        pages[0].kind = tamlibui::kColorPage;
        pages[0].player = player;
        SettingsDialog dialog(nullptr, {}, pages);
        QSlider* luminosity = dialog.page(0)->findChildren<QSlider*>().at(0);
        QTest::keyClick(luminosity, state == PLB_STATE_PAUSED ? Qt::Key_PageUp : Qt::Key_PageDown);
        EXPECT_TRUE(QTest::qWaitFor(
            [&, count = count, &before = before] {
                const auto [now, picture] = pictures.shown();
                return now > count && picture != before;
            },
            5000))
            << state;
        EXPECT_EQ(PlbGetPlayerStatus(player), state);
        dialog.reject();
    }
    PlbClosePlayer(player);
}

TEST_F(SettingsDialogTest, ColourResetAndInitializeReturnToStoredAndNeutralValues)
{
    ASSERT_EQ(PlbSetColor(5, -6, 7, 150), 1);
    const std::vector<tamlibui::SettingsPageSpec> pages = tamlibui::standardSettingsPages();
    SettingsDialog dialog(nullptr, {}, pages);
    QWidget* page = dialog.page(2);
    const QList<QSlider*> sliders = page->findChildren<QSlider*>();
    ASSERT_EQ(sliders.size(), 4);
    EXPECT_EQ(sliders[3]->value(), 150);
    QTest::keyClick(sliders[0], Qt::Key_End);
    EXPECT_EQ(sliders[0]->value(), 127);
    QTest::mouseClick(buttonNamed(page, PLB_IDS_SET_RESET), Qt::LeftButton);
    EXPECT_EQ(sliders[0]->value(), 5);
    QTest::mouseClick(buttonNamed(page, PLB_IDS_SET_INITIALIZE), Qt::LeftButton);
    EXPECT_EQ(
        (QList<int>{sliders[0]->value(), sliders[1]->value(), sliders[2]->value(), sliders[3]->value()}),
        (QList<int>{0, 0, 0, 100}));
    // Without a movie there is a text in place of the picture, and no failure.
    EXPECT_TRUE(previewPicture(page).isNull());
}

TEST_F(SettingsDialogTest, PluginPageMovesAndSwitchesOffAndTheLibraryKeepsEachPluginsDescription)
{
    struct Plugin
    {
        std::string file, name;
        uint16_t version, subVersion;
        uint32_t caps;
    };
    auto plugin = [](int32_t index) {
        Plugin p{};
        char file[PLB_PLUGIN_FILE_MAX + 1] = {}, name[49] = {};
        PlbGetPluginInfo(index, file, name, &p.version, &p.subVersion, nullptr, &p.caps, nullptr, nullptr);
        p.file = file;
        p.name = name;
        return p;
    };
    const Plugin first = plugin(0), second = plugin(1), third = plugin(2);
    ASSERT_FALSE(third.file.empty());

    const std::vector<tamlibui::SettingsPageSpec> pages = tamlibui::standardSettingsPages();
    SettingsDialog dialog(nullptr, {}, pages);
    dialog.show();
    dialog.tabs()->setCurrentIndex(1);
    QWidget* page = dialog.page(1);
    QTreeWidget* list = page->findChild<QTreeWidget*>();
    QPushButton* up = buttonNamed(page, PLB_IDS_SET_UP);
    QPushButton* down = buttonNamed(page, PLB_IDS_SET_DOWN);
    EXPECT_EQ(list->topLevelItem(0)->text(1).toStdString(), first.file);
    EXPECT_EQ(list->topLevelItem(0)->text(2),
              QString::asprintf("%d.%02d", first.version / 100, first.version % 100));
    // Up is impossible on the first row, Down on the last.
    list->setCurrentItem(list->topLevelItem(0));
    EXPECT_FALSE(up->isEnabled());
    list->setCurrentItem(list->topLevelItem(list->topLevelItemCount() - 1));
    EXPECT_FALSE(down->isEnabled());
    // The first plug-in two rows down, the third one switched off.
    list->setCurrentItem(list->topLevelItem(0));
    QTest::mouseClick(down, Qt::LeftButton);
    QTest::mouseClick(down, Qt::LeftButton);
    list->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
    QTest::mouseClick(okButton(dialog), Qt::LeftButton);

    const Plugin now[3] = {plugin(0), plugin(1), plugin(2)};
    EXPECT_EQ(now[0].file, second.file);
    EXPECT_EQ(now[1].file, third.file);
    EXPECT_EQ(now[2].file, first.file);
    EXPECT_EQ(now[2].name, first.name);
    EXPECT_EQ(now[2].version, first.version);
    EXPECT_EQ(now[2].subVersion, first.subVersion);
    EXPECT_EQ(now[2].caps, first.caps);
    EXPECT_EQ(now[1].caps, third.caps | PLB_PLUGIN_NOUSE);

    ASSERT_EQ(PlbSaveEnviron(), 1);
    const QJsonArray shown = QJsonDocument::fromJson(cliSettings()).object()["plugins"].toArray();
    ASSERT_GE(shown.size(), 3);
    EXPECT_EQ(shown[0].toObject()["file"].toString().toStdString(), second.file);
    EXPECT_EQ(shown[1].toObject()["file"].toString().toStdString(), third.file);
    EXPECT_FALSE(shown[1].toObject()["use"].toBool());
    EXPECT_EQ(shown[2].toObject()["file"].toString().toStdString(), first.file);
    EXPECT_TRUE(shown[2].toObject()["use"].toBool());
}

TEST_F(SettingsDialogTest, AnalysisModesAndServerAreStoredAndARefusedAddressStoresNothing)
{
    const std::vector<tamlibui::SettingsPageSpec> pages = tamlibui::standardSettingsPages();
    {
        SettingsDialog dialog(nullptr, {}, pages);
        dialog.show();
        QWidget* page = dialog.page(3);
        const QList<QRadioButton*> options = page->findChildren<QRadioButton*>();
        ASSERT_EQ(options.size(), 9);
        QTest::mouseClick(options[2], Qt::LeftButton); // local: 2
        QTest::mouseClick(options[4], Qt::LeftButton); // search: 1
        QTest::mouseClick(options[8], Qt::LeftButton); // upload: 2
        QTest::keyClicks(page->findChild<QLineEdit*>(), "bad host!");
        // The refusal is shown; the dialog stays open and nothing is applied, other pages neither.
        bool warned = false;
        QTimer::singleShot(0, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                warned = box->text().contains("bad host!");
                box->reject();
            }
        });
        QTest::mouseClick(okButton(dialog), Qt::LeftButton);
        EXPECT_TRUE(warned);
        EXPECT_TRUE(dialog.isVisible());
        int32_t local = -1, search = -1, upload = -1;
        PlbGetAnalyzeMode(&local, &search, &upload);
        EXPECT_EQ((std::vector<int32_t>{local, search, upload}), (std::vector<int32_t>{0, 0, 0}));

        QLineEdit* server = page->findChild<QLineEdit*>();
        server->clear();
        QTest::keyClicks(server, "cdaz.example.org:8080");
        QTest::mouseClick(okButton(dialog), Qt::LeftButton);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    }
    int32_t local = -1, search = -1, upload = -1;
    PlbGetAnalyzeMode(&local, &search, &upload);
    EXPECT_EQ((std::vector<int32_t>{local, search, upload}), (std::vector<int32_t>{2, 1, 2}));
    char server[256] = {};
    EXPECT_EQ(PlbGetServer(server, sizeof server), 21);
    EXPECT_STREQ(server, "cdaz.example.org:8080");
    ASSERT_EQ(PlbSaveEnviron(), 1);
    const QJsonObject shown = QJsonDocument::fromJson(cliSettings()).object();
    EXPECT_EQ(shown["server"].toString(), "cdaz.example.org:8080");
    EXPECT_EQ(shown["analysis"].toObject()["search"].toObject()["mode"].toInt(), 1);
}

TEST_F(SettingsDialogTest, AMountedImageIsListedChosenAndForgottenWhenItIsUnmountedWhileTheDialogIsOpen)
{
    const int32_t drive = CdMountImage(guitest::sampleDisc().toUtf8().constData());
    ASSERT_GE(drive, 0) << CdImageError();
    const std::vector<tamlibui::SettingsPageSpec> pages(1);
    {
        SettingsDialog dialog(nullptr, {}, pages);
        dialog.show();
        QComboBox* drives = dialog.page(0)->findChild<QComboBox*>();
        int row = -1;
        for (int i = 0; i < drives->count(); ++i)
            if (drives->itemData(i).toInt() == drive)
                row = i;
        ASSERT_GE(row, 0);
        EXPECT_TRUE(drives->itemText(row).startsWith(QString::number(drive + 1) + " "));
        // Nothing is chosen yet: the image is chosen by the keyboard.
        EXPECT_EQ(drives->currentData().toInt(), -1);
        drives->setFocus();
        for (int i = 0; i < drives->count() && drives->currentIndex() != row; ++i)
            QTest::keyClick(drives, drives->currentIndex() < row ? Qt::Key_Down : Qt::Key_Up);
        EXPECT_TRUE(okButton(dialog)->isEnabled());
        QTest::mouseClick(okButton(dialog), Qt::LeftButton);
    }
    char vendor[64] = {}, product[64] = {}, revision[64] = {};
    EXPECT_EQ(PlbGetCdDrive(vendor, product, revision), drive);
    EXPECT_STRNE(product, "");

    // Chosen again, then gone while the dialog is open: the list drops it, OK chooses none.
    SettingsDialog dialog(nullptr, {}, pages);
    dialog.show();
    QComboBox* drives = dialog.page(0)->findChild<QComboBox*>();
    EXPECT_EQ(drives->currentData().toInt(), drive);
    ASSERT_EQ(CdUnmountImage(drive), 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return drives->findData(drive) < 0; }, 3000));
    EXPECT_EQ(drives->currentData().toInt(), -1);
    EXPECT_TRUE(okButton(dialog)->isEnabled());
    QTest::mouseClick(okButton(dialog), Qt::LeftButton);
    EXPECT_EQ(PlbGetCdDrive(vendor, product, revision), -1);
    EXPECT_STREQ(product, "");
}

// A page of the caller: shown as a further tab with its own title, applied after the library's.
class CallerPage : public tamlibui::SettingsPage
{
  public:
    CallerPage(QWidget* parent, std::vector<std::string>& log) : SettingsPage(parent), m_log(log)
    {
        m_check = new QCheckBox("Remember window size", this);
        connect(m_check, &QCheckBox::clicked, this, &SettingsPage::changed);
    }
    void apply() override
    {
        int32_t local = 0, search = 0, upload = 0;
        PlbGetAnalyzeMode(&local, &search, &upload);
        m_log.push_back("caller " + std::to_string(m_check->isChecked()) + " after analysis " +
                        std::to_string(local));
    }
    QCheckBox* m_check;

  private:
    std::vector<std::string>& m_log;
};

TEST_F(SettingsDialogTest, ACallersPageIsShownAppliedInTabOrderAndPlbSetEnvironAnswersOkAndCancel)
{
    std::vector<std::string> log;
    std::vector<tamlibui::SettingsPageSpec> pages = tamlibui::standardSettingsPages();
    tamlibui::SettingsPageSpec own;
    own.kind = 100;
    own.title = "Window";
    own.create = [&log](QWidget* parent) { return new CallerPage(parent, log); };
    pages.push_back(own);

    auto answer = [](bool ok, const std::function<void(SettingsDialog&)>& fill) {
        QTimer::singleShot(0, [=] {
            auto* dialog = qobject_cast<SettingsDialog*>(QApplication::activeModalWidget());
            ASSERT_TRUE(dialog);
            fill(*dialog);
            if (ok)
                QTest::mouseClick(okButton(*dialog), Qt::LeftButton);
            else
                dialog->reject();
        });
    };
    answer(true, [](SettingsDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), "Custom caption");
        ASSERT_EQ(dialog.tabs()->count(), 5);
        EXPECT_EQ(dialog.tabs()->tabText(4), "Window");
        EXPECT_EQ(dialog.tabs()->tabText(0), "Drive");
        dialog.tabs()->setCurrentIndex(4);
        EXPECT_TRUE(dialog.page(4)->isVisible());
        EXPECT_FALSE(dialog.page(0)->isVisible());
        QTest::mouseClick(dialog.page(3)->findChildren<QRadioButton*>().at(1), Qt::LeftButton);
        QTest::mouseClick(static_cast<CallerPage*>(dialog.page(4))->m_check, Qt::LeftButton);
    });
    EXPECT_EQ(PlbSetEnviron(nullptr, "Custom caption", pages), 1);
    EXPECT_EQ(log, std::vector<std::string>{"caller 1 after analysis 1"});

    answer(false, [](SettingsDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), "Set options (Tamlib)");
        QTest::mouseClick(static_cast<CallerPage*>(dialog.page(4))->m_check, Qt::LeftButton);
    });
    EXPECT_EQ(PlbSetEnviron(nullptr, {}, pages), 0);
    EXPECT_EQ(log.size(), 1u);
}

TEST_F(SettingsDialogTest, PlbSetEnvironCalledFromAWorkerOpensOnTheGuiThreadAndAnswersTheWorker)
{
    std::atomic<int32_t> answer{-1};
    std::atomic<bool> dialogOnGuiThread{false};
    std::thread worker([&] {
        const std::vector<tamlibui::SettingsPageSpec> pages(1);
        answer = PlbSetEnviron(nullptr, {}, pages);
    });
    // The dialog runs its own event loop on this thread: a timer closes it from inside that loop.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<SettingsDialog*>(QApplication::activeModalWidget())) {
            dialogOnGuiThread = dialog->thread() == QThread::currentThread();
            dialog->reject();
        }
    });
    closer.start(10);
    EXPECT_TRUE(QTest::qWaitFor([&] { return answer != -1; }, 5000));
    worker.join();
    EXPECT_EQ(answer, 0);
    EXPECT_TRUE(dialogOnGuiThread);
}

TEST_F(SettingsDialogTest, ScreenshotsOfEveryPage)
{
    if (!guitest::screenshotsWanted())
        GTEST_SKIP() << "screenshots not asked for";
    const int32_t drive = CdMountImage(guitest::sampleDisc().toUtf8().constData());
    ASSERT_GE(drive, 0);
    ASSERT_EQ(PlbSetCdDrive(drive), 1);
    const char* names[4] = {"settings-drive", "settings-plugins", "settings-color", "settings-analysis"};
    for (bool japanese : {false, true}) {
        useJapanese(japanese);
        const std::vector<tamlibui::SettingsPageSpec> pages =
            tamlibui::standardSettingsPages(guitest::previewMovie());
        SettingsDialog dialog(nullptr, {}, pages);
        dialog.resize(dialog.sizeHint().expandedTo(QSize(640, 480)));
        for (int i = 0; i < 4; ++i) {
            dialog.tabs()->setCurrentIndex(i);
            EXPECT_TRUE(guitest::saveScreenshot(dialog, QString(japanese ? "ja/" : "en/") + names[i]));
        }
    }
    CdUnmountImage(drive);
}

} // namespace
