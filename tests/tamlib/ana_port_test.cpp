// The analysis calls of the scripted user-interface port: its plugin choice and stop.
#include <gtest/gtest.h>

#include <string>

#include "../support/scripted_port.h"
#include "tamlib/ui_port.h"

namespace {

using namespace tamlib;

AdoptRequest oneRecord()
{
    AdoptRequest request;
    request.caption = "Adoption of CDAZ is checked";
    request.title = "Disc";
    request.defaultAnswer = AdoptAnswer::Adopt;
    return request;
}

PluginChoiceRequest threePlugins()
{
    PluginChoiceRequest request;
    request.rows = {{"Movie", "A.PSR", true}, {"Voice", "B.PSR", false}, {"Audio", "C.PSR", true}};
    return request;
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
