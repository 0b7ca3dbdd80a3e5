// Filmfile: plays movie files that hold a copy of a PlayStation disc movie stream.
//
// File layout:
//   0x00  4 bytes    "RIFF" (the only bytes of the header that are checked)
//   0x04  40 bytes   rest of the CD-XA RIFF header, skipped
//   0x2C + 2352 x n  raw sector n: sync, header, sub-header, data; MDEC video sectors and
//                    XA sound sectors interleaved in disc order. A trailing partial sector
//                    is ignored.
//
// Units: one whole video frame (MDEC data from its first header word on), or one XA sound
// sector's 2304 data bytes. Sound met while a frame is gathered is kept (two sectors at most)
// and handed out, as one unit, by the read after the frame. Decoding is left to the host.
#include <algorithm>
#include <cstring>
#include <new>

#include "sectorkit/plain_file.h"
#include "sectorkit/plugin_info.h"
#include "sectorkit/rate_guess.h"
#include "sectorkit/str_sector.h"
#include "streamkit/psr.h"
#include "tamrin_common/c_guard.h"

namespace {

using namespace sectorkit;

constexpr uint64_t kRiffHeaderBytes = 44;
constexpr uint32_t kMaxFrameSectors = 24;
constexpr uint32_t kMaxFramePayload = kMaxFrameSectors * kStrDataBytes;
constexpr uint32_t kAudioCacheBytes = 2 * kXaAudioDataBytes;
// A file whose first this-many sectors are all sound is not taken for a movie.
constexpr uint32_t kMaxLeadingAudioSectors = 32;
// The file description samples the file up to the first frame numbered above this.
constexpr uint32_t kSampledFrames = 30;

using Sector = uint8_t[kRawSectorBytes];

// The movie file as raw sectors after the RIFF header.
class MovieFile
{
  public:
    bool open(const char* name)
    {
        if (!m_file.open(name))
            return false;
        const uint64_t size = m_file.size();
        const uint64_t sectors = size < kRiffHeaderBytes ? 0 : (size - kRiffHeaderBytes) / kRawSectorBytes;
        m_sectorCount = uint32_t(std::min<uint64_t>(sectors, UINT32_MAX));
        return true;
    }

    uint32_t sectorCount() const { return m_sectorCount; }

    // True when all `length` bytes at `offset` arrived.
    bool readAt(uint64_t offset, uint8_t* buffer, size_t length) const
    {
        return m_file.readAt(offset, buffer, length);
    }

    bool readSector(uint32_t index, Sector& sector) const
    {
        return readAt(kRiffHeaderBytes + uint64_t(index) * kRawSectorBytes, sector, kRawSectorBytes);
    }

  private:
    PlainFile m_file;
    uint32_t m_sectorCount = 0;
};

struct FilmStream
{
    MovieFile file;
    uint32_t nextSector = 0; // sectors left = file.sectorCount() - nextSector
    uint32_t frameCount = 0; // from the StrInfo given at open
    uint16_t frameRate = 0;
    uint32_t pendingAudioBytes = 0;
    uint8_t audioCache[kAudioCacheBytes];
};

// XA sound sectors are told by their submode alone, with or without the end-of-file bit (the
// last sound sector of a stream carries it); every other sector counts as video.
bool isAudioSector(const Sector& sector)
{
    const auto sub = parseSubHeader(sector, kRawSectorBytes);
    return sub && isXaAudioSubmode(sub->submode);
}

// The file test on the first movie sector.
bool isMovieStart(const Sector& sector)
{
    const auto header = parseStrSectorHeader(sector, kRawSectorBytes);
    if (!header || header->magic == 0 || (header->magic & 1) != 0 || !(header->type & kStrTypeMovie) ||
        header->sectorsInFrame > kMaxFrameSectors)
        return false;
    const auto index = findMdecHeaderWord(sector, kRawSectorBytes);
    if (!index)
        return false;
    const size_t h = mdecHeaderWordOffset(*index);
    uint16_t scale = 0, version = 0;
    if (!readU16(sector, kRawSectorBytes, h + 2, scale) || !readU16(sector, kRawSectorBytes, h + 4, version))
        return false;
    if (version <= 3)
        return true;
    // The header form that carries the picture size in place of scale and version.
    return scale == header->width && version == header->height;
}

// What the start of a file tells about the whole.
struct Sample
{
    uint32_t videoSectors = 0;
    uint32_t audioSectors = 0;
    uint8_t audioCoding = 0;
    uint32_t frames = 0; // number of the last frame whose first sector was seen
    uint32_t width = 0;
    uint32_t height = 0;
};

Sample sampleFile(const MovieFile& file)
{
    Sample s;
    Sector sector;
    for (uint32_t i = 0; i < file.sectorCount() && file.readSector(i, sector); ++i) {
        const auto sub = parseSubHeader(sector, kRawSectorBytes);
        const auto header = parseStrSectorHeader(sector, kRawSectorBytes);
        if (!sub || !header)
            break;
        if (isXaAudioSubmode(sub->submode)) {
            ++s.audioSectors;
            s.audioCoding = sub->coding;
            continue;
        }
        if (header->magic != 0 && header->frameNumber > kSampledFrames)
            break;
        ++s.videoSectors;
        if (header->magic != 0 && header->sectorInFrame == 0 && header->frameNumber != 0) {
            s.width = header->width;
            s.height = header->height;
            s.frames = header->frameNumber;
        }
    }
    return s;
}

StrInfo describe(const Sample& s, uint32_t totalSectors)
{
    StrInfo info{};
    info.kind = StrVideo;
    info.width = s.width;
    info.height = s.height;
    const uint64_t frameCount = uint64_t(s.frames) * totalSectors / (s.videoSectors + s.audioSectors);
    info.frameCount = uint32_t(std::min<uint64_t>(frameCount, UINT32_MAX));
    const uint64_t bytesPerFrame = uint64_t(s.videoSectors) * kStrDataBytes / s.frames;
    info.frameRate = std::min(rateFromPictureSize(s.width, s.height), rateFromFrameBytes(bytesPerFrame));
    if (s.audioSectors != 0) {
        info.kind |= StrAudio;
        info.audioFormat = 1;
        info.bitsPerSample = 16;
        info.channels = xaChannels(s.audioCoding);
        info.sampleRate = xaSampleRate(s.audioCoding);
        const uint32_t audioMs = xaAudioMs(s.audioSectors, info.sampleRate, info.channels);
        info.frameRate = reconcileRateWithSound(info.frameRate, s.frames, audioMs);
    }
    const uint64_t durationMs = uint64_t(info.frameCount) * 10000 / info.frameRate;
    info.durationMs = uint32_t(std::min<uint64_t>(durationMs, UINT32_MAX));
    return info;
}

int32_t handOutPendingAudio(FilmStream& stream, PsrReadRecord* record)
{
    std::memcpy(record->payload, stream.audioCache, stream.pendingAudioBytes);
    record->payloadBytes = stream.pendingAudioBytes;
    stream.pendingAudioBytes = 0;
    return 1;
}

void clearHeader(PsrReadRecord* record)
{
    std::memset(record, 0, PSR_READ_HEADER_BYTES);
}

// Gathers one frame or hands out one sound sector. The frame being gathered lives in the
// record itself: its header is set by the frame's first sector, its payload grows per sector.
int32_t readUnit(FilmStream& stream, PsrReadRecord* record)
{
    clearHeader(record);
    if (stream.pendingAudioBytes != 0)
        return handOutPendingAudio(stream, record);

    uint32_t expectedBytes = 0; // frame data still to copy; never more than room is left
    Sector sector;
    while (stream.nextSector < stream.file.sectorCount()) {
        if (!stream.file.readSector(stream.nextSector, sector))
            return 0;
        ++stream.nextSector;

        if (isAudioSector(sector)) {
            if (record->frameNumber == 0) {
                std::memcpy(record->payload, sector + kXaAudioDataOffset, kXaAudioDataBytes);
                record->payloadBytes = kXaAudioDataBytes;
                return 1;
            }
            if (stream.pendingAudioBytes < kAudioCacheBytes) {
                std::memcpy(stream.audioCache + stream.pendingAudioBytes, sector + kXaAudioDataOffset,
                            kXaAudioDataBytes);
                stream.pendingAudioBytes += kXaAudioDataBytes;
            }
            continue;
        }

        const auto header = parseStrSectorHeader(sector, kRawSectorBytes);
        if (!header)
            return 0;
        if (record->frameNumber != 0 && header->frameNumber != record->frameNumber) {
            // The frame was cut off by a sector of another frame: it is lost, and so is this
            // sector; the other frame's later sectors end in an empty unit.
            clearHeader(record);
            expectedBytes = 0;
            if (stream.pendingAudioBytes != 0)
                return handOutPendingAudio(stream, record);
            continue;
        }
        if (header->magic == 0 || header->frameNumber == 0)
            continue;

        size_t skip = 0; // data bytes before the MDEC header's first word
        if (header->sectorInFrame == 0) {
            record->frameNumber = header->frameNumber;
            record->width = header->width;
            record->height = header->height;
            record->payloadBytes = 0;
            expectedBytes = std::min(header->frameBytes, kMaxFramePayload);
            skip = 2 * size_t(findMdecHeaderWord(sector, kRawSectorBytes).value_or(kMdecSearchWords));
        }
        if (expectedBytes != 0) {
            const uint32_t bytes = std::min(expectedBytes, uint32_t(kStrDataBytes - skip));
            std::memcpy(record->payload + record->payloadBytes, sector + kStrDataOffset + skip, bytes);
            record->payloadBytes += bytes;
            expectedBytes -= bytes;
        }
        if (uint32_t(header->sectorInFrame) + 1 == header->sectorsInFrame)
            return 1;
    }
    return 0;
}

} // namespace

PSR_EXPORT int32_t PsrQueryPlugin(PsrPluginInfo* info)
{
    return tamrin::guarded<int32_t>(
        0, [&]() -> int32_t { return sectorkit::describePlugin(info, "STR file", 124, 0, MediaFiles); });
}

PSR_EXPORT int32_t PsrIsSupportFile(const char* fileName)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        MovieFile file;
        if (!file.open(fileName))
            return 0;
        uint8_t riff[kRiffHeaderBytes];
        if (!file.readAt(0, riff, sizeof riff) || std::memcmp(riff, "RIFF", 4) != 0)
            return 0;
        // Encoder-made movies may open with sound: skip up to 31 sound sectors, test the next sector.
        Sector sector;
        for (uint32_t i = 0;; ++i) {
            if (i == kMaxLeadingAudioSectors || !file.readSector(i, sector))
                return 0;
            if (!isAudioSector(sector))
                break;
        }
        return isMovieStart(sector) ? 1 : 0;
    });
}

PSR_EXPORT int32_t PsrGetStrFileInfo(const char* fileName, StrInfo* info)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        if (!info)
            return 0;
        MovieFile file;
        if (!file.open(fileName))
            return 0;
        const Sample sample = sampleFile(file);
        if (sample.videoSectors == 0 || sample.frames == 0)
            return 0;
        *info = describe(sample, file.sectorCount());
        return 1;
    });
}

PSR_EXPORT void* PsrOpenFile(const char* fileName, StrInfo* info)
{
    return tamrin::guarded<void*>(nullptr, [&]() -> void* {
        auto* stream = new (std::nothrow) FilmStream;
        if (!stream)
            return nullptr;
        if (!stream->file.open(fileName)) {
            delete stream;
            return nullptr;
        }
        if (info) {
            stream->frameCount = info->frameCount;
            stream->frameRate = info->frameRate;
        }
        return stream;
    });
}

PSR_EXPORT int32_t PsrRead(void* handle, PsrReadRecord* record)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        if (!handle || !record)
            return 0;
        return readUnit(*static_cast<FilmStream*>(handle), record);
    });
}

PSR_EXPORT int32_t PsrSeek(void* handle, uint32_t positionMs)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        if (!handle)
            return 0;
        auto& stream = *static_cast<FilmStream*>(handle);
        if (stream.frameCount == 0 || stream.frameRate == 0)
            return 0;
        const uint64_t total = stream.file.sectorCount();
        const uint64_t frame = uint64_t(positionMs) * stream.frameRate / 10000;
        const uint64_t sector = frame * total / stream.frameCount;
        stream.nextSector = uint32_t(std::min(sector, total));
        stream.pendingAudioBytes = 0;
        return 1;
    });
}

PSR_EXPORT int32_t PsrClose(void* handle)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        if (!handle)
            return 0;
        delete static_cast<FilmStream*>(handle);
        return 1;
    });
}
