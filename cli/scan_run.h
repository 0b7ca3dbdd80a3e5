// The scan as the commands run it: which plugins take part, the progress line, what is said and
// done about unreadable sectors, and the streams numbered as the scan command lists them.
#ifndef TAMRIN_CLI_SCAN_RUN_H
#define TAMRIN_CLI_SCAN_RUN_H

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "tamlib/sector_loop.h"

namespace tamrin::cli {

namespace scan = tamlib::scan;

// The plugins of a scan: the named ones in the given order, or every installed plugin that
// reads discs, in file name order. Nothing (after a message) when a named plugin is not
// installed, is unusable or does not read discs, or when no plugin reads discs.
std::optional<std::vector<std::string>> chooseScanPlugins(const std::vector<std::string>& named);

struct ScanSettings
{
    ReadErrorPolicy onError = ReadErrorPolicy::Ignore;
    uint32_t retries = 3;
    bool progress = true; // a progress line on a terminal
};

// Scans the disc in `drive`; `subject` names it in messages.
scan::ScanResult runDiscScan(int32_t drive, const std::string& subject,
                             const std::vector<std::string>& plugins, const ScanSettings& settings,
                             const std::atomic<bool>& stop);

// Reports, on stderr, the plugins that took no part or left early, and the data tracks that
// could not be opened.
void reportScanProblems(const std::string& subject, const scan::ScanResult& result);

struct ListedStream
{
    uint32_t number = 0; // from 1, in plugin order, then in each plugin's order
    std::string pluginFile;
    std::string pluginName;
    StrInfo info{};
};

std::vector<ListedStream> listStreams(const scan::ScanResult& result);

} // namespace tamrin::cli

#endif
