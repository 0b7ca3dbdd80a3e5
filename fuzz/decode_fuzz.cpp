// Feeds arbitrary picture units to the picture decoder: LbrDecodeFrame at both depths, with and
// without a picture to reuse, and LbrDecodeFrameYuv. The input is a unit header followed by its
// payload; the unit goes to a stream opened once on a real test movie, as the decoder needs
// one. Every picture must equal the one the two passes through the run-level buffer give (the
// movie's plugin has no decoder of its own).
//
// Input layout:
//   0x00 u16 width    any value, including 0 and sizes beyond LBR_MAX_PICTURE_SIDE
//   0x02 u16 height   (a size the decoder accepts whose area is above kMaxArea has its height
//                     cut to fit: every macroblock takes the same paths, and whole 320 x 240
//                     frames decoded four times under coverage instrumentation would hold the
//                     target to a few dozen runs a second)
//   0x04 u8  choices  bit 0: 16 bits per pixel (else 24)
//                     bit 1: decode a second time into a small picture given for reuse
//                     bit 2: also decode the planar samples
//                     bits 3-4: unit kind 0x10, 0x11, 0x13 (only for a plugin's decoder), 0x20
//                     bit 5: UnitNoShow
//   0x05 ...          payload (copied into a record of exactly that size, so that any read
//                     past its end is caught)
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "mdec/bitstream.h"
#include "mdec/mdec_tables.h"
#include "mdec/reconstruct.h"
#include "movie_stream.h"
#include "streamkit/lbr.h"

namespace {

constexpr size_t kHeaderBytes = 5;
constexpr uint32_t kMaxArea = 64 * 64;
constexpr uint8_t kKinds[4] = {UnitVideo, 0x11, UnitVideoPluginOnly, UnitAudio};

// A unit that is no picture, or only for a plugin's decoder, gives none. The header of a
// returned picture describes the unit's size and the asked depth, and its last pixel row is
// inside the block (touched, so that the sanitizer sees it).
void checkPicture(const FrameDib* picture, const PsrReadRecord& record, int32_t bits)
{
    if (!picture)
        return;
    if (!(record.unitKind & UnitVideo) || record.unitKind == UnitVideoPluginOnly ||
        (record.unitFlags & UnitNoShow))
        std::abort();
    if (picture->headerSize != sizeof(FrameDib) || picture->width != int32_t(record.width) ||
        picture->height != int32_t(record.height) || picture->bitCount != bits)
        std::abort();
    const size_t stride = LbrPictureStride(picture->width, bits);
    const uint8_t* pixels = LbrPicturePixels(const_cast<FrameDib*>(picture));
    volatile uint8_t sink = pixels[size_t(picture->height) * stride - 1];
    (void)sink;
}

// The picture decoded again through the run-level buffer: the same pixel rows, or abort.
void checkAgainstTwoPasses(const FrameDib* picture, const PsrReadRecord& record, int32_t bits)
{
    using namespace streamkit::mdec;
    if (!picture)
        return;
    const int32_t width = int32_t(record.width), height = int32_t(record.height);
    const size_t blocks = size_t(kBlocksPerMacroblock) * size_t((width + 15) / 16) * size_t((height + 15) / 16);
    std::vector<uint16_t> buffer;
    if (!decodeBitstream(record.payload, record.payloadBytes, buffer, blocks))
        std::abort();  // a picture came out of a frame the two passes refuse
    FrameDib* reference = LbrAllocBitmap(width, height, 1, bits, nullptr);
    if (!reference)
        return;
    reconstructPicture({buffer.data() + kRunLevelHeaderWords, size_t(buffer[0]) * 2 + kGuardCodes}, width, height,
                       reference);
    const size_t stride = LbrPictureStride(width, bits), row = size_t(width) * size_t(bits / 8);
    const uint8_t* a = LbrPicturePixels(const_cast<FrameDib*>(picture));
    const uint8_t* b = LbrPicturePixels(reference);
    for (int32_t y = 0; y < height; ++y)
        if (std::memcmp(a + size_t(y) * stride, b + size_t(y) * stride, row) != 0)
            std::abort();
    LbrFreeBitmap(reference);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static StreamState* stream = fuzzing::openMovieStream(LBR_WANT_VIDEO);
    if (size < kHeaderBytes)
        return 0;
    const uint32_t width = uint32_t(data[0] | (data[1] << 8));
    uint32_t height = uint32_t(data[2] | (data[3] << 8));
    if (width >= 1 && width <= LBR_MAX_PICTURE_SIDE && height <= LBR_MAX_PICTURE_SIDE &&
        width * height > kMaxArea)
        height = kMaxArea / width > 0 ? kMaxArea / width : 1;
    const uint8_t choices = data[4];
    const int32_t bits = (choices & 1) ? 16 : 24;
    const size_t payloadBytes = size - kHeaderBytes;

    // Exactly as large as the unit, so that a read past the payload is an error the sanitizer
    // reports.
    auto* exact = static_cast<PsrReadRecord*>(std::malloc(PSR_READ_HEADER_BYTES + payloadBytes));
    if (!exact)
        return 0;
    exact->frameNumber = 1;
    exact->width = width;
    exact->height = height;
    exact->param = 0;
    exact->unitKind = kKinds[(choices >> 3) & 3];
    exact->unitFlags = (choices & 0x20) ? UnitNoShow : 0;
    exact->payloadBytes = uint32_t(payloadBytes);
    std::memcpy(exact->payload, data + kHeaderBytes, payloadBytes);

    FrameDib* picture = LbrDecodeFrame(stream, exact, bits, 0, nullptr);
    checkPicture(picture, *exact, bits);
    checkAgainstTwoPasses(picture, *exact, bits);
    LbrFreeBitmap(picture);

    if (choices & 2) {
        FrameDib* small = LbrAllocBitmap(16, 16, 1, bits, nullptr);
        picture = LbrDecodeFrame(stream, exact, bits, 0, small);
        checkPicture(picture, *exact, bits);
        LbrFreeBitmap(picture);
    }

    if (choices & 4) {
        // Planes sized exactly for the unit's size when it is one a picture can have; for any
        // other size the decoder must refuse without writing, and one-byte planes show if it
        // does not.
        const bool plausible =
            width >= 1 && height >= 1 && width <= LBR_MAX_PICTURE_SIDE && height <= LBR_MAX_PICTURE_SIDE;
        const size_t luma = plausible ? size_t(width) * height : 1;
        const size_t chroma = plausible ? size_t((width + 1) / 2) * ((height + 1) / 2) : 1;
        auto* y = static_cast<uint8_t*>(std::malloc(luma));
        auto* cb = static_cast<uint8_t*>(std::malloc(chroma));
        auto* cr = static_cast<uint8_t*>(std::malloc(chroma));
        if (y && cb && cr) {
            const int32_t decoded = LbrDecodeFrameYuv(stream, exact, y, cb, cr);
            if (decoded == 1 && !plausible)
                std::abort();
        }
        std::free(y);
        std::free(cb);
        std::free(cr);
    }
    std::free(exact);
    return 0;
}
