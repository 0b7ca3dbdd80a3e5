// Fields of raw 2352-byte CD sectors that carry movie streams: the Mode 2 sub-header, the STR
// movie sector header and the MDEC frame header near the start of a frame's first sector.
//
// Every parser takes the sector bytes and their length and checks each offset against that
// length; a buffer too short for a field gives no result rather than a read past its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace sectorkit {

constexpr size_t kRawSectorBytes = 2352;

// XA sound sectors: 18 sound groups of 128 bytes from the end of the sub-header.
constexpr size_t kXaAudioDataOffset = 0x18;
constexpr size_t kXaAudioDataBytes = 2304;

// STR movie sectors: frame data after the 32-byte STR header.
constexpr size_t kStrDataOffset = 0x38;
constexpr size_t kStrDataBytes = 2016;

// Little-endian reads; false when the field does not lie wholly inside the buffer.
bool readU16(const uint8_t* bytes, size_t length, size_t offset, uint16_t& value);
bool readU32(const uint8_t* bytes, size_t length, size_t offset, uint32_t& value);

/* Mode 2 sub-header (offsets from the raw sector start):
 *   0x10 u8 file number
 *   0x11 u8 channel number
 *   0x12 u8 submode        0x80 end of file, 0x40 real time, 0x20 form 2, 0x08 data,
 *                          0x04 audio, 0x02 video, 0x01 end of record
 *   0x13 u8 coding info    (audio sectors) 0x01 stereo, 0x04 18900 Hz, else 37800 Hz
 *   0x14 .. 0x17           a copy of the four bytes above
 */
struct SubHeader
{
    uint8_t file = 0;
    uint8_t channel = 0;
    uint8_t submode = 0;
    uint8_t coding = 0;
    bool copiesAgree = false; // the second copy repeats the first
};

std::optional<SubHeader> parseSubHeader(const uint8_t* sector, size_t length);

constexpr uint8_t kSubmodeEndOfFile = 0x80;
constexpr uint8_t kSubmodeXaAudio = 0x64; // real time + form 2 + audio

// An XA sound sector, whether or not it carries the end-of-file bit.
constexpr bool isXaAudioSubmode(uint8_t submode)
{
    return (submode & ~kSubmodeEndOfFile) == kSubmodeXaAudio;
}

constexpr uint16_t xaChannels(uint8_t coding)
{
    return (coding & 0x01) ? 2 : 1;
}

constexpr uint32_t xaSampleRate(uint8_t coding)
{
    return (coding & 0x04) ? 18900 : 37800;
}

// A sector that carries sound for the movie plugins: real-time, Form 2 and audio bits all set,
// whatever else the submode holds (a looser test than isXaAudioSubmode).
constexpr bool hasSoundBits(uint8_t submode)
{
    return (submode & kSubmodeXaAudio) == kSubmodeXaAudio;
}

/* The sound key of a sector: the four sub-header bytes with the end-of-file bit cleared, packed
 * as file | channel << 8 | submode << 16 | coding << 24. Sound sectors of one stream share it.
 * The raw sector must hold at least 0x14 bytes (every caller passes whole sectors). */
using SoundKey = uint32_t;

inline SoundKey soundKey(const uint8_t* sector)
{
    return uint32_t(sector[0x10]) | uint32_t(sector[0x11]) << 8 |
           uint32_t(sector[0x12] & ~kSubmodeEndOfFile & 0xFF) << 16 | uint32_t(sector[0x13]) << 24;
}

constexpr uint16_t keyFileChannel(SoundKey key)
{
    return uint16_t(key);
}

constexpr uint8_t keyCoding(SoundKey key)
{
    return uint8_t(key >> 24);
}

inline uint8_t submodeOf(const uint8_t* sector)
{
    return sector[0x12];
}

inline bool hasEndOfFile(const uint8_t* sector)
{
    return (submodeOf(sector) & kSubmodeEndOfFile) != 0;
}

/* STR movie sector header (offsets from the raw sector start, little-endian):
 *   0x18 u16 magic           0x0160 in practice; 0 marks a sector outside any movie
 *   0x1A u16 type            bit 0x8000 set in movie sectors
 *   0x1C u16 sectorInFrame   number of this sector within its frame, from 0
 *   0x1E u16 sectorsInFrame  number of sectors of the frame
 *   0x20 u32 frameNumber     from 1
 *   0x24 u32 frameBytes      bytes of MDEC frame data
 *   0x28 u16 width
 *   0x2A u16 height
 *   0x2C ..                  rest of the 32-byte header
 *   0x38 2016 bytes          frame data carried by this sector
 */
struct StrSectorHeader
{
    uint16_t magic = 0;
    uint16_t type = 0;
    uint16_t sectorInFrame = 0;
    uint16_t sectorsInFrame = 0;
    uint32_t frameNumber = 0;
    uint32_t frameBytes = 0;
    uint16_t width = 0;
    uint16_t height = 0;
};

constexpr uint16_t kStrTypeMovie = 0x8000;

std::optional<StrSectorHeader> parseStrSectorHeader(const uint8_t* sector, size_t length);

// Frames of disc movies span at most this many sectors.
constexpr uint16_t kMaxMovieFrameSectors = 32;

/* A movie sector of a disc movie: a header word whose low byte has 6 in its high nibble, the
 * type bit, a sector index below the frame's sector count, at most 32 sectors a frame, a frame
 * number and a picture size. A stored frame size of 0 is read as 1008 bytes a sector. Nothing
 * when the sector is none (or too short to tell). */
std::optional<StrSectorHeader> parseMovieSector(const uint8_t* sector, size_t length);

/* The MDEC frame header that opens a frame's data: u16 length of the decoded data in 32-bit
 * words, u16 0x3800 (0x3000 in some streams), u16 quantiser scale, u16 bitstream version.
 * Its second word is looked for among the 24 words from sector offset 0x3A: the first 0x3800,
 * else the first 0x3000. The result is the index of that word among the 24 (its byte offset
 * is 0x3A + 2 x index), or nothing when neither occurs. */
constexpr size_t kMdecSearchOffset = 0x3A;
constexpr uint32_t kMdecSearchWords = 24;

std::optional<uint32_t> findMdecHeaderWord(const uint8_t* sector, size_t length);

// The header position of a frame's first sector: the index found by findMdecHeaderWord, or 24
// when neither word occurs.
constexpr uint32_t kNoHeaderPosition = kMdecSearchWords;

inline uint32_t headerPosition(const uint8_t* sector, size_t length)
{
    return findMdecHeaderWord(sector, length).value_or(kNoHeaderPosition);
}

// Byte offset in the sector of the word found by findMdecHeaderWord.
constexpr size_t mdecHeaderWordOffset(uint32_t index)
{
    return kMdecSearchOffset + 2 * size_t(index);
}

} // namespace sectorkit
