// Video units to pictures: the plugin's decoders first, then the host's MDEC decoder.
#include <cstdlib>

#include "mdec/bitstream.h"
#include "mdec/colour.h"
#include "mdec/mdec_tables.h"
#include "mdec/reconstruct.h"
#include "picture.h"
#include "stream_state.h"
#include "tamrin_common/c_guard.h"

using streamkit::liveStream;
using namespace streamkit::mdec;

namespace {

constexpr intptr_t kHookFailed = -1;

bool isPictureUnit(const PsrReadRecord* record)
{
    return record && streamkit::isVideoUnit(*record);
}

bool hasDecodableSize(const PsrReadRecord* record)
{
    return record->width >= 1 && record->height >= 1 && record->width <= LBR_MAX_PICTURE_SIDE &&
           record->height <= LBR_MAX_PICTURE_SIDE;
}

size_t pictureBlocks(const PsrReadRecord& record)
{
    return size_t(kBlocksPerMacroblock) * ((record.width + 15) / 16) * ((record.height + 15) / 16);
}

// The run-level codes of a unit: the plugin's own bitstream decoder when it has one, else the
// host's into the stream's work buffer. False when there are none (or the plugin failed).
bool frameCodes(StreamState& stream, PsrReadRecord* record, CodeSpan& codes)
{
    if (stream.binding->PsrDecodeBs) {
        const intptr_t result = stream.binding->PsrDecodeBs(record);
        if (result == kHookFailed)
            return false;
        if (result != 0) {
            const auto* buffer = reinterpret_cast<const uint16_t*>(result);
            codes = {buffer + kRunLevelHeaderWords, size_t(buffer[0]) * 2 + kGuardCodes};
            return true;
        }
    }
    if (!decodeBitstream(record->payload, record->payloadBytes, stream.workBuffer, pictureBlocks(*record)))
        return false;
    codes = {stream.workBuffer.data() + kRunLevelHeaderWords, size_t(stream.workBuffer[0]) * 2 + kGuardCodes};
    return true;
}

// The host's decoder in one pass, from the bitstream straight to the picture. False when the
// frame needs the run-level buffer (a damaged stream) or cannot be decoded at all.
bool decodeDirect(StreamState& stream, const PsrReadRecord& record, int32_t width, int32_t height,
                  FrameDib* picture)
{
    BlockDecoder& blocks = stream.blockDecoder;
    return blocks.open(record.payload, record.payloadBytes, pictureBlocks(record)) &&
           reconstructPicture(blocks, width, height, picture);
}

bool onlyForPluginDecoder(const PsrReadRecord* record)
{
    return record->unitKind == UnitVideoPluginOnly || (record->unitFlags & UnitNoShow);
}

} // namespace

LBR_API FrameDib* LbrDecodeFrame(StreamState* stream, PsrReadRecord* record, int32_t bits, int32_t,
                                 FrameDib* reuse)
{
    return tamrin::guarded<FrameDib*>(nullptr, [&]() -> FrameDib* {
        // A picture given for reuse belongs to this call from here on: whatever the outcome, the
        // caller keeps only what is returned.
        if (!isPictureUnit(record) || !liveStream(stream) || !hasDecodableSize(record)) {
            LbrFreeBitmap(reuse);
            return nullptr;
        }
        const int32_t width = int32_t(record->width), height = int32_t(record->height);
        FrameDib* picture =
            streamkit::pictureForOverwrite(width, height, streamkit::pictureBits(bits), reuse);
        if (!picture)
            return nullptr;

        const PluginBinding& plugin = *stream->binding;
        intptr_t hook = 0;
        if (stream->decoderContext)
            hook = plugin.PsrFrameDecoder(stream->decoderContext, record, picture);
        else if (plugin.PsrDecodeFrame)
            hook = plugin.PsrDecodeFrame(record, picture);
        if (hook == kHookFailed) {
            LbrFreeBitmap(picture);
            return nullptr;
        }
        if (hook != 0)
            return reinterpret_cast<FrameDib*>(hook);
        if (onlyForPluginDecoder(record)) {
            LbrFreeBitmap(picture);
            return nullptr;
        }

        if (!plugin.PsrDecodeBs && decodeDirect(*stream, *record, width, height, picture))
            return picture;
        CodeSpan codes{};
        if (!frameCodes(*stream, record, codes)) {
            LbrFreeBitmap(picture);
            return nullptr;
        }
        reconstructPicture(codes, width, height, picture);
        return picture;
    });
}

LBR_API int32_t LbrDecodeFrameYuv(StreamState* stream, PsrReadRecord* record, uint8_t* y, uint8_t* cb,
                                  uint8_t* cr)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        if (!isPictureUnit(record) || !liveStream(stream) || !hasDecodableSize(record) || !y || !cb || !cr)
            return 0;
        if (onlyForPluginDecoder(record))
            return 0;
        CodeSpan codes{};
        if (!frameCodes(*stream, record, codes))
            return 0;
        reconstructPlanes(codes, int32_t(record->width), int32_t(record->height), {y, cb, cr});
        return 1;
    });
}

LBR_API int32_t LbrSetColorModify(int32_t brightness, int32_t blue, int32_t red, int32_t gamma)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        setColourTables(brightness, blue, red, gamma);
        return 0;
    });
}
