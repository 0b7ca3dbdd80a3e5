// CUE sheets: the text that names the binary files of a disc image and places its tracks in them.
// The parser takes the text, so tests and the fuzz target feed it directly; where the files are
// and how the tracks become disc addresses is the business of the CUE image (cue_image.cpp).
//
// Accepted commands (case-insensitive, one per line):
//   FILE name BINARY|MOTOROLA          name quoted or not; MOTOROLA = audio samples big-endian
//   TRACK nn AUDIO|MODE1/2048|MODE1/2352|MODE2/2336|MODE2/2352     nn = 1 to 99, consecutive
//   INDEX nn mm:ss:ff                  nn = 0 to 99, increasing; INDEX 01 required per track
//   PREGAP mm:ss:ff, POSTGAP mm:ss:ff  sectors of silence or empty data not stored in the file
//   FLAGS DCP|4CH|PRE|SCMS ...         control bits of an audio track
//   CATALOG 13 digits                  media catalogue number
//   REM, TITLE, PERFORMER, SONGWRITER, ISRC, CDTEXTFILE   accepted and ignored
// Times are minutes (1 to 3 digits), seconds (below 60) and frames (below 75), 75 frames a second.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace discport::image {

enum class TrackMode
{
    Audio,      // 2352 bytes of samples
    Mode1_2048, // user data only
    Mode1_2352, // raw sector
    Mode2_2336, // sub-header, user data and EDC/ECC, no sync or header
    Mode2_2352, // raw sector
};

// Bytes a sector of the mode takes in its file.
uint32_t storedSectorSize(TrackMode mode);

struct CueFile
{
    std::string name;
    bool bigEndianAudio = false; // MOTOROLA
};

struct CueTrack
{
    int number = 0;
    TrackMode mode = TrackMode::Audio;
    size_t file = 0;                // index into CueSheet::files
    uint32_t pregap = 0;            // PREGAP, in sectors
    uint32_t postgap = 0;           // POSTGAP, in sectors
    std::optional<uint32_t> index0; // INDEX 00, sectors from the start of the file
    uint32_t index1 = 0;            // INDEX 01, sectors from the start of the file
    uint8_t control = 0;            // FLAGS as control bits: PRE 1, DCP 2, 4CH 8
};

struct CueSheet
{
    std::vector<CueFile> files;
    std::vector<CueTrack> tracks;
    std::string catalog; // 13 digits, or empty
};

constexpr int kMaxTracks = 99;

// Parses `text`; on failure returns false with a reason ("line 4: ...") in `error`.
bool parseCueSheet(std::string_view text, CueSheet& sheet, std::string& error);

// "mm:ss:ff" as a sector count; false when it is not a valid time.
bool parseCueTime(std::string_view text, uint32_t& sectors);

} // namespace discport::image
