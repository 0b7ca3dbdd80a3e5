// The store behind the exported CDAZ operations: files in a folder (load with the conversion of
// older versions, save that never damages the earlier file) and the edits that depend on the
// installed plugins, which take the list as a parameter.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

#include "cdaz/cdaz_record.h"

namespace tamlib {

// Replaces `path` with `bytes`, synced; on failure an earlier file is left as it was and nothing
// is left beside it.
bool cdazReplaceFile(const std::filesystem::path& path, std::span<const uint8_t> bytes);

// Whether loading an older format version may replace the file by its version-5 form.
enum class CdazWrites
{
    Convert, // replace it (in memory only, PLB_CDAZ_LOAD_IN_MEMORY, when it cannot be written)
    Never    // leave the file as it is: convert in memory
};

// Loads a CDAZ file: version 5, or 4 converted to 5. The record, or null with the failure value
// in *status; `extraStatus` is added to the status of a loaded record. A version-4 file cut
// short is damaged (PLB_CDAZ_LOAD_CORRUPT) and never rewritten.
CdazRecord* cdazLoadFile(const std::filesystem::path& path, std::span<const InstalledPlugin> installed,
                         uint32_t extraStatus, uint32_t* status, CdazWrites writes = CdazWrites::Convert);

// Normalises a dirty record and writes it as `path`; false when it cannot be written.
bool cdazSaveFile(const std::filesystem::path& path, CdazRecord& record);

// Adds one stream found by a plugin (PlbSetStreamCDAZ): finds or appends the plugin entry
// (fileName and version equal), taking a missing author or address from the installed plugin.
bool cdazAddStream(CdazRecord& record, const char* streamName, const StrInfo& info, const char* pluginFile,
                   uint16_t pluginVersion, const char* author, const char* address,
                   std::span<const InstalledPlugin> installed);

// Moves one plugin entry (PlbSetCDAZPluginPriority); false for a bad "from".
bool cdazMovePlugin(CdazRecord& record, int32_t from, int32_t to);
// Reorders every plugin entry at once (PlbSetCDAZPluginPriAll); false for an invalid list.
bool cdazReorderPlugins(CdazRecord& record, int32_t count, const int32_t* positions);

} // namespace tamlib
