#include "settings_file.h"

#include <filesystem>
#include <fstream>

#include "tamrin_common/file_replace.h"
#include "tamrin_common/user_folders.h"

namespace discport {

namespace {

constexpr std::string_view kKey = "INTERFACE";
constexpr size_t kMaxFileBytes = 64 * 1024; // the file holds a line or two; more is not ours

std::string_view trim(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool sameKey(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; };
        if (upper(a[i]) != upper(b[i]))
            return false;
    }
    return true;
}

// The value of a line "INTERFACE = value", or nothing when the line is another one.
std::optional<std::string_view> interfaceValue(std::string_view line)
{
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos || !sameKey(trim(line.substr(0, equals)), kKey))
        return std::nullopt;
    return trim(line.substr(equals + 1));
}

template <typename Visit> void forEachLine(std::string_view text, Visit visit)
{
    while (!text.empty()) {
        const size_t end = text.find('\n');
        visit(text.substr(0, end));
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
}

std::optional<std::string> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string text(kMaxFileBytes + 1, '\0');
    in.read(text.data(), std::streamsize(text.size()));
    text.resize(size_t(in.gcount()));
    if (text.size() > kMaxFileBytes)
        return std::nullopt;
    return text;
}

} // namespace

std::string configFolder()
{
    return tamrin_common::configFolder().string();
}

std::string settingsFilePath()
{
    const std::string folder = configFolder();
    return folder.empty() ? "" : folder + "/Discport.ini";
}

std::optional<uint32_t> parseInterfaceMask(std::string_view text)
{
    std::optional<uint32_t> mask;
    forEachLine(text, [&](std::string_view line) {
        const std::optional<std::string_view> value = interfaceValue(line);
        if (!value)
            return;
        // Decimal digits only, at most a 32-bit value; anything else is no value.
        uint64_t number = 0;
        bool valid = !value->empty();
        for (const char c : *value) {
            if (c < '0' || c > '9' || (number = number * 10 + uint64_t(c - '0')) > 0xFFFFFFFFu) {
                valid = false;
                break;
            }
        }
        mask = valid ? std::optional<uint32_t>(uint32_t(number)) : std::nullopt;
    });
    return mask;
}

std::string withInterfaceMask(std::string_view text, uint32_t mask)
{
    const std::string line = std::string(kKey) + "=" + std::to_string(mask);
    std::string out;
    bool written = false;
    forEachLine(text, [&](std::string_view current) {
        if (interfaceValue(current)) {
            if (written)
                return;
            out += line;
            written = true;
        } else {
            out += current;
        }
        out += '\n';
    });
    if (!written)
        out += line + "\n";
    return out;
}

std::optional<uint32_t> readStoredInterfaceMask()
{
    const std::string path = settingsFilePath();
    if (path.empty())
        return std::nullopt;
    const std::optional<std::string> text = readFile(path);
    return text ? parseInterfaceMask(*text) : std::nullopt;
}

bool storeInterfaceMask(uint32_t mask)
{
    const std::string folder = configFolder();
    if (folder.empty())
        return false;
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    const std::string path = folder + "/Discport.ini";
    const std::string text = withInterfaceMask(readFile(path).value_or(""), mask);
    return tamrin_common::replaceFile(path, text);
}

} // namespace discport
