#include "tamlib/sector_loop.h"

#include <algorithm>
#include <cstring>

#include "discport/discport.h"
#include "streamkit/lbr.h"

namespace tamlib::scan {

namespace {

constexpr int32_t kTocEntries = 100;
constexpr uint32_t kRawSectorBytes = 2352;
constexpr uint32_t kUserDataBytes = 2048;
// The user data of a raw Mode 2 sector follows the sync, the header and the sub-header.
constexpr uint32_t kUserDataOffset = 24;
// Spin speed of the scan's readers: the drive's highest.
constexpr int32_t kHighestSpeed = -1;

// One chosen plugin during the scan.
struct Probe
{
    PluginBinding* binding = nullptr;
    void* context = nullptr;
    bool trackDone = false; // has said it needs no more sectors of the current track
    bool wantsUserData = false;
};

// A plugin that cannot take a track's sector size is left out of the rest of the scan.
bool takesSectorSize(uint16_t mediaFlags, int32_t sectorSize)
{
    if (sectorSize == int32_t(kRawSectorBytes))
        return (mediaFlags & MediaRawSectors) != 0;
    if (sectorSize == int32_t(kUserDataBytes))
        return (mediaFlags & MediaUserData) != 0;
    return false;
}

class Scanner
{
  public:
    Scanner(int32_t drive, const std::vector<std::string>& files, const ScanCallbacks& callbacks,
            const std::atomic<bool>& stop)
        : m_drive(drive), m_callbacks(callbacks), m_stop(stop), m_probes(files.size())
    {
        m_result.plugins.resize(files.size());
        for (size_t i = 0; i < files.size(); ++i)
            m_result.plugins[i].file = files[i];
    }

    ScanResult run()
    {
        if (!readToc())
            return std::move(m_result);
        for (size_t i = 0; i < m_probes.size(); ++i)
            begin(i);
        for (const CdTocEntry& entry : m_result.tracks)
            m_total += entry.length;

        uint64_t done = 0;
        for (const CdTocEntry& entry : m_result.tracks) {
            if (stopped())
                break;
            if (entry.control & CD_TOC_DATA_TRACK)
                scanTrack(entry, done);
            done += entry.length;
        }
        if (stopped() && !m_opened) {
            // Stopped before the first data track: the scan stops at its start.
            const auto data =
                std::find_if(m_result.tracks.begin(), m_result.tracks.end(),
                             [](const CdTocEntry& e) { return (e.control & CD_TOC_DATA_TRACK) != 0; });
            m_result.stopPoint = data != m_result.tracks.end() ? int64_t(data->start) : 0;
        }
        if (!stopped()) {
            m_result.stopPoint = -1;
            if (m_callbacks.progress)
                m_callbacks.progress(m_total, m_total);
        }
        for (size_t i = 0; i < m_probes.size(); ++i)
            collect(i);
        for (size_t i = 0; i < m_probes.size(); ++i)
            end(i);
        return std::move(m_result);
    }

  private:
    bool stopped() const { return m_aborted || m_stop.load(std::memory_order_relaxed); }

    bool readToc()
    {
        CdTocEntry entries[kTocEntries] = {};
        const int32_t tracks = CdReadToc(m_drive, kTocEntries, entries);
        if (tracks <= 0)
            return false;
        m_result.tocRead = true;
        m_result.tracks.assign(entries, entries + std::min(tracks, kTocEntries));
        return true;
    }

    // Binds plugin i and opens its probe context; a plugin that cannot be bound or has nothing
    // to look for on this disc is left out, the others go on.
    void begin(size_t i)
    {
        PluginScan& plugin = m_result.plugins[i];
        Probe& probe = m_probes[i];
        probe.binding = LbrOpenPSR(plugin.file.c_str());
        if (!probe.binding) {
            plugin.outcome = PluginOutcome::NotBound;
            return;
        }
        PsrPluginInfo info{};
        const uint32_t caps = LbrGetPlugin(probe.binding, &info, nullptr);
        plugin.name.assign(info.name, strnlen(info.name, sizeof info.name));
        plugin.mediaFlags = info.mediaFlags;
        if (!(caps & CapCd)) {
            plugin.outcome = PluginOutcome::NoDiscSupport;
            close(i);
            return;
        }
        const int32_t trackCount = int32_t(m_result.tracks.size());
        probe.context = LbrIsSupportCDBegin(probe.binding, trackCount, m_result.tracks.data());
        if (!probe.context) {
            plugin.outcome = PluginOutcome::NoProbe;
            close(i);
            return;
        }
        plugin.outcome = PluginOutcome::Scanned;
    }

    bool active(size_t i) const { return m_probes[i].context != nullptr; }

    void close(size_t i)
    {
        LbrClosePSR(m_probes[i].binding);
        m_probes[i] = Probe{};
    }

    void end(size_t i)
    {
        if (!active(i))
            return;
        LbrIsSupportCDEnd(m_probes[i].binding, m_probes[i].context);
        close(i);
    }

    // Ends, for the whole scan, every plugin that cannot take this track's sector size; returns
    // how many plugins are still in the scan.
    size_t admit(int32_t sectorSize)
    {
        size_t count = 0;
        for (size_t i = 0; i < m_probes.size(); ++i) {
            if (!active(i))
                continue;
            PluginScan& plugin = m_result.plugins[i];
            if (!takesSectorSize(plugin.mediaFlags, sectorSize)) {
                plugin.outcome = PluginOutcome::WrongSectorSize;
                plugin.endedSectorSize = uint32_t(sectorSize);
                end(i);
                continue;
            }
            Probe& probe = m_probes[i];
            probe.trackDone = false;
            probe.wantsUserData = (plugin.mediaFlags & MediaUserData) != 0;
            ++count;
        }
        return count;
    }

    void scanTrack(const CdTocEntry& entry, uint64_t done)
    {
        CdReadHandle* reader = CdReadOpen(m_drive, &entry, entry.start, entry.length, kHighestSpeed);
        if (!reader) {
            m_result.unopenedTracks.push_back(entry.track);
            return;
        }
        m_opened = true;
        const int32_t sectorSize = CdGetSectorSize(reader);
        const size_t inTrack = admit(sectorSize);
        const uint32_t userOffset = sectorSize == int32_t(kRawSectorBytes) ? kUserDataOffset : 0;
        m_result.stopPoint = entry.start;

        size_t finished = 0;
        uint32_t attempt = 1;
        bool ignoring = false; // the last failure was ignored and no sector was read since
        for (uint32_t i = 0; i < entry.length && finished < inTrack && !stopped();) {
            const uint32_t lba = entry.start + i;
            const uint8_t* sector = CdReadSector(reader, nullptr);
            if (!sector) {
                ++m_result.sectorsFailed;
                const ReadErrorAnswer answer = ignoring || !m_callbacks.readError
                                                   ? ReadErrorAnswer::Ignore
                                                   : m_callbacks.readError(lba, attempt);
                if (answer == ReadErrorAnswer::Abort) {
                    m_aborted = true;
                    break;
                }
                if (answer == ReadErrorAnswer::Retry) {
                    CdSetReadPointer(reader, -1, 1);
                    ++attempt;
                    continue;
                }
                ignoring = true;
            } else {
                ignoring = false;
                ++m_result.sectorsRead;
                m_result.stopPoint = int64_t(lba) + 1;
                for (size_t p = 0; p < m_probes.size(); ++p) {
                    Probe& probe = m_probes[p];
                    if (!probe.context || probe.trackDone)
                        continue;
                    const uint8_t* data = probe.wantsUserData ? sector + userOffset : sector;
                    if (LbrIsSupportCDSector(probe.binding, probe.context, entry, lba, data) == 0) {
                        probe.trackDone = true;
                        ++finished;
                    }
                }
                CdUnlockReadBuffer(reader, sector);
            }
            attempt = 1;
            ++i;
            if (m_callbacks.progress)
                m_callbacks.progress(done + i, m_total);
        }
        CdReadClose(reader);

        // The end of the track, stopped or not: the plugins close the streams they still follow
        // (and drop the unfinished ones) on this call.
        for (size_t p = 0; p < m_probes.size(); ++p)
            if (active(p))
                LbrIsSupportCDSector(m_probes[p].binding, m_probes[p].context, entry, 0, nullptr);
    }

    void collect(size_t i)
    {
        if (!active(i))
            return;
        const Probe& probe = m_probes[i];
        const int32_t count =
            std::min(LbrIsSupportCDResult(probe.binding, probe.context, 0, nullptr), kMaxStreamsPerPlugin);
        std::vector<StrInfo>& streams = m_result.plugins[i].streams;
        for (int32_t k = 0; k < count; ++k) {
            StrInfo info{};
            if (LbrIsSupportCDResult(probe.binding, probe.context, k, &info) < 0)
                break;
            streams.push_back(info);
        }
    }

    const int32_t m_drive;
    const ScanCallbacks& m_callbacks;
    const std::atomic<bool>& m_stop;
    std::vector<Probe> m_probes;
    ScanResult m_result;
    uint64_t m_total = 0;
    bool m_aborted = false;
    bool m_opened = false; // a data track's reader has been opened
};

} // namespace

ScanResult scanDisc(int32_t drive, const std::vector<std::string>& pluginFiles,
                    const ScanCallbacks& callbacks, const std::atomic<bool>& stop)
{
    Scanner scanner(drive, pluginFiles, callbacks, stop);
    return scanner.run();
}

} // namespace tamlib::scan
