#include "avi_writer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "streamkit/lbr.h"
#include "tamrin_common/output_file.h"
#include "video_encoder.h"

// Layout of the stream header chunk ("strh"), offsets from the start of its data:
//   0x00 fourcc type ("vids", "auds")   0x14 u32 scale
//   0x04 fourcc handler                 0x18 u32 rate
//   0x08 u32 flags                      0x1C u32 start
//   0x0C u16 priority, 0x0E u16 language 0x20 u32 length
//   0x10 u32 initial frames
//   0x24 u32 suggested buffer size
// The muxer writes the codec's tag as the handler (none for uncompressed frames), the time base
// reduced (1/15 for 10/150), audio at priority 0 with a buffer of its largest block; these are set
// to the values asked for once the file is complete.

struct TamlibAviWriter
{
    tamrin_common::OutputFile file;
    AVFormatContext* format = nullptr;
    AVPacket* packet = nullptr;
    AVStream* video = nullptr;
    AVStream* audio = nullptr;
    std::unique_ptr<tamlib::avi::VideoEncoder> encoder;
    AVRational frameBase{1, 1}; // scale / rate: the unit of frame numbers
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t rate = 0;
    uint32_t scale = 0;
    uint32_t dibStride = 0;
    uint32_t blockAlign = 0;
    int64_t frames = 0;
    int64_t samples = 0;
    std::vector<uint8_t> rows; // a frame gathered to the DIB layout when the caller's rows differ
    // The muxer's view of the file, through the I/O callbacks.
    uint64_t position = 0;
    uint64_t size = 0;
    std::vector<uint8_t> head; // the first kHeadBytes as they stand, for the header fix-ups
    std::string ioError;

    ~TamlibAviWriter()
    {
        if (format) {
            if (format->pb) {
                av_freep(&format->pb->buffer);
                avio_context_free(&format->pb);
            }
            avformat_free_context(format);
        }
        av_packet_free(&packet);
    }
};

namespace tamlib::avi {

namespace {

// The headers of every stream lie well within this (the OpenDML index reserve included).
constexpr size_t kHeadBytes = size_t(64) << 10;
constexpr int kIoBufferBytes = 256 << 10;

void setError(char* error, const std::string& text)
{
    if (!error)
        return;
    const size_t length = std::min(text.size(), size_t(TAMLIB_AVI_ERROR_BYTES - 1));
    std::memcpy(error, text.data(), length);
    error[length] = 0;
}

std::string avError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

int writeBytes(void* opaque, uint8_t* bytes, int length)
{
    auto* writer = static_cast<TamlibAviWriter*>(opaque);
    if (length <= 0)
        return 0;
    if (writer->position < kHeadBytes) {
        const size_t end = std::min(kHeadBytes, size_t(writer->position) + size_t(length));
        if (writer->head.size() < end)
            writer->head.resize(end);
        std::memcpy(writer->head.data() + writer->position, bytes, end - size_t(writer->position));
    }
    std::string error;
    const bool appended = writer->position == writer->size;
    const bool ok = appended ? writer->file.write(bytes, size_t(length), error)
                             : writer->file.writeAt(writer->position, bytes, size_t(length), error);
    if (!ok) {
        const int reason = errno ? errno : EIO;
        if (writer->ioError.empty())
            writer->ioError = error;
        return AVERROR(reason);
    }
    writer->position += uint64_t(length);
    writer->size = std::max(writer->size, writer->position);
    return length;
}

int64_t seekTo(void* opaque, int64_t offset, int whence)
{
    auto* writer = static_cast<TamlibAviWriter*>(opaque);
    if (whence & AVSEEK_SIZE)
        return int64_t(writer->size);
    int64_t target = offset;
    switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET:
        break;
    case SEEK_CUR:
        target += int64_t(writer->position);
        break;
    case SEEK_END:
        target += int64_t(writer->size);
        break;
    default:
        return AVERROR(EINVAL);
    }
    if (target < 0)
        return AVERROR(EINVAL);
    writer->position = uint64_t(target);
    return target;
}

void putLe32(uint8_t* at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = uint8_t(value >> (8 * i));
}

// Sets the video stream header's handler (uncompressed frames: "DIB "), scale and rate, and the
// audio stream header's priority (1) and suggested buffer (one second).
bool fixStreamHeaders(TamlibAviWriter& writer, std::string& error)
{
    const std::vector<uint8_t>& head = writer.head;
    bool video = false;
    for (size_t at = 0; at + 8 + 0x28 <= head.size(); ++at) {
        if (std::memcmp(&head[at], "strh", 4) != 0)
            continue;
        const size_t data = at + 8;
        if (std::memcmp(&head[data], "vids", 4) == 0 && !video) {
            video = true;
            uint8_t handler[4];
            std::memcpy(handler, &head[data + 4], 4);
            if (!writer.encoder)
                std::memcpy(handler, "DIB ", 4);
            uint8_t timing[8];
            putLe32(timing, writer.scale);
            putLe32(timing + 4, writer.rate);
            if (!writer.file.writeAt(data + 4, handler, 4, error) ||
                !writer.file.writeAt(data + 0x14, timing, 8, error))
                return false;
        } else if (std::memcmp(&head[data], "auds", 4) == 0 && writer.audio) {
            const uint8_t priority[2] = {1, 0};
            uint8_t buffer[4];
            putLe32(buffer, uint32_t(writer.audio->codecpar->sample_rate) * writer.blockAlign);
            if (!writer.file.writeAt(data + 0x0C, priority, 2, error) ||
                !writer.file.writeAt(data + 0x24, buffer, 4, error))
                return false;
        }
    }
    if (!video)
        error = "the AVI header has no video stream header";
    return video;
}

// Hands one packet to the muxer; `base` is the time base of its pts, dts and duration.
bool writePacket(TamlibAviWriter& writer, AVPacket* packet, AVStream* stream, AVRational base, char* error)
{
    packet->stream_index = stream->index;
    av_packet_rescale_ts(packet, base, stream->time_base);
    const int status = av_write_frame(writer.format, packet);
    if (status < 0) {
        setError(error,
                 writer.ioError.empty() ? "cannot write the AVI file: " + avError(status) : writer.ioError);
        return false;
    }
    return true;
}

bool openVideo(TamlibAviWriter& writer, const TamlibAviSetup& setup, int32_t* compressed, char* error)
{
    writer.video = avformat_new_stream(writer.format, nullptr);
    if (!writer.video)
        return false;
    writer.video->time_base = writer.frameBase;
    writer.video->avg_frame_rate = av_inv_q(writer.frameBase);
    if (setup.videoName && *setup.videoName)
        av_dict_set(&writer.video->metadata, "title", setup.videoName, 0);
    const PlbAviCompression* codec = setup.compression;
    if (codec && codec->type != 0 && codec->handler != 0) {
        std::string why;
        writer.encoder = openVideoEncoder(*codec, setup.width, setup.height, setup.rate, setup.scale, why);
        if (writer.encoder && !writer.encoder->fillParameters(writer.video->codecpar)) {
            writer.encoder.reset();
            why = "the codec gives no stream parameters";
        }
        if (!writer.encoder)
            setError(error, why.empty() ? "the codec cannot be opened" : why);
    }
    if (compressed)
        *compressed = writer.encoder ? 1 : 0;
    if (writer.encoder)
        return true;
    if (codec && codec->type != 0 && codec->handler != 0) {
        // Whatever the failed codec filled in goes.
        avcodec_parameters_free(&writer.video->codecpar);
        if (!(writer.video->codecpar = avcodec_parameters_alloc()))
            return false;
    }
    AVCodecParameters* parameters = writer.video->codecpar;
    parameters->codec_type = AVMEDIA_TYPE_VIDEO;
    parameters->codec_id = AV_CODEC_ID_RAWVIDEO;
    parameters->codec_tag = 0; // BI_RGB in the bitmap header
    parameters->format = AV_PIX_FMT_BGR24;
    parameters->bits_per_coded_sample = 24;
    parameters->width = int(setup.width);
    parameters->height = int(setup.height);
    return true;
}

bool openAudio(TamlibAviWriter& writer, const TamlibAviSetup& setup)
{
    if ((setup.channels != 1 && setup.channels != 2) ||
        (setup.bitsPerSample != 8 && setup.bitsPerSample != 16) || setup.sampleRate == 0 ||
        setup.sampleRate > 1000000)
        return false;
    writer.audio = avformat_new_stream(writer.format, nullptr);
    if (!writer.audio)
        return false;
    writer.blockAlign = uint32_t(setup.channels) * setup.bitsPerSample / 8;
    writer.audio->time_base = AVRational{1, int(setup.sampleRate)};
    if (setup.audioName && *setup.audioName)
        av_dict_set(&writer.audio->metadata, "title", setup.audioName, 0);
    AVCodecParameters* parameters = writer.audio->codecpar;
    parameters->codec_type = AVMEDIA_TYPE_AUDIO;
    parameters->codec_id = setup.bitsPerSample == 8 ? AV_CODEC_ID_PCM_U8 : AV_CODEC_ID_PCM_S16LE;
    parameters->codec_tag = 1;
    av_channel_layout_default(&parameters->ch_layout, setup.channels);
    parameters->sample_rate = int(setup.sampleRate);
    parameters->bits_per_coded_sample = setup.bitsPerSample;
    parameters->block_align = int(writer.blockAlign);
    parameters->bit_rate = int64_t(setup.sampleRate) * writer.blockAlign * 8;
    return true;
}

} // namespace

TamlibAviWriter* writerOpen(const char* path, const TamlibAviSetup* setup, int32_t* result,
                            int32_t* compressed, char* error)
{
    int32_t ignored = 0;
    if (!result)
        result = &ignored;
    *result = TAMLIB_AVI_FILE_FAILED;
    setError(error, "");
    if (compressed)
        *compressed = 0;
    if (!path || !*path || !setup) {
        setError(error, "no file name");
        return nullptr;
    }
    auto writer = std::make_unique<TamlibAviWriter>();
    std::string text;
    if (!writer->file.create(path, text)) {
        setError(error, text);
        return nullptr;
    }
    if (avformat_alloc_output_context2(&writer->format, nullptr, "avi", nullptr) < 0 || !writer->format ||
        !(writer->packet = av_packet_alloc())) {
        setError(error, "the AVI muxer is not available");
        return nullptr;
    }
    auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferBytes));
    AVIOContext* io =
        buffer ? avio_alloc_context(buffer, kIoBufferBytes, 1, writer.get(), nullptr, writeBytes, seekTo)
               : nullptr;
    if (!io) {
        av_free(buffer);
        setError(error, "out of memory");
        return nullptr;
    }
    io->seekable = AVIO_SEEKABLE_NORMAL;
    writer->format->pb = io;
    writer->format->flags |= AVFMT_FLAG_CUSTOM_IO;

    *result = TAMLIB_AVI_VIDEO_FAILED;
    const bool sized = setup->width >= 1 && setup->width <= LBR_MAX_PICTURE_SIDE && setup->height >= 1 &&
                       setup->height <= LBR_MAX_PICTURE_SIDE;
    if (!sized || setup->rate == 0 || setup->scale == 0 || setup->rate > INT32_MAX ||
        setup->scale > INT32_MAX) {
        setError(error, "frame size or rate out of range");
        return nullptr;
    }
    writer->width = setup->width;
    writer->height = setup->height;
    writer->rate = setup->rate;
    writer->scale = setup->scale;
    writer->frameBase = AVRational{int(setup->scale), int(setup->rate)};
    writer->dibStride = LbrPictureStride(int32_t(setup->width), 24);
    if (!openVideo(*writer, *setup, compressed, error)) {
        setError(error, "the video stream cannot be made");
        return nullptr;
    }
    if (setup->audio && !openAudio(*writer, *setup)) {
        *result = TAMLIB_AVI_AUDIO_FAILED;
        setError(error, "the audio stream cannot be made (format " + std::to_string(setup->sampleRate) +
                            " Hz, " + std::to_string(setup->channels) + " channels, " +
                            std::to_string(setup->bitsPerSample) + " bits)");
        return nullptr;
    }
    AVDictionary* options = nullptr;
    if (!writer->encoder)
        av_dict_set(&options, "flipped_raw_rgb", "1", 0); // rows as given: bottom-up, height positive
    const int status = avformat_write_header(writer->format, &options);
    av_dict_free(&options);
    if (status < 0) {
        *result = writer->ioError.empty() ? TAMLIB_AVI_VIDEO_FAILED : TAMLIB_AVI_FILE_FAILED;
        setError(error, writer->ioError.empty() ? "the AVI header cannot be written: " + avError(status)
                                                : writer->ioError);
        return nullptr;
    }
    *result = TAMLIB_AVI_OPENED;
    return writer.release();
}

int32_t writerFrame(TamlibAviWriter* writer, const uint8_t* bottomUpBgr, uint32_t stride, char* error)
{
    if (!writer || !bottomUpBgr || stride < writer->width * 3) {
        setError(error, "no frame");
        return 0;
    }
    const int64_t index = writer->frames++;
    if (writer->encoder) {
        const VideoEncoder::PacketSink sink = [&](AVPacket* packet) {
            return writePacket(*writer, packet, writer->video, writer->frameBase, error);
        };
        if (!writer->encoder->encode(bottomUpBgr, stride, index, sink)) {
            if (error && !*error)
                setError(error, "the codec cannot encode frame " + std::to_string(index + 1));
            return 0;
        }
        return 1;
    }
    const size_t frameBytes = size_t(writer->dibStride) * writer->height;
    const uint8_t* data = bottomUpBgr;
    if (stride != writer->dibStride) {
        writer->rows.assign(frameBytes, 0);
        for (uint32_t row = 0; row < writer->height; ++row)
            std::memcpy(&writer->rows[size_t(row) * writer->dibStride], bottomUpBgr + size_t(row) * stride,
                        size_t(writer->width) * 3);
        data = writer->rows.data();
    }
    AVPacket* packet = writer->packet;
    av_packet_unref(packet);
    packet->data = const_cast<uint8_t*>(data);
    packet->size = int(frameBytes);
    packet->pts = packet->dts = index;
    packet->duration = 1;
    packet->flags = AV_PKT_FLAG_KEY;
    const bool ok = writePacket(*writer, packet, writer->video, writer->frameBase, error);
    packet->data = nullptr;
    packet->size = 0;
    return ok ? 1 : 0;
}

int32_t writerAudio(TamlibAviWriter* writer, const uint8_t* pcm, uint32_t bytes, char* error)
{
    if (!writer || !writer->audio || (bytes > 0 && !pcm) || bytes % writer->blockAlign != 0 ||
        bytes > INT32_MAX) {
        setError(error, "no audio stream, or not whole sample frames");
        return 0;
    }
    if (bytes == 0)
        return 1;
    const int64_t count = bytes / writer->blockAlign;
    AVPacket* packet = writer->packet;
    av_packet_unref(packet);
    packet->data = const_cast<uint8_t*>(pcm);
    packet->size = int(bytes);
    packet->pts = packet->dts = writer->samples;
    packet->duration = count;
    packet->flags = AV_PKT_FLAG_KEY;
    const bool ok = writePacket(*writer, packet, writer->audio, writer->audio->time_base, error);
    packet->data = nullptr;
    packet->size = 0;
    writer->samples += count;
    return ok ? 1 : 0;
}

int32_t writerFinish(TamlibAviWriter* writer, char* error)
{
    if (!writer) {
        setError(error, "no file");
        return 0;
    }
    std::unique_ptr<TamlibAviWriter> owned(writer);
    if (writer->encoder) {
        const VideoEncoder::PacketSink sink = [&](AVPacket* packet) {
            return writePacket(*writer, packet, writer->video, writer->frameBase, error);
        };
        if (!writer->encoder->flush(sink)) {
            if (error && !*error)
                setError(error, "the codec cannot finish the stream");
            return 0;
        }
    }
    const int status = av_write_trailer(writer->format);
    avio_flush(writer->format->pb);
    if (status < 0 || !writer->ioError.empty() || writer->format->pb->error < 0) {
        setError(error, writer->ioError.empty() ? "cannot complete the AVI file: " + avError(status)
                                                : writer->ioError);
        return 0;
    }
    std::string text;
    if (!fixStreamHeaders(*writer, text) || !writer->file.commit(text)) {
        setError(error, text);
        return 0;
    }
    return 1;
}

void writerDiscard(TamlibAviWriter* writer)
{
    delete writer; // the file, not committed, goes with it
}

} // namespace tamlib::avi
