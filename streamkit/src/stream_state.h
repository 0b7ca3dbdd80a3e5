// One open stream: its plugin binding and handle, the two queues of units read ahead, and the
// per-stream state of the decoders.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "audio/adpcm.h"
#include "mdec/bitstream.h"
#include "plugin_binding.h"

struct StreamState
{
    uint32_t tag = 0;
    PluginBinding* binding = nullptr;
    void* handle = nullptr;
    uint32_t mode = 0;  // LBR_WANT_VIDEO | LBR_WANT_AUDIO
    StrInfo info{};     // copy of the description given at open

    std::vector<uint16_t> workBuffer;  // run-level codes of the last frame, grown on demand
    streamkit::mdec::BlockDecoder blockDecoder;  // the one-pass decoder, its buffers kept between frames

    std::mutex lock;  // guards both queues and every plugin read
    // Units read ahead, oldest first: each a copy of header and payload.
    std::deque<std::vector<uint8_t>> videoQueue;
    std::deque<std::vector<uint8_t>> audioQueue;

    // Sound decoder state, cleared at open and at every seek: the ADPCM predictor history of the
    // left and right channels, and the ADX coefficients and history of this stream.
    streamkit::audio::ChannelHistory audioHistory[2];
    streamkit::audio::AdxState adx;
    void* decoderContext = nullptr;
};

namespace streamkit {

inline HandleRegistry& streamRegistry()
{
    static HandleRegistry registry;
    return registry;
}

// The stream when it is open, else null.
inline StreamState* liveStream(StreamState* stream)
{
    return streamRegistry().contains(stream) && stream->tag == STREAM_MAGIC ? stream : nullptr;
}

// Pictures are the 0x10 family alone; the sound kinds 0x30 to 0x3F and 0x70 to 0x7F also have
// bit 0x10 set and stay sound.
inline bool isVideoUnit(const PsrReadRecord& record)
{
    return (record.unitKind & 0xF0) == UnitVideo;
}

} // namespace streamkit
