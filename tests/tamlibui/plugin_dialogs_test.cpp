// The plug-in of a CDAZ stream and the plug-in choice for a stream file, driven through their
// widgets on the installed plug-ins.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <cstring>

#include "gui_test.h"
#include "settings_test_env.h"
#include "tamlib/cdaz.h"
#include "tamlib/environment.h"
#include "tamlibui/plugin_dialogs.h"

namespace {

using guitest::SettingsEnvironment;
using tamlibui::PluginInfoDialog;
using tamlibui::SelectPluginDialog;

class PluginDialogsTest : public SettingsEnvironment
{
  protected:
    void TearDown() override
    {
        if (m_record)
            PlbFreeCDAZ(m_record);
        SettingsEnvironment::TearDown();
    }

    // A record with one stream per entry, found by the given plug-in entries.
    struct Entry
    {
        const char* plugin;
        int32_t version;
        const char* author;
        const char* address;
    };
    CdazRecord* record(std::initializer_list<Entry> entries)
    {
        CdVolumeInfo volume{};
        m_record = PlbAllocCDAZ("TESTDISC", "Test disc", "TD", &volume, 8, 8);
        EXPECT_TRUE(m_record);
        uint32_t sector = 100;
        for (const Entry& entry : entries) {
            StrInfo info{};
            info.kind = 1;
            info.startSector = sector;
            info.sectorCount = 50;
            sector += 100;
            PlbSetStreamCDAZ(m_record, (std::string("Movie of ") + entry.plugin).c_str(), &info, entry.plugin,
                             entry.version, entry.author, entry.address);
        }
        return m_record;
    }

    CdazRecord* m_record = nullptr;
};

uint16_t installedVersion(const char* plugin)
{
    char file[PLB_PLUGIN_FILE_MAX + 1] = {};
    std::strcpy(file, plugin);
    uint16_t version = 0;
    EXPECT_GT(PlbGetPluginInfo(-1, file, nullptr, &version, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
    return version;
}

QString shown(uint16_t version)
{
    return QString::asprintf("%d.%02d", version / 100, version % 100);
}

TEST_F(PluginDialogsTest, AboutPluginShowsTheStreamsEntryWithBothVersionsAndTheEntrysOwnLink)
{
    const uint16_t film = installedVersion("FILMFILE.PSR");
    CdazRecord* cdaz = record({{"FILMFILE.PSR", film, "", ""},
                               {"FILMFILE.PSR", 100, "A. Author", "www.example.org/film"},
                               {"NOSUCH.PSR", 105, "", "http://example.org/nosuch"}});
    ASSERT_EQ(PlbGetCDAZInfo(cdaz, nullptr, nullptr, nullptr, nullptr, nullptr), 3);
    struct Case
    {
        int stream;
        QString version;
        bool link;
        QString linkText;
        QString rowName;
    };
    const Case cases[] = {
        {1, shown(film) + " [CDAZ Ver1.00]", true, "A. Author", "STR file"},
        {2, "--- [CDAZ Ver1.05]", true, "NOSUCH.PSR", ""},
    };
    for (const Case& c : cases) {
        // Streams may be sorted by the record: find the one of this entry by its name.
        int index = -1;
        for (int i = 0; i < 3; ++i) {
            char name[PLB_CDAZ_STREAM_NAME_BYTES] = {};
            StrInfo info{};
            PlbGetCDAZStream(cdaz, i, &info, name, nullptr, nullptr);
            if (info.startSector == uint32_t(100 + 100 * c.stream))
                index = i;
        }
        ASSERT_GE(index, 0);
        PluginInfoDialog dialog(nullptr, cdaz, index);
        dialog.show();
        ASSERT_EQ(dialog.list()->topLevelItemCount(), 1);
        EXPECT_TRUE(dialog.list()->topLevelItem(0)->isSelected());
        if (!c.rowName.isEmpty()) {
            EXPECT_EQ(dialog.list()->topLevelItem(0)->text(0), c.rowName);
        }
        EXPECT_EQ(dialog.details()->version()->text(), c.version);
        EXPECT_EQ(dialog.details()->link()->isVisible(), c.link);
        EXPECT_TRUE(dialog.details()->link()->text().contains(">" + c.linkText + "<")) << c.stream;
        // The plug-in has no settings of its own (or is not installed).
        EXPECT_FALSE(dialog.configureButton()->isEnabled());
        QTest::keyClick(&dialog, Qt::Key_Return);
        EXPECT_FALSE(dialog.isVisible());
    }
    // The same version as installed shows no CDAZ version.
    for (int i = 0; i < 3; ++i) {
        StrInfo info{};
        PlbGetCDAZStream(cdaz, i, &info, nullptr, nullptr, nullptr);
        if (info.startSector == 100) {
            PluginInfoDialog dialog(nullptr, cdaz, i);
            EXPECT_EQ(dialog.details()->version()->text(), shown(film));
        }
    }
    // A stream that is not there, or no record: an empty list, no failure.
    PluginInfoDialog missing(nullptr, cdaz, 99);
    EXPECT_EQ(missing.list()->topLevelItemCount(), 0);
    bool opened = false;
    QTimer::singleShot(0, [&opened] {
        if (QWidget* modal = qobject_cast<PluginInfoDialog*>(QApplication::activeModalWidget())) {
            opened = true;
            modal->close();
        }
    });
    EXPECT_EQ(PlbPluginInfoCd(nullptr, nullptr, 0), 0);
    EXPECT_TRUE(opened);
}

// Runs `answer` on the plug-in choice once it is open.
void whenOpen(const std::function<void(SelectPluginDialog&)>& answer)
{
    QTimer::singleShot(0, [answer] {
        auto* dialog = qobject_cast<SelectPluginDialog*>(QApplication::activeModalWidget());
        ASSERT_TRUE(dialog);
        answer(*dialog);
    });
}

int rowOf(SelectPluginDialog& dialog, const QString& plugin)
{
    for (int i = 0; i < dialog.list()->topLevelItemCount(); ++i)
        if (dialog.list()->topLevelItem(i)->text(1) == plugin)
            return i;
    return -1;
}

TEST_F(PluginDialogsTest, ChoosingAPluginJudgesItAndOnlyAnotherPluginThanTheCurrentOneIsReported)
{
    const QByteArray movie = guitest::previewMovie().toUtf8();
    // Current plug-in preselected and judged good: OK on it answers 0 and changes nothing.
    char plugin[PLB_PLUGIN_FILE_MAX + 1] = "FILMFILE.PSR";
    StrInfo info{};
    info.width = 7;
    whenOpen([](SelectPluginDialog& dialog) {
        const int row = rowOf(dialog, "FILMFILE.PSR");
        ASSERT_GE(row, 0);
        EXPECT_EQ(dialog.list()->currentItem(), dialog.list()->topLevelItem(row));
        EXPECT_EQ(dialog.judgement(row), SelectPluginDialog::Judgement::Good);
        EXPECT_FALSE(dialog.judgeButton()->isEnabled());
        EXPECT_TRUE(dialog.okButton()->isEnabled());
        QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
    });
    EXPECT_EQ(PlbSelectPluginFile(nullptr, movie.constData(), &info, plugin), 0);
    EXPECT_STREQ(plugin, "FILMFILE.PSR");
    EXPECT_EQ(info.width, 7u);

    // No current plug-in: the movie's plug-in must be judged first, then it is reported with its
    // description of the file.
    char none[PLB_PLUGIN_FILE_MAX + 1] = "";
    whenOpen([](SelectPluginDialog& dialog) {
        const int row = rowOf(dialog, "FILMFILE.PSR");
        ASSERT_GE(row, 0);
        dialog.list()->setCurrentItem(dialog.list()->topLevelItem(row));
        EXPECT_EQ(dialog.judgement(row), SelectPluginDialog::Judgement::NotJudged);
        EXPECT_FALSE(dialog.okButton()->isEnabled());
        QTest::mouseClick(dialog.judgeButton(), Qt::LeftButton);
        EXPECT_EQ(dialog.judgement(row), SelectPluginDialog::Judgement::Good);
        EXPECT_FALSE(dialog.judgeButton()->isEnabled());
        QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
    });
    EXPECT_EQ(PlbSelectPluginFile(nullptr, movie.constData(), &info, none), 1);
    EXPECT_STREQ(none, "FILMFILE.PSR");
    EXPECT_EQ(info.width, 160u);
    EXPECT_EQ(info.height, 112u);
    EXPECT_EQ(info.frameCount, 44u);

    // Cancel answers 0 whatever was judged.
    char again[PLB_PLUGIN_FILE_MAX + 1] = "";
    whenOpen([](SelectPluginDialog& dialog) {
        dialog.list()->setCurrentItem(dialog.list()->topLevelItem(0));
        QTest::mouseClick(dialog.judgeButton(), Qt::LeftButton);
        dialog.reject();
    });
    EXPECT_EQ(PlbSelectPluginFile(nullptr, movie.constData(), &info, again), 0);
    EXPECT_STREQ(again, "");
}

TEST_F(PluginDialogsTest, AFileNoPluginTakesListsNothingAndAllowsNoChoice)
{
    const QString path = m_home.filePath("notes.txt");
    QFile notes(path);
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.write("not a movie\n");
    notes.close();
    SelectPluginDialog dialog(nullptr, path, "FILMFILE.PSR");
    dialog.show();
    EXPECT_EQ(rowOf(dialog, "FILMFILE.PSR"), -1);
    for (int i = 0; i < dialog.list()->topLevelItemCount(); ++i) {
        dialog.list()->setCurrentItem(dialog.list()->topLevelItem(i));
        QTest::mouseClick(dialog.judgeButton(), Qt::LeftButton);
        EXPECT_EQ(dialog.judgement(i), SelectPluginDialog::Judgement::Unable) << i;
        EXPECT_FALSE(dialog.okButton()->isEnabled());
    }
    QTest::keyClick(&dialog, Qt::Key_Return);
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    // Null arguments are refused before any window opens.
    EXPECT_EQ(PlbSelectPluginFile(nullptr, nullptr, nullptr, nullptr), 0);
}

TEST_F(PluginDialogsTest, ScreenshotsOfBothDialogs)
{
    if (!guitest::screenshotsWanted())
        GTEST_SKIP() << "screenshots not asked for";
    CdazRecord* cdaz = record({{"FILMFILE.PSR", 100, "A. Author", "www.example.org/film"}});
    for (bool japanese : {false, true}) {
        useJapanese(japanese);
        const QString language = japanese ? "ja/" : "en/";
        PluginInfoDialog info(nullptr, cdaz, 0);
        EXPECT_TRUE(guitest::saveScreenshot(info, language + "plugin-info"));
        SelectPluginDialog select(nullptr, guitest::previewMovie(), "FILMFILE.PSR");
        EXPECT_TRUE(guitest::saveScreenshot(select, language + "plugin-select"));
    }
}

} // namespace
