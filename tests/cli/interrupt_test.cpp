// Ctrl-C during long work: it sets the stop flag instead of ending the program, only while the
// guard lives; the handler that was there before comes back after, and a new guard starts clear.
#include <gtest/gtest.h>

#include <csignal>

#include "interrupt.h"

namespace {

volatile std::sig_atomic_t g_previousCalls = 0;

extern "C" void previousHandler(int)
{
    g_previousCalls = g_previousCalls + 1;
}

TEST(InterruptStops, CtrlCSetsTheFlagWhileTheGuardLivesAndThePreviousHandlerReturns)
{
    struct sigaction mine = {};
    mine.sa_handler = previousHandler;
    sigemptyset(&mine.sa_mask);
    struct sigaction original = {};
    ASSERT_EQ(::sigaction(SIGINT, &mine, &original), 0);
    {
        tamrin::cli::InterruptStops interrupts;
        EXPECT_FALSE(interrupts.stopped());
        ASSERT_EQ(std::raise(SIGINT), 0);
        EXPECT_TRUE(interrupts.stopped());
        EXPECT_TRUE(interrupts.flag().load());
        EXPECT_EQ(g_previousCalls, 0);
    }
    ASSERT_EQ(std::raise(SIGINT), 0);
    EXPECT_EQ(g_previousCalls, 1);
    {
        tamrin::cli::InterruptStops again;
        EXPECT_FALSE(again.stopped()) << "an earlier Ctrl-C does not stop the next piece of work";
    }
    ::sigaction(SIGINT, &original, nullptr);
}

} // namespace
