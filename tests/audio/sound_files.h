// The sound test files as units, the way a plugin would deliver them, and the PCM of the
// reference decodes. Used by the sound tests and the sound benchmark.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "streamkit/psr.h"

namespace soundtest {

std::vector<uint8_t> readBytes(const std::filesystem::path& path);

// 16-bit PCM, interleaved when there are two channels.
struct Pcm
{
    uint32_t sampleRate = 0;
    uint16_t channels = 0;
    std::vector<int16_t> samples;
    size_t frames() const { return channels ? samples.size() / channels : 0; }
};

// The PCM of a RIFF/WAVE file of 16-bit samples; nothing when it is not one.
std::optional<Pcm> parseWave(const std::vector<uint8_t>& bytes);

// Little-endian 16-bit samples.
std::vector<int16_t> samplesOf(const uint8_t* bytes, size_t length);

// One sound unit: the 20-byte header and its payload in one block.
class Unit
{
  public:
    Unit(uint8_t kind, const uint8_t* payload, size_t payloadBytes);
    PsrReadRecord* record() { return reinterpret_cast<PsrReadRecord*>(m_bytes.data()); }
    const PsrReadRecord* record() const { return reinterpret_cast<const PsrReadRecord*>(m_bytes.data()); }
    uint8_t* payload() { return record()->payload; }
    size_t payloadBytes() const { return record()->payloadBytes; }

  private:
    std::vector<uint8_t> m_bytes;
};

// Cuts `length` bytes into units of `unitBytes` (the last one may be shorter).
std::vector<Unit> splitUnits(uint8_t kind, const uint8_t* data, size_t length, size_t unitBytes);

// ---- XA files: raw 2352-byte Mode 2 Form 2 sectors ---------------------------------------
//   0x00 sync (12)  0x0C header (4)  0x10 file  0x11 channel  0x12 submode  0x13 coding
//   0x14 copy of the sub-header (4)  0x18 2304 bytes of sound groups (18 x 128)
constexpr size_t kRawSectorBytes = 2352;
constexpr size_t kXaDataOffset = 0x18;
constexpr size_t kXaDataBytes = 2304;
constexpr uint8_t kXaKind = 0x20;

struct XaSector
{
    uint8_t file = 0;
    uint8_t channel = 0;
    uint8_t submode = 0;
    uint8_t coding = 0; // bit 0 stereo, bit 2 18900 Hz (else 37800 Hz)
    const uint8_t* data = nullptr;
};

std::vector<XaSector> xaSectors(const std::vector<uint8_t>& file);
inline uint16_t xaChannels(uint8_t coding)
{
    return (coding & 0x03) == 1 ? 2 : 1;
}
inline uint32_t xaSampleRate(uint8_t coding)
{
    return ((coding >> 2) & 0x03) == 1 ? 18900 : 37800;
}
// One unit per sound sector (submode bit 0x04), of every channel or only of `channel`.
std::vector<Unit> xaUnits(const std::vector<uint8_t>& file, int channel = -1);

// ---- CRI ADX files ------------------------------------------------------------------------
//   0x00 u16 0x8000   0x02 u16 offset of "(c)CRI", the data follows it (offset + 4)
//   0x04 u8 encoding  0x05 u8 block size  0x06 u8 bits  0x07 u8 channels
//   0x08 u32 sample rate  0x0C u32 samples per channel (all big-endian)
// The data is 18-byte blocks, one per channel in turn; a block whose first byte has bit 0x80
// marks the end.
constexpr uint8_t kAdxKind = 0x2F;
constexpr size_t kAdxFrameBytes = 36;

struct AdxFile
{
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    uint32_t samples = 0;
    size_t dataOffset = 0;
};

std::optional<AdxFile> parseAdx(const std::vector<uint8_t>& file);
// Units of `framesPerUnit` 36-byte frames; the last frame (the end block with no partner) is
// filled up with zero bytes.
std::vector<Unit> adxUnits(const std::vector<uint8_t>& file, const AdxFile& adx, size_t framesPerUnit);

// ---- SPU ADPCM .vag files: a 48-byte header, then 16-byte blocks (one channel) ------------
//   0x00 "VAGp"  0x04 u32 version  0x0C u32 data bytes  0x10 u32 sample rate (big-endian)
constexpr size_t kVagHeaderBytes = 48;

struct VagFile
{
    uint32_t sampleRate = 0;
    size_t dataBytes = 0;
};

std::optional<VagFile> parseVag(const std::vector<uint8_t>& file);

// ---- comparison ---------------------------------------------------------------------------

struct Comparison
{
    double snrDb = 0;  // 10 log10(sum ref^2 / sum (ref - ours)^2); infinite when equal
    long shift = 0;    // ours[frame + shift] is compared with ref[frame]
    size_t frames = 0; // frames compared
};

// The signal-to-noise ratio of `ours` against `ref` over the frames both have, at the shift
// (from -maxShift to maxShift frames) that gives the best ratio.
Comparison compareAligned(const std::vector<int16_t>& ref, const std::vector<int16_t>& ours,
                          uint16_t channels, long maxShift);

} // namespace soundtest
