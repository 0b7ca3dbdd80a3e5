// The visual kit: tooltips, link buttons, placement, the about box and the progress display,
// driven through their widgets in both languages.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTextLayout>
#include <QToolTip>
#include <QVBoxLayout>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "gui_test.h"
#include "tamlib/strings.h"
#include "tamlibui/library_info.h"
#include "tamlibui/uikit.h"

using namespace tamlibui;

namespace {

// Switches the string tables' language for one scope, as the locale does.
class ScopedLanguage
{
  public:
    explicit ScopedLanguage(bool japanese)
    {
        if (const char* old = std::getenv("LC_ALL"))
            m_old = old, m_had = true;
        ::setenv("LC_ALL", japanese ? "ja_JP.UTF-8" : "C", 1);
    }
    ~ScopedLanguage()
    {
        if (m_had)
            ::setenv("LC_ALL", m_old.c_str(), 1);
        else
            ::unsetenv("LC_ALL");
    }

  private:
    std::string m_old;
    bool m_had = false;
};

// Asks for the tooltip of `target` at `pos` as the application does on hovering; a widget with
// nothing to show ignores the event (the previous tip fades out on its own).
QString tooltipAt(QWidget* target, QPoint pos)
{
    QHelpEvent help(QEvent::ToolTip, pos, target->mapToGlobal(pos));
    QApplication::sendEvent(target, &help);
    return help.isAccepted() && QToolTip::isVisible() ? QToolTip::text() : QString();
}

// Every visible label and button shows its whole text after layout.
void expectNothingClipped(QWidget& window, const char* what)
{
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QApplication::processEvents();
    int checked = 0;
    for (QWidget* child : window.findChildren<QWidget*>()) {
        if (!child->isVisible())
            continue;
        const auto* label = qobject_cast<QLabel*>(child);
        if (!label && !qobject_cast<QAbstractButton*>(child))
            continue;
        ++checked;
        const QString text = label ? label->text() : static_cast<QAbstractButton*>(child)->text();
        if (label && label->wordWrap()) {
            EXPECT_LE(label->heightForWidth(label->width()), label->height())
                << what << ": " << text.toStdString();
        } else {
            EXPECT_LE(child->sizeHint().width(), child->width()) << what << ": " << text.toStdString();
            EXPECT_LE(child->sizeHint().height(), child->height()) << what << ": " << text.toStdString();
        }
    }
    EXPECT_GT(checked, 0) << what;
}

PlbAboutRecord fullRecord()
{
    PlbAboutRecord record;
    record.product = "Tamrin";
    record.version = "Version 1.2.3";
    record.text = QString::fromUtf8("Finds, previews and converts the media of PlayStation discs. "
                                    "ディスクの映像と音声を探して変換します。");
    record.homePage = "https://example.org/tamrin/";
    record.mail = "team@example.org";
    QPixmap picture(48, 48);
    picture.fill(Qt::darkCyan);
    record.icon = QIcon(picture);
    return record;
}

class LinkRecorder
{
  public:
    LinkRecorder()
    {
        m_previous = setLinkOpener([this](const QUrl& url) {
            opened.push_back(url);
            return true;
        });
    }
    ~LinkRecorder() { setLinkOpener(std::move(m_previous)); }
    std::vector<QUrl> opened;

  private:
    LinkOpener m_previous;
};

} // namespace

TEST(UiKitTooltip, ControlsShowTheirTextsAndStopWhenRemoved)
{
    QWidget dialog;
    auto* layout = new QVBoxLayout(&dialog);
    auto* play = new QPushButton("Play", &dialog);
    auto* label = new QLabel("Static text", &dialog);
    auto* other = new QPushButton("Other", &dialog);
    layout->addWidget(play);
    layout->addWidget(label);
    layout->addWidget(other);
    PlbSetItemId(play, PLB_IDS_PLAY_CONTROL + 1);
    PlbSetItemId(label, 40);
    PlbSetItemId(other, 41);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));

    // Text from the table by the control number, made a tooltip by the core's rule.
    PlbTooltip* tips = PlbAddTooltip(nullptr, nullptr, &dialog, PLB_IDS_PLAY_CONTROL + 1);
    ASSERT_NE(tips, nullptr);
    char expected[PLB_STRING_MAX + 2];
    PlbLoadString(nullptr, expected, PLB_IDS_PLAY_CONTROL + 1);
    PlbTooltipText(expected);
    ASSERT_STRNE(expected, "");
    EXPECT_EQ(tooltipAt(play, QPoint(3, 3)), QString::fromUtf8(expected));

    // A static item answers through its dialog, inside its rectangle only.
    EXPECT_EQ(PlbAddTooltip(tips, "About the label", &dialog, 40), tips);
    EXPECT_EQ(tooltipAt(&dialog, label->geometry().center()), "About the label");
    EXPECT_EQ(tooltipAt(&dialog, other->geometry().center()), "");
    EXPECT_EQ(tooltipAt(other, QPoint(2, 2)), "");
    EXPECT_TRUE(dialog.testAttribute(Qt::WA_AlwaysShowToolTips));
    // The layout moves the label: its tip goes with it.
    const QPoint before = label->geometry().center();
    layout->insertSpacing(0, 200);
    layout->activate();
    ASSERT_FALSE(label->geometry().contains(before));
    EXPECT_EQ(tooltipAt(&dialog, label->geometry().center()), "About the label");

    // Adding again replaces the text rather than stacking a second tool.
    PlbAddTooltip(tips, "Second text", &dialog, PLB_IDS_PLAY_CONTROL + 1);
    EXPECT_EQ(tooltipAt(play, QPoint(3, 3)), "Second text");

    EXPECT_TRUE(PlbDelTooltip(tips, &dialog, PLB_IDS_PLAY_CONTROL + 1));
    EXPECT_FALSE(PlbDelTooltip(tips, &dialog, PLB_IDS_PLAY_CONTROL + 1));
    EXPECT_EQ(tooltipAt(play, QPoint(3, 3)), "");
    EXPECT_TRUE(PlbDelTooltip(tips, &dialog, 40));
    EXPECT_EQ(tooltipAt(&dialog, label->geometry().center()), "");

    // Nothing to attach to, or nothing to say.
    EXPECT_EQ(PlbAddTooltip(tips, "x", &dialog, 999), nullptr);
    EXPECT_EQ(PlbAddTooltip(tips, "x", nullptr, 41), nullptr);
    EXPECT_EQ(PlbAddTooltip(tips, nullptr, &dialog, 41), nullptr); // 41 has no text in the table
    EXPECT_EQ(PlbAddTooltip(tips, "", &dialog, 41), nullptr);
    EXPECT_FALSE(PlbDelTooltip(nullptr, &dialog, 41));
    QToolTip::hideText();
}

TEST(UiKitTooltip, LongTextsWrapWithinTheWidthLimit)
{
    const QString words = QString("conversion ").repeated(80).trimmed();
    const QString wrapped = wrapTooltipText(words);
    const QStringList lines = wrapped.split('\n');
    EXPECT_GT(lines.size(), 1);
    const QFontMetrics metrics(QToolTip::font());
    for (const QString& line : lines)
        EXPECT_LE(metrics.horizontalAdvance(line), PlbTooltip::kMaxWidth) << line.toStdString();
    EXPECT_EQ(QString(wrapped).replace('\n', ' '), words); // no word lost
    EXPECT_EQ(wrapTooltipText("short\nlines"), "short\nlines");
}

TEST(UiKitLink, ButtonLooksLikeALinkAndOpensOnlyWebAndMailUrls)
{
    LinkRecorder recorder;
    QWidget dialog;
    auto* button = new QPushButton("example.org", &dialog);
    PlbSetItemId(button, 12);
    auto* label = new QLabel("not a button", &dialog);
    PlbSetItemId(label, 13);

    ASSERT_TRUE(PlbSetLinkButton(&dialog, 12, QUrl("https://example.org/a")));
    EXPECT_TRUE(button->font().underline());
    EXPECT_EQ(button->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(button->palette().color(QPalette::ButtonText), QColor(0, 0, 255));
    // Set again: the new target replaces the old one.
    ASSERT_TRUE(PlbSetLinkButton(&dialog, 12, QUrl("https://example.org/b")));
    dialog.show();
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_EQ(recorder.opened.size(), 1u);
    EXPECT_EQ(recorder.opened[0], QUrl("https://example.org/b"));

    EXPECT_FALSE(PlbSetLinkButton(&dialog, 13, QUrl("https://example.org/")));
    EXPECT_FALSE(PlbSetLinkButton(&dialog, 99, QUrl("https://example.org/")));
    EXPECT_FALSE(PlbSetLinkButton(nullptr, QUrl("https://example.org/")));

    // Only web pages and mail addresses reach the desktop.
    for (const char* refused :
         {"file:///usr/bin/xterm", "/etc/passwd", "javascript:alert(1)", "smb://host/share", "", "http://"})
        EXPECT_FALSE(openLink(QUrl(refused))) << refused;
    EXPECT_EQ(recorder.opened.size(), 1u);
    for (const char* accepted : {"http://example.org/", "HTTPS://example.org/x", "mailto:a@example.org"})
        EXPECT_TRUE(openLink(QUrl(accepted))) << accepted;
    EXPECT_EQ(recorder.opened.size(), 4u);
}

TEST(UiKitPlacement, PagesAlignInTheirParentAndItemsReportTheirRectangles)
{
    QWidget parent;
    parent.resize(300, 200);
    auto* page = new QWidget(&parent);
    page->resize(100, 50);
    const struct
    {
        int alignment;
        QPoint at;
    } cases[] = {
        {0x00, {0, 0}},     {0x01, {200, 0}},  {0x02, {100, 0}}, {0x10, {0, 146}},
        {0x11, {200, 146}}, {0x22, {100, 75}}, {0x0F, {100, 0}}, {0xF1, {200, 75}},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(PlbSetTabPagePos(page, c.alignment));
        EXPECT_EQ(page->pos(), c.at) << std::hex << c.alignment;
    }
    QWidget orphan;
    EXPECT_FALSE(PlbSetTabPagePos(&orphan, 0));

    // Item rectangles in the dialog's coordinates, through a nested group.
    auto* group = new QWidget(&parent);
    group->setGeometry(20, 30, 200, 150);
    auto* item = new QLabel("x", group);
    item->setGeometry(5, 7, 60, 20);
    PlbSetItemId(item, 3);
    QRect rect;
    ASSERT_TRUE(PlbGetItemRect(&rect, &parent, 3));
    EXPECT_EQ(rect, QRect(25, 37, 60, 20));
    rect = QRect(1, 2, 3, 4);
    EXPECT_FALSE(PlbGetItemRect(&rect, &parent, 4));
    EXPECT_EQ(rect, QRect(1, 2, 3, 4));
    EXPECT_FALSE(PlbGetItemRect(nullptr, &parent, 3));
    EXPECT_FALSE(PlbGetItemRect(&rect, nullptr, 3));
}

TEST(UiKitAbout, ShowsEveryPartAndOpensItsLinks)
{
    LinkRecorder recorder;
    std::unique_ptr<QDialog> about(PlbCreateAboutPanel(nullptr, fullRecord()));
    about->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(about.get()));
    for (int item = kAboutIcon; item <= kAboutOk; ++item)
        EXPECT_TRUE(PlbGetItem(about.get(), item)->isVisible()) << item;
    EXPECT_EQ(about->windowTitle(), "About Tamrin");
    auto* product = qobject_cast<QLabel*>(PlbGetItem(about.get(), kAboutProduct));
    auto* version = qobject_cast<QLabel*>(PlbGetItem(about.get(), kAboutVersion));
    EXPECT_GT(product->font().pointSizeF(), version->font().pointSizeF() * 1.5);
    EXPECT_TRUE(version->font().bold());
    EXPECT_EQ(qobject_cast<QLabel*>(PlbGetItem(about.get(), kAboutQtVersion))->text().toStdString(),
              qtVersionLine());

    QTest::mouseClick(qobject_cast<QAbstractButton*>(PlbGetItem(about.get(), kAboutHomePage)),
                      Qt::LeftButton);
    QTest::mouseClick(qobject_cast<QAbstractButton*>(PlbGetItem(about.get(), kAboutMail)), Qt::LeftButton);
    ASSERT_EQ(recorder.opened.size(), 2u);
    EXPECT_EQ(recorder.opened[0], QUrl("https://example.org/tamrin/"));
    EXPECT_EQ(recorder.opened[1], QUrl("mailto:team@example.org"));

    QTest::mouseClick(qobject_cast<QAbstractButton*>(PlbGetItem(about.get(), kAboutOk)), Qt::LeftButton);
    EXPECT_EQ(about->result(), QDialog::Accepted);
    EXPECT_FALSE(about->isVisible());
}

TEST(UiKitAbout, MissingPartsAreHiddenAndEscapeCloses)
{
    PlbAboutRecord record;
    record.title = "Only a title";
    record.product = "Tabulor";
    std::unique_ptr<QDialog> about(PlbCreateAboutPanel(nullptr, record));
    about->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(about.get()));
    EXPECT_EQ(about->windowTitle(), "Only a title");
    EXPECT_TRUE(PlbGetItem(about.get(), kAboutProduct)->isVisible());
    for (int item : {kAboutIcon, kAboutVersion, kAboutText, kAboutHomePage, kAboutMail})
        EXPECT_FALSE(PlbGetItem(about.get(), item)->isVisible()) << item;
    QTest::keyClick(about.get(), Qt::Key_Escape);
    EXPECT_EQ(about->result(), QDialog::Rejected);
    EXPECT_FALSE(about->isVisible());
}

TEST(UiKitProgress, TextsOfTheEstimateAndOfTheAnalysisState)
{
    ScopedLanguage english(false);
    const struct
    {
        uint32_t elapsed, estimate;
        const char* elapsedText;
        const char* remainingText;
    } cases[] = {
        {0, 0, "Elapsed 0:00", "Estimating the remaining time..."},
        {30, 100, "Elapsed 0:30", "After, about 01'10\""},
        {5, 47, "Elapsed 0:05", "After, about 45\""},  // 42 s rounds up to 5 s
        {61, 60, "Elapsed 1:01", "After, about 00\""}, // the clock passed the estimate
        {125, 125 + 7300, "Elapsed 2:05", "After, about 02:01"},
        {0, 3600, "Elapsed 0:00", "After, about 60'00\""},
    };
    ProgressDisplay display;
    for (const auto& c : cases) {
        display.showTimes(c.elapsed, c.estimate, 1, 2);
        EXPECT_EQ(display.elapsedText().toStdString(), c.elapsedText);
        EXPECT_EQ(display.remainingText().toStdString(), c.remainingText);
    }
    // The texts the analysis reports through the port: its count in the bar.
    auto* bar = display.findChild<QProgressBar*>();
    tamlib::ProgressState state;
    state.done = 300;
    state.total = 1200;
    state.count = "300/1200 : 25%";
    state.elapsed = "1:05";
    display.showState(state);
    EXPECT_EQ(display.elapsedText(), "Elapsed 1:05");
    EXPECT_EQ(display.remainingText(), "Estimating the remaining time...");
    EXPECT_EQ(bar->value(), 250);
    EXPECT_EQ(bar->text(), "300/1200 : 25%");
    state.remaining = "After, about 03'20\"";
    state.done = 5000; // past the end: the bar stops full
    display.showState(state);
    EXPECT_EQ(display.remainingText(), "After, about 03'20\"");
    EXPECT_EQ(bar->value(), bar->maximum());
    state.total = 0;
    display.showState(state);
    EXPECT_EQ(bar->value(), 0);
    ScopedLanguage japanese(true);
    EXPECT_EQ(ProgressDisplay::formatRemaining(70).toStdString(), "残り約 01分10秒");
    EXPECT_EQ(ProgressDisplay::formatElapsed(75).toStdString(), "経過 1:15");
}

TEST(UiKitProgress, FollowsTheCoreEstimatorFromAWorker)
{
    ScopedLanguage english(false);
    ProgressDisplay display;
    auto* bar = display.findChild<QProgressBar*>();
    ASSERT_NE(bar, nullptr);
    ASSERT_TRUE(display.begin(120, 1));
    // A twin of the core's estimator fed alongside gives the elapsed seconds to expect.
    PlbProgress* twin = PlbBeginProgress(120, 1);
    std::atomic<bool> done{false};
    uint32_t twinElapsed = 0;
    std::thread worker([&] {
        for (uint32_t value = 10; value <= 120; value += 10) {
            std::this_thread::sleep_for(std::chrono::milliseconds(110));
            display.setProgress(value);
            twinElapsed = PlbSetProgress(twin, value, nullptr);
        }
        done = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 10000));
    worker.join();
    PlbEndProgress(twin);
    EXPECT_GE(twinElapsed, 1u);
    EXPECT_EQ(display.elapsedText(), ProgressDisplay::formatElapsed(twinElapsed));
    EXPECT_EQ(bar->value(), bar->maximum());
    display.end();
    display.setProgress(60); // no estimator any more: the texts stay
    EXPECT_EQ(bar->value(), bar->maximum());
    // An empty job and a display destroyed while its estimator runs.
    display.showTimes(0, 0, 5, 0);
    EXPECT_EQ(bar->value(), 0);
    auto running = std::make_unique<ProgressDisplay>();
    ASSERT_TRUE(running->begin(10, 0));
    running->setProgress(3);
    running.reset();
}

// Both windows in both languages: nothing clipped; saved as pictures when the run asks for them.
TEST(UiKitScreenshot, AboutBoxAndProgressDisplayFitTheirTexts)
{
    for (bool japanese : {false, true}) {
        ScopedLanguage language(japanese);
        const QString folder = japanese ? "ja/" : "en/";
        std::unique_ptr<QDialog> about(PlbCreateAboutPanel(nullptr, fullRecord()));
        expectNothingClipped(*about, japanese ? "ja" : "en");
        ProgressDisplay display;
        display.showTimes(754, 754 + 3725, 4, 5);
        display.resize(display.sizeHint().expandedTo(QSize(360, 0)));
        expectNothingClipped(display, japanese ? "ja" : "en");
        if (guitest::screenshotsWanted()) {
            EXPECT_TRUE(guitest::saveScreenshot(*about, folder + "about"));
            EXPECT_TRUE(guitest::saveScreenshot(display, folder + "progress-display"));
        }
    }
}
