// The commands of tamrin-cli. Each returns the process exit status.
#ifndef TAMRIN_CLI_COMMANDS_H
#define TAMRIN_CLI_COMMANDS_H

#include <cstdint>
#include <optional>
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

struct FramesOptions
{
    std::string file;
    std::string out;      // BMP files: their folder; --yuv: the file
    int32_t bits = 24;    // 24 or 16
    uint32_t first = 1;   // the first frame number decoded
    uint32_t count = 0;   // 0: every frame from `first` on
    std::string size;     // "WxH"; empty: the display size rule (with --stretch) or none
    int32_t stretch = -1; // scaler mode 0 to 5; -1: 4 with --size, no scaling without
    bool yuv = false;     // planar 4:2:0 samples before the colour conversion, one file
    bool null = false;    // decode only
    uint32_t repeat = 1;  // passes over the stream
    bool crc = false;     // a checksum per frame
    bool json = false;
    bool noProgress = false;
};

int runPlugins(const PluginsOptions& options);
int runProbe(const ProbeOptions& options);
int runUnits(const UnitsOptions& options);
// Why the frames options cannot go together, or are out of range; nothing when they are fine.
std::optional<std::string> framesUsageProblem(const FramesOptions& options);
int runFrames(const FramesOptions& options);

// Writes "tamrin-cli: <subject>: <message>" to stderr.
void reportError(const std::string& subject, const std::string& message);

} // namespace tamrin::cli

#endif
