// tamrin-cli: lists the format plugins, probes files, scans discs for streams, lists the units
// of a stream (of a file or on a disc) and decodes its pictures and its sound, shows and changes
// the settings and the CDAZ files (disc analyses), in text or JSON, through the same library calls
// the player uses.
//
// Exit status: 0 when everything asked for was done; 1 when an input failed (the other inputs
// are still handled); 2 when the command line is wrong.
#include <CLI/CLI.hpp>

#include <iostream>
#include <map>

#include "commands.h"
#include "commands_play.h"
#include "library_commands.h"
#include "library_session.h"

namespace tamrin::cli {

void reportError(const std::string& subject, const std::string& message)
{
    std::cerr << "tamrin-cli: " << subject << ": " << message << '\n';
}

namespace {

// --plugin, --start, --sectors and --stream: a stream on a disc image or in a drive. The
// returned option tells afterwards whether --start was given.
CLI::Option* addDiscStreamOptions(CLI::App* command, std::string* plugin, DiscStreamChoice& choice)
{
    if (plugin)
        command->add_option("--plugin", *plugin,
                            "Plugin file name (e.g. Discmovie.psr): for a file, instead of the first that "
                            "accepts it; for a disc, the plugin that describes the area of --start.");
    CLI::Option* start = command->add_option(
        "--start", choice.start,
        "On a disc: the first sector of the stream's area (with --plugin and --sectors).");
    command
        ->add_option("--sectors", choice.sectors,
                     "On a disc: the number of sectors of the area from --start.")
        ->check(CLI::PositiveNumber);
    command
        ->add_option("--stream", choice.stream,
                     "On a disc: scan it and take the stream the scan command lists with this number.")
        ->check(CLI::PositiveNumber);
    return start;
}

const std::map<std::string, ReadErrorPolicy> kPolicies{{"abort", ReadErrorPolicy::Abort},
                                                       {"retry", ReadErrorPolicy::Retry},
                                                       {"ignore", ReadErrorPolicy::Ignore}};

} // namespace

} // namespace tamrin::cli

int main(int argc, char** argv)
{
    using namespace tamrin::cli;

    CLI::App app{"Lists format plugins, probes movie and sound files, scans discs for streams, lists a "
                 "stream's units, decodes its pictures and its sound."};
    app.name("tamrin-cli");
    app.require_subcommand(1);

    PluginsOptions pluginsOptions;
    CLI::App* plugins =
        app.add_subcommand("plugins", "List every plugin of the PsrPlugins folder beside this program.");
    plugins->add_flag("--json", pluginsOptions.json, "Write JSON instead of text.");

    ProbeOptions probeOptions;
    CLI::App* probe = app.add_subcommand(
        "probe", "Find the plugin that accepts each file and show its stream description.");
    probe->add_option("files", probeOptions.files, "Files to probe.")->required();
    probe->add_flag("--json", probeOptions.json, "Write JSON instead of text.");

    UnitsOptions unitsOptions;
    CLI::App* units = app.add_subcommand(
        "units", "Read a file's stream unit by unit; show each unit and a checksum of its payload.");
    units->add_option("file", unitsOptions.file, "The file to read, or a disc image or drive index.")
        ->required();
    CLI::Option* unitsStart = addDiscStreamOptions(units, &unitsOptions.plugin, unitsOptions.disc);
    units->add_option("--limit", unitsOptions.limit, "Stop after this many units.")
        ->check(CLI::PositiveNumber);
    units->add_flag("--json", unitsOptions.json, "Write JSON instead of text.");
    units->add_flag("--no-progress", unitsOptions.noProgress,
                    "Never show the progress line on the terminal.");

    FramesOptions framesOptions;
    CLI::App* frames = app.add_subcommand(
        "frames", "Decode a movie's pictures into BMP files (OUT/NAME-0001.bmp, by frame number), into one "
                  "raw planar 4:2:0 file (--yuv), or only for timing (--null).");
    frames->add_option("file", framesOptions.file, "The movie to decode, or a disc image or drive index.")
        ->required();
    CLI::Option* framesStart = addDiscStreamOptions(frames, &framesOptions.plugin, framesOptions.disc);
    frames->add_option("--out", framesOptions.out,
                       "Folder of the BMP files (made if missing); with --yuv, the file to write.");
    CLI::Option* bits = frames
                            ->add_option("--bits", framesOptions.bits,
                                         "Bits per pixel of the pictures: 24 (default) or 16 (5-5-5).")
                            ->check(CLI::IsMember({16, 24}));
    frames->add_option("--first", framesOptions.first, "First frame number to decode (frames count from 1).")
        ->check(CLI::PositiveNumber);
    frames->add_option("--count", framesOptions.count, "Decode at most this many frames.")
        ->check(CLI::PositiveNumber);
    CLI::Option* size =
        frames->add_option("--size", framesOptions.size,
                           "Scale every picture to WIDTHxHEIGHT (with --stretch mode 4 unless given).");
    CLI::Option* stretch =
        frames
            ->add_option(
                "--stretch", framesOptions.stretch,
                "Scaler: 0 none, 1 nearest neighbour, 2 to 4 area averaging or linear interpolation, 5 as "
                "4 with the 2x2 pattern for an exact double size. Without --size: to the display size.")
            ->check(CLI::Range(0, 5));
    frames
        ->add_flag("--yuv", framesOptions.yuv,
                   "Write every frame into the --out file as planar 4:2:0 samples before the colour "
                   "conversion: Y, then Cb, then Cr.")
        ->excludes(bits)
        ->excludes(size)
        ->excludes(stretch);
    frames->add_flag("--null", framesOptions.null, "Decode only; write nothing.");
    frames->add_option("--repeat", framesOptions.repeat, "Decode the stream this many times (for timing).")
        ->check(CLI::Range(1u, 1000000u));
    frames->add_flag("--crc", framesOptions.crc,
                     "Show a CRC-32 per frame of its pixel rows (without padding) or of its planar samples.");
    frames->add_flag("--json", framesOptions.json, "Write JSON instead of text.");
    frames->add_flag("--no-progress", framesOptions.noProgress,
                     "Never show the progress line on the terminal.");

    AudioOptions audioOptions;
    CLI::App* audio = app.add_subcommand(
        "audio", "Decode the sound of a file's stream into a RIFF/WAVE file, optionally converted.");
    audio->add_option("file", audioOptions.file, "The file to decode, or a disc image or drive index.")
        ->required();
    CLI::Option* audioStart = addDiscStreamOptions(audio, &audioOptions.plugin, audioOptions.disc);
    audio->add_option("--out", audioOptions.out, "The WAVE file to write.");
    audio
        ->add_option("--rate", audioOptions.rate,
                     "Convert to this sample rate in Hz (default: the stream's).")
        ->check(CLI::Range(1000u, 384000u));
    audio
        ->add_option("--channels", audioOptions.channels,
                     "Convert to 1 or 2 channels (default: the stream's).")
        ->check(CLI::IsMember({1, 2}));
    audio->add_option("--bits", audioOptions.bits, "Bits per sample of the file: 16 (default) or 8.")
        ->check(CLI::IsMember({8, 16}));
    audio->add_flag("--crc", audioOptions.crc,
                    "Show a CRC-32 per sound unit of its decoded PCM (before any conversion).");
    audio->add_flag("--json", audioOptions.json, "Write JSON instead of text.");
    audio->add_flag("--no-progress", audioOptions.noProgress,
                    "Never show the progress line on the terminal.");

    DrivesOptions drivesOptions;
    CLI::App* drives = app.add_subcommand(
        "drives",
        "List the CD-ROM drives: index, interface, address, vendor, product, revision, capabilities.");
    drives->add_option("images", drivesOptions.images,
                       "Disc images to mount for the run and list as drives too.");
    drives->add_flag("--json", drivesOptions.json, "Write JSON instead of text.");

    DiscOptions tocOptions;
    CLI::App* toc =
        app.add_subcommand("toc", "Show the table of contents of the disc in a drive or of a disc image.");
    toc->add_option("drive", tocOptions.drive, "A drive index (see drives) or a disc image (CUE, ISO, raw).")
        ->required();
    toc->add_flag("--json", tocOptions.json, "Write JSON instead of text.");

    DiscOptions volumeOptions;
    CLI::App* volume =
        app.add_subcommand("volume", "Show the volume identity of the disc in a drive or of a disc image.");
    volume
        ->add_option("drive", volumeOptions.drive,
                     "A drive index (see drives) or a disc image (CUE, ISO, raw).")
        ->required();
    volume->add_flag("--json", volumeOptions.json, "Write JSON instead of text.");

    ReadOptions readOptions;
    CLI::App* read = app.add_subcommand(
        "read", "Read sectors of a drive or a disc image through the sector reader into a file; sectors that "
                "cannot be read are reported and written as zeros.");
    read->add_option("drive", readOptions.drive,
                     "A drive index (see drives) or a disc image (CUE, ISO, raw).")
        ->required();
    read->add_option("--lba", readOptions.lba, "First sector (logical block address).")->required();
    read->add_option("--count", readOptions.count, "Number of sectors.")->required();
    read->add_flag("--user", readOptions.user,
                   "Read 2048 bytes of user data per sector instead of raw 2352.");
    read->add_option("--out", readOptions.out, "The file to write.")->required();
    read->add_flag("--json", readOptions.json, "Write JSON instead of text.");
    read->add_flag("--no-progress", readOptions.noProgress, "Never show the progress line on the terminal.");

    ScanOptions scanOptions;
    CLI::App* scan = app.add_subcommand(
        "scan",
        "Offer every sector of the data tracks of a disc (image or drive) to the CD plugins and list the "
        "streams they find; frames, audio and units take a stream by its number (--stream).");
    scan->add_option("drive", scanOptions.drive,
                     "A drive index (see drives) or a disc image (CUE, ISO, raw).")
        ->required();
    scan->add_option("--plugins", scanOptions.plugins,
                     "Plugin file names, comma-separated, in the order they are asked and listed "
                     "(default: every installed plugin that reads discs).")
        ->delimiter(',');
    scan->add_option(
            "--on-error", scanOptions.onError,
            "A sector that cannot be read: abort (stop the scan), retry (up to --retries times, then "
            "skip it) or ignore (skip it; the default).")
        ->transform(CLI::CheckedTransformer(kPolicies, CLI::ignore_case));
    scan->add_option("--retries", scanOptions.retries, "Reads of an unreadable sector with --on-error retry.")
        ->check(CLI::Range(1u, 100u));
    scan->add_flag("--json", scanOptions.json, "Write JSON instead of text.");
    scan->add_flag("--no-progress", scanOptions.noProgress, "Never show the progress line on the terminal.");

    const LibraryCommands libraryCommands(app);
    const PlayCommand playCommand(app);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // Help is a success (and goes to stdout); every other parse error is a usage error.
        const int status = app.exit(error);
        return status == 0 ? kExitOk : kExitUsage;
    }

    // Every command runs in the library's environment, as the player does: its settings (the
    // colour correction among them) and its list of installed plugins.
    const LibrarySession session;
    if (const auto status = libraryCommands.run())
        return *status;
    if (const auto status = playCommand.run())
        return *status;

    unitsOptions.disc.hasStart = unitsStart->count() > 0;
    framesOptions.disc.hasStart = framesStart->count() > 0;
    audioOptions.disc.hasStart = audioStart->count() > 0;

    if (*plugins)
        return runPlugins(pluginsOptions);
    if (*scan) {
        if (const auto problem = scanUsageProblem(scanOptions)) {
            reportError("scan", *problem);
            return kExitUsage;
        }
        return runScan(scanOptions);
    }
    if (*probe)
        return runProbe(probeOptions);
    if (*frames) {
        if (const auto problem = framesUsageProblem(framesOptions)) {
            reportError("frames", *problem);
            return kExitUsage;
        }
        return runFrames(framesOptions);
    }
    if (*audio) {
        if (const auto problem = audioUsageProblem(audioOptions)) {
            reportError("audio", *problem);
            return kExitUsage;
        }
        return runAudio(audioOptions);
    }
    if (*drives)
        return runDrives(drivesOptions);
    if (*toc)
        return runToc(tocOptions);
    if (*volume)
        return runVolume(volumeOptions);
    if (*read) {
        if (const auto problem = readUsageProblem(readOptions)) {
            reportError("read", *problem);
            return kExitUsage;
        }
        return runRead(readOptions);
    }
    if (const auto problem = unitsUsageProblem(unitsOptions)) {
        reportError("units", *problem);
        return kExitUsage;
    }
    return runUnits(unitsOptions);
}
