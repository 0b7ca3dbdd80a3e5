// Sound units to PCM: the plugin's decoder first, then the host's decoders by unit kind.
#include <cstring>

#include "audio/adpcm.h"
#include "audio/convert.h"
#include "stream_state.h"
#include "tamrin_common/c_guard.h"

using streamkit::liveStream;
namespace audio = streamkit::audio;

namespace {

// Bytes of one channel's run in interleaved SPU ADPCM and PCM units.
size_t interleaveRun(uint8_t kind)
{
    return size_t(1) << ((kind & 0x0F) + 3);
}

} // namespace

LBR_API int32_t LbrDecodeAudio(StreamState* stream, PsrReadRecord* record, uint8_t* output, int32_t capacity)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        if (!record || !(record->unitKind & UnitAudio) || !liveStream(stream) || !output || capacity <= 0)
            return 0;
        const PluginBinding& plugin = *stream->binding;
        if (plugin.PsrDecodeAudio) {
            const int32_t result = plugin.PsrDecodeAudio(record, output, capacity);
            if (result == -1)
                return 0;
            if (result != 0)
                return result;
        }
        const StrInfo& info = stream->info;
        const uint32_t bytes = record->payloadBytes;
        if (info.kind & StrMusic) {
            if (bytes <= uint32_t(capacity))
                std::memcpy(output, record->payload, bytes);
            return int32_t(bytes);
        }
        if (info.audioFormat != 1 || info.bitsPerSample != 16)
            return 0;
        const int channels = info.channels == 2 ? 2 : 1;
        const uint8_t kind = record->unitKind;
        const uint8_t* in = record->payload;
        const auto room = size_t(capacity);
        size_t written = 0;
        if (kind == 0x20)
            written = audio::decodeXa(in, bytes, channels, stream->audioHistory, output, room);
        else if (kind == 0x2F)
            written = audio::decodeAdx(in, bytes, channels, info.sampleRate, stream->adx, output, room);
        else if (kind >= 0x21 && kind <= 0x3F)
            written = audio::decodeSpu(in, bytes, channels, interleaveRun(kind), stream->audioHistory, output,
                                       room);
        else if (kind >= 0x60 && kind <= 0x7F)
            written = audio::decodePcm(in, bytes, channels, interleaveRun(kind), output, room);
        return int32_t(written);
    });
}

LBR_API int32_t LbrConvAudioData(AudioConvState* state, int32_t bytes, const AudioFormat* source,
                                 const uint8_t* input, const AudioFormat* target, uint8_t* output)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        if (!state)
            return 0;
        if (bytes == 0) {
            *state = AudioConvState{};
            return 0;
        }
        if (!source || !target)
            return 0;
        return audio::convert(*state, bytes, *source, input, *target, output);
    });
}

LBR_API int32_t LbrConvAudioOutputBytes(const AudioConvState* state, int32_t bytes, const AudioFormat* source,
                                        const AudioFormat* target)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        if (!state || !source || !target)
            return 0;
        return audio::convertedBytes(*state, bytes, *source, *target);
    });
}
