#include "exchange_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <ctime>
#include <fstream>
#include <system_error>

#include "exchange/exchange_protocol.h"
#include "tamrin_common/file_replace.h"

namespace cdaz_exchange {

namespace fs = std::filesystem;
using namespace tamlib::exchange;

namespace {

constexpr size_t kNameMax = 48;
constexpr uint32_t kRevisionMax = 65535;
constexpr size_t kMaxLineBytes = 4096;

std::optional<std::string> readFile(const fs::path& path, size_t limit)
{
    std::error_code error;
    const auto size = fs::file_size(path, error);
    if (error || size > limit)
        return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string bytes(size_t(size), '\0');
    in.read(bytes.data(), std::streamsize(bytes.size()));
    if (size_t(in.gcount()) != bytes.size())
        return std::nullopt;
    return bytes;
}

std::string utcNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

} // namespace

bool validName(std::string_view name)
{
    if (name.empty() || name.size() > kNameMax || name.front() == '.' || name.size() < 6 ||
        name.substr(name.size() - 5) != ".cdaz")
        return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
               c == '-' || c == '.';
    });
}

bool validLanguage(std::string_view language)
{
    return !language.empty() && language.size() <= kLanguageMax &&
           std::all_of(language.begin(), language.end(),
                       [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); });
}

Store::Store(fs::path folder) : m_folder(std::move(folder)) {}

std::vector<uint32_t> Store::revisions(const fs::path& folder) const
{
    std::vector<uint32_t> found;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string file = it->path().filename().string();
        if (file.size() < 6 || file.substr(file.size() - 5) != ".line")
            continue;
        uint32_t revision = 0;
        const char* last = file.data() + file.size() - 5;
        const auto [ptr, ec] = std::from_chars(file.data(), last, revision);
        if (ec == std::errc() && ptr == last && revision >= 1 && revision <= kRevisionMax)
            found.push_back(revision);
    }
    std::sort(found.begin(), found.end(), std::greater<>());
    return found;
}

std::string Store::search(std::string_view name) const
{
    if (!validName(name))
        return {};
    std::lock_guard lock(m_mutex);
    const fs::path folder = m_folder / name;
    std::string reply;
    size_t lines = 0;
    for (uint32_t revision : revisions(folder)) {
        if (lines == kMaxRecords)
            break;
        const auto line = readFile(folder / (std::to_string(revision) + ".line"), kMaxLineBytes);
        if (!line || line->empty() || line->back() != '\n')
            continue;
        reply += *line;
        ++lines;
    }
    return reply;
}

std::optional<std::vector<uint8_t>> Store::file(std::string_view name, std::string_view language,
                                                uint32_t revision) const
{
    if (!validName(name) || !validLanguage(language) || revision < 1 || revision > kRevisionMax)
        return std::nullopt;
    std::lock_guard lock(m_mutex);
    const fs::path folder = m_folder / name;
    const auto line = readFile(folder / (std::to_string(revision) + ".line"), kMaxLineBytes);
    if (!line || line->compare(0, language.size() + 1, std::string(language) + "\t") != 0)
        return std::nullopt;
    const auto bytes = readFile(folder / (std::to_string(revision) + ".cdaz"), kMaxCdazBytes);
    if (!bytes)
        return std::nullopt;
    return std::vector<uint8_t>(bytes->begin(), bytes->end());
}

std::optional<uint32_t> Store::add(const Upload& upload)
{
    if (!validName(upload.name) || !validLanguage(upload.language))
        return std::nullopt;
    std::lock_guard lock(m_mutex);
    const fs::path folder = m_folder / upload.name;
    std::error_code error;
    fs::create_directories(folder, error);
    if (error)
        return std::nullopt;
    const std::vector<uint32_t> existing = revisions(folder);
    const uint32_t revision = existing.empty() ? 1 : existing.front() + 1;
    if (revision > kRevisionMax)
        return std::nullopt;
    // Field 2 counts the uploads of the name in this language.
    uint32_t number = 1;
    for (uint32_t r : existing) {
        const auto line = readFile(folder / (std::to_string(r) + ".line"), kMaxLineBytes);
        if (line && line->compare(0, upload.language.size() + 1, upload.language + "\t") == 0)
            ++number;
    }
    const std::string line = upload.language + "\t" + std::to_string(std::min<uint32_t>(number, 32767)) +
                             "\t" + std::to_string(revision) + "\t" + std::to_string(upload.analyzeVersion) +
                             "\t" + std::to_string(upload.pluginVersionSum) + "\t" + upload.title + "\t" +
                             upload.publisher + "\t" + std::to_string(upload.pluginCount) + "\t" +
                             std::to_string(upload.streamCount) + "\t" +
                             std::to_string(upload.effectiveStreams) + "\t" + utcNow() + "\n";
    const fs::path cdaz = folder / (std::to_string(revision) + ".cdaz");
    const std::string_view bytes(reinterpret_cast<const char*>(upload.file.data()), upload.file.size());
    if (!tamrin_common::replaceFile(cdaz, bytes))
        return std::nullopt;
    if (!tamrin_common::replaceFile(folder / (std::to_string(revision) + ".line"), line)) {
        ::unlink(cdaz.c_str());
        return std::nullopt;
    }
    return revision;
}

} // namespace cdaz_exchange
