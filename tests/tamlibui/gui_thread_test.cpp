// Calls from workers reach the GUI thread and bring their results back; calls on the GUI thread
// run at once.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QThread>

#include <atomic>
#include <string>
#include <thread>

#include "tamlibui/gui_thread.h"
#include "tamlibui/library_info.h"

TEST(GuiThread, WorkersRunOnTheGuiThreadAndGetTheResult)
{
    QThread* gui = QApplication::instance()->thread();
    ASSERT_TRUE(tamlibui::onGuiThread());
    EXPECT_EQ(tamlibui::runOnGuiThread([] { return 7; }), 7); // at once on the GUI thread

    std::atomic<bool> done{false};
    bool ranOnGui = false;
    std::string text;
    std::thread worker([&] {
        ranOnGui = tamlibui::runOnGuiThread([&] { return QThread::currentThread() == gui; });
        tamlibui::runOnGuiThread([&] { text = "set on the GUI thread"; });
        done = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 5000));
    worker.join();
    EXPECT_TRUE(ranOnGui);
    EXPECT_EQ(text, "set on the GUI thread");
}

TEST(LibraryInfo, NamesTheQtItRunsOn)
{
    EXPECT_EQ(tamlibui::qtVersionLine().rfind(std::string("Qt ") + qVersion(), 0), 0u);
}
