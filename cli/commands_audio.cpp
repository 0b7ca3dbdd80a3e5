// audio: decode the sound of a stream, as the player does, into a RIFF/WAVE file, optionally
// converted to another rate, channel count or sample size; optionally with a CRC-32 per sound
// unit of its decoded PCM, the regression guard of the sound decoders.
//
// audio --json: one object, written when the stream could be opened:
//   {"file", "plugin", "info": StrInfo (as probe shows it),
//    "source": {"sampleRate", "channels", "bitsPerSample"}, the decoders' PCM
//    "target": {"sampleRate", "channels", "bitsPerSample"}, the file's
//    "units": [{"index", "unitKind", "payloadBytes", "pcmBytes", "crc32"}, ...]   with --crc
//    "totals": {"units", "pcmBytes", "frames", "dataBytes", "failedUnits", "seconds"},
//    "out": the file written, when one was}
//   "index" counts sound units from 0; "crc32" (8 lower-case hex digits) is the zlib CRC-32 of
//   the unit's PCM before any conversion; "frames" and "dataBytes" are those of the target.
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <vector>

#include "command_set.h"
#include "commands.h"
#include "json_output.h"
#include "plugin_folder.h"
#include "progress.h"
#include "stream_input.h"
#include "streamkit/lbr.h"
#include "tamlib/sound_decoder.h"
#include "tamlib/wave_file.h"

namespace tamrin::cli {

namespace {

using tamlib::WaveFile;
using tamlib::WaveFormat;

// The level of both formats: no gain change.
constexpr uint16_t kLevel = 100;
// Units that cannot be decoded are each named up to this many times.
constexpr uint64_t kShownFailures = 10;

std::string crcText(uint32_t crc)
{
    char digits[16];
    std::snprintf(digits, sizeof digits, "%08x", crc);
    return digits;
}

// Why the stream's description gives no PCM this command can write; nothing when it does.
std::optional<std::string> soundProblem(const StrInfo& info)
{
    if (!(info.kind & StrAudio) || info.channels == 0)
        return std::string("finds no sound in this file");
    if (info.kind & StrMusic)
        return std::string("finds music sequence data in this file, not sound samples");
    if (info.audioFormat != 1 || info.bitsPerSample != 16)
        return "describes sound as format " + std::to_string(info.audioFormat) + " with " +
               std::to_string(info.bitsPerSample) + " bits, which is not decoded to PCM";
    if (info.channels > 2)
        return "gives " + std::to_string(info.channels) + " sound channels; only mono and stereo are decoded";
    if (info.sampleRate == 0)
        return std::string("gives no sample rate for the sound");
    return std::nullopt;
}

Json formatJson(const AudioFormat& format)
{
    Json object;
    object["sampleRate"] = format.sampleRate;
    object["channels"] = format.channels;
    object["bitsPerSample"] = format.bitsPerSample;
    return object;
}

struct UnitLine
{
    uint64_t index = 0;
    uint8_t unitKind = 0;
    uint32_t payloadBytes = 0;
    uint32_t pcmBytes = 0;
    uint32_t crc32 = 0;
};

class AudioRun
{
  public:
    AudioRun(const AudioOptions& options, const std::string& subject, const Acceptance& accepted,
             StreamState* stream)
        : m_options(options), m_subject(subject),
          m_accepted(accepted), m_source{accepted.info.sampleRate, accepted.info.channels, 16, kLevel, 0},
          m_target{options.rate ? options.rate : accepted.info.sampleRate,
                   options.channels ? options.channels : accepted.info.channels,
                   options.bits ? options.bits : uint16_t(16), kLevel, 0},
          m_decoder(stream, m_source, m_target)
    {
    }

    int run()
    {
        if (!m_options.out.empty()) {
            std::string error;
            const WaveFormat format{m_target.sampleRate, m_target.channels, m_target.bitsPerSample};
            if (!m_wave.create(m_options.out, format, error)) {
                reportError(m_options.out, error);
                return kExitFailure;
            }
        }

        const bool linesOnTerminal = !m_options.json && m_options.crc && ::isatty(STDOUT_FILENO) == 1;
        ProgressLine progress(!m_options.noProgress && !linesOnTerminal);
        const auto start = std::chrono::steady_clock::now();
        tamlib::SoundDecoder::Unit unit;
        for (tamlib::SoundDecoder::Step step;
             !m_stopped && (step = m_decoder.next(unit)) != tamlib::SoundDecoder::Step::End;) {
            handleUnit(step, unit);
            if (!unit.returned)
                fail(m_subject, shownPluginName(m_accepted.plugin) + " did not take back sound unit " +
                                    std::to_string(m_units));
            ++m_units;
            progress.update(m_units, 0, 0);
        }
        m_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        progress.finish();
        if (m_units == 0 && !m_failed)
            fail(m_subject, "the stream holds no sound units");
        finishOutput();
        printResult();
        return m_failed ? kExitFailure : kExitOk;
    }

  private:
    void handleUnit(tamlib::SoundDecoder::Step step, const tamlib::SoundDecoder::Unit& unit)
    {
        if (step == tamlib::SoundDecoder::Step::Overrun) {
            fail(m_subject, unit.problem);
            m_stopped = true;
            return;
        }
        if (step == tamlib::SoundDecoder::Step::BadUnit) {
            unitFailed(unit.problem);
            return;
        }
        const auto decoded = uint32_t(unit.pcm.size());
        m_pcmBytes += decoded;
        if (m_options.crc) {
            const UnitLine line{m_units, unit.kind, unit.payloadBytes, decoded,
                                uint32_t(::crc32(::crc32(0, nullptr, 0), unit.pcm.data(), uInt(decoded)))};
            if (m_options.json)
                m_lines.push_back(line);
            else
                printUnitText(line);
        }
        m_dataBytes += unit.converted.size();
        std::string error;
        if (!m_options.out.empty() && !unit.converted.empty() &&
            !m_wave.write(unit.converted.data(), unit.converted.size(), error)) {
            fail(m_options.out, error);
            m_stopped = true; // a full disc fails every later unit too
        }
    }

    // The file is kept only when it holds all the sound: a unit left out would shift the rest.
    void finishOutput()
    {
        if (m_options.out.empty())
            return;
        std::string error;
        if (m_failed) {
            if (!m_stopped)
                reportError(m_options.out, "not written, as not every sound unit could be decoded");
            m_wave.discard();
        } else if (!m_wave.commit(error)) {
            fail(m_options.out, error);
        } else {
            m_written = true;
        }
    }

    // Every sound unit is tried; the first few failures are shown.
    void unitFailed(const std::string& message)
    {
        ++m_failedUnits;
        m_failed = true;
        if (m_failedUnits <= kShownFailures)
            reportError(m_subject + ": sound unit " + std::to_string(m_units), message);
        else if (m_failedUnits == kShownFailures + 1)
            reportError(m_subject, "more sound units cannot be decoded; not shown");
    }

    void fail(const std::string& subject, const std::string& message)
    {
        reportError(subject, message);
        m_failed = true;
    }

    void printUnitText(const UnitLine& line) const
    {
        char text[128];
        std::snprintf(text, sizeof text, "unit %6llu kind 0x%02x payload %7u pcm %7u crc32 %s",
                      static_cast<unsigned long long>(line.index), line.unitKind, line.payloadBytes,
                      line.pcmBytes, crcText(line.crc32).c_str());
        std::cout << text << '\n';
    }

    uint64_t targetFrames() const
    {
        return m_dataBytes / (uint64_t(m_target.channels) * m_target.bitsPerSample / 8);
    }

    void printResult()
    {
        if (m_options.json) {
            Json document;
            document["file"] = m_options.file;
            document["plugin"] = shownPluginName(m_accepted.plugin);
            document["info"] = strInfoJson(m_accepted.info);
            document["source"] = formatJson(m_source);
            document["target"] = formatJson(m_target);
            if (m_options.crc) {
                Json units = Json::array();
                for (const UnitLine& line : m_lines) {
                    Json object;
                    object["index"] = line.index;
                    object["unitKind"] = line.unitKind;
                    object["payloadBytes"] = line.payloadBytes;
                    object["pcmBytes"] = line.pcmBytes;
                    object["crc32"] = crcText(line.crc32);
                    units.push_back(std::move(object));
                }
                document["units"] = std::move(units);
            }
            Json totals;
            totals["units"] = m_units;
            totals["pcmBytes"] = m_pcmBytes;
            totals["frames"] = targetFrames();
            totals["dataBytes"] = m_dataBytes;
            totals["failedUnits"] = m_failedUnits;
            totals["seconds"] = m_seconds;
            document["totals"] = std::move(totals);
            if (m_written)
                document["out"] = m_options.out;
            writeJson(std::cout, document);
            return;
        }
        char line[256];
        std::snprintf(line, sizeof line,
                      "%s: %llu sound units, %llu frames at %u Hz, %u ch, %u bits (%.3f s) in %.3f s",
                      m_subject.c_str(), static_cast<unsigned long long>(m_units),
                      static_cast<unsigned long long>(targetFrames()), m_target.sampleRate,
                      unsigned(m_target.channels), unsigned(m_target.bitsPerSample),
                      double(targetFrames()) / m_target.sampleRate, m_seconds);
        std::cout << line << '\n';
        if (m_written)
            std::cout << m_wave.dataBytes() << " bytes of sound written to " << m_options.out << '\n';
    }

    const AudioOptions& m_options;
    const std::string& m_subject; // the file, or the disc stream, in messages
    const Acceptance& m_accepted;
    const AudioFormat m_source;
    const AudioFormat m_target;
    tamlib::SoundDecoder m_decoder;
    WaveFile m_wave;

    std::vector<UnitLine> m_lines;
    uint64_t m_units = 0;
    uint64_t m_failedUnits = 0;
    uint64_t m_pcmBytes = 0;
    uint64_t m_dataBytes = 0;
    double m_seconds = 0;
    bool m_failed = false;
    bool m_stopped = false;
    bool m_written = false;
};

} // namespace

std::optional<std::string> audioUsageProblem(const AudioOptions& options)
{
    if (const auto problem = streamChoiceProblem(options.file, options.plugin, options.disc))
        return problem;
    if (options.out.empty() && !options.crc)
        return "--out is required (or --crc to print checksums only)";
    return std::nullopt;
}

int runAudio(const AudioOptions& options)
{
    StreamInput input;
    if (!input.accept({options.file, options.plugin, options.disc, !options.noProgress}))
        return kExitFailure;
    if (const auto problem = soundProblem(input.accepted().info)) {
        reportError(input.subject(), shownPluginName(input.accepted().plugin) + " " + *problem);
        return kExitFailure;
    }
    // Sound only: the pictures are never read, so they need not be queued.
    if (!input.open(LBR_WANT_AUDIO))
        return kExitFailure;
    AudioRun run(options, input.subject(), input.accepted(), input.stream());
    return run.run();
}

void addAudioCommand(CommandSet& commands)
{
    auto options = std::make_shared<AudioOptions>();
    CLI::App* audio = commands.add(
        nullptr, "audio", "Decode the sound of a file's stream into a RIFF/WAVE file, optionally converted.",
        [options] {
            return runUnlessProblem("audio", audioUsageProblem(*options), [&] { return runAudio(*options); });
        });
    audio->add_option("file", options->file, "The file to decode, a disc image or drive index, or IMAGE#N.")
        ->required();
    addStreamOptions(audio, options->plugin, options->disc);
    audio->add_option("--out", options->out, "The WAVE file to write.");
    audio->add_option("--rate", options->rate, "Convert to this sample rate in Hz (default: the stream's).")
        ->check(wholeRange(1000, 384000));
    audio->add_option("--channels", options->channels, "Convert to 1 or 2 channels (default: the stream's).")
        ->check(CLI::IsMember({1, 2}));
    audio->add_option("--bits", options->bits, "Bits per sample of the file: 16 (default) or 8.")
        ->check(CLI::IsMember({8, 16}));
    audio->add_flag("--crc", options->crc,
                    "Show a CRC-32 per sound unit of its decoded PCM (before any conversion).");
    addJsonFlag(audio, options->json);
    addNoProgressFlag(audio, options->noProgress);
}

} // namespace tamrin::cli
