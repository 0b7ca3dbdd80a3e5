// The program's options: one fixed record of 2732 bytes that lives in memory for the whole run,
// read once at start-up from Tamrin.ini in the configuration folder and written back whole when
// the program ends. Little-endian, no header, version or checksum; texts are zero-terminated and
// padded with zeros to their field's width.
//
// Nothing here needs Qt: the record is parsed from bytes (so tests and the fuzzer feed anything),
// and what the reader must know of the system (folders, the MP3 encoder, the AVI codecs) comes in
// an OptionsEnvironment.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>

#include "tamlib/convert.h"

namespace tamrin {

inline constexpr size_t kOptionsFileSize = 2732;
inline constexpr size_t kFolderBytes = 260;
inline constexpr size_t kConversionNameBytes = 7;

// Existing output files (offset 0x61C); any value other than these two asks the user.
inline constexpr int32_t kExistingOverwrite = 1040;
inline constexpr int32_t kExistingSkip = 1041;
inline constexpr int32_t kExistingAsk = 1043;
// Batch priority (0x620).
inline constexpr int32_t kPriorityBelow = 1047;
inline constexpr int32_t kPriorityAbove = 1048;
// Preview play mode (0x624): the menu commands.
inline constexpr int32_t kPlayOne = 40039;
inline constexpr int32_t kPlayRepeat = 40040;
inline constexpr int32_t kPlayAll = 40041;
// Stream list filter bits (0x638).
inline constexpr uint32_t kShowVideo = 1;
inline constexpr uint32_t kShowWave = 2;
inline constexpr uint32_t kShowMusic = 4;
inline constexpr uint32_t kShowStill = 8;
inline constexpr uint32_t kShowAll = 15;
// Flags (0x64C): opening a file on a CD-ROM drive does not suggest analysing the disc.
inline constexpr int16_t kNoDiscSuggestion = 2;
// Preview size (0x688): the menu commands.
inline constexpr uint16_t kPreviewHalf = 40061;
inline constexpr uint16_t kPreviewSame = 40062;
inline constexpr uint16_t kPreviewEnlarged = 40063;
// Preview flags (0x68A).
inline constexpr uint16_t kPreviewFullScreen = 1;
inline constexpr uint16_t kPreviewOnTop = 2;
inline constexpr uint16_t kPreviewKeepSize = 4;

// The stored record, byte for byte:
//   0x000 260 open-files folder          0x104 260 AVI folder          0x208 260 WAVE/MIDI folder
//   0x30C 260 MP3 folder                 0x410 260 CSTR folder         0x514 260 BMP folder
//   0x618 i32 open dialog filter index   0x61C i32 existing file policy
//   0x620 i32 batch priority             0x624 i32 play mode
//   0x628 u8 AVI without audio  0x629 u8 AVI channels  0x62A i16 AVI bits  0x62C i32 AVI rate
//   0x630 u8 (unused)           0x631 u8 WAVE channels 0x632 i16 WAVE bits 0x634 i32 WAVE rate
//   0x638 u32 list filter       0x63C 7 video conversion   0x643 7 audio conversion
//   0x64A i16 sort key          0x64C i16 flags            0x64E 7 still conversion
//   0x655 7 music conversion    0x65C i16 volume
//   0x65E i16 MP3 bit rate, 0x660 format, 0x662 channel mode, 0x664 switches, 0x666 VBR lowest,
//   0x668 VBR highest, 0x66A low-pass first, 0x66C low-pass second, 0x66E emphasis
//   0x670 16 (unused)  0x680 i32 pop-up left  0x684 i32 pop-up top  0x688 u16 preview size
//   0x68A u16 preview flags  0x68C 1012 (unused)  0xA80 44 AVI compression record
#pragma pack(push, 1)
struct alignas(4) TamrinOptions
{
    char openFolder[kFolderBytes];
    char aviFolder[kFolderBytes];
    char waveFolder[kFolderBytes]; // WAVE and MIDI
    char mp3Folder[kFolderBytes];
    char cstrFolder[kFolderBytes];
    char bmpFolder[kFolderBytes];
    int32_t openFilterIndex;
    int32_t existingFiles;
    int32_t batchPriority;
    int32_t playMode;
    uint8_t aviNoAudio;
    uint8_t aviChannels; // 0: as the source
    int16_t aviBitsPerSample;
    int32_t aviSampleRate;
    uint8_t unused1584;
    uint8_t waveChannels;
    int16_t waveBitsPerSample;
    int32_t waveSampleRate;
    uint32_t listFilter;
    char videoConversion[kConversionNameBytes];
    char audioConversion[kConversionNameBytes];
    int16_t sortKey;
    int16_t flags;
    char stillConversion[kConversionNameBytes];
    char musicConversion[kConversionNameBytes];
    int16_t volume;     // percent
    int16_t mp3BitRate; // kbit/s, or PLB_MP3_VBR | quality 0-9
    int16_t mp3Format;
    int16_t mp3ChannelMode;
    int16_t mp3Switches; // PLB_MP3_*
    int16_t mp3VbrLowest;
    int16_t mp3VbrHighest;
    int16_t mp3LowPassFirst;
    int16_t mp3LowPassSecond;
    int16_t mp3Emphasis;
    uint8_t unused1648[16];
    int32_t popupLeft;
    int32_t popupTop;
    uint16_t previewSize;
    uint16_t previewFlags;
    uint8_t unused1676[1012];
    PlbAviCompression aviCompression;
};
#pragma pack(pop)
// Every number lies at a multiple of its size, so that with the record aligned to 4 its fields can
// be used as ordinary numbers.
static_assert(sizeof(TamrinOptions) == kOptionsFileSize, "options record layout");
static_assert(offsetof(TamrinOptions, openFilterIndex) == 1560 &&
                  offsetof(TamrinOptions, listFilter) == 1592 && offsetof(TamrinOptions, volume) == 1628 &&
                  offsetof(TamrinOptions, popupLeft) == 1664 &&
                  offsetof(TamrinOptions, aviCompression) == 2688,
              "options record offsets");
static_assert(std::endian::native == std::endian::little, "the record is stored as it is in memory");

// What reading and defaulting the options must know of the system.
struct OptionsEnvironment
{
    // Stands for the program's folder: the open-files folder and the base of the output folders.
    std::filesystem::path baseFolder;
    // Whether the MP3 encoder can be used.
    bool mp3Available = false;
    // Whether the AVI converter can use the codec of this four-character handler (null: none).
    std::function<bool(uint32_t handler)> codecUsable;
    // Output folders that get their default value are made when missing.
    bool createFolders = true;
};

// The environment of this run: the data folder, PlbIsGogo and PlbGetAVIOptionInfo.
OptionsEnvironment systemOptionsEnvironment();

// Where the options file lives: Tamrin.ini in the configuration folder ($TAMRIN_HOME, else the XDG
// configuration folder's "tamrin"). Empty when neither that nor $HOME is known.
std::filesystem::path optionsFilePath();

// The record of a first run: zeros, then every default (folders below the base folder, the first
// usable of the codecs "iv50", "iv41", "iv32", else "iv32"). Creates the output folders when the
// environment asks it.
TamrinOptions defaultOptions(const OptionsEnvironment& environment);

enum class OptionsState
{
    Loaded,   // a whole record was read
    NotLoaded // no file, or one of another size: the caller tells the user that defaults apply
};

// Reads a stored record. Every field that lies whole within `bytes` is taken when its value is
// valid (a zero-terminated text, a value of its enumeration or range) and gets its default
// otherwise, so a damaged or short file keeps what can be read of it. Old list filter values are
// translated, an audio default of "MP3" becomes "WAVE" without the MP3 encoder, a zero volume and
// preview size get their defaults. More bytes than a record are not a record: all defaults.
// Loaded only when `bytes` holds exactly one record.
OptionsState readOptions(std::span<const uint8_t> bytes, const OptionsEnvironment& environment,
                         TamrinOptions& options);

// The bytes to store. A folder too long for its field is stored empty (it reads back as its
// default) rather than cut; a conversion name too long is stored empty as well.
std::array<uint8_t, kOptionsFileSize> writeOptions(const TamrinOptions& options);

// Reads the file at `path` (at most one byte past a record); a missing or unreadable file gives
// the defaults and NotLoaded.
OptionsState loadOptionsFile(const std::filesystem::path& path, const OptionsEnvironment& environment,
                             TamrinOptions& options);

// Replaces the file at `path` with the record, making its folder when missing. The old file is
// untouched when this fails: false, and the reason in `error` when given.
bool saveOptionsFile(const std::filesystem::path& path, const TamrinOptions& options,
                     std::string* error = nullptr);

// The options of one run of the program: read when made, kept in memory, stored by save (once,
// when the program ends).
class ProgramOptions
{
  public:
    explicit ProgramOptions(std::filesystem::path path = optionsFilePath(),
                            const OptionsEnvironment& environment = systemOptionsEnvironment());

    TamrinOptions& record() { return m_record; }
    const TamrinOptions& record() const { return m_record; }
    // NotLoaded: defaults were set, and the user is told so once the window is shown.
    OptionsState state() const { return m_state; }
    const std::filesystem::path& path() const { return m_path; }
    // Replaces the file with the record; false (the old file kept) with the reason.
    bool save(std::string* error = nullptr) const { return saveOptionsFile(m_path, m_record, error); }

  private:
    std::filesystem::path m_path;
    TamrinOptions m_record;
    OptionsState m_state;
};

// A text field as a string (up to its first zero, or the whole field without one).
template <size_t N> std::string fieldText(const char (&field)[N])
{
    size_t length = 0;
    while (length < N && field[length])
        ++length;
    return std::string(field, length);
}

// Sets a text field; false, leaving it empty, when `text` with its final zero does not fit.
template <size_t N> bool setFieldText(char (&field)[N], const std::string& text)
{
    std::fill(field, field + N, '\0');
    if (text.size() >= N || text.find('\0') != std::string::npos)
        return false;
    std::copy(text.begin(), text.end(), field);
    return true;
}

} // namespace tamrin
