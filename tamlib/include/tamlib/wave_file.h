// PCM sound as a RIFF/WAVE file: the 44-byte header of an uncompressed PCM file, written first
// with empty sizes and completed once every sample is in. The file takes the target's name only
// when complete, so that a failure or an interruption leaves no damaged or partial file behind.
//
// Header (little-endian):
//   0x00 "RIFF"  0x04 u32 file size - 8  0x08 "WAVE"
//   0x0C "fmt "  0x10 u32 16  0x14 u16 1 (PCM)  0x16 u16 channels  0x18 u32 sample rate
//   0x1C u32 bytes per second  0x20 u16 bytes per frame  0x22 u16 bits per sample
//   0x24 "data"  0x28 u32 sample bytes  0x2C samples (and a pad byte when their count is odd)
#ifndef TAMLIB_WAVE_FILE_H
#define TAMLIB_WAVE_FILE_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "tamrin_common/output_file.h"

#ifndef PLB_CXX_API
#define PLB_CXX_API __attribute__((visibility("default")))
#endif

namespace tamlib {

constexpr size_t kWaveHeaderBytes = 44;
// RIFF sizes are 32-bit: the header's 36 bytes after the size field, the samples and a pad
// byte must stay below 4 GiB.
constexpr uint64_t kWaveMaxDataBytes = 0xFFFFFFFFull - 36 - 1;

struct WaveFormat
{
    uint32_t sampleRate = 0;
    uint16_t channels = 0;      // 1 or 2
    uint16_t bitsPerSample = 0; // 8 (unsigned) or 16 (signed)

    uint32_t frameBytes() const { return uint32_t(channels) * bitsPerSample / 8; }
};

// The header of a file holding `dataBytes` bytes of samples (at most kWaveMaxDataBytes).
PLB_CXX_API std::array<uint8_t, kWaveHeaderBytes> waveHeader(const WaveFormat& format, uint32_t dataBytes);

class PLB_CXX_API WaveFile
{
  public:
    WaveFile() = default;
    WaveFile(const WaveFile&) = delete;
    WaveFile& operator=(const WaveFile&) = delete;
    // Removes the unfinished file unless it was committed.
    ~WaveFile();

    // Starts the file (nameless in the target's folder until commit) and writes the header with
    // empty sizes. False with `error` set when it cannot, or when the target exists
    // and is not a regular file (a device or a pipe would be replaced by the rename).
    bool create(const std::filesystem::path& target, const WaveFormat& format, std::string& error);
    // Appends samples. False with `error` set when they cannot be written or would make the
    // file too large for its 32-bit sizes (the file is then discarded).
    bool write(const void* samples, size_t length, std::string& error);
    // Pads the samples to an even length, writes the sizes into the header, and gives the
    // file the target's name. False with `error` set when that fails (the file is removed).
    bool commit(std::string& error);
    // Closes and removes the unfinished file, if any.
    void discard();

    uint64_t dataBytes() const { return m_dataBytes; }

  private:
    tamrin_common::OutputFile m_file;
    WaveFormat m_format;
    uint64_t m_dataBytes = 0;
};

} // namespace tamlib

#endif
