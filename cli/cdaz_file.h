// A CDAZ file named on the command line: where it is, the record the library loads from it, and
// the texts of its header that the library's calls do not give (disc identifiers, versions).
#ifndef TAMRIN_CLI_CDAZ_FILE_H
#define TAMRIN_CLI_CDAZ_FILE_H

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tamlib/cdaz.h"

namespace tamrin::cli {

struct CdazLocation
{
    std::string folder;   // absolute, no trailing '/'; empty: the analyze folder
    std::string fileName; // without folder
    std::filesystem::path path;
};

// An argument with a '/' or naming an existing file is a path; anything else is the name of a
// file in the analyze folder (".cdaz" is added when missing).
CdazLocation locateCdaz(const std::string& argument);

// The folder and file name under which the library saves to `path`.
CdazLocation locationOfPath(const std::filesystem::path& path);

struct CdazRecordDeleter
{
    void operator()(CdazRecord* record) const { PlbFreeCDAZ(record); }
};
using CdazPointer = std::unique_ptr<CdazRecord, CdazRecordDeleter>;

struct LoadedCdaz
{
    CdazPointer record;
    uint32_t status = 0; // the load status bits
};

// Loads the file; on failure says why on stderr for `subject` and returns nothing.
std::optional<LoadedCdaz> loadCdaz(const CdazLocation& location, const std::string& subject);

// What the library's calls tell of a record.
struct CdazPluginView
{
    std::string file, name, author, address;
    uint16_t version = 0;
    int32_t flags = 0;
};

struct CdazStreamView
{
    StrInfo info{};
    std::string name;     // the stream's own name, or its default title
    bool ownName = false; // false: `name` is the default title
    int32_t flags = 0;
    int32_t pluginIndex = 0; // from 0
};

struct CdazContents
{
    std::string name, title, prefix;
    int32_t flags = 0;
    int32_t anaSector = 0;
    std::vector<CdazPluginView> plugins; // priority order
    std::vector<CdazStreamView> streams;
    // Streams with none of the bits the main program hides them by (user hidden, reanalyse,
    // hidden), and those of them that also have a plugin and a content kind.
    int32_t effectiveStreams = 0;
    int32_t validStreams = 0;
};

// Reads the record through the library's calls (which normalise an edited record first).
CdazContents readCdazContents(CdazRecord* record);

// Flag words, "none" when no bit is set.
std::string cdazFlagWords(int32_t flags);
std::string streamFlagWords(int32_t flags);
std::string pluginFlagWords(int32_t flags);

// The load status as words ("noPlugin, reanalyze, otherFolder"; "none").
std::string loadStatusWords(uint32_t status);

// The version-5 header and the disc identifiers of its string area.
//   0x00 u8  format version (5)         0x14 u32 string index of systemId
//   0x01 u8  cdazFlags                  0x18 u32 string index of volumeId
//   0x02 u16 plugin count               0x1C u32 string index of publisherId
//   0x04 u32 stream count               0x20 u32 analyzeVersion
//   0x08 u32 string index of name       0x24 i32 anaSector
//   0x0C u32 string index of title      0x28 u32 number of strings N
//   0x10 u32 string index of prefix     0x2C u32 string area size Z
// The string area follows: N zero-terminated strings and one more zero; index k names the k-th
// string, 0 the empty one.
struct CdazHeader
{
    uint8_t version = 0;
    uint32_t analyzeVersion = 0;
    std::string systemId, volumeId, publisherId;
};
constexpr size_t kCdazHeaderBytes = 48;

// The header of a file's first bytes (the header and the whole string area); nothing when they
// are short, of another version, or name strings the area does not hold.
std::optional<CdazHeader> parseCdazHeader(std::span<const uint8_t> bytes);
// The header of the file; nothing when it cannot be read or parsed.
std::optional<CdazHeader> readCdazHeader(const std::filesystem::path& path);

} // namespace tamrin::cli

#endif
