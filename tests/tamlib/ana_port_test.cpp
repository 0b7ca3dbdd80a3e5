// The analysis calls of the user-interface ports: the console port's preset answers (taken only
// when the dialog offers them), its defaults without a terminal, the plugin order it is given,
// no progress line on a file; the scripted port's plugin choice and stop.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tamlib/ui_port.h"

namespace {

using namespace tamlib;

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

TEST(ScriptedAnalysis, PluginChoiceCancelAndStop)
{
    ScriptedPort port;
    port.queuePlugins({"B.PSR"});
    port.queuePluginCancel();
    PluginChoiceRequest request = threePlugins();
    EXPECT_TRUE(port.choosePlugins(request));
    EXPECT_EQ(request.rows[0].file, "B.PSR");
    EXPECT_TRUE(request.rows[0].checked);
    EXPECT_FALSE(request.rows[1].checked);
    EXPECT_FALSE(request.rows[2].checked);
    request = threePlugins();
    EXPECT_FALSE(port.choosePlugins(request));
    EXPECT_TRUE(port.choosePlugins(request)) << "an empty queue starts";
    EXPECT_EQ(port.pluginChoices().size(), 3u);

    port.stopAfter(2);
    EXPECT_FALSE(port.stopRequested());
    EXPECT_FALSE(port.stopRequested());
    EXPECT_TRUE(port.stopRequested());
    EXPECT_TRUE(port.stopRequested());

    // Adoption: queued answers first, then the request's default.
    port.queueAdopt(AdoptAnswer::Server);
    EXPECT_EQ(port.adoptCdaz(oneRecord()), AdoptAnswer::Server);
    EXPECT_EQ(port.adoptCdaz(oneRecord()), AdoptAnswer::Adopt);
    EXPECT_EQ(port.adoptRequests().size(), 2u);
}

} // namespace
