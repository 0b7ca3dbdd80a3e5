// The conversion settings of the stream list, as plain data: what each entry is converted to,
// where its output goes and with which record of the converters (tamlib/convert.h), and the
// default output names the library gives. The main window fills these; the batch dialog runs them.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "options_file.h"
#include "tamlib/batch.h"

namespace tamrin {

// One type's settings: the record used for entries that have none of their own, the folder that
// default output names go to, and the MP3 container (PlbMp3Settings.outputFormat) that decides
// the extension of an MP3 output.
struct TypeSettings
{
    std::string folder;
    std::vector<uint8_t> record; // empty: the type's default record for each stream
    uint16_t mp3Format = 0;
};

// One entry of the stream list to convert.
struct ConversionEntry
{
    tamlib::batch::Source source;
    int32_t type = PLB_CONV_TYPE_NONE;
    std::string output;            // empty: a default name in the type's folder
    std::vector<uint8_t> settings; // empty: the type's record
    bool done = false;             // converted (or failed) by an earlier batch: left alone
    bool cancelled = false;        // stopped under way by the last batch (its result says nothing)
    int32_t result = -1;           // the last result; -1 when never tried
};

// The record a stream is converted with when nobody chose settings for it: the stream's own
// picture size, frame rate and sound format, 16-bit PCM, MP3 at 128 kbit/s. Empty for a type
// outside 0 to 5.
std::vector<uint8_t> defaultRecord(int32_t type, const StrInfo& info);

// The result of an output file of `type` that cannot be made (no name for it, a path too long).
int32_t outputFailure(int32_t type);

// The default output path of a stream: the title (else the source file's name) in `settings`'
// folder with the type's extension, numbered "NAME (N).EXT" past the paths in `taken`, which
// receives it. Empty when the library gives no name (unknown type, a path too long).
std::string defaultOutputPath(int32_t type, const TypeSettings& settings, const std::string& title,
                              const std::string& sourceFile, std::set<std::string>& taken);

// The batch items of the entries that are to be converted (not done, type 0 to 5), outputs and
// records filled in from `types` where an entry has none. `indexes` receives each item's entry.
std::vector<tamlib::batch::Item> batchItems(const std::vector<ConversionEntry>& entries,
                                            const TypeSettings (&types)[PLB_CONV_TYPES],
                                            std::vector<size_t>& indexes);

// The records of the options' defaults for a stream: the AVI sound (none, channels, bits, rate;
// 0 takes the source's), the codec of the options, the WAVE format likewise, and the MP3
// encoder's choices (a mono source is encoded mono).
PlbAviSettings aviRecord(const TamrinOptions& options, const StrInfo& info);
PlbWaveSettings waveRecord(const TamrinOptions& options, const StrInfo& info);
PlbMp3Settings mp3Record(const TamrinOptions& options, const StrInfo& info);

// The output folder of a conversion type in the options: AVI and CSTR their movie folders, WAVE
// and MIDI the audio folder, MP3 its own, BMP the bitmap folder. Empty for no type.
std::string typeFolder(const TamrinOptions& options, int32_t type);
// Every type's folder (and the MP3 container) from the options; records are left to the entries.
void typeSettingsFromOptions(const TamrinOptions& options, TypeSettings (&types)[PLB_CONV_TYPES]);

template <typename Record> std::vector<uint8_t> recordBytes(const Record& record)
{
    const auto* begin = reinterpret_cast<const uint8_t*>(&record);
    return std::vector<uint8_t>(begin, begin + sizeof record);
}

} // namespace tamrin
