// The port's message boxes and the first-start choice, answered through their buttons: captions,
// icons, button order and texts, the default button, and what closing a box answers.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <atomic>
#include <memory>
#include <thread>

#include "tamlib/strings.h"
#include "tamlib/ui_port.h"
#include "tamlibui/qt_ui_port.h"
#include "uiport_support.h"

namespace {

using uitest::click;
using uitest::ModalUser;

struct BoxCase
{
    uint32_t type;
    std::vector<int32_t> buttons; // in order
    int32_t preferred;            // the default button
    int32_t closed;               // the answer of a box closed without a button; 0: cannot be closed
};

class PortMessages : public ::testing::Test
{
  protected:
    uitest::Language m_english{"en"};
    tamlibui::QtUiPort m_port;
    tamlib::ScopedUiPort m_installed{m_port};
};

TEST_F(PortMessages, ButtonsInOrderWithTheirNamesDefaultAndEveryAnswer)
{
    const BoxCase cases[] = {
        {PLB_MB_OK, {PLB_IDOK}, PLB_IDOK, PLB_IDOK},
        {PLB_MB_OKCANCEL, {PLB_IDOK, PLB_IDCANCEL}, PLB_IDOK, PLB_IDCANCEL},
        {PLB_MB_ABORTRETRYIGNORE | PLB_MB_DEFBUTTON2,
         {PLB_IDABORT, PLB_IDRETRY, PLB_IDIGNORE},
         PLB_IDRETRY,
         0},
        {PLB_MB_YESNOCANCEL | PLB_MB_DEFBUTTON3,
         {PLB_IDYES, PLB_IDNO, PLB_IDCANCEL},
         PLB_IDCANCEL,
         PLB_IDCANCEL},
        {PLB_MB_YESNO | PLB_MB_DEFBUTTON2, {PLB_IDYES, PLB_IDNO}, PLB_IDNO, 0},
        {PLB_MB_RETRYCANCEL, {PLB_IDRETRY, PLB_IDCANCEL}, PLB_IDRETRY, PLB_IDCANCEL},
    };
    for (const BoxCase& c : cases) {
        SCOPED_TRACE(c.type);
        for (int32_t answer : c.buttons) {
            ModalUser user;
            user.then("messageBox", [&](QDialog& box) {
                auto* message = qobject_cast<QMessageBox*>(&box);
                ASSERT_NE(message, nullptr);
                std::vector<int32_t> shown;
                QStringList names;
                for (QAbstractButton* button : message->buttons()) {
                    shown.push_back(button->objectName().mid(6).toInt());
                    names << button->text();
                }
                EXPECT_EQ(shown, c.buttons);
                QStringList expected;
                for (int32_t b : c.buttons)
                    expected << QString::fromStdString(tamlib::answerName(b));
                EXPECT_EQ(names, expected);
                ASSERT_NE(message->defaultButton(), nullptr);
                EXPECT_EQ(message->defaultButton()->objectName(), QString("answer%1").arg(c.preferred));
                EXPECT_TRUE(click(box, QString("answer%1").arg(answer)));
            });
            EXPECT_EQ(PlbMessage(nullptr, c.type, "Caption", "text %d", 5), answer);
            EXPECT_TRUE(user.finished());
        }
        ModalUser closer;
        closer.then("messageBox", [&](QDialog& box) {
            box.close();
            if (c.closed == 0) {
                // A box without Cancel must be answered with one of its buttons.
                EXPECT_TRUE(box.isVisible());
                click(box, QString("answer%1").arg(c.preferred));
            }
        });
        EXPECT_EQ(PlbMessage(nullptr, c.type, "Caption", "closed"), c.closed ? c.closed : c.preferred);
    }
}

TEST_F(PortMessages, CaptionsAndIconsOfTheFourKindsInBothLanguages)
{
    using Show = int32_t (*)(void*, uint32_t, const char*, ...);
    const struct
    {
        Show show;
        uint32_t caption;
        QMessageBox::Icon icon;
    } kinds[] = {{PlbError, PLB_IDS_ERROR, QMessageBox::Critical},
                 {PlbWarning, PLB_IDS_WARNING, QMessageBox::Warning},
                 {PlbQuestion, PLB_IDS_QUESTION, QMessageBox::Question},
                 {PlbInformation, PLB_IDS_INFORMATION, QMessageBox::Information}};
    for (const char* language : {"en", "ja"}) {
        uitest::Language chosen(language);
        for (const auto& kind : kinds) {
            ModalUser user;
            user.then("messageBox", [&](QDialog& box) {
                auto& message = static_cast<QMessageBox&>(box);
                EXPECT_EQ(message.windowTitle(), tamlibui::tableText(kind.caption));
                EXPECT_EQ(message.windowTitle().at(0).unicode() < 0x80, chosen.code() == "en");
                EXPECT_EQ(message.icon(), kind.icon);
                EXPECT_EQ(message.text(), "sector 12 failed");
                click(box, "answer1");
            });
            // The kind's icon replaces the one given.
            EXPECT_EQ(kind.show(nullptr, PLB_MB_OK | PLB_MB_ICONINFORMATION, "sector %d failed", 12),
                      PLB_IDOK);
            EXPECT_TRUE(user.finished());
        }
    }
}

TEST_F(PortMessages, FromAWorkerModalToTheWindowGivenOrTheActiveOneWhenItIsGone)
{
    QWidget owner;
    owner.show();
    QWidget* parentSeen = nullptr;
    ModalUser user;
    user.then("messageBox", [&](QDialog& box) {
        parentSeen = box.parentWidget();
        EXPECT_TRUE(box.isModal());
        click(box, "answer6");
    });
    int32_t answer = 0;
    std::thread worker([&] { answer = PlbQuestion(&owner, PLB_MB_YESNO, "from a worker"); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return answer != 0; }, 5000));
    worker.join();
    EXPECT_EQ(answer, PLB_IDYES);
    EXPECT_EQ(parentSeen, &owner);

    // A handle of a window that no longer exists is not touched.
    auto gone = std::make_unique<QWidget>();
    void* stale = gone.get();
    gone.reset();
    ModalUser second;
    second.then("messageBox", [&](QDialog& box) {
        parentSeen = box.parentWidget();
        click(box, "answer1");
    });
    EXPECT_EQ(PlbWarning(stale, PLB_MB_OK, "stale owner"), PLB_IDOK);
    EXPECT_NE(static_cast<void*>(parentSeen), stale);
}

TEST_F(PortMessages, ChoiceAndItemTexts)
{
    tamlib::ChoiceRequest request;
    request.caption = "Drive";
    request.items = {"0: IMAGE a", "1: IMAGE b", "2: IMAGE c"};
    request.current = 1;
    ModalUser pick;
    pick.then("choiceDialog", [](QDialog& dialog) {
        auto* list = dialog.findChild<QListWidget*>("items");
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->count(), 3);
        EXPECT_EQ(list->currentRow(), 1); // the choice so far
        list->setCurrentRow(2);
        click(dialog, "ok");
    });
    EXPECT_EQ(m_port.choose(request), 2);
    ModalUser decline;
    decline.then("choiceDialog", [](QDialog& dialog) { click(dialog, "cancel"); });
    EXPECT_EQ(m_port.choose(request), -1);
    request.items.clear();
    EXPECT_EQ(m_port.choose(request), -1); // nothing to choose from: no dialog

    QWidget window;
    auto* label = new QLabel("old", &window);
    label->setProperty(tamlibui::kItemProperty, 1001);
    auto* other = new QLabel("untouched", &window);
    other->setProperty(tamlibui::kItemProperty, 1003);
    std::atomic<bool> done{false};
    std::thread worker([&] {
        m_port.setItemText(&window, 1001, "label text");
        m_port.setItemText(reinterpret_cast<void*>(0x10), 1001, "no such window");
        done = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 5000));
    worker.join();
    EXPECT_EQ(label->text(), "label text");
    EXPECT_EQ(other->text(), "untouched");
}

} // namespace
