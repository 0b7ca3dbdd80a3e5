// A CDAZ file named on the command line: where it is and the record the library loads from it.
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

// How a command uses the file it loads.
enum class CdazUse
{
    Edit,   // the file of an older format version is replaced by its current form
    Inspect // the file is never written: an older version is converted in memory only
};

// Loads the file; on failure says why on stderr for `subject` (and in `why` when given) and
// returns nothing.
std::optional<LoadedCdaz> loadCdaz(const CdazLocation& location, const std::string& subject,
                                   std::string* why = nullptr, CdazUse use = CdazUse::Edit);

// Says what became of a file of an older format version, when its record was converted in
// memory only; empty otherwise.
std::string inMemoryNote(uint32_t status, CdazUse use);

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

// Why the last PlbSaveCDAZ failed, from errno ("the file would pass the file-size limit ...").
std::string saveFailureReason();

// The load status as words ("noPlugin, reanalyze, otherFolder"; "none").
std::string loadStatusWords(uint32_t status);

} // namespace tamrin::cli

#endif
