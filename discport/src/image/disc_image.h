// A disc image as a drive sees it: tracks at disc addresses and raw 2352-byte sectors. Every
// format (cue_image.cpp, iso_image.cpp, raw_image.cpp) describes its disc as areas, runs of
// sectors that are stored in one file in one way or not stored at all (pregaps and postgaps);
// reading is the same for all of them. Reads use pread, so one image serves several threads.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cue_sheet.h"

namespace discport::image {

struct ImageTrack
{
    uint8_t number = 0;
    bool audio = false;
    uint8_t control = 0;      // Q sub-channel control: 0x4 data, FLAGS bits for audio
    uint32_t pregapStart = 0; // first sector of the track's area (its pregap, when it has one)
    uint32_t start = 0;       // INDEX 01: what the TOC reports
    uint32_t end = 0;         // one past the last sector of the area: the next pregap or the lead-out
};

struct ImageArea
{
    uint32_t start = 0; // first disc sector
    uint32_t count = 0;
    TrackMode mode = TrackMode::Audio;
    int file = -1;          // index into the image's open files; -1 = not stored (zeros)
    uint64_t offset = 0;    // byte offset of the first sector in the file
    bool swapAudio = false; // 16-bit samples stored big-endian
};

// Kind of a data sector, from its header and sub-header.
enum class SectorKind
{
    Audio,
    Mode0, // mode byte 0 or anything not 1 or 2
    Mode1,
    Mode2Form1,
    Mode2Form2,
};

SectorKind sectorKind(const uint8_t* raw, bool audio);

enum class ReadResult
{
    Ok,
    Failed,    // the file could not be read
    WrongKind, // (user data) a sector without 2048 bytes of user data
};

// Opened files. Closed by the destructor.
class ImageFiles
{
  public:
    ImageFiles() = default;
    ImageFiles(const ImageFiles&) = delete;
    ImageFiles& operator=(const ImageFiles&) = delete;
    ~ImageFiles();

    // Opens a regular file for reading; false with a reason otherwise. `size` receives its length.
    bool open(const std::string& path, uint64_t& size, std::string& error);
    int descriptor(int file) const { return m_descriptors[size_t(file)]; }
    int count() const { return int(m_descriptors.size()); }

  private:
    std::vector<int> m_descriptors;
};

class DiscImage
{
  public:
    DiscImage(std::unique_ptr<ImageFiles> files, std::vector<ImageArea> areas, std::vector<ImageTrack> tracks,
              std::string catalog);

    const std::vector<ImageTrack>& tracks() const { return m_tracks; }
    uint32_t sectorCount() const { return m_sectorCount; }
    const std::string& catalog() const { return m_catalog; }

    // The track whose area holds `lba`, or null beyond the disc.
    const ImageTrack* trackAt(uint32_t lba) const;

    // `count` raw sectors from `lba` into `out` (count x 2352 bytes). The caller has checked the range.
    bool readRaw(uint32_t lba, uint32_t count, uint8_t* out) const;

    // The 2048-byte user data of `count` sectors from `lba`: Mode 1 from raw byte 16, Mode 2 Form 1
    // from raw byte 24; WrongKind for audio, Mode 2 Form 2 and other sectors.
    ReadResult readUserData(uint32_t lba, uint32_t count, uint8_t* out) const;

  private:
    const ImageArea* areaAt(uint32_t lba) const;
    bool readStored(const ImageArea& area, uint32_t first, uint32_t count, size_t stride, size_t at,
                    uint8_t* out) const;

    std::unique_ptr<ImageFiles> m_files;
    std::vector<ImageArea> m_areas;
    std::vector<ImageTrack> m_tracks;
    std::string m_catalog;
    uint32_t m_sectorCount = 0;
};

// The formats. Each fails with a reason in `error`.
std::unique_ptr<DiscImage> openCueImage(const std::string& path, std::string& error);
std::unique_ptr<DiscImage> openIsoImage(const std::string& path, std::string& error);
std::unique_ptr<DiscImage> openRawImage(const std::string& path, std::string& error);

// A CUE image from sheet text and the folder its file names are relative to.
std::unique_ptr<DiscImage> openCueImageText(std::string_view text, const std::string& folder,
                                            std::string& error);

} // namespace discport::image
