// Cobaltsound: CRI ADX sound, found inside the data of a disc by its header alone (no file
// system), or given as a plain .adx file. Stereo blocks are delivered as they are stored and
// decoded by the host (unitKind 0x2F); the blocks of a mono file are decoded here to 16-bit PCM
// (unitKind 0x60), since the host's ADX decoder reads every 36 bytes as a left and a right block.
//
// Header (big-endian, offsets from its start):
//   0x00 u32  bit 31 set; low 31 bits: signature offset S. "(c)CRI" ends at S + 4, where the
//             data begins
//   0x04 u8   encoding (3: fixed prediction)   0x05 u8 block bytes (18)   0x06 u8 bits (4)
//   0x07 u8   channel count
//   0x08 u32  sample rate                      0x0C u32 samples per channel
// Data: per 32 samples one 18-byte block per channel (u16 scale, 16 bytes of 4-bit samples),
// the channels' blocks side by side; a file of N samples has (N + 31) / 32 of them.
//
// Disc probe: the 2048 user-data bytes of each sector are searched every 2 bytes for a stereo
// header (signature offset 32 to 4096, rate 15000 to 48000, at least 100 samples); a header is
// then skipped (its signature checked when the skip ends in the same sector) and its data skipped
// across the following sectors; a file is reported once all of its data has gone by.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "sectorkit/find_pattern.h"
#include "sectorkit/plain_file.h"
#include "sectorkit/plugin_info.h"
#include "sectorkit/sector_stream.h"
#include "streamkit/psr.h"
#include "tamrin_common/c_guard.h"

namespace {

using namespace sectorkit;

constexpr size_t kHeaderBytes = 16;
constexpr uint32_t kMinSignatureOffset = 32;
constexpr uint32_t kMaxSignatureOffset = 4096;
constexpr char kSignature[] = "(c)CRI";
constexpr size_t kSignatureBytes = 6;
constexpr uint32_t kBlockBytes = 18;
constexpr uint32_t kSamplesPerBlock = 32;
constexpr size_t kTableStep = 48;
constexpr uint32_t kUnitBytes = 8192;
// Mono blocks per unit: their PCM (64 bytes a block) stays within a stereo unit's 8172 bytes.
constexpr uint32_t kMonoBlocksPerUnit = 127;
constexpr uint8_t kAdxUnit = 0x2F;
constexpr uint8_t kPcmUnit = 0x60;

uint32_t be32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

struct Header
{
    uint32_t word0 = 0;
    uint32_t word1 = 0; // bytes 4 to 7 as stored (little-endian): the channel count is its high byte
    uint32_t sampleRate = 0;
    uint32_t samples = 0;

    uint32_t signatureOffset() const { return word0 & 0x7FFFFFFF; }
    uint8_t channels() const { return uint8_t(word1 >> 24); }
    uint64_t headerBytes() const { return uint64_t(signatureOffset()) + 4; }
    uint64_t blocks() const { return (uint64_t(samples) + kSamplesPerBlock - 1) / kSamplesPerBlock; }
};

Header headerAt(const uint8_t* p)
{
    Header h;
    h.word0 = be32(p);
    h.word1 = uint32_t(p[4]) | uint32_t(p[5]) << 8 | uint32_t(p[6]) << 16 | uint32_t(p[7]) << 24;
    h.sampleRate = be32(p + 8);
    h.samples = be32(p + 12);
    return h;
}

bool plausibleOffset(const Header& h)
{
    return (h.word0 & 0x80000000u) && h.signatureOffset() >= kMinSignatureOffset &&
           h.signatureOffset() <= kMaxSignatureOffset;
}

// The test of a header inside disc data: stereo only, a rate and length of real sound.
bool isDiscHeader(const Header& h)
{
    return plausibleOffset(h) && h.channels() == 2 && h.sampleRate >= 15000 && h.sampleRate <= 48000 &&
           h.samples >= 100;
}

uint32_t durationMs(uint64_t samples, uint32_t sampleRate)
{
    return sampleRate ? uint32_t(std::min<uint64_t>(samples * 1000 / sampleRate, UINT32_MAX)) : 0;
}

void describeSound(StrInfo* info, uint16_t channels, uint32_t sampleRate, uint32_t samples)
{
    info->kind = StrAudio;
    info->audioFormat = 1;
    info->bitsPerSample = 16;
    info->channels = channels;
    info->sampleRate = sampleRate;
    info->durationMs = durationMs(samples, sampleRate);
}

// ---- probe ------------------------------------------------------------------------------------

struct Record
{
    uint32_t position = 0; // sector × 2048 + offset in the sector
    uint32_t length = 0;   // header and data bytes
    uint32_t signatureOffset = 0;
    uint32_t headerWord = 0;
    uint32_t sampleRate = 0;
    uint32_t samples = 0;
};

struct ProbeContext
{
    uint64_t headerSkip = 0;
    // 64 bits: a header's sample count may ask for more data than 32 bits can count, and such a
    // file must never seem to end early.
    uint64_t dataSkip = 0;
    std::vector<Record> records; // complete ones; capacity grows by 48
    Record pending;              // the file whose bytes are being skipped
};

constexpr size_t kNotFound = SIZE_MAX;

// What every disc header starts with: bit 31 set and a signature offset of at most 4096, that is
// the bytes 0x80, 0x00 and a third byte below 0x20.
constexpr BytePattern kHeaderStart = [] {
    BytePattern pattern;
    pattern.length = 3;
    pattern.bytes[0] = 0x80;
    pattern.mask[0] = pattern.mask[1] = 0xFF;
    pattern.mask[2] = 0xE0;
    return pattern;
}();
static_assert(kMaxSignatureOffset < 0x2000, "the third byte of a header's offset is below 0x20");

// The first header at `at`, at + 2, ... that leaves 16 bytes in the sector, or kNotFound. Only
// the places that start like a header are tested, so that the search costs little on sectors of
// other data.
size_t findHeader(const uint8_t* data, size_t at)
{
    constexpr size_t kLast = kUserDataBytes - kHeaderBytes;
    for (; at <= kLast; at += 2) {
        at = findPattern(data, kLast + kHeaderStart.length, kHeaderStart, 2, at);
        if (at > kLast)
            break;
        if (isDiscHeader(headerAt(data + at)))
            return at;
    }
    return kNotFound;
}

void scanSector(ProbeContext& p, uint32_t lba, const uint8_t* data)
{
    size_t at = 0;
    for (;;) {
        if (p.headerSkip) {
            const size_t take = size_t(std::min<uint64_t>(kUserDataBytes - at, p.headerSkip));
            if (take == p.headerSkip && take >= kSignatureBytes &&
                std::memcmp(data + at + take - kSignatureBytes, kSignature, kSignatureBytes) != 0) {
                // Not a header after all: look again 2 bytes after where it seemed to start.
                p.headerSkip = p.dataSkip = 0;
                at += 2;
            } else {
                at += take;
                p.headerSkip -= take;
            }
        }
        if (!p.headerSkip && p.dataSkip) {
            const size_t take = size_t(std::min<uint64_t>(kUserDataBytes - at, p.dataSkip));
            at += take;
            p.dataSkip -= take;
            if (!p.dataSkip)
                p.records.push_back(p.pending); // cannot throw: room was made at the header
        }
        if (p.headerSkip || p.dataSkip)
            return;

        at = findHeader(data, at);
        if (at == kNotFound || !roomForOne(p.records, kTableStep))
            return;
        const Header h = headerAt(data + at);
        const uint64_t dataBytes = h.blocks() * 2 * kBlockBytes;
        p.headerSkip = h.headerBytes();
        p.dataSkip = dataBytes;
        p.pending.position = uint32_t(uint64_t(lba) * kUserDataBytes + at);
        p.pending.length = uint32_t(std::min<uint64_t>(h.headerBytes() + dataBytes, UINT32_MAX));
        p.pending.signatureOffset = h.signatureOffset();
        p.pending.headerWord = h.word1;
        p.pending.sampleRate = h.sampleRate;
        p.pending.samples = h.samples;
    }
}

void describeRecord(const Record& r, StrInfo* info)
{
    std::memset(info, 0, sizeof *info);
    const uint32_t offset = r.position & 0x7FF;
    describeSound(info, uint8_t(r.headerWord >> 24), r.sampleRate, r.samples);
    info->reserved = uint16_t(offset);
    info->startSector = r.position / kUserDataBytes;
    info->sectorCount = uint32_t((uint64_t(r.length) + offset + kUserDataBytes - 1) / kUserDataBytes);
    info->dataBytes = r.length;
}

// ---- streams ----------------------------------------------------------------------------------

struct Stream
{
    ~Stream() { dropSector(); }

    uint64_t dataStart = 0; // from the start of the first sector, or of the file
    uint32_t frameBytes = 2 * kBlockBytes;
    uint64_t blocks = 0;
    uint64_t delivered = 0;
    uint32_t sampleRate = 0;

    // A disc stream reads on from the sector it holds.
    SectorStream sectors;
    const uint8_t* held = nullptr;
    size_t offset = 0;
    // A file stream reads at its own position.
    PlainFile file;
    bool isFile = false;
    uint64_t filePosition = 0;

    // Mono files are decoded here: the prediction and the last two samples.
    bool mono = false;
    int32_t coef1 = 0, coef2 = 0;
    int32_t s1 = 0, s2 = 0;

    void dropSector()
    {
        if (held)
            sectors.release(held);
        held = nullptr;
    }

    // Positions the next copy at byte `position`; false when the reader refuses.
    bool moveTo(uint64_t position)
    {
        if (isFile) {
            filePosition = position;
            return true;
        }
        dropSector();
        if (!sectors.seek(position / kUserDataBytes))
            return false;
        held = sectors.next();
        offset = size_t(position % kUserDataBytes);
        return true;
    }

    // Copies up to `length` bytes from the current position on; the number copied.
    size_t copy(uint8_t* destination, size_t length)
    {
        if (isFile) {
            const uint64_t left = file.size() > filePosition ? file.size() - filePosition : 0;
            const size_t take = size_t(std::min<uint64_t>(length, left));
            if (take == 0 || !file.readAt(filePosition, destination, take))
                return 0;
            filePosition += take;
            return take;
        }
        size_t done = 0;
        while (done < length && held) {
            if (offset == kUserDataBytes) {
                dropSector();
                held = sectors.next();
                offset = 0;
                continue;
            }
            const size_t take = std::min(length - done, kUserDataBytes - offset);
            std::memcpy(destination + done, held + offset, take);
            offset += take;
            done += take;
        }
        return done;
    }
};

// The prediction of the host's decoder: a 500 Hz cutoff at the stream's rate, 12 fraction bits.
void prepareMono(Stream& s)
{
    const double pi = 3.14159265358979323846;
    const double a = std::sqrt(2.0) - std::cos(2.0 * pi * 500.0 / s.sampleRate);
    const double b = std::sqrt(2.0) - 1.0;
    const double c = (a - std::sqrt((a + b) * (a - b))) / b;
    s.coef1 = int32_t(std::lround(2.0 * c * 4096.0));
    s.coef2 = int32_t(std::lround(-c * c * 4096.0));
    s.s1 = s.s2 = 0;
}

// One 18-byte block into 32 little-endian samples; an end block gives silence.
void decodeMonoBlock(Stream& s, const uint8_t* block, uint8_t* out)
{
    if (block[0] & 0x80) {
        std::memset(out, 0, kSamplesPerBlock * 2);
        return;
    }
    const int32_t scale = (block[0] << 8 | block[1]) & 0x1FFF;
    for (uint32_t i = 0; i < kSamplesPerBlock; ++i) {
        const uint8_t byte = block[2 + i / 2];
        const int32_t nibble = (i & 1) ? byte & 0x0F : byte >> 4;
        const int32_t n = nibble >= 8 ? nibble - 16 : nibble;
        const int64_t prediction = (int64_t(s.coef1) * s.s1 + int64_t(s.coef2) * s.s2) >> 12;
        const auto sample = int32_t(std::clamp<int64_t>(int64_t(n) * scale + prediction, -32768, 32767));
        s.s2 = s.s1;
        s.s1 = sample;
        out[2 * i] = uint8_t(sample);
        out[2 * i + 1] = uint8_t(uint32_t(sample) >> 8);
    }
}

void* openDisc(int32_t drive, const StrInfo& info)
{
    // The header's place in its first sector; beyond the sector it cannot be.
    if (info.reserved >= kUserDataBytes || info.sampleRate == 0)
        return nullptr;
    auto stream = std::make_unique<Stream>();
    if (!stream->sectors.open(drive, info.startSector, info.sectorCount, kHighestSpeed,
                              SectorForm::UserData) ||
        !stream->moveTo(info.reserved))
        return nullptr;
    uint8_t bytes[kHeaderBytes];
    if (stream->copy(bytes, kHeaderBytes) != kHeaderBytes)
        return nullptr;
    const Header h = headerAt(bytes);
    if (!plausibleOffset(h))
        return nullptr;
    stream->sampleRate = info.sampleRate;
    stream->dataStart = info.reserved + h.headerBytes();
    stream->blocks = h.blocks();
    if (!stream->moveTo(stream->dataStart) || !stream->held)
        return nullptr;
    return stream.release();
}

// ---- files ------------------------------------------------------------------------------------

struct FileSound
{
    Header header;
    uint64_t blocks = 0; // whole blocks (frames of every channel) that the file holds
};

// A plain .adx file: 18-byte blocks of 4 bits, fixed prediction, mono or stereo, its signature
// in place and at least one whole block of data.
bool readFileSound(const PlainFile& file, FileSound& sound)
{
    uint8_t bytes[kHeaderBytes];
    if (file.size() < kHeaderBytes || !file.readAt(0, bytes, kHeaderBytes))
        return false;
    const Header h = headerAt(bytes);
    if (!plausibleOffset(h) || bytes[4] != 3 || bytes[5] != kBlockBytes || bytes[6] != 4 ||
        (h.channels() != 1 && h.channels() != 2) || h.sampleRate < 1000 || h.sampleRate > 192000 ||
        h.samples == 0)
        return false;
    char signature[kSignatureBytes];
    if (h.headerBytes() > file.size() ||
        !file.readAt(h.headerBytes() - kSignatureBytes, signature, kSignatureBytes) ||
        std::memcmp(signature, kSignature, kSignatureBytes) != 0)
        return false;
    const uint64_t frameBytes = uint64_t(kBlockBytes) * h.channels();
    sound.header = h;
    sound.blocks = std::min(h.blocks(), (file.size() - h.headerBytes()) / frameBytes);
    return sound.blocks > 0;
}

bool describeFile(const char* name, StrInfo* info)
{
    PlainFile file;
    FileSound sound;
    if (!file.open(name) || !readFileSound(file, sound))
        return false;
    if (!info)
        return true;
    std::memset(info, 0, sizeof *info);
    const Header& h = sound.header;
    describeSound(info, h.channels(), h.sampleRate, h.samples);
    info->dataBytes =
        uint32_t(std::min<uint64_t>(h.headerBytes() + sound.blocks * kBlockBytes * h.channels(), UINT32_MAX));
    return true;
}

void* openFile(const char* name)
{
    auto stream = std::make_unique<Stream>();
    FileSound sound;
    if (!stream->file.open(name) || !readFileSound(stream->file, sound))
        return nullptr;
    stream->isFile = true;
    stream->mono = sound.header.channels() == 1;
    stream->frameBytes = kBlockBytes * sound.header.channels();
    stream->sampleRate = sound.header.sampleRate;
    stream->dataStart = sound.header.headerBytes();
    stream->blocks = sound.blocks;
    stream->moveTo(stream->dataStart);
    if (stream->mono)
        prepareMono(*stream);
    return stream.release();
}

// ---- reading ----------------------------------------------------------------------------------

int32_t readUnit(Stream& s, PsrReadRecord* record)
{
    std::memset(record, 0, PSR_READ_HEADER_BYTES);
    const uint64_t left = s.blocks > s.delivered ? s.blocks - s.delivered : 0;
    const uint32_t perUnit = s.mono ? kMonoBlocksPerUnit : kUnitBytes / s.frameBytes;
    const auto k = uint32_t(std::min<uint64_t>(perUnit, left));
    if (k == 0)
        return 0;
    s.delivered += k;
    if (!s.mono) {
        record->unitKind = kAdxUnit;
        const size_t copied = s.copy(record->payload, size_t(k) * s.frameBytes);
        record->payloadBytes = uint32_t(copied);
        return copied == size_t(k) * s.frameBytes ? 1 : 0;
    }
    record->unitKind = kPcmUnit;
    uint8_t block[kBlockBytes];
    for (uint32_t i = 0; i < k; ++i) {
        if (s.copy(block, kBlockBytes) != kBlockBytes)
            return 0;
        decodeMonoBlock(s, block, record->payload + record->payloadBytes);
        record->payloadBytes += kSamplesPerBlock * 2;
    }
    return 1;
}

int32_t seekStream(Stream& s, uint32_t positionMs)
{
    const uint64_t block =
        std::min<uint64_t>(uint64_t(s.sampleRate) * positionMs / 1000 / kSamplesPerBlock, s.blocks);
    s.delivered = block;
    if (s.mono)
        s.s1 = s.s2 = 0; // the prediction starts again, as the host's does after a seek
    return s.moveTo(s.dataStart + block * s.frameBytes) ? 1 : 0;
}

} // namespace

// ---- exports ----------------------------------------------------------------------------------

PSR_EXPORT int32_t PsrQueryPlugin(PsrPluginInfo* info)
{
    return tamrin::guarded<int32_t>(0, [&] {
        return describePlugin(info, "CRI ADX", 100, 0, MediaRawSectors | MediaUserData | MediaFiles);
    });
}

PSR_EXPORT int32_t PsrIsSupportFile(const char* fileName)
{
    return tamrin::guarded<int32_t>(0, [&] { return describeFile(fileName, nullptr) ? 1 : 0; });
}

PSR_EXPORT int32_t PsrGetStrFileInfo(const char* fileName, StrInfo* info)
{
    return tamrin::guarded<int32_t>(0, [&] { return info && describeFile(fileName, info) ? 1 : 0; });
}

PSR_EXPORT void* PsrOpenFile(const char* fileName, StrInfo*)
{
    return tamrin::guarded<void*>(nullptr, [&] { return openFile(fileName); });
}

PSR_EXPORT void* PsrIsSupportCDBegin(int32_t trackCount, const CdTocEntry* tracks)
{
    return tamrin::guarded<void*>(nullptr, [&]() -> void* {
        if (!hasDataTrack(tracks, trackCount))
            return nullptr;
        auto probe = std::make_unique<ProbeContext>();
        probe->records.reserve(kTableStep);
        return probe.release();
    });
}

PSR_EXPORT int32_t PsrIsSupportCDSector(void* context, CdTocEntry, uint32_t lba, const uint8_t* sector)
{
    return tamrin::guarded<int32_t>(0, [&] {
        auto* probe = static_cast<ProbeContext*>(context);
        if (!probe)
            return 0;
        if (!sector) {
            // The scan stopped: the file being skipped is given up, the complete ones stay.
            probe->headerSkip = probe->dataSkip = 0;
            return 0;
        }
        scanSector(*probe, lba, sector);
        return 1;
    });
}

PSR_EXPORT int32_t PsrIsSupportCDResult(void* context, int32_t index, StrInfo* info)
{
    return tamrin::guarded<int32_t>(0, [&] {
        const auto* probe = static_cast<const ProbeContext*>(context);
        return probe ? probeResult(probe->records, index, info, describeRecord) : 0;
    });
}

PSR_EXPORT int32_t PsrGetStrDataInfo(int32_t, uint32_t, uint32_t, StrInfo*)
{
    return 0; // a disc area is described only by a found header
}

PSR_EXPORT void* PsrOpenCD(int32_t drive, StrInfo* info)
{
    return tamrin::guarded<void*>(nullptr, [&] { return info ? openDisc(drive, *info) : nullptr; });
}

#include "sectorkit/stream_exports.h"
