// Runs tamrin-cli (or a copy of it) as a child process and collects what it prints.
#ifndef TAMRIN_TESTS_CLI_RUNNER_H
#define TAMRIN_TESTS_CLI_RUNNER_H

#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>
#include <vector>

namespace clitest {

namespace fs = std::filesystem;

// Exit statuses of tamrin-cli.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
// Sanitizer reports end the child with this status, so that no crash passes for a failure.
constexpr int kSanitizerStatus = 99;

struct RunResult
{
    int status = -1; // exit status, or 128 + signal number
    std::string out;
    std::string err;
};

fs::path outDir();
fs::path cliProgram();
fs::path dataDir();

// Runs `program` with `args`; stdout and stderr are collected separately. `environment` holds
// NAME=VALUE entries that the child gets on top of (or instead of) this process's variables.
RunResult run(const fs::path& program, const std::vector<std::string>& args,
              const std::vector<std::string>& environment = {});
RunResult runCli(const std::vector<std::string>& args, const std::vector<std::string>& environment = {});

// Parses stdout as one JSON document; a parse failure fails the calling test.
nlohmann::json parseJson(const RunResult& result);

// True when the movie plugin has been built into the output folder.
bool filmfileBuilt();

// The movie files of the test data, sorted by name.
std::vector<fs::path> movieFiles();

// A fresh folder below the system's temporary folder, removed with everything in it.
class TempFolder
{
  public:
    TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder();
    const fs::path& path() const { return m_path; }

  private:
    fs::path m_path;
};

// Copies tamrin-cli and its libraries (libtamlib.so with its HTTP module, libstreamkit.so,
// libdiscport.so) into `folder`, with an empty PsrPlugins folder unless `withPluginFolder` is
// false: an installation whose plugin set a test chooses.
// Returns the program's path.
fs::path makeInstallation(const fs::path& folder, bool withPluginFolder = true);

void writeFile(const fs::path& path, const std::string& bytes);
std::string readFile(const fs::path& path);

// The "frame ..." lines of a units listing (one per unit, with its checksum), in order.
std::string crcLines(const std::string& out);

} // namespace clitest

#endif
