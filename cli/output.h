// Text output of the commands: records shown field by field with their own names, flags also
// as words.
#ifndef TAMRIN_CLI_OUTPUT_H
#define TAMRIN_CLI_OUTPUT_H

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>

#include "plugin_folder.h"
#include "streamkit/psr.h"
#include "unit_line.h"

namespace tamrin::cli {

// A version number x 100 as "%d.%02d" (124 -> "1.24").
std::string versionText(uint16_t version);

// Flag words, comma-separated in bit order; "none" when no bit is set. Unknown bits are shown
// in hex ("0x8000").
std::string capsWords(uint32_t caps);
std::string mediaWords(uint16_t mediaFlags);
std::string kindWords(uint16_t kind);
std::string unitFlagWords(uint8_t unitFlags);

// A text field of a plugin record (single-byte text in a fixed array, terminated or not), as
// UTF-8: bytes above 0x7F are read as Latin-1.
// "1 frame", "2 frames": a count with its noun in the right number.
std::string counted(uint64_t count, const char* one, const char* many);

std::string recordText(const char* text, size_t capacity);
template <size_t N> std::string recordText(const char (&text)[N])
{
    return recordText(text, N);
}

// Frames per second from a frameRate field (x 10 up to 800, x 100 above): "15.0 fps".
std::string frameRateText(uint16_t frameRate);

// "0x" and `digits` hex digits.
std::string hexText(uint32_t value, int digits);

void printPluginText(std::ostream& out, const PluginEntry& entry);
void printStrInfoText(std::ostream& out, const StrInfo& info);

void printUnitHeaderText(std::ostream& out);
void printUnitText(std::ostream& out, const UnitLine& unit);
void printUnitTotalsText(std::ostream& out, const UnitTotals& totals);

} // namespace tamrin::cli

#endif
