#include "options_file.h"

#include <cstring>
#include <fstream>
#include <initializer_list>
#include <string_view>
#include <system_error>
#include <utility>

#include "tamrin_common/file_replace.h"
#include "tamrin_common/user_folders.h"

namespace tamrin {

namespace {

constexpr uint32_t fourCc(const char (&code)[5])
{
    return uint32_t(uint8_t(code[0])) | uint32_t(uint8_t(code[1])) << 8 | uint32_t(uint8_t(code[2])) << 16 |
           uint32_t(uint8_t(code[3])) << 24;
}

constexpr uint32_t kVideoCompressor = fourCc("vidc");

// The rates the MP3 page offers, in kbit/s; the variable-bit-rate range takes them too.
constexpr int16_t kMp3Rates[] = {8,  16,  24,  32,  40,  48,  56,  64,  80,
                                 96, 112, 128, 144, 160, 192, 224, 256, 320};

// The sample formats the converters write: 1000 to 384000 Hz, or 0 for the source's own.
bool validRate(int32_t rate)
{
    return rate == 0 || (rate >= 1000 && rate <= 384000);
}

bool validBits(int16_t bits)
{
    return bits == 0 || bits == 8 || bits == 16;
}

bool validChannels(uint8_t channels)
{
    return channels <= 2;
}

bool offeredRate(int16_t rate)
{
    for (int16_t offered : kMp3Rates)
        if (rate == offered)
            return true;
    return false;
}

bool validMp3BitRate(int16_t rate)
{
    if (rate >= PLB_MP3_VBR && rate <= PLB_MP3_VBR + 9)
        return true;
    return offeredRate(rate);
}

template <size_t N> bool terminated(const char (&field)[N])
{
    return std::memchr(field, 0, N) != nullptr;
}

// An absolute folder: a relative one would put the outputs wherever the program was started.
template <size_t N> bool validFolder(const char (&field)[N])
{
    return terminated(field) && field[0] == '/';
}

// Empty (no conversion) or one of the short names that the stream kind allows.
template <size_t N>
bool validConversion(const char (&field)[N], std::initializer_list<std::string_view> allowed)
{
    if (!terminated(field))
        return false;
    const std::string_view name(field);
    if (name.empty())
        return true;
    for (std::string_view candidate : allowed)
        if (name == candidate)
            return true;
    return false;
}

std::filesystem::path defaultFolder(const OptionsEnvironment& environment, const char* below)
{
    return below ? environment.baseFolder / below : environment.baseFolder;
}

void makeFolder(const OptionsEnvironment& environment, const char* folder)
{
    if (!environment.createFolders || !*folder)
        return;
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
}

} // namespace

OptionsEnvironment systemOptionsEnvironment()
{
    OptionsEnvironment environment;
    environment.baseFolder = tamrin_common::dataFolder();
    environment.mp3Available = PlbIsGogo(nullptr, nullptr) != 0;
    environment.codecUsable = [](uint32_t handler) {
        PlbAviCompression options{};
        options.type = kVideoCompressor;
        options.handler = handler;
        PlbAviCodecInfo info{};
        return PlbGetAVIOptionInfo(&options, &info) == 1;
    };
    return environment;
}

std::filesystem::path optionsFilePath()
{
    const std::filesystem::path folder = tamrin_common::configFolder();
    return folder.empty() ? folder : folder / "Tamrin.ini";
}

namespace {

// The defaults without making any folder.
TamrinOptions plainDefaults(const OptionsEnvironment& environment)
{
    TamrinOptions options;
    std::memset(&options, 0, sizeof options);
    setFieldText(options.openFolder, defaultFolder(environment, nullptr).string());
    setFieldText(options.aviFolder, defaultFolder(environment, "Movie").string());
    setFieldText(options.waveFolder, defaultFolder(environment, "Audio").string());
    setFieldText(options.mp3Folder, defaultFolder(environment, "Audio").string());
    setFieldText(options.cstrFolder, defaultFolder(environment, "Movie").string());
    setFieldText(options.bmpFolder, defaultFolder(environment, "Bitmap").string());
    options.existingFiles = kExistingAsk;
    options.batchPriority = kPriorityBelow;
    options.playMode = kPlayOne;
    options.aviSampleRate = 44100;
    options.listFilter = kShowAll;
    setFieldText(options.videoConversion, "AVI");
    setFieldText(options.audioConversion, "WAVE");
    setFieldText(options.stillConversion, "BMP");
    setFieldText(options.musicConversion, "MID");
    options.volume = 100;
    options.mp3BitRate = 128;
    options.mp3ChannelMode = 2;
    options.mp3VbrLowest = 112;
    options.mp3VbrHighest = 128;
    options.mp3LowPassFirst = 55;
    options.mp3LowPassSecond = 70;
    options.previewSize = kPreviewSame;
    options.aviCompression.type = kVideoCompressor;
    options.aviCompression.handler = fourCc("iv32");
    if (environment.codecUsable) {
        for (uint32_t handler : {fourCc("iv50"), fourCc("iv41"), fourCc("iv32")}) {
            if (environment.codecUsable(handler)) {
                options.aviCompression.handler = handler;
                break;
            }
        }
    }
    options.aviCompression.keyFrameEvery = 3;
    options.aviCompression.quality = 10000;
    return options;
}

} // namespace

TamrinOptions defaultOptions(const OptionsEnvironment& environment)
{
    TamrinOptions options = plainDefaults(environment);
    for (const char* folder :
         {options.aviFolder, options.waveFolder, options.mp3Folder, options.cstrFolder, options.bmpFolder})
        makeFolder(environment, folder);
    return options;
}

OptionsState readOptions(std::span<const uint8_t> bytes, const OptionsEnvironment& environment,
                         TamrinOptions& options)
{
    const TamrinOptions defaults = plainDefaults(environment);
    options = defaults;
    // Something longer than a record is not one of ours: nothing of it is taken.
    if (bytes.size() > kOptionsFileSize)
        bytes = {};
    TamrinOptions stored;
    std::memset(&stored, 0, sizeof stored);
    if (!bytes.empty())
        std::memcpy(&stored, bytes.data(), std::min(bytes.size(), sizeof stored));

    // A field is taken from the file when the file holds all of it and its value is valid.
    const auto take = [&](auto& field, const auto& source, size_t offset, bool valid) {
        if (offset + sizeof field <= bytes.size() && valid)
            std::memcpy(&field, &source, sizeof field);
    };
#define TAKE(name, valid) take(options.name, stored.name, offsetof(TamrinOptions, name), (valid))

    TAKE(openFolder, validFolder(stored.openFolder));
    TAKE(aviFolder, validFolder(stored.aviFolder));
    TAKE(waveFolder, validFolder(stored.waveFolder));
    TAKE(mp3Folder, validFolder(stored.mp3Folder));
    TAKE(cstrFolder, validFolder(stored.cstrFolder));
    TAKE(bmpFolder, validFolder(stored.bmpFolder));
    TAKE(openFilterIndex, stored.openFilterIndex >= 0 && stored.openFilterIndex < 256);
    TAKE(existingFiles, true); // every other value asks
    TAKE(batchPriority, stored.batchPriority == kPriorityBelow || stored.batchPriority == kPriorityAbove);
    TAKE(playMode, stored.playMode >= kPlayOne && stored.playMode <= kPlayAll);
    TAKE(aviNoAudio, true);
    TAKE(aviChannels, validChannels(stored.aviChannels));
    TAKE(aviBitsPerSample, validBits(stored.aviBitsPerSample));
    TAKE(aviSampleRate, validRate(stored.aviSampleRate));
    TAKE(unused1584, true);
    TAKE(waveChannels, validChannels(stored.waveChannels));
    TAKE(waveBitsPerSample, validBits(stored.waveBitsPerSample));
    TAKE(waveSampleRate, validRate(stored.waveSampleRate));
    // The filter was once a menu command: everything, movies only, audio only.
    switch (stored.listFilter) {
    case 40048:
        stored.listFilter = kShowAll;
        break;
    case 40049:
        stored.listFilter = kShowVideo;
        break;
    case 40050:
        stored.listFilter = kShowWave | kShowMusic;
        break;
    default:
        break;
    }
    TAKE(listFilter, stored.listFilter <= kShowAll);
    TAKE(videoConversion, validConversion(stored.videoConversion, {"AVI", "CSTR"}));
    TAKE(audioConversion, validConversion(stored.audioConversion, {"WAVE", "MP3"}));
    TAKE(sortKey, true);
    TAKE(flags, true);
    TAKE(stillConversion, validConversion(stored.stillConversion, {"BMP"}));
    TAKE(musicConversion, validConversion(stored.musicConversion, {"MID"}));
    TAKE(volume, stored.volume > 0 && stored.volume <= 400); // 0 (older files) becomes 100
    TAKE(mp3BitRate, validMp3BitRate(stored.mp3BitRate));
    TAKE(mp3Format, stored.mp3Format >= 0 && stored.mp3Format <= 2);
    TAKE(mp3ChannelMode, stored.mp3ChannelMode >= 0 && stored.mp3ChannelMode <= 4);
    TAKE(mp3Switches, true);
    const bool vbrRange = offeredRate(stored.mp3VbrLowest) && offeredRate(stored.mp3VbrHighest) &&
                          stored.mp3VbrLowest <= stored.mp3VbrHighest;
    TAKE(mp3VbrLowest, vbrRange);
    TAKE(mp3VbrHighest, vbrRange);
    TAKE(mp3LowPassFirst, stored.mp3LowPassFirst >= 0);
    TAKE(mp3LowPassSecond, stored.mp3LowPassSecond >= 0);
    TAKE(mp3Emphasis, stored.mp3Emphasis == 0 || stored.mp3Emphasis == 1 || stored.mp3Emphasis == 3);
    TAKE(unused1648, true);
    TAKE(popupLeft, stored.popupLeft >= -100000 && stored.popupLeft <= 100000);
    TAKE(popupTop, stored.popupTop >= -100000 && stored.popupTop <= 100000);
    TAKE(previewSize, stored.previewSize >= kPreviewHalf && stored.previewSize <= kPreviewEnlarged);
    TAKE(previewFlags, (stored.previewFlags & ~(kPreviewFullScreen | kPreviewOnTop | kPreviewKeepSize)) == 0);
    TAKE(unused1676, true);
    const PlbAviCompression& avi = stored.aviCompression;
    TAKE(aviCompression, (avi.type == kVideoCompressor || avi.type == 0) && avi.quality <= 10000);
#undef TAKE

    // A record without a still-image default comes from a version without still images and music.
    if (offsetof(TamrinOptions, stillConversion) + kConversionNameBytes <= bytes.size() &&
        stored.stillConversion[0] == 0) {
        setFieldText(options.stillConversion, "BMP");
        setFieldText(options.musicConversion, "MID");
    }
    if (!environment.mp3Available && fieldText(options.audioConversion) == "MP3")
        setFieldText(options.audioConversion, "WAVE");

    // Output folders that fell back to their default are made as for a first run.
    const std::pair<const char*, const char*> folders[] = {{options.aviFolder, defaults.aviFolder},
                                                           {options.waveFolder, defaults.waveFolder},
                                                           {options.mp3Folder, defaults.mp3Folder},
                                                           {options.cstrFolder, defaults.cstrFolder},
                                                           {options.bmpFolder, defaults.bmpFolder}};
    for (const auto& [folder, fallback] : folders)
        if (std::strcmp(folder, fallback) == 0)
            makeFolder(environment, folder);

    return bytes.size() == kOptionsFileSize ? OptionsState::Loaded : OptionsState::NotLoaded;
}

std::array<uint8_t, kOptionsFileSize> writeOptions(const TamrinOptions& options)
{
    TamrinOptions record = options;
    // Texts are padded with zeros; one without its final zero would not read back: stored empty.
    const auto terminate = [](char* field, size_t size) {
        const void* end = std::memchr(field, 0, size);
        const size_t length = end ? size_t(static_cast<const char*>(end) - field) : 0;
        std::memset(field + length, 0, size - length);
    };
    for (char* folder : {record.openFolder, record.aviFolder, record.waveFolder, record.mp3Folder,
                         record.cstrFolder, record.bmpFolder})
        terminate(folder, kFolderBytes);
    for (char* name :
         {record.videoConversion, record.audioConversion, record.stillConversion, record.musicConversion})
        terminate(name, kConversionNameBytes);
    std::array<uint8_t, kOptionsFileSize> bytes;
    std::memcpy(bytes.data(), &record, bytes.size());
    return bytes;
}

OptionsState loadOptionsFile(const std::filesystem::path& path, const OptionsEnvironment& environment,
                             TamrinOptions& options)
{
    std::array<uint8_t, kOptionsFileSize + 1> buffer{};
    size_t length = 0;
    std::error_code error;
    if (!path.empty() && std::filesystem::is_regular_file(path, error)) {
        std::ifstream in(path, std::ios::binary);
        if (in) {
            in.read(reinterpret_cast<char*>(buffer.data()), std::streamsize(buffer.size()));
            length = size_t(in.gcount());
        }
    }
    return readOptions(std::span<const uint8_t>(buffer.data(), length), environment, options);
}

bool saveOptionsFile(const std::filesystem::path& path, const TamrinOptions& options, std::string* error)
{
    if (path.empty()) {
        if (error)
            *error = "no configuration folder is known (set HOME or TAMRIN_HOME)";
        return false;
    }
    std::error_code made;
    std::filesystem::create_directories(path.parent_path(), made);
    const std::array<uint8_t, kOptionsFileSize> bytes = writeOptions(options);
    return tamrin_common::replaceFile(path, std::span<const uint8_t>(bytes), error);
}

ProgramOptions::ProgramOptions(std::filesystem::path path, const OptionsEnvironment& environment)
    : m_path(std::move(path))
{
    m_state = loadOptionsFile(m_path, environment, m_record);
}

} // namespace tamrin
