// CUE sheet images: one or several binary files holding the tracks the sheet places in them.
//
// Disc addresses: the tracks follow one another from address 0. A track's stored sectors begin
// at its INDEX 00 (or INDEX 01 when it has none; at the start of the file for the first track of
// a file), so pregap data stored in the file comes before INDEX 01, which is the track start the
// TOC reports. PREGAP sectors come before the stored ones and POSTGAP sectors after them; neither
// is in a file, and they read as silence or as empty data sectors. The PREGAP of track 1, up to
// 150 sectors, is the lead-in area before address 0 that every disc has, and takes no address.
// A track ends where the next one's first index lies in the same file, or with its file; a file
// must hold at least one sector from the INDEX 01 of its last track (a trailing partial sector
// is ignored).
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "disc_image.h"
#include "edc_ecc.h"

namespace discport::image {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kMaxCueBytes = 1 << 20;
constexpr uint64_t kMaxDiscSectors = 0x7FFFFFFF;

bool sameIgnoringCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// A file name of the sheet as a path: relative to the sheet's folder; names written with
// backslashes or in another letter case (sheets made on other systems) are found too.
std::string resolveName(const std::string& folder, const std::string& name)
{
    std::error_code ignored;
    std::string candidate = name;
    fs::path path = fs::path(candidate).is_absolute() ? fs::path(candidate) : fs::path(folder) / candidate;
    if (fs::exists(path, ignored))
        return path.string();
    std::replace(candidate.begin(), candidate.end(), '\\', '/');
    fs::path converted =
        fs::path(candidate).is_absolute() ? fs::path(candidate) : fs::path(folder) / candidate;
    if (fs::exists(converted, ignored))
        return converted.string();
    const fs::path parent = converted.parent_path();
    const std::string wanted = converted.filename().string();
    for (fs::directory_iterator it(parent.empty() ? fs::path(".") : parent, ignored), end;
         !ignored && it != end; it.increment(ignored)) {
        if (sameIgnoringCase(it->path().filename().string(), wanted))
            return it->path().string();
    }
    return path.string();
}

} // namespace

std::unique_ptr<DiscImage> openCueImageText(std::string_view text, const std::string& folder,
                                            std::string& error)
{
    CueSheet sheet;
    if (!parseCueSheet(text, sheet, error))
        return nullptr;

    auto files = std::make_unique<ImageFiles>();
    std::vector<uint64_t> fileSizes;
    for (const CueFile& file : sheet.files) {
        uint64_t size = 0;
        if (!files->open(resolveName(folder, file.name), size, error))
            return nullptr;
        fileSizes.push_back(size);
    }

    std::vector<ImageArea> areas;
    std::vector<ImageTrack> tracks;
    uint64_t position = 0;
    uint32_t begin = 0;  // file sector where the stored part of the track begins
    uint64_t offset = 0; // its byte offset
    for (size_t i = 0; i < sheet.tracks.size(); ++i) {
        const CueTrack& track = sheet.tracks[i];
        const uint32_t size = storedSectorSize(track.mode);
        const bool firstInFile = i == 0 || sheet.tracks[i - 1].file != track.file;
        const bool lastInFile = i + 1 == sheet.tracks.size() || sheet.tracks[i + 1].file != track.file;
        if (firstInFile) {
            begin = 0;
            offset = 0;
        } else {
            const uint32_t next = track.index0 ? *track.index0 : track.index1;
            offset += uint64_t(next - begin) * storedSectorSize(sheet.tracks[i - 1].mode);
            begin = next;
        }
        const uint32_t beforeStart = track.index1 - begin; // stored pregap sectors
        uint64_t stored;
        if (lastInFile) {
            const uint64_t fileSize = fileSizes[track.file];
            const uint64_t needed = offset + (uint64_t(beforeStart) + 1) * size;
            if (fileSize < needed) {
                error = "file \"" + sheet.files[track.file].name + "\" is too short for track " +
                        std::to_string(track.number) + " (" + std::to_string(fileSize) + " bytes, at least " +
                        std::to_string(needed) + " needed)";
                return nullptr;
            }
            stored = (fileSize - offset) / size;
        } else {
            const CueTrack& next = sheet.tracks[i + 1];
            stored = (next.index0 ? *next.index0 : next.index1) - begin;
        }

        uint32_t pregap = track.pregap;
        if (i == 0)
            pregap = pregap > kLeadInSectors ? pregap - kLeadInSectors : 0;
        if (position + pregap + stored + track.postgap > kMaxDiscSectors) {
            error = "the disc would be longer than the 32-bit sector addresses allow";
            return nullptr;
        }

        ImageTrack entry;
        entry.number = uint8_t(track.number);
        entry.audio = track.mode == TrackMode::Audio;
        entry.control = entry.audio ? track.control : uint8_t(0x04 | (track.control & 0x02));
        entry.pregapStart = uint32_t(position);
        if (pregap > 0)
            areas.push_back({uint32_t(position), pregap, track.mode, -1, 0, false});
        position += pregap;
        areas.push_back({uint32_t(position), uint32_t(stored), track.mode, int(track.file), offset,
                         sheet.files[track.file].bigEndianAudio});
        entry.start = uint32_t(position + beforeStart);
        position += stored;
        if (track.postgap > 0)
            areas.push_back({uint32_t(position), track.postgap, track.mode, -1, 0, false});
        position += track.postgap;
        entry.end = uint32_t(position);
        tracks.push_back(entry);
    }
    return std::make_unique<DiscImage>(std::move(files), std::move(areas), std::move(tracks), sheet.catalog);
}

std::unique_ptr<DiscImage> openCueImage(const std::string& path, std::string& error)
{
    std::error_code code;
    if (!fs::is_regular_file(path, code)) {
        error = "cannot open " + path + ": not a regular file";
        return nullptr;
    }
    const uintmax_t size = fs::file_size(path, code);
    if (code || size > kMaxCueBytes) {
        error = "cannot read " + path + (code ? ": " + code.message() : ": too large for a CUE sheet");
        return nullptr;
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in) {
        error = "cannot read " + path;
        return nullptr;
    }
    const fs::path parent = fs::path(path).parent_path();
    const std::string folder = parent.empty() ? std::string(".") : parent.string();
    std::string reason;
    auto image = openCueImageText(text.str(), folder, reason);
    if (!image)
        error = path + ": " + reason;
    return image;
}

} // namespace discport::image
