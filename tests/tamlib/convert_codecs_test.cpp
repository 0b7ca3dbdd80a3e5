// The video codecs of AVI files: every usable codec codes ten pictures of a real movie (decoded
// by ffmpeg's MDEC decoder) into packets that libavcodec decodes back, the options change what
// they should, and the codec exports answer from the module's table and through the port.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include "convert/avi_codecs.h"
#include "convert_support.h"
#include "scripted_port.h"
#include "tamlib/convert.h"
#include "video_encoder.h"

namespace tamlib::avi {
// Test names and failures show the codec by its handler.
void PrintTo(const CodecEntry& entry, std::ostream* out)
{
    *out << std::string(reinterpret_cast<const char*>(&entry.options.handler), 4);
}
} // namespace tamlib::avi

namespace {

using tamlib::avi::CodecEntry;

// Ten pictures for most checks; two seconds for the rate control, which needs time to settle.
constexpr uint32_t kWidth = 320, kHeight = 240, kFrames = 10, kLongFrames = 30;

uint32_t handlerOf(const char (&text)[5])
{
    uint32_t value = 0;
    std::memcpy(&value, text, 4);
    return value;
}

std::string handlerText(uint32_t handler)
{
    return std::string(reinterpret_cast<const char*>(&handler), 4);
}

// Ten pictures as the AVI writer hands them over: 24-bit BGR, bottom row first. One frame of a
// movie as ffmpeg decodes it, panned two pixels a frame so that it moves like a movie without
// scene cuts.
std::vector<std::vector<uint8_t>> moviePictures(uint32_t count)
{
    const std::string path =
        std::string(TAMRIN_TEST_DATA) +
        "/references/mv1_v2_320x240_15fps_xa37800s/mv1_v2_320x240_15fps_xa37800s-0001.rgb";
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> rgb(size_t(kWidth) * kHeight * 3);
    in.read(reinterpret_cast<char*>(rgb.data()), std::streamsize(rgb.size()));
    if (!in)
        return {};
    std::vector<std::vector<uint8_t>> pictures;
    for (uint32_t frame = 0; frame < count; ++frame) {
        std::vector<uint8_t> bgr(rgb.size());
        for (uint32_t y = 0; y < kHeight; ++y) {
            for (uint32_t x = 0; x < kWidth; ++x) {
                const uint8_t* from = &rgb[(size_t(y) * kWidth + (x + 2 * frame) % kWidth) * 3];
                uint8_t* to = &bgr[(size_t(kHeight - 1 - y) * kWidth + x) * 3];
                to[0] = from[2];
                to[1] = from[1];
                to[2] = from[0];
            }
        }
        pictures.push_back(std::move(bgr));
    }
    return pictures;
}

const std::vector<std::vector<uint8_t>>& pictures()
{
    static const auto list = moviePictures(kLongFrames);
    return list;
}

struct Packet
{
    std::vector<uint8_t> data;
    bool key = false;
    int64_t pts = 0;
    int64_t dts = 0;
};

struct Coded
{
    std::vector<Packet> packets;
    AVCodecParameters* parameters = avcodec_parameters_alloc();
    size_t bytes = 0;
    ~Coded() { avcodec_parameters_free(&parameters); }
    Coded() = default;
    Coded(const Coded&) = delete;
    Coded& operator=(const Coded&) = delete;
};

// Codes the ten pictures at 15 frames per second; false with the reason when anything fails.
bool encodeAll(const PlbAviCompression& options, Coded& coded, std::string& error, uint32_t frames = kFrames)
{
    auto encoder = tamlib::avi::openVideoEncoder(options, kWidth, kHeight, 150, 10, error);
    if (!encoder)
        return false;
    if (!encoder->fillParameters(coded.parameters)) {
        error = "no parameters";
        return false;
    }
    const auto sink = [&coded](AVPacket* packet) {
        coded.packets.push_back({std::vector<uint8_t>(packet->data, packet->data + packet->size),
                                 (packet->flags & AV_PKT_FLAG_KEY) != 0, packet->pts, packet->dts});
        coded.bytes += size_t(packet->size);
        return true;
    };
    for (uint32_t frame = 0; frame < frames; ++frame) {
        if (!encoder->encode(pictures()[frame].data(), kWidth * 3, frame, sink)) {
            error = "frame " + std::to_string(frame) + " not coded";
            return false;
        }
    }
    if (!encoder->flush(sink)) {
        error = "not flushed";
        return false;
    }
    return true;
}

// Decodes the packets with libavcodec's decoder of the stream's parameters, back into bottom-up
// BGR pictures.
std::vector<std::vector<uint8_t>> decodeAll(const Coded& coded, std::string& error)
{
    std::vector<std::vector<uint8_t>> out;
    const AVCodec* codec = avcodec_find_decoder(coded.parameters->codec_id);
    AVCodecContext* context = codec ? avcodec_alloc_context3(codec) : nullptr;
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    SwsContext* scaler = nullptr;
    const auto take = [&]() {
        while (avcodec_receive_frame(context, frame) == 0) {
            if (frame->width != int(kWidth) || frame->height != int(kHeight)) {
                error = "decoded size " + std::to_string(frame->width) + "x" + std::to_string(frame->height);
                return false;
            }
            scaler = sws_getCachedContext(scaler, frame->width, frame->height, AVPixelFormat(frame->format),
                                          int(kWidth), int(kHeight), AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr,
                                          nullptr, nullptr);
            std::vector<uint8_t> bgr(size_t(kWidth) * kHeight * 3);
            uint8_t* rows[1] = {bgr.data() + size_t(kHeight - 1) * kWidth * 3};
            const int strides[1] = {-int(kWidth * 3)};
            sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, rows, strides);
            out.push_back(std::move(bgr));
        }
        return true;
    };
    bool ok = context && frame && packet && avcodec_parameters_to_context(context, coded.parameters) >= 0 &&
              avcodec_open2(context, codec, nullptr) >= 0;
    if (!ok)
        error = "no decoder";
    for (size_t index = 0; ok && index < coded.packets.size(); ++index) {
        av_packet_unref(packet);
        av_new_packet(packet, int(coded.packets[index].data.size()));
        std::memcpy(packet->data, coded.packets[index].data.data(), coded.packets[index].data.size());
        packet->pts = coded.packets[index].pts;
        ok = avcodec_send_packet(context, packet) >= 0 && take();
    }
    if (ok && avcodec_send_packet(context, nullptr) >= 0)
        take();
    sws_freeContext(scaler);
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&context);
    return out;
}

double psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    double sum = 0;
    for (size_t index = 0; index < a.size(); ++index) {
        const double difference = double(a[index]) - double(b[index]);
        sum += difference * difference;
    }
    return sum == 0 ? INFINITY : 10 * std::log10(255.0 * 255.0 * double(a.size()) / sum);
}

// What each codec must reach at its default quality: the lowest PSNR (RGB; infinity: lossless),
// and whether it codes every picture alone (every packet a key frame).
struct Expectation
{
    double bar;
    bool intraOnly;
};
const std::map<std::string, Expectation> kExpected = {
    {"MJPG", {34.0, true}},      {"FMP4", {35.0, false}},    {"H264", {38.0, false}},
    {"FFV1", {INFINITY, false}}, {"HFYU", {INFINITY, true}},
};

const Expectation& expected(const CodecEntry& entry)
{
    return kExpected.at(handlerText(entry.options.handler));
}

class CodecTest : public ::testing::TestWithParam<CodecEntry>
{
  protected:
    void SetUp() override { ASSERT_EQ(pictures().size(), kLongFrames) << "test picture missing"; }
};

std::string codecName(const ::testing::TestParamInfo<CodecEntry>& info)
{
    return info.param.info.name;
}

TEST(Codecs, TheEncodersBuiltIntoLibavcodecAreListedWithTheirDescriptions)
{
    std::vector<std::string> handlers;
    for (const CodecEntry& entry : tamlib::avi::usableCodecs()) {
        handlers.push_back(handlerText(entry.options.handler));
        EXPECT_EQ(entry.options.type, handlerOf("vidc"));
        EXPECT_GT(entry.options.keyFrameEvery, 0u);
        EXPECT_GT(entry.options.quality, 0u);
        EXPECT_LE(entry.options.quality, 10000u);
        EXPECT_GT(std::strlen(entry.info.description), 3u) << handlers.back();
        EXPECT_GT(std::strlen(entry.info.name), 2u) << handlers.back();
        EXPECT_EQ(tamlib::avi::findCodec(entry.options.handler), &entry);
        EXPECT_TRUE(kExpected.count(handlers.back())) << "nothing expected of " << handlers.back();
    }
    for (const char* builtIn : {"MJPG", "FFV1", "HFYU", "FMP4"})
        EXPECT_NE(std::find(handlers.begin(), handlers.end(), builtIn), handlers.end()) << builtIn;
    EXPECT_EQ(tamlib::avi::findCodec(handlerOf("mjpg")), tamlib::avi::findCodec(handlerOf("MJPG")));
    EXPECT_EQ(tamlib::avi::findCodec(handlerOf("DIB ")), nullptr);
}

TEST_P(CodecTest, TenMoviePicturesDecodeBackAtTheCodecsBar)
{
    const CodecEntry& entry = GetParam();
    Coded coded;
    std::string error;
    ASSERT_TRUE(encodeAll(entry.options, coded, error)) << error;
    EXPECT_EQ(coded.parameters->codec_tag, entry.options.handler);
    EXPECT_EQ(coded.parameters->width, int(kWidth));
    EXPECT_EQ(coded.parameters->height, int(kHeight));
    ASSERT_EQ(coded.packets.size(), kFrames) << "one packet per picture";
    for (uint32_t index = 0; index < kFrames; ++index) {
        EXPECT_EQ(coded.packets[index].pts, int64_t(index)) << "display order without B-frames";
        EXPECT_EQ(coded.packets[index].dts, int64_t(index));
    }
    EXPECT_TRUE(coded.packets[0].key);

    const auto decoded = decodeAll(coded, error);
    ASSERT_EQ(decoded.size(), kFrames) << error;
    const double bar = expected(entry).bar;
    double total = 0;
    for (uint32_t index = 0; index < kFrames; ++index) {
        const double value = psnr(pictures()[index], decoded[index]);
        if (std::isinf(bar)) {
            EXPECT_TRUE(decoded[index] == pictures()[index]) << "lossless frame " << index << " differs";
            continue;
        }
        EXPECT_GE(value, bar) << "frame " << index;
        total += value;
    }
    if (!std::isinf(bar))
        RecordProperty("mean_psnr", std::to_string(total / kFrames));
}

TEST_P(CodecTest, KeyFrameIntervalSetsTheKeyPackets)
{
    const CodecEntry& entry = GetParam();
    for (uint32_t every : {1u, 5u}) {
        PlbAviCompression options = entry.options;
        options.keyFrameEvery = every;
        Coded coded;
        std::string error;
        ASSERT_TRUE(encodeAll(options, coded, error)) << error;
        ASSERT_EQ(coded.packets.size(), kFrames);
        for (uint32_t index = 0; index < kFrames; ++index) {
            const bool key = index % every == 0 || expected(entry).intraOnly;
            EXPECT_EQ(coded.packets[index].key, key) << "every " << every << ", frame " << index;
        }
    }
}

TEST_P(CodecTest, QualityAndDataRateChangeLossyCodecsOnly)
{
    const CodecEntry& entry = GetParam();
    const auto size = [&](uint32_t quality, uint32_t bytesPerSecond, uint32_t flags) {
        const uint32_t frames = flags & PLB_AVI_DATARATE ? kLongFrames : kFrames;
        PlbAviCompression options = entry.options;
        options.quality = quality;
        options.bytesPerSecond = bytesPerSecond;
        options.flags = flags;
        Coded coded;
        std::string error;
        EXPECT_TRUE(encodeAll(options, coded, error, frames)) << error;
        return coded.bytes;
    };
    const size_t best = size(10000, 0, 0);
    const size_t poor = size(1500, 0, 0);
    EXPECT_EQ(size(10000, 6000, 0), best) << "a data rate without its flag is not used";
    // Two seconds at 6000 and at 120000 bytes a second.
    const size_t low = size(10000, 6000, PLB_AVI_DATARATE);
    const size_t high = size(10000, 120000, PLB_AVI_DATARATE);
    if (std::isinf(expected(entry).bar)) {
        EXPECT_EQ(poor, best);
        EXPECT_EQ(low, high);
        return;
    }
    EXPECT_LT(poor * 2, best);
    EXPECT_LT(low * 3, high * 2);
}

// The packets in an AVI file as libavformat's muxer writes them (the AVI writer does the same).
bool writeAvi(const std::string& path, const Coded& coded)
{
    AVFormatContext* file = nullptr;
    if (avformat_alloc_output_context2(&file, nullptr, "avi", path.c_str()) < 0)
        return false;
    AVStream* stream = avformat_new_stream(file, nullptr);
    bool ok = stream && avcodec_parameters_copy(stream->codecpar, coded.parameters) >= 0 &&
              avio_open(&file->pb, path.c_str(), AVIO_FLAG_WRITE) >= 0;
    if (ok) {
        stream->time_base = AVRational{1, 15};
        ok = avformat_write_header(file, nullptr) >= 0;
    }
    AVPacket* packet = av_packet_alloc();
    for (const Packet& coded : coded.packets) {
        if (!ok || !packet || av_new_packet(packet, int(coded.data.size())) < 0) {
            ok = false;
            break;
        }
        std::memcpy(packet->data, coded.data.data(), coded.data.size());
        packet->pts = coded.pts;
        packet->dts = coded.dts;
        packet->flags = coded.key ? AV_PKT_FLAG_KEY : 0;
        av_packet_rescale_ts(packet, AVRational{1, 15}, stream->time_base);
        ok = av_interleaved_write_frame(file, packet) >= 0;
    }
    av_packet_free(&packet);
    if (ok)
        ok = av_write_trailer(file) >= 0;
    avio_closep(&file->pb);
    avformat_free_context(file);
    return ok;
}

std::string run(const std::string& command)
{
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[512];
        while (size_t got = std::fread(buffer, 1, sizeof buffer, pipe))
            output.append(buffer, got);
        ::pclose(pipe);
    }
    return output;
}

TEST_P(CodecTest, FfprobeReadsTheCodecFromAnAviFile)
{
    const CodecEntry& entry = GetParam();
    Coded coded;
    std::string error;
    ASSERT_TRUE(encodeAll(entry.options, coded, error)) << error;
    converttest::TempFolder folder;
    const std::string path = (folder.path() / "codec.avi").string();
    ASSERT_TRUE(writeAvi(path, coded));
    const std::string probe =
        run("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
            "stream=codec_name,codec_tag_string,width,height,nb_read_frames -of default=nw=1 '" +
            path + "' 2>&1");
    const std::string wanted = "codec_name=" + std::string(entry.info.name) +
                               "\ncodec_tag_string=" + handlerText(entry.options.handler) +
                               "\nwidth=320\nheight=240\nnb_read_frames=10\n";
    EXPECT_EQ(probe, wanted);
}

INSTANTIATE_TEST_SUITE_P(Usable, CodecTest, ::testing::ValuesIn(tamlib::avi::usableCodecs()), codecName);

TEST(Codecs, OpeningRefusesWhatCannotBeCoded)
{
    const CodecEntry* mjpeg = tamlib::avi::findCodec(handlerOf("MJPG"));
    ASSERT_NE(mjpeg, nullptr);
    struct Case
    {
        const char* what;
        uint32_t type, handler, width, height, rate, scale;
    };
    const uint32_t vidc = handlerOf("vidc");
    const Case cases[] = {
        {"no type", 0, handlerOf("MJPG"), 64, 48, 150, 10},
        {"no handler", vidc, 0, 64, 48, 150, 10},
        {"uncompressed", vidc, handlerOf("DIB "), 64, 48, 150, 10},
        {"unknown codec", vidc, handlerOf("XXXX"), 64, 48, 150, 10},
        {"no width", vidc, handlerOf("MJPG"), 0, 48, 150, 10},
        {"huge picture", vidc, handlerOf("MJPG"), 100000, 48, 150, 10},
        {"no rate", vidc, handlerOf("MJPG"), 64, 48, 0, 10},
        {"no scale", vidc, handlerOf("MJPG"), 64, 48, 150, 0},
    };
    for (const Case& c : cases) {
        PlbAviCompression options = mjpeg->options;
        options.type = c.type;
        options.handler = c.handler;
        std::string error;
        EXPECT_EQ(tamlib::avi::openVideoEncoder(options, c.width, c.height, c.rate, c.scale, error), nullptr)
            << c.what;
        EXPECT_FALSE(error.empty()) << c.what;
    }

    // A picture rows short, or coded after the end, is refused.
    std::string error;
    auto encoder = tamlib::avi::openVideoEncoder(mjpeg->options, 64, 48, 150, 10, error);
    ASSERT_TRUE(encoder) << error;
    std::vector<uint8_t> picture(64 * 48 * 3, 0x40);
    const auto sink = [](AVPacket*) { return true; };
    EXPECT_FALSE(encoder->encode(picture.data(), 64 * 3 - 1, 0, sink));
    EXPECT_FALSE(encoder->encode(nullptr, 64 * 3, 0, sink));
    EXPECT_FALSE(encoder->encode(picture.data(), 64 * 3, 0, [](AVPacket*) { return false; }))
        << "a failing sink fails the picture";
    EXPECT_TRUE(encoder->flush(sink));
    EXPECT_FALSE(encoder->encode(picture.data(), 64 * 3, 1, sink));
}

// ---- the exports of libtamlib --------------------------------------------------------------

const tamlib::avi::CodecTable* linkedTable()
{
    return tamlibAviCodecTable();
}
const tamlib::avi::CodecTable* missingModule()
{
    return nullptr;
}

class CodecExports : public ::testing::Test
{
  protected:
    CodecExports() : m_previous(tamlib::convert::setAviCodecSource(&linkedTable)) {}
    ~CodecExports() override { tamlib::convert::setAviCodecSource(m_previous); }

    static PlbAviCompression named(const char (&handler)[5])
    {
        PlbAviCompression options{};
        options.type = handlerOf("vidc");
        options.handler = handlerOf(handler);
        options.quality = 7000;
        options.keyFrameEvery = 12;
        options.bytesPerSecond = 30000;
        return options;
    }
    static int32_t indexOf(const char (&handler)[5])
    {
        const auto& codecs = tamlib::avi::usableCodecs();
        for (size_t index = 0; index < codecs.size(); ++index)
            if (codecs[index].options.handler == handlerOf(handler))
                return int32_t(index);
        return -1;
    }

  private:
    tamlib::convert::CodecTableSource m_previous;
};

TEST_F(CodecExports, OptionInfoDescribesUsableCodecsAndPresetsUncompressedFrames)
{
    struct Case
    {
        const char* what;
        PlbAviCompression options;
        int32_t result;
        std::string description, name;
    };
    const CodecEntry* mjpeg = tamlib::avi::findCodec(handlerOf("MJPG"));
    ASSERT_NE(mjpeg, nullptr);
    PlbAviCompression none = named("MJPG");
    none.type = 0;
    PlbAviCompression lower = named("MJPG");
    lower.handler = handlerOf("mjpg");
    const std::string dib = "All frames are un-compressed.";
    const Case cases[] = {
        {"no codec", none, 0, dib, "DIB"},
        {"unknown codec", named("XXXX"), 0, dib, "DIB"},
        {"usable codec", named("MJPG"), 1, mjpeg->info.description, mjpeg->info.name},
        {"after an unknown one", named("XXXX"), 0, dib, "DIB"},
        {"lower case, kept codec", lower, 1, mjpeg->info.description, mjpeg->info.name},
        {"kept codec again", named("MJPG"), 1, mjpeg->info.description, mjpeg->info.name},
        {"another codec", named("FFV1"), 1, tamlib::avi::findCodec(handlerOf("FFV1"))->info.description,
         tamlib::avi::findCodec(handlerOf("FFV1"))->info.name},
    };
    for (const Case& c : cases) {
        PlbAviCodecInfo info;
        std::memset(&info, 0x5A, sizeof info);
        EXPECT_EQ(PlbGetAVIOptionInfo(&c.options, &info), c.result) << c.what;
        EXPECT_EQ(std::string(info.description), c.description) << c.what;
        EXPECT_EQ(std::string(info.name), c.name) << c.what;
        EXPECT_EQ(info.quality, c.options.quality) << c.what;
        EXPECT_EQ(info.keyFrameEvery, c.options.keyFrameEvery) << c.what;
        EXPECT_EQ(info.bytesPerSecond, c.options.bytesPerSecond) << c.what;
    }
    PlbAviCodecInfo info{};
    EXPECT_EQ(PlbGetAVIOptionInfo(nullptr, &info), 0);
    EXPECT_EQ(std::string(info.name), "DIB");
    const PlbAviCompression usable = named("MJPG");
    EXPECT_EQ(PlbGetAVIOptionInfo(&usable, nullptr), 0);

    tamlib::convert::setAviCodecSource(&missingModule);
    EXPECT_EQ(PlbGetAVIOptionInfo(&usable, &info), 0) << "without the module no codec is usable";
    EXPECT_EQ(std::string(info.description), dib);
}

TEST_F(CodecExports, CodecsAreListedAndFoundByNameOrHandler)
{
    const auto& codecs = tamlib::avi::usableCodecs();
    for (int32_t index = 0; index < int32_t(codecs.size()); ++index) {
        PlbAviCompression options{};
        PlbAviCodecInfo info{};
        ASSERT_EQ(PlbGetAVICodec(index, &options, &info), 1);
        EXPECT_EQ(std::memcmp(&options, &codecs[size_t(index)].options, sizeof options), 0);
        EXPECT_STREQ(info.name, codecs[size_t(index)].info.name);

        std::string name = info.name, handler = handlerText(options.handler);
        for (auto* text : {&name, &handler}) {
            for (std::string spelling : {*text, *text}) {
                for (char& c : spelling)
                    c = char(text == &name ? std::toupper(uint8_t(c)) : std::tolower(uint8_t(c)));
                PlbAviCompression found{};
                EXPECT_EQ(PlbFindAVICodec(spelling.c_str(), &found), 1) << spelling;
                EXPECT_EQ(found.handler, options.handler) << spelling;
            }
            PlbAviCompression found{};
            EXPECT_EQ(PlbFindAVICodec(text->c_str(), &found), 1) << *text;
            EXPECT_EQ(found.handler, options.handler) << *text;
        }
    }
    EXPECT_EQ(PlbGetAVICodec(int32_t(codecs.size()), nullptr, nullptr), 0);
    EXPECT_EQ(PlbGetAVICodec(-1, nullptr, nullptr), 0);
    for (const char* unknown : {"DIB", "DIB ", "", "mjp", "mjpegx", "Motion JPEG"}) {
        PlbAviCompression found = named("HFYU");
        EXPECT_EQ(PlbFindAVICodec(unknown, &found), 0) << unknown;
        EXPECT_EQ(found.handler, handlerOf("HFYU")) << "left alone: " << unknown;
    }
    EXPECT_EQ(PlbFindAVICodec(nullptr, nullptr), 0);

    tamlib::convert::setAviCodecSource(&missingModule);
    EXPECT_EQ(PlbGetAVICodec(0, nullptr, nullptr), 0);
    EXPECT_EQ(PlbFindAVICodec("mjpeg", nullptr), 0);
}

TEST_F(CodecExports, ChoiceThroughThePortStoresTheConfirmedCodec)
{
    const int32_t ffv1 = indexOf("FFV1");
    const int32_t hfyu = indexOf("HFYU");
    ASSERT_GE(ffv1, 0);
    ASSERT_GE(hfyu, 0);
    const auto answer = [](int32_t codec, uint32_t keyFrame, uint32_t quality, uint32_t dataRateKb) {
        tamlib::CodecChoiceRequest request;
        request.codec = codec;
        request.keyFrameEvery = keyFrame;
        request.quality = quality;
        request.dataRateKb = dataRateKb;
        return request;
    };
    struct Case
    {
        const char* what;
        PlbAviCompression before;
        std::optional<tamlib::CodecChoiceRequest> answer;
        int32_t result;
        // The preset the port was shown.
        int32_t presetCodec;
        uint32_t presetKeyFrame, presetQuality, presetDataRateKb;
        // What the record holds afterwards.
        uint32_t handler, keyFrame, quality, bytesPerSecond, flags;
    };
    PlbAviCompression dirty = named("HFYU");
    dirty.bytesPerSecond = 204800 + 1000;
    dirty.flags = 0xFF;
    dirty.reserved[2] = 99;
    const PlbAviCompression none{};
    const Case cases[] = {
        {"declined", named("HFYU"), std::nullopt, 0, hfyu, 12, 7000, 29, handlerOf("HFYU"), 12, 7000, 30000,
         0},
        {"out of range", named("HFYU"), answer(99, 0, 0, 0), 0, hfyu, 12, 7000, 29, handlerOf("HFYU"), 12,
         7000, 30000, 0},
        {"all set", none, answer(ffv1, 10, 5000, 100), 1, -1, 0, 0, 0, handlerOf("FFV1"), 10, 5000, 102400,
         PLB_AVI_VALID | PLB_AVI_DATARATE | PLB_AVI_KEYFRAMES},
        {"nothing set", dirty, answer(hfyu, 0, 8000, 0), 1, hfyu, 12, 7000, 200, handlerOf("HFYU"), 0, 8000,
         0, PLB_AVI_VALID},
        {"uncompressed", named("HFYU"), answer(-1, 15, 0, 0), 1, hfyu, 12, 7000, 29, 0, 15, 0, 0,
         PLB_AVI_VALID | PLB_AVI_KEYFRAMES},
        {"huge data rate", none, answer(ffv1, 0, 20000, 0xFFFFFFFF), 1, -1, 0, 0, 0, handlerOf("FFV1"), 0,
         10000, (UINT32_MAX / 1024) * 1024, PLB_AVI_VALID | PLB_AVI_DATARATE},
    };
    for (const Case& c : cases) {
        tamlib::ScriptedPort port;
        tamlib::ScopedUiPort scope(port);
        port.queueCodecChoice(c.answer);
        PlbAviCompression options = c.before;
        int parent = 0;
        EXPECT_EQ(PlbSetAVIOption(&parent, &options), c.result) << c.what;
        const auto asked = port.codecChoices();
        ASSERT_EQ(asked.size(), 1u) << c.what;
        EXPECT_EQ(asked[0].window, static_cast<void*>(&parent)) << c.what;
        ASSERT_EQ(asked[0].codecs.size(), tamlib::avi::usableCodecs().size()) << c.what;
        EXPECT_EQ(asked[0].codecs[size_t(ffv1)].handler, handlerOf("FFV1")) << c.what;
        EXPECT_EQ(asked[0].codec, c.presetCodec) << c.what;
        EXPECT_EQ(asked[0].keyFrameEvery, c.presetKeyFrame) << c.what;
        EXPECT_EQ(asked[0].quality, c.presetQuality) << c.what;
        EXPECT_EQ(asked[0].dataRateKb, c.presetDataRateKb) << c.what;
        if (c.result == 0) {
            EXPECT_EQ(std::memcmp(&options, &c.before, sizeof options), 0) << c.what << ": record untouched";
            continue;
        }
        EXPECT_EQ(options.type, c.handler ? handlerOf("vidc") : 0u) << c.what;
        EXPECT_EQ(options.handler, c.handler) << c.what;
        EXPECT_EQ(options.keyFrameEvery, c.keyFrame) << c.what;
        EXPECT_EQ(options.quality, c.quality) << c.what;
        EXPECT_EQ(options.bytesPerSecond, c.bytesPerSecond) << c.what;
        EXPECT_EQ(options.flags, c.flags) << c.what;
        for (uint32_t field : options.reserved)
            EXPECT_EQ(field, 0u) << c.what;
    }

    // Without a port of its own the library never confirms; without the module only
    // uncompressed frames can be chosen.
    PlbAviCompression options = named("FFV1");
    EXPECT_EQ(PlbSetAVIOption(nullptr, &options), 0);
    EXPECT_EQ(PlbSetAVIOption(nullptr, nullptr), 0);
    tamlib::convert::setAviCodecSource(&missingModule);
    tamlib::ScriptedPort port;
    tamlib::ScopedUiPort scope(port);
    port.queueCodecChoice(answer(-1, 0, 0, 0));
    EXPECT_EQ(PlbSetAVIOption(nullptr, &options), 1);
    ASSERT_EQ(port.codecChoices().size(), 1u);
    EXPECT_TRUE(port.codecChoices()[0].codecs.empty());
    EXPECT_EQ(options.handler, 0u);
}

} // namespace
