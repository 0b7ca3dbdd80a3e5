// One row of the main window's stream list: a stream file opened from disk or a stream of the
// open disc, with its conversion type; the table of conversion types and the list filter.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>

#include "streamkit/psr.h"
#include "tamlib/convert.h"

namespace tamrin {

// Stream kind flags of StrInfo::kind.
enum KindFlag : uint16_t
{
    kKindVideo = 1,
    kKindAudio = 2,
    kKindStill = 4,
    kKindMusic = 8
};

// The conversion types, in the order of the table (the value is stored per entry).
enum class Conversion : uint16_t
{
    Avi = 0,
    Wave = 1,
    Cstr = 2,
    Bmp = 3,
    Midi = 4,
    Mp3 = 5,
    None = 6
};
inline constexpr int kConversionCount = 7;

struct ConversionType
{
    const char* shortName; // "" for no conversion
    uint32_t displayId;    // its name in the library's string table
    const char* extension; // "" for no conversion
    uint16_t allowedKind;  // a stream needs one of these kind flags; 0: any stream
};

const ConversionType& conversionType(Conversion type);
// The conversion type whose short name is `name` (case-insensitive), or none.
bool conversionByShortName(const QString& name, Conversion* type);
// True when the stream kinds allow this conversion.
bool conversionAllowed(Conversion type, uint16_t kind);
// The conversion a new entry of this kind gets when nothing else is chosen: movies to AVI, sound
// to WAVE, still images to BMP, sequenced music to MIDI, anything else none.
Conversion defaultConversion(uint16_t kind);

// Filter bits of the list: 1 video, 2 wave audio, 4 sequenced music, 8 still images.
inline constexpr int kFilterAll = 15;
// True when an entry of this kind is shown under `filter`.
bool passesFilter(uint16_t kind, int filter);

struct StreamEntry
{
    QString path;           // a stream file's path; empty for a disc stream
    int32_t discIndex = -1; // index in the open CDAZ; -1 for a stream file
    QString title;          // the disc stream's title, or the file's name
    QString plugin;         // the plugin that recognised the stream
    Conversion conversion = Conversion::None;
    uint16_t done = 0;       // bit 0: converted by a batch of this run
    uint16_t lastResult = 0; // the result code of the last conversion tried
    StrInfo info{};
    bool tried = false; // lastResult holds a result
    // The entry's own output path (empty: the default name in its type's folder) and its own
    // settings records, made from the options' defaults when the user first edits them.
    QString output;
    std::optional<PlbAviSettings> avi;
    std::optional<PlbWaveSettings> wave;
    std::optional<PlbMp3Settings> mp3;
    std::optional<PlbBitmapSettings> other;

    bool isDiscStream() const { return discIndex >= 0; }
};

// "mm:ss" of a length in milliseconds (hours added when needed).
QString formatDuration(uint32_t ms);
// The text of the list's "Stream" column's kind: "Movie", "Sound", ... of the kind flags.
QString kindText(uint16_t kind);

} // namespace tamrin
