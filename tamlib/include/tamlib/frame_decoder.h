// The pictures of an open stream frame by frame: each picture unit read, decoded into a picture
// (scaled when asked) or into planar 4:2:0 samples. The command-line tool's frames command writes
// what it gives into BMP or raw files; the picture converters are the same loop.
#ifndef TAMLIB_FRAME_DECODER_H
#define TAMLIB_FRAME_DECODER_H

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "streamkit/lbr.h"
#include "tamlib/unit_buffer.h"

#ifndef PLB_CXX_API
#define PLB_CXX_API __attribute__((visibility("default")))
#endif

namespace tamlib {

class PLB_CXX_API FrameDecoder
{
  public:
    struct Settings
    {
        int32_t bits = 24;   // of the pictures: 24 or 16
        int32_t stretch = 0; // scaler mode (LbrStretchFrame); 0: none
        int32_t width = 0;   // the size to scale to; 0: the display size rule of the scaler
        int32_t height = 0;
        bool planar = false; // planar 4:2:0 samples instead of pictures
        uint32_t first = 1;  // frames below this number are read and passed over
    };

    enum class Step
    {
        Frame,    // `picture` (or `planes`) holds the frame
        Passed,   // a frame below `first`: not decoded
        NoShow,   // a unit only for the plugin's own decoder: no picture, and no fault
        BadFrame, // the frame could not be decoded or scaled (`problem` says why)
        Overrun,  // the plugin gave a unit larger than the read buffer: nothing after it can be trusted
        End,      // no more units
    };

    struct Frame
    {
        uint32_t frameNumber = 0;
        const FrameDib* picture = nullptr; // valid until the next call
        std::span<const uint8_t> planes;   // Y, then Cb, then Cr; valid until the next call
        int32_t width = 0;
        int32_t height = 0;
        std::string problem;
        bool returned = true; // false when the plugin did not take the unit back
    };

    FrameDecoder(StreamState* stream, const Settings& settings);
    ~FrameDecoder();
    FrameDecoder(const FrameDecoder&) = delete;
    FrameDecoder& operator=(const FrameDecoder&) = delete;

    // Reads the next picture unit and decodes it into `frame`.
    Step next(Frame& frame);

  private:
    Step decodePicture(Frame& frame);
    Step decodePlanes(Frame& frame);

    StreamState* m_stream;
    Settings m_settings;
    UnitBuffer m_buffer;
    FrameDib* m_decoded = nullptr; // kept from frame to frame for reuse
    FrameDib* m_scaled = nullptr;
    std::vector<uint8_t> m_planes;
};

} // namespace tamlib

#endif
