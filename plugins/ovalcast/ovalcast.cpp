// Ovalcast: the movies of one game, written straight into the raw Mode 2 sectors of a disc like
// the common disc movies (Discmovie), but with a movie sector header of their own that states the
// movie's total frame count, and the picture size inside the first sector's frame data.
//
// Movie sector (raw 2352-byte sector, little-endian):
//   0x18 u16 header word     low byte's high nibble 6 (0x0160); 0 in sectors between movies
//   0x1A u16 type word       0x5349
//   0x1C u16 index           of the sector in its frame, from 0
//   0x1E u16 sectors         in the frame, 1 to 20
//   0x20 u32 frame number    from 1
//   0x24 u32 frame bytes
//   0x28 u32 total frames    of the movie, low 24 bits
//   0x34 u32                 0
//   0x38 2016 bytes          frame data, always from 0x38; in a first sector the bitstream
//                            header's magic 0x3800 stands at 0x3A, the width at 0x3C, the
//                            height at 0x3E (where a standard header keeps scale and version)
// Sound sectors are XA sound as in the common movies (submode bits 0x40, 0x20, 0x04 all set).
//
// What differs from the common disc movies (the engine is sectorkit/disc_movie.h):
//   - a stream starts at frame 1, index 0, magic 0x3800 at 0x3A; there is no header search;
//   - its frame count is the total of its first sector, not the last frame number seen, and it
//     ends with the last sector of that frame (sound after it belongs to whatever follows);
//   - sound of the stream shares the whole sub-header with its first sound sector (end-of-file
//     bit included); a sector with a zero header word is passed over without a gap test;
//   - the gap limit is always 32 sectors; a stream ends at a sector whose submode is exactly 0x89
//     (directory and file ends), not at an end-of-file bit, and is never taken up again;
//   - the area description counts sound by submode 0x64 and stops at a frame beyond 30;
//   - at read time sectors other than sound and movie sectors are passed over, inside a frame too.
#include "sectorkit/disc_movie.h"
#include "sectorkit/plugin_info.h"
#include "sectorkit/str_sector.h"
#include "streamkit/psr.h"
#include "tamrin_common/c_guard.h"

namespace {

using namespace sectorkit;

constexpr uint16_t kTypeWord = 0x5349;
constexpr uint16_t kMaxFrameSectors = 20;
constexpr uint16_t kMdecMagic = 0x3800;
constexpr uint8_t kEndSubmode = 0x89;
// The area description looks at the start of a movie only.
constexpr uint32_t kAreaLastFrame = 30;

uint16_t wordAt(const uint8_t* sector, size_t offset)
{
    uint16_t value = 0;
    readU16(sector, kRawSectorBytes, offset, value);
    return value;
}

uint32_t longAt(const uint8_t* sector, size_t offset)
{
    uint32_t value = 0;
    readU32(sector, kRawSectorBytes, offset, value);
    return value;
}

// The header fields wherever this format keeps them; no test.
MovieSector fieldsOf(const uint8_t* sector)
{
    MovieSector m;
    m.magic = wordAt(sector, 0x18);
    m.type = wordAt(sector, 0x1A);
    m.sectorInFrame = wordAt(sector, 0x1C);
    m.sectorsInFrame = wordAt(sector, 0x1E);
    m.frameNumber = longAt(sector, 0x20);
    m.frameBytes = longAt(sector, 0x24);
    m.totalFrames = longAt(sector, 0x28) & 0xFFFFFF;
    m.width = wordAt(sector, 0x3C);
    m.height = wordAt(sector, 0x3E);
    return m;
}

MovieSectorClass classify(const uint8_t* sector, MovieSector& movie)
{
    if (hasSoundBits(submodeOf(sector)))
        return MovieSectorClass::Sound;
    movie = fieldsOf(sector);
    if (movie.magic == 0)
        return MovieSectorClass::Blank;
    if ((movie.magic & 0xF0) != 0x60 || movie.type != kTypeWord || movie.sectorsInFrame == 0 ||
        movie.sectorsInFrame > kMaxFrameSectors || longAt(sector, 0x34) != 0)
        return MovieSectorClass::Foreign;
    return MovieSectorClass::Movie;
}

bool isStreamStart(const uint8_t* sector, const MovieSector&)
{
    return wordAt(sector, 0x3A) == kMdecMagic;
}

SoundKey wholeSubHeader(const uint8_t* sector)
{
    return uint32_t(sector[0x10]) | uint32_t(sector[0x11]) << 8 | uint32_t(sector[0x12]) << 16 |
           uint32_t(sector[0x13]) << 24;
}

bool endsStream(const uint8_t* sector)
{
    return submodeOf(sector) == kEndSubmode;
}

MovieSectorClass areaClassify(const uint8_t* sector, MovieSector& movie)
{
    if (submodeOf(sector) == kSubmodeXaAudio)
        return MovieSectorClass::Sound;
    movie = fieldsOf(sector);
    if (movie.magic != 0 && movie.frameNumber > kAreaLastFrame)
        return MovieSectorClass::Stop;
    return MovieSectorClass::Movie;
}

// At read time a sector the probe would not take as a movie sector is passed over like a blank
// one: taken as a movie sector, one of index 0 would drop the frame being gathered (and make a
// frame of its own), and as a foreign sector it would drop that frame too.
MovieSectorClass readClassify(const uint8_t* sector, MovieSector& movie)
{
    const MovieSectorClass kind = classify(sector, movie);
    return kind == MovieSectorClass::Foreign ? MovieSectorClass::Blank : kind;
}

uint32_t framePosition(const uint8_t*)
{
    return 0;
}

const DiscMovieRules kRules = {
    classify,
    isStreamStart,
    wholeSubHeader,
    endsStream,
    /*gapFollowsStride=*/false,
    /*resumes=*/false,
    /*totalFramesFromStart=*/true,
    /*soundEndsWithVideo=*/false,
    areaClassify,
    readClassify,
    framePosition,
};

constexpr const char* kPluginName = "GT STR CD-ROM";
constexpr uint16_t kPluginVersion = 101;
constexpr uint16_t kPluginSubVersion = 0;

} // namespace

// ---- exports ----------------------------------------------------------------------------------

#include "sectorkit/disc_movie_exports.h"
