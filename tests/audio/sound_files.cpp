#include "sound_files.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>

namespace soundtest {

namespace {

uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t le16(const uint8_t* p)
{
    return uint16_t(p[0] | p[1] << 8);
}
uint32_t be32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}
uint16_t be16(const uint8_t* p)
{
    return uint16_t(p[0] << 8 | p[1]);
}

constexpr uint8_t kSubmodeAudio = 0x04;

} // namespace

std::vector<uint8_t> readBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::optional<Pcm> parseWave(const std::vector<uint8_t>& bytes)
{
    // "RIFF" size "WAVE", then chunks of id, size and data (padded to an even size).
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0)
        return std::nullopt;
    Pcm pcm;
    bool haveFormat = false;
    size_t at = 12;
    while (at + 8 <= bytes.size()) {
        const uint8_t* chunk = bytes.data() + at;
        const size_t size = le32(chunk + 4);
        if (size > bytes.size() - at - 8)
            return std::nullopt;
        if (std::memcmp(chunk, "fmt ", 4) == 0 && size >= 16) {
            // u16 format (1 = PCM), u16 channels, u32 rate, u32 bytes/s, u16 block, u16 bits
            if (le16(chunk + 8) != 1 || le16(chunk + 22) != 16)
                return std::nullopt;
            pcm.channels = le16(chunk + 10);
            pcm.sampleRate = le32(chunk + 12);
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0 && haveFormat) {
            pcm.samples = samplesOf(chunk + 8, size);
            return pcm;
        }
        at += 8 + size + (size & 1);
    }
    return std::nullopt;
}

std::vector<int16_t> samplesOf(const uint8_t* bytes, size_t length)
{
    std::vector<int16_t> samples(length / 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = int16_t(le16(bytes + 2 * i));
    return samples;
}

Unit::Unit(uint8_t kind, const uint8_t* payload, size_t payloadBytes)
    : m_bytes(PSR_READ_HEADER_BYTES + payloadBytes)
{
    PsrReadRecord* r = record();
    r->unitKind = kind;
    r->payloadBytes = uint32_t(payloadBytes);
    if (payloadBytes)
        std::memcpy(r->payload, payload, payloadBytes);
}

std::vector<Unit> splitUnits(uint8_t kind, const uint8_t* data, size_t length, size_t unitBytes)
{
    std::vector<Unit> units;
    for (size_t at = 0; at < length; at += unitBytes)
        units.emplace_back(kind, data + at, std::min(unitBytes, length - at));
    return units;
}

std::vector<XaSector> xaSectors(const std::vector<uint8_t>& file)
{
    std::vector<XaSector> sectors;
    for (size_t at = 0; at + kRawSectorBytes <= file.size(); at += kRawSectorBytes) {
        const uint8_t* s = file.data() + at;
        sectors.push_back(XaSector{s[0x10], s[0x11], s[0x12], s[0x13], s + kXaDataOffset});
    }
    return sectors;
}

std::vector<Unit> xaUnits(const std::vector<uint8_t>& file, int channel)
{
    std::vector<Unit> units;
    for (const XaSector& sector : xaSectors(file)) {
        if ((sector.submode & kSubmodeAudio) && (channel < 0 || sector.channel == channel))
            units.emplace_back(kXaKind, sector.data, kXaDataBytes);
    }
    return units;
}

std::optional<AdxFile> parseAdx(const std::vector<uint8_t>& file)
{
    if (file.size() < 0x10 || be16(file.data()) != 0x8000)
        return std::nullopt;
    AdxFile adx;
    adx.dataOffset = size_t(be16(file.data() + 2)) + 4;
    adx.channels = file[7];
    adx.sampleRate = be32(file.data() + 8);
    adx.samples = be32(file.data() + 12);
    if (adx.dataOffset > file.size() || file[5] != 18 || file[6] != 4)
        return std::nullopt;
    return adx;
}

std::vector<Unit> adxUnits(const std::vector<uint8_t>& file, const AdxFile& adx, size_t framesPerUnit)
{
    std::vector<uint8_t> data(file.begin() + long(adx.dataOffset), file.end());
    data.resize((data.size() + kAdxFrameBytes - 1) / kAdxFrameBytes * kAdxFrameBytes, 0);
    return splitUnits(kAdxKind, data.data(), data.size(), framesPerUnit * kAdxFrameBytes);
}

std::optional<VagFile> parseVag(const std::vector<uint8_t>& file)
{
    if (file.size() < kVagHeaderBytes || std::memcmp(file.data(), "VAGp", 4) != 0)
        return std::nullopt;
    VagFile vag;
    vag.dataBytes = be32(file.data() + 0x0C);
    vag.sampleRate = be32(file.data() + 0x10);
    if (vag.dataBytes > file.size() - kVagHeaderBytes)
        return std::nullopt;
    return vag;
}

Comparison compareAligned(const std::vector<int16_t>& ref, const std::vector<int16_t>& ours,
                          uint16_t channels, long maxShift)
{
    Comparison best;
    best.snrDb = -std::numeric_limits<double>::infinity();
    const long refFrames = long(ref.size() / channels);
    const long ourFrames = long(ours.size() / channels);
    for (long shift = -maxShift; shift <= maxShift; ++shift) {
        // Frames f of ref with 0 <= f + shift < ourFrames.
        const long first = std::max(0L, -shift);
        const long last = std::min(refFrames, ourFrames - shift);
        if (last <= first)
            continue;
        double signal = 0, noise = 0;
        for (long f = first; f < last; ++f) {
            for (long c = 0; c < channels; ++c) {
                const double r = ref[size_t(f * channels + c)];
                const double o = ours[size_t((f + shift) * channels + c)];
                signal += r * r;
                noise += (r - o) * (r - o);
            }
        }
        const double snr =
            noise == 0 ? std::numeric_limits<double>::infinity() : 10.0 * std::log10(signal / noise);
        if (snr > best.snrDb) {
            best.snrDb = snr;
            best.shift = shift;
            best.frames = size_t(last - first);
        }
    }
    return best;
}

} // namespace soundtest
