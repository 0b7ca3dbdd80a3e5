// The kinds of file convert writes: one row each, with the batch conversion type, the options
// that go with it, how its settings record is filled from them, and what a finished file holds.
#ifndef TAMRIN_CLI_CONVERT_TARGETS_H
#define TAMRIN_CLI_CONVERT_TARGETS_H

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "commands.h"
#include "streamkit/psr.h"
#include "tamlib/convert.h"

namespace tamrin::cli {

// Groups of options a kind of file takes.
enum ConvertOptionGroup : uint32_t
{
    kSoundOptions = 1, // --rate, --channels, --bits
    kSizeOption = 2,   // --size
    kAviOptions = 4,   // --fps, --codec, --quality, --keyframe, --bitrate, --no-audio
    kMp3Options = 8,   // --kbps, --vbr, --mode
};

// What the settings records are filled from: the checked options.
struct SettingsInput
{
    const ConvertOptions& options;
    std::optional<std::pair<uint32_t, uint32_t>> size;
    std::optional<uint16_t> frameRate;
    PlbAviCompression compression{}; // type 0: uncompressed frames
};

// What a finished file holds, read back from its headers.
struct Contents
{
    std::optional<uint64_t> frames;
    std::optional<uint64_t> samples;
};

struct ConvertTarget
{
    const char* name;      // the value of --to
    const char* extension; // of the default output names
    int32_t type;          // the batch's conversion type (PLB_CONV_TYPE_*)
    int32_t fileFailure;   // the result code of an output file that cannot be made or written
    uint32_t optionGroups; // ConvertOptionGroup bits
    // The type's settings record for a stream (its output path is the batch's to fill).
    std::vector<uint8_t> (*settings)(const SettingsInput& input, const StrInfo& info);
    Contents (*contents)(const std::filesystem::path& file);
};

std::span<const ConvertTarget> convertTargets();
// The row of a --to value; null for none.
const ConvertTarget* findConvertTarget(const std::string& name);
// The --to values that take every option group of `groups`: "wave or avi".
std::string targetsTaking(uint32_t groups);

// A StrInfo frame rate (tenths of a frame per second up to 800, hundredths above) from a number
// of frames per second: "15", "7.5", "29.97".
std::optional<uint16_t> parseFrameRate(const std::string& text);
// "WIDTHxHEIGHT", each side from 1 to LBR_MAX_PICTURE_SIDE.
std::optional<std::pair<uint32_t, uint32_t>> parseSize(const std::string& text);

} // namespace tamrin::cli

#endif
