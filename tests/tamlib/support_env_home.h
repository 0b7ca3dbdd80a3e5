// Test support for the environment tests: a fresh TAMRIN_HOME folder per test, a locale set for
// a scope, and a small disc image mounted as a drive.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "../support/scratch_folder.h"

namespace tamlib::test {

// Points TAMRIN_HOME at a new empty folder for the life of the object; the old value and the
// folder's absence come back at its end.
class TempHome
{
  public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    const std::filesystem::path& path() const { return m_folder.path(); }
    std::filesystem::path settingsFile() const { return path() / "Tamlib.ini"; }

  private:
    testsupport::ScratchFolder m_folder{"tamlib-env"};
    std::optional<std::string> m_previous;
};

// Sets one environment variable for a scope (nothing: unset).
class ScopedVariable
{
  public:
    ScopedVariable(const char* name, const char* value);
    ~ScopedVariable();
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

  private:
    std::string m_name;
    std::optional<std::string> m_previous;
};

// A plain ISO image (2048-byte sectors) mounted as a further drive for the life of the object.
class MountedImage
{
  public:
    explicit MountedImage(const std::filesystem::path& folder, uint32_t sectors = 32);
    ~MountedImage();
    MountedImage(const MountedImage&) = delete;
    MountedImage& operator=(const MountedImage&) = delete;

    int32_t drive() const { return m_drive; }

  private:
    int32_t m_drive = -1;
};

// Writes `text` to `path`.
void writeText(const std::filesystem::path& path, const std::string& text);
// The whole file; empty when it cannot be read.
std::string readText(const std::filesystem::path& path);

} // namespace tamlib::test
