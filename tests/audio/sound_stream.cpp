#include "sound_stream.h"

#include <algorithm>

namespace soundtest {

StrInfo soundInfo(uint16_t channels, uint32_t sampleRate, uint16_t kind)
{
    StrInfo info{};
    info.kind = kind;
    info.audioFormat = 1;
    info.bitsPerSample = 16;
    info.channels = channels;
    info.sampleRate = sampleRate;
    return info;
}

SoundStream::SoundStream(const StrInfo& info, const char* plugin)
{
    StrInfo given = info;
    m_stream = LbrOpenStream(plugin, "sound-units", 0, &given, LBR_WANT_AUDIO);
}

SoundStream::~SoundStream()
{
    if (m_stream)
        LbrCloseStream(m_stream);
}

std::vector<uint8_t> SoundStream::decode(Unit& unit, int32_t capacity)
{
    // Every decoder writes at most four times its payload (ADX: 36 bytes to 128).
    const size_t room = capacity >= 0 ? size_t(capacity) : 4 * unit.payloadBytes() + 4096;
    std::vector<uint8_t> out(std::max<size_t>(room, 1));
    const int32_t written = LbrDecodeAudio(m_stream, unit.record(), out.data(), int32_t(room));
    out.resize(written > 0 ? size_t(std::min<int64_t>(written, int64_t(room))) : 0);
    return out;
}

std::vector<int16_t> SoundStream::decodeAll(std::vector<Unit>& units, size_t* failed)
{
    std::vector<int16_t> samples;
    size_t empty = 0;
    for (Unit& unit : units) {
        const std::vector<uint8_t> pcm = decode(unit);
        if (pcm.empty())
            ++empty;
        const std::vector<int16_t> part = samplesOf(pcm.data(), pcm.size());
        samples.insert(samples.end(), part.begin(), part.end());
    }
    if (failed)
        *failed = empty;
    return samples;
}

} // namespace soundtest
