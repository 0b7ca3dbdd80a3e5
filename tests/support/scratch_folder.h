// A new folder below the temporary folder for one test (or benchmark, or fuzz run), removed with
// everything in it when the object goes. path() is empty when the folder could not be made.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace testsupport {

class ScratchFolder
{
  public:
    explicit ScratchFolder(const std::string& tag)
    {
        // Taken once, so that a test that points TMPDIR at a scratch folder keeps the others
        // outside it.
        static const std::filesystem::path base = std::filesystem::temp_directory_path();
        std::string pattern = (base / ("tamrin-" + tag + "-XXXXXX")).string();
        if (::mkdtemp(pattern.data()))
            m_path = pattern;
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    bool made() const { return !m_path.empty(); }

    // The files in the folder and below it, by their path relative to it.
    std::vector<std::string> files() const
    {
        std::vector<std::string> names;
        std::error_code error;
        for (std::filesystem::recursive_directory_iterator it(m_path, error), end; !error && it != end;
             it.increment(error))
            if (it->is_regular_file())
                names.push_back(std::filesystem::relative(it->path(), m_path).string());
        return names;
    }

  private:
    std::filesystem::path m_path;
};

} // namespace testsupport
