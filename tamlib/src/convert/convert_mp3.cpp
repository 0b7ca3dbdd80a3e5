// MP3 output through LAME (libmp3lame, loaded at run time: lame_library.h).
//
// PlbConvertGOGO reads a stream's sound (the stream opened for audio only), converts it to
// 44100 Hz 16-bit PCM with the stream's channels, and hands it to LAME; one conversion runs at a
// time in the process. The MP3 settings record maps onto LAME as follows:
//
// | field / switch           | value                    | LAME                                              |
// |--------------------------|--------------------------|---------------------------------------------------|
// | bit rate                 | kbit/s                   | constant rate: at least 32, the nearest MPEG-1    |
// |                          |                          | layer III rate (halfway up: 144 -> 160); above    |
// |                          |                          | 320: error 16                                     |
// |                          | 0x4000 + q               | variable rate (LAME's default VBR), VBR_q = q;    |
// |                          |                          | q above 9: error 19                               |
// | channel mode             | 0 mono                   | MONO (a stereo source is mixed down)              |
// |                          | 1 stereo                 | STEREO                                            |
// |                          | 2 joint stereo           | JOINT_STEREO                                      |
// |                          | 3 mid/side               | JOINT_STEREO with mid/side forced in every frame  |
// |                          | 4 dual channel           | STEREO: LAME writes no dual-channel frames        |
// |                          | other                    | error 20                                          |
// |                          | (mono source)            | MONO whatever the mode                            |
// | 0x0001 psycho-acoustic   | set / clear              | quality 2 (LAME's high quality) / 3 (its default) |
// | 0x0002 low-pass <= 128   | set, at 128 kbit/s and   | LAME's own filter for the bit rate                |
// |                          | below or variable rate   |                                                   |
// |                          | otherwise                | no filter                                         |
// | 0x0010 .. 0x0080 CPU     | any                      | nothing: LAME chooses its instructions itself     |
// | 0x0100 VBR range         | variable rate            | VBR min/max = lowest/highest kbit/s (each clamped |
// |                          |                          | to 32..320, swapped when reversed), hard minimum  |
// | 0x0200 user low-pass     | constant rate            | the two values are the edges of the transition in |
// |                          |                          | percent of 22050 Hz (up to 100): lowpassfreq =    |
// |                          |                          | higher %, lowpasswidth = difference; a higher of  |
// |                          |                          | 0 or a lower of 100 means no filter. It takes the |
// |                          |                          | place of 0x0002.                                  |
// | emphasis                 | 0 none, 1 50/15, 3 CCITT | emphasis 0, 1, 3; others: error 11                |
// | output format            | 0 plain MP3              | MPEG frames; the first is LAME's information      |
// |                          |                          | frame (frame count, encoder delay and padding),   |
// |                          |                          | written at the end, so players see the right      |
// |                          |                          | length for constant and variable rates (below 64  |
// |                          |                          | kbit/s constant, LAME leaves it out: it does not  |
// |                          |                          | fit in a frame, and decoders then count LAME's    |
// |                          |                          | delay and padding, under two frames, in)          |
// |                          | 1 RIFF/WAVE              | the frames in a WAVE file of format 0x0055        |
// |                          |                          | (MPEG layer 3) with a "fact" sample count         |
// |                          | 2 RIFF/RMP               | the frames in a RIFF "RMP3" file's data chunk     |
// |                          | other                    | error 11                                          |
//
// Results: 0 success (and cancel); 2 the stream cannot be opened, or a unit overran the read
// buffer; 20 the library cannot be loaded; 21 it lacks a function; 30 + e for the encoder error e
// (e from 10 to 24 has a message of its own):
//
// | e  | when                                                                             |
// |----|----------------------------------------------------------------------------------|
// | 10 | LAME failed while encoding, or lame_init_params reported an internal error       |
// | 11 | no settings record; a setting LAME refuses (lame_init_params, a lame_set_* call) |
// |    | an unknown emphasis or output format                                             |
// | 14 | the output path is empty or unterminated, or the file cannot be created or given |
// |    | its name                                                                         |
// | 15 | the stream's sample rate is 0, or LAME refuses the rate                          |
// | 16 | a constant bit rate above 320, or LAME refuses the bit rate                      |
// | 17 | the stream's sound is not one or two channels                                    |
// | 19 | a variable-rate quality above 9                                                  |
// | 20 | an unknown channel mode                                                          |
// | 21 | LAME ran out of memory (lame_init, lame_init_params or an encoding call)         |
// | 24 | writing failed (disk full, the file-size limit), or a RIFF file past 4 GiB       |
//
// A conversion that fails or is cancelled leaves no file, and a file that had the target's name
// keeps its content.
//
// PlbIsGogo answers 0x4000 | 1 (one encoder unit: LAME has no separate instruction-set units)
// when the library loads, has every function and makes an encoder; the version code is
// major * 1000 + minor (3100 for LAME 3.100), the text "LAME " and LAME's version.
#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "convert/chunked_output.h"
#include "convert/conversion.h"
#include "convert/lame_library.h"
#include "convert/mp3_plan.h"
#include "tamlib/convert.h"
#include "tamlib/sound_decoder.h"
#include "tamrin_common/c_guard.h"

namespace tamlib::convert {

namespace {

constexpr int32_t kEncoderUnits = 1; // one plain encoder; LAME picks its instructions itself
constexpr int kMostFramesPerCall = 1 << 16;
constexpr uint64_t kRiffLimit = 0xFFFFFFFFull;

std::mutex g_oneConversion;

int32_t failure(int error)
{
    return kMp3ErrorBase + error;
}

void quiet(const char*, va_list) {}

// lame_init_params' answers.
int initParamsError(int code)
{
    switch (code) {
    case LAME_NOMEM:
        return kMp3Memory;
    case LAME_BADBITRATE:
        return kMp3BitRate;
    case LAME_BADSAMPFREQ:
        return kMp3SampleRate;
    case LAME_INTERNALERROR:
        return kMp3Internal;
    default:
        return kMp3Parameter;
    }
}

// The encoding calls' answers: -2 is a failed allocation, the others are LAME's own faults.
int encodeError(int code)
{
    return code == -2 || code == LAME_NOMEM ? kMp3Memory : kMp3Internal;
}

// The file: the RIFF header of the container (sizes completed at the end), the frames written in
// large pieces, LAME's information frame put in the place LAME kept for it.
class Mp3File
{
  public:
    bool create(const std::filesystem::path& target, Mp3Container container, int channels)
    {
        m_container = container;
        m_channels = channels;
        m_header = mp3RiffHeader(container, channels, 0, 0, 0).size();
        const std::vector<uint8_t> placeholder(m_header, 0);
        return m_file.create(target) && m_file.append(placeholder.data(), placeholder.size());
    }

    // False on a write failure (or a RIFF file grown past its size fields).
    bool add(const uint8_t* bytes, size_t length)
    {
        m_dataBytes += length;
        if (m_container != Mp3Container::Plain && m_header + m_dataBytes + 1 > kRiffLimit)
            return false;
        return m_file.append(bytes, length);
    }

    // Writes what is left, the information frame at the start of the frames, and the header.
    bool finish(const std::vector<uint8_t>& infoFrame, int bitrateKbps, uint64_t samples)
    {
        if (m_container != Mp3Container::Plain && (m_dataBytes & 1)) {
            const uint8_t pad = 0;
            if (!m_file.append(&pad, 1))
                return false;
        }
        if (!m_file.flush())
            return false;
        if (!infoFrame.empty() && !m_file.writeAt(m_header, infoFrame.data(), infoFrame.size()))
            return false;
        if (m_container == Mp3Container::Plain)
            return true;
        const auto header = mp3RiffHeader(m_container, m_channels, bitrateKbps, uint32_t(m_dataBytes),
                                          uint32_t(std::min<uint64_t>(samples, kRiffLimit)));
        return m_file.writeAt(0, header.data(), header.size());
    }

    bool commit() { return m_file.commit(); }

  private:
    ChunkedOutput m_file;
    Mp3Container m_container = Mp3Container::Plain;
    int m_channels = 2;
    size_t m_header = 0;
    uint64_t m_dataBytes = 0;
};

class Mp3Conversion
{
  public:
    Mp3Conversion(const LameApi& lame, const Mp3Plan& plan, const Progress& progress)
        : m_lame(lame), m_plan(plan), m_progress(progress)
    {
    }
    ~Mp3Conversion()
    {
        if (m_flags)
            m_lame.close(m_flags);
    }
    Mp3Conversion(const Mp3Conversion&) = delete;
    Mp3Conversion& operator=(const Mp3Conversion&) = delete;

    int32_t run(const ConversionStream& stream, const std::filesystem::path& target)
    {
        const StrInfo& info = stream.info();
        if (info.sampleRate == 0)
            return failure(kMp3SampleRate);
        m_flags = m_lame.init();
        if (!m_flags)
            return failure(kMp3Memory);
        if (const int error = configure())
            return failure(error);
        if (!m_file.create(target, m_plan.container, m_plan.channelsOut))
            return failure(kMp3OutputFile);
        const uint32_t length = info.durationMs;
        if (!m_progress.report(0, length))
            return PLB_CONV_OK;

        const auto channels = uint16_t(m_plan.channelsIn);
        const AudioFormat source{info.sampleRate, channels, 16, 100, 0};
        const AudioFormat target44{kMp3OutputRate, channels, 16, 100, 0};
        SoundDecoder decoder(stream.get(), source, target44);
        SoundDecoder::Unit unit;
        for (SoundDecoder::Step step; (step = decoder.next(unit)) != SoundDecoder::Step::End;) {
            if (step == SoundDecoder::Step::Overrun)
                return PLB_CONV_NO_STREAM;
            if (step == SoundDecoder::Step::BadUnit)
                continue; // its time is lost; the sound goes on with the next unit
            if (const int error = encode(unit.converted.data(), unit.converted.size()))
                return failure(error);
            if (!m_progress.report(std::min(positionMs(), length), length))
                return PLB_CONV_OK;
        }
        if (const int error = finish())
            return failure(error);
        if (!m_progress.report(length, length))
            return PLB_CONV_OK;
        return m_file.commit() ? PLB_CONV_OK : failure(kMp3OutputFile);
    }

  private:
    int configure()
    {
        const LameApi& l = m_lame;
        lame_global_flags* f = m_flags;
        l.setErrorf(f, quiet);
        l.setDebugf(f, quiet);
        l.setMsgf(f, quiet);
        const int rate = int(kMp3OutputRate);
        bool refused = l.setInSamplerate(f, rate) != 0 || l.setOutSamplerate(f, rate) != 0;
        refused = refused || l.setNumChannels(f, m_plan.channelsIn) != 0 || l.setMode(f, m_plan.mode) != 0;
        refused = refused || (m_plan.forceMidSide && l.setForceMs(f, 1) != 0);
        if (m_plan.vbr) {
            refused = refused || l.setVbr(f, vbr_default) != 0 || l.setVbrQ(f, m_plan.vbrQuality) != 0;
            if (m_plan.vbrMinKbps > 0)
                refused = refused || l.setVbrMinKbps(f, m_plan.vbrMinKbps) != 0 ||
                          l.setVbrMaxKbps(f, m_plan.vbrMaxKbps) != 0 || l.setVbrHardMin(f, 1) != 0;
        } else {
            refused = refused || l.setVbr(f, vbr_off) != 0 || l.setBrate(f, m_plan.bitrateKbps) != 0;
        }
        refused =
            refused || l.setQuality(f, m_plan.quality) != 0 || l.setLowpassFreq(f, m_plan.lowpassHz) != 0;
        refused = refused || (m_plan.lowpassWidthHz >= 0 && l.setLowpassWidth(f, m_plan.lowpassWidthHz) != 0);
        refused = refused || l.setEmphasis(f, m_plan.emphasis) != 0;
        // Only a plain MP3 starts with the information frame; RIFF files carry their own sizes.
        refused = refused || l.setWriteVbrTag(f, m_plan.container == Mp3Container::Plain) != 0;
        if (refused)
            return kMp3Parameter;
        l.setWriteId3Automatic(f, 0);
        const int answer = l.initParams(f);
        return answer < 0 ? initParamsError(answer) : 0;
    }

    // Encodes 16-bit little-endian PCM of the source's channels and writes what LAME gives.
    int encode(const uint8_t* pcm, size_t bytes)
    {
        const size_t channels = size_t(m_plan.channelsIn);
        size_t frames = bytes / (2 * channels);
        m_samples.resize(frames * channels);
        for (size_t i = 0; i < m_samples.size(); ++i)
            m_samples[i] = short(uint16_t(pcm[2 * i] | pcm[2 * i + 1] << 8));
        m_samplesFed += frames;
        for (size_t first = 0; first < frames;) {
            const int count = int(std::min<size_t>(frames - first, kMostFramesPerCall));
            // LAME's bound for one call: 1.25 bytes a sample and 7200.
            m_mp3.resize(size_t(count) * 5 / 4 + 7200);
            short* at = m_samples.data() + first * channels;
            const int made =
                channels == 2
                    ? m_lame.encodeBufferInterleaved(m_flags, at, count, m_mp3.data(), int(m_mp3.size()))
                    : m_lame.encodeBuffer(m_flags, at, at, count, m_mp3.data(), int(m_mp3.size()));
            if (made < 0)
                return encodeError(made);
            if (!m_file.add(m_mp3.data(), size_t(made)))
                return kMp3DiskFull;
            first += size_t(count);
        }
        return 0;
    }

    int finish()
    {
        m_mp3.resize(7200);
        const int made = m_lame.encodeFlush(m_flags, m_mp3.data(), int(m_mp3.size()));
        if (made < 0)
            return encodeError(made);
        if (!m_file.add(m_mp3.data(), size_t(made)))
            return kMp3DiskFull;
        std::vector<uint8_t> infoFrame;
        if (m_plan.container == Mp3Container::Plain) {
            infoFrame.resize(4096);
            size_t size = m_lame.getLametagFrame(m_flags, infoFrame.data(), infoFrame.size());
            if (size > infoFrame.size()) {
                infoFrame.resize(size);
                size = m_lame.getLametagFrame(m_flags, infoFrame.data(), infoFrame.size());
            }
            infoFrame.resize(std::min(size, infoFrame.size()));
        }
        const int bitrate = m_plan.vbr ? 0 : m_lame.getBrate(m_flags);
        return m_file.finish(infoFrame, bitrate, m_samplesFed) ? 0 : kMp3DiskFull;
    }

    uint32_t positionMs() const
    {
        return uint32_t(std::min<uint64_t>(m_samplesFed * 1000 / kMp3OutputRate, UINT32_MAX));
    }

    const LameApi& m_lame;
    const Mp3Plan m_plan;
    const Progress& m_progress;
    lame_global_flags* m_flags = nullptr;
    Mp3File m_file;
    std::vector<short> m_samples;
    std::vector<uint8_t> m_mp3;
    uint64_t m_samplesFed = 0;
};

int32_t isGogo(uint32_t* versionCode, char* versionText)
{
    if (versionCode)
        *versionCode = 0;
    if (versionText)
        versionText[0] = '\0';
    LameLibrary library;
    if (library.status() != LameLibrary::Status::Ready)
        return 0;
    const LameApi& lame = library.api();
    lame_global_flags* flags = lame.init();
    if (!flags)
        return 0;
    lame.close(flags);
    lame_version_t version{};
    lame.getVersionNumerical(&version);
    if (versionCode)
        *versionCode = uint32_t(version.major) * 1000 + uint32_t(version.minor);
    if (versionText) {
        const char* text = lame.getVersion();
        const std::string full = std::string("LAME ") + (text ? text : "");
        const size_t length = std::min(full.size(), size_t(PLB_MP3_VERSION_BYTES - 1));
        std::memcpy(versionText, full.data(), length);
        versionText[length] = '\0';
    }
    return PLB_MP3_VBR | kEncoderUnits;
}

int32_t convertGogo(const char* pluginName, const char* fileName, const StrInfo* info,
                    const PlbMp3Settings* settings, PlbProgressFn progressFn, void* user)
{
    std::lock_guard oneAtATime(g_oneConversion);
    if (!info)
        return PLB_CONV_NO_STREAM;
    if (!settings)
        return failure(kMp3Parameter);
    const Progress progress(progressFn, user);
    const ConversionStream stream(pluginName, fileName, *info, LBR_WANT_AUDIO);
    if (!stream.isOpen())
        return PLB_CONV_NO_STREAM;
    const LameLibrary library;
    if (library.status() == LameLibrary::Status::Missing)
        return PLB_CONV_NO_ENCODER;
    if (library.status() == LameLibrary::Status::Incomplete)
        return PLB_CONV_ENCODER_INCOMPLETE;
    const Mp3Plan plan = planMp3(*settings, stream.info().channels);
    if (plan.error)
        return failure(plan.error);
    std::filesystem::path target;
    if (!outputPath(settings->outputPath, target))
        return failure(kMp3OutputFile);
    Mp3Conversion conversion(library.api(), plan, progress);
    return conversion.run(stream, target);
}

} // namespace

} // namespace tamlib::convert

PLB_API int32_t PlbIsGogo(uint32_t* versionCode, char* versionText)
{
    return tamrin::guarded<int32_t>(0, [&] { return tamlib::convert::isGogo(versionCode, versionText); });
}

PLB_API int32_t PlbConvertGOGO(const char* pluginName, const char* fileName, const StrInfo* info,
                               const PlbMp3Settings* settings, PlbProgressFn progress, void* user)
{
    using namespace tamlib::convert;
    return tamrin::guarded<int32_t>(kMp3ErrorBase + kMp3Internal, [&] {
        try {
            return convertGogo(pluginName, fileName, info, settings, progress, user);
        } catch (const std::bad_alloc&) {
            return kMp3ErrorBase + kMp3Memory;
        }
    });
}
