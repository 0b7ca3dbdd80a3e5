// PlbAnalyzeCd and PlbAnalyzeFile: the lookup of an existing CDAZ (local folder, exchange
// server), the adoption and upload decisions, and the new analysis of a disc through the sector
// loop on a worker thread, with its progress and questions through the user-interface port.
#include "tamlib/analysis.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "analysis/progress_text.h"
#include "cdaz/cdaz_record.h"
#include "cdaz/cdaz_shared_check.h"
#include "discport/discport.h"
#include "exchange/exchange_client.h"
#include "env/installed.h"
#include "installed_plugins.h"
#include "streamkit/lbr.h"
#include "strings/string_table.h"
#include "tamlib/environment.h"
#include "tamlib/exchange.h"
#include "tamlib/sector_loop.h"
#include "tamlib/strings.h"
#include "tamlib/ui_port.h"
#include "tamrin_common/c_guard.h"

namespace tamlib {

namespace {

constexpr int32_t kTocEntries = 100;
constexpr int32_t kNotSearched = -9;
constexpr char kNoTitle[] = "No Title";
constexpr char kDefaultPrefix[] = "STR";
constexpr char kConsoleSystem[] = "PLAYSTATION";

enum class Origin
{
    New = 0,
    Local = 1,
    Server = 2,
};

struct Lookup
{
    Origin origin = Origin::Local;
    int32_t searchCount = kNotSearched;
    CdazSearchRecord records[PLB_EXCHANGE_MAX_RECORDS] = {};
};

struct Disc
{
    void* window = nullptr;
    int32_t drive = -1;
    std::vector<CdTocEntry> tracks;
    CdVolumeInfo volume{};
    std::string name;  // the CDAZ name with the volume information
    std::string title; // defaults of a new record
    std::string prefix = kDefaultPrefix;
    int32_t localMode = 0; // first, second and third analysis mode
    int32_t serverMode = 0;
    int32_t uploadMode = 0;
};

std::string fixedText(const char* text, size_t size)
{
    std::string value(text, strnlen(text, size));
    while (!value.empty() && value.back() == ' ')
        value.pop_back();
    return value;
}

bool exchangeOn()
{
    return PlbGetServer(nullptr, 0) > 0;
}

// A text of the string table in the language of the locale.
std::string tableText(uint32_t id)
{
    return std::string(lookupString(currentLanguage(), id));
}

std::string versionText(uint32_t version)
{
    char text[16];
    std::snprintf(text, sizeof text, "%u.%02u", version / 100, version % 100);
    return text;
}

CdazRecord* newRecord(const Disc& disc, Lookup& lookup)
{
    lookup.origin = Origin::New;
    return PlbAllocCDAZ(disc.name.c_str(), disc.title.c_str(), disc.prefix.c_str(), &disc.volume, 0, 0);
}

// The adoption question for `view` (the downloaded record, or the local one).
AdoptAnswer askAdoption(const Disc& disc, const std::string& message, const CdazRecord* view,
                        const CdazRecord* local, const Lookup& lookup)
{
    AdoptRequest request;
    request.window = disc.window;
    request.caption = tableText(PLB_IDS_ANA_ADOPT_CAPTION);
    request.message = message;
    request.title = view->title;
    request.state = tableText(view->anaSector == -1 ? PLB_IDS_ANA_COMPLETED : PLB_IDS_ANA_INTERRUPTED);
    request.streams = view->streamCount;
    request.validStreams = view->validStreams;
    request.adoptable = cdazAdoptable(view);
    const std::vector<InstalledPlugin>& installed = installedPlugins();
    for (uint16_t i = 0; i < view->pluginCount; ++i) {
        const CdazPluginEntry& entry = view->plugins[i];
        AdoptRequest::Plugin row;
        const InstalledPlugin* plugin = cdazFindInstalled(installed, entry.fileName);
        row.name = plugin ? plugin->name : fixedText(entry.fileName, sizeof entry.fileName);
        row.analysisVersion = versionText(entry.version);
        row.installedVersion = plugin ? versionText(plugin->version) : "---";
        if (!plugin)
            row.status = tableText(PLB_IDS_ANA_NO_PLUGIN_ROW);
        else if (entry.version < plugin->subVersion)
            row.status = tableText(PLB_IDS_ANA_AGAIN_ROW);
        else
            row.status = tableText(PLB_IDS_ANA_OK_ROW);
        row.files = plugin && (plugin->caps & CapFile);
        row.disc = plugin && (plugin->caps & CapCd);
        request.plugins.push_back(std::move(row));
    }
    request.twoRecords = view != local;
    request.serverEnabled = !request.twoRecords && lookup.searchCount == kNotSearched && exchangeOn();
    if (request.adoptable)
        request.defaultAnswer = AdoptAnswer::Adopt;
    else if (request.twoRecords)
        request.defaultAnswer = cdazAdoptable(local) ? AdoptAnswer::Local : AdoptAnswer::Analyze;
    else if (request.serverEnabled)
        request.defaultAnswer = AdoptAnswer::Server;
    else
        request.defaultAnswer = AdoptAnswer::Analyze;
    AdoptAnswer answer;
    try {
        answer = uiPort().adoptCdaz(request);
    } catch (...) {
        answer = request.defaultAnswer;
    }
    // An answer the dialog did not offer counts as its default.
    if ((answer == AdoptAnswer::Local && !request.twoRecords) ||
        (answer == AdoptAnswer::Server && (request.twoRecords || !request.serverEnabled)))
        answer = request.defaultAnswer;
    return answer;
}

void search(const Disc& disc, Lookup& lookup)
{
    lookup.searchCount = PlbSearchCDAZ(disc.name.c_str(), lookup.records);
}

// Downloads the first search record's CDAZ when it is a complete analysis of this disc with its
// streams inside the disc; otherwise says why it is not used and gives null.
CdazRecord* downloadForDisc(const Disc& disc, const Lookup& lookup)
{
    const exchange::Endpoint endpoint = exchange::configuredEndpoint();
    if (endpoint.address.empty())
        return nullptr;
    exchange::DownloadCheck check;
    check.tracks = disc.tracks;
    check.discName = disc.name.c_str();
    CdazRecord* record = exchange::download(endpoint, lookup.records[0].revision, lookup.records[0].language,
                                            disc.name.c_str(), &check);
    if (!record && check.fault != SharedCdazFault::None) {
        char format[PLB_STRING_MAX];
        PlbWarning(disc.window, PLB_MB_OK, PlbLoadString(nullptr, format, PLB_IDS_CDAZ_REFUSED),
                   sharedFaultText(check.fault));
    }
    return record;
}

// The comparison fields of a downloaded record, as a search line would give them.
CdazSearchRecord searchFieldsOf(CdazRecord& record)
{
    cdazNormalizeIfDirty(record);
    CdazSearchRecord fields{};
    fields.analyzeVersion = record.analyzeVersion;
    fields.pluginCount = record.pluginCount;
    for (uint16_t i = 0; i < record.pluginCount; ++i)
        fields.pluginVersionSum += record.plugins[i].version;
    fields.effectiveStreams = uint32_t(std::max(record.effectiveStreams, 0));
    fields.streamCount = uint32_t(std::max(record.streamCount, 0));
    return fields;
}

// A downloaded record replaces a local one only when it is newer than the local one by its own
// contents (not only by its search line), and is adoptable whenever the local one is.
bool betterThanLocal(CdazRecord* downloaded, CdazRecord* local)
{
    const CdazSearchRecord fields = searchFieldsOf(*downloaded);
    if (PlbCompareCDAZ(local, &fields, 1) != 0)
        return false;
    return cdazAdoptable(downloaded) || !cdazAdoptable(local);
}

// A local record was found and may be replaced by a newer one from the server.
CdazRecord* serverCheck(const Disc& disc, Lookup& lookup, CdazRecord* local)
{
    if (exchangeOn())
        search(disc, lookup);
    CdazRecord* downloaded = nullptr;
    if (lookup.searchCount > 0 && PlbCompareCDAZ(local, &lookup.records[0], 1) == 0)
        downloaded = downloadForDisc(disc, lookup);
    if (downloaded && !betterThanLocal(downloaded, local)) {
        PlbFreeCDAZ(downloaded);
        downloaded = nullptr;
    }
    if (downloaded) {
        switch (askAdoption(disc, tableText(PLB_IDS_ANA_SERVER_NEWER), downloaded, local, lookup)) {
        case AdoptAnswer::Adopt:
            PlbFreeCDAZ(local);
            PlbSaveCDAZ(nullptr, downloaded->name, downloaded);
            lookup.origin = Origin::Server;
            return downloaded;
        case AdoptAnswer::Analyze:
            PlbFreeCDAZ(local);
            PlbFreeCDAZ(downloaded);
            return newRecord(disc, lookup);
        default:
            PlbFreeCDAZ(downloaded);
            return local;
        }
    }
    if (disc.localMode == 2)
        return local;
    const uint32_t type = PLB_MB_YESNO | (cdazAdoptable(local) ? 0u : uint32_t(PLB_MB_DEFBUTTON2));
    if (PlbQuestion(disc.window, type, "%s", tableText(PLB_IDS_ANA_SERVER_NONE_USE_LOCAL).c_str()) ==
        PLB_IDYES)
        return local;
    PlbFreeCDAZ(local);
    return newRecord(disc, lookup);
}

CdazRecord* lookupRecord(Disc& disc, Lookup& lookup, const std::string& secondName)
{
    lookup = Lookup{};
    PlbCdazLoad load = PlbLoadCDAZ(nullptr, disc.name.c_str(), nullptr);
    CdazRecord* local = load.record;
    if (!local && !secondName.empty() && secondName != disc.name) {
        load = PlbLoadCDAZ(nullptr, secondName.c_str(), nullptr);
        local = load.record;
        if (local) {
            cdazCopyText(local->name, disc.name.c_str());
            PlbDeleteCDAZ(nullptr, secondName.c_str());
            PlbSaveCDAZ(nullptr, disc.name.c_str(), local);
        }
    }
    if (!local) {
        bool searching = disc.serverMode == 2;
        if (disc.serverMode == 0 && exchangeOn())
            searching = PlbQuestion(disc.window, PLB_MB_YESNO, "%s",
                                    tableText(PLB_IDS_ANA_ASK_SEARCH).c_str()) == PLB_IDYES;
        if (searching && exchangeOn()) {
            search(disc, lookup);
            if (lookup.searchCount > 0) {
                CdazRecord* downloaded = downloadForDisc(disc, lookup);
                if (downloaded) {
                    PlbSaveCDAZ(nullptr, downloaded->name, downloaded);
                    lookup.origin = Origin::Server;
                    return downloaded;
                }
            }
            PlbWarning(disc.window, PLB_MB_OK, "%s", tableText(PLB_IDS_ANA_SERVER_NOT_FOUND).c_str());
        }
        return newRecord(disc, lookup);
    }
    disc.title = local->title;
    disc.prefix = local->prefix;
    AdoptAnswer answer = AdoptAnswer::Server;
    if (disc.localMode == 1 && cdazAdoptable(local))
        answer = AdoptAnswer::Adopt;
    else if (disc.localMode != 2)
        answer = askAdoption(disc, tableText(PLB_IDS_ANA_LOCAL_FOUND), local, local, lookup);
    switch (answer) {
    case AdoptAnswer::Adopt:
    case AdoptAnswer::Local:
        return local;
    case AdoptAnswer::Analyze:
        PlbFreeCDAZ(local);
        return newRecord(disc, lookup);
    case AdoptAnswer::Server:
        break;
    }
    return serverCheck(disc, lookup, local);
}

// The upload checks after an adopted local record and after a new analysis.
void offerUpload(const Disc& disc, const Lookup& lookup, CdazRecord* record)
{
    if (disc.uploadMode == 1 ||
        fixedText(disc.volume.systemId, sizeof disc.volume.systemId) != kConsoleSystem ||
        record->anaSector != -1)
        return;
    if (lookup.searchCount < 0)
        return;
    if (lookup.searchCount > 0 && PlbCompareCDAZ(record, &lookup.records[0], 0) != 1)
        return;
    if (disc.uploadMode == 0 &&
        PlbQuestion(disc.window, PLB_MB_YESNO, "%s", tableText(PLB_IDS_ANA_ASK_UPLOAD).c_str()) != PLB_IDYES)
        return;
    PlbUploadCDAZ(nullptr, record->name, record);
}

struct Candidate
{
    const InstalledPlugin* plugin;
    bool off;
};

// Sectors between two updates of the progress estimate.
constexpr uint64_t kProgressSectors = 16;

// The worker: the sector loop over the chosen plugins, with progress and questions through the
// port. Returns false when no plugin could take part.
bool runWorker(const Disc& disc, const std::vector<const InstalledPlugin*>& chosen, scan::ScanResult& result,
               bool& userStopped)
{
    std::vector<std::string> files;
    for (const InstalledPlugin* plugin : chosen)
        files.push_back(pluginBindName(plugin->file));
    uint64_t total = 0;
    for (const CdTocEntry& entry : disc.tracks)
        total += entry.length;

    UiPort& port = uiPort();
    std::atomic<bool> stop{false};
    std::atomic<bool> stoppedByUser{false};
    ProgressText progress(total);
    scan::ScanCallbacks callbacks;
    // The loop reports every sector; the estimator reads the clock on each update, which on a
    // disc held in memory costs as much as a plugin's look at the sector. It is updated every
    // few sectors and at the end, the stop request is still seen at once.
    uint64_t reported = 0;
    callbacks.progress = [&](uint64_t done, uint64_t all) {
        if (done >= all || done < reported || done - reported >= kProgressSectors) {
            reported = done;
            ProgressState state;
            if (progress.update(done, all, state))
                port.updateProgress(state);
        }
        if (done < all && port.stopRequested()) {
            stoppedByUser = true;
            stop = true;
        }
    };
    const std::string readError = tableText(PLB_IDS_ANA_READ_ERROR);
    callbacks.readError = [&](uint32_t lba, uint32_t) {
        const int32_t answer =
            PlbWarning(disc.window, PLB_MB_ABORTRETRYIGNORE, readError.c_str(), unsigned(lba));
        if (answer == PLB_IDRETRY)
            return scan::ReadErrorAnswer::Retry;
        if (answer == PLB_IDIGNORE)
            return scan::ReadErrorAnswer::Ignore;
        return scan::ReadErrorAnswer::Abort;
    };
    port.beginProgress(tableText(PLB_IDS_ANA_PROGRESS_CAPTION), total);
    bool started = true;
    try {
        std::thread worker([&] { result = scan::scanDisc(disc.drive, files, callbacks, stop); });
        worker.join();
    } catch (...) {
        started = false;
    }
    port.endProgress();
    if (!started) {
        PlbError(disc.window, PLB_MB_OK, "%s", tableText(PLB_IDS_ANA_THREAD_FAILED).c_str());
        return false;
    }
    userStopped = stoppedByUser;
    const bool anyone =
        std::any_of(result.plugins.begin(), result.plugins.end(), [](const scan::PluginScan& p) {
            return p.outcome == scan::PluginOutcome::Scanned ||
                   p.outcome == scan::PluginOutcome::WrongSectorSize ||
                   p.outcome == scan::PluginOutcome::NoProbe;
        });
    if (!anyone) {
        PlbError(disc.window, PLB_MB_OK, "%s", tableText(PLB_IDS_ANA_NO_CD_PLUGIN).c_str());
        return false;
    }
    return true;
}

// The plugin choice and the analysis itself; false leaves the record without streams.
bool analyse(const Disc& disc, CdazRecord* record)
{
    std::vector<Candidate> candidates;
    for (const InstalledPlugin& plugin : installedPlugins())
        if (plugin.caps & CapCd)
            candidates.push_back({&plugin, plugin.noUse});
    if (candidates.empty()) {
        PlbError(disc.window, PLB_MB_OK, "%s", tableText(PLB_IDS_ANA_NO_CD_PLUGIN).c_str());
        return false;
    }
    PluginChoiceRequest choice;
    choice.window = disc.window;
    choice.caption = tableText(PLB_IDS_ANA_CHOICE_CAPTION);
    for (const Candidate& candidate : candidates)
        choice.rows.push_back({candidate.plugin->name, candidate.plugin->file, !candidate.off});
    bool go = true;
    try {
        go = uiPort().choosePlugins(choice);
    } catch (...) {
        go = false;
    }
    if (!go)
        return false;
    std::vector<const InstalledPlugin*> chosen;
    for (const PluginChoiceRequest::Row& row : choice.rows) {
        if (!row.checked)
            continue;
        for (const Candidate& candidate : candidates)
            if (candidate.plugin->file == row.file &&
                std::find(chosen.begin(), chosen.end(), candidate.plugin) == chosen.end())
                chosen.push_back(candidate.plugin);
    }

    scan::ScanResult result;
    bool userStopped = false;
    if (!runWorker(disc, chosen, result, userStopped))
        return false;
    for (size_t i = 0; i < result.plugins.size() && i < chosen.size(); ++i)
        for (const StrInfo& info : result.plugins[i].streams)
            PlbSetStreamCDAZ(record, nullptr, &info, chosen[i]->file.c_str(), chosen[i]->version, nullptr,
                             nullptr);
    PlbSetCDAZAnaSector(record, int32_t(result.stopPoint));

    if (record->streamCount <= 0) {
        if (!userStopped)
            PlbWarning(disc.window, PLB_MB_OK, "%s", tableText(PLB_IDS_ANA_NO_STREAM).c_str());
        return false;
    }
    AnalysisDoneRequest done;
    done.window = disc.window;
    done.caption = tableText(PLB_IDS_ANA_DONE_CAPTION);
    char message[PLB_STRING_MAX];
    std::snprintf(message, sizeof message, tableText(PLB_IDS_ANA_DONE_MESSAGE).c_str(), record->streamCount);
    done.message = message;
    done.title = record->title;
    done.prefix = record->prefix;
    try {
        uiPort().analysisDone(done);
    } catch (...) {
    }
    PlbSetCDAZInfo(record, done.title.substr(0, PLB_CDAZ_TITLE_BYTES - 1).c_str(),
                   done.prefix.substr(0, PLB_CDAZ_PREFIX_BYTES - 1).c_str(), 0, 0);
    return true;
}

} // namespace

CdazRecord* analyzeCd(void* window, const AnalysisOptions& options)
{
    Disc disc;
    disc.window = window;
    disc.drive = options.drive >= 0 ? options.drive : PlbGetCdDrive(nullptr, nullptr, nullptr);
    CdTocEntry entries[kTocEntries] = {};
    int32_t count = 0;
    while ((count = CdReadToc(disc.drive, kTocEntries, entries)) <= 0) {
        // Cancel is the default: a port without a person to answer does not retry for ever.
        if (PlbError(window, PLB_MB_RETRYCANCEL | PLB_MB_DEFBUTTON2, "%s",
                     tableText(PLB_IDS_ANA_NO_TOC).c_str()) != PLB_IDRETRY)
            return nullptr;
    }
    disc.tracks.assign(entries, entries + std::min(count, kTocEntries));
    CdGetVolumeInfo(disc.drive, &disc.volume);
    PlbGetAnalyzeMode(&disc.localMode, &disc.serverMode, &disc.uploadMode);
    const auto mode = [](int32_t wanted, int32_t stored) {
        return wanted >= 0 && wanted <= 2 ? wanted : stored;
    };
    disc.localMode = mode(options.localMode, disc.localMode);
    disc.serverMode = mode(options.serverMode, disc.serverMode);
    disc.uploadMode = mode(options.uploadMode, disc.uploadMode);

    const std::string volumeId = fixedText(disc.volume.volumeId, sizeof disc.volume.volumeId);
    disc.title = volumeId.empty() ? kNoTitle : volumeId;
    char name[PLB_CDAZ_NAME_BYTES] = {};
    PlbMakeCDAZName(int32_t(disc.tracks.size()), disc.tracks.data(), &disc.volume, name);
    disc.name = name;
    char second[PLB_CDAZ_NAME_BYTES] = {};
    PlbMakeCDAZName(int32_t(disc.tracks.size()), disc.tracks.data(), nullptr, second);

    Lookup lookup;
    CdazRecord* record = lookupRecord(disc, lookup, second);
    if (!record) {
        PlbError(window, PLB_MB_OK, "%s", tableText(PLB_IDS_ANA_NO_MEMORY).c_str());
        return nullptr;
    }
    if (lookup.origin == Origin::Local)
        offerUpload(disc, lookup, record);
    if (lookup.origin != Origin::New)
        return record;

    if (!analyse(disc, record)) {
        PlbFreeCDAZ(record);
        return nullptr;
    }
    PlbSaveCDAZ(nullptr, record->name, record);
    offerUpload(disc, lookup, record);
    return record;
}

namespace {

// The streams of a file that one plugin describes, from the first; at most `wanted`.
std::vector<FileIdentity> describeFileStreams(PluginBinding* binding, const char* path, size_t wanted)
{
    std::vector<FileIdentity> streams;
    const int32_t listed = LbrIsSupportFile(binding, path);
    if (listed <= 0)
        return streams;
    // Stream numbers travel in a 16-bit field.
    const size_t count = std::min({size_t(listed), wanted, size_t(UINT16_MAX) + 1});
    for (size_t k = 0; k < count; ++k) {
        FileIdentity identity;
        identity.info.reserved = uint16_t(k);
        if (LbrGetStrFileInfo(binding, path, &identity.info) <= 0 || !(identity.info.kind & 0x0F))
            break;
        if (k > 0 && identity.info.reserved != k)
            break; // the plugin does not number the streams of its files
        streams.push_back(identity);
    }
    return streams;
}

std::vector<FileIdentity> identify(const char* path, size_t wanted)
{
    if (!path || !*path)
        return {};
    for (const InstalledPlugin& plugin : installedPlugins()) {
        if (!(plugin.caps & CapFile) || plugin.noUse)
            continue;
        const std::string bindName = pluginBindName(plugin.file);
        PluginBinding* binding = LbrOpenPSR(bindName.c_str());
        if (!binding)
            continue;
        std::vector<FileIdentity> streams = describeFileStreams(binding, path, wanted);
        LbrClosePSR(binding);
        if (streams.empty())
            continue;
        for (FileIdentity& identity : streams) {
            identity.plugin = plugin.file;
            identity.bindName = bindName;
        }
        return streams;
    }
    return {};
}

} // namespace

std::optional<FileIdentity> identifyFile(const char* path)
{
    std::vector<FileIdentity> streams = identify(path, 1);
    if (streams.empty())
        return std::nullopt;
    return std::move(streams.front());
}

std::vector<FileIdentity> identifyFileStreams(const char* path)
{
    return identify(path, SIZE_MAX);
}

} // namespace tamlib

using namespace tamlib;

PLB_API CdazRecord* PlbAnalyzeCd(void* window)
{
    return tamrin::guarded<CdazRecord*>(nullptr, [&] { return analyzeCd(window, AnalysisOptions{}); });
}

PLB_API int32_t PlbAnalyzeFile(void* window, const char* path, StrInfo* info, char* pluginName)
{
    return tamrin::guarded<int32_t>(0, [&] {
        const std::optional<FileIdentity> found = identifyFile(path);
        if (found) {
            if (info)
                *info = found->info;
            if (pluginName)
                cdazCopyText(pluginName, PLB_CDAZ_PLUGIN_FILE_BYTES, found->plugin.c_str());
            return 1;
        }
        PlbWarning(window, PLB_MB_OK, tableText(PLB_IDS_ANA_NO_FILE_PLUGIN).c_str(), path ? path : "");
        return 0;
    });
}
