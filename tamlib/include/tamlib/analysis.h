/*
 * libtamlib disc and file analysis.
 *
 * PlbAnalyzeCd turns the disc in the selected drive into a CDAZ record: it first looks for an
 * analysis of the same disc in the "Analyze" folder (under its name with and without the volume
 * identifier; the older name is renamed) and, as the analysis modes allow (PlbGetAnalyzeMode) and
 * when the exchange server is set (PlbGetServer), on the server. Only when none is adopted are
 * the sectors of the disc offered to the chosen CD plugins (tamlib/sector_loop.h) on a worker
 * thread. Every question (adoption, plugin choice, unreadable sectors, upload) and the progress
 * go through the user-interface port (tamlib/ui_port.h). The new record is saved in the folder.
 */
#ifndef TAMLIB_ANALYSIS_H
#define TAMLIB_ANALYSIS_H

#include "streamkit/psr.h"
#include "tamlib/cdaz.h"
#include "tamlib/plb.h"

/* The record (the caller frees it with PlbFreeCDAZ), or null: cancelled, nothing found, or an
 * error that has been reported. */
PLB_API CdazRecord* PlbAnalyzeCd(void* window);

/* 1 when an installed file plugin recognised the stream file `path`: its upper-case file name
 * goes to `pluginName` (at least 17 bytes, may be null) and its description to `info` (may be
 * null); 0 otherwise, after a warning. */
PLB_API int32_t PlbAnalyzeFile(void* window, const char* path, StrInfo* info, char* pluginName);

#ifdef __cplusplus

#ifndef PLB_CXX_API
#define PLB_CXX_API __attribute__((visibility("default")))
#endif

#include <optional>
#include <string>
#include <vector>

namespace tamlib {

// The installed plugin that takes a stream file, chosen as PlbAnalyzeFile chooses it.
struct FileIdentity
{
    std::string plugin;   // the upper-case name the settings and CDAZ files keep ("FILMFILE.PSR")
    std::string bindName; // the plugin's file name on disk, for LbrOpenPSR and LbrOpenStream
    StrInfo info{};       // its description of the file
};

// The settings and CDAZ files name a plugin in upper case ("FILMFILE.PSR"); the plugin file keeps
// its own name on disk, which LbrOpenPSR needs on a case-sensitive file system. This is the name
// under which the installed plugin known as `fileName` is bound (`fileName` itself when no search
// found it).
PLB_CXX_API std::string pluginBindName(const std::string& fileName);

// The first installed plugin, in priority order, that opens files, is not switched off, accepts
// `path` and describes a stream of a known kind; nothing when none does. Shows no message.
PLB_CXX_API std::optional<FileIdentity> identifyFile(const char* path);

// Every stream of the file, from the plugin identifyFile chooses: its file test answers how many
// streams the file holds, and the description of stream k (from 0) is asked for with `reserved`
// set to k. A plugin that lists several keeps k in `reserved`, so that opening the described
// record plays that stream; a plugin that does not stops the list at its first stream. The first
// entry is identifyFile's answer; empty when no plugin takes the file.
PLB_CXX_API std::vector<FileIdentity> identifyFileStreams(const char* path);

// What a front end may change for one analysis without touching the stored settings.
struct AnalysisOptions
{
    int32_t drive = -1;     // -1: the selected drive (PlbGetCdDrive)
    int32_t localMode = -1; // -1: the stored analysis modes (PlbGetAnalyzeMode)
    int32_t serverMode = -1;
    int32_t uploadMode = -1;
};

// PlbAnalyzeCd with these options.
PLB_CXX_API CdazRecord* analyzeCd(void* window, const AnalysisOptions& options);

} // namespace tamlib

#endif

#endif
