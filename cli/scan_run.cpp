#include "scan_run.h"

#include <algorithm>

#include "plugin_folder.h"
#include "progress.h"

namespace tamrin::cli {

namespace {

std::string outcomeMessage(const scan::PluginScan& plugin)
{
    switch (plugin.outcome) {
    case scan::PluginOutcome::Scanned:
        return {};
    case scan::PluginOutcome::NotBound:
        return "cannot be bound; left out of the scan";
    case scan::PluginOutcome::NoDiscSupport:
        return "does not read discs; left out of the scan";
    case scan::PluginOutcome::NoProbe:
        return {}; // nothing for it on this disc: no fault
    case scan::PluginOutcome::WrongSectorSize:
        return "does not take " + std::to_string(plugin.endedSectorSize) +
               "-byte sectors; left out of the rest of the scan";
    }
    return {};
}

} // namespace

std::optional<std::vector<std::string>> chooseScanPlugins(const std::vector<std::string>& named)
{
    if (!named.empty()) {
        std::vector<std::string> chosen;
        for (const std::string& name : named) {
            const auto file = resolvePluginName(name);
            if (!file)
                return std::nullopt;
            if (std::find(chosen.begin(), chosen.end(), *file) != chosen.end()) {
                reportError(shownPluginName(*file), "named more than once in --plugins");
                return std::nullopt;
            }
            const PluginEntry entry = queryPlugin(*file);
            if (entry.state != PluginState::Usable) {
                reportError(shownPluginName(*file), std::string(unusableReason(entry)));
                return std::nullopt;
            }
            if (!(entry.caps & CapCd)) {
                reportError(shownPluginName(*file), "this plugin does not read discs");
                return std::nullopt;
            }
            chosen.push_back(*file);
        }
        return chosen;
    }
    const auto files = installedPluginFiles();
    if (!files)
        return std::nullopt;
    std::vector<std::string> chosen;
    for (const std::string& file : *files) {
        const PluginEntry entry = queryPlugin(file);
        if (entry.state == PluginState::Usable && (entry.caps & CapCd))
            chosen.push_back(file);
    }
    if (chosen.empty()) {
        reportError(pluginFolder().string(), "no installed plugin reads discs");
        return std::nullopt;
    }
    return chosen;
}

scan::ScanResult runDiscScan(int32_t drive, const std::string& subject,
                             const std::vector<std::string>& plugins, const ScanSettings& settings,
                             const std::atomic<bool>& stop)
{
    SectorProgressLine progress(settings.progress);
    scan::ScanCallbacks callbacks;
    callbacks.progress = [&progress](uint64_t done, uint64_t total) { progress.update(done, total); };
    callbacks.readError = [&](uint32_t lba, uint32_t attempt) {
        progress.finish();
        const std::string where = subject + ": sector " + std::to_string(lba);
        switch (settings.onError) {
        case ReadErrorPolicy::Abort:
            reportError(where, "cannot be read; the scan stops here");
            return scan::ReadErrorAnswer::Abort;
        case ReadErrorPolicy::Retry:
            if (attempt <= settings.retries)
                return scan::ReadErrorAnswer::Retry;
            reportError(where, "cannot be read (" + std::to_string(attempt) +
                                   " attempts); skipped, with any unreadable sectors right after it");
            return scan::ReadErrorAnswer::Ignore;
        case ReadErrorPolicy::Ignore:
            break;
        }
        reportError(where, "cannot be read; skipped, with any unreadable sectors right after it");
        return scan::ReadErrorAnswer::Ignore;
    };
    scan::ScanResult result = scan::scanDisc(drive, plugins, callbacks, stop);
    progress.finish();
    return result;
}

void reportScanProblems(const std::string& subject, const scan::ScanResult& result)
{
    for (const scan::PluginScan& plugin : result.plugins) {
        const std::string message = outcomeMessage(plugin);
        if (!message.empty())
            reportError(shownPluginName(plugin.file), message);
    }
    for (uint32_t track : result.unopenedTracks)
        reportError(subject, "data track " + std::to_string(track) + " cannot be read; not scanned");
}

std::vector<ListedStream> listStreams(const scan::ScanResult& result)
{
    std::vector<ListedStream> list;
    for (const scan::PluginScan& plugin : result.plugins) {
        for (const StrInfo& info : plugin.streams) {
            ListedStream stream;
            stream.number = uint32_t(list.size() + 1);
            stream.pluginFile = shownPluginName(plugin.file);
            stream.pluginName = plugin.name;
            stream.info = info;
            list.push_back(std::move(stream));
        }
    }
    return list;
}

} // namespace tamrin::cli
