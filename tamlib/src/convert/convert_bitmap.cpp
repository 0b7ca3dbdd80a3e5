// Pictures as BMP files: PlbSaveBitmap writes a picture the caller holds, PlbConvertBITMAP the
// first picture of a stream (a still image), PlbConvertBITMAPFrame a chosen frame of a movie.
//
// The stream is opened for its pictures only: the sound of a movie before the chosen frame is
// not read. Pictures are decoded at 24 bits and scaled with the usual scaler mode (4) to the
// settings' size (a width or height of 0 keeps the display size). The file is written through
// the library's one BMP writer, under a hidden name until the final progress call has answered.
//
// Results: 0 written or cancelled; 2 the stream cannot be opened, gives no picture (its first
// picture unit cannot be decoded, or the chosen frame is past its end or cannot be decoded), or
// hands out a unit larger than the read buffer; 1 out of memory (the scaled picture among
// others); 12 no settings, an empty or unterminated path, a size above 4096, or the file cannot
// be written.
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "convert/conversion.h"
#include "tamlib/convert.h"
#include "tamlib/environment.h"
#include "tamlib/frame_decoder.h"
#include "tamlib/picture_file.h"
#include "tamrin_common/c_guard.h"

namespace tamlib::convert {

namespace {

constexpr int32_t kUsualStretch = 4;

struct PictureDeleter
{
    void operator()(FrameDib* picture) const { LbrFreeBitmap(picture); }
};

int32_t convertBitmap(const char* pluginName, const char* fileName, const StrInfo* info,
                      const PlbBitmapSettings* settings, uint32_t frameNumber, PlbProgressFn progressFn,
                      void* user)
{
    if (!info)
        return PLB_CONV_NO_STREAM;
    std::filesystem::path target;
    if (!settings || !outputPath(settings->outputPath, target) || settings->width > LBR_MAX_PICTURE_SIDE ||
        settings->height > LBR_MAX_PICTURE_SIDE)
        return PLB_CONV_BITMAP_FILE;
    const Progress progress(progressFn, user);
    const ConversionStream stream(pluginName, fileName, *info, LBR_WANT_VIDEO);
    if (!stream.isOpen())
        return PLB_CONV_NO_STREAM;
    const uint32_t lengthMs = stream.info().durationMs;

    FrameDecoder::Settings wanted;
    wanted.bits = 24;
    wanted.first = frameNumber;
    FrameDecoder decoder(stream.get(), wanted);
    FrameDecoder::Frame frame;
    for (bool found = false; !found;) {
        switch (decoder.next(frame)) {
        case FrameDecoder::Step::Frame:
            found = true;
            break;
        case FrameDecoder::Step::BadFrame:
        case FrameDecoder::Step::Overrun:
            PlbDEBUG("bmp: frame %u: %s\n", frame.frameNumber, frame.problem.c_str());
            return PLB_CONV_NO_STREAM;
        case FrameDecoder::Step::End:
            return PLB_CONV_NO_STREAM;
        case FrameDecoder::Step::Passed:
        case FrameDecoder::Step::NoShow:
            break;
        }
    }

    // Scaled to the settings' size, or without one to the display size of the picture.
    auto* decoded = const_cast<FrameDib*>(frame.picture);
    const bool sized = settings->width > 0 && settings->height > 0;
    const int32_t size[2] = {int32_t(settings->width), int32_t(settings->height)};
    std::unique_ptr<FrameDib, PictureDeleter> scaled(
        LbrStretchFrame(decoded, nullptr, kUsualStretch, 0, sized ? size : nullptr));
    const FrameDib* picture = scaled.get();
    if (picture == decoded) {
        scaled.release(); // the decoder's own picture
        if (sized && (picture->width != size[0] || picture->height != size[1]))
            return PLB_CONV_NO_MEMORY; // the scaler could not make the larger picture
    }

    if (!progress.report(0, lengthMs))
        return PLB_CONV_OK;
    bool cancelled = false;
    std::string error;
    const bool written = writeBmpFile(target, *picture, error, [&] {
        cancelled = !progress.report(lengthMs, lengthMs);
        return !cancelled;
    });
    if (written || cancelled)
        return PLB_CONV_OK;
    PlbDEBUG("bmp: %s: %s\n", target.c_str(), error.c_str());
    return PLB_CONV_BITMAP_FILE;
}

int32_t guardedConvert(const char* pluginName, const char* fileName, const StrInfo* info,
                       const PlbBitmapSettings* settings, uint32_t frameNumber, PlbProgressFn progressFn,
                       void* user)
{
    try {
        return convertBitmap(pluginName, fileName, info, settings, frameNumber, progressFn, user);
    } catch (const std::bad_alloc&) {
        return PLB_CONV_NO_MEMORY;
    }
}

} // namespace

} // namespace tamlib::convert

PLB_API int32_t PlbSaveBitmap(const FrameDib* picture, const char* path)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        if (!picture || !path || !*path)
            return 0;
        std::string error;
        if (tamlib::writeBmpFile(path, *picture, error))
            return 1;
        PlbDEBUG("bmp: %s: %s\n", path, error.c_str());
        return 0;
    });
}

PLB_API int32_t PlbConvertBITMAP(const char* pluginName, const char* fileName, const StrInfo* info,
                                 const PlbBitmapSettings* settings, PlbProgressFn progress, void* user)
{
    return tamrin::guarded<int32_t>(PLB_CONV_BITMAP_FILE, [&] {
        return tamlib::convert::guardedConvert(pluginName, fileName, info, settings, 0, progress, user);
    });
}

PLB_API int32_t PlbConvertBITMAPFrame(const char* pluginName, const char* fileName, const StrInfo* info,
                                      const PlbBitmapSettings* settings, uint32_t frameNumber,
                                      PlbProgressFn progress, void* user)
{
    return tamrin::guarded<int32_t>(PLB_CONV_BITMAP_FILE, [&] {
        return tamlib::convert::guardedConvert(pluginName, fileName, info, settings, frameNumber, progress,
                                               user);
    });
}
