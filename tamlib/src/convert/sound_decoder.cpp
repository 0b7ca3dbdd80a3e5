#include "tamlib/sound_decoder.h"

#include <algorithm>
#include <cstdio>

namespace tamlib {

namespace {

// Room for a unit's PCM: the decoders write at most 3.6 times the payload (ADX: 36 bytes to
// 128); a plugin's own decoder gets as much again and a fixed reserve.
constexpr size_t kPcmReserve = size_t(64) << 10;
constexpr size_t kPcmPerPayloadByte = 4;

std::string hexByte(uint8_t value)
{
    char digits[8];
    std::snprintf(digits, sizeof digits, "0x%02x", value);
    return digits;
}

} // namespace

SoundDecoder::SoundDecoder(StreamState* stream, const AudioFormat& source, const AudioFormat& target)
    : m_stream(stream), m_source(source), m_target(target)
{
    m_convert = target.sampleRate != source.sampleRate || target.channels != source.channels ||
                target.bitsPerSample != source.bitsPerSample;
    if (m_convert)
        LbrConvAudioData(&m_state, 0, &m_source, nullptr, &m_target, nullptr);
}

SoundDecoder::Step SoundDecoder::next(Unit& unit)
{
    unit = Unit{};
    PsrReadRecord* record = m_buffer.record();
    if (LbrReadStream(m_stream, LBR_WANT_AUDIO, record) != 1)
        return Step::End;
    unit.kind = record->unitKind;
    unit.payloadBytes = record->payloadBytes;
    if (!m_buffer.holdsPayload()) {
        unit.problem = "a unit claims " + std::to_string(record->payloadBytes) +
                       " payload bytes, more than the read buffer holds";
        unit.returned = LbrFreeReadBuffer(m_stream, record) == 1;
        return Step::Overrun;
    }
    const Step step = decode(unit);
    unit.returned = LbrFreeReadBuffer(m_stream, record) == 1;
    return step;
}

SoundDecoder::Step SoundDecoder::decode(Unit& unit)
{
    const PsrReadRecord* record = m_buffer.record();
    const size_t capacity = kPcmReserve + size_t(unit.payloadBytes) * kPcmPerPayloadByte;
    if (m_pcm.size() < capacity)
        m_pcm.resize(capacity);
    const int32_t decoded = LbrDecodeAudio(m_stream, m_buffer.record(), m_pcm.data(), int32_t(capacity));
    if (decoded <= 0 || size_t(decoded) > capacity) {
        unit.problem = "(kind " + hexByte(record->unitKind) + ", " + std::to_string(unit.payloadBytes) +
                       " bytes) cannot be decoded";
        return Step::BadUnit;
    }
    const uint32_t frameBytes = uint32_t(m_source.channels) * 2;
    if (frameBytes == 0 || uint32_t(decoded) % frameBytes != 0) {
        unit.problem = "decoded to " + std::to_string(decoded) + " bytes, not a whole number of " +
                       std::to_string(frameBytes) + "-byte frames";
        return Step::BadUnit;
    }
    unit.pcm = std::span<const uint8_t>(m_pcm.data(), size_t(decoded));
    unit.converted = unit.pcm;
    if (m_convert) {
        const auto room =
            size_t(std::max(LbrConvAudioOutputBytes(&m_state, decoded, &m_source, &m_target), 0));
        if (m_converted.size() < room + 4)
            m_converted.resize(room + 4); // and the spare sample the converter may touch
        const int32_t written =
            LbrConvAudioData(&m_state, decoded, &m_source, m_pcm.data(), &m_target, m_converted.data());
        unit.converted = std::span<const uint8_t>(m_converted.data(), size_t(std::max(written, 0)));
    }
    return Step::Unit;
}

} // namespace tamlib
