// Stillframe: TIM pictures, in files and anywhere inside the data tracks of a disc (without the
// file system), each one still-image stream of one frame that the plugin decodes itself.
//
// TIM (little-endian):
//   0x00 u32 identifier 0x00000010
//   0x04 u32 flags: bits 0-2 pixel mode (0 4-bit indexed, 1 8-bit indexed, 2 15-bit direct,
//            3 24-bit direct), bit 3 colour table present
//   0x08     colour table block, only with bit 3:
//              +0x00 u32 block length (header included)  +0x04 u16 x  +0x06 u16 y
//              +0x08 u16 w (entries per row)  +0x0A u16 h (rows)  +0x0C w x h 16-bit colours
//   then     image block:
//              +0x00 u32 block length  +0x04 u16 x  +0x06 u16 y
//              +0x08 u16 W (in 16-bit units)  +0x0A u16 H  +0x0C W x H 16-bit words, top row first
// 16-bit colour: bits 0-4 red, 5-9 green, 10-14 blue, bit 15 (transparency) not shown.
//
// Recognition: identifier 0x10, flags at most 15 with bit 2 clear; a colour table exactly for
// modes 0 and 1, its length 13 to 524, even, 2wh + 12; the image length at least 13, even,
// 2WH + 12; picture H high and 4W, 2W, W or floor(2W / 3) wide by mode, both sides above 3.
// Lengths are compared in 64 bits (2 x 0xFFFF x 0xFFFF + 12 does not fit 32), and a TIM whose
// total size does not fit the stream description's 32-bit byte count is none.
//
// Disc probe, on the 2048 user-data bytes of each data-track sector: a TIM that runs on past a
// sector has its remaining bytes skipped unseen, and is kept once they have all come by. The
// bytes before a sector that could not be judged yet (a header cut by the sector's end) are
// carried in front of the next sector; a TIM that starts in them belongs to the earlier sector.
// A new track, a gap in the sector numbers, the final null sector and the results settle the
// scan: a TIM not yet whole is dropped.
//
// Stream: the handle holds a delivered flag and the TIM's bytes. Its one unit (frame 1, param 10,
// unitKind 0) carries the address of those bytes, its payload as long as an address so that the
// host's copy of the unit keeps all of it. PsrDecodeFrame accepts only an address of a handle
// that is still open and decodes under the same lock that PsrClose takes, every size checked
// against the bytes the handle holds.
//
// Pictures: the host's 24-bit picture (or its 16-bit one, five bits a channel), bottom-up, of
// exactly the TIM's size. 24-bit TIM pixels are stored red, green, blue and are reordered into
// the picture's blue, green, red. A 24-bit row is 2W bytes: the spare byte or two after its
// floor(2W / 3) pixels are skipped, so every row starts where the TIM puts it. An index past the
// end of a short colour table shows black.
#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <vector>

#include "sectorkit/find_pattern.h"
#include "sectorkit/plain_file.h"
#include "sectorkit/plugin_info.h"
#include "sectorkit/sector_stream.h"
#include "streamkit/psr.h"
#include "tamrin_common/c_guard.h"

namespace {

using namespace sectorkit;

constexpr uint32_t kTimIdentifier = 0x10;
constexpr uint32_t kFlagsHeaderBytes = 8;
constexpr uint32_t kBlockHeaderBytes = 12;
constexpr uint32_t kLongestTable = 524;
// Bytes that decide whether a TIM starts somewhere: header, the longest table, the image header.
constexpr uint32_t kLongestHeader = kFlagsHeaderBytes + kLongestTable + kBlockHeaderBytes;
// What the file test reads.
constexpr uint32_t kFileHeadBytes = 548;
constexpr uint16_t kStillParam = 10;
constexpr uint32_t kFirstCapacity = 40;
constexpr uint32_t kCapacityStep = 10;

uint16_t le16(const uint8_t* p)
{
    return uint16_t(p[0] | p[1] << 8);
}

uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

struct TimShape
{
    uint32_t mode = 0;
    uint32_t tableBytes = 0;  // colour table block length, 0 without one
    uint32_t imageBytes = 0;  // image block length
    uint32_t wordsPerRow = 0; // W
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t total = 0;

    uint32_t tableEntries() const { return tableBytes ? (tableBytes - kBlockHeaderBytes) / 2 : 0; }
    uint32_t tableOffset() const { return kFlagsHeaderBytes + kBlockHeaderBytes; }
    uint32_t pixelOffset() const { return kFlagsHeaderBytes + tableBytes + kBlockHeaderBytes; }
};

enum class Verdict
{
    Tim,
    None,
    NeedMore, // the bytes at hand end before the header does
};

bool blockLengthFits(uint32_t length, uint32_t w, uint32_t h)
{
    return length >= 13 && length % 2 == 0 && uint64_t(length) == 2 * uint64_t(w) * h + kBlockHeaderBytes;
}

// Applies the recognition rule to the `available` bytes at `p`. A whole TIM need not be there:
// only its headers.
Verdict recognise(const uint8_t* p, size_t available, TimShape& shape)
{
    static constexpr uint8_t kIdentifierBytes[4] = {0x10, 0, 0, 0};
    if (available < 4)
        return std::memcmp(p, kIdentifierBytes, available) == 0 ? Verdict::NeedMore : Verdict::None;
    if (le32(p) != kTimIdentifier)
        return Verdict::None;
    if (available < kFlagsHeaderBytes)
        return Verdict::NeedMore;
    const uint32_t flags = le32(p + 4);
    if (flags > 15 || (flags & 0x4))
        return Verdict::None;
    shape = TimShape{};
    shape.mode = flags & 0x3;
    const bool hasTable = (flags & 0x8) != 0;
    if (hasTable != (shape.mode <= 1))
        return Verdict::None;
    size_t at = kFlagsHeaderBytes;
    if (hasTable) {
        if (available < at + kBlockHeaderBytes)
            return Verdict::NeedMore;
        shape.tableBytes = le32(p + at);
        if (shape.tableBytes > kLongestTable ||
            !blockLengthFits(shape.tableBytes, le16(p + at + 8), le16(p + at + 10)))
            return Verdict::None;
        at += shape.tableBytes;
    }
    if (available < at + kBlockHeaderBytes)
        return Verdict::NeedMore;
    shape.imageBytes = le32(p + at);
    shape.wordsPerRow = le16(p + at + 8);
    shape.height = le16(p + at + 10);
    if (!blockLengthFits(shape.imageBytes, shape.wordsPerRow, shape.height))
        return Verdict::None;
    static constexpr uint32_t kPixelsPerWord[4][2] = {{4, 1}, {2, 1}, {1, 1}, {2, 3}}; // times, over
    shape.width = shape.wordsPerRow * kPixelsPerWord[shape.mode][0] / kPixelsPerWord[shape.mode][1];
    if (shape.width <= 3 || shape.height <= 3)
        return Verdict::None;
    const uint64_t total = uint64_t(kFlagsHeaderBytes) + shape.tableBytes + shape.imageBytes;
    if (total > UINT32_MAX)
        return Verdict::None;
    shape.total = uint32_t(total);
    return Verdict::Tim;
}

// A TIM whose every byte lies in `bytes[0 .. size)`.
bool wholeTim(const uint8_t* bytes, size_t size, TimShape& shape)
{
    return recognise(bytes, size, shape) == Verdict::Tim && shape.total <= size;
}

void describeStill(StrInfo* info, const TimShape& shape)
{
    info->kind = StrStill;
    info->durationMs = 1000;
    info->frameCount = 1;
    info->width = shape.width;
    info->height = shape.height;
    info->dataBytes = shape.total;
    info->outWidth = shape.width;
    info->outHeight = shape.height;
}

// ---- pictures ---------------------------------------------------------------------------------

struct Bgr
{
    uint8_t b, g, r;
};

Bgr fromColour16(uint16_t c)
{
    return {uint8_t((c >> 7) & 0xF8), uint8_t((c >> 2) & 0xF8), uint8_t((c << 3) & 0xF8)};
}

// Writes pixels into one bottom-up row of a 24-bit or 16-bit (0RRRRRGGGGGBBBBB) picture.
class RowWriter
{
  public:
    RowWriter(uint8_t* row, bool wide) : m_at(row), m_wide(wide) {}
    void put(Bgr c)
    {
        if (m_wide) {
            m_at[0] = c.b;
            m_at[1] = c.g;
            m_at[2] = c.r;
            m_at += 3;
            return;
        }
        const auto v = uint16_t((c.r >> 3) << 10 | (c.g >> 3) << 5 | (c.b >> 3));
        m_at[0] = uint8_t(v);
        m_at[1] = uint8_t(v >> 8);
        m_at += 2;
    }

  private:
    uint8_t* m_at;
    bool m_wide;
};

// Whether `picture` is a header and rows for exactly the TIM's size, at 16 or 24 bits.
bool pictureFits(const FrameDib* picture, const TimShape& shape, size_t& stride)
{
    if (!picture || picture->headerSize != sizeof(FrameDib) || picture->planes != 1 ||
        (picture->bitCount != 24 && picture->bitCount != 16) || picture->compression != 0)
        return false;
    if (picture->width != int32_t(shape.width) || picture->height != int32_t(shape.height))
        return false;
    stride = (size_t(shape.width) * picture->bitCount + 31) / 32 * 4;
    return picture->imageSize >= stride * shape.height;
}

// Decodes a whole TIM (checked by wholeTim) into the picture; its top row becomes the last row.
void drawTim(const uint8_t* tim, const TimShape& shape, FrameDib* picture, size_t stride)
{
    const bool wide = picture->bitCount == 24;
    uint8_t* rows = reinterpret_cast<uint8_t*>(picture) + sizeof(FrameDib);
    std::array<Bgr, 256> table{};
    const uint32_t entries = std::min<uint32_t>(shape.tableEntries(), uint32_t(table.size()));
    for (uint32_t i = 0; i < entries; ++i)
        table[i] = fromColour16(le16(tim + shape.tableOffset() + 2 * i));
    // An index past a short table shows black.
    const uint8_t* pixels = tim + shape.pixelOffset();
    const size_t rowBytes = 2 * size_t(shape.wordsPerRow);
    for (uint32_t y = 0; y < shape.height; ++y) {
        const uint8_t* in = pixels + y * rowBytes;
        RowWriter out(rows + size_t(shape.height - 1 - y) * stride, wide);
        switch (shape.mode) {
        case 0:
            for (size_t i = 0; i < rowBytes; ++i) {
                out.put(table[in[i] & 0x0F]);
                out.put(table[in[i] >> 4]);
            }
            break;
        case 1:
            for (size_t i = 0; i < rowBytes; ++i)
                out.put(table[in[i]]);
            break;
        case 2:
            for (size_t i = 0; i < rowBytes; i += 2)
                out.put(fromColour16(le16(in + i)));
            break;
        default:
            for (uint32_t x = 0; x < shape.width; ++x, in += 3)
                out.put({in[2], in[1], in[0]});
            break;
        }
    }
}

// ---- open streams -----------------------------------------------------------------------------

struct Still
{
    bool delivered = false;
    std::vector<uint8_t> bytes;
};

// The open handles by the address of their bytes: a unit's address is decoded only while its
// handle is open, and a close waits for a decoding that has started.
std::mutex g_openLock;
std::map<const uint8_t*, const Still*> g_open;

Still* registerStill(Still* still)
{
    if (!still || still->bytes.empty()) {
        delete still;
        return nullptr;
    }
    try {
        std::lock_guard guard(g_openLock);
        g_open[still->bytes.data()] = still;
    } catch (...) {
        delete still;
        return nullptr;
    }
    return still;
}

void closeStill(Still* still)
{
    {
        std::lock_guard guard(g_openLock);
        g_open.erase(still->bytes.data());
    }
    delete still;
}

Still* openFileStill(const char* fileName, const StrInfo* info)
{
    PlainFile file;
    if (!file.open(fileName))
        return nullptr;
    uint64_t wanted = info ? info->dataBytes : 0;
    if (wanted == 0) {
        uint8_t head[kFileHeadBytes];
        const size_t got = size_t(std::min<uint64_t>(file.size(), sizeof head));
        TimShape shape;
        if (!file.readAt(0, head, got) || recognise(head, got, shape) != Verdict::Tim)
            return nullptr;
        wanted = shape.total;
    }
    if (wanted > file.size())
        return nullptr;
    auto* still = new (std::nothrow) Still;
    if (!still)
        return nullptr;
    still->bytes.resize(size_t(wanted));
    if (!file.readAt(0, still->bytes.data(), still->bytes.size())) {
        delete still;
        return nullptr;
    }
    return registerStill(still);
}

// The bytes grow with the sectors that arrive, so a damaged description costs no more memory
// than the disc gives.
Still* openDiscStill(int32_t drive, const StrInfo* info)
{
    if (!info || info->reserved >= kUserDataBytes || info->dataBytes == 0)
        return nullptr;
    const uint64_t needed =
        (uint64_t(info->dataBytes) + info->reserved + kUserDataBytes - 1) / kUserDataBytes;
    SectorStream stream;
    if (info->sectorCount < needed ||
        !stream.open(drive, info->startSector, info->sectorCount, kHighestSpeed, SectorForm::UserData))
        return nullptr;
    auto* still = new (std::nothrow) Still;
    if (!still)
        return nullptr;
    size_t from = info->reserved;
    while (still->bytes.size() < info->dataBytes) {
        const uint8_t* sector = stream.next();
        if (!sector)
            break;
        const size_t take = std::min<size_t>(info->dataBytes - still->bytes.size(), kUserDataBytes - from);
        still->bytes.insert(still->bytes.end(), sector + from, sector + from + take);
        stream.release(sector);
        from = 0;
    }
    if (still->bytes.size() < info->dataBytes) {
        delete still;
        return nullptr;
    }
    return registerStill(still);
}

int32_t readStill(Still& still, PsrReadRecord* record)
{
    TimShape shape;
    if (still.delivered || !wholeTim(still.bytes.data(), still.bytes.size(), shape))
        return 0;
    std::memset(record, 0, PSR_READ_HEADER_BYTES);
    record->frameNumber = 1;
    record->width = shape.width;
    record->height = shape.height;
    record->param = kStillParam;
    record->payloadBytes = sizeof(const uint8_t*);
    const uint8_t* address = still.bytes.data();
    std::memcpy(record->payload, &address, sizeof address);
    still.delivered = true;
    return 1;
}

intptr_t decodeUnit(const PsrReadRecord* record, FrameDib* picture)
{
    const uint8_t* address = nullptr;
    if (!record || record->payloadBytes != sizeof address)
        return -1;
    std::memcpy(&address, record->payload, sizeof address);
    std::lock_guard guard(g_openLock);
    const auto found = g_open.find(address);
    if (found == g_open.end())
        return -1;
    const std::vector<uint8_t>& bytes = found->second->bytes;
    TimShape shape;
    size_t stride = 0;
    if (!wholeTim(bytes.data(), bytes.size(), shape) || record->width != shape.width ||
        record->height != shape.height || !pictureFits(picture, shape, stride))
        return -1;
    drawTim(bytes.data(), shape, picture, stride);
    return reinterpret_cast<intptr_t>(picture);
}

// ---- disc probe -------------------------------------------------------------------------------

struct Found
{
    uint32_t sector = 0;
    uint32_t offset = 0;
    uint32_t size = 0;
    uint32_t width = 0;
    uint32_t height = 0;
};

struct Probe
{
    std::vector<Found> found;
    bool scanning = false; // a sector came since the scan was last settled
    uint8_t track = 0;
    uint32_t lastSector = 0;
    // A TIM that runs on past the sectors seen, and its bytes still to come.
    bool pending = false;
    Found pendingTim;
    uint64_t skipBytes = 0;
    // Bytes not judged yet, in front of the next sector; the first sits at carrySector/Offset.
    std::array<uint8_t, kLongestHeader + kUserDataBytes> work{};
    size_t carried = 0;
    uint32_t carrySector = 0;
    uint32_t carryOffset = 0;
};

void keep(Probe& probe, const Found& tim)
{
    if (roomForOne(probe.found, kCapacityStep))
        probe.found.push_back(tim);
}

void settle(Probe& probe)
{
    probe.pending = false;
    probe.skipBytes = 0;
    probe.carried = 0;
    probe.scanning = false;
}

// The first offset from `i` on, in steps of 2, whose two bytes are 10 00, the start of the
// identifier; `n` when there is none.
size_t nextCandidate(const uint8_t* bytes, size_t i, size_t n)
{
    static constexpr BytePattern kIdentifierStart = exactPattern("\x10\0", 2);
    return findPattern(bytes, n, kIdentifierStart, 2, i);
}

void probeSector(Probe& probe, const CdTocEntry& track, uint32_t lba, const uint8_t* sector)
{
    if (probe.scanning && (track.track != probe.track || lba != probe.lastSector + 1))
        settle(probe);
    probe.scanning = true;
    probe.track = track.track;
    probe.lastSector = lba;

    size_t start = 0;
    if (probe.pending) {
        if (probe.skipBytes >= kUserDataBytes) {
            probe.skipBytes -= kUserDataBytes;
            if (probe.skipBytes == 0) {
                probe.pending = false;
                keep(probe, probe.pendingTim);
            }
            return;
        }
        start = size_t(probe.skipBytes);
        probe.pending = false;
        probe.skipBytes = 0;
        keep(probe, probe.pendingTim);
    }

    // The bytes to search: those carried, then this sector's from `start` (the sector itself
    // when nothing is carried, which is nearly always).
    const size_t carried = probe.carried;
    const uint8_t* bytes = sector + start;
    size_t n = kUserDataBytes - start;
    if (carried) {
        std::memcpy(probe.work.data() + carried, bytes, n);
        bytes = probe.work.data();
        n += carried;
    }
    const auto place = [&](size_t i) {
        return i < carried ? Found{probe.carrySector, probe.carryOffset + uint32_t(i)}
                           : Found{lba, uint32_t(start + i - carried)};
    };
    probe.carried = 0;
    // Candidates are the even offsets (bytes[0] lies at an even offset of its sector) that hold
    // the identifier's first two bytes.
    for (size_t i = 0; (i = nextCandidate(bytes, i, n)) < n;) {
        TimShape shape;
        const Verdict verdict = recognise(bytes + i, n - i, shape);
        if (verdict == Verdict::None) {
            i += 2;
            continue;
        }
        if (verdict == Verdict::NeedMore) {
            // Judged again with the next sector behind it (n - i is below kLongestHeader).
            const Found at = place(i);
            std::memmove(probe.work.data(), bytes + i, n - i);
            probe.carried = n - i;
            probe.carrySector = at.sector;
            probe.carryOffset = at.offset;
            return;
        }
        Found tim = place(i);
        tim.size = shape.total;
        tim.width = shape.width;
        tim.height = shape.height;
        if (shape.total <= n - i) {
            keep(probe, tim);
            i += shape.total;
            continue;
        }
        probe.pending = true;
        probe.pendingTim = tim;
        probe.skipBytes = shape.total - (n - i);
        return;
    }
}

void describeFound(const Found& tim, StrInfo* info)
{
    TimShape shape;
    shape.width = tim.width;
    shape.height = tim.height;
    shape.total = tim.size;
    describeStill(info, shape);
    info->reserved = uint16_t(tim.offset);
    info->startSector = tim.sector;
    info->sectorCount = uint32_t((uint64_t(tim.size) + tim.offset + kUserDataBytes - 1) / kUserDataBytes);
}

bool describeFile(const char* fileName, StrInfo* info)
{
    PlainFile file;
    if (!file.open(fileName))
        return false;
    uint8_t head[kFileHeadBytes];
    const size_t got = size_t(std::min<uint64_t>(file.size(), sizeof head));
    TimShape shape;
    if (!file.readAt(0, head, got) || recognise(head, got, shape) != Verdict::Tim ||
        shape.total > file.size())
        return false;
    if (info)
        describeStill(info, shape);
    return true;
}

} // namespace

PSR_EXPORT int32_t PsrQueryPlugin(PsrPluginInfo* info)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        return describePlugin(info, "TIM", 110, 0, MediaRawSectors | MediaUserData | MediaFiles);
    });
}

PSR_EXPORT int32_t PsrIsSupportFile(const char* fileName)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t { return describeFile(fileName, nullptr) ? 1 : 0; });
}

PSR_EXPORT int32_t PsrGetStrFileInfo(const char* fileName, StrInfo* info)
{
    return tamrin::guarded<int32_t>(
        0, [&]() -> int32_t { return info && describeFile(fileName, info) ? 1 : 0; });
}

PSR_EXPORT int32_t PsrGetStrDataInfo(int32_t, uint32_t, uint32_t, StrInfo*)
{
    return 0;
}

PSR_EXPORT void* PsrIsSupportCDBegin(int32_t trackCount, const CdTocEntry* tracks)
{
    return tamrin::guarded<void*>(nullptr, [&]() -> void* {
        if (!hasDataTrack(tracks, trackCount))
            return nullptr;
        auto* probe = new Probe;
        probe->found.reserve(kFirstCapacity);
        return probe;
    });
}

PSR_EXPORT int32_t PsrIsSupportCDSector(void* context, CdTocEntry track, uint32_t lba, const uint8_t* sector)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        if (!context)
            return 0;
        Probe& probe = *static_cast<Probe*>(context);
        if (!sector || !isDataTrack(track)) {
            settle(probe);
            return 0;
        }
        probeSector(probe, track, lba, sector);
        return 1;
    });
}

PSR_EXPORT int32_t PsrIsSupportCDResult(void* context, int32_t index, StrInfo* info)
{
    return tamrin::guarded<int32_t>(-1, [&]() -> int32_t {
        if (!context)
            return info ? -1 : 0;
        Probe& probe = *static_cast<Probe*>(context);
        settle(probe); // a scan that reached its end: a TIM not yet whole is none
        return probeResult(probe.found, index, info, describeFound);
    });
}

PSR_EXPORT void PsrIsSupportCDEnd(void* context)
{
    tamrin::guardedVoid([&] { delete static_cast<Probe*>(context); });
}

PSR_EXPORT void* PsrOpenFile(const char* fileName, StrInfo* info)
{
    return tamrin::guarded<void*>(nullptr, [&]() -> void* { return openFileStill(fileName, info); });
}

PSR_EXPORT void* PsrOpenCD(int32_t drive, StrInfo* info)
{
    return tamrin::guarded<void*>(nullptr, [&]() -> void* { return openDiscStill(drive, info); });
}

PSR_EXPORT int32_t PsrRead(void* handle, PsrReadRecord* record)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        if (!handle || !record)
            return 0;
        return readStill(*static_cast<Still*>(handle), record);
    });
}

PSR_EXPORT int32_t PsrSeek(void* handle, uint32_t)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        if (!handle)
            return 0;
        static_cast<Still*>(handle)->delivered = false;
        return 1;
    });
}

PSR_EXPORT int32_t PsrClose(void* handle)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        if (!handle)
            return 0;
        closeStill(static_cast<Still*>(handle));
        return 1;
    });
}

PSR_EXPORT intptr_t PsrDecodeFrame(PsrReadRecord* record, FrameDib* picture)
{
    return tamrin::guarded<intptr_t>(-1, [&]() -> intptr_t { return decodeUnit(record, picture); });
}
