// Opening, reading, seeking and closing the streams of the disc movie engine (disc_movie.h).
#include <cstring>
#include <memory>

#include "sectorkit/disc_movie.h"
#include "sectorkit/frame_assembly.h"
#include "sectorkit/rate_guess.h"
#include "sectorkit/sector_stream.h"

namespace sectorkit {

namespace {

constexpr int32_t kStreamSpeed = 8;

struct Stream
{
    explicit Stream(const DiscMovieRules& r) : rules(r) {}

    const DiscMovieRules& rules;
    SectorStream sectors; // holds the sound met inside a frame (up to eight sectors)
    StrInfo info{};
    uint32_t audioStride = 0;
    // Sound of the stream: the key of its first sound sector; sound sectors of other channels
    // are passed over.
    SoundKey soundKey = 0;
    bool haveSoundKey = false;

    bool isOwnSound(const uint8_t* sector) const
    {
        return !haveSoundKey || sectorkit::soundKey(sector) == soundKey;
    }
};

// Finds the stream's sound stride (distance of its first two sound sectors, counted from 1 at
// the first sector) and sound key, then goes back to the start.
void findSoundStride(Stream& stream)
{
    uint32_t ordinal = 0, first = 0;
    while (const uint8_t* sector = stream.sectors.next()) {
        ++ordinal;
        const bool sound = hasSoundBits(submodeOf(sector));
        const SoundKey key = soundKey(sector);
        stream.sectors.release(sector);
        if (!sound || (stream.haveSoundKey && key != stream.soundKey))
            continue;
        if (first == 0) {
            first = ordinal;
            stream.soundKey = key;
            stream.haveSoundKey = true;
            continue;
        }
        stream.audioStride = ordinal - first;
        break;
    }
    if (stream.audioStride == 0)
        stream.audioStride = first;
    stream.sectors.seek(0);
}

int32_t readUnit(Stream& stream, PsrReadRecord* record)
{
    std::memset(record, 0, PSR_READ_HEADER_BYTES);
    if (stream.sectors.anyHeld()) {
        deliverHeldSound(stream.sectors, record, kDiscMovieMaxPayload);
        return 1;
    }
    FrameAssembly frame;
    while (const uint8_t* sector = stream.sectors.next()) {
        MovieSector movie;
        switch (stream.rules.readClassify(sector, movie)) {
        case MovieSectorClass::Sound:
            if (!stream.isOwnSound(sector))
                break;
            if (!frame.started()) {
                std::memset(record, 0, PSR_READ_HEADER_BYTES);
                appendSound(record, sector, kDiscMovieMaxPayload);
                stream.sectors.release(sector);
                return 1;
            }
            stream.sectors.hold(sector); // lost when eight are held already
            continue;
        case MovieSectorClass::Movie: {
            const uint32_t position = movie.sectorInFrame == 0 ? stream.rules.framePosition(sector) : 0;
            if (frame.add(record, sector, movie, kDiscMovieMaxPayload, position)) {
                if (stream.info.kind & StrTimed)
                    record->param = rateFromSizeAndSectors(record->width, record->height,
                                                           movie.sectorsInFrame - 1u, movie.sectorsInFrame);
                stream.sectors.release(sector);
                return 1;
            }
            break;
        }
        case MovieSectorClass::Blank:
            break;
        default:
            std::memset(record, 0, PSR_READ_HEADER_BYTES);
            frame.reset();
            if (stream.sectors.anyHeld()) {
                stream.sectors.release(sector);
                deliverHeldSound(stream.sectors, record, kDiscMovieMaxPayload);
                return 1;
            }
            break;
        }
        stream.sectors.release(sector);
    }
    record->payloadBytes = 0; // a partial frame is dropped
    return 0;
}

int32_t seekStream(Stream& stream, uint32_t positionMs)
{
    const StrInfo& info = stream.info;
    double sector = 0;
    if ((info.kind & StrAudio) && stream.audioStride != 0 && info.channels != 0) {
        sector = double(info.sampleRate / 100) * (double(stream.audioStride) * positionMs) /
                 (40320.0 / info.channels);
    } else if (info.frameCount != 0) {
        sector = double(uint64_t(positionMs) * info.frameRate / 10000 * info.sectorCount / info.frameCount);
    }
    const uint64_t target = sector >= double(info.sectorCount) ? info.sectorCount : uint64_t(sector);
    return stream.sectors.seek(target) ? 1 : 0;
}

} // namespace

void* discMovieOpen(const DiscMovieRules& rules, int32_t drive, const StrInfo* info)
{
    if (!info)
        return nullptr;
    auto stream = std::make_unique<Stream>(rules);
    if (!stream->sectors.open(drive, info->startSector, info->sectorCount, kStreamSpeed))
        return nullptr;
    stream->info = *info;
    if (info->kind & StrAudio)
        findSoundStride(*stream);
    return stream.release();
}

int32_t discMovieRead(void* handle, PsrReadRecord* record)
{
    auto* stream = static_cast<Stream*>(handle);
    return stream && record ? readUnit(*stream, record) : 0;
}

int32_t discMovieSeek(void* handle, uint32_t positionMs)
{
    auto* stream = static_cast<Stream*>(handle);
    return stream ? seekStream(*stream, positionMs) : 0;
}

int32_t discMovieClose(void* handle)
{
    auto* stream = static_cast<Stream*>(handle);
    if (!stream)
        return 0;
    delete stream; // releases the held sectors and closes the reader
    return 1;
}

} // namespace sectorkit
