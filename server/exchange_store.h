// The reference exchange server's storage: one folder per CDAZ name below the data folder, holding
// for each revision "<revision>.cdaz" (the uploaded file) and "<revision>.line" (its line of the
// search reply, written last, so that a revision exists once its line does).
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace cdaz_exchange {

// One upload that passed every check, ready to be stored.
struct Upload
{
    std::string name;
    std::string language;
    std::string title;
    std::string publisher;
    uint32_t analyzeVersion = 0;
    uint32_t pluginVersionSum = 0;
    uint32_t pluginCount = 0;
    uint32_t streamCount = 0;
    uint32_t effectiveStreams = 0;
    std::span<const uint8_t> file;
};

// A CDAZ name the server takes: 1 to 48 characters of letters, digits, '_', '-' and '.', not
// starting with '.', ending with ".cdaz".
bool validName(std::string_view name);
// A language code: 1 to 3 letters.
bool validLanguage(std::string_view language);

class Store
{
  public:
    explicit Store(std::filesystem::path folder);

    // The search reply for `name`: the lines of its revisions, newest first, at most 16.
    std::string search(std::string_view name) const;
    // The file of revision `revision` in `language`; nothing when there is none.
    std::optional<std::vector<uint8_t>> file(std::string_view name, std::string_view language,
                                             uint32_t revision) const;
    // Stores the upload as the name's next revision; that revision, or nothing when it cannot be
    // written (then nothing of it is left).
    std::optional<uint32_t> add(const Upload& upload);

  private:
    std::vector<uint32_t> revisions(const std::filesystem::path& folder) const;

    std::filesystem::path m_folder;
    mutable std::mutex m_mutex;
};

} // namespace cdaz_exchange
