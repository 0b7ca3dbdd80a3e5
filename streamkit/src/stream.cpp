// The stream layer: units of one stream handed out by kind, with read-ahead queues.
#include <cstring>
#include <new>

#include "stream_state.h"
#include "tamrin_common/c_guard.h"

using streamkit::liveStream;

namespace {

using Queue = std::deque<std::vector<uint8_t>>;

size_t unitBytes(const PsrReadRecord& record)
{
    return PSR_READ_HEADER_BYTES + size_t(record.payloadBytes);
}

// Hands an owned unit's block back to the plugin. Units that own nothing need no call.
int32_t releaseUnit(StreamState& stream, PsrReadRecord& record)
{
    if (!(record.unitFlags & UnitOwned))
        return 1;
    if (!stream.binding->PsrFreeReadBuffer)
        return 0;
    return stream.binding->PsrFreeReadBuffer(stream.handle, &record);
}

// Releases the owned units among queued copies. Called without the stream's lock.
void releaseQueued(StreamState& stream, Queue& queue)
{
    for (auto& unit : queue)
        releaseUnit(stream, *reinterpret_cast<PsrReadRecord*>(unit.data()));
    queue.clear();
}

void takeQueues(StreamState& stream, Queue& video, Queue& audio)
{
    std::lock_guard guard(stream.lock);
    video.swap(stream.videoQueue);
    audio.swap(stream.audioQueue);
    stream.audioHistory[0] = stream.audioHistory[1] = streamkit::audio::ChannelHistory{};
    stream.adx = streamkit::audio::AdxState{};
}

bool popInto(Queue& queue, PsrReadRecord* record)
{
    if (queue.empty())
        return false;
    const auto& unit = queue.front();
    std::memcpy(record, unit.data(), unit.size());
    queue.pop_front();
    return true;
}

} // namespace

LBR_API StreamState* LbrOpenStream(const char* pluginFileName, const char* fileName, int32_t drive,
                                   StrInfo* info, uint32_t mode)
{
    return tamrin::guarded<StreamState*>(nullptr, [&]() -> StreamState* {
        if ((mode & 0x3) == 0)
            return nullptr;
        auto* stream = new (std::nothrow) StreamState;
        if (!stream)
            return nullptr;
        stream->mode = mode & 0x3;
        if (info)
            stream->info = *info;
        // The plugin receives the caller's record; without one, the stream's own (cleared) copy.
        StrInfo* given = info ? info : &stream->info;

        stream->binding = LbrOpenPSR(pluginFileName);
        if (stream->binding) {
            PluginBinding& b = *stream->binding;
            if (fileName)
                stream->handle = b.PsrOpenFile ? b.PsrOpenFile(fileName, given) : nullptr;
            else
                stream->handle = b.PsrOpenCD ? b.PsrOpenCD(drive, given) : nullptr;
        }
        if (!stream->handle) {
            if (stream->binding)
                LbrClosePSR(stream->binding);
            delete stream;
            return nullptr;
        }
        if (stream->binding->hasFrameDecoder())
            stream->decoderContext = stream->binding->PsrOpenFrameDecoder();
        stream->tag = STREAM_MAGIC;
        if (!streamkit::streamRegistry().add(stream)) {
            stream->tag = 0;
            if (stream->decoderContext)
                stream->binding->PsrCloseFrameDecoder(stream->decoderContext);
            stream->binding->PsrClose(stream->handle);
            LbrClosePSR(stream->binding);
            delete stream;
            return nullptr;
        }
        return stream;
    });
}

LBR_API int32_t LbrCloseStream(StreamState* stream)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        if (!liveStream(stream) || !streamkit::streamRegistry().remove(stream))
            return 0;
        Queue video, audio;
        takeQueues(*stream, video, audio);
        releaseQueued(*stream, video);
        releaseQueued(*stream, audio);
        PluginBinding& b = *stream->binding;
        if (stream->decoderContext)
            b.PsrCloseFrameDecoder(stream->decoderContext);
        b.PsrClose(stream->handle);
        LbrClosePSR(stream->binding);
        stream->tag = 0;
        delete stream;
        return 1;
    });
}

LBR_API int32_t LbrReadStream(StreamState* stream, uint32_t wanted, PsrReadRecord* record)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        if (!liveStream(stream) || !record)
            return 0;
        std::lock_guard guard(stream->lock);
        uint32_t want = wanted & 0x3;
        if (want == 0)
            want = 0x3;
        want &= stream->mode;

        if ((want & LBR_WANT_VIDEO) && popInto(stream->videoQueue, record))
            return 1;
        if ((want & LBR_WANT_AUDIO) && popInto(stream->audioQueue, record))
            return 1;
        for (;;) {
            if (!stream->binding->PsrRead(stream->handle, record))
                return 0;
            if (record->unitKind == 0)
                record->unitKind = record->frameNumber != 0 ? UnitVideo : UnitAudio;
            const uint32_t kind = streamkit::isVideoUnit(*record) ? LBR_WANT_VIDEO : LBR_WANT_AUDIO;
            if (!(stream->mode & kind)) {
                // Switched off: the unit is dropped, and an owned block goes back to the plugin.
                releaseUnit(*stream, *record);
                continue;
            }
            if (want & kind)
                return 1;
            try {
                const auto* bytes = reinterpret_cast<const uint8_t*>(record);
                auto& queue = kind == LBR_WANT_VIDEO ? stream->videoQueue : stream->audioQueue;
                queue.emplace_back(bytes, bytes + unitBytes(*record));
            } catch (const std::bad_alloc&) {
                releaseUnit(*stream, *record);
            }
        }
    });
}

LBR_API int32_t LbrFreeReadBuffer(StreamState* stream, PsrReadRecord* record)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        if (!liveStream(stream) || !record)
            return 0;
        return releaseUnit(*stream, *record);
    });
}

LBR_API int32_t LbrSeekStream(StreamState* stream, uint32_t positionMs)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        if (!liveStream(stream))
            return 0;
        if (positionMs != LBR_SEEK_FLUSH_ONLY && !stream->binding->PsrSeek(stream->handle, positionMs))
            return 0;
        Queue video, audio;
        takeQueues(*stream, video, audio);
        releaseQueued(*stream, video);
        releaseQueued(*stream, audio);
        return 1;
    });
}

LBR_API StrInfo* LbrGetStreamInfo(StreamState* stream)
{
    return tamrin::guarded<StrInfo*>(
        nullptr, [&]() -> StrInfo* { return liveStream(stream) ? &stream->info : nullptr; });
}

LBR_API PluginBinding* LbrGetPluginHandle(StreamState* stream)
{
    return tamrin::guarded<PluginBinding*>(
        nullptr, [&]() -> PluginBinding* { return liveStream(stream) ? stream->binding : nullptr; });
}

LBR_API int32_t LbrSetOpenFlags(StreamState* stream, uint32_t mask, uint32_t value)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        if (!liveStream(stream))
            return 0;
        mask &= 0x3;
        value &= 0x3;
        if (stream->info.frameCount == 0) {
            mask &= ~uint32_t(LBR_WANT_VIDEO);
            value &= ~uint32_t(LBR_WANT_VIDEO);
        }
        if (stream->info.channels == 0) {
            mask &= ~uint32_t(LBR_WANT_AUDIO);
            value &= ~uint32_t(LBR_WANT_AUDIO);
        }
        std::lock_guard guard(stream->lock);
        stream->mode = (stream->mode & ~mask) | value;
        return 1;
    });
}
