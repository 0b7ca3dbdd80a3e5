// WAVE conversion: the sound of a stream as a RIFF/WAVE file of PCM samples, in the format of the
// settings (converted unit by unit when it differs from the stream's).
//
// The file is complete or absent. It keeps no sound that a unit could not give: a unit that
// cannot be decoded (or a plugin unit larger than the read buffer) ends the conversion with
// PLB_CONV_NO_STREAM and no file, as leaving the unit out would shift every later sample and
// a file cut there would pass for the whole sound. A write that fails (a full disc, the
// file-size limit) ends it with PLB_CONV_WAVE_FILE and no file. On cancel, or when the final
// progress call answers 0, the result is PLB_CONV_OK and no file either; a file that had the
// target's name before is left as it was in every one of these cases.
//
// The data are always PCM, so the header's format tag is 1 whatever the settings' tag says.
#include <cstdint>
#include <string>

#include "convert/conversion.h"
#include "tamlib/sound_decoder.h"
#include "tamlib/wave_file.h"
#include "tamrin_common/c_guard.h"

namespace tamlib::convert {

namespace {

// Both formats at the same level: no gain change.
constexpr uint16_t kLevel = 100;
// The sample rates the rate converter handles (as the command-line tool accepts them).
constexpr uint32_t kLowestRate = 1000;
constexpr uint32_t kHighestRate = 384000;

bool usableTarget(const PlbWaveSettings& settings)
{
    return (settings.channels == 1 || settings.channels == 2) &&
           (settings.bitsPerSample == 8 || settings.bitsPerSample == 16) &&
           settings.sampleRate >= kLowestRate && settings.sampleRate <= kHighestRate;
}

// The decoders give 16-bit PCM of one or two channels at the stream's rate.
bool usableSource(const StrInfo& info)
{
    return (info.kind & StrAudio) && !(info.kind & StrMusic) && (info.channels == 1 || info.channels == 2) &&
           info.sampleRate >= kLowestRate && info.sampleRate <= kHighestRate;
}

int32_t convertWave(const char* pluginName, const char* fileName, const StrInfo* info,
                    const PlbWaveSettings* settings, PlbProgressFn callback, void* user)
{
    if (!info)
        return PLB_CONV_NO_STREAM;
    if (!settings)
        return PLB_CONV_WAVE_FILE;
    const Progress progress(callback, user);

    ConversionStream stream(pluginName, fileName, *info, LBR_WANT_AUDIO);
    if (!stream.isOpen() || !usableSource(stream.info()))
        return PLB_CONV_NO_STREAM;
    const StrInfo& opened = stream.info();
    const uint32_t lengthMs = opened.durationMs;

    std::filesystem::path target;
    if (!outputPath(settings->outputPath, target) || !usableTarget(*settings))
        return PLB_CONV_WAVE_FILE;
    const WaveFormat format{settings->sampleRate, settings->channels, settings->bitsPerSample};
    WaveFile wave;
    std::string error;
    if (!wave.create(target, format, error))
        return PLB_CONV_WAVE_FILE;

    if (!progress.report(0, lengthMs))
        return PLB_CONV_OK; // cancelled: the file goes with `wave`

    const AudioFormat source{opened.sampleRate, opened.channels, 16, kLevel, 0};
    const AudioFormat output{format.sampleRate, format.channels, format.bitsPerSample, kLevel, 0};
    SoundDecoder decoder(stream.get(), source, output);
    const uint32_t frameBytes = format.frameBytes();
    uint32_t positionMs = 0;
    SoundDecoder::Unit unit;
    for (SoundDecoder::Step step; (step = decoder.next(unit)) != SoundDecoder::Step::End;) {
        if (step != SoundDecoder::Step::Unit)
            return PLB_CONV_NO_STREAM;
        if (!unit.converted.empty() && !wave.write(unit.converted.data(), unit.converted.size(), error))
            return PLB_CONV_WAVE_FILE;
        // Truncated per unit, as the callers' time displays expect.
        positionMs += uint32_t(uint64_t(unit.converted.size() / frameBytes) * 1000 / format.sampleRate);
        if (!progress.report(positionMs, lengthMs))
            return PLB_CONV_OK;
    }

    if (!progress.report(lengthMs, lengthMs))
        return PLB_CONV_OK;
    return wave.commit(error) ? PLB_CONV_OK : PLB_CONV_WAVE_FILE;
}

} // namespace

} // namespace tamlib::convert

PLB_API int32_t PlbConvertWAVE(const char* pluginName, const char* fileName, const StrInfo* info,
                               const PlbWaveSettings* settings, PlbProgressFn progress, void* user)
{
    return tamrin::guarded<int32_t>(PLB_CONV_WAVE_FILE, [&] {
        return tamlib::convert::convertWave(pluginName, fileName, info, settings, progress, user);
    });
}
