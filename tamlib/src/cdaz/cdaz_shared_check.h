// The check a CDAZ passes before it is shared: the exchange server makes it before it stores an
// upload, and the library makes it before it adopts a downloaded CDAZ in place of an analysis.
// A shared CDAZ is exactly one well-formed file, a complete analysis with at least one stream,
// and every stream lies inside the disc it belongs to.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "cdaz/cdaz_record.h"
#include "discport/discport.h"

namespace tamlib {

enum class SharedCdazFault
{
    None,
    NotOneFile,   // corrupt, not version 5, or bytes after the file
    Incomplete,   // the analysis was stopped before the end of the disc
    NoStreams,    // it lists no stream
    OutsideDisc,  // a stream starts or ends beyond the end of the disc
    OtherDisc,    // its name is not the name of the disc it is meant for
    UnknownDisc,  // its name does not describe a disc (no track layout can be read from it)
};

// The sector after the last track of a track table (0 for an empty one).
uint32_t discEndOf(std::span<const CdTocEntry> tracks);

// The sector after the last track, as the CDAZ name made for the disc (track count, track
// layout, end sector; with or without the letters of the volume identifier) states it. Tracks
// start in rising order before the end. When the digits can still be read in more than one way
// (the last start sector running into the end sector) the largest end is taken, so that no name
// made for a real disc is read as a smaller disc than it is. Nothing when the name cannot have
// been made for any disc.
std::optional<uint32_t> discEndOfName(const char* name, const char* volumeId);

// The record's own faults: incomplete, no streams, a stream beyond `discEnd`.
SharedCdazFault checkSharedRecord(const CdazRecord& record, uint32_t discEnd);

// Reads `bytes` as exactly one version-5 CDAZ and checks it against the disc its own name
// describes. The record (no post-load check run) when it passes; null with *fault set otherwise.
CdazRecord* readSharedCdaz(std::span<const uint8_t> bytes, SharedCdazFault* fault);

// The message of a fault in the current language (string table).
const char* sharedFaultText(SharedCdazFault fault);

} // namespace tamlib
