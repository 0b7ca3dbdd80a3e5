// The analysis dialogs and the codec choice, each opened through the port, filled through its
// widgets, accepted and cancelled: what the port hands back to the library.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTreeWidget>

#include "tamlib/strings.h"
#include "tamlibui/qt_ui_port.h"
#include "uiport_support.h"

namespace {

using tamlib::AdoptAnswer;
using uitest::click;
using uitest::ModalUser;

tamlib::AdoptRequest adoptRequest(bool twoRecords, bool serverEnabled, AdoptAnswer preferred)
{
    tamlib::AdoptRequest request;
    request.caption = tamlibui::tableText(PLB_IDS_ANA_ADOPT_CAPTION).toStdString();
    request.message =
        tamlibui::tableText(twoRecords ? PLB_IDS_ANA_SERVER_NEWER : PLB_IDS_ANA_LOCAL_FOUND).toStdString();
    request.title = "SAMPLE DISC";
    request.state = tamlibui::tableText(PLB_IDS_ANA_COMPLETED).toStdString();
    request.streams = 12;
    request.validStreams = 11;
    request.adoptable = preferred == AdoptAnswer::Adopt;
    request.plugins = {
        {"Disc movie", "1.02", "1.02", tamlibui::tableText(PLB_IDS_ANA_OK_ROW).toStdString(), true, true},
        {"Disc XA audio", "1.00", "1.10", tamlibui::tableText(PLB_IDS_ANA_AGAIN_ROW).toStdString(), false,
         true},
        {"OLDPLUG.PSR", "0.90", "---", tamlibui::tableText(PLB_IDS_ANA_NO_PLUGIN_ROW).toStdString(), false,
         false},
    };
    request.twoRecords = twoRecords;
    request.serverEnabled = serverEnabled;
    request.defaultAnswer = preferred;
    return request;
}

class PortDialogs : public ::testing::Test
{
  protected:
    uitest::Language m_english{"en"};
    tamlibui::QtUiPort m_port;
};

TEST_F(PortDialogs, AdoptionShowsTheRecordAndItsPluginsAndGivesTheButtonPressed)
{
    const struct
    {
        bool two;
        bool server;
        AdoptAnswer preferred;
        const char* defaultButton;
        const char* press;
        AdoptAnswer expected;
    } cases[] = {
        {false, true, AdoptAnswer::Adopt, "adopt", "searchServer", AdoptAnswer::Server},
        {false, true, AdoptAnswer::Server, "searchServer", "adopt", AdoptAnswer::Adopt},
        {false, false, AdoptAnswer::Analyze, "analyze", "analyze", AdoptAnswer::Analyze},
        {true, false, AdoptAnswer::Local, "adoptLocal", "adoptLocal", AdoptAnswer::Local},
        {true, false, AdoptAnswer::Analyze, "analyze", "adopt", AdoptAnswer::Adopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.press);
        const tamlib::AdoptRequest request = adoptRequest(c.two, c.server, c.preferred);
        ModalUser user;
        user.then("adoptDialog", [&](QDialog& dialog) {
            auto* list = dialog.findChild<QTreeWidget*>("plugins");
            ASSERT_NE(list, nullptr);
            ASSERT_EQ(list->topLevelItemCount(), 3);
            EXPECT_EQ(list->topLevelItem(1)->text(0), "Disc XA audio");
            EXPECT_EQ(list->topLevelItem(1)->text(2), "1.10");
            EXPECT_EQ(list->topLevelItem(2)->text(3), "no plug-in");
            EXPECT_EQ(dialog.findChild<QLabel*>("title")->text(), "SAMPLE DISC");
            EXPECT_TRUE(dialog.findChild<QLabel*>("counts")->text().contains("12"));
            // Local replaces Server with two records; Server only while it may be searched.
            EXPECT_EQ(dialog.findChild<QPushButton*>("adoptLocal") != nullptr, c.two);
            if (auto* server = dialog.findChild<QPushButton*>("searchServer")) {
                EXPECT_EQ(server->isEnabled(), c.server);
            }
            EXPECT_TRUE(dialog.findChild<QPushButton*>(c.defaultButton)->isDefault());
            EXPECT_TRUE(click(dialog, c.press));
        });
        EXPECT_EQ(m_port.adoptCdaz(request), c.expected);
        EXPECT_TRUE(user.finished());
    }
    // Closed without an answer: the default.
    ModalUser closer;
    closer.then("adoptDialog", [](QDialog& dialog) { dialog.close(); });
    EXPECT_EQ(m_port.adoptCdaz(adoptRequest(true, false, AdoptAnswer::Local)), AdoptAnswer::Local);
}

TEST_F(PortDialogs, PluginChoiceReordersAndChecksTheRowsOnlyWhenStarted)
{
    tamlib::PluginChoiceRequest request;
    request.caption = "Start";
    request.rows = {{"Alpha", "ALPHA.PSR", true}, {"Beta", "BETA.PSR", false}, {"Gamma", "GAMMA.PSR", true}};
    const auto original = request.rows;
    ModalUser cancel;
    cancel.then("pluginChoiceDialog", [](QDialog& dialog) {
        auto* list = dialog.findChild<QTreeWidget*>("plugins");
        list->setCurrentItem(list->topLevelItem(2));
        click(dialog, "up");
        click(dialog, "cancel");
    });
    EXPECT_FALSE(m_port.choosePlugins(request));
    ASSERT_EQ(request.rows.size(), 3u);
    EXPECT_EQ(request.rows[1].file, original[1].file);

    ModalUser start;
    start.then("pluginChoiceDialog", [](QDialog& dialog) {
        auto* list = dialog.findChild<QTreeWidget*>("plugins");
        auto* up = dialog.findChild<QPushButton*>("up");
        auto* down = dialog.findChild<QPushButton*>("down");
        // The first row cannot go up, the last not down.
        list->setCurrentItem(list->topLevelItem(0));
        EXPECT_FALSE(up->isEnabled());
        EXPECT_TRUE(down->isEnabled());
        list->setCurrentItem(list->topLevelItem(2));
        EXPECT_FALSE(down->isEnabled());
        // Gamma to the top, keeping its check; Beta checked, Alpha unchecked.
        EXPECT_TRUE(click(dialog, "up"));
        EXPECT_TRUE(click(dialog, "up"));
        EXPECT_FALSE(up->isEnabled());
        list->topLevelItem(2)->setCheckState(0, Qt::Checked);
        list->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
        click(dialog, "start");
    });
    ASSERT_TRUE(m_port.choosePlugins(request));
    ASSERT_EQ(request.rows.size(), 3u);
    EXPECT_EQ(request.rows[0].file, "GAMMA.PSR");
    EXPECT_TRUE(request.rows[0].checked);
    EXPECT_EQ(request.rows[1].file, "ALPHA.PSR");
    EXPECT_FALSE(request.rows[1].checked);
    EXPECT_EQ(request.rows[2].name, "Beta");
    EXPECT_TRUE(request.rows[2].checked);
}

TEST_F(PortDialogs, TitleAndPrefixKeptWithinTheirFieldsOnWholeCharacters)
{
    tamlib::AnalysisDoneRequest request;
    request.caption = "done";
    request.message = "3 stream was found.";
    request.title = "OLD TITLE";
    request.prefix = "STR";
    ModalUser closer;
    closer.then("analysisDoneDialog", [](QDialog& dialog) {
        dialog.findChild<QLineEdit*>("title")->setText("typed, then closed");
        dialog.close();
    });
    m_port.analysisDone(request);
    EXPECT_EQ(request.title, "OLD TITLE"); // only Complete stores

    ModalUser user;
    user.then("analysisDoneDialog", [](QDialog& dialog) {
        auto* title = dialog.findChild<QLineEdit*>("title");
        EXPECT_EQ(title->text(), "OLD TITLE");
        EXPECT_TRUE(title->hasFocus() || !QApplication::focusWidget());
        title->clear();
        // 30 three-byte characters: 90 bytes, more than the field holds.
        title->insert(QString(30, QChar(0x30C7)));
        auto* prefix = dialog.findChild<QLineEdit*>("prefix");
        prefix->clear();
        QTest::keyClicks(prefix, "MOVIE_PREFIX_TOO_LONG");
        click(dialog, "complete");
    });
    m_port.analysisDone(request);
    EXPECT_EQ(request.title.size(), 63u); // 21 whole characters of three bytes
    EXPECT_EQ(QString::fromStdString(request.title), QString(21, QChar(0x30C7)));
    EXPECT_EQ(request.prefix, "MOVIE_PREFIX_TOO");
}

TEST_F(PortDialogs, CodecChoiceUncompressedFirstThenACodecWithItsSettings)
{
    tamlib::CodecChoiceRequest request;
    request.codecs = {{0x47504A4D, "mjpeg", "Motion JPEG", 1, 8000},
                      {0x34504D46, "mpeg4", "MPEG-4 part 2", 12, 7500}};
    request.codec = -1;
    ModalUser user;
    user.then("codecDialog", [](QDialog& dialog) {
        auto* codec = dialog.findChild<QComboBox*>("codec");
        ASSERT_EQ(codec->count(), 3);
        EXPECT_EQ(codec->itemText(0), tamlibui::tableText(PLB_IDS_AVI_NO_COMPRESSION));
        EXPECT_FALSE(dialog.findChild<QSpinBox*>("quality")->isEnabled());
        codec->setCurrentIndex(2);
        EXPECT_EQ(dialog.findChild<QSpinBox*>("keyFrameEvery")->value(), 12); // the codec's default
        dialog.findChild<QSpinBox*>("quality")->setValue(9000);
        dialog.findChild<QCheckBox*>("dataRateOn")->setChecked(true);
        dialog.findChild<QSpinBox*>("dataRate")->setValue(600);
        click(dialog, "ok");
    });
    ASSERT_TRUE(m_port.chooseVideoCodec(request));
    EXPECT_EQ(request.codec, 1);
    EXPECT_EQ(request.keyFrameEvery, 12u);
    EXPECT_EQ(request.quality, 9000u);
    EXPECT_EQ(request.dataRateKb, 600u);

    // The preset comes back in the dialog; Cancel keeps it.
    ModalUser cancel;
    cancel.then("codecDialog", [](QDialog& dialog) {
        EXPECT_EQ(dialog.findChild<QComboBox*>("codec")->currentIndex(), 2);
        EXPECT_EQ(dialog.findChild<QSpinBox*>("dataRate")->value(), 600);
        dialog.findChild<QComboBox*>("codec")->setCurrentIndex(0);
        click(dialog, "cancel");
    });
    EXPECT_FALSE(m_port.chooseVideoCodec(request));
    EXPECT_EQ(request.codec, 1);
}

} // namespace
