// The WAVE writer of the audio command, on samples made by the tests: the header's bytes, the
// sizes written at the end, the pad byte, and files that appear complete or not at all.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "convert_support.h"
#include "tamlib/wave_file.h"

namespace converttest {
namespace {

using tamlib::kWaveHeaderBytes;
using tamlib::kWaveMaxDataBytes;
using tamlib::WaveFile;
using tamlib::WaveFormat;
using tamlib::waveHeader;

std::vector<std::string> entries(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(WaveHeader, StereoSixteenBitLayout)
{
    const auto header = waveHeader(WaveFormat{37800, 2, 16}, 459648);
    const uint8_t expected[kWaveHeaderBytes] = {
        'R',  'I',  'F',  'F',  0xA4, 0x03, 0x07, 0x00, 'W', 'A', 'V', 'E', // 36 + 459648
        'f',  'm',  't',  ' ',  16,   0,    0,    0,    1,   0,   2,   0,   // PCM, 2 channels
        0xA8, 0x93, 0x00, 0x00, 0xA0, 0x4E, 0x02, 0x00, 4,   0,   16,  0,   // 37800 Hz, 151200 B/s
        'd',  'a',  't',  'a',  0x80, 0x03, 0x07, 0x00};                    // 459648 bytes
    EXPECT_EQ(std::memcmp(header.data(), expected, kWaveHeaderBytes), 0);
}

TEST(WaveHeader, OddDataCountsThePadByteInTheRiffSize)
{
    const auto header = waveHeader(WaveFormat{11025, 1, 8}, 101);
    uint32_t riff, rate, byteRate, data;
    std::memcpy(&riff, header.data() + 4, 4);
    std::memcpy(&rate, header.data() + 24, 4);
    std::memcpy(&byteRate, header.data() + 28, 4);
    std::memcpy(&data, header.data() + 40, 4);
    EXPECT_EQ(riff, 36u + 102u);
    EXPECT_EQ(rate, 11025u);
    EXPECT_EQ(byteRate, 11025u);
    EXPECT_EQ(data, 101u);
    EXPECT_EQ(header[32], 1); // bytes per frame
    EXPECT_EQ(header[34], 8);
}

TEST(WaveFile, SizesAreWrittenWhenCommitted)
{
    TempFolder folder;
    const fs::path target = folder.path() / "out.wav";
    WaveFile wave;
    std::string error;
    ASSERT_TRUE(wave.create(target, WaveFormat{8000, 1, 8}, error)) << error;
    EXPECT_FALSE(fs::exists(target)) << "nothing at the target before the commit";
    const std::string first = "abc", second = "defgh";
    ASSERT_TRUE(wave.write(first.data(), first.size(), error)) << error;
    ASSERT_TRUE(wave.write(second.data(), second.size(), error)) << error;
    EXPECT_EQ(wave.dataBytes(), 8u);
    ASSERT_TRUE(wave.commit(error)) << error;

    const std::string bytes = readFile(target);
    ASSERT_EQ(bytes.size(), kWaveHeaderBytes + 8);
    const auto header = waveHeader(WaveFormat{8000, 1, 8}, 8);
    EXPECT_EQ(bytes.substr(0, kWaveHeaderBytes), std::string(header.begin(), header.end()));
    EXPECT_EQ(bytes.substr(kWaveHeaderBytes), "abcdefgh");
    EXPECT_EQ(entries(folder.path()), std::vector<std::string>{"out.wav"}) << "no temporary file left";
}

TEST(WaveFile, OddDataIsPadded)
{
    TempFolder folder;
    const fs::path target = folder.path() / "odd.wav";
    WaveFile wave;
    std::string error;
    ASSERT_TRUE(wave.create(target, WaveFormat{8000, 1, 8}, error)) << error;
    ASSERT_TRUE(wave.write("xyz", 3, error)) << error;
    ASSERT_TRUE(wave.commit(error)) << error;
    const std::string bytes = readFile(target);
    ASSERT_EQ(bytes.size(), kWaveHeaderBytes + 4);
    EXPECT_EQ(bytes.substr(kWaveHeaderBytes), std::string("xyz\0", 4));
    uint32_t riff, data;
    std::memcpy(&riff, bytes.data() + 4, 4);
    std::memcpy(&data, bytes.data() + 40, 4);
    EXPECT_EQ(riff, bytes.size() - 8);
    EXPECT_EQ(data, 3u);
}

TEST(WaveFile, AnUncommittedFileLeavesNothingAndKeepsTheOldFile)
{
    TempFolder folder;
    const fs::path target = folder.path() / "keep.wav";
    writeFile(target, "old");
    {
        WaveFile wave;
        std::string error;
        ASSERT_TRUE(wave.create(target, WaveFormat{8000, 2, 16}, error)) << error;
        ASSERT_TRUE(wave.write("1234", 4, error)) << error;
        // The old file until commit; the new one has no name yet (or a hidden one).
        EXPECT_EQ(readFile(target), "old");
        for (const std::string& name : entries(folder.path()))
            EXPECT_TRUE(name == "keep.wav" || name.starts_with(".keep.wav.tmp-")) << name;
    }
    EXPECT_EQ(entries(folder.path()), std::vector<std::string>{"keep.wav"});
    EXPECT_EQ(readFile(target), "old");
}

TEST(WaveFile, SoundTooLongForTheSizesIsRefused)
{
    TempFolder folder;
    WaveFile wave;
    std::string error;
    ASSERT_TRUE(wave.create(folder.path() / "long.wav", WaveFormat{8000, 2, 16}, error)) << error;
    ASSERT_TRUE(wave.write("1234", 4, error)) << error;
    // Refused on its length alone, before a byte is read.
    const char small[4] = {};
    EXPECT_FALSE(wave.write(small, size_t(kWaveMaxDataBytes - 3), error));
    EXPECT_NE(error.find("too long"), std::string::npos) << error;
    EXPECT_TRUE(entries(folder.path()).empty()) << "the file is discarded";
    EXPECT_FALSE(wave.commit(error));
}

TEST(WaveFile, TargetsThatAreNotRegularFilesAreRefused)
{
    TempFolder folder;
    fs::create_directory(folder.path() / "sub");
    WaveFile wave;
    std::string error;
    EXPECT_FALSE(wave.create(folder.path() / "sub", WaveFormat{8000, 2, 16}, error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    EXPECT_FALSE(wave.create("/dev/null", WaveFormat{8000, 2, 16}, error));
    EXPECT_FALSE(wave.create(folder.path() / "missing" / "x.wav", WaveFormat{8000, 2, 16}, error));
    EXPECT_EQ(entries(folder.path()), std::vector<std::string>{"sub"});
}

} // namespace
} // namespace converttest
