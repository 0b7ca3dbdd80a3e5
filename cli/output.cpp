#include "output.h"

#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>

namespace tamrin::cli {

namespace {

struct FlagName
{
    uint32_t bit;
    std::string_view word;
};

template <size_t N> std::string flagWords(uint32_t value, const FlagName (&names)[N])
{
    std::string words;
    uint32_t known = 0;
    for (const FlagName& name : names) {
        known |= name.bit;
        if (value & name.bit) {
            if (!words.empty())
                words += ", ";
            words += name.word;
        }
    }
    if (const uint32_t unknown = value & ~known) {
        if (!words.empty())
            words += ", ";
        words += hexText(unknown, 4);
    }
    return words.empty() ? std::string("none") : words;
}

constexpr FlagName kCapNames[] = {
    {CapFile, "file"},
    {CapCd, "cd"},
    {CapDecodeFrame, "decodeFrame"},
    {CapDecodeAudio, "decodeAudio"},
    {CapSetEnvironment, "setEnvironment"},
    {CapDecodeBs, "decodeBs"},
};

constexpr FlagName kMediaNames[] = {
    {MediaRawSectors, "rawSectors"},
    {MediaUserData, "userData"},
    {MediaFiles, "files"},
};

constexpr FlagName kKindNames[] = {
    {StrVideo, "video"}, {StrAudio, "audio"}, {StrStill, "still"}, {StrMusic, "music"}, {StrTimed, "timed"},
};

constexpr FlagName kUnitFlagNames[] = {
    {UnitOwned, "owned"},
    {UnitNoShow, "noShow"},
    {UnitKey, "key"},
};

void field(std::ostream& out, std::string_view name, const std::string& value)
{
    out << "  " << name << std::string(name.size() < 17 ? 17 - name.size() : 1, ' ') << value << '\n';
}

} // namespace

// Frames per second from a frameRate field: x 10 up to 800, x 100 above.
std::string frameRateText(uint16_t frameRate)
{
    char text[32];
    if (frameRate > 800)
        std::snprintf(text, sizeof text, "%u.%02u fps", frameRate / 100u, frameRate % 100u);
    else
        std::snprintf(text, sizeof text, "%u.%u fps", frameRate / 10u, frameRate % 10u);
    return text;
}

std::string versionText(uint16_t version)
{
    char text[16];
    std::snprintf(text, sizeof text, "%d.%02d", version / 100, version % 100);
    return text;
}

std::string capsWords(uint32_t caps)
{
    return flagWords(caps, kCapNames);
}

std::string mediaWords(uint16_t mediaFlags)
{
    return flagWords(mediaFlags, kMediaNames);
}

std::string kindWords(uint16_t kind)
{
    return flagWords(kind, kKindNames);
}

std::string unitFlagWords(uint8_t unitFlags)
{
    return flagWords(unitFlags, kUnitFlagNames);
}

std::string recordText(const char* text, size_t capacity)
{
    std::string utf8;
    const size_t length = strnlen(text, capacity);
    for (size_t i = 0; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            utf8 += char(byte);
        } else {
            utf8 += char(0xC0 | (byte >> 6));
            utf8 += char(0x80 | (byte & 0x3F));
        }
    }
    return utf8;
}

std::string counted(uint64_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string hexText(uint32_t value, int digits)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

void printPluginText(std::ostream& out, const PluginEntry& entry)
{
    out << shownPluginName(entry.file);
    if (entry.state == PluginState::NotBound) {
        out << "  unusable: " << unusableReason(entry) << "\n\n";
        return;
    }
    if (entry.state != PluginState::Usable)
        out << "  unusable: " << unusableReason(entry);
    out << '\n';
    const PsrPluginInfo& info = entry.info;
    // A plugin may leave its texts empty; an empty line says nothing.
    for (const auto& [label, text] :
         {std::pair{"name", recordText(info.name)}, std::pair{"copyright", recordText(info.copyright)},
          std::pair{"author", recordText(info.author)}, std::pair{"address", recordText(info.address)}})
        if (!text.empty())
            field(out, label, text);
    field(out, "version", versionText(info.version));
    field(out, "subVersion", versionText(info.subVersion));
    field(out, "interfaceVersion", versionText(info.interfaceVersion));
    field(out, "caps", hexText(entry.caps, 4) + " (" + capsWords(entry.caps) + ")");
    field(out, "mediaFlags", hexText(info.mediaFlags, 4) + " (" + mediaWords(info.mediaFlags) + ")");
    out << '\n';
}

void printStrInfoText(std::ostream& out, const StrInfo& info)
{
    field(out, "kind", hexText(info.kind, 4) + " (" + kindWords(info.kind) + ")");
    field(out, "reserved", std::to_string(info.reserved));
    field(out, "startSector", std::to_string(info.startSector));
    field(out, "sectorCount", std::to_string(info.sectorCount));
    field(out, "durationMs", std::to_string(info.durationMs));
    field(out, "frameCount", std::to_string(info.frameCount));
    field(out, "width", std::to_string(info.width));
    field(out, "height", std::to_string(info.height));
    field(out, "frameRate", std::to_string(info.frameRate) + " (" + frameRateText(info.frameRate) + ")");
    field(out, "audioFormat", std::to_string(info.audioFormat) + (info.audioFormat == 1 ? " (PCM)" : ""));
    field(out, "channels", std::to_string(info.channels));
    field(out, "bitsPerSample", std::to_string(info.bitsPerSample));
    field(out, "sampleRate", std::to_string(info.sampleRate));
    field(out, "dataBytes", std::to_string(info.dataBytes));
    field(out, "outWidth", std::to_string(info.outWidth));
    field(out, "outHeight", std::to_string(info.outHeight));
}

void printUnitHeaderText(std::ostream& out)
{
    out << " index  frameNumber unitKind unitFlags width height param payloadBytes    crc32\n";
}

void printUnitText(std::ostream& out, const UnitLine& unit)
{
    char line[128];
    std::snprintf(line, sizeof line, "%6llu %12u     0x%02X      0x%02X %5u %6u %5u %12u %08x\n",
                  static_cast<unsigned long long>(unit.index), unit.frameNumber, unit.unitKind,
                  unit.unitFlags, unit.width, unit.height, unit.param, unit.payloadBytes, unit.crc32);
    out << line;
}

void printUnitTotalsText(std::ostream& out, const UnitTotals& totals)
{
    out << "total: " << totals.videoUnits << " video units, " << totals.audioUnits << " audio units, "
        << totals.payloadBytes << " payload bytes\n";
}

} // namespace tamrin::cli
