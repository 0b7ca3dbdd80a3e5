// The disc movie engine: what the plugins that find MDEC movies with interleaved XA sound in the
// raw sectors of a disc share. A plugin states its format as a DiscMovieRules table (how a sector
// is classified, what starts a stream, what ends one, the gap rule, where a frame's data begins)
// and forwards its exports to the functions below.
//
// Probe: one stream followed at a time, in sector order. A stream begins at a stream start (the
// first sector of frame 1), or at a sound sector of the movie's own file and channel right before
// it that no other stream took (authoring tools put a sound sector first). It goes on over movie
// sectors of its type word and sound sectors of its own sound key, passes over foreign sectors
// within the gap limit, and ends at a larger gap, at the next stream start, or at a sector the
// rules call an end. Where the rules say so, sound after the last movie sector stays the stream's
// only while nothing but sound comes between its sectors: sound that goes on across other sectors
// belongs to what follows, and the stream ends with its video. A candidate is dropped when it
// ends with fewer than two frames, or with one sound sector and no stride.
//
// Results: the rate guessed from the picture size and the fewest/most sectors of a frame, checked
// against the sound's timing where there is sound (kind 0x13 when the two cannot be reconciled).
//
// Stream: a 2352-byte reader over the stream's area. Units are one whole frame, the 2304 bytes of
// one sound sector, or, after a frame, the sound sectors met inside it (up to eight) as one unit.
// A seek goes by the sound stride, or without sound by the frame rate.
#pragma once

#include <cstdint>

#include "discport/cd_types.h"
#include "sectorkit/str_sector.h"
#include "streamkit/psr.h"

namespace sectorkit {

// The largest unit of a disc movie: a frame of 32 sectors of frame data. Eight held sound
// sectors (18432 bytes) fit too.
constexpr uint32_t kDiscMovieMaxPayload = kMaxMovieFrameSectors * uint32_t(kStrDataBytes);

enum class MovieSectorClass
{
    Sound,   // an XA sound sector (of any stream: the engine compares sound keys)
    Movie,   // a movie sector, its fields in MovieSector
    Foreign, // anything else
    Blank,   // passed over without a gap test, and at read time without delivering held sound
    Stop,    // area description only: the area's movie ends before this sector
};

// The fields of a movie sector as a format states them.
struct MovieSector : StrSectorHeader
{
    uint32_t totalFrames = 0; // frames of the whole movie, for formats that state it
};

struct DiscMovieRules
{
    // ---- probe --------------------------------------------------------------------------------
    MovieSectorClass (*classify)(const uint8_t* sector, MovieSector& movie);
    // Whether a movie sector of index 0 and frame 1 starts a stream; one that does not is
    // foreign.
    bool (*isStreamStart)(const uint8_t* sector, const MovieSector& movie);
    // The key that sound sectors of one stream share.
    SoundKey (*soundKey)(const uint8_t* sector);
    // A sector that ends the followed stream (once it is taken, when it belongs to the stream).
    bool (*endsStream)(const uint8_t* sector);
    // The gap limit is one sound stride once the stream has its stride (else always 32).
    bool gapFollowsStride;
    // A stream that ended is taken up again by a movie sector of its last frame or the next one.
    bool resumes;
    // The candidate's frame count is the total of the stream's first sector, not its last frame;
    // the stream ends with the last sector of the frame of that number.
    bool totalFramesFromStart;
    // The stream's sound ends with its video: sound after its last movie sector that goes on
    // across other sectors (the sound of a following movie of another kind on the same channel)
    // is not the stream's.
    bool soundEndsWithVideo;

    // ---- area description ---------------------------------------------------------------------
    // Sound, Movie (noted when its header word is not 0 and its index is 0), Stop, or anything
    // else (not counted).
    MovieSectorClass (*areaClassify)(const uint8_t* sector, MovieSector& movie);

    // ---- reading ------------------------------------------------------------------------------
    // Sound, Movie, Blank or Foreign.
    MovieSectorClass (*readClassify)(const uint8_t* sector, MovieSector& movie);
    // Where the frame data of a frame's first sector begins, in 16-bit words after 0x38.
    uint32_t (*framePosition)(const uint8_t* sector);
};

// The exports' bodies (each plugin wraps them in its guards).
void* discMovieProbeBegin(const DiscMovieRules& rules, int32_t trackCount, const CdTocEntry* tracks);
int32_t discMovieProbeSector(void* context, CdTocEntry track, uint32_t lba, const uint8_t* sector);
int32_t discMovieProbeResult(const void* context, int32_t index, StrInfo* info);
void discMovieProbeEnd(void* context);

int32_t discMovieDescribeArea(const DiscMovieRules& rules, int32_t drive, uint32_t startSector,
                              uint32_t sectorCount, StrInfo* info);

void* discMovieOpen(const DiscMovieRules& rules, int32_t drive, const StrInfo* info);
int32_t discMovieRead(void* handle, PsrReadRecord* record);
int32_t discMovieSeek(void* handle, uint32_t positionMs);
int32_t discMovieClose(void* handle);

} // namespace sectorkit
