#include "conversion_settings.h"

#include <climits>
#include <cstring>
#include <filesystem>

#include "tamlib/convert.h"

namespace tamrin {

namespace {

constexpr uint16_t kStretch = 4;  // the usual stretch of LbrStretchFrame
constexpr uint16_t kMp3Kbps = 128;

template <typename Record> std::vector<uint8_t> bytesOf(const Record& record)
{
    return recordBytes(record);
}

template <typename Record> Record recordOf(int32_t type, const StrInfo& info)
{
    Record record{};
    const std::vector<uint8_t> bytes = defaultRecord(type, info);
    if (bytes.size() == sizeof record)
        std::memcpy(&record, bytes.data(), sizeof record);
    return record;
}

} // namespace

std::vector<uint8_t> defaultRecord(int32_t type, const StrInfo& info)
{
    switch (type) {
    case PLB_CONV_TYPE_AVI: {
        PlbAviSettings avi{};
        avi.width = info.width;
        avi.height = info.height;
        avi.frameRate = info.frameRate;
        avi.stretchMode = kStretch;
        avi.audio = (info.kind & StrAudio) && !(info.kind & StrMusic) && info.channels != 0 && info.sampleRate != 0;
        avi.channels = info.channels;
        avi.bitsPerSample = 16;
        avi.sampleRate = info.sampleRate;
        return bytesOf(avi);
    }
    case PLB_CONV_TYPE_WAVE: {
        PlbWaveSettings wave{};
        wave.formatTag = 1;
        wave.channels = info.channels;
        wave.bitsPerSample = 16;
        wave.sampleRate = info.sampleRate;
        return bytesOf(wave);
    }
    case PLB_CONV_TYPE_CSTR:
        return bytesOf(PlbCstrSettings{});
    case PLB_CONV_TYPE_BMP:
        return bytesOf(PlbBitmapSettings{}); // 0 x 0: the picture's own size
    case PLB_CONV_TYPE_MIDI:
        return bytesOf(PlbMidiSettings{});
    case PLB_CONV_TYPE_MP3: {
        PlbMp3Settings mp3{};
        mp3.bitRate = kMp3Kbps;
        mp3.channelMode = info.channels == 1 ? 0 : 2;
        mp3.switches = PLB_MP3_LOWPASS_128;
        return bytesOf(mp3);
    }
    default:
        return {};
    }
}

int32_t outputFailure(int32_t type)
{
    constexpr int32_t kMp3OutputFile = 44; // the encoder's "output file cannot be created"
    switch (type) {
    case PLB_CONV_TYPE_AVI:
        return PLB_CONV_AVI_FILE;
    case PLB_CONV_TYPE_CSTR:
        return PLB_CONV_CSTR_FILE;
    case PLB_CONV_TYPE_BMP:
        return PLB_CONV_BITMAP_FILE;
    case PLB_CONV_TYPE_MP3:
        return kMp3OutputFile;
    default:
        return PLB_CONV_WAVE_FILE; // WAVE and MIDI
    }
}

std::string defaultOutputPath(int32_t type, const TypeSettings& settings, const std::string& title,
                              const std::string& sourceFile, std::set<std::string>& taken)
{
    char named[PATH_MAX];
    const char* source = sourceFile.empty() ? nullptr : sourceFile.c_str();
    if (!PlbDefaultOutputName(title.empty() ? nullptr : title.c_str(), source, type, settings.mp3Format,
                              settings.folder.c_str(), named, sizeof named))
        return {};
    std::string path = named;
    char numbered[PATH_MAX];
    for (uint32_t n = 2; taken.count(path); ++n) {
        if (!PlbNumberedOutputName(named, n, numbered, sizeof numbered))
            return {};
        path = numbered;
    }
    taken.insert(path);
    return path;
}

std::vector<tamlib::batch::Item> batchItems(const std::vector<ConversionEntry>& entries,
                                            const TypeSettings (&types)[PLB_CONV_TYPES],
                                            std::vector<size_t>& indexes)
{
    std::vector<tamlib::batch::Item> items;
    indexes.clear();
    std::set<std::string> taken;
    for (const ConversionEntry& entry : entries)
        if (!entry.output.empty())
            taken.insert(entry.output);
    for (size_t i = 0; i < entries.size(); ++i) {
        const ConversionEntry& entry = entries[i];
        if (entry.done || entry.type < 0 || entry.type >= PLB_CONV_TYPES)
            continue;
        const TypeSettings& type = types[entry.type];
        tamlib::batch::Item item;
        item.source = entry.source;
        item.type = entry.type;
        item.output = !entry.output.empty()
                          ? entry.output
                          : defaultOutputPath(entry.type, type, entry.source.title, entry.source.file, taken);
        item.settings = !entry.settings.empty() ? entry.settings
                        : !type.record.empty()  ? type.record
                                                : defaultRecord(entry.type, entry.source.info);
        item.result = entry.result;
        items.push_back(std::move(item));
        indexes.push_back(i);
    }
    return items;
}

PlbAviSettings aviRecord(const TamrinOptions& options, const StrInfo& info)
{
    PlbAviSettings avi = recordOf<PlbAviSettings>(PLB_CONV_TYPE_AVI, info);
    avi.audio = avi.audio && !options.aviNoAudio;
    if (options.aviChannels == 1 || options.aviChannels == 2)
        avi.channels = options.aviChannels;
    if (options.aviBitsPerSample == 8 || options.aviBitsPerSample == 16)
        avi.bitsPerSample = uint16_t(options.aviBitsPerSample);
    if (options.aviSampleRate > 0)
        avi.sampleRate = uint32_t(options.aviSampleRate);
    avi.compression = options.aviCompression;
    return avi;
}

PlbWaveSettings waveRecord(const TamrinOptions& options, const StrInfo& info)
{
    PlbWaveSettings wave = recordOf<PlbWaveSettings>(PLB_CONV_TYPE_WAVE, info);
    if (options.waveChannels == 1 || options.waveChannels == 2)
        wave.channels = options.waveChannels;
    if (options.waveBitsPerSample == 8 || options.waveBitsPerSample == 16)
        wave.bitsPerSample = uint16_t(options.waveBitsPerSample);
    if (options.waveSampleRate > 0)
        wave.sampleRate = uint32_t(options.waveSampleRate);
    return wave;
}

PlbMp3Settings mp3Record(const TamrinOptions& options, const StrInfo& info)
{
    PlbMp3Settings mp3 = recordOf<PlbMp3Settings>(PLB_CONV_TYPE_MP3, info);
    mp3.bitRate = uint16_t(options.mp3BitRate);
    mp3.outputFormat = uint16_t(options.mp3Format);
    mp3.channelMode = info.channels == 1 ? 0 : uint16_t(options.mp3ChannelMode);
    mp3.switches = uint16_t(options.mp3Switches);
    mp3.lowPassFirst = uint16_t(options.mp3LowPassFirst);
    mp3.lowPassSecond = uint16_t(options.mp3LowPassSecond);
    mp3.vbrLowest = uint16_t(options.mp3VbrLowest);
    mp3.vbrHighest = uint16_t(options.mp3VbrHighest);
    mp3.emphasis = uint16_t(options.mp3Emphasis);
    return mp3;
}

std::string typeFolder(const TamrinOptions& options, int32_t type)
{
    switch (type) {
    case PLB_CONV_TYPE_AVI:
        return fieldText(options.aviFolder);
    case PLB_CONV_TYPE_CSTR:
        return fieldText(options.cstrFolder);
    case PLB_CONV_TYPE_WAVE:
    case PLB_CONV_TYPE_MIDI:
        return fieldText(options.waveFolder);
    case PLB_CONV_TYPE_MP3:
        return fieldText(options.mp3Folder);
    case PLB_CONV_TYPE_BMP:
        return fieldText(options.bmpFolder);
    default:
        return {};
    }
}

void typeSettingsFromOptions(const TamrinOptions& options, TypeSettings (&types)[PLB_CONV_TYPES])
{
    for (int32_t type = 0; type < PLB_CONV_TYPES; ++type) {
        types[type].folder = typeFolder(options, type);
        types[type].record.clear();
        types[type].mp3Format = uint16_t(options.mp3Format);
    }
}

} // namespace tamrin
