// The user-interface port: message captions, icons and answers; the scripted port's records and
// replies; the console port's answers with and without a terminal.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "../support/scripted_port.h"
#include "support_env_home.h"
#include "tamlib/strings.h"
#include "tamlib/ui_port.h"

namespace {

using namespace tamlib;
using tamlib::test::ScopedVariable;

// English texts whatever the machine's locale.
class PortTest : public ::testing::Test
{
  protected:
    ScopedVariable m_all{"LC_ALL", "en_US.UTF-8"};
};

TEST(Answers, ButtonsAndDefaults)
{
    EXPECT_EQ(answersOf(PLB_MB_OK), (std::vector<int32_t>{PLB_IDOK}));
    EXPECT_EQ(answersOf(PLB_MB_YESNOCANCEL | PLB_MB_ICONQUESTION),
              (std::vector<int32_t>{PLB_IDYES, PLB_IDNO, PLB_IDCANCEL}));
    EXPECT_EQ(answersOf(PLB_MB_ABORTRETRYIGNORE),
              (std::vector<int32_t>{PLB_IDABORT, PLB_IDRETRY, PLB_IDIGNORE}));
    EXPECT_EQ(answersOf(0xE), (std::vector<int32_t>{PLB_IDOK})); // unknown buttons: OK
    EXPECT_EQ(defaultAnswer(PLB_MB_YESNO), PLB_IDYES);
    EXPECT_EQ(defaultAnswer(PLB_MB_YESNO | PLB_MB_DEFBUTTON2), PLB_IDNO);
    EXPECT_EQ(defaultAnswer(PLB_MB_YESNOCANCEL | PLB_MB_DEFBUTTON3), PLB_IDCANCEL);
    // A default button the box does not have falls back to the first.
    EXPECT_EQ(defaultAnswer(PLB_MB_OKCANCEL | PLB_MB_DEFBUTTON3), PLB_IDOK);
    EXPECT_EQ(defaultAnswer(PLB_MB_RETRYCANCEL | PLB_MB_DEFBUTTON2), PLB_IDCANCEL);
}

TEST_F(PortTest, MessageFunctionsGiveCaptionIconAndFormattedText)
{
    ScriptedPort port;
    ScopedUiPort installed(port);
    int window = 0;
    EXPECT_EQ(PlbError(&window, PLB_MB_OK, "code %d", 7), PLB_IDOK);
    EXPECT_EQ(PlbWarning(nullptr, PLB_MB_OKCANCEL | PLB_MB_ICONERROR, "%s", "careful"), PLB_IDOK);
    EXPECT_EQ(PlbQuestion(nullptr, PLB_MB_YESNO | PLB_MB_DEFBUTTON2, "upload %s?", "it"), PLB_IDNO);
    EXPECT_EQ(PlbInformation(nullptr, PLB_MB_OK, "done"), PLB_IDOK);
    EXPECT_EQ(PlbMessage(nullptr, PLB_MB_RETRYCANCEL | PLB_MB_ICONWARNING, "Own caption", "%04x", 0xAB),
              PLB_IDRETRY);
    EXPECT_EQ(PlbMessage(nullptr, PLB_MB_OK, nullptr, "no caption"), PLB_IDOK);

    const auto messages = port.messages();
    ASSERT_EQ(messages.size(), 6u);
    EXPECT_EQ(messages[0].window, &window);
    EXPECT_EQ(messages[0].caption, "ERROR");
    EXPECT_EQ(messages[0].type, uint32_t(PLB_MB_OK | PLB_MB_ICONERROR));
    EXPECT_EQ(messages[0].text, "code 7");
    EXPECT_EQ(messages[1].caption, "WARNING");
    // The function's icon replaces the caller's.
    EXPECT_EQ(messages[1].type, uint32_t(PLB_MB_OKCANCEL | PLB_MB_ICONWARNING));
    EXPECT_EQ(messages[2].caption, "QUESTION");
    EXPECT_EQ(messages[2].type, uint32_t(PLB_MB_YESNO | PLB_MB_DEFBUTTON2 | PLB_MB_ICONQUESTION));
    EXPECT_EQ(messages[2].text, "upload it?");
    EXPECT_EQ(messages[3].caption, "INFORMATION");
    EXPECT_EQ(messages[3].type, uint32_t(PLB_MB_ICONINFORMATION));
    EXPECT_EQ(messages[4].caption, "Own caption");
    EXPECT_EQ(messages[4].type, uint32_t(PLB_MB_RETRYCANCEL | PLB_MB_ICONWARNING));
    EXPECT_EQ(messages[4].text, "00ab");
    EXPECT_EQ(messages[5].caption, "");
}

TEST_F(PortTest, LongMessagesAreCutToTheBufferAndCaptionsFollowTheLanguage)
{
    ScriptedPort port;
    ScopedUiPort installed(port);
    const std::string longText(5000, 'x');
    PlbInformation(nullptr, PLB_MB_OK, "%s", longText.c_str());
    {
        ScopedVariable all("LC_ALL", "ja_JP.UTF-8");
        PlbError(nullptr, PLB_MB_OK, "x");
    }
    const auto messages = port.messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].text, std::string(PLB_STRING_MAX - 1, 'x'));
    EXPECT_EQ(messages[1].caption, "エラー");
}

TEST(ScriptedPort, ReplaysQueuedAnswersThenDefaults)
{
    ScriptedPort port;
    ScopedUiPort installed(port);
    port.queueAnswer(PLB_IDNO);
    port.queueAnswer(PLB_IDCANCEL);
    EXPECT_EQ(PlbQuestion(nullptr, PLB_MB_YESNO, "first"), PLB_IDNO);
    EXPECT_EQ(PlbQuestion(nullptr, PLB_MB_YESNOCANCEL, "second"), PLB_IDCANCEL);
    EXPECT_EQ(PlbQuestion(nullptr, PLB_MB_YESNO, "third"), PLB_IDYES);

    ChoiceRequest request;
    request.caption = "Pick";
    request.items = {"a", "b", "c"};
    request.current = 1;
    port.queueChoice(2);
    EXPECT_EQ(uiPort().choose(request), 2);
    EXPECT_EQ(uiPort().choose(request), 1);
    ASSERT_EQ(port.choices().size(), 2u);
    EXPECT_EQ(port.choices()[0].items, request.items);
    EXPECT_EQ(port.messages().size(), 3u);
    EXPECT_EQ(port.messages()[1].text, "second");

    port.clear();
    EXPECT_TRUE(port.messages().empty());
    EXPECT_TRUE(port.choices().empty());
}

TEST(ScriptedPort, InstallingAndRestoringPorts)
{
    UiPort& builtIn = uiPort();
    ScriptedPort outer, inner;
    {
        ScopedUiPort a(outer);
        EXPECT_EQ(&uiPort(), &outer);
        {
            ScopedUiPort b(inner);
            EXPECT_EQ(&uiPort(), &inner);
        }
        EXPECT_EQ(&uiPort(), &outer);
    }
    EXPECT_EQ(&uiPort(), &builtIn);
}

} // namespace
