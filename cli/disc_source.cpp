#include "disc_source.h"

#include <algorithm>
#include <charconv>
#include <filesystem>

#include "discport/discport.h"

namespace tamrin::cli {

DiscSource::~DiscSource()
{
    if (m_mounted)
        CdUnmountImage(m_drive);
}

bool DiscSource::open(const std::string& argument, std::string& error)
{
    const int32_t drives = CdGetDriveNum();
    std::error_code code;
    if (std::filesystem::exists(argument, code)) {
        m_drive = CdMountImage(argument.c_str());
        if (m_drive < 0) {
            const char* reason = CdImageError();
            error = reason && *reason ? reason : "cannot be mounted as a disc image";
            return false;
        }
        m_mounted = true;
        return true;
    }
    uint32_t index = 0;
    const char* end = argument.data() + argument.size();
    const auto [rest, problem] = std::from_chars(argument.data(), end, index);
    if (argument.empty() || problem != std::errc() || rest != end) {
        error = "no such file, and not a drive number";
        return false;
    }
    if (index >= uint32_t(drives)) {
        error = drives == 0 ? "no such drive: no CD-ROM drive was found"
                            : "no such drive: drives are numbered 0 to " + std::to_string(drives - 1);
        return false;
    }
    m_drive = int32_t(index);
    return true;
}

std::shared_ptr<DiscSource> DiscMounts::open(const std::string& argument, std::string& error)
{
    // One image named in two ways ("disc.cue", "./disc.cue") is still one disc.
    std::error_code code;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(argument, code);
    const std::string key = code ? argument : canonical.string();
    if (const auto found = m_open.find(key); found != m_open.end())
        return found->second;
    auto source = std::make_shared<DiscSource>();
    if (!source->open(argument, error))
        return nullptr;
    m_open.emplace(key, source);
    return source;
}

bool looksLikeDriveIndex(const std::string& argument)
{
    return !argument.empty() &&
           std::all_of(argument.begin(), argument.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace tamrin::cli
