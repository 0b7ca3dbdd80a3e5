// The sector loop of the disc analysis: every sector of every data track of a disc offered to
// the chosen CD plugins through the host's probing relay, and the streams they report. Plain C++
// over libdiscport and libstreamkit; what the user sees (progress, questions about unreadable
// sectors, stopping) is left to the caller through callbacks and a stop flag. PlbAnalyzeCd
// (tamlib/analysis.h) and the command-line scan both run it.
//
// Where it differs from a plain reading of the relay: the sector number a plugin gets is the
// sector's address (LBA) on the disc; every data track ends with a call that passes a null
// sector, stopped or not, so that the plugins close what they still follow; a plugin whose
// begin call gives no context has nothing to look for on the disc and is closed at once.
#ifndef TAMLIB_SECTOR_LOOP_H
#define TAMLIB_SECTOR_LOOP_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "discport/cd_types.h"
#include "streamkit/psr.h"

#ifndef PLB_CXX_API
#define PLB_CXX_API __attribute__((visibility("default")))
#endif

namespace tamlib::scan {

// What to do about a sector that could not be read.
enum class ReadErrorAnswer
{
    Abort,  // stop the scan here (as the stop flag does)
    Retry,  // step back one sector and read it again
    Ignore, // go on with the next sector
};

// Why a chosen plugin took no part in the scan, or left it early.
enum class PluginOutcome
{
    Scanned,         // saw the sectors it asked for; its streams are in the result
    NotBound,        // LbrOpenPSR failed
    NoDiscSupport,   // bound, but without the CD probing exports (no CapCd)
    NoProbe,         // LbrIsSupportCDBegin gave no context: nothing on this disc for it
    WrongSectorSize, // a data track's sectors were of a size it does not take
};

struct PluginScan
{
    std::string file; // the plugin's file name, as chosen
    std::string name; // its own name (PsrPluginInfo), empty when it could not be bound
    uint16_t mediaFlags = 0;
    PluginOutcome outcome = PluginOutcome::NotBound;
    uint32_t endedSectorSize = 0; // WrongSectorSize: the size it could not take
    std::vector<StrInfo> streams; // as the plugin described them, in its order
};

struct ScanResult
{
    bool tocRead = false; // false: the table of contents could not be read; nothing was scanned
    std::vector<CdTocEntry> tracks;
    std::vector<PluginScan> plugins; // in the order they were chosen
    // -1 when every data track was read to the end (or left early because every plugin had
    // finished it); otherwise the address after the last sector read on the last data track
    // opened (that track's start when none of its sectors was read).
    int64_t stopPoint = -1;
    uint64_t sectorsRead = 0;
    uint64_t sectorsFailed = 0;           // failed reads, retries included
    std::vector<uint32_t> unopenedTracks; // data track numbers whose reader could not be opened
};

struct ScanCallbacks
{
    // After each sector: sectors done of the disc's total (tracks before the current one count
    // whole, read or not). Called often; keep it cheap.
    std::function<void(uint64_t done, uint64_t total)> progress;
    // A sector failed to read. `attempt` counts the reads of this sector from 1. Without a
    // callback every failure is ignored. Not asked again for the sectors that fail right after
    // an Ignore, until one is read.
    std::function<ReadErrorAnswer(uint32_t lba, uint32_t attempt)> readError;
};

// Scans the disc in `drive` with `pluginFiles` (plugin file names, in priority order).
// `stop` is polled before every sector; setting it ends the scan after the current sector,
// with the streams found so far.
PLB_CXX_API ScanResult scanDisc(int32_t drive, const std::vector<std::string>& pluginFiles,
                                const ScanCallbacks& callbacks, const std::atomic<bool>& stop);

// The most streams taken from one plugin; a plugin that claims more is cut short.
constexpr int32_t kMaxStreamsPerPlugin = 100000;

} // namespace tamlib::scan

#endif
