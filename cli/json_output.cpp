// JSON written by tamrin-cli. Scripts and the project's tests rely on this layout; extend it
// only by adding keys. Keys of records carry the field names of the records themselves, in
// record order; every number is a plain JSON number.
//
// plugins --json: an array, one object per *.psr file in file name order:
//   {"file", "usable": true, "name", "copyright", "author", "address", "version",
//    "subVersion", "interfaceVersion", "mediaFlags", "caps"}
//   A plugin that was bound but cannot be used has "usable": false, a "reason" and the same
//   fields; one that cannot be bound has only {"file", "usable": false, "reason"}.
//
// probe --json: an array, one object per file argument in argument order:
//   {"file", "plugin", "info": StrInfo}          when a plugin accepted the file
//   {"file", "error": "<why>"}                   otherwise (no "plugin", no "info")
//   StrInfo: {"kind", "reserved", "startSector", "sectorCount", "durationMs", "frameCount",
//             "width", "height", "frameRate", "audioFormat", "channels", "bitsPerSample",
//             "sampleRate", "dataBytes", "outWidth", "outHeight"}
//
// units --json: one object, written only when the stream could be opened:
//   {"file", "plugin", "info": StrInfo,
//    "units": [{"index", "frameNumber", "width", "height", "param", "unitKind", "unitFlags",
//               "payloadBytes", "crc32"}, ...],
//    "totals": {"videoUnits", "audioUnits", "payloadBytes"}}
//   "index" counts units from 0 in stream order; "crc32" is a string of 8 lower-case hex
//   digits (zlib CRC-32 of the payload; for an owned unit, of its block followed by the rest
//   of its payload, as the unit is stored).
#include "json_output.h"

#include <cstdio>

#include "output.h"

namespace tamrin::cli {

Json pluginJson(const PluginEntry& entry)
{
    Json object;
    object["file"] = shownPluginName(entry.file);
    object["usable"] = entry.state == PluginState::Usable;
    if (entry.state != PluginState::Usable)
        object["reason"] = std::string(unusableReason(entry));
    if (entry.state == PluginState::NotBound)
        return object;
    const PsrPluginInfo& info = entry.info;
    object["name"] = recordText(info.name);
    object["copyright"] = recordText(info.copyright);
    object["author"] = recordText(info.author);
    object["address"] = recordText(info.address);
    object["version"] = info.version;
    object["subVersion"] = info.subVersion;
    object["interfaceVersion"] = info.interfaceVersion;
    object["mediaFlags"] = info.mediaFlags;
    object["caps"] = entry.caps;
    return object;
}

Json strInfoJson(const StrInfo& info)
{
    Json object = Json::object();
    addStrInfoFields(object, info);
    return object;
}

void addStrInfoFields(Json& object, const StrInfo& info)
{
    if (!object.is_object())
        object = Json::object();
    // Room for all fields at once: the keys are copied, not moved, when the object grows.
    object.get_ref<Json::object_t&>().reserve(object.size() + 16);
    object["kind"] = info.kind;
    object["reserved"] = info.reserved;
    object["startSector"] = info.startSector;
    object["sectorCount"] = info.sectorCount;
    object["durationMs"] = info.durationMs;
    object["frameCount"] = info.frameCount;
    object["width"] = info.width;
    object["height"] = info.height;
    object["frameRate"] = info.frameRate;
    object["audioFormat"] = info.audioFormat;
    object["channels"] = info.channels;
    object["bitsPerSample"] = info.bitsPerSample;
    object["sampleRate"] = info.sampleRate;
    object["dataBytes"] = info.dataBytes;
    object["outWidth"] = info.outWidth;
    object["outHeight"] = info.outHeight;
}

Json unitJson(const UnitLine& unit)
{
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08x", unit.crc32);
    Json object;
    object["index"] = unit.index;
    object["frameNumber"] = unit.frameNumber;
    object["width"] = unit.width;
    object["height"] = unit.height;
    object["param"] = unit.param;
    object["unitKind"] = unit.unitKind;
    object["unitFlags"] = unit.unitFlags;
    object["payloadBytes"] = unit.payloadBytes;
    object["crc32"] = crc;
    return object;
}

Json unitTotalsJson(const UnitTotals& totals)
{
    Json object;
    object["videoUnits"] = totals.videoUnits;
    object["audioUnits"] = totals.audioUnits;
    object["payloadBytes"] = totals.payloadBytes;
    return object;
}

void writeJson(std::ostream& out, const Json& document)
{
    // File names are bytes, not always UTF-8; a bad sequence is replaced, never fatal.
    out << document.dump(2, ' ', false, Json::error_handler_t::replace) << '\n';
}

} // namespace tamrin::cli
