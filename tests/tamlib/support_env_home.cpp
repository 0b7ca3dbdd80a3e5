#include "support_env_home.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <system_error>

#include "discport/discport.h"

namespace tamlib::test {

namespace fs = std::filesystem;

namespace {

std::optional<std::string> variable(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

void restore(const std::string& name, const std::optional<std::string>& value)
{
    if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
    else
        ::unsetenv(name.c_str());
}

} // namespace

TempHome::TempHome() : m_previous(variable("TAMRIN_HOME"))
{
    ::setenv("TAMRIN_HOME", path().c_str(), 1);
}

TempHome::~TempHome()
{
    restore("TAMRIN_HOME", m_previous);
}

ScopedVariable::ScopedVariable(const char* name, const char* value) : m_name(name), m_previous(variable(name))
{
    if (value)
        ::setenv(name, value, 1);
    else
        ::unsetenv(name);
}

ScopedVariable::~ScopedVariable()
{
    restore(m_name, m_previous);
}

MountedImage::MountedImage(const fs::path& folder, uint32_t sectors)
{
    static int serial = 0;
    const fs::path path = folder / ("disc" + std::to_string(++serial) + ".iso");
    {
        std::ofstream out(path, std::ios::binary);
        const std::string sector(2048, '\0');
        for (uint32_t i = 0; i < sectors; ++i)
            out << sector;
    }
    m_drive = CdMountImage(path.c_str());
}

MountedImage::~MountedImage()
{
    if (m_drive >= 0)
        CdUnmountImage(m_drive);
}

void writeText(const fs::path& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string readText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace tamlib::test
