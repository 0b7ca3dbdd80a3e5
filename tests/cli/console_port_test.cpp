// The command-line tool's user-interface port: messages on its output; the analysis' questions
// answered by preset answers (taken only when the dialog offers them), typed answers on a
// terminal, or the default without one (never waiting); the plugin order it is given; no
// progress line on a file.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "console_port.h"
#include "tamlib/strings.h"

namespace {

using namespace tamlib;
using tamrin::cli::ConsolePort;

// English answer names whatever the machine's locale.
class PortTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        if (const char* all = std::getenv("LC_ALL"))
            m_saved = all;
        ::setenv("LC_ALL", "en_US.UTF-8", 1);
    }
    void TearDown() override
    {
        if (m_saved)
            ::setenv("LC_ALL", m_saved->c_str(), 1);
        else
            ::unsetenv("LC_ALL");
    }

  private:
    std::optional<std::string> m_saved;
};

std::string contents(FILE* file)
{
    std::fflush(file);
    std::rewind(file);
    std::string text;
    char buffer[256];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, got);
    return text;
}

AdoptRequest oneRecord()
{
    AdoptRequest request;
    request.caption = "Adoption of CDAZ is checked";
    request.message = "The CDAZ file was found from the local disk.";
    request.title = "Disc";
    request.defaultAnswer = AdoptAnswer::Adopt;
    request.plugins.push_back({"STR CD-ROM", "1.42", "1.42", "OK", false, true});
    return request;
}

PluginChoiceRequest threePlugins()
{
    PluginChoiceRequest request;
    request.rows = {{"Movie", "A.PSR", true}, {"Voice", "B.PSR", false}, {"Audio", "C.PSR", true}};
    return request;
}

class ConsoleAnalysis : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        m_output = std::tmpfile();
        ASSERT_NE(m_output, nullptr);
    }
    void TearDown() override
    {
        if (m_output)
            std::fclose(m_output);
    }
    ConsolePort::Options options() const
    {
        ConsolePort::Options o;
        o.output = m_output;
        o.interactive = 0;
        return o;
    }
    FILE* m_output = nullptr;
};

TEST_F(ConsoleAnalysis, AdoptionTakesThePresetWhenOfferedElseTheDefault)
{
    ConsolePort::Options o = options();
    o.presetAdopt = int32_t(AdoptAnswer::Analyze);
    EXPECT_EQ(ConsolePort(o).adoptCdaz(oneRecord()), AdoptAnswer::Analyze);

    // "Local CDAZ is adopted" is offered only beside a downloaded record.
    o.presetAdopt = int32_t(AdoptAnswer::Local);
    EXPECT_EQ(ConsolePort(o).adoptCdaz(oneRecord()), AdoptAnswer::Adopt);
    AdoptRequest two = oneRecord();
    two.twoRecords = true;
    EXPECT_EQ(ConsolePort(o).adoptCdaz(two), AdoptAnswer::Local);

    // The server is not offered when it cannot be searched.
    o.presetAdopt = int32_t(AdoptAnswer::Server);
    AdoptRequest noServer = oneRecord();
    noServer.serverEnabled = false;
    noServer.defaultAnswer = AdoptAnswer::Analyze;
    EXPECT_EQ(ConsolePort(o).adoptCdaz(noServer), AdoptAnswer::Analyze);

    // Without a preset or a terminal: the default, said on the output with the record.
    EXPECT_EQ(ConsolePort(options()).adoptCdaz(oneRecord()), AdoptAnswer::Adopt);
    const std::string text = contents(m_output);
    EXPECT_NE(text.find("The CDAZ file was found from the local disk."), std::string::npos) << text;
    EXPECT_NE(text.find("STR CD-ROM"), std::string::npos) << text;
    // The state is a sentence of its own; the count has its noun in the right number.
    EXPECT_EQ(text.find("., "), std::string::npos) << text;
    AdoptRequest one = oneRecord();
    one.state = "Analysis is completed.";
    one.streams = 1;
    one.validStreams = 1;
    std::rewind(m_output);
    ConsolePort(options()).adoptCdaz(one);
    EXPECT_NE(contents(m_output).find("  Analysis is completed.\n  1 stream, 1 valid\n"), std::string::npos)
        << contents(m_output);
}

TEST_F(ConsoleAnalysis, PluginChoiceFollowsTheGivenOrderAndUnchecksTheRest)
{
    PluginChoiceRequest request = threePlugins();
    EXPECT_TRUE(ConsolePort(options()).choosePlugins(request));
    ASSERT_EQ(request.rows.size(), 3u);
    EXPECT_EQ(request.rows[0].file, "A.PSR");
    EXPECT_FALSE(request.rows[1].checked) << "as offered";

    ConsolePort::Options o = options();
    o.presetPlugins = {"C.PSR", "B.PSR", "NOTHERE.PSR"};
    request = threePlugins();
    EXPECT_TRUE(ConsolePort(o).choosePlugins(request));
    ASSERT_EQ(request.rows.size(), 3u);
    EXPECT_EQ(request.rows[0].file, "C.PSR");
    EXPECT_TRUE(request.rows[0].checked);
    EXPECT_EQ(request.rows[1].file, "B.PSR");
    EXPECT_TRUE(request.rows[1].checked);
    EXPECT_EQ(request.rows[2].file, "A.PSR");
    EXPECT_FALSE(request.rows[2].checked);
}

TEST_F(ConsoleAnalysis, NoProgressLineOnAFileAndTheTextsArePresetAtTheEnd)
{
    ConsolePort::Options o = options();
    o.presetTitle = "Title";
    ConsolePort port(o);
    port.beginProgress("Analyzing CD-ROM", 10);
    port.updateProgress({5, 10, "5/10 : 50%", "0:01", ""});
    port.endProgress();
    EXPECT_EQ(contents(m_output), "");
    AnalysisDoneRequest done;
    done.title = "Old";
    done.prefix = "STR";
    port.analysisDone(done);
    EXPECT_EQ(done.title, "Title");
    EXPECT_EQ(done.prefix, "STR");
    EXPECT_FALSE(port.stopRequested());
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

    // What the console has printed so far.
    std::string printed() const { return contents(m_out); }

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

// The console's own prompts come from the string tables: the adoption answers, the stream count
// and the choice prompt are in the locale's language, and the typed numbers work alike in both.
TEST_F(PortTest, ConsolePromptsFollowTheLocale)
{
    struct Case
    {
        const char* locale;
        std::vector<std::string> shown;
        std::string foreign; // a text of the other language that must not appear
    };
    const Case cases[] = {
        {"en_US.UTF-8",
         {"1) adopt this CDAZ *  2) search the server  3) analyse the disc: ", "  3 streams, 2 valid\n",
          "1-2, 0 none: ", "(adopt the local CDAZ)", "  1 stream, 1 valid\n"},
         "\xE3"},
        {"ja_JP.UTF-8",
         {"1) この CDAZ を採用する *  2) サーバーを検索する  3) ディスクを解析する: ",
          "  ストリーム 3 個 (有効 2 個)\n", "1-2 (0 はなし): ", "(ローカルの CDAZ を採用する)",
          "  ストリーム 1 個 (有効 1 個)\n"},
         "adopt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.locale);
        ::setenv("LC_ALL", c.locale, 1);
        TypedConsole console("3\n2\n");
        ConsolePort port(console.options);
        AdoptRequest request = oneRecord();
        request.streams = 3;
        request.validStreams = 2;
        EXPECT_EQ(port.adoptCdaz(request), AdoptAnswer::Analyze);
        ChoiceRequest choice;
        choice.caption = "drive";
        choice.items = {"a", "b"};
        EXPECT_EQ(port.choose(choice), 1);

        // Without a terminal the default is named, here the local record of two.
        ConsolePort::Options quiet = console.options;
        quiet.interactive = 0;
        AdoptRequest two = oneRecord();
        two.twoRecords = true;
        two.streams = 1;
        two.validStreams = 1;
        two.defaultAnswer = AdoptAnswer::Local;
        EXPECT_EQ(ConsolePort(quiet).adoptCdaz(two), AdoptAnswer::Local);

        const std::string text = console.printed();
        for (const std::string& shown : c.shown)
            EXPECT_NE(text.find(shown), std::string::npos) << shown << "\n" << text;
        EXPECT_EQ(text.find(c.foreign), std::string::npos) << text;
    }
}

} // namespace
