#include "tamlib/frame_decoder.h"

namespace tamlib {

namespace {

bool sideInRange(int64_t side)
{
    return side >= 1 && side <= LBR_MAX_PICTURE_SIDE;
}

// A picture unit meant only for the plugin's own decoder gives no picture, and that is no fault.
bool showsNothing(const PsrReadRecord& record)
{
    return record.unitKind == UnitVideoPluginOnly || (record.unitFlags & UnitNoShow) != 0;
}

} // namespace

FrameDecoder::FrameDecoder(StreamState* stream, const Settings& settings)
    : m_stream(stream), m_settings(settings)
{
}

FrameDecoder::~FrameDecoder()
{
    LbrFreeBitmap(m_decoded);
    LbrFreeBitmap(m_scaled);
}

FrameDecoder::Step FrameDecoder::next(Frame& frame)
{
    frame = Frame{};
    PsrReadRecord* record = m_buffer.record();
    if (LbrReadStream(m_stream, LBR_WANT_VIDEO, record) != 1)
        return Step::End;
    frame.frameNumber = record->frameNumber;
    Step step = Step::Passed;
    if (!m_buffer.holdsPayload()) {
        // Nothing of such a unit is trusted, not even what it would give back.
        frame.problem = "a unit claims " + std::to_string(record->payloadBytes) +
                        " payload bytes, more than the read buffer holds";
        return Step::Overrun;
    }
    if (frame.frameNumber >= m_settings.first) {
        step = m_settings.planar ? decodePlanes(frame) : decodePicture(frame);
        if (step == Step::BadFrame && frame.problem.empty()) {
            if (showsNothing(*record))
                step = Step::NoShow;
            else
                frame.problem = "cannot be decoded";
        }
    }
    frame.returned = LbrFreeReadBuffer(m_stream, record) == 1;
    return step;
}

FrameDecoder::Step FrameDecoder::decodePicture(Frame& frame)
{
    m_decoded = LbrDecodeFrame(m_stream, m_buffer.record(), m_settings.bits, 0, m_decoded);
    if (!m_decoded)
        return Step::BadFrame;
    FrameDib* picture = m_decoded;
    if (m_settings.stretch != 0) {
        const bool sized = m_settings.width > 0 && m_settings.height > 0;
        const int32_t target[2] = {m_settings.width, m_settings.height};
        FrameDib* result =
            LbrStretchFrame(picture, m_scaled, m_settings.stretch, 0, sized ? target : nullptr);
        // The picture given for reuse is consumed either way.
        m_scaled = result == picture ? nullptr : result;
        if (sized && result == picture &&
            (picture->width != m_settings.width || picture->height != m_settings.height)) {
            frame.problem = "cannot be scaled to " + std::to_string(m_settings.width) + "x" +
                            std::to_string(m_settings.height) + " (out of memory)";
            return Step::BadFrame;
        }
        picture = result;
    }
    frame.picture = picture;
    frame.width = picture->width;
    frame.height = picture->height;
    return Step::Frame;
}

FrameDecoder::Step FrameDecoder::decodePlanes(Frame& frame)
{
    const PsrReadRecord* record = m_buffer.record();
    const uint32_t width = record->width;
    const uint32_t height = record->height;
    if (!sideInRange(width) || !sideInRange(height)) {
        frame.problem = "size " + std::to_string(width) + "x" + std::to_string(height) + " out of range";
        return Step::BadFrame;
    }
    const size_t lumaBytes = size_t(width) * height;
    const size_t chromaBytes = size_t((width + 1) / 2) * ((height + 1) / 2);
    m_planes.resize(lumaBytes + 2 * chromaBytes);
    uint8_t* y = m_planes.data();
    uint8_t* cb = y + lumaBytes;
    uint8_t* cr = cb + chromaBytes;
    if (LbrDecodeFrameYuv(m_stream, m_buffer.record(), y, cb, cr) != 1)
        return Step::BadFrame;
    frame.planes = m_planes;
    frame.width = int32_t(width);
    frame.height = int32_t(height);
    return Step::Frame;
}

} // namespace tamlib
