// The video codecs of AVI files: the encoders of libavcodec that an AVI file can carry, each
// known by the four-character handler of the file's stream header, and the encoder opened for
// one conversion. Uncompressed frames ("DIB ") need no encoder.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tamlib/convert.h"

extern "C" {
struct AVCodecParameters;
struct AVPacket;
}

namespace tamlib::avi {

// One usable codec: its options as a choice stores them (type "vidc", the handler, the codec's
// default key-frame interval and quality) and its description.
struct CodecEntry
{
    PlbAviCompression options{};
    PlbAviCodecInfo info{};
};

// The codecs this build of libavcodec can encode into an AVI file, in a fixed order.
const std::vector<CodecEntry>& usableCodecs();
// The entry of a handler, or null.
const CodecEntry* findCodec(uint32_t handler);

class VideoEncoder
{
  public:
    virtual ~VideoEncoder() = default;
    // The stream's codec parameters (codec id, tag, size, pixel format, extra data).
    virtual bool fillParameters(AVCodecParameters* parameters) const = 0;
    // Encodes one picture: 24-bit BGR rows, bottom row first, `stride` bytes apart, as frame
    // `index` of the stream. Every packet that comes out is handed to `sink` (its pts and dts
    // in frames); false when encoding or the sink fails.
    using PacketSink = std::function<bool(AVPacket* packet)>;
    virtual bool encode(const uint8_t* bottomUpBgr, uint32_t stride, int64_t index, const PacketSink& sink) = 0;
    // Hands out the packets the encoder still holds.
    virtual bool flush(const PacketSink& sink) = 0;
};

// Opens the codec of `options` for pictures of `width` x `height` at `rate` frames per `scale`
// seconds, with the options' quality, key-frame interval and data rate. Null with `error` set
// when the options name no usable codec or it cannot be opened (the caller then writes
// uncompressed frames).
std::unique_ptr<VideoEncoder> openVideoEncoder(const PlbAviCompression& options, uint32_t width, uint32_t height,
                                               uint32_t rate, uint32_t scale, std::string& error);

} // namespace tamlib::avi
