// Small disc images for the image transport tests: raw sectors made here (independently of the
// library's own sector synthesis), files in a temporary folder, and command blocks sent to a
// transport with a guard area after the data buffer that must stay untouched.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include "scsi_transport.h"

namespace discport::imagetest {

namespace fs = std::filesystem;

constexpr size_t kRaw = 2352;
constexpr size_t kUser = 2048;

class TempDir
{
  public:
    TempDir()
    {
        std::string pattern = (fs::temp_directory_path() / "tamrin-image-XXXXXX").string();
        if (::mkdtemp(pattern.data()))
            m_path = pattern;
    }
    ~TempDir()
    {
        std::error_code ignored;
        if (!m_path.empty())
            fs::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const fs::path& path() const { return m_path; }
    std::string file(const std::string& name) const { return (m_path / name).string(); }

  private:
    fs::path m_path;
};

inline void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline void writeText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

inline std::vector<uint8_t> readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        return {};
    std::vector<uint8_t> bytes(size_t(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
    return bytes;
}

inline uint8_t bcd(uint32_t value)
{
    return uint8_t((value / 10) << 4 | (value % 10));
}

// Bytes that differ from sector to sector and from image to image.
inline void fillPattern(uint8_t* out, size_t size, uint32_t lba, uint8_t seed)
{
    uint32_t state = lba * 2654435761u + seed * 40503u + 12345u;
    for (size_t i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        out[i] = uint8_t(state >> 16);
    }
}

inline void syncAndHeader(uint8_t* s, uint32_t lba, uint8_t mode)
{
    s[0] = 0;
    for (int i = 1; i <= 10; ++i)
        s[i] = 0xFF;
    s[11] = 0;
    const uint32_t a = lba + 150;
    s[12] = bcd(a / 4500);
    s[13] = bcd(a / 75 % 60);
    s[14] = bcd(a % 75);
    s[15] = mode;
}

// Mode 2 sector (sub-mode 0x08 data Form 1, or 0x64 Form 2 audio) with patterned user data and
// unchecked EDC/ECC bytes.
inline std::vector<uint8_t> mode2Sector(uint32_t lba, bool form2, uint8_t seed)
{
    std::vector<uint8_t> s(kRaw);
    fillPattern(s.data() + 16, kRaw - 16, lba, seed);
    syncAndHeader(s.data(), lba, 2);
    const uint8_t subHeader[4] = {1, 0, uint8_t(form2 ? 0x64 : 0x08), uint8_t(form2 ? 1 : 0)};
    std::copy(subHeader, subHeader + 4, s.begin() + 16);
    std::copy(subHeader, subHeader + 4, s.begin() + 20);
    return s;
}

inline std::vector<uint8_t> mode1Sector(uint32_t lba, uint8_t seed)
{
    std::vector<uint8_t> s(kRaw);
    fillPattern(s.data() + 16, kRaw - 16, lba, seed);
    syncAndHeader(s.data(), lba, 1);
    return s;
}

inline std::vector<uint8_t> audioSector(uint32_t lba, uint8_t seed)
{
    std::vector<uint8_t> s(kRaw);
    fillPattern(s.data(), kRaw, lba, uint8_t(seed ^ 0x5A));
    return s;
}

inline void append(std::vector<uint8_t>& to, const std::vector<uint8_t>& bytes)
{
    to.insert(to.end(), bytes.begin(), bytes.end());
}

// The shared disc's shape at a smaller size: track 1 MODE2/2352 of 40 sectors (Form 1 with every
// fifth sector Form 2), track 2 AUDIO with INDEX 00 at 00:00:40 and INDEX 01 150 sectors later,
// 25 sectors from INDEX 01. 215 sectors in one BIN.
constexpr uint32_t kTwoTrackData = 40;
constexpr uint32_t kTwoTrackAudioStart = 190;
constexpr uint32_t kTwoTrackSectors = 215;

inline std::vector<uint8_t> twoTrackBin(uint8_t seed = 1)
{
    std::vector<uint8_t> bin;
    for (uint32_t lba = 0; lba < kTwoTrackSectors; ++lba)
        append(bin, lba < kTwoTrackData ? mode2Sector(lba, lba % 5 == 4, seed) : audioSector(lba, seed));
    return bin;
}

inline const char* kTwoTrackCue = "FILE \"disc.bin\" BINARY\n"
                                  "  TRACK 01 MODE2/2352\n"
                                  "    INDEX 01 00:00:00\n"
                                  "  TRACK 02 AUDIO\n"
                                  "    INDEX 00 00:00:40\n"
                                  "    INDEX 01 00:02:40\n";

// Sends a command block; the reply buffer holds dataLength bytes followed by a guard area.
struct Reply
{
    ScsiResult result;
    std::vector<uint8_t> data; // the dataLength bytes of the buffer
};

inline Reply run(ScsiTransport& transport, std::initializer_list<uint8_t> cdb, uint32_t dataLength)
{
    constexpr size_t kGuard = 64;
    constexpr uint8_t kGuardByte = 0xA5;
    std::vector<uint8_t> buffer(size_t(dataLength) + kGuard, kGuardByte);
    ScsiCommand command;
    std::copy(cdb.begin(), cdb.end(), command.cdb);
    command.cdbLength = uint8_t(cdb.size());
    command.data = dataLength ? buffer.data() : nullptr;
    command.dataLength = dataLength;
    Reply reply;
    reply.result = transport.execute(command);
    for (size_t i = dataLength; i < buffer.size(); ++i)
        EXPECT_EQ(buffer[i], kGuardByte) << "written beyond dataLength at " << i;
    EXPECT_LE(reply.result.transferred, dataLength);
    buffer.resize(dataLength);
    reply.data = std::move(buffer);
    return reply;
}

inline uint8_t b0(uint32_t v)
{
    return uint8_t(v >> 24);
}
inline uint8_t b1(uint32_t v)
{
    return uint8_t(v >> 16);
}
inline uint8_t b2(uint32_t v)
{
    return uint8_t(v >> 8);
}
inline uint8_t b3(uint32_t v)
{
    return uint8_t(v);
}

inline Reply readCd(ScsiTransport& t, uint32_t lba, uint32_t count, uint8_t byte1 = 0, uint8_t byte9 = 0xF8,
                    int64_t dataLength = -1)
{
    return run(
        t, {0xBE, byte1, b0(lba), b1(lba), b2(lba), b3(lba), b1(count), b2(count), b3(count), byte9, 0, 0},
        uint32_t(dataLength >= 0 ? dataLength : int64_t(count) * int64_t(kRaw)));
}

inline Reply read10(ScsiTransport& t, uint32_t lba, uint16_t count, int64_t dataLength = -1)
{
    return run(t, {0x28, 0, b0(lba), b1(lba), b2(lba), b3(lba), 0, b2(count), b3(count), 0},
               uint32_t(dataLength >= 0 ? dataLength : int64_t(count) * int64_t(kUser)));
}

inline Reply readToc(ScsiTransport& t, uint8_t startTrack, uint16_t allocation, bool msf = false,
                     uint8_t format = 0)
{
    return run(
        t, {0x43, uint8_t(msf ? 0x02 : 0), format, 0, 0, 0, startTrack, b2(allocation), b3(allocation), 0},
        allocation);
}

struct SenseData
{
    uint8_t key = 0xFF, asc = 0xFF, ascq = 0xFF;
};

inline SenseData requestSense(ScsiTransport& t)
{
    const Reply reply = run(t, {0x03, 0, 0, 0, 18, 0}, 18);
    SenseData sense;
    if (reply.result.good() && reply.result.transferred >= 14) {
        sense.key = reply.data[2] & 0x0F;
        sense.asc = reply.data[12];
        sense.ascq = reply.data[13];
    }
    return sense;
}

// A command that ended with CHECK CONDITION and the given sense key and code, with no data.
inline void expectCheckCondition(ScsiTransport& t, const Reply& reply, uint8_t key, uint8_t asc)
{
    EXPECT_TRUE(reply.result.completed);
    EXPECT_EQ(reply.result.status, 2);
    EXPECT_EQ(reply.result.transferred, 0u);
    EXPECT_GT(reply.result.senseLength, 0);
    const SenseData sense = requestSense(t);
    EXPECT_EQ(sense.key, key);
    EXPECT_EQ(sense.asc, asc);
}

inline std::vector<uint8_t> slice(const std::vector<uint8_t>& bytes, size_t begin, size_t size)
{
    return std::vector<uint8_t>(bytes.begin() + long(begin), bytes.begin() + long(begin + size));
}

} // namespace discport::imagetest
