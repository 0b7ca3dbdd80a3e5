#include "env/settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <system_error>

#include "env/folders.h"
#include "tamrin_common/file_replace.h"
#include "tamlib/strings.h"

namespace tamlib {

namespace fs = std::filesystem;

namespace {

// A decimal integer as the settings file holds it: optional sign, then digits up to the first
// other character. Nothing when there are no digits or the value leaves 32 bits.
std::optional<int32_t> decimal(const char* text)
{
    const char* p = text;
    bool negative = false;
    if (*p == '-' || *p == '+')
        negative = *p++ == '-';
    if (*p < '0' || *p > '9')
        return std::nullopt;
    int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > int64_t(INT32_MAX) + 1)
            return std::nullopt;
    }
    value = negative ? -value : value;
    if (value < INT32_MIN || value > INT32_MAX)
        return std::nullopt;
    return int32_t(value);
}

// Sets `target` from token `index` when it is there and within [low, high].
template <typename T>
void setInRange(T& target, char* const* tokens, size_t count, size_t index, int32_t low, int32_t high)
{
    if (index >= count)
        return;
    const std::optional<int32_t> value = decimal(tokens[index]);
    if (value && *value >= low && *value <= high)
        target = T(*value);
}

// Applies one line; false when reading must stop.
bool applyLine(Settings& settings, std::string line)
{
    char* tokens[kMaxTokens];
    const size_t count = size_t(PlbGetParam(line.data(), int32_t(kMaxTokens), tokens));
    if (count == 0)
        return true;
    const std::string_view keyword = tokens[0];
    if (keyword == "VERSION") {
        const std::optional<int32_t> version = count > 1 ? decimal(tokens[1]) : std::nullopt;
        return version && *version == 1;
    }
    if (keyword == "DRIVE") {
        if (count < 4)
            return true;
        settings.vendor = storableText(tokens[1], kDriveTextMax);
        settings.product = storableText(tokens[2], kDriveTextMax);
        settings.revision = storableText(tokens[3], kDriveTextMax);
        setInRange(settings.drive, tokens, count, 4, -1, INT32_MAX);
    } else if (keyword == "PLUGIN") {
        const std::string_view file = count > 1 ? std::string_view(tokens[1]) : std::string_view();
        // A name the list cannot hold, or one that could not be written back as read, is skipped.
        if (file.empty() || file.size() > kPluginFileMax || storableText(file, kPluginFileMax) != file)
            return true;
        settings.plugins.push_back({std::string(file), count > 2 && std::string_view(tokens[2]) == "NOUSE"});
    } else if (keyword == "COLOR") {
        setInRange(settings.luminosity, tokens, count, 1, kColorMin, kColorMax);
        setInRange(settings.blue, tokens, count, 2, kColorMin, kColorMax);
        setInRange(settings.red, tokens, count, 3, kColorMin, kColorMax);
        setInRange(settings.gamma, tokens, count, 4, kGammaMin, kGammaMax);
    } else if (keyword == "CDAZANALYZE") {
        setInRange(settings.localMode, tokens, count, 1, 0, kModeMax);
        setInRange(settings.serverMode, tokens, count, 2, 0, kModeMax);
        setInRange(settings.uploadMode, tokens, count, 3, 0, kModeMax);
    } else if (keyword == "SERVER") {
        const std::string_view address = count > 1 ? std::string_view(tokens[1]) : std::string_view();
        if (validServerAddress(address))
            settings.server = address;
    }
    return true;
}

} // namespace

bool validServerAddress(std::string_view address)
{
    if (address.size() > kServerMax)
        return false;
    if (address.empty())
        return true;
    const size_t colon = address.find(':');
    const std::string_view host = address.substr(0, colon);
    if (host.empty() || host.front() == '-' || host.front() == '.')
        return false;
    for (char c : host) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                        c == '.' || c == '-' || c == '_';
        if (!ok)
            return false;
    }
    if (colon == std::string_view::npos)
        return true;
    const std::string_view port = address.substr(colon + 1);
    if (port.empty() || port.size() > 5)
        return false;
    uint32_t value = 0;
    for (char c : port) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + uint32_t(c - '0');
    }
    return value >= 1 && value <= 65535;
}

std::string storableText(std::string_view text, size_t limit)
{
    std::string out;
    for (char c : text) {
        if (out.size() >= limit)
            break;
        if (c == '"')
            c = '\'';
        else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
        if (c == '/' && !out.empty() && out.back() == '/')
            continue;
        out.push_back(c);
    }
    return out;
}

Settings parseSettings(std::string_view bytes)
{
    Settings settings;
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t end = bytes.find('\n', pos);
        if (end == std::string_view::npos)
            end = bytes.size();
        std::string_view line = bytes.substr(pos, end - pos);
        pos = end + 1;
        // A line is read up to its limit; the rest of an overlong line is dropped.
        line = line.substr(0, kMaxLine);
        // A zero byte ends the text of a line, as it does for the splitter.
        line = line.substr(0, line.find('\0'));
        if (!applyLine(settings, std::string(line)))
            break;
    }
    return settings;
}

std::string formatSettings(const Settings& settings)
{
    std::string text;
    char line[kMaxLine + 64];
    std::snprintf(line, sizeof line, "VERSION \"%d\"\n", 1);
    text += line;
    std::snprintf(line, sizeof line, "DRIVE \"%s\" \"%s\" \"%s\" %d\n",
                  storableText(settings.vendor, kDriveTextMax).c_str(),
                  storableText(settings.product, kDriveTextMax).c_str(),
                  storableText(settings.revision, kDriveTextMax).c_str(), settings.drive);
    text += line;
    for (const StoredPlugin& plugin : settings.plugins) {
        std::snprintf(line, sizeof line, "PLUGIN \"%s\" %s\n",
                      storableText(plugin.fileName, kPluginFileMax).c_str(), plugin.noUse ? "NOUSE" : "USE");
        text += line;
    }
    std::snprintf(line, sizeof line, "COLOR %d %d %d %d\n", settings.luminosity, settings.blue, settings.red,
                  settings.gamma);
    text += line;
    std::snprintf(line, sizeof line, "CDAZANALYZE %d %d %d\n", settings.localMode, settings.serverMode,
                  settings.uploadMode);
    text += line;
    if (!settings.server.empty() && validServerAddress(settings.server)) {
        std::snprintf(line, sizeof line, "SERVER \"%s\"\n", settings.server.c_str());
        text += line;
    }
    return text;
}

fs::path settingsPath()
{
    return configFolder() / "Tamlib.ini";
}

std::optional<Settings> readSettingsFile(const fs::path& path)
{
    std::error_code error;
    if (!fs::is_regular_file(path, error))
        return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    // A settings file is a few hundred bytes; a huge one is read only as far as this.
    constexpr size_t kMaxFile = 1 << 20;
    std::string bytes(kMaxFile, '\0');
    in.read(bytes.data(), std::streamsize(bytes.size()));
    bytes.resize(size_t(in.gcount()));
    return parseSettings(bytes);
}

bool writeFileAtomically(const fs::path& path, std::string_view text)
{
    std::error_code error;
    if (!path.parent_path().empty())
        fs::create_directories(path.parent_path(), error);
    return tamrin_common::replaceFile(path, text);
}

} // namespace tamlib
