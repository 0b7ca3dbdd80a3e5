// The video codecs of AVI files on libavcodec.
//
// Each codec is an encoder of libavcodec behind the four-character handler an AVI file names it
// by. Pictures arrive as 24-bit BGR, bottom row first, and are converted by libswscale into the
// encoder's own pixel format:
//
//   handler  encoder   pixel format                quality 1..10000 maps to       key frames
//   "MJPG"   mjpeg     yuvj420p (full range)        qscale 31..2 (fixed quantiser)  every frame
//   "FFV1"   ffv1      bgr0 (lossless RGB)          ignored                         gop_size
//   "HFYU"   huffyuv   rgb24 (lossless RGB)         ignored                         every frame
//   "FMP4"   mpeg4     yuv420p (BT.601, limited)    qscale 31..2 (fixed quantiser)  gop_size
//   "H264"   libx264   yuv420p (BT.601, limited)    crf 51..0                       gop_size
//
// Quality q maps linearly: qscale = 2 + (10000 - q) * 29 / 10000, crf = (10000 - q) * 51 / 10000,
// both rounded; 0 takes the codec's default quality of the table below. When the options carry
// the data-rate flag and a data rate, the encoder runs at that bit rate instead (bytes per second
// x 8) and the quality is not used; the lossless codecs have neither.
//
// MPEG-4 Part 2 is stored as "FMP4": the tag libavformat itself gives that codec in AVI files,
// read by ffprobe/ffplay and every libavcodec-based player (mpv, VLC). An AVI file has no
// presentation times, so no encoder is allowed B-frames: packets leave in display order, one
// per picture, pts = dts = frame index (x264 holds some back until the flush).
//
// Threads: x264 runs on as many threads as the machine has (its frame threads stay
// deterministic; 320x240 at crf 18 took 1.1-1.4 ms a frame against 1.4-2.1 ms on one thread on
// a loaded 2-core machine). The others run on one: slice threads gave them nothing measurable
// at movie sizes (MJPEG 0.63-0.68 against 0.67-0.93 ms, MPEG-4 0.34-0.52 against 0.31-0.53 ms,
// FFV1 2.0-2.6 against 2.8-2.9 ms, HuffYUV 0.38-0.48 against 0.39-0.63 ms, all within the
// noise) and change the MPEG-4 bit stream.
#include "video_encoder.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstring>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace tamlib::avi {

namespace {

constexpr uint32_t fourcc(const char (&text)[5])
{
    return uint32_t(uint8_t(text[0])) | uint32_t(uint8_t(text[1])) << 8 | uint32_t(uint8_t(text[2])) << 16 |
           uint32_t(uint8_t(text[3])) << 24;
}

constexpr uint32_t kVideoCodecType = fourcc("vidc");

enum class QualityScale
{
    QScale,   // a fixed quantiser of the MPEG family, 2 (best) to 31
    Crf,      // x264's constant rate factor, 0 (best) to 51
    Lossless, // no quality at all
};

struct CodecSpec
{
    char handler[5];
    const char* encoder;                  // libavcodec's encoder name
    std::array<AVPixelFormat, 2> formats; // preferred first; the first one the encoder takes
    QualityScale scale;
    uint32_t keyFrameEvery; // defaults of the codec's entry
    uint32_t quality;
    int threads; // 1, or 0: as many as the machine has
};

// In the order of the list shown to the user.
const CodecSpec kSpecs[] = {
    {"MJPG", "mjpeg", {AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_NONE}, QualityScale::QScale, 1, 9000, 1},
    {"FFV1", "ffv1", {AV_PIX_FMT_BGR0, AV_PIX_FMT_YUV444P}, QualityScale::Lossless, 1, 10000, 1},
    {"HFYU", "huffyuv", {AV_PIX_FMT_RGB24, AV_PIX_FMT_YUV422P}, QualityScale::Lossless, 1, 10000, 1},
    {"FMP4", "mpeg4", {AV_PIX_FMT_YUV420P, AV_PIX_FMT_NONE}, QualityScale::QScale, 15, 9000, 1},
    {"H264", "libx264", {AV_PIX_FMT_YUV420P, AV_PIX_FMT_NONE}, QualityScale::Crf, 15, 6500, 0},
};

// Largest picture side handed to an encoder; far beyond what a stretched movie frame needs.
constexpr uint32_t kMaxSide = 8192;

uint32_t upper(uint32_t handler)
{
    uint32_t result = 0;
    for (int shift = 0; shift < 32; shift += 8)
        result |= uint32_t(std::toupper(int((handler >> shift) & 0xFF))) << shift;
    return result;
}

void copyText(char* target, size_t size, const char* text)
{
    std::snprintf(target, size, "%s", text ? text : "");
}

AVPixelFormat chooseFormat(const AVCodec& codec, const CodecSpec& spec)
{
    for (AVPixelFormat wanted : spec.formats) {
        if (wanted == AV_PIX_FMT_NONE)
            continue;
        if (!codec.pix_fmts)
            return wanted;
        for (const AVPixelFormat* format = codec.pix_fmts; *format != AV_PIX_FMT_NONE; ++format)
            if (*format == wanted)
                return wanted;
    }
    return AV_PIX_FMT_NONE;
}

int qscaleOf(uint32_t quality)
{
    return 2 + int(std::lround((10000.0 - quality) * 29.0 / 10000.0));
}

double crfOf(uint32_t quality)
{
    return std::round((10000.0 - quality) * 51.0 / 10000.0);
}

struct ContextDeleter
{
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameDeleter
{
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter
{
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct ScalerDeleter
{
    void operator()(SwsContext* scaler) const { sws_freeContext(scaler); }
};

std::string averror(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

class LavcEncoder final : public VideoEncoder
{
  public:
    bool open(const CodecSpec& spec, const PlbAviCompression& options, uint32_t width, uint32_t height,
              uint32_t rate, uint32_t scale, std::string& error);

    bool fillParameters(AVCodecParameters* parameters) const override
    {
        if (!parameters || avcodec_parameters_from_context(parameters, m_context.get()) < 0)
            return false;
        parameters->codec_tag = m_handler;
        return true;
    }

    bool encode(const uint8_t* bottomUpBgr, uint32_t stride, int64_t index, const PacketSink& sink) override
    {
        if (m_flushed || !bottomUpBgr || stride < uint32_t(m_context->width) * 3 || index < 0)
            return false;
        // The encoder may still hold the frame of the previous picture.
        if (av_frame_make_writable(m_frame.get()) < 0)
            return false;
        const uint8_t* rows[1] = {bottomUpBgr + size_t(m_context->height - 1) * stride};
        const int strides[1] = {-int(stride)};
        if (sws_scale(m_scaler.get(), rows, strides, 0, m_context->height, m_frame->data,
                      m_frame->linesize) != m_context->height)
            return false;
        m_frame->pts = index;
        m_frame->quality = m_context->global_quality;
        m_frame->pict_type = AV_PICTURE_TYPE_NONE;
        if (avcodec_send_frame(m_context.get(), m_frame.get()) < 0)
            return false;
        return drain(sink);
    }

    bool flush(const PacketSink& sink) override
    {
        if (!m_flushed) {
            m_flushed = true;
            if (avcodec_send_frame(m_context.get(), nullptr) < 0)
                return false;
        }
        return drain(sink);
    }

  private:
    bool drain(const PacketSink& sink)
    {
        for (;;) {
            const int result = avcodec_receive_packet(m_context.get(), m_packet.get());
            if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
                return true;
            if (result < 0)
                return false;
            const bool taken = sink && sink(m_packet.get());
            av_packet_unref(m_packet.get());
            if (!taken)
                return false;
        }
    }

    std::unique_ptr<AVCodecContext, ContextDeleter> m_context;
    std::unique_ptr<AVFrame, FrameDeleter> m_frame;
    std::unique_ptr<AVPacket, PacketDeleter> m_packet;
    std::unique_ptr<SwsContext, ScalerDeleter> m_scaler;
    uint32_t m_handler = 0;
    bool m_flushed = false;
};

bool LavcEncoder::open(const CodecSpec& spec, const PlbAviCompression& options, uint32_t width,
                       uint32_t height, uint32_t rate, uint32_t scale, std::string& error)
{
    if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) {
        error = "picture size " + std::to_string(width) + "x" + std::to_string(height) + " out of range";
        return false;
    }
    if (rate == 0 || scale == 0) {
        error = "no frame rate";
        return false;
    }
    const AVCodec* codec = avcodec_find_encoder_by_name(spec.encoder);
    if (!codec) {
        error = std::string("this libavcodec has no encoder ") + spec.encoder;
        return false;
    }
    const AVPixelFormat format = chooseFormat(*codec, spec);
    if (format == AV_PIX_FMT_NONE) {
        error = std::string("the encoder ") + spec.encoder + " takes none of our pixel formats";
        return false;
    }
    m_handler = fourcc(spec.handler);
    m_context.reset(avcodec_alloc_context3(codec));
    m_frame.reset(av_frame_alloc());
    m_packet.reset(av_packet_alloc());
    if (!m_context || !m_frame || !m_packet) {
        error = "out of memory";
        return false;
    }
    AVCodecContext& context = *m_context;
    context.width = int(width);
    context.height = int(height);
    context.pix_fmt = format;
    context.codec_tag = m_handler;
    av_reduce(&context.time_base.num, &context.time_base.den, scale, rate, INT32_MAX);
    context.framerate = av_inv_q(context.time_base);
    context.sample_aspect_ratio = AVRational{1, 1};
    context.gop_size = int(
        std::min<uint32_t>(options.keyFrameEvery ? options.keyFrameEvery : spec.keyFrameEvery, INT32_MAX));
    context.max_b_frames = 0;
    context.thread_count = spec.threads;
    const bool yuv = format != AV_PIX_FMT_BGR0 && format != AV_PIX_FMT_RGB24;
    if (yuv) {
        context.color_range = format == AV_PIX_FMT_YUVJ420P ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
        context.colorspace = AVCOL_SPC_SMPTE170M;
        context.color_primaries = AVCOL_PRI_SMPTE170M;
        context.color_trc = AVCOL_TRC_SMPTE170M;
    }

    const bool dataRate = (options.flags & PLB_AVI_DATARATE) && options.bytesPerSecond != 0;
    const uint32_t quality = std::min<uint32_t>(options.quality ? options.quality : spec.quality, 10000);
    switch (spec.scale) {
    case QualityScale::QScale:
        if (dataRate) {
            // Kept within one second's worth of data; the library's default tolerance (4 Mbit)
            // would let a low rate run free.
            context.bit_rate = int64_t(options.bytesPerSecond) * 8;
            context.bit_rate_tolerance = int(std::min<int64_t>(context.bit_rate, INT32_MAX));
        } else {
            context.flags |= AV_CODEC_FLAG_QSCALE;
            context.global_quality = FF_QP2LAMBDA * qscaleOf(quality);
        }
        break;
    case QualityScale::Crf:
        if (dataRate)
            context.bit_rate = int64_t(options.bytesPerSecond) * 8;
        else
            av_opt_set_double(context.priv_data, "crf", crfOf(quality), 0);
        break;
    case QualityScale::Lossless:
        break;
    }

    if (const int result = avcodec_open2(&context, codec, nullptr); result < 0) {
        error = std::string("the encoder ") + spec.encoder + " cannot be opened: " + averror(result);
        return false;
    }
    m_frame->format = format;
    m_frame->width = int(width);
    m_frame->height = int(height);
    m_frame->color_range = context.color_range;
    m_frame->colorspace = context.colorspace;
    m_frame->sample_aspect_ratio = context.sample_aspect_ratio;
    if (av_frame_get_buffer(m_frame.get(), 0) < 0) {
        error = "out of memory";
        return false;
    }
    // Same size in and out: the filter only decides how chroma is subsampled. Movie pictures come
    // from 4:2:0 sources, so the box average gets their chroma back best (44 dB against 40 dB
    // of bicubic on a 320x240 movie picture).
    m_scaler.reset(sws_getContext(int(width), int(height), AV_PIX_FMT_BGR24, int(width), int(height), format,
                                  SWS_AREA | SWS_ACCURATE_RND, nullptr, nullptr, nullptr));
    if (!m_scaler) {
        error = "no picture conversion to the encoder's pixel format";
        return false;
    }
    return true;
}

struct Usable
{
    std::vector<CodecEntry> entries;
    std::vector<const CodecSpec*> specs; // beside each entry
};

// Whether an encoder opens and codes one picture: what an installed library, its build options
// or the machine (an encoder wrapper without its library) allow.
bool works(const CodecSpec& spec)
{
    constexpr uint32_t kWidth = 64, kHeight = 48;
    PlbAviCompression options{};
    options.type = kVideoCodecType;
    options.handler = fourcc(spec.handler);
    LavcEncoder encoder;
    std::string error;
    if (!encoder.open(spec, options, kWidth, kHeight, 15, 1, error))
        return false;
    std::vector<uint8_t> picture(size_t(kWidth) * kHeight * 3, 0x80);
    size_t packets = 0;
    const auto count = [&packets](AVPacket* packet) {
        packets += packet->size > 0;
        return true;
    };
    return encoder.encode(picture.data(), kWidth * 3, 0, count) && encoder.flush(count) && packets == 1;
}

const Usable& usable()
{
    static const Usable list = [] {
        // libavcodec's own messages would go to the programs' terminals; keep its errors only.
        if (av_log_get_level() == AV_LOG_INFO)
            av_log_set_level(AV_LOG_ERROR);
        Usable result;
        for (const CodecSpec& spec : kSpecs) {
            if (!works(spec))
                continue;
            const AVCodec* codec = avcodec_find_encoder_by_name(spec.encoder);
            const AVCodecDescriptor* descriptor = avcodec_descriptor_get(codec->id);
            CodecEntry entry;
            entry.options.type = kVideoCodecType;
            entry.options.handler = fourcc(spec.handler);
            entry.options.keyFrameEvery = spec.keyFrameEvery;
            entry.options.quality = spec.quality;
            entry.options.flags = PLB_AVI_VALID | PLB_AVI_KEYFRAMES;
            entry.info.keyFrameEvery = spec.keyFrameEvery;
            entry.info.quality = spec.quality;
            copyText(entry.info.description, sizeof entry.info.description,
                     descriptor && descriptor->long_name ? descriptor->long_name : codec->long_name);
            copyText(entry.info.name, sizeof entry.info.name, descriptor ? descriptor->name : codec->name);
            result.entries.push_back(entry);
            result.specs.push_back(&spec);
        }
        return result;
    }();
    return list;
}

const CodecSpec* specOf(uint32_t handler)
{
    const Usable& list = usable();
    for (size_t index = 0; index < list.entries.size(); ++index)
        if (upper(list.entries[index].options.handler) == upper(handler))
            return list.specs[index];
    return nullptr;
}

} // namespace

const std::vector<CodecEntry>& usableCodecs()
{
    return usable().entries;
}

const CodecEntry* findCodec(uint32_t handler)
{
    const Usable& list = usable();
    for (const CodecEntry& entry : list.entries)
        if (upper(entry.options.handler) == upper(handler))
            return &entry;
    return nullptr;
}

std::unique_ptr<VideoEncoder> openVideoEncoder(const PlbAviCompression& options, uint32_t width,
                                               uint32_t height, uint32_t rate, uint32_t scale,
                                               std::string& error)
{
    if (options.type == 0 || options.handler == 0) {
        error = "no codec chosen";
        return nullptr;
    }
    const CodecSpec* spec = specOf(options.handler);
    if (!spec) {
        char handler[5] = {};
        for (int index = 0; index < 4; ++index) {
            const char c = char((options.handler >> (8 * index)) & 0xFF);
            handler[index] = std::isprint(uint8_t(c)) ? c : '?';
        }
        error = std::string("no usable codec \"") + handler + "\"";
        return nullptr;
    }
    auto encoder = std::make_unique<LavcEncoder>();
    if (!encoder->open(*spec, options, width, height, rate, scale, error))
        return nullptr;
    return encoder;
}

} // namespace tamlib::avi
