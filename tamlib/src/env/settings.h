// The settings of the environment and their file, "Tamlib.ini": one line per keyword, split by
// PlbGetParam.
//
//   VERSION "1"
//   DRIVE "vendor" "product" "revision" index
//   PLUGIN "FILE.PSR" USE|NOUSE          (one line per plugin, in priority order)
//   COLOR luminosity blue red gamma
//   CDAZANALYZE local server upload
//   SERVER "host:port"                   (the CDAZ exchange; written only when set)
//
// Reading stops at a VERSION line whose value is missing or not 1; unknown keywords are skipped.
// Values out of their range leave the setting at its default.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamlib {

struct StoredPlugin
{
    std::string fileName; // as written, at most 16 characters
    bool noUse = false;

    bool operator==(const StoredPlugin&) const = default;
};

struct Settings
{
    int32_t drive = -1;
    std::string vendor, product, revision;                 // at most 63 characters each
    int32_t luminosity = 0, blue = 0, red = 0;             // -128 to 127
    int32_t gamma = 100;                                   // 0 to 800
    uint8_t localMode = 0, serverMode = 0, uploadMode = 0; // 0 to 2
    std::string server; // CDAZ exchange "host" or "host:port"; empty: the exchange is off
    std::vector<StoredPlugin> plugins;

    bool operator==(const Settings&) const = default;
};

constexpr int32_t kColorMin = -128, kColorMax = 127;
constexpr int32_t kGammaMin = 0, kGammaMax = 800;
constexpr int32_t kModeMax = 2;
constexpr size_t kMaxLine = 511;
constexpr size_t kMaxTokens = 8;
constexpr size_t kDriveTextMax = 63;
constexpr size_t kPluginFileMax = 16;
constexpr size_t kServerMax = 255;

// True for an exchange server address the settings accept: a host name or IPv4 address (letters,
// digits, '.', '-', '_'), optionally followed by ':' and a port 1 to 65535; at most kServerMax
// characters. The empty text (exchange off) is valid too.
bool validServerAddress(std::string_view address);

// The settings a file's bytes give (defaults for everything they do not set).
Settings parseSettings(std::string_view bytes);

// The file text of `settings`.
std::string formatSettings(const Settings& settings);

// A text as it can be stored: at most `limit` bytes, without double quotes (which would end the
// token: they become single quotes), control characters (blanks) or "//" (which would start a
// comment: it becomes "/").
std::string storableText(std::string_view text, size_t limit);

// The settings file of the configuration folder.
std::filesystem::path settingsPath();

// Reads `path`; nothing when the file does not exist or cannot be read.
std::optional<Settings> readSettingsFile(const std::filesystem::path& path);

// Writes `text` to `path` through a temporary file in the same folder that is renamed over it,
// creating the folder when missing. False (and the old file untouched) on any failure.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view text);

} // namespace tamlib
