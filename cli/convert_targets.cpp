#include "convert_targets.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>

#include "streamkit/lbr.h"
#include "tamlib/batch.h"

namespace tamrin::cli {

namespace fs = std::filesystem;

namespace {

constexpr uint16_t kDefaultStretch = 4;
constexpr uint16_t kDefaultKbps = 128;
constexpr int32_t kMp3OutputFile = 44; // the encoder's "output file cannot be created"

template <typename Record> std::vector<uint8_t> bytesOf(const Record& record)
{
    const auto* begin = reinterpret_cast<const uint8_t*>(&record);
    return std::vector<uint8_t>(begin, begin + sizeof record);
}

uint32_t le32(const char* bytes)
{
    uint32_t value;
    std::memcpy(&value, bytes, 4);
    return value;
}

std::vector<uint8_t> waveSettings(const SettingsInput& input, const StrInfo& info)
{
    const ConvertOptions& options = input.options;
    PlbWaveSettings settings{};
    settings.formatTag = 1;
    settings.sampleRate = options.rate ? options.rate : info.sampleRate;
    settings.channels = options.channels ? options.channels : info.channels;
    settings.bitsPerSample = options.bits ? options.bits : uint16_t(16);
    return bytesOf(settings);
}

std::vector<uint8_t> aviSettings(const SettingsInput& input, const StrInfo& info)
{
    const ConvertOptions& options = input.options;
    PlbAviSettings settings{};
    settings.width = input.size ? input.size->first : info.width;
    settings.height = input.size ? input.size->second : info.height;
    settings.frameRate = input.frameRate ? *input.frameRate : info.frameRate;
    settings.stretchMode = kDefaultStretch;
    settings.audio = !options.noAudio && (info.kind & StrAudio) && !(info.kind & StrMusic) &&
                     info.channels != 0 && info.sampleRate != 0;
    settings.sampleRate = options.rate ? options.rate : info.sampleRate;
    settings.channels = options.channels ? options.channels : info.channels;
    settings.bitsPerSample = options.bits ? options.bits : uint16_t(16);
    settings.compression = input.compression;
    return bytesOf(settings);
}

std::vector<uint8_t> mp3Settings(const SettingsInput& input, const StrInfo& info)
{
    const ConvertOptions& options = input.options;
    PlbMp3Settings settings{};
    settings.bitRate = options.vbr >= 0 ? uint16_t(PLB_MP3_VBR | options.vbr)
                                        : uint16_t(options.kbps ? options.kbps : kDefaultKbps);
    const std::string mode = !options.mode.empty() ? options.mode : info.channels == 1 ? "mono" : "joint";
    settings.channelMode = mode == "mono" ? 0 : mode == "stereo" ? 1 : 2;
    // The encoder's usual quality and its own low-pass filter, as other LAME front ends use it
    // (the thorough analysis takes twice the time for little gain).
    settings.switches = PLB_MP3_LOWPASS_128;
    return bytesOf(settings);
}

std::vector<uint8_t> bitmapSettings(const SettingsInput& input, const StrInfo& info)
{
    PlbBitmapSettings settings{};
    settings.width = input.size ? input.size->first : info.width;
    settings.height = input.size ? input.size->second : info.height;
    return bytesOf(settings);
}

// MIDI and compact movie records hold the output path alone, which the batch writes.
template <typename Record> std::vector<uint8_t> pathOnly(const SettingsInput&, const StrInfo&)
{
    return bytesOf(Record{});
}

Contents waveContents(const fs::path& path)
{
    char header[44];
    std::ifstream in(path, std::ios::binary);
    if (!in.read(header, sizeof header) || std::memcmp(header + 36, "data", 4) != 0)
        return {};
    const uint32_t frameBytes = uint32_t(uint8_t(header[32])) | uint32_t(uint8_t(header[33])) << 8;
    if (frameBytes == 0)
        return {};
    return {std::nullopt, le32(header + 40) / frameBytes};
}

// The AVI's main header (total frames, and the OpenDML count of a file past 1 GB) and the length
// of its sound stream, from the chunks of its header list.
Contents aviContents(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string head(64 << 10, '\0');
    in.read(head.data(), std::streamsize(head.size()));
    head.resize(size_t(in.gcount()));
    Contents contents;
    if (head.size() < 12 || head.compare(0, 4, "RIFF") != 0 || head.compare(8, 4, "AVI ") != 0)
        return contents;
    for (size_t at = 12; at + 8 <= head.size();) {
        const std::string id = head.substr(at, 4);
        const uint32_t size = le32(head.data() + at + 4);
        if (id == "LIST") {
            at += 12; // into the list
            continue;
        }
        const size_t body = at + 8;
        if (id == "movi" || body + size > head.size())
            break;
        if (id == "avih" && size >= 20 && !contents.frames)
            contents.frames = le32(head.data() + body + 16);
        else if (id == "dmlh" && size >= 4)
            contents.frames = le32(head.data() + body);
        else if (id == "strh" && size >= 36 && head.compare(body, 4, "auds") == 0)
            contents.samples = le32(head.data() + body + 32);
        at = body + size + (size & 1);
    }
    return contents;
}

Contents noContents(const fs::path&)
{
    return {};
}

// A kind of file is one row here (and its converter in the batch's table).
constexpr ConvertTarget kTargets[] = {
    {"wave", ".wav", PLB_CONV_TYPE_WAVE, PLB_CONV_WAVE_FILE, kSoundOptions, waveSettings, waveContents},
    {"avi", ".avi", PLB_CONV_TYPE_AVI, PLB_CONV_AVI_FILE, kSoundOptions | kSizeOption | kAviOptions,
     aviSettings, aviContents},
    {"mp3", ".mp3", PLB_CONV_TYPE_MP3, kMp3OutputFile, kMp3Options, mp3Settings, noContents},
    {"bmp", ".bmp", PLB_CONV_TYPE_BMP, PLB_CONV_BITMAP_FILE, kSizeOption, bitmapSettings, noContents},
    {"midi", ".mid", PLB_CONV_TYPE_MIDI, PLB_CONV_WAVE_FILE, 0, pathOnly<PlbMidiSettings>, noContents},
    {"cstr", ".cstr", PLB_CONV_TYPE_CSTR, PLB_CONV_CSTR_FILE, 0, pathOnly<PlbCstrSettings>, noContents},
};

} // namespace

std::span<const ConvertTarget> convertTargets()
{
    return kTargets;
}

const ConvertTarget* findConvertTarget(const std::string& name)
{
    for (const ConvertTarget& target : kTargets)
        if (name == target.name)
            return &target;
    return nullptr;
}

std::string targetsTaking(uint32_t groups)
{
    std::vector<std::string> names;
    for (const ConvertTarget& target : kTargets)
        if ((target.optionGroups & groups) == groups)
            names.emplace_back(target.name);
    std::string text;
    for (size_t i = 0; i < names.size(); ++i)
        text += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
    return text;
}

std::optional<uint16_t> parseFrameRate(const std::string& text)
{
    double fps = 0;
    const auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), fps);
    if (problem != std::errc() || end != text.data() + text.size() || !(fps > 0) || fps > 600)
        return std::nullopt;
    const double tenths = fps * 10, hundredths = fps * 100;
    if (std::fabs(tenths - std::round(tenths)) < 1e-6 && std::round(tenths) <= 800)
        return uint16_t(std::round(tenths));
    if (std::fabs(hundredths - std::round(hundredths)) < 1e-6 && std::round(hundredths) > 800)
        return uint16_t(std::round(hundredths));
    return std::nullopt;
}

std::optional<std::pair<uint32_t, uint32_t>> parseSize(const std::string& text)
{
    const size_t x = text.find_first_of("xX");
    if (x == std::string::npos)
        return std::nullopt;
    uint32_t width = 0, height = 0;
    const char* begin = text.data();
    const auto w = std::from_chars(begin, begin + x, width);
    const auto h = std::from_chars(begin + x + 1, begin + text.size(), height);
    if (w.ec != std::errc() || w.ptr != begin + x || h.ec != std::errc() || h.ptr != begin + text.size() ||
        width < 1 || width > LBR_MAX_PICTURE_SIDE || height < 1 || height > LBR_MAX_PICTURE_SIDE)
        return std::nullopt;
    return std::make_pair(width, height);
}

} // namespace tamrin::cli
