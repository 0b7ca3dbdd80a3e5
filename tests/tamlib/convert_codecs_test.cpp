// The video codecs of AVI files: every usable codec codes pictures of a real movie (as ffmpeg's
// MDEC decoder gave them) into packets that, put in an AVI file, ffprobe and ffmpeg read back at
// the codec's bar; the options change what they should; the codec exports answer from the
// module's table and through the user-interface port.
#include <gtest/gtest.h>

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
}

#include "convert/avi_codecs.h"
#include "convert_support.h"
#include "convert_tools.h"
#include "scripted_port.h"
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
using Picture = std::vector<uint8_t>;
using converttest::commandOutput;

// Ten pictures for most checks, two seconds for the rate control, which needs time to settle.
constexpr uint32_t kWidth = 320, kHeight = 240, kFrames = 10, kLongFrames = 30;

// Four characters, the first in the low byte.
uint32_t fourcc(const char* text)
{
    uint32_t value;
    std::memcpy(&value, text, 4);
    return value;
}

std::string handlerText(uint32_t handler)
{
    return std::string(reinterpret_cast<const char*>(&handler), 4);
}

// One movie frame (RGB, top row first) panned two pixels a frame, so that it moves like a movie
// without scene cuts; `bottomUpBgr` gives it as the AVI writer hands pictures over.
const std::vector<Picture>& pictures(bool bottomUpBgr)
{
    static const auto make = [](bool flip) {
        std::ifstream in(std::string(TAMRIN_TEST_DATA) + "/references/mv1_v2_320x240_15fps_xa37800s/"
                                                         "mv1_v2_320x240_15fps_xa37800s-0001.rgb",
                         std::ios::binary);
        Picture rgb(size_t(kWidth) * kHeight * 3);
        in.read(reinterpret_cast<char*>(rgb.data()), std::streamsize(rgb.size()));
        std::vector<Picture> list;
        for (uint32_t frame = 0; in && frame < kLongFrames; ++frame) {
            Picture out(rgb.size());
            for (uint32_t y = 0; y < kHeight; ++y)
                for (uint32_t x = 0; x < kWidth; ++x)
                    for (uint32_t c = 0; c < 3; ++c)
                        out[((flip ? kHeight - 1 - y : y) * kWidth + x) * 3 + (flip ? 2 - c : c)] =
                            rgb[(y * kWidth + (x + 2 * frame) % kWidth) * 3 + c];
            list.push_back(std::move(out));
        }
        return list;
    };
    static const std::vector<Picture> bgr = make(true), rgb = make(false);
    return bottomUpBgr ? bgr : rgb;
}

struct Packet
{
    std::vector<uint8_t> data;
    bool key;
    int64_t pts, dts;
};

struct Coded
{
    std::vector<Packet> packets;
    size_t bytes = 0;
    std::unique_ptr<AVCodecParameters, void (*)(AVCodecParameters*)> parameters{
        avcodec_parameters_alloc(), [](AVCodecParameters* p) { avcodec_parameters_free(&p); }};
    std::string error;
};

// Codes the first `frames` pictures at 15 frames per second.
std::unique_ptr<Coded> encode(const PlbAviCompression& options, uint32_t frames = kFrames)
{
    auto coded = std::make_unique<Coded>();
    auto encoder = tamlib::avi::openVideoEncoder(options, kWidth, kHeight, 150, 10, coded->error);
    if (!encoder || !encoder->fillParameters(coded->parameters.get())) {
        coded->error += " (not opened)";
        return coded;
    }
    const auto sink = [&coded](AVPacket* packet) {
        coded->packets.push_back({std::vector<uint8_t>(packet->data, packet->data + packet->size),
                                  (packet->flags & AV_PKT_FLAG_KEY) != 0, packet->pts, packet->dts});
        coded->bytes += size_t(packet->size);
        return true;
    };
    for (uint32_t frame = 0; frame < frames; ++frame)
        if (!encoder->encode(pictures(true)[frame].data(), kWidth * 3, frame, sink)) {
            coded->error = "frame " + std::to_string(frame) + " not coded";
            return coded;
        }
    if (!encoder->flush(sink))
        coded->error = "not flushed";
    return coded;
}

// The packets in an AVI file as libavformat's muxer writes them (as the AVI writer does).
bool writeAvi(const std::string& path, const Coded& coded)
{
    AVFormatContext* file = nullptr;
    if (avformat_alloc_output_context2(&file, nullptr, "avi", path.c_str()) < 0)
        return false;
    AVStream* stream = avformat_new_stream(file, nullptr);
    bool ok = stream && avcodec_parameters_copy(stream->codecpar, coded.parameters.get()) >= 0 &&
              avio_open(&file->pb, path.c_str(), AVIO_FLAG_WRITE) >= 0;
    if (ok) {
        stream->time_base = AVRational{1, 15};
        ok = avformat_write_header(file, nullptr) >= 0;
    }
    AVPacket* packet = av_packet_alloc();
    for (size_t index = 0; ok && index < coded.packets.size(); ++index) {
        const Packet& from = coded.packets[index];
        ok = packet && av_new_packet(packet, int(from.data.size())) >= 0;
        if (!ok)
            break;
        std::memcpy(packet->data, from.data.data(), from.data.size());
        packet->pts = from.pts;
        packet->dts = from.dts;
        packet->flags = from.key ? AV_PKT_FLAG_KEY : 0;
        av_packet_rescale_ts(packet, AVRational{1, 15}, stream->time_base);
        ok = av_interleaved_write_frame(file, packet) >= 0;
    }
    av_packet_free(&packet);
    ok = ok && av_write_trailer(file) >= 0;
    avio_closep(&file->pb);
    avformat_free_context(file);
    return ok;
}

double psnr(const uint8_t* a, const uint8_t* b, size_t size)
{
    double sum = 0;
    for (size_t index = 0; index < size; ++index)
        sum += (double(a[index]) - b[index]) * (double(a[index]) - b[index]);
    return sum == 0 ? INFINITY : 10 * std::log10(255.0 * 255.0 * double(size) / sum);
}

// What each codec must reach at its default quality: the lowest PSNR (RGB; infinity: identical
// pictures), and whether it codes every picture alone (every packet a key frame).
struct Expectation
{
    double bar;
    bool intraOnly;
};
const std::map<std::string, Expectation> kExpected = {
    {"MJPG", {34.0, true}},      {"FMP4", {35.0, false}},    {"H264", {38.0, false}},
    {"FFV1", {INFINITY, false}}, {"HFYU", {INFINITY, true}},
};

class CodecTest : public ::testing::TestWithParam<CodecEntry>
{
  protected:
    void SetUp() override
    {
        ASSERT_EQ(pictures(true).size(), kLongFrames) << "test picture missing";
        ASSERT_TRUE(kExpected.count(handlerText(GetParam().options.handler))) << "nothing expected";
    }
    const Expectation& expected() const { return kExpected.at(handlerText(GetParam().options.handler)); }
};

TEST_P(CodecTest, AnAviOfTenMoviePicturesReadsBackAtTheCodecsBar)
{
    const CodecEntry& entry = GetParam();
    const auto coded = encode(entry.options);
    ASSERT_EQ(coded->error, "");
    ASSERT_EQ(coded->packets.size(), kFrames) << "one packet per picture";
    for (uint32_t index = 0; index < kFrames; ++index) {
        EXPECT_EQ(coded->packets[index].pts, int64_t(index)) << "display order, no B-frames";
        EXPECT_EQ(coded->packets[index].dts, int64_t(index));
    }
    converttest::TempFolder folder;
    const std::string path = (folder.path() / "codec.avi").string();
    ASSERT_TRUE(writeAvi(path, *coded));
    EXPECT_EQ(commandOutput("ffprobe -v error -count_frames -show_entries "
                  "stream=codec_name,codec_tag_string,width,height,nb_read_frames -of default=nw=1 '" +
                  path + "' 2>&1"),
              "codec_name=" + std::string(entry.info.name) + "\ncodec_tag_string=" +
                  handlerText(entry.options.handler) + "\nwidth=320\nheight=240\nnb_read_frames=10\n");

    const std::string decoded =
        commandOutput("ffmpeg -v error -i '" + path + "' -f rawvideo -pix_fmt rgb24 - 2>/dev/null");
    const size_t size = size_t(kWidth) * kHeight * 3;
    ASSERT_EQ(decoded.size(), size * kFrames);
    double total = 0;
    for (uint32_t index = 0; index < kFrames; ++index) {
        const auto* frame = reinterpret_cast<const uint8_t*>(decoded.data()) + size * index;
        const double value = psnr(pictures(false)[index].data(), frame, size);
        EXPECT_GE(value, expected().bar) << "frame " << index;
        total += value;
    }
    RecordProperty("mean_psnr", std::to_string(total / kFrames));
}

TEST_P(CodecTest, KeyFrameIntervalQualityAndDataRateChangeWhatTheyShould)
{
    const CodecEntry& entry = GetParam();
    const auto with = [&](uint32_t keyFrame, uint32_t quality, uint32_t bytesPerSecond, uint32_t flags) {
        PlbAviCompression options = entry.options;
        options.keyFrameEvery = keyFrame;
        options.quality = quality;
        options.bytesPerSecond = bytesPerSecond;
        options.flags = flags;
        auto coded = encode(options, flags & PLB_AVI_DATARATE ? kLongFrames : kFrames);
        EXPECT_EQ(coded->error, "");
        return coded;
    };
    for (uint32_t every : {1u, 5u}) {
        const auto coded = with(every, 0, 0, 0);
        ASSERT_EQ(coded->packets.size(), kFrames);
        for (uint32_t index = 0; index < kFrames; ++index)
            EXPECT_EQ(coded->packets[index].key, index % every == 0 || expected().intraOnly)
                << "every " << every << ", frame " << index;
    }
    const size_t best = with(0, 10000, 0, 0)->bytes;
    const size_t poor = with(0, 1500, 0, 0)->bytes;
    EXPECT_EQ(with(0, 10000, 6000, 0)->bytes, best) << "a data rate without its flag is not used";
    // Two seconds at 6000 and at 120000 bytes a second.
    const size_t low = with(0, 10000, 6000, PLB_AVI_DATARATE)->bytes;
    const size_t high = with(0, 10000, 120000, PLB_AVI_DATARATE)->bytes;
    if (std::isinf(expected().bar)) {
        EXPECT_EQ(poor, best) << "lossless codecs have no quality";
        EXPECT_EQ(low, high) << "nor a data rate";
    } else {
        EXPECT_LT(poor * 2, best);
        EXPECT_LT(low * 3, high * 2);
    }
}

INSTANTIATE_TEST_SUITE_P(Usable, CodecTest, ::testing::ValuesIn(tamlib::avi::usableCodecs()),
                         [](const auto& info) { return std::string(info.param.info.name); });

TEST(Codecs, OpeningAndCodingRefuseWhatCannotBeCoded)
{
    const CodecEntry* mjpeg = tamlib::avi::findCodec(fourcc("mjpg"));
    ASSERT_NE(mjpeg, nullptr) << "handlers are found in any case";
    const uint32_t vidc = fourcc("vidc"), mjpg = fourcc("MJPG");
    const struct
    {
        const char* what;
        uint32_t type, handler, width, height, rate, scale;
    } cases[] = {
        {"no type", 0, mjpg, 64, 48, 150, 10},
        {"no handler", vidc, 0, 64, 48, 150, 10},
        {"uncompressed", vidc, fourcc("DIB "), 64, 48, 150, 10},
        {"unknown", vidc, fourcc("XXXX"), 64, 48, 150, 10},
        {"no width", vidc, mjpg, 0, 48, 150, 10},
        {"huge", vidc, mjpg, 100000, 48, 150, 10},
        {"no rate", vidc, mjpg, 64, 48, 0, 10},
        {"no scale", vidc, mjpg, 64, 48, 150, 0},
    };
    for (const auto& c : cases) {
        PlbAviCompression options = mjpeg->options;
        options.type = c.type;
        options.handler = c.handler;
        std::string error;
        EXPECT_EQ(tamlib::avi::openVideoEncoder(options, c.width, c.height, c.rate, c.scale, error), nullptr)
            << c.what;
        EXPECT_NE(error, "") << c.what;
    }
    std::string error;
    auto encoder = tamlib::avi::openVideoEncoder(mjpeg->options, 64, 48, 150, 10, error);
    ASSERT_TRUE(encoder) << error;
    const Picture picture(64 * 48 * 3, 0x40);
    const auto sink = [](AVPacket*) { return true; };
    EXPECT_FALSE(encoder->encode(picture.data(), 64 * 3 - 1, 0, sink)) << "rows too short";
    EXPECT_FALSE(encoder->encode(nullptr, 64 * 3, 0, sink));
    EXPECT_FALSE(encoder->encode(picture.data(), 64 * 3, 0, [](AVPacket*) { return false; }))
        << "sink failed";
    EXPECT_TRUE(encoder->flush(sink));
    EXPECT_FALSE(encoder->encode(picture.data(), 64 * 3, 1, sink)) << "after the flush";
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

    static PlbAviCompression named(const char* handler, uint32_t type = fourcc("vidc"))
    {
        return {type, fourcc(handler), 12, 7000, 30000, 0, {}};
    }
    static int32_t indexOf(const char* handler)
    {
        const auto* entry = tamlib::avi::findCodec(fourcc(handler));
        return entry ? int32_t(entry - tamlib::avi::usableCodecs().data()) : -1;
    }

  private:
    tamlib::convert::CodecTableSource m_previous;
};

TEST_F(CodecExports, OptionInfoDescribesUsableCodecsAndPresetsUncompressedFrames)
{
    const std::string dib = "All frames are un-compressed.";
    const CodecEntry* mjpeg = tamlib::avi::findCodec(fourcc("MJPG"));
    const CodecEntry* ffv1 = tamlib::avi::findCodec(fourcc("FFV1"));
    ASSERT_TRUE(mjpeg && ffv1);
    const struct
    {
        const char* what;
        PlbAviCompression options;
        int32_t result;
        std::string description, name;
    } cases[] = {
        {"no codec", named("MJPG", 0), 0, dib, "DIB"},
        {"unknown codec", named("XXXX"), 0, dib, "DIB"},
        {"usable codec", named("MJPG"), 1, mjpeg->info.description, "mjpeg"},
        {"after an unknown one", named("XXXX"), 0, dib, "DIB"},
        {"lower case", named("mjpg"), 1, mjpeg->info.description, "mjpeg"},
        {"kept codec", named("MJPG"), 1, mjpeg->info.description, "mjpeg"},
        {"another codec", named("FFV1"), 1, ffv1->info.description, "ffv1"},
    };
    for (const auto& c : cases) {
        PlbAviCodecInfo info;
        std::memset(&info, 0x5A, sizeof info);
        EXPECT_EQ(PlbGetAVIOptionInfo(&c.options, &info), c.result) << c.what;
        EXPECT_EQ(info.description, c.description) << c.what;
        EXPECT_EQ(info.name, c.name) << c.what;
        EXPECT_EQ(info.quality, 7000u) << c.what;
        EXPECT_EQ(info.keyFrameEvery, 12u) << c.what;
        EXPECT_EQ(info.bytesPerSecond, 30000u) << c.what;
    }
    PlbAviCodecInfo info{};
    EXPECT_EQ(PlbGetAVIOptionInfo(nullptr, &info), 0);
    EXPECT_STREQ(info.name, "DIB");
    const PlbAviCompression usable = named("MJPG");
    EXPECT_EQ(PlbGetAVIOptionInfo(&usable, nullptr), 0);
    tamlib::convert::setAviCodecSource(&missingModule);
    EXPECT_EQ(PlbGetAVIOptionInfo(&usable, &info), 0) << "without the module no codec is usable";
    EXPECT_EQ(info.description, dib);
}

TEST_F(CodecExports, CodecsAreListedAndFoundByNameOrHandlerInAnyCase)
{
    const auto& codecs = tamlib::avi::usableCodecs();
    for (const char* builtIn : {"MJPG", "FFV1", "HFYU", "FMP4"})
        EXPECT_GE(indexOf(builtIn), 0) << builtIn << " is part of every libavcodec";
    int32_t index = 0;
    PlbAviCompression options{};
    PlbAviCodecInfo info{};
    for (; PlbGetAVICodec(index, &options, &info); ++index) {
        ASSERT_LT(size_t(index), codecs.size());
        EXPECT_EQ(std::memcmp(&options, &codecs[size_t(index)].options, sizeof options), 0);
        EXPECT_EQ(options.type, fourcc("vidc"));
        EXPECT_GT(std::strlen(info.description), 3u);
        std::string name = info.name, handler = handlerText(options.handler), upper = name, lower = handler;
        for (char& c : upper)
            c = char(std::toupper(uint8_t(c)));
        for (char& c : lower)
            c = char(std::tolower(uint8_t(c)));
        for (const std::string& spelling : {name, upper, handler, lower}) {
            PlbAviCompression found{};
            EXPECT_EQ(PlbFindAVICodec(spelling.c_str(), &found), 1) << spelling;
            EXPECT_EQ(found.handler, options.handler) << spelling;
        }
    }
    EXPECT_EQ(size_t(index), codecs.size());
    EXPECT_EQ(PlbGetAVICodec(-1, nullptr, nullptr), 0);
    for (const char* unknown : {"DIB", "", "mjp", "mjpegx", "Motion JPEG"}) {
        PlbAviCompression found = named("HFYU");
        EXPECT_EQ(PlbFindAVICodec(unknown, &found), 0) << unknown;
        EXPECT_EQ(found.handler, fourcc("HFYU")) << "left alone: " << unknown;
    }
    EXPECT_EQ(PlbFindAVICodec(nullptr, nullptr), 0);
    tamlib::convert::setAviCodecSource(&missingModule);
    EXPECT_EQ(PlbGetAVICodec(0, nullptr, nullptr), 0);
    EXPECT_EQ(PlbFindAVICodec("mjpeg", nullptr), 0);
}

TEST_F(CodecExports, ChoiceThroughThePortStoresTheConfirmedCodec)
{
    const int32_t ffv1 = indexOf("FFV1"), hfyu = indexOf("HFYU");
    ASSERT_TRUE(ffv1 >= 0 && hfyu >= 0);
    // A choice as the port sees it (the preset) and gives it back (the answer).
    struct Choice
    {
        int32_t codec;
        uint32_t keyFrame, quality, dataRateKb;
    };
    const auto request = [](const Choice& choice) {
        tamlib::CodecChoiceRequest request;
        request.codec = choice.codec;
        request.keyFrameEvery = choice.keyFrame;
        request.quality = choice.quality;
        request.dataRateKb = choice.dataRateKb;
        return request;
    };
    PlbAviCompression dirty = named("HFYU");
    dirty.bytesPerSecond = 204800 + 1000;
    dirty.flags = 0xFF;
    dirty.reserved[2] = 99;
    const uint32_t vidc = fourcc("vidc"), all = PLB_AVI_VALID | PLB_AVI_DATARATE | PLB_AVI_KEYFRAMES;
    const Choice hfyuPreset{hfyu, 12, 7000, 29}, noPreset{-1, 0, 0, 0};
    const struct
    {
        const char* what;
        PlbAviCompression before;
        Choice preset;
        std::optional<Choice> answer; // none: declined
        int32_t result;
        PlbAviCompression after;
    } cases[] = {
        // clang-format off
        {"declined", named("HFYU"), hfyuPreset, std::nullopt, 0, named("HFYU")},
        {"out of range", named("HFYU"), hfyuPreset, Choice{99, 0, 0, 0}, 0, named("HFYU")},
        {"all set", {}, noPreset, Choice{ffv1, 10, 5000, 100}, 1, {vidc, fourcc("FFV1"), 10, 5000, 102400, all, {}}},
        {"nothing set", dirty, {hfyu, 12, 7000, 200}, Choice{hfyu, 0, 8000, 0}, 1,
         {vidc, fourcc("HFYU"), 0, 8000, 0, PLB_AVI_VALID, {}}},
        {"uncompressed", named("HFYU"), hfyuPreset, Choice{-1, 15, 0, 0}, 1,
         {0, 0, 15, 0, 0, PLB_AVI_VALID | PLB_AVI_KEYFRAMES, {}}},
        {"huge data rate", {}, noPreset, Choice{ffv1, 0, 20000, 0xFFFFFFFF}, 1,
         {vidc, fourcc("FFV1"), 0, 10000, (UINT32_MAX / 1024) * 1024, PLB_AVI_VALID | PLB_AVI_DATARATE, {}}},
        // clang-format on
    };
    for (const auto& c : cases) {
        tamlib::ScriptedPort port;
        tamlib::ScopedUiPort scope(port);
        port.queueCodecChoice(c.answer ? std::optional(request(*c.answer)) : std::nullopt);
        PlbAviCompression options = c.before;
        int parent = 0;
        EXPECT_EQ(PlbSetAVIOption(&parent, &options), c.result) << c.what;
        EXPECT_EQ(std::memcmp(&options, &c.after, sizeof options), 0) << c.what;
        const auto asked = port.codecChoices();
        ASSERT_EQ(asked.size(), 1u) << c.what;
        EXPECT_EQ(asked[0].window, static_cast<void*>(&parent)) << c.what;
        ASSERT_EQ(asked[0].codecs.size(), tamlib::avi::usableCodecs().size()) << c.what;
        EXPECT_EQ(asked[0].codecs[size_t(ffv1)].handler, fourcc("FFV1")) << c.what;
        EXPECT_EQ(asked[0].codecs[size_t(ffv1)].name, "ffv1") << c.what;
        const Choice shown{asked[0].codec, asked[0].keyFrameEvery, asked[0].quality, asked[0].dataRateKb};
        EXPECT_EQ(std::memcmp(&shown, &c.preset, sizeof shown), 0) << c.what << ": preset";
    }
    // Without a port of its own the library never confirms; without the module only
    // uncompressed frames can be chosen.
    PlbAviCompression options = named("FFV1");
    EXPECT_EQ(PlbSetAVIOption(nullptr, &options), 0);
    EXPECT_EQ(PlbSetAVIOption(nullptr, nullptr), 0);
    tamlib::convert::setAviCodecSource(&missingModule);
    tamlib::ScriptedPort port;
    tamlib::ScopedUiPort scope(port);
    port.queueCodecChoice(request({-1, 0, 0, 0}));
    EXPECT_EQ(PlbSetAVIOption(nullptr, &options), 1);
    ASSERT_EQ(port.codecChoices().size(), 1u);
    EXPECT_TRUE(port.codecChoices()[0].codecs.empty());
    EXPECT_EQ(options.handler, 0u);
}

} // namespace
