// The user-interface port: message captions, icons and answers; the scripted port's records and
// replies; the console port's answers with and without a terminal.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <string>

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

// A pipe whose writer stays open: reading it would wait for ever.
struct OpenPipe
{
    int fds[2] = {-1, -1};
    FILE* reader = nullptr;
    OpenPipe()
    {
        if (::pipe(fds) == 0)
            reader = ::fdopen(fds[0], "r");
    }
    ~OpenPipe()
    {
        ::close(fds[1]);
        if (reader)
            std::fclose(reader);
    }
};

TEST_F(PortTest, ConsoleWithoutTerminalTakesTheDefaultWithoutWaiting)
{
    OpenPipe pipe;
    ASSERT_NE(pipe.reader, nullptr);
    FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    ConsolePort::Options options;
    options.input = pipe.reader;
    options.output = out;
    ConsolePort console(options);
    ChoiceRequest choice;
    choice.caption = "Choose CD-Drive";
    choice.items = {"0: A", "1: B"};
    choice.current = -1;
    auto answers = std::async(std::launch::async, [&] {
        return std::make_pair(
            console.message({nullptr, PLB_MB_YESNO | PLB_MB_DEFBUTTON2, "QUESTION", "Upload?"}),
            console.choose(choice));
    });
    if (answers.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        ::close(pipe.fds[1]); // let the stuck read end before failing
        pipe.fds[1] = -1;
        FAIL() << "the console port waited for input that is not a terminal";
    }
    const auto [message, chosen] = answers.get();
    EXPECT_EQ(message, PLB_IDNO);
    EXPECT_EQ(chosen, -1);
    std::rewind(out);
    char printed[512] = {};
    const size_t length = std::fread(printed, 1, sizeof printed - 1, out);
    const std::string text(printed, length);
    EXPECT_NE(text.find("QUESTION: Upload?"), std::string::npos);
    EXPECT_NE(text.find("(No)"), std::string::npos);
    EXPECT_NE(text.find("2) 1: B"), std::string::npos);
    std::fclose(out);
}

// A console port on a terminal whose user types `typed`; what it prints is thrown away.
class TypedConsole
{
  public:
    explicit TypedConsole(const std::string& typed) : m_in(std::tmpfile()), m_out(std::tmpfile())
    {
        std::fputs(typed.c_str(), m_in);
        std::rewind(m_in);
        options.input = m_in;
        options.output = m_out;
        options.interactive = 1;
    }
    ~TypedConsole()
    {
        std::fclose(m_in);
        std::fclose(m_out);
    }
    TypedConsole(const TypedConsole&) = delete;
    TypedConsole& operator=(const TypedConsole&) = delete;

    ConsolePort::Options options;

  private:
    FILE* m_in;
    FILE* m_out;
};

int32_t askConsole(const std::string& typed, uint32_t type, int32_t preset = 0)
{
    TypedConsole console(typed);
    console.options.presetAnswer = preset;
    return ConsolePort(console.options).message({nullptr, type, "QUESTION", "Go on?"});
}

TEST_F(PortTest, ConsoleOnATerminalReadsTypedAnswers)
{
    EXPECT_EQ(askConsole("n\n", PLB_MB_YESNO), PLB_IDNO);
    EXPECT_EQ(askConsole("YES\n", PLB_MB_YESNO | PLB_MB_DEFBUTTON2), PLB_IDYES);
    EXPECT_EQ(askConsole("3\n", PLB_MB_ABORTRETRYIGNORE), PLB_IDIGNORE);
    // Unknown or out-of-range answers are asked again.
    EXPECT_EQ(askConsole("maybe\n9\nr\n", PLB_MB_ABORTRETRYIGNORE), PLB_IDRETRY);
    // An empty line or the end of input takes the default.
    EXPECT_EQ(askConsole("\n", PLB_MB_YESNO | PLB_MB_DEFBUTTON2), PLB_IDNO);
    EXPECT_EQ(askConsole("", PLB_MB_OKCANCEL | PLB_MB_DEFBUTTON2), PLB_IDCANCEL);
    EXPECT_EQ(askConsole("x", PLB_MB_YESNO), PLB_IDYES);
    // A box with one button asks nothing.
    EXPECT_EQ(askConsole("garbage\n", PLB_MB_OK), PLB_IDOK);
}

TEST_F(PortTest, ConsolePresetAnswersWhenTheBoxOffersThem)
{
    EXPECT_EQ(askConsole("", PLB_MB_YESNO, PLB_IDNO), PLB_IDNO);
    EXPECT_EQ(askConsole("", PLB_MB_YESNOCANCEL | PLB_MB_DEFBUTTON3, PLB_IDYES), PLB_IDYES);
    // Not offered: asked as usual.
    EXPECT_EQ(askConsole("c\n", PLB_MB_OKCANCEL, PLB_IDNO), PLB_IDCANCEL);
}

TEST_F(PortTest, ConsoleChoices)
{
    ChoiceRequest request;
    request.caption = "Choose";
    request.items = {"first", "second", "third"};
    request.current = 0;
    const auto choose = [&](const std::string& typed, int32_t preset) {
        TypedConsole console(typed);
        console.options.presetChoice = preset;
        return ConsolePort(console.options).choose(request);
    };
    EXPECT_EQ(choose("2\n", -2), 1);
    EXPECT_EQ(choose("0\n", -2), -1);
    EXPECT_EQ(choose("7\nthree\n3\n", -2), 2);
    EXPECT_EQ(choose("\n", -2), 0);
    EXPECT_EQ(choose("", 2), 2);
    EXPECT_EQ(choose("", -1), -1);
    EXPECT_EQ(choose("", 5), 0); // a preset beyond the items keeps the current one
}

} // namespace
