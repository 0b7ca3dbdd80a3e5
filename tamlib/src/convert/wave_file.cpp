#include "tamlib/wave_file.h"

#include <cstring>

#include "cdaz/cdaz_bytes.h"

namespace tamlib {

std::array<uint8_t, kWaveHeaderBytes> waveHeader(const WaveFormat& format, uint32_t dataBytes)
{
    std::array<uint8_t, kWaveHeaderBytes> header{};
    uint8_t* h = header.data();
    const uint32_t pad = dataBytes & 1;
    std::memcpy(h + 0x00, "RIFF", 4);
    putLe32(h + 0x04, 36 + dataBytes + pad);
    std::memcpy(h + 0x08, "WAVE", 4);
    std::memcpy(h + 0x0C, "fmt ", 4);
    putLe32(h + 0x10, 16);
    putLe16(h + 0x14, 1);
    putLe16(h + 0x16, format.channels);
    putLe32(h + 0x18, format.sampleRate);
    putLe32(h + 0x1C, format.sampleRate * format.frameBytes());
    putLe16(h + 0x20, uint16_t(format.frameBytes()));
    putLe16(h + 0x22, format.bitsPerSample);
    std::memcpy(h + 0x24, "data", 4);
    putLe32(h + 0x28, dataBytes);
    return header;
}

WaveFile::~WaveFile()
{
    discard();
}

bool WaveFile::create(const std::filesystem::path& target, const WaveFormat& format, std::string& error)
{
    if (!m_file.create(target, error))
        return false;
    m_format = format;
    m_dataBytes = 0;
    const auto header = waveHeader(format, 0);
    return m_file.write(header.data(), header.size(), error);
}

bool WaveFile::write(const void* samples, size_t length, std::string& error)
{
    if (!m_file.isOpen()) {
        error = "no file is open";
        return false;
    }
    if (length > kWaveMaxDataBytes - m_dataBytes) {
        error =
            "cannot write " + m_file.target().string() + ": the sound is too long for a WAVE file (4 GiB)";
        discard();
        return false;
    }
    if (!m_file.write(samples, length, error))
        return false;
    m_dataBytes += length;
    return true;
}

bool WaveFile::commit(std::string& error)
{
    if (!m_file.isOpen()) {
        error = "no file is open";
        return false;
    }
    if (m_dataBytes & 1) {
        const uint8_t pad = 0;
        if (!m_file.write(&pad, 1, error))
            return false;
    }
    const auto header = waveHeader(m_format, uint32_t(m_dataBytes));
    return m_file.writeAt(0, header.data(), header.size(), error) && m_file.commit(error);
}

void WaveFile::discard()
{
    m_file.discard();
}

} // namespace tamlib
