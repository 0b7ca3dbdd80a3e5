// Tunebank: chunked sequence music ("SCEI Midi") in files and in the user data of data tracks.
// Each event block of the MIDI chunk is one music stream; its compressed events
// (tunebank_events.h) are delivered as raw sequencer events in MIDI file encoding.
//
// Chunk (little-endian), one after the other:
//   0x00 char[8] tag    "IECSsreV" version, "IECSuqeS" sequence, "IECSidiM" MIDI
//   0x08 u32     size   of the whole chunk, these 12 bytes included
//   0x0C ...     content
// MIDI chunk content:
//   0x0C u32          m, the last block index (m + 1 blocks)
//   0x10 u32[m + 1]   offset of each block from the chunk start; block i ends where block i + 1
//                     starts, the last one at the end of the chunk
//
// File: the chunks are walked from the start; a tag that does not begin with "IECS" ends the walk
// unsupported; block 0 of the first MIDI chunk is the file's stream.
//
// Disc: the user data of a data track's sectors, in order, is one byte stream. A version chunk,
// the sequence chunk right after it and the MIDI chunk right after that are matched as the bytes
// come (a mismatch resumes the search at the byte that did not match, so that a version chunk
// right after another is found); the MIDI chunk (at most 1 MiB) is copied whole, and its blocks
// 0, 1, ... become streams up to the first one not taken. A stream's place is the byte address of
// its block: startSector = address / 2048, reserved = address % 2048.
// A jump in the sector numbers, or a sector of another track, drops a chain still being matched.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "sectorkit/find_pattern.h"
#include "sectorkit/music_events.h"
#include "sectorkit/plain_file.h"
#include "sectorkit/plugin_info.h"
#include "sectorkit/sector_stream.h"
#include "streamkit/psr.h"
#include "tamrin_common/c_guard.h"
#include "tunebank_events.h"

namespace {

using namespace sectorkit;
using namespace tunebank;

constexpr size_t kChunkHeaderBytes = 12;
constexpr size_t kMidiTableOffset = 16;
// Sequence music is small; a size field above this is damage, not a chunk to allocate.
constexpr uint32_t kMaxChunkBytes = uint32_t(1) << 20;
constexpr size_t kFirstCapacity = 10;
constexpr size_t kTagBytes = 8;
constexpr char kTagPrefix[] = "IECS";
constexpr char kVersionTag[] = "IECSsreV";
constexpr char kSequenceTag[] = "IECSuqeS";
constexpr char kMidiTag[] = "IECSidiM";

uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Where block `index` of a MIDI chunk lies: [begin, end) inside the chunk. False when the chunk
// has no such block or the block's bounds fall outside the chunk.
bool blockBounds(const std::vector<uint8_t>& chunk, uint64_t index, size_t* begin, size_t* end)
{
    if (chunk.size() < kMidiTableOffset)
        return false;
    const uint64_t blocks = uint64_t(le32(chunk.data() + 12)) + 1;
    if (index >= blocks || kMidiTableOffset + 4 * blocks > chunk.size())
        return false;
    const uint32_t from = le32(chunk.data() + kMidiTableOffset + 4 * index);
    const uint32_t to =
        index + 1 < blocks ? le32(chunk.data() + kMidiTableOffset + 4 * (index + 1)) : uint32_t(chunk.size());
    if (from > to || to > chunk.size())
        return false;
    *begin = from;
    *end = to;
    return true;
}

void describeStream(const BlockSummary& block, StrInfo* info)
{
    std::memset(info, 0, sizeof *info);
    info->kind = StrMusic;
    info->durationMs = block.durationMs;
    info->channels = 0x0402; // 4/4
    info->bitsPerSample = block.resolution;
    info->sampleRate = block.firstTempo;
    info->dataBytes = block.dataBytes;
}

// ---- files ------------------------------------------------------------------------------------

// The first MIDI chunk of a file, whole.
bool readMidiChunk(const char* name, std::vector<uint8_t>& chunk)
{
    PlainFile file;
    if (!file.open(name))
        return false;
    uint64_t at = 0;
    uint8_t header[kChunkHeaderBytes];
    while (at + kChunkHeaderBytes <= file.size()) {
        if (!file.readAt(at, header, sizeof header) || std::memcmp(header, kTagPrefix, 4) != 0)
            return false;
        const uint32_t size = le32(header + 8);
        if (size < kChunkHeaderBytes || size > file.size() - at)
            return false;
        if (std::memcmp(header, kMidiTag, kTagBytes) == 0) {
            if (size > kMaxChunkBytes)
                return false;
            chunk.resize(size);
            return file.readAt(at, chunk.data(), size);
        }
        at += size;
    }
    return false;
}

bool describeFile(const char* name, StrInfo* info)
{
    std::vector<uint8_t> chunk;
    size_t begin = 0, end = 0;
    BlockSummary block;
    if (!readMidiChunk(name, chunk) || !blockBounds(chunk, 0, &begin, &end) ||
        !describeBlock(chunk.data() + begin, end - begin, block))
        return false;
    describeStream(block, info);
    return true;
}

// ---- probe ------------------------------------------------------------------------------------

// Where the version tag lies whole in p[from .. n): its offset, or n when it does not. Its first
// four bytes are searched for (a single byte stops the search several times a sector), the rest
// compared at each place they lie.
size_t findVersionTag(const uint8_t* p, size_t from, size_t n)
{
    if (n < kTagBytes)
        return n;
    constexpr BytePattern kTagStart = exactPattern(kVersionTag, 4);
    const size_t end = n - (kTagBytes - 4); // a start past it leaves no room for the whole tag
    for (size_t j = from; (j = findPattern(p, end, kTagStart, 1, j)) < end; ++j)
        if (std::memcmp(p + j, kVersionTag, kTagBytes) == 0)
            return j;
    return n;
}

struct Finding
{
    uint64_t address = 0; // of the block on the disc, in user-data bytes
    BlockSummary block;
};

void describeFinding(const Finding& f, StrInfo* info)
{
    describeStream(f.block, info);
    info->reserved = uint16_t(f.address % kUserDataBytes);
    info->startSector = uint32_t(f.address / kUserDataBytes);
    info->sectorCount =
        uint32_t((info->reserved + uint64_t(f.block.dataBytes) + kUserDataBytes - 1) / kUserDataBytes);
}

class ChainMatcher
{
  public:
    // Feeds the user data of the sector at `lba`; complete MIDI chunks go to `found`.
    void feed(const uint8_t* p, size_t n, uint32_t lba, std::vector<Finding>& found)
    {
        if (m_fed && lba != m_lastLba + 1)
            restart();
        m_fed = true;
        m_lastLba = lba;
        size_t i = 0;
        while (i < n) {
            switch (m_step) {
            case Step::Search:
                if (m_matched == 0) {
                    // Most sectors hold no chain: the whole tag is searched for at once, and only
                    // a start of it at the very end of the sector is carried into the next.
                    const size_t hit = findVersionTag(p, i, n);
                    if (hit < n) {
                        i = hit + kTagBytes;
                        next(Step::Size, Chunk::Version);
                        break;
                    }
                    m_matched = tagStartAtEnd(p + i, n - i);
                    return;
                }
                if (p[i] == uint8_t(kVersionTag[m_matched])) {
                    ++i;
                    if (++m_matched == kTagBytes)
                        next(Step::Size, Chunk::Version);
                } else {
                    m_matched = 0; // the byte is looked at again as a possible start
                }
                break;
            case Step::Tag:
                if (p[i] != uint8_t(tag()[m_matched])) {
                    // What matched of the shared "IECS" may begin a version tag; the byte is
                    // looked at again by the search.
                    const size_t shared = std::min<size_t>(m_matched, 4);
                    restart();
                    m_matched = shared;
                    break;
                }
                ++i;
                if (++m_matched == kTagBytes)
                    next(Step::Size, m_chunk);
                break;
            case Step::Size:
                m_size[m_matched++] = p[i++];
                if (m_matched == 4)
                    sizeRead();
                break;
            case Step::Skip: {
                const size_t take = std::min<size_t>(m_left, n - i);
                i += take;
                m_left -= uint32_t(take);
                if (m_left == 0)
                    next(Step::Tag, m_chunk == Chunk::Version ? Chunk::Sequence : Chunk::Midi);
                break;
            }
            case Step::Copy: {
                const size_t take = std::min<size_t>(m_left, n - i);
                const size_t at = m_midi.size();
                m_midi.resize(at + take); // within the capacity reserved
                std::memcpy(m_midi.data() + at, p + i, take);
                i += take;
                m_left -= uint32_t(take);
                if (m_left == 0) {
                    const uint64_t end = uint64_t(lba) * kUserDataBytes + i;
                    chunkFound(end - m_midi.size(), found);
                    restart();
                }
                break;
            }
            }
        }
    }

    // A chain of another track or after a gap is no chain.
    void restart()
    {
        m_step = Step::Search;
        m_matched = 0;
        m_left = 0;
        m_midi.clear();
    }

  private:
    enum class Step
    {
        Search,
        Tag,
        Size,
        Skip,
        Copy,
    };
    enum class Chunk
    {
        Version,
        Sequence,
        Midi,
    };

    const char* tag() const { return m_chunk == Chunk::Sequence ? kSequenceTag : kMidiTag; }

    // The length of the longest end of `p[0 .. n)` that begins the version tag (shorter than it).
    static size_t tagStartAtEnd(const uint8_t* p, size_t n)
    {
        for (size_t k = std::min(n, kTagBytes - 1); k > 0; --k)
            if (std::memcmp(p + n - k, kVersionTag, k) == 0)
                return k;
        return 0;
    }

    void next(Step step, Chunk chunk)
    {
        m_step = step;
        m_chunk = chunk;
        m_matched = 0;
    }

    void sizeRead()
    {
        const uint32_t size = le32(m_size);
        const uint32_t least = m_chunk == Chunk::Midi ? kMidiTableOffset + 4 : kChunkHeaderBytes;
        if (size < least || size > kMaxChunkBytes) {
            restart();
            return;
        }
        m_left = size - uint32_t(kChunkHeaderBytes);
        if (m_chunk != Chunk::Midi) {
            m_step = Step::Skip;
            if (m_left == 0)
                next(Step::Tag, m_chunk == Chunk::Version ? Chunk::Sequence : Chunk::Midi);
            return;
        }
        try {
            m_midi.clear();
            m_midi.reserve(size);
        } catch (const std::bad_alloc&) {
            restart();
            return;
        }
        m_midi.resize(kChunkHeaderBytes); // within the capacity reserved
        std::memcpy(m_midi.data(), kMidiTag, kTagBytes);
        std::memcpy(m_midi.data() + kTagBytes, m_size, sizeof m_size);
        m_step = Step::Copy;
    }

    // Blocks 0, 1, ... of the chunk at disc address `address`, up to the first one not taken.
    void chunkFound(uint64_t address, std::vector<Finding>& found)
    {
        const uint64_t last = le32(m_midi.data() + 12);
        const size_t step = size_t(std::max<uint64_t>(std::min<uint64_t>(last + 10, m_midi.size()), 10));
        size_t begin = 0, end = 0;
        for (uint64_t index = 0; blockBounds(m_midi, index, &begin, &end); ++index) {
            Finding f;
            if (!describeBlock(m_midi.data() + begin, end - begin, f.block))
                return;
            if (!roomForOne(found, step))
                return; // out of memory: the rest goes unrecorded
            f.address = address + begin;
            found.push_back(f);
        }
    }

    Step m_step = Step::Search;
    Chunk m_chunk = Chunk::Version;
    size_t m_matched = 0; // bytes of the tag or the size field seen
    uint8_t m_size[4] = {};
    uint32_t m_left = 0; // bytes to skip or to copy
    std::vector<uint8_t> m_midi;
    bool m_fed = false;
    uint32_t m_lastLba = 0;
};

struct ProbeContext
{
    std::vector<Finding> findings;
    ChainMatcher matcher;
};

// ---- streams ----------------------------------------------------------------------------------

struct Stream
{
    std::vector<uint8_t> block; // header and events, dataBytes long
    uint32_t firstTempo = 0;
    uint16_t resolution = 0;
    Cursor cursor;
    bool ended = false;

    void restart()
    {
        cursor = Cursor{};
        cursor.tempo = firstTempo;
        ended = false;
    }
};

// Takes the block bytes read for a stream; null when they are no block.
Stream* makeStream(std::vector<uint8_t>&& block, const StrInfo& info)
{
    if (block.size() < kBlockHeaderBytes || le32(block.data()) != kEventsOffset)
        return nullptr;
    auto stream = std::make_unique<Stream>();
    stream->resolution = uint16_t(block[4] | block[5] << 8);
    stream->block = std::move(block);
    stream->firstTempo = info.sampleRate;
    stream->restart();
    return stream.release();
}

void* openFile(const char* name, const StrInfo* given)
{
    StrInfo info{};
    if (given)
        info = *given;
    else if (!describeFile(name, &info))
        return nullptr;
    std::vector<uint8_t> chunk;
    size_t begin = 0, end = 0;
    if (!readMidiChunk(name, chunk) || !blockBounds(chunk, 0, &begin, &end))
        return nullptr;
    if (info.dataBytes < kBlockHeaderBytes || info.dataBytes > chunk.size() - begin)
        return nullptr;
    return makeStream(std::vector<uint8_t>(chunk.begin() + std::ptrdiff_t(begin),
                                           chunk.begin() + std::ptrdiff_t(begin + info.dataBytes)),
                      info);
}

void* openDisc(int32_t drive, const StrInfo& info)
{
    if (info.dataBytes < kBlockHeaderBytes || info.dataBytes > kMaxChunkBytes ||
        info.reserved >= kUserDataBytes)
        return nullptr;
    SectorStream sectors;
    if (!sectors.open(drive, info.startSector, info.sectorCount, kHighestSpeed, SectorForm::UserData))
        return nullptr;
    std::vector<uint8_t> block(info.dataBytes);
    if (sectors.readBytes(block.data(), block.size(), info.reserved) != block.size())
        return nullptr;
    return makeStream(std::move(block), info);
}

// Events from the read position until the unit holds kUnitFillBytes; where the events run out
// without an end of track, one is written in place of what is missing.
int32_t readUnit(Stream& s, PsrReadRecord* record)
{
    std::memset(record, 0, PSR_READ_HEADER_BYTES);
    if (s.ended)
        return 0;
    MusicUnitWriter writer(record->payload, kUnitPayloadBytes);
    Event event;
    while (writer.size() < kUnitFillBytes) {
        const Parsed parsed = s.cursor.step(s.block.data(), s.block.size(), event);
        if (parsed == Parsed::Error) {
            s.ended = true;
            break;
        }
        if (parsed == Parsed::Incomplete) {
            event.kind = EventKind::EndOfTrack;
            event.length = 0;
        }
        if (!writeEvent(writer, event)) {
            s.ended = true; // cannot happen below kUnitFillBytes: every event is bounded
            break;
        }
        if (event.kind == EventKind::EndOfTrack) {
            s.ended = true;
            break;
        }
    }
    record->payloadBytes = uint32_t(writer.size());
    return writer.size() ? 1 : 0;
}

int32_t seekStream(Stream& s, uint32_t positionMs)
{
    s.restart();
    const uint64_t target = uint64_t(s.resolution) * 1000 * positionMs;
    if (target == 0)
        return 1;
    Event event;
    for (;;) {
        if (s.cursor.step(s.block.data(), s.block.size(), event) != Parsed::Event) {
            s.cursor.position = s.block.size();
            s.ended = true;
            return 0;
        }
        if (s.cursor.time >= target) {
            s.ended = event.kind == EventKind::EndOfTrack;
            return 1;
        }
        if (event.kind == EventKind::EndOfTrack) {
            s.ended = true;
            return 0;
        }
    }
}

} // namespace

// ---- exports ----------------------------------------------------------------------------------

PSR_EXPORT int32_t PsrQueryPlugin(PsrPluginInfo* info)
{
    return tamrin::guarded<int32_t>(0, [&] {
        return describePlugin(info, "SCEI Midi", 101, 101, MediaRawSectors | MediaUserData | MediaFiles);
    });
}

PSR_EXPORT int32_t PsrIsSupportFile(const char* fileName)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        PlainFile file;
        uint8_t head[4];
        return file.open(fileName) && file.size() >= sizeof head && file.readAt(0, head, sizeof head) &&
               std::memcmp(head, kTagPrefix, sizeof head) == 0;
    });
}

PSR_EXPORT int32_t PsrGetStrFileInfo(const char* fileName, StrInfo* info)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t { return info && describeFile(fileName, info); });
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
        auto probe = std::make_unique<ProbeContext>();
        probe->findings.reserve(kFirstCapacity);
        return probe.release();
    });
}

PSR_EXPORT int32_t PsrIsSupportCDSector(void* context, CdTocEntry track, uint32_t lba, const uint8_t* sector)
{
    return tamrin::guarded<int32_t>(0, [&] {
        auto* probe = static_cast<ProbeContext*>(context);
        if (!probe || !sector)
            return 0; // the final call: only whole chains were ever recorded
        if (!isDataTrack(track)) {
            probe->matcher.restart();
            return 0;
        }
        probe->matcher.feed(sector, kUserDataBytes, lba, probe->findings);
        return 1;
    });
}

PSR_EXPORT int32_t PsrIsSupportCDResult(void* context, int32_t index, StrInfo* info)
{
    return tamrin::guarded<int32_t>(0, [&] {
        const auto* probe = static_cast<const ProbeContext*>(context);
        return probe ? probeResult(probe->findings, index, info, describeFinding) : 0;
    });
}

PSR_EXPORT void* PsrOpenFile(const char* fileName, StrInfo* info)
{
    return tamrin::guarded<void*>(nullptr, [&] { return openFile(fileName, info); });
}

PSR_EXPORT void* PsrOpenCD(int32_t drive, StrInfo* info)
{
    return tamrin::guarded<void*>(nullptr, [&] { return info ? openDisc(drive, *info) : nullptr; });
}

#include "sectorkit/stream_exports.h"
