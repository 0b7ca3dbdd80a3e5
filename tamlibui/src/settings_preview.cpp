// The colour page's preview: the movie's first frame decoded again at every change, so that the
// picture shows exactly what the decoder's colour tables make of it.
#include "settings_preview.h"

#include <optional>

#include "streamkit/lbr.h"
#include "tamlib/analysis.h"
#include "tamlib/frame_decoder.h"

namespace tamlibui::detail {

namespace {

// A 24-bit picture (bottom-up blue-green-red rows padded to 4 bytes) as an image.
QImage toImage(const FrameDib& picture)
{
    const int width = picture.width, height = picture.height;
    if (picture.bitCount != 24 || width <= 0 || height <= 0 || width > 4096 || height > 4096)
        return {};
    const size_t stride = (size_t(width) * 3 + 3) & ~size_t(3);
    if (picture.imageSize < stride * size_t(height))
        return {};
    const auto* pixels = reinterpret_cast<const uint8_t*>(&picture) + sizeof(FrameDib);
    QImage image(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y) {
        const uint8_t* source = pixels + stride * size_t(height - 1 - y);
        uint8_t* target = image.scanLine(y);
        for (int x = 0; x < width; ++x) {
            target[x * 3] = source[x * 3 + 2];
            target[x * 3 + 1] = source[x * 3 + 1];
            target[x * 3 + 2] = source[x * 3];
        }
    }
    return image;
}

} // namespace

QImage decodePreviewFrame(const QString& path)
{
    if (path.isEmpty())
        return {};
    const QByteArray file = path.toUtf8();
    std::optional<tamlib::FileIdentity> identity = tamlib::identifyFile(file.constData());
    if (!identity)
        return {};
    StreamState* stream =
        LbrOpenStream(identity->bindName.c_str(), file.constData(), -1, &identity->info, LBR_WANT_VIDEO);
    if (!stream)
        return {};
    QImage image;
    {
        tamlib::FrameDecoder decoder(stream, tamlib::FrameDecoder::Settings{});
        tamlib::FrameDecoder::Frame frame;
        for (;;) {
            const tamlib::FrameDecoder::Step step = decoder.next(frame);
            if (step == tamlib::FrameDecoder::Step::Frame) {
                if (frame.picture)
                    image = toImage(*frame.picture);
                break;
            }
            if (step == tamlib::FrameDecoder::Step::End || step == tamlib::FrameDecoder::Step::Overrun)
                break;
        }
    }
    LbrCloseStream(stream);
    return image;
}

} // namespace tamlibui::detail
