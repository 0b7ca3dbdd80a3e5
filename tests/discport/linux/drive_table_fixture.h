// A fresh library for each test: its own configuration folder, the fake device layer, and the
// drive table forgotten before and after.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "drive_table.h"
#include "sg_fake_layer.h"

namespace discport::testing {

class DriveLibraryTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        const char* home = std::getenv("TAMRIN_HOME");
        m_savedHome = home ? std::optional<std::string>(home) : std::nullopt;
        char folder[] = "/tmp/discport-test-XXXXXX";
        ASSERT_NE(::mkdtemp(folder), nullptr);
        m_home = folder;
        ::setenv("TAMRIN_HOME", m_home.c_str(), 1);
        m_layer = std::make_shared<FakeDeviceLayer>();
        m_previousLayer = setDeviceLayer(m_layer);
        resetDriveLibrary();
    }

    void TearDown() override
    {
        resetDriveLibrary();
        setDeviceLayer(m_previousLayer);
        if (m_savedHome)
            ::setenv("TAMRIN_HOME", m_savedHome->c_str(), 1);
        else
            ::unsetenv("TAMRIN_HOME");
        std::error_code ignored;
        std::filesystem::remove_all(m_home, ignored);
    }

    void storeMaskFile(const std::string& text) { std::ofstream(m_home + "/Discport.ini") << text; }

    std::string maskFile() const
    {
        std::ifstream in(m_home + "/Discport.ini");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    FakeDeviceLayer& layer() { return *m_layer; }
    const std::string& home() const { return m_home; }

  private:
    std::optional<std::string> m_savedHome;
    std::string m_home;
    std::shared_ptr<FakeDeviceLayer> m_layer;
    std::shared_ptr<DeviceLayer> m_previousLayer;
};

} // namespace discport::testing
