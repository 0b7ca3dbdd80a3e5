// Marlsound: headered PlayStation SPU ADPCM sound ("ADPCM type-1"), as files and as file data in
// the data tracks of a disc. The plugin delivers the stored blocks; the host decodes them as SPU
// ADPCM with one 16-byte block per channel and run (unitKind 0x21).
//
// Header (32 bytes, little-endian u32 each):
//   0x00 cbOffset      bytes between the header and the sound data, at most 8192
//   0x04 sample rate   22050 to 48000
//   0x08 channels      1 or 2
//   0x0C bits          16
//   0x10 nBlock        16-byte blocks per channel, 1 to 800 000
//   0x14 three u32 of unknown use
// Sound data at 0x20 + cbOffset: nBlock groups of one block per channel (left, then right). Each
// block: shift/filter byte, flags byte, 14 bytes of 28 samples.
//
// Disc probe (2048-byte user data, sector by sector): a header is looked for at every 4-byte step
// while 32 bytes remain; the rest of its sector is taken as its own. Its bytes in later sectors
// are checked block by block (shift/filter byte with a filter of at most 4; flags byte with no bit
// beyond the end, repeat and loop-start flags, which encoders set on a sound's last block): the
// first failing block drops it, and the rest of that sector is passed over; when all its blocks
// have passed it counts. A stream broken by a gap in the sector numbers, the end of a data track
// or the closing call (null sector) is dropped.
#include <algorithm>
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

constexpr size_t kHeaderBytes = 32;
constexpr uint32_t kMaxOffset = 8192;
constexpr uint32_t kMaxBlocks = 800000;
constexpr size_t kBlockBytes = 16;
constexpr uint32_t kSamplesPerBlock = 28;
constexpr uint32_t kUnitBytes = 4096;
constexpr uint8_t kUnitKind = 0x21; // SPU ADPCM, runs of one block
constexpr size_t kTableStep = 48;
constexpr const char* kPluginName = "ADPCM type-1";
constexpr uint16_t kPluginVersion = 100;
constexpr uint8_t kLastFlags = 0x07; // end, repeat, loop start

uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

struct Header
{
    uint32_t offset = 0;
    uint32_t rate = 0;
    uint32_t channels = 0;
    uint32_t blocks = 0;

    uint64_t dataBytes() const { return uint64_t(channels) * blocks * kBlockBytes; }
    uint64_t streamBytes() const { return offset + (uint64_t(channels) * blocks + 2) * kBlockBytes; }
};

// The 32 bytes at `p` as a header; false when a field is outside what the format allows.
bool parseHeader(const uint8_t* p, Header& h)
{
    if (le32(p + 12) != 16)
        return false;
    h.offset = le32(p);
    h.rate = le32(p + 4);
    h.channels = le32(p + 8);
    h.blocks = le32(p + 16);
    return h.offset <= kMaxOffset && h.rate >= 22050 && h.rate <= 48000 &&
           (h.channels == 1 || h.channels == 2) && h.blocks >= 1 && h.blocks <= kMaxBlocks;
}

void describe(const Header& h, StrInfo* info)
{
    std::memset(info, 0, sizeof *info);
    info->kind = StrAudio;
    info->audioFormat = 1;
    info->channels = uint16_t(h.channels);
    info->bitsPerSample = 16;
    info->sampleRate = h.rate;
    info->durationMs = uint32_t(uint64_t(h.blocks) * kSamplesPerBlock * 1000 / h.rate);
    info->dataBytes = uint32_t(h.streamBytes());
}

// ---- probe ------------------------------------------------------------------------------------

struct Finding
{
    uint64_t address = 0; // of the header, in bytes of the track's user data
    Header header;
};

struct ProbeContext
{
    std::vector<Finding> found;
    // The stream whose bytes run on into the next sectors.
    bool pending = false;
    Finding current;
    uint64_t skipLeft = 0; // header and cbOffset bytes still to pass
    uint64_t dataDone = 0; // data bytes passed so far
    uint32_t nextLba = 0;
};

void keep(ProbeContext& probe, const Finding& f)
{
    if (roomForOne(probe.found, kTableStep))
        probe.found.push_back(f);
}

// Checks the pending stream's data in `s` from `pos` on. The position after them, or
// kUserDataBytes + 1 when a block fails (the stream is then dropped).
size_t checkPending(ProbeContext& probe, const uint8_t* s, size_t pos)
{
    const size_t skip = size_t(std::min<uint64_t>(probe.skipLeft, kUserDataBytes - pos));
    pos += skip;
    probe.skipLeft -= skip;
    const uint64_t total = probe.current.header.dataBytes();
    while (pos < kUserDataBytes && probe.dataDone < total) {
        const size_t inBlock = size_t(probe.dataDone % kBlockBytes);
        if ((inBlock == 0 && (s[pos] >> 4) > 4) || (inBlock == 1 && s[pos] > kLastFlags)) {
            probe.pending = false;
            return kUserDataBytes + 1;
        }
        const size_t step = inBlock <= 1 ? 1 : kBlockBytes - inBlock;
        const size_t take = size_t(std::min<uint64_t>({step, kUserDataBytes - pos, total - probe.dataDone}));
        pos += take;
        probe.dataDone += take;
    }
    if (probe.dataDone == total && probe.skipLeft == 0) {
        probe.pending = false;
        keep(probe, probe.current);
    }
    return pos;
}

void probeSector(ProbeContext& probe, uint32_t lba, const uint8_t* s)
{
    if (probe.pending && lba != probe.nextLba)
        probe.pending = false;
    probe.nextLba = lba + 1;
    size_t pos = 0;
    if (probe.pending) {
        pos = checkPending(probe, s, pos);
        if (probe.pending || pos > kUserDataBytes)
            return;
    }
    constexpr size_t kLastHeader = kUserDataBytes - kHeaderBytes;
    // Candidates are the places whose bits field (0x0C) holds 16.
    constexpr BytePattern kBits = exactPattern("\x10\0\0\0", 4);
    while ((pos = findPattern(s + 12, kLastHeader + 4, kBits, 4, pos)) <= kLastHeader) {
        Finding f;
        if (!parseHeader(s + pos, f.header)) {
            pos += 4;
            continue;
        }
        f.address = uint64_t(lba) * kUserDataBytes + pos;
        const uint64_t lead = kHeaderBytes + f.header.offset;
        const uint64_t total = lead + f.header.dataBytes();
        const size_t room = kUserDataBytes - pos;
        if (total <= room) {
            keep(probe, f);
            pos += size_t(total);
            continue;
        }
        // The rest of the sector is the stream's: its data bytes here are not checked.
        probe.pending = true;
        probe.current = f;
        probe.skipLeft = lead > room ? lead - room : 0;
        probe.dataDone = lead < room ? room - lead : 0;
        return;
    }
}

// ---- streams ----------------------------------------------------------------------------------

// Reads the header at `at` and moves to the first group.
bool startSound(GroupedSound& sound, uint64_t at)
{
    uint8_t bytes[kHeaderBytes];
    Header h;
    if (!sound.bytes.seek(at) || !sound.bytes.read(bytes, sizeof bytes) || !parseHeader(bytes, h))
        return false;
    sound.dataStart = at + kHeaderBytes + h.offset;
    sound.groupBytes = uint32_t(h.channels * kBlockBytes);
    sound.groups = h.blocks;
    sound.unitBytes = kUnitBytes;
    sound.unitKind = kUnitKind;
    sound.sampleRate = h.rate;
    sound.groupSamples = kSamplesPerBlock;
    return sound.start();
}

// The header of a file, when it is accepted and the file holds the whole stream.
bool fileHeader(const char* name, Header& h)
{
    StoredBytes file;
    uint8_t bytes[kHeaderBytes];
    return file.openFile(name) && file.read(bytes, sizeof bytes) && parseHeader(bytes, h) &&
           file.size() >= h.streamBytes();
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

} // namespace

// ---- exports ----------------------------------------------------------------------------------

#include "sectorkit/stored_sound_exports.h"
