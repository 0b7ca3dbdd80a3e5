#include "disc_image.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "edc_ecc.h"

namespace discport::image {
namespace {

bool readFully(int descriptor, uint8_t* out, size_t size, uint64_t offset)
{
    while (size > 0) {
        const ssize_t got = ::pread(descriptor, out, size, off_t(offset));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (got == 0)
            return false; // the file became shorter than when it was opened
        out += got;
        size -= size_t(got);
        offset += uint64_t(got);
    }
    return true;
}

bool isMode1(TrackMode mode)
{
    return mode == TrackMode::Mode1_2048 || mode == TrackMode::Mode1_2352;
}

// An unstored sector of a pregap or postgap: silence, or an empty data sector of the track's mode
// (Mode 2 as Form 1 with a zero sub-header).
void synthesiseEmpty(TrackMode mode, uint32_t lba, uint8_t* raw)
{
    std::memset(raw, 0, kRawSectorSize);
    if (mode == TrackMode::Audio)
        return;
    if (isMode1(mode))
        completeMode1Sector(raw, lba);
    else
        completeMode2Sector(raw, lba);
}

// Scratch for user-data reads of raw sectors, one per thread.
constexpr uint32_t kScratchSectors = 16;
uint8_t* scratch()
{
    thread_local std::vector<uint8_t> buffer(kScratchSectors * kRawSectorSize);
    return buffer.data();
}

} // namespace

SectorKind sectorKind(const uint8_t* raw, bool audio)
{
    if (audio)
        return SectorKind::Audio;
    switch (raw[15]) {
    case 1:
        return SectorKind::Mode1;
    case 2:
        return (raw[18] & 0x20) ? SectorKind::Mode2Form2 : SectorKind::Mode2Form1;
    default:
        return SectorKind::Mode0;
    }
}

ImageFiles::~ImageFiles()
{
    for (int descriptor : m_descriptors)
        ::close(descriptor);
}

bool ImageFiles::open(const std::string& path, uint64_t& size, std::string& error)
{
    // O_NONBLOCK: opening a FIFO or a device must not wait; only regular files are kept.
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat status;
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(descriptor);
        error = path + " is not a regular file";
        return false;
    }
    size = uint64_t(status.st_size);
    m_descriptors.push_back(descriptor);
    return true;
}

DiscImage::DiscImage(std::unique_ptr<ImageFiles> files, std::vector<ImageArea> areas,
                     std::vector<ImageTrack> tracks, std::string catalog)
    : m_files(std::move(files)), m_areas(std::move(areas)), m_tracks(std::move(tracks)),
      m_catalog(std::move(catalog))
{
    if (!m_areas.empty())
        m_sectorCount = m_areas.back().start + m_areas.back().count;
}

const ImageTrack* DiscImage::trackAt(uint32_t lba) const
{
    auto after =
        std::upper_bound(m_tracks.begin(), m_tracks.end(), lba,
                         [](uint32_t value, const ImageTrack& track) { return value < track.pregapStart; });
    if (after == m_tracks.begin())
        return nullptr;
    const ImageTrack& track = *(after - 1);
    return lba < track.end ? &track : nullptr;
}

const ImageArea* DiscImage::areaAt(uint32_t lba) const
{
    auto after = std::upper_bound(m_areas.begin(), m_areas.end(), lba,
                                  [](uint32_t value, const ImageArea& area) { return value < area.start; });
    if (after == m_areas.begin())
        return nullptr;
    const ImageArea& area = *(after - 1);
    return lba - area.start < area.count ? &area : nullptr;
}

bool DiscImage::readStored(const ImageArea& area, uint32_t first, uint32_t count, size_t stride, size_t at,
                           uint8_t* out) const
{
    const uint32_t size = storedSectorSize(area.mode);
    const int descriptor = m_files->descriptor(area.file);
    const uint64_t offset = area.offset + uint64_t(first - area.start) * size;
    if (stride == size && at == 0)
        return readFully(descriptor, out, size_t(count) * size, offset);
    for (uint32_t i = 0; i < count; ++i)
        if (!readFully(descriptor, out + i * stride + at, size, offset + uint64_t(i) * size))
            return false;
    return true;
}

bool DiscImage::readRaw(uint32_t lba, uint32_t count, uint8_t* out) const
{
    while (count > 0) {
        const ImageArea* area = areaAt(lba);
        if (!area)
            return false;
        const uint32_t n = std::min(count, area->start + area->count - lba);
        if (area->file < 0) {
            for (uint32_t i = 0; i < n; ++i)
                synthesiseEmpty(area->mode, lba + i, out + i * kRawSectorSize);
        } else {
            switch (area->mode) {
            case TrackMode::Audio:
            case TrackMode::Mode1_2352:
            case TrackMode::Mode2_2352:
                if (!readStored(*area, lba, n, kRawSectorSize, 0, out))
                    return false;
                if (area->swapAudio && area->mode == TrackMode::Audio)
                    for (size_t i = 0; i + 1 < size_t(n) * kRawSectorSize; i += 2)
                        std::swap(out[i], out[i + 1]);
                break;
            case TrackMode::Mode1_2048:
                if (!readStored(*area, lba, n, kRawSectorSize, 16, out))
                    return false;
                for (uint32_t i = 0; i < n; ++i)
                    completeMode1Sector(out + i * kRawSectorSize, lba + i);
                break;
            case TrackMode::Mode2_2336:
                if (!readStored(*area, lba, n, kRawSectorSize, 16, out))
                    return false;
                for (uint32_t i = 0; i < n; ++i)
                    writeSyncAndHeader(out + i * kRawSectorSize, lba + i, 2);
                break;
            }
        }
        lba += n;
        count -= n;
        out += size_t(n) * kRawSectorSize;
    }
    return true;
}

ReadResult DiscImage::readUserData(uint32_t lba, uint32_t count, uint8_t* out) const
{
    while (count > 0) {
        const ImageArea* area = areaAt(lba);
        if (!area)
            return ReadResult::Failed;
        const uint32_t n = std::min(count, area->start + area->count - lba);
        if (area->mode == TrackMode::Audio)
            return ReadResult::WrongKind;
        if (area->file < 0) {
            std::memset(out, 0, size_t(n) * kUserDataSize); // empty Mode 1 or Mode 2 Form 1 sectors
        } else if (area->mode == TrackMode::Mode1_2048) {
            if (!readStored(*area, lba, n, kUserDataSize, 0, out))
                return ReadResult::Failed;
        } else {
            uint8_t* raw = scratch();
            for (uint32_t done = 0; done < n;) {
                const uint32_t chunk = std::min(n - done, kScratchSectors);
                if (!readRaw(lba + done, chunk, raw))
                    return ReadResult::Failed;
                for (uint32_t i = 0; i < chunk; ++i) {
                    const uint8_t* sector = raw + i * kRawSectorSize;
                    size_t from;
                    switch (sectorKind(sector, false)) {
                    case SectorKind::Mode1:
                        from = 16;
                        break;
                    case SectorKind::Mode2Form1:
                        from = 24;
                        break;
                    default:
                        return ReadResult::WrongKind;
                    }
                    std::memcpy(out + size_t(done + i) * kUserDataSize, sector + from, kUserDataSize);
                }
                done += chunk;
            }
        }
        lba += n;
        count -= n;
        out += size_t(n) * kUserDataSize;
    }
    return ReadResult::Ok;
}

} // namespace discport::image
