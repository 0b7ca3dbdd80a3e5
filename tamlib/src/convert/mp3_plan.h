// What an MP3 settings record asks of the encoder, checked and put in LAME's terms, and the
// RIFF wrappers an MP3 file can be written in. Pure functions: the converter applies them.
#pragma once

#include <lame/lame.h>

#include <array>
#include <cstdint>
#include <vector>

#include "tamlib/convert.h"

namespace tamlib::convert {

// The encoder's error numbers; a conversion that stops on error e returns 30 + e (e from 10 to
// 24 has a message of its own in the string table, ids 20992 + e).
enum Mp3Error : int
{
    kMp3Internal = 10,
    kMp3Parameter = 11,
    kMp3OutputFile = 14,
    kMp3SampleRate = 15,
    kMp3BitRate = 16,
    kMp3WaveFormat = 17,
    kMp3VbrSetting = 19,
    kMp3Mode = 20,
    kMp3Memory = 21,
    kMp3DiskFull = 24,
};
constexpr int32_t kMp3ErrorBase = 30;

// The container around the MP3 frames (the settings' output format).
enum class Mp3Container
{
    Plain, // MPEG audio frames, led by LAME's information frame
    Wave,  // RIFF/WAVE with a WAVE_FORMAT_MPEGLAYER3 format
    Rmp,   // RIFF/RMP3
};

struct Mp3Plan
{
    int error = 0; // an Mp3Error that refuses the settings, 0 when they can be used
    bool vbr = false;
    int bitrateKbps = 128; // constant bit rate
    int vbrQuality = 4;
    int vbrMinKbps = 0; // 0 for both: LAME's own range
    int vbrMaxKbps = 0;
    MPEG_mode mode = JOINT_STEREO;
    bool forceMidSide = false;
    int channelsIn = 2;
    int channelsOut = 2;
    int quality = 3;         // LAME's algorithm quality, 0 best to 9 fastest
    int lowpassHz = -1;      // 0: LAME's filter for the bit rate; -1: none
    int lowpassWidthHz = -1; // -1: LAME's
    int emphasis = 0;
    Mp3Container container = Mp3Container::Plain;
};

// The output sample rate: every source is converted to it before encoding.
constexpr uint32_t kMp3OutputRate = 44100;

// `sourceChannels` is the stream's (1 or 2; anything else is refused as a wave format error).
Mp3Plan planMp3(const PlbMp3Settings& settings, uint32_t sourceChannels);

// The MPEG-1 layer III bit rate nearest to `kbps` (32 to 320; halfway rounds up).
int nearestMp3Bitrate(int kbps);

// The RIFF header in front of the frames for a container (empty for plain MP3), with the sizes
// of `dataBytes` of frames that decode to `samples` per channel. For WAVE, `bitrateKbps` is the
// constant rate (0: the average of the data, for a variable rate).
std::vector<uint8_t> mp3RiffHeader(Mp3Container container, int channels, int bitrateKbps, uint32_t dataBytes,
                                   uint32_t samples);

} // namespace tamlib::convert
