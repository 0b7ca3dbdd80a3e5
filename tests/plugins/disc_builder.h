// Builds disc images for the disc plugin tests: a Mode 2 data track laid out sector by sector
// (movie frames and XA sound sectors copied from the test data, silent XA sectors, foreign data
// sectors, gaps, end-of-file bits), optionally followed by CD audio tracks, written as BIN + CUE
// in a temporary folder ready for CdMountImage. Every data sector gets its sync and a header with
// the address of its own sector; EDC/ECC bytes are left as they come.
#pragma once

#include <stdlib.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "../support/scratch_folder.h"

namespace discbuild {

namespace fs = std::filesystem;

constexpr uint32_t kRaw = 2352;
constexpr uint32_t kMovieHeaderBytes = 44;
// Stored silence before each audio track (INDEX 00 to INDEX 01).
constexpr uint32_t kPregap = 150;
constexpr uint32_t kSoundGroups = 18;
constexpr uint32_t kSoundGroupBytes = 128;

using Sector = std::array<uint8_t, kRaw>;

inline uint16_t get16(const uint8_t* p)
{
    return uint16_t(p[0] | (p[1] << 8));
}

inline uint32_t get32(const uint8_t* p)
{
    return uint32_t(get16(p)) | uint32_t(get16(p + 2)) << 16;
}

inline uint8_t bcd(uint32_t value)
{
    return uint8_t((value / 10) << 4 | (value % 10));
}

// Sync and Mode 2 header of the sector at `lba` (address lba + 150).
inline void putSyncAndHeader(uint8_t* s, uint32_t lba)
{
    s[0] = 0;
    std::memset(s + 1, 0xFF, 10);
    s[11] = 0;
    const uint32_t a = lba + 150;
    s[12] = bcd(a / 4500);
    s[13] = bcd(a / 75 % 60);
    s[14] = bcd(a % 75);
    s[15] = 2;
}

// Both copies of the sub-header.
inline void putSubHeader(uint8_t* s, uint8_t file, uint8_t channel, uint8_t submode, uint8_t coding)
{
    const uint8_t sub[4] = {file, channel, submode, coding};
    std::memcpy(s + 16, sub, 4);
    std::memcpy(s + 20, sub, 4);
}

inline uint8_t submode(const Sector& s)
{
    return s[18];
}

// An XA sound sector: real-time, Form 2 and audio bits all set.
inline bool isSound(const Sector& s)
{
    return (s[18] & 0x64) == 0x64;
}

// A movie sector: header word with a low byte whose high nibble is 6, type word with bit 15 set.
inline bool isVideo(const Sector& s)
{
    return !isSound(s) && (s[24] & 0xF0) == 0x60 && (get16(s.data() + 26) & 0x8000) != 0;
}

inline uint16_t videoIndex(const Sector& s)
{
    return get16(s.data() + 28);
}
inline uint16_t videoCount(const Sector& s)
{
    return get16(s.data() + 30);
}
inline uint32_t videoFrame(const Sector& s)
{
    return get32(s.data() + 32);
}

// Raw sectors of a file, after `skip` header bytes; empty when the file cannot be read.
inline std::vector<Sector> loadSectors(const fs::path& path, size_t skip)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<Sector> sectors;
    if (!in)
        return sectors;
    in.seekg(std::streamoff(skip));
    Sector s;
    while (in.read(reinterpret_cast<char*>(s.data()), kRaw))
        sectors.push_back(s);
    return sectors;
}

// A test movie by file name (tests/data/movies): the raw sectors after its RIFF header.
inline std::vector<Sector> loadMovie(const std::string& name)
{
    return loadSectors(fs::path(TAMRIN_TEST_DATA) / "movies" / name, kMovieHeaderBytes);
}

// A test XA file by file name (tests/data/audio): raw sectors back to back.
inline std::vector<Sector> loadXa(const std::string& name)
{
    return loadSectors(fs::path(TAMRIN_TEST_DATA) / "audio" / name, 0);
}

// The video sectors of frame `frame` (from 1) of a movie, in the order they are stored.
inline std::vector<Sector> frameSectors(const std::vector<Sector>& movie, uint32_t frame)
{
    std::vector<Sector> out;
    for (const Sector& s : movie)
        if (isVideo(s) && videoFrame(s) == frame)
            out.push_back(s);
    return out;
}

// The sound sectors of a movie or XA file, in the order they are stored.
inline std::vector<Sector> soundSectors(const std::vector<Sector>& source)
{
    std::vector<Sector> out;
    for (const Sector& s : source)
        if (isSound(s))
            out.push_back(s);
    return out;
}

// A sound sector whose 18 sound groups are all zero (parameters and samples).
inline Sector silentSound(uint8_t file, uint8_t channel, uint8_t coding)
{
    Sector s{};
    putSubHeader(s.data(), file, channel, 0x64, coding);
    return s;
}

// A Form 1 data sector (submode 0x08) with a pattern that differs with `seed` and `n`.
inline Sector foreignSector(uint32_t seed, uint32_t n)
{
    Sector s{};
    uint32_t state = seed * 2654435761u + n * 40503u + 1u;
    for (uint32_t i = 24; i < kRaw; ++i) {
        state = state * 1103515245u + 12345u;
        s[i] = uint8_t(state >> 16);
    }
    putSubHeader(s.data(), 0, 0, 0x08, 0);
    return s;
}

// Stereo sample pair n of audio track `track`, 16-bit little-endian, left then right.
inline void putAudioSamples(uint8_t* at, uint32_t track, uint32_t n)
{
    const uint16_t left = uint16_t(n * 7u + track * 0x3001u);
    const uint16_t right = uint16_t((n * 13u) ^ (track << 11) ^ 0x5A5Au);
    at[0] = uint8_t(left);
    at[1] = uint8_t(left >> 8);
    at[2] = uint8_t(right);
    at[3] = uint8_t(right >> 8);
}

inline std::string msfText(uint32_t lba)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", lba / 4500, lba / 75 % 60, lba % 75);
    return text;
}

// A written image; the folder is removed with it.
struct Image
{
    testsupport::ScratchFolder folder{"disc"};
    std::string cue;
    std::string bin;
    uint32_t dataSectors = 0;
    std::vector<uint32_t> audioStart; // INDEX 01 of each audio track
    std::vector<uint32_t> audioLength;
    std::vector<uint8_t> bytes; // the whole BIN

    const uint8_t* raw(uint32_t lba) const { return bytes.data() + size_t(lba) * kRaw; }
};

class DiscBuilder
{
  public:
    // The next free sector of the data track.
    uint32_t next() const { return uint32_t(m_data.size()); }

    // Places `s` at `lba` (sync and header are rewritten); sectors skipped on the way are gaps.
    uint32_t placeAt(uint32_t lba, const Sector& s)
    {
        if (lba >= m_data.size())
            m_data.resize(size_t(lba) + 1, gapSector());
        m_data[lba] = s;
        return lba;
    }

    uint32_t add(const Sector& s) { return placeAt(next(), s); }

    // Several sectors in a row; the LBA of the first.
    uint32_t add(const std::vector<Sector>& sectors)
    {
        const uint32_t first = next();
        for (const Sector& s : sectors)
            add(s);
        return first;
    }

    // The video sectors of frame `frame` of `movie`; the LBA of the first (none placed when the
    // movie has no such frame: then the result is next() unchanged).
    uint32_t addFrame(const std::vector<Sector>& movie, uint32_t frame) { return add(frameSectors(movie, frame)); }

    // A sound sector with its sound data, submode and coding from `source`, given file and
    // channel numbers; the end-of-file bit is set only when asked (cleared otherwise).
    uint32_t addSound(const Sector& source, uint8_t file, uint8_t channel, bool endOfFile = false)
    {
        return add(withChannel(source, file, channel, endOfFile));
    }

    uint32_t addSilent(uint8_t file, uint8_t channel, uint8_t coding = 0x01)
    {
        return add(silentSound(file, channel, coding));
    }

    // `count` foreign Form 1 sectors; the LBA of the first.
    uint32_t addForeign(uint32_t count, uint32_t seed = 1)
    {
        const uint32_t first = next();
        for (uint32_t i = 0; i < count; ++i)
            add(foreignSector(seed, first + i));
        return first;
    }

    // `count` gap sectors (zero sub-header, zero data); the LBA of the first.
    uint32_t addGap(uint32_t count)
    {
        const uint32_t first = next();
        for (uint32_t i = 0; i < count; ++i)
            add(gapSector());
        return first;
    }

    // Sound sectors `sources` on one file/channel at first, first + stride, ...; sectors
    // already placed in between stay, holes become gaps. The LBAs used; the last one carries the
    // end-of-file bit when asked.
    std::vector<uint32_t> placeSound(const std::vector<Sector>& sources, uint8_t file, uint8_t channel,
                                     uint32_t first, uint32_t stride, bool endOfFileAtLast = false)
    {
        std::vector<uint32_t> lbas;
        for (size_t i = 0; i < sources.size(); ++i) {
            const bool last = i + 1 == sources.size();
            lbas.push_back(placeAt(first + uint32_t(i) * stride,
                                   withChannel(sources[i], file, channel, endOfFileAtLast && last)));
        }
        return lbas;
    }

    // Sets or clears the end-of-file bit (0x80) of a placed sector, in both sub-header copies.
    void setEndOfFile(uint32_t lba, bool on = true)
    {
        Sector& s = m_data.at(lba);
        s[18] = uint8_t(on ? s[18] | 0x80 : s[18] & 0x7F);
        s[22] = s[18];
    }

    Sector& at(uint32_t lba) { return m_data.at(lba); }

    // A CD audio track of `sectors` sectors after the data track (and the earlier audio tracks),
    // 150 sectors of silence before it. Its number among the audio tracks, from 0.
    uint32_t addAudioTrack(uint32_t sectors)
    {
        m_audio.push_back(sectors);
        return uint32_t(m_audio.size() - 1);
    }

    // Writes disc.bin and disc.cue into a new temporary folder. Null when writing fails.
    std::unique_ptr<Image> write() const
    {
        auto image = std::make_unique<Image>();
        if (!image->folder.made())
            return nullptr;
        image->cue = (image->folder.path() / "disc.cue").string();
        image->bin = (image->folder.path() / "disc.bin").string();
        image->dataSectors = uint32_t(m_data.size());

        uint32_t total = image->dataSectors;
        for (uint32_t length : m_audio) {
            total += kPregap;
            image->audioStart.push_back(total);
            image->audioLength.push_back(length);
            total += length;
        }
        image->bytes.assign(size_t(total) * kRaw, 0);
        for (uint32_t lba = 0; lba < image->dataSectors; ++lba) {
            uint8_t* s = image->bytes.data() + size_t(lba) * kRaw;
            std::memcpy(s, m_data[lba].data(), kRaw);
            putSyncAndHeader(s, lba);
        }
        for (size_t t = 0; t < m_audio.size(); ++t) {
            for (uint32_t k = 0; k < m_audio[t]; ++k) {
                uint8_t* s = image->bytes.data() + size_t(image->audioStart[t] + k) * kRaw;
                for (uint32_t j = 0; j < kRaw / 4; ++j)
                    putAudioSamples(s + 4 * j, uint32_t(t + 1), k * (kRaw / 4) + j);
            }
        }

        std::ofstream bin(image->bin, std::ios::binary | std::ios::trunc);
        bin.write(reinterpret_cast<const char*>(image->bytes.data()), std::streamsize(image->bytes.size()));
        std::ofstream cue(image->cue, std::ios::binary | std::ios::trunc);
        cue << "FILE \"disc.bin\" BINARY\n  TRACK 01 MODE2/2352\n    INDEX 01 00:00:00\n";
        for (size_t t = 0; t < m_audio.size(); ++t) {
            char number[8];
            std::snprintf(number, sizeof number, "%02u", unsigned(t + 2));
            cue << "  TRACK " << number << " AUDIO\n"
                << "    INDEX 00 " << msfText(image->audioStart[t] - kPregap) << "\n"
                << "    INDEX 01 " << msfText(image->audioStart[t]) << "\n";
        }
        bin.close();
        cue.close();
        if (!bin || !cue)
            return nullptr;
        return image;
    }

  private:
    static Sector gapSector() { return Sector{}; }

    static Sector withChannel(const Sector& source, uint8_t file, uint8_t channel, bool endOfFile)
    {
        Sector s = source;
        const uint8_t mode = uint8_t(endOfFile ? s[18] | 0x80 : s[18] & 0x7F);
        putSubHeader(s.data(), file, channel, mode, s[19]);
        return s;
    }

    std::vector<Sector> m_data;
    std::vector<uint32_t> m_audio;
};

// The data track of the corpus disc (shared/testdata/disc/psxdisc_a) up to the end of its XA
// files, rebuilt from the files of tests/data that were cut from it, at the sectors its authoring
// tool gave them: 25 sectors of volume data, the four movies at 25, 475, 925 and 1345, the
// directory sector of /XA at 1569 (end of file, as directory sectors end), XA1 at 1570, XA2 at
// 1645 and MULTI at 1660. False when a file is missing or a file's place does not come out right.
inline bool buildCorpusDataTrack(DiscBuilder& b)
{
    const struct
    {
        uint32_t lba;
        bool movie;
        const char* file;
    } files[] = {
        {25, true, "mv1_v2_320x240_15fps_xa37800s.str"},
        {475, true, "mv2_v3_320x240_15fps_xa37800s_ch1.str"},
        {925, true, "mv3_v2_256x224_15fps_xa18900m.str"},
        {1345, true, "mv4_v3_160x112_15fps_x1_xa37800s.str"},
        {1570, false, "xa1_37800_stereo.xa"},
        {1645, false, "xa2_18900_mono.xa"},
        {1660, false, "xa_multi_4ch_37800_stereo.xa"},
    };
    b.addForeign(25);
    for (const auto& f : files) {
        if (f.lba == 1570) {
            Sector directory = foreignSector(3, 0);
            putSubHeader(directory.data(), 0, 0, 0x89, 0);
            b.add(directory);
        }
        const std::vector<Sector> sectors = f.movie ? loadMovie(f.file) : loadXa(f.file);
        if (sectors.empty() || b.next() != f.lba)
            return false;
        b.add(sectors);
    }
    return true;
}

} // namespace discbuild
