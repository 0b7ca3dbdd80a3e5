// Duskaudio: "SS2 Audio", a two-chunk container of interleaved SPU ADPCM or 16-bit PCM, as files
// and as file data in the data tracks of a disc. The plugin delivers the stored bytes; the host
// decodes them by unit kind: runs of cbIntlv bytes per channel, (log2(cbIntlv) - 3) | 0x20 for
// SPU ADPCM, | 0x60 for PCM.
//
// Header chunk (little-endian u32 fields):
//   0x00 "SShd"
//   0x04 cbHeader      bytes of the chunk after its first 8, 24 to 24 000
//   0x08 type          1 = 16-bit PCM, 16 = SPU ADPCM
//   0x0C sample rate
//   0x10 channels      1 or 2
//   0x14 cbIntlv       bytes of one channel's run, a power of two from 16 to 262 144
//   0x18 two u32 of unknown use
// Data chunk at 8 + cbHeader:
//   0x00 "SSbd"
//   0x04 cbAllData     bytes of sound data
//   0x08 groups of one cbIntlv run per channel (left, then right)
// Stream size: cbHeader + cbAllData + 16.
//
// Disc probe (2048-byte user data, sector by sector): a header chunk is looked for at every 4-byte
// step while 40 bytes remain. Its data chunk tag may lie in a later sector: the sectors up to it
// are passed over, and the tag is gathered there (across a sector boundary if need be); a wrong
// tag drops the stream. Then the sound data is passed over, and the stream counts when all of it
// has been seen. A stream broken by a gap in the sector numbers, the end of a data track or the
// closing call (null sector) is dropped.
#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <vector>

#include "sectorkit/find_pattern.h"
#include "sectorkit/plugin_info.h"
#include "sectorkit/stored_sound.h"
#include "streamkit/psr.h"
#include "tamrin_common/c_guard.h"

namespace {

using namespace sectorkit;

constexpr size_t kHeaderBytes = 32; // the part of the header chunk that is read
constexpr size_t kTagBytes = 8;     // a chunk's tag and size
constexpr size_t kSearchBytes = 40; // what must remain of a sector for a header chunk to start
constexpr uint32_t kMinHeader = 24;
constexpr uint32_t kMaxHeader = 24000;
constexpr uint32_t kTypePcm = 1;
constexpr uint32_t kTypeAdpcm = 16;
constexpr uint32_t kMinInterleave = 16;
constexpr uint32_t kMaxInterleave = 262144;
constexpr uint32_t kUnitBytes = 8192;
constexpr size_t kTableStep = 48;
constexpr const char* kPluginName = "SS2 Audio";
constexpr uint16_t kPluginVersion = 100;

uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

struct Header
{
    uint32_t headerBytes = 0; // cbHeader
    uint32_t type = 0;
    uint32_t rate = 0;
    uint32_t channels = 0;
    uint32_t interleave = 0;
    uint32_t dataBytes = 0; // cbAllData, from the data chunk

    bool adpcm() const { return type == kTypeAdpcm; }
    uint64_t streamBytes() const { return uint64_t(headerBytes) + dataBytes + 16; }
    uint64_t tagAt() const { return 8 + uint64_t(headerBytes); } // from the header chunk's start
    uint32_t groupBytes() const { return channels * interleave; }
    // Samples of one channel in `bytes` bytes of sound data.
    uint64_t samples(uint64_t bytes) const
    {
        return adpcm() ? bytes / 16 * 28 / channels : bytes / 2 / channels;
    }
    // Samples in one channel's run.
    uint32_t runSamples() const { return adpcm() ? interleave / 16 * 28 : interleave / 2; }
    // Runs above 8192 bytes give no unit, so the kinds delivered stay below ADX's 0x2F.
    uint8_t unitKind() const
    {
        const auto runCode = uint8_t(std::countr_zero(interleave) - 3);
        return uint8_t(runCode | (adpcm() ? 0x20 : 0x60));
    }
};

// The first 32 bytes of a header chunk; false when a field is outside what the format allows.
bool parseHeader(const uint8_t* p, Header& h)
{
    if (std::memcmp(p, "SShd", 4) != 0)
        return false;
    h.headerBytes = le32(p + 4);
    h.type = le32(p + 8);
    h.rate = le32(p + 12);
    h.channels = le32(p + 16);
    h.interleave = le32(p + 20);
    return h.headerBytes >= kMinHeader && h.headerBytes <= kMaxHeader &&
           (h.type == kTypePcm || h.type == kTypeAdpcm) && (h.channels == 1 || h.channels == 2) &&
           h.interleave >= kMinInterleave && h.interleave <= kMaxInterleave &&
           std::has_single_bit(h.interleave);
}

// The data chunk's tag and size; false when the tag is not "SSbd".
bool parseDataTag(const uint8_t* p, Header& h)
{
    if (std::memcmp(p, "SSbd", 4) != 0)
        return false;
    h.dataBytes = le32(p + 4);
    return true;
}

void describe(const Header& h, StrInfo* info)
{
    std::memset(info, 0, sizeof *info);
    info->kind = StrAudio;
    info->audioFormat = 1;
    info->channels = uint16_t(h.channels);
    info->bitsPerSample = 16;
    info->sampleRate = h.rate;
    // The header allows any rate; a rate of 0 gives no play time rather than a division by 0.
    if (h.rate != 0)
        info->durationMs = uint32_t(std::min<uint64_t>(h.samples(h.dataBytes) * 1000 / h.rate, UINT32_MAX));
    info->dataBytes = uint32_t(std::min<uint64_t>(h.streamBytes(), UINT32_MAX));
}

// ---- probe ------------------------------------------------------------------------------------

struct Finding
{
    uint64_t address = 0; // of the header chunk, in bytes of the track's user data
    Header header;
};

struct ProbeContext
{
    std::vector<Finding> found;
    // The stream whose bytes run on into the next sectors: first the bytes up to the data chunk
    // tag, then the tag gathered, then the sound data passed over.
    bool pending = false;
    Finding current;
    uint64_t toTag = 0;
    uint8_t tag[kTagBytes] = {};
    size_t tagHave = 0;
    bool tagRead = false;
    uint64_t dataLeft = 0;
    uint32_t nextLba = 0;
};

void keep(ProbeContext& probe, const Finding& f)
{
    if (roomForOne(probe.found, kTableStep))
        probe.found.push_back(f);
}

enum class Outcome
{
    Pending, // the sector ended first
    Counted,
    Dropped, // the data chunk tag was wrong
};

// Takes the pending stream's bytes of `s` from `pos` on; `pos` moves past them.
Outcome advance(ProbeContext& probe, const uint8_t* s, size_t& pos)
{
    if (!probe.tagRead) {
        const size_t skip = size_t(std::min<uint64_t>(probe.toTag, kUserDataBytes - pos));
        pos += skip;
        probe.toTag -= skip;
        if (probe.toTag != 0)
            return Outcome::Pending;
        const size_t take = std::min(kTagBytes - probe.tagHave, kUserDataBytes - pos);
        std::memcpy(probe.tag + probe.tagHave, s + pos, take);
        probe.tagHave += take;
        pos += take;
        if (probe.tagHave < kTagBytes)
            return Outcome::Pending;
        if (!parseDataTag(probe.tag, probe.current.header)) {
            probe.pending = false;
            return Outcome::Dropped;
        }
        probe.tagRead = true;
        probe.dataLeft = probe.current.header.dataBytes;
    }
    const size_t skip = size_t(std::min<uint64_t>(probe.dataLeft, kUserDataBytes - pos));
    pos += skip;
    probe.dataLeft -= skip;
    if (probe.dataLeft != 0)
        return Outcome::Pending;
    probe.pending = false;
    keep(probe, probe.current);
    return Outcome::Counted;
}

void probeSector(ProbeContext& probe, uint32_t lba, const uint8_t* s)
{
    if (probe.pending && lba != probe.nextLba)
        probe.pending = false;
    probe.nextLba = lba + 1;
    size_t pos = 0;
    if (probe.pending && advance(probe, s, pos) == Outcome::Pending)
        return;
    constexpr size_t kLastHeader = kUserDataBytes - kSearchBytes;
    constexpr BytePattern kHeaderTag = exactPattern("SShd", 4);
    while ((pos = findPattern(s, kLastHeader + 4, kHeaderTag, 4, pos)) <= kLastHeader) {
        Finding f;
        if (!parseHeader(s + pos, f.header)) {
            pos += 4;
            continue;
        }
        f.address = uint64_t(lba) * kUserDataBytes + pos;
        probe.pending = true;
        probe.current = f;
        probe.toTag = f.header.tagAt();
        probe.tagHave = 0;
        probe.tagRead = false;
        size_t end = pos;
        switch (advance(probe, s, end)) {
        case Outcome::Pending:
            return;
        case Outcome::Counted:
            pos = end;
            break;
        case Outcome::Dropped:
            // A tag in this sector that is not the data chunk's: the search goes on after the
            // header. (One in a later sector has had the sectors before it passed over.)
            pos += 4;
            break;
        }
    }
}

// ---- streams ----------------------------------------------------------------------------------

// Reads both chunk headers of the stream whose header chunk starts at `at`; the position is then
// at the sound data.
bool readHeaders(StoredBytes& bytes, uint64_t at, Header& h)
{
    uint8_t head[kHeaderBytes];
    uint8_t tag[kTagBytes];
    return bytes.seek(at) && bytes.read(head, sizeof head) && parseHeader(head, h) &&
           bytes.seek(at + h.tagAt()) && bytes.read(tag, sizeof tag) && parseDataTag(tag, h);
}

bool startSound(GroupedSound& sound, uint64_t at)
{
    Header h;
    if (!readHeaders(sound.bytes, at, h))
        return false;
    sound.dataStart = at + h.tagAt() + kTagBytes;
    sound.groupBytes = h.groupBytes();
    // A file shorter than its data chunk says plays the whole groups it holds.
    const uint64_t stored =
        std::min<uint64_t>(h.dataBytes, sound.bytes.size() - std::min(sound.bytes.size(), sound.dataStart));
    sound.groups = stored / sound.groupBytes;
    sound.unitBytes = kUnitBytes;
    sound.unitKind = h.unitKind();
    sound.sampleRate = h.rate;
    sound.groupSamples = h.runSamples();
    return sound.start();
}

void* openFile(const char* name)
{
    auto sound = std::make_unique<GroupedSound>();
    if (!sound->bytes.openFile(name) || !startSound(*sound, 0))
        return nullptr;
    return sound.release();
}

void* openDisc(int32_t drive, const StrInfo& info)
{
    auto sound = std::make_unique<GroupedSound>();
    if (info.reserved >= kUserDataBytes ||
        !sound->bytes.openDisc(drive, info.startSector, info.sectorCount) ||
        !startSound(*sound, info.reserved))
        return nullptr;
    return sound.release();
}

bool fileHeader(const char* name, Header& h)
{
    StoredBytes file;
    return file.openFile(name) && readHeaders(file, 0, h);
}

} // namespace

// ---- exports ----------------------------------------------------------------------------------

#include "sectorkit/stored_sound_exports.h"
