#include "stored_analysis.h"

#include "discport/discport.h"

namespace tamrin::cli {

namespace {

// Streams that are hidden by the user or left out by the record's own rules.
constexpr int32_t kNotListed = PLB_CDAZ_STREAM_USER_HIDDEN | PLB_CDAZ_STREAM_NO_PLUGIN |
                               PLB_CDAZ_STREAM_REANALYZE | PLB_CDAZ_STREAM_HIDDEN | PLB_CDAZ_STREAM_NO_KIND;

// Why the record leaves a stream out of its list, in the order the reasons weigh.
std::string hiddenReason(CdazRecord* record, int32_t flags, int32_t pluginIndex)
{
    if (flags & PLB_CDAZ_STREAM_USER_HIDDEN)
        return "hidden by the user";
    if (flags & PLB_CDAZ_STREAM_NO_PLUGIN)
        return "its plugin is not installed";
    if (flags & PLB_CDAZ_STREAM_REANALYZE)
        return "its plugin is newer than the analysis";
    if (flags & PLB_CDAZ_STREAM_NO_KIND)
        return "of no kind that can be played";
    if (pluginIndex >= 0 && (PlbSetCDAZPluginFlags(record, pluginIndex, 0, 0) & PLB_CDAZ_PLUGIN_OFF))
        return "its plugin is switched off for this disc";
    return "inside a stream of a higher-priority plugin (as a movie's own sound)";
}

} // namespace

std::vector<StoredStream> storedStreams(CdazRecord* record)
{
    std::vector<StoredStream> streams;
    const int32_t count = PlbGetCDAZInfo(record, nullptr, nullptr, nullptr, nullptr, nullptr);
    uint32_t listed = 0;
    for (int32_t i = 0; i < count; ++i) {
        StoredStream stream;
        char name[PLB_CDAZ_STREAM_NAME_BYTES] = {};
        int32_t pluginIndex = -1;
        if (PlbGetCDAZStream(record, i, &stream.info, name, &stream.flags, &pluginIndex) != 1)
            continue;
        stream.index = i;
        stream.name = name;
        char file[PLB_CDAZ_PLUGIN_FILE_BYTES] = {};
        if (pluginIndex >= 0 &&
            PlbGetCDAZPlugin(record, pluginIndex, file, nullptr, nullptr, nullptr, nullptr) == 1)
            stream.pluginFile = file;
        if (!(stream.flags & kNotListed))
            stream.number = ++listed;
        else
            stream.hiddenBecause = hiddenReason(record, stream.flags, pluginIndex);
        streams.push_back(std::move(stream));
    }
    return streams;
}

RecordPtr loadStoredAnalysis(int32_t drive, std::string& error)
{
    CdTocEntry tracks[100] = {};
    const int32_t count = CdReadToc(drive, 100, tracks);
    if (count <= 0) {
        error = "cannot read the table of contents (no disc in the drive, or it does not answer)";
        return nullptr;
    }
    CdVolumeInfo volume{};
    CdGetVolumeInfo(drive, &volume);
    char name[PLB_CDAZ_NAME_BYTES] = {};
    PlbMakeCDAZName(count, tracks, &volume, name);
    PlbCdazLoad load = PlbLoadCDAZ(nullptr, name, nullptr);
    if (!load.record) {
        error = std::string("no stored analysis of this disc (") + name + "); run tamrin-cli analyze first";
        return nullptr;
    }
    return RecordPtr(load.record);
}

bool splitStreamSuffix(const std::string& text, std::string& argument, uint32_t& number)
{
    const size_t hash = text.rfind('#');
    if (hash == std::string::npos || hash == 0 || hash + 1 == text.size() || text.size() - hash > 7)
        return false;
    uint32_t value = 0;
    for (size_t i = hash + 1; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + uint32_t(text[i] - '0');
    }
    argument = text.substr(0, hash);
    number = value;
    return true;
}

} // namespace tamrin::cli
