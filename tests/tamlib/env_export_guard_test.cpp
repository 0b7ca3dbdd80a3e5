// No exception leaves libtamlib: with the heap exhausted, the exports answer with their failure
// values and the library works again once memory is back.
#include <gtest/gtest.h>

#include <string>

#include "allocation_probe.h"
#include "support_env_home.h"
#include "tamlib/cdaz.h"
#include "tamlib/environment.h"
#include "tamlib/strings.h"

namespace {

using testsupport::withFailingAllocations;

class ExportGuard : public ::testing::Test
{
  protected:
    void TearDown() override
    {
        while (PlbTerminate() == 1) {
        }
    }
    tamlib::test::TempHome home;
};

TEST_F(ExportGuard, StartAndSettingsFailCleanlyWithoutMemory)
{
    const std::string address = "cdaz-exchange.example.org:8080";
    int32_t started = 1, server = 1, saved = 1;
    EXPECT_NO_THROW(withFailingAllocations([&] { started = PlbInitialize(); }));
    EXPECT_EQ(started, 0);
    ASSERT_EQ(PlbInitialize(), 1);
    EXPECT_NO_THROW(withFailingAllocations([&] {
        server = PlbSetServer(address.c_str());
        saved = PlbSaveEnviron();
    }));
    EXPECT_EQ(server, 0);
    EXPECT_EQ(saved, 0);

    EXPECT_EQ(PlbSetServer(address.c_str()), 1);
    char text[300] = {};
    EXPECT_EQ(PlbGetServer(text, sizeof text), int32_t(address.size()));
    EXPECT_EQ(text, address);
    EXPECT_EQ(PlbSaveEnviron(), 1);
}

TEST_F(ExportGuard, RecordsAndFilesFailCleanlyWithoutMemory)
{
    ASSERT_EQ(PlbInitialize(), 1);
    CdazRecord* record = PlbAllocCDAZ("GAME.cdaz", "Game", "GM", nullptr, 4, 4);
    ASSERT_NE(record, nullptr);
    int32_t saved = 1, status = 0;
    PlbCdazLoad load{reinterpret_cast<CdazRecord*>(1), 0};
    EXPECT_NO_THROW(withFailingAllocations([&] {
        saved = PlbSaveCDAZ(nullptr, "GAME.cdaz", record);
        load = PlbLoadCDAZ(nullptr, "GAME.cdaz", &status);
    }));
    EXPECT_EQ(saved, 0);
    EXPECT_EQ(load.record, nullptr);
    EXPECT_EQ(load.status, uint32_t(PLB_CDAZ_LOAD_CORRUPT));
    EXPECT_EQ(uint32_t(status), PLB_CDAZ_LOAD_CORRUPT);

    EXPECT_EQ(PlbSaveCDAZ(nullptr, "GAME.cdaz", record), 1);
    load = PlbLoadCDAZ(nullptr, "GAME.cdaz", &status);
    EXPECT_NE(load.record, nullptr);
    PlbFreeCDAZ(load.record);
    PlbFreeCDAZ(record);
}

} // namespace
