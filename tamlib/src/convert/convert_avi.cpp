// PlbConvertAVI: the pictures and sound of a stream into an AVI file at a constant frame rate.
//
// Time runs in units of the stream's frame rate R (frames per second x 10, or x 100 above 800):
// each input frame adds R to the input time S; each frame written adds the current increment to
// the output time D (the frame's own rate for a variable-rate stream, else R), and a picture is
// written while D < S. So a frame of half the stream's rate is written twice, and a gap in the
// frame numbers is filled with the last picture. Sound is gathered into blocks of up to one second
// that alternate with the frames in the file.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "convert/avi_module.h"
#include "convert/conversion.h"
#include "tamlib/environment.h"
#include "tamlib/strings.h"
#include "tamlib/unit_buffer.h"
#include "tamrin_common/c_guard.h"

namespace tamlib::convert {

namespace {

// Both formats at the same level: no gain change.
constexpr uint16_t kLevel = 100;
// The largest decoded sound unit is assumed this large until a larger one comes.
constexpr uint32_t kFirstLargestUnit = 8064;
// The scaler's mode when the settings name none that scales.
constexpr int32_t kUsualStretch = 4;
// Room for one unit's PCM, as the sound decoder of the tools gives it.
constexpr size_t kPcmReserve = size_t(64) << 10;
constexpr size_t kPcmPerPayloadByte = 4;

struct PictureDeleter
{
    void operator()(FrameDib* picture) const { LbrFreeBitmap(picture); }
};

// The file being written; removed unless finished.
class AviOutput
{
  public:
    explicit AviOutput(const TamlibAviModule& module) : m_module(module) {}
    ~AviOutput() { m_module.writerDiscard(m_writer); }
    AviOutput(const AviOutput&) = delete;
    AviOutput& operator=(const AviOutput&) = delete;

    int32_t open(const std::string& path, const TamlibAviSetup& setup)
    {
        int32_t result = TAMLIB_AVI_FILE_FAILED;
        int32_t compressed = 0;
        m_writer = m_module.writerOpen(path.c_str(), &setup, &result, &compressed, m_error);
        if (m_writer && setup.compression && setup.compression->type && setup.compression->handler &&
            !compressed)
            PlbDEBUG("avi: codec not used, frames written uncompressed: %s\n", m_error);
        return m_writer ? PLB_CONV_OK : result;
    }
    bool frame(const FrameDib* picture)
    {
        auto* pixels = LbrPicturePixels(const_cast<FrameDib*>(picture));
        return m_module.writerFrame(m_writer, pixels, LbrPictureStride(picture->width, 24), m_error) == 1;
    }
    bool audio(const uint8_t* pcm, uint32_t bytes)
    {
        return m_module.writerAudio(m_writer, pcm, bytes, m_error) == 1;
    }
    bool finish()
    {
        TamlibAviWriter* writer = m_writer;
        m_writer = nullptr;
        return m_module.writerFinish(writer, m_error) == 1;
    }
    const char* error() const { return m_error; }

  private:
    const TamlibAviModule& m_module;
    TamlibAviWriter* m_writer = nullptr;
    char m_error[TAMLIB_AVI_ERROR_BYTES] = {};
};

class AviConversion
{
  public:
    AviConversion(const PlbAviSettings& settings, const Progress& progress)
        : m_settings(settings), m_progress(progress)
    {
    }

    int32_t run(const char* pluginName, const char* fileName, const StrInfo& info);

  private:
    enum class Flow
    {
        Go,
        Cancel,
        Fail
    };

    Flow video(PsrReadRecord& record);
    Flow audio(PsrReadRecord& record);
    Flow writeDue(); // P while D < S
    Flow writeFrame();
    Flow report();
    bool flushAudio();

    const PlbAviSettings& m_settings;
    const Progress& m_progress;
    StreamState* m_stream = nullptr;
    AviOutput* m_output = nullptr;
    int32_t m_failure = PLB_CONV_AVI_FILE; // the result when the loop fails
    uint32_t m_scale = 10;
    uint32_t m_length = 0;     // frames the video header announces
    uint32_t m_lengthMs = 0;   // of the stream, for the progress calls
    uint64_t m_rate = 0;       // R
    uint64_t m_input = 0;      // S
    uint64_t m_outputTime = 0; // D
    uint64_t m_increment = 0;
    uint64_t m_written = 0; // i
    uint64_t m_seen = 0;    // n
    std::unique_ptr<FrameDib, PictureDeleter> m_decoded;
    std::unique_ptr<FrameDib, PictureDeleter> m_stretched;
    const FrameDib* m_picture = nullptr; // P: one of the two above, or none
    // Sound.
    bool m_withAudio = false;
    bool m_convert = false;
    AudioFormat m_source{};
    AudioFormat m_target{};
    AudioConvState m_state{};
    uint32_t m_blockAlign = 0;
    std::vector<uint8_t> m_block; // up to one second, in the file's format
    size_t m_buffered = 0;
    uint32_t m_largest = kFirstLargestUnit;
    std::vector<uint8_t> m_pcm;
};

int32_t AviConversion::run(const char* pluginName, const char* fileName, const StrInfo& callerInfo)
{
    if (callerInfo.frameCount == 0)
        return PLB_CONV_NO_FRAMES;
    std::string why;
    const TamlibAviModule* module = aviModule(&why);
    std::filesystem::path path;
    if (!outputPath(m_settings.outputPath, path))
        return PLB_CONV_AVI_FILE;

    // The video header: length in frames of the settings' rate.
    m_scale = m_settings.frameRate > 800 ? 100 : 10;
    m_length = callerInfo.frameCount;
    if (callerInfo.kind & StrTimed)
        m_length = uint32_t(uint64_t(callerInfo.frameRate) * callerInfo.durationMs / 1000 / m_scale);

    ConversionStream stream(pluginName, fileName, callerInfo, LBR_WANT_VIDEO | LBR_WANT_AUDIO);
    if (!stream.isOpen())
        return PLB_CONV_NO_STREAM;
    m_stream = stream.get();
    const StrInfo& info = stream.info(); // as the plugin completed it

    // The stream's own sound format (decoded to 16 bits) and the file's.
    m_withAudio = m_settings.audio != 0;
    m_source = AudioFormat{info.sampleRate, info.channels, 16, kLevel, 0};
    m_target = AudioFormat{m_settings.sampleRate, m_settings.channels, m_settings.bitsPerSample, kLevel, 0};
    m_convert = m_source.sampleRate != m_target.sampleRate || m_source.channels != m_target.channels ||
                m_source.bitsPerSample != m_target.bitsPerSample;
    if (m_withAudio && m_convert)
        LbrConvAudioData(&m_state, 0, &m_source, nullptr, &m_target, nullptr);
    // A stream without a rate of its own runs at the rate asked for.
    m_rate = info.frameRate ? info.frameRate : m_settings.frameRate;
    m_increment = m_rate;
    m_lengthMs = info.durationMs;

    if (!module) {
        PlbDEBUG("avi: %s\n", why.c_str());
        return PLB_CONV_AVI_FILE;
    }
    AviOutput output(*module);
    m_output = &output;
    char videoName[PLB_STRING_MAX];
    char audioName[PLB_STRING_MAX];
    TamlibAviSetup setup{};
    setup.width = m_settings.width;
    setup.height = m_settings.height;
    setup.rate = m_settings.frameRate;
    setup.scale = m_scale;
    setup.compression = &m_settings.compression;
    setup.audio = m_withAudio ? 1 : 0;
    setup.sampleRate = m_settings.sampleRate;
    setup.channels = m_settings.channels;
    setup.bitsPerSample = m_settings.bitsPerSample;
    setup.videoName = PlbLoadString(nullptr, videoName, PLB_IDS_AVI_VIDEO);
    setup.audioName = PlbLoadString(nullptr, audioName, PLB_IDS_AVI_AUDIO);
    if (const int32_t result = output.open(path.string(), setup); result != PLB_CONV_OK) {
        PlbDEBUG("avi: %s: %s\n", path.c_str(), output.error());
        return result;
    }
    if (m_withAudio) {
        m_blockAlign = uint32_t(m_target.channels) * m_target.bitsPerSample / 8;
        m_block.resize(size_t(m_target.sampleRate) * m_blockAlign);
    }

    if (!m_progress.report(0, m_lengthMs))
        return PLB_CONV_OK;
    UnitBuffer buffer;
    PsrReadRecord* record = buffer.record();
    Flow flow = Flow::Go;
    while (flow == Flow::Go && LbrReadStream(m_stream, LBR_WANT_VIDEO | LBR_WANT_AUDIO, record) == 1) {
        if (!buffer.holdsPayload()) {
            PlbDEBUG("avi: a unit claims %u payload bytes, more than the read buffer holds\n",
                     record->payloadBytes);
            m_failure = PLB_CONV_NO_STREAM; // nothing after such a unit can be trusted
            flow = Flow::Fail;
        } else if (record->unitKind & UnitAudio) {
            flow = audio(*record);
        } else if (record->unitKind & UnitVideo) {
            flow = video(*record);
        }
        LbrFreeReadBuffer(m_stream, record);
    }
    if (flow == Flow::Go && !flushAudio())
        flow = Flow::Fail;
    while (flow == Flow::Go && m_picture && m_written < m_length)
        flow = writeFrame();
    if (flow == Flow::Cancel)
        return PLB_CONV_OK;
    if (flow == Flow::Fail || !m_progress.report(m_lengthMs, m_lengthMs)) {
        if (flow == Flow::Fail && m_failure == PLB_CONV_AVI_FILE)
            PlbDEBUG("avi: %s: %s\n", path.c_str(), output.error());
        return flow == Flow::Fail ? m_failure : PLB_CONV_OK;
    }
    if (!output.finish()) {
        PlbDEBUG("avi: %s: %s\n", path.c_str(), output.error());
        return PLB_CONV_AVI_FILE;
    }
    return PLB_CONV_OK;
}

AviConversion::Flow AviConversion::video(PsrReadRecord& record)
{
    if (record.unitKind == UnitVideoPluginOnly) {
        // Feeds the plugin's own decoder; its picture is not shown.
        LbrFreeBitmap(LbrDecodeFrame(m_stream, &record, 24, 0, nullptr));
        return Flow::Go;
    }
    ++m_seen;
    // Frames missing from the input repeat the last picture. A gap longer than the whole stream
    // is a damaged frame number, not missing frames, and is not filled.
    if (m_picture && record.frameNumber > m_seen && record.frameNumber - m_seen <= m_length) {
        for (; m_seen < record.frameNumber; ++m_seen) {
            m_input += m_rate;
            if (const Flow flow = writeDue(); flow != Flow::Go)
                return flow;
        }
    }
    m_input += m_rate;
    m_picture = nullptr;
    FrameDib* decoded = LbrDecodeFrame(m_stream, &record, 24, 0, m_decoded.release());
    m_decoded.reset(decoded);
    if (!decoded)
        return Flow::Go; // its time is in S: the next good frame fills it
    const int32_t size[2] = {int32_t(m_settings.width), int32_t(m_settings.height)};
    const FrameDib* picture = decoded;
    if (decoded->width != size[0] || decoded->height != size[1]) {
        // The file's frames have one size: a mode that scales nothing (0, unknown) gives the usual.
        const int32_t mode = m_settings.stretchMode >= 1 && m_settings.stretchMode <= 5 ? m_settings.stretchMode
                                                                                       : kUsualStretch;
        FrameDib* stretched = LbrStretchFrame(decoded, m_stretched.release(), mode, 0, size);
        if (stretched != decoded)
            m_stretched.reset(stretched);
        if (stretched->width != size[0] || stretched->height != size[1]) {
            PlbDEBUG("avi: frame %u cannot be scaled to %dx%d\n", record.frameNumber, size[0], size[1]);
            return Flow::Go;
        }
        picture = stretched;
    }
    m_picture = picture;
    m_increment = record.param ? record.param : m_rate;
    return writeDue();
}

AviConversion::Flow AviConversion::writeDue()
{
    while (m_outputTime < m_input) {
        if (const Flow flow = writeFrame(); flow != Flow::Go)
            return flow;
    }
    return report();
}

AviConversion::Flow AviConversion::writeFrame()
{
    if (!m_output->frame(m_picture))
        return Flow::Fail;
    m_outputTime += m_increment;
    ++m_written;
    return Flow::Go;
}

AviConversion::Flow AviConversion::report()
{
    // Frames are counted at the output rate, which can run past the stream's length in ms (the
    // last frame's own time, padding): the position stops at the length.
    uint64_t position = m_written * m_scale * 1000 / m_rate;
    if (m_lengthMs > 0)
        position = std::min<uint64_t>(position, m_lengthMs);
    return m_progress.report(uint32_t(std::min<uint64_t>(position, UINT32_MAX)), m_lengthMs) ? Flow::Go
                                                                                             : Flow::Cancel;
}

AviConversion::Flow AviConversion::audio(PsrReadRecord& record)
{
    if (!m_withAudio)
        return Flow::Go;
    const size_t capacity = kPcmReserve + size_t(record.payloadBytes) * kPcmPerPayloadByte;
    if (m_pcm.size() < capacity)
        m_pcm.resize(capacity);
    const int32_t decoded = LbrDecodeAudio(m_stream, &record, m_pcm.data(), int32_t(capacity));
    const uint32_t frameBytes = uint32_t(m_source.channels) * 2;
    if (decoded <= 0 || size_t(decoded) > capacity || frameBytes == 0 || uint32_t(decoded) % frameBytes != 0)
        return Flow::Go; // a unit that cannot be decoded is left out, as the sound tools do
    size_t room = size_t(decoded);
    if (m_convert)
        room = size_t(std::max(LbrConvAudioOutputBytes(&m_state, decoded, &m_source, &m_target), 0)) + 4;
    // Blocks of up to one second: written once the room left is below twice the largest unit.
    const size_t wanted = std::max<size_t>(size_t(m_largest) * 2, room);
    if (m_block.size() - m_buffered < wanted && !flushAudio())
        return Flow::Fail;
    if (m_block.size() - m_buffered < room)
        m_block.resize(m_buffered + room); // a unit above one second
    size_t bytes = size_t(decoded);
    if (m_convert)
        bytes = size_t(std::max(
            LbrConvAudioData(&m_state, decoded, &m_source, m_pcm.data(), &m_target, &m_block[m_buffered]),
            0));
    else
        std::memcpy(&m_block[m_buffered], m_pcm.data(), bytes);
    bytes -= bytes % m_blockAlign;
    m_buffered += bytes;
    m_largest = std::max(m_largest, uint32_t(bytes));
    return Flow::Go;
}

bool AviConversion::flushAudio()
{
    if (!m_withAudio || m_buffered == 0)
        return true;
    const bool ok = m_output->audio(m_block.data(), uint32_t(m_buffered));
    m_buffered = 0;
    return ok;
}

} // namespace

} // namespace tamlib::convert

PLB_API int32_t PlbConvertAVI(const char* pluginName, const char* fileName, const StrInfo* info,
                              const PlbAviSettings* settings, PlbProgressFn progress, void* user)
{
    return tamrin::guarded<int32_t>(PLB_CONV_AVI_FILE, [&]() -> int32_t {
        if (!info)
            return PLB_CONV_NO_STREAM;
        if (!settings)
            return info->frameCount == 0 ? PLB_CONV_NO_FRAMES : PLB_CONV_AVI_FILE;
        const tamlib::convert::Progress reporter(progress, user);
        tamlib::convert::AviConversion conversion(*settings, reporter);
        return conversion.run(pluginName, fileName, *info);
    });
}
