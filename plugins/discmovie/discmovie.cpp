// Discmovie: movie streams written straight into the raw Mode 2 sectors of a disc: MDEC video
// frames spread over movie sectors, with XA sound sectors interleaved at a steady stride.
//
// Sector classes (raw 2352-byte sectors):
//   sound    submode has 0x40 (real time), 0x20 (Form 2) and 0x04 (audio) all set
//   movie    STR header at 0x18: header word whose low byte's high nibble is 6, type word with
//            bit 15, sector index below the frame's sector count, at most 32 sectors per frame,
//            frame number not 0, width and height not 0
//   foreign  everything else
//
// The probe follows one stream at a time. A stream starts at the first sector of frame 1 whose
// MDEC header looks right, or at a sound sector of the movie's own file and channel right before
// it (authoring tools put a sound sector first), unless another stream took that sector; it goes on over
// movie sectors with its type word and sound sectors of its first sound sector's file/channel/coding,
// tolerates foreign sectors up to one sound stride (32 sectors without sound) after its last sector, and ends
// at a larger gap, at any sector with the end-of-file bit, or at the next stream start. A stream that ended
// is taken up again by a movie sector of its last frame or the next one, so the end of a file of another
// channel inside a movie does not cut it. Sound after the stream's last movie sector stays its own
// while only sound comes between its sectors (or while movie sectors of the stream follow): sound
// that goes on across other sectors is a following movie's on the same channel, and the stream
// ends with its video.
//
// Units: one whole frame (MDEC data from its header on), or the 2304 data bytes of one sound
// sector, or, after a frame, the sound sectors met inside it (up to eight) as one unit.
//
// The probe, results, area description and streams are the disc movie engine of the kit
// (sectorkit/disc_movie.h); this file states the format's rules.
#include "sectorkit/disc_movie.h"
#include "sectorkit/plugin_info.h"
#include "sectorkit/str_sector.h"
#include "streamkit/psr.h"
#include "tamrin_common/c_guard.h"

namespace {

using namespace sectorkit;

MovieSectorClass classify(const uint8_t* sector, MovieSector& movie)
{
    if (hasSoundBits(submodeOf(sector)))
        return MovieSectorClass::Sound;
    const auto header = parseMovieSector(sector, kRawSectorBytes);
    if (!header)
        return MovieSectorClass::Foreign;
    static_cast<StrSectorHeader&>(movie) = *header;
    return MovieSectorClass::Movie;
}

uint16_t wordAt(const uint8_t* sector, size_t offset)
{
    uint16_t value = 0;
    readU16(sector, kRawSectorBytes, offset, value);
    return value;
}

// The first sector of frame 1 of a stream: an MDEC header found among the first words, whose
// fourth word (the bitstream version) is below the height, or whose third and fourth words
// repeat the picture size.
bool isStreamStart(const uint8_t* sector, const MovieSector& movie)
{
    const uint32_t p = headerPosition(sector, kRawSectorBytes);
    if (p >= kNoHeaderPosition)
        return false;
    const uint16_t third = wordAt(sector, 60 + 2 * size_t(p));
    const uint16_t fourth = wordAt(sector, 62 + 2 * size_t(p));
    return fourth < movie.height || (third == movie.width && fourth == movie.height);
}

uint32_t framePosition(const uint8_t* sector)
{
    return headerPosition(sector, kRawSectorBytes);
}

const DiscMovieRules kRules = {
    classify,
    isStreamStart,
    soundKey,
    hasEndOfFile,
    /*gapFollowsStride=*/true,
    /*resumes=*/true,
    /*totalFramesFromStart=*/false,
    /*soundEndsWithVideo=*/true,
    classify,
    classify,
    framePosition,
};

constexpr const char* kPluginName = "STR CD-ROM";
constexpr uint16_t kPluginVersion = 142;
constexpr uint16_t kPluginSubVersion = 102;

} // namespace

// ---- exports ----------------------------------------------------------------------------------

#include "sectorkit/disc_movie_exports.h"
