// The commands of tamrin-cli. Each returns the process exit status.
#ifndef TAMRIN_CLI_COMMANDS_H
#define TAMRIN_CLI_COMMANDS_H

#include <cstdint>
#include <string>
#include <vector>

namespace tamrin::cli {

// Exit statuses: a command either did all it was asked, or failed on some input, or was
// called wrongly.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

struct PluginsOptions
{
    bool json = false;
};

struct ProbeOptions
{
    std::vector<std::string> files;
    bool json = false;
};

struct UnitsOptions
{
    std::string file;
    std::string plugin; // empty: the first plugin that accepts the file
    uint64_t limit = 0; // 0: every unit
    bool json = false;
    bool noProgress = false;
};

int runPlugins(const PluginsOptions& options);
int runProbe(const ProbeOptions& options);
int runUnits(const UnitsOptions& options);

// Writes "tamrin-cli: <subject>: <message>" to stderr.
void reportError(const std::string& subject, const std::string& message);

} // namespace tamrin::cli

#endif
