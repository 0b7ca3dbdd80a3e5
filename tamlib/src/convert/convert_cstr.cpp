// Compact movie output: PlbConvertCSTR repacks a movie stream into a .cstr file, the layout the
// Packfilm plugin reads (documented at the top of plugins/packfilm/packfilm.cpp). Every unit the
// stream delivers is stored with its record header, followed by the index of frame end times and
// unit offsets; a stream that already is a compact movie file is copied as it is.
//
// The file depends only on the stream: no time stamps, every reserved byte zero, so two runs give
// the same bytes. It is written under a hidden name and takes its name on success only.
//
// Results: 0 success or cancel; 1 out of memory; 2 the stream cannot be opened, or a unit overran
// the read buffer or is damaged (an owned unit without its block); 10 the file cannot be created
// or written, a unit cannot be stored in the format (a payload above 65535 bytes, a picture side
// above 65535, the file past 4 GiB, a decoder plugin name longer than 18 characters), or, when
// copying, the output exists.
#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <new>
#include <numeric>
#include <string>
#include <vector>

#include "convert/chunked_output.h"
#include "convert/conversion.h"
#include "tamlib/convert.h"
#include "tamlib/unit_buffer.h"
#include "tamrin_common/c_guard.h"
#include "tamrin_common/output_file.h"

namespace tamlib::convert {

namespace {

constexpr uint32_t kMagic = 0x04B70CC2;
constexpr uint8_t kVersionPlain = 2;
constexpr uint8_t kVersionKinds = 3; // some unit stores its kind and flags
constexpr size_t kHeaderBytes = 84;
constexpr size_t kExtensionBytes = 32;
constexpr size_t kDataOffset = kHeaderBytes + kExtensionBytes;
constexpr size_t kDecoderNameBytes = 19;
constexpr size_t kStreamInfoBytes = 44;
constexpr uint16_t kIndexTyped = 0x0001;
constexpr uint16_t kHasParam = 0x0001, kHasWidth = 0x0002, kHasHeight = 0x0004, kHasKindFlags = 0x0008;
constexpr uint32_t kMaxField = 0xFFFF;
constexpr uint64_t kMaxFileBytes = 0xFFFFFFFFull; // offsets and sizes are u32
constexpr size_t kWriteChunk = size_t(256) << 10;
// The index grows with the frames actually written; a description's frame count only sizes the
// first reservation, so a hostile count cannot make it allocate.
constexpr size_t kIndexReserveLimit = size_t(1) << 16;
// Rates of frames that differ from the stream's are brought to their least common multiple;
// past this the time goes on in the current unit, rounded, rather than growing without end.
constexpr uint64_t kMaxCommonRate = uint64_t(1) << 24;
constexpr size_t kAudioScratchMin = 10000;

constexpr int32_t kNoMemory = PLB_CONV_NO_MEMORY;
constexpr int32_t kFileFailed = PLB_CONV_CSTR_FILE;

void put16(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

bool isVideo(const PsrReadRecord& r)
{
    return (r.unitKind & 0xF0) == UnitVideo;
}

struct IndexEntry
{
    uint8_t kind;
    uint32_t endMs;
    uint32_t offset;
};

// Frame times: `a` frames counted at rate r (tenths, or hundredths above 800, of a frame per
// second), so that frames of their own rate add exact fractions.
class FrameClock
{
  public:
    explicit FrameClock(uint16_t frameRate)
        : m_rate(frameRate < 2 ? 1 : frameRate), m_scale(m_rate > 800 ? 100 : 10), m_streamRate(frameRate)
    {
    }

    // Adds one frame of rate `own` (0: the stream's).
    void addFrame(uint16_t own)
    {
        uint64_t f = own != 0 ? own : m_streamRate;
        if (f == 0)
            f = m_rate;
        if (f != m_rate) {
            const uint64_t common = std::lcm(m_rate, f);
            if (common <= kMaxCommonRate) {
                m_count *= common / m_rate;
                m_rate = common;
            }
        }
        m_count += (m_rate + f / 2) / f; // exact whenever f divides the rate
    }

    // The end of the frames so far in ms.
    uint32_t ms() const
    {
        const unsigned __int128 t = (unsigned __int128)m_count * m_scale * 1000 / m_rate;
        return t > UINT32_MAX ? UINT32_MAX : uint32_t(t);
    }

  private:
    uint64_t m_rate;
    uint64_t m_scale;
    uint16_t m_streamRate;
    uint64_t m_count = 0;
};

// The file under way, written in large pieces, never past the reach of its u32 offsets.
class PackWriter
{
  public:
    bool create(const std::filesystem::path& target) { return m_out.create(target); }
    bool add(const void* bytes, size_t length)
    {
        if (m_position + length > kMaxFileBytes)
            return false;
        m_position += length;
        return m_out.append(bytes, length);
    }
    bool writeAt(uint64_t offset, const void* bytes, size_t length) { return m_out.writeAt(offset, bytes, length); }
    bool commit() { return m_out.commit(); }
    uint64_t position() const { return m_position; }

  private:
    ChunkedOutput m_out;
    uint64_t m_position = 0;
};

// Whether a plugin's frames or sound need its own decoding exports.
bool hasDecodingHooks(PluginBinding* binding, uint32_t caps)
{
    if (caps & (CapDecodeFrame | CapDecodeAudio | CapDecodeBs))
        return true;
    void* module = LbrGetPluginInst(binding);
    return module && dlsym(module, "PsrFrameDecoder") && dlsym(module, "PsrOpenFrameDecoder");
}

std::string upperCase(std::string text)
{
    for (char& c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

class CstrConversion
{
  public:
    CstrConversion(const ConversionStream& stream, const Progress& progress)
        : m_stream(stream), m_info(stream.info()), m_progress(progress), m_clock(m_info.frameRate)
    {
    }

    int32_t run(const std::filesystem::path& target, const char* decoderName, bool pluginDecodesAudio)
    {
        m_pluginDecodesAudio = pluginDecodesAudio;
        std::memcpy(m_decoder, decoderName, std::min(std::strlen(decoderName), kDecoderNameBytes - 1));
        m_index.reserve(std::min<size_t>(m_info.frameCount, kIndexReserveLimit));
        if (!m_out.create(target))
            return kFileFailed;
        uint8_t header[kDataOffset] = {};
        if (!m_out.add(header, sizeof header))
            return kFileFailed;
        const uint32_t length = m_info.durationMs;
        if (!m_progress.report(0, length))
            return PLB_CONV_OK;

        UnitBuffer buffer;
        PsrReadRecord* record = buffer.record();
        while (LbrReadStream(m_stream.get(), LBR_WANT_VIDEO | LBR_WANT_AUDIO, record) == 1) {
            if (!buffer.holdsPayload())
                return PLB_CONV_NO_STREAM;
            const int32_t result = store(*record);
            LbrFreeReadBuffer(m_stream.get(), record);
            if (result != PLB_CONV_OK)
                return result;
            const uint32_t at = isVideo(*record) ? m_clock.ms() : m_index.empty() ? audioMs() : 0;
            if (at != 0 && !m_progress.report(at, length))
                return PLB_CONV_OK;
        }
        if (!finish())
            return kFileFailed;
        if (!m_progress.report(m_info.durationMs, m_info.durationMs))
            return PLB_CONV_OK;
        return m_out.commit() ? PLB_CONV_OK : kFileFailed;
    }

  private:
    uint32_t audioMs() const
    {
        const uint32_t hundreds = m_info.sampleRate / 100;
        if (hundreds == 0)
            return 0;
        return uint32_t(std::min<uint64_t>(m_samples * 10 / hundreds, UINT32_MAX));
    }

    int32_t store(const PsrReadRecord& r)
    {
        const bool video = isVideo(r);
        const bool owned = (r.unitFlags & UnitOwned) != 0;
        if (owned && (r.payloadBytes < PSR_OWNED_REF_BYTES ||
                      (PsrOwnedBlockSize(&r) != 0 && PsrOwnedBlock(&r) == nullptr)))
            return PLB_CONV_NO_STREAM;
        const size_t rest = owned ? r.payloadBytes - PSR_OWNED_REF_BYTES : 0;
        const size_t stored = owned ? 4 + rest : r.payloadBytes;
        if (stored > kMaxField || (video && (r.width > kMaxField || r.height > kMaxField)))
            return kFileFailed;

        if (video) {
            if (m_current == m_index.size())
                m_index.push_back(IndexEntry{0, 0, uint32_t(m_out.position())});
            if (r.unitKind != UnitVideoPluginOnly) {
                m_clock.addFrame(r.param);
                IndexEntry& entry = m_index[m_current++];
                entry.endMs = m_clock.ms();
                entry.kind = r.unitKind;
                if (r.unitKind != UnitVideo)
                    m_indexFlags |= kIndexTyped;
            }
        } else {
            countSamples(r);
        }

        // The reader tells frames from sound by the frame number unless the kind is stored.
        const uint16_t frameNumber = uint16_t(r.frameNumber);
        const bool kindInferred = (frameNumber != 0) == video;
        uint16_t mask = 0;
        uint8_t fields[8];
        size_t n = 0;
        auto field = [&](uint16_t bit, uint32_t value) {
            mask |= bit;
            put16(fields + 2 * n++, value);
        };
        if (video && r.param != 0 && r.param != m_info.frameRate)
            field(kHasParam, r.param);
        if (video && r.width != m_info.width)
            field(kHasWidth, r.width);
        if (video && r.height != m_info.height)
            field(kHasHeight, r.height);
        const bool plainKind = r.unitKind == 0 || r.unitKind == UnitVideo || r.unitKind == UnitAudio;
        if (!plainKind || r.unitFlags != 0 || !kindInferred) {
            field(kHasKindFlags, uint32_t(r.unitKind) << 8 | r.unitFlags);
            m_version = kVersionKinds;
        }

        uint8_t head[6];
        put16(head, frameNumber);
        put16(head + 2, uint32_t(stored));
        put16(head + 4, mask);
        bool ok = m_out.add(head, sizeof head) && m_out.add(fields, 2 * n);
        if (!owned) {
            ok = ok && m_out.add(r.payload, r.payloadBytes);
        } else {
            const uint32_t blockSize = PsrOwnedBlockSize(&r);
            uint8_t size[4];
            put32(size, blockSize);
            ok = ok && m_out.add(size, 4) && m_out.add(r.payload + PSR_OWNED_REF_BYTES, rest) &&
                 m_out.add(PsrOwnedBlock(&r), blockSize);
        }
        return ok ? PLB_CONV_OK : kFileFailed;
    }

    // The host's ADPCM (XA, SPU) and PCM decoders give a number of bytes that depends on the
    // unit's kind and size alone: once a kind and size has been decoded, its count is known.
    static bool sizeDecidesOutput(uint8_t kind)
    {
        return kind == UnitAudio || (kind > UnitAudio && kind <= 0x3F && kind != 0x2F) ||
               (kind >= 0x60 && kind <= 0x7F);
    }

    int32_t decodedBytes(const PsrReadRecord& r)
    {
        const bool memo = !m_pluginDecodesAudio && sizeDecidesOutput(r.unitKind);
        const uint64_t key = uint64_t(r.unitKind) << 32 | r.payloadBytes;
        if (memo && m_lastDecoded.valid && m_lastDecoded.key == key)
            return m_lastDecoded.bytes;
        // Every sound coding of the host gives at most 4 bytes of PCM for each byte it reads.
        const size_t room = std::max<size_t>(kAudioScratchMin, size_t(r.payloadBytes) * 4 + 4096);
        if (m_scratch.size() < room)
            m_scratch.resize(room);
        auto* record = const_cast<PsrReadRecord*>(&r);
        const int32_t bytes = LbrDecodeAudio(m_stream.get(), record, m_scratch.data(),
                                             int32_t(std::min<size_t>(room, INT32_MAX)));
        if (memo)
            m_lastDecoded = {true, key, bytes};
        return bytes;
    }

    void countSamples(const PsrReadRecord& r)
    {
        const uint32_t frameBytes = uint32_t(m_info.bitsPerSample / 8) * m_info.channels;
        const int32_t bytes = decodedBytes(r);
        if (bytes > 0 && frameBytes != 0)
            m_samples += uint32_t(bytes) / frameBytes;
        if (m_audioUnits < kMaxField)
            ++m_audioUnits;
    }

    bool finish()
    {
        if (m_current < m_index.size())
            m_index.pop_back(); // units for the plugin's decoder with no frame after them
        const uint64_t indexOffset = m_index.empty() ? 0 : m_out.position();
        const uint64_t unitArea = m_out.position() - kDataOffset;
        const bool timed = (m_info.kind & StrTimed) != 0;
        for (const IndexEntry& e : m_index) {
            uint8_t bytes[9];
            size_t n = 0;
            if (m_indexFlags & kIndexTyped)
                bytes[n++] = e.kind;
            if (timed) {
                put32(bytes + n, e.endMs);
                n += 4;
            }
            put32(bytes + n, e.offset);
            n += 4;
            if (!m_out.add(bytes, n))
                return false;
        }
        const uint64_t indexBytes = m_index.empty() ? 0 : m_out.position() - indexOffset;

        StrInfo info = m_info;
        info.startSector = 0;
        info.sectorCount = 0;
        info.durationMs = std::max(m_clock.ms(), m_samples != 0 ? audioMs() : 0u);
        info.frameCount = uint32_t(m_index.size());
        info.dataBytes = uint32_t(m_out.position());
        m_info.durationMs = info.durationMs;

        uint8_t header[kDataOffset] = {};
        put32(header, kMagic);
        header[4] = m_version;
        std::memcpy(header + 5, m_decoder, kDecoderNameBytes);
        std::memcpy(header + 0x18, &info, kStreamInfoBytes);
        put32(header + 0x44, uint32_t(kDataOffset));
        put32(header + 0x48, uint32_t(unitArea));
        put32(header + 0x4C, uint32_t(indexOffset));
        put32(header + 0x50, uint32_t(indexBytes));
        uint8_t* ext = header + kHeaderBytes;
        put32(ext, uint32_t(std::min<uint64_t>(m_samples, UINT32_MAX)));
        put16(ext + 4, m_audioUnits);
        put16(ext + 6, m_indexFlags);
        put32(ext + 8, m_info.outWidth);
        put32(ext + 12, m_info.outHeight);
        return m_out.writeAt(0, header, sizeof header);
    }

    const ConversionStream& m_stream;
    StrInfo m_info;
    const Progress& m_progress;
    FrameClock m_clock;
    PackWriter m_out;
    char m_decoder[kDecoderNameBytes] = {};
    std::vector<IndexEntry> m_index;
    size_t m_current = 0; // the entry the next frame fills
    uint16_t m_indexFlags = 0;
    uint8_t m_version = kVersionPlain;
    uint64_t m_samples = 0;
    uint32_t m_audioUnits = 0;
    std::vector<uint8_t> m_scratch;
    bool m_pluginDecodesAudio = false;
    struct
    {
        bool valid = false;
        uint64_t key = 0;
        int32_t bytes = 0;
    } m_lastDecoded;
};

// A source that is already a compact movie file is copied byte for byte; an existing output is
// never replaced by the copy.
int32_t copyCompactMovie(const char* source, const std::filesystem::path& target, uint32_t length,
                         const Progress& progress)
{
    if (!source)
        return PLB_CONV_NO_STREAM;
    if (!progress.report(0, length))
        return PLB_CONV_OK;
    std::error_code error;
    if (std::filesystem::exists(target, error) || error)
        return kFileFailed;
    std::ifstream in(source, std::ios::binary);
    PackWriter out;
    if (!in || !out.create(target))
        return kFileFailed;
    std::vector<char> chunk(kWriteChunk);
    while (in) {
        in.read(chunk.data(), std::streamsize(chunk.size()));
        const auto got = size_t(in.gcount());
        if (got != 0 && !out.add(chunk.data(), got))
            return kFileFailed;
    }
    if (in.bad())
        return kFileFailed;
    if (!progress.report(length, length))
        return PLB_CONV_OK;
    if (std::filesystem::exists(target, error) || error)
        return kFileFailed;
    return out.commit() ? PLB_CONV_OK : kFileFailed;
}

int32_t convertCstr(const char* pluginName, const char* fileName, const StrInfo* info,
                    const PlbCstrSettings* settings, PlbProgressFn progressFn, void* user)
{
    if (!info)
        return PLB_CONV_NO_STREAM;
    const Progress progress(progressFn, user);
    const ConversionStream stream(pluginName, fileName, *info, LBR_WANT_VIDEO | LBR_WANT_AUDIO);
    if (!stream.isOpen())
        return PLB_CONV_NO_STREAM;
    std::filesystem::path target;
    if (!settings || !outputPath(settings->outputPath, target))
        return kFileFailed;
    PluginBinding* binding = LbrGetPluginHandle(stream.get());
    char name[PSR_PATH_MAX] = {};
    const uint32_t caps = LbrGetPlugin(binding, nullptr, name);
    if (upperCase(name) == "PACKFILM.PSR")
        return copyCompactMovie(fileName, target, stream.info().durationMs, progress);

    const bool needsDecoder = hasDecodingHooks(binding, caps);
    if (needsDecoder && std::strlen(name) >= kDecoderNameBytes)
        return kFileFailed;
    CstrConversion conversion(stream, progress);
    return conversion.run(target, needsDecoder ? name : "", (caps & CapDecodeAudio) != 0);
}

} // namespace

} // namespace tamlib::convert

PLB_API int32_t PlbConvertCSTR(const char* pluginName, const char* fileName, const StrInfo* info,
                               const PlbCstrSettings* settings, PlbProgressFn progress, void* user)
{
    using namespace tamlib::convert;
    return tamrin::guarded<int32_t>(kFileFailed, [&] {
        try {
            return convertCstr(pluginName, fileName, info, settings, progress, user);
        } catch (const std::bad_alloc&) {
            return kNoMemory;
        }
    });
}
