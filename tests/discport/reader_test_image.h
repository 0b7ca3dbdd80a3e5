// A small disc image written by the tests: one BIN of raw 2352-byte sectors and its CUE sheet.
// Track 1 is Mode 2 Form 1 data with an ISO 9660 primary volume descriptor at sector 16 whose
// fields the tests choose; track 2 is audio behind a stored 150-sector pregap (as a mastering
// tool writes it). Every other byte is a pattern that differs from sector to sector.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace disctest {

namespace fs = std::filesystem;

constexpr uint32_t kRaw = 2352;
constexpr uint32_t kUser = 2048;
constexpr uint32_t kUserOffset = 24; // Mode 2 Form 1: sync 12, header 4, sub-header 8
constexpr uint32_t kPregap = 150;

// Fields of the primary volume descriptor, blank-padded as ISO 9660 stores them.
struct VolumeFields
{
    std::string systemId = "PLAYSTATION";
    std::string volumeId = "TEST_VOLUME";
    uint32_t volumeSpaceSize = 0; // 0: the data track's length
    uint16_t volumeSetSize = 1;
    uint16_t volumeSequenceNumber = 1;
    uint32_t pathTableSize = 10;
    uint32_t pathTableL = 18;
    uint32_t optionalPathTableL = 0;
    std::string volumeSetId = "TEST_SET";
    std::string publisherId = "PUBLISHER";
    std::string dataPreparerId = "PREPARER";
    std::string applicationId = "PLAYSTATION";
    std::string copyrightFileId = "COPY.TXT";
    std::string abstractFileId = "ABSTRACT.TXT";
    std::string bibliographicFileId = "BIBLIO.TXT";
};

inline uint8_t patternByte(uint32_t lba, uint32_t offset)
{
    uint64_t x = (uint64_t(lba) << 20 | offset) * 0x9E3779B97F4A7C15ull;
    x ^= x >> 31;
    return uint8_t(x >> 13);
}

inline uint8_t bcd(uint32_t value)
{
    return uint8_t((value / 10) << 4 | (value % 10));
}

inline void putText(uint8_t* at, const std::string& text, size_t width)
{
    std::memset(at, ' ', width);
    std::memcpy(at, text.data(), std::min(text.size(), width));
}

inline void putBoth16(uint8_t* at, uint16_t value)
{
    at[0] = uint8_t(value);
    at[1] = uint8_t(value >> 8);
    at[2] = uint8_t(value >> 8);
    at[3] = uint8_t(value);
}

inline void putBoth32(uint8_t* at, uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        at[i] = uint8_t(value >> (8 * i));
        at[7 - i] = uint8_t(value >> (8 * i));
    }
}

inline void putLittle32(uint8_t* at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = uint8_t(value >> (8 * i));
}

inline void putDescriptor(uint8_t* user, const VolumeFields& v, uint32_t dataSectors)
{
    std::memset(user, 0, kUser);
    user[0] = 1;
    std::memcpy(user + 1, "CD001", 5);
    user[6] = 1;
    putText(user + 8, v.systemId, 32);
    putText(user + 40, v.volumeId, 32);
    putBoth32(user + 80, v.volumeSpaceSize ? v.volumeSpaceSize : dataSectors);
    putBoth16(user + 120, v.volumeSetSize);
    putBoth16(user + 124, v.volumeSequenceNumber);
    putBoth16(user + 128, 2048);
    putBoth32(user + 132, v.pathTableSize);
    putLittle32(user + 140, v.pathTableL);
    putLittle32(user + 144, v.optionalPathTableL);
    putText(user + 190, v.volumeSetId, 128);
    putText(user + 318, v.publisherId, 128);
    putText(user + 446, v.dataPreparerId, 128);
    putText(user + 574, v.applicationId, 128);
    putText(user + 702, v.copyrightFileId, 37);
    putText(user + 739, v.abstractFileId, 37);
    putText(user + 776, v.bibliographicFileId, 37);
}

struct TestDisc
{
    fs::path folder;
    fs::path cue;
    fs::path bin;
    uint32_t dataSectors = 0;
    uint32_t audioStart = 0; // INDEX 01 of track 2
    uint32_t audioSectors = 0;
    std::vector<uint8_t> bytes; // the whole BIN

    const uint8_t* raw(uint32_t lba) const { return bytes.data() + size_t(lba) * kRaw; }
    const uint8_t* user(uint32_t lba) const { return raw(lba) + kUserOffset; }

    ~TestDisc()
    {
        std::error_code error;
        if (!folder.empty())
            fs::remove_all(folder, error);
    }
};

// Writes the image into a fresh temporary folder. dataSectors 0: no data track (an audio disc).
inline void makeTestDisc(TestDisc& disc, uint32_t dataSectors, uint32_t audioSectors,
                         const VolumeFields& volume = {})
{
    std::string pattern = (fs::temp_directory_path() / "discport-test-XXXXXX").string();
    disc.folder = ::mkdtemp(pattern.data()) ? fs::path(pattern) : fs::path();
    disc.cue = disc.folder / "disc.cue";
    disc.bin = disc.folder / "disc.bin";
    disc.dataSectors = dataSectors;
    disc.audioStart = dataSectors + (dataSectors ? kPregap : 0);
    disc.audioSectors = audioSectors;
    const uint32_t total = disc.audioStart + audioSectors;
    disc.bytes.assign(size_t(total) * kRaw, 0);
    for (uint32_t lba = 0; lba < total; ++lba) {
        uint8_t* s = disc.bytes.data() + size_t(lba) * kRaw;
        const bool data = lba < dataSectors;
        const bool gap = !data && lba < disc.audioStart;
        if (gap)
            continue; // digital silence
        for (uint32_t i = 0; i < kRaw; ++i)
            s[i] = patternByte(lba, i);
        if (!data)
            continue;
        std::memset(s, 0xFF, 12);
        s[0] = s[11] = 0;
        const uint32_t address = lba + 150;
        s[12] = bcd(address / 4500);
        s[13] = bcd(address / 75 % 60);
        s[14] = bcd(address % 75);
        s[15] = 2;
        const uint8_t subHeader[4] = {0, 0, 0x08, 0}; // data, Form 1
        std::memcpy(s + 16, subHeader, 4);
        std::memcpy(s + 20, subHeader, 4);
        if (lba == 16)
            putDescriptor(s + kUserOffset, volume, dataSectors);
    }
    std::ofstream(disc.bin, std::ios::binary)
        .write(reinterpret_cast<const char*>(disc.bytes.data()), std::streamsize(disc.bytes.size()));

    auto msf = [](uint32_t lba) {
        char text[16];
        std::snprintf(text, sizeof text, "%02u:%02u:%02u", lba / 4500, lba / 75 % 60, lba % 75);
        return std::string(text);
    };
    std::string sheet = "FILE \"disc.bin\" BINARY\n";
    if (dataSectors)
        sheet += "  TRACK 01 MODE2/2352\n    INDEX 01 00:00:00\n";
    if (audioSectors) {
        sheet += dataSectors ? "  TRACK 02 AUDIO\n" : "  TRACK 01 AUDIO\n";
        if (dataSectors)
            sheet += "    INDEX 00 " + msf(dataSectors) + "\n";
        sheet += "    INDEX 01 " + msf(disc.audioStart) + "\n";
    }
    std::ofstream(disc.cue) << sheet;
}

} // namespace disctest
