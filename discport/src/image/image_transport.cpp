#include "image_transport.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <exception>
#include <filesystem>
#include <map>
#include <mutex>
#include <vector>

#include <unistd.h>

#include "disc_image.h"
#include "edc_ecc.h"

namespace discport {
namespace {

using image::DiscImage;
using image::ImageTrack;
using image::kRawSectorSize;
using image::kUserDataSize;
using image::ReadResult;
using image::SectorKind;

constexpr uint8_t kStatusGood = 0x00;
constexpr uint8_t kStatusCheckCondition = 0x02;
constexpr uint8_t kSenseSize = 18;

struct Sense
{
    uint8_t key, asc, ascq;
};
constexpr Sense kNoSense{0x00, 0x00, 0x00};
constexpr Sense kInvalidOpcode{0x05, 0x20, 0x00};
constexpr Sense kLbaOutOfRange{0x05, 0x21, 0x00};
constexpr Sense kInvalidField{0x05, 0x24, 0x00};
constexpr Sense kSavingNotSupported{0x05, 0x39, 0x00};
constexpr Sense kIllegalModeForTrack{0x05, 0x64, 0x00};
constexpr Sense kUnrecoveredReadError{0x03, 0x11, 0x00};
constexpr Sense kInternalFailure{0x04, 0x44, 0x00};

constexpr uint16_t kMaxReadSpeed = 7056; // kB/s, 40x
constexpr uint16_t kMinReadSpeed = 176;  // 1x

// Opcodes answered.
constexpr uint8_t kTestUnitReady = 0x00;
constexpr uint8_t kRequestSense = 0x03;
constexpr uint8_t kInquiry = 0x12;
constexpr uint8_t kModeSense6 = 0x1A;
constexpr uint8_t kStartStopUnit = 0x1B;
constexpr uint8_t kPreventAllowRemoval = 0x1E;
constexpr uint8_t kReadCapacity = 0x25;
constexpr uint8_t kRead10 = 0x28;
constexpr uint8_t kReadSubChannel = 0x42;
constexpr uint8_t kReadToc = 0x43;
constexpr uint8_t kSetCdSpeed = 0xBB;
constexpr uint8_t kReadCd = 0xBE;

uint16_t be16(const uint8_t* p)
{
    return uint16_t(p[0] << 8 | p[1]);
}
uint32_t be24(const uint8_t* p)
{
    return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
}
uint32_t be32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
void put16(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
void put32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

// An address as READ TOC and READ SUB-CHANNEL give it: LBA, or 0, M, S, F of LBA + 150.
void putAddress(uint8_t* p, uint32_t lba, bool msf)
{
    if (!msf) {
        put32(p, lba);
        return;
    }
    const uint32_t a = lba + image::kLeadInSectors;
    p[0] = 0;
    p[1] = uint8_t(std::min<uint32_t>(a / (60 * 75), 0xFF));
    p[2] = uint8_t((a / 75) % 60);
    p[3] = uint8_t(a % 75);
}

// Command block length of an opcode group; 0 for groups not used here.
uint8_t commandLength(uint8_t opcode)
{
    switch (opcode >> 5) {
    case 0:
        return 6;
    case 1:
    case 2:
        return 10;
    case 5:
        return 12;
    default:
        return 0;
    }
}

// The parts of a raw data sector READ CD can return, as [begin, end) offsets.
struct SectorFields
{
    uint16_t subHeaderBegin, userBegin, userEnd;
};
SectorFields fieldsOf(SectorKind kind, bool formless)
{
    switch (kind) {
    case SectorKind::Mode1:
        return {16, 16, 2064};
    case SectorKind::Mode2Form1:
        return formless ? SectorFields{16, 16, 2352} : SectorFields{16, 24, 2072};
    case SectorKind::Mode2Form2:
        return formless ? SectorFields{16, 16, 2352} : SectorFields{16, 24, 2348};
    default:
        return {16, 16, 2352};
    }
}

class DiscImageTransport final : public ImageTransport
{
  public:
    explicit DiscImageTransport(std::unique_ptr<DiscImage> image) : m_image(std::move(image)) {}

    ScsiResult execute(const ScsiCommand& command) override;
    void failSector(uint32_t lba, int times) override;
    void shiftAudioReads(int32_t sectors) override { m_audioShift.store(sectors); }
    uint32_t sectorCount() const override { return m_image->sectorCount(); }

  private:
    // Buffer of the caller: data to host, at most dataLength bytes.
    struct Output
    {
        uint8_t* data;
        uint32_t capacity;
        uint32_t written = 0;

        void append(const uint8_t* bytes, size_t size)
        {
            const size_t room = capacity - written;
            const size_t n = std::min(size, room);
            if (n > 0)
                std::memcpy(data + written, bytes, n);
            written += uint32_t(n);
        }
        void appendZeros(size_t size)
        {
            const size_t n = std::min<size_t>(size, capacity - written);
            if (n > 0)
                std::memset(data + written, 0, n);
            written += uint32_t(n);
        }
    };

    ScsiResult dispatch(const ScsiCommand& command, Output& out);
    ScsiResult good(const Output& out);
    ScsiResult check(Sense sense);
    // A reply of which the caller gets at most `allocation` bytes.
    ScsiResult reply(Output& out, const uint8_t* bytes, size_t size, size_t allocation);

    ScsiResult inquiry(const uint8_t* cdb, Output& out);
    ScsiResult requestSense(const uint8_t* cdb, Output& out);
    ScsiResult readCapacity(Output& out);
    ScsiResult readToc(const uint8_t* cdb, Output& out);
    ScsiResult readCd(const uint8_t* cdb, Output& out);
    ScsiResult read10(const uint8_t* cdb, Output& out);
    ScsiResult modeSense(const uint8_t* cdb, Output& out);
    ScsiResult setCdSpeed(const uint8_t* cdb);
    ScsiResult readSubChannel(const uint8_t* cdb, Output& out);

    bool inRange(uint32_t lba, uint32_t count) const
    {
        return lba < sectorCount() && count <= sectorCount() - lba;
    }
    // True when an injected failure applies to a read of [lba, lba + count); uses it up.
    bool injectedFailure(uint32_t lba, uint32_t count);
    // Raw sectors with the audio shift applied to the audio ones.
    bool readRawShifted(uint32_t lba, uint32_t count, uint8_t* out) const;

    std::unique_ptr<DiscImage> m_image;
    std::mutex m_mutex; // guards m_failures and m_sense
    std::map<uint32_t, int> m_failures;
    uint8_t m_sense[kSenseSize] = {0x70, 0, 0, 0, 0, 0, 0, 10};
    std::atomic<int32_t> m_audioShift{0};
    std::atomic<uint16_t> m_readSpeed{kMaxReadSpeed};
};

void DiscImageTransport::failSector(uint32_t lba, int times)
{
    std::lock_guard lock(m_mutex);
    if (times > 0)
        m_failures[lba] = times;
    else
        m_failures.erase(lba);
}

bool DiscImageTransport::injectedFailure(uint32_t lba, uint32_t count)
{
    std::lock_guard lock(m_mutex);
    bool failed = false;
    for (auto it = m_failures.lower_bound(lba); it != m_failures.end() && it->first - lba < count;) {
        failed = true;
        if (--it->second <= 0)
            it = m_failures.erase(it);
        else
            ++it;
    }
    return failed;
}

bool DiscImageTransport::readRawShifted(uint32_t lba, uint32_t count, uint8_t* out) const
{
    if (!m_image->readRaw(lba, count, out))
        return false;
    const int32_t shift = m_audioShift.load();
    if (shift == 0)
        return true;
    for (uint32_t i = 0; i < count; ++i) {
        const ImageTrack* track = m_image->trackAt(lba + i);
        if (!track || !track->audio)
            continue;
        const int64_t source = int64_t(lba) + i + shift;
        uint8_t* sector = out + size_t(i) * kRawSectorSize;
        if (source < 0 || source >= int64_t(sectorCount()))
            std::memset(sector, 0, kRawSectorSize);
        else if (!m_image->readRaw(uint32_t(source), 1, sector))
            return false;
    }
    return true;
}

ScsiResult DiscImageTransport::good(const Output& out)
{
    ScsiResult result;
    result.completed = true;
    result.status = kStatusGood;
    result.transferred = out.written;
    return result;
}

ScsiResult DiscImageTransport::check(Sense sense)
{
    {
        std::lock_guard lock(m_mutex);
        std::memset(m_sense, 0, sizeof m_sense);
        m_sense[0] = 0x70; // current error, fixed format
        m_sense[2] = sense.key;
        m_sense[7] = kSenseSize - 8;
        m_sense[12] = sense.asc;
        m_sense[13] = sense.ascq;
    }
    ScsiResult result;
    result.completed = true;
    result.status = kStatusCheckCondition;
    result.transferred = 0;
    result.senseLength = kSenseSize;
    return result;
}

ScsiResult DiscImageTransport::reply(Output& out, const uint8_t* bytes, size_t size, size_t allocation)
{
    out.append(bytes, std::min(size, allocation));
    return good(out);
}

ScsiResult DiscImageTransport::execute(const ScsiCommand& command)
{
    Output out{command.data, command.data ? command.dataLength : 0};
    try {
        if (command.cdbLength == 0 || command.cdbLength > sizeof command.cdb ||
            command.cdbLength != commandLength(command.cdb[0]))
            return check(kInvalidOpcode);
        return dispatch(command, out);
    } catch (const std::exception&) {
        return check(kInternalFailure);
    }
}

ScsiResult DiscImageTransport::dispatch(const ScsiCommand& command, Output& out)
{
    const uint8_t* cdb = command.cdb;
    switch (cdb[0]) {
    case kTestUnitReady:
    case kStartStopUnit:
    case kPreventAllowRemoval:
        return good(out);
    case kRequestSense:
        return requestSense(cdb, out);
    case kInquiry:
        return inquiry(cdb, out);
    case kModeSense6:
        return modeSense(cdb, out);
    case kReadCapacity:
        return readCapacity(out);
    case kRead10:
        return read10(cdb, out);
    case kReadSubChannel:
        return readSubChannel(cdb, out);
    case kReadToc:
        return readToc(cdb, out);
    case kSetCdSpeed:
        return setCdSpeed(cdb);
    case kReadCd:
        return readCd(cdb, out);
    default:
        return check(kInvalidOpcode);
    }
}

// Standard INQUIRY data (offsets in hex): 00 peripheral type 5 (CD/DVD), 01 removable, 02 version,
// 03 response format 2, 04 additional length, 08 vendor (8), 10 product (16), 20 revision (4).
ScsiResult DiscImageTransport::inquiry(const uint8_t* cdb, Output& out)
{
    if ((cdb[1] & 0x01) || cdb[2] != 0) // vital product data pages are not offered
        return check(kInvalidField);
    uint8_t data[128] = {};
    data[0] = 0x05;
    data[1] = 0x80;
    data[2] = 0x05;
    data[3] = 0x02;
    data[4] = sizeof data - 5;
    std::memcpy(data + 8, "TAMRIN  ", 8);
    std::memcpy(data + 16, "DISC IMAGE      ", 16);
    std::memcpy(data + 32, "1.00", 4);
    return reply(out, data, sizeof data, be16(cdb + 3));
}

ScsiResult DiscImageTransport::requestSense(const uint8_t* cdb, Output& out)
{
    uint8_t data[kSenseSize];
    {
        std::lock_guard lock(m_mutex);
        std::memcpy(data, m_sense, sizeof data);
        std::memset(m_sense + 1, 0, sizeof m_sense - 1);
        m_sense[7] = kSenseSize - 8;
        m_sense[2] = kNoSense.key;
    }
    return reply(out, data, sizeof data, cdb[4]);
}

ScsiResult DiscImageTransport::readCapacity(Output& out)
{
    uint8_t data[8];
    put32(data, sectorCount() - 1);
    put32(data + 4, kUserDataSize);
    return reply(out, data, sizeof data, sizeof data);
}

// READ TOC format 0: 00 data length (2), 02 first track, 03 last track, then 8-byte descriptors
// (reserved, ADR << 4 | control, track number, reserved, address) and the lead-out (track 0xAA).
// Format 1 (sessions): one session, its first track.
ScsiResult DiscImageTransport::readToc(const uint8_t* cdb, Output& out)
{
    const bool msf = cdb[1] & 0x02;
    uint8_t format = cdb[2] & 0x0F;
    if (format == 0)
        format = cdb[9] >> 6; // the older place of the format
    const uint8_t startTrack = cdb[6];
    const uint16_t allocation = be16(cdb + 7);
    const std::vector<ImageTrack>& tracks = m_image->tracks();

    std::vector<uint8_t> data(4);
    data[2] = tracks.front().number;
    data[3] = tracks.back().number;
    auto descriptor = [&](uint8_t control, uint8_t number, uint32_t lba) {
        const size_t at = data.size();
        data.resize(at + 8);
        data[at + 1] = uint8_t(0x10 | (control & 0x0F));
        data[at + 2] = number;
        putAddress(&data[at + 4], lba, msf);
    };

    if (format == 0) {
        if (startTrack != 0xAA && startTrack > tracks.back().number)
            return check(kInvalidField);
        if (startTrack != 0xAA)
            for (const ImageTrack& track : tracks)
                if (track.number >= startTrack)
                    descriptor(track.control, track.number, track.start);
        descriptor(tracks.back().control, 0xAA, sectorCount());
    } else if (format == 1) {
        data[2] = 1;
        data[3] = 1;
        descriptor(tracks.front().control, tracks.front().number, tracks.front().start);
    } else {
        return check(kInvalidField);
    }
    put16(&data[0], uint32_t(data.size() - 2));
    return reply(out, data.data(), data.size(), allocation);
}

// READ CD: 01 expected sector type (bits 2-4), 02 first sector (4), 06 sector count (3),
// 09 fields: sync 0x80, header codes 0x60 (0x20 header, 0x40 sub-header), user data 0x10,
// EDC/ECC 0x08, error field 0x06; 0A sub-channel (none offered).
ScsiResult DiscImageTransport::readCd(const uint8_t* cdb, Output& out)
{
    const uint8_t expected = (cdb[1] >> 2) & 0x07;
    const uint32_t lba = be32(cdb + 2);
    const uint32_t count = be24(cdb + 6);
    const uint8_t fields = cdb[9];
    const uint8_t errorField = (fields >> 1) & 0x03;
    if (expected > 5 || errorField == 3 || (cdb[10] & 0x07) != 0)
        return check(kInvalidField);
    if (count == 0)
        return good(out);
    if (!inRange(lba, count))
        return check(kLbaOutOfRange);
    if (injectedFailure(lba, count))
        return check(kUnrecoveredReadError);

    // Whole raw sectors of any kind go straight into the caller's buffer.
    if (expected == 0 && fields == 0xF8 && uint64_t(count) * kRawSectorSize <= out.capacity) {
        if (!readRawShifted(lba, count, out.data))
            return check(kUnrecoveredReadError);
        out.written = count * uint32_t(kRawSectorSize);
        return good(out);
    }

    constexpr uint32_t kChunk = 16;
    std::vector<uint8_t> raw(kChunk * kRawSectorSize);
    for (uint32_t done = 0; done < count;) {
        const uint32_t n = std::min(kChunk, count - done);
        if (!readRawShifted(lba + done, n, raw.data()))
            return check(kUnrecoveredReadError);
        for (uint32_t i = 0; i < n; ++i) {
            const uint8_t* sector = raw.data() + size_t(i) * kRawSectorSize;
            const ImageTrack* track = m_image->trackAt(lba + done + i);
            const SectorKind kind = image::sectorKind(sector, track && track->audio);
            bool matches = true;
            switch (expected) {
            case 1:
                matches = kind == SectorKind::Audio;
                break;
            case 2:
                matches = kind == SectorKind::Mode1;
                break;
            case 3:
                matches = kind == SectorKind::Mode2Form1 || kind == SectorKind::Mode2Form2;
                break;
            case 4:
                matches = kind == SectorKind::Mode2Form1;
                break;
            case 5:
                matches = kind == SectorKind::Mode2Form2;
                break;
            default:
                break;
            }
            if (!matches)
                return check(kIllegalModeForTrack);

            if (kind == SectorKind::Audio) {
                if (fields & 0x10)
                    out.append(sector, kRawSectorSize);
            } else {
                const SectorFields at = fieldsOf(kind, expected == 3);
                if (fields & 0x80)
                    out.append(sector, 12);
                if (fields & 0x20)
                    out.append(sector + 12, 4);
                if ((fields & 0x40) && at.userBegin > at.subHeaderBegin)
                    out.append(sector + at.subHeaderBegin, size_t(at.userBegin - at.subHeaderBegin));
                if (fields & 0x10)
                    out.append(sector + at.userBegin, size_t(at.userEnd - at.userBegin));
                if (fields & 0x08)
                    out.append(sector + at.userEnd, kRawSectorSize - at.userEnd);
            }
            if (errorField == 1)
                out.appendZeros(294); // C2 error pointers: no errors
            else if (errorField == 2)
                out.appendZeros(296); // block error byte, pad byte and the pointers
        }
        done += n;
    }
    return good(out);
}

// READ(10): 02 first sector (4), 07 sector count (2); 2048 bytes of user data a sector.
ScsiResult DiscImageTransport::read10(const uint8_t* cdb, Output& out)
{
    const uint32_t lba = be32(cdb + 2);
    const uint32_t count = be16(cdb + 7);
    if (count == 0)
        return good(out);
    if (!inRange(lba, count))
        return check(kLbaOutOfRange);
    if (injectedFailure(lba, count))
        return check(kUnrecoveredReadError);

    auto failure = [&](ReadResult result) {
        return check(result == ReadResult::WrongKind ? kIllegalModeForTrack : kUnrecoveredReadError);
    };
    if (uint64_t(count) * kUserDataSize <= out.capacity) {
        const ReadResult result = m_image->readUserData(lba, count, out.data);
        if (result != ReadResult::Ok)
            return failure(result);
        out.written = count * uint32_t(kUserDataSize);
        return good(out);
    }
    constexpr uint32_t kChunk = 16;
    std::vector<uint8_t> user(kChunk * kUserDataSize);
    for (uint32_t done = 0; done < count;) {
        const uint32_t n = std::min(kChunk, count - done);
        const ReadResult result = m_image->readUserData(lba + done, n, user.data());
        if (result != ReadResult::Ok)
            return failure(result);
        out.append(user.data(), size_t(n) * kUserDataSize);
        done += n;
    }
    return good(out);
}

// MODE SENSE(6): reply = 4-byte header (mode data length, medium type, device-specific, block
// descriptor length), an 8-byte block descriptor unless DBD is set, then the capabilities page
// 0x2A. Page bytes: 02 read abilities, 04 audio play 0x01, Mode 2 Form 1 0x10, Form 2 0x20,
// multi-session 0x40; 05 CD-DA commands 0x01, accurate stream 0x02, catalogue number 0x40;
// 06 lock 0x01, eject 0x08, tray 0x20; 08 maximum read speed; 0A volume levels; 0C buffer (kB);
// 0E current read speed; 12 maximum write speed (none); 14 current write speed.
ScsiResult DiscImageTransport::modeSense(const uint8_t* cdb, Output& out)
{
    const bool noBlockDescriptor = cdb[1] & 0x08;
    const uint8_t pageControl = cdb[2] >> 6;
    const uint8_t page = cdb[2] & 0x3F;
    if ((page != 0x2A && page != 0x3F) || cdb[3] != 0)
        return check(kInvalidField);
    if (pageControl == 3)
        return check(kSavingNotSupported);

    uint8_t data[4 + 8 + 22] = {};
    size_t at = 4;
    data[1] = 0x01; // 120 mm CD-ROM
    if (!noBlockDescriptor) {
        data[3] = 8;
        data[4 + 5] = uint8_t(kUserDataSize >> 16);
        data[4 + 6] = uint8_t(kUserDataSize >> 8);
        data[4 + 7] = uint8_t(kUserDataSize);
        at += 8;
    }
    uint8_t* pg = data + at;
    pg[0] = 0x2A;
    pg[1] = 22 - 2;
    if (pageControl != 1) { // changeable values: none
        const uint16_t current = pageControl == 2 ? kMaxReadSpeed : m_readSpeed.load();
        pg[2] = 0x03; // reads CD-R and CD-RW
        pg[4] = 0x01 | 0x10 | 0x20 | 0x40;
        pg[5] = 0x01 | 0x02 | 0x40;
        pg[6] = 0x01 | 0x08 | 0x20;
        put16(pg + 8, kMaxReadSpeed);
        put16(pg + 10, 256);
        put16(pg + 12, 2048);
        put16(pg + 14, current);
        put16(pg + 18, 0);
        put16(pg + 20, 0);
    }
    const size_t size = at + 22;
    data[0] = uint8_t(size - 1);
    return reply(out, data, size, cdb[4]);
}

// SET CD SPEED: 02 read speed in kB/s (0xFFFF: highest), 04 write speed.
ScsiResult DiscImageTransport::setCdSpeed(const uint8_t* cdb)
{
    const uint16_t wanted = be16(cdb + 2);
    m_readSpeed.store(std::clamp(wanted, kMinReadSpeed, kMaxReadSpeed));
    Output none{nullptr, 0};
    return good(none);
}

// READ SUB-CHANNEL: 01 MSF 0x02, 02 sub-channel Q 0x40, 03 format (1 position, 2 catalogue
// number, 3 ISRC), 06 track, 07 allocation (2). Reply: 4-byte header (reserved, audio status
// 0x15 = none, data length), then 00 format, 01 ADR/control, 02 track, 03 index, 04 absolute and
// 08 relative address (position); or 04 valid bit 0x80 and 05-13 the catalogue number's digits.
ScsiResult DiscImageTransport::readSubChannel(const uint8_t* cdb, Output& out)
{
    const bool msf = cdb[1] & 0x02;
    const bool subQ = cdb[2] & 0x40;
    const uint8_t format = cdb[3];
    const uint16_t allocation = be16(cdb + 7);
    const std::vector<ImageTrack>& tracks = m_image->tracks();

    uint8_t data[4 + 20] = {};
    data[1] = 0x15;
    if (!subQ)
        return reply(out, data, 4, allocation);
    uint8_t* q = data + 4;
    q[0] = format;
    size_t length;
    switch (format) {
    case 1:
        q[1] = uint8_t(0x10 | tracks.front().control);
        q[2] = tracks.front().number;
        q[3] = 1;
        putAddress(q + 4, tracks.front().start, msf);
        putAddress(q + 8, 0, false);
        length = 12;
        break;
    case 2: {
        const std::string& catalog = m_image->catalog();
        if (catalog.size() == 13) {
            q[4] = 0x80;
            std::memcpy(q + 5, catalog.data(), 13);
        }
        length = 20;
        break;
    }
    case 3: {
        const uint8_t number = cdb[6];
        auto track = std::find_if(tracks.begin(), tracks.end(),
                                  [&](const ImageTrack& t) { return t.number == number; });
        if (track == tracks.end())
            return check(kInvalidField);
        q[1] = uint8_t(0x10 | track->control);
        q[2] = number;
        length = 20; // no ISRC: valid bit clear
        break;
    }
    default:
        return check(kInvalidField);
    }
    put16(data + 2, uint32_t(length));
    return reply(out, data, 4 + length, allocation);
}

bool startsWithSync(const std::string& path)
{
    image::ImageFiles files;
    uint64_t size = 0;
    std::string ignored;
    if (!files.open(path, size, ignored) || size < kRawSectorSize)
        return false;
    uint8_t head[12];
    if (::pread(files.descriptor(0), head, sizeof head, 0) != ssize_t(sizeof head))
        return false;
    static constexpr uint8_t kSync[12] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                          0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    return std::memcmp(head, kSync, sizeof kSync) == 0;
}

std::string lowerExtension(const std::string& path)
{
    std::string extension = std::filesystem::path(path).extension().string();
    for (char& c : extension)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

} // namespace

std::shared_ptr<ImageTransport> openImageTransport(const std::string& path, std::string& error)
{
    try {
        std::unique_ptr<DiscImage> disc;
        const std::string extension = lowerExtension(path);
        if (extension == ".cue") {
            disc = image::openCueImage(path, error);
        } else {
            std::error_code code;
            if (!std::filesystem::is_regular_file(path, code)) {
                error = "cannot open " + path + ": " + (code ? code.message() : "not a regular file");
                return nullptr;
            }
            const uintmax_t size = std::filesystem::file_size(path, code);
            if (code) {
                error = "cannot open " + path + ": " + code.message();
                return nullptr;
            }
            if (startsWithSync(path) || (extension != ".iso" && size % kRawSectorSize == 0))
                disc = image::openRawImage(path, error);
            else if (size % kUserDataSize == 0)
                disc = image::openIsoImage(path, error);
            else {
                error = path + " is neither a CUE sheet, an ISO image (2048-byte sectors) nor a raw image "
                               "(2352-byte sectors)";
                return nullptr;
            }
        }
        if (!disc)
            return nullptr;
        return std::make_shared<DiscImageTransport>(std::move(disc));
    } catch (const std::exception& e) {
        error = "cannot open " + path + ": " + e.what();
        return nullptr;
    }
}

} // namespace discport
