// The commands of tamrin-cli. Each returns the process exit status.
#ifndef TAMRIN_CLI_COMMANDS_H
#define TAMRIN_CLI_COMMANDS_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tamrin::cli {

// Exit statuses: a command either did all it was asked, or failed on some input, or was
// called wrongly.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// A stream on a disc (an image or a drive) instead of a file: the area that one plugin
// describes (--plugin, --start, --sectors), or the stream the scan lists as number `stream`.
struct DiscStreamChoice
{
    bool hasStart = false;
    uint32_t start = 0;   // first sector of the area (logical block address)
    uint32_t sectors = 0; // sectors of the area; 0: not given
    uint32_t stream = 0;  // from 1; 0: not given
};

// How the scan answers a sector that cannot be read.
enum class ReadErrorPolicy
{
    Abort,
    Retry, // up to `retries` times, then ignore
    Ignore,
};

struct ScanOptions
{
    std::string drive;
    std::vector<std::string> plugins; // empty: every installed CD plugin, in file name order
    ReadErrorPolicy onError = ReadErrorPolicy::Ignore;
    uint32_t retries = 3;
    bool json = false;
    bool noProgress = false;
};

struct PluginsOptions
{
    bool json = false;
};

struct ProbeOptions
{
    std::vector<std::string> files;
    bool json = false;
};

struct UnitsOptions
{
    std::string file;
    std::string plugin; // empty: the first plugin that accepts the file
    DiscStreamChoice disc;
    uint64_t limit = 0; // 0: every unit
    bool json = false;
    bool noProgress = false;
};

struct FramesOptions
{
    std::string file;
    std::string plugin; // empty: the first plugin that accepts the file
    DiscStreamChoice disc;
    std::string out;      // BMP files: their folder; --yuv: the file
    int32_t bits = 24;    // 24 or 16
    uint32_t first = 1;   // the first frame number decoded
    uint32_t count = 0;   // 0: every frame from `first` on
    std::string size;     // "WxH"; empty: the display size rule (with --stretch) or none
    int32_t stretch = -1; // scaler mode 0 to 5; -1: 4 with --size, no scaling without
    bool yuv = false;     // planar 4:2:0 samples before the colour conversion, one file
    bool null = false;    // decode only
    uint32_t repeat = 1;  // passes over the stream
    bool crc = false;     // a checksum per frame
    bool json = false;
    bool noProgress = false;
};

struct AudioOptions
{
    std::string file;
    std::string plugin; // empty: the first plugin that accepts the file
    DiscStreamChoice disc;
    std::string out;       // the WAVE file; empty only with crc
    uint32_t rate = 0;     // 0: the stream's rate
    uint16_t channels = 0; // 0: the stream's channels
    uint16_t bits = 0;     // 0: 16
    bool crc = false;      // a checksum per sound unit of its decoded PCM
    bool json = false;
    bool noProgress = false;
};

// convert: streams into WAVE, AVI or MP3 files, as one batch.
struct ConvertOptions
{
    std::vector<std::string> sources; // files, disc images, drives, IMAGE#N; with `all` discs and folders
    std::string plugin;
    DiscStreamChoice disc;
    std::string to;  // "wave", "avi" or "mp3"
    std::string out; // the file; the folder with several sources
    uint32_t rate = 0;     // sound (WAVE, AVI); 0: the stream's
    uint16_t channels = 0; // 0: the stream's
    uint16_t bits = 0;     // 0: 16
    std::string size;      // AVI "WxH"; empty: the stream's frame size
    std::string fps;       // AVI frames per second; empty: the stream's
    std::string codec;     // AVI codec name; empty: uncompressed
    uint32_t quality = 0;  // AVI codec, 1 to 100; 0: the codec's own
    uint32_t keyframe = 0; // AVI codec key frame interval; 0: the codec's own
    uint32_t bitrate = 0;  // AVI codec data rate in kbit/s; 0: none asked
    bool noAudio = false;
    uint32_t kbps = 0; // MP3 constant bit rate; 0: 128 unless vbr
    int32_t vbr = -1;  // MP3 variable bit rate quality 0 to 9; -1: constant
    std::string mode;  // MP3 "stereo", "joint" or "mono"; empty: by the stream's channels
    std::string existing; // "overwrite", "fail" or "ask"; empty: fail (overwrite with force)
    bool force = false;   // --existing overwrite
    bool all = false;     // every visible stream of each disc, every stream file of each folder
    bool listCodecs = false;
    bool json = false;
    bool noProgress = false;
};

struct DrivesOptions
{
    std::vector<std::string> images; // mounted for the run and listed after the devices
    bool json = false;
};

// toc and volume: one drive index or disc image.
struct DiscOptions
{
    std::string drive;
    bool json = false;
};

struct ReadOptions
{
    std::string drive;
    uint32_t lba = 0;
    uint32_t count = 0;
    bool user = false; // 2048-byte user data instead of raw 2352-byte sectors
    std::string out;
    bool json = false;
    bool noProgress = false;
};

// settings: the library's stored settings, shown, or changed by KEY=VALUE assignments.
struct SettingsOptions
{
    std::vector<std::string> assignments; // --set, in command-line order
    bool json = false;
};

// cdaz list, show, edit, copy and delete; `file` is a path (with a '/' or existing) or a CDAZ
// name of the analyze folder.
struct CdazOptions
{
    std::string file;
    std::string dest; // copy: a folder or a file path
    bool force = false;
    bool json = false;
    // edit
    std::optional<std::string> title, prefix;
    std::vector<uint32_t> nameStreams; // --stream, paired in order with --name
    std::vector<std::string> names;
    std::vector<uint32_t> hide, show; // stream numbers from 1
    std::vector<std::string> pluginsOff, pluginsOn;
    std::optional<std::string> pluginOrder; // comma-separated plugin file names or numbers
};

// analyze: the library's whole disc analysis; identify: its file analysis.
struct AnalyzeOptions
{
    std::string drive;
    std::string adopt;                  // "", "local", "server" or "analyze"
    std::optional<std::string> plugins; // comma-separated plugin file names, in the order wanted
    std::string upload;                 // "", "yes" or "no"
    std::optional<std::string> title, prefix;
    bool replace = false; // a complete stored analysis may be replaced by one with fewer plugins
    bool json = false;
    bool noProgress = false;
};

struct IdentifyOptions
{
    std::vector<std::string> files;
    bool json = false;
};

int runPlugins(const PluginsOptions& options);
std::optional<std::string> analyzeUsageProblem(const AnalyzeOptions& options);
int runAnalyze(const AnalyzeOptions& options);
int runIdentify(const IdentifyOptions& options);
int runSettings(const SettingsOptions& options);
int runCdazList(const CdazOptions& options);
int runCdazShow(const CdazOptions& options);
// Why the edit options cannot be used; nothing when they are fine.
std::optional<std::string> cdazEditUsageProblem(const CdazOptions& options);
int runCdazEdit(const CdazOptions& options);
int runCdazCopy(const CdazOptions& options);
int runCdazDelete(const CdazOptions& options);
// Why the scan options cannot be used; nothing when they are fine.
std::optional<std::string> scanUsageProblem(const ScanOptions& options);
int runScan(const ScanOptions& options);
// Why a file or disc argument and its stream choice cannot go together; nothing when fine.
std::optional<std::string> streamChoiceProblem(const std::string& argument, const std::string& plugin,
                                               const DiscStreamChoice& choice);
int runProbe(const ProbeOptions& options);
std::optional<std::string> unitsUsageProblem(const UnitsOptions& options);
int runUnits(const UnitsOptions& options);
// Why the frames options cannot go together, or are out of range; nothing when they are fine.
std::optional<std::string> framesUsageProblem(const FramesOptions& options);
int runFrames(const FramesOptions& options);
int runDrives(const DrivesOptions& options);
int runToc(const DiscOptions& options);
int runVolume(const DiscOptions& options);
// Why the read options cannot be used; nothing when they are fine.
std::optional<std::string> readUsageProblem(const ReadOptions& options);
int runRead(const ReadOptions& options);
// Why the audio options cannot go together; nothing when they are fine.
std::optional<std::string> audioUsageProblem(const AudioOptions& options);
int runAudio(const AudioOptions& options);
// Why the convert options cannot go together; nothing when they are fine.
std::optional<std::string> convertUsageProblem(const ConvertOptions& options);
int runConvert(const ConvertOptions& options);

// Writes "tamrin-cli: <subject>: <message>" to stderr.
void reportError(const std::string& subject, const std::string& message);

} // namespace tamrin::cli

#endif
