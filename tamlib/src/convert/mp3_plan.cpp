#include "convert/mp3_plan.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "cdaz/cdaz_bytes.h"

namespace tamlib::convert {

namespace {

// The bit rates of MPEG-1 layer III (the only layer and version a 44100 Hz output uses).
constexpr int kBitrates[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr int kLowestKbps = 32;
constexpr int kHighestKbps = 320;
constexpr int kNyquistHz = int(kMp3OutputRate / 2);

// WAVE_FORMAT_MPEGLAYER3 and its format record (30 bytes).
constexpr uint16_t kWaveFormatMp3 = 0x0055;
constexpr uint16_t kMpegLayer3IdMpeg = 1;
constexpr uint16_t kMpegLayer3CodecDelay = 1393; // the value the usual encoders of this format write
constexpr uint32_t kWaveHeaderBytes = 0x46;
constexpr uint32_t kRmpHeaderBytes = 0x14;
constexpr uint32_t kSamplesPerFrame = 1152;

int clampKbps(int kbps)
{
    return std::clamp(kbps, kLowestKbps, kHighestKbps);
}

void planChannels(const PlbMp3Settings& settings, uint32_t sourceChannels, Mp3Plan& plan)
{
    if (sourceChannels != 1 && sourceChannels != 2) {
        plan.error = kMp3WaveFormat;
        return;
    }
    plan.channelsIn = int(sourceChannels);
    switch (settings.channelMode) {
    case 0:
        plan.mode = MONO;
        break;
    case 1:
        plan.mode = STEREO;
        break;
    case 2:
        plan.mode = JOINT_STEREO;
        break;
    case 3:
        plan.mode = JOINT_STEREO;
        plan.forceMidSide = true;
        break;
    case 4:
        plan.mode = STEREO;
        break; // LAME writes no dual-channel frames
    default:
        plan.error = kMp3Mode;
        return;
    }
    if (sourceChannels == 1) {
        plan.mode = MONO; // nothing to make a second channel of
        plan.forceMidSide = false;
    }
    plan.channelsOut = plan.mode == MONO ? 1 : 2;
}

void planBitrate(const PlbMp3Settings& settings, Mp3Plan& plan)
{
    if (settings.bitRate & PLB_MP3_VBR) {
        plan.vbr = true;
        plan.vbrQuality = settings.bitRate & 0x3FFF;
        if (plan.vbrQuality > 9) {
            plan.error = kMp3VbrSetting;
            return;
        }
        if (settings.switches & PLB_MP3_VBR_RANGE) {
            plan.vbrMinKbps = clampKbps(std::min(settings.vbrLowest, settings.vbrHighest));
            plan.vbrMaxKbps = clampKbps(std::max(settings.vbrLowest, settings.vbrHighest));
        }
        return;
    }
    if (settings.bitRate > kHighestKbps) {
        plan.error = kMp3BitRate;
        return;
    }
    plan.bitrateKbps = nearestMp3Bitrate(settings.bitRate);
}

void planLowpass(const PlbMp3Settings& settings, Mp3Plan& plan)
{
    if (!plan.vbr && (settings.switches & PLB_MP3_USER_LOWPASS)) {
        // The two values are the edges of the filter's transition in percent of the highest
        // frequency (22050 Hz): full level below the lower, nothing above the higher.
        const int pass = std::min<int>(std::min(settings.lowPassFirst, settings.lowPassSecond), 100);
        const int stop = std::min<int>(std::max(settings.lowPassFirst, settings.lowPassSecond), 100);
        if (stop == 0 || pass == 100) {
            plan.lowpassHz = -1;
            return;
        }
        plan.lowpassHz = stop * kNyquistHz / 100;
        plan.lowpassWidthHz = (stop - pass) * kNyquistHz / 100;
        return;
    }
    const bool lowRate = plan.vbr || plan.bitrateKbps <= 128;
    plan.lowpassHz = (settings.switches & PLB_MP3_LOWPASS_128) && lowRate ? 0 : -1;
}

} // namespace

int nearestMp3Bitrate(int kbps)
{
    int best = kBitrates[0];
    for (int rate : kBitrates)
        if (std::abs(rate - kbps) <= std::abs(best - kbps))
            best = rate;
    return best;
}

Mp3Plan planMp3(const PlbMp3Settings& settings, uint32_t sourceChannels)
{
    Mp3Plan plan;
    planChannels(settings, sourceChannels, plan);
    if (plan.error)
        return plan;
    planBitrate(settings, plan);
    if (plan.error)
        return plan;
    planLowpass(settings, plan);
    plan.quality = (settings.switches & PLB_MP3_PSYCHO) ? 2 : 3;
    switch (settings.emphasis) {
    case 0:
    case 1:
    case 3:
        plan.emphasis = settings.emphasis;
        break;
    default:
        plan.error = kMp3Parameter;
        return plan;
    }
    switch (settings.outputFormat) {
    case 0:
        plan.container = Mp3Container::Plain;
        break;
    case 1:
        plan.container = Mp3Container::Wave;
        break;
    case 2:
        plan.container = Mp3Container::Rmp;
        break;
    default:
        plan.error = kMp3Parameter;
        return plan;
    }
    return plan;
}

std::vector<uint8_t> mp3RiffHeader(Mp3Container container, int channels, int bitrateKbps, uint32_t dataBytes,
                                   uint32_t samples)
{
    const uint32_t pad = dataBytes & 1;
    std::vector<uint8_t> header;
    if (container == Mp3Container::Rmp) {
        // 0x00 "RIFF" size, 0x08 "RMP3", 0x0C "data" size, 0x14 the frames.
        header.resize(kRmpHeaderBytes);
        uint8_t* h = header.data();
        std::memcpy(h, "RIFF", 4);
        putLe32(h + 0x04, kRmpHeaderBytes - 8 + dataBytes + pad);
        std::memcpy(h + 0x08, "RMP3", 4);
        std::memcpy(h + 0x0C, "data", 4);
        putLe32(h + 0x10, dataBytes);
        return header;
    }
    if (container != Mp3Container::Wave)
        return header;
    // 0x00 "RIFF" size, 0x08 "WAVE", 0x0C "fmt " 30: tag, channels, rate, bytes per second,
    // block align 1, bits 0, 12 more bytes: id, flags, block size, frames per block, codec
    // delay; 0x32 "fact" 4: samples per channel; 0x3E "data" size; 0x46 the frames.
    header.resize(kWaveHeaderBytes);
    uint8_t* h = header.data();
    uint32_t bytesPerSecond = uint32_t(bitrateKbps) * 125;
    if (bitrateKbps <= 0)
        bytesPerSecond = samples ? uint32_t(uint64_t(dataBytes) * kMp3OutputRate / samples) : 0;
    const uint32_t blockSize =
        bitrateKbps > 0 ? uint32_t(bitrateKbps) * 125 * kSamplesPerFrame / kMp3OutputRate : 0;
    std::memcpy(h, "RIFF", 4);
    putLe32(h + 0x04, kWaveHeaderBytes - 8 + dataBytes + pad);
    std::memcpy(h + 0x08, "WAVE", 4);
    std::memcpy(h + 0x0C, "fmt ", 4);
    putLe32(h + 0x10, 30);
    putLe16(h + 0x14, kWaveFormatMp3);
    putLe16(h + 0x16, uint32_t(channels));
    putLe32(h + 0x18, kMp3OutputRate);
    putLe32(h + 0x1C, bytesPerSecond);
    putLe16(h + 0x20, 1);
    putLe16(h + 0x22, 0);
    putLe16(h + 0x24, 12);
    putLe16(h + 0x26, kMpegLayer3IdMpeg);
    putLe32(h + 0x28, 0); // padding as the standard has it
    putLe16(h + 0x2C, blockSize);
    putLe16(h + 0x2E, 1);
    putLe16(h + 0x30, kMpegLayer3CodecDelay);
    std::memcpy(h + 0x32, "fact", 4);
    putLe32(h + 0x36, 4);
    putLe32(h + 0x3A, samples);
    std::memcpy(h + 0x3E, "data", 4);
    putLe32(h + 0x42, dataBytes);
    return header;
}

} // namespace tamlib::convert
